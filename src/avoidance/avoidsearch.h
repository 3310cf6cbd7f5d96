// Per-point checks of the head avoidance's admissible angle intervals against their neighbours.
#pragma once

#include <cstdint>

#include "avoidance/avoidtable.h"

// Entries whose B interval [B min, B max] (or unwrapped C band) lies wholly above or below a
// neighbour's get flag -1: 1 when none does, 0 otherwise, -1 without memory (flags unchanged).
int avoidCheckIntervalChain(AvoidTable* table);
int avoidCheckCBandChain(AvoidTable* table);
// Whether C lies in the entry's C band modulo 2 pi; a band narrower than 1e-5 holds only its low end.
int avoidCInBand(const AvoidEntry* entry, double c);
