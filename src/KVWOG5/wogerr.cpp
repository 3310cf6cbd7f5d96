#include "KVWOG5/wogerr.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "KVWOG5/lists.h"
#include "kernel/base/rng.h"
#include "kernel/base/runreset.h"
#include "platform/critsec.h"
#include "platform/debugfiles.h"

namespace {

// Where logs and temporary names go.
const char kOutDir[] = "./";
const char kTempNameSection[] = "wogTempName";
const char kRandSeedSection[] = "wogRandSeed";
const char kRandNextSection[] = "wogRandNext";

const uint32_t kLcgA = 7141, kLcgC = 54773, kLcgM = 259200;
constexpr int kTempNameTries = 200;

WogErrorState gState = {0, 0, "", 0, 1};
// Seeding and drawing take different sections; atomic so that they cannot tear the seed.
std::atomic<uint32_t> gSeed{1};
// The temporary names' own draws, guarded by the name search's section; they never disturb a run's.
Rng gTempNames = {1u};

}  // namespace

int wogErrorPrint(FILE* stream) {
    if (!stream) return 0;
    std::fprintf(stream, "code = %d, line = %d, file = %s\n", gState.code, gState.line, gState.file);
    std::fflush(stream);
    return 0;
}

int wogError(int32_t code, const char* file, int32_t line) {
    gState.line = line;
    gState.code = code;
    std::snprintf(gState.file, sizeof gState.file, "%s", file ? file : "");
    if (code < 0 && wogDebugEnabled()) {
        std::string path = std::string(kOutDir) + "/wogerrno.txt";
        if (FILE* f = std::fopen(path.c_str(), "a+")) {
            wogErrorPrint(f);
            std::fclose(f);
        }
    }
    return 0;
}

int wogWarning(const char* text) {
    int32_t previous = gState.code;
    wogError(-1, text, 0);
    gState.code = previous;
    return 0;
}

int wogErrorReset() {
    gState.code = 0;
    gState.line = 0;
    std::snprintf(gState.file, sizeof gState.file, "EMPTY");
    return 0;
}

const WogErrorState* wogErrorState() {
    return &gState;
}

const char* wogDebugInfoPath() {
    const char* env = std::getenv(kWogDebugInfoEnv);
    return env && *env ? env : kWogDebugInfoFile;
}

int wogDebugEnabled() {
    if (!gState.firstCall) return gState.debug;
    gState.firstCall = 0;
    if (FILE* f = std::fopen(wogDebugInfoPath(), "r")) {
        char buf[50];
        while (std::fgets(buf, sizeof buf, f))
            if (std::strstr(buf, "DEBUG") && std::strchr(buf, '1')) gState.debug = 1;
        std::fclose(f);
    }
    return gState.debug;
}

int makeUniqueTempName(char* out, size_t outSize, const char* suffix) {
    if (!out || outSize == 0) return -1;
    out[0] = '\0';
    CritSecGuard guard(kTempNameSection);
    std::string name;
    bool made = false;
    for (int tries = 0; tries < kTempNameTries && !made; tries++) {
        // Two draws of the library's own generator: the host's rand() is not ours to reseed or draw from.
        const uint32_t draw =
            static_cast<uint32_t>(rngStep(&gTempNames)) << 15 | static_cast<uint32_t>(rngStep(&gTempNames));
        char hex[16];
        std::snprintf(hex, sizeof hex, "/%x", static_cast<unsigned>(draw));
        name = std::string(kOutDir) + hex + (suffix ? suffix : "");
        if (name.size() >= outSize) return -1;
        // The name is taken by creating it: no other process can take it meanwhile, and no file or link
        // that is there already is ever written through.
        const int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0600);
        if (fd >= 0) {
            close(fd);
            made = true;
        } else if (errno != EEXIST) {
            break;  // the folder takes no new file: no other name would do better
        }
    }
    std::memcpy(out, name.c_str(), name.size() + 1);
    return made ? 1 : 0;
}

void wogRandSeed(uint32_t value) {
    CritSecGuard guard(kRandSeedSection);
    gSeed.store(value % kLcgM, std::memory_order_relaxed);
}

double wogRandNext() {
    CritSecGuard guard(kRandNextSection);
    uint32_t next = (kLcgA * gSeed.load(std::memory_order_relaxed) + kLcgC) % kLcgM;
    gSeed.store(next, std::memory_order_relaxed);
    return static_cast<double>(next) / kLcgM;
}

int pickRandomStart(StartCandList* list, int32_t seedValue) {
    if (!list || !list->data || list->count < 2) return 0;
    wogRandSeed(static_cast<uint32_t>(seedValue));
    int32_t k = 0;
    while (k == 0) k = static_cast<int32_t>(wogRandNext() * list->count);
    memSwap(&list->data[0], &list->data[k], sizeof(Seg2D));
    list->cursor = 0;
    list->reservedValue = 0.0;
    return 1;
}

int memSwap(void* a, void* b, size_t size) {
    if (!a || !b) return 0;
    unsigned char* p = static_cast<unsigned char*>(a);
    unsigned char* q = static_cast<unsigned char*>(b);
    for (size_t i = 0; i < size; i++) {
        unsigned char t = p[i];
        p[i] = q[i];
        q[i] = t;
    }
    return 1;
}

void wogResetState() {
    gState = WogErrorState{0, 0, "", 0, 1};
    gSeed.store(1, std::memory_order_relaxed);
    gTempNames = {1u};
}
static const LoadReset gLoadReset(kRunResetOffsets, "wog", wogResetState);
