// Segment crossings with a surface of revolution, edge by edge as plane rings, cylinders and cones.
#include "surfaces/Implib/slwrz.h"

#include <algorithm>
#include <cmath>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "KVWOG5/geocalc.h"
#include "KVWOG5/lists.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/wogerr.h"

namespace {

Vec3 pointAt(const double* s, double t) {
    return {s[0] + t * (s[3] - s[0]), s[1] + t * (s[4] - s[1]), s[2] + t * (s[5] - s[2])};
}

// Candidates from a quadratic in t, each through the edge's z range.
int checkRoots(const double* seg, const double* edge, double a, double b, double c, PointList3D* hits) {
    double t1 = 0.0, t2 = 0.0;
    const int n = wogSolveQuadratic(a, b, c, &t1, &t2);
    if (n >= 1 && slwrzCheckHit(seg, edge, t1, hits) < 0) return -1;
    if (n >= 2 && slwrzCheckHit(seg, edge, t2, hits) < 0) return -1;
    return 1;
}

// A segment lying in the ring's plane: every point where it meets an edge circle, or where it
// starts or ends, that lies on the ring bounds a piece of the segment on the ring.
int planeInPlane(const double* seg, double rmin, double rmax, PointList3D* hits) {
    const double x1 = seg[0], y1 = seg[1], dx = seg[3] - seg[0], dy = seg[4] - seg[1];
    const double a = dx * dx + dy * dy, b = 2.0 * (x1 * dx + y1 * dy), c0 = x1 * x1 + y1 * y1;
    double ts[6] = {0.0, 1.0};
    int nt = 2;
    for (const double r : {rmin, rmax}) {
        double t1 = 0.0, t2 = 0.0;
        if (a <= 0.0) break;
        const int n = wogSolveQuadratic(a, b, c0 - r * r, &t1, &t2);
        if (n >= 1) ts[nt++] = t1;
        if (n >= 2) ts[nt++] = t2;
    }
    // Hits in the order of travel along the segment.
    for (int i = 1; i < nt; ++i)
        for (int j = i; j > 0 && ts[j] < ts[j - 1]; --j) std::swap(ts[j], ts[j - 1]);
    for (int i = 0; i < nt; ++i) {
        const double t = ts[i];
        if (!(t >= 0.0 && t <= 1.0)) continue;
        const Vec3 p = pointAt(seg, t);
        const double r = std::hypot(p.x, p.y);
        if (r >= rmin - 1e-6 && r <= rmax + 1e-6 && slwrzAddHit(&p, hits) < 0) return -1;
    }
    return 1;
}

// Which cone edges of a batch might give a hit: the arithmetic of slwrzCone, wogSolveQuadratic and
// slwrzCheckHit, the same operations in the same order, two edges at a time; only an edge that may
// hit goes the scalar way, which then finds the very same roots. A zero leading or middle coefficient
// and anything not a number answer "may" and leave the case to the scalar code.
void coneMayHit(const Vec2* profile, const int32_t* edges, int count, const double* seg, bool* may) {
#if defined(__SSE2__)
    const double x1 = seg[0], y1 = seg[1], z1 = seg[2];
    const double dx = seg[3] - x1, dy = seg[4] - y1, dz = seg[5] - z1;
    const __m128d vz1 = _mm_set1_pd(z1), vdz = _mm_set1_pd(dz);
    const __m128d dd = _mm_set1_pd(dx * dx + dy * dy), xd = _mm_set1_pd(x1 * dx + y1 * dy),
                  xx = _mm_set1_pd(x1 * x1 + y1 * y1);
    const __m128d sign = _mm_set1_pd(-0.0), zero = _mm_setzero_pd(), one = _mm_set1_pd(1.0);
    for (int k = 0; k < count; k += 2) {
        const Vec2& p = profile[edges[k]];
        const Vec2& q = profile[edges[k] + 1];
        const Vec2& p2 = profile[edges[k + 1 < count ? k + 1 : k]];
        const Vec2& q2 = profile[edges[k + 1 < count ? k + 1 : k] + 1];
        const __m128d e0 = _mm_set_pd(p2.x, p.x), e1 = _mm_set_pd(p2.y, p.y), e2 = _mm_set_pd(q2.x, q.x),
                      e3 = _mm_set_pd(q2.y, q.y);
        const __m128d swap = _mm_cmplt_pd(_mm_andnot_pd(sign, e2), _mm_andnot_pd(sign, e0));
        const __m128d ra = _mm_or_pd(_mm_and_pd(swap, e2), _mm_andnot_pd(swap, e0));
        const __m128d za = _mm_or_pd(_mm_and_pd(swap, e3), _mm_andnot_pd(swap, e1));
        const __m128d rb = _mm_or_pd(_mm_and_pd(swap, e0), _mm_andnot_pd(swap, e2));
        const __m128d zb = _mm_or_pd(_mm_and_pd(swap, e1), _mm_andnot_pd(swap, e3));
        const __m128d kk = _mm_div_pd(_mm_sub_pd(rb, ra), _mm_sub_pd(zb, za));
        const __m128d c0 = _mm_add_pd(ra, _mm_mul_pd(kk, _mm_sub_pd(vz1, za))), c1 = _mm_mul_pd(kk, vdz);
        const __m128d a = _mm_sub_pd(dd, _mm_mul_pd(c1, c1));
        const __m128d b = _mm_mul_pd(_mm_set1_pd(2.0), _mm_sub_pd(xd, _mm_mul_pd(c0, c1)));
        const __m128d c = _mm_sub_pd(xx, _mm_mul_pd(c0, c0));
        const __m128d disc = _mm_sub_pd(_mm_mul_pd(b, b), _mm_mul_pd(_mm_mul_pd(_mm_set1_pd(4.0), a), c));
        const __m128d s = _mm_sqrt_pd(_mm_max_pd(disc, zero));
        const __m128d q2s = _mm_or_pd(_mm_and_pd(sign, b), _mm_andnot_pd(sign, s));  // copysign(s, b)
        const __m128d qq = _mm_mul_pd(_mm_set1_pd(-0.5), _mm_add_pd(b, q2s));
        const __m128d t1 = _mm_div_pd(qq, a), t2 = _mm_div_pd(c, qq);
        const __m128d zlo = _mm_min_pd(e1, e3), zhi = _mm_max_pd(e1, e3);
        auto hit = [&](__m128d t) {
            const __m128d z = _mm_add_pd(vz1, _mm_mul_pd(t, vdz));
            return _mm_and_pd(_mm_and_pd(_mm_cmpge_pd(t, zero), _mm_cmple_pd(t, one)),
                              _mm_and_pd(_mm_cmpge_pd(z, zlo), _mm_cmple_pd(z, zhi)));
        };
        const __m128d roots = _mm_and_pd(_mm_cmpge_pd(disc, zero), _mm_or_pd(hit(t1), hit(t2)));
        const __m128d odd = _mm_or_pd(_mm_or_pd(_mm_cmpeq_pd(a, zero), _mm_cmpeq_pd(b, zero)),
                                      _mm_or_pd(_mm_cmpunord_pd(disc, e1), _mm_cmpunord_pd(e3, qq)));
        const int m = _mm_movemask_pd(_mm_or_pd(roots, odd));
        may[k] = (m & 1) != 0;
        if (k + 1 < count) may[k + 1] = (m & 2) != 0;
    }
#else
    (void)profile, (void)edges, (void)seg;
    for (int k = 0; k < count; ++k) may[k] = true;
#endif
}

constexpr int32_t kBlockEdges = 32;
constexpr int kBlockFields = 6;  // lowest and highest z, smallest and largest |r|, largest slope, largest |z|

// The segment's terms that every block test of it reads.
struct SegmentBound {
    double z1, dz, xx, xd, dd, ez, rSlack, pSlack;
};

bool segmentBound(const double* seg, SegmentBound* b) {
    for (int k = 0; k < 6; ++k)
        if (!std::isfinite(seg[k])) return false;
    const double x1 = seg[0], y1 = seg[1], dx = seg[3] - x1, dy = seg[4] - y1;
    b->z1 = seg[2], b->dz = seg[5] - seg[2];
    b->xx = x1 * x1 + y1 * y1, b->xd = x1 * dx + y1 * dy, b->dd = dx * dx + dy * dy;
    // Rounding of a hit's height: the exact height of the segment at a stored t lies this close to
    // the edge's heights (a plane ring in the segment's plane: within 2e-8).
    b->ez = 1e-7 + 1e-12 * (std::fabs(b->z1) + std::fabs(b->dz));
    // A hit's plan radius against the edge's: the rounding of the point and its hypot, a ring taken
    // in its plane up to 1e-6 beyond its radii, a segment along a cylinder's axis up to 2e-4 off it.
    b->rSlack = 1e-3 + 1e-9 * (std::sqrt(b->xx) + std::sqrt(b->dd));
    b->pSlack = 1e-12 * (b->xx + 2.0 * std::fabs(b->xd) + b->dd);
    return std::isfinite(b->xx + b->xd + b->dd);
}

// Whether no edge of the block can give a hit. A hit lies at a t of [0, 1] whose exact height is
// within ez of the block's heights, and (for a cone or cylinder) is a root of the rounded
// coefficients, so the exact quadratic rho(t)^2 - r(z(t))^2 is within about 30 eps of the size of its
// terms there, where r(z) is the edge's radius line (its slope rounded) between the edge's radii.
// Rings store only points whose plan radius is within the ring's (1e-6 in its plane). So a block whose
// squared radii lie clear of rho(t)^2 over those t by 1e-11 of the terms, far beyond that rounding,
// holds no hit. Anything not a number answers "may".
bool blockClear(const SegmentBound& s, const double* blk) {
    const double zlo = blk[0], zhi = blk[1], rlo = blk[2], rhi = blk[3], kmax = blk[4], zabs = blk[5];
    const double ez = s.ez + 1e-12 * zabs;
    double u0 = 0.0, u1 = 1.0;
    if (s.dz != 0.0) {
        const double ta = (zlo - ez - s.z1) / s.dz, tb = (zhi + ez - s.z1) / s.dz;
        const double lo = std::min(ta, tb), hi = std::max(ta, tb);
        u0 = std::max(u0, lo - 1e-12 - 1e-14 * std::fabs(lo));
        u1 = std::min(u1, hi + 1e-12 + 1e-14 * std::fabs(hi));
        if (u0 > u1) return true;
    } else if (s.z1 < zlo - ez || s.z1 > zhi + ez) {
        return true;
    }
    // rho(t)^2 = xx + 2 xd t + dd t^2 over [u0, u1].
    auto rho2 = [&](double t) { return s.xx + t * (2.0 * s.xd + s.dd * t); };
    double pmin = std::min(rho2(u0), rho2(u1)), pmax = std::max(rho2(u0), rho2(u1));
    if (s.dd > 0.0) {
        const double tv = -s.xd / s.dd;
        if (tv > u0 && tv < u1) pmin = std::min(pmin, s.xx - s.xd * s.xd / s.dd);
    }
    pmin -= s.pSlack, pmax += s.pSlack;
    const double c1 = kmax * std::fabs(s.dz), c0 = rhi + kmax * (std::fabs(s.z1) + zabs);
    const double terms = s.dd + c1 * c1 + 2.0 * (std::fabs(s.xd) + c0 * c1) + s.xx + c0 * c0;
    const double m = 1e-11 * terms;
    const double dr = s.rSlack + kmax * ez * (1.0 + 1e-9) + 1e-9 * rhi;
    const double lo = std::max(0.0, rlo - dr), hi = rhi + dr;
    return pmin > hi * hi + m || pmax < lo * lo - m;
}

int edgeCrossings(const double* segment, const double* edge, PointList3D* hits) {
    if (std::fabs(edge[3] - edge[1]) < 1e-6) return slwrzPlane(segment, edge, hits);
    if (std::fabs(edge[2] - edge[0]) < 1e-6) return slwrzCylinder(segment, edge, hits);
    return slwrzCone(segment, edge, hits);
}

}  // namespace

int slwrzAddHit(const Vec3* point, PointList3D* hits) {
    if (point == nullptr || hits == nullptr) return -1;
    for (int32_t i = 0; i < hits->count; ++i)
        if (wogDist3D(point, &hits->data[i]) < 1e-6) return 1;
    return pointList3DAdd(hits, point) < 0 ? -1 : 1;
}

int slwrzCheckHit(const double* segment, const double* edge, double t, PointList3D* hits) {
    if (!(t >= 0.0 && t <= 1.0)) return 1;
    const Vec3 p = pointAt(segment, t);
    const double zlo = std::min(edge[1], edge[3]), zhi = std::max(edge[1], edge[3]);
    if (!(p.z >= zlo && p.z <= zhi)) return 1;
    return slwrzAddHit(&p, hits);
}

int slwrzPlane(const double* segment, const double* edge, PointList3D* hits) {
    const double za = edge[1];
    const double rmin = std::min(std::fabs(edge[0]), std::fabs(edge[2]));
    const double rmax = std::max(std::fabs(edge[0]), std::fabs(edge[2]));
    const double dz = segment[5] - segment[2];
    if (std::fabs(dz) > 1e-8) {
        const double t = (za - segment[2]) / dz;
        if (t < 0.0 || t > 1.0) return 0;
        const Vec3 p = pointAt(segment, t);
        const double r = std::hypot(p.x, p.y);
        if (r < rmin || r > rmax) return 0;
        return slwrzAddHit(&p, hits);
    }
    if (std::fabs(segment[2] - za) >= 1e-8) return 0;
    return planeInPlane(segment, rmin, rmax, hits);
}

int slwrzCylinder(const double* segment, const double* edge, PointList3D* hits) {
    const double r = edge[0];
    const double x1 = segment[0], y1 = segment[1], z1 = segment[2];
    const double dx = segment[3] - x1, dy = segment[4] - y1, dz = segment[5] - z1;
    const double dd = dx * dx + dy * dy, c = x1 * x1 + y1 * y1 - r * r;
    if (dd <= 1e-8 && std::fabs(c) < 1e-8) {
        // Along the axis on the cylinder itself: it runs on the surface between the edge's heights.
        if (std::fabs(dz) <= 0.0) return slwrzCheckHit(segment, edge, 0.0, hits);
        if (slwrzCheckHit(segment, edge, (edge[1] - z1) / dz, hits) < 0) return -1;
        return slwrzCheckHit(segment, edge, (edge[3] - z1) / dz, hits) < 0 ? -1 : 1;
    }
    return checkRoots(segment, edge, dd, 2.0 * (dx * x1 + dy * y1), c, hits);
}

int slwrzCone(const double* segment, const double* edge, PointList3D* hits) {
    double ra = edge[0], za = edge[1], rb = edge[2], zb = edge[3];
    if (std::fabs(rb) < std::fabs(ra)) std::swap(ra, rb), std::swap(za, zb);
    // r(z) = ra + k (z - za) along the edge's line; squared against x^2 + y^2 this is the cone
    // with its apex beyond the smaller end, and needs no division by ra (an edge may end on the axis).
    const double k = (rb - ra) / (zb - za);
    const double x1 = segment[0], y1 = segment[1], z1 = segment[2];
    const double dx = segment[3] - x1, dy = segment[4] - y1, dz = segment[5] - z1;
    const double c0 = ra + k * (z1 - za), c1 = k * dz;
    return checkRoots(segment, edge, dx * dx + dy * dy - c1 * c1, 2.0 * (x1 * dx + y1 * dy - c0 * c1),
                      x1 * x1 + y1 * y1 - c0 * c0, hits);
}

int32_t slwrzBlockSize(int32_t n) {
    return n >= 2 ? kBlockFields * ((n - 1 + kBlockEdges - 1) / kBlockEdges) : 0;
}

void slwrzBlocks(const Vec2* profile, int32_t n, double* blocks) {
    if (profile == nullptr || blocks == nullptr) return;
    for (int32_t first = 0; first + 1 < n; first += kBlockEdges) {
        const int32_t last = std::min(first + kBlockEdges, n - 1);
        double zlo = INFINITY, zhi = -INFINITY, rlo = INFINITY, rhi = 0.0, kmax = 0.0, zabs = 0.0;
        bool nan = false;
        for (int32_t i = first; i < last; ++i) {
            const Vec2 a = profile[i], b = profile[i + 1];
            nan = nan || !std::isfinite(a.x + a.y + b.x + b.y);
            zlo = std::min({zlo, a.y, b.y}), zhi = std::max({zhi, a.y, b.y});
            zabs = std::max({zabs, std::fabs(a.y), std::fabs(b.y)});
            rhi = std::max({rhi, std::fabs(a.x), std::fabs(b.x)});
            // An edge whose radius line passes the axis reaches radius 0.
            rlo = std::min(rlo, (a.x <= 0.0) != (b.x <= 0.0) || a.x == 0.0 || b.x == 0.0
                                    ? 0.0
                                    : std::min(std::fabs(a.x), std::fabs(b.x)));
            if (!(std::fabs(b.y - a.y) < 1e-6) && !(std::fabs(b.x - a.x) < 1e-6))
                kmax = std::max(kmax, std::fabs(b.x - a.x) / std::fabs(b.y - a.y) * (1.0 + 1e-9));
        }
        double* blk = &blocks[kBlockFields * static_cast<size_t>(first / kBlockEdges)];
        if (nan) {
            for (int k = 0; k < kBlockFields; ++k) blk[k] = NAN;
            continue;
        }
        blk[0] = zlo, blk[1] = zhi, blk[2] = rlo, blk[3] = rhi, blk[4] = kmax, blk[5] = zabs;
    }
}

int slwrz(const Vec2* profile, int32_t n, const double* segment, PointList3D* hits) {
    return slwrzBlocked(profile, n, nullptr, segment, hits);
}

int slwrzBlocked(const Vec2* profile, int32_t n, const double* blocks, const double* segment,
                 PointList3D* hits) {
    if (hits == nullptr) {
        wogError(-1, "slwrz", __LINE__);
        return -1;
    }
    if (profile == nullptr || segment == nullptr || n < 2) return hits->count;
    // Every hit is a point of the segment (its height within the segment's, up to the rounding of
    // the point) at a height of the edge: a cone or cylinder hit is checked against the edge's heights,
    // a plane ring's lies within 1e-8 of its height. An edge wholly above or below the segment's
    // heights by more than that gives none.
    const double slack = 1e-7 + 1e-12 * (std::fabs(segment[2]) + std::fabs(segment[5]));
    const double segLo = std::min(segment[2], segment[5]) - slack,
                 segHi = std::max(segment[2], segment[5]) + slack;
    // Edges in batches: the cones are screened together, then every edge that may hit is solved
    // on its own, in profile order (a hit within 1e-6 of an earlier one is not stored again).
    constexpr int kBatch = 64;
    int32_t batch[kBatch], cones[kBatch];
    bool may[kBatch];
    SegmentBound bound{};
    if (blocks != nullptr && !segmentBound(segment, &bound)) blocks = nullptr;
    for (int32_t i = 0; i + 1 < n;) {
        int count = 0, coneCount = 0;
        for (; i + 1 < n && count < kBatch; ++i) {
            if (blocks != nullptr && i % kBlockEdges == 0 &&
                blockClear(bound, &blocks[kBlockFields * static_cast<size_t>(i / kBlockEdges)])) {
                i += kBlockEdges - 1;
                continue;
            }
            const double z0 = profile[i].y, z1 = profile[i + 1].y;
            if ((z0 < segLo && z1 < segLo) || (z0 > segHi && z1 > segHi)) continue;
            batch[count++] = i;
            if (!(std::fabs(z1 - z0) < 1e-6) && !(std::fabs(profile[i + 1].x - profile[i].x) < 1e-6))
                cones[coneCount++] = i;
        }
        coneMayHit(profile, cones, coneCount, segment, may);
        for (int k = 0, cone = 0; k < count; ++k) {
            const int32_t e = batch[k];
            const bool isCone = cone < coneCount && cones[cone] == e;
            if (isCone && !may[cone++]) continue;
            const double edge[4] = {profile[e].x, profile[e].y, profile[e + 1].x, profile[e + 1].y};
            if (edgeCrossings(segment, edge, hits) < 0) {
                wogError(-1, "slwrz", __LINE__);
                hits->count = 0;
                return -1;
            }
        }
    }
    return hits->count;
}
