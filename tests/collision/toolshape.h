// Tools and swing frames shared by the tool-shape and mesh-set tests.
#pragma once

#include <algorithm>
#include <cmath>

#include "collision/toolenv.h"
#include "geometry/rng.h"
#include "geometry/vec.h"

namespace toolshape {

// A stacked tool with rising heights: ball R, straight shaft to 50, two holder stages.
inline ToolDescription stackedTool(double R = 5.0, double taper = 0.0) {
    ToolDescription t{};
    t.toolType = 1, t.radius = R, t.cornerRadius = R, t.taperAngle = taper;
    t.tipTop = 20, t.chamferTop = 20, t.cutterTop = 50, t.shaftDiameter = 2 * R;
    t.stage2Top = 60, t.stage2Diameter = 20, t.stage1Top = 80, t.stage1Diameter = 20;
    t.stage3Top = 90, t.stage3Diameter = 30, t.stage4Top = 100, t.stage4Diameter = 30;
    return t;
}

// A seeded tool whose heights rise (with the two steps of equal height the profile always has).
inline ToolDescription randomTool() {
    ToolDescription t{};
    t.toolType = static_cast<uint16_t>(rngBelow(2) ? 1 : 3);
    t.radius = 2 + 4 * rngUniform();
    t.cornerRadius = t.toolType == 3 ? t.radius * (0.2 + 0.6 * rngUniform()) : t.radius;
    t.taperAngle = 8 * rngUniform();
    t.tipTop = 5 + 15 * rngUniform();
    const double tipR = t.radius + t.tipTop * std::tan(t.taperAngle * 0.017453292519943295);
    t.chamferTop = t.tipTop + 3 * rngUniform();
    t.shaftDiameter = 2 * tipR + 4 * rngUniform();
    t.cutterTop = t.chamferTop + 10 + 20 * rngUniform();
    t.stage2Diameter = t.shaftDiameter + 6 * rngUniform();
    t.stage2Top = t.cutterTop + 5 + 10 * rngUniform();
    t.stage1Diameter = t.stage2Diameter + 6 * rngUniform();
    t.stage1Top = t.stage2Top + 5 + 10 * rngUniform();
    t.stage3Diameter = t.stage1Diameter + 6 * rngUniform();
    t.stage3Top = t.stage1Top + 5 + 10 * rngUniform();
    t.stage4Diameter = t.stage3Diameter;
    t.stage4Top = t.stage3Top + 5 + 10 * rngUniform();
    return t;
}

// A right-handed frame (direction, reference, swing axis) from a seeded direction.
struct Frame {
    Vec3 dir, ref, axis;
};
inline Frame randomFrame() {
    Vec3 d{rngUniform() - 0.5, rngUniform() - 0.5, rngUniform() + 0.2};
    vecNormalize3D(&d, &d);
    Vec3 helper{1, 0, 0}, axis, ref;
    crossUnit3D(&d, &helper, &axis);
    cross3D(&axis, &d, &ref);
    return {d, ref, axis};
}

// Distance from (z, r) to the polyline of a tool's (height, radius) points.
inline double distToOutline(const double* zs, const double* rs, int n, double z, double r) {
    double best = 1e300;
    for (int i = 0; i + 1 < n; i++) {
        const double dz = zs[i + 1] - zs[i], dr = rs[i + 1] - rs[i], len2 = dz * dz + dr * dr;
        const double t = len2 > 0 ? std::clamp(((z - zs[i]) * dz + (r - rs[i]) * dr) / len2, 0.0, 1.0) : 0.0;
        best = std::min(best, std::hypot(z - zs[i] - t * dz, r - rs[i] - t * dr));
    }
    return best;
}

}  // namespace toolshape
using namespace toolshape;
