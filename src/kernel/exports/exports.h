// The host's entries (kvcycles.h) and what must know every record of the library: the default
// record, the run guard that keeps one thread's runs at a time, and the resets that reach every
// static record. Lower layers never name the records of the cycles above them; what they need of
// every record is handed to them from here.
#pragma once

#include "kernel/ncout/record.h"

CycleRecord* defaultCycle();

int hostCallbackDepth();  // runs open in kvCSexecCycle (at most 8)

// Resets the module state (callback stack, cached cycle, abort hook) and the
// static records' signal and status words; for tests.
void cycleResetState();

// Unloads the core library and forgets every static record's hold on it (coreResetState with the
// library's records); for tests.
void exportsResetCore();
