// The configuration step of the plunge-roughing cycle: the word pairs of a
// configuration run reach the parameter record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/cyc3d.h"
#include "kernel/cycle.h"
#include "kernel/cycrun.h"
#include "kernel/cycstart.h"
#include "kernel/idx5.h"
#include "kernel/ncout.h"
#include "paramtest.h"
#include "plunge/cycparams.h"
#include "plunge/plungerun.h"

namespace {

class Idx5Prepare : public ::testing::Test {
  protected:
    void SetUp() override {
        cycleParamsResetState();
        cycleResetState();
        ncOutResetState();
    }
    void TearDown() override {
        kvListFree(rec.cfgVars);
        rec.cfgVars = nullptr;
        cyc3dResetState();
        cycleResetState();
        ncOutResetState();
        cycleParamsResetState();
        plungeRunResetState();  // the cycle's run slot computes
    }
    void addPair(const char* key, const char* value) {
        rec.cfgVars = kvListAppend(rec.cfgVars, key, value, kKvFile);
    }
    CycleRecord rec;
};

// A configuration run of the library's cycle, started and run as the host's call does.
int configurationRun(const char* cfgName) {
    std::string arg = std::string("-S") + cfgName;
    std::vector<char*> argv = {arg.data()};
    if (!cycleStart(&kvIdx5, argv.data(), 1, 0)) return -1;
    return cycleRun(&kvIdx5);
}

}  // namespace

TEST_F(Idx5Prepare, AppliesTheConfigurationPairs) {
    rec.cfgMode = 1;
    addPair("*blade_count", "5");
    addPair("*BLADE_KVX", "first selection");
    addPair("*FRTYP", "-2.9");
    EXPECT_EQ(idx5Prepare(&rec), 1);
    const CycleParams* p = cycleParamsApplied();
    EXPECT_EQ(p->bladeCount, 5);
    EXPECT_STREQ(p->bladeKvx, "first selection");
    EXPECT_EQ(p->frtyp, -2);
    EXPECT_EQ(p->toolTip, 2);  // no tool reference: as it was
}

TEST_F(Idx5Prepare, ToolReferenceMakesTheToolTipTheReference) {
    rec.cfgMode = 1;
    addPair("*TOOL_REFERENCE", "T7");
    addPair("*TREF_T7", "12.5");
    EXPECT_EQ(idx5Prepare(&rec), 1);
    EXPECT_EQ(cycleParamsApplied()->toolTip, 1);

    // A name without its offset leaves the tool tip alone.
    cycleParamsResetState();
    kvListFree(rec.cfgVars);
    rec.cfgVars = nullptr;
    addPair("*TOOL_REFERENCE", "T8");
    EXPECT_EQ(idx5Prepare(&rec), 1);
    EXPECT_EQ(cycleParamsApplied()->toolTip, 2);
}

TEST_F(Idx5Prepare, ConfigurationRunOfTheCycleSetsTheRecordAndRepeatsIdentically) {
    // No comment behind a value: the kernel's word-pair reader continues such a pair in the next line.
    writeFile("job.cfg",
              "# plunge job\n"
              "*BLADE_COUNT 12\n"
              "*BLADE_KVX  blades one  \n"
              "*INCH 1\r\n"
              "*FRRADIUS 0.5\n"
              "*STARTPT 1 2 3\n");
    std::vector<std::string> first;
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        int e = configurationRun("job.cfg");
        ASSERT_GE(e, 0);
        EXPECT_NE(e, kRunInputFailed);
        const CycleParams* applied = cycleParamsApplied();
        EXPECT_EQ(applied->bladeCount, 12);
        EXPECT_STREQ(applied->bladeKvx, "blades one");
        EXPECT_EQ(applied->inchMode, 1);
        scaleLengthParams(applied->inchMode ? kCycleInchFactor : 1.0);
        EXPECT_DOUBLE_EQ(cycleParams()->frradius, 12.5);
        EXPECT_DOUBLE_EQ(cycleParams()->startpt[2], 75.0);
        if (run == 0)
            first = snapshotOf(cycleParams());
        else
            EXPECT_EQ(snapshotOf(cycleParams()), first);
    }
}
