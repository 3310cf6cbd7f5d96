// Crossings between pocket contours: the sorted table of all intersection
// points of two chains, circle and segment tests against a chain, the inside
// test of one chain in another and the splicing of a chain between crossings.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/elemaccess.h"

enum : int32_t {
    kIsectTableSize = 5000,  // records of the offset's crossing table
};

// All crossings of chain a with chain b into records (at most capacity), sorted
// along a. Shared pieces give no record; a touch at element ends counts only
// when the contours really cross there. The count, or -1 without memory or
// when the table is full.
int32_t intersectContours(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB,
                          PocketIsect* records, int32_t capacity);
// All crossings of a chain with itself into records (kIsectTableSize), sorted
// along the chain; the joints of neighbouring elements, the closing one of a
// closed chain included, are no crossings. The count, or -1 when 4999 or more.
int32_t contourReduce(const ContourElement* chain, int32_t count, PocketIsect* records, int mode);
// 1 when the circle of the arc's centre and radius comes into the chain (the
// chain passes closer than the radius to the centre), 0 when not, -1 for an
// element of unknown type.
int elemContourClassify(const ContourElement* arcData, const ContourElement* chain, int32_t count);
// 1 when the line (x1, y1, x2, y2) meets the chain other than at its own ends, or overlaps it.
int segmentCrossesChain(const double* line, const ContourElement* chain, int32_t count);
// The winding answer of a probe point of a against b (non-zero: a lies in b); 0 without a probe.
int contourContainsChain(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB);
int pointOnElem(const Vec2* p, const ContourElement* e);
// Another record at record i's point sharing its first (which 1) or second element; -1.
int32_t isectFindPartner(const PocketIsect* records, int32_t count, int32_t i, int which);
// The next record in state 1 ahead of record current on the branch (1: its first
// element, 2: its second): 1, -1 when found only by wrapping round a closed chain, 0 none.
int isectNextState1(const ContourElement* chain, int32_t count, int branch, const PocketIsect* records,
                    int32_t n, int32_t current, int32_t* index);
// Copies the chain from record current's point to the next state-1 record's point
// into out (room for count + 2 elements); the next record's index, or -1.
int32_t chainCopyBetween(const ContourElement* chain, int32_t count, int branch, const PocketIsect* records,
                         int32_t n, int32_t current, ContourElement* out, int32_t* outCount);
// The pairs (i, j) of boxes i of a and j of b that meet when grown by the
// crossing tolerance, as i << 32 | j in increasing order; a box with a NaN bound
// meets none.
void isectBoxPairs(const Vec2* loA, const Vec2* hiA, int32_t countA, const Vec2* loB, const Vec2* hiB,
                   int32_t countB, std::vector<uint64_t>* pairs);
// Joins a's end to b's start when their tangents agree and one is a line: 1, else -1.
int elemJoinCollinear(ContourElement* a, ContourElement* b);

// The points where two elements meet within their extents (at most 2), or -1
// when they overlap along a piece; lines against arcs and arcs against arcs
// are solved exactly, so that a graze still gives its two points.
int elemIntersect(const ContourElement* a, const ContourElement* b, Vec2 p[2]);
// Where p lies along e, 0 at the start and 1 at the end (arcs by angle swept).
double elemFraction(const ContourElement* e, const Vec2* p);
// The piece of e from p to q (points on e, in its direction).
void elemTrim(ContourElement* e, const Vec2* p, const Vec2* q);
