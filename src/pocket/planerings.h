// Rings of one machining plane: the first offsets of the boundary and the
// islands, the inward steps merging each ring with the island rings it
// crosses, the span and back cuts collected on the way, all entered into the
// region tree. MAIN holds the boundary first, then the islands.
#pragma once

#include <cstdint>

// Silent codes of the ring builder.
enum : int32_t {
    kRingsIslandCountChanged = 3211,  // the first merge changed the island rings
    kRingsInselCountChanged = 3212,
    kRingsCutsMerged = 3298,
    kRingsCrossInput = 3119,  // a restarted island ring crosses INPUT
};

// GKT := the first ring of every island (R + its allowance): 1, or -1 when an offset fails.
int pocketOffsetIslands(double r, const double* allowance, int orientation);
// The first boundary rings (level 0) merged with the island rings, the island
// rings, and GKT := the island rings stepped once: 1, 0 when the boundary has no ring, -1.
int pocketLevelLoop(double r, double a0, double f, int orientation);
// Merges the last n contours of the list with the GKT rings they cross (mode 1:
// inward step, mode 0: first offsets): how many contours now stand for the n, or -1.
int32_t pocketLevelStep(const char* list, double d, int32_t n, int side, int32_t parentTag, int mode);
// GKT ring j replaced by a copy nudged off a frozen merge: 1, 0 no, -1 failure.
int islandRingNudge(int32_t j, int32_t tag, double d, double px, double py);
// An island ring no step crossed, restarted from SPAN at level 1: 0, or -1.
int pocketIslandRestart(double s);
// The GKT rings merged among themselves and attached below their rings: 1, or -1.
int pocketSplitRings(double s);
// The inward step loop (single: stop after the first ring that stepped): 1, or -1.
int pocketSpanBackCuts(double s, int orientation, int single);

// Open pockets with islands.
int pocketSpanOffsets(double d, int first, int32_t level);  // 1, or -1
int pocketOpenRingLoop(double s, int orientation);          // 1, or the negative result of a step
int pocketOpenFirstRings(double r, int orientation);        // 1, or -1

void planeRingsResetState();
