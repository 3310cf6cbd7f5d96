// The stack of rings the region walk left part-way and comes back to finish.
#pragma once

#include <cstdint>

// A place on a ring: its 1-based element (0 the ring's start point, -1 its end point) and the point.
struct RingPosition {
    int32_t element;
    double x, y;
};

struct WalkEntry {
    int32_t node;       // region node
    RingPosition from;  // where machining of the ring starts or resumes
    RingPosition to;    // where it ends; a full ring has from = to
};

// Pushes a copy and marks the node stacked unless it is finished: 1, or -1
// without memory. The stack grows as needed, so no entry is ever dropped.
int regionStackPush(const WalkEntry* entry);
int regionStackPop(WalkEntry* entry);   // 1, or 0 when empty
int regionStackPeek(WalkEntry* entry);  // 1, or 0 when empty
int32_t regionStackDepth();
void regionStackClear();

void regionStackResetState();  // empty, storage released
