#include "kernel/cycle/cycle.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pocket/ccp.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycrun.h"
#include "kernel/cycle/cycstart.h"
#include "plunge/idx5.h"
#include "kernel/exports/exports.h"

namespace {

class CycleTest : public ::testing::Test {
  protected:
    void SetUp() override { cycleResetState(); }
    void TearDown() override { cycleResetState(); }
};

struct Call {
    int pair;
    int32_t channel;
};

std::vector<Call> gCalls;
int gAnswer[4] = {1, 1, 1, 1};  // the result of each pair's function

int pairFn(KvCycle*, int32_t channel, const void*, void* user) {
    int pair = *static_cast<int*>(user);
    gCalls.push_back({pair, channel});
    return gAnswer[pair];
}

}  // namespace

TEST_F(CycleTest, GetCycleAnswersTheDefaultRecordEveryTime) {
    KvCycle* first = kvCSgetCycle();
    EXPECT_EQ(first, reinterpret_cast<KvCycle*>(&kvIdx5));
    EXPECT_EQ(kvCSgetCycle(), first);
    EXPECT_EQ(defaultCycle(), &kvIdx5);
}

TEST_F(CycleTest, SetSignalReturnsThePreviousWord) {
    EXPECT_EQ(kvCSsetSignal(nullptr, 100), 0);
    EXPECT_EQ(kvCSsetSignal(nullptr, 100), 100);
    EXPECT_EQ(kvIdx5.hostSignal.load(), 100);
    EXPECT_EQ(kvCSsetSignal(reinterpret_cast<KvCycle*>(&kvCCP), 104), 0);
    EXPECT_EQ(kvCSsetSignal(reinterpret_cast<KvCycle*>(&kvCCP), 0), 104);
}

TEST_F(CycleTest, GetSignalBeforeAnyRunIsZero) {
    EXPECT_EQ(kvCSgetSignal(nullptr), 0);
    kvIdx5.status = 100;
    EXPECT_EQ(kvCSgetSignal(kvCSgetCycle()), 100);
}

TEST_F(CycleTest, CountsTheVectorCannotBackAreRefused) {
    HostCallbacks cb = {};
    char arg[] = "-V";
    char* argv[] = {arg, nullptr};
    EXPECT_EQ(kvCSexecCycle(nullptr, -1, argv, &cb), 0);
    EXPECT_EQ(kvCSexecCycle(nullptr, 2, nullptr, &cb), 0);
    EXPECT_EQ(kvCSexecCycle(nullptr, 70000, argv, &cb), 0);
    EXPECT_EQ(hostCallbackDepth(), 0);
    EXPECT_EQ(kvIdx5.signalFn, nullptr);
}

TEST_F(CycleTest, StaticRecordsCarryTheirIdentities) {
    struct Expect {
        CycleRecord* record;
        CycleRecord* parent;
        const char* title;
        const char* shortName;
        int32_t id;
        uint16_t major, minor, year, month, day;
    } table[] = {
        {&cycleRootRecord, nullptr, "Dudovovovi", nullptr, 1, 5, 0, 1999, 3, 25},
        {&kvCyc3d, &cycleRootRecord, "Corvane 3D Common Cycle", "kvCyc3d", 0, 5, 0, 2001, 3, 28},
        {&kvIdx5, &kvCyc3d, "3D 5-Axis Impeller Plunge Roughing", "kvIdx5", 1157, 1, 1, 2003, 6, 16},
        {&kvCCP, &cycleRootRecord, "Corvane 2D Contour Parallel Pocket Cycle", "kvCCP", 1100, 6, 0, 2001, 6,
         8},
    };
    for (const auto& e : table) {
        const CycleRecord* r = e.record;
        SCOPED_TRACE(e.title);
        EXPECT_EQ(r->parent, e.parent);
        EXPECT_STREQ(r->title, e.title);
        if (e.shortName)
            EXPECT_STREQ(r->shortName, e.shortName);
        else
            EXPECT_EQ(r->shortName, nullptr);
        EXPECT_EQ(r->cycleId, e.id);
        EXPECT_EQ(r->frameVersion, 5);
        EXPECT_EQ(r->versionMajor, e.major);
        EXPECT_EQ(r->versionMinor, e.minor);
        EXPECT_EQ(r->versionYear, e.year);
        EXPECT_EQ(r->versionMonth, e.month);
        EXPECT_EQ(r->versionDay, e.day);
        // Started once any test has run the record; the root from the outset.
        EXPECT_EQ(r->started, r->parent ? r->started : 1);
        EXPECT_TRUE(r->started == 0 || r->started == 1);
        EXPECT_EQ(r->firstRecordPending, 1);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(r->frame[i], i % 5 == 0 ? 1.0 : 0.0);
            EXPECT_EQ(r->toolFrame[i], i % 5 == 0 ? 1.0 : 0.0);
        }
        EXPECT_EQ(r->args, nullptr);
        EXPECT_EQ(r->vars, nullptr);
        EXPECT_EQ(r->channels, nullptr);
        EXPECT_EQ(r->signalFn, nullptr);
        EXPECT_EQ(r->coreHandle, nullptr);
    }
}

TEST_F(CycleTest, SlotTablesAreStoredAsGiven) {
    CycleMethod accept = acceptRecord;
    CycleMethod root[16] = {accept,
                            accept,
                            rootReadParameters,
                            rootReadCfg,
                            accept,
                            accept,
                            cycleInfoParameters,
                            cycleInfoAlgorithm,
                            cycleInfoLayers,
                            accept,
                            accept,
                            accept,
                            accept,
                            accept,
                            accept,
                            rootCycleEnd};
    CycleMethod cyc3d[16] = {cyc3dRejectArgs,
                             cyc3dInitFromParams,
                             nullptr,
                             nullptr,
                             nullptr,
                             nullptr,
                             cycleInfoParameters,
                             cycleInfoAlgorithm,
                             cycleInfoLayers,
                             accept,
                             cyc3dReadParameters,
                             accept,
                             accept,
                             cyc3dRun,
                             accept,
                             cyc3dCycleEnd};
    CycleMethod idx5[16] = {nullptr,
                            nullptr,
                            nullptr,
                            nullptr,
                            nullptr,
                            nullptr,
                            nullptr,
                            cycleInfoAlgorithm,
                            cycleInfoLayers,
                            nullptr,
                            idx5ReadParameters,
                            idx5Prepare,
                            idx5CheckRetractPlane,
                            idx5Run,
                            idx5Finish,
                            nullptr};
    CycleMethod ccp[16] = {ccpRejectArgs,
                           ccpInitFromParams,
                           nullptr,
                           nullptr,
                           nullptr,
                           nullptr,
                           cycleInfoParameters,
                           cycleInfoAlgorithm,
                           cycleInfoLayers,
                           accept,
                           ccpReadParameters,
                           ccpPrepareTool,
                           ccpPrepareGeometry,
                           ccpRunPocket,
                           ccpFinishLists,
                           ccpCycleEnd};
    // An empty slot stays empty until the record's first start, which fills it from the parent.
    auto expectSlot = [](const CycleRecord& r, int i, CycleMethod stored, const char* name) {
        if (stored || !r.started)
            EXPECT_EQ(r.slots.m[i], stored) << name << " slot " << i;
        else
            EXPECT_EQ(r.slots.m[i], r.parent->slots.m[i]) << name << " slot " << i;
    };
    for (int i = 0; i < kSlotCount; ++i) {
        expectSlot(cycleRootRecord, i, root[i], "root");
        expectSlot(kvCyc3d, i, cyc3d[i], "kvCyc3d");
        expectSlot(kvIdx5, i, idx5[i], "kvIdx5");
        expectSlot(kvCCP, i, ccp[i], "kvCCP");
    }
    EXPECT_EQ(cyc3dRejectArgs(&kvCyc3d), 0);
    EXPECT_EQ(ccpRejectArgs(&kvCCP), 0);
    EXPECT_EQ(acceptRecord(&kvIdx5), 1);
    EXPECT_EQ(acceptRecord(&kvIdx5, nullptr), 1);
}

TEST_F(CycleTest, PlungeRunWithoutPartReportsFailureInTheStatusWord) {
    for (CycleMethod m : {idx5Run}) {
        kvIdx5.status = 0;
        EXPECT_EQ(m(&kvIdx5), 1);
        EXPECT_EQ(kvIdx5.status, kStatusFailed);
    }
}

TEST_F(CycleTest, SetCycleStatusMapsResults) {
    struct Case {
        int result;
        int32_t status;
    } cases[] = {{-2, 100}, {-1, 1}, {-3, 1}, {-100, 1}, {0, 0}, {1, 0}, {5, 0}};
    for (const auto& c : cases) {
        kvCCP.status = 77;
        setCycleStatus(&kvCCP, c.result);
        EXPECT_EQ(kvCCP.status, c.status) << c.result;
    }
    setCycleStatus(nullptr, -2);  // no record: nothing
}

TEST_F(CycleTest, ModeCallbackReadsTheDefaultSignalWord) {
    struct Case {
        int32_t signal;
        int answer;
    } cases[] = {{100, 1}, {104, 2}, {0, 0}, {1, 0}, {101, 0}};
    for (const auto& c : cases) {
        kvCSsetSignal(nullptr, c.signal);
        EXPECT_EQ(idx5ModeCallback(), c.answer) << c.signal;
    }
}

TEST_F(CycleTest, AbortHookIsPolledUntilRemoved) {
    EXPECT_EQ(callAbortHook(), 0);
    setAbortHook(idx5ModeCallback);
    EXPECT_EQ(callAbortHook(), 0);
    kvCSsetSignal(nullptr, 100);
    EXPECT_EQ(callAbortHook(), 1);
    setAbortHook(nullptr);
    EXPECT_EQ(callAbortHook(), 0);
}

TEST_F(CycleTest, HostListenersForwardToTheirPairs) {
    int ids[4] = {0, 1, 2, 3};
    HostCallbacks cb = {pairFn, &ids[1], pairFn, &ids[2], pairFn, &ids[3]};
    NcRecord rec;
    ncRecClear(&rec);
    struct Case {
        NcListenFn fn;
        std::vector<int> pairs;
        int32_t channel;
    } cases[] = {
        {hostListener0, {1, 2}, 0}, {hostListener1, {2}, 1},   {hostListener2, {2}, 2},
        {hostListener3, {3}, 3},    {hostListener10, {1}, 10}, {hostListener11, {1}, 11},
        {hostListener12, {1}, 12},  {hostListener31, {1}, 31}, {hostListener35, {1}, 35},
        {hostListener40, {3}, 40},  {hostListener41, {1}, 41}, {hostListener42, {1}, 42},
    };
    for (const auto& c : cases) {
        gCalls.clear();
        EXPECT_EQ(c.fn(&kvIdx5, &rec, &cb), 1);
        ASSERT_EQ(gCalls.size(), c.pairs.size()) << c.channel;
        for (size_t i = 0; i < c.pairs.size(); ++i) {
            EXPECT_EQ(gCalls[i].pair, c.pairs[i]);
            EXPECT_EQ(gCalls[i].channel, c.channel);
        }
    }
}

TEST_F(CycleTest, HostListenerResultsAndMissingFunctions) {
    int ids[4] = {0, 1, 2, 3};
    NcRecord rec;
    ncRecClear(&rec);
    HostCallbacks onlyThird = {nullptr, nullptr, nullptr, nullptr, pairFn, &ids[3]};
    gCalls.clear();
    EXPECT_EQ(hostListener0(&kvIdx5, &rec, &onlyThird), 1);
    EXPECT_EQ(hostListener31(&kvIdx5, &rec, &onlyThird), 1);
    EXPECT_EQ(hostListener1(&kvIdx5, &rec, nullptr), 1);
    EXPECT_TRUE(gCalls.empty());

    // Channel 0 reaches both pairs even when the first refuses, and reports the refusal.
    HostCallbacks both = {pairFn, &ids[1], pairFn, &ids[2], nullptr, nullptr};
    gAnswer[1] = 0;
    EXPECT_EQ(hostListener0(&kvIdx5, &rec, &both), 0);
    EXPECT_EQ(gCalls.size(), 2u);
    EXPECT_EQ(hostListener10(&kvIdx5, &rec, &both), 0);
    gAnswer[1] = 1;
    gAnswer[2] = 0;
    EXPECT_EQ(hostListener0(&kvIdx5, &rec, &both), 0);
    EXPECT_EQ(hostListener2(&kvIdx5, &rec, &both), 0);
    gAnswer[2] = 1;
}

TEST_F(CycleTest, HostHookIgnoresOtherSignalsAndEmptyCallbacks) {
    // Without registered channels no listener can attach; the hook must leave the list alone.
    int ids[4] = {0, 1, 2, 3};
    HostCallbacks cb = {pairFn, &ids[1], nullptr, nullptr, nullptr, nullptr};
    HostCallbacks none = {};
    hostSignalHook(&kvIdx5, kSigFirstRecord, &cb);
    hostSignalHook(&kvIdx5, kSigFirstRecord, &none);
    hostSignalHook(&kvIdx5, kSigFirstRecord, nullptr);
    hostSignalHook(&kvIdx5, kSigRunBegin, &cb);
    EXPECT_EQ(kvIdx5.channels, nullptr);
}
