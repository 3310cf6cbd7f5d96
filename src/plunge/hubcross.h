// Where a mesh meets the revolved hub, how far that lies from the blade, a tilt frame about the part
// axis, and the blade band sampled along a meridional profile.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"
#include "plunge/contourpair.h"
#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"

// Of all crossings of the model's element edges with the level's revolved hub, the one nearest to the
// z axis: 1, or -1 when no edge crosses.
int meshHubCrossing(const CheckModel* model, const HubShroud* level, Vec3* out);
// Signed angle about z from the blade point on the hub (at the crossing's hub parameter, less the
// offset) to the mesh's lowest hub crossing: 1, or -1 with angle unchanged.
int splitterHubAngle(const CheckModel* model, const HubShroud* level, const ContourPair* pair, double offset,
                     double* angle);
// T the circumferential unit vector at p, B = unit(axis x T): 1, or -1 on the axis or for an axis along T.
int radialTiltFrame(const Vec3* p, const Vec3* axis, Vec3* T, Vec3* B);
// The band's crossings with the revolved profile every step along the pair, each with its pair
// parameter: 1, or -1 (the list emptied) for a missing argument, a step that is not positive or no memory.
int contourPairProfileTrace(const ContourPair* pair, const Profile2D* profile, double step, Plist3D* out);
