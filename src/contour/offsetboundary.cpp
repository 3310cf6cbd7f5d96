#include "contour/offsetboundary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <vector>

#include "KVWOG5/wogerr.h"
#include "contour/looplist.h"
#include "contour/offsetcontour.h"
#include "contour/polyoffset.h"
#include "kernel/base/runreset.h"

namespace {

int32_t gCalls = 1;

typedef std::vector<Seg2D> Work;

bool closedBnd(const Seg2D* e, int32_t n) {
    return std::fabs(e[0].x1 - e[n - 1].x2) < 0.001 && std::fabs(e[0].y1 - e[n - 1].y2) < 0.001;
}

double gap(const Seg2D* e, int32_t n) {
    return std::hypot(e[0].x1 - e[n - 1].x2, e[0].y1 - e[n - 1].y2);
}

double loopLength(const Vec2* p, int32_t n) {
    double s = 0;
    for (int32_t k = 1; k < n; k++) s += std::hypot(p[k].x - p[k - 1].x, p[k].y - p[k - 1].y);
    return s;
}

// Room for any one result of the attempts on n elements: the element-chain offset needs 2n + 1,
// the polygon offset up to 3n + 9.
size_t attemptRoom(int32_t n) {
    return static_cast<size_t>(std::max(4 * n, 3 * n + 10));
}

// One attempt on work in place: the new count, or -1.
int offsetBoundaryOnce(int side, double step, Work& work) {
    const int32_t count = static_cast<int32_t>(work.size());
    if (count < 2) return -1;
    Work res;
    try {
        res.resize(attemptRoom(count));
    } catch (const std::bad_alloc&) {
        return -1;
    }
    const int orient = polyOrient2D(work.data(), count);
    const bool closed = closedBnd(work.data(), count);
    int r;
    if (closed && orient == side)
        r = offsetPolygonLoops(count, work.data(), step, res.data(), side, static_cast<int32_t>(res.size()));
    else
        r = offsetContour2D(work.data(), count, step, res.data(), side, 0.0);
    if (r <= 0) {
        if (r == -2 || closed) return -1;
        // An open boundary whose first short elements spoil the offset gets one more try without them.
        int32_t skip = 0;
        double run = 0;
        while (skip < count) {
            run += std::hypot(work[skip].x2 - work[skip].x1, work[skip].y2 - work[skip].y1);
            if (run >= 0.3 * step) break;
            skip++;
        }
        if (skip == 0 || skip >= count) return -1;
        r = offsetContour2D(work.data() + skip, count - skip, step, res.data(), side, 0.0);
        if (r <= 0) return -1;
    }
    res.resize(static_cast<size_t>(r));
    work.swap(res);
    return r;
}

// Offsets work in place by step, splitting into halves on failure down to minStep.
int offsetBoundaryTry(Work& work, int side, double step, double minStep) {
    int r = offsetBoundaryOnce(side, step, work);
    if (r > 0) return r;
    const double half = step / 2;
    if (minStep - 1e-5 > half) return -1;
    if (offsetBoundaryTry(work, side, half, minStep) <= 0) return -1;
    r = offsetBoundaryTry(work, side, step - half, minStep);
    return r > 0 ? r : -1;
}

}  // namespace

int writeBndFile(const char* name, const Seg2D* e, int32_t n, double d, int side) {
    if (!name) return 0;
    FILE* f = std::fopen(name, "w");
    if (!f) return 0;
    std::fprintf(f, "**BND %d %.6lf\n", side, d);
    if (e && n > 0) {
        std::fprintf(f, "X%.6lf Y%.6lf Z0\n", e[0].x1, e[0].y1);
        for (int32_t k = 0; k < n; k++) std::fprintf(f, "X%.6lf Y%.6lf Z0\n", e[k].x2, e[k].y2);
    }
    std::fprintf(f, "**END\n");
    std::fclose(f);
    return 1;
}

int offsetPolygonLoops(int32_t n, const Seg2D* e, double d, Seg2D* out, int side, int32_t outCapacity) {
    if (!e || !out || n < 1) return -1;
    std::vector<Vec2> pts, res;
    try {
        pts.resize(static_cast<size_t>(n) + 1);
        res.resize(static_cast<size_t>(3) * static_cast<size_t>(n) + 10);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    for (int32_t k = 0; k < n; k++) pts[k] = Vec2{e[k].x1, e[k].y1};
    pts[n] = Vec2{e[n - 1].x2, e[n - 1].y2};
    LoopList* loops = looplist_create();
    if (!loops) return -1;
    int r = poly_offset2D(pts.data(), n + 1, res.data(), static_cast<int32_t>(res.size()), d, side, loops);
    if (r > 0 && loops->first) {
        const double l1 = loopLength(res.data(), r);
        double l2 = 0;
        std::vector<Vec2> buf;
        while (loops->first) {
            int32_t m = loops->first->count;
            try {
                buf.resize(static_cast<size_t>(m));
            } catch (const std::bad_alloc&) {
                r = -2;
                break;
            }
            if (looplist_pop(loops, buf.data(), m, &m) != 1) break;
            l2 += loopLength(buf.data(), m);
        }
        if (r > 0 && 0.4 * l1 < l2) r = -2;
    }
    looplist_free(loops);
    if (r <= 0) return r;
    if (r - 1 > outCapacity) return -1;
    for (int k = 0; k + 1 < r; k++) out[k] = Seg2D{res[k].x, res[k].y, res[k + 1].x, res[k + 1].y};
    return r - 1;
}

int offsetBoundary(const Seg2D* e, int32_t n, double d, Seg2D* out, int side, int32_t outCapacity) {
    const int32_t call = gCalls++;
    if (!e || !out || n < 2) return -1;
    const bool inClosed = d > gap(e, n);
    // The inspection dump is a debugging aid only.
    if (call == 29 && wogDebugEnabled()) writeBndFile("problem.bnd", e, n, d, side);
    Work work;
    try {
        work.assign(e, e + n);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    int r = offsetBoundaryTry(work, side, d, d * 0.03125);
    if (r < 1) return -1;
    const bool outClosed = inClosed && d > gap(work.data(), r);
    if (d > 0.01 && (outClosed != inClosed || n > 3.5 * r)) {
        const double dd = d - 0.01;
        try {
            work.assign(e, e + n);
        } catch (const std::bad_alloc&) {
            return -1;
        }
        r = offsetBoundaryTry(work, side, dd, dd * 0.03125);
        if (r < 1) return -1;
    }
    if (r > outCapacity) return -1;
    std::copy(work.begin(), work.begin() + r, out);
    return r;
}

void offsetBoundaryResetState() {
    gCalls = 1;
}
static const LoadReset gLoadReset(kRunResetContour, "offsetBoundary", offsetBoundaryResetState);
