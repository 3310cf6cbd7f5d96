#include "pocket/elemprim.h"

#include <cmath>
#include <initializer_list>
#include <utility>

#include "kernel/base/constants.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kTol = 1e-4;

Vec2 startOf(const ContourElement* e) {
    return e->type == kElemArc ? Vec2{e->g[kAsx], e->g[kAsy]} : Vec2{e->g[kLx1], e->g[kLy1]};
}

Vec2 endOf(const ContourElement* e) {
    return e->type == kElemArc ? Vec2{e->g[kAex], e->g[kAey]} : Vec2{e->g[kLx2], e->g[kLy2]};
}

// atan2 to within 1.7e-6 (a minimax polynomial on [0, 1] after folding the octants), signs of zero as
// atan2 has them; NaN where atan2 gives an angle of the zero vector or of infinities.
double roughAtan2(double y, double x) {
    const double ax = std::fabs(x), ay = std::fabs(y);
    const bool steep = ay > ax;
    const double a = steep ? ax / ay : ay / ax, q = a * a;
    double r =
        a * (0.99997726 +
             q * (-0.33262347 + q * (0.19354346 + q * (-0.11643287 + q * (0.05265332 + q * -0.01172120)))));
    if (steep) r = 1.5707963267948966 - r;
    if (std::signbit(x)) r = 3.141592653589793 - r;
    return std::signbit(y) ? -r : r;
}
constexpr double kRoughMargin = 1e-5;  // six times the rough angle's worst error

double angleAbout(double cx, double cy, double x, double y) {
    double a = std::atan2(y - cy, x - cx);
    return a < 0 ? a + kTwoPi : a;
}

// Circles of two arcs: centre and radius.
struct Circle {
    double x, y, r;
};

Circle circleOf(const ContourElement* a) {
    return {a->g[kAcx], a->g[kAcy], a->g[kAr]};
}

int circleCircle(const Circle& a, const Circle& b, Vec2 p[2]) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double d2 = dx * dx + dy * dy;
    if (d2 <= kTol) return 0;
    const double d = std::sqrt(d2);
    const double ux = dx / d, uy = dy / d;
    if (d > a.r + b.r + kTol) return 0;
    if (std::fabs(d - (a.r + b.r)) < kTol) {
        p[0] = {a.x + a.r * ux, a.y + a.r * uy};
        return 1;
    }
    const double inner = std::fabs(a.r - b.r);
    if (d <= inner - kTol) return 0;
    if (std::fabs(d - inner) < kTol) {
        // The smaller circle touches the larger from inside, on the line of the centres.
        const double s = a.r >= b.r ? a.r : -a.r;
        p[0] = {a.x + s * ux, a.y + s * uy};
        return 1;
    }
    const double along = (d2 + a.r * a.r - b.r * b.r) / (2 * d);
    const double h = std::sqrt(std::fmax(a.r * a.r - along * along, 0.0));
    const double mx = a.x + along * ux, my = a.y + along * uy;
    p[0] = {mx - h * uy, my + h * ux};
    p[1] = {mx + h * uy, my - h * ux};
    if (std::fabs(p[0].x - p[1].x) < kTol && std::fabs(p[0].y - p[1].y) < kTol) return 1;
    return 2;
}

// Keeps the candidates that pass, packed to the front; a passing touching point gives -1.
template <typename Test>
int filterCandidates(int n, Vec2 p[2], Test pass) {
    if (n == 1) return pass(p[0]) ? -1 : 0;
    int kept = 0;
    for (int i = 0; i < n; ++i) {
        if (pass(p[i])) p[kept++] = p[i];
    }
    return kept;
}

}  // namespace

int isEqualCoarse(double a, double b) {
    return std::fabs(a - b) < 0.005 ? 1 : 0;
}

int isLessTol(double a, double b) {
    return b - a > kTol ? 1 : 0;
}

int isLessCoarse(double a, double b) {
    return b - a > 0.001 ? 1 : 0;
}

int isNotAboveTol(double a, double b) {
    return b - a > -kTol ? 1 : 0;
}

int pointsEqualCoarse2D(const Vec2* p, const Vec2* q) {
    return std::fabs(p->x - q->x) < 0.0002 && std::fabs(p->y - q->y) < 0.0002 ? 1 : 0;
}

int elemIsPoint(const ContourElement* e) {
    Vec2 s = startOf(e), t = endOf(e);
    return pointsEqual2D(&s, &t);
}

int contourIsClosed(const ContourElement* chain, int32_t count) {
    if (!chain || count < 1) return 0;
    Vec2 s = startOf(&chain[0]), t = endOf(&chain[count - 1]);
    return std::fabs(s.x - t.x) < 0.01 && std::fabs(s.y - t.y) < 0.01 ? 1 : 0;
}

int isectLinesInfinite(const double* a, const double* b, Vec2* p) {
    double ax = a[2] - a[0], ay = a[3] - a[1], bx = b[2] - b[0], by = b[3] - b[1];
    const double la = std::hypot(ax, ay), lb = std::hypot(bx, by);
    if (la == 0 || lb == 0) return 0;
    // Unit normals n and right-hand sides c of n . x = c.
    const double n1x = -ay / la, n1y = ax / la, n2x = -by / lb, n2y = bx / lb;
    const double c1 = n1x * a[0] + n1y * a[1], c2 = n2x * b[0] + n2y * b[1];
    const double det = n1x * n2y - n1y * n2x;
    const double dx = c1 * n2y - n1y * c2, dy = n1x * c2 - c1 * n2x;
    if (std::fabs(det) > kTol) {
        *p = {dx / det, dy / det};
        return 1;
    }
    return std::fabs(dx) < kTol && std::fabs(dy) < kTol ? -1 : 0;
}

int isectLineLine(const double* a, const double* b, Vec2* p) {
    int code = isectLinesInfinite(a, b, p);
    if (code == 1) return pointOnSegmentParam(p, a) && pointOnSegmentParam(p, b) ? 1 : 0;
    if (code == 0) return 0;
    const int axis = std::fabs(a[2] - a[0]) >= std::fabs(a[3] - a[1]) ? 0 : 1;
    const double a0 = std::fmin(a[axis], a[axis + 2]), a1 = std::fmax(a[axis], a[axis + 2]);
    const double b0 = std::fmin(b[axis], b[axis + 2]), b1 = std::fmax(b[axis], b[axis + 2]);
    const double lo = std::fmax(a0, b0), hi = std::fmin(a1, b1);
    const double overlap = hi - lo;
    if (overlap <= -kTol) return 0;
    if (overlap >= kTol) return -1;
    // The segments meet in one point: a shared end when there is one.
    const Vec2 ends[2] = {{a[0], a[1]}, {a[2], a[3]}};
    const Vec2 others[2] = {{b[0], b[1]}, {b[2], b[3]}};
    for (const Vec2& e : ends) {
        for (const Vec2& o : others) {
            if (pointsEqual2D(&e, &o)) {
                *p = e;
                return 1;
            }
        }
    }
    const double mid = 0.5 * (lo + hi);
    const double t = (mid - a[axis]) / (a[axis + 2] - a[axis]);
    *p = {a[0] + t * (a[2] - a[0]), a[1] + t * (a[3] - a[1])};
    return 1;
}

int isectCircleCircle(const ContourElement* a, const ContourElement* b, Vec2 p[2]) {
    return circleCircle(circleOf(a), circleOf(b), p);
}

int isectLineCircle(const double* line, const ContourElement* arc, Vec2 p[2]) {
    const double cx = arc->g[kAcx], cy = arc->g[kAcy], r = arc->g[kAr];
    Vec2 foot;
    const int hasDirection = projectOnLine(line, cx, cy, &foot);
    const double h = std::hypot(foot.x - cx, foot.y - cy);
    if (std::fabs(h - r) < kTol) {
        p[0] = foot;
        return 1;
    }
    if (h > r || !hasDirection) return 0;
    const double len = std::hypot(line[2] - line[0], line[3] - line[1]);
    const double ux = (line[2] - line[0]) / len, uy = (line[3] - line[1]) / len;
    const double s = std::sqrt(r * r - h * h);
    p[0] = {foot.x - s * ux, foot.y - s * uy};
    p[1] = {foot.x + s * ux, foot.y + s * uy};
    return 2;
}

int isectLineArc(const double* line, const ContourElement* arc, Vec2 p[2]) {
    int n = isectLineCircle(line, arc, p);
    return filterCandidates(
        n, p, [&](const Vec2& q) { return pointOnSegmentParam(&q, line) && pointOnArc(&q, arc); });
}

int isectLineFullCircle(const double* line, const ContourElement* arc, Vec2 p[2]) {
    int n = isectLineCircle(line, arc, p);
    return filterCandidates(n, p, [&](const Vec2& q) { return pointOnSegmentParam(&q, line) != 0; });
}

int isectArcArc(const ContourElement* a, const ContourElement* b, Vec2 p[2]) {
    const double tol = pocketKernel().tolerance;
    const bool sameCircle = std::fabs(a->g[kAcx] - b->g[kAcx]) < tol &&
                            std::fabs(a->g[kAcy] - b->g[kAcy]) < tol &&
                            std::fabs(a->g[kAr] - b->g[kAr]) < tol;
    if (!sameCircle) {
        int n = isectCircleCircle(a, b, p);
        return filterCandidates(n, p, [&](const Vec2& q) { return pointOnArc(&q, a) && pointOnArc(&q, b); });
    }
    const Vec2 as = startOf(a), ae = endOf(a), bs = startOf(b), be = endOf(b);
    // An end of one arc strictly inside the other, or a shared middle, means a common piece.
    auto strictlyOn = [](const Vec2& q, const ContourElement* arc, const Vec2& s, const Vec2& e) {
        return pointOnArc(&q, arc) && !pointsEqual2D(&q, &s) && !pointsEqual2D(&q, &e);
    };
    const bool bsIn = strictlyOn(bs, a, as, ae), beIn = strictlyOn(be, a, as, ae);
    const bool asIn = strictlyOn(as, b, bs, be), aeIn = strictlyOn(ae, b, bs, be);
    Vec2 am{}, bm{};
    {
        const double r = a->g[kAr];
        double s0 = angleAbout(a->g[kAcx], a->g[kAcy], as.x, as.y),
               s1 = angleAbout(a->g[kAcx], a->g[kAcy], ae.x, ae.y);
        if (a->direction < 0) std::swap(s0, s1);
        while (s1 < s0) s1 += kTwoPi;
        am = {a->g[kAcx] + r * std::cos(0.5 * (s0 + s1)), a->g[kAcy] + r * std::sin(0.5 * (s0 + s1))};
        double t0 = angleAbout(b->g[kAcx], b->g[kAcy], bs.x, bs.y),
               t1 = angleAbout(b->g[kAcx], b->g[kAcy], be.x, be.y);
        if (b->direction < 0) std::swap(t0, t1);
        while (t1 < t0) t1 += kTwoPi;
        bm = {b->g[kAcx] + r * std::cos(0.5 * (t0 + t1)), b->g[kAcy] + r * std::sin(0.5 * (t0 + t1))};
    }
    const bool overlap = bsIn || beIn || asIn || aeIn || pointOnArc(&am, b) || pointOnArc(&bm, a);
    if (overlap) {
        if ((bsIn || pointsEqual2D(&bs, &as) || pointsEqual2D(&bs, &ae)) &&
            (beIn || pointsEqual2D(&be, &as) || pointsEqual2D(&be, &ae)) && pointOnArc(&bm, a))
            return -2;
        if ((asIn || pointsEqual2D(&as, &bs) || pointsEqual2D(&as, &be)) &&
            (aeIn || pointsEqual2D(&ae, &bs) || pointsEqual2D(&ae, &be)) && pointOnArc(&am, b))
            return -3;
        return -4;
    }
    int n = 0;
    for (const Vec2& q : {as, ae}) {
        if ((pointsEqual2D(&q, &bs) || pointsEqual2D(&q, &be)) && n < 2) p[n++] = q;
    }
    return n;
}

int isectArcCircle(const ContourElement* arc, const ContourElement* circle, Vec2 p[2]) {
    int n = isectCircleCircle(arc, circle, p);
    return filterCandidates(n, p, [&](const Vec2& q) { return pointOnArc(&q, arc) != 0; });
}

int pointOnSegmentParam(const Vec2* p, const double* line) {
    const double e = (pocketKernel().geometryScale < 5 ? 2.0 : 1.0) * pocketKernel().tolerance;
    const double dx = line[2] - line[0], dy = line[3] - line[1];
    const bool alongX = std::fabs(dx) >= std::fabs(dy);
    const double extent = alongX ? dx : dy;
    if (extent == 0) {
        const Vec2 s{line[0], line[1]};
        return pointsEqual2D(p, &s);
    }
    const double t = alongX ? (p->x - line[0]) / dx : (p->y - line[1]) / dy;
    // Long segments widen the accepted parameter range in proportion.
    const double k = 1 + std::floor(std::fabs(extent) / 10);
    if (!(-e < k * t && k * t <= k + e)) return 0;
    if (alongX && std::fabs(dy) > 0.001 * e) {
        const double lo = std::fmin(line[0], line[2]), hi = std::fmax(line[0], line[2]);
        if (p->x < lo - e || p->x > hi + e) return 0;
    }
    return 1;
}

ArcSpan arcSpanOf(const ContourElement* arc) {
    ArcSpan s{0, 0, 0, false};
    if (arc->g[kAr] < 0.001) return s;
    const double cx = arc->g[kAcx], cy = arc->g[kAcy];
    s.a0 = angleAbout(cx, cy, arc->g[kAsx], arc->g[kAsy]);
    s.a1 = angleAbout(cx, cy, arc->g[kAex], arc->g[kAey]);
    if (arc->direction < 0) std::swap(s.a0, s.a1);
    while (s.a1 < s.a0) s.a1 += kTwoPi;
    // The tolerance is a length along the arc: as an angle it would reach far
    // beyond the ends of a large arc.
    s.tol = kTol / std::fmax(1.0, arc->g[kAr]);
    s.valid = true;
    return s;
}

int pointInArcSpan(const Vec2* p, const ContourElement* arc, const ArcSpan& s) {
    if (!s.valid) return 0;
    const double dy = p->y - arc->g[kAcy], dx = p->x - arc->g[kAcx];
    // Most points lie well clear of the three thresholds below: the rough angle decides those exactly as
    // atan2 would, and only a point within the rough angle's margin of a threshold pays for atan2.
    double rough = roughAtan2(dy, dx);
    const auto clear = [](double a, double t) { return std::fabs(a - t) >= kRoughMargin; };  // false for NaN
    if (clear(rough, -s.tol)) {
        if (rough < -s.tol) rough += kTwoPi;
        if (clear(rough, s.a0 - s.tol)) {
            if (rough < s.a0 - s.tol) rough += kTwoPi;
            if (clear(rough, s.a0 - s.tol) && clear(rough, s.a1 + s.tol))
                return rough >= s.a0 - s.tol && rough <= s.a1 + s.tol ? 1 : 0;
        }
    }
    double ap = std::atan2(dy, dx);
    // Angles just below zero stay where they are, so that a start at 0 keeps its neighbours.
    if (ap < -s.tol) ap += kTwoPi;
    if (ap < s.a0 - s.tol) ap += kTwoPi;
    return ap >= s.a0 - s.tol && ap <= s.a1 + s.tol ? 1 : 0;
}

int pointOnArc(const Vec2* p, const ContourElement* arc) {
    return pointInArcSpan(p, arc, arcSpanOf(arc));
}

int angleInRange(const Vec2* p, const Vec2* centre, double a0, double a1) {
    double ap = angleAbout(centre->x, centre->y, p->x, p->y);
    while (a1 < a0) a1 += kTwoPi;
    if (ap < a0 - kTol) ap += kTwoPi;
    return ap >= a0 - kTol && ap <= a1 + kTol ? 1 : 0;
}

int projectOnLine(const double* line, double x, double y, Vec2* foot) {
    const double dx = line[2] - line[0], dy = line[3] - line[1];
    const double len2 = dx * dx + dy * dy;
    if (len2 <= kTol) {
        *foot = {line[2], line[3]};
        return 0;
    }
    const double t = ((x - line[0]) * dx + (y - line[1]) * dy) / len2;
    *foot = {line[0] + t * dx, line[1] + t * dy};
    return 1;
}

double distPointLine(double x, double y, const double* line) {
    Vec2 foot;
    projectOnLine(line, x, y, &foot);
    return std::hypot(x - foot.x, y - foot.y);
}

int pointOrderOnElem(const ContourElement* e, const Vec2* p, const Vec2* q) {
    if (e->type == kElemArc) {
        const double cx = e->g[kAcx], cy = e->g[kAcy];
        const double s = angleAbout(cx, cy, e->g[kAsx], e->g[kAsy]);
        // Angles measured from the start in the arc's own sense, so that the
        // start comes first on clockwise arcs too.
        const double sense = e->direction > 0 ? 1.0 : -1.0;
        double up = sense * (angleAbout(cx, cy, p->x, p->y) - s);
        double uq = sense * (angleAbout(cx, cy, q->x, q->y) - s);
        if (up < 0) up += kTwoPi;
        if (uq < -1e-5) uq += kTwoPi;
        return up > uq ? 1 : 2;
    }
    const double dx = e->g[kLx2] - e->g[kLx1], dy = e->g[kLy2] - e->g[kLy1];
    double tp, tq;
    if (std::fabs(dx) >= kTol) {
        tp = (p->x - e->g[kLx1]) / dx;
        tq = (q->x - e->g[kLx1]) / dx;
    } else {
        if (dy == 0) return 2;
        tp = (p->y - e->g[kLy1]) / dy;
        tq = (q->y - e->g[kLy1]) / dy;
    }
    return tp > tq ? 1 : 2;
}

ContourElement elemLineOf(const Vec2& a, const Vec2& b, int32_t sourceTag) {
    ContourElement e{};
    e.type = kElemLine;
    e.sourceTag = sourceTag;
    e.g[kLx1] = a.x;
    e.g[kLy1] = a.y;
    e.g[kLx2] = b.x;
    e.g[kLy2] = b.y;
    return e;
}
