// The host's machine-position check: a function the host may export under a fixed name, asked whether
// the machine reaches a tool position, and the tilt back towards the vertical until the host accepts one.
#pragma once

#include "geometry/vec.h"

// Exported by the host when it knows its machine: tip (frame B), unit axis (frame B), total tool
// length, a double it may write; 1 valid, 0 not.
using MachinePositionFn = int (*)(double x, double y, double z, double i, double j, double k,
                                  double toolLength, double* out);
extern const char* const kMachinePositionEntry;  // "kvMachinePositionValid"

enum : int {
    kMachineNoHost = -1,   // no host module, or it exports no check
    kMachineBadAxis = -2,  // the axis is shorter than 1e-5 in frame B
    kMachineRefused = 0,
    kMachineAccepted = 1,
};

// The module looked in: the host process unless set (null: none, every check answers kMachineNoHost).
void machineSetHostModule(void* module);
void machineSetPositionOffset(const Vec3* offset);  // added to the tip before the host sees it

int checkMachinePosition(const Vec3* point, const Vec3* axis, double toolLength);
// 1 accepted (the axis may have been tilted towards the vertical), 0 refused even upright or with no
// horizontal part, or a negative result of checkMachinePosition.
int checkMachinePositions(const Vec3* point, Vec3* axis, double toolLength);

void machineCheckResetState();  // the host process, zero offset
