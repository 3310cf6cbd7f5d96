// Helpers on the rings of the level loop.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

// Splits every arc of a quarter circle or more at its midpoint into two arcs.
// The chain needs room for twice its count; the new count.
int32_t arcsSplitQuarter(ContourElement* chain, int32_t count);
