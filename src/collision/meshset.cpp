#include "collision/meshset.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <new>
#include <utility>
#include <vector>

// The vector paths are x86's; other processors take the same comparisons and sums one value at a time.
#if defined(__SSE2__)
#include <immintrin.h>
#endif

#include "geometry/mat4.h"
#include "kernel/base/rng.h"

namespace {

double keyOf(const Vec3* p) {
    return std::sqrt(p->x * p->x + p->y * p->y);
}

// Steps over fewer elements take the plain scan.
constexpr int32_t kPlacedFrom = 32;

// An edge without samples: its ends alone.
struct EdgeEnds {
    int32_t a, b;
};

// The three key sums of each edge of the node being split, by position: the partition then compares
// keys that lie beside the edges instead of fetching both end points at every step.
struct TreeScratch {
    std::unique_ptr<double[]> keys[3];  // written by each node's box pass before they are read
    std::vector<Vec3> points;           // the vertices' points alone: less than half the vertices' bytes
    std::vector<uint64_t> aboveBits;    // the partition's classes
};

// One three-way step as the scan below makes it (i from the front, gt from the back): [lo, *lt) below
// the pivot, [*lt, *gt] equal, (*gt, hi] above.
template <class E>
void partitionStep(double* key, E* e, int32_t lo, int32_t hi, double pivot, int32_t* ltOut, int32_t* gtOut) {
    int32_t lt = lo, i = lo, gt = hi;
    while (i <= gt) {
        const double k = key[i];
        if (k < pivot) {
            std::swap(key[lt], key[i]), std::swap(e[lt], e[i]);
            lt++, i++;
        } else if (k > pivot) {
            std::swap(key[gt], key[i]), std::swap(e[gt], e[i]);
            gt--;
        } else {
            i++;
        }
    }
    *ltOut = lt, *gtOut = gt;
}

bool gWide = true;

#if defined(__SSE2__)
// The classes of partitionRuns four keys to a compare (the same ordered comparisons, NaN neither above
// nor below), where the processor has them: bit j of word j / 64 for key[j] above the pivot.
__attribute__((target("avx2,popcnt"))) void classifyWide(const double* key, int32_t n, double pivot,
                                                         uint64_t* above, int32_t* nAbove, int32_t* nBelow) {
    const __m256d pv = _mm256_set1_pd(pivot);
    int32_t up = 0, down = 0;
    for (int32_t base = 0; base < n; base += 64) {
        const int32_t count = std::min(64, n - base);
        const double* k = key + base;
        uint64_t bits = 0;
        int32_t j = 0;
        for (; j + 7 < count; j += 8) {
            const __m256d v0 = _mm256_loadu_pd(k + j), v1 = _mm256_loadu_pd(k + j + 4);
            const uint32_t g =
                static_cast<uint32_t>(_mm256_movemask_pd(_mm256_cmp_pd(v0, pv, _CMP_GT_OQ)) |
                                      _mm256_movemask_pd(_mm256_cmp_pd(v1, pv, _CMP_GT_OQ)) << 4);
            const uint32_t l =
                static_cast<uint32_t>(_mm256_movemask_pd(_mm256_cmp_pd(v0, pv, _CMP_LT_OQ)) |
                                      _mm256_movemask_pd(_mm256_cmp_pd(v1, pv, _CMP_LT_OQ)) << 4);
            bits |= uint64_t{g} << j;
            up += std::popcount(g), down += std::popcount(l);
        }
        for (; j < count; j++) {
            bits |= static_cast<uint64_t>(k[j] > pivot) << j;
            up += k[j] > pivot, down += k[j] < pivot;
        }
        above[base / 64] = bits;
    }
    *nAbove = up, *nBelow = down;
}

bool wideClasses() {
    static const bool wide = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("popcnt");
    }();
    return wide && gWide;
}
#else
// The classes of partitionRuns one key at a time: bit j of word j / 64 for key[j] above the pivot.
void classifyPlain(const double* key, int32_t n, double pivot, uint64_t* above, int32_t* nAbove,
                   int32_t* nBelow) {
    int32_t up = 0, down = 0;
    for (int32_t base = 0; base < n; base += 64) {
        const int32_t count = std::min(64, n - base);
        const double* k = key + base;
        uint64_t bits = 0;
        for (int32_t j = 0; j < count; j++) {
            bits |= static_cast<uint64_t>(k[j] > pivot) << j;
            up += k[j] > pivot, down += k[j] < pivot;
        }
        above[base / 64] = bits;
    }
    *nAbove = up, *nBelow = down;
}
#endif

// The same step when only the pivot's own element p equals the pivot; false (nothing moved) otherwise.
// The scan examines the front from lo; an element above the pivot goes to gt and the back's elements
// come to i in turn (those above shifting down by one) until one not above it, which stays at i. So
// with s_k the k-th element above in the front and t_k the k-th not above from the back: s_k goes to
// the top of run k (t_(k-1) - 1, or hi), the elements above in (t_k, top] move down by one, t_k goes
// to s_k; a last run cut off where front and back meet has no t. Elements below stay in the front,
// where the equal one ends up after them all (each one examined after it swaps places with it).
template <class E>
bool partitionRuns(TreeScratch& w, double* key, E* e, int32_t lo, int32_t hi, int32_t p, int32_t m,
                   int32_t* ltOut, int32_t* gtOut) {
    const int32_t n = hi - lo + 1;
    const double pivot = key[p];
    uint64_t* above = w.aboveBits.data();  // bit j of word j / 64: key[lo + j] above the pivot
    int32_t nAbove = 0, nBelow = 0;
#if defined(__SSE2__)
    const __m128d pv = _mm_set1_pd(pivot);
    // Counts by lanes: a true comparison is all ones, minus one as an integer.
    __m128i upCount = _mm_setzero_si128(), downCount = upCount;
    const bool wide = wideClasses();
    if (wide) classifyWide(key + lo, n, pivot, above, &nAbove, &nBelow);
    for (int32_t base = 0; base < n && !wide; base += 64) {
        uint64_t up = 0;
        const int32_t count = std::min(64, n - base);
        const double* k = key + lo + base;
        int32_t j = 0;
        // Eight at a time: one shift by a variable count instead of four.
        for (; j + 7 < count; j += 8) {
            const __m128d v0 = _mm_loadu_pd(k + j), v1 = _mm_loadu_pd(k + j + 2);
            const __m128d v2 = _mm_loadu_pd(k + j + 4), v3 = _mm_loadu_pd(k + j + 6);
            const __m128d g0 = _mm_cmpgt_pd(v0, pv), g1 = _mm_cmpgt_pd(v1, pv);
            const __m128d g2 = _mm_cmpgt_pd(v2, pv), g3 = _mm_cmpgt_pd(v3, pv);
            const uint64_t m = static_cast<uint64_t>(_mm_movemask_pd(g0) | _mm_movemask_pd(g1) << 2 |
                                                     _mm_movemask_pd(g2) << 4 | _mm_movemask_pd(g3) << 6);
            up |= m << j;
            upCount = _mm_sub_epi64(upCount,
                                    _mm_add_epi64(_mm_add_epi64(_mm_castpd_si128(g0), _mm_castpd_si128(g1)),
                                                  _mm_add_epi64(_mm_castpd_si128(g2), _mm_castpd_si128(g3))));
            const __m128i l01 =
                _mm_add_epi64(_mm_castpd_si128(_mm_cmplt_pd(v0, pv)), _mm_castpd_si128(_mm_cmplt_pd(v1, pv)));
            const __m128i l23 =
                _mm_add_epi64(_mm_castpd_si128(_mm_cmplt_pd(v2, pv)), _mm_castpd_si128(_mm_cmplt_pd(v3, pv)));
            downCount = _mm_sub_epi64(downCount, _mm_add_epi64(l01, l23));
        }
        for (; j + 1 < count; j += 2) {
            const __m128d v = _mm_loadu_pd(k + j), gt = _mm_cmpgt_pd(v, pv);
            up |= static_cast<uint64_t>(_mm_movemask_pd(gt)) << j;
            upCount = _mm_sub_epi64(upCount, _mm_castpd_si128(gt));
            downCount = _mm_sub_epi64(downCount, _mm_castpd_si128(_mm_cmplt_pd(v, pv)));
        }
        if (j < count) {
            up |= static_cast<uint64_t>(k[j] > pivot) << j;
            nAbove += k[j] > pivot, nBelow += k[j] < pivot;
        }
        above[base / 64] = up;
    }
    int64_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), upCount);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes + 2), downCount);
    nAbove += static_cast<int32_t>(lanes[0] + lanes[1]), nBelow += static_cast<int32_t>(lanes[2] + lanes[3]);
#else
    classifyPlain(key + lo, n, pivot, above, &nAbove, &nBelow);
#endif
    if (nAbove + nBelow != n - 1) return false;
    // Only the side holding m is partitioned again: the other side's keys are not read any more (the
    // children take theirs afresh), so the shifts leave them.
    const bool keysBelow = m<lo + nBelow, keysAbove = m> hi - nAbove;
    double* kr = key + lo;
    E* er = e + lo;
    const int32_t words = (n + 63) / 64;
    // Front cursor: the word being scanned with the bits before f cleared; back cursor likewise for
    // the bits not above, after b cleared.
    int32_t b = n - 1, fw = 0, bw = (n - 1) / 64;
    uint64_t fbits = above[0];
    const int tail = (n - 1) % 64;
    uint64_t bbits = ~above[bw] & (tail == 63 ? ~uint64_t{0} : (uint64_t{2} << tail) - 1);
    int32_t equalAt = p - lo, prevT = -1, from = -1;
    double topKey = 0.0;
    E topEdge{};
    for (;;) {
        while (fbits == 0 && fw + 1 < words) fbits = above[++fw];
        const int32_t s = fbits ? fw * 64 + std::countr_zero(fbits) : n;
        if (s > b) break;
        fbits &= fbits - 1;
        while (bbits == 0 && bw > 0) bbits = ~above[--bw];
        const int32_t t = bbits ? bw * 64 + 63 - std::countl_zero(bbits) : -1;
        if (prevT < 0) {
            topKey = kr[s], topEdge = er[s];
        } else {
            kr[prevT] = kr[s], er[prevT] = er[s];
        }
        if (t <= s) {
            from = s;
            break;
        }
        kr[s] = kr[t], er[s] = er[t];
        equalAt = t == equalAt ? s : equalAt;
        bbits &= ~(uint64_t{1} << (t % 64));
        prevT = from = t;
        b = t - 1;
    }
    if (from >= 0) {
        const size_t moved = static_cast<size_t>(n - 1 - from);
        if (keysAbove) std::memmove(kr + from, kr + from + 1, sizeof(double) * moved);
        std::memmove(er + from, er + from + 1, sizeof(E) * moved);
        kr[n - 1] = topKey, er[n - 1] = topEdge;
    }
    if (equalAt < nBelow) {
        const double k = kr[equalAt];
        const E x = er[equalAt];
        const size_t moved = static_cast<size_t>(nBelow - equalAt);
        if (keysBelow) std::memmove(kr + equalAt, kr + equalAt + 1, sizeof(double) * moved);
        std::memmove(er + equalAt, er + equalAt + 1, sizeof(E) * moved);
        kr[nBelow] = k, er[nBelow] = x;
    }
    *ltOut = lo + nBelow, *gtOut = hi - nAbove;
    return true;
}

// Puts the m-th smallest key of [lo, hi] at m, smaller ones before and larger ones after, by random
// pivots from the run's generator (three-way, so runs of equal keys cannot stall it); the edges follow
// their keys.
template <class E>
void partitionKeys(TreeScratch& w, double* key, E* e, int32_t lo, int32_t hi, int32_t m) {
    while (lo < hi) {
        const int32_t p = lo + static_cast<int32_t>(static_cast<int64_t>(rngNext()) * (hi - lo) / kRngMax);
        int32_t lt, gt;
        if (hi - lo < kPlacedFrom || !partitionRuns(w, key, e, lo, hi, p, m, &lt, &gt))
            partitionStep(key, e, lo, hi, key[p], &lt, &gt);
        if (m < lt)
            hi = lt - 1;
        else if (m > gt)
            lo = gt + 1;
        else
            return;
    }
}

#if defined(__SSE2__)
// The box pass below with each end's three coordinates in one register (the points have a spare one
// after the last): lane by lane the same running minima and maxima of the first and second ends.
template <class E>
__attribute__((target("avx2"))) void boxPassWide(const Vec3* points, const E* edges, int32_t first,
                                                 int32_t last, double* kx, double* ky, double* kz, double* lo,
                                                 double* hi) {
    __m256d loA = _mm256_set1_pd(1e35), loB = loA, hiA = _mm256_set1_pd(-1e35), hiB = hiA;
    for (int32_t i = first; i <= last; i++) {
        const __m256d pa = _mm256_loadu_pd(&points[edges[i].a].x),
                      pb = _mm256_loadu_pd(&points[edges[i].b].x);
        loA = _mm256_min_pd(pa, loA), hiA = _mm256_max_pd(pa, hiA);
        loB = _mm256_min_pd(pb, loB), hiB = _mm256_max_pd(pb, hiB);
        if (kx) {
            const __m256d sum = _mm256_add_pd(pa, pb);
            const __m128d xy = _mm256_castpd256_pd128(sum);
            _mm_storel_pd(&kx[i], xy), _mm_storeh_pd(&ky[i], xy);
            _mm_storel_pd(&kz[i], _mm256_extractf128_pd(sum, 1));
        }
    }
    double l[8], h[8];
    _mm256_storeu_pd(l, loA), _mm256_storeu_pd(l + 4, loB), _mm256_storeu_pd(h, hiA),
        _mm256_storeu_pd(h + 4, hiB);
    for (int c = 0; c < 3; c++) lo[c] = l[c], lo[c + 3] = l[c + 4], hi[c] = h[c], hi[c + 3] = h[c + 4];
}
#else
// The box pass below one value at a time, each running value taken over as minpd (maxpd) with the new
// value first would: only by one strictly smaller (larger), never by a NaN.
template <class E>
void boxPassPlain(const Vec3* points, const E* edges, int32_t first, int32_t last, double* kx, double* ky,
                  double* kz, double* lo, double* hi) {
    for (int c = 0; c < 6; c++) lo[c] = 1e35, hi[c] = -1e35;
    for (int32_t i = first; i <= last; i++) {
        const Vec3& a = points[edges[i].a];
        const Vec3& b = points[edges[i].b];
        const double ends[6] = {a.x, a.y, a.z, b.x, b.y, b.z};
        for (int c = 0; c < 6; c++) {
            lo[c] = ends[c] < lo[c] ? ends[c] : lo[c];
            hi[c] = ends[c] > hi[c] ? ends[c] : hi[c];
        }
        if (kx) kx[i] = a.x + b.x, ky[i] = a.y + b.y, kz[i] = a.z + b.z;
    }
}
#endif

template <class E>
CollTreeNode* treeNode(CollMesh* mesh, E* edges, TreeScratch& w, int32_t first, int32_t last, bool* failed) {
    auto* node = static_cast<CollTreeNode*>(std::calloc(1, sizeof(CollTreeNode)));
    if (!node) {
        *failed = true;
        return nullptr;
    }
    const bool split = last - first + 1 >= kCollMeshLeafEdges;
    const Vec3* points = w.points.data();
    // Each lane keeps the running minimum (maximum) of the first (second) ends as std::min (max)
    // would, a value taking over only when strictly smaller (larger): minpd (maxpd) with the new
    // value first. The lanes' results differ from one running value over both ends only in which of
    // two equal values is kept, which shows only for zeros of opposite sign: then the running value
    // is taken again end by end.
    double* kx = w.keys[0].get();
    double* ky = w.keys[1].get();
    double* kz = w.keys[2].get();
    double lo[6], hi[6];  // x, y, z of the first ends' lanes, then of the second ends'
#if defined(__SSE2__)
    __m128d loA = _mm_set1_pd(1e35), loB = loA, hiA = _mm_set1_pd(-1e35), hiB = hiA;
    __m128d loZ = loA, hiZ = hiA;
    const bool wide = wideClasses();
    if (wide) boxPassWide(points, edges, first, last, split ? kx : nullptr, ky, kz, lo, hi);
    for (int32_t i = first; i <= last && !wide; i++) {
        const Vec3& a = points[edges[i].a];
        const Vec3& b = points[edges[i].b];
        const __m128d pa = _mm_loadu_pd(&a.x), pb = _mm_loadu_pd(&b.x);
        const __m128d z = _mm_loadh_pd(_mm_load_sd(&a.z), &b.z);
        loA = _mm_min_pd(pa, loA), hiA = _mm_max_pd(pa, hiA);
        loB = _mm_min_pd(pb, loB), hiB = _mm_max_pd(pb, hiB);
        loZ = _mm_min_pd(z, loZ), hiZ = _mm_max_pd(z, hiZ);
        if (split) {
            const __m128d sum = _mm_add_pd(pa, pb);
            _mm_storel_pd(&kx[i], sum), _mm_storeh_pd(&ky[i], sum);
            kz[i] = a.z + b.z;
        }
    }
    if (!wide) {
        _mm_storeu_pd(lo, loA), _mm_storel_pd(&lo[2], loZ), _mm_storeu_pd(&lo[3], loB),
            _mm_storeh_pd(&lo[5], loZ);
        _mm_storeu_pd(hi, hiA), _mm_storel_pd(&hi[2], hiZ), _mm_storeu_pd(&hi[3], hiB),
            _mm_storeh_pd(&hi[5], hiZ);
    }
#else
    boxPassPlain(points, edges, first, last, split ? kx : nullptr, ky, kz, lo, hi);
#endif
    bool signedZero = false;
    for (int c = 0; c < 3; c++)
        signedZero = signedZero || (lo[c] == 0.0 && lo[c + 3] == 0.0) || (hi[c] == 0.0 && hi[c + 3] == 0.0);
    double xmin = std::min(lo[0], lo[3]), ymin = std::min(lo[1], lo[4]), zmin = std::min(lo[2], lo[5]);
    double xmax = std::max(hi[0], hi[3]), ymax = std::max(hi[1], hi[4]), zmax = std::max(hi[2], hi[5]);
    if (signedZero) {
        xmin = ymin = zmin = 1e35, xmax = ymax = zmax = -1e35;
        for (int32_t i = first; i <= last; i++) {
            for (const int32_t v : {edges[i].a, edges[i].b}) {
                const Vec3& p = points[v];
                xmin = std::min(xmin, p.x), xmax = std::max(xmax, p.x);
                ymin = std::min(ymin, p.y), ymax = std::max(ymax, p.y);
                zmin = std::min(zmin, p.z), zmax = std::max(zmax, p.z);
            }
        }
    }
    node->xmin = xmin, node->xmax = xmax, node->ymin = ymin, node->ymax = ymax;
    node->zmin = zmin, node->zmax = zmax;
    node->first = first;
    node->last = last;
    mesh->leafCount += !split;
    if (!split) return node;
    const double ex = xmax - xmin, ey = ymax - ymin, ez = zmax - zmin;
    const int axis = (ex > ey && ex > ez) ? 0 : (ey >= ex && ey > ez) ? 1 : 2;
    const int32_t m = first + (last - first) / 2;
    partitionKeys(w, w.keys[axis].get(), edges, first, last, m);
    node->left = treeNode(mesh, edges, w, first, m, failed);
    if (!*failed) node->right = treeNode(mesh, edges, w, m + 1, last, failed);
    return node;
}

}  // namespace

void collMeshUseWide(int on) {
    gWide = on != 0;
}

namespace {

CollMesh* createSized(int32_t vertices, int32_t edges) {
    if (vertices < 0 || edges < 0) return nullptr;
    auto* mesh = static_cast<CollMesh*>(std::calloc(1, sizeof(CollMesh)));
    if (!mesh) return nullptr;
    mesh->vertices =
        static_cast<CollVertex*>(std::calloc(static_cast<size_t>(std::max(vertices, 1)), sizeof(CollVertex)));
    mesh->edges =
        static_cast<CollEdge*>(std::calloc(static_cast<size_t>(std::max(edges, 1)), sizeof(CollEdge)));
    if (!mesh->vertices || !mesh->edges) {
        collMeshFree(mesh);
        return nullptr;
    }
    mesh->vertexCapacity = vertices;
    mesh->edgeCapacity = edges;
    return mesh;
}

}  // namespace

CollMesh* collMeshCreate(int32_t n) {
    return createSized(n, n);
}

int32_t collMeshLeafAt(const CollMesh* mesh, int32_t firstEdge) {
    if (!mesh || !mesh->leafFirstEdge) return -1;
    const int32_t* at =
        std::lower_bound(mesh->leafFirstEdge, mesh->leafFirstEdge + mesh->leafCount, firstEdge);
    return at != mesh->leafFirstEdge + mesh->leafCount && *at == firstEdge
               ? static_cast<int32_t>(at - mesh->leafFirstEdge)
               : -1;
}

void collMeshTreeFree(CollTreeNode* node) {
    if (!node) return;
    collMeshTreeFree(node->left);
    collMeshTreeFree(node->right);
    std::free(node);
}

namespace {

void treeLayoutFree(CollMesh* mesh) {
    std::free(mesh->treePoints);
    std::free(mesh->treeEnds);
    std::free(mesh->leafHulls);
    std::free(mesh->leafFirstPoint);
    std::free(mesh->leafFirstEdge);
    std::free(mesh->leafHullState);
    mesh->treePoints = nullptr;
    mesh->treeEnds = nullptr;
    mesh->leafHulls = nullptr;
    mesh->leafFirstPoint = nullptr;
    mesh->leafFirstEdge = nullptr;
    mesh->leafHullState = nullptr;
    mesh->leafCount = 0;
}

// The points in the order the tree's leaves reach them: a leaf's ends then lie together in memory.
// The leaves' first edges, in the order the build made the leaves (that of their edges).
void leafStartsOf(const CollTreeNode* node, int32_t* starts, int32_t* count) {
    if (!node) return;
    if (!node->left && !node->right) starts[(*count)++] = node->first;
    leafStartsOf(node->left, starts, count);
    leafStartsOf(node->right, starts, count);
}

bool treeLayoutBuild(CollMesh* mesh, const Vec3* points, const CollTreeNode* root) {
    const size_t nv = static_cast<size_t>(mesh->vertexCount), ne = static_cast<size_t>(mesh->edgeCount);
    mesh->treePoints = static_cast<Vec3*>(std::malloc(sizeof(Vec3) * std::max<size_t>(nv, 1)));
    mesh->treeEnds = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * 2 * std::max<size_t>(ne, 1)));
    // Only the records of the leaves a query needs are written: their room is left unset.
    mesh->leafHulls = static_cast<CollLeafHull*>(
        std::malloc(sizeof(CollLeafHull) * static_cast<size_t>(std::max(mesh->leafCount, 1))));
    mesh->leafHullState =
        static_cast<uint8_t*>(std::calloc(static_cast<size_t>(std::max(mesh->leafCount, 1)), 1));
    int32_t* number = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * std::max<size_t>(nv, 1)));
    int32_t* leafStarts = mesh->leafFirstEdge = static_cast<int32_t*>(
        std::malloc(sizeof(int32_t) * static_cast<size_t>(std::max(mesh->leafCount, 1))));
    mesh->leafFirstPoint =
        static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (static_cast<size_t>(mesh->leafCount) + 1)));
    if (!mesh->treePoints || !mesh->treeEnds || !mesh->leafHulls || !mesh->leafHullState ||
        !mesh->leafFirstPoint || !number || !leafStarts) {
        std::free(number);
        treeLayoutFree(mesh);
        return false;
    }
    int32_t leaves = 0;
    leafStartsOf(root, leafStarts, &leaves);
    std::fill(number, number + nv, -1);
    int32_t next = 0, leaf = -1;
    for (size_t i = 0; i < 2 * ne; i++) {
        // The leaves come in the order of their edges: the next one starts where this one ends.
        if (i % 2 == 0 && leaf + 1 < mesh->leafCount && leafStarts[leaf + 1] == static_cast<int32_t>(i / 2))
            mesh->leafFirstPoint[++leaf] = next;
        const int32_t v = i % 2 ? mesh->edges[i / 2].b : mesh->edges[i / 2].a;
        if (number[v] < 0) {
            number[v] = next;
            mesh->treePoints[next++] = points[v];
        }
        mesh->treeEnds[i] = number[v];
    }
    // Every leaf has edges, so each one began above; the last first point closes them.
    mesh->leafFirstPoint[mesh->leafCount] = next;
    std::free(number);
    return true;
}

}  // namespace

void collMeshFree(CollMesh* mesh) {
    if (!mesh) return;
    treeLayoutFree(mesh);
    collMeshTreeFree(mesh->tree);
    std::free(mesh->vertices);
    std::free(mesh->edges);
    std::free(mesh->samples);
    std::free(mesh);
}

int32_t collMeshFindVertex(CollMesh* mesh, const Vec3* p, int* inserted) {
    if (inserted) *inserted = 0;
    const double key = keyOf(p), tol = mesh->tolerance;
    CollVertex* v = mesh->vertices;
    const int32_t n = mesh->vertexCount;
    const int32_t pos = static_cast<int32_t>(
        std::lower_bound(v, v + n, key, [](const CollVertex& a, double k) { return a.key < k; }) - v);
    for (int32_t i = pos - 1; i >= 0 && v[i].key >= key - tol; i--)
        if (dist3D(&v[i].point, p) < tol) return i;
    for (int32_t i = pos; i < n && v[i].key <= key + tol; i++)
        if (dist3D(&v[i].point, p) < tol) return i;
    if (n >= mesh->vertexCapacity) return -1;
    if (pos < n) {
        std::memmove(v + pos + 1, v + pos, sizeof(CollVertex) * static_cast<size_t>(n - pos));
        for (int32_t i = 0; i < mesh->edgeCount; i++) {
            if (mesh->edges[i].a >= pos) mesh->edges[i].a++;
            if (mesh->edges[i].b >= pos) mesh->edges[i].b++;
        }
        if (inserted) *inserted = 1;
    }
    v[pos] = CollVertex{key, *p, -1, {0.0, 0.0}};
    mesh->vertexCount++;
    return pos;
}

int collMeshFindEdge(CollMesh* mesh, int32_t a, int32_t b) {
    CollEdge* e = mesh->edges;
    const int32_t n = mesh->edgeCount;
    const int32_t lo = static_cast<int32_t>(
        std::lower_bound(e, e + n, a, [](const CollEdge& x, int32_t k) { return x.a < k; }) - e);
    int32_t i = lo;
    for (; i < n && e[i].a == a; i++)
        if (e[i].b == b) return 1;
    if (n >= mesh->edgeCapacity) return -1;
    std::memmove(e + i + 1, e + i, sizeof(CollEdge) * static_cast<size_t>(n - i));
    e[i] = CollEdge{a, b, 0, 0};
    mesh->edgeCount++;
    return 1;
}

int collMeshAddEdge(CollMesh* mesh, const Vec3* a, const Vec3* b) {
    if (!mesh || !a || !b) return -1;
    int32_t ia = collMeshFindVertex(mesh, a, nullptr);
    if (ia < 0) return -1;
    int moved = 0;
    const int32_t ib = collMeshFindVertex(mesh, b, &moved);
    if (ib < 0) return -1;
    if (moved && ib <= ia) ia++;
    if (ia == ib) return 1;
    return collMeshFindEdge(mesh, std::min(ia, ib), std::max(ia, ib));
}

namespace {

// The one-pass build's points: a cell table finds the few points near a new one, and a table of exact
// coordinates answers the points met again (each vertex of a facetted surface ends several edges).
class PointMerger {
  public:
    // extent: the largest coordinate magnitude of the count points to come; finite: all are numbers.
    PointMerger(double tol, double extent, bool finite, int64_t count, int32_t capacity);
    bool usable() const { return usable_; }
    // The index of the point p merges with, or of p as a new point; -1 when the capacity is reached.
    int32_t find(const Vec3& p);
    const std::vector<Vec3>& points() const { return points_; }
    const std::vector<double>& keys() const { return keys_; }

  private:
    int32_t search(const Vec3& p, uint64_t hash);  // find without the points named lately
    static uint64_t mix(uint64_t x) {
        x ^= x >> 31, x *= 0x9e3779b97f4a7c15ull, x ^= x >> 29;
        return x;
    }
    int64_t cell(double v) const { return static_cast<int64_t>(std::floor(v / cellSize_)); }
    uint64_t cellSlot(int64_t x, int64_t y, int64_t z) const {
        return ((static_cast<uint64_t>(x) * 0x9e3779b97f4a7c15ull ^
                 static_cast<uint64_t>(y) * 0xc2b2ae3d27d4eb4full ^
                 static_cast<uint64_t>(z) * 0x165667b19e3779f9ull) >>
                20) &
               mask_;
    }
    static uint64_t bitsOf(double v) { return std::bit_cast<uint64_t>(v); }
    static uint64_t hashOf(const Vec3& p) { return mix(bitsOf(p.x) ^ mix(bitsOf(p.y) ^ mix(bitsOf(p.z)))); }
    uint64_t exactSlot(const Vec3& p) const { return hashOf(p) & exactMask_; }
    // Point id at the head of its cell's chain; in the exact table (the points are stored there in
    // their order until the table is full, so the first exactCount_ are in it).
    void chain(int32_t id) {
        const Vec3& p = points_[id];
        int32_t& head = heads_[cellSlot(cell(p.x), cell(p.y), cell(p.z))];
        next_[id] = head;
        head = id;
    }
    void placeExact(int32_t id) {
        uint64_t slot = exactSlot(points_[id]);
        while (exact_[slot] >= 0) slot = (slot + 1) & exactMask_;
        exact_[slot] = id;
    }
    bool same(const Vec3& a, const Vec3& b) const {
        return bitsOf(a.x) == bitsOf(b.x) && bitsOf(a.y) == bitsOf(b.y) && bitsOf(a.z) == bitsOf(b.z);
    }

    double tol_ = 0.0, cellSize_ = 0.0;
    int32_t capacity_ = 0;
    bool usable_ = false, merging_ = false;
    std::vector<Vec3> points_;
    std::vector<double> keys_;
    std::vector<int32_t> heads_, next_;  // cell chains: cells sharing a head share its chain
    uint64_t mask_ = 0;
    std::vector<int32_t> exact_;  // open addressing over the coordinates' bits; -1 free
    uint64_t exactMask_ = 0;
    int32_t exactCount_ = 0;
    size_t maxSlots_ = 0;  // the largest size of either table
    // A point with another one within one and a half tolerances: a point met again at its very
    // coordinates may then merge with the other one, so it goes through the cell table.
    std::vector<uint8_t> crowded_;
    std::vector<int32_t> near_;  // candidates of one search
    // The points named lately, by their coordinates' hash (direct-mapped, small enough to stay in
    // cache): a vertex's other edges mostly come soon after, and the large exact table misses the cache.
    static constexpr uint64_t kMetBits = 13;
    std::vector<int32_t> met_;
};

PointMerger::PointMerger(double tol, double extent, bool finite, int64_t count, int32_t capacity)
    // Cells far wider than the reach: a search then looks at two or three cells, not ten (which cells
    // hold the candidates does not change which one is picked).
    : tol_(tol), cellSize_(8 * tol), capacity_(capacity) {
    if (!finite) return;
    merging_ = tol > 0.0;
    if (!merging_) {
        usable_ = true;  // nothing merges: every point is new
        return;
    }
    // Cell numbers must fit their integers, and the coordinates' rounding must stay far below the
    // tolerance, for the cells to hold every point within reach.
    if (!std::isfinite(tol) || !(extent / tol < 1e12)) return;
    maxSlots_ = std::bit_ceil(static_cast<uint64_t>(std::clamp<int64_t>(count, 1024, 1 << 25)));
    met_.assign(size_t{1} << kMetBits, -1);
    heads_.assign(64, -1);
    mask_ = heads_.size() - 1;
    exact_.assign(128, -1);
    exactMask_ = exact_.size() - 1;
    usable_ = true;
}

int32_t PointMerger::find(const Vec3& p) {
    // The points named lately first: a triangle's corners come twice in a row, its neighbours' soon
    // after. A point stored with these very coordinates and not crowded is the one the exact table
    // holds (stored coordinates never repeat), so it answers as the table would.
    if (!merging_) return search(p, 0);
    const uint64_t hash = hashOf(p);
    int32_t& met = met_[hash >> (64 - kMetBits)];
    if (met >= 0 && same(points_[met], p) && !crowded_[met]) return met;
    const int32_t id = search(p, hash);
    if (id >= 0) met = id;
    return id;
}

int32_t PointMerger::search(const Vec3& p, uint64_t hash) {
    uint64_t slot = 0;
    if (merging_) {
        for (slot = hash & exactMask_; exact_[slot] >= 0; slot = (slot + 1) & exactMask_) {
            const int32_t j = exact_[slot];
            if (same(points_[j], p)) {
                // Alone within the tolerance: the only point the search below could name.
                if (!crowded_[j]) return j;
                break;
            }
        }
    }
    const double key = keyOf(&p);
    near_.clear();
    int32_t pick = -1;
    if (merging_) {
        // Points within the tolerance (in the key window, as the ordered search tests them) are
        // candidates; those within one and a half tolerances mark crowding. Of two or more
        // candidates the ordered search by key returns the nearest key below p's (the first one
        // stored among equal keys), else the nearest key at or above it (the last one stored).
        const double reach = 1.5 * tol_;
        // A squared distance this far above reach^2 has its root above reach whatever the rounding.
        const double farBeyond = reach * reach * (1 + 1e-9);
        const int64_t x0 = cell(p.x - reach), x1 = cell(p.x + reach);
        const int64_t y0 = cell(p.y - reach), y1 = cell(p.y + reach);
        const int64_t z0 = cell(p.z - reach), z1 = cell(p.z + reach);
        uint64_t seen[27];
        int nSeen = 0;
        int32_t below = -1, above = -1;
        for (int64_t x = x0; x <= x1; ++x)
            for (int64_t y = y0; y <= y1; ++y)
                for (int64_t z = z0; z <= z1; ++z) {
                    const uint64_t h = cellSlot(x, y, z);
                    if (std::find(seen, seen + nSeen, h) != seen + nSeen) continue;
                    if (nSeen < 27) seen[nSeen++] = h;
                    for (int32_t j = heads_[h]; j >= 0; j = next_[j]) {
                        // dist3D written out: the same sum, without the call.
                        const Vec3& q = points_[j];
                        const double dx = q.x - p.x, dy = q.y - p.y, dz = q.z - p.z;
                        const double d2 = dx * dx + dy * dy + dz * dz;
                        if (d2 > farBeyond) continue;  // surely not within reach: no root
                        const double d = std::sqrt(d2);
                        if (!(d < reach)) continue;
                        near_.push_back(j);
                        const double kj = keys_[j];
                        if (!(kj >= key - tol_ && kj <= key + tol_ && d < tol_)) continue;
                        if (kj < key) {
                            if (below < 0 || kj > keys_[below] || (kj == keys_[below] && j < below))
                                below = j;
                        } else if (above < 0 || kj < keys_[above] || (kj == keys_[above] && j > above)) {
                            above = j;
                        }
                    }
                }
        pick = below >= 0 ? below : above;
    }
    if (pick >= 0) return pick;
    const int32_t id = static_cast<int32_t>(points_.size());
    if (id >= capacity_) return -1;
    points_.push_back(p);
    keys_.push_back(key);
    if (!merging_) return id;
    crowded_.push_back(near_.empty() ? 0 : 1);
    for (const int32_t j : near_) crowded_[j] = 1;
    next_.push_back(-1);
    // The tables grow with the points stored (far fewer than the ends): small tables stay in cache.
    // At most one point in two slots: fewer points of other cells on a chain.
    if (2 * points_.size() > heads_.size() && heads_.size() < maxSlots_) {
        heads_.assign(2 * heads_.size(), -1);
        mask_ = heads_.size() - 1;
        for (int32_t j = 0; j < id; j++) chain(j);
    }
    chain(id);
    if (2 * (exactCount_ + 1) > static_cast<int64_t>(exact_.size()) && exact_.size() < maxSlots_) {
        exact_.assign(2 * exact_.size(), -1);
        exactMask_ = exact_.size() - 1;
        for (int32_t j = 0; j < exactCount_; j++) placeExact(j);
    }
    if (2 * (exactCount_ + 1) <= static_cast<int64_t>(exact_.size())) {
        placeExact(id);
        exactCount_++;
    }
    return id;
}

// The point numbers by key, the last stored first among equal keys. The keys are plan distances (not
// negative, no NaN), so their bits order as the values do: a stable radix sort of the numbers taken
// in falling order gives that order.
void orderByKey(const std::vector<double>& keys, std::vector<int32_t>& order) {
    const size_t n = keys.size();
    std::vector<int32_t> from(n), to(n);
    for (size_t i = 0; i < n; i++) from[i] = static_cast<int32_t>(n - 1 - i);
    constexpr int kBits = 11;
    std::vector<size_t> count(size_t{1} << kBits);
    for (int shift = 0; shift < 64; shift += kBits) {
        const auto digit = [&](int32_t i) {
            return (std::bit_cast<uint64_t>(keys[i]) >> shift) & (count.size() - 1);
        };
        std::fill(count.begin(), count.end(), 0);
        for (const int32_t i : from) count[digit(i)]++;
        if (n > 0 && count[digit(from[0])] == n) continue;  // one digit for all: the order stands
        size_t sum = 0;
        for (size_t& c : count) sum += std::exchange(c, sum);
        for (const int32_t i : from) to[count[digit(i)]++] = i;
        from.swap(to);
    }
    order = std::move(from);
}

// collMeshAddEdges over n edges whose ends end(0) ... end(2 n - 1) gives (a and b of each edge).
template <class EndAt>
int addEdgesFrom(CollMesh* mesh, int32_t n, const EndAt& end) {
    if (mesh->vertexCount > 0 || mesh->edgeCount > 0) {
        for (int32_t i = 0; i < n; i++)
            if (collMeshAddEdge(mesh, &end(2 * int64_t{i}), &end(2 * int64_t{i} + 1)) < 0) return -1;
        return 1;
    }
    // The one-pass build takes every coordinate finite and, where points merge, the largest magnitude
    // within 1e12 tolerances (extent / tol < 1e12). Division by the tolerance is monotonic, so that
    // holds exactly when each magnitude is at most the largest one that passes: each end is checked
    // so as it comes, without a pass of its own. Otherwise the build goes edge by edge.
    const double tol = mesh->tolerance;
    bool usable = !(tol > 0.0) || std::isfinite(tol);
    double most = std::numeric_limits<double>::max();
    if (tol > 0.0 && usable) {
        most = std::min(most, 1e12 * tol);
        while (most > 0.0 && !(most / tol < 1e12)) most = std::nextafter(most, 0.0);
        while (most < std::numeric_limits<double>::max() && std::nextafter(most, INFINITY) / tol < 1e12)
            most = std::nextafter(most, INFINITY);
    }
    const auto fits = [most](const Vec3& p) {
        return std::fabs(p.x) <= most && std::fabs(p.y) <= most && std::fabs(p.z) <= most;
    };
    const auto restFit = [&](int64_t from) {
        for (int64_t k = from; k < 2 * int64_t{n}; k++)
            if (!fits(end(k))) return false;
        return true;
    };
    const auto edgeByEdge = [&]() {
        for (int32_t i = 0; i < n; i++)
            if (collMeshAddEdge(mesh, &end(2 * int64_t{i}), &end(2 * int64_t{i} + 1)) < 0) return -1;
        return 1;
    };
    if (!usable) return edgeByEdge();
    int result = 1;
    std::vector<std::pair<int32_t, int32_t>> edges;  // by insertion, in point numbers
    std::vector<int32_t> order;                      // point numbers by key, the last stored first
    std::vector<int32_t> position, start;            // a point's vertex; a vertex's first edge
    try {
        PointMerger merger(tol, 0.0, true, 2 * int64_t{n}, mesh->vertexCapacity);
        if (!merger.usable()) return edgeByEdge();
        // Each point's edges to larger point numbers, chained, to find an edge met again.
        std::vector<int32_t> firstEdge, nextEdge;
        for (int32_t i = 0; i < n && result > 0; i++) {
            const Vec3 &pa = end(2 * int64_t{i}), &pb = end(2 * int64_t{i} + 1);
            if (!fits(pa) || !fits(pb)) {
                usable = false;
                break;
            }
            const int32_t a = merger.find(pa), b = a < 0 ? -1 : merger.find(pb);
            if (a < 0 || b < 0) {
                result = -1;
                usable = restFit(2 * int64_t{i} + 2);
                break;
            }
            if (a == b) continue;
            const int32_t lo = std::min(a, b), hi = std::max(a, b);
            firstEdge.resize(merger.points().size(), -1);
            int32_t e = firstEdge[lo];
            while (e >= 0 && std::max(edges[e].first, edges[e].second) != hi) e = nextEdge[e];
            if (e >= 0) continue;
            if (static_cast<int32_t>(edges.size()) >= mesh->edgeCapacity) {
                result = -1;
                usable = restFit(2 * int64_t{i} + 2);
                break;
            }
            nextEdge.push_back(firstEdge[lo]);
            firstEdge[lo] = static_cast<int32_t>(edges.size());
            edges.emplace_back(a, b);
        }
        if (!usable) return edgeByEdge();  // nothing written yet
        const std::vector<double>& keys = merger.keys();
        orderByKey(keys, order);
        position.resize(order.size()), start.assign(order.size() + 1, 0);
        for (size_t k = 0; k < order.size(); k++) {
            mesh->vertices[k] = CollVertex{keys[order[k]], merger.points()[order[k]], -1, {0.0, 0.0}};
            position[order[k]] = static_cast<int32_t>(k);
        }
    } catch (const std::bad_alloc&) {
        return restFit(0) ? -1 : edgeByEdge();  // nothing written yet
    }
    const int32_t count = static_cast<int32_t>(order.size());
    mesh->vertexCount = count;
    // Edges by their smaller vertex, in insertion order among equal ones (counted into place).
    for (auto& e : edges) {
        e = std::minmax(position[e.first], position[e.second]);
        start[e.first + 1]++;
    }
    for (int32_t k = 0; k < count; k++) start[k + 1] += start[k];
    for (const auto& e : edges) mesh->edges[start[e.first]++] = CollEdge{e.first, e.second, 0, 0};
    mesh->edgeCount = static_cast<int32_t>(edges.size());
    return result;
}

}  // namespace

int collMeshAddEdges(CollMesh* mesh, const Vec3* ends, int32_t n) {
    if (!mesh || (n > 0 && !ends)) return -1;
    return addEdgesFrom(mesh, n, [ends](int64_t k) -> const Vec3& { return ends[k]; });
}

int collMeshAddTriangleEdges(CollMesh* mesh, const Triangle3D* tris, int32_t count) {
    if (!mesh || count < 0 || count > INT32_MAX / 3 || (count > 0 && !tris)) return -1;
    return addEdgesFrom(mesh, 3 * count, [tris](int64_t k) -> const Vec3& {
        static constexpr int kCorner[6] = {0, 1, 1, 2, 2, 0};
        return tris[k / 6].p[kCorner[k % 6]];
    });
}

CollMesh* collMeshFromPolylines(const PlistArray* lists, double tol) {
    if (!lists) return nullptr;
    int64_t total = 0;
    for (int32_t k = 0; k < lists->count; k++)
        if (lists->lists[k]) total += lists->lists[k]->count;
    if (total > INT32_MAX) return nullptr;
    CollMesh* mesh = collMeshCreate(static_cast<int32_t>(total));
    if (!mesh) return nullptr;
    mesh->tolerance = tol;
    std::vector<Vec3> ends;
    try {
        for (int32_t k = 0; k < lists->count; k++) {
            const Plist* l = lists->lists[k];
            for (int32_t i = 0; l && i + 1 < l->count; i++)
                ends.insert(ends.end(), {l->points[i], l->points[i + 1]});
        }
    } catch (const std::bad_alloc&) {
        collMeshFree(mesh);
        return nullptr;
    }
    // The capacity holds every point and every edge, so a failure here is memory that was not had: a
    // mesh missing edges would let the tool pass through them.
    if (collMeshAddEdges(mesh, ends.data(), static_cast<int32_t>(ends.size() / 2)) < 0) {
        collMeshFree(mesh);
        return nullptr;
    }
    return mesh;
}

CollMesh* collMeshRotateCopy(const CollMesh* mesh, double angle) {
    if (!mesh) return nullptr;
    // Sized to what it holds, not to the original's capacity (a file's mesh keeps a fraction of it).
    CollMesh* copy = createSized(mesh->vertexCount, mesh->edgeCount);
    if (!copy) return nullptr;
    if (mesh->sampleCount > 0) {
        copy->samples =
            static_cast<Vec3*>(std::malloc(sizeof(Vec3) * static_cast<size_t>(mesh->sampleCount)));
        if (!copy->samples) {
            collMeshFree(copy);
            return nullptr;
        }
    }
    copy->tolerance = mesh->tolerance;
    copy->vertexCount = mesh->vertexCount;
    copy->edgeCount = mesh->edgeCount;
    copy->sampleCount = mesh->sampleCount;
    const Vec3 origin{0, 0, 0}, zAxis{0, 0, 1};
    AxisTurn turn;
    const bool turns = axisTurnPrepare(&turn, &origin, &zAxis, angle) == 1;
    for (int32_t i = 0; i < mesh->vertexCount; i++) {
        copy->vertices[i] = mesh->vertices[i];
        if (turns) axisTurnApply(&turn, &copy->vertices[i].point);
    }
    std::memcpy(copy->edges, mesh->edges, sizeof(CollEdge) * static_cast<size_t>(mesh->edgeCount));
    for (int32_t i = 0; i < mesh->sampleCount; i++) {
        copy->samples[i] = mesh->samples[i];
        if (turns) axisTurnApply(&turn, &copy->samples[i]);
    }
    return copy;
}

int collMeshTreeBuildOne(CollMesh* mesh) {
    if (!mesh) return 1;
    collMeshTreeFree(mesh->tree);
    mesh->tree = nullptr;
    treeLayoutFree(mesh);
    if (mesh->edgeCount <= 0) return 1;
    bool failed = false;
    TreeScratch w;
    try {
        const size_t n = static_cast<size_t>(mesh->edgeCount);
        for (std::unique_ptr<double[]>& k : w.keys) k.reset(new double[n]);
        w.aboveBits.resize(n / 64 + 1);
        w.points.resize(static_cast<size_t>(mesh->vertexCount) + 1);  // a spare point for the wide loads
        for (int32_t v = 0; v < mesh->vertexCount; v++) w.points[v] = mesh->vertices[v].point;
    } catch (const std::bad_alloc&) {
        return -1;
    }
    // Edges without samples are their two ends: the partitions move half the bytes on those alone, in
    // the same order, and the edges take them back after.
    const int32_t n = mesh->edgeCount;
    const bool bare = std::all_of(mesh->edges, mesh->edges + n,
                                  [](const CollEdge& e) { return e.sampleCount == 0 && e.firstSample == 0; });
    std::vector<EdgeEnds> ends;
    try {
        if (bare) ends.resize(static_cast<size_t>(n));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    CollTreeNode* root = nullptr;
    if (bare) {
        for (int32_t i = 0; i < n; i++) ends[i] = {mesh->edges[i].a, mesh->edges[i].b};
        root = treeNode(mesh, ends.data(), w, 0, n - 1, &failed);
        for (int32_t i = 0; i < n; i++) mesh->edges[i] = CollEdge{ends[i].a, ends[i].b, 0, 0};
    } else {
        root = treeNode(mesh, mesh->edges, w, 0, n - 1, &failed);
    }
    if (failed) {
        collMeshTreeFree(root);
        return -1;
    }
    if (!treeLayoutBuild(mesh, w.points.data(), root)) {
        collMeshTreeFree(root);
        return -1;
    }
    mesh->tree = root;
    return 1;
}

MeshSet* meshSetCreate(int32_t n, int32_t cap) {
    auto* set = static_cast<MeshSet*>(std::calloc(1, sizeof(MeshSet)));
    if (!set) return nullptr;
    set->count = std::clamp(n, 0, static_cast<int32_t>(kMeshSetSlots));
    for (int32_t i = 0; cap > 0 && i < set->count; i++) {
        set->meshes[i] = collMeshCreate(cap);
        if (!set->meshes[i]) {
            meshSetFree(set);
            return nullptr;
        }
    }
    return set;
}

void meshSetFree(MeshSet* set) {
    if (!set) return;
    for (CollMesh* m : set->meshes) collMeshFree(m);
    std::free(set);
}

int collMeshTreeBuild(MeshSet* set) {
    if (!set) return -1;
    for (CollMesh* m : set->meshes)
        if (collMeshTreeBuildOne(m) < 0) return -1;
    return 1;
}

MeshSet* meshSetFinish(MeshSet* set, double angle) {
    CollMesh* base = set->meshes[0];
    set->meshes[2] = collMeshRotateCopy(base, angle);
    set->meshes[3] = collMeshRotateCopy(base, -angle);
    if (set->meshes[1]) set->meshes[4] = collMeshRotateCopy(set->meshes[1], -angle);
    if (!set->meshes[2] || !set->meshes[3] || (set->meshes[1] && !set->meshes[4]) ||
        collMeshTreeBuild(set) < 0) {
        meshSetFree(set);
        return nullptr;
    }
    return set;
}

MeshSet* meshSetFromList(const PlistArray* lists, int32_t withSecond, double angle, double tol) {
    MeshSet* set = meshSetCreate(kMeshSetSlots, 0);
    if (!set) return nullptr;
    set->meshes[0] = collMeshFromPolylines(lists, tol);
    if (set->meshes[0] && withSecond) set->meshes[1] = collMeshRotateCopy(set->meshes[0], angle / 2);
    if (!set->meshes[0] || (withSecond && !set->meshes[1])) {
        meshSetFree(set);
        return nullptr;
    }
    return meshSetFinish(set, angle);
}
