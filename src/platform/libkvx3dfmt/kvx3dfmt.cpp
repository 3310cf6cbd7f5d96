// Mesh conversion library: the trimmed surfaces of an exchange file as Polyhedron objects of
// another exchange file, one Polyhedron per surface, every number written so that it reads back
// to the same bits.
#include <cstdint>
#include <cstdio>

#include "kernel/base/kvx/kvxfile.h"
#include "surfaces/kvxsurf.h"
#include "trimmesh.h"

extern "C" __attribute__((visibility("default"))) int32_t facet_kvx_file2(const char* input, double tolerance,
                                                                          const char* output, int32_t mode,
                                                                          int32_t flag);

namespace {

bool writePolyhedron(FILE* out, int32_t id, const TrimMesh& mesh) {
    const size_t faces = mesh.triangles.size() / 3;
    bool ok = std::fprintf(out, "o Polyhedron[S%d](nFace[%zu])\n{\no Pset[1]()\n{\n", id, faces) > 0;
    for (size_t i = 0; ok && i < mesh.points.size(); ++i) {
        const Vec3& p = mesh.points[i];
        ok = std::fprintf(out, "o P[%zu](x[%.17g] y[%.17g] z[%.17g])\n", i + 1, p.x, p.y, p.z) > 0;
    }
    ok = ok && std::fputs("}\n", out) >= 0;
    for (size_t t = 0; ok && t < faces; ++t) {
        ok = std::fprintf(out, "o Face(vx[1/%d] vx[1/%d] vx[1/%d])\n", mesh.triangles[3 * t] + 1,
                          mesh.triangles[3 * t + 1] + 1, mesh.triangles[3 * t + 2] + 1) > 0;
    }
    return ok && std::fputs("}\n", out) >= 0;
}

}  // namespace

// The caller's mode (111) and flag (1) select nothing here: there is one way to write the file.
int32_t facet_kvx_file2(const char* input, double tolerance, const char* output, int32_t, int32_t) {
    if (input == nullptr || output == nullptr || !(tolerance > 0)) return -1;
    SurfList* list = newSurfList(16);
    if (list == nullptr) return -1;
    bool ok = readSurfObjects(input, list) == 1 && list->count > 0;
    FILE* out = ok ? std::fopen(output, "wb") : nullptr;
    ok = out != nullptr &&
         std::fprintf(out, "%s\n%s 1.0\npolyhedra\n%d\n", kKvxBanner, kKvxVersionTag, list->count) > 0;
    int64_t faces = 0;
    for (int32_t i = 0; ok && i < list->count; ++i) {
        TrimMesh mesh;
        ok = trimMeshSurface(&list->entries[i], tolerance, &mesh) == 1 && writePolyhedron(out, i + 1, mesh);
        faces += static_cast<int64_t>(mesh.triangles.size() / 3);
    }
    freeSurfList(list);
    if (out != nullptr && std::fclose(out) != 0) ok = false;
    if (!ok || faces == 0 || faces > INT32_MAX) return -1;
    return static_cast<int32_t>(faces);
}
