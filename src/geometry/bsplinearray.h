// Growable array of B-spline records stored by value; the array owns the records' arrays.
#pragma once

#include <cstdint>

#include "geometry/bspline.h"

struct BSplineArray {
    BSplineRec* items;  // malloc'd
    int32_t count;
    int32_t capacity;
};

// Capacity 10. 0, or -1 for memory.
int bsplineArrayCreate(BSplineArray* array);
// Copies the record in (its arrays now belong to the array), doubling the capacity when count + 1
// reaches it. 0, or -1 when the array cannot grow (the record stays the caller's).
int bsplineArrayAppend(BSplineArray* array, const BSplineRec* rec);
// Frees every record's arrays and the storage; null-safe.
void bsplineArrayFree(BSplineArray* array);
