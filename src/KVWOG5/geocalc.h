// 3D calculations for tool contacts. The offset engine works in horizontal planes: a tool position
// is a circle at a height, and these operations reduce contacts to such circles.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// Circle of a tool position: centre and radius; flag 1 marks a circle of curvature.
struct ToolCircle {
    double cx, cy, radius;
    int32_t flag;
};

enum : int { kGeoNoLine = -10 };

// Meets the line a*x + b*y + c = 0 with the circle: the root count (0 or 2, a tangent gives two
// equal points) with the points, or kGeoNoLine when a = b = 0.
int lineCircleIntersect2D(double a, double b, double c, const ToolCircle* circle, Vec2* p1, Vec2* p2);
// Counter-clockwise angle about centre from a to b (direction -1: clockwise) in angle; returns 0.
int arcAngleOf2D(const Vec2* a, const Vec2* centre, const Vec2* b, int32_t direction, double* angle);
double wogDist3D(const Vec3* p, const Vec3* q);
// Distance from the line through seg (x1, y1, z1, x2, y2, z2); from the nearer end when the segment
// is shorter than 1e-3.
double distPointLine3D(const Vec3* p, const double* seg);
