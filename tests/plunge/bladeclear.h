// The design surfaces of every blade of a wheel, and the deepest point of a tool solid among them,
// measured on the surfaces themselves: samples in parameter-space box trees bound the search (a depth
// that changes no faster than the point moves is at most its value at a box's centre plus the box's
// half diagonal), and every sampled local maximum within the sampling reach of the limit is climbed on
// the exact surface.
#pragma once

#include <algorithm>
#include <cmath>
#include <functional>
#include <string>
#include <unordered_map>
#include <vector>

#include "geometry/vec.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/nurbs.h"

namespace bladeclear {

// How deep a point lies in the tool, negative outside; it must change no faster than the point moves.
using Depth = std::function<double(const Vec3&)>;

struct Node {
    Vec3 lo, hi;
    int i0 = 0, i1 = 0, j0 = 0, j1 = 0;  // sample index ranges, inclusive
    int left = -1, right = -1;
};

// One surface: samples (nu + 1) x (nv + 1) on its parameter grid, the box tree over them, and the reach:
// how far a point of a grid cell lies at most from the cell's farthest corner sample.
struct Sheet {
    const BsplSurface* s = nullptr;
    double u0 = 0, u1 = 1, v0 = 0, v1 = 1, reach = 0;
    int nu = 1, nv = 1;
    std::vector<Vec3> p;
    std::vector<Node> nodes;
    Vec3 at(double u, double v) const {
        Vec3 q;
        nurbsSurfEval(s, std::clamp(u, u0, u1), std::clamp(v, v0, v1), &q);
        return q;
    }
};

class Wheel {
  public:
    Wheel() = default;
    Wheel(const Wheel&) = delete;
    Wheel& operator=(const Wheel&) = delete;
    ~Wheel() {
        for (SurfList* l : lists_) freeSurfList(l);
    }

    // Every surface of the file, on each of `blades` blades turned about z; samples about spacing apart.
    bool add(const std::string& file, int blades, double spacing) {
        blades_ = blades;
        SurfList* list = newSurfList(4);
        if (!list) return false;
        lists_.push_back(list);
        if (readSurfObjects(file.c_str(), list) != 1) return false;
        for (int32_t e = 0; e < list->count; ++e)
            sheets_.push_back(sample(list->entries[e].surface, spacing));
        return true;
    }

    // The deepest point of the tool over every surface: exact when some point comes within the reach of
    // the limit, else a value below the limit less the reach.
    double deepest(const Depth& depth, double limit) const {
        double best = -1e300;
        std::unordered_map<int, double> near;
        std::vector<int> stack;
        for (int k = 0; k < blades_; ++k) {
            const double w = 2 * M_PI * k / blades_, c = std::cos(w), s = std::sin(w);
            const auto turned = [&](const Vec3& q) {
                return depth({c * q.x - s * q.y, s * q.x + c * q.y, q.z});
            };
            for (const Sheet& sh : sheets_) {
                const double floor = limit - sh.reach;
                near.clear();
                stack.assign(1, 0);
                while (!stack.empty()) {
                    const Node& n = sh.nodes[stack.back()];
                    stack.pop_back();
                    const Vec3 m{(n.lo.x + n.hi.x) / 2, (n.lo.y + n.hi.y) / 2, (n.lo.z + n.hi.z) / 2};
                    const Vec3 half{(n.hi.x - n.lo.x) / 2, (n.hi.y - n.lo.y) / 2, (n.hi.z - n.lo.z) / 2};
                    if (turned(m) + vecLen3D(&half) < floor) continue;
                    if (n.left >= 0) {
                        stack.push_back(n.left), stack.push_back(n.right);
                        continue;
                    }
                    for (int i = n.i0; i <= n.i1; ++i)
                        for (int j = n.j0; j <= n.j1; ++j) {
                            const double d = turned(sh.p[i * (sh.nv + 1) + j]);
                            best = std::max(best, d);
                            if (d >= floor) near[i * (sh.nv + 1) + j] = d;
                        }
                }
                for (const auto& [key, d] : near)
                    if (localTop(sh, near, key, d)) best = std::max(best, climb(sh, turned, key, d));
            }
        }
        return best;
    }

  private:
    Sheet sample(const BsplSurface& s, double spacing) {
        Sheet sh;
        sh.s = &s;
        sh.u0 = s.uKnots[s.uOrder - 1], sh.u1 = s.uKnots[s.uNum];
        sh.v0 = s.vKnots[s.vOrder - 1], sh.v1 = s.vKnots[s.vNum];
        // The longest iso curves across the surface set the counts.
        double lu = 0, lv = 0;
        for (int k = 0; k <= 4; ++k) {
            double a = 0, b = 0;
            for (int i = 1; i <= 64; ++i) {
                const double f0 = (i - 1) / 64.0, f1 = i / 64.0, g = k / 4.0;
                Vec3 p0 = sh.at(sh.u0 + (sh.u1 - sh.u0) * f0, sh.v0 + (sh.v1 - sh.v0) * g),
                     p1 = sh.at(sh.u0 + (sh.u1 - sh.u0) * f1, sh.v0 + (sh.v1 - sh.v0) * g);
                a += dist3D(&p0, &p1);
                p0 = sh.at(sh.u0 + (sh.u1 - sh.u0) * g, sh.v0 + (sh.v1 - sh.v0) * f0);
                p1 = sh.at(sh.u0 + (sh.u1 - sh.u0) * g, sh.v0 + (sh.v1 - sh.v0) * f1);
                b += dist3D(&p0, &p1);
            }
            lu = std::max(lu, a), lv = std::max(lv, b);
        }
        sh.nu = int(lu / spacing) + 2, sh.nv = int(lv / spacing) + 2;
        for (int i = 0; i <= sh.nu; ++i)
            for (int j = 0; j <= sh.nv; ++j) sh.p.push_back(sh.at(u(sh, i), v(sh, j)));
        for (int i = 0; i < sh.nu; ++i)
            for (int j = 0; j < sh.nv; ++j) {
                const Vec3 m = sh.at((u(sh, i) + u(sh, i + 1)) / 2, (v(sh, j) + v(sh, j + 1)) / 2);
                for (int a = 0; a < 2; ++a)
                    for (int b = 0; b < 2; ++b)
                        sh.reach = std::max(sh.reach, dist3D(&m, &sh.p[(i + a) * (sh.nv + 1) + j + b]));
            }
        build(sh, 0, sh.nu, 0, sh.nv);
        return sh;
    }

    static double u(const Sheet& sh, int i) { return sh.u0 + (sh.u1 - sh.u0) * i / sh.nu; }
    static double v(const Sheet& sh, int j) { return sh.v0 + (sh.v1 - sh.v0) * j / sh.nv; }

    // Leaves of at most 4 x 4 cells; boxes merged upward.
    static int build(Sheet& sh, int i0, int i1, int j0, int j1) {
        const int at = int(sh.nodes.size());
        Node fresh;
        fresh.lo = {1e300, 1e300, 1e300}, fresh.hi = {-1e300, -1e300, -1e300};
        fresh.i0 = i0, fresh.i1 = i1, fresh.j0 = j0, fresh.j1 = j1;
        sh.nodes.push_back(fresh);
        auto grow = [&](const Vec3& lo, const Vec3& hi) {
            Node& n = sh.nodes[at];
            n.lo = {std::min(n.lo.x, lo.x), std::min(n.lo.y, lo.y), std::min(n.lo.z, lo.z)};
            n.hi = {std::max(n.hi.x, hi.x), std::max(n.hi.y, hi.y), std::max(n.hi.z, hi.z)};
        };
        if (i1 - i0 <= 4 && j1 - j0 <= 4) {
            for (int i = i0; i <= i1; ++i)
                for (int j = j0; j <= j1; ++j) grow(sh.p[i * (sh.nv + 1) + j], sh.p[i * (sh.nv + 1) + j]);
            return at;
        }
        const bool alongU = i1 - i0 >= j1 - j0;
        const int mid = alongU ? (i0 + i1) / 2 : (j0 + j1) / 2;
        const int l = alongU ? build(sh, i0, mid, j0, j1) : build(sh, i0, i1, j0, mid);
        const int r = alongU ? build(sh, mid, i1, j0, j1) : build(sh, i0, i1, mid, j1);
        sh.nodes[at].left = l, sh.nodes[at].right = r;
        grow(sh.nodes[l].lo, sh.nodes[l].hi);
        grow(sh.nodes[r].lo, sh.nodes[r].hi);
        return at;
    }

    // No neighbouring sample lies deeper (ties go to the lower index); neighbours that were not kept lie
    // below the floor and so below this one.
    static bool localTop(const Sheet& sh, const std::unordered_map<int, double>& near, int key, double d) {
        const int i = key / (sh.nv + 1), j = key % (sh.nv + 1);
        for (int a = std::max(i - 1, 0); a <= std::min(i + 1, sh.nu); ++a)
            for (int b = std::max(j - 1, 0); b <= std::min(j + 1, sh.nv); ++b) {
                const auto it = near.find(a * (sh.nv + 1) + b);
                if (it != near.end() && it->first != key &&
                    (it->second > d || (it->second == d && it->first < key)))
                    return false;
            }
        return true;
    }

    // Compass search on the surface from a sample, one grid cell wide at first, halved when no neighbour
    // is deeper, down to far below a micrometre.
    static double climb(const Sheet& sh, const Depth& depth, int key, double d) {
        double pu = u(sh, key / (sh.nv + 1)), pv = v(sh, key % (sh.nv + 1));
        double hu = (sh.u1 - sh.u0) / sh.nu, hv = (sh.v1 - sh.v0) / sh.nv;
        for (int step = 0; step < 400 && hu > 1e-12 * (sh.u1 - sh.u0); ++step) {
            double bu = pu, bv = pv;
            for (int a = -1; a <= 1; ++a)
                for (int b = -1; b <= 1; ++b) {
                    const double cu = std::clamp(pu + a * hu, sh.u0, sh.u1),
                                 cv = std::clamp(pv + b * hv, sh.v0, sh.v1);
                    const double e = depth(sh.at(cu, cv));
                    if (e > d) d = e, bu = cu, bv = cv;
                }
            if (bu == pu && bv == pv) hu /= 2, hv /= 2;
            pu = bu, pv = bv;
        }
        return d;
    }

    int blades_ = 1;
    std::vector<SurfList*> lists_;
    std::vector<Sheet> sheets_;
};

}  // namespace bladeclear
