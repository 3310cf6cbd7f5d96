// Fitting a profile into a boundary: the range of sideways offsets at which the offset profile
// meets the boundary contour.
#include "contour/profile_fit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>
#include <utility>
#include <vector>

#include "contour/contourisect.h"
#include "contour/offsetcontour.h"

namespace {

constexpr double kTol = 1e-5;
constexpr int kMaxBisections = 200;  // far beyond what halving to any sane tolerance needs

bool samePoint(double x1, double y1, const Vec2& p) {
    return std::fabs(x1 - p.x) < kTol && std::fabs(y1 - p.y) < kTol;
}

// +1 when the boundary's elements start at the profile's points, -1 when they do in reverse
// order, else 0.
int sameContour(const ProfileCurve* profile, const FitBoundary* b) {
    const int32_t np = profile->count, nb = b->count;
    if (nb < 1 || b->elements == nullptr || (np != nb && np != nb + 1)) return 0;
    bool forward = true, backward = true;
    for (int32_t j = 0; j < nb && (forward || backward); ++j) {
        const Seg2D& e = b->elements[j];
        if (forward && !samePoint(e.x1, e.y1, profile->points[j])) forward = false;
        // Without a repeated closing point, point nb is the loop's first point again.
        if (backward && !samePoint(e.x1, e.y1, profile->points[(nb - j) % np])) backward = false;
    }
    return forward ? 1 : (backward ? -1 : 0);
}

struct FitWork {
    const FitBoundary* boundary;
    const Seg2D* segs;
    int32_t nseg;
    std::vector<Seg2D> out;  // the latest offset
    int32_t outCount;
    IsectList* crossings;  // grows with the crossings of each trial
};

// The profile offset by |e| to the side of e's sign into w.out: its element count, or -1.
int offsetAt(FitWork* w, double e) {
    const int k = offsetContour2D(w->segs, w->nseg, std::fabs(e), w->out.data(), e >= 0.0 ? 1 : -1, 0.0);
    w->outCount = std::max(k, 0);
    return k;
}

// 1 when the offset e meets the boundary, 0 when not, -1 when the offset or the search fails.
int hits(FitWork* w, double e) {
    const int k = offsetAt(w, e);
    if (k <= 0) return k;
    const Seg2D* o = w->out.data();
    if (k == 1 && std::fabs(o[0].x2 - o[0].x1) < kTol && std::fabs(o[0].y2 - o[0].y1) < kTol) return 0;
    const int c = contour_pair_isect2D_b(o, k, w->boundary->elements, w->boundary->count, w->crossings);
    if (c < 0) return -1;
    if (c > 0) return 1;
    const Vec2 mid = {o[k / 2].x1, o[k / 2].y1};
    return pointInPolyWinding2D(w->boundary->elements, w->boundary->count, &mid) != 0 ? 1 : 0;
}

int fitSearch(FitWork* w, double tolerance, double* fitStart, double* fitEnd) {
    const FitBoundary* b = w->boundary;
    double d = 0.0;
    int h = hits(w, d);
    if (h < 0) return -1;
    if (h == 0) {
        const Vec2 centre = {0.5 * (b->xmin + b->xmax), 0.5 * (b->ymin + b->ymax)};
        int32_t index = 0;
        const double m = nearestSeg2D(&centre, w->segs, w->nseg, &index);
        const double trials[] = {d + m, d - m, d + 0.5 * m, d - 0.5 * m};
        bool found = false;
        for (double e : trials) {
            h = hits(w, e);
            if (h < 0) return -1;
            if (h == 1) {
                d = e;
                found = true;
                break;
            }
        }
        if (!found) return -1;
    }
    if (offsetAt(w, d) < 0) return -1;
    const Vec2 corners[4] = {{b->xmin, b->ymin}, {b->xmax, b->ymin}, {b->xmax, b->ymax}, {b->xmin, b->ymax}};
    double far = 0.0;
    for (const Vec2& c : corners) {
        int32_t index = 0;
        if (w->outCount > 0) far = std::max(far, nearestSeg2D(&c, w->out.data(), w->outCount, &index));
    }
    const double r = 1.5 * std::max({far, 0.5 * (b->xmax - b->xmin), 0.5 * (b->ymax - b->ymin)});

    h = hits(w, d - r);
    if (h < 0) return -1;
    if (h == 1) {
        *fitStart = d - r;
    } else {
        double miss = d - r, hit = d;
        for (int it = 0; it < kMaxBisections && hit - miss >= tolerance; ++it) {
            const double mid = 0.5 * (miss + hit);
            h = hits(w, mid);
            if (h < 0) return -1;
            (h == 1 ? hit : miss) = mid;
        }
        *fitStart = hit;
    }
    h = hits(w, d + r);
    if (h < 0) return -1;
    if (h == 1) {
        *fitEnd = d + r;
    } else {
        double hit = d, miss = d + r;
        for (int it = 0; it < kMaxBisections && miss - hit >= tolerance; ++it) {
            const double mid = 0.5 * (miss + hit);
            h = hits(w, mid);
            if (h < 0) return -1;
            (h == 1 ? hit : miss) = mid;
        }
        *fitEnd = hit;
    }
    return 0;
}

}  // namespace

int profileFitBoundary(ProfileCurve* profile, const FitBoundary* boundary, double tolerance, double* fitStart,
                       double* fitEnd) {
    if (profile == nullptr || boundary == nullptr || fitStart == nullptr || fitEnd == nullptr) return -1;
    if (std::fabs(tolerance) < kTol) {
        *fitStart = *fitEnd = 0.0;
        return 0;
    }
    const int direction = sameContour(profile, boundary);
    if (direction != 0) {
        const double half =
            std::max(0.5 * (boundary->xmax - boundary->xmin), 0.5 * (boundary->ymax - boundary->ymin));
        const int o = direction * polyOrient2D(boundary->elements, boundary->count);
        *fitStart = 0.0;
        *fitEnd = o >= 0 ? half : -half;
        profile->swapFit = o >= 0 ? 0 : 1;
        return 0;
    }
    if (profile->count < 2 || boundary->count < 1 || boundary->elements == nullptr) return -1;

    int32_t nseg = 0;
    Seg2D* segs = profileToSegList(profile, 0, &nseg);
    IsectList* crossings = isectListCreate(64);
    int rc = -1;
    if (segs != nullptr && crossings != nullptr) {
        FitWork w{boundary, segs, nseg, {}, 0, crossings};
        try {
            w.out.resize(2 * static_cast<size_t>(nseg) + 1);
            // A negative tolerance would never end the bisection; only its size matters.
            rc = fitSearch(&w, std::fabs(tolerance), fitStart, fitEnd);
        } catch (const std::bad_alloc&) {
            rc = -1;
        }
    }
    std::free(segs);
    isectListFree(crossings);
    if (rc != 0) return -1;
    if (profile->swapFit) std::swap(*fitStart, *fitEnd);
    return 0;
}
