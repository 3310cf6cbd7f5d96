// Tool-head avoidance by the B or C axis over the ranges of a path: range and collision-run walks.
#pragma once

#include <cstdint>

#include "avoidance/avoidtable.h"
#include "geometry/plist.h"

// Next range at or after from: start is the first point of kind neither 2 nor 10, end the last of
// the unbroken run of such points. 1, or 0 with start = end = -1.
int headAvoidNextRange(int32_t from, const Plist* path, int32_t* start, int32_t* end);

void headAvoidClearStates(AvoidTable* table);
// First colliding entry at or after from and the end of its run: 1, or 0 with start = end = -1.
int headAvoidNextHitRun(const AvoidTable* table, int32_t from, int32_t* start, int32_t* end);
// Number of colliding runs; points receives the number of colliding entries.
int32_t headAvoidCountHits(const AvoidTable* table, int32_t* points);
