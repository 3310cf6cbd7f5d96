// The pocket run: the slot methods of the pocket cycle record (prepare,
// input, set-up, run, finish, end), the run modes that build the infeed planes
// of every level and hand each plane's list MAIN to a plane driver, and the
// list operations the run rests on. One run at a time per process.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "kernel/cycle/cycle.h"
#include "pocket/clist.h"
#include "pocket/leveltable.h"

// Plane drivers: machine list MAIN of one plane. The result of the last region
// path (0 or more), or -1 after a step error.
int pocketContourParallel();
int pocketSimpleDriver();

// Machines POCKET group by group (rest machining's pockets): 1, or 0 on failure.
int ccpPocketWise(const char* list);
// Every INPUT contour per infeed plane of the kernel's plane top and depth: 1, or 0.
int ccpMachinePlanes(int32_t orientation);
// Rings of the reference tool into REST: 1, or -1.
int ccpRestByReferenceTool(double radius);
// The reference tool of a configuration run: the result of the message sent, 0 when it is unknown.
int ccpWriteToolReference(CycleRecord* record);
double ccpToolReferenceValue();

// One row {top, bottom, 0, index} per contour (only those of the level with full
// nesting): 1, or -1 when the table is full.
int ccpLevelRowsFromList(const CycleRecord* record, LevelTable* table, const char* list, int32_t level);
int ccpMainIsOuter();  // 1 outer boundary first or open mode, 0 not, -1 MAIN empty
// Islands of deeper levels standing above z whose ancestors hold the level, appended to MAIN: how many.
int32_t ccpAddIslands(const char* source, const char* main, int32_t level, double z);
int ccpAddClamps(const char* clamps, const char* main);  // 1, or -1 for an empty MAIN
int ccpFirstStockContour(const char* list);              // 1 stock contour first, 0 none, -1 list failure
int ccpSameTopAll(const char* list);
int ccpBuildPocketList(const char* list);  // 1, or 0 when POCKET refuses a contour
int32_t ccpNextGroup(int32_t index, const char* list);
int ccpReorderPocketGroups(const char* list);
int ccpDropThinOuter(const char* list);
int ccpRingStartAtLongestLine(int32_t region);
int32_t ccpLevelNearestStart(const char* list, const Vec2* point);

// A plane driver or kernel step of this run failed (the host then sees status 1).
void ccpNoteFailure();
int ccpRunFailed();  // 1 after ccpNoteFailure in this run
// 1 when the host's cancel stopped this run between planes (the host then sees status 100).
int ccpRunCancelled();
void pocketRunResetState();
