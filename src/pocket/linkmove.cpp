#include "pocket/linkmove.h"

#include <cmath>
#include <memory>
#include <new>

#include "kernel/base/runreset.h"
#include "pocket/chaincross.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/ringassembly.h"

namespace {

constexpr double kMinWidth = 0.01;
constexpr double kRootTol = 1e-5;

LinkTrochoidSearch gTrochoid = nullptr;

Vec2 perp(const Vec2& v) {
    return {-v.y, v.x};
}

double cross(const Vec2& a, const Vec2& b) {
    return a.x * b.y - a.y * b.x;
}

double dot(const Vec2& a, const Vec2& b) {
    return a.x * b.x + a.y * b.y;
}

ContourElement arcOf(const Vec2& c, double r, const Vec2& from, const Vec2& to, int32_t direction) {
    ContourElement e{};
    e.type = kElemArc;
    e.g[kAcx] = c.x;
    e.g[kAcy] = c.y;
    e.g[kAsx] = from.x;
    e.g[kAsy] = from.y;
    e.g[kAex] = to.x;
    e.g[kAey] = to.y;
    e.g[kAr] = r;
    e.direction = direction;
    return e;
}

int32_t straight(const Vec2* p1, const Vec2* p2, ContourElement* out) {
    out[0] = elemLineOf(*p1, *p2, 0);
    return 1;
}

// The rotation sense (+1 counter-clockwise) of a circle tangent to t at a
// point with its centre on the side s (+1 left).
Vec2 centreOf(const Vec2& p, const Vec2& t, int32_t side, double r) {
    const Vec2 n = perp(t);
    return {p.x + side * r * n.x, p.y + side * r * n.y};
}

// A scratch buffer for one INPUT contour at a time.
struct InputScratch {
    std::unique_ptr<ContourElement[]> buf{new (std::nothrow) ContourElement[kClistMaxElements]};
};

}  // namespace

void linkSetTrochoidSearch(LinkTrochoidSearch search) {
    gTrochoid = search;
}

int quadraticRoots(double a, double b, double c, double roots[2]) {
    if (std::fabs(a) < kRootTol) {
        if (std::fabs(b) < kRootTol) return 0;
        roots[0] = -c / b;
        return 1;
    }
    double disc = b * b - 4 * a * c;
    if (disc < -kRootTol) return 0;
    if (disc < 0) disc = 0;
    const double s = std::sqrt(disc);
    roots[0] = (-b - s) / (2 * a);
    roots[1] = (-b + s) / (2 * a);
    if (roots[0] > roots[1]) std::swap(roots[0], roots[1]);
    return std::fabs(roots[1] - roots[0]) < kRootTol ? 1 : 2;
}

ContourElement circleThroughPoint(const Vec2* point, const Vec2* normal, double radius, int32_t direction) {
    const Vec2 c{point->x + radius * normal->x, point->y + radius * normal->y};
    return arcOf(c, radius, *point, *point, direction);
}

int tangentFromPoint(const Vec2* point, const ContourElement* circle, Vec2* direction) {
    const Vec2 c{circle->g[kAcx], circle->g[kAcy]};
    const double r = circle->g[kAr];
    const Vec2 w{c.x - point->x, c.y - point->y};
    const double d = std::hypot(w.x, w.y);
    if (d < 1e-4 || d <= r) return -1;
    // The tangent point T sees the point at a right angle: |T - point| = sqrt(d^2 - r^2).
    const double len = std::sqrt(d * d - r * r);
    const double cosA = len / d, sinA = r / d;
    const Vec2 u{w.x / d, w.y / d};
    for (int s : {1, -1}) {
        const Vec2 dir{u.x * cosA - s * u.y * sinA, u.y * cosA + s * u.x * sinA};
        const Vec2 t{point->x + len * dir.x, point->y + len * dir.y};
        // The circle runs on in the line's direction at T.
        const Vec2 along = perp({t.x - c.x, t.y - c.y});
        if (circle->direction * dot(along, dir) > 0) {
            *direction = dir;
            return 1;
        }
    }
    return -1;
}

int32_t linkBuildArcs(const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, double radius,
                      ContourElement* out) {
    if (!p1 || !t1 || !p2 || !t2 || !out) return -1;
    if (radius < kMinWidth) return straight(p1, p2, out);
    const Vec2 w{p1->x - p2->x, p1->y - p2->y};
    const double dist = std::hypot(w.x, w.y);
    if (dist < 1e-9) return -1;
    double r = radius;
    const int32_t s2 = cross(*t2, w) >= 0 ? 1 : -1;
    ContourElement endCircle = arcOf(centreOf(*p2, *t2, s2, r), r, *p2, *p2, s2);
    Vec2 d;
    if (tangentFromPoint(p1, &endCircle, &d) < 0) {
        if (0.5 * dist < r) r = 0.5 * dist;
        endCircle = arcOf(centreOf(*p2, *t2, s2, r), r, *p2, *p2, s2);
        if (tangentFromPoint(p1, &endCircle, &d) < 0) {
            // Still inside: leave along the circle's own sense at the point nearest p1.
            const Vec2 c{endCircle.g[kAcx], endCircle.g[kAcy]};
            Vec2 v = perp({p1->x - c.x, p1->y - c.y});
            const double n = std::hypot(v.x, v.y);
            if (n < 1e-12) return -1;
            d = {s2 * v.x / n, s2 * v.y / n};
        }
    }
    const double turn = cross(*t1, d);
    const int32_t s1 = turn > 0 ? 1 : turn < 0 ? -1 : s2;
    // Opposite senses meet by the inner tangent, which needs the circles apart:
    // |c1 - c2| >= 2 rho is a quadratic in rho.
    int count = 3;
    if (s1 != s2) {
        const Vec2 n1 = perp(*t1), n2 = perp(*t2);
        const Vec2 v{s1 * n1.x - s2 * n2.x, s1 * n1.y - s2 * n2.y};
        double roots[2];
        const int k = quadraticRoots(dot(v, v) - 4, 2 * dot(w, v), dot(w, w), roots);
        double limit = -1;
        for (int i = 0; i < k; ++i)
            if (roots[i] >= 0 && (limit < 0 || roots[i] < limit)) limit = roots[i];
        if (limit >= 0 && limit <= r + 1e-4) {
            r = limit;
            count = 2;
        }
        if (r < 1e-9) return -1;
    }
    const Vec2 c1 = centreOf(*p1, *t1, s1, r), c2 = centreOf(*p2, *t2, s2, r);
    const Vec2 cc{c2.x - c1.x, c2.y - c1.y};
    const double dc = std::hypot(cc.x, cc.y);
    Vec2 q1, q2;
    if (s1 == s2) {
        if (dc < 1e-9) return -1;
        const Vec2 u{cc.x / dc, cc.y / dc};
        const Vec2 m{s1 * u.y, -s1 * u.x};
        q1 = {c1.x + r * m.x, c1.y + r * m.y};
        q2 = {c2.x + r * m.x, c2.y + r * m.y};
    } else if (count == 2) {
        q1 = q2 = {0.5 * (c1.x + c2.x), 0.5 * (c1.y + c2.y)};
    } else {
        const Vec2 mid{0.5 * (c1.x + c2.x), 0.5 * (c1.y + c2.y)};
        ContourElement startCircle = arcOf(c1, r, *p1, *p1, s1);
        // The line from q1 runs to the midpoint: its reverse leaves the midpoint
        // tangent to the first circle against its sense.
        startCircle.direction = -s1;
        Vec2 back;
        if (tangentFromPoint(&mid, &startCircle, &back) < 0) return -1;
        const double len = std::sqrt(std::fmax(0.0, 0.25 * dc * dc - r * r));
        q1 = {mid.x + len * back.x, mid.y + len * back.y};
        q2 = {2 * mid.x - q1.x, 2 * mid.y - q1.y};
    }
    // A tangent point on its own end leaves no arc: the start and end of an arc
    // would coincide and read as a full circle.
    int32_t n = 0;
    if (std::hypot(q1.x - p1->x, q1.y - p1->y) > 1e-9) out[n++] = arcOf(c1, r, *p1, q1, s1);
    if (count == 3 && std::hypot(q2.x - q1.x, q2.y - q1.y) > 1e-9) out[n++] = elemLineOf(q1, q2, 0);
    if (std::hypot(p2->x - q2.x, p2->y - q2.y) > 1e-9) out[n++] = arcOf(c2, r, q2, *p2, s2);
    if (n == 0) return straight(p1, p2, out);
    arcCentreRepair(out, n);
    return n;
}

int linkArcHitsInput(const ContourElement* arc, const Vec2* p1, const Vec2* p2) {
    InputScratch scratch;
    if (!scratch.buf) {
        pocketError(kPocketErrStep);
        return -1;
    }
    const double toolRadius = pocketKernel().toolRadius;
    const int32_t n = clistCount("INPUT");
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGet("INPUT", scratch.buf.get(), &h, i) < 0 || h.elementCount < 1) continue;
        ContourElement circle = *arc;
        circle.g[kAr] = arc->g[kAr] + toolRadius + pocketAllowanceGet(i) - 0.01;
        if (elemContourClassify(&circle, scratch.buf.get(), static_cast<int32_t>(h.elementCount)) > 0)
            return 1;
    }
    Vec2 mid;
    elemPoint(arc, &mid, kElemMiddle);
    const Vec2 a{mid.x - p1->x, mid.y - p1->y}, b{p2->x - p1->x, p2->y - p1->y};
    return dot(a, b) < 0 ? 1 : 0;
}

int linkLineHitsInput(const ContourElement* line) {
    InputScratch scratch;
    if (!scratch.buf) {
        pocketError(kPocketErrStep);
        return -1;
    }
    const int32_t n = clistCount("INPUT");
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGet("INPUT", scratch.buf.get(), &h, i) < 0 || h.elementCount < 1) continue;
        if (segmentCrossesChain(line->g, scratch.buf.get(), static_cast<int32_t>(h.elementCount)) != 0)
            return 1;
    }
    return 0;
}

int32_t linkMoveBuild(const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, double width,
                      ContourElement* out) {
    if (!p1 || !t1 || !p2 || !t2 || !out) return -1;
    if (width < kMinWidth) return straight(p1, p2, out);
    const int32_t steps = pocketKernel().trochoidSteps;
    if (steps > 0 && gTrochoid) {
        const int32_t n = gTrochoid(p1, t1, p2, t2, kMinWidth, steps, out);
        if (n > 0) return n;
    }
    double w = width;
    for (;;) {
        if (w <= kMinWidth) return straight(p1, p2, out);
        const int32_t n = linkBuildArcs(p1, t1, p2, t2, w, out);
        bool hit = n < 1;
        for (int32_t i = 0; !hit && i < n; ++i) {
            int r = 0;
            if (out[i].type == kElemArc)
                r = linkArcHitsInput(&out[i], p1, p2);
            else if (i > 0)
                r = linkLineHitsInput(&out[i]);
            if (r < 0) return -1;
            hit = r > 0;
        }
        if (!hit) {
            for (int32_t i = 0; i < n; ++i) {
                ContourElement& e = out[i];
                if (e.type == kElemArc &&
                    std::hypot(e.g[kAex] - e.g[kAsx], e.g[kAey] - e.g[kAsy]) < kMinWidth)
                    e = elemLineOf({e.g[kAsx], e.g[kAsy]}, {e.g[kAex], e.g[kAey]}, 0);
            }
            return n;
        }
        w *= 0.5;
    }
}

int pathTangentAt(const ContourElement* chain, int32_t count, int32_t element, const Vec2* point,
                  int entering, Vec2* tangent) {
    if (!chain || !point || !tangent || element < 1 || element > count) return 0;
    int32_t i = element - 1;
    Vec2 s, e;
    elemPoint(&chain[i], &s, kElemStart);
    elemPoint(&chain[i], &e, kElemEnd);
    if (entering && pointsEqual2D(point, &s))
        return elemTangent(&chain[(i + count - 1) % count], tangent, kElemEnd);
    if (!entering && pointsEqual2D(point, &e))
        return elemTangent(&chain[(i + 1) % count], tangent, kElemStart);
    const ContourElement& x = chain[i];
    if (x.type == kElemLine) return elemTangent(&x, tangent, kElemStart);
    const Vec2 v = perp({point->x - x.g[kAcx], point->y - x.g[kAcy]});
    const double n = std::hypot(v.x, v.y);
    if (n < 1e-7) return 0;
    *tangent = {x.direction * v.x / n, x.direction * v.y / n};
    return 1;
}

void linkMoveResetState() {
    gTrochoid = nullptr;
}
static const RunReset gRunReset(kRunResetCycles, "linkMove", linkMoveResetState);
