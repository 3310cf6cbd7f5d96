// The run's blade and splitter meshes and the part model.
#include "plunge/surfset.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "collision/meshindex.h"
#include "collision/polymesh.h"
#include "geometry/mat4.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"
#include "plunge/cycparams.h"
#include "plunge/partload.h"
#include "plunge/revmeshmodel.h"
#include "surfaces/Implib/meshlib.h"
#include "surfaces/polyimport.h"

namespace {

bool gPlanGrids = true;

// The conversion tolerance in the exchange file's unit.
double conversionTol() {
    const CycleParams* p = cycleParams();
    return p->precision / (p->inchMode != 0 ? kCycleInchFactor : 1.0);
}

const char* conversionText(int32_t msg) {
    return msg == kMsgNoSplitterMesh ? "* Error: no Splitter Surfaces selected"
                                     : "* Error: no Blade Surfaces selected";
}

// The selection converted into the named file of the temporary folder: 1, or -1 with the message.
int convert(const char* selection, const char* name, int32_t failMsg, char* path) {
    if (tmpFilePath(name, path) != 1) return -1;
    if (loadMeshHelperLib(selection, path, dllDirParam(), conversionTol()) < 0) {
        msgText(9, failMsg, conversionText(failMsg), selection);
        return -1;
    }
    return 1;
}

// The second conversion of a selection already converted in this run (same selection, same
// tolerance, so the same file): a copy of the first one's file in the named file, its path kept in
// path. 1, or 0 when no copy could be made (the caller converts).
int copyConversion(const char* converted, const char* name, char* path) {
    if (tmpFilePath(name, path) != 1) return 0;
    std::error_code ec;
    std::filesystem::copy_file(converted, path, std::filesystem::copy_options::overwrite_existing, ec);
    return ec ? 0 : 1;
}

// With *MESH_KVX, the selection's meshes as the exchange file name in the temporary folder, its path
// kept in field.
int convertToExchange(const char* selection, const char* name, int32_t failMsg, char* field) {
    if (cycleParams()->meshKvx == 0) return 1;
    if (tmpFilePath(name, field) != 1) return -1;
    if (kvx_to_facets(selection, field, dllDirParam(), conversionTol()) < 0) {
        msgText(9, failMsg, conversionText(failMsg), selection);
        return -1;
    }
    return 1;
}

// Slot k: a clone of the tool context, empty; nullptr (reported) when out of memory.
CheckModel* newSlot(SurfaceSet* set, int k, const CheckModel* toolCtx) {
    CheckModel* m = chkModelClone(toolCtx);
    if (m == nullptr) {
        msgLong(9, kMsgOutOfMemory, "* Speichermangel", 0);
        return nullptr;
    }
    m->kind = kMeshTriangles;
    set->slot[k] = m;
    return m;
}

// Turns slot k's mesh by angle and builds its grid (when grids are asked for).
int finishSlot(CheckModel* m, int k, double angle) {
    if (angle != 0.0) rotateMeshAboutAxis(m, angle);
    if (gPlanGrids && polymeshBuildGrid(m) < 0) {
        msgLong(9, kMsgNoGrid, "* Fehler: Optimierungsliste kann nicht generiert werden", k);
        return -1;
    }
    return 1;
}

// Slot k: a clone of the tool context loaded from path, turned by angle, with its grid.
int loadSlot(SurfaceSet* set, int k, const CheckModel* toolCtx, const char* path, double angle) {
    CheckModel* m = newSlot(set, k, toolCtx);
    if (m == nullptr) return -1;
    if (polymeshLoad(m, path) != kPolymeshOk) {
        msgText(9, kMsgNoMeshLoaded, "* Error: No Surfaces selected", path);
        return -1;
    }
    return finishSlot(m, k, angle);
}

// The model's mesh turned as rotateMeshAboutAxis turns it, a triangle mesh's points read from `from`
// (the model's own triangles, or those of the mesh it copies, of the same count).
void turnMesh(CheckModel* model, const Triangle3D* from, double angle) {
    const Vec3 origin{0, 0, 0}, axis{0, 0, 1};
    AxisTurn turn;
    const bool turns = axisTurnPrepare(&turn, &origin, &axis, angle) == 1;
    const int32_t n = chkMeshCount(model->kind, model->facets, model->facetCount, model->triangles);
    TriList* list = model->kind == kMeshTriangles ? model->triangles : nullptr;
    if (list != nullptr) {
        list->xmin = list->ymin = 1e10;
        list->xmax = list->ymax = -1e10;
    }
    double* b = model->bounds;
    if (n > 0) b[0] = b[1] = 1e10, b[3] = b[4] = -1e10;
    for (int32_t i = 0; i < n; ++i) {
        // Facets are packed records: their points are turned in a copy.
        Vec3 pts[4];
        const int k = list != nullptr ? 3 : 4;
        for (int j = 0; j < k; ++j) pts[j] = list != nullptr ? from[i].p[j] : Vec3(model->facets[i].p[j]);
        // The heights stay, so the order by height does too; the plan corners move.
        for (int j = 0; turns && j < k; ++j) axisTurnApply(&turn, &pts[j]);
        for (int j = 0; j < k; ++j) {
            if (list != nullptr)
                list->data[i].p[j] = pts[j];
            else
                model->facets[i].p[j] = pts[j];
        }
        Vec3 lo = pts[0], hi = pts[0];
        for (int j = 1; j < k; ++j) boxExtendByPoint(&lo, &hi, &pts[j]);
        if (model->boxMin != nullptr && model->boxMax != nullptr) {
            model->boxMin[i] = lo;
            model->boxMax[i] = hi;
        }
        // boxMinOf(p, m) is std::fmin(m, p) and boxMaxOf(p, m) std::fmax(m, p), inline.
        b[0] = boxMinOf(lo.x, b[0]), b[1] = boxMinOf(lo.y, b[1]);
        b[3] = boxMaxOf(hi.x, b[3]), b[4] = boxMaxOf(hi.y, b[4]);
        if (list != nullptr) {
            list->xmin = boxMinOf(lo.x, list->xmin), list->ymin = boxMinOf(lo.y, list->ymin);
            list->xmax = boxMaxOf(hi.x, list->xmax), list->ymax = boxMaxOf(hi.y, list->ymax);
        }
    }
}

// Slot k: a clone of the tool context holding a copy of the mesh slot `from` loaded (not yet turned:
// its grid is left behind), turned by angle, with its grid. The copy is what loading the same file
// again would give; the loader's sort of the triangles is the costly part it spares.
int copySlot(SurfaceSet* set, int k, int from, const CheckModel* toolCtx, double angle) {
    CheckModel* m = newSlot(set, k, toolCtx);
    if (m == nullptr) return -1;
    const CheckModel* src = set->slot[from];
    // A turned copy takes each point straight from the original: turning writes every point and corner.
    const bool turned = angle != 0.0 && src != nullptr && src->triangles != nullptr;
    if ((turned ? polymeshCopyRoom(m, src) : polymeshCopy(m, src)) != kPolymeshOk) {
        msgLong(9, kMsgOutOfMemory, "* Speichermangel", 0);
        return -1;
    }
    if (turned) turnMesh(m, src->triangles->data, angle);
    return finishSlot(m, k, turned ? 0.0 : angle);
}

// True when both files hold the same bytes.
bool sameBytes(const char* a, const char* b) {
    std::FILE* fa = std::fopen(a, "rb");
    std::FILE* fb = fa ? std::fopen(b, "rb") : nullptr;
    bool same = fa && fb;
    std::vector<char> bufA(same ? 1 << 16 : 0), bufB(bufA.size());
    while (same) {
        const size_t na = std::fread(bufA.data(), 1, bufA.size(), fa);
        const size_t nb = std::fread(bufB.data(), 1, bufB.size(), fb);
        same = na == nb && std::memcmp(bufA.data(), bufB.data(), na) == 0;
        if (na < bufA.size()) break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

// Slot k from path, turned by angle; when path holds the very bytes slot `from` was read from (turned
// alike; copied: known to, as a copy of that file), a clone sharing that slot's mesh and grid: loading
// them again would give the same mesh, and each such copy of a blade costs a mesh and a grid.
int loadOrShare(SurfaceSet* set, int k, int from, const char* fromPath, const CheckModel* toolCtx,
                const char* path, double angle, bool copied) {
    if (set->slot[from] == nullptr || (!copied && !sameBytes(fromPath, path)))
        return loadSlot(set, k, toolCtx, path, angle);
    set->slot[k] = chkModelClone(set->slot[from]);
    if (set->slot[k] == nullptr) {
        msgLong(9, kMsgOutOfMemory, "* Speichermangel", 0);
        return -1;
    }
    return 1;
}

// Whether slot k shares the mesh of an earlier slot.
bool sharesMesh(const SurfaceSet* set, int k) {
    const CheckModel* m = set->slot[k];
    for (int j = 0; m != nullptr && m->boxMin != nullptr && j < k; ++j)
        if (set->slot[j] != nullptr && set->slot[j]->boxMin == m->boxMin) return true;
    return false;
}

}  // namespace

void surfSetPlanGrids(int on) {
    gPlanGrids = on != 0;
}

void surfSetResetState() {
    gPlanGrids = true;
}

SurfaceSet* idx5CreateSurfaceSet(const CheckModel* toolCtx, double angle) {
    auto* set = static_cast<SurfaceSet*>(memCalloc(1, sizeof(SurfaceSet)));
    if (set == nullptr) {
        msgLong(9, kMsgOutOfMemory, "* Speichermangel", 0);
        return nullptr;
    }
    if (idx5LoadBladeSurfaces(set, toolCtx, angle) < 0) {
        freeSurfaceSet(set);
        return nullptr;
    }
    return set;
}

void freeSurfaceSet(SurfaceSet* set) {
    if (set == nullptr) return;
    // A slot that loaded its mesh frees it; a slot sharing an earlier slot's mesh frees its record only.
    for (int k = kSurfSetSlots - 1; k >= 0; --k) {
        if (!sharesMesh(set, k)) polymeshFree(set->slot[k]);
        chkModelFree(set->slot[k]);
    }
    std::free(set);
}

int idx5LoadBladeSurfaces(SurfaceSet* set, const CheckModel* toolCtx, double angle) {
    if (set == nullptr || toolCtx == nullptr) return -1;
    CycleParams* p = cycleParams();
    char blade[kCycleTextMax + 1], blade1[kCycleTextMax + 1], split[kCycleTextMax + 1],
        split1[kCycleTextMax + 1];
    if (convert(p->bladeKvx, "bld.3df", kMsgNoBladeMesh, blade) != 1) return -1;
    if (loadSlot(set, 0, toolCtx, blade, 0.0) != 1) return -1;
    if (convertToExchange(p->bladeKvx, "bld.kvx", kMsgNoBladeMesh, p->bladeKvx2) != 1) return -1;
    const bool splitter = p->splitKvxOk != 0 && p->splitKvx[0] != '\0';
    if (splitter) {
        if (convert(p->splitKvx, "spl.3df", kMsgNoSplitterMesh, split) != 1) return -1;
        if (loadSlot(set, 1, toolCtx, split, 0.0) != 1) return -1;
        if (convertToExchange(p->splitKvx, "spl.kvx", kMsgNoSplitterMesh, p->splitKvx2) != 1) return -1;
    }
    if (copySlot(set, 2, 0, toolCtx, angle) != 1 || copySlot(set, 6, 0, toolCtx, -angle) != 1) return -1;
    // A copy holds the first file's bytes: its slots share without comparing them.
    const bool bladeCopied = copyConversion(blade, "bld1.3df", blade1) == 1;
    if (!bladeCopied && convert(p->bladeKvx, "bld1.3df", kMsgNoBladeMesh, blade1) != 1) return -1;
    if (loadOrShare(set, 3, 0, blade, toolCtx, blade1, 0.0, bladeCopied) != 1) return -1;
    if (splitter && set->slot[1] != nullptr) {
        const bool splitCopied = copyConversion(split, "spl1.3df", split1) == 1;
        if (!splitCopied && convert(p->splitKvx, "spl1.3df", kMsgNoSplitterMesh, split1) != 1) return -1;
        if (loadOrShare(set, 4, 1, split, toolCtx, split1, 0.0, splitCopied) != 1) return -1;
    }
    return loadOrShare(set, 5, 2, blade, toolCtx, blade1, angle, bladeCopied) == 1 ? 0 : -1;
}

void rotateMeshAboutAxis(CheckModel* model, double angle) {
    if (model != nullptr)
        turnMesh(model, model->triangles != nullptr ? model->triangles->data : nullptr, angle);
}

SurfaceGrids* buildSurfaceSetGrids(const SurfaceSet* set, double toolRadius) {
    if (set == nullptr) return nullptr;
    auto* grids = static_cast<SurfaceGrids*>(memCalloc(1, sizeof(SurfaceGrids)));
    if (grids == nullptr) return nullptr;
    const int order[kSurfSetGrids] = {0, 2, 1};
    const Vec3 origin{0, 0, 0};
    for (int g = 0; g < kSurfSetGrids; ++g) {
        const CheckModel* m = set->slot[order[g]];
        if (m == nullptr) continue;
        grids->grid[g] = triGridCreate(50, 50, 100);
        if (grids->grid[g] == nullptr ||
            triGridFill(grids->grid[g], &origin, m->triangles, toolRadius) != 1) {
            freeSurfaceSetGrids(grids);
            return nullptr;
        }
        ++grids->count;
    }
    return grids;
}

void freeSurfaceSetGrids(SurfaceGrids* grids) {
    if (grids == nullptr) return;
    for (TriGrid* g : grids->grid) triGridFree(g);
    std::free(grids);
}

CheckModel* idx5BuildPartModel(const CheckModel* toolCtx, const SurfaceSet* set) {
    if (toolCtx == nullptr || set == nullptr) return nullptr;
    const CheckModel* models[5] = {toolCtx, set->slot[6], set->slot[2], set->slot[1], set->slot[0]};
    CheckModel* part = revMeshJoin(toolCtx, models, 5);
    // Every departure and link sweeps the whole part: an index spares them the far elements. Without
    // one (memory short) they scan everything, with the same answers.
    if (part != nullptr)
        part->index =
            meshIndexBuild(chkMeshCount(part->kind, part->facets, part->facetCount, part->triangles),
                           part->boxMin, part->boxMax);
    return part;
}
