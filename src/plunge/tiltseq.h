// Tilt sequences: per plunge point of one side list, the window of collision-free tilt angles and
// the tilt chosen inside it, with the operations that turn the windows into one smooth tilt curve.
#pragma once

#include <cstdint>

#include "kernel/base/constants.h"

// One per side list and search, owned by its creator. Angles in radians (degrees only inside the
// band rounding).
struct TiltSeq {
    int32_t capacity;   // 4 n: the room of every array
    int32_t count;      // n
    double* param;      // path parameter of each point
    double* lower;      // lower edge of the collision-free window
    double* upper;      // upper edge of the window
    double* tilt;       // chosen tilt (guess on entry, result on exit)
    int32_t* hitLower;  // hit index of the query that set lower
    int32_t* hitUpper;  // hit index of the query that set upper
    int32_t* skip;      // 1: the point takes no part
    int32_t solved;     // 1 once a fit succeeded
};

// Which window edge the tilt is to hug.
enum : int32_t {
    kTiltSideMiddle = 0,
    kTiltSideLower = 1,
    kTiltSideUpper = 2,
};

constexpr double kTiltRadToDeg = kRadToDeg;
constexpr double kTiltDegToRad = kDegToRad;

// Null when n < 0 or memory is short; params (n values) may be null.
TiltSeq* newTiltSeq(int32_t n, const double* params);
void freeTiltSeq(TiltSeq* seq);  // null-safe
TiltSeq* copyTiltSeq(const TiltSeq* seq);

double tiltSeqMinWindow(const TiltSeq* seq);                               // 10000.0 when no point is valid
int tiltSeqValidRange(const TiltSeq* seq, int32_t* first, int32_t* last);  // 1, or -1
void tiltSeqScale(TiltSeq* seq, double factor);

// One tilt for every point when the windows of [first, last] overlap: 1, or 0 when they do not.
int tiltSeqCommonTilt(TiltSeq* seq, int32_t first, int32_t last, int32_t side);
void tiltSeqRestoreLimit(TiltSeq* seq, const TiltSeq* backup, int32_t which);  // 0 lower, 1 upper
void tiltSeqPropagateLimit(TiltSeq* seq, int32_t side, int32_t k1, int32_t k2, double slack);
int tiltSeqHitRange(const TiltSeq* seq, int32_t side, int32_t hitValue, double length, int32_t* first,
                    int32_t* last);
int tiltSeqFitsMargins(const TiltSeq* seq, int32_t i0, int32_t i1, double value, double margin);
void tiltSeqExtendEnds(TiltSeq* seq);
void tiltSeqRaiseLimits(TiltSeq* seq, int32_t side, double slack);

// 0 for a common tilt, the band fit's code (> 0) when it took over, -1 when no point is valid or the
// fit could not start, or the fit's negative code.
int tiltSeqFit(TiltSeq* seq, int32_t side);
// Fits with the windows widened from the anchored stretch by 10, 20, ... 90 degrees: the first
// result >= 0, else the last failure (-2 when memory is short).
int tiltSeqFitRetry(TiltSeq* seq, int32_t side, int32_t hitValue);
int tiltSeqSmooth(TiltSeq* seq);                                    // 1, or -1
int tiltSeqRoundBand(TiltSeq* seq, double angleDeg, int32_t side);  // 1, or -1
