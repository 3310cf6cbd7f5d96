// Up and down segments: for every plunge point of a region's side lists the final tool axis, from the
// channel's meridional direction, the lead angle and a tilt chosen inside the collision-free window
// that swing queries against the blade meshes measure.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct AngleProfile;
struct HubShroud;
struct MeshSet;
struct Plist;
struct PlistArray;
struct ToolDescription;

enum : int32_t {
    kMsgSegmentDown = 6220,      // "* Segment down %d side &d"
    kMsgSegmentUp = 6221,        // "* Segment up   %d side &d"
    kMsgTiltQueryFailed = 6225,  // a swing query against the blade meshes failed; side list and point
};

enum : int {
    kUpDownNoAxis = -1,  // the meridional direction could not be formed
    kUpDownUserBreak = -3,
    kUpDownQueryFailed = -4,  // reported (6225)
    kUpDownNoMemory = -5,
    kTiltStationNoWindow = -6,  // every tilt of a station's axis reaches a blade
};

// The margin a station's tilt keeps from its window's edges (radians): the tilt fits' own.
constexpr double kTiltStationMargin = 0.017453;

// The channel's meridional direction at p: the unit vector from the level's hub point to its shroud
// point at p's place along the hub (shroud turned by the level's extra angle). 1, or -1 when they meet.
int segmentInitialAxis(const HubShroud* level, const Vec3* p, Vec3* axis);
// Every side list with points in index order: 1, or the first negative result of a side (later lists
// keep their axes). The tool is the cycle's description; the second set may be null.
int segmentsUpDown(PlistArray* sideLists, const AngleProfile* profile, const HubShroud* level,
                   const ToolDescription* tool, const MeshSet* bladeSet, const MeshSet* secondSet);
// 1, kUpDownNoAxis, kUpDownUserBreak, kUpDownQueryFailed, kUpDownNoMemory, or the negative fit result
// when no tilt curve fits (the axes then carry the upper window edges).
int segmentTiltSearch(Plist* list, int32_t side, const AngleProfile* profile, const HubShroud* level,
                      const ToolDescription* tool, const MeshSet* bladeSet, const MeshSet* secondSet);

// Plunge stations between the side lists carry axes blended from the lists' axes, which no window has
// measured. After tiltStationsBegin (the search tool's profile for the queries), each station's axis is
// measured like a side point's against the walls on either side (splitterSide: 1 when the splitter lies
// toward the next blade, -1 toward the blade, 0 without one) and, when it reaches one, tilted back into
// its window (kept a margin inside, or to its middle): 1 unchanged, 2 tilted, kTiltStationNoWindow when
// no tilt is free, kUpDownNoAxis when a query fails.
int tiltStationsBegin(const ToolDescription* tool, const MeshSet* bladeSet);
int tiltStationIntoWindow(const Vec3* p, Vec3* axis, const MeshSet* bladeSet, int32_t splitterSide);
