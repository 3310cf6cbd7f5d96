// Small dense and banded linear solvers over caller-owned arrays; nothing here allocates.
#pragma once

#include <cstdint>

enum : int {
    kSolveOk = 0,
    kSolveBadArgs = 1,    // tridiagonal solvers: order too small or an array missing
    kSolveSmallPivot = 2  // tridiagonal solvers: a pivot below 1e-12
};

// Gauss-Jordan elimination with full pivoting. a (n x n, row-major) becomes its inverse, b (n x m,
// row-major) the solutions; m = 0 only inverts (b may then be null). 0, or -1 when singular (a
// pivot below 1e-8; a and b are then partly transformed) or n is outside 1..100.
int16_t gaussJordan(double* a, uint16_t n, double* b, int16_t m);

// Tridiagonal system: lower[i] at (i, i-1), upper[i] at (i, i+1); rhs becomes the solution. The
// factorisation stays in lower and diag, so factored = 1 solves a further right-hand side.
int solveTridiag(int32_t n, double* lower, double* diag, double* upper, double* rhs, int factored);

// Cyclic tridiagonal system: as above plus the corners, rowFill[0] at (n-1, 0) and colFill[0] at
// (0, n-1); their other entries must be zero on entry and carry the factorisation afterwards.
int solveCyclicTridiag(int32_t n, double* lower, double* diag, double* upper, double* rowFill,
                       double* colFill, double* rhs, int factored);

// out (n x n, row-major) = values[i + j]. 0, or -1 when count < 2n - 1 (nothing written).
int16_t hankelMatrix(const double* values, int16_t count, double* out, int16_t n);

// Small systems with coefficients passed by value, row by row, then the right-hand side; for inner
// loops that solve one tiny system per call. 1 with the solution written, 0 when singular (nothing
// written). They run on gaussJordan, so a pivot below 1e-8 counts as singular.
int solveLinear2(double a11, double a12, double a21, double a22, double b1, double b2, double* x1,
                 double* x2);
int solveLinear3(double a11, double a12, double a13, double a21, double a22, double a23, double a31,
                 double a32, double a33, double b1, double b2, double b3, double* x1, double* x2, double* x3);
int solveLinear4(double a11, double a12, double a13, double a14, double a21, double a22, double a23,
                 double a24, double a31, double a32, double a33, double a34, double a41, double a42,
                 double a43, double a44, double b1, double b2, double b3, double b4, double* x1, double* x2,
                 double* x3, double* x4);
