// Hub and shroud boundary curves.
#include "plunge/hubshroud.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "geometry/profile.h"
#include "geometry/seg3d.h"
#include "kernel/base/runreset.h"
#include "plunge/cycparams.h"
#include "plunge/isostrip.h"
#include "surfaces/kvxsurf.h"

namespace {

int32_t gJoinFlag = 0;

double* zeros(int32_t n) {
    return static_cast<double*>(std::calloc(static_cast<size_t>(n < 1 ? 1 : n), sizeof(double)));
}

HubShroud* assemble(Profile2D* hub, Profile2D* shroud) {
    auto* p = static_cast<HubShroud*>(std::calloc(1, sizeof(HubShroud)));
    if (p != nullptr) {
        p->hub = hub;
        p->shroud = shroud;
        if (hub != nullptr) p->extra = zeros(hub->count);
    }
    if (p == nullptr || hub == nullptr || shroud == nullptr || p->extra == nullptr) {
        if (p == nullptr) {
            freeProfile2D(hub);
            freeProfile2D(shroud);
        }
        freeHubShroud(p);
        return nullptr;
    }
    return p;
}

double lengthOf(const Profile2D* p) {
    return p->count > 0 ? p->param[p->count - 1] : 0.0;
}

// A profile curve of kind 'p' with owned points and z values and 3D cumulative lengths.
ProfileCurve* curveFrom(const std::vector<Vec3>& pts) {
    const size_t n = pts.size();
    auto* xy = static_cast<Vec2*>(std::malloc(sizeof(Vec2) * (n ? n : 1)));
    auto* z = static_cast<double*>(std::malloc(sizeof(double) * (n ? n : 1)));
    if (xy == nullptr || z == nullptr) {
        std::free(xy);
        std::free(z);
        return nullptr;
    }
    for (size_t i = 0; i < n; ++i) xy[i] = {pts[i].x, pts[i].y}, z[i] = pts[i].z;
    ProfileCurve* c = profileCreate(xy, static_cast<int32_t>(n), kProfilePoints);
    if (c == nullptr) {
        std::free(xy);
        std::free(z);
        return nullptr;
    }
    c->ownsPoints = 1;
    c->z = z;
    for (size_t i = 1; i < n; ++i) c->lengths[i] = c->lengths[i - 1] + dist3D(&pts[i - 1], &pts[i]);
    c->end = n >= 2 ? c->lengths[n - 1] : 0.0;
    return c;
}

// The run with the largest change of the followed value (z, or the radius for a flat loop).
void keepMeridionalEdge(std::vector<Vec3>& pts) {
    const size_t n = pts.size();
    if (n < 2) return;
    bool flat = true;
    for (const Vec3& p : pts) flat = flat && std::fabs(p.z - pts[0].z) <= 0.01;
    std::vector<double> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = flat ? std::hypot(pts[i].x, pts[i].y) : pts[i].z;
    size_t bestA = 0, bestB = 0;
    double bestChange = -1.0;
    for (size_t start = 0; start < n;) {
        size_t a = start;
        while (a + 1 < n && std::fabs(v[a + 1] - v[start]) < 0.01) ++a;
        size_t b = a;
        while (b + 1 < n && std::fabs(v[b + 1] - v[b]) >= 0.01) ++b;
        // Equal changes keep the earlier run; rounding of the evaluation must not decide between the two
        // meridional edges of a surface of revolution.
        if (b > a && std::fabs(v[b] - v[a]) > bestChange + 1e-9)
            bestChange = std::fabs(v[b] - v[a]), bestA = a, bestB = b;
        start = b + 1;
    }
    if (bestChange < 0.0) return;
    pts.erase(pts.begin() + static_cast<std::ptrdiff_t>(bestB) + 1, pts.end());
    pts.erase(pts.begin(), pts.begin() + static_cast<std::ptrdiff_t>(bestA));
}

int sign3(double d) {
    return std::fabs(d) <= 1e-5 ? 0 : (d > 0.0 ? 1 : -1);
}

}  // namespace

ProfileCurve* surfaceMeridianCurve(const SurfList* list, double tol) {
    if (list == nullptr || list->count < 1) return nullptr;
    IsoStrip* s0 = idx5SurfaceIsoCurve(&list->entries[0], 0, tol);
    IsoStrip* s1 = idx5SurfaceIsoCurve(&list->entries[0], 1, tol);
    ProfileCurve* c = nullptr;
    if (s0 != nullptr && s1 != nullptr) {
        auto fall = [](const IsoStrip* s) { return std::fabs(s->middle[s->count - 1].z - s->middle[0].z); };
        const IsoStrip* s = fall(s1) > fall(s0) ? s1 : s0;
        c = curveFrom(std::vector<Vec3>(s->middle, s->middle + s->count));
    }
    isoStripFree(s0);
    isoStripFree(s1);
    return c;
}

ProfileCurve* surfacesMeridianCurve(const SurfList* list) {
    if (list == nullptr) return nullptr;
    std::vector<std::vector<Vec3>> edges;
    for (int32_t k = 0; k < list->count; ++k) {
        const TrimSurface& rec = list->entries[k];
        const BsplSurface& s = rec.surface;
        const double u0 = s.uKnots[0], u1 = s.uKnots[s.uNum + s.uOrder - 1];
        const double v0 = s.vKnots[0], v1 = s.vKnots[s.vNum + s.vOrder - 1];
        for (int32_t l = 0; l < rec.loopCount; ++l) {
            std::vector<Vec3> pts;
            for (int32_t i = 0; i < rec.loops[l].count; ++i) {
                const Vec2 uv = rec.loops[l].points[i];
                Vec3 p;
                // Loop points are surface parameters; the sampler takes unit parameters.
                const double fu = u1 > u0 ? (uv.x - u0) / (u1 - u0) : 0.0,
                             fv = v1 > v0 ? (uv.y - v0) / (v1 - v0) : 0.0;
                if (isoSurfacePoint(&rec, fu, fv, &p) != 1) return nullptr;
                if (!pts.empty() && dist3D(&p, &pts.back()) < 0.01) continue;
                pts.push_back(p);
            }
            keepMeridionalEdge(pts);
            Plist* pl = plistCreate(static_cast<int32_t>(pts.size()) + 1, 0);
            if (pl == nullptr) return nullptr;
            double t = 0.0;
            for (size_t i = 0; i < pts.size(); ++i) {
                const Vec3 q{0.0, std::hypot(pts[i].x, pts[i].y), pts[i].z};
                if (i > 0) t += dist3D(&pl->points[pl->count - 1], &q);
                if (plistAppend(pl, t, &q, 0, nullptr, 0) < 0) {
                    // An edge longer than a point list holds is refused, not cut short.
                    plistFree(pl);
                    return nullptr;
                }
            }
            polyline3DThinAll(pl);
            edges.emplace_back(pl->points, pl->points + pl->count);
            plistFree(pl);
        }
    }
    // The chain starts from the first edge with points (an empty first loop has no ends to join to).
    size_t first = 0;
    while (first < edges.size() && edges[first].empty()) ++first;
    if (first == edges.size()) return nullptr;
    std::swap(edges[0], edges[first]);
    const double e = cycleParams()->precision;
    auto near = [e](const Vec3& a, const Vec3& b) {
        return dist3D(&a, &b) < e || std::fabs(a.z - b.z) < 0.5 * e;
    };
    std::vector<Vec3> chain = edges[0];
    edges[0].clear();
    for (;;) {
        bool left = false, joined = false;
        for (size_t k = 1; k < edges.size() && !joined; ++k) {
            std::vector<Vec3>& g = edges[k];
            if (g.empty()) continue;
            left = true;
            const Vec3 F = chain.front(), E = chain.back(), f = g.front(), b = g.back();
            const int s0 = sign3(F.z - E.z), sk = sign3(f.z - b.z);
            if (near(f, F) && sk * s0 <= 0) {
                for (size_t i = 1; i < g.size(); ++i) chain.insert(chain.begin(), g[i]);
            } else if (near(b, F) && sk * s0 >= 0) {
                for (size_t i = g.size() - 1; i-- > 0;) chain.insert(chain.begin(), g[i]);
            } else if (near(f, E) && sk * s0 >= 0) {
                chain.insert(chain.end(), g.begin() + 1, g.end());
            } else if (near(b, E) && sk * s0 <= 0) {
                for (size_t i = g.size() - 1; i-- > 0;) chain.push_back(g[i]);
            } else {
                continue;
            }
            g.clear();
            joined = true;
        }
        if (!left) break;
        if (!joined) return nullptr;
    }
    return curveFrom(chain);
}

ProfileCurve* idx5CreateHubShroudCurve(const char* selection, double tol) {
    if (selection == nullptr) return nullptr;
    SurfList* list = newSurfList(10);
    if (list == nullptr) return nullptr;
    kvxSetKeepCollinear(1);
    ProfileCurve* c = nullptr;
    if (readSurfObjects(selection, list) == 1) {
        if (list->count == 1)
            c = surfaceMeridianCurve(list, tol);
        else if (list->count > 1)
            c = surfacesMeridianCurve(list);
    }
    freeSurfList(list);
    if (c != nullptr && c->z != nullptr && c->count > 0 && c->z[c->count - 1] > c->z[0]) profileReverse(c);
    return c;
}

HubShroud* makeHubShroudPair(const ProfileCurve* hub, const ProfileCurve* shroud) {
    return assemble(profile2DFromCurve(hub), profile2DFromCurve(shroud));
}

HubShroud* copyHubShroud(const HubShroud* pair) {
    if (pair == nullptr) return nullptr;
    HubShroud* p = assemble(copyProfile2D(pair->hub), copyProfile2D(pair->shroud));
    if (p != nullptr)
        std::memcpy(p->extra, pair->extra, sizeof(double) * static_cast<size_t>(pair->hub->count));
    return p;
}

void freeHubShroud(HubShroud* pair) {
    if (pair == nullptr) return;
    freeProfile2D(pair->hub);
    freeProfile2D(pair->shroud);
    std::free(pair->extra);
    std::free(pair);
}

int evalHubShroud(const HubShroud* pair, double s, Vec2* hub, Vec2* shroud) {
    if (pair == nullptr) return -1;
    const double lh = lengthOf(pair->hub);
    evalProfile2D(pair->hub, s, hub);
    evalProfile2D(pair->shroud, lh > 0.0 ? s * lengthOf(pair->shroud) / lh : 0.0, shroud);
    return 1;
}

int evalHubShroudExtra(const HubShroud* pair, double s, double* value) {
    if (pair == nullptr || pair->hub->count < 1) return -1;
    const Profile2D* h = pair->hub;
    const int32_t last = h->count - 1;
    if (last == 0 || s < h->param[0]) {
        *value = pair->extra[0];
        return 1;
    }
    if (s > h->param[last] + 1e-5) {
        *value = pair->extra[last];
        return 1;
    }
    int32_t i = 1;
    while (i < last && !(h->param[i] > s - 1e-5)) ++i;
    if (std::fabs(s - h->param[i - 1]) <= 1e-5) {
        *value = pair->extra[i - 1];
        return 1;
    }
    const double len = h->param[i] - h->param[i - 1];
    const double f = len > 0.0 ? (s - h->param[i - 1]) / len : 0.0;
    *value = pair->extra[i - 1] + f * (pair->extra[i] - pair->extra[i - 1]);
    return 1;
}

double channelHeight(const HubShroud* pair) {
    const Profile2D* h = pair->hub;
    const Profile2D* s = pair->shroud;
    auto d = [](const Profile2D* line, const Vec2& p) {
        return polylineDistance2D(line->points, line->count, &p, nullptr);
    };
    const double a = std::fmax(d(h, s->points[0]), d(h, s->points[s->count - 1]));
    const double b = std::fmax(d(s, h->points[0]), d(s, h->points[h->count - 1]));
    return std::fmin(a, b);
}

int offsetProfile2D(HubShroud* pair, double d) {
    if (pair == nullptr) return -1;
    Profile2D* n = profile2DOffset(pair->hub, d);
    double* extra = n != nullptr ? zeros(n->count) : nullptr;
    if (extra == nullptr) {
        freeProfile2D(n);
        return -1;
    }
    const double lOld = lengthOf(pair->hub), lNew = lengthOf(n);
    if (lOld > 0.0)
        for (int32_t i = 0; i < n->count; ++i) n->param[i] *= lNew / lOld;
    freeProfile2D(pair->hub);
    std::free(pair->extra);
    pair->hub = n;
    pair->extra = extra;
    return 1;
}

int offsetShroudProfile2D(HubShroud* pair, double d) {
    if (pair == nullptr) return -1;
    Profile2D* n = profile2DOffset(pair->shroud, d);
    double* extra = n != nullptr ? zeros(pair->hub->count) : nullptr;
    if (extra == nullptr) {
        freeProfile2D(n);
        return -1;
    }
    const double lHub = lengthOf(pair->hub), lNew = lengthOf(n);
    if (lHub > 0.0)
        for (int32_t i = 0; i < n->count; ++i) n->param[i] *= lNew / lHub;
    freeProfile2D(pair->shroud);
    std::free(pair->extra);
    pair->shroud = n;
    pair->extra = extra;
    return 1;
}

HubShroud* hubShroudOverHub(const HubShroud* pair, double h) {
    if (pair == nullptr) return nullptr;
    Profile2D* hub = copyProfile2D(pair->hub);
    return assemble(hub, hub != nullptr ? profile2DOffset(hub, h) : nullptr);
}

HubShroud* hubShroudFromPlist3D(const HubShroud* pair, const Plist3D* list) {
    if (pair == nullptr) return nullptr;
    return assemble(profile2DFromPlist3D(list), copyProfile2D(pair->shroud));
}

HubShroud* shroudBand(const HubShroud* pair, double d) {
    return shroudBandCut(pair, nullptr, d);
}

HubShroud* shroudBandCut(const HubShroud* pair, const Seg2D* exitSegment, double d) {
    if (pair == nullptr) return nullptr;
    Profile2D* shroud = copyProfile2D(pair->shroud);
    Profile2D* base = copyProfile2D(pair->shroud);
    if (shroud == nullptr || base == nullptr ||
        (exitSegment != nullptr && appendProfile2DPoint(base, 20.0) != 1)) {
        freeProfile2D(shroud);
        freeProfile2D(base);
        return nullptr;
    }
    Profile2D* lowered = profile2DOffset(base, d);
    freeProfile2D(base);
    double s = 0.0;
    int32_t flag = 0;
    Profile2D* hub = lowered != nullptr ? joinProfiles2D(pair->hub, lowered, &s, &flag) : nullptr;
    freeProfile2D(lowered);
    gJoinFlag = flag;
    if (hub != nullptr && exitSegment != nullptr) cutProfile2DAtCrossing(hub, exitSegment);
    return assemble(hub, shroud);
}

int32_t hubShroudJoinFlag() {
    return gJoinFlag;
}

void hubShroudResetState() {
    gJoinFlag = 0;
}
static const RunReset gRunReset(kRunResetCycles, "hubShroud", hubShroudResetState);
