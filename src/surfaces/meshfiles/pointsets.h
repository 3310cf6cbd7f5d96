// Numbered point sets of Polyhedron objects: set i, point j (from 1) -> a 3D point.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

enum : int32_t {
    kPointSetsMaxSet = 100000,     // set numbers 0 .. this; a larger one is not a set of a real mesh
    kPointSetsMaxPoint = 1 << 22,  // point numbers 1 .. this
};

struct PointSet {
    int32_t count;  // highest point number stored
    int32_t capacity;
    Vec3* points;  // point j at j - 1; unset entries are zero
};

struct PointSets {
    int32_t count;  // sets 0 .. count - 1 exist
    int32_t capacity;
    PointSet* sets;
};

PointSets* pointSetsCreate();  // null when memory is short
// Makes set i exist (the array grows in steps of 16 sets); 1, or 0 for a number out of range or
// no memory.
int pointSetsReserve(PointSets* sets, int32_t i);
// Room for point j: steps of 16 below 64 points, 64 below 256, 256 below 2048, else 2048; 1 or 0.
int pointSetsGrowPoints(PointSet* set, int32_t j);
int pointSetsPut(PointSets* sets, int32_t i, int32_t j, const Vec3* p);  // 1, or 0
// 1 and the point, or 0 when set i does not exist or is empty or j is beyond its count.
int pointSetsGet(const PointSets* sets, int32_t i, int32_t j, Vec3* out);
void pointSetsFree(PointSets* sets);  // accepts null
