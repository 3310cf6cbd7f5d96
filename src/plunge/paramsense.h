// The sense of the numeric keywords a plunge run reads: each keyword's value checked at set-up against
// what it can mean (a length, a step, an angle, a feed, a fraction), so that a value such as nan, inf,
// 1e300 or a zero step is refused with a message that names it instead of running on into NaN
// coordinates, endless loops or empty output.
#pragma once

#include <cstdint>

#include "plunge/cycparams.h"

enum : int32_t {
    kMsgBadKeywordValue = 6305,  // "keyword,value": the value makes no sense for the keyword
};

// What a keyword's value must be (lengths in millimetres, after the unit factor; angles in degrees).
enum ParamSense : int8_t {
    kSenseFinite,      // any finite number (values that also mean "not set")
    kSenseLength,      // a position or signed length: |x| <= kSenseLengthMax
    kSenseSize,        // a size or distance: 0 <= x <= kSenseLengthMax
    kSenseStep,        // a step or tolerance: 0 < x <= kSenseLengthMax
    kSenseAngle,       // |x| <= 360
    kSenseTurn,        // a turning angle: 0 <= x <= 180
    kSenseLean,        // a lean of the tool axis: |x| <= 90
    kSenseTaper,       // a taper: 0 <= x < 90
    kSenseTiltLimit,   // an inclination limit: 0 < x <= 180
    kSenseFraction,    // 0 <= x <= 1
    kSenseFeed,        // a feed or spindle speed: 0 <= x <= kSenseFeedMax
    kSenseBladeCount,  // a blade count as a number: 0 (not set) or 2 <= x <= kSenseBladesMax
    kSenseStart,       // a position, or below -99999.99999: not set (the set-up puts the clearance plane)
};

constexpr double kSenseLengthMax = 1e6;  // a kilometre: no machine travels farther
constexpr double kSenseFeedMax = 1e7;
constexpr double kSenseBladesMax = 1e4;

struct ParamSenseRow {
    const char* keyword;  // a number or triple of the keyword table; null ends the table
    ParamSense sense;     // of every component of a triple
};

extern const ParamSenseRow ParamSenseTable[];

// 1 when x makes sense as the kind says, else 0.
int paramSenseHolds(ParamSense sense, double x);
// Every row against the run's record (run, in millimetres): 1, or -1 after message 6305 naming the
// first keyword that makes no sense with its value as given (applied, before the unit factor).
int paramSenseCheck(const CycleParams* run, const CycleParams* applied);
