#include "KVWOG5/kont2d.h"

#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "KVWOG5/lists.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/recsort.h"
#include "KVWOG5/seggrid.h"
#include "KVWOG5/wogerr.h"
#include "kernel/base/runreset.h"

namespace {

const char kSourceFile[] = "kont2d";
const int32_t kLineIslandOrient = 4653, kLineSelfIntersect = 4735;
const double kEmptyBox = 1e10;
const double kMergeTol = 1e-5;
const double kBndGap = 1e-6;
// Contours whose z lies this far below a group's first z start a new group.
const double kGroupGap = 1e-6;

int32_t gNoCheck = 0;
int32_t gOpenFlag = 0;
int32_t gBndBlock = 1;

Vec2 startOf(const Seg2D& s) {
    return Vec2{s.x1, s.y1};
}

Vec2 endOf(const Seg2D& s) {
    return Vec2{s.x2, s.y2};
}

// Outer contour first, then its islands.
template <typename K, typename F>
void forOuterAndIslands(K* k, F f) {
    if (!k) return;
    f(k);
    for (K* i = k->firstIsland; i; i = i->next) f(i);
}

// Every outer contour of the set (through next) with its islands.
template <typename F>
void forWholeSet(const Kont2d* k, F f) {
    for (const Kont2d* o = k; o; o = o->next) {
        f(o);
        for (const Kont2d* i = o->firstIsland; i; i = i->next) f(i);
    }
}

void widenBox(Kont2d* k, const Seg2D& s) {
    k->xmin = std::fmin(k->xmin, std::fmin(s.x1, s.x2));
    k->ymin = std::fmin(k->ymin, std::fmin(s.y1, s.y2));
    k->xmax = std::fmax(k->xmax, std::fmax(s.x1, s.x2));
    k->ymax = std::fmax(k->ymax, std::fmax(s.y1, s.y2));
}

// Crossings-multiply test over the element start points.
int crossings(const Vec2* p, const Kont2d* k) {
    const double tx = p->x, ty = p->y;
    const Seg2D* e = k->elements;
    const int32_t n = k->count;
    double x0 = e[n - 1].x1, y0 = e[n - 1].y1;
    bool yflag0 = y0 >= ty;
    bool inside = false;
    for (int32_t j = 0; j < n; j++) {
        const double x1 = e[j].x1, y1 = e[j].y1;
        const bool yflag1 = y1 >= ty;
        if (yflag0 != yflag1 && (((y1 - ty) * (x0 - x1) >= (x1 - tx) * (y0 - y1)) == yflag1))
            inside = !inside;
        yflag0 = yflag1;
        x0 = x1;
        y0 = y1;
    }
    return inside ? 1 : 0;
}

}  // namespace

Kont2d* kont2dCreate(Seg2D* elements, int32_t capacity) {
    Kont2d* k = static_cast<Kont2d*>(std::calloc(1, sizeof(Kont2d)));
    if (!k) return nullptr;
    if (elements) {
        // The caller's array holds what it holds; claiming more slots would write past it.
        if (capacity < 1) {
            std::free(k);
            return nullptr;
        }
        k->elements = elements;
        k->ownsElements = 0;
    } else {
        if (capacity < 3) capacity = 3;
        k->elements = static_cast<Seg2D*>(std::malloc(static_cast<size_t>(capacity) * sizeof(Seg2D)));
        if (!k->elements) {
            std::free(k);
            return nullptr;
        }
        k->ownsElements = 1;
    }
    k->capacity = capacity;
    k->xmin = k->ymin = kEmptyBox;
    k->xmax = k->ymax = -kEmptyBox;
    k->z = DBL_MAX;
    return k;
}

void kont2dFree(Kont2d* k) {
    // Iterative and without allocating (frees run in destructors, also when memory is short): each
    // contour's islands are spliced into the chain ahead of its successor before it is freed.
    while (k) {
        if (Kont2d* island = k->firstIsland) {
            Kont2d* tail = island;
            while (tail->next) tail = tail->next;
            tail->next = k->next;
            k->next = island;
        }
        Kont2d* next = k->next;
        if (k->ownsElements) std::free(k->elements);
        std::free(k);
        k = next;
    }
}

int kont2dAppendElement(Kont2d* k, const Seg2D* element) {
    if (!k || !k->elements || !element) return -1;
    const Seg2D s = *element;
    if (k->count >= k->capacity) {
        if (k->capacity > INT32_MAX / 2) return -1;
        int32_t grown = static_cast<int32_t>(k->capacity * 1.5);
        if (grown <= k->capacity) grown = k->capacity + 1;
        Seg2D* data;
        if (k->ownsElements) {
            data = static_cast<Seg2D*>(std::realloc(k->elements, static_cast<size_t>(grown) * sizeof(Seg2D)));
        } else {
            // Not ours to reallocate: move into an array of our own.
            data = static_cast<Seg2D*>(std::malloc(static_cast<size_t>(grown) * sizeof(Seg2D)));
            if (data) std::memcpy(data, k->elements, static_cast<size_t>(k->count) * sizeof(Seg2D));
        }
        if (!data) return -1;
        k->elements = data;
        k->capacity = grown;
        k->ownsElements = 1;
    }
    k->elements[k->count++] = s;
    widenBox(k, s);
    return 1;
}

namespace {

Kont2d* copyOne(const Kont2d* src) {
    Kont2d* c = static_cast<Kont2d*>(std::malloc(sizeof(Kont2d)));
    if (!c) return nullptr;
    *c = *src;
    const int32_t n = src->count > 0 ? src->count : 0;
    c->elements = static_cast<Seg2D*>(std::malloc((n > 0 ? static_cast<size_t>(n) : 1) * sizeof(Seg2D)));
    if (!c->elements) {
        std::free(c);
        return nullptr;
    }
    if (n > 0) std::memcpy(c->elements, src->elements, static_cast<size_t>(n) * sizeof(Seg2D));
    c->capacity = n;
    c->ownsElements = 1;
    c->reservedPtr = nullptr;
    c->prev = c->next = c->firstIsland = nullptr;
    return c;
}

}  // namespace

Kont2d* kont2dCopy(const Kont2d* k) {
    if (!k) return nullptr;
    Kont2d* outer = copyOne(k);
    if (!outer) return nullptr;
    Kont2d* last = outer;
    for (const Kont2d* i = k->firstIsland; i; i = i->next) {
        Kont2d* c = copyOne(i);
        if (!c) {
            kont2dFree(outer);
            return nullptr;
        }
        c->prev = last;
        if (last == outer)
            outer->firstIsland = c;
        else
            last->next = c;
        last = c;
    }
    return outer;
}

int kont2dScale(Kont2d* k, double factor) {
    if (!k || k->count == 0) return 1;
    forOuterAndIslands(k, [factor](Kont2d* c) {
        c->xmin *= factor;
        c->ymin *= factor;
        c->xmax *= factor;
        c->ymax *= factor;
        c->z *= factor;
        for (int32_t i = 0; i < c->count; i++) {
            Seg2D& s = c->elements[i];
            s.x1 *= factor;
            s.y1 *= factor;
            s.x2 *= factor;
            s.y2 *= factor;
        }
    });
    return 1;
}

int kont2dUpdateBox(Kont2d* k) {
    if (!k || k->count == 0) return 0;
    k->xmin = k->ymin = kEmptyBox;
    k->xmax = k->ymax = -kEmptyBox;
    for (int32_t i = 0; i < k->count; i++) widenBox(k, k->elements[i]);
    return 1;
}

int kont2dOrientation(const Kont2d* k) {
    if (!k || k->count == 0) return -1;
    const Seg2D* e = k->elements;
    const int32_t n = k->count;
    // Relative to the first vertex taken, which keeps the sum accurate far from the origin.
    const double rx = e[n - 1].x1, ry = e[n - 1].y1;
    double px = 0.0, py = 0.0, sum = 0.0;
    for (int32_t i = 0; i < n; i++) {
        const double x = e[i].x1 - rx, y = e[i].y1 - ry;
        sum += (py + y) * (px - x);
        px = x;
        py = y;
    }
    return sum > 0.0 ? 1 : -1;
}

int kont2dMergeCollinear(Kont2d* k) {
    if (!k || k->count < 2) return 1;
    Seg2D* e = k->elements;
    int32_t w = 0;
    for (int32_t i = 1; i < k->count; i++) {
        const Vec2 we = endOf(e[w]), ws = startOf(e[w]), is = startOf(e[i]), ie = endOf(e[i]);
        if (wogDist2D(&we, &is) < kMergeTol && std::fabs(triArea2D(&ws, &is, &ie)) < kMergeTol) {
            e[w].x2 = e[i].x2;
            e[w].y2 = e[i].y2;
        } else {
            e[++w] = e[i];
        }
    }
    k->count = w + 1;
    kont2dUpdateBox(k);
    return 1;
}

int kont2dReverse(Kont2d* k) {
    forOuterAndIslands(k, [](Kont2d* c) {
        Seg2D* e = c->elements;
        for (int32_t i = 0, j = c->count - 1; i <= j; i++, j--) {
            const Seg2D a = e[i], b = e[j];
            e[i] = Seg2D{b.x2, b.y2, b.x1, b.y1};
            e[j] = Seg2D{a.x2, a.y2, a.x1, a.y1};
        }
    });
    return 1;
}

int kont2dClassifyPoint(const Kont2d* k, const Vec2* p) {
    if (!k || !p) return 0;
    if (!pointInPolygon2D(p, k)) return kKontOutside;
    for (const Kont2d* i = k->firstIsland; i; i = i->next)
        if (pointInPolygon2D(p, i)) return kKontInIsland;
    return kKontInside;
}

int kont2dFindContaining(const Kont2d* k, const Vec2* p) {
    if (!k || !p || k->count == 0) return kKontNotFound;
    int result = kKontNotFound;
    int index = -1;
    forOuterAndIslands(k, [&](const Kont2d* c) {
        if (result != kKontNotFound) return;
        for (int32_t i = 0; i < c->count; i++)
            if (pointOnSeg2D(p, &c->elements[i])) {
                result = index;
                return;
            }
        index++;
    });
    return result;
}

int kont2dNearestPoint(const Vec2* p, const Kont2d* k, Vec2* out) {
    if (!p || !k || !out) return 0;
    double best = 1e10;
    int found = 0;
    forOuterAndIslands(k, [&](const Kont2d* c) {
        for (int32_t i = 0; i < c->count; i++) {
            const Seg2D& s = c->elements[i];
            Vec2 cand;
            if (!footOnSeg2D(p, &s, &cand)) {
                const Vec2 a = startOf(s), b = endOf(s);
                cand = wogDist2D(p, &a) < wogDist2D(p, &b) ? a : b;
            }
            const double dx = cand.x - p->x, dy = cand.y - p->y;
            const double d2 = dx * dx + dy * dy;
            if (d2 < best) {
                best = d2;
                *out = cand;
                found = 1;
            }
        }
    });
    return found;
}

int kont2dCompareZ(const void* a, const void* b) {
    const Kont2d* ka = *static_cast<Kont2d* const*>(a);
    const Kont2d* kb = *static_cast<Kont2d* const*>(b);
    if (std::fabs(ka->z - kb->z) <= 1e-5) return 0;
    return ka->z > kb->z ? -1 : 1;
}

int kont2dCompareLevel(const void* a, const void* b) {
    const Kont2d* ka = *static_cast<Kont2d* const*>(a);
    const Kont2d* kb = *static_cast<Kont2d* const*>(b);
    const int pa = ka->level & 1, pb = kb->level & 1;
    if (pa != pb) return pa < pb ? -1 : 1;
    if (ka->level != kb->level) return ka->level < kb->level ? -1 : 1;
    if (ka->xmin != kb->xmin) return ka->xmin < kb->xmin ? -1 : 1;
    return 0;
}

int kont2dBuildNesting(Kont2d** contours, int32_t n) {
    if (!contours || n < 1) return 1;
    for (int32_t i = 0; i < n; i++) {
        if (!contours[i]) continue;
        contours[i]->prev = contours[i]->next = contours[i]->firstIsland = nullptr;
    }
    // Missing entries go to the end so that the groups are contiguous.
    int32_t m = 0;
    for (int32_t i = 0; i < n; i++)
        if (contours[i]) contours[m++] = contours[i];
    for (int32_t i = m; i < n; i++) contours[i] = nullptr;
    sortRecords(contours, m, static_cast<int32_t>(sizeof(Kont2d*)), kont2dCompareZ);

    Kont2d* chainTail = nullptr;
    for (int32_t g0 = 0; g0 < m;) {
        int32_t g1 = g0 + 1;
        while (g1 < m && !(contours[g1]->z <= contours[g0]->z - kGroupGap)) g1++;
        for (int32_t i = g0; i < g1; i++) {
            Kont2d* c = contours[i];
            c->level = 0;
            if (c->count == 0) continue;
            const Vec2 s = startOf(c->elements[0]);
            for (int32_t j = g0; j < g1; j++)
                if (j != i && pointInContourTol(&s, contours[j], 0.0)) c->level++;
        }
        sortRecords(contours + g0, g1 - g0, static_cast<int32_t>(sizeof(Kont2d*)), kont2dCompareLevel);
        int32_t firstOdd = g0;
        while (firstOdd < g1 && (contours[firstOdd]->level & 1) == 0) firstOdd++;
        for (int32_t i = g0; i < firstOdd; i++) {
            if (chainTail) {
                chainTail->next = contours[i];
                contours[i]->prev = chainTail;
            }
            chainTail = contours[i];
        }
        for (int32_t i = firstOdd; i < g1; i++) {
            Kont2d* isl = contours[i];
            Kont2d* parent = nullptr;
            if (isl->count > 0) {
                const Vec2 s = startOf(isl->elements[0]);
                for (int32_t j = g0; j < firstOdd && !parent; j++)
                    if (contours[j]->level + 1 == isl->level && pointInPolygon2D(&s, contours[j]))
                        parent = contours[j];
            }
            if (!parent) {
                // An island under no contour would be lost from the set: free it here.
                kont2dFree(isl);
                contours[i] = nullptr;
                continue;
            }
            // Linked under the first parent only, so that freeing the set frees it once.
            Kont2d* last = parent->firstIsland;
            if (!last) {
                parent->firstIsland = isl;
                isl->prev = parent;
            } else {
                while (last->next) last = last->next;
                last->next = isl;
                isl->prev = last;
            }
        }
        g0 = g1;
    }
    int32_t k = 0;
    for (int32_t i = 0; i < m; i++)
        if (contours[i]) contours[k++] = contours[i];
    for (int32_t i = k; i < m; i++) contours[i] = nullptr;
    return 1;
}

int kont2dCheckSelfIntersect(const Kont2d* k, PointList2D* crossings, int32_t goOn, double endTolerance) {
    if (!k || k->count < 3) return 0;
    int32_t total = 0;
    forOuterAndIslands(k, [&](const Kont2d* c) { total += c->count; });
    SegList2D* list = segList2DCreate(total);
    if (!list) {
        wogError(-1, kSourceFile, __LINE__);
        return -1;
    }
    bool failed = false;
    forOuterAndIslands(k, [&](const Kont2d* c) {
        for (int32_t i = 0; i < c->count && !failed; i++)
            if (segList2DAdd(list, &c->elements[i]) < 0) failed = true;
    });
    if (failed) {
        segList2DFree(list);
        wogError(-1, kSourceFile, __LINE__);
        return -1;
    }
    // Contours are chains, which the chain check handles in about n log n; the crossings
    // themselves come only from the listing search.
    const int r = crossings ? segListSelfIntersect(list, crossings, goOn, endTolerance)
                            : segChainSelfIntersect(list->data, list->count, endTolerance, goOn);
    segList2DFree(list);
    return r;
}

int kont2dValidate(Kont2d* k, int32_t flags) {
    if (gNoCheck) return 1;
    if (!k || k->count == 0) return 0;
    if ((flags & 1) && k->firstIsland) {
        const int o = kont2dOrientation(k);
        int sum = 0, n = 0;
        for (const Kont2d* i = k->firstIsland; i; i = i->next) {
            if (i->closed == 1) sum += kont2dOrientation(i);
            n++;
        }
        if (std::abs(sum) != n || sum * o >= 1) {
            wogError(kKontIslandOrient, kSourceFile, kLineIslandOrient);
            return kKontIslandOrient;
        }
    }
    if ((flags & 2) && kont2dCheckSelfIntersect(k, nullptr, 0, 1e-5) == 1) {
        if (wogDebugEnabled()) {
            Kont2d* next = k->next;
            k->next = nullptr;
            kont2dWriteBnd(k, "problem.bnd");
            k->next = next;
        }
        wogError(kKontSelfIntersect, kSourceFile, kLineSelfIntersect);
        return kKontSelfIntersect;
    }
    return 1;
}

Kont2d* kont2dCreateRect(const Vec2* a, const Vec2* b) {
    if (!a || !b) return nullptr;
    const double x0 = std::fmin(a->x, b->x), x1 = std::fmax(a->x, b->x);
    const double y0 = std::fmin(a->y, b->y), y1 = std::fmax(a->y, b->y);
    Kont2d* k = kont2dCreate(nullptr, 4);
    if (!k) return nullptr;
    const Seg2D sides[4] = {{x0, y0, x1, y0}, {x1, y0, x1, y1}, {x1, y1, x0, y1}, {x0, y1, x0, y0}};
    for (const Seg2D& s : sides)
        if (kont2dAppendElement(k, &s) != 1) {
            kont2dFree(k);
            return nullptr;
        }
    return k;
}

int kont2dWriteBnd(const Kont2d* k, const char* path) {
    if (!k || k->count == 0 || !path) return 0;
    FILE* f = std::fopen(path, "a+");
    if (!f) return -1;
    forWholeSet(k, [f](const Kont2d* c) {
        if (c->count == 0) return;
        const Seg2D* e = c->elements;
        std::fprintf(f, "**BND %d **WZ\n", gBndBlock++);
        std::fprintf(f, "X%lf Y%lf Z%lf\n", e[0].x1, e[0].y1, c->z);
        for (int32_t i = 1; i < c->count; i++) {
            const Vec2 pe = endOf(e[i - 1]), s = startOf(e[i]);
            if (wogDist2D(&pe, &s) > kBndGap) {
                std::fprintf(f, "X%lf Y%lf Z%lf\n", pe.x, pe.y, c->z);
                std::fprintf(f, "**END\n");
                std::fprintf(f, "**BND %d **WZ\n", gBndBlock++);
            }
            std::fprintf(f, "X%lf Y%lf Z%lf\n", s.x, s.y, c->z);
        }
        std::fprintf(f, "X%lf Y%lf Z%lf\n", e[c->count - 1].x2, e[c->count - 1].y2, c->z);
        std::fprintf(f, "**END\n");
    });
    std::fclose(f);
    return 1;
}

int kont2dSetNoCheck(int32_t flag) {
    gNoCheck = flag ? 1 : 0;
    return 1;
}

int kont2dGetNoCheck() {
    return gNoCheck;
}

int kont2dSetOpenFlag(int32_t flag) {
    gOpenFlag = flag ? 1 : 0;
    return 1;
}

int kont2dGetOpenFlag() {
    return gOpenFlag;
}

int pointInPolygon2D(const Vec2* p, const Kont2d* k) {
    if (!p || !k || !k->elements || k->count < 3) return 0;
    if (p->x < k->xmin || p->x > k->xmax || p->y < k->ymin || p->y > k->ymax) return 0;
    return crossings(p, k);
}

int pointInContourTol(const Vec2* p, const Kont2d* k, double tolerance) {
    if (!p || !k || !k->elements || k->count < 3) return 0;
    if (p->x < k->xmin - tolerance || p->x > k->xmax + tolerance || p->y < k->ymin - tolerance ||
        p->y > k->ymax + tolerance)
        return 0;
    return crossings(p, k);
}

int segContourIntersect2D(const Seg2D* seg, const Kont2d* k, Vec2* out) {
    if (!seg || !k || !out) return 0;
    int found = 0;
    forOuterAndIslands(k, [&](const Kont2d* c) {
        for (int32_t i = 0; i < c->count && !found; i++)
            // A collinear overlap has no single crossing; a later element gives one.
            if (segsIntersect2D(seg, &c->elements[i]) && segLinesIntersect2D(seg, &c->elements[i], out))
                found = 1;
    });
    return found;
}

void kont2dResetState() {
    gNoCheck = 0;
    gOpenFlag = 0;
    gBndBlock = 1;
}
static const LoadReset gLoadReset(kRunResetOffsets, "kont2d", kont2dResetState);
