#include "kernel/base/abort.h"

namespace {
AbortHook gAbortHook = nullptr;
}  // namespace

void setAbortHook(AbortHook hook) {
    gAbortHook = hook;
}

int callAbortHook() {
    return gAbortHook ? gAbortHook() : 0;
}
