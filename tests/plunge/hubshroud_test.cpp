// Hub and shroud curves: from the example impeller's surfaces and from joined trim-loop edges.
#include "plunge/hubshroud.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "channeltest.h"
#include "geometry/profile.h"
#include "plunge/bladecurves.h"
#include "plunge/contourpair.h"
#include "plunge/cornerround.h"
#include "plunge/cutlist.h"
#include "plunge/cycparams.h"
#include "plunge/edgeaxis.h"
#include "plunge/hubcross.h"
#include "plunge/isostrip.h"
#include "plunge/levelcurves.h"
#include "plunge/partload.h"
#include "plunge/plist3d.h"
#include "plunge/plungeout.h"
#include "plunge/plungerows.h"
#include "plunge/profile2d.h"
#include "plunge/regionpaths.h"
#include "plunge/revmeshmodel.h"
#include "plunge/tiltseq.h"
#include "plunge/trigrid.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"
#include "workfolder.h"

TEST(HubShroud, ExampleHubCurveLiesOnTheHubPlusTheAllowance) {
    cycleParamsResetState();
    SurfList* surfaces = newSurfList(2);
    ASSERT_NE(surfaces, nullptr);
    ASSERT_EQ(readSurfObjects(example("hub.kvx").c_str(), surfaces), 1);
    ASSERT_EQ(surfaces->count, 1);
    SurfList* shrouds = newSurfList(2);
    ASSERT_NE(shrouds, nullptr);
    ASSERT_EQ(readSurfObjects(example("shroud.kvx").c_str(), shrouds), 1);
    for (const double tol : {0.5, 0.2}) {
        ProfileCurve* hub = idx5CreateHubShroudCurve(example("hub.kvx").c_str(), tol);
        ProfileCurve* shroud = idx5CreateHubShroudCurve(example("shroud.kvx").c_str(), tol);
        ASSERT_NE(hub, nullptr);
        ASSERT_NE(shroud, nullptr);
        HubShroud* pair = makeHubShroudPair(hub, shroud);
        ASSERT_NE(pair, nullptr);
        // Higher z first; the channel of the example is 18 high.
        EXPECT_GT(pair->hub->points[0].y, pair->hub->points[pair->hub->count - 1].y);
        EXPECT_NEAR(channelHeight(pair), 18.0, 0.05);
        for (const double allowance : {0.0, 0.5, 2.0}) {
            HubShroud* copy = copyHubShroud(pair);
            ASSERT_NE(copy, nullptr);
            const double oldLength = copy->hub->param[copy->hub->count - 1];
            ASSERT_EQ(offsetProfile2D(copy, allowance), 1);
            double arc = 0;
            for (int32_t i = 1; i < copy->hub->count; ++i)
                arc += dist2D(&copy->hub->points[i - 1], &copy->hub->points[i]);
            EXPECT_NEAR(copy->hub->param[copy->hub->count - 1], arc * arc / oldLength, 1e-9);
            // Every other point and the last: the projections onto the surface are the cost here.
            const int32_t n = copy->hub->count;
            for (int32_t i = 0; i < n; i = i + 1 == n ? n : std::min(i + 2, n - 1)) {
                const Vec3 p{copy->hub->points[i].x, 0, copy->hub->points[i].y};
                SurfFoot foot;
                double d = 0;
                ASSERT_EQ(projectPointNurbsSurf(&surfaces->entries[0], nullptr, &p, &foot, &d), 1);
                EXPECT_NEAR(d, allowance, 0.01) << tol << " " << i;
                double extra = -1;
                evalHubShroudExtra(copy, copy->hub->param[i], &extra);
                EXPECT_EQ(extra, 0.0);
            }
            freeHubShroud(copy);
        }
        // The shroud moved by 1 toward the channel (right of its direction) keeps 1 off the shroud.
        ASSERT_EQ(offsetShroudProfile2D(pair, -1.0), 1);
        for (int32_t i = 0; i < pair->shroud->count; i += 3) {
            const Vec3 p{pair->shroud->points[i].x, 0, pair->shroud->points[i].y};
            SurfFoot foot;
            double d = 0;
            ASSERT_EQ(projectPointNurbsSurf(&shrouds->entries[0], nullptr, &p, &foot, &d), 1);
            EXPECT_NEAR(d, 1.0, 0.01) << tol << " " << i;
            EXPECT_LT(closestPointProfile2D(pair->hub, &p, nullptr, nullptr), 18.0);
        }
        freeHubShroud(pair);
        profileFreeList(hub);
        profileFreeList(shroud);
    }
    freeSurfList(surfaces);
    freeSurfList(shrouds);
}

TEST(HubShroud, TrimLoopEdgesJoinWhenTheirEndsMeetInZ) {
    cycleParamsResetState();  // *PRECISION 0.01: ends join within 0.01 in space or 0.005 in z
    struct Case {
        double gapR, gapZ;
        bool joined;
    };
    const Case cases[] = {{0.5, 0.004, true}, {0.5, 0.006, false}, {0.005, 0.006, true}, {0.0, 0.0, true}};
    for (const Case& c : cases) {
        SurfList* list = newSurfList(3);
        ASSERT_NE(list, nullptr);
        // Bilinear strips in the plane y = 0 .. 0.5 between meridian points; the edge at y = 0 is taken.
        addPatch(list, {10, 0, 30}, {2, 0, -10}, {0, 0.5, 0});
        addPatch(list, {12 + c.gapR, 0, 20 - c.gapZ}, {3 - c.gapR, 0, -10 + c.gapZ}, {0, 0.5, 0});
        ProfileCurve* curve = surfacesMeridianCurve(list);
        EXPECT_EQ(curve != nullptr, c.joined) << c.gapR << " " << c.gapZ;
        if (curve != nullptr) {
            // The joined edge continues from the chain's end; its own first point is left out.
            ASSERT_EQ(curve->count, 3);
            ASSERT_NE(curve->z, nullptr);
            const double wantR[3] = {10, 12, 15}, wantZ[3] = {30, 20, 10};
            for (int i = 0; i < 3; ++i) {
                // The evaluator keeps parameters 1e-8 inside the knot range.
                EXPECT_NEAR(curve->points[i].y, wantR[i], 1e-6) << c.gapR << " " << i;
                EXPECT_NEAR(curve->z[i], wantZ[i], 1e-6) << c.gapR << " " << i;
            }
        }
        profileFreeList(curve);
        freeSurfList(list);
    }
    // Read from a selection file, the joined edge runs from its higher end down however it was laid.
    for (const double s : {1.0, -1.0}) {
        SurfList* list = newSurfList(3);
        ASSERT_NE(list, nullptr);
        addPatch(list, {10, 0, 20 + 10 * s}, {2, 0, -10 * s}, {0, 0.5, 0});
        addPatch(list, {12, 0, 20}, {3, 0, -10 * s}, {0, 0.5, 0});
        ASSERT_EQ(writeSurfObjects("edges.kvx", list), 1);
        freeSurfList(list);
        ProfileCurve* curve = idx5CreateHubShroudCurve("edges.kvx", 0.1);
        ASSERT_TRUE(curve && curve->z && curve->count == 3) << s;
        for (int i = 0; i < 3; ++i) EXPECT_NEAR(curve->z[i], 30 - 10 * i, 1e-6) << s << " " << i;
        profileFreeList(curve);
    }
}

TEST(HubShroud, HeightExtraValuesAndBands) {
    Profile2D *h = profileOf({{0, 0}, {10, 0}, {20, 0}}), *s = profileOf({{0, 10}, {20, 10}});
    ASSERT_TRUE(h && s);
    HubShroud pair{h, s, nullptr};
    double extra[3] = {1.0, 3.0, 7.0};
    pair.extra = extra;
    EXPECT_DOUBLE_EQ(channelHeight(&pair), 10.0);
    struct Case {
        double s, value;
    };
    for (const Case c :
         {Case{-5, 1.0}, Case{0, 1.0}, Case{5, 2.0}, Case{10, 3.0}, Case{15, 5.0}, Case{20 + 2e-5, 7.0},
          // A segment runs on up to 1e-5 past its end; the first point's value holds 1e-5 past it.
          Case{8e-6, 1.0}, Case{10 - 8e-6, 3 - 1.6e-6}, Case{10 + 8e-6, 3 + 1.6e-6},
          Case{10 + 1.2e-5, 3 + 4.8e-6}, Case{20 - 8e-6, 7 - 3.2e-6}, Case{20 + 8e-6, 7 + 3.2e-6}}) {
        double v = 0;
        ASSERT_EQ(evalHubShroudExtra(&pair, c.s, &v), 1);
        EXPECT_NEAR(v, c.value, 1e-12) << c.s;
    }
    Vec2 onHub{}, onShroud{};
    ASSERT_EQ(evalHubShroud(&pair, 5.0, &onHub, &onShroud), 1);  // the same share of both lengths
    EXPECT_NEAR(onHub.x, 5.0, 1e-12);
    EXPECT_NEAR(onShroud.x, 5.0, 1e-12);
    EXPECT_NEAR(onShroud.y, 10.0, 1e-12);
    // The band 4 below the shroud (offset to the right of its direction): the hub does not meet it.
    HubShroud* band = shroudBand(&pair, -4.0);
    ASSERT_NE(band, nullptr);
    EXPECT_EQ(hubShroudJoinFlag(), 0);
    EXPECT_NEAR(band->hub->points[0].y, 6.0, 1e-9);
    EXPECT_NEAR(channelHeight(band), 4.0, 1e-9);
    freeHubShroud(band);
    band = shroudBand(&pair, -12.0);  // wholly below the hub, starting on its right: told until a reset
    EXPECT_TRUE(band && hubShroudJoinFlag() == 1);
    freeHubShroud(band);
    hubShroudResetState();
    EXPECT_EQ(hubShroudJoinFlag(), 0);
    HubShroud noHub{nullptr, pair.shroud, nullptr};  // no hub to join: no band, and no miss told
    EXPECT_EQ(shroudBand(&noHub, -12.0), nullptr);
    EXPECT_EQ(hubShroudJoinFlag(), 0);
    // Cut at the channel's exit, the lowered shroud (made longer first) ends on it, not past it.
    HubShroud* channel = flatChannel(20);
    ASSERT_NE(channel, nullptr);
    for (const double r : {60.0, 55.0}) {
        const Seg2D exit{r, 20, r, 0};
        band = shroudBandCut(channel, &exit, -5.0);
        ASSERT_NE(band, nullptr);
        const Profile2D* floor = band->hub;
        EXPECT_NEAR(floor->points[0].x, 10.0, 1e-9);
        EXPECT_NEAR(floor->points[floor->count - 1].x, r, 1e-9);
        EXPECT_NEAR(floor->points[floor->count - 1].y, 15.0, 1e-9);
        EXPECT_NEAR(floor->param[floor->count - 1], r - 10.0, 1e-9);
        freeHubShroud(band);
    }
    freeHubShroud(channel);
    freeProfile2D(h);
    freeProfile2D(s);
    hubShroudResetState();
}

// Pairs, levels and contours refuse what is not there.
// Missing inputs, or too few points, rows or lists for the operation: each refuses with its own answer
// and touches nothing.
TEST(HubShroud, OperationsRefuseWhatTheyCannotWorkOn) {
    Profile2D *one = profileOf({{10, 0}}), *two = profileOf({{10, 0}, {20, 0}});
    ASSERT_TRUE(one && two);
    Vec3 v{}, w{};
    double s = 0;
    int32_t flag = 0, index[2] = {}, direction[2] = {};
    const int refused[] = {appendProfile2DPoint(nullptr, 1), appendProfile2DPoint(one, 1),
                           extendProfile2D(nullptr, 1),      extendProfile2D(one, 1),
                           fitProfile2DToSpan(nullptr, two), fitProfile2DToSpan(two, nullptr),
                           fitProfile2DToSpan(one, two),     fitProfile2DToSpan(two, one),
                           reverseProfile2D(nullptr),        profile2DSpline(nullptr)};
    for (size_t k = 0; k < std::size(refused); ++k) EXPECT_EQ(refused[k], -1) << k;
    const void* none[] = {joinProfiles2D(nullptr, two, &s, &flag), joinProfiles2D(two, nullptr, &s, &flag),
                          joinProfiles2D(one, two, &s, &flag), channelSectionCreate(nullptr, two, 1),
                          channelSectionCreate(&v, nullptr, 1)};
    for (size_t k = 0; k < std::size(none); ++k) EXPECT_EQ(none[k], nullptr) << k;
    EXPECT_EQ(one->count * 10 + two->count, 12);  // nothing appended or extended
    Plist3D* single = newPlist3D(1);
    ASSERT_NE(single, nullptr);
    ASSERT_GE(appendPlist3D(single, &v), 0);
    ASSERT_EQ(single->count, 1);
    const int unknown[] = {evalPlist3D(nullptr, 0, &v), tangentPlist3D(nullptr, 0, &v),
                           tangentPlist3D(single, 0, &v), evalContourPair(nullptr, 0, &v, &w),
                           contourPairProfileTrace(nullptr, two, 1, single)};
    for (size_t k = 0; k < std::size(unknown); ++k) EXPECT_EQ(unknown[k], -1) << k;
    freePlist3D(single);
    CutRecordList* row = idx5CutListCreate(1);
    ASSERT_NE(row, nullptr);
    EXPECT_EQ(cutListGap(nullptr, row, 0, two), 0.0);
    EXPECT_EQ(cutListGap(row, nullptr, 0, two), 0.0);
    EXPECT_EQ(cutListGap(row, row, 0, two), 0.0);  // no records to measure
    const int notInserted[] = {idx5CutListInsert(nullptr, 0, &v, &w, 0),
                               idx5CutListInsert(row, -1, &v, &w, 0), idx5CutListInsert(row, 1, &v, &w, 0),
                               idx5CutListInsert(row, 0, nullptr, &w, 0),
                               idx5CutListInsert(row, 0, &v, nullptr, 0)};
    for (size_t k = 0; k < std::size(notInserted); ++k) EXPECT_EQ(notInserted[k], -1) << k;
    EXPECT_EQ(row->count, 0);
    idx5CutListReverse(nullptr);
    EXPECT_EQ(clipPlunges(nullptr, nullptr, nullptr) * 10 + setReturnPoints(nullptr, nullptr), 11);
    CutListSet* rows = cutListSetCreate(0);
    ASSERT_NE(rows, nullptr);
    EXPECT_EQ(rows->capacity, 1);
    EXPECT_EQ(prepareRow(nullptr, 0, nullptr, 1, 1), -1);
    EXPECT_EQ(prepareRow(rows, 0, nullptr, 1, 1), -1);  // no row 0 in an empty set
    ASSERT_EQ(cutListSetAdd(rows, row, 0, 0), 1);
    EXPECT_EQ(prepareRow(rows, -1, nullptr, 1, 1) * 10 + prepareRow(rows, 1, nullptr, 1, 1), -11);
    cutListSetFree(rows);
    idx5CutListFree(row);
    Plist *a = plistCreate(4, 1), *b = plistCreate(4, 1);
    PlistArray* three = plistArrayCreate(3);
    for (int k = 0; k < 3; ++k) plistArrayAdd(three, a);
    EXPECT_EQ(rowAtParam(nullptr, b, three, 0), -1);
    EXPECT_EQ(rowAtParam(a, b, three, 0), -1);  // four side lists needed
    EXPECT_EQ(findCorner(nullptr, 0, 10), -1);
    EXPECT_EQ(cutPathsAtShroud(nullptr, nullptr), 0);
    plistArrayFree(three);
    plistFree(a);
    plistFree(b);
    EXPECT_EQ(isoStripCopyRange(nullptr, 0, 0), nullptr);
    EXPECT_EQ(isoSurfacePoint(nullptr, 0, 0, &v), -1);
    EXPECT_EQ(idx5SurfaceIsoCurve(nullptr, 0, 1), nullptr);
    IsoStrip* strip = isoStripCreate(2);
    IsoStrip* half = strip;
    EXPECT_EQ(splitIsoStrip(strip, nullptr, &half, 1), -1);
    EXPECT_EQ(half, strip);
    EXPECT_EQ(orientBladeStrips(nullptr, strip, two, 0), -1);
    EXPECT_EQ(orientBladeStrips(strip, strip, nullptr, 0), -1);
    EXPECT_EQ(chooseBladeSurfaces(nullptr, two, index, direction), -1);
    isoStripFree(strip);
    EXPECT_EQ(tiltSeqCommonTilt(nullptr, 0, 0, 0), 0);
    tiltSeqScale(nullptr, 2);
    TriGrid* grid = triGridCreate(2, 3, 1);
    ASSERT_NE(grid, nullptr);
    EXPECT_EQ(triGridCellAt(nullptr, 0, 0), nullptr);
    for (const auto& [r, c] : {std::pair{-1, 0}, std::pair{3, 0}, std::pair{0, -1}, std::pair{0, 2}})
        EXPECT_EQ(triGridCellAt(grid, r, c), nullptr) << r << " " << c;
    triGridFree(grid);
    const double plan[4] = {0, 1, 0, 1};
    EXPECT_FALSE(liftCellsInit(nullptr, plan, 1, 1));
    EXPECT_EQ(tmpFilePath("x", nullptr), -1);
    EXPECT_EQ(bladeEdgeToolAxis(nullptr, &v, nullptr, nullptr, nullptr, 0, 0, 0, 0, &w), -1);
    EXPECT_EQ(buildLevelCurves(nullptr, 1, 0, 0), nullptr);
    // A vertical step that would ask for 200 000 levels of a channel 20 high gives none.
    HubShroud* channel = flatChannel(20);
    ASSERT_NE(channel, nullptr);
    for (int32_t strategy : {kLevelFromHub, kLevelFromShroud, kLevelUnderBand})
        EXPECT_EQ(buildLevelCurves(channel, 1e-4, strategy, 20), nullptr) << strategy;
    freeHubShroud(channel);
    // A hub or shroud selection is read with its collinear points kept, even one that gives no curve.
    const int32_t keep = kvxKeepCollinear();
    kvxSetKeepCollinear(0);
    EXPECT_EQ(idx5CreateHubShroudCurve("no-such-selection.kvx", 0.1), nullptr);
    EXPECT_EQ(kvxKeepCollinear(), 1);
    kvxSetKeepCollinear(keep);
    freeProfile2D(one);
    freeProfile2D(two);
}

TEST(HubShroud, MissingArgumentsAreRefused) {
    Vec2 h{}, s{};
    double v = 0;
    EXPECT_EQ(copyHubShroud(nullptr), nullptr);
    HubShroud* flat = flatChannel(10);  // a copy keeps each hub point's extra value
    ASSERT_NE(flat, nullptr);
    for (int32_t i = 0; i < flat->hub->count; ++i) flat->extra[i] = 1 + 0.5 * i;
    HubShroud* copy = copyHubShroud(flat);
    ASSERT_NE(copy, nullptr);
    for (int32_t i = 0; i < flat->hub->count; ++i) EXPECT_EQ(copy->extra[i], 1 + 0.5 * i) << i;
    freeHubShroud(copy);
    freeHubShroud(flat);
    EXPECT_EQ(evalHubShroud(nullptr, 0, &h, &s) * 10 + evalHubShroudExtra(nullptr, 0, &v), -11);
    // A hub without points has no length to scale by: the shroud is taken at its start.
    HubShroud bare{newProfile2D(1), profileOf({{0, 0}, {10, 0}}), nullptr};
    ASSERT_TRUE(bare.hub && bare.shroud);
    s = {-1, -1};
    EXPECT_EQ(evalHubShroud(&bare, 5, &h, &s), 1);
    EXPECT_TRUE(s.x == 0 && s.y == 0) << s.x << " " << s.y;
    HubShroud thin{bare.hub, bare.hub, nullptr};  // nothing to offset
    EXPECT_EQ(offsetProfile2D(&thin, 1) * 10 + offsetShroudProfile2D(&thin, 1), -11);
    freeProfile2D(bare.hub);
    freeProfile2D(bare.shroud);
    EXPECT_EQ(offsetProfile2D(nullptr, 1) * 10 + offsetShroudProfile2D(nullptr, 1), -11);
    const void* none[] = {hubShroudOverHub(nullptr, 1), hubShroudFromPlist3D(nullptr, nullptr),
                          shroudBandCut(nullptr, nullptr, 1), idx5CreateHubShroudCurve(nullptr, 0.1),
                          surfacesMeridianCurve(nullptr)};
    for (size_t k = 0; k < std::size(none); ++k) EXPECT_EQ(none[k], nullptr) << k;
    SurfList* list = newSurfList(1);  // no surface: no edge to start the chain from, no iso line
    ASSERT_NE(list, nullptr);
    EXPECT_TRUE(!surfacesMeridianCurve(list) && !surfaceMeridianCurve(list, 1));
    // One surface: its middle iso line that falls the most, here the one along v.
    addPatch(list, {10, -0.5, 30}, {0, 1, 0}, {0, 0, -10});
    ProfileCurve* c = surfaceMeridianCurve(list, 0.5);
    EXPECT_NEAR(c && c->z ? std::fabs(c->z[0] - c->z[c->count - 1]) : 0, 10, 1e-6);
    EXPECT_EQ(c ? c->ownsPoints : 0, 1);
    profileFreeList(c), freeSurfList(list);
    // A flat surface (at z 0: no rounding) falls along neither: the line along v (2 long, not 4) is kept.
    list = newSurfList(1);
    addPatch(list, {0, 0, 0}, {4, 0, 0}, {0, 2, 0});
    c = surfaceMeridianCurve(list, 0.5);
    EXPECT_NEAR(c ? c->end : 0, 2, 1e-6);
    profileFreeList(c), freeSurfList(list);
    freeHubShroud(nullptr);
    EXPECT_EQ(addLevelCurve(nullptr, nullptr, 0), -1);
    LevelCurves* set = newLevelCurves(0);
    ASSERT_NE(set, nullptr);
    EXPECT_EQ(addLevelCurve(set, nullptr, 0), -1);
    const int32_t room = set->capacity;
    set->capacity = set->count = 1 << 30;  // full, and too large to double
    EXPECT_EQ(addLevelCurve(set, &thin, 0), -1);
    set->capacity = room, set->count = 0;
    Plist3D* l = newPlist3D(2);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(levelCurveFromPair(nullptr, 1, 0, 0.5, l), -1);
    reverseLevelCurves(nullptr);
    freeLevelCurves(set);
    freeLevelCurves(nullptr);
    EXPECT_EQ(twistContourPair(nullptr, 0, 0), nullptr);
    EXPECT_EQ(normContourPairParams(nullptr), -1);
    EXPECT_EQ(contourStartSlope(nullptr), 90.0);
    EXPECT_EQ(contourStartSlope(l), 90.0);  // fewer than two points
    EXPECT_EQ(trimContourPairFolds(nullptr), 0);
    EXPECT_EQ(prepareBladeContours(nullptr, 1), -1);
    EXPECT_EQ(addCurvedLead(l, 1, 1), -1);
    freePlist3D(l);
    freeContourPair(nullptr);
}

// A meridian of four or five falling edges, each the edge of its own patch,
// the patches listed in a seeded order and each turned either way: the joined curve is the whole meridian
// in one direction or the other, its lengths the running 3D lengths.
TEST(HubShroud, TrimLoopEdgesJoinInAnyOrderAndSense) {
    cycleParamsResetState();
    const std::vector<Vec2> meridian = {{10, 40}, {12, 30}, {13, 22}, {16, 15}, {20, 12}, {27, 11.5}};
    std::mt19937 rng(1312);
    for (int round = 0; round < 12; ++round) {
        const size_t edges = round % 2 ? meridian.size() - 1 : meridian.size() - 2;
        std::vector<size_t> order(edges);
        for (size_t i = 0; i < edges; ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), rng);
        SurfList* list = newSurfList(static_cast<int32_t>(edges));
        ASSERT_NE(list, nullptr);
        for (const size_t i : order) {
            Vec2 a = meridian[i], b = meridian[i + 1];
            if (rng() % 2) std::swap(a, b);
            addPatch(list, {a.x, 0, a.y}, {b.x - a.x, 0, b.y - a.y}, {0, 0.1, 0});
        }
        ProfileCurve* curve = surfacesMeridianCurve(list);
        ASSERT_NE(curve, nullptr) << round;
        ASSERT_EQ(curve->count, static_cast<int32_t>(edges + 1)) << round;
        ASSERT_NE(curve->z, nullptr);
        const bool down = curve->z[0] > curve->z[curve->count - 1];
        double length = 0;
        for (int32_t i = 0; i < curve->count; ++i) {
            const Vec2& want = meridian[down ? static_cast<size_t>(i) : edges - static_cast<size_t>(i)];
            EXPECT_NEAR(curve->points[i].y, want.x, 1e-6) << round << " " << i;
            EXPECT_NEAR(curve->z[i], want.y, 1e-6) << round << " " << i;
            if (i > 0) {
                const Vec2& prev =
                    meridian[down ? static_cast<size_t>(i - 1) : edges - static_cast<size_t>(i - 1)];
                length += std::hypot(want.x - prev.x, want.y - prev.y);
            }
            EXPECT_NEAR(curve->lengths[i], length, 1e-5) << round << " " << i;
        }
        profileFreeList(curve);
        freeSurfList(list);
    }
}

// A trim loop stepping down 1, then 9 (the meridional edge), then twice 5 on its way back: of the runs
// of changing height the largest is taken, whatever single flat point lies before it. The same surface
// also as three u points over the unclamped knots 0, 1/4, .., 1, its loop's u mapped into their valid
// range 1/4 .. 3/4: loop points are the surface's own parameters, whatever its first knots.
TEST(HubShroud, TrimLoopKeepsItsLargestRunOfHeight) {
    cycleParamsResetState();
    for (const int32_t un : {2, 3}) {
        SurfList* list = newSurfList(1);
        ASSERT_NE(list, nullptr);
        TrimSurface rec;
        kvxInitTrimSurface(&rec);
        ASSERT_EQ(bsplSurfaceAlloc(&rec.surface, 2, 2, un, 2, 0), 1);
        for (int i = 0; i < un + 2; ++i) rec.surface.uKnots[i] = un == 2 ? i / 2 : i / 4.0;
        for (int i = 0; i < 4; ++i) rec.surface.vKnots[i] = i / 2;
        // z = 30 - 10 u, r = 10 + 2 u; v moves 0.1 sideways at a constant height.
        for (int i = 0; i < un; ++i)
            for (int j = 0; j < 2; ++j)
                rec.surface.rows[i][j] = {10.0 + 2.0 * i / (un - 1), 0.1 * j, 30.0 - 10.0 * i / (un - 1)};
        Vec2 loop[9] = {{0, 0},     {0.1, 0},   {0.1, 1}, {1, 1}, {1, 0.5},
                        {0.5, 0.5}, {0.5, 0.2}, {0, 0.2}, {0, 0}};
        for (Vec2& q : loop) q.x = un == 2 ? q.x : 0.25 + 0.5 * q.x;
        ASSERT_EQ(trimSurfaceAddLoop(&rec, loop, 9), 1);
        ASSERT_EQ(surfListAppend(list, &rec), 1);
        ProfileCurve* curve = surfacesMeridianCurve(list);
        ASSERT_NE(curve, nullptr);
        ASSERT_EQ(curve->count, 2);
        ASSERT_NE(curve->z, nullptr);
        EXPECT_NEAR(curve->z[0], 29, 1e-6) << un;
        EXPECT_NEAR(curve->z[1], 20, 1e-6) << un;
        EXPECT_NEAR(curve->points[0].y, std::hypot(10.2, 0.1), 1e-6) << un;
        EXPECT_NEAR(curve->points[1].y, std::hypot(12.0, 0.1), 1e-6) << un;
        profileFreeList(curve);
        freeSurfList(list);
    }
}
