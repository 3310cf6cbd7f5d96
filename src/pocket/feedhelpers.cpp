#include "pocket/feedhelpers.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/base/numtext.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/planecheck.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kHelixTol = 1e-5;
constexpr double kRampChordSag = 1e-4;

ContourElement gFeedBuffer[kFeedBufferSize];
int32_t gFeedCount = 0;

double scaleFactor() {
    const double s = pocketKernel().geometryScale;
    return s > 0 ? s : 1.0;
}

}  // namespace

HelixPoints* helixPoints(const Vec2* centre, double radius, double angleStep, double rampAngle,
                         int32_t direction, double top, double bottom) {
    if (!centre || std::fabs(top - bottom) < kHelixTol || std::fabs(radius) < kHelixTol ||
        std::fabs(angleStep) < kHelixTol)
        return nullptr;
    if (helixClearCheck(centre, radius, bottom) != 1) return nullptr;  // reported by the check
    const double dz = std::fabs(2 * radius * std::sin(angleStep / 2) * std::tan(rampAngle));
    // A flat ramp would never reach the top.
    const double steps = dz > 0 ? (top - bottom) / dz : HUGE_VAL;
    if (!(steps < 1e7)) return nullptr;
    HelixPoints* h = static_cast<HelixPoints*>(calloc(1, sizeof(HelixPoints)));
    if (!h) return nullptr;
    h->capacity = static_cast<int32_t>(steps) + 10;
    h->points = static_cast<Vec3*>(calloc(h->capacity, sizeof(Vec3)));
    if (!h->points) {
        free(h);
        return nullptr;
    }
    auto add = [h](double x, double y, double z) {
        if (h->count >= h->capacity) return false;
        h->points[h->count++] = {x, y, z};
        return true;
    };
    double z = bottom, angle = 0;
    bool ok = add(centre->x, centre->y, z) && add(centre->x + radius, centre->y, z);
    while (ok && z < top - kHelixTol) {
        angle += direction * angleStep;
        z = std::fmin(z + dz, top);
        ok = add(centre->x + radius * std::cos(angle), centre->y + radius * std::sin(angle), z);
    }
    if (!ok || !add(centre->x, centre->y, z)) {
        helixPointsFree(h);
        return nullptr;
    }
    return h;
}

void helixPointsFree(HelixPoints* list) {
    if (!list) return;
    free(list->points);
    free(list);
}

int emitReducedFeed(CycleRecord* record, const HelixPoints* list) {
    if (!record || !list) return -1;
    const CcpParams& p = kvCCPParams;
    // Without a plane feed there is no ratio to state; the helix then runs at the current feed.
    if (p.reducedFeedrate > 1e-4 && p.planeFeedrate > 0) {
        char ratio[kFormatFixedMax];
        formatFixed(ratio, p.reducedFeedrate / p.planeFeedrate);
        const std::string tr = std::string("FX*") + ratio;
        int r = ncSetVariable(record, "aliasUse", "reducedFeedrate");
        if (r < 0) return r;
        r = ncSetVariable(record, "tr", tr.c_str());
        if (r < 0) return r;
    }
    for (int32_t i = list->count - 1; i >= 0; --i) {
        const int r = ncMove3113(record, list->points[i].x, list->points[i].y, list->points[i].z);
        if (r < 0) return r;
    }
    return 0;
}

int leadElement(const ContourElement* element, int32_t side, int32_t type, double length,
                ContourElement* out) {
    if (type < 1 || type > 4) return 0;
    Vec2 p, t;
    if (!element || !out || !elemPoint(element, &p, kElemStart) || !elemTangent(element, &t, kElemStart))
        return -1;
    const Vec2 n{-side * t.y, side * t.x};
    const double L = length;
    if (type == 1) {
        *out = elemLineOf({p.x + L * n.x, p.y + L * n.y}, p, 1);
    } else if (type == 2) {
        *out = elemLineOf({p.x - L * t.x, p.y - L * t.y}, p, 1);
    } else {
        ContourElement a{};
        a.type = kElemArc;
        a.sourceTag = 1;
        a.direction = side;
        a.g[kAcx] = p.x + L * n.x;
        a.g[kAcy] = p.y + L * n.y;
        a.g[kAsx] = type == 3 ? a.g[kAcx] - L * t.x : p.x + 2 * L * n.x;
        a.g[kAsy] = type == 3 ? a.g[kAcy] - L * t.y : p.y + 2 * L * n.y;
        a.g[kAex] = p.x;
        a.g[kAey] = p.y;
        a.g[kAr] = L;
        *out = a;
    }
    return 1;
}

int feedBufferAppend(const ContourElement* element) {
    if (!element) return -1;
    const PocketKernel& k = pocketKernel();
    const double s = scaleFactor();
    const double tol = k.tolerance / s;
    if (gFeedCount > 0) {
        Vec2 last, start;
        elemPoint(&gFeedBuffer[gFeedCount - 1], &last, kElemEnd);
        elemPoint(element, &start, kElemStart);
        const double d = pointDist2D(&last, &start);
        // The step factor is a ratio: only the radius comes in scaled units.
        if (d > 2 * (k.toolRadius / s) * k.stepFactor + tol) return -2;
        if (d > tol) {
            // Room for the bridge and the element, or neither goes in.
            if (gFeedCount + 2 > kFeedBufferSize) return -1;
            gFeedBuffer[gFeedCount++] = elemLineOf(last, start, 1);
        }
    }
    if (gFeedCount >= kFeedBufferSize) return -1;
    gFeedBuffer[gFeedCount++] = *element;
    return 1;
}

int32_t feedBufferCount() {
    return gFeedCount;
}

const ContourElement* feedBufferElements() {
    return gFeedBuffer;
}

void feedBufferClear() {
    gFeedCount = 0;
}

double polylineLength(const Vec2* points, int32_t n) {
    double sum = 0;
    for (int32_t i = 1; points && i < n; ++i) sum += pointDist2D(&points[i - 1], &points[i]);
    return sum;
}

int32_t polylineTrim(Vec2* points, int32_t n, double length) {
    if (!points || n < 2) return n;
    double sum = 0;
    for (int32_t i = 1; i < n; ++i) {
        const double seg = pointDist2D(&points[i - 1], &points[i]);
        if (sum + seg >= length) {
            const double f = seg > 0 ? (length - sum) / seg : 0;
            points[i] = {points[i - 1].x + f * (points[i].x - points[i - 1].x),
                         points[i - 1].y + f * (points[i].y - points[i - 1].y)};
            return i + 1;
        }
        sum += seg;
    }
    return n;
}

int32_t elementsToPoints(Vec2* points, int32_t capacity, const ContourElement* elements, int32_t count,
                         double angleStep) {
    if (!points || !elements || count < 1 || capacity < 1) return 0;
    int32_t n = 0;
    elemPoint(&elements[0], &points[n++], kElemStart);
    const double step = std::fabs(angleStep);
    for (int32_t i = 0; i < count && n < capacity; ++i) {
        const ContourElement& e = elements[i];
        if (e.type == kElemArc && e.g[kAr] >= 1e-4 && step > 0) {
            const double cx = e.g[kAcx], cy = e.g[kAcy], r = e.g[kAr];
            // The chords keep within 1e-4 of the arc: the ramp runs along the path's first ring, which
            // already touches the wall; a chord of the angle step alone cut up to 0.04 into an island.
            const double fine = std::fmin(step, 2 * std::acos(std::fmax(1 - kRampChordSag / r, -1.0)));
            const double a0 = std::atan2(e.g[kAsy] - cy, e.g[kAsx] - cx);
            double sweep = std::atan2(e.g[kAey] - cy, e.g[kAex] - cx) - a0;
            const double twoPi = kTwoPi;
            if (e.direction >= 0) {
                while (sweep <= 0) sweep += twoPi;
            } else {
                while (sweep >= 0) sweep -= twoPi;
            }
            for (double a = fine; a < std::fabs(sweep) && n < capacity; a += fine) {
                const double t = a0 + (e.direction >= 0 ? a : -a);
                points[n++] = {cx + r * std::cos(t), cy + r * std::sin(t)};
            }
        }
        if (n < capacity) elemPoint(&e, &points[n++], kElemEnd);
    }
    return n;
}

void feedHelpersResetState() {
    gFeedCount = 0;
}
static const RunReset gRunReset(kRunResetCycles, "feedHelpers", feedHelpersResetState);
