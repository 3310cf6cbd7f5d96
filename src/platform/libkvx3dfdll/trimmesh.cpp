// Tensor-grid triangulation of trimmed surfaces.
#include "trimmesh.h"

#include <cmath>
#include <cstring>
#include <map>
#include <memory>
#include <utility>

#include "surfaces/deboor.h"

namespace {

constexpr int kMaxIntervals = 4096;     // per direction
constexpr int64_t kMaxCells = 4000000;  // grid cells of one surface
constexpr int kBoundaryDepth = 2;       // halvings of a cell that the trim boundary crosses
constexpr double kChordShare = 0.5;     // share of the tolerance a grid chord may use

struct Eval {
    const TrimSurface* s;
    bool point(double u, double v, Vec3* out) const {
        if (evalNurbsSurfPoint(&s->surface, u, v, out) != 1) return false;
        if (s->hasOffset) {
            Vec3 n{0, 0, 0};
            if (evalNurbsSurfDeriv(&s->surface, u, v, nullptr, nullptr, &n) != 1) return false;
            out->x += s->offset * n.x;
            out->y += s->offset * n.y;
            out->z += s->offset * n.z;
        }
        return std::isfinite(out->x) && std::isfinite(out->y) && std::isfinite(out->z);
    }
    // point() at (u[k], v) for k < n; the points of a row share the surface's work in v.
    bool row(const double* u, size_t n, double v, Vec3* out) const {
        if (s->hasOffset) {
            for (size_t k = 0; k < n; ++k)
                if (!point(u[k], v, &out[k])) return false;
            return true;
        }
        if (evalNurbsSurfPointsAtV(&s->surface, u, static_cast<int32_t>(n), v, out) != 1) return false;
        for (size_t k = 0; k < n; ++k)
            if (!std::isfinite(out[k].x) || !std::isfinite(out[k].y) || !std::isfinite(out[k].z))
                return false;
        return true;
    }
};

double dist(const Vec3& a, const Vec3& b) {
    return std::sqrt((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) + (a.z - b.z) * (a.z - b.z));
}

Vec3 mid(const Vec3& a, const Vec3& b) {
    return Vec3{(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2};
}

// Even-odd crossing test of one closed loop.
bool inLoop(const TrimLoop& loop, double u, double v) {
    bool in = false;
    for (int32_t i = 0, j = loop.count - 1; i < loop.count; j = i++) {
        const Vec2 a = loop.points[i], b = loop.points[j];
        if ((a.y > v) != (b.y > v) && u < (b.x - a.x) * (v - a.y) / (b.y - a.y) + a.x) in = !in;
    }
    return in;
}

bool inside(const TrimSurface* s, double u, double v) {
    if (s->loopCount <= 0) return true;
    if (!inLoop(s->loops[0], u, v)) return false;
    for (int32_t k = 1; k < s->loopCount; ++k)
        if (inLoop(s->loops[k], u, v)) return false;
    return true;
}

std::vector<double> uniform(double lo, double hi, int n) {
    std::vector<double> t(n + 1);
    for (int i = 0; i <= n; ++i) t[i] = lo + (hi - lo) * i / n;
    t[n] = hi;
    return t;
}

// Room for points, each written before it is read: no clearing, and a new round's room is taken
// afresh instead of growing the last one's (which would copy points about to be overwritten).
using Points = std::unique_ptr<Vec3[]>;

Points room(size_t n) {
    return Points(new Vec3[n]);
}

// The points of one refinement round: the grid, the midpoints of its u intervals at every v, of its v
// intervals at every u, and the cell centres.
struct Round {
    size_t nu = 0, nv = 0;
    Points grid, uMid, vMid, centre;
    size_t gridSize() const { return (nu + 1) * (nv + 1); }
    const Vec3& at(size_t i, size_t j) const { return grid[i * (nv + 1) + j]; }
};

struct Builder {
    Eval ev;
    const TrimSurface* s;
    TrimMesh* mesh;
    const Round* round;
    int32_t gridBase;                                    // index of the round's first grid point
    std::map<std::pair<double, double>, int32_t> index;  // the other shared points by parameters

    static constexpr int kSteps = 1 << kBoundaryDepth;  // corner offsets within a cell

    // The corner at offsets (a, b) steps into cell (i, j), at parameters (u, v). The surface is a
    // function of the parameters alone, so a point the refinement measured is taken from it.
    bool point(size_t i, size_t j, int a, int b, double u, double v, int32_t* out) {
        const Round& r = *round;
        if (a % kSteps == 0 && b % kSteps == 0) {
            *out = gridBase + static_cast<int32_t>((i + a / kSteps) * (r.nv + 1) + j + b / kSteps);
            return true;
        }
        auto it = index.find({u, v});
        if (it != index.end()) {
            *out = it->second;
            return true;
        }
        Vec3 p;
        constexpr int half = kSteps / 2;
        if (a % half == 0 && b % half == 0) {
            const size_t iu = i + a / kSteps, jv = j + b / kSteps;
            const bool midU = a == half, midV = b == half;
            p = midU && midV ? r.centre[i * r.nv + j]
                : midU       ? r.uMid[i * (r.nv + 1) + jv]
                             : r.vMid[iu * r.nv + j];
        } else if (!ev.point(u, v, &p)) {
            return false;
        }
        *out = static_cast<int32_t>(mesh->points.size());
        mesh->points.push_back(p);
        index.emplace(std::make_pair(u, v), *out);
        return true;
    }

    bool quad(size_t i, size_t j, int a0, int a1, int b0, int b1, double u0, double u1, double v0,
              double v1) {
        int32_t a, b, c, d;
        if (!point(i, j, a0, b0, u0, v0, &a) || !point(i, j, a1, b0, u1, v0, &b) ||
            !point(i, j, a1, b1, u1, v1, &c) || !point(i, j, a0, b1, u0, v1, &d))
            return false;
        const int32_t t[6] = {a, b, c, a, c, d};
        mesh->triangles.insert(mesh->triangles.end(), t, t + 6);
        return true;
    }

    bool cellInside(double u0, double u1, double v0, double v1) const {
        return inside(s, u0, v0) && inside(s, u1, v0) && inside(s, u1, v1) && inside(s, u0, v1) &&
               inside(s, (u0 + u1) / 2, (v0 + v1) / 2);
    }

    // A cell that the boundary crosses: its inside quarters, down to the depth limit.
    bool boundary(size_t i, size_t j, int a0, int a1, int b0, int b1, double u0, double u1, double v0,
                  double v1, int depth) {
        if (cellInside(u0, u1, v0, v1)) return quad(i, j, a0, a1, b0, b1, u0, u1, v0, v1);
        if (depth == 0) return true;
        const double um = (u0 + u1) / 2, vm = (v0 + v1) / 2;
        const int am = (a0 + a1) / 2, bm = (b0 + b1) / 2;
        return boundary(i, j, a0, am, b0, bm, u0, um, v0, vm, depth - 1) &&
               boundary(i, j, am, a1, b0, bm, um, u1, v0, vm, depth - 1) &&
               boundary(i, j, am, a1, bm, b1, um, u1, vm, v1, depth - 1) &&
               boundary(i, j, a0, am, bm, b1, u0, um, vm, v1, depth - 1);
    }
};

// The parameters of the next round: every interval marked is halved. from[k] tells where the k-th
// comes from: 2 i for the i-th parameter, 2 i + 1 for the midpoint of the i-th interval.
std::vector<double> splitMarked(const std::vector<double>& t, const std::vector<char>& mark,
                                std::vector<size_t>* from) {
    std::vector<double> out;
    from->clear();
    for (size_t i = 0; i + 1 < t.size(); ++i) {
        out.push_back(t[i]), from->push_back(2 * i);
        if (mark[i]) out.push_back((t[i] + t[i + 1]) / 2), from->push_back(2 * i + 1);
    }
    out.push_back(t.back()), from->push_back(2 * (t.size() - 1));
    return out;
}

}  // namespace

int trimMeshSurface(const TrimSurface* surface, double tolerance, TrimMesh* mesh) {
    if (surface == nullptr || mesh == nullptr || !(tolerance > 0)) return kTrimMeshFailed;
    const BsplSurface& b = surface->surface;
    if (b.uKnots == nullptr || b.vKnots == nullptr || b.uOrder < 2 || b.vOrder < 2) return kTrimMeshFailed;
    double ulo = b.uKnots[b.uOrder - 1], uhi = b.uKnots[b.uNum], vlo = b.vKnots[b.vOrder - 1],
           vhi = b.vKnots[b.vNum];
    if (surface->loopCount > 0) {
        ulo = std::fmax(ulo, surface->umin);
        uhi = std::fmin(uhi, surface->umax);
        vlo = std::fmax(vlo, surface->vmin);
        vhi = std::fmin(vhi, surface->vmax);
    }
    if (!(uhi > ulo) || !(vhi > vlo)) return kTrimMeshOk;  // nothing inside the knot range
    Eval ev{surface};
    std::vector<double> us = uniform(ulo, uhi, std::max(4, b.uNum - b.uOrder + 2));
    std::vector<double> vs = uniform(vlo, vhi, std::max(4, b.vNum - b.vOrder + 2));
    const double limit = kChordShare * tolerance;
    Round r;
    r.nu = us.size() - 1, r.nv = vs.size() - 1;
    r.grid = room(r.gridSize());
    // Points are measured a row of constant v at a time, then stored where the round keeps them.
    std::vector<Vec3> line;
    std::vector<double> um, vm;
    auto measure = [&](const std::vector<double>& u, size_t n, double v, Vec3* to, size_t stride) {
        line.resize(n);
        if (!ev.row(u.data(), n, v, line.data())) return false;
        for (size_t k = 0; k < n; ++k) to[k * stride] = line[k];
        return true;
    };
    for (size_t j = 0; j <= r.nv; ++j)
        if (!measure(us, r.nu + 1, vs[j], &r.grid[j], r.nv + 1)) return kTrimMeshFailed;
    std::vector<size_t> fromU, fromV;
    for (;;) {
        const size_t nu = r.nu, nv = r.nv;
        r.uMid = room(nu * (nv + 1)), r.vMid = room((nu + 1) * nv), r.centre = room(nu * nv);
        um.resize(nu), vm.resize(nv);
        for (size_t i = 0; i < nu; ++i) um[i] = (us[i] + us[i + 1]) / 2;
        for (size_t j = 0; j < nv; ++j) vm[j] = (vs[j] + vs[j + 1]) / 2;
        for (size_t j = 0; j <= nv; ++j)
            if (!measure(um, nu, vs[j], &r.uMid[j], nv + 1)) return kTrimMeshFailed;
        for (size_t j = 0; j < nv; ++j)
            if (!measure(us, nu + 1, vm[j], &r.vMid[j], nv) || !measure(um, nu, vm[j], &r.centre[j], nv))
                return kTrimMeshFailed;
        std::vector<char> splitU(nu, 0), splitV(nv, 0);
        bool any = false;
        // A point's chord test is made only while it can still mark something.
        for (size_t i = 0; i < nu; ++i)
            for (size_t j = 0; j <= nv; ++j)
                if (!splitU[i] && dist(r.uMid[i * (nv + 1) + j], mid(r.at(i, j), r.at(i + 1, j))) > limit)
                    splitU[i] = any = true;
        for (size_t j = 0; j < nv; ++j)
            for (size_t i = 0; i <= nu; ++i)
                if (!splitV[j] && dist(r.vMid[i * nv + j], mid(r.at(i, j), r.at(i, j + 1))) > limit)
                    splitV[j] = any = true;
        for (size_t i = 0; i < nu; ++i)
            for (size_t j = 0; j < nv; ++j)
                if (!(splitU[i] && splitV[j]) &&
                    dist(r.centre[i * nv + j], mid(r.at(i, j), r.at(i + 1, j + 1))) > limit)
                    splitU[i] = splitV[j] = any = true;
        if (!any) break;
        us = splitMarked(us, splitU, &fromU);
        vs = splitMarked(vs, splitV, &fromV);
        const int64_t cells = static_cast<int64_t>(us.size() - 1) * static_cast<int64_t>(vs.size() - 1);
        if (us.size() - 1 > kMaxIntervals || vs.size() - 1 > kMaxIntervals || cells > kMaxCells)
            return kTrimMeshFailed;
        // Every point of the next grid was measured in this round: a kept parameter or a midpoint in
        // each direction.
        Points grid = room(us.size() * vs.size());
        for (size_t a = 0; a < us.size(); ++a) {
            const size_t i = fromU[a] / 2;
            const bool midU = fromU[a] % 2 != 0;
            for (size_t c = 0; c < vs.size(); ++c) {
                const size_t j = fromV[c] / 2;
                const bool midV = fromV[c] % 2 != 0;
                grid[a * vs.size() + c] = midU && midV ? r.centre[i * nv + j]
                                          : midU       ? r.uMid[i * (nv + 1) + j]
                                          : midV       ? r.vMid[i * nv + j]
                                                       : r.at(i, j);
            }
        }
        r.grid = std::move(grid);
        r.nu = us.size() - 1, r.nv = vs.size() - 1;
    }
    Builder builder{ev, surface, mesh, &r, static_cast<int32_t>(mesh->points.size()), {}};
    constexpr int steps = Builder::kSteps;
    // Each grid point is a corner of up to four cells: its trim test is made once.
    std::vector<signed char> cornerIn(r.gridSize(), -1);
    auto in = [&](size_t i, size_t j) {
        signed char& c = cornerIn[i * (r.nv + 1) + j];
        if (c < 0) c = inside(surface, us[i], vs[j]) ? 1 : 0;
        return c == 1;
    };
    // The cells are classified first, so that the mesh's room is taken once. A boundary cell adds up
    // to 21 points and 16 quads, on blade flanks about 9 and 6: room for 12 and 8 covers those without
    // reserving the worst case for every boundary cell (an odd surface past it grows as it must).
    constexpr size_t kBoundaryPoints = 12, kBoundaryQuads = 8;
    std::vector<char> full(r.nu * r.nv);
    size_t fullCells = 0;
    for (size_t i = 0; i + 1 < us.size(); ++i)
        for (size_t j = 0; j + 1 < vs.size(); ++j) {
            const double u0 = us[i], u1 = us[i + 1], v0 = vs[j], v1 = vs[j + 1];
            full[i * r.nv + j] = in(i, j) && in(i + 1, j) && in(i + 1, j + 1) && in(i, j + 1) &&
                                 inside(surface, (u0 + u1) / 2, (v0 + v1) / 2);
            fullCells += full[i * r.nv + j] ? 1 : 0;
        }
    const size_t boundaryCells = full.size() - fullCells;
    mesh->points.reserve(mesh->points.size() + r.gridSize() + kBoundaryPoints * boundaryCells);
    mesh->triangles.reserve(mesh->triangles.size() + 6 * fullCells + 6 * kBoundaryQuads * boundaryCells);
    mesh->points.insert(mesh->points.end(), r.grid.get(), r.grid.get() + r.gridSize());
    for (size_t i = 0; i + 1 < us.size(); ++i)
        for (size_t j = 0; j + 1 < vs.size(); ++j) {
            const double u0 = us[i], u1 = us[i + 1], v0 = vs[j], v1 = vs[j + 1];
            const bool ok = full[i * r.nv + j]
                                ? builder.quad(i, j, 0, steps, 0, steps, u0, u1, v0, v1)
                                : builder.boundary(i, j, 0, steps, 0, steps, u0, u1, v0, v1, kBoundaryDepth);
            if (!ok) return kTrimMeshFailed;
        }
    return kTrimMeshOk;
}
