// Plunge points along a profile: the profile is walked by arc length, the tool placed at each point
// with drop-cutter engine B, and the path refined until engine B's thinning test is satisfied.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"

// Arc-length intervals (increasing pairs) and a closed boundary polygon in plan, filled by the caller.
struct PlungeIntervals {
    int32_t count;
    double* pairs;  // count pairs (a, b)
    int32_t boundaryCount;
    Seg2D* boundary;
};

// Place states.
enum : uint8_t {
    kPlaceNormal = 0,
    kPlaceCharged = 1,  // a face contact inside the z range
    kPlaceRefused = 2,
    kPlaceOutside = 4,  // failed the boundary test
};

struct PlungePoint {
    Vec2 profilePoint;
    double profileHeight;  // zp, when the profile carries values
    double s;
    const int32_t* cells;
    int32_t cellCount;
    Vec3 placed;
    Vec3 contact;
    uint8_t isPlaced;
    uint8_t touched;
    uint8_t placeState;
};

// 1 done, 0 stopped (a point above the profile's height in a run without path, or the slope limit
// crossed), -2 inserting into the path failed, -1 bad settings (a step or tolerance of 0 or less).
int plunge_along_profile(CheckModel* model, Plist* path);

// 1 placed (or refused by the range or a part), 0 refused by the intervals or below the profile, 3
// outside the boundary.
int plungePlacePoint(PlungePoint* point, CheckModel* model);
int plungeOffsetPlace(Vec3* placed, const CheckModel* model, double zp, double startHeight, double dropHeight,
                      const int32_t* cells, int32_t cellCount);
int plungeBoundaryTest(const PlungeIntervals* intervals, const ToolGeom* tool, const Vec3* contact,
                       const Vec3* placed, double s, const ProfileCurve* profile);
