#include "avoidance/macro.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <vector>

#include "geometry/msg_capture.h"
#include "kernel/base/rng.h"
#include "near.h"

namespace {

constexpr double kPi = 3.14159265358979323846, kDeg = kPi / 180;

MacroParams params(uint16_t type, double distance, double angle = 0) {
    MacroParams m{};
    m.approachType = m.leaveType = type;
    m.arcStepAngle = 10 * kDeg;
    m.approachDistance = m.leaveDistance = distance;
    m.approachAngle = m.leaveAngle = angle;
    m.trajectoryHeight = 5.0;
    return m;
}

TEST(Macro, ArcChordLength) {
    const double cases[][3] = {
        {5, kPi / 2, 7.0710678}, {2, kPi, 4}, {1, kPi / 3, 1}, {3, 0, 0}, {3, 1e-3, 0}};
    for (const auto& c : cases) EXPECT_NEAR(arcChordLength(c[0], c[1]), c[2], 1e-6) << c[0] << " " << c[1];
}

TEST(Macro, BuildCasesGiveTheirPoints) {
    macroResetState();
    macroSetLiftHeight(5.0);
    const Vec3 z{0, 0, 1}, p0{0, 0, 0}, p1{-1, 0, 0};
    struct Case {
        int32_t kind;
        uint16_t type;
        double distance, angle;
        const Vec3* axis;
        int32_t side;
        std::vector<Vec3> want;  // empty: no macro
    } cases[] = {
        {kMacroApproach, 22, 0.0, 0, nullptr, 1, {}},  // the set-up's approach distance
        {kMacroLeave, 2, 1.0, 0, nullptr, 1, {p0, {1, 0, 0}}},
        {kMacroLeave, 2, 2.0, kPi / 2, nullptr, 1, {p0, {0, 0, 2}}},
        {kMacroLeave, 2, 1e4, 1e-5, nullptr, 1, {p0, {1e4 * std::cos(1e-5), 0, 1e4 * std::sin(1e-5)}}},
        {kMacroLeave, 0, 3.0, 0, nullptr, 1, {p0, {0, 0, 3}}},
        {kMacroLeave, 4, 2.0, kPi / 2, nullptr, -1, {p0, {0, -2, 0}}},
        {kMacroLeave, 14, 2.0, kPi / 6, nullptr, 1, {p0, {std::sqrt(2.), std::sqrt(2.), 1}}},
        {kMacroLeave, 11, 2.0, 0, nullptr, -1, {p0, {0, -2, 0}}},
        {kMacroLeave, 11, 2.0, 0, nullptr, 1, {p0, {0, 2, 0}}},
        {kMacroLeave, 20, 2.0, 0, &z, 1, {p0, {0, 0, 2}}},
        {kMacroApproach, 22, 2.0, 0, &z, 1, {p0, {0, -2, 5}}},   // side reversed, lifted by 5
        {kMacroLeave, 22, 2.0, 0, &z, 1, {p0, {0, 2, 0}}},       // leave macros are not lifted
        {kMacroLeave, 22, 2.0, 0, nullptr, 1, {p0, {0, 2, 0}}},  // without an axis: type 4 by pi/2
        {kMacroLeave, 24, 2.0, 0.3, nullptr, -1, {p0, {2 * std::cos(0.3), -2 * std::sin(0.3), 0}}},
        {kMacroLeave, 7, 2.0, 0, nullptr, 1, {p0}},
        {kMacroApproach, 7, 2.0, 0, nullptr, 1, {p0, {0, 0, 5}}},  // raised by the trajectory height
        {kMacroLeave, 19, 2.0, 0, nullptr, 1, {p0}},
        {kMacroLeave, 12, 2.0, 0, nullptr, 1, {p0, {0, 0, 2}}},  // without a target: raised as type 0
        {kMacroLeave, 6, 2.0, 0, nullptr, 1, {p0}},
    };
    for (const Case& c : cases) {
        MacroParams m = params(c.type, c.distance, c.angle);
        m.leaveSwing = kPi / 4;
        // The other kind's distance and angle must not matter.
        (c.kind == kMacroApproach ? m.leaveDistance : m.approachDistance) = 9.0;
        (c.kind == kMacroApproach ? m.leaveAngle : m.approachAngle) = 0.7;
        MacroPath* path = macroBuild(c.kind, &p0, &p1, &m, c.side, nullptr, 0, c.axis);
        if (c.want.empty()) {
            EXPECT_EQ(path, nullptr) << c.type;
            continue;
        }
        ASSERT_NE(path, nullptr) << c.type;
        ASSERT_EQ(path->count, static_cast<int32_t>(c.want.size())) << c.type;
        for (size_t i = 0; i < c.want.size(); ++i) EXPECT_VEC_NEAR(path->points[i], c.want[i], 1e-9);
        EXPECT_VEC_NEAR(path->moveDir, (Vec3{1, 0, 0}), 0);
        EXPECT_EQ(path->axes, nullptr);  // the tool keeps its own axes along these
        // Approach type 7 leaves type 0 and the height for the rest of the run.
        EXPECT_TRUE(c.type != 7 || c.kind != kMacroApproach || m.approachType + m.approachDistance == 5.0);
        macroPathFree(path);
    }
    // Types that take no direction from the move still build when p0 and p1 coincide; the others
    // hold p0 alone. Type 20 without an axis rises as type 0.
    const Vec3 target{5, 5, 5};
    const struct {
        uint16_t type;
        const Vec3* axis;
        std::vector<Vec3> want;
    } still[] = {{0, nullptr, {p0, {0, 0, 2}}},
                 {15, nullptr, {p0, {0, 0, 2}}},
                 {16, &target, {p0, target}},
                 {12, &target, {p0, target}},
                 {20, &z, {p0, {0, 0, 2}}},
                 {20, nullptr, {p0, {0, 0, 2}}},
                 {2, nullptr, {p0}}};
    for (const auto& c : still) {
        MacroParams sm = params(c.type, 2.0);
        MacroPath* path = macroBuild(kMacroLeave, &p0, &p0, &sm, 1, nullptr, 0, c.axis);
        ASSERT_NE(path, nullptr) << c.type;
        ASSERT_EQ(path->count, static_cast<int32_t>(c.want.size())) << c.type;
        for (size_t i = 0; i < c.want.size(); ++i) EXPECT_VEC_NEAR(path->points[i], c.want[i], 1e-12);
        macroPathFree(path);
    }
    // Type 16 heads for its target unless the link mode raises it: a leave from mode 1, an approach in
    // mode 2.
    for (int32_t mode : {0, 1, 2})
        for (int32_t kind : {kMacroLeave, kMacroApproach}) {
            macroSetLinkMode(mode);
            MacroParams tm = params(16, 2.0);
            MacroPath* path = macroBuild(kind, &p0, &p0, &tm, 1, nullptr, 0, &target);
            ASSERT_NE(path, nullptr);
            const bool raised = kind == kMacroLeave ? mode != 0 : mode == 2;
            EXPECT_VEC_NEAR(path->points[path->count - 1], (raised ? Vec3{0, 0, 2} : target), 1e-12);
            macroPathFree(path);
        }
    macroSetLinkMode(0);
    // A vertical arc after a vertical move has no plane to turn in: one move straight on.
    const Vec3 below{0, 0, -1};
    MacroParams vm = params(1, 2.0);
    MacroPath* up = macroBuild(kMacroLeave, &p0, &below, &vm, 1, nullptr, 0, nullptr);
    ASSERT_NE(up, nullptr);
    ASSERT_EQ(up->count, 2);
    EXPECT_VEC_NEAR(up->points[1], (Vec3{0, 0, 2}), 1e-12);
    macroPathFree(up);
    MacroParams m = params(12, 2);
    macroPathFree(macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, nullptr));
    EXPECT_EQ(m.leaveType, 0);
    // Away from the origin the lift is the same: it grows with the length walked along the macro alone.
    const Vec3 q0{10, 20, 30}, q1{9, 20, 30};
    m = params(22, 2.0);
    MacroPath* path = macroBuild(kMacroApproach, &q0, &q1, &m, 1, nullptr, 0, &z);
    ASSERT_NE(path, nullptr);
    ASSERT_EQ(path->count, 2);
    EXPECT_VEC_NEAR(path->points[1], (Vec3{10, 18, 35}), 1e-9);
    macroPathFree(path);
}

// Each tolerance of 1e-5 decides at its edge: a move of exactly 1e-5 has a direction, a turn or a raise
// of exactly 1e-5 is made, one just below is not; a side step after a vertical move goes to +y.
TEST(Macro, TolerancesDecideAtTheirEdges) {
    macroResetState();
    const double r = std::sqrt(2.0), t = 1e-5, below = 0.99e-5;
    const Vec3 o{0, 0, 0}, tiny{t, 0, 0}, tinier{below, 0, 0}, back{-1, 0, 0}, sloped{-1, 0, -1},
        down{0, 0, -1};
    const double y = 0.99999999995;  // with x = 1e-5 a length of exactly 1
    const Vec3 edge{t, y, 0}, edgeBelow{below, y, 0};
    struct Case {
        uint16_t type;
        Vec3 p0, p1;
        double angle;
        int32_t side;
        std::vector<Vec3> want;  // after p0
    } cases[] = {
        {2, tiny, o, 0, 1, {{2 + t, 0, 0}}},
        {2, tinier, o, 0, 1, {}},
        {2, o, back, t, 1, {{2 * std::cos(t), 0, 2 * std::sin(t)}}},
        {2, o, back, below, 1, {{2, 0, 0}}},
        {4, o, sloped, 0, 1, {{r, 0, r}}},
        {4, o, sloped, below, -1, {{r, 0, r}}},
        {4, o, sloped, t, 1, {{r * std::cos(t), r * std::sin(t), 0}}},
        {4, o, sloped, t, -1, {{r * std::cos(t), -r * std::sin(t), 0}}},
        {11, o, down, 0, -1, {{0, 2, 0}}},
        {11, edge, o, 0, -1, {{t, y - 2, 0}}},  // the move's unit x is exactly 1e-5
        {11, edgeBelow, o, 0, -1, {{below, y + 2, 0}}},
    };
    for (const Case& c : cases) {
        MacroParams m = params(c.type, 2.0, c.angle);
        MacroPath* path = macroBuild(kMacroLeave, &c.p0, &c.p1, &m, c.side, nullptr, 0, nullptr);
        ASSERT_NE(path, nullptr) << c.type;
        ASSERT_EQ(path->count, static_cast<int32_t>(c.want.size()) + 1) << c.type << " " << c.angle;
        EXPECT_VEC_NEAR(path->points[0], c.p0, 0);
        for (size_t i = 0; i < c.want.size(); ++i) EXPECT_VEC_NEAR(path->points[i + 1], c.want[i], 1e-12);
        // The move's direction is known from a length of 1e-5 on.
        const Vec3 w{c.p0.x - c.p1.x, c.p0.y - c.p1.y, c.p0.z - c.p1.z};
        const double l = std::sqrt(w.x * w.x + w.y * w.y + w.z * w.z);
        const Vec3 dir = l >= t ? Vec3{w.x / l, w.y / l, w.z / l} : o;
        EXPECT_VEC_NEAR(path->moveDir, dir, 1e-15);
        macroPathFree(path);
    }
    // Arcs are built from a chord of 1e-5 on; this radius makes the chord of 10 degrees exactly that.
    const double edgeRadius = 5.7368566228349205e-05;
    ASSERT_EQ(arcChordLength(edgeRadius, 10 * kDeg), t);
    const Vec3 ay{0, 1, 0};
    for (uint16_t type : {1, 3, 21})
        for (double d : {edgeRadius, 5.7e-5}) {
            MacroParams m = params(type, d);
            MacroPath* path =
                macroBuild(kMacroLeave, &o, &back, &m, 1, nullptr, 0, type == 21 ? &ay : nullptr);
            ASSERT_NE(path, nullptr) << type;
            EXPECT_EQ(path->count > 1, d == edgeRadius) << type << " " << d;
            macroPathFree(path);
        }
}

// From a sloped move the raised leave turns the move's own direction up by its angle (type 2); type 9
// starts from the move's level projection.
TEST(Macro, RaisedMovesTurnUpFromTheMoveDirection) {
    macroResetState();
    const Vec3 p0{0, 0, 0}, p1{-1, 0, -1};  // the move rises at 45 degrees
    struct Case {
        uint16_t type;
        double angle, elevation;  // the macro's angle and the elevation it ends at
    } cases[] = {
        {2, kPi / 6, 75 * kDeg}, {2, -kPi / 12, 30 * kDeg}, {2, 0, 45 * kDeg}, {9, kPi / 6, 30 * kDeg}};
    for (const Case& c : cases) {
        MacroParams m = params(c.type, 2.0, c.angle);
        MacroPath* path = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, nullptr);
        ASSERT_NE(path, nullptr) << c.type;
        ASSERT_EQ(path->count, 2) << c.type;
        EXPECT_VEC_NEAR(path->points[1], (Vec3{2 * std::cos(c.elevation), 0, 2 * std::sin(c.elevation)}),
                        1e-9);
        macroPathFree(path);
    }
}

// A leave of type 26 about a tilted tool axis: its arc lies in the plane normal to the axis, on the
// circle of radius d whose tangent at p0 is the move turned by half a step.
TEST(Macro, FlatArcAboutATiltedAxisStaysInItsPlane) {
    macroResetState();
    const Vec3 n{1 / std::sqrt(6.0), 1 / std::sqrt(6.0), 2 / std::sqrt(6.0)}, p0{1, 2, 3}, p1{1, 1, 3};
    MacroParams m = params(26, 2.0);
    MacroPath* path = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, &n);
    ASSERT_NE(path, nullptr);
    ASSERT_GE(path->count, 4);
    const Vec3 w{0, 1, 0};  // the move, p0 - p1
    const double wn = w.x * n.x + w.y * n.y + w.z * n.z;
    Vec3 u{w.x - wn * n.x, w.y - wn * n.y, w.z - wn * n.z};
    const double ul = std::sqrt(u.x * u.x + u.y * u.y + u.z * u.z);
    u = {u.x / ul, u.y / ul, u.z / ul};
    const Vec3 across{n.y * u.z - n.z * u.y, n.z * u.x - n.x * u.z, n.x * u.y - n.y * u.x};
    const double t = m.arcStepAngle / 2, d = 2.0;
    const Vec3 ctr{p0.x + d * (std::cos(t) * across.x - std::sin(t) * u.x),
                   p0.y + d * (std::cos(t) * across.y - std::sin(t) * u.y),
                   p0.z + d * (std::cos(t) * across.z - std::sin(t) * u.z)};
    for (int32_t k = 0; k < path->count; ++k) {
        const Vec3& q = path->points[k];
        EXPECT_NEAR((q.x - p0.x) * n.x + (q.y - p0.y) * n.y + (q.z - p0.z) * n.z, 0.0, 1e-9) << k;
        EXPECT_NEAR(dist3D(&q, &ctr), d, 1e-9) << k;
    }
    macroPathFree(path);
}

TEST(Macro, ZeroArcStepIsRefusedWithAMessage) {
    macroResetState();
    for (int32_t level : {9, 8}) {  // a message of level 9: a host at level 8 does not see it
        MessageCapture cap(level);
        const Vec3 p0{0, 0, 0}, p1{-1, 0, 0}, z{0, 0, 1};
        for (double step : {0.0, 1e-5})  // a step must be larger than 1e-5
            for (uint16_t t : {1, 3, 21, 23, 26, 10, 27, 16, 6}) {
                MacroParams m = params(t, 2);
                m.arcStepAngle = step;
                EXPECT_EQ(macroBuild(kMacroApproach, &p0, &p1, &m, 1, nullptr, 0, &z), nullptr) << t;
                if (t != 6) {
                    EXPECT_EQ(macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, &z), nullptr) << t;
                }
            }
        EXPECT_EQ(cap.countOf("9999,*MACRO_IWIN"), level == 9 ? 34 : 0);
    }
}

TEST(Macro, ArcsLieOnTheirCircle) {
    macroResetState();
    rngSeed(116);
    for (int i = 0; i < 61; ++i) {
        // The last lies far out with one chord square to the move, its end rounded onto the line through
        // p0 square to the move: a centre guessed on that line must not decide the side.
        const bool far = i == 60;
        const double tol = far ? 1e-3 : 1e-9;
        const uint16_t type = i % 2 ? 1 : 3;
        MacroParams m = params(type, far ? 1e12 : 0.5 + 4 * rngUniform());
        m.arcStepAngle = far ? kPi / 2 : (5 + rngBelow(20)) * kDeg;
        const Vec3 p0 =
            far ? Vec3{2e12, 0, 0} : Vec3{rngUniform() * 10, rngUniform() * 10, rngUniform() * 10};
        const double ang = far ? 0 : rngUniform() * 2 * kPi, c = std::cos(ang), s = std::sin(ang);
        const Vec3 p1{p0.x - c, p0.y - s, p0.z - (type == 1 ? 0.3 * rngUniform() : 0)};
        const int32_t side = far || rngBelow(2) ? 1 : -1;
        MacroPath* path = macroBuild(kMacroLeave, &p0, &p1, &m, side, nullptr, 0, nullptr);
        ASSERT_NE(path, nullptr);
        EXPECT_EQ(path->capacity, 2 + static_cast<int32_t>(2 * kPi / m.arcStepAngle));
        ASSERT_GE(path->count, far ? 2 : 3) << i;
        const Vec3 &y = path->points[path->count - 2], &l = path->points[path->count - 1];
        if (type == 3) {
            // Chords of 2 d sin(step / 2), each turned by the step, the first one too: the circle of
            // radius d whose tangent at p0 is the move turned by half a step to the side.
            const double t = ang + side * m.arcStepAngle / 2, d = m.leaveDistance;
            const Vec3 ctr{p0.x - side * d * std::sin(t), p0.y + side * d * std::cos(t), p0.z};
            for (int32_t k = 0; k < path->count; ++k)
                EXPECT_NEAR(dist3D(&path->points[k], &ctr), m.leaveDistance, tol);
            EXPECT_VEC_NEAR(path->arcCentre, ctr, tol);
            EXPECT_TRUE(path->arcFlag == 1 && path->arcSide == side && path->arcRadius == d);
            EXPECT_VEC_NEAR(path->arcStart, p0, 0);
            EXPECT_VEC_NEAR(path->arcEnd, l, 0);
            EXPECT_GT((l.x - y.x) * c + (l.y - y.y) * s, -1e-9);  // a quarter turn at most
            // And no further: the next chord would turn back.
            EXPECT_TRUE(path->count == path->capacity || std::cos(path->count * m.arcStepAngle) <= 1e-12)
                << i;
        } else {  // rising in the vertical plane of the move
            EXPECT_GT(l.z, y.z);
            EXPECT_NEAR((l.x - p0.x) * s - (l.y - p0.y) * c, 0.0, 1e-9);
        }
        macroPathFree(path);
    }
}

// A rising arc from a level move (type 1, or 21 without an axis) and a flat one keep their chords turned
// less than 90 degrees less the stop angle from the move: one turned exactly that far is left out, one just
// short taken. All lie on the circle of radius d tangent at p0 to the move turned half a step up or left.
TEST(Macro, ArcStopsShortOfItsStopAngle) {
    macroResetState();
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0}, z{0, 0, 1};
    const struct {
        double step;
        int32_t m;      // the stop angle: 90 degrees less m steps (the m-th chord meets it exactly)
        double nudge;   // added to the stop angle
        int32_t count;  // points with p0
    } cases[] = {{0.1, 7, 0, 7},    {0.1, 7, -1e-9, 8}, {0.1, 7, 1e-9, 7}, {0.1, 9, 0, 9},
                 {0.05, 18, 0, 18}, {0.15, 6, 0, 6},    {0.2, 4, 0, 4}};
    for (const auto& c : cases)
        for (uint16_t type : {1, 3, 21}) {
            MacroParams m = params(type, 2.0);
            m.arcStepAngle = c.step, m.arcStopAngle = kPi / 2 - c.m * c.step + c.nudge;
            ASSERT_TRUE(c.nudge != 0 || std::cos(c.m * c.step) == std::sin(m.arcStopAngle)) << c.step;
            MacroPath* path = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, nullptr);
            ASSERT_NE(path, nullptr);
            EXPECT_EQ(path->count, c.count) << type << " " << c.step << " " << c.m << " " << c.nudge;
            const double back = -2 * std::sin(c.step / 2), across = 2 * std::cos(c.step / 2);
            const Vec3 ctr = type == 3 ? Vec3{back, across, 0} : Vec3{back, 0, across};
            for (int32_t k = 0; k < path->count; ++k)
                EXPECT_NEAR(dist3D(&path->points[k], &ctr), 2.0, 1e-9) << k;
            if (type == 21) {  // about an upright axis the chords turn by whole steps, the first left out
                MacroPath* up = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, &z);
                EXPECT_EQ(up ? up->count : -1, c.count - 1) << c.step << " " << c.m << " " << c.nudge;
                macroPathFree(up);
            }
            macroPathFree(path);
        }
}

// A step of 180 degrees keeps every chord on the move's line, so no chord ever meets the stop angle:
// the arc ends when its path is full (2 + 360 / 180 places). A build that stalls fails here fast.
TEST(Macro, ArcOnTheMoveLineEndsWhenItsPathIsFull) {
    macroResetState();
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0}, y{0, 1, 0};
    const auto build = [&](uint16_t type) {
        MacroParams m = params(type, 2.0);
        m.arcStepAngle = kPi;
        return macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, type == 21 ? &y : nullptr);
    };
    ASSERT_EXIT(
        (alarm(2), macroPathFree(build(1)), macroPathFree(build(3)), macroPathFree(build(21)), _exit(0)),
        ::testing::ExitedWithCode(0), "");
    for (uint16_t type : {1, 3, 21}) {
        MacroPath* path = build(type);
        ASSERT_NE(path, nullptr);
        SCOPED_TRACE(type);
        EXPECT_EQ(path->count, 4);
        EXPECT_EQ(path->capacity, 4);
        for (int32_t k = 1; k < path->count; ++k)  // chords of 2 d back and forth; the axis arc skips one
            EXPECT_VEC_NEAR(path->points[k], (Vec3{k % 2 * (type == 21 ? 4.0 : -4.0), 0, 0}), 1e-9);
        macroPathFree(path);
    }
}

TEST(Macro, AxisArcTurnsTowardTheAxis) {
    MacroParams m = params(21, 1);
    const Vec3 p0{1, 2, 3}, p1{0, 2, 3}, y{0, 1, 0};
    const double c = arcChordLength(1.0, m.arcStepAngle);
    for (int32_t link = 0; link < 2; ++link) {
        macroSetLinkMode(link);
        MacroPath* path = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, &y);
        ASSERT_NE(path, nullptr);
        // Chords at 10 to 90 degrees in the plane of the move and the axis; without the link switch
        // the first chord is left out.
        EXPECT_EQ(path->capacity * 100 + path->count, 3800 + 9 + link);
        const double t = (2 - link) * m.arcStepAngle;
        EXPECT_VEC_NEAR(path->points[1], (Vec3{1 + c * std::cos(t), 2 + c * std::sin(t), 3}), 1e-12);
        macroPathFree(path);
    }
    macroResetState();
}

TEST(Macro, OffsetsAndSetUp) {
    MacroParams m = params(0, 1);
    m.leaveValue = -1.0;
    m.approachValue = 2.5;
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};
    MacroPath* leave = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, nullptr);
    MacroPath* app = macroBuild(kMacroApproach, &p0, &p1, &m, 1, nullptr, 0, nullptr);
    ASSERT_TRUE(leave && app);
    EXPECT_EQ(leave->offset, 0.0);  // a negative value is no offset
    EXPECT_EQ(app->offset, 2.5);
    // A value not below zero is taken as given, -0 too (its sign reaches the offset points); below, +0.
    for (double v : {-0.0, -1e-300}) {
        m.leaveValue = v;
        MacroPath* z = macroBuild(kMacroLeave, &p0, &p1, &m, 1, nullptr, 0, nullptr);
        ASSERT_NE(z, nullptr);
        EXPECT_EQ(z->offset, 0.0);
        EXPECT_EQ(std::signbit(z->offset), v == 0.0) << v;
        macroPathFree(z);
    }
    Vec3 q{1, 1, 1};
    macroPathOffsetPoint(app, &q);
    EXPECT_EQ(q.z, 3.5);
    macroPathFree(leave), macroPathFree(app);
    // Approach types 12 and 16 keep the offset an earlier macro left; the others set their own.
    for (uint16_t type : {12, 16, 15}) {
        MacroParams first = params(0, 1), then = params(type, 1);
        first.approachValue = 2.5, then.approachValue = 7.0;
        macroPathFree(macroBuild(kMacroApproach, &p0, &p1, &first, 1, nullptr, 0, nullptr));
        MacroPath* next = macroBuild(kMacroApproach, &p0, &p1, &then, 1, nullptr, 0, nullptr);
        ASSERT_NE(next, nullptr) << type;
        EXPECT_EQ(macroTakeOffset(), type == 15 ? 7.0 : 2.5) << type;
        macroPathFree(next);
    }

    // The cycle's defaults.
    MacroSettings base{};
    base.macroIwin = 10, base.macroSwin = 45, base.macroEwin = 45, base.macroTheight = 5, base.macroTdir = 1,
    base.macroTmode = 2;
    struct Case {
        int16_t fillet, cutDir;
        double stepover;
        uint16_t approach, leave;
    } cases[] = {{0, 1, 0, 22, 22},    {1, 1, 0, 25, 25},    {0, 2, 0, 22, 2},
                 {1, 2, 1, 21, 2},     {0, 1, 1e-5, 22, 22},  // a stepover of 1e-5 counts as none
                 {0, 1, 2e-5, 21, 22}, {1, 0, 0, 25, 2}};
    for (const auto& c : cases) {
        MacroSettings cp = base;
        cp.filletStrategy = c.fillet, cp.cutDirection = c.cutDir, cp.stepover = c.stepover, cp.macroTrad = 4;
        MacroParams out{};
        ASSERT_EQ(macroParamsSetUp(&out, &cp), 1);
        EXPECT_EQ(out.approachType * 100 + out.leaveType, c.approach * 100 + c.leave);
        EXPECT_EQ(out.approachDistance + out.leaveDistance, 1.0);
        EXPECT_NEAR(out.arcStepAngle, 10 * kDeg, 1e-15);
        EXPECT_NEAR(out.leaveSwing, 45 * kDeg, 1e-15);
        EXPECT_EQ(out.trajectoryRadius + out.trajectoryMode, 6.0);
    }
    // The cycle gives every macro angle in degrees, the macros take radians.
    double MacroSettings::*const from[] = {&MacroSettings::macroIwin,  &MacroSettings::macroAwin,
                                           &MacroSettings::macroSwin,  &MacroSettings::macroEwin,
                                           &MacroSettings::macroTswin, &MacroSettings::macroTewin};
    double MacroParams::*const to[] = {&MacroParams::arcStepAngle,  &MacroParams::arcStopAngle,
                                       &MacroParams::approachSwing, &MacroParams::leaveSwing,
                                       &MacroParams::approachAngle, &MacroParams::leaveAngle};
    MacroSettings cp = base;
    for (int k = 0; k < 6; ++k) cp.*from[k] = 7.0 * (k + 1);
    MacroParams out{};
    ASSERT_EQ(macroParamsSetUp(&out, &cp), 1);
    for (int k = 0; k < 6; ++k) EXPECT_NEAR(out.*to[k], 7.0 * (k + 1) * kDeg, 1e-15) << k;
}

}  // namespace

// Without a path, point or parameters nothing is built and nothing moves.
TEST(Macro, MissingArgumentsBuildNothing) {
    MacroParams m = params(2, 1);
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};
    EXPECT_EQ(macroBuild(kMacroLeave, nullptr, &p1, &m, 1, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(macroBuild(kMacroLeave, &p0, &p1, nullptr, 1, nullptr, 0, nullptr), nullptr);
    EXPECT_EQ(macroBuild(3, &p0, &p1, &m, 1, nullptr, 0, nullptr), nullptr);  // neither approach nor leave
    EXPECT_EQ(macroParamsSetUp(nullptr, nullptr), 0);
    EXPECT_EQ(macroPathAppend(nullptr, p0), 0);
    MacroPath* full = macroPathCreate(kMacroLeave, 2, 1, 0);
    ASSERT_NE(full, nullptr);
    EXPECT_EQ(macroPathAppend(full, p0), 1);
    EXPECT_EQ(macroPathAppend(full, p1), 0);  // full
    full->direction = {0, 0, 1}, full->offset = 2;
    Vec3 q{1, 1, 1};
    macroPathOffsetPoint(full, &q);
    EXPECT_EQ(q.z, 3.0);
    macroPathOffsetPoint(nullptr, &q);
    macroPathOffsetPoint(full, nullptr);
    EXPECT_EQ(q.z, 3.0);
    // A direction counts from a component of 1e-5 on.
    full->offset = 1e5;
    for (const Vec3& d :
         {Vec3{1e-5, 0, 0}, Vec3{0, -1e-5, 0}, Vec3{0, 0, 1e-5}, Vec3{9.9e-6, 9.9e-6, -9.9e-6}}) {
        full->direction = d;
        Vec3 r{0, 0, 0};
        macroPathOffsetPoint(full, &r);
        const double k = d.x == 9.9e-6 ? 0.0 : 1e5;
        EXPECT_VEC_NEAR(r, (Vec3{k * d.x, k * d.y, k * d.z}), 1e-9);
    }
    EXPECT_EQ(macroStoreGuide(nullptr), -1);
    EXPECT_EQ(macroFollowGuide(nullptr, kMacroLeave, nullptr), 0);
    EXPECT_EQ(macroWrapOnGuide(full, kMacroLeave, nullptr, &p1, nullptr), 0);
    EXPECT_EQ(macroGenType6(nullptr, 5, 0.1, 0.5, 1, 5), nullptr);
    EXPECT_EQ(macroGenRamp(nullptr, 0, 0.5, 5, 0), nullptr);
    EXPECT_EQ(macroGenType13(nullptr, 0.5, 5), nullptr);
    macroPathFree(full);
}

// An approach lifted along the tool axis rises with the square of the share of its length walked: the
// attachment point not at all, the far end by the whole lift height, whatever the macro's shape.
TEST(Macro, ApproachLiftGrowsWithTheSquareOfTheLengthWalked) {
    const Vec3 tilted{0.3 / std::sqrt(1.09), 0, 1 / std::sqrt(1.09)}, z{0, 0, 1};
    struct Case {
        uint16_t type;
        const Vec3* axis;
        double lift, distance = 2.0, angle = 0.4;
        Vec3 p0{2, 1, 4}, p1{1, 0.5, 4};
    } cases[] = {{23, &z, 5.0},      {26, &tilted, 3.0},
                 {22, &tilted, 2.0}, {23, &z, -1.5},
                 {22, &z, 1e-5},     {24, &z, 1.0, std::nextafter(1e-5, 1.0), 0.0, {0, 0, 0}, {-1, -1, 0}}};
    for (const Case& c : cases) {
        const Vec3 &p0 = c.p0, &p1 = c.p1;
        MacroParams m = params(c.type, c.distance, c.angle);
        macroResetState();
        MacroPath* flat = macroBuild(kMacroApproach, &p0, &p1, &m, 1, nullptr, 0, c.axis);
        macroSetLiftHeight(c.lift);
        MacroPath* path = macroBuild(kMacroApproach, &p0, &p1, &m, 1, nullptr, 0, c.axis);
        ASSERT_TRUE(flat && path) << c.type;
        ASSERT_EQ(path->count, flat->count) << c.type;
        ASSERT_GE(path->count, 2) << c.type;
        std::vector<double> walked(1, 0.0);
        for (int32_t i = 1; i < flat->count; ++i)
            walked.push_back(walked.back() + dist3D(&flat->points[i - 1], &flat->points[i]));
        EXPECT_TRUE(c.type != 24 || walked.back() == 1e-5);  // a side step of exactly 1e-5 is still lifted
        for (int32_t i = 0; i < path->count; ++i) {
            const double f = walked[i] / walked.back(), h = c.lift * f * f;
            const Vec3& q = flat->points[i];
            EXPECT_VEC_NEAR(path->points[i],
                            (Vec3{q.x + h * c.axis->x, q.y + h * c.axis->y, q.z + h * c.axis->z}), 1e-9);
        }
        // A leave macro of the same kind stays where it was built.
        MacroPath* leave = macroBuild(kMacroLeave, &p0, &p1, &m, -1, nullptr, 0, c.axis);
        macroSetLiftHeight(0.0);
        MacroPath* leaveFlat = macroBuild(kMacroLeave, &p0, &p1, &m, -1, nullptr, 0, c.axis);
        ASSERT_TRUE(leave && leaveFlat);
        ASSERT_EQ(leave->count, leaveFlat->count);
        for (int32_t i = 0; i < leave->count; ++i) EXPECT_VEC_NEAR(leave->points[i], leaveFlat->points[i], 0);
        macroPathFree(flat), macroPathFree(path), macroPathFree(leave), macroPathFree(leaveFlat);
    }
    macroResetState();
}

// Every built macro but one read from a file sets the offset of the macro being built: its own value,
// a leave's as an approach's; a file macro keeps what was set before it.
TEST(Macro, LeaveMacrosSetTheirOffsetButFilesKeepTheEarlierOne) {
    const Vec3 p0{0, 0, 0}, p1{-1, 0, 0};
    struct Case {
        uint16_t type;
        double offset;  // taken after an approach that left 2.5
    } cases[] = {{0, 7.0}, {2, 7.0}, {4, 7.0}, {12, 7.0}, {kMacroTypeFile, 2.5}};
    for (const Case& c : cases) {
        macroResetState();
        MacroParams first = params(0, 1), then = params(c.type, 1);
        first.approachValue = 2.5, then.leaveValue = 7.0, then.approachValue = -3.0;
        macroPathFree(macroBuild(kMacroApproach, &p0, &p1, &first, 1, nullptr, 0, nullptr));
        macroPathFree(macroBuild(kMacroLeave, &p0, &p1, &then, 1, nullptr, 0, nullptr));
        EXPECT_EQ(macroTakeOffset(), c.offset) << c.type;
        EXPECT_EQ(macroTakeOffset(), 0.0) << c.type;  // taken once
    }
    macroResetState();
}

// Turned moves in the plan from a move in any direction: type 4 by its angle, 5 by a right angle, 14 by its
// swing and raised by d sin(angle); the side sets the sense of the turn, reversed for approaches.
TEST(Macro, TurnedMovesTurnTheMoveDirectionInThePlan) {
    macroResetState();
    rngSeed(117);
    for (int k = 0; k < 24; ++k) {
        const uint16_t type = k % 3 == 0 ? 4 : k % 3 == 1 ? 5 : 14;
        const int32_t kind = k % 4 < 2 ? kMacroLeave : kMacroApproach, side = k % 2 ? 1 : -1;
        const double dir = rngUniform() * 2 * kPi, d = 0.5 + 3 * rngUniform(), angle = rngUniform() - 0.5;
        MacroParams m = params(type, d, angle);
        m.approachSwing = m.leaveSwing = rngUniform() * 2 - 1;
        const Vec3 p0{rngUniform() * 10, rngUniform() * 10, rngUniform() * 10};
        const Vec3 p1{p0.x - std::cos(dir), p0.y - std::sin(dir), p0.z - rngUniform()};
        MacroPath* path = macroBuild(kind, &p0, &p1, &m, side, nullptr, 0, nullptr);
        ASSERT_NE(path, nullptr) << k;
        ASSERT_EQ(path->count, 2) << k;
        const double turn = type == 4 ? angle : type == 5 ? kPi / 2 : m.leaveSwing;
        const double a = dir + (kind == kMacroApproach ? -side : side) * turn;
        // The move's own slope shortens the plan part of the distance.
        const double plan = d / std::hypot(1.0, p0.z - p1.z);
        const double lift = type == 14 ? d * std::sin(angle) : 0.0;
        EXPECT_VEC_NEAR(path->points[1],
                        (Vec3{p0.x + plan * std::cos(a), p0.y + plan * std::sin(a), p0.z + lift}), 1e-9);
        macroPathFree(path);
    }
}

// The trajectory approaches come from their generators: a helix of the trajectory radius rising by the
// trajectory height about p0 (6), ramps along the guide (8, 28) and down a closed contour (13).
TEST(Macro, TrajectoryApproachesComeFromTheirGenerators) {
    macroResetState();
    Plist* guide = plistCreate(8, 1);
    ASSERT_NE(guide, nullptr);
    const Vec3 up{0, 0, 1};
    for (int i = 0; i <= 4; ++i) {  // a closed square of side 3
        const Vec3 q{i == 1 || i == 2 ? 3.0 : 0.0, i == 2 || i == 3 ? 3.0 : 0.0, 1.0};
        plistAppend(guide, 3.0 * i, &q, 0, &up, 0);
    }
    const Vec3 p0 = guide->points[0], p1{-1, 0, 1};
    for (uint16_t type : {6, 8, 28, 13}) {
        MacroParams m = params(type, 2.0, 30 * kDeg);
        m.trajectoryRadius = 1.5, m.trajectoryDir = 1, m.trajectoryHeight = 2.0;
        MacroPath* got = macroBuild(kMacroApproach, &p0, &p1, &m, 1, guide, 0, nullptr);
        MacroPath* want = type == 6    ? macroGenType6(&p0, 1.5, m.arcStepAngle, 30 * kDeg, 1, 2.0)
                          : type == 13 ? macroGenType13(guide, 30 * kDeg, 2.0)
                                       : macroGenRamp(guide, 0, 30 * kDeg, 2.0, type == 28);
        ASSERT_TRUE(got && want) << type;
        EXPECT_EQ(got->macroType, type == 13 ? 8 : type) << type;
        ASSERT_EQ(got->count, want->count) << type;
        ASSERT_GT(got->count, 2) << type;
        for (int32_t i = 0; i < got->count; ++i) EXPECT_VEC_NEAR(got->points[i], want->points[i], 0);
        macroPathFree(got), macroPathFree(want);
    }
    plistFree(guide);
    macroResetState();
}
