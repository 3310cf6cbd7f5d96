// Parallel zig-zag passes over a plane's pocket: laid across the narrowest
// width of the outer boundary's convex hull (fewest passes), cut at the
// boundary and the islands, ordered into zig-zags, joined along the contours
// and handed to the region tree.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/elemaccess.h"

// One pass or a piece of it.
struct PassPiece {
    double sx, sy, ex, ey;
    int32_t line;                      // 1, 2, ... from the base line
    int32_t contourStart, contourEnd;  // MAIN index of the contour bounding each end, -1 a free end
    PocketIsect hitStart, hitEnd;      // elemA on the pass, elemB (1-based) on the contour
    int32_t done;
};

struct PassTable {
    int32_t capacity;
    int32_t count;
    int32_t lowestLine;   // 10000 when empty
    int32_t highestLine;  // -10000 when empty
    PassPiece* pieces;
};

// Lays, cuts, orders and attaches the passes over MAIN: 1, or -1 when MAIN[0]
// cannot be read or has no hull.
int pocketBuildMainTransitions(double toolRadius, double step);

// A monotonic stand-in for the direction angle of a - b, in [0, 360).
double pseudoAngle(const Vec2* a, const Vec2* b);
// Gift wrapping: the hull in counter-clockwise order from the lowest point; its count (0 for no points).
int32_t convexHull(const Vec2* points, int32_t n, Vec2* out);
// The base line (passes lie to the left of base[0] -> base[1]) along the hull
// edge of the smallest width, one unit longer than the hull at both ends, and
// that width: 1, or -1 without a hull of non-zero width.
int hullWidthDirection(const ContourElement* elements, int32_t count, Vec2 base[2], double* width);
// floor((width - step - radius) / step) + 2 passes, the k-th k steps left of the base line; null without
// memory.
PassTable* passesCreate(const Vec2 base[2], double width, double radius, double step);
// Cuts every piece at the contour and keeps what lies inside the boundary (island 0) or outside an island: 1.
int passesCut(PassTable* table, const ContourElement* elements, int32_t count, int32_t contour, int island);
int passesOrderAndLink(PassTable* table, double linkLimit);  // 1, -1 on a failed attach

// Table helpers.
PassTable* passTableCreate(int32_t passes);  // capacity max(passes, 1000); null without memory
void passTableFree(PassTable* table);
int passTableAppend(PassTable* table, const PassPiece* piece);                 // 1, or 0 without memory
int passTableInsert(PassTable* table, int32_t index, const PassPiece* piece);  // 1, or 0
PassTable* passTableCopy(const PassTable* table);
void passTableReverseLines(PassTable* table);  // line := highest - line + lowest
void passPieceSwapEnds(PassPiece* piece);
