// Hub crossing of meshes and blade sampling helpers.
#include "plunge/hubcross.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <unordered_map>
#include <vector>

namespace {

struct PointKey {
    double x, y, z;
    bool operator==(const PointKey& o) const { return x == o.x && y == o.y && z == o.z; }
};

struct PointKeyHash {
    size_t operator()(const PointKey& k) const {
        const std::hash<double> h;
        return h(k.x) ^ (h(k.y) * 0x9e3779b97f4a7c15ull) ^ (h(k.z) * 0xc2b2ae3d27d4eb4full);
    }
};

// The signed hub distance of closestPointProfile2D, with the same nearest segment (the first of the
// smallest distance) and the same sign, found faster: segments go in blocks of kBlock with their
// boxes, and a block or a segment whose box lies farther than a distance already reached is passed
// over (none of its segments can be nearest). The search starts from the segment nearest to the previous
// corner.
class HubDistance {
  public:
    explicit HubDistance(const Profile2D* hub) : hub_(hub) {
        const int32_t n = hub->count - 1;
        for (int32_t first = 0; first < n; first += kBlock) {
            Block b{first, std::min(first + kBlock, n), INFINITY, -INFINITY, INFINITY, -INFINITY};
            for (int32_t i = b.first; i <= b.end && i <= n; ++i) {
                b.xmin = std::min(b.xmin, hub->points[i].x), b.xmax = std::max(b.xmax, hub->points[i].x);
                b.ymin = std::min(b.ymin, hub->points[i].y), b.ymax = std::max(b.ymax, hub->points[i].y);
            }
            // A foot within the rounding of the segment box test may lie this far outside the box.
            b.xmin -= kSlack, b.xmax += kSlack, b.ymin -= kSlack, b.ymax += kSlack;
            blocks_.push_back(b);
        }
    }

    double operator()(const Vec3& pt) {
        if (hub_->count < 2) return closestPointProfile2D(hub_, &pt, nullptr, nullptr);
        const Vec2 q{std::sqrt(pt.x * pt.x + pt.y * pt.y), pt.z};
        Vec2 f, foot;
        Seg2D s = segment(hint_);
        // The hint's distance starts the search; the first segment of the smallest distance still wins.
        double best = distPointSegNear2D(&q, &s, &foot);
        int32_t bi = hint_;
        // A block whose box, or a segment whose line, lies farther than the nearest distance so far
        // holds no nearer point: every point the segment test measures lies on the segment's line.
        for (const Block& b : blocks_) {
            const double dx = std::max({b.xmin - q.x, 0.0, q.x - b.xmax});
            const double dy = std::max({b.ymin - q.y, 0.0, q.y - b.ymax});
            if (std::sqrt(dx * dx + dy * dy) > best + 1e-9) continue;
            for (int32_t i = b.first; i < b.end; ++i) {
                s = segment(i);
                const double ux = s.x2 - s.x1, uy = s.y2 - s.y1, len2 = ux * ux + uy * uy;
                if (len2 > 1e-6 &&
                    std::fabs((q.x - s.x1) * uy - (q.y - s.y1) * ux) > (best + 1e-9) * std::sqrt(len2))
                    continue;
                const double d = distPointSegNear2D(&q, &s, &f);
                if (d < best || (d == best && i < bi)) best = d, bi = i, foot = f;
            }
        }
        hint_ = bi;
        s = segment(bi);
        const double ux = s.x2 - s.x1, uy = s.y2 - s.y1, l = std::hypot(ux, uy);
        const Vec2 u = l >= 1e-5 ? Vec2{ux / l, uy / l} : Vec2{0.0, 0.0};
        const double cross = u.x * (q.y - foot.y) - u.y * (q.x - foot.x);
        return cross < 0.0 ? -best : best;
    }

  private:
    static constexpr int32_t kBlock = 32;
    static constexpr double kSlack = 0.004;

    struct Block {
        int32_t first, end;  // segments first .. end - 1
        double xmin, xmax, ymin, ymax;
    };

    Seg2D segment(int32_t i) const {
        return {hub_->points[i].x, hub_->points[i].y, hub_->points[i + 1].x, hub_->points[i + 1].y};
    }

    const Profile2D* hub_;
    std::vector<Block> blocks_;
    int32_t hint_ = 0;
};

// The elements share their corners: each corner's signed hub distance is measured once, and only an
// edge whose ends lie on opposite sides of the profile (or on it) goes to the crossing search, which
// answers 0 for every other edge.
class HubCrossing {
  public:
    explicit HubCrossing(const Profile2D* hub) : measure_(hub) {}

    // Keeps the crossing of edge a-b nearest to the axis.
    void edge(const Vec3& a, const Vec3& b) {
        // Every point the bisection returns lies on the edge: an edge that keeps farther from the axis
        // than the crossing kept (or than the bound) cannot give a nearer one, and its ends need no
        // measuring.
        const double limit = std::min(bestR, bound);
        if (std::isfinite(limit) && axisDistance(a, b) > limit + 1e-9) return;
        const double da = distance(a), db = distance(b);
        if (std::fabs(da) > 1e-5 && std::fabs(db) > 1e-5 && (da > 0.0) == (db > 0.0)) return;
        Vec3 x;
        // Only a crossing the bisection pins on the profile counts: an edge whose ends merely lie on
        // opposite sides of the profile's extension beyond its ends is no hub crossing.
        if (cross(a, b, da, db, &x) != 1) return;
        const double r = std::hypot(x.x, x.y);
        if (r < bestR) bestR = r, best = x;
    }

    // The smallest plan distance of edge a-b from the axis, as the pass-over above measures it.
    static double axisDistance(const Vec3& a, const Vec3& b) {
        const double ex = b.x - a.x, ey = b.y - a.y, len2 = ex * ex + ey * ey;
        const double t = len2 > 0.0 ? std::clamp(-(a.x * ex + a.y * ey) / len2, 0.0, 1.0) : 0.0;
        return std::hypot(a.x + t * ex, a.y + t * ey);
    }

    Vec3 best{};
    double bestR = INFINITY;
    double bound = INFINITY;  // no crossing lies nearer to the axis (edges beyond it are passed over)

  private:
    // crossSegmentProfileExact with the distances measured here (the same values).
    int cross(Vec3 a, Vec3 b, double da, double db, Vec3* out) {
        if (std::fabs(da) <= 1e-5) return *out = a, 1;
        if (std::fabs(db) <= 1e-5) return *out = b, 1;
        if ((da > 0.0) == (db > 0.0)) return 0;
        while (dist3D(&a, &b) > 0.0001) {
            const Vec3 m{0.5 * (a.x + b.x), 0.5 * (a.y + b.y), 0.5 * (a.z + b.z)};
            const double dm = measure_(m);
            if ((dm > 0.0) == (da > 0.0))
                a = m, da = dm;
            else
                b = m, db = dm;
        }
        *out = da >= 0.0 ? a : b;
        return std::fabs(da >= 0.0 ? da : db) > 0.1 ? -1 : 1;
    }

    double distance(const Vec3& p) {
        const auto [it, added] = known_.try_emplace(PointKey{p.x, p.y, p.z}, 0.0);
        if (added) it->second = measure_(p);
        return it->second;
    }

    HubDistance measure_;
    std::unordered_map<PointKey, double, PointKeyHash> known_;
};

// The elements' edges in the order of each element's nearest edge to the axis: the crossing nearest
// to the axis is then met early, and once the next element keeps farther away than it, no later one
// holds a nearer crossing. The distance found bounds the search in element order (a crossing depends
// on its edge only, and that search still meets every edge at the bound's distance, so its first
// nearest crossing is the one kept).
// nearest: each element's nearest edge distance, for the search in element order.
template <typename Edges>
double nearestCrossingDistance(HubCrossing& c, int32_t count, Edges edges, std::vector<double>* nearest) {
    std::vector<std::pair<double, int32_t>> order(static_cast<size_t>(count));
    nearest->resize(static_cast<size_t>(count));
    for (int32_t i = 0; i < count; ++i) {
        double d = INFINITY, n = INFINITY;  // n: not a number when an edge's distance is not
        edges(i, [&](const Vec3& a, const Vec3& b) {
            const double e = HubCrossing::axisDistance(a, b);
            d = std::min(d, e);
            if (e < n || std::isnan(e)) n = e;
        });
        order[i] = {d, i};
        (*nearest)[size_t(i)] = n;
    }
    // Taken nearest first from a heap: the search stops long before the far elements would be sorted.
    const auto later = [](const std::pair<double, int32_t>& a, const std::pair<double, int32_t>& b) {
        return a > b;
    };
    std::make_heap(order.begin(), order.end(), later);
    for (auto end = order.end(); end != order.begin(); --end) {
        std::pop_heap(order.begin(), end, later);
        const auto [d, i] = *(end - 1);
        if (d > c.bestR + 1e-9) break;
        edges(i, [&](const Vec3& a, const Vec3& b) { c.edge(a, b); });
    }
    return c.bestR;
}

}  // namespace

int meshHubCrossing(const CheckModel* model, const HubShroud* level, Vec3* out) {
    if (model == nullptr || level == nullptr || level->hub == nullptr || out == nullptr) return -1;
    HubCrossing c(level->hub);
    if (model->kind == kMeshTriangles) {
        const TriList* t = model->triangles;
        const int32_t n = t != nullptr ? t->count : 0;
        const auto edges = [t](int32_t i, auto&& f) {
            for (int k = 0; k < 3; ++k) f(t->data[i].p[k], t->data[i].p[(k + 1) % 3]);
        };
        std::vector<double> nearest;
        const double bound = nearestCrossingDistance(c, n, edges, &nearest);
        c.best = {}, c.bestR = INFINITY, c.bound = bound;
        for (int32_t i = 0; i < n; ++i) {
            // An element whose every edge keeps beyond the limit passes each of them over in edge().
            if (nearest[size_t(i)] > std::min(c.bestR, c.bound) + 1e-9) continue;
            edges(i, [&](const Vec3& a, const Vec3& b) { c.edge(a, b); });
        }
    } else {
        for (int32_t i = 0; model->facets != nullptr && i < model->facetCount; ++i) {
            Vec3 q[4];
            for (int k = 0; k < 4; ++k) q[k] = model->facets[i].p[k];
            for (int k = 0; k < 4; ++k) c.edge(q[k], q[(k + 1) % 4]);
        }
    }
    if (!std::isfinite(c.bestR)) return -1;
    *out = c.best;
    return 1;
}

int splitterHubAngle(const CheckModel* model, const HubShroud* level, const ContourPair* pair, double offset,
                     double* angle) {
    if (pair == nullptr || angle == nullptr) return -1;
    Vec3 p;
    if (meshHubCrossing(model, level, &p) != 1) return -1;
    double t = 0.0;
    int32_t seg = 0;
    closestPointProfile2D(level->hub, &p, &t, &seg);
    if (offset > 1e-5) t = std::fmax(0.0, t - offset);
    Vec3 q;
    if (bladePointAtProfile(pair, level->hub, t, &q) != 1) return -1;
    const Vec2 from{q.x, q.y}, to{p.x, p.y};
    *angle = signedAngle2D(&from, &to);
    return 1;
}

int radialTiltFrame(const Vec3* p, const Vec3* axis, Vec3* T, Vec3* B) {
    if (p == nullptr || axis == nullptr || T == nullptr || B == nullptr) return -1;
    const double r = std::hypot(p->x, p->y);
    if (r < 1e-5) return -1;
    *T = {-p->y / r, p->x / r, 0.0};
    return crossUnit3D(axis, T, B) < 0 ? -1 : 1;
}

int contourPairProfileTrace(const ContourPair* pair, const Profile2D* profile, double step, Plist3D* out) {
    if (pair == nullptr || pair->first == nullptr || pair->second == nullptr || profile == nullptr ||
        out == nullptr || !(step > 0.0))
        return -1;
    out->count = 0;
    ProfileLineCross* cross = profileLineCrossCreate(profile);
    if (cross == nullptr && profile->count >= 2) return -1;
    const double length = contourPairLength(pair);
    for (int32_t k = 0; k * step < length; ++k) {
        const double s = k * step;
        Vec3 x;
        if (bladeCrossingAt(pair, cross, s, &x) != 1) continue;
        if (insertPlist3D(out, s, &x) < 0) {
            profileLineCrossFree(cross);
            // A trace cut short by memory would pass for a shorter blade.
            out->count = 0;
            return -1;
        }
    }
    profileLineCrossFree(cross);
    return 1;
}
