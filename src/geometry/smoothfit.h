// Bounded smoothing of a sequence of values: every value stays within its own allowances.
#pragma once

#include <cstdint>

// Symmetric pentadiagonal n x n matrix: d diagonal, e[i] = M(i, i+1), f[i] = M(i, i+2); the unused
// tail entries (e[n-1], f[n-2], f[n-1]) are 0. The arrays are malloc'd and owned.
struct BandMatrix {
    int32_t n;
    double* d;
    double* e;
    double* f;
};

// Codes of pentaSolve and bandedSolve.
enum : int {
    kPentaOk = 0,
    kPentaBadArgs = 1,  // n < 3 or an array missing
    kPentaSmallPivot = 2,
    kPentaBadRow = 3,  // a zero or non-numeric row, or an unsupported mode
};

// Arrays of n values filled with d0, e0, f0 (the tail entries 0). 0, or -1 (nothing allocated).
int bandAlloc(int32_t n, BandMatrix* m, double d0, double e0, double f0);
void bandFree(BandMatrix* m);  // releases the arrays, not the record; null-safe

// LDL^T of a symmetric pentadiagonal matrix in place (d the pivots, e and f the multipliers).
// mode 0 factorises and solves b in place, 1 only factorises, 2 only solves with a factorisation.
int pentaSolve(int mode, int32_t n, double* d, double* e, double* f, double* b);

// out := M^-1 rhs; M is not changed.
int bandedSolve(int32_t n, const BandMatrix* M, const double* rhs, double* out);

// Values above u[i] (below l[i]) are set frac of the width u[i] - l[i] inside the bound; values
// on a bound stay. The number of values moved.
int32_t boundPush(int32_t n, double frac, double* x, const double* l, const double* u);

// Fraction-to-the-boundary step length of the interior-point iteration into *alpha (left as it is
// for n < 2). 0, or -1 when a multiplier is below 1e-16 in magnitude.
int stepToBoundary(int32_t n, const double* rL, const double* rU, const double* zL, const double* zU,
                   const double* dzL, const double* dzU, const double* dx, double factor, double* alpha);

// Smooths y0 (at strictly increasing t) within [y0 - dL, y0 + dU] into out. 1 when the result lies
// within all bounds, 0 when the final clamp moved a value onto its bound, -1 for a parameter step
// below 1e-12, bad input or memory (out untouched).
int16_t smoothSplineFit(const double* t, const double* y0, const double* dL, const double* dU, double* out,
                        int32_t n);

// 0 when n < 2; else the fit's code with every positive code reported as 1.
int16_t smoothSplineBuild(const double* t, const double* y0, const double* dL, const double* dU, double* out,
                          int32_t n);
