#include "kernel/base/runreset.h"
#include "plunge/chantrace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "../collision/meshutil.h"
#include "../geometry/msg_capture.h"
#include "kernel/base/abort.h"
#include "channeltest.h"
#include "collision/ringcontact.h"
#include "geometry/plist.h"
#include "kernel/base/rng.h"
#include "memshort.h"
#include "plunge/contourpair.h"
#include "plunge/cycparams.h"
#include "plunge/edgecurve.h"
#include "plunge/hubcross.h"
#include "plunge/partload.h"
#include "plunge/plist3d.h"
#include "plunge/profile2d.h"
#include "plunge/surfset.h"
#include "plunge/trigrid.h"
#include "surfaces/geofiletest.h"

namespace {

constexpr double kPlate = 15.0 * M_PI / 180.0;  // blade B at +15 degrees, blade A at -15
constexpr double kBall = 3.0;
constexpr double kFront = 3.5;  // face A runs this far in front of blade A

Vec3 onPlate(double phi, double r, double z, double front) {
    return {r * std::cos(phi) - front * std::sin(phi), r * std::sin(phi) + front * std::cos(phi), z};
}

// Both blades as triangles of a 2 mm grid over r in [20, 20 + length], z in [-5, 45].
std::vector<Triangle3D> plates(double length) {
    std::vector<Triangle3D> t;
    for (double phi : {-kPlate, kPlate})
        for (double r = 20; r < 20 + length - 1e-9; r += 2)
            for (double z = -5; z < 45 - 1e-9; z += 2) {
                Vec3 a = onPlate(phi, r, z, 0), b = onPlate(phi, r + 2, z, 0),
                     c = onPlate(phi, r + 2, z + 2, 0), d = onPlate(phi, r, z + 2, 0);
                t.push_back({{a, b, c}});
                t.push_back({{a, c, d}});
            }
    return t;
}

// A face: its hub-side and tip-side lines from radius 22 over length L.
ContourPair face(double phi, double L, double front) {
    ContourPair p{newPlist3D(2), newPlist3D(2)};
    for (double r : {22.0, 22.0 + L}) {
        Vec3 lo = onPlate(phi, r, -5, front), hi = onPlate(phi, r, 45, front);
        appendPlist3D(p.first, &lo);
        appendPlist3D(p.second, &hi);
    }
    return p;
}

struct Trace {
    ContourPair a, b;
    HubShroud* level;
    testmesh::Model model;
    Plist* out = plistCreate(4000, 1);
    Trace(double L, double levelZ, double bladeLength)
        : a(face(-kPlate, L, kFront)),
          b(face(kPlate, L, 0)),
          level(flatChannel(40.0 - levelZ, 5.0)),
          model(plates(bladeLength), kBallMill, kBall) {
        ringContactResetState();
        for (Profile2D* p : {level->hub, level->shroud})
            for (int32_t i = 0; i < p->count; ++i) p->points[i].y += levelZ;
        model.m.stepLength = 1.0;
        model.m.tolerance = 0.008;
    }
    ~Trace() {
        for (Plist3D* l : {a.first, a.second, b.first, b.second}) freePlist3D(l);
        freeHubShroud(level);
        plistFree(out);
    }
    int run() { return traceChannelCurve(&model.m, &a, &b, level, 1, out, nullptr); }
};

}  // namespace

TEST(ChannelTrace, ContactsStandTheBallRadiusInFrontOfTheFarBladeAndNoReachGivesMovedEndPoints) {
    struct Case {
        double L, levelZ, rise;  // the level climbs by rise per mm beyond r = 25
        int32_t count;
        double rest = 0;  // both faces stand still this far past L
    } cases[] = {{30.0, 10.0, 0.0, 31},    {2.5, 10.0, 0.0, 4},
                 {2.5, 60.0, 0.0, 4},        // stations 0, 1, 2 and 2.5
                 {3.000005, 10.0, 0.0, 4},   // an end within 1e-5 of a station adds none
                 {6.0, 60.0, 0.3, 7},        // no-contact points are never refined, not at a bend either
                 {2.5, 10.0, 0.0, 4, 2.0}};  // stations 4 and 4.5 repeat station 3's point: dropped
    for (const Case& c : cases) {
        Trace t(c.L, c.levelZ, 50.0);
        for (Plist3D* l : {t.a.first, t.a.second, t.b.first, t.b.second})
            if (const Vec3 end = l->points[l->count - 1]; c.rest > 0) insertPlist3D(l, c.L + c.rest, &end);
        if (c.rise > 0) {
            freeProfile2D(t.level->hub);
            // Its low end falls steeply: lengthened, the profile stays off the axis.
            t.level->hub = profileOf(
                {{20, c.levelZ - 30}, {20.5, c.levelZ}, {25, c.levelZ}, {60, c.levelZ + 35 * c.rise}});
        }
        ASSERT_EQ(t.run(), 1);
        ASSERT_EQ(contactStateCreate(), 1);  // the contact state the trace made is freed again
        contactFree();
        ASSERT_EQ(t.out->count, c.count);
        for (int32_t i = 0; i < t.out->count; ++i) {
            const Vec3 p = t.out->points[i];
            const double s = std::fmin(i, c.L), R = std::hypot(p.x, p.y), phi = std::atan2(p.y, p.x);
            EXPECT_NEAR(t.out->parameters[i], std::fmin(i, c.L + c.rest), 1e-12);
            EXPECT_NEAR(p.z, c.levelZ + c.rise * std::fmax(0.0, 22 + s - 25), 1e-9);
            if (c.levelZ < 45) {
                // On the circle through face A's point, where blade B's plane lies the ball radius away.
                EXPECT_EQ(t.out->flags[i], kChanContact);
                EXPECT_NEAR(phi, kPlate - std::asin(kBall / R), 1e-6) << i;
            } else {  // blade B's face point turned back onto face A's radius
                EXPECT_EQ(t.out->flags[i] >> 8, 2);
                Vec3 a = onPlate(-kPlate, 22 + s, c.levelZ, kFront);
                EXPECT_NEAR(R, std::hypot(a.x, a.y), 1e-9);
                EXPECT_NEAR(phi, kPlate, 1e-9);
            }
        }
    }
}

// A missing model, face, level, hub or result, or a first face without points: -1, the result untouched.
TEST(ChannelTrace, MissingArgumentsAreRefused) {
    Trace t(2.5, 10.0, 50.0);
    const Vec3 kept{1, 2, 3};
    plistAppend(t.out, 7.0, &kept, 0, nullptr, 0);
    Plist3D* none = newPlist3D(1);
    ASSERT_NE(none, nullptr);
    ContourPair empty{none, t.a.second}, noList{nullptr, t.a.second};
    HubShroud noHub{nullptr, t.level->shroud, nullptr};
    const int rc[] = {traceChannelCurve(nullptr, &t.a, &t.b, t.level, 1, t.out, nullptr),
                      traceChannelCurve(&t.model.m, nullptr, &t.b, t.level, 1, t.out, nullptr),
                      traceChannelCurve(&t.model.m, &t.a, nullptr, t.level, 1, t.out, nullptr),
                      traceChannelCurve(&t.model.m, &empty, &t.b, t.level, 1, t.out, nullptr),
                      traceChannelCurve(&t.model.m, &noList, &t.b, t.level, 1, t.out, nullptr),
                      traceChannelCurve(&t.model.m, &t.a, &t.b, nullptr, 1, t.out, nullptr),
                      traceChannelCurve(&t.model.m, &t.a, &t.b, &noHub, 1, t.out, nullptr),
                      traceChannelCurve(&t.model.m, &t.a, &t.b, t.level, 1, nullptr, nullptr)};
    for (size_t k = 0; k < std::size(rc); ++k) EXPECT_EQ(rc[k], -1) << k;
    // Short of memory for the level's copy or its prepared crossing: -1 too.
    const bool state = contactStateCreate() == 1;
    allocfail::arm(0);
    Profile2D* copy = copyProfile2D(t.level->hub);
    profileLineCrossFree(profileLineCrossCreate(copy));
    freeProfile2D(copy);
    for (long n = 1, shared = allocfail::count(); n <= shared; ++n) {
        allocfail::arm(n);
        EXPECT_EQ(t.run(), -1) << n;
        allocfail::disarm();
    }
    if (state) contactFree();
    ASSERT_EQ(t.out->count, 1);
    EXPECT_EQ(t.out->parameters[0], 7.0);
    freePlist3D(none);
}

TEST(ChannelTrace, KindChangeIsRefinedToTheToleranceAndCancelStopsWith821) {
    // The blades end at r = 36 while the faces run on to 52: the change to no contact is refined.
    // Halvings of the step 1 stop at the first under the tolerance + 1e-5: 1/128 for both; under 1e-5 at
    // the first of 2e-5 or less, whose midpoint still stands apart from its ends.
    Trace t(30.0, 10.0, 16.0);
    for (const auto& [tol, gap] :
         {std::pair{0.008, 1.0 / 128}, {1.0 / 128, 1.0 / 128}, {1e-6, 1.0 / 65536}}) {
        t.model.m.tolerance = tol;
        ASSERT_EQ(t.run(), 1);
        int32_t changes = 0;
        // The tracer marks no point: the region builder sets the marks of the cut points later.
        for (int32_t i = 0; i < t.out->count; ++i) EXPECT_EQ(t.out->bytes[i], 0) << i;
        for (int32_t i = 1; i < t.out->count; ++i) {
            EXPECT_GT(t.out->parameters[i], t.out->parameters[i - 1]);
            if ((t.out->flags[i] >> 8) == (t.out->flags[i - 1] >> 8)) continue;
            ++changes;
            EXPECT_EQ(t.out->parameters[i] - t.out->parameters[i - 1], gap) << tol;
        }
        EXPECT_EQ(changes, 1);
    }
    MessageCapture capture(9);
    setAbortHook([] { return 1; });
    EXPECT_EQ(t.run(), -2);
    setAbortHook(nullptr);
    EXPECT_EQ(capture.countOf("821,0"), 1);
}

namespace {

int exampleTrace(CheckModel* model, const ContourPair* a, const ContourPair* b, const HubShroud* level,
                 int32_t direction, Plist* out, const TriGrid* grid) {
    return traceChannelCurve(model, a, b, level, direction, out, grid);
}

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// The distance of p from the triangle: the closest point by its Voronoi region (vertex, edge, face).
double triangleDistance(const Vec3& p, const Triangle3D& t) {
    const Vec3 &a = t.p[0], &b = t.p[1], &c = t.p[2];
    const Vec3 ab = sub(b, a), ac = sub(c, a), ap = sub(p, a), bp = sub(p, b), cp = sub(p, c);
    const double d1 = vecDot3D(&ab, &ap), d2 = vecDot3D(&ac, &ap), d3 = vecDot3D(&ab, &bp),
                 d4 = vecDot3D(&ac, &bp), d5 = vecDot3D(&ab, &cp), d6 = vecDot3D(&ac, &cp);
    auto at = [&](const Vec3& q, const Vec3& d, double f) {
        const Vec3 x{q.x + f * d.x, q.y + f * d.y, q.z + f * d.z};
        return dist3D(&p, &x);
    };
    if (d1 <= 0 && d2 <= 0) return dist3D(&p, &a);
    if (d3 >= 0 && d4 <= d3) return dist3D(&p, &b);
    if (d6 >= 0 && d5 <= d6) return dist3D(&p, &c);
    const double vc = d1 * d4 - d3 * d2, vb = d5 * d2 - d1 * d6, va = d3 * d6 - d5 * d4;
    if (vc <= 0 && d1 >= 0 && d3 <= 0) return at(a, ab, d1 / (d1 - d3));
    if (vb <= 0 && d2 >= 0 && d6 <= 0) return at(a, ac, d2 / (d2 - d6));
    if (va <= 0 && d4 - d3 >= 0 && d5 - d6 >= 0) return at(b, sub(c, b), (d4 - d3) / ((d4 - d3) + (d5 - d6)));
    const double v = vb / (va + vb + vc), w = vc / (va + vb + vc);
    const Vec3 x{a.x + v * ab.x + w * ac.x, a.y + v * ab.y + w * ac.y, a.z + v * ab.z + w * ac.z};
    return dist3D(&p, &x);
}

double nearestOnMesh(const TriList* t, const Vec3& p) {
    double best = INFINITY;
    for (int32_t i = 0; i < t->count; ++i) best = std::fmin(best, triangleDistance(p, t->data[i]));
    return best;
}

}  // namespace

// The four side curves of the example impeller's channel, traced through the run's own walls, surface
// set and grids (a coarse conversion keeps it short): every contact point lies on the traced blade's
// mesh and every ball centre the ball radius off it, by brute force over the mesh's triangles; the
// first and last contact of each curve are always among the points checked.
TEST(ChannelTrace, ExampleImpellerCurvesStartAndEndOnTheBladeFaces) {
    const double pitch = 2 * M_PI / 8, radius = 2.5, tol = 0.01;
    TempDir tmp;
    exampleParams(tmp.path, true);
    HubShroud* level = exampleChannel();
    ASSERT_NE(level, nullptr);
    ASSERT_EQ(offsetProfile2D(level, radius), 1);  // the path of the ball centre
    ContourPair* pair = loadBladeContours(level->hub, 0.5);
    ASSERT_NE(pair, nullptr);
    ASSERT_GE(prepareBladeContours(pair, 12 * radius), 0);
    ASSERT_GE(normContourPairParams(pair), 0);
    testmesh::Model ctx({}, kBallMill, radius);
    ctx.m.tolerance = tol;
    SurfaceSet* set = idx5CreateSurfaceSet(&ctx.m, pitch);
    ASSERT_NE(set, nullptr);
    SurfaceGrids* grids = buildSurfaceSetGrids(set, radius);
    ASSERT_NE(grids, nullptr);
    double splitterAngle = pitch / 2;
    ASSERT_EQ(splitterHubAngle(set->slot[1], level, pair, 0.0, &splitterAngle), 1);
    CheckModel* models[3] = {set->slot[0], set->slot[1], set->slot[2]};
    const TriGrid* slotGrids[3] = {grids->grid[0], grids->grid[2], grids->grid[1]};
    Plist* out = plistCreate(kPlistMaxPoints, 1);
    for (int32_t side = 0; side < 4; ++side) {
        ASSERT_EQ(
            idx5BuildEdgeCurve(out, level, side, pitch, splitterAngle, models, slotGrids, pair, exampleTrace),
            1);
        int32_t first = -1, last = -1;
        ASSERT_EQ(firstLastCutIndex(out, &first, &last), 1) << side;
        const TriList* mesh = models[side == 0 ? 0 : side == 3 ? 2 : 1]->triangles;
        int checked = 0;
        for (int32_t i = first; i <= last; ++i) {
            if ((out->flags[i] >> 8) != 0 || !(i == first || i == last || i % 7 == 0)) continue;
            ++checked;
            EXPECT_LE(nearestOnMesh(mesh, out->vectors[i]), tol) << side << " " << i;
            EXPECT_NEAR(nearestOnMesh(mesh, out->points[i]), radius, tol) << side << " " << i;
        }
        EXPECT_GT(checked, 10) << side;
    }
    plistFree(out);
    freeSurfaceSetGrids(grids);
    freeSurfaceSet(set);
    freeContourPair(pair);
    freeHubShroud(level);
    cycleParamsResetState();
}

// The tracing passes over listed triangles that its arc test keeps off the sweep: with seeded scattered
// triangles all around the axis (some across the sweep's start, some behind either blade, some below
// the ball just past its contact), both directions and levels, the curve is bit for bit the one traced
// over the grid's whole cell lists.
TEST(ChannelTrace, ArcPassOverGivesTheCurveOfTheWholeCellLists) {
    std::mt19937 rng(3434);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int scene = 0; scene < 6; ++scene) {
        std::vector<Triangle3D> tris = plates(40.0);
        const double levelZ = 5 + 30 * u(rng);
        // 300 anywhere; 400 small ones below the ball's height just past where it meets blade B (listed
        // after the blade, some are met first, within the narrower reach of the ball's lower part).
        for (int k = 0; k < 700; ++k) {
            const bool low = k >= 300;
            const double r = low ? 22 + 25 * u(rng) : 15 + 65 * u(rng), s = low ? 0.03 : 0.2 + 4 * u(rng);
            const double phi = low ? kPlate - std::asin(kBall / r) - 0.02 + 0.1 * u(rng) : 2 * M_PI * u(rng);
            const double z = low ? levelZ - kBall * (0.2 + 0.75 * u(rng)) : -5 + 50 * u(rng);
            Triangle3D t;
            for (Vec3& p : t.p) p = onPlate(phi + s * (u(rng) - 0.5) / r, r + s * u(rng), z - s * u(rng), 0);
            tris.push_back(t);
        }
        if (scene == 4)  // blade B as one triangle, the first of every list
            tris = {
                {{onPlate(kPlate, 20, -50, 0), onPlate(kPlate, 200, -50, 0), onPlate(kPlate, 20, 150, 0)}}};
        Trace t(25.0, levelZ, 40.0);
        testmesh::Model model(tris, kBallMill, kBall);
        model.m.stepLength = 1.0;
        model.m.tolerance = 0.008;
        TriGrid* grid = triGridCreate(20, 20, 8);
        const Vec3 axis{0, 0, 0};
        ASSERT_EQ(triGridFill(grid, &axis, model.m.triangles, kBall), 1);
        ASSERT_NE(grid->ranges, nullptr);
        for (int32_t direction : {1, -1}) {
            Plist* whole = plistCreate(4000, 1);
            ringContactResetState();
            // Every third scene sweeps from face A round to itself: a whole turn, no arc to pass over.
            const ContourPair& far = scene % 3 == 2 ? t.a : t.b;
            ASSERT_EQ(traceChannelCurve(&model.m, &t.a, &far, t.level, direction, t.out, grid), 1);
            TriGridRange* ranges = std::exchange(grid->ranges, nullptr);  // no ranges: the whole lists
            ringContactResetState();
            ASSERT_EQ(traceChannelCurve(&model.m, &t.a, &far, t.level, direction, whole, grid), 1);
            grid->ranges = ranges;
            ASSERT_EQ(t.out->count, whole->count) << scene;
            const size_t n = static_cast<size_t>(whole->count);
            EXPECT_EQ(std::memcmp(t.out->points, whole->points, n * sizeof(Vec3)), 0) << scene;
            EXPECT_EQ(std::memcmp(t.out->vectors, whole->vectors, n * sizeof(Vec3)), 0) << scene;
            EXPECT_EQ(std::memcmp(t.out->flags, whole->flags, n * sizeof(uint16_t)), 0) << scene;
            EXPECT_EQ(std::memcmp(t.out->parameters, whole->parameters, n * sizeof(double)), 0) << scene;
            if (scene == 0 && direction == 1) {
                // A grid about a point off the sweep's axis (its cells still hold every triangle in reach
                // of their own ring): radii and angles about that point say nothing of the sweep's circle,
                // so passing over by them must give the curve of the whole cell lists too. Short faces.
                Trace near(3.0, levelZ, 1.0);
                TriGrid* off = triGridCreate(20, 20, 8);
                const Vec3 offAxis{0, 20, 0};
                ASSERT_EQ(triGridFill(off, &offAxis, model.m.triangles, kBall), 1);
                ringContactResetState();
                ASSERT_EQ(traceChannelCurve(&model.m, &near.a, &near.b, near.level, 1, whole, off), 1);
                TriGridRange* offRanges = std::exchange(off->ranges, nullptr);
                ringContactResetState();
                ASSERT_EQ(traceChannelCurve(&model.m, &near.a, &near.b, near.level, 1, near.out, off), 1);
                off->ranges = offRanges;
                ASSERT_EQ(near.out->count, whole->count);
                const size_t m = static_cast<size_t>(whole->count);
                EXPECT_EQ(std::memcmp(near.out->points, whole->points, m * sizeof(Vec3)), 0);
                EXPECT_EQ(std::memcmp(near.out->flags, whole->flags, m * sizeof(uint16_t)), 0);
                EXPECT_EQ(whole->flags[0], kChanContact);
                triGridFree(off);
            }
            plistFree(whole);
        }
        triGridFree(grid);
    }
}

// Blade B's plane alone, swept toward from a quarter turn back: the first contact stands where the plane
// lies the ball radius from the centre. A centre short of it is clear, one past it is clear while its
// chord from that contact stays within the allowance, and a clear centre's ball never enters the plane
// by more (closed form). Both directions, over the whole list and through the bucket grid.
TEST(ChannelTrace, BallClearOfItsWallWithinTheAllowance) {
    const std::vector<Triangle3D> both = plates(40.0);
    std::vector<Triangle3D> walls(both.begin() + both.size() / 2, both.end());
    for (size_t i = 0, n = walls.size(); i < n; ++i) {  // the wall again half a turn away: never swept
        walls.push_back(walls[i]);
        for (Vec3& p : walls.back().p) p = {-p.x, -p.y, p.z};
    }
    testmesh::Model model(walls, kBallMill, kBall);
    model.m.stepLength = 1.0;
    model.m.tolerance = 0.008;
    TriGrid* grid = triGridCreate(20, 20, 8);
    const Vec3 axis{0, 0, 0};
    ASSERT_EQ(triGridFill(grid, &axis, model.m.triangles, kBall), 1);
    runResetAll();
    int refused = 0, passedContact = 0;
    for (int k = 0; k < 200; ++k) {
        const int32_t dir = k % 2 ? 1 : -1;
        const double R = 26 + 28 * rngUniform(), z = 40 * rngUniform(), allowed = 0.02 + 0.38 * rngUniform();
        const double contact = kPlate - dir * std::asin(kBall / R);
        const double past = 0.04 * (rngUniform() - 0.3), theta = contact + dir * past;
        const Vec3 c{R * std::cos(theta), R * std::sin(theta), z};
        const double chord = 2 * R * std::sin(0.5 * past),
                     depth = kBall - R * std::sin(dir * (kPlate - theta));
        if (std::fabs(chord - allowed) < 1e-6) continue;
        const int expected = past <= 0 || chord <= allowed ? 1 : 0;
        for (const TriGrid* g : {static_cast<const TriGrid*>(nullptr), static_cast<const TriGrid*>(grid)}) {
            const int rc = channelBallClear(&model.m, g, dir, &c, allowed);
            EXPECT_EQ(rc, expected) << k << " past " << past << " chord " << chord << " allowed " << allowed;
            if (rc == 1) {
                EXPECT_LE(depth, allowed + 1e-9) << k;
            }
        }
        refused += 1 - expected;
        passedContact += past > 0 && expected;
    }
    EXPECT_GT(refused, 20);
    EXPECT_GT(passedContact, 10);
    EXPECT_EQ(channelBallClear(nullptr, grid, 1, &axis, 0.2), -1);
    EXPECT_EQ(channelBallClear(&model.m, grid, 0, &axis, 0.2), -1);
    for (const int32_t dir : {1, -1}) EXPECT_EQ(channelBallClear(&model.m, nullptr, dir, &axis, 0.2), -1);
    triGridFree(grid);
}
