// The tool axis at a point of the blade edge: turned from the blade's span direction toward a side
// axis until the tool clears the blade mesh set by a quarter turn to both sides.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct ContourPair;
struct HubShroud;
struct MeshSet;
struct ToolDescription;

constexpr double kEdgeAxisClearAngle = 0.785375;  // a quarter turn of swing freedom on both sides

// 1 when the axis passes at the point (both swing queries succeed with the freedom above), else 0.
int edgeAxisClear(const Vec3* point, const Vec3* axis, const MeshSet* set, int32_t mode);
// The angle by which v turned toward w first passes (bisection to 0.001 rad): 1, or -1.
int edgeAxisAngle(int32_t mode, const Vec3* point, const Vec3* v, const Vec3* w, const MeshSet* set,
                  double* angle);
// side 0: the span direction from the point's feet on both contours; side 1: the side axis negated.
// 1, or -1 (point on the part axis, no trace, no passing angle, memory).
int bladeEdgeToolAxis(const ToolDescription* tool, const Vec3* point, const MeshSet* set,
                      const HubShroud* level, const ContourPair* pair, double twist, double offset,
                      int32_t side, int32_t modeFlag, Vec3* axis);
