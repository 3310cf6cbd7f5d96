#include "kernel/cycle/cycstart.h"

#include <strings.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kernel/base/kvx/wordpair.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"
#include "kernel/base/text.h"
#include "kernel/cycle/cycrun.h"
#include "kernel/ncout/core.h"
#include "kernel/ncout/framemat.h"
#include "platform/loadhooks.h"
#include "platform/module.h"
#include "platform/versioninfo.h"

namespace {

constexpr size_t kModulePathMax = 1020;
constexpr int kBypassLineLength = 512;

void* gModuleHandle = nullptr;
char* gModulePath = nullptr;
int gParentStart = 0;

KV_ON_LOAD void cycleLibraryLoaded() {
    cycleDllMain(moduleHandle(), kAttachProcess, nullptr);
}

KV_ON_UNLOAD void cycleLibraryUnloaded() {
    // Linked into a program, the code goes only at the program's exit, after the objects these resets
    // touch; unloaded as a library, before them.
    if (!moduleIsProgram()) loadResetAll();
    cycleDllMain(moduleHandle(), kDetachProcess, nullptr);
}

bool endsWithNoCase(const std::string& name, const char* suffix) {
    size_t n = strlen(suffix);
    return name.size() >= n && strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

void freeArgs(CycleRecord* record) {
    if (record->args) {
        for (int i = record->argCount; i-- > 0;) free(record->args[i]);
        free(record->args);
    }
    record->args = nullptr;
    record->argCount = 0;
}

int callSlot(CycleRecord* record, int slot) {
    CycleMethod m = record->slots.m[slot];
    return m ? m(record) : 0;
}

// One entry of the argument vector; false when it is a positional argument.
bool parseOption(CycleRecord* record, const char* entry) {
    if (entry[0] == '?') {
        record->flags = kFlagHelp;  // drops every earlier flag, the parameter file's included
        return true;
    }
    if (entry[0] != '-' && entry[0] != '/') return false;
    const char* rest = entry + 1;
    if (rest[0] && !rest[1]) {
        static const struct {
            char letter;
            uint16_t flag;
        } kModes[] = {{'?', kFlagHelp},       {'a', kFlagAlgorithm}, {'d', kFlagModeD},
                      {'p', kFlagParameters}, {'v', kFlagVersion},   {'y', kFlagLayers}};
        for (const auto& m : kModes) {
            if (rest[0] == m.letter ||
                (rest[0] >= 'A' && rest[0] <= 'Z' && rest[0] - 'A' + 'a' == m.letter)) {
                record->flags |= m.flag;
                return true;
            }
        }
        return false;
    }
    if (!rest[0]) return false;
    if (rest[0] == 'M' || rest[0] == 'm') {
        record->traceLevel = static_cast<uint16_t>(strtol(rest + 1, nullptr, 10));
        return true;
    }
    if (rest[0] == 'S' || rest[0] == 's') {
        char* name = strDup(rest + 1);
        if (!name) {
            // Without its parameter file the run would start on the defaults alone.
            msgFault("memory");
            return true;
        }
        free(record->paramFile);
        record->paramFile = name;
        record->flags |= kFlagParamFile;
        return true;
    }
    if (rest[0] == 'P' && strcasecmp(rest + 1, "CF") == 0) {
        record->pcf = 1;
        return true;
    }
    if (rest[0] == 'P' && strcasecmp(rest + 1, "OF") == 0) {
        record->pcf = 0;
        return true;
    }
    return false;
}

void parseArguments(CycleRecord* record, char** argv, uint16_t argc) {
    record->args = static_cast<char**>(memCalloc(argc, sizeof(char*)));
    for (uint16_t i = 0; i < argc; ++i) {
        const char* entry = argv[i];
        if (!entry || parseOption(record, entry)) continue;
        if (!record->args) continue;  // memory short: the positional argument is lost, nothing else
        if (char* copy = strDup(entry)) record->args[record->argCount++] = copy;
    }
    if (record->argCount == 0) {
        free(record->args);
        record->args = nullptr;
        return;
    }
    cycleSignal(record, kSigArgsBegin);
    callSlot(record, kSlotArgs);
    cycleSignal(record, kSigArgsEnd);
}

void readColumn(const KvList* list, const char* name, int mode, double* x, double* y, double* z, bool axis) {
    for (const KvList* n = list; n; n = n->next) {
        if (strcmp(n->key, name) != 0) continue;
        double v[3];
        if (parseNumbers3(n->value, &v[0], &v[1], &v[2]) == 3) {
            double length = axis ? std::hypot(std::hypot(v[0], v[1]), v[2]) : 1.0;
            if (length > 1e-8) {
                *x = v[0] / length;
                *y = v[1] / length;
                *z = v[2] / length;
            }
        }
        if (mode == 1) return;
    }
}

// Column c of a frame matrix as three target cells.
void readAxisColumn(const KvList* list, const char* name, int mode, double* frame, int column) {
    readFrameAxis(list, name, mode, &frame[column], &frame[4 + column], &frame[8 + column]);
}

void readOriginColumn(const KvList* list, const char* name, int mode, double* frame) {
    readFrameOrigin(list, name, mode, &frame[3], &frame[7], &frame[11]);
}

void readFrame(const KvList* list, const char* const names[4], int mode, double* frame) {
    for (int c = 0; c < 3; ++c) readAxisColumn(list, names[c], mode, frame, c);
    readOriginColumn(list, names[3], mode, frame);
}

}  // namespace

// ---- Attach ----

int cycleDllMain(void* module, int32_t reason, void* reserved) {
    if (reason == kAttachProcess || reason == kAttachThread) coreSetModuleFolder(moduleFileName().c_str());
    return cycleDllAttach(module, reason, reserved);
}

int cycleDllAttach(void* module, int32_t reason, void*) {
    gModuleHandle = module;
    if (reason == kAttachProcess || reason == kAttachThread) {
        std::string name = moduleFileName();
        if (name.size() > kModulePathMax) name.clear();  // a cut path would name another file
        free(gModulePath);
        gModulePath = name.empty() ? nullptr : strDup(name.c_str());
    } else {
        free(gModulePath);
        gModulePath = nullptr;
    }
    return 1;
}

const char* cycleModulePath() {
    return gModulePath;
}

void* cycleModuleHandle() {
    return gModuleHandle;
}

// ---- Start ----

int cycleVersionText(const CycleRecord* record, char* text, size_t size) {
    unsigned major = record->versionMajor, minor = record->versionMinor;
    unsigned day = record->versionDay, month = record->versionMonth, year = record->versionYear;
    if (minor % 10 == 0)
        return snprintf(text, size, "%u.%u-%02u.%02u.%u", major, minor / 10, day, month, year);
    return snprintf(text, size, "%u.%02u-%02u.%02u.%u", major, minor, day, month, year);
}

int cycleReleaseText(const CycleRecord* record, char* text, size_t size) {
    char fileVersion[256];
    uint16_t parts[4];
    if (!gModulePath || !versionInfo(fileVersion, sizeof fileVersion, parts))
        return cycleVersionText(record, text, size);
    std::string release;
    for (const char* p = fileVersion; *p; ++p) {
        if (*p != ' ' && *p != '\t') release += *p;
    }
    char numbers[64];
    snprintf(numbers, sizeof numbers, "-%d.%d.%d.%d", parts[0], parts[1], parts[2], parts[3]);
    release += numbers;
    return snprintf(text, size, "%s", release.c_str());
}

int cycleStart(CycleRecord* record, char** argv, uint16_t argc, int parentStart) {
    if (!record) return 0;
    char version[64];
    cycleVersionText(record, version, sizeof version);

    if (!record->started) {
        if (!gParentStart) coreOpen(record);
        CycleRecord* parent = record->parent;
        if (parent && parent->frameVersion != record->frameVersion) {
            // Nothing of the record is touched; the core library opened above is not kept.
            if (!gParentStart) coreClose(record);
            return 0;
        }
        if (parent) {
            int outer = gParentStart;
            gParentStart = 1;
            int parentStarted = cycleStart(parent, nullptr, 0, 1);
            gParentStart = outer;
            // Inheriting from a parent that could not start would leave empty slots.
            if (!parentStarted) {
                if (!gParentStart) coreClose(record);
                return 0;
            }
            for (int s = 0; s < kSlotCount; ++s) {
                if (!record->slots.m[s]) record->slots.m[s] = parent->slots.m[s];
            }
        }
        record->started = 1;
    } else if (!gParentStart) {
        coreOpen(record);
    }
    coreActivateAdditionalFunctions(record, 1);
    if (parentStart == 1) return 1;

    freeArgs(record);
    record->flags = 0;
    record->traceLevel = 0;
    record->firstRecordPending = 1;
    record->pcf = 0;

    char release[320];
    cycleReleaseText(record, release, sizeof release);
    coreSetRelease(record, release);

    if (argc) parseArguments(record, argv, argc);
    if (record->flags == 0) record->flags = kFlagVersion | kFlagHelp;

    int r = cycleReadParameters(record);
    record->vars = kvListSet(record->vars, record->cfgMode == 1 ? "*TEMP_MEM" : "tempMem", "128", kKvBuiltIn);
    if (record->pcf == 0) {
        if (char* bypass = kvListGet(record->vars, "POFbypass", nullptr)) {
            copyFileToStdout(bypass, kBypassLineLength);
            free(bypass);
        }
    }
    if (r == 0) {
        cycleCleanup(record);
        coreClose(record);
        return 0;
    }
    return r;
}

// ---- Parameters ----

int cycleReadParameters(CycleRecord* record) {
    if (!record) return 0;
    const char* file = record->paramFile;
    record->cfgMode = file && strlen(file) > 4 && endsWithNoCase(file, ".CFG") ? 1 : 0;
    cycleSignal(record, kSigReadBegin);
    int r;
    if (record->cfgMode == 0) {
        r = callSlot(record, kSlotReadParams);
        if (char* cfgFile = kvListGet(record->vars, "cfgFile", nullptr)) {
            record->cfgVars = readWordPairs(record->cfgVars, cfgFile, kKvFile);
            free(cfgFile);
        }
    } else {
        r = callSlot(record, kSlotReadCfg);
    }
    cycleSignal(record, kSigReadEnd);
    return r;
}

int rootReadParameters(CycleRecord* record) {
    if (!record) return 0;
    if (record->shortName) {
        std::string defaults = std::string(record->shortName) + ".def";
        record->vars = kvListLoad(record->vars, defaults.c_str(), kKvDefaults);
    }
    if (record->paramFile) {
        std::string name = record->paramFile;
        if (name != "| stdin" && !endsWithNoCase(name, ".pcf")) name += ".pcf";
        record->vars = kvListLoad(record->vars, name.c_str(), kKvFile);
    }
    static const char* const kFrame[4] = {"frameCs_x", "frameCs_y", "frameCs_z", "frameCs_o"};
    static const char* const kTool[4] = {"toolCs_x", "toolCs_y", "toolCs_z", "toolCs_o"};
    frameMatIdentity(record->frame);
    readFrame(record->vars, kFrame, 1, record->frame);
    frameMatCopy(record->toolFrame, record->frame);
    defaultToolFrameVariables(record);
    readFrame(record->vars, kTool, 1, record->toolFrame);
    return 1;
}

int rootReadCfg(CycleRecord* record) {
    if (!record) return 0;
    if (record->paramFile) {
        std::string name = record->paramFile;
        if (!endsWithNoCase(name, ".CFG")) name += ".CFG";
        record->cfgVars = readWordPairs(record->cfgVars, name.c_str(), kKvFile);
    }
    for (const KvList* n = record->cfgVars; n; n = n->next) {
        if (n->key[0] != '*' || !n->value || !*n->value) continue;
        if (strcmp(n->key, "*APT") == 0) {
            record->vars = kvListSet(record->vars, "pofFilename", n->value, kKvDerived);
        } else if (strcmp(n->key, "*FRAME_ID") == 0) {
            record->vars = kvListSet(record->vars, "zeroPointID", n->value, kKvDerived);
        } else if (strcmp(n->key, "*FRAME_COMMENT") == 0) {
            size_t need = escapeName(nullptr, 0, n->value);
            std::vector<char> escaped(need + 1);
            escapeName(escaped.data(), escaped.size(), n->value);
            record->vars = kvListSet(record->vars, "frameComment", escaped.data(), kKvDerived);
        }
    }
    static const char* const kFrame[4] = {"*NCKO_X", "*NCKO_Y", "*NCKO_Z", "*NCKO_O"};
    static const char* const kTool[4] = {"*WZKO_X", "*WZKO_Y", "*WZKO_Z", "*WZKO_O"};
    frameMatIdentity(record->frame);
    readFrame(record->cfgVars, kFrame, 0, record->frame);
    frameMatCopy(record->toolFrame, record->frame);
    // The tool frame comes from the word pairs as the frame does; a
    // configuration without them keeps the tool frame equal to the frame.
    readFrame(record->cfgVars, kTool, 0, record->toolFrame);
    return 1;
}

void readFrameAxis(const KvList* list, const char* name, int mode, double* x, double* y, double* z) {
    if (!name || !x || !y || !z) return;
    readColumn(list, name, mode, x, y, z, true);
}

void readFrameOrigin(const KvList* list, const char* name, int mode, double* x, double* y, double* z) {
    if (!name || !x || !y || !z) return;
    readColumn(list, name, mode, x, y, z, false);
}

void defaultToolFrameVariables(CycleRecord* record) {
    if (!record) return;
    static const char* const kPairs[4][2] = {{"frameCs_x", "toolCs_x"},
                                             {"frameCs_y", "toolCs_y"},
                                             {"frameCs_z", "toolCs_z"},
                                             {"frameCs_o", "toolCs_o"}};
    for (const auto& p : kPairs) {
        char* frame = kvListGet(record->vars, p[0], nullptr);
        char* tool = kvListGet(record->vars, p[1], nullptr);
        if (frame && !tool) record->vars = kvListSet(record->vars, p[1], frame, kKvDerived);
        free(frame);
        free(tool);
    }
}

void copyFileToStdout(const char* fileName, int lineLength) {
    if (!fileName || lineLength < 2) return;
    FILE* f = fopen(fileName, "r");
    if (!f) return;
    std::vector<char> chunk(static_cast<size_t>(lineLength));
    while (fgets(chunk.data(), lineLength, f)) fputs(chunk.data(), stdout);
    fclose(f);
}

void cycleStartResetState() {
    gParentStart = 0;
}
static const LoadReset gLoadReset(kRunResetCycle, "cycleStart", cycleStartResetState);
