// Cubic spline interpolation through 3D points: chains of cubic polynomial segments in Hermite
// form (PolyCurve) and cubic B-spline curves with estimated end derivatives (BsplCurve).
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry/bspl.h"
#include "geometry/vec.h"

// One cubic segment over the local parameter u in [0, 1]; coefficients lowest degree first.
struct PolySeg {
    uint16_t coefCount;  // 4
    double* cx;
    double* cy;
    double* cz;
};

// Segment i covers params[i] .. params[i+1] of the global parameter. All arrays are malloc'd and
// owned by the record; polyCurveFree releases everything.
struct PolyCurve {
    int32_t count;   // segments
    double* params;  // count + 1 values, params[0] = 0, increasing
    PolySeg* segs;
};

// Parameter spacing of both interpolations; any other value behaves like chord length.
enum : int {
    kSplineUniform = 0,
    kSplineChord = 1,
    kSplineCentripetal = 2,
};

// C2 curve through the points with consecutive repeats (within 1e-5) merged; closed when the first
// and last points lie within 1e-6 (and at least 4 points are kept), else open. Null for fewer than
// 2 distinct points, memory, or a failing solver.
PolyCurve* splineThroughPoints(const Vec3* points, int32_t n, int mode);
// m - 1 Hermite segments through m points with the given tangents; h[i] is the parameter length
// between points i-1 and i (h[0] is not read). Null for m < 2 or on memory failure.
PolyCurve* polyCurveFromHermite(const Vec3* points, const Vec3* tangents, int32_t m, const double* h);
// One segment over [0, length] with the four Bezier control points.
PolyCurve* polyCurveFromBezier(const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* p3, double length);
void polyCurveFree(PolyCurve* curve);  // null-safe

// Point at the global parameter t and the derivative with respect to the segment's local u
// (either output may be null). 1, or -1 outside the curve.
int splineEval(const PolyCurve* curve, double t, Vec3* point, Vec3* deriv);
// The segment's three polynomials at u (Horner); 1, or -1 for a missing segment.
int polySegEval3D(const PolySeg* seg, double u, Vec3* point);
int polyEvalHorner3D(const PolySeg* seg, double u, Vec3* point);

// Cubic B-spline through n >= 3 points: n + 6 knots clamped to [0, 1] and n + 2 control points,
// end derivatives estimated from the points. The record and its arrays are malloc'd: release the
// arrays with nurbsFreeCurve, then the record with free(). Null on failure.
BsplCurve* splineThroughPoints3D(const Vec3* points, int32_t n, int mode);
// The same with the parameter spacing of knots, the knot vector of another curve through n points.
BsplCurve* splineThroughPoints3DKnots(const Vec3* points, int32_t n, const double* knots);

// Copies size bytes into the buffer *handle. 0, or -1 for a null handle, buffer or data.
int copyToHandle(void** handle, const void* data, size_t size);

// Trace hook of the curve code; has no effect.
void cycTraceNop(int32_t level, const char* format, double value);
