// Revolved meshes as check models: the hub swept about the axis into a clone of a template model,
// models merged into one triangle mesh, and the check model written with the hub as a 3df file.
// The sweep itself is surfaces/revmesh.h.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"
#include "plunge/profile2d.h"

// A kind-3 clone of the template holding the profile, extended at both ends by extension (0 leaves
// it), swept with the template's tolerance as chord tolerance; triangles sorted by height with
// their corners, the box the list's. Null when the sweep or an allocation fails.
CheckModel* revMeshBuild(const CheckModel* templ, const Profile2D* profile, double extension);
// The triangles of revMeshBuild's model (no extension) whose boxes meet the open plan rectangle
// (x0, x1, y0, y1; null: all), band after band of the profile in falling order of their tops, with an
// index; the bounds are the whole sweep's. For a sweep whose plan rectangle (the tool's reach around
// the swept line) lies within, every lift and contact test answers as over revMeshBuild's model, only
// a contact of several equal largest lifts may come from another triangle. Null on failure.
CheckModel* revMeshLiftModel(const CheckModel* templ, const Profile2D* profile, const double* plan);
// The lift model's mesh rebuilt for another rectangle, its tool and settings kept: 1, or -1 when the
// sweep or memory fails (the model then holds no mesh).
int revMeshLiftRefill(CheckModel* model, const Profile2D* profile, const double* plan);
// Makes a lift model cover a sweep of its tool from p - length d to p: unless the sweep's plan
// rectangle (the tool's radius around the line) lies within plan, plan grows by margin around both
// and the model is refilled for it (for a sweep or plan that is not finite: the whole sweep). 1, or
// -1 when the refill fails.
int revMeshLiftCover(CheckModel* model, const Profile2D* profile, double plan[4], const Vec3* p,
                     const Vec3* d, double length, double margin);
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
