// Clean-up of pocket contours (degenerate elements, zig-zags, spikes, arcs
// that no longer fit their ends) and the measures of elements and chains.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

constexpr double kPocketHugeRadius = 9999.9;  // arcs beyond this are as good as lines
constexpr double kPocketFlatRadius = 0.005;   // cleaning turns arcs below this into their chords

// Each returns the new count of the chain, edited in place.
int32_t contourClean(ContourElement* chain, int32_t count);
int32_t chainRemoveZigzags(ContourElement* chain, int32_t count, double maxLength);
int32_t chainRemoveSpikes(ContourElement* chain, int32_t count, double maxLength);
// Only for chains of 40 elements or more: 1 when the count shrank (stored), else 0.
int contourReduceShort(ContourElement* chain, int32_t* count, double maxLength);
int arcsToLines(ContourElement* chain, int32_t count);  // 1 when an arc became a line
int arcFixRadius(ContourElement* arc);                  // 0

double arcSweepAngle(const ContourElement* arc);  // signed, in the arc's direction
double elemLength(const ContourElement* e);
double contourLength(const ContourElement* chain, int32_t count);
double elemLengthTo(const ContourElement* e, const Vec2* p, double* rest);
void elemBoundingBox(const ContourElement* e, Vec2* min, Vec2* max);
void chainBoundingBox(const ContourElement* chain, int32_t count, Vec2* min, Vec2* max);
