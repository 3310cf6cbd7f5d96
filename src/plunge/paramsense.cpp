// The sense table of the plunge run's numeric keywords and its check at set-up.
#include "plunge/paramsense.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/base/msg.h"

// Keywords the run reads as given; those the set-up overwrites before any use (*AUFLMAX, *VERTZUSTEL,
// *LINK_FEED ...) and those of other cycles are not here.
const ParamSenseRow ParamSenseTable[] = {
    // The tool.
    {"*FRRADIUS", kSenseStep},
    {"*FRBOGEN", kSenseSize},
    {"*TOTAL_TOOL_LENGTH", kSenseStep},
    {"*CUTTING_LENGTH", kSenseSize},
    {"*LENGTH1", kSenseSize},
    {"*LENGTH2", kSenseSize},
    {"*LENGTH3", kSenseSize},
    {"*LENGTH4", kSenseSize},
    {"*DIAMETER1", kSenseSize},
    {"*DIAMETER2", kSenseSize},
    {"*DIAMETER3", kSenseSize},
    {"*DIAMETER4", kSenseSize},
    {"*TAPER_ANGLE", kSenseTaper},
    {"*TAPER_HEIGHT", kSenseSize},
    {"*TIP_LENGTH", kSenseSize},
    {"*TIP_DIAMETER", kSenseSize},
    {"*SHAFT_DIAMETER", kSenseSize},
    {"*CHAMFER_LENGTH", kSenseSize},
    {"*TOL_ANGLE", kSenseLean},
    {"*EDGE_TOL", kSenseSize},
    {"*AUFMASS_HORI", kSenseLength},
    {"*AUFMASS_HUB", kSenseLength},
    {"*SHAFT_ALLOWANCE", kSenseLength},
    {"*HOLDER_CLEARANCE", kSenseSize},
    {"*HEAD_CLEARANCE", kSenseSize},
    {"*EXTENSION_CLEARANCE", kSenseSize},
    {"*SHANK_CLEARANCE", kSenseSize},
    {"*TOOL_LENGTH_INCR", kSenseStep},
    // Planes, distances and the macros.
    {"*SICHEBENE", kSenseLength},
    {"*SICHDIST", kSenseSize},
    {"*STARTPT", kSenseStart},
    {"*OBERFL", kSenseLength},
    {"*TIEF", kSenseLength},
    {"*MACRO_SABST", kSenseLength},
    {"*MACRO_EABST", kSenseLength},
    {"*MACRO_THEIGHT", kSenseLength},
    {"*MACRO_TRAD", kSenseLength},
    {"*MACRO_LRAD", kSenseLength},
    {"*MACRO_IWIN", kSenseAngle},
    {"*MACRO_AWIN", kSenseAngle},
    {"*MACRO_SWIN", kSenseAngle},
    {"*MACRO_EWIN", kSenseAngle},
    {"*MACRO_TSWIN", kSenseAngle},
    {"*MACRO_TEWIN", kSenseAngle},
    {"*MAX_CLEAR_DIST", kSenseLength},
    {"*MAX_DIST_ANGLE", kSenseAngle},
    {"*MAX_PLANE_ANGLE", kSenseAngle},
    // Steps and tolerances of the paths.
    {"*PRECISION", kSenseStep},
    {"*MODELPRECISION", kSenseStep},
    {"*EXTRA_TOL", kSenseStep},
    {"*PLUNGE_STEP", kSenseStep},
    {"*HORIZUSTEL", kSenseStep},
    {"*SCAL_HEIGHT", kSenseSize},
    {"*SCAL_HEIGHT_MIN", kSenseSize},
    {"*STEP_MAX", kSenseSize},
    {"*STEP_MIN", kSenseSize},
    {"*T_CUTWIDTH", kSenseSize},
    {"*PLUNGE_TOL", kSenseSize},
    {"*FILLET_TOL", kSenseSize},
    {"*FILLET_ANGLE", kSenseTurn},
    {"*FORCE_G1_IPOL", kSenseSize},
    {"*FORCE_G1_FAC", kSenseSize},
    {"*EXT_LEAD", kSenseLength},
    {"*EXT_TRAIL", kSenseLength},
    {"*SHROUD_DEPTH", kSenseLength},
    {"*HUB_OFFSET", kSenseLength},
    {"*ISO_START", kSenseFraction},
    {"*ISO_END", kSenseFraction},
    {"*FAN_FACTOR", kSenseFinite},
    {"*START_FACTOR", kSenseFinite},
    {"*END_FACTOR", kSenseFinite},
    {"*CORE_HEIGHT", kSenseFinite},
    {"*COMP_AXVAL", kSenseFinite},
    {"*SINTERVAL", kSenseFinite},
    {"*BLDCT_FLOAT", kSenseBladeCount},
    // Angles of the tool axis.
    {"*LEAD_ANGLE", kSenseLean},
    {"*LEAD_ANGLE_LEADMAIN", kSenseLean},
    {"*LEAD_ANGLE_TRAIL", kSenseLean},
    {"*LEAD_ANGLE_LEADSPLITTER", kSenseLean},
    {"*LEADUP_ANGLE", kSenseFinite},  // its default stands for "not set"
    {"*LEADUP_ANGLE_LEADMAIN", kSenseLean},
    {"*LEADUP_ANGLE_TRAIL", kSenseLean},
    {"*LEADUP_ANGLE_LEADSPLITTER", kSenseLean},
    {"*TILT_MAX", kSenseTiltLimit},
    {"*AVOID_ANGLE", kSenseLean},
    {"*STEP_WIN", kSenseTurn},
    {"*FRED_ANGLE", kSenseTurn},
    {"*SANGLE", kSenseAngle},
    // Feeds and spindle speeds.
    {"*XVORSCHUB", kSenseFeed},
    {"*ZVORSCHUB", kSenseFeed},
    {"*RVORSCHUB", kSenseFeed},
    {"*RETRACT_FEEDRATE", kSenseFeed},
    {"*HOLE_FEEDRATE", kSenseFeed},
    {"*OPEN_FEED", kSenseFeed},
    {"*CLEAR_FEEDRATE", kSenseFinite},  // below 0: not set
    {"*DREHZAHL", kSenseFeed},
    {"*R_SPINDLE", kSenseFeed},
    {"*OPEN_SPINDLE", kSenseFeed},
    // Frames and mirror planes.
    {"*NCKO_O", kSenseLength},
    {"*NCKO_X", kSenseLength},
    {"*NCKO_Y", kSenseLength},
    {"*NCKO_Z", kSenseLength},
    {"*WZKO_O", kSenseLength},
    {"*WZKO_X", kSenseLength},
    {"*WZKO_Y", kSenseLength},
    {"*WZKO_Z", kSenseLength},
    {"*ORIG_O", kSenseLength},
    {"*ORIG_X", kSenseLength},
    {"*ORIG_Y", kSenseLength},
    {"*ORIG_Z", kSenseLength},
    {"*MIRROR_POS", kSenseLength},
    {"*MIRROR_ORI", kSenseLength},
    {"*JL_MIRROR_POS", kSenseLength},
    {"*JL_MIRROR_ORI", kSenseLength},
    {nullptr, kSenseFinite},
};

int paramSenseHolds(ParamSense sense, double x) {
    if (!std::isfinite(x)) return 0;
    switch (sense) {
        case kSenseFinite:
            return 1;
        case kSenseLength:
            return std::fabs(x) <= kSenseLengthMax;
        case kSenseSize:
            return x >= 0 && x <= kSenseLengthMax;
        case kSenseStep:
            return x > 0 && x <= kSenseLengthMax;
        case kSenseAngle:
            return std::fabs(x) <= 360;
        case kSenseTurn:
            return x >= 0 && x <= 180;
        case kSenseLean:
            return std::fabs(x) <= 90;
        case kSenseTaper:
            return x >= 0 && x < 90;
        case kSenseTiltLimit:
            return x > 0 && x <= 180;
        case kSenseFraction:
            return x >= 0 && x <= 1;
        case kSenseFeed:
            return x >= 0 && x <= kSenseFeedMax;
        case kSenseStart:
            return x < -99999.99999 || std::fabs(x) <= kSenseLengthMax;
        case kSenseBladeCount:
            // The run takes a value below 1e-5 as not set.
            return std::fabs(x) < 1e-5 || (x >= 2 && x <= kSenseBladesMax);
    }
    return 0;
}

namespace {

double numberAt(const CycleParams* p, uint32_t field, int component) {
    double x;
    std::memcpy(&x, reinterpret_cast<const char*>(p) + field + component * sizeof(double), sizeof x);
    return x;
}

// The shortest text that reads back as x ("nan", "inf", "1e+300", "0.0001").
std::string numberText(double x) {
    char text[40];
    std::snprintf(text, sizeof text, "%.15g", x);
    if (std::isfinite(x) && std::strtod(text, nullptr) != x) std::snprintf(text, sizeof text, "%.17g", x);
    return text;
}

}  // namespace

int paramSenseCheck(const CycleParams* run, const CycleParams* applied) {
    if (!run || !applied) return -1;
    for (const ParamSenseRow* r = ParamSenseTable; r->keyword; ++r) {
        const int index = findKeyword(r->keyword);
        if (index < 0) continue;  // every row names a keyword of the table: the tests see to it
        const CycleKeywordRow& k = CycleKeywordTable[index];
        const int n = k.storeType == kStoreTriple ? 3 : k.storeType == kStoreDouble ? 1 : 0;
        bool holds = true;
        for (int c = 0; c < n; ++c) holds = holds && paramSenseHolds(r->sense, numberAt(run, k.field, c));
        if (holds) continue;
        std::string value;
        for (int c = 0; c < n; ++c) value += (c ? " " : "") + numberText(numberAt(applied, k.field, c));
        msgTwoTexts(9, kMsgBadKeywordValue, "* Error: bad value of keyword %s: %s", r->keyword,
                    value.c_str());
        return -1;
    }
    return 1;
}
