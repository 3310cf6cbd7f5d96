// Plunge point output: the rows of plunge records become NC motion. Each row is oriented and given
// its sideways vectors, its tops and bottoms are pulled onto the surrounding surfaces, its departure
// (the macro beside the bottom) is shortened where the tool would touch the part, and every plunge
// goes out as link, approach, plunge, departure and retract inside a "plunge" block.
//
// The output reads these fields of a cut record: top and bottom (clipped here), bottom2 the
// departure point, top2 the retract point, axis the lift vector, vector2 the sideways vector, top3 the
// return point, list1 and list2 the edge paths before and after the row, value the lift length,
// active the emitted flag, kind 1 a special feed (first and last station), mark the no-macro flag.
#pragma once

#include <cstdint>

#include "avoidance/links.h"
#include "plunge/runsetup.h"

struct CutListSet;
struct CutRecordList;
struct HubShroud;
struct LevelCurves;
struct Plist;
struct PlistArray;
struct Profile2D;

enum : int32_t {
    kMsgMacroShortened = 6232,  // the value is the departure length left (0 when dropped)
    kMsgToolMeetsStock = 6508,
    kMsgDrillpoints = 6509,    // plunges emitted by this output
    kMsgNoMacroPoints = 6510,  // plunges of the run that went out without a departure
};

enum : int {
    kPlungeLinkRefused = -4,  // no collision-free link to the next plunge (reported by the links)
};

// Every row of the set, level by level: 1, or kLinkOutputFailed when the NC output fails, -1 when a
// level model cannot be built (message 311), kPlungeLinkRefused, kLinkCancelled when the host
// cancelled (polled before every row and plunge; nothing more is emitted). The part model carries
// the links; departures keep the tool off the hub (the pair's hub with its end faces, or none when null).
int plungePointsOutput(CycleNcCtx* nc, CheckModel* part, CutListSet* rows, const Profile2D* start,
                       const PlistArray* edges, const LevelCurves* levels, CheckModel* stock,
                       int32_t splitter, const HubShroud* hub);
// Orientation, sideways vectors, lift data and edge paths of row index: 1, or -1 when the bottoms of
// its first two records coincide.
int prepareRow(CutListSet* rows, int32_t index, const PlistArray* edges, double radius, double halfDiameter);
// The plunges of one row; *linkFlag non-zero: the next plunge is reached by the checked link and
// its approach goes out as a positioning move. The number emitted, kLinkOutputFailed,
// kPlungeLinkRefused or kLinkCancelled.
int emitPlungeRow(CutRecordList* row, CutListSet* rows, int32_t index, int withMacros, CycleNcCtx* nc,
                  CycleToolCtx* tool, CheckModel* level, CheckModel* start, const Profile2D* startProfile,
                  int32_t* linkFlag);
// The extra plunges or the followed path along a blade edge (by *BLADE_STEPS): 1, or -1.
int bladeStepPlunges(const Plist* edgePath, CycleNcCtx* nc, CycleToolCtx* tool, CheckModel* level,
                     CheckModel* start, const Profile2D* startProfile, const Vec3* lateral);
// Bottoms pulled back out of the level model, tops out of the start model (either may be null): 1.
int clipPlunges(CutRecordList* row, CheckModel* level, CheckModel* start);
// The point where each plunge enters the stock (the top without a stock): 1.
int setReturnPoints(CutRecordList* row, CheckModel* stock);
// 1 when a cutter of the tool's width less *T_CUTWIDTH plunges freely into the stock, 0 when it meets it.
int toolMeetsStock(CheckModel* stock, const CutRecordList* row);
// Departure and retract points, the departure shortened in tenths of m until the tool (0.1 wider)
// leaves the part model of tool free, and the ball keeps off the output's hub solid: 1.
int shortenMacro(CutRecordList* row, CheckModel* level, double m, CycleToolCtx* tool);

// The link settings of the run from its NC context and parameters.
void linkContextFromCycle(const CycleNcCtx* nc, LinkContext* out);
int32_t plungeOutNoMacroCount();  // plunges of this run without a departure
void plungeOutResetState();       // at the start of every run
