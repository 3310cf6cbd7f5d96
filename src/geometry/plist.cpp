// Parametrised point lists: creation, growth, ordered insertion, evaluation and queries.
#include "geometry/plist.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "kernel/base/runreset.h"

namespace {

constexpr double kTol = 1e-5;
const Vec3 kDefaultVector{0.0, 0.0, 1.0};

int32_t splitIndex = -1;

uint16_t storedFlag(uint16_t flag) {
    return (flag >> 8) == kPointLink ? static_cast<uint16_t>(kPointLink << 8) : flag;
}

template <typename T>
T* allocArray(int32_t n) {
    // One element at least, so that a list of capacity 0 still owns valid arrays.
    return static_cast<T*>(std::calloc(static_cast<size_t>(n > 0 ? n : 1), sizeof(T)));
}

// Reallocates one array; on failure the old block stays in place and valid.
template <typename T>
bool growArray(T*& a, int32_t n) {
    void* p = std::realloc(a, static_cast<size_t>(n) * sizeof(T));
    if (p == nullptr) return false;
    a = static_cast<T*>(p);
    return true;
}

// Makes room for one more point. The capacity only changes once every array has its new size, so a
// failure leaves a list that is intact and safe to release.
bool ensureRoom(Plist* list) {
    if (list->count < list->capacity) return true;
    const int32_t cap = list->capacity;
    if (cap >= kPlistMaxPoints) return false;
    int64_t grown = static_cast<int64_t>(static_cast<double>(cap) * 1.5);
    if (grown < static_cast<int64_t>(cap) + 1) grown = cap + 1;
    if (grown > kPlistMaxPoints) grown = kPlistMaxPoints;
    const int32_t n = static_cast<int32_t>(grown);
    if (!growArray(list->parameters, n) || !growArray(list->flags, n) || !growArray(list->points, n))
        return false;
    if (list->vectors != nullptr && !growArray(list->vectors, n)) return false;
    if (list->bytes != nullptr && !growArray(list->bytes, n)) return false;
    list->capacity = n;
    return true;
}

void storeAt(Plist* list, int32_t i, double t, const Vec3* point, uint16_t flag, const Vec3* vector,
             uint8_t byte) {
    list->points[i] = *point;
    list->parameters[i] = t;
    list->flags[i] = storedFlag(flag);
    if (list->vectors != nullptr) list->vectors[i] = *vector;
    if (list->bytes != nullptr) list->bytes[i] = byte;
}

// Moves the per-point entries [from, count) by delta places (+1 opens a slot, negative closes).
void shiftTail(Plist* list, int32_t from, int32_t delta) {
    const size_t n = static_cast<size_t>(list->count - from);
    if (n == 0) return;
    const int32_t to = from + delta;
    std::memmove(list->points + to, list->points + from, n * sizeof(Vec3));
    std::memmove(list->parameters + to, list->parameters + from, n * sizeof(double));
    std::memmove(list->flags + to, list->flags + from, n * sizeof(uint16_t));
    if (list->vectors != nullptr) std::memmove(list->vectors + to, list->vectors + from, n * sizeof(Vec3));
    if (list->bytes != nullptr) std::memmove(list->bytes + to, list->bytes + from, n);
}

int kindAt(const Plist* list, int32_t i) {
    return list->flags[i] >> 8;
}

// Kind changes keep the sub-code, except that a link never carries one.
void setKind(Plist* list, int32_t i, int kind) {
    const uint16_t f = static_cast<uint16_t>((kind << 8) | (list->flags[i] & 0xFF));
    list->flags[i] = storedFlag(f);
}

bool isDescending(const Plist* list) {
    return list->count > 1 && list->parameters[list->count - 1] - list->parameters[0] < 0;
}

}  // namespace

Plist* plistAlloc(int32_t n, int withVectors) {
    if (n < 0) return nullptr;
    Plist* list = static_cast<Plist*>(std::calloc(1, sizeof(Plist)));
    if (list == nullptr) return nullptr;
    list->capacity = n;
    list->parameters = allocArray<double>(n);
    list->flags = allocArray<uint16_t>(n);
    list->points = allocArray<Vec3>(n);
    if (list->parameters == nullptr || list->flags == nullptr || list->points == nullptr) {
        plistFree(list);
        return nullptr;
    }
    if (withVectors) {
        list->vectors = allocArray<Vec3>(n);
        if (list->vectors == nullptr) return list;  // usable without vectors
        list->bytes = allocArray<uint8_t>(n);
        if (list->bytes == nullptr) {
            plistFree(list);
            return nullptr;
        }
    }
    return list;
}

Plist* plistCreate(int32_t n, int withVectors) {
    if (n < 0) return nullptr;
    const int32_t cap = n < kPlistMaxPoints ? n : kPlistMaxPoints;
    Plist* list = plistAlloc(cap, withVectors);
    if (list == nullptr) list = plistAlloc(cap / 10 > 1 ? cap / 10 : 1, withVectors);
    return list;
}

void plistFree(Plist* list) {
    if (list == nullptr) return;
    std::free(list->points);
    std::free(list->vectors);
    std::free(list->bytes);
    std::free(list->parameters);
    std::free(list->flags);
    std::free(list);
}

int32_t plistAppend(Plist* list, double t, const Vec3* point, uint16_t flag, const Vec3* vector,
                    uint8_t byte) {
    if (list == nullptr || point == nullptr) return -1;
    // Copied first: the caller may pass an element of this very list, which growth can move.
    const Vec3 q = *point, v = vector != nullptr ? *vector : kDefaultVector;
    if (!ensureRoom(list)) return -1;
    const int32_t i = list->count;
    storeAt(list, i, t, &q, flag, &v, byte);
    list->count = i + 1;
    return i;
}

int32_t plistInsert(Plist* list, double t, const Vec3* point, uint16_t flag, const Vec3* vector,
                    uint8_t byte) {
    if (list == nullptr || point == nullptr) return -1;
    const Vec3 q = *point, v = vector != nullptr ? *vector : kDefaultVector;
    if (!ensureRoom(list)) return -1;
    const bool desc = isDescending(list);
    // Searching from the end makes inserting in parameter order cost one comparison per point.
    int32_t i = list->count - 1;
    for (; i >= 0; --i) {
        const double p = list->parameters[i];
        if (desc ? p > t - kTol : p < t - kTol) break;
    }
    const int32_t at = i + 1;
    shiftTail(list, at, 1);
    storeAt(list, at, t, &q, flag, &v, byte);
    ++list->count;
    return at;
}

int32_t plistPointAtParam(const Plist* list, double t, Vec3* out) {
    if (list == nullptr || out == nullptr || list->count == 0) return -1;
    const int32_t n = list->count;
    const double* p = list->parameters;
    // Written so that a NaN parameter counts as outside.
    if (!(t >= p[0] - kTol && t <= p[n - 1] + kTol)) return -1;
    if (n == 1) {
        *out = list->points[0];
        return 0;
    }
    int32_t i = 1;
    while (i < n - 1 && !(p[i] > t - kTol)) ++i;
    const Vec3& a = list->points[i - 1];
    const Vec3& b = list->points[i];
    const double step = p[i] - p[i - 1];
    if (std::fabs(t - p[i - 1]) < kTol || step == 0.0) {
        *out = a;
    } else {
        const double f = (t - p[i - 1]) / step;
        *out = Vec3{(1 - f) * a.x + f * b.x, (1 - f) * a.y + f * b.y, (1 - f) * a.z + f * b.z};
    }
    return i - 1;
}

int plistPointAndVectorAtParam(const Plist* list, double t, Vec3* outPoint, Vec3* outVec) {
    if (list == nullptr || list->vectors == nullptr || outVec == nullptr) return -1;
    const int32_t i = plistPointAtParam(list, t, outPoint);
    if (i < 0) return -1;
    if (i + 1 >= list->count) {  // a single point has no segment to interpolate along
        *outVec = list->vectors[i];
        return 1;
    }
    const Vec3* v = &list->vectors[i];
    const Vec3* w = &list->vectors[i + 1];
    const double step = list->parameters[i + 1] - list->parameters[i];
    const double f = std::fabs(step) < 1e-12 ? 0.0 : (t - list->parameters[i]) / step;
    vecRotateToward3D(outVec, v, w, f * acosClamped(vecDot3D(v, w)));
    return 1;
}

double plistLength(const Plist* list) {
    if (list == nullptr || list->count < 2) return 0.0;
    double len = 0.0;
    for (int32_t i = 1; i < list->count; ++i) {
        if (kindAt(list, i - 1) == kPointLink || kindAt(list, i) == kPointLink) continue;
        len += dist3D(&list->points[i - 1], &list->points[i]);
    }
    return len;
}

void plistSetArcLengthParams(Plist* list) {
    if (list == nullptr || list->count == 0) return;
    list->parameters[0] = 0.0;
    for (int32_t i = 1; i < list->count; ++i)
        list->parameters[i] = list->parameters[i - 1] + dist3D(&list->points[i - 1], &list->points[i]);
}

int plistFindNeighbours(const Plist* list, int32_t i, int32_t* outPrev, int32_t* outNext) {
    if (list == nullptr || i < 0 || i >= list->count) return -1;
    auto removed = [list](int32_t k) {
        const int kind = kindAt(list, k);
        return kind == kPointMarked || kind == kPointRemoved;
    };
    int32_t prev = i - 1;
    while (prev >= 0 && removed(prev)) --prev;
    if (prev < 0) return -1;
    *outPrev = prev;
    int32_t next = i + 1;
    while (next < list->count && removed(next)) ++next;
    if (next >= list->count) return -1;
    *outNext = next;
    return 0;
}

int plistKindChanges(const Plist* list, int32_t i, int32_t j) {
    if (list == nullptr || i < 0 || j < 0 || i >= list->count || j >= list->count) return 0;
    const int a = kindAt(list, i), b = kindAt(list, j);
    for (const int kind : {kPointLink, kPointKind4, kPointKind12})
        if ((a == kind) != (b == kind)) return 1;
    return 0;
}

int plistNextIsLink(const Plist* list, int32_t i) {
    if (list == nullptr || i >= list->count - 1) return 1;
    if (i < -1) return 0;
    return kindAt(list, i + 1) == kPointLink ? 1 : 0;
}

int plistNextFreeIndex(int32_t i, const Plist* list, int32_t* out) {
    if (list == nullptr || out == nullptr) return 0;
    for (int32_t k = (i < 0 ? 0 : i + 1); k < list->count; ++k) {
        const int kind = kindAt(list, k);
        if (kind == kPointLink || kind == kPointLinkLike || kind == kPointMarked) continue;
        *out = k;
        return 1;
    }
    return 0;
}

int32_t plistNextKeptIndex(int32_t i, const Plist* list) {
    if (list == nullptr) return -1;
    for (int32_t k = (i < 0 ? 0 : i + 1); k < list->count; ++k) {
        const int kind = kindAt(list, k);
        if (kind != kPointLink && kind != kPointMarked) return k;
    }
    return -1;
}

int32_t plistPrevKeptIndex(int32_t i, const Plist* list) {
    if (list == nullptr) return -1;
    for (int32_t k = (i > list->count ? list->count : i) - 1; k >= 0; --k) {
        const int kind = kindAt(list, k);
        if (kind != kPointLink && kind != kPointMarked) return k;
    }
    return -1;
}

int plistSplitAtParam(Plist* list, double t, double tol) {
    splitIndex = -1;
    if (list == nullptr || list->count < 2) return -1;
    const bool desc = isDescending(list);
    const double* p = list->parameters;
    int32_t b = 1;
    while (b < list->count && !(desc ? p[b] < t - kTol : p[b] > t - kTol)) ++b;
    if (b >= list->count) return -1;
    const int32_t a = b - 1;
    if (std::fabs(p[b] - p[a]) < kTol) return -1;
    if (std::fabs(t - p[a]) < tol) {
        splitIndex = a;
        return 0;
    }
    if (std::fabs(p[b] - t) < tol) {
        splitIndex = b;
        return 0;
    }
    const double f = (t - p[a]) / (p[b] - p[a]);
    const Vec3& pa = list->points[a];
    const Vec3& pb = list->points[b];
    const Vec3 q{(1 - f) * pa.x + f * pb.x, (1 - f) * pa.y + f * pb.y, (1 - f) * pa.z + f * pb.z};
    const uint16_t flag = static_cast<uint16_t>((list->flags[0] & 0xFF00) | 1);
    // The new vertex takes the vector of the segment's start; callers needing more set it afterwards.
    Vec3 v = list->vectors != nullptr ? list->vectors[a] : kDefaultVector;
    const int32_t at = plistInsert(list, t, &q, flag, &v, 1);
    if (at < 0) return -1;
    splitIndex = at;
    return 1;
}

int32_t plistSplitIndex() {
    return splitIndex;
}

void plistResetState() {
    splitIndex = -1;
}
static const RunReset gRunReset(kRunResetGeometry, "plist", plistResetState);

int plistDeleteRange(Plist* list, int32_t i, int32_t j) {
    if (list == nullptr || j < i || i < 0 || j >= list->count) return 0;
    shiftTail(list, j + 1, i - (j + 1));
    list->count -= j - i + 1;
    return 1;
}

int plistDeleteRangeClamped(Plist* list, int32_t i, int32_t j) {
    if (list == nullptr) return 0;
    if (i < 0) i = 0;
    if (j > list->count - 1) j = list->count - 1;
    return plistDeleteRange(list, i, j);
}

int plistShiftStart(Plist* list, int32_t k) {
    if (list == nullptr || k < 1 || k >= list->count) return 0;
    const int32_t n = list->count;
    if (dist3D(&list->points[0], &list->points[n - 1]) >= 0.1) return plistDeleteRange(list, 0, k - 1);
    // Closed: turning the start k places on drops the old first point (a duplicate of the last) and
    // appends copies of points 1..k, so the result is p[k..n-1], p[1..k] and again ends on its start.
    void* scratch = std::malloc(static_cast<size_t>(k) * sizeof(Vec3));
    if (scratch == nullptr) return 0;
    auto rotate = [n, k, scratch](auto* a) {
        const size_t size = sizeof(*a);
        std::memcpy(scratch, a + 1, static_cast<size_t>(k) * size);
        std::memmove(a, a + k, static_cast<size_t>(n - k) * size);
        std::memcpy(a + (n - k), scratch, static_cast<size_t>(k) * size);
    };
    rotate(list->points);
    rotate(list->parameters);
    rotate(list->flags);
    if (list->vectors != nullptr) rotate(list->vectors);
    if (list->bytes != nullptr) rotate(list->bytes);
    std::free(scratch);
    return 1;
}

void plistReverse(Plist* list) {
    if (list == nullptr) return;
    list->direction = -list->direction;
    const int32_t n = list->count;
    for (int32_t i = 0, j = n - 1; i < j; ++i, --j) {
        std::swap(list->points[i], list->points[j]);
        std::swap(list->parameters[i], list->parameters[j]);
        std::swap(list->flags[i], list->flags[j]);
        if (list->vectors != nullptr) std::swap(list->vectors[i], list->vectors[j]);
        if (list->bytes != nullptr) std::swap(list->bytes[i], list->bytes[j]);
    }
}

void plistClearKind3(Plist* list) {
    if (list == nullptr) return;
    for (int32_t i = 0; i < list->count; ++i)
        if (kindAt(list, i) == kPointMarked) setKind(list, i, kPointOrdinary);
}

int32_t plistDropKind3(Plist* list) {
    if (list == nullptr) return 0;
    // Compacted in place: nothing to allocate, so nothing can be lost half way.
    int32_t w = 0;
    for (int32_t r = 0; r < list->count; ++r) {
        if (kindAt(list, r) == kPointMarked) continue;
        if (w != r) {
            list->points[w] = list->points[r];
            list->parameters[w] = list->parameters[r];
            list->flags[w] = list->flags[r];
            if (list->vectors != nullptr) list->vectors[w] = list->vectors[r];
            if (list->bytes != nullptr) list->bytes[w] = list->bytes[r];
        }
        ++w;
    }
    list->count = w;
    return w;
}

int32_t plistDropMarked(Plist* list) {
    return plistDropKind3(list);
}

void plistFixRunKinds(Plist* list, int mode) {
    if (list == nullptr) return;
    const int32_t n = list->count;
    Vec3* p = list->points;
    if (mode == 2) {
        // Along each run the path never descends.
        bool inRun = false;
        double top = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            if (kindAt(list, i) == kPointLink) {
                inRun = false;
                continue;
            }
            if (!inRun || p[i].z > top) top = p[i].z;
            p[i].z = top;
            inRun = true;
        }
        // Only the first run survives: everything after its closing link becomes link.
        int32_t i = 0;
        while (i < n && (kindAt(list, i) == kPointLink || kindAt(list, i) == kPointMarked)) ++i;
        while (i < n && kindAt(list, i) != kPointLink) ++i;
        for (++i; i < n; ++i) setKind(list, i, kPointLink);
        return;
    }
    if (mode != 3) return;
    // 1. Isolated points become links; a point below a rise is a temporary link candidate.
    int32_t counter = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (kindAt(list, i) == kPointLink) continue;
        ++counter;
        const bool last = i == n - 1;
        if (counter == 1 && (last || kindAt(list, i + 1) == kPointLink)) {
            setKind(list, i, kPointLink);
            counter = 0;
        } else if (!last && p[i + 1].z > p[i].z + 1e-5) {
            setKind(list, i, kPointTempLink);
            counter = 0;
        }
    }
    // 2. A run of candidates that climbs less than 1.0 in all is no climb.
    for (int32_t i = 1; i < n - 1; ++i) {
        if (kindAt(list, i) != kPointTempLink) continue;
        int32_t end = i;
        while (end < n && kindAt(list, end) == kPointTempLink) ++end;
        const int32_t lastJ = end < n ? end : n - 1;
        double rise = 0.0;
        for (int32_t j = i; j <= lastJ; ++j) rise += std::fabs(p[j].z - p[j - 1].z);
        if (rise < 1.0)
            for (int32_t j = i; j < end; ++j) setKind(list, j, kPointOrdinary);
        i = end - 1;
    }
    // 3. Stretches shorter than 1.0 between links are not worth cutting.
    auto stretchBreak = [list](int32_t i) {
        const int kind = kindAt(list, i);
        return kind == kPointLink || kind == kPointTempLink;
    };
    for (int32_t i = 0; i < n;) {
        if (stretchBreak(i)) {
            ++i;
            continue;
        }
        int32_t end = i + 1;
        double len = 0.0;
        for (; end < n && !stretchBreak(end); ++end) len += dist3D(&p[end - 1], &p[end]);
        if (len < 1.0)
            for (int32_t j = i; j < end; ++j) setKind(list, j, kPointTempLink);
        i = end;
    }
    for (int32_t i = 0; i < n; ++i)
        if (kindAt(list, i) == kPointTempLink) setKind(list, i, kPointLink);
}

int plistCopyPoints(Plist* dst, const Plist* src) {
    if (dst == nullptr || src == nullptr || dst == src) return -1;
    dst->count = 0;
    dst->direction = src->direction;
    for (int32_t i = 0; i < src->count; ++i) {
        const Vec3* v = src->vectors != nullptr ? &src->vectors[i] : &kDefaultVector;
        const uint8_t b = src->bytes != nullptr ? src->bytes[i] : 0;
        if (plistAppend(dst, src->parameters[i], &src->points[i], src->flags[i], v, b) < 0) return -1;
    }
    return 1;
}

int plistCopyRange(Plist* dst, const Plist* src, int32_t i0, int32_t i1) {
    if (dst == nullptr || src == nullptr || dst == src) return -1;
    if (i0 < 0 || i1 < 0 || i0 >= src->count || i1 >= src->count) return -1;
    dst->count = 0;
    dst->direction = src->direction;
    // Appended in source order: an ordered insert would turn runs of equal parameters round.
    for (int32_t i = i0; i <= i1; ++i) {
        const Vec3* v = src->vectors != nullptr ? &src->vectors[i] : &src->points[i];
        const uint8_t b = src->bytes != nullptr ? src->bytes[i] : 0;
        if (plistAppend(dst, src->parameters[i], &src->points[i], src->flags[i], v, b) < 0) return -1;
    }
    return 1;
}

int plistCopyCompact(const Plist* src, Plist* dst) {
    if (dst == nullptr || src == nullptr) return -1;
    const int32_t n = src->count;
    // The new arrays are complete before the old ones go: a failure leaves dst as it was, and src may
    // be dst itself.
    double* params = allocArray<double>(n);
    uint16_t* flags = allocArray<uint16_t>(n);
    Vec3* points = allocArray<Vec3>(n);
    Vec3* vectors = src->vectors != nullptr ? allocArray<Vec3>(n) : nullptr;
    uint8_t* bytes = src->bytes != nullptr ? allocArray<uint8_t>(n) : nullptr;
    if (params == nullptr || flags == nullptr || points == nullptr ||
        (src->vectors != nullptr && vectors == nullptr) || (src->bytes != nullptr && bytes == nullptr)) {
        std::free(params);
        std::free(flags);
        std::free(points);
        std::free(vectors);
        std::free(bytes);
        return -1;
    }
    int32_t w = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (kindAt(src, i) == kPointMarked) continue;
        params[w] = src->parameters[i];
        flags[w] = src->flags[i];
        points[w] = src->points[i];
        if (vectors != nullptr) vectors[w] = src->vectors[i];
        if (bytes != nullptr) bytes[w] = src->bytes[i];
        ++w;
    }
    std::free(dst->parameters);
    std::free(dst->flags);
    std::free(dst->points);
    std::free(dst->vectors);
    std::free(dst->bytes);
    dst->parameters = params;
    dst->flags = flags;
    dst->points = points;
    dst->vectors = vectors;
    dst->bytes = bytes;
    dst->capacity = n;
    dst->count = w;
    dst->direction = src->direction;
    return 1;
}

PlistArray* plistArrayCreate(int32_t n) {
    const int32_t cap = n > 1 ? n : 1;
    PlistArray* array = static_cast<PlistArray*>(std::calloc(1, sizeof(PlistArray)));
    if (array == nullptr) return nullptr;
    array->capacity = cap;
    array->lists = allocArray<Plist*>(cap);
    array->values = allocArray<double>(cap);
    array->flags = allocArray<int32_t>(cap);
    array->values2 = allocArray<double>(cap);
    if (array->lists == nullptr || array->values == nullptr || array->flags == nullptr ||
        array->values2 == nullptr) {
        plistArrayFree(array);
        return nullptr;
    }
    return array;
}

namespace {

// Grows one array of the PlistArray and zeroes the new part.
template <typename T>
bool growZeroed(T*& a, int32_t oldCap, int32_t newCap, size_t elemSize = sizeof(T)) {
    void* p = std::realloc(a, static_cast<size_t>(newCap) * elemSize);
    if (p == nullptr) return false;
    std::memset(static_cast<char*>(p) + static_cast<size_t>(oldCap) * elemSize, 0,
                static_cast<size_t>(newCap - oldCap) * elemSize);
    a = static_cast<T*>(p);
    return true;
}

}  // namespace

int plistArrayAdd(PlistArray* array, const Plist* list) {
    if (array == nullptr || list == nullptr) return -1;
    if (array->count >= array->capacity - 1) {
        if (array->capacity > INT32_MAX / 2) return -1;
        const int32_t oldCap = array->capacity, newCap = oldCap * 2;
        if (!growZeroed(array->lists, oldCap, newCap) || !growZeroed(array->values, oldCap, newCap) ||
            !growZeroed(array->flags, oldCap, newCap) || !growZeroed(array->values2, oldCap, newCap))
            return -1;
        if (array->records != nullptr && !growZeroed(array->records, oldCap, newCap, kPlistArrayRecordSize))
            return -1;
        array->capacity = newCap;
    }
    const int32_t n = list->count;
    const int32_t cap = n == 0 ? 200 : (n > kPlistMaxPoints / 2 ? kPlistMaxPoints : 2 * n);
    Plist* copy = plistCreate(cap, 1);
    if (copy == nullptr) return -1;
    copy->direction = list->direction;
    // Appended in source order with the source's parameters: an ordered insert by chord length
    // would turn runs of coincident points round.
    for (int32_t i = 0; i < n; ++i) {
        const Vec3* v = list->vectors != nullptr ? &list->vectors[i] : &list->points[i];
        const uint8_t b = list->bytes != nullptr ? list->bytes[i] : 0;
        if (plistAppend(copy, list->parameters[i], &list->points[i], list->flags[i], v, b) < 0) {
            plistFree(copy);
            return -1;
        }
    }
    array->lists[array->count] = copy;
    array->flags[array->count] = 0;
    ++array->count;
    return 1;
}

void plistArrayFree(PlistArray* array) {
    if (array == nullptr) return;
    if (array->lists != nullptr)
        for (int32_t i = 0; i < array->count; ++i) plistFree(array->lists[i]);
    std::free(array->lists);
    std::free(array->values);
    std::free(array->flags);
    std::free(array->values2);
    std::free(array->records);
    std::free(array);
}
