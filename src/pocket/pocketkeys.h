// The pocket parameters read from a run's name ":=" value variables into the
// pocket record, the keyword block's copies and the kernel's switches.
#pragma once

#include "kernel/cycle.h"

enum : int {
    kPocketMsgKeyMissing = 1,   // "1,(key)": a required key is missing
    kPocketMsgBadWord = 4712,   // "4712,(word)": an approach, leaving or stock-movement word
    kPocketWarningChannel = 4,  // the first trace channel
};

// Reads every key present, in a fixed order: 1, or 0 when "geoSource" (unless
// set before) or "toolDiameter" is missing (error record 102 "1,(key)") or the
// tool diameter leaves no tool radius (3040).
int pocketReadKeys(CycleRecord* record);
