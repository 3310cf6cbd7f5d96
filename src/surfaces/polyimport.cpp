// Polyhedron meshes into the cycle's frame: join, transform, sort, boxes.
#include "surfaces/polyimport.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "geometry/frames.h"
#include "geometry/mat4.h"
#include "kernel/base/runreset.h"
#include "kernel/base/mem.h"
#include "surfaces/meshfiles/polyread.h"
#include "surfaces/meshfiles/trisort.h"

namespace {

constexpr double kHeightTol = 1e-5;
constexpr double kBox45 = 0.70710678;  // the drop-cutter engines were tuned on this value

double g_scale[3] = {1.0, 1.0, 1.0};
Mat4 g_polyFrameInv;
bool g_polyFrameSet = false;

void importPoint(Vec3* p) {
    polyFramePoint(p);
    scalePointAxes(p);
    if (framesReady()) {
        if (framePairGetFlag(kFramePairMeshes)) framePairToM1(p);
        pointWorldToFrameA(p);
    }
}

int compareHeights(double a, double b) {
    if (a > b + kHeightTol) return -1;
    if (a < b - kHeightTol) return 1;
    return 0;
}

double facetMaxZ(const Facet98* f) {
    double z = f->p[0].z;
    for (int k = 1; k < 4; ++k)
        if (f->p[k].z > z) z = f->p[k].z;
    return z;
}

void copyName(char* out, const char* name) {
    std::snprintf(out, kPolyMeshNameSize, "%s", name != nullptr ? name : "");
}

double cross2(const Vec3& a, const Vec3& b, const Vec3& c) {
    return (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
}

}  // namespace

void setAxisScale(double sx, double sy, double sz) {
    g_scale[0] = sx;
    g_scale[1] = sy;
    g_scale[2] = sz;
}

void scalePointAxes(Vec3* p) {
    if (p == nullptr) return;
    p->x *= g_scale[0];
    p->y *= g_scale[1];
    p->z *= g_scale[2];
}

int setPolyFrame(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z) {
    Mat4 axes, shift, frame;
    mat4FromAxes(x, y, z, &axes);
    mat4Translation(origin, &shift);
    mat4Mult(&axes, &shift, &frame);
    int r = mat4Invert(&frame, &g_polyFrameInv);
    g_polyFrameSet = r == 0;
    return r;
}

void polyFrameReset() {
    g_polyFrameSet = false;
}

void polyFramePoint(Vec3* point) {
    if (!g_polyFrameSet || !point) return;
    Vec3 q;
    mat4XformPoint(point, &g_polyFrameInv, &q);
    *point = q;
}

void polyImportResetState() {
    setAxisScale(1.0, 1.0, 1.0);
}
static const RunReset gRunReset(kRunResetSurfaces, "polyImport", polyImportResetState);

void sortTriangleByZ(Triangle3D* tri) {
    int top = 0;
    for (int k = 1; k < 3; ++k)
        if (tri->p[k].z > tri->p[top].z) top = k;
    if (top == 0) return;
    const Triangle3D t = *tri;
    for (int k = 0; k < 3; ++k) tri->p[k] = t.p[(top + k) % 3];
}

int triCompareMaxZ(const Triangle3D* a, const Triangle3D* b) {
    return compareHeights(triMaxZ(a), triMaxZ(b));
}

int facetCompareMaxZ(const Facet98* a, const Facet98* b) {
    return compareHeights(facetMaxZ(a), facetMaxZ(b));
}

void facetHeapSort(Facet98* facets, int32_t n) {
    meshHeapSort(facets, n, facetCompareMaxZ);
}

void facetFixOrientation(Facet98* facet) {
    const Vec3 p0 = facet->p[0], p1 = facet->p[1], p2 = facet->p[2], p3 = facet->p[3];
    double turn = cross2(p0, p1, p2);
    if (std::fabs(turn) < 1e-5) turn = cross2(p1, p2, p3);
    if (std::fabs(turn) < 1e-5) turn = cross2(p2, p3, p0);
    if (turn < 0) {
        facet->p[1] = p3;
        facet->p[3] = p1;
    }
}

PolyTriMesh* meshFromPolyFileB(const char* fileName, const char* name, int32_t tag) {
    PolyNode* nodes = nullptr;
    const int rc = readPolyhedronB(fileName, &nodes);
    int64_t total = 0;
    for (const PolyNode* n = nodes; n != nullptr; n = n->next) total += n->used;
    if (rc != kPolyReadOk || nodes == nullptr || total > INT32_MAX) {
        polyNodeFreeList(nodes);
        return nullptr;
    }
    auto* mesh = static_cast<PolyTriMesh*>(memCalloc(sizeof(PolyTriMesh)));
    TriList* list = triListCreate(static_cast<int32_t>(total));
    Vec3* lower = static_cast<Vec3*>(memCalloc(total > 0 ? static_cast<size_t>(total) : 1, sizeof(Vec3)));
    Vec3* upper = static_cast<Vec3*>(memCalloc(total > 0 ? static_cast<size_t>(total) : 1, sizeof(Vec3)));
    if (mesh == nullptr || list == nullptr || lower == nullptr || upper == nullptr) {
        std::free(mesh);
        triListFree(list);
        std::free(lower);
        std::free(upper);
        polyNodeFreeList(nodes);
        return nullptr;
    }
    for (const PolyNode* n = nodes; n != nullptr; n = n->next) {
        for (int32_t i = 0; i < n->used; ++i) {
            Triangle3D t = n->triangles[i];
            for (Vec3& p : t.p) importPoint(&p);
            sortTriangleByZ(&t);
            triListAdd(list, &t);  // room for all was made above
        }
    }
    polyNodeFreeList(nodes);
    meshHeapSort(list->data, list->count, triCompareMaxZ);
    for (int32_t i = 0; i < list->count; ++i) {
        lower[i] = upper[i] = list->data[i].p[0];
        for (int k = 1; k < 3; ++k) boxExtendByPoint(&lower[i], &upper[i], &list->data[i].p[k]);
    }
    mesh->triangles = list;
    mesh->lower = lower;
    mesh->upper = upper;
    copyName(mesh->name, name);
    mesh->tag = tag;
    return mesh;
}

PolyFacetMesh* meshFromPolyFileA(const char* fileName, const char* name, int32_t tag, int shared) {
    PolyNode* nodes = nullptr;
    const int rc = readPolyhedronA(fileName, &nodes);
    int64_t total = 0;
    for (const PolyNode* n = nodes; n != nullptr; n = n->next) total += n->used;
    if (rc != kPolyReadOk || nodes == nullptr || total > INT32_MAX) {
        polyNodeFreeList(nodes);
        return nullptr;
    }
    const size_t items = total > 0 ? static_cast<size_t>(total) : 1;
    auto* mesh = static_cast<PolyFacetMesh*>(memCalloc(sizeof(PolyFacetMesh)));
    FacetList* list = facetListCreate(static_cast<int32_t>(total));
    Vec3* lower = static_cast<Vec3*>(memCalloc(items, sizeof(Vec3)));
    Vec3* upper = static_cast<Vec3*>(memCalloc(items, sizeof(Vec3)));
    Vec2* up45 = shared ? static_cast<Vec2*>(memCalloc(items, sizeof(Vec2))) : nullptr;
    Vec2* lo45 = shared ? static_cast<Vec2*>(memCalloc(items, sizeof(Vec2))) : nullptr;
    if (mesh == nullptr || list == nullptr || lower == nullptr || upper == nullptr ||
        (shared && (up45 == nullptr || lo45 == nullptr))) {
        std::free(mesh);
        facetListFree(list);
        std::free(lower);
        std::free(upper);
        std::free(up45);
        std::free(lo45);
        polyNodeFreeList(nodes);
        return nullptr;
    }
    for (PolyNode* n = nodes; n != nullptr; n = n->next) {
        for (int32_t i = 0; i < n->used; ++i) {
            Facet98 f = n->facets[i];
            for (int q = 0; q < 4; ++q) {
                Vec3 p = f.p[q];
                importPoint(&p);
                f.p[q] = p;
            }
            if (shared) facetFixOrientation(&f);
            for (int q = 0; q < 4; ++q) {
                const Vec3 p = f.p[q];
                Vec3 lo{list->xmin, list->ymin, list->zmin}, hi{list->xmax, list->ymax, list->zmax};
                boxExtendByPoint(&lo, &hi, &p);
                list->xmin = lo.x, list->ymin = lo.y, list->zmin = lo.z;
                list->xmax = hi.x, list->ymax = hi.y, list->zmax = hi.z;
            }
            list->data[list->count++] = f;
        }
        // Each node's facets go as soon as they are copied: the two copies never coexist in full.
        std::free(n->facets);
        n->facets = nullptr;
    }
    polyNodeFreeList(nodes);
    facetHeapSort(list->data, list->count);
    for (int32_t i = 0; i < list->count; ++i) {
        const Facet98& f = list->data[i];
        const Vec3 p0 = f.p[0];
        lower[i] = upper[i] = p0;
        Vec2 lo{1e300, 1e300}, hi{-1e300, -1e300};
        for (int q = 0; q < 4; ++q) {
            const Vec3 p = f.p[q];
            boxExtendByPoint(&lower[i], &upper[i], &p);
            const double u = (p.x - p.y) * kBox45, v = (p.x + p.y) * kBox45;
            lo = Vec2{std::fmin(lo.x, u), std::fmin(lo.y, v)};
            hi = Vec2{std::fmax(hi.x, u), std::fmax(hi.y, v)};
        }
        if (shared) {
            up45[i] = hi;
            lo45[i] = lo;
        }
    }
    mesh->facets = list;
    mesh->lower = lower;
    mesh->upper = upper;
    mesh->box45Upper = up45;
    mesh->box45Lower = lo45;
    copyName(mesh->name, name);
    mesh->tag = tag;
    return mesh;
}

void freeMeshPatchList(PolyTriMesh* list) {
    while (list != nullptr) {
        PolyTriMesh* next = list->next;
        triListFree(list->triangles);
        std::free(list->lower);
        std::free(list->upper);
        std::free(list);
        list = next;
    }
}

void freeMeshNodeList(PolyFacetMesh* list) {
    while (list != nullptr) {
        PolyFacetMesh* next = list->next;
        facetListFree(list->facets);
        std::free(list->lower);
        std::free(list->upper);
        std::free(list->box45Upper);
        std::free(list->box45Lower);
        std::free(list);
        list = next;
    }
}
