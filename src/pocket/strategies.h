// The pocket strategies other than the contour-parallel pass: each machines
// list MAIN of the current plane and hands its path to the NC output.
#pragma once

#include <cstdint>

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
