// Element-chain offset: offsets a chain of straight 2D elements to one side, joins outer corners
// with a chamfer or a mitre, cuts the loops of concave stretches out of the raw offset and, when
// a pass gives nothing usable, retries on a simplified copy with a slightly larger distance.
// Not re-entrant: the corner factor, the retry flag and the crossing table are process-wide.
#pragma once

#include <cstdint>

#include "contour/contourisect.h"
#include "geometry/vec.h"

enum : int32_t {
    kOffsetTableCapacity = kSelfIsectMax + 1,  // every self-crossing plus the pass's start record
    kOffsetAssemblyMax = 5000,                 // a loop-free walk beyond this gives nothing
};

// Mode 1: factor 1.02 (mitres every corner up to about 91 degrees); any other mode: 0.02
// (chamfers every corner sharper than about 11.5 degrees). Stays in force for later offsets.
void setContourCornerFactor(int mode);

// Offsets n elements by d to side +1 (left) or -1 (right) into out, which must hold 2n + 1
// elements; the input is not modified. Returns the element count (0 when nothing usable remains)
// or -1 when the work buffer cannot be allocated or the crossing search fails. reserved is unused.
int offsetContour2D(const Seg2D* elements, int32_t n, double d, Seg2D* out, int side, double reserved);
// One pass of offsetContour2D, without retries; sets the retry flag when the result is unusable.
int offsetContour2DPass(const Seg2D* elements, int32_t n, double d, Seg2D* out, int side);
// Raw offset into out (room for 2n elements), count written to *count. 1 clean, -1 an inner corner
// left a gap, -2 the closing elements of a closed chain overlap, -3 a reversal was met, 0 failure.
int offsetContour2DRaw(double d, const Seg2D* elements, int32_t n, Seg2D* out, int32_t* count, int side);
// Outer corner between a (arriving) and b (leaving), both replaced by their offsets: 1 chamfer
// (bridge joins them), 2 mitre (bridge has zero length), -1 failure.
int contour_corner_offset(Seg2D* a, Seg2D* b, double d, Seg2D* bridge, int side);

// True when the end of some element of out lies nearer than r to one of the n elements, measured
// as nearestSeg2D measures; the check a pass makes of its result.
bool offsetEndsNearer2D(const Seg2D* elements, int32_t n, const Seg2D* out, int32_t c, double r);
// Removes elements shorter than length (neighbours are not re-joined); the new count.
int32_t dropShortElements2D(Seg2D* elements, int32_t n, double length);
// Merges short elements between turning neighbours (only for 50 elements or more); *n is updated.
// 1 when the count fell, else 0.
int mergeElements2D(Seg2D* elements, int32_t* n, double tolerance);
// Removes elements whose ends coincide by the tolerant equality; the new count.
int32_t seglist_drop_zero2D(Seg2D* elements, int32_t n);

// The crossing table shared with the profile code, and its capacity.
IsectRecord* offsetContourTable(int32_t* capacity);
// 1 when the last pass found its result unusable.
int offsetContourRetryFlag();
// Test support: factor 0.02, retry flag clear.
void offsetContourResetState();
