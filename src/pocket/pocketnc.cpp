#include "pocket/pocketnc.h"

#include <cmath>
#include <new>
#include <string>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "kernel/base/kvx/kvlist.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/base/numtext.h"
#include "pocket/chaincross.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/feedhelpers.h"
#include "pocket/linkmove.h"
#include "pocket/planecheck.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketstate.h"
#include "pocket/strategies.h"

namespace {

PocketOutputState gOut;

void resetOut() {
    moveChainFree(gOut.moveList);
    moveChunksFree(gOut.sectionPieces);
    gOut = PocketOutputState{};
    gOut.retractDone = 1;
    gOut.retractFirst = 1;
    gOut.headerPending = 1;
    gOut.blockCounter = -1;
    gOut.levelTop = -1e300;
    feedBufferClear();
}

struct Init {
    Init() { resetOut(); }
} gInit;

CycleRecord* rec() {
    return pocketRecord();
}

double scale() {
    double s = pocketKernel().geometryScale;
    return s > 0.0 ? s : 1.0;
}

double tol() {
    return kvCCPParams.epsilon > 0.0 ? kvCCPParams.epsilon : 1e-4;
}

double refOffset() {
    return toolReferenceOffset(rec());
}

// Step factor of the entry rules, at most a half.
double entryStepFactor() {
    return std::fmin(pocketKernel().stepFactor, 0.5);
}

bool planeOpen() {
    return pocketKernel().openMode != 0;
}

std::string fixed(double v) {
    char text[kFormatFixedMax];
    formatFixed(text, v);
    return text;
}

void setVar(const char* name, const char* value) {
    ncSetVariable(rec(), name, value);
}

void retractTo(double z) {
    ncMove3102(rec(), z);
    gOut.currentZ = z;
}

void scaleElement(ContourElement* e, double s) {
    int n = e->type == kElemArc ? 7 : 4;
    for (int i = 0; i < n; ++i) e->g[i] /= s;
}

// The element scaled as scaleElement does, read from the source: a copy scaled in place read its words
// back while their stores were still on the way, and waited for them.
ContourElement scaledCopy(const ContourElement& from, double s) {
    ContourElement e = from;
    const int n = from.type == kElemArc ? 7 : 4;
    for (int i = 0; i < n; ++i) e.g[i] = from.g[i] / s;
    return e;
}

// The element's geometry times s, in a copy read from the source as in scaledCopy.
ContourElement timesCopy(const ContourElement& from, double s) {
    ContourElement e = from;
    const int n = from.type == kElemArc ? 7 : 4;
    for (int i = 0; i < n; ++i) e.g[i] = from.g[i] * s;
    return e;
}

Vec2 startOf(const ContourElement& e) {
    return e.type == kElemArc ? Vec2{e.g[kAsx], e.g[kAsy]} : Vec2{e.g[kLx1], e.g[kLy1]};
}
Vec2 endOf(const ContourElement& e) {
    return e.type == kElemArc ? Vec2{e.g[kAex], e.g[kAey]} : Vec2{e.g[kLx2], e.g[kLy2]};
}

void writeMove(const ContourElement& e) {
    Vec2 b = endOf(e);
    if (e.type == kElemArc)
        ncMove3121(rec(), e.direction != 1 ? 1 : 0, b.x, b.y, e.g[kAcx], e.g[kAcy]);
    else
        ncMove3111(rec(), b.x, b.y);
}

// The unit start direction of an element; false when it degenerates.
bool startDirection(const ContourElement& e, Vec2* d) {
    double x, y;
    if (e.type == kElemArc) {
        double rx = e.g[kAsx] - e.g[kAcx], ry = e.g[kAsy] - e.g[kAcy];
        x = e.direction == 1 ? -ry : ry;
        y = e.direction == 1 ? rx : -rx;
    } else {
        x = e.g[kLx2] - e.g[kLx1];
        y = e.g[kLy2] - e.g[kLy1];
    }
    double len = std::hypot(x, y);
    if (len <= 1e-6) return false;
    *d = {x / len, y / len};
    return true;
}

void ccDirectionEmit(const ContourElement& e) {
    Vec2 d;
    if (!startDirection(e, &d)) return;
    std::string v =
        std::string(kvCCPParams.orientation < 0 ? "-1" : "+1") + ";" + fixed(d.x) + ";" + fixed(d.y);
    setVar("CCdirX", v.c_str());
}

void ccSideEmit() {
    setVar("CCX", kvCCPParams.orientation >= 1 ? "leftOfContour" : "rightOfContour");
    ncSetVariable(rec(), "tr", "CCX");
}

const char* entryKind(const ContourElement& e) {
    const int32_t orientation = kvCCPParams.orientation;
    if (planeOpen()) return orientation < 1 ? "right" : "left";
    if (kvCCPParams.evaluateRif) return "plunge";
    const int32_t id = pocketRecord()->cycleId;
    if (id == 1001) return gOut.plungeCount > 0 ? "plunge" : "drill";
    if (id == 1002) return "plunge";
    if (pocketKernel().stockOutin) {
        if (e.sourceTag < 0) return "plunge";
        // Entering on an open side, or on a move already cut (both in kernel units), enters beside
        // material that is not there.
        Vec2 a = startOf(e);
        a = {a.x * scale(), a.y * scale()};
        if (startOnOpenSide(&a) || (gOut.moveList && moveChainHasPoint(gOut.moveList, &a)))
            return orientation < 1 ? "left" : "right";
    }
    return "drill";
}

// Ends the pass the tool is cutting before it leaves for a new entry.
void passClose() {
    if (kvCCPParams.cutterCompensation) setVar("tr", "CC0X");
    ncPathEnd(rec());
    if (gOut.blockCounter >= 0) ncBlockEndId(rec(), static_cast<uint32_t>(gOut.blockCounter++), "", "");
}

// The records that open a pass once the tool is down at the (unscaled) element's start.
void passOpen(const ContourElement& e) {
    CcpParams& p = kvCCPParams;
    ncAssignRecord(rec(), "start", entryKind(e));
    ++gOut.plungeCount;
    ncAssignRecord(rec(), "surface", fixed(p.surface).c_str());
    ncAssignRecord(rec(), "depth", fixed(p.depth).c_str());
    if (gOut.blockCounter >= 0) ncBlockBeginId(rec(), static_cast<uint32_t>(gOut.blockCounter), "", "");
    if (p.cutterCompensation) ccSideEmit();
    ncPathBegin(rec(), "", "", "");
}

// The height the tool may come down to at rapid above an entry: the plane's top when the plane above
// cut the same pocket complete, the level's top when it did not (it leaves material standing between
// its rings, up to that top), and the highest top of the input on the first plane of a pocket in the
// floor of another: the pocket above may have left material standing over it, which a rapid must not
// meet.
double entryTop() {
    const CcpParams& p = kvCCPParams;
    double top = p.surface;
    if (std::fabs(p.surface - gOut.levelTop) > tol())
        return p.completePocket ? top : std::fmax(top, gOut.levelTop);
    for (int32_t i = 0; i < clistCount("INPUT"); ++i) {
        ContourHeader h{};
        if (clistGetHeader("INPUT", &h, i) >= 0) top = std::fmax(top, h.top);
    }
    return top;
}

// The tool left down after a pass (a plane retracted by the clearance only, or kept at its last
// position) would cross the walls and islands of the planes above on a straight way to the next start,
// and whatever the plane above left standing: it goes up to the retract plane first, unless it stays
// where it is, or the pocket is cut complete and the way keeps clear of the walls at its height.
void clearPlaneMove(const Vec2& to) {
    const CcpParams& p = kvCCPParams;
    const double off = refOffset(), s = scale();
    if (gOut.retractFirst || gOut.currentZ >= p.retractPlane + off - tol()) return;
    const Vec2 a{to.x * s, to.y * s};
    if (pointDist2D(&gOut.toolPosition, &a) <= tol() * s ||
        (p.completePocket && toolRoomAlong(&gOut.toolPosition, &a, 0, gOut.currentZ - off) == 1))
        return;
    retractTo(p.retractPlane + off);
}

// Retract, position, plunge and open a pass before the (unscaled) element.
void newEntry(const ContourElement& e) {
    CcpParams& p = kvCCPParams;
    double off = refOffset();
    Vec2 a = startOf(e);
    if (!gOut.retractDone) {
        passClose();
        retractTo(p.retractPlane + off);
    }
    p.firstMovePending = 0;
    if (p.cutterCompensation) ccDirectionEmit(e);
    clearPlaneMove(a);
    if (!p.retractEachPlane && !gOut.retractDone)
        ncMove3111(rec(), a.x, a.y);
    else
        ncMove3101(rec(), a.x, a.y);
    if (gOut.retractFirst) {
        retractTo(p.retractPlane + off);
        gOut.retractFirst = 0;
    }
    gOut.retractDone = 0;
    double extra = p.plungeType == 1 ? 0.1 * p.infeedDepth : 0.0;
    const double top = entryTop();
    if (!gOut.hasLastPosition || gOut.currentZ > top + p.clearanceDistance) {
        ncMove3102(rec(), top + p.clearanceDistance + off + extra);
        gOut.currentZ = top + p.clearanceDistance + off;
    }
    if (p.plungeType == 2) {
        setVar("aliasUse", "FZ");
        setVar("tr", "FZ");
    }
    double bottom = p.surface - std::fabs(p.depth);
    bool helixDone = false;
    if (p.plungeType == 1) {
        HelixPoints* h = helixPoints(&a, p.helixRadius, p.helixAngleResolution, p.helixPlungeAngle,
                                     -kvCCPParams.orientation,
                                     0.1 * p.infeedDepth + pocketKernel().rampClearance + p.surface, bottom);
        if (h) {
            emitReducedFeed(rec(), h);
            helixPointsFree(h);
            gOut.currentZ = bottom + off;
            helixDone = true;
        }
    }
    if (!helixDone) {
        ncMove3112(rec(), bottom + off);
        gOut.currentZ = bottom + off;
    }
    setVar("aliasUse", "FX");
    setVar("tr", "FX");
    passOpen(e);
}

// The link from the last element to this one as feed moves (unscaled lengths written).
void linkFromLast(const ContourElement& e) {
    double s = scale();
    Vec2 p1 = gOut.lastPosition, p2{startOf(e).x * s, startOf(e).y * s};
    const ContourElement scaled = timesCopy(e, s);
    Vec2 t1, t2;
    bool ok = pathTangentAt(&gOut.lastElement, 1, 1, &p1, 0, &t1) == 1 &&
              pathTangentAt(&scaled, 1, 1, &p2, 1, &t2) == 1;
    ContourElement* buf = ok ? new (std::nothrow) ContourElement[50000] : nullptr;
    int32_t n = buf ? linkMoveBuild(&p1, &t1, &p2, &t2, kvCCPParams.infeedRadius * s, buf) : -1;
    if (n < 0) {
        ncMove3111(rec(), startOf(e).x, startOf(e).y);
    } else {
        for (int32_t i = 0; i < n; ++i) {
            ContourElement m = buf[i];
            scaleElement(&m, s);
            writeMove(m);
        }
    }
    delete[] buf;
}

// A short gap is bridged by a straight feed move only where that keeps the tool clear of the walls and
// islands at the plane bottom (a pass cut by an island, resumed beyond it, was joined straight through
// the island); otherwise the tool enters anew.
bool shortLinkClear(const Vec2& to) {
    const CcpParams& p = kvCCPParams;
    const double s = scale();
    const Vec2 a{to.x * s, to.y * s};
    return toolRoomAlong(&gOut.toolPosition, &a, 0, p.surface - std::fabs(p.depth)) == 1;
}

// The last guard before a cut is written: a move that would take the tool nearer a wall or an island
// than its radius and the allowance (by more than a micrometre) is not cut; the tool enters anew after
// it, and the run reports the failed step once a plane (3020). A fault in the rings ends as an honest
// failure, not as a gouge.
bool cutRoom(const ContourElement& e) {
    const CcpParams& p = kvCCPParams;
    const double s = scale();
    const ContourElement scaled = timesCopy(e, s);
    return toolRoomOn(&scaled, -1e-3 * s, p.surface - std::fabs(p.depth)) == 1;
}

bool cutClear(const ContourElement& e) {
    CcpParams& p = kvCCPParams;
    if (cutRoom(e)) return true;
    if (!gOut.cutRefused) pocketError(kPocketErrStep);
    gOut.cutRefused = 1;
    p.firstMovePending = 1;
    return false;
}

// How many of the elements, from the first, the guard lets through.
int32_t clearLead(const std::vector<ContourElement>& elements) {
    int32_t n = 0;
    while (n < static_cast<int32_t>(elements.size()) && cutRoom(elements[n])) ++n;
    return n;
}

// The arc from the point to its end about a centre on the chord's perpendicular bisector, on the side
// of its old centre, at the old centre's mean distance from the two ends (at least half the chord): both
// ends on one circle, as a control requires. The ends the kernel joins within its tolerance, and
// centres it repairs within 0.001, would otherwise reach the output as they are.
void arcThrough(ContourElement* arc, const Vec2& from) {
    const double cx = arc->g[kAcx], cy = arc->g[kAcy], bx = arc->g[kAex], by = arc->g[kAey];
    arc->g[kAsx] = from.x;
    arc->g[kAsy] = from.y;
    const double r0 = std::hypot(from.x - cx, from.y - cy), r1 = std::hypot(bx - cx, by - cy);
    const double chord = std::hypot(bx - from.x, by - from.y);
    if (r0 == r1 || chord < 1e-9) return;
    const double r = std::fmax(0.5 * (r0 + r1), 0.5 * chord);
    const double ux = (bx - from.x) / chord, uy = (by - from.y) / chord;
    const double mx = 0.5 * (from.x + bx), my = 0.5 * (from.y + by);
    const double side = (cx - mx) * -uy + (cy - my) * ux >= 0 ? 1.0 : -1.0;
    const double h = std::sqrt(std::fmax(r * r - 0.25 * chord * chord, 0.0));
    arc->g[kAcx] = mx - uy * side * h;
    arc->g[kAcy] = my + ux * side * h;
    arc->g[kAr] = r;
}

int entryPath(ContourElement* e) {
    CcpParams& p = kvCCPParams;
    double s = scale();
    if (pocketKernel().pocketContour && gOut.sectionPieces) {
        const ContourElement scaled = timesCopy(*e, s);
        pocketSectionMark(moveChainCovers(gOut.sectionPieces, &scaled));
    }
    if (gOut.moveLimit < 0) return 0;
    Vec2 a = startOf(*e), b = endOf(*e);
    if (!std::isfinite(a.x + a.y + b.x + b.y)) return 0;
    if (e->type == kElemArc) {
        double chord = std::hypot(b.x - a.x, b.y - a.y);
        if (chord < 0.01 / s) {
            gOut.lastPosition = {b.x * s, b.y * s};
            return 0;
        }
        if (chord < 0.05 / s) arcRecentre(e);
    }
    if (!cutClear(*e)) return 0;
    double r = pocketKernel().toolRadius / s, sf = entryStepFactor();
    bool narrow = planeOpen() || pocketRecord()->cycleId == 1001;
    double gap = 0.0;
    if (gOut.hasLastPosition) {
        // Nearly always the last element's very end (hypot of two zeros is zero).
        const double dx = gOut.lastPosition.x / s - a.x, dy = gOut.lastPosition.y / s - a.y;
        if (dx != 0 || dy != 0) gap = std::hypot(dx, dy);
    }
    if (!p.firstMovePending && gOut.hasLastPosition && gap > (narrow ? tol() : 2.0 * r * sf + tol()))
        p.firstMovePending = 1;
    double shortLimit = narrow ? tol() : 1.5 * r * sf + tol();
    bool atStart = !gOut.hasLastPosition;  // the tool stands at the element's start
    if (!gOut.retractDone && gOut.hasLastPosition && gap > tol() && gap < shortLimit && shortLinkClear(a)) {
        if (std::fabs(p.infeedRadius) <= tol())
            ncMove3111(rec(), a.x, a.y);
        else
            linkFromLast(*e);
        p.firstMovePending = 0;
        atStart = true;
    } else if (p.firstMovePending) {
        newEntry(*e);
        atStart = true;
    }
    if (gOut.moveLimit > 0 && ++gOut.moveCount > gOut.moveLimit) {
        gOut.moveLimit = -1;
        ncError(rec(), "301");
        return 0;
    }
    // An arc starts where the tool stands: within the tolerance of its own start, or where a dropped
    // short arc began.
    if (e->type == kElemArc)
        arcThrough(e, atStart ? a : Vec2{gOut.toolPosition.x / s, gOut.toolPosition.y / s});
    writeMove(*e);
    gOut.lastPosition = gOut.toolPosition = {b.x * s, b.y * s};
    // Scaled from the element into its place (a copy built first was read back while its stores were
    // still on the way).
    gOut.lastElement = *e;
    for (int i = 0; i < (e->type == kElemArc ? 7 : 4); ++i) gOut.lastElement.g[i] = e->g[i] * s;
    gOut.hasLastPosition = 1;
    return 1;
}

// The leaving move off the last element, written as the pass's own continuation: the tool is
// still down at the last position even when the next element already asks for a new entry.
void leavingMoveEmit(double length) {
    CcpParams& p = kvCCPParams;
    if (p.leavingType == 0 || !gOut.hasLastPosition || gOut.retractDone) return;
    ContourElement leave{};
    if (leaveMoveFit(p.leavingType, length, &gOut.lastElement, &leave) != 1 || elemIsPoint(&leave)) return;
    scaleElement(&leave, scale());
    int32_t pending = p.firstMovePending;
    p.firstMovePending = 0;
    entryPath(&leave);
    p.firstMovePending = pending;
}

int rampEntry() {
    CcpParams& p = kvCCPParams;
    int32_t count = feedBufferCount();
    if (gOut.collectMode) return 1;
    if (count == 0) return 0;
    std::vector<ContourElement> buffered(feedBufferElements(), feedBufferElements() + count);
    feedBufferClear();
    double start = p.surface, bottom = p.surface - std::fabs(p.depth);
    double drop = start - bottom;
    if (!gOut.hasLastPosition || p.retractEachPlane) {
        double add = 0.1 * p.infeedDepth + pocketKernel().rampClearance;
        start += add;
        drop += add;
    }
    double step = p.helixAngleResolution, angle = p.helixPlungeAngle;
    std::vector<Vec2> pts(1000);
    int32_t np = 0;
    if (std::fabs(drop) >= 1e-5 && std::fabs(step) >= 1e-5 && std::fabs(angle) >= 1e-5)
        // The ramp runs only along the elements the guard lets through (unscaled here, as written).
        np = elementsToPoints(pts.data(), 1000, buffered.data(), clearLead(buffered), step);
    double len = np >= 2 ? polylineLength(pts.data(), np) : 0.0;
    if (len <= 0.0) {
        // Nothing to ramp along: the elements still go out, entered by a straight plunge.
        p.firstMovePending = 1;
        for (ContourElement& e : buffered) entryPath(&e);
        return -1;
    }
    double off = refOffset(), s = scale();
    double r = pocketKernel().toolRadius / s, sf = entryStepFactor();
    Vec2 p0 = startOf(buffered[0]);
    bool far = !gOut.hasLastPosition;
    // The pass the tool was cutting ends here; the ramp opens a new one.
    if (gOut.hasLastPosition && !gOut.retractDone) passClose();
    if (gOut.hasLastPosition) {
        double gap = std::hypot(gOut.lastPosition.x / s - p0.x, gOut.lastPosition.y / s - p0.y);
        far = p.retractEachPlane || gap > 0.1;
        bool wide = gap >= 2 * r * sf + tol();
        if (wide && !far) {
            gOut.currentZ += p.clearanceDistance;
            ncMove3102(rec(), gOut.currentZ);
        }
        if (far) retractTo(p.retractPlane + off);
    }
    gOut.retractDone = 0;
    if (far || gOut.currentZ > p.clearanceDistance - tol())
        ncMove3101(rec(), p0.x, p0.y);
    else
        ncMove3111(rec(), p0.x, p0.y);
    if (gOut.retractFirst) {
        retractTo(p.retractPlane + off);
        gOut.retractFirst = 0;
    }
    const double top = entryTop();
    if (!gOut.hasLastPosition || gOut.currentZ > top + p.clearanceDistance) {
        ncMove3102(rec(), top + p.clearanceDistance + off + 0.1 * p.infeedDepth);
        gOut.currentZ = top + p.clearanceDistance + off + 0.1 * p.infeedDepth;
    }
    if (p.plungeType == 2) {
        setVar("aliasUse", "FZ");
        setVar("tr", "FZ");
    }
    if (p.reducedFeedrate > tol() && p.planeFeedrate > 0) {
        setVar("aliasUse", "reducedFeedrate");
        setVar("tr", ("FX*" + fixed(p.reducedFeedrate / p.planeFeedrate)).c_str());
    }
    double slope = std::tan(angle);
    double run = drop / slope / 2;
    int64_t k = static_cast<int64_t>(run / len);
    double rest = run - static_cast<double>(k) * len;
    double travelled = 0;
    auto down = [&](const Vec2& a, const Vec2& b) {
        travelled += std::hypot(b.x - a.x, b.y - a.y);
        ncMove3113(rec(), b.x, b.y, std::fmax(start - travelled * slope, bottom) + off);
    };
    auto forwardBack = [&](const Vec2* q, int32_t n) {
        for (int32_t i = 1; i < n; ++i) down(q[i - 1], q[i]);
        for (int32_t i = n - 2; i >= 0; --i) down(q[i + 1], q[i]);
    };
    ncMove3113(rec(), p0.x, p0.y, start + off);
    for (int64_t i = 0; i < k && i < 100000; ++i) forwardBack(pts.data(), np);
    int32_t nr = polylineTrim(pts.data(), np, rest);
    if (nr >= 2) forwardBack(pts.data(), nr);
    setVar("aliasUse", "FX");
    setVar("tr", "FX");
    gOut.currentZ = bottom + off;  // a written height, as every entry keeps it
    p.firstMovePending = 0;
    gOut.retractDone = 0;
    // The tool now stands at the path's start: the elements continue from there, not from
    // where the previous pass left off.
    gOut.lastPosition = gOut.toolPosition = {p0.x * s, p0.y * s};
    gOut.hasLastPosition = 1;
    passOpen(buffered[0]);
    for (ContourElement& e : buffered) entryPath(&e);
    return 1;
}

}  // namespace

PocketOutputState& pocketOutputState() {
    return gOut;
}
int32_t pocketPlungePending() {
    return kvCCPParams.firstMovePending;
}
void pocketSetPlungePending(int32_t pending) {
    kvCCPParams.firstMovePending = pending;
}

void arcRecentre(ContourElement* arc) {
    double ax = arc->g[kAsx], ay = arc->g[kAsy], bx = arc->g[kAex], by = arc->g[kAey];
    double chord = std::hypot(bx - ax, by - ay);
    if (chord < 1e-6) return;
    double h2 = arc->g[kAr] * arc->g[kAr] - 0.25 * chord * chord;
    if (!(h2 > 0.0)) return;
    double ux = (bx - ax) / chord, uy = (by - ay) / chord;
    // The old centre's side of the chord: the left normal for a short counter-clockwise arc, the
    // right one for a short clockwise arc, the other for an arc of more than half a turn.
    const bool left = (arc->g[kAcx] - 0.5 * (ax + bx)) * -uy + (arc->g[kAcy] - 0.5 * (ay + by)) * ux >= 0;
    double nx = left ? -uy : uy, ny = left ? ux : -ux;
    double h = std::sqrt(h2);
    arc->g[kAcx] = 0.5 * (ax + bx) + nx * h;
    arc->g[kAcy] = 0.5 * (ay + by) + ny * h;
}

void pocketNcHeader() {
    CcpParams& p = kvCCPParams;
    gOut.plungeCount = 0;
    gOut.cutRefused = 0;
    p.firstMovePending = 1;
    if (!gOut.headerPending || gOut.collectMode) return;
    CycleRecord* r = rec();
    ncAliasDef(r, "FX", "FX", fixed(p.planeFeedrate).c_str(), "1");
    ncAliasDef(r, "FZ", "FZ", fixed(p.zFeedrate).c_str(), "1");
    ncAliasDef(r, "reducedFeedrate", "FX", fixed(p.reducedFeedrate).c_str(), "1");
    static const char* const kKeys[][2] = {{"toolName", "T"},
                                           {"planeFeedrate", "FX"},
                                           {"zFeedrate", "FZ"},
                                           {"spindleSpeed", "S"},
                                           {"spindleRotation", "SR"}};
    for (const auto& k : kKeys) {
        char* text = kvListGet(r->vars, k[0], nullptr);
        if (text) setVar(k[1], text);
        free(text);
    }
    setVar("aliasUse", "FX");
    setVar("tr", "FX");
    setVar("tr", "S");
    setVar("tr", "SR");
    setVar("cycleFct", "pocketMilling");
    const struct {
        const char* key;
        const char* word;
        double value;
    } planes[] = {{"clearancePlane", "CPLANE", p.clearancePlane},
                  {"clearanceDistance", "CDIST", p.clearanceDistance},
                  {"retractPlane", "RPLANE", p.retractPlane}};
    for (const auto& pl : planes) {
        ncSetFeedVariable(r, pl.key, pl.value);
        setVar(pl.word, fixed(pl.value).c_str());
    }
    if (p.frame[0]) {
        setVar("frame", p.frame);
        if (p.frameOn == 1) {
            setVar("tr", "frameOn");
            p.frameOn = 0;
        }
    }
    gOut.headerPending = 0;
    gOut.moveCount = 0;
}

namespace {
int emitScaled(const ContourElement* element);
}  // namespace

int pocketEmitElement(const ContourElement* element) {
    if (!element) return 0;
    CcpParams& p = kvCCPParams;
    if (gOut.collectMode) {
        if (!gOut.moveList || moveChainAppend(gOut.moveList, element, p.firstMovePending) != 1) return 0;
        p.firstMovePending = 0;
        return 1;
    }
    if (pocketKernel().stockOutin && gOut.moveList) {
        // Recorded once written, so that its own entry is judged by the moves cut before it.
        const int32_t pending = p.firstMovePending;
        const int written = emitScaled(element);
        moveChainAppend(gOut.moveList, element, pending);
        return written;
    }
    return emitScaled(element);
}

namespace {

int emitScaled(const ContourElement* element) {
    CcpParams& p = kvCCPParams;
    ContourElement e = scaledCopy(*element, scale());
    if (gOut.rampActive) {
        int kept = feedBufferAppend(&e);
        if (kept == 1) return 1;
        rampEntry();
        if (kept == -2) {
            p.firstMovePending = 1;
            gOut.rampActive = 1;
            feedBufferAppend(&e);
            return 1;
        }
        p.firstMovePending = 0;
        gOut.rampActive = 0;
    } else if (p.firstMovePending) {
        if (p.stock == kCcpStockOnly) {
            leavingMoveEmit(p.leavingLength);
            p.firstMovePending = 1;
        }
    }
    if (!gOut.rampActive && p.firstMovePending && p.approachType != 0) {
        ContourElement lead{};
        if (leadElement(&e, kvCCPParams.orientation, p.approachType, p.approachLength, &lead) == 1 &&
            !elemIsPoint(&lead))
            entryPath(&lead);
    }
    return entryPath(&e);
}

}  // namespace

void pocketContourEnd() {
    if (gOut.collectMode) return;
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    rampFlush();
    leavingMoveEmit(p.leavingLength);
    if (!(p.plungeType == 3 && !p.retractEachPlane)) gOut.hasLastPosition = 0;
    if (p.cutterCompensation) setVar("tr", "CC0X");
    ncPathEnd(rec());
    if (gOut.blockCounter >= 0) ncBlockEndId(rec(), static_cast<uint32_t>(gOut.blockCounter++), "", "");
    double off = refOffset();
    if (k.planesLeft >= 1 && !p.retractEachPlane) {
        if (p.plungeAtLastPosition) {
            k.startX = gOut.lastPosition.x;
            k.startY = gOut.lastPosition.y;
            k.startGiven = 1;
            p.startExplicit = 1;
        } else {
            gOut.currentZ += p.clearanceDistance;
            ncMove3102(rec(), gOut.currentZ);
            k.startGiven = p.startExplicit;
        }
    } else {
        retractTo(p.retractPlane + off);
        k.startGiven = p.startExplicit;
    }
    gOut.retractDone = 1;
    // The tool stands retracted: whatever comes next needs a new entry.
    p.firstMovePending = 1;
    if (k.levelsLeft == 0 && k.planesLeft == 0 && p.frame[0]) {
        if (p.frameOff == 1) setVar("tr", "frameOff");
        p.frame[0] = '\0';
    }
}

void pocketSectionMark(int32_t state) {
    if ((state != 0) == (gOut.pocketSection != 0)) return;
    ncAssignRecord(rec(), "pocket", state ? "start" : "end");
    gOut.pocketSection = state;
}

void pocketEndMark(int32_t flag) {
    if (flag == 0) ncAssignRecord(rec(), "end", "0");
}

void infeedMark(int32_t start) {
    if (pocketKernel().triggerInfeed) ncAssignRecord(rec(), "infeed", start ? "start" : "end");
}

int blockNumberingInit() {
    gOut.blockCounter = -1;
    CcpParams& p = kvCCPParams;
    if (!p.retractEachPlane || std::fabs(p.wallAngle) > tol()) return 0;
    int32_t n = clistCount("INPUT");
    ContourHeader first{}, h{};
    if (n > 0 && clistGetHeader("INPUT", &first, 0) < 0) return 0;
    for (int32_t i = 1; i < n; ++i) {
        if (clistGetHeader("INPUT", &h, i) < 0) return 0;
        if (std::fabs(h.top - first.top) > tol() || std::fabs(h.bottom - first.bottom) > tol()) return 0;
    }
    gOut.blockCounter = 0;
    return 1;
}

int32_t blockCounterNext() {
    if (gOut.blockCounter < 0) return gOut.blockCounter;
    return ++gOut.blockCounter;
}

void blockCounterSet(int32_t n) {
    gOut.blockCounter = n;
}

void blockValuesEmit() {
    if (gOut.collectMode) return;
    for (int32_t k = 1; k < gOut.blockCounter; ++k) ncBlockValue5003(rec(), static_cast<uint32_t>(k));
}

int outsideInCollectStart() {
    moveChainFree(gOut.moveList);
    gOut.moveList = moveChainCreate(1000);
    gOut.collectMode = gOut.moveList ? 1 : 0;
    pocketKernel().outsideIn = gOut.collectMode;
    return gOut.moveList ? 1 : -1;
}

int outsideInEmit() {
    MoveChain* list = gOut.moveList;
    gOut.moveList = nullptr;
    gOut.collectMode = 0;
    pocketKernel().outsideIn = 0;
    // Each chunk reversed (its order and every element's direction), newest chunk first: the
    // whole path backwards.
    moveChainReverseEach(list);
    // The collected path holds its own move from a start point; replayed, it ends there, and its
    // first element is entered where it starts. (Putting the start point in place of that element's
    // start made arcs whose ends were off their circle, and lines across the pocket.)
    pocketNcHeader();
    for (MoveChunk* c = list ? list->head : nullptr; c; c = c->next) {
        for (int32_t i = 0; i < c->count; ++i) {
            ContourElement e = c->elements[i];
            const int32_t flag = e.sourceTag;
            pocketEmitElement(&e);
            kvCCPParams.firstMovePending = flag;
        }
    }
    pocketContourEnd();
    moveChainFree(list);
    return 1;
}

void pocketOutputResetState() {
    resetOut();
}
static const RunReset gRunReset(kRunResetCycles, "pocketOutput", pocketOutputResetState);

void rampFlush() {
    if (!gOut.rampActive) return;
    rampEntry();
    kvCCPParams.firstMovePending = 0;
    gOut.rampActive = 0;
}

int pocketRampEntry() {
    return rampEntry();
}

void rampTransition(const Vec2* point) {
    CcpParams& p = kvCCPParams;
    if (p.plungeType != 3 || gOut.collectMode) return;
    double gap = gOut.hasLastPosition ? pointDist2D(&gOut.lastPosition, point) : 0.0;
    if (gOut.hasLastPosition && gap > tol()) p.firstMovePending = 1;
    if ((!gOut.hasLastPosition || gap <= tol()) && !p.firstMovePending) return;
    double r = pocketKernel().toolRadius, sf = entryStepFactor();
    if (!gOut.retractDone && gOut.hasLastPosition && gap < 2 * r * sf + tol()) {
        p.firstMovePending = 0;
        double s = scale();
        ncMove3111(rec(), point->x / s, point->y / s);
        gOut.lastPosition = gOut.toolPosition = *point;
    }
    if (p.firstMovePending) gOut.rampActive = 1;
    p.firstMovePending = 0;
}

int leaveMoveBuild(int32_t type, double length, const ContourElement* element, int32_t side,
                   ContourElement* out) {
    if (type != 1 && type != 3) return 0;
    const int32_t sd = side < 0 ? -1 : 1;
    Vec2 p, t, n;
    if (elemPoint(element, &p, kElemEnd) != 1 || elemTangent(element, &t, kElemEnd) != 1 ||
        elemOffsetNormal(element, &n, kElemEnd, sd) != 1)
        return 0;
    *out = ContourElement{};
    out->sourceTag = element->sourceTag;
    const Vec2 c{p.x + length * n.x, p.y + length * n.y};
    if (type == 1) {
        out->type = kElemLine;
        out->g[kLx1] = p.x;
        out->g[kLy1] = p.y;
        out->g[kLx2] = c.x;
        out->g[kLy2] = c.y;
        return 1;
    }
    out->type = kElemArc;
    out->direction = sd;
    out->g[kAcx] = c.x;
    out->g[kAcy] = c.y;
    out->g[kAsx] = p.x;
    out->g[kAsy] = p.y;
    out->g[kAex] = c.x + length * t.x;
    out->g[kAey] = c.y + length * t.y;
    out->g[kAr] = std::fabs(length);
    return 1;
}

namespace {

// The tool at the move's end comes closer than the clearance to the chain, or the move crosses it.
bool leaveMoveBlocked(const ContourElement& move, const ContourElement* chain, int32_t n, double clearance) {
    if (n < 1) return false;
    Vec2 a, b, first;
    elemPoint(&move, &a, kElemStart);
    elemPoint(&move, &b, kElemEnd);
    ContourElement probe{};
    probe.type = kElemArc;
    probe.g[kAcx] = b.x;
    probe.g[kAcy] = b.y;
    probe.g[kAr] = clearance + pocketKernel().tolerance;  // the classification takes its tolerance off
    if (elemContourClassify(&probe, chain, n) != 0) return true;
    if (elemPoint(&chain[0], &first, kElemStart) == 1 && pointDist2D(&b, &first) < clearance) return true;
    for (int32_t i = 0; i < n; ++i) {
        Vec2 q[2];
        int m = elemIntersect(&move, &chain[i], q);
        if (m < 0) return true;
        // A crossing at the move's own start is the wall it leaves from, not a gouge.
        for (int j = 0; j < m; ++j)
            if (pointDist2D(&q[j], &a) > 1e-6) return true;
    }
    return false;
}

}  // namespace

int leaveMoveFit(int32_t type, double length, const ContourElement* element, ContourElement* out) {
    PocketKernel& k = pocketKernel();
    ContourElement move{};
    if (leaveMoveBuild(type, length * scale(), element, k.wantedOrientation, &move) != 1) return 0;
    const double clearance = k.toolRadius + pocketAllowanceGet(0) - tol();
    const int32_t contours = clistCount("INPUT");
    for (int pass = 0; pass < 10; ++pass) {
        bool blocked = false;
        for (int32_t c = 0; c < contours && !blocked; ++c) {
            ContourHeader h{};
            // The list's own elements are read in place: nothing to allocate per check.
            if (clistGetHeader("INPUT", &h, c) < 0 || !h.elements) continue;
            blocked = leaveMoveBlocked(move, h.elements, static_cast<int32_t>(h.elementCount), clearance);
        }
        if (!blocked) {
            *out = move;
            return 1;
        }
        Vec2 mid;
        elemPoint(&move, &mid, kElemMiddle);
        elemSetPoint(&move, &mid, kElemEnd);
    }
    // Still too close after the last halving: no leaving move rather than one that gouges.
    return 0;
}
