// List operations of the pocket run: pocket groups brought together by their
// start point, the stock contour put first.
#include "offset_util.h"
#include "pocket/contouroffset.h"
#include "pocket/leveltable.h"
#include "pocket/pocket_util.h"
#include "pocket/pocketrun.h"
#include "pocket/regiontree.h"

namespace {

void put(const char* list, double x, double y, int16_t group, uint16_t stock = 0) {
    std::vector<ContourElement> c = polygon({{x, y}, {x + 4, y}, {x + 4, y + 4}, {x, y + 4}});
    ContourHeader h{};
    h.elementCount = 4;
    h.group = h.tag = group;
    h.stock = stock;
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

std::vector<std::pair<int16_t, double>> groupsAndStarts(const char* list) {
    std::vector<std::pair<int16_t, double>> out;
    for (int32_t i = 0; i < clistCount(list); ++i) {
        ContourHeader h{};
        ContourElement e[4];
        clistGet(list, e, &h, i);
        out.push_back({h.group, e[0].g[kLx1]});
    }
    return out;
}

}  // namespace

// Groups 1 (starts at 0), 2 (at 10), 3 (at 0, two contours), 4 (at 10): group 3
// moves behind group 1 whole, then group 4 behind group 2.
TEST(PocketRunOps, GroupsWithTheSameStartComeTogether) {
    PocketErrors errs;
    put("POCKET", 0, 0, 1);
    put("POCKET", 10, 0, 2);
    put("POCKET", 0, 0, 3);
    put("POCKET", 20, 0, 3);
    put("POCKET", 10, 0, 4);
    EXPECT_EQ(ccpNextGroup(-1, "POCKET"), 0);
    EXPECT_EQ(ccpNextGroup(2, "POCKET"), 4);
    EXPECT_EQ(ccpNextGroup(4, "POCKET"), -1);
    EXPECT_EQ(ccpNextGroup(5, "POCKET"), -1);  // past the list
    // The first group starts the list whatever its number; an empty list has none.
    EXPECT_EQ(ccpNextGroup(-1, "MAIN"), -1);
    for (const int16_t group : {-1, -1, -2}) put("MAIN", 0, 0, group);
    EXPECT_EQ(ccpNextGroup(-1, "MAIN") * 10 + ccpNextGroup(0, "MAIN"), 2);
    EXPECT_EQ(ccpReorderPocketGroups("POCKET"), 1);
    const std::vector<std::pair<int16_t, double>> want = {{1, 0}, {3, 0}, {3, 20}, {2, 10}, {4, 10}};
    EXPECT_EQ(groupsAndStarts("POCKET"), want);
    // The tag of the contour nearest a point, the first of equally near ones; 0 without a list or point.
    const Vec2 points[] = {{23, 5}, {2, 5}};
    EXPECT_EQ(ccpLevelNearestStart("POCKET", &points[0]), 3);
    EXPECT_EQ(ccpLevelNearestStart("POCKET", &points[1]), 1);
    EXPECT_EQ(ccpLevelNearestStart("POCKET", nullptr) + ccpLevelNearestStart("NONE", &points[0]), 0);
}

// The first stock contour after index 0 is reversed and put first, later ones
// are reversed in place; no stock contour leaves the list alone.
TEST(PocketRunOps, FirstStockContourLeads) {
    const struct {
        std::vector<uint16_t> stock;
        int result;
        std::vector<double> order;  // start x after the call
        std::vector<int> reversed;
    } cases[] = {{{0, 0, 0}, 0, {0, 10, 20}, {0, 0, 0}},
                 {{0, 1, 0}, 1, {10, 0, 20}, {1, 0, 0}},
                 {{0, 1, 1}, 1, {10, 0, 20}, {1, 0, 1}},
                 {{1, 0, 1}, 1, {0, 10, 20}, {0, 0, 1}}};
    for (const auto& c : cases) {
        PocketErrors errs;
        for (size_t i = 0; i < c.stock.size(); ++i)
            put("MAIN", 10.0 * static_cast<double>(i), 0, 0, c.stock[i]);
        EXPECT_EQ(ccpFirstStockContour("MAIN"), c.result);
        for (size_t i = 0; i < c.order.size(); ++i) {
            ContourHeader h{};
            std::vector<ContourElement> e(4);
            clistGet("MAIN", e.data(), &h, static_cast<int32_t>(i));
            EXPECT_DOUBLE_EQ(e[0].g[kLx1], c.order[i]) << i;
            EXPECT_EQ(offsettest::signedArea(e) < 0, c.reversed[i] == 1) << i;
        }
    }
}

// A region's ring starts again at the middle of its longest line (the first of equal ones) when
// that line is at least the tool radius long; the ring gains the split half.
TEST(PocketRunOps, RingStartsAtTheMiddleOfItsLongestLine) {
    const struct {
        std::vector<Vec2> corners;
        int result;
        Vec2 start;
    } cases[] = {{{{0, 0}, {30, 0}, {30, 10}, {0, 10}}, 1, {15, 0}},
                 {{{30, 0}, {30, 10}, {0, 10}, {0, 0}}, 1, {15, 10}},
                 {{{0, 0}, {0, 12}, {-4, 12}, {-4, 0}}, 1, {0, 6}},
                 {{{0, 0}, {4, 0}, {4, 4}, {0, 4}}, 0, {0, 0}}};
    for (const auto& c : cases) {
        PocketErrors errs;
        pocketKernel().toolRadius = 5;
        ASSERT_EQ(regionTreeInit(1), 1);
        const std::vector<ContourElement> ring = polygon(c.corners);
        ContourHeader h{};
        h.elementCount = 4;
        const int32_t node = regionAttachContour(ring.data(), &h, 0, 0);
        ASSERT_GE(node, 0);
        EXPECT_EQ(ccpRingStartAtLongestLine(node), c.result) << c.start.x << " " << c.start.y;
        const RegionNode* n = regionNode(node);
        std::vector<ContourElement> back(n->elementCount);
        ASSERT_EQ(regionLoadElements(back.data(), static_cast<int32_t>(back.size()), n->elements), 1);
        ASSERT_EQ(back.size(), c.result ? 5u : 4u);
        const Vec2 s = offsettest::startPoint(back.front()), e = offsettest::endPoint(back.back());
        EXPECT_NEAR(std::hypot(s.x - c.start.x, s.y - c.start.y), 0, 1e-12);
        EXPECT_NEAR(std::hypot(e.x - c.start.x, e.y - c.start.y), 0, 1e-12);
        EXPECT_NEAR(offsettest::signedArea(back), offsettest::signedArea(ring), 1e-9);
        EXPECT_EQ(ccpRingStartAtLongestLine(regionNodeCount()), 0);
        regionTreeFree();
    }
}

// One level-table row per contour, {top, bottom, 0, index}; by levels only the contours of the level;
// a table too small is a failure.
TEST(PocketRunOps, LevelRowsFromAList) {
    PocketErrors errs;
    const int16_t tags[] = {0, 1, 2, 1};
    for (int32_t i = 0; i < 4; ++i) {
        std::vector<ContourElement> c = polygon({{0, 0}, {4, 0}, {4, 4}});
        ContourHeader h{};
        h.elementCount = 3;
        h.tag = tags[i];
        h.top = 10 - i;
        h.bottom = -i;
        ASSERT_EQ(clistInsert("TEMP", c.data(), &h, -1), 1);
    }
    const struct {
        int32_t oriAutomatic, level, capacity, result;
        std::vector<int32_t> refs;
    } cases[] = {{2, 1, 4, 1, {1, 3}},       {2, 2, 4, 1, {2}},          {2, 3, 4, 1, {}},
                 {1, 1, 4, 1, {0, 1, 2, 3}}, {0, 0, 4, 1, {0, 1, 2, 3}}, {1, 0, 3, -1, {0, 1, 2}},
                 {2, 1, 2, 1, {1, 3}}};
    for (const auto& c : cases) {
        kvCCPParams.oriAutomatic = c.oriAutomatic;
        LevelTable* t = levelTableCreate(c.capacity);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(ccpLevelRowsFromList(&kvCCP, t, "TEMP", c.level), c.result);
        std::vector<int32_t> refs;
        for (int32_t r = 0; r < t->capacity && t->rows[r].ref >= 0; ++r) {
            const int32_t i = t->rows[r].ref;
            refs.push_back(i);
            EXPECT_EQ(t->rows[r].top, 10 - i);
            EXPECT_EQ(t->rows[r].bottom, -i);
            EXPECT_EQ(t->rows[r].flag, 0);
        }
        EXPECT_EQ(refs, c.refs) << c.oriAutomatic << " " << c.level;
        levelTableFree(t);
    }
    EXPECT_EQ(ccpLevelRowsFromList(&kvCCP, nullptr, "TEMP", 0), -1);
}

// An outer contour (no parent) that is only a sliver goes, when another contour of its level is not
// thin; a contour with a parent, or one without a solid partner of its level, stays. A band 1 wide is
// solid at the tolerance of 0.2, thin at ten times it.
TEST(PocketRunOps, ThinOuterContourDropped) {
    const std::vector<ContourElement> sliver = polygon({{0, 0}, {20, 0}, {20, 0.1}, {0, 0.1}}),
                                      solid = polygon({{0, 5}, {10, 5}, {10, 15}, {0, 15}}),
                                      band = polygon({{0, 5}, {20, 5}, {20, 6}, {0, 6}});
    ASSERT_EQ(contourIsThin(sliver.data(), 4, 0.2), 1);
    ASSERT_EQ(contourIsThin(solid.data(), 4, 0.2), 0);
    ASSERT_EQ(contourIsThin(band.data(), 4, 0.2), 0);
    ASSERT_EQ(contourIsThin(band.data(), 4, 2), 1);
    struct Entry {
        bool thin;
        int16_t parent, tag;
        bool band = false;
    };
    const struct {
        std::vector<Entry> list;
        int result;
        int32_t left;
    } cases[] = {
        {{{true, -1, 1}, {false, -1, 1}}, 1, 1},       {{{false, -1, 1}, {true, -1, 1}}, 1, 1},
        {{{true, 0, 1}, {false, -1, 1}}, 0, 2},        {{{true, 1, 1}, {false, -1, 1}}, 0, 2},
        {{{true, -1, 1}, {false, -1, 2}}, 0, 2},       {{{true, -1, 1}, {true, -1, 1}}, 0, 2},
        {{{false, -1, 1}, {false, -1, 1}}, 0, 2},      {{{false, -1, 1, true}, {false, -1, 1}}, 0, 2},
        {{{true, -1, 1}, {false, -1, 1, true}}, 1, 1},
    };
    for (const auto& c : cases) {
        PocketErrors errs;
        ASSERT_EQ(clistCreate("TEMP"), 1);
        for (const Entry& e : c.list) {
            ContourHeader h{};
            h.parent = e.parent;
            h.tag = e.tag;
            ASSERT_TRUE(putContour("TEMP", e.band ? band : e.thin ? sliver : solid, h));
        }
        EXPECT_EQ(ccpDropThinOuter("TEMP"), c.result) << c.list[0].thin << c.list[0].parent << c.list[1].tag;
        EXPECT_EQ(clistCount("TEMP"), c.left);
        for (int32_t i = 0; i < clistCount("TEMP") && c.result; ++i) {
            ContourHeader h{};
            ASSERT_GE(clistGetHeader("TEMP", &h, i), 0);
            EXPECT_EQ(h.elementCount, 4u);
            std::vector<ContourElement> e(4);
            ASSERT_EQ(clistGet("TEMP", e.data(), &h, i), i);
            EXPECT_EQ(e[0].g[kLy1], 5);  // the solid one is left
        }
        clistFree("TEMP");
    }
}

// Islands kept out of a level's plane: those of deeper levels reached through their parents from a
// contour of the level, standing at least the tolerance above the plane; the level's own islands, pocket
// boundaries, foreign chains and broken parent links stay out. Contour i is the box at x = 10 i.
TEST(PocketRunOps, IslandsOfDeeperLevelsJoinThePlane) {
    PocketErrors errs;
    pocketKernel().tolerance = 0.01;
    const struct {
        int16_t tag, parent;
        bool island;
        double top;
    } source[] = {{1, -1, false, 0}, {1, 0, true, 0}, {2, 0, false, -4}, {2, 2, true, 0},
                  {2, 2, true, -3},  {3, 6, true, 0}, {5, -1, false, 0}, {3, 3, true, 0},
                  {2, 20, true, 0},  {4, 9, true, 0}, {2, 0, true, 0}};
    const struct {
        int32_t level;
        double z;
        std::vector<double> added;  // x of each contour appended, in order
    } cases[] = {{1, -2, {30, 70, 100}},
                 {1, -3, {30, 70, 100}},
                 {1, -3.02, {30, 40, 70, 100}},
                 {2, -2, {70}},
                 {5, -2, {50}},
                 {1, 0, {}},
                 {1, -0.005, {}},
                 {1, -0.02, {30, 70, 100}},
                 {4, -2, {}}};
    for (const auto& c : cases) {
        ASSERT_TRUE(clistCreate("TEMP"));
        ASSERT_TRUE(clistCreate("MAIN"));
        for (size_t i = 0; i < std::size(source); ++i) {
            const double x = 10.0 * static_cast<double>(i);
            std::vector<ContourElement> box = polygon({{x, 0}, {x + 4, 0}, {x + 4, 4}, {x, 4}});
            ContourHeader h{};
            h.tag = source[i].tag;
            h.parent = source[i].parent;
            h.ccw = 1;
            h.leftSide = source[i].island ? 0 : 1;
            h.top = source[i].top;
            h.bottom = -6;
            ASSERT_TRUE(putContour("TEMP", box, h));
        }
        EXPECT_EQ(ccpAddIslands("TEMP", "MAIN", c.level, c.z), static_cast<int32_t>(c.added.size()))
            << c.level << " " << c.z;
        std::vector<double> xs;
        for (int32_t i = 0; i < clistCount("MAIN"); ++i) {
            ContourHeader h{};
            std::vector<ContourElement> e(4);
            ASSERT_GE(clistGet("MAIN", e.data(), &h, i), 0);
            xs.push_back(e[0].g[kLx1]);
        }
        EXPECT_EQ(xs, c.added) << c.level << " " << c.z;
    }
    EXPECT_EQ(ccpAddIslands("NOLIST", "MAIN", 1, 0), 0);
}

// Clamps join MAIN when they lie in its outer boundary or cross it; those beside it or round it stay out.
TEST(PocketRunOps, ClampsInOrAcrossTheBoundaryJoin) {
    PocketErrors errs;
    EXPECT_EQ(ccpAddClamps("CLAMPS", "MAIN"), -1);
    ASSERT_TRUE(putContour("MAIN", polygon({{0, 0}, {100, 0}, {100, 60}, {0, 60}})));
    const struct {
        double x0, y0, x1, y1;
        bool joins;
    } clamps[] = {{10, 10, 20, 20, true},     {90, 20, 110, 30, true},  {200, 0, 210, 10, false},
                  {-10, -10, 110, 70, false}, {-5, -5, 0.5, 0.5, true}, {100, 60, 104, 64, false}};
    std::vector<double> want;
    for (const auto& c : clamps) {
        ASSERT_TRUE(putContour("CLAMPS", polygon({{c.x0, c.y0}, {c.x1, c.y0}, {c.x1, c.y1}, {c.x0, c.y1}})));
        if (c.joins) want.push_back(c.x0);
    }
    EXPECT_EQ(ccpAddClamps("CLAMPS", "MAIN"), 1);
    std::vector<double> got;
    for (int32_t i = 1; i < clistCount("MAIN"); ++i) {
        ContourHeader h{};
        std::vector<ContourElement> e(4);
        ASSERT_GE(clistGet("MAIN", e.data(), &h, i), 0);
        got.push_back(e[0].g[kLx1]);
    }
    EXPECT_EQ(got, want);
}
