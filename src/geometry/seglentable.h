// The segments of a point list sorted by length: the work queue of the shortest-first reduction.
#pragma once

#include <cstdint>

#include "geometry/plist.h"

struct SegLenEntry {
    double length;
    int32_t i0, i1;  // end points of the segment in the list
};

struct SegLenTable {
    int32_t capacity;
    int32_t count;
    SegLenEntry* entries;  // ascending by length
};

// Segments (k-1, k), first < k <= last, whose ends are both of kind 0 or 1; none for an empty list,
// a range outside it or no memory.
SegLenTable* segLenTableBuild(const Plist* list, int32_t first, int32_t last);
void segLenTableFree(SegLenTable* table);
int32_t segLenTableFind(const SegLenTable* table, double length, int32_t i0, int32_t i1);  // or -1
// Index before which an entry of the given length keeps the order (after entries of equal length).
int32_t segLenTableLowerBound(const SegLenTable* table, double length);
// Takes out the entry at from and files entry at the place that to (a bound of the table as it was)
// names once from is gone: 1, or -1 for indices outside the table.
int segLenTableMove(SegLenTable* table, int32_t from, int32_t to, const SegLenEntry* entry);
