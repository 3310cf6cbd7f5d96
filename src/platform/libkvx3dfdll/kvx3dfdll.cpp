// Mesh conversion library: the trimmed surfaces of an exchange file as a 3df facet file.
#include <cstdint>
#include <vector>

#include "KVWOG5/lists.h"
#include "geometry/frames.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/meshfiles/facetfile.h"
#include "trimmesh.h"

extern "C" __attribute__((visibility("default"))) int32_t facet_kvx_file(const char* input, double tolerance,
                                                                         const char* output, int32_t mode);

// The mode of the caller (100) selects nothing here: there is one way to write the file.
int32_t facet_kvx_file(const char* input, double tolerance, const char* output, int32_t) {
    if (input == nullptr || output == nullptr || !(tolerance > 0)) return -1;
    SurfList* list = newSurfList(16);
    if (list == nullptr) return -1;
    // A mesh per surface: each takes its room once, where one mesh for all grew and copied itself
    // surface after surface.
    std::vector<TrimMesh> meshes;
    bool ok = readSurfObjects(input, list) == 1 && list->count > 0;
    if (ok) meshes.resize(list->count);
    size_t n = 0;
    for (int32_t i = 0; ok && i < list->count; ++i) {
        ok = trimMeshSurface(&list->entries[i], tolerance, &meshes[i]) == 1;
        n += meshes[i].triangles.size() / 3;
    }
    freeSurfList(list);
    if (!ok || n == 0 || n > INT32_MAX) return -1;
    TriList* tris = triListCreate(static_cast<int32_t>(n));
    if (tris == nullptr) return -1;
    // The writer takes each corner from frame A to world; a point is the corner of about six
    // triangles, so without the frame pair (applied before the frame) each point is taken once here,
    // by the same function, and the triangles are written as given.
    const bool world = framePairGetFlag(kFramePairMeshes) == 0;
    if (world)
        for (TrimMesh& mesh : meshes)
            for (Vec3& p : mesh.points) pointFrameAToWorld(&p);
    // Filled in place: the writer reads the triangles alone, not the list's box.
    Triangle3D* to = tris->data;
    for (const TrimMesh& mesh : meshes) {
        const Vec3* p = mesh.points.data();
        const int32_t* t = mesh.triangles.data();
        for (size_t k = 0; k < mesh.triangles.size(); k += 3)
            *to++ = Triangle3D{{p[t[k]], p[t[k + 1]], p[t[k + 2]]}};
    }
    tris->count = static_cast<int32_t>(n);
    const int written =
        polymeshWrite3df(world ? kFacetMeshWorldTriangles : kFacetMeshTriangles, tris, nullptr, 0, output);
    triListFree(tris);
    return written > 0 ? written : -1;
}
