#include "collision/chkmodel.h"

#include <cstdlib>
#include <cstring>

#include "collision/meshquery.h"
#include "collision/proj.h"

void chkModelInit(CheckModel* model, int32_t kind) {
    if (!model) return;
    std::memset(model, 0, sizeof(*model));
    model->kind = kind;
    model->stepLength = 1.0;
    model->tolerance = 0.008;
}

CheckModel* chkModelClone(const CheckModel* model) {
    if (!model) return nullptr;
    auto* copy = static_cast<CheckModel*>(std::malloc(sizeof(CheckModel)));
    if (!copy) return nullptr;
    *copy = *model;
    copy->tool = nullptr;
    copy->parts = nullptr;
    if (model->tool) {
        copy->tool = static_cast<ToolGeom*>(std::malloc(sizeof(ToolGeom)));
        if (!copy->tool) {
            std::free(copy);
            return nullptr;
        }
        *copy->tool = *model->tool;
    }
    CheckModelPart** tail = &copy->parts;
    for (const CheckModelPart* src = model->parts; src; src = src->next) {
        auto* part = static_cast<CheckModelPart*>(std::malloc(sizeof(CheckModelPart)));
        if (!part) {
            chkModelFree(copy);
            return nullptr;
        }
        *part = *src;
        part->next = nullptr;
        *tail = part;
        tail = &part->next;
    }
    return copy;
}

void chkModelFreeParts(CheckModel* model) {
    if (!model) return;
    CheckModelPart* part = model->parts;
    while (part) {
        CheckModelPart* next = part->next;
        std::free(part);
        part = next;
    }
    model->parts = nullptr;
}

void chkModelFree(CheckModel* model) {
    if (!model) return;
    chkModelFreeParts(model);
    std::free(model->tool);
    std::free(model);
}

int chkModelOffsetTool(CheckModel* model, double d) {
    if (!model) return 0;
    int changed = 0;
    if (model->tool) {
        if (model->tool->radius + d > 1e-5) {
            model->tool->radius += d;
            changed = 1;
        }
        if (d < 0) model->tool->size2 += 2 * d;
    }
    for (CheckModelPart* part = model->parts; part; part = part->next) {
        if (part->tool.radius + d > 1e-5) part->tool.radius += d;
        if (d < 0) part->tool.size2 += 2 * d;
    }
    return changed;
}

int32_t chkMeshCount(int32_t kind, const Facet98* facets, int32_t facetCount, const TriList* triangles) {
    if (kind == kMeshTriangles) return triangles ? triangles->count : 0;
    return facets ? facetCount : 0;
}

int chkElementTriangles(int32_t kind, const Facet98* facets, const TriList* triangles, int32_t j,
                        Vec3 out[6]) {
    if (kind == kMeshTriangles) {
        const Triangle3D& t = triangles->data[j];
        out[0] = t.p[0];
        out[1] = t.p[1];
        out[2] = t.p[2];
        return 1;
    }
    const Facet98& f = facets[j];
    out[0] = f.p[0];
    out[1] = f.p[1];
    out[2] = f.p[2];
    // A triangle facet repeats its third point: its second half is no triangle.
    if (f.p[3].x == f.p[2].x && f.p[3].y == f.p[2].y && f.p[3].z == f.p[2].z) return 1;
    out[3] = f.p[0];
    out[4] = f.p[2];
    out[5] = f.p[3];
    return 2;
}

int chkPartIsEmpty(const CheckModelPart* part) {
    return chkMeshCount(part->kind, part->facets, part->facetCount, part->triangles) > 0 ? 0 : 1;
}

int chkModelIsEmpty(const CheckModel* model) {
    if (!model) return 1;
    if (chkMeshCount(model->kind, model->facets, model->facetCount, model->triangles) > 0) return 0;
    for (const CheckModelPart* part = model->parts; part; part = part->next)
        if (!chkPartIsEmpty(part)) return 0;
    return 1;
}

int chkModelPath(CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p, const Vec3* d,
                 double length, double* lift, Vec3* contact) {
    if (model && model->parts) return meshDropToolAlt(model, cells, cellCount, p, d, length, lift, contact);
    return meshDropTool(model, cells, cellCount, p, d, length, lift, contact);
}

int chkModelPathAbove(CheckModel* model, const Vec3* p, const Vec3* d, double length, double above) {
    return meshDropToolAbove(model, p, d, length, above);
}

int chkModelPoints(CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p, const Vec3* d,
                   double length, Vec3* contact) {
    return meshContactAlongDir(model, cells, cellCount, p, d, length, contact);
}

int chkModelSegment(CheckModel* model, const Vec3* p, const Vec3* axis, double length, const Grid2D* grid,
                    double angle) {
    return meshContactPoint(model, p, axis, length, grid, angle);
}

int chkModelContactPoints(CheckModel* model, Plist* list, double length, const Grid2D* grid, double angle) {
    return meshContactPoints(model, list, length, grid, angle);
}

int chkModelList(CheckModel* model, Plist* list, double length, const int32_t* cells, int32_t cellCount,
                 const CheckParams* params) {
    return meshCollisionPlist(model, list, length, cells, cellCount, params);
}

void chkModelPrepare(const CheckModel* model, int32_t option) {
    if (!model) return;
    if (model->kind == kMeshTriangles)
        projB_set_params(model->triangles, model->boxMin, model->boxMax, model->engineWord, model->bounds[2],
                         model->bounds[5], option);
    else
        projA_set_params(model->facets, model->facetCount, model->boxMin, model->boxMax, model->engineWord,
                         model->bounds[2], model->bounds[5], option);
}

int chkModelPlaceTool(const CheckModel* model, Vec3* point, Vec3* contact, int32_t* classOut) {
    if (!model || !point || !model->tool) return 0;
    chkModelPrepare(model, 0);
    const int32_t* cells = nullptr;
    int32_t count = 0;
    if (model->grid) {
        const GridCell* cell = grid2DCellAt(model->grid, point->x, point->y);
        if (!cell) return 0;
        cells = cell->items;
        count = cell->count;
    }
    const double z0 = model->tool->radius + model->bounds[5];
    if (model->kind == kMeshTriangles)
        return projB_place(point, z0, model->tool, cells, count, contact, classOut);
    return projA_place(point, z0, model->tool, cells, count, contact, classOut);
}
