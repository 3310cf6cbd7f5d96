#include "KVWOG5/recsort.h"

#include <cstring>
#include <vector>

namespace {

// Below this count Shell sort wins; above it heapsort's n log n bound does.
const int32_t kHeapsortFrom = 10000;
const size_t kSegmentSize = 32;
const size_t kInlineSize = 64;

// kFixed: the record size when known at compile time (a fixed-size copy is a few moves, not a
// library call), else 0.
template <size_t kFixed>
struct Records {
    unsigned char* base;
    size_t size;
    unsigned char* comp = nullptr;  // null without companion
    size_t compSize = 0;
    RecCompare compare;
    // Records the library sorts (segments, pointers, index pairs) fit the inline slots, so their
    // sorts cannot fail for want of memory: several callers have no way to report it.
    alignas(16) unsigned char inlineTmp[kInlineSize], inlineComp[kInlineSize];
    std::vector<unsigned char> heapTmp, heapComp;
    unsigned char *tmpP = inlineTmp, *compP = inlineComp;

    Records(unsigned char* b, size_t s, RecCompare c) : base(b), size(s), compare(c) {}
    Records(const Records&) = delete;  // tmpP may point into the object itself

    unsigned char* at(int32_t i) { return base + static_cast<size_t>(i) * size; }
    unsigned char* compAt(int32_t i) { return comp + static_cast<size_t>(i) * compSize; }
    static void copy(unsigned char* to, const unsigned char* from, size_t n) {
        if constexpr (kFixed > 0)
            std::memcpy(to, from, kFixed);
        else
            std::memcpy(to, from, n);
    }
    void toTmp(int32_t i) {
        copy(tmpP, at(i), size);
        if (comp) std::memcpy(compP, compAt(i), compSize);
    }
    void fromTmp(int32_t i) {
        copy(at(i), tmpP, size);
        if (comp) std::memcpy(compAt(i), compP, compSize);
    }
    void move(int32_t to, int32_t from) {
        copy(at(to), at(from), size);
        if (comp) std::memcpy(compAt(to), compAt(from), compSize);
    }
    bool tmpBefore(int32_t i) { return compare(tmpP, at(i)) < 0; }
};

template <typename R>
void shellSort(R& r, int32_t n) {
    int32_t h = 1;
    if (n / 9 > 1)
        while (h < n / 9) h = 3 * h + 1;
    for (; h >= 1; h /= 3) {
        for (int32_t i = h; i < n; i++) {
            r.toTmp(i);
            int32_t j = i;
            while (j >= h && r.tmpBefore(j - h)) {
                r.move(j, j - h);
                j -= h;
            }
            r.fromTmp(j);
        }
    }
}

// Sifts the record in tmp down from slot i of a heap of size n.
template <typename R>
void siftDown(R& r, int32_t i, int32_t n) {
    for (;;) {
        int32_t child = 2 * i + 1;
        if (child >= n) break;
        if (child + 1 < n && r.compare(r.at(child), r.at(child + 1)) < 0) child++;
        if (!r.tmpBefore(child)) break;
        r.move(i, child);
        i = child;
    }
    r.fromTmp(i);
}

template <typename R>
void heapSort(R& r, int32_t n) {
    for (int32_t i = n / 2 - 1; i >= 0; i--) {
        r.toTmp(i);
        siftDown(r, i, n);
    }
    for (int32_t end = n - 1; end > 0; end--) {
        r.toTmp(end);
        r.move(end, 0);
        siftDown(r, 0, end);
    }
}

}  // namespace

int sortWithPermutation(void* base, int32_t n, int32_t recordSize, RecCompare compare, void* companion,
                        int32_t companionSize) {
    if (n < 2) return 1;
    if (!base || recordSize <= 0 || !compare || companionSize < 0) return -1;
    auto run = [&](auto& r) {
        if (companion && companionSize > 0) {
            r.comp = static_cast<unsigned char*>(companion);
            r.compSize = static_cast<size_t>(companionSize);
        }
        try {
            if (r.size > kInlineSize) r.heapTmp.resize(r.size), r.tmpP = r.heapTmp.data();
            if (r.compSize > kInlineSize) r.heapComp.resize(r.compSize), r.compP = r.heapComp.data();
        } catch (...) {
            return -1;
        }
        if (n < kHeapsortFrom)
            shellSort(r, n);
        else
            heapSort(r, n);
        return 1;
    };
    // Segment records are the ones sorted most.
    if (static_cast<size_t>(recordSize) == kSegmentSize) {
        Records<kSegmentSize> r(static_cast<unsigned char*>(base), kSegmentSize, compare);
        return run(r);
    }
    Records<0> r(static_cast<unsigned char*>(base), static_cast<size_t>(recordSize), compare);
    return run(r);
}

int sortRecords(void* base, int32_t n, int32_t recordSize, RecCompare compare) {
    return sortWithPermutation(base, n, recordSize, compare, nullptr, 0);
}
