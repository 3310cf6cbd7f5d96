#include "kernel/ncout/sbsout.h"

#include <cstdlib>
#include <vector>

#include "geometry/bspl.h"
#include "geometry/plist.h"
#include "geometry/spline.h"
#include "kernel/ncout/ncout.h"

namespace {

constexpr int32_t kBufferPoints = 1000;
constexpr double kSameTip = 1e-5;
constexpr double kCornerCos = 0.8660254037844386;  // a turn of more than 30 degrees
constexpr double kAxisReach = 10.0;                // the second curve runs this far along the tool axis

Plist* gBuffer = nullptr;

struct CurveGuard {
    BsplCurve* curve = nullptr;
    ~CurveGuard() {
        if (!curve) return;
        nurbsFreeCurve(curve);
        free(curve);
    }
};

}  // namespace

int sbsBufferCreate() {
    plistFree(gBuffer);
    gBuffer = plistCreate(kBufferPoints, 1);
    return gBuffer ? 1 : -1;
}

int sbsBufferAdd(const Vec3* tip, const Vec3* axis) {
    if (!gBuffer || !tip || !axis) return -1;
    double t = 0.0;
    if (gBuffer->count > 0) {
        double d = dist3D(tip, &gBuffer->points[gBuffer->count - 1]);
        if (d < kSameTip) return 0;
        t = gBuffer->parameters[gBuffer->count - 1] + d;
    }
    return plistAppend(gBuffer, t, tip, 0, axis, 0) < 0 ? -1 : 1;
}

int sbsBufferCount() {
    return gBuffer ? gBuffer->count : -1;
}

int ncSbsFlush() {
    if (!gBuffer) return -1;
    const int32_t n = gBuffer->count;
    const Vec3* p = gBuffer->points;
    const Vec3* axis = gBuffer->vectors;
    std::vector<Vec3> tips, heads;
    double total = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        if (i > 0) total += dist3D(&p[i - 1], &p[i]);
        bool corner = false;
        if (i > 0 && i + 1 < n) {
            Vec3 in = {p[i].x - p[i - 1].x, p[i].y - p[i - 1].y, p[i].z - p[i - 1].z};
            Vec3 out = {p[i + 1].x - p[i].x, p[i + 1].y - p[i].y, p[i + 1].z - p[i].z};
            double li = vecLen3D(&in), lo = vecLen3D(&out);
            if (li >= kSameTip && lo >= kSameTip) corner = vecDot3D(&in, &out) / (li * lo) < kCornerCos;
        }
        Vec3 head = {p[i].x + kAxisReach * axis[i].x, p[i].y + kAxisReach * axis[i].y,
                     p[i].z + kAxisReach * axis[i].z};
        for (int r = corner ? 2 : 1; r > 0; --r) {
            tips.push_back(p[i]);
            heads.push_back(head);
        }
    }
    gBuffer->count = 0;
    const auto m = static_cast<int32_t>(tips.size());
    if (m < 3) return 0;  // no spline through fewer points
    CurveGuard tip, head;
    tip.curve = splineThroughPoints3D(tips.data(), m, kSplineChord);
    if (!tip.curve) return 0;
    head.curve = splineThroughPoints3DKnots(heads.data(), m, tip.curve->knots);
    if (!head.curve || head.curve->count != tip.curve->count) return 0;
    const int32_t count = tip.curve->count;
    const double* knots = tip.curve->knots;
    int written = 0;
    for (int32_t i = 1; i <= count - 1; ++i) {
        double parameter = i == 1 || i == count - 1 ? -1.0 : (knots[i + 2] - knots[i + 1]) * total;
        ncWriteSbsPoint(&tip.curve->ctrl[i], &head.curve->ctrl[i], parameter);
        ++written;
    }
    return written;
}

int sbsBufferFlushFree() {
    if (!gBuffer) return 0;
    if (gBuffer->count > 0) ncSbsFlush();
    plistFree(gBuffer);
    gBuffer = nullptr;
    return 1;
}

void sbsResetState() {
    plistFree(gBuffer);
    gBuffer = nullptr;
}
