// The common three-dimensional cycle class `kvCyc3d`, parent of the
// plunge-roughing cycle.
#pragma once

#include "kernel/cycle.h"

extern CycleRecord kvCyc3d;

int cyc3dRejectArgs(CycleRecord* record);  // slot 0: positional arguments are not taken
int cyc3dInitFromParams(CycleRecord* record);
int cyc3dReadParameters(CycleRecord* record);
int cyc3dRun(CycleRecord* record);
int cyc3dCycleEnd(CycleRecord* record);
