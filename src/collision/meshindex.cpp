#include "collision/meshindex.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
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

// Each byte's bits spread to every third bit.
constexpr auto kSpreadByte = [] {
    std::array<uint64_t, 256> t{};
    for (uint64_t b = 0; b < 256; ++b)
        for (int i = 0; i < 8; ++i) t[b] |= ((b >> i) & 1) << (3 * i);
    return t;
}();

// Spreads the low 21 bits of v to every third bit, a byte at a time.
inline uint64_t spread(uint64_t v) {
    return kSpreadByte[v & 0xff] | kSpreadByte[(v >> 8) & 0xff] << 24 | kSpreadByte[(v >> 16) & 0x1f] << 48;
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

// The key of a box centre along the space-filling curve through the box `all`.
inline uint64_t curveKey(const Vec3& lo, const Vec3& hi, const Box& all) {
    auto cell = [](double v, double a, double b) {
        const double t = b > a ? (v - a) / (b - a) : 0.0;
        return static_cast<uint64_t>(std::clamp(t, 0.0, 1.0) * 2097151.0);
    };
    return spread(cell(0.5 * (lo.x + hi.x), all.lo.x, all.hi.x)) |
           spread(cell(0.5 * (lo.y + hi.y), all.lo.y, all.hi.y)) << 1 |
           spread(cell(0.5 * (lo.z + hi.z), all.lo.z, all.hi.z)) << 2;
}

// The node levels above the leaf boxes, kFan children a node, until at most `top` boxes are left.
void buildLevels(std::vector<std::vector<Box>>* levels, size_t top) {
    while (levels->back().size() > top) {
        const std::vector<Box>& below = levels->back();
        std::vector<Box> up((below.size() + kFan - 1) / kFan);
        for (size_t b = 0; b < up.size(); ++b) {
            up[b] = below[b * kFan];
            for (size_t c = b * kFan + 1; c < std::min(below.size(), (b + 1) * kFan); ++c)
                grow(&up[b], below[c].lo, below[c].hi);
        }
        levels->push_back(std::move(up));
    }
}

// An element's turned box in single precision, rounded outward.
struct FBox {
    float lo[3], hi[3];
};

// Single precision at or beyond v: moved out by more than half a float's step before rounding to the
// nearest float (and by far more than the turn's rounding, far less than any bound tells apart); a
// coordinate that is not finite leaves the box unbounded that way.
float floatDown(double v) {
    const float f = static_cast<float>(v - (1.2e-7 * std::fabs(v) + 1e-9));
    return std::isfinite(f) ? f : -HUGE_VALF;
}
float floatUp(double v) {
    const float f = static_cast<float>(v + (1.2e-7 * std::fabs(v) + 1e-9));
    return std::isfinite(f) ? f : HUGE_VALF;
}

// The polar angle of (x, y) within about 0.005 rad (NaN for NaN), without a library call.
double roughAngle(double y, double x) {
    const double ax = std::fabs(x), ay = std::fabs(y);
    const double big = std::max(ax, ay);
    const double z = big > 0.0 ? std::min(ax, ay) / big : 0.0;
    double a = z * (M_PI / 4 + 0.273 * (1.0 - z));
    if (ay > ax) a = M_PI / 2 - a;
    if (x < 0) a = M_PI - a;
    return y < 0 ? -a : a;
}

// One sector of a turned index: its frame, its elements in tree order with their turned boxes, and the
// node boxes (in the frame) above them, up to a single root.
struct TurnedPart {
    double c = 1.0, s = 0.0;
    int32_t count = 0;
    std::vector<int32_t> ids;
    std::vector<FBox> boxes;
    std::vector<std::vector<Box>> levels;
};

}  // namespace

struct MeshIndex {
    int32_t count = 0;
    bool topsDescend = true;
    std::vector<int32_t> order;            // elements in tree order
    std::vector<std::vector<Box>> levels;  // levels[0]: one box per leaf; the last level has at most kFan
    std::vector<TurnedPart> parts;         // a turned index's sectors (order and levels then empty)
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
        // Left unset: every key is written before it is read.
        std::unique_ptr<uint64_t[]> keys(new uint64_t[static_cast<size_t>(n)]);
        for (int32_t j = 0; j < n; ++j) keys[j] = curveKey(boxMin[j], boxMax[j], all);
        index->order.resize(static_cast<size_t>(n));
        orderByKey(keys.get(), n, index->order.data());
        keys.reset();
        // Each element's box grows its leaf's, the boxes read in element order: the leaf boxes (a sixth
        // of the element boxes' bytes) take the scattered accesses. Any order of growing bounds the
        // same elements.
        std::vector<int32_t> leaf(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; ++i) leaf[index->order[i]] = i / kLeaf;
        constexpr double kInf = std::numeric_limits<double>::infinity();
        std::vector<Box> level((n + kLeaf - 1) / kLeaf, Box{{kInf, kInf, kInf}, {-kInf, -kInf, -kInf}});
        for (int32_t j = 0; j < n; ++j) grow(&level[leaf[j]], boxMin[j], boxMax[j]);
        index->levels.push_back(std::move(level));
        buildLevels(&index->levels, kFan);
    } catch (const std::bad_alloc&) {
        delete index;
        return nullptr;
    }
    return index;
}

struct MeshTurnedBuilder {
    int32_t sectors = 1;
    double perRad = 0.0;
    std::vector<double> cs;  // cosine and sine of each sector's middle
    bool topsDescend = true;
    double lastTop = 0.0;
    int32_t count = 0;
    // Each sector's elements and turned boxes in element order: the index takes them over.
    std::vector<std::vector<int32_t>> ids;
    std::vector<std::vector<FBox>> boxes;
};

MeshTurnedBuilder* meshIndexTurnedStart(int32_t sectors, int32_t room) {
    if (sectors < 1) return nullptr;
    auto* b = new (std::nothrow) MeshTurnedBuilder;
    if (!b) return nullptr;
    try {
        b->sectors = sectors;
        b->perRad = sectors / (2.0 * M_PI);
        b->cs.resize(2 * static_cast<size_t>(sectors));
        for (int32_t k = 0; k < sectors; ++k) {
            const double mid = -M_PI + (k + 0.5) / b->perRad;
            b->cs[2 * k] = std::cos(mid);
            b->cs[2 * k + 1] = std::sin(mid);
        }
        // A revolved mesh spreads evenly over the sectors; room not used is never touched.
        const size_t each = static_cast<size_t>(std::max(room, 0)) / static_cast<size_t>(sectors) + 16;
        b->ids.resize(static_cast<size_t>(sectors));
        b->boxes.resize(static_cast<size_t>(sectors));
        for (int32_t k = 0; k < sectors; ++k) {
            b->ids[k].reserve(each);
            b->boxes[k].reserve(each);
        }
    } catch (const std::bad_alloc&) {
        delete b;
        return nullptr;
    }
    return b;
}

bool meshIndexTurnedAdd(MeshTurnedBuilder* b, const Vec3* corners, const Vec3& lo, const Vec3& hi) {
    if (!b || !corners) return false;
    if (b->count > 0 && hi.z > b->lastTop) b->topsDescend = false;
    // Any sector would do (the bounds hold in every frame): a rough angle of the box centre keeps the
    // turned box tight.
    const double a = std::floor((roughAngle(lo.y + hi.y, lo.x + hi.x) + M_PI) * b->perRad);
    const int32_t k = a >= 0.0 && a < b->sectors ? static_cast<int32_t>(a) : 0;
    const double c = b->cs[2 * k], sn = b->cs[2 * k + 1];
    Box t{};
    for (int v = 0; v < 3; ++v) {
        const Vec3 q{c * corners[v].x + sn * corners[v].y, c * corners[v].y - sn * corners[v].x,
                     corners[v].z};
        if (v == 0)
            t = {q, q};
        else
            grow(&t, q, q);
    }
    if (b->count == INT32_MAX) return false;
    try {
        b->boxes[k].push_back({{floatDown(t.lo.x), floatDown(t.lo.y), floatDown(t.lo.z)},
                               {floatUp(t.hi.x), floatUp(t.hi.y), floatUp(t.hi.z)}});
        b->ids[k].push_back(b->count);
    } catch (const std::bad_alloc&) {
        return false;
    }
    ++b->count;
    b->lastTop = hi.z;
    return true;
}

void meshIndexTurnedAbandon(MeshTurnedBuilder* b) {
    delete b;
}

MeshIndex* meshIndexTurnedFinish(MeshTurnedBuilder* builder) {
    if (!builder) return nullptr;
    const std::unique_ptr<MeshTurnedBuilder> owned(builder);
    MeshTurnedBuilder& tb = *builder;
    const int32_t n = tb.count;
    if (n < 1) return nullptr;
    auto* index = new (std::nothrow) MeshIndex;
    if (!index) return nullptr;
    try {
        index->count = n;
        index->topsDescend = tb.topsDescend;
        std::vector<uint64_t> keys;
        std::vector<int32_t> order, dealtIds;
        std::vector<FBox> dealtBoxes;
        auto boxOf = [&](const FBox& f) {
            return Box{{f.lo[0], f.lo[1], f.lo[2]}, {f.hi[0], f.hi[1], f.hi[2]}};
        };
        for (int32_t k = 0; k < tb.sectors; ++k) {
            const int32_t m = static_cast<int32_t>(tb.boxes[k].size());
            if (m == 0 || tb.ids[k].size() != tb.boxes[k].size()) continue;
            TurnedPart part;
            part.c = tb.cs[2 * k];
            part.s = tb.cs[2 * k + 1];
            part.count = m;
            // The sector's elements (ascending) and boxes, put in tree order in their own arrays.
            part.ids = std::move(tb.ids[k]);
            part.boxes = std::move(tb.boxes[k]);
            FBox* out = part.boxes.data();
            Box all = boxOf(out[0]);
            for (int32_t i = 1; i < m; ++i) {
                const Box b = boxOf(out[i]);
                grow(&all, b.lo, b.hi);
            }
            keys.resize(static_cast<size_t>(m));
            for (int32_t i = 0; i < m; ++i) {
                const Box b = boxOf(out[i]);
                keys[i] = curveKey(b.lo, b.hi, all);
            }
            order.resize(static_cast<size_t>(m));
            orderByKey(keys.data(), m, order.data());
            dealtIds.assign(part.ids.begin(), part.ids.end());
            dealtBoxes.assign(part.boxes.begin(), part.boxes.end());
            for (int32_t i = 0; i < m; ++i) {
                part.ids[i] = dealtIds[order[i]];
                out[i] = dealtBoxes[order[i]];
            }
            std::vector<Box> level((m + kLeaf - 1) / kLeaf);
            for (size_t b = 0; b < level.size(); ++b) {
                const int32_t from = static_cast<int32_t>(b) * kLeaf, to = std::min(m, from + kLeaf);
                level[b] = boxOf(out[from]);
                for (int32_t i = from + 1; i < to; ++i) {
                    const Box e = boxOf(out[i]);
                    grow(&level[b], e.lo, e.hi);
                }
            }
            part.levels.push_back(std::move(level));
            buildLevels(&part.levels, 1);
            index->parts.push_back(std::move(part));
        }
    } catch (const std::bad_alloc&) {
        delete index;
        return nullptr;
    }
    return index;
}

MeshIndex* meshIndexBuildTurned(int32_t n, const Vec3* boxMin, const Vec3* boxMax, const Vec3* corners,
                                int32_t sectors) {
    if (n < 1 || !boxMin || !boxMax || !corners) return nullptr;
    MeshTurnedBuilder* b = meshIndexTurnedStart(sectors, n);
    for (int32_t j = 0; b && j < n; ++j)
        if (!meshIndexTurnedAdd(b, corners + 3 * static_cast<size_t>(j), boxMin[j], boxMax[j])) {
            meshIndexTurnedAbandon(b);
            return nullptr;
        }
    return meshIndexTurnedFinish(b);
}

void meshIndexFree(MeshIndex* index) {
    delete index;
}

int32_t meshIndexCount(const MeshIndex* index) {
    return index ? index->count : 0;
}

bool meshIndexTurned(const MeshIndex* index) {
    return index && !index->parts.empty();
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

// The best-first walk over a turned index's sectors, one heap for all.
void turnedBestFirst(const MeshIndex& index, const Vec3* boxMin, const Vec3* boxMax,
                     const MeshLineQuery& query, const MeshBoundVisitor& v, double floor) {
    if (!v.turn) {
        // Without turned bounds: every kept element in falling order of its own box's bound.
        const Vec3& d = query.dir;
        const Tester t{query, std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z)};
        std::vector<std::pair<double, int32_t>> kept;
        for (int32_t j = 0; j < index.count; ++j) {
            if (!t.keeps(boxMin[j], boxMax[j])) continue;
            const double b = v.bound(v.ctx, boxMin[j], boxMax[j]);
            if (b >= floor) kept.push_back({b, j});
        }
        std::stable_sort(kept.begin(), kept.end(),
                         [](const auto& a, const auto& b) { return a.first > b.first; });
        for (const auto& e : kept) {
            if (!(e.first >= floor)) break;
            floor = v.visit(v.ctx, e.second);
        }
        return;
    }
    // The z limit alone is tested (a turn keeps z): a turned box (tight around its triangle) may miss
    // the plan rectangle that the element's own box meets, and the visit applies it; the front and the
    // reach leave out only what gives no contact, and the turned bounds pass over that.
    const size_t np = index.parts.size();
    auto underZ = [&query](const Vec3& hi) { return query.useZLimit && hi.z < query.zLimit; };
    int32_t frame = -1;
    auto bound = [&](int32_t p, const Vec3& lo, const Vec3& hi) {
        if (p != frame) {
            v.turn(v.ctx, index.parts[p].c, index.parts[p].s);
            frame = p;
        }
        return v.bound(v.ctx, lo, hi);
    };
    struct Item {
        double bound;
        int32_t part, level, node;
    };
    auto below = [](const Item& a, const Item& b) { return a.bound < b.bound; };
    std::vector<Item> heap;
    heap.reserve(256);
    auto push = [&](int32_t p, int32_t level, int32_t node, const Box& box) {
        if (underZ(box.hi)) return;
        const double b = bound(p, box.lo, box.hi);
        if (!(b >= floor)) return;
        heap.push_back({b, p, level, node});
        std::push_heap(heap.begin(), heap.end(), below);
    };
    for (size_t p = 0; p < np; ++p) {
        const TurnedPart& part = index.parts[p];
        push(static_cast<int32_t>(p), static_cast<int32_t>(part.levels.size()) - 1, 0, part.levels.back()[0]);
    }
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), below);
        const Item it = heap.back();
        heap.pop_back();
        if (it.bound < floor) break;
        const TurnedPart& part = index.parts[it.part];
        if (it.level == 0) {
            const int32_t first = it.node * kLeaf;
            const int32_t last = std::min(part.count, first + kLeaf);
            Item elems[kLeaf];
            int32_t n = 0;
            for (int32_t i = first; i < last; ++i) {
                const FBox& f = part.boxes[i];
                const Vec3 lo{f.lo[0], f.lo[1], f.lo[2]}, hi{f.hi[0], f.hi[1], f.hi[2]};
                if (underZ(hi)) continue;
                const double b = bound(it.part, lo, hi);
                if (!(b >= floor)) continue;
                int32_t k = n++;
                for (; k > 0 && elems[k - 1].bound < b; --k) elems[k] = elems[k - 1];
                elems[k] = {b, it.part, -1, part.ids[i]};
            }
            if (v.touch)
                for (int32_t k = 0; k < n; ++k) v.touch(v.ctx, elems[k].node);
            for (int32_t k = 0; k < n && elems[k].bound >= floor; ++k) floor = v.visit(v.ctx, elems[k].node);
        } else {
            const std::vector<Box>& level = part.levels[it.level - 1];
            const int32_t end = std::min(static_cast<int32_t>(level.size()), (it.node + 1) * kFan);
            for (int32_t c = it.node * kFan; c < end; ++c) push(it.part, it.level - 1, c, level[c]);
        }
    }
    v.turn(v.ctx, 1.0, 0.0);
}

}  // namespace

void meshIndexQuery(const MeshIndex* index, const Vec3* boxMin, const Vec3* boxMax,
                    const MeshLineQuery* query, std::vector<int32_t>* out) {
    out->clear();
    if (!index || !query || !boxMin || !boxMax) return;
    const Vec3& d = query->dir;
    const Tester t{*query, std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z)};
    if (!index->parts.empty()) {
        for (int32_t j = 0; j < index->count; ++j)
            if (t.keeps(boxMin[j], boxMax[j])) out->push_back(j);
        return;
    }
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
    if (!index || !query || !visitor) return;
    if (!index->parts.empty() && (visitor->turn || (boxMin && boxMax))) {
        turnedBestFirst(*index, boxMin, boxMax, *query, *visitor, floor);
        return;
    }
    if (!boxMin || !boxMax || !index->parts.empty()) return;
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
