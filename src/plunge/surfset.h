// The run's blade and splitter meshes: seven check models converted from the blade and splitter
// selections through the temporary folder, some turned about the axis by the pitch, their bucket
// grids, and the part model of the final check.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"
#include "plunge/trigrid.h"

enum : int32_t {
    kSurfSetSlots = 7,
    kSurfSetGrids = 3,
    kMsgNoGrid = 305,           // the grid of a mesh cannot be built
    kMsgNoMeshLoaded = 6023,    // a converted mesh cannot be loaded
    kMsgNoBladeMesh = 6504,     // the blade conversion failed
    kMsgNoSplitterMesh = 6505,  // the splitter conversion failed
};

// Slots, each a kind-3 clone of the tool context holding its own mesh, null when absent:
// 0 blade ("bld.3df"), 1 splitter ("spl.3df", only with *SPLIT_KVX_OK and a *SPLIT_KVX),
// 2 blade turned by +angle, 3 blade from a second conversion ("bld1.3df"), 4 splitter from a second
// conversion ("spl1.3df"), 5 slot 3's file turned by +angle, 6 blade turned by -angle.
struct SurfaceSet {
    CheckModel* slot[kSurfSetSlots];
};

// Bucket grids over slots 0, 2 and 1 in that order (the walls the channel tracing sweeps against; slot
// 6 is swept by none); the third is null without a splitter.
struct SurfaceGrids {
    TriGrid* grid[kSurfSetGrids];
    int32_t count;  // grids built
};

// Whether the slots get their plan grids (on by default and after surfSetResetState). A caller that
// never asks a slot's grid turns them off: over the blade meshes they cost tens of MB.
void surfSetPlanGrids(int on);
void surfSetResetState();

// A filled set, or null (the reason sent as a message, nothing kept).
SurfaceSet* idx5CreateSurfaceSet(const CheckModel* toolCtx, double angle);
void freeSurfaceSet(SurfaceSet* set);  // every slot's mesh and model, and the set; null-safe
// Fills the set's slots in order (conversion tolerance *PRECISION in the exchange file's unit);
// with *MESH_KVX the meshes are also written as exchange files "bld.kvx" and "spl.kvx" in the
// temporary folder, whose paths *BLADE_KVX2 and *SPLIT_KVX2 then hold. Non-negative when every
// mesh is loaded; negative on failure, reported by message, the set partly filled.
int idx5LoadBladeSurfaces(SurfaceSet* set, const CheckModel* toolCtx, double angle);
// Turns every vertex of the model's mesh about the z axis by angle (radians, counter-clockwise);
// the per-element corners, the model box and the list box follow.
void rotateMeshAboutAxis(CheckModel* model, double angle);

// Grids over slots 0, 2 and 1, each triangle listed wherever a tool ball of toolRadius centred
// in a cell can touch it. Null when a grid cannot be built.
SurfaceGrids* buildSurfaceSetGrids(const SurfaceSet* set, double toolRadius);
void freeSurfaceSetGrids(SurfaceGrids* grids);  // null-safe

// A kind-3 clone of the tool context holding its triangles and those of slots 6, 2, 1 and 0, sorted
// by height with their corners (free it with revMeshFree); null on failure.
CheckModel* idx5BuildPartModel(const CheckModel* toolCtx, const SurfaceSet* set);
