#include "KVWOG5/seggrid.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "KVWOG5/lists.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/wogerr.h"

namespace {

SegList2D* segList(const std::vector<Seg2D>& segs) {
    SegList2D* l = segList2DCreate(0);
    for (const Seg2D& s : segs) segList2DAdd(l, &s);
    return l;
}

// A closed polyline through the points.
std::vector<Seg2D> loop(const std::vector<Vec2>& p) {
    std::vector<Seg2D> out;
    for (size_t i = 0; i < p.size(); i++) {
        const Vec2& a = p[i];
        const Vec2& b = p[(i + 1) % p.size()];
        out.push_back(Seg2D{a.x, a.y, b.x, b.y});
    }
    return out;
}

TEST(SegGrid, SmallCasesAndTheStopMark) {
    struct Case {
        const char* name;
        std::vector<Seg2D> segs;
        double tol;
        int expected;
    } cases[] = {
        {"square", loop({{0, 0}, {1, 0}, {1, 1}, {0, 1}}), 1e-5, 0},
        {"bow tie", loop({{0, 0}, {2, 2}, {2, 0}, {0, 2}}), 1e-5, 1},
        // (0.9995, 0) lies within 1e-3 of the first segment's end and of the second's start.
        {"near both ends", {{0, 0, 1, 0}, {0.9995, -0.0005, 0.9995, 1}}, 1e-3, 0},
        {"near both ends, small tolerance", {{0, 0, 1, 0}, {0.9995, -0.0005, 0.9995, 1}}, 1e-5, 1},
        {"near one end only", {{0, 0, 1, 0}, {0.9995, -1, 0.9995, 1}}, 1e-3, 1},
    };
    for (const Case& c : cases) {
        wogResetState();
        SegList2D* l = segList(c.segs);
        PointList2D* pts = pointList2DCreate(0);
        ASSERT_NE(pts, nullptr);
        EXPECT_EQ(segListSelfIntersect(l, pts, 0, c.tol), c.expected) << c.name;
        EXPECT_EQ(pts->count, c.expected) << c.name;
        EXPECT_EQ(wogErrorState()->code, c.expected) << c.name;
        EXPECT_EQ(wogErrorState()->line, c.expected ? 5270 : 0) << c.name;
        if (c.expected) {
            EXPECT_STREQ(wogErrorState()->file, "LISTS");
        }
        if (std::string(c.name) == "bow tie") {
            ASSERT_EQ(pts->count, 1);
            EXPECT_NEAR(pts->data[0].x, 1, 1e-12);
            EXPECT_NEAR(pts->data[0].y, 1, 1e-12);
        }
        segList2DFree(l);
        segList2DFree(pts);
    }
}

TEST(SegGrid, GoOnCollectsEveryCrossing) {
    wogResetState();
    std::vector<Seg2D> segs;
    for (int i = 0; i < 3; i++) segs.push_back(Seg2D{-1, double(i), 3, double(i)});
    for (int i = 0; i < 3; i++) segs.push_back(Seg2D{double(i), -1, double(i), 3});
    SegList2D* l = segList(segs);
    PointList2D* pts = pointList2DCreate(0);
    ASSERT_NE(pts, nullptr);
    EXPECT_EQ(segListSelfIntersect(l, pts, 1, 1e-5), 1);
    std::set<std::pair<double, double>> found;
    for (int i = 0; i < pts->count; i++) found.insert({pts->data[i].x, pts->data[i].y});
    std::set<std::pair<double, double>> expected;
    for (int x = 0; x < 3; x++)
        for (int y = 0; y < 3; y++) expected.insert({double(x), double(y)});
    EXPECT_EQ(found, expected);
    EXPECT_EQ(wogErrorState()->code, 0);  // no stop mark while going on
    segList2DFree(l);
    segList2DFree(pts);
}

// The grid must find every crossing that a search over all pairs finds.
TEST(SegGrid, GridMissesNoCrossingOfRandomSegments) {
    std::mt19937 rng(12345);
    std::uniform_real_distribution<double> pos(0, 100), len(-8, 8);
    for (int round = 0; round < 5; round++) {
        std::vector<Seg2D> segs;
        for (int i = 0; i < 150; i++) {
            double x = pos(rng), y = pos(rng);
            segs.push_back(Seg2D{x, y, x + len(rng), y + len(rng)});
        }
        std::set<std::pair<double, double>> expected;
        for (size_t i = 0; i < segs.size(); i++)
            for (size_t j = i + 1; j < segs.size(); j++) {
                Vec2 p;
                if (segsIntersect2D(&segs[i], &segs[j]) &&
                    lineLineIntersectTol2D(&segs[i], &segs[j], 1e-12, &p))
                    expected.insert({p.x, p.y});
            }
        ASSERT_GT(expected.size(), 10u);
        SegList2D* l = segList(segs);
        PointList2D* pts = pointList2DCreate(0);
        ASSERT_NE(pts, nullptr);
        EXPECT_EQ(segListSelfIntersect(l, pts, 1, 1e-9), 1);
        std::set<std::pair<double, double>> found;
        for (int i = 0; i < pts->count; i++) found.insert({pts->data[i].x, pts->data[i].y});
        EXPECT_EQ(found, expected) << "round " << round;
        segList2DFree(l);
        segList2DFree(pts);
    }
}

// Without a list to fill only the answer counts; it must be the one the ordered search gives.
TEST(SegGrid, AnswerWithoutAListMatchesTheListedSearch) {
    std::mt19937 rng(17);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    auto circle = [](int n, double r, double turns) {
        std::vector<Vec2> p;
        for (int i = 0; i < n; i++) {
            const double a = 2 * 3.141592653589793 * turns * i / n;
            p.push_back({r * std::cos(a) * (1 + 0.3 * std::sin(2 * a)), r * std::sin(a)});
        }
        return p;
    };
    std::vector<std::vector<Seg2D>> cases = {
        loop(circle(3000, 100, 1)),  // fine and simple, like a traced loop
        loop(circle(3000, 100, 2)),  // winds twice: crosses itself
    };
    // Long slanted spikes, whose boxes cover many cells of a fine grid.
    for (int turns : {1, 2}) {
        std::vector<Vec2> star;
        for (int i = 0; i < 400; i++) {
            const double a = 2 * 3.141592653589793 * turns * i / 400, r = i % 2 ? 100 : 5;
            star.push_back({r * std::cos(a), r * std::sin(a)});
        }
        cases.push_back(loop(star));
    }
    for (int round = 0; round < 30; round++) {
        std::vector<Vec2> p;
        double x = 0, y = 0, h = 0;
        const int n = 5 + round * 40;
        for (int i = 0; i < n; i++) {
            p.push_back({x, y});
            h += (u(rng) - 0.5) * (round % 3 == 0 ? 0.2 : 1.5);
            const double step = round % 4 == 0 ? 50 * u(rng) : 0.3 + u(rng);
            x += step * std::cos(h);
            y += step * std::sin(h);
        }
        cases.push_back(loop(p));
    }
    int crossing = 0;
    for (size_t c = 0; c < cases.size(); c++) {
        SegList2D* l = segList(cases[c]);
        PointList2D* pts = pointList2DCreate(0);
        const int listed = segListSelfIntersect(l, pts, 1, 1e-5);
        wogResetState();
        EXPECT_EQ(segListSelfIntersect(l, nullptr, 0, 1e-5), listed) << "case " << c;
        EXPECT_EQ(wogErrorState()->line, listed ? 5270 : 0) << "case " << c;
        EXPECT_EQ(segListSelfIntersect(l, nullptr, 1, 1e-5), listed) << "case " << c;
        crossing += listed;
        segList2DFree(l);
        segList2DFree(pts);
    }
    EXPECT_GT(crossing, 5);
    EXPECT_LT(crossing, static_cast<int>(cases.size()));
}

TEST(SegGrid, CellsPerAxisAndSpan) {
    const struct {
        int32_t n, k;
    } cases[] = {{0, 1}, {1, 2}, {15, 2}, {16, 3}, {80, 3}, {81, 4}, {255, 4}, {256, 5}};
    for (const auto& c : cases) {
        std::vector<Seg2D> segs;
        for (int32_t i = 0; i < c.n; i++) segs.push_back(Seg2D{double(i), 0, double(i) + 1, double(i % 7)});
        SegGrid* g = segGridBuild(segs.data(), sizeof(Seg2D), c.n, 0, segBox2D);
        ASSERT_NE(g, nullptr);
        EXPECT_EQ(g->rows, c.k) << c.n;
        EXPECT_EQ(g->cols, c.k) << c.n;
        segGridFree(g);
    }
    std::vector<Seg2D> segs = {{0, 0, 1, 0.5}, {1, 3, 4, -1}};
    SegGrid* g = segGridBuild(segs.data(), sizeof(Seg2D), 2, 0.6, segBox2D);
    EXPECT_EQ(g->xmin, 0);
    EXPECT_EQ(g->ymin, -1);
    EXPECT_EQ(g->xmax, 4);
    EXPECT_EQ(g->ymax, 3);
    EXPECT_EQ(g->cellWidth, 2);
    EXPECT_EQ(g->cellHeight, 2);
    // The first record's box grown by 0.6 reaches into row 1 but not column 1.
    EXPECT_EQ(g->cells[0][0]->count, 2);
    EXPECT_EQ(g->cells[1][0]->count, 2);
    EXPECT_EQ(g->cells[0][1]->count, 1);
    ASSERT_NE(g->cells[1][1], nullptr);
    ASSERT_GE(g->cells[1][1]->count, 1);
    EXPECT_EQ(g->cells[1][1]->data[0], 1);
    segGridFree(g);
    segGridFree(nullptr);
    EXPECT_EQ(segGridBuild(nullptr, sizeof(Seg2D), 3, 0, segBox2D), nullptr);
}

// Segments all on one horizontal line give the grid no height; cells keep a least size.
TEST(SegGrid, CollinearSegmentsHaveAFiniteGrid) {
    std::vector<Seg2D> segs;
    for (int i = 0; i < 20; i++) segs.push_back(Seg2D{double(i), 5, double(i) + 0.5, 5});
    SegGrid* g = segGridBuild(segs.data(), sizeof(Seg2D), 20, 0, segBox2D);
    ASSERT_NE(g, nullptr);
    EXPECT_EQ(g->cellHeight, 1e-6);
    EXPECT_TRUE(std::isfinite(g->cellWidth));
    int32_t total = 0;
    for (int32_t c = 0; c < g->cols; c++) total += g->cells[0][c]->count;
    EXPECT_GE(total, 20);
    for (int32_t r = 1; r < g->rows; r++)
        for (int32_t c = 0; c < g->cols; c++) EXPECT_EQ(g->cells[r][c]->count, 0);
    segGridFree(g);

    segs.push_back(Seg2D{3.25, 5, 8, 5});  // overlaps, collinear: touching counts as meeting
    SegList2D* l = segList(segs);
    EXPECT_EQ(segListSelfIntersect(l, nullptr, 0, 1e-5), 0);  // parallel: no crossing point
    segList2DFree(l);
}

}  // namespace
