// Meshes of the check model: loading 3df, STL and exchange files into a model's triangle list
// (kind 3) or facet array (kind 4) in frame A, merging two models, the z shift, and the plan
// bucket grids that the contact queries search.
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "collision/chkmodel.h"
#include "geometry/grid2d.h"

enum : int {
    kPolymeshOk = 0,
    kPolymeshNoMemory = -1,   // also a facet-group hook that refused the file
    kPolymeshNoFile = -2,     // empty name, missing or unreadable file
    kPolymeshNotFacets = -4,  // not a facet file of version 1.x or 2.x, empty or truncated
};

// Fills the model by its kind from the file; the kind of file comes from the name's extension
// ("kvx" exchange, "stl" STL, anything else 3df). The previous mesh references are dropped, not
// freed (clones may share them). kPolymeshOk or a negative code; on failure nothing is attached.
int polymeshLoad(CheckModel* model, const char* fileName);
// polymeshLoad for a caller that reads the triangles and bounds alone: the per-element corners are
// not kept (boxMin and boxMax stay null), and a 3df triangle file never builds them.
int polymeshLoadTriangles(CheckModel* model, const char* fileName);
// dst (a clone) gets its own copy of src's loaded triangle mesh: what loading src's file again
// gives, without the sort. kPolymeshOk or kPolymeshNoMemory (then nothing is attached).
int polymeshCopy(CheckModel* dst, const CheckModel* src);
// polymeshCopy without the triangles and corners: their room, the list's header and the bounds only
// (for a caller that writes every triangle and corner itself).
int polymeshCopyRoom(CheckModel* dst, const CheckModel* src);
// Both files into one model. A second file that fails to load leaves the first mesh in place,
// reports message 5200 with its name and gives kPolymeshOk; -1 when the merge fails.
int polymeshLoadMerged(CheckModel* model, const char* first, const char* second);
// Appends the source's items to the destination (same kind), re-sorted, corners recomputed.
int polymeshMerge(CheckModel* dst, const CheckModel* src);  // 0, or -1
// Frees the model's and its parts' mesh data and grids (not the part records, which
// chkModelFree frees); every freed reference is cleared.
void polymeshFree(CheckModel* model);
// Shifts every point by dz in z; item boxes, the model box and the list box follow.
void polymeshOffsetZ(CheckModel* model, double dz);

// The shared-buffer switch: facet loaders orient the facets and build the 45-degree plan boxes,
// and polymeshFree releases those boxes.
void polymeshSetFreeShared(int on);
int polymeshFreeShared();
// The 45-degree boxes of the last facet mesh built with the switch on, u = (x - y) k,
// v = (x + y) k with k = 0.70710678: the facet count, or 0 when there are none.
int32_t polymeshBox45(const Vec2** upper, const Vec2** lower);

// The z shift of the second mesh of a merged load (0 leaves it in place).
void polymeshSetSecondOffsetZ(double dz);

// The bucket grid of the model and of each part with items (about 400 cells, items widened by
// the tool's reach): 1, or -1 when a grid cannot be filled. A model without items gets none.
int polymeshBuildGrid(CheckModel* model);
// A separate grid of at most 30 x 30 cells for a tool of the given length tilted by angle
// (radians); null when memory is short.
Grid2D* polymeshBuildToolGrid(const CheckModel* model, double length, double angle);

// The loaders behind polymeshLoad; each frees what it attached when it fails.
int polymeshRead3dfTriangles(CheckModel* model, const char* fileName);
int polymeshRead3dfFacets(CheckModel* model, const char* fileName);
int polymeshReadStlTriangles(CheckModel* model, const char* fileName);
int polymeshReadStlFacets(CheckModel* model, const char* fileName);
int polymeshReadKvxTriangles(CheckModel* model, const char* fileName);
int polymeshReadKvxFacets(CheckModel* model, const char* fileName);

// Facet groups of the 3df triangle loader: stage 1 before the first facet (a negative answer
// stops the load with -1), stage 2 for each group of facets started by a facet with the group
// flag whose triangles all lie flat, stages 3 and 4 at the end.
struct PolymeshGroup {
    int32_t stage;
    TriList* triangles;
    int32_t first;  // the group's triangles are first .. end - 1
    int32_t end;
    double height;  // the group's first point in frame A
};
using PolymeshGroupHook = int (*)(const PolymeshGroup* group);
void polymeshSetGroupHook(PolymeshGroupHook hook);
void clear_user_callback();

void polymeshResetState();  // switch off, no boxes, no hook, no second shift
