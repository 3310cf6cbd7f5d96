// The pocket kernel's contour offset: one closed contour of lines and arcs
// offset to one side into closed rings, arcs kept as arcs, with retries on a
// rotated, cleaned or reduced copy when an attempt looks doubtful.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

enum : int32_t {
    kOffsetMaxRings = 2000,  // rings of one offset
};

// Offsets the closed contour (not changed) by distance to side (+1 left of the
// direction of travel, -1 right; a negative distance offsets to the other side).
// Rings go one after the other into outBuffer (room for kClistMaxElements);
// ringStart[i] is ring i's first element, ringCount[i] its count (ringCount may
// be null), *outEnd the position behind the last ring. The ring count (0 none),
// or -1 on a hard failure (3029 element cap, too many rings).
int32_t offsetContour(const ContourElement* elements, int32_t count, int side, double distance,
                      ContourElement* outBuffer, int32_t* outEnd, int32_t* ringStart, int32_t* ringCount);
// One attempt of offsetContour without retries; sets the offset state's flags.
int32_t offsetContourCore(const ContourElement* elements, int32_t count, int side, double distance,
                          ContourElement* outBuffer, int32_t* outEnd, int32_t* ringStart, int32_t* ringCount);

// 1 when every sample along every element lies within 1.5 x tol of another
// element (a contour thinner than the tool), else 0.
int contourIsThin(const ContourElement* elements, int32_t count, double tol);

// Switches the level loop sets around its offsets.
void offsetSetThinTest(int on);   // test thin inputs and refuse rings that turn them inside out
void offsetSetCloseSnap(int on);  // close a small end gap of a single ring by moving a line end
int offsetCloseSnap();            // the close-snap switch as set

void contourOffsetResetState();  // switches off, work buffers released
