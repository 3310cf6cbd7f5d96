// Per-point angle searches of the head avoidance: which B angles are free at a point's C, which C at
// its B, tested with the full tool-assembly check; and the checks of the intervals against their
// neighbours.
#pragma once

#include <cstdint>

#include "avoidance/avoidtable.h"
#include "geometry/vec.h"

// Free means the assembly check answers 1 for the axis dirFromAngles(C, B) at the point.
// Every B from + k 0.05 (C: 0.087) below to - step: 1, or 0 with the first colliding angle in hit.
int avoidSpanFreeB(const Vec3* p, double bFrom, double bTo, double c, double* hit);
int avoidSpanFreeC(const Vec3* p, double cFrom, double cTo, double b, double* hit);
// Bisection to 0.005 keeping the free side, out := last free angle; 0 when the free stretch is longer
// than 0.348 and its middle collides (the C variant also when sin B < 1e-5).
int avoidBisectB(const Vec3* p, double freeB, double hitB, double c, double* out);
int avoidBisectC(const Vec3* p, double freeC, double hitC, double b, double* out);
// Halving search, lower half first: 1 with the first free middle, -1 once narrower than 0.005.
int avoidFindFreeB(const Vec3* p, double a, double b, double c, double* out);
int avoidFindFreeC(const Vec3* p, double a, double b, double bAngle, double* out);
// The entry's [B min, B max] narrowed to the free B interval at C: true when one is left.
bool avoidIntervalPass(AvoidEntry* e, const Vec3* p, double c);
// A new B interval for an entry that misses its predecessor's: 1, or 0 when none is free there.
int avoidGrowIntervalB(const AvoidEntry* prev, AvoidEntry* e, const Vec3* p, double bMaxLimit);
// The free C band within [C - below, C + above] at the entry's B: 1, or 0 with flag -1.
int avoidCInterval(AvoidEntry* e, const Vec3* p, double above, double below);
int avoidWidenC(AvoidEntry* e, const Vec3* p, double above, double below);
// C turned away from the obstacle (up to above / below) with a free B: 1 with both, -1 when none.
int avoidFindCAndB(const AvoidEntry* e, const Vec3* p, double above, double below, double* outC,
                   double* outB);
// The analytic switch: B intervals from the obstacle-model tilt intervals instead of sampling.
void avoidSetAnalytic(int on);
void avoidSearchResetState();

// Entries whose B interval [B min, B max] (or unwrapped C band) lies wholly above or below a
// neighbour's get flag -1: 1 when none does, 0 otherwise, -1 without memory (flags unchanged).
int avoidCheckIntervalChain(AvoidTable* table);
int avoidCheckCBandChain(AvoidTable* table);
// Whether C lies in the entry's C band modulo 2 pi; a band narrower than 1e-5 holds only its low end.
int avoidCInBand(const AvoidEntry* entry, double c);
