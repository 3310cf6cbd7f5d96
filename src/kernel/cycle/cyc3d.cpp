#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycle.h"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "geometry/frames.h"
#include "geometry/mat4.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"
#include "kernel/base/numtext.h"
#include "kernel/base/runreset.h"
#include "kernel/cycle/cycrun.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/ncout/ncout.h"
#include "kernel/ncout/pof.h"
#include "kernel/ncout/toolcontour.h"
#include "surfaces/meshfiles/bndfile.h"
#include "surfaces/polyimport.h"

CycleRecord kvCyc3d = {
    .parent = &cycleRootRecord,
    .started = 0,
    .frameVersion = kFrameVersion,
    .cycleId = 0,
    .versionMajor = 5,
    .versionMinor = 0,
    .versionYear = 2001,
    .versionMonth = 3,
    .versionDay = 28,
    .title = "Corvane 3D Common Cycle",
    .shortName = "kvCyc3d",
    .firstRecordPending = 1,
    .frame = KV_FRAME_IDENTITY,
    .toolFrame = KV_FRAME_IDENTITY,
    .slots = {{
        cyc3dRejectArgs,      // args
        cyc3dInitFromParams,  // prepare
        nullptr,              // readParams
        nullptr,              // readCfg
        nullptr,              // version
        nullptr,              // help
        cycleInfoParameters,  // parameters
        cycleInfoAlgorithm,   // algorithm
        cycleInfoLayers,      // layers
        acceptRecord,         // modeD
        cyc3dReadParameters,  // input
        acceptRecord,         // inputCfg
        acceptRecord,         // setup
        cyc3dRun,             // run
        acceptRecord,         // finish
        cyc3dCycleEnd,        // end
    }},
};

namespace {

// The blocks behind the records, one per record that used one.
std::map<const CycleRecord*, Cyc3dParams*> gBlocks;

// The static records keep their blocks and channels from run to run (the end
// step leaves the channels in place); both go when the library is unloaded.
struct UnloadCleanup {
    ~UnloadCleanup() {
        cyc3dResetState();
        ncFreeChannels(&kvCyc3d);
    }
} gUnloadCleanup;

// The names the clean-up may remove beside the slots, in the order of their bits in tempFound.
constexpr const char* kFixedTempNames[] = {"tmp.pcf", "tmp.pof", "tmp.dxf", "tmp.kvx"};

bool fileExists(const char* name) {
    return name && *name && access(name, F_OK) == 0;
}

// ---- Word values ----

struct Word {
    const char* text;  // null ends a table; its value is that of any other text
    int32_t value;
};

constexpr Word kToolType[] = {{"ballMill", 1}, {"endMill", 2}, {nullptr, 3}};
constexpr Word kRapidMode[] = {{"plane", 0}, {nullptr, 1}};
constexpr Word kBoundaryMode[] = {{"axis", 0}, {"to", 2}, {"past", 3}, {nullptr, 1}};
constexpr Word kApproachType[] = {{"axis", 1}, {"circle", 2}, {"ramp", 8}, {nullptr, 3}};
constexpr Word kLeavingType[] = {{"axis", 1}, {"circle", 2}, {nullptr, 3}};
constexpr Word kReturnMacro[] = {{"true", 2}, {nullptr, 1}};
constexpr Word kToolReference[] = {{"tip", 1}, {nullptr, 2}};
constexpr Word kSpindleRotation[] = {{"counterClockwise", 2}, {nullptr, 1}};
constexpr Word kCoolant[] = {{"true", 1}, {nullptr, 2}};
constexpr Word kLengthOfUnit[] = {{"inch", 1}, {nullptr, 0}};
constexpr Word kNcFormat[] = {{"dsplineFormat", 1}, {"polyFormat", 2}, {nullptr, 0}};
constexpr Word kSlopeCondition[] = {
    {"zlevel", 2}, {"mixed", 1}, {"true", 1}, {"horizontal", 3}, {nullptr, 0}};
constexpr Word kTiltStrategy[] = {{"tilt", 3}, {"radial", 5}, {"lead", 1}, {"climb", 2},
                                  {"lag", 2},  {"offset", 1}, {nullptr, 0}};
constexpr Word kRemoveTempFiles[] = {{"false", 0}, {nullptr, 1}};
constexpr Word kTrue[] = {{"true", 1}, {nullptr, 0}};

int32_t wordValue(const Word* table, const char* text) {
    for (; table->text; ++table) {
        if (strcmp(table->text, text) == 0) return table->value;
    }
    return table->value;
}

// ---- The optional names ----

enum class Kind { Text, Number, Absolute, Word, Vec3, Frame, FrameFlag, Retract };

using P = Cyc3dParams;

struct Optional {
    const char* name;
    Kind kind;
    char* P::*text = nullptr;
    double P::*number = nullptr;
    int32_t P::*word = nullptr;
    const Word* words = nullptr;
    double (P::*vec)[3] = nullptr;
};

constexpr Optional text(const char* n, char* P::*f) {
    return {n, Kind::Text, f};
}
constexpr Optional num(const char* n, double P::*f) {
    return {n, Kind::Number, nullptr, f};
}
constexpr Optional absNum(const char* n, double P::*f) {
    return {n, Kind::Absolute, nullptr, f};
}
constexpr Optional word(const char* n, int32_t P::*f, const Word* w) {
    return {n, Kind::Word, nullptr, nullptr, f, w};
}
constexpr Optional vec(const char* n, double (P::*f)[3]) {
    return {n, Kind::Vec3, nullptr, nullptr, nullptr, nullptr, f};
}

// In reading order.
constexpr Optional kOptional[] = {
    text("geoSource", &P::geoSource),
    text("toolName", &P::toolName),
    word("toolType", &P::toolType, kToolType),
    absNum("cornerRadius", &P::cornerRadius),
    num("allowance", &P::allowance),
    absNum("infeedDepth", &P::infeedDepth),
    absNum("infeedLength", &P::infeedLength),
    absNum("clearanceDistance", &P::clearanceDistance),
    num("clearancePlane", &P::clearancePlane),
    num("jumpStepDistance", &P::jumpStepDistance),
    word("rapidMode", &P::rapidMode, kRapidMode),
    num("surface", &P::surface),
    num("depth", &P::depth),
    word("boundaryMode", &P::boundaryMode, kBoundaryMode),
    word("approachType", &P::approachType, kApproachType),
    word("leavingType", &P::leavingType, kLeavingType),
    word("returnMacro", &P::returnMacro, kReturnMacro),
    num("approachLength", &P::approachLength),
    num("leavingLength", &P::leavingLength),
    num("maxOutputLine", &P::maxOutputLine),
    word("toolReference", &P::toolReference, kToolReference),
    text("tempDirectory", &P::tempDirectory),
    num("planeFeedrate", &P::planeFeedrate),
    num("zFeedrate", &P::zFeedrate),
    num("spindleSpeed", &P::spindleSpeed),
    word("spindleRotation", &P::spindleRotation, kSpindleRotation),
    word("coolant", &P::coolant, kCoolant),
    vec("frameCs_o", &P::frameCsO),
    vec("frameCs_x", &P::frameCsX),
    vec("frameCs_y", &P::frameCsY),
    vec("frameCs_z", &P::frameCsZ),
    vec("toolCs_o", &P::toolCsO),
    vec("toolCs_x", &P::toolCsX),
    vec("toolCs_y", &P::toolCsY),
    vec("toolCs_z", &P::toolCsZ),
    vec("ScaleXYZ", &P::scaleXYZ),
    {"frame", Kind::Frame},
    {"frameOn", Kind::FrameFlag, nullptr, nullptr, &P::frameOn},
    {"frameOff", Kind::FrameFlag, nullptr, nullptr, &P::frameOff},
    word("lengthOfUnit", &P::inch, kLengthOfUnit),
    absNum("machiningTolerance", &P::machiningTolerance),
    word("ncFormat", &P::ncFormat, kNcFormat),
    absNum("feedrateReductionAngle", &P::feedrateReductionAngle),
    absNum("circularMacroDirection", &P::circularMacroDirection),
    absNum("circularMacroSegmentAngle", &P::circularMacroSegmentAngle),
    word("reverseDirection", &P::reverseDirection, kTrue),
    word("infeedDirection", &P::infeedDirection, kTrue),
    word("removeTempFiles", &P::removeTempFiles, kRemoveTempFiles),
    vec("startPoint", &P::startPoint),
    vec("polyCs_o", &P::polyCsO),
    vec("polyCs_x", &P::polyCsX),
    vec("polyCs_y", &P::polyCsY),
    vec("polyCs_z", &P::polyCsZ),
    word("smoothStepover", &P::smoothStepover, kTrue),
    word("slopeCondition", &P::slopeCondition, kSlopeCondition),
    absNum("slopeAngle", &P::slopeAngle),
    word("smoothStepOver", &P::smoothStepover, kTrue),
    {"retractPlane", Kind::Retract},
    word("tiltStrategy", &P::tiltStrategy, kTiltStrategy),
    num("tiltAngle", &P::tiltAngle),
    num("maxTiltAngle", &P::maxTiltAngle),
    num("tiltOffset", &P::tiltOffset),
    num("fanDistance", &P::fanDistance),
    word("checkToolHolder", &P::checkToolHolder, kTrue),
    word("avoidCollision", &P::avoidCollision, kTrue),
    num("approachAxialLength", &P::approachAxialLength),
    num("leavingAxialLength", &P::leavingAxialLength),
    num("maxOutputAngle", &P::maxOutputAngle),
    word("smoothVectors", &P::smoothVectors, kTrue),
    num("smoothInterval", &P::smoothInterval),
    word("pivotSmooth", &P::pivotSmooth, kTrue),
    num("pivotHeight", &P::pivotHeight),
    word("autoIndex", &P::autoIndex, kTrue),
    num("maxSegmentAngle", &P::maxSegmentAngle),
    num("connectMacroRadius", &P::connectMacroRadius),
    num("connectMacroHeight", &P::connectMacroHeight),
    word("fixedInclination", &P::fixedInclination, kTrue),
    num("angleB", &P::angleB),
    num("angleC", &P::angleC),
    text("extraPolySource", &P::extraPolySource),
    num("reducedFeedrate", &P::reducedFeedrate),
};
static_assert(sizeof kOptional / sizeof kOptional[0] == kCyc3dOptionalCount);

double number(const char* text) {
    return strtod(text, nullptr);
}

void replaceText(char** field, const char* value) {
    char* copy = strDup(value);
    if (!copy) {
        msgFault("memory");  // the field would keep what it had under a run that ends well
        return;
    }
    free(*field);
    *field = copy;
}

void readOptional(P* p, const Optional& o, const char* value) {
    switch (o.kind) {
        case Kind::Text:
            replaceText(&(p->*o.text), value);
            break;
        case Kind::Number:
            p->*o.number = number(value);
            break;
        case Kind::Absolute:
            p->*o.number = std::fabs(number(value));
            break;
        case Kind::Word:
            p->*o.word = wordValue(o.words, value);
            break;
        case Kind::Vec3:
            // The axis scale is applied by the mesh import to every imported point.
            if (parseVec3Text(value, p->*o.vec) == 1 && o.vec == &P::scaleXYZ)
                setAxisScale(p->scaleXYZ[0], p->scaleXYZ[1], p->scaleXYZ[2]);
            break;
        case Kind::Frame: {
            int commas = 0;
            for (const char* c = value; *c; ++c) commas += *c == ',';
            if (commas != 5) break;
            replaceText(&p->frame, value);
            if (p->frame) {
                for (char* c = p->frame; *c; ++c) {
                    if (*c == ',') *c = '/';
                }
            }
            break;
        }
        case Kind::FrameFlag:
            if (p->frame) p->*o.word = strcmp(value, "true") == 0 ? 1 : 0;
            break;
        case Kind::Retract:
            p->retractPlane = number(value);
            p->retractPlaneGiven = 1;
            break;
    }
}

// The message file: the variable named by "SystemLanguage", else "MessageFile".
std::string messageFile(const CycleRecord* record) {
    std::string language = cycleVariable(record, "SystemLanguage");
    std::string file = language.empty() ? "" : cycleVariable(record, language.c_str());
    return file.empty() ? cycleVariable(record, "MessageFile") : file;
}

}  // namespace

Cyc3dParams* cyc3dParams(CycleRecord* record) {
    if (!record) return nullptr;
    auto it = gBlocks.find(record);
    if (it != gBlocks.end()) return it->second;
    auto* p = static_cast<Cyc3dParams*>(memCalloc(sizeof(Cyc3dParams)));
    if (p) gBlocks[record] = p;
    return p;
}

void cyc3dParamsClear(Cyc3dParams* p) {
    if (!p) return;
    for (char* P::*t : {&P::polySource, &P::geoSource, &P::geometrySource, &P::toolName, &P::tempDirectory,
                        &P::frame, &P::extraPolySource})
        free(p->*t);
    memset(p, 0, sizeof *p);
}

int cyc3dRejectArgs(CycleRecord*) {
    return 0;
}

int cyc3dRegisterChannels(CycleRecord* record, int32_t ncOut, int32_t drill, int32_t original, int threeD) {
    // Each run registers exactly the channels its switches ask for; handlers
    // an earlier run left behind would deliver channels this run never announced.
    ncFreeChannels(record);
    const struct {
        uint16_t channel;
        NcHandler handler;
        bool on;
    } kChannels[] = {
        {0, pofChannel0, true},
        {1, pofChannel1, true},
        {2, pofChannel2, true},
        {3, traceChannel3, ncOut != 0},
        {4, traceChannel4, record->traceLevel > 0},
        {5, traceChannel5, record->traceLevel > 1},
        {6, traceChannel6, record->traceLevel > 2},
        {10, pofChannel10, true},
        {11, pofChannel11, true},
        {12, pofChannel12, true},
        {20, pofChannel20, threeD != 0},
        {30, traceChannel30, drill != 0},
        {31, pofChannel31, true},
        {32, pofChannel32, ncOut != 0},
        {33, acceptRecord, original != 0},
        {35, pofChannel35, threeD != 0},
        {36, pofChannel36, threeD != 0},
        {41, acceptRecord, threeD != 0},
        {42, acceptRecord, threeD != 0},
    };
    // A channel that cannot be had loses its records: the run must not end as a success.
    bool lost = false;
    for (const auto& c : kChannels) {
        if (c.on && !ncRegisterHandler(record, c.channel, c.handler, acceptRecord, 1)) lost = true;
    }
    if (lost) msgFault("memory");
    return lost ? 0 : 1;
}

int cyc3dInitFromParams(CycleRecord* record) {
    if (!record) return 0;
    // Nothing of an earlier run may stand in for this run's parameters.
    runResetAll();
    P* p = cyc3dParams(record);
    cyc3dParamsClear(p);
    // Before anything of the run is written: what is there now is the user's.
    for (int i = 0; p && i < 4; ++i)
        if (fileExists(kFixedTempNames[i])) p->tempFound |= 1u << (kCyc3dTempSlots + i);
    int32_t ncOut = cycleVariable(record, "NCOutp") == "true";
    int32_t drill = cycleVariable(record, "drillPointsOutp") == "true";
    int32_t original = cycleVariable(record, "originalOutp") == "true";
    if (p) {
        p->ncOutput = ncOut;
        p->drillPointsOutput = drill;
        p->originalOutput = original;
    }
    if (cycleHasVariable(record, "precision")) {
        setNumberDecimals(static_cast<int>(strtol(cycleVariable(record, "precision").c_str(), nullptr, 10)));
        coreSetDtoSPrecision(record, numberDecimals());
    }
    std::string geoSource = cycleVariable(record, "geoSource");
    if (!geoSource.empty()) {
        record->vars = kvListSet(record->vars, "sourceGeometry", geoSource.c_str(), kKvDerived);
        if (record->pcf == 1) {
            if (p) replaceText(&p->geometrySource, geoSource.c_str());
            std::string geoOut = cycleVariable(record, "geoOut");
            if (!geoOut.empty())
                record->vars = kvListSet(record->vars, "geoSource", geoOut.c_str(), kKvDerived);
        }
    }
    std::string msgFile = messageFile(record);

    cyc3dRegisterChannels(record, ncOut, drill, original, 1);
    record->toolContourFlag = record->cfgMode == 1 ? 1 : 0;  // never left on by an earlier run

    ncEmitText(record, 0, 103, "cycle", record->title);
    if (!msgFile.empty()) ncEmitText(record, 0, 109, "msgFile", msgFile.c_str());
    std::string layers;
    for (const auto& [code, on] : {std::pair{3, ncOut != 0}, std::pair{30, drill != 0},
                                   std::pair{32, ncOut != 0}, std::pair{33, original != 0}}) {
        if (on) layers += std::to_string(code) + ",";
    }
    layers += "12,20,35,36,41,42";
    ncEmitText(record, 0, 110, "layers", layers.c_str());

    ncWriteComments(record);
    ncWriteToolAxisFromFrame(record, 0, 0, 1);
    long jobId = strtol(cycleVariable(record, "ppJobID").c_str(), nullptr, 10);
    if (jobId > 0 && jobId <= UINT32_MAX)
        ncBlockBeginId(record, static_cast<uint32_t>(jobId), nullptr, nullptr);
    return 1;
}

int cyc3dReadParameters(CycleRecord* record) {
    if (!record) return 0;
    P* p = cyc3dParams(record);
    if (!p) {
        cyc3dSetStatus(record, -1);
        return 0;
    }
    int ok = 1;
    if (cycleHasVariable(record, "polySource"))
        replaceText(&p->polySource, cycleVariable(record, "polySource").c_str());
    if (!p->polySource) {
        ncEmitText(record, 0, 102, "error", "1,(polySource)");
        ok = 0;
    }
    if (cycleHasVariable(record, "toolDiameter")) {
        p->toolDiameter = number(cycleVariable(record, "toolDiameter").c_str());
    } else {
        ncEmitText(record, 0, 102, "error", "1,(toolDiameter)");
        ok = 0;
    }
    if (!ok) {
        // The host reads the outcome from the status word only.
        cyc3dSetStatus(record, -1);
        return 0;
    }
    for (const Optional& o : kOptional) {
        char* value = kvListGet(record->vars, o.name, nullptr);
        if (!value) continue;
        readOptional(p, o, value);
        free(value);
    }
    cyc3dTempFileName(p->tempFiles[kCyc3dTempSlots - 1], p->tempDirectory, ".cfg");
    if (fileExists(p->tempFiles[kCyc3dTempSlots - 1])) p->tempFound |= 1u << (kCyc3dTempSlots - 1);
    if (!p->retractPlaneGiven || p->retractPlane > p->clearancePlane) p->retractPlane = p->clearancePlane;
    ncSetClearancePlaneOffset(p->clearancePlane - p->retractPlane);
    return 1;
}

int cyc3dRun(CycleRecord* record) {
    P* p = record ? cyc3dParams(record) : nullptr;
    if (!p) return 0;
    {
        const Vec3 o{p->polyCsO[0], p->polyCsO[1], p->polyCsO[2]},
            x{p->polyCsX[0], p->polyCsX[1], p->polyCsX[2]}, y{p->polyCsY[0], p->polyCsY[1], p->polyCsY[2]},
            z{p->polyCsZ[0], p->polyCsZ[1], p->polyCsZ[2]};
        setPolyFrame(&o, &x, &y, &z);
    }
    Vec3 o{p->frameCsO[0], p->frameCsO[1], p->frameCsO[2]}, x{p->frameCsX[0], p->frameCsX[1], p->frameCsX[2]},
        y{p->frameCsY[0], p->frameCsY[1], p->frameCsY[2]}, z{p->frameCsZ[0], p->frameCsZ[1], p->frameCsZ[2]};
    frameSetB(&o, &x, &y, &z);
    o = {p->toolCsO[0], p->toolCsO[1], p->toolCsO[2]}, x = {p->toolCsX[0], p->toolCsX[1], p->toolCsX[2]};
    y = {p->toolCsY[0], p->toolCsY[1], p->toolCsY[2]}, z = {p->toolCsZ[0], p->toolCsZ[1], p->toolCsZ[2]};
    frameSetA(&o, &x, &y, &z);
    framesInit();
    // Both readers must accept the file; each list is only a check and is freed at once.
    PolyTriMesh* tri = p->polySource ? meshFromPolyFileB(p->polySource, "POLY", 0) : nullptr;
    freeMeshPatchList(tri);
    PolyFacetMesh* facets = tri ? meshFromPolyFileA(p->polySource, "POLY", 0, 0) : nullptr;
    freeMeshNodeList(facets);
    if (!tri || !facets) {
        msgText(9, 332, "* Fehler beim lesen der Datei %s", p->polySource ? p->polySource : "");
        cyc3dSetStatus(record, -1);
        return 0;
    }
    if (p->frame) {
        if (p->frameOff) ncSetVariable(record, "tr", "frameOff");
        free(p->frame);
        p->frame = nullptr;
    }
    cyc3dRemoveTempFiles(record);
    return 1;
}

int cyc3dCycleEnd(CycleRecord* record) {
    if (!record) return 0;
    ncEmitText(record, 0, 104, "cycleEnd", record->title);
    return 1;
}

int parseVec3Text(const char* text, double out[3]) {
    if (!text || !out) return -1;
    const char* second = strchr(text, ',');
    const char* third = second ? strchr(second + 1, ',') : nullptr;
    if (!third) return -1;
    out[0] = strtod(text, nullptr);
    out[1] = strtod(second + 1, nullptr);
    out[2] = strtod(third + 1, nullptr);
    return 1;
}

int writeBoundaryFromGeometry(CycleRecord* record) {
    Cyc3dParams* params = cyc3dParams(record);
    if (params == nullptr || params->geoSource == nullptr) return -1;
    writeBoundarySetFolder(params->tempDirectory);
    writeBoundarySetArcStep(params->circularMacroSegmentAngle);
    return writeBoundaryFromFile(params->geoSource, &params->surface, &params->depth);
}

void removeFileIfNamed(const char* name) {
    if (!name || !*name || *name == ' ' || *name == '\t') return;
    remove(name);
}

void cyc3dRemoveTempFiles(CycleRecord* record, const char* keep) {
    P* p = record ? cyc3dParams(record) : nullptr;
    if (!p || !p->removeTempFiles) return;
    const std::string pof = cycleVariable(record, "pofFilename");
    auto output = [&](const char* name) {
        return (keep && *keep && strcmp(name, keep) == 0) || (!pof.empty() && pof == name);
    };
    auto removable = [&](const char* name, int bit) {
        return !output(name) && !(p->tempFound & (1u << bit));
    };
    for (int i = 0; i < kCyc3dTempSlots; ++i)
        if (removable(p->tempFiles[i], i)) removeFileIfNamed(p->tempFiles[i]);
    for (int i = 0; i < 4; ++i)
        if (removable(kFixedTempNames[i], kCyc3dTempSlots + i)) removeFileIfNamed(kFixedTempNames[i]);
}

void cyc3dResetState() {
    for (auto& [record, block] : gBlocks) {
        cyc3dParamsClear(block);
        free(block);
    }
    gBlocks.clear();
    polyFrameReset();
}
