// Boundary offset with fallbacks: a closed boundary already oriented to the requested side goes
// through the closed-polygon offset, anything else through the element-chain offset; a failed
// offset is split into two half-distance offsets (down to 1/32 of the distance), and a result that
// changed its closure or lost too many elements is recomputed once with the distance less 0.01.
// Not re-entrant: the call counter and the element-chain offset's state are process-wide.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// Offsets n elements by d to side +1/-1 into out (room for outCapacity elements; as a rule 2n + 1
// suffice). Returns the result count, or -1 on failure, for fewer than 2 elements or when the
// result does not fit; out is then untouched. The input is not modified.
int offsetBoundary(const Seg2D* elements, int32_t n, double d, Seg2D* out, int side, int32_t outCapacity);
// Closed-polygon offset of a boundary into out (room for outCapacity elements): the element count,
// 0 or -1 from the polygon offset, or -2 when it splits into loops of comparable length.
int offsetPolygonLoops(int32_t n, const Seg2D* elements, double d, Seg2D* out, int side, int32_t outCapacity);
// Writes the boundary as a point file ("**BND side d", n + 1 points, "**END"): 1, or 0 when the
// file cannot be opened.
int writeBndFile(const char* name, const Seg2D* elements, int32_t n, double d, int side);

// Test support: the call counter back to its load-time value 1.
void offsetBoundaryResetState();
