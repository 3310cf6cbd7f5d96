// B-spline basis functions and the B-spline curve record shared with the curve code.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// A (possibly rational) B-spline curve; the record owns its three arrays (malloc'd).
struct BsplCurve {
    int32_t order;
    int32_t count;     // control points
    int32_t rational;  // nonzero: weights is set
    double* knots;     // count + order values
    Vec3* ctrl;        // count control points
    double* weights;   // count values when rational, else unused
};

enum : int32_t {
    kBsplMaxOrder = 30,  // the triangles' work arrays hold 30 values per row
};

// Span s with knots[s] <= t < knots[s+1] among order-1 .. num-1: num-1 when t >= knots[num], order-1
// when t < knots[order] (also for a t that is not a number).
int32_t knotSpan(const double* knots, int32_t num, int32_t order, double t);

// The order basis functions that can be nonzero in knot span `span` (knots[span] <= t < knots[span+1]),
// N(span-order+1) .. N(span), at t into N[0..order-1]. 0; -1 for a span outside order-1..num-1
// or bad arguments (order outside 1..30), and -1 (values still completed) when a knot difference of the
// triangle is below 1e-8.
int bsplBasis(const double* knots, int32_t num, int32_t order, int32_t span, double t, double* N);
// 1 when bsplBasis in this span at t surely gives 0 (every knot difference of its triangle lies clear
// above 1e-8, beyond the rounding of the two halves it is summed from); 0 when it may give -1.
int bsplBasisSure(const double* knots, int32_t num, int32_t order, int32_t span, double t);

// Basis functions and their derivatives up to n at t in span `span`: ders[k][j] is the k-th derivative of
// N(span-order+1+j); rows above the degree are zero. 0; -1 for a span outside order-1..num-1, an order
// outside 1..30, n < 0 or missing arrays. Knot differences below 1e-8 contribute nothing.
int bsplBasisDerivs(int32_t span, const double* knots, int32_t num, int32_t order, int32_t n, double t,
                    double (*ders)[kBsplMaxOrder]);

// Frees the curve's arrays (weights only when rational) and clears them; not the record. Null-safe.
void nurbsFreeCurve(BsplCurve* curve);
