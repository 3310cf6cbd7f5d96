#include "geometry/smoothfit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "geometry/solve.h"

namespace {

// Sum of squared second differences, each weighted by its neighbouring parameter steps (relative
// to the largest step): the roughness the fit minimises.
double roughness(const std::vector<double>& t, const std::vector<double>& y) {
    double hmax = 0.0;
    for (size_t i = 1; i < t.size(); ++i) hmax = std::fmax(hmax, t[i] - t[i - 1]);
    double s = 0.0;
    for (size_t j = 1; j + 1 < y.size(); ++j) {
        const double h1 = hmax / (t[j] - t[j - 1]), h2 = hmax / (t[j + 1] - t[j]);
        s += std::pow(h1 * y[j - 1] - (h1 + h2) * y[j] + h2 * y[j + 1], 2);
    }
    return s;
}

// A random symmetric, diagonally dominant pentadiagonal matrix.
BandMatrix randomBand(int32_t n, std::mt19937& rng) {
    std::uniform_real_distribution<double> val(-1.0, 1.0);
    BandMatrix m{};
    EXPECT_EQ(bandAlloc(n, &m, 0.0, 0.0, 0.0), 0);
    for (int32_t i = 0; i < n; ++i) {
        m.d[i] = 5.0 + val(rng);
        if (i + 1 < n) m.e[i] = val(rng);
        if (i + 2 < n) m.f[i] = val(rng);
    }
    return m;
}

std::vector<double> dense(const BandMatrix& m) {
    const int32_t n = m.n;
    std::vector<double> a(static_cast<size_t>(n) * n, 0.0);
    for (int32_t i = 0; i < n; ++i) {
        a[i * n + i] = m.d[i];
        if (i + 1 < n) a[i * n + i + 1] = a[(i + 1) * n + i] = m.e[i];
        if (i + 2 < n) a[i * n + i + 2] = a[(i + 2) * n + i] = m.f[i];
    }
    return a;
}

}  // namespace

TEST(PentaSolve, MatchesDenseSolveAndReusesFactorisation) {
    std::mt19937 rng(21);
    std::uniform_real_distribution<double> val(-1.0, 1.0);
    for (int32_t n = 3; n <= 10; ++n) {
        BandMatrix m = randomBand(n, rng);
        std::vector<double> a = dense(m), b1(n), b2(n), bb(2 * n);
        for (int32_t i = 0; i < n; ++i) b1[i] = bb[2 * i] = val(rng), b2[i] = bb[2 * i + 1] = val(rng);
        ASSERT_EQ(gaussJordan(a.data(), static_cast<uint16_t>(n), bb.data(), 2), 0);
        std::vector<double> x(n);
        const std::vector<double> d0(m.d, m.d + n);
        ASSERT_EQ(bandedSolve(n, &m, b1.data(), x.data()), kPentaOk);
        for (int32_t i = 0; i < n; ++i) {
            EXPECT_NEAR(x[i], bb[2 * i], 1e-12) << n;
            EXPECT_EQ(m.d[i], d0[i]);  // the matrix is copied
        }
        ASSERT_EQ(pentaSolve(1, n, m.d, m.e, m.f, nullptr), kPentaOk);
        ASSERT_EQ(pentaSolve(2, n, m.d, m.e, m.f, b2.data()), kPentaOk);
        for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(b2[i], bb[2 * i + 1], 1e-12) << n;
        bandFree(&m);
    }
}

TEST(PentaSolve, ReportsBadInput) {
    double d[4] = {4, 4, 4, 4}, e[4] = {1, 1, 1, 0}, f[4] = {1, 1, 0, 0}, b[4] = {1, 1, 1, 1};
    EXPECT_EQ(pentaSolve(0, 2, d, e, f, b), kPentaBadArgs);
    EXPECT_EQ(pentaSolve(0, 4, d, nullptr, f, b), kPentaBadArgs);
    EXPECT_EQ(pentaSolve(0, 4, d, e, f, nullptr), kPentaBadArgs);
    EXPECT_EQ(pentaSolve(3, 4, d, e, f, b), kPentaBadRow);
    double z[4] = {0, 4, 4, 4}, ze[4] = {0, 1, 1, 0}, zf[4] = {0, 1, 0, 0};
    EXPECT_EQ(pentaSolve(0, 4, z, ze, zf, b), kPentaBadRow);  // row 0 all zero
    double nd[4] = {std::nan(""), 4, 4, 4}, ne[4] = {1, 1, 1, 0}, nf[4] = {1, 1, 0, 0};
    EXPECT_EQ(pentaSolve(0, 4, nd, ne, nf, b), kPentaBadRow);
    double neg[4] = {-4, 4, 4, 4}, e2[4] = {1, 1, 1, 0}, f2[4] = {1, 1, 0, 0};
    EXPECT_EQ(pentaSolve(0, 4, neg, e2, f2, b), kPentaSmallPivot);  // not positive definite
    // Rows 0 and 1 equal: the second pivot vanishes.
    double sd[3] = {1, 1, 1}, se[3] = {1, 0, 0}, sf[3] = {0, 0, 0}, sb[3] = {1, 1, 1};
    EXPECT_EQ(pentaSolve(0, 3, sd, se, sf, sb), kPentaSmallPivot);
}

TEST(BoundPush, MovesOnlyValuesOutside) {
    double x[5] = {-1.0, 0.0, 0.5, 1.0, 3.0};
    const double l[5] = {0, 0, 0, 0, 0}, u[5] = {1, 1, 1, 1, 2};
    EXPECT_EQ(boundPush(5, 0.1, x, l, u), 2);
    const double want[5] = {0.1, 0.0, 0.5, 1.0, 1.8};
    for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(x[i], want[i]);
    double y[2] = {-5, 5};
    EXPECT_EQ(boundPush(2, 0.0, y, l, u), 2);
    EXPECT_EQ(y[0], 0.0);
    EXPECT_EQ(y[1], 1.0);
}

TEST(StepToBoundary, FractionOfTheWayToTheNearestBound) {
    const double rL[2] = {1, 1}, rU[2] = {1, 1}, zL[2] = {1, 1}, zU[2] = {1, 1};
    const double dz0[2] = {0, 0}, dx[2] = {-2, 0.5};
    double alpha = 0.5;
    ASSERT_EQ(stepToBoundary(2, rL, rU, zL, zU, dz0, dz0, dx, 0.85, &alpha), 0);
    EXPECT_DOUBLE_EQ(alpha, 0.425);  // dx rL = -2 is the binding ratio
    const double small[2] = {0.1, -0.1};
    ASSERT_EQ(stepToBoundary(2, rL, rU, zL, zU, dz0, dz0, small, 0.85, &alpha), 0);
    EXPECT_DOUBLE_EQ(alpha, 1.0);  // capped by the -0.5 floor: min(1, 0.85 / 0.5)
    const double dzBig[2] = {-4, 0};
    ASSERT_EQ(stepToBoundary(2, rL, rU, zL, zU, dzBig, dz0, small, 0.85, &alpha), 0);
    EXPECT_DOUBLE_EQ(alpha, 0.2125);
    ASSERT_EQ(stepToBoundary(2, rL, rU, zL, zU, dz0, dz0, dx, 0.1, &alpha), 0);
    EXPECT_EQ(alpha, 1.0);
    alpha = 0.5;
    EXPECT_EQ(stepToBoundary(1, rL, rU, zL, zU, dz0, dz0, dx, 0.85, &alpha), 0);
    EXPECT_EQ(alpha, 0.5);
    const double zZero[2] = {1, 0};
    EXPECT_EQ(stepToBoundary(2, rL, rU, zZero, zU, dz0, dz0, dx, 0.85, &alpha), -1);
}

TEST(SmoothSplineFit, KeepsLinearValuesAndZeroAllowances) {
    for (int32_t n : {2, 3, 4, 5, 12}) {
        std::vector<double> t(n), y(n), out(n, -99), wide(n, 2.0), none(n, 0.0);
        for (int32_t i = 0; i < n; ++i) t[i] = i * i * 0.1 + i, y[i] = 3.0 - 0.7 * t[i];
        EXPECT_EQ(smoothSplineFit(t.data(), y.data(), wide.data(), wide.data(), out.data(), n), 1) << n;
        for (int32_t i = 0; i < n; ++i) EXPECT_NEAR(out[i], y[i], 1e-5) << n;
        // Zigzag values with no room to move.
        for (int32_t i = 0; i < n; ++i) y[i] = (i % 2) ? 1.0 : -1.0;
        EXPECT_EQ(smoothSplineFit(t.data(), y.data(), none.data(), none.data(), out.data(), n), 1) << n;
        for (int32_t i = 0; i < n; ++i) EXPECT_EQ(out[i], y[i]) << n;
    }
}

TEST(SmoothSplineFit, RejectsRepeatedOrDecreasingParameters) {
    const double y[4] = {0, 1, 0, 1}, a[4] = {1, 1, 1, 1};
    const struct {
        double t[4];
        int32_t n;
    } cases[] = {{{0, 1, 1, 2}, 4}, {{0, 1, 0.5, 2}, 4}, {{0, 0, 0, 0}, 2}, {{0, 1, 2, std::nan("")}, 4}};
    for (const auto& c : cases) {
        double out[4] = {7, 7, 7, 7};
        EXPECT_EQ(smoothSplineFit(c.t, y, a, a, out, c.n), -1);
        EXPECT_EQ(out[0], 7);
        EXPECT_EQ(smoothSplineBuild(c.t, y, a, a, out, c.n), -1);
    }
    double out[1];
    EXPECT_EQ(smoothSplineBuild(cases[0].t, y, a, a, out, 1), 0);
}

TEST(SmoothSplineFit, StaysWithinBoundsAndSmooths) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int32_t n : {3, 4, 5, 8, 30, 200}) {
        for (int trial = 0; trial < 5; ++trial) {
            std::vector<double> t(n), y(n), dL(n), dU(n), out(n);
            double tt = 0.0;
            for (int32_t i = 0; i < n; ++i) {
                tt += 0.2 + unit(rng);
                t[i] = tt;
                y[i] = std::sin(0.3 * tt) + 0.5 * (unit(rng) - 0.5);
                dL[i] = 0.4 * unit(rng);
                dU[i] = 0.4 * unit(rng);
            }
            const int16_t r = smoothSplineFit(t.data(), y.data(), dL.data(), dU.data(), out.data(), n);
            ASSERT_TRUE(r == 0 || r == 1) << n;
            for (int32_t i = 0; i < n; ++i) {
                EXPECT_GE(out[i], y[i] - dL[i]) << n << " " << i;
                EXPECT_LE(out[i], y[i] + dU[i]) << n << " " << i;
            }
            EXPECT_LE(roughness(t, out), roughness(t, y) + 1e-12) << n;
            std::vector<double> built(n);
            EXPECT_EQ(smoothSplineBuild(t.data(), y.data(), dL.data(), dU.data(), built.data(), n),
                      r >= 1 ? 1 : r);
        }
    }
}

TEST(SmoothSplineFit, WideAllowancesStraightenAZigzag) {
    const int32_t n = 9;
    std::vector<double> t(n), y(n), a(n, 10.0), out(n);
    for (int32_t i = 0; i < n; ++i) t[i] = i, y[i] = (i % 2) ? 1.0 : -1.0;
    EXPECT_EQ(smoothSplineFit(t.data(), y.data(), a.data(), a.data(), out.data(), n), 1);
    EXPECT_LT(roughness(t, out), 0.01 * roughness(t, y));
}

TEST(SmoothSplineFit, StartValueOutsideItsBoundsIsPulledIn) {
    const double t[4] = {0, 1, 2, 3}, y[4] = {0, 0, 0, 0};
    const double dL[4] = {1, -1, 1, 1}, dU[4] = {1, 3, 1, 1};  // value 1 lies below [1, 3]
    double out[4];
    EXPECT_EQ(smoothSplineFit(t, y, dL, dU, out, 4), 1);
    EXPECT_DOUBLE_EQ(out[1], 1.2);
    EXPECT_EQ(out[0], 0.0);
}

TEST(SmoothSplineFit, ValuesLinearInTheParameterComeBackExactly) {
    // Already smooth: the first Newton step is below the threshold, so out is y0 itself.
    for (int32_t n : {2, 3, 4, 5, 12}) {
        std::vector<double> t(n), y(n), out(n, -99), dL(n), dU(n);
        for (int32_t i = 0; i < n; ++i) {
            t[i] = i * i * 0.1 + i;
            y[i] = 3.0 - 0.7 * t[i];
            dL[i] = 0.5 + 0.1 * i;
            dU[i] = 2.0;
        }
        EXPECT_EQ(smoothSplineFit(t.data(), y.data(), dL.data(), dU.data(), out.data(), n), 1) << n;
        for (int32_t i = 0; i < n; ++i) EXPECT_EQ(out[i], y[i]) << n << " " << i;
    }
}

TEST(SmoothSplineFit, ThreeAndFourValuesAreSmoothedToo) {
    // The smallest systems have overlapping rows of the roughness matrix; they must smooth all
    // the same and stay inside their bounds.
    for (int32_t n : {3, 4}) {
        std::vector<double> t(n), y(n), a(n, 10.0), out(n);
        for (int32_t i = 0; i < n; ++i) t[i] = i, y[i] = (i % 2) ? 1.0 : -1.0;
        EXPECT_EQ(smoothSplineFit(t.data(), y.data(), a.data(), a.data(), out.data(), n), 1) << n;
        EXPECT_LT(roughness(t, out), 0.01 * roughness(t, y)) << n;
        for (int32_t i = 0; i < n; ++i) {
            EXPECT_GE(out[i], y[i] - a[i]) << n;
            EXPECT_LE(out[i], y[i] + a[i]) << n;
        }
    }
}
