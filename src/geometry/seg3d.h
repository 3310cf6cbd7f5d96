// Nearest points between 3D points, segments and polylines, and the removal of path spikes.
#pragma once

#include <cstdint>

#include "geometry/plist.h"

// Distance from q to the segment a-b; outNear (may be null) gets the nearest point.
double distPointSeg3D(const Vec3* a, const Vec3* b, const Vec3* q, Vec3* outNear);
// Plan distance; outNear is the point of the 3D segment whose plan position is nearest.
double distPointSeg3DXY(const Vec3* a, const Vec3* b, const Vec3* q, Vec3* outNear);
// Smallest distance to the polyline; outIndex is the end index of the best segment. 0.0 for n < 2.
double nearestOnPolyline3D(const Vec3* points, int32_t n, const Vec3* q, Vec3* outNear, int32_t* outIndex);
// 1 when the common perpendicular's feet lie within both segments, else 0.
int segSegNearest3D(const Vec3* a0, const Vec3* a1, const Vec3* b0, const Vec3* b1, Vec3* outA, Vec3* outB);
double segSegDist3D(const Vec3* a0, const Vec3* a1, const Vec3* b0, const Vec3* b1, Vec3* outA, Vec3* outB);

// One pass removing the points where the path turns back by more than 120 degrees: the new count.
int32_t polyline3DThin(Plist* list);
int32_t polyline3DThinAll(Plist* list);
