#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include "collision/meshset.h"
#include "collision/toolseg.h"
#include "kernel/base/runreset.h"

namespace {

constexpr double kInitialAngle = 1.5;

struct QueryState {
    Vec3 hitPoint{0, 0, 0};
    int32_t hitIndex = -1;
    double initialAngle = kInitialAngle;
};
QueryState g;

// The angles of the mesh vertices met so far in the current swing query: a vertex is the end of
// several edges, and its angle depends on the query's frame only. A stamp per vertex marks what the
// current query has measured; an entry may hold only a lower bound of the angle (kToolSegAbove).
struct VertexAngles {
    struct Entry {
        uint32_t stamp;
        int32_t code;
        double angle;
    };
    bool on = false;
    uint32_t now = 0;
    std::vector<Entry> at;  // a vertex's whole entry in one cache line
};
VertexAngles gVertex;

// Starts a query over mesh.
void vertexAnglesStart(const CollMesh* mesh) {
    VertexAngles& v = gVertex;
    v.on = mesh->vertexCount > 0;
    if (!v.on) return;
    const size_t n = static_cast<size_t>(mesh->vertexCount);
    if (++v.now == 0 || v.at.size() < n) {
        v.at.assign(std::max(n, v.at.size()), VertexAngles::Entry{0, 0, 0.0});
        v.now = 1;
    }
}

constexpr int32_t kFractionRows = 16;  // sample counts below this have their places tabulated

// One swing of the tool: the pivot, its frame and where the tool shape can reach.
struct Swing {
    Vec3 pivot, direction, reference, swingAxis;  // copied: the tests read them without a pointer each
    double limit;
    double inner, outer;            // radii of the shell within which the tool can reach a point
    double slab;                    // and the largest distance from the swing plane
    bool takeoffPositive;           // every profile radius positive: no point's angle exceeds its polar angle
    const ToolSegTakeoff* takeoff;  // the profile's take-off table when the profile answers the tests
    double width;                   // the edge sampling width
    double shortBelow;              // squared lengths below this clearly take no sample
    // Squared edge lengths between which floor(length / sampling width) is surely k: k^2 w^2 and
    // (k + 1)^2 w^2, each moved in by far more than the rounding of the root and the quotient.
    double countAbove[kFractionRows], countBelow[kFractionRows];
};

// vecDot3D's sum written out, for the inner loops (the library call keeps its operands in memory).
double dot(const Vec3& u, const Vec3& v) {
    return u.x * v.x + u.y * v.y + u.z * v.z;
}

double dist2(const Vec3& a, const Vec3& b) {
    const double dx = a.x - b.x, dy = a.y - b.y, dz = a.z - b.z;
    return dx * dx + dy * dy + dz * dz;
}

// Whether some point of the segment may lie in reach: it meets the shell (the nearest point decides
// the outer bound, the farther end the inner one) and the slab about the swing plane.
bool segmentMeetsReach(const Vec3& a, const Vec3& b, const Swing& s) {
    const Vec3 ab{b.x - a.x, b.y - a.y, b.z - a.z}, ap{s.pivot.x - a.x, s.pivot.y - a.y, s.pivot.z - a.z};
    const double len2 = dot(ab, ab);
    const double t = len2 > 0.0 ? std::clamp(dot(ap, ab) / len2, 0.0, 1.0) : 0.0;
    const Vec3 near{a.x + t * ab.x, a.y + t * ab.y, a.z + t * ab.z};
    const double nearest = std::sqrt(dist2(near, s.pivot));
    const double farthest = std::sqrt(std::max(dist2(a, s.pivot), dist2(b, s.pivot)));
    const double sa = dot(ap, s.swingAxis), sb = sa - dot(ab, s.swingAxis);  // -(a - pivot).axis
    return nearest <= s.outer && farthest >= s.inner && std::min(sa, sb) <= s.slab &&
           std::max(sa, sb) >= -s.slab;
}

struct Box {
    double xmin, xmax, ymin, ymax, zmin, zmax;
};

Box boxOf(const CollTreeNode* n) {
    return {n->xmin, n->xmax, n->ymin, n->ymax, n->zmin, n->zmax};
}

// A box's squared distances from the pivot (nearest and farthest point) and its extent along the swing
// axis (centre offset c, half-size h): the reach test and the angle bound both take them.
struct BoxRanges {
    double d2min, d2max, c, h;
};

BoxRanges rangesOf(const Box& n, const Vec3& p, const Vec3& w) {
    const double dx = std::max({n.xmin - p.x, 0.0, p.x - n.xmax});
    const double dy = std::max({n.ymin - p.y, 0.0, p.y - n.ymax});
    const double dz = std::max({n.zmin - p.z, 0.0, p.z - n.zmax});
    const double fx = std::max(std::fabs(n.xmin - p.x), std::fabs(n.xmax - p.x));
    const double fy = std::max(std::fabs(n.ymin - p.y), std::fabs(n.ymax - p.y));
    const double fz = std::max(std::fabs(n.zmin - p.z), std::fabs(n.zmax - p.z));
    const double c = ((n.xmin + n.xmax) / 2 - p.x) * w.x + ((n.ymin + n.ymax) / 2 - p.y) * w.y +
                     ((n.zmin + n.zmax) / 2 - p.z) * w.z;
    const double h = (n.xmax - n.xmin) / 2 * std::fabs(w.x) + (n.ymax - n.ymin) / 2 * std::fabs(w.y) +
                     (n.zmax - n.zmin) / 2 * std::fabs(w.z);
    return {dx * dx + dy * dy + dz * dz, fx * fx + fy * fy + fz * fz, c, h};
}

bool boxMeetsReach(const BoxRanges& r, const Swing& s) {
    if (std::sqrt(r.d2min) > s.outer || std::sqrt(r.d2max) < s.inner) return false;
    return r.c - r.h <= s.slab && r.c + r.h >= -s.slab;
}

Swing makeSwing(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                double limit) {
    double in2, out2, radius;
    toolSegReach(&in2, &out2, &radius);
    // A hair of slack: a point on a boundary is still tested.
    const double inner = std::sqrt(std::max(in2, 0.0)) * (1 - 1e-12);
    const double outer = std::sqrt(std::max(out2, 0.0)) * (1 + 1e-12) + 1e-12;
    const double slab = radius * (1 + 1e-12) + 1e-12;
    const double width = toolSegSampleWidth();
    Swing w{*pivot,  *direction, *reference, *swingAxis, limit, inner, outer, slab, toolSegMinRadius() > 1e-6,
            nullptr, width,      0.0,        {},         {}};
    w.shortBelow = width * width * (1 - 1e-9);
    w.takeoff = toolSegTakeoff();
    for (int k = 0; k < kFractionRows; k++) {
        const double lo = k * width, hi = (k + 1) * width;
        w.countAbove[k] = lo * lo * (1 + 1e-9), w.countBelow[k] = hi * hi * (1 - 1e-9);
    }
    return w;
}

// What the take-off table tells of p against the running angle (kTakeoffUnknown without a table).
int tabled(const Swing& s, const Vec3* p, double floor, double* bound) {
    return s.takeoff ? toolSegTakeoffTest(s.takeoff, &s.pivot, &s.direction, &s.reference, &s.swingAxis, p,
                                          floor, bound)
                     : kTakeoffUnknown;
}

int pointTest(const Swing& s, const Vec3* p, double* ioAngle) {
    double bound;
    switch (tabled(s, p, *ioAngle, &bound)) {
        case kTakeoffAbove:
            return kToolSegReach;
        case kTakeoffOut:
            return kToolSegOut;
        default:
            break;
    }
    if (!s.takeoff)
        return toolPointTest(&s.pivot, &s.direction, &s.reference, &s.swingAxis, p, ioAngle, s.limit);
    // toolPointTest of the profile without asking the table again.
    double angle;
    const int r =
        toolSegPointAngleUntabled(&s.pivot, &s.direction, &s.reference, &s.swingAxis, p, 1, *ioAngle, &angle);
    if (r == kToolSegAbove) return kToolSegReach;
    if (r != kToolSegReach) return r == kToolSegNearTip ? kToolSegOut : r;
    if (angle < *ioAngle && angle > -s.limit) {
        *ioAngle = angle;
        return kToolSegNewMin;
    }
    return kToolSegReach;
}

// pointTest of the vertex at p numbered v, its angle measured once per query.
int vertexTest(const Vec3* p, int32_t v, const Swing& s, double* ioAngle) {
    VertexAngles& c = gVertex;
    if (!c.on) return pointTest(s, p, ioAngle);
    VertexAngles::Entry& e = c.at[v];
    if (e.stamp != c.now) {
        e.stamp = c.now;
        const int t = tabled(s, p, *ioAngle, &e.angle);
        e.code = t == kTakeoffAbove ? kToolSegAbove
                 : t == kTakeoffOut ? kToolSegOut
                                    : toolSegPointAngleUntabled(&s.pivot, &s.direction, &s.reference,
                                                                &s.swingAxis, p, 1, *ioAngle, &e.angle);
    }
    if (e.code == kToolSegAbove) {
        // A lower bound kept: it holds off every later use too while the smallest angle only falls.
        if (e.angle >= *ioAngle) return kToolSegReach;
        e.code = toolSegPointAngle(&s.pivot, &s.direction, &s.reference, &s.swingAxis, p, 1, &e.angle);
    }
    if (e.code != kToolSegReach) return kToolSegOut;
    if (e.angle < *ioAngle && e.angle > -s.limit) {
        *ioAngle = e.angle;
        return kToolSegNewMin;
    }
    return kToolSegReach;
}

// The sample places k / n of the short edges (most take one to three samples), divided once.
struct Fractions {
    double at[kFractionRows][kFractionRows];
    Fractions() {
        for (int32_t n = 1; n < kFractionRows; n++)
            for (int32_t k = 0; k < n; k++) at[n][k] = static_cast<double>(k) / n;
    }
};
const Fractions gFractions;

int edgeTest(const CollMesh* mesh, int32_t edge, const Swing& s, double* ioAngle) {
    // The tree's numbering where there is one (the query's vertex angles are kept in either).
    int32_t ends[2];
    const Vec3 *pa, *pb;
    if (mesh->treeEnds) {
        ends[0] = mesh->treeEnds[2 * edge], ends[1] = mesh->treeEnds[2 * edge + 1];
        pa = &mesh->treePoints[ends[0]], pb = &mesh->treePoints[ends[1]];
    } else {
        ends[0] = mesh->edges[edge].a, ends[1] = mesh->edges[edge].b;
        pa = &mesh->vertices[ends[0]].point, pb = &mesh->vertices[ends[1]].point;
    }
    const Vec3 &a = *pa, &b = *pb;
    int best = 0;
    for (int k = 0; k < 2; k++) {
        const int r = vertexTest(k ? pb : pa, ends[k], s, ioAngle);
        if (r == kToolSegNewMin) g.hitPoint = k ? b : a;
        best = std::max(best, r);
    }
    // Both ends out of reach says nothing about the middle of a long edge: only an edge that misses
    // the reach altogether is passed over.
    if (best == 0 && !segmentMeetsReach(a, b, s)) return 0;
    // The edge's record is read only for a mesh with samples (the ends come from the tree's layout).
    if (mesh->samples && mesh->edges[edge].sampleCount > 0) {
        const CollEdge& e = mesh->edges[edge];
        for (int32_t k = 0; k < e.sampleCount; k++) {
            const Vec3* q = &mesh->samples[e.firstSample + k];
            const int r = pointTest(s, q, ioAngle);
            if (r == kToolSegNewMin) g.hitPoint = *q;
            best = std::max(best, r);
        }
        return best;
    }
    const double w = s.width;
    if (!(w > 0.0)) return -1;
    // Clearly shorter than the width (half the edges): no sample, without the root and the quotient.
    const double len2 = dist2(a, b);
    if (len2 < s.shortBelow) return best;
    // The count from the squared length where it lies clearly between two whole multiples of the
    // width (most edges take one to three samples), else from the root and the quotient.
    int32_t k = 1;
    while (k < kFractionRows - 1 && !(len2 < s.countBelow[k])) k++;
    int32_t n = k + 1;
    if (k == kFractionRows - 1 || !(len2 > s.countAbove[k])) {
        const double count = std::floor(std::sqrt(len2) / w) + 1;
        if (count > 1e7) return -1;
        n = static_cast<int32_t>(count);
    }
    const double* fractions = n < kFractionRows ? gFractions.at[n] : nullptr;
    for (int32_t k = 1; k < n; k++) {
        const double t = fractions ? fractions[k] : static_cast<double>(k) / n;
        const Vec3 q{a.x + t * (b.x - a.x), a.y + t * (b.y - a.y), a.z + t * (b.z - a.z)};
        const int r = pointTest(s, &q, ioAngle);
        if (r == kToolSegNewMin) g.hitPoint = q;
        best = std::max(best, r);
    }
    return best;
}

// The polar angle by the polynomial arc tangent, by the library's where that has none.
double polarOf(double b, double a) {
    const double near = toolSegAtan2Near(b, a);
    return std::isnan(near) ? std::atan2(b, a) : near;
}

// The polar angles in the swing plane of a box's eight corners, whose dot products with the direction
// and the reference are sums of one value per axis (ax, bx: the corner's side along the first axis, and
// so on): the smallest less the slack in *lo and, when asked, the largest plus the slack in *hi. False
// when the corners do not lie clear of the origin and of the angle's cut along -direction.
[[gnu::always_inline]] inline bool cornerPolars(const double ax[2], const double ay[2], const double az[2],
                                                const double bx[2], const double by[2], const double bz[2],
                                                double* lo, double* hi) {
    double ca[8], cb[8], amin = INFINITY, bmin = INFINITY, bmax = -INFINITY;
    for (int k = 0; k < 8; k++) {
        ca[k] = ax[k & 1] + ay[k >> 1 & 1] + az[k >> 2];
        cb[k] = bx[k & 1] + by[k >> 1 & 1] + bz[k >> 2];
        amin = std::min(amin, ca[k]), bmin = std::min(bmin, cb[k]), bmax = std::max(bmax, cb[k]);
    }
    if (bmin <= 0.0 && bmax >= 0.0 && amin <= 0.0) return false;
    // Clear of the cut, the corners lie within a half-plane about the origin: the turn from one to
    // another tells which polar angle is smaller, so only the extreme corners need an arc tangent (a
    // turn misjudged by rounding costs far less than the slack).
    int first = 0, last = 0;
    for (int k = 1; k < 8; k++) {
        if (ca[first] * cb[k] - cb[first] * ca[k] < 0.0) first = k;
        if (ca[last] * cb[k] - cb[last] * ca[k] > 0.0) last = k;
    }
    // The polynomial's arc tangents lie within 1e-7 of the library's.
    *lo = polarOf(cb[first], ca[first]) - 1e-6;
    if (hi != nullptr) *hi = polarOf(cb[last], ca[last]) + 1e-6;
    return true;
}

// A lower bound of the swing angle of every point in a box: the smallest polar angle of the box
// in the swing plane (where the box lies clear of the origin and of the angle's cut along -direction)
// less the largest angle the tool profile takes off at the box's distances. INFINITY also when every
// angle in the box lies at or below -limit, where no point counts: the largest polar angle bounds
// them when the profile takes off no negative angle.
double boxAngleBound(const Box& n, const BoxRanges& r, const Swing& s, bool leaf, double floor) {
    // A corner's dot products are sums of one product per axis, taken once for each side of the box
    // (the same products and the same order of addition as corner by corner).
    const Vec3 &p = s.pivot, &d = s.direction, &e = s.reference;
    const double cx[2] = {n.xmin - p.x, n.xmax - p.x}, cy[2] = {n.ymin - p.y, n.ymax - p.y},
                 cz[2] = {n.zmin - p.z, n.zmax - p.z};
    const double ax[2] = {cx[0] * d.x, cx[1] * d.x}, ay[2] = {cy[0] * d.y, cy[1] * d.y},
                 az[2] = {cz[0] * d.z, cz[1] * d.z};
    const double bx[2] = {cx[0] * e.x, cx[1] * e.x}, by[2] = {cy[0] * e.y, cy[1] * e.y},
                 bz[2] = {cz[0] * e.z, cz[1] * e.z};
    double polar, polarMax;
    if (!cornerPolars(ax, ay, az, bx, by, bz, &polar, &polarMax)) return -INFINITY;
    if (s.takeoffPositive && polarMax + 1e-9 <= -s.limit) return INFINITY;
    // The box's nearest distance from the swing plane: points off the plane lose less of their angle.
    const double d2min = r.d2min, d2max = r.d2max;
    const double sMin = std::max(std::fabs(r.c) - r.h * (1 + 1e-12), 0.0);
    // The table's cells answer most boxes cheaply; a leaf it does not hold off takes the bound over
    // the box's own ranges too (both hold: the smaller is kept), which spares it most of the time.
    double half = s.takeoff ? toolSegTakeoffOver(s.takeoff, d2min, d2max, sMin) : NAN;
    if (std::isnan(half) || (leaf && half >= 0.0 && polar - half - 1e-9 < floor))
        half = std::fmin(half, toolSegHalfAngleBound(d2min, d2max, sMin));
    return half < 0.0 ? INFINITY : polar - half;
}

// Eigenvectors of the symmetric 3x3 matrix a (destroyed) by Jacobi rotations, as the columns of v. Any
// orthonormal frame makes a valid box; the principal one makes it tight.
void principalAxes(double a[3][3], double v[3][3]) {
    for (int i = 0; i < 3; i++)
        for (int j = 0; j < 3; j++) v[i][j] = i == j ? 1.0 : 0.0;
    for (int sweep = 0; sweep < 4; sweep++) {
        for (int p = 0; p < 2; p++) {
            for (int q = p + 1; q < 3; q++) {
                if (!(std::fabs(a[p][q]) > 1e-30 * (std::fabs(a[p][p]) + std::fabs(a[q][q])))) continue;
                const double theta = (a[q][q] - a[p][p]) / (2 * a[p][q]);
                const double t =
                    std::copysign(1.0, theta) / (std::fabs(theta) + std::sqrt(theta * theta + 1));
                const double c = 1 / std::sqrt(t * t + 1), sn = t * c;
                for (int k = 0; k < 3; k++) {
                    const double kp = a[k][p], kq = a[k][q];
                    a[k][p] = c * kp - sn * kq, a[k][q] = sn * kp + c * kq;
                }
                for (int k = 0; k < 3; k++) {
                    const double pk = a[p][k], qk = a[q][k];
                    a[p][k] = c * pk - sn * qk, a[q][k] = sn * pk + c * qk;
                }
                for (int k = 0; k < 3; k++) {
                    const double kp = v[k][p], kq = v[k][q];
                    v[k][p] = c * kp - sn * kq, v[k][q] = sn * kp + c * kq;
                }
            }
        }
    }
}

// The turned box of a leaf's end points (the samples lie on the edges, within it).
// 1 taken, 2 none (points not finite).
int takeHull(const CollMesh* mesh, const CollTreeNode* node, int32_t leaf, CollLeafHull* h) {
    // Each point of the leaf at least once: with the tree's numbering its new points in their run,
    // then the ends numbered before it.
    const auto eachPoint = [&](auto&& use) {
        const int32_t from = 2 * node->first, to = 2 * node->last + 1;
        if (mesh->treeEnds) {
            const int32_t newFrom = mesh->leafFirstPoint[leaf], newTo = mesh->leafFirstPoint[leaf + 1];
            for (int32_t v = newFrom; v < newTo; v++) use(mesh->treePoints[v]);
            for (int32_t i = from; i <= to; i++)
                if (mesh->treeEnds[i] < newFrom) use(mesh->treePoints[mesh->treeEnds[i]]);
        } else {
            for (int32_t i = from; i <= to; i++) {
                const CollEdge& e = mesh->edges[i / 2];
                use(mesh->vertices[i % 2 ? e.b : e.a].point);
            }
        }
    };
    // The sums of the points' offsets from the box's corner and of their products: only the axes
    // come of them, and any axes hold the points (the projections below decide the sizes).
    const Vec3 o{node->xmin, node->ymin, node->zmin};
    double n = 0, sx = 0, sy = 0, sz = 0, sxx = 0, sxy = 0, sxz = 0, syy = 0, syz = 0, szz = 0;
    eachPoint([&](const Vec3& p) {
        const double x = p.x - o.x, y = p.y - o.y, z = p.z - o.z;
        n += 1, sx += x, sy += y, sz += z;
        sxx += x * x, sxy += x * y, sxz += x * z, syy += y * y, syz += y * z, szz += z * z;
    });
    if (!(n > 0)) return 2;
    const double mx = sx / n, my = sy / n, mz = sz / n;
    double a[3][3] = {{sxx - sx * mx, sxy - sx * my, sxz - sx * mz},
                      {sxy - sx * my, syy - sy * my, syz - sy * mz},
                      {sxz - sx * mz, syz - sy * mz, szz - sz * mz}};
    for (const auto& row : a)
        for (const double x : row)
            if (!std::isfinite(x)) return 2;
    double v[3][3];
    principalAxes(a, v);
    double lo[3], hi[3];
    for (int k = 0; k < 3; k++) {
        const Vec3 u{v[0][k], v[1][k], v[2][k]};
        const double len = std::sqrt(dot(u, u));
        if (!(len > 0.5) || !std::isfinite(len)) return 2;
        h->axis[k] = {u.x / len, u.y / len, u.z / len};
        lo[k] = INFINITY, hi[k] = -INFINITY;
    }
    eachPoint([&](const Vec3& p) {
        for (int k = 0; k < 3; k++) {
            const double t = dot(p, h->axis[k]);
            lo[k] = std::min(lo[k], t), hi[k] = std::max(hi[k], t);
        }
    });
    // The projections and the centre's sum round by a few units of size * 1e-16; the axes are
    // orthonormal to about as much: grown by far more than that.
    const double size = std::max({std::fabs(node->xmin), std::fabs(node->xmax), std::fabs(node->ymin),
                                  std::fabs(node->ymax), std::fabs(node->zmin), std::fabs(node->zmax)});
    const double grow = size * 1e-9 + 1e-12;
    h->centre = {0, 0, 0};
    for (int k = 0; k < 3; k++) {
        const double mid = (lo[k] + hi[k]) / 2;
        h->centre.x += mid * h->axis[k].x, h->centre.y += mid * h->axis[k].y,
            h->centre.z += mid * h->axis[k].z;
        h->half[k] = (hi[k] - lo[k]) / 2 + grow;
    }
    if (std::isfinite(size) && std::isfinite(h->half[0] + h->half[1] + h->half[2]) &&
        std::isfinite(h->centre.x) && std::isfinite(h->centre.y) && std::isfinite(h->centre.z))
        return 1;
    return 2;
}

// boxAngleBound over a leaf's turned box: its corners c + sum of +-half_k axis_k, their dot products
// taken from the centre's and the axes' (each corner rounds within the slack of the bound).
double hullAngleBound(const CollLeafHull& h, const Swing& s) {
    const Vec3 cq{h.centre.x - s.pivot.x, h.centre.y - s.pivot.y, h.centre.z - s.pivot.z};
    const double a0 = dot(cq, s.direction), b0 = dot(cq, s.reference);
    double ad[3], bd[3], d2min = 0.0, d2max = 0.0, sHalf = 0.0;
    for (int k = 0; k < 3; k++) {
        ad[k] = h.half[k] * dot(h.axis[k], s.direction), bd[k] = h.half[k] * dot(h.axis[k], s.reference);
        const double t = std::fabs(dot(cq, h.axis[k]));
        const double near = std::max(t - h.half[k], 0.0), far = t + h.half[k];
        d2min += near * near, d2max += far * far;
        sHalf += h.half[k] * std::fabs(dot(h.axis[k], s.swingAxis));
    }
    const double ax[2] = {a0 - ad[0], a0 + ad[0]}, ay[2] = {-ad[1], ad[1]}, az[2] = {-ad[2], ad[2]};
    const double bx[2] = {b0 - bd[0], b0 + bd[0]}, by[2] = {-bd[1], bd[1]}, bz[2] = {-bd[2], bd[2]};
    double polar;
    if (!cornerPolars(ax, ay, az, bx, by, bz, &polar, nullptr)) return -INFINITY;
    // The box's distances grown a little more: the sums above round too.
    d2min *= 1 - 1e-9, d2max *= 1 + 1e-9;
    const double sMin = std::max(std::fabs(dot(cq, s.swingAxis)) - sHalf * (1 + 1e-9), 0.0);
    const double half = s.takeoff ? toolSegTakeoffOver(s.takeoff, d2min, d2max, sMin) : NAN;
    if (std::isnan(half)) return -INFINITY;
    return half < 0.0 ? INFINITY : polar - half;
}

// The larger of a leaf's two bounds (both hold) where its box bound alone lets it in.
double leafAngleBound(const CollMesh* mesh, const CollTreeNode* node, const Swing& s, double bound,
                      double floor) {
    if (!(bound - 1e-9 < floor) || !mesh->leafHulls || !mesh->leafHullState || !mesh->leafFirstPoint)
        return bound;
    const int32_t leaf = collMeshLeafAt(mesh, node->first);
    if (leaf < 0) return bound;
    CollLeafHull& h = mesh->leafHulls[leaf];
    uint8_t& state = mesh->leafHullState[leaf];
    if (state == 0) state = static_cast<uint8_t>(takeHull(mesh, node, leaf, &h));
    return state == 1 ? std::max(bound, hullAngleBound(h, s)) : bound;
}

int leafQuery(const CollMesh* mesh, const CollTreeNode* node, const Swing& s, double* ioAngle) {
    int best = 0;
    for (int32_t i = node->first; i <= node->last; i++) {
        const int r = edgeTest(mesh, i, s, ioAngle);
        if (r < 0) return r;
        best = std::max(best, r);
    }
    return best;
}

int treeQuery(const CollMesh* mesh, const CollTreeNode* node, const Swing& s, double* ioAngle) {
    if (!node || !boxMeetsReach(rangesOf(boxOf(node), s.pivot, s.swingAxis), s)) return 0;
    if (node->left || node->right) {
        const int l = treeQuery(mesh, node->left, s, ioAngle);
        if (l < 0) return l;
        const int r = treeQuery(mesh, node->right, s, ioAngle);
        return r < 0 ? r : std::max(l, r);
    }
    return leafQuery(mesh, node, s, ioAngle);
}

// The tree searched in the order of the nodes' lower bounds of the swing angle, the search ending when
// the smallest bound left is not below the angle found: the edges are sampled inside their node's box
// and the tool profile answers the point tests, so no node passed over holds a new smallest angle. The
// same smallest angle as the full search; only among exactly equal angles may another point be named.
int treeQueryBounded(const CollMesh* mesh, const CollTreeNode* root, const Swing& s, double* ioAngle) {
    using Entry = std::pair<double, const CollTreeNode*>;
    std::vector<Entry> heap;
    auto greater = [](const Entry& a, const Entry& b) { return a.first > b.first; };
    auto push = [&](const CollTreeNode* n) {
        if (!n) return;
        const Box box = boxOf(n);
        const BoxRanges r = rangesOf(box, s.pivot, s.swingAxis);
        if (!boxMeetsReach(r, s)) return;
        const bool leaf = !n->left && !n->right;
        double bound = boxAngleBound(box, r, s, leaf, *ioAngle);
        if (leaf) bound = leafAngleBound(mesh, n, s, bound, *ioAngle);
        if (bound - 1e-9 >= *ioAngle) return;
        heap.push_back({bound, n});
        std::push_heap(heap.begin(), heap.end(), greater);
    };
    push(root);
    int best = 0;
    while (!heap.empty()) {
        std::pop_heap(heap.begin(), heap.end(), greater);
        const auto [bound, node] = heap.back();
        heap.pop_back();
        if (bound - 1e-9 >= *ioAngle) break;
        if (node->left || node->right) {
            push(node->left);
            push(node->right);
            continue;
        }
        const int r = leafQuery(mesh, node, s, ioAngle);
        if (r < 0) return r;
        best = std::max(best, r);
    }
    return best;
}

}  // namespace

int toolPointTest(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                  const Vec3* p, double* ioAngle, double limit) {
    // The profile's test measures the active assembly's contour in its place (toolSegShapeRefresh).
    const int r = toolSegPointTest(pivot, direction, reference, swingAxis, p, ioAngle, limit, 1);
    return r == kToolSegNearTip ? 0 : r;
}

int collMeshEdgeTest(const CollMesh* mesh, int32_t edge, const Vec3* pivot, const Vec3* direction,
                     const Vec3* reference, const Vec3* swingAxis, double* ioAngle, double limit) {
    if (!mesh || edge < 0 || edge >= mesh->edgeCount) return -1;
    return edgeTest(mesh, edge, makeSwing(pivot, direction, reference, swingAxis, limit), ioAngle);
}

int meshSetCollide(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                   const MeshSet* set, int32_t selector, double* ioAngle, double limit) {
    static const int8_t kPicks[10][5] = {{-1},       {0, -1}, {2, 1, -1}, {0, 1, -1},   {2, -1},
                                         {3, 4, -1}, {0, -1}, {1, -1},    {2, 3, 1, 4}, {0, 2, -1}};
    g.hitPoint = {0, 0, 0};
    g.hitIndex = -1;
    *ioAngle = g.initialAngle;
    if (!set) return -1;
    if (selector < 1 || selector > 9) return 1;
    const Swing s = makeSwing(pivot, direction, reference, swingAxis, limit);
    for (int k = 0; k < 5 && kPicks[selector][k] >= 0; k++) {
        const int32_t slot = kPicks[selector][k];
        const CollMesh* mesh = set->meshes[slot];
        if (!mesh) continue;
        int best = 0;
        vertexAnglesStart(mesh);
        if (mesh->tree) {
            best = !mesh->samples ? treeQueryBounded(mesh, mesh->tree, s, ioAngle)
                                  : treeQuery(mesh, mesh->tree, s, ioAngle);
        } else {
            for (int32_t i = 0; i < mesh->edgeCount && best >= 0; i++) {
                const int r = edgeTest(mesh, i, s, ioAngle);
                best = r < 0 ? r : std::max(best, r);
            }
        }
        gVertex.on = false;
        if (best < 0) return -1;
        // Only a new smallest angle names the copy: a copy merely within reach did not give the hit point.
        if (best == kToolSegNewMin) g.hitIndex = slot;
    }
    return 1;
}

int meshSetCollideBelow(const Vec3* pivot, const Vec3* direction, const Vec3* reference,
                        const Vec3* swingAxis, const MeshSet* set, int32_t selector, double below,
                        double* ioAngle, double limit) {
    const double initial = g.initialAngle;
    g.initialAngle = below;
    const int r = meshSetCollide(pivot, direction, reference, swingAxis, set, selector, ioAngle, limit);
    g.initialAngle = initial;
    return r;
}

int meshSetCollideAll(const Vec3* pivot, const Vec3* direction, const Vec3* toPoint, const MeshSet* set,
                      int32_t selector, double* outDepth) {
    const Vec3 away{-toPoint->x, -toPoint->y, -toPoint->z};
    Vec3 axis, reference;
    if (crossUnit3D(direction, &away, &axis) < 0 || crossUnit3D(&axis, direction, &reference) < 0) return -1;
    g.initialAngle = 0.0;
    double angle = 0.0;
    const int r = meshSetCollide(pivot, direction, &reference, &axis, set, selector, &angle, kInitialAngle);
    g.initialAngle = kInitialAngle;
    if (r < 0) return r;
    if (outDepth) *outDepth = -angle;
    return 1;
}

int32_t meshSetHitIndex() {
    return g.hitIndex;
}

int32_t meshSetHitPoint(Vec3* out) {
    if (out) *out = g.hitPoint;
    return g.hitIndex;
}

int meshSetCheckPoints(const Vec3* tip, const Vec3* axis, const MeshSet* set, Vec3* outPoint) {
    if (!set) return 0;
    for (const CollMesh* mesh : set->meshes) {
        if (!mesh) continue;
        for (int32_t i = 0; i < mesh->vertexCount; i++) {
            if (toolSegPointInside(&mesh->vertices[i].point, tip, axis)) {
                if (outPoint) *outPoint = mesh->vertices[i].point;
                return 1;
            }
        }
        for (int32_t i = 0; i < mesh->edgeCount; i++) {
            const int r = toolSegEdgeHits(&mesh->vertices[mesh->edges[i].a].point,
                                          &mesh->vertices[mesh->edges[i].b].point, tip, axis, outPoint);
            if (r != 0) return r;
        }
    }
    return 0;
}

void meshSetResetState() {
    g = QueryState{};
    gVertex = VertexAngles{};
    meshSetSetFolders(nullptr, nullptr);
    collMeshUseWide(1);
}
static const RunReset gRunReset(kRunResetCollision, "meshSet", meshSetResetState);
