// Binding to the core library that writes the path text: one loaded copy per
// process with a use count, opened by each cycle record for its run, and one
// small wrapper per entry. Every wrapper returns the entry's result, -6 when
// the record has no core library open and -3 when the entry is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "kernel/ncout/record.h"
#include "platform/corelib.h"

enum : int {
    kCoreEntryMissing = -3,
    kCoreNotOpen = -6,
};

// Fills the folder the core library is loaded from, once: the file name up to
// and including its last '/' or '\' (a name without separator stays whole).
void coreSetModuleFolder(const char* moduleFileName);
const char* coreModuleFolder();

// The result of the core's OpenCore, -3 when that entry is missing, 0 when the
// library cannot be loaded or the record has it open already.
int coreOpen(CycleRecord* record);
// The result of CloseCore, -3 when it is missing, -6 when the record had no library.
int coreClose(CycleRecord* record);

int coreActivateAdditionalFunctions(CycleRecord* record, int32_t flag);
int coreSetRelease(CycleRecord* record, const char* release);
int coreSetFP(CycleRecord* record, FILE* file);
int coreGetFP(CycleRecord* record, FILE** file);  // *file preset to null
int coreLayerOutput(int32_t channel, int32_t mode, CycleRecord* record, NcRecord* output, CorePrintFn print,
                    CoreEmitFn emit);
int coreGetTechnology(CycleRecord* record, int32_t* technology);  // preset 1
int coreGetTurnMapException(CycleRecord* record, int32_t* flag);  // preset 0
int coreGetRedFile(CycleRecord* record, FILE** file);             // preset null
int coreSetDtoSPrecision(CycleRecord* record, int32_t decimals);
int coreSetSurfaceNormal(CycleRecord* record, double x, double y, double z);

int coreUseCount();  // records holding the loaded core library

// Unloads the core library, forgets the hold on it of the records given (the library's static
// records: exportsResetCore) and empties the module folder (the state before the library's attach);
// for tests.
void coreResetState(CycleRecord* const* records, size_t count);
