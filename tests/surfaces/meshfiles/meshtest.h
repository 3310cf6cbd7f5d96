// Helpers of the mesh-file tests: a private temporary folder, raw file bytes, seeded coordinates
// and independent byte access (memcpy on this little-endian host).
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "KVWOG5/lists.h"
#include "kernel/base/rng.h"

// A namespace of their own: one test binary links these beside other families' helpers.
namespace meshtest {

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/kvmeshXXXXXX";
        const char* made = mkdtemp(tmpl);
        path = made != nullptr ? made : "";
    }
    ~TempDir() {
        if (!path.empty()) std::filesystem::remove_all(path);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
};

inline void writeBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (f == nullptr) return;
    if (!bytes.empty()) std::fwrite(bytes.data(), 1, bytes.size(), f);
    std::fclose(f);
}

inline void writeTextFile(const std::string& name, const std::string& text) {
    writeBytes(name, std::vector<uint8_t>(text.begin(), text.end()));
}

inline std::vector<uint8_t> readBytes(const std::string& name) {
    std::vector<uint8_t> out;
    FILE* f = std::fopen(name.c_str(), "rb");
    if (f == nullptr) return out;
    for (int c = std::fgetc(f); c != EOF; c = std::fgetc(f)) out.push_back(static_cast<uint8_t>(c));
    std::fclose(f);
    return out;
}

template <typename T>
T rawAt(const std::vector<uint8_t>& bytes, size_t at) {
    T v{};
    if (at + sizeof(T) <= bytes.size()) std::memcpy(&v, bytes.data() + at, sizeof v);
    return v;
}

template <typename T>
void rawPut(std::vector<uint8_t>& bytes, size_t at, T v) {
    if (at + sizeof(T) > bytes.size()) bytes.resize(at + sizeof(T));
    std::memcpy(bytes.data() + at, &v, sizeof v);
}

inline double seededIn(Rng* rng, double lo, double hi) {
    return lo + (hi - lo) * (rngStep(rng) / (kRngMax + 1.0));
}

// The triangle turned so that its highest vertex (the earliest of equal ones) comes first, as the
// mesh loaders store it.
inline Triangle3D topFirst(const Triangle3D& t) {
    int top = 0;
    for (int k = 1; k < 3; ++k)
        if (t.p[k].z > t.p[top].z) top = k;
    return Triangle3D{{t.p[top], t.p[(top + 1) % 3], t.p[(top + 2) % 3]}};
}

inline std::string kvxText(const std::string& records) {
    return "kVX-Exchange-File\nkVX-Version: 1.0\nthird line\nfourth line\n" + records;
}

}  // namespace meshtest
using namespace meshtest;
