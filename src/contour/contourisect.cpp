#include "contour/contourisect.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "KVWOG5/recsort.h"
#include "contour/chainindex.h"
#include "kernel/base/constants.h"

namespace {

const double kAngTol = 1e-4;

bool ptEq(const Vec2& p, double x, double y) {
    return isEqualTol(p.x, x) && isEqualTol(p.y, y);
}
bool atStart(const Vec2& p, const Seg2D& e) {
    return ptEq(p, e.x1, e.y1);
}
bool atEnd(const Vec2& p, const Seg2D& e) {
    return ptEq(p, e.x2, e.y2);
}

double paramOn(const Seg2D& e, const Vec2& p) {
    if (isEqualTol(e.x1, e.x2)) {
        double den = e.y2 - e.y1;
        return std::fabs(den) < 1e-12 ? 0.0 : (p.y - e.y1) / den;
    }
    return (p.x - e.x1) / (e.x2 - e.x1);
}

// p sits at the end of element ej. True when both branches of ej's chain at p (back along ej,
// on along ejNext) stay on one side of ei's path through p, i.e. the chains only touch.
// eiNext is ei's successor when p is also ei's end, else null.
bool touchOnly(const Vec2& p, const Seg2D& ei, const Seg2D* eiNext, const Seg2D& ej, const Seg2D& ejNext,
               bool brk) {
    double A = polarAngle2D(ej.y1 - ej.y2, ej.x1 - ej.x2);
    double B = polarAngle2D(ei.y1 - p.y, ei.x1 - p.x);
    double C = polarAngle2D(ejNext.y2 - ejNext.y1, ejNext.x2 - ejNext.x1);
    double D;
    if (eiNext) {
        D = polarAngle2D(eiNext->y2 - eiNext->y1, eiNext->x2 - eiNext->x1);
        if (D < B) D += 2 * kPi;
    } else {
        D = B + kPi;
    }
    if (A < B - kAngTol) A += 2 * kPi;
    if (C < B - kAngTol) C += 2 * kPi;
    if ((D < A && D + kAngTol < C) || (A < D && B + kAngTol < C && C < D - kAngTol)) return true;
    return !brk && (isEqualTol(C, B) || isEqualTol(C, D));
}

void sortRange(IsectRecord* table, int32_t from, int32_t to) {
    if (to - from > 1) sortRecords(table + from, to - from, sizeof(IsectRecord), isectRecordCompare);
}

bool sameChains(const Seg2D* a, int32_t nA, const Seg2D* b, int32_t nB) {
    if (nA != nB) return false;
    for (int32_t k = 0; k < nA; k++) {
        if (std::fabs(a[k].x1 - b[k].x1) >= 1e-5 || std::fabs(a[k].y1 - b[k].y1) >= 1e-5 ||
            std::fabs(a[k].x2 - b[k].x2) >= 1e-5 || std::fabs(a[k].y2 - b[k].y2) >= 1e-5)
            return false;
    }
    return true;
}

// Crossings between a and b, handed to emit(record) record by record; after all candidates of
// one element of a, done(firstRecordOfThatElement) runs. emit returns false to stop with -1.
template <class Emit, class Done>
int pairSearch(const Seg2D* a, int32_t nA, const Seg2D* b, int32_t nB, Emit emit, Done done) {
    if (!a || !b || nA <= 0 || nB <= 0) return 0;
    if (sameChains(a, nA, b, nB)) return 0;
    ChainIndex* ix = chainIndexCreate(b, nB, 1, 0);
    // Bit (ka, kb) records that the pair overlapped collinearly; a start point of an element is
    // a crossing only where its predecessor ran along the other chain.
    const size_t bitCount = static_cast<size_t>(nA) * static_cast<size_t>(nB);
    unsigned char* bits = static_cast<unsigned char*>(std::calloc(bitCount / 8 + 1, 1));
    if (!bits) {
        chainIndexFree(ix);
        return -1;
    }
    auto bit = [&](int32_t ka, int32_t kb) {
        size_t k = static_cast<size_t>(ka) * static_cast<size_t>(nB) + static_cast<size_t>(kb);
        return (bits[k >> 3] >> (k & 7)) & 1;
    };
    auto setBit = [&](int32_t ka, int32_t kb) {
        size_t k = static_cast<size_t>(ka) * static_cast<size_t>(nB) + static_cast<size_t>(kb);
        bits[k >> 3] = static_cast<unsigned char>(bits[k >> 3] | (1u << (k & 7)));
    };
    int rc = 0;
    int32_t count = 0;
    for (int32_t ka = 0; ka < nA && rc == 0; ka++) {
        const int32_t batch = count;
        for (int32_t kb = chainIndexFindCrossing(&a[ka], ix, 0); kb >= 0 && kb < nB;
             kb = chainIndexFindCrossing(&a[ka], ix, kb + 1)) {
            Vec2 p;
            int r = segSegIsect2D(&a[ka], &b[kb], &p);
            if (r == -1) setBit(ka, kb);
            if (r != 1) continue;
            int32_t ia = ka, ib = kb;
            if (ka > 0 && atStart(p, a[ka])) {
                if (!bit(ka - 1, kb)) continue;
                ia = ka - 1;
            }
            if (kb > 0 && atStart(p, b[kb])) {
                if (!bit(ka, kb - 1) && !bit(ia, kb - 1)) continue;
                ib = kb - 1;
            }
            if (atEnd(p, b[ib])) {
                if (ib == nB - 1) continue;
                const Seg2D* aNext = atEnd(p, a[ia]) && ia + 1 < nA ? &a[ia + 1] : nullptr;
                if (touchOnly(p, a[ia], aNext, b[ib], b[ib + 1], false)) continue;
            }
            IsectRecord rec{p.x, p.y, paramOn(a[ia], p), ia + 1, ib + 1, 1};
            if (!emit(rec)) {
                rc = -1;
                break;
            }
            count++;
        }
        if (rc == 0) done(batch, count);
    }
    chainIndexFree(ix);
    std::free(bits);
    return rc < 0 ? rc : count;
}

}  // namespace

IsectList* isectListCreate(int32_t capacity) {
    if (capacity < 0) capacity = 0;
    IsectList* list = static_cast<IsectList*>(std::calloc(1, sizeof(IsectList)));
    if (!list) return nullptr;
    if (capacity > 0) {
        list->data =
            static_cast<IsectRecord*>(std::malloc(sizeof(IsectRecord) * static_cast<size_t>(capacity)));
        if (!list->data) {
            std::free(list);
            return nullptr;
        }
    }
    list->capacity = capacity;
    return list;
}

int isectListAdd(IsectList* list, const IsectRecord* record) {
    if (!list || !record) return -1;
    if (list->count >= list->capacity) {
        if (list->capacity > INT32_MAX / 2) return -1;
        int32_t cap = list->capacity < 1 ? 1 : 2 * list->capacity;
        void* p = std::realloc(list->data, sizeof(IsectRecord) * static_cast<size_t>(cap));
        if (!p) return -1;
        list->data = static_cast<IsectRecord*>(p);
        list->capacity = cap;
    }
    list->data[list->count++] = *record;
    return 1;
}

void isectListFree(IsectList* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

int isectRecordCompare(const void* a, const void* b) {
    const IsectRecord* ra = static_cast<const IsectRecord*>(a);
    const IsectRecord* rb = static_cast<const IsectRecord*>(b);
    if (ra->i != rb->i) return ra->i < rb->i ? -1 : 1;
    if (ra->t == rb->t) return 0;
    return rb->t < ra->t ? 1 : -1;
}

int contour_self_isect2D(const Seg2D* chain, int32_t n, IsectRecord* table, int32_t capacity, int mode) {
    if (!chain || n <= 0) return 0;
    if (!table) return -1;
    const int32_t limit = capacity < kSelfIsectMax ? capacity : kSelfIsectMax;
    const bool closed =
        std::fabs(chain[0].x1 - chain[n - 1].x2) < 1e-5 && std::fabs(chain[0].y1 - chain[n - 1].y2) < 1e-5;
    ChainIndex* ix = chainIndexCreate(chain, n, 1, 0);
    // breaksBefore[k]: number of breaks after elements 0 .. k-1 (a break follows element k when
    // its end is not the next element's start).
    std::vector<int32_t> breaksBefore;
    std::vector<unsigned char> brk;
    if (mode == -1) {
        try {
            brk.resize(static_cast<size_t>(n));
            breaksBefore.resize(static_cast<size_t>(n) + 1);
        } catch (const std::bad_alloc&) {
            chainIndexFree(ix);
            return -1;
        }
        breaksBefore[0] = 0;
        for (int32_t k = 0; k < n; k++) {
            const Seg2D& nx = chain[k + 1 < n ? k + 1 : 0];
            brk[k] = isEqualTol(chain[k].x2, nx.x1) && isEqualTol(chain[k].y2, nx.y1) ? 0 : 1;
            breaksBefore[k + 1] = breaksBefore[k] + brk[k];
        }
    }
    int32_t count = 0;
    int32_t prevOverlap = -1;  // latest candidate that ran collinearly along element i - 1
    for (int32_t i = 0; i < n; i++) {
        int32_t curOverlap = -1;
        const int32_t batch = count;
        if (i < n - 2 && chainIndexFindCrossing(&chain[i], ix, i + 2) < 0) {
            prevOverlap = -1;
            continue;
        }
        for (int32_t j = chainIndexFindCrossing(&chain[i], ix, i + 1); j >= 0 && j < n;
             j = j == n - 1 ? -1 : chainIndexFindCrossing(&chain[i], ix, j + 1)) {
            Vec2 p;
            int r = segSegIsect2D(&chain[i], &chain[j], &p);
            if (r == -1) curOverlap = j;
            if (r != 1 || j == i + 1) continue;
            if (closed && i == 0 && j == n - 1) continue;
            int32_t ii = i, jj = j;
            if (atStart(p, chain[j])) {
                if (curOverlap != j - 1) continue;
                jj = j - 1;
            }
            if (atStart(p, chain[i])) {
                if (i > 0) {
                    if (prevOverlap != j && prevOverlap != jj) continue;
                    ii = i - 1;
                }
            }
            if (atEnd(p, chain[jj])) {
                if (jj == n - 1) continue;
                const bool hasBreak = mode == -1 && breaksBefore[jj] - breaksBefore[ii] > 0;
                if (hasBreak && brk[jj]) continue;
                const Seg2D* iNext = atEnd(p, chain[ii]) ? &chain[ii + 1] : nullptr;
                if (touchOnly(p, chain[ii], iNext, chain[jj], chain[jj + 1], hasBreak)) continue;
            }
            if (count >= limit) {
                chainIndexFree(ix);
                return -1;
            }
            table[count++] = IsectRecord{p.x, p.y, paramOn(chain[ii], p), ii + 1, jj + 1, 0};
        }
        sortRange(table, batch, count);
        prevOverlap = curOverlap;
    }
    chainIndexFree(ix);
    return count;
}

int contour_pair_isect2D(const Seg2D* a, int32_t nA, const Seg2D* b, int32_t nB, IsectRecord* table,
                         int32_t capacity) {
    if (!table && nA > 0 && nB > 0) return -1;
    int32_t used = 0;
    return pairSearch(
        a, nA, b, nB,
        [&](const IsectRecord& rec) {
            if (used >= capacity) return false;
            table[used++] = rec;
            return true;
        },
        [&](int32_t from, int32_t to) { sortRange(table, from, to); });
}

int contour_pair_isect2D_b(const Seg2D* a, int32_t nA, const Seg2D* b, int32_t nB, IsectList* list) {
    if (!list) return -1;
    list->count = 0;
    int rc = pairSearch(
        a, nA, b, nB, [&](const IsectRecord& rec) { return isectListAdd(list, &rec) == 1; },
        [&](int32_t, int32_t) { sortRange(list->data, 0, list->count); });
    return rc < 0 ? rc : list->count;
}
