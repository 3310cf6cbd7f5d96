#include "plunge/regionpaths.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <utility>

#include "channeltest.h"
#include "geometry/spline.h"
#include "plunge/angleprof.h"
#include "plunge/edgecurve.h"
#include "plunge/hubcross.h"
#include "plunge/levelcurves.h"
#include "plunge/pathlink.h"
#include "plunge/pathspace.h"
#include "plunge/plist3d.h"
#include "plunge/revmeshmodel.h"
#include "plunge/surfset.h"
#include "plunge/tiltgeom.h"
#include "plunge/trigrid.h"
#include "plunge/updown.h"
#include "sidetest.h"

namespace {

double cutParam(const Plist* l, bool end) {
    int32_t f, e;
    firstLastCutIndex(l, &f, &e);
    return l->parameters[end ? e : f];
}

}  // namespace

TEST(RegionPaths, ExtensionGrowsTheCutRangeByTheLengths) {
    // Ends 0.005 from a point are new points: the split keeps only points within 0.001.
    const double cases[][4] = {{0, 0, 3, 15},
                               {1.5, 0, 1.5, 15},
                               {0, 2.25, 3, 17.25},
                               {10, 10, 0, 19},
                               {1.995, 3.995, 1.005, 18.995}};
    for (const auto& c : cases) {
        PlistArray* lists = arrayOf({ray(0, 20, 3, 4), none(), none(), ray(0.4, 20, 3, 4)});
        for (int k : {0, 3}) {
            ASSERT_NE(lists->lists[k]->bytes, nullptr);
            std::fill_n(lists->lists[k]->bytes, 20, uint8_t(7));  // cleared on extended points only
            // Its lead bent up at point 2: the walk back measures the path, not chords across it.
            Vec3* q = lists->lists[k]->points;
            q[1] = {q[2].x, q[2].y, 1.0}, q[0] = {q[2].x, q[2].y, 2.0};
        }
        EXPECT_EQ(extendSidePaths(lists, c[0], c[1]), 1);
        for (int k : {0, 3}) {
            const Plist* l = lists->lists[k];
            EXPECT_NEAR(cutParam(l, false), c[2], 1e-9);
            EXPECT_NEAR(cutParam(l, true), c[3], 1e-9);
            int32_t f = 0, e = 0;
            firstLastCutIndex(l, &f, &e);
            EXPECT_EQ(l->bytes[f], c[0] > 0 ? 0 : 7);
            EXPECT_EQ(l->bytes[e], c[1] > 0 ? 0 : 7);
            EXPECT_EQ(lists->lists[k]->count, 20 + (c[0] != 0 && c[0] < 3) + (c[1] != 0 && c[1] < 4));
        }
        plistArrayFree(lists);
    }
}

TEST(RegionPaths, ShroudTrimsClearanceAndSecondLists) {
    HubShroud* pair = flatChannel(10);
    ASSERT_NE(pair, nullptr);
    // A path climbing through the shroud, its last point back under it: from the first point beyond
    // half a unit past it, the points to the end are marked.
    Plist* path = plistCreate(21, 1);  // full to its room: the marks stay within its points
    for (int i = 0; i <= 20; ++i) {
        const Vec3 q{30, 0, i < 20 ? double(i) : 5.0};
        plistAppend(path, i, &q, 0, nullptr, 0);
    }
    ASSERT_EQ(trimPathAtShroud(path, pair, 0, 0.0), 1);
    for (int i = 0; i <= 20; ++i) EXPECT_EQ(path->flags[i] >> 8, i > 10 ? 3 : 0) << i;
    plistReverse(path);
    plistClearKind3(path);
    EXPECT_EQ(trimPathAtShroud(path, pair, 1, 0.0), 1);
    EXPECT_EQ(path->flags[0] >> 8, 3);
    plistFree(path);
    // Marked from the end back to the last point under the hub or shroud by 0.01 or more (the point after
    // it onwards); reversed paths are marked from their start.
    const struct {
        int which, reverse;
        double z0, dz, tail;  // point i at z0 + i dz; tail: the last point's z instead
        int from, to;         // marked indices, none when from > to
    } curves[] = {{2, 0, 0, 1, 20, 11, 20},      {2, 1, 20, -1, 0, 0, 9},      {1, 0, -5, 1, 15, 6, 20},
                  {1, 0, -0.0101, 0, 5, 21, 20}, {1, 0, -0.0099, 0, 5, 1, 20}, {2, 0, 0, 0.4, 8, 21, 20}};
    for (const auto& c : curves) {
        std::vector<Polar> pts;
        for (int i = 0; i <= 20; ++i)
            pts.push_back({double(i), 30, 0, i == 20 ? c.tail : c.z0 + i * c.dz, 0});
        Plist* l = polarPath(pts);
        EXPECT_EQ(trimPathAtCurve(l, pair, c.which, c.reverse), c.from <= c.to ? 1 : 0) << c.z0;
        for (int i = 0; i <= 20; ++i)
            EXPECT_EQ(l->flags[i] >> 8, i >= c.from && i <= c.to ? 3 : 0) << c.z0 << " " << i;
        EXPECT_EQ(l->points[0].z, pts[0].z);
        EXPECT_EQ(trimPathAtCurve(l, nullptr, c.which, 0), 0);
        plistFree(l);
    }
    path = ray(0, 10, 0, 0, 15);  // wholly beyond: emptied
    EXPECT_EQ(trimPathAtShroud(path, pair, 0, 0.0), 0);
    EXPECT_EQ(path->count, 0);
    plistFree(path);
    path = ray(0, 10, 0, 0, 15);
    const int32_t points = path->count;
    Profile2D* shroud = std::exchange(pair->shroud, nullptr);  // no shroud trims nothing
    EXPECT_EQ(trimPathAtShroud(path, pair, 0, 0.0), 0);
    EXPECT_EQ(path->count, points);
    pair->shroud = shroud;
    plistFree(path);

    PlistArray* lists = arrayOf({ray(0, 20, 2, 0, 10), none(), none(), ray(0.4, 20, 0, 0, 4)});
    EXPECT_EQ(pathsEndClearOfShroud(lists, pair, 0), 0);
    lists->lists[0]->points[19].z = 9;
    EXPECT_EQ(pathsEndClearOfShroud(lists, pair, 0), 1);
    lists->lists[3]->points[19].z = 10;  // the fourth side counts as the first does
    EXPECT_EQ(pathsEndClearOfShroud(lists, pair, 0), 0);
    lists->lists[3]->points[19].z = 4;
    // The middle sides count only for all sides, a fifth list never.
    PlistArray* five = arrayOf({none(), ray(0, 20, 0, 0, 10), none(), none(), ray(0, 20, 0, 0, 10)});
    for (const int all : {0, 1}) EXPECT_EQ(pathsEndClearOfShroud(five, pair, all), 1 - all);
    five->lists[1]->points[19].z = 9;
    EXPECT_EQ(pathsEndClearOfShroud(five, pair, 1), 1);
    plistArrayFree(five);
    EXPECT_EQ(cutPathsAtLevel(lists, pair, 0), 0);
    // Vertical axes meet the flat shroud straight above each point; link kinds carry over.
    PlistArray* second = plistArrayCreate(4);
    ASSERT_EQ(buildSecondRegionLists(second, lists, pair), 4);
    for (int k : {0, 3}) {
        const Plist *s = second->lists[k], *l = lists->lists[k];
        ASSERT_EQ(s->count, 20);
        for (int i = 0; i < 20; ++i) {
            EXPECT_NEAR(s->points[i].z, 10, 1e-3);  // found by bisection
            EXPECT_NEAR(std::hypot(s->points[i].x - l->points[i].x, s->points[i].y - l->points[i].y), 0,
                        1e-6);
            EXPECT_EQ(s->flags[i] >> 8, k == 0 && i < 2 ? 2 : 0);
        }
    }
    EXPECT_EQ(second->lists[1]->count, 0);
    plistArrayFree(second);
    plistArrayFree(lists);
    // Axes leaning by 0.3 toward or away from the axis, in planes at polar angles 0.5 and 2, from points 1
    // above the hub meet the shroud 9 tan 0.3 aside along that plane.
    for (const auto& [lean, phi] : {std::pair{0.3, 0.5}, std::pair{-0.3, 2.0}}) {
        Plist* l = plistCreate(8, 1);
        const Vec3 a{std::sin(lean) * std::cos(phi), std::sin(lean) * std::sin(phi), std::cos(lean)};
        for (int i = 0; i < 4; ++i) {
            const Vec3 p{(15.0 + 5 * i) * std::cos(phi), (15.0 + 5 * i) * std::sin(phi), 1};
            plistAppend(l, i, &p, 0, &a, 0);
        }
        lists = arrayOf({l});
        second = plistArrayCreate(1);
        ASSERT_EQ(buildSecondRegionLists(second, lists, pair), 1);
        ASSERT_EQ(second->lists[0]->count, 4);
        for (int i = 0; i < 4; ++i) {
            const Vec3& q = second->lists[0]->points[i];
            const double r = 15.0 + 5 * i + 9 * std::tan(lean);
            EXPECT_NEAR(q.x, r * std::cos(phi), 1e-3) << lean << " " << i;
            EXPECT_NEAR(q.y, r * std::sin(phi), 1e-3) << lean << " " << i;
            EXPECT_NEAR(q.z, 10, 1e-3);
        }
        plistArrayFree(second);
        plistArrayFree(lists);
    }
    freeHubShroud(pair);
}

TEST(RegionPaths, SplitterKindsAndLinksAcrossTheBlade) {
    for (int missing = 1; missing <= 3; ++missing) {  // either inner path missing: nothing is reset
        PlistArray* lists = arrayOf({ray(0, 10, 2), missing & 1 ? none() : ray(0.1, 10, 6),
                                     missing & 2 ? none() : ray(0.2, 10, 6), ray(0.4, 10, 2)});
        EXPECT_EQ(resetSplitterKinds(lists), 0) << missing;
        plistArrayFree(lists);
    }
    // Inner paths uncut up to 6; the outer ones cut from c, where the inner paths get a vertex unless
    // one lies within a thousandth of it already. Last, inner paths wholly uncut in lists of their length.
    const double cuts[] = {2.5, 3.0, 3.0005, 3.004, 2.9985, 3.0};
    for (const double& c : cuts) {
        const int lead = &c == &cuts[5] ? 10 : 6;
        PlistArray* lists = arrayOf({ray(0, 10, 2), ray(0.1, 10, lead), ray(0.2, 10, lead), ray(0.4, 10, 2)});
        for (int k = 1; lead == 10 && k < 3; ++k) {
            Plist* tight = plistAlloc(10, 1);
            ASSERT_EQ(plistCopyPoints(tight, lists->lists[k]), 1);
            plistFree(std::exchange(lists->lists[k], tight));
        }
        lists->lists[0]->parameters[1] = c - 1;
        lists->lists[0]->parameters[2] = c;
        ASSERT_NE(lists->lists[1]->bytes, nullptr);
        std::fill_n(lists->lists[1]->bytes, lists->lists[1]->count, uint8_t(7));  // each one is rewritten
        ASSERT_EQ(resetSplitterKinds(lists), 1);
        const bool onVertex = std::fabs(c - std::round(c)) <= 1e-3;
        const Plist* inner = lists->lists[1];
        ASSERT_EQ(inner->count, onVertex ? 10 : 11) << c;
        for (int32_t i = 0; i < inner->count; ++i) {
            EXPECT_EQ(inner->flags[i] >> 8, inner->parameters[i] < c - 1e-3 ? 2 : 0) << c << " " << i;
            EXPECT_EQ(inner->bytes[i], inner->parameters[i] < lead - 1e-9 ? 0 : 1)
                << i;  // the splitter's own cut
            if (!onVertex && inner->parameters[i] > c - 1e-3 && inner->parameters[i] < c + 1e-3) {
                EXPECT_EQ(inner->parameters[i], c);
            }
        }
        plistArrayFree(lists);
    }
    // Across the blade the fourth path is linked where it lies a pitch further round.
    const double pitch = 0.785;
    Plist *first = ray(0, 8, 2), *fourth = ray(0.1 + pitch, 8, 2), *a = ray(0, 8, 2), *b = ray(0.1, 8, 2);
    ASSERT_EQ(linkAcrossBlade(first, fourth, pitch), 1);
    ASSERT_EQ(linkPathEnds(a, b), 1);
    for (int i = 0; i < 8; ++i) {
        pathRotateZ(&b->points[i], pitch);
        EXPECT_NEAR(dist3D(&first->points[i], &a->points[i]) + dist3D(&fourth->points[i], &b->points[i]), 0,
                    1e-9);
    }
    for (Plist* l : {first, fourth, a, b}) plistFree(l);
    // Turning a path about the axis turns its points and axes, and nothing past its count.
    Plist* turned = ray(0.1, 8);
    for (int i = 0; i < 8; ++i) turned->vectors[i] = {1, 0, 0.5};
    turned->points[8] = {1, 2, 3};
    rotatePathAboutAxis(turned, 0.5);
    for (int i = 0; i < 8; ++i) {
        EXPECT_NEAR(polar(turned->points[i]), 0.6, 1e-12);
        EXPECT_NEAR(std::hypot(turned->points[i].x, turned->points[i].y), 10 + i, 1e-12);
        EXPECT_NEAR(turned->vectors[i].x, std::cos(0.5), 1e-12);
        EXPECT_NEAR(turned->vectors[i].y, std::sin(0.5), 1e-12);
        EXPECT_EQ(turned->vectors[i].z, 0.5);
    }
    EXPECT_EQ(turned->points[8].x, 1.0);
    EXPECT_EQ(turned->points[8].y, 2.0);
    plistFree(turned);
    rotatePathAboutAxis(nullptr, 0.5);
}

TEST(RegionPaths, EdgeRollTurnsByThePathsTurnAgainstItsCopy) {
    const Vec3 ends[2] = {{5, 0, 0}, {40, 0, 0}};  // the blade contour along +x
    ContourPair pair{plist3DFromPoints(ends, 2), plist3DFromPoints(ends, 2)};
    const double pitch = 0.785, radius = 2.5;
    // path, angle of its copy in the blade's position, z rise per unit radius, side, splitter case
    struct Case {
        int k;
        double copyAngle, slope;
        int side, splitter;
    } cases[] = {{0, 0.2, 0, -1, 0},  {0, -0.3, 0.4, 1, 0}, {3, 0.2, 0, -1, 0},   {3, -0.2, 0, 1, 0},
                 {3, 0.2, 0.5, 1, 0}, {1, 0.1, 0, -1, 1},   {2, -0.1, 0.3, 1, 1}, {2, 0.15, 0, -1, 1},
                 {1, 0.1, 0, -1, 0},  {2, 0.1, 0, 1, 0}};
    for (const Case& c : cases) {
        const double back = c.k == 0 ? 0 : c.k == 3 ? pitch : pitch / 2;
        std::vector<Polar> pts;  // three link points at each end, cut points 3..16
        for (int i = 0; i < 20; ++i)
            pts.push_back({double(i), 10.0 + i, c.copyAngle + back, c.slope * i, i < 3 || i > 16 ? 2 : 0});
        std::vector<Plist*> paths{none(), none(), none(), none()};
        plistFree(paths[c.k]);
        paths[c.k] = polarPath(pts);
        paths.push_back(polarPath(pts));  // a list past the four side paths is not one of them
        PlistArray* lists = arrayOf(paths);
        ASSERT_EQ(edgeRollingPass(lists, &pair, radius, c.side, c.splitter, pitch), 1);
        // A radial direction with rise s turned by b about z: cos turn = (cos b + s^2) / (1 + s^2).
        const double s2 = c.slope * c.slope, turn = std::acos((std::cos(back) + s2) / (1 + s2));
        const int edge = c.side < 0 ? 3 : 16, steps = int(std::ceil(radius / std::sqrt(1 + s2)));
        const bool treated = c.k == 0 || c.k == 3 || c.splitter;
        const double roll =
            treated ? (c.copyAngle < 0 ? -1 : 1) * std::tan(turn) * radius / (10.0 + edge) : 0;
        const bool outer = c.k == 0 || c.k == 2;
        const bool taken = outer ? c.copyAngle > 0 : c.side < 0 || c.copyAngle < 0;
        const Plist* l = lists->lists[c.k];
        for (int i = 0; i < 20; ++i) {
            const bool beyond = c.side < 0 ? i < 3 : i > 16, near = std::abs(i - edge) <= steps;
            const bool inWindow = c.side < 0 ? i >= edge : i <= edge;
            const double want = beyond || (near && inWindow && taken) ? roll : 0;
            const Vec3 q = l->points[i];
            EXPECT_NEAR(std::remainder(polar(q) - c.copyAngle - back, 2 * M_PI), want, 1e-9)
                << c.k << " " << i;
            EXPECT_NEAR(std::hypot(q.x, q.y), 10.0 + i, 1e-9);
            EXPECT_NEAR(q.z, c.slope * i, 1e-12);
            EXPECT_NEAR(std::remainder(polar(lists->lists[4]->points[i]) - c.copyAngle - back, 2 * M_PI), 0,
                        1e-12);
        }
        plistArrayFree(lists);
    }
    // A cut range starting on the axis, or within 1e-5 of it, has no radius to roll by.
    for (const double r : {0.0, 5e-6}) {
        PlistArray* near = arrayOf({polarPath({{0, 5, 0.2, 0, 2}, {1, r, 0, 0, 0}, {2, 10, 0.2, 0, 0}}),
                                    none(), none(), ray(-0.6, 10, 2)});
        EXPECT_EQ(edgeRollingPass(near, &pair, radius, -1, 0, pitch), -1) << r;
        plistArrayFree(near);
    }
    PlistArray* lists = arrayOf({polarPath({{0, 5, 0.2, 0, 2}, {1, 0, 0, 0, 0}, {2, 10, 0.2, 0, 0}}), none(),
                                 none(), ray(-0.6, 10, 2)});
    EXPECT_EQ(edgeRollingPass(nullptr, &pair, radius, -1, 0, pitch), -1);
    EXPECT_EQ(edgeRollingPass(lists, nullptr, radius, -1, 0, pitch), -1);
    pair.first->count = 1;
    EXPECT_EQ(edgeRollingPass(lists, &pair, radius, -1, 0, pitch), -1);
    plistArrayFree(lists);
    freePlist3D(pair.first);
    freePlist3D(pair.second);
}

TEST(RegionPaths, CutRangeCurveRunsFromFirstToLastCutPoint) {
    // Radii 10 .. 20 with three link points at either end: the cut runs from radius 13 to 17.
    Plist* path = ray(0.3, 11, 3, 3);
    PolyCurve* curve = pathCutRangeCurve(path);
    ASSERT_NE(curve, nullptr);
    const double T = curve->params[curve->count];
    for (int k = 0; k <= 8; ++k) {
        Vec3 p;
        ASSERT_EQ(splineEval(curve, T * k / 8, &p, nullptr), 1);
        const double r = std::hypot(p.x, p.y);
        if (k == 0 || k == 8) {
            EXPECT_NEAR(r, k == 0 ? 13 : 17, 1e-9) << k;
        } else {
            EXPECT_NEAR(r, 13 + 4.0 * k / 8, 0.01) << k;  // chord parameters of a natural spline
        }
        EXPECT_NEAR(polar(p), 0.3, 1e-9) << k;
    }
    pathCutRangeCurveFree(curve);
    plistFree(path);
}

namespace {

// A side path climbing from the hub: radius 20 + i at height i, all cut.
int climbingTrace(CheckModel*, const ContourPair*, const ContourPair*, const HubShroud*, int32_t, Plist* out,
                  const TriGrid*) {
    out->count = 0;
    const Vec3 up{0, 0, 1};
    for (int i = 0; i <= 10; ++i) {
        const Vec3 p{20.0 + i, 0, double(i)};
        plistAppend(out, i, &p, 1, &up, 0);
    }
    return 1;
}

}  // namespace

// Stepped levels: each region's paths end at the next level's hub, the last region's at the shroud.
TEST(RegionPaths, SteppedLevelsEndAtTheNextLevelAndTheLastAtTheShroud) {
    cycleParamsResetState();
    cycleParams()->stepStrategy = 1;
    const auto channel = [](double hubZ, double shroudZ) {
        const Vec3 h0{10, 0, hubZ}, h1{60, 0, hubZ}, s0{10, 0, shroudZ}, s1{60, 0, shroudZ};
        ProfileCurve *hub = profileLine(&h0, &h1), *shroud = profileLine(&s0, &s1);
        HubShroud* made = makeHubShroudPair(hub, shroud);
        profileFreeList(hub);
        profileFreeList(shroud);
        return made;
    };
    HubShroud *lower = channel(0, 10), *upper = channel(4, 10), *pair = channel(0, 7);
    LevelCurves* levels = newLevelCurves(2);
    ASSERT_EQ(addLevelCurve(levels, lower, -1), 1);
    ASSERT_EQ(addLevelCurve(levels, upper, -1), 1);
    const Vec3 pts[2] = {{20, 0, 0}, {40, 0, 0}};
    ContourPair contours{plist3DFromPoints(pts, 2), plist3DFromPoints(pts, 2)};
    CheckModel blade;
    chkModelInit(&blade, kMeshTriangles);
    CheckModel* models[3] = {&blade, nullptr, &blade};
    const TriGrid* grids[3] = {};
    const RegionPathInputs in{levels, pair, models, grids, &contours, 0, climbingTrace};
    // region, extended corner, strategy -> the height the side paths end at (the climb itself ends at
    // 10) and whether they were trimmed at the shroud (7). Levels from the hub trim every region at the
    // shroud but the first with an extended corner.
    const struct {
        int32_t region, extend, strategy;
        double top;
        int trimmed;
    } rows[] = {{0, 0, 1, 4, 0}, {1, 0, 1, 7, 0}, {0, 1, 1, 4, 0},  {1, 1, 1, 10, 0},
                {0, 0, 0, 7, 1}, {1, 0, 0, 7, 1}, {0, 1, 0, 10, 0}, {1, 1, 0, 7, 1}};
    for (const auto& r : rows) {
        cycleParams()->extendCorner = r.extend;
        cycleParams()->stepStrategy = r.strategy;
        PlistArray* lists = plistArrayCreate(4);
        EXPECT_EQ(buildRegionPaths(lists, r.region, &in, 0.5, 0, 0.01), r.trimmed)
            << r.region << " " << r.extend;
        ASSERT_EQ(lists->count, 4);
        for (int side = 0; side < 4; ++side) {
            const Plist* l = lists->lists[side];
            if (side == 1 || side == 2) {  // no splitter
                EXPECT_EQ(l->count, 0);
                continue;
            }
            ASSERT_GT(l->count, 1);
            EXPECT_NEAR(l->points[0].z, 0, 1e-12);
            EXPECT_NEAR(l->points[l->count - 1].z, r.top, 1e-12) << r.region << " " << r.extend;
        }
        plistArrayFree(lists);
    }
    freeLevelCurves(levels);
    for (HubShroud* c : {lower, upper, pair}) freeHubShroud(c);
    freePlist3D(contours.first);
    freePlist3D(contours.second);
    cycleParamsResetState();
}

// The region paths, edge curves, tilt geometry, angle profile, grids and part models refuse what is
// not there.
TEST(RegionPaths, MissingArgumentsAreRefused) {
    int32_t first = 0, last = 0;
    double param = 0;
    EXPECT_EQ(pathsEndClearOfShroud(nullptr, nullptr, 0), 1);
    EXPECT_EQ(extendSidePaths(nullptr, 1, 1), 1);
    EXPECT_EQ(cutPathsAtLevel(nullptr, nullptr, 1), 0);
    EXPECT_EQ(trimPathAtShroud(nullptr, nullptr, 0, 0), 0);
    EXPECT_EQ(buildSecondRegionLists(nullptr, nullptr, nullptr), -1);
    EXPECT_EQ(buildRegionPaths(nullptr, 0, nullptr, 1, 0, 0.01), -1);
    EXPECT_EQ(edgeRollingPass(nullptr, nullptr, 1, 1, 0, 1), -1);
    EXPECT_EQ(edgeCurveWalls(0, 1, 0, 0, nullptr), -1);
    EXPECT_EQ(firstLastCutIndex(nullptr, &first, &last), -1);
    EXPECT_EQ(isReversalAt(nullptr, 1), 0);
    EXPECT_EQ(settleLeadingKind2(nullptr), -1);
    EXPECT_EQ(pathCutRangeCurve(nullptr), nullptr);
    EXPECT_EQ(nextPlungeParam(nullptr, nullptr, &param, 1), -1);
    EXPECT_EQ(splitterEdgeCheck(nullptr, nullptr, nullptr), 1);
    EXPECT_EQ(angleProfInit(nullptr, nullptr), -1);
    EXPECT_EQ(angleProfEval(nullptr, 0, 0.5), 0.0);
    EXPECT_EQ(segmentsUpDown(nullptr, nullptr, nullptr, nullptr, nullptr, nullptr), kUpDownNoAxis);
    EXPECT_EQ(repairPathDistance(nullptr, nullptr), 0);
    const Vec3 c{0, 0, 0};
    EXPECT_EQ(triGridFill(nullptr, &c, nullptr), -1);
    EXPECT_EQ(triGridCell(nullptr, &c), nullptr);
    EXPECT_EQ(revMeshBuild(nullptr, nullptr, 1), nullptr);
    EXPECT_EQ(revMeshMerge(nullptr, nullptr), nullptr);
    EXPECT_EQ(revMeshWrite(nullptr, 0.1, "x.3df"), -1);
    EXPECT_EQ(buildSurfaceSetGrids(nullptr, 1), nullptr);
    EXPECT_EQ(idx5BuildPartModel(nullptr, nullptr), nullptr);
    EXPECT_EQ(idx5LoadBladeSurfaces(nullptr, nullptr, 0), -1);
    Vec3 T{}, B{};
    EXPECT_EQ(radialTiltFrame(nullptr, &c, &T, &B), -1);
    EXPECT_EQ(meshHubCrossing(nullptr, nullptr, &T), -1);
    EXPECT_EQ(splitterHubAngle(nullptr, nullptr, nullptr, 0, nullptr), -1);
}
