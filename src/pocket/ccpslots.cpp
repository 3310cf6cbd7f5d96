// Slot methods of the pocket cycle record. The run itself (parameters into the
// kernel, set-up, planes and output) is not part of this build: the slots after
// the first step of the prepare slot fail, so a run ends with status 1.
#include "kernel/ccp.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"

namespace {

// The host reads the outcome from the status word.
int notBuilt(CycleRecord* record) {
    setCycleStatus(record, -1);
    return 0;
}

}  // namespace

int ccpInitFromParams(CycleRecord* record) {
    pocketSetRecord(record);
    // An error stored by an earlier run must not mark this one.
    pocketErrorClear();
    return notBuilt(record);
}

int ccpReadParameters(CycleRecord* record) {
    return notBuilt(record);
}

int ccpPrepareTool(CycleRecord* record) {
    return notBuilt(record);
}

int ccpPrepareGeometry(CycleRecord* record) {
    return notBuilt(record);
}

int ccpRunPocket(CycleRecord* record) {
    return notBuilt(record);
}

int ccpFinishLists(CycleRecord* record) {
    return notBuilt(record);
}

int ccpCycleEnd(CycleRecord* record) {
    return notBuilt(record);
}
