// Triangles of trimmed B-spline surfaces within a chord tolerance, for the mesh conversion
// libraries: a tensor grid in the parameter box refined until every triangle edge and diagonal
// midpoint lies within half the tolerance of the surface, with the cells across a trim boundary
// subdivided and kept only where they lie inside the trim loops.
#pragma once

#include <cstdint>
#include <vector>

#include "surfaces/surflist.h"

struct TrimMesh {
    std::vector<Vec3> points;
    std::vector<int32_t> triangles;  // three point indices each, counter-clockwise in (u, v)
};

enum : int {
    kTrimMeshOk = 1,
    kTrimMeshFailed = -1,  // no evaluable surface, or the tolerance needs more cells than allowed
};

// Appends the triangles of one surface to the mesh (its points are not shared with earlier
// surfaces). The offset of the record is applied.
int trimMeshSurface(const TrimSurface* surface, double tolerance, TrimMesh* mesh);
