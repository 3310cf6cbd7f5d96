// Depth levels of the channel.
#include "plunge/levelcurves.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "plunge/cycparams.h"

namespace {

// More levels than this come only from a step far below any machining step; such a request fails
// instead of filling memory.
constexpr double kMaxLevels = 100000.0;

double lengthOf(const Profile2D* p) {
    return p != nullptr && p->count > 0 ? p->param[p->count - 1] : 0.0;
}

// Owns a pair for the length of a scope.
struct PairGuard {
    HubShroud* p = nullptr;
    ~PairGuard() { freeHubShroud(p); }
    void reset(HubShroud* q) {
        freeHubShroud(p);
        p = q;
    }
    HubShroud* release() { return std::exchange(p, nullptr); }
};

// Every level's top is cut to the span of its floor's ends and takes the floor's length.
bool fitLevel(HubShroud* level) {
    return fitProfile2DToSpan(level->hub, level->shroud) == 1;
}

// Points and parameters into list through a list of exactly that size.
int fillList(Plist3D* list, const Vec2* rz, const double* param, int32_t n) {
    Plist3D* tmp = newPlist3D(n);
    if (tmp == nullptr) return -1;
    for (int32_t i = 0; i < n; ++i) {
        tmp->points[i] = {rz[i].x, 0.0, rz[i].y};
        tmp->param[i] = param[i];
    }
    tmp->count = n;
    const int rc = assignPlist3D(list, tmp);
    freePlist3D(tmp);
    if (rc == 1) return 1;
    list->count = 0;
    return -1;
}

int32_t levelCount(double span, double v) {
    const double n = std::trunc((span - 1e-5) / v) + 1.0;
    if (!(n < kMaxLevels)) return -1;
    return n < 0.0 ? 0 : static_cast<int32_t>(n);
}

LevelCurves* fromHub(const HubShroud* pair, double v, double depth, double H, LevelCurves* set) {
    if (depth > 1e-5 && H > depth) H = depth;
    const int32_t n = levelCount(H, v);
    if (n < 0) return nullptr;
    PairGuard cur;
    cur.reset(copyHubShroud(pair));
    if (cur.p == nullptr) return nullptr;
    for (int32_t k = 0; k < n; ++k) {
        if (k > 0) {
            // The last step leaves a tenth above the floor rather than closing the level.
            const double d = H - v < 1e-5 ? H - 0.1 : v;
            if (std::fabs(d) < 1e-5 || H - d < 0.1) break;
            H -= d;
            if (offsetProfile2D(cur.p, d) != 1) return nullptr;
        }
        PairGuard level;
        level.reset(hubShroudOverHub(cur.p, H));
        if (level.p == nullptr || !fitLevel(level.p) || addLevelCurve(set, level.p, -1.0) != 1)
            return nullptr;
        cur.reset(level.release());
    }
    return set;
}

LevelCurves* fromShroud(const HubShroud* pair, double v, double depth, LevelCurves* set) {
    const Profile2D* s = pair->shroud;
    const Profile2D* h = pair->hub;
    if (s->count < 1 || h->count < 1) return nullptr;
    const Seg2D exit{s->points[s->count - 1].x, s->points[s->count - 1].y, h->points[h->count - 1].x,
                     h->points[h->count - 1].y};
    const int32_t n = levelCount(depth, v);
    if (n < 0) return nullptr;
    double a = 0.0;
    for (int32_t k = 0; k < n; ++k) {
        a += v;
        const bool last = a > depth - 1e-5;
        if (last) a = depth;
        PairGuard band, level;
        band.reset(shroudBandCut(pair, &exit, -a));
        if (band.p == nullptr) return nullptr;
        const bool missed = hubShroudJoinFlag() != 0;
        level.reset(hubShroudOverHub(band.p, a));
        if (level.p == nullptr || !fitLevel(level.p)) return nullptr;
        // Where the floor of the level above first crosses this floor.
        Profile2D* above = profile2DOffset(s, v - a);
        double param = -1.0;
        int32_t flag = 0;
        Profile2D* joined = above != nullptr ? joinProfiles2D(above, level.p->hub, &param, &flag) : nullptr;
        freeProfile2D(above);
        if (joined == nullptr) return nullptr;
        freeProfile2D(joined);
        if (addLevelCurve(set, level.p, param) != 1) return nullptr;
        if (last || missed) break;
    }
    reverseLevelCurves(set);
    return set;
}

LevelCurves* underBand(const HubShroud* pair, double v, double depth, LevelCurves* set) {
    PairGuard cur;
    cur.reset(shroudBand(pair, -depth));
    if (cur.p == nullptr) return nullptr;
    double H = channelHeight(cur.p);
    const int32_t n = levelCount(depth, v);
    if (n < 0) return nullptr;
    for (int32_t k = 0; k < n; ++k) {
        if (k > 0) {
            if (H - v < 1e-5 || std::fabs(v) < 1e-5) break;
            H -= v;
            if (offsetProfile2D(cur.p, v) != 1) return nullptr;
        }
        PairGuard level;
        level.reset(hubShroudOverHub(cur.p, H));
        if (level.p == nullptr || !fitLevel(level.p) || addLevelCurve(set, level.p, -1.0) != 1)
            return nullptr;
        cur.reset(level.release());
    }
    return set;
}

LevelCurves* interpolated(const HubShroud* pair, double v, LevelCurves* set) {
    const double a = cycleParams()->startFactor, b = cycleParams()->endFactor;
    const double H = channelHeight(pair);
    if (!(a > b)) return set;
    const double nd = std::trunc((a - b) * H / v) + 1.0;
    if (!(nd < kMaxLevels)) return nullptr;
    const int32_t n = static_cast<int32_t>(nd);
    const double f = (a - b) / n;
    Plist3D* scratch = newPlist3D(1000);
    if (scratch == nullptr) return nullptr;
    // n steps of f from b: the last level lies at a - f, none at a itself.
    for (int32_t k = 0; k < n; ++k) {
        PairGuard floor, level;
        if (levelCurveFromPair(pair, H, 2, b + k * f, scratch) == 1)
            floor.reset(hubShroudFromPlist3D(pair, scratch));
        if (floor.p != nullptr) level.reset(hubShroudOverHub(floor.p, H));
        if (level.p == nullptr || !fitLevel(level.p) || addLevelCurve(set, level.p, -1.0) != 1) {
            freePlist3D(scratch);
            return nullptr;
        }
    }
    freePlist3D(scratch);
    return set;
}

}  // namespace

LevelCurves* newLevelCurves(int32_t capacity) {
    if (capacity < 1) capacity = 1;
    auto* set = static_cast<LevelCurves*>(std::calloc(1, sizeof(LevelCurves)));
    if (set == nullptr) return nullptr;
    set->curves = static_cast<HubShroud**>(std::calloc(static_cast<size_t>(capacity), sizeof(HubShroud*)));
    set->params = static_cast<double*>(std::malloc(sizeof(double) * static_cast<size_t>(capacity)));
    if (set->curves == nullptr || set->params == nullptr) {
        freeLevelCurves(set);
        return nullptr;
    }
    for (int32_t i = 0; i < capacity; ++i) set->params[i] = -1.0;
    set->capacity = capacity;
    return set;
}

int addLevelCurve(LevelCurves* set, const HubShroud* pair, double param) {
    if (set == nullptr || pair == nullptr) return -1;
    if (set->count == set->capacity) {
        if (set->capacity > (1 << 29)) return -1;
        const int32_t cap = 2 * set->capacity;
        auto* curves = static_cast<HubShroud**>(
            std::realloc(set->curves, sizeof(HubShroud*) * static_cast<size_t>(cap)));
        if (curves == nullptr) return -1;
        set->curves = curves;
        auto* params =
            static_cast<double*>(std::realloc(set->params, sizeof(double) * static_cast<size_t>(cap)));
        if (params == nullptr) return -1;
        set->params = params;
        for (int32_t i = set->capacity; i < cap; ++i) set->curves[i] = nullptr, set->params[i] = -1.0;
        set->capacity = cap;
    }
    HubShroud* copy = copyHubShroud(pair);
    if (copy == nullptr) return -1;
    set->curves[set->count] = copy;
    set->params[set->count++] = param;
    return 1;
}

void reverseLevelCurves(LevelCurves* set) {
    if (set == nullptr) return;
    for (int32_t i = 0, j = set->count - 1; i < j; ++i, --j) {
        std::swap(set->curves[i], set->curves[j]);
        std::swap(set->params[i], set->params[j]);
    }
}

void freeLevelCurves(LevelCurves* set) {
    if (set == nullptr) return;
    for (int32_t i = 0; i < set->count; ++i) freeHubShroud(set->curves[i]);
    std::free(set->curves);
    std::free(set->params);
    std::free(set);
}

int levelCurveFromPair(const HubShroud* pair, double h, int32_t mode, double t, Plist3D* list) {
    if (pair == nullptr || list == nullptr || pair->hub == nullptr || pair->shroud == nullptr) return -1;
    list->count = 0;
    const Profile2D* hub = pair->hub;
    const double lHub = lengthOf(hub);
    if (mode == 0 || mode == 1) {
        Profile2D* p = mode == 0 ? profile2DOffset(hub, t * h) : profile2DOffset(pair->shroud, h - t * h);
        if (p == nullptr) return -1;
        const double scale = lHub > 0.0 ? lengthOf(p) / lHub : 1.0;
        for (int32_t i = 0; i < p->count; ++i) p->param[i] *= scale;
        const int rc = fillList(list, p->points, p->param, p->count);
        freeProfile2D(p);
        return rc;
    }
    if (mode != 2 || hub->count < 1) return -1;
    const double share = lHub > 0.0 ? lengthOf(pair->shroud) / lHub : 0.0;
    Vec2* pts = static_cast<Vec2*>(std::malloc(sizeof(Vec2) * static_cast<size_t>(hub->count)));
    if (pts == nullptr) return -1;
    for (int32_t i = 0; i < hub->count; ++i) {
        Vec2 s;
        if (evalProfile2D(pair->shroud, hub->param[i] * share, &s) < 0) {
            std::free(pts);
            return -1;
        }
        pts[i] = {(1.0 - t) * hub->points[i].x + t * s.x, (1.0 - t) * hub->points[i].y + t * s.y};
    }
    const int rc = fillList(list, pts, hub->param, hub->count);
    std::free(pts);
    return rc;
}

LevelCurves* buildLevelCurves(const HubShroud* pair, double v, int32_t strategy, double depth) {
    if (pair == nullptr || pair->hub == nullptr || pair->shroud == nullptr || pair->hub->count < 2 ||
        pair->shroud->count < 2 || !(v > 0.0))
        return nullptr;
    const double H = channelHeight(pair);
    if (std::fabs(H - v) < 1e-5) v += 1e-5;
    LevelCurves* set = newLevelCurves(100);
    if (set == nullptr) return nullptr;
    LevelCurves* done = set;
    switch (strategy) {
        case kLevelFromHub:
            done = fromHub(pair, v, depth, H, set);
            break;
        case kLevelFromShroud:
            done = fromShroud(pair, v, depth, set);
            break;
        case kLevelUnderBand:
            done = underBand(pair, v, depth, set);
            break;
        case kLevelInterpolated:
            done = interpolated(pair, v, set);
            break;
        default:
            break;
    }
    if (done == nullptr) freeLevelCurves(set);
    return done;
}
