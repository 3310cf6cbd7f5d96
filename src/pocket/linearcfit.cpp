#include "pocket/linearcfit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <new>
#include <vector>

#include "kernel/base/runreset.h"

namespace {

constexpr double kSpreadRefused = 6.6e6;
constexpr double kRadiusRefused = 8.8e8;
constexpr double kShapeRefused = 7.7e7;

int lastFailure = kFitOk;
int64_t failureWrites = 0;

// The pattern search's cheap answer for a probe that cannot beat the best: the square roots of the
// extremes, shrunk by far more than their and hypot's rounding, bound the spread from below.
double spreadBelow(double lo2, double hi2) {
    return 0.5 * (std::sqrt(hi2) * (1 - 1e-12) - std::sqrt(lo2) * (1 + 1e-12)) * (1 - 1e-12);
}

// Half the spread of the distances from c to the points, and their mean radius; a spread that cannot be
// below bound comes back as infinity (radius unset).
double spread(const TaggedPoint* p, int32_t s, int32_t e, double cx, double cy, double* radius,
              double bound = std::numeric_limits<double>::infinity()) {
    // The pattern search calls this hundreds of times per fit, and hypot is what costs. Squared distances
    // (within a few units in the last place of the true ones) find the extremes; hypot is then taken only
    // of the points within a relative 1e-12 of an extreme, a set that holds every point hypot itself could
    // rank first, so lo and hi come out as the plain scan's. Infinite, NaN or underflowing squares take
    // the plain scan.
    double lo2 = std::numeric_limits<double>::infinity(), hi2 = -1;
    bool plain = false;
    for (int32_t i = s; i <= e; ++i) {
        const double dx = p[i].x - cx, dy = p[i].y - cy, d2 = dx * dx + dy * dy;
        plain |= !(d2 <= std::numeric_limits<double>::max());
        lo2 = std::min(lo2, d2);
        hi2 = std::max(hi2, d2);
    }
    double lo = 1e300, hi = -1;
    if (plain || !(lo2 >= 1e-200)) {
        for (int32_t i = s; i <= e; ++i) {
            const double d = std::hypot(p[i].x - cx, p[i].y - cy);
            lo = std::min(lo, d);
            hi = std::max(hi, d);
        }
    } else {
        // A probe of the search only needs the spread when it beats the best.
        if (spreadBelow(lo2, hi2) > bound) return std::numeric_limits<double>::infinity();
        const double loCut = lo2 * (1 + 1e-12), hiCut = hi2 * (1 - 1e-12);
        for (int32_t i = s; i <= e; ++i) {
            const double dx = p[i].x - cx, dy = p[i].y - cy, d2 = dx * dx + dy * dy;
            if (d2 > loCut && d2 < hiCut) continue;
            const double d = std::hypot(dx, dy);
            lo = std::min(lo, d);
            hi = std::max(hi, d);
        }
    }
    *radius = 0.5 * (lo + hi);
    return 0.5 * (hi - lo);
}

// The chord measures of points s..e that the shape test reads. The arc pass grows its window a point at a
// time from the same first point, so the measures are carried over and extended by the new chords: each
// is the same fold in the same order as over the whole window.
struct ChordRun {
    int32_t s = -1, e = -1;
    double total = 0, shortest = 1e300, longest = 0, crossLo = 1e300, crossHi = 0, px = 0, py = 0;
    bool havePrev = false, badTurn = false;
};

void chordsUpTo(ChordRun* c, const TaggedPoint* p, int32_t s, int32_t e) {
    if (c->s != s || c->e > e) {
        *c = ChordRun{};
        c->s = c->e = s;
    }
    for (int32_t i = c->e; i < e; ++i) {
        const double dx = p[i + 1].x - p[i].x, dy = p[i + 1].y - p[i].y, len = std::hypot(dx, dy);
        c->total += len;
        c->shortest = std::min(c->shortest, len);
        c->longest = std::max(c->longest, len);
        if (len <= 0) continue;
        const double ux = dx / len, uy = dy / len;
        if (c->havePrev) {
            c->badTurn |= ux * c->px + uy * c->py < 0.866;
            const double cross = std::fabs(c->px * uy - c->py * ux);
            c->crossLo = std::min(c->crossLo, cross);
            c->crossHi = std::max(c->crossHi, cross);
        }
        c->px = ux;
        c->py = uy;
        c->havePrev = true;
    }
    c->e = e;
}

// Whether the points look like a sampled arc of radius r rather than a
// polyline that happens to fit a circle.
int shapeTest(const ChordRun& c, double r, double tol) {
    if (c.badTurn) return -1;
    double crossLo = c.crossLo, crossHi = c.crossHi;
    if (crossLo > crossHi) crossLo = crossHi = 0;
    // The sagitta grows with the chord, so the longest chord has the largest.
    const double half = c.longest / (2 * r);
    const double sagitta = half >= 1 ? 1.0 : 1 - std::sqrt(1 - half * half);
    const double t = 0.2 * (c.total / r) / (c.e - c.s);
    const double a = std::atan2(2 * tol, c.shortest);
    const double need = std::sin(std::max(0.0, t - a));
    if (!(crossLo > need && crossHi > need)) return kFitUneven;
    if (crossHi > 0.1) return kFitTooDense;
    if (sagitta * r > tol) return kFitSagitta;
    if (c.total > 3.2 * r) return kFitTooLong;
    return kFitOk;
}

// Bounds of the squared distances from any centre c to a block of consecutive points. With g = c - o,
// |p - c|^2 = |p - o|^2 - 2 (m - o).g - 2 (p - m).g + |g|^2, and |(p - m).g| is at most the block's reach
// from m along its chord t and across it times the parts of g along them. Taking o at the centre of the
// circle the points about the block lie on keeps the bounds of a block of an arc within a small part of
// its true range for every centre near that circle's centre, which is where the search probes.
struct SpreadNode {
    double ox, oy;          // reference centre
    double mx, my;          // middle of the block's box
    double tx, ty;          // unit chord direction; the normal is (-ty, tx)
    double rho2Lo, rho2Hi;  // squared distances of the points from o
    double reachT, reachN;  // largest |(p - m).t| and |(p - m).n|
    double reachAll;        // |p - o| + |m - o| + reachT + reachN, a length the slack scales with
};

// The blocks of a fit pass's points: level k holds blocks of kLeafPoints << k consecutive points, the
// last level one block of all. A query finds the extremes of the squared distances over a window from the
// blocks whose bounds reach the extremes found so far, widened by the relative 1e-12 within which the
// spread takes hypot of a point, and scans only their points with the plain scan's arithmetic: its
// extremes, and the points it takes hypot of, are the plain scan's.
class SpreadIndex {
  public:
    static constexpr int32_t kLeafPoints = 16;
    static constexpr int32_t kMinWindow = 64;  // smaller windows are scanned plainly
    static constexpr int32_t kCentreSpan = 128;

    // False (and not used) when memory runs out or a coordinate is not a finite number of moderate size.
    bool build(const TaggedPoint* p, int32_t count) {
        p_ = p;
        count_ = count;
        levels_.clear();
        for (int32_t i = 0; i < count; ++i)
            if (!(std::fabs(p[i].x) <= kMaxCoordinate && std::fabs(p[i].y) <= kMaxCoordinate)) return false;
        try {
            // A query scans each point of its window once, besides the few it starts from.
            near_.resize(static_cast<size_t>(count) + 8);
            for (int32_t size = kLeafPoints;; size *= 2) {
                std::vector<SpreadNode>& level = levels_.emplace_back();
                level.resize((count + size - 1) / size);
                for (size_t j = 0; j < level.size(); ++j) {
                    const int32_t a = static_cast<int32_t>(j) * size;
                    level[j] = makeNode(a, std::min(a + size, count) - 1);
                }
                if (level.size() <= 1 || size > count) break;
            }
        } catch (const std::bad_alloc&) {
            levels_.clear();
            return false;
        }
        return true;
    }

    bool covers(int32_t s, int32_t e, double cx, double cy) const {
        return !levels_.empty() && e - s + 1 >= kMinWindow && std::fabs(cx) <= kMaxCoordinate &&
               std::fabs(cy) <= kMaxCoordinate;
    }

    // The smallest and largest squared distance from c over points s..e; false as soon as those met
    // show that the spread exceeds bound. The search probes centres close together: the points of the
    // last extremes (hint, updated) are taken first, and often settle a probe by themselves.
    bool extremes(int32_t s, int32_t e, double cx, double cy, double bound, double* lo2, double* hi2,
                  int32_t hint[2]) {
        Query q{s, e, cx, cy, bound};
        for (const int32_t i : {s, e, hint[0], hint[1]})
            if (i >= s && i <= e) take(&q, i);
        const bool full = !beyond(q) && extremesIn(&q, static_cast<int32_t>(levels_.size()) - 1, 0);
        *lo2 = q.lo;
        *hi2 = q.hi;
        hint[0] = q.argLo;
        hint[1] = q.argHi;
        nearCount_ = q.near;
        return full;
    }

    // After a full query from c: the least and largest hypot distance over the points whose squares lie
    // outside (loCut, hiCut), cuts at or inside the query's own.
    void nearExtremes(double cx, double cy, double loCut, double hiCut, double* lo, double* hi) const {
        *lo = 1e300;
        *hi = -1;
        for (size_t k = 0; k < nearCount_; ++k) {
            const int32_t i = near_[k];
            const double dx = p_[i].x - cx, dy = p_[i].y - cy, d2 = dx * dx + dy * dy;
            if (d2 > loCut && d2 < hiCut) continue;
            const double d = std::hypot(dx, dy);
            *lo = std::min(*lo, d);
            *hi = std::max(*hi, d);
        }
    }

  private:
    static constexpr double kMaxCoordinate = 1e100;
    // Relative slack of a block's bounds: far above the rounding of the bounds and of the squares.
    static constexpr double kSlack = 1e-13;

    struct Query {
        int32_t s, e;
        double cx, cy, bound;
        double lo = std::numeric_limits<double>::infinity(), hi = -1;  // extremes so far
        double loCut = std::numeric_limits<double>::infinity(), hiCut = -1;
        int32_t argLo = -1, argHi = -1;
        size_t near = 0;  // points kept for hypot
    };

    SpreadNode makeNode(int32_t a, int32_t b) const {
        SpreadNode n{};
        double x0 = p_[a].x, x1 = x0, y0 = p_[a].y, y1 = y0;
        for (int32_t i = a; i <= b; ++i) {
            x0 = std::min(x0, p_[i].x), x1 = std::max(x1, p_[i].x);
            y0 = std::min(y0, p_[i].y), y1 = std::max(y1, p_[i].y);
        }
        n.mx = 0.5 * (x0 + x1);
        n.my = 0.5 * (y0 + y1);
        const double cx = p_[b].x - p_[a].x, cy = p_[b].y - p_[a].y, chord = std::hypot(cx, cy);
        n.tx = chord > 0 ? cx / chord : 1;
        n.ty = chord > 0 ? cy / chord : 0;
        n.ox = n.mx;
        n.oy = n.my;
        // o is the circle through three points of a stretch about the block, wider than a small block:
        // over a few points the rounding of their coordinates moves that circle's centre far.
        const int32_t mid = a + (b - a) / 2, half = std::max((b - a) / 2, kCentreSpan);
        const int32_t i0 = std::max(mid - half, 0), i1 = std::min(mid + half, count_ - 1);
        if (mid - i0 >= 1 && i1 - mid >= 1) {
            const double ux = p_[mid].x - p_[i0].x, uy = p_[mid].y - p_[i0].y, u2 = ux * ux + uy * uy;
            const double vx = p_[i1].x - p_[i0].x, vy = p_[i1].y - p_[i0].y, v2 = vx * vx + vy * vy;
            const double d = 2 * (ux * vy - uy * vx);
            const double ox = (vy * u2 - uy * v2) / d, oy = (ux * v2 - vx * u2) / d;
            // A near-straight stretch keeps o at m.
            if (std::isfinite(ox) && std::isfinite(oy) && std::hypot(ox, oy) < 1e7) {
                n.ox = p_[i0].x + ox;
                n.oy = p_[i0].y + oy;
            }
        }
        n.rho2Lo = std::numeric_limits<double>::infinity();
        n.rho2Hi = 0;
        for (int32_t i = a; i <= b; ++i) {
            const double dx = p_[i].x - n.ox, dy = p_[i].y - n.oy, d2 = dx * dx + dy * dy;
            n.rho2Lo = std::min(n.rho2Lo, d2);
            n.rho2Hi = std::max(n.rho2Hi, d2);
            const double qx = p_[i].x - n.mx, qy = p_[i].y - n.my;
            n.reachT = std::max(n.reachT, std::fabs(qx * n.tx + qy * n.ty));
            n.reachN = std::max(n.reachN, std::fabs(qy * n.tx - qx * n.ty));
        }
        n.reachAll = std::sqrt(n.rho2Hi) + std::hypot(n.mx - n.ox, n.my - n.oy) + n.reachT + n.reachN;
        return n;
    }

    static void bounds(const SpreadNode& n, double cx, double cy, double* lo, double* hi) {
        const double gx = cx - n.ox, gy = cy - n.oy, g2 = gx * gx + gy * gy,
                     g = std::fabs(gx) + std::fabs(gy);
        const double along = (n.mx - n.ox) * gx + (n.my - n.oy) * gy;
        const double reach =
            n.reachT * std::fabs(n.tx * gx + n.ty * gy) + n.reachN * std::fabs(n.tx * gy - n.ty * gx);
        const double slack = kSlack * (n.rho2Hi + g2 + 2 * g * n.reachAll) + 1e-250;
        *lo = n.rho2Lo - 2 * along - 2 * reach + g2 - slack;
        *hi = n.rho2Hi - 2 * along + 2 * reach + g2 + slack;
    }

    // A point scanned: the extremes so far, and the point kept while it lies within the cuts of them.
    // Extremes only move outward, so a point left out lies outside the final cuts too.
    void take(Query* q, int32_t i) {
        const double dx = p_[i].x - q->cx, dy = p_[i].y - q->cy, d2 = dx * dx + dy * dy;
        if (d2 < q->lo) q->lo = d2, q->loCut = d2 * (1 + 1e-12), q->argLo = i;
        if (d2 > q->hi) q->hi = d2, q->hiCut = d2 * (1 - 1e-12), q->argHi = i;
        if (!(d2 > q->loCut && d2 < q->hiCut)) near_[q->near++] = i;
    }

    // Whether the extremes met already put the spread above the bound.
    static bool beyond(const Query& q) {
        return q.bound < std::numeric_limits<double>::infinity() && q.lo >= 1e-200 &&
               spreadBelow(q.lo, q.hi) > q.bound;
    }

    // Depth first from the top block, the first half of a block before the second.
    bool extremesIn(Query* q, int32_t top, int32_t topIndex) {
        struct Block {
            int32_t level, j;
        };
        Block stack[64];
        int32_t depth = 0;
        stack[depth++] = {top, topIndex};
        while (depth > 0) {
            const Block blk = stack[--depth];
            const int32_t size = kLeafPoints << blk.level, first = blk.j * size;
            const int32_t last = std::min(first + size, count_) - 1;
            const int32_t a = std::max(first, q->s), b = std::min(last, q->e);
            if (a > b) continue;
            // A block that reaches beyond the window is bounded by points outside it: only its halves tell.
            if ((a == first && b == last) || blk.level == 0) {
                double lo, hi;
                bounds(levels_[blk.level][blk.j], q->cx, q->cy, &lo, &hi);
                if (lo > q->loCut && hi < q->hiCut) continue;
            }
            if (blk.level == 0) {
                for (int32_t i = a; i <= b; ++i) take(q, i);
                if (beyond(*q)) return false;
                continue;
            }
            stack[depth++] = {blk.level - 1, 2 * blk.j + 1};
            stack[depth++] = {blk.level - 1, 2 * blk.j};
        }
        return true;
    }

    const TaggedPoint* p_ = nullptr;
    int32_t count_ = 0;
    std::vector<std::vector<SpreadNode>> levels_;
    std::vector<int32_t> near_;  // the points the last query kept for hypot
    size_t nearCount_ = 0;
};

// What one arc pass keeps from window to window.
struct FitPass {
    SpreadIndex index;
    bool indexed = false;
    int32_t hint[2] = {-1, -1};  // where the last extremes lay
    ChordRun chords;
};

// The spread over points s..e through the pass's index where it serves: the same value, or infinity
// where the plain computation would exceed bound.
double spreadOf(const TaggedPoint* p, int32_t s, int32_t e, double cx, double cy, double* radius,
                FitPass* pass, double bound = std::numeric_limits<double>::infinity()) {
    if (!pass || !pass->indexed || !pass->index.covers(s, e, cx, cy))
        return spread(p, s, e, cx, cy, radius, bound);
    double lo2, hi2;
    if (!pass->index.extremes(s, e, cx, cy, bound, &lo2, &hi2, pass->hint))
        return std::numeric_limits<double>::infinity();
    // Squares that underflow take the plain scan, as in spread.
    if (!(lo2 >= 1e-200)) return spread(p, s, e, cx, cy, radius, bound);
    if (spreadBelow(lo2, hi2) > bound) return std::numeric_limits<double>::infinity();
    double lo, hi;
    pass->index.nearExtremes(cx, cy, lo2 * (1 + 1e-12), hi2 * (1 - 1e-12), &lo, &hi);
    *radius = 0.5 * (lo + hi);
    return 0.5 * (hi - lo);
}

void writeArc(TaggedPoint* p, int32_t s, int32_t e, const Vec2& c) {
    const int32_t m = s + std::max((e - s) / 4, 2);
    const double cross = (p[s].x - c.x) * (p[m].y - c.y) - (p[s].y - c.y) * (p[m].x - c.x);
    p[s].startMark = kTagJoint;
    p[s].kind = cross < 0 ? kTagArcCw : kTagArcCcw;
    for (int32_t i = s + 1; i < e; ++i) p[i].kind = kTagDropped;
    p[s + 1].x = c.x;
    p[s + 1].y = c.y;
    p[e].endMark = kTagJoint;
}

bool unmarked(const TaggedPoint& q) {
    return q.kind == kTagKept && q.startMark == kTagNone && q.endMark == kTagNone;
}

}  // namespace

TaggedPoint* taggedPointsCreate(int32_t n) {
    if (n < 0) return nullptr;
    auto* p = static_cast<TaggedPoint*>(std::calloc(static_cast<size_t>(n) + 1, sizeof(TaggedPoint)));
    if (!p) return nullptr;
    for (int32_t i = 0; i <= n; ++i) {
        p[i].kind = kTagKept;
        p[i].startMark = kTagNone;
        p[i].endMark = kTagNone;
    }
    return p;
}

void taggedPointsFree(TaggedPoint* points) {
    std::free(points);
}

void tagPointsFrom2D(TaggedPoint* points, const Vec2* xy, int32_t n) {
    for (int32_t i = 0; i < n; ++i) {
        points[i].x = xy[i].x;
        points[i].y = xy[i].y;
        points[i].z = 0;
    }
}

int32_t firstTaggedPoint(const TaggedPoint* points, int32_t count) {
    return points && count > 0 ? 0 : -1;
}

int32_t nextTaggedRun(const TaggedPoint* p, int32_t count, int32_t from, int* kind, Vec2* end, Vec2* centre) {
    *kind = kRunNone;
    if (from < 0 || from >= count - 1) return -1;
    const bool arc =
        p[from].startMark == kTagJoint && (p[from].kind == kTagArcCw || p[from].kind == kTagArcCcw);
    int32_t i = from + 1;
    if (arc) {
        while (i < count && p[i].endMark != kTagJoint) ++i;
        if (i >= count) return -1;
        *kind = p[from].kind == kTagArcCw ? kRunArcCw : kRunArcCcw;
        *centre = {p[from + 1].x, p[from + 1].y};
    } else {
        while (i < count && p[i].kind == kTagDropped) ++i;
        if (i >= count) return -1;
        *kind = kRunLine;
    }
    *end = {p[i].x, p[i].y};
    return i;
}

int32_t taggedRunFind(const TaggedPoint* p, int32_t count, int32_t from, int32_t* last) {
    int32_t i = std::max(from, 0);
    while (i < count) {
        if (!unmarked(p[i])) {
            ++i;
            continue;
        }
        int32_t j = i;
        while (j + 1 < count && unmarked(p[j + 1])) ++j;
        if (j - i + 1 > 2) {
            *last = j;
            return i;
        }
        i = j + 1;
    }
    return -1;
}

int taggedRunFit(TaggedPoint* p, int32_t first, int32_t last, double tol, double maxLineLength) {
    int merged = 0;
    int32_t i = first;
    while (i < last) {
        int32_t j = i + 1;
        while (j + 1 <= last) {
            const int32_t k = j + 1;
            const double cx = p[k].x - p[i].x, cy = p[k].y - p[i].y, chord = std::hypot(cx, cy);
            if (chord >= maxLineLength || chord <= 0) break;
            const double ux = cx / chord, uy = cy / chord;
            bool fits = true;
            for (int32_t q = i + 1; q < k && fits; ++q) {
                const double dev = std::fabs((p[q].x - p[i].x) * uy - (p[q].y - p[i].y) * ux);
                if (dev >= tol) fits = false;
            }
            for (int32_t q = i; q < k && fits; ++q) {
                const double sx = p[q + 1].x - p[q].x, sy = p[q + 1].y - p[q].y, len = std::hypot(sx, sy);
                if (len < 1e-7) continue;
                const double turn = (sx * uy - sy * ux) / len, along = (sx * ux + sy * uy) / len;
                if (std::fabs(turn) > 0.1 || along < 0) fits = false;
            }
            if (!fits) break;
            j = k;
        }
        for (int32_t q = i + 1; q < j; ++q) {
            p[q].kind = kTagDropped;
            merged = 1;
        }
        i = j;
    }
    return merged;
}

int taggedRunsCheck(TaggedPoint* points, int32_t count, double tol, double maxLineLength) {
    int merged = 0;
    int32_t last = 0;
    for (int32_t first = taggedRunFind(points, count, 0, &last); first >= 0;
         first = taggedRunFind(points, count, last + 1, &last)) {
        merged |= taggedRunFit(points, first, last, tol, maxLineLength);
    }
    return merged;
}

namespace {

double fitCircleIn(const TaggedPoint* p, int32_t s, int32_t e, double tol, double minRadius, double maxRadius,
                   Vec2* centre, double* radius, FitPass* pass) {
    const double chx = p[e].x - p[s].x, chy = p[e].y - p[s].y, chord = std::hypot(chx, chy);
    if (chord <= 0) return kSpreadRefused;
    double cx = 0.5 * (p[s].x + p[e].x), cy = 0.5 * (p[s].y + p[e].y);
    double sx = -chy / chord * 10, sy = chx / chord * 10, counter = 10;
    double r = 0;
    double best = spreadOf(p, s, e, cx, cy, &r, pass);
    for (int round = 0; round < 750 && counter >= 0.000001; ++round) {
        double rp, rm;
        // Either probe may come back as infinity when it cannot beat the best, which decides the same.
        const double fp = spreadOf(p, s, e, cx + sx, cy + sy, &rp, pass, best);
        const double fm = spreadOf(p, s, e, cx - sx, cy - sy, &rm, pass, best);
        // A probe that beats the best was measured in full: its radius is the new centre's.
        if (fp < best && fp <= fm) {
            cx += sx, cy += sy, best = fp, r = rp;
        } else if (fm < best) {
            cx -= sx, cy -= sy, best = fm, r = rm;
        } else {
            counter *= 0.5;
            sx *= 0.5;
            sy *= 0.5;
        }
    }
    *centre = {cx, cy};
    *radius = r;
    if (maxRadius < minRadius) maxRadius = 2 * minRadius;
    if (best >= tol) return kSpreadRefused;
    if (r < minRadius || r > maxRadius) return kRadiusRefused;
    ChordRun own;
    ChordRun* chords = pass ? &pass->chords : &own;
    chordsUpTo(chords, p, s, e);
    const int shape = shapeTest(*chords, r, tol);
    if (shape != kFitOk) {
        lastFailure = shape < 0 ? kFitOk : shape;
        ++failureWrites;
        return kShapeRefused;
    }
    return best;
}

}  // namespace

double fitCircle(const TaggedPoint* p, int32_t s, int32_t e, double tol, double minRadius, double maxRadius,
                 Vec2* centre, double* radius) {
    return fitCircleIn(p, s, e, tol, minRadius, maxRadius, centre, radius, nullptr);
}

int fitLinesArcs(TaggedPoint* p, int32_t count, double tol, double minRadius, double maxRadius,
                 double maxLineLength) {
    if (!p || count < 2) return 0;
    minRadius = std::max(minRadius, 0.000001);
    int found = 0;
    int32_t s = 0, e = 3;
    bool remembered = false;
    Vec2 keep{};
    // A window grows over every point an arc covers, each time fitted afresh; the index keeps the spread
    // of a long window from costing a scan of all its points.
    FitPass pass;
    pass.indexed = count >= 2 * SpreadIndex::kMinWindow && pass.index.build(p, count);
    while (e < count) {
        Vec2 c;
        double r;
        const bool accepted = fitCircleIn(p, s, e, tol, minRadius, maxRadius, &c, &r, &pass) < tol;
        if (accepted) {
            remembered = true;
            keep = c;
            if (e == count - 1) {
                writeArc(p, s, e, keep);
                found = 1;
                break;
            }
            ++e;
        } else if (remembered) {
            writeArc(p, s, e - 1, keep);
            pass.chords = ChordRun{};  // the arc moved a point
            found = 1;
            remembered = false;
            s = e - 1;
            e += 2;
        } else {
            ++s;
            ++e;
        }
    }
    if (taggedRunsCheck(p, count, tol, maxLineLength)) found = 1;
    return found;
}

int fitLastFailure() {
    return lastFailure;
}

int64_t fitFailureWrites() {
    return failureWrites;
}

void fitSetLastFailure(int code) {
    lastFailure = code;
}

void linearcfitResetState() {
    lastFailure = kFitOk;
    failureWrites = 0;
}
static const RunReset gRunReset(kRunResetCycles, "linearcfit", linearcfitResetState);
