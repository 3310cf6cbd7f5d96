// Geometry shared by the tilt search and its callers: the correction of the down and up lead angles
// at the blade edges, the cap of a tilt step, the turn of a tool axis about the path tangent, the
// frame-C cone limit, the splitter leading-edge check and the curve through a path's cut range.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct AngleProfile;
struct ContourPair;
struct HubShroud;
struct PlistArray;
struct ToolDescription;
struct MeshSet;
struct Plist;
struct PolyCurve;
struct TiltSeq;

enum : int32_t {
    kMsgDownAngleCorrected = 6502,  // "* down angle corrected to %f"
    kMsgUpAngleCorrected = 6501,    // "* up angle corrected to %f"
    kMsgSplitterEdgeCollision = 6211,
    kMsgMaxAngleFreedom = 6224,  // "* Max angle freedom = %f"
};

constexpr double kTiltLimitMargin = 0.017453;  // one degree kept inside an inclination limit

// The down and up stations at the main blade's leading edge take the edge angle found at the start
// of the first and fourth side paths (positions and angles of both, radians) when it is smaller than
// the lead angle (or upLimit) and larger than that minus pi/2.
void correctLeadStations(AngleProfile* profile, const double position[2], const double angle[2],
                         double upLimit);
// The same with the positions and edge angles of the region's side lists 0 and 3; nothing changes
// when either angle cannot be found.
void correctUpDownAngles(AngleProfile* profile, const PlistArray* regionLists, const HubShroud* level,
                         const ToolDescription* tool, const MeshSet* set, const ContourPair* pair,
                         double upLimit);
// The angle between the meridional direction and the blade-edge tool axis at the first cut point,
// signed about the circumferential direction: 1, or -1.
int edgeAngleAtPathStart(const Plist* path, const HubShroud* level, const ToolDescription* tool,
                         const MeshSet* set, const ContourPair* pair, double* angle);
double limitTiltStep(double step, const Vec3* axis, double maxAngle);
// perpendicular: the horizontal normal of the tangent turned by -*AVOID_ANGLE about its radial;
// result: unit(vector x perpendicular). 1, or -1 when degenerate.
int tangentRotateAxis(const Vec3* tangent, const Vec3* vector, Vec3* perpendicular, Vec3* result);
// vector turned by angle about unit(other x perpendicular): 1, or -1 when degenerate.
int tangentRotateAxisBy(const Vec3* tangent, Vec3* vector, const Vec3* other, double angle);
int frameCRotateAxis(Vec3* axis, double maxAngle);  // 1 turned, 0 not (only with *USE_ORIG)
void pointToMm(Vec3* point);                        // diagnostic output only
// The narrowest window's point and axis (turned to the window's middle) against the mesh set: 1.
int splitterEdgeCheck(const TiltSeq* seq, const MeshSet* set, const Plist* path);
PolyCurve* pathCutRangeCurve(const Plist* path);  // null without two distinct cut points
void pathCutRangeCurveFree(PolyCurve* curve);
// The parameter of the next plunge: param + step (param - step with *ENTRY_POS), pulled back on every
// side whose second list has a chord longer than step between the two. 1, or -1 for missing lists.
int nextPlungeParam(const PlistArray* regionLists, const PlistArray* secondLists, double* param, double step);
