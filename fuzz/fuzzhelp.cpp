#include "fuzzhelp.h"

#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

std::string gFolder;

void removeFolder() {
    std::error_code ignored;
    if (!gFolder.empty()) std::filesystem::remove_all(gFolder, ignored);
}

}  // namespace

std::string fuzzPrivateFolder() {
    if (gFolder.empty()) {
        const char* base = getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/kvfuzz.XXXXXX";
        if (!mkdtemp(pattern.data())) fuzzFail("cannot make a private folder");
        gFolder = pattern;
        atexit(removeFolder);
    }
    return gFolder;
}

std::string fuzzWriteFile(const char* name, const uint8_t* data, size_t size) {
    std::string path = fuzzPrivateFolder() + "/" + name;
    FILE* f = fopen(path.c_str(), "wb");
    if (!f) fuzzFail("cannot write the input file");
    bool ok = size == 0 || fwrite(data, 1, size, f) == size;
    if (fclose(f) != 0 || !ok) fuzzFail("cannot write the input file");
    return path;
}

void fuzzFail(const char* what) {
    fprintf(stderr, "fuzz invariant failed: %s\n", what);
    fflush(stderr);
    abort();
}
