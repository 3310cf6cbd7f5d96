// Running a started cycle record: the information modes or the main phases,
// each step bracketed by two signals, then the clean-up and the closing of
// the core library.
#pragma once

#include "kernel/cycle/cycle.h"

// Error codes of cycleRun.
enum : int {
    kRunOk = 0,
    kRunVersionFailed = 11,
    kRunHelpFailed = 12,
    kRunParametersFailed = 13,
    kRunAlgorithmFailed = 14,
    kRunLayersFailed = 15,
    kRunModeDFailed = 16,
    kRunInputFailed = 21,
    kRunSetupFailed = 22,
    kRunRunFailed = 23,
    kRunFinishFailed = 24,
    kRunEndFailed = 31,
};

int cycleRun(CycleRecord* record);  // the error code, 0 on success

// The steps: each sends its first signal, runs its slot, sends its second
// signal and returns the slot's result (0 for a record without that slot).
int cycleDoVersion(CycleRecord* record);     // slot 4, 211/219
int cycleDoHelp(CycleRecord* record);        // slot 5, 221/229
int cycleDoParameters(CycleRecord* record);  // slot 6, 231/239
int cycleDoAlgorithm(CycleRecord* record);   // slot 7, 241/249
int cycleDoLayers(CycleRecord* record);      // slot 8, 251/259
int cycleDoModeD(CycleRecord* record);       // slot 9, 261/269
int cycleDoPrepare(CycleRecord* record);     // slot 1 and cycleWriteCfgSource, 311/319
int cycleDoInput(CycleRecord* record);       // slot 10 (11 in a configuration run), 321/329
int cycleDoSetup(CycleRecord* record);       // slot 12, 331/339
int cycleDoRun(CycleRecord* record);         // slot 13, 341/349
int cycleDoFinish(CycleRecord* record);      // slot 14, 351/359
int cycleDoEnd(CycleRecord* record);         // slot 15, 391/399

// Reports the parameter source: 112 on channel 0, the variables (201/202) and
// word pairs (204) on channel 1.
void cycleWriteCfgSource(CycleRecord* record);

// Frees the run fields (arguments, parameter file, variable lists) and drops
// the host listeners of the finished run; signals 411 and 419.
void cycleCleanup(CycleRecord* record);

// Reads the language file named by the variable for "SystemLanguage" ("???"
// when unset): 1 when the language's section held a line, else 0.
int cycleInfoSection(CycleRecord* record, const char* variable);
int cycleInfoParameters(CycleRecord* record);  // slot 6: "parameters"
int cycleInfoAlgorithm(CycleRecord* record);   // slot 7: "algorithm"
int cycleInfoLayers(CycleRecord* record);      // slot 8: "layers"
int rootCycleEnd(CycleRecord* record);         // root slot 15: 104 "cycleEnd", channels freed
