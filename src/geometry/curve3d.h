// Discretisation of polynomial curves into 3D polylines within a chord tolerance, and the smooth
// connecting curves between two path points built on it. Module-level settings and the bisection
// stack make the family non-re-entrant.
#pragma once

#include <cstdint>

#include "geometry/profile.h"
#include "geometry/spline.h"
#include "geometry/vec.h"

// Polyline of the curve: *points (malloc'd, the caller frees) and *count, the first point and
// every segment's end among them. 0 (also for a curve without segments: no points), -1 on memory.
int curve3DApprox(const PolyCurve* curve, double tol, Vec3** points, int32_t* count);
// 1 when m lies within tol of the chord a-b (dist, when asked, is then that distance or 0), 0 when
// not or when the curve turns back.
int approxChordOk(const Vec3* a, const Vec3* m, const Vec3* b, double tol, double* dist);

// One Bezier segment over [0, 1] from A to B, leaving A in the direction PA->A and arriving at B in
// the direction B->PB; its middle lies h off the chord's middle. Null when A and PA, or B and PB,
// are closer than 1e-5.
PolyCurve* curveBezierBetween(const Vec3* A, const Vec3* PA, const Vec3* B, const Vec3* PB, double h);
// That curve as a polyline within tol. 0, or -1 (points none, count 0) when it cannot be built or
// discretised or is longer than |A - B| + 2 h.
int curveApproxBetween(const Vec3* A, const Vec3* PA, const Vec3* B, const Vec3* PB, double h, double tol,
                       Vec3** points, int32_t* count);
// The connection as a profile of kind 'p' (dipped by h in the middle when dip is set), or null when
// A and B are too close, it cannot be built, or it is too long for the chord value.
ProfileCurve* approxProfilePath(const Vec3* A, const Vec3* PA, const Vec3* B, const Vec3* PB, int dip);

// 0 when the polyline's length is at most limit, else -1 as soon as the running length exceeds it;
// *length (when asked) is the length reached.
int polylineWithinLength(const Vec3* points, int32_t n, double limit, double* length);
// 1 when no chord value is set or the profile's 3D length is at most 6 chord values, else 0.
int approxProfileLengthOk(const ProfileCurve* profile);

void approxScaleTol(double factor);  // scales the degeneracy threshold of the chord test
void approxSetChord(double value);
void curve3DResetState();  // threshold 1e-5, tangent factor 1.0, chord value 0
