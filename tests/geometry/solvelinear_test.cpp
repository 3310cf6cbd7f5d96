#include <gtest/gtest.h>

#include <utility>

#include "geometry/solve.h"
#include "kernel/base/rng.h"

namespace {

int solveN(int n, const double* a, const double* b, double* x) {
    if (n == 2) return solveLinear2(a[0], a[1], a[2], a[3], b[0], b[1], &x[0], &x[1]);
    if (n == 3)
        return solveLinear3(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], b[0], b[1], b[2], &x[0],
                            &x[1], &x[2]);
    return solveLinear4(a[0], a[1], a[2], a[3], a[4], a[5], a[6], a[7], a[8], a[9], a[10], a[11], a[12],
                        a[13], a[14], a[15], b[0], b[1], b[2], b[3], &x[0], &x[1], &x[2], &x[3]);
}

}  // namespace

// Singular systems write nothing; seeded regular ones satisfy A x = b whatever the row order.
TEST(SolveLinear, SolvesRegularSystemsAndRefusesSingularOnes) {
    const double b0[4] = {1, 2, 3, 4}, singular2[4] = {1, 2, 2, 4},
                 zeroColumn3[9] = {0, 1, 2, 0, 3, 4, 0, 5, 7};
    double x0[4] = {7, 7, 7, 7};
    EXPECT_EQ(solveN(2, singular2, b0, x0) + solveN(3, zeroColumn3, b0, x0), 0);
    for (double v : x0) EXPECT_EQ(v, 7.0);
    rngResetState();
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 2 + trial % 3;
        double a[16], b[4], x[4], y[4];
        for (int k = 0; k < n * n; ++k) a[k] = 20.0 * rngUniform() - 10.0;
        for (int k = 0; k < n; ++k) a[k * n + k] += k % 2 ? 25.0 : -25.0;  // well conditioned
        for (int k = 0; k < n; ++k) b[k] = 20.0 * rngUniform() - 10.0;
        ASSERT_EQ(solveN(n, a, b, x), 1);
        for (int r = 0; r < n; ++r) {
            double s = 0.0;
            for (int c = 0; c < n; ++c) s += a[r * n + c] * x[c];
            EXPECT_NEAR(s, b[r], 1e-9);
        }
        const int r1 = rngBelow(n), r2 = (r1 + 1 + rngBelow(n - 1)) % n;  // two different rows
        for (int c = 0; c < n; ++c) std::swap(a[r1 * n + c], a[r2 * n + c]);
        std::swap(b[r1], b[r2]);
        ASSERT_EQ(solveN(n, a, b, y), 1);
        for (int c = 0; c < n; ++c) EXPECT_NEAR(y[c], x[c], 1e-9);
    }
}
