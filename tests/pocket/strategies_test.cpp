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
    ~Strategy() { regionTreeResetState(); }
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
