#include "kernel/ncout/ncout.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numbers>
#include <string>

#include "collision/collunit.h"
#include "geometry/frames.h"
#include "kernel/base/runreset.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/curveout.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/base/msg.h"
#include "kernel/base/numtext.h"
#include "kernel/ncout/pointarray.h"
#include "kernel/ncout/sbsout.h"

namespace {

constexpr double kTol = 1e-5;
constexpr double kMaxThreshold = 0.99999;  // keeps the plunge cone from closing
constexpr double kFarXY = 9876543.0;       // nothing was written yet
constexpr double kFarZ = -9876543.0;
constexpr int32_t kBufferPoints = 1000;

const char* const kFeedAlias[kFeedAliasCount] = {
    "FZ",
    "FX",
    "reducedFeedrate",
    "approachFeedrate",
    "retractFeedrate",
    "infeedFeedrate",
    "fullSectionFeedrate",
    "clearanceFeedrate",
    "leadingEdgeFeedrate",
    "trailingEdgeFeedrate",
    "finalPathFeedrate",
    "springPathFeedrate",
    "fastRetractFeedrate",
    "hatchFeedrate",
};

struct FeedEntry {
    double value;
    int32_t alias;
};

struct NcOutState {
    CycleRecord* writer = nullptr;
    int32_t pointMode = 0;
    PointArray* buffer = nullptr;

    double baseFeed = 0, reducedFeed = 0, currentFeed = 0;
    int32_t aliasIndex = 0;
    int32_t feedClass = 0;
    int32_t newFeed = 0, changePending = 0;
    int32_t approachActive = 0, infeedActive = 0, infeedRequest = 0;
    double approachFeed = 0, retractFeed = 0, infeedFeed = 0;
    int32_t feedMode = 0;
    FeedEntry stack[kNcFeedStackSize] = {};
    int32_t top = -1;
    double threshold = kMaxThreshold;
    int32_t noPlungeCheck = 0;

    int32_t prevMode = -1;
    int32_t counter = 0;
    Vec3 last = {kFarXY, kFarXY, kFarZ};       // last written point
    Vec3 lastAxis = {kFarXY, kFarXY, kFarZ};   // last written tool axis
    Vec3 lastInput = {kFarXY, kFarXY, kFarZ};  // five-axis: the last point handed in, before the tip shift
    Vec3 toolAxis = {0, 0, 1};
    int32_t toolTip = 0;
    double tipLength = 0;
    double toolRefOffset = 0;
    Vec3 startPoint = {0, 0, 0};

    int32_t linkClosed = 0, clearanceOpen = 0, hold = 0;
    int32_t held = 0;
    Vec3 heldPoint = {0, 0, 0}, heldAxis = {0, 0, 1};

    int32_t sbsActive = 0, sbsOpen = 0;
    int32_t fiveAxis = 0;
    const char* spindleSense = "none";

    double unitFactor = 1.0;
    double clearanceOffset = 0.0;
};

NcOutState g;

std::string fixedText(double value) {
    char buf[kFormatFixedMax];
    formatFixed(buf, value);
    return buf;
}

int setVar(const char* name, const std::string& value) {
    return ncSetVariable(g.writer, name, value.c_str());
}

int emitNcMode(const char* value) {
    return ncEmitText(g.writer, 0, 111, "NCmode", value);
}

// A three-axis move record: the five-axis layout with the coordinate flags only.
void putMove3(NcRecord* rec, int32_t type, const int32_t flags[3], const Vec3* p) {
    ncRecClear(rec);
    ncRecPutI32(rec, KVNC_TYPE, type);
    ncRecPutI32(rec, KVNC_MOVE5_FLAG_X, flags[0]);
    ncRecPutI32(rec, KVNC_MOVE5_FLAG_Y, flags[1]);
    ncRecPutI32(rec, KVNC_MOVE5_FLAG_Z, flags[2]);
    ncRecPutF64(rec, KVNC_MOVE5_X, p->x);
    ncRecPutF64(rec, KVNC_MOVE5_Y, p->y);
    ncRecPutF64(rec, KVNC_MOVE5_Z, p->z);
}

void dropBuffer() {
    pointArrayFree(g.buffer);
    g.buffer = nullptr;
}

// Ends a literal stretch: three or more points as a curve, fewer as plain
// feed moves on the output channel.
void writeBuffer() {
    if (!g.buffer || g.buffer->count == 0) return;
    if (g.buffer->count > 2) {
        if (g.pointMode == 2)
            writePolyOutput(g.buffer, g.baseFeed);
        else
            writeCurveOutput(g.buffer, g.baseFeed);
        return;
    }
    static const int32_t kAll[3] = {1, 1, 1};
    for (int32_t i = 0; i < g.buffer->count; ++i) {
        const double* d = g.buffer->data + 3 * i;
        Vec3 p = {d[0], d[1], d[2]};
        NcRecord rec;
        putMove3(&rec, 3114, kAll, &p);
        ncEmit(g.writer, 32, &rec);
    }
}

void renewBuffer() {
    dropBuffer();
    g.buffer = pointArrayCreate(kBufferPoints);
    if (!g.buffer) ncReportError(kNcErrBufferCreate, nullptr);
}

int writeFz() {
    ncSetVariable(g.writer, "aliasUse", "FZ");
    return ncSetVariable(g.writer, "tr", "FZ");
}

void returnToBaseFeed() {
    g.currentFeed = g.baseFeed;
    g.aliasIndex = kFeedAliasFX;
}

// Steps shared by both classifications once the class is known: special
// feeds keep the cutting class, otherwise a changed class switches the alias.
void applyClass(int32_t cls) {
    if (g.approachActive || g.infeedActive) {
        if (g.infeedActive && !g.approachActive && cls != 0) {
            returnToBaseFeed();
            ncWriteFeedChange(0);
        }
        g.feedClass = 0;
        return;
    }
    if (cls != g.feedClass) {
        if (cls == 2) {
            if (g.sbsOpen) ncSbsToggle(0);
            writeFz();
            g.changePending = 0;
        } else if (cls == 1) {
            g.currentFeed = g.reducedFeed;
            g.aliasIndex = kFeedAliasReduced;
            ncWriteFeedChange(0);
        } else {
            returnToBaseFeed();
            ncWriteFeedChange(0);
        }
        g.feedClass = cls;
    } else if (g.changePending) {
        if (cls == 2) {
            writeFz();
            g.changePending = 0;
        } else {
            ncWriteFeedChange(0);
        }
    }
}

// Handles a held point and holding; true when the move is held.
bool holdStep(const Vec3* point, int32_t mode, bool fiveAxis) {
    if (g.held) {
        g.held = 0;
        Vec3 axis = g.toolAxis;
        g.toolAxis = g.heldAxis;
        if (fiveAxis)
            ncWriteMove5x(&g.heldPoint, 0);
        else
            ncWriteMove3x(&g.heldPoint, 0);
        g.toolAxis = axis;
        g.prevMode = 0;
    }
    if (mode == 0 && g.hold) {
        g.heldPoint = *point;
        g.heldAxis = g.toolAxis;
        g.held = 1;
        return true;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Set-up and state

void ncRestartOutput() {
    dropBuffer();
    sbsResetState();
    NcOutState fresh;
    // What the run's set-up chose outlives the reset: the writer, the modes, the plunge angle, the
    // special feeds, the unit settings, and the tool tip with the tool reference, which the input step
    // and idx5SetScale set before the output starts. Only the output's progress starts afresh.
    fresh.writer = g.writer;
    fresh.pointMode = g.pointMode;
    fresh.feedMode = g.feedMode;
    fresh.threshold = g.threshold;
    fresh.noPlungeCheck = g.noPlungeCheck;
    fresh.approachFeed = g.approachFeed;
    fresh.retractFeed = g.retractFeed;
    fresh.infeedFeed = g.infeedFeed;
    fresh.toolTip = g.toolTip;
    fresh.tipLength = g.tipLength;
    fresh.toolRefOffset = g.toolRefOffset;
    fresh.startPoint = g.startPoint;
    fresh.unitFactor = g.unitFactor;
    fresh.clearanceOffset = g.clearanceOffset;
    g = fresh;
}

void ncSetWriter(CycleRecord* cycle) {
    g.writer = cycle;
}

CycleRecord* ncGetWriter() {
    return g.writer;
}

void ncSetPointMode(int32_t mode) {
    g.pointMode = mode;
}

void ncSetNoPlungeCheck(int32_t flag) {
    g.noPlungeCheck = flag;
}

void ncSetFeedMode(int32_t mode) {
    g.feedMode = mode;
}

void ncSetSpecialFeeds(double approach, double retract, double infeed) {
    g.approachFeed = approach;
    g.retractFeed = retract;
    g.infeedFeed = infeed;
}

void ncSetPlungeAngle(double degrees) {
    double t = std::cos(degrees * std::numbers::pi / 180.0);
    g.threshold = t <= kMaxThreshold ? t : kMaxThreshold;  // NaN too
}

double ncPlungeThreshold() {
    return g.threshold;
}

void idx5SetScale(int32_t toolTipFlag, double length, const Vec3* startPoint) {
    g.toolTip = toolTipFlag == 1;
    g.tipLength = length / g.unitFactor;
    if (std::fabs(g.toolRefOffset) >= kTol) g.tipLength -= g.toolRefOffset;
    if (startPoint) g.startPoint = *startPoint;
}

void ncSetToolReferenceOffset(double offset) {
    g.toolRefOffset = offset;
}

void ncSetToolAxis(const Vec3* axis) {
    if (axis) g.toolAxis = *axis;
}

void ncSetOutputFactor(double) {}

void ncForceInfeedFeed(int32_t flag) {
    g.infeedRequest = flag != 0;
}

int32_t ncIsInfeedFeedForced() {
    return g.infeedRequest;
}

int ncSetSurfaceNormal(const Vec3* normal) {
    if (!g.writer || !normal) return 0;
    return coreSetSurfaceNormal(g.writer, -normal->x, -normal->y, -normal->z);
}

int ncSetUnitFactor(double factor) {
    // The collision layer reads tool contours and writes its report in the same unit.
    if (collSetUnitFactor(factor) < 0) return -1;
    g.unitFactor = factor;
    return 1;
}

double ncUnitFactor() {
    return g.unitFactor;
}

void ncSetClearancePlaneOffset(double offset) {
    g.clearanceOffset = offset;
}

double ncClearancePlaneOffset() {
    return g.clearanceOffset;
}

// ---------------------------------------------------------------------------
// Records and sections

int ncReportError(int32_t code, const char* text) {
    if (!g.writer) return 0;
    std::string message = std::to_string(code);
    if (text) message += std::string(",") + text;
    if (message.size() > 128) message.resize(127);
    return ncError(g.writer, message.c_str());
}

namespace {

NcFaultHearFn gFaultHearer = nullptr;

void sendMessage(int32_t number, const char* value) {
    ncReportError(number, value);
}

void sendFault(int32_t number, const char* value) {
    CycleRecord* writer = g.writer;
    if (!writer) return;
    bool delivered = true;
    try {
        ncErrorNumber(writer, number, value);
    } catch (...) {
        // The report itself met the fault (a handler or a listener short of memory): the count stays.
        delivered = false;
    }
    char text[KVNC_TEXT_SIZE];
    snprintf(text, sizeof text, "%ld,%s", static_cast<long>(number), value);
    if (gFaultHearer) gFaultHearer(writer, text, delivered);
}

// Messages can reach no record without a writer, and a writer is set only through this file: where it
// is linked, the messages' sink is in place before anything runs.
[[maybe_unused]] const bool gMessageSinkSet = (msgSetSink(sendMessage, sendFault), true);

}  // namespace

void ncSetFaultHearer(NcFaultHearFn hearer) {
    gFaultHearer = hearer;
}

int ncWriteComment(const char* text) {
    if (g.writer) ncCommentText(g.writer, text);
    return 0;
}

int ncSectionBegin(int32_t code, double, double) {
    if (!g.writer) return 0;
    switch (code) {
        case 1:
            return ncBlockBeginName(g.writer, "3dPath", "poly", nullptr);
        case 64:
            return g.linkClosed ? 0 : ncBlockBeginName(g.writer, "link", nullptr, nullptr);
        case 128:
            g.hold = 1;
            return 1;
        case 256:
            if (g.clearanceOpen) return 0;
            g.clearanceOpen = 1;
            return ncBlockBeginName(g.writer, "clearance", nullptr, nullptr);
        default:
            return 0;
    }
}

int ncSectionEnd(int32_t code, double, double) {
    if (!g.writer) return 0;
    switch (code) {
        case 1:
            return ncBlockEndName(g.writer, "3dPath", "poly", nullptr);
        case 64:
            if (g.linkClosed) return 0;
            g.linkClosed = 1;
            return ncBlockEndName(g.writer, "link", nullptr, nullptr);
        case 128:
            g.hold = 0;
            return 1;
        case 256:
            if (!g.clearanceOpen) return 0;
            g.clearanceOpen = 0;
            return ncBlockEndName(g.writer, "clearance", nullptr, nullptr);
        default:
            return 0;
    }
}

int ncPlungeBegin() {
    return g.writer ? ncBlockBeginName(g.writer, "plunge", nullptr, nullptr) : 0;
}

int ncPlungeEnd() {
    return g.writer ? ncBlockEndName(g.writer, "plunge", nullptr, nullptr) : 0;
}

int ncWritePolyline(const Vec3* points, int32_t count, const char* name, const char* comment,
                    const char* uText) {
    if (count == 0) return 0;
    if (!points || count < 0) return -1;
    if (!g.writer) return 0;
    ncPathBegin41(g.writer, name, comment, uText);
    for (int32_t i = 0; i < count; ++i) {
        Vec3 p = points[i];
        pointFrameAToFrameB(&p);
        if (i == 0) ncPoint3103(g.writer, p.x, p.y, p.z);
        ncPoint3113(g.writer, p.x, p.y, p.z);
    }
    ncPathEnd41(g.writer);
    return 1;
}

int ncWritePoint(const Vec3* point) {
    if (!g.writer || !point) return 0;
    Vec3 p = *point;
    pointFrameAToFrameB(&p);
    return ncRecord7001(g.writer, p.x, p.y, p.z);
}

const char* ncCycleFunctionName() {
    static const struct {
        const char* shortName;
        const char* function;
    } kNames[] = {
        {"kvProf", "profileFinishing"},  {"kvScal", "profileFinishing"}, {"kvRupp", "zlevelRoughing"},
        {"kvCast", "zlevelRoughing"},    {"kvZres", "zlevelRoughing"},   {"kvZfin", "zlevelFinishing"},
        {"kvRmat", "autoRestMachining"}, {"kvPecl", "pencilMilling"},    {"kvCurve", "curveMilling"},
    };
    const char* shortName = g.writer ? g.writer->shortName : nullptr;
    if (shortName)
        for (const auto& n : kNames)
            if (strcmp(shortName, n.shortName) == 0) return n.function;
    return "kvCycle";
}

// ---------------------------------------------------------------------------
// Header and feeds

int ncWriteCycleHeader(const ToolNcConfig* c) {
    if (!g.writer || !c) return -1;
    g.baseFeed = c->feedX;
    g.reducedFeed = std::fabs(c->reducedFeed) < kTol ? c->feedX : c->reducedFeed;
    g.currentFeed = c->feedX;
    g.feedClass = 0;
    ncFeedStackReset();
    g.spindleSense = c->spindleSense == 0 ? "none" : c->spindleSense == 2 ? "counterClockwise" : "clockwise";

    setVar("cycleFct", ncCycleFunctionName());
    char arg[512];
    struct Plane {
        const char* format;
        const char* name;
        double value;
    } planes[] = {
        {"F:clearancePlane:=%.4lf", "CPLANE", c->retractPlane / g.unitFactor + g.clearanceOffset},
        {"F:retractPlane:=%.4lf", "RPLANE", c->retractPlane / g.unitFactor},
        {"F:clearanceDistance:=%.4lf", "CDIST", c->clearanceDistance / g.unitFactor},
    };
    for (const auto& p : planes) {
        snprintf(arg, sizeof arg, p.format, p.value);
        setVar("arg", arg);
        setVar(p.name, fixedText(p.value));
    }
    snprintf(arg, sizeof arg, "%ld", static_cast<long>(c->toolNumber));
    setVar("T", arg);

    ncAliasDef(g.writer, "FX", "FX", fixedText(c->feedX).c_str(), "1");
    ncAliasDef(g.writer, "FZ", "FZ", fixedText(c->feedZ).c_str(), "1");
    const struct {
        const char* name;
        double value;
    } feeds[] = {
        {"reducedFeedrate", c->reducedFeed},         {"fullSectionFeedrate", c->fullSectionFeed},
        {"approachFeedrate", c->approachFeed},       {"retractFeedrate", c->retractFeed},
        {"infeedFeedrate", c->infeedFeed},           {"clearanceFeedrate", c->clearanceFeed},
        {"leadingEdgeFeedrate", c->leadingEdgeFeed}, {"trailingEdgeFeedrate", c->trailingEdgeFeed},
        {"finalPathFeedrate", c->finalPathFeed},     {"springPathFeedrate", c->springPathFeed},
        {"fastretractFeedrate", c->fastRetractFeed},  // the host expects this spelling here
    };
    for (const auto& f : feeds)
        if (std::fabs(f.value) >= kTol) ncAliasDef(g.writer, f.name, "FX", fixedText(f.value).c_str(), "1");
    ncAliasDef(g.writer, "S", "S", fixedText(c->spindleSpeed).c_str(), "1");
    const struct {
        const char* name;
        double value;
    } speeds[] = {
        {"finalPathSpindleSpeed", c->finalPathSpindleSpeed},
        {"springPathSpindleSpeed", c->springPathSpindleSpeed},
        {"fullSectionSpindleSpeed", c->fullSectionSpindleSpeed},
    };
    for (const auto& s : speeds)
        if (std::fabs(s.value) >= kTol) ncAliasDef(g.writer, s.name, "S", fixedText(s.value).c_str(), "1");

    setVar("aliasUse", "S");
    setVar("S", fixedText(c->spindleSpeed));
    setVar("SR", g.spindleSense);
    setVar("tr", "S");
    setVar("tr", "SR");
    setVar("FX", fixedText(c->feedX));
    setVar("FZ", fixedText(c->feedZ));
    setVar("aliasUse", "FX");
    setVar("tr", "FX");
    g.aliasIndex = kFeedAliasFX;
    return 1;
}

void ncFeedStackReset() {
    g.top = -1;
}

int ncFeedStackPush(double value, int32_t aliasIndex) {
    if (g.top + 1 >= kNcFeedStackSize) return -1;
    g.stack[++g.top] = {value, aliasIndex};
    return 1;
}

int ncFeedStackPop(double* value, int32_t* aliasIndex) {
    if (g.top < 0) return -1;
    if (value) *value = g.stack[g.top].value;
    if (aliasIndex) *aliasIndex = g.stack[g.top].alias;
    --g.top;
    return 1;
}

namespace {

void takeFeed(double value, int32_t aliasIndex) {
    if (std::fabs(value - g.currentFeed) < kTol) return;
    g.currentFeed = value;
    g.aliasIndex = aliasIndex;
    g.newFeed = 1;
}

// On: switch to the special feed at once; off: back to cutting at FX with the
// change left pending for the next move.
void specialFeed(int32_t on, double value, int32_t alias, bool infeed) {
    if (on == 1) {
        if (std::fabs(value) < kTol || std::fabs(value - g.currentFeed) < kTol) return;
        g.currentFeed = value;
        g.aliasIndex = alias;
        (infeed ? g.infeedActive : g.approachActive) = 1;
        ncWriteFeedChange(0);
        return;
    }
    if (std::fabs(value) < kTol) return;
    g.feedClass = 0;
    g.approachActive = 0;
    if (infeed) g.infeedActive = 0;
    g.changePending = 1;
    g.aliasIndex = kFeedAliasFX;
    if (std::fabs(g.currentFeed - g.baseFeed) >= kTol) g.currentFeed = g.baseFeed;
}

}  // namespace

int ncSetFeed(double value, int32_t aliasIndex) {
    if (aliasIndex < 0 || aliasIndex >= kFeedAliasCount) return -1;
    if (g.feedMode == 1 && ncFeedStackPush(value, aliasIndex) < 0) return -1;
    // The cycle's mode: keep the feed that was active, so that ncSetFeedFromKernel returns to it.
    if (g.feedMode == 2 && ncFeedStackPush(g.currentFeed, g.aliasIndex) < 0) return -1;
    takeFeed(value, aliasIndex);
    return 1;
}

int ncSetFeedFromKernel() {
    double value;
    int32_t alias;
    if (ncFeedStackPop(&value, &alias) < 0) return -1;
    takeFeed(value, alias);
    return 1;
}

int ncWriteFeedChange(int32_t forced) {
    if (!forced && g.feedMode == 2) return 0;
    // Without a base feed no ratio can be given; the alias alone says it all.
    double ratio = std::fabs(g.baseFeed) >= kTol ? g.currentFeed / g.baseFeed : 0.0;
    if (g.sbsOpen) ncSbsToggle(0);
    if (std::fabs(g.currentFeed) >= kTol && g.aliasIndex >= 0 && g.aliasIndex < kFeedAliasCount)
        ncSetVariable(g.writer, "aliasUse", kFeedAlias[g.aliasIndex]);
    if (ratio >= kTol) {
        std::string tr = std::fabs(ratio - 1.0) < kTol ? "FX" : "FX*" + fixedText(ratio);
        setVar("tr", tr);
    }
    g.changePending = 0;
    return 1;
}

void ncApproachFeed(int32_t on) {
    specialFeed(on, g.approachFeed, kFeedAliasApproach, false);
}

void ncRetractFeed(int32_t on) {
    specialFeed(on, g.retractFeed, kFeedAliasRetract, false);
}

void ncInfeedFeed(int32_t on) {
    specialFeed(on, g.infeedFeed, kFeedAliasInfeed, true);
}

double ncCurrentFeed() {
    return g.currentFeed;
}

int32_t ncCurrentAliasIndex() {
    return g.aliasIndex;
}

int32_t ncFeedClass() {
    return g.feedClass;
}

// ---------------------------------------------------------------------------
// Moves and lists

int ncListBegin() {
    if (g.pointMode <= 0) return 1;
    writeBuffer();  // a stretch left open by a missing list end is not lost
    renewBuffer();
    return g.buffer ? 1 : -1;
}

int ncListEnd() {
    if (!g.writer || g.pointMode < 1) return 0;
    emitNcMode("literal");
    writeBuffer();
    dropBuffer();
    emitNcMode("standard");
    return 1;
}

int ncClassifyMove(const Vec3* point, int32_t mode) {
    if (!g.writer || !point) return kNcMoveFailed;
    if (holdStep(point, mode, false)) return 0;
    if (mode == 1 && g.feedMode == 0 && g.prevMode != -1) {
        // The last written height carries the tool-reference shift; so must the new one.
        double z = point->z + (std::fabs(g.toolRefOffset) >= kTol ? g.toolRefOffset : 0.0);
        Vec3 d = {point->x - g.last.x, point->y - g.last.y, z - g.last.z};
        double length = vecLen3D(&d), h = std::hypot(d.x, d.y);
        if (length < kTol) return 0;
        int32_t cls = 0;
        if (d.z / length < -g.threshold) cls = !g.noPlungeCheck && h < kTol ? 2 : 1;
        if (cls == 1 && std::fabs(g.reducedFeed - g.baseFeed) < kTol) cls = 0;
        if (g.infeedRequest) cls = 1;
        applyClass(cls);
    }
    if (ncWriteMove3x(point, mode) < 0) return kNcMoveFailed;
    g.prevMode = mode;
    return 0;
}

int ncPointOut(const Vec3* point, int32_t mode) {
    if (!g.writer || !point) return kNcMoveFailed;
    if (!g.fiveAxis) {
        ncTr5X(g.writer);
        g.fiveAxis = 1;
    }
    if (holdStep(point, mode, true)) return 0;
    if (mode == 1 && g.feedMode == 0 && g.prevMode != -1) {
        Vec3 d = {point->x - g.lastInput.x, point->y - g.lastInput.y, point->z - g.lastInput.z};
        double length = vecLen3D(&d), h = std::hypot(d.x, d.y);
        // A turn of the tool axis on the spot is a move of its own: it keeps the class.
        int32_t cls = g.feedClass;
        if (g.noPlungeCheck)
            cls = 0;
        else if (length >= kTol) {
            cls = 0;
            if (d.z / length < -g.threshold) cls = h < kTol ? 2 : 1;
            if (cls == 1 && std::fabs(g.reducedFeed - g.baseFeed) < kTol) cls = 0;
        }
        if (g.infeedRequest && cls == 0) cls = 1;
        applyClass(cls);
    }
    if (ncWriteMove5x(point, mode) < 0) return kNcMoveFailed;
    g.prevMode = mode;
    return 0;
}

int ncWriteMove3x(const Vec3* point, int32_t mode) {
    if (!g.writer || !point) return -1;
    Vec3 p = *point;
    if (std::fabs(g.toolRefOffset) >= kTol) p.z += g.toolRefOffset;
    if (g.newFeed) {
        ncWriteFeedChange(1);
        g.newFeed = 0;
    }
    int32_t type = mode == 1 ? 3114 : 3107;
    if (g.prevMode == -1 && framesZAxisDiffersAB()) g.counter = 0;
    int32_t flags[3] = {0, 0, 0};
    bool zMoved = std::fabs(p.z - g.last.z) >= 1e-7;
    if (g.counter == 0) {
        flags[2] = 1;
    } else if (g.counter == 1) {
        // The z of the second move goes out too when it changed, or it would be lost.
        flags[0] = flags[1] = 1;
        flags[2] = zMoved;
    } else {
        flags[0] = std::fabs(p.x - g.last.x) >= kTol;
        flags[1] = std::fabs(p.y - g.last.y) >= kTol;
        flags[2] = zMoved;
    }
    if (flags[0]) g.last.x = p.x;
    if (flags[1]) g.last.y = p.y;
    if (flags[2]) g.last.z = p.z;
    NcRecord rec;
    putMove3(&rec, type, flags, &p);
    ncEmit(g.writer, 31, &rec);

    bool endsStretch = mode == 0 || g.counter < 2;
    if (g.pointMode >= 1 && g.buffer) {
        if (endsStretch) {
            if (g.buffer->count > 0) {
                writeBuffer();
                renewBuffer();
            }
        } else {
            const double xyz[3] = {p.x, p.y, p.z};
            if (pointArrayAppend(g.buffer, xyz) < 0) {
                ncReportError(kNcErrBufferAppend, nullptr);
                dropBuffer();
            }
        }
    }
    // A point that went into no buffer goes out as a plain move.
    bool buffered = g.pointMode >= 1 && g.buffer && !endsStretch;
    if (!buffered) {
        ncRecPutI32(&rec, KVNC_TYPE, type == 3114 ? 4007 : 4016);
        ncEmit(g.writer, 32, &rec);
    }
    if (g.counter < 2) ++g.counter;
    return 0;
}

int ncWriteMove5x(const Vec3* point, int32_t mode) {
    if (!g.writer || !point) return -1;
    if (mode == 1 && g.newFeed) {
        ncWriteFeedChange(1);
        g.newFeed = 0;
    }
    if (g.prevMode == -1 && framesZAxisDiffersAB()) g.counter = 0;
    Vec3 p = *point;
    const Vec3& a = g.toolAxis;
    if (g.counter == 0) {
        ncMove3102(g.writer, p.z);
        // Every coordinate and component differs from these, so the move goes out in full.
        g.last = {p.x - 0.1, p.y - 0.1, p.z - 0.1};
        g.lastAxis = {0.01, 0.01, 0.01};
        ncMove3107(g.writer, &g.last.x, &g.last.y, &g.last.z, p.x, p.y, p.z, &g.lastAxis.x, &g.lastAxis.y,
                   &g.lastAxis.z, a.x, a.y, a.z);
    }
    g.lastInput = p;
    if (g.toolTip) {
        p.x -= a.x * g.tipLength;
        p.y -= a.y * g.tipLength;
        p.z -= a.z * g.tipLength;
    }
    if (g.counter >= 1) {
        if (mode == 1) {
            if (g.sbsActive) ncSbsToggle(1);
            ncMove3114(g.writer, &g.last.x, &g.last.y, &g.last.z, p.x, p.y, p.z, &g.lastAxis.x, &g.lastAxis.y,
                       &g.lastAxis.z, a.x, a.y, a.z);
            if (g.sbsOpen) sbsBufferAdd(&p, &a);
        } else {
            ncSbsToggle(0);
            ncMove3107(g.writer, &g.last.x, &g.last.y, &g.last.z, p.x, p.y, p.z, &g.lastAxis.x, &g.lastAxis.y,
                       &g.lastAxis.z, a.x, a.y, a.z);
        }
    }
    if (g.counter < 2) ++g.counter;
    return 0;
}

int ncFinishCycle() {
    if (!g.writer) return 0;
    if (g.held) {
        g.held = 0;
        g.hold = 0;
        Vec3 axis = g.toolAxis;
        g.toolAxis = g.heldAxis;
        ncBlockBeginName(g.writer, "link", nullptr, nullptr);
        // The three-axis writer would drop the held tool axis of a five-axis run.
        if (g.fiveAxis)
            ncPointOut(&g.heldPoint, 0);
        else
            ncClassifyMove(&g.heldPoint, 0);
        ncBlockEndName(g.writer, "link", nullptr, nullptr);
        g.toolAxis = axis;
    }
    if (char* job = kvListGet(g.writer->vars, "ppJobID", nullptr)) {
        char* end = nullptr;
        errno = 0;
        long id = strtol(job, &end, 10);
        bool whole = end != job && *end == '\0' && errno == 0;
        free(job);
        if (whole && id > 0 && id <= static_cast<long>(UINT32_MAX))
            ncBlockEndId(g.writer, static_cast<uint32_t>(id), nullptr, nullptr);
    }
    ncBlockRecord5004(g.writer);
    if (g.fiveAxis) {
        ncTr5X0(g.writer);
        g.fiveAxis = 0;
    }
    return 1;
}

// ---------------------------------------------------------------------------
// SBS statements

int ncSetSbsActive(int32_t on) {
    if (!g.writer) return 0;
    if (on == 1) {
        g.sbsActive = 1;
        return ncSetVariable(g.writer, "proc", "SBS_activate");
    }
    if (g.sbsOpen) ncSbsToggle(0);
    g.sbsActive = 0;
    return ncSetVariable(g.writer, "proc", "SBS_deactivate");
}

int ncSbsToggle(int32_t op) {
    if (!g.sbsActive || !g.writer) return 0;
    if (op == 1) {
        if (g.sbsOpen) return 0;
        g.sbsOpen = 1;
        ncSetVariable(g.writer, "proc", "SBS_start");
        sbsBufferCreate();
        return 1;
    }
    if (!g.sbsOpen) return 0;
    // Closed before the statements go out, so that nothing written meanwhile reopens it.
    g.sbsOpen = 0;
    sbsBufferFlushFree();
    ncSetVariable(g.writer, "proc", "SBS_end");
    if (op != 0) {
        g.sbsOpen = 1;
        ncSetVariable(g.writer, "proc", "SBS_start");
        sbsBufferCreate();
    }
    return 1;
}

int ncWriteSbsPoint(const Vec3* point, const Vec3* axisPoint, double parameter) {
    if (!g.writer || !point || !axisPoint) return 0;
    std::string value = "SBS_point";
    const struct {
        const char* key;
        double v;
    } parts[] = {
        {",f:v_pl=", parameter},    {",f:v_x=", point->x},      {",f:v_y=", point->y},
        {",f:v_z=", point->z},      {",f:v_xh=", axisPoint->x}, {",f:v_yh=", axisPoint->y},
        {",f:v_zh=", axisPoint->z},
    };
    for (const auto& part : parts) value += part.key + fixedText(part.v);
    return setVar("proc", value);
}

int32_t ncSbsBlockOpen() {
    return g.sbsOpen;
}

void ncOutResetState() {
    dropBuffer();
    sbsResetState();
    g = NcOutState{};
    collSetUnitFactor(g.unitFactor);
}

namespace {
// The writer is the host entry's choice, made before the run starts.
void ncOutRunReset() {
    CycleRecord* writer = g.writer;
    ncOutResetState();
    g.writer = writer;
}
const RunReset gRunReset(kRunResetNcOut, "ncOut", ncOutRunReset);
}  // namespace
