// B-spline records of the polyline approximation: least-squares fit, evaluation, discretisation.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// Arrays are malloc'd and owned by the record; bsplineFree releases them, not the record.
struct BSplineRec {
    int16_t count;  // control points
    int16_t order;  // 4 cubic, 2 linear
    double* knots;  // count + order values
    double* aux;    // unused here; freed when set
    double* cx;
    double* cy;
    double* cz;     // null for 2D records
    double tStart;  // parameter range of evaluation and discretisation
    double tEnd;
    uint16_t is2D;
    uint16_t reserved[2];
    double extra[3];  // 0, 0, 1.0 at creation; not read here
};

// Zeroed arrays for count control points of the given order. 0, or -1 (nothing allocated).
int bsplineCreate(int order, int count, BSplineRec* rec);
void bsplineFree(BSplineRec* rec);  // null-safe; forgets the record if it is the current spline

// Least-squares cubic (order) fit with fixed end points of the count points of pts2D from start,
// with k control points, on chord parameters (segLen[i] = |pts2D[i] - pts2D[i-1]|). The record
// becomes 2D and the current spline. 0, or -1 for a bad interval, memory, or a singular system.
int approxPlist2D(const Vec2* pts2D, const double* segLen, int32_t n, int32_t start, int32_t count, int order,
                  int k, BSplineRec* rec);

// The record last fitted by approxPlist2D (not owned), or none.
BSplineRec* bsplineCurrent();
void bsplineResetState();

// Point at t by de Boor (z = 0 for 2D records). 0, or -1 when t > knots[count] or on bad input.
int bsplineEval(const BSplineRec* rec, double t, Vec3* p);

// Basis function N(i, k) at t over the knots of a record with count control points of `order`.
double bsplineBasis(const double* knots, int count, int order, int i, int k, double t);

// Polyline within the chord tolerance; *pts (malloc'd, the caller frees) and *outCount. 0 or the
// last evaluation's code; -1 for fewer than 2 control points, order < 2, a range below 0.02, or a
// failed evaluation or allocation (then *pts is none).
int bsplineDiscretize(const BSplineRec* rec, double tol, Vec3** pts, int32_t* outCount);
