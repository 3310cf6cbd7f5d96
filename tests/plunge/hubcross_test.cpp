// Hub crossing of meshes and the blade sampling helpers against a flat hub and a radial blade.
#include "plunge/hubcross.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "channeltest.h"
#include "kernel/base/rng.h"
#include "memshort.h"

namespace {

Vec3 polar(double r, double phi, double z) {
    return {r * std::cos(phi), r * std::sin(phi), z};
}

// The triangles as a triangle model and as facets (the third corner twice).
struct Meshes {
    CheckModel tri, fac;
    std::vector<Facet98> facets;
    explicit Meshes(const std::vector<Triangle3D>& t) {
        chkModelInit(&tri, kMeshTriangles);
        chkModelInit(&fac, kMeshFacets);
        tri.triangles = triListCreate(4);
        for (const Triangle3D& x : t) {
            triListAdd(tri.triangles, &x);
            facets.push_back({0, {x.p[0], x.p[1], x.p[2], x.p[2]}});
        }
        fac.facets = facets.data();
        fac.facetCount = static_cast<int32_t>(facets.size());
    }
    ~Meshes() { triListFree(tri.triangles); }
};

}  // namespace

TEST(HubCrossing, LowestCrossingOfSeededMeshesAgainstBruteForce) {
    HubShroud* level = flatChannel(20, 5);
    rngResetState();
    for (int round = 0; round < 40; ++round) {
        std::vector<Triangle3D> t(15);
        double best = 0;  // 0: no edge crosses z = 0
        const bool ties = round < 20 && round % 2 == 1;
        // From round 20 on: wider fans turned anywhere about the axis (edges pass the axis at any angle).
        const double phi0 = round < 20 ? 0.0 : 6.283 * rngUniform(), span = round < 20 ? 0.3 : 1.0;
        for (Triangle3D& x : t) {
            for (Vec3& v : x.p)
                v = polar((ties || round >= 20 ? 10 : 8) + 40 * rngUniform(), phi0 + span * rngUniform(),
                          -3 + 6 * rngUniform());
            for (int k = 0; k < 3; ++k) {
                const Vec3 &a = x.p[k], &b = x.p[(k + 1) % 3];
                const double f = a.z / (a.z - b.z),
                             r = std::hypot(a.x + f * (b.x - a.x), a.y + f * (b.y - a.y));
                if ((a.z < 0) != (b.z < 0) && (best == 0 || r < best)) best = r;
            }
        }
        // Every other round: two corners on the hub exactly 9 from the axis, the nearest crossings;
        // the first element's wins though the last one's edge passes nearer to the axis.
        if (ties) {
            t[0].p[0] = {0, 9, 0};
            t[14].p[0] = {9, 0, 0}, t[14].p[1] = {8.9, 0.5, 2};
        }
        Meshes m(t);
        Vec3 found[2] = {};
        for (int k = 0; k < 2; ++k) {
            Vec3& x = found[k];
            ASSERT_EQ(meshHubCrossing(k == 0 ? &m.tri : &m.fac, level, &x), best > 0 || ties ? 1 : -1);
            if (ties) {
                EXPECT_TRUE(x.x == 0 && x.y == 9 && x.z == 0) << round;
            } else {
                EXPECT_NEAR(best > 0 ? std::hypot(x.x, x.y) : 0, best, 1e-3);
            }
        }
        EXPECT_EQ(std::memcmp(&found[0], &found[1], sizeof(Vec3)), 0) << round;
    }
    // An element lying in the hub touches it at every corner: its corner nearest to the axis is the
    // crossing, nearer than the far element's edge through the hub.
    Meshes flat({{{polar(15, 0.2, 0), polar(12, 0.1, 0), polar(20, 0.3, 0)}},
                 {{polar(30, 0, -1), polar(31, 0, 1), polar(32, 0.1, 1)}}});
    const Vec3 corner = polar(12, 0.1, 0);
    for (CheckModel* model : {&flat.tri, &flat.fac}) {
        Vec3 x;
        ASSERT_EQ(meshHubCrossing(model, level, &x), 1);
        EXPECT_NEAR(dist3D(&x, &corner), 0, 1e-5);  // facets hold single precision
    }
    // A facet of four corners is bounded by its four sides: the square from r 20 to 30 standing across the
    // hub crosses it nearest to the axis on its last side, at r 20 (its diagonals would at 25).
    Facet98 square{0, {{20, 0, 1}, {30, 0, 1}, {30, 0, -1}, {20, 0, -1}}};
    CheckModel quad;
    chkModelInit(&quad, kMeshFacets);
    quad.facets = &square, quad.facetCount = 1;
    Vec3 x;
    ASSERT_EQ(meshHubCrossing(&quad, level, &x), 1);
    EXPECT_NEAR(std::fabs(x.x - 20) + std::fabs(x.y) + std::fabs(x.z), 0, 1e-9);
    freeHubShroud(level);
}

// A hub of steep and shallow segments by turns: the lowest crossing is the nearest to the axis of the
// edges' crossings as the profile's own bisection finds them, the same point.
TEST(HubCrossing, ZigzagHubCrossingIsTheProfilesOwnBisection) {
    Rng rng{64u};
    auto unit = [&] { return double(rngStep(&rng)) / kRngMax; };
    for (int round = 0; round < 12; ++round) {
        // Rising 0.5 across 0.4 up, then falling steeply: sharp turns at every vertex.
        std::vector<Vec2> pts{{10, 30}};
        for (int i = 1; i < 90; ++i) {
            const Vec2& p = pts.back();
            pts.push_back(i % 2 ? Vec2{p.x + 0.4 + 0.2 * unit(), p.y + 0.3 + 0.2 * unit()}
                                : Vec2{p.x + 0.1 * unit(), p.y - 0.9 - 0.2 * unit()});
        }
        HubShroud level{profileOf(pts), nullptr, nullptr};
        ASSERT_NE(level.hub, nullptr);
        std::vector<Triangle3D> t(20);
        double bestR = INFINITY;
        Vec3 best{};
        for (Triangle3D& x : t) {
            const double r0 = 11 + 20 * unit();
            for (Vec3& v : x.p) {
                const double r = r0 + 4 * unit();
                const double z = 30 - 1.2 * (r - 10) + 2 * (unit() - 0.5);
                // Every third round in one meridian plane at a few heights: corners share y and z.
                v = round % 3 ? polar(r, 0.2 * unit(), z) : polar(r, 0, std::round(z));
            }
            for (int k = 0; k < 3; ++k) {
                Vec3 c;
                if (crossSegmentProfileExact(level.hub, &x.p[k], &x.p[(k + 1) % 3], &c) != 1) continue;
                if (std::hypot(c.x, c.y) < bestR) bestR = std::hypot(c.x, c.y), best = c;
            }
        }
        Meshes m(t);
        Vec3 x;
        ASSERT_EQ(meshHubCrossing(&m.tri, &level, &x), std::isfinite(bestR) ? 1 : -1) << round;
        if (std::isfinite(bestR)) {
            EXPECT_LE(dist3D(&x, &best), 1e-9) << round;
        }
        freeProfile2D(level.hub);
    }
    // An edge from 8e-5 above a sloped hub, running 0.02 rad across it, is bisected to its crossing
    // 0.004 along as the profile's own search does: only an end within 1e-5 of the hub is a crossing.
    HubShroud level{profileOf({{10, 30}, {60, 0}}), nullptr, nullptr};
    ASSERT_NE(level.hub, nullptr);
    const double ur = 50 / std::hypot(50, 30), uz = -30 / std::hypot(50, 30);  // along the hub, down
    const double ar = 20 - 8e-5 * uz, az = 24 + 8e-5 * ur;                     // 8e-5 above it
    const Vec3 a = polar(ar, 0.1, az), b = polar(ar + ur + 0.02 * uz, 0.1, az + uz - 0.02 * ur);
    Meshes m(std::vector<Triangle3D>{{{a, b, polar(ar, 0.1, az + 1)}}});
    Vec3 x, want;
    ASSERT_EQ(crossSegmentProfileExact(level.hub, &a, &b, &want), 1);
    ASSERT_EQ(meshHubCrossing(&m.tri, &level, &x), 1);
    EXPECT_LE(dist3D(&x, &want), 1e-9);
    EXPECT_NEAR(dist3D(&x, &a), 0.004, 2e-4);
    freeProfile2D(level.hub);
    // A hub of 32 short steps 0.002 up, folded back along z = 0: a corner just below it, measured after one
    // above, is measured against the return segment (the next block of segments, 5e-4 away rather than
    // 0.0025), so it lies on the side of the corners above, and the crossing or none is the profile's own.
    std::vector<Vec2> fold;
    for (int i = 0; i <= 32; ++i) fold.push_back({i / 32.0, 0.002});
    fold.insert(fold.end(), {{1, 0}, {0, 0}});
    HubShroud folded{profileOf(fold), nullptr, nullptr};
    const Vec3 t[3] = {{0.5, 0, 0.5}, {0.5, 0, -5e-4}, {0.6, 0, 0.5}};
    Meshes f(std::vector<Triangle3D>{{{t[0], t[1], t[2]}}});
    int crossings = 0;
    for (int k = 0; k < 3; ++k)
        crossings += crossSegmentProfileExact(folded.hub, &t[k], &t[(k + 1) % 3], &x) == 1;
    EXPECT_EQ(meshHubCrossing(&f.tri, &folded, &x), crossings ? 1 : -1);
    freeProfile2D(folded.hub);
}

// A hub whose last segment falls from (20, 30) to (60, 0): an edge that crosses only that segment meets it
// where the profile's own bisection does.
TEST(HubCrossing, CrossingOnTheHubsLastSegment) {
    HubShroud level{profileOf({{10, 30}, {20, 30}, {60, 0}}), nullptr, nullptr};
    ASSERT_NE(level.hub, nullptr);
    for (const double r : {30.0, 45.0, 58.0}) {
        const double z = 30 - 0.75 * (r - 20);  // on the hub
        const Vec3 a = polar(r - 1, 0.2, z - 3), b = polar(r + 1, 0.2, z + 3), c = polar(r + 1, 0.2, z - 3);
        Meshes m(std::vector<Triangle3D>{{{a, b, c}}});
        Vec3 x, want;
        ASSERT_EQ(crossSegmentProfileExact(level.hub, &a, &b, &want), 1) << r;
        ASSERT_EQ(meshHubCrossing(&m.tri, &level, &x), 1) << r;
        EXPECT_LE(dist3D(&x, &want), 1e-9) << r;
    }
    freeProfile2D(level.hub);
}

TEST(HubCrossing, SplitterAngleTraceAndTiltFrameAlongARadialBlade) {
    HubShroud* level = flatChannel(20, 5);
    const Vec3 low[2] = {{10, 0, -1}, {40, 0, -1}}, high[2] = {{10, 0, 1}, {40, 0, 1}};
    ContourPair blade{plist3DFromPoints(low, 2), plist3DFromPoints(high, 2)};
    // A mesh reaching the hub at angle theta (offset or not); one above the hub leaves the caller's angle.
    for (const double theta : {0.3, -0.2, 0.0}) {
        Meshes m(std::vector<Triangle3D>{
            {{polar(20, theta, theta == 0 ? 1 : -1), polar(20, theta, 2), polar(30, theta, 1)}}});
        double angle = 0.125;
        EXPECT_EQ(splitterHubAngle(&m.fac, level, &blade, theta > 0 ? 3 : 0, &angle), theta == 0 ? -1 : 1);
        EXPECT_NEAR(angle, theta == 0 ? 0.125 : theta, 1e-6);
    }
    Plist3D* out = newPlist3D(1);
    ASSERT_EQ(contourPairProfileTrace(&blade, level->hub, 7.0, out), 1);
    ASSERT_EQ(out->count, 5);  // 0, 7, .. 28 along the 30 of the blade, each on the hub
    EXPECT_NEAR(out->param[4] + out->points[4].x + std::fabs(out->points[4].z), 28 + 38, 1e-6);
    // Stations stop short of the blade's end: 0 .. 22.5 for a step of 7.5; a step must be positive.
    ASSERT_EQ(contourPairProfileTrace(&blade, level->hub, 7.5, out), 1);
    ASSERT_EQ(out->count, 4);
    for (int32_t k = 0; k < 4; ++k) EXPECT_NEAR(out->points[k].x, 10 + 7.5 * k, 1e-9) << k;
    for (const double step : {0.0, -1.0})
        EXPECT_EQ(contourPairProfileTrace(&blade, level->hub, step, out), -1);
    // Short of memory for what every station's crossing shares, the trace fails rather than come out empty.
    allocfail::arm(0);
    profileLineCrossFree(profileLineCrossCreate(level->hub));
    for (long n = 1, shared = allocfail::count(); n <= shared; ++n) {
        allocfail::arm(n);
        EXPECT_EQ(contourPairProfileTrace(&blade, level->hub, 7.5, out), -1) << n;
        allocfail::disarm();
        EXPECT_EQ(out->count, 0) << n;
    }
    // The tilt frame along the ray through (3, 4): T = (-0.8, 0.6, 0), B = unit(z x T) = (-0.6, -0.8, 0) at
    // any radius beyond the length tolerance (1e-5); none within it.
    const Vec3 up{0, 0, 2};
    for (const double r : {5.0, 1e-3, 1e-4, 2e-5, 5e-6, 1e-6, 0.0}) {
        const Vec3 p{0.6 * r, 0.8 * r, 7};
        Vec3 T{}, B{};
        ASSERT_EQ(radialTiltFrame(&p, &up, &T, &B), r > 1e-5 ? 1 : -1) << r;
        const double off =
            std::fabs(T.x + 0.8) + std::fabs(T.y - 0.6) + std::fabs(B.x + 0.6) + std::fabs(B.y + 0.8);
        EXPECT_NEAR(r > 1e-5 ? off : 0, 0, 1e-12) << r;
    }
    const Vec3 p{3, 4, 7}, alongT{-1.6, 1.2, 0};
    Vec3 t2, b2;
    EXPECT_EQ(radialTiltFrame(&p, &alongT, &t2, &b2), -1);  // no binormal for an axis along T
    freePlist3D(out);
    freePlist3D(blade.first);
    freePlist3D(blade.second);
    freeHubShroud(level);
}

// Every missing argument is refused, and the answers are left as they were.
TEST(HubCrossing, MissingArgumentsAreRefused) {
    HubShroud* level = flatChannel(20, 5);
    ASSERT_NE(level, nullptr);
    const Vec3 low[2] = {{10, 0, -1}, {40, 0, -1}}, high[2] = {{10, 0, 1}, {40, 0, 1}};
    ContourPair blade{plist3DFromPoints(low, 2), plist3DFromPoints(high, 2)};
    Meshes m(std::vector<Triangle3D>{{{polar(20, 0.1, -1), polar(20, 0.1, 2), polar(30, 0.1, 1)}}});
    const Vec3 p{3, 4, 7}, up{0, 0, 1};
    Vec3 T{9, 9, 9}, B{9, 9, 9}, x{9, 9, 9};
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(radialTiltFrame(k == 0 ? nullptr : &p, k == 1 ? nullptr : &up, k == 2 ? nullptr : &T,
                                  k == 3 ? nullptr : &B),
                  -1)
            << k;
    EXPECT_EQ(T.x + B.x, 18.0);
    HubShroud noHub{nullptr, level->shroud, nullptr};
    EXPECT_EQ(meshHubCrossing(nullptr, level, &x), -1);
    EXPECT_EQ(meshHubCrossing(&m.tri, nullptr, &x), -1);
    EXPECT_EQ(meshHubCrossing(&m.tri, &noHub, &x), -1);
    EXPECT_EQ(meshHubCrossing(&m.tri, level, nullptr), -1);
    CheckModel bare = m.tri;
    bare.triangles = nullptr;  // a model without its triangles crosses nowhere
    EXPECT_EQ(meshHubCrossing(&bare, level, &x), -1);
    EXPECT_EQ(x.x, 9.0);
    double angle = 0.5;
    EXPECT_EQ(splitterHubAngle(&m.tri, level, nullptr, 0, &angle), -1);
    EXPECT_EQ(splitterHubAngle(&m.tri, level, &blade, 0, nullptr), -1);
    EXPECT_EQ(splitterHubAngle(nullptr, level, &blade, 0, &angle), -1);
    EXPECT_EQ(angle, 0.5);
    Plist3D* out = newPlist3D(1);
    ContourPair half{blade.first, nullptr}, otherHalf{nullptr, blade.second};
    EXPECT_EQ(contourPairProfileTrace(nullptr, level->hub, 1, out), -1);
    EXPECT_EQ(contourPairProfileTrace(&half, level->hub, 1, out), -1);
    EXPECT_EQ(contourPairProfileTrace(&otherHalf, level->hub, 1, out), -1);
    EXPECT_EQ(contourPairProfileTrace(&blade, nullptr, 1, out), -1);
    EXPECT_EQ(contourPairProfileTrace(&blade, level->hub, 1, nullptr), -1);
    EXPECT_EQ(contourPairProfileTrace(&blade, level->hub, NAN, out), -1);
    freePlist3D(out);
    freePlist3D(blade.first);
    freePlist3D(blade.second);
    freeHubShroud(level);
}
