#include "plunge/angleprof.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "../geometry/msg_capture.h"
#include "geometry/plist.h"
#include "plunge/cycparams.h"
#include "plunge/tiltgeom.h"

namespace {

constexpr double kD = M_PI / 180;

// Four side lists of 12 points at parameters 0..11, cut points in [start, end) of each.
PlistArray* sideLists(const int (&range)[4][2]) {
    PlistArray* four = plistArrayCreate(4);
    for (const auto& r : range) {
        Plist* l = plistCreate(12, 1);
        for (int i = 0; i < 12; ++i) {
            Vec3 p{double(i), 0, 0};
            plistAppend(l, i, &p, (i < r[0] || i >= r[1]) ? 0x200 : 0, nullptr, 0);
        }
        plistArrayAdd(four, l);
        plistFree(l);
    }
    return four;
}

}  // namespace

// Before the first station its angle, past the last the last's, between two the blend of theirs; the
// second table for the way up.
TEST(AngleProfile, EvaluationHoldsTheEndStationsAngles) {
    AngleProfile prof{};
    prof.table1.count = 3;
    for (int k = 0; k < 3; ++k) prof.table1.stations[k] = {1.0 + k, 0.1 * (k + 1), k + 1, 0};
    prof.table2.count = 1;
    prof.table2.stations[0] = {2.0, -0.5, 1, 0};
    const double rows[][3] = {{0, 0, 0.1}, {1, 0, 0.1}, {1.5, 0, 0.15}, {2, 0, 0.2},
                              {3, 0, 0.3}, {9, 0, 0.3}, {0, 1, -0.5},   {9, 1, -0.5}};
    for (const auto& r : rows)
        EXPECT_NEAR(angleProfEval(&prof, int(r[1]), r[0]), r[2], 1e-12) << r[0] << " " << r[1];
    EXPECT_EQ(angleProfEval(nullptr, 0, 1.0), 0.0);
}

TEST(AngleProfile, StationsFromSideListsAreEvaluatedInAscendingOrder) {
    struct Case {
        int range[4][2];
        std::vector<double> positions;
        std::vector<std::pair<double, double>> evals;  // position, degrees
    } cases[] = {
        // edge 1 min(2, 3) with its own 20 degrees, edge 2 min(5, 4), edge 3 the largest last cut (list
        // 1 ends in a cut point and gives none); both others take the general 10.
        {{{2, 10}, {5, 12}, {4, 9}, {3, 11}}, {2, 4, 10}, {{0, 20}, {2, 20}, {3, 15}, {7, 10}, {11, 10}}},
        // The splitter (lists 1 and 2, cut to their ends) starts behind the main blade's trailing edge.
        {{{1, 7}, {8, 12}, {8, 12}, {1, 7}}, {1, 6, 8}, {{0.5, 20}, {3.5, 15}, {7, 10}}},
        // No splitter: lists 1 and 2 hold no cut point and give no station.
        {{{2, 10}, {0, 0}, {0, 0}, {3, 11}}, {2, 10}, {{0, 20}, {2, 20}, {6, 15}, {11, 10}}},
        // A cut from the list's first point starts the main blade at 0.
        {{{0, 10}, {4, 12}, {4, 9}, {3, 11}}, {0, 4, 10}, {{0, 20}, {2, 15}, {4, 10}}},
        {{{3, 11}, {4, 12}, {4, 9}, {0, 10}}, {0, 4, 10}, {{0, 20}, {2, 15}, {4, 10}}},  // or list 3's
        // A splitter starting with the main blade: the main blade's own angle up to both, the general
        // one after them.
        {{{2, 10}, {2, 12}, {3, 9}, {3, 11}}, {2, 2, 10}, {{0, 20}, {2, 20}, {3, 10}}},
        // No cut point in any list: no station, the general angle throughout.
        {{{0, 0}, {0, 0}, {0, 0}, {0, 0}}, {}, {{0, 10}, {1, 10}, {11, 10}}},
    };
    for (const Case& c : cases) {
        cycleParamsResetState();
        CycleParams* p = cycleParams();
        p->leadAngle = 10;
        p->leadupAngle = 5;
        p->leadAngleLeadmainOk = 1;
        p->leadAngleLeadmain = 20;
        PlistArray* four = sideLists(c.range);
        AngleProfile* prof = angleProfCreate();
        ASSERT_EQ(angleProfInit(prof, four), 1);
        ASSERT_EQ(prof->table1.count, static_cast<int32_t>(c.positions.size()));
        for (int k = 0; k < prof->table1.count; ++k) {
            EXPECT_EQ(prof->table1.stations[k].position, c.positions[k]);
            EXPECT_NEAR(prof->table2.stations[k].angle, -5 * kD, 1e-12);
        }
        for (const auto& e : c.evals)
            EXPECT_NEAR(angleProfEval(prof, 0, e.first), e.second * kD, 1e-12) << e.first;
        prof->table1.count = 0;
        EXPECT_NEAR(angleProfEval(prof, 0, 3), 10 * kD, 1e-12);
        EXPECT_EQ(angleProfInit(prof, nullptr), -1);
        angleProfFree(prof);
        plistArrayFree(four);
    }
    cycleParamsResetState();
}

TEST(TiltGeometry, EdgeCorrectionIsAppliedAndReportedByOnewayAndEntry) {
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
        const double pos[2] = {2.0, 1.5}, ang[2] = {0.1, -5 * kD};
        correctLeadStations(prof, pos, ang, 0.2);
        EXPECT_EQ(capture.messages(), c.expected) << c.oneway << c.entry;
        // Error-class notes: below the highest class (9) the host hears none of them.
        setMessageLevel(nullptr, 8);
        capturedMessages().clear();
        for (AngleTable* t : {&prof->table1, &prof->table2})
            t->stations[0] = {3.0, 0.0, kAngleEdgeLeadMain, 1};
        correctLeadStations(prof, pos, ang, 0.2);
        EXPECT_EQ(prof->table1.stations[0].position, 1.5);  // corrected all the same
        EXPECT_TRUE(capture.messages().empty()) << c.oneway << c.entry;
        EXPECT_EQ(prof->table2.stations[0].angle, -5 * kD);
        angleProfFree(prof);
    }
    // Only an angle strictly within the quarter turn below a limit corrects (lead angle 0, the way up 0.2).
    cycleParamsResetState();
    cycleParams()->leadAngle = 0;
    const double q = M_PI / 2;
    const struct {
        double a;
        int down, up;
    } limits[] = {{0, 0, 1}, {-q, 0, 0}, {0.2, 0, 0}, {0.2 - q, 1, 0}, {-0.1, 1, 1}};
    for (const auto& l : limits) {
        AngleProfile* prof = angleProfCreate();
        for (AngleTable* t : {&prof->table1, &prof->table2})
            t->count = 1, t->stations[0] = {3, 0, kAngleEdgeLeadMain, 1};
        const double pos[2] = {2.0, 1.5}, ang[2] = {l.a, l.a};
        correctLeadStations(prof, pos, ang, 0.2);
        correctLeadStations(nullptr, pos, ang, 0.2);  // no profile: nothing to correct
        EXPECT_EQ(prof->table1.stations[0].general * 10 + prof->table2.stations[0].general,
                  (1 - l.down) * 10 + 1 - l.up)
            << l.a;
        angleProfFree(prof);
    }
    cycleParamsResetState();
}

TEST(TiltGeometry, NextPlungeIsPulledBackWhereTheSecondListRunsFaster) {
    // Second list 0: points 1 apart along x at parameters i / stretch + bend i^2; a step lands where the
    // point lies the step away, its parameter read off the segment it falls in, the one holding the
    // start too (stretch, entry, bend, from, step).
    const double cases[][5] = {{1, 0, 0, 2, 1},       {1, 1, 0, 2, 1},       {2, 0, 0, 2, 1},
                               {2, 1, 0, 2, 1},       {2, 0, 0.02, 3.3, 1},  {2, 1, 0.02, 3.3, 1},
                               {1, 1, -0.03, 4.4, 1}, {1, 0, -0.03, 2.7, 1}, {2, 1, 0, 2.3, 0.25},
                               {2, 0, 0, 2.3, 0.25},  {2, 1, 0, 0.6, 0.25}};  // the last back into the first
    const int range[4][2] = {{0, 12}, {0, 12}, {0, 12}, {0, 12}};
    for (const auto& c : cases) {
        cycleParams()->entryPos = static_cast<int16_t>(c[1]);
        PlistArray *sides = sideLists(range), *second = sideLists(range);
        std::vector<double> t(12);
        for (int32_t i = 0; i < 12; ++i) second->lists[0]->parameters[i] = t[i] = i / c[0] + c[2] * i * i;
        const int32_t i = int32_t(std::upper_bound(t.begin(), t.end(), c[3]) - t.begin()) - 1;
        const double x = i + (c[3] - t[i]) / (t[i + 1] - t[i]) + (c[1] ? -c[4] : c[4]);
        const int32_t j = int32_t(std::floor(x));
        const double want = t[j] + (x - j) * (t[j + 1] - t[j]);
        for (PlistArray* a : {sides, second}) {  // a faster list left past the counts is not read
            ASSERT_GE(plistArrayAdd(a, second->lists[0]), 0);
            for (int32_t k = 0; k < 12; ++k) a->lists[4]->points[k].x *= 3;
            --a->count;
        }
        // A side list of a single point still lets its second list decide; an empty one does not.
        for (const int32_t points : {12, 1, 0}) {
            for (int32_t k = 0; k < 4; ++k) sides->lists[k]->count = points;
            double param = c[3];
            ASSERT_EQ(nextPlungeParam(sides, second, &param, c[4]), 1);
            EXPECT_NEAR(param, points ? want : c[3] + (c[1] ? -c[4] : c[4]), 1e-12)
                << c[0] << " " << c[1] << " " << c[2] << " " << points;
        }
        ++sides->count, ++second->count;
        plistArrayFree(sides);
        plistArrayFree(second);
    }
    cycleParamsResetState();
}

// Each edge's own angle replaces the general one at its station only, in the table of its flag (the
// way up negated); the array must hold the four side lists.
TEST(AngleProfile, OwnAnglesReplaceTheGeneralOneAtTheirStationOnly) {
    const int range[4][2] = {{2, 10}, {5, 12}, {4, 9}, {3, 11}};  // stations at 2, 4 and 10
    for (int table = 0; table < 2; ++table)
        for (int edge = 0; edge < 3; ++edge) {
            cycleParamsResetState();
            CycleParams* p = cycleParams();
            p->leadAngle = 10;
            p->leadupAngle = 5;
            int16_t* on[2][3] = {
                {&p->leadAngleLeadmainOk, &p->leadAngleLeadsplitterOk, &p->leadAngleTrailOk},
                {&p->leadupAngleLeadmainOk, &p->leadupAngleLeadsplitterOk, &p->leadupAngleTrailOk}};
            double* own[2][3] = {
                {&p->leadAngleLeadmain, &p->leadAngleLeadsplitter, &p->leadAngleTrail},
                {&p->leadupAngleLeadmain, &p->leadupAngleLeadsplitter, &p->leadupAngleTrail}};
            // Every own angle is set; only one flag is on.
            for (int t = 0; t < 2; ++t)
                for (int e = 0; e < 3; ++e) *own[t][e] = 20 + 10 * e + 3 * t;
            *on[table][edge] = 1;
            PlistArray* four = sideLists(range);
            AngleProfile* prof = angleProfCreate();
            ASSERT_EQ(angleProfInit(prof, four), 1);
            for (int t = 0; t < 2; ++t) {
                const AngleTable& tab = t ? prof->table2 : prof->table1;
                ASSERT_EQ(tab.count, 3);
                const double general = t ? -5 * kD : 10 * kD;
                EXPECT_NEAR(tab.angle, general, 1e-12);
                for (int k = 0; k < 3; ++k) {
                    const AngleStation& s = tab.stations[k];
                    const bool mine = t == table && k == edge;
                    EXPECT_EQ(s.edge, k + 1);
                    EXPECT_EQ(s.general, mine ? 0 : 1) << table << edge << t << k;
                    EXPECT_NEAR(s.angle, mine ? (t ? -1 : 1) * (20 + 10 * k + 3 * t) * kD : general, 1e-12)
                        << table << edge << t << k;
                }
            }
            angleProfFree(prof);
            plistArrayFree(four);
        }
    PlistArray* three = plistArrayCreate(3);
    Plist* l = plistCreate(2, 1);
    for (int k = 0; k < 3; ++k) plistArrayAdd(three, l);
    AngleProfile* prof = angleProfCreate();
    EXPECT_EQ(angleProfInit(prof, three), -1);
    angleProfFree(prof);
    plistFree(l);
    plistArrayFree(three);
    cycleParamsResetState();
}
