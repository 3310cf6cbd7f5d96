// The wavy height-field meshes the collision and drop-cutter benchmarks share: triangles sorted by
// decreasing top with their boxes and a bucket grid of cells about 3 wide (and FCL's tree of the same
// mesh when FCL is found), built once per size; seeded query points clear of the border.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <vector>

#include "collision/chkmodel.h"
#include "geometry/grid2d.h"

#ifdef KV_HAVE_FCL
#include <fcl/fcl.h>
#endif

namespace wavymesh {

constexpr double kR = 3.0, kCorner = 1.0;

inline double height(double x, double y) {
    return 3 * std::sin(x / 7) * std::cos(y / 5) + 0.5 * std::sin(x / 2 + y / 3);
}

struct Mesh {
    int n = 0;  // cells per side; side length n
    TriList* tris = nullptr;
    std::vector<Vec3> lo, hi;
    Grid2D* grid = nullptr;
    double zmin = 1e300, zmax = -1e300;
#ifdef KV_HAVE_FCL
    std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> bvh;
#endif
    ~Mesh() {
        triListFree(tris);
        grid2DFree(grid);
    }
};

// Triangles sorted by decreasing top, with their boxes and a bucket grid of cells about 3 wide.
inline Mesh* buildMesh(int64_t triangles) {
    auto* m = new Mesh;
    m->n = static_cast<int>(std::lround(std::sqrt(triangles / 2.0)));
    const int n = m->n;
    std::vector<Triangle3D> t;
    t.reserve(size_t(2) * n * n);
    auto p = [](int i, int j) { return Vec3{double(i), double(j), height(i, j)}; };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            t.push_back({{p(i, j), p(i + 1, j), p(i + 1, j + 1)}});
            t.push_back({{p(i, j), p(i + 1, j + 1), p(i, j + 1)}});
        }
    auto top = [](const Triangle3D& a) { return std::max({a.p[0].z, a.p[1].z, a.p[2].z}); };
    std::sort(t.begin(), t.end(), [&](const Triangle3D& a, const Triangle3D& b) { return top(a) > top(b); });
    m->tris = triListCreate(static_cast<int32_t>(t.size()));
    for (const Triangle3D& a : t) {
        triListAdd(m->tris, &a);
        Vec3 l = a.p[0], h = a.p[0];
        for (const Vec3& q : a.p) {
            l = {std::min(l.x, q.x), std::min(l.y, q.y), std::min(l.z, q.z)};
            h = {std::max(h.x, q.x), std::max(h.y, q.y), std::max(h.z, q.z)};
        }
        m->lo.push_back(l);
        m->hi.push_back(h);
        m->zmin = std::min(m->zmin, l.z);
        m->zmax = std::max(m->zmax, h.z);
    }
    const int cells = std::max(1, n / 3);
    m->grid = grid2DCreate(cells, cells, 16);
    const Vec3 gl{0, 0, 0}, gh{double(n), double(n), 0};
    grid2DFillSegs(m->grid, m->tris->count, &gl, &gh, m->lo.data(), m->hi.data(), kR);
#ifdef KV_HAVE_FCL
    std::vector<fcl::Vector3d> v;
    std::vector<fcl::Triangle> f;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; j <= n; ++j) v.emplace_back(i, j, height(i, j));
    auto id = [n](int i, int j) { return i * (n + 1) + j; };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            f.emplace_back(id(i, j), id(i + 1, j), id(i + 1, j + 1));
            f.emplace_back(id(i, j), id(i + 1, j + 1), id(i, j + 1));
        }
    m->bvh = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
    m->bvh->beginModel();
    m->bvh->addSubModel(v, f);
    m->bvh->endModel();
#endif
    return m;
}

inline Mesh* meshOf(int64_t triangles) {
    static std::map<int64_t, std::unique_ptr<Mesh>> cache;
    auto& slot = cache[triangles];
    if (!slot) slot.reset(buildMesh(triangles));
    return slot.get();
}

inline std::vector<Vec2> queryPoints(int n, int count) {
    std::mt19937 gen(7);
    std::uniform_real_distribution<double> u(kR, n - kR);
    std::vector<Vec2> q(count);
    for (Vec2& p : q) p = {u(gen), u(gen)};
    return q;
}

}  // namespace wavymesh
