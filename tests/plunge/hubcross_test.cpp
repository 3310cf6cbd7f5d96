// Hub crossing of meshes and the blade sampling helpers against a flat hub and a radial blade.
#include "plunge/hubcross.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geometry/profile.h"
#include "geometry/rng.h"

namespace {

Vec3 polar(double r, double phi, double z) {
    return {r * std::cos(phi), r * std::sin(phi), z};
}

// The hub at z = 0 from r = 5 to 60.
HubShroud* flatLevel() {
    const Vec3 h0{5, 0, 0}, h1{60, 0, 0}, s0{5, 0, 20}, s1{60, 0, 20};
    ProfileCurve* hub = profileLine(&h0, &h1);
    ProfileCurve* shroud = profileLine(&s0, &s1);
    HubShroud* level = makeHubShroudPair(hub, shroud);
    profileFreeList(hub);
    profileFreeList(shroud);
    return level;
}

// A radial blade at angle 0 from r = 10 to 40, its hub-side list 1 below the hub, the other 1 above.
ContourPair* radialBlade() {
    auto* pair = static_cast<ContourPair*>(std::calloc(1, sizeof(ContourPair)));
    const Vec3 low[2] = {{10, 0, -1}, {40, 0, -1}}, high[2] = {{10, 0, 1}, {40, 0, 1}};
    pair->first = plist3DFromPoints(low, 2);
    pair->second = plist3DFromPoints(high, 2);
    return pair;
}

struct Mesh {
    CheckModel model;
    Mesh(int32_t kind) { chkModelInit(&model, kind); }
    ~Mesh() {
        triListFree(model.triangles);
        std::free(model.facets);
    }
    void add(const Triangle3D& t) {
        if (model.kind == kMeshTriangles) {
            if (model.triangles == nullptr) model.triangles = triListCreate(4);
            triListAdd(model.triangles, &t);
            return;
        }
        model.facets =
            static_cast<Facet98*>(std::realloc(model.facets, sizeof(Facet98) * (model.facetCount + 1)));
        model.facets[model.facetCount++] = {0, {t.p[0], t.p[1], t.p[2], t.p[2]}};
    }
};

}  // namespace

TEST(HubCrossing, LowestCrossingOfSeededMeshesAgainstBruteForce) {
    HubShroud* level = flatLevel();
    ASSERT_NE(level, nullptr);
    rngResetState();
    for (int round = 0; round < 20; ++round) {
        Mesh tris(kMeshTriangles), facets(kMeshFacets);
        double bestR = INFINITY;
        for (int i = 0; i < 15; ++i) {
            Triangle3D t;
            for (Vec3& v : t.p) v = polar(8 + 42 * rngUniform(), 0.3 * rngUniform(), -3 + 6 * rngUniform());
            tris.add(t);
            facets.add(t);
            for (int k = 0; k < 3; ++k) {
                const Vec3 &a = t.p[k], &b = t.p[(k + 1) % 3];
                if ((a.z < 0) == (b.z < 0)) continue;
                const double f = a.z / (a.z - b.z);
                bestR = std::fmin(bestR, std::hypot(a.x + f * (b.x - a.x), a.y + f * (b.y - a.y)));
            }
        }
        for (const Mesh* m : {&tris, &facets}) {
            Vec3 x{};
            ASSERT_EQ(meshHubCrossing(&m->model, level, &x), std::isfinite(bestR) ? 1 : -1);
            if (std::isfinite(bestR)) {
                EXPECT_NEAR(std::hypot(x.x, x.y), bestR, 1e-3) << round;
                EXPECT_NEAR(x.z, 0.0, 1e-3);
            }
        }
    }
    Mesh above(kMeshTriangles);
    above.add({{polar(20, 0, 1), polar(30, 0, 2), polar(25, 0.1, 3)}});
    Vec3 x{};
    EXPECT_EQ(meshHubCrossing(&above.model, level, &x), -1);
    freeHubShroud(level);
}

TEST(HubCrossing, SplitterAngleFromTheBladeAtTheHub) {
    HubShroud* level = flatLevel();
    ContourPair* blade = radialBlade();
    ASSERT_NE(level, nullptr);
    for (const double theta : {0.3, -0.2, 0.05}) {
        for (const double offset : {0.0, 3.0}) {
            Mesh m(kMeshTriangles);
            m.add({{polar(20, theta, -1), polar(20, theta, 1), polar(30, theta, 1)}});
            double angle = 9;
            ASSERT_EQ(splitterHubAngle(&m.model, level, blade, offset, &angle), 1);
            EXPECT_NEAR(angle, theta, 1e-6);
        }
    }
    // A mesh that never reaches the hub leaves the caller's angle.
    Mesh m(kMeshTriangles);
    m.add({{polar(20, 0.3, 1), polar(20, 0.3, 2), polar(30, 0.3, 1)}});
    double angle = 0.125;
    EXPECT_EQ(splitterHubAngle(&m.model, level, blade, 0, &angle), -1);
    EXPECT_EQ(angle, 0.125);
    freeContourPair(blade);
    freeHubShroud(level);
}

TEST(HubCrossing, RadialTiltFrameOnSeededPoints) {
    rngResetState();
    for (int i = 0; i < 200; ++i) {
        const Vec3 p = polar(0.1 + 50 * rngUniform(), 6.3 * rngUniform(), 10 * rngUniform());
        const Vec3 axis{rngUniform() - 0.5, rngUniform() - 0.5, rngUniform()};
        Vec3 T, B, c;
        if (radialTiltFrame(&p, &axis, &T, &B) != 1) continue;
        cross3D(&p, &T, &c);
        EXPECT_NEAR(vecLen3D(&T), 1, 1e-12);
        EXPECT_NEAR(T.x * p.x + T.y * p.y + T.z, 0, 1e-9);
        EXPECT_GT(c.z, 0);  // counter-clockwise about z
        EXPECT_NEAR(vecLen3D(&B), 1, 1e-12);
        EXPECT_NEAR(vecDot3D(&B, &T), 0, 1e-9);
        EXPECT_NEAR(vecDot3D(&B, &axis), 0, 1e-9);
    }
    const Vec3 onAxis{0, 0, 5}, p{3, 4, 0}, up{0, 0, 1}, along{-0.8, 0.6, 0};
    Vec3 T, B;
    EXPECT_EQ(radialTiltFrame(&onAxis, &up, &T, &B), -1);
    EXPECT_EQ(radialTiltFrame(&p, &along, &T, &B), -1);
}

TEST(HubCrossing, ProfileTraceEveryStep) {
    HubShroud* level = flatLevel();
    ContourPair* blade = radialBlade();
    ASSERT_NE(level, nullptr);
    Plist3D* out = newPlist3D(1);
    ASSERT_NE(out, nullptr);
    for (const double step : {7.0, 10.0, 0.5}) {
        ASSERT_EQ(contourPairProfileTrace(blade, level->hub, step, out), 1);
        ASSERT_EQ(out->count, static_cast<int32_t>(std::ceil(30 / step)));
        for (int32_t i = 0; i < out->count; ++i) {
            EXPECT_NEAR(out->param[i], i * step, 1e-12);
            EXPECT_NEAR(out->points[i].x, 10 + i * step, 1e-6);
            EXPECT_NEAR(out->points[i].z, 0, 1e-6);
        }
    }
    EXPECT_EQ(contourPairProfileTrace(blade, level->hub, 0.0, out), -1);
    freePlist3D(out);
    freeContourPair(blade);
    freeHubShroud(level);
}
