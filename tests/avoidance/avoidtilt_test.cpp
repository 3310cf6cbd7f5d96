#include "avoidance/avoidtilt.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "avoidance/avoidgrid.h"
#include "avoidance/avoidhead.h"
#include "collision/meshutil.h"
#include "geometry/msg_capture.h"
#include "geometry/plist.h"
#include "near.h"

namespace {

// A fake assembly check: a position answers gCode when its axis leans more than gLimit from +z or
// when it lies at x = gBlockedX, else 0. Every tilt it is asked about is kept.
double gLimit = 0.35, gBlockedX = -1.0;
int gCode = -3;
std::vector<double> gTrials;
Vec3 gLastAxis{};

int32_t fakeFull(const Vec3* p, const Vec3* a, int32_t*) {
    gTrials.push_back(std::acos(a->z));
    gLastAxis = *a;
    return p->x == gBlockedX || std::acos(a->z) > gLimit ? gCode
                                                         : 0;  // 0: free, like any result not negative
}
int32_t fakeCheck(const Vec3* p, const Vec3* a, int32_t* hit, int32_t full) {
    return full == 1 ? fakeFull(p, a, hit) : 1;  // the tilt asks for the full check only
}
int32_t fakeWhere(const Vec3* p, const Vec3* a, Vec3* vertex) {
    *vertex = Vec3{7, 8, 9};
    return fakeFull(p, a, nullptr);
}
double firstTrial() {
    return 0.6;
}
int fakeFreeHeight(const Vec3* p, double* height) {  // lifting frees every point but the one past x
    *height = p->z + 1.0;
    return p->x == gBlockedX + 1.0 ? -2 : 1;
}
int32_t fakeVertical(const Vec3* p, int32_t full, int32_t* part) {
    *part = -3;
    return p->x == gBlockedX || full != 1 ? -2 : 1;  // an upright tool is checked whole
}

Vec3 leaning(double t, double azimuth) {
    return Vec3{std::sin(t) * std::cos(azimuth), std::sin(t) * std::sin(azimuth), std::cos(t)};
}

const AvoidCollisionOps kFake{fakeCheck,      fakeWhere, fakeFull,  fakeVertical,
                              fakeFreeHeight, nullptr,   firstTrial};

struct TiltTest : ::testing::Test {
    void SetUp() override {
        avoidTiltResetState();
        avoidSetCollisionOps(&kFake);
        avoidSetModelFlag(1);
        gLimit = 0.35, gBlockedX = -1.0, gCode = -3;
        gTrials.clear();
    }
    void TearDown() override { avoidTiltResetState(); }
    Plist* fivePoints() {  // at x = 0..4, leaning 0.8 rad
        Plist* L = plistCreate(5, 1);
        for (int i = 0; L && i < 5; i++) {
            const Vec3 p{double(i), 0, 0}, a = leaning(0.8, 1.0);
            plistAppend(L, i, &p, 0, &a, 0);
        }
        return L;
    }
    HeightGrid grid{};  // only its presence is read with obstacle meshes
    ToolDescription tool{};
};

}  // namespace

TEST_F(TiltTest, TrialOrderThenBisection) {
    const Vec3 p{0, 0, 0};
    Vec3 a = leaning(0.8, 2.0);
    ASSERT_EQ(avoidTryTilt(&p, &a, 1, 0), kAvoidTiltedDown);
    // The bracket [0, 0.8] then halves until within 0.001: ten halvings, as 0.8 / 2^10 < 0.001 < 0.8 / 2^9.
    ASSERT_EQ(gTrials.size(), 4u + 10u);
    const double expect[] = {0.8, 0.6, 0.7, 0.0};  // the check as it is, t0, (t0 + b) / 2, upright
    for (int i = 0; i < 4; i++) EXPECT_NEAR(gTrials[i], expect[i], 1e-12) << i;
    EXPECT_GT(std::acos(a.z), 0.349);
    EXPECT_LE(std::acos(a.z), 0.35);
    EXPECT_NEAR(std::atan2(a.y, a.x), 2.0, 1e-9);
    a = leaning(0.8, 0.0);
    gTrials.clear();
    ASSERT_EQ(avoidTryTilt(&p, &a, 1, 2), 2);  // after a 2 the search starts just below b
    EXPECT_NEAR(gTrials[1], 0.79, 1e-12);
    // Without the check that names a vertex the first trial is the full check as well.
    const AvoidCollisionOps noWhere{fakeCheck, nullptr, fakeFull, fakeVertical, nullptr, nullptr, firstTrial};
    avoidSetCollisionOps(&noWhere);
    a = leaning(0.8, 2.0);
    EXPECT_EQ(avoidTryTilt(&p, &a, 1, 0), kAvoidTiltedDown);
    // A host without a side angle has upright tried first; it counts, so the bisection follows at once.
    const AvoidCollisionOps noSide{fakeCheck, fakeWhere, fakeFull, fakeVertical, nullptr, nullptr, nullptr};
    avoidSetCollisionOps(&noSide);
    a = leaning(0.8, 2.0), gTrials.clear();
    EXPECT_EQ(avoidTryTilt(&p, &a, 1, 0), kAvoidTiltedDown);
    ASSERT_EQ(gTrials.size(), 2u + 10u);
    const double bisected[] = {0.8, 0.0, 0.4, 0.2};  // the check as it is, upright, then halves
    for (int i = 0; i < 4; i++) EXPECT_NEAR(gTrials[i], bisected[i], 1e-12) << i;
}

TEST_F(TiltTest, AnswersWithoutTrials) {
    struct Case {
        Vec3 axis;
        int32_t tilt;
        int code, result, referenced;
    } cases[] = {
        {{0, 0, 1}, 1, -3, kAvoidUnresolved, 0},  // upright: no tilt plane
        {leaning(0.8, 0), 0, -3, kAvoidUnresolved, 1},
        {leaning(0.8, 0), 0, -2, kAvoidUnresolved, 1},  // parts -2 to -5 are the obstacle models'
        {leaning(0.8, 0), 0, -5, kAvoidUnresolved, 1},
        {leaning(0.8, 0), 0, -1, kAvoidUnresolved, 0},
        {leaning(0.8, 0), 0, -6, kAvoidUnresolved, 0},
        {leaning(0.8, 0), 0, -10, kAvoidUnresolved, 0},  // the analytic tool test names no triangle
        {leaning(0.8, 0), 1, 2, kAvoidFree, 0},          // any result that is not negative is free
        {leaning(0.8, 0), 1, 0, kAvoidFree, 0},
    };
    for (const Case& c : cases) {
        SetUp();
        gLimit = -1.0, gCode = c.code;
        Vec3 a = c.axis, ref{};
        const Vec3 p{0, 0, 0};
        EXPECT_EQ(avoidTryTilt(&p, &a, c.tilt, 0), c.result);
        EXPECT_EQ(gTrials.size(), 1u);
        EXPECT_EQ(avoidReference(&ref), c.referenced);
    }
}

// A check free only for axes leaning towards -x; every tilt it is asked about is kept, signed.
std::vector<double> gSigned;
int32_t freeTowardsMinusX(const Vec3*, const Vec3* a, int32_t*, int32_t) {
    gSigned.push_back(std::atan2(a->x, a->z));
    return a->x < -1e-9 ? 1 : -3;
}
int32_t freeFromTheEdge(const Vec3*, const Vec3* a, int32_t*, int32_t) {  // free from a tilt of 0.35 on
    return std::acos(a->z) < 0.35 ? -1 : 1;
}

// Without the first trials and the upward search, the search steps down from B by 0.01 while the angle
// stays above 0: it never turns the axis past the vertical to the other side.
TEST_F(TiltTest, DownwardStepsStopShortOfTheVertical) {
    const AvoidCollisionOps ops{freeTowardsMinusX, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    avoidSetCollisionOps(&ops);
    gSigned.clear();
    Vec3 a = leaning(0.305, 0.0);
    const Vec3 p{0, 0, 0};
    EXPECT_EQ(avoidTryTilt(&p, &a, 1, 2), kAvoidUnresolved);
    ASSERT_EQ(gSigned.size(), 31u);
    for (size_t k = 1; k < gSigned.size(); ++k) EXPECT_NEAR(gSigned[k], 0.305 - 0.01 * k, 1e-12) << k;
    // An axis lying flat is already at the upper end: no upward trials, 157 steps down.
    AvoidSwitches sw{};
    sw.upperTilt = std::acos(0.0);
    avoidSetSwitches(&sw);
    gSigned.clear();
    a = Vec3{1, 0, 0};
    EXPECT_EQ(avoidTryTilt(&p, &a, 1, 2), kAvoidUnresolved);
    EXPECT_EQ(gSigned.size(), 158u);
    // Free only from 0.35 on and nothing free below B = 0.3: the search looks up to the upper end 0.5,
    // then bisects back to the edge of the free range, keeping the azimuth.
    const AvoidCollisionOps freeAbove{freeFromTheEdge, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    avoidSetCollisionOps(&freeAbove);
    sw.upperTilt = 0.5;
    avoidSetSwitches(&sw);
    a = leaning(0.3, 1.0);
    EXPECT_EQ(avoidTryTilt(&p, &a, 1, 0), kAvoidTiltedOther);
    EXPECT_GE(std::acos(a.z), 0.35);
    EXPECT_LE(std::acos(a.z), 0.351);
    EXPECT_NEAR(std::atan2(a.y, a.x), 1.0, 1e-9);
}

TEST_F(TiltTest, PathCutBeforeTheUnresolvedPoint) {
    MessageCapture cap(9);
    for (int run = 0; run < 2; run++) {
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        gBlockedX = 3.0;
        EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 1), kAvoidUnresolved);
        EXPECT_EQ(L->count, 3);
        for (int i = 0; i < 3; i++) EXPECT_NEAR(std::acos(L->vectors[i].z), 0.35, 0.001);
        Vec3 ref{};  // no tilt cleared it: the triangle it met is the reference
        ASSERT_EQ(avoidReference(&ref), 1);
        EXPECT_TRUE(ref.x == 7 && ref.y == 8 && ref.z == 9);
        plistFree(L);
    }
    EXPECT_EQ(cap.countOf("6011,0"), 1);
}

// A free first trial counts only when it is not negative; the bisection then runs from it.
TEST_F(TiltTest, FirstTrialCountsOnlyWhenNotNegative) {
    const Vec3 p{0, 0, 0};
    gLimit = 0.65;  // t0 = 0.6 is free
    Vec3 a = leaning(0.8, 0.5);
    ASSERT_EQ(avoidTryTilt(&p, &a, 1, 0), kAvoidTiltedDown);
    ASSERT_GE(gTrials.size(), 4u);
    EXPECT_NEAR(gTrials[1], 0.6, 1e-12);
    EXPECT_NEAR(gTrials[2], 0.7, 1e-12);  // the first midpoint of the bisection between 0.6 and 0.8
    EXPECT_NEAR(gTrials[3], 0.65, 1e-12);
    EXPECT_GT(std::acos(a.z), 0.649);
    EXPECT_LE(std::acos(a.z), 0.65);
}

// Points of kind 2 are never tested; without an obstacle record nothing is; the axis that passed is
// written back only to the points that were tested.
TEST_F(TiltTest, UntestedPointsAndNoObstacleRecord) {
    Plist* L = fivePoints();
    ASSERT_NE(L, nullptr);
    gBlockedX = 3.0;
    L->flags[3] = static_cast<uint16_t>(2 << 8);
    EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 1), 1);
    EXPECT_EQ(L->count, 5);
    for (int i = 0; i < 5; i++) EXPECT_NEAR(std::acos(L->vectors[i].z), i == 3 ? 0.8 : 0.35, 0.001) << i;
    gTrials.clear();
    L->flags[3] = 0;
    EXPECT_EQ(avoidCollisionPath(L, nullptr, &tool, 1), 1);
    EXPECT_TRUE(gTrials.empty());
    EXPECT_NEAR(std::acos(L->vectors[3].z), 0.8, 1e-12);
    plistFree(L);
}

std::vector<std::array<int32_t, 2>> gRecorded;  // part and result handed to the report
int32_t fakeRecord(const Vec3*, const Vec3*, int32_t part, int32_t result) {
    gRecorded.push_back({part, result});
    return result == -3 ? 1 : result;  // the report may pass a hit
}

int32_t recordTilt(const Vec3* p, const Vec3* a, int32_t part, int32_t result) {
    gTrials.push_back(std::atan2(std::hypot(a->x, a->y), a->z));  // the whole axis, not its z alone
    return fakeRecord(p, a, part, result);
}

TEST_F(TiltTest, ReportedResultsTakeThePlaceOfTheChecks) {
    const AvoidCollisionOps ops{fakeCheck, fakeWhere,  fakeFull,  fakeVertical,
                                nullptr,   fakeRecord, firstTrial};
    avoidSetCollisionOps(&ops);
    avoidSetReportFlag(1);
    gBlockedX = 2.0;
    struct Case {
        int32_t tilt;
        std::vector<std::array<int32_t, 2>> recorded;
        int result;
        int32_t count;
    } cases[] = {
        {0, {{0, -3}, {0, -3}, {0, -3}, {0, -3}, {0, -3}}, 1, 5},  // every hit passed by the report
        {1, {{0, 1}, {0, 1}, {0, -2}}, kAvoidUnresolved, 2},       // tilted twice, then no free tilt
    };
    for (const Case& c : cases) {
        gRecorded.clear();
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, c.tilt), c.result);
        EXPECT_EQ(gRecorded, c.recorded);
        EXPECT_EQ(L->count, c.count);
        plistFree(L);
    }
}

TEST_F(TiltTest, CutsOrMarksByMode) {
    struct Case {
        int32_t vertical, mode, tilt, code;
        int result;
        int32_t count, marked;
    } cases[] = {
        {0, 0, 0, -2, -2, 2, 0}, {0, 0, 0, -7, -2, 2, 0},  // without tilting every negative code cuts
        {1, 0, 1, -2, -2, 2, 1}, {1, 2, 1, -2, -2, 5, 3}, {1, 3, 1, -2, -2, 5, 1}, {1, 1, 1, -2, 1, 5, 1},
    };
    for (const Case& c : cases) {
        SetUp();
        AvoidSwitches s{};
        s.verticalMode = c.vertical, s.unresolvedMode = c.mode;
        avoidSetSwitches(&s);
        gLimit = 1.0, gBlockedX = 2.0, gCode = c.code;
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        const AvoidContext ctx{&grid, &tool, 0.5, 0, 0, c.tilt, 0.1, nullptr};
        EXPECT_EQ(avoidCollisionRun(&ctx, L, c.tilt), c.result) << c.code << " " << c.mode;
        EXPECT_EQ(L->count, c.count);
        int32_t marked = 0;
        for (int i = 0; i < 5; i++) marked += (L->flags[i] >> 8) == kAvoidKindUnresolved;
        EXPECT_EQ(marked, c.marked) << c.mode;
        plistFree(L);
    }
    // Lifting answers with the free height above each point in place of the vertical check.
    SetUp();
    AvoidSwitches s{};
    s.verticalMode = 1, s.unresolvedMode = 4;
    avoidSetSwitches(&s);
    gBlockedX = 2.0, gCode = -2;
    Plist* L = fivePoints();
    ASSERT_NE(L, nullptr);
    const AvoidContext ctx{&grid, &tool, 0.5, 0, 0, 1, 0.1, nullptr};
    avoidCollisionRun(&ctx, L, 1);
    ASSERT_EQ(L->count, 5);
    for (int i = 0; i < 5; i++) EXPECT_EQ((L->flags[i] >> 8) == kAvoidKindUnresolved, i == 3) << i;
    plistFree(L);
}

// With the head-avoidance axis mode set, a run hands the list to the head avoidance, which needs its
// settings; without them the run is refused, never passed untested.
TEST_F(TiltTest, HeadModeRunsTheHeadAvoidanceOrIsRefused) {
    HeadAvoidParams head{};
    headAvoidParamsFromCycle(&head, 1, 0, 0.0, 1.0, 5.0, 15.0, 15.0);
    struct Case {
        const HeadAvoidParams* head;
        int32_t points;
        int result;
    } cases[] = {{nullptr, 5, -1}, {&head, 0, 1}};
    for (const Case& c : cases) {
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        L->count = c.points;
        const AvoidContext ctx{&grid, &tool, 0.5, 1, 0, 1, 0.1, c.head};
        EXPECT_EQ(avoidCollisionRun(&ctx, L, 1), c.result);
        plistFree(L);
    }
    // The report hears of every axis the head avoidance hands back, unless unresolved points are lifted.
    const AvoidCollisionOps ops{fakeCheck, fakeWhere,  fakeFull,  fakeVertical,
                                nullptr,   fakeRecord, firstTrial};
    avoidSetCollisionOps(&ops);
    avoidSetReportFlag(1);
    for (const int32_t mode : {3, 4}) {
        AvoidSwitches s{};
        s.unresolvedMode = mode;
        avoidSetSwitches(&s);
        gRecorded.clear();
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        const AvoidContext ctx{&grid, &tool, 0.5, 1, 0, 1, 0.1, &head};
        EXPECT_EQ(avoidCollisionRun(&ctx, L, 1), 1) << mode;
        EXPECT_EQ(gRecorded.size(), mode == 4 ? 0u : 5u) << mode;
        plistFree(L);
    }
    // A path without axes is refused by the head avoidance, and reported with upright axes.
    const AvoidCollisionOps upright{fakeCheck, fakeWhere,  fakeFull,  fakeVertical,
                                    nullptr,   recordTilt, firstTrial};
    avoidSetCollisionOps(&upright);
    AvoidSwitches s{};
    avoidSetSwitches(&s);
    gRecorded.clear(), gTrials.clear();
    Plist* L = plistCreate(2, 0);
    ASSERT_NE(L, nullptr);
    for (int i = 0; i < 2; i++) {
        const Vec3 p{double(i), 0, 0};
        plistAppend(L, i, &p, 0, nullptr, 0);
    }
    const AvoidContext ctx{&grid, &tool, 0.5, 1, 0, 1, 0.1, &head};
    EXPECT_EQ(avoidCollisionRun(&ctx, L, 1), kAvoidUnresolved);
    EXPECT_EQ(gRecorded, (std::vector<std::array<int32_t, 2>>{{0, -1}, {0, -1}}));
    EXPECT_EQ(gTrials, std::vector<double>(2, 0.0));
    plistFree(L);
}

TEST(PlaceRunBoth, RestingAboveThePointIsReported) {
    testmesh::Model plate({testmesh::slopeTri(5, 0.0)}, kBallMill,
                          2.0);  // the plane z = 5; the ball rests with its centre at 7
    struct Case {
        Vec3 p;
        int result;
    } cases[] = {{{0, 0, 0}, -1}, {{0, 0, 6.985}, -1}, {{0, 0, 7}, 1}, {{500, 0, 0}, 1}};
    for (const Case& c : cases) {
        Vec3 contact{-1, -1, -1};
        EXPECT_EQ(placeRunBoth(&plate.m, &c.p, &contact), c.result) << c.p.z;
        if (c.result < 0) EXPECT_VEC_NEAR(contact, (Vec3{0, 0, 5}), 1e-9);  // straight below the ball
    }
}

TEST_F(TiltTest, MissingArgumentsAreRefused) {
    Vec3 a{0, 0, 1};
    const Vec3 p{0, 0, 0};
    EXPECT_EQ(avoidTryTilt(nullptr, &a, 1, 0), kAvoidNoCheck);
    EXPECT_EQ(avoidTryTilt(&p, nullptr, 1, 0), kAvoidNoCheck);
    Plist* L = fivePoints();
    ASSERT_NE(L, nullptr);
    EXPECT_EQ(avoidCollisionPath(nullptr, &grid, &tool, 1), kAvoidNoCheck);
    EXPECT_EQ(avoidCollisionPath(L, &grid, nullptr, 1), kAvoidNoCheck);
    EXPECT_EQ(avoidCollisionRun(nullptr, L, 1), kAvoidNoCheck);
    EXPECT_EQ(avoidCheckPath(nullptr, &tool), kAvoidNoCheck);
    EXPECT_EQ(placeRunBoth(nullptr, &p, nullptr), kAvoidNoCheck);
    // A report without its writer tests nothing, unless unresolved points are lifted (then none goes out).
    avoidSetReportFlag(1);
    gLimit = 1.0;
    for (const int32_t mode : {0, 4}) {
        AvoidSwitches s{};
        s.unresolvedMode = mode;
        avoidSetSwitches(&s);
        EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 0), mode ? 1 : kAvoidNoCheck) << mode;
    }
    avoidSetReportFlag(0);
    // Without the check that the mode needs nothing can be tested.
    const AvoidCollisionOps none{nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
    avoidSetCollisionOps(&none);
    EXPECT_EQ(avoidTryTilt(&p, &a, 1, 0), kAvoidNoCheck);
    EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 1), kAvoidNoCheck);
    EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 0), kAvoidNoCheck);
    AvoidSwitches upright{};  // nor without the upright check in the vertical mode
    upright.verticalMode = 1;
    avoidSetSwitches(&upright);
    EXPECT_EQ(avoidCollisionPath(L, &grid, &tool, 1), kAvoidNoCheck);
    EXPECT_EQ(avoidCheckPath(L, &tool), kAvoidNoCheck);
    EXPECT_EQ(L->count, 5);
    avoidSetReference(nullptr);
    Vec3 ref{};
    EXPECT_EQ(avoidReference(&ref), 0);
    plistFree(L);
}

int32_t freeCheck(const Vec3*, const Vec3*, int32_t*, int32_t) {
    return 1;
}

// With both re-check switches a path that passed is checked whole once more with the full check, and
// cut before its first hit; without them, or with one, it is not. A point never to be tested (kind 2)
// is not checked again either.
TEST_F(TiltTest, RecheckCutsWhatTheFullCheckHits) {
    const AvoidCollisionOps ops{freeCheck, nullptr, fakeFull, nullptr, nullptr, nullptr, firstTrial};
    gLimit = 1.0, gBlockedX = 3.0;  // the full check hits the point at x = 3 only
    for (const auto& [re1, re2, result, count, kind3] : {std::array<int, 5>{1, 1, -3, 3, 0},
                                                         {1, 0, 1, 5, 0},
                                                         {0, 1, 1, 5, 0},
                                                         {0, 0, 1, 5, 0},
                                                         {1, 1, 1, 5, 2}}) {
        SetUp();
        avoidSetCollisionOps(&ops);
        gLimit = 1.0, gBlockedX = 3.0;
        AvoidSwitches s{};
        s.recheck1 = re1, s.recheck2 = re2;
        avoidSetSwitches(&s);
        Plist* L = fivePoints();
        ASSERT_NE(L, nullptr);
        L->flags[3] = static_cast<uint16_t>(kind3 << 8);
        const AvoidContext ctx{&grid, &tool, 0.5, 0, 0, 1, 0.1, nullptr};
        EXPECT_EQ(avoidCollisionRun(&ctx, L, 1), result) << re1 << re2;
        EXPECT_EQ(L->count, count) << re1 << re2;
        plistFree(L);
    }
    // A list without axes is checked upright; a full check's 0 is free like any result not negative.
    SetUp();
    gBlockedX = 1.0, gCode = 0;
    Plist* L = plistCreate(3, 0);
    ASSERT_NE(L, nullptr);
    for (int i = 0; i < 3; i++) {
        const Vec3 p{double(i), 0, 0};
        plistAppend(L, i, &p, 0, nullptr, 0);
    }
    EXPECT_EQ(avoidCheckPath(L, &tool), 1);
    EXPECT_EQ(gTrials, std::vector<double>(3, 0.0));
    EXPECT_TRUE(gLastAxis.x == 0 && gLastAxis.y == 0 && gLastAxis.z == 1);
    plistFree(L);
}
