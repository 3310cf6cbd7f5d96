// Collision avoidance of tool positions by tilting the tool axis in the plane of the axis and +z: the
// entry for a point list, the per-point loop, the tilt search against the tool assembly, the re-check of
// a path, and the switches through which the rest of the system configures them.
#pragma once

#include <cstdint>

#include "collision/toolenv.h"
#include "geometry/plist.h"
#include "geometry/vec.h"

struct HeightGrid;
struct CheckModel;

enum : int {
    kAvoidFree = 0,         // avoidTryTilt: free as it is
    kAvoidTiltedDown = 1,   // tilted, the first series of trials found the angle
    kAvoidTiltedOther = 2,  // tilted, a later series found it
    kAvoidNoCheck = -1,     // no collision check to ask
    kAvoidUnresolved = -2,  // no free tilt; a list is cut before the point
    kAvoidKindUnresolved = 10,
};

// The tool-assembly checks of the collision layer, in its own shapes. Results: 1 (or any value that is
// not negative) free, negative the part hit; hit, where and part are written on a hit.
struct AvoidCollisionOps {
    int32_t (*check)(const Vec3* point, const Vec3* axis, int32_t* hit, int32_t full);
    int32_t (*checkWhere)(const Vec3* point, const Vec3* axis, Vec3* where);
    int32_t (*checkFull)(const Vec3* point, const Vec3* axis, int32_t* hit);
    int32_t (*checkVertical)(const Vec3* point, int32_t full, int32_t* part);
    int (*freeHeight)(const Vec3* point, double* height);
    int32_t (*record)(const Vec3* point, const Vec3* axis, int32_t part, int32_t result);  // the report's
    double (*firstTrialAngle)();  // the assembly's widest side angle, tried first when tilting
};
void avoidSetCollisionOps(const AvoidCollisionOps* ops);

// Switches that no cycle setting turns on; for hosts and tests that want them.
struct AvoidSwitches {
    int32_t verticalMode;    // test with the axis along +z and mark unresolved points (kind 10)
    int32_t unresolvedMode;  // with verticalMode: 0 stop, 2 mark the rest, 3 go on with -2, 4 lift; 1 mark
    int32_t machineCheck;    // ask the host whether the machine reaches each position
    int32_t recheck1, recheck2;  // both: re-check the whole path after avoidance
    double upperTilt;            // upper end of the upward tilt search (radians)
};
void avoidSetSwitches(const AvoidSwitches* switches);
const AvoidSwitches* avoidSwitches();

// What the run set-up hands over.
struct HeadAvoidParams;

struct AvoidContext {
    const HeightGrid* obstacle;  // none: every list passes untested
    const ToolDescription* tool;
    double tiltMax;              // radians
    uint16_t headAvoidAxisMode;  // 0 off
    int16_t collCheck;           // check the approach loop by placing the tool
    int32_t avoidColl;           // tilting allowed
    double arcStepAngle;         // radians, the angle step of loops
    const HeadAvoidParams* head; // the head avoidance's settings when headAvoidAxisMode is non-zero
};

void avoidSetModelFlag(int32_t flag);   // non-zero: obstacle meshes, tested with the tool assembly
void avoidSetReportFlag(int32_t flag);  // non-zero: every result goes to the collision report
void avoidSetAngleLimit(double tol);    // the line tests' tolerance
double avoidAngleLimit();
double avoidTiltLimit();
void avoidSetReference(const Vec3* point);
int avoidReference(Vec3* out);  // 1 when a reference was stored

// 1 every position passes, -2 unresolved (list cut or marked), -1 a check that is not available.
int avoidCollisionRun(const AvoidContext* ctx, Plist* list, int32_t tilt);
int avoidCollisionPath(Plist* list, const HeightGrid* grid, const ToolDescription* tool, int32_t tilt);
// a: in/out unit axis; prev: the previous point's result. 0, 1, 2 (axis written back), -2, -1.
int avoidTryTilt(const Vec3* point, Vec3* axis, int32_t tilt, int32_t prev);
// 1 all free, else the first negative result (the list cut before that point).
int avoidCheckPath(Plist* list, const ToolDescription* tool);
// 1 free, -1 when the tool placed over the point's x, y (the model and each of its parts) rests 0.01 or
// more above it; contact: where it rests.
int placeRunBoth(const CheckModel* model, const Vec3* point, Vec3* contact);

void avoidTiltResetState();
