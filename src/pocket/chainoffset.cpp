#include "pocket/chainoffset.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kTol = 1e-4;

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

bool endsMeet(const ContourElement* e) {
    const Vec2 s = startOf(e), t = endOf(e);
    return std::fabs(s.x - t.x) < kTol && std::fabs(s.y - t.y) < kTol;
}

// The element moved by d to the side; arcs keep their centre. A line's start tangent may be
// handed in when it is known.
bool moveElement(const ContourElement* e, double d, int side, ContourElement* out,
                 const Vec2* lineTangent = nullptr) {
    Vec2 n0, n1;
    // A line has one normal along its length.
    if (e->type == kElemLine && lineTangent)
        n0 = lineOffsetNormal(lineTangent, side);
    else if (!elemOffsetNormal(e, &n0, kElemStart, side))
        return false;
    if (e->type == kElemLine)
        n1 = n0;
    else if (!elemOffsetNormal(e, &n1, kElemEnd, side))
        return false;
    *out = *e;
    const Vec2 s = startOf(e), t = endOf(e);
    const Vec2 ms{s.x + d * n0.x, s.y + d * n0.y}, mt{t.x + d * n1.x, t.y + d * n1.y};
    elemSetPoint(out, &ms, kElemStart);
    elemSetPoint(out, &mt, kElemEnd);
    if (out->type == kElemArc) {
        // Moving through the centre leaves the arc on the far side at |r - d|.
        const double r = e->g[kAr];
        out->g[kAr] = e->direction * side > 0 ? std::fabs(r - d) : r + d;
    }
    return true;
}

}  // namespace

int offsetElementChain(double distance, const ContourElement* in, int32_t count, ContourElement* out,
                       int32_t* outCount, int side) {
    *outCount = 0;
    if (!in || count < 1) return kChainFailed;
    const double d = distance;
    const PocketOffsetState& st = pocketOffsetState();
    const bool closing = !(st.openChain && !contourIsClosed(in, count));
    if (count == 1 && in[0].type == kElemArc && in[0].direction * side > 0 && in[0].g[kAr] <= d + kTol) {
        // A full circle offset towards its centre by its radius or more has no offset.
        return kChainBuilt;
    }
    int result = kChainBuilt;
    int32_t n = 0;
    if (!moveElement(&in[0], d, side, &out[n++])) return kChainFailed;
    const int32_t rounds = count - 1 + (closing ? 1 : 0);
    // The start tangent of the last round's element: a line's end tangent is the same.
    Vec2 lastStart{};
    for (int32_t k = 1; k <= rounds; ++k) {
        const bool closingRound = k == count;
        const ContourElement* prevIn = &in[k - 1];
        const ContourElement* curIn = &in[k % count];
        int t = 0;
        Vec2 tIn, tOut;
        if (k > 1 && prevIn->type == kElemLine)
            tIn = lastStart;
        else if (!elemTangent(prevIn, &tIn, kElemEnd))
            return kChainFailed;
        if (!elemTangent(curIn, &tOut, kElemStart)) return kChainFailed;
        lastStart = tOut;
        elemCornerTypeOf(prevIn, &tIn, curIn, &tOut, &t);
        t = t == kCornerReversal ? -1 : t * side;
        if (n + 3 >= kClistMaxElements) {
            pocketError(kPocketErrElementCap);
            *outCount = kClistMaxElements;
            return kChainFailed;
        }
        ContourElement moved{};
        if (!closingRound && !moveElement(curIn, d, side, &moved, &tOut)) return kChainFailed;
        ContourElement* prevOut = &out[n - 1];
        ContourElement* next = closingRound ? &out[0] : &moved;
        const Vec2 corner = endOf(prevIn);
        if (t == 0) {
            // A corner within the tangent tolerance whose moved ends still part is
            // joined as the side it turns to: a straight join would tilt an element
            // off the distance.
            const Vec2 a = endOf(prevOut), b = startOf(next);
            Vec2 ta, tb;
            if ((a.x - b.x) * (a.x - b.x) + (a.y - b.y) * (a.y - b.y) > 1e-18 &&
                elemTangent(prevIn, &ta, kElemEnd) && elemTangent(curIn, &tb, kElemStart)) {
                const double c = vecCross2D(&ta, &tb);
                if (c != 0) t = (c > 0 ? 1 : -1) * side;
            }
        }
        if (t == -1) {
            ContourElement arc{};
            arc.type = kElemArc;
            arc.sourceTag = std::max(prevIn->sourceTag, curIn->sourceTag);
            arc.direction = -side;
            arc.g[kAcx] = corner.x;
            arc.g[kAcy] = corner.y;
            const Vec2 a0 = endOf(prevOut), a1 = startOf(next);
            arc.g[kAsx] = a0.x;
            arc.g[kAsy] = a0.y;
            arc.g[kAex] = a1.x;
            arc.g[kAey] = a1.y;
            arc.g[kAr] = d;
            arcFixRadius(&arc);
            if (!endsMeet(&arc)) out[n++] = arc;
            if (!closingRound) {
                const bool vanished =
                    moved.type == kElemArc && moved.direction == side && moved.g[kAr] < kTol;
                if (!vanished) out[n++] = moved;
            } else if (!pocketKernel().axisParallel && prevIn->type == curIn->type) {
                Vec2 p[2];
                const int code = prevIn->type == kElemLine ? isectLineLine(prevOut->g, out[0].g, p)
                                                           : isectArcArc(prevOut, &out[0], p);
                if ((prevIn->type == kElemLine && code == -1) || code < -1) result = kChainReversal;
            }
        } else if (t == 0) {
            const Vec2 joint = endOf(prevOut);
            if (closingRound) {
                const double before = elemLength(&out[0]);
                const ContourElement keep = out[0];
                elemSetPoint(&out[0], &joint, kElemStart);
                if (keep.type == kElemArc) out[0].g[kAr] = keep.g[kAr];
                if (elemLength(&out[0]) > 10 * before + kTol) {
                    out[0] = keep;
                    result = kChainDoubtful;
                }
            } else {
                if (moved.type == kElemArc && moved.direction == side && moved.g[kAr] < kTol) continue;
                const double r = moved.g[kAr];
                elemSetPoint(&moved, &joint, kElemStart);
                if (moved.type == kElemArc) moved.g[kAr] = r;
                out[n++] = moved;
            }
        } else {
            if (!closingRound) {
                out[n++] = moved;
                next = &out[n - 1];
                prevOut = &out[n - 2];
            }
            const Vec2 pe = endOf(prevOut), ns = startOf(next);
            const Vec2 joint{0.5 * (pe.x + ns.x), 0.5 * (pe.y + ns.y)};
            Vec2 p[2];
            const int m = elemIntersect(prevOut, next, p);
            if (m > 0) {
                const int pick = m == 2 && std::hypot(p[1].x - joint.x, p[1].y - joint.y) <
                                               std::hypot(p[0].x - joint.x, p[0].y - joint.y)
                                     ? 1
                                     : 0;
                const double rp = prevOut->g[kAr], rn = next->g[kAr];
                elemSetPoint(prevOut, &p[pick], kElemEnd);
                elemSetPoint(next, &p[pick], kElemStart);
                if (prevOut->type == kElemArc) prevOut->g[kAr] = rp;
                if (next->type == kElemArc) next->g[kAr] = rn;
            } else if (std::hypot(pe.x - ns.x, pe.y - ns.y) < 1e-9) {
                elemSetPoint(prevOut, &joint, kElemEnd);
                elemSetPoint(next, &joint, kElemStart);
            } else {
                // The moved elements pass each other without meeting (one is shorter than
                // the distance): an arc about the corner the other way round keeps every point
                // of the chain at the distance from the corner, and the loop it closes is cut
                // away with the other loops.
                ContourElement arc{};
                arc.type = kElemArc;
                arc.sourceTag = std::max(prevIn->sourceTag, curIn->sourceTag);
                arc.direction = side;
                arc.g[kAcx] = corner.x;
                arc.g[kAcy] = corner.y;
                arc.g[kAsx] = pe.x;
                arc.g[kAsy] = pe.y;
                arc.g[kAex] = ns.x;
                arc.g[kAey] = ns.y;
                arc.g[kAr] = d;
                if (closingRound) {
                    out[n++] = arc;
                } else {
                    out[n] = out[n - 1];
                    out[n - 1] = arc;
                    ++n;
                }
            }
        }
        // Pieces that shrank to a point leave the chain.
        auto collapsed = [](const ContourElement* e) { return endsMeet(e); };
        if (n >= 2 && !closingRound && collapsed(&out[n - 1]) && count > 1) --n;
        if (n >= 2 && collapsed(&out[n - 2]) && count > 1) {
            std::memmove(&out[n - 2], &out[n - 1], sizeof(ContourElement));
            --n;
        }
    }
    if (n >= 2 && endsMeet(&out[0]) && count > 1) {
        std::memmove(&out[0], &out[1], (n - 1) * sizeof(ContourElement));
        --n;
    }
    for (int32_t i = 0; i < n; ++i) {
        ContourElement& e = out[i];
        if (e.type != kElemArc) continue;
        const double r = e.g[kAr];
        const double sx = e.g[kAsx] - e.g[kAcx], sy = e.g[kAsy] - e.g[kAcy];
        const double ex = e.g[kAex] - e.g[kAcx], ey = e.g[kAey] - e.g[kAcy];
        const double ds = std::sqrt(sx * sx + sy * sy), de = std::sqrt(ex * ex + ey * ey);
        // Arcs built exactly on their circle need no repair.
        if (std::fabs(ds - r) > 1e-9 * (1 + r) || std::fabs(de - r) > 1e-9 * (1 + r)) arcFixRadius(&e);
    }
    *outCount = contourClean(out, n);
    return result;
}
