// Blade contour pairs.
#include "plunge/contourpair.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "kernel/base/constants.h"
#include "plunge/cycparams.h"

namespace {

constexpr double kFoldAngle = 2.443460952792061;  // 140 degrees
constexpr double kBentEnds = 0.4363;              // 25 degrees

double rOf(const Vec3& p) {
    return std::sqrt(p.x * p.x + p.y * p.y);
}

void orient(Plist3D* l) {
    if (l->count < 2) return;
    const Vec3 a = l->points[0], b = l->points[l->count - 1];
    if (rOf(b) < 0.6 * rOf(a) || b.z - 1.0 > a.z) reversePlist3D(l);
}

int crossingAt(const ContourPair* pair, const Profile2D* profile, double t, Vec3* x) {
    Vec3 a, b;
    if (evalContourPair(pair, t, &a, &b) != 1) return -1;
    return crossSegmentProfileTwice(profile, &a, &b, x);
}

}  // namespace

ContourPair* buildBladeContourPair(const ProfileCurve* a, const ProfileCurve* b) {
    auto* pair = static_cast<ContourPair*>(std::calloc(1, sizeof(ContourPair)));
    if (pair == nullptr) return nullptr;
    pair->first = plist3DFromProfileCurve(a);
    pair->second = plist3DFromProfileCurve(b);
    if (pair->first == nullptr || pair->second == nullptr) {
        freeContourPair(pair);
        return nullptr;
    }
    orient(pair->first);
    orient(pair->second);
    if (cycleParams()->impReverse) {
        reversePlist3D(pair->first);
        reversePlist3D(pair->second);
    }
    return pair;
}

void freeContourPair(ContourPair* pair) {
    if (pair == nullptr) return;
    freePlist3D(pair->first);
    freePlist3D(pair->second);
    std::free(pair);
}

void freeContourTriple(ContourTriple* t) {
    if (t == nullptr) return;
    for (Plist3D* l : t->slot) freePlist3D(l);
    std::free(t);
}

ContourPair* twistContourPair(const ContourPair* pair, double a1, double a2) {
    if (pair == nullptr) return nullptr;
    auto* out = static_cast<ContourPair*>(std::calloc(1, sizeof(ContourPair)));
    if (out == nullptr) return nullptr;
    out->first = copyPlist3D(pair->first);
    out->second = copyPlist3D(pair->second);
    if (out->first == nullptr || out->second == nullptr) {
        freeContourPair(out);
        return nullptr;
    }
    for (Plist3D* l : {out->first, out->second}) {
        const double L = l->count > 0 ? l->param[l->count - 1] : 0.0;
        for (int32_t i = 0; i < l->count; ++i) {
            const double w = (L > 0.0 ? (1.0 - l->param[i] / L) : 1.0) * a2 + a1;
            const Vec3 p = l->points[i];
            l->points[i] = {p.x * std::cos(w) - p.y * std::sin(w), p.x * std::sin(w) + p.y * std::cos(w),
                            p.z};
        }
    }
    return out;
}

ContourPair* copyContourPair(const ContourPair* pair) {
    return twistContourPair(pair, 0.0, 0.0);
}

int normContourPairParams(ContourPair* pair) {
    if (pair == nullptr || pair->first == nullptr || pair->second == nullptr) return -1;
    reparamPlist3D(pair->first);
    reparamPlist3D(pair->second);
    const Plist3D* a = pair->first;
    Plist3D* b = pair->second;
    const double la = a->count ? a->param[a->count - 1] : 0.0, lb = b->count ? b->param[b->count - 1] : 0.0;
    if (lb > 0.0)
        for (int32_t i = 0; i < b->count; ++i) b->param[i] *= la / lb;
    return 1;
}

int evalContourPair(const ContourPair* pair, double s, Vec3* onSecond, Vec3* onFirst) {
    if (pair == nullptr || evalPlist3D(pair->first, s, onFirst) < 0) return -1;
    return evalPlist3D(pair->second, s, onSecond) < 0 ? -1 : 1;
}

double contourPairLength(const ContourPair* pair) {
    const Plist3D* l = pair->first;
    return l->count > 0 ? l->param[l->count - 1] : 0.0;
}

int contourPairEndAngles(const ContourPair* pair, double* start, double* end) {
    Vec3 a0, b0, a1, b1;
    const Plist3D* f = pair->first;
    const Plist3D* s = pair->second;
    if (f->count < 2 || s->count < 2) return -1;
    if (tangentPlist3D(f, f->param[0], &a0) != 1 || tangentPlist3D(s, s->param[0], &b0) != 1 ||
        tangentPlist3D(f, f->param[f->count - 1], &a1) != 1 ||
        tangentPlist3D(s, s->param[s->count - 1], &b1) != 1)
        return -1;
    *start = acosClamped(vecDot3D(&a0, &b0));
    *end = acosClamped(vecDot3D(&a1, &b1));
    return 1;
}

double contourStartSlope(const Plist3D* l) {
    if (l == nullptr || l->count < 2) return 90.0;
    const Vec3 p0 = l->points[0], p1 = l->points[1];
    const double d = dist3D(&p0, &p1);
    if (d < 1e-5) return 90.0;
    return 90.0 - acosClamped((p0.z - p1.z) / d) * kRadToDeg;
}

int trimContourPairFolds(ContourPair* pair) {
    if (pair == nullptr) return 0;
    const int a = trimPlist3DAtFold(pair->first, kFoldAngle);
    const int b = trimPlist3DAtFold(pair->second, kFoldAngle);
    return (a == 1 || b == 1) ? 1 : 0;
}

int addCurvedLead(Plist3D* l, double d1, double d2) {
    if (l == nullptr || l->count < 2) return -1;
    const Vec3 p0 = l->points[0], p1 = l->points[1];
    const double len = dist3D(&p0, &p1), r = rOf(p0);
    if (len < 1e-5 || r < 1e-5) return -1;
    const Vec3 u{(p0.x - p1.x) / len, (p0.y - p1.y) / len, (p0.z - p1.z) / len};
    const Vec3 w{p0.x / r, p0.y / r, 0.0};
    for (int k = 1; k <= 8; ++k) {
        const double t = k / 8.0, t4 = t * t * t * t;
        const Vec3 p{p0.x + t * d1 * u.x - d2 * t4 * w.x, p0.y + t * d1 * u.y - d2 * t4 * w.y,
                     p0.z + t * d1 * u.z + d1 * t4};
        if (insertPlist3D(l, l->param[0] - 1.0, &p) < 0) return -1;
    }
    return reparamPlist3D(l);
}

int prepareBladeContours(ContourPair* pair, double e) {
    if (pair == nullptr) return -1;
    double a0 = 0.0, a1 = 0.0;
    if (contourPairEndAngles(pair, &a0, &a1) == 1 && (a0 > kBentEnds || a1 > kBentEnds)) {
        const Plist3D* s = pair->second;
        e = std::min(e, 0.38 * (s->count ? s->param[s->count - 1] : 0.0));
    }
    const double leadDrop[2] = {e * 0.1, 0.0};
    Plist3D* lists[2] = {pair->first, pair->second};
    for (int k = 0; k < 2; ++k) {
        if (contourStartSlope(lists[k]) >= 40.0) {
            extendPlist3DSteps(lists[k], e, 10, 3);
        } else {
            // A lead that could not be added (memory short) must not pass for a list without one; a list
            // without a first segment, or starting on the axis, takes none.
            const Plist3D* l = lists[k];
            const bool leads = l != nullptr && l->count >= 2 &&
                               dist3D(&l->points[0], &l->points[1]) >= 1e-5 && rOf(l->points[0]) >= 1e-5;
            if (leads && addCurvedLead(lists[k], e * 0.5, leadDrop[k]) < 0) return -1;
            extendPlist3DSteps(lists[k], e, 10, 2);
        }
    }
    return 1;
}

int bladeCrossingAtProfile(const ContourPair* pair, const Profile2D* profile, double s, Vec3* out) {
    ProfileLineCross* cross = profileLineCrossCreate(profile);
    const int rc = bladeCrossingAt(pair, cross, s, out);
    profileLineCrossFree(cross);
    return rc;
}

int bladeCrossingAt(const ContourPair* pair, const ProfileLineCross* cross, double s, Vec3* out) {
    Vec3 a, b;
    if (evalContourPair(pair, s, &a, &b) != 1) return -1;
    if (crossLineProfilePrepared(cross, &a, &b, out, 10.0) == 1) return 1;
    *out = {0.5 * (a.x + b.x), 0.5 * (a.y + b.y), 0.5 * (a.z + b.z)};
    return -1;
}

int bladePointAtProfile(const ContourPair* pair, const Profile2D* profile, double s, Vec3* out) {
    Vec2 P;
    if (pair == nullptr || profile == nullptr || evalProfile2D(profile, s, &P) < 0) return -1;
    const double Lc = contourPairLength(pair);
    const bool firstHalf = s <= 0.5 * profile->param[profile->count - 1];
    Vec3 X{0.0, 0.0, 0.0};
    auto fallback = [&]() {
        const Vec2 xy{X.x, X.y};
        meridianToWorld(&P, polarAngle2D(&xy), out);
        return 1;
    };
    double tLo = -1.0, tHi = -1.0;
    for (int k = 0; k * Lc / 10.0 < Lc / 2.0; ++k)
        if (crossingAt(pair, profile, k * Lc / 10.0, &X) == 1) {
            tLo = k * Lc / 10.0;
            break;
        }
    if (tLo < 0.0 || (firstHalf ? X.z < P.y : rOf(X) > P.x)) return fallback();
    for (double t = Lc; t > Lc / 2.0; t -= 1.0)
        if (crossingAt(pair, profile, t, &X) == 1) {
            tHi = t;
            break;
        }
    if (tHi < 0.0 || (firstHalf ? X.z > P.y : rOf(X) < P.x)) return fallback();
    while (tHi - tLo > 0.0001) {
        const double t = 0.5 * (tLo + tHi);
        crossingAt(pair, profile, t, &X);
        const bool toLo = firstHalf ? X.z > P.y : rOf(X) < P.x;
        (toLo ? tLo : tHi) = t;
    }
    *out = X;
    return 1;
}
