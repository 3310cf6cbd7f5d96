// A cycle record's output channels: a list sorted by channel number, each node
// with its POF and PCF handlers and the listeners that forward to the host.
// Every record leaves a cycle through ncEmit.
#pragma once

#include <cstdint>

#include "kernel/ncout/ncrecord.h"

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

// Sets the channel's handlers (its listeners stay) or inserts a new node in
// channel order; signals 131 and 139 around it. 1, or 0 when memory is short.
int ncRegisterHandler(CycleRecord* record, uint16_t channel, NcHandler handler, NcHandler pcfHandler,
                      int32_t enabled);

// Appends a listener to the channel's node: 1, or 0 (nothing added) when the
// record has no node for the channel, both functions are null or memory is short.
int ncAddListener(CycleRecord* record, uint16_t channel, NcListenFn fn, void* data, NcListenFn fn2,
                  void* data2);

// The record's node for the channel; null when it has none.
NcChannel* ncFindChannel(CycleRecord* record, uint16_t channel);

void ncFreeChannels(CycleRecord* record);   // every node with its listeners
void ncDropListeners(CycleRecord* record);  // the listeners only; the handlers stay

// Delivers a record: to the core library's raw dump when it names one (then
// nothing else), else to the channel's handler of the output mode and to its
// listeners. The first record of a run raises signal 312 first. Returns the
// handler's result; 0 for a channel without an enabled node.
int ncEmit(CycleRecord* record, uint16_t channel, NcRecord* output);

// The turning copy of a move record that listeners see when the core library
// reports turning: coordinates moved between offsets and plane types renamed.
void turnMapRecord(NcRecord* copy, const NcRecord* output);
