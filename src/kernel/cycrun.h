// Running a started cycle record: the information modes or the main phases,
// then the clean-up.
#pragma once

#include "kernel/cycle.h"

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

int cycleInfoParameters(CycleRecord* record);  // slot 6
int cycleInfoAlgorithm(CycleRecord* record);   // slot 7
int cycleInfoLayers(CycleRecord* record);      // slot 8
int rootCycleEnd(CycleRecord* record);         // root slot 15
