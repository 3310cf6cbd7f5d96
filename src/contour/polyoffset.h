// Closed-polygon offset: places offset points per vertex, splits the raw offset polygon at its
// self-crossings into a graph of pieces and walks that graph into simple loops; loops of positive
// area survive.
#pragma once

#include <cstdint>

#include "contour/looplist.h"
#include "geometry/vec.h"

struct CrossingHalf {
    int32_t index;  // polygon point where the piece leaving the crossing along this edge ends
    Vec2 dir;       // unit vector from the crossing towards that point
    double dist;    // from the edge's start point to the crossing
};

struct CrossingRecord {
    double x, y;
    CrossingHalf first, second;
};

struct CrossingList {
    int32_t count;
    int32_t capacity;
    CrossingRecord* data;
};

struct PieceRecord {
    double x, y;    // node point
    double dx, dy;  // unit direction of the piece that starts here (0, 0 at an open end)
    int32_t next;   // -1, or the next record of the circular list of records at this point
    int32_t used;
};

struct PieceGraph {
    int32_t count;
    int32_t capacity;  // 3n for an n-point polygon
    int32_t closed;    // the last record repeats the first
    PieceRecord* data;
};

// Capacity n (1 when n < 1); null on a failed allocation.
CrossingList* crossingListCreate(int32_t n);
void crossingListFree(CrossingList* list);

// Offsets the closed polygon (first point repeated last) by d: side +1 to the left of travel,
// -1 to the right. The first loop goes to out (room for outCapacity points, first point repeated
// last), every further loop to loops (may be null). Returns the first loop's point count, 0 when
// nothing survives, -1 when out is full or an allocation fails, -2 when the polygon is too small
// for d or degenerate. points is left as it was on every exit.
int poly_offset2D(Vec2* points, int32_t n, Vec2* out, int32_t outCapacity, double d, int side,
                  LoopList* loops);
// Raw offset points to the left of travel: the count, 0 for fewer than 2 points, -1 when out is
// full, -2 for a degenerate edge or corner.
int poly_offset_raw(const Vec2* points, int32_t n, Vec2* out, int32_t outCapacity, double d);
// Untangles the raw polygon in place (room for capacity points): the first loop's count, 0, or -1.
int poly_offset_resolve(Vec2* points, int32_t n, int32_t capacity, LoopList* loops, int side);
// Self-crossings of the polygon, sorted by the first half's index and distance; -1 when full.
int polyFindCrossings(CrossingList* list, const Vec2* points, int32_t n);

// Null on a failed allocation or an edge shorter than 1e-5.
PieceGraph* pieceGraphCreate(const Vec2* points, int32_t n);
void pieceGraphFree(PieceGraph* graph);
// Inserts a node for half (0 first, 1 second) of crossing k of list and renumbers the halves of
// every crossing: 1; 0 when a node already starts there; -1 when the graph is full.
int pieceGraphInsert(PieceGraph* graph, CrossingList* list, int32_t k, int half);

void reversePoints2D(Vec2* points, int32_t n);
