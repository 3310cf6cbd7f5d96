// Run-time loading of the mesh conversion libraries.
#include "surfaces/Implib/meshlib.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/module.h"

std::string meshLibPath(const char* folder, const char* name) {
    if (folder != nullptr && folder[0] != '\0' && folder[0] != ' ') {
        std::string path = folder;
        const char last = path.back();
        if (last != '/' && last != '\\') path += '/';
        return path + name;
    }
    // The host's own folder, where the cycle library's companions are installed.
    return moduleDirectory() + name;
}

namespace {

template <typename Fn, typename Call>
int callEntry(const char* folder, const char* library, const char* entry, Call call) {
    const std::string path = meshLibPath(folder, library);
    void* handle = moduleLoad(path.c_str());
    if (handle == nullptr) return -1;
    auto fn = reinterpret_cast<Fn>(moduleEntry(handle, entry));
    const int result = fn != nullptr ? call(fn) : -1;
    moduleUnload(handle);
    return result;
}

}  // namespace

namespace {

// A conversion written while kept: what it was made from and the file it wrote.
struct Conversion {
    std::string library;
    int64_t librarySize, libraryTime;
    std::vector<char> input;
    double tolerance;
    int result;
    std::vector<char> output;
};

bool gKeep = false;
std::vector<Conversion> gConversions;

bool readWhole(const char* name, std::vector<char>* bytes) {
    std::FILE* f = name != nullptr ? std::fopen(name, "rb") : nullptr;
    if (f == nullptr) return false;
    bytes->clear();
    // The room the file's size asks for is taken once (a converted mesh runs to tens of megabytes:
    // growing by chunks copied it over and over); whatever the file holds beyond it is appended.
    struct stat st {};
    if (fstat(fileno(f), &st) == 0 && st.st_size > 0) {
        bytes->resize(static_cast<size_t>(st.st_size));
        bytes->resize(std::fread(bytes->data(), 1, bytes->size(), f));
    }
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes->insert(bytes->end(), buf, buf + n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

bool writeWhole(const char* name, const std::vector<char>& bytes) {
    std::FILE* f = std::fopen(name, "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && ok;
}

// Everything the conversion depends on; false when the library or the input cannot be read (then
// nothing is remembered and the library decides).
bool conversionKey(const char* input, const char* folder, double tolerance, Conversion* key) {
    key->library = meshLibPath(folder, kKvx3dfDllName);
    struct stat st {};
    if (stat(key->library.c_str(), &st) != 0) return false;
    key->librarySize = st.st_size;
    key->libraryTime = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    key->tolerance = tolerance;
    return readWhole(input, &key->input);
}

const Conversion* findConversion(const Conversion& key) {
    for (const Conversion& c : gConversions)
        if (c.library == key.library && c.librarySize == key.librarySize &&
            c.libraryTime == key.libraryTime &&
            std::memcmp(&c.tolerance, &key.tolerance, sizeof c.tolerance) == 0 && c.input == key.input)
            return &c;
    return nullptr;
}

}  // namespace

void meshLibKeepConversions(int on) {
    gKeep = on != 0;
    if (!gKeep) std::vector<Conversion>().swap(gConversions);
}

void meshLibResetState() {
    meshLibKeepConversions(0);
}

int loadMeshHelperLib(const char* input, const char* output, const char* folder, double tolerance) {
    Conversion key;
    const bool keyed =
        gKeep && input != nullptr && output != nullptr && conversionKey(input, folder, tolerance, &key);
    if (keyed)
        if (const Conversion* done = findConversion(key); done != nullptr && writeWhole(output, done->output))
            return done->result;
    const int result =
        callEntry<FacetKvxFileFn>(folder, kKvx3dfDllName, "facet_kvx_file",
                                  [&](FacetKvxFileFn fn) { return fn(input, tolerance, output, 100); });
    if (keyed && result >= 0 && readWhole(output, &key.output)) {
        key.result = result;
        gConversions.push_back(std::move(key));
    }
    return result;
}

int kvx_to_facets(const char* input, const char* output, const char* folder, double tolerance) {
    return callEntry<FacetKvxFile2Fn>(folder, kKvx3dfMtName, "facet_kvx_file2", [&](FacetKvxFile2Fn fn) {
        return fn(input, tolerance, output, 111, 1);
    });
}
