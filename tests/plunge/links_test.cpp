#include "avoidance/links.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "allocfail.h"
#include "avoidance/avoidgrid.h"
#include "avoidance/avoidtilt.h"
#include "avoidance/linkout.h"
#include "collision/chkmodel.h"
#include "collision/meshutil.h"
#include "collision/proj.h"
#include "geometry/frames.h"
#include "geometry/msg_capture.h"
#include "kernel/base/abort.h"
#include "kernel/base/rng.h"
#include "kernel/ncout/ncout.h"
#include "../avoidance/near.h"
#include "plunge/idx5.h"

namespace {

struct Out {
    Vec3 p;
    int32_t cls;
    double feed;
    Vec3 axis;       // the last axis sent before the point
    int32_t forced;  // the NC output's infeed class was forced
};
std::vector<Out> gOut;
Vec3 gAxis{};
std::vector<int> gSections;  // +code opened, -code closed
bool gFail = false;
size_t gFailAt = SIZE_MAX;  // the callback fails at this call alone

int recPoint(const Vec3* p, int32_t cls) {
    if (gFail || gFailAt-- == 0) return -1;
    gOut.push_back({*p, cls, ncCurrentFeed(), gAxis, ncIsInfeedFeedForced()});
    return 0;
}
int recAxis(const Vec3* a, int32_t) {
    return gAxis = *a, 0;
}
int recBegin(int32_t code, double, double) {
    return gSections.push_back(code), 0;
}
int recEnd(int32_t code, double, double) {
    return gSections.push_back(-code), 0;
}

class Links : public ::testing::Test {
  protected:
    CheckModel model{};
    ToolGeom tool{};
    LinkContext ctx{};
    const Vec3 up{0, 0, 1};

    void SetUp() override {
        framesResetState();
        linkOutResetState();
        linksResetState();
        linkSetPointCallbacks(recPoint, nullptr, nullptr);
        linkSetSectionHooks(recBegin, recEnd);
        chkModelInit(&model, kMeshTriangles);
        tool.toolType = kBallMill;
        tool.radius = 3.0;
        model.tool = &tool;
        ctx.safetyDistance = 5.0;
        ctx.clearancePlane = 100.0;
        ctx.jumpFlag = 1;
        ctx.linkMacroSwitch = 1;
        ctx.pathMode = 1;
        linkSetToolAxis(&up);
        linkSetNextToolAxis(&up);
        gOut.clear();
        gSections.clear();
        gFail = false;
        gFailAt = SIZE_MAX;
    }
    void TearDown() override {
        linkSetSectionHooks(nullptr, nullptr);
        linkOutResetState();
    }
    void startAt(const Vec3& p) {
        ASSERT_EQ(linkEmitPosition(&p, 1), 0);
        gOut.clear();
    }
};

TEST_F(Links, JumpLinkPointsAndClasses) {
    struct Case {
        bool emitted;
        Vec3 from, T;
        uint16_t linkType;
        std::vector<std::array<double, 4>> expected;  // x, y, z, class
    };
    const Case cases[] = {
        {false, {}, {10, 0, 5}, 0, {{10, 0, 100, 0}, {10, 0, 10, 0}, {10, 0, 5, 1}}},
        {true,
         {10, 0, 0},
         {20, 0, 5},
         0,
         {{10, 0, 5, 0}, {10, 0, 100, 0}, {20, 0, 100, 0}, {20, 0, 10, 0}, {20, 0, 5, 1}}},
        {true, {10, 0, 0}, {20, 0, 5}, 1, {{10, 0, 5, 0}, {10, 0, 10, 0}, {20, 0, 10, 0}, {20, 0, 5, 1}}},
        // Lifted above the next point's lift, type 1 travels at its own height and comes down after.
        {true, {10, 0, 8}, {20, 0, 5}, 1, {{10, 0, 13, 0}, {20, 0, 13, 0}, {20, 0, 10, 0}, {20, 0, 5, 1}}},
        {true, {10, 0, 5}, {10.0009, 0, 5.0009}, 0, {}},  // within 0.001: nothing to link
    };
    for (const auto& k : cases) {
        SetUp();
        if (k.emitted) startAt(k.from);
        ctx.linkType = k.linkType;
        ASSERT_EQ(idx5CollisionFreeMacro(&k.T, &k.T, 0, &ctx, &model), 0);
        ASSERT_EQ(gOut.size(), k.expected.size()) << k.T.x << " type " << k.linkType;
        for (size_t i = 0; i < gOut.size(); ++i) {
            const auto& e = k.expected[i];
            EXPECT_VEC_NEAR(gOut[i].p, (Vec3{e[0], e[1], e[2]}), 1e-9);
            EXPECT_EQ(gOut[i].cls, e[3]) << i;
        }
        EXPECT_DOUBLE_EQ(tool.radius, 3.0);  // the caller's tool is not grown
    }
}

TEST_F(Links, RetractApproachBlendsTheDescentAndRestoresTheCuttingFeed) {
    idx5ResetState();
    ncSetFeedMode(2);
    ASSERT_EQ(ncSetFeed(1000.0, kFeedAliasFX), 1);
    startAt({0, 0, 0});
    ctx.jumpFlag = 0, ctx.forceG1 = 1, ctx.forceG1Step = 2.0, ctx.safetyDistance = 10.0;
    ctx.clearancePlane = 40.0;  // the descent from the travel height to A = T + 10 z is 20 - 10 = 10
    ctx.retractFeed = 300.0;
    const Vec3 T = {50, 0, 20};
    ncForceInfeedFeed(1);  // not within the link, and again after it
    ASSERT_EQ(linkRetractApproach(&ctx, &model, &T, 40.0, 0.0), 0);
    EXPECT_EQ(ncIsInfeedFeedForced(), 1);
    ncForceInfeedFeed(0);
    for (const Out& o : gOut) EXPECT_EQ(o.forced, 0);
    EXPECT_EQ(gSections, (std::vector<int>{64, -64}));
    // R, 25 blended on the 50-long travel, its end, 5 evenly spaced on the descent of 10 to A, A, T.
    ASSERT_EQ(gOut.size(), 34u);
    for (int i = 1; i <= 5; ++i) EXPECT_VEC_NEAR(gOut[26 + i].p, (Vec3{50, 0, 40.0 - i * 10.0 / 6.0}), 1e-9);
    EXPECT_VEC_NEAR(gOut.back().p, T, 1e-12);
    EXPECT_EQ(gOut.back().cls, 1);
    EXPECT_DOUBLE_EQ(gOut.back().feed, 300.0);  // the last move onto the cut at the retract feed
    EXPECT_DOUBLE_EQ(ncCurrentFeed(), 1000.0);  // then the cutting feed again
    for (double infeed : {0.0, 333.0}) {        // a failed output still closes the link and restores the feed
        startAt({0, 0, 0});
        gSections.clear();
        ncSetSpecialFeeds(0.0, 0.0, infeed);
        gFail = true;
        EXPECT_EQ(linkRetractApproach(&ctx, &model, &T, 40.0, 0.0), kLinkOutputFailed);
        gFail = false;
        EXPECT_EQ(gSections, (std::vector<int>{64, -64}));
        EXPECT_DOUBLE_EQ(ncCurrentFeed(), infeed > 0 ? 0.0 : 1000.0);  // an infeed feed ends at the base feed
    }
    ncSetSpecialFeeds(0.0, 0.0, 0.0);
    ncSetFeedMode(0);
    idx5ResetState();
}

// A blended move of length 10 is cut into the fewest equal parts shorter than the step, the axis turned
// by the share walked; a step longer than the move or below 1e-5 in size gives no points.
TEST_F(Links, AxisBlendCutsTheMoveIntoPartsShorterThanTheStep) {
    linkSetAxisCallback(recAxis);
    const Vec3 E = {2, 0, 0}, F = {2, 6, 8}, to = {std::sin(0.6), 0, std::cos(0.6)};
    const struct {
        double step;
        int result, parts;
    } cases[] = {{11, 0, 0}, {10.5, 0, 0}, {10, 1, 2},      {5, 1, 3},        {4, 1, 3},     {3.2, 1, 4},
                 {0, 0, 0},  {1e-6, 0, 0}, {0.99e-5, 0, 0}, {-0.99e-5, 0, 0}, {-1e-5, 1, 0}, {-3, 1, 0}};
    for (const auto& c : cases) {
        gOut.clear();
        EXPECT_EQ(linkAxisBlendMove(&up, &to, c.step, &E, &F), c.result) << c.step;
        ASSERT_EQ(gOut.size(), static_cast<size_t>(c.parts > 0 ? c.parts - 1 : 0)) << c.step;
        for (size_t i = 0; i < gOut.size(); ++i) {
            const double f = double(i + 1) / c.parts;
            EXPECT_VEC_NEAR(gOut[i].p, (Vec3{2, 6 * f, 8 * f}), 1e-12);
            EXPECT_VEC_NEAR(gOut[i].axis, (Vec3{std::sin(0.6 * f), 0, std::cos(0.6 * f)}), 1e-12);
            EXPECT_EQ(gOut[i].cls, kLinkClassFeed);
        }
    }
    EXPECT_EQ(linkAxisBlendMove(nullptr, &to, 1, &E, &F) + linkAxisBlendMove(&up, &to, 1, nullptr, &F), 0);
    gFail = true;
    EXPECT_EQ(linkAxisBlendMove(&up, &to, 4, &E, &F), kLinkOutputFailed);
}

TEST_F(Links, EndPathRetractsInSection128AndClosesItOnFailure) {
    startAt({7, 3, 2});
    ASSERT_EQ(linkEndPathFlush(&ctx, &model), 0);
    EXPECT_EQ(gSections, (std::vector<int>{128, -128}));
    ASSERT_EQ(gOut.size(), 1u);
    EXPECT_VEC_NEAR(gOut[0].p, (Vec3{7, 3, 100}), 1e-12);
    EXPECT_EQ(gOut[0].cls, 0);
    EXPECT_DOUBLE_EQ(tool.radius, 3.0);
    startAt({1, 1, 1});
    gSections.clear();
    gFail = true;
    EXPECT_EQ(linkEndPath(&ctx, &model), kLinkOutputFailed);
    EXPECT_EQ(gSections, (std::vector<int>{128, -128}));
}

TEST_F(Links, OnAPlateTheTravelHeightAndTheJumpFallBackOrFailHonestly) {
    MessageCapture cap(9);
    // A ball of radius 2 over the plane z = 5 rests with its centre at 7.
    testmesh::Model plate({testmesh::slopeTri(5, 0.0)}, kBallMill, 2.0);
    plate.m.tool->size2 = 4.0;
    ctx.safetyDistance = 1.0;
    double h = 0;
    const Vec3 A = {-10, 0, 0}, B = {10, 0, 3};
    ASSERT_EQ(linkTravelHeightLine(&A, &B, &ctx, &plate.m, &h), 0);
    EXPECT_NEAR(h, 7.0 + 2.0 + 1.0, 1e-3);  // placed centre, the ball's radius and the safety distance
    // On a plane falling by 0.1 along the line the ball stands highest at the line's start, 2 sqrt(1.01)
    // above the plane's 6 there.
    testmesh::Model downhill({testmesh::slopeTri(5, -0.1)}, kBallMill, 2.0);
    downhill.m.tool->size2 = 4.0, downhill.m.tolerance = 0.5;
    ASSERT_EQ(linkTravelHeightLine(&A, &B, &ctx, &downhill.m, &h), 0);
    EXPECT_NEAR(h, 6.0 + 2.0 * std::sqrt(1.01) + 2.0 + 1.0, 1e-3);
    // Half a diameter of 8 grows the searching ball to radius 4, resting at 9; the lift counts from the
    // plane of the clearance less the safety distance, here 7.
    plate.m.tool->size2 = 8.0;
    ASSERT_EQ(linkTravelHeightLine(&A, &B, &ctx, &plate.m, &h), 0);
    EXPECT_NEAR(h, 9.0 + 2.0 + 1.0, 1e-3);
    ctx.clearancePlane = 8.0;
    double lift = 0.0;
    EXPECT_EQ(linkTravelLiftPlane(&A, &B, &ctx, &plate.m, &lift), 1);
    EXPECT_NEAR(lift, 2.0, 1e-3);
    // Below z = 0 alike: the lift is how far the resting ball stands above that plane, never below 0.
    testmesh::Model deep({testmesh::slopeTri(-20, 0.0)}, kBallMill, 2.0);
    deep.m.tool->size2 = 4.0;
    deep.m.zLow = -100.0;                                                   // the floor of the placement
    const double deepCases[][3] = {{-10, 0, 0}, {-18, 1, 1}, {-16, 0, 0}};  // clearance, lift, result
    for (const auto& c : deepCases) {
        ctx.clearancePlane = c[0];  // less the safety distance of 1; the ball rests at -18
        EXPECT_EQ(linkTravelLiftPlane(&A, &B, &ctx, &deep.m, &lift), c[2]) << c[0];
        EXPECT_NEAR(lift, c[1], 1e-3) << c[0];
    }
    // Over a slope the highest rest counts, here at the line's first point.
    const Triangle3D falling = testmesh::slopeTri(-20, -0.5);
    testmesh::Model slope({falling}, kBallMill, 2.0);
    slope.m.tool->size2 = 4.0, slope.m.zLow = -100.0;
    ctx.clearancePlane = -12.0;
    EXPECT_EQ(linkTravelLiftPlane(&A, &B, &ctx, &slope.m, &lift), 1);
    EXPECT_NEAR(lift, testmesh::bruteDrop(kBallMill, 2.0, 0, falling, A.x, A.y) + 13.0, 1e-6);
    plate.m.tool->size2 = 4.0;
    ctx.clearancePlane = 100.0;

    // A link of type 1 whose height search fails (no sampling step) travels at the clearance plane and
    // closes its section.
    ctx.jumpFlag = 0, ctx.linkType = 1;
    plate.m.tool->radius = 0.0;
    startAt({-10, 0, 8});
    const Vec3 T = {10, 0, 8};
    ASSERT_EQ(idx5CollisionFreeMacro(&T, &T, 0, &ctx, &plate.m), 0);
    EXPECT_EQ(gSections, (std::vector<int>{64, -64}));
    ASSERT_FALSE(gOut.empty());
    EXPECT_VEC_NEAR(gOut.front().p, (Vec3{-10, 0, 100}), 1e-12);
    EXPECT_VEC_NEAR(gOut.back().p, T, 1e-12);
    // With a step the search finds the travel height over the plate, from ends below it: 7 + 2 + 1;
    // with the link macros switched off the link goes through the clearance plane.
    plate.m.tool->radius = 2.0;
    const Vec3 low = {10, 0, 3};
    for (const uint16_t on : {1, 0}) {
        SetUp();
        ctx.jumpFlag = 0, ctx.linkType = 1, ctx.safetyDistance = 1.0, ctx.linkMacroSwitch = on;
        startAt({-10, 0, 3});
        ASSERT_EQ(idx5CollisionFreeMacro(&low, &low, 0, &ctx, &plate.m), 0);
        ASSERT_FALSE(gOut.empty());
        EXPECT_VEC_NEAR(gOut.front().p, (Vec3{-10, 0, on ? 10.0 : 100.0}), 1e-3);
        EXPECT_VEC_NEAR(gOut.back().p, low, 1e-12);
    }
    // Type 2 travels at a clearance plane of 5 lifted by the rest 7 less 5 - 1: at 8.
    SetUp();
    ctx.jumpFlag = 0, ctx.linkType = 2, ctx.safetyDistance = 1.0, ctx.clearancePlane = 5.0;
    startAt({-10, 0, 3});
    ASSERT_EQ(idx5CollisionFreeMacro(&low, &low, 0, &ctx, &plate.m), 0);
    ASSERT_FALSE(gOut.empty());
    EXPECT_VEC_NEAR(gOut.front().p, (Vec3{-10, 0, 8}), 1e-3);
    EXPECT_VEC_NEAR(gOut.back().p, low, 1e-12);
    ctx.clearancePlane = 100.0;
    // A strip 0.02 wide standing 0.05 proud of the plate across the line lifts type 1 by all of 0.05: the
    // line is placed finely enough (0.01) for the ball to be seen resting on the strip.
    const auto strip = [](double x, double y) { return Vec3{x, y, 5.05}; };
    testmesh::Model ridge(
        {testmesh::slopeTri(5, 0.0), Triangle3D{{strip(3, -9), strip(3.02, -9), strip(3.02, 9)}},
         Triangle3D{{strip(3, -9), strip(3.02, 9), strip(3, 9)}}},
        kBallMill, 2.0);
    ridge.m.tool->size2 = 4.0;
    SetUp(), ctx.jumpFlag = 0, ctx.linkType = 1, ctx.safetyDistance = 1.0;
    startAt({-10, 0, 3});
    ASSERT_EQ(idx5CollisionFreeMacro(&low, &low, 0, &ctx, &ridge.m), 0);
    EXPECT_NEAR(gOut.front().p.z, 5.05 + 2.0 + 2.0 + 1.0, 1e-4);
    // A jump onto the plate lifted by more than the safety distance still comes down to that distance
    // above the cut before it feeds in. The retract lifts in steps of half the searching ball's radius
    // R = 2 step + 2 = 4: from 6 the first that clears the plate (centre 5 + R) is 4, not the least 3.
    SetUp(), ctx.safetyDistance = 1.0;
    startAt({-10, 0, 6});
    const Vec3 onPlate = {10, 0, 7};
    ASSERT_EQ(idx5CollisionFreeMacro(&onPlate, &onPlate, 0, &ctx, &plate.m), 0);
    ASSERT_GE(gOut.size(), 3u);
    const double R = 2 * plate.m.stepLength + 2.0;
    EXPECT_VEC_NEAR(gOut[0].p, (Vec3{-10, 0, 6 + std::ceil((5 + R - 6) / (R / 2)) * R / 2}), 1e-12);
    EXPECT_GT(gOut[gOut.size() - 3].p.z, 8.0 + 1e-3);
    EXPECT_VEC_NEAR(gOut[gOut.size() - 2].p, (Vec3{10, 0, 8}), 1e-12);
    EXPECT_EQ(gOut[gOut.size() - 2].cls, 0);

    // A plate just below the clearance plane, where the jump must cross: no lift is free.
    testmesh::Model roof({testmesh::slopeTri(99, 0.0, 400.0)}, kBallMill, 2.0);
    ctx.jumpFlag = 1, ctx.linkType = 0, ctx.totalToolLength = 60.0;
    gOut.clear();
    const Vec3 T2 = {30, 0, 8};
    EXPECT_EQ(idx5CollisionFreeMacro(&T2, &T2, 0, &ctx, &roof.m), -1);
    EXPECT_TRUE(gOut.empty());
    EXPECT_EQ(cap.countOf("6103,0"), 1);
    MessageCapture quiet(8);  // a message of level 9: a host at level 8 does not see it
    EXPECT_EQ(idx5CollisionFreeMacro(&T2, &T2, 0, &ctx, &roof.m), -1);
    EXPECT_TRUE(quiet.messages().empty());
    // Over a floor the ball, grown by two steps of 2 to 6, climbs in steps of 3 and stops clear at 6.
    testmesh::Model floor({testmesh::slopeTri(0, 0.0, 400.0)}, kBallMill, 2.0);
    floor.m.stepLength = 2.0;
    const Vec3 T3 = {30, 0, 0};
    ASSERT_TRUE(idx5CollisionFreeMacro(&T3, &T3, 0, &ctx, &floor.m) == 0 && gOut.size() >= 3);
    EXPECT_VEC_NEAR(gOut[gOut.size() - 3].p, (Vec3{30, 0, 6}), 1e-9);  // then the safety distance, then T
}

TEST_F(Links, CheckedLinkAlongTheProfileEmitsOnlyWhatItReached) {
    testmesh::Model plate({testmesh::slopeTri(0, 0.0)}, kBallMill, 2.0);
    plate.m.tool->size2 = 4.0;
    ctx.jumpFlag = 0, ctx.stepMax = 1e9, ctx.stepMin = 0.01, ctx.stepAngleCos = std::cos(0.2);
    const Vec3 T = {10, 0, 5};
    struct Case {
        double tolerance;  // the model's profile step; 0 makes the placement refuse
        std::vector<Vec3> expected;
    };
    const Case cases[] = {
        {0.008, {T}},  // clear of the plate: the straight link is just its end point
        {0.0, {{0, 0, 100}, {10, 0, 100}, {10, 0, 10}, T}},  // refused: the retract, T once at its end
    };
    for (const auto& k : cases) {
        SetUp();
        plate.m.tolerance = k.tolerance;
        startAt({0, 0, 5});
        if (k.tolerance > 0) {  // the checked link alone: 1 when it emitted its points
            const Vec3 from = {0, 0, 5};
            ProfileCurve* line = profileLine(&from, &T);
            ASSERT_NE(line, nullptr);
            EXPECT_EQ(linkCheckedMove(line, &ctx, &plate.m), 1);
            profileFreeList(line);
            SetUp();
            plate.m.tolerance = k.tolerance;
            startAt({0, 0, 5});
        }
        ASSERT_EQ(idx5CollisionFreeMacro(&T, &T, 1, &ctx, &plate.m), 0);
        ASSERT_EQ(gOut.size(), k.expected.size()) << k.tolerance;
        for (size_t i = 0; i < gOut.size(); ++i) EXPECT_VEC_NEAR(gOut[i].p, k.expected[i], 1e-4);
        EXPECT_EQ(gOut.back().cls, 1);
    }
    // Down a slope the placed link descends, unless the climb mode keeps it from ever descending.
    testmesh::Model slope({testmesh::slopeTri(10, -0.2)}, kBallMill, 2.0);
    slope.m.tolerance = 0.05;
    for (uint16_t climb : {0, 2}) {
        SetUp();
        ctx.stepMax = 1e9, ctx.stepMin = 0.01, ctx.stepAngleCos = std::cos(0.2), ctx.climbMode = climb;
        startAt({0, 0, 0});
        const Vec3 from = {0, 0, 0}, to = {10, 0, 0};
        ProfileCurve* line = profileLine(&from, &to);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(linkCheckedMove(line, &ctx, &slope.m), 1);
        profileFreeList(line);
        ASSERT_GE(gOut.size(), 2u);
        const double drop = gOut.front().p.z - gOut.back().p.z;
        if (climb == 2)
            EXPECT_EQ(drop, 0.0);
        else
            EXPECT_NEAR(drop, 0.2 * (gOut.back().p.x - gOut.front().p.x), 1e-3);
    }
    // Along a connecting curve between tilted axes: the link ends on the next cut's axis and leaves
    // the placement's profile mode as it found it.
    SetUp();
    linkSetAxisCallback(recAxis);
    plate.m.tolerance = 0.008;
    ctx.smoothMode = 2;
    const Vec3 cur = {std::sin(0.3), 0, std::cos(0.3)}, next = {0, std::sin(0.4), std::cos(0.4)};
    startAt({-1, 0, 5});
    startAt({0, 0, 5});
    linkSetToolAxis(&cur);
    linkSetNextToolAxis(&next);
    const Vec3 P2 = {11, 1, 5};
    idx5ResetState();  // the link's points go at the infeed feed, then the base feed is back
    ncSetSpecialFeeds(111.0, 222.0, 333.0);
    ASSERT_EQ(idx5CollisionFreeMacro(&T, &P2, 1, &ctx, &plate.m), 0);
    ASSERT_FALSE(gOut.empty());
    EXPECT_VEC_NEAR(gOut.back().p, T, 1e-4);
    EXPECT_VEC_NEAR(gOut.back().axis, next, 1e-9);
    Vec3 taken{};  // with an axis callback the next tool axis is the link's first one
    linkNextToolAxis(&taken);
    EXPECT_VEC_NEAR(taken, cur, 1e-9);
    const Vec3 n = {cur.y * next.z - cur.z * next.y, cur.z * next.x - cur.x * next.z,
                    cur.x * next.y - cur.y * next.x};
    for (const Out& o : gOut) {
        EXPECT_EQ(o.feed, 333.0);
        // Turned from the cut's axis to the next one's: every axis lies in the plane of the two.
        EXPECT_NEAR(o.axis.x * n.x + o.axis.y * n.y + o.axis.z * n.z, 0.0, 1e-9);
    }
    EXPECT_EQ(ncCurrentFeed(), 0.0);
    EXPECT_EQ(get_prof_mode(), 0);
    ncSetSpecialFeeds(0.0, 0.0, 0.0);
    idx5ResetState();
}

Plist* line(int n, const Vec3& dir, double wobble, uint32_t seed) {
    Plist* l = plistCreate(n, 1);
    Rng rng{seed};
    for (int i = 0; i < n; ++i) {
        const double t = i + 0.4 * rngStep(&rng) / double(kRngMax);
        // Away from the origin: the chord of two far points, not their position, sets the direction.
        const Vec3 p = {7 + t * dir.x, -3 + t * dir.y + wobble * (i % 2), 2 + t * dir.z};
        const Vec3 v = {0, 0, 1};
        plistAppend(l, t, &p, 0, &v, 0);
    }
    return l;
}

int kept(const Plist* l) {
    int k = 0;
    for (int i = 0; i < l->count; ++i) k += (l->flags[i] >> 8) != kPointMarked;
    return k;
}

TEST(LinkThin, CollinearKeepsEndsTurnsAndMarksStayRandomRepeats) {
    for (uint32_t seed = 1; seed <= 20; ++seed) {
        Plist* l = line(12 + seed, {1, 0.5 * (seed % 3), -0.25 * (seed % 2)}, 0.0, seed);
        ASSERT_NE(l, nullptr);
        linkThinPoints(l, 1e9, 0.01);
        EXPECT_EQ(kept(l), 2) << seed;
        EXPECT_TRUE(l->flags[0] >> 8 != kPointMarked && l->flags[l->count - 1] >> 8 != kPointMarked);
        plistFree(l);
    }
    const double cases[][4] = {{0.5, 1e9, 0.01, 10}, {0.005, 1e9, 0.01, 2}, {0.0, 0.5, 0.01, 10}};
    for (const auto& k : cases) {  // wobble, chord, deviation, points kept of 10
        Plist* l = line(10, {1, 0, 0}, k[0], 7);
        ASSERT_NE(l, nullptr);
        linkThinPoints(l, k[1], k[2]);
        EXPECT_EQ(kept(l), int(k[3])) << k[0];
        plistFree(l);
    }
    // A link at 4 and a point of class 'd' at 7: only 1 and 2 lie between ordinary neighbours.
    Plist* l = line(10, {1, 0, 0}, 0.0, 3);
    ASSERT_NE(l, nullptr);
    l->flags[4] = static_cast<uint16_t>(kPointLink << 8);
    l->flags[7] = 'd';
    linkThinPoints(l, 1e9, 0.01);
    for (int i = 1; i < 9; ++i) EXPECT_EQ(l->flags[i] >> 8 == kPointMarked, i == 1 || i == 2) << i;
    l->flags[1] = l->flags[2] = 0;
    l->vectors[1] = l->vectors[4] = {std::sin(0.3), 0, std::cos(0.3)};  // turning by more than the step angle
    linkThinKeepAxes(l, 1e9, 0.01, std::cos(0.2));
    EXPECT_EQ(kept(l), 10);
    EXPECT_EQ(l->flags[4] >> 8, kPointLink);  // only marks are given back, a link stays one
    plistFree(l);
    // Thinning stops at the first point without a kept neighbour on either side.
    for (int removed : {0, 9}) {
        l = line(10, {1, 0, 0}, 0.0, 5);
        ASSERT_NE(l, nullptr);
        l->flags[removed] = static_cast<uint16_t>(kPointRemoved << 8);
        linkThinPoints(l, 1e9, 0.01);
        for (int i = 1; i < 9; ++i) EXPECT_EQ(l->flags[i] >> 8 == kPointMarked, removed == 9 && i < 8) << i;
        plistFree(l);
    }
    // A turn of the axis at either end keeps the point beside it, whichever side the turn is on.
    for (int turned : {0, 4}) {
        l = line(5, {1, 0, 0}, 0.0, 6);
        ASSERT_NE(l, nullptr);
        l->vectors[turned] = {std::sin(0.3), 0, std::cos(0.3)};
        linkThinKeepAxes(l, 1e9, 0.01, std::cos(0.2));
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(l->flags[i] >> 8 != kPointMarked, i == 0 || i == 4 || i == (turned ? 3 : 1)) << i;
        plistFree(l);
    }
    // Both limits hold at equality: a chord of exactly the longest and a point exactly the deviation off.
    // Only the points between are measured: the far end lies off its own chord by rounding. A chord of
    // exactly the 1e-5 tolerance still has a direction: a point far off it stays.
    const struct {
        double y, chord, dev;
        bool thinned;
        double x = 1;
        Vec3 end = {2, 0, 0};
    } limits[] = {{0, 2, 0.01, true},
                  {0, 1.999, 0.01, false},
                  {0.5, 2, 0.5, true},
                  {0.5, 2, 0.499, false},
                  {0, 1e9, 0, true, 0, {3, 7, 0.1}},
                  {1e-3, 1e9, 1e-4, false, 0.5e-5, {1e-5, 0, 0}}};
    for (const auto& c : limits) {
        l = plistCreate(3, 0);
        ASSERT_NE(l, nullptr);
        for (const Vec3& q : {Vec3{0, 0, 0}, Vec3{c.x, c.y, 0}, c.end})
            plistAppend(l, q.x, &q, 0, nullptr, 0);
        linkThinPoints(l, c.chord, c.dev);
        EXPECT_EQ(l->flags[1] >> 8 == kPointMarked, c.thinned) << c.chord << " " << c.dev;
        plistFree(l);
    }
    l = line(10, {1, 0, 0}, 0.0, 4);  // equal axes lie within a step angle of 0 too
    ASSERT_NE(l, nullptr);
    linkThinKeepAxes(l, 1e9, 0.01, 1.0);
    EXPECT_EQ(kept(l), 2);
    plistFree(l);
    std::vector<uint16_t> runs[2];
    for (auto& r : runs) {
        rngResetState();
        linkSetRandomThinning(1);
        Plist* m = line(200, {1, 1, 0}, 0.0, 9);
        ASSERT_NE(m, nullptr);
        linkThinPoints(m, 1e9, 0.01);
        r.assign(m->flags, m->flags + m->count);
        // One in ten of the 198 passing points stays: about 20 besides the ends, far from none or most.
        EXPECT_GT(kept(m), 2 + 8);
        EXPECT_LT(kept(m), 2 + 40);
        plistFree(m);
    }
    EXPECT_EQ(runs[0], runs[1]);
    linksResetState();
}

TEST_F(Links, UntestedMacrosGoOutInTheirOrder) {
    testmesh::Model plate({testmesh::slopeTri(0, 0.0)}, kBallMill, 2.0);
    struct Case {
        int32_t kind, type;
        bool mesh;
        std::vector<double> emitted;  // y of the emitted points; the macro's point i is (0, i, 5 + i)
        int points = 3;
    };
    const Case cases[] = {
        {kMacroApproach, 2, false, {2, 1, 0}},  // from the far end inwards
        {kMacroApproach, 2, false, {0}, 1},     // the attachment point alone still goes out
        {kMacroLeave, 2, false, {1, 2}},
        {kMacroLeave, 0, true, {1, 2}},  // type 0 is never placed
    };
    for (const auto& k : cases) {
        SetUp();
        ctx.polygonSwitch = 1;
        MacroPath* p = macroPathCreate(k.kind, k.type, 4, 0);
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < k.points; ++i) macroPathAppend(p, {0, double(i), 5.0 + i});
        // Then on to the next point with a new axis: along the profile, no loop turns the axis.
        const Vec3 tilted{0.6, 0, 0.8}, next{0, 5, 5};
        linkSetNextToolAxis(&tilted);
        ASSERT_EQ(linkInfeedCollisionTest(p, &ctx, k.mesh ? &plate.m : &model, -1, &next), 0);
        std::vector<double> ys;
        for (const auto& o : gOut) ys.push_back(o.p.y);
        EXPECT_NEAR(ys.back(), 5.0, 1e-4);
        ys.resize(k.emitted.size());
        EXPECT_EQ(ys, k.emitted) << k.kind;
        EXPECT_EQ(ctx.polygonSwitch, 1);
        p->points[1] = {0, 0.01, 5};
        EXPECT_DOUBLE_EQ(macroPathFirstStep(p), k.points > 1 ? 0.1 : 1.0);  // at least 0.1; no chord: 1
        macroPathFree(p);
    }
}

Vec3 along(const Vec3& p, double h, const Vec3& a) {
    return {p.x + h * a.x, p.y + h * a.y, p.z + h * a.z};
}

// The axis turned from a towards b by the fraction f of their angle (spherical interpolation).
Vec3 slerp(const Vec3& a, const Vec3& b, double f) {
    const double th = std::acos(a.x * b.x + a.y * b.y + a.z * b.z), s = std::sin(th);
    const double wa = std::sin((1 - f) * th) / s, wb = std::sin(f * th) / s;
    return {wa * a.x + wb * b.x, wa * a.y + wb * b.y, wa * a.z + wb * b.z};
}

// A macro's own last axis goes to the end of the placed list where the macro leaves the cut (the last
// point of a leave, the first of an approach); the other end stays, the points between turn evenly.
TEST(LinkMacro, JoinAxisPutsTheMacrosLastAxisAtItsFarEnd) {
    const Vec3 up{0, 0, 1}, axes[3] = {{1, 0, 0}, {0, 1, 0}, {std::sin(0.4), 0, std::cos(0.4)}};
    for (int32_t kind : {kMacroLeave, kMacroApproach})
        for (int32_t count = 1; count <= 3; ++count)
            for (int32_t placed = 1; placed <= 3; ++placed) {
                MacroPath* m = macroPathCreate(kind, 2, 3, 1);
                Plist* l = plistCreate(3, 1);
                ASSERT_TRUE(m && l);
                for (int32_t i = 0; i < count; ++i)
                    macroPathAppend(m, {0, 0, double(i)}), m->axes[i] = axes[i];
                for (int32_t i = 0; i < placed; ++i) {
                    const Vec3 q{double(i), 0, 0};
                    plistAppend(l, i, &q, 0, &up, 0);
                }
                ASSERT_EQ(macroJoinAxis(m, l), 1);
                const Vec3 own = axes[count - 1];
                const int32_t far = kind == kMacroLeave ? placed - 1 : 0;
                SCOPED_TRACE(kind * 100 + count * 10 + placed);
                EXPECT_VEC_NEAR(l->vectors[far], own, 0);
                if (placed > 1) EXPECT_VEC_NEAR(l->vectors[placed - 1 - far], up, 0);
                if (placed == 3)
                    EXPECT_VEC_NEAR(l->vectors[1], slerp(l->vectors[0], l->vectors[2], 0.5), 1e-12);
                macroPathFree(m), plistFree(l);
            }
    MacroPath* bare = macroPathCreate(kMacroLeave, 2, 3, 0);  // no axes of its own: nothing to join
    Plist* l = plistCreate(3, 1);
    ASSERT_TRUE(bare && l);
    macroPathAppend(bare, up);
    plistAppend(l, 0, &up, 0, &up, 0);
    EXPECT_EQ(macroJoinAxis(bare, l), -1);
    MacroPath* empty = macroPathCreate(kMacroLeave, 2, 3, 1);
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(macroJoinAxis(empty, l), -1);
    l->count = 0;
    macroPathAppend(empty, up);
    EXPECT_EQ(macroJoinAxis(empty, l), -1);
    macroPathFree(bare), macroPathFree(empty), plistFree(l);
}

// Both axes tilted, so that every lift along an axis shows in x and y as well as in z; an empty model
// leaves the lift at the safety distance.
TEST_F(Links, JumpLinkAlongTiltedAxes) {
    const Vec3 cur = {std::sin(0.3), 0, std::cos(0.3)}, next = {0, std::sin(0.4), std::cos(0.4)};
    const Vec3 T = {20, 5, 5}, A = along(T, 5.0, next);
    const Vec3 low = {10, 0, 0}, high = {10, 0, 20};
    const Vec3 Rl = along(low, 5.0, cur), Rh = along(high, 5.0, cur);
    struct Case {
        bool emitted;
        Vec3 from;
        uint16_t linkType;
        std::vector<Vec3> expected;  // the last at class 1, the others at 0
        size_t onCut;                // leading points still on the cut's axis
    } cases[] = {
        {true, low, 0, {Rl, {Rl.x, Rl.y, 100}, {A.x, A.y, 100}, A, T}, 2},
        {true, low, 1, {Rl, {Rl.x, Rl.y, A.z}, A, T}, 2},  // the retract rises to the approach height
        {true, high, 2, {Rh, {A.x, A.y, Rh.z}, A, T}, 1},  // the approach comes down from the retract's
        {false, {}, 0, {{A.x, A.y, 100}, A, T}, 0},
        {false, {}, 1, {{A.x, A.y, 100}, A, T}, 0},  // the first cut always comes from the clearance plane
    };
    for (const Case& k : cases) {
        SetUp();
        linkSetAxisCallback(recAxis);
        if (k.emitted) startAt(k.from);
        linkSetToolAxis(&cur);
        linkSetNextToolAxis(&next);
        ctx.linkType = k.linkType;
        ASSERT_EQ(idx5CollisionFreeMacro(&T, &T, 0, &ctx, &model), 0);
        ASSERT_EQ(gOut.size(), k.expected.size()) << k.emitted << " type " << k.linkType;
        for (size_t i = 0; i < gOut.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_VEC_NEAR(gOut[i].p, k.expected[i], 1e-9);
            EXPECT_EQ(gOut[i].cls, i + 1 == gOut.size() ? 1 : 0) << i;
            // The retract keeps the cut's axis; from the travel on the next cut's.
            EXPECT_VEC_NEAR(gOut[i].axis, i < k.onCut ? cur : next, 1e-12);
        }
    }
}

// Retract, travel at the given height and descent along a tilted next axis; with forced linear output
// the infeed feed holds from the retract to the point above the cut and is off for the cut itself.
TEST_F(Links, RetractApproachAlongATiltedAxisWithTheInfeedFeed) {
    idx5ResetState();
    ncSetSpecialFeeds(111.0, 222.0, 333.0);
    linkSetAxisCallback(recAxis);
    const Vec3 cur = {0, 0, 1}, next = {std::sin(0.5), 0, std::cos(0.5)};
    const Vec3 L = {-10, 4, 2}, T = {30, -6, 8}, A = along(T, 5.0, next);
    for (int forced = 0; forced < 2; ++forced) {
        SetUp();
        linkSetAxisCallback(recAxis);
        startAt(L);
        linkSetToolAxis(&cur);
        linkSetNextToolAxis(&next);
        ctx.forceG1 = static_cast<uint16_t>(forced);
        ctx.forceG1Step = 1e9;  // no blended points: the moves themselves
        ASSERT_EQ(linkRetractApproach(&ctx, &model, &T, 40.0, 0.0), 0);
        const std::vector<Vec3> want = {{L.x, L.y, 40}, {A.x, A.y, 40}, A, T};
        ASSERT_EQ(gOut.size(), want.size()) << forced;
        for (size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_VEC_NEAR(gOut[i].p, want[i], 1e-12);
            EXPECT_EQ(gOut[i].cls, i == 3 ? 1 : forced) << i;
            EXPECT_DOUBLE_EQ(gOut[i].feed, forced && i < 3 ? 333.0 : 0.0) << i;
            EXPECT_VEC_NEAR(gOut[i].axis, i == 0 ? cur : next, 1e-12);
        }
        Vec3 now{};
        linkToolAxis(&now);
        EXPECT_VEC_NEAR(now, next, 1e-15);
    }
    // The blended travel: interior points evenly along the move, the axis turned by the same share.
    SetUp();
    linkSetAxisCallback(recAxis);
    const Vec3 E = {0, 0, 0}, F = {10, 0, 0};
    ASSERT_EQ(linkAxisBlendMove(&cur, &next, 3.0, &E, &F), 1);
    ASSERT_EQ(gOut.size(), 3u);  // n = trunc(10 / 3) + 1 = 4 parts
    for (int i = 1; i <= 3; ++i) {
        EXPECT_VEC_NEAR(gOut[i - 1].p, (Vec3{2.5 * i, 0, 0}), 1e-12);
        EXPECT_VEC_NEAR(gOut[i - 1].axis, slerp(cur, next, i / 4.0), 1e-12);
        EXPECT_EQ(gOut[i - 1].cls, 1);
    }
    ncSetSpecialFeeds(0.0, 0.0, 0.0);
    idx5ResetState();
}

// The second point of a list is revived when the tool is not at the height of the list's first, and every
// other point of kind 3 stays out; the others go out with their own axes.
TEST_F(Links, PointListEmissionRevivesOnlyTheSecondPoint) {
    struct Case {
        double lastZ;
        int marked;               // index of the one point of kind 3
        std::vector<int> wanted;  // indices emitted
    } cases[] = {
        {0.0, 1, {2, 3}}, {0.5, 1, {1, 2, 3}},  {1e-6, 1, {2, 3}},     {0.5, 2, {1, 3}},
        {0.0, 2, {1, 3}}, {1e-5, 1, {1, 2, 3}}, {-1e-5, 1, {1, 2, 3}}, {0.99e-5, 1, {2, 3}},
    };
    for (const Case& k : cases) {
        SetUp();
        linkSetAxisCallback(recAxis);
        startAt({-1, 0, k.lastZ});
        Plist* l = plistCreate(4, 1);
        ASSERT_NE(l, nullptr);
        for (int i = 0; i < 4; ++i) {
            const Vec3 p = {double(i), 0, 0.25 * i}, v = {std::sin(0.1 * i), 0, std::cos(0.1 * i)};
            plistAppend(l, i, &p, 0, &v, 0);
        }
        l->flags[k.marked] = static_cast<uint16_t>(kPointMarked << 8);
        ASSERT_EQ(linkEmitPointList(l), 0);
        ASSERT_EQ(gOut.size(), k.wanted.size()) << k.lastZ << " " << k.marked;
        for (size_t j = 0; j < gOut.size(); ++j) {
            EXPECT_DOUBLE_EQ(gOut[j].p.x, k.wanted[j]);
            EXPECT_VEC_NEAR(gOut[j].axis, l->vectors[k.wanted[j]], 1e-15);
            EXPECT_EQ(gOut[j].cls, 1);
        }
        plistFree(l);
    }
    // Three collinear points are enough to drop the middle one.
    Plist* l = line(3, {1, 1, 0}, 0.0, 5);
    ASSERT_NE(l, nullptr);
    linkThinPoints(l, 1e9, 0.01);
    EXPECT_EQ(kept(l), 2);
    plistFree(l);
}

// Each allocation of the travel searches, the lift, a checked link and a placed macro failed in turn: -4 (-1
// or none for the link and the macro), or the answer found with memory enough.
TEST_F(Links, TravelSearchesShortOfMemoryFailOrFindTheirHeight) {
    testmesh::Model plate({testmesh::slopeTri(5, 0.0)}, kBallMill, 2.0);
    plate.m.tool->size2 = 4.0;
    plate.m.tolerance = 0.05;
    ctx.safetyDistance = 1.0, ctx.clearancePlane = 8.0;
    const Vec3 A = {-10, 0, 0}, B = {10, 0, 3};
    for (int kind : {0, 1, 2, 3, 4}) {
        double want = 0, got = 0;
        const auto run = [&](double* out) {
            if (kind == 4) return linkLiftHeight(&A, &ctx, &plate.m, out);
            if (kind < 2)
                return kind ? linkTravelLiftPlane(&A, &B, &ctx, &plate.m, out)
                            : linkTravelHeightLine(&A, &B, &ctx, &plate.m, out);
            int r = -1;
            Plist* l = nullptr;  // the link's emitted points or the macro's placed ones, seen by the last
            MacroPath* m = macroPathCreate(kMacroLeave, 2, 2, 0);
            ProfileCurve* c = profileLine(&B, &A);
            if (m && c) {
                macroPathAppend(m, B), macroPathAppend(m, A), startAt(B);
                if (kind == 2) r = linkCheckedMove(c, &ctx, &plate.m);
                if (kind == 3) r = (l = macroPlacePoints(m, &ctx, &plate.m)) ? 1 : -1;
            }
            const Vec3 last = l ? l->points[l->count - 1] : gOut.empty() ? Vec3{} : gOut.back().p;
            *out = last.z + 100.0 * double(l ? l->count : gOut.size());
            plistFree(l), macroPathFree(m), profileFreeList(c);
            return r == -1 ? -4 : r;
        };
        const int full = run(&want);
        ASSERT_GE(full, 0);
        EXPECT_GT(kind % 4 > 1 ? want : 1e9, 100 * 2 + 7 - 1e-9);  // on the plate at A: more than two points
        for (long n = 1; n < 200; ++n) {
            allocfail::arm(n);
            const int r = run(&got);
            const bool fired = allocfail::fired();
            allocfail::disarm();
            EXPECT_TRUE(r == -4 || (r == full && got == want)) << kind << " " << n;
            if (!fired) break;
        }
    }
    // The plate, the ball's centre above it, the tool's offset, the safety distance; the ball grows to
    // half the holder once that is wider by more than 1e-5.
    for (const auto& c : {std::array<double, 2>{4.00002, 10}, {4.2, 10.1}, {4.00002000000001, 10.00001}}) {
        plate.m.tool->size2 = c[0];
        double h = 0;
        EXPECT_EQ(linkTravelHeightLine(&A, &B, &ctx, &plate.m, &h), 0);
        EXPECT_NEAR(h, c[1], 1e-7) << c[0];
    }
}

// Without geometry the travel line stays at the higher end, raised by the tool's offset and the safety
// distance; without a profile step nothing can be placed.
TEST_F(Links, TravelHeightOverNothingAndWithoutAStep) {
    testmesh::Model none({}, kBallMill, 2.0);
    none.m.tolerance = 0.05;
    ctx.safetyDistance = 1.5;
    const Vec3 A = {0, 0, -7}, B = {10, 4, -3};  // below z = 0, which no placed point stands for
    double h = 0;
    // The offset: a ball's radius, a radius mill's corner radius, nothing for an end mill.
    for (const auto& t :
         {std::array<double, 4>{kBallMill, 2, 0, 2}, {kRadiusMill, 3, 0.5, 0.5}, {kEndMill, 3, 0.5, 0}})
        for (const double floor : {0.0, 50.0}) {  // over nothing the placement's floor does not count
            none.m.tool->toolType = static_cast<uint16_t>(t[0]), none.m.tool->radius = t[1];
            none.m.tool->cornerRadius = t[2], none.m.zLow = floor;
            ASSERT_EQ(linkTravelHeightLine(&A, &B, &ctx, &none.m, &h), 0);
            EXPECT_NEAR(h, -3.0 + t[3] + 1.5, 1e-9) << t[0];
        }
    none.m.tolerance = 0.0;
    EXPECT_EQ(linkTravelHeightLine(&A, &B, &ctx, &none.m, &h), -4);
    double lift = 1;
    EXPECT_EQ(linkTravelLiftPlane(&A, &B, &ctx, &none.m, &lift), -4);
    EXPECT_EQ(lift, 0.0);
}

}  // namespace

namespace {

// Untested macros: an approach with a link first jumps to its far end, then comes in at the approach
// feed; a leave goes out at the retract feed.
TEST_F(Links, MacrosLinkGoOutAtTheirFeedsAndArePlacedWhenTested) {
    idx5ResetState();
    ncSetSpecialFeeds(111.0, 222.0, 333.0);
    struct Case {
        int32_t kind, link;
        std::vector<std::array<double, 3>> emitted;  // y, z, feed of each point
        double retract = 0.0;  // in the cycle's feed mode a retract feed takes the first point only
        double offset = 0.0;
    } cases[] = {
        {kMacroApproach, 0, {{2, 100, 0}, {2, 12, 0}, {2, 7, 0}, {1, 6, 111}, {0, 5, 111}}},
        {kMacroApproach, -1, {{2, 7, 111}, {1, 6, 111}, {0, 5, 111}}},
        {kMacroApproach, -1, {{2, 7, 444}, {1, 6, 111}, {0, 5, 111}}, 444.0},
        {kMacroLeave, -1, {{1, 6, 222}, {2, 7, 222}}},  // its offset point, 0 away, is the same
        {kMacroLeave, -1, {{1, 6, 222}, {2, 7, 222}, {2, 8, 0}}, 0.0, 1.0},  // 1 away along +z
        {kMacroLeave, -1, {{1, 6, 222}, {2, 7, 222}, {2, 8, 444}}, 444.0, 1.0},
    };
    for (const auto& k : cases) {
        SetUp();
        ctx.retractFeed = k.retract;
        ncSetFeedMode(k.retract > 0 ? 2 : 0);
        MacroPath* p = macroPathCreate(k.kind, 2, 4, 0);
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 3; ++i) macroPathAppend(p, {0, double(i), 5.0 + i});
        p->offset = k.offset;
        ASSERT_EQ(linkInfeedCollisionTest(p, &ctx, &model, k.link, nullptr), 0);
        ASSERT_EQ(gOut.size(), k.emitted.size()) << k.kind << " " << k.link;
        for (size_t i = 0; i < gOut.size(); ++i) {
            EXPECT_EQ(gOut[i].p.y, k.emitted[i][0]) << i;
            EXPECT_EQ(gOut[i].p.z, k.emitted[i][1]) << i;
            EXPECT_EQ(gOut[i].feed, k.emitted[i][2]) << i;
        }
        EXPECT_EQ(ncCurrentFeed(), 0.0);  // a pushed retract feed is taken back
        macroPathFree(p);
    }
    ncSetFeedMode(0);
    // Tested on a part, the macro is placed on it: over a plate at z 6 the ball's centre stays 2 above.
    testmesh::Model plate({testmesh::slopeTri(6, 0.0)}, kBallMill, 2.0);
    plate.m.tolerance = 0.05;
    plate.m.stepLength = 0.5;
    SetUp();
    ctx.stepMax = 1e9, ctx.stepMin = 0.01;
    linkSetAxisCallback(recAxis);
    const Vec3 cutAxis = {std::sin(0.2), 0, std::cos(0.2)};
    linkSetToolAxis(&cutAxis);  // a leave keeps the cut's axis, and it becomes the next one
    MacroPath* p = macroPathCreate(kMacroLeave, 2, 4, 0);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 3; ++i) macroPathAppend(p, {0, double(i), 5.0 + i});
    ASSERT_EQ(linkInfeedCollisionTest(p, &ctx, &plate.m, -1, nullptr), 0);
    ASSERT_FALSE(gOut.empty());
    Vec3 nextAxis{};
    linkNextToolAxis(&nextAxis);
    EXPECT_VEC_NEAR(nextAxis, cutAxis, 0);
    for (const Out& o : gOut) EXPECT_VEC_NEAR(o.axis, cutAxis, 0);
    for (const Out& o : gOut) EXPECT_NEAR(o.p.z, 8.0, 1e-6) << o.p.y;  // no extra offset: type 2
    EXPECT_NEAR(gOut.back().p.y, 2.0, 1e-4);
    // An avoidance that cuts the placed macro back to nothing leaves nothing to go out.
    SetUp();
    ctx.stepMax = 1e9, ctx.stepMin = 0.01;
    const HeightGrid grid{};
    const ToolDescription avoidTool{};
    const AvoidContext avoid{&grid, &avoidTool, 0.5, 0, 0, 0, 0.1, nullptr};
    const AvoidCollisionOps hitAll{nullptr, nullptr, [](const Vec3*, const Vec3*, int32_t*) { return -3; },
                                   nullptr, nullptr, nullptr,
                                   nullptr};
    avoidSetModelFlag(1), avoidSetCollisionOps(&hitAll), ctx.avoid = &avoid;
    EXPECT_EQ(linkInfeedCollisionTest(p, &ctx, &plate.m, -1, nullptr), -2);
    EXPECT_TRUE(gOut.empty());
    // A checked link it cannot make free is no link: the tool retracts over the clearance plane instead,
    // straight up from the start. Path mode 2 keeps the link on its curve unchecked.
    const Vec3 linkStart = {0, 0, 8}, linkEnd = {10, 0, 8};
    for (const uint16_t mode : {1, 2}) {
        ctx.pathMode = mode;
        startAt(linkStart);
        ProfileCurve* line = profileLine(&linkStart, &linkEnd);
        ASSERT_NE(line, nullptr);
        EXPECT_GE(linkCheckedMove(line, &ctx, &plate.m), 0);
        profileFreeList(line);
        ASSERT_FALSE(gOut.empty());
        EXPECT_VEC_NEAR(gOut.front().p, (mode == 1 ? Vec3{0, 0, ctx.clearancePlane} : linkEnd), 1e-4);
        EXPECT_VEC_NEAR(gOut.back().p, linkEnd, 1e-4);
    }
    // Made as a link along the profile, that retract over the clearance plane is the whole link.
    ctx.pathMode = 1;
    startAt(linkStart);
    ASSERT_EQ(idx5CollisionFreeMacro(&linkEnd, &linkEnd, 1, &ctx, &plate.m), 0);
    EXPECT_EQ(
        std::count_if(gOut.begin(), gOut.end(), [&](const Out& o) { return o.p.z == ctx.clearancePlane; }),
        2);
    EXPECT_VEC_NEAR(gOut.back().p, linkEnd, 1e-4);
    avoidTiltResetState();
    ctx.avoid = nullptr;
    macroPathFree(p), p = nullptr;
    // An approach comes in from its far end, placed, to where it attaches at the approach feed; a link
    // first jumps to that end, raised by the macro's offset, over the clearance plane as an untested one
    // does; a retract feed takes the move onto that end alone.
    Vec3 second{};  // the placed macro's second point
    for (int32_t v : {0, 1, 2}) {
        SetUp();
        const int32_t link = v == 1 ? 0 : -1;
        ctx.stepMax = 1e9, ctx.stepMin = 0.01, ctx.retractFeed = v == 2 ? 444.0 : 0.0;
        ncSetFeedMode(v == 2 ? 2 : 0);
        p = macroPathCreate(kMacroApproach, 2, 4, 0);
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 3; ++i) macroPathAppend(p, {0, double(i), 5.0 + i});
        p->direction = {0, 0, 1}, p->offset = 1.0;
        ASSERT_EQ(linkInfeedCollisionTest(p, &ctx, &plate.m, link, nullptr), 0);
        const size_t j = link < 0 ? 0 : 3;
        ASSERT_GE(gOut.size(), j + 2);
        for (size_t i = 0; i < j; ++i)
            EXPECT_VEC_NEAR(gOut[i].p, (Vec3{0, 2, std::array{100.0, 14.0, 9.0}[i]}), 1e-4);
        for (size_t i = j; i < gOut.size(); ++i)
            EXPECT_NEAR(gOut[i].p.z, 8.0, 1e-6) << i;  // type 2: no offset
        EXPECT_NEAR(gOut[j].p.y, 2.0, 1e-4);
        EXPECT_NEAR(gOut.back().p.y, 0.0, 1e-4);
        for (size_t i = j + 1; i < gOut.size(); ++i) EXPECT_LT(gOut[i].p.y, gOut[i - 1].p.y) << i;
        for (size_t i = j + 1; i < gOut.size(); ++i) EXPECT_EQ(gOut[i].feed, 111.0) << i;
        EXPECT_EQ(gOut[0].feed, v == 2 ? 444.0 : v == 1 ? 0.0 : 111.0);
        EXPECT_EQ(ncCurrentFeed(), 0.0);  // the base feed after it
        if (v < 2) macroPathFree(p);
        second = gOut[j + 1].p;
    }
    // A point already out within 0.01 of the placed macro's far end stands for it: no move (and no
    // retract feed) onto that end; 0.05 away, or from the second point, the move is made. The macro's
    // own points go at the approach feed either way.
    for (const auto& [before, moves] :
         {std::pair{Vec3{0, 2, 8.005}, 0}, {Vec3{0, 2, 8.05}, 1}, {second, 1}}) {
        SetUp();
        ctx.stepMax = 1e9, ctx.stepMin = 0.01, ctx.retractFeed = 444.0;
        startAt(before);
        ASSERT_EQ(linkInfeedCollisionTest(p, &ctx, &plate.m, -1, nullptr), 0);
        const auto at = [](double feed) {
            return std::count_if(gOut.begin(), gOut.end(), [&](const Out& o) { return o.feed == feed; });
        };
        EXPECT_EQ(at(444.0), moves);
        EXPECT_GT(gOut.size(), size_t(moves));
        EXPECT_EQ(at(111.0), static_cast<long>(gOut.size()) - moves);
    }
    ctx.retractFeed = 0.0;
    ncSetFeedMode(0);
    SetUp();  // an untested approach of its attachment point alone goes there at the approach feed
    MacroPath* one = macroPathCreate(kMacroApproach, 2, 1, 0);
    ASSERT_NE(one, nullptr);
    macroPathAppend(one, {0, 4, 5});
    ASSERT_EQ(linkInfeedCollisionTest(one, &ctx, &model, -1, nullptr), 0);
    ASSERT_EQ(gOut.size(), 1u);
    EXPECT_VEC_NEAR(gOut[0].p, (Vec3{0, 4, 5}), 0);
    EXPECT_EQ(gOut[0].feed, 111.0);
    macroPathFree(one);
    // A failed output stops either kind, placed or not, with the output's code.
    for (CheckModel* on : {&model, &plate.m})
        for (int32_t kind : {kMacroApproach, kMacroLeave}) {
            SetUp();
            p->kind = kind;
            gFail = true;
            EXPECT_EQ(linkInfeedCollisionTest(p, &ctx, on, -1, nullptr), kLinkOutputFailed) << kind;
        }
    macroPathFree(p);
    ncSetSpecialFeeds(0.0, 0.0, 0.0);
    idx5ResetState();
}

}  // namespace

namespace {

// What each link entry answers without its arguments: nothing is emitted.
TEST_F(Links, MissingArgumentsAreRefused) {
    const Vec3 p{1, 2, 3};
    double h = 7;
    MacroPath* macro = macroPathCreate(kMacroLeave, 2, 2, 0);
    ASSERT_NE(macro, nullptr);
    EXPECT_EQ(linkSegmentFree(&up, &up, &ctx, &model, &p, nullptr), 1);
    EXPECT_EQ(linkJumpLift(&p, &p, &up, &up, &ctx, nullptr, 0, &model), -1);
    EXPECT_EQ(linkJumpLift(nullptr, &p, &up, &up, &ctx, &h, 0, &model), -1);
    EXPECT_EQ(linkAxisBlendMove(&up, nullptr, 1.0, &p, &p), 0);
    EXPECT_EQ(linkRetractApproach(nullptr, &model, &p, 10, 0), -1);
    EXPECT_EQ(linkRetractApproach(&ctx, &model, nullptr, 10, 0), -1);
    EXPECT_EQ(linkTravelHeightLine(&p, &p, &ctx, nullptr, &h), -4);
    EXPECT_EQ(linkTravelHeightLine(&p, nullptr, &ctx, &model, &h), -4);
    EXPECT_EQ(linkTravelHeightLine(&p, &p, &ctx, &model, nullptr), -4);
    EXPECT_EQ(linkTravelLiftPlane(&p, &p, &ctx, &model, nullptr), -4);
    h = 7;  // a lift asked for is set to 0 even when the other arguments are missing
    EXPECT_EQ(linkTravelLiftPlane(&p, &p, &ctx, nullptr, &h) * 10 + h, -40);
    h = 7;
    EXPECT_EQ(linkTravelLiftPlane(nullptr, &p, &ctx, &model, &h) * 10 + h, -40);
    CheckModel noTool = model;
    noTool.tool = nullptr;
    noTool.tolerance = 0.05;
    h = 7;
    EXPECT_EQ(linkTravelLiftPlane(&p, &p, &ctx, &noTool, &h) * 10 + h, -40);
    EXPECT_EQ(linkTravelHeightLine(&p, &p, &ctx, &noTool, &h), -4);
    EXPECT_EQ(linkLiftHeight(&p, &ctx, &noTool, &h) * 10 + h, -40);
    CheckModel noStep = model;  // the placement refuses a model without a tolerance
    noStep.tolerance = 0.0, noStep.bounds[5] = 100.0;
    EXPECT_EQ(linkLiftHeight(&p, &ctx, &noStep, &h), -4);
    ToolGeom point = tool;  // a tool of no radius has no step to climb by
    point.radius = 0.0, noStep.tool = &point;
    for (const double top : {100.0, p.z - 1}) {  // whether or not there is anything above to climb past
        noStep.bounds[5] = top;
        EXPECT_EQ(linkLiftHeight(&p, &ctx, &noStep, &h), -4) << top;
    }
    ProfileCurve* curve = profileLine(&p, &up);
    ASSERT_NE(curve, nullptr);
    EXPECT_EQ(linkCheckedMove(curve, &ctx, &noTool), -1);
    profileFreeList(curve);
    EXPECT_EQ(macroPlacePoints(macro, &ctx, &noTool), nullptr);
    EXPECT_EQ(linkInfeedCollisionTest(macro, &ctx, &noTool, -1, nullptr), -1);
    EXPECT_EQ(idx5CollisionFreeMacro(&p, &p, 0, &ctx, &noTool), -1);
    EXPECT_EQ(linkCheckedMove(nullptr, &ctx, &model), -1);
    EXPECT_EQ(linkLiftHeight(&p, &ctx, &model, nullptr), -4);
    EXPECT_EQ(linkInfeedCollisionTest(nullptr, &ctx, &model, -1, nullptr), -1);
    EXPECT_EQ(linkInfeedCollisionTest(macro, nullptr, &model, -1, nullptr), -1);
    EXPECT_EQ(idx5CollisionFreeMacro(nullptr, &p, 0, &ctx, &model), -1);
    EXPECT_EQ(idx5CollisionFreeMacro(&p, &p, 0, &ctx, nullptr), -1);
    EXPECT_EQ(linkEndPath(nullptr, &model), -1);
    EXPECT_EQ(linkEndPath(&ctx, &model), 0);  // nothing emitted: nothing to retract
    EXPECT_EQ(linkEmitPointList(nullptr), 0);
    EXPECT_EQ(linkEmitMacro(nullptr, 1), 0);
    EXPECT_EQ(macroPathFirstStep(nullptr), 1.0);
    EXPECT_EQ(macroPlacePoints(nullptr, &ctx, &model), nullptr);
    EXPECT_EQ(macroPlacePoints(macro, &ctx, &model), nullptr);  // no point: nothing to place
    EXPECT_EQ(macroJoinAxis(macro, nullptr), -1);
    linkThinPoints(nullptr, 1, 1);
    linkThinKeepAxes(nullptr, 1, 1, 1);
    macro->kind = kMacroApproach;  // an empty approach has no first point to link to or come down to
    EXPECT_EQ(linkInfeedCollisionTest(macro, &ctx, &model, 0, nullptr), 0);
    EXPECT_TRUE(gOut.empty());
    ctx.radialMode = 1;  // the radial links are not part of this library
    EXPECT_EQ(linkRetractApproach(&ctx, &model, &p, 10, 0), -1);
    EXPECT_EQ(linkEndPath(&ctx, &model), -1);
    // A plain approach whose link to its end is refused: its error, and no feed move nor macro emitted.
    MacroPath* one = macroPathCreate(kMacroApproach, 0, 1, 0);
    ASSERT_TRUE(one && macroPathAppend(one, p));
    EXPECT_EQ(linkInfeedCollisionTest(one, &ctx, &model, 0, nullptr), -1);
    EXPECT_TRUE(gOut.empty());
    macroPathFree(one);
    macroPathFree(macro);
}

}  // namespace

// The host's cancel reaches the searches of a free lift, which sample columns up to the clearance
// plane (a far plane made them run for good): the jump link and the final retract stop without a
// move, without section and without the no-link message, within a few polls of the cancel.
TEST_F(Links, CancelStopsTheLiftSearchesWithoutAMove) {
    MessageCapture cap(9);
    testmesh::Model plate({testmesh::slopeTri(5, 0.0)}, kBallMill, 2.0);
    plate.m.tool->size2 = 4.0;
    ctx.clearancePlane = 1e5;  // thousands of samples per column
    ctx.totalToolLength = 60.0;
    static int polls, at;
    struct Case {
        int cancelAt;  // the poll that first sees the cancel
        bool endPath;  // the final retract instead of the jump link
    } cases[] = {{1, false}, {40, false}, {1, true}, {40, true}};
    for (const Case& c : cases) {
        SetUp();
        polls = 0;
        at = c.cancelAt;
        setAbortHook([] { return ++polls >= at ? 1 : 0; });
        startAt({-10, 0, 8});
        const Vec3 T = {10, 0, 8};
        const int r =
            c.endPath ? linkEndPath(&ctx, &plate.m) : idx5CollisionFreeMacro(&T, &T, 0, &ctx, &plate.m);
        setAbortHook(nullptr);
        EXPECT_EQ(r, kLinkCancelled) << c.cancelAt;
        EXPECT_TRUE(gOut.empty()) << c.cancelAt;
        EXPECT_TRUE(gSections.empty()) << c.cancelAt;
        EXPECT_LE(polls, c.cancelAt + 2) << c.cancelAt;
        EXPECT_DOUBLE_EQ(plate.m.tool->radius, 2.0);  // the retract's grown tool is given back
    }
    // A retract without the jump over a model without triangles searches nothing: straight up, no poll.
    SetUp(), ctx.jumpFlag = 0, polls = 0, at = 1;
    setAbortHook([] { return ++polls >= at ? 1 : 0; });
    startAt({-10, 0, 8});
    EXPECT_EQ(linkEndPath(&ctx, &model), 0);
    setAbortHook(nullptr);
    EXPECT_EQ(polls, 0);
    ASSERT_EQ(gOut.size(), 1u);
    EXPECT_VEC_NEAR(gOut[0].p, (Vec3{-10, 0, 100}), 0);
    EXPECT_EQ(cap.countOf("6103,0"), 0);
}

namespace {

// A small square of the plane z = 5 about (-15, 0): the segment tests sample the whole segment, at the
// model's step, and a ball of radius 2 is clear of it from a centre height of 7 on.
TEST_F(Links, SegmentFreeSamplesTheWholeSegment) {
    const Triangle3D a{{{-16, -1, 5}, {-14, -1, 5}, {-14, 1, 5}}},
        b{{{-16, -1, 5}, {-14, 1, 5}, {-16, 1, 5}}};
    testmesh::Model post({a, b}, kBallMill, 2.0);
    post.m.stepLength = 0.5;
    ctx.totalToolLength = 60.0;
    struct Case {
        Vec3 E, F;
        int free;
    } cases[] = {
        {{-20, 0, 6}, {-10, 0, 6}, 0},  // passes over the square, too low
        {{-10, 0, 6}, {-20, 0, 6}, 0},  // either way
        {{-20, 0, 7.01}, {-10, 0, 7.01}, 1},
        {{-20, 3.5, 6}, {-10, 3.5, 6}, 1},     // beside it, beyond the ball's reach
        {{-20, 0, 6}, {-18.5, 0, 6}, 1},       // ends before it
        {{-15, 0, 6}, {-15, 0, 6.000009}, 1},  // shorter than the tolerance: nothing to sample
        {{-15, 0, 20}, {-15, 0, 6}, 0},        // a column down onto it
    };
    for (const Case& c : cases)
        EXPECT_EQ(linkSegmentFree(&up, &up, &ctx, &post.m, &c.E, &c.F), c.free) << c.E.x << " " << c.E.z;
    post.m.stepLength = 0.0;  // no step: nothing can be shown free
    EXPECT_EQ(linkSegmentFree(&up, &up, &ctx, &post.m, &cases[2].E, &cases[2].F), 0);
    // A jump lifts in whole steps until its travel clears a raised plate; it gives up at a lift of 1000.
    const Vec3 P{-5, 0, 8}, T{5, 0, 8};
    for (const double rest : {757.5, 999.5}) {  // the ball's centre resting on the plate
        testmesh::Model high({testmesh::slopeTri(rest - 2.0, 0.0)}, kBallMill, 2.0);
        high.m.stepLength = 250.0;
        double lift = -1.0, least = std::ceil((rest - 8.0) / 250.0) * 250.0;
        const int r = linkJumpLift(&P, &T, &up, &up, &ctx, &lift, 1, &high.m);
        EXPECT_EQ(r, least < 1000 ? 1 : -1) << rest;
        EXPECT_TRUE(r != 1 || lift == least) << lift;
    }
    // Up to the clearance plane the columns over both cuts are checked, also when they lie level; to the
    // higher cut's height the column over the lower one. Under the square, at either end, the jump lifts
    // in steps of 2.5 until the ball clears it at 7.
    ctx.clearancePlane = 50.0, post.m.stepLength = 2.5;
    for (const int32_t type : {0, 1})
        for (const bool back : {false, true}) {
            const Vec3 beside{-5, 0, 10.0 * type}, under{-15, 0, 0};
            double lift = -1.0;
            EXPECT_EQ(linkJumpLift(back ? &under : &beside, back ? &beside : &under, &up, &up, &ctx, &lift,
                                   type, &post.m),
                      1);
            EXPECT_EQ(lift, std::ceil(7.0 / 2.5) * 2.5) << back << type;
        }
}

// The first step of a macro is its first chord, at least 0.1; without a chord 1.
TEST(LinkMacro, FirstStepAndEmissionStopOnAFailure) {
    MacroPath* p = macroPathCreate(kMacroLeave, 2, 4, 0);
    ASSERT_NE(p, nullptr);
    macroPathAppend(p, {0, 0, 0});
    EXPECT_EQ(macroPathFirstStep(p), 1.0);
    macroPathAppend(p, {0, 3, 4});
    EXPECT_DOUBLE_EQ(macroPathFirstStep(p), 5.0);
    macroPathAppend(p, {0, 3, 5});
    linkOutResetState();
    static int calls;
    calls = 0;
    const LinkPointFn failFirst = [](const Vec3*, int32_t) { return ++calls == 1 ? -7 : 0; };
    linkSetPointCallbacks(failFirst, nullptr, nullptr);
    EXPECT_EQ(linkEmitMacro(p, 1), kLinkOutputFailed);
    EXPECT_EQ(calls, 1);                                 // nothing after the failed point
    linkSetPointCallbacks(failFirst, nullptr, nullptr);  // a new stream: every point after p0 goes out
    EXPECT_EQ(linkEmitMacro(p, 1), 0);
    EXPECT_EQ(calls, 3);
    linkOutResetState();
    macroPathFree(p);
}

// A placed leave macro keeps the cut's axis; with the macro-axis switch it ends on the macro's own
// last axis, turning towards it along the way.
TEST_F(Links, PlacedMacroTakesItsOwnAxesOnlyWhenSwitched) {
    testmesh::Model plate({testmesh::slopeTri(0, 0.0)}, kBallMill, 2.0);
    plate.m.tolerance = 0.05;
    plate.m.stepLength = 0.5;
    ctx.stepMax = 1e9, ctx.stepMin = 0.01;
    const Vec3 own = {std::sin(0.4), 0, std::cos(0.4)};
    MacroPath* p = macroPathCreate(kMacroLeave, 2, 4, 1);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 3; ++i) {
        macroPathAppend(p, {0, double(i), 5.0 + i});
        p->axes[i] = own;
    }
    for (uint16_t sw : {0, 1}) {
        ctx.macroAxisSwitch = sw;
        Plist* l = macroPlacePoints(p, &ctx, &plate.m);
        ASSERT_NE(l, nullptr);
        ASSERT_GE(l->count, 2);
        EXPECT_VEC_NEAR(l->vectors[0], up, 1e-12);
        SCOPED_TRACE(sw);
        EXPECT_VEC_NEAR(l->vectors[l->count - 1], sw ? own : up, 1e-9);
        plistFree(l);
    }
    // Unthinned, its points lie no farther apart in plan than its first segment (sqrt 2), whatever the step.
    ctx.stepMax = 0, plate.m.stepLength = 5.0;
    Plist* fine = macroPlacePoints(p, &ctx, &plate.m);
    ASSERT_NE(fine, nullptr);
    for (int32_t i = 1; i < fine->count; ++i)
        EXPECT_LE(dist2D(&fine->points[i - 1], &fine->points[i]), std::sqrt(2.0) + 1e-9) << i;
    plistFree(fine);
    // A first segment as long as the step leaves the model's sampling alone: the first step is the
    // tolerance of 1 in plan, not half the segment.
    plate.m.stepLength = std::sqrt(2.0), plate.m.tolerance = 1.0;
    Plist* coarse = macroPlacePoints(p, &ctx, &plate.m);
    ASSERT_NE(coarse, nullptr);
    ASSERT_GE(coarse->count, 2);
    EXPECT_NEAR(dist2D(&coarse->points[0], &coarse->points[1]), 1.0, 1e-9);
    plistFree(coarse);
    plate.m.stepLength = 5.0, plate.m.tolerance = 0.05;
    // An offset macro is placed with the placement engine's extra offset, which is off again after.
    p->macroType = 3;
    Plist* offset = macroPlacePoints(p, &ctx, &plate.m);
    ASSERT_NE(offset, nullptr);
    EXPECT_EQ(projB_get_offset(), 0.0);
    plistFree(offset);
    plate.m.tolerance = 0.0;  // no tolerance to place points at
    EXPECT_EQ(macroPlacePoints(p, &ctx, &plate.m), nullptr);
    macroPathFree(p);
}

}  // namespace

namespace {

// Between frames that differ, a clearance-plane link leaves and comes down lifted: the tool, grown to a
// radius of at least 1, climbs in steps of that radius until it stands clear of the part, at the last
// point before the retract and at the next cut before the approach.
TEST_F(Links, LiftedLinkBetweenFramesClimbsInStepsOfTheGrownRadius) {
    const Triangle3D slope = testmesh::slopeTri(5, 0.5);
    testmesh::Model part({slope}, kBallMill, 0.5);
    part.m.zLow = -100, part.m.zHigh = 1000;  // the placement's height range
    const Vec3 o{0, 0, 0}, ob{10, 0, 0}, ex{1, 0, 0}, ey{0, 1, 0}, ez{0, 0, 1};
    ToolGeom ball1 = *part.m.tool;
    CheckModel grown = part.m;
    ball1.radius = 1.0, grown.tool = &ball1, grown.stepLength = grown.tolerance = 1.0;
    // The least whole lift at which a ball of radius 1 over (x, y) clears the slope.
    const auto lifted = [&](double x, double y, double z) {
        const double rest = testmesh::bruteDrop(kBallMill, 1.0, 0.0, slope, x, y);
        return rest > z + 1e-6 ? z + std::ceil(rest - z - 1e-6) : z;
    };
    struct Case {
        Vec3 last, T;
    } cases[] = {
        {{0, 0, 5.56}, {6, 2, 8.4}},
        {{-8, 3, 1.3}, {-2, -1, 4.2}},
        {{4, 1, 20}, {2, 0, 7.0}},  // clear of the slope: no leave
    };
    for (const Case& c : cases) {
        SetUp();
        frameSetA(&o, &ex, &ey, &ez);
        frameSetB(&ob, &ex, &ey, &ez);
        ASSERT_EQ(framesInit(), 1);
        ctx.jumpFlag = 0;
        startAt(c.last);
        ASSERT_EQ(idx5CollisionFreeMacro(&c.T, &c.T, 0, &ctx, &part.m), 0);
        std::vector<Vec3> want;
        const double up = lifted(c.last.x, c.last.y, c.last.z), down = lifted(c.T.x, c.T.y, c.T.z);
        double lift = -1.0;  // the climb alone, by the grown ball: 1 only when there is one
        EXPECT_EQ(linkLiftHeight(&c.last, &ctx, &grown, &lift), up > c.last.z ? 1 : 0);
        EXPECT_NEAR(lift, up - c.last.z, 1e-9);
        if (up > c.last.z) want.push_back({c.last.x, c.last.y, up});
        want.push_back({c.last.x, c.last.y, 100});
        want.push_back({c.T.x, c.T.y, 100});
        want.push_back({c.T.x, c.T.y, down + 5});
        want.push_back({c.T.x, c.T.y, down});
        if (down > c.T.z) want.push_back(c.T);
        ASSERT_EQ(gOut.size(), want.size()) << c.last.x;
        for (size_t i = 0; i < want.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_VEC_NEAR(gOut[i].p, (Vec3{want[i].x - 10, want[i].y, want[i].z}), 1e-9);
        }
        EXPECT_DOUBLE_EQ(part.m.tool->radius, 0.5);
        for (size_t k = 0; k < want.size(); ++k) {  // a failure at any point of the link is reported
            linkSetPointCallbacks(recPoint, nullptr, nullptr), startAt(c.last);
            gFailAt = k;
            EXPECT_EQ(idx5CollisionFreeMacro(&c.T, &c.T, 0, &ctx, &part.m), kLinkOutputFailed) << k;
            EXPECT_EQ(gOut.size(), k);  // and nothing after it
            gFailAt = SIZE_MAX;
        }
    }
    framesResetState();
}

}  // namespace

namespace {

// Path mode 2 keeps a link and a placed macro on their own curve, however the part lies: each point back
// at the curve's height where the placement put it. Without a path mode they rest on the part (a ball of
// radius 2 over the plane z = 6 at 8), and path mode 1 checks the curve's points against the part again.
TEST_F(Links, PathModeTwoKeepsLinksAndMacrosOnTheirCurve) {
    testmesh::Model plate({testmesh::slopeTri(6, 0.0)}, kBallMill, 2.0);
    plate.m.tolerance = 0.05;
    struct Case {
        uint16_t pathMode;
        double z;
    } cases[] = {{0, 8.0}, {1, 8.0}, {2, 5.0}};
    for (const Case& c : cases) {
        SetUp();
        ctx.jumpFlag = 0, ctx.stepMax = 1e9, ctx.stepMin = 0.01, ctx.stepAngleCos = std::cos(0.2);
        ctx.pathMode = c.pathMode;
        startAt({0, 0, 5});
        const Vec3 to = {10, 0, 5};
        ASSERT_EQ(idx5CollisionFreeMacro(&to, &to, 1, &ctx, &plate.m),
                  0);  // along the profile, down onto `to`
        ASSERT_FALSE(gOut.empty());
        for (size_t i = 0; i + 1 < gOut.size(); ++i) {
            EXPECT_NEAR(gOut[i].p.z, c.z, 1e-4) << c.pathMode << " " << gOut[i].p.x;
            EXPECT_NEAR(gOut[i].p.y, 0.0, 1e-9);
        }
        if (c.z != to.z) EXPECT_VEC_NEAR(gOut[gOut.size() - 2].p, (Vec3{10, 0, c.z}), 1e-4);
        EXPECT_VEC_NEAR(gOut.back().p, to, 1e-4);
        // A leave macro of two segments along y at the height 5.
        MacroPath* p = macroPathCreate(kMacroLeave, 2, 4, 0);
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 3; ++i) macroPathAppend(p, {0, double(i), 5.0});
        plate.m.stepLength = 0.5;
        Plist* l = macroPlacePoints(p, &ctx, &plate.m);
        plate.m.stepLength = 1.0;
        ASSERT_NE(l, nullptr);
        ASSERT_GE(l->count, 2);
        for (int32_t i = 0; i < l->count; ++i) {
            EXPECT_NEAR(l->points[i].z, c.z, 1e-4) << c.pathMode << " " << i;
            EXPECT_NEAR(l->points[i].x, 0.0, 1e-9);
        }
        EXPECT_NEAR(l->points[l->count - 1].y, 2.0, 1e-4);
        plistFree(l);
        macroPathFree(p);
    }
}

}  // namespace

namespace {

// The final retract of a jump path first lifts along the tool axis, in steps of the model's check step,
// until the tool grown by 1 rises clear of the part, then goes straight up to the clearance plane.
TEST_F(Links, FinalRetractLiftsUntilTheGrownToolIsClear) {
    const Triangle3D slope = testmesh::slopeTri(5, 0.5);
    testmesh::Model part({slope}, kBallMill, 2.0);
    ctx.totalToolLength = 60.0;
    struct Case {
        double x, y, above, step;  // the last point: above the ball's rest over (x, y)
    } cases[] = {{0, 0, 0, 0.25}, {-6, 3, 0.3, 0.25}, {4, -2, 0, 0.4}, {2, 1, 1.5, 0.25}};
    for (const Case& c : cases) {
        SetUp();
        ctx.totalToolLength = 60.0;
        part.m.stepLength = c.step;
        const double rest = testmesh::bruteDrop(kBallMill, 2.0, 0, slope, c.x, c.y) + c.above;
        const double clear = testmesh::bruteDrop(kBallMill, 3.0, 0, slope, c.x, c.y);
        const double lift = std::ceil((clear - rest - 1e-5) / c.step) * c.step;
        startAt({c.x, c.y, rest});
        ASSERT_EQ(linkEndPath(&ctx, &part.m), 0);
        std::vector<Vec3> want;
        if (lift > 0) want.push_back({c.x, c.y, rest + lift});
        want.push_back({c.x, c.y, 100});
        ASSERT_EQ(gOut.size(), want.size()) << c.x;
        for (size_t i = 0; i < want.size(); ++i) EXPECT_VEC_NEAR(gOut[i].p, want[i], 1e-9);
        EXPECT_DOUBLE_EQ(part.m.tool->radius, 2.0);
    }
    // Without the jump the last point is only checked: a tool sunk more than 0.01 into the part is a
    // collision (message 5501, no retract); in path mode 0 nothing is checked.
    const double rest = testmesh::bruteDrop(kBallMill, 2.0, 0, slope, 1, 1);
    const struct {
        double below;
        uint16_t pathMode;
        int result;
    } checks[] = {{0.005, 1, 0}, {0.02, 1, -2}, {0.5, 1, -2}, {0.5, 0, 0}, {-1, 1, 0}};
    for (int32_t level : {9, 8}) {  // a message of level 9: a host at level 8 does not see it
        MessageCapture cap(level);
        for (const auto& c : checks) {
            SetUp();
            ctx.jumpFlag = 0, ctx.pathMode = c.pathMode;
            startAt({1, 1, rest - c.below});
            EXPECT_EQ(linkEndPath(&ctx, &part.m), c.result) << c.below;
            EXPECT_EQ(gOut.size(), c.result == 0 ? 1u : 0u) << c.below;
        }
        EXPECT_EQ(cap.countOf("5501,0"), level == 9 ? 2 : 0);
    }
}

}  // namespace

namespace {

// Which macros are placed on the part before they go out: none without the macro switch or of type 0,
// not a type-20 move straight along the axis, and the ramps (8, 28) only from an infeed threshold of
// 0.01 on. Placed over the plane z = 6, a ball of radius 2 keeps its centre at 8; unplaced, the macro's
// own points go out.
TEST_F(Links, OnlyTestedMacrosArePlacedOnThePart) {
    testmesh::Model plate({testmesh::slopeTri(6, 0.0)}, kBallMill, 2.0);
    plate.m.tolerance = 0.05;
    plate.m.stepLength = 0.5;
    struct Case {
        int32_t type;
        bool vertical;
        double threshold;
        uint16_t macroSwitch;
        bool placed;
    } cases[] = {
        {2, false, 0, 1, true},    {2, false, 0, 0, false},      {0, false, 0, 1, false},
        {20, true, 0, 1, false},   {20, false, 0, 1, true},      {8, false, 0.0099, 1, false},
        {8, false, 0.01, 1, true}, {28, false, 0.005, 1, false}, {28, false, 0.5, 1, true},
    };
    for (const Case& c : cases) {
        SetUp();
        ctx.stepMax = 1e9, ctx.stepMin = 0.01, ctx.infeedThreshold = c.threshold;
        ctx.linkMacroSwitch = c.macroSwitch;
        MacroPath* p = macroPathCreate(kMacroLeave, c.type, 4, 0);
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 3; ++i) macroPathAppend(p, {0, c.vertical ? 0.0 : double(i), 5.0 + i});
        ASSERT_EQ(linkInfeedCollisionTest(p, &ctx, &plate.m, -1, nullptr), 0);
        ASSERT_FALSE(gOut.empty());
        SCOPED_TRACE(c.type);
        if (c.placed) {
            for (const Out& o : gOut) EXPECT_NEAR(o.p.z, 8.0, 1e-3) << c.threshold;
        } else {
            ASSERT_EQ(gOut.size(), 2u);
            for (int i = 0; i < 2; ++i) EXPECT_VEC_NEAR(gOut[i].p, p->points[i + 1], 0);
        }
        macroPathFree(p);
    }
    // Down a straight slope the placed macro is thinned to its far end, the ball's centre 2 sqrt(1 + 0.2^2)
    // above the plane: no point is kept at random, as the model asks for none. Placed without a path
    // mode, climb mode 2 never lets it descend: the far end stays at the height of the first point.
    testmesh::Model slope({testmesh::slopeTri(6, -0.2)}, kBallMill, 2.0);
    slope.m.tolerance = 0.05;
    slope.m.zLow = -100, slope.m.zHigh = 1000;  // the placement's height range
    MacroPath* p = macroPathCreate(kMacroLeave, 2, 4, 0);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 3; ++i) macroPathAppend(p, {10.0 * i, 0, 0});
    const uint16_t rows[][3] = {{1, 0, 20}, {0, 0, 20}, {0, 2, 0}};  // path mode, climb mode, x of the rest
    for (const auto& c : rows) {
        SetUp();
        ctx.stepMax = 1e9, ctx.stepMin = 0.01, ctx.pathMode = c[0], ctx.climbMode = c[1];
        ASSERT_EQ(linkInfeedCollisionTest(p, &ctx, &slope.m, -1, nullptr), 0);
        ASSERT_EQ(gOut.size(), 1u);
        SCOPED_TRACE(c[1] + 10 * c[0]);
        EXPECT_VEC_NEAR(gOut[0].p, (Vec3{20, 0, 6 - 0.2 * c[2] + 2 * std::sqrt(1.04)}), 1e-3);
    }
    macroPathFree(p);
}

}  // namespace

namespace {

// After a leave macro the link goes on along the profile to the next cut's point; the climb mode 2 keeps
// it at the height the leave ended at.
TEST_F(Links, LeaveGoesOnToTheNextPointAtTheClimbModesHeight) {
    struct Case {
        uint16_t climb;
        Vec3 next, last;  // the next point and where the output must end
    } cases[] = {{0, {6, 2, 3}, {6, 2, 3}}, {2, {6, 2, 3}, {6, 2, 7}}, {0, {6, 2, 9}, {6, 2, 9}}};
    for (const Case& c : cases) {
        SetUp();
        ctx.jumpFlag = 0, ctx.stepMax = 1e9, ctx.stepMin = 0.01, ctx.stepAngleCos = std::cos(0.2);
        ctx.climbMode = c.climb;
        MacroPath* p = macroPathCreate(kMacroLeave, 2, 4, 0);
        ASSERT_NE(p, nullptr);
        for (int i = 0; i < 3; ++i) macroPathAppend(p, {0, double(i), 5.0 + i});
        ASSERT_EQ(linkInfeedCollisionTest(p, &ctx, &model, -1, &c.next), 0);
        ASSERT_GE(gOut.size(), 3u);
        EXPECT_VEC_NEAR(gOut[1].p, p->points[2], 0);  // the leave first
        SCOPED_TRACE(c.climb);
        EXPECT_VEC_NEAR(gOut.back().p, c.last, 1e-4);
        for (const Out& o : gOut) EXPECT_LE(o.p.z, std::max(7.0, c.next.z) + 1e-4);  // not over the plane
        const size_t sent = gOut.size();
        SetUp();  // an output failure on the way to the next point is passed up
        ctx.jumpFlag = 0, gFailAt = sent - 1;
        EXPECT_EQ(linkInfeedCollisionTest(p, &ctx, &model, -1, &c.next), kLinkOutputFailed);
        macroPathFree(p);
    }
}

}  // namespace
namespace {

// Over nothing a checked link is placed at every profile step (0.5) and turns the axis evenly from the
// cut's to the next cut's; thinning drops the points of the straight line whose axis stays within the
// step angle of the last kept one, on either side.
TEST_F(Links, CheckedLinkTurnsItsAxesEvenlyAndThinsWithinTheStepAngle) {
    testmesh::Model none({}, kBallMill, 2.0);
    none.m.tolerance = none.m.stepLength = 0.5;
    const Vec3 cur = {std::sin(0.3), 0, std::cos(0.3)}, next = {0, std::sin(0.4), std::cos(0.4)};
    // The two axes lie 0.495 apart: 0.124 per step on a link 2 long.
    const struct {
        double length, maxChord, stepAngle;
        std::vector<int> kept;  // steps of 0.5 that go out, the start left out
    } cases[] = {{1, 0, 1, {1, 2}},
                 {2, 0, 1, {1, 2, 3, 4}},
                 {2, 1e9, 0.3, {3, 4}},  // 0.37 from the start, 0.12 from the end
                 {2, 1e9, 0.1, {1, 2, 3, 4}},
                 {2, 1e9, 0.6, {4}}};
    for (const auto& c : cases) {
        SetUp();
        linkSetAxisCallback(recAxis);
        ctx.stepMax = c.maxChord, ctx.stepMin = 0.01, ctx.stepAngleCos = std::cos(c.stepAngle);
        startAt({0, 0, 5});
        linkSetToolAxis(&cur), linkSetNextToolAxis(&next);
        const Vec3 a{0, 0, 5}, b{c.length, 0, 5};
        ProfileCurve* line = profileLine(&a, &b);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(linkCheckedMove(line, &ctx, &none.m), 1);
        profileFreeList(line);
        ASSERT_EQ(gOut.size(), c.kept.size()) << c.length << " " << c.stepAngle;
        for (size_t i = 0; i < gOut.size(); ++i) {
            const double x = 0.5 * c.kept[i];
            EXPECT_VEC_NEAR(gOut[i].p, (Vec3{x, 0, 5}), 1e-9);
            EXPECT_VEC_NEAR(gOut[i].axis, slerp(cur, next, x / c.length), 1e-9);
            EXPECT_EQ(gOut[i].cls, kLinkClassFeed);
        }
    }
    // A link shorter than two steps is sampled at 50 tolerances, a longer one at the step.
    none.m.tolerance = 0.01, none.m.stepLength = 1.0;
    for (const double length : {1.5, 2.5}) {
        SetUp();
        ctx.stepMax = 0;
        startAt({0, 0, 5});
        const Vec3 a{0, 0, 5}, b{length, 0, 5};
        ProfileCurve* line = profileLine(&a, &b);
        ASSERT_NE(line, nullptr);
        EXPECT_EQ(linkCheckedMove(line, &ctx, &none.m), 1);
        profileFreeList(line);
        double widest = 0.0, x = 0.0;
        for (const Out& o : gOut) widest = std::max(widest, o.p.x - x), x = o.p.x;
        EXPECT_NEAR(widest, length < 2 ? 0.5 : 1.0, 1e-9) << length;
        EXPECT_NEAR(x, length, 1e-4) << length;
    }
}

// A connecting curve of smooth mode 3 dips by half the link's length at its middle, one of mode 2 not.
TEST_F(Links, SmoothModeThreeDipsTheConnectingCurve) {
    testmesh::Model none({}, kBallMill, 2.0);
    none.m.tolerance = none.m.stepLength = 0.5;
    for (uint16_t smooth : {2, 3}) {
        SetUp();
        ctx.jumpFlag = 0, ctx.smoothMode = smooth, ctx.stepMax = 0;
        startAt({-1, -1, 5});  // a bend: a curve of more than one chord
        startAt({0, 0, 5});
        const Vec3 T{10, 0, 5}, P2{11, -1, 5};
        ASSERT_EQ(idx5CollisionFreeMacro(&T, &P2, 1, &ctx, &none.m), 0);
        ASSERT_GT(gOut.size(), 5u);
        double low = 1e9;
        for (const Out& o : gOut) low = std::min(low, o.p.z);
        EXPECT_NEAR(low, smooth == 3 ? 0.0 : 5.0, smooth == 3 ? 0.5 : 1e-9) << smooth;
        EXPECT_LT(dist3D(&gOut.back().p, &T), 0.5);  // within a profile step of the next cut
    }
}

}  // namespace
