// One run of the plunge-roughing cycle: the configuration step, the run driver that the cycle's run
// slot calls, and the path generation driver with its clean-up of the run's objects.
#pragma once

#include <cstdint>

#include "plunge/runsetup.h"

enum : int32_t {
    kMsgBladeCountZero = 6207,   // fewer than two blades
    kMsgNoProfileCurve = 306,    // no blade contour
    kMsgUserBreak = 821,         // cancelled by the host
    kMsgMissingPolymesh = 5200,  // the polymesh file cannot be loaded; the value is its name
    // The region side paths and the plunge rows that follow the blade contours cannot be computed by
    // this build: the run stops there and fails rather than hand out an incomplete path.
    kMsgRegionPathsMissing = 6290,
};

enum : int {
    kCycleConfigOk = 0,
    kCycleConfigNoFile = -1,
    kCycleConfigSetupFailed = -3,
};

// 0, -1 when the configuration file cannot be read, -3 when the set-up fails. A null name applies
// nothing further. The run's record is scaled from the applied one here, once per run.
int loadCycleConfig(const char* cfgName);
// 1 done, -1 failed (reported), -2 cancelled.
int runPlungeCycle(const char* cfgName);
int generatePlungePaths(CycleNcCtx* nc, CycleToolCtx* tool);
void freeCycleData(CycleToolCtx* tool);  // safe at any point
void truncateFile(const char* name);
// The pitch of the blades from *BLADE_COUNT and *BLDCT_FLOAT: 1, or -1 (message 6207) below two blades.
int cyclePitch(const CycleParams* p, double* pitch);

void plungeRunResetState();  // the run's objects and every setting a run installs elsewhere
