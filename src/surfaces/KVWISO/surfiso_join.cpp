// Iso lines: surface points, how neighbouring patches meet, and the spacing of parameter lines.
#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "KVWOG5/wogerr.h"
#include "kernel/base/msg.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/deboor.h"

namespace {

constexpr double kCornerBand = 0.001;  // loop points this close to a box side lie on it
constexpr double kParallel = 0.99;
constexpr int kMaxParamLines = 100000;  // a patch needing more lines at its spacing is refused

struct PatchFrame {
    bool ok = false;
    Vec2 corner[4];  // (umin, vmin), (umax, vmin), (umax, vmax), (umin, vmax)
    Vec3 point[4];
    Vec3 su[4], sv[4];
};

double absCos(const Vec2& a, const Vec2& b) {
    const double la = std::hypot(a.x, a.y), lb = std::hypot(b.x, b.y);
    if (la < 1e-6 || lb < 1e-6) return 1.0;
    return std::fabs(a.x * b.x + a.y * b.y) / (la * lb);
}

// The four corners of the outer loop, evaluated with their first derivatives.
PatchFrame patchFrame(const TrimSurface* s) {
    PatchFrame f;
    if (s->loopCount < 1 || s->loops[0].count < 3) return f;
    const TrimLoop& loop = s->loops[0];
    const int32_t n = loop.count;
    double umin = loop.points[0].x, umax = umin, vmin = loop.points[0].y, vmax = vmin;
    for (int32_t i = 1; i < n; ++i) {
        umin = std::fmin(umin, loop.points[i].x);
        umax = std::fmax(umax, loop.points[i].x);
        vmin = std::fmin(vmin, loop.points[i].y);
        vmax = std::fmax(vmax, loop.points[i].y);
    }
    std::vector<double> cosAt(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        const Vec2& p = loop.points[i];
        const Vec2& a = loop.points[(i + n - 1) % n];
        const Vec2& b = loop.points[(i + 1) % n];
        cosAt[static_cast<size_t>(i)] = absCos(Vec2{p.x - a.x, p.y - a.y}, Vec2{b.x - p.x, b.y - p.y});
    }
    const double cu[4] = {umin, umax, umax, umin}, cv[4] = {vmin, vmin, vmax, vmax};
    for (int k = 0; k < 4; ++k) {
        // Points on either side through the corner; the nearest to the corner, then the sharpest.
        int32_t best = -1;
        double bestDist = 0.0;
        for (int32_t i = 0; i < n; ++i) {
            const Vec2& p = loop.points[i];
            const double du = std::fabs(p.x - cu[k]), dv = std::fabs(p.y - cv[k]);
            if (du > kCornerBand && dv > kCornerBand) continue;
            const double d = du + dv;
            if (best < 0 || d < bestDist - 1e-12 ||
                (d <= bestDist + 1e-12 && cosAt[static_cast<size_t>(i)] < cosAt[static_cast<size_t>(best)])) {
                best = i;
                bestDist = d;
            }
        }
        if (best < 0) return f;
        f.corner[k] = loop.points[best];
        if (surfEvalPoint(s, f.corner[k].x, f.corner[k].y, &f.point[k]) != 0) return f;
        if (evalNurbsSurfDeriv(&s->surface, f.corner[k].x, f.corner[k].y, &f.su[k], &f.sv[k], nullptr) != 1)
            return f;
    }
    f.ok = true;
    return f;
}

double cosOf(const Vec3& a, const Vec3& b) {
    const double la = vecLen3D(&a), lb = vecLen3D(&b);
    if (la < 1e-12 || lb < 1e-12) return 0.0;
    return std::fabs(vecDot3D(&a, &b)) / (la * lb);
}

// Corner i of side s1 of a against corner j of side s2 of b: the same place, and the sides'
// own derivatives (u along sides 1 and 3, v along 2 and 4) parallel there.
bool isoSideAgrees(const PatchFrame& a, int s1, int i, const PatchFrame& b, int s2, int j, double gapTol) {
    if (dist3D(&a.point[i], &b.point[j]) > gapTol) return false;
    const Vec3& da = (s1 % 2 == 1) ? a.su[i] : a.sv[i];
    const Vec3& db = (s2 % 2 == 1) ? b.su[j] : b.sv[j];
    return cosOf(da, db) >= kParallel;
}

// The loop points of a patch in 3D; false for a collapsed side (points apart in the parameter
// plane but together in space) or a failed evaluation.
bool loopPoints3D(const TrimSurface* s, std::vector<Vec3>* out) {
    const TrimLoop& loop = s->loops[0];
    out->resize(static_cast<size_t>(loop.count));
    for (int32_t i = 0; i < loop.count; ++i)
        if (surfEvalPoint(s, loop.points[i].x, loop.points[i].y, &(*out)[static_cast<size_t>(i)]) != 0)
            return false;
    for (int32_t i = 1; i < loop.count; ++i) {
        const double du = loop.points[i].x - loop.points[i - 1].x,
                     dv = loop.points[i].y - loop.points[i - 1].y;
        if (du * du + dv * dv > 0.001 &&
            dist3D(&(*out)[static_cast<size_t>(i)], &(*out)[static_cast<size_t>(i - 1)]) < 1e-6)
            return false;
    }
    return true;
}

bool isoJoinConfirm(const TrimSurface* a, const TrimSurface* b, double gapTol) {
    std::vector<Vec3> pa, pb;
    if (!loopPoints3D(a, &pa) || !loopPoints3D(b, &pb)) return false;
    int near = 0;
    for (const Vec3& p : pa) {
        double best = HUGE_VAL;
        for (const Vec3& q : pb) best = std::fmin(best, dist3D(&p, &q));
        if (best <= gapTol) ++near;
    }
    return near >= 3;
}

// The parameter box of the loops, widened along the lines and narrowed across them.
bool isoParamRange(const TrimSurface* s, int32_t dir, double* lo, double* hi, double* clo, double* chi) {
    double umin = HUGE_VAL, umax = -HUGE_VAL, vmin = HUGE_VAL, vmax = -HUGE_VAL;
    for (int32_t l = 0; l < s->loopCount; ++l)
        for (int32_t i = 0; i < s->loops[l].count; ++i) {
            umin = std::fmin(umin, s->loops[l].points[i].x);
            umax = std::fmax(umax, s->loops[l].points[i].x);
            vmin = std::fmin(vmin, s->loops[l].points[i].y);
            vmax = std::fmax(vmax, s->loops[l].points[i].y);
        }
    if (!(umin <= umax && vmin <= vmax)) return false;
    const double du = 1e-6 * (umax - umin), dv = 1e-6 * (vmax - vmin);
    if (dir == kIsoAlongU) {
        *lo = umin - du, *hi = umax + du, *clo = vmin + dv, *chi = vmax - dv;
    } else {
        *lo = vmin - dv, *hi = vmax + dv, *clo = umin + du, *chi = umax - du;
    }
    return true;
}

Seg2D paramSeg(int32_t dir, double lo, double hi, double t) {
    return dir == kIsoAlongU ? Seg2D{lo, t, hi, t} : Seg2D{t, lo, t, hi};
}

double constOf(int32_t dir, const Seg2D& s) {
    return dir == kIsoAlongU ? s.y1 : s.x1;
}

// A parameter between a and b about one spacing from a on the surface, by halving: 1; -1 when the
// surface fails; 0 when no line lies 0.95 to 1 spacing from a, because the distance jumps by more than
// that between neighbouring parameters (an offset surface torn where its normal turns over).
int isoNextParam(const TrimSurface* patch, int32_t dir, double a, double b, double spacing, double* out) {
    if (dir != kIsoAlongU && dir != kIsoAlongV) return -1;
    double lo = a, hi = b, m = 0.5 * (a + b);
    for (int i = 0; i < 100; ++i) {
        m = 0.5 * (lo + hi);
        const double d = isoLineDistance(patch, dir, a, m);
        if (d < 0) return -1;
        if (d > 0.95 * spacing && d < spacing) {
            *out = m;
            return 1;
        }
        if (d >= spacing)
            hi = m;
        else
            lo = m;
    }
    return 0;
}

}  // namespace

int surfEvalPoint(const TrimSurface* surface, double u, double v, Vec3* out) {
    if (surface == nullptr || out == nullptr || evalNurbsSurfPoint(&surface->surface, u, v, out) != 1) {
        msgDouble(9, 568, "* Error: evaluating surf point", u);
        return -1;
    }
    if (surface->hasOffset) {
        Vec3 n{0, 0, 0};
        if (evalNurbsSurfDeriv(&surface->surface, u, v, nullptr, nullptr, &n) != 1) {
            msgDouble(9, 568, "* Error: evaluating surf point", u);
            return -1;
        }
        out->x += surface->offset * n.x;
        out->y += surface->offset * n.y;
        out->z += surface->offset * n.z;
    }
    return 0;
}

int surfJoinCode(const TrimSurface* a, const TrimSurface* b, double gapTol) {
    int code = 0;
    if (a != nullptr && b != nullptr) {
        const PatchFrame fa = patchFrame(a), fb = patchFrame(b);
        double longest = -1.0;
        for (int s1 = 1; fa.ok && fb.ok && s1 <= 4; ++s1) {
            const int a1 = s1 - 1, a2 = s1 % 4;
            const double length = dist3D(&fa.point[a1], &fa.point[a2]);
            for (int s2 = 1; s2 <= 4; ++s2) {
                const int b1 = s2 - 1, b2 = s2 % 4;
                const bool same = isoSideAgrees(fa, s1, a1, fb, s2, b1, gapTol) &&
                                  isoSideAgrees(fa, s1, a2, fb, s2, b2, gapTol);
                const bool crossed = isoSideAgrees(fa, s1, a1, fb, s2, b2, gapTol) &&
                                     isoSideAgrees(fa, s1, a2, fb, s2, b1, gapTol);
                if ((same || crossed) && length > longest) {
                    longest = length;
                    code = 10 * s1 + s2;
                }
            }
        }
        if (code != 0 && !isoJoinConfirm(a, b, gapTol)) code = 0;
    }
    if (code == 0) msgDouble(9, 897, "* Luecke zu gross\n", gapTol);
    return code;
}

double isoLineDistance(const TrimSurface* patch, int32_t dir, double t0, double t1) {
    if (dir != kIsoAlongU && dir != kIsoAlongV) return -1.0;
    double lo, hi, clo, chi;
    if (patch == nullptr || !isoParamRange(patch, dir, &lo, &hi, &clo, &chi)) return -1.0;
    double best = 0.0;
    for (int i = 0; i < 5; ++i) {
        const double s = lo + (hi - lo) * i / 4.0;
        double length = 0.0;
        Vec3 prev{};
        for (int k = 0; k <= 4; ++k) {
            const double t = t0 + (t1 - t0) * k / 4.0;
            Vec3 p;
            const int rc =
                dir == kIsoAlongU ? surfEvalPoint(patch, s, t, &p) : surfEvalPoint(patch, t, s, &p);
            if (rc != 0) return -1.0;
            if (k > 0) length += dist3D(&prev, &p);
            prev = p;
        }
        best = std::fmax(best, length);
    }
    return best;
}

namespace {

int paramsTwoSided(const TrimSurface* patch, int32_t dir, double spacing, Seg2D** out) {
    double lo, hi, clo, chi;
    if (patch == nullptr || (dir != kIsoAlongU && dir != kIsoAlongV) || !(spacing > 0.0) ||
        !isoParamRange(patch, dir, &lo, &hi, &clo, &chi))
        return -1;
    std::vector<Seg2D> lines = {paramSeg(dir, lo, hi, clo), paramSeg(dir, lo, hi, chi)};
    // The lines lie about a spacing apart: a patch that would need more than the limit is refused
    // before the search (a bisection per line) is run, and so is one the search fills without closing
    // the gap, rather than returning lines with a gap in the middle. A line that cannot be placed a
    // spacing on would be searched again and again (the same parameter, up to the limit): refused.
    const double across = isoLineDistance(patch, dir, clo, chi);
    if (across < 0) return -1;
    if (!(across / spacing < kMaxParamLines)) return -2;
    for (;;) {
        if (static_cast<int>(lines.size()) >= kMaxParamLines) return -2;
        const double prev = constOf(dir, lines[lines.size() - 2]), last = constOf(dir, lines.back());
        const double d = isoLineDistance(patch, dir, prev, last);
        if (d < 0) return -1;
        if (d < spacing) break;
        if (d <= 2 * spacing) {
            lines.push_back(paramSeg(dir, lo, hi, 0.5 * (prev + last)));
            break;
        }
        double t;
        const int found = isoNextParam(patch, dir, prev, last, spacing, &t);
        if (found < 0) return -1;
        if (found == 0) return -2;
        lines.push_back(paramSeg(dir, lo, hi, t));
    }
    std::stable_sort(lines.begin(), lines.end(),
                     [dir](const Seg2D& a, const Seg2D& b) { return constOf(dir, a) < constOf(dir, b); });
    auto* copy = static_cast<Seg2D*>(std::malloc(sizeof(Seg2D) * lines.size()));
    if (copy == nullptr) {
        wogError(-1, "SURF_ISO", __LINE__);
        return -1;
    }
    std::copy(lines.begin(), lines.end(), copy);
    *out = copy;
    return static_cast<int>(lines.size());
}

}  // namespace

int isoParamsTwoSided(const TrimSurface* patch, int32_t dir, double spacing, Seg2D** out) {
    if (out == nullptr) return -1;
    *out = nullptr;
    // The lines are gathered in a vector: short of memory for it, the patch fails like any other
    // allocation here, rather than throwing through the caller.
    try {
        return paramsTwoSided(patch, dir, spacing, out);
    } catch (const std::bad_alloc&) {
        wogError(-1, "SURF_ISO", __LINE__);
        return -1;
    }
}
