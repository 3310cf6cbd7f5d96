// The region walk of one machining plane: the order in which the rings of the
// region tree are machined and where the tool crosses from one ring to the
// next (inward to a child, outward to a parent, or back to a ring left
// part-way on the walk stack), with the connection searches between rings.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/regionstack.h"

// Step codes of the ring sequence.
enum : int32_t {
    kWalkFinish = 0,
    kWalkDown = 1,
    kWalkUp = 2,
    kWalkBack = 3,
    kWalkDownWhole = 4,
    kWalkFailed = -2,
};

// Links every isolated ring to each ring with children that lies within dmax
// and is reachable through a clear circle of radius dr: 1.
int regionTreePrepass(double dr, double dmax);
// Walks from the start node: 1 when done or stopped with an error code, -1 on a bad start.
int pocketRegionPath(int32_t start, double step, int singleOuter);
// The outside-in direct walk: children are reached against the ring's direction;
// the variant (open pockets) also knows rings that lie wholly on open sides.
int pocketRegionPathDirect(int32_t start, double step, int variant);
// One step from the entry's ring: the step code, the connection on the current
// ring, the start on the next ring and the next node.
int regionRingSequence(const WalkEntry* entry, double step, RingPosition* connection, RingPosition* nextStart,
                       int32_t* next);
int regionRingSequenceOut(const WalkEntry* entry, double step, RingPosition* connection,
                          RingPosition* nextStart, int32_t* next);
int regionRingSequenceOpen(const WalkEntry* entry, double step, RingPosition* connection,
                           RingPosition* nextStart, int32_t* next);
// Emits the step's ring segment and link and pushes what remains: 1, or negative.
int regionPathEmit(const WalkEntry* entry, int code, const RingPosition* connection,
                   const RingPosition* nextStart, int32_t next, double step);

// Connection searches from the from-position along ring c to the start of ring t
// within d: 1 found (the position on c, the position on t), 0 none; the inward
// search answers -1 when the travel along c exceeds the budget.
int connectInward(const ContourElement* c, int32_t n, const ContourElement* t, int32_t m,
                  const RingPosition* from, const RingPosition* target, double d, double budget,
                  RingPosition* onC, RingPosition* onT);
int connectForward(const ContourElement* c, int32_t n, const ContourElement* t, int32_t m,
                   const RingPosition* from, const RingPosition* target, double d, RingPosition* onC,
                   RingPosition* onT);
// The forward search on a reversed copy of c, the positions mirrored back.
int connectReversed(const ContourElement* c, int32_t n, const ContourElement* t, int32_t m,
                    const RingPosition* from, const RingPosition* target, double d, RingPosition* onC,
                    RingPosition* onT);
// The index of the candidate met first walking the ring from the from-position; -1 for none.
int32_t firstAlongRing(const ContourElement* ring, int32_t n, const RingPosition* from,
                       const RingPosition* candidates, int32_t count);

int regionHasOpenBranch(const int32_t* candidates, int32_t count, int32_t c);
int regionParentClear(int32_t p, int32_t c, int always);
int regionStackAllDone(int32_t next);
int regionNoOpenChild(int32_t node, int32_t except);

void regionWalkResetState();
