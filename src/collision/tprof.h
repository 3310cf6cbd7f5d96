// Outlines of the tool assembly's parts: chains of segments in the (radius, height) half-plane,
// height along the tool axis from the tip; built from the tool description or from named contours
// of an exchange file, offset by a clearance, and revolved into float triangle meshes.
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "collision/toolenv.h"

enum : uint16_t {
    kTprofContour = 1,  // contour parts, revolved with the caller's chord tolerance
    kTprofShank = 3,    // the tool's own shank, revolved with kTprofShankChord
};

constexpr double kTprofShankChord = 0.01;
// The largest revolved mesh built; a profile that would need more is refused.
constexpr int64_t kTprofMaxTriangles = int64_t{1} << 24;

enum : int32_t {
    // Error: a mesh file could not be loaded; the value is the file name.
    kMsgObstacleNotLoaded = 5200,
};

struct PartSeg {
    double r0, z0, r1, z1;
};

struct PartProfile {
    int32_t count;
    int32_t capacity;               // at least 3
    double minR, minZ, maxR, maxZ;  // of all end points; +DBL_MAX / -DBL_MAX while empty
    PartSeg* segs;                  // bottom (tool tip side) upward
    uint16_t* flags;                // kTprofContour or kTprofShank per segment
};

PartProfile* tprof_create(int32_t capacity);  // null when memory is short
void tprof_free(PartProfile* profile);
// 1 (also when the segment is shorter than 1e-5 in both coordinates and is left out), or -1.
int tprof_add_seg(PartProfile* profile, const PartSeg* seg, uint16_t flag);
// Outward (away from the axis) by d >= 0, inward by |d|: 1, 0 for an empty profile, -1 on failure
// (the profile is then unchanged).
int tprof_offset(PartProfile* profile, double d);
void tprof_shift(PartProfile* profile, double dz);
// Largest angle between the axis and the line from the tip to a segment's end point.
double tprof_max_angle(const PartProfile* profile);

// The shank above a cutter that is narrower than it, or null.
PartProfile* tprof_from_tool(const ToolDescription* tool, uint16_t flag);
// The first contour named `name` of an exchange file, scaled by the cycle's unit factor, its first
// point raised or lowered to baseZ, closed to the axis at both ends; null when absent.
PartProfile* tprof_from_contour(const char* file, const char* name, double chordTol, double baseZ,
                                uint16_t flag);

// The profile revolved about the z axis; null when memory is short or the mesh would need more than
// kTprofMaxTriangles triangles (a radius far beyond the chord tolerance).
FTriList* coll_model_from_tprof(const PartProfile* profile, double chordTol);
// The triangles of a mesh file as floats, in bucket-grid order; null when the file does not load
// (reported as kMsgObstacleNotLoaded) or memory is short. d only sizes the list.
FTriList* coll_obstacle_from_file(const char* name, double d, double toolRadius);
int coll_file_readable(const char* name);
