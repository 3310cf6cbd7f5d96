// 2D predicates of the offset-geometry library: line equations, segment and line intersections,
// point-on-segment tests, projections, angles, roots of linear and quadratic equations and circle
// intersections. The tolerances are part of the behaviour: offset results depend on them.
#pragma once

#include <cstdint>

#include "KVWOG5/geocalc.h"
#include "geometry/vec.h"

enum : int { kPredDegenerate = -3 };

// a*x + b*y + c = 0 with (a, b) the unit normal to the right of the direction; 0 and all zero for a
// segment shorter than 1e-12.
int segLineEquation2D(const Seg2D* seg, double* a, double* b, double* c);
int sideOfLine2D(const Vec2* p, double a, double b, double c);
// Positive when a, b, c run counter-clockwise.
double triArea2D(const Vec2* a, const Vec2* b, const Vec2* c);
double wogDist2D(const Vec2* a, const Vec2* b);
int pointsNear2D(const Vec2* a, const Vec2* b, double tolerance);
int ccw2D(const Vec2* p0, const Vec2* p1, const Vec2* p2);
// 1 when the two closed segments share a point, touching and collinear overlap included.
int segsIntersect2D(const Seg2D* s, const Seg2D* t);
// Crossing of the lines through s and t; 0 (out untouched) for parallel lines or a segment shorter
// than 1e-12.
int segLinesIntersect2D(const Seg2D* s, const Seg2D* t, Vec2* out);
int lineLineIntersectTol2D(const Seg2D* s, const Seg2D* t, double tolerance, Vec2* out);
// Within 1e-3 of the segment.
int pointOnSeg2D(const Vec2* p, const Seg2D* seg);
// Foot of the perpendicular; 1 when it lies within the segment.
int footOnSeg2D(const Vec2* p, const Seg2D* seg, Vec2* out);
// 1 when the projection of p falls within the segment, 0 outside, kPredDegenerate for a tiny one.
int segProjectInside2D(const Seg2D* seg, const Vec2* p);
// Direction pseudo-angle of (dx, dy) in [0, 8) (8 units per turn) minus reference, wrapped to [0, 8).
double pseudoAngleDiff2D(double dx, double dy, double reference, int32_t direction);
// Angle swept about centre from a to b, counter-clockwise (direction -1: clockwise); 0 with angle 0
// when a or b lies on the centre.
int arcPointsCenter2D(const Vec2* a, const Vec2* centre, const Vec2* b, int32_t direction, double* angle);

// Root of a*x + b = 0: 1, or 0 (no root) / -1 (every x) with x = 0 when a = 0.
int wogSolveLinear(double a, double b, double* x);
// Real roots of a*x^2 + b*x + c = 0: 2 (also for a double root), 0 (both 0), or the linear result.
int wogSolveQuadratic(double a, double b, double c, double* x1, double* x2);
// Number of intersection points of two circles (0 also for concentric ones).
int circleCircleIntersect2D(const ToolCircle* c1, const ToolCircle* c2, Vec2* p1, Vec2* p2);
// Points where the line through seg meets the circle (not clipped to the segment): 0 or 2.
int segCircleIntersect2D(const Seg2D* seg, const ToolCircle* circle, Vec2* p1, Vec2* p2);
