#include "pocket/chaincross.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "kernel/base/constants.h"
#include "pocket/contourclean.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kTol = 1e-4;

bool known(const ContourElement* e) {
    return e->type == kElemLine || e->type == kElemArc;
}

double angleAbout(double cx, double cy, double x, double y) {
    double a = std::atan2(y - cy, x - cx);
    return a < 0 ? a + kTwoPi : a;
}

// The unit tangent of e at a point on it.
Vec2 tangentAt(const ContourElement* e, const Vec2& p) {
    Vec2 t{0, 0};
    if (e->type == kElemLine) {
        elemTangent(e, &t, kElemStart);
        return t;
    }
    const double vx = p.x - e->g[kAcx], vy = p.y - e->g[kAcy], len = std::hypot(vx, vy);
    if (len == 0) return t;
    const double s = e->direction > 0 ? 1.0 : -1.0;
    return {-s * vy / len, s * vx / len};
}

struct PairHit {
    int32_t a, b;
    Vec2 p;
    bool touch;
};

// Whether p (on the arc's circle) lies on its sweep, with a length slack at the
// ends; sector tests by cross products, a full circle when the ends meet.
bool withinArc(const ContourElement* arc, const Vec2& p, double slack) {
    const double cx = arc->g[kAcx], cy = arc->g[kAcy];
    const double sx = arc->g[kAsx] - cx, sy = arc->g[kAsy] - cy, ex = arc->g[kAex] - cx,
                 ey = arc->g[kAey] - cy;
    const double px = p.x - cx, py = p.y - cy;
    const double s2 = slack * slack, dsx = p.x - arc->g[kAsx], dsy = p.y - arc->g[kAsy];
    const double dex = p.x - arc->g[kAex], dey = p.y - arc->g[kAey];
    if (dsx * dsx + dsy * dsy <= s2 || dex * dex + dey * dey <= s2) return true;
    const double sense = arc->direction > 0 ? 1.0 : -1.0;
    const double se = sense * (sx * ey - sy * ex), sp = sense * (sx * py - sy * px),
                 pe = sense * (px * ey - py * ex);
    if (std::fabs(se) < 1e-300 && sx * ex + sy * ey > 0) return true;  // ends meet: a full circle
    // A sweep below half a turn holds the points past the start and before the end;
    // a longer one everything but the points before the start and past the end.
    return se > 0 ? (sp >= 0 && pe >= 0) : (sp >= 0 || pe >= 0);
}

// A line against an arc, solved exactly: a line that cuts the circle by the
// smallest amount still gives its two points, so no crossing of a tiny loop is
// mistaken for a touch. The count, touch set for a tangent contact.
int lineArcExact(const ContourElement* line, const ContourElement* arc, Vec2 p[2], bool* touch) {
    const double vx = line->g[kLx2] - line->g[kLx1], vy = line->g[kLy2] - line->g[kLy1];
    const double wx = line->g[kLx1] - arc->g[kAcx], wy = line->g[kLy1] - arc->g[kAcy], r = arc->g[kAr];
    const double a = vx * vx + vy * vy, len = std::sqrt(a);
    if (len == 0) return 0;
    // Parameter of the foot of the centre and its squared distance from the centre.
    const double tf = -(vx * wx + vy * wy) / a;
    const double fx = wx + tf * vx, fy = wy + tf * vy, h2 = fx * fx + fy * fy;
    double t[2];
    int n;
    if (h2 >= r * r) {
        if (std::sqrt(h2) - r > 1e-9) return 0;
        t[0] = tf;
        n = 1;
        *touch = true;
    } else {
        const double half = std::sqrt(r * r - h2) / len;
        t[0] = tf - half;
        t[1] = tf + half;
        n = half * len < 1e-9 ? 1 : 2;
        *touch = n == 1;
    }
    const double slack = 1e-6 / len;
    int kept = 0;
    for (int k = 0; k < n; ++k) {
        if (t[k] < -slack || t[k] > 1 + slack) continue;
        const Vec2 q{line->g[kLx1] + t[k] * vx, line->g[kLy1] + t[k] * vy};
        if (withinArc(arc, q, 1e-6)) p[kept++] = q;
    }
    return kept;
}

int arcArcExact(const ContourElement* a, const ContourElement* b, Vec2 p[2], bool* touch) {
    const double dx = b->g[kAcx] - a->g[kAcx], dy = b->g[kAcy] - a->g[kAcy], d = std::hypot(dx, dy);
    const double ra = a->g[kAr], rb = b->g[kAr];
    if (d == 0) return 0;
    const double along = (d * d + ra * ra - rb * rb) / (2 * d), h2 = ra * ra - along * along;
    const double ux = dx / d, uy = dy / d, mx = a->g[kAcx] + along * ux, my = a->g[kAcy] + along * uy;
    Vec2 q[2];
    int n;
    if (h2 <= 0) {
        // Circles that miss by more than a hair do not meet at all.
        if (std::fabs(d - (ra + rb)) > 1e-9 && std::fabs(d - std::fabs(ra - rb)) > 1e-9) return 0;
        q[0] = {mx, my};
        n = 1;
    } else {
        const double h = std::sqrt(h2);
        q[0] = {mx - h * uy, my + h * ux};
        q[1] = {mx + h * uy, my - h * ux};
        n = h < 1e-9 ? 1 : 2;
    }
    *touch = n == 1;
    int kept = 0;
    for (int k = 0; k < n; ++k) {
        if (withinArc(a, q[k], 1e-6) && withinArc(b, q[k], 1e-6)) p[kept++] = q[k];
    }
    return kept;
}

// The points two elements share: the count (0..2) with touch set for a tangent
// contact, or -1 when they overlap along a piece.
int pairPoints(const ContourElement* ea, const ContourElement* eb, Vec2 p[2], bool* touch) {
    *touch = false;
    if (ea->type == kElemLine && eb->type == kElemLine) {
        const int n = isectLineLine(ea->g, eb->g, p);
        return n < 0 ? -1 : n;
    }
    if (ea->type == kElemArc && eb->type == kElemArc) {
        const double tol = pocketKernel().tolerance;
        const bool sameCircle = std::fabs(ea->g[kAcx] - eb->g[kAcx]) < tol &&
                                std::fabs(ea->g[kAcy] - eb->g[kAcy]) < tol &&
                                std::fabs(ea->g[kAr] - eb->g[kAr]) < tol;
        if (sameCircle) {
            const int n = isectArcArc(ea, eb, p);
            if (n < -1) return -1;
            if (n == -1) {
                *touch = true;
                return 1;
            }
            return n;
        }
        return arcArcExact(ea, eb, p, touch);
    }
    const ContourElement* line = ea->type == kElemLine ? ea : eb;
    const ContourElement* arc = ea->type == kElemLine ? eb : ea;
    return lineArcExact(line, arc, p, touch);
}

bool boxesMeet(const Vec2& amin, const Vec2& amax, const Vec2& bmin, const Vec2& bmax) {
    return amin.x <= bmax.x + kTol && bmin.x <= amax.x + kTol && amin.y <= bmax.y + kTol &&
           bmin.y <= amax.y + kTol;
}

double dirAngle(const Vec2& v) {
    return angleAbout(0, 0, v.x, v.y);
}

// Whether angle x lies strictly inside the counter-clockwise sector from lo to hi.
int sectorSide(double lo, double hi, double x) {
    double w = hi - lo, u = x - lo;
    if (w < 0) w += kTwoPi;
    if (u < 0) u += kTwoPi;
    if (u < kTol || std::fabs(u - w) < kTol || u > kTwoPi - kTol) return 0;
    return u < w ? 1 : -1;
}

// At a shared point where at least one chain turns from one element to the
// next: the chains cross when B's way in and way out lie on either side of A's.
bool crossesAtJoint(const ContourElement* aIn, const ContourElement* aOut, const ContourElement* bIn,
                    const ContourElement* bOut, const Vec2& p) {
    const Vec2 ai = tangentAt(aIn, p), ao = tangentAt(aOut, p), bi = tangentAt(bIn, p),
               bo = tangentAt(bOut, p);
    const double a1 = dirAngle({-ai.x, -ai.y}), a2 = dirAngle(ao);
    const int s1 = sectorSide(a2, a1, dirAngle({-bi.x, -bi.y})), s2 = sectorSide(a2, a1, dirAngle(bo));
    return s1 != 0 && s2 != 0 && s1 != s2;
}

double recordParam(const ContourElement* e, const Vec2& p) {
    if (elemIsPoint(e) && e->type == kElemLine) return 0;
    if (e->type == kElemArc) return angleAbout(e->g[kAcx], e->g[kAcy], p.x, p.y);
    const double dx = e->g[kLx2] - e->g[kLx1], dy = e->g[kLy2] - e->g[kLy1];
    return std::fabs(dx) >= kTol ? (p.x - e->g[kLx1]) / dx : (p.y - e->g[kLy1]) / dy;
}

// The ends read in place, as elemPoint gives them ({0, 0} for an unknown type).
Vec2 startOf(const ContourElement* e) {
    if (e->type == kElemLine) return {e->g[kLx1], e->g[kLy1]};
    if (e->type == kElemArc) return {e->g[kAsx], e->g[kAsy]};
    return {0, 0};
}

Vec2 endOf(const ContourElement* e) {
    if (e->type == kElemLine) return {e->g[kLx2], e->g[kLy2]};
    if (e->type == kElemArc) return {e->g[kAex], e->g[kAey]};
    return {0, 0};
}

// The box of an element; an arc's extreme points count where its sweep reaches them.
// fmin and fmax without the library call: the number when the other is NaN.
double lesser(double a, double b) {
    return a < b ? a : (b < a || a != a) ? b : a;
}

double greater(double a, double b) {
    return a > b ? a : (b > a || a != a) ? b : a;
}

void boxOf(const ContourElement* e, Vec2* lo, Vec2* hi) {
    const Vec2 s = startOf(e), t = endOf(e);
    *lo = {lesser(s.x, t.x), lesser(s.y, t.y)};
    *hi = {greater(s.x, t.x), greater(s.y, t.y)};
    if (e->type != kElemArc) return;
    const double cx = e->g[kAcx], cy = e->g[kAcy], r = e->g[kAr];
    const Vec2 extremes[4] = {{cx + r, cy}, {cx, cy + r}, {cx - r, cy}, {cx, cy - r}};
    for (const Vec2& q : extremes) {
        if (!withinArc(e, q, 0)) continue;
        *lo = {lesser(lo->x, q.x), lesser(lo->y, q.y)};
        *hi = {greater(hi->x, q.x), greater(hi->y, q.y)};
    }
}

// Keeps the hits that are real crossings, each once: a point at an element's end
// is judged at the next element's start, where both ways through it are known.
template <typename Flagged>
bool keepCrossings(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB,
                   const std::vector<PairHit>& hits, Flagged flagged, bool self, int32_t capacity,
                   std::vector<PocketIsect>& out, std::vector<double>& along) {
    const bool closedA = contourIsClosed(a, countA), closedB = contourIsClosed(b, countB);
    for (const PairHit& h : hits) {
        const ContourElement* ea = &a[h.a];
        const ContourElement* eb = &b[h.b];
        const Vec2 as = startOf(ea), ae = endOf(ea), bs = startOf(eb), be = endOf(eb);
        const bool atEndA = pointsEqual2D(&h.p, &ae) && !pointsEqual2D(&as, &ae);
        const bool atEndB = pointsEqual2D(&h.p, &be) && !pointsEqual2D(&bs, &be);
        if (atEndA && (closedA || h.a + 1 < countA)) continue;
        if (atEndB && (closedB || h.b + 1 < countB)) continue;
        const bool atStartA = pointsEqual2D(&h.p, &as) && !atEndA;
        const bool atStartB = pointsEqual2D(&h.p, &bs) && !atEndB;
        const int32_t pa = h.a > 0 ? h.a - 1 : (closedA ? countA - 1 : -1);
        const int32_t pb = h.b > 0 ? h.b - 1 : (closedB ? countB - 1 : -1);
        // Neighbours of one chain meet at their joint: that is no crossing.
        if (self && ((atStartB && pb == h.a) || (atStartA && pa == h.b))) continue;
        if (atStartA || atStartB) {
            if (atStartA && (pa < 0 || flagged(pa, h.b))) continue;
            if (atStartB && (pb < 0 || flagged(h.a, pb))) continue;
            if (atStartA && atStartB && flagged(pa, pb)) continue;
            if (!crossesAtJoint(atStartA ? &a[pa] : ea, ea, atStartB ? &b[pb] : eb, eb, h.p)) continue;
        } else if (h.touch) {
            continue;
        }
        if ((int32_t)out.size() >= capacity) return false;
        out.push_back({h.p.x, h.p.y, recordParam(ea, h.p), h.a + 1, h.b + 1, 1});
        along.push_back(elemFraction(ea, &h.p));
    }
    return true;
}

void sortAlong(std::vector<PocketIsect>& out, const std::vector<double>& along, PocketIsect* records) {
    std::vector<int32_t> order(out.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = static_cast<int32_t>(k);
    std::stable_sort(order.begin(), order.end(), [&](int32_t x, int32_t y) {
        if (out[x].elemA != out[y].elemA) return out[x].elemA < out[y].elemA;
        return along[x] < along[y];
    });
    for (size_t k = 0; k < order.size(); ++k) records[k] = out[order[k]];
}

}  // namespace

double elemFraction(const ContourElement* e, const Vec2* p) {
    if (e->type == kElemLine) {
        const double dx = e->g[kLx2] - e->g[kLx1], dy = e->g[kLy2] - e->g[kLy1];
        const double l2 = dx * dx + dy * dy;
        return l2 > 0 ? ((p->x - e->g[kLx1]) * dx + (p->y - e->g[kLy1]) * dy) / l2 : 0.0;
    }
    const double cx = e->g[kAcx], cy = e->g[kAcy];
    const double sense = e->direction > 0 ? 1.0 : -1.0;
    const double a0 = angleAbout(cx, cy, e->g[kAsx], e->g[kAsy]);
    double total = sense * (angleAbout(cx, cy, e->g[kAex], e->g[kAey]) - a0);
    if (total < 0) total += kTwoPi;
    if (total < 1e-9 || elemIsPoint(e)) total = kTwoPi;  // a full circle
    double u = sense * (angleAbout(cx, cy, p->x, p->y) - a0);
    if (u < 0) u += kTwoPi;
    // A point a little before the start belongs before it, not at the far end.
    if (u > total && u > total + 0.5 * (kTwoPi - total)) u -= kTwoPi;
    return u / total;
}

void elemTrim(ContourElement* e, const Vec2* p, const Vec2* q) {
    const double r = e->g[kAr];
    elemSetPoint(e, p, kElemStart);
    elemSetPoint(e, q, kElemEnd);
    if (e->type == kElemArc) e->g[kAr] = r;
}

int elemIntersect(const ContourElement* a, const ContourElement* b, Vec2 p[2]) {
    if (!known(a) || !known(b)) return 0;
    bool touch = false;
    return pairPoints(a, b, p, &touch);
}

namespace {

struct SweepKey {
    double x;
    int32_t i;
};

// Sorts keys by x by merging the chain's runs along x (a contour has few): any order of equal
// keys.
void mergeRuns(std::vector<SweepKey>& v) {
    const size_t n = v.size();
    auto less = [](const SweepKey& p, const SweepKey& q) { return p.x < q.x; };
    std::vector<size_t> bounds{0};
    for (size_t i = 0; i < n;) {
        size_t j = i + 1;
        if (j < n && less(v[j], v[i])) {
            while (j < n && less(v[j], v[j - 1])) ++j;
            std::reverse(v.begin() + static_cast<std::ptrdiff_t>(i),
                         v.begin() + static_cast<std::ptrdiff_t>(j));
        } else {
            while (j < n && !less(v[j], v[j - 1])) ++j;
        }
        bounds.push_back(j);
        i = j;
    }
    std::vector<SweepKey> buffer(n);
    while (bounds.size() > 2) {
        std::vector<size_t> merged{0};
        for (size_t k = 0; k + 1 < bounds.size(); k += 2) {
            const size_t lo = bounds[k], mid = bounds[k + 1],
                         hi = k + 2 < bounds.size() ? bounds[k + 2] : mid;
            std::merge(
                v.begin() + static_cast<std::ptrdiff_t>(lo), v.begin() + static_cast<std::ptrdiff_t>(mid),
                v.begin() + static_cast<std::ptrdiff_t>(mid), v.begin() + static_cast<std::ptrdiff_t>(hi),
                buffer.begin() + static_cast<std::ptrdiff_t>(lo), less);
            merged.push_back(hi);
        }
        v.swap(buffer);
        bounds.swap(merged);
    }
}

}  // namespace

void isectBoxPairs(const Vec2* loA, const Vec2* hiA, int32_t countA, const Vec2* loB, const Vec2* hiB,
                   int32_t countB, std::vector<uint64_t>* pairs) {
    struct Box {
        Vec2 lo, hi;
        int32_t i;
    };
    // A box with a NaN bound meets none (every bound takes part in the test).
    // Sorted by low x through the chain's runs; the order of ties does not matter.
    auto gather = [](const Vec2* lo, const Vec2* hi, int32_t count) {
        std::vector<SweepKey> keys;
        keys.reserve(static_cast<size_t>(std::max(count, 0)));
        for (int32_t i = 0; i < count; ++i) {
            if (lo[i].x != lo[i].x || lo[i].y != lo[i].y || hi[i].x != hi[i].x || hi[i].y != hi[i].y)
                continue;
            keys.push_back({lo[i].x, i});
        }
        mergeRuns(keys);
        std::vector<Box> boxes(keys.size());
        for (size_t k = 0; k < keys.size(); ++k) boxes[k] = {lo[keys[k].i], hi[keys[k].i], keys[k].i};
        return boxes;
    };
    const std::vector<Box> boxA = gather(loA, hiA, countA), boxB = gather(loB, hiB, countB);
    auto key = [](int32_t i, int32_t j) { return static_cast<uint64_t>(i) << 32 | static_cast<uint32_t>(j); };
    pairs->clear();
    // Each pair overlapping in x is met once, from the box starting first (a's on a tie).
    size_t first = 0;
    for (const Box& p : boxA) {
        while (first < boxB.size() && boxB[first].lo.x < p.lo.x) ++first;
        for (size_t v = first; v < boxB.size() && boxB[v].lo.x <= p.hi.x + kTol; ++v) {
            if (boxesMeet(p.lo, p.hi, boxB[v].lo, boxB[v].hi)) pairs->push_back(key(p.i, boxB[v].i));
        }
    }
    first = 0;
    for (const Box& q : boxB) {
        while (first < boxA.size() && !(q.lo.x < boxA[first].lo.x)) ++first;
        for (size_t u = first; u < boxA.size() && boxA[u].lo.x <= q.hi.x + kTol; ++u) {
            if (boxesMeet(boxA[u].lo, boxA[u].hi, q.lo, q.hi)) pairs->push_back(key(boxA[u].i, q.i));
        }
    }
    std::sort(pairs->begin(), pairs->end());
}

int32_t intersectContours(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB,
                          PocketIsect* records, int32_t capacity) {
    if (!a || !b || countA < 1 || countB < 1) return 0;
    std::vector<PairHit> hits;
    std::vector<uint64_t> pairs, overlaps;
    try {
        // Elements of unknown type get a NaN box: they meet nothing.
        auto boxes = [](const ContourElement* chain, int32_t count, std::vector<Vec2>& lo,
                        std::vector<Vec2>& hi) {
            lo.resize(count);
            hi.resize(count);
            for (int32_t i = 0; i < count; ++i) {
                if (known(&chain[i])) {
                    boxOf(&chain[i], &lo[i], &hi[i]);
                } else {
                    lo[i] = hi[i] = {std::nan(""), std::nan("")};
                }
            }
        };
        std::vector<Vec2> loA, hiA, loB, hiB;
        // A ring is often met with many small contours in turn: the smaller chain's boxes are taken first,
        // and an element of the other whose rough box (an arc's whole circle) keeps clear of all of them
        // meets none, so it gets the NaN box without its own.
        const bool aFirst = countA <= countB;
        std::vector<Vec2>&smallLo = aFirst ? loA : loB, &smallHi = aFirst ? hiA : hiB;
        boxes(aFirst ? a : b, aFirst ? countA : countB, smallLo, smallHi);
        Vec2 ulo{1e300, 1e300}, uhi{-1e300, -1e300};
        for (size_t i = 0; i < smallLo.size(); ++i) {
            const Vec2 &l = smallLo[i], &h = smallHi[i];
            if (l.x != l.x || l.y != l.y || h.x != h.x || h.y != h.y) continue;  // meets none
            ulo = {std::min(ulo.x, l.x), std::min(ulo.y, l.y)};
            uhi = {std::max(uhi.x, h.x), std::max(uhi.y, h.y)};
        }
        const ContourElement* other = aFirst ? b : a;
        const int32_t otherCount = aFirst ? countB : countA;
        std::vector<Vec2>&otherLo = aFirst ? loB : loA, &otherHi = aFirst ? hiB : hiA;
        otherLo.resize(otherCount);
        otherHi.resize(otherCount);
        for (int32_t i = 0; i < otherCount; ++i) {
            const ContourElement& e = other[i];
            if (!known(&e)) {
                otherLo[i] = otherHi[i] = {std::nan(""), std::nan("")};
                continue;
            }
            if (e.type == kElemArc) {
                const double r = std::fabs(e.g[kAr]);
                const Vec2 s = startOf(&e), t = endOf(&e);
                const Vec2 lo{lesser(lesser(s.x, t.x), e.g[kAcx] - r),
                              lesser(lesser(s.y, t.y), e.g[kAcy] - r)};
                const Vec2 hi{greater(greater(s.x, t.x), e.g[kAcx] + r),
                              greater(greater(s.y, t.y), e.g[kAcy] + r)};
                if (hi.x + kTol < ulo.x || lo.x > uhi.x + kTol || hi.y + kTol < ulo.y ||
                    lo.y > uhi.y + kTol) {
                    otherLo[i] = otherHi[i] = {std::nan(""), std::nan("")};
                    continue;
                }
            }
            boxOf(&e, &otherLo[i], &otherHi[i]);
            // Nor does an element whose own box keeps clear of them all: it stays out of the sweep.
            const Vec2 &lo = otherLo[i], &hi = otherHi[i];
            if (hi.x + kTol < ulo.x || lo.x > uhi.x + kTol || hi.y + kTol < ulo.y || lo.y > uhi.y + kTol)
                otherLo[i] = otherHi[i] = {std::nan(""), std::nan("")};
        }
        // The pairs whose boxes meet, in the order of the plain all-pairs scan.
        isectBoxPairs(loA.data(), hiA.data(), countA, loB.data(), hiB.data(), countB, &pairs);
        for (const uint64_t pair : pairs) {
            const int32_t i = static_cast<int32_t>(pair >> 32), j = static_cast<int32_t>(pair & 0xffffffffu);
            Vec2 p[2];
            bool touch = false;
            const int n = pairPoints(&a[i], &b[j], p, &touch);
            if (n < 0) {
                overlaps.push_back(pair);  // met in sorted order
                continue;
            }
            for (int k = 0; k < n; ++k) hits.push_back({i, j, p[k], touch});
        }
    } catch (...) {
        return -1;
    }
    auto flagged = [&](int32_t i, int32_t j) {
        return std::binary_search(overlaps.begin(), overlaps.end(),
                                  static_cast<uint64_t>(i) << 32 | static_cast<uint32_t>(j));
    };
    std::vector<PocketIsect> out;
    std::vector<double> along;
    try {
        if (!keepCrossings(a, countA, b, countB, hits, flagged, false, capacity, out, along)) return -1;
        sortAlong(out, along, records);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    return static_cast<int32_t>(out.size());
}

namespace {

// The crossings of a chain with itself, its element pairs met in the order of keys sorted by
// the boxes' low x. With tied set, records are written only when no two crossings share an
// element and a place on it (and *tied says whether two do): then the order the pairs were met
// in cannot show in the records.
int32_t sweepCrossings(const ContourElement* chain, int32_t count, const std::vector<Vec2>& lo,
                       const std::vector<Vec2>& hi, const std::vector<SweepKey>& order, PocketIsect* records,
                       bool* tied) {
    // The boxes gathered in that order: the sweep reads one run of memory.
    struct Box {
        Vec2 lo, hi;
        int32_t i;
        bool known;
    };
    std::vector<Box> sorted(count);
    for (int32_t u = 0; u < count; ++u) {
        const int32_t i = order[u].i;
        sorted[u] = {lo[i], hi[i], i, known(&chain[i])};
    }
    std::vector<PairHit> hits;
    hits.reserve(2 * static_cast<size_t>(count));  // neighbours meet at their joints, arcs twice
    std::vector<uint64_t> overlaps;
    // Sweep along x: only elements whose boxes overlap in x are paired.
    for (int32_t u = 0; u < count; ++u) {
        const Box& bi = sorted[u];
        if (!bi.known) continue;
        const int32_t i = bi.i;
        for (int32_t v = u + 1; v < count && sorted[v].lo.x <= bi.hi.x + kTol; ++v) {
            const Box& bj = sorted[v];
            if (!bj.known || !boxesMeet(bi.lo, bi.hi, bj.lo, bj.hi)) continue;
            const int32_t j = bj.i;
            const int32_t a = std::min(i, j), b = std::max(i, j);
            Vec2 p[2];
            bool touch = false;
            const int n = pairPoints(&chain[a], &chain[b], p, &touch);
            if (n < 0) {
                overlaps.push_back(static_cast<uint64_t>(a) << 32 | static_cast<uint32_t>(b));
                continue;
            }
            for (int k = 0; k < n; ++k) hits.push_back({a, b, p[k], touch});
        }
    }
    std::sort(overlaps.begin(), overlaps.end());
    auto flagged = [&](int32_t x, int32_t y) {
        const uint64_t key =
            static_cast<uint64_t>(std::min(x, y)) << 32 | static_cast<uint32_t>(std::max(x, y));
        return std::binary_search(overlaps.begin(), overlaps.end(), key);
    };
    std::vector<PocketIsect> out;
    std::vector<double> along;
    if (!keepCrossings(chain, count, chain, count, hits, flagged, true, kIsectTableSize - 1, out, along))
        return -1;
    if (tied) {
        // Places that do not compare (NaN) count as shared, before any sorting by them.
        *tied = std::any_of(along.begin(), along.end(), [](double f) { return f != f; });
        if (*tied) return 0;
        std::vector<int32_t> byPlace(out.size());
        for (size_t k = 0; k < byPlace.size(); ++k) byPlace[k] = static_cast<int32_t>(k);
        std::sort(byPlace.begin(), byPlace.end(), [&](int32_t x, int32_t y) {
            if (out[x].elemA != out[y].elemA) return out[x].elemA < out[y].elemA;
            return along[x] < along[y];
        });
        for (size_t k = 1; k < byPlace.size() && !*tied; ++k) {
            const int32_t x = byPlace[k - 1], y = byPlace[k];
            *tied = out[x].elemA == out[y].elemA && !(along[x] < along[y]);
        }
        if (*tied) return 0;
    }
    sortAlong(out, along, records);
    return static_cast<int32_t>(out.size());
}

}  // namespace

int32_t contourReduce(const ContourElement* chain, int32_t count, PocketIsect* records, int mode) {
    (void)mode;  // the closing joint of a closed chain is a joint in every mode
    if (!chain || count < 2) return 0;
    std::vector<Vec2> lo(count), hi(count);
    std::vector<SweepKey> order(count);
    bool ordered = true;
    for (int32_t i = 0; i < count; ++i) {
        boxOf(&chain[i], &lo[i], &hi[i]);
        order[i] = {lo[i].x, i};
        ordered = ordered && lo[i].x == lo[i].x;
    }
    // The same crossings come out whatever order the pairs are met in; only crossings at one
    // place of one element keep that order. Merging the chain's runs along x is quick; when
    // such crossings turn up, the sweep is run again in the order std::sort gives.
    if (ordered) {
        mergeRuns(order);
        bool tied = false;
        const int32_t n = sweepCrossings(chain, count, lo, hi, order, records, &tied);
        if (!tied) return n;
        for (int32_t i = 0; i < count; ++i) order[i] = {lo[i].x, i};
    }
    std::sort(order.begin(), order.end(), [](const SweepKey& x, const SweepKey& y) { return x.x < y.x; });
    return sweepCrossings(chain, count, lo, hi, order, records, nullptr);
}

int elemContourClassify(const ContourElement* arcData, const ContourElement* chain, int32_t count) {
    const Vec2 c{arcData->g[kAcx], arcData->g[kAcy]};
    const double r = arcData->g[kAr] - pocketKernel().tolerance;
    for (int32_t i = 0; i < count; ++i) {
        if (!known(&chain[i])) return -1;
        Vec2 near;
        if (elemDistance(&c, &chain[i], &near) < r) return 1;
    }
    return 0;
}

int segmentCrossesChain(const double* line, const ContourElement* chain, int32_t count) {
    const Vec2 s{line[0], line[1]}, t{line[2], line[3]};
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement* e = &chain[i];
        Vec2 p[2];
        int n;
        if (e->type == kElemLine) {
            n = isectLineLine(line, e->g, p);
            if (n < 0) return 1;
        } else if (e->type == kElemArc) {
            n = isectLineArc(line, e, p);
            if (n == 2) return 1;
            if (n == -1) n = 1;
        } else {
            return -1;
        }
        if (n == 1 && !pointsEqual2D(&p[0], &s) && !pointsEqual2D(&p[0], &t)) return 1;
    }
    return 0;
}

int contourContainsChain(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB) {
    if (!a || !b || countA < 1 || countB < 1) return 0;
    constexpr double kProbes[2] = {0.2, 0.02};
    // The length of a matters only below 10 times the larger probe distance: summed up to there.
    double lengthA = 0;
    if (pocketKernel().toolRadius >= 1.0) {
        for (int32_t i = 0; i < countA && !(lengthA >= 10 * kProbes[0]); ++i) lengthA += elemLength(&a[i]);
    }
    for (double t : kProbes) {
        double threshold = t;
        if (pocketKernel().toolRadius >= 1.0) {
            if (lengthA < 10 * t) threshold = 0.1 * lengthA;
        } else {
            threshold = 0.2 * t;
        }
        for (int32_t k = 0; k < countA; ++k) {
            const ContourElement* e = &a[(countA / 2 + k) % countA];
            Vec2 m;
            if (!elemPoint(e, &m, kElemMiddle)) continue;
            if (contourDistanceBelow(&m, b, countB, threshold)) continue;
            bool onB = false;
            for (int32_t j = 0; j < countB && !onB; ++j) onB = pointOnElem(&m, &b[j]) != 0;
            if (!onB) return pointInContour(b, countB, &m);
        }
    }
    return 0;
}

int pointOnElem(const Vec2* p, const ContourElement* e) {
    if (e->type == kElemLine) return distPointLine(p->x, p->y, e->g) < kTol && pointOnSegmentParam(p, e->g);
    if (e->type != kElemArc) return 0;
    const double d = std::hypot(p->x - e->g[kAcx], p->y - e->g[kAcy]);
    return std::fabs(d - e->g[kAr]) < kTol && pointOnArc(p, e) ? 1 : 0;
}

int32_t isectFindPartner(const PocketIsect* records, int32_t count, int32_t i, int which) {
    if (i < 0 || i >= count) return -1;
    const PocketIsect& r = records[i];
    const int32_t elem = which == 1 ? r.elemA : r.elemB;
    for (int32_t k = 0; k < count; ++k) {
        if (k == i || std::fabs(records[k].x - r.x) >= kTol || std::fabs(records[k].y - r.y) >= kTol)
            continue;
        if (records[k].elemA == elem || records[k].elemB == elem) return k;
    }
    return -1;
}

int isectNextState1(const ContourElement* chain, int32_t count, int branch, const PocketIsect* records,
                    int32_t n, int32_t current, int32_t* index) {
    if (current < 0 || current >= n) return 0;
    auto elemOf = [branch](const PocketIsect& r) { return branch == 2 ? r.elemB : r.elemA; };
    const PocketIsect& cur = records[current];
    const int32_t e0 = elemOf(cur);
    const Vec2 cp{cur.x, cur.y};
    int32_t best = -1, wrapBest = -1;
    for (int32_t k = 0; k < n; ++k) {
        if (k == current || records[k].state != 1) continue;
        const int32_t e = elemOf(records[k]);
        if (e < 1 || e > count) continue;
        const Vec2 q{records[k].x, records[k].y};
        const ContourElement* el = &chain[e - 1];
        const bool ahead =
            e > e0 || (e == e0 && !pointsEqual2D(&q, &cp) && pointOrderOnElem(el, &q, &cp) == 1);
        int32_t* slot = ahead ? &best : &wrapBest;
        if (*slot < 0) {
            *slot = k;
            continue;
        }
        const PocketIsect& o = records[*slot];
        const int32_t oe = elemOf(o);
        const Vec2 oq{o.x, o.y};
        if (e < oe || (e == oe && pointOrderOnElem(el, &oq, &q) == 1)) *slot = k;
    }
    if (best >= 0) {
        *index = best;
        return 1;
    }
    if (wrapBest >= 0 && contourIsClosed(chain, count)) {
        *index = wrapBest;
        return -1;
    }
    return 0;
}

int32_t chainCopyBetween(const ContourElement* chain, int32_t count, int branch, const PocketIsect* records,
                         int32_t n, int32_t current, ContourElement* out, int32_t* outCount) {
    *outCount = 0;
    int32_t next = -1;
    const int found = isectNextState1(chain, count, branch, records, n, current, &next);
    if (found == 0) return -1;
    const PocketIsect& r0 = records[current];
    const PocketIsect& r1 = records[next];
    const int32_t e0 = (branch == 2 ? r0.elemB : r0.elemA) - 1, e1 = (branch == 2 ? r1.elemB : r1.elemA) - 1;
    const Vec2 p0{r0.x, r0.y}, p1{r1.x, r1.y};
    int32_t k = 0;
    const bool wrap = found < 0 || e1 < e0;
    const int32_t steps = wrap ? count - e0 + e1 + 1 : e1 - e0 + 1;
    for (int32_t s = 0; s < steps; ++s) {
        ContourElement e = chain[(e0 + s) % count];
        Vec2 from = startOf(&e), to = endOf(&e);
        if (s == 0) from = p0;
        if (s == steps - 1) to = p1;
        elemTrim(&e, &from, &to);
        if (elemIsPoint(&e) && !(steps == 1 && e.type == kElemArc && wrap)) continue;
        if (k > 0) {
            const Vec2 prevEnd = endOf(&out[k - 1]), st = startOf(&e);
            if (std::fabs(prevEnd.x - st.x) >= 0.001 || std::fabs(prevEnd.y - st.y) >= 0.001) {
                if (elemJoinCollinear(&out[k - 1], &e) < 0) {
                    if (!pocketOffsetState().openChain) return -1;
                    break;
                }
            }
        }
        out[k++] = e;
    }
    *outCount = k;
    return next;
}

int elemJoinCollinear(ContourElement* a, ContourElement* b) {
    Vec2 ta, tb;
    if (!elemTangent(a, &ta, kElemEnd) || !elemTangent(b, &tb, kElemStart)) return -1;
    if (std::fabs(vecCross2D(&ta, &tb)) >= kTol || vecDot2D(&ta, &tb) <= 0) return -1;
    if (a->type == kElemLine) {
        const Vec2 s = startOf(b);
        elemSetPoint(a, &s, kElemEnd);
        return 1;
    }
    if (b->type == kElemLine) {
        const Vec2 e = endOf(a);
        elemSetPoint(b, &e, kElemStart);
        return 1;
    }
    return -1;
}
