// A cycle record's output channels: a list sorted by channel number, each node
// with its POF and PCF handlers and the listeners that forward to the host.
#pragma once

#include <cstdint>

#include "kernel/ncrecord.h"

struct CycleRecord;

using NcHandler = int (*)(CycleRecord* record, NcRecord* output);
using NcListenFn = int (*)(CycleRecord* record, NcRecord* output, void* data);

struct NcListener {
    NcListenFn fn;  // POF mode; may be null
    void* data;
    NcListenFn fn2;  // PCF mode; may be null
    void* data2;
    NcListener* next;
};

struct NcChannel {
    uint16_t code;
    int32_t enabled;       // 1 when the channel delivers
    NcHandler handler;     // POF mode
    NcHandler pcfHandler;  // PCF mode
    NcListener* listeners;
    NcChannel* next;
};

// Appends a listener to the channel's node: 1, or 0 (nothing added) when the
// record has no node for the channel or both functions are null.
int ncAddListener(CycleRecord* record, uint16_t channel, NcListenFn fn, void* data, NcListenFn fn2,
                  void* data2);
