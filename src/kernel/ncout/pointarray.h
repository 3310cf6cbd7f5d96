// Growable arrays of 3D points: the literal points of an output stretch.
#pragma once

#include <cstdint>

struct PointArray {
    int32_t capacity;
    int32_t count;
    double* data;  // capacity entries of three doubles (x, y, z)
};

enum : int32_t { kPointArrayGrowth = 1000 };

PointArray* pointArrayCreate(int32_t n);  // capacity n (at least 1); null when memory is short
// Copies the point to the end, growing by kPointArrayGrowth entries when full.
// 1, or -1 for a missing array, data or point, or a failed growth (the array stays as it was).
int pointArrayAppend(PointArray* array, const double point[3]);
void pointArrayFree(PointArray* array);  // null-safe
