// Re-interpolation of the tool axes (per-point vectors) of a point list between two points.
#pragma once

#include <cstdint>

#include "geometry/plist.h"

// Switch for the polar stepping of small turns (1 at start).
void axesInterpSetPolar(int value);
// Vectors strictly between i0 and i1 turned from vectors[i0] towards vectors[i1] by chord-length
// fraction of total: 1, or -1 for a list without vectors or indices outside it.
int axesInterpRange(Plist* list, int32_t i0, int32_t i1, double total);
// The same, always stepped in polar angles: 0 when total is below 1e-5 in size.
int axesInterpRangePolar(Plist* list, int32_t i0, int32_t i1, double total);
void axesInterpResetState();
