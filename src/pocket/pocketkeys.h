// The pocket parameters read from a run's name ":=" value variables into the
// pocket record, the keyword block's copies and the kernel's switches.
#pragma once

#include "kernel/cycle/cycle.h"

enum : int {
    kPocketMsgKeyMissing = 1,   // "1,(key)": a required key is missing
    kPocketMsgBadValue = 2,     // "2,(key)": a key's value is not a number, or not one the cycle can cut with
    kPocketMsgBadWord = 4712,   // "4712,(word)": an approach, leaving or stock-movement word
    kPocketWarningChannel = 4,  // the first trace channel
};

// Reads every key present, in a fixed order: 1, or 0 when "geoSource" (unless
// set before) or "toolDiameter" is missing (error record 102 "1,(key)"), the
// tool diameter is not above 2e-4 (3040), or a key's value is refused (error
// record 102 "2,(key)", the first such key): a number that is not finite, a
// step width ("infeedLength", "infeedFactor") not above 0, a negative
// "infeedDepth". The record may then hold some of the values read.
int pocketReadKeys(CycleRecord* record);
