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
// Far more than the rounding of a side's or a box's distance, even to the face's deep end.
constexpr double kSumSlack = 1e-6;

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
    solid->leaves = 1;
    while (solid->leaves < solid->runs) solid->leaves *= 2;
    solid->boxes = static_cast<double*>(std::malloc(8 * static_cast<size_t>(solid->leaves) * sizeof(double)));
    if (!solid->boxes) {
        hubSolidFree(solid);
        return nullptr;
    }
    for (int32_t k = 0; k < solid->leaves; ++k) {
        double* b = solid->boxes + 4 * (solid->leaves + k);
        b[0] = b[2] = HUGE_VAL, b[1] = b[3] = -HUGE_VAL;
        for (int32_t i = k * kHubSolidRun; k < solid->runs && i <= std::min((k + 1) * kHubSolidRun, sides);
             ++i) {
            const Vec2& q = solid->ring[i];
            b[0] = std::min(b[0], q.x), b[1] = std::max(b[1], q.x);
            b[2] = std::min(b[2], q.y), b[3] = std::max(b[3], q.y);
        }
    }
    for (int32_t n = solid->leaves - 1; n >= 1; --n) {
        double *b = solid->boxes + 4 * n, *l = solid->boxes + 8 * n, *r = l + 4;
        b[0] = std::min(l[0], r[0]), b[1] = std::max(l[1], r[1]);
        b[2] = std::min(l[2], r[2]), b[3] = std::max(l[3], r[3]);
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
    auto boxDistance2 = [&](int32_t node) {
        const double* b = solid->boxes + 4 * node;
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
    // The answer is that of the runs taken in turn after the one whose box lies nearest (the first of
    // equals), each run whose box lies nearer than the nearest side so far. That is the nearest side of
    // all when its run's box lies no farther than it: the scan takes that run or has its distance
    // already. Found nearest first, passing over only boxes farther by more than a sum's rounding.
    struct Entry {
        double d2;
        int32_t node;
    };
    Entry stack[2 * 32];
    int32_t top = 0;
    double d2 = HUGE_VAL, limit = HUGE_VAL;
    bool settled = false;
    stack[top++] = {boxDistance2(1), 1};
    while (top > 0) {
        const Entry e = stack[--top];
        if (!(e.d2 < limit)) continue;
        if (e.node >= solid->leaves) {
            const double run = runDistance2(e.node - solid->leaves);
            if (run < d2) {
                d2 = run, settled = e.d2 <= run;
                limit = (std::sqrt(d2) + kSumSlack) * (std::sqrt(d2) + kSumSlack);
            } else if (run == d2) {
                settled = settled || e.d2 <= run;
            }
            continue;
        }
        const Entry l{boxDistance2(2 * e.node), 2 * e.node}, r{boxDistance2(2 * e.node + 1), 2 * e.node + 1};
        stack[top++] = l.d2 <= r.d2 ? r : l;
        stack[top++] = l.d2 <= r.d2 ? l : r;
    }
    // Where runs share the nearest vertex, its two sides' sums may differ in the last bit, the nearer one
    // below the box's: the scan itself decides. A box's distance is at most that of
    // any box within it, so the tree gives the scan's runs.
    if (!settled) {
        int32_t first = -1;
        double firstBox = HUGE_VAL;
        top = 0;
        stack[top++] = {boxDistance2(1), 1};
        while (top > 0) {
            const Entry e = stack[--top];
            if (e.d2 > firstBox) continue;
            if (e.node >= solid->leaves) {
                const int32_t k = e.node - solid->leaves;
                if (e.d2 < firstBox || (e.d2 == firstBox && k < first)) first = k, firstBox = e.d2;
                continue;
            }
            stack[top++] = {boxDistance2(2 * e.node + 1), 2 * e.node + 1};
            stack[top++] = {boxDistance2(2 * e.node), 2 * e.node};
        }
        d2 = runDistance2(std::max(first, 0));
        top = 0;
        stack[top++] = {0.0, 1};
        while (top > 0) {
            const int32_t n = stack[--top].node;
            if (!(boxDistance2(n) < d2)) continue;
            if (n < solid->leaves) {
                stack[top++] = {0.0, 2 * n + 1};
                stack[top++] = {0.0, 2 * n};
            } else if (n - solid->leaves != first) {
                d2 = std::min(d2, runDistance2(n - solid->leaves));
            }
        }
    }
    // Crossings of the ray from q toward growing r, in the runs whose boxes it meets.
    bool inside = false;
    top = 0;
    stack[top++] = {0.0, 1};
    while (top > 0) {
        const int32_t n = stack[--top].node;
        const double* b = solid->boxes + 4 * n;
        if (b[2] > q.y || b[3] < q.y || b[1] < q.x) continue;
        if (n < solid->leaves) {
            stack[top++] = {0.0, 2 * n + 1};
            stack[top++] = {0.0, 2 * n};
            continue;
        }
        const int32_t k = n - solid->leaves;
        for (int32_t i = k * kHubSolidRun; i < std::min((k + 1) * kHubSolidRun, solid->count - 1); ++i) {
            const Vec2 &u = solid->ring[i], &v = solid->ring[i + 1];
            if ((u.y > q.y) != (v.y > q.y) && q.x < u.x + (q.y - u.y) / (v.y - u.y) * (v.x - u.x))
                inside = !inside;
        }
    }
    const double d = std::sqrt(d2);
    return inside ? -d : d;
}
