#include "kernel/cycle/cycrun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/cycle/cycstart.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/ncout/ncout.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"
#include "kernel/exports/exports.h"

namespace {

std::vector<int> gRan;  // slots in the order they ran

template <int Slot>
int okSlot(CycleRecord*) {
    gRan.push_back(Slot);
    return 1;
}
template <int Slot>
int failSlot(CycleRecord*) {
    gRan.push_back(Slot);
    return 0;
}

// A record whose slots 1 and 4 to 15 each note that they ran; prepare registers channels 0 and 1.
void initRunRecord(CycleRecord* r) {
    initTestRecord(r);
    r->slots.m[kSlotPrepare] = [](CycleRecord* self) {
        gRan.push_back(kSlotPrepare);
        ncRegisterHandler(self, 0, acceptRecord, acceptRecord, 1);
        ncRegisterHandler(self, 1, acceptRecord, acceptRecord, 1);
        return 1;
    };
    CycleMethod ok[] = {okSlot<4>,  okSlot<5>,  okSlot<6>,  okSlot<7>,  okSlot<8>,  okSlot<9>,
                        okSlot<10>, okSlot<11>, okSlot<12>, okSlot<13>, okSlot<14>, okSlot<15>};
    for (int s = 4; s < 16; ++s) r->slots.m[s] = ok[s - 4];
}

class CycRunTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetCoreToBinFolder();
        cycleResetState();
        ncOutResetState();
        initRunRecord(&rec);
        gRan.clear();
        recordedSignals().clear();
        writeTestFile("run.pcf", "depth := 4\n");
        std::remove("kvTest.def");  // the test record's defaults file: none here
    }
    void TearDown() override {
        cycleCleanup(&rec);
        coreClose(&rec);
        ncFreeChannels(&rec);
        cycleResetState();
        ncOutResetState();
        resetCoreToBinFolder();
    }
    // Starts with the arguments and runs with the signal recorder; the error code.
    int run(std::vector<std::string> args) {
        std::vector<char*> argv;
        for (auto& a : args) argv.push_back(a.data());
        if (!cycleStart(&rec, argv.data(), static_cast<uint16_t>(args.size()), 0)) return -1;
        rec.signalFn = recordSignal;
        int e = cycleRun(&rec);
        rec.signalFn = nullptr;
        return e;
    }
    CycleRecord rec;
};

}  // namespace

TEST_F(CycRunTest, MainRunErrorCodesAndSteps) {
    struct Case {
        std::vector<int> failing;
        int error;
        std::vector<int> ran;
    } cases[] = {
        {{}, 0, {1, 10, 12, 13, 14, 15}},
        {{10}, 21, {1, 10, 15}},
        {{10, 15}, 21, {1, 10, 15}},
        {{12}, 22, {1, 10, 12, 15}},
        {{13}, 23, {1, 10, 12, 13, 15}},
        {{14}, 24, {1, 10, 12, 13, 14, 15}},
        {{15}, 31, {1, 10, 12, 13, 14, 15}},
        {{1}, 0, {1, 10, 12, 13, 14, 15}},  // prepare cannot fail the run
    };
    CycleMethod fail[] = {failSlot<0>,  failSlot<1>,  failSlot<2>,  failSlot<3>, failSlot<4>,  failSlot<5>,
                          failSlot<6>,  failSlot<7>,  failSlot<8>,  failSlot<9>, failSlot<10>, failSlot<11>,
                          failSlot<12>, failSlot<13>, failSlot<14>, failSlot<15>};
    for (const auto& c : cases) {
        initRunRecord(&rec);
        rec.started = 0;
        for (int s : c.failing) rec.slots.m[s] = fail[s];
        gRan.clear();
        recordedSignals().clear();
        EXPECT_EQ(run({"-Srun"}), c.error);
        EXPECT_EQ(gRan, c.ran);
        // Registration signals (131/139) of the prepare slot left aside, the steps bracket exactly.
        std::vector<int32_t> sig;
        for (int32_t n : recordedSignals()) {
            if (n != 131 && n != 139) sig.push_back(n);
        }
        std::vector<int32_t> want = {311, 312, 319};  // the parameter source is the first record
        for (int slot : c.ran) {
            if (slot == 1) continue;
            int32_t begin = slot == 15 ? 391 : 321 + 10 * (slot == 10 ? 0 : slot - 11);
            want.push_back(begin);
            want.push_back(begin + 8);
        }
        want.push_back(411);
        want.push_back(419);
        EXPECT_EQ(sig, want);
        ncFreeChannels(&rec);
    }
}

TEST_F(CycRunTest, InformationModesRunInOrderAndStopAtTheFirstFailure) {
    EXPECT_EQ(run({}), 0);
    EXPECT_EQ(gRan, (std::vector<int>{4, 5}));
    EXPECT_EQ(recordedSignals(), (std::vector<int32_t>{211, 219, 221, 229, 411, 419}));

    struct Case {
        std::vector<std::string> args;
        int failing, error;
        std::vector<int> ran;
    } cases[] = {
        {{"-V", "-P"}, 4, 11, {4}},
        {{"-?"}, 5, 12, {5}},
        {{"-P", "-A"}, 6, 13, {6}},
        {{"-A", "-Y"}, 7, 14, {7}},
        {{"-Y", "-D"}, 8, 15, {8}},
        {{"-D", "-V"}, 9, 16, {4, 9}},
        {{"-V", "-D", "-Y"}, 0, 0, {4, 8, 9}},
    };
    CycleMethod fail[] = {failSlot<4>, failSlot<5>, failSlot<6>, failSlot<7>, failSlot<8>, failSlot<9>};
    for (const auto& c : cases) {
        initRunRecord(&rec);
        if (c.failing) rec.slots.m[c.failing] = fail[c.failing - 4];
        gRan.clear();
        EXPECT_EQ(run(c.args), c.error) << c.args[0];
        EXPECT_EQ(gRan, c.ran) << c.args[0];
    }
}

TEST_F(CycRunTest, ParameterSourceIsReportedOnChannelsZeroAndOne) {
    std::vector<std::string> seen;
    static std::vector<std::string>* out;
    out = &seen;
    rec.slots.m[kSlotPrepare] = [](CycleRecord* self) {
        auto keep = [](CycleRecord*, NcRecord* o) {
            char n[256], v[256];
            out->push_back(std::to_string(ncRecGetI32(o, KVNC_TYPE)) + " " +
                           ncRecGetText(o, KVNC_TEXT_NAME, 256, n) + " " +
                           ncRecGetText(o, KVNC_TEXT_VALUE, 256, v));
            return 1;
        };
        ncRegisterHandler(self, 0, keep, acceptRecord, 1);
        ncRegisterHandler(self, 1, keep, acceptRecord, 1);
        return 1;
    };
    writeTestFile("src.pcf", "cfgFile := src.words\nname := v1\n");
    writeTestFile("src.words", "*A 1\n*B\n");
    EXPECT_EQ(run({"-Ssrc"}), 0);
    EXPECT_EQ(seen, (std::vector<std::string>{
                        "112 cfgSource src",
                        "202 def \"tempMem\":=\"128\"",
                        "201 call \"name\":=\"v1\"",
                        "201 call \"cfgFile\":=\"src.words\"",
                        "204 cfg *A 1",
                        "204 cfg *B",
                    }));
}

TEST_F(CycRunTest, AfterTheRunTheRecordIsClearedAndTheCoreClosed) {
    rec.slots.m[kSlotEnd] = rootCycleEnd;
    EXPECT_EQ(run({"-Srun", "pos"}), 0);
    EXPECT_EQ(rec.args, nullptr);
    EXPECT_EQ(rec.argCount, 0);
    EXPECT_EQ(rec.paramFile, nullptr);
    EXPECT_EQ(rec.vars, nullptr);
    EXPECT_EQ(rec.cfgVars, nullptr);
    EXPECT_EQ(rec.channels, nullptr);  // the root's end frees them
    EXPECT_EQ(rec.coreHandle, nullptr);
    EXPECT_EQ(coreUseCount(), 0);
    EXPECT_FALSE(coreLibraryMapped());
}

TEST_F(CycRunTest, InfoSectionNeedsTheFileAndTheLanguage) {
    writeTestFile("info.lng", "start english\n:line one\nend english\n");
    writeTestFile("empty.lng", "start english\nend english\n");
    rec.slots.m[kSlotParameters] = cycleInfoParameters;
    rec.slots.m[kSlotAlgorithm] = cycleInfoAlgorithm;
    rec.slots.m[kSlotLayers] = cycleInfoLayers;
    writeTestFile("noinfo.pcf", "x := 1\n");
    EXPECT_EQ(run({"-P", "-Snoinfo"}), kRunParametersFailed);
    writeTestFile("info.pcf",
                  "parameters := info.lng\nalgorithm := info.lng\nlayers := empty.lng\n"
                  "SystemLanguage := english\n");
    EXPECT_EQ(run({"-P", "-A", "-Sinfo"}), 0);
    EXPECT_EQ(run({"-P", "-Y", "-Sinfo"}), kRunLayersFailed);
}

// ---- Host runs through kvCSexecCycle ----

namespace {

struct HostRun {
    CycleRecord* record;
    std::vector<CycleRecord*>* chain;  // distinct records started one inside the other
    size_t index;
    std::vector<int>* results;
    int calls = 0;
};

char gArgS[] = "-Srun";
char* gArgv[] = {gArgS, nullptr};

int nestOnFirstRecord(KvCycle* cycle, int32_t, const void*, void* user) {
    auto* run = static_cast<HostRun*>(user);
    if (run->calls++) return 1;
    if (run->chain) {
        if (run->index + 1 < run->chain->size()) {
            CycleRecord* next = (*run->chain)[run->index + 1];
            HostRun inner{next, run->chain, run->index + 1, run->results};
            HostCallbacks cb = {nestOnFirstRecord, &inner, nullptr, nullptr, nullptr, nullptr};
            run->results->push_back(kvCSexecCycle(reinterpret_cast<KvCycle*>(next), 1, gArgv, &cb));
        }
        return 1;
    }
    // The same record again, while it runs.
    HostCallbacks cb = {nestOnFirstRecord, run, nullptr, nullptr, nullptr, nullptr};
    run->results->push_back(kvCSexecCycle(cycle, 1, gArgv, &cb));
    run->results->push_back(run->record->paramFile && run->record->vars && run->record->coreHandle ? 1 : 0);
    return 1;
}

}  // namespace

TEST_F(CycRunTest, NestedRunOnTheRunningRecordIsRefused) {
    std::vector<int> results;
    HostRun host{&rec, nullptr, 0, &results};
    HostCallbacks cb = {nestOnFirstRecord, &host, nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(kvCSexecCycle(reinterpret_cast<KvCycle*>(&rec), 1, gArgv, &cb), 1);
    EXPECT_EQ(results, (std::vector<int>{0, 1}));  // refused; the outer run's fields intact
    EXPECT_EQ(gRan, (std::vector<int>{1, 10, 12, 13, 14, 15}));
    EXPECT_EQ(hostCallbackDepth(), 0);
    EXPECT_EQ(coreUseCount(), 0);
}

TEST_F(CycRunTest, EightDistinctRecordsNestAndTheNinthIsRefused) {
    std::vector<CycleRecord> records(9);
    std::vector<CycleRecord*> chain;
    for (auto& r : records) {
        initRunRecord(&r);
        chain.push_back(&r);
    }
    std::vector<int> results;
    HostRun outer{chain[0], &chain, 0, &results};
    HostCallbacks cb = {nestOnFirstRecord, &outer, nullptr, nullptr, nullptr, nullptr};
    EXPECT_EQ(kvCSexecCycle(reinterpret_cast<KvCycle*>(chain[0]), 1, gArgv, &cb), 1);
    // results are pushed innermost first: the ninth (depth 9) refused, the 2nd..8th ran.
    EXPECT_EQ(results, (std::vector<int>{0, 1, 1, 1, 1, 1, 1, 1}));
    EXPECT_EQ(hostCallbackDepth(), 0);
    EXPECT_EQ(coreUseCount(), 0);
    for (auto& r : records) ncFreeChannels(&r);
}

TEST_F(CycRunTest, HostRunRestoresTheWriterAndDropsItsListeners) {
    CycleRecord other;
    initTestRecord(&other);
    ncSetWriter(&other);
    static CycleRecord* writerDuringRun;
    rec.slots.m[kSlotRun] = [](CycleRecord*) {
        writerDuringRun = ncGetWriter();
        return 1;
    };
    int calls = 0;
    HostCallbacks cb = {[](KvCycle*, int32_t, const void*, void* user) {
                            ++*static_cast<int*>(user);
                            return 1;
                        },
                        &calls,
                        nullptr,
                        nullptr,
                        nullptr,
                        nullptr};
    cb.fn2 = cb.fn1;
    cb.data2 = cb.data1;
    for (int n = 1; n <= 2; ++n) {
        EXPECT_EQ(kvCSexecCycle(reinterpret_cast<KvCycle*>(&rec), 1, gArgv, &cb), 1);
        EXPECT_EQ(writerDuringRun, &rec);
        EXPECT_EQ(ncGetWriter(), &other);
        ASSERT_NE(rec.channels, nullptr);  // the handlers stay for the next run
        for (NcChannel* c = rec.channels; c; c = c->next) EXPECT_EQ(c->listeners, nullptr);
        EXPECT_EQ(coreUseCount(), 0);
        EXPECT_FALSE(coreLibraryMapped());
    }
    // Each run's records reached the host once per pair: 112 on channel 0 (pairs 1 and 2)
    // and the two variables on channel 1 (pair 2); no listener of the first run is left over.
    EXPECT_EQ(calls, 2 * 4);
}

TEST_F(CycRunTest, FailedHostStartLeavesNoTrace) {
    CycleRecord oldParent;
    initTestRecord(&oldParent);
    oldParent.frameVersion = 3;
    initRunRecord(&rec);
    rec.parent = &oldParent;
    HostCallbacks cb = {};
    EXPECT_EQ(kvCSexecCycle(reinterpret_cast<KvCycle*>(&rec), 1, gArgv, &cb), 0);
    EXPECT_EQ(rec.signalFn, nullptr);
    EXPECT_EQ(hostCallbackDepth(), 0);
    EXPECT_EQ(coreUseCount(), 0);
    EXPECT_TRUE(gRan.empty());
}
