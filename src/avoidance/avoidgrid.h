// Tilt avoidance against a height grid: the revolved tool assembly is tilted in the plane of its axis
// and +z until every grid point near it lies outside.
#pragma once

#include <cstdint>

#include "collision/toolenv.h"
#include "geometry/plist.h"
#include "geometry/vec.h"

// Point (i, j) lies at (x0 + i cell, y0 + j cell, heights[j][i]).
struct HeightGrid {
    int32_t rows;
    int32_t columns;
    double x0, y0;
    double cell;
    double** heights;  // [rows][columns]
    Plist* contacts;   // optional
};

// Cells of the box lo..hi clamped to the grid: 1 when the range is not empty, else -1.
int gridCellRange(const HeightGrid* grid, const Vec3* lo, const Vec3* hi, int32_t out[4]);

// dir 0: either way, 1 towards the vertical, 2 away. t: in/out tilt angle; h: the horizontal direction
// of the tilt plane. 0 free, 1 or 2 a free angle found (t moved there), -2 none.
int gridPointTilt(const Vec3* tip, double* t, int32_t tilt, int32_t dir, const Vec3* q,
                  const ToolDescription* tool, const Vec3* h);
// 0 nothing to do, 1 or 2 the axis was tilted (the direction), negative no free tilt.
int avoidCollisionTilt(const Vec3* tip, const HeightGrid* grid, const ToolDescription* tool, Vec3* axis,
                       int32_t tilt, int32_t mode);

void avoidGridResetState();
