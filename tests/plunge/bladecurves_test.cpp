// Blade curves: sampling, surface choice, splitting, orientation and hub crossings on flat patches in
// closed form; the example impeller's blade contours on its side surfaces.
#include "plunge/bladecurves.h"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "geometry/profile.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"
#include "workfolder.h"

namespace {

// The parallelogram o + u du + v dv, trimmed by its parameter square.
void addPatch(SurfList* list, Vec3 o, Vec3 du, Vec3 dv) {
    TrimSurface rec;
    kvxInitTrimSurface(&rec);
    ASSERT_EQ(bsplSurfaceAlloc(&rec.surface, 2, 2, 2, 2, 0), 1);
    const double k[4] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) rec.surface.uKnots[i] = rec.surface.vKnots[i] = k[i];
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j)
            rec.surface.rows[i][j] = {o.x + i * du.x + j * dv.x, o.y + i * du.y + j * dv.y,
                                      o.z + i * du.z + j * dv.z};
    const Vec2 loop[5] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    ASSERT_EQ(trimSurfaceAddLoop(&rec, loop, 5), 1);
    ASSERT_EQ(surfListAppend(list, &rec), 1);
}

// The hub z = 0 running outwards.
Profile2D* flatHub() {
    Profile2D* p = newProfile2D(2);
    p->points[0] = {0, 0};
    p->points[1] = {100, 0};
    p->count = 2;
    recomputeProfile2DParams(p);
    return p;
}

std::string example(const char* name) {
    return (std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge" / name).string();
}

// A radial strip in the plane at angle phi from r = 20 to 40, edge0 at z0 and edge1 at z1.
IsoStrip* radialStrip(double phi, double z0, double z1) {
    IsoStrip* s = isoStripCreate(5);
    for (int i = 0; i < 5; ++i) {
        const double r = 20 + 5 * i, c = std::cos(phi) * r, d = std::sin(phi) * r;
        s->edge0[i] = {c, d, z0}, s->edge1[i] = {c, d, z1}, s->middle[i] = {c, d, 0.5 * (z0 + z1)};
        s->t[i] = i / 4.0;
    }
    return s;
}

}  // namespace

TEST(BladeCurves, IsoLineSamplesByLengthAndTolerance) {
    SurfList* list = newSurfList(2);
    ASSERT_NE(list, nullptr);
    addPatch(list, {30, 0, 0}, {4, 0, 0}, {0, 0, 10});
    // direction, tolerance, samples: trunc(length / tol) + 2.
    const double table[][3] = {{0, 0.5, 22}, {0, 0.3, 35}, {1, 0.5, 10}, {1, 5, 2}};
    for (const auto& row : table) {
        IsoStrip* s = idx5SurfaceIsoCurve(&list->entries[0], static_cast<int32_t>(row[0]), row[1]);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->count, static_cast<int32_t>(row[2]));
        for (int32_t i = 0; i < s->count; ++i)
            EXPECT_DOUBLE_EQ(s->t[i], static_cast<double>(i) / (s->count - 1));
        isoStripFree(s);
    }
    freeSurfList(list);
}

TEST(BladeCurves, SurfaceChoiceByArea) {
    Profile2D* hub = flatHub();
    const std::vector<std::vector<double>> areas = {
        {90, 100, 95}, {90, 100, 50, 95}, {100, 95, 90}, {100, 50, 90}};
    const int32_t picks[][2] = {{0, 2}, {1, 3}, {0, 2}, {0, 2}};
    for (size_t c = 0; c < areas.size(); ++c) {
        SurfList* list = newSurfList(4);
        ASSERT_NE(list, nullptr);
        for (size_t k = 0; k < areas[c].size(); ++k)
            addPatch(list, {20.0 * k, 0, 1}, {10, 0, 0}, {0, areas[c][k] / 10, 0});
        int32_t index[2] = {-1, -1}, direction[2];
        ASSERT_EQ(chooseBladeSurfaces(list, hub, index, direction), 2);
        EXPECT_EQ(index[0], picks[c][0]) << c;
        EXPECT_EQ(index[1], picks[c][1]) << c;
        list->count = 1;
        EXPECT_EQ(chooseBladeSurfaces(list, hub, index, direction), 1);
        list->count = static_cast<int32_t>(areas[c].size());
        freeSurfList(list);
    }
    freeProfile2D(hub);
}

TEST(BladeCurves, SplitLeavesTheGapOnBothSidesOfTheMiddle) {
    SurfList* list = newSurfList(2);
    ASSERT_NE(list, nullptr);
    addPatch(list, {30, 0, 0}, {4, 0, 0}, {0, 0, 10});
    for (const double tol : {0.05, 0.2, 0.3}) {
        IsoStrip* whole = idx5SurfaceIsoCurve(&list->entries[0], 0, tol);
        ASSERT_NE(whole, nullptr);
        IsoStrip *a = nullptr, *b = nullptr;
        ASSERT_EQ(splitIsoStrip(whole, &a, &b, 2 * tol), 1);
        // Kept: the samples more than the gap of middle line away from the last sample at or before 0.5.
        const int32_t k = static_cast<int32_t>(std::floor(0.5 * (whole->count - 1) + 1e-9));
        int32_t before = 0, after = 0;
        for (int32_t i = 0; i < whole->count; ++i) {
            const double d = 10.0 * (whole->t[i] - whole->t[k]);
            before += d < -2 * tol - 1e-9;
            after += d > 2 * tol + 1e-9;
        }
        EXPECT_EQ(a->count, before) << tol;
        EXPECT_EQ(b->count, after) << tol;
        EXPECT_EQ(a->t[0], 0.0);
        EXPECT_EQ(b->t[b->count - 1], 1.0);
        isoStripFree(a);
        isoStripFree(b);
        // Too short for the gap on either side: no sides at all.
        EXPECT_EQ(splitIsoStrip(whole, &a, &b, 6.0), -1);
        EXPECT_EQ(a, nullptr);
        isoStripFree(whole);
    }
    freeSurfList(list);
}

TEST(BladeCurves, OrientationOfEdgesAndStrips) {
    Profile2D* hub = flatHub();
    struct Case {
        int16_t impReverse;
        double angleB;  // of strip B about z; A lies at angle 0
        int exchanged;
        double aTipZ, bTipZ;  // edge0 heights afterwards; both strips start with their hub edge in edge0
    };
    const Case cases[] = {{0, 0.1, 0, 10, 10}, {1, 0.1, 0, 0, 10}, {0, -0.1, 1, 10, 10}};
    for (const Case& c : cases) {
        cycleParamsResetState();
        cycleParams()->impReverse = c.impReverse;
        IsoStrip* a = radialStrip(0, 0, 10);
        IsoStrip* b = radialStrip(c.angleB, 0, 10);
        EXPECT_EQ(orientBladeStrips(a, b, hub, 0), c.exchanged);
        EXPECT_EQ(a->edge0[0].z, c.aTipZ);
        EXPECT_EQ(b->edge0[0].z, c.bTipZ);
        // A holds the strip at angle 0 unless exchanged; the two run in opposite directions.
        EXPECT_EQ(std::fabs(a->middle[2].y) < 1e-12, c.exchanged == 0);
        EXPECT_LT(std::hypot(a->middle[0].x, a->middle[0].y), std::hypot(a->middle[4].x, a->middle[4].y));
        EXPECT_GT(std::hypot(b->middle[0].x, b->middle[0].y), std::hypot(b->middle[4].x, b->middle[4].y));
        isoStripFree(a);
        isoStripFree(b);
    }
    cycleParamsResetState();
    freeProfile2D(hub);
}

TEST(BladeCurves, HubCrossingOfASample) {
    Profile2D* hub = flatHub();
    SurfList* list = newSurfList(2);
    ASSERT_NE(list, nullptr);
    addPatch(list, {30, 0, -2}, {10, 0, 0}, {0, 0, 10});  // v climbs from z = -2 to 8
    addPatch(list, {30, 0, 1}, {10, 0, 0}, {0, 0, 10});
    for (int k = 0; k < 2; ++k) {
        IsoStrip* s = idx5SurfaceIsoCurve(&list->entries[k], 1, 2.0);
        ASSERT_NE(s, nullptr);
        const Vec3 before = s->edge1[3];
        ASSERT_EQ(hubCrossingOnStrip(s, 3, 1, hub), k == 0 ? 1 : 0);
        // The cross parameter to 0.001 is 0.01 in z; a sample without a crossing keeps its point.
        EXPECT_NEAR(s->edge1[3].z, k == 0 ? 0.0 : before.z, k == 0 ? 0.01 : 0.0);
        EXPECT_NEAR(s->edge1[3].x, 30 + 10 * s->t[3], 1e-9);
        isoStripFree(s);
    }
    freeSurfList(list);
    freeProfile2D(hub);
}

TEST(BladeCurves, ExampleContoursLieOnTheBladeSides) {
    cycleParamsResetState();
    ProfileCurve* hubCurve = idx5CreateHubShroudCurve(example("hub.kvx").c_str(), 0.5);
    ProfileCurve* shroudCurve = idx5CreateHubShroudCurve(example("shroud.kvx").c_str(), 0.5);
    HubShroud* pair = makeHubShroudPair(hubCurve, shroudCurve);
    SurfList* sides = newSurfList(4);
    ASSERT_NE(pair, nullptr);
    ASSERT_NE(sides, nullptr);
    ASSERT_EQ(readSurfObjects(example("blade.kvx").c_str(), sides), 1);
    ASSERT_EQ(sides->count, 4);  // two sides and two edge caps
    auto sideDistance = [&](const Vec3& p, int k) {
        SurfFoot foot;
        double d = -1;
        EXPECT_EQ(projectPointNurbsSurf(&sides->entries[k], nullptr, &p, &foot, &d), 1);
        return d;
    };
    const double tol = 0.5;
    // The tip edges of the whole selection: one on each side, past the shroud, running alike.
    Plist3DNode* chain = newPlist3DNode(10);
    ASSERT_NE(chain, nullptr);
    chain->next = newPlist3DNode(10);
    ASSERT_EQ(idx5BladeEdgeContours(example("blade.kvx").c_str(), pair->hub, tol, chain), 1);
    int k = 0;
    for (const Plist3DNode* n = chain; n != nullptr; n = n->next, ++k) {
        const Plist3D* l = n->list;
        ASSERT_GT(l->count, 40);
        const int side = sideDistance(l->points[0], 0) < sideDistance(l->points[0], 1) ? 0 : 1;
        EXPECT_EQ(side, k);
        for (int32_t i = 0; i + 1 < l->count; i += 3) {
            const Vec3 &p = l->points[i], &q = l->points[i + 1];
            const Vec3 mid{0.5 * (p.x + q.x), 0.5 * (p.y + q.y), 0.5 * (p.z + q.z)};
            EXPECT_LT(sideDistance(p, side), 1e-3);
            EXPECT_LT(sideDistance(mid, side), tol);
            EXPECT_NEAR(closestPointProfile2D(pair->shroud, &p, nullptr, nullptr), 1.0, 0.2);
        }
        EXPECT_LT(l->points[0].z, l->points[l->count - 1].z);
    }
    // The mean lines from the two sides alone: midway between them, 1 inside the hub and past the shroud.
    sides->count = 2;
    ASSERT_EQ(writeSurfObjects("sides.kvx", sides), 1);
    sides->count = 4;
    ProfileCurve *hubSide = nullptr, *tipSide = nullptr;
    ASSERT_EQ(idx5CreateBladeCurves("sides.kvx", pair->hub, tol, &hubSide, &tipSide), 1);
    for (const ProfileCurve* c : {hubSide, tipSide}) {
        ASSERT_NE(c, nullptr);
        ASSERT_NE(c->z, nullptr);
        for (int32_t i = 0; i < c->count; i += 5) {
            const Vec3 p{c->points[i].x, c->points[i].y, c->z[i]};
            EXPECT_NEAR(sideDistance(p, 0), 1.0, 0.01);
            EXPECT_NEAR(sideDistance(p, 1), 1.0, 0.01);
            const double d = c == hubSide ? closestPointProfile2D(pair->hub, &p, nullptr, nullptr)
                                          : closestPointProfile2D(pair->shroud, &p, nullptr, nullptr);
            EXPECT_NEAR(d, c == hubSide ? -1.0 : 1.0, 0.05) << i;
        }
    }
    profileFreeList(hubSide);
    profileFreeList(tipSide);
    EXPECT_EQ(idx5CreateBladeCurves("missing.kvx", pair->hub, tol, &hubSide, &tipSide), -1);
    EXPECT_EQ(hubSide, nullptr);
    freePlist3DChain(chain);
    freeSurfList(sides);
    freeHubShroud(pair);
    profileFreeList(hubCurve);
    profileFreeList(shroudCurve);
}
