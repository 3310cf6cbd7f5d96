// The tool assembly as one rotational contour of (height, radius) points along the tool axis, from
// the cutter over the shaft to the extension, holder and head, with line terms per segment so that a
// sphere about the tool's reference point meets the contour in closed form; and the one active
// assembly of the swing queries.
#pragma once

#include <cstdint>

#include "collision/toolenv.h"
#include "geometry/vec.h"

struct ToolAssembly {
    ToolDescription tool;  // taper raised by the extra angle
    double angle;          // effective taper, radians
    double r0, r1;         // radius at the first contour point and at the end of the taper
    double z0, z1;
    int32_t chamferFlag;
    int32_t queryMode;
    double tolerance;  // near-tip height
    int32_t count;
    // Per segment i (points i, i + 1; r = m z + b): defined wherever the two heights differ.
    double *m, *b, *onePlusM2, *mb, *mb2, *b2;
    double *z, *r, *q;  // per point; q = z^2 + r^2
};

// partAllowances: head, holder, extension, shaft. Null when the contour cannot be built.
ToolAssembly* toolAssemblyBuild(const ToolDescription* tool, const char* contourFile, double extraAngle,
                                double contourTolerance, const double* partAllowances);
int toolAssemblyContour(ToolAssembly* assembly, const ToolDescription* tool, const char* contourFile,
                        double contourTolerance, const double* partAllowances);
int toolAssemblyDefaultContour(ToolAssembly* assembly, const ToolDescription* tool);
int32_t toolAssemblyChamferFlag(ToolAssembly* assembly);
// Point at distance |point - origin| on the contour against the point's own angle in the frame
// (a1 along the tool, a2 across in the swing plane, a3 normal to it): 0 out of reach, 1 within
// reach, 2 a new smallest swing angle in *best, -2 near the tip (query mode with nearTip).
int toolAssemblyAngleQuery(const ToolAssembly* assembly, const Vec3* origin, const Vec3* a1, const Vec3* a2,
                           const Vec3* a3, const Vec3* point, double* best, int nearTip, double limit);
void toolAssemblyDestroy(ToolAssembly* assembly);  // the arrays; the record is its owner's

struct PartProfile;
void toolAssemblyTrimProfile(PartProfile* profile);

// The active assembly of the swing queries.
void toolAssemblySetDims(double head, double holder, double extension, double shaft);
// A new active assembly from the tool (offset first when |offset| >= 1e-5); the previous one is freed.
ToolAssembly* toolAssemblyCreate(const ToolDescription* tool, const char* contours, double extraAngle,
                                 double contourTolerance, double offset);
void toolAssemblyFree();
ToolAssembly* toolAssemblyActive();
// Offsets the cutter inward along its corner: radius and taper of a tool grown by offset.
void toolOffsetTaper(ToolDescription* tool, double offset);
void toolAssemblyResetState();
