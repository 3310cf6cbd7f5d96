#include "pocket/pocketerr.h"

#include "kernel/base/runreset.h"
#include "kernel/ncout/ncemit.h"
#include "pocket/pocketstate.h"

namespace {

struct ErrorRow {
    int16_t code;
    const char* number;  // null: silent
};

const ErrorRow kTable[] = {
    {3001, "1101"}, {3002, "1101"},  {3003, "1101"},  {3011, "1102"},  {3020, "1103"},  {3021, "1104"},
    {3022, "1105"}, {3023, "1106"},  {3024, "1106"},  {3025, "1107"},  {3026, "1108"},  {3027, "1109"},
    {3028, "1109"}, {3029, "1500"},  {3030, "1522"},  {3123, "1522"},  {3033, "1501"},  {3042, "1115"},
    {3119, "1114"}, {3120, "1116"},  {3201, "1502"},  {3213, "1507"},  {3214, "1508"},  {3241, "1509"},
    {3250, "1510"}, {3251, "1515"},  {3252, "1516"},  {3253, "1517"},  {3254, "1513"},  {3255, "1518"},
    {0, nullptr},   {3210, nullptr}, {3211, nullptr}, {3212, nullptr}, {3256, nullptr}, {3298, nullptr},
};

int16_t gLastError = 0;
int64_t gCalls = 0;

}  // namespace

const char* pocketErrorNumber(int32_t code) {
    auto c = static_cast<int16_t>(code & 0xffff);
    for (const ErrorRow& row : kTable) {
        if (row.code == c) return row.number;
    }
    return "1511";
}

void pocketError(int32_t code) {
    ++gCalls;
    const char* number = pocketErrorNumber(code);
    if (!number) return;
    ncError(pocketRecord(), number);
    auto c = static_cast<int16_t>(code & 0xffff);
    if (c >= 3000 && c <= 3199) gLastError = c;
}

int32_t pocketLastError() {
    return gLastError;
}

void pocketErrorClear() {
    gLastError = 0;
}

int64_t pocketErrorCalls() {
    return gCalls;
}

void pocketErrorResetState() {
    gLastError = 0;
    gCalls = 0;
}
static const RunReset gRunReset(kRunResetCycles, "pocketError", pocketErrorResetState);
