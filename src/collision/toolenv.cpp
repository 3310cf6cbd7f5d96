#include "collision/toolenv.h"

#include <algorithm>
#include <cmath>

#include "collision/chkmodel.h"

namespace {

struct EnvState {
    int32_t mode = 0;
    double clearance = 0.0;
};
EnvState g;

double floor0(double v) {
    return std::max(v, 0.0);
}

// The radius by which the cutter's reference point sits above its tip.
double referenceRise(const ToolDescription* d) {
    if (d->toolType == kBallMill || d->toolType == kToolDiameter12) return d->radius;
    if (d->toolType == kRadiusMill) return d->cornerRadius;
    return 0.0;
}

void raiseAngle(ToolDescription* d, double radius, double height) {
    d->maxSideAngle = std::max(d->maxSideAngle, std::atan2(radius - d->radius, height));
}

// The two lower stages seen from the tip.
void lowerStageAngle(ToolDescription* d) {
    d->maxSideAngle = 0.0;
    if (std::fabs(d->cutterTop) >= 1e-5)
        d->maxSideAngle = std::atan2(d->stage2Diameter / 2 - d->radius, d->cutterTop);
    if (std::fabs(d->stage2Top) >= 1e-5) raiseAngle(d, d->stage1Diameter / 2, d->stage2Top);
}

double ToolDescription::*const kHeights[] = {&ToolDescription::cutterTop,  &ToolDescription::tipTop,
                                             &ToolDescription::chamferTop, &ToolDescription::stage2Top,
                                             &ToolDescription::stage1Top,  &ToolDescription::stage3Top,
                                             &ToolDescription::stage4Top};
double ToolDescription::*const kDiameters[] = {
    &ToolDescription::shaftDiameter, &ToolDescription::stage2Diameter, &ToolDescription::stage1Diameter,
    &ToolDescription::stage3Diameter, &ToolDescription::stage4Diameter};

}  // namespace

void set_toolenv_mode(int32_t flag) {
    g.mode = flag;
}

void toolenv_create(ToolDescription* desc, const CutterShape* cutter, double offset, double length1,
                    double length2, double totalLength, double diameter1, double diameter2,
                    int32_t thickShaft) {
    if (!desc || !cutter) return;
    g.clearance = std::max(0.2 * cutter->radius, 0.025 * diameter1);
    const double e = g.mode ? offset : offset + g.clearance;
    desc->thickShaft = thickShaft;
    desc->toolType = cutter->kind;
    desc->radius = cutter->radius;
    desc->cornerRadius = cutter->cornerRadius;
    desc->tipOffset = cutter->tipOffset;
    desc->cutterTop = floor0(totalLength - referenceRise(desc) - e);
    desc->stage2Top = desc->cutterTop + length2;
    desc->stage1Top = desc->stage2Top + length1;
    desc->stage2Diameter = diameter2 + 2 * e;
    desc->stage1Diameter = diameter1 + 2 * e;
    desc->stage3Diameter = desc->stage1Diameter;
    desc->stage3Top = desc->stage4Top = 0.0;
    desc->tipTop = desc->cutterTop;
    desc->shaftDiameter = 2 * desc->radius;
    desc->chamferTop = 0.0;
    desc->taperAngle = 0.0;
    lowerStageAngle(desc);
    std::fill(desc->spare, desc->spare + 4, 0.0);
    toolenv_add_shank(desc, cutter->tipLength, cutter->shaftDiameter, cutter->chamferLength,
                      cutter->taperAngle);
}

void toolenv_add_shank(ToolDescription* desc, double tipLength, double shaftDiameter, double chamferLength,
                       double taperAngle) {
    if (!desc) return;
    desc->tipTop = std::min(tipLength, desc->cutterTop);
    desc->shaftDiameter = std::fabs(shaftDiameter) < 1e-5 ? 2 * desc->radius : shaftDiameter;
    // Provisionally the chamfer's own length, not its top.
    desc->chamferTop = std::min(chamferLength, desc->cutterTop - desc->tipTop);
    desc->taperAngle = taperAngle;
    if (std::fabs(desc->shaftDiameter - 2 * desc->radius) >= 1e-5)
        raiseAngle(desc, desc->shaftDiameter / 2, desc->tipTop + desc->chamferTop);
}

void toolenv_add_holder(ToolDescription* desc, double offset, double diameter3, double length3,
                        double diameter4, double length4) {
    if (!desc) return;
    const double e = g.mode ? offset : offset + g.clearance;
    int replaced = 0;
    desc->stage3Diameter = diameter3 + 2 * e;
    if (desc->stage3Diameter < desc->stage1Diameter + 1e-5)
        desc->stage3Diameter = desc->stage1Diameter, replaced++;
    desc->stage4Diameter = diameter4 + 2 * e;
    if (desc->stage4Diameter < desc->stage3Diameter + 1e-5)
        desc->stage4Diameter = desc->stage3Diameter, replaced++;
    desc->stage3Top = desc->stage1Top + length3;
    desc->stage4Top = desc->stage3Top + length4;
    if (replaced == 2) return;
    if (std::fabs(desc->stage1Top) >= 1e-5) raiseAngle(desc, desc->stage3Diameter / 2, desc->stage1Top);
    if (std::fabs(desc->stage3Top) >= 1e-5) raiseAngle(desc, desc->stage4Diameter / 2, desc->stage3Top);
}

void toolenv_fill(ToolDescription* desc, int32_t tipMode) {
    if (!desc) return;
    if (desc->toolType == kBallMill || desc->toolType == kToolDiameter12)
        desc->cornerRadius = desc->radius;
    else if (desc->toolType == kEndMill)
        desc->cornerRadius = 0.0;
    const double corner = desc->cornerRadius;
    desc->tipOffset = tipMode ? corner : 0.0;
    desc->cutterTop = floor0(desc->cutterTop - corner);
    desc->tipTop = floor0(desc->tipTop - corner);
    desc->chamferTop += desc->tipTop;
    desc->stage2Top += desc->cutterTop;
    desc->stage1Top += desc->stage2Top;
    desc->stage3Top += desc->stage1Top;
    desc->stage4Top += desc->stage3Top;
    lowerStageAngle(desc);
}

void toolenv_offset(ToolDescription* desc, double d, double e) {
    if (!desc) return;
    for (auto f : kHeights) desc->*f = floor0(desc->*f - d);
    desc->radius = floor0(desc->radius + d);
    desc->cornerRadius = floor0(desc->cornerRadius + d);
    for (auto f : kDiameters) desc->*f = floor0(desc->*f + 2 * (d + e));
}

void toolenv_offset_b(ToolDescription* desc, double s) {
    if (!desc) return;
    for (auto f : kHeights) desc->*f = floor0(desc->*f - s);
    for (auto f : kDiameters) desc->*f = floor0(desc->*f + 2 * s);
}

void toolenvResetState() {
    g = EnvState{};
}
