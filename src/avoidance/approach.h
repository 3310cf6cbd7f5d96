// Geometry around the links: the approach loop on which the tool axis turns away from the part between
// cuts, the travel around the part axis (the z axis through the origin), the replacement of a range of
// a point list, and the projection of a direction onto a plane.
#pragma once

#include <cstdint>

#include "geometry/plist.h"
#include "geometry/vec.h"

struct AvoidContext;
struct CheckModel;

// 1 and d := the unit projection of d onto the plane; -1 (d unchanged) when it is shorter than 1e-5.
int projectDirOnPlane(const Vec3* planePoint, const Vec3* planeNormal, Vec3* d);

// A loop of radius R through p1, in the plane of the last move's direction (p0 to p1, bent towards p2
// when given) and the mean of the two axes: the first quarter keeps a0, the rest a1; a lift of 1e-5 or
// more raises the points between the quarter marks along the mean axis. Null when degenerate.
Plist* approachSearchPoints(const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* a0, const Vec3* a1,
                            double R, double lift, double angleStep);
// The loop, checked by placing a slightly thinner tool of the model (ctx->collCheck) and by the
// collision avoidance (ctx->obstacle); null when it is rejected.
Plist* approachMacroSearch(const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* a0, const Vec3* a1,
                           double R, double lift, const CheckModel* model, const AvoidContext* ctx);

// Points from a to b around the part axis, foot, radius and angle interpolated; axes turned with them.
int approachAlongSurface(Plist* out, const Vec3* partAxis, const Vec3* a, const Vec3* b, const Vec3* axisA,
                         const Vec3* axisB, double angleStep);
// out := p moved to distance r from the axis (through the origin) at the same height and angle, foot:
// its foot on the axis; 1 when p lies on the axis (it then goes along -x), else 0.
int projectPointOnAxis(const Vec3* axis, double r, const Vec3* p, Vec3* out, Vec3* foot);
double pointDistDiff3D(const Vec3* a, const Vec3* b, const Vec3* foot);  // |b - foot| - |a - foot|

// Points i..j of L replaced by those of S, their parameters mapped onto L's parameters at i and j.
// 1, or -1 when an insert fails or the range is not in L.
int plistReplaceRange(Plist* L, int32_t i, int32_t j, const Plist* S);
