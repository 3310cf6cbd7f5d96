#include "kernel/ncout/ncchan.h"

#include <cstdlib>
#include <cstring>

#include "kernel/ncout/core.h"
#include "kernel/ncout/record.h"
#include "kernel/base/mem.h"

namespace {

void freeListeners(NcListener* listener) {
    while (listener) {
        NcListener* next = listener->next;
        free(listener);
        listener = next;
    }
}

void moveF64(NcRecord* copy, const NcRecord* source, size_t to, size_t from) {
    ncRecPutF64(copy, to, ncRecGetF64(source, from));
}

}  // namespace

int ncRegisterHandler(CycleRecord* record, uint16_t channel, NcHandler handler, NcHandler pcfHandler,
                      int32_t enabled) {
    if (!record) return 0;
    cycleSignal(record, kSigRegisterBegin);
    int result = 1;
    if (NcChannel* node = ncFindChannel(record, channel)) {
        node->enabled = enabled;
        node->handler = handler;
        node->pcfHandler = pcfHandler;
    } else if (auto* fresh = static_cast<NcChannel*>(memCalloc(sizeof(NcChannel)))) {
        fresh->code = channel;
        fresh->enabled = enabled;
        fresh->handler = handler;
        fresh->pcfHandler = pcfHandler;
        NcChannel** link = &record->channels;
        while (*link && (*link)->code < channel) link = &(*link)->next;
        fresh->next = *link;
        *link = fresh;
    } else {
        result = 0;
    }
    cycleSignal(record, kSigRegisterEnd);
    return result;
}

int ncAddListener(CycleRecord* record, uint16_t channel, NcListenFn fn, void* data, NcListenFn fn2,
                  void* data2) {
    if (!fn && !fn2) return 0;
    NcChannel* node = ncFindChannel(record, channel);
    if (!node) return 0;
    auto* listener = static_cast<NcListener*>(memCalloc(sizeof(NcListener)));
    if (!listener) return 0;
    *listener = {fn, data, fn2, data2, nullptr};
    NcListener** link = &node->listeners;
    while (*link) link = &(*link)->next;
    *link = listener;
    return 1;
}

NcChannel* ncFindChannel(CycleRecord* record, uint16_t channel) {
    for (NcChannel* c = record ? record->channels : nullptr; c && c->code <= channel; c = c->next) {
        if (c->code == channel) return c;
    }
    return nullptr;
}

void ncFreeChannels(CycleRecord* record) {
    if (!record) return;
    NcChannel* c = record->channels;
    while (c) {
        NcChannel* next = c->next;
        freeListeners(c->listeners);
        free(c);
        c = next;
    }
    record->channels = nullptr;
}

void ncDropListeners(CycleRecord* record) {
    for (NcChannel* c = record ? record->channels : nullptr; c; c = c->next) {
        freeListeners(c->listeners);
        c->listeners = nullptr;
    }
}

int ncEmit(CycleRecord* record, uint16_t channel, NcRecord* output) {
    if (!record || !output) return 0;
    FILE* raw = nullptr;
    coreGetRedFile(record, &raw);
    if (raw) {
        unsigned char head[2] = {static_cast<unsigned char>(channel & 0xff),
                                 static_cast<unsigned char>(channel >> 8)};
        fwrite(head, 1, sizeof head, raw);
        fwrite(output->bytes, 1, sizeof output->bytes, raw);
        return 1;
    }
    if (record->firstRecordPending == 1) {
        record->firstRecordPending = 0;
        cycleSignal(record, kSigFirstRecord);
    }
    NcChannel* node = ncFindChannel(record, channel);
    if (!node || node->enabled != 1) return 0;

    int result = 0;
    if (record->pcf == 1) {
        if (node->pcfHandler) result = node->pcfHandler(record, output);
        for (NcListener* l = node->listeners; l; l = l->next) {
            if (l->fn2) l->fn2(record, output, l->data2);
        }
        return result;
    }
    if (node->handler) result = node->handler(record, output);
    // Only channel 31 is mapped for turning: the core library is asked for it there alone.
    int32_t technology = 1;
    int32_t exception = 0;
    if (channel == 31) {
        coreGetTechnology(record, &technology);
        coreGetTurnMapException(record, &exception);
    }
    bool turning = technology == 2 && channel == 31 && exception == 0;
    NcRecord copy;
    if (turning) turnMapRecord(&copy, output);
    for (NcListener* l = node->listeners; l; l = l->next) {
        if (l->fn) l->fn(record, turning ? &copy : output, l->data);
    }
    return result;
}

void turnMapRecord(NcRecord* copy, const NcRecord* output) {
    memcpy(copy->bytes, output->bytes, sizeof copy->bytes);
    int32_t type = ncRecGetI32(output, KVNC_TYPE);
    // {target, source} offsets of the doubles each type moves, read from the unchanged original.
    static const struct {
        int32_t types[2];
        int count;
        size_t moves[6][2];
    } kMoves[] = {
        {{3101, 3111}, 4, {{16, 24}, {32, 16}, {40, 48}, {56, 40}}},
        {{3102, 3112}, 2, {{24, 32}, {48, 56}}},
        {{3103, 3113}, 6, {{16, 24}, {24, 32}, {32, 16}, {40, 48}, {48, 56}, {56, 40}}},
        {{3105, 3115}, 2, {{32, 16}, {56, 40}}},
        {{3106, 3116}, 2, {{16, 24}, {40, 48}}},
        {{3121, 3121}, 6, {{16, 24}, {32, 16}, {40, 48}, {56, 40}, {64, 72}, {80, 64}}},
    };
    for (const auto& m : kMoves) {
        if (type != m.types[0] && type != m.types[1]) continue;
        for (int i = 0; i < m.count; ++i) moveF64(copy, output, m.moves[i][0], m.moves[i][1]);
    }
    if (type == 3107 || type == 3114) {
        int32_t fx = ncRecGetI32(output, 8), fy = ncRecGetI32(output, 12), fz = ncRecGetI32(output, 16);
        ncRecPutI32(copy, 8, fy);
        ncRecPutI32(copy, 12, fz);
        ncRecPutI32(copy, 16, fx);
        if (fy == 1) moveF64(copy, output, 24, 32);
        if (fz == 1) moveF64(copy, output, 32, 40);
        if (fx == 1) moveF64(copy, output, 40, 24);
        for (size_t flag : {48, 52, 56}) ncRecPutI32(copy, flag, 0);
        ncRecPutF64(copy, 64, 0.0);
        ncRecPutF64(copy, 72, 0.0);
        ncRecPutF64(copy, 80, 1.0);
    }
    static const int32_t kRenames[][2] = {{3101, 3110}, {3102, 3106}, {3105, 3102}, {3106, 3105},
                                          {3111, 3119}, {3112, 3116}, {3115, 3112}, {3116, 3115}};
    for (const auto& r : kRenames) {
        if (type == r[0]) ncRecPutI32(copy, KVNC_TYPE, r[1]);
    }
}
