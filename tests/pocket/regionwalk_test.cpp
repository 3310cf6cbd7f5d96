// Region walk: step codes through a merged-island tree, a chain of rings
// machined as one pass, and a no-gouge check of the written centre path.
#include "pocket/regionwalk.h"

#include <tuple>

#include "nogouge_util.h"
#include "offset_util.h"
#include "pocket/pocketerr.h"
#include "pocket/regiontree.h"
#include "pocket/ringemit.h"
#include "pocketnc_util.h"
#include "ringtest_util.h"
#include "vecnear.h"

namespace {

struct Walk : NcPlane {
    Walk() {
        regionTreeResetState();
        regionStackResetState();
        regionWalkResetState();
        EXPECT_EQ(regionTreeInit(1), 1);
        pocketNcHeader();
    }
    ~Walk() {
        regionTreeFree();
        regionStackResetState();
    }
};

}  // namespace

// A merged ring with two island parents: the second island first, back to the
// merged ring through the stack, on to the first island, finished there.
TEST(RegionWalk, MergedIslandsComeBackThroughTheStack) {
    Walk walk;
    int32_t m = attachBox(10, 10, 90, 50, 1);
    int32_t a = attachBox(20, 20, 40, 40, 0);
    int32_t b = attachBox(60, 20, 80, 40, 0, false);
    ASSERT_GT(regionAddLink(m, a), 0);
    ASSERT_GT(regionAddLink(m, b), 0);
    ASSERT_EQ(regionFirstKind1Parent(m), a);
    WalkEntry e{m, {0, 0, 0}, {-1, 0, 0}};
    // The outside-in walks, too, leave the kind-1 parent for last.
    for (auto* sequence : {regionRingSequenceOut, regionRingSequenceOpen}) {
        RingPosition conn{}, start{};
        int32_t next = -1;
        EXPECT_EQ(sequence(&e, 12, &conn, &start, &next), kWalkUp);
        EXPECT_EQ(next, b);
    }
    ASSERT_EQ(regionStackPush(&e), 1);
    std::vector<std::pair<int, int32_t>> steps;
    while (regionStackPop(&e) && steps.size() < 10) {
        RingPosition conn{}, start{};
        int32_t next = -1;
        int code = regionRingSequence(&e, 12, &conn, &start, &next);
        steps.push_back({code, e.node});
        ASSERT_GE(code, 0);
        ASSERT_EQ(regionPathEmit(&e, code, &conn, &start, next, 12), 1);
    }
    std::vector<std::pair<int, int32_t>> expected = {
        {kWalkUp, m}, {kWalkBack, b}, {kWalkUp, m}, {kWalkFinish, a}};
    EXPECT_EQ(steps, expected);
    for (int32_t n : {m, a, b}) EXPECT_EQ(regionIsDone(n), kRegionFinished) << n;
}

// Nested squares 8 apart in a 100 x 100 pocket, tool radius 5: the walk starts
// at the deepest ring, climbs ring by ring in one pass and never leaves the
// pocket; the same for the outside-in direct walk. Two rings 0.8 apart are still
// linked in one pass with a step of 0.3: a ring out of the step's reach is
// reached at its own distance.
TEST(RegionWalk, ChainOfRingsInOnePass) {
    for (const auto& [direct, gap, step, rings] :
         {std::tuple{0, 8.0, 8.0, 6}, {1, 8.0, 8.0, 6}, {0, 0.8, 0.3, 2}}) {
        Walk walk;
        pocketKernel().outsideInDirect = direct;
        std::vector<int32_t> nodes;
        for (int i = 0; i < rings; ++i) {
            double o = 5 + gap * i;
            nodes.push_back(attachBox(o, o, 100 - o, 100 - o, i));
            if (i > 0) {
                ASSERT_GT(regionAddLink(nodes[i], nodes[i - 1]), 0);
            }
        }
        EXPECT_EQ(
            direct ? pocketRegionPathDirect(nodes.back(), step, 0) : pocketRegionPath(nodes.back(), step, 0),
            1);
        for (int32_t n : nodes) EXPECT_EQ(regionIsDone(n), kRegionFinished) << n;
        int entries = 0;
        for (const Rec& r : log()) entries += r.name == "start";
        EXPECT_EQ(entries, 1);
        std::vector<std::vector<Vec2>> paths = passes();
        ASSERT_EQ(paths.size(), 1u);
        // Every ring's corners are visited.
        for (int i = 0; i < rings; ++i) {
            double o = 5 + gap * i;
            for (Vec2 c : {Vec2{o, o}, Vec2{100 - o, o}, Vec2{100 - o, 100 - o}, Vec2{o, 100 - o}}) {
                bool seen = false;
                for (const Vec2& p : paths[0]) seen |= std::hypot(p.x - c.x, p.y - c.y) < 1e-6;
                EXPECT_TRUE(seen) << c.x << " " << c.y;
            }
        }
#ifdef KV_HAVE_GEOS
        EXPECT_LT(sweptOutside(paths, 5, "POLYGON((0 0,100 0,100 100,0 100,0 0))"), 1e-3);
        // One unit less room is caught.
        EXPECT_GT(sweptOutside(paths, 5, "POLYGON((1 1,100 1,100 100,1 100,1 1))"), 50);
#endif
    }
}

// A square ring with one child 8 inside it: inside-out the step down is searched forward from where the
// ring starts (found on its first side, y = 0), outside-in back from where it ends (its last side, x = 0),
// and the walks take the step there: the inside-out path reaches the child before the corner (100, 0), the
// outside-in one after it.
TEST(RegionWalk, TheStepDownIsSearchedFromEachWalksEnd) {
    for (int variant = 0; variant < 3; ++variant) {
        const int direct = variant == 1;
        Walk walk;
        kvCCPParams.infeedRadius = variant == 2 ? 2 : 0;
        pocketKernel().triggerInfeed = 1;
        pocketKernel().outsideInDirect = direct;
        const int32_t outer = attachBox(0, 0, 100, 100, 0), inner = attachBox(8, 8, 92, 92, 1);
        ASSERT_GT(regionAddLink(inner, outer), 0);
        const WalkEntry e{outer, {0, 0, 0}, {-1, 0, 0}};
        RingPosition conn{}, start{};
        int32_t next = -1;
        EXPECT_EQ((direct ? regionRingSequenceOut : regionRingSequence)(&e, 8, &conn, &start, &next),
                  kWalkDown);
        EXPECT_EQ(next, inner);
        EXPECT_EQ(conn.element, direct ? 4 : 1);
        EXPECT_EQ(direct ? conn.x : conn.y, 0);
        EXPECT_NEAR(std::hypot(conn.x - start.x, conn.y - start.y), 8, 1e-9);
        // A step short of the gap finds the child on the retry within the rings' distance.
        EXPECT_EQ((direct ? regionRingSequenceOut : regionRingSequence)(&e, 6, &conn, &start, &next),
                  kWalkDown);
        EXPECT_NEAR(std::hypot(conn.x - start.x, conn.y - start.y), 8, 1e-9);
        ASSERT_EQ(direct ? pocketRegionPathDirect(outer, 8, 0) : pocketRegionPath(outer, 8, 0), 1);
        const std::vector<std::vector<Vec2>> paths = passes();
        ASSERT_FALSE(paths.empty());
        size_t corner = 0, child = 0;
        for (size_t i = paths[0].size(); i-- > 0;) {
            const Vec2 p = paths[0][i];
            if (std::hypot(p.x - 100, p.y) < 1e-9) corner = i;
            if (std::min({p.x, p.y, 100 - p.x, 100 - p.y}) > 8 - 1e-9) child = i;
        }
        EXPECT_GT(corner, 0u);
        EXPECT_GT(child, 0u);
        EXPECT_EQ(child < corner, !direct);
        // Boxes and straight links cut no arc; an infeed radius rounds the link into the child.
        int arcs = 0, along = 0;  // along: arcs arriving at the child's start along its first side (+x)
        for (const Rec& r : records(31)) {
            arcs += r.type == 3121;
            along += r.type == 3121 && std::hypot(r.x - 8, r.y - 8) < 1e-9 &&
                     (r.clockwise ? 1 : -1) * (r.y - r.cy) > 0;
        }
        EXPECT_EQ(std::pair(arcs > 0, along), std::pair(variant == 2, variant == 2 ? 1 : 0));
        kvCCPParams.infeedRadius = 0;
        // With infeed marks asked for, each link (down to the child, back up to the rest of the ring) is
        // marked from its start to its end.
        std::vector<std::string> marks;
        for (const Rec& r : log())
            if (r.name == "infeed") marks.push_back(r.value);
        EXPECT_EQ(marks, (std::vector<std::string>{"start", "end", "start", "end"})) << variant;
        pocketKernel().triggerInfeed = 0;
    }
}

// A ring (open right side) 8 inside a parent (open top): going up in a rapid
// open pocket the connection leaves the ring where its material run ends and
// reaches the parent where its material run starts; the open-pocket variant
// leaves a ring wholly on open sides as found.
TEST(RegionWalk, RapidOpenPocketConnectsAtMaterialRuns) {
    struct Case {
        int rapid, openPocket, childOpen, variant;
        RingPosition conn, start;
    } cases[] = {{0, 1, 0, 0, {1, 13, 13}, {1, 13, 5}}, {1, 1, 0, 0, {2, 87, 13}, {4, 5, 95}},
                 {1, 0, 0, 0, {1, 13, 13}, {1, 13, 5}}, {1, 1, 0, 1, {2, 87, 13}, {4, 5, 95}},
                 {1, 1, 1, 0, {1, 13, 13}, {4, 5, 95}}, {1, 1, 1, 1, {1, 13, 13}, {1, 13, 5}}};
    for (const Case& c : cases) {
        Walk walk;
        pocketKernel().stockMovement = c.rapid;
        pocketKernel().openPocket = c.openPocket;
        int32_t p = attachBox(5, 5, 95, 95, 0, true, {0, 0, -1, 0});
        int32_t k = attachBox(13, 13, 87, 87, 1, true, {-c.childOpen, -1, -c.childOpen, -c.childOpen});
        ASSERT_GT(regionAddLink(k, p), 0);
        WalkEntry e{k, {0, 0, 0}, {-1, 0, 0}};
        RingPosition conn{}, start{};
        int32_t next = -1;
        int code = c.variant ? regionRingSequenceOpen(&e, 8, &conn, &start, &next)
                             : regionRingSequence(&e, 8, &conn, &start, &next);
        EXPECT_TRUE(code == kWalkUp && next == p);
        for (auto [got, want] : {std::pair{conn, c.conn}, std::pair{start, c.start}})
            EXPECT_TRUE(got.element == want.element && std::fabs(got.x - want.x) < 1e-9 &&
                        std::fabs(got.y - want.y) < 1e-9)
                << c.rapid << c.openPocket << c.childOpen << c.variant << ": " << got.element << " " << got.x
                << " " << got.y;
    }
}

// Whether a way back through a candidate parent stays open: a parent without children, or one
// whose other shared children are all finished or include one not started (without an island
// parent of its own); c's island parent is no candidate.
TEST(RegionWalk, OpenBranchOfTheCandidateParents) {
    const struct {
        int qState;    // the shared child's state
        bool qIsland;  // the shared child also has an island (kind 1) parent
        int expected;
    } cases[] = {{kRegionStacked, false, 0},
                 {kRegionFinished, false, 1},
                 {kRegionOpen, false, 1},
                 {kRegionOpen, true, 0}};
    for (const auto& k : cases) {
        Walk walk;
        const int32_t island = attachBox(40, 40, 60, 60, 0);      // kind 1
        const int32_t p = attachBox(0, 0, 100, 100, 0, false);    // kind 2
        const int32_t r = attachBox(0, 0, 90, 90, 0, k.qIsland);  // kind 1 or 2
        const int32_t c = attachBox(10, 10, 30, 30, 1, false);
        const int32_t q = attachBox(70, 10, 80, 30, 1, false);
        const int32_t lone = attachBox(200, 0, 210, 10, 0, false);  // no children
        ASSERT_GE(regionAddLink(c, island), 1);
        ASSERT_GE(regionAddLink(c, p), 1);
        ASSERT_GE(regionAddLink(q, p), 1);
        ASSERT_EQ(regionAddLink(q, r), 2);
        if (k.qState != kRegionOpen) regionSetDone(q, static_cast<uint8_t>(k.qState));
        const int32_t candidates[] = {island, p};
        EXPECT_EQ(regionHasOpenBranch(candidates, 2, c), k.expected) << k.qState << k.qIsland;
        EXPECT_EQ(regionHasOpenBranch(candidates, 1, c), 0);  // only the island parent
        const int32_t alone[] = {lone, island};
        EXPECT_EQ(regionHasOpenBranch(alone, 2, c), 1);
    }
}

// A parent is clear to step up to unless an open sibling of the child, shared with another parent, can
// reach it from there: that other parent lies under a parent of its own.
TEST(RegionWalk, ParentReachedThroughASharedSiblingIsNotClear) {
    const struct {
        bool otherHasParent;
        uint8_t siblingState;
        int clear;
    } cases[] = {{true, kRegionOpen, 0}, {false, kRegionOpen, 1}, {true, kRegionFinished, 1}};
    for (const auto& k : cases) {
        Walk walk;
        const int32_t p = attachBox(0, 0, 100, 100, 0, false), top = attachBox(-50, -50, 300, 300, 0, false);
        const int32_t other = attachBox(110, 0, 200, 100, 0, false);
        const int32_t c = attachBox(10, 10, 30, 30, 1, false), sibling = attachBox(90, 40, 120, 60, 1, false);
        ASSERT_GE(regionAddLink(c, p), 1);
        ASSERT_EQ(regionAddLink(sibling, other), 1);
        ASSERT_EQ(regionAddLink(sibling, p), 2);
        if (k.otherHasParent) {
            ASSERT_EQ(regionAddLink(other, top), 1);
        }
        if (k.siblingState != kRegionOpen) regionSetDone(sibling, k.siblingState);
        EXPECT_EQ(regionParentClear(p, c, 1), k.clear) << k.otherHasParent << int{k.siblingState};
    }
}

// The stack is all done when every stacked node (the top one taken as the next), its children and
// its parents are finished; asked again, the answer stands until the walk's state is cleared.
TEST(RegionWalk, StackAllDoneStandsOnceFound) {
    Walk walk;
    EXPECT_EQ(regionStackAllDone(0), 0);  // nothing stacked
    pocketKernel().startGiven = 1;  // a start ring is found, then the start dropped: no explicit start ring
    const int32_t a = attachBox(0, 0, 100, 100, 0), b = attachBox(10, 10, 20, 20, 1),
                  open = attachBox(200, 0, 210, 10, 0);
    pocketKernel().startGiven = 0;
    ASSERT_EQ(regionAddLink(b, a), 1);
    // An open child counts, none while some node is excepted without an explicit start ring; nodes outside
    // the tree and leaves have none.
    for (const auto& [node, except, none] : {std::tuple{a, -1, 0}, {a, open, 1}, {b, -1, 1}, {99, -1, 1}})
        EXPECT_EQ(regionNoOpenChild(node, except), none) << node << " " << except;
    regionSetDone(a, kRegionFinished);
    WalkEntry e{a, {}, {}};
    ASSERT_EQ(regionStackPush(&e), 1);
    EXPECT_EQ(regionStackAllDone(a), 0);  // its child is not finished
    regionSetDone(b, kRegionFinished);
    EXPECT_EQ(regionStackAllDone(a), 1);
    EXPECT_EQ(regionStackAllDone(a), 1);
    EXPECT_EQ(regionStackDepth(), 1);
    e.node = open;
    ASSERT_EQ(regionStackPush(&e), 1);
    regionWalkResetState();
    EXPECT_EQ(regionStackAllDone(open), 0);
    EXPECT_EQ(regionStackAllDone(a), 1);  // the open node on top stands for the next, a
}

// A ring whose only way on is its island parent, waiting on the stack, steps back to it, with a start ring
// given too, whether or not the parent is the tree's first node; with another ring on the stack it goes up
// to the parent instead, from the bottom wall where the walk starts (10 from the parent, within the step),
// not from the nearer left wall.
TEST(RegionWalk, TheIslandParentOnTheStackIsSteppedBackTo) {
    for (const bool first : {true, false})
        for (const bool parentOnTop : {true, false}) {
            Walk walk;
            pocketKernel().startGiven = 1;
            const int32_t other = first ? -1 : attachBox(200, 200, 220, 220, 0);
            const int32_t a = attachBox(15, 20, 40, 40, 0), m = attachBox(10, 10, 50, 50, 1);
            ASSERT_TRUE(regionAddLink(m, a) > 0 && regionBestStart()->found);
            const WalkEntry top{parentOnTop ? a : other, {0, 0, 0}, {-1, 0, 0}}, e{m, {0, 0, 0}, {-1, 0, 0}};
            if (top.node >= 0) {
                ASSERT_EQ(regionStackPush(&top), 1);
            }
            RingPosition conn{}, start{};
            int32_t next = -1;
            EXPECT_EQ(regionRingSequence(&e, 12, &conn, &start, &next), parentOnTop ? kWalkBack : kWalkUp)
                << first << parentOnTop;
            EXPECT_EQ(next, a);
            EXPECT_TRUE(parentOnTop || conn.element == 1) << conn.element;
            pocketKernel().startGiven = 0;
        }
}

// A start that names no node is refused (3023) before anything is written, for every walk.
TEST(RegionWalk, StartOutsideTheTreeIsRefused) {
    for (const int32_t start : {-1, 0, 1}) {
        Walk w;
        for (int32_t i = 0; i < start; ++i) ASSERT_GE(attachBox(0, 0, 10 + i, 10, 0), 0);
        const int32_t bad = start < 0 ? -1 : regionNodeCount();
        log().clear();
        EXPECT_EQ(pocketRegionPath(bad, 1, 0), -1) << start;
        EXPECT_EQ(pocketLastError(), 3023);
        EXPECT_EQ(pocketRegionPathDirect(bad, 1, 0), -1) << start;
        EXPECT_EQ(pocketRegionPathDirect(bad, 1, 1), -1) << start;
        EXPECT_TRUE(records(31).empty());
        // Nor does a step from a node outside the tree or one without elements.
        ContourHeader none{};
        const int32_t empty = regionAttachContour(nullptr, &none, 0, 0);
        ASSERT_GE(empty, 0);
        for (const int32_t node : {bad, empty}) {
            const WalkEntry e{node, {0, 0, 0}, {-1, 0, 0}};
            RingPosition conn{}, next{};
            int32_t to = -1;
            EXPECT_EQ(regionPathEmit(&e, kWalkFinish, &conn, &next, 0, 1), -1) << node;
            if (start > 0) {
                const WalkEntry first{0, {0, 0, 0}, {-1, 0, 0}};
                EXPECT_EQ(regionPathEmit(&first, kWalkDown, &conn, &next, node, 1), -1) << node;
            }
            EXPECT_EQ(regionRingSequence(&e, 1, &conn, &next, &to), kWalkFailed) << node;
            EXPECT_EQ(regionRingSequenceOut(&e, 1, &conn, &next, &to), kWalkFailed) << node;
            EXPECT_EQ(regionRingSequenceOpen(&e, 1, &conn, &next, &to), kWalkFailed) << node;
        }
        // A ring of one element, a full circle, is a ring: with nothing stacked and no other ring linked, its
        // step finishes it.
        regionStackClear();
        const ContourElement circle = arcElem(50, 50, 5, 0, 2 * offsettest::kPi, 1);
        ContourHeader h{};
        h.elementCount = h.leftSide = 1;
        const WalkEntry one{regionAttachContour(&circle, &h, 0, 0), {0, 0, 0}, {-1, 0, 0}};
        RingPosition conn{}, next{};
        int32_t to = -1;
        EXPECT_EQ(regionRingSequence(&one, 1, &conn, &next, &to), kWalkFinish);
        ASSERT_EQ(regionSetElementCount(one.node, 3), 1);  // more than its block holds: only that is read
        EXPECT_EQ(regionRingSequence(&one, 1, &conn, &next, &to), kWalkFinish);
    }
}

// Isolated rings are linked to a ring with children that lies nearer than dmax (3), when the middle of
// the gap keeps clear of INPUT by dr: a ring 2 away is; one 3 away, one 40 away, one to the side and one
// below whose gaps hold a wall, and the childless ring beside it are not.
TEST(RegionWalk, PrepassLinksNearIsolatedRings) {
    Walk walk;
    ASSERT_EQ(clistCreate("INPUT"), 1);
    ASSERT_TRUE(putContour("INPUT", box(-1.2, -1, -0.8, 11)));
    ASSERT_TRUE(putContour("INPUT", box(-1, -1.2, 11, -0.8)));
    const int32_t parent = attachBox(0, 0, 10, 10, 0), child = attachBox(2, 2, 8, 8, 1);
    ASSERT_GT(regionAddLink(child, parent), 0);
    const int32_t near = attachBox(12, 0, 14, 10, 0), atLimit = attachBox(0, 13, 10, 15, 0),
                  far = attachBox(50, 0, 52, 10, 0), walled = attachBox(-4, 0, -2, 10, 0),
                  beside = attachBox(12, 20, 14, 30, 0), walledBelow = attachBox(0, -4, 10, -2, 0);
    EXPECT_EQ(regionTreePrepass(0.5, 3), 1);
    for (const int32_t n : {near, atLimit, far, walled, beside, walledBelow})
        EXPECT_EQ(regionIsParent(n, parent), n == near ? 1 : 0) << n;
    EXPECT_EQ(regionIsParent(beside, near), 0);
    EXPECT_EQ(regionNode(child)->parentCount, 1);
}

// The searches from a point on the square ring (0,0)-(10,10) to a quadrilateral inside it whose vertices
// lie 1.4 above the bottom wall (6, 1.4), `right` short of the right wall (10 - right, 5), 2 below the
// top (6, 8) and 3 off the left (3, 5). The forward search takes the first piece along the ring within
// d + 0.049, or the piece it starts on at once, and moves on to a later one only when it is nearer by a
// tenth; the inward search goes on while each piece is nearer than the last by more than 0.049 and
// refuses a walk longer than the budget; the reversed search walks the other way.
TEST(RegionWalk, ConnectionSearchesAlongASquare) {
    PocketErrors errors;
    const std::vector<ContourElement> c = box(0, 0, 10, 10);
    struct Case {
        char mode;  // f forward, i inward, r reversed
        double right, d, budget;
        RingPosition from;
        int result;
        RingPosition onC;  // element and point on the square
        Vec2 onT;
    } cases[] = {
        {'f', 1, 2, 0, {4, 0, 5}, 1, {2, 10, 5}, {9, 5}},
        {'f', 1.3, 2, 0, {4, 0, 5}, 1, {1, 6, 0}, {6, 1.4}},
        {'f', 1.3, 1.36, 0, {4, 0, 5}, 1, {1, 6, 0}, {6, 1.4}},
        {'f', 1.3, 1.35, 0, {4, 0, 5}, 1, {2, 10, 5}, {8.7, 5}},
        {'f', 1, 0.952, 0, {4, 0, 5}, 1, {2, 10, 5}, {9, 5}},
        {'f', 1, 0.95, 0, {4, 0, 5}, 0, {}, {}},
        {'f', 1, 0.951, 0, {4, 0, 5}, 0, {}, {}},  // 0.951 + 0.049 is 1: a tie is not within
        {'f', 1, 2, 0, {2, 10, 7}, 1, {1, 6, 0}, {6, 1.4}},
        {'f', 1, 1.2, 0, {2, 10, 7}, 1, {2, 10, 5}, {9, 5}},
        {'f', 1, 1.5, 0, {2, 10, 2}, 1, {2, 10, 5}, {9, 5}},
        // from the end of the right wall: it is scanned last, whole, and alone is near enough
        {'f', 1, 1.2, 0, {2, 10, 10}, 1, {2, 10, 5}, {9, 5}},
        {'f', 1, 1.5, 0, {0, 0, 0}, 1, {1, 6, 0}, {6, 1.4}},
        {'f', 1, 1.5, 0, {-1, 0, 0}, 1, {1, 6, 0}, {6, 1.4}},
        // a ring touching the right wall is 0 from it: nearer than the bottom, and within any d
        {'i', 0, 2, 1e5, {4, 0, 5}, 1, {2, 10, 5}, {10, 5}},
        {'f', 0, 2, 0, {4, 0, 5}, 1, {2, 10, 5}, {10, 5}},
        {'i', 1.3, 2, 1e5, {4, 0, 5}, 1, {2, 10, 5}, {8.7, 5}},
        {'i', 1.36, 2, 1e5, {4, 0, 5}, 1, {1, 6, 0}, {6, 1.4}},
        {'i', 0.5, 2, 1e5, {4, 0, 5}, 1, {2, 10, 5}, {9.5, 5}},
        {'f', 0.5, 2, 0, {4, 0, 5}, 1, {2, 10, 5}, {9.5, 5}},
        {'i', 1, 2, 35, {4, 0, 5}, 1, {2, 10, 5}, {9, 5}},
        {'i', 1, 2, 34.99, {4, 0, 5}, -1, {}, {}},
        {'i', 1, 0.9, 1e5, {4, 0, 5}, 0, {}, {}},
        {'i', 1, 0.951, 1e5, {4, 0, 5}, 0, {}, {}},
        {'r', 1, 0.951, 0, {4, 0, 5}, 0, {}, {}},
        {'r', 1, 1.9, 0, {4, 0, 5}, 1, {2, 10, 5}, {9, 5}},
        {'r', 1, 2, 0, {2, 10, 7}, 1, {2, 10, 5}, {9, 5}},
        {'r', 1, 1.5, 0, {1, 8, 0}, 1, {1, 6, 0}, {6, 1.4}},
        {'r', 1, 1.5, 0, {0, 0, 0}, 1, {2, 10, 5}, {9, 5}},
    };
    for (const Case& k : cases) {
        const std::vector<ContourElement> t = polygon({{6, 1.4}, {10 - k.right, 5}, {6, 8}, {3, 5}});
        const RingPosition target{0, 0, 0};
        RingPosition onC{-5, 0, 0}, onT{-5, 0, 0};
        const int r =
            k.mode == 'f' ? connectForward(c.data(), 4, t.data(), 4, &k.from, &target, k.d, &onC, &onT)
            : k.mode == 'i'
                ? connectInward(c.data(), 4, t.data(), 4, &k.from, &target, k.d, k.budget, &onC, &onT)
                : connectReversed(c.data(), 4, t.data(), 4, &k.from, &target, k.d, &onC, &onT);
        const int line = static_cast<int>(&k - cases);
        ASSERT_EQ(r, k.result) << line;
        if (r != 1) continue;
        EXPECT_EQ(onC.element, k.onC.element) << line;
        EXPECT_XY(EXPECT_NEAR, onC, k.onC.x, k.onC.y, 1e-9);
        EXPECT_XY(EXPECT_NEAR, onT, k.onT.x, k.onT.y, 1e-9);
        Vec2 p{};
        int32_t e = 0;
        ASSERT_EQ(positionPoint(&onT, t.data(), 4, &e, &p), 1);
        EXPECT_LE(offsettest::distanceTo(p, t[e - 1]), 1e-9) << line;
    }
    // The forward search looks at 20 pieces from the first it found (element 2 of a bottom wall of nb unit
    // elements, 1.4 from the target): the right wall (element nb + 1, 1 from it) replaces it as the 20th,
    // not as the 21st.
    const RingPosition start{0, 0, 0}, ringStart{0, 0, 0};
    RingPosition at{}, on{};
    for (const int nb : {20, 21}) {
        std::vector<Vec2> comb;
        for (int i = 0; i <= nb; ++i) comb.push_back({1.0 * i, 0});
        comb.push_back({1.0 * nb, 10});
        comb.push_back({0, 10});
        const std::vector<ContourElement> bottom = polygon(comb),
                                          quad = polygon({{2, 1.4}, {nb - 1.0, 5}, {2, 8}, {1.5, 5}});
        ASSERT_EQ(connectForward(bottom.data(), nb + 3, quad.data(), 4, &start, &ringStart, 1.5, &at, &on),
                  1);
        EXPECT_EQ(at.element, nb == 20 ? 21 : 2);
        EXPECT_XY(EXPECT_NEAR, at, nb == 20 ? 20 : 2, nb == 20 ? 5 : 0, 1e-9);
    }
    // Once found, the inward search does not try the part of the from-element before the from-point, however
    // near (right wall 2, top 1.5, left 1, bottom 0.5 from the ring).
    const std::vector<ContourElement> fan = polygon({{5, 0.5}, {8, 4}, {6, 8.5}, {1, 5}});
    const RingPosition late{1, 9.9, 0};
    ASSERT_EQ(connectInward(c.data(), 4, fan.data(), 4, &late, &ringStart, 2.5, 1e5, &at, &on), 1);
    EXPECT_XY(EXPECT_NEAR, at, 0, 5, 1e-9);
    // The candidate met first walking on from a point; one marked -2 is no candidate.
    const RingPosition candidates[] = {{2, 10, 5}, {1, 6, 0}, {-2, 9, 0}, {3, 6, 10}};
    const struct {
        RingPosition from;
        int32_t count, first;
    } along[] = {{{1, 8, 0}, 4, 0},   {{4, 0, 5}, 4, 1}, {{2, 10, 6}, 4, 3}, {{2, 10, 6}, 3, 1},
                 {{1, 8.5, 0}, 4, 0}, {{1, 5, 0}, 1, 0}, {{1, 5, 0}, 0, -1}};
    for (const auto& a : along)
        EXPECT_EQ(firstAlongRing(c.data(), 4, &a.from, candidates, a.count), a.first) << a.from.x << a.count;
    // A target that is not the ring's start is refused with 3021 (message 1104).
    const std::vector<ContourElement> t = polygon({{6, 1.4}, {9, 5}, {6, 8}, {3, 5}});
    const RingPosition from{4, 0, 5}, target{2, 9, 5};
    RingPosition onC{}, onT{};
    PocketErrors::texts().clear();
    EXPECT_EQ(connectForward(c.data(), 4, t.data(), 4, &from, &target, 2, &onC, &onT), 0);
    EXPECT_EQ(connectInward(c.data(), 4, t.data(), 4, &from, &target, 2, 1e5, &onC, &onT), 0);
    EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>(2, "101 1104"));
}

// Up to the only parent: a ring finished leaves from where its entry began (its cut went all round), one
// not finished from where its cut ends, straight across the gap of 8.
TEST(RegionWalk, TheStepUpLeavesFromWhereTheRingWasLeft) {
    for (const int finished : {0, 1}) {
        Walk walk;
        const int32_t outer = attachBox(0, 0, 100, 100, 0), inner = attachBox(8, 8, 92, 92, 1);
        ASSERT_GT(regionAddLink(inner, outer), 0);
        if (finished) regionSetDone(inner, kRegionFinished);
        const WalkEntry e{inner, {1, 92, 8}, {3, 8, 92}};
        RingPosition conn{}, start{};
        int32_t next = -1;
        EXPECT_EQ(regionRingSequence(&e, 8, &conn, &start, &next), kWalkUp);
        EXPECT_EQ(next, outer);
        EXPECT_XY(EXPECT_NEAR, conn, finished ? 92 : 8, finished ? 8 : 92, 1e-9);
        EXPECT_XY(EXPECT_NEAR, start, finished ? 92 : 8, finished ? 0 : 100, 1e-9);
        // Left halfway along its segment, a ring not finished is cut all round from there first, so that
        // none of it waits on the stack, and is finished.
        const RingPosition mid{2, 92, 50}, across{1, 100, 50};
        ASSERT_EQ(regionPathEmit(&e, kWalkUp, &mid, &across, next, 8), 1);
        std::vector<Vec2> want = {{92, 8}, {92, 50}, {92, 92}, {8, 92}, {8, 8}, {92, 8}, {92, 50}, {100, 50}};
        if (finished) want.erase(want.begin() + 2, want.begin() + 7);
        const std::vector<std::vector<Vec2>> paths = passes();
        ASSERT_EQ(paths.size(), 1u);
        ASSERT_EQ(paths[0].size(), want.size());
        for (size_t i = 0; i < want.size(); ++i)
            EXPECT_XY(EXPECT_NEAR, paths[0][i], want[i].x, want[i].y, 1e-9);
        EXPECT_EQ(regionIsDone(inner), kRegionFinished);
    }
}

// A ring whose parents are all of the other kind keeps the rest of its round on the stack below the
// ring the walk goes up to; stepping back, neither (the ring it came back to finishes the round). A step
// down from where the entry starts has cut nothing of an unfinished ring: all of it waits, unfinished.
TEST(RegionWalk, TheRestWaitsOnTheStackUnlessTheWalkStepsBack) {
    for (const int code : {kWalkUp, kWalkBack, kWalkDown}) {
        Walk walk;
        const int32_t outer = attachBox(0, 0, 100, 100, 0, false), inner = attachBox(8, 8, 92, 92, 1);
        ASSERT_GT(regionAddLink(inner, outer), 0);
        ASSERT_EQ(regionFirstKind1Parent(inner), -1);
        if (code != kWalkDown) regionSetDone(inner, kRegionFinished);
        const WalkEntry e{inner, {1, 92, 8}, {3, 8, 92}};
        const RingPosition mid = code == kWalkDown ? e.from : RingPosition{2, 92, 50}, across{1, 100, 50};
        ASSERT_EQ(regionPathEmit(&e, code, &mid, &across, outer, 8), 1);
        std::vector<std::tuple<int32_t, double, double, double, double>> stack;
        for (WalkEntry w{}; regionStackPop(&w);)
            stack.push_back({w.node, w.from.x, w.from.y, w.to.x, w.to.y});
        const decltype(stack) up = {{outer, 100, 50, 100, 50}, {inner, 92, 50, 8, 92}},
                              down = {{outer, 100, 50, 100, 50}, {inner, 92, 8, 8, 92}};
        EXPECT_EQ(stack, code == kWalkBack ? decltype(stack){} : code == kWalkDown ? down : up) << code;
        EXPECT_EQ(regionIsDone(inner) == kRegionFinished, code != kWalkDown) << code;
    }
}
