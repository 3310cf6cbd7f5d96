#include "kernel/ccp.h"

#include "kernel/cycrun.h"

CycleRecord kvCCP = {
    .parent = &cycleRootRecord,
    .started = 0,
    .frameVersion = kFrameVersion,
    .cycleId = 1100,
    .versionMajor = 6,
    .versionMinor = 0,
    .versionYear = 2001,
    .versionMonth = 6,
    .versionDay = 8,
    .title = "Corvane 2D Contour Parallel Pocket Cycle",
    .shortName = "kvCCP",
    .firstRecordPending = 1,
    .frame = KV_FRAME_IDENTITY,
    .toolFrame = KV_FRAME_IDENTITY,
    .slots = {{
        ccpRejectArgs,        // args
        ccpInitFromParams,    // prepare
        nullptr,              // readParams
        nullptr,              // readCfg
        nullptr,              // version
        nullptr,              // help
        cycleInfoParameters,  // parameters
        cycleInfoAlgorithm,   // algorithm
        cycleInfoLayers,      // layers
        acceptRecord,         // modeD
        ccpReadParameters,    // input
        ccpPrepareTool,       // inputCfg
        ccpPrepareGeometry,   // setup
        ccpRunPocket,         // run
        ccpFinishLists,       // finish
        ccpCycleEnd,          // end
    }},
};

int ccpRejectArgs(CycleRecord*) {
    return 0;
}

// The pocket cycle's parameters, geometry and output are not part of this
// build yet: these slots fail.
int ccpInitFromParams(CycleRecord*) {
    return 0;
}

int ccpReadParameters(CycleRecord*) {
    return 0;
}

int ccpPrepareTool(CycleRecord*) {
    return 0;
}

int ccpPrepareGeometry(CycleRecord*) {
    return 0;
}

int ccpRunPocket(CycleRecord*) {
    return 0;
}

int ccpFinishLists(CycleRecord*) {
    return 0;
}

int ccpCycleEnd(CycleRecord*) {
    return 0;
}
