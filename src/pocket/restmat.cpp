#include "pocket/restmat.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/elemprim.h"

namespace {

double alongContour(const ContourElement* elements, const ContourPos* p) {
    double s = 0;
    for (int32_t i = 0; i < p->element; ++i) s += elemLength(&elements[i]);
    const Vec2 q{p->x, p->y};
    return s + elemLengthTo(&elements[p->element], &q, nullptr);
}

bool validPos(int32_t count, const ContourPos* p) {
    return p && p->element >= 0 && p->element < count;
}

}  // namespace

double contourLengthBetween(const ContourElement* elements, int32_t count, const ContourPos* from,
                            const ContourPos* to) {
    if (!elements || !validPos(count, from) || !validPos(count, to)) return -1;
    const double d = alongContour(elements, to) - alongContour(elements, from);
    if (d >= 0) return d;
    if (!contourIsClosed(elements, count)) return -1;
    return contourLength(elements, count) + d;
}

int32_t contourPointAtFraction(const ContourElement* elements, int32_t count, double fraction, Vec2* out) {
    if (!elements || count < 1 || !out) return -1;
    fraction = std::clamp(fraction, 0.0, 1.0);
    double rest = fraction * contourLength(elements, count);
    int32_t last = 0;
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement& e = elements[i];
        const double len = elemLength(&e);
        if (len <= 0) continue;
        last = i;
        if (rest > len && i < count - 1) {
            rest -= len;
            continue;
        }
        rest = std::min(rest, len);
        if (e.type == kElemArc) {
            const double a = std::atan2(e.g[kAsy] - e.g[kAcy], e.g[kAsx] - e.g[kAcx]) +
                             (e.direction > 0 ? 1.0 : -1.0) * rest / e.g[kAr];
            *out = {e.g[kAcx] + e.g[kAr] * std::cos(a), e.g[kAcy] + e.g[kAr] * std::sin(a)};
        } else {
            const double t = rest / len;
            *out = {e.g[kLx1] + t * (e.g[kLx2] - e.g[kLx1]), e.g[kLy1] + t * (e.g[kLy2] - e.g[kLy1])};
        }
        return i;
    }
    elemPoint(&elements[last], out, kElemEnd);
    return last;
}

int32_t restContourPiece(ContourElement* out, const ContourElement* elements, int32_t count,
                         const ContourPos* from, const ContourPos* to) {
    if (!out || !elements || !validPos(count, from) || !validPos(count, to)) return 0;
    const Vec2 p{from->x, from->y}, q{to->x, to->y};
    int32_t n = 0;
    int32_t i = from->element;
    const ContourElement& first = elements[i];
    const bool sameForward =
        from->element == to->element && elemFraction(&first, &p) <= elemFraction(&first, &q);
    if (sameForward) {
        out[n] = first;
        elemTrim(&out[n++], &p, &q);
        return contourClean(out, n);
    }
    Vec2 end;
    elemPoint(&first, &end, kElemEnd);
    out[n] = first;
    elemTrim(&out[n++], &p, &end);
    const bool closed = contourIsClosed(elements, count) != 0;
    for (int32_t k = 1; k <= count; ++k) {
        i = i + 1;
        if (i >= count) {
            if (!closed) break;
            i = 0;
        }
        if (i == to->element) {
            Vec2 s;
            elemPoint(&elements[i], &s, kElemStart);
            out[n] = elements[i];
            elemTrim(&out[n++], &s, &q);
            break;
        }
        out[n++] = elements[i];
    }
    return contourClean(out, n);
}

int restMidpoint(const ContourElement* elements, int32_t count, const ContourPos* from, const ContourPos* to,
                 Vec2* out) {
    if (!out || contourLengthBetween(elements, count, from, to) < 0) return 0;
    std::vector<ContourElement> piece(static_cast<size_t>(count) + 1);
    const int32_t n = restContourPiece(piece.data(), elements, count, from, to);
    if (n < 1) {
        *out = {from->x, from->y};
        return 1;
    }
    return contourPointAtFraction(piece.data(), n, 0.5, out) >= 0 ? 1 : 0;
}

int cornerClassify(const ContourElement* first, const ContourElement* second, int* out) {
    Vec2 ta, tb;
    if (!first || !second || !out || !elemTangent(first, &ta, kElemEnd) ||
        !elemTangent(second, &tb, kElemStart))
        return 0;
    const double tol = 0.005 * (first->type == kElemLine && second->type == kElemArc ? 9 : 10);
    double cross = vecCross2D(&ta, &tb);
    if (std::fabs(cross) >= tol) {
        *out = cross > 0 ? kCornerLeft : kCornerRight;
        return 1;
    }
    if (vecDot2D(&ta, &tb) >= 0) {
        *out = kCornerSmooth;
        return 1;
    }
    *out = kCornerReversal;
    if (second->type != kElemArc) return 1;
    // An arc that leaves backwards turns to one side soon after its start.
    ContourElement part = *second;
    const double sweep = arcSweepAngle(second);
    const double a0 = std::atan2(second->g[kAsy] - second->g[kAcy], second->g[kAsx] - second->g[kAcx]);
    const double a = a0 + 0.1 * sweep;
    part.g[kAex] = second->g[kAcx] + second->g[kAr] * std::cos(a);
    part.g[kAey] = second->g[kAcy] + second->g[kAr] * std::sin(a);
    Vec2 tp;
    if (!elemTangent(&part, &tp, kElemEnd)) return 1;
    cross = vecCross2D(&ta, &tp);
    if (std::fabs(cross) >= tol) *out = cross > 0 ? kCornerLeft : kCornerRight;
    return 1;
}
