#include "pocket/contourclean.h"

#include <cmath>
#include <cstring>

#include "kernel/base/constants.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemprim.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kTol = 1e-4;

void removeAt(ContourElement* chain, int32_t count, int32_t i) {
    memmove(&chain[i], &chain[i + 1], (count - i - 1) * sizeof(ContourElement));
}

void makeLine(ContourElement* e) {
    const double sx = e->g[kAsx], sy = e->g[kAsy], ex = e->g[kAex], ey = e->g[kAey];
    e->type = kElemLine;
    e->g[kLx1] = sx;
    e->g[kLy1] = sy;
    e->g[kLx2] = ex;
    e->g[kLy2] = ey;
    for (int k = 4; k < 8; ++k) e->g[k] = 0;
    e->direction = 0;
}

// A line's elemLength against a positive limit by the squared length, where that lies well
// away from the limit's square: 1 longer, -1 not longer, 0 undecided (the length decides).
int lineLengthSide(const ContourElement* e, double limit) {
    const double l2 = limit * limit;
    if (!(limit > 0 && l2 > 1e-290)) return 0;
    Vec2 s, t;
    elemPoint(e, &s, kElemStart);
    elemPoint(e, &t, kElemEnd);
    if (pointsEqual2D(&s, &t)) return -1;
    const double dx = t.x - s.x, dy = t.y - s.y, q = dx * dx + dy * dy;
    if (q > l2 * (1 + 1e-9)) return 1;
    if (q < l2 * (1 - 1e-9)) return -1;
    return 0;
}

bool sameSign(int32_t a, int32_t b, int32_t c) {
    return (a < 0 && b < 0 && c < 0) || (a >= 0 && b >= 0 && c >= 0);
}

// Element i with its cyclic neighbours forms a joined run of one kind of edge.
bool joinedRun(const ContourElement* chain, int32_t count, int32_t i) {
    const ContourElement& prev = chain[i - 1];
    const ContourElement& cur = chain[i];
    const ContourElement& next = chain[(i + 1) % count];
    if (!sameSign(prev.sourceTag, cur.sourceTag, next.sourceTag)) return false;
    Vec2 pe, cs, ce, ns;
    if (!elemPoint(&prev, &pe, kElemEnd) || !elemPoint(&cur, &cs, kElemStart) ||
        !elemPoint(&cur, &ce, kElemEnd) || !elemPoint(&next, &ns, kElemStart))
        return false;
    return pointsEqual2D(&pe, &cs) && pointsEqual2D(&ce, &ns);
}

// Whether moving an arc end to p would turn the arc over.
bool flipsArc(const ContourElement* e, const Vec2* p, int which) {
    if (e->type != kElemArc) return false;
    Vec2 s, t;
    elemPoint(e, &s, kElemStart);
    elemPoint(e, &t, kElemEnd);
    const Vec2 old{t.x - s.x, t.y - s.y};
    if (which == kElemStart)
        s = *p;
    else
        t = *p;
    const Vec2 now{t.x - s.x, t.y - s.y};
    return std::hypot(now.x, now.y) < 1e-6 || vecDot2D(&old, &now) < 0;
}

}  // namespace

int32_t contourClean(ContourElement* chain, int32_t count) {
    if (!chain || count < 1) return 0;
    int32_t i = 0;
    while (i < count) {
        ContourElement& e = chain[i];
        Vec2 s, t;
        const bool known = elemPoint(&e, &s, kElemStart) && elemPoint(&e, &t, kElemEnd);
        const bool fullCircle = known && e.type == kElemArc && e.g[kAr] > kPocketFlatRadius;
        if (!known || (std::fabs(s.x - t.x) < 0.0002 && std::fabs(s.y - t.y) < 0.0002 && !fullCircle)) {
            removeAt(chain, count, i);
            --count;
            // The line that takes its place keeps the chain joined.
            if (i < count && chain[i].type == kElemLine && known) elemSetPoint(&chain[i], &s, kElemStart);
            continue;
        }
        if (e.type == kElemArc && std::fabs(e.g[kAr]) < kPocketFlatRadius) makeLine(&e);
        ++i;
    }
    count = chainRemoveZigzags(chain, count, 0.01);
    return chainRemoveSpikes(chain, count, 0.01 * pocketKernel().geometryScale);
}

int32_t chainRemoveZigzags(ContourElement* chain, int32_t count, double maxLength) {
    int32_t i = 1;
    while (i < count && count >= 3) {
        ContourElement& cur = chain[i];
        const int32_t n = (i + 1) % count;
        int a = 0, b = 0;
        // The tests have no side effects, so their order is free: an arc, whose length costs
        // angles, is first tried by its corner, which is mostly smooth.
        auto shortOne = [&] {
            const int side = cur.type == kElemLine ? lineLengthSide(&cur, maxLength) : 0;
            return side != 0 ? side < 0 : !(elemLength(&cur) > maxLength);
        };
        auto turnsIn = [&] { return elemCornerType(&chain[i - 1], &cur, &a) && a != 0; };
        const bool zigzag = joinedRun(chain, count, i) &&
                            (cur.type == kElemArc ? turnsIn() && shortOne() : shortOne() && turnsIn()) &&
                            elemCornerType(&cur, &chain[n], &b) && b != 0 &&
                            !(a == b && a != kCornerReversal);
        if (!zigzag) {
            ++i;
            continue;
        }
        Vec2 joint;
        elemPoint(&cur, &joint, kElemMiddle);
        ContourElement prev = chain[i - 1], next = chain[n];
        // Two lines meet where their lines cross, when that lies by the element: joined at its middle
        // they both moved off their own lines (a ring's edges 2 um nearer the wall where an offset left
        // a scrap of arc at each corner).
        Vec2 cross[2];
        if (prev.type == kElemLine && next.type == kElemLine &&
            isectLinesInfinite(prev.g, next.g, cross) == 1 &&
            std::hypot(cross[0].x - joint.x, cross[0].y - joint.y) <= maxLength)
            joint = cross[0];
        if (flipsArc(&prev, &joint, kElemEnd) || flipsArc(&next, &joint, kElemStart)) {
            ++i;
            continue;
        }
        elemSetPoint(&prev, &joint, kElemEnd);
        elemSetPoint(&next, &joint, kElemStart);
        if (prev.type == kElemArc) arcFixRadius(&prev);
        if (next.type == kElemArc) arcFixRadius(&next);
        chain[i - 1] = prev;
        chain[n] = next;
        removeAt(chain, count, i);
        --count;
    }
    return count;
}

int32_t chainRemoveSpikes(ContourElement* chain, int32_t count, double maxLength) {
    int32_t i = 1;
    while (i < count && count >= 3) {
        ContourElement& cur = chain[i];
        const int32_t n = (i + 1) % count;
        ContourElement& prev = chain[i - 1];
        ContourElement& next = chain[n];
        Vec2 tp, tc, tn;
        auto shortLine = [&] {
            const int side = lineLengthSide(&cur, maxLength);
            return side != 0 ? side < 0 : elemLength(&cur) <= maxLength;
        };
        const bool candidate = cur.type == kElemLine && shortLine() &&
                               !(prev.type == kElemArc && next.type == kElemArc) &&
                               joinedRun(chain, count, i) && elemTangent(&prev, &tp, kElemEnd) &&
                               elemTangent(&cur, &tc, kElemStart) && elemTangent(&next, &tn, kElemStart);
        if (!candidate || vecDot2D(&tp, &tc) > -0.8 || vecDot2D(&tc, &tn) > -0.8) {
            ++i;
            continue;
        }
        Vec2 joint;
        if (prev.type == kElemArc)
            elemPoint(&cur, &joint, kElemStart);
        else if (next.type == kElemArc)
            elemPoint(&cur, &joint, kElemEnd);
        else
            elemPoint(&cur, &joint, kElemMiddle);
        elemSetPoint(&prev, &joint, kElemEnd);
        elemSetPoint(&next, &joint, kElemStart);
        removeAt(chain, count, i);
        --count;
    }
    return count;
}

int contourReduceShort(ContourElement* chain, int32_t* count, double maxLength) {
    if (!chain || !count || *count < 40) return 0;
    arcsToLines(chain, *count);
    int32_t n = *count;
    for (;;) {
        const int32_t m = chainRemoveZigzags(chain, n, maxLength);
        if (m >= n) break;
        n = m;
    }
    if (n >= *count) return 0;
    *count = n;
    return 1;
}

int arcsToLines(ContourElement* chain, int32_t count) {
    int changed = 0;
    for (int32_t i = 0; i + 1 < count; ++i) {
        if (chain[i].type == kElemArc && chain[i].g[kAr] > kPocketHugeRadius) {
            makeLine(&chain[i]);
            changed = 1;
        }
    }
    return changed;
}

int arcFixRadius(ContourElement* arc) {
    const double cx = arc->g[kAcx], cy = arc->g[kAcy];
    const double sx = arc->g[kAsx], sy = arc->g[kAsy], ex = arc->g[kAex], ey = arc->g[kAey];
    const double d1 = std::hypot(sx - cx, sy - cy), d2 = std::hypot(ex - cx, ey - cy);
    const double mean = 0.5 * (d1 + d2);
    if (std::fabs(arc->g[kAr] - mean) < 0.001) arc->g[kAr] = mean;
    const double r = arc->g[kAr];
    const double chord = std::hypot(ex - sx, ey - sy);
    if (chord == 0) return 0;
    const double mx = 0.5 * (sx + ex), my = 0.5 * (sy + ey);
    double nx = -(ey - sy) / chord, ny = (ex - sx) / chord;
    if (nx * (cx - mx) + ny * (cy - my) < 0) {
        nx = -nx;
        ny = -ny;
    }
    const double h2 = r * r - 0.25 * chord * chord;
    const double h = h2 > 0 ? std::sqrt(h2) : 0.0;
    const double ncx = mx + h * nx, ncy = my + h * ny;
    // The move is only compared: well below both thresholds its square tells.
    const double m2 = (ncx - cx) * (ncx - cx) + (ncy - cy) * (ncy - cy), lim = std::fmin(0.001, 0.9 * r);
    if (r > 0 && m2 < 0.999999 * lim * lim) return 0;
    const double moved = std::hypot(ncx - cx, ncy - cy);
    if (moved > 0.9 * r) {
        makeLine(arc);
    } else if (moved >= 0.001) {
        arc->g[kAcx] = ncx;
        arc->g[kAcy] = ncy;
    }
    return 0;
}

double arcSweepAngle(const ContourElement* arc) {
    Vec2 ts, te;
    if (!elemTangent(arc, &ts, kElemStart) || !elemTangent(arc, &te, kElemEnd)) return 0;
    double w = turnAngle(-ts.x, -ts.y, 0, 0, te.x, te.y);
    if (std::fabs(w) < kTol) return vecDot2D(&ts, &te) < 0 ? arc->direction * kPi : 0.0;
    if (w <= 0 && arc->direction > 0) w += kTwoPi;
    if (w >= 0 && arc->direction < 0) w -= kTwoPi;
    return w;
}

double elemLength(const ContourElement* e) {
    Vec2 s, t;
    if (!elemPoint(e, &s, kElemStart) || !elemPoint(e, &t, kElemEnd)) return 0;
    if (pointsEqual2D(&s, &t)) return 0;
    const double chord = std::hypot(t.x - s.x, t.y - s.y);
    if (chord < 0.01 || e->type == kElemLine) return chord;
    return std::fabs(arcSweepAngle(e) * e->g[kAr]);
}

double contourLength(const ContourElement* chain, int32_t count) {
    double sum = 0;
    for (int32_t i = 0; i < count; ++i) sum += elemLength(&chain[i]);
    return sum;
}

double elemLengthTo(const ContourElement* e, const Vec2* p, double* rest) {
    ContourElement part = *e;
    if (part.type == kElemArc) {
        part.g[kAex] = p->x;
        part.g[kAey] = p->y;
    } else {
        part.g[kLx2] = p->x;
        part.g[kLy2] = p->y;
    }
    const double done = elemLength(&part);
    if (rest) *rest = std::fmax(elemLength(e) - done, 0.0);
    return done;
}

void elemBoundingBox(const ContourElement* e, Vec2* min, Vec2* max) {
    Vec2 s{}, t{};
    elemPoint(e, &s, kElemStart);
    elemPoint(e, &t, kElemEnd);
    *min = {std::fmin(s.x, t.x), std::fmin(s.y, t.y)};
    *max = {std::fmax(s.x, t.x), std::fmax(s.y, t.y)};
    if (e->type != kElemArc) return;
    const double cx = e->g[kAcx], cy = e->g[kAcy], r = e->g[kAr];
    const Vec2 extremes[4] = {{cx + r, cy}, {cx, cy + r}, {cx - r, cy}, {cx, cy - r}};
    const ArcSpan span = arcSpanOf(e);
    for (const Vec2& q : extremes) {
        if (!pointInArcSpan(&q, e, span)) continue;
        *min = {std::fmin(min->x, q.x), std::fmin(min->y, q.y)};
        *max = {std::fmax(max->x, q.x), std::fmax(max->y, q.y)};
    }
}

void chainBoundingBox(const ContourElement* chain, int32_t count, Vec2* min, Vec2* max) {
    *min = {0, 0};
    *max = {0, 0};
    for (int32_t i = 0; i < count; ++i) {
        Vec2 a, b;
        elemBoundingBox(&chain[i], &a, &b);
        if (i == 0) {
            *min = a;
            *max = b;
            continue;
        }
        *min = {std::fmin(min->x, a.x), std::fmin(min->y, a.y)};
        *max = {std::fmax(max->x, b.x), std::fmax(max->y, b.y)};
    }
}
