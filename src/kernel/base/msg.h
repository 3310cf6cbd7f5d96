// Numbered messages: a message number the host turns into its own text and one
// formatted value. A message whose level (the trace bit left out) is above the
// set level (without it) is dropped; one that passes reaches the host as an error
// record "number,value" through the sink that the NC output installs. Each function returns 2 when
// its message was dropped and 1 otherwise. The literal texts beside the
// numbers stay in the calling code; they are never sent.
#pragma once

#include <cstdint>

enum : int32_t {
    // The trace bit is the one that sets traces (levels 2 and 3) apart: a level
    // of 11 is an error level 9 with the trace bit, and passes where 9 passes.
    kMsgTraceBit = 2,
    kMsgFault = 5194,  // a fault the code could not handle in its own terms; the value says which
    kMsgPrintfNumber = 9999,
};
enum : int {
    kMsgSent = 1,
    kMsgDropped = 2,
};

int msgDouble(int32_t level, int32_t number, const char* literal, double x);  // "%.6lf"; "0" below 1e-5
int msgLong(int32_t level, int32_t number, const char* literal, int32_t n);
int msgTwoLongs(int32_t level, int32_t number, const char* literal, int32_t a, int32_t b);
int msgText(int32_t level, int32_t number, const char* literal, const char* text);
int msgTwoTexts(int32_t level, int32_t number, const char* literal, const char* a, const char* b);
// Trace messages (number 9999): sent only when the message's level or the set
// level carries the trace bit.
int msgPrintf(int32_t level, const char* format, int32_t argument);
int msgPrintfDouble(int32_t level, const char* format, double argument);

// The last number-and-value message is held: a run that fails sends it when the level dropped it, so
// that every failure reaches the host with its reason. 1 sent now, 0 when none is held or it was sent.
int msgSendDroppedReason();
void msgClearReason();  // at the start of every run
// A fault: message 5194 to the running cycle whatever the message level, counted, so that the run
// that met it ends failed. For memory that could not be had where the caller's result cannot tell it
// from the end of its input, and for exceptions. Allocates nothing and never throws.
void msgFault(const char* what);
uint32_t msgFaultCount();  // faults since the library was loaded

// Where messages go: the NC output layer installs both when it is linked (a sent message becomes an
// error record of the writer; a fault, the writer's error record and what the host must hear of it).
// Without them a message is held and a fault counted, and nothing goes out, as without a writer.
using MsgSinkFn = void (*)(int32_t number, const char* value);
struct MsgSinks {
    MsgSinkFn send;
    MsgSinkFn fault;
};
MsgSinks msgSetSink(MsgSinkFn send, MsgSinkFn fault);  // the sinks it replaces

void setMessageLevel(void* ignored, int32_t level);
int32_t messageLevel();
int setMessageAbort(void* ignored);  // 0; messages are not affected

void msgResetState();  // level 3, nothing held
