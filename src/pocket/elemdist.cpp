#include "pocket/elemdist.h"

#include <cmath>
#include <initializer_list>

#include "kernel/base/constants.h"
#include "pocket/elemaccess.h"
#include "pocket/elemprim.h"

namespace {

constexpr double kTol = 1e-4;

struct Candidate {
    double d;
    Vec2 a, b;
};

double pickCandidate(const Candidate* c, int n, Vec2* onA, Vec2* onB) {
    double values[16];
    for (int i = 0; i < n; ++i) values[i] = c[i].d;
    const int32_t k = minWithTolerance(values, n);
    *onA = c[k].a;
    *onB = c[k].b;
    return c[k].d;
}

// An arc's angular span, worked out on first use and kept for the element's further points.
class LazySpan {
  public:
    explicit LazySpan(const ContourElement* e) : e_(e) {}
    const ArcSpan& get() {
        if (!done_) {
            span_ = arcSpanOf(e_);
            done_ = true;
        }
        return span_;
    }

  private:
    const ContourElement* e_;
    ArcSpan span_{};
    bool done_ = false;
};

double distanceTo(const Vec2* p, const ContourElement* e, Vec2* nearest, LazySpan* span);

// The four candidates from the ends: A's start to B, B's start to A, B's end to A, A's end to B.
int endCandidates(const ContourElement* a, const ContourElement* b, Candidate* c, LazySpan* spanA,
                  LazySpan* spanB) {
    Vec2 as, ae, bs, be, near;
    elemPoint(a, &as, kElemStart);
    elemPoint(a, &ae, kElemEnd);
    elemPoint(b, &bs, kElemStart);
    elemPoint(b, &be, kElemEnd);
    c[0].d = distanceTo(&as, b, &near, spanB);
    c[0].a = as;
    c[0].b = near;
    c[1].d = distanceTo(&bs, a, &near, spanA);
    c[1].a = near;
    c[1].b = bs;
    c[2].d = distanceTo(&be, a, &near, spanA);
    c[2].a = near;
    c[2].b = be;
    c[3].d = distanceTo(&ae, b, &near, spanB);
    c[3].a = ae;
    c[3].b = near;
    return 4;
}

// Where the line from the centre through a point meets an arc: 0, 1 or 2 points.
int radialPoints(const ContourElement* arc, double ux, double uy, Vec2 out[2], LazySpan* lazy) {
    int n = 0;
    const ArcSpan& span = lazy->get();
    for (double s : {1.0, -1.0}) {
        Vec2 q{arc->g[kAcx] + s * arc->g[kAr] * ux, arc->g[kAcy] + s * arc->g[kAr] * uy};
        if (pointInArcSpan(&q, arc, span)) out[n++] = q;
    }
    return n;
}

}  // namespace

double pointDist2D(const Vec2* a, const Vec2* b) {
    return std::hypot(a->x - b->x, a->y - b->y);
}

double elemDistance(const Vec2* p, const ContourElement* e, Vec2* nearest) {
    LazySpan span(e);
    return distanceTo(p, e, nearest, &span);
}

namespace {

double distanceTo(const Vec2* p, const ContourElement* e, Vec2* nearest, LazySpan* lazy) {
    Vec2 s{}, t{};
    elemPoint(e, &s, kElemStart);
    elemPoint(e, &t, kElemEnd);
    if (elemIsPoint(e) || (e->type != kElemLine && e->type != kElemArc)) {
        *nearest = s;
        return pointDist2D(p, &s);
    }
    if (e->type == kElemLine) {
        const double dx = t.x - s.x, dy = t.y - s.y;
        const double u = ((p->x - s.x) * dx + (p->y - s.y) * dy) / (dx * dx + dy * dy);
        if (u >= 0 && u <= 1) {
            *nearest = {s.x + u * dx, s.y + u * dy};
            return pointDist2D(p, nearest);
        }
        const double ds = pointDist2D(p, &s), de = pointDist2D(p, &t);
        *nearest = ds <= de ? s : t;
        return ds <= de ? ds : de;
    }
    const double ds = pointDist2D(p, &s), de = pointDist2D(p, &t);
    const double cx = e->g[kAcx], cy = e->g[kAcy], r = e->g[kAr];
    const double rc = std::hypot(p->x - cx, p->y - cy);
    if (rc < 1e-12) {
        *nearest = s;
        return ds;
    }
    // Candidates in tie order: start, the near circle point, the far one, the end.
    Vec2 q1{cx + r * (p->x - cx) / rc, cy + r * (p->y - cy) / rc};
    Vec2 q2{cx - r * (p->x - cx) / rc, cy - r * (p->y - cy) / rc};
    const ArcSpan& span = lazy->get();
    const double d1 = pointInArcSpan(&q1, e, span) ? pointDist2D(p, &q1) : de + 100;
    const double d2 = pointInArcSpan(&q2, e, span) ? pointDist2D(p, &q2) : de + 100;
    const double ds_[4] = {ds, d1, d2, de};
    const Vec2 pts[4] = {s, q1, q2, t};
    int best = 0;
    for (int i = 1; i < 4; ++i) {
        if (ds_[i] < ds_[best]) best = i;
    }
    *nearest = pts[best];
    return ds_[best];
}

}  // namespace

double contourDistance(const Vec2* p, const ContourElement* chain, int32_t count) {
    return contourDistanceUntil(p, chain, count, -1);
}

namespace {

// How near the element can come to p at best: a line by its box, an arc by its circle (with a margin for
// arcs whose ends sit a tolerance off their circle).
double distanceBound(const Vec2* p, const ContourElement& e) {
    if (e.type == kElemArc)
        return std::fabs(std::hypot(p->x - e.g[kAcx], p->y - e.g[kAcy]) - e.g[kAr]) - 1e-3;
    const double bx = std::fmax(std::fmax(std::fmin(e.g[kLx1], e.g[kLx2]) - p->x, 0.0),
                                p->x - std::fmax(e.g[kLx1], e.g[kLx2]));
    const double by = std::fmax(std::fmax(std::fmin(e.g[kLy1], e.g[kLy2]) - p->y, 0.0),
                                p->y - std::fmax(e.g[kLy1], e.g[kLy2]));
    return std::sqrt(bx * bx + by * by);
}

}  // namespace

int contourDistanceBelow(const Vec2* p, const ContourElement* chain, int32_t count, double limit) {
    if (count < 1) return -1 < limit ? 1 : 0;
    // contourDistance keeps a first distance that is not a number (nothing compares below it).
    Vec2 q;
    const double first = elemDistance(p, &chain[0], &q);
    if (std::isnan(first)) return 0;
    if (first < limit) return 1;
    for (int32_t i = 1; i < count; ++i) {
        if (distanceBound(p, chain[i]) >= limit) continue;
        if (elemDistance(p, &chain[i], &q) < limit) return 1;
    }
    return 0;
}

double contourDistanceUntil(const Vec2* p, const ContourElement* chain, int32_t count, double stopAt) {
    // Elements that cannot come nearer than the best so far are skipped. The minimum stays the same.
    double best = -1;
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement& e = chain[i];
        if (best >= 0 && distanceBound(p, e) >= best) continue;
        Vec2 q;
        const double d = elemDistance(p, &e, &q);
        if (best < 0 || d < best) best = d;
        if (best >= 0 && best <= stopAt) return best;
    }
    return best;
}

double contourNearestElement(const Vec2* p, const ContourElement* chain, int32_t count, int32_t* index,
                             Vec2* nearest) {
    *index = -1;
    double best = -1;
    for (int32_t i = 0; i < count; ++i) {
        Vec2 q;
        const double d = elemDistance(p, &chain[i], &q);
        if (best < 0 || d < best) {
            best = d;
            *index = i;
            *nearest = q;
        }
    }
    return best;
}

double elemElemDistance(const ContourElement* a, const ContourElement* b, Vec2* onA, Vec2* onB) {
    if (elemIsPoint(a)) {
        elemPoint(a, onA, kElemStart);
        return elemDistance(onA, b, onB);
    }
    if (elemIsPoint(b)) {
        elemPoint(b, onB, kElemStart);
        return elemDistance(onB, a, onA);
    }
    if (a->type == kElemLine && b->type == kElemLine) return lineLineDistance(a, b, onA, onB);
    if (a->type == kElemLine) return lineArcDistance(a, b, onA, onB);
    if (b->type == kElemLine) return lineArcDistance(b, a, onB, onA);
    return arcArcDistance(a, b, onA, onB);
}

double lineLineDistance(const ContourElement* a, const ContourElement* b, Vec2* onA, Vec2* onB) {
    Candidate c[4];
    LazySpan spanA(a), spanB(b);
    int n = endCandidates(a, b, c, &spanA, &spanB);
    return pickCandidate(c, n, onA, onB);
}

double lineArcDistance(const ContourElement* line, const ContourElement* arc, Vec2* onLine, Vec2* onArc) {
    Candidate c[8];
    LazySpan spanLine(line), spanArc(arc);
    int n = endCandidates(line, arc, c, &spanLine, &spanArc);
    const double cx = arc->g[kAcx], cy = arc->g[kAcy];
    if (distPointLine(cx, cy, line->g) >= kTol) {
        Vec2 foot;
        projectOnLine(line->g, cx, cy, &foot);
        if (pointOnSegmentParam(&foot, line->g)) {
            const double h = std::hypot(foot.x - cx, foot.y - cy);
            Vec2 q[2];
            const int m = radialPoints(arc, (foot.x - cx) / h, (foot.y - cy) / h, q, &spanArc);
            for (int i = 0; i < m; ++i) c[n++] = {pointDist2D(&foot, &q[i]), foot, q[i]};
        }
    }
    return pickCandidate(c, n, onLine, onArc);
}

double arcArcDistance(const ContourElement* a, const ContourElement* b, Vec2* onA, Vec2* onB) {
    Candidate c[8];
    LazySpan spanA(a), spanB(b);
    int n = endCandidates(a, b, c, &spanA, &spanB);
    const double dx = b->g[kAcx] - a->g[kAcx], dy = b->g[kAcy] - a->g[kAcy];
    const double d = std::hypot(dx, dy);
    if (d >= kTol) {
        Vec2 qa[2], qb[2];
        const int ma = radialPoints(a, dx / d, dy / d, qa, &spanA);
        const int mb = radialPoints(b, dx / d, dy / d, qb, &spanB);
        for (int i = 0; i < ma; ++i) {
            for (int j = 0; j < mb; ++j) c[n++] = {pointDist2D(&qa[i], &qb[j]), qa[i], qb[j]};
        }
    }
    return pickCandidate(c, n, onA, onB);
}

int arcOrder(const ContourElement* e, const Vec2* p, const Vec2* q) {
    double vp, vq;
    if (e->type == kElemArc) {
        const double cx = e->g[kAcx], cy = e->g[kAcy];
        const double s = std::atan2(e->g[kAsy] - cy, e->g[kAsx] - cx);
        auto along = [&](const Vec2* x) {
            double a = e->direction * (std::atan2(x->y - cy, x->x - cx) - s);
            while (a < 0) a += kTwoPi;
            while (a >= kTwoPi) a -= kTwoPi;
            return a;
        };
        vp = along(p);
        vq = along(q);
    } else {
        Vec2 s;
        elemPoint(e, &s, kElemStart);
        vp = pointDist2D(&s, p);
        vq = pointDist2D(&s, q);
    }
    if (isEqualTol(vp, vq)) return 0;
    return vq >= vp - kPocketTieTol ? 1 : -1;
}

int32_t minWithTolerance(const double* values, int32_t n) {
    if (!values || n < 1) return -1;
    int32_t best = 0;
    for (int32_t i = 1; i < n; ++i) {
        if (values[i] <= values[best] - kPocketTieTol) best = i;
    }
    return best;
}
