#include "contour/chainindex.h"

#include <algorithm>
#include <cstdlib>

namespace {

const double kTol = 1e-5;

double lo(const Seg2D& e, int32_t axis) {
    return axis == 0 ? std::min(e.x1, e.x2) : std::min(e.y1, e.y2);
}
double hi(const Seg2D& e, int32_t axis) {
    return axis == 0 ? std::max(e.x1, e.x2) : std::max(e.y1, e.y2);
}

bool overlaps(double aLo, double aHi, const ChainExtent& ext) {
    return aLo <= ext.max + kTol && aHi >= ext.min - kTol;
}

void addRun(ChainIndex* ix, int32_t first, int32_t last, int32_t direction) {
    ChainRun& r = ix->chains[ix->chainCount++];
    r.used = 1;
    r.first = first;
    r.last = last;
    r.direction = direction;
}

void fillExtents(ChainIndex* ix, const Seg2D* e, int32_t mode) {
    double allLo = 0, allHi = 0;
    for (int32_t k = 0; k < ix->n; k++) {
        allLo = k == 0 ? lo(e[k], ix->axis) : std::min(allLo, lo(e[k], ix->axis));
        allHi = k == 0 ? hi(e[k], ix->axis) : std::max(allHi, hi(e[k], ix->axis));
    }
    for (int32_t c = 0; c < ix->chainCount; c++) {
        ChainRun& r = ix->chains[c];
        ChainExtent run{lo(e[r.first], ix->axis), hi(e[r.first], ix->axis)};
        for (int32_t k = r.first; k <= r.last; k++) {
            run.min = std::min(run.min, lo(e[k], ix->axis));
            run.max = std::max(run.max, hi(e[k], ix->axis));
            ix->forward[k] = run;
        }
        ChainExtent back{lo(e[r.last], ix->axis), hi(e[r.last], ix->axis)};
        for (int32_t k = r.last; k >= r.first; k--) {
            back.min = std::min(back.min, lo(e[k], ix->axis));
            back.max = std::max(back.max, hi(e[k], ix->axis));
            ix->backward[k] = back;
        }
        r.min = mode == 1 ? allLo : run.min;
        r.max = mode == 1 ? allHi : run.max;
    }
}

}  // namespace

ChainIndex* chainIndexCreate(const Seg2D* elements, int32_t n, int32_t mode, int32_t axis) {
    if ((mode != 1 && mode != 2) || !elements || n < 1) return nullptr;
    ChainIndex* ix = static_cast<ChainIndex*>(std::calloc(1, sizeof(ChainIndex)));
    if (!ix) return nullptr;
    ix->n = n;
    ix->axis = axis;
    ix->forward = static_cast<ChainExtent*>(std::malloc(sizeof(ChainExtent) * static_cast<size_t>(n)));
    ix->backward = static_cast<ChainExtent*>(std::malloc(sizeof(ChainExtent) * static_cast<size_t>(n)));
    if (!ix->forward || !ix->backward) {
        chainIndexFree(ix);
        return nullptr;
    }
    auto c1 = [axis](const Seg2D& e) { return axis == 0 ? e.x1 : e.y1; };
    auto c2 = [axis](const Seg2D& e) { return axis == 0 ? e.x2 : e.y2; };
    if (mode == 2) {
        int32_t first = 0, direction = 0;
        bool rising = c1(elements[0]) < c2(elements[0]);
        for (int32_t k = 1; k <= n; k++) {
            bool r = k < n && c1(elements[k]) < c2(elements[k]);
            if (k < n && r == rising) continue;
            direction = direction == 0 ? (rising ? 1 : -1) : -direction;
            if (ix->chainCount == kChainIndexMaxChains) {
                chainIndexFree(ix);
                return nullptr;
            }
            addRun(ix, first, k - 1, direction);
            first = k;
            rising = r;
        }
    } else {
        int32_t split = 0;
        double top = std::max(c1(elements[0]), c2(elements[0]));
        for (int32_t k = 1; k < n; k++) {
            double v = std::max(c1(elements[k]), c2(elements[k]));
            if (v > top) {
                top = v;
                split = k;
            }
        }
        while (split + 1 < n && std::abs(c2(elements[split + 1]) - top) < kTol) split++;
        const Seg2D& last = elements[n - 1];
        bool single = split == n - 1 || std::abs(last.x1 - top) < kTol || std::abs(last.x2 - top) < kTol ||
                      std::abs(last.y1 - top) < kTol || std::abs(last.y2 - top) < kTol;
        if (single) {
            addRun(ix, 0, n - 1, 1);
        } else {
            addRun(ix, 0, split, 1);
            addRun(ix, split + 1, n - 1, -1);
        }
    }
    fillExtents(ix, elements, mode);
    return ix;
}

int32_t chainIndexFindCrossing(const Seg2D* element, const ChainIndex* index, int32_t from) {
    if (!index) return from;
    if (from < 0 || from >= index->n) return -1;
    int32_t c = 0;
    while (c < index->chainCount && index->chains[c].last < from) c++;
    if (c >= index->chainCount) return -1;
    const double eLo = lo(*element, index->axis), eHi = hi(*element, index->axis);
    if (overlaps(eLo, eHi, index->backward[from])) return from;
    for (c++; c < index->chainCount; c++) {
        const ChainRun& r = index->chains[c];
        if (!overlaps(eLo, eHi, ChainExtent{r.min, r.max})) continue;
        // Forward extents only grow along a run, so the first element that reaches the range
        // splits the run into a part that misses and a part that may meet.
        if (!overlaps(eLo, eHi, index->forward[r.last])) continue;
        int32_t a = r.first, b = r.last;
        while (a < b) {
            int32_t m = a + (b - a) / 2;
            if (overlaps(eLo, eHi, index->forward[m]))
                b = m;
            else
                a = m + 1;
        }
        return a;
    }
    return -1;
}

void chainIndexFree(ChainIndex* index) {
    if (!index) return;
    std::free(index->forward);
    std::free(index->backward);
    std::free(index);
}
