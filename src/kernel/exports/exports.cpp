#include "kernel/exports/exports.h"

#include <exception>

#include "kernel/base/abort.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycle.h"
#include "kernel/cycle/cycrun.h"
#include "kernel/cycle/cycstart.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/ncout.h"
#include "plunge/idx5.h"
#include "pocket/ccp.h"

namespace {

// Every static record of the library, the root first.
CycleRecord* const kRecords[] = {&cycleRootRecord, &kvCyc3d, &kvIdx5, &kvCCP};

constexpr int kMaxNestedRuns = 8;

CycleRecord* gDefaultRecord = &kvIdx5;
std::atomic<CycleRecord*> gCachedCycle{nullptr};
// The cycles keep their state in module globals: one thread runs at a time. The thread whose run is
// open owns the stacks below (its callbacks may open nested runs); any other thread is refused.
std::atomic<uintptr_t> gRunOwner{0};
HostCallbacks* gCallbackStack[kMaxNestedRuns];
CycleRecord* gRunStack[kMaxNestedRuns];  // the record of each open run
std::atomic<int> gCallbackDepth{0};

// A token of the calling thread, never 0.
uintptr_t threadToken() {
    static thread_local char mark;
    return reinterpret_cast<uintptr_t>(&mark);
}

CycleRecord* recordOf(KvCycle* cycle) {
    return cycle ? reinterpret_cast<CycleRecord*>(cycle) : defaultCycle();
}

}  // namespace

CycleRecord* defaultCycle() {
    return gDefaultRecord;
}

int hostCallbackDepth() {
    return gCallbackDepth;
}

void cycleResetState() {
    for (auto& entry : gCallbackStack) entry = nullptr;
    for (auto& entry : gRunStack) entry = nullptr;
    gCallbackDepth.store(0);
    gCachedCycle.store(nullptr);
    gRunOwner.store(0);
    setAbortHook(nullptr);
    for (CycleRecord* r : kRecords) {
        r->hostSignal = 0;
        r->status = 0;
        r->signalFn = nullptr;
        r->signalData = nullptr;
    }
}
static const LoadReset gLoadReset(kRunResetExports, "exports", cycleResetState);

void exportsResetCore() {
    coreResetState(kRecords, sizeof kRecords / sizeof kRecords[0]);
}
static const LoadReset gLoadResetCore(kRunResetExports, "exportsCore", exportsResetCore);

// ---- The host's four entries ----

KvCycle* kvCSgetCycle(void) {
    CycleRecord* cached = gCachedCycle.load();
    if (!cached) {
        CycleRecord* none = nullptr;
        gCachedCycle.compare_exchange_strong(none, defaultCycle());
        cached = gCachedCycle.load();
    }
    return reinterpret_cast<KvCycle*>(cached);
}

namespace {

// The run guard: taken by the first run of a thread when no other thread's run is open, or by a
// nested run on the owning thread; released by the outermost run.
bool takeRunGuard(bool* outermost) {
    const uintptr_t me = threadToken();
    uintptr_t owner = 0;
    *outermost = gRunOwner.compare_exchange_strong(owner, me, std::memory_order_acquire);
    return *outermost || owner == me;
}

void releaseRunGuard(bool outermost) {
    if (outermost) gRunOwner.store(0, std::memory_order_release);
}

void endFaultyRun(CycleRecord* record, const char* what) {
    cycleReportFault(record, what);
    try {
        cycleCleanup(record);
    } catch (...) {
    }
    coreClose(record);
}

int32_t execRun(CycleRecord* record, int32_t argc, char** argv, HostCallbacks* callbacks) {
    // A record runs once at a time: a nested start would free the running
    // run's arguments and variables and close its core library.
    const int depth = gCallbackDepth.load();
    for (int i = 0; i < depth; ++i) {
        if (gRunStack[i] == record) return 0;
    }
    if (depth >= kMaxNestedRuns) return 0;
    gRunStack[depth] = record;
    gCallbackStack[depth] = callbacks;
    gCallbackDepth.store(depth + 1);
    // The front end writes to the running record; an outer run gets its own writer back.
    CycleRecord* previousWriter = ncGetWriter();
    ncSetWriter(record);

    int result = 0;
    const uint32_t faults = msgFaultCount();
    // Nothing may leave through the C entry: a fault the steps did not catch themselves (the start,
    // the clean-up) ends the run here, failed, with its run fields freed and the core library closed.
    try {
        const bool started = cycleStart(record, argv, static_cast<uint16_t>(argc), 0) != 0;
        if (started && msgFaultCount() != faults) {
            // Parameters cut short by a fault: the run does not start on what was left of them.
            cycleCleanup(record);
            coreClose(record);
        } else if (started) {
            record->signalFn = hostSignalHook;
            record->signalData = callbacks;
            result = 1;
            cycleRun(record);  // the host reads the outcome from the status word
        }
    } catch (const std::exception& e) {
        endFaultyRun(record, e.what());
    } catch (...) {
        endFaultyRun(record, nullptr);
    }
    record->signalFn = nullptr;
    record->signalData = nullptr;
    // A fault met anywhere in the run failed it, whatever a later step wrote into the status word.
    if (result == 1 && msgFaultCount() != faults) record->status = kStatusFailed;

    ncSetWriter(previousWriter);
    gCallbackStack[depth] = nullptr;
    gRunStack[depth] = nullptr;
    gCallbackDepth.store(depth);
    return result;
}

}  // namespace

int32_t kvCSexecCycle(KvCycle* cycle, int32_t argc, char** argv, HostCallbacks* callbacks) {
    CycleRecord* record = recordOf(cycle);
    if (!record) return 0;
    // The count is 16-bit in the record; a count the vector cannot back is refused.
    if (argc < 0 || argc > UINT16_MAX || (argc > 0 && !argv)) return 0;
    bool outermost = false;
    if (!takeRunGuard(&outermost)) return 0;  // another thread's run is open: nothing is started
    const int32_t result = execRun(record, argc, argv, callbacks);
    releaseRunGuard(outermost);
    return result;
}

int32_t kvCSsetSignal(KvCycle* cycle, int32_t value) {
    CycleRecord* record = recordOf(cycle);
    if (!record) return 1;
    return record->hostSignal.exchange(value);
}

int32_t kvCSgetSignal(KvCycle* cycle) {
    CycleRecord* record = recordOf(cycle);
    if (!record) return 1;
    return record->status.load();
}
