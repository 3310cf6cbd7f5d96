// Rings of a plane: levels and parents of a pocket without islands, island
// merging and restart, the stop conditions, and on seeded pockets with islands
// every ring inside the pocket and outside the islands by R + allowance, with
// the swept rings covering the reachable floor (GEOS, test-only).
#include "pocket/planerings.h"

#include <algorithm>
#include <random>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/rifblock.h"
#include "ringtest_util.h"

namespace {

struct Plane : RingState {
    Plane(double r, double f) : RingState(r, f) {
        EXPECT_EQ(regionTreeInit(1), 1);
        pocketKernel().wantedOrientation = 1;
        EXPECT_EQ(clistCreate("MAIN"), 1);
    }
    // The whole ring build of a closed plane; the result of the step loop.
    int run(bool cuts) {
        const PocketKernel& k = pocketKernel();
        EXPECT_EQ(cutListsCreate(cuts), 0);
        const double* a = pocketAllowances();
        if (pocketOffsetIslands(k.toolRadius, a, 1) < 0) return -1;
        const int first = pocketLevelLoop(k.toolRadius, a[0], k.stepFactor, 1);
        if (first <= 0) return first;
        const double s = 2 * k.toolRadius * k.stepFactor;
        if (k.splitPath && (pocketSpanBackCuts(s, 1, 1) < 0 || pocketSplitRings(s) < 0)) return -1;
        return pocketSpanBackCuts(s, 1, 0);
    }
};

std::vector<ContourElement> nodeRing(int32_t node) {
    const RegionNode* n = regionNode(node);
    std::vector<ContourElement> c(n ? n->elementCount : 0);
    if (n) {
        EXPECT_EQ(regionLoadElements(c.data(), static_cast<int32_t>(c.size()), n->elements), 1);
    }
    return c;
}

// A list's contour (empty when missing), its header into *h.
std::vector<ContourElement> get(const char* list, int32_t i, ContourHeader* h = nullptr) {
    ContourHeader own{};
    ContourHeader& hd = h ? *h : own;
    std::vector<ContourElement> c;
    if (clistGetHeader(list, &hd, i) < 0) return c;
    c.resize(hd.elementCount);
    clistGet(list, c.data(), &hd, i);
    return c;
}

// A random star-shaped pocket about the origin and up to three small islands well inside it.
void seededPocket(std::vector<std::vector<ContourElement>>* islands, std::vector<ContourElement>* outer) {
    std::vector<Vec2> p;
    const int n = 6 + rngBelow(6);
    for (int i = 0; i < n; ++i) {
        const double a = 2 * offsettest::kPi * (i + 0.3 * rngUniform()) / n;
        const double rad = 60 + 25 * rngUniform();
        p.push_back({rad * std::cos(a), rad * std::sin(a)});
    }
    *outer = polygon(p);
    const int k = rngBelow(4);
    for (int i = 0; i < k; ++i) {
        const double a = 2 * offsettest::kPi * i / 3 + rngUniform(), d = 20 * rngUniform();
        const double cx = d * std::cos(a), cy = d * std::sin(a), h = 3 + 4 * rngUniform();
        islands->push_back(box(cx - h, cy - h, cx + h, cy + h, false));
    }
}

// Every ring of the tree, sampled at element starts and middles, keeps d from
// the boundary and the islands, inside the boundary and outside the islands.
void expectRingsClear(const std::vector<ContourElement>& outer,
                      const std::vector<std::vector<ContourElement>>& islands, double d, int t) {
    for (int32_t i = 0; i < regionNodeCount(); ++i)
        for (const ContourElement& e : nodeRing(i))
            for (double u : {0.0, 0.5}) {
                const Vec2 p = offsettest::pointAlong(e, u);
                EXPECT_GE(offsettest::distanceTo(p, outer), d) << t << " node " << i;
                EXPECT_NE(pointInContour(outer.data(), static_cast<int32_t>(outer.size()), &p), 0) << t;
                for (const auto& island : islands) {
                    EXPECT_GE(offsettest::distanceTo(p, island), d) << t << " node " << i;
                    EXPECT_EQ(pointInContour(island.data(), static_cast<int32_t>(island.size()), &p), 0) << t;
                }
            }
}

}  // namespace

// Without islands: the first ring is the boundary offset by R + allowance, every
// later ring one step further in, one level deeper, its parent the ring before;
// the innermost ring is the last one a step can make. A ring of fewer than 5
// elements shorter than the step makes no further ring (a 0.6 square, 2.4 long, step 0.8). From the
// stock inwards every element of a later ring, an open one too, carries its parent's index.
TEST(PlaneRings, PocketWithoutIslandsStepsInward) {
    const struct {
        double w, h, r, allowance;
    } cases[] = {{40, 30, 2, 0.5}, {2.6, 2.6, 1, 0}, {40, 30, 2, 0.5}};
    for (const auto& c : cases) {
        Plane plane(c.r, 0.4);
        const bool stock = &c == &cases[2];
        pocketKernel().stockOutin = stock;
        std::vector<ContourElement> outer = box(0, 0, c.w, c.h);
        for (ContourElement& e : outer) e.sourceTag = stock ? -1 : 0;  // all sides open
        put("MAIN", outer, true, true, 0);
        pocketAllowanceSet(0, c.allowance);
        const bool outsideIn = &c == &cases[1];
        pocketKernel().outsideInDirect = outsideIn;
        const int64_t calls = pocketErrorCalls();
        ASSERT_EQ(plane.run(false), 1);
        EXPECT_EQ(pocketErrorCalls(), calls);  // no island, no merge: not even a silent code
        const double s = 2 * c.r * 0.4, first = c.r + c.allowance;
        ASSERT_EQ(regionNodeCount(), static_cast<int32_t>((c.h / 2 - first) / s) + 1) << c.w;
        for (int32_t i = 0; i < regionNodeCount(); ++i) {
            const RegionNode* n = regionNode(i);
            ASSERT_NE(n, nullptr);
            EXPECT_EQ(n->level, i);
            EXPECT_EQ(std::pair(n->parentCount, regionParent(i, 1)), std::pair(i > 0 ? 1 : 0, i - 1)) << i;
            for (const ContourElement& e : nodeRing(i)) {
                EXPECT_NEAR(offsettest::distanceTo(offsettest::startPoint(e), outer), first + i * s, 1e-3)
                    << i;
                EXPECT_TRUE(!stock || i == 0 || e.sourceTag == i - 1) << i;  // open ones too
            }
        }
        EXPECT_EQ(clistCount("SPAN"), 0);                  // freed at the end
        EXPECT_EQ(clistCount("MAIN"), outsideIn ? 1 : 0);  // kept for the outside-in walk only
        pocketKernel().outsideInDirect = pocketKernel().stockOutin = 0;
    }
}

// Two rooms joined by a neck the second ring no longer passes: the rings split, and each room is
// stepped down to its middle, so that every point the tool's centre can reach lies within one step of a
// ring (brute force over a grid).
TEST(PlaneRings, ANeckSplitsTheRingsAndBothRoomsAreCut) {
    const double r = 1.5, f = 0.4, s = 2 * r * f;
    Plane plane(r, f);
    const std::vector<ContourElement> outer = polygon({{0, 0},
                                                       {20, 0},
                                                       {20, 8},
                                                       {30, 8},
                                                       {30, 0},
                                                       {50, 0},
                                                       {50, 20},
                                                       {30, 20},
                                                       {30, 12},
                                                       {20, 12},
                                                       {20, 20},
                                                       {0, 20}});
    put("MAIN", outer, true, true, 0);
    ASSERT_EQ(plane.run(false), 1);
    std::vector<std::vector<ContourElement>> rings;
    for (int32_t i = 0; i < regionNodeCount(); ++i) rings.push_back(nodeRing(i));
    int reached = 0;
    for (double x = 0.25; x < 50; x += 0.5)
        for (double y = 0.25; y < 20; y += 0.5) {
            const Vec2 p{x, y};
            if (pointInContour(outer.data(), static_cast<int32_t>(outer.size()), &p) == 0 ||
                offsettest::distanceTo(p, outer) < r + 1e-6)
                continue;
            ++reached;
            double best = 1e300;
            for (const auto& ring : rings) best = std::min(best, offsettest::distanceTo(p, ring));
            EXPECT_LE(best, s + 1e-6) << x << " " << y;
        }
    EXPECT_GT(reached, 1000);
}

// With fillets wanted the first ring, (w - 5) x (h - 5), gets the arcs of an opening by the fillet radius at
// its corners (one too narrow for that opening has them rounded, here by half the radius); without, its
// corners stay sharp.
TEST(PlaneRings, FirstRingCornersOpenedByTheFilletRadius) {
    const struct { double w, h, arc; } cases[] = {{20, 14, 3}, {20, 14, 0}, {12, 9, 1.5}};
    for (const auto& c : cases) {
        Plane plane(2, 0.4);
        kvCCPParams.filletCorners = c.arc > 0 ? 1 : 0;
        kvCCPParams.filletRadius = 3;
        put("MAIN", box(0, 0, c.w, c.h), true, true, 0);
        pocketAllowanceSet(0, 0.5);
        ASSERT_EQ(plane.run(false), 1);
        const std::vector<ContourElement> first = nodeRing(0);
        int arcs = 0;
        for (const ContourElement& e : first)
            arcs += e.type == kElemArc && std::fabs(e.g[kAr] - c.arc) < 1e-6;
        EXPECT_EQ(arcs, c.arc > 0 ? 4 : 0) << c.w;
        const double sharp = (c.w - 5) * (c.h - 5), cut = 4 * c.arc * c.arc * (1 - offsettest::kPi / 4);
        EXPECT_NEAR(offsettest::signedArea(first), sharp - cut, 1e-3) << c.w;
        kvCCPParams.filletCorners = 0;
        kvCCPParams.filletRadius = 0;
    }
}

// A pocket the tool does not fit gives no ring: the level loop answers 0 and the tree stays empty.
TEST(PlaneRings, NoRingWhereTheToolDoesNotFit) {
    Plane plane(2, 0.4);
    put("MAIN", box(0, 0, 3.9, 3.9), true, true, 0);
    EXPECT_EQ(plane.run(false), 0);
    EXPECT_EQ(regionNodeCount(), 0);
}

// An island crossed by a boundary ring is merged into it: one island ring is
// left, and a merged ring's node has it as a parent. Three islands in a row, 4
// apart with R 3: the first rings of the last two merge, and the merged ring
// goes on to merge with the first island's ring. No ring runs over an island.
TEST(PlaneRings, CrossedIslandsAreMerged) {
    const struct {
        double r;
        std::vector<ContourElement> outer;
        std::vector<std::vector<ContourElement>> islands;
    } cases[] = {{2, box(0, 0, 60, 40), {box(25, 15, 35, 25, false)}},
                 {3,
                  box(-20, -20, 60, 30),
                  {box(0, 0, 10, 10, false), box(14, 0, 24, 10, false), box(28, 0, 38, 10, false)}}};
    for (const auto& c : cases) {
        Plane plane(c.r, 0.4);
        put("MAIN", c.outer, true, true, 0);
        for (size_t i = 0; i < c.islands.size(); ++i)
            put("MAIN", c.islands[i], false, true, static_cast<int16_t>(i + 1));
        ASSERT_EQ(plane.run(false), 1);
        int32_t islandNode = -1, islandRings = 0, children = 0;
        for (int32_t i = 0; i < regionNodeCount(); ++i)
            if (regionNode(i)->level == 0 && offsettest::signedArea(nodeRing(i)) < 0)
                islandNode = i, ++islandRings;
        EXPECT_EQ(islandRings, 1) << c.r;
        for (int32_t i = 0; i < regionNodeCount(); ++i) children += regionIsParent(i, islandNode);
        EXPECT_GE(children, 1) << c.r;
        expectRingsClear(c.outer, c.islands, c.r - 1e-3, 0);
    }
}

// All first offsets 0 (allowance -R): one ring at level 0, the boundary itself, one island ring, the island
// itself, no island merge, no growth left to the offsets after it. The SPAN ring and the island ring are
// then reduced within R / 100: a 64-gon of radius 20 (sagitta 0.024) stays, a 72-gon (0.019) becomes four
// quarter arcs of the circle. So does an island 65-gon of radius 8 (0.009), and the island's next ring a step
// further out with it; a 64-gon, too few elements to be worth reducing, stays.
TEST(PlaneRings, ZeroFirstOffset) {
    for (const int sides : {64, 72}) {
        Plane plane(2, 0.4);
        for (const auto& [rho, n, ccw] :
             {std::tuple{20.0, sides, true}, {8.0, sides > 64 ? 65 : 64, false}}) {
            std::vector<Vec2> p;
            for (int i = 0; i < n; ++i)
                p.push_back({rho * std::cos(2 * offsettest::kPi * i / n),
                             rho * std::sin(2 * offsettest::kPi * i / n)});
            if (!ccw) std::reverse(p.begin(), p.end());
            put("MAIN", polygon(p), ccw, true, ccw ? 0 : 1);
            pocketAllowanceSet(ccw ? 0 : 1, -2);
        }
        EXPECT_EQ(cutListsCreate(0), 0);
        ASSERT_EQ(pocketOffsetIslands(2, pocketAllowances(), 1), 1);
        ASSERT_EQ(pocketLevelLoop(2, -2, 0.4, 1), 1);
        ASSERT_EQ(std::pair(regionNodeCount(), pocketOffsetState().growMode), std::pair(2, 0));
        const std::vector<ContourElement> g = get("GKT", 0);
        EXPECT_EQ(
            g.size() == 4 && std::all_of(g.begin(), g.end(), [](auto& e) { return e.type == kElemArc; }),
            sides > 64);
        const double polygonArea = sides * 200 * std::sin(2 * offsettest::kPi / sides);
        EXPECT_NEAR(offsettest::signedArea(nodeRing(0)), polygonArea, 1e-6);
        const std::vector<ContourElement> c = get("SPAN", 0);
        const bool arcs = sides > 64;
        EXPECT_EQ(c.size(), arcs ? 4u : 64u);
        for (const ContourElement& e : c) EXPECT_EQ(e.type, arcs ? kElemArc : kElemLine);
        EXPECT_NEAR(offsettest::signedArea(c), arcs ? 400 * offsettest::kPi : polygonArea, 1e-6);
    }
}

// Seeded wavy islands of over a hundred corners: the ring round each keeps R + allowance off it. One has
// its first offset refused and retried: the retry moves the ring out by less than 0.001, never in.
TEST(PlaneRings, IslandRingsKeepTheirDistanceAfterARetry) {
    for (uint32_t seed = 286; seed < 290; ++seed) {
        Plane plane(2, 0.4);
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> u(0.0, 1.0);
        const int n = 101 + seed % 60;
        std::vector<Vec2> p;
        for (int i = 0; i < n; ++i) {
            const double a = -2 * offsettest::kPi * i / n, rad = 5 + u(rng);
            p.push_back({50 + rad * std::cos(a), 50 + rad * std::sin(a)});
        }
        const double allowance = 2 * u(rng) - 0.5, d = 2 + allowance;
        const std::vector<ContourElement> island = polygon(p);
        put("MAIN", box(0, 0, 100, 100), true, true, 0);
        put("MAIN", island, false, true, 1);
        pocketAllowanceSet(1, allowance);
        ASSERT_EQ(pocketOffsetIslands(2, pocketAllowances(), 1), 1) << seed;
        ASSERT_EQ(clistCount("GKT"), 1) << seed;
        for (const ContourElement& e : get("GKT", 0)) {
            const double q = offsettest::distanceTo(offsettest::endPoint(e), island);
            EXPECT_TRUE(q > d - 1e-4 && q < d + 1e-3) << seed << " " << q - d;
        }
    }
    pocketAllowanceSet(1, 0);
}

// Contours whose own allowances are -R need no merge, though the boundary's first ring lies 0.5 in: an
// island ring reaching past that ring, short of the wall, is left out (3030); one clear of it is not. For a
// pocket contour, grouped contours starting on an inserted element are turned to start after it.
TEST(PlaneRings, AnIslandRingAcrossTheFirstRingIsLeftOut) {
    for (const double right : {99.8, 99.3}) {
        Plane plane(2, 0.4);
        pocketKernel().pocketContour = 1;
        for (int i = 0; i < 2; ++i) {
            std::vector<ContourElement> c = i ? box(50, 40, right, 60, false) : box(0, 0, 100, 100);
            c[0].sourceTag = -2;
            ContourHeader h = header(c, !i, true, static_cast<int16_t>(i));
            h.allowance = -2;
            h.group = 1;
            ASSERT_EQ(clistInsert("MAIN", c.data(), &h, -1), 1);
            pocketAllowanceSet(i, i ? -2 : -1.5);
        }
        EXPECT_EQ(cutListsCreate(0), 0);
        ASSERT_EQ(pocketOffsetIslands(2, pocketAllowances(), 1), 1);
        const int64_t calls = pocketErrorCalls();
        ASSERT_EQ(pocketLevelLoop(2, -1.5, 0.4, 1), 1);
        EXPECT_EQ(pocketErrorCalls() - calls, right > 99.5 ? 1 : 0) << right;
        EXPECT_EQ(regionNodeCount(), right > 99.5 ? 1 : 2) << right;
        for (int32_t i = 0; i < 2; ++i) EXPECT_EQ(get("MAIN", i).back().sourceTag, -2) << i;
        pocketKernel().pocketContour = 0;
    }
}

// Seeded pockets with islands (some through the split path): every ring keeps
// R + allowance from the boundary and from each island and lies inside the
// boundary and outside the islands; with the CUT lists on and a step of almost the tool diameter (where
// the rings alone leave the corners), the tool swept along rings and cuts
// covers the floor it can reach.
TEST(PlaneRings, SeededRingsStayInsideAndCover) {
    rngSeed(4631);
    for (int t = 0; t < 8; ++t) {
        const double r = 3, f = t % 2 ? 0.4 : 0.99;
        Plane plane(r, f);
        kvCCPParams.completePocket = t % 2 == 0;
        pocketKernel().splitPath = t % 4 == 1;
        std::vector<std::vector<ContourElement>> islands;
        std::vector<ContourElement> outer;
        seededPocket(&islands, &outer);
        put("MAIN", outer, true, true, 0);
        for (size_t i = 0; i < islands.size(); ++i)
            put("MAIN", islands[i], false, true, static_cast<int16_t>(i + 1));
        const double allowance = 0.5 * (t % 3);
        for (size_t i = 0; i <= islands.size(); ++i) pocketAllowanceSet(static_cast<int32_t>(i), allowance);
        ASSERT_EQ(plane.run(kvCCPParams.completePocket), 1) << t;
        ASSERT_GT(regionNodeCount(), 0) << t;
        expectRingsClear(outer, islands, r + allowance - 1e-3, t);
#ifdef KV_HAVE_GEOS
        if (!kvCCPParams.completePocket) continue;
        offsettest::Geos g;
        GEOSGeometry* floor = g.polygon(outer, islands, offsettest::kPi / 32);
        // The floor the tool can reach: the pocket less the allowance, opened by the tool radius.
        GEOSGeometry* in = GEOSBuffer_r(g.h, floor, -(r + allowance), 16);
        GEOSGeometry* reach = GEOSBuffer_r(g.h, in, r, 16);
        std::vector<GEOSGeometry*> swept;
        for (int32_t i = 0; i < regionNodeCount(); ++i) {
            GEOSGeometry* l = g.line(nodeRing(i), offsettest::kPi / 32, false);
            swept.push_back(GEOSBuffer_r(g.h, l, r, 16));
            GEOSGeom_destroy_r(g.h, l);
        }
        GEOSGeometry* all = GEOSGeom_createCollection_r(g.h, GEOS_GEOMETRYCOLLECTION, swept.data(),
                                                        static_cast<unsigned>(swept.size()));
        GEOSGeometry* covered = GEOSUnaryUnion_r(g.h, all);
        GEOSGeometry* left = GEOSDifference_r(g.h, reach, covered);
        double leftArea = 0, reachArea = 0;
        GEOSArea_r(g.h, left, &leftArea);
        GEOSArea_r(g.h, reach, &reachArea);
        EXPECT_LT(leftArea, 1e-3 * reachArea) << t;
        for (GEOSGeometry* x : {floor, in, reach, all, covered, left}) GEOSGeom_destroy_r(g.h, x);
#endif
    }
}

// An island ring left in GKT when SPAN runs empty is restarted: it moves to SPAN and its rings are
// attached at level 1 below the island's node, unless they lie inside an INPUT island; one across INPUT goes
// in too. Its back cut runs round it the tool radius outside, against its sense, an open move (tag -1).
TEST(PlaneRings, UncrossedIslandRingRestartsAtLevelOne) {
    for (const int inside : {0, 1, 2}) {
        Plane plane(2, 0.4);
        put("MAIN", box(0, 0, 100, 100, true), true, true, 0);
        put("MAIN", box(40, 40, 60, 60, false), false, true, 1);
        ASSERT_EQ(cutListsCreate(1), 0);
        for (const char* l : {"SPAN", "GKT", "INPUT"}) ASSERT_EQ(clistCreate(l), 1);
        if (inside == 1) put("INPUT", box(10, 10, 90, 90, false), false, true, 1);
        if (inside == 2) put("INPUT", box(0, 49, 100, 51, false), false, true, 1);
        // The ring around the island runs with its material on the right.
        const int32_t node = attachBox(36, 36, 64, 64, 0, false, {}, 0);
        // A ring tagged as dropped goes; the restarted one is then first; one whose orientation is not its
        // side's waits in GKT.
        put("GKT", box(30, 30, 70, 70, false, node), false, false, -3);
        put("GKT", box(30, 30, 70, 70, false, node), false, false, static_cast<int16_t>(node));
        put("GKT", box(30, 30, 70, 70, false, node), false, true, static_cast<int16_t>(node));
        const int64_t calls = pocketErrorCalls();
        ASSERT_EQ(pocketIslandRestart(1.6), 0);
        EXPECT_EQ(pocketErrorCalls() - calls, inside == 2 ? 1 : 0);  // a ring across INPUT: the silent 3119
        ASSERT_EQ(clistCount("GKT"), 1);
        ContourHeader waiting{};
        EXPECT_EQ((get("GKT", 0, &waiting), waiting.leftSide), 1);
        put("GKT", box(30, 30, 70, 70, false, node), false, true, -4);  // dropped too, though none restarts
        ASSERT_EQ(pocketIslandRestart(1.6), 0);
        EXPECT_EQ(clistCount("GKT"), 1);
        ASSERT_EQ(clistCount("SPAN"), 1);
        ASSERT_EQ(regionNodeCount(), inside == 1 ? 1 : 2);
        if (inside == 1) continue;
        ContourHeader back{}, ring{};
        const std::vector<ContourElement> cut = get("CUT_BACK", 0, &back), span = get("SPAN", 0, &ring);
        EXPECT_EQ(clistCount("CUT_BACK"), 1);
        EXPECT_NE(back.ccw, ring.ccw);
        for (const ContourElement& e : cut) {
            const Vec2 p = offsettest::pointAlong(e, 0.5);
            EXPECT_NEAR(offsettest::distanceTo(p, span), 2, 1e-9);
            EXPECT_TRUE(pointInContour(span.data(), 4, &p) == 0 && e.sourceTag == -1);
        }
        EXPECT_EQ(regionNode(1)->level, 1);
        EXPECT_EQ(regionIsParent(1, node), 1);
    }
}

// A frozen merge nudges the GKT ring off by 0.0006 (0.01 for pocket contours): every corner of the new
// ring lies that far from the old square, its area changes by about the perimeter times it, its header
// stays; nothing frozen, nothing nudged; no ring at the index, -1.
TEST(PlaneRings, FrozenMergeNudgesTheIslandRing) {
    for (const int contour : {0, 1}) {
        Plane plane(2, 0.4);
        ASSERT_EQ(clistCreate("GKT"), 1);
        put("GKT", box(0, 0, 10, 10, false), false, true, 7);  // an island's ring
        PocketOffsetState& off = pocketOffsetState();
        pocketKernel().pocketContour = contour;
        off.distanceFrozen = 0;
        EXPECT_EQ(islandRingNudge(0, 7, 1, 0, 0), 0);
        EXPECT_NEAR(offsettest::signedArea(get("GKT", 0)), -100, 1e-12);
        off.distanceFrozen = 1;
        off.growMode = 1;
        EXPECT_EQ(islandRingNudge(1, 7, 1, 0, 0), -1);
        ASSERT_EQ(islandRingNudge(0, 7, 1, 0, 0), 1);
        EXPECT_EQ(off.growMode, 0);
        ContourHeader h{};
        const std::vector<ContourElement> ring = get("GKT", 0, &h);
        EXPECT_EQ(h.tag, 7);
        EXPECT_EQ(h.leftSide, 1);
        const double by = contour ? 0.01 : 0.0006;
        const std::vector<ContourElement> square = box(0, 0, 10, 10, false);
        for (const ContourElement& e : ring)
            EXPECT_NEAR(offsettest::distanceTo(offsettest::startPoint(e), square), by, 1e-9) << contour;
        EXPECT_NEAR(std::fabs(std::fabs(offsettest::signedArea(ring)) - 100), 40 * by, 4 * by * by)
            << contour;
        if (contour) continue;
        // A ring the nudge leaves no ring of stays as it was.
        put("GKT", box(0, 0, 0.001, 0.001, false), false, true, 7);
        EXPECT_EQ(islandRingNudge(1, 7, 1, 0, 0), 0);
        EXPECT_NEAR(offsettest::signedArea(get("GKT", 1)), -1e-6, 1e-15);
    }
}

// A ring and an island ring crossing more than 5000 times stop the step with 3030; an empty or missing
// list, or one of fewer rings than asked, has nothing to step; the split fails at once without memory.
TEST(PlaneRings, TooManyCrossingsStopTheStep) {
    Plane plane(2, 0.4);
    put("MAIN", box(0, 0, 100, 100, true), true, true, 0);
    ASSERT_EQ(clistCreate("SPAN"), 1);
    ASSERT_EQ(clistCreate("GKT"), 1);
    for (const char* list : {"SPAN", "NONE"}) EXPECT_EQ(pocketLevelStep(list, 1.6, 0, 1, 0, 1), 0);
    put("SPAN", comb(5, 95, 6, 15, 1300), true, true);
    put("GKT", box(2, 9, 98, 11, false), false, true, 1);
    EXPECT_EQ(pocketLevelStep("SPAN", 1.6, 2, 1, 0, 1), 0);
    EXPECT_EQ(pocketLevelStep("SPAN", 1.6, 1, 1, 0, 1), -1);
    EXPECT_TRUE(PocketErrors::sent("1522"));
    // One island ring across two rings stays in GKT, marked, until both have merged with it (80 left each).
    for (const char* l : {"SPAN", "GKT"}) ASSERT_EQ(clistCreate(l), 1);
    put("SPAN", box(0, 0, 10, 10), true, true);
    put("SPAN", box(20, 0, 30, 10), true, true);
    put("GKT", box(5, 3, 25, 7, false), false, true, 1);
    EXPECT_EQ(pocketLevelStep("SPAN", 1.6, 2, 1, 0, 1), 2);
    for (int32_t i = 0; i < 2; ++i) EXPECT_NEAR(std::fabs(offsettest::signedArea(get("SPAN", i))), 80, 1e-9);
    EXPECT_EQ(clistCount("GKT"), 0);
    // One ring across two island rings (tags 2, then 1) merges with both in turn: the ring the first
    // merge leaves meets the second still (260 left).
    for (const char* l : {"SPAN", "GKT"}) ASSERT_EQ(clistCreate(l), 1);
    put("SPAN", box(0, 0, 30, 10), true, true);
    put("GKT", box(-5, 3, 5, 7, false), false, true, 2);
    put("GKT", box(25, 3, 35, 7, false), false, true, 1);
    EXPECT_EQ(pocketLevelStep("SPAN", 1.6, 1, 1, 0, 1), 1);
    EXPECT_NEAR(std::fabs(offsettest::signedArea(get("SPAN", 0))), 300 - 2 * 20, 1e-9);
    EXPECT_EQ(clistCount("SPAN") * 10 + clistCount("GKT"), 10);
    clistFree("TEMP");
    allocfail::arm(1);
    EXPECT_EQ(pocketSplitRings(1.6), -1);
    EXPECT_TRUE(allocfail::fired());
    allocfail::disarm();
}

// Two clockwise rings of the split crossing each other merge into the square they share (20..30), which the
// split then steps in by 1.6 on every side: no nudge of either ring. Short of memory at any one allocation,
// the split gives that same square or refuses with -1 (or std::bad_alloc), never another code.
TEST(PlaneRings, SplitRingsCrossingMergeIntoTheirCommonSquare) {
    for (long failAt = 0, used = 1; failAt <= used; ++failAt) {
        Plane plane(2, 0.4);
        put("MAIN", box(0, 0, 100, 100), true, true, 0);
        ASSERT_EQ(clistCreate("GKT"), 1);
        put("GKT", box(10, 10, 30, 30, false), false, false);
        put("GKT", box(20, 20, 40, 40, false), false, false);
        allocfail::arm(failAt);
        int code = -9;  // std::bad_alloc for the caller, as every step may throw
        try {
            code = pocketSplitRings(1.6);
        } catch (const std::bad_alloc&) {
        }
        if (!failAt) used = allocfail::count();
        allocfail::disarm();
        if (failAt && (code == -1 || code == -9)) continue;
        ASSERT_EQ(code, 1) << failAt;
        ASSERT_EQ(clistCount("GKT"), 1) << failAt;
        EXPECT_NEAR(offsettest::signedArea(get("GKT", 0)), -6.8 * 6.8, 1e-9) << failAt;
    }
}

// Three steps short of memory at any one allocation (the first the ring list's own): the rings they give
// with memory to spare, or a refusal with -1 (or std::bad_alloc), never another code. The span offsets of a
// square; the island offsets of a plane with an island, and its first back-cut round after its level loop.
TEST(PlaneRings, StepsShortOfMemoryRefuseWithTheirCode) {
    enum { kSpan, kIslands, kBack };
    for (const int step : {kSpan, kIslands, kBack}) {
        const char* list = step == kIslands ? "GKT" : "SPAN";
        double whole = 0;
        for (long failAt = 0, used = 1; failAt <= used; ++failAt) {
            Plane plane(step == kSpan ? 2 : 1, 0.4);
            PocketKernel& k = pocketKernel();
            put("MAIN", box(0, 0, step == kSpan ? 30 : 16, step == kSpan ? 30 : 12), true, true, 0);
            if (step == kSpan) {
                ASSERT_EQ(clistCreate("SPAN"), 1);
                put("SPAN", box(0, 0, 30, 30), true, true);
                clistFree("GKT");
            } else {
                put("MAIN", box(6, 4, 10, 8, false), false, true, 1);
                ASSERT_EQ(cutListsCreate(1), 0);
            }
            if (step == kBack) {
                ASSERT_EQ(pocketOffsetIslands(k.toolRadius, pocketAllowances(), 1), 1);
                ASSERT_EQ(pocketLevelLoop(k.toolRadius, pocketAllowances()[0], k.stepFactor, 1), 1);
            }
            const int64_t errors = pocketErrorCalls();
            allocfail::arm(failAt);
            int code = -9;
            try {
                code = step == kSpan      ? pocketSpanOffsets(3, 0, 0)
                       : step == kIslands ? pocketOffsetIslands(k.toolRadius, pocketAllowances(), 1)
                                          : pocketSpanBackCuts(0.8, 1, 1);
            } catch (const std::bad_alloc&) {
            }
            if (!failAt) used = allocfail::count();
            allocfail::disarm();
            double area = 0;
            for (int32_t i = 0; i < clistCount(list); ++i) area += offsettest::signedArea(get(list, i));
            if (!failAt) whole = area;
            if (failAt && (code == -1 || code == -9)) continue;
            ASSERT_EQ(code, 1) << failAt << " " << step;
            // A ring lost for want of memory is reported.
            EXPECT_TRUE(pocketErrorCalls() != errors || std::fabs(area - whole) < 1e-9) << failAt << " " << step;
        }
        if (step == kSpan) {
            EXPECT_NEAR(whole, 24 * 24, 1e-9);  // the square stepped in by 3 on each side
        }
    }
}

// Open mode: a ring lying in an island ring of the other orientation goes once it comes within the step of
// it (at exactly the step too), and stays when farther.
TEST(PlaneRings, OpenModeDropsARingWithinTheStepOfTheIslandRingAroundIt) {
    for (const auto& [d, kept] : {std::pair{9.5, 1}, {10.0, 0}, {10.5, 0}}) {
        Plane plane(2, 0.4);
        pocketKernel().openMode = 1;
        for (const char* l : {"SPAN", "GKT"}) ASSERT_EQ(clistCreate(l), 1);
        put("SPAN", box(10, 10, 20, 20), true, true);
        put("GKT", box(0, 0, 30, 30, false), false, true, 1);
        EXPECT_EQ(pocketLevelStep("SPAN", d, 1, 1, 0, 0), kept) << d;
        EXPECT_EQ(std::pair(clistCount("SPAN"), clistCount("GKT")), std::pair(kept, 1)) << d;
    }
}

// An open pocket (stock boundary) with a chain of three close islands: the span
// rings keep R from every island (the second ring's merge with the chain's end
// waits for the first merge) and stay within the stock boundary grown by R; with
// a fillet radius the left turns of the rings beyond level 0 are all rounded.
TEST(PlaneRings, OpenPocketSpanRings) {
    for (const double fillet : {0.0, 1.0}) {
        Plane plane(2, 0.4);
        pocketKernel().openMode = 1;
        kvCCPParams.filletRadius = fillet;
        const std::vector<ContourElement> stock = box(0, 0, 80, 60, true);
        const std::vector<std::vector<ContourElement>> islands = {box(39, 38.3, 51, 50.2, false),
                                                                  box(11.75, 33.9, 19.5, 41.7, false),
                                                                  box(27, 20.3, 40.9, 34.2, false)};
        put("MAIN", stock, true, true, 0);
        for (int16_t i = 0; i < 3; ++i) put("MAIN", islands[i], false, true, static_cast<int16_t>(i + 1));
        ASSERT_EQ(cutListsCreate(0), 0);
        ASSERT_EQ(pocketIslandsSpans(2, pocketAllowances(), 1), 1);
        ASSERT_EQ(pocketOpenFirstRings(2, 1), 1);
        ASSERT_EQ(pocketOpenRingLoop(3.6, 1), 1);
        int32_t deepest = 0, sharp = 0;
        for (int32_t i = 0; i < regionNodeCount(); ++i) {
            deepest = std::max(deepest, regionNode(i)->level);
            const RegionNode* up = regionNode(regionParent(i, 1));  // a later ring's: the one it grew from
            EXPECT_TRUE(regionNode(i)->level == 0 || (up && up->level == regionNode(i)->level - 1)) << i;
            const std::vector<ContourElement> ring = nodeRing(i);
            for (size_t j = 0; j < ring.size(); ++j) {
                const ContourElement &e = ring[j], &f = ring[(j + 1) % ring.size()];
                const Vec2 p = offsettest::startPoint(e), q = offsettest::endPoint(e);
                for (const auto& island : islands)
                    EXPECT_GE(offsettest::distanceTo(p, island), 2 - 1e-3) << i;
                const bool inStock = pointInContour(stock.data(), 4, &p) != 0;
                EXPECT_TRUE(inStock || offsettest::distanceTo(p, stock) <= 2 + 1e-3) << i;
                const Vec2 a = offsettest::pointAlong(e, 1 - 1e-6), b = offsettest::pointAlong(f, 1e-6);
                const Vec2 u{q.x - a.x, q.y - a.y}, v{b.x - q.x, b.y - q.y};
                sharp += regionNode(i)->level > 0 &&
                         u.x * v.y - u.y * v.x > 1e-3 * std::hypot(u.x, u.y) * std::hypot(v.x, v.y);
            }
        }
        EXPECT_EQ(sharp == 0, fillet > 0);
        EXPECT_GT(deepest, 1);
        // Without a room to clip them to, later rings go; the offsets after them do not grow.
        ASSERT_EQ(clistCreate("INSEL"), 1);
        put("SPAN", box(0, 0, 10, 10), true, true);
        EXPECT_EQ(pocketSpanOffsets(3.6, 0, 1), 1);
        EXPECT_EQ(std::pair(clistCount("SPAN"), pocketOffsetState().growMode), std::pair(0, 0));
    }
    kvCCPParams.filletRadius = 0;
}

// A moved stock keeps rings outside its room whole: an island's rings that have grown round
// the room and every contour are dropped, so the loop ends within the steps to get round them
// and no ring holds every contour (ray-crossing test on sampled points).
TEST(PlaneRings, MovedStockDropsRingsRoundEverything) {
    Plane plane(2, 0.4);
    pocketKernel().openMode = pocketKernel().stockMoved = 1;
    const std::vector<std::vector<ContourElement>> main = {box(0, 0, 10, 10, true),
                                                           box(30, 30, 40, 40, false)};
    for (int16_t i = 0; i < 2; ++i) put("MAIN", main[i], i == 0, true, i);
    ASSERT_EQ(cutListsCreate(0), 0);
    ASSERT_EQ(pocketIslandsSpans(2, pocketAllowances(), 1), 1);
    ASSERT_EQ(pocketOpenFirstRings(2, 1), 1);
    ASSERT_EQ(pocketOpenRingLoop(3.6, 1), 1);
    for (int32_t i = 0; i < regionNodeCount(); ++i) {
        EXPECT_LE(regionNode(i)->level, 60 / 3.6 + 2) << i;
        const std::vector<Vec2> ring = offsettest::samples(nodeRing(i), 0.05);
        bool all = true;
        for (const auto& c : main)
            for (const ContourElement& e : c)
                all = all && offsettest::insidePolygon(ring, offsettest::startPoint(e));
        EXPECT_FALSE(all) << i;
    }
}

// The rings written to the list named as the G-code file: the island's ring (a 10 square grown by 2 with
// round corners) keeps the island's direction though the tree cuts it reversed (forceInside); and a grouped
// boundary starting on an inserted element starts its rings on its first own element for a pocket contour.
TEST(PlaneRings, WrittenRingsKeepTheirDirectionAndStart) {
    const double island = 14 * 14 - (4 - offsettest::kPi) * 4;
    for (const int force : {0, 1}) {
        Plane plane(2, 0.4);
        pocketKernel().forceInside = pocketKernel().pocketContour = force;
        strcpy(rifBlock()->rifName, "REST");
        rifBlock()->genRif = 1;
        ASSERT_EQ(clistCreate("REST"), 1);
        std::vector<ContourElement> outer = box(0, 0, 60, 40);
        outer[0].sourceTag = -1;
        ContourHeader h = header(outer, true, true, 0);
        h.group = 1;
        ASSERT_EQ(clistInsert("MAIN", outer.data(), &h, -1), 1);
        put("MAIN", box(25, 15, 35, 25, false), false, true, 1);
        ASSERT_EQ(plane.run(false), 1);
        ASSERT_EQ(clistCount("REST"), 2);
        for (int32_t i = 0; i < 2; ++i) {
            const std::vector<ContourElement> c = get("REST", i);
            EXPECT_NEAR(offsettest::signedArea(c), i ? -island : 56 * 36, 1e-3) << force;
            const Vec2 p = offsettest::startPoint(c[0]), want = force ? Vec2{58, 2} : Vec2{2, 2};
            EXPECT_TRUE(i || std::hypot(p.x - want.x, p.y - want.y) < 1e-9) << force << " " << p.x;
        }
        EXPECT_NEAR(offsettest::signedArea(nodeRing(1)), force ? island : -island, 1e-3);
        rifResetState();
        pocketKernel().forceInside = pocketKernel().pocketContour = 0;
    }
}

// The split ring build of a plane with an island, short of memory at the first allocation of each step
// and at a seeded few: every step gives what it gives with memory to spare, or refuses with -1 (or
// std::bad_alloc for its caller), and nothing runs after a refusal.
TEST(PlaneRings, ShortOfMemoryEachStepRefusesWithItsCode) {
    std::vector<long> starts;  // allocations made before each step
    auto build = [&starts](long failAt) {
        Plane plane(1, 0.4);
        PocketKernel& k = pocketKernel();
        k.splitPath = 1;
        put("MAIN", box(0, 0, 16, 12), true, true, 0);
        put("MAIN", box(6, 4, 10, 8, false), false, true, 1);
        EXPECT_EQ(cutListsCreate(1), 0);
        const double* a = pocketAllowances();
        const double s = 2 * k.toolRadius * k.stepFactor;
        std::vector<int> codes;
        allocfail::arm(failAt);
        try {
            for (int step = 0; step < 5 && (codes.empty() || codes.back() > 0); ++step) {
                if (!failAt) starts.push_back(allocfail::count());
                codes.push_back(step == 0   ? pocketOffsetIslands(k.toolRadius, a, 1)
                                : step == 1 ? pocketLevelLoop(k.toolRadius, a[0], k.stepFactor, 1)
                                : step == 3 ? pocketSplitRings(s)
                                            : pocketSpanBackCuts(s, 1, step == 2));
            }
        } catch (const std::bad_alloc&) {
            codes.push_back(-9);
        }
        const long used = allocfail::count();
        allocfail::disarm();
        starts.push_back(used);
        k.splitPath = 0;
        return codes;
    };
    const std::vector<int> whole = build(0);
    ASSERT_EQ(whole, std::vector<int>(5, 1));
    std::vector<long> fails(starts.begin(), starts.end() - 1);
    rngSeed(77);
    for (int t = 0; t < 3; ++t) fails.push_back(rngBelow(static_cast<int>(starts.back())));
    for (const long k : fails) {
        std::vector<int> codes = build(k + 1);
        const int last = codes.back();
        codes.pop_back();
        EXPECT_TRUE(std::equal(codes.begin(), codes.end(), whole.begin())) << k;
        EXPECT_TRUE(last == -1 || last == -9 || (last == 1 && codes.size() == 4)) << k << " " << last;
    }
}

// The ring a back-cut step grows from a span ring hangs one level below the node the span ring names; a
// span ring naming no node stands for level 0, its ring for level 1. With fillets wanted its four corners
// are rounded by the fillet radius, else they stay sharp.
TEST(PlaneRings, BackCutRingsHangOneLevelBelowTheirSource) {
    for (const int32_t level : {-1, 0, 3}) {
        Plane plane(1, 0.4);
        kvCCPParams.filletRadius = level == 0 ? 0.5 : 0;
        put("MAIN", box(0, 0, 30, 30), true, true, 0);
        ASSERT_EQ(cutListsCreate(0), 0);
        ASSERT_EQ(clistCreate("SPAN"), 1);
        const int32_t source = level < 0 ? -1 : attachBox(2, 2, 28, 28, level);
        put("SPAN", box(2, 2, 28, 28), true, true, static_cast<int16_t>(source));
        const int32_t before = regionNodeCount();
        ASSERT_EQ(pocketSpanBackCuts(0.8, 1, 1), 1);
        ASSERT_EQ(regionNodeCount(), before + 1) << level;
        EXPECT_EQ(regionNode(before)->level, std::max(level, 0) + 1) << level;
        const std::vector<ContourElement> ring = nodeRing(before);
        EXPECT_EQ(std::count_if(ring.begin(), ring.end(),
                                [](const ContourElement& e) {
                                    return e.type == kElemArc && std::fabs(e.g[kAr] - 0.5) < 1e-9;
                                }),
                  level == 0 ? 4 : 0)
            << level;
    }
    kvCCPParams.filletRadius = 0;
}

// A span offset by 3 moves a 30 square in by 3, the first one by the pocket's allowance (0.5) besides, not
// by an island's (2): a square of side 30 - 2 (3 + 0.5) with its sharp corners.
TEST(PlaneRings, FirstSpanOffsetAddsThePocketAllowance) {
    for (const int first : {0, 1}) {
        Plane plane(1, 0.4);
        pocketAllowanceSet(0, 0.5);
        pocketAllowanceSet(1, 2);
        put("MAIN", box(0, 0, 30, 30), true, true, 0);
        ASSERT_EQ(clistCreate("SPAN"), 1);
        put("SPAN", box(0, 0, 30, 30), true, true);
        clistFree("GKT");
        ASSERT_EQ(pocketSpanOffsets(3, first, 0), 1);
        ASSERT_EQ(clistCount("SPAN"), 1);
        const double side = 30 - 2 * (3 + (first ? 0.5 : 0));
        EXPECT_NEAR(offsettest::signedArea(get("SPAN", 0)), side * side, 1e-9) << first;
        pocketAllowanceSet(0, 0);
        pocketAllowanceSet(1, 0);
    }
}
