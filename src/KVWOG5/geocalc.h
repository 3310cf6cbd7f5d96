// 3D calculations for tool contacts. The offset engine works in horizontal planes: a tool position
// is a circle at a height, and these operations reduce contacts to such circles.
// Segments are six doubles (x1, y1, z1, x2, y2, z2), triangles nine (three vertices).
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// Circle of a tool position: centre and radius; flag 1 marks a circle of curvature.
struct ToolCircle {
    double cx, cy, radius;
    int32_t flag;
};

// Ellipse in the plane: semi-axis a along its own x axis, turned by angle (radians, ccw).
struct Ellipse2D {
    double cx, cy, a, b, angle;
};

enum : int {
    kGeoNoLine = -10,          // a line equation with a = b = 0
    kGeoDegenerateTri = -11,   // a triangle without a plane
    kGeoNoNearestPoint = -12,  // the point sits on the ellipse's centre
};

// Meets the line a*x + b*y + c = 0 with the circle: the root count (0 or 2, a tangent gives two
// equal points) with the points, or kGeoNoLine when a = b = 0.
int lineCircleIntersect2D(double a, double b, double c, const ToolCircle* circle, Vec2* p1, Vec2* p2);
// Counter-clockwise angle about centre from a to b (direction -1: clockwise) in angle; returns 0.
int arcAngleOf2D(const Vec2* a, const Vec2* centre, const Vec2* b, int32_t direction, double* angle);
double wogDist3D(const Vec3* p, const Vec3* q);
// Distance from the line through seg; from the nearer end when the segment is shorter than 1e-3.
double distPointLine3D(const Vec3* p, const double* seg);

// Plane a*x + b*y + c*z + d = 0 with the unit normal (p1 - p0) x (p2 - p0): 1, or 0 with the
// unnormalised normal when it is shorter than 1e-12.
int trianglePlane3D(const double* tri, double* a, double* b, double* c, double* d);
// -1, 0 or 1 by the sign of a*x + b*y + c*z + d.
int sideOfPlane3D(const Vec3* p, double a, double b, double c, double d);
// Foot of the perpendicular on the segment's line (always written): 1 when it lies within the
// segment. A segment shorter than 1e-6 gives its end nearer to p (the second on a tie) and 1.
int footOnSeg3D(const Vec3* p, const double* seg, Vec3* out);
// Projection of p onto the triangle's plane in out: 1 when it lies inside or on an edge.
int pointInTriangle3D(const Vec3* p, const double* tri, Vec3* out);
// Section of the cylinder of radius r around seg's line by the plane z = h: 3 an ellipse (rising
// axis), 2 a strip between line1 and line2, 1 the axis' plan line1 (the plane just grazes), 0 none.
int cylinderSliceZ(const double* seg, double r, double h, Seg2D* line1, Seg2D* line2, Ellipse2D* ellipse);
// Contact of a toroidal tool (centre circle radius R at p, vertical axis, tube radius r) with the
// triangle's face: pointInTriangle3D of the touching point, 0 when p lies on the plane,
// kGeoDegenerateTri.
int torusFaceContact(const Vec3* p, double R, double r, const double* tri, Vec3* out);
// Nearest point of the ellipse to p: 1, or 0 when p sits on the centre or the ellipse is flat.
int ellipseNearestPoint(const Vec2* p, const Ellipse2D* ellipse, Vec2* out);
// Circle of curvature at the ellipse's point nearest to p, its radius enlarged by offset, flag 1:
// 1, or kGeoNoNearestPoint with only the radius (= offset) written.
int ellipseCurvatureCircle(const Ellipse2D* ellipse, double offset, const Vec2* p, ToolCircle* circle);
// Contact point of a toroidal tool at p with the segment: 1 with out, 0 when there is none.
int geoCurvedToolContact(const Vec3* p, double R, double r, const double* seg, Vec3* out);
