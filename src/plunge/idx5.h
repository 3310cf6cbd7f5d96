// The five-axis plunge-roughing cycle `kvIdx5`: the library's default cycle.
#pragma once

#include "geometry/vec.h"
#include "kernel/cycle/cycle.h"

extern CycleRecord kvIdx5;

// The record's id while the tilt mode (*TILT_MODE) is 6.
constexpr int32_t kIdx5TiltMode6Id = 1013;

// Slot 10: the 3D common cycle's input step for this record.
int idx5ReadParameters(CycleRecord* record);
// Slot 11: the configuration words applied to the cycle's parameters; 1.
int idx5Prepare(CycleRecord* record);
// Slot 12: the retract plane never above the clearance plane; 1.
int idx5CheckRetractPlane(CycleRecord* record);
// Slot 13: one plunge-roughing run; always 1, the outcome goes to the status word.
int idx5Run(CycleRecord* record);
// Slot 14: back up to the clearance plane when it lies above the retract plane; 1.
int idx5Finish(CycleRecord* record);

// The cycle's abort hook: 1 when the default record's signal word is 100, 2 for 104, else 0.
int idx5ModeCallback();

// Starts a plunge run's output: positions, counters, feeds, sections and the SBS block reset, six
// decimals. The run's set-up stays (writer, modes, plunge angle, special feeds, unit settings, tool
// tip and tool reference).
void idx5ResetState();

// The tool-axis callback that the link layer calls before each point: keeps the three values as the
// pivot axis and hands them to the NC output as its tool axis; 0 (a null axis changes nothing).
int idx5SetPivotCallback(const Vec3* axis, int32_t flag);
void idx5GetPivot(Vec3* out);
void idx5PivotResetState();  // (0, 0, 1)
