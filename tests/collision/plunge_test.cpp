#include "collision/plunge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "collision/proj.h"
#include "geometry/msg_capture.h"
#include "kernel/base/rng.h"
#include "meshutil.h"

namespace {

struct PlungeRun {
    testmesh::Model mesh;
    ProfileCurve* prof;
    Plist* path;
    // alongY: the profile turned a quarter about z, from (-y, 0) along +y.
    PlungeRun(double length, double tolerance, double z0 = 0.0, double zProfile = NAN,
              std::vector<Triangle3D> tris = {}, double y = 0.0, bool alongY = false)
        : mesh(tris.empty() ? std::vector<Triangle3D>{testmesh::slopeTri(z0, 0, 60)} : tris, kBallMill, 1.0) {
        const Vec3 a = alongY ? Vec3{-y, 0, zProfile} : Vec3{0, y, zProfile},
                   b = alongY ? Vec3{-y, length, zProfile} : Vec3{length, y, zProfile};
        prof = profileLine(&a, &b);
        if (std::isnan(zProfile)) {
            std::free(prof->z);
            prof->z = nullptr;
        }
        mesh.m.plungeProfile = prof;
        mesh.m.tolerance = tolerance;
        mesh.m.stepLength = 1.0;
        mesh.m.zLow = -100;
        mesh.m.zHigh = 100;
        path = plistCreate(2, 0);  // grown as the walk needs (9 points fill it exactly)
        projResetState();
    }
    ~PlungeRun() {
        profileFreeList(prof);
        plistFree(path);
        projResetState();
    }
};

}  // namespace

TEST(Plunge, ThinningCosinesFollowTheTolerance) {
    // A falling segment then a flatter one: bends of 4.5 and 9 degrees after a long or a short segment.
    struct Case {
        double tol, bendDeg, firstLen;
        int want;
    } cases[] = {{0.008, 4.5, 2.0, 1}, {0.02, 4.5, 2.0, 0}, {0.008, 9, 0.5, 1},
                 {0.02, 9, 0.5, 0},    {0.02, 6, 2.0, 1},   {0.008, 6, 0.5, 0}};
    for (const Case& c : cases) {
        PlungeRun s(3.0, c.tol);
        ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
        Plist* l = plistCreate(4, 0);
        ASSERT_NE(l, nullptr);
        const double a1 = -20 * M_PI / 180, a2 = a1 + c.bendDeg * M_PI / 180;
        const Vec3 p1{c.firstLen * std::cos(a1), 0, c.firstLen * std::sin(a1)},
            pts[3] = {{0, 0, 0}, p1, {p1.x + 0.1 * std::cos(a2), 0, p1.z + 0.1 * std::sin(a2)}};
        for (int i = 0; i < 3; ++i) plistAppend(l, i, &pts[i], 0, nullptr, 0);
        EXPECT_EQ(projB_seg_accept(l, 0, 1, 2, 1.0, 5.0), c.want) << c.tol << " " << c.bendDeg;
        plistFree(l);
    }
}

TEST(Plunge, MarchSteps) {
    {
        PlungeRun s(0.005, 0.008);  // shorter than the tolerance: a single point
        ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
        ASSERT_EQ(s.path->count, 1);
        EXPECT_EQ(s.path->parameters[0], 0.0);
        EXPECT_NEAR(s.path->points[0].z, 1.0, 1e-12);
    }
    double second[2];
    for (int run = 0; run < 2; ++run) {
        PlungeRun s(5.5, 0.008);
        s.mesh.m.randomStep = 1;
        set_prof_mode(0);
        rngResetState();
        rngNext();  // the walk's draw is the second, 18467: its last three digits scale the rest of the step
        ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
        set_prof_mode(1);
        ASSERT_GE(s.path->count, 5);
        EXPECT_NEAR(s.path->parameters[1], 0.008, 1e-12);
        second[run] = s.path->parameters[2] - s.path->parameters[1];
        EXPECT_NEAR(second[run], 0.008 + 0.992 * 0.467, 1e-12);
        for (int32_t i = 3; i + 2 < s.path->count; ++i)  // the last two steps reach the end
            EXPECT_NEAR(s.path->parameters[i] - s.path->parameters[i - 1], 1.0, 1e-9) << i;
    }
    EXPECT_EQ(second[0], second[1]);  // the run's seeded generator repeats
    // Steps of 1 after the first of the tolerance; the step that would pass the end stops the tolerance
    // + 1e-5 short of it, and one of the tolerance follows; a whole step that ends at the end is taken.
    // Over a plate at z = 5 the drop from above the mesh's top places the ball's centre at 6.
    const struct {
        double length, tol;
        std::vector<double> want;
    } runs[] = {{5.5, 0.008, {0, 0.008, 1.008, 2.008, 3.008, 4.008, 5.008, 5.49199, 5.49999}},
                {3.25, 0.25, {0, 0.25, 1.25, 2.25, 3.25}}};
    for (const auto& r : runs) {
        PlungeRun s(r.length, r.tol, 5.0);
        ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
        ASSERT_EQ(s.path->count, static_cast<int32_t>(r.want.size()));
        for (int32_t i = 0; i < s.path->count; ++i)
            EXPECT_TRUE(std::fabs(s.path->parameters[i] - r.want[i]) < 1e-12 &&
                        std::fabs(s.path->points[i].z - 6) < 1e-12)
                << i;
    }
    PlungeRun bad(5.0, 0.0);
    EXPECT_EQ(plunge_along_profile(&bad.mesh.m, bad.path), -1);
}

// A tolerance of 1e-5 lets the march step whole steps from the start. Over a plate from x = 0.6 with
// the floor 1e-3 below the ball on it, the ball is placed where its edge contact rises above the floor,
// from x = 0.6 - sqrt(1 - 0.999^2) on: the first pair already changes from a free point (a link) to a
// placed one, and the midpoints close in on that x until a pair within the tolerance (+ 1e-5) holds it.
TEST(Plunge, MidpointsCloseInOnTheFirstPairsChange) {
    const Triangle3D a{{{0.6, -10, 0}, {20, -10, 0}, {20, 10, 0}}},
        b{{{0.6, -10, 0}, {20, 10, 0}, {0.6, 10, 0}}};
    PlungeRun s(4.0, 1e-5, 0.0, NAN, {a, b});
    s.mesh.m.zLow = 0.999;
    ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
    const double edge = 0.6 - std::sqrt(1 - 0.999 * 0.999);
    bool closed = false;
    for (int32_t i = 0; i + 1 < s.path->count && s.path->parameters[i + 1] < 3.5; ++i) {
        const double p = s.path->parameters[i], q = s.path->parameters[i + 1];
        ASSERT_LT(p, q);
        closed = closed || (p <= edge && q >= edge && q - p <= 2e-5);
        EXPECT_EQ(s.path->flags[i] >> 8, p < edge ? kPointLink : kPointOrdinary) << p;
    }
    EXPECT_TRUE(closed);
    EXPECT_LT(s.path->count, 40);
}

// An end mill (radius 1) over a floor, a ramp rising 3 in 1 from x = 2.5 and a top at 3: its tip follows
// z = 3 clamp(x - 1.5, 0, 1). A segment rising more than 1.5 in 1 splits the flat pair before it as well,
// so a pair within the tolerance holds each bend of that rise.
TEST(Plunge, EndMillClosesInOnBothBendsOfASteepRise) {
    std::vector<Triangle3D> tris;
    for (const auto& [x0, z0, x1, z1] :
         {std::array{-10.0, 0.0, 2.5, 0.0}, {2.5, 0.0, 3.5, 3.0}, {3.5, 3.0, 20.0, 3.0}})
        tris.insert(tris.end(), {{{{x0, -10, z0}, {x1, -10, z1}, {x1, 10, z1}}},
                                 {{{x0, -10, z0}, {x1, 10, z1}, {x0, 10, z0}}}});
    PlungeRun s(5.0, 0.008, 0.0, NAN, tris);
    *s.mesh.m.tool = ToolGeom{kEndMill, 1, 0, 0, 0, 2, 0, 0, 0};
    ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
    bool held[2] = {false, false};
    for (int32_t i = 0; i < s.path->count; ++i) {
        const double p = s.path->parameters[i], q = i > 0 ? s.path->parameters[i - 1] : -1;
        EXPECT_NEAR(s.path->points[i].z - s.path->points[0].z, 3 * std::clamp(p - 1.5, 0.0, 1.0), 1e-9) << p;
        for (int k = 0; k < 2; ++k)
            held[k] = held[k] || (q <= 1.5 + k && p >= 1.5 + k && p - q <= 0.008 + 1e-5);
    }
    EXPECT_TRUE(held[0] && held[1]);
}

TEST(Plunge, IntervalsAndTheirMidpoints) {
    double pairs[] = {1.002, 1.02, 2.1, 2.4, 3.0, 5.5, 5.7, 5.9};
    PlungeIntervals iv{4, pairs, 0, nullptr};
    PlungeRun s(6.0, 0.008);
    s.mesh.m.plungeIntervals = &iv;
    ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
    auto has = [&](double t) {
        return std::any_of(s.path->parameters, s.path->parameters + s.path->count,
                           [t](double p) { return std::fabs(p - t) < 1e-12; });
    };
    EXPECT_TRUE(has(2.25));
    EXPECT_FALSE(has(4.25));   // 2.5 is longer than twice the step
    EXPECT_TRUE(has(5.8));     // the pass goes on after the first
    EXPECT_FALSE(has(1.011));  // within the tolerance of the march's point at 1.008
    s.mesh.m.intervalTest = 1;
    // Each pair holds from 1e-5 before its start to 1e-5 past its end (that end excluded).
    for (double at :
         {1.0, 2.1 - 2e-5, 2.1 - 5e-6, 2.3, 2.4 + 5e-6, 2.4 + 1e-5, 2.7, 3.0, 5.5 + 5e-6, 5.5 + 2e-5, 5.6}) {
        PlungePoint p{};
        p.profilePoint = {at, 0};
        p.s = at;
        const bool in = (at >= 2.1 - 1e-5 && at < 2.4 + 1e-5) || (at >= 3.0 - 1e-5 && at < 5.5 + 1e-5);
        EXPECT_EQ(plungePlacePoint(&p, &s.mesh.m), in ? 1 : 0) << at;
        EXPECT_EQ(p.placeState, in ? kPlaceCharged : kPlaceRefused);
        EXPECT_EQ(p.isPlaced, in ? 1 : 0);
        EXPECT_EQ(p.touched, in ? 1 : 0);
        EXPECT_EQ(p.placed.z, in ? 1.0 : -100.0);
    }
    // Without an interval record every parameter lies inside.
    s.mesh.m.plungeIntervals = nullptr;
    PlungePoint free{};
    free.profilePoint = {5.6, 0};
    free.s = 5.6;
    EXPECT_EQ(plungePlacePoint(&free, &s.mesh.m), 1);
    EXPECT_EQ(plungePlacePoint(nullptr, &s.mesh.m) + plungePlacePoint(&free, nullptr), 0);
    EXPECT_EQ(free.placed.z, 1.0);
    // A part model with its own plate lifts the point onto it, and its contact is the point's; a part
    // that refuses raises refuses the point it lifts by more than the tolerance (0.008).
    for (const auto& [plateZ, refuse] : {std::pair{3.0, 0}, {3.0, 1}, {0.007, 1}, {0.009, 1}}) {
        testmesh::Model plate({testmesh::slopeTri(plateZ, 0, 60)}, kBallMill, 1.0);
        CheckModelPart part{kMeshTriangles, nullptr, 0,      plate.tris, plate.m.boxMax, plate.m.boxMin, {},
                            *plate.m.tool,  nullptr, refuse, nullptr};
        std::copy(plate.m.bounds, plate.m.bounds + 6, part.bounds);
        s.mesh.m.parts = &part;
        PlungePoint lifted = free;
        EXPECT_TRUE(plungePlacePoint(&lifted, &s.mesh.m) == 1 && lifted.isPlaced == 1 && lifted.touched == 1);
        EXPECT_NEAR(lifted.placed.z, 1 + plateZ, 1e-12);
        EXPECT_TRUE(lifted.contact.x == 5.6 && std::fabs(lifted.contact.z - plateZ) < 1e-12) << plateZ;
        EXPECT_EQ(lifted.placeState, refuse && plateZ > 0.008 ? +kPlaceRefused : free.placeState) << plateZ;
    }
    s.mesh.m.parts = nullptr;
    // A midpoint beyond the profile's end cannot be evaluated: message 327 with its parameter, and no
    // point beyond the end enters the path.
    double beyond[] = {7.0, 7.2};
    PlungeIntervals past{1, beyond, 0, nullptr};
    for (const int32_t level : {9, 8}) {  // a detail message: below level 9 it is not sent
        PlungeRun t(3.0, 0.008);
        t.mesh.m.plungeIntervals = &past;
        MessageCapture capture(level);
        ASSERT_EQ(plunge_along_profile(&t.mesh.m, t.path), 1);
        ASSERT_EQ(capture.messages().size(), level == 9 ? 1u : 0u);
        for (const auto& m : capture.messages()) EXPECT_EQ(m.rfind("327,7.1", 0), 0u) << m;
        EXPECT_LE(t.path->parameters[t.path->count - 1], 3.0);
    }
}

TEST(Plunge, ProfileHeightsFloorThePoint) {
    struct Case {
        double zp, wantZ;
        int result;
        uint8_t state;
    } cases[] = {
        {3.0, 3.0, 0, kPlaceRefused}, {1.0 + 0.5e-5, 1.0, 1, kPlaceCharged}, {0.5, 1.0, 1, kPlaceCharged}};
    for (const Case& c : cases) {
        PlungeRun s(2.0, 0.008, 0.0, c.zp);
        projB_set_params(s.mesh.tris, s.mesh.lo.data(), s.mesh.hi.data(), nullptr, -100, 100, 0);
        PlungePoint p{};
        p.profilePoint = {1, 0};
        p.s = 1;
        p.profileHeight = c.zp;
        EXPECT_EQ(plungePlacePoint(&p, &s.mesh.m), c.result) << c.zp;
        EXPECT_NEAR(p.placed.z, c.wantZ, 1e-12);
        EXPECT_EQ(p.placeState, c.state);
    }
    PlungeRun t(3.0, 0.008, 0.0, 0.5);  // the whole profile lies under the placed points
    EXPECT_EQ(plunge_along_profile(&t.mesh.m, nullptr), 0);
    // Points the profile refuses enter the path as links.
    PlungeRun u(3.0, 0.008, 0.0, 3.0);
    plunge_along_profile(&u.mesh.m, u.path);
    ASSERT_GT(u.path->count, 2);
    for (int32_t i = 0; i < u.path->count; ++i) EXPECT_EQ(u.path->flags[i] >> 8, kPointLink) << i;
}

// Engine B's offset 0.1 over a 70 degree slope: the ball of radius 1 stands at h = 1 / cos 70 over the
// origin, the one shrunk by the offset 0.1 / cos 70 lower, below h less twice the offset. A point above
// the profile height is placed again with the shrunk ball when that lands below the profile (and is
// then floored there, refused); a point within 1e-5 of it, or without an offset, is not.
TEST(Plunge, OffsetReplacementBelowTheProfile) {
    for (const double off : {0.99e-5, 1e-5, -1e-5}) {  // active from a magnitude of 1e-5
        projB_set_offset(off);
        EXPECT_EQ(projB_get_offset(), off < 1e-5 && off > -1e-5 ? 0.0 : off);
    }
    const double c = std::cos(70 * M_PI / 180), h = 1 / c, lower = 0.9 / c;
    const struct {
        double offset, zp, wantZ;
        int result;
    } cases[] = {{0.1, h + 0.5e-5, h, 1},
                 {0.1, h - 0.2, h - 0.2, 0},
                 {0.1, lower - 0.05, h, 1},
                 {0.0, h - 0.2, h, 1},
                 {-0.1, h - 0.2, h, 1}};
    for (const auto& k : cases) {
        PlungeRun s(2.0, 0.008, 0.0, k.zp, {testmesh::slopeTri(0, std::tan(70 * M_PI / 180), 60)});
        projB_set_params(s.mesh.tris, s.mesh.lo.data(), s.mesh.hi.data(), nullptr, -100, 100, 0);
        projB_set_offset(k.offset);
        PlungePoint p{};
        p.s = 0;
        p.profileHeight = k.zp;
        EXPECT_EQ(plungePlacePoint(&p, &s.mesh.m), k.result) << k.offset << " " << k.zp;
        EXPECT_NEAR(p.placed.z, k.wantZ, 1e-9) << k.offset << " " << k.zp;
        EXPECT_EQ(p.placeState, k.result ? kPlaceCharged : kPlaceRefused);
        if (k.zp > h) {  // exactly 1e-5 above the profile is still within it
            const double z = p.placed.z;
            p.profileHeight = z - 1e-5;
            ASSERT_EQ(p.profileHeight + 1e-5, z);
            EXPECT_TRUE(plungePlacePoint(&p, &s.mesh.m) == 1 && p.placed.z == z);
        }
        // The re-placement alone: 1 and the shrunk ball's height if low enough, else 0; memory short: or 0.
        const bool lowered = k.offset > 0 && lower <= k.zp - 1e-5;
        for (long n = 0; n < (lowered ? 6 : 1); ++n) {
            Vec3 q{0, 0, h};
            allocfail::arm(n);
            const int got = plungeOffsetPlace(&q, &s.mesh.m, k.zp, -100, 100, nullptr, 0);
            allocfail::disarm();
            EXPECT_TRUE(got == (lowered ? 1 : 0) || (n > 0 && got == 0)) << n;
            EXPECT_NEAR(q.z, got ? lower : h, 1e-9) << k.zp << " " << n;
        }
    }
}

// Memory that cannot be had while the path grows (from two slots) through the march, the interval
// midpoints, the profile's corners and the refinement: the walk answers -2, or it got by and its path
// is the whole one.
TEST(Plunge, AllocationFailureEndsTheWalkOrLeavesItWhole) {
    double pairs[] = {2.1, 2.4};
    PlungeIntervals iv{1, pairs, 0, nullptr};
    Vec2 corners[] = {{0, 0}, {3, 0}, {3, 2}};
    int told = 0;
    auto run = [&](long n, int32_t room, std::vector<double>* params) {
        PlungeRun s(3.0, 0.008, 0.0, NAN, {testmesh::slopeTri(0, 0.5, 60)});
        profileFreeList(s.prof);
        s.prof = s.mesh.m.plungeProfile = profileCreate(corners, 3, 0);
        if (!s.prof) return -9;
        s.mesh.m.plungeIntervals = &iv;
        plistFree(s.path);
        s.path = plistCreate(room, 0);
        if (!s.path) return -9;
        set_prof_mode(1);
        MessageCapture capture(9);
        allocfail::arm(n);
        const int r = plunge_along_profile(&s.mesh.m, s.path);
        allocfail::disarm();
        params->assign(s.path->parameters, s.path->parameters + s.path->count);
        // The one shortage the walk tells of: its list of nearby elements (it then takes them all).
        for (const auto& m : capture.messages()) EXPECT_EQ(m.rfind("331,", 0), 0u) << m;
        told += !capture.messages().empty();
        return r;
    };
    for (const int32_t room : {2, 8, 9}) {  // the path grows at other steps of the walk
        std::vector<double> whole, got;
        ASSERT_EQ(run(0, room, &whole), 1);
        ASSERT_GT(whole.size(), 8u);
        int failures = 0;
        for (long n = 1; n < 200; ++n) {
            const int r = run(n, room, &got);
            if (!allocfail::fired()) break;
            ++failures;
            EXPECT_TRUE(r == 1 ? got == whole : r == -2) << n << " " << room;
        }
        EXPECT_GT(failures, room == 2 ? 3 : 0);
    }
    EXPECT_GT(told, 0);
}

TEST(Plunge, BoundaryTest) {
    Seg2D square[4] = {{-5, -5, 5, -5}, {5, -5, 5, 5}, {5, 5, -5, 5}, {-5, 5, -5, -5}};
    PlungeIntervals iv{0, nullptr, 4, square};
    const Vec3 a{-10, 0, 0}, b{10, 0, 0}, on{0, 0, 0}, edge{4.5, 0, 0};
    ProfileCurve* prof = profileLine(&a, &b);
    ASSERT_NE(prof, nullptr);
    ToolGeom ball{}, flat{};
    ball.toolType = kBallMill;
    flat.toolType = kEndMill;
    ball.radius = flat.radius = 1;
    EXPECT_EQ(plungeBoundaryTest(nullptr, &ball, &on, &on, 10, prof), 1);
    EXPECT_EQ(plungeBoundaryTest(&iv, &ball, &on, &on, 10, prof), 0);  // not on its axis point
    EXPECT_EQ(plungeBoundaryTest(&iv, &flat, &on, &on, 10, prof), 1);
    for (const bool noTool : {true, false})  // missing arguments: refused
        EXPECT_EQ(plungeBoundaryTest(&iv, noTool ? nullptr : &flat, noTool ? &on : nullptr, &on, 10, prof),
                  0);
    EXPECT_EQ(plunge_along_profile(nullptr, nullptr), -1);
    EXPECT_EQ(plungeBoundaryTest(&iv, &flat, &edge, &edge, 14.5, prof), 0);  // its disc reaches outside
    // A radius mill's flat disc is R - r wide: 1 fits at the centre, not at 4.5; a full corner has none.
    ToolGeom torus{};
    torus.toolType = kRadiusMill, torus.radius = 1.5, torus.cornerRadius = 0.5;
    EXPECT_EQ(plungeBoundaryTest(&iv, &torus, &on, &on, 10, prof), 1);
    EXPECT_EQ(plungeBoundaryTest(&iv, &torus, &edge, &edge, 14.5, prof), 0);
    torus.cornerRadius = 1.5;
    EXPECT_EQ(plungeBoundaryTest(&iv, &torus, &on, &on, 10, prof), 0);
    // A contact within 1e-5 of the placed point on every axis counts as the axis point (the disc must fit,
    // the ball's is refused); farther off on any one axis only the contact itself must lie inside (not 1
    // off).
    const double in = 0.9e-5, out = 1.1e-5;
    const struct {
        double dx, dy, dz;
        int want;
    } offs[] = {{in, 0, 0, 0},    {-in, in, -in, 0}, {0, 0, in, 0},   {0, 0, -in, 0}, {out, 0, 0, 1},
                {-out, 0, 0, 1},  {0, out, 0, 1},    {0, -out, 0, 1}, {0, 0, out, 1}, {0, 0, -out, 1},
                {in, in, out, 1}, {out, in, in, 1},  {1, 0, 0, 0}};
    for (const auto& o : offs) {
        const Vec3 c{edge.x + o.dx, edge.y + o.dy, edge.z + o.dz};
        EXPECT_EQ(plungeBoundaryTest(&iv, &flat, &c, &edge, 14.5, prof), o.want)
            << o.dx << " " << o.dy << " " << o.dz;
        EXPECT_EQ(plungeBoundaryTest(&iv, &ball, &c, &edge, 14.5, prof), o.want)
            << o.dx << " " << o.dy << " " << o.dz;
    }
    profileFreeList(prof);
    // A band 0.7 either side of the diagonal, a profile along it: the disc's points ahead and behind lie
    // in the band, those across the profile (1 from it) outside; a disc of radius 0.5 stays inside.
    Seg2D band[4] = {{-10, -9, -9, -10}, {-9, -10, 10, 9}, {10, 9, 9, 10}, {9, 10, -10, -9}};
    PlungeIntervals diag{0, nullptr, 4, band};
    const Vec3 c{-8, -8, 0}, e{8, 8, 0};
    ProfileCurve* along = profileLine(&c, &e);
    ASSERT_NE(along, nullptr);
    const double mid = 8 * std::sqrt(2.0);
    EXPECT_EQ(plungeBoundaryTest(&diag, &flat, &on, &on, mid, along), 0);
    flat.radius = 0.5;
    EXPECT_EQ(plungeBoundaryTest(&diag, &flat, &on, &on, mid, along), 1);
    profileFreeList(along);
}

// Far out (at 1.5 2^37, spaced 2^-15 either side, the list's reach, a radius 1 + 4e-6 plus 1e-5, rounds
// to 1) an element whose box lies 1 beyond the profile's box on any side is kept for the walk: the end
// mill's rim still meets its edge at the first point.
TEST(Plunge, ElementsARadiusBeyondTheProfileAreKept) {
    const double X = std::ldexp(3.0, 36), Y = X;
    const struct {
        double from, to;  // the profile's x ends
        Vec3 p, q, r;     // the plate at z 5
    } cases[] = {{X, X + 4, {X - 1, Y + 1, 5}, {X + 1, Y + 1, 5}, {X, Y + 3, 5}},
                 {X, X + 4, {X - 1, Y - 1, 5}, {X + 1, Y - 1, 5}, {X, Y - 3, 5}},
                 {X, X + 4, {X - 1, Y - 1, 5}, {X - 1, Y + 1, 5}, {X - 3, Y, 5}},
                 {X + 4, X, {X + 5, Y - 1, 5}, {X + 5, Y + 1, 5}, {X + 7, Y, 5}}};
    for (const auto& c : cases) {
        PlungeRun s(4.0, 0.008, 0.0, NAN, {Triangle3D{{c.p, c.q, c.r}}});
        *s.mesh.m.tool = ToolGeom{kEndMill, 1 + 4e-6, 0, 0, 0, 2 + 8e-6, 0, 0, 0};
        const Vec3 a{c.from, Y, 0}, b{c.to, Y, 0};
        profileFreeList(s.prof);
        s.mesh.m.plungeProfile = s.prof = profileLine(&a, &b);
        ASSERT_NE(s.prof, nullptr);
        EXPECT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
        EXPECT_EQ(s.path->points[0].z, 5.0) << c.p.x - X << " " << c.p.y - Y;
    }
    // A ring tool reaches to its outer radius (half its size, 3), past its radius 1: a plate 2 beside
    // the profile is kept for it, and its flat ring at the reference rests on the plate.
    {
        PlungeRun s(4.0, 0.008, 0.0, NAN, {Triangle3D{{{-10, 2, 5}, {20, 2, 5}, {5, 12, 5}}}});
        *s.mesh.m.tool = ToolGeom{kToolNoBoxLift, 1, 0, 0, 0, 6, 0, 0, 0};
        EXPECT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
        EXPECT_EQ(s.path->points[0].z, 5.0);
    }
    // Parameters 0, 0.9 and 1 on a line 100 long with a corner at 50: the last point, 5e-6 past the end
    // at the last segment's 500 per unit of parameter (the first's 56 would not reach), stands at
    // x = 100.0025, and the ball there meets the plate's edge at 101.002, 0.9995 off: its centre sits
    // sqrt(1 - 0.9995^2) up.
    Vec2 line[3] = {{0, 0}, {50, 0}, {100, 0}};
    PlungeRun s(100.0, 1.5e-5, 0.0, NAN, {Triangle3D{{{101.002, -5, 5}, {110, -5, 5}, {101.002, 5, 5}}}});
    profileFreeList(s.prof);
    s.mesh.m.plungeProfile = s.prof = profileCreate(line, 3, 0);
    ASSERT_NE(s.prof, nullptr);
    s.prof->lengths[1] = 0.9;
    s.prof->lengths[2] = s.prof->end = 1;
    ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
    ASSERT_NEAR(s.path->parameters[s.path->count - 1], 1.000005, 1e-12);
    EXPECT_NEAR(s.path->points[s.path->count - 1].z, 5 + std::sqrt(1 - 0.9995 * 0.9995), 1e-9);
    // One point has no end segment to stand past, none no point at all: the ball rests on the plate there.
    for (const int32_t n : {1, 0}) {
        Vec2 at{2, 3};
        PlungeRun one(1.0, 0.008);
        profileFreeList(one.prof);
        one.mesh.m.plungeProfile = one.prof = profileCreate(n ? &at : nullptr, n, 0);
        ASSERT_NE(one.prof, nullptr);
        EXPECT_EQ(plunge_along_profile(&one.mesh.m, one.path), 1) << n;
        ASSERT_EQ(one.path->count, n);
        for (int32_t i = 0; i < n; ++i)
            EXPECT_TRUE(one.path->points[i].x == 2 && one.path->points[i].y == 3 &&
                        one.path->points[i].z == 1);
    }
}

// The vertex pass places the profile's corners (its ends and turns with a cosine of at most 0.985)
// where the march missed them: each right-angle turn (3.5 and 5.7 along, the first placed does not end
// the pass) gets its point, the straight vertices at 1.3 and 6.5 none; without the pass a turn is found only
// by halving toward it.
TEST(Plunge, VertexPassPlacesCornersOnly) {
    set_prof_mode(0);
    projResetState();
    EXPECT_EQ(get_prof_mode(), 1);  // the vertex pass is on from the start
    // Off the origin: the corner test takes differences of the points, not the points; the turns at either
    // end of a step of 5e-6 (under 1e-5) are no corners.
    const double up = 5e-6, corners[2] = {3.5 + up, 5.7};
    Vec2 pts[7] = {{1, 1}, {2.3, 1}, {2.3, 1 + up}, {4.5, 1 + up}, {4.5, 3.2}, {5.3, 3.2}, {6.5, 3.2}};
    for (Vec2& p : pts) p = {0.8 * p.x - 0.6 * p.y, 0.6 * p.x + 0.8 * p.y};  // turned: no leg along an axis
    for (const int mode : {1, 0}) {
        PlungeRun s(1.0, 0.008);
        profileFreeList(s.prof);
        s.prof = profileCreate(pts, 7, 0);
        ASSERT_NE(s.prof, nullptr);
        s.mesh.m.plungeProfile = s.prof;
        set_prof_mode(mode);
        ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
        set_prof_mode(1);
        double nearCorner[2] = {1e9, 1e9}, nearStraight = 1e9;
        for (int32_t i = 0; i < s.path->count; ++i) {
            for (int k = 0; k < 2; ++k)
                nearCorner[k] = std::min(nearCorner[k], std::fabs(s.path->parameters[i] - corners[k]));
            for (const double straight : {1.3, 6.5})
                nearStraight = std::min(nearStraight, std::fabs(s.path->parameters[i] - straight));
            EXPECT_NEAR(s.path->points[i].z, 1.0, 1e-12);  // the ball rests on the plate
        }
        for (const double d : nearCorner) EXPECT_EQ(d < 1e-12, mode == 1) << d;
        EXPECT_GT(nearStraight, 0.1);
    }
}

// A ball riding a path along y over a plane rising 30 degrees across it (along x, the profile's
// normal): every contact lies at the same place on the ball, so the smallest contact slope is that
// one, and the run leaves 0.9 times it as the slope limit; in mode 2 a slope below the limit stops it.
// Positions past the plane's edge (x > 3 at y = 1000) touch nothing and add no slope.
TEST(Plunge, SlopeLimitIsNineTenthsOfTheSmallestSlope) {
    const double k = std::tan(M_PI / 6);  // the plane rises across the path, along y
    // Turned a quarter about z (the path along y) the run must find the same slope.
    for (const bool turned : {false, true}) {
        auto at = [turned](double x, double y, double z) { return turned ? Vec3{-y, x, z} : Vec3{x, y, z}; };
        PlungeRun s(4.0, 0.008, 0.0, NAN,
                    {Triangle3D{{at(-60, 940, -60 * k), at(2, 940, -60 * k), at(2, 1060, 60 * k)}}}, 1000,
                    turned);
        s.mesh.m.slopeMode = 1;
        ASSERT_EQ(plunge_along_profile(&s.mesh.m, s.path), 1);
        const int32_t count = s.path->count;
        ASSERT_GT(count, 3);
        // The tip (a radius below the centre) to the contact (a radius from the centre along the normal).
        const double dn = std::sin(M_PI / 6), dz = 1 - std::cos(M_PI / 6);
        const double slope = dz / std::hypot(dn, dz);  // sin 15 degrees
        EXPECT_NEAR(s.mesh.m.slopeLimit, 0.9 * slope, 1e-9) << turned;
        // Mode 2 stops once the smallest slope falls below the limit less 1e-5.
        s.mesh.m.slopeMode = 2;
        for (const double limit : {slope + 2e-5, slope + 0.5e-5}) {
            s.mesh.m.slopeLimit = limit;
            EXPECT_EQ(plunge_along_profile(&s.mesh.m, s.path), limit > slope + 1e-5 ? 0 : 1) << limit;
        }
        EXPECT_EQ(s.path->count, count);  // each run starts its path afresh
    }
}
