#include "plunge/cycparams.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string>

#include "kernel/base/msg.h"
#include "kernel/base/numtext.h"
#include "platform/module.h"

namespace {

// Every field not named here is 0 or empty.
constexpr CycleParams kDefaults = {
    .frradius = 4.0,
    .xvorschub = 200.0,
    .zvorschub = 50.0,
    .frtyp = 1,
    .bearbeitricht = 1,
    .lauf = 2,
    .vertzustel = 10000.0,
    .horizustel = 1.0,
    .oberfl = 10000.0,
    .tief = -10000.0,
    .sichdist = 5.0,
    .sichebene = 100.0,
    .drehzahl = 2000.0,
    .wkznummer = 1,
    .drehricht = 1,
    .kuehlmittel = 2,
    .auflmax = 1.0,
    .auflmin = 0.05,
    .aufstieg = 1,
    .macroStart = 1,
    .macroEnd = 1,
    .macroReturn = 1,
    .macroSrad = 3.0,
    .macroErad = 3.0,
    .macroIwin = 10.0,
    .macroSwin = 45.0,
    .macroEwin = 45.0,
    .macroTheight = 5.0,
    .macroTdir = 1,
    .macroTmode = 2,
    .reportClass = 1,
    .toolTip = 2,
    .feedJump = 1,
    .stepMax = 10.0,
    .stepMin = 0.005,
    .sichMaxdist = 10.0,
    .nckoX = {1.0, 0.0, 0.0},
    .nckoY = {0.0, 1.0, 0.0},
    .nckoZ = {0.0, 0.0, 1.0},
    .wzkoX = {1.0, 0.0, 0.0},
    .wzkoY = {0.0, 1.0, 0.0},
    .wzkoZ = {0.0, 0.0, 1.0},
    .x11 = 1,
    .fredAngle = 1.0,
    .startpt = {0.0, 0.0, -100000.0},
    .bndReduction = 0.2,
    .frlaenge = 40.0,
    .jobid = 1,
    .precision = 0.01,
    .heapSort = 1,
    .g0ColorRgb = {1.0, 0.0, 0.0},
    .g1ColorRgb = {1.0, 1.0, 0.0},
    .prgDir = ".",  // the working folder
    .optDia = 1,
    .gridMax = 400,
    .totalToolLength = 100.0,
    .cuttingLength = 50.0,
    .length1 = 50.0,
    .length2 = 30.0,
    .diameter1 = 30.0,
    .diameter2 = 15.0,
    .rvorschub = 50.0,
    .vvorschub = 50.0,
    .resolution = 0.001,
    .bearbeitrand = 2,
    .zustellArt = 1,
    .scalHeight = 0.1,
    .tiltAngle = 5.0,
    .gridXy = 50,
    .tiltMax = 120.0,
    .tiltIpol = 5.0,
    .tiltStrategy = 1,
    .normalize = 1,
    .normFactor = 1.0,
    .smoothCount = 5,
    .reduce5ax = 1,
    .compAxval = 0.0001,
    .offset5ax = 100.0,
    .tiltCurve = ".",
    .stepWin = 5.0,
    .sinterval = 50.0,
    .clipColl = 1,
    .clipHeight = 5.0,
    .spiral = 1,
    .startMaxZ = 1,
    .useTopDepth = 1,
    .topOffset = 1.0,
    .bottomOffset = 1.0,
    .roughStrategy = 1,
    .deltakurve = 0.01,
    .holdcheckClearfactor = 1.0,
    .sideDist = 5.0,
    .toolOffset = 40.0,
    .ipolStrategy = 1,
    .cutDirection = 2,
    .extraTol = 0.01,
    .stepangle = 5.0,
    .refRadius = 10.0,
    .segDist = 10.0,
    .fanFactor = 0.25,
    .tolAngle = 0.4,
    .leadupAngle = 10000.0,
    .filletAngle = 30.0,
    .filletTol = 1.0,
    .macroLrad = 1.0,
    .macroLdist = 0.5,
    .leadTiltFac = 1.0,
    .startFactor = 1.0,
    .trimEdge = 1,
    .forceG1Ipol = 1.0,
    .forceG1Fac = 10.0,
    .checkOnlyLast = 2,
    .hubStart = -1.0,
    .hubEnd = -1.0,
    .shroudStart = -1.0,
    .shroudEnd = -1.0,
    .hubfinStrategy = 1,
    .entryDist = 0.1,
    .openTech = 1,
    .parameterVersion = 1,
    .edgeLift = 20.0,
    .trimOffset = 5.0,
    .trimZ = -10000.0,
    .trimRampLength = 0.5,
    .trimRampHeight = 0.1,
    .trimTrail = 1,
    .leadCorrect = 1,
    .fanDist = 5.0,
    .edgeFanFactor = 0.8,
    .skipCenter = 1,
    .edgerollingLead = -1,
    .pocketSymmetric = 1,
    .horizustelMin = 0.05,
    .scalHeightMin = 0.01,
    .springFeedrate = 100.0,
    .springSpindle = 1000.0,
    .hubStartheight = 0.5,
    .bmidAngle = -10000.0,
    .closeBlade = 1,
    .checkZlift = -1,
    .rapidLogic = -1,
    .clearMovement = -1,
    .clearFeedrate = -1.0,
    .maxClearDist = -1.0,
    .maxDistAngle = -1.0,
    .maxPlaneAngle = -1.0,
    .edgeFandist = 5.0,
    .clipOffset = 0.1,
    .infeedStrategy = 1,
    .ipolAngle = 90.0,
    .origX = {1.0, 0.0, 0.0},
    .origY = {0.0, 1.0, 0.0},
    .origZ = {0.0, 0.0, 1.0},
    .plungeStep = 3.0,
    .clearAngleLead = -1.0,
    .clearAngleTrail = -1.0,
    .midangDownIso = 0.5,
    .midangDown = 90.0,
    .midangUpIso = 0.5,
    .midangUp = 90.0,
    .midCurve = 1,
    .trimFlank = 1,
    .macroSdist = 1.0,
    .centerCut = 1,
    .bladeSteps = -1,
    .isoEnd = 1.0,
    .holeFeedrate = 1000.0,
    .plungeGfast = 1,
    .clearSideTip = 1,
    .modelprecision = 0.01,
    .holderClearance = 0.1,
    .headClearance = 0.1,
    .closed = 1,
    .selAll = 1,
    .selHub = 1,
    .selShroud = 1,
    .selBladeLeft = 1,
    .selBladeRight = 1,
    .edgerolling = 1,
    .extFactor = 1.0,
    .shroudFac = 0.3,
    .startClimb = 1,
    .splitPartition = 1,
    .useFreeHolder = 1,
    .approxFac = 10.0,
    .flankConnectMode = 1,
    .flankConnectCurv = 1.0,
    .use4xBangle = 90.0,
    .checkHead = 1,
    .toolCollCheck = -1,
    .toolLengthIncr = 1.0,
    .extensionClearance = 0.1,
    .shankClearance = 0.1,
    .coreHeight = -1.0,
    .camberSangle = 5.0,
    .leadaIpol = 1,
    .leadbIpol = 1,
};

// Fields multiplied by the unit factor; each field once, whichever of its keywords set it.
constexpr double CycleParams::*kLengthFields[] = {
    &CycleParams::frradius,
    &CycleParams::frbogen,
    &CycleParams::vertzustel,
    &CycleParams::horizustel,
    &CycleParams::aufmass,
    &CycleParams::oberfl,
    &CycleParams::tief,
    &CycleParams::sichdist,
    &CycleParams::sichebene,
    &CycleParams::auflmax,
    &CycleParams::auflmin,
    &CycleParams::macroSrad,
    &CycleParams::macroErad,
    &CycleParams::macroSabst,
    &CycleParams::macroEabst,
    &CycleParams::macroTheight,
    &CycleParams::macroTrad,
    &CycleParams::stepMax,
    &CycleParams::stepMin,
    &CycleParams::sichMaxdist,
    &CycleParams::bndReduction,
    &CycleParams::precision,
    &CycleParams::totalToolLength,
    &CycleParams::cuttingLength,
    &CycleParams::length1,
    &CycleParams::length2,
    &CycleParams::length3,
    &CycleParams::length4,
    &CycleParams::diameter1,
    &CycleParams::boundOffset,
    &CycleParams::topOffset,
    &CycleParams::bottomOffset,
    &CycleParams::diameter3,
    &CycleParams::diameter4,
    &CycleParams::resolution,
    &CycleParams::scalHeight,
    &CycleParams::horizustelMin,
    &CycleParams::scalHeightMin,
    &CycleParams::offset5ax,
    &CycleParams::sinterval,
    &CycleParams::clipHeight,
    &CycleParams::deltakurve,
    &CycleParams::tipLength,
    &CycleParams::shaftDiameter,
    &CycleParams::chamferLength,
    &CycleParams::sideDist,
    &CycleParams::aufmassHori,
    &CycleParams::stepover,
    &CycleParams::tipDiameter,
    &CycleParams::refRadius,
    &CycleParams::segDist,
    &CycleParams::startOffset,
    &CycleParams::filletRadius,
    &CycleParams::infeedRadius,
    &CycleParams::aufmassHub,
    &CycleParams::shroudOffset,
    &CycleParams::extTrail,
    &CycleParams::extLead,
    &CycleParams::poffset,
    &CycleParams::filletTol,
    &CycleParams::macroLrad,
    &CycleParams::macroLdist,
    &CycleParams::sincrement,
    &CycleParams::hubStart,
    &CycleParams::hubEnd,
    &CycleParams::shroudStart,
    &CycleParams::shroudEnd,
    &CycleParams::hubOffset,
    &CycleParams::trimZ,
    &CycleParams::trimRampLength,
    &CycleParams::trimRampHeight,
    &CycleParams::fanDist,
    &CycleParams::refHubRadius,
    &CycleParams::shaftAllowance,
    &CycleParams::stockWidth,
    &CycleParams::axialRetract,
    &CycleParams::liftOffset,
    &CycleParams::shroudEntext,
    &CycleParams::shroudLinkext,
    &CycleParams::hubStartheight,
    &CycleParams::maxClearDist,
    &CycleParams::holder3dfTol,
    &CycleParams::head3dfTol,
    &CycleParams::edgeFandist,
    &CycleParams::clipOffset,
    &CycleParams::trimOffset,
    &CycleParams::checkTol,
    &CycleParams::centerHeight,
    &CycleParams::barrelRadius,
    &CycleParams::barrelHeight,
    &CycleParams::bladeOffset,
    &CycleParams::openStep,
    &CycleParams::entryDist,
    &CycleParams::forceG1Ipol,
    &CycleParams::shroudDepth,
    &CycleParams::extraTol,
    &CycleParams::toolOffset,
    &CycleParams::stepOffset,
    &CycleParams::plungeStep,
    &CycleParams::edgeTol,
    &CycleParams::clearSide,
    &CycleParams::macroSdist,
    &CycleParams::tCutwidth,
    &CycleParams::plungeTol,
    &CycleParams::projDist,
    &CycleParams::avoidCloseOffset,
    &CycleParams::modelprecision,
    &CycleParams::holderClearance,
    &CycleParams::headClearance,
    &CycleParams::extEdge,
    &CycleParams::extensionClearance,
    &CycleParams::shankClearance,
    &CycleParams::toolLengthIncr,
    &CycleParams::camberFandist,
};
constexpr double (CycleParams::*kLengthTriples[])[3] = {
    &CycleParams::startpt,
};

CycleParams gApplied = kDefaults;
CycleParams gRun = kDefaults;
std::string gModuleFolder;  // asked once: the folder does not change while the library is loaded

char upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// Case-insensitive in ASCII only, so that the host's locale cannot change which row a keyword finds.
bool sameKeyword(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (upper(*a) != upper(*b)) return false;
    return *a == *b;
}

template <class T>
void put(CycleParams* params, uint32_t field, T value) {
    memcpy(reinterpret_cast<char*>(params) + field, &value, sizeof value);
}

void storeValue(CycleParams* params, const CycleKeywordRow& row, const CycleKeywordValue& value) {
    switch (row.storeType) {
        case kStoreInt16:
            put(params, row.field, truncToInt<int16_t>(value.number[0]));
            break;
        case kStoreDouble:
            put(params, row.field, value.number[0]);
            break;
        case kStoreText:
            // The whole field is written, so that nothing of an earlier value stays behind the text.
            strncpy(reinterpret_cast<char*>(params) + row.field, value.text, kCycleTextMax + 1);
            if (value.cut) msgText(9, kMsgCycleTextCut, "* Text zu lang, gekuerzt", row.keyword);
            break;
        case kStoreInt32:
            put(params, row.field, truncToInt<int32_t>(value.number[0]));
            break;
        case kStoreTriple:
            for (int i = 0; i < 3; ++i)
                put(params, row.field + static_cast<uint32_t>(i * sizeof(double)), value.number[i]);
            break;
        default:
            break;  // no such row: every row's store type is checked by the tests
    }
}

void applyPair(const char* keyword, const char* text) {
    int index = findKeyword(keyword);
    if (index < 0) return;
    const CycleKeywordRow& row = CycleKeywordTable[index];
    CycleKeywordValue value;
    if (convertKeywordValue(row.parseKind, text, &value) == 0) storeValue(&gApplied, row, value);
}

// One whole line without its line end; false at the end of the file. Lines have
// no length limit: a long line must not come back as further bogus lines.
bool readLine(FILE* file, std::string& line) {
    line.clear();
    int c;
    while ((c = getc(file)) != EOF) {
        if (c == '\n') return true;
        line += static_cast<char>(c);
    }
    return !line.empty();
}

// Applies one configuration line: the keyword and its value word, or the rest
// of the line for the texts that may hold blanks and for the triples.
void applyCfgLine(std::string& line) {
    size_t cut = line.find_first_of("\r\n#");
    if (cut != std::string::npos) line.resize(cut);
    const char* p = line.c_str();
    while (isKeywordBlank(*p)) ++p;
    const char* keyBegin = p;
    while (*p && !isKeywordBlank(*p)) ++p;
    if (p == keyBegin) return;
    std::string keyword(keyBegin, p);
    int index = findKeyword(keyword.c_str());
    if (index < 0) return;
    const CycleKeywordRow& row = CycleKeywordTable[index];

    const char* rest = *p ? p + 1 : p;  // behind the keyword and the one character after it
    while (isKeywordBlank(*p)) ++p;
    const char* wordBegin = p;
    while (*p && !isKeywordBlank(*p)) ++p;
    std::string word(wordBegin, p);

    bool takesRest =
        row.storeType == kStoreTriple || (row.storeType == kStoreText && row.parseKind == kParseText);
    CycleKeywordValue value;
    if (convertKeywordValue(row.parseKind, takesRest ? rest : word.c_str(), &value) == 0)
        storeValue(&gApplied, row, value);
}

}  // namespace

CycleParams* cycleParams() {
    return &gRun;
}

CycleParams* cycleParamsApplied() {
    return &gApplied;
}

int findKeyword(const char* keyword) {
    if (!keyword || !*keyword) return -1;
    for (int i = 0; CycleKeywordTable[i].keyword; ++i)
        if (sameKeyword(CycleKeywordTable[i].keyword, keyword)) return i;
    return -1;
}

int applyKeyValueList(const KvList* list) {
    for (const KvList* n = list; n; n = n->next)
        if (n->key && *n->key) applyPair(n->key, n->value ? n->value : "");
    return 1;
}

int readCycleCfgFile(const char* fileName) {
    FILE* file = fileName ? fopen(fileName, "rb") : nullptr;
    if (!file) return 0;
    std::string line;
    while (readLine(file, line)) applyCfgLine(line);
    fclose(file);
    return 1;
}

void scaleLengthParams(double factor) {
    gRun = gApplied;
    for (double CycleParams::*field : kLengthFields) gRun.*field *= factor;
    for (double(CycleParams::*triple)[3] : kLengthTriples)
        for (double& x : gRun.*triple) x *= factor;
}

int tmpDirPath(const char* name, char* out, size_t size) {
    if (!out || size == 0) return 0;
    out[0] = '\0';
    if (!name) return 0;
    // An empty folder is the working folder, never the root.
    std::string path = gRun.tmpDir;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += name;
    if (path.size() >= size) return 0;
    memcpy(out, path.c_str(), path.size() + 1);
    return 1;
}

const char* dllDirParam() {
    if (gRun.dllDir[0]) return gRun.dllDir;
    if (gModuleFolder.empty()) gModuleFolder = moduleDirectory();
    return gModuleFolder.c_str();
}

void cycleParamsResetState() {
    gApplied = kDefaults;
    gRun = kDefaults;
    std::string().swap(gModuleFolder);
}
