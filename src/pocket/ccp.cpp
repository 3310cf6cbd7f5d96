#include "pocket/ccp.h"

#include "kernel/base/runreset.h"
#include "kernel/cycle/cycrun.h"

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

namespace {

constexpr CcpParams kDefaults = [] {
    CcpParams p{};
    p.epsilon = 1e-4;
    p.depth = 1.0;
    p.oriAutomatic = 2;
    p.orientation = 1;
    p.referenceRadius = 10.0;
    p.plungeType = 2;
    p.helixRadius = 5;
    p.helixPlungeAngle = 20;
    p.helixAngleResolution = 10;
    p.retractEachPlane = 1;
    p.toolType = 2;
    p.completePocket = 1;
    p.stockTolerance = 0.5;
    p.messageFile = "qvpockzw.loc";
    p.plungeAtLastPosition = 1;
    p.singleCutOverlapFactor = 0.9;
    p.firstMovePending = 1;
    p.retractEachPlaneRun = 1;
    p.deepestLevel = 1;
    p.firstLevel = 1;
    p.reduceContours = 1;
    p.equalLevels = 1;
    p.singleContour = -1;
    p.spiralTolerance = 0.01;
    return p;
}();

}  // namespace

CcpParams kvCCPParams = kDefaults;

void ccpParamsResetState() {
    kvCCPParams = kDefaults;
}
static const RunReset gRunReset(kRunResetCycles, "ccpParams", ccpParamsResetState);

int ccpRejectArgs(CycleRecord*) {
    return 0;
}
