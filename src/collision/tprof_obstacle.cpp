#include <algorithm>
#include <cstdlib>
#include <vector>

#include "collision/chkmodel.h"
#include "collision/polymesh.h"
#include "collision/tprof.h"
#include "kernel/base/msg.h"

FTriList* coll_obstacle_from_file(const char* name, double d, double toolRadius) {
    CheckModel model;
    chkModelInit(&model, kMeshTriangles);
    model.tool = static_cast<ToolGeom*>(std::calloc(1, sizeof(ToolGeom)));
    if (!model.tool) return nullptr;
    *model.tool = ToolGeom{kBallMill, toolRadius, toolRadius, 0, 0, 2 * toolRadius, 0, 0, 0};
    // A file that does not load is said so: the checks against this obstacle would otherwise pass
    // unnoticed as free.
    if (polymeshLoad(&model, name) != 0 || !model.triangles) {
        msgText(9, kMsgObstacleNotLoaded, "* Error: Missing Polymesh file %s", name ? name : "");
        polymeshFree(&model);
        chkModelFreeParts(&model);
        std::free(model.tool);
        return nullptr;
    }
    const bool grid = polymeshBuildGrid(&model) > 0 && model.grid;
    const TriList* tris = model.triangles;
    FTriList* out = ftriListCreate(std::max(3, std::abs(d) >= 1e-5 ? 2 * tris->count : tris->count));
    auto add = [&](int32_t i) {
        const Vec3* v = tris->data[i].p;
        FTriangle f;
        for (int k = 0; k < 3; k++) {
            f.v[3 * k] = static_cast<float>(v[k].x);
            f.v[3 * k + 1] = static_cast<float>(v[k].y);
            f.v[3 * k + 2] = static_cast<float>(v[k].z);
        }
        return ftriListAdd(out, &f) >= 0;
    };
    if (out) {
        std::vector<uint8_t> seen;
        bool marks = grid;
        if (marks) {
            try {
                seen.assign(static_cast<size_t>(tris->count), 0);
            } catch (...) {
                marks = false;
            }
        }
        bool ok = true;
        if (marks) {
            const Grid2D* g = model.grid;
            for (int32_t r = 0; ok && r < g->rows; r++)
                for (int32_t c = 0; ok && c < g->cols; c++) {
                    const GridCell& cell = g->cells[r][c];
                    for (int32_t k = 0; ok && k < cell.count; k++) {
                        const int32_t i = cell.items[k];
                        if (i < 0 || i >= tris->count || seen[i]) continue;
                        seen[i] = 1;
                        ok = add(i);
                    }
                }
        } else {
            for (int32_t i = 0; ok && i < tris->count; i++) ok = add(i);
        }
    }
    polymeshFree(&model);
    chkModelFreeParts(&model);
    std::free(model.tool);
    return out;
}
