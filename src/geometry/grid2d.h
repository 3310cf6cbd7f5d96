// Uniform plan bucket grid: each cell lists the indices of the elements whose boxes touch it.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct GridCell {
    int32_t count;
    int32_t capacity;
    int32_t* items;  // owned; a fill takes the room it needs at once, a single add doubles it
};

struct Grid2D {
    int32_t rows;  // cells along y
    int32_t cols;  // cells along x
    double x0, y0, x1, y1;
    double cellHeight, cellWidth;
    GridCell** cells;  // rows arrays of cols cells, owned
};

Grid2D* grid2DCreate(int32_t rows, int32_t cols, int32_t capacity);  // none for rows or cols < 1
void grid2DFree(Grid2D* grid);
int grid2DCellAdd(Grid2D* grid, int32_t row, int32_t col, int32_t item);  // 1, or -1
// The cell of coordinate v along one axis of count cells of the given size from origin.
int32_t grid2DCellIndex(double v, double origin, double size, int32_t count);
GridCell* grid2DCellAt(const Grid2D* grid, double x, double y);  // clamped to the grid
// Sets the rectangle lo..hi and enters element j in every cell its box (grown by margin) touches,
// after what the cells already list, in element order.
int grid2DFillSegs(Grid2D* grid, int32_t n, const Vec3* lo, const Vec3* hi, const Vec3* boxMin,
                   const Vec3* boxMax, double margin);
