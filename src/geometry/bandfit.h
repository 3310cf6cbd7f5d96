// Smooth profile inside a band: replaces y(x) sampled at n increasing abscissae by a smooth curve
// that stays within lower[i] <= y <= upper[i] at every sample, trying a fixed cascade of candidate
// curves from a level line to a smoothed midline. The code names the candidate taken.
#pragma once

#include <cstdint>

#include "geometry/bandfallback.h"
#include "geometry/curvefit.h"

enum : int {
    kBandFitNone = 0,  // fewer than two samples
    kBandFitLine = 1,  // a level, a nearly level line, or an exact line
    kBandFitParabola = 2,
    kBandFitCubic = 3,
    kBandFitSpline = 100,   // B-spline approximation of the smoothed midline
    kBandFitMidline = 200,  // the smoothed midline itself, the last resort
    kBandFitNoMemory = -1,
    kBandFitInverted = -3,  // upper < lower somewhere, or values that are no band (NaN, x not increasing)
};

// Coefficients of an accepted polynomial, constant term first; kind 3 parabola, 4 cubic.
struct BandPoly {
    double coef[4];
    int32_t kind;
};

// out (n doubles) receives the curve at every x[i]; inputs are never written. 0 for n < 2 (out
// untouched), else the code of bandFitDrive.
int16_t bandFit(const double* x, const double* lower, const double* upper, double* out, int32_t n);
// 1, 2, 3, 100, 200, 300, 301, 400, 450, -1, or -3 (out untouched).
int16_t bandFitDrive(const double* x, const double* lower, const double* upper, double* out, int32_t n);

// Candidates; a positive code means out holds the accepted curve (out may be written anyway).
int bandTryApprox(const TolPoint* midPts, const double* x, const double* lower, const double* upper,
                  int32_t index, double* out, int32_t n);
int bandTryPolynomial(const TolPoint* midPts, const double* x, const double* lower, const double* upper,
                      int32_t gapIndex, int32_t upperMinIndex, double* out, int32_t n, BandPoly* record);

// Parabola and cubic through anchors of the midline, within the clearances w; *result (malloc'd,
// n points) and *count. 0, or -1.
int bandParabolaFit(const TolPoint* pts, int32_t n, int32_t gapIndex, int32_t upperMinIndex, BandPoly* record,
                    Vec2** result, int32_t* count);
int bandCubicFit(const TolPoint* pts, int32_t n, int32_t gapIndex, int32_t upperMinIndex, BandPoly* record,
                 Vec2** result, int32_t* count);

// The line through the envelopes lo, hi near sample k, written to out only when it lies within
// them everywhere (out may be lo). 1, or 0 (also for n < 5).
int bandStraightLine(const double* x, const double* lo, const double* hi, double* out, int32_t n, int32_t k);

// Midline smoothing within (lower, upper): passes of neighbour averaging that only move a point
// strictly inside the band, the steep-run end fix when endFix is set, then the clearances.
int bandSmooth(const double* x, const double* lower, const double* upper, TolPoint* pts, int32_t n,
               int32_t passes, int endFix);
// bandSmooth repeated (at most 10 times) until the reversal count settles; that count.
int32_t bandSmoothSettle(const double* x, const double* lower, const double* upper, TolPoint* pts, int32_t n,
                         int32_t passes, int endFix);
// One pass; the end points and point n-2 stay.
int bandSmoothPass(const double* lower, const double* upper, TolPoint* pts, int32_t n);
// Replaces the longest steep run's approach by a straight stretch when that stays inside. 1 or 0.
int bandEndFix(const double* x, const double* lower, const double* upper, TolPoint* pts, int32_t n);

// 1 when n >= 3, y lies inside the band and no turn between successive chords exceeds 30 degrees.
int bandCurveOk(const double* x, const double* lower, const double* upper, const double* y, int32_t n);
