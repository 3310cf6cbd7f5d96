// One run of the plunge-roughing cycle: the configuration step, the run driver that the cycle's run
// slot calls, and the path generation driver with its clean-up of the run's objects.
#pragma once

#include <cstdint>

#include "plunge/runsetup.h"

struct Plist;
struct PlistArray;

enum : int32_t {
    kMsgBladeCountZero = 6207,   // fewer than two blades
    kMsgNoProfileCurve = 306,    // no blade contour
    kMsgUserBreak = 821,         // cancelled by the host
    kMsgMissingPolymesh = 5200,  // the polymesh file cannot be loaded; the value is its name
    kMsgNoMemory = 311,
    kMsgPathsIntersect = 6222,
    kMsgPathDistance = 6223,
    kMsgCollRegion = 6202,
    kMsgNoFreeTilt = 6007,
    kMsgGeneration = 6206,      // the output of the paths begins
    kMsgAssemblyFailed = 6290,  // the tool-assembly models or their check model file cannot be made
    kMsgStepFailed = 6227,      // a step of the path generation failed without a message of its own
    kMsgNoCfgFile = 6200,       // the job (configuration) file cannot be read; the value is its name
    kMsgRowsShort = 6226,       // the plunge rows stop short of the channel's end; the value is where
};

enum : int {
    kPlungeRunFailed = -1,     // reported
    kPlungeRunCancelled = -2,  // by the host
};

enum : int {
    kCycleConfigOk = 0,
    kCycleConfigNoFile = -1,
    kCycleConfigSetupFailed = -3,
};

// 0, -1 when the configuration file cannot be read, -3 when the set-up fails. A null name applies
// nothing further. The run's record is scaled from the applied one here, once per run.
int loadCycleConfig(const char* cfgName);
// 1 done, -1 failed (reported; also when no collision-free tilt exists), -2 cancelled.
int runPlungeCycle(const char* cfgName);
int generatePlungePaths(CycleNcCtx* nc, CycleToolCtx* tool);
void freeCycleData(CycleToolCtx* tool);  // safe at any point
void truncateFile(const char* name);
int regionFirstPathEmpty(const PlistArray* regionLists);  // 1 when the first side path has nothing to cut
int regionSidesUsable(const PlistArray* regionLists);     // 1 when sides 0 and 3 each cut more than 2 points
// The stretch of the path between its first and last point to cut, as a polyline: 1, 0 none, -1.
int writeCutRangePolyline(const Plist* path, int skipKind2);
// The pitch of the blades from *BLADE_COUNT and *BLDCT_FLOAT: 1, or -1 (message 6207) below two blades.
int cyclePitch(const CycleParams* p, double* pitch);

void plungeRunResetState();  // the run's objects and every setting a run installs elsewhere
