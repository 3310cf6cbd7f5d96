// Tool-triangle contact kernels: where a tool moving along its own axis first touches a triangle.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// Kernel answers.
enum : uint16_t {
    kSweepNone = 0,  // nothing accepted, or no improvement of the block's best
    kSweepEdge = 1,  // an edge or a corner touched (or the face without improving the local best)
    kSweepFace = 2,  // the face touched inside and improved the best
};

// The caller fills the block; the kernel raises `best` and `contact` when it finds an earlier contact.
struct KernelBlock {
    Vec3 tri[3];
    Vec3 start;      // tool reference point at the start of the motion
    double best;     // minus the travel to the best contact; start at -L to accept contacts before the end
    Vec3 contact;    // contact point of best
    double radius;   // R (ball, flat end) or R - r (torus centre circle)
    double radius2;  // the same value again
    double cornerRadius;  // r, the torus tube
};

// A solid of revolution about the motion axis, measured from its reference point: the travel at
// which it reaches a point at axial distance e ahead of the reference and radial distance rho is
// e + lag(rho). lag is convex and non-decreasing, so the first contact with a triangle is the minimum
// of a convex function over the triangle.
enum : int32_t {
    kShapeSphere = 1,   // lag = -sqrt(a^2 - rho^2), rho <= a
    kShapeDisc = 2,     // lag = 0, rho <= a
    kShapeTorus = 3,    // flat bottom of radius a at depth r, then the tube: -sqrt(r^2 - (rho - a)^2)
    kShapeFrustum = 4,  // z1 up to r1, then rising linearly to z2 at r2 (r1 < r2); z1 only when r1 >= r2
};

struct SweepShape {
    int32_t kind;
    double a;       // sphere and disc radius, torus centre-circle radius
    double r;       // torus tube radius
    double r1, r2;  // frustum radii at heights z1 and z2 above the reference
    double z1, z2;
};

// One feature contact of a shape with a segment: the travel, the contact point and whether the
// contact came from a part of the shape that is flat across the axis.
struct SweepHit {
    double travel;
    Vec3 point;
    double t;      // parameter along the segment
    int32_t flat;  // 1: contact of a flat bottom (the shape's lag is constant there)
};

// The motion direction (unit; also the tool axis) read by every kernel.
void sweepSetDirection(const Vec3* d);
const Vec3* sweepDirection();

// Kernels by tool shape; each returns a kSweep* code.
uint16_t sweepBall(KernelBlock* block);
uint16_t sweepDisc(KernelBlock* block);
uint16_t sweepTorus(KernelBlock* block);
// Dispatch by ToolType: 1 ball, 2 flat end, 3 torus; anything else reaches no kernel.
uint16_t sweepKernel(uint16_t toolType, KernelBlock* block);
// The travel at which the tool shape of toolType first meets the plane of the block's triangle: no
// contact with the triangle comes earlier. -infinity when the motion runs along the plane (or the
// triangle is degenerate, or the type has no kernel).
double sweepPlaneTravel(uint16_t toolType, const KernelBlock* block);
// Another such travel, from the triangle's extent: its nearest corner along the motion less the
// shape's height ahead of its reference at the triangle's distance from the axis (the motion unit).
double sweepReachTravel(uint16_t toolType, const KernelBlock* block);
// The same, with the class of the contact found (whether or not it raised the block's best): 1 face,
// curved surface or rim, 2 the flat bottom of a flat end or radius mill (an edge across the axis, a
// corner under the bottom); a ball's contacts are all 1.
uint16_t sweepKernelClass(uint16_t toolType, KernelBlock* block, int32_t* cls);

// First contact of a shape moving from s along d with the segment a-b, points farther than
// `reach` from the axis left out: 1 with hit filled, 0 when the segment never meets the shape.
int sweepSegment(const SweepShape* shape, const Vec3* a, const Vec3* b, const Vec3* s, const Vec3* d,
                 double reach, SweepHit* hit);
double sweepShapeLag(const SweepShape* shape, double rho);  // +inf beyond the shape's reach
double sweepShapeReach(const SweepShape* shape);
