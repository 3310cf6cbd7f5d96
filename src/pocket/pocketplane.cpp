#include "pocket/pocketplane.h"

#include <cmath>

#include "pocket/ccp.h"
#include "kernel/ncout/ncemit.h"
#include "pocket/cutlists.h"
#include "pocket/elemaccess.h"
#include "pocket/movechain.h"
#include "pocket/planecheck.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/strategies.h"

namespace {

double tol() {
    return kvCCPParams.epsilon > 0.0 ? kvCCPParams.epsilon : 1e-4;
}

// A circular pocket is best entered at its centre, where the tool has the most room.
void circleCentreStart() {
    PocketKernel& k = pocketKernel();
    if (k.outsideInDirect || k.startGiven) return;
    Vec2 c;
    if (mainCircleCentre("MAIN", &c) != 1) return;
    k.startX = c.x;
    k.startY = c.y;
    k.startGiven = 1;
}

// A start point (the job's, a circular pocket's centre, or where the last plane left the tool) that
// gives the tool no room at this plane's bottom would plunge it into a wall or an island, or into the
// material of an island that appears below: the plane then starts at an entry of its own.
void startPointRoom() {
    PocketKernel& k = pocketKernel();
    if (!k.startGiven) return;
    const CcpParams& p = kvCCPParams;
    const Vec2 s{k.startX, k.startY};
    bool room = toolRoomAt(&s, 0, p.surface - std::fabs(p.depth)) == 1;
    if (room && k.openMode == 0) {
        // Inside the pocket: inside the outer boundary and outside its islands.
        int32_t around = 0;
        for (int32_t i = 0; i < clistCount("MAIN"); ++i) {
            ContourHeader h{};
            if (clistGetHeader("MAIN", &h, i) >= 0 && h.elements &&
                pointInContour(h.elements, static_cast<int32_t>(h.elementCount), &s) != 0)
                ++around;
        }
        room = around % 2 == 1;
    }
    if (!room) k.startGiven = 0;
}

int dispatch() {
    PocketKernel& k = pocketKernel();
    if (k.axisParallel) return axisParallel();
    if (k.stockOutin) {
        if (kvCCPParams.allowSingleCut) {
            k.singleCut = 1;
            k.singleCutOverlap = kvCCPParams.singleCutOverlapFactor;
        }
        return stockOutin();
    }
    if (k.openPocket) return openPocket();
    return pocketContourParallel();
}

}  // namespace

int pocketPlaneWantsCutLists() {
    const CcpParams& p = kvCCPParams;
    if (!(p.toolDiameter > 0.0)) return 0;
    const double ratio = p.infeedLength / p.toolDiameter;
    bool on =
        (p.completePocket && (ratio > 0.5 || p.filletRadius > tol())) || (p.considerToolType && ratio > 0.3);
    if (pocketKernel().openMode != 0) on = on && ratio >= 0.2;
    return on ? 1 : 0;
}

void pocketPlanePrepare() {
    PocketKernel& k = pocketKernel();
    PocketOutputState& out = pocketOutputState();
    CcpParams& p = kvCCPParams;
    pocketOffsetState().growMode = 1;
    if (k.pocketContour) {
        moveChunksFree(out.sectionPieces);
        out.sectionPieces = listMaterialRuns("MAIN");
    }
    // An approach from outside makes no sense where the open sides are not the stock boundary.
    if (k.openMode != 0 && p.stock != kCcpStockOnly && p.stock != kCcpStockForce) p.approachType = 0;
    circleCentreStart();
    startPointRoom();
    ContourHeader outer{};
    out.levelTop = clistGetHeader("MAIN", &outer, 0) >= 0 ? outer.top : -1e300;
    // The kernel reset restores tolerances and words; the plane keeps the tool's step.
    const double step = k.stepFactor;
    pocketKernelInit();
    k.stepFactor = step;
    cutListsCreate(pocketPlaneWantsCutLists());
    out.plungeCount = 0;
    if (k.outsideIn || k.stockOutin) {
        moveChainFree(out.moveList);
        out.moveList = moveChainCreate(1000);
        // Without the list the plane is machined inside-out, written directly.
        if (!out.moveList) k.outsideIn = 0;
    }
    out.collectMode = k.outsideIn;
}

void pocketPlaneFinish() {
    PocketOutputState& out = pocketOutputState();
    if (pocketKernel().outsideIn && out.collectMode) outsideInEmit();
    out.collectMode = 0;
    moveChainFree(out.moveList);
    out.moveList = nullptr;
    if (pocketKernel().pocketContour) {
        moveChunksFree(out.sectionPieces);
        out.sectionPieces = nullptr;
        pocketSectionMark(0);
    }
}

int pocketPlane() {
    // The direct mode fits the step to this plane's gap between rings and islands; the next plane
    // measures its own gap from the tool's step again.
    const double step = pocketKernel().stepFactor;
    pocketPlanePrepare();
    const int result = dispatch();
    pocketPlaneFinish();
    pocketKernel().stepFactor = step;
    return result;
}
