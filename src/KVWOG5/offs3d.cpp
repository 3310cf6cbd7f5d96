// Offset engine records: the path, the search cache and the tool-kind hooks.
#include "KVWOG5/offs3d.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "KVWOG5/kont2d.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/recsort.h"
#include "KVWOG5/tricont.h"
#include "KVWOG5/wogerr.h"
#include "geometry/grid2d.h"

namespace {

const char kSourceFile[] = "OFFS3D";
const int32_t kLineBoxTable = 6391, kLineElementGrid = 6401, kLineGridFill = 6404, kLineTriangles = 6322;
const int32_t kMaxGridCells = 30;
const int32_t kGridCellCapacity = 100;
// Above this many elements boxes are computed on demand instead of stored.
const int32_t kMaxBoxTable = 500000;
const double kMergeArea = 1e-5;
const double kNoExtent = 1e-5;

// Per-element radius additions of one thread: pairs of floats, the second added to the radius.
struct RadiusTable {
    int32_t count;
    float (*pairs)[2];
};
const int kThreadSlots = 1024;
RadiusTable* gThreadRadius[kThreadSlots];

void emptyPathBox(Offs3dPath* path) {
    path->box[0] = path->box[1] = path->box[2] = DBL_MAX;
    path->box[3] = path->box[4] = path->box[5] = -DBL_MAX;
}

// Plain comparisons: path coordinates are never NaN, and fmin and fmax are library calls here.
double lesser(double a, double b) {
    return b < a ? b : a;
}

double greater(double a, double b) {
    return b > a ? b : a;
}

void widenPathBox(Offs3dPath* path, const Offs3dBox& b) {
    path->box[0] = lesser(path->box[0], b.xmin);
    path->box[1] = lesser(path->box[1], b.ymin);
    path->box[2] = lesser(path->box[2], b.zmin);
    path->box[3] = greater(path->box[3], b.xmax);
    path->box[4] = greater(path->box[4], b.ymax);
    path->box[5] = greater(path->box[5], b.zmax);
}

template <typename T>
bool growArray(T*& data, int32_t capacity) {
    T* p = static_cast<T*>(std::realloc(data, static_cast<size_t>(capacity) * sizeof(T)));
    if (!p) return false;
    data = p;
    return true;
}

void computeBox(const Kont2d* k, int32_t i, double margin, double* out) {
    const Seg2D& s = k->elements[i];
    out[0] = std::fmin(s.x1, s.x2) - margin;
    out[1] = std::fmin(s.y1, s.y2) - margin;
    out[2] = std::fmax(s.x1, s.x2) + margin;
    out[3] = std::fmax(s.y1, s.y2) + margin;
}

void computeLine(const Kont2d* k, int32_t i, Offs3dLine* out) {
    out->ok = segLineEquation2D(&k->elements[i], &out->a, &out->b, &out->c);
}

Offs3dBoxTable* createBoxTable(const Kont2d* k, double margin) {
    Offs3dBoxTable* t = static_cast<Offs3dBoxTable*>(std::calloc(1, sizeof(Offs3dBoxTable)));
    if (!t) return nullptr;
    t->count = k->count;
    t->margin = margin;
    t->elements = k;
    for (int32_t i = 0; i < k->count; i++)
        t->widest = std::fmax(t->widest, std::fabs(k->elements[i].x2 - k->elements[i].x1));
    if (k->count >= 1 && k->count < kMaxBoxTable) {
        t->boxes = static_cast<double(*)[4]>(std::malloc(static_cast<size_t>(k->count) * sizeof(double[4])));
        if (!t->boxes) {
            std::free(t);
            return nullptr;
        }
        t->lines = static_cast<Offs3dLine*>(std::malloc(static_cast<size_t>(k->count) * sizeof(Offs3dLine)));
        if (!t->lines) {
            std::free(t->boxes);
            std::free(t);
            return nullptr;
        }
        for (int32_t i = 0; i < k->count; i++) {
            computeBox(k, i, margin, t->boxes[i]);
            computeLine(k, i, &t->lines[i]);
        }
    }
    return t;
}

void freeBoxTable(Offs3dBoxTable* t) {
    if (!t) return;
    std::free(t->boxes);
    std::free(t->lines);
    std::free(t);
}

int32_t cellsFor(double extent, double radius) {
    const double q = std::floor(std::fabs(extent) / (2.0 * radius));
    if (!(q < kMaxGridCells)) return kMaxGridCells;
    return static_cast<int32_t>(q) + 1 < kMaxGridCells ? static_cast<int32_t>(q) + 1 : kMaxGridCells;
}

}  // namespace

// ---- path

int offs3dSegBox(const Offs3dSeg* seg, Offs3dBox* out) {
    out->xmin = lesser(seg->x1, seg->x2);
    out->ymin = lesser(seg->y1, seg->y2);
    out->zmin = lesser(seg->z1, seg->z2);
    out->xmax = greater(seg->x1, seg->x2);
    out->ymax = greater(seg->y1, seg->y2);
    out->zmax = greater(seg->z1, seg->z2);
    return 1;
}

Offs3dPath* offs3dPathCreate(int32_t n) {
    if (n < 2) n = 2;
    Offs3dPath* p = static_cast<Offs3dPath*>(std::calloc(1, sizeof(Offs3dPath)));
    if (!p) return nullptr;
    const size_t cap = static_cast<size_t>(n);
    p->segments = static_cast<Offs3dSeg*>(std::malloc(cap * sizeof(Offs3dSeg)));
    p->segmentBoxes = static_cast<Offs3dBox*>(std::malloc(cap * sizeof(Offs3dBox)));
    p->contacts = static_cast<Vec3*>(std::malloc(cap * sizeof(Vec3)));
    p->elements = static_cast<int32_t*>(std::malloc(cap * sizeof(int32_t)));
    p->kinds = static_cast<int32_t*>(std::malloc(cap * sizeof(int32_t)));
    if (!p->segments || !p->segmentBoxes || !p->contacts || !p->elements || !p->kinds) {
        offs3dPathFree(p);
        return nullptr;
    }
    p->capacity = n;
    emptyPathBox(p);
    return p;
}

void offs3dPathFree(Offs3dPath* path) {
    if (!path) return;
    std::free(path->segments);
    std::free(path->segmentBoxes);
    std::free(path->contacts);
    std::free(path->elements);
    std::free(path->kinds);
    std::free(path);
}

int offs3dPathReserve(Offs3dPath* path, int32_t n) {
    if (!path || !path->segments) return -1;
    if (n <= path->capacity) return 1;
    if (!growArray(path->segments, n) || !growArray(path->segmentBoxes, n) || !growArray(path->contacts, n) ||
        !growArray(path->elements, n) || !growArray(path->kinds, n))
        return -1;
    path->capacity = n;
    return 1;
}

int offs3dPathReset(Offs3dPath* path) {
    if (!path) return 0;
    path->count = 0;
    emptyPathBox(path);
    path->lockSaved = path->lock = path->reserved = 0;
    return 1;
}

int offs3dPathAdd(Offs3dPath* path, const Offs3dSeg* seg, const Vec3* contact, int32_t element,
                  int32_t kind) {
    if (!path || !seg || !contact || !path->segments) return -1;
    const Offs3dSeg s = *seg;
    const Vec3 c = *contact;
    if (path->count >= path->capacity) {
        if (path->capacity > INT32_MAX / 2) return -1;
        const int32_t grown = static_cast<int32_t>(path->capacity * 1.5);
        // Each array keeps its old block until all five have grown, so a failure loses nothing.
        if (!growArray(path->segments, grown) || !growArray(path->segmentBoxes, grown) ||
            !growArray(path->contacts, grown) || !growArray(path->elements, grown) ||
            !growArray(path->kinds, grown))
            return -1;
        path->capacity = grown;
    }
    const int32_t i = path->count;
    path->segments[i] = s;
    offs3dSegBox(&s, &path->segmentBoxes[i]);
    path->contacts[i] = c;
    path->elements[i] = element;
    path->kinds[i] = kind;
    widenPathBox(path, path->segmentBoxes[i]);
    path->count++;
    return i;
}

int offs3dPathPut(Offs3dPath* path, const Offs3dSeg* seg, const Vec3* contact, int32_t element,
                  int32_t kind) {
    if (!path || !seg || !contact) return -1;
    if (std::fabs(seg->x2 - seg->x1) + std::fabs(seg->y2 - seg->y1) < kNoExtent && path->count > 0 &&
        path->lock != 1) {
        const int32_t i = path->count - 1;
        Offs3dSeg& last = path->segments[i];
        last.x2 = seg->x2;
        last.y2 = seg->y2;
        last.z2 = seg->z2;
        path->contacts[i] = *contact;
        path->elements[i] = element;
        path->kinds[i] = kind;
        offs3dSegBox(&last, &path->segmentBoxes[i]);
        widenPathBox(path, path->segmentBoxes[i]);
        return 1;
    }
    return offs3dPathAdd(path, seg, contact, element, kind) < 0 ? -1 : 1;
}

int offs3dPathUpdateBox(Offs3dPath* path) {
    if (!path || path->count == 0) return 0;
    const Offs3dSeg& s0 = path->segments[0];
    path->box[0] = path->box[3] = s0.x1;
    path->box[1] = path->box[4] = s0.y1;
    path->box[2] = path->box[5] = s0.z1;
    for (int32_t i = 0; i < path->count; i++) {
        offs3dSegBox(&path->segments[i], &path->segmentBoxes[i]);
        widenPathBox(path, path->segmentBoxes[i]);
    }
    return 1;
}

int offs3dSegsMergeable(const Offs3dPath* path, int32_t a, int32_t b) {
    if (!path || a < 0 || b < 0 || a >= path->count || b >= path->count) return 0;
    if (path->elements[a] != path->elements[b] || path->kinds[a] != path->kinds[b]) return 0;
    const Offs3dSeg& sa = path->segments[a];
    const Offs3dSeg& sb = path->segments[b];
    const double ux = sa.x2 - sa.x1, uy = sa.y2 - sa.y1;
    const double vx = sb.x2 - sa.x1, vy = sb.y2 - sa.y1;
    // A step back along the same line is collinear too, but merging it would cut the path short.
    if (ux * (sb.x2 - sb.x1) + uy * (sb.y2 - sb.y1) < 0.0) return 0;
    return std::fabs(ux * vy - uy * vx) < kMergeArea;
}

int offs3dPathCompactLoop(Offs3dPath* path, int32_t first, int32_t end) {
    if (!path) return 0;
    if (first < 0) first = 0;
    if (end > path->count) end = path->count;
    if (end - first < 6) return 1;
    int32_t c = first;
    for (int32_t n = first + 1; n < end; n++) {
        if (n != end - 1 && offs3dSegsMergeable(path, c, n)) {
            path->segments[c].x2 = path->segments[n].x2;
            path->segments[c].y2 = path->segments[n].y2;
            path->segments[c].z2 = path->segments[n].z2;
            path->contacts[c] = path->contacts[n];
            path->elements[c] = path->elements[n];
            path->kinds[c] = path->kinds[n];
        } else {
            c++;
            path->segments[c] = path->segments[n];
            path->contacts[c] = path->contacts[n];
            path->elements[c] = path->elements[n];
            path->kinds[c] = path->kinds[n];
        }
    }
    path->count = c + 1;
    offs3dPathUpdateBox(path);
    return 1;
}

// ---- path index

// Level l holds one box per run of kIndexFan^l consecutive segments from the first indexed one.
struct Offs3dPathIndex {
    int32_t first;
    int32_t stable;                              // segments below this are as the boxes saw them
    std::vector<std::vector<Offs3dBox>> levels;  // levels[l - 1] is level l
};

namespace {

const int32_t kIndexFan = 16;

int32_t runSize(int32_t level) {
    int32_t s = 1;
    for (int32_t l = 0; l < level; l++) s *= kIndexFan;
    return s;
}

const Offs3dBox& indexBox(const Offs3dPathIndex* x, const Offs3dPath* path, int32_t level, int32_t j) {
    return level > 0 ? x->levels[level - 1][j] : path->segmentBoxes[x->first + j];
}

void indexSync(Offs3dPathIndex* x, const Offs3dPath* path, int32_t to) {
    const int32_t n = to - x->first, kept = std::max(x->stable - x->first, 0);
    for (int32_t l = 1; runSize(l) <= n; l++) {
        if (static_cast<int32_t>(x->levels.size()) < l) x->levels.emplace_back();
        std::vector<Offs3dBox>& boxes = x->levels[l - 1];
        const int32_t size = runSize(l);
        boxes.resize(std::min(boxes.size(), static_cast<size_t>(kept / size)));
        for (int32_t j = static_cast<int32_t>(boxes.size()); (j + 1) * size <= n; j++) {
            Offs3dBox u = indexBox(x, path, l - 1, j * kIndexFan);
            for (int32_t c = 1; c < kIndexFan; c++) {
                const Offs3dBox& b = indexBox(x, path, l - 1, j * kIndexFan + c);
                u.xmin = lesser(u.xmin, b.xmin);
                u.ymin = lesser(u.ymin, b.ymin);
                u.xmax = greater(u.xmax, b.xmax);
                u.ymax = greater(u.ymax, b.ymax);
            }
            boxes.push_back(u);
        }
    }
    x->stable = std::max(x->stable, to);
}

struct NearSearch {
    const Offs3dPathIndex* x;
    const Offs3dPath* path;
    Vec2 p;
    double reach;
    double best = DBL_MAX;
    int32_t at = -1;

    // Runs in index order, so that the first of equal distances is kept.
    void visit(int32_t level, int32_t j) {
        const Offs3dBox& b = indexBox(x, path, level, j);
        if (p.x < b.xmin - reach || p.x > b.xmax + reach || p.y < b.ymin - reach || p.y > b.ymax + reach)
            return;
        if (level == 0) {
            const Offs3dSeg& t = path->segments[x->first + j];
            const Seg2D s{t.x1, t.y1, t.x2, t.y2};
            const double d = distPointSeg2D(&p, &s);
            if (d < best) {
                best = d;
                at = x->first + j;
            }
            return;
        }
        for (int32_t c = 0; c < kIndexFan; c++) visit(level - 1, j * kIndexFan + c);
    }
};

}  // namespace

Offs3dPathIndex* offs3dPathIndexCreate(int32_t first) {
    if (first < 0) return nullptr;
    return new (std::nothrow) Offs3dPathIndex{first, first, {}};
}

void offs3dPathIndexFree(Offs3dPathIndex* index) {
    delete index;
}

void offs3dPathIndexTouch(Offs3dPathIndex* index, const Offs3dPath* path) {
    if (index && path) index->stable = std::min(index->stable, path->count - 1);
}

int32_t offs3dPathIndexNearest(Offs3dPathIndex* index, const Offs3dPath* path, int32_t to, const Vec2* p,
                               double limit, double* dist) {
    if (dist) *dist = DBL_MAX;
    if (!index || !path || !p || to > path->count || to <= index->first) return -1;
    try {
        indexSync(index, path, to);
    } catch (const std::bad_alloc&) {
        // Without room for the boxes every segment is measured.
        index->levels.clear();
        index->stable = index->first;
        const Vec3 q{p->x, p->y, 0.0};
        int32_t at = -1;
        const double d = pointPolylineMinDist(path->segments + index->first, to - index->first, &q, &at);
        if (at < 0 || d > limit) return -1;
        if (dist) *dist = d;
        return index->first + at;
    }
    // Beyond rounding of the distances, so that no segment within limit is left out.
    NearSearch q{index, path, *p,
                 limit + 1e-9 * (1.0 + std::fabs(limit) + std::fabs(p->x) + std::fabs(p->y))};
    // Whole runs of the highest level first, then what remains at each lower level.
    int32_t done = 0;
    for (int32_t l = static_cast<int32_t>(index->levels.size()); l >= 0; l--) {
        const int32_t size = runSize(l);
        for (; done + size <= to - index->first; done += size) q.visit(l, done / size);
    }
    if (q.at < 0 || q.best > limit) return -1;
    if (dist) *dist = q.best;
    return q.at;
}

// ---- cache

int offs3dCompareStartX(const void* a, const void* b) {
    const double xa = static_cast<const Seg2D*>(a)->x1, xb = static_cast<const Seg2D*>(b)->x1;
    return xa < xb ? -1 : (xa > xb ? 1 : 0);
}

const double* offs3dElementBox(Offs3dBoxTable* table, int32_t i) {
    if (table->boxes) return table->boxes[i];
    computeBox(table->elements, i, table->margin, table->scratch);
    return table->scratch;
}

const Offs3dLine* offs3dElementLine(Offs3dBoxTable* table, int32_t i) {
    if (table->lines) return &table->lines[i];
    computeLine(table->elements, i, &table->scratchLine);
    return &table->scratchLine;
}

int offs3dInstallToolMethods(int32_t kind, OffsetToolMethods* methods) {
    if (!methods) return kOffs3dFail;
    std::memset(methods, 0, sizeof *methods);
    switch (kind) {
        case 1:  // ball
        case 3:  // torus
            return tricontInstallMethods(kind, methods);
        default:
            return 1;
    }
}

int offs3dBuildCache(Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params) {
    if (!geometry || !tool || !params) return kOffs3dFail;
    const double radius = tool->radius;
    const double margin = params->stepControl + radius;
    if (geometry->triangles) {
        // The triangle-mode search is never entered by this library's callers and is not built:
        // the workers install, but the search answers that it has no tool methods.
        const int r = offs3dInstallToolMethods(tool->kind, &params->methods);
        const int code = r == 1 ? kOffs3dNoToolMethods : r;
        wogError(code, kSourceFile, kLineTriangles);
        return code;
    }
    Kont2d* k = geometry->elements;
    if (!k) return 1;
    for (int32_t i = 0; i < k->count; i++) {
        Seg2D& s = k->elements[i];
        if (s.x2 < s.x1) s = Seg2D{s.x2, s.y2, s.x1, s.y1};
    }
    sortRecords(k->elements, k->count, static_cast<int32_t>(sizeof(Seg2D)), offs3dCompareStartX);
    params->elementBoxes = createBoxTable(k, margin);
    if (!params->elementBoxes) {
        wogError(kOffs3dFail, kSourceFile, kLineBoxTable);
        return kOffs3dFail;
    }
    const bool empty = k->count == 0;
    const int32_t cols = empty ? 1 : cellsFor(k->xmax - k->xmin, radius);
    const int32_t rows = empty ? 1 : cellsFor(k->ymax - k->ymin, radius);
    params->elementGrid = grid2DCreate(rows, cols, kGridCellCapacity);
    if (!params->elementGrid) {
        offs3dFreeCache(geometry, tool, params);
        wogError(kOffs3dFail, kSourceFile, kLineElementGrid);
        return kOffs3dFail;
    }
    // The grid's cells never collapse to nothing, so that every lookup lands in a real cell.
    const Vec3 lo{empty ? 0.0 : k->xmin, empty ? 0.0 : k->ymin, 0.0};
    const Vec3 hi{empty ? 1e-6 : std::fmax(k->xmax, k->xmin + 1e-6),
                  empty ? 1e-6 : std::fmax(k->ymax, k->ymin + 1e-6), 0.0};
    Vec3* bmin = nullptr;
    Vec3* bmax = nullptr;
    if (!empty) {
        bmin = static_cast<Vec3*>(std::malloc(static_cast<size_t>(k->count) * sizeof(Vec3)));
        bmax = static_cast<Vec3*>(std::malloc(static_cast<size_t>(k->count) * sizeof(Vec3)));
        if (!bmin || !bmax) {
            std::free(bmin);
            std::free(bmax);
            offs3dFreeCache(geometry, tool, params);
            wogError(kOffs3dFail, kSourceFile, kLineGridFill);
            return kOffs3dFail;
        }
        for (int32_t i = 0; i < k->count; i++) {
            const double* b = offs3dElementBox(params->elementBoxes, i);
            bmin[i] = Vec3{b[0], b[1], 0.0};
            bmax[i] = Vec3{b[2], b[3], 0.0};
        }
    }
    const int filled = grid2DFillSegs(params->elementGrid, k->count, &lo, &hi, bmin, bmax, radius);
    std::free(bmin);
    std::free(bmax);
    if (filled != 1) {
        offs3dFreeCache(geometry, tool, params);
        wogError(kOffs3dFail, kSourceFile, kLineGridFill);
        return kOffs3dFail;
    }
    return 1;
}

int offs3dFreeCache(Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params) {
    (void)geometry;
    (void)tool;
    if (!params) return 1;
    grid2DFree(params->triangleGrid);
    grid2DFree(params->elementGrid);
    std::free(params->triangleBoxes);
    freeBoxTable(params->elementBoxes);
    params->triangleGrid = nullptr;
    params->elementGrid = nullptr;
    params->triangleBoxes = nullptr;
    params->elementBoxes = nullptr;
    return 1;
}

double offs3dRadiusAddition(int32_t element) {
    // One thread runs the engine; its slot is 0.
    const RadiusTable* t = gThreadRadius[0];
    if (!t || !t->pairs || element < 0 || element >= t->count) return 0.0;
    return static_cast<double>(t->pairs[element][1]);
}

int offs3dRegionIndices(Offs3dParams* params, Offs3dPath* path, int32_t first) {
    (void)params;
    (void)path;
    (void)first;
    return 0;
}

int offs3dRegionChanged(const Offs3dParams* params, const Offs3dPath* path, int32_t element) {
    (void)path;
    (void)element;
    (void)params;
    return 0;
}
