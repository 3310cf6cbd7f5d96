#include "pocket/planecheck.h"

#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "kernel/ccp.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketscale.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kPi = 3.141592653589793;
constexpr double kOpenSideDistance = 0.07;
constexpr double kJoinGap = 0.01;

double scaleFactor() {
    const double s = pocketKernel().geometryScale;
    return s > 0 ? s : 1.0;
}

}  // namespace

int wallAngleAllowance(const char* list) {
    const CcpParams& p = kvCCPParams;
    if (std::fabs(p.wallAngle) <= 1e-5) return 0;
    const double s = scaleFactor();
    const double a = p.wallAngle * 2 * kPi / 360;
    double rc = 0;
    if (p.toolType == 1) rc = 0.5 * p.toolDiameter / s;
    if (p.toolType == 3) rc = p.cornerRadius / s;
    const double h0 = p.surface - p.depth;
    const double k0 = (1 - std::sin(a)) * rc;
    const int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0) continue;
        const double d = h.bottom - h0;
        if (d < 0) continue;
        const double off = (std::tan(a) * (d - k0) - (1 - std::cos(a)) * rc) * s;
        h.allowance += off;
        pocketAllowanceSet(i, h.allowance);
        clistSetHeader(list, &h, i);
    }
    return 1;
}

int markOpenSides(const char* list) {
    const int32_t n = clistCount(list);
    if (n < 2) return n;
    std::vector<ContourElement> outer, chain;
    ContourHeader ho{}, h{};
    if (clistGetHeader(list, &ho, 0) < 0) return 0;
    try {
        outer.resize(ho.elementCount + 1);
    } catch (const std::bad_alloc&) {
        pocketError(kPocketErrStep);
        return 0;
    }
    clistGet(list, outer.data(), &ho, 0);
    const int32_t no = static_cast<int32_t>(ho.elementCount);
    int result = n;
    for (int32_t i = 1; i < n; ++i) {
        if (clistGetHeader(list, &h, i) < 0) continue;
        try {
            chain.resize(h.elementCount + 1);
        } catch (const std::bad_alloc&) {
            pocketError(kPocketErrStep);
            return 0;
        }
        clistGet(list, chain.data(), &h, i);
        for (uint32_t j = 0; j < h.elementCount; ++j) {
            Vec2 mid;
            if (!elemPoint(&chain[j], &mid, kElemMiddle)) continue;
            const double d = contourDistance(&mid, outer.data(), no);
            if ((d >= 0 && d <= kOpenSideDistance) || pointInContour(outer.data(), no, &mid) == 0)
                chain[j].sourceTag = -1;
        }
        result = clistReplace(list, chain.data(), &h, i);
    }
    return result;
}

int mainCircleCentre(const char* list, Vec2* centre) {
    if (clistCount(list) != 1) return 0;
    ContourHeader h{};
    if (clistGetHeader(list, &h, 0) < 0 || h.elementCount < 1) return 0;
    std::vector<ContourElement> chain(h.elementCount);
    clistGet(list, chain.data(), &h, 0);
    const ContourElement& f = chain[0];
    for (const ContourElement& e : chain) {
        if (e.type != kElemArc || e.direction != f.direction || !isEqualTol(e.g[kAcx], f.g[kAcx]) ||
            !isEqualTol(e.g[kAcy], f.g[kAcy]) || !isEqualTol(e.g[kAr], f.g[kAr]))
            return 0;
    }
    if (centre) *centre = {f.g[kAcx], f.g[kAcy]};
    return 1;
}

int contourValidate(ContourElement* elements, int32_t count) {
    if (!elements || count < 1) return 0;
    for (int32_t i = 1; i < count; ++i) {
        Vec2 end, start;
        elemPoint(&elements[i - 1], &end, kElemEnd);
        elemPoint(&elements[i], &start, kElemStart);
        if (!pointsEqual2D(&end, &start) && pointDist2D(&end, &start) > kJoinGap) return 0;
    }
    for (int32_t i = 0; i < count; ++i) {
        ContourElement& e = elements[i];
        if (e.type != kElemArc) continue;
        const double d1 = std::hypot(e.g[kAsx] - e.g[kAcx], e.g[kAsy] - e.g[kAcy]);
        const double d2 = std::hypot(e.g[kAex] - e.g[kAcx], e.g[kAey] - e.g[kAcy]);
        const double diff = std::fabs(d1 - d2);
        if (diff <= pocketKernel().tolerance) continue;
        if (diff > kJoinGap) return 0;
        arcFixRadius(&e);
    }
    return contourIsClosed(elements, count) ? 1 : 0;
}

namespace {

// The least distance from a straight move to an element: 0 where they meet, else the nearer of the ends
// against the other, and for an arc the point of its circle nearest to the move's line where that point
// lies on the arc and its foot on the move (the element distance keeps a near-tie for the earlier
// candidate, 2 um off along a chord of an island's circle).
double moveDistance(const ContourElement& move, const ContourElement& e) {
    Vec2 cross[2], near, a, b, s, t;
    if (elemIntersect(&move, &e, cross) != 0) return 0;
    elemPoint(&move, &a, kElemStart);
    elemPoint(&move, &b, kElemEnd);
    elemPoint(&e, &s, kElemStart);
    elemPoint(&e, &t, kElemEnd);
    double d = std::fmin(std::fmin(elemDistance(&a, &e, &near), elemDistance(&b, &e, &near)),
                         std::fmin(elemDistance(&s, &move, &near), elemDistance(&t, &move, &near)));
    if (e.type != kElemArc) return d;
    const Vec2 c{e.g[kAcx], e.g[kAcy]};
    const double len2 = (b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y);
    const double u = len2 > 0 ? ((c.x - a.x) * (b.x - a.x) + (c.y - a.y) * (b.y - a.y)) / len2 : -1;
    if (u <= 0 || u >= 1) return d;
    const Vec2 f{a.x + u * (b.x - a.x), a.y + u * (b.y - a.y)};
    const double cf = pointDist2D(&c, &f);
    if (cf < 1e-12) return d;
    const Vec2 p{c.x + (f.x - c.x) * e.g[kAr] / cf, c.y + (f.y - c.y) * e.g[kAr] / cf};
    return pointOnArc(&p, &e) ? std::fmin(d, std::fabs(cf - e.g[kAr])) : d;
}

// Some wall element of the list's contours that stand at the height comes nearer the move (a line, or a
// point when it has no length) than the reach plus that contour's allowance (all scaled). Stock
// boundaries and open sides are not walls: the tool may pass them.
bool meetsWall(const char* list, const ContourElement& move, double reach, double height) {
    const double tolerance = pocketKernel().tolerance;
    const bool point = elemIsPoint(&move);
    const Vec2 at{move.g[kLx1], move.g[kLy1]};
    Vec2 near;
    const int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0 || !h.elements || h.stock) continue;
        if (h.bottom > height + tolerance || h.top < height + 1e-5) continue;
        for (uint32_t j = 0; j < h.elementCount; ++j) {
            const ContourElement& e = h.elements[j];
            if (e.sourceTag < 0) continue;
            const double d = point ? elemDistance(&at, &e, &near) : moveDistance(move, e);
            if (d < reach + h.allowance) return true;
        }
    }
    return false;
}

}  // namespace

int toolRoomAt(const Vec2* centre, double reach, double height) {
    return centre ? toolRoomAlong(centre, centre, reach, height) : 0;
}

int toolRoomAlong(const Vec2* from, const Vec2* to, double reach, double height) {
    if (!from || !to) return 0;
    const ContourElement move = elemLineOf(*from, *to, 0);
    const double r = 0.5 * kvCCPParams.toolDiameter + reach - pocketKernel().tolerance;
    return meetsWall("INPUT", move, r, height) || meetsWall("CLAMPS", move, r, height) ? 0 : 1;
}

int helixClearCheck(const Vec2* centre, double helixRadius, double bottom) {
    if (!centre) return 0;
    // Every wall and island standing at the plane bottom limits the helix, each with its own
    // allowance. (Checking only contours whose bottom lies above the plane's, as before, checked
    // nothing in a pocket of one depth: a helix ran through the walls of a narrow slot.)
    const double s = scaleFactor();
    const Vec2 c{centre->x * s, centre->y * s};
    if (!toolRoomAt(&c, helixRadius * s, bottom)) {
        pocketError(kPocketErrHelix);
        return 0;
    }
    return 1;
}
