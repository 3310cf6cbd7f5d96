#include "geometry/solve.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

std::vector<double> matMul(const std::vector<double>& a, const std::vector<double>& b, int n, int m) {
    std::vector<double> c(static_cast<size_t>(n) * m, 0.0);
    for (int i = 0; i < n; ++i)
        for (int k = 0; k < n; ++k)
            for (int j = 0; j < m; ++j) c[i * m + j] += a[i * n + k] * b[k * m + j];
    return c;
}

// Dense image of a cyclic tridiagonal system.
std::vector<double> cyclicDense(int n, const std::vector<double>& lo, const std::vector<double>& di,
                                const std::vector<double>& up, double cornerLow, double cornerHigh) {
    std::vector<double> a(static_cast<size_t>(n) * n, 0.0);
    for (int i = 0; i < n; ++i) {
        a[i * n + i] = di[i];
        if (i > 0) a[i * n + i - 1] = lo[i];
        if (i + 1 < n) a[i * n + i + 1] = up[i];
    }
    a[(n - 1) * n] += cornerLow;
    a[n - 1] += cornerHigh;
    return a;
}

}  // namespace

TEST(GaussJordan, InvertsHilbertMatrix) {
    double a[9] = {1, 1.0 / 2, 1.0 / 3, 1.0 / 2, 1.0 / 3, 1.0 / 4, 1.0 / 3, 1.0 / 4, 1.0 / 5};
    const double inv[9] = {9, -36, 30, -36, 192, -180, 30, -180, 180};
    ASSERT_EQ(gaussJordan(a, 3, nullptr, 0), 0);
    for (int i = 0; i < 9; ++i) EXPECT_NEAR(a[i], inv[i], 1e-9) << i;
}

TEST(GaussJordan, SolvesSeveralRightHandSides) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> val(-1.0, 1.0);
    for (int n = 1; n <= 12; ++n) {
        const int m = 2;
        std::vector<double> a(n * n), x(n * m);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) a[i * n + j] = val(rng) + (i == j ? 3.0 : 0.0);
        for (double& v : x) v = val(rng);
        std::vector<double> b = matMul(a, x, n, m), inv = a;
        ASSERT_EQ(gaussJordan(inv.data(), static_cast<uint16_t>(n), b.data(), m), 0) << n;
        for (int i = 0; i < n * m; ++i) EXPECT_NEAR(b[i], x[i], 1e-12) << n;
        const std::vector<double> id = matMul(a, inv, n, n);
        for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j) EXPECT_NEAR(id[i * n + j], i == j ? 1.0 : 0.0, 1e-12);
    }
}

TEST(GaussJordan, ReportsSingularAndOutOfRange) {
    double equalRows[9] = {1, 2, 3, 4, 5, 6, 1, 2, 3};
    double b[3] = {1, 2, 3};
    EXPECT_EQ(gaussJordan(equalRows, 3, b, 1), -1);
    double tinyPivot[4] = {1, 0, 0, 5e-9};
    EXPECT_EQ(gaussJordan(tinyPivot, 2, nullptr, 0), -1);
    double justEnough[4] = {1, 0, 0, 2e-8};
    EXPECT_EQ(gaussJordan(justEnough, 2, nullptr, 0), 0);
    EXPECT_NEAR(justEnough[3], 5e7, 1e-3);
    // Beyond the fixed pivot bookkeeping: refused instead of overrunning it.
    std::vector<double> big(101 * 101, 0.0);
    for (int i = 0; i < 101; ++i) big[i * 101 + i] = 1.0;
    EXPECT_EQ(gaussJordan(big.data(), 101, nullptr, 0), -1);
    double one[1] = {2};
    EXPECT_EQ(gaussJordan(one, 0, nullptr, 0), -1);
    EXPECT_EQ(gaussJordan(one, 1, nullptr, 1), -1);  // a right-hand side is promised but missing
    EXPECT_EQ(gaussJordan(one, 1, nullptr, 0), 0);
    EXPECT_EQ(one[0], 0.5);
}

TEST(SolveTridiag, MatchesKnownSolutionAndReusesFactorisation) {
    const int n = 6;
    const double x1[n] = {1, -2, 3, 0.5, 4, -1};
    const double x2[n] = {2, 2, -1, 0, 1, 3};
    double lo[n], di[n], up[n];
    for (int i = 0; i < n; ++i) lo[i] = -1.0 - 0.1 * i, di[i] = 4.0 + i, up[i] = 0.5 * i - 1.0;
    auto rhsOf = [&](const double* x, double* r) {
        for (int i = 0; i < n; ++i)
            r[i] = di[i] * x[i] + (i > 0 ? lo[i] * x[i - 1] : 0) + (i + 1 < n ? up[i] * x[i + 1] : 0);
    };
    double r1[n], r2[n];
    rhsOf(x1, r1);
    rhsOf(x2, r2);
    double l2[n], d2[n], u2[n], fresh[n];
    std::copy(lo, lo + n, l2);
    std::copy(di, di + n, d2);
    std::copy(up, up + n, u2);
    std::copy(r2, r2 + n, fresh);
    ASSERT_EQ(solveTridiag(n, lo, di, up, r1, 0), kSolveOk);
    ASSERT_EQ(solveTridiag(n, lo, di, up, r2, 1), kSolveOk);
    ASSERT_EQ(solveTridiag(n, l2, d2, u2, fresh, 0), kSolveOk);
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(r1[i], x1[i], 1e-13);
        EXPECT_NEAR(r2[i], x2[i], 1e-13);
        EXPECT_DOUBLE_EQ(r2[i], fresh[i]);
    }
}

TEST(SolveTridiag, RejectsBadInput) {
    double lo[3] = {0, 1, 1}, di[3] = {0, 4, 4}, up[3] = {1, 1, 0}, r[3] = {1, 1, 1};
    EXPECT_EQ(solveTridiag(1, lo, di, up, r, 0), kSolveBadArgs);
    EXPECT_EQ(solveTridiag(3, lo, di, nullptr, r, 0), kSolveBadArgs);
    EXPECT_EQ(solveTridiag(3, lo, di, up, r, 0), kSolveSmallPivot);  // zero first diagonal
}

TEST(SolveCyclicTridiag, OnesForConstantRowSums) {
    const int n = 5;
    double lo[n], di[n], up[n], rowFill[n] = {1}, colFill[n] = {1}, r[n];
    for (int i = 0; i < n; ++i) lo[i] = 1, di[i] = 4, up[i] = 1, r[i] = 6;
    ASSERT_EQ(solveCyclicTridiag(n, lo, di, up, rowFill, colFill, r, 0), kSolveOk);
    for (double v : r) EXPECT_NEAR(v, 1.0, 1e-14);
    // A second right-hand side on the same factors: rhs 2 * (1, 2, 3, 4, 5) images.
    const double x[n] = {1, 2, 3, 4, 5};
    double r2[n];
    for (int i = 0; i < n; ++i) r2[i] = 4 * x[i] + x[(i + n - 1) % n] + x[(i + 1) % n];
    ASSERT_EQ(solveCyclicTridiag(n, lo, di, up, rowFill, colFill, r2, 1), kSolveOk);
    for (int i = 0; i < n; ++i) EXPECT_NEAR(r2[i], x[i], 1e-13);
}

TEST(SolveCyclicTridiag, MatchesDenseSolveWithFactorReuse) {
    std::mt19937 rng(11);
    std::uniform_real_distribution<double> val(-1.0, 1.0);
    for (int n = 3; n <= 9; ++n) {
        std::vector<double> lo(n), di(n), up(n), rowFill(n, 0.0), colFill(n, 0.0), r1(n), r2(n);
        for (int i = 0; i < n; ++i) lo[i] = val(rng), up[i] = val(rng), di[i] = 3.0 + val(rng);
        const double cLow = val(rng), cHigh = val(rng);
        rowFill[0] = cLow;
        colFill[0] = cHigh;
        for (int i = 0; i < n; ++i) r1[i] = val(rng), r2[i] = val(rng);
        std::vector<double> a = cyclicDense(n, lo, di, up, cLow, cHigh);
        std::vector<double> b(2 * n);
        for (int i = 0; i < n; ++i) b[2 * i] = r1[i], b[2 * i + 1] = r2[i];
        ASSERT_EQ(gaussJordan(a.data(), static_cast<uint16_t>(n), b.data(), 2), 0);
        ASSERT_EQ(solveCyclicTridiag(n, lo.data(), di.data(), up.data(), rowFill.data(), colFill.data(),
                                     r1.data(), 0),
                  kSolveOk);
        ASSERT_EQ(solveCyclicTridiag(n, lo.data(), di.data(), up.data(), rowFill.data(), colFill.data(),
                                     r2.data(), 1),
                  kSolveOk);
        for (int i = 0; i < n; ++i) {
            EXPECT_NEAR(r1[i], b[2 * i], 1e-12) << n;
            EXPECT_NEAR(r2[i], b[2 * i + 1], 1e-12) << n;
        }
    }
}

TEST(SolveCyclicTridiag, RejectsBadInput) {
    double lo[4] = {0, 1, 1, 1}, di[4] = {4, 4, 4, 4}, up[4] = {1, 1, 1, 0}, rf[4] = {1}, cf[4] = {1};
    double r[4] = {1, 1, 1, 1};
    EXPECT_EQ(solveCyclicTridiag(2, lo, di, up, rf, cf, r, 0), kSolveBadArgs);
    EXPECT_EQ(solveCyclicTridiag(4, lo, di, up, nullptr, cf, r, 0), kSolveBadArgs);
    // The all-ones 3 x 3 matrix: the second pivot vanishes.
    double l2[3] = {0, 1, 1}, d2[3] = {1, 1, 1}, u2[3] = {1, 1, 0}, rf2[3] = {1}, cf2[3] = {1},
           r2[3] = {1, 1, 1};
    EXPECT_EQ(solveCyclicTridiag(3, l2, d2, u2, rf2, cf2, r2, 0), kSolveSmallPivot);
    double d3[4] = {0, 4, 4, 4};
    EXPECT_EQ(solveCyclicTridiag(4, lo, d3, up, rf, cf, r, 0), kSolveSmallPivot);
}

TEST(HankelMatrix, NeedsTwoNMinusOneValues) {
    const double v[5] = {0, 1, 2, 3, 4};
    double out[9] = {};
    EXPECT_EQ(hankelMatrix(v, 4, out, 3), -1);
    for (double x : out) EXPECT_EQ(x, 0.0);
    ASSERT_EQ(hankelMatrix(v, 5, out, 3), 0);
    const double want[9] = {0, 1, 2, 1, 2, 3, 2, 3, 4};
    for (int i = 0; i < 9; ++i) EXPECT_EQ(out[i], want[i]);
    EXPECT_EQ(hankelMatrix(v, 5, nullptr, 0), 0);  // nothing to write
}

TEST(SolveCyclicTridiag, ReusedFactorsGiveTheFreshSolution) {
    const int n = 5;
    const double x[n] = {1, 2, 3, 4, 5};
    double r[n];
    for (int i = 0; i < n; ++i) r[i] = 4 * x[i] + x[(i + n - 1) % n] + x[(i + 1) % n];
    // One system factorised for a first right-hand side, then solved again; the other solved fresh.
    double lo[n], di[n], up[n], rowFill[n] = {1}, colFill[n] = {1}, first[n];
    double lo2[n], di2[n], up2[n], rowFill2[n] = {1}, colFill2[n] = {1}, reused[n], fresh[n];
    for (int i = 0; i < n; ++i) {
        lo[i] = lo2[i] = 1, di[i] = di2[i] = 4, up[i] = up2[i] = 1;
        first[i] = 6;
        reused[i] = fresh[i] = r[i];
    }
    ASSERT_EQ(solveCyclicTridiag(n, lo, di, up, rowFill, colFill, first, 0), kSolveOk);
    ASSERT_EQ(solveCyclicTridiag(n, lo, di, up, rowFill, colFill, reused, 1), kSolveOk);
    ASSERT_EQ(solveCyclicTridiag(n, lo2, di2, up2, rowFill2, colFill2, fresh, 0), kSolveOk);
    for (int i = 0; i < n; ++i) {
        EXPECT_NEAR(first[i], 1.0, 1e-14) << i;
        EXPECT_DOUBLE_EQ(reused[i], fresh[i]) << i;
        EXPECT_NEAR(fresh[i], x[i], 1e-13) << i;
    }
}
