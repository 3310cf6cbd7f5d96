// POF output: the channel handlers that hand a cycle's output records to the
// core library as path text, the handler of channel 0 that opens and closes
// the output file named by "pofFilename", and a few trace handlers.
#pragma once

#include <cstdio>

#include "kernel/ncout/record.h"

enum : int32_t {
    kMsgPofNotOpened = 5192,   // the file named by "pofFilename" cannot be opened; the value is its name
    kMsgPofNotWritten = 5193,  // the output file was not written in full; the value is its name
};

void pofPrint(FILE* file, const char* text);  // the core library's print function

// Sets the file as the core library's output when it is a regular file (1);
// otherwise standard output (0).
int selectOutputFile(CycleRecord* record, FILE* file);

// Opens the output at a cycle begin (103; the tool contour is loaded then)
// and closes it at a cycle end (104) or an error that ends the output (102);
// 0 for a 102 or when the core library fails, else 1. A named file that
// cannot be opened (5192) or was not written in full (5193, at the close) is
// a message on channel 0 whatever the message level, and the run's status
// word becomes 1 at the close unless the run was cancelled.
int pofChannel0(CycleRecord* record, NcRecord* output);
// The core library's text of the channel: 1, or 0 when it failed.
int pofChannel1(CycleRecord* record, NcRecord* output);
int pofChannel2(CycleRecord* record, NcRecord* output);
int pofChannel10(CycleRecord* record, NcRecord* output);
int pofChannel11(CycleRecord* record, NcRecord* output);
int pofChannel12(CycleRecord* record, NcRecord* output);
int pofChannel20(CycleRecord* record, NcRecord* output);
int pofChannel31(CycleRecord* record, NcRecord* output);
int pofChannel32(CycleRecord* record, NcRecord* output);
int pofChannel35(CycleRecord* record, NcRecord* output);
int pofChannel36(CycleRecord* record, NcRecord* output);
// Markers "<channel>: ---" and the trace points of channel 30, printed to the
// output file (standard output when there is none); 1.
int traceChannel3(CycleRecord* record, NcRecord* output);
int traceChannel4(CycleRecord* record, NcRecord* output);
int traceChannel5(CycleRecord* record, NcRecord* output);
int traceChannel6(CycleRecord* record, NcRecord* output);
int traceChannel30(CycleRecord* record, NcRecord* output);

FILE* pofOpenedFile(const CycleRecord* record);  // the file channel 0 opened and holds, or null
void pofResetState();                            // closes every file channel 0 still holds
