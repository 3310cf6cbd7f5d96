#include "pocket/contourorient.h"

#include <cmath>
#include <cstring>
#include <utility>
#include <vector>

#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketstate.h"
#include "pocket/stepmemo.h"

namespace {

constexpr double kTol = 1e-4;

void mixAngles(const ContourElement* arc, double as, double ae, double t, Vec2* out) {
    if (arc->direction > 0 && as > ae) ae += kTwoPi;
    if (arc->direction < 0 && as < ae) as += kTwoPi;
    const double a = ae * t + as * (1 - t);
    *out = {arc->g[kAcx] + arc->g[kAr] * std::cos(a), arc->g[kAcy] + arc->g[kAr] * std::sin(a)};
}

double angleOf(const ContourElement* arc, double x, double y) {
    return std::atan2(y - arc->g[kAcy], x - arc->g[kAcx]);
}

void elemReverse(ContourElement* e) {
    if (e->type == kElemArc) {
        std::swap(e->g[kAsx], e->g[kAex]);
        std::swap(e->g[kAsy], e->g[kAey]);
        e->direction = -e->direction;
    } else {
        std::swap(e->g[kLx1], e->g[kLx2]);
        std::swap(e->g[kLy1], e->g[kLy2]);
    }
}

}  // namespace

double vecAngle2D(double dy, double dx) {
    const double fine = pocketKernel().fineTolerance;
    if (std::fabs(dx) >= fine) {
        const double a = std::atan(dy / dx);
        if (dx < 0) return a + kPi;
        return dy < 0 ? a + kTwoPi : a;
    }
    if (std::fabs(dy) < fine) return 0;
    return dy >= fine ? 1.5707963267948966 : 4.71238898038469;
}

namespace {

// The direction last found for a vector: a walk along a contour asks for the
// direction it left a joint by when it turns at the next one.
struct AngleMemo {
    double dy = 0, dx = 0, angle = 0;
    bool valid = false;
};

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

double turnAngleWith(AngleMemo* memo, double x0, double y0, double x1, double y1, double x2, double y2) {
    const double ax = x1 - x0, ay = y1 - y0, bx = x2 - x1, by = y2 - y1;
    const double c = ax * by - ay * bx;
    if (isEqualTol(c, 0)) return 0;
    double from, to;
    if (memo && memo->valid && sameBits(memo->dy, ay) && sameBits(memo->dx, ax))
        from = memo->angle;
    else
        from = vecAngle2D(ay, ax);
    to = vecAngle2D(by, bx);
    if (memo) *memo = {by, bx, to, true};
    double d = to - from;
    if (c > 0 && d < 0) d += kTwoPi;
    if (c < 0 && d > 0) d -= kTwoPi;
    return d;
}

}  // namespace

double turnAngle(double x0, double y0, double x1, double y1, double x2, double y2) {
    return turnAngleWith(nullptr, x0, y0, x1, y1, x2, y2);
}

double elemCuspTurn(const ContourElement* a, const ContourElement* b) {
    const bool aArc = a->type == kElemArc, bArc = b->type == kElemArc;
    if (!aArc && bArc) return b->direction > 0 ? -kPi : kPi;
    if (aArc && !bArc) return a->direction > 0 ? -kPi : kPi;
    if (aArc && bArc) {
        if (a->direction > 0 && b->direction > 0) return -kPi;
        if (a->direction < 0 && b->direction < 0) return kPi;
        const ContourElement* cw = a->direction < 0 ? a : b;
        const ContourElement* ccw = a->direction < 0 ? b : a;
        return isNotAboveTol(cw->g[kAr], ccw->g[kAr]) ? kPi : -kPi;
    }
    return kPi;
}

int contourIsFlatTriangle(const ContourElement* chain, int32_t count) {
    if (count != 3) return 0;
    for (int i = 0; i < 3; ++i) {
        if (chain[i].type == kElemArc && elemLength(&chain[i]) * 50 > chain[i].g[kAr]) return 0;
    }
    Vec2 p[3];
    for (int i = 0; i < 3; ++i) {
        if (!elemPoint(&chain[i], &p[i], kElemStart)) return 0;
    }
    for (int i = 0; i < 3; ++i) {
        const ContourElement line = elemLineOf(p[i], p[(i + 1) % 3], 0);
        Vec2 near;
        if (elemDistance(&p[(i + 2) % 3], &line, &near) < kTol) return 1;
    }
    return 0;
}

int contourSignedArea(const ContourElement* chain, int32_t count) {
    if (!chain || count <= 1) return 0;
    double area = 0;
    for (int32_t i = 0; i < count; ++i) {
        Vec2 p, prev, next;
        elemPoint(&chain[i], &p, kElemStart);
        elemPoint(&chain[(i + count - 1) % count], &prev, kElemStart);
        elemPoint(&chain[(i + 1) % count], &next, kElemStart);
        area += p.x * (next.y - prev.y);
    }
    if (isEqualTol(area, 0)) return 0;
    return area > 0 ? 1 : -1;
}

namespace {

// The total turning along a closed contour, as [lo, hi]. Exact (lo = hi, the sum as it has always
// been computed) unless bounded: then a joint or arc that turns by a small angle (dot > 0, a cross
// product well within (1e-4, 0.5]) adds the bounds of its angle, asin(c) in [c, c + c^3 / (6 (1 -
// c^2))], widened far beyond the rounding of its angle. False when a tangent fails (no turning)
// or, bounded, when a test sits at its threshold (the exact sum decides).
bool turning(const ContourElement* chain, int32_t count, bool bounded, long double* lo, long double* hi) {
    long double sumLo = 0, sumHi = 0;
    bool reversal = false;
    Vec2 tp{};
    // The start tangent of the next element, found at each joint, serves that element's
    // own turn; a line's end tangent is its start tangent.
    Vec2 tn{};
    AngleMemo memo;
    // The turn from direction a to b: exactly, or bounded when it is small; 0 from the tolerance.
    bool undecided = false;
    const double fine = std::fabs(pocketKernel().fineTolerance);
    auto turn = [&](const Vec2& a, const Vec2& b, double* wLo, double* wHi, bool* small) {
        *small = false;
        if (bounded) {
            const double ax = 0 - -a.x, ay = 0 - -a.y, bx = b.x - 0, by = b.y - 0;
            const double c = ax * by - ay * bx, dot = ax * bx + ay * by, m = std::fabs(c);
            if (m < 1e-4) {
                *wLo = *wHi = 0;  // isEqualTol(c, 0), on the same c
                return;
            }
            if (m <= 1e-4 * (1 + 1e-9)) {
                undecided = true;
                return;
            }
            if (dot > 0 && m <= 0.5) {
                // The angles' rounding, and a direction taken as a quarter turn below the fine
                // tolerance, are far inside the slack.
                const double slack = 1e-12 + 4 * fine, up = m + m * m * m / (6 * (1 - m * m));
                *wLo = c > 0 ? m - slack : -up - slack;
                *wHi = c > 0 ? up + slack : -m + slack;
                *small = true;
                return;
            }
        }
        *wLo = *wHi = turnAngleWith(&memo, -a.x, -a.y, 0, 0, b.x, b.y);
    };
    for (int32_t i = 0; i < count && !undecided; ++i) {
        const ContourElement& e = chain[i];
        Vec2 te, ts;
        if (i > 0 && e.type == kElemLine)
            te = tn;
        else if (!elemTangent(&e, &te, kElemEnd))
            return false;
        if (!reversal) tp = te;
        if (e.type == kElemArc && !reversal) {
            if (i > 0)
                ts = tn;
            else if (!elemTangent(&e, &ts, kElemStart))
                return false;
            double wLo, wHi;
            bool small;
            turn(ts, te, &wLo, &wHi, &small);
            if (undecided) break;
            if (small) {
                // Well above the tolerance, with the sign of the cross product.
                if (wLo < 0 && e.direction > 0) wLo += kTwoPi, wHi += kTwoPi;
                if (wHi > 0 && e.direction < 0) wLo -= kTwoPi, wHi -= kTwoPi;
            } else if (isEqualTol(wLo, 0)) {
                Vec2 s, t;
                elemPoint(&e, &s, kElemStart);
                elemPoint(&e, &t, kElemEnd);
                wLo = wHi = pointDist2D(&s, &t) > e.g[kAr] ? e.direction * kPi : 0.0;
            } else if (wLo < 0 && e.direction > 0) {
                wLo = wHi = wLo + kTwoPi;
            } else if (wLo > 0 && e.direction < 0) {
                wLo = wHi = wLo - kTwoPi;
            }
            sumLo += wLo;
            sumHi += wHi;
        }
        const ContourElement& n = chain[(i + 1) % count];
        if (!elemTangent(&n, &tn, kElemStart)) return false;
        reversal = isEqualTol(-tn.x, tp.x) && isEqualTol(-tn.y, tp.y);
        double uLo, uHi;
        bool small;
        turn(tp, tn, &uLo, &uHi, &small);
        if (undecided) break;
        // A small turn lies far from a half turn: only a reversal makes a cusp of it.
        if ((e.type == kElemArc || n.type == kElemArc) &&
            (reversal || (!small && std::fabs(std::fabs(uLo) - kPi) < 0.02)))
            uLo = uHi = elemCuspTurn(&e, &n);
        sumLo += uLo;
        sumHi += uHi;
    }
    if (undecided) {
        *lo = -HUGE_VALL;
        *hi = HUGE_VALL;
        return true;
    }
    *lo = sumLo;
    *hi = sumHi;
    return true;
}

// The ranges of a turning sum with one sense each, in order along the axis.
int rangeOfTurning(double s) {
    const double bounds[] = {-7.283185307179586, -1, -0.03, 0.03, 1, 7.283185307179586};
    int k = 0;
    while (k < 6 && !(s < bounds[k]) && !(k == 2 && s == bounds[2]) && !(k == 4 && s == bounds[4]) &&
           !(k == 5 && s == bounds[5]))
        ++k;
    return k;
}

// The sense a turning sum stands for: 2 where the signed area decides.
int senseOfTurning(double s) {
    if (std::fabs(s) < 0.03 || std::fabs(s) > 7.283185307179586) return 2;
    if (s < -1) return -1;
    return s > 1 ? 1 : 0;
}

}  // namespace

namespace {

StepMemo& orientMemo() {
    static StepMemo m;
    return m;
}

int orientationOf(const ContourElement* chain, int32_t count);

}  // namespace

// The planes of a level ask for the orientation of the same rings again: answers for contours of more than
// a few elements are recorded per run under the elements and the kernel variables.
int contourOrientation(const ContourElement* chain, int32_t count) {
    if (!chain || count < 8) return orientationOf(chain, count);
    StepStateImage state;
    stepStateImage(&state);
    StepKey key;
    key.add(&count, sizeof count);
    key.add(state.bytes, sizeof state.bytes);
    stepKeyElements(&key, chain, static_cast<size_t>(count));
    int32_t sense = 0;
    if (const std::vector<unsigned char>* hit = stepMemoFind(orientMemo(), key)) {
        StepMemoReader r{hit};
        r.take(&sense, sizeof sense);
        return sense;
    }
    sense = orientationOf(chain, count);
    std::vector<unsigned char> recorded(sizeof sense);
    std::memcpy(recorded.data(), &sense, sizeof sense);
    stepMemoAdd(&orientMemo(), key, std::move(recorded));
    return sense;
}

void contourOrientResetState() {
    stepMemoClear(&orientMemo());
}
static const RunReset gRunReset(kRunResetCycles, "contourOrient", contourOrientResetState);

namespace {

int orientationOf(const ContourElement* chain, int32_t count) {
    if (!chain || count < 1) return 0;
    if (count == 1) return chain[0].type == kElemArc ? (chain[0].direction > 0 ? 1 : -1) : 0;
    if (count == 3 && contourIsFlatTriangle(chain, count)) return 0;
    if (count == 2) {
        Vec2 m0, m1;
        if (!elemPoint(&chain[0], &m0, kElemMiddle) || !elemPoint(&chain[1], &m1, kElemMiddle)) return 0;
        if (pointDist2D(&m0, &m1) < pocketKernel().toolRadius / 50) return 0;
    }
    // Total turning along the contour; long double keeps long contours exact enough. Its small
    // turns are first only bounded (no angles): when the bounds, widened by far more than all
    // rounding, fall in one sense, that is the sense of the exact sum.
    long double lo, hi;
    if (!turning(chain, count, true, &lo, &hi)) return 0;
    const double low = static_cast<double>(lo - 1e-9L), high = static_cast<double>(hi + 1e-9L);
    double s = low;
    if (!(low == low) || !(high == high) || rangeOfTurning(low) != rangeOfTurning(high)) {
        if (!turning(chain, count, false, &lo, &hi)) return 0;
        s = static_cast<double>(lo);
    }
    const int sense = senseOfTurning(s);
    return sense == 2 ? contourSignedArea(chain, count) : sense;
}

}  // namespace

void contourReverse(ContourElement* chain, int32_t count) {
    if (!chain) return;
    for (int32_t k = 0; k < count / 2; ++k) {
        std::swap(chain[k], chain[count - 1 - k]);
        elemReverse(&chain[k]);
        elemReverse(&chain[count - 1 - k]);
    }
    if (count % 2) elemReverse(&chain[count / 2]);
}

void arcPointAt(const ContourElement* arc, double t, Vec2* out) {
    mixAngles(arc, angleOf(arc, arc->g[kAsx], arc->g[kAsy]), angleOf(arc, arc->g[kAex], arc->g[kAey]), t,
              out);
}

void arcPointBetween(const ContourElement* arc, const Vec2* p1, const Vec2* p2, Vec2* out) {
    mixAngles(arc, angleOf(arc, p1->x, p1->y), angleOf(arc, p2->x, p2->y), 0.1, out);
}
