#include "collision/meshindex.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>

namespace {

// Elements per leaf and children per node: wide nodes keep the tree shallow and its boxes few.
constexpr int32_t kLeaf = 8;
constexpr int32_t kFan = 8;
// The distance and front tests leave an element out only this far beyond their bounds: far more than
// the rounding of the coordinates of a part, far less than any tool.
constexpr double kSlack = 1e-5;

struct Box {
    Vec3 lo, hi;
};

// Spreads the low 21 bits of v to every third bit.
uint64_t spread(uint64_t v) {
    v &= 0x1fffff;
    v = (v | v << 32) & 0x1f00000000ffffULL;
    v = (v | v << 16) & 0x1f0000ff0000ffULL;
    v = (v | v << 8) & 0x100f00f00f00f00fULL;
    v = (v | v << 4) & 0x10c30c30c30c30c3ULL;
    v = (v | v << 2) & 0x1249249249249249ULL;
    return v;
}

void grow(Box* b, const Vec3& lo, const Vec3& hi) {
    b->lo.x = std::min(b->lo.x, lo.x);
    b->lo.y = std::min(b->lo.y, lo.y);
    b->lo.z = std::min(b->lo.z, lo.z);
    b->hi.x = std::max(b->hi.x, hi.x);
    b->hi.y = std::max(b->hi.y, hi.y);
    b->hi.z = std::max(b->hi.z, hi.z);
}

// The elements in the order of their (key, element) pairs: dealt by the top bits of their keys into
// buckets, in element order, and each bucket likewise by the next bits into small runs, which are then
// sorted by their pairs.
void orderByKey(const uint64_t* keys, int32_t n, int32_t* order) {
    constexpr int kTop = 52, kNext = 44;  // keys have 63 bits: 2048 buckets of 256 runs
    std::vector<int32_t> start((size_t{1} << (63 - kTop)) + 1, 0);
    for (int32_t j = 0; j < n; ++j) ++start[(keys[j] >> kTop) + 1];
    size_t widest = 0;
    for (size_t b = 1; b < start.size(); ++b) {
        widest = std::max(widest, static_cast<size_t>(start[b]));
        start[b] += start[b - 1];
    }
    std::vector<int32_t> at(start.begin(), start.end() - 1);
    for (int32_t j = 0; j < n; ++j) order[at[keys[j] >> kTop]++] = j;
    using Pair = std::pair<uint64_t, int32_t>;
    std::vector<Pair> bucket(widest), dealt(widest);
    constexpr size_t kRuns = size_t{1} << (kTop - kNext);
    int32_t run[kRuns + 1];
    for (size_t b = 0; b + 1 < start.size(); ++b) {
        const int32_t first = start[b], m = start[b + 1] - first;
        if (m < 2) continue;
        std::fill(run, run + kRuns + 1, 0);
        for (int32_t i = 0; i < m; ++i) {
            const int32_t j = order[first + i];
            bucket[i] = {keys[j], j};
            ++run[((keys[j] >> kNext) & (kRuns - 1)) + 1];
        }
        for (size_t r = 1; r <= kRuns; ++r) run[r] += run[r - 1];
        for (int32_t i = 0; i < m; ++i) dealt[run[(bucket[i].first >> kNext) & (kRuns - 1)]++] = bucket[i];
        // Each run now ends where the next began.
        for (size_t r = 0, from = 0; r < kRuns; from = run[r++]) {
            Pair* lo = dealt.data() + from;
            Pair* hi = dealt.data() + run[r];
            if (hi - lo > 16) {
                std::sort(lo, hi);
                continue;
            }
            for (Pair* p = lo + 1; p < hi; ++p) {
                const Pair v = *p;
                Pair* q = p;
                for (; q > lo && v < q[-1]; --q) *q = q[-1];
                *q = v;
            }
        }
        for (int32_t i = 0; i < m; ++i) order[first + i] = dealt[i].second;
    }
}

}  // namespace

struct MeshIndex {
    int32_t count = 0;
    bool topsDescend = true;
    std::vector<int32_t> order;            // elements in tree order
    std::vector<std::vector<Box>> levels;  // levels[0]: one box per leaf; the last level has at most kFan
};

MeshIndex* meshIndexBuild(int32_t n, const Vec3* boxMin, const Vec3* boxMax) {
    if (n < 1 || !boxMin || !boxMax) return nullptr;
    auto* index = new (std::nothrow) MeshIndex;
    if (!index) return nullptr;
    try {
        index->count = n;
        Box all{boxMin[0], boxMax[0]};
        for (int32_t j = 0; j < n; ++j) {
            grow(&all, boxMin[j], boxMax[j]);
            if (j > 0 && boxMax[j].z > boxMax[j - 1].z) index->topsDescend = false;
        }
        // Elements in the order of their box centres along a space-filling curve: neighbours in the
        // order are neighbours in space, so consecutive runs make tight leaves.
        auto cell = [](double v, double lo, double hi) {
            const double t = hi > lo ? (v - lo) / (hi - lo) : 0.0;
            return static_cast<uint64_t>(std::clamp(t, 0.0, 1.0) * 2097151.0);
        };
        // Left unset: every key is written before it is read.
        std::unique_ptr<uint64_t[]> keys(new uint64_t[static_cast<size_t>(n)]);
        for (int32_t j = 0; j < n; ++j) {
            const double cx = 0.5 * (boxMin[j].x + boxMax[j].x), cy = 0.5 * (boxMin[j].y + boxMax[j].y);
            const double cz = 0.5 * (boxMin[j].z + boxMax[j].z);
            keys[j] = spread(cell(cx, all.lo.x, all.hi.x)) | spread(cell(cy, all.lo.y, all.hi.y)) << 1 |
                      spread(cell(cz, all.lo.z, all.hi.z)) << 2;
        }
        index->order.resize(static_cast<size_t>(n));
        orderByKey(keys.get(), n, index->order.data());
        std::vector<Box> level((n + kLeaf - 1) / kLeaf);
        for (size_t b = 0; b < level.size(); ++b) {
            const int32_t first = static_cast<int32_t>(b) * kLeaf, last = std::min(n, first + kLeaf);
            // The boxes are gathered in tree order: fetching a few leaves ahead hides the misses.
            for (int32_t i = first + 4 * kLeaf; i < std::min(n, last + 4 * kLeaf); ++i) {
                __builtin_prefetch(&boxMin[index->order[i]]);
                __builtin_prefetch(&boxMax[index->order[i]]);
            }
            level[b] = {boxMin[index->order[first]], boxMax[index->order[first]]};
            for (int32_t i = first + 1; i < last; ++i)
                grow(&level[b], boxMin[index->order[i]], boxMax[index->order[i]]);
        }
        index->levels.push_back(std::move(level));
        while (index->levels.back().size() > static_cast<size_t>(kFan)) {
            const std::vector<Box>& below = index->levels.back();
            std::vector<Box> up((below.size() + kFan - 1) / kFan);
            for (size_t b = 0; b < up.size(); ++b) {
                up[b] = below[b * kFan];
                for (size_t c = b * kFan + 1; c < std::min(below.size(), (b + 1) * kFan); ++c)
                    grow(&up[b], below[c].lo, below[c].hi);
            }
            index->levels.push_back(std::move(up));
        }
    } catch (const std::bad_alloc&) {
        delete index;
        return nullptr;
    }
    return index;
}

void meshIndexFree(MeshIndex* index) {
    delete index;
}

int32_t meshIndexCount(const MeshIndex* index) {
    return index ? index->count : 0;
}

bool meshIndexTopsDescend(const MeshIndex* index) {
    return index && index->topsDescend;
}

namespace {

struct Tester {
    const MeshLineQuery& q;
    double dirLen;

    bool keeps(const Vec3& lo, const Vec3& hi) const {
        if (!(hi.x > q.x0 && lo.x < q.x1 && hi.y > q.y0 && lo.y < q.y1)) return false;
        if (q.useZLimit && hi.z < q.zLimit) return false;
        const Vec3& d = q.dir;
        const double nearest = std::min(lo.x * d.x, hi.x * d.x) + std::min(lo.y * d.y, hi.y * d.y) +
                               std::min(lo.z * d.z, hi.z * d.z);
        if (nearest > q.front + kSlack) return false;
        if (q.reach < 0.0 || dirLen <= 0.0) return true;
        // The box's circumscribed sphere against the line.
        const Vec3 c{0.5 * (lo.x + hi.x) - q.start.x, 0.5 * (lo.y + hi.y) - q.start.y,
                     0.5 * (lo.z + hi.z) - q.start.z};
        const double hx = 0.5 * (hi.x - lo.x), hy = 0.5 * (hi.y - lo.y), hz = 0.5 * (hi.z - lo.z);
        const Vec3 x{c.y * d.z - c.z * d.y, c.z * d.x - c.x * d.z, c.x * d.y - c.y * d.x};
        const double dist = std::sqrt(x.x * x.x + x.y * x.y + x.z * x.z) / dirLen;
        return dist <= q.reach + std::sqrt(hx * hx + hy * hy + hz * hz) + kSlack;
    }
};

}  // namespace

void meshIndexQuery(const MeshIndex* index, const Vec3* boxMin, const Vec3* boxMax,
                    const MeshLineQuery* query, std::vector<int32_t>* out) {
    out->clear();
    if (!index || !query || !boxMin || !boxMax) return;
    const Vec3& d = query->dir;
    const Tester t{*query, std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z)};
    const int32_t top = static_cast<int32_t>(index->levels.size()) - 1;
    struct Item {
        int32_t level, node;
    };
    Item stack[64 * kFan];
    int32_t depth = 0;
    for (int32_t b = 0; b < static_cast<int32_t>(index->levels[top].size()); ++b) stack[depth++] = {top, b};
    while (depth > 0) {
        const Item it = stack[--depth];
        const Box& box = index->levels[it.level][it.node];
        if (!t.keeps(box.lo, box.hi)) continue;
        if (it.level == 0) {
            const int32_t first = it.node * kLeaf, last = std::min(index->count, first + kLeaf);
            for (int32_t i = first; i < last; ++i) {
                const int32_t j = index->order[i];
                if (t.keeps(boxMin[j], boxMax[j])) out->push_back(j);
            }
            continue;
        }
        const int32_t below = static_cast<int32_t>(index->levels[it.level - 1].size());
        for (int32_t c = std::min(below, (it.node + 1) * kFan) - 1; c >= it.node * kFan; --c)
            stack[depth++] = {it.level - 1, c};
    }
    std::sort(out->begin(), out->end());
}

void meshIndexBestFirst(const MeshIndex* index, const Vec3* boxMin, const Vec3* boxMax,
                        const MeshLineQuery* query, const MeshBoundVisitor* visitor, double floor) {
    if (!index || !query || !boxMin || !boxMax || !visitor) return;
    const Vec3& d = query->dir;
    const Tester t{*query, std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z)};
    struct Item {
        double bound;
        int32_t level;
        int32_t node;
    };
    auto below = [](const Item& a, const Item& b) { return a.bound < b.bound; };
    std::vector<Item> heap;
    heap.reserve(256);
    auto push = [&](int32_t level, int32_t node, const Vec3& lo, const Vec3& hi) {
        if (!t.keeps(lo, hi)) return;
        const double b = visitor->bound(visitor->ctx, lo, hi);
        if (!(b >= floor)) return;
        heap.push_back({b, level, node});
        std::push_heap(heap.begin(), heap.end(), below);
    };
    const int32_t top = static_cast<int32_t>(index->levels.size()) - 1;
    for (int32_t b = 0; b < static_cast<int32_t>(index->levels[top].size()); ++b)
        push(top, b, index->levels[top][b].lo, index->levels[top][b].hi);
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), below);
        const Item it = heap.back();
        heap.pop_back();
        // Everything left is bounded by this item's bound.
        if (it.bound < floor) break;
        if (it.level == 0) {
            // A leaf's elements go straight to the visit in falling order of their bounds: through the
            // heap they would cost more than they save.
            const int32_t first = it.node * kLeaf, last = std::min(index->count, first + kLeaf);
            Item elems[kLeaf];
            int32_t n = 0;
            // The leaf's boxes lie scattered through the arrays: their misses overlap when fetched at once.
            for (int32_t i = first; i < last; ++i) {
                __builtin_prefetch(&boxMin[index->order[i]]);
                __builtin_prefetch(&boxMax[index->order[i]]);
            }
            for (int32_t i = first; i < last; ++i) {
                const int32_t j = index->order[i];
                if (!t.keeps(boxMin[j], boxMax[j])) continue;
                const double b = visitor->bound(visitor->ctx, boxMin[j], boxMax[j]);
                if (!(b >= floor)) continue;
                int32_t k = n++;
                for (; k > 0 && elems[k - 1].bound < b; --k) elems[k] = elems[k - 1];
                elems[k] = {b, -1, j};
            }
            if (visitor->touch)
                for (int32_t k = 0; k < n; ++k) visitor->touch(visitor->ctx, elems[k].node);
            for (int32_t k = 0; k < n && elems[k].bound >= floor; ++k)
                floor = visitor->visit(visitor->ctx, elems[k].node);
        } else {
            const std::vector<Box>& level = index->levels[it.level - 1];
            const int32_t end = std::min(static_cast<int32_t>(level.size()), (it.node + 1) * kFan);
            for (int32_t c = it.node * kFan; c < end; ++c) push(it.level - 1, c, level[c].lo, level[c].hi);
        }
    }
}
