// Bucket grid of record indices over a plan rectangle, and the self-intersection test of a segment
// list that runs over it.
#pragma once

#include <cstdint>

struct IntList;
struct PointList2D;
struct SegList2D;
struct Seg2D;

struct SegGrid {
    int32_t rows;                   // along y
    int32_t cols;                   // along x
    double xmin, ymin, xmax, ymax;  // union of the record boxes
    double cellHeight, cellWidth;   // at least 1e-6 each
    IntList*** cells;               // [row][col], record indices
};

// Writes the box {xmin, ymin, xmax, ymax} of the record at rec.
typedef int (*RecBoxFn)(double* box, const void* rec);

// Records lie stride bytes apart; each index goes into every cell its box, grown by margin, covers.
SegGrid* segGridBuild(const void* records, int32_t stride, int32_t n, double margin, RecBoxFn boxOf);
void segGridFree(SegGrid* grid);

// 1 when two segments of the list cross away from their shared ends, else 0. Crossings within
// endTolerance of an end of each segment do not count. Each crossing found is appended to
// crossings when given; without goOn the search stops at the first one.
int segListSelfIntersect(const SegList2D* list, PointList2D* crossings, int32_t goOn, double endTolerance);
// The answer segListSelfIntersect gives without a crossing list, found through a tree of boxes
// over runs of consecutive segments: fast when consecutive segments lie near one another, as along
// a traced path. goOn as there: without it the crossing found is recorded as an error.
int segChainSelfIntersect(const Seg2D* segs, int32_t n, double endTolerance, int32_t goOn);
