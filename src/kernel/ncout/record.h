// The cycle record: a static record that is class and instance at once: identity and version, the
// state of the current run and sixteen method slots; an empty slot takes the parent's method at the
// record's first start. Every NC output call names the record whose channels it writes, so the record
// sits at the bottom of the output layer, below the framework that starts and runs it.
#pragma once

#include <kvcycles.h>

#include <atomic>
#include <cstdint>

#include "kernel/base/abort.h"
#include "kernel/base/kvx/kvlist.h"
#include "kernel/ncout/ncchan.h"

struct CycleRecord;
struct ToolRecord;

using CycleMethod = int (*)(CycleRecord* record);
using CycleSignalFn = void (*)(CycleRecord* record, int32_t signal, void* data);

enum CycleSlot : int {
    kSlotArgs = 0,
    kSlotPrepare = 1,
    kSlotReadParams = 2,
    kSlotReadCfg = 3,
    kSlotVersion = 4,
    kSlotHelp = 5,
    kSlotParameters = 6,
    kSlotAlgorithm = 7,
    kSlotLayers = 8,
    kSlotModeD = 9,
    kSlotInput = 10,
    kSlotInputCfg = 11,
    kSlotSetup = 12,
    kSlotRun = 13,
    kSlotFinish = 14,
    kSlotEnd = 15,
    kSlotCount = 16,
};

struct CycleSlots {
    CycleMethod m[kSlotCount];  // indexed by CycleSlot; null: inherited
};

// `flags` bits of a run.
enum : uint16_t {
    kFlagVersion = 1,
    kFlagHelp = 2,
    kFlagParameters = 4,
    kFlagAlgorithm = 8,
    kFlagLayers = 16,
    kFlagModeD = 32,
    kFlagInfoModes = 63,
    kFlagParamFile = 256,
};

// Signals sent to `signalFn`: the last digit is 1 before a step and 9 after it.
enum : int32_t {
    kSigArgsBegin = 111,
    kSigArgsEnd = 119,
    kSigReadBegin = 121,
    kSigReadEnd = 129,
    kSigRegisterBegin = 131,
    kSigRegisterEnd = 139,
    kSigVersionBegin = 211,
    kSigVersionEnd = 219,
    kSigHelpBegin = 221,
    kSigHelpEnd = 229,
    kSigParametersBegin = 231,
    kSigParametersEnd = 239,
    kSigAlgorithmBegin = 241,
    kSigAlgorithmEnd = 249,
    kSigLayersBegin = 251,
    kSigLayersEnd = 259,
    kSigModeDBegin = 261,
    kSigModeDEnd = 269,
    kSigPrepareBegin = 311,
    kSigFirstRecord = 312,
    kSigPrepareEnd = 319,
    kSigInputBegin = 321,
    kSigInputEnd = 329,
    kSigSetupBegin = 331,
    kSigSetupEnd = 339,
    kSigRunBegin = 341,
    kSigRunEnd = 349,
    kSigFinishBegin = 351,
    kSigFinishEnd = 359,
    kSigEndBegin = 391,
    kSigEndEnd = 399,
    kSigCleanupBegin = 411,
    kSigCleanupEnd = 419,
};

// Status words and the signal words the cycles recognise.
enum : int32_t {
    kStatusOk = 0,
    kStatusFailed = 1,
    kStatusCancelled = 100,
    kSignalCancel = 100,
    kSignalBreak = 104,
};

constexpr uint16_t kFrameVersion = 5;  // kernel interface version of every record

// Identity frame as a static initialiser.
#define KV_FRAME_IDENTITY \
    { 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1 }

struct CycleRecord {
    CycleRecord* parent{};  // null for the root
    int32_t started{};      // 1 once the class initialisation has run
    uint16_t frameVersion{};
    int32_t cycleId{};
    uint16_t versionMajor{}, versionMinor{};  // the minor number counts hundredths
    uint16_t versionYear{}, versionMonth{}, versionDay{};
    const char* title{};      // static
    const char* shortName{};  // static; names the defaults file "%s.def"; null for the root
    char** args{};            // positional arguments of the run (owned)
    uint16_t argCount{};
    char* paramFile{};  // owned
    uint16_t flags{};
    uint16_t traceLevel{};
    int32_t pcf{};  // output mode: 0 POF, 1 PCF
    int32_t firstRecordPending{};
    NcChannel* channels{};
    KvList* vars{};
    int32_t cfgMode{};
    KvList* cfgVars{};
    int32_t toolContourFlag{};
    double frame[16] = KV_FRAME_IDENTITY;      // output frame (see framemat.h)
    double toolFrame[16] = KV_FRAME_IDENTITY;  // tool frame
    CycleSlots slots{};
    CycleSignalFn signalFn{};  // null when nobody listens
    void* signalData{};
    std::atomic<int32_t> hostSignal = {0};  // written by the host from inside its callbacks
    std::atomic<int32_t> status = {0};      // 0 success, 1 failure, 100 cancelled; read by any thread
    ToolRecord* tool{};
    void* coreHandle{};
};

// Sends a signal to the record's signal function, when one is set.
void cycleSignal(CycleRecord* record, int32_t signal);
