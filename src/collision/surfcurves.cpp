#include "collision/surfcurves.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <new>
#include <string>
#include <unordered_map>
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
constexpr double kIsoFloor = 0.1;  // closest iso-line spacing of the collision wires

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
    if (!list && isoFileCountBnd(bnd) > 0)
        return -1;  // the reader failed (no memory): not a file without lines
    int result = 1;
    for (const IsoCurve* c = list; c && result > 0; c = c->next)
        if (!addPolyline(curves, c->points, c->count)) result = -1;
    freeIsoCurves(list);
    return result;
}

// The curve segments (and single points) by cells of a cube grid of edge curveTol, so that a vertex
// looks only at those in its own and the 26 neighbouring cells: the dense iso lines against a fine
// triangle mesh would otherwise cost vertices x curve points.
class CurveCells {
  public:
    CurveCells(const PlistArray* curves, double reach) : curves_(curves), reach_(reach) {
        // Samples half a cell apart: a point within reach of a segment lies within a cell of a sample.
        cell_ = 2 * std::fmax(reach, 0.01);
        for (int32_t k = 0; k < curves->count; k++) {
            const Plist* c = curves->lists[k];
            for (int32_t i = 0; i < c->count && (i + 1 < c->count || c->count == 1); i++) {
                const Vec3& a = c->points[i];
                const Vec3& b = c->points[c->count == 1 ? i : i + 1];
                const int32_t n = static_cast<int32_t>(std::ceil(2 * dist3D(&a, &b) / cell_));
                for (int32_t j = 0; j <= n; j++) {
                    const double t = n ? static_cast<double>(j) / n : 0.0;
                    auto& bucket =
                        cells_[key(a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z))];
                    if (bucket.empty() || bucket.back() != std::pair{k, i}) bucket.emplace_back(k, i);
                }
            }
        }
    }
    bool near(const Vec3* p) const {
        const Cell c = cellOf(p->x, p->y, p->z);
        for (int64_t x = c.x - 1; x <= c.x + 1; x++)
            for (int64_t y = c.y - 1; y <= c.y + 1; y++)
                for (int64_t z = c.z - 1; z <= c.z + 1; z++) {
                    const auto found = cells_.find(pack(x, y, z));
                    if (found == cells_.end()) continue;
                    for (const auto& [k, i] : found->second) {
                        const Plist* l = curves_->lists[k];
                        const Vec3* b = &l->points[l->count == 1 ? i : i + 1];
                        if (distPointSeg3D(&l->points[i], b, p, nullptr) <= reach_) return true;
                    }
                }
        return false;
    }

  private:
    struct Cell {
        int64_t x, y, z;
    };
    Cell cellOf(double x, double y, double z) const {
        return {static_cast<int64_t>(std::floor(x / cell_)), static_cast<int64_t>(std::floor(y / cell_)),
                static_cast<int64_t>(std::floor(z / cell_))};
    }
    uint64_t key(double x, double y, double z) const {
        const Cell c = cellOf(x, y, z);
        return pack(c.x, c.y, c.z);
    }
    // 21 bits a coordinate: cells of the same packed key merely share a bucket and are all tested.
    static uint64_t pack(int64_t x, int64_t y, int64_t z) {
        const uint64_t m = (1u << 21) - 1;
        return (static_cast<uint64_t>(x) & m) | (static_cast<uint64_t>(y) & m) << 21 |
               (static_cast<uint64_t>(z) & m) << 42;
    }
    const PlistArray* curves_;
    double reach_, cell_;
    std::unordered_map<uint64_t, std::vector<std::pair<int32_t, int32_t>>> cells_;
};

}  // namespace

int32_t curveRefineOnSurface(double tol, const TrimSurface* surface, Plist* curve) {
    if (!surface || !curve || !curve->vectors) return 0;
    int32_t inserted = 0;
    // Every pass builds the list anew in order: an ordered insert per point costs a search and a shift
    // (quadratic on long loops), and places a midpoint closer than the list's tolerance to its left
    // neighbour before that neighbour.
    for (bool again = true, full = false; again && !full;) {
        again = false;
        int32_t added = 0;  // counted once the pass's list replaces the curve
        Plist* next = plistCreate(curve->count, 1);
        if (!next || !next->vectors) {  // a list may come without its vectors when memory is short
            plistFree(next);
            return inserted;
        }
        int32_t room = kPlistMaxPoints - curve->count;
        for (int32_t i = 0; i < curve->count; i++) {
            if (plistAppend(next, curve->parameters[i], &curve->points[i], curve->flags[i],
                            &curve->vectors[i], curve->bytes ? curve->bytes[i] : 0) < 0) {
                plistFree(next);
                return inserted;
            }
            if (i + 1 == curve->count) break;
            const double t0 = curve->parameters[i], t1 = curve->parameters[i + 1];
            // Written so that NaN parameters or points count as close enough.
            if (!(std::fabs(t1 - t0) >= 1e-5) || !(dist3D(&curve->points[i], &curve->points[i + 1]) > tol))
                continue;
            const Vec3 uv{(curve->vectors[i].x + curve->vectors[i + 1].x) / 2,
                          (curve->vectors[i].y + curve->vectors[i + 1].y) / 2, 0.0};
            Vec3 p;
            if (!framePoint(surface, uv.x, uv.y, &p)) continue;
            if (room == 0) {
                full = true;  // keep what it has
                continue;
            }
            if (plistAppend(next, (t0 + t1) / 2, &p, 0, &uv, 0) < 0) {
                plistFree(next);
                return inserted;
            }
            room--;
            added++;
            again = true;
        }
        next->direction = curve->direction;
        next->reserved = curve->reserved;
        std::swap(*curve, *next);
        plistFree(next);
        inserted += added;
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
    PlistArray* curves = nullptr;
    bool ok = false;
    // Whatever below throws when memory is short (a reader, a work list) gives null as well.
    try {
        if (readSurfObjects(path, surfaces) >= 0) {
            curves = plistArrayCreate(1000);
            ok = curves != nullptr;
            for (int32_t k = 0; ok && k < surfaces->count; k++) {
                const TrimSurface* s = &surfaces->entries[k];
                for (int32_t j = 0; ok && j < s->loopCount; j++) {
                    const TrimLoop& loop = s->loops[j];
                    const std::unique_ptr<Plist, void (*)(Plist*)> curve(
                        plistCreate(curveCapacity(loop.count), 1), plistFree);
                    ok = curve != nullptr;
                    double length = 0.0;
                    for (int32_t i = 0; ok && i < loop.count && curve->count < curve->capacity; i++) {
                        Vec3 p;
                        if (!framePoint(s, loop.points[i].x, loop.points[i].y, &p)) continue;
                        if (curve->count > 0) length += dist3D(&curve->points[curve->count - 1], &p);
                        const Vec3 uv{loop.points[i].x, loop.points[i].y, 0.0};
                        ok = plistAppend(curve.get(), length, &p, 0, &uv, 0) >= 0;
                    }
                    if (ok) curveRefineOnSurface(tol, s, curve.get());
                    if (ok) ok = plistArrayAdd(curves, curve.get()) > 0;
                }
            }
            const int32_t surfaceCount = surfaces->count;
            freeSurfList(std::exchange(surfaces, nullptr));
            if (ok && surfaceCount < 2) ok = surfIsoCurves(path, curves, kSurfIsoSpacing) > 0;
        }
    } catch (const std::bad_alloc&) {
        ok = false;
    }
    freeSurfList(surfaces);
    if (!ok) {
        plistArrayFree(curves);
        return nullptr;
    }
    return curves;
}

CollMesh* collMeshFromSurfaceFile(const char* path, double mergeTol, double curveTol) {
    // The triangles must follow the surfaces as closely as the vertices are merged, else the wires
    // lie up to the conversion tolerance off the blades.
    CheckModel* model = meshLoadViaTmp3dfTriangles(path, mergeTol > 0 ? mergeTol : 1.0);
    if (!model) return nullptr;
    PlistArray* curves = meshFromSurfaceFile(path, 1.0);
    // Trim loops alone leave the inside of every surface bare, and lines kSurfIsoSpacing apart leave
    // bare strips between their bands: iso lines of every surface, close enough that every point of
    // the surfaces lies within curveTol of one, keep every triangle edge the tool could reach.
    // (Closer than kIsoFloor the lines would run into the thousands for a negligible reach.)
    const double spacing = std::clamp(curveTol, kIsoFloor, kSurfIsoSpacing);
    if (curves && curveTol > 0 && surfIsoCurves(path, curves, spacing) < 0) {
        plistArrayFree(curves);
        curves = nullptr;
    }
    const TriList* tris = model->triangles;
    CollMesh* mesh = curves ? collMeshCreate(3 * tris->count) : nullptr;
    if (mesh) {
        mesh->tolerance = mergeTol;
        try {
            const CurveCells cells(curves, curveTol);
            auto near = [&](const Vec3* p) { return cells.near(p); };
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
