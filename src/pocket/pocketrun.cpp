// The slot methods of the pocket cycle record: prepare, input (and its
// configuration variant), set-up, finish and end. The run slot and the plane
// drivers are in pocketrun_modes.cpp.
#include "pocket/pocketrun.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "geometry/frames.h"
#include "kernel/base/constants.h"
#include "kernel/base/msg.h"
#include "kernel/base/numtext.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycle.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/ncout/pof.h"
#include "pocket/ccp.h"
#include "pocket/clist.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/elemprim.h"
#include "pocket/gcodefile.h"
#include "pocket/inputcheck.h"
#include "pocket/islands.h"
#include "pocket/nesting.h"
#include "pocket/planecheck.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketkeys.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketpcf.h"
#include "pocket/pocketscale.h"
#include "pocket/pocketstate.h"
#include "pocket/rifblock.h"
#include "pocket/trochoid.h"

namespace {

constexpr double kDegree = kDegToRad;

double gToolReference = 0;
std::string gToolLine;

int fail(CycleRecord* record) {
    setCycleStatus(record, -1);
    return 0;
}

std::string format(const char* fmt, double a, double b) {
    char text[128];
    snprintf(text, sizeof text, fmt, a, b);
    return text;
}

// The tool line that resets the kernel: radius, step factor and the start point when given.
void buildToolLine(bool withStart) {
    const CcpParams& p = kvCCPParams;
    gToolLine.clear();
    if (p.toolDiameter > 0)
        gToolLine = format("TI0.0 R%.4lf ZM%4lf", p.toolDiameter / 2, p.infeedLength / p.toolDiameter);
    if (withStart) gToolLine += format(" XA%.4lf YA%.4lf", p.startX, p.startY);
}

void lowerLimits() {
    PocketKernel& k = pocketKernel();
    const double quarter = kvCCPParams.infeedLength / 4;
    if (k.infeedRadiusLimit > quarter) k.infeedRadiusLimit = quarter;
    if (k.filletRadiusLimit > quarter) k.filletRadiusLimit = quarter;
}

void setTolerances() {
    PocketKernel& k = pocketKernel();
    k.tolerance = kvCCPParams.epsilon;
    k.tolerance2 = 1e-4;
    k.fineTolerance = k.tolerance * 1e-8;
    rifBlock()->epsilon = k.tolerance;
}

// An angle not named by this run's keys is still in the degrees of the
// defaults; no plunge or resolution angle in radians exceeds a full turn, so a
// larger value can only be degrees.
void anglesToRadians(const CycleRecord* record) {
    CcpParams& p = kvCCPParams;
    RifBlock& b = *rifBlock();
    const bool plungeKey = cycleHasVariable(record, "helixPlungeAngle") || cycleHasVariable(record, "rampAngle");
    if (!plungeKey && p.helixPlungeAngle > kTwoPi) p.helixPlungeAngle *= kDegree;
    if (!cycleHasVariable(record, "helixAngleResolution") && p.helixAngleResolution > kTwoPi)
        p.helixAngleResolution *= kDegree;
    b.macroTswin = p.helixPlungeAngle;
    b.macroIwin = p.helixAngleResolution;
}

// An INPUT contour's orientation as the set-up wants it; the wanted orientation may be decided here.
void orientInput(ContourElement* e, int32_t n, ContourHeader* h, bool first, int32_t* wanted) {
    const CcpParams& p = kvCCPParams;
    int32_t o = contourOrientation(e, n);
    if (p.oriAutomatic == 2) {
        *wanted = p.orientation;
        return;
    }
    if (first) {
        if (p.oriAutomatic == 1 && o != p.orientation) {
            contourReverse(e, n);
            o = -o;
        }
        *wanted = o >= 0 ? 1 : -1;
        h->ccw = h->leftSide = *wanted > 0 ? 1 : 0;
        return;
    }
    const bool furtherOuter =
        p.oriAutomatic == 0 && ((o == 1 && h->leftSide == 1) || (o == -1 && h->leftSide == 0));
    if (furtherOuter) {
        if (o != *wanted) contourReverse(e, n);
        h->ccw = h->leftSide = *wanted > 0 ? 1 : 0;
        return;
    }
    if (o == *wanted) contourReverse(e, n);
    h->ccw = *wanted < 0 ? 1 : 0;
    h->leftSide = *wanted > 0 ? 1 : 0;
}

// Step 11 of the set-up: every INPUT contour kept, oriented, cleaned and checked. 1, or 0 (3011).
int prepareInput() {
    PocketKernel& k = pocketKernel();
    ContourElement* buf = clistScratch(0);
    if (!buf) return 0;
    bool first = true;
    int32_t wanted = k.wantedOrientation;
    for (int32_t i = 0; i < clistCount("INPUT");) {
        ContourHeader h{};
        if (clistGet("INPUT", buf, &h, i) < 0) return 0;
        auto n = static_cast<int32_t>(h.elementCount);
        if (n == 0) {
            clistDelete("INPUT", i);
            continue;
        }
        if (!contourIsClosed(buf, n)) {
            pocketError(kPocketErrOpenContour);
            return 0;
        }
        orientInput(buf, n, &h, first, &wanted);
        first = false;
        n = contourClean(buf, n);
        if (n <= 0) {
            clistDelete("INPUT", i);
            continue;
        }
        if (!contourValidate(buf, n)) {
            pocketError(kPocketErrOpenContour);
            return 0;
        }
        h.elementCount = static_cast<uint32_t>(n);
        if (!clistDelete("INPUT", i) || !clistInsert("INPUT", buf, &h, i)) {
            pocketError(kPocketErrStep);
            return 0;
        }
        ++i;
    }
    k.wantedOrientation = wanted;
    return 1;
}

int prepareClamps() {
    const int32_t wanted = pocketKernel().wantedOrientation;
    ContourElement* buf = clistScratch(0);
    if (!buf) return 0;
    for (int32_t i = 0; i < clistCount("CLAMPS"); ++i) {
        ContourHeader h{};
        if (clistGet("CLAMPS", buf, &h, i) < 0) return 0;
        const auto n = static_cast<int32_t>(h.elementCount);
        if (!contourIsClosed(buf, n)) {
            pocketError(kPocketErrOpenContour);
            return 0;
        }
        if (contourOrientation(buf, n) == wanted) contourReverse(buf, n);
        if (h.ccw == h.leftSide) contourReverse(buf, n);
        h.ccw = wanted != 1 ? 1 : 0;
        h.leftSide = h.ccw ? 0 : 1;
        if (!clistReplace("CLAMPS", buf, &h, i)) return 0;
    }
    return 1;
}

}  // namespace

int ccpInitFromParams(CycleRecord* record) {
    if (!record) return 0;
    // Nothing of an earlier run may be held against this one: a key the job leaves out takes its
    // default, the kernel's switches and the keyword block start empty, no list or frame is left over,
    // and decimals and message level are the defaults until this run's parameters set them.
    runResetAll();
    pocketSetRecord(record);
    record->status = kStatusOk;
    pocketErrorClear();
    gToolReference = 0;
    CcpParams& p = kvCCPParams;
    if (record->cfgMode == 1) record->vars = kvListSet(record->vars, "NCOutp", "false", kKvDerived);
    const int32_t ncOut = cycleVariable(record, "NCOutp") == "true";
    const int32_t drill = cycleVariable(record, "drillPointsOutp") == "true";
    const int32_t original = cycleVariable(record, "originalOutp") == "true";
    std::string layers = ncOut ? "3,12" : "12";
    if (drill) layers += ",30";
    if (ncOut) layers += ",32";
    if (original) layers += ",33";
    if (cycleHasVariable(record, "precision")) {
        setNumberDecimals(static_cast<int>(strtol(cycleVariable(record, "precision").c_str(), nullptr, 10)));
        coreSetDtoSPrecision(record, numberDecimals());
    }
    const std::string geoSource = cycleVariable(record, "geoSource");
    if (cycleHasVariable(record, "geoSource")) {
        record->vars = kvListSet(record->vars, "sourceGeometry", geoSource.c_str(), kKvDerived);
        if (record->pcf == 1) {
            snprintf(p.geoSource, sizeof p.geoSource, "%s", geoSource.c_str());
            if (cycleHasVariable(record, "geoOut"))
                record->vars =
                    kvListSet(record->vars, "geoSource", cycleVariable(record, "geoOut").c_str(), kKvDerived);
        }
    }
    std::string msgFile;
    const std::string language = cycleVariable(record, "SystemLanguage");
    if (!language.empty() && cycleHasVariable(record, language.c_str()))
        msgFile = cycleVariable(record, language.c_str());
    if (msgFile.empty())
        msgFile = cycleHasVariable(record, "MessageFile") ? cycleVariable(record, "MessageFile")
                                                     : (p.messageFile ? p.messageFile : "");

    cyc3dRegisterChannels(record, ncOut, drill, original, 0);
    record->toolContourFlag = record->cfgMode == 1 ? 1 : 0;  // never left on by an earlier run

    ncEmitText(record, 0, 103, "cycle", record->title);
    if (!msgFile.empty()) ncEmitText(record, 0, 109, "msgFile", msgFile.c_str());
    ncEmitText(record, 0, 110, "layers", layers.c_str());
    ncWriteComments(record);
    ncWriteToolAxisFromFrame(record, 0, 0, 1);
    const long jobId = strtol(cycleVariable(record, "ppJobID").c_str(), nullptr, 10);
    if (jobId >= 1 && jobId <= INT32_MAX)
        ncBlockBeginId(record, static_cast<uint32_t>(jobId), nullptr, nullptr);
    return 1;
}

int ccpReadParameters(CycleRecord* record) {
    if (!record) return 0;
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    RifBlock& b = *rifBlock();
    p.startExplicit = 0;
    b.zustellOk = 0;
    // Defaults that hold unless a key of this run names them.
    p.filletRadius = b.filletRadius = k.filletRadiusLimit = 0;
    p.reduceContours = 1;
    // A refused job leaves the parameters as it found them: none of its values (a "nan" among them)
    // stays behind for a later job that leaves the key out.
    const CcpParams keptParams = p;
    const RifBlock keptBlock = b;
    const PocketKernel keptKernel = k;
    if (!pocketReadKeys(record)) {
        p = keptParams;
        b = keptBlock;
        k = keptKernel;
        return fail(record);
    }
    if (!cycleHasVariable(record, "infeedLength") && !cycleHasVariable(record, "infeedFactor"))
        p.infeedLength = p.toolDiameter / 2;
    if (p.evaluateRif) p.generateRif = b.genRif = 0;
    p.infeedLength = std::fmin(p.infeedLength, 0.99 * p.toolDiameter);
    buildToolLine(p.startExplicit != 0);
    lowerLimits();
    if (pocketStateReset(gToolLine.c_str()) < 0) return fail(record);
    setTolerances();
    if (p.toolDiameter < 1.4) p.inch = 1;
    anglesToRadians(record);
    if (p.stock != 0) p.retractEachPlane = p.retractEachPlaneRun = 1;
    const int ok = pocketReadInput(record, kPocketReadInput);
    k.stockMovement = p.stockMovement;
    if (b.zustellOk == 0 && p.startExplicit) {
        // The contour file gave the start point.
        buildToolLine(true);
        pocketStateReset(gToolLine.c_str());
        setTolerances();
    }
    return ok ? 1 : fail(record);
}

int ccpPrepareTool(CycleRecord* record) {
    if (!record) return 0;
    rifParseKeywords(record->cfgVars);
    const RifBlock& b = *rifBlock();
    const Vec3 o{b.nckoO[0], b.nckoO[1], b.nckoO[2]}, x{b.nckoX[0], b.nckoX[1], b.nckoX[2]};
    const Vec3 y{b.nckoY[0], b.nckoY[1], b.nckoY[2]}, z{b.nckoZ[0], b.nckoZ[1], b.nckoZ[2]};
    frameSetB(&o, &x, &y, &z);
    frameSetA(&o, &x, &y, &z);
    framesInit();
    rifSetupMirror();
    if (ccpWriteToolReference(record) != 0) rifBlock()->toolTip = 1;
    pocketWritePcf(record);
    return ccpReadParameters(record);
}

int ccpWriteToolReference(CycleRecord* record) {
    if (!record) return 0;
    char* name = kvListGetLast(record->cfgVars, "*TOOL_REFERENCE", nullptr);
    const std::string n = name ? name : "";
    free(name);
    if (n.empty()) return 0;
    const std::string key = "*TREF_" + n;
    char* value = kvListGetLast(record->cfgVars, key.c_str(), nullptr);
    if (!value) {
        ncError(record, ("770," + n).c_str());
        return 0;
    }
    gToolReference = strtod(value, nullptr);
    free(value);
    return ncError(record, ("771," + n).c_str());
}

double ccpToolReferenceValue() {
    return gToolReference;
}

int ccpPrepareGeometry(CycleRecord* record) {
    if (!record) return 0;
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    k.filletCorners = p.filletCorners;
    pocketStrategyFlagsReset(p.strategy);
    if (p.strategy == kCcpOutsideIn) {
        k.outsideIn = 1;
        k.openMode = 0;
    }
    if (p.strategy == kCcpOutsideInDirect || p.strategy == kCcpStockOutin || p.strategy == kCcpOpenPocket) {
        k.outsideInDirect = 1;
        k.openMode = 0;
        p.orientation = -p.orientation;
        if (p.strategy == kCcpOpenPocket) p.plungeAtLastPosition = 0;
    }
    if (p.considerToolType) {
        const double D = p.toolDiameter;
        double d = D;
        if (p.toolType == 1) {
            pocketError(kPocketErrToolTypeDiameter);
            d = 0.1;
        } else if (p.toolType == 3) {
            d = D - 2 * p.cornerRadius;
        }
        if (p.toolType != 1 && d < 0.1) {
            pocketError(kPocketErrToolTypeDiameter);
            d = 0.1;
        }
        k.effDiameterRatio = d / D;
        p.infeedLength = std::fmin(d * (p.infeedLength / D), 0.99 * D);
        buildToolLine(p.startExplicit != 0);
        lowerLimits();
        if (pocketStateReset(gToolLine.c_str()) < 0) return fail(record);
        setTolerances();
    }
    if (!cycleHasVariable(record, "retractPlane") || !(p.retractPlane < p.clearancePlane))
        p.retractPlane = p.clearancePlane;
    if ((p.inch || k.toolRadius < 1.001) && !ccpScaleGeometry(record)) return fail(record);
    if (p.stock == kCcpStockOnly) p.oriAutomatic = 1;
    // Nothing to machine, or contours that are no pocket outline, end the job before any output.
    if (clistCount("INPUT") == 0) {
        pocketError(kPocketErrEmptyInput);
        return fail(record);
    }
    if (!inputCheckContours("INPUT")) return fail(record);
    if (p.evaluateRif && !p.useReferenceDiameter && gcodeFileRead(nullptr, nullptr) == 2) {
        k.wantedOrientation = p.orientation;
        p.oriAutomatic = 0;
        return 1;
    }
    if (p.infeedDepth < p.epsilon) p.infeedDepth = 10000.0;
    k.nestingReordered = 0;
    if (p.oriAutomatic == 2) {
        // Where the nesting alone tells pockets from islands, contours that cross each other, or an
        // island outside every pocket, would be cut as pockets of their own. Stock contours may cross
        // the pocket: they mark its open sides.
        if (p.stock == 0 && !inputCheckNesting("INPUT")) return fail(record);
        // A start level of an earlier run must not start this one.
        p.firstLevel = 1;
        int32_t reordered = 0;
        int32_t levels = clistNestContours("INPUT", p.orientation, p.stock == kCcpStockMulti, &reordered);
        if (levels >= 0 && k.outsideInDirect && p.strategy == kCcpOutsideInDirect &&
            ccpDropThinOuter("INPUT"))
            levels = clistNestContours("INPUT", p.orientation, p.stock == kCcpStockMulti, &reordered);
        p.deepestLevel = levels;
        if (reordered) k.nestingReordered = 1;
        if (levels < 0) {
            if (p.stock == 0) {
                pocketError(kPocketErrNesting);
                return fail(record);
            }
            pocketError(kPocketErrNoRegion);
            return 1;
        }
    }
    if (*p.clamps && (!clistCreate("CLAMPS") || !pocketReadInput(record, kPocketReadClamps)))
        return fail(record);
    if (p.oriAutomatic == 2) k.wantedOrientation = p.orientation;
    if (!prepareInput()) return fail(record);
    if (clistCount("INPUT") == 0) {
        pocketError(kPocketErrEmptyInput);
        return fail(record);
    }
    if (*p.clamps && !prepareClamps()) return fail(record);
    if (p.oriAutomatic == 1 && inputIslandsInside("INPUT") != 1) return fail(record);
    k.openMode = p.stock;
    k.startGiven = p.startExplicit;
    k.startX = p.startX;
    k.startY = p.startY;
    p.firstMovePending = 1;
    if (p.oriAutomatic == 2 && p.startExplicit) {
        const Vec2 start{p.startX, p.startY};
        p.firstLevel = p.deepestLevel = ccpLevelNearestStart("INPUT", &start);
    }
    return 1;
}

int ccpFinishLists(CycleRecord* record) {
    if (!record) return 0;
    clistFree("INPUT");
    clistFree("SPAN");
    const CcpParams& p = kvCCPParams;
    if (p.retractPlane < p.clearancePlane) ncMove3102(record, p.clearancePlane);
    return 1;
}

int ccpCycleEnd(CycleRecord* record) {
    if (!record) return 0;
    const long jobId = strtol(cycleVariable(record, "ppJobID").c_str(), nullptr, 10);
    if (jobId >= 1 && jobId <= INT32_MAX)
        ncBlockEndId(record, static_cast<uint32_t>(jobId), nullptr, nullptr);
    ncEmitText(record, 0, 104, "cycleEnd", record->title);
    // The host reads the outcome from the status word, not from its own signal word; a cancelled run
    // stays cancelled.
    if (!ccpRunCancelled() && (pocketLastError() != 0 || ccpRunFailed())) record->status = kStatusFailed;
    return 1;
}
