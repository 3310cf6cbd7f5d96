// Connecting moves between two path points: a smooth move of arcs and a line
// that stays clear of the input contours, narrowed until it fits and a
// straight line as the last resort.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

// A search for a trochoidal link (width limit, steps) that a later family may
// install: the element count written into out, or 0 and nothing written.
typedef int32_t (*LinkTrochoidSearch)(const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2,
                                      double widthLimit, int32_t steps, ContourElement* out);
void linkSetTrochoidSearch(LinkTrochoidSearch search);

// The move from p1 (unit tangent t1) to p2 (t2) into out (room for 3, or for
// what the trochoidal search writes): the element count (1 a straight line), or
// -1 when a gouge test had no work buffer (3020).
int32_t linkMoveBuild(const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, double width,
                      ContourElement* out);
// Arcs of the radius (or less) tangent to t1 at p1 and to t2 at p2: 1 a line,
// 2 two arcs, 3 arc, line, arc; -1 when no such move exists.
int32_t linkBuildArcs(const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, double radius,
                      ContourElement* out);
// 1 when the tool on the arc's circle would come into an INPUT contour or the
// arc bulges back behind p1; 0 when clear; -1 without a work buffer (3020).
int linkArcHitsInput(const ContourElement* arc, const Vec2* p1, const Vec2* p2);
// 1 when the line crosses an INPUT contour; 0 when not; -1 without a work buffer (3020).
int linkLineHitsInput(const ContourElement* line);
// The unit tangent of the chain at the point on its 1-based element: arriving
// there (entering non-zero) or leaving it; 1, or 0 when it cannot be computed.
int pathTangentAt(const ContourElement* chain, int32_t count, int32_t element, const Vec2* point,
                  int entering, Vec2* tangent);
// A full-circle arc through the point about point + radius x normal.
ContourElement circleThroughPoint(const Vec2* point, const Vec2* normal, double radius, int32_t direction);
// The unit direction from the point to where a line leaves it tangent to the
// circle, running on in the circle's direction: 1, or -1 at the centre or inside.
int tangentFromPoint(const Vec2* point, const ContourElement* circle, Vec2* direction);
int quadraticRoots(double a, double b, double c, double roots[2]);  // 0, 1 or 2 real roots

void linkMoveResetState();  // no trochoidal search
