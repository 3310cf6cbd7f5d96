// The blade from its side surfaces in an exchange file: the two sides chosen and sampled as iso
// strips, oriented so that edge0 is each side's tip edge and edge1 its hub edge, and turned into the
// blade's hub-side and tip-side mean lines or its two tip edges. Points are in frame A.
#pragma once

#include <cstdint>

#include "plunge/isostrip.h"
#include "plunge/plist3d.h"
#include "plunge/profile2d.h"
#include "surfaces/surflist.h"

struct ProfileCurve;

enum : int32_t {
    kIsoFixU = 0,  // isoEdgeSpread: the edge u = fixed
    kIsoFixV = 1,
    kMsgBladeCurves = 6208,
};

// max - min of the signed hub distances of 11 points along the edge; -1.0 when a point fails.
double isoEdgeSpread(const TrimSurface* surface, double fixed, int32_t which, const Profile2D* hub);
// 1 when the u edges' distance to the hub varies at least as much as the v edges' (the iso lines then
// run along u), else 0.
int32_t chooseIsoDirection(const TrimSurface* surface, const Profile2D* hub);
// The blade's sides: 1 (one surface wrapping the blade), 2 (two chosen; the first and the last when
// all areas are within 0.85 of the largest, else the two largest), -1 for an empty list or a failure.
int chooseBladeSurfaces(const SurfList* list, const Profile2D* hub, int32_t index[2], int32_t direction[2]);
// Forgets the surface areas kept from earlier choices (each run starts afresh).
void bladeCurvesResetState();
// One strip around the whole blade cut at t = 0.5, leaving out gap of middle-line length on each side:
// 1, or -1 (both null) when either part would be empty.
int splitIsoStrip(const IsoStrip* strip, IsoStrip** a, IsoStrip** b, double gap);
// Edges and directions as the mean lines need them; 1 when a and b were exchanged, else 0.
int orientBladeStrips(IsoStrip* a, IsoStrip* b, const Profile2D* hub, int32_t flag);
// Where sample i's cross line meets the revolved hub (bisection to 0.001 of the cross parameter),
// stored as its edge1 point: 1, or 0 when its ends lie on one side of the hub.
int hubCrossingOnStrip(IsoStrip* strip, int32_t i, int32_t direction, const Profile2D* hub);

// Hub-side and tip-side mean lines of the selected blade: 1, or -1 (message when the sides cannot be
// sampled).
int idx5CreateBladeCurves(const char* selection, const Profile2D* hub, double tol, ProfileCurve** hubCurve,
                          ProfileCurve** tipCurve);
// The tip edges of both sides, running alike, into the first two lists of the chain: 1, or -1.
int idx5BladeEdgeContours(const char* selection, const Profile2D* hub, double tol, Plist3DNode* chain);
