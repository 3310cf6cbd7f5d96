#include "plunge/plungerun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "collision/collreport.h"
#include "geometry/frames.h"
#include "kernel/cyc3d.h"
#include "kernel/cycle.h"
#include "kernel/kvx/kvlist.h"
#include "kernel/msg.h"
#include "kernel/ncchan.h"
#include "kernel/ncout.h"
#include "kernel/ncrecord.h"
#include "workfolder.h"

namespace {

std::vector<std::string> gSent;  // "number,value" of the messages that reached the host

int captureMessages(CycleRecord*, NcRecord* output) {
    char value[KVNC_TEXT_SIZE];
    gSent.push_back(ncRecGetText(output, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value));
    return 1;
}

bool sent(int number) {
    const std::string head = std::to_string(number) + ",";
    for (const std::string& m : gSent)
        if (m.rfind(head, 0) == 0) return true;
    return false;
}

using Pairs = std::vector<std::pair<const char*, const char*>>;

void applyPairs(const Pairs& pairs) {
    KvList* list = nullptr;
    for (const auto& [key, value] : pairs) list = kvListAppend(list, key, value, kKvFile);
    EXPECT_EQ(applyKeyValueList(list), 1);
    kvListFree(list);
}

class PlungeRun : public ::testing::Test {
  protected:
    void SetUp() override {
        reset();
        writer.parent = &cycleRootRecord;
        writer.frameVersion = kFrameVersion;
        writer.title = "Test Cycle";
        ASSERT_EQ(ncRegisterHandler(&writer, 0, captureMessages, acceptRecord, 1), 1);
        ncSetWriter(&writer);
        setMessageLevel(nullptr, 9);
        gSent.clear();
    }
    void TearDown() override {
        ncFreeChannels(&writer);
        cyc3dResetState();
        reset();
    }
    static void reset() {
        cycleParamsResetState();
        plungeRunResetState();
        msgResetState();
        ncOutResetState();
    }
    CycleRecord writer;
};

constexpr double kPi = 3.14159265358979323846;

struct SetupCase {
    const char* name;
    Pairs pairs;
    int config;                 // loadCycleConfig's result
    std::vector<int> messages;  // sent
    std::vector<int> silent;    // not sent
    std::function<void(const CycleParams*, const CycleNcCtx*, const CutterShape*)> check;
};

TEST_F(PlungeRun, SetupCorrectsTheRunsCopyOnly) {
    const std::vector<SetupCase> cases = {
        {"min step raised",
         {{"*PRECISION", "0.0001"}},
         0,
         {514},
         {515},
         [](const CycleParams*, const CycleNcCtx* nc, const CutterShape*) {
             EXPECT_DOUBLE_EQ(nc->stepMin, 0.0001);
             EXPECT_DOUBLE_EQ(nc->stepMax, 0.2);
         }},
        {"max step from precision",
         {{"*PRECISION", "0.005"}},
         0,
         {},
         {514},
         [](const CycleParams* p, const CycleNcCtx*, const CutterShape*) {
             EXPECT_DOUBLE_EQ(p->auflmax, 0.5);
         }},
        {"max step at least 0.2",
         {{"*PRECISION", "0.001"}},
         0,
         {},
         {514},
         [](const CycleParams* p, const CycleNcCtx*, const CutterShape*) {
             EXPECT_DOUBLE_EQ(p->auflmax, 0.2);
         }},
        {"flat with allowance is a torus",
         {{"*FRTYP", "2"}, {"*FRRADIUS", "3"}, {"*AUFMASS_HORI", "0.5"}},
         0,
         {},
         {},
         [](const CycleParams*, const CycleNcCtx*, const CutterShape* c) {
             EXPECT_EQ(c->kind, 3);
             EXPECT_DOUBLE_EQ(c->cornerRadius, 0.5);
             EXPECT_DOUBLE_EQ(c->radius, 3.5);
         }},
        {"corner from the comment",
         {{"*COMMENT", "D10 CORNER = 2"}},
         0,
         {},
         {},
         [](const CycleParams* p, const CycleNcCtx*, const CutterShape* c) {
             EXPECT_DOUBLE_EQ(p->frbogen, 2.0);
             EXPECT_EQ(p->frtyp, 3);
             EXPECT_EQ(c->kind, 3);
         }},
        {"corner from the comment in inches",
         {{"*INCH", "1"}, {"*COMMENT", "CORNER=0.1"}},
         0,
         {},
         {},
         [](const CycleParams* p, const CycleNcCtx*, const CutterShape*) {
             EXPECT_DOUBLE_EQ(p->frbogen, 2.5);
         }},
        {"collision checks off",
         {{"*TOOL_COLL_CHECK", "0"}},
         0,
         {6209},
         {},
         [](const CycleParams* p, const CycleNcCtx* nc, const CutterShape*) {
             EXPECT_EQ(nc->collisionCheck, 0);
             EXPECT_EQ(p->holdcheck, 0);
         }},
        {"collision checks on",
         {{"*TOOL_COLL_CHECK", "1"}},
         0,
         {},
         {6209},
         [](const CycleParams* p, const CycleNcCtx* nc, const CutterShape*) {
             EXPECT_EQ(nc->collisionCheck, 1);
             EXPECT_EQ(p->holdcheck, 1);
             EXPECT_NE(collrep_current(), nullptr);
         }},
        {"default collision switch left",
         {{"*COLL_CHECK", "1"}},
         0,
         {},
         {6209},
         [](const CycleParams* p, const CycleNcCtx*, const CutterShape*) { EXPECT_EQ(p->toolCollCheck, 0); }},
        {"shroud depth default",
         {{"*STEP_STRATEGY", "1"}},
         0,
         {},
         {6304},
         [](const CycleParams* p, const CycleNcCtx*, const CutterShape*) {
             EXPECT_DOUBLE_EQ(p->shroudDepth, 1000.0);
         }},
        {"shroud depth below offset",
         {{"*STEP_STRATEGY", "1"}, {"*SHROUD_DEPTH", "-2"}},
         -3,
         {6304},
         {},
         nullptr},
        {"degrees to radians",
         {{"*LEAD_ANGLE", "30"}, {"*ENTRY_POS", "1"}, {"*TILT_MAX", "90"}},
         0,
         {},
         {},
         [](const CycleParams* p, const CycleNcCtx* nc, const CutterShape*) {
             EXPECT_NEAR(p->leadupAngle, kPi / 6, 1e-12);
             EXPECT_NEAR(nc->leadAngle, kPi / 6, 1e-12);
             EXPECT_NEAR(nc->tiltMax, kPi / 2, 1e-12);
         }},
    };
    for (const SetupCase& c : cases) {
        SCOPED_TRACE(c.name);
        reset();
        ncSetWriter(&writer);
        setMessageLevel(nullptr, 9);
        applyPairs(c.pairs);
        const CycleParams applied = *cycleParamsApplied();
        // Two runs in a row set up alike: nothing is converted twice.
        for (int run = 0; run < 2; ++run) {
            gSent.clear();
            ASSERT_EQ(loadCycleConfig(nullptr), c.config);
            for (int m : c.messages) EXPECT_TRUE(sent(m)) << m;
            for (int m : c.silent) EXPECT_FALSE(sent(m)) << m;
            if (c.messages == std::vector<int>{514}) {
                EXPECT_NE(std::find(gSent.begin(), gSent.end(), "514,0.000100"), gSent.end());
            }
            if (c.check) c.check(cycleParams(), cycleNcCtx(), cycleCutterShape());
            EXPECT_EQ(memcmp(&applied, cycleParamsApplied(), sizeof applied), 0);
            collrep_free();
        }
    }
}

// The grown cutter against its closed form: every allowance moves the cutting surface outward by a,
// so the tool's full radius grows by a and the shank diameter by 2a, whatever the shape.
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
        {1, 3.0, 3.0, 0.5, 2, 1, 3.5, 0.0, 0},    {1, 3.0, 3.0, 0.5, 1, 1, 3.5, 3.0, 0},
        {2, 3.0, 0.0, 0.0, 2, 2, 0.0, -0.0, 0},   {2, 3.0, 0.0, -0.2, 2, 2, 0.0, 0.2, 0},
        {2, 3.0, 0.0, 0.4, 2, 3, 0.4, 0.0, 0},    {3, 3.0, 1.0, -1.0, 2, 2, 0.0, 0.0, 0},
        {3, 3.0, 1.0, 0.2, 1, 3, 1.0, 1.0, 0},    {3, 0.5, 1.0, 0.2, 2, 3, 1.0, 0.0, 329},
        {1, 1.0, 1.0, -2.0, 2, 1, 0.0, 0.0, 330},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.kind << " " << r.radius << " " << r.a);
        gSent.clear();
        CutterShape c{r.kind, r.radius, r.corner, 0.0, 10.0, 2 * r.radius, 0.0, 0.0, 0};
        checkToolShape(&c, r.a, r.tip);
        EXPECT_EQ(c.kind, r.kindOut);
        EXPECT_DOUBLE_EQ(c.cornerRadius, r.cornerOut);
        EXPECT_DOUBLE_EQ(c.tipOffset, r.tipOffset);
        EXPECT_DOUBLE_EQ(c.shaftDiameter, 2 * r.radius + 2 * r.a);
        EXPECT_DOUBLE_EQ(c.radius, r.message == 329 ? r.corner : std::max(0.0, r.radius + r.a));
        if (r.message)
            EXPECT_TRUE(sent(r.message));
        else
            EXPECT_TRUE(gSent.empty());
    }
}

TEST_F(PlungeRun, PitchFromTheBladeCount) {
    struct Row {
        const char* count;
        const char* floating;
        double pitch;  // 0: refused
    };
    const Row rows[] = {{"8", "0", 2 * kPi / 8},
                        {"8", "7.5", 2 * kPi / 7.5},
                        {"1", "7.5", 0.0},
                        {"0", "0", 0.0},
                        {"2", "0", kPi}};
    for (const Row& r : rows) {
        SCOPED_TRACE(::testing::Message() << r.count << " " << r.floating);
        reset();
        ncSetWriter(&writer);
        setMessageLevel(nullptr, 9);
        gSent.clear();
        applyPairs({{"*BLADE_COUNT", r.count}, {"*BLDCT_FLOAT", r.floating}});
        ASSERT_EQ(loadCycleConfig(nullptr), 0);
        double pitch = -1.0;
        EXPECT_EQ(cyclePitch(cycleParams(), &pitch), r.pitch > 0 ? 1 : -1);
        EXPECT_EQ(sent(6207), r.pitch == 0.0);
        if (r.pitch > 0) {
            EXPECT_NEAR(pitch, r.pitch, 1e-14);
        }
        collrep_free();
    }
}

// A run that fails before any path: its result, the status word it gives, and nothing left behind.
TEST_F(PlungeRun, FailedRunsReportAndFree) {
    struct Row {
        Pairs pairs;
        const char* cfg;
        int message;
        int status;
    };
    const Row rows[] = {
        {{{"*BLADE_COUNT", "1"}}, nullptr, 6207, 1},
        {{{"*BLADE_COUNT", "8"}, {"*HUB_KVX", "missing.kvx"}, {"*SHROUD_KVX", "missing.kvx"}}, nullptr, 0, 1},
        {{{"*STEP_STRATEGY", "1"}, {"*SHROUD_DEPTH", "-1"}}, nullptr, 6304, 1},
        {{}, "no-such-file.cfg", 0, 1},
    };
    CycleRecord record;
    for (const Row& r : rows) {
        reset();
        ncSetWriter(&writer);
        setMessageLevel(nullptr, 9);
        gSent.clear();
        applyPairs(r.pairs);
        testing::internal::CaptureStdout();
        const int result = runPlungeCycle(r.cfg);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(result, -1);
        EXPECT_EQ(out.empty(), r.cfg == nullptr);
        if (r.message) {
            EXPECT_TRUE(sent(r.message)) << r.message;
        }
        EXPECT_EQ(collrep_current(), nullptr);
        cyc3dSetStatus(&record, result);
        EXPECT_EQ(record.status, r.status);
    }
}

int cancelAlways() {
    return 1;
}

// The example impeller up to the first poll of the host: a cancel there ends the run with 821 and the
// status word 100, every object of the run freed (the leak checker watches).
TEST_F(PlungeRun, ExampleImpellerCancelled) {
    const std::string dir = (std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge").string();
    const std::string hub = dir + "/hub.kvx", shroud = dir + "/shroud.kvx", blade = dir + "/blade.kvx",
                      split = dir + "/split.kvx";
    applyPairs({{"*TMP_DIR", "."},
                {"*DLL_DIR", KV_BIN_DIR},
                {"*HUB_KVX", hub.c_str()},
                {"*SHROUD_KVX", shroud.c_str()},
                {"*BLADE_KVX", blade.c_str()},
                {"*SPLIT_KVX", split.c_str()},
                {"*SPLIT_KVX_OK", "1"},
                {"*BLADE_COUNT", "8"},
                {"*FRRADIUS", "2.5"},
                {"*PRECISION", "0.2"}});
    setAbortHook(cancelAlways);
    const int result = runPlungeCycle(nullptr);
    setAbortHook(nullptr);
    EXPECT_EQ(result, -2);
    EXPECT_TRUE(sent(821));
    CycleRecord record;
    cyc3dSetStatus(&record, result);
    EXPECT_EQ(record.status, kStatusCancelled);
}

// The clean-up after a run removes the temporary files but never the run's own output.
TEST_F(PlungeRun, TempFilesRemovedOutputKept) {
    const std::vector<std::string> names = {"tmp.pof", "tmp.pcf", "tmp.dxf", "tmp.kvx"};
    struct Row {
        const char* keep;
        const char* pofVariable;
        std::vector<bool> left;
    };
    const Row rows[] = {{nullptr, nullptr, {false, false, false, false}},
                        {"tmp.pof", nullptr, {true, false, false, false}},
                        {nullptr, "tmp.kvx", {false, false, false, true}}};
    for (const Row& r : rows) {
        CycleRecord record;
        record.parent = &kvCyc3d;
        Cyc3dParams* p = cyc3dParams(&record);
        ASSERT_NE(p, nullptr);
        p->removeTempFiles = 1;
        if (r.pofVariable) record.vars = kvListSet(record.vars, "pofFilename", r.pofVariable, kKvFile);
        for (const std::string& n : names) std::fclose(std::fopen(n.c_str(), "w"));
        cyc3dRemoveTempFiles(&record, r.keep);
        for (size_t i = 0; i < names.size(); ++i)
            EXPECT_EQ(std::filesystem::exists(names[i]), r.left[i]) << names[i];
        for (const std::string& n : names) std::remove(n.c_str());
        kvListFree(record.vars);
        record.vars = nullptr;
    }
}

}  // namespace
