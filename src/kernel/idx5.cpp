#include "kernel/idx5.h"

#include "kernel/cyc3d.h"
#include "kernel/cycrun.h"

CycleRecord kvIdx5 = {
    .parent = &kvCyc3d,
    .started = 0,
    .frameVersion = kFrameVersion,
    .cycleId = 1157,
    .versionMajor = 1,
    .versionMinor = 1,  // hundredths: version 1.01
    .versionYear = 2003,
    .versionMonth = 6,
    .versionDay = 16,
    .title = "3D 5-Axis Impeller Plunge Roughing",
    .shortName = "kvIdx5",
    .firstRecordPending = 1,
    .frame = KV_FRAME_IDENTITY,
    .toolFrame = KV_FRAME_IDENTITY,
    .slots = {{
        nullptr,                // args
        nullptr,                // prepare
        nullptr,                // readParams
        nullptr,                // readCfg
        nullptr,                // version
        nullptr,                // help
        nullptr,                // parameters
        cycleInfoAlgorithm,     // algorithm
        cycleInfoLayers,        // layers
        nullptr,                // modeD
        idx5ReadParameters,     // input
        idx5Prepare,            // inputCfg
        idx5CheckRetractPlane,  // setup
        idx5Run,                // run
        idx5Finish,             // finish
        nullptr,                // end
    }},
};

int idx5ModeCallback() {
    CycleRecord* record = defaultCycle();
    if (!record) return 0;
    int32_t signal = record->hostSignal.load();
    if (signal == kSignalCancel) return 1;
    if (signal == kSignalBreak) return 2;
    return 0;
}

// The plunge-roughing computation and its parameter handling are not part of
// this build yet. Each of these slots fails and marks the run failed in the
// status word, so a host never reads a success that nothing computed.
namespace {

int notBuilt(CycleRecord* record) {
    setCycleStatus(record, -1);
    return 0;
}

}  // namespace

int idx5ReadParameters(CycleRecord* record) {
    return notBuilt(record);
}

int idx5Prepare(CycleRecord* record) {
    return notBuilt(record);
}

int idx5CheckRetractPlane(CycleRecord* record) {
    return notBuilt(record);
}

int idx5Run(CycleRecord* record) {
    return notBuilt(record);
}

int idx5Finish(CycleRecord* record) {
    return notBuilt(record);
}
