// The cycle framework and the host interface: host listeners and signals, the root record, status
// words and faults of a run. The record type is the NC output layer's (record.h).
#pragma once

#include <string>

#include "kernel/ncout/record.h"

// A variable of the record's list as text, empty when it is not set; and whether it is set.
std::string cycleVariable(const CycleRecord* record, const char* name);
bool cycleHasVariable(const CycleRecord* record, const char* name);

// The root record "Dudovovovi"; every cycle's chain ends there.
extern CycleRecord cycleRootRecord;

// The signal function installed for a host run: at signal 312 it attaches the
// host's listeners to the channels 0, 1, 2, 3, 10, 11, 12, 31, 35, 40, 41, 42.
void hostSignalHook(CycleRecord* record, int32_t signal, void* callbacks);

// A fault report (the text of a 101 on channel 0) that the run's host did not hear, because the
// emission failed (delivered false) or channel 0 has no node or no host listener (memory short for
// either), goes to the host's channel-0 pairs directly. Nothing outside a host run, or in PCF mode,
// where the host hears no channel. Allocates nothing.
void hostHearFault(CycleRecord* record, const char* text, bool delivered);

// Listeners forwarding a channel's records to the host's callback pairs:
// 1, or 0 when a called host function returned 0.
int hostListener0(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener1(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener2(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener3(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener10(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener11(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener12(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener31(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener35(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener40(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener41(CycleRecord* record, NcRecord* output, void* callbacks);
int hostListener42(CycleRecord* record, NcRecord* output, void* callbacks);

// Returns 1 and does nothing else: the default slot method and PCF handler.
int acceptRecord(CycleRecord* record);
int acceptRecord(CycleRecord* record, NcRecord* output);

// status = 100 for a result of -2 (user break), 1 for any other negative result, else 0.
void setCycleStatus(CycleRecord* record, int result);

// A fault inside a step (an exception): message 5194 (msgFault) and the status word 1. Called from a
// catch block; never throws.
void cycleReportFault(CycleRecord* record, const char* what);
