#include "kernel/ncchan.h"

int ncAddListener(CycleRecord*, uint16_t, NcListenFn, void*, NcListenFn, void*) {
    // No handler can be registered yet, so no channel has a node to listen on.
    return 0;
}
