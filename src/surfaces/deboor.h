// De Boor evaluation of B-spline surfaces: points, first derivatives with the unit normal, and the
// point of a trimmed surface nearest to a given point.
#pragma once

#include <cstdint>

#include "surfaces/surflist.h"

enum : int32_t {
    kDeBoorMaxOrder = 49,  // the triangle's work arrays hold 50 values
};

// Points and derivatives. Parameters outside the knot range are pulled 1e-8 inside it (periodic
// directions wrap with period knots[num] instead). 1, or -1 (outputs untouched) for an order above
// 49, a surface that cannot be evaluated (orders below 2, fewer control points than the order,
// missing arrays, a period not above 0) or a parameter that is not finite.
int evalNurbsSurfPoint(const BsplSurface* surface, double u, double v, Vec3* point);
// evalNurbsSurfPoint at (us[k], v) for k < n, each the very point it gives; the factors in v and the
// rows of a u span are taken once for the points that share them. 1, or -1 when a point cannot be
// evaluated (the points after it untouched).
int evalNurbsSurfPointsAtV(const BsplSurface* surface, const double* us, int32_t n, double v, Vec3* points);
// Each output may be null. N = Su x Sv / |Su x Sv|, the zero vector when |Su x Sv| < 1e-6. The offset
// of a trimmed surface is not applied here.
int evalNurbsSurfDeriv(const BsplSurface* surface, double u, double v, Vec3* Su, Vec3* Sv, Vec3* N);

// A closest-point result: u, v and the surface point x, y, z.
struct SurfFoot {
    double u, v;
    Vec3 point;
};

// Nearest surface point to target, by tangent-plane steps from start (null: the best grid sample).
// Always writes the last iterate (parameters inside the knot range) and its distance when it
// returns 1, also when the steps did not meet their stop test within 1000 steps. 0 for a null
// surface or target; -1 when the abort hook asks to stop; the negative result of an evaluation.
int projectPointNurbsSurf(const TrimSurface* surface, const SurfFoot* start, const Vec3* target,
                          SurfFoot* result, double* distance);
// The best of an evenly spaced (uNum + uOrder) x (vNum + vOrder) grid over the box of the first trim
// loop shrunk by 0.01 per side (an untrimmed surface: its knot range), the first in u-major order on
// ties. 1, or the negative result of an evaluation.
int surfClosestGridPoint(const TrimSurface* surface, const Vec3* target, SurfFoot* result);
