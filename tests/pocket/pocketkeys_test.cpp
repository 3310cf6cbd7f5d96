// The pocket record's keys: each word or number reaches its field (and its copy in the block record or
// the kernel), with the words' own meanings; what is not given keeps its value.
#include "pocket/pocketkeys.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "kernel/base/msg.h"
#include "kernel/ncout/ncout.h"
#include "pocket_util.h"

namespace {

constexpr double kDeg = 3.141592653589793 / 180.0;

struct Row {
    const char* key;
    const char* value;
    std::function<double()> field;
    double want;
};

double readAfter(const Row& r) {
    PocketErrors errors;
    kvCCP.vars = kvListSet(kvCCP.vars, "geoSource", "part.kvx", 21);
    kvCCP.vars = kvListSet(kvCCP.vars, "toolDiameter", "10", 21);
    kvCCP.vars = kvListSet(kvCCP.vars, r.key, r.value, 21);
    EXPECT_EQ(pocketReadKeys(&kvCCP), 1) << r.key;
    EXPECT_TRUE(PocketErrors::texts().empty()) << r.key;
    const double v = r.field();
    kvListFree(kvCCP.vars);
    kvCCP.vars = nullptr;
    return v;
}

}  // namespace

TEST(PocketKeys, WordsAndNumbersReachTheirFields) {
    const CcpParams& p = kvCCPParams;
    const PocketKernel& k = pocketKernel();
    const RifBlock& b = *rifBlock();
    const Row rows[] = {
        {"lengthOfUnit", "inch", [&] { return p.inch; }, 1},
        {"lengthOfUnit", "mm", [&] { return p.inch; }, 0},
        {"splitPath", "true", [&] { return p.splitPath + 10 * k.splitPath; }, 11},
        {"splitPath", "false", [&] { return p.splitPath + 10 * k.splitPath; }, 0},
        {"completePocket", "true", [&] { return p.completePocket + 10 * b.completePocket; }, 11},
        {"filletCorners", "true", [&] { return p.filletCorners + 10 * b.filletCorners; }, 11},
        {"considerToolType", "true", [&] { return p.considerToolType + 10 * b.considerTooltype; }, 11},
        {"cutterCompensation", "true", [&] { return p.cutterCompensation; }, 1},
        {"invertSequence", "true", [&] { return k.invertSequence; }, 1},
        {"pocketContour", "true", [&] { return k.pocketContour; }, 1},
        {"stepStrategy", "pocket", [&] { return k.pocketWise; }, 1},
        {"stepStrategy", "plane", [&] { return k.pocketWise; }, 0},
        {"openInsideOut", "true", [&] { return k.openInsideOut; }, 1},
        // A word key not given is not set by the "true" of the key read before it.
        {"noPlunge", "true", [&] { return k.noPlunge + 10 * k.spiral + 100 * k.forceInside; }, 1},
        {"spiral", "true", [&] { return k.spiral; }, 1},
        {"forceInside", "true", [&] { return k.forceInside; }, 1},
        {"allowSingleCut", "true", [&] { return p.allowSingleCut; }, 1},
        {"reduceContours", "false", [&] { return p.reduceContours; }, 0},
        {"reduceContours", "yes", [&] { return p.reduceContours; }, 1},
        {"plungeAtLastPosition", "false", [&] { return p.plungeAtLastPosition; }, 0},
        {"optimizeSingleCut", "false", [&] { return k.optimizeSingleCut; }, 0},
        {"suppressReduction", "true", [&] { return k.suppressReduction; }, 1},
        {"triggerInfeed", "true", [&] { return k.triggerInfeed; }, 1},
        {"arcCorrection", "false", [&] { return k.arcCorrection; }, 0},
        // Keys that are on for any word but "false" read so both ways.
        {"arcCorrection", "yes", [&] { return k.arcCorrection; }, 1},
        {"optimizeSingleCut", "yes", [&] { return k.optimizeSingleCut; }, 1},
        {"suppressReduction", "false", [&] { return k.suppressReduction; }, 0},
        {"triggerInfeed", "false", [&] { return k.triggerInfeed; }, 0},
        {"plungeAtLastPosition", "yes", [&] { return p.plungeAtLastPosition; }, 1},
        {"generateRif", "true", [&] { return p.generateRif + 10 * b.genRif; }, 11},
        {"evaluateRif", "true", [&] { return p.evaluateRif + 10 * b.evalRif; }, 11},
        {"startExplicit", "true", [&] { return p.startExplicit + 10 * b.zustellOk + 100 * p.edgeMovement; },
         11},
        {"startX", "-3.5", [&] { return p.startX + b.zustellX; }, -7},
        {"startY", "2.25", [&] { return p.startY + b.zustellY; }, 4.5},
        {"oriAutomatic", "single", [&] { return p.oriAutomatic; }, 1},
        {"oriAutomatic", "full", [&] { return p.oriAutomatic; }, 2},
        {"orientation", "clockwise", [&] { return p.orientation; }, -1},
        {"edgeMovement", "force", [&] { return p.edgeMovement + 10 * b.edgeMovement; }, 22},
        {"stock", "stockOnly", [&] { return p.stock; }, 3},
        {"stock", "multi", [&] { return p.stock; }, 4},
        {"strategy", "outsideInDirect", [&] { return p.strategy + 100 * b.strategy; },
         101 * kCcpOutsideInDirect},
        {"strategy", "stockOutin", [&] { return p.strategy; }, kCcpStockOutin},
        {"strategy", "openPocket", [&] { return p.strategy; }, kCcpOpenPocket},
        {"strategy", "contourParallel", [&] { return p.strategy; }, kCcpContourParallel},
        {"plungeType", "helical", [&] { return p.plungeType + 10 * b.macroTmode; }, 11},
        {"plungeType", "ramp", [&] { return p.plungeType; }, 3},
        {"plungeType", "straight", [&] { return p.plungeType; }, 2},
        {"helixRadius", "4", [&] { return p.helixRadius + b.macroTrad; }, 8},
        {"helixAngleResolution", "6", [&] { return p.helixAngleResolution / kDeg + b.macroIwin; }, 12},
        {"rampAngle", "3", [&] { return p.helixPlungeAngle / kDeg + b.macroTswin; }, 6},
        {"leavingType", "quarterCircle", [&] { return p.leavingType; }, 3},
        {"leavingLength", "2.5", [&] { return p.leavingLength; }, 2.5},
        {"leavingFactor", "0.3", [&] { return p.leavingLength; }, 3},
        {"approachType", "halfCircle", [&] { return p.approachType; }, 4},
        {"approachLength", "-1.5", [&] { return p.approachLength; }, 1.5},
        {"approachFactor", "0.2", [&] { return p.approachLength; }, 2},
        {"stockMovement", "rapid", [&] { return p.stockMovement; }, 1},
        {"stockMovement", "contour", [&] { return p.stockMovement; }, 0},
        {"retractEachPlane", "false", [&] { return p.retractEachPlane + p.retractEachPlaneRun; }, 0},
        {"wallAngle", "-4", [&] { return p.wallAngle; }, -4},
        {"cornerRadius", "1.25", [&] { return p.cornerRadius; }, 1.25},
        {"toolType", "ballMill", [&] { return p.toolType; }, 1},
        {"toolType", "radiusMill", [&] { return p.toolType; }, 3},
        {"toolType", "endMill", [&] { return p.toolType; }, 2},
        {"depthOffset", "-0.5", [&] { return p.depthOffset; }, -0.5},
        {"infeedRadius", "1.5", [&] { return p.infeedRadius + b.infeedRadius + k.infeedRadiusLimit; }, 4.5},
        {"filletRadius", "0.5", [&] { return p.filletRadius + b.filletRadius + k.filletRadiusLimit; }, 1.5},
        {"stockTolerance", "0.05", [&] { return p.stockTolerance + k.stockTolerance; }, 0.1},
        {"retractPlane", "40", [&] { return p.retractPlane; }, 40},
        {"overlap", "0.7", [&] { return k.overlap; }, 0.7},
        {"reducedFeedrate", "-120", [&] { return p.reducedFeedrate; }, 120},
        {"rampAddClearance", "-2", [&] { return k.rampClearance; }, 2},
        {"singleCutOverlapFactor", "-0.3", [&] { return p.singleCutOverlapFactor; }, 0.3},
        {"spiralTolerance", "-0.02", [&] { return p.spiralTolerance; }, 0.02},
        {"surfaceOffset", "-1", [&] { return p.surfaceOffset; }, -1},
        {"stockOffset", "0.4", [&] { return k.stockOffset; }, 0.4},
        {"reduceFactor", "-3", [&] { return k.reduceFactor; }, 3},
        {"trochoidSteps", "12", [&] { return k.trochoidSteps; }, 12},
        {"trochoidSteps", "1e12", [&] { return k.trochoidSteps; }, 0},
        {"clearancePlane", "-7", [&] { return p.clearancePlane; }, -7},
        {"clearanceDistance", "3", [&] { return p.clearanceDistance; }, 3},
        {"planeFeedrate", "-500", [&] { return p.planeFeedrate; }, 500},
        {"zFeedrate", "-90", [&] { return p.zFeedrate; }, 90},
        {"planeAllowance", "-0.2", [&] { return p.planeAllowance; }, -0.2},
        {"infeedLength", "6", [&] { return p.infeedLength; }, 6},
        {"epsilon", "-0.001", [&] { return p.epsilon; }, 0.001},
        {"infeedDepth", "2.5", [&] { return p.infeedDepth; }, 2.5},
        {"surface", "12", [&] { return p.surface + b.oberfl; }, 24},
        {"depth", "-8", [&] { return p.depth + b.tief; }, 16},
        {"rifMinLength", "0.5", [&] { return p.rifMinLength + b.minLength; }, 1},
        {"referenceToolDiameter", "6", [&] { return p.useReferenceDiameter + 10 * p.referenceRadius; }, 31},
        {"useReferenceDiameter", "true", [&] { return p.useReferenceDiameter; }, 1},
        {"useReferenceToolDiameter", "true", [&] { return p.useReferenceDiameter; }, 1},
        {"referenceDiameter", "4", [&] { return p.useReferenceDiameter + 10 * p.referenceRadius; }, 21},
        {"edgeMovement", "true", [&] { return p.edgeMovement + 10 * b.edgeMovement; }, 11},
        {"edgeMovement", "false",
         [&] { return p.edgeMovement + 10 * b.edgeMovement + 100 * p.retractEachPlane; }, 100},
        {"stock", "true", [&] { return p.stock; }, 1},
        {"stock", "force", [&] { return p.stock; }, 2},
        {"stock", "yes", [&] { return p.stock; }, 0},
        {"strategy", "outsideIn", [&] { return p.strategy + 100 * k.outsideIn; }, kCcpOutsideIn + 100},
        {"strategy", "axisParallel", [&] { return p.strategy + 100 * k.axisParallel; },
         kCcpAxisParallel + 100},
        {"oriAutomatic", "none", [&] { return p.oriAutomatic; }, 0},
        {"orientation", "counterClockwise", [&] { return p.orientation; }, 1},
        {"helixPlungeAngle", "5", [&] { return p.helixPlungeAngle / kDeg + b.macroTswin; }, 10},
        {"infeedFactor", "0.4", [&] { return p.infeedLength; }, 4},
        {"frame", "1,2,3,4,5,6", [&] { return std::string(p.frame) == "1/2/3/4/5/6"; }, 1},
        {"frame", "1,2,3,4,5", [&] { return p.frame[0] != 0; }, 0},
        {"frameOn", "true", [&] { return p.frameOn + p.frameOff; }, 0},  // without a frame
        {"rifSource", "rings.g", [&] { return std::string(p.rifSource) + b.rifName == "rings.grings.g"; }, 1},
        {"clamps", "c.kvx", [&] { return std::string(p.clamps) == "c.kvx"; }, 1},
    };
    for (const Row& r : rows) EXPECT_NEAR(readAfter(r), r.want, 1e-12) << r.key << " " << r.value;
}

// A value the cycle cannot cut with fails the read and is named (message 2): a step width that is not
// positive, a negative infeed depth, a number that is not finite; the smallest good values pass. A
// missing required key is named with message 1, a tool radius under 1e-4 fails with 3040 (host 1511).
TEST(PocketKeys, BadValuesAreRefusedByName) {
    const struct {
        std::vector<std::pair<const char*, const char*>> keys;
        const char* sent;  // null: read
    } cases[] = {
        {{{"infeedLength", "0"}}, "102 2,(infeedLength)"},
        {{{"infeedLength", "-1"}}, "102 2,(infeedLength)"},
        {{{"infeedLength", "0.001"}}, nullptr},
        {{{"infeedFactor", "0"}}, "102 2,(infeedFactor)"},
        {{{"infeedFactor", "0.01"}}, nullptr},
        {{{"infeedDepth", "-0.5"}}, "102 2,(infeedDepth)"},
        {{{"infeedDepth", "0"}}, nullptr},
        {{{"clearancePlane", "nan"}}, "102 2,(clearancePlane)"},
        {{{"zFeedrate", "inf"}}, "102 2,(zFeedrate)"},
        {{{"infeedDepth", "-1"}, {"clearancePlane", "nan"}}, "102 2,(clearancePlane)"},
        {{{"geoSource", nullptr}}, "102 1,(geoSource)"},
        {{{"toolDiameter", nullptr}}, "102 1,(toolDiameter)"},
        {{{"toolDiameter", "2e-4"}}, nullptr},  // the smallest tool radius, 1e-4
        {{{"toolDiameter", "1.99e-4"}}, "101 1511"},
        {{{"toolDiameter", "-10"}}, "101 1511"},
        {{{"toolDiameter", "nan"}}, "101 1511"},
        // Words outside a key's list warn on the trace channel and read as the first word.
        {{{"leavingType", "sideways"}}, "4:101 4712,(sideways)"},
        {{{"approachType", "around"}}, "4:101 4712,(around)"},
        {{{"stockMovement", "jump"}}, "4:101 4712,(jump)"},
        // The frame switches are read only with a frame.
        {{{"frame", "0,0,0,1,0,0"}, {"frameOn", "true"}, {"frameOff", "true"}}, nullptr},
    };
    for (const auto& c : cases) {
        PocketErrors errors;
        kvCCPParams.geoSource[0] = '\0';
        std::vector<std::pair<const char*, const char*>> keys = {{"geoSource", "part.kvx"},
                                                                 {"toolDiameter", "10"}};
        for (const auto& k : c.keys) {
            auto same = std::find_if(keys.begin(), keys.end(),
                                     [&](const auto& have) { return std::string(have.first) == k.first; });
            if (same != keys.end())
                same->second = k.second;
            else
                keys.push_back(k);
        }
        for (const auto& [name, value] : keys)
            if (value) kvCCP.vars = kvListSet(kvCCP.vars, name, value, 21);
        const bool warning = c.sent && c.sent[0] == '4';
        EXPECT_EQ(pocketReadKeys(&kvCCP), c.sent && !warning ? 0 : 1) << c.keys[0].first;
        if (warning) {
            EXPECT_EQ(kvCCPParams.leavingType + kvCCPParams.approachType + kvCCPParams.stockMovement, 0);
        }
        EXPECT_EQ(kvCCPParams.frameOn + kvCCPParams.frameOff, c.keys.size() == 3 ? 2 : 0);
        EXPECT_EQ(PocketErrors::texts(),
                  c.sent ? std::vector<std::string>{c.sent} : std::vector<std::string>{})
            << c.keys[0].first;
        kvListFree(kvCCP.vars);
        kvCCP.vars = nullptr;
    }
}

// A text longer than its field is cut to it and named at message level 9 (5190), the record's as the
// block's; one that just fills its field is kept whole and not named.
TEST(PocketKeys, LongTextsAreCutAndNamed) {
    for (const size_t over : {0, 1}) {
        PocketErrors errors;
        const std::string name(kCcpTextMax + over, 'g'), rif(kRifTextMax + over, 'r');
        for (const auto& [key, value] : {std::pair{"geoSource", &name}, {"rifSource", &rif}})
            kvCCP.vars = kvListSet(kvCCP.vars, key, value->c_str(), 21);
        kvCCP.vars = kvListSet(kvCCP.vars, "toolDiameter", "10", 21);
        ncSetWriter(&kvCCP);
        setMessageLevel(nullptr, 9);
        EXPECT_EQ(pocketReadKeys(&kvCCP), 1);
        ncSetWriter(nullptr);
        msgResetState();
        EXPECT_EQ(std::string(kvCCPParams.geoSource), name.substr(0, kCcpTextMax));
        EXPECT_EQ(std::string(rifBlock()->rifName), rif.substr(0, kRifTextMax));
        EXPECT_EQ(PocketErrors::texts(),
                  (over ? std::vector<std::string>{"101 5190,geoSource", "101 5190,rifSource"}
                        : std::vector<std::string>{}));
        kvListFree(kvCCP.vars);
        kvCCP.vars = nullptr;
    }
}
