// The tool as a solid of revolution for the swing queries of the mesh sets: a ten-point profile of
// radius against height from the tip to the top of the head, held in process-wide tables (one tool at
// a time), with a swing-angle test of a point and inside tests of a point and an edge.
#pragma once

#include <bit>
#include <cmath>
#include <cstdint>
#include <initializer_list>

#include "collision/toolenv.h"
#include "geometry/vec.h"

enum : int32_t {
    kToolSegPoints = 10,
};

enum : int {
    kToolSegOut = 0,     // out of the tool's reach
    kToolSegReach = 1,   // within reach, not a new smallest angle
    kToolSegNewMin = 2,  // a new smallest swing angle
    kToolSegNearTip = -2,
    kToolSegAbove = 3,  // within reach, the angle surely not below the floor asked (a lower bound given)
};

// The segment/cone test of the cutter's tapered part: (centre, unit axis, tool, a, b, out point),
// nonzero when the segment enters the cone. Installed by the layer that owns it.
typedef int (*ToolSegLineConeFn)(const Vec3* centre, const Vec3* axis, const ToolDescription* tool,
                                 const Vec3* a, const Vec3* b, Vec3* out);

void toolSegProfileInit(const ToolDescription* tool, double extraAngleDeg, double step);
// The swing test's shape taken again: the active assembly's contour (its rule of segments and its
// near-tip height), else the profile. The profile's set-up and the assembly's create and free call it.
void toolSegShapeRefresh();
int32_t toolSegProfileSetMode(int32_t mode);  // the previous mode
int32_t toolSegProfileMode();
void meshSetCollFlag(int32_t flag);  // 1: the inside test covers the holder-side sections too

// Swing-angle test of p about the pivot: q = p - pivot in the frame (direction, reference,
// swingAxis). kToolSegNewMin stores the angle in *ioAngle when it is below it and above -limit. The
// shape tested is the profile, or the active assembly's contour while one is active (the queries
// below and the take-off table likewise).
int toolSegPointTest(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                     const Vec3* p, double* ioAngle, double limit, int nearTipCheck);
// The angle of that test alone: kToolSegReach with *angle, else kToolSegOut or kToolSegNearTip; it
// depends on the point and the frame only, so a query may keep it for a point it meets again.
int toolSegPointAngle(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                      const Vec3* p, int nearTipCheck, double* angle);
// toolSegPointAngle, or kToolSegAbove with a lower bound of the angle in *angle when that bound is not
// below floor (the angle itself is then not measured, nor always whether the point is within reach).
int toolSegPointAngleFrom(const Vec3* pivot, const Vec3* direction, const Vec3* reference,
                          const Vec3* swingAxis, const Vec3* p, int nearTipCheck, double floor,
                          double* angle);
// toolSegPointAngleFrom for a point the take-off table (toolSegTakeoffTest with the same floor) could
// not tell: the table is not asked again.
int toolSegPointAngleUntabled(const Vec3* pivot, const Vec3* direction, const Vec3* reference,
                              const Vec3* swingAxis, const Vec3* p, int nearTipCheck, double floor,
                              double* angle);
int toolSegPointInside(const Vec3* p, const Vec3* tip, const Vec3* axis);  // 1 inside, else 0
// 1 when the segment meets the cutter's cone (out, may be null: the point found), 0 when not, -1 when
// no cone test is installed.
int toolSegEdgeHits(const Vec3* a, const Vec3* b, const Vec3* tip, const Vec3* axis, Vec3* out = nullptr);
void toolSegSetLineConeTest(ToolSegLineConeFn fn);

// Where the tool of the swing test reaches (the profile, or the active assembly's contour): the squared
// distances from the tip between which it can, and its largest radius (no point farther than this from
// the swing plane is reached); and the edge sampling width.
void toolSegReach(double* inner2, double* outer2, double* maxRadius);
double toolSegSampleWidth();
double toolSegMinRadius();  // the profile's smallest radius
// An upper bound of the angle that toolSegPointTest takes off a point's polar angle in the swing plane,
// over the points whose squared distance from the pivot lies in [d2min, d2max] and whose distance from
// the swing plane is at least sMin; -1 when the profile reaches none of them.
double toolSegHalfAngleBound(double d2min, double d2max, double sMin = 0.0);

void toolSegResetState();

// atan2(y, x) within 1e-7 of the library's (a minimax polynomial within 2e-8 of the arc tangent on
// [0, 1]), on the same branch for signed zeros; NaN where both are zero or either is not finite.
inline double toolSegAtan2Near(double y, double x) {
    const double ax = std::fabs(x), ay = std::fabs(y);
    if (!(ax > 0.0 || ay > 0.0) || !std::isfinite(ax) || !std::isfinite(ay)) return NAN;
    const double u = ay <= ax ? ay / ax : ax / ay, u2 = u * u;
    double r = 0.0028662257;
    for (const double c : {-0.0161657367, 0.0429096138, -0.0752896400, 0.1065626393, -0.1420889944,
                           0.1999355085, -0.3333314528, 1.0})
        r = r * u2 + c;
    double t = ay <= ax ? r * u : M_PI / 2 - r * u;
    if (std::signbit(x)) t = M_PI - t;
    return std::signbit(y) ? -t : t;
}

// Upper bounds of the angle the point test takes off, tabulated for the current profile over the
// point's squared distance (bins of equal ratio, read off the float's exponent and leading mantissa
// bits) and its squared distance from the swing plane relative to the largest radius at that
// distance: the bound of most points of a swing query then needs one arc tangent.
struct ToolSegTakeoff {
    static constexpr int kShift = 23 - 5;  // 32 bins a doubling of the squared distance
    static constexpr int kSlots = 32;      // bins of s^2 / radius^2 in [0, 1)
    uint32_t base;
    uint32_t bins;
    const float* invRadius2;  // per distance bin: 1 / (largest radius)^2
    const float* bound;       // per bin and slot: -1 where nothing is reached, NaN where unknown
};
const ToolSegTakeoff* toolSegTakeoff();  // null without a table
// An upper bound of the angle taken off over a distance range and off the plane by at least sMin, as
// toolSegHalfAngleBound gives (-1 where nothing is reached), from the table's cells; NaN where the
// table cannot answer.
double toolSegTakeoffOver(const ToolSegTakeoff* t, double d2min, double d2max, double sMin);

enum : int {
    kTakeoffUnknown = -1,  // the table cannot tell: the point test decides
    kTakeoffOut = 0,       // no section of the profile reaches p (the point test answers "out")
    kTakeoffAbove = 1,     // the tabulated lower bound of p's swing angle is not below floor
};

// What the table tells of p's swing angle (as toolSegPointAngleFrom takes it) against floor; with
// kTakeoffAbove the bound is in *angle.
inline int toolSegTakeoffTest(const ToolSegTakeoff* t, const Vec3* pivot, const Vec3* direction,
                              const Vec3* reference, const Vec3* swingAxis, const Vec3* p, double floor,
                              double* angle) {
    const Vec3 q{p->x - pivot->x, p->y - pivot->y, p->z - pivot->z};
    const double d2 = q.x * q.x + q.y * q.y + q.z * q.z;
    const uint32_t bin =
        (std::bit_cast<uint32_t>(static_cast<float>(d2)) >> ToolSegTakeoff::kShift) - t->base;
    if (bin >= t->bins) return kTakeoffUnknown;
    const double s = q.x * swingAxis->x + q.y * swingAxis->y + q.z * swingAxis->z;
    const double x = s * s * static_cast<double>(t->invRadius2[bin]);
    if (x >= 1.0) return kTakeoffOut;  // farther from the swing plane than any radius at this distance
    if (!(x < 1.0)) return kTakeoffUnknown;
    const float off =
        t->bound[bin * ToolSegTakeoff::kSlots + static_cast<uint32_t>(x * ToolSegTakeoff::kSlots)];
    if (off < 0.0f) return kTakeoffOut;
    if (!(off >= 0.0f)) return kTakeoffUnknown;
    // The polynomial arc tangent lies within 1e-7 of the library's, the take-off within its slack.
    const double a = q.x * direction->x + q.y * direction->y + q.z * direction->z;
    const double b = q.x * reference->x + q.y * reference->y + q.z * reference->z;
    const double bound = toolSegAtan2Near(b, a) - 2e-6 - static_cast<double>(off);
    if (!(bound >= floor)) return kTakeoffUnknown;
    *angle = bound;
    return kTakeoffAbove;
}
