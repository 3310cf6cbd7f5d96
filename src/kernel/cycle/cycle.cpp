#include "kernel/cycle/cycle.h"

#include <exception>

#include "kernel/base/abort.h"
#include "pocket/ccp.h"
#include "kernel/ncout/core.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycrun.h"
#include "kernel/cycle/cycstart.h"
#include "plunge/idx5.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/ncout.h"

CycleRecord cycleRootRecord = {
    .parent = nullptr,
    .started = 1,  // nothing to inherit: the root is initialised from the outset
    .frameVersion = kFrameVersion,
    .cycleId = 1,
    .versionMajor = 5,
    .versionMinor = 0,
    .versionYear = 1999,
    .versionMonth = 3,
    .versionDay = 25,
    .title = "Dudovovovi",
    .shortName = nullptr,
    .firstRecordPending = 1,
    .frame = KV_FRAME_IDENTITY,
    .toolFrame = KV_FRAME_IDENTITY,
    .slots = {{
        acceptRecord,         // args
        acceptRecord,         // prepare
        rootReadParameters,   // readParams
        rootReadCfg,          // readCfg
        acceptRecord,         // version
        acceptRecord,         // help
        cycleInfoParameters,  // parameters
        cycleInfoAlgorithm,   // algorithm
        cycleInfoLayers,      // layers
        acceptRecord,         // modeD
        acceptRecord,         // input
        acceptRecord,         // inputCfg
        acceptRecord,         // setup
        acceptRecord,         // run
        acceptRecord,         // finish
        rootCycleEnd,         // end
    }},
};

namespace {

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

int callPair(KvHostFn fn, void* user, CycleRecord* record, int32_t channel, const NcRecord* output) {
    if (!fn) return 1;
    return fn(reinterpret_cast<KvCycle*>(record), channel, output, user) == 0 ? 0 : 1;
}

int forward1(CycleRecord* record, int32_t channel, const NcRecord* output, void* data) {
    auto* cb = static_cast<HostCallbacks*>(data);
    return cb ? callPair(cb->fn1, cb->data1, record, channel, output) : 1;
}

int forward2(CycleRecord* record, int32_t channel, const NcRecord* output, void* data) {
    auto* cb = static_cast<HostCallbacks*>(data);
    return cb ? callPair(cb->fn2, cb->data2, record, channel, output) : 1;
}

int forward3(CycleRecord* record, int32_t channel, const NcRecord* output, void* data) {
    auto* cb = static_cast<HostCallbacks*>(data);
    return cb ? callPair(cb->fn3, cb->data3, record, channel, output) : 1;
}

}  // namespace

CycleRecord* defaultCycle() {
    return gDefaultRecord;
}

void cycleSignal(CycleRecord* record, int32_t signal) {
    if (record && record->signalFn) record->signalFn(record, signal, record->signalData);
}

int hostListener0(CycleRecord* record, NcRecord* output, void* callbacks) {
    int first = forward1(record, 0, output, callbacks);
    int second = forward2(record, 0, output, callbacks);
    return first && second ? 1 : 0;
}
int hostListener1(CycleRecord* r, NcRecord* o, void* cb) {
    return forward2(r, 1, o, cb);
}
int hostListener2(CycleRecord* r, NcRecord* o, void* cb) {
    return forward2(r, 2, o, cb);
}
int hostListener3(CycleRecord* r, NcRecord* o, void* cb) {
    return forward3(r, 3, o, cb);
}
int hostListener10(CycleRecord* r, NcRecord* o, void* cb) {
    return forward1(r, 10, o, cb);
}
int hostListener11(CycleRecord* r, NcRecord* o, void* cb) {
    return forward1(r, 11, o, cb);
}
int hostListener12(CycleRecord* r, NcRecord* o, void* cb) {
    return forward1(r, 12, o, cb);
}
int hostListener31(CycleRecord* r, NcRecord* o, void* cb) {
    return forward1(r, 31, o, cb);
}
int hostListener35(CycleRecord* r, NcRecord* o, void* cb) {
    return forward1(r, 35, o, cb);
}
int hostListener40(CycleRecord* r, NcRecord* o, void* cb) {
    return forward3(r, 40, o, cb);
}
int hostListener41(CycleRecord* r, NcRecord* o, void* cb) {
    return forward1(r, 41, o, cb);
}
int hostListener42(CycleRecord* r, NcRecord* o, void* cb) {
    return forward1(r, 42, o, cb);
}

void hostSignalHook(CycleRecord* record, int32_t signal, void* data) {
    auto* callbacks = static_cast<HostCallbacks*>(data);
    if (signal != kSigFirstRecord || !callbacks) return;
    if (!callbacks->fn1 && !callbacks->fn2 && !callbacks->fn3) return;
    static const struct {
        uint16_t channel;
        NcListenFn fn;
    } kListeners[] = {
        {0, hostListener0},   {1, hostListener1},   {2, hostListener2},   {3, hostListener3},
        {10, hostListener10}, {11, hostListener11}, {12, hostListener12}, {31, hostListener31},
        {35, hostListener35}, {40, hostListener40}, {41, hostListener41}, {42, hostListener42},
    };
    // A channel the cycle has not registered refuses its listener: the host
    // hears only the channels the cycle serves.
    bool lost = false;
    for (const auto& l : kListeners) {
        if (!ncFindChannel(record, l.channel)) continue;
        if (!ncAddListener(record, l.channel, l.fn, callbacks, nullptr, nullptr)) lost = true;
    }
    // A served channel the host cannot hear loses its records: the run must not end as a success.
    if (lost) msgFault("memory");
}

void hostHearFault(CycleRecord* record, const char* text, bool delivered) {
    if (!record || record->signalFn != hostSignalHook || !record->signalData || record->pcf == 1) return;
    void* callbacks = record->signalData;
    if (delivered) {
        // Only the host's own listener on channel 0, the one holding this run's callbacks, carries it.
        const NcChannel* node = ncFindChannel(record, 0);
        for (const NcListener* l = node && node->enabled == 1 ? node->listeners : nullptr; l; l = l->next) {
            if (l->data == callbacks) return;
        }
    }
    NcRecord report;
    ncRecClear(&report);
    ncRecPutI32(&report, KVNC_TYPE, 101);
    ncRecPutText(&report, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, "error");
    ncRecPutText(&report, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, text);
    hostListener0(record, &report, callbacks);
}

int acceptRecord(CycleRecord*) {
    return 1;
}

int acceptRecord(CycleRecord*, NcRecord*) {
    return 1;
}

void setCycleStatus(CycleRecord* record, int result) {
    if (!record) return;
    if (result == -2)
        record->status = kStatusCancelled;
    else if (result < 0)
        record->status = kStatusFailed;
    else
        record->status = kStatusOk;
}

void cycleReportFault(CycleRecord* record, const char* what) {
    if (record) record->status = kStatusFailed;
    msgFault(what && *what ? what : "exception");
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
    for (CycleRecord* r : {&cycleRootRecord, &kvCyc3d, &kvIdx5, &kvCCP}) {
        r->hostSignal = 0;
        r->status = 0;
        r->signalFn = nullptr;
        r->signalData = nullptr;
    }
}

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
