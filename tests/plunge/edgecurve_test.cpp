// Region edge curves: reversal cuts on straight traced lists, and the walls a tracer is handed and the
// cleaning of what it traces.
#include "plunge/edgecurve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "plunge/cycparams.h"

namespace {

// Points (x[i], 0, 0) with parameter i and kind kinds[i].
Plist* tracedList(const std::vector<double>& x, const std::vector<int>& kinds) {
    Plist* l = plistCreate(static_cast<int32_t>(x.size()) + 4, 1);
    for (size_t i = 0; i < x.size(); ++i) {
        const Vec3 p{x[i], 0, 0};
        plistAppend(l, double(i), &p, static_cast<uint16_t>(kinds[i] << 8 | 1), nullptr, 0);
    }
    return l;
}

double gAngles[2];
int fakeTrace(CheckModel*, const ContourPair* a, const ContourPair* b, const HubShroud*, int32_t, Plist* out,
              const TriGrid*) {
    gAngles[0] = std::atan2(a->first->points[0].y, a->first->points[0].x);
    gAngles[1] = std::atan2(b->first->points[0].y, b->first->points[0].x);
    Plist* spike = tracedList({0, 1, 2, 3, 4, 5, 6, 7, 6, 5}, {2, 0, 2, 0, 0, 0, 0, 0, 2, 0});
    plistCopyPoints(out, spike);
    plistFree(spike);
    return 1;
}

}  // namespace

TEST(EdgeCurve, ReversalCutsKeepTheLongerSide) {
    // x -> kept x: a spike late or early, a zig-zag (two turns), a turn on a step below 1e-5; links
    // (x < 0) before the cut range take no part in the halves.
    const std::vector<double> rows[][2] = {
        {{0, 1, 2, 3, 4, 5, 6, 7, 6.5, 6, 5.5}, {0, 1, 2, 3, 4, 5, 6, 7}},
        {{-2, -1, 0, 1, 2, 3, 4, 5, 4.5, 4, 3.5, 3}, {-2, -1, 0, 1, 2, 3, 4, 5}},
        {{0, 1, 2, 3, 2.5, 2, 1.5, 1, 0.5, 0}, {3, 2.5, 2, 1.5, 1, 0.5, 0}},
        {{0, 1, 2, 3, 2.5, 2, 2.5, 3, 4}, {3, 2.5, 2}},
        {{0, 1, 2, 2.000005, 1.5, 1}, {0, 1, 2, 2.000005, 1.5, 1}}};
    for (const auto& r : rows) {
        std::vector<int> kinds;
        for (const double x : r[0]) kinds.push_back(x < 0 ? 2 : 0);
        Plist* l = tracedList(r[0], kinds);
        EXPECT_EQ(cutAtReversals(l), r[0].size() == r[1].size() ? 0 : 1);
        EXPECT_EQ(std::vector<double>(l->count), std::vector<double>(r[1].size()));
        for (int32_t i = 0; i < l->count && i < int32_t(r[1].size()); ++i) EXPECT_EQ(l->points[i].x, r[1][i]);
        plistFree(l);
    }
}

TEST(EdgeCurve, TracerWalksBetweenTurnedWallsAndTheTraceIsCleaned) {
    const Vec3 pts[2] = {{20, 0, 0}, {40, 0, 0}};
    ContourPair pair{plist3DFromPoints(pts, 2), plist3DFromPoints(pts, 2)};
    CheckModel blade;
    chkModelInit(&blade, kMeshTriangles);
    CheckModel* models[3] = {&blade, nullptr, &blade};
    const TriGrid* grids[3] = {};
    HubShroud level{};
    Plist* out = plistCreate(16, 1);
    // A small region without splitter still opens its first wall to pi/2 - 0.1; the second to -(pi/2 + 0.1).
    ASSERT_EQ(idx5BuildEdgeCurve(out, &level, 0, 0.5, 0, models, grids, &pair, fakeTrace), 1);
    EXPECT_NEAR(std::fabs(gAngles[0] - M_PI / 2 + 0.1) + std::fabs(gAngles[1] + M_PI / 2 + 0.1), 0, 1e-12);
    // The first cut point before an uncut one and everything from the next uncut point on become uncut;
    // the turn then ends the cut range, which leaves nothing to cut.
    const std::vector<int> kinds = {2, 2, 2, 0, 0, 0, 0, 0, 2, 2};
    ASSERT_EQ(out->count, 10);
    for (int32_t i = 0; i < out->count; ++i) EXPECT_EQ(out->flags[i] >> 8, kinds[i]) << i;
    EXPECT_EQ(idx5BuildEdgeCurve(out, &level, 1, 0.5, 0, models, grids, &pair, fakeTrace),
              -1);  // no splitter
    EXPECT_EQ(idx5BuildEdgeCurve(out, &level, 0, 0.5, 0, models, grids, &pair, nullptr), -1);
    const ChannelTraceFn failed = [](CheckModel*, const ContourPair*, const ContourPair*, const HubShroud*,
                                     int32_t, Plist*, const TriGrid*) { return -1; };
    EXPECT_EQ(idx5BuildEdgeCurve(out, &level, 0, 0.5, 0, models, grids, &pair, failed), -1);
    const ChannelTraceFn none = [](CheckModel*, const ContourPair*, const ContourPair*, const HubShroud*,
                                   int32_t, Plist*,
                                   const TriGrid*) { return 0; };  // a trace of nothing is no failure
    EXPECT_EQ(idx5BuildEdgeCurve(out, &level, 0, 0.5, 0, models, grids, &pair, none), 1);
    plistFree(out);
    freePlist3D(pair.first);
    freePlist3D(pair.second);
}

// A reversal in the lead-in before the first cut point is no reversal of the cut range.
TEST(EdgeCurve, ReversalsBeforeTheCutRangeAreLeftAlone) {
    Plist* l = tracedList({0, 1, 0.5, 1.5, 2.5, 3.5, 4.5, 5.5}, {2, 2, 2, 0, 0, 0, 0, 0});
    EXPECT_EQ(cutAtReversals(l), 0);
    EXPECT_EQ(l->count, 8);
    plistFree(l);
}

// A lone cut point between leading links becomes a link where its parameter puts it on the chord of
// its neighbours; the first link after the cut points makes every point from it a link.
TEST(EdgeCurve, LeadingLinksSettle) {
    const struct {
        std::vector<double> x;
        std::vector<int> kinds;
        int result;
        std::vector<double> xAfter;
        std::vector<int> kindsAfter;
    } rows[] = {
        {{0, 5, 3, 3, 4}, {2, 0, 2, 0, 0}, 0, {0, 1.5, 3, 3, 4}, {2, 2, 2, 0, 0}},
        {{0, 1, 7, 3, 3}, {2, 2, 0, 2, 0}, 0, {0, 1, 2, 3, 3}, {2, 2, 2, 2, 0}},  // from parameter 1 on
        {{5, 3, 3, 4}, {0, 2, 0, 0}, 0, {5, 3, 3, 4}, {2, 2, 0, 0}},  // the first point stays where it is
        {{0, 1, 2, 3, 4}, {0, 0, 0, 2, 0}, 1, {0, 1, 2, 3, 4}, {0, 0, 0, 2, 2}},
        {{0, 1, 2}, {2, 2, 0}, 0, {0, 1, 2}, {2, 2, 0}},
        {{0, 5, 2}, {2, 0, 2}, 0, {0, 1, 2}, {2, 2, 2}},  // the lone cut point just before the end
        {{0, 1}, {2, 2}, -1, {0, 1}, {2, 2}},
    };
    // A point left behind the count (a link here) is no neighbour of the last one.
    Plist* cut = tracedList({0, 1, 2, 3}, {2, 2, 0, 2});
    cut->count = 3;
    EXPECT_EQ(settleLeadingKind2(cut), 0);
    EXPECT_EQ(cut->points[2].x, 2.0);
    EXPECT_EQ(cut->flags[2] >> 8, 0);
    plistFree(cut);
    for (const auto& r : rows) {
        Plist* l = tracedList(r.x, r.kinds);
        EXPECT_EQ(settleLeadingKind2(l), r.result) << r.x.size();
        for (int32_t i = 0; i < l->count; ++i) {
            EXPECT_NEAR(l->points[i].x, r.xAfter[i], 1e-12) << r.x.size() << " " << i;
            EXPECT_EQ(l->flags[i] >> 8, r.kindsAfter[i]) << r.x.size() << " " << i;
        }
        plistFree(l);
    }
}

// A list turns back at a point when the way on is within about 18 degrees of the way back (directions
// toward the neighbours with a dot of less than -0.95); a segment under 1e-5 says nothing; the ends and
// the points outside have no turn.
TEST(EdgeCurve, ReversalIsATurnOfMoreThanAboutOneHundredSixtyTwoDegrees) {
    const double limit = std::acos(-0.95) * 180 / M_PI;  // 161.8 degrees
    const struct {
        double turnDeg, leg;
        int expected;
    } rows[] = {{180, 1, 1},   {limit + 0.01, 1, 1}, {limit - 0.01, 1, 0}, {90, 1, 0},
                {0, 1, 0},     {180, 2e-5, 1},       {180, 5e-6, 0},       {limit + 1, 3, 1},
                {170, 1e3, 1}, {limit, 2, 0}};  // a dot of exactly -0.95 (so computed) is none yet
    // Moving the whole list (here along y) changes nothing.
    for (const double y : {0.0, 1.0, -3.0})
        for (const auto& r : rows) {
            const double a = r.turnDeg * M_PI / 180;
            Plist* l = plistCreate(4, 1);
            // In along +x, out turned by the angle.
            const Vec3 pts[3] = {{-1, y, 0}, {0, y, 0}, {r.leg * std::cos(a), y, r.leg * std::sin(a)}};
            for (int i = 0; i < 3; ++i) plistAppend(l, i, &pts[i], 0, nullptr, 0);
            EXPECT_EQ(isReversalAt(l, 1), r.expected) << r.turnDeg << " " << r.leg << " " << y;
            EXPECT_EQ(isReversalAt(l, 0) + isReversalAt(l, 2) + isReversalAt(l, -1), 0);
            plistFree(l);
        }
    EXPECT_EQ(isReversalAt(nullptr, 1), 0);
}

// The first and last points not of kind 2, for kinds drawn at random, against a plain scan.
TEST(EdgeCurve, FirstAndLastCutIndexOfSeededKinds) {
    std::mt19937 rng(808);
    for (int round = 0; round < 200; ++round) {
        const int n = static_cast<int>(rng() % 9);
        std::vector<int> kinds(static_cast<size_t>(n));
        for (int& k : kinds) k = rng() % 3 ? 2 : static_cast<int>(rng() % 4);
        Plist* l = tracedList(std::vector<double>(kinds.size(), 0.0), kinds);
        int32_t first = -7, last = -7;
        int wantFirst = -1, wantLast = -1;
        for (int i = 0; i < n; ++i)
            if (kinds[static_cast<size_t>(i)] != 2) wantLast = i, wantFirst = wantFirst < 0 ? i : wantFirst;
        EXPECT_EQ(firstLastCutIndex(l, &first, &last), wantFirst < 0 ? -1 : 1) << round;
        if (wantFirst >= 0) {
            EXPECT_EQ(first, wantFirst) << round;
            EXPECT_EQ(last, wantLast) << round;
        } else {
            EXPECT_EQ(first + last, -14) << round;  // untouched
        }
        plistFree(l);
    }
    int32_t f = 0;
    EXPECT_EQ(firstLastCutIndex(nullptr, &f, &f), -1);
}

// The walls of each side case: the first side's walls keep 0.1 rad inside a right angle (the second
// wall, nearer than that, goes 0.1 past it); the others follow the pitch and splitter angle.
TEST(EdgeCurve, WallsOfEachSideCase) {
    const double near = M_PI / 2 - 0.1, past = M_PI / 2 + 0.1, edge = 2 * (near - 0.35);
    cycleParamsResetState();
    const struct {
        int32_t sideCase;
        double pitch, splitter;
        int32_t hasSplitter, blades;
        EdgeWalls want;
    } rows[] = {{0, 1, 0, 0, 5, {near, -past, -1, 0}},
                {0, 3, 0, 0, 5, {3, -1.85, -1, 0}},
                {0, 4, 0, 1, 5, {2, -2.35, -1, 0}},
                {0, edge, 0, 0, 5, {edge, -near, -1, 0}},
                {0, edge - 1e-9, 0, 0, 5, {edge - 1e-9, -past, -1, 0}},
                {1, 2, 0.5, 1, 5, {0, 0.85, 1, 1}},
                {2, 2, 0.5, 1, 5, {2, 0.15, -1, 1}},
                {2, 2, 0.5, 1, 2, {2, 0.25, -1, 1}},
                {3, 1, 0, 0, 5, {1 - past, near + 1, 1, 2}},
                {3, 2, 0, 0, 5, {0, near + 2, 1, 2}}};
    for (const auto& r : rows) {
        cycleParams()->bladeCount = static_cast<int16_t>(r.blades);
        EdgeWalls w{-9, -9, -9, -9};
        ASSERT_EQ(edgeCurveWalls(r.sideCase, r.pitch, r.splitter, r.hasSplitter, &w), 1) << r.sideCase;
        EXPECT_NEAR(w.first, r.want.first, 1e-12) << r.sideCase << " " << r.pitch;
        EXPECT_NEAR(w.second, r.want.second, 1e-12) << r.sideCase << " " << r.pitch;
        EXPECT_EQ(w.direction, r.want.direction) << r.sideCase << " " << r.pitch;
        EXPECT_EQ(w.slot, r.want.slot) << r.sideCase << " " << r.pitch;
    }
    EdgeWalls w{};
    for (const int32_t sideCase : {-1, 4}) EXPECT_EQ(edgeCurveWalls(sideCase, 1, 0, 0, &w), -1);
    EXPECT_EQ(edgeCurveWalls(0, 1, 0, 0, nullptr), -1);
    cycleParamsResetState();
}
