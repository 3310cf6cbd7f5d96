#include "pocket/linearcfit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace {

constexpr double kSpreadRefused = 6.6e6;
constexpr double kRadiusRefused = 8.8e8;
constexpr double kShapeRefused = 7.7e7;

int lastFailure = kFitOk;
int64_t failureWrites = 0;

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
        // A probe of the search only needs the spread when it beats the best: the square roots of the
        // extremes, shrunk by far more than their and hypot's rounding, bound it from below.
        const double below =
            0.5 * (std::sqrt(hi2) * (1 - 1e-12) - std::sqrt(lo2) * (1 + 1e-12)) * (1 - 1e-12);
        if (below > bound) return std::numeric_limits<double>::infinity();
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

// Whether the points look like a sampled arc of radius r rather than a
// polyline that happens to fit a circle.
int shapeTest(const TaggedPoint* p, int32_t s, int32_t e, double r, double tol) {
    double total = 0, shortest = 1e300, crossLo = 1e300, crossHi = 0, sagitta = 0;
    double px = 0, py = 0;
    bool havePrev = false;
    const int32_t chords = e - s;
    for (int32_t i = s; i < e; ++i) {
        const double dx = p[i + 1].x - p[i].x, dy = p[i + 1].y - p[i].y, len = std::hypot(dx, dy);
        total += len;
        shortest = std::min(shortest, len);
        const double half = len / (2 * r);
        sagitta = std::max(sagitta, half >= 1 ? 1.0 : 1 - std::sqrt(1 - half * half));
        if (len <= 0) continue;
        const double ux = dx / len, uy = dy / len;
        if (havePrev) {
            if (ux * px + uy * py < 0.866) return -1;
            const double c = std::fabs(px * uy - py * ux);
            crossLo = std::min(crossLo, c);
            crossHi = std::max(crossHi, c);
        }
        px = ux;
        py = uy;
        havePrev = true;
    }
    if (crossLo > crossHi) crossLo = crossHi = 0;
    const double t = 0.2 * (total / r) / chords;
    const double a = std::atan2(2 * tol, shortest);
    const double need = std::sin(std::max(0.0, t - a));
    if (!(crossLo > need && crossHi > need)) return kFitUneven;
    if (crossHi > 0.1) return kFitTooDense;
    if (sagitta * r > tol) return kFitSagitta;
    if (total > 3.2 * r) return kFitTooLong;
    return kFitOk;
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

double fitCircle(const TaggedPoint* p, int32_t s, int32_t e, double tol, double minRadius, double maxRadius,
                 Vec2* centre, double* radius) {
    const double chx = p[e].x - p[s].x, chy = p[e].y - p[s].y, chord = std::hypot(chx, chy);
    if (chord <= 0) return kSpreadRefused;
    double cx = 0.5 * (p[s].x + p[e].x), cy = 0.5 * (p[s].y + p[e].y);
    double sx = -chy / chord * 10, sy = chx / chord * 10, counter = 10;
    double r = 0;
    double best = spread(p, s, e, cx, cy, &r);
    for (int round = 0; round < 750 && counter >= 0.000001; ++round) {
        double rp, rm;
        // Either probe may come back as infinity when it cannot beat the best, which decides the same.
        const double fp = spread(p, s, e, cx + sx, cy + sy, &rp, best);
        const double fm = spread(p, s, e, cx - sx, cy - sy, &rm, best);
        if (fp < best && fp <= fm) {
            cx += sx, cy += sy, best = fp;
        } else if (fm < best) {
            cx -= sx, cy -= sy, best = fm;
        } else {
            counter *= 0.5;
            sx *= 0.5;
            sy *= 0.5;
        }
    }
    spread(p, s, e, cx, cy, &r);
    *centre = {cx, cy};
    *radius = r;
    if (maxRadius < minRadius) maxRadius = 2 * minRadius;
    if (best >= tol) return kSpreadRefused;
    if (r < minRadius || r > maxRadius) return kRadiusRefused;
    const int shape = shapeTest(p, s, e, r, tol);
    if (shape != kFitOk) {
        lastFailure = shape < 0 ? kFitOk : shape;
        ++failureWrites;
        return kShapeRefused;
    }
    return best;
}

int fitLinesArcs(TaggedPoint* p, int32_t count, double tol, double minRadius, double maxRadius,
                 double maxLineLength) {
    if (!p || count < 2) return 0;
    minRadius = std::max(minRadius, 0.000001);
    int found = 0;
    int32_t s = 0, e = 3;
    bool remembered = false;
    Vec2 keep{};
    while (e < count) {
        Vec2 c;
        double r;
        const bool accepted = fitCircle(p, s, e, tol, minRadius, maxRadius, &c, &r) < tol;
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
