// Distances between points, elements and contours of the pocket kernel, with
// the tolerant minimum that breaks near-ties in favour of the earlier candidate.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

constexpr double kPocketTieTol = 0.049;  // near-ties along rings

double pointDist2D(const Vec2* a, const Vec2* b);
double elemDistance(const Vec2* p, const ContourElement* e, Vec2* nearest);
double contourDistance(const Vec2* p, const ContourElement* chain, int32_t count);  // -1 when empty
// As contourDistance, but returns as soon as a distance at or below stopAt is found (a value at or below
// stopAt then, not necessarily the minimum).
double contourDistanceUntil(const Vec2* p, const ContourElement* chain, int32_t count, double stopAt);
// 1 when contourDistance would come out below limit, else 0, measuring only the elements that could.
int contourDistanceBelow(const Vec2* p, const ContourElement* chain, int32_t count, double limit);
// The first nearest element's index and point; -1 when the chain is empty.
double contourNearestElement(const Vec2* p, const ContourElement* chain, int32_t count, int32_t* index,
                             Vec2* nearest);
// The distance of two elements and the nearest point on each.
double elemElemDistance(const ContourElement* a, const ContourElement* b, Vec2* onA, Vec2* onB);
double lineLineDistance(const ContourElement* a, const ContourElement* b, Vec2* onA, Vec2* onB);
double lineArcDistance(const ContourElement* line, const ContourElement* arc, Vec2* onLine, Vec2* onArc);
double arcArcDistance(const ContourElement* a, const ContourElement* b, Vec2* onA, Vec2* onB);
// 0 when P and Q lie at the same place along the element, +1 when Q does not lie
// before P by more than the tie tolerance, else -1.
int arcOrder(const ContourElement* e, const Vec2* p, const Vec2* q);
int32_t minWithTolerance(const double* values, int32_t n);  // -1 for no values
