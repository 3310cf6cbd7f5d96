// Revolved meshes as check models: the hub swept about the axis into a clone of a template model,
// models merged into one triangle mesh, and the check model written with the hub as a 3df file.
// The sweep itself is surfaces/revmesh.h.
#pragma once

#include <cstdint>
#include <vector>

#include "collision/chkmodel.h"
#include "plunge/profile2d.h"

// A kind-3 clone of the template holding the profile, extended at both ends by extension (0 leaves
// it), swept with the template's tolerance as chord tolerance; triangles sorted by height with
// their corners, the box the list's. Null when the sweep or an allocation fails.
CheckModel* revMeshBuild(const CheckModel* templ, const Profile2D* profile, double extension);
// A lift model's region finer than its plan rectangle: square cells over the rectangle, of which only
// the marked ones are covered, and a grain: a triangle whose plan box is wider and higher together is
// kept wherever it lies. Without cells (nx 0) the whole rectangle is covered.
struct LiftCells {
    double x0 = 0.0, y0 = 0.0, size = 0.0, grain = 0.0;
    int32_t nx = 0, ny = 0;
    std::vector<uint8_t> marked;  // nx * ny, row after row along x
};
// Cells of about size (coarser over a wide rectangle) over the plan rectangle, none marked; without
// cells for a rectangle, size or grain that is not finite or not positive. False when memory is short.
bool liftCellsInit(LiftCells* cells, const double plan[4], double size, double grain);
// Marks every cell the closed plan rectangle (x0, x1, y0, y1) meets that comes within radius of the
// plan line through (line[0], line[1]) along (line[2], line[3]) (without a line, or one that is not
// finite: every cell the rectangle meets).
void liftCellsMark(LiftCells* cells, const double rect[4], const double* line, double radius);
// The triangles of revMeshBuild's model (no extension) whose boxes meet the open plan rectangle
// (x0, x1, y0, y1; null: all) and, with cells, a marked cell unless coarser than the grain, band after band
// of the profile in falling order of their tops, with an index and without corner boxes (the sweeps take
// each from its triangle); the bounds are the whole sweep's. For a sweep
// whose plan rectangle (the tool's reach around the swept line) lies within the rectangle and its marked
// cells, every lift and contact test answers as over revMeshBuild's model, only a contact of several equal
// largest lifts may come from another triangle. Null on failure.
CheckModel* revMeshLiftModel(const CheckModel* templ, const Profile2D* profile, const double* plan,
                             const LiftCells* cells = nullptr);
// The lift model's mesh rebuilt for another region, its tool and settings kept: 1, or -1 when the
// sweep or memory fails (the model then holds no mesh).
int revMeshLiftRefill(CheckModel* model, const Profile2D* profile, const double* plan,
                      const LiftCells* cells = nullptr);
// Makes a lift model cover a sweep of its tool from p - length d to p: unless the sweep's plan
// rectangle (the tool's radius around the line) lies within plan, and its part within the tool's radius
// and the grain of the line within marked cells, plan grows by margin around both, the cells (if any)
// are laid over the grown plan keeping what was marked, the sweep's are marked with the margin, and
// the model is refilled for it (for a sweep or plan that is not finite: the whole sweep, without
// cells). A triangle farther than the tool's radius from the line never meets the tool, and one within
// it and within the grain of the rectangle, in the cells. 1, or -1 when the refill fails.
int revMeshLiftCover(CheckModel* model, const Profile2D* profile, double plan[4], const Vec3* p,
                     const Vec3* d, double length, double margin, LiftCells* cells = nullptr);
// A kind-3 clone of the first model holding every triangle of both (facets as their triangles).
CheckModel* revMeshMerge(const CheckModel* model, const CheckModel* second);
// A kind-3 clone of base holding the triangles of the count models in order (null entries
// skipped), sorted by height with their corners. Null on failure.
CheckModel* revMeshJoin(const CheckModel* base, const CheckModel* const* models, int32_t count);
// The run's hub (its curve at the model's stepLength) swept at tol, merged with the model and
// written to the file: 1, or -1 when the hub mesh cannot be built, the merge fails or the file
// cannot be written.
int revMeshWrite(CheckModel* model, double tol, const char* fileName);
// Frees a model made here: its corners, its triangle list and the record.
void revMeshFree(CheckModel* model);
