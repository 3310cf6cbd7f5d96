#include "collision/surfcurves.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "collision/chkmodel.h"
#include "collision/polymesh.h"
#include "geometry/frames.h"
#include "geometry/seg3d.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/kvxsurf.h"

namespace {

constexpr int32_t kCurveFirstCapacity = 1000;

bool framePoint(const TrimSurface* surface, double u, double v, Vec3* out) {
    if (surfEvalPoint(surface, u, v, out) < 0) return false;
    pointWorldToFrameA(out);
    return true;
}

// Room for a loop's points and the refinement's insertions, within the list's limit.
int32_t curveCapacity(int32_t points) {
    return static_cast<int32_t>(
        std::clamp<int64_t>(4 * static_cast<int64_t>(points), kCurveFirstCapacity, kPlistMaxPoints));
}

// A curve of points (parameter: running 3D length) appended to the array: true, or false on failure.
bool addPolyline(PlistArray* curves, const Vec3* points, int32_t n) {
    Plist* l = plistCreate(curveCapacity(n), 0);
    if (!l) return false;
    double s = 0.0;
    for (int32_t i = 0; i < n && i < l->capacity; i++) {
        if (i > 0) s += dist3D(&points[i - 1], &points[i]);
        plistAppend(l, s, &points[i], 0, nullptr, 0);
    }
    const bool ok = plistArrayAdd(curves, l) > 0;
    plistFree(l);
    return ok;
}

int isoDirection(const char* path, const char* bnd, int32_t dir, double spacing, PlistArray* curves) {
    std::remove(bnd);
    if (surfIsolines(path, dir, spacing, 0.0, 0.01, bnd) < 0) return -1;
    IsoCurve* list = readIsoCurveGroups(bnd, 0, 0);
    int result = 1;
    for (const IsoCurve* c = list; c && result > 0; c = c->next)
        if (!addPolyline(curves, c->points, c->count)) result = -1;
    freeIsoCurves(list);
    return result;
}

}  // namespace

int32_t curveRefineOnSurface(double tol, const TrimSurface* surface, Plist* curve) {
    if (!surface || !curve || !curve->vectors) return 0;
    int32_t inserted = 0;
    for (bool again = true; again;) {
        again = false;
        for (int32_t i = 0; i + 1 < curve->count; i++) {
            const double t0 = curve->parameters[i], t1 = curve->parameters[i + 1];
            if (std::fabs(t1 - t0) < 1e-5 || dist3D(&curve->points[i], &curve->points[i + 1]) <= tol)
                continue;
            const Vec3 uv{(curve->vectors[i].x + curve->vectors[i + 1].x) / 2,
                          (curve->vectors[i].y + curve->vectors[i + 1].y) / 2, 0.0};
            Vec3 p;
            if (!framePoint(surface, uv.x, uv.y, &p)) continue;
            if (plistInsert(curve, (t0 + t1) / 2, &p, 0, &uv, 0) < 0)
                return inserted;  // full: keep what it has
            inserted++;
            again = true;
            i++;  // the new point's right neighbour is looked at in the next pass
        }
    }
    return inserted;
}

int surfIsoCurves(const char* path, PlistArray* curves, double spacing) {
    char bnd[1024];
    if (!path || !curves || !meshSetTmpPath("iso.bnd", bnd, sizeof bnd)) return -1;
    for (int32_t dir : {kIsoAlongU, kIsoAlongV})
        if (isoDirection(path, bnd, dir, spacing, curves) < 0) return -1;
    return 1;
}

PlistArray* meshFromSurfaceFile(const char* path, double tol) {
    SurfList* surfaces = newSurfList(10);
    if (!surfaces) return nullptr;
    if (readSurfObjects(path, surfaces) < 0) {
        freeSurfList(surfaces);
        return nullptr;
    }
    PlistArray* curves = plistArrayCreate(1000);
    bool ok = curves != nullptr;
    for (int32_t k = 0; ok && k < surfaces->count; k++) {
        const TrimSurface* s = &surfaces->entries[k];
        for (int32_t j = 0; ok && j < s->loopCount; j++) {
            const TrimLoop& loop = s->loops[j];
            Plist* curve = plistCreate(curveCapacity(loop.count), 1);
            ok = curve != nullptr;
            double length = 0.0;
            for (int32_t i = 0; ok && i < loop.count && curve->count < curve->capacity; i++) {
                Vec3 p;
                if (!framePoint(s, loop.points[i].x, loop.points[i].y, &p)) continue;
                if (curve->count > 0) length += dist3D(&curve->points[curve->count - 1], &p);
                const Vec3 uv{loop.points[i].x, loop.points[i].y, 0.0};
                ok = plistAppend(curve, length, &p, 0, &uv, 0) >= 0;
            }
            if (ok) curveRefineOnSurface(tol, s, curve);
            if (ok) ok = plistArrayAdd(curves, curve) > 0;
            plistFree(curve);
        }
    }
    const int32_t surfaceCount = surfaces->count;
    freeSurfList(surfaces);
    if (ok && surfaceCount < 2) ok = surfIsoCurves(path, curves, kSurfIsoSpacing) > 0;
    if (!ok) {
        plistArrayFree(curves);
        return nullptr;
    }
    return curves;
}

CollMesh* collMeshFromSurfaceFile(const char* path, double mergeTol, double curveTol) {
    CheckModel* model = meshLoadViaTmp3df(path, 1.0);
    if (!model) return nullptr;
    PlistArray* curves = meshFromSurfaceFile(path, 1.0);
    const TriList* tris = model->triangles;
    CollMesh* mesh = curves ? collMeshCreate(3 * tris->count) : nullptr;
    if (mesh) {
        mesh->tolerance = mergeTol;
        auto near = [&](const Vec3* p) {
            for (int32_t k = 0; k < curves->count; k++) {
                const Plist* c = curves->lists[k];
                Vec3 foot;
                int32_t index;
                if (c->count >= 2 && nearestOnPolyline3D(c->points, c->count, p, &foot, &index) <= curveTol)
                    return true;
                if (c->count == 1 && dist3D(&c->points[0], p) <= curveTol) return true;
            }
            return false;
        };
        try {
            std::vector<Vec3> ends;
            for (int32_t t = 0; t < tris->count; t++) {
                const Vec3* v = tris->data[t].p;
                const bool n0 = near(&v[0]), n1 = near(&v[1]), n2 = near(&v[2]);
                if (n0 && n1) ends.insert(ends.end(), {v[0], v[1]});
                if (n1 && n2) ends.insert(ends.end(), {v[1], v[2]});
                if (n2 && n0) ends.insert(ends.end(), {v[2], v[0]});
            }
            // A failed insertion stops the adding; the mesh keeps what it has.
            collMeshAddEdges(mesh, ends.data(), static_cast<int32_t>(ends.size() / 2));
        } catch (const std::bad_alloc&) {
            collMeshFree(std::exchange(mesh, nullptr));
        }
    }
    plistArrayFree(curves);
    polymeshDelete(model);
    return mesh;
}
