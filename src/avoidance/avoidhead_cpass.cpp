// C passes of the head avoidance: every point's free C band at its B, one fitted C profile whose fast
// turns are subdivided, with the B fallback of axis mode 4 where C alone fails; and the selective C
// pass over the colliding runs.
#include <cmath>
#include <vector>

#include "avoidance/avoidfit.h"
#include "avoidance/avoidhead.h"
#include "avoidance/avoidsearch.h"
#include "avoidance/avoidtilt.h"
#include "collision/collassembly.h"
#include "geometry/blend.h"
#include "kernel/base/constants.h"
#include "kernel/base/msg.h"

namespace {

constexpr double kTurnStep = 0.035;  // largest axis change between neighbours after the C fit
constexpr double kBStep = 0.05;

Vec3 axisOf(double c, double b) {
    Vec3 a;
    dirFromAngles(&a, c, b);
    return a;
}

// One entry's C band at its B, with the windows widened twice: 1, or 0 with flag -1.
int cIntervalRetries(AvoidEntry* e, const Vec3* p, double above, double below, double second) {
    if (avoidCInterval(e, p, above, below)) return 1;
    if (avoidCInterval(e, p, second * above, second * below)) return 1;
    return avoidCInterval(e, p, kPi / 2, kPi / 2);
}

// The B change profile of a window: up from its start to the run, 1 over the run, down to its end.
struct Profile {
    double w0, r0, r1, w1;
    double at(double t) const {
        if (t < r0) return blendC3(t, w0, r0, 0.0, 1.0);
        if (t > r1) return blendC3(t, r1, w1, 1.0, 0.0);
        return 1.0;
    }
};

// Side of the amplitude search from the hit point: 1 up, -1 down, 0 none.
int hitSide(const Vec3* p, const Vec3* a, const Vec3* hit) {
    const Vec3 d = {hit->x - p->x, hit->y - p->y, hit->z - p->z};
    const double l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    if (l < 1e-5) return 0;
    const Vec3 u = {d.x / l, d.y / l, d.z / l}, z = {0, 0, 1};
    Vec3 za, ua;
    crossUnit3D(&z, a, &za);
    crossUnit3D(&u, a, &ua);
    return za.x * ua.x + za.y * ua.y + za.z * ua.z >= 0.0 ? 1 : -1;
}

// B fallback for C over the run s..r: 1 with the window's B and C written, 0 when it fails.
int bFallbackRun(AvoidTable* t, Plist* l, int32_t s, int32_t r, double above, double below) {
    AvoidEntry* e = t->entries;
    const int32_t n = t->count, w0 = s - 10 < 0 ? 0 : s - 10, w1 = r + 10 >= n ? n - 1 : r + 10;
    auto offsetAt = [&](int32_t k) {
        if (k < 0 || k >= n || avoidCInBand(&e[k], e[k].c)) return 0.0;
        double o = 0.5 * (e[k].cLow + e[k].cHigh) - e[k].c;
        return o > kPi ? o - kTwoPi : o;
    };
    const double o0 = offsetAt(s - 10), o1 = offsetAt(r + 10), p0 = e[w0].parameter, p1 = e[w1].parameter;
    double roomDown = 0.0, roomUp = 0.0;
    for (int32_t k = w0; k <= w1; ++k) {
        const double f = p1 != p0 ? (e[k].parameter - p0) / (p1 - p0) : 0.0;
        e[k].c += o0 + (o1 - o0) * f;
        if ((e[k].cLow != 0.0 || e[k].cHigh != 0.0) && !avoidCInBand(&e[k], e[k].c))
            e[k].c = 0.5 * (e[k].cLow + e[k].cHigh);
        roomDown = std::fmax(roomDown, e[k].b - e[k].bMin);
        roomUp = std::fmax(roomUp, e[k].bMax - e[k].b);
    }
    const Profile prof{p0, e[s].parameter, e[r].parameter, p1};
    std::vector<double> b0(n);
    for (int32_t k = w0; k <= w1; ++k) b0[k] = e[k].b;
    int32_t mid = (s + r) / 2;
    double d = 0.0;
    int dir = 0;
    // The amplitude search at the middle entry: from d in direction dir, a free C within its band.
    auto search = [&](int32_t m, double from, int way) {
        const double room = way > 0 ? roomUp : roomDown;
        for (double dd = from + way * kBStep; std::fabs(dd) < room; dd += way * kBStep) {
            double c = 0.0;
            const double bb = b0[m] + dd * prof.at(e[m].parameter);
            if (avoidFindFreeC(&l->points[m], e[m].cLow, e[m].cHigh, bb, &c) == 1) {
                d = dd;
                e[m].c = c;
                e[m].b = bb;
                return true;
            }
        }
        return false;
    };
    Vec3 hit = l->points[mid];
    const Vec3 a = axisOf(e[mid].c, e[mid].b);
    if (coll_check_where(&l->points[mid], &a, &hit) < 1) {
        dir = hitSide(&l->points[mid], &a, &hit);
        const int first = dir != 0 ? dir : 1;  // no side: up first, then down
        if (search(mid, 0.0, first))
            dir = first;
        else if (search(mid, 0.0, -first))
            dir = -first;
        else
            return 0;
    }
    for (;;) {
        avoidWidenC(&e[mid], &l->points[mid], above, below);
        int32_t failed = -1;
        for (int32_t k = w0; k <= w1 && failed < 0; ++k) {
            if (k == mid) continue;
            e[k].b = std::fmin(e[k].bMax, std::fmax(e[k].bMin, b0[k] + d * prof.at(e[k].parameter)));
            if (!avoidCInterval(&e[k], &l->points[k], above, below)) failed = k;
        }
        if (failed < 0) break;
        mid = failed;
        if (dir == 0 || !search(mid, d, dir)) return 0;
    }
    for (int32_t k = w0; k <= w1; ++k) {
        e[k].b = std::fmin(e[k].bMax, std::fmax(e[k].bMin, e[k].b));
        e[k].flag = 0;
    }
    return 1;
}

// Failed runs (flag -1) widened as in the B pass's fallback, then each given the B fallback.
int bFallbackForC(AvoidTable* t, Plist* l, double above, double below) {
    widenFailedRuns(t);
    AvoidEntry* e = t->entries;
    const int32_t n = t->count;
    for (int32_t s = 0; s < n; ++s) {
        if (e[s].flag != -1) continue;
        int32_t r = s;
        while (r + 1 < n && e[r + 1].flag == -1) ++r;
        if (!bFallbackRun(t, l, s, r, above, below)) return 0;
        s = r;
    }
    return 1;
}

}  // namespace

int avoidComputeC(AvoidTable* table, Plist* list, double above, double below, int fallback) {
    int result = 1;
    for (int32_t i = 0; i < table->count && result; ++i) {
        AvoidEntry& e = table->entries[i];
        if (cIntervalRetries(&e, &list->points[i], above, below, 2.0)) {
            e.flag = 1;
        } else {
            e.flag = -1;
            result = 0;
        }
    }
    const int chain = avoidCheckCBandChain(table);
    if (chain < 0) return chain;
    if (chain == 0) result = 0;
    if (result == 0 && fallback) return bFallbackForC(table, list, above, below) == 1 ? 2 : 0;
    return result;
}

int avoidSearchAngles(AvoidTable* table, Plist* list, double step) {
    const int r = avoidFitBandC(table, list);
    if (r < 0) return r;
    const double cosStep = std::cos(step);
    for (int32_t i = 1; i < list->count && i < table->count; ++i) {
        if ((list->flags[i] >> 8) != 0 || (list->flags[i - 1] >> 8) != 0) continue;
        const Vec3 &u = list->vectors[i - 1], &v = list->vectors[i];
        const double dot = u.x * v.x + u.y * v.y + u.z * v.z;
        if (dot > cosStep) continue;
        const int32_t k = static_cast<int32_t>(acosClamped(dot) / step) + 1;
        const AvoidEntry a = table->entries[i - 1], b = table->entries[i];
        const double cb = b.c + kTwoPi * std::round((a.c - b.c) / kTwoPi);
        int32_t at = i;
        for (int32_t j = 1; j < k; ++j) {
            const double f = static_cast<double>(j) / k, t = (1 - f) * a.parameter + f * b.parameter;
            const int split = plistSplitAtParam(list, t, 1e-5);
            if (split < 0) return -1;
            if (split == 0) continue;
            at = plistSplitIndex();
            Vec3 axis = axisOf((1 - f) * a.c + f * cb, (1 - f) * a.b + f * b.b);
            // The table takes the point even when no tilt frees it: a retry pairs entries with points
            // by index.
            const int tried = avoidTryTilt(&list->points[at], &axis, 1, 0);
            list->vectors[at] = axis;
            if (avoidTableInsert(table, t, &axis) < 0 || tried < 0) return -1;
        }
        i = at;  // on after the inserted points
    }
    return r;
}

int headAvoidGlobalC(const HeadAvoidParams* cyc, Plist* list, AvoidTable* table) {
    const double above = cyc->cPlus, below = cyc->cMinus;
    int r = avoidComputeC(table, list, above, below, cyc->axisMode == 4);
    if (r < 0) return kHeadAvoidNoSolution;
    if (r == 2) msgDouble(9, 7104, "* B axis changed", 0.0);
    int s = r != 0 ? avoidSearchAngles(table, list, kTurnStep) : kHeadAvoidNoSolution;
    if (r == 0 || s == kHeadAvoidNoSolution) {
        for (int32_t i = 0; i < table->count; ++i) {
            AvoidEntry& e = table->entries[i];
            const double w = e.cHigh - e.cLow;
            if (w > 0.0) e.cLow += 0.05 * w, e.cHigh -= 0.05 * w;
        }
        s = avoidSearchAngles(table, list, kTurnStep);
    }
    if (s < 0 && cyc->axisMode == 4) {
        if (avoidComputeC(table, list, kPi / 2, kPi / 2, 1) == 0) return kHeadAvoidNoSolution;
        s = avoidSearchAngles(table, list, kTurnStep);
        if (s == 0) return kHeadAvoidNoSolution;
    }
    if (s < 0) return s;
    headAvoidClearStates(table);
    for (int32_t i = 0; i < table->count && i < list->count; ++i) {
        if (coll_check_full(&list->points[i], &list->vectors[i], nullptr) == 1) continue;
        table->entries[i].state = 1;
        return kHeadAvoidNoSolution;
    }
    return s;
}

int headAvoidSelectiveC(AvoidTable* table, Plist* list, const HeadAvoidParams* cyc) {
    const double above = cyc->cPlus, below = cyc->cMinus;
    int32_t prevRuns = table->count, prevPoints = table->count;
    for (int pass = 0;; ++pass) {
        const int32_t n = table->count;
        AvoidEntry* e = table->entries;
        int32_t points = 0;
        const int32_t runs = headAvoidCountHits(table, &points);
        if (runs > prevRuns || (pass > 5 && points > prevPoints) || pass > 20 || (pass > 0 && points > n / 6))
            return kHeadAvoidNoConverge;
        bool failed = false, bChanged = false;
        int32_t s = 0, end = -1;
        while (!failed && headAvoidNextHitRun(table, end + 1, &s, &end)) {
            bool runFailed = false;
            const int32_t m = (s + end) / 2;
            for (int32_t k = m; k >= s; k -= 10)
                if (!cIntervalRetries(&e[k], &list->points[k], above, below, 2.0)) runFailed = true;
            for (int32_t k = m + 10; k <= end; k += 10)
                if (!cIntervalRetries(&e[k], &list->points[k], above, below, 1.5)) runFailed = true;
            if (!runFailed) continue;
            if (cyc->axisMode == 4 && bFallbackRun(table, list, s, end, above, below))
                bChanged = true;
            else
                failed = true;
        }
        if (failed) return kHeadAvoidNoSolution;
        const int r = avoidSearchAngles(table, list, kTurnStep);
        if (r >= 0) {
            headAvoidClearStates(table);
            if (headAvoidRecheck(list, table)) {
                if (bChanged) msgDouble(9, 7104, "* B axis changed", 0.0);
                return r;
            }
        }
        prevRuns = runs;
        prevPoints = points;
    }
}
