#include "kernel/ncout/pof.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/ncout/core.h"
#include "kernel/base/kvx/kvxfile.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/toolcontour.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"

namespace {

NcRecord textRecord(int32_t type, const char* name, const char* value) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, type);
    ncRecPutText(&rec, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, name);
    ncRecPutText(&rec, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value);
    return rec;
}

NcRecord pointRecord(int32_t type, double x, double y, double z) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, type);
    ncRecPutF64(&rec, KVNC_POINT_X, x);
    ncRecPutF64(&rec, KVNC_POINT_Y, y);
    ncRecPutF64(&rec, KVNC_POINT_Z, z);
    return rec;
}

class PofTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetCoreToBinFolder();
        initTestRecord(&rec);
        ASSERT_EQ(coreOpen(&rec), 1);
    }
    void TearDown() override {
        pofResetState();
        coreClose(&rec);
        kvListFree(rec.vars);
        if (rec.tool) {
            freeToolRecord(rec.tool);
            free(rec.tool);
        }
        resetCoreToBinFolder();
    }
    // One run's records as channel 0 and 31 see them; the results of the handlers.
    std::string run(int32_t endType) {
        NcRecord begin = textRecord(103, "cycle", "T");
        NcRecord move = pointRecord(3113, 1, 2.5, -1);
        NcRecord end = textRecord(endType, endType == 104 ? "cycleEnd" : "error", "E");
        std::string results = std::to_string(pofChannel0(&rec, &begin));
        results += std::to_string(pofChannel31(&rec, &move));
        results += std::to_string(pofChannel0(&rec, &end));
        return results;
    }
    CycleRecord rec;
};

FILE* coreFile(CycleRecord* rec) {
    FILE* f = nullptr;
    coreGetFP(rec, &f);
    return f;
}

}  // namespace

TEST_F(PofTest, BackslashNamesAppendOverRuns) {
    mkdir("a", 0755);
    std::remove("a/b.pof");
    rec.vars = kvListSet(rec.vars, "pofFilename", "a\\b.pof", kKvFile);
    for (int n = 0; n < 2; ++n) {
        EXPECT_EQ(run(104), "111");
        EXPECT_EQ(coreFile(&rec), nullptr);
        EXPECT_EQ(pofOpenedFile(&rec), nullptr);
    }
    const std::string once =
        "0 103 name=\"cycle\" value=\"T\"\n31 3113 x=1 y=2.5 z=-1\n0 104 name=\"cycleEnd\" value=\"E\"\n";
    EXPECT_EQ(readTestFile("a/b.pof"), once + once);
}

TEST_F(PofTest, AnErrorRecordClosesTheOutputAndFails) {
    std::remove("err.pof");
    rec.vars = kvListSet(rec.vars, "pofFilename", "err.pof", kKvFile);
    EXPECT_EQ(run(102), "110");  // 0 although the core library wrote the line
    EXPECT_EQ(pofOpenedFile(&rec), nullptr);
    EXPECT_EQ(coreFile(&rec), nullptr);
    EXPECT_EQ(readTestFile("err.pof"),
              "0 103 name=\"cycle\" value=\"T\"\n31 3113 x=1 y=2.5 z=-1\n0 102 name=\"error\" value=\"E\"\n");
}

TEST_F(PofTest, OnlyTheFileItOpenedIsClosed) {
    // The core's output set by someone else: the end record clears it but leaves the file open.
    FILE* mine = fopen("mine.pof", "w");
    ASSERT_NE(mine, nullptr);
    coreSetFP(&rec, mine);
    EXPECT_EQ(run(104), "111");
    EXPECT_EQ(coreFile(&rec), nullptr);
    EXPECT_GE(fputs("still open\n", mine), 0);
    EXPECT_EQ(fclose(mine), 0);
    EXPECT_EQ(
        readTestFile("mine.pof"),
        "0 103 name=\"cycle\" value=\"T\"\n31 3113 x=1 y=2.5 z=-1\n0 104 name=\"cycleEnd\" value=\"E\"\n"
        "still open\n");
}

TEST_F(PofTest, CycleBeginLoadsTheToolContourAndTheEndFreesIt) {
    writeTestFile("t.kvx", std::string(kKvxBanner) + "\n" + kKvxVersionTag +
                               " 1.0\na\nb\no Contour[Tool]()\n{\n"
                               "o M(x[0/3] y[0/4])\n}\n");
    rec.vars = kvListSet(rec.vars, "toolContour", "t.kvx", kKvFile);
    rec.toolContourFlag = 1;
    NcRecord begin = textRecord(103, "cycle", "T");
    pofChannel0(&rec, &begin);  // without "pofFilename"
    ASSERT_NE(rec.tool, nullptr);
    ASSERT_EQ(rec.tool->tool.count, 1);
    EXPECT_EQ(rec.tool->tool.elements[0].x, 3);
    NcRecord end = textRecord(104, "cycleEnd", "T");
    pofChannel0(&rec, &end);
    EXPECT_EQ(rec.tool, nullptr);
}

TEST_F(PofTest, WithoutTheCoreLibraryTheHandlersFail) {
    CycleRecord closed;
    initTestRecord(&closed);
    NcRecord move = pointRecord(3113, 1, 2, 3);
    NcRecord begin = textRecord(103, "cycle", "T");
    NcHandler handlers[] = {pofChannel1,  pofChannel2,  pofChannel10, pofChannel11, pofChannel12,
                            pofChannel20, pofChannel31, pofChannel32, pofChannel35, pofChannel36};
    for (NcHandler h : handlers) {
        EXPECT_EQ(h(&closed, &move), 0);
        EXPECT_EQ(h(&rec, &move), 1);
    }
    EXPECT_EQ(pofChannel0(&closed, &begin), 0);
    free(closed.tool);
}

TEST_F(PofTest, TraceHandlersPrintToTheOutputFile) {
    FILE* out = fopen("trace.pof", "w");
    ASSERT_NE(out, nullptr);
    coreSetFP(&rec, out);
    NcRecord trace = pointRecord(0, 0, 0, 0);
    ncRecPutI32(&trace, KVNC_TYPE, 3104);
    ncRecPutF64(&trace, KVNC_TRACE_X, 1);
    ncRecPutF64(&trace, KVNC_TRACE_Y, -2.25);
    ncRecPutF64(&trace, KVNC_TRACE_Z, 3);
    ncRecPutF64(&trace, KVNC_TRACE_W, 2.5);
    EXPECT_EQ(traceChannel30(&rec, &trace), 1);
    ncRecPutI32(&trace, KVNC_TRACE_FLAG, 1);
    EXPECT_EQ(traceChannel30(&rec, &trace), 1);
    NcRecord other = pointRecord(3113, 1, 1, 1);
    EXPECT_EQ(traceChannel30(&rec, &other), 1);
    EXPECT_EQ(traceChannel3(&rec, &other), 1);
    EXPECT_EQ(traceChannel6(&rec, &other), 1);
    coreSetFP(&rec, nullptr);
    fclose(out);
    EXPECT_EQ(
        readTestFile("trace.pof"),
        "30: oP( x[1] y[-2.25] z[3] u[d] )\n30: oP( x[1] y[-2.25] z[3] s[2.5] u[d] )\n3: ---\n6: ---\n");
}

TEST_F(PofTest, OnlyRegularFilesBecomeTheOutput) {
    FILE* file = fopen("regular.pof", "w");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(selectOutputFile(&rec, file), 1);
    EXPECT_EQ(coreFile(&rec), file);
    FILE* device = fopen("/dev/null", "w");
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(selectOutputFile(&rec, device), 0);
    EXPECT_EQ(coreFile(&rec), stdout);
    EXPECT_EQ(selectOutputFile(&rec, nullptr), 0);
    coreSetFP(&rec, nullptr);
    fclose(device);
    fclose(file);
}

namespace {

std::vector<std::string> gMessages;  // the values of the 101 records channel 0 was handed

int keepMessage(CycleRecord*, NcRecord* output) {
    char value[KVNC_TEXT_SIZE + 1];
    if (ncRecGetI32(output, KVNC_TYPE) == 101)
        gMessages.push_back(ncRecGetText(output, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value));
    return 1;
}

}  // namespace

// A named output file that cannot be opened (a missing folder, a folder that is a file, a name too
// long) loses the run's text: nothing goes anywhere else (not to standard output), the host hears
// 5192 with the name whatever the message level, and the end of the output fails the run unless the
// host cancelled it.
TEST_F(PofTest, AnOutputThatCannotBeOpenedIsAMessageAndAFailedRun) {
    writeTestFile("plain", "x");
    const std::string tooLong = std::string(5000, 'n') + ".pof";
    struct Case {
        std::string name;
        int32_t before, after;  // status word
    } cases[] = {{"no-such-folder/x.pof", 0, 1},
                 {"plain/x.pof", 0, 1},
                 {tooLong, 0, 1},
                 {"no-such-folder/x.pof", 100, 100}};
    for (const Case& c : cases) {
        gMessages.clear();
        ncFreeChannels(&rec);
        ASSERT_EQ(ncRegisterHandler(&rec, 0, keepMessage, acceptRecord, 1), 1);
        rec.vars = kvListSet(rec.vars, "pofFilename", c.name.c_str(), kKvFile);
        rec.status = c.before;
        testing::internal::CaptureStdout();
        const std::string results = run(104);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << c.name;
        EXPECT_EQ(results, "111") << c.name;
        EXPECT_EQ(gMessages, std::vector<std::string>{("5192," + c.name).substr(0, KVNC_TEXT_SIZE - 1)});
        EXPECT_EQ(rec.status.load(), c.after) << c.name;
        EXPECT_EQ(coreFile(&rec), nullptr);
        EXPECT_EQ(pofOpenedFile(&rec), nullptr);
    }
    ncFreeChannels(&rec);
    EXPECT_EQ(readTestFile("plain"), "x");
}

// A file that is opened but cannot take the whole text (here: the process may write 64 bytes into a
// file) is reported at the end of the output with 5193 and fails the run; a file that takes it does
// not.
TEST_F(PofTest, AnOutputNotWrittenInFullIsAMessageAndAFailedRun) {
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    void (*savedSignal)(int) = signal(SIGXFSZ, SIG_IGN);  // a write past the limit fails instead
    for (rlim_t limit : {rlim_t(64), saved.rlim_cur}) {
        gMessages.clear();
        ncFreeChannels(&rec);
        ASSERT_EQ(ncRegisterHandler(&rec, 0, keepMessage, acceptRecord, 1), 1);
        std::remove("full.pof");
        rec.vars = kvListSet(rec.vars, "pofFilename", "full.pof", kKvFile);
        rec.status = 0;
        rlimit small = saved;
        small.rlim_cur = limit;
        ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
        const std::string results = run(104);
        setrlimit(RLIMIT_FSIZE, &saved);
        const bool cut = limit != saved.rlim_cur;
        EXPECT_EQ(results, "111");
        EXPECT_EQ(gMessages, cut ? std::vector<std::string>{"5193,full.pof"} : std::vector<std::string>{});
        EXPECT_EQ(rec.status.load(), cut ? 1 : 0);
        EXPECT_EQ(pofOpenedFile(&rec), nullptr);
    }
    signal(SIGXFSZ, savedSignal);
    ncFreeChannels(&rec);
}
