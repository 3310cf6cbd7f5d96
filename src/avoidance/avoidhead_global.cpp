// Global B pass of the head avoidance: every point's free B interval, one fitted B profile, with the C
// fallback of axis mode 3 where B alone fails.
#include <cmath>

#include "avoidance/avoidfit.h"
#include "avoidance/avoidhead.h"
#include "avoidance/avoidsearch.h"
#include "collision/collassembly.h"
#include "kernel/base/constants.h"

namespace {

bool overlapB(const AvoidEntry& a, const AvoidEntry& b) {
    return !(a.bMin > b.bMax || a.bMax < b.bMin);
}

bool axisFreeAt(const Vec3* p, double c, double b) {
    Vec3 a;
    dirFromAngles(&a, c, b);
    return coll_check_full(p, &a, nullptr) == 1;
}

// Each entry's interval pass, regrown inside the predecessor's interval where the two miss.
int computeBEntries(AvoidTable* t, const Plist* l) {
    int result = 1;
    for (int32_t i = 0; i < t->count; ++i) {
        AvoidEntry& e = t->entries[i];
        bool ok = avoidIntervalPass(&e, &l->points[i], e.c);
        if (ok && i > 0 && t->entries[i - 1].flag != -1 && !overlapB(t->entries[i - 1], e))
            ok = avoidGrowIntervalB(&t->entries[i - 1], &e, &l->points[i], t->maxTilt) == 1;
        e.flag = ok && std::fabs(e.bMax) >= 1e-5 ? 1 : -1;
        if (e.flag == -1) result = 0;
    }
    return result;
}

// The C angle at a window end: kept when the window reaches past the run, else turned free.
bool windowEndC(AvoidEntry* e, const Vec3* p, bool keep, double above, double below, bool retry) {
    if (keep) return true;
    double c = e->c, b = e->b;
    if (avoidFindCAndB(e, p, above, below, &c, &b) != 1 &&
        !(retry && avoidFindCAndB(e, p, kHalfPi, kHalfPi, &c, &b) == 1))
        return false;
    e->c = c;
    e->b = b;
    return true;
}

// C fallback for B: C interpolated over each widened failed run; where that fails, every C turned and
// widened, the C profile fitted and the B searches run again. 1, 0 or a negative fit code.
int cFallbackForB(AvoidTable* t, Plist* l, double above, double below) {
    widenFailedRuns(t);
    AvoidEntry* e = t->entries;
    const int32_t n = t->count;
    bool left = false;
    for (int32_t s = 0; s < n && !left; ++s) {
        if (e[s].flag != -1) continue;
        int32_t r = s;
        while (r + 1 < n && e[r + 1].flag == -1) ++r;
        const int32_t w0 = s - 10 < 0 ? 0 : s - 10, w1 = r + 10 >= n ? n - 1 : r + 10;
        if (!windowEndC(&e[w0], &l->points[w0], w0 < s, above, below, false) ||
            !windowEndC(&e[w1], &l->points[w1], w1 > r, above, below, true)) {
            left = true;
            break;
        }
        const double p0 = e[w0].parameter, p1 = e[w1].parameter, c0 = e[w0].c, c1 = e[w1].c;
        for (int32_t k = w0; k <= w1 && !left; ++k) {
            e[k].c = c0 + (c1 - c0) * (p1 != p0 ? (e[k].parameter - p0) / (p1 - p0) : 0.0);
            e[k].flag = avoidIntervalPass(&e[k], &l->points[k], e[k].c) ? 1 : -1;
            left = e[k].flag == -1;
        }
        s = w1;
    }
    if (!left) return 1;
    for (int32_t k = 0; k < n; ++k) {
        double c = e[k].c, b = e[k].b;
        if (avoidFindCAndB(&e[k], &l->points[k], above, below, &c, &b) == 1) e[k].c = c, e[k].b = b;
        avoidWidenC(&e[k], &l->points[k], above, below);
    }
    const int f = avoidFitBandC(t, l);
    if (f < 0) return f;
    return computeBEntries(t, l);
}

}  // namespace

// Failed runs grow: 9 entries before the first, gaps under 20 entries, a tail under 10 entries.
void widenFailedRuns(AvoidTable* t) {
    AvoidEntry* e = t->entries;
    const int32_t n = t->count;
    int32_t first = -1, lastEnd = -1;
    for (int32_t i = 0; i < n; ++i) {
        if (e[i].flag != -1) continue;
        if (first < 0) first = i;
        if (lastEnd >= 0 && i > lastEnd + 1 && i - lastEnd < 20)
            for (int32_t k = lastEnd + 1; k < i; ++k) e[k].flag = -1;
        lastEnd = i;
    }
    if (first < 0) return;
    for (int32_t k = first - 9 < 0 ? 0 : first - 9; k < first; ++k) e[k].flag = -1;
    if (lastEnd > 0 && n - lastEnd < 10)
        for (int32_t k = lastEnd + 1; k < n; ++k) e[k].flag = -1;
}

int avoidComputeB(AvoidTable* table, Plist* list, double above, double below, int fallback) {
    const int r = computeBEntries(table, list);
    avoidCheckIntervalChain(table);
    if (r == 0 && fallback && table->entries[0].flag != -1) {
        const int f = cFallbackForB(table, list, above, below);
        return f == 1 ? 2 : f;
    }
    return r;
}

int headAvoidGlobalB(const HeadAvoidParams* cyc, Plist* list, AvoidTable* table) {
    const int r = avoidComputeB(table, list, cyc->cPlus, cyc->cMinus, cyc->axisMode == 3);
    if (r == 0) return kHeadAvoidNoSolution;
    if (r < 0) return r;
    const int f = avoidFitBandB(table, list);
    if (r == 2) {  // C moved: a large B jump between neighbours gets a test in between
        for (int32_t i = 1; i < table->count; ++i) {
            const AvoidEntry& a = table->entries[i - 1];
            AvoidEntry& b = table->entries[i];
            if (std::fabs(b.b - a.b) < 0.345) continue;
            const Vec3& p = list->points[i - 1];
            const Vec3& q = list->points[i];
            const Vec3 m = {0.5 * (p.x + q.x), 0.5 * (p.y + q.y), 0.5 * (p.z + q.z)};
            if (!axisFreeAt(&m, 0.5 * (a.c + b.c), 0.5 * (a.b + b.b))) {
                b.flag = -1;
                return kHeadAvoidNoSolution;
            }
        }
    }
    if (f >= 0) headAvoidClearStates(table);
    return f;
}
