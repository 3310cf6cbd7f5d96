// Approximation of a 2D polyline, each point with its own allowed deviation, by an exact line,
// parabola or cubic y(x), or else by least-squares cubic B-splines fitted interval by interval.
#pragma once

#include <cstdint>

#include "geometry/bsplinearray.h"
#include "geometry/curvefit.h"
#include "geometry/vec.h"

enum : int {
    kApproxLine = 1,
    kApproxParabola = 2,
    kApproxCubic = 3,
    kApproxSpline = 100,
    kApproxFailed = -1,
};

// pts: n points {x, y, w}; index: the preferred anchor of the parabola and cubic fits; maxCtrl: the
// largest interval (in points) fitted without splitting; resample: evaluate the fit at the input's
// chord lengths (one point per input point) instead of discretising it to chordTol. *out
// (malloc'd, the caller frees) with *outCount points. 1, 2, 3 (exact fit), 100, or -1.
int approximatePolyline2D(const TolPoint* pts, int32_t n, int32_t index, int32_t maxCtrl, uint16_t resample,
                          double chordTol, Vec2** out, int32_t* outCount);

// The straight line through the end points, then the least-squares parabola and cubic through the
// point that index selects, the first within every w; its n points into *out. 1, 2, 3, or -1.
int approxExactFit2D(const TolPoint* pts, int32_t n, int32_t index, Vec2** out, int32_t* outCount);

// The adaptive interval loop: fits the n points of pts2D (deviations w) interval by interval into
// the array (created here; the caller frees it, also on failure) and overwrites pts2D with the
// fitted points. 0, or -1 for maxCtrl < 3, n < 4, memory, or when the records do not cover the
// whole polyline.
int approxPlist2DIntervals(Vec2* pts2D, int32_t n, int32_t maxCtrl, const double* w, BSplineArray* array);
