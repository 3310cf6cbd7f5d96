#include "collision/toolseg.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <vector>

#include "collision/chkmodel.h"
#include "collision/toolassembly.h"
#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"

namespace {

constexpr double kDegree = kDegToRad;

struct SegTables {
    double z[kToolSegPoints] = {};
    double rho[kToolSegPoints] = {};
    double q[kToolSegPoints] = {};
    double m[kToolSegPoints] = {}, c[kToolSegPoints] = {}, onePlusM2[kToolSegPoints] = {};
    double mc[kToolSegPoints] = {}, mc2[kToolSegPoints] = {}, c2[kToolSegPoints] = {};
    double angle = 0.0;
    ToolDescription tool{};
    double step = 0.0;
    double width = 0.0;
    double nearTip = 0.0;
    int32_t mode = 0;
    int32_t collFlag = 0;
    ToolSegLineConeFn lineCone = nullptr;
};
SegTables g;

// The shape the swing test measures: the ten-point profile, or the active assembly's contour in its
// place, so that the reach, the bounds and the take-off table serve both. Refreshed whenever the
// profile or the assembly changes.
struct SwingShape {
    std::vector<double> store;
    const double *z = nullptr, *rho = nullptr, *q = nullptr, *m = nullptr, *c = nullptr, *onePlusM2 = nullptr;
    const double *mc = nullptr, *mc2 = nullptr, *c2 = nullptr;
    int32_t n = 0;
    // The assembly's rule: the segment whose squared distances rise across d^2, searched from the top,
    // and nothing at or beyond the last point's distance. The profile takes any segment enclosing d^2.
    bool rising = false;
    double nearTip = 0.0;
};
SwingShape gShape;

void setShape(const double* zs, const double* rs, int32_t n, bool rising, double nearTip) {
    SwingShape& s = gShape;
    s.n = std::max(n, 0);
    const size_t k = static_cast<size_t>(std::max(s.n, 1));
    s.store.assign(9 * k, 0.0);
    double* a = s.store.data();
    double *z = a, *rho = a + k, *q = a + 2 * k, *m = a + 3 * k, *c = a + 4 * k, *p = a + 5 * k;
    double *mc = a + 6 * k, *mc2 = a + 7 * k, *c2 = a + 8 * k;
    for (int32_t i = 0; i < s.n; i++) z[i] = zs[i], rho[i] = rs[i], q[i] = zs[i] * zs[i] + rs[i] * rs[i];
    for (int32_t i = 0; i + 1 < s.n; i++) {
        if (z[i + 1] == z[i]) continue;
        m[i] = (rho[i + 1] - rho[i]) / (z[i + 1] - z[i]);
        c[i] = rho[i] - m[i] * z[i];
        p[i] = 1 + m[i] * m[i];
        mc[i] = m[i] * c[i];
        mc2[i] = mc[i] * mc[i];
        c2[i] = c[i] * c[i];
    }
    s.z = z, s.rho = rho, s.q = q, s.m = m, s.c = c, s.onePlusM2 = p, s.mc = mc, s.mc2 = mc2, s.c2 = c2;
    s.rising = rising;
    s.nearTip = nearTip;
}

// The take-off table's storage and the profile it was built for.
struct TakeoffTable {
    static constexpr uint32_t kMaxBins = 2048;
    bool on = false;
    std::vector<double> z, rho;
    bool rising = false;
    ToolSegTakeoff view{};
    std::vector<float> invRadius2, bound;
    // The largest slot-0 bound over 2^k bins from each bin, level k at k * bins (NaN where any is):
    // a box that meets the swing plane takes its bound in two reads instead of a pass over its bins.
    std::vector<float> planeMax;
    uint32_t levels = 0;
};
TakeoffTable gTable;

double radiusAt(int32_t i, double h) {
    const double dz = g.z[i + 1] - g.z[i];
    return dz == 0.0 ? std::max(g.rho[i], g.rho[i + 1])
                     : g.rho[i] + (h - g.z[i]) / dz * (g.rho[i + 1] - g.rho[i]);
}

float floatAbove(double v) {
    const float f = static_cast<float>(v);
    return static_cast<double>(f) >= v ? f : std::nextafter(f, INFINITY);
}

float floatBelow(double v) {
    const float f = static_cast<float>(v);
    return static_cast<double>(f) <= v ? f : std::nextafter(f, -INFINITY);
}

double floatOfKey(uint32_t key) {
    return static_cast<double>(std::bit_cast<float>(key << ToolSegTakeoff::kShift));
}

float planeMaxOf(float a, float b) {
    return std::isnan(a) || std::isnan(b) ? NAN : std::max(a, b);
}

void buildTakeoffTable() {
    TakeoffTable& t = gTable;
    const SwingShape& sh = gShape;
    // Every side of a region sets the same tool again.
    if (t.on && t.rising == sh.rising && t.z.size() == static_cast<size_t>(sh.n) &&
        std::equal(sh.z, sh.z + sh.n, t.z.begin()) && std::equal(sh.rho, sh.rho + sh.n, t.rho.begin()))
        return;
    t.on = false;
    if (sh.n < 2) return;
    const double lo = sh.q[0], hi = sh.q[sh.n - 1];
    if (!(lo > 1e-30) || !(hi >= lo) || !(hi < 1e30)) return;
    const uint32_t base = std::bit_cast<uint32_t>(floatBelow(lo)) >> ToolSegTakeoff::kShift;
    const uint32_t bins = (std::bit_cast<uint32_t>(floatAbove(hi)) >> ToolSegTakeoff::kShift) - base + 1;
    if (bins > TakeoffTable::kMaxBins) return;
    t.invRadius2.assign(bins, 0.0f);
    t.bound.assign(size_t{bins} * ToolSegTakeoff::kSlots, -1.0f);
    for (uint32_t i = 0; i < bins; i++) {
        // The bin's range, widened past the float conversion's rounding of the point's distance.
        const double d2lo = floatOfKey(base + i) * (1 - 1e-6), d2hi = floatOfKey(base + i + 1) * (1 + 1e-6);
        double radius = 0.0;
        for (int32_t k = 0; k + 1 < sh.n; k++)
            if (std::max(d2lo, std::min(sh.q[k], sh.q[k + 1])) <=
                std::min(d2hi, std::max(sh.q[k], sh.q[k + 1])))
                radius = std::max({radius, std::fabs(sh.rho[k]), std::fabs(sh.rho[k + 1])});
        // A point farther than the radius from the swing plane is out of reach: no slot covers it.
        radius = radius * (1 + 1e-6) + 1e-9;
        const float inv = floatBelow(1.0 / (radius * radius));
        if (!(inv > 0.0f) || !std::isfinite(inv)) {
            std::fill_n(t.bound.begin() + size_t{i} * ToolSegTakeoff::kSlots, ToolSegTakeoff::kSlots, NAN);
            continue;
        }
        t.invRadius2[i] = inv;
        for (int32_t j = 0; j < ToolSegTakeoff::kSlots; j++) {
            // The slot's smallest distance from the plane, lowered past the rounding of its index.
            const double x = std::max(0.0, (j - 0.01) / ToolSegTakeoff::kSlots);
            const double sMin = std::sqrt(x / static_cast<double>(inv)) * (1 - 1e-6);
            const double b = toolSegHalfAngleBound(d2lo, d2hi, sMin);
            if (b >= 0.0) t.bound[size_t{i} * ToolSegTakeoff::kSlots + j] = floatAbove(b);
        }
    }
    t.levels = static_cast<uint32_t>(std::bit_width(bins));
    t.planeMax.assign(size_t{t.levels} * bins, NAN);
    for (uint32_t i = 0; i < bins; i++) t.planeMax[i] = t.bound[size_t{i} * ToolSegTakeoff::kSlots];
    for (uint32_t k = 1; k < t.levels; k++) {
        const float* below = &t.planeMax[size_t{k - 1} * bins];
        float* level = &t.planeMax[size_t{k} * bins];
        for (uint32_t i = 0; i + (1u << k) <= bins; i++)
            level[i] = planeMaxOf(below[i], below[i + (1u << (k - 1))]);
    }
    t.z.assign(sh.z, sh.z + sh.n);
    t.rho.assign(sh.rho, sh.rho + sh.n);
    t.rising = sh.rising;
    t.view = ToolSegTakeoff{base, bins, t.invRadius2.data(), t.bound.data()};
    t.on = true;
}

}  // namespace

void toolSegProfileInit(const ToolDescription* t, double extraAngleDeg, double step) {
    if (!t) return;
    const double Rp = t->toolType == kToolDiameter12 ? t->shaftDiameter / 2 : t->radius;
    const double r = t->toolType == kRadiusMill ? t->cornerRadius : t->radius;
    const double a = (t->taperAngle + extraAngleDeg) * kDegree;
    g.angle = a;
    const double z0 = -r * std::sin(a), rho0 = Rp - r + r * std::cos(a);
    const double z1 = std::fabs(t->tipTop) < 1e-5 ? t->cutterTop : t->tipTop;
    const double zs[kToolSegPoints] = {z0,           z1,           t->chamferTop, t->cutterTop, t->cutterTop,
                                       t->stage2Top, t->stage1Top, t->stage1Top,  t->stage3Top, t->stage4Top};
    const double rs[kToolSegPoints] = {rho0,
                                       (z1 - z0) * std::tan(a) + rho0,
                                       t->shaftDiameter / 2,
                                       t->shaftDiameter / 2,
                                       t->stage2Diameter / 2,
                                       t->stage1Diameter / 2,
                                       t->stage1Diameter / 2,
                                       t->stage3Diameter / 2,
                                       t->stage4Diameter / 2,
                                       t->stage4Diameter / 2};
    for (int32_t i = 0; i < kToolSegPoints; i++) {
        g.z[i] = zs[i];
        g.rho[i] = rs[i];
        g.q[i] = zs[i] * zs[i] + rs[i] * rs[i];
    }
    for (int32_t i = 0; i + 1 < kToolSegPoints; i++) {
        g.m[i] = g.c[i] = g.onePlusM2[i] = g.mc[i] = g.mc2[i] = g.c2[i] = 0.0;
        if (g.z[i + 1] == g.z[i]) continue;
        g.m[i] = (g.rho[i + 1] - g.rho[i]) / (g.z[i + 1] - g.z[i]);
        g.c[i] = g.rho[i] - g.m[i] * g.z[i];
        g.onePlusM2[i] = 1 + g.m[i] * g.m[i];
        g.mc[i] = g.m[i] * g.c[i];
        g.mc2[i] = g.mc[i] * g.mc[i];
        g.c2[i] = g.c[i] * g.c[i];
    }
    g.tool = *t;
    if (t->toolType == kToolDiameter12) g.tool.radius = Rp;
    g.tool.taperAngle += extraAngleDeg;
    g.step = step;
    g.width = std::sqrt(std::max(0.0, (2 * Rp - step) * step));
    g.nearTip = 0.1 * Rp;
    toolSegShapeRefresh();
}

void toolSegShapeRefresh() {
    if (const ToolAssembly* a = toolAssemblyActive(); a && a->count >= 2)
        setShape(a->z, a->r, a->count, true, a->tolerance);
    else
        setShape(g.z, g.rho, kToolSegPoints, false, g.nearTip);
    buildTakeoffTable();
}

int32_t toolSegProfileSetMode(int32_t mode) {
    const int32_t previous = g.mode;
    g.mode = mode;
    if (ToolAssembly* a = toolAssemblyActive()) {
        a->queryMode = mode;
        if (mode == 2) a->r1 = a->r0;
    }
    return previous;
}

int32_t toolSegProfileMode() {
    return g.mode;
}

void meshSetCollFlag(int32_t flag) {
    g.collFlag = flag;
}

namespace {

// The swing angle of p, or with floor, only a lower bound of it (kToolSegAbove) when that bound
// already shows the angle is not below floor: most points of a query lie well above the smallest
// angle found, and their angle then needs no library arc functions.
int pointAngle(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
               const Vec3* p, int nearTipCheck, const double* floor, double* angle, bool tableAsked = false) {
    // vecDot3D's sum written out here: the call and the vector it needs in memory cost more than it.
    auto dot = [](const Vec3& u, const Vec3& v) { return u.x * v.x + u.y * v.y + u.z * v.z; };
    const SwingShape& sh = gShape;
    const Vec3 q{p->x - pivot->x, p->y - pivot->y, p->z - pivot->z};
    const double d2 = dot(q, q);
    const int32_t last = sh.n - 1;
    if (last < 1 || d2 > sh.q[last] || d2 < sh.q[0] || (sh.rising && d2 == sh.q[last])) return kToolSegOut;
    // The tabulated take-off first: most points lie far enough above the floor for it.
    if (floor && gTable.on && !tableAsked &&
        toolSegTakeoffTest(&gTable.view, pivot, direction, reference, swingAxis, p, *floor, angle) ==
            kTakeoffAbove)
        return kToolSegAbove;
    int32_t i = last - 1;
    if (sh.rising)
        while (i >= 0 && !(sh.q[i] <= d2 && d2 < sh.q[i + 1])) i--;
    else
        while (i >= 0 && !(std::min(sh.q[i], sh.q[i + 1]) <= d2 && d2 <= std::max(sh.q[i], sh.q[i + 1]))) i--;
    if (i < 0) return kToolSegOut;
    const double s = dot(q, *swingAxis);
    double z, rho;
    if (sh.z[i + 1] == sh.z[i]) {
        z = sh.z[i];
        if (d2 < z * z) return kToolSegOut;
        rho = std::sqrt(d2 - z * z);
        if (rho < std::min(sh.rho[i], sh.rho[i + 1]) || rho > std::max(sh.rho[i], sh.rho[i + 1]))
            return kToolSegOut;
    } else {
        if (sh.m[i] == 0.0 && std::fabs(s) > sh.c[i]) return kToolSegOut;
        const double disc = sh.mc2[i] - (sh.c2[i] - d2) * sh.onePlusM2[i];
        if (disc < 0.0) return kToolSegOut;
        z = (std::sqrt(disc) - sh.mc[i]) / sh.onePlusM2[i];
        rho = sh.m[i] * z + sh.c[i];
    }
    if (g.mode && nearTipCheck && z < sh.nearTip) return kToolSegNearTip;
    const double ratio = s / rho;
    if (!(std::fabs(ratio) <= 1.0)) return kToolSegOut;
    const double a = dot(q, *direction), b = dot(q, *reference);
    if (floor && rho > 0.0) {
        // The angle taken off is atan2(h, z) with h = rho sin(acos(ratio)) = rho sqrt(1 - ratio^2),
        // h grown past the rounding of either form; both arc tangents within 2e-8 of the library's,
        // bounded with ample slack.
        constexpr double kSlack = 1e-6;
        const double h = rho * (std::sqrt(std::max(0.0, 1.0 - ratio * ratio) + 1e-15) + 1e-15) * (1 + 1e-12);
        const double off = z > 0.0 ? toolSegAtan2Near(h, z) + kSlack : M_PI + kSlack;
        const double bound = toolSegAtan2Near(b, a) - kSlack - off - 1e-12;
        if (bound >= *floor) {
            *angle = bound;
            return kToolSegAbove;
        }
    }
    *angle = std::atan2(b, a) - std::atan2(rho * std::sin(std::acos(ratio)), z);
    return kToolSegReach;
}

// An upper bound of atan2(y, x) for the bounds below, far cheaper than the library's value.
double atan2Above(double y, double x) {
    const double t = toolSegAtan2Near(y, x);
    return std::isnan(t) ? std::atan2(y, x) : t + 1e-6;
}

}  // namespace

int toolSegPointAngle(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                      const Vec3* p, int nearTipCheck, double* angle) {
    return pointAngle(pivot, direction, reference, swingAxis, p, nearTipCheck, nullptr, angle);
}

int toolSegPointAngleFrom(const Vec3* pivot, const Vec3* direction, const Vec3* reference,
                          const Vec3* swingAxis, const Vec3* p, int nearTipCheck, double floor,
                          double* angle) {
    return pointAngle(pivot, direction, reference, swingAxis, p, nearTipCheck, &floor, angle);
}

int toolSegPointAngleUntabled(const Vec3* pivot, const Vec3* direction, const Vec3* reference,
                              const Vec3* swingAxis, const Vec3* p, int nearTipCheck, double floor,
                              double* angle) {
    return pointAngle(pivot, direction, reference, swingAxis, p, nearTipCheck, &floor, angle, true);
}

int toolSegPointTest(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                     const Vec3* p, double* ioAngle, double limit, int nearTipCheck) {
    double angle;
    const int r = pointAngle(pivot, direction, reference, swingAxis, p, nearTipCheck, ioAngle, &angle);
    if (r == kToolSegAbove) return kToolSegReach;
    if (r != kToolSegReach) return r;
    if (angle < *ioAngle && angle > -limit) {
        *ioAngle = angle;
        return kToolSegNewMin;
    }
    return kToolSegReach;
}

int toolSegPointInside(const Vec3* p, const Vec3* tip, const Vec3* axis) {
    const Vec3 d{p->x - tip->x, p->y - tip->y, p->z - tip->z};
    const double h = vecDot3D(&d, axis);
    if (h < g.z[0]) return 0;
    Vec3 c;
    cross3D(axis, &d, &c);
    const double q = vecLen3D(&c);
    if (h <= g.z[1]) {
        const double flank = radiusAt(0, h);
        const double margin = std::fabs(h - g.z[0]) < 0.2 ? 0.1 : g.step;
        if (q < flank - margin) return 1;
    }
    if (!g.collFlag) return 0;
    for (int32_t i = 1; i + 1 < kToolSegPoints; i++) {
        if (!(g.z[i + 1] > g.z[i]) || h < g.z[i] || h > g.z[i + 1]) continue;
        if (q - g.step < radiusAt(i, h)) return 1;
    }
    return 0;
}

int toolSegEdgeHits(const Vec3* a, const Vec3* b, const Vec3* tip, const Vec3* axis, Vec3* out) {
    if (!g.lineCone) return -1;
    Vec3 found{0, 0, 0};
    const int hit = g.lineCone(tip, axis, &g.tool, a, b, &found) ? 1 : 0;
    if (hit && out) *out = found;
    return hit;
}

void toolSegSetLineConeTest(ToolSegLineConeFn fn) {
    g.lineCone = fn;
}

void toolSegReach(double* inner2, double* outer2, double* maxRadius) {
    const SwingShape& sh = gShape;
    if (sh.n < 2) {
        *inner2 = *outer2 = *maxRadius = 0.0;
        return;
    }
    const double *q = sh.q, *z = sh.z, *r = sh.rho, *m = sh.m, *c = sh.c;
    const int32_t n = sh.n;
    // Both tests answer "out of reach" below the first point's and above the last point's distance.
    *inner2 = q[0];
    *outer2 = q[n - 1];
    // Where heights and distances rise together the sphere meets a segment between its ends; elsewhere
    // the line's radius is bounded over the whole reach.
    const double outer = std::sqrt(std::max(q[n - 1], 0.0));
    double radius = 0.0;
    for (int32_t i = 0; i < n; i++) radius = std::max(radius, std::fabs(r[i]));
    for (int32_t i = 0; i + 1 < n; i++)
        if (z[i + 1] != z[i] && !(z[i + 1] > z[i] && q[i + 1] >= q[i]))
            radius = std::max(radius, std::fabs(m[i]) * outer + std::fabs(c[i]));
    *maxRadius = radius;
}

double toolSegHalfAngleBound(double d2min, double d2max, double sMin) {
    // The test takes off atan2(sqrt(rho^2 - s^2), z) and finds no point farther than rho from the swing
    // plane: at least sMin off the plane a section reaches nothing where sMin exceeds its largest
    // radius, else it takes off at most the angle of that radius so reduced over the smallest height
    // where the heights are positive. Below the tip's height the angle grows as the point nears the
    // radius (up to pi at s = rho): there only pi bounds it. The slack keeps the bound clear of the
    // test's own rounding.
    const double sT = std::max(0.0, sMin * (1 - 1e-7) - 1e-9);
    auto offPlane = [&](double rhoMax, double zMin, double* seg) {
        const double zT = zMin - 1e-9 * (1 + std::fabs(zMin)), rT = rhoMax * (1 + 1e-9) + 1e-12;
        if (sT > rT) return false;
        if (zT <= 0.0)
            *seg = M_PI;
        else if (sT > 0.0)
            *seg = std::min(*seg, atan2Above(std::sqrt(rT * rT - sT * sT), zT));
        return true;
    };
    // Every segment whose distances enclose the range counts: the assembly's rule picks one of them.
    const SwingShape& sh = gShape;
    double bound = -1.0;
    for (int32_t i = 0; i + 1 < sh.n; i++) {
        const double lo = std::max(d2min, std::min(sh.q[i], sh.q[i + 1]));
        const double hi = std::min(d2max, std::max(sh.q[i], sh.q[i + 1]));
        if (lo > hi) continue;
        if (sh.z[i + 1] == sh.z[i]) {
            const double rho = std::max(std::fabs(sh.rho[i]), std::fabs(sh.rho[i + 1]));
            double seg = atan2Above(rho, sh.z[i]);
            if (offPlane(rho, sh.z[i], &seg)) bound = std::max(bound, seg);
            continue;
        }
        // The point the test takes moves along the line one way as the distance grows, so its polar
        // angle, its height and its radius are largest at one end of the distance range.
        double seg = -1.0, zMin = INFINITY, rhoMax = 0.0;
        for (const double d2 : {lo, hi}) {
            const double disc = sh.mc2[i] - (sh.c2[i] - d2) * sh.onePlusM2[i];
            if (disc < 0.0) return M_PI;
            const double z = (std::sqrt(disc) - sh.mc[i]) / sh.onePlusM2[i];
            const double rho = std::fabs(sh.m[i] * z + sh.c[i]);
            seg = std::max(seg, atan2Above(rho, z));
            zMin = std::min(zMin, z), rhoMax = std::max(rhoMax, rho);
        }
        if (offPlane(rhoMax, zMin, &seg)) bound = std::max(bound, seg);
    }
    return bound;
}

double toolSegTakeoffOver(const ToolSegTakeoff* t, double d2min, double d2max, double sMin) {
    // Distances outside the table's bins lie outside the profile's reach.
    const auto binOf = [t](double d2) {
        const int64_t key = std::bit_cast<uint32_t>(static_cast<float>(d2)) >> ToolSegTakeoff::kShift;
        return std::clamp<int64_t>(key - t->base, -1, t->bins);
    };
    if (!(d2min <= d2max) || !(sMin >= 0.0)) return NAN;
    const int64_t b0 = std::max<int64_t>(binOf(d2min), 0), b1 = std::min<int64_t>(binOf(d2max), t->bins - 1);
    if (sMin == 0.0 && b0 <= b1 && t == &gTable.view) {
        // Every bin takes its slot 0 (x = 0): the loop's maximum from the two overlapping ranges.
        const uint32_t k = static_cast<uint32_t>(std::bit_width(static_cast<uint64_t>(b1 - b0 + 1))) - 1;
        const float* level = &gTable.planeMax[size_t{k} * t->bins];
        const float off = planeMaxOf(level[b0], level[b1 - (int64_t{1} << k) + 1]);
        return std::isnan(off) ? NAN : std::max(-1.0, static_cast<double>(off));
    }
    double bound = -1.0;
    for (int64_t i = b0; i <= b1; i++) {
        const double x = sMin * sMin * static_cast<double>(t->invRadius2[i]);
        if (!(x < 1.0)) continue;  // farther from the plane than any radius at these distances
        const float off =
            t->bound[i * ToolSegTakeoff::kSlots + static_cast<int64_t>(x * ToolSegTakeoff::kSlots)];
        if (std::isnan(off)) return NAN;
        bound = std::max(bound, static_cast<double>(off));
    }
    return bound;
}

const ToolSegTakeoff* toolSegTakeoff() {
    return gTable.on ? &gTable.view : nullptr;
}

double toolSegMinRadius() {
    return gShape.n > 0 ? *std::min_element(gShape.rho, gShape.rho + gShape.n) : 0.0;
}

double toolSegSampleWidth() {
    return g.width;
}

void toolSegResetState() {
    g = SegTables{};
    gShape = SwingShape{};
    gTable = TakeoffTable{};
}
static const RunReset gRunReset(kRunResetCollision, "toolSeg", toolSegResetState);
