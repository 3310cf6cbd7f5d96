// Run-time loading of the mesh conversion libraries.
#include "surfaces/Implib/meshlib.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/sendfile.h>
#include <sys/stat.h>
#include <unistd.h>

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

// A conversion written while kept: what it was made from and the file it wrote. The file's bytes
// are held in an anonymous in-memory file and copied by the kernel both ways: a converted mesh runs
// to tens of megabytes, and reading it into the heap cost as many fresh pages as a copy.
struct Conversion {
    std::string library;
    int64_t librarySize, libraryTime;
    std::vector<char> input;
    double tolerance;
    int result;
    int output = -1;  // descriptor of the held bytes
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

// Copies the rest of `from` to `to`, from `from`'s offset when given, else from its position.
bool copyAll(int to, int from, off_t* offset) {
    for (;;) {
        const ssize_t n = sendfile(to, from, offset, 1 << 30);
        if (n == 0) return true;
        if (n < 0) return false;
    }
}

// A held copy of the named file: its descriptor, or -1.
int holdFile(const char* name) {
    const int in = open(name, O_RDONLY | O_CLOEXEC);
    if (in < 0) return -1;
    int held = memfd_create("kvconversion", MFD_CLOEXEC);
    if (held >= 0 && !copyAll(held, in, nullptr)) {
        close(held);
        held = -1;
    }
    close(in);
    return held;
}

// Writes the held bytes as the named file (created or truncated, as "wb" would).
bool writeHeld(const char* name, int held) {
    const int out = open(name, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (out < 0) return false;
    off_t from = 0;
    const bool ok = copyAll(out, held, &from);
    return close(out) == 0 && ok;
}

void releaseConversions() {
    for (const Conversion& c : gConversions) close(c.output);
    std::vector<Conversion>().swap(gConversions);
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
    if (!gKeep) releaseConversions();
}

int loadMeshHelperLib(const char* input, const char* output, const char* folder, double tolerance) {
    Conversion key;
    const bool keyed =
        gKeep && input != nullptr && output != nullptr && conversionKey(input, folder, tolerance, &key);
    if (keyed)
        if (const Conversion* done = findConversion(key); done != nullptr && writeHeld(output, done->output))
            return done->result;
    const int result =
        callEntry<FacetKvxFileFn>(folder, kKvx3dfDllName, "facet_kvx_file",
                                  [&](FacetKvxFileFn fn) { return fn(input, tolerance, output, 100); });
    if (keyed && result >= 0 && (key.output = holdFile(output)) >= 0) {
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
