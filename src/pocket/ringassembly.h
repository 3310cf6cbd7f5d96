// Loop removal of a raw offset chain: its self-crossings are classified, the
// chain is cut at the valid ones and its pieces that keep the distance to the
// input are joined into closed rings; with the checks and repairs of rings.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/elemaccess.h"

// States of a crossing record during ring assembly.
enum : int32_t {
    kIsectValid = 1,    // a crossing where a ring may turn
    kIsectInvalid = 2,  // too near the input: every loop through it is cut away
    kIsectUsedA = 4,    // the piece leaving along the first element is used
    kIsectUsedB = 5,    // the piece leaving along the second element is used
    kIsectSpent = 6,    // both pieces leaving it are used
};

// The input's elements binned for the nearness and inside tests below, one grid per test radius. Those
// tests build their grid on every call when no index is given; a caller testing the same input several
// times creates the index once, and keeps the input unchanged while it lives.
struct RingInputIndex;
RingInputIndex* ringInputIndexCreate(const ContourElement* input, int32_t inputCount);
void ringInputIndexFree(RingInputIndex* index);

// Sets every record's state: invalid when the circle of the reduced distance
// about its point comes into the input, else valid; records next to an
// invalid one become invalid too.
void isectClassify(PocketIsect* records, int32_t count, const ContourElement* chain, int32_t chainCount,
                   const ContourElement* input, int32_t inputCount, double distance, int side,
                   RingInputIndex* index = nullptr);
void isectMarkNearInvalid(PocketIsect* records, int32_t count);
// The radius of the classification circle at this distance.
double isectClassifyRadius(double distance);

// Writes the next ring at out (room for outCapacity), from pieces of the chain
// between crossings that keep the distance from the input and lie inside it
// (inside 1), outside it (-1) or either (0): its element count, 0 when
// no free piece is left, -1 when a ring exceeds the capacity (3029), -2 when it
// fails to close (the offset's problem flag is set and its pieces are spent).
int32_t offsetBuildFromHits(PocketIsect* records, int32_t count, const ContourElement* chain,
                            int32_t chainCount, ContourElement* out, int32_t outCapacity,
                            const ContourElement* input, int32_t inputCount, double distance, int inside,
                            RingInputIndex* index = nullptr);
// 1 when an arc of radius 5000 or more with a chord of at most 1 bulges farther
// than twice the distance from the source.
int offsetArcBulges(const ContourElement* ring, int32_t count, const ContourElement* source,
                    int32_t sourceCount, double distance);

// Ring checks and repairs.
void arcCentreRepair(ContourElement* ring, int32_t count);
int ringHasDuplicate(const ContourElement* ring, int32_t count);
int ringHasFullArc(int32_t count, const ContourElement* ring, int mode);  // mode 1: the first element only
int ringHasZeroElement(const ContourElement* ring, int32_t count);
int ringKeepsDistance(const ContourElement* ring, int32_t count, const ContourElement* input,
                      int32_t inputCount, double distance, RingInputIndex* index = nullptr);
// 1 when the end of every element (and the middle of those longer than the
// distance) lies at the distance within the classification tolerance: stricter
// than ringKeepsDistance, which a ring turned inside out can pass.
int ringKeepsOffset(const ContourElement* ring, int32_t count, const ContourElement* input,
                    int32_t inputCount, double distance, RingInputIndex* index = nullptr);
int ringsContainInput(const ContourElement* rings, const int32_t* ringStart, const int32_t* ringCount,
                      int32_t nRings, const ContourElement* input, int32_t inputCount);
int ringsAlreadyClosed(const ContourElement* chain, int32_t count);
// Closes a chain with exactly one break of at most 0.02 x scale (scale 2 or more): 1, else 0.
int chainJoinSingleGap(ContourElement* chain, int32_t count);
// Closes an open chain: snaps a line end over a gap below 0.05 when snap is on,
// else appends a closing line (room for one more element). The new count.
int32_t chainCloseEnd(ContourElement* chain, int32_t count, int snap);
