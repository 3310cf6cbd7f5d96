#include "avoidance/machinecheck.h"

#include <cmath>

#include "geometry/frames.h"
#include "kernel/base/runreset.h"
#include "platform/module.h"

const char* const kMachinePositionEntry = "kvMachinePositionValid";

namespace {

struct MachineState {
    bool moduleSet = false;  // false: the host process
    void* module = nullptr;
    Vec3 offset{0, 0, 0};
};
MachineState g;

void* hostModule() {
    return g.moduleSet ? g.module : moduleProcessHandle();
}

Vec3 tiltedAxis(const Vec3& h, double t) {
    return Vec3{h.x * std::sin(t), h.y * std::sin(t), std::cos(t)};
}

}  // namespace

void machineSetHostModule(void* module) {
    g.moduleSet = true;
    g.module = module;
}

void machineSetPositionOffset(const Vec3* offset) {
    g.offset = offset ? *offset : Vec3{0, 0, 0};
}

int checkMachinePosition(const Vec3* point, const Vec3* axis, double toolLength) {
    void* module = hostModule();
    if (!module || !point || !axis) return kMachineNoHost;
    auto fn = reinterpret_cast<MachinePositionFn>(moduleEntry(module, kMachinePositionEntry));
    Vec3 a = *point, b{point->x + axis->x, point->y + axis->y, point->z + axis->z};
    pointFrameAToFrameB(&a);
    pointFrameAToFrameB(&b);
    const Vec3 d{b.x - a.x, b.y - a.y, b.z - a.z};
    const double len = vecLen3D(&d);
    if (len < 1e-5) return kMachineBadAxis;
    if (!fn) return kMachineNoHost;
    double out = 0.0;
    return fn(a.x + g.offset.x, a.y + g.offset.y, a.z + g.offset.z, d.x / len, d.y / len, d.z / len,
              toolLength, &out);
}

int checkMachinePositions(const Vec3* point, Vec3* axis, double toolLength) {
    if (!axis) return kMachineNoHost;
    int r = checkMachinePosition(point, axis, toolLength);
    if (r < 0) return r;
    if (r == kMachineAccepted) return 1;
    const double b = acosClamped(axis->z);
    const Vec3 up{0, 0, 1};
    r = checkMachinePosition(point, &up, toolLength);
    if (r <= 0) return r;
    Vec3 h{0, 0, 0};
    if (vecUnitXY3D(axis, &h) != 1) return 0;
    double lo = 0.0, hi = b;
    while (hi - lo > 0.001) {
        const double m = (lo + hi) / 2;
        const Vec3 trial = tiltedAxis(h, m);
        r = checkMachinePosition(point, &trial, toolLength);
        if (r < 0) return r;
        (r == kMachineAccepted ? lo : hi) = m;
    }
    *axis = tiltedAxis(h, lo);
    return 1;
}

void machineCheckResetState() {
    g = MachineState{};
}
static const RunReset gRunReset(kRunResetAvoidance, "machineCheck", machineCheckResetState);
