// The run slot of the pocket cycle: the run modes (level by level of the
// nesting, all contours at once, rest machining of the whole input, G-code
// rest), the infeed planes of each level and the plane's list MAIN handed to a
// plane driver; pocket-wise machining of rest pockets.
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "kernel/base/abort.h"
#include "kernel/ncout/ncemit.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/contourreduce.h"
#include "pocket/cornerloop.h"
#include "pocket/cutlists.h"
#include "pocket/feedhelpers.h"
#include "pocket/gcodefile.h"
#include "pocket/islands.h"
#include "pocket/linearcfit.h"
#include "pocket/nesting.h"
#include "pocket/planecheck.h"
#include "pocket/planerings.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketplane.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/regionstack.h"
#include "pocket/regiontree.h"
#include "pocket/regionwalk.h"
#include "pocket/restmat.h"
#include "pocket/rifblock.h"
#include "pocket/ringemit.h"
#include "pocket/ringhelpers.h"
#include "pocket/ringround.h"
#include "pocket/strategies.h"
#include "pocket/trochoid.h"

namespace {

constexpr int32_t kLevelRows = 12000;
constexpr int kRunCancelled = -2;  // a mode stopped at the host's request
constexpr const char* kMsgUserCancel = "821";

int gFailed = 0;
int gCancelled = 0;

// The abort hook of the pocket run: the host asks the current pocket record to stop with 100 (or 104).
int pocketAbortHook() {
    const CycleRecord* record = pocketRecord();
    if (!record) return 0;
    const int32_t signal = record->hostSignal.load();
    return signal == kSignalCancel ? 1 : signal == kSignalBreak ? 2 : 0;
}

// Polled before every level and plane (and rest pocket): once the host has asked, the run
// machines nothing more.
bool cancelRequested() {
    if (!gCancelled && callAbortHook() != 0) gCancelled = 1;
    return gCancelled != 0;
}

// The step factor of a finished ring loop only: machined without the refinements.
// A strategy may clear its own flags for the plane it machines; every plane starts from the run's.
int planeDriver(bool simple) {
    pocketStrategyFlagsReset(kvCCPParams.strategy);
    if (!simple) return pocketPlane();
    pocketKernelInit();
    return pocketSimpleDriver();
}

struct Tables {
    LevelTable* table = nullptr;
    PlaneList* planes = nullptr;
    Tables() = default;
    Tables(const Tables&) = delete;
    Tables& operator=(const Tables&) = delete;
    ~Tables() { release(); }
    void release() {
        levelTableFree(table);
        planeListFree(planes);
        table = nullptr;
        planes = nullptr;
    }
};

int noList(CycleRecord* record) {
    ncError(record, "103");
    return 0;
}

void noteResult(int result) {
    if (result < 0) gFailed = 1;
}

// The row of the level table that came from contour i, or null.
const LevelRow* rowOf(const LevelTable* table, int32_t i) {
    for (int32_t r = 0; table && r < table->used; ++r)
        if (table->rows[r].ref == i) return &table->rows[r];
    return nullptr;
}

bool copyContour(const char* from, int32_t i, const char* to, int32_t at) {
    ContourHeader h{};
    if (clistGetHeader(from, &h, i) < 0) return false;
    std::vector<ContourElement> e(h.elementCount);
    return clistGet(from, e.data(), &h, i) >= 0 && clistInsert(to, e.data(), &h, at) == 1;
}

int32_t orientationOf(const char* list, int32_t i) {
    ContourHeader h{};
    if (clistGetHeader(list, &h, i) < 0) return 0;
    std::vector<ContourElement> e(h.elementCount);
    if (clistGet(list, e.data(), &h, i) < 0) return 0;
    return contourOrientation(e.data(), static_cast<int32_t>(e.size()));
}

// MAIN of one plane from the INPUT contours whose row holds z: those of the
// wanted orientation first, in order. 1, 0 when none has it (207 sent), -1 on a list failure.
int mainByOrientation(CycleRecord* record, const LevelTable* table, double z, int32_t wanted) {
    if (!clistCreate("MAIN")) return -1;
    int32_t front = 0;
    for (int32_t i = 0; i < clistCount("INPUT"); ++i) {
        const LevelRow* row = rowOf(table, i);
        if (!row || !levelRowContains(row, z)) continue;
        const bool lead = orientationOf("INPUT", i) == wanted;
        if (!copyContour("INPUT", i, "MAIN", lead ? front : -1)) return -1;
        if (lead) ++front;
    }
    if (front == 0) {
        ncError(record, "207");
        return 0;
    }
    return 1;
}

// A plane's contours come in another order than the input's (a deeper pocket's planes hold it first,
// islands are sorted by orientation): each keeps its own allowance.
void ownAllowances(const char* list) {
    for (int32_t i = 0; i < clistCount(list); ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) >= 0) pocketAllowanceSet(i, h.allowance);
    }
}

void setSlab(const PlaneList* planes, int32_t k) {
    CcpParams& p = kvCCPParams;
    p.surface = planes->z[k];
    p.depth = planes->z[k] - planes->z[k + 1];
    pocketKernel().planesLeft = planes->used - k - 2;
}

// Mode B1: the nesting's levels one by one.
int runByLevels(CycleRecord* record, int32_t wanted, int32_t orientation, double infeed) {
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    int32_t from = p.firstLevel, to = p.deepestLevel, step = 1;
    if (k.invertSequence) {
        std::swap(from, to);
        step = -1;
    }
    for (int32_t level = from; step > 0 ? level <= to : level >= to; level += step) {
        if (cancelRequested()) return kRunCancelled;
        p.infeedDepth = infeed;
        k.levelsLeft = p.deepestLevel - level;
        Tables t;
        t.table = levelTableCreate(kLevelRows);
        if (!t.table || ccpLevelRowsFromList(record, t.table, "INPUT", level) < 0) return noList(record);
        double top = 0, bottom = 0;
        if (levelTableRange(t.table, &top, &bottom) < 0) continue;
        if (p.infeedDepth > top - bottom) p.infeedDepth = top - bottom;
        t.planes = levelTableFromRange(t.table, p.infeedDepth);
        if (!t.planes) return 0;
        const int32_t levelBlock = blockCounterNext();
        for (int32_t s = 0; s + 1 < t.planes->used; ++s) {
            if (cancelRequested()) return kRunCancelled;
            setSlab(t.planes, s);
            const double z = t.planes->z[s + 1];
            if (!clistCreate("MAIN")) return noList(record);
            p.orientation = orientation;
            k.wantedOrientation = wanted;
            for (int32_t i = 0; i < clistCount("INPUT"); ++i) {
                ContourHeader h{};
                const LevelRow* row = rowOf(t.table, i);
                if (clistGetHeader("INPUT", &h, i) < 0 || h.tag != level || !row || !levelRowContains(row, z))
                    continue;
                if (!copyContour("INPUT", i, "MAIN", -1)) return noList(record);
            }
            ccpAddIslands("INPUT", "MAIN", level, z);
            if (*p.clamps) ccpAddClamps("CLAMPS", "MAIN");
            if (k.outsideInDirect && k.nestingReordered && clistHasNegativeSign("MAIN")) {
                noteResult(clistReverseAll("MAIN"));
                p.orientation = -p.orientation;
                k.wantedOrientation = -k.wantedOrientation;
            }
            const int32_t n = clistCount("MAIN");
            if (n > 0) {
                k.openMode = 0;
                ContourHeader first{};
                clistGetHeader("MAIN", &first, 0);
                bool open = p.stock == kCcpStockForce || p.stock == kCcpStockOnly ||
                            (p.stock == kCcpStockTrue && first.stock);
                if (p.stock == kCcpStockMulti) {
                    k.stockMoved = 0;
                    open = ccpFirstStockContour("MAIN") == 1;
                }
                if (open) {
                    k.openMode = 1;
                    p.plungeType = 2;
                }
                k.stockMovement = n == 1 ? 0 : p.stockMovement;
                if (ccpMainIsOuter() > 0) {
                    ownAllowances("MAIN");
                    wallAngleAllowance("MAIN");
                    if (p.stock == kCcpStockOnly) {
                        markOpenSides("MAIN");
                        k.stockMovement = 1;
                        k.stockOnly = 1;
                    }
                    // Every slab of a level starts from the same block number.
                    blockCounterSet(levelBlock);
                    noteResult(planeDriver(k.stepFactor <= 1e-7));
                }
            }
            clistFree("MAIN");
        }
    }
    return 1;
}

// Mode B2: every INPUT contour at once.
int runAllContours(CycleRecord* record, int32_t wanted) {
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    Tables t;
    t.table = levelTableCreate(kLevelRows);
    if (!t.table || ccpLevelRowsFromList(record, t.table, "INPUT", -1) < 0) return noList(record);
    t.planes = levelTableFromRange(t.table, p.infeedDepth);
    if (!t.planes) return 0;
    k.levelsLeft = 0;
    const int32_t block = blockCounterNext();
    for (int32_t s = 0; s + 1 < t.planes->used; ++s) {
        if (cancelRequested()) return kRunCancelled;
        setSlab(t.planes, s);
        const int m = mainByOrientation(record, t.table, t.planes->z[s + 1], wanted);
        if (m < 0) return noList(record);
        if (m == 0) {
            clistFree("MAIN");
            return 0;
        }
        ownAllowances("MAIN");
        wallAngleAllowance("MAIN");
        if (p.stock == kCcpStockOnly) markOpenSides("MAIN");
        blockCounterSet(block);
        noteResult(planeDriver(false));
        clistFree("MAIN");
    }
    return 1;
}

// Mode C: rest machining of the whole input.
int runRestOfInput(CycleRecord* record) {
    const CcpParams& p = kvCCPParams;
    if (cancelRequested()) return kRunCancelled;
    if (!clistCreate("MAIN")) return noList(record);
    for (int32_t i = 0; i < clistCount("INPUT"); ++i) {
        if (p.singleContour >= 0 && i != p.singleContour) continue;
        if (!copyContour("INPUT", i, "MAIN", -1)) {
            clistFree("MAIN");
            return noList(record);
        }
    }
    if (p.useReferenceDiameter) {
        noteResult(ccpRestByReferenceTool(p.referenceRadius));
        noteResult(pocketRestMaterial("REST", p.referenceRadius));
    } else {
        noteResult(pocketRestMaterial(nullptr, 0));
    }
    clistFree("MAIN");
    return gCancelled ? kRunCancelled : 1;
}

// Mode A: rest of a G-code contour file's reference tool, level by level.
int runGcodeRest(CycleRecord* record) {
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    double radius = p.referenceRadius;
    if (!p.useReferenceDiameter && gcodeFileRead(nullptr, &radius) < 0) {
        pocketError(kPocketErrGcodeWord);
        return 0;
    }
    if (!clistCreate("TEMP")) return noList(record);
    for (int32_t i = 0; i < clistCount("INPUT"); ++i) {
        if (p.singleContour >= 0 && i != p.singleContour) continue;
        if (!copyContour("INPUT", i, "TEMP", -1)) return noList(record);
    }
    int result = 1;
    for (int32_t level = p.firstLevel; level <= p.deepestLevel && result == 1; ++level) {
        if (cancelRequested()) {
            result = kRunCancelled;
            break;
        }
        k.levelsLeft = p.deepestLevel - level;
        Tables t;
        t.table = levelTableCreate(kLevelRows);
        if (!t.table || ccpLevelRowsFromList(record, t.table, "TEMP", level) < 0) {
            result = noList(record);
            break;
        }
        double top = 0, bottom = 0;
        if (levelTableRange(t.table, &top, &bottom) < 0) continue;
        if (p.infeedDepth < 1e-5) p.infeedDepth = top - bottom;
        t.planes = levelTableFromRange(t.table, p.infeedDepth);
        if (!t.planes) {
            result = 0;
            break;
        }
        const int32_t block = blockCounterNext();
        if (k.pocketWise && !clistCreate("POCKET")) {
            result = noList(record);
            break;
        }
        for (int32_t s = 0; s + 1 < t.planes->used; ++s) {
            if (cancelRequested()) {
                result = kRunCancelled;
                break;
            }
            setSlab(t.planes, s);
            k.planeTop = p.surface;
            k.planeDepth = p.depth;
            const double z = t.planes->z[s + 1];
            if (!clistCreate("MAIN")) {
                result = noList(record);
                break;
            }
            for (int32_t i = 0; i < clistCount("TEMP"); ++i) {
                ContourHeader h{};
                const LevelRow* row = rowOf(t.table, i);
                if (clistGetHeader("TEMP", &h, i) < 0 || h.tag != level || !row || !levelRowContains(row, z))
                    continue;
                copyContour("TEMP", i, "MAIN", -1);
            }
            ccpAddIslands("TEMP", "MAIN", level, z);
            if (*p.clamps) ccpAddClamps("CLAMPS", "MAIN");
            if (clistCount("MAIN") == 0) {
                clistFree("MAIN");
                break;
            }
            blockCounterSet(block);
            noteResult(ccpRestByReferenceTool(radius));
            noteResult(pocketRestMaterial("REST", radius));
            clistFree("MAIN");
        }
        if (k.pocketWise && result == 1) {
            ccpReorderPocketGroups("POCKET");
            if (!ccpPocketWise("POCKET")) gFailed = 1;
        }
        if (k.pocketWise) clistFree("POCKET");
    }
    clistFree("TEMP");
    return result == 1 && gCancelled ? kRunCancelled : result;
}

// Nothing the planes of an earlier run left behind (the header already written,
// a lowered snap distance, lists, flags, buffers) may decide this run's output.
void resetPlaneFamilies() {
    pocketOutputResetState();
    feedHelpersResetState();
    contourOffsetResetState();
    contourReduceResetState();
    contourOrientResetState();
    linearcfitResetState();
    ringRoundResetState();
    ringHelpersResetState();
    ringEmitResetState();
    planeCheckResetState();
    islandsResetState();
    cutListsResetState();
    planeRingsResetState();
    cornerLoopResetState();
    regionTreeResetState();
    regionStackResetState();
    regionWalkResetState();
    restMatResetState();
    strategiesResetState();
}

}  // namespace

int ccpRunPocket(CycleRecord* record) {
    if (!record) return 0;
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    const int32_t wanted = k.wantedOrientation, orientation = p.orientation;
    const double infeed = p.infeedDepth;
    k.planeTop = p.surface;
    k.planeDepth = p.depth;
    k.groupCounter = 0;
    resetPlaneFamilies();
    trochoidInstall();
    blockNumberingInit();
    setAbortHook(pocketAbortHook);
    int result;
    if (p.evaluateRif && p.oriAutomatic == 2)
        result = runGcodeRest(record);
    else if (!p.useReferenceDiameter && !p.evaluateRif)
        result = p.oriAutomatic == 2 ? runByLevels(record, wanted, orientation, infeed)
                                     : runAllContours(record, wanted);
    else
        result = runRestOfInput(record);
    clistFree("MAIN");
    if (!result) {
        setCycleStatus(record, -1);
        return 0;
    }
    // A cancel that came during the last plane is answered too: the host asked, and every plane it
    // gets is whole.
    if (result == 1 && cancelRequested()) result = kRunCancelled;
    if (result == kRunCancelled) {
        // Stopped between planes: what was written stays whole, and the run ends as any run does.
        ncError(record, kMsgUserCancel);
        setCycleStatus(record, kRunCancelled);
    }
    blockValuesEmit();
    if (*p.clamps) clistFree("CLAMPS");
    return 1;
}

int ccpMachinePlanes(int32_t orientation) {
    CycleRecord* record = pocketRecord();
    CcpParams& p = kvCCPParams;
    const PocketKernel& k = pocketKernel();
    p.startExplicit = k.startGiven;
    Tables t;
    t.table = levelTableCreate(kLevelRows);
    if (!t.table) return noList(record);
    const double top = k.planeTop, bottom = k.planeTop - std::fabs(k.planeDepth);
    for (int32_t i = 0; i < clistCount("INPUT") && i < kLevelRows; ++i) {
        ContourHeader h{};
        clistGetHeader("INPUT", &h, i);
        levelTableSet(t.table, i, top, bottom, h.tag == 0 ? 1 : 0, i);
    }
    t.planes = levelTableFromRange(t.table, p.infeedDepth);
    if (!t.planes) return 0;
    const int32_t block = blockCounterNext();
    for (int32_t s = 0; s + 1 < t.planes->used; ++s) {
        // A cancel ends the rest machining's planes quietly; the run sees it at its next level or plane.
        if (cancelRequested()) return 1;
        setSlab(t.planes, s);
        const int m = mainByOrientation(record, t.table, t.planes->z[s + 1], orientation);
        if (m <= 0) {
            clistFree("MAIN");
            return m < 0 ? noList(record) : 0;
        }
        blockCounterSet(block);
        wallAngleAllowance("MAIN");
        noteResult(planeDriver(false));
        clistFree("MAIN");
    }
    return 1;
}

int ccpPocketWise(const char* list) {
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    for (int32_t g = clistCount(list) > 0 ? 0 : -1; g >= 0 && !cancelRequested();) {
        const int32_t next = ccpNextGroup(g, list);
        const int32_t end = next < 0 ? clistCount(list) : next;
        if (!clistCreate("INPUT")) return noList(pocketRecord());
        for (int32_t i = g; i < end; ++i)
            if (!copyContour(list, i, "INPUT", -1)) return noList(pocketRecord());
        ContourHeader h{};
        clistGetHeader("INPUT", &h, 0);
        std::vector<ContourElement> e(h.elementCount);
        clistGet("INPUT", e.data(), &h, 0);
        k.planeTop = h.top;
        k.planeDepth = h.top - h.bottom;
        // The start lies at an arc's centre, pushed away from its chord; a line
        // has no centre, so a pocket starting with one gets no explicit start.
        k.startGiven = p.startExplicit = 0;
        k.startRadius = 0;
        if (!e.empty() && e[0].type == kElemArc) {
            const ContourElement& a = e[0];
            const double mx = (a.g[kAsx] + a.g[kAex]) / 2, my = (a.g[kAsy] + a.g[kAey]) / 2;
            k.startX = p.startX = 1.1 * a.g[kAcx] - 0.1 * mx;
            k.startY = p.startY = 1.1 * a.g[kAcy] - 0.1 * my;
            k.startGiven = p.startExplicit = 1;
            k.startRadius = a.g[kAr];
        }
        const ContourElement none{};
        restSetParams(e.empty() ? &none : &e[0]);
        if (!ccpMachinePlanes(k.wantedOrientation)) return 0;
        g = next;
    }
    return 1;
}

void ccpNoteFailure() {
    gFailed = 1;
}

int ccpRunFailed() {
    return gFailed;
}

int ccpRunCancelled() {
    return gCancelled;
}

void pocketRunResetState() {
    gFailed = 0;
    gCancelled = 0;
}
static const RunReset gRunReset(kRunResetCycles, "pocketRun", pocketRunResetState);
