#include "plunge/trigrid.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "geometry/rng.h"

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
    EXPECT_EQ(g.g->cells[1][2].capacity, 10);
}

TEST(TriGrid, TrianglesFillTheirRectangleInOrder) {
    TriList* list = triListCreate(4);
    ASSERT_NE(list, nullptr);
    const Triangle3D big{{{0.5, 0, 0}, {9, 0, 0}, {0.5, 0, 8}}},
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
            const TriGridCell& cell = g.g->cells[r][c];
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
