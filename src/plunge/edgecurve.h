// The side curves of a region: the channel between two walls (the blade's contour pair turned about
// the z axis) traced along the region's level, then cleaned of leading uncut points and reversals.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"
#include "geometry/plist.h"
#include "plunge/contourpair.h"
#include "plunge/hubshroud.h"
#include "plunge/trigrid.h"

// The channel tracer: walks the level between the two walls in the given direction (1 or -1) against
// the model into the list. 1, or negative (a user break among them).
using ChannelTraceFn = int (*)(CheckModel* model, const ContourPair* first, const ContourPair* second,
                               const HubShroud* level, int32_t direction, Plist* out, const TriGrid* grid);

// The walls of one side case (0 to 3) in radians, the walking direction and the slot k of the model
// and grid the tracer takes: 1, or -1 for an unknown case.
struct EdgeWalls {
    double first;
    double second;
    int32_t direction;
    int32_t slot;
};
int edgeCurveWalls(int32_t sideCase, double pitch, double splitterAngle, int32_t hasSplitter, EdgeWalls* out);

// The first and last index whose kind is not 2: 1, or -1 when every point is of kind 2.
int firstLastCutIndex(const Plist* list, int32_t* first, int32_t* last);
// 1 when the list turns back at point i (the directions towards i+1 and i-1 nearly opposite); 0
// otherwise, also when a segment there is shorter than 1e-5.
int isReversalAt(const Plist* list, int32_t i);
// Drops the part beyond the reversals of the cut range (the shorter side of a single one): 1, or 0
// when there is none.
int cutAtReversals(Plist* list);
// The first cut point followed by an uncut one is laid onto their line as uncut, and from the next
// uncut point on everything is uncut: 1; 0 when the end is reached first; -1 when no point is cut.
int settleLeadingKind2(Plist* list);

// One side curve of the region on level into out. models and grids are the first three slots of the
// run's surface set and their grids (blade, splitter or null, blade turned by the pitch); pitch and
// splitterAngle as the region builder hands them down. 1, or -1 when a wall cannot be made, the slot
// is empty or the tracer fails.
int idx5BuildEdgeCurve(Plist* out, const HubShroud* level, int32_t sideCase, double pitch,
                       double splitterAngle, CheckModel* const* models, const TriGrid* const* grids,
                       const ContourPair* pair, ChannelTraceFn trace);
