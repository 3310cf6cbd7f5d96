#include "geometry/bandfit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "geometry/bandhelp.h"

namespace {

struct BandCase {
    std::vector<double> x, lo, hi;
};

BandCase around(int n, double x0, double step, const std::function<double(double)>& f, double half) {
    BandCase b;
    for (int i = 0; i < n; ++i) {
        const double x = x0 + i * step;
        b.x.push_back(x);
        b.lo.push_back(f(x) - half);
        b.hi.push_back(f(x) + half);
    }
    return b;
}

int16_t fit(const BandCase& b, std::vector<double>& out) {
    out.assign(b.x.size(), std::numeric_limits<double>::quiet_NaN());
    return bandFit(b.x.data(), b.lo.data(), b.hi.data(), out.data(), static_cast<int32_t>(b.x.size()));
}

struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
using Buf = std::unique_ptr<Vec2, FreeDeleter>;

bool inside(const BandCase& b, const std::vector<double>& y) {
    return bandContains(b.lo.data(), b.hi.data(), y.data(), static_cast<int32_t>(y.size())) == 1;
}

}  // namespace

TEST(BandFit, OnlyABandWithRoomIsLevel) {
    struct Case {
        const char* what;
        std::vector<double> lo, hi, expected;
    } cases[] = {
        {"every lower bound below every upper bound: the level at three tenths",
         {0.2, 1.0, -3, 0.5, 1.0, 0.0},
         {3.5, 3.0, 9, 3.0, 4, 5},
         {1.6, 1.6, 1.6, 1.6, 1.6, 1.6}},
        // maxLower = minUpper at a pinch (sample 4): no level, but the line through the pinch with
        // the upper envelope's mean slope (-0.25 + 0.26) / 2 = 0.005 there.
        {"a band that touches is no level",
         {-1, -1, -1, -1, 0, -1, -1, -1, -1, -1},
         {1, 0.75, 0.5, 0.25, 0, 0.26, 0.52, 0.78, 1.04, 1.3},
         {-0.02, -0.015, -0.01, -0.005, 0, 0.005, 0.01, 0.015, 0.02, 0.025}},
    };
    for (const auto& c : cases) {
        BandCase b{{}, c.lo, c.hi};
        for (size_t i = 0; i < c.lo.size(); ++i) b.x.push_back(static_cast<double>(i));
        std::vector<double> out;
        ASSERT_EQ(fit(b, out), kBandFitLine) << c.what;
        for (size_t i = 0; i < out.size(); ++i)
            EXPECT_NEAR(out[i], c.expected[i], 1e-12) << c.what << " " << i;
    }
}

TEST(BandFit, NearlyLevelLineAndSteeperParabola) {
    struct Case {
        double slope;
        int16_t code;
    } cases[] = {
        {0.005, kBandFitLine}, {0.01, kBandFitParabola}, {-0.006, kBandFitLine}, {-0.007, kBandFitParabola}};
    for (const auto& c : cases) {
        const BandCase b = around(
            101, 0.0, 10.0, [&](double x) { return c.slope * x; }, 1.0);
        std::vector<double> out;
        ASSERT_EQ(fit(b, out), c.code) << c.slope;
        for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], c.slope * b.x[i], 1e-9) << i;
    }
}

TEST(BandFit, ParabolicBandIsFittedExactly) {
    const BandCase b = around(
        11, 0.0, 1.0, [](double x) { return (x - 5) * (x - 5); }, 0.5);
    std::vector<double> out;
    ASSERT_EQ(fit(b, out), kBandFitParabola);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], (b.x[i] - 5) * (b.x[i] - 5), 1e-9) << i;
}

TEST(BandFit, CubicBandNeedsTheCubic) {
    // Curved enough everywhere that neighbour averaging leaves the narrow band: the midline stays
    // the cubic, which no parabola follows within 0.01.
    const auto f = [](double x) { return 0.1 * x * x * x; };
    const BandCase b = around(21, 1.0, 0.25, f, 0.01);
    std::vector<double> out;
    ASSERT_EQ(fit(b, out), kBandFitCubic);
    for (size_t i = 0; i < out.size(); ++i) EXPECT_NEAR(out[i], f(b.x[i]), 1e-6) << i;
}

TEST(BandFit, InvertedOrBrokenBandsLeaveTheOutputUntouched) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    struct Case {
        std::vector<double> x, lo, hi;
        int16_t code;
    } cases[] = {
        {{0, 1, 2, 3}, {0, 0, 1.5, 0}, {1, 1, 1.4, 1}, kBandFitInverted},
        {{0, 1, 2, 3}, {0, 0, nan, 0}, {1, 1, 1, 1}, kBandFitInverted},
        {{0, 1, 1, 3}, {0, 0, 0, 0}, {1, 1, 1, 1}, kBandFitInverted},
        {{0}, {0}, {1}, kBandFitNone},
    };
    for (const auto& c : cases) {
        std::vector<double> out(c.x.size(), -77.0);
        EXPECT_EQ(bandFit(c.x.data(), c.lo.data(), c.hi.data(), out.data(), static_cast<int32_t>(c.x.size())),
                  c.code);
        for (double v : out) EXPECT_EQ(v, -77.0);
    }
}

TEST(BandFit, ZeroWidthSampleIsAllowed) {
    BandCase b = around(
        21, 0.0, 1.0, [](double x) { return std::sin(x / 3); }, 0.3);
    b.lo[7] = b.hi[7] = std::sin(7.0 / 3);
    std::vector<double> out;
    EXPECT_GT(fit(b, out), 0);
    EXPECT_TRUE(inside(b, out));
    EXPECT_EQ(out[7], b.lo[7]);
}

TEST(BandFit, StraightLineNeedsFiveSamples) {
    // With four samples the neighbour of the clamped index would be sample 4.
    const std::vector<double> x = {0, 1, 2, 3}, lo = {0, 1, 2, 3}, hi = {1, 2, 3, 4};
    std::vector<double> out(4, -5.0);
    EXPECT_EQ(bandStraightLine(x.data(), lo.data(), hi.data(), out.data(), 4, 0), 0);
    for (double v : out) EXPECT_EQ(v, -5.0);
    const std::vector<double> x5 = {0, 1, 2, 3, 4}, lo5 = {0, 1, 2, 3, 4}, hi5 = {1, 2, 3, 4, 5};
    std::vector<double> out5(5);
    ASSERT_EQ(bandStraightLine(x5.data(), lo5.data(), hi5.data(), out5.data(), 5, 0), 1);
    for (int i = 0; i < 5; ++i) EXPECT_DOUBLE_EQ(out5[i], i + 0.5);
}

TEST(BandFit, PolynomialFitsSkipAnchorsOutsideTheSamples) {
    // gapIndex = upperMinIndex at an end: the cubic's slope anchors would be samples -1 and n.
    std::vector<TolPoint> pts;
    for (int i = 0; i < 8; ++i) pts.push_back({double(i), 0.1 * i * i, 0.01});
    for (int32_t k : {0, 7}) {
        BandPoly rec{{9, 9, 9, 9}, 0};
        Vec2* res = nullptr;
        int32_t count = 0;
        ASSERT_EQ(bandCubicFit(pts.data(), 8, k, k, &rec, &res, &count), 0) << k;
        EXPECT_EQ(rec.kind, 4);
        EXPECT_EQ(count, 8);
        for (int i = 0; i < 8; ++i) EXPECT_NEAR(res[i].y, pts[i].y, 0.01);
        std::free(res);
        ASSERT_EQ(bandParabolaFit(pts.data(), 8, k, k, &rec, &res, &count), 0) << k;
        EXPECT_EQ(rec.kind, 3);
        EXPECT_NEAR(rec.coef[2], 0.1, 1e-9);
        std::free(res);
    }
    Vec2* res = nullptr;
    int32_t count = 0;
    EXPECT_EQ(bandCubicFit(pts.data(), 3, 0, 0, nullptr, &res, &count), -1);
}

TEST(BandFit, PolynomialsPassThroughTheRaisedAnchor) {
    // Samples of a known polynomial with a clearance of 1e-6, except one anchor lowered by 0.3
    // with a clearance of 0.4: raised by three quarters of its clearance it lies on the polynomial
    // again, so only that polynomial is within the clearances. Lowered anchors at 0 or n-1 (the
    // parabola) and at 2 or 6 (the cubic) keep the fallbacks through other samples off.
    // The cubics have a slope at x = 6 of 0.9 s + 0.1, s the chord slope from x = 2: the second
    // slope tried, with s below 1 and above 1.
    struct Case {
        int32_t n, gapIndex, upperMinIndex, lowered;
        int32_t kind;
        double coef[4];  // constant term first
    } cases[] = {
        {8, 3, 7, 7, 3, {2, -1, 0.1, 0}},        {8, 4, 0, 0, 3, {2, -1, 0.1, 0}},
        {9, 2, 6, 6, 4, {0, -0.32, -0.1, 0.01}}, {9, 6, 2, 2, 4, {0, -0.32, -0.1, 0.01}},
        {9, 2, 6, 6, 4, {0, 2.32, 0.1, -0.01}},  {9, 6, 2, 2, 4, {0, 2.32, 0.1, -0.01}},
    };
    for (const auto& c : cases) {
        auto poly = [&](double x) { return ((c.coef[3] * x + c.coef[2]) * x + c.coef[1]) * x + c.coef[0]; };
        std::vector<TolPoint> pts;
        for (int32_t i = 0; i < c.n; ++i) pts.push_back({double(i), poly(i), 1e-6});
        pts[c.lowered].y -= 0.3;
        pts[c.lowered].w = 0.4;
        const auto fitter = c.kind == 3 ? bandParabolaFit : bandCubicFit;
        BandPoly rec{};
        Vec2* res = nullptr;
        int32_t count = 0;
        ASSERT_EQ(fitter(pts.data(), c.n, c.gapIndex, c.upperMinIndex, &rec, &res, &count), 0) << c.gapIndex;
        ASSERT_NE(res, nullptr);
        Buf guard(res);
        EXPECT_EQ(rec.kind, c.kind);
        for (int k = 0; k < 4; ++k) EXPECT_NEAR(rec.coef[k], c.coef[k], 1e-9) << c.gapIndex << " " << k;
        ASSERT_EQ(count, c.n);
        for (int32_t i = 0; i < c.n; ++i) EXPECT_NEAR(res[i].y, poly(i), 1e-9) << c.gapIndex << " " << i;
    }
}

TEST(BandFit, SmoothingPassOddThenEvenPointsStrictlyInside) {
    // One pass by hand: odd points from their neighbours, then even points from the new odd ones;
    // the ends and point n-2 stay, and a mean that only touches a bound is not taken.
    struct Case {
        const char* what;
        std::vector<double> y, lo, expected;
    } cases[] = {
        {"odd count", {0, 8, 0, 8, 0, 8, 0}, {-9, -9, -9, -9, -9, -9, -9}, {0, 0, 0, 0, 4, 8, 0}},
        {"even count", {0, 4, 0, 4, 0, 4, 0, 4}, {-9, -9, -9, -9, -9, -9, -9, -9}, {0, 0, 0, 0, 0, 0, 0, 4}},
        {"a mean on the lower bound",
         {0, 8, 0, 8, 0, 8, 0},
         {-9, 0, -9, -9, -9, -9, -9},
         {0, 8, 4, 0, 4, 8, 0}},
    };
    for (const auto& c : cases) {
        const auto n = static_cast<int32_t>(c.y.size());
        std::vector<double> x, hi(c.y.size(), 9.0);
        std::vector<TolPoint> pts;
        for (int32_t i = 0; i < n; ++i) {
            x.push_back(i);
            pts.push_back({x[i], c.y[i], 0});
        }
        bandSmoothPass(c.lo.data(), hi.data(), pts.data(), n);
        for (int32_t i = 0; i < n; ++i) EXPECT_EQ(pts[i].y, c.expected[i]) << c.what << " " << i;
        // The smoothing then leaves every point its clearance to the nearer bound.
        bandSmooth(x.data(), c.lo.data(), hi.data(), pts.data(), n, 1, 0);
        for (int32_t i = 0; i < n; ++i)
            EXPECT_EQ(pts[i].w, std::fmin(pts[i].y - c.lo[i], hi[i] - pts[i].y)) << c.what << " " << i;
    }
}

TEST(BandFit, EndFixStraightensTheApproachToARunOfElevenSteepSegments) {
    // Flat, then `steep` segments rising 12 each from sample 10, then flat. From eleven segments on,
    // the approach is the straight stretch from sample 0 to the run's top, which stays unchanged.
    const int n = 40;
    for (int steep : {10, 11, 14}) {
        std::vector<double> x(n), lo(n, -500), hi(n, 500);
        std::vector<TolPoint> pts(n);
        const int top = 10 + steep;
        for (int i = 0; i < n; ++i) {
            x[i] = i;
            pts[i] = {x[i], 12.0 * std::clamp(i - 10, 0, steep), 0};
        }
        const auto before = pts;
        const bool fixed = steep >= 11;
        ASSERT_EQ(bandEndFix(x.data(), lo.data(), hi.data(), pts.data(), n), fixed ? 1 : 0) << steep;
        for (int i = 0; i < n; ++i) {
            const double expected = fixed && i <= top ? 12.0 * steep * i / top : before[i].y;
            EXPECT_NEAR(pts[i].y, expected, 1e-9) << steep << " " << i;
        }
    }
}

TEST(BandFit, CurveCheckLimitsTheTurn) {
    const std::vector<double> x = {0, 1, 2, 3}, lo(4, -10), hi(4, 10);
    const std::vector<double> gentle = {0, 0.1, 0.3, 0.6}, sharp = {0, 0, 1, 1};
    EXPECT_EQ(bandCurveOk(x.data(), lo.data(), hi.data(), gentle.data(), 4), 1);
    EXPECT_EQ(bandCurveOk(x.data(), lo.data(), hi.data(), sharp.data(), 4), 0);
    EXPECT_EQ(bandCurveOk(x.data(), lo.data(), hi.data(), gentle.data(), 2), 0);
}

TEST(BandFit, RandomBandsAreAlwaysFittedInside) {
    std::mt19937 rng(20240607);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::map<int, int> codes;
    for (int trial = 0; trial < 300; ++trial) {
        const int n = 2 + static_cast<int>(u(rng) * 70);
        BandCase b;
        double x = -50 + 100 * u(rng), y = 20 * (u(rng) - 0.5);
        const double amp = 30 * u(rng), freq = 0.02 + 0.5 * u(rng), drift = 4 * (u(rng) - 0.5);
        const double widthScale = trial % 3 == 0 ? 0.05 : 2.0;
        for (int i = 0; i < n; ++i) {
            x += 0.01 + 3 * u(rng);
            y += drift * (u(rng) - 0.3);
            const double centre = y + amp * std::sin(freq * x);
            // Some samples have no width at all; the gap stays >= 0.
            const double half = u(rng) < 0.1 ? 0.0 : widthScale * u(rng);
            const double skew = half * (u(rng) - 0.5);
            b.x.push_back(x);
            b.lo.push_back(centre - half + skew);
            b.hi.push_back(centre + half + skew);
        }
        std::vector<double> out;
        const int16_t code = fit(b, out);
        ++codes[code];
        ASSERT_GT(code, 0) << "trial " << trial;
        ASSERT_TRUE(inside(b, out)) << "trial " << trial << " code " << code;
    }
    // The cascade is exercised beyond its first and last candidates.
    EXPECT_GT(codes.size(), 3u);
}

TEST(BandFit, ApproximationCandidateOfASineBand) {
    const BandCase b = around(
        120, 0.0, 0.1, [](double x) { return std::sin(x); }, 0.01);
    const auto n = static_cast<int32_t>(b.x.size());
    TolPoint* mid = nullptr;
    ASSERT_EQ(bandMidPoints(b.x.data(), b.lo.data(), b.hi.data(), &mid, n), 1);
    std::vector<double> out(n, std::numeric_limits<double>::quiet_NaN());
    const int rc = bandTryApprox(mid, b.x.data(), b.lo.data(), b.hi.data(), 0, out.data(), n);
    std::free(mid);
    EXPECT_EQ(rc, kBandFitSpline);
    EXPECT_TRUE(inside(b, out));
    EXPECT_EQ(bandCurveOk(b.x.data(), b.lo.data(), b.hi.data(), out.data(), n), 1);
}

TEST(BandFit, TwoAndThreeSamples) {
    struct Case {
        std::vector<double> x, lo, hi;
    } cases[] = {
        {{0, 1}, {0, 5}, {1, 6}},
        {{0, 1, 2}, {0, 5, 0}, {1, 6, 1}},
        {{0, 1, 2}, {0, 0.5, 1}, {0, 0.5, 1}},
    };
    for (const auto& c : cases) {
        std::vector<double> out(c.x.size(), std::numeric_limits<double>::quiet_NaN());
        const auto n = static_cast<int32_t>(c.x.size());
        EXPECT_GT(bandFit(c.x.data(), c.lo.data(), c.hi.data(), out.data(), n), 0);
        EXPECT_EQ(bandContains(c.lo.data(), c.hi.data(), out.data(), n), 1);
    }
}
