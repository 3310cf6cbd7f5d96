// The hub as a solid of revolution: its meridional profile closed by its end faces (a disc from the
// higher end to the axis, and at the lower end a face along the end's inward normal, the outlet's rim,
// 1e4 deep or to the axis), so that a tool passing beyond the profile's ends still meets the hub's edges.
// Clearances are taken in the meridian half plane, where the solid of revolution keeps them.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct HubShroud;

struct HubSolid {
    int32_t count;   // points of the closed outline, the first repeated last
    Vec2* ring;      // (r, z): the higher end's disc, the hub profile, the lower end's face, the axis
    int32_t runs;    // runs of kHubSolidRun sides, the last one shorter
    int32_t leaves;  // a power of two, at least runs
    // Boxes as a heap, 4 doubles each (rmin, rmax, zmin, zmax): run i's points at node leaves + i (empty
    // past the runs), node k holding its halves 2 k and 2 k + 1, node 1 the whole outline (node 0 unused).
    double* boxes;
};

enum : int32_t {
    kHubSolidRun = 16,  // sides per box: a query walks down to the runs it can reach
};

// The solid under the pair's hub (the shroud tells the channel's side); null without a hub of two
// points, when the sides cannot be told apart or on failure.
HubSolid* hubSolidCreate(const HubShroud* pair);
void hubSolidFree(HubSolid* solid);  // null-safe
// Signed distance of p from the solid: negative inside.
double hubSolidDistance(const HubSolid* solid, const Vec3* p);
