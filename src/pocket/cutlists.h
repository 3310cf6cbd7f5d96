// CUT lists: extra cutting contours for the material a large step leaves
// between rings (span cuts CUT_SPAN, back cuts CUT_BACK, island-ring cuts
// CUT_GKT), combined, checked against the pocket and hung into the region tree.
#pragma once

#include <cstdint>

#include "pocket/clist.h"

enum : int32_t {
    kCutMaxCrossings = 4999,  // crossings of two cut contours
};

// A contour runs as a boundary when its ccw equals its leftSide, else as an island.
// The header's row field is the mark of the combinations: 0 untouched, -1 consumed, 1 keep.

// Nothing for a stock pocket; otherwise the three lists when enabled. 0, or -1.
int cutListsCreate(int32_t enabled);
void cutListsFree();
int cutListsActive();
int cutListReset(const char* list);  // emptied when active and not empty: 0, or -1
void cutModeSet(int32_t mode);       // the merge mode 0, 1 or 2
int32_t cutModeGet();

// Every source contour offset to its side by k x width into destination: how many, or -1.
int32_t cutSpanOffset(const char* source, const char* destination, double width);
// One contour (header->elementCount elements) offset into pieces (sign -1: back cuts,
// reversed, open tags), the useful ones appended: how many, or -1.
int32_t cutPieceOffset(const ContourElement* elements, const ContourHeader* header, double width, int sign,
                       const char* destination);
// 1 when the piece keeps clear of the contour's start by the distance d, else 0.
int cutPieceUseful(const ContourElement* contour, int32_t count, const ContourElement* piece,
                   int32_t pieceCount, double d);

// Combines the lists and attaches what fits to the region tree: 1 done, 0 nothing
// or refused, -1 when a step failed (the lists are emptied, nothing half-merged stays).
int cutListsMerge();

// The steps of the merge, on named lists.
int32_t cutListCombine(const char* a, const char* b, int callMode);  // A's count, or -1
int32_t cutListSelfSplit(const char* a);                             // A's count, or -1
int cutListsOverlap(const char* a, const char* b);                   // 1, 0, or -1
int32_t cutListsUnion(const char* a, const char* b, int move);       // A's count, or -1
int cutListPrune(const char* a, const char* b);                      // 1 when a contour went, 0, -1
// a split by b, or a and b as the table of their sides says, appended to destination: how many, or -1.
int32_t cutPairSplit(const ContourElement* a, const ContourHeader* ha, const ContourElement* b,
                     const ContourHeader* hb, const char* destination);
// 1 when the contour crosses no contour of the list, lies in its first and outside the
// others, keeps the clearance c from each and (step factor below 0.5) is at most 25 R long; 0 when it
// does not, -1 when a contour of the list cannot be read or its crossings cannot be counted.
int cutPieceFits(const ContourElement* contour, int32_t count, const char* list, double clearance);

void cutListsResetState();
