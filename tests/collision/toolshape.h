// Tools and swing frames shared by the tool-shape and mesh-set tests.
#pragma once

#include <algorithm>
#include <cmath>

#include "collision/toolenv.h"
#include "geometry/vec.h"
#include "kernel/base/rng.h"

namespace toolshape {

// Stacked tool with rising heights: ball R 5, straight shaft to 50, two holder stages.
inline ToolDescription stackedTool() {
    ToolDescription t{};
    t.toolType = 1, t.radius = 5, t.cornerRadius = 5, t.tipTop = 20, t.chamferTop = 20, t.cutterTop = 50;
    t.shaftDiameter = 10, t.stage2Top = 60, t.stage2Diameter = 20, t.stage1Top = 80, t.stage1Diameter = 20;
    t.stage3Top = 90, t.stage3Diameter = 30, t.stage4Top = 100, t.stage4Diameter = 30;
    return t;
}

// A seeded tool whose heights and radii rise (with the two steps of equal height every profile has).
inline ToolDescription randomTool() {
    ToolDescription t{};
    t.toolType = static_cast<uint16_t>(rngBelow(2) ? 1 : 3);
    t.radius = 2 + 4 * rngUniform();
    t.cornerRadius = t.toolType == 3 ? t.radius * (0.2 + 0.6 * rngUniform()) : t.radius;
    t.taperAngle = 8 * rngUniform();
    t.tipTop = 5 + 15 * rngUniform();
    t.chamferTop = t.tipTop + 3 * rngUniform();
    t.shaftDiameter = 2 * (t.radius + t.tipTop * std::tan(t.taperAngle * M_PI / 180)) + 4 * rngUniform();
    double* tops[4] = {&t.cutterTop, &t.stage2Top, &t.stage1Top, &t.stage3Top};
    double* diameters[4] = {&t.stage2Diameter, &t.stage1Diameter, &t.stage3Diameter, &t.stage4Diameter};
    for (int i = 0; i < 4; i++) {
        *tops[i] = (i ? *tops[i - 1] : t.chamferTop) + 5 + 15 * rngUniform();
        *diameters[i] = (i ? *diameters[i - 1] : t.shaftDiameter) + (i < 3 ? 6 * rngUniform() : 0.0);
    }
    t.stage4Top = t.stage3Top + 5 + 10 * rngUniform();
    return t;
}

// A frame (direction, reference, swing axis) from a seeded direction.
struct Frame {
    Vec3 dir, ref, axis;
};
inline Frame randomFrame() {
    Vec3 d{rngUniform() - 0.5, rngUniform() - 0.5, rngUniform() + 0.2}, helper{1, 0, 0}, axis, ref;
    vecNormalize3D(&d, &d);
    crossUnit3D(&d, &helper, &axis);
    cross3D(&axis, &d, &ref);
    return {d, ref, axis};
}

}  // namespace toolshape
using namespace toolshape;
