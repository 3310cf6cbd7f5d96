// Basis-function evaluation of B-spline surfaces: points, first and second derivatives (rational
// surfaces by the quotient rule), offset points, fundamental forms and principal curvatures.
//
// Parameters outside the knot range are pulled 1e-8 inside it; periodic flags are not read. Every
// function returns a negative value on failure: an order outside 2..30, a surface without arrays,
// a parameter that is not finite, or a basis evaluation that fails.
#pragma once

#include <cstdint>

#include "surfaces/surflist.h"

// Point and derivatives: 1, or negative. Derivatives of a rational surface: -1 (with w taken as 1)
// when the weight sum vanishes.
int nurbsSurfEval(const BsplSurface* s, double u, double v, Vec3* point);
int nurbsSurfDu(const BsplSurface* s, double u, double v, Vec3* out);
int nurbsSurfDv(const BsplSurface* s, double u, double v, Vec3* out);
int nurbsSurfDuu(const BsplSurface* s, double u, double v, Vec3* out);
int nurbsSurfDuv(const BsplSurface* s, double u, double v, Vec3* out);
int nurbsSurfDvv(const BsplSurface* s, double u, double v, Vec3* out);

// Weight sum w and its first derivatives of a rational surface: 1; -1 with 0 for a non-rational one.
int nurbsSurfWeight(const BsplSurface* s, double u, double v, double* w);
int nurbsSurfWeightDu(const BsplSurface* s, double u, double v, double* w);
int nurbsSurfWeightDv(const BsplSurface* s, double u, double v, double* w);
// Second derivative of the homogeneous point divided by the same derivative of the weight sum (the
// plain derivative where that is below 1e-10), and that weight derivative; a non-rational surface
// gives its plain second derivative and 0.
int nurbsSurfHomDuu(const BsplSurface* s, double u, double v, Vec3* out, double* w);
int nurbsSurfHomDuv(const BsplSurface* s, double u, double v, Vec3* out, double* w);
int nurbsSurfHomDvv(const BsplSurface* s, double u, double v, Vec3* out, double* w);

// S + d (Su x Sv) / |Su x Sv|, with the length of Su x Sv and the unnormalised normal (outputs but the
// point may be null): 0; -1 with the point S when Su x Sv vanishes; negative when evaluation fails.
int nurbsSurfOffsetPoint(const BsplSurface* s, double u, double v, double d, Vec3* point, double* length,
                         Vec3* normal);
// The point a trimmed surface stands for: the offset point (0) when it has an offset, else the plain
// point (1).
int nurbsSurfPoint(const TrimSurface* rec, double u, double v, Vec3* point);
// The knot spans nurbsSurfPoint's plain point takes at (u, v) (the parameters pulled into the knot
// range as it pulls them; both grow with their parameter): 1, or 0 for an offset surface, one that
// cannot be evaluated or a parameter that is not a number.
int nurbsSurfPointSpans(const TrimSurface* rec, double u, double v, int32_t* su, int32_t* sv);

// The plain point in two steps, for callers that meet the same parameters many times: one parameter's
// knot span and basis row (dir 0: u, 1: v; pulled into the knot range as nurbsSurfEval pulls it; N gets
// the direction's order of values): 1, or -1 where nurbsSurfEval fails for every point with this
// parameter. Then the point from a row of each direction, the very sums and quotient of nurbsSurfEval: 1.
int nurbsSurfBasisRow(const BsplSurface* s, int32_t dir, double t, int32_t* span, double* N);
int nurbsSurfEvalRows(const BsplSurface* s, int32_t su, const double* Nu, int32_t sv, const double* Nv,
                      Vec3* point);

// First form of the derivatives scaled by sc (E = sc^2 Su.Su ...), with the unscaled Su and Sv and the
// unit normal; every output may be null. 1; -1 with a zero normal when |Su x Sv| (scaled) is at most
// 1e-8 (a zero normal without failure up to 1e-6); or a derivative's failure.
int nurbsSurfFirstForm(const BsplSurface* s, double u, double v, double* E, double* F, double* G, Vec3* Su,
                       Vec3* Sv, Vec3* N, double sc);
// Second form for the unit normal N: L = sc^2 Suu.N, M, Nn, and L Nn - M^2 (outputs may be null).
int nurbsSurfSecondForm(const BsplSurface* s, const Vec3* N, double u, double v, double* L, double* M,
                        double* Nn, double* LNM, double sc);
// Principal curvatures (both 0 first); the result of curvatureFromDerivs, or a form's failure.
int nurbsSurfCurvature(const BsplSurface* s, double u, double v, double* k1, double* k2);
