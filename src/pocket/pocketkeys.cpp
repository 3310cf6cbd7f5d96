#include "pocket/pocketkeys.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kernel/base/constants.h"
#include "pocket/ccp.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/base/keyword.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/rifblock.h"

namespace {

constexpr double kDegree = kDegToRad;
constexpr double kMinToolRadius = 1e-4;

// The value of one variable of the run, when it is set. The first key whose value was read as a number
// that is not finite ("nan", "inf") is kept, or one refused by refuse().
class Keys {
  public:
    explicit Keys(const KvList* vars) : vars_(vars) {}
    bool get(const char* key) {
        char* v = kvListGet(vars_, key, nullptr);
        if (!v) return false;
        key_ = key;
        value_ = v;
        free(v);
        return true;
    }
    const std::string& value() const { return value_; }
    bool is(const char* word) const { return value_ == word; }
    double number() {
        CycleKeywordValue v;
        convertKeywordValue(kParseNumber, value_.c_str(), &v);
        if (!std::isfinite(v.number[0])) refuse(key_);
        return v.number[0];
    }
    double magnitude() { return std::fabs(number()); }
    int32_t flag(const char* word) const { return is(word) ? 1 : 0; }
    void refuse(const char* key) {
        if (!refused_) refused_ = key;
    }
    const char* refused() const { return refused_; }

  private:
    const KvList* vars_;
    const char* key_ = nullptr;
    const char* refused_ = nullptr;
    std::string value_;
};

// A text parameter of the record; a longer value is cut to the field and named in a warning.
void storeText(char* field, const std::string& value, const char* key) {
    strncpy(field, value.c_str(), kCcpTextMax);
    field[kCcpTextMax] = '\0';
    if (value.size() > kCcpTextMax) msgText(9, kMsgCycleTextCut, "* Text zu lang, gekuerzt", key);
}

void storeBlockText(char* field, const std::string& value, const char* key) {
    strncpy(field, value.c_str(), kRifTextMax);
    field[kRifTextMax] = '\0';
    if (value.size() > kRifTextMax) msgText(9, kMsgCycleTextCut, "* Text zu lang, gekuerzt", key);
}

void warnWord(CycleRecord* record, const std::string& word) {
    std::string text = std::to_string(kPocketMsgBadWord) + ",(" + word + ")";
    ncEmitText(record, kPocketWarningChannel, 101, "error", text.c_str());
}

// A word of a list of words, or 0 with the warning for any other word.
int32_t listedWord(CycleRecord* record, const std::string& word, const char* const* words, int count) {
    for (int i = 0; i < count; ++i) {
        if (word == words[i]) return i;
    }
    warnWord(record, word);
    return 0;
}

void keyError(CycleRecord* record, int number, const char* key) {
    std::string text = std::to_string(number) + ",(" + key + ")";
    ncEmitText(record, 0, 102, "error", text.c_str());
}

}  // namespace

int pocketReadKeys(CycleRecord* record) {
    if (!record) return 0;
    CcpParams& p = kvCCPParams;
    PocketKernel& k = pocketKernel();
    RifBlock& b = *rifBlock();
    Keys key(record->vars);

    if (key.get("geoSource")) {
        storeText(p.geoSource, key.value(), "geoSource");
    } else if (!*p.geoSource) {
        keyError(record, kPocketMsgKeyMissing, "geoSource");
        return 0;
    }
    if (!key.get("toolDiameter")) {
        keyError(record, kPocketMsgKeyMissing, "toolDiameter");
        return 0;
    }
    // The step factor and the kernel's tool radius are divided out of the diameter; a negative one is
    // no tool, not the magnitude of one.
    const double diameter = key.number();
    if (!(diameter / 2 >= kMinToolRadius)) {
        pocketError(kPocketErrToolRadius);
        return 0;
    }
    p.toolDiameter = diameter;

    if (key.get("clearancePlane")) p.clearancePlane = key.number();
    if (key.get("clearanceDistance")) p.clearanceDistance = key.number();
    if (key.get("planeFeedrate")) p.planeFeedrate = key.magnitude();
    if (key.get("zFeedrate")) p.zFeedrate = key.magnitude();
    if (key.get("planeAllowance")) p.planeAllowance = key.number();
    // A step width that is not positive machines nothing but the first ring.
    const char* step = nullptr;
    if (key.get("infeedLength")) p.infeedLength = key.number(), step = "infeedLength";
    if (key.get("infeedFactor")) p.infeedLength = key.number() * p.toolDiameter, step = "infeedFactor";
    if (step && !(p.infeedLength > 0)) key.refuse(step);
    if (key.get("epsilon")) p.epsilon = key.magnitude();
    if (key.get("infeedDepth")) {
        p.infeedDepth = key.number();
        if (p.infeedDepth < 0) key.refuse("infeedDepth");
    }
    if (key.get("surface")) b.oberfl = p.surface = key.number();
    if (key.get("depth")) b.tief = p.depth = key.magnitude();
    if (key.get("rifSource")) {
        storeBlockText(b.rifName, key.value(), "rifSource");
        p.rifSource = b.rifName;
    }
    if (key.get("generateRif")) b.genRif = static_cast<int16_t>(p.generateRif = key.flag("true"));
    if (key.get("evaluateRif")) b.evalRif = static_cast<int16_t>(p.evaluateRif = key.flag("true"));
    if (key.get("rifMinLength")) b.minLength = p.rifMinLength = key.number();
    if (key.get("oriAutomatic")) p.oriAutomatic = key.is("single") ? 1 : key.is("full") ? 2 : 0;
    if (key.get("orientation")) p.orientation = key.is("clockwise") ? -1 : 1;
    if (key.get("clamps")) storeText(p.clamps, key.value(), "clamps");
    if (key.get("startExplicit")) b.zustellOk = static_cast<int16_t>(p.startExplicit = key.flag("true"));
    if (key.get("startX")) b.zustellX = p.startX = key.number();
    if (key.get("startY")) b.zustellY = p.startY = key.number();
    if (key.get("edgeMovement") && (key.is("true") || key.is("force")))
        b.edgeMovement = static_cast<int16_t>(p.edgeMovement = key.is("true") ? 1 : 2);
    for (const char* name : {"useReferenceToolDiameter", "useReferenceDiameter"}) {
        if (key.get(name)) p.useReferenceDiameter = key.flag("true");
    }
    for (const char* name : {"referenceToolDiameter", "referenceDiameter"}) {
        if (!key.get(name)) continue;
        p.useReferenceDiameter = 1;
        p.referenceRadius = key.number() / 2;
    }
    if (key.get("stock")) {
        static const char* const kWords[] = {"", "true", "force", "stockOnly", "multi"};
        p.stock = 0;
        for (int i = 1; i < 5; ++i) {
            if (key.is(kWords[i])) p.stock = i;
        }
    }
    if (key.get("frame")) {
        std::string frame = key.value();
        int commas = 0;
        for (char& c : frame) {
            if (c == ',') {
                c = '/';
                ++commas;
            }
        }
        if (commas == 5) storeText(p.frame, frame, "frame");
    }
    if (*p.frame) {
        if (key.get("frameOn") && key.is("true")) p.frameOn = 1;
        if (key.get("frameOff") && key.is("true")) p.frameOff = 1;
    }
    if (key.get("lengthOfUnit")) p.inch = key.flag("inch");
    if (key.get("strategy")) {
        p.strategy = key.is("outsideIn")         ? kCcpOutsideIn
                     : key.is("outsideInDirect") ? kCcpOutsideInDirect
                     : key.is("axisParallel")    ? kCcpAxisParallel
                     : key.is("stockOutin")      ? kCcpStockOutin
                     : key.is("openPocket")      ? kCcpOpenPocket
                                                 : kCcpContourParallel;
        // A flag an earlier run set must not machine this run with a second strategy.
        pocketStrategyFlagsReset(p.strategy);
        b.strategy = static_cast<int16_t>(p.strategy);
    }
    if (key.get("plungeType")) {
        p.plungeType = key.is("helical") ? 1 : key.is("ramp") ? 3 : 2;
        b.macroTmode = static_cast<int16_t>(p.plungeType);
    }
    if (key.get("helixRadius")) b.macroTrad = p.helixRadius = key.number();
    if (key.get("helixPlungeAngle")) {
        b.macroTswin = key.number();
        p.helixPlungeAngle = key.number() * kDegree;
    }
    if (key.get("helixAngleResolution")) {
        b.macroIwin = key.number();
        p.helixAngleResolution = key.number() * kDegree;
    }
    if (key.get("leavingLength")) p.leavingLength = key.number();
    if (key.get("retractEachPlane") && key.is("false")) p.retractEachPlane = p.retractEachPlaneRun = 0;
    if (key.get("leavingType")) {
        static const char* const kWords[] = {"none", "perpendicular", "contourParallel", "quarterCircle"};
        p.leavingType = listedWord(record, key.value(), kWords, 4);
    }
    if (key.get("stockMovement")) {
        static const char* const kWords[] = {"contour", "rapid"};
        p.stockMovement = listedWord(record, key.value(), kWords, 2);
    }
    if (key.get("approachType")) {
        static const char* const kWords[] = {"none", "perpendicular", "contourParallel", "quarterCircle",
                                             "halfCircle"};
        p.approachType = listedWord(record, key.value(), kWords, 5);
    }
    if (key.get("approachLength")) p.approachLength = key.magnitude();
    if (key.get("wallAngle")) p.wallAngle = key.number();
    if (key.get("cornerRadius")) p.cornerRadius = key.number();
    if (key.get("toolType")) p.toolType = key.is("ballMill") ? 1 : key.is("radiusMill") ? 3 : 2;
    if (key.get("rampAngle")) {
        b.macroTswin = key.number();
        p.helixPlungeAngle = key.number() * kDegree;
    }
    if (key.get("depthOffset")) p.depthOffset = key.number();
    if (key.get("approachFactor")) p.approachLength = key.number() * p.toolDiameter;
    if (key.get("leavingFactor")) p.leavingLength = key.number() * p.toolDiameter;
    if (key.get("infeedRadius")) b.infeedRadius = p.infeedRadius = k.infeedRadiusLimit = key.number();
    if (key.get("filletRadius")) b.filletRadius = p.filletRadius = k.filletRadiusLimit = key.number();
    if (key.get("completePocket"))
        b.completePocket = static_cast<int16_t>(p.completePocket = key.flag("true"));
    if (key.get("stockTolerance")) p.stockTolerance = k.stockTolerance = key.number();
    if (key.get("retractPlane")) p.retractPlane = key.number();
    if (key.get("filletCorners")) b.filletCorners = static_cast<int16_t>(p.filletCorners = key.flag("true"));
    if (key.get("considerToolType"))
        b.considerTooltype = static_cast<int16_t>(p.considerToolType = key.flag("true"));
    if (key.get("cutterCompensation")) p.cutterCompensation = key.flag("true");
    if (key.get("splitPath")) p.splitPath = k.splitPath = key.flag("true");
    if (key.get("invertSequence")) k.invertSequence = key.flag("true");
    if (key.get("pocketContour")) k.pocketContour = key.flag("true");
    if (key.get("reduceContours")) p.reduceContours = key.is("false") ? 0 : 1;
    if (key.get("stepStrategy")) k.pocketWise = key.flag("pocket");
    if (key.get("overlap")) k.overlap = key.number();
    if (key.get("reducedFeedrate")) p.reducedFeedrate = key.magnitude();
    if (key.get("plungeAtLastPosition")) p.plungeAtLastPosition = key.is("false") ? 0 : 1;
    if (key.get("openInsideOut")) k.openInsideOut = key.flag("true");
    if (key.get("noPlunge")) k.noPlunge = key.flag("true");
    if (key.get("rampAddClearance")) k.rampClearance = key.magnitude();
    if (key.get("spiral") && key.is("true")) k.spiral = 1;
    if (key.get("allowSingleCut")) p.allowSingleCut = key.flag("true");
    if (key.get("singleCutOverlapFactor")) p.singleCutOverlapFactor = key.magnitude();
    if (key.get("spiralTolerance")) p.spiralTolerance = key.magnitude();
    if (key.get("surfaceOffset")) p.surfaceOffset = key.number();
    if (key.get("forceInside") && key.is("true")) k.forceInside = 1;
    if (key.get("stockOffset")) k.stockOffset = key.number();
    if (key.get("optimizeSingleCut")) k.optimizeSingleCut = key.is("false") ? 0 : 1;
    if (key.get("suppressReduction")) k.suppressReduction = key.is("false") ? 0 : 1;
    if (key.get("triggerInfeed")) k.triggerInfeed = key.is("false") ? 0 : 1;
    if (key.get("reduceFactor")) k.reduceFactor = key.magnitude();
    if (key.get("trochoidSteps")) {
        const double n = key.number();
        k.trochoidSteps = std::isfinite(n) && std::fabs(n) < 1e9 ? static_cast<int32_t>(n) : 0;
    }
    if (key.get("arcCorrection")) k.arcCorrection = key.is("false") ? 0 : 1;
    if (key.refused()) {
        keyError(record, kPocketMsgBadValue, key.refused());
        return 0;
    }
    return 1;
}
