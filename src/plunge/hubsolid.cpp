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
    return solid;
}

void hubSolidFree(HubSolid* solid) {
    if (!solid) return;
    std::free(solid->ring);
    std::free(solid);
}

double hubSolidDistance(const HubSolid* solid, const Vec3* p) {
    if (!solid || !p || solid->count < 4) return HUGE_VAL;
    const Vec2 q{std::hypot(p->x, p->y), p->z};
    // The outline's last two sides (across the bottom and up the axis) only close it: no surface.
    const double d = polylineDistance2D(solid->ring, solid->count - 2, &q, nullptr);
    // Crossings of the ray from q toward growing r tell inside from outside.
    bool inside = false;
    for (int32_t i = 1; i < solid->count; ++i) {
        const Vec2 &u = solid->ring[i - 1], &v = solid->ring[i];
        if ((u.y > q.y) != (v.y > q.y) && q.x < u.x + (q.y - u.y) / (v.y - u.y) * (v.x - u.x))
            inside = !inside;
    }
    return inside ? -d : d;
}
