// The core library: a companion shared library that turns output records into
// path text. The cycle library loads it at run time from its own folder under
// this file name and binds to its entries by name only; these are the types of
// those entries.
#pragma once

#include <cstdint>
#include <cstdio>

struct CycleRecord;  // opaque to the core: it only keys its per-cycle state by it
struct NcRecord;     // KVNC_RECORD_SIZE bytes, laid out as in kvcycles.h

constexpr char kCoreLibraryName[] = "libkvcore.so";

extern "C" {
typedef void (*CorePrintFn)(FILE* file, const char* text);
typedef int (*CoreEmitFn)(CycleRecord* record, uint16_t channel, NcRecord* output);

typedef int32_t (*CoreOpenCoreFn)(CycleRecord* record);
typedef int32_t (*CoreSetDLLPathFn)(CycleRecord* record, const char* folder);
typedef int32_t (*CoreCloseCoreFn)(CycleRecord* record);
typedef int32_t (*CoreActivateAdditionalFunctionsFn)(CycleRecord* record, int32_t flag);
typedef int32_t (*CoreSetReleaseFn)(CycleRecord* record, const char* release);
typedef int32_t (*CoreSetFPFn)(CycleRecord* record, FILE* file);
typedef int32_t (*CoreGetFPFn)(CycleRecord* record, FILE** file);
typedef int32_t (*CoreLayerOutputFn)(int32_t channel, int32_t mode, CycleRecord* record, NcRecord* output,
                                     CorePrintFn print, CoreEmitFn emit);
typedef int32_t (*CoreGetTechnologyFn)(CycleRecord* record, int32_t* technology);
typedef int32_t (*CoreGetTurnMapExceptionFn)(CycleRecord* record, int32_t* flag);
typedef int32_t (*CoreGetRedFileFn)(CycleRecord* record, FILE** file);
typedef int32_t (*CoreSetDtoSPrecisionFn)(CycleRecord* record, int32_t decimals);
typedef int32_t (*CoreSetSurfaceNormalFn)(CycleRecord* record, double x, double y, double z);
}
