#include "pocket/ringround.h"

#include <cmath>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketstate.h"

namespace {

constexpr double kFilletMinRadius = 0.01;
constexpr double kMinLength = 0.0001;
constexpr int32_t kOpeningWork = 60000;

struct RoundState {
    double snap = 0.1;
    std::vector<ContourElement> first, second;  // the two offsets of an opening
    std::vector<int32_t> starts, counts;
};

RoundState& state() {
    static RoundState s;
    return s;
}

// The shared offset buffers, sized on first use; false without memory.
bool buffers(int32_t elements) {
    RoundState& s = state();
    try {
        if (s.first.size() < static_cast<size_t>(elements)) s.first.resize(elements);
        if (s.second.size() < static_cast<size_t>(elements)) s.second.resize(elements);
        s.starts.resize(kOffsetMaxRings);
        s.counts.resize(kOffsetMaxRings);
    } catch (...) {
        return false;
    }
    return true;
}

int32_t copyOut(const ContourElement* elements, int32_t count, ContourElement* out) {
    for (int32_t i = 0; i < count; ++i) out[i] = elements[i];
    return count;
}

int orientationOf(const ContourElement* elements, int32_t count) {
    return contourOrientation(elements, count) < 0 ? -1 : 1;
}

// One fillet try with radius rho; false leaves first and second untouched.
bool filletTry(ContourElement* first, ContourElement* second, ContourElement* arc, double rho, int side) {
    ContourElement o1, o2;
    if (elementOffset(first, &o1, rho, side) < 0 || elementOffset(second, &o2, rho, side) < 0) return false;
    Vec2 centre;
    if (!elementIntersect(&o1, &o2, &centre)) return false;
    Vec2 foot1, foot2;
    const double d1 = elemDistance(&centre, first, &foot1);
    const double d2 = elemDistance(&centre, second, &foot2);
    // A foot beyond an element's extent shows up as a distance other than rho.
    if (std::fabs(d1 - rho) > 1e-4 * std::max(1.0, rho) || std::fabs(d2 - rho) > 1e-4 * std::max(1.0, rho))
        return false;
    ContourElement a = *first, b = *second;
    const Vec2 aStart = elemStartOf(a), bEnd = elemEndOf(b);
    elemTrim(&a, &aStart, &foot1);
    elemTrim(&b, &foot2, &bEnd);
    if (elemLength(&a) < kMinLength || elemLength(&b) < kMinLength) return false;
    ContourElement f{};
    f.type = kElemArc;
    f.g[kAcx] = centre.x;
    f.g[kAcy] = centre.y;
    f.g[kAsx] = foot1.x;
    f.g[kAsy] = foot1.y;
    f.g[kAex] = foot2.x;
    f.g[kAey] = foot2.y;
    f.g[kAr] = rho;
    f.direction = side;
    *first = a;
    *second = b;
    *arc = f;
    return true;
}

// Position of point p on out: the nearest element within the snap distance, or -1.
int32_t positionOn(const ContourElement* out, int32_t n, const Vec2& p, double snap) {
    int32_t index = -1;
    Vec2 near;
    const double d = contourNearestElement(&p, out, n, &index, &near);
    return d >= 0 && d < snap ? index : -1;
}

}  // namespace

int elementOffset(const ContourElement* element, ContourElement* out, double distance, int side) {
    ContourElement e = *element;
    Vec2 s, t, ns, nt;
    if (!elemPoint(element, &s, kElemStart) || !elemPoint(element, &t, kElemEnd)) return -1;
    if (!elemOffsetNormal(element, &ns, kElemStart, side) || !elemOffsetNormal(element, &nt, kElemEnd, side))
        return -1;
    if (element->type == kElemArc) {
        const double r = element->g[kAr] - distance * element->direction * side;
        if (r < 0.0001) return -1;
        e.g[kAr] = r;
    }
    const Vec2 s2{s.x + distance * ns.x, s.y + distance * ns.y};
    const Vec2 t2{t.x + distance * nt.x, t.y + distance * nt.y};
    elemSetPoint(&e, &s2, kElemStart);
    elemSetPoint(&e, &t2, kElemEnd);
    *out = e;
    return 1;
}

int elementIntersect(const ContourElement* first, const ContourElement* second, Vec2* point) {
    Vec2 p[2];
    const int n = elemIntersect(first, second, p);
    if (n < 1) return 0;
    const Vec2 end = elemEndOf(*first);
    *point = p[0];
    if (n == 2 && pointDist2D(&p[1], &end) < pointDist2D(&p[0], &end)) *point = p[1];
    return 1;
}

int cornerFilletRadius(const ContourElement* first, const ContourElement* second, double R, double w,
                       double* radius) {
    Vec2 t1, t2;
    if (!elemTangent(first, &t1, kElemEnd) || !elemTangent(second, &t2, kElemStart)) return 0;
    t2 = {-t2.x, -t2.y};
    const double dot = vecDot2D(&t1, &t2);
    if (dot < 0.5 || vecCross2D(&t1, &t2) < 0) return 0;
    const double a = std::acos(std::min(1.0, dot));
    const double f = std::sin(a / 2);
    if (1 - f < 1e-12) return 0;
    double rho = (w - R + R * f) / (1 - f);
    if (a < 0.5) rho /= 2;
    *radius = rho;
    return 1;
}

int cornerNeedsFillet(const ContourElement* elements, int32_t count, double R, double r, double w) {
    if (!elements || count < 2) return 0;
    const int orient = orientationOf(elements, count);
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement* prev = &elements[i == 0 ? count - 1 : i - 1];
        int type = kCornerSmooth;
        if (!elemCornerType(prev, &elements[i], &type) || type != orient) continue;
        double rho;
        if (cornerFilletRadius(prev, &elements[i], R, w, &rho) && rho < r - 0.0001) return 1;
    }
    return 0;
}

int elementFillet(ContourElement* first, ContourElement* second, ContourElement* arc, double radius,
                  int orientation) {
    double rho = radius;
    for (int halvings = 0; halvings <= 5 && rho >= kFilletMinRadius; ++halvings, rho /= 2)
        if (filletTry(first, second, arc, rho, orientation)) return halvings == 0 ? 1 : 0;
    return -1;
}

int32_t contourFilletCorners(const ContourElement* elements, int32_t count, double r, ContourElement* out) {
    if (!elements || count < 1) return 0;
    if (count > kClistMaxElements) return -1;
    std::vector<ContourElement> e(elements, elements + count);
    std::vector<ContourElement> arcs(count);
    std::vector<uint8_t> has(count, 0);
    int32_t tag = -1;
    for (int32_t i = 0; i < count && tag < 0; ++i)
        if (elements[i].sourceTag >= 0) tag = elements[i].sourceTag;
    const int orient = orientationOf(elements, count);
    const PocketKernel& k = pocketKernel();
    const double w = 2 * k.toolRadius * k.stepFactor;
    int32_t total = count;
    for (int32_t i = 0; i < count && count > 1; ++i) {
        ContourElement* a = &e[i];
        ContourElement* b = &e[(i + 1) % count];
        int type = kCornerSmooth;
        if (!elemCornerType(a, b, &type) || type != orient) continue;
        double rho = r, need;
        if (cornerFilletRadius(a, b, k.toolRadius, w, &need)) rho = std::min(r, need);
        if (total >= kClistMaxElements) return -1;
        if (elementFillet(a, b, &arcs[i], rho, orient) < 0) continue;
        arcs[i].sourceTag = tag;
        has[i] = 1;
        ++total;
    }
    int32_t n = 0;
    for (int32_t i = 0; i < count; ++i) {
        out[n++] = e[i];
        if (has[i]) out[n++] = arcs[i];
    }
    return n;
}

int32_t contourStaysNear(const ContourElement* source, int32_t count, const ContourElement* result,
                         int32_t resultCount, double limit) {
    for (int32_t i = 0; i < count; ++i) {
        const Vec2 p = elemStartOf(source[i]);
        const double d = contourDistance(&p, result, resultCount);
        if (d < 0 || d > limit) return -1;
    }
    return resultCount;
}

int32_t contourOpenByOffset(const ContourElement* elements, int32_t count, double r, ContourElement* out,
                            int flip) {
    if (!buffers(kClistMaxElements)) return kRoundOpenNoMemory;
    RoundState& s = state();
    int side = orientationOf(elements, count);
    if (flip) side = -side;
    int32_t end = 0;
    int32_t n =
        offsetContour(elements, count, side, r, s.first.data(), &end, s.starts.data(), s.counts.data());
    if (n < 0) return kRoundOpenNoMemory;
    if (n == 0) return kRoundOpenNone;
    if (n > 1) return kRoundOpenSeveral;
    const double back = pocketOffsetState().currentDistance;
    n = offsetContour(s.first.data() + s.starts[0], s.counts[0], -side, back, s.second.data(), &end,
                      s.starts.data(), s.counts.data());
    if (n < 0) return kRoundOpenNoMemory;
    if (n != 1) return kRoundOpenNone;
    return copyOut(s.second.data() + s.starts[0], s.counts[0], out);
}

int32_t contourRoundCorners(const ContourElement* elements, int32_t count, double r, ContourElement* out,
                            int flip) {
    if (!elements || !out || count < 1) return -1;
    copyOut(elements, count, out);
    if (r < kFilletMinRadius) return count;
    const PocketKernel& k = pocketKernel();
    const double w = 2 * k.toolRadius * k.stepFactor;
    const bool filletFirst =
        (flip == 0 || k.openMode != 0) && cornerNeedsFillet(elements, count, k.toolRadius, r, w);
    if (!filletFirst) {
        int32_t n = contourOpenByOffset(elements, count, r, out, flip);
        if (n == kRoundOpenNoMemory) return -1;
        if (n > 0) n = contourStaysNear(elements, count, out, n, 3 * r);
        if (n == kRoundOpenNone) {
            n = contourOpenByOffset(elements, count, r / 2, out, flip);
            if (n == kRoundOpenNoMemory) return -1;
            if (n > 0) n = contourStaysNear(elements, count, out, n, 3 * r);
        }
        if (n > 0) return contourClean(out, n);
    }
    copyOut(elements, count, out);
    const int32_t n = contourFilletCorners(elements, count, r, out);
    return n < 0 ? n : contourClean(out, n);
}

int32_t contourInsertOpeningArcs(const ContourElement* elements, int32_t count, double d, ContourElement* out,
                                 int flip) {
    if (!elements || !out || count < 1) return -1;
    RoundState& s = state();
    if (d / 2 < s.snap) s.snap = d / 2;
    copyOut(elements, count, out);
    if (d < kFilletMinRadius) return count;
    if (!buffers(kOpeningWork)) return -1;
    int side = orientationOf(elements, count);
    if (flip) side = -side;
    int32_t end = 0;
    const int32_t nFirst =
        offsetContour(elements, count, side, d, s.first.data(), &end, s.starts.data(), s.counts.data());
    if (nFirst < 0) return -1;
    if (nFirst == 0) return -2;
    const double back = pocketOffsetState().currentDistance;
    // The opened contours, each offset back; kept as separate chains.
    std::vector<std::vector<ContourElement>> opened;
    std::vector<int32_t> firstStarts(s.starts.begin(), s.starts.begin() + nFirst);
    std::vector<int32_t> firstCounts(s.counts.begin(), s.counts.begin() + nFirst);
    for (int32_t i = 0; i < nFirst; ++i) {
        int32_t e2 = 0;
        const int32_t m = offsetContour(s.first.data() + firstStarts[i], firstCounts[i], -side, back,
                                        s.second.data(), &e2, s.starts.data(), s.counts.data());
        if (m < 0) return -1;
        for (int32_t j = 0; j < m; ++j)
            opened.emplace_back(s.second.data() + s.starts[j], s.second.data() + s.starts[j] + s.counts[j]);
    }
    const double cd = pocketOffsetState().currentDistance;
    const double snap = s.snap;
    std::vector<ContourElement> ring(elements, elements + count);
    int lastContour = -1, lastArc = -1;
    for (size_t i = 0; i < ring.size(); ++i) {
        const Vec2 p = elemStartOf(ring[i]);
        // The nearest opening arc; its ends must lie on the ring on either side of this start point.
        int bestC = -1, bestA = -1;
        double best = -1;
        for (size_t c = 0; c < opened.size(); ++c)
            for (size_t a = 0; a < opened[c].size(); ++a) {
                const ContourElement& arc = opened[c][a];
                if (arc.type != kElemArc || std::fabs(arc.g[kAr] - cd) > 1e-4) continue;
                Vec2 near;
                const double dist = elemDistance(&p, &arc, &near);
                if (best < 0 || dist < best) {
                    best = dist;
                    bestC = static_cast<int>(c);
                    bestA = static_cast<int>(a);
                }
            }
        if (bestC < 0 || (bestC == lastContour && bestA == lastArc)) continue;
        ContourElement arc = opened[bestC][bestA];
        const Vec2 as = elemStartOf(arc), ae = elemEndOf(arc);
        const int32_t n = static_cast<int32_t>(ring.size());
        const int32_t j1 = positionOn(ring.data(), n, as, snap);
        const int32_t j2 = positionOn(ring.data(), n, ae, snap);
        if (j1 < 0 || j2 < 0 || j1 == j2) continue;
        const int32_t at = static_cast<int32_t>(i);
        const int32_t span = (j2 - j1 + n) % n, here = (at - j1 + n) % n;
        if (here < 1 || here > span) continue;
        if ((j2 == (j1 + 1) % n) && pointDist2D(&as, &ae) < 0.1) continue;
        bool clash = false;
        for (int32_t k = (j1 + 1) % n; opened.size() > 1 && !clash; k = (k + 1) % n) {
            const Vec2 q = elemStartOf(ring[k]);
            for (size_t c = 0; c < opened.size() && !clash; ++c)
                if (static_cast<int>(c) != bestC) {
                    const double dq =
                        contourDistance(&q, opened[c].data(), static_cast<int32_t>(opened[c].size()));
                    clash = dq >= 0 && dq < snap;
                }
            if (k == j2) break;
        }
        if (clash) continue;
        ContourElement before = ring[j1], after = ring[j2];
        const Vec2 bs = elemStartOf(before), fe = elemEndOf(after);
        elemTrim(&before, &bs, &as);
        elemTrim(&after, &ae, &fe);
        if (elemLength(&before) < kMinLength || elemLength(&after) < kMinLength) continue;
        arc.sourceTag = before.sourceTag;
        std::vector<ContourElement> next;
        if (j1 < j2) {
            next.assign(ring.begin(), ring.begin() + j1);
            next.push_back(before);
            next.push_back(arc);
            next.push_back(after);
            next.insert(next.end(), ring.begin() + j2 + 1, ring.end());
            i = static_cast<size_t>(j1) + 1;
        } else {
            // The corner lies across the contour's start: the ring now starts at the arc's end.
            next.push_back(after);
            next.insert(next.end(), ring.begin() + j2 + 1, ring.begin() + j1);
            next.push_back(before);
            next.push_back(arc);
            i = 0;
        }
        if (next.size() > static_cast<size_t>(kClistMaxElements)) return -1;
        ring.swap(next);
        lastContour = bestC;
        lastArc = bestA;
    }
    const int32_t n = copyOut(ring.data(), static_cast<int32_t>(ring.size()), out);
    return contourClean(out, n);
}

double contourRoundSnapDistance() {
    return state().snap;
}

void ringRoundResetState() {
    RoundState& s = state();
    s.snap = 0.1;
    std::vector<ContourElement>().swap(s.first);
    std::vector<ContourElement>().swap(s.second);
    std::vector<int32_t>().swap(s.starts);
    std::vector<int32_t>().swap(s.counts);
}
static const RunReset gRunReset(kRunResetCycles, "ringRound", ringRoundResetState);
