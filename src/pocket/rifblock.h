// The pocket cycle's keyword block: the values of a configuration run's
// keyword-value pairs ("*FRRADIUS 5"), one field per keyword target, and the
// table that names each field.
#pragma once

#include <cstddef>
#include <cstdint>

#include "kernel/base/kvx/kvlist.h"

constexpr size_t kRifTextMax = 256;  // characters of a text field, terminator not counted
constexpr int kRifKeywordCount = 122;
constexpr int kRifParseEnum = 101;  // the words "DXF" (0) and "MI" (1)

struct RifBlock {
    char rifName[kRifTextMax + 1];  // G-code contour file or list name
    int16_t genRif, evalRif, minElem;
    double epsilon, minLength;
    char kvx[kRifTextMax + 1];  // also *KVX_DATEI
    char apt[kRifTextMax + 1];
    char report[kRifTextMax + 1];
    int16_t umlauf, reportClass;
    double aufmass, oberfl, tief, sichdist, sichebene;
    int16_t frtyp;
    double frradius, frlaenge, xvorschub, zvorschub, horizustel, drehzahl;
    int32_t wkznummer;
    int16_t drehricht, kuehlmittel;
    double wzkoO[3], wzkoX[3], wzkoY[3], wzkoZ[3];
    double nckoO[3], nckoX[3], nckoY[3], nckoZ[3];
    int16_t x11, ncBody;
    char rifDir[kRifTextMax + 1];
    char tmpDir[kRifTextMax + 1];
    double vertzustel, aufmassZ, zustellX, zustellY;
    int16_t jobid;
    int16_t zustellOk;  // also *START_GIVEN
    int16_t edgeMovement;
    double g0ColorRgb[3];  // also *RGB_G0
    double g1ColorRgb[3];  // also *RGB_G1
    int16_t cadMode, oriAuto;
    double refRadius, macroTrad;
    int16_t macroTmode, strategy;
    double macroIwin, macroTswin;
    int16_t macroEnd, planeRetract;
    double macroErad;
    int16_t stock;
    double wallAngle, frbogen, totalToolLength, cuttingLength, length1, length2, diameter1, diameter2;
    double rvorschub, vvorschub;
    int16_t inch;  // also *INCH_MODE
    int16_t macroStart;
    double macroSrad;
    int16_t refJobtype, seite;
    double startpt[3];  // also *START
    char prgDir[kRifTextMax + 1];
    char locDir[kRifTextMax + 1];
    double stepMax, stepMin;
    int16_t stockonly;
    double infeedRadius, filletRadius;
    int16_t completePocket, filletCorners, considerTooltype;
    double taperAngle, taperHeight;
    int16_t toolTip, contourProjection;
    double stepFactor;
    int16_t openPocket, stepStrategy;
    double overlap;
    int16_t plungeLast, openInout;
    double macroHwin, macroTabst;
    int16_t spiral;
    double spiralTol, surfaceOffset;
    int16_t trochCount, arcCorrect;
    double mirrorPos[3], mirrorOri[3], jlMirrorPos[3], jlMirrorOri[3];
    int16_t checkHead, toolCollCheck, toolLengthExtend, toolLengthReduce;
    double toolLengthIncr;
    char extension3df[kRifTextMax + 1];
    char shank3df[kRifTextMax + 1];
    double extensionClearance, shankClearance;
};

struct RifKeyword {
    const char* keyword;  // with its leading "*"; null ends the table
    int8_t type;          // kStoreInt16, kStoreDouble, kStoreText, kStoreInt32, kStoreTriple
    int16_t conversion;   // kParseNumber, kParseRawText, kParseText, kParseTriple or kRifParseEnum
    size_t field;         // offset in RifBlock
};

extern const RifKeyword RifKeywordTable[kRifKeywordCount + 1];

RifBlock* rifBlock();

int rifKeywordLookup(const char* keyword);  // the first row with exactly this keyword, or -1
// Stores one value by its row: 1, or 0 when it does not convert (nothing changes).
int rifStoreValue(int row, const char* value);
// Every pair of the list with a known keyword, in list order; 1.
int rifParseKeywords(const KvList* pairs);
// out (size bytes) = "*TMP_DIR", "/" when that is not empty, then name: 1, or 0 when it does not fit.
int rifTmpPath(char* out, size_t size, const char* name);
// The global frame pair from the mirror vectors when any orientation is set: 1; else 0.
int rifSetupMirror();

void rifResetState();  // every field 0 or empty
