#include "geometry/curve3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

#include "msg_capture.h"

namespace {

struct CurveDeleter {
    void operator()(PolyCurve* c) const { polyCurveFree(c); }
};
using CurvePtr = std::unique_ptr<PolyCurve, CurveDeleter>;

struct ProfileDeleter {
    void operator()(ProfileCurve* p) const { profileFreeList(p); }
};
using ProfilePtr = std::unique_ptr<ProfileCurve, ProfileDeleter>;

struct Polyline {
    Vec3* pts = nullptr;
    int32_t count = 0;
    ~Polyline() { std::free(pts); }
};

double distPointSeg3D(const Vec3& p, const Vec3& a, const Vec3& b) {
    const Vec3 ab{b.x - a.x, b.y - a.y, b.z - a.z}, ap{p.x - a.x, p.y - a.y, p.z - a.z};
    const double l2 = ab.x * ab.x + ab.y * ab.y + ab.z * ab.z;
    double t = l2 > 0 ? (ap.x * ab.x + ap.y * ab.y + ap.z * ab.z) / l2 : 0.0;
    t = std::fmin(1.0, std::fmax(0.0, t));
    const Vec3 q{a.x + t * ab.x - p.x, a.y + t * ab.y - p.y, a.z + t * ab.z - p.z};
    return std::sqrt(q.x * q.x + q.y * q.y + q.z * q.z);
}

bool samePoint(const Vec3& a, const Vec3& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z;
}

// A quarter circle of radius r as one Bezier segment.
CurvePtr quarterCircle(double r) {
    const double k = 0.5523 * r;
    const Vec3 p0{r, 0, 0}, p1{r, k, 0}, p2{k, r, 0}, p3{0, r, 0};
    return CurvePtr(polyCurveFromBezier(&p0, &p1, &p2, &p3, 1.0));
}

const char kStackWarning[] = "9999,* Warning: converting spline to polyline: Stack Overflow";

class Curve3D : public ::testing::Test {
  protected:
    void SetUp() override { curve3DResetState(); }
    void TearDown() override { curve3DResetState(); }
};

}  // namespace

TEST_F(Curve3D, StraightSegmentGivesItsEnds) {
    const Vec3 p0{0, 0, 0}, p1{1, 1, 1}, p2{2, 2, 2}, p3{3, 3, 3};
    CurvePtr c(polyCurveFromBezier(&p0, &p1, &p2, &p3, 1.0));
    Polyline out;
    ASSERT_EQ(curve3DApprox(c.get(), 0.001, &out.pts, &out.count), 0);
    ASSERT_EQ(out.count, 2);
    EXPECT_TRUE(samePoint(out.pts[0], p0));
    EXPECT_TRUE(samePoint(out.pts[1], p3));
    PolyCurve empty{0, nullptr, nullptr};
    Polyline none;
    EXPECT_EQ(curve3DApprox(&empty, 0.001, &none.pts, &none.count), 0);
    EXPECT_EQ(none.count, 0);
    EXPECT_EQ(none.pts, nullptr);
}

TEST_F(Curve3D, PolylineKeepsSegmentEndsAndStaysNearTheCurve) {
    const std::vector<Vec3> through = {{0, 0, 0},  {10, 5, 1},  {20, -5, 2},
                                       {30, 8, 0}, {45, 0, -3}, {50, 2, 0}};
    CurvePtr c(splineThroughPoints(through.data(), static_cast<int32_t>(through.size()), kSplineChord));
    ASSERT_TRUE(c);
    for (double tol : {0.5, 0.05, 0.005}) {
        Polyline out;
        ASSERT_EQ(curve3DApprox(c.get(), tol, &out.pts, &out.count), 0);
        ASSERT_GE(out.count, c->count + 1);
        // Every segment end appears, in order, exactly as evaluated.
        int found = 0;
        for (int i = 0; i < out.count && found <= c->count; ++i) {
            Vec3 end;
            polyEvalHorner3D(&c->segs[found == 0 ? 0 : found - 1], found == 0 ? 0.0 : 1.0, &end);
            if (samePoint(out.pts[i], end)) ++found;
        }
        EXPECT_EQ(found, c->count + 1) << tol;
    }
}

TEST_F(Curve3D, ConvexArcStaysWithinTheTolerance) {
    // On an arc that does not change its sense of turning the middle of each chord is (nearly, the
    // Bezier is not parametrised by arc length) its farthest point, so the midpoint test bounds the
    // whole polyline. Finer tolerances would meet the degeneracy threshold first.
    CurvePtr c = quarterCircle(50);
    for (double tol : {1.0, 0.1, 0.01}) {
        Polyline out;
        ASSERT_EQ(curve3DApprox(c.get(), tol, &out.pts, &out.count), 0);
        double worst = 0.0;
        for (int k = 0; k <= 4000; ++k) {
            Vec3 p;
            polyEvalHorner3D(&c->segs[0], k / 4000.0, &p);
            double best = 1e30;
            for (int i = 1; i < out.count; ++i)
                best = std::fmin(best, distPointSeg3D(p, out.pts[i - 1], out.pts[i]));
            worst = std::fmax(worst, best);
        }
        EXPECT_LE(worst, tol * 1.02) << tol;
    }
}

TEST_F(Curve3D, ChordTest) {
    const struct {
        Vec3 a, m, b;
        double tol;
        int result;
        double dist;
    } cases[] = {
        {{0, 0, 0}, {1, 0.1, 0}, {2, 0, 0}, 0.2, 1, 0.1},
        {{0, 0, 0}, {1, 0.1, 0}, {2, 0, 0}, 0.05, 0, 0.1},
        {{0, 0, 0}, {2, 0, 0}, {1, 0, 0}, 10, 0, 0},             // turns back
        {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, 0, 1, 0},              // no cross product
        {{0, 0, 0}, {0.002, 0.001, 0}, {0.004, 0, 0}, 0, 1, 0},  // a tiny cross product
        {{0, 0, 0}, {1, 0, 3}, {2, 0, 0}, 3, 0, 0},              // turns back in z
    };
    for (const auto& c : cases) {
        double dist = -1;
        EXPECT_EQ(approxChordOk(&c.a, &c.m, &c.b, c.tol, &dist), c.result) << c.tol;
        EXPECT_NEAR(dist, c.dist, 1e-12) << c.tol;
    }
    // A larger threshold counts bigger cross products as degenerate.
    const Vec3 a{0, 0, 0}, m{1, 0.1, 0}, b{2, 0, 0};
    EXPECT_EQ(approxChordOk(&a, &m, &b, 0.0, nullptr), 0);
    approxScaleTol(1e4);
    EXPECT_EQ(approxChordOk(&a, &m, &b, 0.0, nullptr), 1);
    approxScaleTol(1e-4);
    EXPECT_EQ(approxChordOk(&a, &m, &b, 0.0, nullptr), 0);
}

TEST_F(Curve3D, DeepBisectionWarnsAndStops) {
    MessageCapture capture(11);
    CurvePtr c = quarterCircle(1e4);
    Polyline out;
    ASSERT_EQ(curve3DApprox(c.get(), 0.0, &out.pts, &out.count), 0);
    const auto& msgs = capture.messages();
    ASSERT_GE(msgs.size(), 4u);
    EXPECT_EQ(msgs[0], "9999,* curve3DApprox: start");
    EXPECT_EQ(msgs[1], "9999,* curve3DApprox:         51");
    EXPECT_EQ(msgs.back(),
              "9999,* curve3DApprox: " + std::string(10 - std::to_string(out.count).size(), ' ') +
                  std::to_string(out.count));
    EXPECT_GT(capture.countOf(kStackWarning), 0);
    EXPECT_GT(capture.countOf("9999,*  curveApprox: realloc"), 0);
    EXPECT_TRUE(samePoint(out.pts[out.count - 1], Vec3{0, 1e4, 0}));
    // Vertices run along the arc in order.
    for (int i = 1; i < out.count; ++i) EXPECT_GT(out.pts[i].y, out.pts[i - 1].y) << i;
    // Below the error level the warning is not sent.
    setMessageLevel(nullptr, 3);
    capturedMessages().clear();
    Polyline quiet;
    ASSERT_EQ(curve3DApprox(c.get(), 0.0, &quiet.pts, &quiet.count), 0);
    EXPECT_EQ(capture.countOf(kStackWarning), 0);
    EXPECT_EQ(quiet.count, out.count);
}

TEST_F(Curve3D, ChordTestThatNeverPassesStillEnds) {
    MessageCapture capture(11);
    approxScaleTol(0.0);  // nothing counts as degenerate: a curved chord never passes
    CurvePtr c = quarterCircle(10);
    Polyline out;
    ASSERT_EQ(curve3DApprox(c.get(), 0.0, &out.pts, &out.count), 0);
    EXPECT_GT(out.count, 1000);
    EXPECT_LE(out.count, 65536 + 2);
    EXPECT_TRUE(samePoint(out.pts[out.count - 1], Vec3{0, 10, 0}));
    EXPECT_GT(capture.countOf(kStackWarning), 0);
}

TEST_F(Curve3D, BezierBetweenTwoPathPoints) {
    const struct {
        Vec3 A, PA, B, PB;
        double h;
    } cases[] = {
        {{0, 0, 0}, {0, -1, 0}, {10, 0, 0}, {10, -1, 0}, 5},   // an arch
        {{0, 0, 0}, {-1, 0, 0}, {10, 0, 0}, {11, 0, 0}, 2},    // straight on: handles forward
        {{0, 0, 1}, {-1, -1, 1}, {4, 3, 0}, {5, 2, -1}, 1.5},  // skew
    };
    for (const auto& k : cases) {
        CurvePtr c(curveBezierBetween(&k.A, &k.PA, &k.B, &k.PB, k.h));
        ASSERT_TRUE(c);
        EXPECT_EQ(c->params[1], 1.0);
        Vec3 p0, p1, mid, d0;
        ASSERT_EQ(splineEval(c.get(), 0.0, &p0, &d0), 1);
        ASSERT_EQ(splineEval(c.get(), 1.0, &p1, nullptr), 1);
        ASSERT_EQ(splineEval(c.get(), 0.5, &mid, nullptr), 1);
        EXPECT_TRUE(samePoint(p0, k.A));
        EXPECT_NEAR(dist3D(&p1, &k.B), 0.0, 1e-12);
        const Vec3 centre{0.5 * (k.A.x + k.B.x), 0.5 * (k.A.y + k.B.y), 0.5 * (k.A.z + k.B.z)};
        EXPECT_NEAR(dist3D(&mid, &centre), k.h, 1e-9);
        // It leaves A in the direction PA -> A.
        const Vec3 dir{k.A.x - k.PA.x, k.A.y - k.PA.y, k.A.z - k.PA.z};
        EXPECT_NEAR(crossLen3D(&d0, &dir), 0.0, 1e-9);
        EXPECT_GT(vecDot3D(&d0, &dir), 0.0);
    }
    const Vec3 A{0, 0, 0}, B{1, 0, 0}, PB{2, 0, 0}, nearA{0.000005, 0, 0};
    EXPECT_EQ(curveBezierBetween(&A, &nearA, &B, &PB, 1), nullptr);
    EXPECT_EQ(curveBezierBetween(&A, &PB, &B, &B, 1), nullptr);
}

TEST_F(Curve3D, ConnectionLongerThanChordAndHandlesIsRejected) {
    const Vec3 A{0, 0, 0}, PA{0, -1, 0}, B{10, 0, 0}, PB{10, -1, 0};
    Polyline arch;
    ASSERT_EQ(curveApproxBetween(&A, &PA, &B, &PB, 5, 0.01, &arch.pts, &arch.count), 0);
    EXPECT_GT(arch.count, 2);
    double len = 0;
    EXPECT_EQ(polylineWithinLength(arch.pts, arch.count, 20, &len), 0);
    EXPECT_GT(len, 10);
    // Nearly straight on at both ends: the handles grow long and the curve loops.
    const Vec3 PA2{-1, -0.01, 0}, PB2{11, 0, 0};
    Polyline loop;
    loop.count = 99;
    EXPECT_EQ(curveApproxBetween(&A, &PA2, &B, &PB2, 5, 0.01, &loop.pts, &loop.count), -1);
    EXPECT_EQ(loop.pts, nullptr);
    EXPECT_EQ(loop.count, 0);
    Polyline none;
    EXPECT_EQ(curveApproxBetween(&A, &A, &B, &PB, 5, 0.01, &none.pts, &none.count), -1);
}

TEST_F(Curve3D, ProfilePathDipsAndRespectsTheChord) {
    const Vec3 A{0, 0, 2}, PA{0, -1, 2}, B{10, 0, 2}, PB{10, -1, 2};
    ProfilePtr flat(approxProfilePath(&A, &PA, &B, &PB, 0));
    ASSERT_TRUE(flat);
    EXPECT_EQ(flat->kind, kProfilePoints);
    EXPECT_EQ(flat->ownsPoints, 1);
    ASSERT_NE(flat->z, nullptr);
    for (int i = 0; i < flat->count; ++i) EXPECT_NEAR(flat->z[i], 2.0, 1e-12);
    ProfilePtr dip(approxProfilePath(&A, &PA, &B, &PB, 1));
    ASSERT_TRUE(dip);
    const int n = dip->count, half = (n - 1) / 2;
    ASSERT_GT(half, 0);
    EXPECT_NEAR(dip->z[0], 2.0, 1e-12);
    EXPECT_NEAR(dip->z[n - 1], 2.0, 1e-12);
    EXPECT_NEAR(dip->z[half], 2.0 - 5.0, 1e-12);  // h = half the distance
    for (int i = 1; i <= half; ++i) EXPECT_LT(dip->z[i], dip->z[i - 1]);
    EXPECT_NEAR(dip->points[n - 1].x, 10.0, 1e-9);

    approxSetChord(1.0);
    const Vec3 closeB{0.004, 0, 2}, closePB{0.004, -1, 2};
    EXPECT_EQ(approxProfilePath(&A, &PA, &closeB, &closePB, 0), nullptr);
    approxSetChord(2.0);  // the arch is longer than 12
    EXPECT_EQ(approxProfilePath(&A, &PA, &B, &PB, 0), nullptr);
    approxSetChord(5.0);
    ProfilePtr ok(approxProfilePath(&A, &PA, &B, &PB, 0));
    EXPECT_TRUE(ok);
}

TEST_F(Curve3D, LengthLimits) {
    const Vec3 pts[] = {{0, 0, 0}, {3, 0, 0}, {3, 4, 0}};
    const struct {
        int32_t n;
        double limit;
        int result;
        double length;
    } cases[] = {
        {3, 7, 0, 7}, {3, 6.9, -1, 7}, {3, 2, -1, 3}, {1, 0, 0, 0}, {2, 3, 0, 3},
    };
    for (const auto& c : cases) {
        double len = -1;
        EXPECT_EQ(polylineWithinLength(pts, c.n, c.limit, &len), c.result) << c.limit;
        EXPECT_DOUBLE_EQ(len, c.length) << c.limit;
    }
    const Vec3 a{0, 0, 0}, b{3, 0, 4};
    ProfilePtr line(profileLine(&a, &b));  // 3D length 5
    const struct {
        double chord;
        int ok;
    } chords[] = {{0, 1}, {-5e-6, 1}, {1, 1}, {0.8, 0}, {0.9, 1}};
    for (const auto& c : chords) {
        approxSetChord(c.chord);
        EXPECT_EQ(approxProfileLengthOk(line.get()), c.ok) << c.chord;
    }
}
