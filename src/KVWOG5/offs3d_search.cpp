// Offset engine queries: where a tool shot along a ray first touches the elements, and the next tool
// centre one step further on the curve at tool distance from them.
#include <cmath>
#include <initializer_list>

#include "KVWOG5/geocalc.h"
#include "KVWOG5/kont2d.h"
#include "KVWOG5/offs3d.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/wogerr.h"
#include "geometry/grid2d.h"

namespace {

const char kSourceFile[] = "OFFS3D";
const int32_t kLineInMaterial = 6905;
const double kNoExtent = 1e-5;
// Slack of the search against rounding: a probe this much beyond reach still tests the element.
const double kReachSlack = 0.01;
const double kNothing = 10.0;  // pseudo-angles lie in [0, 8)
const double kLeadRoom = 1.0;
// Relative to the coordinates, far above the rounding of a distance computed from them.
const double kRoundingSlack = 1e-9;

double dist(const Vec2& a, const Vec2& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

double dist2(const Vec2& a, const Vec2& b) {
    const double dx = a.x - b.x, dy = a.y - b.y;
    return dx * dx + dy * dy;
}

// Side of f relative to the directed line from a to b: 1 right, -1 left, 0 on it or no line.
int sideOfDirected(const Vec2& a, const Vec2& b, const Vec2& f) {
    // The cross product's sign is the line equation's wherever it is far above the rounding of
    // either; only points near the line need the normalised equation.
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double cross = dy * (f.x - a.x) - dx * (f.y - a.y);
    const double scale = 1.0 + std::fabs(a.x) + std::fabs(a.y) + std::fabs(f.x) + std::fabs(f.y);
    if (std::fabs(dx) + std::fabs(dy) > 1e-6 &&
        std::fabs(cross) > 1e-12 * scale * (std::fabs(dx) + std::fabs(dy)))
        return cross > 0.0 ? 1 : -1;
    const Seg2D s{a.x, a.y, b.x, b.y};
    double la, lb, lc;
    if (!segLineEquation2D(&s, &la, &lb, &lc)) return 0;
    return sideOfLine2D(&f, la, lb, lc);
}

// step <= |end - probe| <= reach. Squared distances decide what lies clearly inside or outside,
// which spares the exact distance for all but the points within rounding of a bound.
bool withinRing(const Vec2& end, const Vec2& probe, double step, double reach) {
    const double dx = end.x - probe.x, dy = end.y - probe.y, q = dx * dx + dy * dy;
    if (reach > 0.0 && q > reach * reach * (1.0 + kRoundingSlack)) return false;
    if (step > 0.0 && q < step * step * (1.0 - kRoundingSlack)) return false;
    const double de = dist(end, probe);
    return !(de < step || de > reach);
}

// |a - b| < limit, on squared distances unless within rounding of the limit.
bool closerThan(const Vec2& a, const Vec2& b, double limit) {
    const double q = dist2(a, b);
    if (limit > 0.0 && q > limit * limit * (1.0 + kRoundingSlack)) return false;
    if (limit > 0.0 && q < limit * limit * (1.0 - kRoundingSlack)) return true;
    return dist(a, b) < limit;
}

// fmin and fmax as comparisons (a NaN gives the other value): the library calls cost more than
// the foot test they serve.
double lesser(double a, double b) {
    return b < a || a != a ? b : a;
}

double greater(double a, double b) {
    return b > a || a != a ? b : a;
}

// footOnSeg2D with the element's line already known.
int footOnLine(const Vec2& p, const Seg2D& e, const Offs3dLine& l, Vec2* out) {
    const double d = l.a * p.x + l.b * p.y + l.c;
    out->x = p.x - d * l.a;
    out->y = p.y - d * l.b;
    if (std::fabs(l.b) > std::fabs(l.a)) return out->x >= lesser(e.x1, e.x2) && out->x <= greater(e.x1, e.x2);
    return out->y >= lesser(e.y1, e.y2) && out->y <= greater(e.y1, e.y2);
}

// Visits every contour of the frame set: outer contours with their islands.
template <typename F>
void forFrame(const Kont2d* frame, F f) {
    for (const Kont2d* o = frame; o; o = o->next) {
        f(o);
        for (const Kont2d* i = o->firstIsland; i; i = i->next) f(i);
    }
}

struct Best {
    double angle = kNothing;
    Vec2 centre{0.0, 0.0};
    Vec2 contact{0.0, 0.0};
    int32_t element = -1;

    // Takes X when it comes earlier in the sweep and the sweep enters the element's reach there.
    void offer(const Offs3dQuery* q, double reference, const Vec2& x, const Vec2& touch, int32_t index) {
        const double a = pseudoAngleDiff2D(x.x - q->probe.x, x.y - q->probe.y, reference, q->direction);
        if (a < angle && sideOfDirected(q->probe, x, touch) == -q->direction) {
            angle = a;
            centre = x;
            contact = touch;
            element = index;
        }
    }
};

}  // namespace

int offs3dInsideFrame(const Kont2d* frame, const Vec2* p) {
    if (!frame) return 1;
    return kont2dClassifyPoint(frame, p) == kKontInside;
}

int offs3dContactLoop(const Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params,
                      const GridCell* const cells[2], const Offs3dQuery* query, Vec3* centre, Vec3* contact,
                      int32_t* element, int32_t* kind) {
    if (!geometry || !tool || !params || !cells || !query) return 0;
    if (geometry->triangles) return kOffs3dNoToolMethods;
    const Kont2d* k = geometry->elements;
    const GridCell* cell = cells[1];
    if (!k || !cell || !params->elementBoxes) return 0;
    const Vec2 probe = query->probe;
    const double step = query->step;
    const ToolCircle search{probe.x, probe.y, step, 0};
    const double reference =
        pseudoAngleDiff2D(query->reference.x - probe.x, query->reference.y - probe.y, 0.0, query->direction);
    Best best;
    Offs3dBoxTable* table = params->elementBoxes;
    const double slack = kRoundingSlack * (1.0 + std::fabs(probe.x) + std::fabs(probe.y));
    // Elements starting further left than the widest one reaches cannot come near the probe: the
    // cell's elements run by start x, so the walk begins past them. The lead covers the grown box
    // and the search reach, with room for a radius addition.
    int32_t n = 0;
    const double lead = table->widest + std::fmax(table->margin, tool->radius + step) + kLeadRoom;
    for (int32_t hi = cell->count; n < hi;) {
        const int32_t mid = n + (hi - n) / 2;
        if (k->elements[cell->items[mid]].x1 < probe.x - lead)
            n = mid + 1;
        else
            hi = mid;
    }
    for (; n < cell->count; n++) {
        const int32_t idx = cell->items[n];
        const double* box = table->boxes ? table->boxes[idx] : offs3dElementBox(table, idx);
        // Elements are sorted by start x: none further on can reach the probe.
        if (box[0] > probe.x) break;
        const Seg2D& e = k->elements[idx];
        const bool extent = std::fabs(e.x1 - e.x2) >= kNoExtent || std::fabs(e.y1 - e.y2) >= kNoExtent;
        if (extent && (probe.x < box[0] || probe.x > box[2] || probe.y < box[1] || probe.y > box[3]))
            continue;
        const double r = tool->radius + offs3dRadiusAddition(idx);
        const double reach = r + step;
        const Vec2 e1{e.x1, e.y1}, e2{e.x2, e.y2};
        if (!extent && dist(e1, probe) > reach) continue;
        {
            // An element farther from the probe than the reach (and the line slack) can neither
            // hold the tool nor give a centre; its box tells so before any of its lines is met.
            const double x0 = e.x1 < e.x2 ? e.x1 : e.x2, x1 = e.x1 < e.x2 ? e.x2 : e.x1;
            const double y0 = e.y1 < e.y2 ? e.y1 : e.y2, y1 = e.y1 < e.y2 ? e.y2 : e.y1;
            const double gx = probe.x < x0 ? x0 - probe.x : (probe.x > x1 ? probe.x - x1 : 0.0);
            const double gy = probe.y < y0 ? y0 - probe.y : (probe.y > y1 ? probe.y - y1 : 0.0);
            const double beyond = reach + kReachSlack;
            if (gx * gx + gy * gy > beyond * beyond) continue;
        }
        const Offs3dLine& line = table->lines ? table->lines[idx] : *offs3dElementLine(table, idx);
        if (line.ok) {
            const double a = line.a, b = line.b, c = line.c;
            const double v = a * probe.x + b * probe.y + c;
            if (std::fabs(v) > reach + kReachSlack) continue;
            // No point of the element is nearer than its line: well off the line the probe cannot
            // be in the material, and the distances to the element need not be computed.
            const double inMaterial = r - step - kReachSlack;
            if (std::fabs(v) < inMaterial + slack) {
                Vec2 foot;
                const bool onElement = footOnLine(probe, e, line, &foot) != 0;
                if (closerThan(probe, e1, inMaterial) || closerThan(probe, e2, inMaterial) ||
                    (onElement && closerThan(probe, foot, inMaterial))) {
                    wogError(0, kSourceFile, kLineInMaterial);
                    return 0;
                }
            }
            // The curve at tool distance on the probe's side (the negative side when on the line).
            const double shifted = v > 0.0 ? c - r : c + r;
            Vec2 x1, x2;
            if (lineCircleIntersect2D(a, b, shifted, &search, &x1, &x2) == 2 &&
                (x1.x != x2.x || x1.y != x2.y)) {
                for (const Vec2& x : {x1, x2}) {
                    Vec2 f;
                    if (footOnLine(x, e, line, &f)) best.offer(query, reference, x, f, idx);
                }
            }
        }
        for (const Vec2& end : {e1, e2}) {
            if (!withinRing(end, probe, step, reach)) continue;
            const ToolCircle around{end.x, end.y, r, 0};
            Vec2 x1, x2;
            // A tangent meeting gives no direction to go on in.
            if (circleCircleIntersect2D(&around, &search, &x1, &x2) != 2 || (x1.x == x2.x && x1.y == x2.y))
                continue;
            best.offer(query, reference, x1, end, idx);
            best.offer(query, reference, x2, end, idx);
        }
    }
    if (best.angle >= kNothing) return 0;
    *centre = Vec3{best.centre.x, best.centre.y, params->planeZ};
    *contact = Vec3{best.contact.x, best.contact.y, params->planeZ};
    *element = best.element;
    *kind = kContactSearch;
    return 1;
}

int offs3dStartTest(const Kont2d* elements, const Kont2d* frame, const GridCell* cell, double radius,
                    const Seg2D* ray, Seg2D* segOut, Vec2* contactOut, int32_t* elementOut,
                    int32_t* kindOut) {
    if (!ray || !segOut || !contactOut || !elementOut || !kindOut) return 0;
    *segOut = *ray;
    double la, lb, lc;
    if (!segLineEquation2D(ray, &la, &lb, &lc)) return 0;
    const Vec2 p{ray->x1, ray->y1}, q{ray->x2, ray->y2};
    const double ux = (q.x - p.x), uy = (q.y - p.y);
    const double bestStart = dist2(p, q);
    double best = bestStart;
    int result = 0;
    Vec2 hit{0.0, 0.0}, touch{0.0, 0.0};
    int32_t hitElement = -1, hitKind = 0;
    const int32_t n = elements ? (cell ? cell->count : elements->count) : 0;
    for (int32_t m = 0; m < n; m++) {
        const int32_t i = cell ? cell->items[m] : m;
        const Seg2D& e = elements->elements[i];
        const double rr = radius + offs3dRadiusAddition(i);
        const double d1 = la * e.x1 + lb * e.y1 + lc, d2 = la * e.x2 + lb * e.y2 + lc;
        if ((d1 > rr && d2 > rr) || (d1 < -rr && d2 < -rr)) continue;
        double ea, eb, ec;
        if (segLineEquation2D(&e, &ea, &eb, &ec)) {
            const double vp = ea * p.x + eb * p.y + ec;
            const double shifted = vp > 0.0 ? ec - rr : (vp < 0.0 ? ec + rr : ec);
            const double det = la * eb - ea * lb;
            if (det != 0.0) {
                const Vec2 x{(lb * shifted - eb * lc) / det, (ea * lc - la * shifted) / det};
                const double vx = ea * x.x + eb * x.y + ec;
                const Vec2 f{x.x - vx * ea, x.y - vx * eb};
                const double sq = ea * q.x + eb * q.y + shifted, sf = ea * f.x + eb * f.y + shifted;
                const bool opposite = (sq > 0.0 && sf < 0.0) || (sq < 0.0 && sf > 0.0);
                if (!opposite && pointOnSeg2D(&x, ray) && pointOnSeg2D(&f, &e) && dist2(p, x) < best) {
                    best = dist2(p, x);
                    hit = x;
                    touch = f;
                    hitElement = i;
                    hitKind = kContactLine;
                    result = 1;
                }
            }
        }
        const Vec2 ends[2] = {{e.x1, e.y1}, {e.x2, e.y2}};
        for (const Vec2& end : ends) {
            if (std::fabs(la * end.x + lb * end.y + lc) > rr) continue;
            const ToolCircle around{end.x, end.y, rr, 0};
            Vec2 x[2];
            if (segCircleIntersect2D(ray, &around, &x[0], &x[1]) != 2) continue;
            for (const Vec2& xi : x) {
                // The end must lie ahead of the touching centre along the ray, as the ray end does.
                const bool ahead = (end.x - xi.x) * ux + (end.y - xi.y) * uy > 0.0;
                if (dist2(p, xi) < best && segProjectInside2D(ray, &xi) == 1 && ahead) {
                    best = dist2(p, xi);
                    hit = xi;
                    touch = end;
                    hitElement = i;
                    hitKind = kContactEnd;
                    result = 1;
                }
            }
        }
    }
    forFrame(frame, [&](const Kont2d* c) {
        for (int32_t i = 0; i < c->count; i++) {
            Vec2 x;
            if (!segLinesIntersect2D(ray, &c->elements[i], &x)) continue;
            const double d = dist2(p, x);
            if (d > 1e-5 && d < best && pointOnSeg2D(&x, ray) && pointOnSeg2D(&x, &c->elements[i])) {
                best = d;
                hit = x;
                touch = x;
                hitElement = kElementFrame;
                hitKind = kContactFrame;
                result = 2;
            }
        }
    });
    if (best < bestStart) {
        *segOut = Seg2D{p.x, p.y, hit.x, hit.y};
        *contactOut = touch;
        *elementOut = hitElement;
        *kindOut = hitKind;
        if (frame && !offs3dInsideFrame(frame, &hit)) result = 2;
    }
    return result;
}
