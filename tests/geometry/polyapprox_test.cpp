#include "geometry/polyapprox.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "geometry/bsplinearray.h"
#include "geometry/ivstack.h"
#include "kernel/base/msg.h"
#include "msg_capture.h"

namespace {

class PolyApprox : public ::testing::Test {
  protected:
    bool sent(const std::string& text) const { return capture.countOf("9999," + text) > 0; }
    MessageCapture capture{3 | kMsgTraceBit};  // traces pass, so the texts are sent
};

std::vector<TolPoint> sine(int n, double step, double w) {
    std::vector<TolPoint> p;
    for (int i = 0; i < n; ++i) p.push_back({i * step, std::sin(i * step), w});
    return p;
}

struct Result {
    int rc;
    std::vector<Vec2> pts;
};

Result approx(const std::vector<TolPoint>& p, int32_t maxCtrl, uint16_t resample, int32_t index = 0) {
    Vec2* out = reinterpret_cast<Vec2*>(8);
    int32_t count = -5;
    Result r;
    r.rc = approximatePolyline2D(p.data(), static_cast<int32_t>(p.size()), index, maxCtrl, resample, 0.01,
                                 &out, &count);
    if (out) r.pts.assign(out, out + count);
    std::free(out);
    return r;
}

// Largest vertical distance of points from the curve y = sin(x).
double offSine(const std::vector<Vec2>& pts) {
    double d = 0.0;
    for (const auto& q : pts) d = std::fmax(d, std::fabs(q.y - std::sin(q.x)));
    return d;
}

}  // namespace

TEST_F(PolyApprox, FourCollinearPointsGiveTheLineUnchanged) {
    const std::vector<TolPoint> p = {{0, 1, 0.1}, {1, 3, 0.1}, {2.5, 6, 0.1}, {4, 9, 0.1}};
    const Result r = approx(p, 1000, 1);
    ASSERT_EQ(r.rc, kApproxLine);
    ASSERT_EQ(r.pts.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(r.pts[i].x, p[i].x);
        EXPECT_NEAR(r.pts[i].y, p[i].y, 1e-12);
    }
}

TEST_F(PolyApprox, ThreePointsAreRefusedWithAMessage) {
    const std::vector<TolPoint> p = {{0, 0, 1}, {1, 1, 1}, {2, 0, 1}};
    const Result r = approx(p, 1000, 1);
    EXPECT_EQ(r.rc, -1);
    EXPECT_TRUE(r.pts.empty());
    EXPECT_TRUE(sent("* error: at least 4 vertices required (3)"));
}

TEST_F(PolyApprox, ExactParabolaAndCubic) {
    struct Case {
        double a3, a2, a1, a0;
        int rc;
    } cases[] = {{0, 0.5, -2, 1, kApproxParabola}, {0.05, -0.3, 0.2, 1, kApproxCubic}};
    for (const auto& c : cases) {
        std::vector<TolPoint> p;
        for (int i = 0; i < 15; ++i) {
            const double x = 0.3 + 0.7 * i;
            p.push_back({x, ((c.a3 * x + c.a2) * x + c.a1) * x + c.a0, 1e-6});
        }
        const Result r = approx(p, 1000, 1, 7);
        ASSERT_EQ(r.rc, c.rc);
        ASSERT_EQ(r.pts.size(), p.size());
        for (size_t i = 0; i < p.size(); ++i) EXPECT_NEAR(r.pts[i].y, p[i].y, 1e-6);
    }
}

TEST_F(PolyApprox, SplinePathResamplesOnePointPerInput) {
    // The fitted curve is evaluated at the chord lengths of the rewritten points, so the points
    // drift along it; disjoint first intervals (maxCtrl 60 here) may leave the count short: -1.
    struct Case {
        int n;
        double step, w;
        int32_t maxCtrl;
        bool mayFail;
    } cases[] = {{120, 0.1, 0.01, 1000, false},
                 {40, 0.3, 0.02, 1000, false},
                 {600, 0.02, 0.002, 1000, false},
                 {300, 0.05, 0.005, 60, true}};
    for (const auto& c : cases) {
        const auto p = sine(c.n, c.step, c.w);
        const Result r = approx(p, c.maxCtrl, 1);
        ASSERT_TRUE(r.rc == kApproxSpline || r.rc == -1) << r.rc;
        if (!c.mayFail) {
            EXPECT_EQ(r.rc, kApproxSpline) << c.n;
        }
        if (r.rc != kApproxSpline) {
            EXPECT_TRUE(r.pts.empty());
            continue;
        }
        ASSERT_EQ(r.pts.size(), static_cast<size_t>(c.n));
        // The chord error of the input polyline adds to the allowed deviation.
        EXPECT_LE(offSine(r.pts), c.w + c.step * c.step / 8 + 1e-3) << c.n;
        EXPECT_NEAR(r.pts.front().x, 0.0, 1e-12);
        for (int i = 1; i < c.n; ++i) ASSERT_GT(r.pts[i].x, r.pts[i - 1].x) << i;
        EXPECT_NEAR(r.pts.back().x, (c.n - 1) * c.step, 0.01 * c.n * c.step);
    }
}

TEST_F(PolyApprox, SplinePathDiscretisesWithoutResampling) {
    const auto p = sine(120, 0.1, 0.01);
    const Result r = approx(p, 1000, 0);
    ASSERT_EQ(r.rc, kApproxSpline);
    ASSERT_GE(r.pts.size(), 2u);
    EXPECT_LE(offSine(r.pts), 0.01 + 0.01 / 8 + 1e-3);
    for (size_t i = 1; i < r.pts.size(); ++i) EXPECT_GE(r.pts[i].x, r.pts[i - 1].x - 1e-9);
}

TEST_F(PolyApprox, RepeatedPointsKeepTheirOwnDeviations) {
    // Every fifth point doubled, and a deviation that differs by position: dropped points must not
    // shift the deviations of the points behind them.
    std::vector<TolPoint> p;
    for (int i = 0; i < 100; ++i) {
        const double x = 0.1 * i;
        const TolPoint q{x, std::sin(x), i < 50 ? 0.001 : 0.05};
        p.push_back(q);
        if (i % 5 == 0) p.push_back(q);
    }
    const Result r = approx(p, 1000, 0);
    ASSERT_EQ(r.rc, kApproxSpline);
    double worstLeft = 0.0;
    for (const auto& q : r.pts) {
        if (q.x < 4.9) worstLeft = std::fmax(worstLeft, std::fabs(q.y - std::sin(q.x)));
    }
    EXPECT_LE(worstLeft, 0.001 + 0.01 / 8 + 1e-3);
    // Resampling needs one chord per input point; merged points leave fewer.
    EXPECT_EQ(approx(p, 1000, 1).rc, -1);
}

TEST_F(PolyApprox, RefusesTooFewControlPoints) {
    const auto p = sine(50, 0.2, 0.001);
    EXPECT_EQ(approx(p, 2, 1).rc, -1);
    EXPECT_TRUE(sent("* error: approximation cancelled"));
    // maxCtrl 3 cuts the polyline into intervals of two points, which no record covers: the
    // loop stops, and a partial curve is not passed off as the approximation.
    capturedMessages().clear();
    EXPECT_EQ(approx(p, 3, 0).rc, -1);
    EXPECT_TRUE(sent("* error in approximation: ivl = 2"));
    EXPECT_TRUE(sent("* error: approximation cancelled"));
    BSplineArray array{};
    std::vector<Vec2> pts(50);
    std::vector<double> w(50, 0.001);
    for (int i = 0; i < 50; ++i) pts[i] = Vec2{p[i].x, p[i].y};
    EXPECT_EQ(approxPlist2DIntervals(pts.data(), 50, 2, w.data(), &array), -1);
    EXPECT_EQ(approxPlist2DIntervals(pts.data(), 3, 100, w.data(), &array), -1);
    bsplineArrayFree(&array);
}

TEST_F(PolyApprox, IntervalLoopCoversThePolylineWithRecords) {
    const int n = 400;
    auto p = sine(n, 0.05, 0.003);
    std::vector<Vec2> pts(n);
    std::vector<double> w(n, 0.003);
    for (int i = 0; i < n; ++i) pts[i] = Vec2{p[i].x, p[i].y};
    BSplineArray array{};
    ASSERT_EQ(approxPlist2DIntervals(pts.data(), n, 40, w.data(), &array), 0);
    ASSERT_GE(array.count, 2);
    // Records follow each other along x and end where the polyline ends.
    EXPECT_NEAR(array.items[0].cx[0], 0.0, 1e-12);
    const BSplineRec& last = array.items[array.count - 1];
    EXPECT_NEAR(last.cx[last.count - 1], (n - 1) * 0.05, 1e-9);
    for (int i = 0; i < array.count; ++i) {
        EXPECT_LE(array.items[i].count, 40);
        EXPECT_TRUE(array.items[i].order == 4 || array.items[i].order == 2);
    }
    // The list now holds the fitted points, still close to the curve.
    for (int i = 0; i < n; ++i) EXPECT_LE(std::fabs(pts[i].y - std::sin(pts[i].x)), 0.003 + 1e-3) << i;
    bsplineArrayFree(&array);
}

TEST_F(PolyApprox, IntervalStackGrowsAndReportsUnderflow) {
    IvStack s;
    ASSERT_EQ(ivStackCreate(&s, 2), 1);
    for (int i = 0; i < 50; ++i) ASSERT_EQ(ivStackPush(&s, i, 2 * i), 0);
    for (int i = 49; i >= 0; --i) {
        int32_t a = -1, b = -1;
        ASSERT_EQ(ivStackPop(&s, &a, &b), 0);
        EXPECT_EQ(a, i);
        EXPECT_EQ(b, 2 * i);
    }
    int32_t a, b;
    EXPECT_EQ(ivStackPop(&s, &a, &b), -1);
    EXPECT_TRUE(sent("* error: Iv stack underflow"));
    ivStackFree(&s);
    ivStackFree(&s);
    EXPECT_EQ(ivStackCreate(&s, 0), 0);
    EXPECT_EQ(ivStackEmpty(&s), 1);
    ivStackFree(&s);
}

TEST_F(PolyApprox, RecordArrayGrowsPastItsFirstCapacity) {
    BSplineArray array{};
    ASSERT_EQ(bsplineArrayCreate(&array), 0);
    EXPECT_EQ(array.capacity, 10);
    for (int i = 0; i < 25; ++i) {
        BSplineRec rec;
        ASSERT_EQ(bsplineCreate(2, 3, &rec), 0);
        rec.cx[0] = i;
        ASSERT_EQ(bsplineArrayAppend(&array, &rec), 0);
    }
    EXPECT_EQ(array.count, 25);
    EXPECT_EQ(array.capacity, 40);
    for (int i = 0; i < 25; ++i) EXPECT_EQ(array.items[i].cx[0], i);
    bsplineArrayFree(&array);  // ASan: every record's arrays released once
    EXPECT_EQ(array.items, nullptr);
}

TEST_F(PolyApprox, ControlPointSearchByIntervalLength) {
    // A gentle arc that every tried count fits: 22 points and more start at 20 control points and
    // step down while the checks pass, the record of 6 being kept when 4 passes too; 21 points
    // start at 5 and keep the first that passes.
    struct Case {
        int n;
        int16_t ctrl;
    } cases[] = {{22, 6}, {30, 6}, {21, 5}, {12, 5}};
    for (const auto& c : cases) {
        std::vector<Vec2> pts(c.n);
        std::vector<double> w(c.n, 0.05);
        for (int i = 0; i < c.n; ++i) pts[i] = Vec2{double(i), 0.002 * i * i};
        BSplineArray array{};
        ASSERT_EQ(approxPlist2DIntervals(pts.data(), c.n, 1000, w.data(), &array), 0);
        ASSERT_EQ(array.count, 1) << c.n;
        EXPECT_EQ(array.items[0].order, 4);
        EXPECT_EQ(array.items[0].count, c.ctrl) << c.n;
        bsplineArrayFree(&array);
    }
    // Six points are kept as they are: a linear record over the second to the second-last
    // parameter.
    std::vector<Vec2> pts = {{0, 0}, {1, 1}, {2, 0}, {3, 1}, {4, 0}, {5, 1}};
    std::vector<double> w(6, 1e-4);
    BSplineArray array{};
    ASSERT_EQ(approxPlist2DIntervals(pts.data(), 6, 1000, w.data(), &array), 0);
    ASSERT_EQ(array.count, 1);
    const BSplineRec& r = array.items[0];
    EXPECT_EQ(r.order, 2);
    EXPECT_EQ(r.count, 6);
    EXPECT_NEAR(r.tStart, std::sqrt(2.0), 1e-12);
    EXPECT_NEAR(r.tEnd, 4 * std::sqrt(2.0), 1e-12);
    EXPECT_EQ(r.cy[3], 1.0);
    bsplineArrayFree(&array);
}
