// Region edge curves: wall angles per side case, reversal cuts and the settling of uncut points on
// straight traced lists, and the walls a tracer is handed.
#include "plunge/edgecurve.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "plunge/cycparams.h"

namespace {

constexpr double kP = M_PI / 2 - 0.1, kQ = M_PI / 2 + 0.1;

// Points at x[i] on the x axis, parameter i, kind kinds[i].
Plist* tracedList(const std::vector<double>& x, const std::vector<int>& kinds) {
    Plist* l = plistCreate(static_cast<int32_t>(x.size()), 1);
    for (size_t i = 0; l != nullptr && i < x.size(); ++i) {
        const Vec3 p{x[i], 0, 0};
        plistAppend(l, static_cast<double>(i), &p,
                    static_cast<uint16_t>(kinds.empty() ? 1 : kinds[i] << 8 | 1), nullptr, 0);
    }
    return l;
}

struct TraceCall {
    double angle1, angle2;
    int32_t direction;
    const CheckModel* model;
    int result;
} gCall;

int fakeTrace(CheckModel* model, const ContourPair* first, const ContourPair* second, const HubShroud*,
              int32_t direction, Plist* out, const TriGrid*) {
    gCall.angle1 = std::atan2(first->first->points[0].y, first->first->points[0].x);
    gCall.angle2 = std::atan2(second->first->points[0].y, second->first->points[0].x);
    gCall.direction = direction;
    gCall.model = model;
    // A trace that turns back near its end.
    for (int i = 0; i < 10; ++i) {
        const Vec3 p{i < 8 ? i * 1.0 : 14.0 - i, 0, 0};
        plistAppend(out, i, &p, 1, nullptr, 0);
    }
    return gCall.result;
}

}  // namespace

TEST(EdgeCurve, WallsPerSideCase) {
    struct Case {
        int32_t sideCase;
        double a, b;
        int32_t splitter, blades;
        EdgeWalls w;
    };
    const Case cases[] = {
        {0, 0.5, 0, 1, 8, {kP, -kQ, -1, 0}},  // a small region still opens to nearly a right angle
        {0, 4, 0, 1, 8, {2, -2.35, -1, 0}},     {0, 4, 0, 0, 8, {4, -2.35, -1, 0}},
        {1, 0.8, 0.4, 1, 8, {0, 0.75, 1, 1}},   {2, 0.8, 0.4, 1, 8, {0.8, 0.05, -1, 1}},
        {2, 0.8, 0.4, 1, 2, {0.8, 0.2, -1, 1}}, {3, 0.8, 0, 1, 8, {0.8 - kQ, kP + 0.8, 1, 2}},
        {3, 2, 0, 1, 8, {0, kP + 2, 1, 2}},
    };
    for (const Case& c : cases) {
        cycleParamsResetState();
        cycleParams()->bladeCount = static_cast<int16_t>(c.blades);
        EdgeWalls w{};
        ASSERT_EQ(edgeCurveWalls(c.sideCase, c.a, c.b, c.splitter, &w), 1);
        EXPECT_NEAR(w.first, c.w.first, 1e-12) << c.sideCase << " " << c.a;
        EXPECT_NEAR(w.second, c.w.second, 1e-12) << c.sideCase << " " << c.a;
        EXPECT_EQ(w.direction, c.w.direction);
        EXPECT_EQ(w.slot, c.w.slot);
    }
    EdgeWalls w{};
    EXPECT_EQ(edgeCurveWalls(4, 1, 1, 1, &w), -1);
    cycleParamsResetState();
}

TEST(EdgeCurve, ReversalCutsKeepTheLongerSide) {
    // Forward to the tip m, then back: one reversal at m. Zig-zags turn twice.
    struct Case {
        std::vector<double> x;
        int cut;
        std::vector<double> kept;
    };
    const Case cases[] = {
        {{0, 1, 2, 3, 4, 5, 6, 7, 6.5, 6, 5.5}, 1, {0, 1, 2, 3, 4, 5, 6, 7}},  // spike in the second half
        {{0, 1, 2, 3, 2.5, 2, 1.5, 1, 0.5, 0, -0.5}, 1, {3, 2.5, 2, 1.5, 1, 0.5, 0, -0.5}},
        {{0, 1, 2, 3, 2.5, 2, 2.5, 3, 4}, 1, {3, 2.5, 2}},
        {{0, 1, 2, 3, 4}, 0, {0, 1, 2, 3, 4}},
        {{0, 1, 2, 2.000005, 1.5, 1}, 0, {0, 1, 2, 2.000005, 1.5, 1}},  // a turn on a step below 1e-5 is none
    };
    for (const Case& c : cases) {
        Plist* l = tracedList(c.x, {});
        ASSERT_NE(l, nullptr);
        EXPECT_EQ(cutAtReversals(l), c.cut);
        ASSERT_EQ(l->count, static_cast<int32_t>(c.kept.size())) << c.x.size();
        for (int32_t i = 0; i < l->count; ++i) EXPECT_EQ(l->points[i].x, c.kept[i]);
        plistFree(l);
    }
}

TEST(EdgeCurve, LeadingUncutPointsSettle) {
    struct Case {
        std::vector<int> kinds;
        int result;
        std::vector<int> after;
    };
    const Case cases[] = {
        {{2, 2, 0, 2, 0, 0, 2, 0}, 1, {2, 2, 2, 2, 0, 0, 2, 2}},
        {{0, 0, 0, 0}, 0, {0, 0, 0, 0}},
        {{0, 2, 0, 0}, 0, {2, 2, 0, 0}},
        {{2, 0}, 0, {2, 0}},
        {{2, 2, 2}, -1, {2, 2, 2}},
    };
    for (const Case& c : cases) {
        std::vector<double> x(c.kinds.size());
        for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
        Plist* l = tracedList(x, c.kinds);
        ASSERT_NE(l, nullptr);
        for (int32_t i = 0; i < l->count; ++i) l->points[i].y = i * i;  // off its neighbours' line
        EXPECT_EQ(settleLeadingKind2(l), c.result);
        for (int32_t i = 0; i < l->count; ++i) {
            EXPECT_EQ(l->flags[i] >> 8, c.after[i]) << i;
            // A point laid onto its neighbours' line keeps its share of their parameters.
            const bool moved =
                i > 0 && c.kinds[i] == 0 && c.after[i] == 2 && i + 1 < l->count && c.kinds[i + 1] == 2;
            EXPECT_EQ(l->points[i].y, moved ? i * i + 1.0 : i * i);
            EXPECT_EQ(l->points[i].x, static_cast<double>(i));
        }
        plistFree(l);
    }
}

TEST(EdgeCurve, TracerGetsTheTurnedWallsAndTheTraceIsCleaned) {
    cycleParamsResetState();
    ContourPair pair{};
    const Vec3 pts[2] = {{20, 0, 0}, {40, 0, 0}};
    pair.first = plist3DFromPoints(pts, 2);
    pair.second = plist3DFromPoints(pts, 2);
    ASSERT_NE(pair.first, nullptr);
    CheckModel blade, turned;
    chkModelInit(&blade, kMeshTriangles);
    chkModelInit(&turned, kMeshTriangles);
    CheckModel* models[3] = {&blade, nullptr, &turned};
    const TriGrid* grids[3] = {nullptr, nullptr, nullptr};
    Plist* out = plistCreate(16, 1);
    ASSERT_NE(out, nullptr);
    gCall = {0, 0, 0, nullptr, 1};
    ASSERT_EQ(idx5BuildEdgeCurve(out, nullptr, 0, 0.5, 0, models, grids, &pair, fakeTrace), -1);  // no level
    HubShroud level{};
    ASSERT_EQ(idx5BuildEdgeCurve(out, &level, 0, 0.5, 0, models, grids, &pair, fakeTrace), 1);
    // Without a splitter the first wall opens by the pitch, at least to nearly a right angle.
    EXPECT_NEAR(gCall.angle1, kP, 1e-12);
    EXPECT_NEAR(gCall.angle2, -kQ, 1e-12);
    EXPECT_EQ(gCall.direction, -1);
    EXPECT_EQ(gCall.model, &blade);
    EXPECT_EQ(out->count, 8);  // the part beyond the late reversal is gone
    out->count = 0;
    EXPECT_EQ(idx5BuildEdgeCurve(out, &level, 3, 2.0, 0, models, grids, &pair, fakeTrace), 1);
    EXPECT_EQ(gCall.model, &turned);
    EXPECT_EQ(idx5BuildEdgeCurve(out, &level, 1, 2.0, 0, models, grids, &pair, fakeTrace),
              -1);  // no splitter
    gCall.result = -2;
    EXPECT_EQ(idx5BuildEdgeCurve(out, &level, 0, 2.0, 0, models, grids, &pair, fakeTrace), -1);
    plistFree(out);
    freePlist3D(pair.first);
    freePlist3D(pair.second);
}
