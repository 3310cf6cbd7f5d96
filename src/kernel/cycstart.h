// Starting a cycle record: class initialisation along the parent chain, the
// argument vector and the parameter reading.
#pragma once

#include <cstdint>

#include "kernel/cycle.h"

// Starts a record; nonzero when started, 0 when not. The host path passes
// parentStart 0; a record starting its parent passes 1.
int cycleStart(CycleRecord* record, char** argv, uint16_t argc, int parentStart);

int rootReadParameters(CycleRecord* record);  // root slot 2
int rootReadCfg(CycleRecord* record);         // root slot 3
