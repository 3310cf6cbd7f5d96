// The path index and the chain crossing check against the full scans they stand in for.
#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <random>
#include <vector>

#include "KVWOG5/lists.h"
#include "KVWOG5/offs3d.h"
#include "KVWOG5/seggrid.h"

namespace {

// A path that grows like a pass: short steps, turning, changed only at its end.
TEST(Offs3dPathIndex, NearestMatchesTheFullScanWhileThePathGrowsAndShrinks) {
    std::mt19937 rng(4711);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int hits = 0, misses = 0;
    for (int trial = 0; trial < 12; trial++) {
        Offs3dPath* path = offs3dPathCreate(0);
        ASSERT_NE(path, nullptr);
        double x = 0.0, y = 0.0, heading = 0.0;
        auto append = [&] {
            const double step = 0.05 + 0.35 * u(rng);
            heading += (u(rng) - 0.5) * (trial % 2 ? 2.5 : 0.4);
            const Offs3dSeg s{x, y, 0.0, x + step * std::cos(heading), y + step * std::sin(heading), 0.0};
            x = s.x2;
            y = s.y2;
            const Vec3 c{0, 0, 0};
            ASSERT_GE(offs3dPathAdd(path, &s, &c, 0, 4), 0);
        };
        const int32_t first = trial % 3 == 0 ? 0 : 7;
        for (int32_t i = 0; i < first; i++) append();
        Offs3dPathIndex* index = offs3dPathIndexCreate(first);
        ASSERT_NE(index, nullptr);
        for (int step = 0; step < 4000; step++) {
            const double a = u(rng);
            if (a < 0.85 || path->count < first + 12) {
                append();
            } else if (a < 0.92) {  // dropped from the end, as rollbacks and corner retreats do
                path->count -= 1 + static_cast<int32_t>(u(rng) * 9);
                x = path->segments[path->count - 1].x2;
                y = path->segments[path->count - 1].y2;
            } else {
                const int32_t to = path->count - static_cast<int32_t>(u(rng) * 6);  // as a pass asks
                const Offs3dSeg& near = path->segments[first + static_cast<int32_t>(u(rng) * (to - first))];
                const double limit = u(rng) < 0.5 ? 0.01 : 0.05;
                const Vec2 p{near.x2 + (u(rng) - 0.5) * 3 * limit, near.y2 + (u(rng) - 0.5) * 3 * limit};
                const Vec3 q{p.x, p.y, 0.0};
                int32_t at = -1;
                const double d = pointPolylineMinDist(path->segments + first, to - first, &q, &at);
                double got = 0.0;
                const int32_t found = offs3dPathIndexNearest(index, path, to, &p, limit, &got);
                if (d <= limit) {
                    EXPECT_EQ(found, first + at);
                    EXPECT_EQ(got, d);
                    hits++;
                } else {
                    EXPECT_EQ(found, -1);
                    EXPECT_EQ(got, DBL_MAX);
                    misses++;
                }
            }
            offs3dPathIndexTouch(index, path);
        }
        offs3dPathIndexFree(index);
        offs3dPathFree(path);
    }
    EXPECT_GT(hits, 100);
    EXPECT_GT(misses, 100);
}

// Runs boxed while the path ran along x, then cut back and regrown upwards: the regrown segments
// must be found where they are now.
TEST(Offs3dPathIndex, FindsSegmentsRegrownAfterTheEndWasCutBack) {
    Offs3dPath* path = offs3dPathCreate(0);
    ASSERT_NE(path, nullptr);
    Offs3dPathIndex* index = offs3dPathIndexCreate(0);
    ASSERT_NE(index, nullptr);
    const Vec3 c{0, 0, 0};
    auto add = [&](double x1, double y1, double x2, double y2) {
        const Offs3dSeg s{x1, y1, 0.0, x2, y2, 0.0};
        ASSERT_GE(offs3dPathAdd(path, &s, &c, 0, 4), 0);
        offs3dPathIndexTouch(index, path);
    };
    for (int i = 0; i < 40; i++) add(0.2 * i, 0.0, 0.2 * (i + 1), 0.0);
    const Vec2 onX{5.01, 0.004};
    double d = 0.0;
    EXPECT_EQ(offs3dPathIndexNearest(index, path, path->count, &onX, 0.01, &d), 25);
    path->count = 20;
    offs3dPathIndexTouch(index, path);
    for (int i = 0; i < 20; i++) add(4.0, 1.5 * i, 4.0, 1.5 * (i + 1));
    const Vec2 up{4.003, 4.5};
    EXPECT_EQ(offs3dPathIndexNearest(index, path, path->count, &up, 0.01, &d), 22);
    EXPECT_NEAR(d, 0.003, 1e-12);
    EXPECT_EQ(offs3dPathIndexNearest(index, path, path->count, &onX, 0.01, &d), -1);
    offs3dPathIndexFree(index);
    offs3dPathFree(path);
}

// Smooth or wildly turning walks, one through a joint, and loose segments that form no chain.
TEST(SegChain, AnswersAsTheGridSearchDoes) {
    std::mt19937 rng(99);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<std::vector<Seg2D>> cases;
    cases.push_back({{0, 0, 1, 0}, {1, 0, 1, 1}, {1, 1, 0.5, -0.5}});  // through a joint
    for (int trial = 0; trial < 60; trial++) {
        const int n = 2 + static_cast<int>(u(rng) * (trial < 30 ? 40 : 3000));
        std::vector<Seg2D> c;
        double x = 0, y = 0, h = 0;
        for (int i = 0; i < n; i++) {
            if (trial % 4 == 3) {  // loose segments
                const double x0 = u(rng) * 50, y0 = u(rng) * 50;
                c.push_back({x0, y0, x0 + u(rng) * 4 - 2, y0 + u(rng) * 4 - 2});
                continue;
            }
            h += (u(rng) - 0.5) * (trial % 4 == 0 ? 3.0 : 0.2);
            const double l = 0.1 + u(rng);
            c.push_back({x, y, x + l * std::cos(h), y + l * std::sin(h)});
            x = c.back().x2;
            y = c.back().y2;
        }
        cases.push_back(c);
    }
    int crossing = 0, clean = 0;
    for (const std::vector<Seg2D>& c : cases) {
        SegList2D* list = segList2DCreate(static_cast<int32_t>(c.size()));
        ASSERT_NE(list, nullptr);
        for (const Seg2D& s : c) segList2DAdd(list, &s);
        const int expected = segListSelfIntersect(list, nullptr, 0, 1e-5);
        EXPECT_EQ(segChainSelfIntersect(c.data(), static_cast<int32_t>(c.size()), 1e-5, 0), expected)
            << c.size() << " segments";
        (expected ? crossing : clean)++;
        segList2DFree(list);
    }
    EXPECT_GT(crossing, 10);
    EXPECT_GT(clean, 10);
}

}  // namespace
