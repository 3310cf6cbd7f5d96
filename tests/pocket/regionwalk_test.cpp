// Region walk: step codes through a merged-island tree, a chain of rings
// machined as one pass, and a no-gouge check of the written centre path.
#include "pocket/regionwalk.h"

#include "nogouge_util.h"
#include "pocket/regiontree.h"
#include "pocket/ringemit.h"
#include "pocketnc_util.h"
#include "ringtest_util.h"

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
// pocket; the same for the outside-in direct walk.
TEST(RegionWalk, ChainOfRingsInOnePass) {
    for (int direct = 0; direct < 2; ++direct) {
        Walk walk;
        pocketKernel().outsideInDirect = direct;
        std::vector<int32_t> nodes;
        for (int i = 0; i < 6; ++i) {
            double o = 5 + 8 * i;
            nodes.push_back(attachBox(o, o, 100 - o, 100 - o, i));
            if (i > 0) {
                ASSERT_GT(regionAddLink(nodes[i], nodes[i - 1]), 0);
            }
        }
        EXPECT_EQ(direct ? pocketRegionPathDirect(nodes.back(), 8, 0) : pocketRegionPath(nodes.back(), 8, 0),
                  1);
        for (int32_t n : nodes) EXPECT_EQ(regionIsDone(n), kRegionFinished) << n;
        int entries = 0;
        for (const Rec& r : log()) entries += r.name == "start";
        EXPECT_EQ(entries, 1);
        std::vector<std::vector<Vec2>> paths = passes();
        ASSERT_EQ(paths.size(), 1u);
        // Every ring's corners are visited.
        for (int i = 0; i < 6; ++i) {
            double o = 5 + 8 * i;
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
