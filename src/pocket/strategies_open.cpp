// The openPocket strategy: a partly open plane goes to the stock-side
// strategy, a closed one to the contour-parallel pass on reversed contours.

#include "kernel/ccp.h"
#include "pocket/contouroffset.h"
#include "pocket/islands.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/strategies.h"

int openPocket() {
    PocketKernel& k = pocketKernel();
    const int32_t keptOpen = k.openPocket, keptStock = k.stockOutin, keptDirect = k.outsideInDirect;
    k.startGiven = kvCCPParams.startExplicit = 0;
    if (mainHasOpenSide()) {
        // A stock boundary r + overlap outside the plane, offset back by r, would run
        // along the walls where the wall runs' rings do not cut it away: the
        // stock-side strategy on the plane as it is enters from the open sides
        // just the same and keeps off the walls.
        offsetSetCloseSnap(0);
        return stockOutin();
    }
    k.openPocket = k.stockOutin = k.outsideInDirect = 0;
    clistReverseAll("MAIN");
    // The pass runs on the reversed contours with the opposite orientation; the
    // orientation comes back afterwards, so that the next plane, read afresh, is not reversed twice.
    const int32_t wanted = k.wantedOrientation;
    k.wantedOrientation = -wanted;
    const int result = pocketContourParallel();
    k.wantedOrientation = wanted;
    k.openPocket = keptOpen;
    k.stockOutin = keptStock;
    k.outsideInDirect = keptDirect;
    return result;
}
