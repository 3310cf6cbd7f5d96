// Blade curves: sampling, surface choice and splitting in closed form on flat patches; orientation and
// the contours on the example impeller's blade sides.
#include "plunge/bladecurves.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "channeltest.h"
#include "kernel/base/rng.h"
#include "memshort.h"
#include "plunge/cycparams.h"
#include "plunge/partload.h"
#include "surfaces/deboor.h"
#include "workfolder.h"

TEST(BladeCurves, IsoLineSamplesAndTheSplitAroundTheMiddle) {
    SurfList* list = newSurfList(2);
    addPatch(list, {30, 0, 0}, {4, 0, 0}, {0, 0, 10});  // iso lines of length 10 along v, 4 along u
    const double rows[][5] = {{0, 0.5, 22, 1, 1},
                              {1, 0.5, 10, 6, -1},
                              {0, 0.05, 202, 0.1, 1}};  // direction, tol, samples, gap, split
    for (const auto& r : rows) {
        IsoStrip *s = idx5SurfaceIsoCurve(&list->entries[0], static_cast<int32_t>(r[0]), r[1]), *a, *b;
        ASSERT_EQ(s->count, static_cast<int32_t>(r[2]));
        for (int32_t i = 0; i < s->count; ++i)
            EXPECT_DOUBLE_EQ(s->t[i], static_cast<double>(i) / (s->count - 1));
        // Samples 10/201 apart: the split at sample 100 (t = 100/201) loses two on each side within 0.1.
        ASSERT_EQ(splitIsoStrip(s, &a, &b, r[3]), r[4]);
        EXPECT_EQ(r[1] == 0.05 ? a->count * 1000 + b->count : 0, r[1] == 0.05 ? 98099 : 0);
        isoStripFree(a);
        isoStripFree(b);
        isoStripFree(s);
    }
    freeSurfList(list);
}

// The cut falls after the last sample at t <= 0.5 (to 1e-5); each side keeps the samples beyond the gap
// of middle line (samples 10 apart) from the cut.
TEST(BladeCurves, SplitCutsAfterTheLastSampleOfTheFirstHalf) {
    const struct {
        std::vector<double> t;
        double gap;
        int rc, a, b;
    } rows[] = {{{0, 0.25, 0.5, 0.75, 1}, 5, 1, 2, 2},   {{0, 0.25, 0.5, 0.75, 1}, 10, 1, 1, 1},
                {{0, 0.25, 0.5, 0.75, 1}, 20, -1, 0, 0}, {{0, 0.75, 1}, 5, -1, 0, 0},
                {{0, 0.5 + 9e-6, 1}, 5, 1, 1, 1},        {{0, 0.5 + 2e-5, 1}, 5, -1, 0, 0},
                {{0, 0.5, 1}, 9.999, 1, 1, 1},           {{0, 1}, 0.1, -1, 0, 0},
                {{0, 0.5 + 1e-5, 1}, 5, 1, 1, 1}};
    for (const auto& r : rows) {
        const int32_t n = static_cast<int32_t>(r.t.size());
        IsoStrip* s = isoStripCreate(n);
        ASSERT_NE(s, nullptr);
        for (int32_t i = 0; i < n; ++i)
            s->t[i] = r.t[i], s->middle[i] = s->edge0[i] = s->edge1[i] = {10.0 * i, 0, 0};
        IsoStrip *a = s, *b = s;
        ASSERT_EQ(splitIsoStrip(s, &a, &b, r.gap), r.rc) << n << " " << r.gap;
        EXPECT_EQ(a != nullptr ? a->count : 0, r.a) << n << " " << r.gap;
        EXPECT_EQ(b != nullptr ? b->count : 0, r.b) << n << " " << r.gap;
        // a from the first sample on, b up to the last.
        EXPECT_TRUE(a == nullptr || a->middle[0].x == 0.0);
        EXPECT_TRUE(b == nullptr || b->middle[b->count - 1].x == 10.0 * (n - 1));
        isoStripFree(a);
        isoStripFree(b);
        EXPECT_EQ(splitIsoStrip(s, nullptr, &b, r.gap), -1);
        EXPECT_EQ(splitIsoStrip(s, &a, nullptr, r.gap), -1);
        isoStripFree(s);
    }
}

// Reversing a strip reverses every array alike, swapping exchanges the edges only, and a copied range
// holds the samples in range of every array.
TEST(BladeCurves, StripReverseSwapAndRangeTakeEveryArray) {
    IsoStrip* s = isoStripCreate(5);
    ASSERT_NE(s, nullptr);
    for (int32_t i = 0; i < 5; ++i)
        s->edge0[i] = {double(i), 0, 0}, s->edge1[i] = {double(i), 1, 0}, s->middle[i] = {double(i), 0.5, 0},
        s->t[i] = 0.25 * i;
    isoStripReverse(s);
    isoStripSwapEdges(s);
    IsoStrip* r = isoStripCopyRange(s, 1, 3);
    ASSERT_NE(r, nullptr);
    ASSERT_EQ(r->count, 3);
    for (int32_t i = 0; i < 3; ++i) {
        const double x = 3 - i;  // sample 1 of the reversed strip is the original's sample 3
        EXPECT_EQ(r->edge0[i].x, x) << i;
        EXPECT_EQ(r->edge0[i].y, 1) << i;
        EXPECT_EQ(r->edge1[i].x, x) << i;
        EXPECT_EQ(r->edge1[i].y, 0) << i;
        EXPECT_EQ(r->middle[i].x, x) << i;
        EXPECT_EQ(r->t[i], 0.25 * x) << i;
    }
    // A range must lie within the strip and hold a sample at least.
    const struct {
        int32_t first, last, count;
    } ranges[] = {{3, 5, 0}, {-1, 2, 0}, {3, 2, 0}, {4, 4, 1}, {0, 4, 5}, {0, 0, 1}};
    for (const auto& g : ranges) {
        IsoStrip* c = isoStripCopyRange(s, g.first, g.last);
        EXPECT_EQ(c != nullptr ? c->count : 0, g.count) << g.first << " " << g.last;
        for (int32_t i = 0; c != nullptr && i < c->count; ++i) EXPECT_EQ(c->t[i], s->t[g.first + i]);
        isoStripFree(c);
    }
    for (const int32_t n : {0, -3, 1000001}) EXPECT_EQ(isoStripCreate(n), nullptr) << n;
    IsoStrip* most = isoStripCreate(1000000);  // a million samples still fit
    EXPECT_EQ(most != nullptr ? most->count : 0, 1000000);
    isoStripFree(most);
    isoStripFree(r);
    isoStripFree(s);
    isoStripReverse(nullptr);
    isoStripSwapEdges(nullptr);
    isoStripFree(nullptr);
}

TEST(BladeCurves, IsoLinesEqualTheirPointsMeasuredAlone) {
    rngResetState();
    int failed = 0;
    for (int round = 0; round < 24; ++round) {
        const int32_t uo = 2 + rngNext() % 4, vo = 2 + rngNext() % 4, un = uo + rngNext() % 5,
                      vn = vo + rngNext() % 5, rational = round % 3 == 0;
        TrimSurface rec;
        kvxInitTrimSurface(&rec);
        ASSERT_EQ(bsplSurfaceAlloc(&rec.surface, uo, vo, un, vn, rational), 1);
        // Knots with repeats and gaps from 1e-9 to 3 (some surfaces cannot be measured).
        for (int32_t i = 0; i < un + uo + vn + vo; ++i) {
            double* k = i < un + uo ? &rec.surface.uKnots[i] : &rec.surface.vKnots[i - un - uo];
            *k = i == 0 || i == un + uo ? rngUniform() - 0.5
                                        : k[-1] + (rngNext() % 9 == 0   ? 0.0
                                                   : rngNext() % 5 == 0 ? 1e-9
                                                                        : 3 * rngUniform());
        }
        for (int32_t i = 0; i < un * vn; ++i) {
            rec.surface.rows[0][i] = {50 * rngUniform(), 50 * rngUniform(), 50 * rngUniform()};
            if (rational) rec.surface.weights[0][i] = 0.2 + rngUniform();
        }
        for (int32_t dir = 0; dir < 2; ++dir) {
            const double tol = 0.5 + 5 * rngUniform();
            IsoStrip* s = idx5SurfaceIsoCurve(&rec, dir, tol);
            // Each sample measured alone: a strip fails where one of its points fails.
            const int32_t n = static_cast<int32_t>(isoLineLength(&rec, dir) / tol * (1.0 + 1e-7)) + 2;
            bool fails = false;
            for (int32_t i = 0; i < 3 * n && !fails; ++i) {
                const double t = static_cast<double>(i / 3) / (n - 1), c = 0.5 * (i % 3);
                Vec3 p;
                fails = isoSurfacePoint(&rec, dir == 0 ? c : t, dir == 0 ? t : c, &p) == -1;
                const Vec3* got = s == nullptr ? nullptr
                                               : (i % 3 == 0   ? s->edge0
                                                  : i % 3 == 1 ? s->middle
                                                               : s->edge1) +
                                                     i / 3;
                if (!fails && got != nullptr) {
                    EXPECT_EQ(std::memcmp(&p, got, sizeof p), 0) << round << " " << i;
                }
            }
            EXPECT_EQ(s == nullptr, fails) << round << " " << dir;
            failed += fails;
            isoStripFree(s);
        }
        kvxFreeTrimSurface(&rec);
    }
    EXPECT_GT(failed, 3);
    EXPECT_LT(failed, 24);
}

TEST(BladeCurves, SurfaceChoiceByArea) {
    HubShroud* channel = flatChannel(20);
    // Two surfaces are the two sides in their order, however uneven.
    const std::vector<std::vector<double>> areas = {
        {90, 100, 95}, {90, 100, 50, 95}, {100, 50, 90}, {70}, {40, 100}};
    const int32_t picks[][3] = {{2, 0, 2}, {2, 1, 3}, {2, 0, 2}, {1, 0, 0}, {2, 0, 1}};  // result, indices
    for (size_t c = 0; c < areas.size(); ++c) {
        SurfList* list = newSurfList(4);
        for (size_t k = 0; k < areas[c].size(); ++k)
            addPatch(list, {20.0 * k, 0, 1}, {10, 0, 0}, {0, areas[c][k] / 10, 0});
        int32_t index[2] = {0, 0}, direction[2];
        EXPECT_EQ(chooseBladeSurfaces(list, channel->hub, index, direction), picks[c][0]);
        EXPECT_EQ(index[0] * 10 + index[1], picks[c][1] * 10 + picks[c][2]) << c;
        // Without a hub, or a place for the answers, nothing is chosen.
        EXPECT_EQ(chooseBladeSurfaces(list, nullptr, index, direction), -1);
        EXPECT_EQ(chooseBladeSurfaces(list, channel->hub, nullptr, direction), -1);
        EXPECT_EQ(chooseBladeSurfaces(list, channel->hub, index, nullptr), -1);
        const int32_t n = list->count;
        list->count = 0;
        EXPECT_EQ(chooseBladeSurfaces(list, channel->hub, index, direction), -1);
        list->count = n;
        freeSurfList(list);
    }
    // The patch of area 100 measured above, trimmed to half its parameter square (50) or with only its
    // first loop point moved to the middle (75), is measured anew: beside patches of 95 and 50, the 95
    // is the bigger and the trimmed patch (first of the 50s when equal) the second.
    for (const bool firstOnly : {false, true}) {
        SurfList* list = newSurfList(4);
        addPatch(list, {20, 0, 1}, {10, 0, 0}, {0, 10, 0});
        addPatch(list, {100, 0, 1}, {10, 0, 0}, {0, 9.5, 0});
        addPatch(list, {140, 0, 1}, {10, 0, 0}, {0, 5, 0});
        ASSERT_GE(list->entries[0].loopCount, 1);
        Vec2* loop = list->entries[0].loops[0].points;
        if (firstOnly)
            loop[0] = {0.5, 0.5};
        else
            for (int32_t j = 0; j < list->entries[0].loops[0].count; ++j) loop[j].x *= 0.5;
        int32_t index[2] = {0, 0}, direction[2];
        EXPECT_EQ(chooseBladeSurfaces(list, channel->hub, index, direction), 2);
        EXPECT_EQ(index[0] * 10 + index[1], 10) << firstOnly;
        freeSurfList(list);
    }
    // So is that patch with only its first control point moved 5 out in x or y (125) or raised 10 in z
    // (about 130): beside patches of 105 and 50 it is the bigger.
    for (int c = 0; c < 3; ++c) {
        SurfList* list = newSurfList(4);
        addPatch(list, {20, 0, 1}, {10, 0, 0}, {0, 10, 0});
        addPatch(list, {100, 0, 1}, {10, 0, 0}, {0, 10.5, 0});
        addPatch(list, {140, 0, 1}, {10, 0, 0}, {0, 5, 0});
        Vec3& corner = list->entries[0].surface.rows[0][0];
        (c == 0 ? corner.x : c == 1 ? corner.y : corner.z) += c == 2 ? 10 : -5;
        int32_t index[2] = {0, 0}, direction[2];
        EXPECT_EQ(chooseBladeSurfaces(list, channel->hub, index, direction), 2);
        EXPECT_EQ(index[0] * 10 + index[1], 1) << c;
        freeSurfList(list);
    }
    freeHubShroud(channel);
}

TEST(BladeCurves, ExampleContoursLieOnTheBladeSides) {
    cycleParamsResetState();
    HubShroud* pair = exampleChannel();
    SurfList* sides = newSurfList(4);
    ASSERT_EQ(readSurfObjects(example("blade.kvx").c_str(), sides), 1);
    auto onSide = [&](const Vec3& p, int k) {
        SurfFoot foot;
        double d = -1;
        EXPECT_EQ(projectPointNurbsSurf(&sides->entries[k], nullptr, &p, &foot, &d), 1);
        return d;
    };
    // The tip edges of the whole selection: one on each side, past the shroud.
    Plist3DNode* chain = newPlist3DNode(10);
    // The contours need a chain of two lists: without the second nothing is read.
    EXPECT_EQ(idx5BladeEdgeContours(example("blade.kvx").c_str(), pair->hub, 0.5, chain), -1);
    EXPECT_EQ(idx5BladeEdgeContours(example("blade.kvx").c_str(), pair->hub, 0.5, nullptr), -1);
    freePlist3DChain(chain);
    std::strcpy(cycleParams()->bladeKvx, example("blade.kvx").c_str());
    chain = idx5BladeContourList(pair->hub, 0.5, 0);  // makes the chain of two itself
    ASSERT_NE(chain, nullptr);
    for (int k = 0; k < 2; ++k) {
        const Plist3D* l = (k == 0 ? chain : chain->next)->list;
        ASSERT_GT(l->count, 40);
        for (int32_t i = 0; i < l->count; i += 3) {
            EXPECT_LT(onSide(l->points[i], k), 1e-3);
            EXPECT_NEAR(closestPointProfile2D(pair->shroud, &l->points[i], nullptr, nullptr), 1.0, 0.2);
        }
    }
    // A selection that cannot be read is refused and leaves the chain's lists as they were.
    EXPECT_EQ(idx5BladeEdgeContours("missing.kvx", pair->hub, 0.5, chain), -1);
    EXPECT_GT(chain->list->count + chain->next->list->count, 80);
    // The mean lines of the two sides alone: midway between them, 1 inside the hub and past the shroud.
    sides->count = 2;
    ASSERT_EQ(writeSurfObjects("sides.kvx", sides), 1);
    sides->count = 4;
    ProfileCurve* c[2] = {};
    // Both curves are handed out or none.
    EXPECT_EQ(idx5CreateBladeCurves("sides.kvx", pair->hub, 0.5, nullptr, &c[1]), -1);
    EXPECT_EQ(idx5CreateBladeCurves("sides.kvx", pair->hub, 0.5, &c[0], nullptr), -1);
    ASSERT_EQ(idx5CreateBladeCurves("sides.kvx", pair->hub, 0.5, &c[0], &c[1]), 1);
    for (int m = 0; m < 2; ++m)
        for (int32_t i = 0; i < c[m]->count; i += 5) {
            const Vec3 p{c[m]->points[i].x, c[m]->points[i].y, c[m]->z[i]};
            EXPECT_NEAR(std::fabs(onSide(p, 0) - 1) + std::fabs(onSide(p, 1) - 1), 0, 0.02);
            EXPECT_NEAR(closestPointProfile2D(m == 0 ? pair->hub : pair->shroud, &p, nullptr, nullptr),
                        2 * m - 1, 0.05);
        }
    profileFreeList(c[0]);
    profileFreeList(c[1]);
    freePlist3DChain(chain);
    freeSurfList(sides);
    freeHubShroud(pair);
    cycleParamsResetState();
}

namespace {

// The bilinear patch through four corners (u, v) = (0, 0), (1, 0), (0, 1), (1, 1), trimmed by its square.
void quadPatch(SurfList* list, Vec3 p00, Vec3 p10, Vec3 p01, Vec3 p11) {
    TrimSurface rec;
    kvxInitTrimSurface(&rec);
    ASSERT_EQ(bsplSurfaceAlloc(&rec.surface, 2, 2, 2, 2, 0), 1);
    for (int i = 0; i < 4; ++i) rec.surface.uKnots[i] = rec.surface.vKnots[i] = i / 2;
    rec.surface.rows[0][0] = p00, rec.surface.rows[1][0] = p10;
    rec.surface.rows[0][1] = p01, rec.surface.rows[1][1] = p11;
    const Vec2 loop[5] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0}};
    ASSERT_EQ(trimSurfaceAddLoop(&rec, loop, 5), 1);
    ASSERT_EQ(surfListAppend(list, &rec), 1);
}

}  // namespace

// Over the flat hub z = 0 a point's hub distance is its height, and a patch's edges are straight: an
// edge's spread is the difference of its ends' heights. The iso lines run along u when the u edges
// spread at least as much as the v edges, whichever edge of a pair spreads more.
TEST(BladeCurves, EdgeSpreadsDecideTheIsoDirection) {
    HubShroud* channel = flatChannel(40);
    ASSERT_NE(channel, nullptr);
    const struct {
        double z00, z10, z01, z11;
    } rows[] = {{0, 0, 10, -10}, {0, 0, 10, 30}, {5, -5, 0, 0}, {0, 12, 0, 12}, {4, 0, 1, -9}, {0, 7, 9, 1}};
    for (const auto& r : rows) {
        SurfList* list = newSurfList(1);
        ASSERT_NE(list, nullptr);
        quadPatch(list, {20, 1, r.z00}, {40, 1, r.z10}, {20, 3, r.z01}, {40, 3, r.z11});
        const TrimSurface* s = &list->entries[0];
        // The edge u = 0 runs from (0, 0) to (0, 1); the edge v = 0 from (0, 0) to (1, 0).
        const double u0 = std::fabs(r.z01 - r.z00), u1 = std::fabs(r.z11 - r.z10);
        const double v0 = std::fabs(r.z10 - r.z00), v1 = std::fabs(r.z11 - r.z01);
        // The evaluator keeps a hair inside the parameter range: spreads fall short by a few 1e-8.
        EXPECT_NEAR(isoEdgeSpread(s, 0.0, kIsoFixU, channel->hub), u0, 1e-6) << r.z11;
        EXPECT_NEAR(isoEdgeSpread(s, 1.0, kIsoFixU, channel->hub), u1, 1e-6) << r.z11;
        EXPECT_NEAR(isoEdgeSpread(s, 0.0, kIsoFixV, channel->hub), v0, 1e-6) << r.z11;
        EXPECT_NEAR(isoEdgeSpread(s, 1.0, kIsoFixV, channel->hub), v1, 1e-6) << r.z11;
        EXPECT_EQ(isoEdgeSpread(s, NAN, kIsoFixU, channel->hub), -1.0);  // no points on that edge
        EXPECT_EQ(chooseIsoDirection(s, channel->hub), std::max(u0, u1) >= std::max(v0, v1) ? 1 : 0) << r.z11;
        freeSurfList(list);
    }
    EXPECT_EQ(isoEdgeSpread(nullptr, 0.0, kIsoFixU, channel->hub), -1.0);
    freeHubShroud(channel);
}

// A radial wall standing across the flat hub from z = -7 to 13: every sample's cross line meets the hub
// 0.35 of the way, found to 0.001 of the cross parameter (0.02 in height) and kept as its edge1 point. A
// wall above the hub, or a sample outside the strip, gives nothing and changes nothing.
TEST(BladeCurves, HubCrossingOfEachSampleByBisection) {
    HubShroud* channel = flatChannel(40);
    ASSERT_NE(channel, nullptr);
    for (const int32_t direction : {0, 1}) {
        for (const double lift : {0.0, 10.0}) {
            SurfList* list = newSurfList(1);
            ASSERT_NE(list, nullptr);
            // The cross direction is u for strips along v (direction 0), and v for strips along u.
            const Vec3 o{30, 0, -7 + lift}, up{0, 0, 20}, out{10, 0, 0};
            addPatch(list, o, direction == 0 ? up : out, direction == 0 ? out : up);
            IsoStrip* s = idx5SurfaceIsoCurve(&list->entries[0], direction, 2.0);
            ASSERT_NE(s, nullptr);
            ASSERT_GE(s->count, 3);
            for (int32_t i = 0; i < s->count; ++i) {
                const Vec3 before = s->edge1[i];
                const int rc = hubCrossingOnStrip(s, i, direction, channel->hub);
                EXPECT_EQ(rc, lift == 0 ? 1 : 0) << direction << " " << i;
                const Vec3& e = s->edge1[i];
                if (lift == 0) {
                    EXPECT_NEAR(e.x, 30 + 10 * s->t[i], 1e-6) << direction << " " << i;
                    // Ten halvings of [0, 1]: a parameter of 1024ths within one of them of the crossing.
                    const double c = (e.z + 7) / 20 * 1024;
                    EXPECT_NEAR(c, std::round(c), 1e-6) << direction << " " << i;
                    EXPECT_LE(std::fabs(e.z), 20.0 / 1024) << direction << " " << i;
                } else {
                    EXPECT_EQ(std::memcmp(&before, &e, sizeof e), 0) << direction << " " << i;
                }
            }
            if (lift == 0) {  // a hub through a sample's first cross point: a crossing at that end
                Vec3 p0;
                const double t = s->t[1];
                ASSERT_EQ(isoSurfacePoint(&list->entries[0], direction ? t : 0, direction ? 0 : t, &p0), 1);
                Profile2D* foot = profileOf({{10, p0.z}, {60, p0.z}});
                EXPECT_EQ(hubCrossingOnStrip(s, 1, direction, foot), 1) << direction;
                EXPECT_NEAR(s->edge1[1].z, p0.z, 20.0 / 1024) << direction;
                freeProfile2D(foot);
            }
            EXPECT_EQ(hubCrossingOnStrip(s, s->count, direction, channel->hub), 0);
            EXPECT_EQ(hubCrossingOnStrip(s, -1, direction, channel->hub), 0);
            s->t[0] = NAN;  // a sample the surface cannot be evaluated at
            EXPECT_EQ(hubCrossingOnStrip(s, 0, direction, channel->hub), 0);
            isoStripFree(s);
            freeSurfList(list);
        }
    }
    freeHubShroud(channel);
}

// A flat patch offset by 1.5 along its normal (the y axis): in either direction every sample of the
// strip lies 1.5 off the plane, over the patch point of its parameters.
TEST(BladeCurves, OffsetIsoLinesLieOffTheirSurface) {
    SurfList* list = newSurfList(1);
    ASSERT_NE(list, nullptr);
    addPatch(list, {30, 0, 0}, {4, 0, 0}, {0, 0, 10});
    TrimSurface* rec = &list->entries[0];
    rec->hasOffset = 1;
    rec->offset = 1.5;
    for (const int32_t dir : {0, 1}) {
        IsoStrip* s = idx5SurfaceIsoCurve(rec, dir, 1.0);
        ASSERT_NE(s, nullptr);
        ASSERT_EQ(s->count, dir == 0 ? 12 : 6);  // lengths 10 along v and 4 along u
        for (int32_t i = 0; i < s->count; ++i) {
            const Vec3* rows[3] = {&s->edge0[i], &s->middle[i], &s->edge1[i]};
            for (int k = 0; k < 3; ++k) {
                const double u = dir == 0 ? 0.5 * k : s->t[i], v = dir == 0 ? s->t[i] : 0.5 * k;
                EXPECT_NEAR(rows[k]->x, 30 + 4 * u, 1e-6) << dir << " " << i << " " << k;
                EXPECT_NEAR(std::fabs(rows[k]->y), 1.5, 1e-9) << dir << " " << i << " " << k;
                EXPECT_NEAR(rows[k]->z, 10 * v, 1e-6) << dir << " " << i << " " << k;
            }
        }
        isoStripFree(s);
    }
    freeSurfList(list);
}

namespace {

// Strips of a flat patch along either direction, copied in part and split: their samples.
AllocMade stripsOfAPatch() {
    static SurfList* list = nullptr;
    if (list == nullptr) {
        list = newSurfList(1);
        addPatch(list, {30, 0, 0}, {4, 0, 0}, {0, 0, 10});
    }
    std::vector<double> v;
    v.reserve(4096);
    bool ok = true;
    for (int32_t dir = 0; ok && dir < 2; ++dir) {
        IsoStrip* s = idx5SurfaceIsoCurve(&list->entries[0], dir, 0.5);
        IsoStrip* part = s ? isoStripCopyRange(s, 2, 6) : nullptr;
        IsoStrip *a = nullptr, *b = nullptr;
        ok = part && splitIsoStrip(s, &a, &b, 1.0) == 1;
        for (const IsoStrip* x : {s, part, a, b})
            for (int32_t i = 0; ok && i < x->count; ++i)
                v.insert(v.end(), {x->t[i], x->edge0[i].z, x->middle[i].x, x->edge1[i].x});
        for (IsoStrip* x : {s, part, a, b}) isoStripFree(x);
    }
    return ok ? AllocMade(v) : std::nullopt;
}

}  // namespace

TEST(BladeCurves, StripsRefuseEachFailedAllocation) {
    failEachAllocation("strips", stripsOfAPatch);
    // No strip of no surface, of a tolerance that is not positive, or of more than a million samples.
    SurfList* list = newSurfList(1);
    ASSERT_NE(list, nullptr);
    addPatch(list, {30, 0, 0}, {4, 0, 0}, {0, 0, 10});
    for (const double tol : {0.0, -1.0, double(NAN), 9e-6})
        EXPECT_EQ(idx5SurfaceIsoCurve(&list->entries[0], 0, tol), nullptr);
    EXPECT_EQ(idx5SurfaceIsoCurve(nullptr, 0, 1.0), nullptr);
    Vec3 p{};
    EXPECT_EQ(isoSurfacePoint(nullptr, 0, 0, &p), -1);
    EXPECT_EQ(isoSurfacePoint(&list->entries[0], 0, 0, nullptr), -1);
    EXPECT_EQ(isoStripCopyRange(nullptr, 0, 0), nullptr);
    EXPECT_NEAR(isoLineLength(&list->entries[0], 0), 10.0, 1e-6);
    EXPECT_NEAR(isoLineLength(&list->entries[0], 1), 4.0, 1e-6);
    // Orientation and hub crossings need both strips, a hub and a sample of the strip.
    IsoStrip* s = idx5SurfaceIsoCurve(&list->entries[0], 0, 1.0);
    ASSERT_NE(s, nullptr);
    HubShroud* channel = flatChannel(20);
    EXPECT_EQ(orientBladeStrips(nullptr, s, channel->hub, 0), -1);
    EXPECT_EQ(orientBladeStrips(s, nullptr, channel->hub, 0), -1);
    EXPECT_EQ(orientBladeStrips(s, s, nullptr, 0), -1);
    IsoStrip* one = isoStripCopyRange(s, 0, 0);  // one sample is enough: no turn, no exchange
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(orientBladeStrips(one, one, channel->hub, 0), 0);
    isoStripFree(one);
    EXPECT_EQ(hubCrossingOnStrip(nullptr, 0, 0, channel->hub), 0);
    EXPECT_EQ(hubCrossingOnStrip(s, 0, 0, nullptr), 0);
    EXPECT_EQ(isoEdgeSpread(&list->entries[0], 0, kIsoFixU, nullptr), -1.0);
    EXPECT_EQ(idx5CreateBladeCurves(nullptr, channel->hub, 0.5, nullptr, nullptr), -1);
    isoStripFree(s);
    freeHubShroud(channel);
    freeSurfList(list);
}

// Sides in the planes y = 0 and y = 5 with edges at the heights given at r 10, 20, 30 over the hub
// z = 0: edge1 ends as the edge nearer the hub at the end where the edges lie farther apart (the other
// end's edges cross), whichever edge came first. The second side lies ahead of the first about the axis:
// flag 1 exchanges them. Both then run inward, and the second (flag 0) or the first is turned back.
TEST(BladeCurves, OrientedStripsEndWithTheHubEdgeSecond) {
    cycleParamsResetState();
    HubShroud* channel = flatChannel(20);
    const struct {
        double e0[3], e1[3];
    } sides[] = {{{5, 5, 5}, {0, 9, 4.9}},
                 {{0, 9, 4.9}, {5, 5, 5}},
                 {{5, 5, 5.05}, {4.9, 9, 0}},
                 {{4.9, 9, 0}, {5, 5, 5.05}}};
    for (const auto& c : sides)
        for (const int32_t flag : {0, 1}) {
            IsoStrip* st[2] = {isoStripCreate(3), isoStripCreate(3)};
            for (int k = 0; k < 2; ++k)
                for (int i = 0; i < 3; ++i) {
                    const double r = 10 + 10 * i, y = 5.0 * k;
                    st[k]->edge0[i] = {r, y, c.e0[i]}, st[k]->edge1[i] = {r, y, c.e1[i]};
                    st[k]->middle[i] = {r, y, 0.5 * (c.e0[i] + c.e1[i])}, st[k]->t[i] = 0.5 * i;
                }
            EXPECT_EQ(orientBladeStrips(st[0], st[1], channel->hub, flag), flag);
            EXPECT_EQ(st[0]->edge0[0].y, 5.0 * flag);
            EXPECT_EQ(st[1 - flag]->edge0[0].x + 0.1 * st[flag]->edge0[0].x, 13.0);
            for (IsoStrip* x : st) {
                EXPECT_NEAR(x->edge1[0].z + x->edge1[1].z + x->edge1[2].z, 13.9, 1e-12) << c.e0[0];
                isoStripFree(x);
            }
        }
    // A second side of two samples whose middle runs from (12, -1) to (8, 3): its point nearest the first
    // side's middle sample (10, 0) is (10.5, 0.5), ahead of it about the axis though its first sample lies
    // behind (and its nearest point to the first side's second sample (10, 2) lies behind that). Mirrored
    // in y the second side lies behind: flag 0 exchanges them.
    for (const double m : {1.0, -1.0})
        for (const int32_t flag : {0, 1}) {
            IsoStrip *a = isoStripCreate(4), *b = isoStripCreate(2);
            const Vec3 first[4] = {{11, -2 * m, 0}, {10, 2 * m, 0}, {10, 0, 0}, {11, m, 0}},
                       ends[2] = {{12, -m, 0}, {8, 3 * m, 0}};
            for (int i = 0; i < 4; ++i)
                a->edge0[i] = a->edge1[i] = a->middle[i] = first[i], a->t[i] = i / 3.0;
            for (int i = 0; i < 2; ++i) b->edge0[i] = b->edge1[i] = b->middle[i] = ends[i], b->t[i] = i;
            EXPECT_EQ(orientBladeStrips(a, b, channel->hub, flag), m > 0 ? flag : 1 - flag) << m;
            isoStripFree(a);
            isoStripFree(b);
        }
    freeHubShroud(channel);
}
