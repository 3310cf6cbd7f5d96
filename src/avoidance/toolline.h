// Closed-form tests of lines and points against the revolved tool: the vertical line below a height-grid
// point against the holder sections, a point inside the assembly, the lift measure of a point, and a
// segment against the cutter's tapered part; with the small interval helpers they share.
#pragma once

#include <cstdint>

#include "collision/toolenv.h"
#include "geometry/vec.h"

// Stand-ins for the unbounded ends of an interval.
constexpr double kLineOpenLow = -100001.0;
constexpr double kLineOpenHigh = 100001.0;

struct LineInterval {
    double lo, hi;
};

// Intervals of t where a t^2 + b t + c <= 0, ascending: their count (0, 1 or 2).
int solveQuadraticInterval(double a, double b, double c, LineInterval out[2]);
// io := io intersected with with; 1 when that is not empty, else 0 (io is then empty: lo > hi).
int intervalClip(LineInterval* io, const LineInterval* with);

// The tool stands on the tip with the unit axis; heights are along the axis from the tip.
// 1 when the vertical segment from the tip's height up to q meets a holder section, else 0.
int toolLineHit(const Vec3* tip, const Vec3* axis, const ToolDescription* tool, const Vec3* q);
int toolPointInside(const Vec3* tip, const Vec3* axis, const ToolDescription* tool, const Vec3* q);
// Raises the running lift maximum by how far the assembly must rise to clear q; -2 when q is inside
// the cutter, else 0.
int toolLiftInside(const Vec3* tip, const Vec3* axis, const ToolDescription* tool, const Vec3* q);
double toolLiftMax();
void toolLiftReset();

// 1 when the segment a-b enters the cutter's cone (radius tip-side r cos(taper) growing with the taper
// up to the tip length) deeper than the line-test tolerance (0.1 within 0.2 of the tip's height); out:
// the point found. The segment may run either way along the axis.
int avoidLineCone(const Vec3* centre, const Vec3* axis, const ToolDescription* tool, const Vec3* a,
                  const Vec3* b, Vec3* out);
// Hands the avoidance's services to the collision layer below it (the mesh queries' cone test); the
// run set-up calls it once.
void avoidInstallHooks();
