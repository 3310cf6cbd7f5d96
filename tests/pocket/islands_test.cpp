// Islands, spans and open edges: the open-edge searches on a tagged ring, a
// ring clipped to a region against a convex clip computed apart, a touching
// region, the renumbering reversal and island containment.
#include "pocket/islands.h"

#include <algorithm>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "kernel/base/rng.h"
#include "offset_util.h"
#include "pocket/chaincross.h"
#include "ringtest_util.h"

namespace {

struct Islands : RingState {
    Islands() : RingState(2) {}
};

std::vector<ContourElement> get(const char* list, int32_t i, ContourHeader* h) {
    std::vector<ContourElement> c(kClistMaxElements);
    EXPECT_GE(clistGet(list, c.data(), h, i), 0);
    c.resize(h->elementCount);
    return c;
}

// Sutherland-Hodgman clip of a convex subject by a convex counter-clockwise clip polygon.
std::vector<Vec2> clipConvex(std::vector<Vec2> subject, const std::vector<Vec2>& clip) {
    for (size_t i = 0; i < clip.size() && !subject.empty(); ++i) {
        const Vec2 a = clip[i], b = clip[(i + 1) % clip.size()];
        auto inside = [&](const Vec2& p) {
            return (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x) >= 0;
        };
        std::vector<Vec2> out;
        for (size_t k = 0; k < subject.size(); ++k) {
            const Vec2 p = subject[k], q = subject[(k + 1) % subject.size()];
            if (inside(p)) out.push_back(p);
            if (inside(p) != inside(q)) {
                const double dp = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
                const double dq = (b.x - a.x) * (q.y - a.y) - (b.y - a.y) * (q.x - a.x);
                const double t = dp / (dp - dq);
                out.push_back({p.x + t * (q.x - p.x), p.y + t * (q.y - p.y)});
            }
        }
        subject = out;
    }
    return subject;
}

std::vector<Vec2> randomConvex(double cx, double cy, double r) {
    std::vector<double> angles;
    const int n = 5 + rngBelow(5);
    for (int i = 0; i < n; ++i) angles.push_back(rngUniform() * 2 * offsettest::kPi);
    std::sort(angles.begin(), angles.end());
    std::vector<Vec2> p;
    for (double a : angles) p.push_back({cx + r * std::cos(a), cy + r * std::sin(a)});
    return p;
}

}  // namespace

// Tags 0 0 -1 -1 0 -1 on a hexagon: every search by hand, wrapping past the end.
TEST(Islands, OpenEdgeSearchesWrap) {
    std::vector<ContourElement> c = polygon({{0, 0}, {10, 0}, {20, 0}, {20, 10}, {10, 10}, {0, 10}});
    const int32_t tags[] = {0, 0, -1, -1, 0, -1};
    for (int i = 0; i < 6; ++i) c[i].sourceTag = tags[i];
    struct Case {
        int32_t (*f)(const ContourElement*, int32_t, int32_t);
        int32_t from, expected;
    } cases[] = {{nextOpenElement, 0, 2},     {nextOpenElement, 4, 5},     {nextMaterialElement, 2, 4},
                 {nextMaterialElement, 5, 0}, {prevOpenElement, 1, 5},     {prevMaterialElement, 3, 1},
                 {prevOpenElement, 3, 3},     {prevMaterialElement, 5, 4}, {nextMaterialElement, 4, 4},
                 {nextOpenElement, 3, 3},     {prevMaterialElement, 4, 4}};
    for (const Case& k : cases) EXPECT_EQ(k.f(c.data(), 6, k.from), k.expected) << k.from;
    std::vector<ContourElement> solid = box(0, 0, 5, 5);
    EXPECT_EQ(nextOpenElement(solid.data(), 4, 2), -1);
    for (auto f : {nextOpenElement, nextMaterialElement, prevOpenElement, prevMaterialElement})
        EXPECT_EQ(f(c.data(), 0, 3), -1);  // an empty chain: no modulo by zero

    const RingPosition atFifth{5, 10, 10};  // start of element 5: material after an open one
    EXPECT_EQ(positionAtMaterialStart(c.data(), 6, &atFifth), 1);
    const RingPosition midFirst{1, 5, 0};
    EXPECT_EQ(positionAtMaterialStart(c.data(), 6, &midFirst), 0);
    RingPosition out{};
    const struct {
        int (*f)(const ContourElement*, int32_t, const RingPosition*, RingPosition*);
        const RingPosition* at;
        int32_t element;
    } positions[] = {{materialEndBefore, &atFifth, 2},
                     {openStartAfter, &midFirst, 3},
                     {openStartAfter, &atFifth, 5},
                     {materialRunStart, &atFifth, 5},
                     {materialRunStart, &midFirst, 1}};
    for (const auto& k : positions) {
        ASSERT_EQ(k.f(c.data(), 6, k.at, &out), 1);
        EXPECT_EQ(out.element, k.element);
    }
    EXPECT_EQ(materialRunStart(solid.data(), 4, &midFirst, &out), -1);
    // On an empty ring there is no position, so no answer.
    out = {7, 7, 7};
    EXPECT_EQ(positionAtMaterialStart(c.data(), 0, &midFirst), 0);
    for (const auto& k : positions) EXPECT_EQ(k.f(c.data(), 0, &midFirst, &out), -1);
    EXPECT_EQ(out.element, 7);
}

TEST(Islands, ReverseAllKeepsOpenTagsAndRenumbers) {
    Islands fx;
    ASSERT_EQ(clistCreate("MAIN"), 1);
    put("MAIN", box(0, 0, 50, 50, true, 7), true, true);
    std::vector<ContourElement> island = box(10, 10, 20, 20, false, 3);
    island[1].sourceTag = -1;
    island[0].sourceTag = 0;  // a material tag of 0 is renumbered too
    put("MAIN", island, false, true);
    ASSERT_EQ(clistReverseAll("MAIN"), 0);
    // Reversed: the open element second from the end, every other tag the contour's index.
    const std::vector<std::vector<int32_t>> tags = {{0, 0, 0, 0}, {1, 1, -1, 1}};
    for (int32_t i = 0; i < 2; ++i) {
        ContourHeader h;
        const std::vector<ContourElement> c = get("MAIN", i, &h);
        EXPECT_EQ(h.ccw, i);
        EXPECT_EQ(h.leftSide, 0);
        EXPECT_EQ(offsettest::signedArea(c) > 0, i == 1);
        for (size_t q = 0; q < c.size(); ++q) EXPECT_EQ(c[q].sourceTag, tags[i][q]) << i << q;
    }
}

// A ring sticking out of a region keeps its inside part, closed along the region
// by open elements: on seeded convex rings and regions the cut encloses exactly
// their common area (a convex clip computed apart). A region inside the ring
// leaves nothing; a ring inside the region comes back unchanged.
TEST(Islands, CutKeepsTheCommonPartClosedByOpenEdges) {
    Islands fx;
    rngSeed(4658);
    int checked = 0;
    std::vector<ContourElement> out(kClistMaxElements);
    for (int t = 0; t < 60; ++t) {
        const std::vector<Vec2> pa = randomConvex(0, 0, 10), pb = randomConvex(rngUniform() * 12 - 6, 4, 9);
        const std::vector<ContourElement> a = polygon(pa), b = polygon(pb);
        std::vector<PocketIsect> hits(kIslandMaxHits);
        if (intersectContours(a.data(), static_cast<int32_t>(a.size()), b.data(),
                              static_cast<int32_t>(b.size()), hits.data(), kIslandMaxHits) < 2)
            continue;
        const int32_t n = cutContourByIsland(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                             static_cast<int32_t>(b.size()), out.data());
        ASSERT_GT(n, 0) << t;
        const std::vector<ContourElement> cut(out.begin(), out.begin() + n);
        EXPECT_NEAR(offsettest::signedArea(cut), offsettest::signedArea(polygon(clipConvex(pa, pb))), 1e-6)
            << t;
        for (const ContourElement& e : cut)
            EXPECT_EQ(e.sourceTag, offsettest::distanceTo(offsettest::pointAlong(e, 0.5), b) < 1e-9 ? -1 : 0)
                << t;
        ++checked;
    }
    EXPECT_GT(checked, 20);
    const std::vector<ContourElement> a = box(0, 0, 20, 20), inner = box(5, 5, 8, 8),
                                      outer = box(-5, -5, 30, 30);
    EXPECT_EQ(cutContourByIsland(a.data(), 4, inner.data(), 4, out.data()), 0);
    out[4] = lineElem(7, 7, 7, 7);
    EXPECT_EQ(cutContourByIsland(a.data(), 4, outer.data(), 4, out.data()), 4);
    EXPECT_EQ(out[4].g[kLx1], 7);  // the copy stops at the ring's count
    // With the stock moved to the front the region is the stock, and what lies outside it remains: a ring
    // inside it leaves nothing, a ring round it stays whole.
    pocketKernel().stockMoved = 1;
    EXPECT_EQ(cutContourByIsland(inner.data(), 4, a.data(), 4, out.data()), 0);
    EXPECT_EQ(cutContourByIsland(outer.data(), 4, a.data(), 4, out.data()), 4);
    pocketKernel().stockMoved = 0;
    // A region crossing the ring through its corner (20, 20), met there by two of the ring's elements, and
    // again at (20, 10): the triangle between keeps its area.
    const std::vector<ContourElement> corner = polygon({{10, 10}, {30, 30}, {30, 10}});
    const int32_t n = cutContourByIsland(a.data(), 4, corner.data(), 3, out.data());
    ASSERT_GT(n, 0);
    EXPECT_NEAR(std::fabs(offsettest::signedArea({out.begin(), out.begin() + n})), 50, 1e-9);
    // A single hit bounds no stretch of the ring.
    std::vector<ContourElement> buffer;
    std::vector<IslandPiece> walked;
    std::vector<PocketIsect> one = {{20, 10, 0, 2, 3, kHitCreated}};
    EXPECT_EQ(islandPiecesWalk(a.data(), 4, corner.data(), 3, one.data(), 1, &buffer, &walked), 0);
    // Nor does the one crossing of a stub: nothing is cut, and the cut is marked for a retry.
    islandsResetState();
    const ContourElement stub = lineElem(10, 10, 30, 10);
    EXPECT_EQ(cutContourByIsland(a.data(), 4, &stub, 1, out.data()), 0);
    EXPECT_EQ(islandCutDegenerate(), 1);
    // Joining by hand: a piece whose hits are not in the table is refused before any is read, and so is
    // one whose way along the region cannot be found (a hit on no element of it).
    const std::vector<PocketIsect> two = {{20, 10, 0, 1, 1, kHitCreated}, {20, 20, 0, 1, 9, kHitCreated}};
    const int32_t joins[][3] = {{0, 0, 4},   {0, 1, -2}, {0, 2, -2},
                                {0, -1, -2}, {2, 0, -2}, {-1, 0, -2}};  // from, to, count
    for (const auto& k : joins)
        EXPECT_EQ(islandPiecesJoin(a.data(), 4, corner.data(), 3, two.data(), 2, a, {{0, 4, k[0], k[1]}},
                                   out.data()),
                  k[2]);
    EXPECT_EQ(islandPiecesJoin(a.data(), 4, corner.data(), 3, two.data(), 2, a,
                               {{0, kClistMaxElements + 1, 0, 1}}, out.data()),
              -1);  // a piece longer than the element cap
}

// A region touching a corner of the ring gives no crossing at all (a touch is no
// hit), so nothing is cut, the region is not grown and the ring comes back
// whole; a region reaching 0.1 over the corner cuts off that corner only.
TEST(Islands, TouchingRegionLeavesTheRing) {
    Islands fx;
    const std::vector<ContourElement> a = box(0, 0, 20, 20);
    ContourElement unknown{}, cut[8];
    unknown.type = 99;  // a region that gives no point fails the cut as documented
    for (const int32_t r : {cutContourByIsland(a.data(), 4, &unknown, 1, cut),
                            cutContourByIsland(a.data(), 4, &unknown, 0, cut)})
        EXPECT_TRUE(r == -1 || r == -2) << r;
    for (double over : {0.0, 0.1}) {
        std::vector<ContourElement> region(kClistMaxElements);
        const std::vector<ContourElement> diamond =
            polygon({{15 - over, 25 - over}, {25 - over, 15 - over}, {35, 25}, {25, 35}});
        std::copy(diamond.begin(), diamond.end(), region.begin());
        ContourHeader h{};
        h.elementCount = 4;
        std::vector<ContourElement> out(kClistMaxElements);
        const int32_t n = cutContourByIslandRetry(a.data(), 4, region.data(), &h, out.data());
        EXPECT_EQ(islandCutDegenerate(), 0);
        EXPECT_EQ(h.elementCount, 4u);
        ASSERT_GT(n, 0);
        out.resize(n);
        if (over == 0) {
            EXPECT_NEAR(offsettest::signedArea(out), 400, 1e-9);
            continue;
        }
        // The corner triangle beyond x + y = 40 - 2 over: legs of 2 over.
        EXPECT_NEAR(offsettest::signedArea(out), 2 * over * over, 1e-9);
        for (const ContourElement& e : out)
            EXPECT_GE(offsettest::startPoint(e).x + offsettest::startPoint(e).y, 40 - 2 * over - 1e-9);
    }
}

TEST(Islands, IslandsMustLieInTheBoundary) {
    struct Case {
        std::vector<ContourElement> island;
        int expected;
        const char* message;
    } cases[] = {{box(10, 10, 20, 20, false), 1, nullptr},
                 {box(40, 10, 60, 20, false), 1, nullptr},  // crosses the boundary
                 {box(70, 70, 80, 80, false), 0, "1115"},
                 {{}, 1, nullptr}};  // an empty contour lies nowhere
    for (const Case& k : cases) {
        Islands fx;
        ASSERT_EQ(clistCreate("INPUT"), 1);
        put("INPUT", box(0, 0, 50, 50), true, true);
        put("INPUT", k.island, false, false);
        EXPECT_EQ(inputIslandsInside("INPUT"), k.expected);
        EXPECT_TRUE(!k.message || PocketErrors::sent(k.message));
    }
    Islands fx;
    ASSERT_EQ(clistCreate("INPUT"), 1);
    EXPECT_EQ(inputIslandsInside("INPUT"), -1);
    EXPECT_TRUE(PocketErrors::sent("1106"));
    EXPECT_EQ(pocketIslandsSpans(5, nullptr, 1), -1);  // no allowance table: a hard failure
}

// Spans of a dumbbell pocket: its boundary offset inwards by tool radius and allowance parts at the
// neck, every ring going into INSEL with the boundary's header and tag 0, each within its lobe and
// clear of the boundary; the islands go into SPAN with their tag one less, and with the contact switch
// on, an island's open element within 0.1 of the boundary takes the island's number.
TEST(Islands, SpansOffsetTheBoundaryAndListTheIslands) {
    for (int contact = 0; contact < 2; ++contact) {
        Islands fx;
        islandsSetBoundaryContact(contact);
        ASSERT_EQ(pocketAllowanceSet(0, 0.5), 1);
        ASSERT_EQ(clistCreate("MAIN"), 1);
        const std::vector<ContourElement> outer = polygon({{0, 0},
                                                           {20, 0},
                                                           {20, 9},
                                                           {30, 9},
                                                           {30, 0},
                                                           {50, 0},
                                                           {50, 20},
                                                           {30, 20},
                                                           {30, 11},
                                                           {20, 11},
                                                           {20, 20},
                                                           {0, 20}});
        put("MAIN", outer, true, true, 5);
        std::vector<ContourElement> island = box(35, 15, 45, 20.05, false, 1);  // its top on the wall
        island[0].sourceTag = island[2].sourceTag = -1;                         // top, bottom
        put("MAIN", island, false, true, 3);
        put("GKT", island, false, true);  // a plane's spans start GKT afresh
        ASSERT_EQ(pocketIslandsSpans(2, pocketAllowances(), -1), 1);
        EXPECT_EQ((std::vector{islandCutDegenerate(), islandsPlaneStart(), clistCount("GKT")}),
                  (std::vector{0, 1, 0}));
        islandsSetPlaneStart(0);
        EXPECT_EQ(islandsPlaneStart(), 0);
        islandsSetPlaneStart(5);
        EXPECT_EQ(islandsPlaneStart(), 1);
        EXPECT_EQ(islandsBoundaryContact(), contact);
        ASSERT_EQ(clistCount("INSEL"), 2);
        double lobes[2] = {0, 0};
        for (int32_t i = 0; i < 2; ++i) {
            ContourHeader h;
            const std::vector<ContourElement> ring = get("INSEL", i, &h);
            EXPECT_EQ(std::pair(int{h.tag}, int{h.ccw}), std::pair(0, 1));
            // Each lobe less 2.5 all round, with a bulge under a quarter towards the neck.
            const double area = offsettest::signedArea(ring);
            EXPECT_TRUE(area > 225 - 1e-6 && area < 225.25) << area;
            for (const Vec2& p : offsettest::samples(ring, 0.05)) {
                EXPECT_GE(offsettest::distanceTo(p, outer), 2.5 - 1e-6);
                lobes[p.x > 25] += 1;
            }
        }
        EXPECT_TRUE(lobes[0] > 0 && lobes[1] > 0);
        ContourHeader h;
        ASSERT_EQ(clistCount("SPAN"), 1);
        const std::vector<ContourElement> span = get("SPAN", 0, &h);
        EXPECT_EQ(h.tag, 2);
        const std::vector<int32_t> tags = {contact ? 1 : -1, 1, -1, 1};
        for (size_t k = 0; k < span.size(); ++k) EXPECT_EQ(span[k].sourceTag, tags[k]) << contact << k;
        islandsSetBoundaryContact(0);
    }
}

// A seven-lobed boundary of 200 chords offsets into one run of lines, refitted to R / 100 = 0.05 at its
// points: INSEL keeps the 0.3 lobes, all of it within 0.1 (bowing between points) of 5 from the boundary.
TEST(Islands, SpansRefitTheRingWithinAHundredthOfTheRadius) {
    Islands fx;
    ASSERT_EQ(pocketAllowanceSet(0, 0), 1);
    ASSERT_EQ(clistCreate("MAIN"), 1);
    std::vector<Vec2> p;
    for (int i = 0; i < 200; ++i) {
        const double t = 2 * offsettest::kPi * i / 200, r = 50 + 0.3 * std::cos(7 * t);
        p.push_back({r * std::cos(t), r * std::sin(t)});
    }
    const std::vector<ContourElement> outer = polygon(p);
    put("MAIN", outer, true, true);
    ASSERT_EQ(pocketIslandsSpans(5, pocketAllowances(), -1), 1);
    ContourHeader h;
    ASSERT_EQ(clistCount("INSEL"), 1);
    const std::vector<ContourElement> ring = get("INSEL", 0, &h);
    EXPECT_LT(ring.size(), 100u);
    for (const ContourElement& e : ring)
        for (double t : {0.0, 0.25, 0.5, 0.75})
            EXPECT_NEAR(offsettest::distanceTo(offsettest::pointAlong(e, t), outer), 5, 0.1);
}

// The open-edge markings by hand: a short material arc between open elements opens, a long one or one
// beside material does not; the crossing test looks at material elements and at contours from index 1
// on; the open part holds a contour only in open mode, within a stock contour of opposite ccw and side.
TEST(Islands, OpenEdgeMarkingsByHand) {
    Islands fx;
    std::vector<ContourElement> c = {
        lineElem(0, 0, 10, 0, -1),   arcElem(10, 0.5, 0.5, -offsettest::kPi / 2, offsettest::kPi / 2, 1),
        lineElem(10, 1, 10, 5, -1),  arcElem(10, 7.5, 2.5, -offsettest::kPi / 2, offsettest::kPi / 2, 1),
        lineElem(10, 10, 0, 10, -1), arcElem(0, 9.5, 0.5, offsettest::kPi / 2, 3 * offsettest::kPi / 2, 1),
        lineElem(0, 9, 0, 0, 0)};
    EXPECT_EQ(shortArcsOpen(c.data(), 7, 2), 1);
    const int32_t tags[] = {-1, -1, -1, 0, -1, 0, 0};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(c[i].sourceTag, tags[i]) << i;
    EXPECT_EQ(shortArcsOpen(c.data(), 7, 6), 1);  // the long one now
    // Two elements: the open line is the arc's only neighbour and the material arc is all there is.
    EXPECT_EQ(shortArcsOpen(&c[4], 2, 100), 0);

    ASSERT_EQ(clistCreate("GKT"), 1);
    put("GKT", box(8, 8, 12, 12), true, true);         // contour 0 is not looked at
    put("GKT", box(5, -3, 7, 3, false), false, true);  // crosses the open first element only
    std::vector<ContourElement> ring = box(0, 0, 10, 10);
    ring[0].sourceTag = -1;
    EXPECT_EQ(contourCrossesList(ring.data(), 4, "GKT"), 0);
    ring[0].sourceTag = 0;
    EXPECT_EQ(contourCrossesList(ring.data(), 4, "GKT"), 1);
    // Each element alone: a crossing of the open right edge only, after a material one, does not count.
    ASSERT_EQ(clistCreate("GKT"), 1);
    put("GKT", box(8, 8, 12, 12), true, true);
    put("GKT", box(8, 4, 12, 6, false), false, true);
    ring[1].sourceTag = -1;
    EXPECT_EQ(contourCrossesList(ring.data(), 4, "GKT"), 0);
    ring[1].sourceTag = 0;
    EXPECT_EQ(contourCrossesList(ring.data(), 4, "GKT"), 1);

    const struct {
        int openMode, stock;
        bool ccw, left;
        int inside;
    } open[] = {
        {1, 1, false, true, 1}, {0, 1, false, true, 0}, {1, 0, false, true, 0}, {1, 1, true, true, 0}};
    for (const auto& o : open) {
        ASSERT_EQ(clistCreate("GKT"), 1);
        put("GKT", box(50, 50, 60, 60, o.ccw), o.ccw, o.left);  // apart: never holds the ring
        ContourHeader h = header(box(-5, -5, 20, 20), o.ccw, o.left);
        h.stock = static_cast<uint8_t>(o.stock);
        const std::vector<ContourElement> room = box(-5, -5, 20, 20, o.ccw);
        ASSERT_EQ(clistInsert("GKT", room.data(), &h, -1), 1);
        pocketKernel().openMode = o.openMode;
        EXPECT_EQ(contourInsideOpenPart(ring.data(), 4, "GKT"), o.inside) << o.openMode << o.stock << o.ccw;
    }
    pocketKernel().openMode = 0;
}

// Span elements against the boundary: two crossings make material (0), one inside the element splits it
// with the inner half material, none gives material inside and open (-1) outside; every contour is
// written back, and numbering sets every tag to the contour's index.
TEST(Islands, SpanTagsAlongTheBoundaryAndNumbering) {
    Islands fx;
    ASSERT_EQ(clistCreate("MAIN"), 1);
    ASSERT_EQ(clistCreate("SPAN"), 1);
    put("MAIN", box(0, 0, 50, 50), true, true);
    const std::vector<ContourElement> span = {lineElem(-10, 10, 60, 10, 5), lineElem(40, 20, 60, 20, 5),
                                              lineElem(10, 40, 20, 40, 5), lineElem(60, 40, 70, 40, 5)};
    put("SPAN", box(20, 20, 30, 30, false, 7), false, true);
    put("SPAN", span, false, true);
    EXPECT_EQ(spanTagAlongBoundary("SPAN", "MAIN"), 1);
    ContourHeader h;
    const std::vector<ContourElement> first = get("SPAN", 0, &h), got = get("SPAN", 1, &h);
    for (const ContourElement& e : first) EXPECT_EQ(e.sourceTag, 0);
    const std::vector<std::pair<double, int32_t>> want = {{-10, 0}, {40, 0}, {50, 5}, {10, 0}, {60, -1}};
    ASSERT_EQ(got.size(), want.size());
    EXPECT_EQ(h.elementCount, want.size());
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].g[kLx1], want[i].first) << i;
        EXPECT_EQ(got[i].sourceTag, want[i].second) << i;
    }
    ASSERT_EQ(clistCreate("INSEL"), 1);
    EXPECT_EQ(spanTagAlongBoundary("SPAN", "INSEL"), -1);
    put("INSEL", offsettest::circle(25, 25, 100, 1, 1), true, true);  // a boundary of one element will do
    EXPECT_EQ(spanTagAlongBoundary("SPAN", "INSEL"), 1);
    EXPECT_EQ(clistNumberAll("SPAN"), 0);
    for (int32_t j = 0; j < 2; ++j)
        for (const ContourElement& e : get("SPAN", j, &h)) EXPECT_EQ(e.sourceTag, j);
}

// Island rings: INSEL's first contour offset by the distance; a run of material elements of the node that
// neither crosses that ring nor starts inside it opens, and the node is written back. No INSEL: 0.
TEST(Islands, IslandRingsOpenRunsAwayFromTheRing) {
    Islands fx;
    ASSERT_EQ(regionTreeInit(1), 1);
    const int32_t node = attachBox(5, 5, 50, 50, 0, true, {0, -1, 0, -1});
    ASSERT_EQ(clistCreate("INSEL"), 1);
    EXPECT_EQ(pocketIslandRings(node, 1, 10), 0);
    put("INSEL", box(0, 0, 100, 100), true, true);
    put("INSEL", box(0, 0, 8, 8), true, true);  // only the first counts
    EXPECT_EQ(pocketIslandRings(node, 1, 10), 1);
    EXPECT_EQ(islandsPlaneStart(), 0);
    std::vector<ContourElement> c(4);
    ASSERT_EQ(regionLoadElements(c.data(), 4, regionNode(node)->elements), 1);
    const int32_t tags[] = {-1, -1, 0, -1};
    for (int i = 0; i < 4; ++i) EXPECT_EQ(c[i].sourceTag, tags[i]) << i;
    EXPECT_EQ(pocketIslandRings(regionNodeCount(), 1, 10), -1);
    regionTreeFree();
}

// A contour encloses a region and a list when none of them meets it and each lies inside; elements past
// the region's count lie far off and must not count.
TEST(Islands, EnclosingTheRegionAndTheList) {
    auto padded = [](std::vector<ContourElement> c) {
        c.push_back(lineElem(500, 500, 600, 600));
        return c;
    };
    const std::vector<ContourElement> e = box(0, 0, 50, 50), inner = box(10, 10, 40, 40);
    const struct {
        std::vector<ContourElement> region;
        std::vector<std::vector<ContourElement>> list;
        int expected;
    } cases[] = {
        {inner, {}, 1},
        {inner, {box(20, 20, 30, 30), {arcElem(3, 3, 2, 0, 2 * offsettest::kPi, 1)}}, 1},  // a one-arc circle
        {inner, {box(20, 20, 30, 30), box(45, 20, 60, 30)}, 0},  // the second crosses
        {inner, {box(60, 60, 70, 70)}, 0},                       // outside
        {box(-5, 10, 40, 40), {}, 0},
        {box(0, 10, 40, 40), {}, 0},  // along the edge
        {box(60, 60, 70, 70), {}, 0},
    };
    for (const auto& c : cases) {
        Islands fx;
        ASSERT_EQ(clistCreate("INPUT"), 1);
        for (const auto& l : c.list) put("INPUT", l, true, true);
        const std::vector<ContourElement> region = padded(c.region);
        EXPECT_EQ(contourEnclosesList(e.data(), 4, region.data(), 4, "INPUT"), c.expected) << c.list.size();
    }
    // An L: a region in its notch lies within its box and meets nothing, yet outside.
    Islands fx;
    ASSERT_EQ(clistCreate("INPUT"), 1);
    const std::vector<ContourElement> ell = polygon({{0, 0}, {50, 0}, {50, 20}, {20, 20}, {20, 50}, {0, 50}});
    for (const auto& [region, expected] :
         {std::pair{box(30, 30, 40, 40), 0}, std::pair{box(2, 2, 10, 10), 1}})
        EXPECT_EQ(contourEnclosesList(ell.data(), 6, region.data(), 4, "INPUT"), expected);
}

// The list steps with one allocation in turn failing (a spread of them): each gives -1, throws
// std::bad_alloc for the cycle runner to report, or gives the result and the lists of a call with memory.
TEST(Islands, ListStepsShortOfMemoryFailOrMatch) {
    Islands fx;
    islandsSetBoundaryContact(1);
    const auto setup = [] {
        for (const char* l : {"MAIN", "SPAN", "INSEL", "GKT"}) clistCreate(l);
        put("MAIN", box(0, 0, 50, 20), true, true, 5);
        std::vector<ContourElement> island = box(35, 15, 45, 20.05, false, 1);
        island[0].sourceTag = island[2].sourceTag = -1;
        put("MAIN", island, false, true, 3);
        put("SPAN", box(20, 5, 30, 15, false, 7), false, true);
        put("SPAN", {lineElem(-10, 10, 60, 10, 5), lineElem(60, 40, 70, 40, 5)}, false, true);
    };
    const auto lists = [] {
        std::vector<double> v;
        for (const char* l : {"MAIN", "SPAN", "INSEL"})
            for (int32_t i = 0; i < clistCount(l); ++i) {
                std::vector<ContourElement> c;
                v.push_back(clistLoad(l, i, c) ? -1 : -2);
                for (const ContourElement& e : c)
                    v.insert(v.end(),
                             {1.0 * e.sourceTag, e.g[0], e.g[1], e.g[2], e.g[3], e.g[4], e.g[5], e.g[6]});
            }
        return v;
    };
    int (*const steps[])() = {
        [] { return pocketIslandsSpans(2, pocketAllowances(), -1); },
        [] { return clistReverseAll("MAIN"); },
        [] { return clistNumberAll("SPAN"); },
        [] { return spanTagAlongBoundary("SPAN", "MAIN"); },
    };
    for (size_t k = 0; k < std::size(steps); ++k) {
        setup();
        steps[k]();  // what the step records replays from here on
        setup();
        allocfail::arm(0);
        const int want = steps[k]();
        const long total = allocfail::count();
        const std::vector<double> wantLists = lists();
        int failed = 0;
        for (long n = 1; n <= total; n += 1 + total / 6) {
            setup();
            int got = -3;  // threw std::bad_alloc
            allocfail::arm(n);
            try {
                got = steps[k]();
            } catch (const std::bad_alloc&) {
            }
            allocfail::disarm();
            failed += got == -1;
            EXPECT_TRUE(got == -1 || got == -3 || (got == want && lists() == wantLists)) << k << " " << n;
        }
        EXPECT_GT(failed, 0) << k;
    }
}
