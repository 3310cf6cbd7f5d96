// 3D segment distances and spike removal.
#include "geometry/seg3d.h"

#include <cmath>
#include <cstdlib>

#include "geometry/mat4.h"

namespace {

constexpr double kTol = 1e-5;
constexpr double kSpikeCos = 0.5;  // used negated: a turn of more than 120 degrees

Vec3 sub(const Vec3& a, const Vec3& b) {
    return Vec3{a.x - b.x, a.y - b.y, a.z - b.z};
}

bool isLink(const Plist* list, int32_t i) {
    return (list->flags[i] >> 8) == kPointLink;
}

// The point-segment distance in space (plan = false) or in plan.
double pointSeg(const Vec3* a, const Vec3* b, const Vec3* q, Vec3* outNear, bool plan) {
    Vec3 ab = sub(*b, *a), aq = sub(*q, *a);
    if (plan) ab.z = aq.z = 0.0;
    const double da = plan ? dist2D(a, q) : dist3D(a, q);
    const double db = plan ? dist2D(b, q) : dist3D(b, q);
    const Vec3* nearEnd = da < db ? a : b;
    const double nearDist = da < db ? da : db;
    const double len = vecLen3D(&ab);
    if (len >= kTol) {
        const double s = vecDot3D(&aq, &ab) / len;
        if (s >= 0.0 && s <= len) {
            const double f = s / len;
            const Vec3 foot{a->x + f * (b->x - a->x), a->y + f * (b->y - a->y), a->z + f * (b->z - a->z)};
            if (outNear != nullptr) *outNear = foot;
            if (plan) return dist2D(&foot, q);
            return sqrtPos(da * da - s * s);
        }
    }
    if (outNear != nullptr) *outNear = *nearEnd;
    return nearDist;
}

}  // namespace

double distPointSeg3D(const Vec3* a, const Vec3* b, const Vec3* q, Vec3* outNear) {
    return pointSeg(a, b, q, outNear, false);
}

double distPointSeg3DXY(const Vec3* a, const Vec3* b, const Vec3* q, Vec3* outNear) {
    return pointSeg(a, b, q, outNear, true);
}

double nearestOnPolyline3D(const Vec3* points, int32_t n, const Vec3* q, Vec3* outNear, int32_t* outIndex) {
    if (points == nullptr || n < 2) return 0.0;
    double best = 0.0;
    for (int32_t k = 1; k < n; ++k) {
        Vec3 near;
        const double d = distPointSeg3D(&points[k - 1], &points[k], q, &near);
        if (k == 1 || d < best) {
            best = d;
            if (outNear != nullptr) *outNear = near;
            if (outIndex != nullptr) *outIndex = k;
        }
    }
    return best;
}

int segSegNearest3D(const Vec3* a0, const Vec3* a1, const Vec3* b0, const Vec3* b1, Vec3* outA, Vec3* outB) {
    const Vec3 ea = sub(*a1, *a0), eb = sub(*b1, *b0);
    Vec3 da, db, n, y;
    if (vecNormalize3D(&ea, &da) < 0 || vecNormalize3D(&eb, &db) < 0) return 0;
    if (crossUnit3D(&da, &db, &n) != 0 || crossUnit3D(&n, &da, &y) != 0) return 0;
    // Frame with segment a on its x axis and the common normal as z: the feet of the common
    // perpendicular are where the two segments cross in its plan.
    Mat4 axes, shift, frame, inv;
    mat4FromAxes(&da, &y, &n, &axes);
    mat4Translation(a0, &shift);
    mat4Mult(&axes, &shift, &frame);
    if (mat4Invert(&frame, &inv) != 0) return 0;
    Vec3 la0, la1, lb0, lb1;
    mat4XformPoint(a0, &inv, &la0);
    mat4XformPoint(a1, &inv, &la1);
    mat4XformPoint(b0, &inv, &lb0);
    mat4XformPoint(b1, &inv, &lb1);
    const Seg2D sa{la0.x, la0.y, la1.x, la1.y}, sb{lb0.x, lb0.y, lb1.x, lb1.y};
    Vec2 cross;
    if (segSegIsect2D(&sa, &sb, &cross) != 1) return 0;
    const Vec3 local{cross.x, cross.y, 0.0};
    Vec3 footA, footB;
    mat4XformPoint(&local, &frame, &footA);
    distPointSeg3D(b0, b1, &footA, &footB);
    if (outA != nullptr) *outA = footA;
    if (outB != nullptr) *outB = footB;
    return 1;
}

double segSegDist3D(const Vec3* a0, const Vec3* a1, const Vec3* b0, const Vec3* b1, Vec3* outA, Vec3* outB) {
    Vec3 pa, pb;
    if (segSegNearest3D(a0, a1, b0, b1, &pa, &pb) == 1) {
        if (outA != nullptr) *outA = pa;
        if (outB != nullptr) *outB = pb;
        return dist3D(&pa, &pb);
    }
    // No inner common perpendicular: the nearest pair has an end point in it.
    struct Try {
        const Vec3 *s0, *s1, *q;
        bool qOnB;
    };
    const Try tries[4] = {{a0, a1, b0, true}, {a0, a1, b1, true}, {b0, b1, a0, false}, {b0, b1, a1, false}};
    double best = 0.0;
    for (int k = 0; k < 4; ++k) {
        Vec3 near;
        const double d = distPointSeg3D(tries[k].s0, tries[k].s1, tries[k].q, &near);
        if (k > 0 && !(d < best)) continue;
        best = d;
        pa = tries[k].qOnB ? near : *tries[k].q;
        pb = tries[k].qOnB ? *tries[k].q : near;
    }
    if (outA != nullptr) *outA = pa;
    if (outB != nullptr) *outB = pb;
    return best;
}

int32_t polyline3DThin(Plist* list) {
    if (list == nullptr) return 0;
    const int32_t n = list->count;
    if (n < 3) return n;
    uint8_t* spike = static_cast<uint8_t*>(std::calloc(static_cast<size_t>(n), 1));
    if (spike == nullptr) return n;
    const Vec3* p = list->points;
    // Every point is judged on the path as it was before the pass.
    for (int32_t i = 1; i <= n - 2; ++i) {
        if (isLink(list, i - 1) || isLink(list, i) || isLink(list, i + 1)) continue;
        const Vec3 e0 = sub(p[i], p[i - 1]), e1 = sub(p[i + 1], p[i]);
        Vec3 u, w;
        if (vecNormalize3D(&e0, &u) < 0 || vecNormalize3D(&e1, &w) < 0) continue;
        if (vecDot3D(&u, &w) < -kSpikeCos) spike[i] = 1;
    }
    int32_t out = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (spike[i]) continue;
        if (out != i) {
            list->points[out] = list->points[i];
            list->parameters[out] = list->parameters[i];
            list->flags[out] = list->flags[i];
            if (list->vectors != nullptr) list->vectors[out] = list->vectors[i];
            if (list->bytes != nullptr) list->bytes[out] = list->bytes[i];
        }
        ++out;
    }
    std::free(spike);
    list->count = out;
    return out;
}

int32_t polyline3DThinAll(Plist* list) {
    if (list == nullptr) return 0;
    int32_t n = list->count;
    for (;;) {
        const int32_t m = polyline3DThin(list);
        if (m >= n) return m;
        n = m;
    }
}
