#include "kernel/core.h"

#include <cstring>
#include <string>

#include "kernel/ccp.h"
#include "kernel/cyc3d.h"
#include "kernel/idx5.h"
#include "platform/module.h"

namespace {

constexpr size_t kFolderMax = 510;

char gFolder[kFolderMax + 1];
void* gLoaded = nullptr;
int gUseCount = 0;

// Looks an entry up for a record; -6 or -3 in `result` when it cannot be called.
template <typename Fn>
Fn entryOf(CycleRecord* record, const char* name, int* result) {
    if (!record || !record->coreHandle) {
        *result = kCoreNotOpen;
        return nullptr;
    }
    auto fn = reinterpret_cast<Fn>(moduleEntry(record->coreHandle, name));
    if (!fn) *result = kCoreEntryMissing;
    return fn;
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
        gLoaded = moduleLoad(path.c_str());
    }
    record->coreHandle = gLoaded;
    if (!gLoaded) return 0;
    ++gUseCount;
    int result = kCoreEntryMissing;
    if (auto open = entryOf<CoreOpenCoreFn>(record, "OpenCore", &result)) result = open(record);
    int ignored;
    if (auto setPath = entryOf<CoreSetDLLPathFn>(record, "SetDLLPath", &ignored)) setPath(record, gFolder);
    return result;
}

int coreClose(CycleRecord* record) {
    if (!record || !record->coreHandle) return kCoreNotOpen;
    int result = kCoreEntryMissing;
    if (auto close = entryOf<CoreCloseCoreFn>(record, "CloseCore", &result)) result = close(record);
    if (record->coreHandle == gLoaded && gUseCount > 0 && --gUseCount == 0) {
        moduleUnload(gLoaded);
        gLoaded = nullptr;
    }
    record->coreHandle = nullptr;
    return result;
}

int coreActivateAdditionalFunctions(CycleRecord* record, int32_t flag) {
    int result;
    auto fn = entryOf<CoreActivateAdditionalFunctionsFn>(record, "ActivateAdditionalFunctions", &result);
    return fn ? fn(record, flag) : result;
}

int coreSetRelease(CycleRecord* record, const char* release) {
    int result;
    auto fn = entryOf<CoreSetReleaseFn>(record, "SetRelease", &result);
    return fn ? fn(record, release) : result;
}

int coreSetFP(CycleRecord* record, FILE* file) {
    int result;
    auto fn = entryOf<CoreSetFPFn>(record, "SetFP", &result);
    return fn ? fn(record, file) : result;
}

int coreGetFP(CycleRecord* record, FILE** file) {
    if (file) *file = nullptr;
    int result;
    auto fn = entryOf<CoreGetFPFn>(record, "GetFP", &result);
    return fn ? fn(record, file) : result;
}

int coreLayerOutput(int32_t channel, int32_t mode, CycleRecord* record, NcRecord* output, CorePrintFn print,
                    CoreEmitFn emit) {
    int result;
    auto fn = entryOf<CoreLayerOutputFn>(record, "LayerOutput", &result);
    return fn ? fn(channel, mode, record, output, print, emit) : result;
}

int coreGetTechnology(CycleRecord* record, int32_t* technology) {
    if (technology) *technology = 1;
    int result;
    auto fn = entryOf<CoreGetTechnologyFn>(record, "GetTechnology", &result);
    return fn ? fn(record, technology) : result;
}

int coreGetTurnMapException(CycleRecord* record, int32_t* flag) {
    if (flag) *flag = 0;
    int result;
    auto fn = entryOf<CoreGetTurnMapExceptionFn>(record, "GetTurnMapException", &result);
    return fn ? fn(record, flag) : result;
}

int coreGetRedFile(CycleRecord* record, FILE** file) {
    if (file) *file = nullptr;
    int result;
    auto fn = entryOf<CoreGetRedFileFn>(record, "GetRedFile", &result);
    return fn ? fn(record, file) : result;
}

int coreSetDtoSPrecision(CycleRecord* record, int32_t decimals) {
    int result;
    auto fn = entryOf<CoreSetDtoSPrecisionFn>(record, "SetDtoSPrecision", &result);
    return fn ? fn(record, decimals) : result;
}

int coreSetSurfaceNormal(CycleRecord* record, double x, double y, double z) {
    int result;
    auto fn = entryOf<CoreSetSurfaceNormalFn>(record, "SetSurfaceNormal", &result);
    return fn ? fn(record, x, y, z) : result;
}

int coreUseCount() {
    return gUseCount;
}

void coreResetState() {
    if (gLoaded) moduleUnload(gLoaded);
    gLoaded = nullptr;
    gUseCount = 0;
    for (CycleRecord* r : {&cycleRootRecord, &kvCyc3d, &kvIdx5, &kvCCP}) r->coreHandle = nullptr;
    gFolder[0] = '\0';
}
