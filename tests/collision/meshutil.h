// Test meshes for the check model: triangle lists with their boxes sorted by decreasing top.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <numeric>
#include <string>
#include <vector>

#include "collision/chkmodel.h"
#include "geometry/grid2d.h"

namespace testmesh {

// A check model that owns its mesh, boxes and tool; with facetForm the mesh is a facet array whose
// facets are the triangles (the fourth corner repeats the third), the triangle list kept beside it.
struct Model {
    CheckModel m{};
    std::vector<Vec3> lo, hi;
    std::vector<Facet98> facets;
    TriList* tris = nullptr;
    Model(std::vector<Triangle3D> t, uint16_t type, double R, double r = 0.0, bool facetForm = false) {
        chkModelInit(&m, facetForm ? kMeshFacets : kMeshTriangles);
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
        if (facetForm) {
            for (int32_t k = 0; k < tris->count; ++k) {
                Facet98 f{};
                for (int q = 0; q < 4; ++q) f.p[q] = tris->data[k].p[std::min(q, 2)];
                facets.push_back(f);
            }
            m.facets = facets.data();
            m.facetCount = tris->count;
        } else {
            m.triangles = tris;
        }
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

// ASCII STL text of the triangles.
inline std::string stlText(const std::vector<Triangle3D>& tris) {
    std::string s = "solid t\n";
    char buf[128];
    for (const Triangle3D& t : tris) {
        s += "facet normal 0 0 1\nouter loop\n";
        for (const Vec3& p : t.p) {
            std::snprintf(buf, sizeof buf, "vertex %.17g %.17g %.17g\n", p.x, p.y, p.z);
            s += buf;
        }
        s += "endloop\nendfacet\n";
    }
    return s + "endsolid t\n";
}

// A 2 x 2 grid of cells 10 wide over [-10, 10]^2 whose far cell (1, 1) alone lists element 0; null
// when it cannot be had.
inline Grid2D* farCellGrid() {
    Grid2D* grid = grid2DCreate(2, 2, 1);
    if (!grid) return nullptr;
    grid->x0 = grid->y0 = -10, grid->x1 = grid->y1 = 10, grid->cellWidth = grid->cellHeight = 10;
    if (grid2DCellAdd(grid, 1, 1, 0) != 1) {
        grid2DFree(grid);
        return nullptr;
    }
    return grid;
}

// A large triangle (side about 2 x half) in the plane z = z0 + slope * x.
inline Triangle3D slopeTri(double z0, double slope, double half = 40.0) {
    auto pt = [&](double x, double y) { return Vec3{x, y, z0 + slope * x}; };
    return Triangle3D{{pt(-half, -half), pt(half, -half), pt(0, half)}};
}

// The tool's reach above its reference height at radial distance rho (-inf beyond it).
inline double front(uint16_t type, double R, double r, double rho) {
    const double inf = -std::numeric_limits<double>::infinity();
    if (type == kBallMill) return rho <= R ? std::sqrt(R * R - rho * rho) : inf;
    if (type == kEndMill) return rho <= R ? 0.0 : inf;
    const double a = R - r;
    if (rho <= a) return r;
    return rho <= R ? std::sqrt(std::max(0.0, r * r - (rho - a) * (rho - a))) : inf;
}

// Highest reference height of the tool over (x, y) touching one triangle, found independently: the
// face from the plane's gradient, each edge by a concave 1D search, each vertex directly.
inline double bruteDrop(uint16_t type, double R, double r, const Triangle3D& t, double x, double y) {
    double best = -std::numeric_limits<double>::infinity();
    auto at = [&](const Vec3& p, double bound) {
        const double rho = std::hypot(p.x - x, p.y - y);
        return rho <= bound ? p.z + front(type, R, r, rho) : -std::numeric_limits<double>::infinity();
    };
    const double corner = type == kEndMill ? R : R - 1e-7;
    for (const Vec3& v : t.p) best = std::max(best, at(v, corner));
    for (int k = 0; k < 3; ++k) {
        const Vec3 a = t.p[k], b = t.p[(k + 1) % 3];
        auto f = [&](double s) {
            if (s < 0 || s > 1) return -std::numeric_limits<double>::infinity();
            return at({a.x + s * (b.x - a.x), a.y + s * (b.y - a.y), a.z + s * (b.z - a.z)}, R);
        };
        double bs = 0, bf = -std::numeric_limits<double>::infinity();
        for (int i = 0; i <= 200; ++i)
            if (f(i / 200.0) > bf) bf = f(i / 200.0), bs = i / 200.0;
        for (double w = 1.0 / 200; w > 1e-16; w *= 0.25)
            for (int i = -10; i <= 10; ++i)
                if (const double v = f(bs + w * i / 10); v > bf) bf = v, bs = bs + w * i / 10;
        best = std::max(best, bf);
    }
    const double e1x = t.p[1].x - t.p[0].x, e1y = t.p[1].y - t.p[0].y, e1z = t.p[1].z - t.p[0].z;
    const double e2x = t.p[2].x - t.p[0].x, e2y = t.p[2].y - t.p[0].y, e2z = t.p[2].z - t.p[0].z;
    const double det = e1x * e2y - e1y * e2x;
    if (std::fabs(det) > 1e-9) {
        // z = z0 + g . (X - Q0) over the plane.
        const double gx = (e1z * e2y - e2z * e1y) / det, gy = (e2z * e1x - e1z * e2x) / det;
        const double gl = std::hypot(gx, gy), sq = std::sqrt(1 + gl * gl);
        const double ux = gl > 0 ? gx / gl : 0, uy = gl > 0 ? gy / gl : 0;
        double cx = x, cy = y, h;
        const double zAxis = t.p[0].z + gx * (x - t.p[0].x) + gy * (y - t.p[0].y);
        if (type == kBallMill) {
            cx += R * gx / sq, cy += R * gy / sq, h = zAxis + R * sq;
        } else if (type == kEndMill) {
            cx += R * ux, cy += R * uy, h = zAxis + R * gl;
        } else {
            cx += (R - r) * ux + r * gx / sq, cy += (R - r) * uy + r * gy / sq,
                h = zAxis + (R - r) * gl + r * sq;
        }
        const double px = cx - t.p[0].x, py = cy - t.p[0].y;
        const double u = (px * e2y - py * e2x) / det, v = (e1x * py - e1y * px) / det;
        if (u >= 0 && v >= 0 && u + v <= 1) best = std::max(best, h);
    }
    return best;
}

}  // namespace testmesh
