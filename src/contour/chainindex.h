// Chain index: splits an element chain into runs and keeps running extents along one axis, so
// that a crossing search can skip the elements that cannot reach the element under test.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

enum : int32_t { kChainIndexMaxChains = 30 };

struct ChainRun {
    int32_t used;
    int32_t first, last;  // 0-based element numbers
    int32_t direction;    // +1 or -1
    double min, max;      // extent along the axis (mode 1: of all elements; mode 2: of the run)
};

struct ChainExtent {
    double min, max;
};

struct ChainIndex {
    int32_t n;           // element count
    int32_t chainCount;  // runs in use
    int32_t axis;        // 0: x, otherwise y
    ChainRun chains[kChainIndexMaxChains];
    ChainExtent* forward;   // extent from the run's first element up to this one
    ChainExtent* backward;  // extent from this element to the run's last
};

// mode 1 splits at the extreme coordinate, mode 2 into monotone runs (null beyond 30 runs).
// Null for any other mode, n < 1 or a failed allocation.
ChainIndex* chainIndexCreate(const Seg2D* elements, int32_t n, int32_t mode, int32_t axis);
// Next element number >= from that may reach the element's extent, or -1. A null index answers
// from itself, so that the caller tests every element.
int32_t chainIndexFindCrossing(const Seg2D* element, const ChainIndex* index, int32_t from);
void chainIndexFree(ChainIndex* index);
