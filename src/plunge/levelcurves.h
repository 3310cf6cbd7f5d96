// The depth levels of the channel: an ordered set of hub and shroud pairs, each level's hub its floor
// and its shroud the top its plunges start from, made by one of four step strategies.
#pragma once

#include <cstdint>

#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"

enum : int32_t {
    kLevelFromHub = 0,       // up from the hub, all levels under one top
    kLevelFromShroud = 1,    // down from the shroud to a depth, deepest level first
    kLevelUnderBand = 2,     // up from a band lowered below the shroud
    kLevelInterpolated = 3,  // at fractions between hub and shroud
};

struct LevelCurves {
    int32_t capacity;  // doubles when full
    int32_t count;
    HubShroud** curves;  // owned copies
    double* params;      // -1.0 unless the strategy assigns one
};

LevelCurves* newLevelCurves(int32_t capacity);  // capacity 0 taken as 1; null on failure
int addLevelCurve(LevelCurves* set, const HubShroud* pair, double param);  // adds a copy: 1, or -1
void reverseLevelCurves(LevelCurves* set);
void freeLevelCurves(LevelCurves* set);  // null-safe

// One profile of the pair as 3D points (r, 0, z) in list (emptied first), with parameters. mode 0: the
// hub offset by t h; mode 1: the shroud offset by h - t h (both with their parameters scaled by
// L(offset) / L(hub)); mode 2: every hub point moved the fraction t towards the shroud point at the
// same share of length. 1, or -1 (also for any other mode).
int levelCurveFromPair(const HubShroud* pair, double h, int32_t mode, double t, Plist3D* list);
// The levels of a strategy with the vertical step v and the depth limit D; an unknown strategy gives
// the empty set. Null when a level cannot be made: no partial set is handed out.
LevelCurves* buildLevelCurves(const HubShroud* pair, double v, int32_t strategy, double depth);
