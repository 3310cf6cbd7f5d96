#include "plunge/plungerun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "../geometry/msg_capture.h"
#include "../platform/testenv.h"
#include "collision/chkmodel.h"
#include "collision/collreport.h"
#include "collision/toolassembly.h"
#include "geometry/frames.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycle.h"
#include "plunge/idx5.h"
#include "kernel/ncout/ncout.h"
#include "nctrace.h"
#include "paramtest.h"
#include "plunge/paramsense.h"
#include "plunge/runsetup.h"
#include "surfaces/meshfiles/meshtest.h"
#include "surfaces/polyimport.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// A keyword of the run's record, or a value the set-up derived ("cutter.kind", "nc.stepMin", ...).
double valueOf(const std::string& name) {
    const CutterShape* c = cycleCutterShape();
    const CycleNcCtx* nc = cycleNcCtx();
    if (name == "cutter.kind") return c->kind;
    if (name == "cutter.radius") return c->radius;
    if (name == "cutter.corner") return c->cornerRadius;
    if (name == "nc.stepMin") return nc->stepMin;
    if (name == "nc.stepMax") return nc->stepMax;
    if (name == "nc.calcStepMax") return nc->calcStepMax;
    if (name == "tool.size2") return cycleToolCtx()->tool.size2;
    if (name == "tool.radius") return cycleToolCtx()->tool.radius;
    if (name == "nc.calcStepMin") return nc->calcStepMin;
    if (name == "nc.coll") return nc->collisionCheck;
    if (name == "nc.lead") return nc->leadAngle;
    if (name == "nc.tiltMax") return nc->tiltMax;
    if (name == "nc.plungeWidth") return nc->plungeWidth;
    if (name == "nc.toolType") return nc->tool.toolType;
    if (name == "nc.links")
        return nc->checkPlane * 1000 + nc->checkZlift * 100 + nc->rapidLogic * 10 + nc->clearMovement;
    if (name == "report") return collrep_current() != nullptr;
    if (name == "start.z") return numberOf(cycleParams(), "*STARTPT", 2);
    if (name == "nc.maxPlaneAngle") return nc->maxPlaneAngle;
    if (name == "nc.maxDistAngle") return nc->maxDistAngle;
    if (name == "nc.clearFeedrate") return nc->clearFeedrate;
    if (name == "nc.maxClearDist") return nc->maxClearDist;
    if (name == "nc.tilt") return nc->tiltStrategy * 10 + nc->avoidColl;
    if (name == "nc.cosStepWin") return nc->cosStepWin;
    if (name == "nc.compAxval") return nc->compAxval;
    if (name == "nc.boundarySwitch") return nc->boundarySwitch;
    if (name == "nc.clearance") return nc->clearanceDistance * 1000 + nc->clearancePlane;
    if (name == "mirror") return framePairGetMode();  // -1: one plane mirrors
    if (name.rfind("frame", 0) == 0) {  // where the world's (1, 2, 3) lies; C: the direction from A's
        Vec3 q{1, 2, 3};
        name[5] == 'A'   ? pointWorldToFrameA(&q)
        : name[5] == 'B' ? pointWorldToFrameB(&q)
                         : vecFrameAToFrameC(&q);
        return name.back() == 'x' ? q.x : name.back() == 'y' ? q.y : q.z;
    }
    return numberOf(cycleParams(), name.c_str());
}

class PlungeRun : public ::testing::Test {
  protected:
    void SetUp() override { start(); }
    void TearDown() override {
        capture.reset();
        cyc3dResetState();
        reset();
    }
    static void reset() {
        cycleParamsResetState();
        plungeRunResetState();
    }
    // A fresh process state with these pairs applied, messages captured.
    void start(const Pairs& pairs = {}) {
        capture.reset();
        reset();
        capture.emplace(9);
        EXPECT_EQ(applyPairs(pairs), 1);
    }
    bool sent(int number) const { return nctrace::sent(capture->messages(), number); }
    std::optional<MessageCapture> capture;
};

// A raised calculation step and a shroud band whose top lies below its bottom are error-class notes:
// they reach the host at the highest class (9) only.
TEST_F(PlungeRun, SetupNotesReachTheHostAtTheErrorClassOnly) {
    const struct {
        Pairs pairs;
        int config, message;
    } rows[] = {{{{"*PRECISION", "0.0001"}}, 0, 514},
                {{{"*STEP_STRATEGY", "1"}, {"*SHROUD_DEPTH", "-1"}}, kCycleConfigSetupFailed, 6304}};
    for (const auto& r : rows)
        for (int level : {8, 9}) {
            start(r.pairs);
            setMessageLevel(nullptr, level);
            ASSERT_EQ(loadCycleConfig(nullptr), r.config) << r.message;
            EXPECT_EQ(sent(r.message), level == 9) << r.message << " at " << level;
            collrep_free();
        }
}

TEST_F(PlungeRun, SetupCorrectsTheRunsCopyOnly) {
    struct Case {
        Pairs pairs;
        int config;
        std::vector<int> messages, silent;
        std::vector<std::pair<const char*, double>> values;
    };
    const Case cases[] = {
        {{{"*PRECISION", "0.0001"}}, 0, {514}, {515}, {{"nc.stepMin", 0.0001}, {"nc.stepMax", 0.2}}},
        {{{"*PRECISION", "0.005"}}, 0, {}, {514}, {{"*AUFLMAX", 0.5}}},
        {{{"*PRECISION", "1.25"}},
         0,
         {},
         {515},
         {{"nc.stepMin", 1.0}, {"nc.stepMax", 1.0}}},  // equal: no note
        {{{"*PRECISION", "0.01"}, {"*VERTZUSTEL", "3"}, {"*FAN_FACTOR", "2"}},
         0,
         {},
         {},
         {{"nc.calcStepMax", 1.0},
          {"nc.calcStepMin", 0.005},
          {"*VERTZUSTEL", 10000},
          {"*FAN_FACTOR", 0.9},
          {"*AUFLMAX", 1.0},
          {"*AUFLMIN", 0.008},
          {"*STEP_MIN", 0.005}}},
        {{{"*PRECISION", "0.001"}}, 0, {}, {514}, {{"*AUFLMAX", 0.2}}},
        {{{"*FRTYP", "2"}, {"*FRRADIUS", "3"}, {"*AUFMASS_HORI", "0.5"}},
         0,
         {},
         {},
         {{"cutter.kind", 3},
          {"cutter.corner", 0.5},
          {"cutter.radius", 3.5},
          {"tool.radius", 3.5},
          {"tool.size2", 7}}},
        {{{"*COMMENT", "D10 CORNER = 2"}}, 0, {}, {}, {{"*FRBOGEN", 2}, {"*FRTYP", 3}, {"cutter.kind", 3}}},
        {{{"*INCH", "1"}, {"*COMMENT", "CORNER=0.1"}}, 0, {}, {}, {{"*FRBOGEN", 2.5}}},
        // The APT output point of a ball or torus is a note of class 2, which the host at 9 hears.
        {{{"*TOOL_TIP", "1"}}, 0, {504}, {505}, {}},
        {{{"*TOOL_TIP", "2"}, {"*FRTYP", "3"}}, 0, {505}, {504}, {}},
        {{{"*TOOL_TIP", "2"}, {"*FRTYP", "2"}}, 0, {}, {504, 505}, {}},
        {{{"*TOOL_COLL_CHECK", "0"}}, 0, {6209}, {}, {{"nc.coll", 0}, {"*HOLDCHECK", 0}}},
        {{{"*TOOL_COLL_CHECK", "1"}}, 0, {}, {6209}, {{"nc.coll", 1}, {"*HOLDCHECK", 1}, {"report", 1}}},
        {{{"*COLL_CHECK", "1"}}, 0, {}, {6209}, {{"*TOOL_COLL_CHECK", 0}, {"report", 0}}},
        {{{"*STEP_STRATEGY", "1"}}, 0, {}, {6304}, {{"*SHROUD_DEPTH", 1000}}},
        {{{"*STEP_STRATEGY", "1"}, {"*SHROUD_DEPTH", "-2"}}, -3, {6304}, {}, {}},
        {{{"*GRID_XY", "500"}}, 0, {}, {}, {{"*GRID_XY", 100}}},
        {{{"*GRID_XY", "3"}}, 0, {}, {}, {{"*GRID_XY", 10}}},
        // The tip is as wide as the cutter but for the tip shapes 12 and 13.
        {{{"*AUFMASS_HORI", "0.5"}, {"*FRRADIUS", "3"}}, 0, {}, {}, {{"nc.plungeWidth", 7.0}}},
        {{{"*AUFMASS_HORI", "0.5"}, {"*FRTYP", "12"}, {"*TIP_DIAMETER", "2"}},
         0,
         {},
         {},
         {{"nc.plungeWidth", 3.0}}},
        {{{"*COMMENT", "D10 CORNER = x"}}, 0, {}, {}, {{"*FRTYP", 1}}},  // no number: the tool as given
        {{{"*FRTYP", "6"}},
         0,
         {},
         {},
         {{"nc.toolType", 1}, {"cutter.kind", kBallMill}}},  // a ball by another name
        {{{"*COMMENT", "D10 CORNER 2"}}, 0, {}, {}, {{"*FRTYP", 1}}},
        {{{"*PRECISION", "0.005"}}, 0, {}, {}, {{"nc.links", 100}}},  // the links' defaults
        {{{"*CHECK_PLANE", "2"}, {"*RAPID_LOGIC", "3"}, {"*CLEAR_MOVEMENT", "4"}, {"*CHECK_ZLIFT", "0"}},
         0,
         {},
         {},
         {{"nc.links", 2034}}},
        {{{"*WZKO_O", "1 1 1"},
          {"*WZKO_X", "0 1 0"},
          {"*WZKO_Y", "-1 0 0"},
          {"*WZKO_Z", "0 0 1"},
          {"*NCKO_O", "0 0 5"},
          {"*NCKO_X", "1 0 0"},
          {"*NCKO_Y", "0 1 0"},
          {"*NCKO_Z", "0 0 1"}},
         0,
         {},
         {502},
         {{"frameA.x", 1},
          {"frameA.y", 0},
          {"frameA.z", 2},
          {"frameB.x", 1},
          {"frameB.y", 2},
          {"frameB.z", -2}}},
        {{{"*MIRROR_ORI", "0 0 1"}}, 0, {}, {}, {{"mirror", -1}}},
        {{{"*JL_MIRROR_ORI", "0.1 0 0"}}, 0, {}, {}, {{"mirror", -1}}},
        // The open technology's spindle and feed replace the retract's only where it is switched on.
        {{{"*R_SPINDLE", "900"}, {"*RVORSCHUB", "40"}, {"*OPEN_SPINDLE", "1200"}, {"*OPEN_FEED", "80"}},
         0,
         {},
         {},
         {{"*R_SPINDLE", 1200}, {"*RVORSCHUB", 80}}},
        {{{"*R_SPINDLE", "900"}, {"*OPEN_SPINDLE", "1200"}, {"*OPEN_FEED", "80"}, {"*OPEN_TECH", "0"}},
         0,
         {},
         {},
         {{"*R_SPINDLE", 900}, {"*RVORSCHUB", 50}}},
        // A plunge step no narrower than the cut (1.5 radii with a centre cut) is made just narrower.
        {{{"*FRRADIUS", "2"}, {"*PLUNGE_STEP", "3"}}, 0, {}, {}, {{"*PLUNGE_STEP", 3 - 1e-5}}},
        // Levels from the hub leave the hub offset to the hub allowance.
        {{{"*STEP_STRATEGY", "0"}, {"*HUB_OFFSET", "0.5"}, {"*AUFMASS_HUB", "0.25"}},
         0,
         {},
         {},
         {{"*AUFMASS_HUB", 0.75}, {"*HUB_OFFSET", 0}}},
        {{{"*FRRADIUS", "2"}, {"*PLUNGE_STEP", "2.99"}}, 0, {}, {}, {{"*PLUNGE_STEP", 2.99}}},
        // Link limits below 0 (to within 1e-5) are not set: the context keeps its -1; 0 is a value.
        {{{"*MAX_PLANE_ANGLE", "-0.00001"},
          {"*MAX_DIST_ANGLE", "0"},
          {"*CLEAR_FEEDRATE", "-0.00001"},
          {"*MAX_CLEAR_DIST", "0"}},
         0,
         {},
         {},
         {{"nc.maxPlaneAngle", -1},
          {"nc.maxDistAngle", 0},
          {"nc.clearFeedrate", -1},
          {"nc.maxClearDist", 0}}},
        {{{"*MAX_PLANE_ANGLE", "0"},
          {"*MAX_DIST_ANGLE", "-0.00001"},
          {"*CLEAR_FEEDRATE", "0"},
          {"*MAX_CLEAR_DIST", "-0.00001"}},
         0,
         {},
         {},
         {{"nc.maxPlaneAngle", 0},
          {"nc.maxDistAngle", -1},
          {"nc.clearFeedrate", 0},
          {"nc.maxClearDist", -1}}},
        // A start point without its height (below -99999.99999) starts on the clearance plane.
        {{{"*SICHEBENE", "35"}, {"*STARTPT", "1 2 -100000"}}, 0, {}, {}, {{"start.z", 35}}},
        {{{"*SICHEBENE", "35"}, {"*STARTPT", "1 2 -99999.9"}}, 0, {}, {}, {{"start.z", -99999.9}}},
        {{{"*SICHEBENE", "35"}, {"*STARTPT", "1 2 7"}}, 0, {}, {}, {{"start.z", 7}}},
        // An extra mesh counts from its facet file; a count without a selection to convert drops to 0.
        {{{"*EXTRA_3DF", "x.3df"}}, 0, {}, {}, {{"*EXTRA_COUNT", 1}}},
        {{{"*EXTRA_COUNT", "1"}}, 0, {}, {}, {{"*EXTRA_COUNT", 0}}},
        {{{"*EXTRA_COUNT", "2"}, {"*EXTRA_3DF", "x.3df"}}, 0, {}, {}, {{"*EXTRA_COUNT", 0}}},
        // One-way runs take no path step; the cut direction and a fixed tilt set their codes.
        {{{"*LAUF", "2"}, {"*ZUST_BAHN", "3"}}, 0, {}, {}, {{"*ZUST_BAHN", 0}}},
        {{{"*LAUF", "1"}, {"*ZUST_BAHN", "3"}}, 0, {}, {}, {{"*ZUST_BAHN", 3}}},
        // Finishing and side steps run one way.
        {{{"*FINISH", "1"}, {"*LAUF", "1"}}, 0, {}, {}, {{"*LAUF", 2}}},
        {{{"*STEP_SIDE", "1"}, {"*LAUF", "1"}}, 0, {}, {}, {{"*LAUF", 2}}},
        // From mode 2 on the scallop heights set a ball's stepovers: 2 sqrt(2 R h - h^2).
        {{{"*ZUSTELL_ART", "2"}, {"*FRRADIUS", "5"}, {"*SCAL_HEIGHT", "0.1"}, {"*SCAL_HEIGHT_MIN", "0.4"}},
         0,
         {},
         {},
         {{"*HORIZUSTEL", 2 * std::sqrt(0.99)}, {"*HORIZUSTEL_MIN", 2 * std::sqrt(3.84)}}},
        // A flat end leaning by the lead cuts across as the ellipse of half-axes R and R sin(lead).
        {{{"*ZUSTELL_ART", "2"},
          {"*FRTYP", "2"},
          {"*FRRADIUS", "5"},
          {"*LEAD_ANGLE", "30"},
          {"*SCAL_HEIGHT", "0.1"}},
         0,
         {},
         {},
         {{"*HORIZUSTEL", 10 * std::sqrt(1 - 0.96 * 0.96)}}},
        {{{"*ZUSTELL_ART", "1"}, {"*HORIZUSTEL", "0.7"}, {"*SCAL_HEIGHT", "0.1"}},
         0,
         {},
         {},
         {{"*HORIZUSTEL", 0.7}}},
        {{{"*CUT_DIRECTION", "1"}}, 0, {}, {}, {{"*BEARBEITRICHT", 3}}},
        {{{"*CUT_DIRECTION", "0"}}, 0, {}, {}, {{"*BEARBEITRICHT", 5}}},
        {{{"*TILT_STRATEGY", "2"}, {"*AVOID_COLL", "1"}, {"*TILT_FIXED", "1"}},
         0,
         {},
         {},
         {{"*TILT_STRATEGY", 6}, {"*AVOID_COLL", 0}, {"nc.tilt", 60}}},
        {{{"*TILT_STRATEGY", "2"}, {"*AVOID_COLL", "1"}, {"*TILT_FIXED", "0"}}, 0, {}, {}, {{"nc.tilt", 21}}},
        {{{"*STEP_WIN", "60"}, {"*SICHDIST", "2"}, {"*SICHEBENE", "35"}},
         0,
         {},
         {},
         {{"nc.cosStepWin", 0.5}, {"nc.clearance", 2035}}},
        {{{"*COMP_AXVAL", "0.3"}, {"*SMOOTH_5AX", "1"}}, 0, {}, {}, {{"nc.compAxval", 0.1}}},
        {{{"*COMP_AXVAL", "0.3"}, {"*SMOOTH_5AX", "0"}}, 0, {}, {}, {{"nc.compAxval", 0.3}}},
        {{{"*USE_ORIG", "1"}, {"*ORIG_X", "0 1 0"}, {"*ORIG_Y", "-1 0 0"}, {"*ORIG_Z", "0 0 1"}},
         0,
         {},
         {},
         {{"frameC.x", 2}, {"frameC.y", -1}, {"frameC.z", 3}}},
        {{{"*BEARBEITRAND", "1"}}, 0, {}, {}, {{"nc.boundarySwitch", 0}}},
        {{{"*BEARBEITRAND", "2"}}, 0, {}, {}, {{"nc.boundarySwitch", 1}}},
        // Entering from the trailing side takes the lead angles for the up angles too.
        {{{"*LEAD_ANGLE_TRAIL", "7"}, {"*LEADUP_ANGLE_TRAIL", "4"}, {"*ENTRY_POS", "1"}},
         0,
         {},
         {},
         {{"*LEADUP_ANGLE_TRAIL", 7}}},
        {{{"*LEAD_ANGLE_TRAIL", "7"}, {"*LEADUP_ANGLE_TRAIL", "4"}, {"*ENTRY_POS", "0"}},
         0,
         {},
         {},
         {{"*LEADUP_ANGLE_TRAIL", 4}}},
        {{{"*LEAD_ANGLE", "30"}, {"*ENTRY_POS", "1"}, {"*TILT_MAX", "90"}, {"*SANGLE", "45"}},
         0,
         {},
         {},
         {{"*LEADUP_ANGLE", kPi / 6}, {"nc.lead", kPi / 6}, {"nc.tiltMax", kPi / 2}, {"*SANGLE", kPi / 4}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pairs.back().first);
        start(c.pairs);
        const CycleParams applied = *cycleParamsApplied();
        // Two runs in a row set up alike: nothing is converted twice, the applied record never changes.
        for (int run = 0; run < 2; ++run) {
            capturedMessages().clear();
            ASSERT_EQ(loadCycleConfig(nullptr), c.config);
            for (int m : c.messages) EXPECT_TRUE(sent(m)) << m;
            for (int m : c.silent) EXPECT_FALSE(sent(m)) << m;
            for (const auto& [name, v] : c.values) EXPECT_NEAR(valueOf(name), v, 1e-12) << name;
            // The set-up step's own answer, last: a second set-up converts the run's record again.
            EXPECT_EQ(initNcToolSystem(), c.config < 0 ? -1 : 1);
            EXPECT_EQ(memcmp(&applied, cycleParamsApplied(), sizeof applied), 0);
            collrep_free();
        }
    }
    start({{"*PRECISION", "0.0001"}, {"*TOOL_COLL_CHECK", "0"}});
    loadCycleConfig(nullptr);
    EXPECT_GE(capture->countOf("514,0.000100"), 1);  // 0.0001 in mm
    EXPECT_EQ(capture->countOf("6209,0"), 1);        // a warning without a value
    // The cycle's feed mode: unforced feed changes wait, a feed set keeps the one before to return to.
    EXPECT_EQ(ncWriteFeedChange(0), 0);
    ncFeedStackReset();
    ASSERT_EQ(ncSetFeed(5, 0), 1);
    EXPECT_EQ(ncSetFeedFromKernel(), 1);
    EXPECT_EQ(ncSetFeedFromKernel(), -1);
}

// "CORNER=r" in the comment sets a torus of corner r (in the run's unit) and says so; anything else
// leaves the tool as given. The envelope's answer is always 0.
TEST_F(PlungeRun, CornerFromTheCommentOnlyWithANumberAfterTheSign) {
    const struct {
        const char* comment;
        double unit;
        int found;
        double corner;
    } rows[] = {{"D10 CORNER=2", 1, 1, 2},
                {"CORNER =\t0.5", 25.4, 1, 12.7},
                {"D10 CORNER = x", 1, 0, 0},
                {"D10 CORNER 2", 1, 0, 0},
                {"D10 R2", 1, 0, 0}};
    for (const auto& r : rows) {
        start();
        CycleParams* p = cycleParams();
        std::snprintf(p->comment, sizeof p->comment, "%s", r.comment);
        p->frbogen = 0, p->frtyp = 1;
        EXPECT_EQ(toolFromComment(r.unit), r.found) << r.comment;
        EXPECT_NEAR(p->frbogen, r.corner, 1e-12) << r.comment;
        EXPECT_EQ(p->frtyp, r.found ? 3 : 1) << r.comment;
    }
    EXPECT_EQ(buildToolEnvelope(0.5, 0.01, 0), 0);
}

// The grown cutter in closed form: the cutting surface moves outward by a, so the full radius grows
// by a and the shank diameter by 2a, whatever the shape.
TEST_F(PlungeRun, AllowanceGrowsTheCutterByItsOffset) {
    struct Row {
        uint16_t kind;
        double radius, corner, a;
        int32_t tip;
        uint16_t kindOut;
        double cornerOut, tipOffset;
        int message;
    };
    const Row rows[] = {
        {1, 3, 3, 0.5, 2, 1, 3.5, 0, 0},
        {1, 3, 3, 0.5, 1, 1, 3.5, 3, 0},
        {2, 3, 0, 0, 2, 2, 0, 0, 0},
        {2, 3, 0, -0.2, 2, 2, 0, 0.2, 0},
        {2, 3, 0, 0.4, 2, 3, 0.4, 0, 0},
        {3, 3, 1, -1, 2, 2, 0, 0, 0},
        {3, 3, 1, 0.2, 1, 3, 1, 1, 0},
        {3, 0.5, 1, 0.2, 2, 3, 1, 0, 329},
        {1, 1, 1, -2, 2, 1, 0, 0, 330},
        {2, 3, 0, 0.4, 1, 3, 0.4, 0.4, 0},
        {2, 3, 0, 0.4, 0, 3, 0.4, 0, 0},
        {2, 3, 0, 1e-5, 1, 2, 0, -1e-5, 0},  // an allowance within the tolerance leaves no corner
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.kind << " " << r.radius << " " << r.a);
        capturedMessages().clear();
        CutterShape c{r.kind, r.radius, r.corner, 0.0, 10.0, 2 * r.radius, 0.0, 0.0, 0};
        checkToolShape(&c, r.a, r.tip);
        EXPECT_EQ(c.kind, r.kindOut);
        EXPECT_DOUBLE_EQ(c.cornerRadius, r.cornerOut);
        EXPECT_DOUBLE_EQ(c.tipOffset, r.tipOffset);
        // The straight part ends where the corner begins (a ball grown below nothing has neither).
        EXPECT_TRUE(r.message == 330 || std::fabs(c.tipLength + c.cornerRadius - 10) < 1e-12) << c.tipLength;
        EXPECT_DOUBLE_EQ(c.shaftDiameter, 2 * r.radius + 2 * r.a);
        EXPECT_DOUBLE_EQ(c.radius, r.message == 329 ? r.corner : std::max(0.0, r.radius + r.a));
        EXPECT_EQ(r.message ? sent(r.message) : capture->messages().empty(), true);
        // Error-class notes: below the highest class (9) the host hears none.
        setMessageLevel(nullptr, 8);
        capturedMessages().clear();
        CutterShape again{r.kind, r.radius, r.corner, 0.0, 10.0, 2 * r.radius, 0.0, 0.0, 0};
        checkToolShape(&again, r.a, r.tip);
        EXPECT_TRUE(capture->messages().empty());
        setMessageLevel(nullptr, 9);
        // A check model's tool takes the same rules; a ball's corner is its radius, whatever the record
        // holds there.
        ToolGeom g{r.kind, r.radius, r.kind == 1 ? 0.0 : r.corner, 0.0, 10.0, 2 * r.radius, 0.0, 0.0, 0};
        checkToolGeom(&g, r.a, r.tip);
        EXPECT_EQ(g.toolType, r.kindOut);
        EXPECT_DOUBLE_EQ(g.cornerRadius, r.cornerOut);
        EXPECT_DOUBLE_EQ(g.radius, c.radius);
        EXPECT_DOUBLE_EQ(g.size2, 2 * r.radius + 2 * r.a);
    }
    checkToolShape(nullptr, 1, 1);  // no tool, nothing to grow
    checkToolGeom(nullptr, 1, 1);
}

TEST_F(PlungeRun, PitchFromTheBladeCount) {
    const std::pair<Pairs, double> rows[] = {
        {{{"*BLADE_COUNT", "8"}}, 2 * kPi / 8},
        {{{"*BLADE_COUNT", "8"}, {"*BLDCT_FLOAT", "7.5"}}, 2 * kPi / 7.5},
        {{{"*BLADE_COUNT", "2"}}, kPi},
        {{{"*BLADE_COUNT", "1"}, {"*BLDCT_FLOAT", "7.5"}}, 0.0},
        {{{"*BLADE_COUNT", "0"}}, 0.0},
    };
    for (const auto& [pairs, expected] : rows) {
        start(pairs);
        ASSERT_EQ(loadCycleConfig(nullptr), 0);
        double pitch = 0.0;
        EXPECT_EQ(cyclePitch(cycleParams(), &pitch), expected > 0 ? 1 : -1);
        EXPECT_EQ(sent(6207), expected == 0.0);
        EXPECT_NEAR(pitch, expected, 1e-14);
        EXPECT_EQ(cyclePitch(nullptr, &pitch) + cyclePitch(cycleParams(), nullptr), -2);
        setMessageLevel(nullptr, 8);  // an error-class note: below 9 the host hears none
        capturedMessages().clear();
        cyclePitch(cycleParams(), &pitch);
        EXPECT_TRUE(capture->messages().empty());
    }
}

// Runs that end early: result, message, status word; the leak checker watches every exit. The
// example impeller is loaded once, up to the first poll of the host, which cancels.
TEST_F(PlungeRun, RunsThatEndEarly) {
    const std::string dir = std::string(KV_SOURCE_DIR) + "/examples/plunge/";
    const std::string hub = dir + "hub.kvx", shroud = dir + "shroud.kvx", blade = dir + "blade.kvx",
                      split = dir + "split.kvx";
    const Pairs example = {{"*TMP_DIR", "."},
                           {"*DLL_DIR", KV_BIN_DIR},
                           {"*HUB_KVX", hub.c_str()},
                           {"*SHROUD_KVX", shroud.c_str()},
                           {"*BLADE_KVX", blade.c_str()},
                           {"*SPLIT_KVX", split.c_str()},
                           {"*SPLIT_KVX_OK", "1"},
                           {"*BLADE_COUNT", "8"},
                           {"*PRECISION", "0.2"}};
    // The cancelled run has set up its output: the host is told of the tool's own tip (*TOOL_TIP 1), a
    // ball of radius 3 whatever the allowance grows the cutter by.
    Pairs tipped = example;
    // It also empties the check model file, so that no earlier run's model stands in for its own.
    const TempFolder tmp("early");
    const std::string model = tmp.path() + "/check.3df", older = "an earlier run's model";
    tipped.insert(tipped.end(), {{"*TOOL_TIP", "1"},
                                 {"*FRTYP", "1"},
                                 {"*FRRADIUS", "3"},
                                 {"*AUFMASS_HORI", "0.5"},
                                 {"*POFCHECK_MODEL", model.c_str()}});
    Pairs none = tipped;
    for (auto& [key, value] : none)
        if (std::string(key) == "*HUB_KVX" || std::string(key) == "*SHROUD_KVX") value = "none.kvx";
    struct Row {
        Pairs pairs;
        const char* cfg;
        bool cancel;
        int result, message, status;
        int level = 9;  // below 9 a cancel is not told (the run did not fail)
    };
    const Row rows[] = {
        {{{"*BLADE_COUNT", "1"}}, nullptr, false, -1, 6207, kStatusFailed},
        {{{"*BLADE_COUNT", "8"}, {"*HUB_KVX", "none.kvx"}, {"*SHROUD_KVX", "none.kvx"}},
         nullptr,
         false,
         -1,
         6204,
         kStatusFailed},
        {{{"*STEP_STRATEGY", "1"}, {"*SHROUD_DEPTH", "-1"}}, nullptr, false, -1, 6304, kStatusFailed},
        {{}, "no-such-file.cfg", false, -1, 6200, kStatusFailed},
        {tipped, nullptr, true, -2, 821, kStatusCancelled},
        {tipped, nullptr, true, -2, 821, kStatusCancelled, 8},
        // A cancel standing from before the run is heard before any file is loaded.
        {none, nullptr, true, -2, 821, kStatusCancelled},
    };
    for (const Row& r : rows) {
        start(r.pairs);
        std::ofstream(model) << older;
        setAbortHook(r.cancel ? +[] { return 1; } : nullptr);
        setMessageLevel(nullptr, r.level);
        testing::internal::CaptureStdout();
        const int result = runPlungeCycle(r.cfg);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "");  // the library prints nothing
        setAbortHook(nullptr);
        EXPECT_EQ(result, r.result);
        EXPECT_EQ(std::filesystem::file_size(model), r.cancel ? 0u : older.size());
        EXPECT_TRUE(r.message == 0 || sent(r.message) == (r.level == 9)) << r.message;
        EXPECT_FALSE(r.cancel && sent(6204));  // the hub that is not there was never asked for
        // Past its configuration a run without an APT file of its own writes tmp.pof.
        EXPECT_EQ(std::string(cycleParams()->apt), r.message == 6304 || r.cfg ? "" : "tmp.pof");
        EXPECT_EQ(collrep_current(), nullptr);
        CycleRecord record;
        cyc3dSetStatus(&record, result);
        EXPECT_EQ(record.status, r.status);
    }
    static double z = 0;
    CycleRecord writer{};
    writer.parent = &cycleRootRecord;
    writer.frameVersion = kFrameVersion;
    ncSetWriter(&writer);
    ASSERT_EQ(
        ncRegisterHandler(
            &writer, 31, [](CycleRecord*, NcRecord* r) { return z = ncRecGetF64(r, KVNC_MOVE5_Z), 1; },
            acceptRecord, 1),
        1);
    const Vec3 up{0, 0, 1}, first{0, 0, 10}, centre{1, 2, 20};
    ncSetToolAxis(&up);
    ASSERT_EQ(ncWriteMove5x(&first, 0), 0);
    ASSERT_EQ(ncWriteMove5x(&centre, 0), 0);
    EXPECT_NEAR(z, 20 - 3, 1e-9);
    ncSetWriter(nullptr);
    ncFreeChannels(&writer);
    // Without the run's contexts there is nothing to generate into.
    EXPECT_EQ(generatePlungePaths(nullptr, cycleToolCtx()), -1);
    EXPECT_EQ(generatePlungePaths(cycleNcCtx(), nullptr), -1);
    // An extra selection named with a leading blank names none: refused before a file of that name,
    // which would convert, is read.
    std::filesystem::copy_file(blade, tmp / " blade.kvx");
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(tmp.path());
    start({{"*DLL_DIR", KV_BIN_DIR}, {"*TMP_DIR", "."}});
    EXPECT_EQ(extraMeshToFacetFile(" blade.kvx", 0.2), -1);
    EXPECT_FALSE(std::filesystem::exists("extra.3df"));
    EXPECT_EQ(cycleParams()->extra3df[0], '\0');
    std::filesystem::current_path(here);
}

// The clean-up after a run removes the temporary files but never the run's own output.
TEST_F(PlungeRun, TempFilesRemovedOutputKept) {
    const std::vector<std::string> names = {"tmp.pof", "tmp.pcf", "tmp.dxf", "tmp.kvx"};
    const std::tuple<const char*, const char*, std::vector<bool>> rows[] = {
        {nullptr, nullptr, {false, false, false, false}},
        {"tmp.pof", nullptr, {true, false, false, false}},
        {nullptr, "tmp.kvx", {false, false, false, true}}};
    for (const auto& [keep, pof, left] : rows) {
        CycleRecord record;
        record.parent = &kvCyc3d;
        Cyc3dParams* p = cyc3dParams(&record);
        ASSERT_NE(p, nullptr);
        p->removeTempFiles = 1;
        if (pof) record.vars = kvListSet(record.vars, "pofFilename", pof, kKvFile);
        for (const std::string& n : names) std::fclose(std::fopen(n.c_str(), "w"));
        cyc3dRemoveTempFiles(&record, keep);
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(std::filesystem::exists(names[i]), left[i]) << names[i];
        for (const std::string& n : names) std::remove(n.c_str());
        kvListFree(record.vars);
        record.vars = nullptr;
    }
}

}  // namespace

// The Polyhedron frame places the meshes a run imports: a parameter-file run sets its own (polyCs_*),
// a configuration run none; neither keeps the frame an earlier run of the process left behind. A
// parameter-file run also writes its geometry's boundary, whose depth comes over to the record.
TEST_F(PlungeRun, PolyFrameIsTheRunsOwn) {
    const Vec3 earlier{1, 2, 3}, ex{1, 0, 0}, ey{0, 1, 0}, ez{0, 0, 1};
    TempDir dir;
    writeTextFile(dir.file("g.kvx"), kvxText("o Geometry[g]()\n{\nv depth(3)\n}\n"));
    // Configuration mode, the origin, and where (5, 5, 5) imports to: less the run's own origin.
    const std::tuple<int16_t, Vec3, Vec3> rows[] = {
        {1, {0, 0, 0}, {5, 5, 5}}, {0, {10, -2, 0.5}, {-5, 7, 4.5}}, {1, {10, -2, 0.5}, {5, 5, 5}}};
    for (const auto& [cfgMode, o, expect] : rows) {
        start({{"*BLADE_COUNT", "1"}});  // the run ends at once, after its set-up
        ASSERT_EQ(setPolyFrame(&earlier, &ex, &ey, &ez), 0);
        CycleRecord record;
        record.parent = &kvIdx5, record.cfgMode = cfgMode;
        Cyc3dParams* c = cyc3dParams(&record);
        ASSERT_NE(c, nullptr);
        for (int i = 0; i < 3; ++i)
            c->polyCsO[i] = (&o.x)[i], c->polyCsX[i] = i == 0, c->polyCsY[i] = i == 1, c->polyCsZ[i] = i == 2;
        c->geoSource = strdup(dir.file("g.kvx").c_str()), c->tempDirectory = strdup(dir.path.c_str());
        EXPECT_EQ(idx5Run(&record), 1);
        EXPECT_EQ(c->depth, cfgMode == 1 ? 0.0 : 3.0);
        Vec3 p{5, 5, 5};
        polyFramePoint(&p);
        EXPECT_LT(dist3D(&p, &expect), 1e-12) << cfgMode << " " << o.x;
        cyc3dResetState();
    }
}

// A value without sense for its keyword is refused at set-up with 6305 naming the keyword and the value as
// given ("%g"); values beside them that make sense set up. Rows: keyword, refused values, accepted ones.
TEST_F(PlungeRun, KeywordValuesWithoutSenseAreRefused) {
    const char* const rows[][3] = {{"*SICHEBENE", "1e300 inf nan", "-1000"},
                                   {"*SICHDIST", "1e300 inf nan -1", "0"},
                                   {"*MACRO_EABST", "1e300 inf", "-2"},
                                   {"*PLUNGE_STEP", "0 -1 nan", "0.001"},
                                   {"*HORIZUSTEL", "0 -1 nan", "0.5"},
                                   {"*LEAD_ANGLE", "nan inf 91", "-90"},
                                   {"*TILT_MAX", "-1 0 720", "180"},
                                   {"*FRRADIUS", "nan 1e300 inf 0", "0.1"},
                                   {"*PRECISION", "0", "0.5"},
                                   {"*ISO_END", "1.5", "0.5"},
                                   {"*TAPER_ANGLE", "90", "89"},
                                   {"*XVORSCHUB", "-5", "0"},
                                   {"*BLDCT_FLOAT", "1.5", "7.5"}};
    // Pairs, and the refusal's value (empty: none); a field of two keywords is named by the table's first.
    std::vector<std::pair<Pairs, std::string>> cases = {
        {{{"*MACRO_EDIST", "inf"}}, "*MACRO_EABST,inf"},
        {{{"*STARTPT", "0 nan 0"}}, "*STARTPT,0 nan 0"},
        {{{"*INCH", "1"}, {"*STARTPT", "0 0 -100000"}}, ""},              // not set, whatever the unit
        {{{"*INCH", "1"}, {"*SICHEBENE", "50000"}}, "*SICHEBENE,50000"},  // 1 250 m, named as given
        {{{"*INCH", "1"}, {"*SICHEBENE", "30000"}}, ""}};
    std::deque<std::string> values;  // the pairs keep pointers into it
    for (const auto& row : rows)
        for (int k : {1, 2}) {
            std::istringstream words(row[k]);
            for (std::string v; words >> v;) {
                values.push_back(v);
                char shown[64];
                snprintf(shown, sizeof shown, "%s,%g", row[0], std::strtod(v.c_str(), nullptr));
                cases.push_back({{{row[0], values.back().c_str()}}, k == 1 ? shown : ""});
            }
        }
    for (const auto& [pairs, refused] : cases) {
        SCOPED_TRACE(pairs.back().first + std::string(" ") + pairs.back().second);
        start(pairs);
        EXPECT_EQ(loadCycleConfig(nullptr), refused.empty() ? kCycleConfigOk : kCycleConfigSetupFailed);
        EXPECT_EQ(capture->countOf(refused.empty() ? "6305," : "6305," + refused), refused.empty() ? 0 : 1);
        collrep_free();
    }
    // Every row of the sense table is a number or triple of the keyword table.
    for (const ParamSenseRow* r = ParamSenseTable; r->keyword; ++r)
        EXPECT_TRUE(rowOf(r->keyword).storeType == kStoreDouble ||
                    rowOf(r->keyword).storeType == kStoreTriple);
}

// Free holder clearances grow the assembly's shank and holder (radius 40 in its file), only with its check.
TEST_F(PlungeRun, FreeHolderClearancesGrowTheAssembly) {
    TempFolder dir("clear");
    const std::string holder = dir / "holder.kvx";
    std::ofstream(holder)
        << "kVX-Exchange-File\nkVX-Version: 1.0\nthird line\nfourth line\no Contour[Holder]()\n{\n"
           "o L(x[0/40] y[0/0] z[0/0])\no L(x[/40] y[/20] z[/0])\n}\n";
    double shank[3];
    int row = 0;
    for (const auto& [check, free] : {std::pair{"1", "1"}, {"1", "0"}, {"0", "1"}}) {
        start({{"*TOOL_COLL_CHECK", check},
               {"*USE_FREE_HOLDER", free},
               {"*SHANK_CLEARANCE", "0.7"},
               {"*HOLDER_CLEARANCE", "0.4"}});
        ASSERT_EQ(loadCycleConfig(nullptr), 0);
        const ToolAssembly* a = toolAssemblyCreate(&cycleNcCtx()->tool, holder.c_str(), 0, 0.01, 0);
        ASSERT_TRUE(a && a->count > 4);
        EXPECT_NEAR(a->r[a->count - 1], row == 0 ? 40.4 : 40, 1e-12) << row;
        shank[row++] = a->r[3];  // at the cutter's top
        collrep_free();
    }
    EXPECT_TRUE(std::fabs(shank[0] - shank[1] - 0.7) < 1e-12 && shank[1] == shank[2]);
}
