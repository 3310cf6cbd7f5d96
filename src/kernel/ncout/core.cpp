#include "kernel/ncout/core.h"

#include <cstring>
#include <string>

#include "platform/module.h"

namespace {

constexpr size_t kFolderMax = 510;

char gFolder[kFolderMax + 1];
void* gLoaded = nullptr;
int gUseCount = 0;
// Changes whenever the loaded library comes or goes, so that no entry address found in an
// earlier copy is ever used for a later one.
unsigned gLoadEpoch = 1;

// The entries by which the wrappers call the library.
enum Entry : int {
    kOpenCore,
    kSetDLLPath,
    kCloseCore,
    kActivateAdditionalFunctions,
    kSetRelease,
    kSetFP,
    kGetFP,
    kLayerOutput,
    kGetTechnology,
    kGetTurnMapException,
    kGetRedFile,
    kSetDtoSPrecision,
    kSetSurfaceNormal,
    kEntryCount
};
constexpr const char* kEntryNames[kEntryCount] = {"OpenCore",        "SetDLLPath",
                                                  "CloseCore",       "ActivateAdditionalFunctions",
                                                  "SetRelease",      "SetFP",
                                                  "GetFP",           "LayerOutput",
                                                  "GetTechnology",   "GetTurnMapException",
                                                  "GetRedFile",      "SetDtoSPrecision",
                                                  "SetSurfaceNormal"};

// An entry's address as last looked up in the loaded library (null when it lacks the entry).
// Output calls entries several times per record; while the library stays loaded its entries
// cannot change, so each is looked up once per load instead of once per call.
struct EntryCache {
    unsigned epoch;
    void* fn;
};
EntryCache gEntries[kEntryCount];

void setLoaded(void* handle) {
    gLoaded = handle;
    ++gLoadEpoch;
}

// Looks an entry up for a record; -6 or -3 in `result` when it cannot be called.
template <typename Fn>
Fn entryOf(CycleRecord* record, Entry entry, int* result) {
    if (!record || !record->coreHandle) {
        *result = kCoreNotOpen;
        return nullptr;
    }
    EntryCache& cache = gEntries[entry];
    void* fn;
    if (record->coreHandle == gLoaded && cache.epoch == gLoadEpoch) {
        fn = cache.fn;
    } else {
        fn = moduleEntry(record->coreHandle, kEntryNames[entry]);
        // Only the copy held here is known to stay loaded; any other handle is asked every time.
        if (record->coreHandle == gLoaded) cache = {gLoadEpoch, fn};
    }
    if (!fn) *result = kCoreEntryMissing;
    return reinterpret_cast<Fn>(fn);
}

}  // namespace

void coreSetModuleFolder(const char* moduleFileName) {
    if (gFolder[0] || !moduleFileName) return;
    size_t n = strnlen(moduleFileName, kFolderMax);
    size_t cut = n;
    for (size_t i = 0; i < n; ++i) {
        if (moduleFileName[i] == '/' || moduleFileName[i] == '\\') cut = i + 1;
    }
    memcpy(gFolder, moduleFileName, cut);
    gFolder[cut] = '\0';
}

const char* coreModuleFolder() {
    return gFolder;
}

int coreOpen(CycleRecord* record) {
    if (!record || record->coreHandle) return 0;
    if (!gLoaded) {
        std::string path = std::string(gFolder) + kCoreLibraryName;
        setLoaded(moduleLoad(path.c_str()));
    }
    record->coreHandle = gLoaded;
    if (!gLoaded) return 0;
    ++gUseCount;
    int result = kCoreEntryMissing;
    if (auto open = entryOf<CoreOpenCoreFn>(record, kOpenCore, &result)) result = open(record);
    int ignored;
    if (auto setPath = entryOf<CoreSetDLLPathFn>(record, kSetDLLPath, &ignored)) setPath(record, gFolder);
    return result;
}

int coreClose(CycleRecord* record) {
    if (!record || !record->coreHandle) return kCoreNotOpen;
    int result = kCoreEntryMissing;
    if (auto close = entryOf<CoreCloseCoreFn>(record, kCloseCore, &result)) result = close(record);
    if (record->coreHandle == gLoaded && gUseCount > 0 && --gUseCount == 0) {
        moduleUnload(gLoaded);
        setLoaded(nullptr);
    }
    record->coreHandle = nullptr;
    return result;
}

int coreActivateAdditionalFunctions(CycleRecord* record, int32_t flag) {
    int result;
    auto fn = entryOf<CoreActivateAdditionalFunctionsFn>(record, kActivateAdditionalFunctions, &result);
    return fn ? fn(record, flag) : result;
}

int coreSetRelease(CycleRecord* record, const char* release) {
    int result;
    auto fn = entryOf<CoreSetReleaseFn>(record, kSetRelease, &result);
    return fn ? fn(record, release) : result;
}

int coreSetFP(CycleRecord* record, FILE* file) {
    int result;
    auto fn = entryOf<CoreSetFPFn>(record, kSetFP, &result);
    return fn ? fn(record, file) : result;
}

int coreGetFP(CycleRecord* record, FILE** file) {
    if (file) *file = nullptr;
    int result;
    auto fn = entryOf<CoreGetFPFn>(record, kGetFP, &result);
    return fn ? fn(record, file) : result;
}

int coreLayerOutput(int32_t channel, int32_t mode, CycleRecord* record, NcRecord* output, CorePrintFn print,
                    CoreEmitFn emit) {
    int result;
    auto fn = entryOf<CoreLayerOutputFn>(record, kLayerOutput, &result);
    return fn ? fn(channel, mode, record, output, print, emit) : result;
}

int coreGetTechnology(CycleRecord* record, int32_t* technology) {
    if (technology) *technology = 1;
    int result;
    auto fn = entryOf<CoreGetTechnologyFn>(record, kGetTechnology, &result);
    return fn ? fn(record, technology) : result;
}

int coreGetTurnMapException(CycleRecord* record, int32_t* flag) {
    if (flag) *flag = 0;
    int result;
    auto fn = entryOf<CoreGetTurnMapExceptionFn>(record, kGetTurnMapException, &result);
    return fn ? fn(record, flag) : result;
}

int coreGetRedFile(CycleRecord* record, FILE** file) {
    if (file) *file = nullptr;
    int result;
    auto fn = entryOf<CoreGetRedFileFn>(record, kGetRedFile, &result);
    return fn ? fn(record, file) : result;
}

int coreSetDtoSPrecision(CycleRecord* record, int32_t decimals) {
    int result;
    auto fn = entryOf<CoreSetDtoSPrecisionFn>(record, kSetDtoSPrecision, &result);
    return fn ? fn(record, decimals) : result;
}

int coreSetSurfaceNormal(CycleRecord* record, double x, double y, double z) {
    int result;
    auto fn = entryOf<CoreSetSurfaceNormalFn>(record, kSetSurfaceNormal, &result);
    return fn ? fn(record, x, y, z) : result;
}

int coreUseCount() {
    return gUseCount;
}

void coreResetState(CycleRecord* const* records, size_t count) {
    if (gLoaded) moduleUnload(gLoaded);
    setLoaded(nullptr);
    gUseCount = 0;
    for (size_t i = 0; records && i < count; ++i) {
        if (records[i]) records[i]->coreHandle = nullptr;
    }
    gFolder[0] = '\0';
}
