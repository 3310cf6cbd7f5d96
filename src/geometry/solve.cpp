// Gauss-Jordan with full pivoting and the plain and cyclic tridiagonal solvers.
#include "geometry/solve.h"

#include <cmath>
#include <utility>

namespace {

constexpr int kMaxGaussJordan = 100;  // the pivot bookkeeping is fixed-size

void swapRows(double* m, int cols, int r1, int r2) {
    for (int k = 0; k < cols; ++k) std::swap(m[r1 * cols + k], m[r2 * cols + k]);
}

}  // namespace

int16_t gaussJordan(double* a, uint16_t n, double* b, int16_t m) {
    if (a == nullptr || n < 1 || n > kMaxGaussJordan || m < 0 || (m > 0 && b == nullptr)) return -1;
    int used[kMaxGaussJordan] = {};
    int rowIndex[kMaxGaussJordan];
    int colIndex[kMaxGaussJordan];
    const int N = n;
    for (int i = 0; i < N; ++i) {
        double big = 0.0;
        int row = -1, col = -1;
        for (int j = 0; j < N; ++j) {
            if (used[j] == 1) continue;
            for (int k = 0; k < N; ++k) {
                if (used[k] == 0) {
                    // >=: of equal candidates the later one in scan order wins.
                    if (std::fabs(a[j * N + k]) >= big) {
                        big = std::fabs(a[j * N + k]);
                        row = j;
                        col = k;
                    }
                } else if (used[k] > 1) {
                    return -1;
                }
            }
        }
        if (row < 0) return -1;  // only NaN candidates left
        ++used[col];
        if (row != col) {
            swapRows(a, N, row, col);
            if (m > 0) swapRows(b, m, row, col);
        }
        rowIndex[i] = row;
        colIndex[i] = col;
        if (!(std::fabs(a[col * N + col]) >= 1e-8)) return -1;
        const double p = 1.0 / a[col * N + col];
        a[col * N + col] = 1.0;
        for (int k = 0; k < N; ++k) a[col * N + k] *= p;
        for (int k = 0; k < m; ++k) b[col * m + k] *= p;
        for (int r = 0; r < N; ++r) {
            if (r == col) continue;
            const double f = a[r * N + col];
            a[r * N + col] = 0.0;
            for (int k = 0; k < N; ++k) a[r * N + k] -= f * a[col * N + k];
            for (int k = 0; k < m; ++k) b[r * m + k] -= f * b[col * m + k];
        }
    }
    for (int l = N - 1; l >= 0; --l) {
        if (rowIndex[l] == colIndex[l]) continue;
        for (int k = 0; k < N; ++k) std::swap(a[k * N + rowIndex[l]], a[k * N + colIndex[l]]);
    }
    return 0;
}

int solveTridiag(int32_t n, double* lower, double* diag, double* upper, double* rhs, int factored) {
    if (n < 2 || !lower || !diag || !upper || !rhs) return kSolveBadArgs;
    if (!factored) {
        for (int32_t i = 1; i < n; ++i) {
            if (!(std::fabs(diag[i - 1]) >= 1e-12)) return kSolveSmallPivot;
            lower[i] /= diag[i - 1];
            diag[i] -= lower[i] * upper[i - 1];
        }
    }
    if (!(std::fabs(diag[n - 1]) >= 1e-12)) return kSolveSmallPivot;
    for (int32_t i = 1; i < n; ++i) rhs[i] -= lower[i] * rhs[i - 1];
    rhs[n - 1] /= diag[n - 1];
    for (int32_t i = n - 2; i >= 0; --i) rhs[i] = (rhs[i] - upper[i] * rhs[i + 1]) / diag[i];
    return kSolveOk;
}

// The bordered matrix: band rows 0..n-2 carry a fill in the last column (colFill[k], with
// upper[n-2] as its last entry), the last row a fill in the leading columns (rowFill[k], with
// lower[n-1] as its last entry). Elimination without pivoting keeps exactly that shape, so the
// multipliers replace lower[k+1] and rowFill[k] and the reduced rows stay in place.
int solveCyclicTridiag(int32_t n, double* lower, double* diag, double* upper, double* rowFill,
                       double* colFill, double* rhs, int factored) {
    if (n < 3 || !lower || !diag || !upper || !rowFill || !colFill || !rhs) return kSolveBadArgs;
    const int32_t last = n - 1;
    if (!factored) {
        upper[last] = 0.0;
        lower[0] = 0.0;
        for (int32_t k = 0; k + 1 < last; ++k) {
            if (!(std::fabs(diag[k]) >= 1e-12)) return kSolveSmallPivot;
            const double l = lower[k + 1] / diag[k];
            lower[k + 1] = l;
            diag[k + 1] -= l * upper[k];
            if (k + 1 == last - 1) {
                upper[k + 1] -= l * colFill[k];
            } else {
                colFill[k + 1] -= l * colFill[k];
            }
            const double r = rowFill[k] / diag[k];
            rowFill[k] = r;
            if (k + 1 == last - 1) {
                lower[last] -= r * upper[k];
            } else {
                rowFill[k + 1] -= r * upper[k];
            }
            diag[last] -= r * colFill[k];
        }
        if (!(std::fabs(diag[last - 1]) >= 1e-12)) return kSolveSmallPivot;
        lower[last] /= diag[last - 1];
        diag[last] -= lower[last] * upper[last - 1];
    }
    if (!(std::fabs(diag[last]) >= 1e-12)) return kSolveSmallPivot;
    for (int32_t k = 0; k + 1 < last; ++k) {
        rhs[k + 1] -= lower[k + 1] * rhs[k];
        rhs[last] -= rowFill[k] * rhs[k];
    }
    rhs[last] -= lower[last] * rhs[last - 1];
    rhs[last] /= diag[last];
    rhs[last - 1] = (rhs[last - 1] - upper[last - 1] * rhs[last]) / diag[last - 1];
    for (int32_t k = last - 2; k >= 0; --k) {
        rhs[k] = (rhs[k] - upper[k] * rhs[k + 1] - colFill[k] * rhs[last]) / diag[k];
    }
    return kSolveOk;
}

int16_t hankelMatrix(const double* values, int16_t count, double* out, int16_t n) {
    if (count <= 2 * n - 2) return -1;
    if (n < 1 || values == nullptr || out == nullptr) return 0;
    for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) out[i * n + j] = values[i + j];
    }
    return 0;
}

namespace {

// a (n x n) and b are scratch; x receives the solution.
int solveSmall(double* a, double* b, uint16_t n, double* const* x) {
    if (gaussJordan(a, n, b, 1) != 0) return 0;
    for (int i = 0; i < n; ++i)
        if (!std::isfinite(b[i])) return 0;
    for (int i = 0; i < n; ++i) *x[i] = b[i];
    return 1;
}

}  // namespace

int solveLinear2(double a11, double a12, double a21, double a22, double b1, double b2, double* x1,
                 double* x2) {
    double a[4] = {a11, a12, a21, a22};
    double b[2] = {b1, b2};
    double* const x[2] = {x1, x2};
    return solveSmall(a, b, 2, x);
}

int solveLinear3(double a11, double a12, double a13, double a21, double a22, double a23, double a31,
                 double a32, double a33, double b1, double b2, double b3, double* x1, double* x2,
                 double* x3) {
    double a[9] = {a11, a12, a13, a21, a22, a23, a31, a32, a33};
    double b[3] = {b1, b2, b3};
    double* const x[3] = {x1, x2, x3};
    return solveSmall(a, b, 3, x);
}

int solveLinear4(double a11, double a12, double a13, double a14, double a21, double a22, double a23,
                 double a24, double a31, double a32, double a33, double a34, double a41, double a42,
                 double a43, double a44, double b1, double b2, double b3, double b4, double* x1, double* x2,
                 double* x3, double* x4) {
    double a[16] = {a11, a12, a13, a14, a21, a22, a23, a24, a31, a32, a33, a34, a41, a42, a43, a44};
    double b[4] = {b1, b2, b3, b4};
    double* const x[4] = {x1, x2, x3, x4};
    return solveSmall(a, b, 4, x);
}
