// A list of closed point loops, newest first; each node owns a copy of its points.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

typedef void (*LoopListHook)(const Vec2* points, int32_t count);

struct LoopNode {
    int32_t count;
    Vec2* points;
    LoopNode* next;
};

struct LoopList {
    LoopListHook onAdd;     // called after a loop is added, when set
    LoopListHook onRemove;  // called after a loop is popped, when set
    LoopNode* first;
};

LoopList* looplist_create();  // null on a failed allocation
void looplist_free(LoopList* list);
void looplist_clear(LoopList* list);
// Puts a copy in front: 1; 0 for a null list, null points or count < 1; -1 on a failed allocation.
int looplist_add(LoopList* list, const Vec2* points, int32_t count);
// Moves the first loop into buffer (room for capacity points) and its count into *count, then
// releases the node: 1; 0 for a null list; -1 when empty; -2 when the buffer is too small (the
// loop stays and *count tells the room it needs).
int looplist_pop(LoopList* list, Vec2* buffer, int32_t capacity, int32_t* count);
// Clears dst and adds every loop of src in src's order, so dst ends up reversed: 1; 0 when either
// list is null; -1 when an add fails.
int looplist_copy(LoopList* dst, const LoopList* src);
