// Plan bucket grids of check models: one over the whole mesh, one per part, one per tool reach.
#include <cmath>
#include <cstdlib>

#include "collision/polymesh.h"
#include "kernel/base/constants.h"

namespace {

constexpr int32_t kCellCapacity = 100;
constexpr int32_t kToolGridMax = 30;

// The tool's reach beyond an item's box.
double toolMargin(const ToolGeom* tool) {
    if (tool == nullptr) return 0.0;
    double m = tool->radius;
    // A taper widens the tool over its cutting length.
    if (tool->taperFlag && tool->taperAngle > 0.0 && tool->taperAngle < 90.0)
        m += std::tan(tool->taperAngle * kDegToRad) * std::fmax(tool->height, 0.0);
    return std::fmax(m, 0.5 * tool->size2);
}

// A box with its two corners in order and finite, else none (an empty mesh keeps its +-1e10 box).
bool validBox(const double* b) {
    for (int k = 0; k < 6; ++k)
        if (!std::isfinite(b[k])) return false;
    return b[0] <= b[3] && b[1] <= b[4];
}

Grid2D* fillGrid(int32_t n, const double* bounds, const Vec3* lo, const Vec3* hi, double margin,
                 int* failed) {
    *failed = 0;
    if (n < 1 || lo == nullptr || hi == nullptr || !validBox(bounds)) return nullptr;
    const double aspect = (bounds[3] + 1.0 - bounds[0]) / (bounds[4] + 1.0 - bounds[1]);
    const int32_t rows = static_cast<int32_t>(std::sqrt(400.0 / aspect)) + 1;
    const int32_t cols = static_cast<int32_t>(rows * aspect) + 1;
    Grid2D* grid = grid2DCreate(rows, cols, kCellCapacity);
    const Vec3 a{bounds[0], bounds[1], bounds[2]}, b{bounds[3], bounds[4], bounds[5]};
    if (grid == nullptr || grid2DFillSegs(grid, n, &a, &b, lo, hi, margin) < 0) {
        grid2DFree(grid);
        *failed = 1;
        return nullptr;
    }
    return grid;
}

}  // namespace

int polymeshBuildGrid(CheckModel* model) {
    if (model == nullptr) return -1;
    int result = 1, failed = 0;
    grid2DFree(model->grid);
    const int32_t n = chkMeshCount(model->kind, model->facets, model->facetCount, model->triangles);
    model->grid = fillGrid(n, model->bounds, model->boxMin, model->boxMax, toolMargin(model->tool), &failed);
    if (failed) result = -1;
    for (CheckModelPart* part = model->parts; part != nullptr; part = part->next) {
        const int32_t np = chkMeshCount(part->kind, part->facets, part->facetCount, part->triangles);
        if (np < 1) continue;
        grid2DFree(part->grid);
        part->grid = fillGrid(np, part->bounds, part->boxMin, part->boxMax, toolMargin(&part->tool), &failed);
        if (failed) result = -1;
    }
    return result;
}

Grid2D* polymeshBuildToolGrid(const CheckModel* model, double length, double angle) {
    if (model == nullptr) return nullptr;
    double a = std::fabs(angle) < 1e-5 ? 0.001 : angle;
    const ToolGeom* tool = model->tool;
    if (tool != nullptr && tool->taperFlag) a += tool->taperAngle * kDegToRad;
    const double s = std::sin(std::fmin(a, kHalfPi)) * length + (tool != nullptr ? tool->radius : 0.0);
    double box[6];
    if (model->kind == kMeshTriangles && model->triangles != nullptr) {
        const TriList* l = model->triangles;
        const double b[6] = {l->xmin, l->ymin, l->zmin, l->xmax, l->ymax, l->zmax};
        for (int k = 0; k < 6; ++k) box[k] = b[k];
    } else {
        for (int k = 0; k < 6; ++k) box[k] = model->bounds[k];
    }
    // Counts are taken in doubles: a reach of 0 or an empty box must not overflow the cast.
    auto count = [&](double extent) {
        const double c =
            s > 0.0 && std::isfinite(extent) ? std::fabs(extent) / (2.0 * s) + 1.0 : kToolGridMax;
        return static_cast<int32_t>(std::fmin(c, static_cast<double>(kToolGridMax)));
    };
    const int32_t cols = count(box[3] - box[0]);
    const int32_t rows = count(box[4] - box[1]);
    Grid2D* grid = grid2DCreate(rows, cols, kCellCapacity);
    if (grid == nullptr) return nullptr;
    const int32_t n = chkMeshCount(model->kind, model->facets, model->facetCount, model->triangles);
    const Vec3 lo{box[0], box[1], box[2]}, hi{box[3], box[4], box[5]};
    if (grid2DFillSegs(grid, n, &lo, &hi, model->boxMin, model->boxMax, s > 0.0 ? s : 0.0) < 0) {
        grid2DFree(grid);
        return nullptr;
    }
    return grid;
}
