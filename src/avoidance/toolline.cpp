#include "avoidance/toolline.h"

#include <algorithm>
#include <cmath>

#include "avoidance/avoidtilt.h"
#include "avoidance/machinecheck.h"
#include "collision/collassembly.h"
#include "collision/toolseg.h"
#include "kernel/base/constants.h"

namespace {

constexpr double kTol = 1e-5;
constexpr double kDegree = kDegToRad;

double gLiftMax = 0.0;

Vec3 sub(const Vec3& a, const Vec3& b) {
    return Vec3{a.x - b.x, a.y - b.y, a.z - b.z};
}
double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}

// One holder section: axial range [s0, s1], radius r0 at s0 growing linearly to r1 at s1.
struct Section {
    double s0, s1, r0, r1;
};

// From the top down, the order in which the line test meets them.
void holderSections(const ToolDescription* t, Section out[4]) {
    out[0] = {t->stage3Top, t->stage4Top, t->stage4Diameter / 2, t->stage4Diameter / 2};
    out[1] = {t->stage1Top, t->stage3Top, t->stage3Diameter / 2, t->stage4Diameter / 2};
    out[2] = {t->stage2Top, t->stage1Top, t->stage1Diameter / 2, t->stage1Diameter / 2};
    out[3] = {t->cutterTop, t->stage2Top, t->stage2Diameter / 2, t->stage1Diameter / 2};
}

double slope(double s0, double s1, double r0, double r1) {
    return std::fabs(s1 - s0) < kTol ? 0.0 : (r1 - r0) / (s1 - s0);
}

bool axisVertical(const Vec3* a) {
    return std::fabs(a->x) < kTol && std::fabs(a->y) < kTol;
}

}  // namespace

int solveQuadraticInterval(double a, double b, double c, LineInterval out[2]) {
    if (std::fabs(a) >= kTol) {
        const double d = b * b - 4 * a * c;
        if (d < kTol) {
            if (a > 0) return 0;
            out[0] = {kLineOpenLow, kLineOpenHigh};
            return 1;
        }
        const double q = std::sqrt(d);
        const double t1 = std::min((-b - q) / (2 * a), (-b + q) / (2 * a));
        const double t2 = std::max((-b - q) / (2 * a), (-b + q) / (2 * a));
        if (a > 0) {
            out[0] = {t1, t2};
            return 1;
        }
        out[0] = {kLineOpenLow, t1};
        out[1] = {t2, kLineOpenHigh};
        return 2;
    }
    if (std::fabs(b) >= kTol) {
        out[0] = b > 0 ? LineInterval{kLineOpenLow, -c / b} : LineInterval{-c / b, kLineOpenHigh};
        return 1;
    }
    if (c < -kTol) {
        out[0] = {kLineOpenLow, kLineOpenHigh};
        return 1;
    }
    return 0;
}

int intervalClip(LineInterval* io, const LineInterval* with) {
    io->lo = std::max(io->lo, with->lo);
    io->hi = std::min(io->hi, with->hi);
    return io->lo <= io->hi ? 1 : 0;
}

int toolPointInside(const Vec3* P, const Vec3* a, const ToolDescription* t, const Vec3* Q) {
    const Vec3 w = sub(*Q, *P);
    const double s = dot(*a, w);
    const Vec3 c = cross(*a, w);
    const double d2 = dot(c, c);
    if (s > 0.02 && d2 < (t->radius - kTol) * (t->radius - kTol)) return 1;
    const double headR = t->stage4Diameter / 2;
    if (d2 > headR * headR) return 0;
    const auto below = [&](double r) { return d2 < r * r; };
    const auto coneRadius = [&](double s0, double s1, double r0, double r1) {
        return r0 + slope(s0, s1, r0, r1) * (s - s0);
    };
    if (s > t->cutterTop && s < t->stage2Top)
        return below(coneRadius(t->cutterTop, t->stage2Top, t->stage2Diameter / 2, t->stage1Diameter / 2));
    if (s >= t->stage2Top && s < t->stage1Top)
        return t->stage1Diameter + kTol > t->stage4Diameter || below(t->stage1Diameter / 2);
    if (s >= t->stage1Top && s < t->stage3Top)
        return below(coneRadius(t->stage1Top, t->stage3Top, t->stage3Diameter / 2, t->stage4Diameter / 2));
    const auto headRow = [&] { return avoidSwitches()->recheck1 != 0 || below(headR); };
    if (s >= t->stage3Top && s < t->stage4Top) return headRow();
    if ((axisVertical(a) || avoidSwitches()->verticalMode) && s >= t->stage4Top) return headRow();
    return 0;
}

int toolLiftInside(const Vec3* P, const Vec3* a, const ToolDescription* t, const Vec3* Q) {
    const Vec3 w = sub(*Q, *P);
    const double s = dot(*a, w);
    const Vec3 c = cross(*a, w);
    const double d = std::sqrt(dot(c, c));
    if (s > 0.02 && d < t->radius - kTol) return -2;
    if (d > t->stage4Diameter / 2) return 0;
    // How far above the cone's foot s lies past the height where its radius equals d.
    const auto coneLift = [&](double s0, double s1, double r0, double r1) {
        if (s > s0 && d < r0) return s - s0;
        const double k = slope(s0, s1, r0, r1);
        if (s > s0 && d < r1 && k > kTol) {
            const double sAt = s0 + (d - r0) / k;
            if (s - sAt > 0) return s - sAt;
        }
        return 0.0;
    };
    const double m1 = coneLift(t->cutterTop, t->stage2Top, t->stage2Diameter / 2, t->stage1Diameter / 2);
    const double m2 = coneLift(t->stage1Top, t->stage3Top, t->stage3Diameter / 2, t->stage4Diameter / 2);
    gLiftMax = std::max({gLiftMax, m1, m2});
    return 0;
}

double toolLiftMax() {
    return gLiftMax;
}

void toolLiftReset() {
    gLiftMax = 0.0;
}

int toolLineHit(const Vec3* P, const Vec3* a, const ToolDescription* t, const Vec3* Q) {
    if (avoidSwitches()->machineCheck && checkMachinePosition(P, a, t->cutterTop) == kMachineRefused)
        return 1;
    if (Q->z - P->z < kTol || axisVertical(a)) return toolPointInside(P, a, t, Q);
    const Vec3 w = Vec3{Q->x - P->x, Q->y - P->y, 0.0};  // lower end of the segment, from the tip
    const Vec3 v{0.0, 0.0, Q->z - P->z};
    const double s0 = dot(*a, w), ds = dot(*a, v);
    if (s0 > t->stage4Top || s0 + ds < t->cutterTop) return 0;
    const Vec3 cw = cross(*a, w), cv = cross(*a, v);
    const LineInterval unit{0.0, 1.0};
    Section sections[4];
    holderSections(t, sections);
    for (const Section& sec : sections) {
        if (sec.s1 - sec.s0 < kTol) continue;
        LineInterval range{0.0, 1.0};
        if (std::fabs(ds) < kTol) {
            if (s0 < sec.s0 || s0 > sec.s1) continue;
        } else {
            const double u0 = (sec.s0 - s0) / ds, u1 = (sec.s1 - s0) / ds;
            range = {std::min(u0, u1), std::max(u0, u1)};
            if (!intervalClip(&range, &unit)) continue;
        }
        // Radius along the segment: e0 + e1 u.
        const double k = slope(sec.s0, sec.s1, sec.r0, sec.r1);
        const double e0 = sec.r0 + k * (s0 - sec.s0), e1 = k * ds;
        LineInterval iv[2];
        const int n = solveQuadraticInterval(dot(cv, cv) - e1 * e1, 2 * (dot(cw, cv) - e0 * e1),
                                             dot(cw, cw) - e0 * e0, iv);
        for (int i = 0; i < n; i++)
            if (intervalClip(&iv[i], &range)) return 1;
    }
    return 0;
}

int avoidLineCone(const Vec3* O, const Vec3* a, const ToolDescription* t, const Vec3* A, const Vec3* B,
                  Vec3* out) {
    const double phi = t->taperAngle * kDegree, k = std::tan(phi);
    const double h0 = -t->radius * std::sin(phi), r0 = t->radius * std::cos(phi), H = t->tipTop;
    const Vec3 w = sub(*B, *O), v = sub(*A, *B);
    const double hw = dot(*a, w), dh = dot(*a, v);
    // The part of the segment between the cone's two heights, whichever way the segment runs.
    LineInterval range{0.0, 1.0};
    const LineInterval unit{0.0, 1.0};
    if (std::fabs(dh) < 1e-12) {
        if (hw < h0 || hw > H) return 0;
    } else {
        const double u0 = (h0 - hw) / dh, u1 = (H - hw) / dh;
        range = {std::min(u0, u1), std::max(u0, u1)};
        if (!intervalClip(&range, &unit)) return 0;
    }
    const Vec3 cw = cross(*a, w), cv = cross(*a, v);
    const double e0 = r0 + (hw - h0) * k, e1 = dh * k;
    LineInterval iv[2];
    const int n =
        solveQuadraticInterval(dot(cv, cv) - e1 * e1, 2 * (dot(cw, cv) - e0 * e1), dot(cw, cw) - e0 * e0, iv);
    for (int i = 0; i < n; i++) {
        if (!intervalClip(&iv[i], &range)) continue;
        const double m = (iv[i].lo + iv[i].hi) / 2;
        const Vec3 x{B->x + m * v.x, B->y + m * v.y, B->z + m * v.z};
        const double hm = hw + m * dh;
        const double e = std::fabs(hm) >= 0.2 ? avoidAngleLimit() : 0.1;
        const Vec3 c = cross(*a, sub(x, *O));
        if (out) *out = x;
        if (std::sqrt(dot(c, c)) < r0 + (hm - h0) * k - e) return 1;
    }
    return 0;
}

void avoidInstallHooks() {
    toolSegSetLineConeTest(avoidLineCone);
    collSetAvoidHooks(avoidSetModelFlag, avoidSetReference);
}
