#include "avoidance/macro.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/msg_capture.h"
#include "geometry/rng.h"
#include "plunge/cycparams.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kDeg = kPi / 180;

MacroParams params(uint16_t approach, uint16_t leave) {
    MacroParams m{};
    m.approachType = approach;
    m.leaveType = leave;
    m.arcStepAngle = 10 * kDeg;
    m.approachDistance = 2.0;
    m.leaveDistance = 1.0;
    m.trajectoryHeight = 5.0;
    m.trajectoryDir = 1;
    m.trajectoryRadius = 5.0;
    return m;
}

struct Fresh {
    Fresh() { macroResetState(); }
    ~Fresh() { macroResetState(); }
};

double dist(const Vec3& a, const Vec3& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

// Centre of the circle through three points.
Vec3 circumcentre(const Vec3& a, const Vec3& b, const Vec3& c) {
    const Vec3 u{b.x - a.x, b.y - a.y, b.z - a.z}, v{c.x - a.x, c.y - a.y, c.z - a.z};
    const Vec3 w{u.y * v.z - u.z * v.y, u.z * v.x - u.x * v.z, u.x * v.y - u.y * v.x};
    const double uu = u.x * u.x + u.y * u.y + u.z * u.z, vv = v.x * v.x + v.y * v.y + v.z * v.z;
    const double ww = w.x * w.x + w.y * w.y + w.z * w.z;
    // a + ((|u|^2 v - |v|^2 u) x w) / (2 |w|^2)
    const Vec3 s{uu * v.x - vv * u.x, uu * v.y - vv * u.y, uu * v.z - vv * u.z};
    const Vec3 t{s.y * w.z - s.z * w.y, s.z * w.x - s.x * w.z, s.x * w.y - s.y * w.x};
    return {a.x + t.x / (2 * ww), a.y + t.y / (2 * ww), a.z + t.z / (2 * ww)};
}

TEST(Macro, ArcChordLength) {
    struct Case {
        double r, a, want;
    } cases[] = {
        {5, kPi / 2, 7.0710678}, {2, kPi, 4.0}, {1, kPi / 3, 1.0}, {3, 0, 0}, {3, 1e-3, 0},
    };
    for (const auto& c : cases) EXPECT_NEAR(arcChordLength(c.r, c.a), c.want, 1e-6) << c.r << " " << c.a;
}

TEST(Macro, BuildCasesGiveTheirPoints) {
    Fresh f;
    const Vec3 z{0, 0, 1};
    struct Case {
        int32_t kind;
        uint16_t type;
        double distance, angle;
        const Vec3* axis;
        int32_t side;
        std::vector<Vec3> want;  // empty: no macro
    } cases[] = {
        {kMacroApproach, 22, 0.0, 0, nullptr, 1, {}},  // the set-up's approach distance
        {kMacroLeave, 2, 1.0, 0, nullptr, 1, {{0, 0, 0}, {1, 0, 0}}},
        {kMacroLeave, 2, 2.0, kPi / 2, nullptr, 1, {{0, 0, 0}, {0, 0, 2}}},
        {kMacroLeave, 0, 3.0, 0, nullptr, 1, {{0, 0, 0}, {0, 0, 3}}},
        {kMacroLeave, 4, 2.0, kPi / 2, nullptr, 1, {{0, 0, 0}, {0, 2, 0}}},
        {kMacroLeave, 4, 2.0, kPi / 2, nullptr, -1, {{0, 0, 0}, {0, -2, 0}}},
        {kMacroLeave, 11, 2.0, 0, nullptr, -1, {{0, 0, 0}, {0, -2, 0}}},
        {kMacroLeave, 20, 2.0, 0, &z, 1, {{0, 0, 0}, {0, 0, 2}}},
        {kMacroApproach, 22, 2.0, 0, &z, 1, {{0, 0, 0}, {0, -2, 5}}},  // side reversed, lifted by 5
        {kMacroLeave, 22, 2.0, 0, &z, 1, {{0, 0, 0}, {0, 2, 0}}},      // leave macros are not lifted
        {kMacroLeave, 7, 2.0, 0, nullptr, 1, {{0, 0, 0}}},
        {kMacroLeave, 19, 2.0, 0, nullptr, 1, {{0, 0, 0}}},
        {kMacroLeave, 6, 2.0, 0, nullptr, 1, {{0, 0, 0}}},
    };
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};
    macroSetLiftHeight(5.0);
    for (size_t n = 0; n < std::size(cases); ++n) {
        const Case& c = cases[n];
        MacroParams m = params(c.type, c.type);
        m.approachDistance = m.leaveDistance = c.distance;
        m.approachAngle = m.leaveAngle = c.angle;
        MacroPath* path = macroBuild(c.kind, &p0, &p1, &m, c.side, nullptr, 0, c.axis);
        if (c.want.empty()) {
            EXPECT_EQ(path, nullptr) << n;
            continue;
        }
        ASSERT_NE(path, nullptr) << n;
        ASSERT_EQ(path->count, static_cast<int32_t>(c.want.size())) << n;
        for (size_t i = 0; i < c.want.size(); ++i) EXPECT_LT(dist(path->points[i], c.want[i]), 1e-9) << n;
        EXPECT_EQ(path->moveDir.x, 1.0) << n;
        macroPathFree(path);
    }
}

TEST(Macro, ApproachType7BecomesARaiseForTheRun) {
    Fresh f;
    MacroParams m = params(7, 0);
    const Vec3 p0{1, 1, 1}, p1{0, 1, 1};
    MacroPath* path = macroBuild(kMacroApproach, &p0, &p1, &m, 1, nullptr, 0, nullptr);
    ASSERT_NE(path, nullptr);
    ASSERT_EQ(path->count, 2);
    EXPECT_DOUBLE_EQ(path->points[1].z, 6.0);
    EXPECT_EQ(m.approachType, 0);
    EXPECT_EQ(m.approachDistance, 5.0);
    macroPathFree(path);
    m = params(0, 12);
    path = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, nullptr);
    ASSERT_NE(path, nullptr);
    EXPECT_EQ(m.leaveType, 0);
    macroPathFree(path);
}

TEST(Macro, ZeroArcStepIsRefusedWithAMessage) {
    Fresh f;
    MessageCapture cap(9);
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0}, z{0, 0, 1};
    const uint16_t types[] = {1, 3, 21, 23, 26, 10, 27, 16, 6};
    for (uint16_t t : types) {
        MacroParams m = params(t, t);
        m.arcStepAngle = 0.0;
        EXPECT_EQ(macroBuild(kMacroApproach, &p0, &p1, &m, 1, nullptr, 0, &z), nullptr) << t;
        if (t != 6) {
            EXPECT_EQ(macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, &z), nullptr) << t;
        }
    }
    EXPECT_EQ(cap.countOf("9999,*MACRO_IWIN"), 17);
}

TEST(Macro, ArcsLieOnTheirCircle) {
    Fresh f;
    rngSeed(116);
    for (int i = 0; i < 60; ++i) {
        const uint16_t type = i % 2 ? 1 : 3;
        MacroParams m = params(type, type);
        m.arcStepAngle = (5 + rngBelow(20)) * kDeg;
        m.leaveDistance = 0.5 + 4 * rngUniform();
        const Vec3 p0{rngUniform() * 10, rngUniform() * 10, rngUniform() * 10};
        const double ang = rngUniform() * 2 * kPi;
        const Vec3 p1{p0.x - std::cos(ang), p0.y - std::sin(ang),
                      p0.z - (type == 1 ? 0.3 * rngUniform() : 0)};
        const int32_t side = rngBelow(2) ? 1 : -1;
        MacroPath* path = macroBuild(kMacroLeave, &p0, &p1, &m, side, nullptr, 0, nullptr);
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(path->capacity, 2 + static_cast<int32_t>(2 * kPi / m.arcStepAngle));
        ASSERT_GE(path->count, 3) << i;
        const Vec3 c = circumcentre(path->points[0], path->points[1], path->points[2]);
        for (int32_t k = 0; k < path->count; ++k)
            EXPECT_NEAR(dist(path->points[k], c), m.leaveDistance, 1e-7) << i << " " << k;
        if (type == 3) {
            EXPECT_NEAR(dist(path->arcCentre, c), 0.0, 1e-7) << i;
            // A quarter turn at most: the last chord still goes on along the move.
            const Vec3& a = path->points[path->count - 2];
            const Vec3& b = path->points[path->count - 1];
            EXPECT_GT((b.x - a.x) * std::cos(ang) + (b.y - a.y) * std::sin(ang), -1e-9);
            // The side decides the sense of the turn.
            const double turn = std::cos(ang) * (b.y - a.y) - std::sin(ang) * (b.x - a.x);
            EXPECT_EQ(turn > 0 ? 1 : -1, side) << i;
        } else {
            for (int32_t k = 1; k < path->count; ++k)
                EXPECT_GE(path->points[k].z, path->points[k - 1].z - 1e-9) << i;
        }
        macroPathFree(path);
    }
}

TEST(Macro, AxisArcTurnsTowardTheAxis) {
    Fresh f;
    MacroParams m = params(21, 21);
    const Vec3 p0{1, 2, 3}, p1{0, 2, 3}, y{0, 1, 0};
    const double c = arcChordLength(1.0, m.arcStepAngle);
    int32_t counts[2] = {0, 0};
    for (int32_t link = 0; link < 2; ++link) {
        macroSetLinkMode(link);
        MacroPath* path = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, &y);
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(path->capacity, 38);
        counts[link] = path->count;
        EXPECT_EQ(path->direction.y, 1.0);
        // Without the link switch the arc's first chord is left out.
        const double t = (link ? 1 : 2) * m.arcStepAngle;
        EXPECT_NEAR(path->points[1].x, 1 + c * std::cos(t), 1e-12);
        EXPECT_NEAR(path->points[1].y, 2 + c * std::sin(t), 1e-12);
        for (int32_t k = 0; k < path->count; ++k) EXPECT_NEAR(path->points[k].z, 3.0, 1e-12);
        macroPathFree(path);
    }
    EXPECT_EQ(counts[0] + 1, counts[1]);
    EXPECT_EQ(counts[1], 10);  // chords at 10 to 90 degrees
}

TEST(Macro, OffsetsAndSetUp) {
    Fresh f;
    MacroParams m = params(0, 0);
    m.leaveValue = -1.0;
    m.approachValue = 2.5;
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};
    MacroPath* leave = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, nullptr);
    MacroPath* app = macroBuild(kMacroApproach, &p0, &p1, &m, 1, nullptr, 0, nullptr);
    ASSERT_NE(leave, nullptr);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(leave->offset, 0.0);
    EXPECT_EQ(app->offset, 2.5);
    Vec3 q{1, 1, 1};
    macroPathOffsetPoint(app, &q);
    EXPECT_EQ(q.z, 3.5);
    macroPathFree(leave);
    macroPathFree(app);

    cycleParamsResetState();
    struct Case {
        int16_t fillet, cutDir;
        double stepover;
        uint16_t approach, leave;
    } cases[] = {{0, 1, 0, 22, 22}, {1, 1, 0, 25, 25}, {0, 2, 0, 22, 2}, {1, 2, 1, 21, 2}};
    for (const auto& c : cases) {
        CycleParams cp = *cycleParams();
        cp.filletStrategy = c.fillet;
        cp.cutDirection = c.cutDir;
        cp.stepover = c.stepover;
        cp.macroTrad = 4.0;
        MacroParams out{};
        ASSERT_EQ(macroParamsSetUp(&out, &cp), 1);
        EXPECT_EQ(out.approachType, c.approach);
        EXPECT_EQ(out.leaveType, c.leave);
        EXPECT_EQ(out.approachDistance, 0.0);
        EXPECT_EQ(out.leaveDistance, 1.0);
        EXPECT_NEAR(out.arcStepAngle, 10 * kDeg, 1e-15);
        EXPECT_NEAR(out.leaveSwing, 45 * kDeg, 1e-15);
        EXPECT_EQ(out.trajectoryMode, 2);
        EXPECT_EQ(out.trajectoryRadius, 4.0);
    }
}

}  // namespace
