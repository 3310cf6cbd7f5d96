// The hub as a solid of revolution, closed by its end faces.
#include "plunge/hubsolid.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "plunge/hubshroud.h"
#include "plunge/profile2d.h"

namespace {

// How far the lower end's face reaches into the solid: beyond any tool.
constexpr double kFaceDepth = 1.0e4;

Vec2 unit(Vec2 v) {
    const double l = std::hypot(v.x, v.y);
    return l > 0 ? Vec2{v.x / l, v.y / l} : Vec2{0, 0};
}

}  // namespace

HubSolid* hubSolidCreate(const HubShroud* pair) {
    if (!pair || !pair->hub || !pair->shroud || pair->hub->count < 2 || pair->shroud->count < 1)
        return nullptr;
    const Profile2D* hub = pair->hub;
    std::vector<Vec2> pts(hub->points, hub->points + hub->count);
    if (pts.front().y < pts.back().y) std::reverse(pts.begin(), pts.end());
    // The solid lies on the side of the hub away from the shroud: right of the running direction when
    // the shroud's point nearest the hub's middle lies left of the hub there.
    double half = 0.0;
    for (size_t i = 1; i < pts.size(); ++i) half += 0.5 * dist2D(&pts[i - 1], &pts[i]);
    size_t k = 1;
    for (double run = dist2D(&pts[0], &pts[1]); run < half && k + 1 < pts.size(); ++k)
        run += dist2D(&pts[k], &pts[k + 1]);
    const Vec2 a = pts[k - 1], b = pts[k], t0 = unit({b.x - a.x, b.y - a.y});
    const Vec2 mid{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
    Vec2 s;
    polylineDistance2D(pair->shroud->points, pair->shroud->count, &mid, &s);
    const double side = t0.x * (s.y - mid.y) - t0.y * (s.x - mid.x);
    if (!(std::fabs(side) > 1e-9)) return nullptr;
    const double sense = side > 0 ? 1.0 : -1.0;  // 1: the solid lies right of the direction
    // The lower end's face runs along the end's inward normal, at most to the axis.
    const Vec2 end = pts.back(), before = pts[pts.size() - 2];
    const Vec2 t = unit({end.x - before.x, end.y - before.y});
    const Vec2 inward{sense * t.y, -sense * t.x};
    double depth = kFaceDepth;
    if (inward.x < -1e-12) depth = std::min(depth, end.x / -inward.x);
    const Vec2 deep{end.x + depth * inward.x, end.y + depth * inward.y};
    pts.push_back(deep);
    pts.push_back({0.0, deep.y});
    pts.insert(pts.begin(), Vec2{0.0, pts.front().y});  // the higher end's disc
    pts.push_back(pts.front());
    auto* solid = static_cast<HubSolid*>(std::calloc(1, sizeof(HubSolid)));
    if (!solid) return nullptr;
    solid->ring = static_cast<Vec2*>(std::malloc(pts.size() * sizeof(Vec2)));
    if (!solid->ring) {
        std::free(solid);
        return nullptr;
    }
    std::copy(pts.begin(), pts.end(), solid->ring);
    solid->count = static_cast<int32_t>(pts.size());
    const int32_t sides = solid->count - 1;
    solid->runs = (sides + kHubSolidRun - 1) / kHubSolidRun;
    solid->boxes = static_cast<double*>(std::malloc(4 * static_cast<size_t>(solid->runs) * sizeof(double)));
    if (!solid->boxes) {
        hubSolidFree(solid);
        return nullptr;
    }
    for (int32_t k = 0; k < solid->runs; ++k) {
        double* b = solid->boxes + 4 * k;
        b[0] = b[2] = HUGE_VAL, b[1] = b[3] = -HUGE_VAL;
        for (int32_t i = k * kHubSolidRun; i <= std::min((k + 1) * kHubSolidRun, sides); ++i) {
            const Vec2& q = solid->ring[i];
            b[0] = std::min(b[0], q.x), b[1] = std::max(b[1], q.x);
            b[2] = std::min(b[2], q.y), b[3] = std::max(b[3], q.y);
        }
    }
    return solid;
}

void hubSolidFree(HubSolid* solid) {
    if (!solid) return;
    std::free(solid->ring);
    std::free(solid->boxes);
    std::free(solid);
}

double hubSolidDistance(const HubSolid* solid, const Vec3* p) {
    if (!solid || !p || solid->count < 4) return HUGE_VAL;
    const Vec2 q{std::sqrt(p->x * p->x + p->y * p->y), p->z};
    // The outline's last two sides (across the bottom and up the axis) only close it: no surface.
    // Squared distances throughout: a departure asks this at many points.
    const int32_t surface = solid->count - 3;
    auto boxDistance2 = [&](int32_t k) {
        const double* b = solid->boxes + 4 * k;
        const double dr = std::max({b[0] - q.x, 0.0, q.x - b[1]}),
                     dz = std::max({b[2] - q.y, 0.0, q.y - b[3]});
        return dr * dr + dz * dz;
    };
    auto runDistance2 = [&](int32_t k) {
        double d2 = HUGE_VAL;
        for (int32_t i = k * kHubSolidRun; i < std::min((k + 1) * kHubSolidRun, surface); ++i) {
            const Vec2 &a = solid->ring[i], &b = solid->ring[i + 1];
            const double ex = b.x - a.x, ez = b.y - a.y, l2 = ex * ex + ez * ez;
            const double f = l2 > 0 ? std::clamp(((q.x - a.x) * ex + (q.y - a.y) * ez) / l2, 0.0, 1.0) : 0.0;
            const double dx = q.x - a.x - f * ex, dz = q.y - a.y - f * ez;
            d2 = std::min(d2, dx * dx + dz * dz);
        }
        return d2;
    };
    // The nearest box's run first: its distance bounds the others, whose boxes then mostly lie farther.
    int32_t nearest = 0;
    double nearestBox = boxDistance2(0);
    for (int32_t k = 1; k < solid->runs; ++k) {
        const double b = boxDistance2(k);
        if (b < nearestBox) nearest = k, nearestBox = b;
    }
    double d2 = runDistance2(nearest);
    bool inside = false;  // crossings of the ray from q toward growing r
    for (int32_t k = 0; k < solid->runs; ++k) {
        if (k != nearest && boxDistance2(k) < d2) d2 = std::min(d2, runDistance2(k));
        const double* b = solid->boxes + 4 * k;
        if (b[2] > q.y || b[3] < q.y || b[1] < q.x) continue;
        for (int32_t i = k * kHubSolidRun; i < std::min((k + 1) * kHubSolidRun, solid->count - 1); ++i) {
            const Vec2 &u = solid->ring[i], &v = solid->ring[i + 1];
            if ((u.y > q.y) != (v.y > q.y) && q.x < u.x + (q.y - u.y) / (v.y - u.y) * (v.x - u.x))
                inside = !inside;
        }
    }
    const double d = std::sqrt(d2);
    return inside ? -d : d;
}
