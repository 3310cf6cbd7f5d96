#include "kernel/cycle/cycrun.h"

#include <cstdlib>
#include <exception>
#include <string>

#include "kernel/ncout/core.h"
#include "kernel/base/langfile.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncemit.h"

namespace {

// A slot that throws has failed: the fault is reported and the run goes on as after any failed step,
// so that the end step still closes the output and the clean-up frees the run.
int callSlot(CycleRecord* record, int slot) {
    CycleMethod m = record->slots.m[slot];
    if (!m) return 0;
    try {
        return m(record);
    } catch (const std::exception& e) {
        cycleReportFault(record, e.what());
    } catch (...) {
        cycleReportFault(record, nullptr);
    }
    return 0;
}

int step(CycleRecord* record, int slot, int32_t before, int32_t after) {
    cycleSignal(record, before);
    int result = callSlot(record, slot);
    cycleSignal(record, after);
    return result;
}

}  // namespace

int cycleDoVersion(CycleRecord* r) {
    return step(r, kSlotVersion, kSigVersionBegin, kSigVersionEnd);
}
int cycleDoHelp(CycleRecord* r) {
    return step(r, kSlotHelp, kSigHelpBegin, kSigHelpEnd);
}
int cycleDoParameters(CycleRecord* r) {
    return step(r, kSlotParameters, kSigParametersBegin, kSigParametersEnd);
}
int cycleDoAlgorithm(CycleRecord* r) {
    return step(r, kSlotAlgorithm, kSigAlgorithmBegin, kSigAlgorithmEnd);
}
int cycleDoLayers(CycleRecord* r) {
    return step(r, kSlotLayers, kSigLayersBegin, kSigLayersEnd);
}
int cycleDoModeD(CycleRecord* r) {
    return step(r, kSlotModeD, kSigModeDBegin, kSigModeDEnd);
}

int cycleDoPrepare(CycleRecord* r) {
    cycleSignal(r, kSigPrepareBegin);
    int result = callSlot(r, kSlotPrepare);
    try {
        cycleWriteCfgSource(r);
    } catch (...) {
        cycleReportFault(r, "cfgSource");
    }
    cycleSignal(r, kSigPrepareEnd);
    return result;
}

int cycleDoInput(CycleRecord* r) {
    return step(r, r->cfgMode == 1 ? kSlotInputCfg : kSlotInput, kSigInputBegin, kSigInputEnd);
}
int cycleDoSetup(CycleRecord* r) {
    return step(r, kSlotSetup, kSigSetupBegin, kSigSetupEnd);
}
int cycleDoRun(CycleRecord* r) {
    return step(r, kSlotRun, kSigRunBegin, kSigRunEnd);
}
int cycleDoFinish(CycleRecord* r) {
    return step(r, kSlotFinish, kSigFinishBegin, kSigFinishEnd);
}
int cycleDoEnd(CycleRecord* r) {
    return step(r, kSlotEnd, kSigEndBegin, kSigEndEnd);
}

int cycleRun(CycleRecord* record) {
    if (!record) return kRunRunFailed;
    int e = kRunOk;
    if (record->flags & kFlagInfoModes) {
        static const struct {
            uint16_t flag;
            int (*run)(CycleRecord*);
            int error;
        } kModes[] = {
            {kFlagVersion, cycleDoVersion, kRunVersionFailed},
            {kFlagHelp, cycleDoHelp, kRunHelpFailed},
            {kFlagParameters, cycleDoParameters, kRunParametersFailed},
            {kFlagAlgorithm, cycleDoAlgorithm, kRunAlgorithmFailed},
            {kFlagLayers, cycleDoLayers, kRunLayersFailed},
            {kFlagModeD, cycleDoModeD, kRunModeDFailed},
        };
        for (const auto& m : kModes) {
            if ((record->flags & m.flag) && !m.run(record)) {
                e = m.error;
                break;
            }
        }
    } else {
        cycleDoPrepare(record);
        if (!cycleDoInput(record))
            e = kRunInputFailed;
        else if (!cycleDoSetup(record))
            e = kRunSetupFailed;
        else if (!cycleDoRun(record))
            e = kRunRunFailed;
        else if (!cycleDoFinish(record))
            e = kRunFinishFailed;
        // The end step closes the output whatever failed before it.
        if (!cycleDoEnd(record) && e == kRunOk) e = kRunEndFailed;
    }
    cycleCleanup(record);
    coreClose(record);
    return e;
}

void cycleWriteCfgSource(CycleRecord* record) {
    ncEmitText(record, 0, 112, "cfgSource", record->paramFile);
    for (const KvList* n = record->vars; n; n = n->next) {
        if (!n->key || !n->value) continue;
        std::string value = std::string("\"") + n->key + "\":=\"" + n->value + "\"";
        bool builtIn = n->type < kKvFile;
        ncEmitText(record, 1, builtIn ? 202 : 201, builtIn ? "def" : "call", value.c_str());
    }
    for (const KvList* n = record->cfgVars; n; n = n->next) {
        if (!n->key || !n->value) continue;
        std::string value = *n->value ? std::string(n->key) + " " + n->value : std::string(n->key);
        ncEmitText(record, 1, 204, "cfg", value.c_str());
    }
}

void cycleCleanup(CycleRecord* record) {
    if (!record) return;
    cycleSignal(record, kSigCleanupBegin);
    if (record->args) {
        for (int i = record->argCount; i-- > 0;) free(record->args[i]);
        free(record->args);
        record->args = nullptr;
    }
    record->argCount = 0;
    free(record->paramFile);
    record->paramFile = nullptr;
    kvListFree(record->vars);
    record->vars = nullptr;
    kvListFree(record->cfgVars);
    record->cfgVars = nullptr;
    // The listeners hold the finished run's host callbacks, which the host may
    // free once the run has returned; the handlers serve the next run.
    ncDropListeners(record);
    cycleSignal(record, kSigCleanupEnd);
}

int cycleInfoSection(CycleRecord* record, const char* variable) {
    if (!record || !variable) return 0;
    char* file = kvListGet(record->vars, variable, nullptr);
    if (!file) return 0;
    char* language = kvListGet(record->vars, "SystemLanguage", nullptr);
    int result = readLanguageFile(file, language ? language : "???") ? 1 : 0;
    free(language);
    free(file);
    return result;
}

int cycleInfoParameters(CycleRecord* record) {
    return cycleInfoSection(record, "parameters");
}

int cycleInfoAlgorithm(CycleRecord* record) {
    return cycleInfoSection(record, "algorithm");
}

int cycleInfoLayers(CycleRecord* record) {
    return cycleInfoSection(record, "layers");
}

int rootCycleEnd(CycleRecord* record) {
    if (!record) return 0;
    ncEmitText(record, 0, 104, "cycleEnd", record->title);
    ncFreeChannels(record);
    return 1;
}
