// Plan bucket grid over a rectangle.
#include "geometry/grid2d.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <vector>

namespace {

// The quotient is clamped before it is converted, so points far outside, NaN and a degenerate extent
// (zero, negative or non-finite cell size, taken as one cell) all give a valid index. Kept here for
// the fill, which takes four per element: the exported function is called through the library's
// symbol table.
inline int32_t cellIndex(double v, double origin, double size, int32_t count) {
    if (!(size > 0.0) || !std::isfinite(size)) return 0;
    const double q = (v - origin) / size;
    if (!(q > 0.0)) return 0;
    if (q >= static_cast<double>(count)) return count - 1;
    return static_cast<int32_t>(q);
}

}  // namespace

int32_t grid2DCellIndex(double v, double origin, double size, int32_t count) {
    return cellIndex(v, origin, size, count);
}

Grid2D* grid2DCreate(int32_t rows, int32_t cols, int32_t capacity) {
    if (rows < 1 || cols < 1 || capacity < 0) return nullptr;
    Grid2D* grid = static_cast<Grid2D*>(std::calloc(1, sizeof(Grid2D)));
    if (grid == nullptr) return nullptr;
    grid->rows = rows;
    grid->cols = cols;
    grid->cells = static_cast<GridCell**>(std::calloc(static_cast<size_t>(rows), sizeof(GridCell*)));
    if (grid->cells == nullptr) {
        std::free(grid);
        return nullptr;
    }
    for (int32_t r = 0; r < rows; ++r) {
        GridCell* row = static_cast<GridCell*>(std::calloc(static_cast<size_t>(cols), sizeof(GridCell)));
        grid->cells[r] = row;
        if (row == nullptr) {
            grid2DFree(grid);
            return nullptr;
        }
        for (int32_t c = 0; c < cols; ++c) {
            if (capacity == 0) continue;
            row[c].items =
                static_cast<int32_t*>(std::malloc(static_cast<size_t>(capacity) * sizeof(int32_t)));
            if (row[c].items == nullptr) {
                grid2DFree(grid);
                return nullptr;
            }
            row[c].capacity = capacity;
        }
    }
    return grid;
}

void grid2DFree(Grid2D* grid) {
    if (grid == nullptr) return;
    if (grid->cells != nullptr) {
        for (int32_t r = 0; r < grid->rows; ++r) {
            GridCell* row = grid->cells[r];
            if (row == nullptr) continue;
            for (int32_t c = 0; c < grid->cols; ++c) std::free(row[c].items);
            std::free(row);
        }
        std::free(grid->cells);
    }
    std::free(grid);
}

namespace {

// Room for one more item, the capacity doubled; false when memory is short (the cell unchanged).
bool growCell(GridCell* cell) {
    // Doubling alone would never lift a cell created with capacity 0.
    if (cell->capacity > INT32_MAX / 2) return false;
    const int32_t grown = cell->capacity < 1 ? 1 : 2 * cell->capacity;
    int32_t* items =
        static_cast<int32_t*>(std::realloc(cell->items, static_cast<size_t>(grown) * sizeof(int32_t)));
    if (items == nullptr) return false;
    cell->items = items;
    cell->capacity = grown;
    return true;
}

inline bool cellAdd(GridCell* cell, int32_t item) {
    const int32_t k = cell->count;
    if (k >= cell->capacity && !growCell(cell)) return false;
    cell->items[k] = item;
    cell->count = k + 1;
    return true;
}

}  // namespace

int grid2DCellAdd(Grid2D* grid, int32_t row, int32_t col, int32_t item) {
    if (grid == nullptr || row < 0 || row >= grid->rows || col < 0 || col >= grid->cols) return -1;
    return cellAdd(&grid->cells[row][col], item) ? 1 : -1;
}

GridCell* grid2DCellAt(const Grid2D* grid, double x, double y) {
    if (grid == nullptr) return nullptr;
    const int32_t col = cellIndex(x, grid->x0, grid->cellWidth, grid->cols);
    const int32_t row = cellIndex(y, grid->y0, grid->cellHeight, grid->rows);
    return &grid->cells[row][col];
}

namespace {

// The cells an element's box, grown by the margin, touches: columns c0..c1, rows r0..r1.
struct CellRect {
    int32_t c0, c1, r0, r1;
};

inline CellRect cellRectOf(const Grid2D* grid, const Vec3& boxMin, const Vec3& boxMax, double margin) {
    return {cellIndex(boxMin.x - margin, grid->x0, grid->cellWidth, grid->cols),
            cellIndex(boxMax.x + margin, grid->x0, grid->cellWidth, grid->cols),
            cellIndex(boxMin.y - margin, grid->y0, grid->cellHeight, grid->rows),
            cellIndex(boxMax.y + margin, grid->y0, grid->cellHeight, grid->rows)};
}

// Every cell's room for the items the rectangles give it, taken once (grown by doubling, a list of
// thousands is copied several times into fresh pages): each rectangle marked at its four corners,
// running sums over rows and columns give the counts. False when memory is short; *roomy tells whether
// every cell got all the room it needs (a cell beyond INT32_MAX items keeps growing as it fills).
bool sizeCells(Grid2D* grid, int32_t n, const CellRect* rect, bool* roomy) {
    *roomy = true;
    const size_t stride = static_cast<size_t>(grid->cols) + 1;
    std::vector<int64_t> count;
    try {
        count.assign(stride * (static_cast<size_t>(grid->rows) + 1), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int32_t j = 0; j < n; ++j) {
        const CellRect& q = rect[j];
        if (q.c1 < q.c0 || q.r1 < q.r0) continue;  // an empty rectangle enters nothing
        const size_t c0 = static_cast<size_t>(q.c0), c1 = static_cast<size_t>(q.c1) + 1;
        const size_t r0 = static_cast<size_t>(q.r0), r1 = static_cast<size_t>(q.r1) + 1;
        ++count[r0 * stride + c0];
        --count[r0 * stride + c1];
        --count[r1 * stride + c0];
        ++count[r1 * stride + c1];
    }
    for (size_t i = 0; i < count.size(); ++i)
        if (i % stride != 0) count[i] += count[i - 1];
    for (size_t i = stride; i < count.size(); ++i) count[i] += count[i - stride];
    for (int32_t r = 0; r < grid->rows; ++r)
        for (int32_t c = 0; c < grid->cols; ++c) {
            const int64_t want =
                grid->cells[r][c].count + count[static_cast<size_t>(r) * stride + static_cast<size_t>(c)];
            GridCell& cell = grid->cells[r][c];
            if (want > INT32_MAX) *roomy = false;
            if (want <= cell.capacity || want > INT32_MAX) continue;
            auto* items =
                static_cast<int32_t*>(std::realloc(cell.items, static_cast<size_t>(want) * sizeof(int32_t)));
            if (items == nullptr) return false;
            cell.items = items;
            cell.capacity = static_cast<int32_t>(want);
        }
    return true;
}

}  // namespace

int grid2DFillSegs(Grid2D* grid, int32_t n, const Vec3* lo, const Vec3* hi, const Vec3* boxMin,
                   const Vec3* boxMax, double margin) {
    if (grid == nullptr || lo == nullptr || hi == nullptr) return -1;
    grid->x0 = lo->x;
    grid->y0 = lo->y;
    grid->x1 = hi->x;
    grid->y1 = hi->y;
    grid->cellHeight = (grid->y1 - grid->y0) / grid->rows;
    grid->cellWidth = (grid->x1 - grid->x0) / grid->cols;
    if (n < 1) return 1;
    if (boxMin == nullptr || boxMax == nullptr) return -1;
    // The rectangles are taken once, for the cells' room and the fill; without room for them each
    // element's is taken as it is entered. A cell whose room fell short still grows as it fills.
    std::unique_ptr<CellRect[]> rect(new (std::nothrow) CellRect[static_cast<size_t>(n)]);
    if (rect != nullptr) {
        for (int32_t j = 0; j < n; ++j) rect[j] = cellRectOf(grid, boxMin[j], boxMax[j], margin);
        bool roomy = false;
        if (!sizeCells(grid, n, rect.get(), &roomy)) return -1;
        // With every cell's room taken, the items go straight to each cell's next free place, in
        // element order as cellAdd enters them; the counts are set at the end.
        const size_t cols = static_cast<size_t>(grid->cols);
        std::unique_ptr<int32_t*[]> next(
            roomy ? new (std::nothrow) int32_t*[static_cast<size_t>(grid->rows) * cols] : nullptr);
        if (next != nullptr) {
            for (int32_t r = 0; r < grid->rows; ++r)
                for (int32_t c = 0; c < grid->cols; ++c) {
                    GridCell& cell = grid->cells[r][c];
                    next[static_cast<size_t>(r) * cols + static_cast<size_t>(c)] = cell.items + cell.count;
                }
            for (int32_t j = 0; j < n; ++j) {
                const CellRect q = rect[j];
                for (int32_t r = q.r0; r <= q.r1; ++r) {
                    int32_t** at = &next[static_cast<size_t>(r) * cols];
                    for (int32_t c = q.c0; c <= q.c1; ++c) *at[c]++ = j;
                }
            }
            for (int32_t r = 0; r < grid->rows; ++r)
                for (int32_t c = 0; c < grid->cols; ++c) {
                    GridCell& cell = grid->cells[r][c];
                    cell.count = static_cast<int32_t>(
                        next[static_cast<size_t>(r) * cols + static_cast<size_t>(c)] - cell.items);
                }
            return 1;
        }
    }
    // The indices are clamped into the grid, so each row's cells are entered straight.
    for (int32_t j = 0; j < n; ++j) {
        const CellRect q = rect != nullptr ? rect[j] : cellRectOf(grid, boxMin[j], boxMax[j], margin);
        for (int32_t r = q.r0; r <= q.r1; ++r) {
            GridCell* const row = grid->cells[r];
            for (int32_t c = q.c0; c <= q.c1; ++c)
                if (!cellAdd(&row[c], j)) return -1;
        }
    }
    return 1;
}
