#include "kernel/cycle/cycstart.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "pocket/ccp.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycrun.h"
#include "plunge/idx5.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"

namespace {

class CycStartTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetCoreToBinFolder();
        cycleStartResetState();
        initTestRecord(&rec);
    }
    void TearDown() override {
        finish(&rec);
        resetCoreToBinFolder();
    }
    static void finish(CycleRecord* r) {
        cycleCleanup(r);
        coreClose(r);
    }
    int start(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        return cycleStart(&rec, argv.data(), static_cast<uint16_t>(args.size()), 0);
    }
    std::string var(const char* key, KvList* list = nullptr) {
        char* v = kvListGet(list ? list : rec.vars, key, nullptr);
        std::string s = v ? v : "<none>";
        free(v);
        return s;
    }
    CycleRecord rec;
};

}  // namespace

TEST_F(CycStartTest, ArgumentVectorSetsFlagsModeAndTrace) {
    struct Case {
        std::vector<std::string> args;
        uint16_t flags;
        int32_t pcf;
        uint16_t trace;
        std::vector<std::string> positional;
    } cases[] = {
        {{}, 3, 0, 0, {}},
        {{"alpha", "beta"}, 3, 0, 0, {"alpha", "beta"}},
        {{"-v", "-P"}, 5, 0, 0, {}},
        {{"/a", "-y", "-D", "-p"}, 8 | 16 | 32 | 4, 0, 0, {}},
        {{"-PCF"}, 3, 1, 0, {}},
        {{"-PCF", "-POF"}, 3, 0, 0, {}},
        {{"-Pcf"}, 3, 1, 0, {}},
        {{"-pcf"}, 3, 0, 0, {"-pcf"}},
        {{"-PCX"}, 3, 0, 0, {"-PCX"}},
        {{"-V", "?x"}, 2, 0, 0, {}},
        {{"-M3"}, 3, 0, 3, {}},
        {{"-mx"}, 3, 0, 0, {}},
        {{"-M"}, 3, 0, 0, {"-M"}},
        {{"-S"}, 3, 0, 0, {"-S"}},
        {{"-"}, 3, 0, 0, {"-"}},
        {{"-Q"}, 3, 0, 0, {"-Q"}},
    };
    for (auto& c : cases) {
        std::string label;
        for (const auto& a : c.args) label += a + " ";
        ASSERT_NE(start(c.args), 0) << label;
        EXPECT_EQ(rec.flags, c.flags) << label;
        EXPECT_EQ(rec.pcf, c.pcf) << label;
        EXPECT_EQ(rec.traceLevel, c.trace) << label;
        ASSERT_EQ(rec.argCount, c.positional.size()) << label;
        for (size_t i = 0; i < c.positional.size(); ++i) EXPECT_STREQ(rec.args[i], c.positional[i].c_str());
        if (c.positional.empty()) {
            EXPECT_EQ(rec.args, nullptr) << label;
        }
        finish(&rec);
    }
}

TEST_F(CycStartTest, ParameterFileOptionNamesTheFile) {
    writeTestFile("job.pcf", "fromJob := 1\n");
    writeTestFile("kvTest.def", "fromDefaults := 2\n");
    ASSERT_NE(start({"-Sjob"}), 0);
    EXPECT_EQ(rec.flags, kFlagParamFile);
    EXPECT_STREQ(rec.paramFile, "job");
    EXPECT_EQ(rec.cfgMode, 0);
    uint16_t type = 0;
    char* v = kvListGet(rec.vars, "fromJob", &type);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(type, kKvFile);
    free(v);
    v = kvListGet(rec.vars, "fromDefaults", &type);
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(type, kKvDefaults);
    free(v);
    EXPECT_EQ(var("tempMem"), "128");
    finish(&rec);

    // "?" after S drops flag 256, but the file is still read.
    ASSERT_NE(start({"-Sjob", "?"}), 0);
    EXPECT_EQ(rec.flags, kFlagHelp);
    EXPECT_EQ(var("fromJob"), "1");
    finish(&rec);

    writeTestFile("upper.PCF", "upper := 3\n");
    ASSERT_NE(start({"-Supper.PCF"}), 0);
    EXPECT_EQ(var("upper"), "3");
    finish(&rec);

    writeTestFile(".cfg.pcf", "dotcfg := 4\n");
    ASSERT_NE(start({"-S.cfg"}), 0);
    EXPECT_EQ(rec.cfgMode, 0);
    EXPECT_EQ(var("dotcfg"), "4");
}

TEST_F(CycStartTest, ConfigurationFileMakesAConfigurationRun) {
    writeTestFile("job.cfg",
                  "*APT out\\path.pof\n*FRAME_ID 7\n*FRAME_COMMENT a\\b\n*NCKO_Z 0 0 2\n*NCKO_O 1 2 3\n"
                  "*WZKO_X 0 3 0\n*NCKO_Z 0 0 0\n");
    ASSERT_NE(start({"-Sjob.cfg"}), 0);
    EXPECT_EQ(rec.cfgMode, 1);
    EXPECT_EQ(var("pofFilename"), "out\\path.pof");
    EXPECT_EQ(var("zeroPointID"), "7");
    EXPECT_EQ(var("frameComment"), "a\\\\b");
    EXPECT_EQ(var("*TEMP_MEM"), "128");
    EXPECT_EQ(var("tempMem"), "<none>");
    EXPECT_EQ(var("*APT", rec.cfgVars), "out\\path.pof");
    // z axis from the valid word (the zero one later leaves it), origin column 3.
    EXPECT_EQ(rec.frame[2], 0.0);
    EXPECT_EQ(rec.frame[10], 1.0);
    EXPECT_EQ(rec.frame[3], 1.0);
    EXPECT_EQ(rec.frame[7], 2.0);
    EXPECT_EQ(rec.frame[11], 3.0);
    // The tool frame is the frame with its x axis from *WZKO_X.
    EXPECT_EQ(rec.toolFrame[0], 0.0);
    EXPECT_EQ(rec.toolFrame[4], 1.0);
    EXPECT_EQ(rec.toolFrame[11], 3.0);
}

TEST_F(CycStartTest, FramesFromTheParameterFile) {
    writeTestFile(
        "frames.pcf",
        "frameCs_z := \"0 0 2\"\nframeCs_x := \"0 0 0\"\nframeCs_o := \"5 6 7\"\ntoolCs_y := \"0 0 3\"\n");
    ASSERT_NE(start({"-Sframes"}), 0);
    double identity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};
    double frame[16] = {1, 0, 0, 5, 0, 1, 0, 6, 0, 0, 1, 7, 0, 0, 0, 1};
    double tool[16] = {1, 0, 0, 5, 0, 0, 0, 6, 0, 1, 1, 7, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(rec.frame[i], frame[i]) << i;
        EXPECT_EQ(rec.toolFrame[i], tool[i]) << i;
    }
    EXPECT_EQ(var("toolCs_o"), "5 6 7");
    uint16_t type = 0;
    free(kvListGet(rec.vars, "toolCs_z", &type));
    EXPECT_EQ(type, kKvDerived);
    finish(&rec);
    ASSERT_NE(start({}), 0);  // no parameter file: the identity again
    for (int i = 0; i < 16; ++i) EXPECT_EQ(rec.frame[i], identity[i]);
}

TEST_F(CycStartTest, FirstStartInheritsSlotsAlongTheChain) {
    ASSERT_NE(cycleStart(&kvIdx5, nullptr, 0, 0), 0);
    EXPECT_EQ(kvIdx5.started, 1);
    EXPECT_EQ(kvCyc3d.started, 1);
    EXPECT_EQ(kvIdx5.slots.m[kSlotArgs], cyc3dRejectArgs);
    EXPECT_EQ(kvIdx5.slots.m[kSlotPrepare], cyc3dInitFromParams);
    EXPECT_EQ(kvIdx5.slots.m[kSlotReadParams], rootReadParameters);
    EXPECT_EQ(kvIdx5.slots.m[kSlotReadCfg], rootReadCfg);
    EXPECT_EQ(kvIdx5.slots.m[kSlotVersion], static_cast<CycleMethod>(acceptRecord));
    EXPECT_EQ(kvIdx5.slots.m[kSlotParameters], cycleInfoParameters);
    EXPECT_EQ(kvIdx5.slots.m[kSlotModeD], static_cast<CycleMethod>(acceptRecord));
    EXPECT_EQ(kvIdx5.slots.m[kSlotRun], idx5Run);
    EXPECT_EQ(kvIdx5.slots.m[kSlotEnd], cyc3dCycleEnd);
    EXPECT_NE(kvIdx5.coreHandle, nullptr);
    EXPECT_EQ(kvCyc3d.coreHandle, nullptr);  // a parent start opens nothing
    EXPECT_EQ(coreUseCount(), 1);
    finish(&kvIdx5);
    EXPECT_EQ(coreUseCount(), 0);
    // The second start opens the core library again.
    ASSERT_NE(cycleStart(&kvIdx5, nullptr, 0, 0), 0);
    EXPECT_EQ(coreUseCount(), 1);
    finish(&kvIdx5);
}

TEST_F(CycStartTest, AnotherFrameVersionFailsTheStartAndClosesTheCore) {
    CycleRecord oldParent;
    initTestRecord(&oldParent);
    oldParent.frameVersion = 4;
    initTestRecord(&rec, &oldParent);
    EXPECT_EQ(start({"-V"}), 0);
    EXPECT_EQ(rec.started, 0);
    EXPECT_EQ(rec.flags, 0);
    EXPECT_EQ(rec.coreHandle, nullptr);
    EXPECT_EQ(coreUseCount(), 0);
    EXPECT_FALSE(coreLibraryMapped());

    // Further up the chain: the child cannot inherit from a parent that did not start.
    CycleRecord child;
    initTestRecord(&child, &rec);
    EXPECT_EQ(cycleStart(&child, nullptr, 0, 0), 0);
    EXPECT_EQ(child.started, 0);
    EXPECT_EQ(child.slots.m[kSlotVersion], nullptr);
    EXPECT_EQ(coreUseCount(), 0);
}

TEST_F(CycStartTest, FailingParameterReadingFreesTheRunAndClosesTheCore) {
    rec.slots.m[kSlotReadParams] = [](CycleRecord*) { return 0; };
    EXPECT_EQ(start({"-Sjob", "pos"}), 0);
    EXPECT_EQ(rec.args, nullptr);
    EXPECT_EQ(rec.paramFile, nullptr);
    EXPECT_EQ(rec.vars, nullptr);
    EXPECT_EQ(rec.coreHandle, nullptr);
    EXPECT_EQ(coreUseCount(), 0);
}

TEST_F(CycStartTest, SignalsOfTheStartAndTheCfgFileStep) {
    writeTestFile("withcfg.pcf", "cfgFile := words.txt\n");
    writeTestFile("words.txt", "*DEPTH 4\n");
    rec.signalFn = recordSignal;
    recordedSignals().clear();
    ASSERT_NE(start({"-Swithcfg", "pos"}), 0);
    EXPECT_EQ(recordedSignals(), (std::vector<int32_t>{111, 119, 121, 129}));
    uint16_t type = 0;
    char* depth = kvListGet(rec.cfgVars, "*DEPTH", &type);
    ASSERT_NE(depth, nullptr);
    EXPECT_STREQ(depth, "4");
    EXPECT_EQ(type, kKvFile);
    free(depth);
}

TEST_F(CycStartTest, VersionAndReleaseTexts) {
    char text[64];
    struct Case {
        CycleRecord* record;
        const char* version;
    } cases[] = {{&cycleRootRecord, "5.0-25.03.1999"},
                 {&kvIdx5, "1.01-16.06.2003"},
                 {&kvCCP, "6.0-08.06.2001"},
                 {&rec, "2.05-09.02.2024"}};
    for (const auto& c : cases) {
        cycleVersionText(c.record, text, sizeof text);
        EXPECT_STREQ(text, c.version);
    }
    rec.versionMinor = 10;
    cycleVersionText(&rec, text, sizeof text);
    EXPECT_STREQ(text, "2.1-09.02.2024");
    ASSERT_NE(cycleModulePath(), nullptr);  // attached at load
    cycleReleaseText(&kvIdx5, text, sizeof text);
    EXPECT_STREQ(text, "0.1.0-0.1.0.0");
    // Detached, the module path is gone and the record's version stands in.
    cycleDllAttach(cycleModuleHandle(), kDetachProcess, nullptr);
    EXPECT_EQ(cycleModulePath(), nullptr);
    cycleReleaseText(&kvIdx5, text, sizeof text);
    EXPECT_STREQ(text, "1.01-16.06.2003");
    EXPECT_EQ(cycleDllMain(cycleModuleHandle(), kAttachProcess, nullptr), 1);
    EXPECT_EQ(std::string(cycleModulePath()), moduleFileName());
}

TEST_F(CycStartTest, BypassFileIsCopiedToStandardOutputInPofMode) {
    writeTestFile("bypass.txt", std::string(1200, 'x') + "\nend\n");
    writeTestFile("by.pcf", "POFbypass := bypass.txt\n");
    testing::internal::CaptureStdout();
    ASSERT_NE(start({"-Sby"}), 0);
    finish(&rec);
    ASSERT_NE(start({"-Sby", "-PCF"}), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), std::string(1200, 'x') + "\nend\n");
}
