// Blade curves from the blade's side surfaces.
#include "plunge/bladecurves.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "geometry/profile.h"
#include "geometry/seg3d.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"
#include "plunge/cycparams.h"
#include "surfaces/facet.h"
#include "surfaces/kvxsurf.h"

namespace {

// Distances from the hub profile, its search boxes taken once for the points of one question.
class HubDistance {
  public:
    explicit HubDistance(const Profile2D* hub)
        : hub_(hub), boxes_(static_cast<size_t>(std::max(profile2DBoxSize(hub), 0))) {
        profile2DBoxes(hub, boxes_.data());
    }
    double operator()(const Vec3& p) const {
        return closestPointProfile2DBoxed(hub_, boxes_.data(), &p, nullptr, nullptr);
    }

  private:
    const Profile2D* hub_;
    std::vector<double> boxes_;
};

double radius(const Vec3& p) {
    return std::hypot(p.x, p.y);
}

// Point at cross parameter c of the sample at t, in the strip's iso direction.
int crossPoint(const TrimSurface* s, int32_t direction, double t, double c, Vec3* out) {
    return direction == 0 ? isoSurfacePoint(s, c, t, out) : isoSurfacePoint(s, t, c, out);
}

// Every number the area of a surface depends on, in order: the key of the kept areas.
std::vector<double> areaKey(const TrimSurface* s, int32_t direction) {
    const BsplSurface& b = s->surface;
    std::vector<double> k{double(direction),
                          double(s->hasOffset),
                          s->offset,
                          double(s->loopCount),
                          s->umin,
                          s->vmin,
                          s->umax,
                          s->vmax,
                          double(b.uOrder),
                          double(b.vOrder),
                          double(b.uNum),
                          double(b.vNum),
                          double(b.rational),
                          double(b.rational2),
                          double(b.periodicU),
                          double(b.periodicV)};
    for (int32_t i = 0; s->loops && i < s->loopCount; ++i) {
        k.push_back(s->loops[i].count);
        for (int32_t j = 0; s->loops[i].points && j < s->loops[i].count; ++j)
            k.insert(k.end(), {s->loops[i].points[j].x, s->loops[i].points[j].y});
    }
    const int64_t points = int64_t(b.uNum) * b.vNum;
    if (b.uKnots) k.insert(k.end(), b.uKnots, b.uKnots + b.uNum + b.uOrder);
    if (b.vKnots) k.insert(k.end(), b.vKnots, b.vKnots + b.vNum + b.vOrder);
    for (int64_t i = 0; b.rows && b.rows[0] && i < points; ++i)
        k.insert(k.end(), {b.rows[0][i].x, b.rows[0][i].y, b.rows[0][i].z});
    for (int64_t i = 0; (b.rational || b.rational2) && b.weights && b.weights[0] && i < points; ++i)
        k.push_back(b.weights[0][i]);
    return k;
}

// The areas measured so far: each blade file is read and its surfaces measured by several steps of a
// run, and the measure (a fine facetting) is the costly part of choosing the sides.
std::vector<std::pair<std::vector<double>, double>> gAreas;

double areaOf(const TrimSurface* s, int32_t direction) {
    std::vector<double> key = areaKey(s, direction);
    for (const auto& [k, area] : gAreas)
        if (k.size() == key.size() && std::equal(k.begin(), k.end(), key.begin(), [](double a, double b) {
                return std::memcmp(&a, &b, sizeof a) == 0;
            }))
            return area;
    double area = 0.0, rel = 0.0;
    if (facetSurface(s, 0.01, &area, &rel) == -1)
        area = isoLineLength(s, direction) * isoLineLength(s, 1 - direction);
    gAreas.emplace_back(std::move(key), area);
    return area;
}

// The side's edge whose hub distances differ less at one end decides which edge lies on the hub.
void orientEdges(IsoStrip* s, const Profile2D* hub, bool maySwap) {
    const HubDistance hubDistance(hub);
    const int32_t n = s->count - 1;
    const double dS0 = hubDistance(s->edge0[0]), dS1 = hubDistance(s->edge1[0]);
    const double dE0 = hubDistance(s->edge0[n]), dE1 = hubDistance(s->edge1[n]);
    const bool start = std::fabs(dS0 - dS1) > std::fabs(dE0 - dE1);
    const double d0 = start ? dS0 : dE0, d1 = start ? dS1 : dE1;
    if (maySwap && d1 > d0) isoStripSwapEdges(s);
}

void orientRun(IsoStrip* s) {
    const Vec3& first = s->edge0[0];
    const Vec3& last = s->edge0[s->count - 1];
    if (radius(first) < 0.5 * radius(last) || last.z < first.z) isoStripReverse(s);
}

// The average of a and of b (reversed) at the same share of their lengths, as a kind-'p' curve with
// its own z values.
ProfileCurve* meanLine(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
    Plist3D* pa = plist3DFromPoints(a.data(), static_cast<int32_t>(a.size()));
    Plist3D* pb = plist3DFromPoints(b.data(), static_cast<int32_t>(b.size()));
    ProfileCurve* curve = nullptr;
    Vec2* xy = nullptr;
    double* z = nullptr;
    if (pa != nullptr && pb != nullptr && pa->count >= 2 && reversePlist3D(pb) == 1) {
        const double la = pa->param[pa->count - 1], lb = pb->param[pb->count - 1];
        xy = static_cast<Vec2*>(std::malloc(sizeof(Vec2) * static_cast<size_t>(pa->count)));
        z = static_cast<double*>(std::malloc(sizeof(double) * static_cast<size_t>(pa->count)));
        bool ok = la > 0.0 && xy != nullptr && z != nullptr;
        // The shares grow along a, so the search in b resumes at the segment the last one stopped at
        // (a search from b's start per point costs the product of both counts, hours for long strips).
        int32_t from = 0;
        for (int32_t i = 0; ok && i < pa->count; ++i) {
            Vec3 q;
            const double s = std::fmin(pa->param[i] * lb / la, lb);
            while (from + 2 < pb->count && pb->param[from + 1] <= s - 1e-5) ++from;
            const Plist3D rest{pb->capacity - from, pb->count - from, pb->points + from, pb->param + from};
            ok = evalPlist3D(&rest, s, &q) >= 0;
            const Vec3& p = pa->points[i];
            xy[i] = {0.5 * (p.x + q.x), 0.5 * (p.y + q.y)};
            z[i] = 0.5 * (p.z + q.z);
        }
        if (ok) curve = profileCreate(xy, pa->count, kProfilePoints);
        if (curve != nullptr) {
            curve->ownsPoints = 1;
            curve->z = z;
        }
    }
    if (curve == nullptr) {
        std::free(xy);
        std::free(z);
    }
    freePlist3D(pa);
    freePlist3D(pb);
    return curve;
}

// The selected surfaces and the two oriented side strips of the blade; every exit frees what it took.
struct BladeStrips {
    SurfList* list = nullptr;
    IsoStrip* a = nullptr;
    IsoStrip* b = nullptr;
    ~BladeStrips() {
        isoStripFree(a);
        isoStripFree(b);
        freeSurfList(list);
    }
    int load(const char* selection, const Profile2D* hub, double tol);
};

int BladeStrips::load(const char* selection, const Profile2D* hub, double tol) {
    if (selection == nullptr || hub == nullptr || hub->count < 1) return -1;
    list = newSurfList(10);
    if (list == nullptr || readSurfObjects(selection, list) != 1) return -1;
    int32_t index[2] = {0, 0}, direction[2] = {0, 0};
    const int chosen = chooseBladeSurfaces(list, hub, index, direction);
    facetReleaseScratch();
    if (chosen < 0) return -1;
    if (chosen == 1) {
        IsoStrip* whole = idx5SurfaceIsoCurve(&list->entries[index[0]], direction[0], tol);
        if (whole != nullptr) splitIsoStrip(whole, &a, &b, 2.0 * tol);
        isoStripFree(whole);
        direction[1] = direction[0];
    } else {
        a = idx5SurfaceIsoCurve(&list->entries[index[0]], direction[0], tol);
        b = idx5SurfaceIsoCurve(&list->entries[index[1]], direction[1], tol);
    }
    if (a == nullptr || b == nullptr) {
        msgLong(9, kMsgBladeCurves, "* Problems creating curves", 0);
        return -1;
    }
    if (orientBladeStrips(a, b, hub, 0) == 1) std::swap(direction[0], direction[1]);
    if (cycleParams()->testBlisk) {
        for (int32_t i = 0; i < a->count; ++i) hubCrossingOnStrip(a, i, direction[0], hub);
        for (int32_t i = 0; i < b->count; ++i) hubCrossingOnStrip(b, i, direction[1], hub);
    }
    return 1;
}

}  // namespace

double isoEdgeSpread(const TrimSurface* surface, double fixed, int32_t which, const Profile2D* hub) {
    if (surface == nullptr || hub == nullptr || hub->count < 1) return -1.0;
    const HubDistance hubDistance(hub);
    double lo = INFINITY, hi = -INFINITY;
    for (int i = 0; i <= 10; ++i) {
        const double f = i / 10.0;
        Vec3 p;
        const int rc = which == kIsoFixU ? isoSurfacePoint(surface, fixed, f, &p)
                                         : isoSurfacePoint(surface, f, fixed, &p);
        if (rc != 1) return -1.0;
        const double d = hubDistance(p);
        lo = std::fmin(lo, d);
        hi = std::fmax(hi, d);
    }
    return hi - lo;
}

int32_t chooseIsoDirection(const TrimSurface* surface, const Profile2D* hub) {
    const double u =
        std::fmax(isoEdgeSpread(surface, 0.0, kIsoFixU, hub), isoEdgeSpread(surface, 1.0, kIsoFixU, hub));
    const double v =
        std::fmax(isoEdgeSpread(surface, 0.0, kIsoFixV, hub), isoEdgeSpread(surface, 1.0, kIsoFixV, hub));
    return u >= v ? 1 : 0;
}

int chooseBladeSurfaces(const SurfList* list, const Profile2D* hub, int32_t index[2], int32_t direction[2]) {
    if (list == nullptr || list->count < 1 || hub == nullptr || index == nullptr || direction == nullptr)
        return -1;
    const int32_t n = list->count;
    if (n <= 2) {
        for (int32_t k = 0; k < n; ++k) {
            index[k] = k;
            direction[k] = chooseIsoDirection(&list->entries[k], hub);
        }
        return n;
    }
    std::vector<double> area(static_cast<size_t>(n));
    std::vector<int32_t> dir(static_cast<size_t>(n));
    for (int32_t k = 0; k < n; ++k) {
        dir[k] = chooseIsoDirection(&list->entries[k], hub);
        area[k] = areaOf(&list->entries[k], dir[k]);
    }
    const int32_t big = static_cast<int32_t>(std::max_element(area.begin(), area.end()) - area.begin());
    const bool even = std::all_of(area.begin(), area.end(), [&](double x) { return x >= 0.85 * area[big]; });
    int32_t pick[2] = {0, n - 1};
    if (!even) {
        int32_t second = -1;
        for (int32_t k = 0; k < n; ++k)
            if (k != big && (second < 0 || area[k] > area[second])) second = k;
        pick[0] = big, pick[1] = second;
    }
    for (int k = 0; k < 2; ++k) index[k] = pick[k], direction[k] = dir[pick[k]];
    return 2;
}

int splitIsoStrip(const IsoStrip* strip, IsoStrip** a, IsoStrip** b, double gap) {
    if (a == nullptr || b == nullptr) return -1;
    *a = *b = nullptr;
    if (strip == nullptr || strip->count < 3) return -1;
    int32_t k = 0;
    while (k + 1 < strip->count && strip->t[k + 1] <= 0.5 + 1e-5) ++k;
    // A part whose middle line from the cut is no longer than the gap is no side: no strip.
    int32_t endA = -1, startB = -1;
    double sum = 0.0;
    for (int32_t j = k - 1; j >= 0 && endA < 0; --j) {
        sum += dist3D(&strip->middle[j], &strip->middle[j + 1]);
        if (sum > gap) endA = j;
    }
    sum = 0.0;
    for (int32_t j = k + 1; j < strip->count && startB < 0; ++j) {
        sum += dist3D(&strip->middle[j], &strip->middle[j - 1]);
        if (sum > gap) startB = j;
    }
    if (endA < 0 || startB < 0) return -1;
    *a = isoStripCopyRange(strip, 0, endA);
    *b = isoStripCopyRange(strip, startB, strip->count - 1);
    if (*a == nullptr || *b == nullptr) {
        isoStripFree(*a);
        isoStripFree(*b);
        *a = *b = nullptr;
        return -1;
    }
    return 1;
}

int orientBladeStrips(IsoStrip* a, IsoStrip* b, const Profile2D* hub, int32_t flag) {
    if (a == nullptr || b == nullptr || hub == nullptr || a->count < 1 || b->count < 1 || hub->count < 1)
        return -1;
    orientEdges(a, hub, cycleParams()->impReverse == 0);
    orientEdges(b, hub, true);
    orientRun(a);
    orientRun(b);
    const Vec3 P = a->middle[a->count / 2];
    Vec3 Q = b->middle[0];
    int32_t seg = 0;
    if (b->count >= 2) nearestOnPolyline3D(b->middle, b->count, &P, &Q, &seg);
    const double turn = P.x * (Q.y - P.y) - P.y * (Q.x - P.x);
    const int exchanged = (turn < 0.0 && flag == 0) || (turn > 0.0 && flag != 0) ? 1 : 0;
    if (exchanged) std::swap(*a, *b);
    isoStripReverse(flag != 0 ? a : b);
    return exchanged;
}

int hubCrossingOnStrip(IsoStrip* strip, int32_t i, int32_t direction, const Profile2D* hub) {
    if (strip == nullptr || strip->surface == nullptr || hub == nullptr || hub->count < 1 || i < 0 ||
        i >= strip->count)
        return 0;
    const TrimSurface* s = strip->surface;
    const double t = strip->t[i];
    const HubDistance hubDistance(hub);
    Vec3 p0, p1;
    if (crossPoint(s, direction, t, 0.0, &p0) != 1 || crossPoint(s, direction, t, 1.0, &p1) != 1) return 0;
    double d0 = hubDistance(p0);
    const double d1 = hubDistance(p1);
    if (d0 * d1 > 0.0) return 0;
    double lo = 0.0, hi = 1.0;
    Vec3 m = p0;
    while (hi - lo > 0.001) {
        const double c = 0.5 * (lo + hi);
        if (crossPoint(s, direction, t, c, &m) != 1) return 0;
        const double d = hubDistance(m);
        if (d * d0 <= 0.0) {
            hi = c;
        } else {
            lo = c;
            d0 = d;
        }
    }
    strip->edge1[i] = m;
    return 1;
}

int idx5CreateBladeCurves(const char* selection, const Profile2D* hub, double tol, ProfileCurve** hubCurve,
                          ProfileCurve** tipCurve) {
    if (hubCurve == nullptr || tipCurve == nullptr) return -1;
    *hubCurve = *tipCurve = nullptr;
    BladeStrips strips;
    if (strips.load(selection, hub, tol) != 1) return -1;
    const IsoStrip* a = strips.a;
    const IsoStrip* b = strips.b;
    ProfileCurve* tip = meanLine({a->edge0, a->edge0 + a->count}, {b->edge0, b->edge0 + b->count});
    ProfileCurve* hubSide = meanLine({a->edge1, a->edge1 + a->count}, {b->edge1, b->edge1 + b->count});
    if (tip == nullptr || hubSide == nullptr) {
        profileFreeList(tip);
        profileFreeList(hubSide);
        return -1;
    }
    *hubCurve = hubSide;
    *tipCurve = tip;
    return 1;
}

int idx5BladeEdgeContours(const char* selection, const Profile2D* hub, double tol, Plist3DNode* chain) {
    if (chain == nullptr || chain->list == nullptr || chain->next == nullptr || chain->next->list == nullptr)
        return -1;
    BladeStrips strips;
    if (strips.load(selection, hub, tol) != 1) return -1;
    Plist3D* first = plist3DFromPoints(strips.a->edge0, strips.a->count);
    Plist3D* second = plist3DFromPoints(strips.b->edge0, strips.b->count);
    const bool ok = first != nullptr && second != nullptr && reversePlist3D(second) == 1 &&
                    assignPlist3D(chain->list, first) == 1 && assignPlist3D(chain->next->list, second) == 1;
    freePlist3D(first);
    freePlist3D(second);
    if (!ok) chain->list->count = chain->next->list->count = 0;
    return ok ? 1 : -1;
}

void bladeCurvesResetState() {
    gAreas.clear();
    gAreas.shrink_to_fit();
}
static const RunReset gRunReset(kRunResetCycles, "bladeCurves", bladeCurvesResetState);
