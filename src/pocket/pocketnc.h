// The pocket cycle's NC output: one plane's path, element by element, written
// as NC records with its entry (retract, positioning, plunge), passes, short
// links and retract, the once-per-run header, the marker records and block
// numbering. Elements arrive in scaled kernel units; everything written is
// divided by the geometry scale. All state is process-wide; one run at a time.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/movechain.h"

struct PocketOutputState {
    ContourElement lastElement;  // scaled
    Vec2 lastPosition;           // scaled
    Vec2 toolPosition;  // scaled: where the tool stands (a dropped short arc moves only lastPosition)
    int32_t hasLastPosition;
    double currentZ;  // unscaled
    double levelTop;  // top of the plane's outer boundary (unscaled), set by the plane's preparation
    int32_t retractDone, retractFirst, headerPending;
    int32_t blockCounter;  // -1: no block numbering
    int32_t plungeCount;
    int32_t cutRefused;     // a move was refused at the guard in this plane (reported once)
    int32_t collectMode;    // elements go to the move list instead of the output
    MoveChain* moveList;    // collected moves; the tag holds the pending-entry flag
    int32_t pocketSection;  // a ("pocket", "start") record is open
    int32_t rampActive;     // elements collect in the ramp buffer for the ramp entry
    // The pocket contour's material runs (scaled): a written element that lies
    // on one opens a ("pocket", "start") section, one that leaves them closes it.
    MoveChunk* sectionPieces;
    // Elements written per run: 0 no limit, -1 the limit fired and later elements are refused.
    int32_t moveLimit, moveCount;
};

PocketOutputState& pocketOutputState();
// The pending-entry flag: the next element starts with retract, position and plunge.
int32_t pocketPlungePending();
void pocketSetPlungePending(int32_t pending);

void pocketNcHeader();
// Writes (or collects) one scaled element: 1, 0 when nothing was written (a
// dropped short arc, a degenerate element).
int pocketEmitElement(const ContourElement* element);
void pocketContourEnd();

// Ramp plunge: before a ring starts at a new point the following elements are
// collected and entered by a zig-zag descent along their start.
void rampTransition(const Vec2* point);  // scaled
void rampFlush();                        // enters what the ramp buffer holds
// 1 entered (or collecting), 0 nothing buffered, -1 refused (the buffered
// elements are then written with a straight plunge).
int pocketRampEntry();

// Leaving move of the type (1 perpendicular, 3 quarter circle) and length off
// the element's end, to the side (+1 left): 1 built, 0 for another type or a
// degenerate end.
int leaveMoveBuild(int32_t type, double length, const ContourElement* element, int32_t side,
                   ContourElement* out);
// The leaving move off the (scaled) element, shortened until the tool at its
// end keeps clear of every INPUT contour: 1 built (scaled), 0 none or no clear one.
int leaveMoveFit(int32_t type, double length, const ContourElement* element, ContourElement* out);

// Puts an arc's centre back on the perpendicular bisector of its chord (unscaled).
void arcRecentre(ContourElement* arc);

void pocketSectionMark(int32_t state);
void pocketEndMark(int32_t flag);
void infeedMark(int32_t start);

int blockNumberingInit();  // 1 when numbering is on
int32_t blockCounterNext();
void blockCounterSet(int32_t n);
void blockValuesEmit();

// Outside-in collection of a plane's moves and their replay backwards: 1, -1 without memory.
int outsideInCollectStart();
int outsideInEmit();

void pocketOutputResetState();
