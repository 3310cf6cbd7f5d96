// Crossings of a straight 3D segment with the surface of revolution that a meridional profile of
// (r, z) points sweeps about the z axis.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct PointList3D;

// Hits are appended to the caller's list without duplicates (points within 1e-6 count once).
// segment: x1, y1, z1, x2, y2, z2 (t = 0 at the first point, 1 at the second); profile: n points
// with x = r, y = z. Returns the list's count; a null profile, a null segment or fewer than two
// points leave it unchanged. Negative (the list emptied, the library error state set) when a hit
// cannot be stored or the list is missing.
int slwrz(const Vec2* profile, int32_t n, const double* segment, PointList3D* hits);
// The same hits for many segments against one profile: the profile's edge blocks (slwrzBlockSize(n)
// doubles, filled once by slwrzBlocks) let whole blocks that cannot be hit be passed over.
int32_t slwrzBlockSize(int32_t n);
void slwrzBlocks(const Vec2* profile, int32_t n, double* blocks);
int slwrzBlocked(const Vec2* profile, int32_t n, const double* blocks, const double* segment,
                 PointList3D* hits);

// One profile edge (ra, za, rb, zb) each: 1, 0 for no crossing (plane only), -1 when a hit cannot
// be stored. A segment lying in the plane of a plane ring crosses it where it enters or leaves the
// ring (and touches it where it grazes an edge circle).
int slwrzPlane(const double* segment, const double* edge, PointList3D* hits);
int slwrzCylinder(const double* segment, const double* edge, PointList3D* hits);
int slwrzCone(const double* segment, const double* edge, PointList3D* hits);
// Stores the segment's point at t when 0 <= t <= 1 and its z lies in the edge's z range: 1 stored
// or not wanted, -1 when the store fails.
int slwrzCheckHit(const double* segment, const double* edge, double t, PointList3D* hits);
// 1 (stored, or within 1e-6 of a hit already in the list), -1 when the append fails.
int slwrzAddHit(const Vec3* point, PointList3D* hits);
