#include "kernel/ncout/curveout.h"

#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "geometry/solve.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/ncout.h"

namespace {

constexpr int kArcSamples = 20;  // intervals per segment for its arc-length table
constexpr const char* kNotCubic = "Spline ist nicht kubisch : %d";

void line(const char* format, ...) __attribute__((format(printf, 1, 2)));
void line(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof text, format, args);
    va_end(args);
    ncWriteComment(text);
}

void coefLine(const double c[4]) {
    line("%.4lf %.4lf %.4lf %.4lf", c[0], c[1], c[2], c[3]);
}

bool cubic(const PolySeg& seg) {
    return seg.coefCount == 4 && seg.cx && seg.cy && seg.cz;
}

PolyCurve* fit(const PointArray* points) {
    std::vector<Vec3> p(static_cast<size_t>(points->count));
    for (int32_t i = 0; i < points->count; ++i)
        p[i] = {points->data[3 * i], points->data[3 * i + 1], points->data[3 * i + 2]};
    return splineThroughPoints(p.data(), points->count, kSplineChord);
}

// t(s) on [0, L] with t(0) = 0 and t(L) = 1, least squares through the
// samples. The fit runs in s / L, so that the power sums stay near 1 whatever
// the segment's length, and the end condition enters by a Lagrange multiplier.
void fitArcLength(const double* s, const double* t, double length, double out[4]) {
    out[0] = 0.0;
    out[1] = 1.0 / length;
    out[2] = out[3] = 0.0;
    double sums[5] = {};  // powers 2..6 of s / L
    double rhs[3] = {};
    for (int i = 0; i <= kArcSamples; ++i) {
        double sigma = s[i] / length, p = sigma * sigma;
        for (double& sum : sums) {
            sum += p;
            p *= sigma;
        }
        double q = sigma;
        for (double& r : rhs) {
            r += t[i] * q;
            q *= sigma;
        }
    }
    double m[9];
    if (hankelMatrix(sums, 5, m, 3) != 0 || gaussJordan(m, 3, rhs, 1) != 0) return;  // straight t = s / L
    // m is the inverse now: b = b_ls + M^-1 c (1 - c.b_ls) / (c.M^-1 c), c = (1, 1, 1).
    double mc[3], cmc = 0.0, cb = rhs[0] + rhs[1] + rhs[2];
    for (int j = 0; j < 3; ++j) {
        mc[j] = m[3 * j] + m[3 * j + 1] + m[3 * j + 2];
        cmc += mc[j];
    }
    if (std::fabs(cmc) < 1e-300) return;
    double scale = 1.0;
    for (int j = 0; j < 3; ++j) {
        scale *= length;
        out[j + 1] = (rhs[j] + mc[j] * (1.0 - cb) / cmc) / scale;
    }
}

}  // namespace

SplineSet* splineToPoly(const PolyCurve* curve) {
    if (!curve || curve->count < 1 || !curve->segs) return nullptr;
    auto* set = static_cast<SplineSet*>(calloc(1, sizeof(SplineSet)));
    if (!set) return nullptr;
    set->params = static_cast<double*>(malloc(sizeof(double) * (static_cast<size_t>(curve->count) + 1)));
    set->entries = static_cast<ArcLenEntry*>(calloc(static_cast<size_t>(curve->count), sizeof(ArcLenEntry)));
    if (!set->params || !set->entries) {
        splineSetFree(set);
        return nullptr;
    }
    set->count = curve->count;
    for (int32_t k = 0; k <= curve->count; ++k) set->params[k] = curve->params ? curve->params[k] : k;
    for (int32_t k = 0; k < curve->count; ++k) {
        ArcLenEntry& e = set->entries[k];
        e.coef = static_cast<double*>(calloc(4, sizeof(double)));
        if (!e.coef) {
            splineSetFree(set);
            return nullptr;
        }
        e.order = 4;
        e.start = 0.0;
        double s[kArcSamples + 1], t[kArcSamples + 1];
        Vec3 prev{}, p{};
        s[0] = 0.0;
        for (int i = 0; i <= kArcSamples; ++i) {
            t[i] = static_cast<double>(i) / kArcSamples;
            polySegEval3D(&curve->segs[k], t[i], &p);
            if (i > 0) s[i] = s[i - 1] + dist3D(&prev, &p);
            prev = p;
        }
        e.length = s[kArcSamples];
        if (e.length > 0.0) fitArcLength(s, t, e.length, e.coef);
    }
    return set;
}

int writeDSpline(const PolyCurve* curve, const SplineSet* group, double feed) {
    if (!curve || !curve->segs || !group || !group->entries || group->count < curve->count) return -1;
    for (int32_t k = 0; k < curve->count; ++k) line("#D_SPLINE[%d,%d]", 2 * k, 2 * k + 1);
    line("(------ DATA -----)");
    static const double kZero[4] = {0, 0, 0, 0}, kUnit[4] = {1, 0, 0, 0};
    for (int32_t k = 0; k < curve->count; ++k) {
        const PolySeg& seg = curve->segs[k];
        const ArcLenEntry& e = group->entries[k];
        if (!cubic(seg)) {
            msgPrintf(9, kNotCubic, seg.coefCount);
            return 1;
        }
        line("%d", 2 * k);
        line("t%.4lf", 0.0);
        coefLine(seg.cx);
        coefLine(seg.cy);
        coefLine(seg.cz);
        line("t%.4lf", 1.0);
        line("%.4lf", e.length);
        coefLine(e.coef ? e.coef : kZero);
        line("F%.4lf", feed);
        line("%d", 2 * k + 1);
        coefLine(kZero);
        coefLine(kZero);
        coefLine(kUnit);
    }
    return 1;
}

int writePolySpline(const PolyCurve* curve) {
    if (!curve || !curve->segs) return -1;
    for (int32_t k = 0; k < curve->count; ++k) {
        const PolySeg& seg = curve->segs[k];
        if (!cubic(seg)) {
            msgPrintf(9, kNotCubic, seg.coefCount);
            return 1;
        }
        if (k == 0) line("G1 X%.3lf Y%.3lf Z%.3lf", seg.cx[0], seg.cy[0], seg.cz[0]);
        char parts[3][96];
        const double* c[3] = {seg.cx, seg.cy, seg.cz};
        const char axis[3] = {'X', 'Y', 'Z'};
        for (int a = 0; a < 3; ++a)
            snprintf(parts[a], sizeof parts[a], "PO[%c]=(%7.4lf,%7.4lf,%7.4lf)", axis[a],
                     c[a][0] + c[a][1] + c[a][2] + c[a][3], c[a][2], c[a][3]);
        line("%s%s%s%s", k == 0 ? "POLY " : "", parts[0], parts[1], parts[2]);
    }
    return 1;
}

int writeCurveOutput(const PointArray* points, double feed) {
    if (!points || !points->data) return kCurveOutMissing;
    PolyCurve* curve = fit(points);
    if (!curve) return kCurveOutNothing;
    SplineSet* group = splineToPoly(curve);
    if (!group) {
        polyCurveFree(curve);
        return kCurveOutNothing;
    }
    writeDSpline(curve, group, feed);
    splineSetFree(group);
    polyCurveFree(curve);
    return kCurveOutOk;
}

int writePolyOutput(const PointArray* points, double) {
    if (!points || !points->data) return kCurveOutMissing;
    PolyCurve* curve = fit(points);
    if (!curve) return kCurveOutNothing;
    writePolySpline(curve);
    polyCurveFree(curve);
    return kCurveOutOk;
}
