// Curve output of literal point stretches: a cubic spline through the points,
// written as "#D_SPLINE" blocks with an arc-length table or as "POLY"
// statements, one NC comment record per line.
#pragma once

#include "geometry/polyeval.h"
#include "geometry/spline.h"
#include "kernel/ncout/pointarray.h"

enum : int {
    kCurveOutOk = 1,
    kCurveOutNothing = 0,   // the fit or the arc-length table failed; nothing written
    kCurveOutMissing = -1,  // no array or no data
};

// Fit through the points (chord parameters) and write it; all that was built is freed
// again. writePolyOutput does not use the feed.
int writeCurveOutput(const PointArray* points, double feed);
int writePolyOutput(const PointArray* points, double feed);

// The blocks of a fitted curve; a segment that is not cubic ends the output
// with a level-9 message, what was written stays. 1, or -1 for a missing
// curve or a group that does not match it.
int writeDSpline(const PolyCurve* curve, const SplineSet* group, double feed);
int writePolySpline(const PolyCurve* curve);

// Per segment the cubic t(s) = a1 s + a2 s^2 + a3 s^3 from the segment's
// length s to its parameter, with t(0) = 0 and t(L) = 1. Null when memory is
// short or the curve is missing.
SplineSet* splineToPoly(const PolyCurve* curve);
