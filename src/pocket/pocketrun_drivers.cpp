// The plane drivers of the pocket run: the contour-parallel pocket of one
// plane's list MAIN (island rings, the ring loop, span and back cuts, the
// region walk region by region) and the simple driver without the span,
// back-cut and region-order refinements.
#include <cmath>
#include <tuple>
#include <vector>

#include "pocket/ccp.h"
#include "pocket/cornerloop.h"
#include "pocket/cutlists.h"
#include "pocket/elemdist.h"
#include "pocket/islands.h"
#include "pocket/nesting.h"
#include "pocket/planerings.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/regionwalk.h"
#include "pocket/restmat.h"
#include "pocket/ringemit.h"

namespace {

int stepError() {
    pocketError(kPocketErrStep);
    return -1;
}

void freePlaneLists() {
    for (const char* l : {"SPAN", "GKT", "MAIN", "INSEL"}) clistFree(l);
}

// The smallest distance between an element of a SPAN contour and one of a GKT contour; 0 when either is
// empty.
double spanIslandGap() {
    const int32_t ns = clistCount("SPAN"), ng = clistCount("GKT");
    if (ns == 0 || ng == 0) return 0;
    std::vector<std::vector<ContourElement>> span, gkt;
    for (auto& [name, out, n] : {std::tuple{"SPAN", &span, ns}, std::tuple{"GKT", &gkt, ng}}) {
        for (int32_t i = 0; i < n; ++i) {
            ContourHeader h{};
            if (clistGetHeader(name, &h, i) < 0) continue;
            std::vector<ContourElement> e(h.elementCount);
            clistGet(name, e.data(), &h, i);
            out->push_back(std::move(e));
        }
    }
    double best = -1;
    for (const auto& a : span)
        for (const auto& b : gkt)
            for (const ContourElement& x : a)
                for (const ContourElement& y : b) {
                    Vec2 onA, onB;
                    const double d = elemElemDistance(&x, &y, &onA, &onB);
                    if (best < 0 || d < best) best = d;
                }
    return best < 0 ? 0 : best;
}

int32_t firstRegion(bool direct) {
    const PocketKernel& k = pocketKernel();
    if (k.startGiven) {
        const RegionBestStart* b = regionBestStart();
        if (b && b->found) return b->node;
    }
    return direct ? regionPickShallowest() : regionPickDeepest();
}

int regionPath(int32_t region, double step, bool openEdge) {
    return pocketKernel().outsideInDirect ? pocketRegionPathDirect(region, step, openEdge ? 1 : 0)
                                          : pocketRegionPath(region, step, openEdge ? 1 : 0);
}

}  // namespace

int pocketContourParallel() {
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    const double R = k.toolRadius;
    const bool direct = k.outsideInDirect != 0;
    const bool onlyStartRegion =
        k.startGiven && !direct && k.openMode == 0 && p.retractEachPlaneRun && !restModeActive();
    if (!regionTreeInit(1)) return stepError();
    pocketNcHeader();
    const int32_t n = clistCount("MAIN");
    if (n > 40) clistSortByKey("MAIN");
    const bool closedLike = k.openMode == 0 || n == 1;
    if (k.openMode != 0 && n == 1) {
        clistReverseAll("MAIN");
        clistNumberAll("MAIN");
    }
    int r = closedLike ? pocketOffsetIslands(R, pocketAllowances(), k.wantedOrientation)
                       : pocketIslandsSpans(R, pocketAllowances(), k.wantedOrientation);
    if (r < 0) return stepError();
    r = closedLike ? pocketLevelLoop(R, pocketAllowanceGet(0), k.stepFactor, k.wantedOrientation)
                   : pocketOpenFirstRings(R, k.wantedOrientation);
    if (r < 0) {
        freePlaneLists();
        cutListsFree();
        return stepError();
    }
    if (r == 0) k.startGiven = 0;
    if (p.splitPath) {
        pocketSpanBackCuts(2 * R * k.stepFactor, p.orientation, 1);
        pocketSplitRings(2 * R * k.stepFactor);
    }
    if (direct) {
        // The gap between the outermost rings and the island rings in equal steps.
        const double s = spanIslandGap() - 0.05;
        const double kk = std::floor(s / (2 * R * k.stepFactor));
        if (kk + 1 > 1) k.stepFactor = s / (2 * R * (kk + 1));
    }
    const double step = 2 * R * k.stepFactor;
    cornerLoopSetup(R, step, k.wantedOrientation);
    const int cuts =
        closedLike ? pocketSpanBackCuts(step, p.orientation, 0) : pocketOpenRingLoop(step, p.orientation);
    cutListsFree();
    if (cuts < 0) {
        freePlaneLists();
        return stepError();
    }
    regionTreePrepass(R + pocketAllowanceGet(0), step);
    regionTreeInit(2);
    if (p.splitPath) {
        ringEmitSingleBranches();
        ringEmitRoots();
        outsideInCollectStart();
    }
    int32_t region = firstRegion(direct);
    if (region < 0) {
        pocketError(kPocketErrNoRegion);
        // The tool fits nowhere in the plane: nothing of it is cut, which the run must not report as
        // done. Rest machining asks about areas the tool may well not reach, and goes on.
        if (!restModeActive()) ccpNoteFailure();
        regionTreeFree();
        k.planesLeft = 0;
        pocketContourEnd();
        return cuts;
    }
    if (!k.startGiven && k.openMode == 0 && !direct) ccpRingStartAtLongestLine(region);
    bool openEdge = false;
    if (k.openMode) {
        k.startGiven = 0;
        if (n == 1) {
            region = 0;
            openEdge = true;
        }
        pocketIslandRings(region, p.orientation, k.stockTolerance);
    }
    int last = regionPath(region, step, openEdge);
    if (last < 0) return stepError();
    if (p.splitPath) outsideInEmit();
    while (!onlyStartRegion) {
        region = direct ? regionPickShallowest() : regionPickDeepest();
        if (region < 0) break;
        pocketError(kPocketErrNextRegion);
        if (p.splitPath) outsideInCollectStart();
        if (k.openMode == 0) ccpRingStartAtLongestLine(region);
        k.startGiven = 0;
        p.firstMovePending = 1;
        last = regionPath(region, step, openEdge);
        if (last < 0) return stepError();
        if (p.splitPath) outsideInEmit();
    }
    regionTreeFree();
    pocketContourEnd();
    return last;
}

int pocketSimpleDriver() {
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    const double R = k.toolRadius;
    if (!regionTreeInit(1)) return stepError();
    pocketNcHeader();
    if (pocketOffsetIslands(R, pocketAllowances(), k.wantedOrientation) < 0) return stepError();
    const int loop = pocketLevelLoop(R, pocketAllowanceGet(0), k.stepFactor, k.wantedOrientation);
    if (loop < 0) {
        freePlaneLists();
        return stepError();
    }
    regionTreeFree();
    ContourElement* buf = clistScratch(1);
    if (!buf) return stepError();
    while (clistCount("INSEL") > 0) {
        ContourHeader h{};
        if (clistGet("INSEL", buf, &h, -1) < 0 || !clistInsert("SPAN", buf, &h, -1)) return stepError();
        clistDelete("INSEL", -1);
    }
    if (!regionTreeInit(1)) return stepError();
    for (int32_t i = 0; i < clistCount("SPAN"); ++i) {
        ContourHeader h{};
        if (clistGet("SPAN", buf, &h, i) < 0 || regionAttachContour(buf, &h, 0, 0) < 0) return stepError();
    }
    regionTreeInit(2);
    const double step = 2 * R * k.stepFactor;
    int32_t region = firstRegion(false);
    bool openEdge = false;
    if (k.openMode) {
        k.startGiven = 0;
        if (clistCount("MAIN") == 1) {
            region = 0;
            openEdge = true;
        }
    }
    if (region < 0) {
        pocketError(kPocketErrNoRegion);
        if (!restModeActive()) ccpNoteFailure();
    }
    for (bool first = true; region >= 0; first = false) {
        if (!first) {
            k.startGiven = 0;
            p.firstMovePending = 1;
        }
        if (pocketRegionPath(region, step, openEdge ? 1 : 0) < 0) return stepError();
        region = regionPickDeepest();
    }
    regionTreeFree();
    pocketContourEnd();
    return loop;
}
