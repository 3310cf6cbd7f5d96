// CUT lists: disabled and stock-pocket planes, a combination with nothing to
// combine, the fit test (clearance to islands, length limit), the open merge
// that reaches the attach step, and a failed merge that stops.
#include "pocket/cutlists.h"

#include <functional>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "offset_util.h"
#include "ringtest_util.h"

namespace {

struct Cuts : RingState {
    Cuts() : RingState(2) {
        EXPECT_EQ(regionTreeInit(1), 1);
        EXPECT_EQ(clistCreate("MAIN"), 1);
    }
};

// Pocket box 0..100 with an island 40..60, and node 0 for it in the tree.
void pocketWithIsland() {
    put("MAIN", box(0, 0, 100, 100), true, true);
    put("MAIN", box(40, 40, 60, 60, false), false, true);
    const std::vector<ContourElement> ring = box(2, 2, 98, 98);
    const ContourHeader h = header(ring, true, true);
    ASSERT_EQ(regionAttachContour(ring.data(), &h, -1, 0), 0);
}

}  // namespace

TEST(CutLists, DisabledPlaneDoesNothing) {
    Cuts fx;
    pocketWithIsland();
    ASSERT_EQ(cutListsCreate(0), 0);
    EXPECT_EQ(cutListsActive(), 0);
    const std::vector<ContourElement> c = box(10, 10, 30, 30);
    const ContourHeader h = header(c, true, true);
    put("CUT_SPAN", c, true, true);  // a list of that name left alone while the lists are off
    put("CUT_BACK", box(20, 20, 40, 40), true, true);
    EXPECT_EQ(cutListReset("CUT_SPAN"), 0);
    EXPECT_EQ(cutListCombine("CUT_SPAN", "CUT_BACK", 0), 0);
    EXPECT_EQ(std::pair(clistCount("CUT_SPAN"), clistCount("CUT_BACK")), std::pair(1, 1));
    clistFree("CUT_SPAN");
    clistFree("CUT_BACK");
    EXPECT_EQ(cutSpanOffset("MAIN", "CUT_GKT", 2), 0);
    EXPECT_EQ(cutPieceOffset(c.data(), &h, 2, 1, "CUT_SPAN"), 0);
    EXPECT_EQ(cutListCombine("CUT_SPAN", "CUT_BACK", 1), 0);
    EXPECT_EQ(cutListsOverlap("CUT_SPAN", "CUT_BACK"), 0);
    EXPECT_EQ(cutListsMerge(), 0);
    EXPECT_EQ(regionNodeCount(), 1);

    pocketKernel().stockPocket = 1;
    ASSERT_EQ(cutListsCreate(1), 0);
    EXPECT_EQ(std::pair(cutListsActive(), clistCount("CUT_SPAN")), std::pair(0, 0));
}

// Combinations of two lists without crossings, decided by containment: a inside an island b goes;
// an island a around b takes both; boundaries b inside a go when their senses agree and join A when
// they differ; with merge mode 2 every boundary of B joins A. Marked B contours leave B.
TEST(CutLists, CombinationByContainment) {
    struct Part {
        double x0, x1;
        bool ccw, left;  // runs as a boundary when they are equal
    };
    const struct {
        std::vector<Part> a, b;
        int mode;
        std::vector<double> aAfter, bAfter;  // the x where each remaining contour starts
    } cases[] = {
        {{{30, 40, true, true}}, {{0, 100, false, true}}, 0, {}, {0}},
        {{{0, 100, false, true}}, {{30, 40, true, true}}, 0, {}, {}},
        {{{0, 100, true, true}}, {{30, 40, true, true}}, 0, {0}, {}},
        {{{0, 100, true, true}}, {{30, 40, false, false}}, 0, {0, 30}, {30}},
        {{{10, 20, true, true}, {30, 40, true, true}}, {}, 0, {10, 30}, {}},
        {{{0, 10, true, true}}, {{50, 60, true, true}}, 2, {0, 50}, {50}},
        {{{0, 10, true, true}}, {{50, 60, true, true}}, 0, {0}, {50}},
    };
    for (const auto& c : cases) {
        Cuts fx;
        ASSERT_EQ(cutListsCreate(1), 0);
        cutModeSet(c.mode);
        for (const Part& q : c.a) put("CUT_SPAN", box(q.x0, q.x0, q.x1, q.x1, q.ccw), q.ccw, q.left);
        for (const Part& q : c.b) put("CUT_BACK", box(q.x0, q.x0, q.x1, q.x1, q.ccw), q.ccw, q.left);
        EXPECT_EQ(cutListCombine("CUT_SPAN", "CUT_BACK", 0), static_cast<int32_t>(c.aAfter.size()));
        for (const auto& [list, want] : {std::pair{"CUT_SPAN", c.aAfter}, std::pair{"CUT_BACK", c.bAfter}}) {
            std::vector<double> got;
            for (int32_t i = 0; i < clistCount(list); ++i) {
                ContourHeader h{};
                ASSERT_EQ(clistGetHeader(list, &h, i), i);
                std::vector<ContourElement> e(h.elementCount);
                ASSERT_EQ(clistGet(list, e.data(), &h, i), i);
                got.push_back(std::min(e[0].g[kLx1], e[0].g[kLy1]));
            }
            EXPECT_EQ(got, want) << list << " " << c.a.size() << " " << c.b.size() << " " << c.mode;
        }
    }
    // A strip cut in two by an island: its two halves (boxes of 400) take its place, before the box after it;
    // a mark the strip carried in is cleared first. An island across one edge (two crossings) leaves it 900.
    for (const double top : {70.0, 55.0}) {
        Cuts fx;
        ASSERT_EQ(cutListsCreate(1), 0);
        const std::vector<ContourElement> strip = box(0, 50, 100, 60);
        ContourHeader marked = header(strip, true, true);
        marked.row = -1;
        ASSERT_EQ(clistInsert("CUT_SPAN", strip.data(), &marked, -1), 1);
        put("CUT_SPAN", box(200, 0, 210, 10), true, true);
        put("CUT_BACK", box(40, 40, 60, top, false), false, true);
        const std::vector<double> areas =
            top > 60 ? std::vector<double>{400, 400, 100} : std::vector<double>{900, 100};
        ASSERT_EQ(cutListCombine("CUT_SPAN", "CUT_BACK", 0), static_cast<int32_t>(areas.size()));
        for (int32_t i = 0; i < static_cast<int32_t>(areas.size()); ++i) {
            ContourHeader h{};
            std::vector<ContourElement> e(8);
            ASSERT_EQ(clistGet("CUT_SPAN", e.data(), &h, i), i);
            e.resize(h.elementCount);
            EXPECT_NEAR(offsettest::signedArea(e), areas[static_cast<size_t>(i)], 1e-9) << i;
        }
    }
    // Pruning: boundaries of A that hold or cross an island of B go, one clear of it stays.
    Cuts fx;
    ASSERT_EQ(cutListsCreate(1), 0);
    for (const auto& a : {box(0, 0, 10, 10), box(4, 4, 6, 20), box(20, 0, 30, 10)})
        put("CUT_SPAN", a, true, true);
    put("CUT_BACK", box(3, 3, 7, 7, false), false, true);
    EXPECT_EQ(cutListPrune("CUT_SPAN", "CUT_BACK"), 1);
    EXPECT_EQ(cutListPrune("CUT_SPAN", "CUT_BACK"), 0);  // nothing more goes
    ContourHeader h{};
    std::vector<ContourElement> e(4);
    ASSERT_EQ(clistCount("CUT_SPAN"), 1);
    ASSERT_EQ(clistGet("CUT_SPAN", e.data(), &h, 0), 0);
    EXPECT_EQ(e[0].g[kLx1], 20);
}

// The merge of a closed plane attaches a span cut below its parent node when it
// keeps the clearance R from every MAIN contour and, with a step factor below
// 0.5, is at most 25 R long.
TEST(CutLists, MergeAttachesOnlyWhatFits) {
    struct Case {
        std::vector<ContourElement> cut;
        double stepFactor;
        bool attached;
        double radius = 0;
    } cases[] = {{box(10, 10, 30, 30), 0.4, true},   // 80 long, 10 from the island
                 {box(10, 10, 39, 30), 0.4, false},  // 1 from the island: below R = 2
                 {box(10, 10, 35, 35), 0.4, false},  // 100 long: above 25 R = 50 with f < 0.5
                 {box(10, 10, 35, 35), 0.5, true},
                 // 0.05 from the island: a tool of radius up to 0.1 needs only 0.8 R f, a larger one R.
                 {box(10, 45, 39.95, 55), 0.5, true, 0.1},
                 {box(10, 45, 39.95, 55), 0.5, false, 0.11}};
    for (const Case& k : cases) {
        Cuts fx;
        pocketWithIsland();
        pocketKernel().toolRadius = 2;
        if (k.stepFactor < 0.5) {
            // Long enough for one case and short enough for the other: 25 R between 80 and 100.
            pocketKernel().toolRadius = 3.6;
        }
        if (k.radius > 0) pocketKernel().toolRadius = k.radius;
        pocketKernel().stepFactor = k.stepFactor;
        ASSERT_EQ(cutListsCreate(1), 0);
        std::vector<ContourElement> cut = k.cut;
        for (ContourElement& e : cut) e.sourceTag = 0;
        put("CUT_SPAN", cut, true, true, 0);
        EXPECT_EQ(cutListsMerge(), 1);
        ASSERT_EQ(regionNodeCount(), k.attached ? 2 : 1) << &k - cases;
        EXPECT_EQ(clistCount("CUT_SPAN"), 0);
        if (!k.attached) continue;
        const RegionNode* n = regionNode(1);
        ASSERT_NE(n, nullptr);
        EXPECT_EQ(n->level, 1);
        EXPECT_EQ(regionIsParent(1, 0), 1);
    }
    // The wall an element runs along, other than the parent, becomes a parent too: here the first element's.
    {
        Cuts fx;
        pocketWithIsland();
        ASSERT_EQ(attachBox(70, 70, 90, 90, 0), 1);
        pocketKernel().toolRadius = 2;
        pocketKernel().stepFactor = 0.5;
        ASSERT_EQ(cutListsCreate(1), 0);
        std::vector<ContourElement> cut = box(10, 10, 30, 30);
        for (ContourElement& e : cut) e.sourceTag = &e == &cut[0] ? 1 : 0;
        put("CUT_SPAN", cut, true, true, 0);
        EXPECT_EQ(cutListsMerge(), 1);
        EXPECT_EQ(regionIsParent(2, 0) + regionIsParent(2, 1), 2);
    }
    // A fillet radius of 10 rounds the attached cut's corners by a tenth of it: 400 less (4 - pi) 1^2.
    Cuts fx;
    pocketWithIsland();
    pocketKernel().toolRadius = 3.6;
    pocketKernel().stepFactor = 0.4;
    kvCCPParams.filletRadius = 10;
    ASSERT_EQ(cutListsCreate(1), 0);
    put("CUT_SPAN", box(10, 10, 30, 30), true, true, 0);
    EXPECT_EQ(cutListsMerge(), 1);
    kvCCPParams.filletRadius = 0;
    const RegionNode* n = regionNode(1);
    ASSERT_NE(n, nullptr);
    std::vector<ContourElement> c(n->elementCount);
    ASSERT_EQ(regionLoadElements(c.data(), static_cast<int32_t>(c.size()), n->elements), 1);
    EXPECT_NEAR(offsettest::signedArea(c), 400 - (4 - offsettest::kPi), 1e-6);
}

// An open plane with merge mode 1, an empty CUT_GKT and a span cut crossed by a
// back cut: the combinations go through and the cut strips reach the tree; a back
// boundary clear of the span cuts joins them in the first combination only, and
// is attached as one more node; back cuts all clear of them leave nothing to merge, and so does a
// back island holding all of the span cut (here split first by another): no error, nothing attached.
TEST(CutLists, OpenMergeReachesTheAttach) {
    int32_t nodes[4] = {};
    for (int extra = 0; extra < 4; ++extra) {
        Cuts fx;
        put("MAIN", box(0, 0, 100, 100), true, true);
        const std::vector<ContourElement> ring = box(2, 2, 98, 98);
        const ContourHeader h = header(ring, true, true);
        ASSERT_EQ(regionAttachContour(ring.data(), &h, -1, 0), 0);
        pocketKernel().openMode = 1;
        pocketKernel().stepFactor = 0.5;
        ASSERT_EQ(cutListsCreate(1), 0);
        cutModeSet(1);
        put("CUT_SPAN", box(10, 10, 30, 30), true, true);
        if (extra < 2) put("CUT_BACK", box(20, 20, 40, 40), true, true);
        if (extra == 1 || extra == 2) put("CUT_BACK", box(60, 60, 80, 80), true, true);
        if (extra == 3) {  // split by the first island, its pieces inside the second
            put("CUT_BACK", box(25, 15, 35, 20, false), false, true);
            put("CUT_BACK", box(5, 5, 60, 60, false), false, true);
        }
        EXPECT_EQ(cutListsMerge(), extra < 2 ? 1 : 0);
        nodes[extra] = regionNodeCount();
    }
    EXPECT_GT(nodes[0], 1);
    EXPECT_EQ(nodes[1], nodes[0] + 1);
    EXPECT_EQ(nodes[3], 1);
}

// More than 4999 crossings between a span cut and a back cut: the merge stops with 3030 and
// 3020, empties the lists and attaches nothing, in a closed plane and an open one alike.
TEST(CutLists, FailedMergeStops) {
    for (const int open : {0, 1}) {
        Cuts fx;
        pocketWithIsland();
        pocketKernel().openMode = open;
        ASSERT_EQ(cutListsCreate(1), 0);
        const std::vector<ContourElement> a = comb(5, 92, 6, 15, 1300);  // 5200 crossings with the band
        put("CUT_SPAN", a, true, true);
        put("CUT_BACK", box(5, 9, 95, 11, false), false, true);
        EXPECT_EQ(cutListsMerge(), -1) << open;
        EXPECT_EQ(regionNodeCount(), 1) << open;
        EXPECT_EQ(clistCount("CUT_SPAN"), 0) << open;
        EXPECT_TRUE(PocketErrors::sent("1522")) << open;
    }
}

// Span cuts offset inward by the width: a contour too small for it leaves no ring and the others go on;
// the rings keep the closed-form inner boxes and their contours' tags and order.
TEST(CutLists, SpanOffsetSkipsVanishingContours) {
    Cuts fx;
    pocketWithIsland();
    pocketKernel().widthFactor = 1;
    ASSERT_EQ(cutListsCreate(1), 0);
    ASSERT_EQ(cutListsActive(), 1);
    ASSERT_TRUE(clistCreate("SEC"));
    put("SEC", box(5, 5, 7, 7), true, true, 3);
    put("SEC", box(10, 10, 30, 30), true, true, 4);
    put("SEC", box(40, 10, 60, 30), true, true, 5);
    pocketOffsetState().growMode = 1;  // span cuts retry by shrinking, whatever the plane left
    EXPECT_EQ(cutSpanOffset("SEC", "CUT_GKT", 2), 2);
    ASSERT_EQ(std::pair(clistCount("CUT_GKT"), pocketOffsetState().growMode), std::pair(2, 0));
    for (int32_t i = 0; i < 2; ++i) {  // in the order of their contours
        std::vector<ContourElement> ring(kClistMaxElements);
        ContourHeader h{};
        ASSERT_EQ(clistGet("CUT_GKT", ring.data(), &h, i), i);
        ring.resize(h.elementCount);
        EXPECT_NEAR(offsettest::signedArea(ring), 16 * 16, 1e-9);
        EXPECT_EQ(h.tag, 4 + i);
        for (const ContourElement& e : ring) EXPECT_EQ(e.sourceTag, 4 + i);
    }
    cutListsFree();
    EXPECT_EQ(std::pair(cutListsActive(), clistCount("CUT_GKT")), std::pair(0, 0));
}

// In merge mode 2 the boundaries of CUT_GKT join the span cuts and are attached; in mode 1 they stay.
TEST(CutLists, ModeTwoMovesTheGktBoundariesIn) {
    for (const int32_t mode : {1, 2}) {
        Cuts fx;
        pocketWithIsland();
        pocketKernel().stepFactor = 0.5;
        ASSERT_EQ(cutListsCreate(1), 0);
        cutModeSet(mode);
        put("CUT_GKT", box(10, 10, 30, 30), true, true, 0);
        EXPECT_EQ(cutListsMerge(), 1);
        EXPECT_EQ(std::pair(regionNodeCount(), clistCount("CUT_GKT")),
                  mode == 2 ? std::pair(2, 0) : std::pair(1, 1));
    }
}

// A piece offset by the width: inward it is the closed-form inner box with the contour's tag, outward
// (a back cut) the box grown by rounded corners, reversed and open; the count is what was appended, and
// the offset's close snap is left as it was. A piece is useful only when the circle of the distance less 0.05
// about the contour's start (half the distance below 0.05) stays out of it.
TEST(CutLists, PieceOffsetsAndUsefulPiecesByClosedForm) {
    Cuts fx;
    pocketWithIsland();
    pocketKernel().widthFactor = 1;
    ASSERT_EQ(cutListsCreate(1), 0);
    const std::vector<ContourElement> c = box(10, 10, 30, 30);
    ContourHeader h = header(c, true, true, 6);
    const double pi = offsettest::kPi;
    for (const int sign : {1, -1}) {
        ASSERT_TRUE(clistCreate("SEC"));
        pocketOffsetState().growMode = 1;
        offsetSetCloseSnap(1);
        EXPECT_EQ(cutPieceOffset(c.data(), &h, 2, sign, "SEC"), 1) << sign;
        ASSERT_EQ(std::tuple(clistCount("SEC"), pocketOffsetState().growMode, offsetCloseSnap()),
                  std::tuple(1, 0, 1));
        std::vector<ContourElement> ring(kClistMaxElements);
        ContourHeader got{};
        ASSERT_EQ(clistGet("SEC", ring.data(), &got, 0), 0);
        ring.resize(got.elementCount);
        EXPECT_NEAR(offsettest::signedArea(ring), sign > 0 ? 16 * 16 : -(400 + 4 * 20 * 2 + pi * 4), 1e-9);
        EXPECT_EQ(got.ccw, sign > 0 ? 1 : 0);
        for (const ContourElement& e : ring) EXPECT_EQ(e.sourceTag, sign > 0 ? 6 : -1);
    }
    h.elementCount = 0;
    EXPECT_EQ(cutPieceOffset(c.data(), &h, 2, 1, "SEC"), 0);
    const std::vector<ContourElement> at0 = box(0, 0, 10, 10);
    const struct {
        std::vector<ContourElement> piece;
        double d;
        int useful;
    } cases[] = {
        {box(1, 1, 3, 3), 2, 0},
        {box(1.36, 1.36, 3, 3), 2, 0},
        {box(1.4, 1.4, 3, 3), 2, 1},
        {box(2, 2, 4, 4), 2, 1},
        {box(0.01, 0.01, 1, 1), 0.04, 0},
        {box(0.015, 0.015, 1, 1), 0.04, 1},
        {box(0.01, 0.01, 1, 1), 0.05, 1},           // the circle shrinks to no radius
        {offsettest::circle(5, 5, 1, 1, 1), 2, 1},  // a piece of one element
    };
    for (const auto& k : cases)
        EXPECT_EQ(cutPieceUseful(at0.data(), 4, k.piece.data(), static_cast<int32_t>(k.piece.size()), k.d),
                  k.useful)
            << k.piece[0].g[0] << " " << k.d;
}

// Two contours without crossings, as their roles (boundary when ccw equals leftSide) and containment say:
// the appended contours by area, in order.
TEST(CutLists, PairSplitByRolesAndContainment) {
    const std::vector<ContourElement> big = box(0, 0, 100, 100), small = box(20, 20, 40, 40),
                                      far = box(200, 0, 220, 20);
    const struct {
        const std::vector<ContourElement>&a, &b;
        bool boundaryA, boundaryB;
        std::vector<double> areas;
    } cases[] = {
        {small, big, true, true, {400}},
        {big, small, true, true, {400}},
        {small, far, true, true, {}},
        {small, big, false, true, {10000, 400}},
        {big, small, false, true, {}},
        {small, far, false, true, {400}},
        {big, small, true, false, {10000, 400}},
        {small, big, true, false, {}},
        {small, far, true, false, {400}},
        {small, big, false, false, {10000}},
        {big, small, false, false, {10000}},
        {small, far, false, false, {400, 400}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << c.a[0].g[0] << " " << c.b[0].g[0] << " " << c.boundaryA << c.boundaryB);
        Cuts fx;
        ASSERT_TRUE(clistCreate("SEC"));
        const ContourHeader ha = header(c.a, true, c.boundaryA), hb = header(c.b, true, c.boundaryB);
        ASSERT_EQ(cutPairSplit(c.a.data(), &ha, c.b.data(), &hb, "SEC"),
                  static_cast<int32_t>(c.areas.size()));
        ASSERT_EQ(clistCount("SEC"), static_cast<int32_t>(c.areas.size()));
        for (int32_t i = 0; i < clistCount("SEC"); ++i) {
            std::vector<ContourElement> got;
            ASSERT_TRUE(clistLoad("SEC", i, got));
            EXPECT_NEAR(std::fabs(offsettest::signedArea(got)), c.areas[static_cast<size_t>(i)], 1e-9);
        }
    }
    Cuts fx;
    ASSERT_TRUE(clistCreate("SEC"));
    const std::vector<ContourElement> a = box(0, 0, 10, 10), b = box(5, 5, 15, 15);
    const ContourHeader ha = header(a, true, true), hb = header(b, true, true);
    // Crossing boundaries keep their common part, as the inner one of nested boundaries.
    EXPECT_EQ(cutPairSplit(a.data(), &ha, b.data(), &hb, "SEC"), 1);
    double total = 0;
    for (int32_t i = 0; i < clistCount("SEC"); ++i) {
        std::vector<ContourElement> got;
        ASSERT_TRUE(clistLoad("SEC", i, got));
        total += std::fabs(offsettest::signedArea(got));
    }
    EXPECT_NEAR(total, 25, 1e-9);
}

// Each step of the merge with every allocation in turn failing: the documented -1, or the result of a
// run with memory to spare, cuts attached to the region tree included.
TEST(CutLists, StepsShortOfMemoryGiveMinusOne) {
    Cuts fx;
    pocketWithIsland();
    ASSERT_EQ(cutListsCreate(1), 0);
    const auto lists = [] {
        for (const char* l : {"CUT_SPAN", "CUT_BACK", "CUT_GKT"}) ASSERT_TRUE(clistCreate(l));
        put("CUT_SPAN", box(10, 10, 30, 30), true, true);
        put("CUT_SPAN", box(20, 5, 25, 35), true, true);
        put("CUT_BACK", box(70, 70, 80, 80), false, true);
        put("CUT_BACK", box(25, 25, 35, 35), true, true);
    };
    const std::function<int32_t()> steps[] = {
        [] { return cutListCombine("CUT_SPAN", "CUT_BACK", 1); },
        [] { return cutListSelfSplit("CUT_SPAN"); },
        [] { return cutListsOverlap("CUT_SPAN", "CUT_BACK"); },
        [] { return cutListsUnion("CUT_SPAN", "CUT_BACK", 1); },
        [] { return cutListPrune("CUT_SPAN", "CUT_BACK"); },
        [] { return cutListsMerge(); },
        [] { return cutListReset("CUT_SPAN"); },
    };
    for (size_t k = 0; k < std::size(steps); ++k) {
        lists();
        int32_t nodes = regionNodeCount();
        const int32_t want = steps[k](), attached = regionNodeCount() - nodes;
        EXPECT_TRUE(k != 2 || want == 1);  // past the far back cut, the span cuts cross the other
        std::vector<ContourElement> u;     // of crossing span cuts, the later one's part in the other stays
        EXPECT_TRUE(k != 1 || (want == 1 && clistLoad("CUT_SPAN", 0, u) && offsettest::signedArea(u) == 100));
        long failed = 0;
        // The merge makes hundreds of allocations: every 60th fails.
        for (long n = 1;; n += k == 5 ? 60 : 1) {
            lists();
            nodes = regionNodeCount();
            allocfail::arm(n);
            const int32_t got = steps[k]();  // threw std::bad_alloc before
            const bool fired = allocfail::fired();
            allocfail::disarm();
            if (!fired) break;
            failed += got == -1;
            EXPECT_TRUE(got == -1 || (got == want && regionNodeCount() - nodes == attached))
                << k << " " << n << " " << got;
        }
        EXPECT_GT(failed, 0) << k;
    }
    // Span cuts clear of every back cut do not overlap.
    lists();
    ASSERT_TRUE(clistDelete("CUT_BACK", 1));
    EXPECT_EQ(cutListsOverlap("CUT_SPAN", "CUT_BACK"), 0);
    // A crossing contour whose start cannot be read cannot be split either: -1.
    lists();
    std::vector<ContourElement> spoilt = box(20, 5, 25, 35);
    spoilt[0].type = 9;
    ASSERT_TRUE(clistCreate("CUT_SPAN"));
    put("CUT_SPAN", box(10, 10, 30, 30), true, true);
    put("CUT_SPAN", spoilt, true, true);
    EXPECT_EQ(cutListSelfSplit("CUT_SPAN"), -1);
}

// The union of A with the islands of B, contour by contour as the pair split decides; with the move
// switch B's boundaries go over to A. A's count comes back.
TEST(CutLists, UnionTakesTheIslandsAndMovesBoundaries) {
    const std::vector<ContourElement> big = box(0, 0, 100, 100), hole = box(40, 40, 60, 60),
                                      far = box(200, 0, 220, 20), away = box(300, 0, 320, 20);
    const struct {
        std::vector<std::pair<const std::vector<ContourElement>*, bool>> b;  // contour, runs as boundary
        int move;
        int32_t countA, countB;
        double areaA;  // all of A's contours together
    } cases[] = {
        {{{&hole, false}}, 0, 2, 1, 10400},
        {{{&far, true}}, 1, 2, 0, 10400},
        {{{&far, true}}, 0, 1, 1, 10000},
        {{{&away, false}}, 0, 1, 1, 10000},
        {{{&far, true}, {&hole, false}}, 1, 3, 1, 10800},  // the island stays in B
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.b.size() << " " << c.move << " " << c.countA);
        Cuts fx;
        for (const char* l : {"CUT_SPAN", "CUT_BACK"}) ASSERT_TRUE(clistCreate(l));
        put("CUT_SPAN", big, true, true);
        for (const auto& [contour, boundary] : c.b) put("CUT_BACK", *contour, true, boundary);
        EXPECT_EQ(cutListsUnion("CUT_SPAN", "CUT_BACK", c.move), c.countA);
        EXPECT_EQ(clistCount("CUT_SPAN"), c.countA);
        EXPECT_EQ(clistCount("CUT_BACK"), c.countB);
        double area = 0;
        for (int32_t i = 0; i < clistCount("CUT_SPAN"); ++i) {
            std::vector<ContourElement> got;
            ASSERT_TRUE(clistLoad("CUT_SPAN", i, got));
            area += std::fabs(offsettest::signedArea(got));
        }
        EXPECT_NEAR(area, c.areaA, 1e-9);
    }
}
