// The keys a configuration run's keyword block becomes: each field's word or number, and the keys
// left out below their thresholds or outside their modes.
#include "pocket/pocketpcf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "pocket/rifblock.h"
#include "pocket_util.h"

TEST(PocketPcf, EachFieldGivesItsKeyOrNone) {
    using Set = std::function<void(RifBlock&)>;
    struct Key {
        const char* key;
        const char* word;  // null: the key is absent; "#": the number
        double number;
    };
    const struct {
        Set set;
        std::vector<Key> keys;
    } cases[] = {
        {[](RifBlock&) {},
         {{"strategy", nullptr, 0},
          {"stock", nullptr, 0},
          {"lengthOfUnit", nullptr, 0},
          {"edgeMovement", "false", 0},
          {"filletCorners", nullptr, 0},
          {"considerToolType", nullptr, 0},
          {"retractEachPlane", "false", 0},
          {"plungeAtLastPosition", "false", 0},
          {"plungeType", nullptr, 0},
          {"startX", nullptr, 0},
          {"reducedFeedrate", nullptr, 0},
          {"trochoidSteps", nullptr, 0}}},
        {[](RifBlock& b) {
             b.frtyp = 1, b.toolTip = 1, b.umlauf = 1, b.rvorschub = 1e-5, b.macroTabst = 1e-5;
             b.surfaceOffset = -1e-5, b.macroTmode = 3, b.macroTswin = 7, b.macroIwin = 6, b.drehricht = 3;
             b.planeRetract = 1, b.plungeLast = 1, b.macroEnd = 1, b.macroErad = 2, b.wallAngle = 1.1e-5;
             b.inch = 1, b.trochCount = 3, b.completePocket = 1, b.edgeMovement = 1, b.filletCorners = 1;
             b.considerTooltype = 1, b.frradius = 2.5, b.frbogen = 1.5;
         },
         {{"toolType", "ballMill", 0},
          {"toolDiameter", "#", 5},
          {"cornerRadius", nullptr, 0},
          {"toolReference", "tip", 0},
          {"orientation", "counterClockwise", 0},
          {"reducedFeedrate", "#", 1e-5},
          {"rampAddClearance", "#", 1e-5},
          {"surfaceOffset", "#", -1e-5},
          {"plungeType", "ramp", 0},
          {"rampAngle", "#", 7},
          {"helixAngleResolution", "#", 6},
          {"spindleRotation", "none", 0},
          {"retractEachPlane", nullptr, 0},
          {"plungeAtLastPosition", nullptr, 0},
          {"leavingType", "perpendicular", 0},
          {"leavingLength", "#", 2},
          {"wallAngle", "#", 1.1e-5},
          {"lengthOfUnit", "inch", 0},
          {"trochoidSteps", "3", 0},
          {"completePocket", "true", 0},
          {"edgeMovement", "true", 0},
          {"filletCorners", "true", 0},
          {"considerToolType", "true", 0}}},
        {[](RifBlock& b) {
             b.frtyp = 2, b.frbogen = 1.5, b.toolTip = 2, b.umlauf = 2, b.rvorschub = 9e-6,
             b.macroTabst = 9e-6;
             b.surfaceOffset = 9e-6, b.macroTmode = 2, b.macroTrad = 3, b.macroHwin = 4, b.planeRetract = 2;
             b.plungeLast = 0, b.macroEnd = 3, b.wallAngle = 1e-5, b.trochCount = -1, b.spiral = 1;
             b.spiralTol = 0.25, b.openPocket = 1, b.overlap = 2e-5, b.openInout = 1;
         },
         {{"toolType", "endMill", 0},
          {"cornerRadius", nullptr, 0},
          {"toolReference", "center", 0},
          {"orientation", "clockwise", 0},
          {"reducedFeedrate", nullptr, 0},
          {"rampAddClearance", nullptr, 0},
          {"surfaceOffset", nullptr, 0},
          {"plungeType", "helical", 0},
          {"helixRadius", "#", 3},
          {"helixAngleResolution", "#", 4},
          {"retractEachPlane", "false", 0},
          {"plungeAtLastPosition", "false", 0},
          {"leavingType", "quarterCircle", 0},
          {"wallAngle", nullptr, 0},
          {"trochoidSteps", nullptr, 0},
          {"spiralTolerance", "#", 0.25},
          {"strategy", "openPocket", 0},
          {"overlap", "#", 2e-5},
          {"openInsideOut", "true", 0}}},
        {[](RifBlock& b) {
             b.frtyp = 3, b.frbogen = 1.5, b.rvorschub = -3, b.macroTmode = 1, b.macroEnd = 2, b.spiral = 0;
             b.spiralTol = 0.25, b.openPocket = 1, b.overlap = 9e-6, b.stock = 1, b.macroStart = 1;
             b.completePocket = 1, b.zustellOk = 1, b.startpt[0] = 3, b.startpt[1] = -4;
             b.nckoX[0] = 1, b.nckoX[1] = 2, b.nckoX[2] = 3;
         },
         {{"toolType", "radiusMill", 0},
          {"cornerRadius", "#", 1.5},
          {"reducedFeedrate", "#", -3},
          {"plungeType", nullptr, 0},
          {"leavingLength", nullptr, 0},
          {"spiral", nullptr, 0},
          {"overlap", nullptr, 0},
          {"approachType", "perpendicular", 0},
          {"stock", "force", 0},
          {"completePocket", "false", 0},
          {"startExplicit", "true", 0},
          {"startX", "#", 3},
          {"startY", "#", -4},
          {"frameCs_x", "1.000000,2.000000,3.000000", 0}}},
        {[](RifBlock& b) {
             b.openPocket = 1, b.overlap = -2e-5, b.stock = 1, b.macroStart = 3, b.macroSrad = 4;
         },
         {{"overlap", "#", -2e-5}, {"approachType", "quarterCircle", 0}, {"approachLength", "#", 4}}},
        {[](RifBlock& b) { b.stock = 1, b.stockonly = 1, b.macroStart = 2; },
         {{"stock", "stockOnly", 0}, {"approachType", nullptr, 0}}},
        {[](RifBlock& b) { b.openPocket = 0, b.overlap = 2, b.openInout = 1, b.macroStart = 1; },
         {{"overlap", nullptr, 0}, {"openInsideOut", nullptr, 0}, {"approachType", nullptr, 0}}},
    };
    PocketErrors state;
    TempFolder tmp;
    for (const auto& c : cases) {
        rifResetState();
        kvListFree(kvCCP.vars), kvCCP.vars = nullptr;
        pocketKernel().stockPocket = 0;
        RifBlock& b = *rifBlock();
        strcpy(b.tmpDir, tmp.path().c_str());
        c.set(b);
        const bool stock = b.stock != 0;
        ASSERT_EQ(pocketWritePcf(&kvCCP), 1);
        EXPECT_EQ(pocketKernel().stockPocket, stock ? 1 : 0);
        for (const Key& k : c.keys) {
            uint16_t type = 99;  // every key the writer sets, trochoidSteps too, has the same plain origin 0
            char* v = kvListGet(kvCCP.vars, k.key, &type);
            EXPECT_EQ(type, v ? 0 : 99) << k.key;
            if (!k.word) {
                EXPECT_EQ(v, nullptr) << k.key << " " << (v ? v : "");
            } else if (!v) {
                ADD_FAILURE() << k.key << " missing";
            } else if (strcmp(k.word, "#") == 0) {
                EXPECT_NEAR(std::stod(v), k.number, 1e-9 + 1e-9 * std::fabs(k.number)) << k.key;
            } else {
                EXPECT_STREQ(v, k.word) << k.key;
            }
            free(v);
        }
    }
    EXPECT_EQ(pocketWritePcf(nullptr), 0);
}
