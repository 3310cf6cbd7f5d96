#include "plunge/trigrid.h"

#include <gtest/gtest.h>

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
