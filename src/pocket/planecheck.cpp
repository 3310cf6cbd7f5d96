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

int helixClearCheck(const Vec2* centre, double helixRadius, double bottom) {
    if (!centre) return 0;
    const double s = scaleFactor();
    const double reach = 0.5 * kvCCPParams.toolDiameter / s + helixRadius + pocketAllowanceGet(0) / s -
                         pocketKernel().tolerance / s;
    std::unique_ptr<ContourElement[]> scratch(new (std::nothrow) ContourElement[kClistMaxElements]);
    if (!scratch) {
        pocketError(kPocketErrStep);
        return -1;
    }
    ContourElement circle{};
    circle.type = kElemArc;
    circle.direction = 1;
    circle.g[kAcx] = centre->x;
    circle.g[kAcy] = centre->y;
    circle.g[kAsx] = circle.g[kAex] = centre->x + reach;
    circle.g[kAsy] = circle.g[kAey] = centre->y;
    circle.g[kAr] = reach;
    const int32_t n = clistCount("INPUT");
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader("INPUT", &h, i) < 0 || h.elementCount < 1 ||
            h.bottom < bottom + pocketKernel().tolerance / s)
            continue;
        clistGet("INPUT", scratch.get(), &h, i);
        const int32_t m = static_cast<int32_t>(h.elementCount);
        unscaleElements(scratch.get(), m);
        Vec2 start;
        elemPoint(&scratch[0], &start, kElemStart);
        if ((reach > 0 && elemContourClassify(&circle, scratch.get(), m) > 0) ||
            pointDist2D(centre, &start) < reach) {
            pocketError(kPocketErrHelix);
            return 0;
        }
    }
    return 1;
}
