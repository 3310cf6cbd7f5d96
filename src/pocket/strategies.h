// The pocket strategies other than the contour-parallel pass: each machines
// list MAIN of the current plane and hands its path to the NC output.
#pragma once

#include <cstdint>

// Passes parallel to an axis: 1 done, -1 when the region tree cannot be set up.
int axisParallel();
// From the stock boundary inwards: 1 done, 0 nothing done, -1 when the plane cannot be set up.
int stockOutin();
// The open pocket: the result of stockOutin or of the contour-parallel pass.
int openPocket();
