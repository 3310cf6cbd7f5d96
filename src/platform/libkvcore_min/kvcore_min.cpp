// A core library that offers only OpenCore and CloseCore: every other entry is
// missing, so each of the cycle library's wrappers takes its "entry missing" path.

#include "platform/corelib.h"

#define KVCORE_ENTRY extern "C" __attribute__((visibility("default")))

namespace {

int gOpen = 0;

}  // namespace

KVCORE_ENTRY int32_t OpenCore(CycleRecord* record) {
    if (!record) return 0;
    ++gOpen;
    return 1;
}

KVCORE_ENTRY int32_t CloseCore(CycleRecord* record) {
    if (!record || gOpen == 0) return -1;
    --gOpen;
    return 1;
}
