// ASCII and binary STL readers.
#include "surfaces/meshfiles/stl.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "surfaces/meshfiles/lebytes.h"

namespace {

constexpr size_t kKindProbe = 1024;
constexpr long long kAsciiFirstCapacity = 1 << 20;

struct FileCloser {
    FILE* fp;
    ~FileCloser() {
        if (fp != nullptr) std::fclose(fp);
    }
};

bool contains(const char* data, size_t n, const char* word) {
    const size_t w = std::strlen(word);
    for (size_t i = 0; i + w <= n; ++i) {
        if (std::memcmp(data + i, word, w) == 0) return true;
    }
    return false;
}

float getF32(const uint8_t* at, bool swapped) {
    if (!swapped) return leGetF32(at);
    const uint8_t r[4] = {at[3], at[2], at[1], at[0]};
    return leGetF32(r);
}

// The byte order is fixed per file: one loop per order keeps the test out of the field reads.
template <bool kSwapped>
bool appendRecords(TriList* list, const uint8_t* records, size_t n) {
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* rec = records + i * kStlRecordBytes;
        Triangle3D t;
        for (int v = 0; v < 3; ++v) {
            const uint8_t* at = rec + 12 + 12 * v;
            t.p[v] = Vec3{getF32(at, kSwapped), getF32(at + 4, kSwapped), getF32(at + 8, kSwapped)};
        }
        if (triListAdd(list, &t) < 0) return false;
    }
    return true;
}

bool unitLength(float x, float y, float z) {
    return std::fabs(x * x + y * y + z * z - 1.0f) < 1e-3f;
}

// A normal read in the wrong byte order is rarely of length below about 1.4. Many unit normals
// read swapped still look small (their low bytes become tiny exponents), so a first normal that
// is a unit vector only when swapped also marks a big-endian file.
bool swappedOrder(const uint8_t* record) {
    const float x = leGetF32(record), y = leGetF32(record + 4), z = leGetF32(record + 8);
    if (std::fabs(x) > 2.0f || std::fabs(y) > 2.0f || std::fabs(z) > 2.0f) return true;
    if (x * x + y * y + z * z > 2.0f) return true;
    const float sx = getF32(record, true), sy = getF32(record + 4, true), sz = getF32(record + 8, true);
    return !unitLength(x, y, z) && unitLength(sx, sy, sz);
}

// One line piece of at most kStlLineMax - 1 characters, CR removed; false at the end of the file.
bool readLine(FILE* fp, char* line) {
    if (std::fgets(line, kStlLineMax, fp) == nullptr) return false;
    char* w = line;
    for (const char* r = line; *r != '\0'; ++r) {
        if (*r != '\r' && *r != '\n') *w++ = *r;
    }
    *w = '\0';
    return true;
}

// The first word of a line and whether a second follows; false for a line without a word.
bool firstWord(const char* line, char* word, bool* more) {
    const char* p = line;
    while (*p == ' ' || *p == '\t') ++p;
    if (*p == '\0') return false;
    size_t n = 0;
    while (*p != '\0' && *p != ' ' && *p != '\t') word[n++] = *p++;
    word[n] = '\0';
    while (*p == ' ' || *p == '\t') ++p;
    *more = *p != '\0';
    return true;
}

// The next line that holds a word; false at the end of the file.
bool nextWordLine(FILE* fp, char* line) {
    char word[kStlLineMax];
    bool more = false;
    while (readLine(fp, line)) {
        if (firstWord(line, word, &more)) return true;
    }
    return false;
}

}  // namespace

int stl_is_binary(const char* name) {
    if (name == nullptr || name[0] == '\0') return -1;
    FileCloser f{std::fopen(name, "rb")};
    if (f.fp == nullptr) return -1;
    char probe[kKindProbe];
    const size_t n = std::fread(probe, 1, sizeof probe, f.fp);
    const bool ascii = n >= 5 && std::memcmp(probe, "solid", 5) == 0 && contains(probe, n, "facet") &&
                       contains(probe, n, "normal");
    return ascii ? 0 : 1;
}

TriList* stl_read_binary(const char* name) {
    if (name == nullptr || name[0] == '\0') return nullptr;
    FileCloser f{std::fopen(name, "rb")};
    if (f.fp == nullptr) return nullptr;
    uint8_t header[kStlHeaderBytes];
    if (std::fread(header, 1, sizeof header, f.fp) != sizeof header) return nullptr;
    if (std::fseek(f.fp, 0, SEEK_END) != 0) return nullptr;
    const long long size = ftello(f.fp);
    if (size < kStlHeaderBytes || std::fseek(f.fp, kStlHeaderBytes, SEEK_SET) != 0) return nullptr;
    const long long records = (size - kStlHeaderBytes) / kStlRecordBytes;
    if (records > INT32_MAX) return nullptr;
    TriList* list = triListCreate(static_cast<int32_t>(records));
    if (list == nullptr) return nullptr;
    constexpr size_t kChunk = 4096;
    // Short of memory, the read fails like any other: no list, nothing held.
    std::vector<uint8_t> buf;
    try {
        buf.resize(kChunk * kStlRecordBytes);
    } catch (const std::bad_alloc&) {
        triListFree(list);
        return nullptr;
    }
    bool swapped = false;
    bool first = true;
    for (;;) {
        const size_t got = std::fread(buf.data(), kStlRecordBytes, kChunk, f.fp);
        if (got > 0 && first) {
            swapped = swappedOrder(buf.data());
            first = false;
        }
        const bool added = swapped ? appendRecords<true>(list, buf.data(), got)
                                   : appendRecords<false>(list, buf.data(), got);
        if (!added) {
            triListFree(list);
            return nullptr;
        }
        if (got < kChunk) break;
    }
    return list;
}

TriList* stl_read_ascii(const char* name) {
    if (name == nullptr || name[0] == '\0') return nullptr;
    FileCloser f{std::fopen(name, "rb")};
    if (f.fp == nullptr) return nullptr;
    char line[kStlLineMax];
    long long lines = 0;
    while (std::fgets(line, kStlLineMax, f.fp) != nullptr) ++lines;
    if (std::fseek(f.fp, 0, SEEK_SET) != 0) return nullptr;
    // Lines are not facets (blank or foreign lines count too): the first block is capped, the list
    // grows with the facets actually read.
    const long long capacity = lines / 7;
    TriList* list =
        triListCreate(static_cast<int32_t>(capacity > kAsciiFirstCapacity ? kAsciiFirstCapacity : capacity));
    if (list == nullptr) return nullptr;
    char word[kStlLineMax];
    bool more = false;
    while (readLine(f.fp, line)) {
        // Blank lines between facets are common in hand-edited files; they end nothing.
        if (!firstWord(line, word, &more)) continue;
        if (std::strcmp(word, "end") == 0 && !more) break;
        if (std::strcmp(word, "facet") != 0) continue;
        if (!nextWordLine(f.fp, line)) break;  // the outer loop line
        Triangle3D t;
        bool complete = true;
        for (int v = 0; v < 3 && complete; ++v) {
            if (!nextWordLine(f.fp, line)) {
                complete = false;
                break;
            }
            char tag[kStlLineMax];
            double x, y, z;
            if (std::sscanf(line, "%127s %lf %lf %lf", tag, &x, &y, &z) < 4) {
                triListFree(list);
                return nullptr;
            }
            t.p[v] = Vec3{x, y, z};
        }
        if (!complete) break;
        if (triListAdd(list, &t) < 0) {
            triListFree(list);
            return nullptr;
        }
        if (!nextWordLine(f.fp, line) || !nextWordLine(f.fp, line)) break;  // endloop, endfacet
    }
    return list;
}

TriList* stl_read(const char* name) {
    if (name == nullptr || name[0] == '\0') return nullptr;
    return stl_is_binary(name) == 1 ? stl_read_binary(name) : stl_read_ascii(name);
}
