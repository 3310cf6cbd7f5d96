// Pocket strategies: the wall-run search, the wall rings of axisParallel and
// the independent no-gouge check of its written path on seeded pockets.
#include "pocket/strategies.h"

#include <random>

#include "nogouge_util.h"
#include "offset_util.h"
#include "pocket/regiontree.h"
#include "pocketnc_util.h"

namespace {

void addContour(const char* list, const std::vector<ContourElement>& c) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.leftSide = 1;
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

std::vector<ContourElement> tagged(std::vector<ContourElement> c, const std::vector<int32_t>& tags) {
    for (size_t i = 0; i < c.size(); ++i) c[i].sourceTag = tags[i];
    return c;
}

struct Strategy : NcPlane {
    Strategy() {
        regionTreeResetState();
        EXPECT_EQ(clistCreate("MAIN"), 1);
        pocketKernel().wantedOrientation = 1;
    }
    ~Strategy() {
        regionTreeResetState();
        strategiesResetState();
    }
};

std::string wktRing(const std::vector<Vec2>& p) {
    std::string s = "(";
    for (size_t i = 0; i <= p.size(); ++i) {
        if (i) s += ",";
        s += std::to_string(p[i % p.size()].x) + " " + std::to_string(p[i % p.size()].y);
    }
    return s + ")";
}

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
                                           {{-1, -1, -1, -1, -1, -1}, -1, 0, 0}}) {
        const std::vector<ContourElement> k = tagged(hexagon, c.tags);
        int32_t first = 0, last = 0;
        EXPECT_EQ(openRunFind(k.data(), 6, &first, &last), c.result);
        if (c.result != 1) continue;
        EXPECT_EQ(first, c.first);
        EXPECT_EQ(last, c.last);
    }
}

// A closed contour gets exactly one ring, at the full width, and moves by half of it.
TEST(Strategies, AxisParallelRingPerWall) {
    Strategy s;
    ASSERT_EQ(clistCreate("GKT"), 1);
    ASSERT_EQ(clistCreate("INSEL"), 1);
    addContour("MAIN", polygon({{0, 0}, {50, 0}, {50, 30}, {0, 30}}));
    addContour("MAIN", polygon({{20, 10}, {20, 20}, {30, 20}, {30, 10}}));
    EXPECT_DOUBLE_EQ(axisParallelRings(4, 1), 4);
    ASSERT_EQ(clistCount("GKT"), 2);
    ASSERT_EQ(clistCount("INSEL"), 2);
    struct Case {
        int32_t index;
        double area;
    };
    for (const Case& c : std::vector<Case>{{0, 42 * 22}, {1, 18 * 18 - (4 - offsettest::kPi) * 16}}) {
        ContourHeader h{};
        ASSERT_GE(clistGetHeader("GKT", &h, c.index), 0);
        std::vector<ContourElement> ring(h.elementCount);
        clistGet("GKT", ring.data(), &h, c.index);
        EXPECT_NEAR(std::fabs(offsettest::signedArea(ring)), c.area, 1e-6) << c.index;
    }
    ContourHeader h{};
    ASSERT_GE(clistGetHeader("MAIN", &h, 0), 0);
    std::vector<ContourElement> moved(h.elementCount);
    clistGet("MAIN", moved.data(), &h, 0);
    EXPECT_NEAR(std::fabs(offsettest::signedArea(moved)), 46 * 26, 1e-6);
}

#ifdef KV_HAVE_GEOS
// Seeded pockets with islands, both orientations of the outer boundary: the
// tool swept along the written path stays inside the pocket and off the islands.
TEST(Strategies, AxisParallelDoesNotGouge) {
    std::mt19937 rng(4145);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int round = 0; round < 12; ++round) {
        Strategy s;
        const double r = 2 + 2 * u(rng);
        pocketKernel().toolRadius = r;
        pocketKernel().stepFactor = 0.3 + 0.4 * u(rng);
        std::vector<Vec2> outer;
        const int n = 4 + round % 4;
        for (int k = 0; k < n; ++k) {
            const double a = 2 * offsettest::kPi * (k + 0.4 * u(rng)) / n;
            outer.push_back(
                {100 * std::cos(a) * (0.8 + 0.2 * u(rng)), 60 * std::sin(a) * (0.8 + 0.2 * u(rng))});
        }
        if (round % 2) std::reverse(outer.begin(), outer.end());
        addContour("MAIN", polygon(outer));
        std::string wkt = "POLYGON(" + wktRing(outer);
        for (int i = 0; i < round % 3; ++i) {
            const double cx = -25 + 50 * i + 10 * u(rng), cy = -5 + 10 * u(rng), w = 6 + 6 * u(rng);
            std::vector<Vec2> island = {
                {cx - w, cy - w}, {cx - w, cy + w}, {cx + w, cy + w}, {cx + w, cy - w}};
            addContour("MAIN", polygon(island));
            wkt += "," + wktRing(island);
        }
        wkt += ")";
        ASSERT_EQ(axisParallel(), 1) << round;
        const std::vector<std::vector<Vec2>> paths = passes();
        ASSERT_FALSE(paths.empty());
        size_t points = 0;
        for (const auto& p : paths) points += p.size();
        EXPECT_GT(points, 20u);
        EXPECT_LT(sweptOutside(paths, r, wkt), 1e-3) << "round " << round;
    }
}
#endif

namespace {

int32_t attachRing(const std::vector<ContourElement>& c) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.leftSide = 1;
    return regionAttachContour(c.data(), &h, 0, 0);
}

std::vector<ContourElement> nodeRing(int32_t node) {
    const RegionNode* n = regionNode(node);
    if (!n) return {};
    std::vector<ContourElement> c(n->elementCount);
    regionLoadElements(c.data(), static_cast<int32_t>(c.size()), n->elements);
    return c;
}

std::vector<ContourElement> listContour(const char* list, int32_t i, ContourHeader* h = nullptr) {
    ContourHeader hh{};
    if (clistGetHeader(list, &hh, i) < 0) return {};
    std::vector<ContourElement> c(hh.elementCount);
    clistGet(list, c.data(), &hh, i);
    if (h) *h = hh;
    return c;
}

}  // namespace

// An all-open plane narrower than 2r(overlap + 1) is one straight cut through
// the middle of its width; optimizeSingleCut stops it r short of its far end.
TEST(Strategies, SingleCutOfANarrowOpenPlane) {
    struct Case {
        double width;
        int optimize;
        int result;
        double endX;
    };
    for (const Case& c : std::vector<Case>{{8, 0, 1, 101}, {8, 1, 1, 96}, {19, 0, 1, 101}, {19.5, 0, 0, 0}}) {
        Strategy s;
        PocketKernel& k = pocketKernel();
        k.widthFactor = 1;
        k.singleCutOverlap = 0.9;
        k.optimizeSingleCut = c.optimize;
        addContour("MAIN",
                   tagged(polygon({{0, 0}, {100, 0}, {100, c.width}, {0, c.width}}), {-1, -1, -1, -1}));
        EXPECT_EQ(singleCutAttempt(), c.result) << c.width;
        std::vector<Rec> moves;
        for (const Rec& r : records(31))
            if (r.type == 3111) moves.push_back(r);
        if (c.result == 0) {
            EXPECT_TRUE(moves.empty());
            continue;
        }
        ASSERT_FALSE(moves.empty());
        EXPECT_NEAR(moves.back().x, c.endX, 1e-9);
        EXPECT_NEAR(moves.back().y, c.width / 2, 1e-9);
    }
    Strategy s;
    addContour("MAIN", tagged(polygon({{0, 0}, {100, 0}, {100, 8}, {0, 8}}), {-1, 0, -1, -1}));
    EXPECT_EQ(singleCutAttempt(), 0);
}

// The middle of an open element reaches the ring at exactly D + 0.03, not beyond;
// elements already handled (-2) are entries only on the second pass.
TEST(Strategies, EntryFromAnOpenElement) {
    struct Case {
        double gap;
        int32_t sourceTag;
        bool found;
    };
    for (const Case& c :
         std::vector<Case>{{2.03, -1, true}, {2.0301, -1, false}, {1.5, -2, true}, {1.5, 0, false}}) {
        Strategy s;
        ASSERT_EQ(regionTreeInit(1), 1);
        const int32_t source =
            attachRing(tagged(polygon({{0, 0}, {10, 0}, {10, -10}, {0, -10}}), {c.sourceTag, 0, 0, 0}));
        const int32_t target = attachRing(polygon({{-5, c.gap}, {15, c.gap}, {15, 20}, {-5, 20}}));
        Vec2 p{}, q{};
        const int32_t index = openEntryFind(target, source, 2, 0, &p, &q);
        EXPECT_EQ(index >= 0, c.found) << c.gap << " " << c.sourceTag;
        if (!c.found) continue;
        EXPECT_EQ(index, 0);
        EXPECT_NEAR(p.x, 5, 1e-9);
        EXPECT_NEAR(q.y, c.gap, 1e-9);
    }
}

TEST(Strategies, RingStartsAtAPoint) {
    Strategy s;
    ASSERT_EQ(regionTreeInit(1), 1);
    const std::vector<ContourElement> square = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    const int32_t node = attachRing(square);
    const Vec2 at{10, 4};
    ASSERT_EQ(ringStartAt(node, &at, 1), 1);
    const std::vector<ContourElement> ring = nodeRing(node);
    ASSERT_EQ(ring.size(), 5u);
    EXPECT_NEAR(offsettest::startPoint(ring.front()).y, 4, 1e-12);
    EXPECT_NEAR(offsettest::endPoint(ring.back()).y, 4, 1e-12);
    EXPECT_NEAR(offsettest::perimeter(ring), 40, 1e-9);
    EXPECT_NEAR(offsettest::signedArea(ring), 100, 1e-9);
}

TEST(Strategies, EntryLineMustNotCrossTheInput) {
    Strategy s;
    ASSERT_EQ(clistCreate("INPUT"), 1);
    addContour("INPUT", tagged(polygon({{0, 0}, {50, 0}, {50, 50}, {0, 50}}), {0, 0, -1, 0}));
    struct Case {
        Vec2 p, q;
        int clear;
    };
    for (const Case& c : std::vector<Case>{{{10, 10}, {10, 0}, 1},   // ends on the wall
                                           {{10, 10}, {10, -5}, 0},  // through the wall
                                           {{-5, 10}, {55, 10}, 0},  // through two walls
                                           {{10, 10}, {10, 60}, 1},  // out over the open side
                                           {{10, 10}, {20, 20}, 1}}) {
        EXPECT_EQ(entryLineClear(&c.p, &c.q), c.clear) << c.q.x << "," << c.q.y;
    }
}

// The stock boundary lies r + overlap outside the outer contour; the outer
// contour comes back as its wall runs, a contour without open sides unchanged.
TEST(Strategies, OpenPocketStockBoundaryAndWallRuns) {
    Strategy s;
    ASSERT_EQ(pocketAllowanceSet(0, 0.5), 1);
    addContour("MAIN", tagged(polygon({{0, 0}, {60, 0}, {60, 40}, {0, 40}}), {-1, 0, 0, 0}));
    ContourHeader island{};
    const std::vector<ContourElement> hole = polygon({{20, 10}, {20, 20}, {30, 20}, {30, 10}});
    island.elementCount = 4;
    island.tag = 7;
    island.group = 3;
    ASSERT_EQ(clistInsert("MAIN", hole.data(), &island, -1), 1);
    ASSERT_EQ(clistCreate("TEMP"), 1);  // a run's level contours, which the strategy must leave alone
    addContour("TEMP", hole);
    ASSERT_EQ(openPocketPrepare(5), 0);
    EXPECT_EQ(clistCount("TEMP"), 1);
    ASSERT_EQ(clistCount("MAIN"), 3);
    ContourHeader h{};
    const std::vector<ContourElement> stock = listContour("MAIN", 0, &h);
    EXPECT_NEAR(std::fabs(offsettest::signedArea(stock)), 70 * 50 - (4 - offsettest::kPi) * 25, 1e-6);
    EXPECT_EQ(h.tag, 0);
    const std::vector<ContourElement> walls = listContour("MAIN", 1, &h);
    ASSERT_EQ(walls.size(), 3u);
    EXPECT_EQ(h.tag, 1);
    EXPECT_NEAR(offsettest::startPoint(walls[0]).x, 60, 1e-12);
    EXPECT_NEAR(offsettest::endPoint(walls[2]).y, 0, 1e-12);
    const std::vector<ContourElement> kept = listContour("MAIN", 2, &h);
    ASSERT_EQ(kept.size(), 4u);
    EXPECT_EQ(h.tag, 7);
    EXPECT_EQ(h.group, 3);
    for (int i = 0; i < 4; ++i) EXPECT_EQ(kept[i].g[kLx1], hole[i].g[kLx1]);
    for (int32_t i = 1; i < 3; ++i) EXPECT_DOUBLE_EQ(pocketAllowanceGet(i), 0.5);
}

TEST(Strategies, AppendAllKeepsOrderAndHeaders) {
    Strategy s;
    ASSERT_EQ(clistCreate("TEMP"), 1);
    addContour("MAIN", polygon({{0, 0}, {9, 0}, {9, 9}}));
    for (int16_t t = 0; t < 3; ++t) {
        ContourHeader h{};
        const std::vector<ContourElement> c = polygon({{0, 0}, {1.0 + t, 0}, {0, 1}});
        h.elementCount = 3;
        h.tag = static_cast<int16_t>(10 + t);
        ASSERT_EQ(clistInsert("TEMP", c.data(), &h, -1), 1);
    }
    EXPECT_EQ(clistAppendAll("MAIN", "TEMP"), 0);
    ASSERT_EQ(clistCount("MAIN"), 4);
    for (int32_t i = 1; i < 4; ++i) {
        ContourHeader h{};
        const std::vector<ContourElement> c = listContour("MAIN", i, &h);
        EXPECT_EQ(h.tag, 9 + i);
        EXPECT_EQ(c[0].g[kLx2], static_cast<double>(i));
    }
    EXPECT_EQ(clistAppendAll("MAIN", "NOSUCH"), 0);
}

// Without open sides and with noPlunge the plane is not machined: 3213, result 1.
TEST(Strategies, StockOutinWithoutOpenSide) {
    Strategy s;
    pocketKernel().noPlunge = 1;
    pocketKernel().stockOutin = 1;
    addContour("MAIN", polygon({{0, 0}, {50, 0}, {50, 30}, {0, 30}}));
    EXPECT_EQ(stockOutin(), 1);
    EXPECT_NE(std::find(PocketErrors::texts().begin(), PocketErrors::texts().end(), "101 1507"),
              PocketErrors::texts().end());
    EXPECT_TRUE(records(31).empty());
}

#ifdef KV_HAVE_GEOS
// Seeded pockets open along their lower side, with islands: entered from the
// open side, the tool stays inside the pocket (or beyond its open side) and off the islands.
TEST(Strategies, StockOutinAndOpenPocketDoNotGouge) {
    std::mt19937 rng(4146);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    for (int round = 0; round < 8; ++round) {
        Strategy s;
        PocketKernel& k = pocketKernel();
        const double r = 2 + 2 * u(rng);
        const bool open = round >= 4;
        k.toolRadius = r;
        k.stepFactor = 0.3 + 0.3 * u(rng);
        k.stockOutin = open ? 0 : 1;
        k.openPocket = open ? 1 : 0;
        k.outsideInDirect = 1;
        k.openMode = 1;
        k.widthFactor = 1;
        const double w = 80 + 40 * u(rng), h = 40 + 30 * u(rng);
        const std::vector<Vec2> outer = {{0, 0}, {w, 0}, {w, h}, {w * 0.5, h + 10 * u(rng)}, {0, h}};
        addContour("MAIN", tagged(polygon(outer), {-1, 0, 0, 0, 0}));
        ASSERT_EQ(clistCreate("INPUT"), 1);
        addContour("INPUT", tagged(polygon(outer), {-1, 0, 0, 0, 0}));
        std::string wkt =
            "POLYGON(" +
            wktRing({{-100, -100}, {w + 100, -100}, {w, 0}, {w, h}, {w * 0.5, outer[3].y}, {0, h}, {0, 0}});
        if (round % 2) {
            const double cx = w / 2, cy = h / 2, e = 5 + 3 * u(rng);
            const std::vector<Vec2> island = {
                {cx - e, cy - e}, {cx - e, cy + e}, {cx + e, cy + e}, {cx + e, cy - e}};
            addContour("MAIN", polygon(island));
            addContour("INPUT", polygon(island));
            wkt += "," + wktRing(island);
        }
        wkt += ")";
        const int result = open ? openPocket() : stockOutin();
        EXPECT_GE(result, 0) << round;
        const std::vector<std::vector<Vec2>> paths = passes();
        ASSERT_FALSE(paths.empty()) << round;
        EXPECT_LT(sweptOutside(paths, r, wkt), 1e-3) << "round " << round;
    }
}
#endif

// More than 40 contours are put in order first; 40 keep theirs.
TEST(Strategies, AxisParallelSortsMoreThanFortyContours) {
    for (int islands : {39, 40}) {
        Strategy s;
        pocketKernel().toolRadius = 1;
        pocketKernel().stepFactor = 0.4;
        addContour("MAIN", polygon({{0, 0}, {500, 0}, {500, 30}, {0, 30}}));
        for (int i = 0; i < islands; ++i) {
            const double x = 10 + 12 * i;
            addContour("MAIN", polygon({{x, 12}, {x, 16}, {x + 4, 16}, {x + 4, 12}}));
        }
        ASSERT_EQ(axisParallel(), 1);
        ASSERT_EQ(clistCount("MAIN"), islands + 1);
        // Contour 1 is the island nearest the left end unless the order changed.
        const std::vector<ContourElement> first = listContour("MAIN", 1);
        ASSERT_FALSE(first.empty());
        double minX = 1e300;
        for (const ContourElement& e : first) minX = std::min(minX, offsettest::startPoint(e).x);
        EXPECT_EQ(minX < 20, islands == 39) << islands;
    }
}

// With openInsideOut the regions entered from the stock are finished inside-out
// and the stockOutin flag stays cleared afterwards.
TEST(Strategies, OpenInsideOutClearsTheStrategyFlag) {
    Strategy s;
    PocketKernel& k = pocketKernel();
    k.toolRadius = 3;
    k.stepFactor = 0.4;
    k.stockOutin = k.outsideInDirect = 1;
    k.openInsideOut = 1;
    k.openMode = 1;
    k.widthFactor = 1;
    const std::vector<ContourElement> outer =
        tagged(polygon({{0, 0}, {100, 0}, {100, 60}, {0, 60}}), {-1, 0, 0, 0});
    addContour("MAIN", outer);
    ASSERT_EQ(clistCreate("INPUT"), 1);
    addContour("INPUT", outer);
    EXPECT_GE(stockOutin(), 0);
    EXPECT_EQ(k.stockOutin, 0);
    EXPECT_FALSE(records(31).empty());
}

// Without open sides openPocket hands the contours to the contour-parallel pass
// and gives the strategy flags and the wanted orientation back.
TEST(Strategies, OpenPocketWithoutOpenSides) {
    Strategy s;
    PocketKernel& k = pocketKernel();
    k.openPocket = k.outsideInDirect = 1;
    k.wantedOrientation = 1;
    addContour("MAIN", polygon({{0, 0}, {50, 0}, {50, 30}, {0, 30}}));
    openPocket();
    EXPECT_EQ(k.openPocket, 1);
    EXPECT_EQ(k.outsideInDirect, 1);
    EXPECT_EQ(k.stockOutin, 0);
    EXPECT_EQ(k.wantedOrientation, 1);
    EXPECT_EQ(openPocketMode(), 0);
}
