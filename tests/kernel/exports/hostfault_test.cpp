// Memory that cannot be had, at every allocation of a run in turn, seen through the exports: nothing
// leaves the C entry, and a run that started either ends failed and says so or delivers exactly the
// records of an undisturbed run. The allocation-failure hook replaces this binary's operator new.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "allocfail.h"
#include "kernel/base/kvx/kvxfile.h"
#include "kernel/base/kvx/kvxobj.h"
#include "kernel/base/msg.h"
#include "kernel/base/rng.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycle.h"
#include "kernel/exports/exports.h"
#include "kernel/ncout/ncout.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"
#include "plunge/cycparams.h"
#include "plunge/idx5.h"

namespace {

struct Trace {
    std::vector<std::string> records;  // "<channel> <type>", with the text of messages
    bool faultReported = false;        // message 5194 arrived
};

int keep(KvCycle*, int32_t channel, const void* record, void* user) {
    auto* trace = static_cast<Trace*>(user);
    const char* bytes = static_cast<const char*>(record);
    int32_t type;
    std::memcpy(&type, bytes + KVNC_TYPE, 4);
    std::string line = std::to_string(channel) + " " + std::to_string(type);
    if (channel == 0 && type == 101) {
        const std::string value(bytes + KVNC_TEXT_VALUE, strnlen(bytes + KVNC_TEXT_VALUE, KVNC_TEXT_SIZE));
        line += " " + value;
        if (value.rfind("5194,", 0) == 0) trace->faultReported = true;
    }
    trace->records.push_back(line);
    return 1;
}

int throwingHandler(CycleRecord*, NcRecord*) {
    throw std::bad_alloc();
}

struct Outcome {
    int32_t started = -1, status = -1;
    bool escaped = false;  // an exception left kvCSexecCycle
    Trace trace;
    uint32_t faults = 0;  // faults the kernel caught
    bool fired = false;
    long allocations = 0;
};

// The job run by a cycle record as the host runs it, with the n-th allocation failing (0: none).
Outcome runArmed(CycleRecord* record, const char* job, long failAt) {
    Outcome out;
    std::string arg = job;
    char* argv[] = {arg.data(), nullptr};
    // Pair 2 hears channel 0 again and channel 1, where every variable and word of the run is shown.
    HostCallbacks cb = {keep, &out.trace, keep, &out.trace, nullptr, nullptr};
    KvCycle* cycle = reinterpret_cast<KvCycle*>(record);
    kvCSsetSignal(cycle, 0);
    record->status = 0;  // the 3D common cycle leaves the word alone when it succeeds
    cycleParamsResetState();
    const uint32_t before = msgFaultCount();
    allocfail::arm(failAt);
    try {
        out.started = kvCSexecCycle(cycle, 1, argv, &cb);
    } catch (...) {
        out.escaped = true;
    }
    out.fired = allocfail::fired();
    out.allocations = allocfail::count();
    allocfail::disarm();
    out.status = kvCSgetSignal(cycle);
    out.faults = msgFaultCount() - before;
    return out;
}

class HostFault : public ::testing::Test {
  protected:
    void SetUp() override {
        cycleResetState();
        resetCoreToBinFolder();
        // Two triangles as a Polyhedron for the 3D common cycle, which reads them and ends well; a
        // plunge job that stops at its missing hub.
        writeTestFile("poly.kvx",
                      "kVX-Exchange-File\nkVX-Version: 1.0\nthird line\nfourth line\n"
                      "o Polyhedron[p](nFace[2])\n{\no Pset[1]()\n{\n"
                      "o P[1](x[0] y[0] z[0])\no P[2](x[1] y[0] z[0])\no P[3](x[0] y[1] z[0])\n"
                      "o P[4](x[1] y[1] z[1])\n}\n"
                      "o Face(vx[1/1] vx[1/2] vx[1/3])\no Face(vx[1/2] vx[1/4] vx[1/3])\n}\n");
        // A frame switched off is a variable record of its own; the word file's words are shown; the
        // start replaces tempMem, which then shows as a built-in value, and adds toolCs_x.
        writeTestFile("common.pcf",
                      "polySource := \"poly.kvx\"\ntoolDiameter := 5\npofFilename := \"common.pof\"\n"
                      "frame := \"0,0,0,0,0,1\"\nframeOff := \"true\"\ncfgFile := \"words.cfg\"\n"
                      "tempMem := \"64\"\nframeCs_x := \"1,0,0\"\n");
        writeTestFile("words.cfg", "*SHOWN 1\n*ALSO 2\n");
        writeTestFile("fault.cfg", "*BLADE_COUNT 8\n*HUB_KVX_OK 1\n*HUB_KVX no-such-hub.kvx\n");
    }
    void TearDown() override {
        cycleResetState();
        cycleParamsResetState();
        kvCyc3d.status = 0;
    }
};

}  // namespace

// The 3D common cycle and a plunge job, each with its first allocations failing one by one, then with
// a seeded sample of the later ones. Nothing escapes; a fault the kernel caught is message
// 5194 and status 1; a run that reports success delivered every record of the undisturbed run; the status is
// never the cancel's.
TEST_F(HostFault, EveryAllocationThatFailsEndsTheRunFailedOrLeavesItWhole) {
    const struct {
        CycleRecord* record;
        const char* job;
        int32_t status;  // of the undisturbed run
    } jobs[] = {{&kvCyc3d, "-Scommon", KV_STATUS_OK}, {&kvIdx5, "-Sfault.cfg", KV_STATUS_FAILED}};
    for (const auto& job : jobs) {
        SCOPED_TRACE(job.job);
        const Outcome whole = runArmed(job.record, job.job, 0);
        ASSERT_EQ(whole.started, 1);
        ASSERT_EQ(whole.status, job.status);
        ASSERT_EQ(whole.faults, 0u);
        const long total = whole.allocations;
        ASSERT_GT(total, 10);
        std::vector<long> points;
        constexpr long kFirst = 150;
        for (long n = 1; n <= std::min(total, kFirst); ++n) points.push_back(n);
        Rng rng{7};
        for (int i = 0; i < 100 && total > kFirst; ++i)
            points.push_back(kFirst + 1 + static_cast<long>(rngStep(&rng)) * (total - kFirst - 1) / kRngMax);
        int caught = 0;
        for (long n : points) {
            const Outcome o = runArmed(job.record, job.job, n);
            ASSERT_FALSE(o.escaped) << "allocation " << n;
            if (!o.fired) continue;  // a later run may allocate less (the first one sets up for good)
            if (o.started != 1) {
                EXPECT_EQ(o.started, 0) << n;  // the start failed: nothing ran
                continue;
            }
            if (o.faults > 0) {  // an exception the kernel caught, or input cut short by memory
                ++caught;
                EXPECT_EQ(o.status, KV_STATUS_FAILED) << n;
                EXPECT_TRUE(o.trace.faultReported) << n;
            }
            EXPECT_NE(o.status, KV_STATUS_CANCELLED) << n;
            if (o.status == KV_STATUS_OK) {
                EXPECT_EQ(o.trace.records, whole.trace.records) << n;
            }
        }
        EXPECT_GT(caught, 0);
    }
}

// A fault reaches the run's host exactly once: by channel 0 where that channel can carry it, else
// directly, whatever channel 0 lacks (its node, the host's listener, a handler that did not throw); in
// PCF mode, where the host hears no channel, not at all.
TEST(HostFaultReport, AFaultReachesTheHostOnceWhateverChannel0Lacks) {
    const struct {
        const char* what;
        bool node;
        int32_t enabled;
        bool listener;  // the host's own, attached as at the first record
        NcHandler handler;
        int32_t pcf;
        CycleSignalFn signalFn;  // the host's hook in a host run
        int heard;
    } cases[] = {
        {"channel 0 with the host's listener", true, 1, true, acceptRecord, 0, hostSignalHook, 1},
        {"no node for channel 0", false, 1, false, acceptRecord, 0, hostSignalHook, 1},
        {"a node without the host's listener", true, 1, false, acceptRecord, 0, hostSignalHook, 1},
        {"a disabled channel 0", true, 0, true, acceptRecord, 0, hostSignalHook, 1},
        {"a handler that throws", true, 1, true, throwingHandler, 0, hostSignalHook, 1},
        {"PCF mode", false, 1, false, acceptRecord, 1, hostSignalHook, 0},
        {"no host run", false, 1, false, acceptRecord, 0, recordSignal, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        CycleRecord rec{};
        initTestRecord(&rec);
        rec.firstRecordPending = 0;
        rec.pcf = c.pcf;
        Trace trace;
        HostCallbacks cb = {keep, &trace, nullptr, nullptr, nullptr, nullptr};
        ASSERT_EQ(ncRegisterHandler(&rec, 11, acceptRecord, acceptRecord, 1), 1);
        if (c.node) {
            ASSERT_EQ(ncRegisterHandler(&rec, 0, c.handler, c.handler, c.enabled), 1);
        }
        if (c.listener) hostSignalHook(&rec, kSigFirstRecord, &cb);
        rec.signalFn = c.signalFn;
        rec.signalData = &cb;
        CycleRecord* writer = ncGetWriter();
        ncSetWriter(&rec);
        msgFault("memory");
        ncSetWriter(writer);
        EXPECT_EQ(std::count(trace.records.begin(), trace.records.end(), "0 101 5194,memory"), c.heard);
        EXPECT_EQ(trace.records.size(), static_cast<size_t>(c.heard));
        ncFreeChannels(&rec);
    }
}

// The exchange-file reader's attribute store with each allocation failing in turn: a value set, one
// saved across a scope and read back, and the number given to a record without one are there, or the
// run has met a fault.
TEST(HostFaultKvx, AttributesAndNumbersAreThereOrTheRunHasFailed) {
    for (long n = 1;; ++n) {
        KvxObjData* obj = kvxObjCreate();
        ASSERT_NE(obj, nullptr);
        KvxRecord rec{};
        rec.type = 'o';
        const uint32_t before = msgFaultCount();
        allocfail::arm(n);
        kvxObjSetAttr(obj, "depth", "5");
        const int pushed = kvxObjPushLevel(obj);  // 0 when short of memory: the reader stops there
        kvxObjSetAttr(obj, "depth", "7");
        char* inner = kvxObjGetAttr(obj, "depth");
        kvxObjPopLevel(obj);
        char* outer = kvxObjGetAttr(obj, "depth");
        kvxAssignObjectId(obj, &rec);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (pushed == 1 && msgFaultCount() == before) {
            EXPECT_STREQ(inner, "7") << n;
            EXPECT_STREQ(outer, "5") << n;
            EXPECT_NE(rec.id, nullptr) << n;
        }
        free(inner);
        free(outer);
        kvxRecordReset(&rec);
        kvxObjFree(obj);
        if (!fired) break;
    }
}
