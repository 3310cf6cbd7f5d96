// Band tests and envelopes over sampled lower and upper bounds: n doubles per array, abscissae x
// strictly increasing. Functions that allocate hand back a malloc'd array that the caller frees.
#pragma once

#include <cstdint>

#include "geometry/curvefit.h"
#include "geometry/vec.h"

int bandAtLeast(const double* a, const double* b, int32_t n);  // b[i] >= a[i] everywhere
int bandContains(const double* lower, const double* upper, const double* y, int32_t n);  // bounds inclusive

// Index of the smallest b[i] - a[i] (first on ties, gaps equal up to rounding count as ties) and
// that gap; -1 (gap 0) for n < 1.
int32_t bandMinGap(const double* a, const double* b, int32_t n, double* gap);

// Index of the smallest / largest value (first on ties); -1 (value 0) for n < 1.
int32_t fitArrayMinIndex(const double* a, int32_t n, double* value);
int32_t fitArrayMaxIndex(const double* a, int32_t n, double* value);

int fitArrayFill(double* out, int32_t n, double v);
int bandFillLevel(const double* x, int32_t n, double lo, double hi, double f,
                  double* out);  // lo + (hi - lo) f
int fitArrayCopy(const double* src, int32_t n, double* dst);

// 0 when v <= x[0], n-1 when v >= x[n-1], else i with x[i] < v <= x[i+1].
int32_t fitFindInterval(const double* x, int32_t n, double v);

// New (x[i], y[i]) list; 1, or -1 when n < 2 or memory fails.
int bandPoints2D(Vec2** pts, int32_t n, const double* x, const double* y);
// New {x, (a+b)/2, (b-a)/2} list; 1, or -1.
int bandMidPoints(const double* x, const double* a, const double* b, TolPoint** pts, int32_t n);
// w[i] = distance of y[i] to the nearer bound (negative outside).
int bandClearance(const double* lower, const double* upper, TolPoint* pts, int32_t n);

// Upper (hullAbove) and lower (hullBelow) convex hull of points in increasing x, as a new polyline
// of *count points. 1, 0 for n < 2, -1 for memory.
int hullAbove(const Vec2* pts, int32_t n, Vec2** hull, int32_t* count);
int hullBelow(const Vec2* pts, int32_t n, Vec2** hull, int32_t* count);

// Linear interpolation of a polyline in increasing x at x[0..n-1] (the end segments extended).
// 1, or 0 for n < 2 or an empty polyline.
int polylineSampleAt(const double* x, int32_t n, const Vec2* poly, int32_t polyCount, double* out);

// The hulls over the samples 0..k and k..n-1, each sampled on its own part (at k the second
// part's value stands); k = 0 or n-1 gives one hull over all. 1, 0 for k outside 0..n-1, -1 for
// memory.
int envelopeLowerSplit(const double* x, const Vec2* pts, int32_t n, int32_t k, double* out);
int envelopeUpperSplit(const double* x, const Vec2* pts, int32_t n, int32_t k, double* out);

int evalLineAt(const double* x, int32_t n, double m, double c, double* out);
int evalCubicAt(const double* x, int32_t n, double a, double b, double c, double d, double* out);

// Index of the first sample where the line passes below lo (above hi); n when none.
int32_t lineAboveCount(const double* x, const double* lo, int32_t n, double m, double c);
int32_t lineBelowCount(const double* x, const double* hi, int32_t n, double m, double c);

int fitValueBetween(double v, double a, double b);             // a <= v <= b in either order
double fitSlope2(double x1, double y1, double x2, double y2);  // 0.0 for a vertical step
int points2DY(const Vec2* pts, int32_t n, double* out);
