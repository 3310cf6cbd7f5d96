// Tool axis at the blade edge by bisection on the swing freedom.
#include "plunge/edgeaxis.h"

#include <cmath>

#include "collision/meshset.h"
#include "collision/toolenv.h"
#include "collision/toolseg.h"
#include "plunge/contourpair.h"
#include "plunge/hubcross.h"
#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"

namespace {

constexpr double kSwingStart = 1.5;

bool candidatePasses(int32_t mode, const Vec3* point, const Vec3* v, const Vec3* w, const MeshSet* set,
                     double a) {
    Vec3 c;
    if (vecRotateTowardClamped3D(&c, v, w, a) < 0) return false;
    return edgeAxisClear(point, &c, set, mode) == 1;
}

}  // namespace

int edgeAxisClear(const Vec3* point, const Vec3* axis, const MeshSet* set, int32_t mode) {
    Vec3 T, B, d;
    if (radialTiltFrame(point, axis, &T, &B) < 0 || crossUnit3D(&B, axis, &d) != 0) return 0;
    double a1 = kSwingStart, a2 = kSwingStart;
    if (meshSetCollide(point, axis, &d, &B, set, mode, &a1, kSwingStart) < 0) return 0;
    const Vec3 back{-d.x, -d.y, -d.z};
    if (meshSetCollide(point, axis, &back, &B, set, mode, &a2, kSwingStart) < 0) return 0;
    return a1 >= kEdgeAxisClearAngle && -a2 <= kEdgeAxisClearAngle ? 1 : 0;
}

int edgeAxisAngle(int32_t mode, const Vec3* point, const Vec3* v, const Vec3* w, const MeshSet* set,
                  double* angle) {
    double a0 = 0.0;
    if (meshSetCollideAll(point, v, w, set, mode, &a0) < 0) return -1;
    if (candidatePasses(mode, point, v, w, set, a0)) {
        *angle = a0;
        return 1;
    }
    double fail = a0, pass = a0 + M_PI / 4;
    if (!candidatePasses(mode, point, v, w, set, pass)) return -1;
    while (pass - fail > 0.001) {
        double mid = 0.5 * (fail + pass);
        if (candidatePasses(mode, point, v, w, set, mid))
            pass = mid;
        else
            fail = mid;
    }
    *angle = pass;
    return 1;
}

int bladeEdgeToolAxis(const ToolDescription* tool, const Vec3* point, const MeshSet* set,
                      const HubShroud* level, const ContourPair* pair, double twist, double offset,
                      int32_t side, int32_t modeFlag, Vec3* axis) {
    if (!tool || !point || !set || !set->meshes[0] || !level || !pair || !axis) return -1;
    ContourPair* twisted = twistContourPair(pair, twist, 0.0);
    if (!twisted) return -1;
    Plist3D* trace = newPlist3D(1000);
    double s = 0.0;
    Vec3 foot;
    bool ok = trace && normContourPairParams(twisted) == 1 &&
              contourPairProfileTrace(twisted, level->hub, 1.0, trace) == 1 && trace->count > 0 &&
              projectOnPlist3D(trace, point, &s, &foot) >= 0;
    freePlist3D(trace);
    Vec3 onFirst, onSecond;
    ok = ok && evalContourPair(twisted, s, &onSecond, &onFirst) == 1;
    if (ok && side == 0) {
        double t;
        ok = projectOnPlist3D(twisted->first, point, &t, &onFirst) >= 0 &&
             projectOnPlist3D(twisted->second, point, &t, &onSecond) >= 0;
    }
    freeContourPair(twisted);
    if (!ok) return -1;
    Vec3 d{onSecond.x - onFirst.x, onSecond.y - onFirst.y, onSecond.z - onFirst.z}, u, a, c;
    double r = std::hypot(point->x, point->y);
    if (r < 1e-5 || vecNormalize3D(&d, &u) != 1) return -1;
    a = std::fabs(u.z) < 0.5 ? Vec3{0, 0, 1} : Vec3{-point->x / r, -point->y / r, 0};
    if (side == 1) a = {-a.x, -a.y, -a.z};
    if (crossUnit3D(&u, &a, &c) != 0 || crossUnit3D(&c, &u, &a) != 0) return -1;
    toolSegProfileInit(tool, 0.0, 0.5 * set->meshes[0]->tolerance);
    const int32_t mode = modeFlag ? 7 : (std::fabs(twist) >= 1e-5 ? 4 : 1);
    double angle = 0.0;
    if (edgeAxisAngle(mode, point, &u, &a, set, &angle) < 0) return -1;
    return vecRotateTowardClamped3D(axis, &u, &a, angle + offset) < 0 ? -1 : 1;
}
