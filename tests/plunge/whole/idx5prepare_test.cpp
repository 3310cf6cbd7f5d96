// The configuration step of the plunge-roughing cycle: the word pairs of a
// configuration run reach the parameter record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycle.h"
#include "kernel/cycle/cycrun.h"
#include "kernel/cycle/cycstart.h"
#include "plunge/idx5.h"
#include "kernel/ncout/ncout.h"
#include "../paramtest.h"
#include "plunge/cycparams.h"
#include "plunge/plungerun.h"
#include "kernel/exports/exports.h"

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

// The pairs of a configuration step reach the record; a tool reference with its offset makes the tool
// tip the reference, a name without one (or no reference) leaves the tip as it was.
TEST_F(Idx5Prepare, AppliesTheConfigurationPairsAndTheToolReference) {
    const struct {
        Pairs pairs, stored;
        int toolTip;
    } cases[] = {{{{"*blade_count", "5"}, {"*BLADE_KVX", "first selection"}, {"*FRTYP", "-2.9"}},
                  {{"*BLADE_COUNT", "5"}, {"*BLADE_KVX", "first selection"}, {"*FRTYP", "-2"}},
                  2},
                 {{{"*TOOL_REFERENCE", "T7"}, {"*TREF_T7", "12.5"}}, {}, 1},
                 {{{"*TOOL_REFERENCE", "T8"}}, {}, 2}};
    for (const auto& c : cases) {
        cycleParamsResetState();
        kvListFree(rec.cfgVars);
        rec.cfgVars = nullptr;
        rec.cfgMode = 1;
        for (const auto& [key, value] : c.pairs) rec.cfgVars = kvListAppend(rec.cfgVars, key, value, kKvFile);
        EXPECT_EQ(idx5Prepare(&rec), 1);
        for (const auto& [keyword, value] : c.stored)
            EXPECT_EQ(valueText(cycleParamsApplied(), keyword), value);
        EXPECT_EQ(cycleParamsApplied()->toolTip, c.toolTip) << c.pairs[0].first;
    }
    EXPECT_EQ(idx5Prepare(nullptr), 0);  // no step to prepare
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
