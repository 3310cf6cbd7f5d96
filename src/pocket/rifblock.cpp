#include "pocket/rifblock.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>

#include "geometry/frames.h"
#include "kernel/base/msg.h"
#include "kernel/base/numtext.h"
#include "kernel/base/keyword.h"
#include "kernel/base/runreset.h"

namespace {

RifBlock gBlock;

#define F(name) offsetof(RifBlock, name)
constexpr int8_t I16 = kStoreInt16, F64 = kStoreDouble, TXT = kStoreText, I32 = kStoreInt32,
                 VEC = kStoreTriple;

}  // namespace

const RifKeyword RifKeywordTable[kRifKeywordCount + 1] = {
    {"*RIF_NAME", TXT, kParseText, F(rifName)},
    {"*GEN_RIF", I16, kParseNumber, F(genRif)},
    {"*EVAL_RIF", I16, kParseNumber, F(evalRif)},
    {"*MIN_ELEM", I16, kParseNumber, F(minElem)},
    {"*EPSILON", F64, kParseNumber, F(epsilon)},
    {"*MIN_LENGTH", F64, kParseNumber, F(minLength)},
    {"*KVX", TXT, kParseNumber, F(kvx)},
    {"*KVX_DATEI", TXT, kParseNumber, F(kvx)},
    {"*APT", TXT, kParseText, F(apt)},
    {"*REPORT", TXT, kParseText, F(report)},
    {"*UMLAUF", I16, kParseNumber, F(umlauf)},
    {"*REPORT_CLASS", I16, kParseNumber, F(reportClass)},
    {"*AUFMASS", F64, kParseNumber, F(aufmass)},
    {"*OBERFL", F64, kParseNumber, F(oberfl)},
    {"*TIEF", F64, kParseNumber, F(tief)},
    {"*SICHDIST", F64, kParseNumber, F(sichdist)},
    {"*SICHEBENE", F64, kParseNumber, F(sichebene)},
    {"*FRTYP", I16, kParseNumber, F(frtyp)},
    {"*FRRADIUS", F64, kParseNumber, F(frradius)},
    {"*FRLAENGE", F64, kParseNumber, F(frlaenge)},
    {"*XVORSCHUB", F64, kParseNumber, F(xvorschub)},
    {"*ZVORSCHUB", F64, kParseNumber, F(zvorschub)},
    {"*HORIZUSTEL", F64, kParseNumber, F(horizustel)},
    {"*DREHZAHL", F64, kParseNumber, F(drehzahl)},
    {"*WKZNUMMER", I32, kParseNumber, F(wkznummer)},
    {"*DREHRICHT", I16, kParseNumber, F(drehricht)},
    {"*KUEHLMITTEL", I16, kParseNumber, F(kuehlmittel)},
    {"*WZKO_O", VEC, kParseTriple, F(wzkoO)},
    {"*WZKO_X", VEC, kParseTriple, F(wzkoX)},
    {"*WZKO_Y", VEC, kParseTriple, F(wzkoY)},
    {"*WZKO_Z", VEC, kParseTriple, F(wzkoZ)},
    {"*NCKO_O", VEC, kParseTriple, F(nckoO)},
    {"*NCKO_X", VEC, kParseTriple, F(nckoX)},
    {"*NCKO_Y", VEC, kParseTriple, F(nckoY)},
    {"*NCKO_Z", VEC, kParseTriple, F(nckoZ)},
    {"*X11", I16, kParseNumber, F(x11)},
    {"*NC_BODY", I16, kParseNumber, F(ncBody)},
    {"*RIF_DIR", TXT, kParseRawText, F(rifDir)},
    {"*TMP_DIR", TXT, kParseRawText, F(tmpDir)},
    {"*VERTZUSTEL", F64, kParseNumber, F(vertzustel)},
    {"*AUFMASS_Z", F64, kParseNumber, F(aufmassZ)},
    {"*ZUSTELL_X", F64, kParseNumber, F(zustellX)},
    {"*ZUSTELL_Y", F64, kParseNumber, F(zustellY)},
    {"*JOBID", I16, kParseNumber, F(jobid)},
    {"*ZUSTELL_OK", I16, kParseNumber, F(zustellOk)},
    {"*START_GIVEN", I16, kParseNumber, F(zustellOk)},
    {"*EDGE_MOVEMENT", I16, kParseNumber, F(edgeMovement)},
    {"*G0_COLOR_RGB", VEC, kParseTriple, F(g0ColorRgb)},
    {"*G1_COLOR_RGB", VEC, kParseTriple, F(g1ColorRgb)},
    {"*RGB_G0", VEC, kParseTriple, F(g0ColorRgb)},
    {"*RGB_G1", VEC, kParseTriple, F(g1ColorRgb)},
    {"*CAD_MODE", I16, kRifParseEnum, F(cadMode)},
    {"*ORI_AUTO", I16, kRifParseEnum, F(oriAuto)},
    {"*REF_RADIUS", F64, kParseNumber, F(refRadius)},
    {"*MACRO_TRAD", F64, kParseNumber, F(macroTrad)},
    {"*MACRO_TMODE", I16, kParseNumber, F(macroTmode)},
    {"*STRATEGY", I16, kParseNumber, F(strategy)},
    {"*MACRO_IWIN", F64, kParseNumber, F(macroIwin)},
    {"*MACRO_TSWIN", F64, kParseNumber, F(macroTswin)},
    {"*MACRO_END", I16, kParseNumber, F(macroEnd)},
    {"*PLANE_RETRACT", I16, kParseNumber, F(planeRetract)},
    {"*MACRO_ERAD", F64, kParseNumber, F(macroErad)},
    {"*STOCK", I16, kParseNumber, F(stock)},
    {"*WALL_ANGLE", F64, kParseNumber, F(wallAngle)},
    {"*FRTYP", I16, kParseNumber, F(frtyp)},
    {"*FRBOGEN", F64, kParseNumber, F(frbogen)},
    {"*TOTAL_TOOL_LENGTH", F64, kParseNumber, F(totalToolLength)},
    {"*CUTTING_LENGTH", F64, kParseNumber, F(cuttingLength)},
    {"*LENGTH1", F64, kParseNumber, F(length1)},
    {"*LENGTH2", F64, kParseNumber, F(length2)},
    {"*DIAMETER1", F64, kParseNumber, F(diameter1)},
    {"*DIAMETER2", F64, kParseNumber, F(diameter2)},
    {"*RVORSCHUB", F64, kParseNumber, F(rvorschub)},
    {"*VVORSCHUB", F64, kParseNumber, F(vvorschub)},
    {"*INCH", I16, kParseNumber, F(inch)},
    {"*INCH_MODE", I16, kParseNumber, F(inch)},
    {"*MACRO_START", I16, kParseNumber, F(macroStart)},
    {"*MACRO_SRAD", F64, kParseNumber, F(macroSrad)},
    {"*REF_JOBTYPE", I16, kParseNumber, F(refJobtype)},
    {"*SEITE", I16, kParseNumber, F(seite)},
    {"*STARTPT", VEC, kParseTriple, F(startpt)},
    {"*START", VEC, kParseTriple, F(startpt)},
    {"*PRG_DIR", TXT, kParseRawText, F(prgDir)},
    {"*LOC_DIR", TXT, kParseRawText, F(locDir)},
    {"*STEP_MAX", F64, kParseNumber, F(stepMax)},
    {"*STEP_MIN", F64, kParseNumber, F(stepMin)},
    {"*STOCKONLY", I16, kParseNumber, F(stockonly)},
    {"*INFEED_RADIUS", F64, kParseNumber, F(infeedRadius)},
    {"*FILLET_RADIUS", F64, kParseNumber, F(filletRadius)},
    {"*COMPLETE_POCKET", I16, kParseNumber, F(completePocket)},
    {"*FILLET_CORNERS", I16, kParseNumber, F(filletCorners)},
    {"*CONSIDER_TOOLTYPE", I16, kParseNumber, F(considerTooltype)},
    {"*TAPER_ANGLE", F64, kParseNumber, F(taperAngle)},
    {"*TAPER_HEIGHT", F64, kParseNumber, F(taperHeight)},
    {"*TOOL_TIP", I16, kParseNumber, F(toolTip)},
    {"*CONTOUR_PROJECTION", I16, kParseNumber, F(contourProjection)},
    {"*STEP_FACTOR", F64, kParseNumber, F(stepFactor)},
    {"*OPEN_POCKET", I16, kParseNumber, F(openPocket)},
    {"*STEP_STRATEGY", I16, kParseNumber, F(stepStrategy)},
    {"*OVERLAP", F64, kParseNumber, F(overlap)},
    {"*PLUNGE_LAST", I16, kParseNumber, F(plungeLast)},
    {"*OPEN_INOUT", I16, kParseNumber, F(openInout)},
    {"*MACRO_HWIN", F64, kParseNumber, F(macroHwin)},
    {"*MACRO_TABST", F64, kParseNumber, F(macroTabst)},
    {"*SPIRAL", I16, kParseNumber, F(spiral)},
    {"*SPIRAL_TOL", F64, kParseNumber, F(spiralTol)},
    {"*SURFACE_OFFSET", F64, kParseNumber, F(surfaceOffset)},
    {"*TROCH_COUNT", I16, kParseNumber, F(trochCount)},
    {"*ARC_CORRECT", I16, kParseNumber, F(arcCorrect)},
    {"*MIRROR_POS", VEC, kParseTriple, F(mirrorPos)},
    {"*MIRROR_ORI", VEC, kParseTriple, F(mirrorOri)},
    {"*JL_MIRROR_POS", VEC, kParseTriple, F(jlMirrorPos)},
    {"*JL_MIRROR_ORI", VEC, kParseTriple, F(jlMirrorOri)},
    {"*CHECK_HEAD", I16, kParseNumber, F(checkHead)},
    {"*TOOL_COLL_CHECK", I16, kParseNumber, F(toolCollCheck)},
    {"*TOOL_LENGTH_EXTEND", I16, kParseNumber, F(toolLengthExtend)},
    {"*TOOL_LENGTH_REDUCE", I16, kParseNumber, F(toolLengthReduce)},
    {"*TOOL_LENGTH_INCR", F64, kParseNumber, F(toolLengthIncr)},
    {"*EXTENSION_3DF", TXT, kParseText, F(extension3df)},
    {"*SHANK_3DF", TXT, kParseText, F(shank3df)},
    {"*EXTENSION_CLEARANCE", F64, kParseNumber, F(extensionClearance)},
    {"*SHANK_CLEARANCE", F64, kParseNumber, F(shankClearance)},
    {nullptr, 0, 0, 0},
};
#undef F

namespace {

template <class T>
void put(size_t field, T value) {
    memcpy(reinterpret_cast<char*>(&gBlock) + field, &value, sizeof value);
}

}  // namespace

RifBlock* rifBlock() {
    return &gBlock;
}

int rifKeywordLookup(const char* keyword) {
    if (!keyword || !*keyword) return -1;
    for (int i = 0; RifKeywordTable[i].keyword; ++i) {
        if (strcmp(RifKeywordTable[i].keyword, keyword) == 0) return i;
    }
    return -1;
}

int rifStoreValue(int row, const char* value) {
    if (row < 0 || row >= kRifKeywordCount) return 0;
    const RifKeyword& k = RifKeywordTable[row];
    CycleKeywordValue v;
    if (k.conversion == kRifParseEnum) {
        if (!value || (strcmp(value, "DXF") != 0 && strcmp(value, "MI") != 0)) return 0;
        v.number[0] = strcmp(value, "MI") == 0 ? 1 : 0;
    } else if (convertKeywordValue(k.conversion, value, &v) != 0) {
        return 0;
    }
    switch (k.type) {
        case kStoreInt16:
            put(k.field, truncToInt<int16_t>(v.number[0]));
            break;
        case kStoreInt32:
            put(k.field, truncToInt<int32_t>(v.number[0]));
            break;
        case kStoreDouble:
            put(k.field, v.number[0]);
            break;
        case kStoreText:
            // The whole field is written so that nothing of an earlier value stays behind the text.
            strncpy(reinterpret_cast<char*>(&gBlock) + k.field, v.text, kRifTextMax + 1);
            if (v.cut) msgText(9, kMsgCycleTextCut, "* Text zu lang, gekuerzt", k.keyword);
            break;
        default:
            for (int i = 0; i < 3; ++i) put(k.field + i * sizeof(double), v.number[i]);
            break;
    }
    return 1;
}

int rifParseKeywords(const KvList* pairs) {
    for (const KvList* n = pairs; n; n = n->next) {
        const int row = rifKeywordLookup(n->key);
        if (row >= 0) rifStoreValue(row, n->value ? n->value : "");
    }
    return 1;
}

int rifTmpPath(char* out, size_t size, const char* name) {
    if (!out || size == 0) return 0;
    const int n = snprintf(out, size, "%s%s%s", gBlock.tmpDir, *gBlock.tmpDir ? "/" : "", name ? name : "");
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int rifSetupMirror() {
    bool any = false;
    for (int i = 0; i < 3; ++i)
        any = any || std::fabs(gBlock.mirrorOri[i]) > 1e-5 || std::fabs(gBlock.jlMirrorOri[i]) > 1e-5;
    if (!any) return 0;
    const Vec3 p1{gBlock.mirrorPos[0], gBlock.mirrorPos[1], gBlock.mirrorPos[2]};
    const Vec3 o1{gBlock.mirrorOri[0], gBlock.mirrorOri[1], gBlock.mirrorOri[2]};
    const Vec3 p2{gBlock.jlMirrorPos[0], gBlock.jlMirrorPos[1], gBlock.jlMirrorPos[2]};
    const Vec3 o2{gBlock.jlMirrorOri[0], gBlock.jlMirrorOri[1], gBlock.jlMirrorOri[2]};
    framePairCreate(&p1, &o1, &p2, &o2);
    return 1;
}

void rifResetState() {
    gBlock = RifBlock{};
}
static const RunReset gRunReset(kRunResetCycles, "rif", rifResetState);
