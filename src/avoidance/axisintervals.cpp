// Tilt-angle intervals over the obstacle meshes: the models and their box trees, the per-triangle
// rejection tests and contact events, and the interval algebra.
#include "avoidance/axisintervals.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "avoidance/axisintervals_math.h"
#include "geometry/solve.h"
#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"

namespace {

using namespace axisvec;

constexpr int32_t kLeafItems = 4;

const AxisObstacleModel* gSlots[kAxisModelSlots] = {};
int32_t gBoxTree = 1;

// Splits items[first..last] at the median centre along the box's longest side.
AxisBoxNode* buildNode(AxisObstacleModel* m, int32_t first, int32_t last) {
    AxisBoxNode* node = &m->nodes[m->nodeCount++];
    node->xmin = node->ymin = node->zmin = 1e300;
    node->xmax = node->ymax = node->zmax = -1e300;
    for (int32_t k = first; k <= last; ++k) {
        for (const Vec3& p : m->triangles->data[m->items[k]].p) {
            node->xmin = std::min(node->xmin, p.x), node->xmax = std::max(node->xmax, p.x);
            node->ymin = std::min(node->ymin, p.y), node->ymax = std::max(node->ymax, p.y);
            node->zmin = std::min(node->zmin, p.z), node->zmax = std::max(node->zmax, p.z);
        }
    }
    node->first = first;
    node->last = last;
    node->child1 = node->child2 = nullptr;
    if (last - first + 1 <= kLeafItems) return node;
    const double ex = node->xmax - node->xmin, ey = node->ymax - node->ymin, ez = node->zmax - node->zmin;
    const int axis = ex >= ey && ex >= ez ? 0 : (ey >= ez ? 1 : 2);
    auto key = [&](int32_t item) {
        const Vec3& c = m->triangleInfo[item].centre;
        return axis == 0 ? c.x : (axis == 1 ? c.y : c.z);
    };
    const int32_t mid = first + (last - first) / 2;
    std::nth_element(m->items + first, m->items + mid, m->items + last + 1,
                     [&](int32_t a, int32_t b) { return key(a) < key(b); });
    node->child1 = buildNode(m, first, mid);
    node->child2 = buildNode(m, mid + 1, last);
    return node;
}

bool profileValid(int32_t n, const double* z, const double* r) {
    if (n < 2 || !z || !r) return false;
    for (int32_t i = 0; i < n; ++i) {
        if (!std::isfinite(z[i]) || !std::isfinite(r[i]) || r[i] < 0.0 || r[i] > r[n - 1]) return false;
        if (i > 0 && !(z[i] > z[i - 1])) return false;
    }
    if (z[0] < 0.0) return false;
    // Distance from the tool point must grow along each band: d/du (u^2 + r^2) >= 0 at both ends.
    for (int32_t i = 0; i + 1 < n; ++i) {
        const double s = (r[i + 1] - r[i]) / (z[i + 1] - z[i]);
        if (z[i] + r[i] * s < 0.0 || z[i + 1] + r[i + 1] * s < 0.0) return false;
    }
    return true;
}

double angleFromAxis(const AxisFrame* f, Vec3 X) {
    const Vec3 d = sub(X, f->P);
    const double l = std::sqrt(dot(d, d));
    if (!(l > 0.0)) return 0.0;
    return std::acos(std::clamp(dot(d, f->A) / l, -1.0, 1.0));
}

// Contact events of one profile segment, at most kAxisSegmentEvents.
struct Events {
    double angle[kAxisSegmentEvents];
    int32_t flag[kAxisSegmentEvents];
    int32_t n = 0;
    void push(double a, int32_t fl) {
        if (n < kAxisSegmentEvents && std::isfinite(a)) angle[n] = a, flag[n] = fl, ++n;
    }
};

// Steps 7 and 8: events to intervals.
void pairEvents(Events* ev, AngleIntervals* out) {
    for (int32_t k = 0; k < ev->n; ++k) ev->angle[k] = angleWrapNear(ev->angle[k], 0.0);
    sortAngleEvents(ev->n, ev->angle, ev->flag);
    for (int32_t k = ev->n - 1; k >= 0 && ev->flag[k] == 0; --k) ev->angle[k] -= 2.0 * kPi;
    sortAngleEvents(ev->n, ev->angle, ev->flag);
    for (int32_t k = 0; k < ev->n && ev->flag[k] == 1; ++k) ev->angle[k] += 2.0 * kPi;
    sortAngleEvents(ev->n, ev->angle, ev->flag);
    enum { kNone, kOpen, kOpenEnd } state = kNone;
    double start = 0.0, end = 0.0;
    for (int32_t k = 0; k < ev->n; ++k) {
        const double a = ev->angle[k];
        if (k == ev->n - 1 && state != kNone) appendAngleInterval(out, start, a);
        if (ev->flag[k] == 0) {
            if (state == kNone) {
                start = a, state = kOpen;
            } else if (state == kOpenEnd) {
                appendAngleInterval(out, start, end);
                start = a, state = kOpen;
            }
        } else if (state != kNone) {
            end = a, state = kOpenEnd;
        }
    }
}

// Events of one vertex-edge pair of the triangle against band i (between the ring spheres).
void bandEdgeEvents(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3* n, Vec3 V, Vec3 Vn,
                    Vec3 Rv, Events* ev) {
    const Vec3 E = sub(Vn, V), d = sub(V, f->P);
    const double b = dot(d, E), e2 = dot(E, E), dd = dot(d, d);
    if (!(e2 > 0.0)) return;
    bool crossed[2];
    double minus[2] = {0.0, 0.0}, plus[2] = {0.0, 0.0};
    for (int k = 0; k < 2; ++k) {
        const double D = b * b - (dd - m->reachSq[i + k]) * e2;
        crossed[k] = D >= 0.0;
        if (crossed[k]) {
            minus[k] = (-b - std::sqrt(D)) / e2;
            plus[k] = (-b + std::sqrt(D)) / e2;
        }
    }
    struct Window {
        double lo, hi;
        int32_t ringLo, ringHi;
    } win[2];
    int nw = 0;
    if (crossed[0] && crossed[1]) {
        if (minus[1] < 1.0 && minus[0] > 0.0) win[nw++] = {minus[1], minus[0], i + 1, i};
        if (plus[0] < 1.0 && plus[1] > 0.0) win[nw++] = {plus[0], plus[1], i, i + 1};
    } else if (crossed[1]) {
        if (minus[1] < 1.0 && plus[1] > 0.0) win[nw++] = {minus[1], plus[1], i + 1, i + 1};
    }
    const Vec3 nE = cross(*n, E);
    for (int w = 0; w < nw; ++w) {
        bool firstTaken = false, lastTaken = false, found[2] = {false, false};
        double keep1[2] = {0.0, 0.0}, keep2[2] = {0.0, 0.0}, sEnd[2] = {0.0, 0.0};
        for (int end = 0; end < 2; ++end) {
            const double lam = end == 0 ? win[w].lo : win[w].hi;
            if (end == 0 ? lam < 0.0 : lam > 1.0) {
                const Vec3 Vx = end == 0 ? V : Vn;
                const Vec3 Dd = end == 0 ? E : mul(-1.0, E);
                const Vec3 Q = sub(Rv, Vx);
                double t1, t2, p1, p2, u;
                if (bandAtPoint(f, m, i, &Vx, &t1, &t2, &p1, &p2, &u, &sEnd[end])) {
                    found[end] = true;
                    const Vec3 N1 = bandNormal(f, m, i, t1, p1), N2 = bandNormal(f, m, i, t2, p2);
                    keep1[end] = dot(N1, E);
                    keep2[end] = dot(N2, E);
                    if (dot(N1, Dd) >= 0.0 && dot(N1, Q) >= 0.0) ev->push(t1, 0), firstTaken = true;
                    if (dot(N2, Dd) >= 0.0 && dot(N2, Q) >= 0.0) ev->push(t2, 1), lastTaken = true;
                }
                continue;
            }
            const int32_t k = end == 0 ? win[w].ringLo : win[w].ringHi;
            const Vec3 X = add(V, mul(lam, E));
            double tt[2], pp[2];
            if (!pointRingAngles(f, &X, m->ringZ[k], m->ringR[k], &tt[0], &tt[1], &pp[0], &pp[1], &sEnd[end]))
                continue;
            found[end] = true;
            for (int j = 0; j < 2; ++j) {
                const Vec3 N = bandNormal(f, m, i, tt[j], pp[j]);
                const double NE = dot(N, E);
                (j == 0 ? keep1 : keep2)[end] = NE;
                Vec3 ax = axisAt(f, tt[j]);
                if (k == i) ax = mul(-1.0, ax);
                // The edge line must stay outside the solid's corner at the ring, and the corner's
                // section by the triangle's plane must lie wholly outside the edge: the inward
                // direction n x E is then a non-negative blend of the two outward normals.
                const double aE = dot(ax, E);
                if (aE * NE > 0.0 || std::fabs(NE) * dot(nE, ax) + std::fabs(aE) * dot(nE, N) < 0.0) continue;
                BandPoint bp;
                bandPointEval(f, m, i, m->ringZ[k], tt[j], pp[j], &bp);
                double x1, x2, x3;
                if (!solveLinear3(bp.dphi.x, -nE.x, -E.x, bp.dphi.y, -nE.y, -E.y, bp.dphi.z, -nE.z, -E.z,
                                  -bp.dt.x, -bp.dt.y, -bp.dt.z, &x1, &x2, &x3))
                    continue;
                if (x2 > 0.0) ev->push(tt[j], 0);
                if (x2 < 0.0) ev->push(tt[j], 1);
            }
        }
        const double cl = std::clamp(win[w].lo, 1e-6, 0.999999), ch = std::clamp(win[w].hi, 1e-6, 0.999999);
        const Vec3 Xlo = add(V, mul(cl, E)), Xhi = add(V, mul(ch, E));
        if (!(found[0] || found[1] || sEnd[0] * sEnd[1] < 0.0)) continue;
        const bool both = found[0] && found[1];
        for (int side = 0; side < 2; ++side) {
            const bool taken = side == 0 ? firstTaken : lastTaken;
            const double* keep = side == 0 ? keep1 : keep2;
            if (taken || (both && keep[0] * keep[1] > 0.0)) continue;
            double t, phi, u;
            if (!bandEdgeContact(f, m, i, &Xlo, &Xhi, side, &t, &phi, &u)) continue;
            BandPoint bp;
            bandPointEval(f, m, i, u, t, phi, &bp);
            if (dot(bandNormal(f, m, i, t, phi), sub(Rv, bp.X)) > 0.0) ev->push(t, side);
        }
    }
}

}  // namespace

AxisObstacleModel* axisModelCreate(const TriList* triangles, int32_t ringCount, const double* ringZ,
                                   const double* ringR) {
    if (!triangles || triangles->count < 0 || (triangles->count > 0 && !triangles->data) ||
        !profileValid(ringCount, ringZ, ringR))
        return nullptr;
    auto* m = static_cast<AxisObstacleModel*>(std::calloc(1, sizeof(AxisObstacleModel)));
    if (!m) return nullptr;
    const int32_t nt = triangles->count, nr = ringCount;
    m->triangles = triListCreate(nt > 0 ? nt : 1);
    m->triangleInfo = static_cast<AxisTriangleInfo*>(std::calloc(nt > 0 ? nt : 1, sizeof(AxisTriangleInfo)));
    m->items = static_cast<int32_t*>(std::calloc(nt > 0 ? nt : 1, sizeof(int32_t)));
    m->nodes = static_cast<AxisBoxNode*>(std::calloc(2 * static_cast<size_t>(nt) + 1, sizeof(AxisBoxNode)));
    double** arrays[6] = {&m->ringZ, &m->ringR, &m->reachSq, &m->innerSq, &m->bandSlope, &m->bandBase};
    bool ok = m->triangles && m->triangleInfo && m->items && m->nodes;
    for (double** a : arrays)
        ok = ok && (*a = static_cast<double*>(std::calloc(nr, sizeof(double)))) != nullptr;
    for (double*& q : m->bandQuad)
        ok = ok && (q = static_cast<double*>(std::calloc(nr, sizeof(double)))) != nullptr;
    for (int32_t k = 0; ok && k < nt; ++k) ok = triListAdd(m->triangles, &triangles->data[k]) == k + 1;
    if (!ok) {
        axisModelFree(m);
        return nullptr;
    }
    for (int32_t k = 0; k < nt; ++k) {
        const Vec3* p = m->triangles->data[k].p;
        const Vec3 c = cross(sub(p[1], p[0]), sub(p[2], p[0]));
        const double l = std::sqrt(dot(c, c));
        m->triangleInfo[k].centre = mul(1.0 / 3.0, add(p[0], add(p[1], p[2])));
        m->triangleInfo[k].normal = l > 0.0 ? mul(1.0 / l, c) : Vec3{0.0, 0.0, 0.0};
        m->items[k] = k;
    }
    m->lastItem = nt - 1;
    m->ringCount = nr;
    for (int32_t j = 0; j < nr; ++j) {
        m->ringZ[j] = ringZ[j];
        m->ringR[j] = ringR[j];
        m->reachSq[j] = ringZ[j] * ringZ[j] + ringR[j] * ringR[j];
        m->innerSq[j] = ringZ[j] * ringZ[j];
        m->angleMargin = std::max(m->angleMargin, std::atan2(ringR[j], ringZ[j]));
    }
    for (int32_t j = 0; j + 1 < nr; ++j) {
        const double s = (ringR[j + 1] - ringR[j]) / (ringZ[j + 1] - ringZ[j]);
        const double b = ringR[j] - s * ringZ[j];
        m->bandSlope[j] = s;
        m->bandBase[j] = b;
        m->bandQuad[0][j] = 1.0 + s * s;
        m->bandQuad[1][j] = s * b;
        m->bandQuad[2][j] = s * s * b * b;
        m->bandQuad[3][j] = b * b;
    }
    m->root = nt > 0 ? buildNode(m, 0, nt - 1) : nullptr;
    return m;
}

void axisModelFree(AxisObstacleModel* m) {
    if (!m) return;
    triListFree(m->triangles);
    std::free(m->triangleInfo);
    std::free(m->items);
    std::free(m->nodes);
    for (double* a : {m->ringZ, m->ringR, m->reachSq, m->innerSq, m->bandSlope, m->bandBase}) std::free(a);
    for (double* q : m->bandQuad) std::free(q);
    std::free(m);
}

int axisIntervalsSetModel(int32_t slot, const AxisObstacleModel* model) {
    if (slot < 0 || slot >= kAxisModelSlots) return kAxisBadArgs;
    gSlots[slot] = model;
    return 1;
}

void axisIntervalsSetBoxTree(int32_t on) {
    gBoxTree = on != 0;
}

void axisIntervalsResetState() {
    for (auto& s : gSlots) s = nullptr;
    gBoxTree = 1;
}
static const RunReset gRunReset(kRunResetAvoidance, "axisIntervals", axisIntervalsResetState);

double angleWrapNear(double a, double ref) {
    if (!std::isfinite(a) || !std::isfinite(ref)) return a;
    if (std::fabs(a - ref) > 4.0 * kPi) a -= 2.0 * kPi * std::floor((a - ref + kPi) / (2.0 * kPi));
    while (a - ref > kPi) a -= 2.0 * kPi;
    while (a - ref < -kPi) a += 2.0 * kPi;
    return a;
}

int appendAngleInterval(AngleIntervals* list, double s, double e) {
    const double s1 = angleWrapNear(s, 0.0);
    const double e1 = angleWrapNear(e, s1 + kPi);
    auto put = [&](double a, double b) {
        if (list->count >= list->capacity) return 0;
        list->starts[list->count] = a;
        list->ends[list->count] = b;
        ++list->count;
        return 1;
    };
    if (e1 > kPi) return put(s1, kPi) && put(-kPi, e1 - 2.0 * kPi);
    return put(s1, e1);
}

void sortAnglePairs(AngleIntervals* list) {
    double* s = list->starts;
    double* e = list->ends;
    // Insertion sort: the lists arrive sorted but for a few appended intervals.
    for (int32_t i = 1; i < list->count; ++i) {
        const double ks = s[i], ke = e[i];
        int32_t j = i - 1;
        for (; j >= 0 && s[j] > ks; --j) s[j + 1] = s[j], e[j + 1] = e[j];
        s[j + 1] = ks, e[j + 1] = ke;
    }
    if (list->count < 2) return;
    int32_t out = 0;
    for (int32_t i = 1; i < list->count; ++i) {
        if (s[i] > e[out] + 1e-10) {
            ++out;
            s[out] = s[i], e[out] = e[i];
        } else {
            e[out] = std::max(e[out], e[i]);
        }
    }
    list->count = out + 1;
}

void closeAngleGaps(AngleIntervals* list) {
    if (list->count <= 2) return;
    for (int32_t i = 0; i + 1 < list->count; ++i)
        if (list->starts[i + 1] - list->ends[i] < 0.02) list->ends[i] = list->starts[i + 1] + 0.001;
    sortAnglePairs(list);
}

void sortAngleEvents(int32_t n, double* angles, int32_t* flags) {
    for (int32_t i = 1; i < n; ++i) {
        const double a = angles[i];
        const int32_t f = flags[i];
        int32_t j = i - 1;
        for (; j >= 0 && (angles[j] > a || (angles[j] == a && flags[j] > f)); --j)
            angles[j + 1] = angles[j], flags[j + 1] = flags[j];
        angles[j + 1] = a, flags[j + 1] = f;
    }
}

int axisIntervalsTriangle(int32_t item, const AxisFrame* f, const AxisObstacleModel* m, double limit,
                          AngleIntervals* out) {
    out->count = 0;
    const Vec3* V = m->triangles->data[item].p;
    const Vec3 n = m->triangleInfo[item].normal;
    if (dot(n, n) == 0.0) return 1;  // no area; its edges belong to the neighbouring triangles
    const int32_t N = m->ringCount;
    const double rMax = m->ringR[N - 1];
    Vec3 d[3];
    double dA[3], dU[3], maxSq = 0.0;
    for (int k = 0; k < 3; ++k) {
        d[k] = sub(V[k], f->P);
        dA[k] = dot(d[k], f->A);
        dU[k] = dot(d[k], f->U);
        maxSq = std::max(maxSq, dot(d[k], d[k]));
    }
    // Lowest height along A that a ring reaches within the tilt limit; past the ring's own angle
    // from the axis the lowest point is its full distance behind the tool point.
    double lowest = 1e35;
    for (int32_t j = 0; j < N; ++j) {
        const double z = m->ringZ[j], r = m->ringR[j];
        const double v = limit + std::atan2(r, z) >= kPi ? -std::sqrt(z * z + r * r)
                                                         : z * std::cos(limit) - r * std::sin(limit);
        lowest = std::min(lowest, v);
    }
    if (dA[0] < lowest && dA[1] < lowest && dA[2] < lowest) return 1;
    if (maxSq < m->innerSq[0]) return 1;
    if ((dU[0] > rMax && dU[1] > rMax && dU[2] > rMax) || (dU[0] < -rMax && dU[1] < -rMax && dU[2] < -rMax))
        return 1;
    const Vec3 e1 = sub(V[1], V[0]), e2 = sub(V[2], V[0]), pv = sub(f->P, V[0]);
    double a, b, h;
    if (!solveLinear3(e1.x, e2.x, n.x, e1.y, e2.y, n.y, e1.z, e2.z, n.z, pv.x, pv.y, pv.z, &a, &b, &h))
        return 1;
    if (h * h > m->reachSq[N - 1]) return 1;
    const Vec3 foot = add(V[0], add(mul(a, e1), mul(b, e2)));
    if (a < 0.0 || b < 0.0 || a + b > 1.0 || dot(sub(foot, f->P), f->A) < 0.0) {
        const double L = m->angleMargin + limit;
        bool reach = false;
        double g[3];
        for (int k = 0; k < 3; ++k) {
            g[k] = angleFromAxis(f, V[k]);
            reach = reach || g[k] < L;
        }
        static const int kEdges[3][2] = {{0, 1}, {0, 2}, {1, 2}};
        for (const auto& ed : kEdges) {
            if (reach) break;
            const Vec3 dv = sub(V[ed[1]], V[ed[0]]);
            reach = angleFromAxis(f, add(V[ed[0]], mul(0.001, dv))) < g[ed[0]] &&
                    angleFromAxis(f, add(V[ed[0]], mul(0.999, dv))) < g[ed[1]];
        }
        if (!reach) return 1;
    }
    for (int32_t i = 0; i + 1 < N; ++i) {
        // The wider end bounds the band (a profile may narrow, as at a neck above the cutter).
        const double r1 = std::max(m->ringR[i], m->ringR[i + 1]);
        if (std::fabs(m->ringZ[i + 1] - m->ringZ[i]) < 0.001 || h * h > m->reachSq[i + 1]) continue;
        if ((dU[0] > r1 && dU[1] > r1 && dU[2] > r1) || (dU[0] < -r1 && dU[1] < -r1 && dU[2] < -r1)) continue;
        if (m->innerSq[i] > maxSq) continue;
        Events ev;
        for (int32_t j = i; j <= i + 1; ++j) {  // ring against face
            double t[4], phi[4], ba[4], bb[4];
            int inside[4];
            const int pairs = ringPlaneAngles(f, m->ringZ[j], m->ringR[j], V, &n, h, t, inside, phi, ba, bb);
            for (int k = 0; k < 2 * pairs; ++k)
                if (inside[k]) ev.push(t[k], k % 2);
        }
        for (int v = 0; v < 3; ++v) {  // vertex against the end discs
            const Vec3 Vv = V[v], Vn = V[(v + 1) % 3], Vr = V[(v + 2) % 3];
            const Vec3 dv = d[v];
            const double dd = dot(dv, dv), sU = dot(dv, f->U), vA = dot(dv, f->A), vW = dot(dv, f->W);
            for (int32_t j = i; j <= i + 1; ++j) {
                const double R = m->ringR[j], rest = dd - m->innerSq[j];
                if (!(std::fabs(sU) < R && rest > 0.0 && rest < R * R)) continue;
                const double rho = std::sqrt(vA * vA + vW * vW), psi = std::atan2(vA, vW), Z = m->ringZ[j];
                if (!(rho > 0.0) || !(std::fabs(Z / rho) < 1.0)) continue;
                const double as = std::asin(Z / rho);
                for (double t : {as - psi, kPi - as - psi}) {
                    Vec3 ax = axisAt(f, t);
                    if (j == i) ax = mul(-1.0, ax);
                    if (dot(ax, sub(Vn, Vv)) < 0.0 || dot(ax, sub(Vr, Vv)) < 0.0) continue;
                    const double q = dot(dv, acrossAt(f, t));
                    ev.push(t, j == i ? (q > 0.0 ? 0 : 1) : (q >= 0.0 ? 1 : 0));
                }
            }
        }
        for (int v = 0; v < 3; ++v) bandEdgeEvents(f, m, i, &n, V[v], V[(v + 1) % 3], V[(v + 2) % 3], &ev);
        // No contact begins or ends at any tilt: the band meets the triangle at every tilt or at none.
        if (ev.n == 0 && bandHitsTriangle(f, m, i, V, &n, 0.0)) appendAngleInterval(out, -kPi, kPi);
        pairEvents(&ev, out);
        if (out->count > 0) sortAnglePairs(out);
    }
    return 1;
}

namespace {

// Appends one triangle's intervals to the mesh list and merges; silently keeps what fits.
void collect(AngleIntervals* list, const AngleIntervals* tri) {
    for (int32_t k = 0; k < tri->count && list->count < list->capacity; ++k) {
        list->starts[list->count] = tri->starts[k];
        list->ends[list->count] = tri->ends[k];
        ++list->count;
    }
    if (tri->count > 0) sortAnglePairs(list);
}

// Tilts in either direction up to the limit still matter: the larger of the two reaches.
double currentLimit(const AngleIntervals* list) {
    const double up = list->starts[list->count - 1], down = -list->ends[0];
    return std::clamp(std::max(up, down), 0.0, kPi);
}

struct IntervalStore {
    std::vector<double> s, e;
    AngleIntervals list{};
    bool init(int32_t cap) {
        try {
            s.resize(cap);
            e.resize(cap);
        } catch (const std::bad_alloc&) {
            return false;
        }
        list = {0, cap, s.data(), e.data()};
        return true;
    }
};

}  // namespace

int axisIntervalsBoxTree(const AxisFrame* f, const AxisObstacleModel* model, const AxisBoxNode* node,
                         AngleIntervals* list) {
    if (!node) return 1;
    const double r = model->ringR[model->ringCount - 1];
    bool pos = false, neg = false, near = false;
    for (int c = 0; c < 8; ++c) {
        const Vec3 corner = {(c & 4) ? node->xmax : node->xmin, (c & 2) ? node->ymax : node->ymin,
                             (c & 1) ? node->zmax : node->zmin};
        const double s = dot(sub(corner, f->P), f->U);
        near = near || std::fabs(s) <= r;
        (s > 0.0 ? pos : neg) = true;
    }
    if (!near && !(pos && neg)) return 1;
    if (node->child1) {
        axisIntervalsBoxTree(f, model, node->child1, list);
        return axisIntervalsBoxTree(f, model, node->child2, list);
    }
    double ts[kAxisTriangleIntervals], te[kAxisTriangleIntervals];
    AngleIntervals tri{0, kAxisTriangleIntervals, ts, te};
    for (int32_t k = node->first; k <= node->last; ++k) {
        axisIntervalsTriangle(model->items[k], f, model, currentLimit(list), &tri);
        collect(list, &tri);
    }
    return 1;
}

int axisIntervalsOverMesh(const Vec3* P, const Vec3* A, double lo, double hi, double* freeLo,
                          double* freeHi) {
    if (!P || !A || !freeLo || !freeHi || !std::isfinite(lo) || !std::isfinite(hi) || lo > hi ||
        !std::isfinite(P->x + P->y + P->z) || !std::isfinite(A->x + A->y + A->z))
        return kAxisBadArgs;
    const double al = std::sqrt(dot(*A, *A));
    if (!(al > 0.0)) return kAxisBadArgs;
    AxisFrame f;
    f.P = *P;
    f.A = mul(1.0 / al, *A);
    const double hl = std::hypot(f.A.x, f.A.y);
    if (hl < 1e-5) return kAxisVertical;
    f.U = {-f.A.y / hl, f.A.x / hl, 0.0};
    f.W = cross(f.U, f.A);
    lo = std::clamp(lo, -kPi, kPi);
    hi = std::clamp(hi, -kPi, kPi);
    IntervalStore mesh, tri;
    if (!mesh.init(kAxisMeshIntervals) || !tri.init(kAxisMeshIntervals)) return kAxisNoMemory;
    AngleIntervals* list = &mesh.list;
    list->starts[0] = -kPi, list->ends[0] = lo;
    list->starts[1] = hi, list->ends[1] = kPi;
    list->count = 2;
    for (const AxisObstacleModel* m : gSlots) {
        if (!m) continue;
        if (gBoxTree) {
            axisIntervalsBoxTree(&f, m, m->root, list);
        } else {
            for (int32_t k = 0; k <= m->lastItem; ++k) {
                axisIntervalsTriangle(m->items[k], &f, m, currentLimit(list), &tri.list);
                collect(list, &tri.list);
            }
        }
        sortAnglePairs(list);
    }
    closeAngleGaps(list);
    if (list->count < 2) {
        *freeLo = *freeHi = lo;
        return kAxisNoRange;
    }
    *freeLo = list->ends[0];
    *freeHi = list->starts[1];
    return kAxisFree;
}
