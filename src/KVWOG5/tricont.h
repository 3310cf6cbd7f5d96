// Tool-contact workers of the offset engine's triangle mode. The engine moves a tool circle (the
// circle of candidate tool centres) through the plane z; each worker answers where on that circle
// the tool touches one face, edge or vertex. Kind 1 is a ball of radius r, kind 3 a torus whose
// centre circle has radius rc = R - r and whose tube has radius r.
// Triangles are nine doubles, edges six (x1, y1, z1, x2, y2, z2); points come out at height z.
#pragma once

#include <cstdint>

#include "KVWOG5/geocalc.h"
#include "KVWOG5/offs3d.h"

// The whole tool circle lies within the ball's reach of the geometry: the tool already gouges.
enum : int { kTricontGouge = -60 };

// Ball against the triangle's face: up to two points, 0, kTricontGouge or kGeoDegenerateTri.
int tricontBallFace(const double* tri, double r, const ToolCircle* circle, double z, Vec3* p1, Vec3* p2);
int tricontTorusFace(const double* tri, double rc, double r, const ToolCircle* circle, double z, Vec3* p1,
                     Vec3* p2);
// Ball against a vertex: up to two points, 0 or kTricontGouge.
int tricontContactA(const Vec3* vertex, double r, const ToolCircle* circle, double z, Vec3* p1, Vec3* p2);
int tricontTorusVertex(const Vec3* vertex, double rc, double r, const ToolCircle* circle, double z, Vec3* p1,
                       Vec3* p2);
// Ball against an edge's line: up to four points in out, 0 or kTricontGouge.
int tricontContactB(const double* edge, double r, const ToolCircle* circle, double z, Vec3* out);
// Angle in [a0, a1] of the tool circle where the ball's distance from the edge's line crosses r:
// 1, or 0 when the two ends lie on the same side.
int tricontSectorRefine(const double* edge, double r, const ToolCircle* circle, double z, double a0,
                        double a1, double* angle);
// Torus against an edge: up to two points, 0 or kGeoNoNearestPoint.
int tricontTorusEdge(const double* edge, double rc, double r, const ToolCircle* circle, double z, Vec3* p1,
                     Vec3* p2);
// Circle of the given radius about the segment's point at height z met with the tool circle: up to
// two points; 0 when z is outside the segment's heights or the segment is level.
int tricontSegZCircle(const double* seg, double radius, const ToolCircle* circle, double z, Vec3* p1,
                      Vec3* p2);

// Fills methods with the workers of tool kind 1 or 3 and returns 1; any other kind gets none and 0.
// The radii record handed to the slots is {r} for kind 1 and {R, r} for kind 3.
int tricontInstallMethods(int32_t kind, OffsetToolMethods* methods);
