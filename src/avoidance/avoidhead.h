// Tool-head avoidance by the B or C axis: a path is split into ranges, each range's axes become an
// angle table, and a global or selective pass over B (the tilt) or C (the azimuth) makes them free of
// the tool assembly's collisions.
#pragma once

#include <cstdint>

#include "avoidance/avoidtable.h"
#include "geometry/plist.h"

// Next range at or after from: start is the first point of kind neither 2 nor 10, end the last of
// the unbroken run of such points. 1, or 0 with start = end = -1.
int headAvoidNextRange(int32_t from, const Plist* path, int32_t* start, int32_t* end);

void headAvoidClearStates(AvoidTable* table);
// First colliding entry at or after from and the end of its run: 1, or 0 with start = end = -1.
int headAvoidNextHitRun(const AvoidTable* table, int32_t from, int32_t* start, int32_t* end);
// Number of colliding runs; points receives the number of colliding entries.
int32_t headAvoidCountHits(const AvoidTable* table, int32_t* points);

// The cycle's head-avoidance settings (a private copy is taken per run). Widths in radians.
struct HeadAvoidParams {
    uint16_t axisMode;  // 0 off, 1 B, 2 C, 3 B with a C retry, 4 C with a B retry
    int16_t selection;  // 0 global, 2 selective
    double leadAngle;   // first B of every new table
    double maxTilt;     // upper B limit
    double toolRadius;
    double cPlus;   // room above each point's C
    double cMinus;  // room below
};

enum : int {
    kHeadAvoidCut = -20,  // a range stayed colliding; the path ends before the collision
    kHeadAvoidNoConverge = -3,
    kHeadAvoidNoSolution = -2,
};

// The settings of a cycle context: the C widths are degrees there.
void headAvoidParamsFromCycle(HeadAvoidParams* out, uint16_t axisMode, int16_t selection, double leadAngle,
                              double maxTilt, double toolRadius, double cPlusDeg, double cMinusDeg);

// Changes the axes of path (in place, or cuts the path before a collision that stays): 1 when every
// range was handled, a negative code when one could not be made free.
int avoidToolHeadCollision(Plist* path, const HeadAvoidParams* params);
// Failed entries (flag -1) grow: 9 entries before the first run, gaps under 20, a tail under 10.
void widenFailedRuns(AvoidTable* table);
int selectAvoidanceMode(AvoidTable* table, Plist* range, const HeadAvoidParams* cyc);
// Every point at its axis: states of colliding entries set to 1; 1 when none collides.
int headAvoidRecheck(const Plist* list, AvoidTable* table);

// Passes: the band fit's result (>= 0) when the range is free, -2 without a solution, -3 (selective)
// when they do not converge.
int headAvoidGlobalB(const HeadAvoidParams* cyc, Plist* list, AvoidTable* table);
int headAvoidSelectiveB(AvoidTable* table, Plist* list, const HeadAvoidParams* cyc);
int headAvoidGlobalC(const HeadAvoidParams* cyc, Plist* list, AvoidTable* table);
int headAvoidSelectiveC(AvoidTable* table, Plist* list, const HeadAvoidParams* cyc);
// Per-point C searches: 1, 2 through the B fallback, 0 failure, negative error.
int avoidComputeC(AvoidTable* table, Plist* list, double above, double below, int fallback);
// The C fit, then fast axis turns between neighbours subdivided in steps of at most step (new points
// must pass the tilt search): the fit's result, or -1 when a new point cannot be made free.
int avoidSearchAngles(AvoidTable* table, Plist* list, double step);
// Per-point B searches: 1, 2 through the C fallback, 0 failure, negative error.
int avoidComputeB(AvoidTable* table, Plist* list, double above, double below, int fallback);
// C interpolated over a run between anchors the B search found: 1, or 0.
int avoidSearchPass(AvoidTable* table, Plist* list, int32_t runStart, int32_t runEnd, double above,
                    double below);

// Messages and counters that live for the process.
void headAvoidResetState();
