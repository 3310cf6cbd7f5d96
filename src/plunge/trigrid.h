// Bucket grid of a triangle mesh by height along the part axis and radial distance from it: a query
// point picks one bucket, which limits a sweep about the axis to the triangles near it.
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "geometry/vec.h"

struct TriGridCell {
    int32_t count;
    int32_t capacity;
    int32_t* items;  // triangle indices, in triangle order
};

// Per triangle of a filled list, what a sweep about the axis reads of it, side by side: the smallest
// and largest plan distance of its points from the centre, and the polar angles about the centre its
// corners span (middle and half width, radians; the half width is at least pi for a triangle around or
// at the axis).
struct TriGridRange {
    double radiusMin, radiusMax;
    double angleMid, angleHalf;
};

struct TriGrid {
    int32_t rows;  // height rows nZ
    double zStep;
    double zMin;      // lower edge of row 0
    int32_t columns;  // radial columns nR
    double rStep;
    Vec3 centre;           // point on the axis the radial distance is measured from
    TriGridCell** cells;   // rows arrays of columns cells
    TriGridRange* ranges;  // per triangle of the filled list; null when memory was short
    int32_t angleCount;    // triangles with ranges (0 when memory was short)
    // A sweep asks for few cells: each cell takes its triangles when first asked for (triGridCellAt),
    // from what the fill keeps here. Null once none is left to take.
    struct TriGridPending* pending;
};

// Null for nR < 1, nZ < 1 or when memory is short; every cell starts with room for capacity indices.
TriGrid* triGridCreate(int32_t columns, int32_t rows, int32_t capacity);
// 1, or -1. With a reach, a triangle is listed in every cell within that distance of it (in height and
// in radius), so that the cell of a ball centre holds every triangle a ball of that radius can touch.
int triGridFill(TriGrid* grid, const Vec3* centre, const TriList* triangles, double reach = 0.0);
TriGridCell* triGridCell(const TriGrid* grid, const Vec3* point);  // clamped to the grid
// The cell of a row and column with every triangle filled in; null outside the grid or when memory is
// short.
TriGridCell* triGridCellAt(const TriGrid* grid, int32_t row, int32_t column);
void triGridFree(TriGrid* grid);
