#include "plunge/trigrid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "heapbytes.h"
#include "kernel/base/rng.h"

namespace {

struct GridGuard {
    TriGrid* g;
    ~GridGuard() { triGridFree(g); }
};

}  // namespace

TEST(TriGrid, CreateRefusesEmptySizes) {
    EXPECT_EQ(triGridCreate(0, 5, 10), nullptr);
    EXPECT_EQ(triGridCreate(5, 0, 10), nullptr);  // no rows: nothing to clamp into
    EXPECT_EQ(triGridCreate(5, -1, 10), nullptr);
    triGridFree(nullptr);
    EXPECT_EQ(triGridCell(nullptr, nullptr), nullptr);
    GridGuard g{triGridCreate(3, 2, 10)};
    ASSERT_NE(g.g, nullptr);
    const Vec3 origin{0, 0, 0};
    EXPECT_EQ(triGridFill(nullptr, &origin, nullptr), -1);
    EXPECT_EQ(triGridFill(g.g, nullptr, nullptr), -1);
    EXPECT_EQ(triGridCell(g.g, nullptr), nullptr);
    EXPECT_EQ(g.g->cells[1][2].capacity, 10);
    // Unfilled, rows and columns are a unit high and wide from the origin (then clamped).
    const double pts[][5] = {{0.5, 0, 0.5, 0, 0}, {0, 1.5, 0.9, 0, 1}, {0, 0, 1.2, 1, 0}, {-2.5, 0, 7, 1, 2}};
    for (const auto& c : pts) {
        const Vec3 p{c[0], c[1], c[2]};
        EXPECT_EQ(triGridCell(g.g, &p), &g.g->cells[int(c[3])][int(c[4])]) << c[2];
    }
}

// Free gives back every cell of every row, the ranges and what a fill left waiting.
TEST(TriGrid, FreeReleasesEverythingTheGridHolds) {
    if (!heapBytesCounted()) GTEST_SKIP() << "no exact heap count in this build";
    TriList* list = triListCreate(2);
    ASSERT_NE(list, nullptr);
    const Triangle3D t{{{1, 0, 0}, {3, 0, 1}, {1, 2, 2}}};
    triListAdd(list, &t);
    const Vec3 origin{0, 0, 0};
    const size_t before = heapBytesInUse();
    TriGrid* g = triGridCreate(3, 4, 2);
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(triGridFill(g, &origin, list), 1);
    ASSERT_NE(triGridCellAt(g, 0, 0), nullptr);  // one cell taken, the others still waiting
    triGridFree(g);
    EXPECT_EQ(heapBytesInUse(), before);
    triListFree(list);
}

TEST(TriGrid, TrianglesFillTheirRectangleInOrder) {
    TriList* list = triListCreate(4);
    ASSERT_NE(list, nullptr);
    // The nearest corner second: a column range taken from any two corners would start too far out.
    const Triangle3D big{{{9, 0, 0}, {0.5, 0, 0}, {2.5, 0, 8}}},
        small{{{4.5, 0, 3.5}, {5, 0, 3.5}, {4.5, 0.1, 3.6}}};
    triListAdd(list, &big);
    triListAdd(list, &small);
    GridGuard g{triGridCreate(5, 5, 1)};  // capacity 1: the cells must grow
    ASSERT_NE(g.g, nullptr);
    const Vec3 origin{0, 0, 0};
    ASSERT_EQ(triGridFill(g.g, &origin, list), 1);
    EXPECT_DOUBLE_EQ(g.g->zMin, -1.0);
    EXPECT_DOUBLE_EQ(g.g->zStep, 2.0);
    EXPECT_DOUBLE_EQ(g.g->rStep, 2.0);
    for (int r = 0; r < 5; ++r)
        for (int c = 0; c < 5; ++c) {
            const TriGridCell* at = triGridCellAt(g.g, r, c);
            ASSERT_NE(at, nullptr);
            const TriGridCell& cell = *at;
            ASSERT_EQ(cell.count, r == 2 && c == 2 ? 2 : 1) << r << c;
            EXPECT_EQ(cell.items[0], 0);
            if (cell.count == 2) {
                EXPECT_EQ(cell.items[1], 1);
            }
        }
    struct Case {
        Vec3 p;
        const TriGridCell* want;
    } cases[] = {{{0, 0, 100}, &g.g->cells[4][0]},
                 {{0, 0, -100}, &g.g->cells[0][0]},
                 {{100, 0, 4}, &g.g->cells[2][4]},
                 {{3, 4, 4}, &g.g->cells[2][2]}};
    for (const Case& c : cases) EXPECT_EQ(triGridCell(g.g, &c.p), c.want);
    triListFree(list);
}

// With a reach, the cell of every ball centre holds each triangle that a ball of that radius about
// the centre touches: checked against the closest point of the triangle, sampled densely.
TEST(TriGrid, ReachListsEveryTriangleABallCanTouch) {
    rngSeed(32);
    auto u = [](double a, double b) { return a + (b - a) * rngUniform(); };
    TriList* list = triListCreate(60);
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < 60; ++i) {
        const Vec3 c{u(-40, 40), u(-40, 40), u(0, 30)};
        Triangle3D t{};
        for (Vec3& p : t.p) p = {c.x + u(-6, 6), c.y + u(-6, 6), c.z + u(-3, 3)};
        triListAdd(list, &t);
    }
    const double reach = 2.5;
    GridGuard g{triGridCreate(50, 50, 4)};
    ASSERT_NE(g.g, nullptr);
    const Vec3 origin{0, 0, 0};
    ASSERT_EQ(triGridFill(g.g, &origin, list, reach), 1);
    int touched = 0;
    for (int k = 0; k < 400; ++k) {
        const Vec3 ball{u(-45, 45), u(-45, 45), u(-2, 32)};
        const TriGridCell* cell = triGridCell(g.g, &ball);
        ASSERT_NE(cell, nullptr);
        for (int32_t i = 0; i < list->count; ++i) {
            const Vec3* p = list->data[i].p;
            double nearest = INFINITY;
            for (int a = 0; a <= 40; ++a)
                for (int b = 0; a + b <= 40; ++b) {
                    const double s = a / 40.0, t = b / 40.0;
                    const Vec3 q{p[0].x + s * (p[1].x - p[0].x) + t * (p[2].x - p[0].x),
                                 p[0].y + s * (p[1].y - p[0].y) + t * (p[2].y - p[0].y),
                                 p[0].z + s * (p[1].z - p[0].z) + t * (p[2].z - p[0].z)};
                    nearest = std::fmin(nearest, dist3D(&q, &ball));
                }
            if (nearest > reach) continue;
            ++touched;
            EXPECT_NE(std::find(cell->items, cell->items + cell->count, i), cell->items + cell->count)
                << "triangle " << i << " ball " << k;
        }
    }
    EXPECT_GT(touched, 20);
    triListFree(list);
}

// Cells are filled when asked for: in any order, asked twice, or after a second fill, each holds in
// triangle order exactly the triangles whose cells it is among when each is filled alone beside two
// anchors that fix the grid's extent.
TEST(TriGrid, CellsAskedForInAnyOrderHoldEachTrianglesOwnCells) {
    rngSeed(34);
    auto u = [](double a, double b) { return a + (b - a) * rngUniform(); };
    const Triangle3D anchors[2] = {{{{0.2, 0, -1}, {0.3, 0, -1}, {0.2, 0.1, -1}}},
                                   {{{80, 0, 40}, {80, 0.1, 40}, {79.9, 0, 40}}}};
    TriList *list = triListCreate(48), *alone = triListCreate(3);
    ASSERT_TRUE(list != nullptr && alone != nullptr);
    for (const Triangle3D& t : anchors) triListAdd(list, &t), triListAdd(alone, &t);
    triListAdd(alone, &anchors[0]);
    for (int round = 0; round < 6; ++round) {
        const double reach = round % 3 == 0 ? 0.0 : u(0.5, 12);
        list->count = 2;
        for (int i = 0; i < 40; ++i) {
            const double tall = i % 7 == 0 ? 30 : 3;  // some span most rows
            const Vec3 c{u(-40, 40), u(-40, 40), u(0, 38)};
            Triangle3D t{};
            for (Vec3& p : t.p)
                p = {c.x + u(-5, 5), c.y + u(-5, 5), std::clamp(c.z + u(-tall, tall), 0.0, 39.0)};
            triListAdd(list, &t);
        }
        const Vec3 origin{0, 0, 0};
        const int32_t n = 12, fills = 1 + round % 2;
        GridGuard all{triGridCreate(n, n, 2)};
        ASSERT_NE(all.g, nullptr);
        for (int f = 0; f < fills; ++f) ASSERT_EQ(triGridFill(all.g, &origin, list, reach), 1);
        std::vector<std::vector<int32_t>> want(n * n);
        for (int32_t i = 0; i < list->count; ++i) {
            alone->data[2] = list->data[i];
            GridGuard one{triGridCreate(n, n, 2)};
            ASSERT_TRUE(one.g != nullptr && triGridFill(one.g, &origin, alone, reach) == 1);
            for (int32_t k = 0; k < n * n; ++k) {
                const TriGridCell* cell = triGridCellAt(one.g, k / n, k % n);
                ASSERT_NE(cell, nullptr);
                if (std::find(cell->items, cell->items + cell->count, 2) != cell->items + cell->count)
                    want[size_t(k)].push_back(i);
            }
        }
        for (int ask = 0; ask < 2 * n * n; ++ask) {
            const int32_t k = rngBelow(n * n);
            const TriGridCell* cell = triGridCellAt(all.g, k / n, k % n);
            ASSERT_NE(cell, nullptr);
            std::vector<int32_t> expect;
            for (int f = 0; f < fills; ++f)
                expect.insert(expect.end(), want[size_t(k)].begin(), want[size_t(k)].end());
            EXPECT_EQ(std::vector<int32_t>(cell->items, cell->items + cell->count), expect)
                << round << " " << k;
        }
        EXPECT_TRUE(triGridCellAt(all.g, n, 0) == nullptr && triGridCellAt(all.g, 0, -1) == nullptr);
    }
    triListFree(list);
    triListFree(alone);
}

// Corners recur in many triangles (a lattice with zeros of both signs, where the polar angle of a
// corner behind the centre is +pi or -pi by its zero's sign): every triangle's angle range and plan
// distances are those it gets filled alone, bit for bit.
TEST(TriGrid, RangesOfSharedCornersAreEachTrianglesOwn) {
    rngSeed(91);
    TriList* list = triListCreate(1000);
    ASSERT_NE(list, nullptr);
    auto corner = [] {
        return Vec3{rngBelow(13) * 0.7 - 4.2, (rngBelow(13) - 6) * (rngBelow(2) ? 0.45 : -0.45), 0};
    };
    for (int t = 0; t < 1000; ++t) {
        const Triangle3D tri{{corner(), corner(), corner()}};
        triListAdd(list, &tri);
    }
    for (const Vec3& c : {Vec3{0, 0, 0}, Vec3{0.35, -0.2, 0}}) {
        GridGuard all{triGridCreate(8, 8, 4)}, alone{triGridCreate(1, 1, 1)};
        ASSERT_TRUE(all.g && alone.g);
        ASSERT_EQ(triGridFill(all.g, &c, list, 0.5), 1);
        for (int32_t i = 0; i < list->count; ++i) {
            TriList one{1, 1, 0, 0, 0, 0, 0, 0, &list->data[i]};
            ASSERT_EQ(triGridFill(alone.g, &c, &one, 0.5), 1);
            ASSERT_EQ(std::memcmp(&all.g->ranges[i], alone.g->ranges, sizeof(TriGridRange)), 0) << i;
        }
    }
    triListFree(list);
}

// Each triangle's range: its plan distances from the centre run from the nearest point of its plan
// (none when the centre lies inside it) to its farthest corner, and every point of it lies within the
// angle range about the centre.
TEST(TriGrid, RangesBoundEachTrianglesPlanDistancesAndAngles) {
    rngSeed(57);
    auto u = [](double a, double b) { return a + (b - a) * rngUniform(); };
    TriList* list = triListCreate(300);
    ASSERT_NE(list, nullptr);
    for (int i = 0; i < 300; ++i) {
        const double r = i < 30 ? u(0, 2) : u(2, 40), a = u(-M_PI, M_PI);
        const Vec3 c{r * std::cos(a), r * std::sin(a), u(0, 10)};
        Triangle3D t{};
        for (Vec3& p : t.p) p = {c.x + u(-4, 4), c.y + u(-4, 4), c.z + u(-2, 2)};
        triListAdd(list, &t);
    }
    const Vec3 centre{0.5, -0.25, 0};
    const Triangle3D upright{{{0.5, -0.25, 0}, {0.5, -0.25, 1}, {0.5, -0.25, 2}}};  // plan: the centre
    triListAdd(list, &upright);
    GridGuard g{triGridCreate(8, 8, 4)};
    ASSERT_NE(g.g, nullptr);
    ASSERT_EQ(triGridFill(g.g, &centre, list, 0.0), 1);
    ASSERT_EQ(g.g->angleCount, list->count);
    for (int32_t i = 0; i < list->count; ++i) {
        Vec2 q[3];
        for (int k = 0; k < 3; ++k) q[k] = {list->data[i].p[k].x - centre.x, list->data[i].p[k].y - centre.y};
        double nearest = INFINITY, farthest = 0;
        int positive = 0;
        for (int k = 0; k < 3; ++k) {
            const Vec2 a = q[k], b = q[(k + 1) % 3];
            const double ex = b.x - a.x, ey = b.y - a.y;
            const double s = std::clamp(-(a.x * ex + a.y * ey) / (ex * ex + ey * ey), 0.0, 1.0);
            nearest = std::min(nearest, std::hypot(a.x + s * ex, a.y + s * ey));
            farthest = std::max(farthest, std::hypot(a.x, a.y));
            positive += ex * -a.y - ey * -a.x > 0;
        }
        if (positive == 0 || positive == 3) nearest = 0;  // the centre inside the plan
        const TriGridRange& e = g.g->ranges[i];
        EXPECT_NEAR(e.radiusMin, nearest, 1e-9) << i;
        EXPECT_NEAR(e.radiusMax, farthest, 1e-9) << i;
        EXPECT_TRUE(nearest > 0 || e.angleHalf >= M_PI) << i;  // a plan round the centre: every angle
        if (e.angleHalf >= M_PI) continue;  // every angle
        for (int a = 0; a <= 10; ++a)
            for (int b = 0; a + b <= 10; ++b) {
                const double x = q[0].x + a / 10.0 * (q[1].x - q[0].x) + b / 10.0 * (q[2].x - q[0].x);
                const double y = q[0].y + a / 10.0 * (q[1].y - q[0].y) + b / 10.0 * (q[2].y - q[0].y);
                EXPECT_LE(std::fabs(std::remainder(std::atan2(y, x) - e.angleMid, 2 * M_PI)),
                          e.angleHalf + 1e-9)
                    << i;
            }
    }
    triListFree(list);
}
