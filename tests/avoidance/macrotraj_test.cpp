#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "avoidance/macro.h"
#include "geometry/msg_capture.h"
#include "geometry/rng.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180;

struct Fresh {
    Fresh() { macroResetState(); }
    ~Fresh() { macroResetState(); }
};

double xy(const Vec3& a, const Vec3& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

Plist* makeGuide(const std::vector<Vec3>& pts, const std::vector<uint8_t>& kinds = {}, bool vectors = false) {
    Plist* l = plistCreate(static_cast<int32_t>(pts.size()) + 4, vectors);
    if (!l) return nullptr;
    double s = 0;
    for (size_t i = 0; i < pts.size(); ++i) {
        if (i) s += xy(pts[i - 1], pts[i]) + 1e-3;
        const uint16_t flag = static_cast<uint16_t>((i < kinds.size() ? kinds[i] : 0) << 8);
        const Vec3 up{0, 0, 1};
        plistAppend(l, s, &pts[i], flag, &up, 0);
    }
    return l;
}

// Distance in XY from p to the polyline.
double distToPolyline(const Vec3& p, const Plist* l) {
    double best = 1e300;
    for (int32_t i = 1; i < l->count; ++i) {
        const Vec3 &a = l->points[i - 1], &b = l->points[i];
        const double dx = b.x - a.x, dy = b.y - a.y, ll = dx * dx + dy * dy;
        double t = ll > 0 ? ((p.x - a.x) * dx + (p.y - a.y) * dy) / ll : 0;
        t = std::fmin(1, std::fmax(0, t));
        best = std::fmin(best, std::hypot(p.x - a.x - t * dx, p.y - a.y - t * dy));
    }
    return best;
}

TEST(MacroTraj, HelixRisesByItsChordSlope) {
    Fresh f;
    const Vec3 p0{1, 2, 3};
    EXPECT_EQ(macroGenType6(&p0, 5, 10 * kDeg, 0, 1, 5), nullptr);
    EXPECT_EQ(macroGenType6(&p0, 5, 10 * kDeg, 45 * kDeg, 1, 0), nullptr);
    MacroPath* h = macroGenType6(&p0, 5, 10 * kDeg, 45 * kDeg, 1, 5);
    ASSERT_NE(h, nullptr);
    ASSERT_EQ(h->count, 9);
    const double rise = 2 * 5 * std::sin(5 * kDeg);  // tan 45 = 1
    EXPECT_NEAR(rise, 0.8716, 1e-4);
    for (int32_t i = 2; i < 7; ++i) EXPECT_NEAR(h->points[i].z - h->points[i - 1].z, rise, 1e-12) << i;
    for (int32_t i = 1; i < 8; ++i) EXPECT_NEAR(xy(h->points[i], p0), 5.0, 1e-12) << i;
    EXPECT_NEAR(h->points[7].z, 8.0, 1e-12);
    EXPECT_NEAR(h->points[8].x, 1.0, 1e-12);
    EXPECT_NEAR(h->points[8].z, 8.0, 1e-12);
    EXPECT_GT(h->points[2].y, 2.0);  // turning sense 1 turns counter-clockwise
    EXPECT_EQ(h->arcFlag, 2);
    EXPECT_EQ(h->arcSide, -1);
    macroPathFree(h);

    // A ramp too flat for the slots: refused through the message sink, nothing printed.
    MessageCapture cap(9);
    testing::internal::CaptureStdout();
    EXPECT_EQ(macroGenType6(&p0, 5, 10 * kDeg, 1e-4, 1, 5), nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(cap.countOf("9999,Zu viele Punkte"), 1);
}

TEST(MacroTraj, RampAlongThePathKeepsItsSlope) {
    Fresh f;
    rngSeed(40);
    for (int trial = 0; trial < 40; ++trial) {
        std::vector<Vec3> pts;
        Vec3 p{0, 0, rngUniform()};
        const int n = 2 + rngBelow(6);
        for (int i = 0; i < n; ++i) {
            pts.push_back(p);
            p = {p.x + 0.5 + 3 * rngUniform(), p.y + 2 * rngUniform() - 1, p.z - 0.2 * rngUniform()};
        }
        Plist* g = makeGuide(pts);
        ASSERT_NE(g, nullptr);
        const double ramp = (10 + rngBelow(60)) * kDeg, height = 1 + 8 * rngUniform();
        MacroPath* m = macroGenRamp(g, 0, ramp, height, 0);
        ASSERT_NE(m, nullptr) << trial;
        EXPECT_NEAR(m->points[0].x, pts[0].x, 1e-9);
        EXPECT_LE(m->points[0].z, pts[0].z);
        EXPECT_NEAR(m->points[m->count - 1].z - m->points[0].z, height, 1e-6) << trial;
        // Every step climbs by the ramp's slope over its length in the plan, and stays on the path.
        for (int32_t i = 1; i < m->count; ++i) {
            EXPECT_NEAR(m->points[i].z - m->points[i - 1].z,
                        std::tan(ramp) * xy(m->points[i], m->points[i - 1]), 1e-6)
                << trial << " " << i;
            EXPECT_LT(distToPolyline(m->points[i], g), 1e-9);
        }
        macroPathFree(m);
        plistFree(g);
    }
}

TEST(MacroTraj, RampCases) {
    Fresh f;
    Plist* g = makeGuide({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {3, 0, 0}}, {0, 0, 10, 0});
    ASSERT_NE(g, nullptr);
    MacroPath* m = macroGenRamp(g, 0, kPi / 2, 4, 0);  // straight down
    ASSERT_NE(m, nullptr);
    ASSERT_EQ(m->count, 2);
    EXPECT_EQ(m->points[0].z, 0.0);
    EXPECT_EQ(m->points[1].z, 4.0);
    macroPathFree(m);
    EXPECT_EQ(macroGenRamp(g, 1, 45 * kDeg, 4, 0), nullptr);  // the run ends before the kind-10 point
    EXPECT_EQ(macroGenRamp(g, 0, 45 * kDeg, 4, 1), nullptr);  // along the axes needs axes
    // The run 0..1 is 1 long; L = 4 / 2 = 2, so the ramp goes back and forth over it.
    m = macroGenRamp(g, 0, 45 * kDeg, 4, 0);
    ASSERT_NE(m, nullptr);
    double walked = 0;
    for (int32_t i = 1; i < m->count; ++i) walked += xy(m->points[i], m->points[i - 1]);
    EXPECT_NEAR(walked, 4.0, 1e-9);
    for (int32_t i = 0; i < m->count; ++i) EXPECT_LE(m->points[i].x, 1.0 + 1e-12);
    macroPathFree(m);

    // Pieces of at most 0.5: the walk turns at the second point and climbs from the start.
    macroSetRampPieceLength(0.5);
    m = macroGenRamp(g, 0, 45 * kDeg, 3, 0);
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->points[0].z, 0.0);
    EXPECT_NEAR(m->points[m->count - 1].z, 3.0, 1e-9);
    for (int32_t i = 0; i < m->count; ++i) EXPECT_LE(m->points[i].x, 1.0 + 1e-12);
    macroPathFree(m);
    plistFree(g);

    Plist* ga = makeGuide({{0, 0, 0}, {2, 0, 0}, {4, 0, 0}}, {}, true);
    ASSERT_NE(ga, nullptr);
    macroSetRampPieceLength(0);
    m = macroGenRamp(ga, 0, 45 * kDeg, 2, 1);
    ASSERT_NE(m, nullptr);
    ASSERT_NE(m->axes, nullptr);
    EXPECT_EQ(m->macroType, 28);
    EXPECT_NEAR(m->points[0].z, 0.0, 1e-12);
    EXPECT_NEAR(m->points[m->count - 1].z, 2.0, 1e-9);
    macroPathFree(m);
    plistFree(ga);
}

std::vector<Vec3> square(double side, int perSide) {
    std::vector<Vec3> pts;
    const double c[5][2] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    for (int e = 0; e < 4; ++e)
        for (int k = 0; k < perSide; ++k) {
            const double t = double(k) / perSide;
            pts.push_back({side * (c[e][0] + t * (c[e + 1][0] - c[e][0])),
                           side * (c[e][1] + t * (c[e + 1][1] - c[e][1])), 2.0});
        }
    pts.push_back({0, 0, 2.0});
    return pts;
}

TEST(MacroTraj, ContourRampWindsDownOntoTheContour) {
    Fresh f;
    struct Case {
        double side, ramp, height;
    } cases[] = {{4, 10 * kDeg, 5}, {10, 30 * kDeg, 2}, {1, 5 * kDeg, 3}};
    for (const auto& c : cases) {
        Plist* g = makeGuide(square(c.side, 3));
        ASSERT_NE(g, nullptr);
        MacroPath* m = macroGenType13(g, c.ramp, c.height);
        ASSERT_NE(m, nullptr);
        EXPECT_NEAR(m->points[0].x, 0.0, 1e-9);
        EXPECT_NEAR(m->points[0].z, 2.0, 1e-9);
        EXPECT_NEAR(m->points[m->count - 1].z, 2.0 + c.height, 1e-9);
        double walked = 0;
        for (int32_t i = 1; i < m->count; ++i) {
            const double d = xy(m->points[i], m->points[i - 1]);
            walked += d;
            EXPECT_NEAR(m->points[i].z - m->points[i - 1].z, std::tan(c.ramp) * d, 1e-9);
            EXPECT_LT(distToPolyline(m->points[i], g), 1e-9);
        }
        EXPECT_NEAR(walked, c.height / std::tan(c.ramp), 1e-6);
        macroPathFree(m);
        plistFree(g);
    }
    // A contour without length cannot be wound along.
    Plist* dot = makeGuide({{1, 1, 0}, {1, 1, 0}, {1, 1, 0}});
    ASSERT_NE(dot, nullptr);
    EXPECT_EQ(macroGenType13(dot, 10 * kDeg, 5), nullptr);
    plistFree(dot);
}

TEST(MacroTraj, ShiftedContourRampStartsTheGuideWhereItLands) {
    Fresh f;
    macroSetContourRampShift(1);
    Plist* g = makeGuide(square(4, 2));
    ASSERT_NE(g, nullptr);
    const int32_t before = g->count;
    MacroPath* m = macroGenType13(g, 45 * kDeg, 5);  // S = 5: lands 1 along the second side
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(g->count, before + 1);
    EXPECT_NEAR(g->points[0].x, 4.0, 1e-9);
    EXPECT_NEAR(g->points[0].y, 1.0, 1e-9);
    EXPECT_NEAR(m->points[0].x, 4.0, 1e-9);
    EXPECT_NEAR(m->points[0].y, 1.0, 1e-9);
    EXPECT_NEAR(m->points[m->count - 1].z, 7.0, 1e-9);
    EXPECT_LT(xy(g->points[0], g->points[g->count - 1]), 1e-9);  // still closed
    macroPathFree(m);
    plistFree(g);
}

TEST(MacroTraj, ArcsFollowAClosedGuide) {
    Fresh f;
    Plist* g = makeGuide(square(10, 4));
    ASSERT_NE(g, nullptr);
    MacroParams p{};
    p.approachType = p.leaveType = 10;
    p.arcStepAngle = 10 * kDeg;
    p.leaveDistance = 2.0;
    const Vec3 p0{0, 0, 2}, p1{-1, 0, 2};
    MacroPath* m = macroBuild(kMacroLeave, &p0, &p1, &p, 1, g, 0, nullptr);
    ASSERT_NE(m, nullptr);
    ASSERT_GE(m->count, 3);
    for (int32_t i = 1; i < m->count; ++i) {
        EXPECT_LT(distToPolyline(m->points[i], g), 1e-9);
        EXPECT_GT(m->points[i].z, m->points[i - 1].z);  // heights of the vertical arc stay
    }
    macroPathFree(m);

    p.leaveType = 27;
    const Vec3 up{0, 0, 1};
    macroSetLinkMode(1);
    m = macroBuild(kMacroLeave, &p0, &p1, &p, 1, g, 0, &up);
    ASSERT_NE(m, nullptr);
    for (int32_t i = 1; i < m->count; ++i) EXPECT_LT(distToPolyline(m->points[i], g), 1e-9);
    macroPathFree(m);
    plistFree(g);
    // Without a guide the stored one serves.
    m = macroBuild(kMacroLeave, &p0, &p1, &p, 1, nullptr, 0, &up);
    ASSERT_NE(m, nullptr);
    EXPECT_GE(m->count, 3);
    EXPECT_NEAR(m->points[1].x, 0.0, 1e-9);  // forward from the contour's end, which it closes on
    EXPECT_GT(m->points[1].y, 0.0);
    macroPathFree(m);
}

}  // namespace
