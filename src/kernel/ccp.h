// The two-dimensional contour-parallel pocket cycle `kvCCP`. No export hands
// it out; it hangs directly under the root record.
#pragma once

#include "kernel/cycle.h"

extern CycleRecord kvCCP;

int ccpRejectArgs(CycleRecord* record);  // slot 0: positional arguments are not taken
int ccpInitFromParams(CycleRecord* record);
int ccpReadParameters(CycleRecord* record);
int ccpPrepareTool(CycleRecord* record);
int ccpPrepareGeometry(CycleRecord* record);
int ccpRunPocket(CycleRecord* record);
int ccpFinishLists(CycleRecord* record);
int ccpCycleEnd(CycleRecord* record);
