// A group of polylines hung under a profile by the cycle code. Every array is allocated with the
// C allocator (malloc/calloc) by whoever builds the group; polyGroupFree releases all of it.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct PolyGroupLine {
    int32_t count;
    Vec2* points;  // count points
    double* z;     // count heights
};

struct PolyGroup {
    int32_t count;         // lines in the group
    int32_t* ids;          // one identifier per line
    PolyGroupLine* lines;  // count lines
};

// Releases ids, each line's points and z, the line array and the group; null is accepted.
void polyGroupFree(PolyGroup* group);
