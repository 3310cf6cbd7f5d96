// The five-axis plunge-roughing cycle `kvIdx5`: the library's default cycle.
#pragma once

#include "kernel/cycle.h"

extern CycleRecord kvIdx5;

int idx5ReadParameters(CycleRecord* record);
int idx5Prepare(CycleRecord* record);
int idx5CheckRetractPlane(CycleRecord* record);
int idx5Run(CycleRecord* record);
int idx5Finish(CycleRecord* record);

// The cycle's abort hook: 1 when the default record's signal word is 100, 2 for 104, else 0.
int idx5ModeCallback();
