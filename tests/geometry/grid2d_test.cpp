#include "geometry/grid2d.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <vector>

namespace {

struct GridGuard {
    Grid2D* grid;
    ~GridGuard() { grid2DFree(grid); }
};

bool cellHas(const GridCell* cell, int32_t item) {
    return std::find(cell->items, cell->items + cell->count, item) != cell->items + cell->count;
}

}  // namespace

TEST(Grid2D, CreateRejectsBadSizes) {
    EXPECT_EQ(grid2DCreate(0, 5, 100), nullptr);
    EXPECT_EQ(grid2DCreate(5, 0, 100), nullptr);
    EXPECT_EQ(grid2DCreate(-1, 5, 100), nullptr);
    EXPECT_EQ(grid2DCreate(5, 5, -1), nullptr);
    grid2DFree(nullptr);
    GridGuard g{grid2DCreate(3, 4, 100)};
    ASSERT_NE(g.grid, nullptr);
    EXPECT_EQ(g.grid->rows, 3);
    EXPECT_EQ(g.grid->cols, 4);
    EXPECT_EQ(g.grid->cells[2][3].capacity, 100);
    EXPECT_EQ(g.grid->cells[2][3].count, 0);
}

TEST(Grid2D, CellAtClampsToBorder) {
    GridGuard g{grid2DCreate(4, 5, 10)};
    ASSERT_NE(g.grid, nullptr);
    const Vec3 lo{0, 0, 0}, hi{10, 8, 0};
    ASSERT_EQ(grid2DFillSegs(g.grid, 0, &lo, &hi, nullptr, nullptr, 0.0), 1);
    EXPECT_DOUBLE_EQ(g.grid->cellWidth, 2.0);
    EXPECT_DOUBLE_EQ(g.grid->cellHeight, 2.0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        double x, y;
        int row, col;
    } cases[] = {
        {-3, 3, 1, 0}, {13, 3, 1, 4},      {5, -1, 0, 2},  {5, 100, 3, 2},        {4.5, 6.5, 3, 2},
        {10, 8, 3, 4}, {-0.5, -0.5, 0, 0}, {nan, 5, 2, 0}, {1e300, -1e300, 0, 4},
    };
    for (const auto& c : cases)
        EXPECT_EQ(grid2DCellAt(g.grid, c.x, c.y), &g.grid->cells[c.row][c.col]) << c.x << "," << c.y;
    EXPECT_EQ(grid2DCellAt(nullptr, 1, 1), nullptr);
}

TEST(Grid2D, FillRegistersTouchedCells) {
    GridGuard g{grid2DCreate(4, 4, 100)};
    ASSERT_NE(g.grid, nullptr);
    const Vec3 lo{0, 0, 0}, hi{4, 4, 0};
    const Vec3 bmin[2] = {{1.5, 0.5, 0}, {-10, -10, 0}};
    const Vec3 bmax[2] = {{2.5, 1.5, 9}, {10, 10, 0}};  // the second spans the whole rectangle
    ASSERT_EQ(grid2DFillSegs(g.grid, 2, &lo, &hi, bmin, bmax, 0.0), 1);
    for (int r = 0; r < 4; ++r)
        for (int c = 0; c < 4; ++c) {
            const GridCell* cell = &g.grid->cells[r][c];
            EXPECT_TRUE(cellHas(cell, 1)) << r << "," << c;
            EXPECT_EQ(cellHas(cell, 0), r <= 1 && c >= 1 && c <= 2) << r << "," << c;
        }
    // A margin grows the box into the neighbouring cells.
    GridGuard h{grid2DCreate(4, 4, 100)};
    ASSERT_EQ(grid2DFillSegs(h.grid, 1, &lo, &hi, bmin, bmax, 0.6), 1);
    EXPECT_TRUE(cellHas(&h.grid->cells[2][3], 0));
    EXPECT_TRUE(cellHas(&h.grid->cells[0][0], 0));
}

TEST(Grid2D, CellCapacityDoubles) {
    const struct {
        int32_t capacity;
        int adds;
        int32_t grown;
    } cases[] = {{100, 100, 100}, {100, 101, 200}, {0, 1, 1}, {0, 2, 2}, {0, 3, 4}, {1, 5, 8}};
    for (const auto& c : cases) {
        GridGuard g{grid2DCreate(1, 2, c.capacity)};
        ASSERT_NE(g.grid, nullptr);
        for (int i = 0; i < c.adds; ++i) ASSERT_EQ(grid2DCellAdd(g.grid, 0, 1, i), 1);
        const GridCell& cell = g.grid->cells[0][1];
        EXPECT_EQ(cell.count, c.adds);
        EXPECT_EQ(cell.capacity, c.grown) << c.capacity << " " << c.adds;
        for (int i = 0; i < c.adds; ++i) EXPECT_EQ(cell.items[i], i);
    }
    GridGuard g{grid2DCreate(2, 2, 1)};
    EXPECT_EQ(grid2DCellAdd(g.grid, 2, 0, 1), -1);
    EXPECT_EQ(grid2DCellAdd(g.grid, 0, -1, 1), -1);
    EXPECT_EQ(grid2DCellAdd(nullptr, 0, 0, 1), -1);
}

TEST(Grid2D, DegenerateExtentIsOneCell) {
    GridGuard g{grid2DCreate(3, 3, 4)};
    ASSERT_NE(g.grid, nullptr);
    // Before any fill the rectangle is empty; lookups must still land in the grid.
    EXPECT_EQ(grid2DCellAt(g.grid, 5, 5), &g.grid->cells[0][0]);
    const Vec3 lo{2, 0, 0}, hi{2, 6, 0};  // zero width
    const Vec3 bmin[1] = {{2, 2.5, 0}}, bmax[1] = {{2, 3.5, 0}};
    ASSERT_EQ(grid2DFillSegs(g.grid, 1, &lo, &hi, bmin, bmax, 0.0), 1);
    EXPECT_TRUE(cellHas(&g.grid->cells[1][0], 0));
    EXPECT_EQ(g.grid->cells[1][1].count, 0);
    EXPECT_EQ(grid2DCellAt(g.grid, 7, 3), &g.grid->cells[1][0]);
    EXPECT_EQ(grid2DCellAt(g.grid, -7, 5.5), &g.grid->cells[2][0]);
}

TEST(Grid2D, EveryElementIsFoundUnderItsBox) {
    std::mt19937 rng(2107);
    std::uniform_real_distribution<double> u(-20.0, 120.0), sz(0.0, 15.0);
    const int n = 300;
    std::vector<Vec3> bmin(n), bmax(n);
    for (int j = 0; j < n; ++j) {
        bmin[j] = Vec3{u(rng), u(rng), 0};
        bmax[j] = Vec3{bmin[j].x + sz(rng), bmin[j].y + sz(rng), 0};
    }
    GridGuard g{grid2DCreate(7, 9, 2)};
    ASSERT_NE(g.grid, nullptr);
    const Vec3 lo{0, 0, 0}, hi{100, 70, 0};
    const double margin = 0.5;
    ASSERT_EQ(grid2DFillSegs(g.grid, n, &lo, &hi, bmin.data(), bmax.data(), margin), 1);
    std::uniform_real_distribution<double> t(0.0, 1.0);
    for (int j = 0; j < n; ++j) {
        // Any point of the box finds the element in its cell.
        for (int k = 0; k < 5; ++k) {
            const double x = bmin[j].x + t(rng) * (bmax[j].x - bmin[j].x);
            const double y = bmin[j].y + t(rng) * (bmax[j].y - bmin[j].y);
            EXPECT_TRUE(cellHas(grid2DCellAt(g.grid, x, y), j)) << j;
        }
    }
    // And no cell lists an element whose grown box misses it (border cells reach to infinity).
    for (int r = 0; r < 7; ++r)
        for (int c = 0; c < 9; ++c) {
            const GridCell& cell = g.grid->cells[r][c];
            const double cx0 = c == 0 ? -1e300 : c * g.grid->cellWidth;
            const double cx1 = c == 8 ? 1e300 : (c + 1) * g.grid->cellWidth;
            const double cy0 = r == 0 ? -1e300 : r * g.grid->cellHeight;
            const double cy1 = r == 6 ? 1e300 : (r + 1) * g.grid->cellHeight;
            for (int i = 0; i < cell.count; ++i) {
                const int j = cell.items[i];
                EXPECT_LE(bmin[j].x - margin, cx1);
                EXPECT_GE(bmax[j].x + margin, cx0);
                EXPECT_LE(bmin[j].y - margin, cy1);
                EXPECT_GE(bmax[j].y + margin, cy0);
            }
        }
}

// Each cell lists, in element order, the elements whose grown box covers its index range, a second
// fill after the first's; boxes turned inside out or not numbers enter nothing or the first cells.
TEST(Grid2D, FillsListEachCellsElementsInOrder) {
    std::mt19937 rng(77);
    std::uniform_real_distribution<double> u(-30.0, 130.0), sz(-2.0, 40.0);
    const int n = 400;
    std::vector<Vec3> lo(n), hi(n);
    for (int j = 0; j < n; ++j)
        lo[j] = {u(rng), u(rng), 0}, hi[j] = {lo[j].x + sz(rng), lo[j].y + sz(rng), 0};
    lo[5].x = hi[9].y = std::numeric_limits<double>::quiet_NaN();
    GridGuard g{grid2DCreate(6, 8, 3)};
    ASSERT_NE(g.grid, nullptr);
    const Vec3 a{0, 0, 0}, b{100, 70, 0};
    ASSERT_EQ(grid2DFillSegs(g.grid, n, &a, &b, lo.data(), hi.data(), 0.7), 1);
    ASSERT_EQ(grid2DFillSegs(g.grid, n / 2, &a, &b, lo.data(), hi.data(), 0.7), 1);
    const Grid2D& q = *g.grid;
    auto col = [&](double x) { return grid2DCellIndex(x, q.x0, q.cellWidth, 8); };
    auto row = [&](double y) { return grid2DCellIndex(y, q.y0, q.cellHeight, 6); };
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 8; ++c) {
            std::vector<int32_t> want;
            for (int k = 0, j = 0; k < n + n / 2; ++k, j = k % n)
                if (col(lo[j].x - 0.7) <= c && col(hi[j].x + 0.7) >= c && row(lo[j].y - 0.7) <= r &&
                    row(hi[j].y + 0.7) >= r)
                    want.push_back(j);
            const GridCell& cell = q.cells[r][c];
            EXPECT_EQ(std::vector<int32_t>(cell.items, cell.items + cell.count), want) << r << "," << c;
        }
}
