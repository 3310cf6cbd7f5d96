#include "pocket/elemaccess.h"

#include <cmath>

#include "kernel/base/constants.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/elemprim.h"
#include "pocket/pocketstate.h"

namespace {

bool knownType(const ContourElement* e) {
    return e->type == kElemLine || e->type == kElemArc;
}

// The signed angle the element subtends at p, arcs taken as their chords.
double chordAngle(const Vec2& s, const Vec2& e, const Vec2& p) {
    const double ax = s.x - p.x, ay = s.y - p.y, bx = e.x - p.x, by = e.y - p.y;
    return std::atan2(ax * by - ay * bx, ax * bx + ay * by);
}

}  // namespace

int elemPointOther(const ContourElement* e, Vec2* out, int which) {
    if (!knownType(e)) return 0;
    const bool arc = e->type == kElemArc;
    switch (which) {
        case kElemStart:
            *out = arc ? Vec2{e->g[kAsx], e->g[kAsy]} : Vec2{e->g[kLx1], e->g[kLy1]};
            return 1;
        case kElemEnd:
            *out = arc ? Vec2{e->g[kAex], e->g[kAey]} : Vec2{e->g[kLx2], e->g[kLy2]};
            return 1;
        case kElemMiddle:
            if (!arc) {
                *out = {0.5 * (e->g[kLx1] + e->g[kLx2]), 0.5 * (e->g[kLy1] + e->g[kLy2])};
                return 1;
            } else {
                const double cx = e->g[kAcx], cy = e->g[kAcy];
                double as = std::atan2(e->g[kAsy] - cy, e->g[kAsx] - cx);
                double ae = std::atan2(e->g[kAey] - cy, e->g[kAex] - cx);
                if (e->direction > 0 && as > ae) ae += kTwoPi;
                if (e->direction < 0 && as < ae) as += kTwoPi;
                const double m = 0.5 * (as + ae);
                *out = {cx + e->g[kAr] * std::cos(m), cy + e->g[kAr] * std::sin(m)};
                return 1;
            }
        default:
            return 0;
    }
}

int elemSetPoint(ContourElement* e, const Vec2* p, int which) {
    if (!knownType(e)) return 0;
    const bool start = which == kElemStart;
    if (e->type == kElemLine) {
        e->g[start ? kLx1 : kLx2] = p->x;
        e->g[start ? kLy1 : kLy2] = p->y;
        return 1;
    }
    e->g[start ? kAsx : kAex] = p->x;
    e->g[start ? kAsy : kAey] = p->y;
    e->g[kAr] = std::hypot(p->x - e->g[kAcx], p->y - e->g[kAcy]);
    return 1;
}

int elemTangent(const ContourElement* e, Vec2* out, int which) {
    if (!knownType(e) || (which != kElemStart && which != kElemEnd)) return 0;
    Vec2 v;
    if (e->type == kElemLine) {
        v = {e->g[kLx2] - e->g[kLx1], e->g[kLy2] - e->g[kLy1]};
    } else {
        Vec2 p;
        elemPoint(e, &p, which);
        v = {e->g[kAcy] - p.y, p.x - e->g[kAcx]};
        if (e->direction < 0) v = {-v.x, -v.y};
    }
    const double len = std::hypot(v.x, v.y);
    if (len < 1e-7) return 0;
    *out = {v.x / len, v.y / len};
    return 1;
}

int elemOffsetNormal(const ContourElement* e, Vec2* out, int which, int side) {
    if (!knownType(e) || (which != kElemStart && which != kElemEnd)) return 0;
    if (e->type == kElemArc) {
        Vec2 p;
        elemPoint(e, &p, which);
        Vec2 v{e->g[kAcx] - p.x, e->g[kAcy] - p.y};
        const double len = std::hypot(v.x, v.y);
        if (len < 1e-7) return 0;
        const double s = e->direction * side < 0 ? -1.0 : 1.0;
        *out = {s * v.x / len, s * v.y / len};
        return 1;
    }
    Vec2 t;
    if (!elemTangent(e, &t, which)) return 0;
    *out = lineOffsetNormal(&t, side);
    return 1;
}

Vec2 lineOffsetNormal(const Vec2* t, int side) {
    return side == 1 ? Vec2{-t->y, t->x} : Vec2{t->y, -t->x};
}

double vecCross2D(const Vec2* a, const Vec2* b) {
    return a->x * b->y - a->y * b->x;
}

int pointInContour(const ContourElement* chain, int32_t count, const Vec2* p) {
    if (!chain || count < 2) return 0;
    double sum = 0;
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement* e = &chain[i];
        Vec2 s, t;
        if (!elemPoint(e, &s, kElemStart) || !elemPoint(e, &t, kElemEnd)) continue;
        double theta = chordAngle(s, t, *p);
        if (e->type == kElemArc && elemLength(e) >= 0.01 * e->g[kAr] && !pointsEqual2D(&s, &t) &&
            std::hypot(p->x - e->g[kAcx], p->y - e->g[kAcy]) < e->g[kAr]) {
            // Seen from inside its circle an arc subtends more than its chord.
            const bool ccw = e->direction > 0;
            if (isEqualTol(theta, 0))
                theta = ccw ? kPi : -kPi;
            else if (theta < 0 && ccw)
                theta += kTwoPi;
            else if (theta > 0 && !ccw)
                theta -= kTwoPi;
        }
        sum += theta;
    }
    if (sum < -1) return -1;
    return sum > 1 ? 1 : 0;
}

int elemCornerType(const ContourElement* a, const ContourElement* b, int* type) {
    Vec2 ta, tb;
    if (!elemTangent(a, &ta, kElemEnd) || !elemTangent(b, &tb, kElemStart)) return 0;
    return elemCornerTypeOf(a, &ta, b, &tb, type);
}

int elemCornerTypeOf(const ContourElement* a, const Vec2* taIn, const ContourElement* b, const Vec2* tbIn,
                     int* type) {
    const Vec2 ta = *taIn, tb = *tbIn;
    const PocketOffsetState& off = pocketOffsetState();
    double k = off.cornerFactor;
    if (a->type == kElemLine && b->type == kElemArc && off.growMode == 0) k = 9;
    if (a->type == kElemArc && b->type == kElemLine && elemLength(b) >= 100) k = 10;
    const double tol = 0.005 * k;
    double cross = vecCross2D(&ta, &tb);
    if (std::fabs(cross) >= tol) {
        *type = cross > 0 ? kCornerLeft : kCornerRight;
        return 1;
    }
    if (vecDot2D(&ta, &tb) >= 0) {
        *type = kCornerSmooth;
        return 1;
    }
    *type = kCornerReversal;
    if (b->type != kElemArc || (pocketKernel().openPocket && cross < 1e-7)) return 1;
    // An arc leaving backwards turns to one side soon after its start.
    ContourElement part = *b;
    Vec2 further;
    arcPointAt(b, 0.1, &further);
    part.g[kAex] = further.x;
    part.g[kAey] = further.y;
    Vec2 tp;
    if (!elemTangent(&part, &tp, kElemEnd)) return 1;
    cross = vecCross2D(&ta, &tp);
    if (std::fabs(cross) >= tol) *type = cross > 0 ? kCornerLeft : kCornerRight;
    return 1;
}

int isectCompareAscending(const void* p, const void* q) {
    const auto* a = static_cast<const PocketIsect*>(p);
    const auto* b = static_cast<const PocketIsect*>(q);
    if (a->elemA != b->elemA) return a->elemA < b->elemA ? -1 : 1;
    if (a->param != b->param) return a->param < b->param ? -1 : 1;
    return 0;
}

int isectCompareDescending(const void* p, const void* q) {
    return isectCompareAscending(q, p);
}
