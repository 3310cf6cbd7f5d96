#include "plunge/idx5.h"

#include <cstdlib>

#include "kernel/base/numtext.h"
#include "kernel/base/runreset.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycrun.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/ncout/ncout.h"

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

namespace {

// The record keeps its channels from run to run (the end step leaves them in place); they go when the
// library is unloaded.
struct UnloadCleanup {
    ~UnloadCleanup() { ncFreeChannels(&kvIdx5); }
} gUnloadCleanup;

}  // namespace

int idx5ModeCallback() {
    // The host signals a run of the default record, which is this one.
    CycleRecord* record = &kvIdx5;
    int32_t signal = record->hostSignal.load();
    if (signal == kSignalCancel) return 1;
    if (signal == kSignalBreak) return 2;
    return 0;
}

void idx5ResetState() {
    ncRestartOutput();
    // The plunge cycle's moves carry unit tool axes: they are always written with six decimals.
    setNumberDecimals(6);
    if (CycleRecord* writer = ncGetWriter()) coreSetDtoSPrecision(writer, 6);
}

int idx5ReadParameters(CycleRecord* record) {
    if (!record || !record->parent || !record->parent->slots.m[kSlotInput]) {
        cyc3dSetStatus(record, -1);
        return 0;
    }
    // The parent's input step runs for this record as if it were the parent itself.
    CycleRecord* parent = record->parent;
    record->parent = parent->parent;
    int result = parent->slots.m[kSlotInput](record);
    record->parent = parent;
    return result == 0 ? 0 : 1;
}

// idx5Prepare (slot 11) and idx5Run (slot 13) live with the cycle's computation in src/plunge.

int idx5CheckRetractPlane(CycleRecord* record) {
    if (!record) return 0;
    if (Cyc3dParams* p = cyc3dParams(record)) {
        char* given = kvListGet(record->vars, "retractPlane", nullptr);
        if (!given || p->retractPlane >= p->clearancePlane) p->retractPlane = p->clearancePlane;
        free(given);
    }
    char* tiltMode = kvListGetLast(record->cfgVars, "*TILT_MODE", nullptr);
    if (tiltMode && strtol(tiltMode, nullptr, 10) == 6) record->cycleId = kIdx5TiltMode6Id;
    free(tiltMode);
    return 1;
}

int idx5Finish(CycleRecord* record) {
    if (!record) return 0;
    if (Cyc3dParams* p = cyc3dParams(record); p && p->clearancePlane > p->retractPlane)
        ncMove3102(record, p->clearancePlane);
    return 1;
}

namespace {

Vec3 gPivot = {0.0, 0.0, 1.0};

}  // namespace

int idx5SetPivotCallback(const Vec3* axis, int32_t) {
    if (!axis) return 0;
    gPivot = *axis;
    ncSetToolAxis(axis);
    return 0;
}

void idx5GetPivot(Vec3* out) {
    if (out) *out = gPivot;
}

void idx5PivotResetState() {
    gPivot = {0.0, 0.0, 1.0};
}
static const RunReset gRunReset(kRunResetCycles, "idx5Pivot", idx5PivotResetState);
