#include "collision/holdercheck.h"

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "geometry/msg_capture.h"
#include "kernel/base/abort.h"
#include "meshutil.h"
#include "toolshape.h"

namespace {

// A thin vertical post at distance d from the axis between heights z0 and z1.
Triangle3D post(double d, double z0, double z1) {
    return Triangle3D{{{d, -0.3, z0}, {d, 0.3, z0}, {d, 0, z1}}};
}

// Shank only up to the extension, as wide as the extension, which neither widens nor narrows.
ToolDescription plainExtensionTool() {
    ToolDescription t{};
    t.radius = 5, t.tipTop = t.chamferTop = t.cutterTop = 30, t.shaftDiameter = t.stage2Diameter = 10;
    t.stage2Top = 40, t.stage1Top = t.stage3Top = t.stage4Top = 60, t.stage1Diameter = 10;
    return t;
}

}  // namespace

TEST(HolderCheck, FirstCollidingSectionTable) {
    holderCheckResetState();
    ToolDescription tapered = toolshape::stackedTool(), chamfered = toolshape::stackedTool();
    tapered.taperAngle = 5, tapered.shaftDiameter = 14;       // the tapered tip widens from 4.98 to 7
    chamfered.chamferTop = 30, chamfered.shaftDiameter = 16;  // the shank cone from 5 at 20 to 8 at 30
    ToolDescription needle = chamfered;
    needle.shaftDiameter = 2e-5;  // above 1e-5, a shank: its cone narrows from 5 to 1e-5, 3 at 24, 2 at 26
    ToolDescription straight = tapered;
    straight.taperAngle = 1e-6;  // no taper: the tip is the cutter's, not the holder check's
    ToolDescription bare = toolshape::stackedTool();
    bare.stage2Diameter = bare.stage1Diameter = bare.stage3Diameter = bare.stage4Diameter = 0;
    // A top at the shank's foot (20) leaves no cylinder to sweep; 2e-5 above it, one.
    ToolDescription footTop = toolshape::stackedTool(), overFoot = toolshape::stackedTool();
    footTop.stage4Top = 20, overFoot.stage4Top = 20 + 2e-5;
    const struct {
        ToolDescription tool;
        double d, z0, z1;
        int code;
        double reduction = 0;  // taken off the shank's radius
    } cases[] = {{toolshape::stackedTool(), 4, 30, 35, 3},
                 {toolshape::stackedTool(), 3.8, 30, 35, 3, 1.0},
                 {toolshape::stackedTool(), 4.2, 30, 35, 0, 1.0},
                 {toolshape::stackedTool(), 7, 55, 58, 4},
                 {toolshape::stackedTool(), 12, 85, 88, 6},
                 {toolshape::stackedTool(), 20, 0, 200, 0},
                 {toolshape::stackedTool(), 4, 10, 12, 0},  // the cutter is not the holder check's
                 {footTop, 4, 30, 35, 0},
                 {overFoot, 4, 30, 35, 3},
                 {plainExtensionTool(), 4, 45, 50, 1},
                 {tapered, 5.5, 12, 14, 8},
                 {tapered, 8, 12, 14, 0},  // beside the taper: 6.4 wide at 14, up to 7 at the tip's top
                 {tapered, 4.5, 0, 1, 8},  // the taper's foot: 5 cos 5 degrees out, 5 sin 5 below the tip
                 {straight, 5.5, 12, 14, 0},
                 {chamfered, 6.2, 24, 26, 2},  // the upper extension cylinder is still tested
                 {needle, 2.5, 24, 26, 2}};
    const Vec3 tip{0, 0, 0}, down{0, 0, -1};
    for (const auto& c : cases)
        for (const double th : {0.0, 0.6}) {                // the scene turned about x gives the same answer
            if (th > 0 && c.tool.stage4Top < 21) continue;  // a sweep 2e-5 long: the turned frame's rounding
            Triangle3D t = post(c.d, c.z0, c.z1);
            for (Vec3& v : t.p)
                v = {v.x, v.y * std::cos(th) - v.z * std::sin(th), v.y * std::sin(th) + v.z * std::cos(th)};
            testmesh::Model model({t}, kBallMill, 5.0);
            model.m.radiusReduction = c.reduction;
            const Vec3 axis{0, std::sin(th), -std::cos(th)};
            EXPECT_EQ(holderCheck(&model.m, &c.tool, &tip, &axis), c.code) << c.d << " " << c.z0 << " " << th;
        }
    // A section counts above 1e-5 across: alone on the tool, 2e-5 wide it meets a post on the axis up top.
    double ToolDescription::*const alone[] = {
        &ToolDescription::shaftDiameter, &ToolDescription::stage2Diameter, &ToolDescription::stage1Diameter,
        &ToolDescription::stage3Diameter, &ToolDescription::stage4Diameter};
    const int codes[] = {3, 4, 1, 6, 1};
    testmesh::Model axisPost({post(0, 92, 95)}, kBallMill, 5.0);
    for (int k = 0; k < 5; ++k)
        for (const double dia : {1e-5, 2e-5}) {
            ToolDescription t = bare;
            t.shaftDiameter = 0, t.*alone[k] = dia;
            EXPECT_EQ(holderCheck(&axisPost.m, &t, &tip, &down), dia > 1e-5 ? codes[k] : 0)
                << k << " " << dia;
        }
    // Nor does an extension 1e-5 across over a shank of negative diameter, which it would seem to widen.
    ToolDescription hair = bare;
    hair.shaftDiameter = -1, hair.stage2Diameter = hair.stage1Diameter = 1e-5;
    EXPECT_EQ(holderCheck(&axisPost.m, &hair, &tip, &down), 0);
}

// A wall beside the holder: a colliding point is tilted away just past the limit where the holder's
// lower rim, 15 wide at height 80, clears the wall at x = 9; without avoiding, the list is cut.
TEST(HolderCheck, TiltRefinedToTheCollisionLimit) {
    const ToolDescription tool = toolshape::stackedTool();
    testmesh::Model wall({Triangle3D{{{9, -300, 60}, {9, 300, 60}, {9, 300, 400}}},
                          Triangle3D{{{9, -300, 60}, {9, 300, 400}, {9, -300, 400}}}},
                         kBallMill, 5.0);
    double lo = 0, hi = 0.5;  // 15 cos t - 80 sin t = 9 + tolerance
    while (hi - lo > 1e-9) {
        const double t = (lo + hi) / 2;
        (15 * std::cos(t) - 80 * std::sin(t) > 9 + wall.m.tolerance ? lo : hi) = t;
    }
    MessageCapture capture(9);
    for (int run = 0; run < 2; ++run) {
        holderCheckResetState();
        Plist* list = plistCreate(4, 1);
        ASSERT_NE(list, nullptr);
        const Vec3 v{-std::sin(0.05), 0, std::cos(0.05)};
        for (int i = 0; i < 3; ++i) {
            const Vec3 p{0, 5.0 * i, 0};
            plistAppend(list, i, &p, 0, &v, 0);
        }
        HolderParams params{1, 1, 1.0, &tool};
        EXPECT_EQ(holderMeshCollision(list, &wall.m, &params), 1);
        ASSERT_EQ(list->count, 3);
        for (int i = 0; i < 3; ++i) {
            const double tilt = std::acos(list->vectors[i].z);
            EXPECT_GE(tilt, lo - 1e-4) << i;
            EXPECT_LE(tilt, lo + 2e-3) << i;
            EXPECT_LT(list->vectors[i].x, 0);
        }
        EXPECT_EQ(capture.countOf("6011,0"), run + 1);  // once per run
        params.avoid = 0;
        list->vectors[1] = v;
        EXPECT_EQ(holderMeshCollision(list, &wall.m, &params), -2);
        EXPECT_EQ(list->count, 1);
        params.enable = 0;
        EXPECT_EQ(holderMeshCollision(list, &wall.m, &params), 0);
        // A stop asked while the tilt is refined ends the check there, the list cut before the point.
        params.enable = 1, params.avoid = 1;
        list->vectors[0] = v;
        setAbortHook([] { return 1; });
        EXPECT_EQ(holderMeshCollision(list, &wall.m, &params), -2);
        Vec3 axis = v, origin{0, 0, 0};
        EXPECT_EQ(holderTiltSearch(&wall.m, &tool, &origin, &axis, 2, 1.0, nullptr), -2);
        setAbortHook(nullptr);
        EXPECT_EQ(list->count, 0);
        plistFree(list);
    }
    // The avoid message is of the normal level 9: below it nothing is shown.
    MessageCapture quiet(8);
    holderCheckResetState();
    Plist* one = plistCreate(2, 1);
    ASSERT_NE(one, nullptr);
    const Vec3 p{0, 0, 0}, v{-std::sin(0.05), 0, std::cos(0.05)};
    plistAppend(one, 0, &p, kPointLink << 8, &v, 0);  // a link is passed over as it is
    plistAppend(one, 0, &p, 0, &v, 0);
    HolderParams params{1, 1, 1.0, &tool};
    EXPECT_EQ(holderMeshCollision(one, &wall.m, &params), 1);
    EXPECT_TRUE(one->vectors[0].x == v.x && one->vectors[0].z == v.z && one->vectors[1].x != v.x);
    EXPECT_EQ(quiet.countOf("6011,0"), 0);
    plistFree(one);
}

// Disabled, or without a list, model, description or point axes, the check passes the list untouched.
TEST(HolderCheck, NothingToCheckPassesTheList) {
    const ToolDescription tool = toolshape::stackedTool();
    testmesh::Model wall({post(4, 30, 35)}, kBallMill, 5.0);
    Plist* l = plistCreate(2, 1);
    ASSERT_NE(l, nullptr);
    const Vec3 p{0, 0, 0}, up{0, 0, 1};
    plistAppend(l, 0, &p, 0, &up, 0);
    const HolderParams on{1, 0, 0.5, &tool}, off{0, 0, 0.5, &tool}, noDesc{1, 0, 0.5, nullptr};
    EXPECT_EQ(holderMeshCollision(l, &wall.m, &off), 0);
    for (int k = 0; k < 4; ++k)  // a missing argument: nothing checked
        EXPECT_EQ(holderCheck(k ? &wall.m : nullptr, k != 1 ? &tool : nullptr, k != 2 ? &p : nullptr,
                              k != 3 ? &up : nullptr),
                  0);
    EXPECT_EQ(holderMeshCollision(l, &wall.m, &noDesc), 0);
    l->points[0].x = 300;  // checked, and clear of the post
    EXPECT_EQ(holderMeshCollision(l, &wall.m, &on), 0);
    l->points[0] = p;
    EXPECT_EQ(holderMeshCollision(l, nullptr, &on), 0);
    EXPECT_EQ(holderMeshCollision(nullptr, &wall.m, &on), 0);
    EXPECT_EQ(holderMeshCollision(l, &wall.m, nullptr), 0);
    Vec3 tilted{0.1, 0, 1};
    EXPECT_EQ(holderTiltSearch(nullptr, &tool, &p, &tilted, 2, 1.0, nullptr), -2);
    Vec3* axes = std::exchange(l->vectors, nullptr);
    EXPECT_EQ(holderMeshCollision(l, &wall.m, &on), 0);
    l->vectors = axes;
    EXPECT_EQ(l->count, 1);
    EXPECT_EQ(holderMeshCollision(l, &wall.m, &on), -2);  // the shank meets the post: cut
    EXPECT_EQ(l->count, 0);
    plistFree(l);
}

// A vertical axis gives the search no direction to tilt toward: -2 and the axis left as it was, whether
// the body collides there (a wall beside the holder) or not (the wall far off); an axis a hair off the
// vertical has one, and over the far wall stays within the search's last step of itself.
TEST(HolderCheck, AVerticalAxisHasNoTiltDirection) {
    const ToolDescription tool = toolshape::stackedTool();
    auto wallAt = [](double x) {
        return testmesh::Model({Triangle3D{{{x, -300, 60}, {x, 300, 60}, {x, 300, 400}}},
                                Triangle3D{{{x, -300, 60}, {x, 300, 400}, {x, -300, 400}}}},
                               kBallMill, 5.0);
    };
    const Vec3 p{0, 0, 0}, down{0, 0, -1}, up{0, 0, 1}, off{-std::sin(1e-3), 0, std::cos(1e-3)};
    const struct {
        double wallX;
        int collides;
    } cases[] = {{9, 1}, {90, 0}};
    for (const auto& c : cases) {
        testmesh::Model wall = wallAt(c.wallX);
        EXPECT_EQ(holderCheck(&wall.m, &tool, &p, &down) != 0, c.collides == 1) << c.wallX;
        for (int32_t mode : {1, 2}) {
            holderCheckResetState();
            Vec3 axis = up;
            double angle = 7;
            EXPECT_EQ(holderTiltSearch(&wall.m, &tool, &p, &axis, mode, 1.0, &angle), -2) << c.wallX;
            EXPECT_TRUE(axis.x == 0 && axis.y == 0 && axis.z == 1) << c.wallX;
            if (c.collides) continue;
            holderCheckResetState();
            axis = off;
            EXPECT_GE(holderTiltSearch(&wall.m, &tool, &p, &axis, mode, 1.0, &angle), 0);
            // The bisection's last step, and no finer: it stops once its bracket is 1e-3 or less.
            const double moved = std::acos(std::min(1.0, vecDot3D(&axis, &off)));
            EXPECT_TRUE(moved <= 1e-3 && moved > 5e-4) << moved;
            EXPECT_NEAR(std::fabs(angle), moved, 1e-6);
            EXPECT_TRUE(axis.x < 0 && axis.y == 0) << axis.x << " " << axis.y;
        }
    }
}

// Walls nearer the holder than the first tilt step can clear: the search goes on past its first trials
// and still stops just past the limit where the holder's lower rim (15 wide at height 80) clears the
// wall, and the axis it gives is free. The last row adds a wall on the far side, from below the tip
// up, which the holder's top (15 wide at 100) meets from a tilt of about 0.045: from 0.01 only the
// smallest trial step clears both walls.
TEST(HolderCheck, TiltSearchPassesOverCollidingTrials) {
    const ToolDescription tool = toolshape::stackedTool();
    const Vec3 p{0, 0, 0};
    for (const auto& [x, far] : {std::pair{9.0, 0.0}, {6.0, 0.0}, {4.0, 0.0}, {2.0, 0.0}, {12.5, -19.4}}) {
        std::vector<Triangle3D> tris;
        for (const auto& [at, z0] : {std::pair{x, 60.0}, {far, -100.0}})
            if (at != 0)
                tris.insert(tris.end(), {Triangle3D{{{at, -300, z0}, {at, 300, z0}, {at, 300, 400}}},
                                         Triangle3D{{{at, -300, z0}, {at, 300, 400}, {at, -300, 400}}}});
        testmesh::Model wall(tris, kBallMill, 5.0);
        double lo = 0, hi = 0.5;  // 15 cos t - 80 sin t = x + tolerance
        while (hi - lo > 1e-9) {
            const double t = (lo + hi) / 2;
            (15 * std::cos(t) - 80 * std::sin(t) > x + wall.m.tolerance ? lo : hi) = t;
        }
        for (const double tilt : {0.05, 0.01}) {
            if (far != 0 && tilt > 0.01) continue;
            holderCheckResetState();
            Vec3 axis{-std::sin(tilt), 0, std::cos(tilt)};
            double angle = 0;
            ASSERT_GE(holderTiltSearch(&wall.m, &tool, &p, &axis, 1, 1.0, &angle), 0) << x;
            const double got = std::acos(axis.z);
            EXPECT_GE(got, lo - 1e-4) << x << " " << tilt;
            EXPECT_LE(got, lo + 2e-3) << x << " " << tilt;
            const Vec3 a{-axis.x, -axis.y, -axis.z};
            EXPECT_EQ(holderCheck(&wall.m, &tool, &p, &a), 0) << x << " " << tilt;
        }
    }
}
