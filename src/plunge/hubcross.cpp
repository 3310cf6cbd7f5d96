// Hub crossing of meshes and blade sampling helpers.
#include "plunge/hubcross.h"

#include <cmath>
#include <functional>
#include <unordered_map>

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

// The elements share their corners: each corner's signed hub distance is measured once, and only an
// edge whose ends lie on opposite sides of the profile (or on it) goes to the crossing search, which
// answers 0 for every other edge.
class HubCrossing {
  public:
    explicit HubCrossing(const Profile2D* hub) : hub_(hub) {}

    // Keeps the crossing of edge a-b nearest to the axis.
    void edge(const Vec3& a, const Vec3& b) {
        const double da = distance(a), db = distance(b);
        if (std::fabs(da) > 1e-5 && std::fabs(db) > 1e-5 && (da > 0.0) == (db > 0.0)) return;
        Vec3 x;
        // Only a crossing the bisection pins on the profile counts: an edge whose ends merely lie on
        // opposite sides of the profile's extension beyond its ends is no hub crossing.
        if (crossSegmentProfileExact(hub_, &a, &b, &x) != 1) return;
        const double r = std::hypot(x.x, x.y);
        if (r < bestR) bestR = r, best = x;
    }

    Vec3 best{};
    double bestR = INFINITY;

  private:
    double distance(const Vec3& p) {
        const auto [it, added] = known_.try_emplace(PointKey{p.x, p.y, p.z}, 0.0);
        if (added) it->second = closestPointProfile2D(hub_, &p, nullptr, nullptr);
        return it->second;
    }

    const Profile2D* hub_;
    std::unordered_map<PointKey, double, PointKeyHash> known_;
};

}  // namespace

int meshHubCrossing(const CheckModel* model, const HubShroud* level, Vec3* out) {
    if (model == nullptr || level == nullptr || level->hub == nullptr || out == nullptr) return -1;
    HubCrossing c(level->hub);
    if (model->kind == kMeshTriangles) {
        const TriList* t = model->triangles;
        for (int32_t i = 0; t != nullptr && i < t->count; ++i)
            for (int k = 0; k < 3; ++k) c.edge(t->data[i].p[k], t->data[i].p[(k + 1) % 3]);
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
    const double length = contourPairLength(pair);
    for (int32_t k = 0; k * step < length; ++k) {
        const double s = k * step;
        Vec3 x;
        if (bladeCrossingAtProfile(pair, profile, s, &x) != 1) continue;
        if (insertPlist3D(out, s, &x) < 0) {
            // A trace cut short by memory would pass for a shorter blade.
            out->count = 0;
            return -1;
        }
    }
    return 1;
}
