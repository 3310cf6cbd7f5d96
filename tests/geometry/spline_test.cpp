#include "geometry/spline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

namespace {

struct CurveDeleter {
    void operator()(PolyCurve* c) const { polyCurveFree(c); }
};
using CurvePtr = std::unique_ptr<PolyCurve, CurveDeleter>;

struct BsplDeleter {
    void operator()(BsplCurve* c) const {
        nurbsFreeCurve(c);
        std::free(c);
    }
};
using BsplPtr = std::unique_ptr<BsplCurve, BsplDeleter>;

const double* coefs(const PolySeg& s, int c) {
    return c == 0 ? s.cx : (c == 1 ? s.cy : s.cz);
}

double coord(const Vec3& p, int c) {
    return c == 0 ? p.x : (c == 1 ? p.y : p.z);
}

double span(const PolyCurve* curve, int i) {
    return curve->params[i + 1] - curve->params[i];
}

// Derivatives with respect to the global parameter at the local u of segment i.
double d1(const PolyCurve* curve, int i, int c, double u) {
    const double* k = coefs(curve->segs[i], c);
    return (k[1] + 2 * k[2] * u + 3 * k[3] * u * u) / span(curve, i);
}

double d2(const PolyCurve* curve, int i, int c, double u) {
    const double* k = coefs(curve->segs[i], c);
    return (2 * k[2] + 6 * k[3] * u) / (span(curve, i) * span(curve, i));
}

// Point, slope and curvature agree at every joint (and, when closed, across the closing joint).
void expectC2(const PolyCurve* curve, bool closed) {
    const int n = curve->count;
    for (int i = 0; i + 1 < n + (closed ? 1 : 0); ++i) {
        const int j = (i + 1) % n;
        Vec3 a, b;
        polySegEval3D(&curve->segs[i], 1.0, &a);
        polySegEval3D(&curve->segs[j], 0.0, &b);
        for (int c = 0; c < 3; ++c) {
            EXPECT_NEAR(coord(a, c), coord(b, c), 1e-9) << "joint " << i;
            EXPECT_NEAR(d1(curve, i, c, 1.0), d1(curve, j, c, 0.0), 1e-9) << "joint " << i << " c " << c;
            EXPECT_NEAR(d2(curve, i, c, 1.0), d2(curve, j, c, 0.0), 1e-8) << "joint " << i << " c " << c;
        }
    }
}

// The points through which the curve passes, in order.
void expectThrough(const PolyCurve* curve, const std::vector<Vec3>& pts) {
    ASSERT_EQ(curve->count + 1, static_cast<int>(pts.size()));
    for (int i = 0; i < curve->count; ++i) {
        Vec3 p;
        polySegEval3D(&curve->segs[i], 0.0, &p);
        EXPECT_NEAR(p.x, pts[i].x, 1e-12);
        EXPECT_NEAR(p.y, pts[i].y, 1e-12);
        EXPECT_NEAR(p.z, pts[i].z, 1e-12);
    }
    Vec3 p;
    polySegEval3D(&curve->segs[curve->count - 1], 1.0, &p);
    EXPECT_NEAR(p.x, pts.back().x, 1e-9);
    EXPECT_NEAR(p.y, pts.back().y, 1e-9);
    EXPECT_NEAR(p.z, pts.back().z, 1e-9);
}

// Point of a clamped cubic B-spline at u by its basis functions.
Vec3 bsplPoint(const BsplCurve* c, double u) {
    int s = 3;
    while (s + 1 < c->count && c->knots[s + 1] <= u) ++s;
    double N[4];
    bsplBasis(c->knots, c->count, 4, s, u, N);
    Vec3 p{0, 0, 0};
    for (int k = 0; k < 4; ++k) {
        const Vec3& q = c->ctrl[s - 3 + k];
        p.x += N[k] * q.x;
        p.y += N[k] * q.y;
        p.z += N[k] * q.z;
    }
    return p;
}

}  // namespace

TEST(Spline, ClosedSquareIsThePeriodicSplineOnChords) {
    const std::vector<Vec3> sq = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 0}};
    CurvePtr c(splineThroughPoints(sq.data(), 5, kSplineChord));
    ASSERT_TRUE(c);
    ASSERT_EQ(c->count, 4);
    expectThrough(c.get(), sq);
    expectC2(c.get(), true);
    // Periodic system 0.5 d[i-1] + 2 d[i] + 0.5 d[i+1] = 1.5 (y[i+1] - y[i-1]) on unit chords.
    const double dx[] = {0.75, 0.75, -0.75, -0.75}, dy[] = {-0.75, 0.75, 0.75, -0.75};
    for (int i = 0; i < 4; ++i) {
        EXPECT_NEAR(d1(c.get(), i, 0, 0.0), dx[i], 1e-12) << i;
        EXPECT_NEAR(d1(c.get(), i, 1, 0.0), dy[i], 1e-12) << i;
    }
    for (int i = 0; i <= 4; ++i) EXPECT_DOUBLE_EQ(c->params[i], i);
}

TEST(Spline, ClosedIrregularLoopIsC2AllRound) {
    std::mt19937 rng(2141);
    std::uniform_real_distribution<double> r(0.5, 2.0);
    for (int mode : {kSplineUniform, kSplineChord, kSplineCentripetal}) {
        for (int m : {4, 5, 9}) {
            std::vector<Vec3> pts;
            for (int i = 0; i < m - 1; ++i) {
                const double a = 2 * M_PI * i / (m - 1), rad = r(rng);
                pts.push_back({rad * std::cos(a), rad * std::sin(a), 0.3 * r(rng)});
            }
            pts.push_back(pts[0]);
            CurvePtr c(splineThroughPoints(pts.data(), m, mode));
            ASSERT_TRUE(c) << mode << " " << m;
            expectThrough(c.get(), pts);
            expectC2(c.get(), true);
        }
    }
}

TEST(Spline, OpenCurveStartRowAndNaturalEnd) {
    const std::vector<Vec3> pts = {{0, 0, 0}, {2, 1, 0.5}, {3, 3, 1}, {5, 3.5, 0}, {7, 2, -1}, {8, 0, 0}};
    for (int mode : {kSplineUniform, kSplineChord, kSplineCentripetal}) {
        CurvePtr c(splineThroughPoints(pts.data(), static_cast<int32_t>(pts.size()), mode));
        ASSERT_TRUE(c);
        expectThrough(c.get(), pts);
        expectC2(c.get(), false);
        const int last = c->count - 1;
        for (int k = 0; k < 3; ++k) {
            const double delta1 = (coord(pts[1], k) - coord(pts[0], k)) / span(c.get(), 0);
            EXPECT_NEAR(2 * d1(c.get(), 0, k, 0.0) + d1(c.get(), 1, k, 0.0), 1.5 * delta1, 1e-9) << mode;
            EXPECT_NEAR(d2(c.get(), last, k, 1.0), 0.0, 1e-9) << mode;
        }
    }
}

TEST(Spline, ParametersFollowTheMode) {
    // Steps of lengths 4 and 1 (the repeated point is merged).
    const std::vector<Vec3> pts = {{0, 0, 0}, {4, 0, 0}, {4, 0, 0.000001}, {4, 1, 0}};
    const struct {
        int mode;
        double p1, p2;
    } cases[] = {
        {kSplineUniform, 1, 2},
        {kSplineChord, 4, 5},
        {kSplineCentripetal, 2, 3},
        {7, 4, 5},
    };
    for (const auto& k : cases) {
        CurvePtr c(splineThroughPoints(pts.data(), 4, k.mode));
        ASSERT_TRUE(c);
        ASSERT_EQ(c->count, 2);
        EXPECT_EQ(c->params[0], 0.0);
        EXPECT_NEAR(c->params[1], k.p1, 1e-6) << k.mode;
        EXPECT_NEAR(c->params[2], k.p2, 1e-6) << k.mode;
    }
}

TEST(Spline, ClosureThresholdAndShortLoops) {
    const struct {
        double gap;  // last point's distance from the first
        bool closed;
    } cases[] = {{0.0, true}, {9e-7, true}, {1.1e-6, false}, {1e-5, false}};
    for (const auto& k : cases) {
        const std::vector<Vec3> sq = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, k.gap, 0}};
        CurvePtr c(splineThroughPoints(sq.data(), 5, kSplineChord));
        ASSERT_TRUE(c);
        const bool naturalEnd = std::fabs(d2(c.get(), c->count - 1, 0, 1.0)) < 1e-9 &&
                                std::fabs(d2(c.get(), c->count - 1, 1, 1.0)) < 1e-9;
        const bool slopeCloses = std::fabs(d1(c.get(), 0, 1, 0.0) - d1(c.get(), c->count - 1, 1, 1.0)) < 1e-9;
        EXPECT_EQ(slopeCloses, k.closed) << k.gap;
        EXPECT_EQ(naturalEnd, !k.closed) << k.gap;
    }
    // Four kept points are the smallest loop; three cannot form a cyclic system and are open.
    const std::vector<Vec3> tri = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 0, 0}};
    CurvePtr loop4(splineThroughPoints(tri.data(), 4, kSplineChord));
    ASSERT_TRUE(loop4);
    expectC2(loop4.get(), true);
    const std::vector<Vec3> back = {{0, 0, 0}, {2, 0, 0}, {0, 0, 0}};
    CurvePtr c(splineThroughPoints(back.data(), 3, kSplineChord));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->count, 2);
    expectThrough(c.get(), back);
    EXPECT_NEAR(d2(c.get(), 1, 0, 1.0), 0.0, 1e-9);
}

TEST(Spline, TooFewDistinctPoints) {
    const std::vector<Vec3> same = {{1, 1, 1}, {1, 1, 1.000001}, {1.000001, 1, 1}};
    EXPECT_EQ(splineThroughPoints(same.data(), 3, kSplineChord), nullptr);
    EXPECT_EQ(splineThroughPoints(same.data(), 1, kSplineChord), nullptr);
    EXPECT_EQ(splineThroughPoints(nullptr, 3, kSplineChord), nullptr);
    const std::vector<Vec3> two = {{0, 0, 0}, {3, 4, 0}};
    CurvePtr c(splineThroughPoints(two.data(), 2, kSplineChord));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->count, 1);
    expectThrough(c.get(), two);
}

TEST(Spline, UniformCollinearPointsStayOnTheLine) {
    std::vector<Vec3> pts;
    for (int i = 0; i < 7; ++i) pts.push_back({1.0 + 2.0 * i, -1.0 + 1.0 * i, 0.5 * i});
    CurvePtr c(splineThroughPoints(pts.data(), 7, kSplineUniform));
    ASSERT_TRUE(c);
    for (double t = 0; t <= c->params[c->count]; t += 0.05) {
        Vec3 p;
        ASSERT_EQ(splineEval(c.get(), t, &p, nullptr), 1);
        const double s = (p.x - 1.0) / 2.0;
        EXPECT_NEAR(p.y, -1.0 + s, 1e-9) << t;
        EXPECT_NEAR(p.z, 0.5 * s, 1e-9) << t;
    }
}

TEST(Spline, EvalRangeAndJoints) {
    const std::vector<Vec3> pts = {{0, 0, 0}, {1, 0, 0}, {4, 2, 0}, {5, 5, 1}};
    CurvePtr c(splineThroughPoints(pts.data(), 4, kSplineChord));
    ASSERT_TRUE(c);
    const double end = c->params[c->count];
    Vec3 p, d;
    EXPECT_EQ(splineEval(c.get(), end + 2e-5, &p, &d), -1);
    EXPECT_EQ(splineEval(c.get(), end + 5e-6, &p, &d), 1);
    EXPECT_EQ(splineEval(c.get(), -2e-5 * span(c.get(), 0), &p, &d), -1);
    // At a joint the earlier segment answers at u = 1 (derivatives are per segment parameter).
    ASSERT_EQ(splineEval(c.get(), c->params[1], &p, &d), 1);
    const double* k = c->segs[0].cx;
    EXPECT_NEAR(d.x, k[1] + 2 * k[2] + 3 * k[3], 1e-12);
    EXPECT_NEAR(p.x, 1.0, 1e-12);
    EXPECT_GT(std::fabs(d.x - c->segs[1].cx[1]), 1e-3);
    PolyCurve empty{0, nullptr, nullptr};
    EXPECT_EQ(splineEval(&empty, 0.0, &p, &d), -1);
}

TEST(Spline, HermiteAndBezierSegments) {
    const Vec3 pts[] = {{0, 0, 0}, {2, 1, 3}};
    const Vec3 tan[] = {{1, 0, 0}, {0, 2, -1}};
    const double h[] = {0.0, 2.5};
    CurvePtr c(polyCurveFromHermite(pts, tan, 2, h));
    ASSERT_TRUE(c);
    EXPECT_EQ(c->count, 1);
    EXPECT_EQ(c->segs[0].coefCount, 4);
    EXPECT_DOUBLE_EQ(c->params[1], 2.5);
    Vec3 p, d;
    ASSERT_EQ(splineEval(c.get(), 2.5, &p, &d), 1);
    EXPECT_NEAR(p.x, 2, 1e-12);
    EXPECT_NEAR(p.z, 3, 1e-12);
    EXPECT_NEAR(d.y, 5.0, 1e-12);  // H b
    EXPECT_NEAR(d.z, -2.5, 1e-12);
    ASSERT_EQ(splineEval(c.get(), 0.0, &p, &d), 1);
    EXPECT_NEAR(d.x, 2.5, 1e-12);  // H a
    EXPECT_EQ(polyCurveFromHermite(pts, tan, 1, h), nullptr);

    const Vec3 b0{0, 0, 0}, b1{1, 2, 0}, b2{3, 2, 1}, b3{4, 0, 1};
    CurvePtr bz(polyCurveFromBezier(&b0, &b1, &b2, &b3, 7.0));
    ASSERT_TRUE(bz);
    EXPECT_DOUBLE_EQ(bz->params[1], 7.0);
    ASSERT_EQ(splineEval(bz.get(), 3.5, &p, &d), 1);
    // de Casteljau at u = 1/2 and the Bezier derivative 3/4 (P2 + P3 - P0 - P1).
    EXPECT_NEAR(p.x, (0 + 3 * 1 + 3 * 3 + 4) / 8.0, 1e-12);
    EXPECT_NEAR(p.y, (0 + 6 + 6 + 0) / 8.0, 1e-12);
    EXPECT_NEAR(d.x, 0.75 * (3 + 4 - 0 - 1), 1e-12);
    Vec3 q, r;
    polyEvalHorner3D(&bz->segs[0], 1.0, &q);
    polySegEval3D(&bz->segs[0], 1.0, &r);
    EXPECT_NEAR(q.x, 4, 1e-12);
    EXPECT_NEAR(q.z, 1, 1e-12);
    EXPECT_EQ(q.x, r.x);
    EXPECT_EQ(polySegEval3D(nullptr, 0.5, &q), -1);
}

TEST(Spline, BsplineInterpolationShape) {
    std::mt19937 rng(9);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    for (int n : {3, 4, 5, 8, 20}) {
        for (int mode : {kSplineUniform, kSplineChord, kSplineCentripetal}) {
            std::vector<Vec3> pts;
            for (int i = 0; i < n; ++i) pts.push_back({3.0 * i + u(rng), 2.0 * u(rng), u(rng)});
            BsplPtr c(splineThroughPoints3D(pts.data(), n, mode));
            ASSERT_TRUE(c) << n;
            EXPECT_EQ(c->order, 4);
            EXPECT_EQ(c->count, n + 2);
            EXPECT_EQ(c->rational, 0);
            EXPECT_EQ(c->weights, nullptr);
            for (int k = 0; k < 4; ++k) {
                EXPECT_EQ(c->knots[k], 0.0);
                EXPECT_EQ(c->knots[n + 2 + k], 1.0);
            }
            for (int k = 1; k < n + 6; ++k) EXPECT_GE(c->knots[k], c->knots[k - 1]);
            for (int i = 0; i < n; ++i) {
                const Vec3 p = bsplPoint(c.get(), c->knots[3 + i]);
                EXPECT_NEAR(p.x, pts[i].x, 1e-9) << n << " " << i;
                EXPECT_NEAR(p.y, pts[i].y, 1e-9) << n << " " << i;
                EXPECT_NEAR(p.z, pts[i].z, 1e-9) << n << " " << i;
            }
            // The knots of this curve reproduce themselves for a second curve through n points.
            BsplPtr twin(splineThroughPoints3DKnots(pts.data(), n, c->knots));
            ASSERT_TRUE(twin);
            for (int k = 0; k < n + 6; ++k) EXPECT_NEAR(twin->knots[k], c->knots[k], 1e-12);
        }
    }
}

TEST(Spline, BsplineEndTangents) {
    // End derivatives (with respect to the normalised parameter) by hand: a closed loop takes the
    // start tangent at P[0] from P[1] and the third-last point, here both along +x; an open curve
    // takes them at P[1] and P[n-2]. Their length is half the distance from P[0] to P[(n-1)/2].
    const double r13 = std::sqrt(13.0) / 2, r10 = std::sqrt(10.0) / 2;
    struct Case {
        const char* what;
        std::vector<Vec3> pts;
        Vec3 start, end;
    } cases[] = {
        {"closed, odd count",
         {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {0, 2, 0}, {-1, 0, 0}, {-0.5, -0.3, 0}, {0, 0.05, 0}},
         {1, 0, 0},
         {1, 0, 0}},
        {"closed, even count, first and last 0.099 apart",
         {{0, 0, 0}, {1, 0, 0}, {2, 1, 0}, {2, 3, 0}, {0, 4, 0}, {-1, 0, 0}, {-0.5, -0.3, 0}, {0.099, 0, 0}},
         {r13, 0, 0},
         {r13, 0, 0}},
        // Corners of 3 by 1 and 3 by 4: the chord directions mixed 1:3 and 4:3.
        {"open, even count",
         {{0, 0, 0}, {3, 0, 0}, {3, 1, 0}, {5, 4, 0}, {8, 4, 0}, {8, 0, 0}},
         {r10 / std::sqrt(10.0), 3 * r10 / std::sqrt(10.0), 0},
         {0.8 * r10, -0.6 * r10, 0}},
        {"open at a gap of 0.1",
         {{0, 0, 0}, {3, 0, 0}, {3, 1, 0}, {0.1, 2, 0}, {0.1, 1, 0}, {0.1, 0, 0}},
         {r10 / std::sqrt(10.0), 3 * r10 / std::sqrt(10.0), 0},
         {0, -r10, 0}},
    };
    for (const auto& c : cases) {
        const auto n = static_cast<int32_t>(c.pts.size());
        BsplPtr b(splineThroughPoints3D(c.pts.data(), n, kSplineChord));
        ASSERT_TRUE(b) << c.what;
        const double* K = b->knots;
        const Vec3* Q = b->ctrl;
        const double f0 = 3 / K[4], f1 = 3 / (1 - K[n + 1]);
        const Vec3 start = {(Q[1].x - Q[0].x) * f0, (Q[1].y - Q[0].y) * f0, (Q[1].z - Q[0].z) * f0};
        const Vec3 end = {(Q[n + 1].x - Q[n].x) * f1, (Q[n + 1].y - Q[n].y) * f1, (Q[n + 1].z - Q[n].z) * f1};
        EXPECT_NEAR(start.x, c.start.x, 1e-12) << c.what;
        EXPECT_NEAR(start.y, c.start.y, 1e-12) << c.what;
        EXPECT_NEAR(end.x, c.end.x, 1e-12) << c.what;
        EXPECT_NEAR(end.y, c.end.y, 1e-12) << c.what;
        EXPECT_EQ(start.z, 0.0);
        EXPECT_EQ(end.z, 0.0);
    }
}

TEST(Spline, BsplineRefusesDegenerateInput) {
    const std::vector<Vec3> two = {{0, 0, 0}, {1, 0, 0}};
    EXPECT_EQ(splineThroughPoints3D(two.data(), 2, kSplineChord), nullptr);
    EXPECT_EQ(splineThroughPoints3D(two.data(), 0, kSplineChord), nullptr);
    EXPECT_EQ(splineThroughPoints3D(nullptr, 5, kSplineChord), nullptr);
    const std::vector<Vec3> same(4, Vec3{2, 2, 2});
    EXPECT_EQ(splineThroughPoints3D(same.data(), 4, kSplineChord), nullptr);
    EXPECT_EQ(splineThroughPoints3DKnots(same.data(), 4, nullptr), nullptr);
}

TEST(Spline, CopyToHandle) {
    double buffer[2] = {0, 0};
    void* handle = buffer;
    const double data[2] = {1.5, -2.5};
    EXPECT_EQ(copyToHandle(&handle, data, sizeof data), 0);
    EXPECT_EQ(buffer[0], 1.5);
    EXPECT_EQ(buffer[1], -2.5);
    EXPECT_EQ(copyToHandle(nullptr, data, sizeof data), -1);
    void* none = nullptr;
    EXPECT_EQ(copyToHandle(&none, data, sizeof data), -1);
}
