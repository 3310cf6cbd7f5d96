// Constructive fallbacks of the band fit: two plateaus joined by a transition, a taut path through
// the band and a chord subdivision, each with rounded corners. All work on n samples: x strictly
// increasing, lower, upper, and out (written; success only when it lies inside the band).
#pragma once

#include <cstdint>

enum : int {
    kBandPlateau = 300,      // plateaus joined by a smooth step
    kBandPlateauWide = 301,  // plateaus joined by a wide step
    kBandTaut = 400,
    kBandChords = 450,
};

// 300, 301, or 0. gapIndex: the narrowest place of the band.
int bandPlateauJoin(const double* x, const double* lower, const double* upper, double* out, int32_t n,
                    int32_t gapIndex);
// 400 or 0.
int bandTautPath(const double* x, const double* lower, const double* upper, double* out, int32_t n);
// 450; 0 when not accepted (also for more than 28 chords); -1 when the interval stack cannot be
// made; -3 for an inverted band.
int bandChordSplit(const double* x, const double* lower, const double* upper, double* out, int32_t n);

// The last index up to which the level v runs strictly inside the band from sample 1 (n-1 when it
// never leaves), and the mirror image from the right end (the first index of the run to n-1).
int levelRunLeft(const double* lower, const double* upper, int32_t n, double v, int32_t* index);
int levelRunRight(const double* lower, const double* upper, int32_t n, double v, int32_t* index);

// Of the k-1 inner levels of the band at the first (last) sample, the one that runs farthest;
// its level, the abscissa it reaches and that sample. 1.
int levelReachLeft(const double* x, const double* lower, const double* upper, int32_t n, double* level,
                   double* reach, int32_t* index, int32_t k);
int levelReachRight(const double* x, const double* lower, const double* upper, int32_t n, double* level,
                    double* reach, int32_t* index, int32_t k);

// The run of samples around k over which y lies strictly inside the band: first and last index
// (last = k-1, first = k+1 when y[k] itself is not inside). 1 when y[k] is inside, else 0.
int insideRun(const double* lower, const double* upper, const double* y, int32_t n, int32_t k, int32_t* first,
              int32_t* last);

// Replaces the corner of y at sample b (neighbour corners a < b < c) by a quadratic Bezier arc
// when the arc stays inside the band; t (0.5 down to 0.1 in bandRoundCorner) sets how far along
// the two legs the arc starts and ends. scratch: n doubles. 1 when rounded, else 0.
int bandBezierCorner(const double* x, const double* lower, const double* upper, double* y, int32_t n,
                     int32_t a, int32_t b, int32_t c, double t, double* scratch);
int bandRoundCorner(const double* x, const double* lower, const double* upper, double* y, int32_t n,
                    int32_t a, int32_t b, int32_t c);
