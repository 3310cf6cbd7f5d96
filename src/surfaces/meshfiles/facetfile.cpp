// Layout-1 and layout-2 facet files behind one slot each; whole-file reading; the mesh writer.
#include "surfaces/meshfiles/facetfile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "geometry/frames.h"
#include "kernel/base/runreset.h"
#include "surfaces/meshfiles/lebytes.h"

namespace {

// Large stream buffers: facet files run to hundreds of megabytes.
constexpr size_t kStreamBuffer = 1 << 20;

struct Slot {
    FILE* fp = nullptr;
    int handle = 0;  // 0 when free
    int mode = 0;
    std::unique_ptr<char[]> buffer;  // left uninitialised: stdio fills it before use
};

struct RunningBox {
    double min[3];
    double max[3];
    bool valid;
};

Slot g_slot1;
Slot g_slot2;
RunningBox g_box{};

void releaseSlot(Slot& slot) {
    slot.fp = nullptr;
    slot.handle = 0;
    slot.mode = 0;
    slot.buffer.reset();
}

// Closes the stream and frees the slot; false when the close failed (data may be lost).
bool closeSlot(Slot& slot) {
    const bool ok = slot.fp == nullptr || std::fclose(slot.fp) == 0;
    releaseSlot(slot);
    return ok;
}

// A file being read needs no buffer larger than itself: small files are common and a megabyte per
// open dominated reading them. A reader that takes the records past the stream asks for less.
void attachBuffer(Slot& slot, size_t bytes = kStreamBuffer) {
    struct stat info;
    if (slot.mode == kFacetRead && fstat(fileno(slot.fp), &info) == 0 && info.st_size >= 0 &&
        static_cast<unsigned long long>(info.st_size) < bytes) {
        bytes = std::max<size_t>(static_cast<size_t>(info.st_size) + 1, 4096);
    }
    // Short of memory the stream keeps a buffer of its own: slower, not wrong.
    slot.buffer.reset(new (std::nothrow) char[bytes]);
    if (slot.buffer) std::setvbuf(slot.fp, slot.buffer.get(), _IOFBF, bytes);
}

void widenBox(const Facet98* facet, int points = 4) {
    for (int k = 0; k < points; ++k) {
        const double c[3] = {facet->p[k].x, facet->p[k].y, facet->p[k].z};
        for (int a = 0; a < 3; ++a) {
            if (c[a] < g_box.min[a]) g_box.min[a] = c[a];
            if (c[a] > g_box.max[a]) g_box.max[a] = c[a];
        }
    }
}

long long fileLength(FILE* fp) {
    if (std::fseek(fp, 0, SEEK_END) != 0) return -1;
    return ftello(fp);
}

// Rewrites count, matrix and (when facets were written after a header) box and centre.
int rewriteHeader(Slot& slot) {
    uint8_t header[kFacetHeader1Bytes];
    if (std::fflush(slot.fp) != 0 || std::fseek(slot.fp, 0, SEEK_SET) != 0 ||
        std::fread(header, 1, sizeof header, slot.fp) != sizeof header) {
        return kFacetIoError;
    }
    const long long length = fileLength(slot.fp);
    if (length < kFacetHeader1Bytes) return kFacetIoError;
    const long long count = (length - kFacetHeader1Bytes) / kFacet98Bytes;
    if (count > INT32_MAX) return kFacetIoError;
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c)
            lePutF64(header + kFacetHeaderMatrixAt + 8 * (4 * r + c), r == c ? 1.0 : 0.0);
    }
    if (g_box.valid) {
        for (int a = 0; a < 3; ++a) {
            lePutF64(header + 4 + 8 * a, g_box.min[a]);
            lePutF64(header + 28 + 8 * a, g_box.max[a]);
            lePutF64(header + 52 + 8 * a, g_box.min[a]);
            lePutF64(header + 76 + 8 * a, g_box.max[a]);
        }
        // Compared in single precision: the version is stored as a float, and 1.9 itself qualifies.
        if (leGetF32(header) >= 1.9f) {
            for (int a = 0; a < 3; ++a) {
                lePutF64(header + kFacetHeaderCentreAt + 8 * a, (g_box.min[a] + g_box.max[a]) / 2.0);
            }
        }
    }
    lePutU32(header + kFacetHeaderCountAt, static_cast<uint32_t>(count));
    if (std::fseek(slot.fp, 0, SEEK_SET) != 0 ||
        std::fwrite(header, 1, sizeof header, slot.fp) != sizeof header) {
        return kFacetIoError;
    }
    return static_cast<int>(count);
}

// Reads n whole records straight into the list's memory (the record has its file size), then
// decodes each in place and widens the list's box; false on a short read.
bool readRecords(FILE* fp, FacetList* list, size_t n) {
    constexpr size_t kChunk = 1 << 16;
    uint8_t* bytes = reinterpret_cast<uint8_t*>(list->data);
    for (size_t done = 0; done < n;) {
        const size_t want = n - done < kChunk ? n - done : kChunk;
        if (std::fread(bytes + done * kFacet98Bytes, kFacet98Bytes, want, fp) != want) return false;
        done += want;
    }
    double lo[3] = {list->xmin, list->ymin, list->zmin}, hi[3] = {list->xmax, list->ymax, list->zmax};
    for (size_t i = 0; i < n; ++i) {
        uint8_t record[kFacet98Bytes];
        std::memcpy(record, bytes + i * kFacet98Bytes, sizeof record);
        Facet98* f = list->data + i;
        facet98Decode(record, f);
        for (int k = 0; k < 4; ++k) {
            const Vec3 p = f->p[k];
            const double c[3] = {p.x, p.y, p.z};
            for (int a = 0; a < 3; ++a) {
                if (c[a] < lo[a]) lo[a] = c[a];
                if (c[a] > hi[a]) hi[a] = c[a];
            }
        }
    }
    list->count = static_cast<int32_t>(n);
    list->xmin = lo[0], list->ymin = lo[1], list->zmin = lo[2];
    list->xmax = hi[0], list->ymax = hi[1], list->zmax = hi[2];
    return true;
}

}  // namespace

namespace {

// The slot holds the opened file from now on.
void takeFile(Slot& slot, FILE* fp, int mode, size_t buffer) {
    slot.fp = fp;
    slot.handle = 1;
    slot.mode = mode;
    attachBuffer(slot, buffer);
}

int openSlot1(const char* name, int mode, size_t buffer) {
    if (mode < kFacetRead || mode > kFacetAppend) return kFacetWrongMode;
    if (g_slot1.handle != 0) return kFacetWrongHandle;
    if (name == nullptr || name[0] == '\0') return kFacetIoError;
    FILE* fp = nullptr;
    if (mode == kFacetRead) {
        fp = std::fopen(name, "rb");
    } else {
        if (mode == kFacetCreate) {
            FILE* create = std::fopen(name, "wb");
            if (create == nullptr || std::fclose(create) != 0) return kFacetIoError;
        }
        fp = std::fopen(name, "r+b");
        if (fp != nullptr && mode == kFacetAppend && std::fseek(fp, 0, SEEK_END) != 0) {
            std::fclose(fp);
            fp = nullptr;
        }
    }
    if (fp == nullptr) return kFacetIoError;
    takeFile(g_slot1, fp, mode, buffer);
    g_box.valid = false;
    return 1;
}

int openSlot2(const char* name, int mode, size_t buffer) {
    if (mode != kFacetRead) return kFacetWrongMode;
    if (g_slot2.handle != 0) return kFacetWrongHandle;
    if (name == nullptr || name[0] == '\0') return kFacetIoError;
    FILE* fp = std::fopen(name, "rb");
    if (fp == nullptr) return kFacetIoError;
    takeFile(g_slot2, fp, mode, buffer);
    return 1;
}

}  // namespace

int facetFileOpen(const char* name, int mode) {
    return openSlot1(name, mode, kStreamBuffer);
}

int facetFileWriteHeader(int handle, const uint8_t header[kFacetHeader1Bytes]) {
    if (handle == 0 || handle != g_slot1.handle) return kFacetWrongHandle;
    if (g_slot1.mode != kFacetCreate) return kFacetWrongMode;
    if (header == nullptr) return kFacetIoError;
    if (std::fwrite(header, 1, kFacetHeader1Bytes, g_slot1.fp) != kFacetHeader1Bytes) return kFacetIoError;
    for (int a = 0; a < 3; ++a) {
        g_box.min[a] = 1e6;
        g_box.max[a] = -1e6;
    }
    g_box.valid = true;
    return kFacetOk;
}

int facetFileReadHeader(int handle, uint8_t header[kFacetHeader1Bytes]) {
    if (handle == 0 || handle != g_slot1.handle) return kFacetWrongHandle;
    if (g_slot1.mode != kFacetRead) return kFacetWrongMode;
    if (header == nullptr) return kFacetIoError;
    return std::fread(header, 1, kFacetHeader1Bytes, g_slot1.fp) == kFacetHeader1Bytes ? kFacetOk
                                                                                       : kFacetIoError;
}

int facetFileReadFacet(int handle, Facet98* facet) {
    if (handle == 0 || handle != g_slot1.handle) return kFacetWrongHandle;
    if (g_slot1.mode != kFacetRead) return kFacetWrongMode;
    return facet98Read(g_slot1.fp, facet) == 0 ? kFacetOk : kFacetIoError;
}

int facetFileWriteFacet(int handle, const Facet98* facet) {
    if (handle == 0 || handle != g_slot1.handle) return kFacetWrongHandle;
    if (g_slot1.mode != kFacetCreate && g_slot1.mode != kFacetAppend) return kFacetWrongMode;
    if (facet98Write(g_slot1.fp, facet) != 0) return kFacetIoError;
    if (g_box.valid) widenBox(facet);
    return kFacetOk;
}

int facetFileClose(int handle) {
    if (handle == 0 || handle != g_slot1.handle) return kFacetWrongMode;
    if (g_slot1.mode == kFacetRead || g_slot1.mode == kFacetUpdate) {
        closeSlot(g_slot1);
        return kFacetOk;
    }
    const int count = rewriteHeader(g_slot1);
    // The slot is freed whatever happened: a failed close must not block the next file.
    const bool closed = closeSlot(g_slot1);
    g_box.valid = false;
    if (count < 0 || !closed) return kFacetIoError;
    return count;
}

int facetFileReadVersion(const char* name, double* version) {
    if (name == nullptr || version == nullptr) return -1;
    FILE* fp = std::fopen(name, "rb");
    if (fp == nullptr) return -1;
    uint8_t bytes[4];
    const size_t got = std::fread(bytes, 1, sizeof bytes, fp);
    std::fclose(fp);
    if (got != sizeof bytes) return -2;
    *version = static_cast<double>(leGetF32(bytes));
    return 1;
}

int facetFile2Open(const char* name, int mode) {
    return openSlot2(name, mode, kStreamBuffer);
}

int facetFile2ReadHeader(int handle, uint8_t header[kFacetHeader2Bytes]) {
    if (handle == 0 || handle != g_slot2.handle) return kFacetWrongHandle;
    if (g_slot2.mode != kFacetRead || header == nullptr) return kFacetWrongMode;
    // Every field is a run of bytes stored at its own offset: one read is the same field by field.
    return std::fread(header, 1, kFacetHeader2Bytes, g_slot2.fp) == kFacetHeader2Bytes ? kFacetOk
                                                                                       : kFacetWrongMode;
}

int facetFile2ReadFacet(int handle, Facet98* facet) {
    if (handle == 0 || handle != g_slot2.handle) return kFacetWrongHandle;
    if (g_slot2.mode != kFacetRead) return kFacetWrongMode;
    return facet98Read(g_slot2.fp, facet) == 0 ? kFacetOk : kFacetIoError;
}

int facetFile2Close(int handle) {
    if (handle == 0 || handle != g_slot2.handle) return -1;
    uint8_t header[kFacetHeader2Bytes];
    const bool read = std::fseek(g_slot2.fp, 0, SEEK_SET) == 0 &&
                      std::fread(header, 1, sizeof header, g_slot2.fp) == sizeof header;
    closeSlot(g_slot2);
    if (!read) return -1;
    const uint32_t count = leGetU32(header + kFacetHeaderCountAt);
    return count > INT32_MAX ? -1 : static_cast<int>(count);
}

namespace {

// Opens a whole file of either layout at its first record, with the facet count checked against
// what the file holds (before anything is allocated for it): kFacetOk, or the whole-file reader's
// code with nothing left open. `buffer` caps the stream buffer; *at is the first record's offset.
int openRecords(const char* name, bool* layout1, uint32_t* count, size_t buffer = kStreamBuffer,
                long long* at = nullptr) {
    double version = 0.0;
    if (name == nullptr || facetFileReadVersion(name, &version) != 1) return kFacetIoError;
    if (!(version >= 1.0 && version < 3.0)) return kFacetNotFacetFile;
    *layout1 = version < 2.0;
    const int handle = *layout1 ? openSlot1(name, kFacetRead, buffer) : openSlot2(name, kFacetRead, buffer);
    if (handle < 0) return handle;
    Slot& slot = *layout1 ? g_slot1 : g_slot2;
    uint8_t header[kFacetHeader2Bytes];
    const int hr = *layout1 ? facetFileReadHeader(handle, header) : facetFile2ReadHeader(handle, header);
    if (hr == kFacetOk) {
        *count = leGetU32(header + kFacetHeaderCountAt);
        const long long here = ftello(slot.fp);
        const long long length = fileLength(slot.fp);
        const long long room = length > here ? (length - here) / kFacet98Bytes : 0;
        if (*count > 0 && *count <= INT32_MAX && static_cast<long long>(*count) <= room &&
            std::fseek(slot.fp, here, SEEK_SET) == 0) {
            if (at != nullptr) *at = here;
            return kFacetOk;
        }
    }
    if (*layout1)
        facetFileClose(handle);
    else
        facetFile2Close(handle);
    return kFacetNotFacetFile;
}

void closeRecords(bool layout1) {
    if (layout1)
        facetFileClose(g_slot1.handle);
    else
        facetFile2Close(g_slot2.handle);
}

}  // namespace

int facetFileLoad(const char* name, FacetList** out) {
    if (out == nullptr) return kFacetWrongMode;
    *out = nullptr;
    bool layout1 = true;
    uint32_t count = 0;
    const int rc = openRecords(name, &layout1, &count);
    if (rc != kFacetOk) return rc;
    FacetList* list = facetListCreate(static_cast<int32_t>(count));
    FILE* fp = (layout1 ? g_slot1 : g_slot2).fp;
    const int result = list == nullptr                ? -1
                       : readRecords(fp, list, count) ? static_cast<int>(count)
                                                      : kFacetNotFacetFile;
    closeRecords(layout1);
    if (result < 0) {
        facetListFree(list);
        return result;
    }
    *out = list;
    return result;
}

namespace {

// Reads exactly `bytes` at `offset` of the descriptor; false on a short read or an error.
bool readAt(int fd, uint8_t* to, size_t bytes, long long offset) {
    while (bytes > 0) {
        const ssize_t got = pread(fd, to, bytes, static_cast<off_t>(offset));
        if (got <= 0) return false;
        to += got, bytes -= static_cast<size_t>(got), offset += got;
    }
    return true;
}

}  // namespace

int facetFileVisit(const char* name, void* context, FacetCountFn start, FacetBlockFn block) {
    if (start == nullptr || block == nullptr) return kFacetWrongMode;
    bool layout1 = true;
    uint32_t count = 0;
    long long at = 0;
    // The records are read past the stream, straight from the file a block at a time into room that
    // stays in the cache: a megabyte of stream buffer cost a copy more and as many fresh pages.
    constexpr size_t kHeaderBuffer = 4096;
    const int rc = openRecords(name, &layout1, &count, kHeaderBuffer, &at);
    if (rc != kFacetOk) return rc;
    const int fd = fileno((layout1 ? g_slot1 : g_slot2).fp);
    constexpr size_t kBlock = 1024;
    // The records' bytes and the decoded facets in rooms of their own: each record is decoded
    // straight from where it was read.
    std::unique_ptr<Facet98[]> facets(new (std::nothrow) Facet98[kBlock]);
    std::unique_ptr<uint8_t[]> bytes(new (std::nothrow) uint8_t[kBlock * kFacet98Bytes]);
    int result = facets != nullptr && bytes != nullptr && start(context, static_cast<int32_t>(count))
                     ? static_cast<int>(count)
                     : -1;
    for (size_t done = 0; result > 0 && done < count;) {
        const size_t want = std::min<size_t>(count - done, kBlock);
        if (!readAt(fd, bytes.get(), want * kFacet98Bytes,
                    at + static_cast<long long>(done * kFacet98Bytes))) {
            result = kFacetNotFacetFile;
            break;
        }
        for (size_t i = 0; i < want; ++i) facet98Decode(bytes.get() + i * kFacet98Bytes, &facets[i]);
        if (!block(context, facets.get(), static_cast<int32_t>(want))) result = -1;
        done += want;
    }
    closeRecords(layout1);
    return result;
}

namespace {

// Writes all of `bytes` to the descriptor; false on an error.
bool writeAll(int fd, const uint8_t* from, size_t bytes) {
    while (bytes > 0) {
        const ssize_t put = write(fd, from, bytes);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        from += put, bytes -= static_cast<size_t>(put);
    }
    return true;
}

}  // namespace

int polymeshWrite3df(int kind, const TriList* triangles, const Facet98* facets, int32_t facetCount,
                     const char* name) {
    int32_t n = 0;
    const bool triangle = kind == kFacetMeshTriangles || kind == kFacetMeshWorldTriangles;
    if (triangle && triangles != nullptr && triangles->count >= 0) {
        n = triangles->count;
    } else if (kind == kFacetMeshFacets && (facets != nullptr || facetCount == 0) && facetCount >= 0) {
        n = facetCount;
    } else {
        return kFacetWrongMode;
    }
    const bool world = kind == kFacetMeshWorldTriangles;
    const bool mirror = !world && framePairGetFlag(kFramePairMeshes) != 0;
    const int handle = facetFileOpen(name, kFacetCreate);
    if (handle == kFacetIoError) return kFacetWrongMode;  // the file cannot be created
    if (handle < 0) return handle;
    uint8_t header[kFacetHeader1Bytes] = {};
    lePutF32(header, 1.0f);
    int rc = facetFileWriteHeader(handle, header);
    // The records are encoded a block at a time and the blocks go to the file past the stream (the
    // header, already out, is all it holds): one library write per facet cost more than encoding
    // it, and copying every block through the stream buffer as much again.
    if (rc == kFacetOk && std::fflush(g_slot1.fp) != 0) rc = kFacetIoError;
    const int fd = fileno(g_slot1.fp);
    constexpr int32_t kBlock = 640;
    std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kBlock * kFacet98Bytes]);
    if (block == nullptr) rc = kFacetIoError;
    int32_t held = 0;
    for (int32_t i = 0; rc == kFacetOk && i < n; ++i) {
        Facet98 f;
        if (!triangle) {
            f = facets[i];
        } else {
            const Triangle3D& t = triangles->data[i];
            f.p[0] = t.p[0];
            f.p[1] = t.p[1];
            f.p[2] = t.p[2];
            f.p[3] = t.p[2];
        }
        f.flag = 0;
        if (mirror) framePairFacetToM1(&f);
        // A triangle's fourth point repeats its third: the same point maps to the same point and
        // widens the box no further.
        const int points = triangle ? 3 : 4;
        for (int k = 0; !world && k < points; ++k) {
            Vec3 p = f.p[k];
            pointFrameAToWorld(&p);
            f.p[k] = p;
        }
        if (triangle) f.p[3] = f.p[2];
        facet98Encode(&f, block.get() + static_cast<size_t>(held) * kFacet98Bytes);
        if (g_box.valid) widenBox(&f, points);
        if (++held == kBlock || i + 1 == n) {
            if (!writeAll(fd, block.get(), static_cast<size_t>(held) * kFacet98Bytes)) rc = kFacetIoError;
            held = 0;
        }
    }
    if (rc != kFacetOk) {
        facetFileClose(handle);
        return rc;
    }
    return facetFileClose(handle);
}

void facetFileResetState() {
    closeSlot(g_slot1);
    closeSlot(g_slot2);
    g_box.valid = false;
}
static const RunReset gRunReset(kRunResetSurfaces, "facetFile", facetFileResetState);
