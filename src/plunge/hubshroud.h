// The channel's lower and upper bounds, hub and shroud, as meridional profiles: built from selected
// surfaces of an exchange file, paired, evaluated at a common parameter, offset by allowances and the
// tool radius, and the bands between the shroud and a lowered copy of it.
#pragma once

#include <cstdint>

#include "geometry/plist.h"
#include "plunge/plist3d.h"
#include "plunge/profile2d.h"
#include "surfaces/surflist.h"

struct ProfileCurve;

// The pair's parameter is the hub's arc length; s on the hub is s * L(shroud) / L(hub) on the shroud.
struct HubShroud {
    Profile2D* hub;     // lower bound
    Profile2D* shroud;  // upper bound
    double* extra;      // one value per hub point; zero after every operation here
};

// One meridional curve from the surfaces of a kvx file, higher z first: null when the file cannot be
// read, holds no surface, or the edges of several surfaces do not join.
ProfileCurve* idx5CreateHubShroudCurve(const char* selection, double tol);
// The middle iso line of one surface along the direction that falls the most in z.
ProfileCurve* surfaceMeridianCurve(const SurfList* list, double tol);
// Several surfaces: the meridional edge of every trim loop, joined end to end (ends near within
// *PRECISION in space or half of it in z).
ProfileCurve* surfacesMeridianCurve(const SurfList* list);

HubShroud* makeHubShroudPair(const ProfileCurve* hub, const ProfileCurve* shroud);
HubShroud* copyHubShroud(const HubShroud* pair);
void freeHubShroud(HubShroud* pair);  // null-safe
int evalHubShroud(const HubShroud* pair, double s, Vec2* hub, Vec2* shroud);
int evalHubShroudExtra(const HubShroud* pair, double s, double* value);
double channelHeight(const HubShroud* pair);
// Hub (or shroud) replaced by its offset by d, its arc-length parameters multiplied by L(new) / L(hub
// before the offset); the extra values reset to zeros. 1, or -1.
int offsetProfile2D(HubShroud* pair, double d);
int offsetShroudProfile2D(HubShroud* pair, double d);
HubShroud* hubShroudOverHub(const HubShroud* pair, double h);
HubShroud* hubShroudFromPlist3D(const HubShroud* pair, const Plist3D* list);
// Hub = the pair's hub joined into the shroud offset by d; the join's flag is kept (hubShroudJoinFlag).
HubShroud* shroudBand(const HubShroud* pair, double d);
HubShroud* shroudBandCut(const HubShroud* pair, const Seg2D* exitSegment, double d);
int32_t hubShroudJoinFlag();
void hubShroudResetState();
