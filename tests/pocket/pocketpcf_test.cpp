// The keys a configuration run's keyword block becomes: each field's word or number, and the keys
// left out below their thresholds or outside their modes.
#include "pocket/pocketpcf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>

#include "pocket/rifblock.h"
#include "pocket_util.h"

TEST(PocketPcf, EachFieldGivesItsKeyOrNone) {
    using Set = std::function<void(RifBlock&)>;
    const struct {
        Set set;
        const char* key;
        const char* word;  // null: the key is absent
        double number;     // when word is "#": the key's number
    } cases[] = {
        {[](RifBlock& b) { b.frtyp = 1; }, "toolType", "ballMill", 0},
        {[](RifBlock& b) { b.frtyp = 2; }, "toolType", "endMill", 0},
        {[](RifBlock& b) { b.frtyp = 3, b.frbogen = 1.5; }, "toolType", "radiusMill", 0},
        {[](RifBlock& b) { b.frtyp = 3, b.frbogen = 1.5; }, "cornerRadius", "#", 1.5},
        {[](RifBlock& b) { b.frtyp = 2, b.frbogen = 1.5; }, "cornerRadius", nullptr, 0},
        {[](RifBlock& b) { b.frradius = 2.5; }, "toolDiameter", "#", 5},
        {[](RifBlock& b) { b.toolTip = 1; }, "toolReference", "tip", 0},
        {[](RifBlock& b) { b.toolTip = 2; }, "toolReference", "center", 0},
        {[](RifBlock& b) { b.openPocket = 1; }, "strategy", "openPocket", 0},
        {[](RifBlock&) {}, "strategy", nullptr, 0},
        {[](RifBlock& b) { b.openPocket = 1, b.overlap = 2e-5; }, "overlap", "#", 2e-5},
        {[](RifBlock& b) { b.openPocket = 1, b.overlap = -2e-5; }, "overlap", "#", -2e-5},
        {[](RifBlock& b) { b.openPocket = 1, b.overlap = 9e-6; }, "overlap", nullptr, 0},
        {[](RifBlock& b) { b.openPocket = 0, b.overlap = 2; }, "overlap", nullptr, 0},
        {[](RifBlock& b) { b.openPocket = 1, b.openInout = 1; }, "openInsideOut", "true", 0},
        {[](RifBlock& b) { b.openPocket = 0, b.openInout = 1; }, "openInsideOut", nullptr, 0},
        {[](RifBlock& b) { b.rvorschub = 1e-5; }, "reducedFeedrate", "#", 1e-5},
        {[](RifBlock& b) { b.rvorschub = -3; }, "reducedFeedrate", "#", -3},
        {[](RifBlock& b) { b.rvorschub = 9e-6; }, "reducedFeedrate", nullptr, 0},
        {[](RifBlock& b) { b.macroTabst = 1e-5; }, "rampAddClearance", "#", 1e-5},
        {[](RifBlock& b) { b.macroTabst = 9e-6; }, "rampAddClearance", nullptr, 0},
        {[](RifBlock& b) { b.surfaceOffset = -1e-5; }, "surfaceOffset", "#", -1e-5},
        {[](RifBlock& b) { b.surfaceOffset = 9e-6; }, "surfaceOffset", nullptr, 0},
        {[](RifBlock& b) { b.zustellOk = 1, b.startpt[0] = 3, b.startpt[1] = -4; }, "startX", "#", 3},
        {[](RifBlock& b) { b.zustellOk = 1, b.startpt[0] = 3, b.startpt[1] = -4; }, "startY", "#", -4},
        {[](RifBlock& b) { b.zustellOk = 1; }, "startExplicit", "true", 0},
        {[](RifBlock& b) { b.zustellOk = 0, b.startpt[0] = 3; }, "startX", nullptr, 0},
        {[](RifBlock& b) { b.umlauf = 1; }, "orientation", "counterClockwise", 0},
        {[](RifBlock& b) { b.umlauf = 2; }, "orientation", "clockwise", 0},
        {[](RifBlock& b) { b.spiral = 1, b.spiralTol = 0.25; }, "spiralTolerance", "#", 0.25},
        {[](RifBlock& b) { b.spiral = 0, b.spiralTol = 0.25; }, "spiral", nullptr, 0},
        {[](RifBlock& b) { b.macroTmode = 2, b.macroTrad = 3; }, "helixRadius", "#", 3},
        {[](RifBlock& b) { b.macroTmode = 2, b.macroHwin = 4; }, "helixAngleResolution", "#", 4},
        {[](RifBlock& b) { b.macroTmode = 3, b.macroTswin = 7; }, "rampAngle", "#", 7},
        {[](RifBlock& b) { b.macroTmode = 3, b.macroIwin = 6; }, "helixAngleResolution", "#", 6},
        {[](RifBlock& b) { b.macroTmode = 3; }, "plungeType", "ramp", 0},
        {[](RifBlock& b) { b.macroTmode = 1; }, "plungeType", nullptr, 0},
        {[](RifBlock& b) { b.drehricht = 3; }, "spindleRotation", "none", 0},
        {[](RifBlock& b) { b.planeRetract = 1; }, "retractEachPlane", nullptr, 0},
        {[](RifBlock& b) { b.planeRetract = 2; }, "retractEachPlane", "false", 0},
        {[](RifBlock& b) { b.plungeLast = 0; }, "plungeAtLastPosition", "false", 0},
        {[](RifBlock& b) { b.plungeLast = 1; }, "plungeAtLastPosition", nullptr, 0},
        {[](RifBlock& b) { b.macroEnd = 1, b.macroErad = 2; }, "leavingType", "perpendicular", 0},
        {[](RifBlock& b) { b.macroEnd = 3, b.macroErad = 2; }, "leavingLength", "#", 2},
        {[](RifBlock& b) { b.macroEnd = 3; }, "leavingType", "quarterCircle", 0},
        {[](RifBlock& b) { b.macroEnd = 2; }, "leavingLength", nullptr, 0},
        {[](RifBlock& b) { b.stock = 1, b.macroStart = 1; }, "approachType", "perpendicular", 0},
        {[](RifBlock& b) { b.stock = 1, b.macroStart = 3, b.macroSrad = 4; }, "approachLength", "#", 4},
        {[](RifBlock& b) { b.stock = 1, b.macroStart = 2; }, "approachType", nullptr, 0},
        {[](RifBlock& b) { b.stock = 0, b.macroStart = 1; }, "approachType", nullptr, 0},
        {[](RifBlock& b) { b.wallAngle = 1.1e-5; }, "wallAngle", "#", 1.1e-5},
        {[](RifBlock& b) { b.wallAngle = 1e-5; }, "wallAngle", nullptr, 0},
        {[](RifBlock& b) { b.stock = 1, b.stockonly = 1; }, "stock", "stockOnly", 0},
        {[](RifBlock& b) { b.stock = 1; }, "stock", "force", 0},
        {[](RifBlock&) {}, "stock", nullptr, 0},
        {[](RifBlock& b) { b.inch = 1; }, "lengthOfUnit", "inch", 0},
        {[](RifBlock&) {}, "lengthOfUnit", nullptr, 0},
        {[](RifBlock& b) { b.trochCount = 3; }, "trochoidSteps", "3", 0},
        {[](RifBlock& b) { b.trochCount = -1; }, "trochoidSteps", nullptr, 0},
        {[](RifBlock& b) { b.completePocket = 1; }, "completePocket", "true", 0},
        {[](RifBlock& b) { b.completePocket = 1, b.stock = 1; }, "completePocket", "false", 0},
        {[](RifBlock& b) { b.edgeMovement = 1; }, "edgeMovement", "true", 0},
        {[](RifBlock&) {}, "edgeMovement", "false", 0},
        {[](RifBlock& b) { b.filletCorners = 1; }, "filletCorners", "true", 0},
        {[](RifBlock&) {}, "filletCorners", nullptr, 0},
        {[](RifBlock& b) { b.considerTooltype = 1; }, "considerToolType", "true", 0},
        {[](RifBlock&) {}, "considerToolType", nullptr, 0},
    };
    PocketErrors state;
    TempFolder tmp;
    for (const auto& c : cases) {
        rifResetState();
        kvListFree(kvCCP.vars);
        kvCCP.vars = nullptr;
        pocketKernel().stockPocket = 0;
        RifBlock& b = *rifBlock();
        strcpy(b.tmpDir, tmp.path().c_str());
        c.set(b);
        const bool stock = b.stock != 0;
        ASSERT_EQ(pocketWritePcf(&kvCCP), 1) << c.key;
        EXPECT_EQ(pocketKernel().stockPocket, stock ? 1 : 0);
        char* v = kvListGet(kvCCP.vars, c.key, nullptr);
        if (!c.word) {
            EXPECT_EQ(v, nullptr) << c.key << " " << (v ? v : "");
        } else if (!v) {
            ADD_FAILURE() << c.key << " missing";
        } else if (strcmp(c.word, "#") == 0) {
            EXPECT_NEAR(std::stod(v), c.number, 1e-9 + 1e-9 * std::fabs(c.number)) << c.key;
        } else {
            EXPECT_STREQ(v, c.word) << c.key;
        }
        free(v);
    }
    EXPECT_EQ(pocketWritePcf(nullptr), 0);
}
