// The tool's body above the cutting part (taper, shank, extension, holder) checked section by section
// against a check model along a point list, with tilting of the tool axis to clear it.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"
#include "collision/toolenv.h"
#include "geometry/plist.h"

enum : int32_t {
    kMsgTryToAvoid = 6011,  // sent once per run
    kMsgStopCalculation = 6012,
};

struct HolderParams {
    uint16_t enable;
    uint16_t avoid;  // tilt a colliding point's axis instead of stopping
    double maxTilt;  // radians from the vertical
    const ToolDescription* desc;
};

// 0 when the body at P with motion direction a (holder towards tip) is free, else the colliding
// section's code: 8 taper, 2 shank cone, 3 shank, 4 extension, 6 holder, 1 upper cylinders.
int holderCheck(const CheckModel* model, const ToolDescription* desc, const Vec3* p, const Vec3* a);
void setHolderCollMode(int32_t mode);  // 1: the shank cylinder starts at the shank cone's top
// A free axis near `axis` (in place) for the tool at p: the final mode (0, 1, 2), or -2.
int holderTiltSearch(const CheckModel* model, const ToolDescription* desc, const Vec3* p, Vec3* axis,
                     int32_t mode, double maxTilt, double* outAngle);
// 1 when some axis was tilted, 0 when none was (or disabled), -2 when the list had to be cut.
int holderMeshCollision(Plist* list, const CheckModel* model, const HolderParams* params);
// Per run: the mode, the remembered tilt and the once-per-run message flag.
void holderCheckResetState();
