// Point reduction: marks (kind 3) the points of a list that add nothing to its shape within two
// tolerances: tol1, the longest chord that may replace points, and tol2, the largest deviation of
// the replaced points from it. The caller removes the marks with plistDropKind3 or plistCopyCompact.
#pragma once

#include <cstdint>

#include "geometry/plist.h"

// Reduces by the current mode: 1 windowed shortest-first, 2 global shortest-first, else sequential.
void plistReducePoints(Plist* list, double tol1, double tol2);
void plistReduceWindow(double tol1, double tol2, int32_t first, int32_t last, Plist* list);
void plistReduceShortest(Plist* list, double tol1, double tol2);
void plistReduceTol(Plist* list, double tol1, double tol2);  // one sequential pass
// Shortest segment between consecutive eligible points: 1, or 0 when there is none.
int plistShortestSegment(const Plist* list, double* outLength, int32_t* outI, int32_t* outJ);
// Largest distance of the points strictly between i and j from the chord i-j; 100000.0 when one
// lies more than 60 degrees off the chord's direction.
double plistChordDeviation(const Plist* list, int32_t i, int32_t j);

void plistReduceSetMode(int32_t mode);
// Random thinning of the sequential method: a point it would mark stays when the generator's next
// value is a multiple of 10.
void plistReduceSetRandomSkip(int32_t on);
// The generator behind the random thinning: fn(user) gives the next value; null restores the
// built-in generator, which plistReduceSeedRandom restarts.
typedef uint32_t (*PlistRandomFn)(void* user);
void plistReduceSetRandom(PlistRandomFn fn, void* user);
void plistReduceSeedRandom(uint32_t seed);
void plistReduceResetState();  // mode 1, no random thinning, built-in generator with seed 1
