#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include "collision/chkmodel.h"
#include "collision/collunit.h"
#include "collision/meshset.h"
#include "collision/polymesh.h"
#include "collision/surfcurves.h"
#include "surfaces/Implib/meshlib.h"

namespace {

struct Folders {
    std::string tmp, dll;
};
Folders g;

bool endsWithKvx(const char* path) {
    const size_t n = std::strlen(path);
    return n >= 4 && (std::strcmp(path + n - 4, ".kvx") == 0 || std::strcmp(path + n - 4, ".KVX") == 0);
}

MeshSet* setFromTwo(CollMesh* first, CollMesh* second, bool wantSecond, double angle) {
    MeshSet* set = meshSetCreate(kMeshSetSlots, 0);
    if (!set || !first || (wantSecond && !second)) {
        collMeshFree(first);
        collMeshFree(second);
        meshSetFree(set);
        return nullptr;
    }
    set->meshes[0] = first;
    set->meshes[1] = second;
    return meshSetFinish(set, angle);
}

}  // namespace

void meshSetSetFolders(const char* tmpDir, const char* dllDir) {
    g.tmp = tmpDir ? tmpDir : "";
    g.dll = dllDir ? dllDir : "";
}

int meshSetTmpPath(const char* name, char* out, size_t size) {
    std::string path = g.tmp;
    if (!path.empty() && path.back() != '/' && path.back() != '\\') path += '/';
    path += name;
    if (path.size() + 1 > size) {
        if (size > 0) out[0] = '\0';
        return 0;
    }
    std::memcpy(out, path.c_str(), path.size() + 1);
    return 1;
}

namespace {

// meshLoadViaTmp3df, with the per-element corners or without them (for a caller that reads the
// triangles alone).
CheckModel* loadViaTmp3df(const char* path, double tol, bool corners) {
    if (!path || !*path) return nullptr;
    char tmp[1024];
    std::string source = path;
    if (endsWithKvx(path)) {
        if (!meshSetTmpPath("tmp.3df", tmp, sizeof tmp)) return nullptr;
        if (loadMeshHelperLib(path, tmp, g.dll.c_str(), tol / collUnitFactor()) < 0) return nullptr;
        source = tmp;
    }
    auto* model = static_cast<CheckModel*>(std::calloc(1, sizeof(CheckModel)));
    if (!model) return nullptr;
    chkModelInit(model, kMeshTriangles);
    model->tool = static_cast<ToolGeom*>(std::calloc(1, sizeof(ToolGeom)));
    const char* name = source.c_str();
    const bool loaded = model->tool && (corners ? polymeshLoad(model, name)
                                                : polymeshLoadTriangles(model, name)) == kPolymeshOk;
    if (!loaded || !model->triangles) {
        polymeshDelete(model);
        return nullptr;
    }
    return model;
}

}  // namespace

CheckModel* meshLoadViaTmp3df(const char* path, double tol) {
    return loadViaTmp3df(path, tol, true);
}

CheckModel* meshLoadViaTmp3dfTriangles(const char* path, double tol) {
    return loadViaTmp3df(path, tol, false);
}

CollMesh* collMeshFromMeshFile(const char* path, double tol) {
    CheckModel* model = meshLoadViaTmp3dfTriangles(path, tol);
    if (!model) return nullptr;
    const TriList* tris = model->triangles;
    CollMesh* mesh = collMeshCreate(3 * tris->count);
    if (mesh) {
        mesh->tolerance = tol;
        // The capacity holds every end and edge: a failure is a shortage of memory.
        if (collMeshAddTriangleEdges(mesh, tris->data, tris->count) < 0)
            collMeshFree(std::exchange(mesh, nullptr));
    }
    polymeshDelete(model);
    return mesh;
}

MeshSet* meshSetFromFile(const char* path, const char* secondPath, double angle, double tol) {
    const bool second = secondPath && *secondPath;
    return setFromTwo(collMeshFromMeshFile(path, tol),
                      second ? collMeshFromMeshFile(secondPath, tol) : nullptr, second, angle);
}

MeshSet* meshSetFromSurfaces(const char* path, const char* secondPath, double angle, double tol,
                             double curveTol) {
    const bool second = secondPath && *secondPath;
    return setFromTwo(collMeshFromSurfaceFile(path, tol, curveTol),
                      second ? collMeshFromSurfaceFile(secondPath, tol, curveTol) : nullptr, second, angle);
}

CheckModel* polymeshLoadWithGrid(const char* path, const CheckModel* templ, double dist) {
    if (!templ) return nullptr;
    polymeshSetFreeShared(0);
    CheckModel* model = chkModelClone(templ);
    if (!model) return nullptr;
    if (polymeshLoad(model, path) != kPolymeshOk) {
        chkModelFree(model);
        return nullptr;
    }
    if (std::fabs(dist) >= 1e-5) chkModelOffsetTool(model, dist);
    if (polymeshBuildGrid(model) < 0) {
        polymeshDelete(model);
        return nullptr;
    }
    return model;
}

void polymeshDelete(CheckModel* model) {
    if (!model) return;
    polymeshFree(model);
    chkModelFree(model);
}
