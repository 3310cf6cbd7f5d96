// Corner loops: short out-and-back moves into the sharp corners of a ring, so
// that a step wider than the tool leaves no material in the corner.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

// Tool radius, step and side (+1 left) of the following insertions; the loops
// are on when the step reaches the tool radius or the edge movement forces them: 1 on, 0 off.
int cornerLoopSetup(double radius, double step, int32_t side);
// Inserts a loop before every corner of the ring that turns to the side and
// needs one, clipped at the ring of the node (the ring this one came from).
// The new element count; loops that would pass the capacity are left out.
int32_t cornerLoopInsert(int32_t node, ContourElement* ring, int32_t n, int32_t capacity);

void cornerLoopResetState();
