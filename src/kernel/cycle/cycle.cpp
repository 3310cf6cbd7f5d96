#include "kernel/cycle/cycle.h"

#include <cstdlib>

#include "kernel/base/kvx/kvlist.h"
#include "kernel/base/msg.h"
#include "kernel/cycle/cycrun.h"
#include "kernel/cycle/cycstart.h"
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

namespace {

// A fault the NC output reports on a writer in a host run must reach the host even where the record
// could not carry it. Only a record of a host run (signalFn hostSignalHook, defined here) is heard, so
// the hook needs installing only where this file is linked.
[[maybe_unused]] const bool gFaultHearerSet = (ncSetFaultHearer(hostHearFault), true);

}  // namespace

std::string cycleVariable(const CycleRecord* record, const char* name) {
    char* value = kvListGet(record->vars, name, nullptr);
    std::string text = value ? value : "";
    free(value);
    return text;
}

bool cycleHasVariable(const CycleRecord* record, const char* name) {
    char* value = kvListGet(record->vars, name, nullptr);
    free(value);
    return value != nullptr;
}
