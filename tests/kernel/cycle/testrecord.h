// Fresh cycle records and recorders for the kernel tests: each test builds its
// own records, so that no class initialisation leaks from one test to another.
#pragma once

#include <dlfcn.h>

#include <string>
#include <vector>

#include "kernel/ncout/core.h"
#include "kernel/cycle/cycle.h"
#include "platform/corelib.h"
#include "platform/module.h"

inline void initTestRecord(CycleRecord* r, CycleRecord* parent = &cycleRootRecord) {
    r->parent = parent;
    r->frameVersion = kFrameVersion;
    r->cycleId = 4242;
    r->versionMajor = 2;
    r->versionMinor = 5;
    r->versionYear = 2024;
    r->versionMonth = 2;
    r->versionDay = 9;
    r->title = "Test Cycle";
    r->shortName = "kvTest";
    r->firstRecordPending = 1;
}

// Signals as the record's signal function receives them.
inline std::vector<int32_t>& recordedSignals() {
    static std::vector<int32_t> signals;
    return signals;
}

inline void recordSignal(CycleRecord*, int32_t signal, void*) {
    recordedSignals().push_back(signal);
}

// The core library as every run loads it: beside the test binary.
inline std::string coreLibraryPath() {
    return moduleDirectory() + kCoreLibraryName;
}

inline bool coreLibraryMapped() {
    void* h = dlopen(coreLibraryPath().c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (h) dlclose(h);
    return h != nullptr;
}

// Forgets the cycle root's hold on the core library; whole runs forget every static record's
// (exportsResetCore).
inline void forgetRootCore() {
    CycleRecord* root = &cycleRootRecord;
    coreResetState(&root, 1);
}

// Back to the core library beside the test binary, nothing loaded.
inline void resetCoreToBinFolder(void (*forget)() = forgetRootCore) {
    forget();
    coreSetModuleFolder(moduleFileName().c_str());
}
