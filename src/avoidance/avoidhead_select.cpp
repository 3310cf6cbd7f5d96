// Selective B pass of the head avoidance: only the colliding runs are sampled, every tenth point from
// the middle out; fit, re-check and repeat until the range is free or the passes stop converging.
#include "avoidance/avoidfit.h"
#include "avoidance/avoidhead.h"
#include "avoidance/avoidsearch.h"
#include "collision/collassembly.h"

namespace {

bool overlapB(const AvoidEntry& a, const AvoidEntry& b) {
    return !(a.bMin > b.bMax || a.bMax < b.bMin);
}

}  // namespace

int headAvoidRecheck(const Plist* list, AvoidTable* table) {
    int free = 1;
    for (int32_t i = 0; i < table->count && i < list->count; ++i) {
        if (coll_check_full(&list->points[i], &list->vectors[i], nullptr) == 1) continue;
        table->entries[i].state = 1;
        free = 0;
    }
    return free;
}

int avoidSearchPass(AvoidTable* table, Plist* list, int32_t runStart, int32_t runEnd, double above,
                    double below) {
    AvoidEntry* e = table->entries;
    const int32_t n = table->count;
    int32_t a = -1, b = -1;  // the last found entries before the first failed one, from either end
    for (int32_t k = runStart; k <= runEnd && e[k].flag != -1; ++k)
        if (e[k].flag == 1) a = k;
    for (int32_t k = runEnd; k >= runStart && e[k].flag != -1; --k)
        if (e[k].flag == 1) b = k;
    double bb = 0.0;
    if (a < 0) {
        a = runStart > 0 ? runStart - 1 : 0;
        if (runStart == 0 && avoidFindCAndB(&e[0], &list->points[0], above, below, &e[0].c, &bb) != 1)
            return 0;
    }
    if (b < 0) {
        b = runEnd + 1 < n ? runEnd + 1 : n - 1;
        if (runEnd == n - 1 && avoidFindCAndB(&e[b], &list->points[b], above, below, &e[b].c, &bb) != 1)
            return 0;
    }
    const double p0 = e[a].parameter, p1 = e[b].parameter;
    for (int32_t k = a + 1; k < b; ++k)
        e[k].c = e[a].c + (e[b].c - e[a].c) * (p1 != p0 ? (e[k].parameter - p0) / (p1 - p0) : 0.0);
    return 1;
}

int headAvoidSelectiveB(AvoidTable* table, Plist* list, const HeadAvoidParams* cyc) {
    AvoidEntry* e = table->entries;
    const int32_t n = table->count;
    e[n - 1].flag = avoidIntervalPass(&e[n - 1], &list->points[n - 1], e[n - 1].c) ? 1 : -1;
    bool failed = e[n - 1].flag == -1;
    int32_t prevRuns = n, prevPoints = n;
    for (int pass = 0;; ++pass) {
        int32_t points = 0;
        const int32_t runs = headAvoidCountHits(table, &points);
        if (runs > prevRuns || (pass > 5 && points > prevPoints) || pass > 20 || (pass > 0 && points > n / 6))
            return kHeadAvoidNoConverge;
        int32_t s = 0, end = -1;
        while (!failed && headAvoidNextHitRun(table, end + 1, &s, &end)) {
            bool runFailed = false;
            auto sample = [&](int32_t k) {
                e[k].flag = avoidIntervalPass(&e[k], &list->points[k], e[k].c) ? 1 : -1;
                runFailed = runFailed || e[k].flag == -1;
            };
            const int32_t m = (s + end) / 2;
            for (int32_t k = m; k >= s; k -= 10) sample(k);
            for (int32_t k = m + 10; k <= end; k += 10) sample(k);
            if (runFailed &&
                !(cyc->axisMode == 3 && avoidSearchPass(table, list, s, end, cyc->cPlus, cyc->cMinus)))
                failed = true;
        }
        if (failed) return kHeadAvoidNoSolution;
        for (int32_t i = 1; i < n; ++i)
            if (!overlapB(e[i - 1], e[i]) &&
                avoidGrowIntervalB(&e[i - 1], &e[i], &list->points[i], table->maxTilt) != 1)
                return kHeadAvoidNoSolution;
        const int f = avoidFitBandB(table, list);
        if (f < 0) return kHeadAvoidNoSolution;
        headAvoidClearStates(table);
        if (headAvoidRecheck(list, table)) return f;
        prevRuns = runs;
        prevPoints = points;
    }
}
