// The CUT lists: extra cutting contours for the material a wide step leaves
// between rings, in corners and behind islands.
#pragma once

#include <cstdint>

// Creates the lists for this plane when enabled (nothing for a stock pocket): 0, -1 when one cannot be made.
int cutListsCreate(int32_t enabled);
