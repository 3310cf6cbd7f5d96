// The parameter file "tmp.pcf" of a configuration run: the keyword block
// translated into the pocket cycle's name ":=" value keys, each also set in the
// record's variables for the input step that follows.
#pragma once

#include "kernel/cycle/cycle.h"

// 1, or 0 when the file cannot be created (then nothing is written or set).
int pocketWritePcf(CycleRecord* record);
