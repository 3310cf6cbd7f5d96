#include "avoidance/approach.h"

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "avoidance/avoidtilt.h"
#include "collision/chkmodel.h"
#include "kernel/base/constants.h"

namespace {

constexpr double kTol = 1e-5;
constexpr uint16_t kLoopFlag = 1;

Vec3 add(const Vec3& a, const Vec3& b) {
    return Vec3{a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 sub(const Vec3& a, const Vec3& b) {
    return Vec3{a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 scale(const Vec3& a, double f) {
    return Vec3{a.x * f, a.y * f, a.z * f};
}
double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return Vec3{a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
bool unit(const Vec3& v, Vec3* out) {
    const double n = std::sqrt(dot(v, v));
    if (!(n >= kTol)) return false;
    *out = scale(v, 1.0 / n);
    return true;
}

// v turned by the angle about the unit axis k (Rodrigues).
Vec3 rotateAbout(const Vec3& v, const Vec3& k, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    return add(add(scale(v, c), scale(cross(k, v), s)), scale(k, dot(k, v) * (1 - c)));
}

// Unit radial direction of p about the axis through the origin.
Vec3 radialDir(const Vec3& axis, const Vec3& p) {
    Vec3 out{}, foot{};
    projectPointOnAxis(&axis, 1.0, &p, &out, &foot);
    return sub(out, foot);
}

double angleAbout(const Vec3& axis, const Vec3& from, const Vec3& to) {
    return std::atan2(dot(axis, cross(from, to)), dot(from, to));
}

// Axes between i and j turned with their points about the part axis: each end's axis is carried round
// to the point, and the two are blended by the point's share of the length.
void travelAxisTurn(Plist* L, int32_t i, int32_t j, const Vec3& axis) {
    const double ti = L->parameters[i], tj = L->parameters[j];
    const Vec3 ri = radialDir(axis, L->points[i]);
    const double thetaJ = angleAbout(axis, ri, radialDir(axis, L->points[j]));
    const Vec3 ai = L->vectors[i], aj = L->vectors[j];
    for (int32_t k = i + 1; k < j; k++) {
        const double f = std::fabs(tj - ti) < 1e-12 ? 0.5 : (L->parameters[k] - ti) / (tj - ti);
        const double theta = angleAbout(axis, ri, radialDir(axis, L->points[k]));
        const Vec3 from = rotateAbout(ai, axis, theta), to = rotateAbout(aj, axis, theta - thetaJ);
        if (!unit(add(scale(from, 1 - f), scale(to, f)), &L->vectors[k])) L->vectors[k] = from;
    }
}

Plist* listFrom(const std::vector<Vec3>& pts, const std::vector<Vec3>& axes) {
    Plist* L = plistCreate(static_cast<int32_t>(pts.size()), 1);
    if (L && !L->vectors) {  // made without its axes when memory is short: a loop needs them
        plistFree(L);
        return nullptr;
    }
    if (!L) return nullptr;
    double t = 0.0;
    for (size_t k = 0; k < pts.size(); k++) {
        if (k > 0) t += std::sqrt(dot(sub(pts[k], pts[k - 1]), sub(pts[k], pts[k - 1])));
        if (plistAppend(L, t, &pts[k], kLoopFlag, &axes[k], 0) < 0) {
            plistFree(L);
            return nullptr;
        }
    }
    return L;
}

}  // namespace

int projectDirOnPlane(const Vec3* planePoint, const Vec3* n, Vec3* d) {
    const Vec3 q = add(*planePoint, *d);
    const Vec3 onPlane = sub(q, scale(*n, dot(sub(q, *planePoint), *n)));
    Vec3 u{};
    if (!unit(sub(onPlane, *planePoint), &u)) return -1;
    *d = u;
    return 1;
}

int projectPointOnAxis(const Vec3* axis, double r, const Vec3* p, Vec3* out, Vec3* foot) {
    *foot = scale(*axis, dot(*p, *axis));
    Vec3 dir{};
    if (unit(sub(*p, *foot), &dir)) {
        *out = add(*foot, scale(dir, r));
        return 0;
    }
    // On the axis any direction will do; -x (or -y about an x axis) keeps the choice reproducible.
    const Vec3 mx{-1, 0, 0}, my{0, -1, 0};
    if (!unit(sub(mx, scale(*axis, dot(mx, *axis))), &dir)) unit(sub(my, scale(*axis, dot(my, *axis))), &dir);
    *out = add(*foot, scale(dir, r));
    return 1;
}

double pointDistDiff3D(const Vec3* a, const Vec3* b, const Vec3* foot) {
    return dist3D(b, foot) - dist3D(a, foot);
}

Plist* approachSearchPoints(const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* a0, const Vec3* a1,
                            double R, double lift, double s) {
    if (!p0 || !p1 || !a0 || !a1 || !(s > 0) || !std::isfinite(R)) return nullptr;
    const double steps = std::min(std::trunc(kTwoPi / s), static_cast<double>(kPlistMaxPoints - 8));
    const int32_t n = 1 + static_cast<int32_t>(steps);
    Vec3 d{}, m{}, c{};
    if (!unit(sub(*p1, *p0), &d)) return nullptr;
    if (p2) {
        Vec3 d2{};
        if (!unit(sub(*p2, *p1), &d2) || !unit(add(d, d2), &d)) return nullptr;
    }
    if (!unit(add(*a0, *a1), &m) || !unit(sub(m, scale(d, dot(m, d))), &c)) return nullptr;
    const Vec3 centre = add(*p1, scale(c, R));
    const int32_t q1 = n / 4, q3 = 3 * n / 4;
    const bool lifted = lift >= kTol;
    const auto at = [&](double k, double up) {
        const double th = kTwoPi * k / n;
        return add(add(centre, add(scale(c, -R * std::cos(th)), scale(d, R * std::sin(th)))), scale(m, up));
    };
    std::vector<Vec3> pts, axes;
    for (int32_t k = 0; k <= n; k++) {
        const bool raised = lifted && k >= q1 && k <= q3;
        // Halfway points ease the tool onto the raised stretch and off it again.
        if (lifted && k == q1 && k > 0) pts.push_back(at(k - 0.5, lift / 2)), axes.push_back(*a0);
        pts.push_back(at(k, raised ? lift : 0.0));
        axes.push_back(k < q1 ? *a0 : *a1);
        if (lifted && k == q3 && k < n) pts.push_back(at(k + 0.5, lift / 2)), axes.push_back(*a1);
    }
    pts.back() = *p1;
    pts.front() = *p1;
    return listFrom(pts, axes);
}

Plist* approachMacroSearch(const Vec3* p0, const Vec3* p1, const Vec3* p2, const Vec3* a0, const Vec3* a1,
                           double R, double lift, const CheckModel* model, const AvoidContext* ctx) {
    if (!ctx) return nullptr;
    Plist* loop = approachSearchPoints(p0, p1, p2, a0, a1, R, lift, ctx->arcStepAngle);
    if (!loop) return nullptr;
    if (ctx->collCheck && loop->count > 4) {
        CheckModel* work = model ? chkModelClone(model) : nullptr;
        if (!work) {
            plistFree(loop);
            return nullptr;
        }
        // A thinner tool: the loop may graze the surface the cut left, not dig into it.
        const double step = work->tolerance;
        if (work->tool && work->tool->radius > 3 * step) chkModelOffsetTool(work, -3 * step);
        bool rejected = false;
        for (int32_t i = 2; i <= loop->count - 3 && !rejected; i++) {
            Vec3 p = loop->points[i], contact{};
            int32_t cls = 0;
            if (chkModelPlaceTool(work, &p, &contact, &cls) && p.z - loop->points[i].z > 3 * step)
                rejected = true;
        }
        chkModelFree(work);
        if (rejected) {
            plistFree(loop);
            return nullptr;
        }
    }
    if (ctx->obstacle) {
        const int32_t before = loop->count;
        const int r = avoidCollisionRun(ctx, loop, ctx->avoidColl);
        if (r < 0 || loop->count < before) {
            plistFree(loop);
            return nullptr;
        }
    }
    return loop;
}

int approachAlongSurface(Plist* L, const Vec3* partAxis, const Vec3* A, const Vec3* B, const Vec3* aA,
                         const Vec3* aB, double s) {
    Vec3 axis{};
    if (!L || !A || !B || !partAxis || !unit(*partAxis, &axis) || !(s > 0)) return -1;
    Vec3 outA{}, footA{}, outB{}, footB{};
    projectPointOnAxis(&axis, 1.0, A, &outA, &footA);
    projectPointOnAxis(&axis, 1.0, B, &outB, &footB);
    const Vec3 dirA = sub(outA, footA), dirB = sub(outB, footB);
    const double rA = dist3D(A, &footA), rB = dist3D(B, &footB);
    const double phi = angleAbout(axis, dirA, dirB);
    const int32_t steps = std::max<int32_t>(1, static_cast<int32_t>(std::min(std::fabs(phi) / s, 40000.0)));
    const int32_t first = L->count;
    double t = first > 0 ? L->parameters[first - 1] : 0.0;
    Vec3 prev = *A;
    for (int32_t k = 0; k <= steps; k++) {
        const double f = static_cast<double>(k) / steps;
        Vec3 p = k == 0 ? *A : k == steps ? *B : Vec3{};
        if (k > 0 && k < steps)
            p = add(add(scale(footA, 1 - f), scale(footB, f)),
                    scale(rotateAbout(dirA, axis, f * phi), (1 - f) * rA + f * rB));
        if (k > 0) t += dist3D(&prev, &p);
        if (plistAppend(L, t, &p, kLoopFlag, k == steps ? aB : aA, 0) < 0) return -1;
        prev = p;
    }
    if (!L->vectors || !aA || !aB) return 0;
    const int32_t last = L->count - 1;
    if (dot(*aA, *aB) < -0.99999 && last - first > 1) {
        // Opposite axes have no turn between them: pass through the outward radial direction.
        const int32_t mid = first + (last - first) / 2;
        L->vectors[mid] = radialDir(axis, L->points[mid]);
        travelAxisTurn(L, first, mid, axis);
        travelAxisTurn(L, mid, last, axis);
    } else {
        travelAxisTurn(L, first, last, axis);
    }
    return 0;
}

int plistReplaceRange(Plist* L, int32_t i, int32_t j, const Plist* S) {
    if (!L || !S || i < 0 || j < i || j >= L->count) return -1;
    const int32_t n = L->count - (j - i + 1) + S->count;
    if (n > kPlistMaxPoints) return -1;
    Plist* out = plistAlloc(std::max(n, 1), L->vectors != nullptr);
    if (out && L->vectors && !out->vectors) {  // short of memory for them: the axes would be lost
        plistFree(out);
        out = nullptr;
    }
    if (!out) return -1;
    const double ti = L->parameters[i], tj = L->parameters[j];
    const double s0 = S->count > 0 ? S->parameters[0] : 0.0,
                 s1 = S->count > 0 ? S->parameters[S->count - 1] : 0.0;
    bool ok = true;
    const auto copy = [&](const Plist* from, int32_t k, double t) {
        const Vec3* v = from->vectors ? &from->vectors[k] : nullptr;
        ok = ok && plistAppend(out, t, &from->points[k], from->flags[k], v,
                               from->vectors ? from->bytes[k] : 0) >= 0;
    };
    for (int32_t k = 0; k < i; k++) copy(L, k, L->parameters[k]);
    for (int32_t k = 0; k < S->count; k++) {
        const double f = std::fabs(s1 - s0) > 1e-12 ? (S->parameters[k] - s0) / (s1 - s0)
                                                    : (S->count > 1 ? double(k) / (S->count - 1) : 0.5);
        copy(S, k, ti + f * (tj - ti));
    }
    for (int32_t k = j + 1; k < L->count; k++) copy(L, k, L->parameters[k]);
    if (!ok) {
        plistFree(out);
        return -1;
    }
    const int32_t direction = L->direction;
    std::swap(*L, *out);
    L->direction = direction;
    plistFree(out);
    return 1;
}
