#include "plunge/angleprof.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "../geometry/msg_capture.h"
#include "geometry/plist.h"
#include "geometry/rng.h"
#include "plunge/cycparams.h"
#include "plunge/tiltgeom.h"

namespace {

// A side list of n points at parameters 0..n-1, of kind 2 before cut and from cutEnd on.
Plist* sideList(int n, int cutStart, int cutEnd) {
    Plist* l = plistCreate(n, 1);
    for (int i = 0; i < n; ++i) {
        Vec3 p{static_cast<double>(i), 0, 0};
        plistAppend(l, i, &p, (i < cutStart || i >= cutEnd) ? 0x200 : 0, nullptr, 0);
    }
    return l;
}

}  // namespace

TEST(AngleProfile, BlendHitsItsClosedFormValues) {
    EXPECT_NEAR(blendC3(0.25, 0, 1, 2.0, 3.0), 2.0 + 0.0706, 5e-5);
    EXPECT_NEAR(blendC3(5, 4, 6, -1.0, 3.0), 1.0, 1e-12);
    EXPECT_EQ(blendC3(-1, 0, 1, 2.0, 3.0), 2.0);
    EXPECT_EQ(blendC3(7, 0, 1, 2.0, 3.0), 3.0);
    // Symmetry b(t) + b(1 - t) = a0 + a1 on seeded points.
    rngResetState();
    for (int k = 0; k < 100; ++k) {
        double s = rngUniform();
        EXPECT_NEAR(blendC3(s, 0, 1, 1, 5) + blendC3(1 - s, 0, 1, 1, 5), 6.0, 1e-12);
    }
}

TEST(AngleProfile, StationsFromSideListsAndEvaluation) {
    cycleParamsResetState();
    CycleParams* p = cycleParams();
    p->leadAngle = 10;
    p->leadupAngle = 5;
    p->leadAngleLeadmainOk = 1;
    p->leadAngleLeadmain = 20;
    p->leadAngleTrailOk = 0;
    PlistArray* four = plistArrayCreate(4);
    Plist* lists[4] = {sideList(12, 2, 10), sideList(12, 5, 12), sideList(12, 4, 9), sideList(12, 3, 11)};
    for (Plist* l : lists) {
        plistArrayAdd(four, l);
        plistFree(l);
    }
    AngleProfile* prof = angleProfCreate();
    ASSERT_NE(prof, nullptr);
    ASSERT_EQ(angleProfInit(prof, four), 1);
    const double d = M_PI / 180;
    // edge 1 at min(2, 3), edge 2 at min(5, 4), edge 3 at the largest last cut 10 (list 1 has no
    // trailing run and gives none).
    ASSERT_EQ(prof->table1.count, 3);
    const double pos[3] = {2, 4, 10};
    const double a1[3] = {20 * d, 10 * d, 10 * d};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(prof->table1.stations[k].position, pos[k]);
        EXPECT_NEAR(prof->table1.stations[k].angle, a1[k], 1e-12);
        EXPECT_NEAR(prof->table2.stations[k].angle, -5 * d, 1e-12);
    }
    struct Case {
        double at, expected;
    } cases[] = {{0, 20 * d}, {2, 20 * d}, {3, 15 * d}, {7, 10 * d}, {11, 10 * d}};
    for (const Case& c : cases) EXPECT_NEAR(angleProfEval(prof, 0, c.at), c.expected, 1e-12) << c.at;
    EXPECT_EQ(angleProfInit(prof, nullptr), -1);
    prof->table1.count = 0;
    EXPECT_NEAR(angleProfEval(prof, 0, 3), 10 * d, 1e-12);
    angleProfFree(prof);
    plistArrayFree(four);
    cycleParamsResetState();
}

TEST(AngleProfile, StationsOutOfOrderAreEvaluatedAscending) {
    cycleParamsResetState();
    cycleParams()->leadAngleLeadmainOk = 1;
    cycleParams()->leadAngleLeadmain = 30;
    PlistArray* four = plistArrayCreate(4);
    // The splitter starts (8) behind the main blade's trailing edge (6).
    Plist* lists[4] = {sideList(12, 1, 7), sideList(12, 8, 12), sideList(12, 8, 12), sideList(12, 1, 7)};
    for (Plist* l : lists) {
        plistArrayAdd(four, l);
        plistFree(l);
    }
    AngleProfile* prof = angleProfCreate();
    ASSERT_EQ(angleProfInit(prof, four), 1);
    for (int k = 1; k < prof->table1.count; ++k)
        EXPECT_LE(prof->table1.stations[k - 1].position, prof->table1.stations[k].position);
    EXPECT_NEAR(angleProfEval(prof, 0, 0.5), 30 * M_PI / 180, 1e-12);
    angleProfFree(prof);
    plistArrayFree(four);
    cycleParamsResetState();
}

TEST(TiltGeometry, LimitStepEndsOneDegreeInside) {
    struct Case {
        double axisAngle, step, max, expected;
    } cases[] = {{0.0, 0.2, 1.0, 0.2}, {0.5, 0.6, 1.0, 0.5 - 0.017453}, {0.9, 0.2, 1.0, 0.1 - 0.017453}};
    for (const Case& c : cases) {
        Vec3 axis{std::sin(c.axisAngle), 0, std::cos(c.axisAngle)};
        EXPECT_NEAR(limitTiltStep(c.step, &axis, c.max), c.expected, 1e-12);
    }
}

TEST(TiltGeometry, EdgeCorrectionMessagesFollowOnewayAndEntry) {
    struct Case {
        int oneway, entry;
        std::vector<std::string> expected;
    } cases[] = {
        {0, 0, {"6502,-5.000000", "6501,5.000000"}}, {1, 1, {"6501,5.000000"}}, {1, 0, {"6502,-5.000000"}}};
    for (const Case& c : cases) {
        MessageCapture capture(9);
        cycleParamsResetState();
        cycleParams()->lauf = static_cast<int16_t>(c.oneway);
        cycleParams()->entryPos = static_cast<int16_t>(c.entry);
        cycleParams()->leadAngle = 10;
        AngleProfile* prof = angleProfCreate();
        for (AngleTable* t : {&prof->table1, &prof->table2}) {
            t->count = 1;
            t->stations[0] = {3.0, 0.0, kAngleEdgeLeadMain, 1};
        }
        const double pos[2] = {2.0, 1.5}, ang[2] = {0.1, -5 * M_PI / 180};
        correctLeadStations(prof, pos, ang, 0.2);
        EXPECT_EQ(capture.messages(), c.expected) << c.oneway << c.entry;
        // Applied whether or not reported.
        EXPECT_EQ(prof->table1.stations[0].position, 1.5);
        EXPECT_EQ(prof->table2.stations[0].general, 0);
        angleProfFree(prof);
    }
    cycleParamsResetState();
}
