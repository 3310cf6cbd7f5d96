#include "kernel/cyc3d.h"

#include "kernel/cycrun.h"

CycleRecord kvCyc3d = {
    .parent = &cycleRootRecord,
    .started = 0,
    .frameVersion = kFrameVersion,
    .cycleId = 0,
    .versionMajor = 5,
    .versionMinor = 0,
    .versionYear = 2001,
    .versionMonth = 3,
    .versionDay = 28,
    .title = "Corvane 3D Common Cycle",
    .shortName = "kvCyc3d",
    .firstRecordPending = 1,
    .frame = KV_FRAME_IDENTITY,
    .toolFrame = KV_FRAME_IDENTITY,
    .slots = {{
        cyc3dRejectArgs,      // args
        cyc3dInitFromParams,  // prepare
        nullptr,              // readParams
        nullptr,              // readCfg
        nullptr,              // version
        nullptr,              // help
        cycleInfoParameters,  // parameters
        cycleInfoAlgorithm,   // algorithm
        cycleInfoLayers,      // layers
        acceptRecord,         // modeD
        cyc3dReadParameters,  // input
        acceptRecord,         // inputCfg
        acceptRecord,         // setup
        cyc3dRun,             // run
        acceptRecord,         // finish
        cyc3dCycleEnd,        // end
    }},
};

int cyc3dRejectArgs(CycleRecord*) {
    return 0;
}

// The 3D cycle's parameter block and output are not part of this build yet:
// these slots fail, so a run through them reports failure.
int cyc3dInitFromParams(CycleRecord*) {
    return 0;
}

int cyc3dReadParameters(CycleRecord*) {
    return 0;
}

int cyc3dRun(CycleRecord*) {
    return 0;
}

int cyc3dCycleEnd(CycleRecord*) {
    return 0;
}
