#include "kernel/base/msg.h"

#include <atomic>
#include <cmath>
#include <cstdio>

#include "kernel/base/runreset.h"
namespace {

constexpr int32_t kDefaultLevel = 3;
constexpr size_t kValueMax = 512;  // the sink keeps far less; longer values are cut here first

int32_t gLevel = kDefaultLevel;
std::atomic<uint32_t> gFaults{0};

// The last number-and-value message and whether the level dropped it.
struct Held {
    int32_t number = 0;
    char value[kValueMax] = {};
    bool held = false, dropped = false;
};
Held gHeld;

// Null until installed; plain pointers, so they are set before any constructor runs.
MsgSinkFn gSend = nullptr;
MsgSinkFn gFaultSink = nullptr;

bool dropped(int32_t level) {
    return (level & ~kMsgTraceBit) > (gLevel & ~kMsgTraceBit);
}

int send(int32_t number, const char* value) {
    if (gSend) gSend(number, value);
    return kMsgSent;
}

// Holds the message, then sends it unless its level drops it.
int deliver(int32_t level, int32_t number, const char* value) {
    gHeld.number = number;
    snprintf(gHeld.value, sizeof gHeld.value, "%s", value);
    gHeld.held = true;
    gHeld.dropped = dropped(level);
    return gHeld.dropped ? kMsgDropped : send(number, value);
}

}  // namespace

int msgDouble(int32_t level, int32_t number, const char*, double x) {
    char value[kValueMax];
    if (std::fabs(x) < 1e-5)
        snprintf(value, sizeof value, "0");
    else
        snprintf(value, sizeof value, "%.6lf", x);
    return deliver(level, number, value);
}

int msgLong(int32_t level, int32_t number, const char*, int32_t n) {
    char value[kValueMax];
    snprintf(value, sizeof value, "%ld", static_cast<long>(n));
    return deliver(level, number, value);
}

int msgTwoLongs(int32_t level, int32_t number, const char*, int32_t a, int32_t b) {
    char value[kValueMax];
    snprintf(value, sizeof value, "%ld,%ld", static_cast<long>(a), static_cast<long>(b));
    return deliver(level, number, value);
}

int msgText(int32_t level, int32_t number, const char*, const char* text) {
    return deliver(level, number, text ? text : "");
}

int msgTwoTexts(int32_t level, int32_t number, const char*, const char* a, const char* b) {
    char value[kValueMax];
    snprintf(value, sizeof value, "%s,%s", a ? a : "", b ? b : "");
    return deliver(level, number, value);
}

int msgSendDroppedReason() {
    if (!gHeld.held || !gHeld.dropped) return 0;
    gHeld.dropped = false;
    send(gHeld.number, gHeld.value);
    return 1;
}

void msgClearReason() {
    gHeld = Held{};
}

int msgPrintf(int32_t level, const char* format, int32_t argument) {
    if (dropped(level)) return kMsgDropped;
    if (!((level | gLevel) & kMsgTraceBit) || !format) return kMsgSent;
    char value[kValueMax];
    snprintf(value, sizeof value, format, argument);
    return send(kMsgPrintfNumber, value);
}

int msgPrintfDouble(int32_t level, const char* format, double argument) {
    if (dropped(level)) return kMsgDropped;
    if (!((level | gLevel) & kMsgTraceBit) || !format) return kMsgSent;
    char value[kValueMax];
    snprintf(value, sizeof value, format, argument);
    return send(kMsgPrintfNumber, value);
}

void msgFault(const char* what) {
    ++gFaults;
    if (gFaultSink) gFaultSink(kMsgFault, what && *what ? what : "fault");
}

uint32_t msgFaultCount() {
    return gFaults.load();
}

MsgSinks msgSetSink(MsgSinkFn send, MsgSinkFn fault) {
    const MsgSinks was{gSend, gFaultSink};
    gSend = send;
    gFaultSink = fault;
    return was;
}

void setMessageLevel(void*, int32_t level) {
    gLevel = level;
}

int32_t messageLevel() {
    return gLevel;
}

int setMessageAbort(void*) {
    return 0;
}

void msgResetState() {
    gLevel = kDefaultLevel;
    gHeld = Held{};
}
static const RunReset gRunReset(kRunResetBase, "msg", msgResetState);
