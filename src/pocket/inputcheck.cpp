#include "pocket/inputcheck.h"

#include <cmath>
#include <vector>

#include "kernel/base/constants.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/scratch.h"

namespace {

// Points nearer than this to another contour tell nothing about which side they lie on: the
// nesting's own near tolerance.
constexpr double kSideTolerance = 0.02;

struct Contour {
    std::vector<ContourElement> e;
    Vec2 lo{1e300, 1e300}, hi{-1e300, -1e300};
    int32_t n() const { return static_cast<int32_t>(e.size()); }
};

// The list's contours with their boxes: false after pocket error 3020 when a list step or the crossing
// table fails.
bool load(const char* list, std::vector<Contour>* out, const ScratchVector<PocketIsect>& records) {
    bool ok = records.ok();
    out->resize(static_cast<size_t>(clistCount(list)));
    for (int32_t i = 0; ok && i < clistCount(list); ++i) {
        ContourHeader h{};
        Contour& c = (*out)[i];
        ok = clistGetHeader(list, &h, i) >= 0;
        c.e.resize(ok ? h.elementCount : 0);
        ok = ok && clistGet(list, c.e.data(), &h, i) >= 0;
        for (const ContourElement& x : c.e) {
            Vec2 lo, hi;
            elemBoundingBox(&x, &lo, &hi);
            c.lo = {std::fmin(c.lo.x, lo.x), std::fmin(c.lo.y, lo.y)};
            c.hi = {std::fmax(c.hi.x, hi.x), std::fmax(c.hi.y, hi.y)};
        }
    }
    if (!ok) pocketError(kPocketErrStep);
    return ok;
}

bool boxesMeet(const Contour& a, const Contour& b, double grow) {
    return a.lo.x <= b.hi.x + grow && b.lo.x <= a.hi.x + grow && a.lo.y <= b.hi.y + grow &&
           b.lo.y <= a.hi.y + grow;
}

bool boxHolds(const Contour& outer, const Contour& inner) {
    return outer.lo.x <= inner.lo.x && outer.lo.y <= inner.lo.y && outer.hi.x >= inner.hi.x &&
           outer.hi.y >= inner.hi.y;
}

// Whether a reaches clearly into b and clearly out of it, judged at its elements' starts and middles.
bool reachesBothSides(const Contour& a, const Contour& b) {
    bool in = false, out = false;
    for (const ContourElement& x : a.e) {
        for (const int which : {kElemStart, kElemMiddle}) {
            Vec2 p;
            if (!elemPoint(&x, &p, which) || contourDistanceBelow(&p, b.e.data(), b.n(), kSideTolerance))
                continue;
            (pointInContour(b.e.data(), b.n(), &p) != 0 ? in : out) = true;
            if (in && out) return true;
        }
    }
    return false;
}

}  // namespace

double contourArea(const ContourElement* chain, int32_t count) {
    double twice = 0;
    for (int32_t i = 0; chain && i < count; ++i) {
        const ContourElement& e = chain[i];
        Vec2 s, t;
        if (!elemPoint(&e, &s, kElemStart) || !elemPoint(&e, &t, kElemEnd)) continue;
        twice += s.x * t.y - s.y * t.x;
        if (e.type != kElemArc) continue;
        // The arc's bulge beyond its chord: r^2 (w - sin w) / 2 for the signed sweep w, so that the
        // chord terms and the bulges together give the enclosed area. An arc that ends where it starts
        // is a full circle.
        double w = arcSweepAngle(&e);
        if (w == 0 && pointsEqual2D(&s, &t)) w = e.direction * kTwoPi;
        twice += e.g[kAr] * e.g[kAr] * (w - std::sin(w));
    }
    return 0.5 * twice;
}

int inputCheckContours(const char* list) {
    std::vector<Contour> all;
    ScratchVector<PocketIsect> records(kIsectTableSize);
    if (!load(list, &all, records)) return 0;
    const double tol = pocketKernel().tolerance;
    for (const Contour& c : all) {
        if (c.n() < 1 || !contourIsClosed(c.e.data(), c.n())) continue;
        const double area = contourArea(c.e.data(), c.n()), length = contourLength(c.e.data(), c.n());
        // A table too full to hold the crossings (-1) holds crossings all the same.
        if (!(std::fabs(area) > tol * length) || contourReduce(c.e.data(), c.n(), records.data(), -1) != 0) {
            pocketError(kPocketErrOpenContour);
            return 0;
        }
    }
    return 1;
}

int inputCheckNesting(const char* list) {
    std::vector<Contour> all;
    ScratchVector<PocketIsect> records(kIsectTableSize);
    if (!load(list, &all, records)) return 0;
    const size_t n = all.size();
    for (size_t i = 0; i < n; ++i) {
        for (size_t j = i + 1; j < n; ++j) {
            const Contour &a = all[i], &b = all[j];
            // Contours whose lines only meet (touch, graze) are the nesting's to place.
            if (!boxesMeet(a, b, kSideTolerance) ||
                intersectContours(a.e.data(), a.n(), b.e.data(), b.n(), records.data(), kIsectTableSize) == 0)
                continue;
            if (reachesBothSides(a, b) || reachesBothSides(b, a)) {
                pocketError(kPocketErrNesting);
                return 0;
            }
        }
    }
    int orientation = 0;
    for (size_t i = 0; i < n; ++i) {
        const Contour& c = all[i];
        bool inside = false;
        for (size_t j = 0; j < n && !inside; ++j)
            inside = j != i && boxHolds(all[j], c) &&
                     contourContainsChain(c.e.data(), c.n(), all[j].e.data(), all[j].n()) != 0;
        if (inside) continue;
        const int o = contourOrientation(c.e.data(), c.n());
        if (orientation == 0) orientation = o;
        if (o != 0 && o != orientation) {
            pocketError(kPocketErrNesting);
            return 0;
        }
    }
    return 1;
}
