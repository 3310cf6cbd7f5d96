// Test meshes for the check model: triangle lists with their boxes sorted by decreasing top.
#pragma once

#include <algorithm>
#include <cstdlib>
#include <numeric>
#include <vector>

#include "collision/chkmodel.h"

namespace testmesh {

// A check model that owns its mesh, boxes and tool.
struct Model {
    CheckModel m{};
    std::vector<Vec3> lo, hi;
    TriList* tris = nullptr;
    Model(std::vector<Triangle3D> t, uint16_t type, double R, double r = 0.0) {
        chkModelInit(&m, kMeshTriangles);
        std::vector<int> order(t.size());
        std::iota(order.begin(), order.end(), 0);
        auto top = [&](int i) { return std::max({t[i].p[0].z, t[i].p[1].z, t[i].p[2].z}); };
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return top(a) > top(b); });
        tris = triListCreate(static_cast<int32_t>(t.size()) + 2);
        for (int i : order) {
            triListAdd(tris, &t[i]);
            Vec3 a = t[i].p[0], b = t[i].p[0];
            for (const Vec3& q : t[i].p) {
                a = {std::min(a.x, q.x), std::min(a.y, q.y), std::min(a.z, q.z)};
                b = {std::max(b.x, q.x), std::max(b.y, q.y), std::max(b.z, q.z)};
            }
            lo.push_back(a);
            hi.push_back(b);
        }
        m.triangles = tris;
        m.boxMin = lo.data();
        m.boxMax = hi.data();
        m.bounds[0] = tris->xmin, m.bounds[1] = tris->ymin, m.bounds[2] = tris->zmin;
        m.bounds[3] = tris->xmax, m.bounds[4] = tris->ymax, m.bounds[5] = tris->zmax;
        m.tool = static_cast<ToolGeom*>(std::calloc(1, sizeof(ToolGeom)));
        m.tool->toolType = type;
        m.tool->radius = R;
        m.tool->cornerRadius = r;
        m.tool->size2 = 2 * R;
    }
    ~Model() {
        chkModelFreeParts(&m);
        std::free(m.tool);
        triListFree(tris);
    }
    Model(const Model&) = delete;
    Model& operator=(const Model&) = delete;
};

// A large triangle (side about 2 x half) in the plane z = z0 + slope * x.
inline Triangle3D slopeTri(double z0, double slope, double half = 40.0) {
    auto pt = [&](double x, double y) { return Vec3{x, y, z0 + slope * x}; };
    return Triangle3D{{pt(-half, -half), pt(half, -half), pt(0, half)}};
}

}  // namespace testmesh
