#include "avoidance/avoidtilt.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "avoidance/avoidgrid.h"
#include "geometry/msg_capture.h"
#include "geometry/plist.h"

namespace {

// A fake assembly check: a position collides when its axis leans more than gLimit from +z, or always
// at x = gBlockedX. Every tilt it is asked about is kept.
double gLimit = 0.35;
double gBlockedX = -1.0;
int gCode = -3;
std::vector<double> gTrials;

int fakeCheck(const Vec3* p, const Vec3* a) {
    gTrials.push_back(std::acos(a->z));
    return p->x == gBlockedX || std::acos(a->z) > gLimit ? gCode : 1;
}
int fakeWhere(const Vec3* p, const Vec3* a, Vec3* vertex) {
    const int r = fakeCheck(p, a);
    if (r < 0) *vertex = Vec3{7, 8, 9};
    return r;
}
int fakeVertical(const Vec3* p, double* value) {
    *value = 0.5;
    return p->x == gBlockedX ? -2 : 1;
}

const AvoidCollisionOps kFake{fakeCheck, fakeWhere, fakeCheck, fakeVertical, nullptr, nullptr};

Vec3 leaning(double t, double azimuth) {
    return Vec3{std::sin(t) * std::cos(azimuth), std::sin(t) * std::sin(azimuth), std::cos(t)};
}

struct TiltTest : ::testing::Test {
    void SetUp() override {
        avoidTiltResetState();
        avoidSetCollisionOps(&kFake);
        avoidSetModelFlag(1);
        gLimit = 0.35, gBlockedX = -1.0, gCode = -3;
        gTrials.clear();
    }
    void TearDown() override { avoidTiltResetState(); }
    // Five points at x = 0..4 leaning 0.8 rad.
    Plist* fivePoints() {
        Plist* L = plistCreate(5, 1);
        for (int i = 0; L && i < 5; i++) {
            const Vec3 p{double(i), 0, 0}, a = leaning(0.8, 1.0);
            plistAppend(L, i, &p, 0, &a, 0);
        }
        return L;
    }
    HeightGrid grid{};  // only its presence matters with obstacle meshes
};

}  // namespace

TEST_F(TiltTest, TrialOrderThenBisection) {
    avoidSetFirstTrialAngle(0.6);
    const Vec3 p{0, 0, 0};
    Vec3 a = leaning(0.8, 2.0);
    ASSERT_EQ(avoidTryTilt(&p, &a, 1, 0), kAvoidTiltedDown);
    ASSERT_GE(gTrials.size(), 5u);
    const double expect[] = {0.8, 0.6, 0.7, 0.0};
    for (int i = 0; i < 4; i++) EXPECT_NEAR(gTrials[i], expect[i], 1e-12) << i;
    const double t = std::acos(a.z);
    EXPECT_GT(t, 0.349);
    EXPECT_LE(t, 0.35);
    EXPECT_NEAR(std::atan2(a.y, a.x), 2.0, 1e-9);
}

TEST_F(TiltTest, NoTrialsWhereNothingCanTilt) {
    struct Case {
        Vec3 axis;
        int32_t tilt, prev;
        int code, result;
        size_t trials;
        int referenced;
    } cases[] = {
        {{0, 0, 1}, 1, 0, -3, kAvoidUnresolved, 1, 0},  // vertical axis: no tilt plane
        {leaning(0.8, 0), 0, 0, -3, kAvoidUnresolved, 1, 1},
        {leaning(0.8, 0), 0, 0, -10, kAvoidUnresolved, 1, 0},  // the analytic tool test names no triangle
    };
    for (const Case& c : cases) {
        SetUp();
        gLimit = -1.0, gCode = c.code;
        Vec3 a = c.axis;
        const Vec3 p{0, 0, 0};
        EXPECT_EQ(avoidTryTilt(&p, &a, c.tilt, c.prev), c.result);
        EXPECT_EQ(gTrials.size(), c.trials);
        Vec3 ref{};
        EXPECT_EQ(avoidReference(&ref), c.referenced);
    }
}

TEST_F(TiltTest, PreviousTwoSearchesDownwardFirst) {
    const Vec3 p{0, 0, 0};
    Vec3 a = leaning(0.8, 0);
    ASSERT_EQ(avoidTryTilt(&p, &a, 1, 2), 2);
    EXPECT_NEAR(gTrials[1], 0.79, 1e-12);
    EXPECT_NEAR(std::acos(a.z), 0.35, 0.001);
}

TEST_F(TiltTest, UnresolvedPointCutsThePathOnce) {
    MessageCapture cap(9);
    for (int run = 0; run < 2; run++) {
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        gBlockedX = 3.0;
        EXPECT_EQ(avoidCollisionPath(L, &grid, nullptr, 1), kAvoidNoCheck);  // no tool
        ToolDescription tool{};
        EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 1), kAvoidUnresolved);
        EXPECT_EQ(L->count, 3);
        for (int i = 0; i < 3; i++) EXPECT_NEAR(std::acos(L->vectors[i].z), 0.35, 0.001);
        plistFree(L);
    }
    EXPECT_EQ(cap.countOf("6011,0"), 1);
}

TEST_F(TiltTest, WithoutTiltEveryNegativeCodeCuts) {
    ToolDescription tool{};
    for (int code : {-2, -3, -7, -10}) {
        SetUp();
        gCode = code;
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        gLimit = 1.0, gBlockedX = 2.0;
        EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 0), kAvoidUnresolved) << code;
        EXPECT_EQ(L->count, 2);
        EXPECT_EQ(avoidCollisionPath(L, nullptr, &tool, 0), 1);  // no obstacles: nothing tested
        plistFree(L);
    }
}

TEST_F(TiltTest, VerticalModeMarksOrStops) {
    ToolDescription tool{};
    struct Case {
        int32_t mode;
        int result;
        int32_t count;
        int marked;  // points of kind 10
    } cases[] = {{0, -2, 3, 1}, {2, -2, 5, 2}, {3, -2, 5, 1}, {1, 1, 5, 1}};
    for (const Case& c : cases) {
        SetUp();
        AvoidSwitches s{};
        s.verticalMode = 1, s.unresolvedMode = c.mode;
        avoidSetSwitches(&s);
        gBlockedX = 3.0;
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 1), c.result) << c.mode;
        EXPECT_EQ(L->count, c.count);
        int marked = 0;
        for (int i = 0; i < 5; i++) marked += (L->flags[i] >> 8) == kAvoidKindUnresolved;
        EXPECT_EQ(marked, c.marked) << c.mode;
        plistFree(L);
    }
}

TEST_F(TiltTest, RunRecheckAndRefusals) {
    ToolDescription tool{};
    AvoidContext ctx{&grid, &tool, 0.5, 0, 0, 0, 0.1};
    AvoidSwitches s{};
    s.recheck1 = s.recheck2 = 1;
    avoidSetSwitches(&s);
    gLimit = 1.0, gBlockedX = 4.0;
    Plist* L = fivePoints();
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(avoidCollisionRun(&ctx, L, 0), kAvoidUnresolved);
    EXPECT_EQ(L->count, 4);
    EXPECT_EQ(avoidTiltLimit(), 0.5);
    ctx.headAvoidAxisMode = 1;
    EXPECT_EQ(avoidCollisionRun(&ctx, L, 1), kAvoidNoCheck);
    avoidSetCollisionOps(nullptr);
    ctx.headAvoidAxisMode = 0;
    EXPECT_EQ(avoidCollisionRun(&ctx, L, 1), kAvoidNoCheck);
    EXPECT_EQ(L->count, 4);
    plistFree(L);
}
