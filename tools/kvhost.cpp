// kvhost: a command-line host for the cycle library. It loads the library at
// run time exactly as a CAM host does, runs the cycle with the arguments it is
// given and prints every record it receives, one per line.
//
//   kvhost [--lib PATH] [--dir FOLDER] [--runs N] [--cancel-at N] [--nest-at N] [--raw FILE]
//          [--max-tilt DEG] [--] [cycle arguments]
//
// Without cycle arguments the cycle runs its information modes version and help
// only (no main run, no records), and kvhost says so.
//
// Exit code: the status word of the last run (0 success, 1 failure, 100
// cancelled; 0 for the information run without cycle arguments); 1 when a run
// did not start; 2 for a usage error; 3 when the library or its entries cannot
// be loaded.

#include <dlfcn.h>
#include <kvcycles.h>
#include <limits.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ncdecode.h"

namespace {

using GetCycleFn = KvCycle* (*)();
using ExecCycleFn = int32_t (*)(KvCycle*, int32_t, char**, HostCallbacks*);
using SetSignalFn = int32_t (*)(KvCycle*, int32_t);
using GetSignalFn = int32_t (*)(KvCycle*);

struct Host {
    SetSignalFn setSignal = nullptr;
    ExecCycleFn execCycle = nullptr;
    std::vector<char*>* args = nullptr;
    HostCallbacks* hostCallbacks = nullptr;
    long cancelAt = 0;   // 0: never
    long nestAt = 0;     // 0: never
    long callbacks = 0;  // of the current run
    FILE* raw = nullptr;
};

// Largest tilt of the tool axis from +z, in radians, that the machine check accepts; negative: any.
double maxTiltRad = -1.0;

struct PairData {
    Host* host;
    int pair;
};

int onRecord(KvCycle* cycle, int32_t channel, const void* record, void* user) {
    auto* data = static_cast<PairData*>(user);
    Host* host = data->host;
    const auto* bytes = static_cast<const unsigned char*>(record);
    printf("%s pair=%d\n", ncDecodeRecord(channel, bytes).c_str(), data->pair);
    if (host->raw) {
        unsigned char head[2] = {static_cast<unsigned char>(channel & 0xff),
                                 static_cast<unsigned char>((channel >> 8) & 0xff)};
        fwrite(head, 1, 2, host->raw);
        fwrite(bytes, 1, KVNC_RECORD_SIZE, host->raw);
    }
    if (++host->callbacks == host->cancelAt) {
        int32_t previous = host->setSignal(cycle, KV_SIGNAL_CANCEL);
        printf("cancel requested at callback %ld (previous signal %d)\n", host->callbacks,
               static_cast<int>(previous));
    }
    if (host->callbacks == host->nestAt) {
        // A host may not run the cycle again while it runs: the library must refuse.
        int32_t nested = host->execCycle(cycle, static_cast<int32_t>(host->args->size() - 1),
                                         host->args->data(), host->hostCallbacks);
        printf("nested run at callback %ld: started=%d\n", host->callbacks, static_cast<int>(nested));
    }
    return 1;
}

void usage(FILE* out) {
    fprintf(out,
            "usage: kvhost [--lib PATH] [--dir FOLDER] [--runs N] [--cancel-at N] [--nest-at N] [--raw FILE] "
            "[--max-tilt DEG] [--] [cycle arguments]\n"
            "  --lib PATH     the cycle library (default: libkvcycles.so beside kvhost)\n"
            "  --dir FOLDER   working folder of the run\n"
            "  --runs N       run the cycle N times in this process (default 1)\n"
            "  --cancel-at N  ask the cycle to stop (signal 100) from inside the N-th callback of a run\n"
            "  --nest-at N    run the cycle again from inside the N-th callback of a run\n"
            "  --raw FILE     also write each record as 2 bytes channel + 784 bytes record\n"
            "  --max-tilt DEG the machine reaches tool axes at most DEG degrees from +z (default: any)\n");
}

bool parseCount(const char* text, long* out) {
    char* end = nullptr;
    long v = strtol(text, &end, 10);
    if (!*text || *end || v < 1) return false;
    *out = v;
    return true;
}

bool parseDegrees(const char* text, double* outRad) {
    char* end = nullptr;
    double v = strtod(text, &end);
    if (!*text || *end || !std::isfinite(v) || v < 0.0) return false;
    *outRad = v * 3.14159265358979323846 / 180.0;
    return true;
}

std::string besideSelf(const char* name) {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) return std::string("./") + name;
    self[n] = '\0';
    std::string path(self);
    size_t slash = path.rfind('/');
    return path.substr(0, slash + 1) + name;
}

// dlopen searches the system's folders for a name without "/"; the host means a path.
std::string asPath(const std::string& name) {
    char resolved[PATH_MAX];
    if (realpath(name.c_str(), resolved)) return resolved;
    return name.find('/') == std::string::npos ? "./" + name : name;
}

}  // namespace

// The machine-position check the library looks up in its host by name: a tool axis within the tilt
// limit is reachable, every position when no limit was given.
extern "C" __attribute__((visibility("default"))) int kvMachinePositionValid(double, double, double, double,
                                                                             double, double k, double,
                                                                             double*) {
    if (maxTiltRad < 0.0) return 1;
    return std::acos(std::fmax(-1.0, std::fmin(1.0, k))) <= maxTiltRad ? 1 : 0;
}

int main(int argc, char** argv) {
    std::string lib;
    const char* dir = nullptr;
    const char* rawName = nullptr;
    long runs = 1;
    Host host;
    int i = 1;
    for (; i < argc && strncmp(argv[i], "--", 2) == 0; ++i) {
        std::string opt = argv[i];
        if (opt == "--") {
            ++i;
            break;
        }
        if (opt == "--help") {
            usage(stdout);
            return 0;
        }
        if (i + 1 >= argc) {
            fprintf(stderr, "kvhost: %s needs a value\n", opt.c_str());
            usage(stderr);
            return 2;
        }
        const char* value = argv[++i];
        if (opt == "--lib") {
            lib = value;
        } else if (opt == "--dir") {
            dir = value;
        } else if (opt == "--raw") {
            rawName = value;
        } else if (opt == "--runs" && parseCount(value, &runs)) {
        } else if (opt == "--cancel-at" && parseCount(value, &host.cancelAt)) {
        } else if (opt == "--nest-at" && parseCount(value, &host.nestAt)) {
        } else if (opt == "--max-tilt" && parseDegrees(value, &maxTiltRad)) {
        } else {
            fprintf(stderr, "kvhost: bad option %s %s\n", opt.c_str(), value);
            usage(stderr);
            return 2;
        }
    }
    std::vector<char*> cycleArgs(argv + i, argv + argc);
    cycleArgs.push_back(nullptr);

    lib = lib.empty() ? besideSelf("libkvcycles.so") : asPath(lib);
    void* handle = dlopen(lib.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        fprintf(stderr, "kvhost: cannot load %s: %s\n", lib.c_str(), dlerror());
        return 3;
    }
    auto getCycle = reinterpret_cast<GetCycleFn>(dlsym(handle, "kvCSgetCycle"));
    auto execCycle = reinterpret_cast<ExecCycleFn>(dlsym(handle, "kvCSexecCycle"));
    host.setSignal = reinterpret_cast<SetSignalFn>(dlsym(handle, "kvCSsetSignal"));
    auto getSignal = reinterpret_cast<GetSignalFn>(dlsym(handle, "kvCSgetSignal"));
    if (!getCycle || !execCycle || !host.setSignal || !getSignal) {
        fprintf(stderr, "kvhost: %s lacks an entry of the host interface\n", lib.c_str());
        dlclose(handle);
        return 3;
    }
    printf("library: %s\n", lib.c_str());
    KvCycle* cycle = getCycle();
    if (!cycle) {
        fprintf(stderr, "kvhost: the library hands out no cycle\n");
        dlclose(handle);
        return 3;
    }
    printf("cycle: obtained\n");
    fflush(stdout);

    if (dir && chdir(dir) != 0) {
        fprintf(stderr, "kvhost: cannot enter %s\n", dir);
        dlclose(handle);
        return 2;
    }
    if (rawName && !(host.raw = fopen(rawName, "wb"))) {
        fprintf(stderr, "kvhost: cannot write %s\n", rawName);
        dlclose(handle);
        return 2;
    }

    PairData pairs[3] = {{&host, 1}, {&host, 2}, {&host, 3}};
    HostCallbacks callbacks = {onRecord, &pairs[0], onRecord, &pairs[1], onRecord, &pairs[2]};
    host.execCycle = execCycle;
    host.args = &cycleArgs;
    host.hostCallbacks = &callbacks;
    // An empty argument vector asks for the version and help modes: no phase runs and the status
    // word is left as it was, so it says nothing of this run.
    const bool infoOnly = cycleArgs.size() == 1;
    if (infoOnly) printf("no cycle arguments: the cycle shows its version and help only, no main run\n");
    int exitCode = 0;
    for (long run = 1; run <= runs; ++run) {
        host.callbacks = 0;
        // The library keeps a cancel in the signal word until the host clears it: left at 100 from a
        // cancelled run it would stop this run at its first poll.
        host.setSignal(cycle, 0);
        int32_t started =
            execCycle(cycle, static_cast<int32_t>(cycleArgs.size() - 1), cycleArgs.data(), &callbacks);
        if (infoOnly) {
            printf("run %ld: started=%d information run records=%ld\n", run, static_cast<int>(started),
                   host.callbacks);
            fflush(stdout);
            exitCode = started ? 0 : 1;
            continue;
        }
        int32_t status = getSignal(cycle);
        printf("run %ld: started=%d status=%d records=%ld\n", run, static_cast<int>(started),
               static_cast<int>(status), host.callbacks);
        fflush(stdout);
        // A run that did not start has no outcome of its own: the status word is
        // then a previous run's, and must not pass for success.
        exitCode = started ? status : 1;
    }
    if (host.raw) fclose(host.raw);
    dlclose(handle);
    return exitCode;
}
