#include "pocket/elemgap.h"

#include <algorithm>
#include <cmath>

#include "pocket/chaincross.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketstate.h"

namespace {

// The point of an arc's circle nearest to q, when it lies on the arc.
bool nearestOnArc(const ContourElement& arc, const Vec2& q, Vec2* out) {
    const Vec2 c{arc.g[kAcx], arc.g[kAcy]};
    const double d = pointDist2D(&c, &q);
    if (d < 1e-12) return false;
    *out = {c.x + (q.x - c.x) * arc.g[kAr] / d, c.y + (q.y - c.y) * arc.g[kAr] / d};
    return pointOnArc(out, &arc) == 1;
}

double dot(Vec2 u, Vec2 v) {
    return u.x * v.x + u.y * v.y;
}

double length(Vec2 u) {
    return std::sqrt(u.x * u.x + u.y * u.y);
}

Vec2 minus(Vec2 u, Vec2 v) {
    return {u.x - v.x, u.y - v.y};
}

double cross(Vec2 u, Vec2 v) {
    return u.x * v.y - u.y * v.x;
}

// The squared distance from p to the segment from a to b.
double segmentDistance2(Vec2 p, Vec2 a, Vec2 b) {
    const Vec2 d = minus(b, a), w = minus(p, a);
    const double l2 = dot(d, d);
    const double t = l2 > 0 ? std::clamp(dot(w, d) / l2, 0.0, 1.0) : 0.0;
    const Vec2 f{w.x - t * d.x, w.y - t * d.y};
    return dot(f, f);
}

// The squared distance between two segments, 0 where they may cross.
double lineLineGap2(const ElemGapShape& m, const ElemGapShape& e) {
    const Vec2 dm = minus(m.b, m.a), de = minus(e.b, e.a);
    const double o1 = cross(dm, minus(e.a, m.a)), o2 = cross(dm, minus(e.b, m.a)),
                 o3 = cross(de, minus(m.a, e.a)), o4 = cross(de, minus(m.b, e.a));
    if (!(o1 > 0 && o2 > 0) && !(o1 < 0 && o2 < 0) && !(o3 > 0 && o4 > 0) && !(o3 < 0 && o4 < 0)) return 0;
    return std::min({segmentDistance2(m.a, e.a, e.b), segmentDistance2(m.b, e.a, e.b),
                     segmentDistance2(e.a, m.a, m.b), segmentDistance2(e.b, m.a, m.b)});
}

// Every point of the segment against every point of the ring between the radii about the centre.
double segmentRingGap(const ElemGapShape& line, const ElemGapShape& arc) {
    const double near = std::sqrt(segmentDistance2(arc.c, line.a, line.b));
    const double far = std::max(length(minus(line.a, arc.c)), length(minus(line.b, arc.c)));
    return std::max({0.0, near - arc.rhi, arc.rlo - far});
}

double ringRingGap(const ElemGapShape& m, const ElemGapShape& e) {
    const double d = length(minus(m.c, e.c));
    return std::max({0.0, d - m.rhi - e.rhi, m.rlo - d - e.rhi, e.rlo - d - m.rhi});
}

// Whether the unit direction u from an arc's centre may lie on its sweep: the measures take points a
// little past the ends.
constexpr double kSweepMargin = 1e-3;  // of a unit direction: ten times the measures' angle past an end

bool maySweep(const ElemGapShape& arc, Vec2 u) {
    if (arc.whole) return true;
    const Vec2 ds = minus(u, arc.us), de = minus(u, arc.ue);
    if (dot(ds, ds) < kSweepMargin * kSweepMargin || dot(de, de) < kSweepMargin * kSweepMargin) return true;
    const double se = arc.sense * cross(arc.us, arc.ue), sp = arc.sense * cross(arc.us, u),
                 pe = arc.sense * cross(u, arc.ue);
    return se > kSweepMargin ? sp >= 0 && pe >= 0 : sp >= 0 || pe >= 0;
}

// At most the distance the measures take from the point to the arc: to its ends, and to its circle where
// the point's direction (or the opposite one) may lie on the sweep.
double pointArcGap(Vec2 p, const ElemGapShape& arc) {
    double best = std::min(length(minus(p, arc.a)), length(minus(p, arc.b)));
    const Vec2 v = minus(p, arc.c);
    const double d = length(v);
    if (!(d > 0)) return std::min(best, arc.r);
    const Vec2 u{v.x / d, v.y / d};
    if (maySweep(arc, u)) best = std::min(best, std::fabs(d - arc.r));
    if (maySweep(arc, {-u.x, -u.y})) best = std::min(best, d + arc.r);
    return best;
}

// At most the gap the measures take between the segment and the arc; 0 where the segment may cross the
// arc's circle on its sweep.
double segmentArcGap(const ElemGapShape& line, const ElemGapShape& arc) {
    const Vec2 d = minus(line.b, line.a), w = minus(line.a, arc.c);
    const double a2 = dot(d, d);
    if (a2 > 0) {
        const double half = dot(d, w) / a2, c2 = (dot(w, w) - arc.r * arc.r) / a2, disc = half * half - c2;
        if (disc >= 0) {
            const double root = std::sqrt(disc);
            for (const double t : {-half - root, -half + root}) {
                if (t < -1e-6 || t > 1 + 1e-6) continue;
                const Vec2 q{w.x + t * d.x, w.y + t * d.y};
                const double l = length(q);
                if (!(l > 0) || maySweep(arc, {q.x / l, q.y / l})) return 0;
            }
        }
    }
    double best = std::min({pointArcGap(line.a, arc), pointArcGap(line.b, arc),
                            std::sqrt(segmentDistance2(arc.a, line.a, line.b)),
                            std::sqrt(segmentDistance2(arc.b, line.a, line.b))});
    if (a2 > 0) {
        const double u = -dot(w, d) / a2;
        if (u > 0 && u < 1) {
            const Vec2 f{w.x + u * d.x, w.y + u * d.y};
            const double l = length(f);
            if (l > 0 && maySweep(arc, {f.x / l, f.y / l})) best = std::min(best, std::fabs(l - arc.r));
        }
    }
    return std::max(best, segmentRingGap(line, arc));
}

// At most the gap the measures take between two arcs; 0 where their circles may cross on both sweeps.
double arcArcGap(const ElemGapShape& m, const ElemGapShape& e) {
    const Vec2 v = minus(e.c, m.c);
    const double d = length(v), ring = ringRingGap(m, e);
    // Arcs of about one circle meet where their sweeps overlap, which the measures decide themselves.
    if (!(d > 1e-3 || std::fabs(m.r - e.r) > 1e-3)) return ring;
    if (!(d > 0)) return ring;
    const Vec2 u{v.x / d, v.y / d};
    const double along = (d * d + m.r * m.r - e.r * e.r) / (2 * d), h2 = m.r * m.r - along * along;
    if (h2 >= -1e-6 * (1 + m.r * m.r)) {
        const double h = std::sqrt(std::max(h2, 0.0));
        for (const double s : {-1.0, 1.0}) {
            const Vec2 q{along * u.x - s * h * u.y, along * u.y + s * h * u.x};  // from m's centre
            const Vec2 qe = minus(q, v);
            const double lm = length(q), le = length(qe);
            if (!(lm > 0 && le > 0) ||
                (maySweep(m, {q.x / lm, q.y / lm}) && maySweep(e, {qe.x / le, qe.y / le})))
                return 0;
        }
    }
    double best =
        std::min({pointArcGap(m.a, e), pointArcGap(m.b, e), pointArcGap(e.a, m), pointArcGap(e.b, m)});
    // The points on the line of the centres.
    for (const double sm : {1.0, -1.0})
        for (const double se : {1.0, -1.0})
            if (maySweep(m, {sm * u.x, sm * u.y}) && maySweep(e, {-se * u.x, -se * u.y}))
                best = std::min(best, std::fabs(d - sm * m.r - se * e.r));
    return std::max(best, ring);
}

// Two lines whose directions differ by so little that the crossing of their lines counts them as one
// line when they lie within about a thousandth of their coordinates' size.
bool nearlyParallel(const ElemGapShape& m, const ElemGapShape& e) {
    const Vec2 u = minus(m.b, m.a), v = minus(e.b, e.a);
    const double lu = length(u), lv = length(v);
    return !(lu > 0 && lv > 0) || std::fabs(cross(u, v)) / (lu * lv) <= 2e-4;
}

// A crossing found within the tolerances of the intersections lies within a few hundredths of both
// elements; two nearly parallel lines count as one line within a thousandth of their size. The bounds and
// the measures round at about 1e-16 of the size.
double crossingFloor() {
    return 0.01 + 100 * std::max({pocketKernel().tolerance, pocketKernel().tolerance2, 1e-4});
}

}  // namespace

double elemGap(const ContourElement* mp, const ContourElement* ep) {
    const ContourElement &m = *mp, &e = *ep;
    Vec2 cross[2], near, ends[4];
    if (elemIntersect(&m, &e, cross) != 0) return 0;
    elemPoint(&m, &ends[0], kElemStart);
    elemPoint(&m, &ends[1], kElemEnd);
    elemPoint(&e, &ends[2], kElemStart);
    elemPoint(&e, &ends[3], kElemEnd);
    double d = std::fmin(std::fmin(elemDistance(&ends[0], &e, &near), elemDistance(&ends[1], &e, &near)),
                         std::fmin(elemDistance(&ends[2], &m, &near), elemDistance(&ends[3], &m, &near)));
    if (m.type == kElemArc && e.type == kElemArc) {
        const Vec2 c1{m.g[kAcx], m.g[kAcy]}, c2{e.g[kAcx], e.g[kAcy]};
        const double cd = pointDist2D(&c1, &c2);
        if (cd < 1e-12) return d;
        Vec2 p1[2], p2[2];
        for (int k = 0; k < 2; ++k) {
            const double s = k ? -1.0 : 1.0;
            p1[k] = {c1.x + s * (c2.x - c1.x) * m.g[kAr] / cd, c1.y + s * (c2.y - c1.y) * m.g[kAr] / cd};
            p2[k] = {c2.x + s * (c1.x - c2.x) * e.g[kAr] / cd, c2.y + s * (c1.y - c2.y) * e.g[kAr] / cd};
        }
        for (const Vec2& a : p1)
            for (const Vec2& b : p2)
                if (pointOnArc(&a, &m) == 1 && pointOnArc(&b, &e) == 1) d = std::fmin(d, pointDist2D(&a, &b));
        return d;
    }
    if (m.type != kElemArc && e.type != kElemArc) return d;
    const ContourElement& line = m.type == kElemArc ? e : m;
    const ContourElement& arc = m.type == kElemArc ? m : e;
    const Vec2 a{line.g[kLx1], line.g[kLy1]}, b{line.g[kLx2], line.g[kLy2]}, c{arc.g[kAcx], arc.g[kAcy]};
    const double len2 = (b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y);
    const double u = len2 > 0 ? ((c.x - a.x) * (b.x - a.x) + (c.y - a.y) * (b.y - a.y)) / len2 : -1;
    if (u <= 0 || u >= 1) return d;
    const Vec2 f{a.x + u * (b.x - a.x), a.y + u * (b.y - a.y)};
    Vec2 p;
    return nearestOnArc(arc, f, &p) ? std::fmin(d, pointDist2D(&f, &p)) : d;
}

void elemGapShapeOf(const ContourElement* e, ElemGapShape* out) {
    *out = ElemGapShape{};
    if (e->type != kElemLine && e->type != kElemArc) return;
    elemPoint(e, &out->a, kElemStart);
    elemPoint(e, &out->b, kElemEnd);
    out->lo = {std::min(out->a.x, out->b.x), std::min(out->a.y, out->b.y)};
    out->hi = {std::max(out->a.x, out->b.x), std::max(out->a.y, out->b.y)};
    double size =
        std::max({std::fabs(out->a.x), std::fabs(out->a.y), std::fabs(out->b.x), std::fabs(out->b.y)});
    if (e->type == kElemArc) {
        // The measures take points on the circle and the ends as they are, which a kernel arc may hold a
        // little off its circle. A negative radius gets no bound.
        out->c = {e->g[kAcx], e->g[kAcy]};
        out->r = e->g[kAr];
        const double ra = length(minus(out->a, out->c)), rb = length(minus(out->b, out->c));
        out->rlo = std::min({out->r, ra, rb});
        out->rhi = std::max({out->r, ra, rb});
        out->sense = e->direction > 0 ? 1.0 : -1.0;
        out->us = {(out->a.x - out->c.x) / ra, (out->a.y - out->c.y) / ra};
        out->ue = {(out->b.x - out->c.x) / rb, (out->b.y - out->c.y) / rb};
        // Ends that nearly meet may make a whole turn or nothing.
        const Vec2 gap = minus(out->us, out->ue);
        out->whole = !(ra > 0 && rb > 0) || dot(gap, gap) < kSweepMargin * kSweepMargin;
        size = std::max({size, std::fabs(out->c.x) + out->rhi, std::fabs(out->c.y) + out->rhi});
        // The points past an end lie within 1e-4 of it along the circle, the circle within the radii.
        const double grow = 2e-4 + (out->rhi - out->rlo);
        out->lo = {out->lo.x - grow, out->lo.y - grow};
        out->hi = {out->hi.x + grow, out->hi.y + grow};
        if (maySweep(*out, {1, 0})) out->hi.x = std::max(out->hi.x, out->c.x + out->rhi);
        if (maySweep(*out, {0, 1})) out->hi.y = std::max(out->hi.y, out->c.y + out->rhi);
        if (maySweep(*out, {-1, 0})) out->lo.x = std::min(out->lo.x, out->c.x - out->rhi);
        if (maySweep(*out, {0, -1})) out->lo.y = std::min(out->lo.y, out->c.y - out->rhi);
        if (!(out->r >= 0)) return;
    }
    out->size = size;
    if (std::isfinite(size + out->rlo + out->rhi + out->us.x + out->us.y + out->ue.x + out->ue.y))
        out->kind = e->type;
}

double elemGapSure(double reach, double size) {
    size = 1 + std::fabs(size);
    return std::max(reach, crossingFloor() + 2e-3 * size) + 1e-9 * size;
}

int elemGapBeyond(const ElemGapShape* m, const ElemGapShape* e, double reach) {
    if (!m->kind || !e->kind) return 0;
    const double size = 1 + std::max(m->size, e->size);
    const double rounding = 1e-9 * size, floor = crossingFloor();
    const bool lines = m->kind == kElemLine && e->kind == kElemLine;
    double need = std::max(reach, floor) + rounding;
    if (lines && need < floor + 2e-3 * size + rounding && nearlyParallel(*m, *e))
        need = std::max(reach, floor + 2e-3 * size) + rounding;
    if (!(need < 1e300)) return 0;
    const double dx = std::max({0.0, e->lo.x - m->hi.x, m->lo.x - e->hi.x}),
                 dy = std::max({0.0, e->lo.y - m->hi.y, m->lo.y - e->hi.y});
    if (dx * dx + dy * dy >= need * need) return 1;
    if (lines) return lineLineGap2(*m, *e) >= need * need ? 1 : 0;
    double gap;
    if (m->kind == kElemLine)
        gap = segmentArcGap(*m, *e);
    else if (e->kind == kElemLine)
        gap = segmentArcGap(*e, *m);
    else
        gap = arcArcGap(*m, *e);
    return gap >= need ? 1 : 0;
}
