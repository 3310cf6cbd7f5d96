// Heap sort of triangle lists by their highest vertex.
#include "surfaces/meshfiles/trisort.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

double triMaxZ(const Triangle3D* tri) {
    double z = tri->p[0].z;
    if (tri->p[1].z > z) z = tri->p[1].z;
    if (tri->p[2].z > z) z = tri->p[2].z;
    return z;
}

int triCompareTopZ(const Triangle3D* a, const Triangle3D* b) {
    const double za = triMaxZ(a), zb = triMaxZ(b);
    if (za > zb) return -1;
    if (za < zb) return 1;
    return 0;
}

namespace {

struct Key {
    double top;
    int32_t at;
};

// A top by its rank among the distinct tops (equal tops share one, a higher top has a higher rank):
// every comparison of two ranks answers as that of their tops, in half the bytes.
struct RankKey {
    uint32_t top;
    int32_t at;
};

// meshHeapSortBy with triCompareTopZ's comparisons written out over (top, place) keys: picking the
// child is a plain select (an unpredictable branch otherwise), and a > b is exactly the comparison's
// -1. The same comparisons in the same sequence give the same permutation.
template <typename K>
void heapOrder(K* k, int32_t n) {
    auto sift = [k](int32_t i, int32_t end) {
        const K item = k[i];
        for (;;) {
            int32_t child = 2 * i + 1;
            if (child >= end) break;
            // The grandchildren's keys are one or two lines: fetched now, they are there a step later.
            __builtin_prefetch(&k[4 * static_cast<int64_t>(i) + 3]);
            __builtin_prefetch(&k[4 * static_cast<int64_t>(i) + 6]);
            if (child + 1 < end) child += k[child + 1].top < k[child].top ? 1 : 0;
            if (!(item.top > k[child].top)) break;
            k[i] = k[child];
            i = child;
        }
        k[i] = item;
    };
    for (int32_t i = n / 2; i >= 0; --i) sift(i, n);
    for (int32_t end = n - 1; end > 0; --end) {
        const K tmp = k[0];
        k[0] = k[end];
        k[end] = tmp;
        sift(0, end);
    }
}

// An order given while kept: the tops it was given for, and the places in their order.
struct KeptOrder {
    std::vector<double> tops;
    std::vector<int32_t> order;
};

bool gKeepOrders = false;
std::vector<KeptOrder> gKeptOrders;

// The same bits give the same comparisons, and the heap sort's permutation follows from those alone.
const KeptOrder* keptOrderFor(const Key* keys, size_t n) {
    for (const KeptOrder& k : gKeptOrders) {
        if (k.tops.size() != n) continue;
        size_t i = 0;
        while (i < n && std::memcmp(&k.tops[i], &keys[i].top, sizeof(double)) == 0) ++i;
        if (i == n) return &k;
    }
    return nullptr;
}

void keepOrder(const std::vector<double>& tops, const Key* keys, size_t n) {
    try {
        KeptOrder k{tops, std::vector<int32_t>(n)};
        for (size_t i = 0; i < n; ++i) k.order[i] = keys[i].at;
        gKeptOrders.push_back(std::move(k));
    } catch (const std::bad_alloc&) {
        // Not remembered: the next such list is sorted again.
    }
}

}  // namespace

void meshSortKeepOrders(int on) {
    gKeepOrders = on != 0;
    if (!gKeepOrders) std::vector<KeptOrder>().swap(gKeptOrders);
}

namespace {

// Ranks the tops into keys when they fall into few runs that never rise (a join of sorted meshes): a
// merge of the runs meets the distinct tops from the highest down. False (keys untouched) for a top
// that is not a number (it compares equal to everything, which no rank can) or too many runs.
bool rankRuns(const double* tops, int32_t n, std::vector<RankKey>* keys) {
    constexpr int kMaxRuns = 16;
    int32_t from[kMaxRuns + 1];
    int runs = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (std::isnan(tops[i])) return false;
        if (i == 0 || tops[i] > tops[i - 1]) {
            if (runs == kMaxRuns) return false;
            from[runs++] = i;
        }
    }
    from[runs] = n;
    try {
        keys->resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return false;
    }
    int32_t head[kMaxRuns];
    std::copy(from, from + runs, head);
    // Counted from the highest top first, turned round once the count of distinct tops is known.
    uint32_t down = 0;
    double last = 0.0;
    for (int32_t done = 0; done < n; ++done) {
        int best = -1;
        for (int r = 0; r < runs; ++r)
            if (head[r] < from[r + 1] && (best < 0 || tops[head[r]] > tops[head[best]])) best = r;
        const int32_t i = head[best]++;
        if (done > 0 && tops[i] != last) ++down;
        last = tops[i];
        (*keys)[i] = {down, i};
    }
    for (RankKey& k : *keys) k.top = down - k.top;
    return true;
}

}  // namespace

bool meshTopOrder(const double* tops, int32_t n, int32_t* order) {
    if (n < 1) return true;
    if (tops == nullptr || order == nullptr) return false;
    if (std::vector<RankKey> ranked; rankRuns(tops, n, &ranked)) {
        heapOrder(ranked.data(), n);
        for (int32_t i = 0; i < n; ++i) order[i] = ranked[i].at;
        return true;
    }
    std::vector<Key> keys;
    try {
        keys.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return false;
    }
    for (int32_t i = 0; i < n; ++i) keys[i] = {tops[i], i};
    heapOrder(keys.data(), n);
    for (int32_t i = 0; i < n; ++i) order[i] = keys[i].at;
    return true;
}

namespace {

// Position i takes the triangle from place placeOf(at[i]), cycle by cycle; a finished place is marked by
// pointing at itself. The cycles jump through the list: a scout runs a few places ahead along the
// places (not yet marked there) and fetches the triangles to come, so that their misses overlap.
template <typename T, typename PlaceOf>
void permuteInPlace(Triangle3D* data, int32_t n, T* at, PlaceOf placeOf) {
    auto fetch = [data](int32_t k) {
        __builtin_prefetch(&data[k]);
        __builtin_prefetch(reinterpret_cast<const char*>(&data[k]) + 64);
    };
    for (int32_t i = 0; i < n; ++i) {
        if (placeOf(at[i]) == i) continue;
        const Triangle3D first = data[i];
        int32_t j = i;
        int32_t scout = placeOf(at[i]);
        for (int k = 0; k < 8 && scout != i; ++k) {
            fetch(scout);
            scout = placeOf(at[scout]);
        }
        for (;;) {
            const int32_t from = placeOf(at[j]);
            placeOf(at[j]) = j;
            if (from == i) {
                data[j] = first;
                break;
            }
            if (scout != i) {
                fetch(scout);
                scout = placeOf(at[scout]);
            }
            data[j] = data[from];
            j = from;
        }
    }
}

}  // namespace

void sortMeshTriangles(TriList* list) {
    if (list == nullptr || list->data == nullptr || list->count < 2) return;
    const int32_t n = list->count;
    // The keys are a fifth of a triangle's bytes, with the top taken once. Not cleared first (each is
    // written before it is read), nor the places below: clearing was a pass over fresh pages.
    const size_t count = static_cast<size_t>(n);
    std::unique_ptr<Key[]> keys(new (std::nothrow) Key[count]);
    if (keys == nullptr) {
        meshHeapSort(list->data, n, triCompareTopZ);
        return;
    }
    for (int32_t i = 0; i < n; ++i) keys[i] = {triMaxZ(&list->data[i]), i};
    if (const KeptOrder* kept = gKeepOrders ? keptOrderFor(keys.get(), count) : nullptr; kept != nullptr) {
        for (int32_t i = 0; i < n; ++i) keys[i].at = kept->order[i];
    } else {
        std::vector<double> tops;
        if (gKeepOrders) {
            try {
                tops.resize(count);
                for (int32_t i = 0; i < n; ++i) tops[i] = keys[i].top;
            } catch (const std::bad_alloc&) {
                tops.clear();
            }
        }
        heapOrder(keys.get(), n);
        if (!tops.empty()) keepOrder(tops, keys.get(), count);
    }
    // In place (a gather into a second array would double the list's memory). The places alone, a
    // quarter of the keys' bytes, stay in cache while the cycles jump through them.
    std::unique_ptr<int32_t[]> place(new (std::nothrow) int32_t[count]);
    if (place == nullptr) {
        permuteInPlace(list->data, n, keys.get(), [](Key& k) -> int32_t& { return k.at; });
        return;
    }
    for (int32_t i = 0; i < n; ++i) place[i] = keys[i].at;
    keys.reset();
    permuteInPlace(list->data, n, place.get(), [](int32_t& k) -> int32_t& { return k; });
}
