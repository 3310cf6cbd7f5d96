// Exact and least-squares line, parabola and cubic fits of y(x) with their tolerance tests, and
// shape measures of 2D polylines. Plain functions over caller-owned arrays; those that allocate
// hand back a malloc'd array that the caller frees.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// A point with its allowed vertical deviation w.
struct TolPoint {
    double x, y, w;
};

// Circle (or straight point when r = 0) of the radius list of a polyline.
struct Circle2D {
    double cx, cy, r;
};

// Distance of two points; exactly 0.0 below 1e-6 (squared distance below 1e-12).
double dist2DEps(const Vec2* a, const Vec2* b);

// Keeps point 0 and each point farther than tol from the last kept one. *kept (the kept points)
// and *steps (steps[0] = 0, then the distance to the previous kept point) are malloc'd with
// *count entries; keptIndex (n entries, may be null) receives their positions in pts. The number
// of dropped points, or -1 (nothing allocated) for bad input or memory.
int32_t thinPoints2D(const Vec2* pts, int32_t n, double tol, Vec2** kept, double** steps, int32_t* count,
                     int32_t* keptIndex);

// Tolerance points into (x, y) points and the deviations.
int splitPoints3(const TolPoint* pts, int32_t n, Vec2* pts2D, double* w);

// y = m x + c through two points; -1 when their x differ by less than 1e-6.
int lineThrough2(const Vec2* p0, const Vec2* p1, double* m, double* c);

// [a b; c d] (u, v) = (e, f) by Cramer's rule; -1 when |ad - bc| < 1e-6.
int fitSolve2x2(double a, double b, double c, double d, double e, double f, double* u, double* v);

// rows[i] (3 coefficients) . out = rhs[i]; -1 when the reduced 2x2 system is singular or no row
// determines the third unknown.
int fitSolve3x3(const double rows[3][3], const double rhs[3], double out[3]);

// The fifth rule: the anchor index for a preferred index k in a list of n points.
int32_t fitAnchorIndex(int32_t n, int32_t k);

// Coefficients highest power first. 1, or -1 when the system is singular (or, for the moment
// fits, too few points or moments that vanish).
int parabolaThrough3(const Vec2* p0, const Vec2* p1, const Vec2* p2, double* a, double* b, double* c);
int parabolaEnds(const Vec2* pts, int32_t n, int32_t k, double* a, double* b, double* c);
int parabolaLsqThrough(const Vec2* pts, int32_t n, int32_t k, double* a, double* b, double* c);
int cubicThrough4(const Vec2* p0, const Vec2* p1, const Vec2* p2, const Vec2* p3, double coef[4]);
int cubicThrough3Slope(const Vec2* p0, const Vec2* p1, double s, const Vec2* p2, double coef[4]);
int cubicHermite(const Vec2* p0, double s0, const Vec2* p1, double s1, double coef[4]);
int cubicLsqThrough(const Vec2* pts, int32_t n, int32_t k, double coef[4]);

// 1 when every point lies within w[i] of the curve vertically, else 0 (also for any NaN); the
// parabola and cubic tests also fail for a coefficient above 1e10 in magnitude.
int lineWithinTol(const Vec2* pts, int32_t n, const double* w, double m, double c);
int parabolaWithinTol(const Vec2* pts, int32_t n, const double* w, double a, double b, double c);
int cubicWithinTol(const Vec2* pts, int32_t n, const double* w, const double coef[4]);

// out[i] = (x_i, f(x_i)).
int evalLine2D(const Vec2* pts, int32_t n, double m, double c, Vec2* out);
int evalParabola2D(const Vec2* pts, int32_t n, double a, double b, double c, Vec2* out);
int evalCubic2D(const Vec2* pts, int32_t n, const double coef[4], Vec2* out);

// 2D polyline measures.
int fitUnit2D(const Vec2* v, Vec2* u);  // 0, or -1 (u = 0) when the squared length is below 1e-6
int fitCrossZ2D(const Vec2* a, const Vec2* b, Vec3* out);

// *cos (malloc'd, n values): cosine of the turn at each point, 0 at the ends and next to chords
// shorter than sqrt(1e-9). 0, or -1.
int turnCosines2D(const Vec2* pts, int32_t n, double** cos);

// *prod (malloc'd, n values): product of the turn directions (cross z) at consecutive points, 0 at
// the ends. The number of products below -1e-12 (changes of turning direction), or -1.
int32_t inflectionCount2D(const Vec2* pts, int32_t n, double** prod);

// Circle through three points; 1, or -1 when they are (nearly) collinear.
int circumCircle2D(const Vec2* a, const Vec2* b, const Vec2* c, Vec2* centre, double* radius);

// *out (malloc'd, n records): the circle through each interior point and its neighbours, r = 0
// for straight points; record 0 is the first point, record n-1 the last input record. 1, or -1.
int polyRadii2D(const TolPoint* pts, int32_t n, Circle2D** out);

// Points where the centre of curvature changes sides; *sum the total curvature measure. -1 for
// n < 3.
int32_t polyReversalCount2D(const TolPoint* pts, int32_t n, const Circle2D* radii, double* sum);

// Largest turn (radians) between successive chords of (x[i], y[i]); the code of the last chord
// normalisation (1, or -1 for a chord below 1e-5), or -1 for n < 3.
int polyMaxTurn2D(const double* x, const double* y, int32_t n, double* angle);

// Quadratic Bezier: the point at t; y at abscissa xv (within tol); the curve sampled at x[0..n-1]
// with its ends taken exactly (-1 for n < 2).
int quadBezier2D(const Vec2* p0, const Vec2* p1, const Vec2* p2, double t, Vec2* out);
int quadBezierAtX(const Vec2* p0, const Vec2* p1, const Vec2* p2, double tol, double xv, double* y);
int quadBezierSample(const double* x, int32_t n, const Vec2* p0, const Vec2* p1, const Vec2* p2, double* out);
