// Mesh loaders of the check model: file kinds, the triangle intake, facet arrays, merging.
#include "collision/polymesh.h"

#include <strings.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <utility>

#include "collision/meshindex.h"
#include "geometry/frames.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/facetlist.h"
#include "surfaces/meshfiles/stl.h"
#include "surfaces/meshfiles/trisort.h"
#include "surfaces/polyimport.h"

namespace {

constexpr double kSameHeight = 0.0001;  // vertex heights closer than this are one height
constexpr double kSamePoint = 1e-5;
constexpr double kFlatGroup = 0.001;
constexpr double kBox45 = 0.70710678;  // the drop-cutter engines were tuned on this value

int g_shared = 0;
Vec2* g_box45Upper = nullptr;
Vec2* g_box45Lower = nullptr;
int32_t g_box45Count = 0;
double g_secondOffsetZ = 0.0;
PolymeshGroupHook g_groupHook = nullptr;

void freeBox45() {
    std::free(g_box45Upper);
    std::free(g_box45Lower);
    g_box45Upper = g_box45Lower = nullptr;
    g_box45Count = 0;
}

// Takes over a pair of 45-degree arrays; the previous pair goes.
void setBox45(Vec2* upper, Vec2* lower, int32_t n) {
    freeBox45();
    g_box45Upper = upper;
    g_box45Lower = lower;
    g_box45Count = upper != nullptr && lower != nullptr ? n : 0;
}

bool samePoint(const Vec3& a, const Vec3& b) {
    return std::fabs(a.x - b.x) < kSamePoint && std::fabs(a.y - b.y) < kSamePoint &&
           std::fabs(a.z - b.z) < kSamePoint;
}

void emptyBounds(double* b) {
    b[0] = b[1] = b[2] = 1e10;
    b[3] = b[4] = b[5] = -1e10;
}

// By value: facet points sit unaligned in the packed facet record, where no reference may bind.
void widenBounds(double* b, Vec3 p) {
    b[0] = std::fmin(b[0], p.x);
    b[1] = std::fmin(b[1], p.y);
    b[2] = std::fmin(b[2], p.z);
    b[3] = std::fmax(b[3], p.x);
    b[4] = std::fmax(b[4], p.y);
    b[5] = std::fmax(b[5], p.z);
}

// Vertex heights closer than kSameHeight become the larger one; then the highest vertex first.
void intakeTriangle(Triangle3D* t) {
    for (Vec3& p : t->p) pointWorldToFrameA(&p);
    static const int pairs[3][2] = {{0, 1}, {0, 2}, {1, 2}};
    for (const auto& pr : pairs) {
        Vec3& a = t->p[pr[0]];
        Vec3& b = t->p[pr[1]];
        // boxMaxOf(b, a) is std::fmax(a, b) without the library call (neither is NaN here).
        if (std::fabs(a.z - b.z) < kSameHeight) a.z = b.z = boxMaxOf(b.z, a.z);
    }
    sortTriangleByZ(t);
}

void cornersOfTriangles(const TriList* list, Vec3* lo, Vec3* hi) {
    for (int32_t i = 0; i < list->count; ++i) {
        lo[i] = hi[i] = list->data[i].p[0];
        for (int k = 1; k < 3; ++k) boxExtendByPoint(&lo[i], &hi[i], &list->data[i].p[k]);
    }
}

void box45Of(const Facet98& f, Vec2* up, Vec2* lo) {
    for (int k = 0; k < 4; ++k) {
        const double u = (f.p[k].x - f.p[k].y) * kBox45, v = (f.p[k].x + f.p[k].y) * kBox45;
        if (k == 0 || u > up->x) up->x = u;
        if (k == 0 || v > up->y) up->y = v;
        if (k == 0 || u < lo->x) lo->x = u;
        if (k == 0 || v < lo->y) lo->y = v;
    }
}

// Sorted facets, their corners and, with the switch, their 45-degree boxes.
int finishFacets(CheckModel* model) {
    const int32_t n = model->facetCount;
    facetHeapSort(model->facets, n);
    for (int32_t i = 0; i < n; ++i) {
        const Facet98& f = model->facets[i];
        model->boxMin[i] = model->boxMax[i] = f.p[0];
        for (int k = 1; k < 4; ++k) {
            const Vec3 p = f.p[k];
            boxExtendByPoint(&model->boxMin[i], &model->boxMax[i], &p);
        }
    }
    if (!g_shared) return kPolymeshOk;
    const size_t items = n > 0 ? static_cast<size_t>(n) : 1;
    auto* up = static_cast<Vec2*>(memCalloc(items, sizeof(Vec2)));
    auto* lo = static_cast<Vec2*>(memCalloc(items, sizeof(Vec2)));
    if (up == nullptr || lo == nullptr) {
        std::free(up);
        std::free(lo);
        return kPolymeshNoMemory;
    }
    for (int32_t i = 0; i < n; ++i) box45Of(model->facets[i], &up[i], &lo[i]);
    setBox45(up, lo, n);
    return kPolymeshOk;
}

// A model loaded without corners (polymeshLoadTriangles) has none to fill.
void finishTriangles(CheckModel* model) {
    TriList* list = model->triangles;
    sortMeshTriangles(list);
    if (model->boxMin != nullptr && model->boxMax != nullptr)
        cornersOfTriangles(list, model->boxMin, model->boxMax);
    const double b[6] = {list->xmin, list->ymin, list->zmin, list->xmax, list->ymax, list->zmax};
    std::memcpy(model->bounds, b, sizeof b);
}

// Not cleared: every loader writes the corners of each element it keeps before anything reads them,
// and a triangle load takes room for two triangles a facet while most facets give one, so clearing
// wrote (and paged in) about twice what is ever used.
bool allocCorners(CheckModel* model, int64_t n) {
    const size_t items = n > 0 ? static_cast<size_t>(n) : 1;
    model->boxMin = static_cast<Vec3*>(std::malloc(items * sizeof(Vec3)));
    model->boxMax = static_cast<Vec3*>(std::malloc(items * sizeof(Vec3)));
    return model->boxMin != nullptr && model->boxMax != nullptr;
}

bool endsWithExt(const char* name, const char* ext) {
    const char* dot = std::strrchr(name, '.');
    return dot != nullptr && std::strlen(dot + 1) == 3 && strcasecmp(dot + 1, ext) == 0;
}

bool flatTriangle(const Triangle3D& t) {
    const double lo = std::fmin(t.p[0].z, std::fmin(t.p[1].z, t.p[2].z));
    const double hi = std::fmax(t.p[0].z, std::fmax(t.p[1].z, t.p[2].z));
    return hi - lo <= kFlatGroup;
}

// The open facet group of the 3df triangle loader.
struct GroupScan {
    bool open = false;
    bool flat = true;
    int32_t first = 0;
    double height = 0.0;

    int close(TriList* list) {
        if (!open || g_groupHook == nullptr) return 0;
        open = false;
        if (!flat) return 0;
        const PolymeshGroup g{2, list, first, list->count, height};
        return g_groupHook(&g);
    }
};

int callStage(int32_t stage, TriList* list) {
    if (g_groupHook == nullptr) return 0;
    const PolymeshGroup g{stage, list, 0, list != nullptr ? list->count : 0, 0.0};
    return g_groupHook(&g);
}

// A 3df file read whole: the facets as stored, or the reader's code.
int read3df(const char* fileName, FacetList** out) {
    *out = nullptr;
    if (fileName == nullptr || fileName[0] == '\0') return kPolymeshNoFile;
    const int rc = facetFileLoad(fileName, out);
    if (rc == 0) {
        facetListFree(*out);
        *out = nullptr;
        return kPolymeshNotFacets;
    }
    return rc < 0 ? rc : kPolymeshOk;
}

}  // namespace

void polymeshSetFreeShared(int on) {
    g_shared = on != 0;
}

int polymeshFreeShared() {
    return g_shared;
}

int32_t polymeshBox45(const Vec2** upper, const Vec2** lower) {
    if (upper != nullptr) *upper = g_box45Upper;
    if (lower != nullptr) *lower = g_box45Lower;
    return g_box45Count;
}

void polymeshSetSecondOffsetZ(double dz) {
    g_secondOffsetZ = dz;
}

void polymeshSetGroupHook(PolymeshGroupHook hook) {
    g_groupHook = hook;
}

void clear_user_callback() {
    g_groupHook = nullptr;
}

void polymeshResetState() {
    freeBox45();
    g_shared = 0;
    g_secondOffsetZ = 0.0;
    g_groupHook = nullptr;
}
static const RunReset gRunReset(kRunResetCollision, "polymesh", polymeshResetState);

void polymeshFree(CheckModel* model) {
    if (model == nullptr) return;
    triListFree(model->triangles);
    std::free(model->facets);
    std::free(model->boxMin);
    std::free(model->boxMax);
    grid2DFree(model->grid);
    meshIndexFree(model->index);
    model->index = nullptr;
    model->triangles = nullptr;
    model->facets = nullptr;
    model->facetCount = 0;
    model->boxMin = model->boxMax = nullptr;
    model->grid = nullptr;
    if (g_shared) freeBox45();
    // The part records stay chained: chkModelFree frees them, and a detached chain would leak.
    for (CheckModelPart* part = model->parts; part != nullptr; part = part->next) {
        std::free(part->facets);
        triListFree(part->triangles);
        std::free(part->boxMin);
        std::free(part->boxMax);
        grid2DFree(part->grid);
        part->facets = nullptr;
        part->facetCount = 0;
        part->triangles = nullptr;
        part->boxMin = part->boxMax = nullptr;
        part->grid = nullptr;
    }
}

namespace {

// The 3df triangle loader's step per facet, the same for a whole list and for a streamed file.
struct TriangleIntake {
    CheckModel* model;
    bool mirror;
    GroupScan group;
    int result = kPolymeshOk;
    bool corners = true;

    // Room for two triangles a facet, and the corners when wanted.
    bool allocate(int32_t facetCount) {
        const int64_t n = 2 * static_cast<int64_t>(facetCount);
        model->triangles = n <= INT32_MAX ? triListCreate(static_cast<int32_t>(n)) : nullptr;
        if (model->triangles == nullptr || (corners && !allocCorners(model, n))) result = kPolymeshNoMemory;
        return result == kPolymeshOk;
    }

    void add(Facet98 f) {
        if (mirror) framePairFacetToM1(&f);
        Vec3 q[4] = {f.p[0], f.p[1], f.p[2], f.p[3]};
        bool triangle = true;
        if (samePoint(q[3], q[2]) || samePoint(q[3], q[1]) || samePoint(q[3], q[0])) {
        } else if (samePoint(q[2], q[1]) || samePoint(q[2], q[0])) {
            std::swap(q[2], q[3]);
        } else if (samePoint(q[1], q[0])) {
            std::swap(q[0], q[3]);
        } else {
            triangle = false;
        }
        if (f.flag & kFacetGroupStart) {
            group.close(model->triangles);
            group = GroupScan{};
            group.open = true;
            group.first = model->triangles->count;
            Vec3 h = q[0];
            pointWorldToFrameA(&h);
            group.height = h.z;
        }
        Triangle3D t[2] = {{{q[0], q[1], q[2]}}, {{q[0], q[2], q[3]}}};
        for (int k = 0; k < (triangle ? 1 : 2); ++k) {
            intakeTriangle(&t[k]);
            // Only the hook is told whether a group lies flat.
            if (g_groupHook != nullptr && !flatTriangle(t[k])) group.flat = false;
            append(model->triangles, t[k]);
        }
    }

    // triListAdd's append and bounds written out: the room for two triangles a facet was taken at the
    // start, so the list never grows here. Each bound takes the corners in the same order, so a tie of
    // -0 and +0 keeps the same one.
    void append(TriList* list, const Triangle3D& t) {
        if (list->count >= list->capacity) {
            if (triListAdd(list, &t) < 0) result = kPolymeshNoMemory;
            return;
        }
        list->data[list->count++] = t;
        double lo[3] = {list->xmin, list->ymin, list->zmin}, hi[3] = {list->xmax, list->ymax, list->zmax};
        for (const Vec3& p : t.p) {
            const double c[3] = {p.x, p.y, p.z};
            for (int a = 0; a < 3; ++a) {
                if (c[a] < lo[a]) lo[a] = c[a];
                if (c[a] > hi[a]) hi[a] = c[a];
            }
        }
        list->xmin = lo[0], list->ymin = lo[1], list->zmin = lo[2];
        list->xmax = hi[0], list->ymax = hi[1], list->zmax = hi[2];
    }

    // The mesh is whole: the group still open, then order and corners, with the hook's last stages.
    void finish() {
        group.close(model->triangles);
        callStage(3, model->triangles);
        finishTriangles(model);
        callStage(4, model->triangles);
    }
};

bool intakeStart(void* context, int32_t count) {
    return static_cast<TriangleIntake*>(context)->allocate(count);
}

bool intakeBlock(void* context, const Facet98* facets, int32_t n) {
    auto* in = static_cast<TriangleIntake*>(context);
    for (int32_t i = 0; in->result == kPolymeshOk && i < n; ++i) in->add(facets[i]);
    return in->result == kPolymeshOk;
}

// Without a hook nothing is told before the file is read whole, so the facets can go straight from
// the file into triangles: the whole list of facets is never built.
int read3dfTrianglesStreamed(CheckModel* model, const char* fileName, bool corners) {
    TriangleIntake in{model, framePairGetFlag(kFramePairMeshes) != 0, GroupScan{}};
    in.corners = corners;
    const int rc = facetFileVisit(fileName, &in, intakeStart, intakeBlock);
    if (rc > 0 && in.result == kPolymeshOk) {
        in.finish();
        return kPolymeshOk;
    }
    if (in.result != kPolymeshOk) {
        polymeshFree(model);
        return in.result;
    }
    // A file that fails to read attaches nothing, as when it is read before anything is allocated.
    triListFree(model->triangles);
    std::free(model->boxMin);
    std::free(model->boxMax);
    model->triangles = nullptr;
    model->boxMin = model->boxMax = nullptr;
    return rc == 0 ? kPolymeshNotFacets : rc;
}

}  // namespace

int polymeshRead3dfTriangles(CheckModel* model, const char* fileName) {
    if (model == nullptr) return kPolymeshNoMemory;
    if (fileName == nullptr || fileName[0] == '\0') return kPolymeshNoFile;
    if (g_groupHook == nullptr) return read3dfTrianglesStreamed(model, fileName, true);
    FacetList* facets = nullptr;
    const int rc = read3df(fileName, &facets);
    if (rc != kPolymeshOk) return rc;
    TriangleIntake in{model, false, GroupScan{}};
    in.allocate(facets->count);
    if (in.result == kPolymeshOk && callStage(1, model->triangles) < 0) in.result = kPolymeshNoMemory;
    in.mirror = framePairGetFlag(kFramePairMeshes) != 0;
    for (int32_t i = 0; in.result == kPolymeshOk && i < facets->count; ++i) in.add(facets->data[i]);
    facetListFree(facets);
    if (in.result == kPolymeshOk) {
        in.finish();
        return kPolymeshOk;
    }
    polymeshFree(model);
    return in.result;
}

int polymeshRead3dfFacets(CheckModel* model, const char* fileName) {
    if (model == nullptr) return kPolymeshNoMemory;
    FacetList* facets = nullptr;
    const int rc = read3df(fileName, &facets);
    if (rc != kPolymeshOk) return rc;
    const int32_t n = facets->count;
    const bool mirror = framePairGetFlag(kFramePairMeshes) != 0;
    emptyBounds(model->bounds);
    for (int32_t i = 0; i < n; ++i) {
        Facet98& f = facets->data[i];
        if (mirror) framePairFacetToM1(&f);
        for (int k = 0; k < 4; ++k) {
            Vec3 p = f.p[k];
            pointWorldToFrameA(&p);
            f.p[k] = p;
        }
        if (g_shared) facetFixOrientation(&f);
        for (int k = 0; k < 4; ++k) widenBounds(model->bounds, f.p[k]);
    }
    // The list's block becomes the model's facet array.
    model->facets = facets->data;
    model->facetCount = n;
    facets->data = nullptr;
    facetListFree(facets);
    if (!allocCorners(model, n) || finishFacets(model) != kPolymeshOk) {
        polymeshFree(model);
        return kPolymeshNoMemory;
    }
    return kPolymeshOk;
}

int polymeshReadStlTriangles(CheckModel* model, const char* fileName) {
    if (model == nullptr) return kPolymeshNoMemory;
    if (fileName == nullptr || fileName[0] == '\0') return kPolymeshNoFile;
    TriList* read = stl_read(fileName);
    if (read == nullptr) return kPolymeshNoFile;
    model->triangles = triListCreate(read->count);
    int result =
        model->triangles != nullptr && allocCorners(model, read->count) ? kPolymeshOk : kPolymeshNoMemory;
    for (int32_t i = 0; result == kPolymeshOk && i < read->count; ++i) {
        Triangle3D t = read->data[i];
        intakeTriangle(&t);
        if (triListAdd(model->triangles, &t) < 0) result = kPolymeshNoMemory;
    }
    triListFree(read);
    if (result != kPolymeshOk) {
        polymeshFree(model);
        return result;
    }
    finishTriangles(model);
    return kPolymeshOk;
}

int polymeshReadStlFacets(CheckModel* model, const char* fileName) {
    if (model == nullptr) return kPolymeshNoMemory;
    if (fileName == nullptr || fileName[0] == '\0') return kPolymeshNoFile;
    TriList* read = stl_read(fileName);
    if (read == nullptr) return kPolymeshNoFile;
    const int32_t n = read->count;
    model->facets = static_cast<Facet98*>(memCalloc(n > 0 ? static_cast<size_t>(n) : 1, sizeof(Facet98)));
    if (model->facets == nullptr || !allocCorners(model, n)) {
        triListFree(read);
        polymeshFree(model);
        return kPolymeshNoMemory;
    }
    emptyBounds(model->bounds);
    for (int32_t i = 0; i < n; ++i) {
        Triangle3D t = read->data[i];
        for (Vec3& p : t.p) pointWorldToFrameA(&p);
        sortTriangleByZ(&t);
        Facet98& f = model->facets[i];
        f.flag = 0;
        for (int k = 0; k < 3; ++k) f.p[k] = t.p[k];
        f.p[3] = t.p[2];
        for (const Vec3& p : t.p) widenBounds(model->bounds, p);
    }
    model->facetCount = n;
    triListFree(read);
    if (finishFacets(model) != kPolymeshOk) {
        polymeshFree(model);
        return kPolymeshNoMemory;
    }
    return kPolymeshOk;
}

int polymeshReadKvxTriangles(CheckModel* model, const char* fileName) {
    if (model == nullptr) return kPolymeshNoMemory;
    if (fileName == nullptr || fileName[0] == '\0') return kPolymeshNoFile;
    PolyTriMesh* mesh = meshFromPolyFileB(fileName, "POLY", 0);
    if (mesh == nullptr) return kPolymeshNoFile;
    model->triangles = mesh->triangles;
    model->boxMin = mesh->lower;
    model->boxMax = mesh->upper;
    const TriList* l = mesh->triangles;
    const double b[6] = {l->xmin, l->ymin, l->zmin, l->xmax, l->ymax, l->zmax};
    std::memcpy(model->bounds, b, sizeof b);
    mesh->triangles = nullptr;
    mesh->lower = mesh->upper = nullptr;
    freeMeshPatchList(mesh);
    return kPolymeshOk;
}

int polymeshReadKvxFacets(CheckModel* model, const char* fileName) {
    if (model == nullptr) return kPolymeshNoMemory;
    if (fileName == nullptr || fileName[0] == '\0') return kPolymeshNoFile;
    PolyFacetMesh* mesh = meshFromPolyFileA(fileName, "POLY", 0, g_shared);
    if (mesh == nullptr) return kPolymeshNoFile;
    FacetList* l = mesh->facets;
    model->facets = l->data;
    model->facetCount = l->count;
    model->boxMin = mesh->lower;
    model->boxMax = mesh->upper;
    const double b[6] = {l->xmin, l->ymin, l->zmin, l->xmax, l->ymax, l->zmax};
    std::memcpy(model->bounds, b, sizeof b);
    if (g_shared) setBox45(mesh->box45Upper, mesh->box45Lower, l->count);
    l->data = nullptr;
    mesh->lower = mesh->upper = nullptr;
    mesh->box45Upper = mesh->box45Lower = nullptr;
    freeMeshNodeList(mesh);
    return kPolymeshOk;
}

namespace {

// What a model holds before a mesh is attached: its pointers may be a clone's shared ones.
void detachMesh(CheckModel* model) {
    model->boxMin = model->boxMax = nullptr;
    model->grid = nullptr;
    model->index = nullptr;  // a clone's index is its template's, over another mesh
    model->triangles = nullptr;
    model->facets = nullptr;
    model->facetCount = 0;
    // The part records are the model's own (clones copy them); their mesh data is not.
    chkModelFreeParts(model);
}

}  // namespace

int polymeshLoad(CheckModel* model, const char* fileName) {
    if (model == nullptr) return kPolymeshNoMemory;
    detachMesh(model);
    const bool tri = model->kind == kMeshTriangles;
    const char* name = fileName != nullptr ? fileName : "";
    if (endsWithExt(name, "kvx"))
        return tri ? polymeshReadKvxTriangles(model, name) : polymeshReadKvxFacets(model, name);
    if (endsWithExt(name, "stl"))
        return tri ? polymeshReadStlTriangles(model, name) : polymeshReadStlFacets(model, name);
    return tri ? polymeshRead3dfTriangles(model, name) : polymeshRead3dfFacets(model, name);
}

int polymeshLoadTriangles(CheckModel* model, const char* fileName) {
    if (model == nullptr) return kPolymeshNoMemory;
    const char* name = fileName != nullptr ? fileName : "";
    // A 3df file read without a hook is taken in straight; any other load builds corners, dropped here.
    const bool streamed = model->kind == kMeshTriangles && g_groupHook == nullptr && name[0] != '\0' &&
                          !endsWithExt(name, "kvx") && !endsWithExt(name, "stl");
    if (streamed) {
        detachMesh(model);
        return read3dfTrianglesStreamed(model, name, false);
    }
    const int rc = polymeshLoad(model, fileName);
    if (rc == kPolymeshOk) {
        std::free(model->boxMin);
        std::free(model->boxMax);
        model->boxMin = model->boxMax = nullptr;
    }
    return rc;
}

int polymeshCopyRoom(CheckModel* dst, const CheckModel* src) {
    if (dst == nullptr || src == nullptr || src->triangles == nullptr) return kPolymeshNoMemory;
    detachMesh(dst);
    const TriList* from = src->triangles;
    const size_t n = static_cast<size_t>(from->count), boxes = n > 0 ? n : 1;
    dst->triangles = triListCreate(from->capacity);
    dst->boxMin = static_cast<Vec3*>(std::malloc(boxes * sizeof(Vec3)));
    dst->boxMax = static_cast<Vec3*>(std::malloc(boxes * sizeof(Vec3)));
    if (dst->triangles == nullptr || dst->boxMin == nullptr || dst->boxMax == nullptr) {
        polymeshFree(dst);
        return kPolymeshNoMemory;
    }
    Triangle3D* data = dst->triangles->data;
    *dst->triangles = *from;
    dst->triangles->data = data;
    std::memcpy(dst->bounds, src->bounds, sizeof dst->bounds);
    return kPolymeshOk;
}

int polymeshCopy(CheckModel* dst, const CheckModel* src) {
    const int rc = polymeshCopyRoom(dst, src);
    if (rc != kPolymeshOk) return rc;
    const size_t n = static_cast<size_t>(src->triangles->count);
    std::memcpy(dst->triangles->data, src->triangles->data, n * sizeof(Triangle3D));
    std::memcpy(dst->boxMin, src->boxMin, n * sizeof(Vec3));
    std::memcpy(dst->boxMax, src->boxMax, n * sizeof(Vec3));
    return kPolymeshOk;
}

int polymeshMerge(CheckModel* dst, const CheckModel* src) {
    if (dst == nullptr || src == nullptr || dst->kind != src->kind) return -1;
    const bool tri = dst->kind == kMeshTriangles;
    const int64_t nd = chkMeshCount(dst->kind, dst->facets, dst->facetCount, dst->triangles);
    const int64_t ns = chkMeshCount(src->kind, src->facets, src->facetCount, src->triangles);
    const int64_t n = nd + ns;
    if (n > INT32_MAX) return -1;
    const size_t items = n > 0 ? static_cast<size_t>(n) : 1;
    auto* lo = static_cast<Vec3*>(memRealloc(dst->boxMin, items * sizeof(Vec3)));
    if (lo == nullptr) return -1;
    dst->boxMin = lo;
    auto* hi = static_cast<Vec3*>(memRealloc(dst->boxMax, items * sizeof(Vec3)));
    if (hi == nullptr) return -1;
    dst->boxMax = hi;
    if (tri) {
        TriList* list = triListCreate(static_cast<int32_t>(n));
        if (list == nullptr) return -1;
        for (const TriList* from : {dst->triangles, src->triangles})
            for (int32_t i = 0; from != nullptr && i < from->count; ++i)
                if (triListAdd(list, &from->data[i]) < 0) {
                    triListFree(list);
                    return -1;
                }
        triListFree(dst->triangles);
        dst->triangles = list;
        finishTriangles(dst);
        return 0;
    }
    auto* facets = static_cast<Facet98*>(memRealloc(dst->facets, items * sizeof(Facet98)));
    if (facets == nullptr) return -1;
    dst->facets = facets;
    for (int64_t i = 0; i < ns; ++i) {
        Facet98 f = src->facets[i];
        if (g_shared) facetFixOrientation(&f);
        facets[nd + i] = f;
    }
    dst->facetCount = static_cast<int32_t>(n);
    if (ns > 0) {
        widenBounds(dst->bounds, Vec3{src->bounds[0], src->bounds[1], src->bounds[2]});
        widenBounds(dst->bounds, Vec3{src->bounds[3], src->bounds[4], src->bounds[5]});
    }
    return finishFacets(dst) == kPolymeshOk ? 0 : -1;
}

int polymeshLoadMerged(CheckModel* model, const char* first, const char* second) {
    if (model == nullptr) return kPolymeshNoMemory;
    clear_user_callback();
    CheckModel* clone = chkModelClone(model);
    if (clone == nullptr) return kPolymeshNoMemory;
    const int rc = polymeshLoad(model, first);
    if (rc != kPolymeshOk) {
        chkModelFree(clone);
        return rc;
    }
    // The second mesh never replaces the first one's 45-degree boxes: they are rebuilt by the merge.
    const int shared = g_shared;
    g_shared = 0;
    const int rc2 = polymeshLoad(clone, second);
    if (rc2 == kPolymeshOk && std::fabs(g_secondOffsetZ) >= 1e-5) polymeshOffsetZ(clone, g_secondOffsetZ);
    g_shared = shared;
    if (rc2 != kPolymeshOk) {
        msgText(9, 5200, "* Error: Missing Polymesh file %s", second != nullptr ? second : "");
        chkModelFree(clone);
        return kPolymeshOk;
    }
    const int merged = polymeshMerge(model, clone);
    g_shared = 0;  // the clone's mesh is its own; the model's boxes stay
    polymeshFree(clone);
    g_shared = shared;
    chkModelFree(clone);
    if (merged != 0) {
        polymeshFree(model);
        return -1;
    }
    return kPolymeshOk;
}

void polymeshOffsetZ(CheckModel* model, double dz) {
    if (model == nullptr) return;
    const int32_t n = chkMeshCount(model->kind, model->facets, model->facetCount, model->triangles);
    if (model->kind == kMeshTriangles) {
        for (int32_t i = 0; i < n; ++i)
            for (Vec3& p : model->triangles->data[i].p) p.z += dz;
        if (n > 0) {
            model->triangles->zmin += dz;
            model->triangles->zmax += dz;
        }
    } else {
        for (int32_t i = 0; i < n; ++i)
            for (int k = 0; k < 4; ++k) model->facets[i].p[k].z += dz;
    }
    // Boxes that stayed behind would hide the shifted items from the height searches.
    for (int32_t i = 0; i < n && model->boxMin != nullptr && model->boxMax != nullptr; ++i) {
        model->boxMin[i].z += dz;
        model->boxMax[i].z += dz;
    }
    if (n > 0) {
        model->bounds[2] += dz;
        model->bounds[5] += dz;
    }
}
