// Pocket strategies: the wall-run search and wall rings of axisParallel, the
// entry search, line check, ring rotation and single cuts of stockOutin,
// openPocket's fallback, and the independent no-gouge check of the written
// paths on seeded pockets.
#include "kernel/base/runreset.h"
#include "pocket/strategies.h"

#include <algorithm>
#include <random>

#include "nogouge_util.h"
#include "offset_util.h"
#include "pocket/contourorient.h"
#include "pocketnc_util.h"
#include "strategy_util.h"
#include "vecnear.h"

namespace {

struct Strategy : NcPlane {
    Strategy() {
        regionTreeResetState();
        for (const char* l : {"MAIN", "INPUT"}) EXPECT_EQ(clistCreate(l), 1);
        PocketKernel& k = pocketKernel();
        k.wantedOrientation = 1;
        k.widthFactor = 1;
    }
    ~Strategy() {
        runResetAll();
    }
};

}  // namespace

TEST(Strategies, OpenRunSearch) {
    const std::vector<ContourElement> hexagon =
        polygon({{0, 0}, {10, 0}, {15, 5}, {10, 10}, {0, 10}, {-5, 5}});
    struct Case {
        std::vector<int32_t> tags;
        int result;
        int32_t first, last;
    };
    for (const Case& c : std::vector<Case>{{{-1, 0, 0, -1, 0, 0}, 1, 1, 2},
                                           {{0, 0, -1, 0, 0, -1}, 1, 0, 1},
                                           {{0, -1, 0, 0, 0, 0}, 1, 2, 0},
                                           {{0, 0, 0, 0, 0, 0}, 1, 0, 5},
                                           {{-1, 0, 0, 0, 0, 0}, 1, 1, 5},
                                           {{0, 0, 0, 0, 0, -1}, 1, 0, 4},
                                           {{-1, -1, -1, -1, -1, 0}, 1, 5, 5},
                                           {{0, -1, -1, -1, -1, -1}, 1, 0, 0},
                                           {{-1, -1, -1, -1, -1, -1}, -1, 0, 0}}) {
        const std::vector<ContourElement> k = tagged(hexagon, c.tags);
        int32_t first = 0, last = 0;
        EXPECT_EQ(openRunFind(k.data(), 6, &first, &last), c.result);
        if (c.result != 1) continue;
        EXPECT_EQ(std::pair(first, last), std::pair(c.first, c.last));
        // The copy walks the run forward, wrapping past the end.
        std::vector<ContourElement> run(6);
        const int32_t count = openRunCopy(k.data(), 6, first, last, run.data());
        ASSERT_EQ(count, (last - first + 6) % 6 + 1);
        for (int32_t i = 0; i < count; ++i)
            EXPECT_EQ(std::pair(run[i].g[0], run[i].g[1]),
                      std::pair(k[(first + i) % 6].g[0], k[(first + i) % 6].g[1]));
    }
    // Nothing to search or nowhere to put the run.
    const std::vector<ContourElement> walls = tagged(hexagon, {0, 0, 0, 0, 0, 0});
    int32_t first = 7, last = 7;
    EXPECT_EQ(openRunFind(walls.data(), 0, &first, &last), -1);
    EXPECT_EQ(openRunFind(nullptr, 6, &first, &last), -1);
    EXPECT_EQ(openRunFind(walls.data(), 6, nullptr, &last), -1);
    EXPECT_EQ(openRunFind(walls.data(), 6, &first, nullptr), -1);
    EXPECT_EQ(std::pair(first, last), std::pair(7, 7));
    // A single element: a wall is a whole run of itself, an open one leaves none.
    for (const int32_t tag : {0, -1}) {
        first = last = 7;
        EXPECT_EQ(openRunFind(tagged({hexagon[2]}, {tag}).data(), 1, &first, &last), tag == 0 ? 1 : -1);
        EXPECT_EQ(std::pair(first, last), tag == 0 ? std::pair(0, 0) : std::pair(7, 7));
    }
    std::vector<ContourElement> run(6);
    for (const auto& [f, l] : std::vector<std::pair<int32_t, int32_t>>{{-1, 2}, {6, 2}, {0, -1}, {0, 6}})
        EXPECT_EQ(openRunCopy(walls.data(), 6, f, l, run.data()), 0) << f << " " << l;
    EXPECT_EQ(openRunCopy(walls.data(), 6, 2, 1, run.data()), 6);
    EXPECT_EQ(openRunCopy(walls.data(), 0, 0, 0, run.data()), 0);
}

// A closed contour gets exactly one ring, at the full width, and moves by half of it.
// A run replaced by a chain whose ends are off the run's: a line after the run is moved to the chain's
// end, an arc keeps its ends and is reached by a line; the contour stays closed.
TEST(Strategies, RunReplacedWithJoinsToTheArcAfterIt) {
    PocketErrors errors;
    using offsettest::kPi;
    const std::vector<ContourElement> chain = {lineElem(0, -1, 5, -3), lineElem(5, -3, 10, -2)};
    const struct {
        std::vector<ContourElement> elements;
        std::vector<int32_t> tags;  // of the output: the rest of the contour with its joins, then the chain
    } cases[] = {
        {{lineElem(0, 0, 10, 0, -1), arcElem(10, 5, 5, -kPi / 2, kPi / 2, 1, 3), lineElem(10, 10, 0, 10, 4),
          lineElem(0, 10, 0, 0, 5)},
         {3, 3, 4, 5, -2, -2}},
        {{lineElem(0, 0, 10, 0, -1), lineElem(10, 0, 10, 10, 3), lineElem(10, 10, 0, 10, 4),
          arcElem(0, 5, 5, kPi / 2, 3 * kPi / 2, 1, 5)},
         {3, 4, 5, 5, -2, -2}},
    };
    for (const auto& c : cases) {
        std::vector<ContourElement> out(12);
        const int32_t n = openRunReplace(c.elements.data(), 4, 0, 0, chain.data(), 2, out.data(), 12);
        ASSERT_EQ(n, static_cast<int32_t>(c.tags.size()));
        // Room for the rest, the chain and two joins is enough.
        EXPECT_EQ(openRunReplace(c.elements.data(), 4, 0, 0, chain.data(), 2, out.data(), 3 + 2 + 2), n);
        out.resize(n);
        for (int32_t i = 0; i < n; ++i) {
            const Vec2 e = offsettest::endPoint(out[i]), s = offsettest::startPoint(out[(i + 1) % n]);
            EXPECT_NEAR(std::hypot(e.x - s.x, e.y - s.y), 0, 1e-12) << i;
            EXPECT_EQ(out[i].sourceTag, c.tags[i]) << i;
        }
        // the arcs keep their ends
        for (const ContourElement& e : out) {
            if (e.type == kElemArc) {
                EXPECT_NEAR(std::hypot(e.g[kAsx] - e.g[kAcx], e.g[kAsy] - e.g[kAcy]), 5, 1e-12);
            }
        }
    }
}

// The nodes' rings go out in index order, every element of them; a node without elements is passed over.
TEST(Strategies, AxisParallelEmitsTheNodesInOrder) {
    Strategy s;
    ASSERT_EQ(regionTreeInit(1), 1);
    pocketNcHeader();
    attachRing(polygon(box(0, 0, 10, 10)));
    ContourHeader none{};
    ASSERT_GE(regionAttachContour(nullptr, &none, 0, 0), 0);
    attachRing(polygon(box(0, 0, 5, 5)));
    EXPECT_EQ(axisParallelEmit(), 1);
    std::vector<Vec2> ends;
    for (const Rec& r : records(31))
        if (r.type == 3111) ends.push_back({r.x, r.y});
    const std::vector<Vec2> want = {{10, 0}, {10, 10}, {0, 10}, {0, 0}, {5, 0}, {5, 5}, {0, 5}, {0, 0}};
    ASSERT_EQ(ends.size(), want.size());
    for (size_t i = 0; i < want.size(); ++i) EXPECT_XY(EXPECT_NEAR, ends[i], want[i].x, want[i].y, 1e-9);
}

TEST(Strategies, AxisParallelRingPerWall) {
    Strategy s;
    for (const char* l : {"GKT", "INSEL"}) ASSERT_EQ(clistCreate(l), 1);
    insert("MAIN", polygon(box(0, 0, 50, 30)));
    insert("MAIN", polygon({{20, 10}, {20, 20}, {30, 20}, {30, 10}}));
    EXPECT_DOUBLE_EQ(axisParallelRings(4, 1), 4);
    ASSERT_EQ(clistCount("INSEL"), 2);
    ASSERT_EQ(clistCount("GKT"), 2);
    EXPECT_NEAR(std::fabs(offsettest::signedArea(get("GKT", 0))), 42 * 22, 1e-6);
    EXPECT_NEAR(std::fabs(offsettest::signedArea(get("GKT", 1))), 18 * 18 - (4 - offsettest::kPi) * 16, 1e-6);
    EXPECT_NEAR(std::fabs(offsettest::signedArea(get("MAIN", 0))), 46 * 26, 1e-6);
}

// Wall runs: the offset at the width, clipped at the open sides, and the run as
// nodes, the run moved by half the width; wrapping runs, all-open contours and
// offsets failing at every width (r 0.5 towards the centre, d >= 1). Closed forms.
TEST(Strategies, AxisParallelOpenRuns) {
    const std::vector<ContourElement> halfDisc = {arcElem(0, 0, 0.5, 0, offsettest::kPi, 1),
                                                  lineElem(-0.5, 0, 0.5, 0, -1)};
    struct Case {
        const char* name;
        std::vector<ContourElement> contour;
        std::vector<int32_t> tags;
        double w, narrowest;
        std::vector<double> nodeLengths;  // clipped offset, then the run
        double area;                      // of MAIN afterwards
    };
    const std::vector<ContourElement> rect = polygon(box(0, 0, 50, 30));
    for (const Case& c : std::vector<Case>{
             {"open bottom", rect, {-1, 0, 0, 0}, 4, 4, {26 + 42 + 26, 30 + 50 + 30}, 46 * 28},
             {"open right, run wraps", rect, {0, -1, 0, 0}, 4, 4, {46 + 22 + 46, 50 + 30 + 50}, 48 * 26},
             {"open bottom and top", rect, {-1, 0, -1, 0}, 4, 4, {30, 30, 30, 30}, 46 * 30},
             {"all open", rect, {-1, -1, -1, -1}, 4, 4, {}, 50 * 30},
             {"offset fails", halfDisc, {0, -1}, 10, 0, {0.5 * offsettest::kPi}, offsettest::kPi / 8}}) {
        Strategy s;
        ASSERT_EQ(regionTreeInit(1), 1);
        for (const char* l : {"GKT", "INSEL"}) ASSERT_EQ(clistCreate(l), 1);
        insert("MAIN", tagged(c.contour, c.tags));
        EXPECT_DOUBLE_EQ(axisParallelRings(c.w, 1), c.narrowest) << c.name;
        ASSERT_EQ(regionNodeCount(), static_cast<int32_t>(c.nodeLengths.size())) << c.name;
        for (int32_t i = 0; i < regionNodeCount(); ++i)
            EXPECT_NEAR(offsettest::perimeter(nodeRing(i)), c.nodeLengths[i], 1e-6)
                << c.name << " node " << i;
        const std::vector<ContourElement> main = get("MAIN", 0);
        EXPECT_NEAR(offsettest::signedArea(main), c.area, 1e-6) << c.name;
        EXPECT_EQ(clistCount("GKT") + clistCount("INSEL"), 0) << c.name;
        for (const ContourElement& e : main) EXPECT_TRUE(e.sourceTag == 0 || e.sourceTag == -1) << c.name;
        regionTreeFree();
    }
}

// More than 40 contours are put in order first (contour 1 is then no longer the leftmost island); 40 keep
// theirs.
TEST(Strategies, AxisParallelSortsMoreThanFortyContours) {
    for (int islands : {39, 40}) {
        Strategy s;
        pocketKernel().toolRadius = 1;
        pocketKernel().stepFactor = 0.4;
        insert("MAIN", polygon(box(0, 0, 500, 30)));
        for (int i = 0; i < islands; ++i)
            insert("MAIN",
                   polygon(
                       {{10.0 + 12 * i, 12}, {10.0 + 12 * i, 16}, {14.0 + 12 * i, 16}, {14.0 + 12 * i, 12}}));
        ASSERT_EQ(axisParallel(), 1);
        const std::vector<ContourElement> first = get("MAIN", 1);
        ASSERT_FALSE(first.empty());
        double minX = 1e300;
        for (const ContourElement& e : first) minX = std::min(minX, offsettest::startPoint(e).x);
        EXPECT_EQ(minX < 20, islands == 39) << islands;
    }
}

// An all-open plane narrower than 2r(overlap + 1) is one cut through the middle
// of its width (one unit past it); optimizeSingleCut stops it r short of its far end.
TEST(Strategies, SingleCutOfANarrowOpenPlane) {
    struct Case {
        double width;
        int optimize, result;
        double endX;
        int32_t wallTag;
        bool upright = false;  // the plane along y
    };
    for (const Case& c : std::vector<Case>{{8, 0, 1, 101, -1},
                                           {8, 1, 1, 96, -1},
                                           {19, 0, 1, 101, -1},
                                           {19.5, 0, 0, 0, -1},
                                           {8, 0, 0, 0, 0},
                                           {8, 0, 1, 101, -1, true}}) {
        Strategy s;
        PocketKernel& k = pocketKernel();
        k.singleCutOverlap = 0.9;
        k.optimizeSingleCut = c.optimize;
        insert("MAIN", tagged(polygon(c.upright ? box(0, 0, c.width, 100) : box(0, 0, 100, c.width)),
                              {-1, c.wallTag, -1, -1}));
        EXPECT_EQ(singleCutAttempt(), c.result) << c.width;
        std::vector<Rec> moves;
        for (const Rec& r : records(31))
            if (r.type == 3111) moves.push_back(r);
        ASSERT_EQ(moves.empty(), c.result == 0);
        if (c.result == 0) continue;
        const Rec& end = moves.back();
        EXPECT_NEAR(c.upright ? end.x : end.y, c.width / 2, 1e-9);
        EXPECT_NEAR(c.upright ? 50 + std::fabs(end.y - 50) : end.x, c.endX, 1e-9);  // upright: either end
    }
}

// stockOutin on one all-open plane of width 8 (r 2): with single cuts allowed it is one cut along the
// middle; without them, or with a second contour, the tool also runs off the middle. Walled along its long
// sides the plane is cut by rings whether single cuts are allowed or not, and reported done either way.
TEST(Strategies, StockOutinTakesTheSingleCutOnlyWhenAllowed) {
    for (const auto& [single, islands] :
         std::vector<std::pair<int, int>>{{1, 0}, {0, 0}, {1, 1}, {1, 2}, {0, 2}}) {
        Strategy s;
        PocketKernel& k = pocketKernel();
        k.toolRadius = 2;
        k.stepFactor = 0.4;
        k.singleCut = single;
        k.singleCutOverlap = 0.9;
        k.openMode = 1;
        const std::vector<ContourElement> plane =
            tagged(polygon(box(0, 0, 100, 8)), {-1, islands == 2 ? 0 : -1, -1, islands == 2 ? 0 : -1});
        for (const char* l : {"MAIN", "INPUT"}) insert(l, plane);
        if (islands == 1) {
            std::vector<Vec2> island = box(40, 3, 42, 5);
            std::reverse(island.begin(), island.end());
            for (const char* l : {"MAIN", "INPUT"}) insert(l, polygon(island));
        }
        EXPECT_EQ(stockOutin(), 1) << single << " " << islands;
        EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>{});  // a plane cut whole sends no message
        EXPECT_EQ(k.outsideInDirect, 0);  // off for the finish from the inside out, and left off
        int cuts = 0, offMiddle = 0;
        for (const Rec& r : records(31)) {
            if (r.type != 3111 && r.type != 3121) continue;
            ++cuts;
            offMiddle += std::fabs(r.y - 4) > 1e-9;
        }
        EXPECT_GT(cuts, 0);
        EXPECT_EQ(offMiddle == 0, single && !islands) << single << " " << islands;
    }
}

// A slot ring 3 wide (r 2, overlap 0.75: up to 3, so just) inside a parent open along its bottom: one cut
// along the slot's middle (y 3.5, a unit past its ends), entered from the open side when an end of it lies
// within reach of it (3.5 away); not when the reach is short, the slot too wide, or there is no parent; a
// ring without elements (top 0) has no middle line (-1). Of three rings (4: the third inside the slot) the
// third is finished with the cut; one beside the slot leaves the plane to the rings.
TEST(Strategies, SingleCutRingFromTheOpenSide) {
    const struct {
        double top, reach;
        int nodes, result;
    } cases[] = {{5, 4, 2, 1}, {5, 3.5, 2, 0}, {5.01, 4.5, 2, 0}, {5, 4, 1, 0},
                 {5, 4, 3, 0}, {5, 4, 4, 1},   {0, 4, 2, -1}};
    for (const auto& c : cases) {
        Strategy s;
        PocketKernel& k = pocketKernel();
        k.toolRadius = 2;
        k.singleCutOverlap = 0.75;
        ASSERT_EQ(regionTreeInit(1), 1);
        const int32_t parent = attachRing(tagged(polygon(box(0, 0, 120, 20)), {-1, 0, 0, 0}));
        int32_t child = parent;
        if (c.nodes > 1)
            child = attachRing(c.top ? polygon(box(10, 2, 110, c.top)) : std::vector<ContourElement>{});
        if (c.nodes == 3) attachRing(polygon(box(200, 0, 210, 10)));
        if (c.nodes == 4) regionAddLink(attachRing(polygon(box(50, 3, 51, 4))), child);
        EXPECT_EQ(singleCutRing(child, parent, c.reach), c.result) << c.top << " " << c.reach;
        EXPECT_EQ(regionIsDone(child), c.result == 1 ? kRegionFinished : kRegionOpen);
        EXPECT_EQ(regionIsDone(2), c.nodes == 4 ? kRegionFinished : kRegionOpen);
        std::vector<Rec> moves;
        for (const Rec& r : records(31))
            if (r.type == 3111) moves.push_back(r);
        ASSERT_EQ(moves.size(), c.result == 1 ? 2u : 0u);
        if (c.result != 1) continue;
        EXPECT_NEAR(moves[0].y, 3.5, 1e-9);
        EXPECT_NEAR(moves[1].y, 3.5, 1e-9);
        EXPECT_NEAR(std::fabs(moves[1].x - moves[0].x), 102, 1e-9);
    }
}

// The middle of an open element reaches the ring at exactly D + 0.03, not beyond;
// elements already handled (-2) are entries only on the second pass, after every unhandled one.
TEST(Strategies, EntryFromAnOpenElement) {
    struct Case {
        double gap;
        int32_t tag;
        bool found;
        int32_t side = 0;  // the tag of the element down the right
    };
    for (const Case& c : std::vector<Case>{
             {2.03, -1, true}, {2.0301, -1, false}, {1.5, -2, true}, {1.5, 0, false}, {1.5, -1, true, -2}}) {
        Strategy s;
        ASSERT_EQ(regionTreeInit(1), 1);
        const int32_t source =
            attachRing(tagged(polygon({{0, 0}, {10, 0}, {10, -10}, {0, -10}}), {c.tag, c.side, 0, 0}));
        const int32_t target = attachRing(polygon(box(-5, c.gap, 15, 20)));
        Vec2 p{}, q{};
        const int32_t index = openEntryFind(target, source, 2, 0, &p, &q);
        EXPECT_EQ(index, c.found ? 0 : -1) << c.gap << " " << c.tag;
        if (c.found) {
            EXPECT_NEAR(std::hypot(p.x - 5, q.y - c.gap), 0, 1e-9);
        }
        // Nodes outside the tree hold no ring to enter.
        EXPECT_EQ(openEntryFind(regionNodeCount(), source, 2, 0, &p, &q), -1);
        EXPECT_EQ(openEntryFind(target, -1, 2, 0, &p, &q), -1);
    }
}

// The open-side queries on tags -1 (open), -2 (open, handled) and walls; the start is on an open side
// closer than 0.1 to it.
TEST(Strategies, OpenSideQueries) {
    Strategy s;
    const std::vector<ContourElement> square = polygon(box(0, 0, 10, 10));
    const struct {
        std::vector<int32_t> tags;
        int allOpen, hasOpen;
    } chains[] = {{{-1, -1, -1, -1}, 1, 1}, {{-1, -1, 0, -1}, 0, 1}, {{-2, -1, -1, -1}, 0, 1},
                  {{-2, -2, -2, -2}, 0, 0}, {{0, 0, 0, 0}, 0, 0},    {{0, 3, 0, -1}, 0, 1}};
    for (const auto& c : chains) {
        const std::vector<ContourElement> t = tagged(square, c.tags);
        EXPECT_EQ(chainAllOpen(t.data(), 4), c.allOpen);
        clistCreate("MAIN");
        insert("MAIN", square);
        insert("MAIN", t);
        EXPECT_EQ(mainHasOpenSide(), c.hasOpen);
        ASSERT_EQ(regionTreeInit(1), 1);
        for (int i = 0; i < 3; ++i) attachRing(i == 1 ? t : square);
        EXPECT_EQ(openNodeNext(), std::count(c.tags.begin(), c.tags.end(), -1) ? 1 : -1);
        regionSetDone(1, kRegionStacked);
        EXPECT_EQ(openNodeNext(), -1);
    }
    EXPECT_EQ(chainAllOpen(square.data(), 0), 1);
    EXPECT_EQ(chainAllOpen(nullptr, 4), 1);
    insert("INPUT", square);
    insert("INPUT", tagged(polygon(box(20, 0, 30, 10)), {-1, -2, 0, 0}));
    const struct {
        Vec2 p;
        int on;
    } starts[] = {{{25, -0.0999}, 1}, {{25, 0.0999}, 1},  {{25, -0.1}, 0},    {{30.05, 5}, 0},
                  {{5, 0}, 0},        {{30.1, -0.05}, 0}, {{19.95, -0.05}, 1}};
    for (const auto& c : starts) EXPECT_EQ(startOnOpenSide(&c.p), c.on) << c.p.x << " " << c.p.y;
    EXPECT_EQ(startOnOpenSide(nullptr), 0);
    // A ring starts again only at an element it has, for a point given.
    const int32_t node = attachRing(square);
    const Vec2 at{5, 0};
    for (const int32_t index : {-1, 4}) EXPECT_EQ(ringStartAt(node, &at, index), -1);
    EXPECT_EQ(ringStartAt(node, nullptr, 0), -1);
    EXPECT_EQ(ringStartAt(node + 1, &at, 0), -1);
    EXPECT_EQ(nodeRing(node).size(), 4u);
    ASSERT_EQ(ringStartAt(node, &at, 0), 1);
    const std::vector<ContourElement> ring = nodeRing(node);
    ASSERT_EQ(ring.size(), 5u);
    EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(ring[0]), 5, 0, 1e-12);
    EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(ring[4]), 5, 0, 1e-12);
    EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(ring[4]), 0, 0, 1e-12);
    // An attached run lies one level below the node attached last (none: level 0); bad arguments attach none.
    ASSERT_EQ(regionTreeInit(1), 1);
    ContourHeader h{};
    for (int32_t i = 0; i < 3; ++i) EXPECT_EQ(regionNode(openRunAttach(square.data(), 4, &h))->level, i);
    EXPECT_EQ(std::vector<int32_t>({openRunAttach(nullptr, 4, &h), openRunAttach(square.data(), 0, &h),
                                    openRunAttach(square.data(), 4, nullptr)}),
              std::vector<int32_t>(3, -1));
}

// An open piece carried on along its end tangents and clipped at its two crossings with a box: inside
// it runs from wall to wall through every element of the piece; asked for the outside, or short of
// the walls, or crossing more than twice, it gives -1.
TEST(Strategies, OpenRunClippedAtItsCrossings) {
    PocketErrors errors;
    const std::vector<ContourElement> walls = polygon(box(0, 0, 100, 60));
    const std::vector<ContourElement> piece =
        tagged({lineElem(10, 10, 50, 10), lineElem(50, 10, 50, 40), lineElem(50, 40, 90, 40)}, {3, 4, 5});
    std::vector<ContourElement> out(8);
    ASSERT_EQ(openRunClip(piece.data(), 3, walls.data(), 4, 1, 20, out.data()), 5);
    const std::vector<Vec2> corners = {{0, 10}, {10, 10}, {50, 10}, {50, 40}, {90, 40}, {100, 40}};
    const int32_t tags[] = {3, 3, 4, 5, 5};  // the ends carried on keep their elements' tags
    for (int k = 0; k < 5; ++k) {
        EXPECT_EQ(out[k].sourceTag, tags[k]) << k;
        EXPECT_TRUE(out[k].type == kElemLine && out[k].direction == 0) << k;
        EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(out[k]), corners[k].x, corners[k].y, 1e-9);
        EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(out[k]), corners[k + 1].x, corners[k + 1].y, 1e-9);
    }
    // The same box in 40 lines, many more than the piece has: the same clip.
    std::vector<Vec2> fine;
    const Vec2 bc[] = {{0, 0}, {100, 0}, {100, 60}, {0, 60}};
    for (int c = 0; c < 40; ++c) {
        const Vec2 a = bc[c / 10], b = bc[(c / 10 + 1) % 4];
        fine.push_back({a.x + (b.x - a.x) * (c % 10) / 10, a.y + (b.y - a.y) * (c % 10) / 10});
    }
    ASSERT_EQ(openRunClip(piece.data(), 3, polygon(fine).data(), 40, 1, 20, out.data()), 5);
    for (int k = 0; k < 5; ++k)
        EXPECT_XY(EXPECT_NEAR, offsettest::endPoint(out[k]), corners[k + 1].x, corners[k + 1].y, 1e-9);
    EXPECT_EQ(openRunClip(piece.data(), 3, walls.data(), 4, -1, 20, out.data()), -1);
    EXPECT_EQ(openRunClip(piece.data(), 3, walls.data(), 4, 1, 5, out.data()), -1);  // reaches no wall
    const std::vector<ContourElement> zig = {lineElem(10, 10, 50, 10), lineElem(50, 10, 50, 80),
                                             lineElem(50, 80, 70, 80), lineElem(70, 80, 70, 40),
                                             lineElem(70, 40, 90, 40)};  // out over the top and back
    EXPECT_EQ(openRunClip(zig.data(), 5, walls.data(), 4, 1, 20, out.data()), -1);
    const ContourElement dot = lineElem(60, 40, 60, 40);  // no tangent at its ends
    EXPECT_EQ(openRunClip(&dot, 1, walls.data(), 4, 1, 20, out.data()), -1);
    for (const auto& [count, n] : {std::pair{0, 4}, {3, 1}})  // an empty run, a contour of one element
        EXPECT_EQ(openRunClip(piece.data(), count, walls.data(), n, 1, 20, out.data()), -1) << count << n;
}

TEST(Strategies, RingStartsAtAPointAndEntryLinesStayClear) {
    Strategy s;
    ASSERT_EQ(regionTreeInit(1), 1);
    const int32_t node = attachRing(polygon(box(0, 0, 10, 10)));
    const Vec2 at{10, 4};
    ASSERT_EQ(ringStartAt(node, &at, 1), 1);
    const std::vector<ContourElement> ring = nodeRing(node);
    ASSERT_EQ(ring.size(), 5u);
    EXPECT_NEAR(offsettest::startPoint(ring.front()).y + offsettest::endPoint(ring.back()).y, 8, 1e-12);
    EXPECT_NEAR(offsettest::perimeter(ring), 40, 1e-9);
    EXPECT_NEAR(offsettest::signedArea(ring), 100, 1e-9);
    insert("INPUT", tagged(polygon(box(0, 0, 50, 50)), {0, 0, -1, 0}));
    insert("INPUT", offsettest::circle(40, 40, 3, 2, 1));
    struct Case {
        Vec2 p, q;
        int clear;
    };
    for (const Case& c : std::vector<Case>{{{10, 10}, {10, 0}, 1},      // ends on the wall
                                           {{10, 10}, {10, -5}, 0},     // through the wall
                                           {{10, 10}, {10, -5e-4}, 0},  // just through it
                                           {{30, 41}, {48, 41}, 0},     // through an arc twice
                                           {{10, 10}, {10, 60}, 1}}) {  // out over the open side
        EXPECT_EQ(entryLineClear(&c.p, &c.q), c.clear) << c.q.x << "," << c.q.y;
    }
    // openPocket tests MAIN, where the tool about the line's middle must keep off the islands too.
    pocketKernel().openPocket = 1;
    pocketKernel().toolRadius = 2;
    insert("MAIN", polygon(box(0, 0, 50, 50)));
    std::vector<Vec2> island = box(20, 20, 30, 30);
    std::reverse(island.begin(), island.end());
    insert("MAIN", polygon(island));
    for (const Case& c : std::vector<Case>{{{18.5, 10}, {18.5, 40}, 0},  // the tool at its middle enters
                                           {{12, 10}, {12, 40}, 1}}) {
        EXPECT_EQ(entryLineClear(&c.p, &c.q), c.clear) << c.p.x;
    }
    // The ring's wall runs are cut (1), the tool fed along each from its first wall to its last: round the
    // whole box from its start, or past the open side only; a last wall shorter than 1 that turns back is
    // left out. A node outside the tree has no ring to cut.
    using Path = std::vector<std::pair<double, double>>;
    const int32_t gapped = attachRing(tagged(polygon(box(0, 0, 10, 10)), {0, -1, 0, 0}));
    const int32_t spur =
        attachRing(tagged(polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {0.5, 10}}), {-1, 0, 0, 0, -1}));
    for (const auto& [n, path] : {std::pair{node, Path{{10, 10}, {0, 10}, {0, 0}, {10, 0}, {10, 4}}},
                                  {gapped, Path{{0, 10}, {0, 0}, {10, 0}}},
                                  {spur, Path{{10, 10}, {0, 10}}}}) {
        log().clear();
        EXPECT_EQ(openNodeCut(n, 1, nullptr, 0), 1);
        Path fed;
        for (const Rec& r : log())
            if (r.type == 3111 || r.type == 3121) fed.emplace_back(r.x, r.y);
        EXPECT_EQ(fed, path) << n;
    }
    EXPECT_EQ(openNodeCut(regionNodeCount(), 1, nullptr, 0), -1);
}

// Without open sides: noPlunge leaves the plane alone (3213, result 1); openPocket
// hands the plane to the contour-parallel pass and gives the flags and orientation back.
TEST(Strategies, PlanesWithoutOpenSides) {
    {
        Strategy s;
        pocketKernel().noPlunge = 1;
        insert("MAIN", polygon(box(0, 0, 50, 30)));
        EXPECT_EQ(stockOutin(), 1);
        EXPECT_TRUE(PocketErrors::sent("101 1507"));
        EXPECT_TRUE(records(31).empty());
    }
    // Without the stop, the contour-parallel cycle cuts the plane: from the outside in when forced inside.
    for (const int inside : {0, 1}) {
        Strategy s;
        pocketKernel().forceInside = inside;
        insert("MAIN", polygon(box(0, 0, 50, 30)));
        EXPECT_EQ(stockOutin(), 1);
        EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>{});
        EXPECT_EQ(pocketKernel().outsideInDirect, inside);
        EXPECT_FALSE(records(31).empty());
    }
    Strategy s;
    PocketKernel& k = pocketKernel();
    k.openPocket = k.outsideInDirect = 1;
    insert("MAIN", polygon(box(0, 0, 50, 30)));
    openPocket();
    EXPECT_EQ(std::vector<int32_t>({k.openPocket, k.outsideInDirect, k.stockOutin, k.wantedOrientation}),
              std::vector<int32_t>({1, 1, 0, 1}));
}

// The stock boundary moves the open side out by d, joined to the walls by wall
// extensions; nothing open, nothing moves.
TEST(Strategies, OpenPocketStockBoundary) {
    const std::vector<Vec2> ell = {{0, 0}, {100, 0}, {100, 50}, {50, 50}, {50, 100}, {0, 100}};
    const std::vector<Vec2> spike = {{0, 0}, {0, 50}, {60, 50}, {60, 80}, {60, 20}, {60, 0}};
    struct Case {
        std::vector<Vec2> shape;
        std::vector<int32_t> tags;
        double area;
        long open;
    };
    const double corner = 25 - 25 * offsettest::kPi / 4;  // a 5 x 5 corner less its quarter disc
    for (const Case& c :
         std::vector<Case>{{box(0, 0, 100, 50), {-1, 0, 0, 0}, 100 * 55, 1},
                           {box(0, 0, 100, 50), {0, -1, 0, 0}, 105 * 50, 1},
                           {box(0, 0, 100, 50), {0, 0, -1, 0}, 100 * 55, 1},
                           {box(0, 0, 100, 50), {-1, 0, 0, -1}, 105 * 55 - corner, 3},
                           {box(0, 0, 100, 50), {-1, -1, -1, -1}, 100 * 50, 4},
                           {box(0, 0, 100, 50), {0, 0, 0, 0}, 100 * 50, 0},
                           {ell, {0, 0, -1, 0, 0, 0}, 7500, 1},  // an inner corner: stays
                           // entered straight on from its wall: moves like any other
                           {{{0, 0}, {60, 0}, {100, 0}, {100, 50}, {0, 50}}, {0, -1, 0, 0, 0}, 5200, 1},
                           {spike, {0, 0, 0, -1, 0, 0}, -3000, 1}}) {  // in by a reversal
        Strategy s;
        insert("MAIN", tagged(polygon(c.shape), c.tags));
        EXPECT_EQ(openPocketPrepare(5), 0);
        const std::vector<ContourElement> b = get("MAIN", 0);
        EXPECT_NEAR(offsettest::signedArea(b), c.area, 1e-9);
        EXPECT_EQ(std::count_if(b.begin(), b.end(), [](const ContourElement& e) { return e.sourceTag < 0; }),
                  c.open);
        // The boundary still starts with its first wall element.
        const auto wall = std::find(c.tags.begin(), c.tags.end(), 0);
        if (wall == c.tags.end() || b.empty()) continue;
        const Vec2 from = c.shape[static_cast<size_t>(wall - c.tags.begin())];
        EXPECT_XY(EXPECT_NEAR, offsettest::startPoint(b[0]), from.x, from.y, 1e-9);
    }
    Strategy s;
    EXPECT_EQ(openPocketPrepare(5), -1);  // no boundary
    insert("MAIN", {});
    EXPECT_EQ(openPocketPrepare(5), -1);  // nor one without elements
}

#ifdef KV_HAVE_GEOS
// Seeded pockets of both orientations, some with islands (on one open plane two r apart), by axisParallel
// (closed, then with open sides), by stockOutin and by openPocket (open along
// the lower side; openInsideOut on one; closed ones by the contour-parallel
// fallback): the tool swept along the written path stays inside the pocket or
// beyond an open side and off the islands; openPocket enters from the stock
// boundary, and openInsideOut clears the stockOutin flag.
TEST(Strategies, SeededPocketsDoNotGouge) {
    std::mt19937 rng(4145);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const std::vector<std::vector<int>> openSides = {{0}, {1}, {0, 2}, {1, 3}, {2, 4}, {0, 3}};
    enum Kind { kAxis, kAxisOpen, kStockOutin, kOpenPocket };
    for (int round = 0; round < 40; ++round) {
        const Kind kind = static_cast<Kind>(round / 10);
        Strategy s;
        PocketKernel& k = pocketKernel();
        const double r = k.toolRadius = 2 + 2 * u(rng);
        k.stepFactor = 0.3 + 0.4 * u(rng);
        const double w = 80 + 40 * u(rng), h = 40 + 30 * u(rng), top = h + 10 * u(rng);
        std::vector<Vec2> outer = {{0, 0}, {w, 0}, {w, h}, {w * 0.5, top}, {0, h}};
        std::vector<int> open = kind == kAxisOpen ? openSides[round % 6] : std::vector<int>{0};
        if (kind == kAxis) {
            outer.clear();
            const int n = 4 + round % 4;
            for (int c = 0; c < n; ++c) {
                const double a = 2 * offsettest::kPi * (c + 0.4 * u(rng)) / n;
                outer.push_back(
                    {100 * std::cos(a) * (0.8 + 0.2 * u(rng)), 60 * std::sin(a) * (0.8 + 0.2 * u(rng))});
            }
            open.clear();
        }
        if (kind == kStockOutin && round % 10 >= 6) open.clear();
        k.openMode = !open.empty();
        k.stockOutin = kind == kStockOutin;
        k.openPocket = kind == kOpenPocket;
        k.outsideInDirect = kind >= kStockOutin;
        k.openInsideOut = round % 10 == 7 && kind == kOpenPocket;
        k.overlap = u(rng);
        // Beyond an open side the tool may go anywhere ahead of it: out along its normal,
        // and for the stock boundary also sideways past its ends.
        std::vector<Vec2> allowed;
        std::vector<int32_t> tags(outer.size(), 0);
        for (size_t i = 0; i < outer.size(); ++i) {
            const Vec2 a = outer[i], b = outer[(i + 1) % outer.size()];
            allowed.push_back(a);
            if (std::find(open.begin(), open.end(), static_cast<int>(i)) == open.end()) continue;
            tags[i] = -1;
            const double len = std::hypot(b.x - a.x, b.y - a.y), wide = kind >= kStockOutin ? 100 : 0;
            const Vec2 t{(b.x - a.x) / len, (b.y - a.y) / len}, n{t.y * 100, -t.x * 100};
            allowed.push_back({a.x + n.x - t.x * wide, a.y + n.y - t.y * wide});
            allowed.push_back({b.x + n.x + t.x * wide, b.y + n.y + t.y * wide});
        }
        std::vector<ContourElement> c = tagged(polygon(outer), tags);
        if (round % 2 && kind <= kAxisOpen) contourReverse(c.data(), static_cast<int32_t>(c.size()));
        for (const char* l : {"MAIN", "INPUT"}) insert(l, c);
        std::vector<std::vector<Vec2>> islands;
        for (int i = 0; i < (kind == kAxis       ? round % 3
                             : kind == kAxisOpen ? (round % 3 == 1) + (round == 13)
                                                 : round % 2);
             ++i) {
            const double cx = kind == kAxis ? -25 + 50 * i + 10 * u(rng)
                              : i           ? islands[0][2].x + r + 8
                                            : w / 2,
                         cy = kind == kAxis ? -5 + 10 * u(rng) : h / 2,
                         e = kind == kAxis ? 6 + 6 * u(rng)
                             : i           ? 8
                                           : 5 + 3 * u(rng);
            islands.push_back({{cx - e, cy - e}, {cx - e, cy + e}, {cx + e, cy + e}, {cx + e, cy - e}});
            for (const char* l : {"MAIN", "INPUT"}) insert(l, polygon(islands.back()));
        }
        // stockOutin keeps an allowance off the walls and the islands.
        const double a = kind == kStockOutin ? 0.5 : 0;
        for (int32_t i : {0, 1}) pocketAllowanceSet(i, a);
        EXPECT_GE(kind <= kAxisOpen     ? axisParallel()
                  : kind == kOpenPocket ? openPocket()
                                        : stockOutin(),
                  0)
            << round;
        const std::vector<std::vector<Vec2>> paths = passes();
        size_t points = 0;
        double lowest = 1e300;
        for (const auto& p : paths)
            for (const Vec2& q : p) lowest = std::min(lowest, q.y), ++points;
        EXPECT_GT(points, 20u) << round;
        EXPECT_LT(sweptOutside(paths, r + a, wktPolygon(allowed, islands)), 1e-3) << "round " << round;
        for (int32_t i : {0, 1}) pocketAllowanceSet(i, 0);
        // Closed, the pocket is cleared but for its corners' cusps; the swept polygons fall a little short.
        if (kind == kAxis) {
            EXPECT_LT(leftUncut(paths, r, wktPolygon(outer, islands)), 1.03 * cornerCusps(outer, r) + 0.05)
                << round;
        }
        if (k.openInsideOut) {
            EXPECT_EQ(k.stockOutin, 0);
        }
        if (kind == kOpenPocket && !k.openInsideOut) {
            EXPECT_NEAR(lowest, -k.overlap, 1e-3) << round;  // entered from the stock boundary
        }
    }
}
#endif

// A closed pocket narrower than the tool leaves axis-parallel no room: it fails with its message and writes
// no move; one the tool fits in is cut. An island whose allowance takes the whole tool radius (or more)
// has no tool-centre ring to keep the tool off it: the plane, open or not, is refused, nothing cut over it.
TEST(Strategies, AxisParallelWithoutRoomFails) {
    const struct {
        double side;
        int result;
        int32_t error;
        double step = 0.4;  // 0: no passes at all
        double island = 1;  // allowance of a 10 x 10 island in the middle; 1: no island
        int open = 0;       // 1: the first side is open
    } cases[] = {{8, -1, kPocketErrNoRegion}, {30, 1, 0}, {30, 1, 0, 0}, {50, -1, kPocketErrStep, 0.4, -5},
                 {50, -1, kPocketErrStep, 0.4, -6}, {50, -1, kPocketErrStep, 0.4, -5, 1}, {50, 1, 0, 0.4, 0},
                 {50, 1, 0, 0.4, 0, 1}};  // the last leaves the allowance at 0
    for (const auto& c : cases) {
        Strategy s;
        pocketKernel().toolRadius = 5;
        pocketKernel().stepFactor = c.step;
        insert("MAIN", tagged(polygon(box(0, 0, c.side, c.side)), {-c.open, 0, 0, 0}));
        if (c.island < 1) insert("MAIN", polygon({{20, 20}, {20, 30}, {30, 30}, {30, 20}}));
        pocketAllowanceSet(1, std::min(c.island, 0.0));
        EXPECT_EQ(axisParallel(), c.result) << c.side;
        const std::vector<std::string> sent =
            c.error ? std::vector<std::string>{std::string("101 ") + pocketErrorNumber(c.error)}
                    : std::vector<std::string>{};
        EXPECT_EQ(PocketErrors::texts(), sent) << c.side;
        int cuts = 0;
        for (const Rec& r : records(31)) cuts += r.type == 3111 || r.type == 3121;
        EXPECT_EQ(cuts > 0, c.result == 1 && c.step > 0) << c.side;
    }
}

// With an open side a pass stops at the island's full-width ring, r + a + w off it (a its allowance), and
// goes once round it: the pass, four sides and five arc pieces (the corner it stops at split in two) end on
// that ring.
TEST(Strategies, AxisParallelGoesOnceRoundTheIslandsFullRing) {
    for (const auto& [islands, a] : {std::pair{1, 0.0}, {2, 0.0}, {1, 0.5}}) {
        Strategy s;
        pocketKernel().toolRadius = 1;
        pocketKernel().stepFactor = 0.4;
        pocketKernel().openMode = 1;
        pocketAllowanceSet(1, a);
        insert("MAIN", tagged(polygon(box(0, 0, 50, 30)), {-1, 0, 0, 0}));
        insert("MAIN", polygon({{20, 10}, {20, 20}, {30, 20}, {30, 10}}));
        // A second island whose ring keeps clear of the first's: it changes nothing round the first.
        if (islands == 2) insert("MAIN", polygon({{36, 10}, {36, 20}, {44, 20}, {44, 10}}));
        ASSERT_EQ(axisParallel(), 1);
        int onRing = 0;
        for (const Rec& r : records(31)) {
            const double dx = std::max({20 - r.x, 0.0, r.x - 30}), dy = std::max({10 - r.y, 0.0, r.y - 20});
            onRing += (r.type == 3111 || r.type == 3121) && std::fabs(std::hypot(dx, dy) - 1.8 - a) < 1e-6;
        }
        EXPECT_EQ(onRing, 10) << islands << " " << a;
    }
}
