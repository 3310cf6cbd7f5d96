// The pocket strategies other than the contour-parallel pass: each machines
// list MAIN of the current plane and hands its path to the NC output.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

// Passes parallel to an axis: 1 done, -1 when the region tree cannot be set up.
int axisParallel();
// From the stock boundary inwards: 1 done, 0 nothing done, -1 when the plane cannot be set up.
int stockOutin();
// The open pocket: the result of stockOutin or of the contour-parallel pass.
int openPocket();

// Steps of axisParallel. One ring along every wall of every MAIN contour at
// the largest workable tenth of the width w; the contours move w/2 towards
// the area the passes clear. The narrowest width used.
double axisParallelRings(double w, int side);
int axisParallelEmit();  // every region node in index order: 1
// The next run of wall elements (non-negative tags) of a contour, from first
// to last (last < first: the run wraps past the end): 1, or -1 when every
// element is open.
int openRunFind(const ContourElement* elements, int32_t n, int32_t* first, int32_t* last);
// The run first..last (wrapping) as one chain into out (room for n): its count.
int32_t openRunCopy(const ContourElement* elements, int32_t n, int32_t first, int32_t last,
                    ContourElement* out);
// The part of the open piece (its ends carried on along their tangents by reach)
// between its two crossings with the closed contour, when that part lies on the
// given side of it (+1 inside, -1 outside), into out (room for count + 2): its
// count, or -1 when the piece does not cross exactly twice or the part lies on the other side.
int32_t openRunClip(const ContourElement* piece, int32_t count, const ContourElement* contour, int32_t n,
                    int side, double reach, ContourElement* out);
// The chain as a region node one level below the last node: its index, or -1.
int32_t openRunAttach(const ContourElement* chain, int32_t count, const ContourHeader* header);
void openRunMark(ContourElement* elements, int32_t n, int32_t first, int32_t last);  // tags -2
// The contour with the run first..last replaced by chain (tags -2), the
// neighbours' ends moved onto the chain's ends, into out (room for capacity),
// starting after the run: its count, or -1 when it does not fit.
int32_t openRunReplace(const ContourElement* elements, int32_t n, int32_t first, int32_t last,
                       const ContourElement* chain, int32_t count, ContourElement* out, int32_t capacity);

// Silent code: noPlunge forbids the inside-out finishing of stockOutin.
enum : int32_t { kStockErrNoPlungeFinish = 3298 };

// Helpers of stockOutin and openPocket.
int mainHasOpenSide();                                        // 1 when a MAIN element has tag -1
int chainAllOpen(const ContourElement* elements, int32_t n);  // 1 when every element has tag -1 (also n < 1)
int startOnOpenSide(const Vec2* point);  // 1 when closer than 0.1 to an open element of INPUT
int32_t openNodeNext();                  // the first unfinished node with an open element, or -1
// The entry from the open elements of the source node's ring onto the target
// node's ring within reach: the index of the target's element holding Q, with
// P on the source and Q on the target; -1 for none.
int32_t openEntryFind(int32_t target, int32_t source, double reach, int check, Vec2* p, Vec2* q);
int entryLineClear(const Vec2* p, const Vec2* q);  // 1 clear, 0 blocked
// The node's ring split at the point on element index, starting there: 1, or -1.
int ringStartAt(int32_t node, const Vec2* point, int32_t index);
int singleCutAttempt();  // 1 cut, 0 not applicable, -1 when MAIN[0] cannot be read or measured
int singleCutRing(int32_t child, int32_t parent, double reach);  // 1 cut, 0 not applicable, -1
// The node's ring cut into its wall runs, each walked from the outside in: 1, or -1.
int openNodeCut(int32_t node, double w, const int32_t* children, int32_t count);
// The stock boundary of openPocket: MAIN[0]'s runs of open elements pushed out by d, joined to the
// walls by open lines: 0 (also when nothing is open), -1 when a run cannot be moved (MAIN unchanged).
int openPocketPrepare(double d);
void strategiesResetState();
