#include "collision/toolassembly.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "collision/chkmodel.h"
#include "collision/toolseg.h"
#include "collision/tprof.h"
#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"

namespace {

constexpr double kDegree = kDegToRad;

struct ActiveState {
    ToolAssembly* active = nullptr;
    double dims[4] = {0, 0, 0, 0};
};
ActiveState g;

double effectiveRadius(const ToolDescription* t) {
    return t->toolType == kToolDiameter12 ? t->shaftDiameter / 2 : t->radius;
}
double cornerOf(const ToolDescription* t) {
    return t->toolType == kRadiusMill ? t->cornerRadius : t->radius;
}

bool setPoints(ToolAssembly* a, const std::vector<Vec2>& zr) {
    const int32_t n = static_cast<int32_t>(zr.size());
    double** arrays[] = {&a->m, &a->b, &a->onePlusM2, &a->mb, &a->mb2, &a->b2, &a->z, &a->r, &a->q};
    for (double** p : arrays) {
        std::free(*p);
        *p = static_cast<double*>(std::calloc(static_cast<size_t>(std::max(n, 1)), sizeof(double)));
    }
    a->count = 0;
    for (double** p : arrays)
        if (!*p) return false;
    a->count = n;
    for (int32_t i = 0; i < n; i++) {
        a->z[i] = zr[i].x;
        a->r[i] = zr[i].y;
        a->q[i] = zr[i].x * zr[i].x + zr[i].y * zr[i].y;
    }
    // Falling segments get the terms of their line too: the query reads every segment whose
    // heights differ.
    for (int32_t i = 0; i + 1 < n; i++) {
        const double dz = a->z[i + 1] - a->z[i];
        if (dz == 0.0) continue;
        a->m[i] = (a->r[i + 1] - a->r[i]) / dz;
        a->b[i] = a->r[i] - a->m[i] * a->z[i];
        a->onePlusM2[i] = 1 + a->m[i] * a->m[i];
        a->mb[i] = a->m[i] * a->b[i];
        a->mb2[i] = a->mb[i] * a->mb[i];
        a->b2[i] = a->b[i] * a->b[i];
    }
    return true;
}

}  // namespace

int32_t toolAssemblyChamferFlag(ToolAssembly* a) {
    const ToolDescription* t = &a->tool;
    const double Re = effectiveRadius(t), rc = cornerOf(t), ang = t->taperAngle * kDegree;
    a->chamferFlag = 1;
    if (t->tipTop + 1e-5 < t->chamferTop ||
        2 * ((Re - rc) + rc * std::cos(ang) + std::tan(ang) * (t->tipTop + rc * std::sin(ang))) <
            t->shaftDiameter - 1e-5)
        a->chamferFlag = 0;
    return a->chamferFlag;
}

void toolAssemblyTrimProfile(PartProfile* p) {
    if (!p || p->count <= 0) return;
    if (std::fabs(p->segs[p->count - 1].z1 - p->segs[p->count - 1].z0) < 1e-5) p->count--;
    if (p->count > 0 && std::fabs(p->segs[0].z1 - p->segs[0].z0) < 1e-5) {
        std::memmove(p->segs, p->segs + 1, sizeof(PartSeg) * static_cast<size_t>(p->count - 1));
        std::memmove(p->flags, p->flags + 1, sizeof(uint16_t) * static_cast<size_t>(p->count - 1));
        p->count--;
    }
}

int toolAssemblyDefaultContour(ToolAssembly* a, const ToolDescription* t) {
    if (!a || !t) return 0;
    // A list that cannot be had is a contour that cannot be built: the caller frees its assembly.
    try {
        const std::vector<Vec2> zr = {{a->z0, a->r0},
                                      {a->z1, a->r1},
                                      {t->chamferTop, t->shaftDiameter / 2},
                                      {t->cutterTop, t->shaftDiameter / 2},
                                      {t->cutterTop, t->stage2Diameter / 2},
                                      {t->stage2Top, t->stage1Diameter / 2},
                                      {t->stage1Top, t->stage1Diameter / 2},
                                      {t->stage1Top, t->stage3Diameter / 2},
                                      {t->stage3Top, t->stage4Diameter / 2},
                                      {t->stage4Top, t->stage4Diameter / 2}};
        return setPoints(a, zr) ? 1 : 0;
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int toolAssemblyContour(ToolAssembly* a, const ToolDescription* t, const char* file, double tol,
                        const double* allowances) {
    if (!a || !t || !file) return 0;
    const double zero[4] = {0, 0, 0, 0};
    if (!allowances) allowances = zero;
    static const char* const kNames[3] = {"Extension", "Holder", "Head"};
    const double partAllowance[3] = {allowances[2], allowances[1], allowances[0]};
    PartProfile* parts[3] = {nullptr, nullptr, nullptr};
    double base = t->cutterTop;
    // The file's reader throws when memory is short: no contour then, and the parts read are freed.
    try {
        for (int k = 0; k < 3; k++) {
            parts[k] = tprof_from_contour(file, kNames[k], tol / 2, base, kTprofContour);
            if (!parts[k]) continue;
            toolAssemblyTrimProfile(parts[k]);
            if (parts[k]->count > 0) base = parts[k]->segs[parts[k]->count - 1].z1;
        }
    } catch (const std::bad_alloc&) {
        for (PartProfile* p : parts) tprof_free(p);
        return 0;
    }
    double e = allowances[3];
    if (a->chamferFlag) e = std::min(e, a->r1 - t->shaftDiameter / 2);
    int ok = 0;
    try {
        std::vector<Vec2> zr = {{a->z0, a->r0},
                                {a->z1, a->r1},
                                {t->chamferTop, t->shaftDiameter / 2 + e},
                                {t->cutterTop, t->shaftDiameter / 2 + e}};
        for (int k = 0; k < 3; k++) {
            const PartProfile* p = parts[k];
            if (!p || p->count <= 0) continue;
            for (int32_t i = 0; i < p->count; i++)
                zr.push_back({p->segs[i].z0, p->segs[i].r0 + partAllowance[k]});
            zr.push_back({p->segs[p->count - 1].z1, p->segs[p->count - 1].r1 + partAllowance[k]});
        }
        ok = setPoints(a, zr) ? 1 : 0;
    } catch (const std::bad_alloc&) {
        ok = 0;  // the parts are freed below all the same
    }
    for (PartProfile* p : parts) tprof_free(p);
    return ok;
}

ToolAssembly* toolAssemblyBuild(const ToolDescription* tool, const char* contourFile, double extraAngle,
                                double contourTolerance, const double* partAllowances) {
    if (!tool) return nullptr;
    auto* a = static_cast<ToolAssembly*>(std::calloc(1, sizeof(ToolAssembly)));
    if (!a) return nullptr;
    a->tool = *tool;
    const double Re = effectiveRadius(tool), rc = cornerOf(tool);
    a->angle = (tool->taperAngle + extraAngle) * kDegree;
    a->r0 = (Re - rc) + rc * std::cos(a->angle);
    a->z0 = -rc * std::sin(a->angle);
    a->z1 = std::fabs(tool->tipTop) < 1e-5 ? tool->cutterTop : tool->tipTop;
    a->r1 = (tool->tipTop - a->z0) * std::tan(a->angle) + a->r0;
    toolAssemblyChamferFlag(a);
    const int ok = contourFile && *contourFile
                       ? toolAssemblyContour(a, tool, contourFile, contourTolerance, partAllowances)
                       : toolAssemblyDefaultContour(a, tool);
    if (ok != 1) {
        toolAssemblyDestroy(a);
        std::free(a);
        return nullptr;
    }
    a->tool.taperAngle += extraAngle;
    a->queryMode = toolSegProfileMode();
    a->tolerance = a->queryMode == 2 ? tool->radius : 0.1 * tool->radius;
    return a;
}

int toolAssemblyAngleQuery(const ToolAssembly* a, const Vec3* origin, const Vec3* a1, const Vec3* a2,
                           const Vec3* a3, const Vec3* point, double* best, int nearTip, double limit) {
    if (!a || a->count < 2) return 0;
    const Vec3 d{point->x - origin->x, point->y - origin->y, point->z - origin->z};
    const double p1 = vecDot3D(&d, a1), p2 = vecDot3D(&d, a2), p3 = vecDot3D(&d, a3);
    const double rho2 = vecDot3D(&d, &d);
    const int32_t last = a->count - 1;
    if (rho2 < a->q[0] || rho2 >= a->q[last]) return 0;
    int32_t i = last - 1;
    while (i >= 0 && !(a->q[i] <= rho2 && rho2 < a->q[i + 1])) i--;
    if (i < 0) return 0;
    double h, r;
    if (a->z[i + 1] == a->z[i]) {
        h = a->z[i];
        if (h * h > rho2) return 0;
        r = std::sqrt(rho2 - h * h);
        if (r < std::min(a->r[i], a->r[i + 1]) || r > std::max(a->r[i], a->r[i + 1])) return 0;
    } else {
        if (a->m[i] == 0.0 && a->b[i] < std::fabs(p3)) return 0;
        const double disc = a->mb2[i] - (a->b2[i] - rho2) * a->onePlusM2[i];
        if (disc < 0.0) return 0;
        h = (std::sqrt(disc) - a->mb[i]) / a->onePlusM2[i];
        r = a->m[i] * h + a->b[i];
    }
    if (a->queryMode && nearTip && h < a->tolerance) return -2;
    const double s = p3 / r;
    if (!(std::fabs(s) <= 1.0)) return 0;
    const double delta = std::atan2(p2, p1) - std::atan2(r * std::cos(std::asin(s)), h);
    if (delta < *best && delta > -limit) {
        *best = delta;
        return 2;
    }
    return 1;
}

void toolAssemblyDestroy(ToolAssembly* a) {
    if (!a) return;
    double** arrays[] = {&a->m, &a->b, &a->onePlusM2, &a->mb, &a->mb2, &a->b2, &a->z, &a->r, &a->q};
    for (double** p : arrays) {
        std::free(*p);
        *p = nullptr;
    }
    a->count = 0;
}

void toolAssemblySetDims(double head, double holder, double extension, double shaft) {
    g.dims[0] = head, g.dims[1] = holder, g.dims[2] = extension, g.dims[3] = shaft;
}

void toolOffsetTaper(ToolDescription* tool, double offset) {
    const double Re = effectiveRadius(tool), r = cornerOf(tool), a = tool->taperAngle * kDegree,
                 h = tool->tipTop;
    const double o = std::min(offset, r);
    const double q = (r * std::sin(a) + h) * std::tan(a) + r * std::cos(a);
    const double k = r - o;
    const double A = h * h + q * q, B = 2 * h * k, C = k * k - q * q;
    const double disc = B * B - 4 * A * C;
    if (disc < 0.0 || A == 0.0) return;
    const double t = (std::sqrt(disc) - B) / (2 * A);
    tool->taperAngle = std::asin(std::clamp(t, -1.0, 1.0)) * 57.29577951308232;
    tool->radius = Re - o;
}

ToolAssembly* toolAssemblyCreate(const ToolDescription* tool, const char* contours, double extraAngle,
                                 double contourTolerance, double offset) {
    if (!tool) return nullptr;
    ToolDescription copy = *tool;
    if (std::fabs(offset) >= 1e-5) toolOffsetTaper(&copy, offset);
    toolAssemblyFree();
    g.active = toolAssemblyBuild(&copy, contours, extraAngle, contourTolerance, g.dims);
    toolSegShapeRefresh();
    return g.active;
}

void toolAssemblyFree() {
    if (!g.active) return;
    toolAssemblyDestroy(g.active);
    std::free(g.active);
    g.active = nullptr;
    toolSegShapeRefresh();
}

ToolAssembly* toolAssemblyActive() {
    return g.active;
}

void toolAssemblyResetState() {
    toolAssemblyFree();
    g = ActiveState{};
}
// After the tool segments: its free refreshes their swing shape, which their reset would wipe.
static const RunReset gRunReset(kRunResetCollision - 1, "toolAssembly", toolAssemblyResetState);
