// The raw offset of a closed chain of pocket elements: every element moved by
// the distance along its normal, gaps at corners closed by arcs about the
// corner, overlaps trimmed to the common point. The result may cross itself.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

enum : int {
    kChainBuilt = 1,
    kChainFailed = 0,     // a normal could not be computed, or the element cap
    kChainDoubtful = -1,  // a corner could not be joined cleanly
    kChainReversal = -2,  // a reversal or an overlap at the closing corner
};

// distance > 0; side +1 moves to the left of the direction of travel, -1 to the
// right. out has room for kClistMaxElements; *outCount gets the cleaned count
// (kClistMaxElements when the chain hit the element cap, reported as 3029).
int offsetElementChain(double distance, const ContourElement* elements, int32_t count, ContourElement* out,
                       int32_t* outCount, int side);
