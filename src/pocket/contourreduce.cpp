#include "pocket/contourreduce.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/linearcfit.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/ringhelpers.h"
#include "pocket/scratch.h"
#include "pocket/stepmemo.h"

namespace {

constexpr int32_t kShortContour = 65;  // fewer elements are left alone unless forced
constexpr int32_t kShortRun = 10;      // shorter line runs are copied

// Results of earlier reductions in this run: the planes of a level reduce the same rings again. A
// reduction is a function of its arguments, the elements, the kernel variables and the offset state; besides
// the elements it leaves only the fit's failure code behind, which is recorded with it. A call that reported
// an error is not recorded.
StepMemo& memo() {
    static StepMemo m;
    return m;
}

int32_t reduceOne(ContourElement* elements, int32_t count, double tolerance, int32_t capacity);

}  // namespace

namespace {

StepMemo& runMemo() {
    static StepMemo m;
    return m;
}

int32_t refitPoints(int32_t n, TaggedPoint* p, int32_t tag, ContourElement* out, double tolerance);

}  // namespace

// A run's fit depends on its points, its first line's tag and the tolerance alone; the planes of a level
// meet the same runs again, also where their rings start elsewhere. The fit's elements and the failure
// code it leaves are recorded under those.
int32_t refitLineRun(int32_t n, const ContourElement* lines, ContourElement* out, double tolerance) {
    if (n < 1) return -1;
    std::vector<double> points;
    try {
        points.resize(2 * static_cast<size_t>(n) + 2);
    } catch (const std::bad_alloc&) {
        return -1;  // without memory nothing is reduced, as for any run that does not fit
    }
    for (int32_t i = 0; i < n; ++i) {
        points[2 * i] = lines[i].g[kLx1];
        points[2 * i + 1] = lines[i].g[kLy1];
    }
    points[2 * n] = lines[n - 1].g[kLx2];
    points[2 * n + 1] = lines[n - 1].g[kLy2];
    const int32_t tag = lines[0].sourceTag;
    StepKey key;
    key.add(&n, sizeof n);
    key.add(&tag, sizeof tag);
    key.add(&tolerance, sizeof tolerance);
    key.add(points.data(), points.size() * sizeof(double));
    int32_t head[3];  // the elements written (or -1), whether the failure code was set, and that code
    if (const std::vector<unsigned char>* hit = stepMemoFind(runMemo(), key)) {
        StepMemoReader r{hit};
        r.take(head, sizeof head);
        if (head[0] > 0) r.take(out, static_cast<size_t>(head[0]) * sizeof(ContourElement));
        if (head[1]) fitSetLastFailure(head[2]);
        return head[0];
    }
    TaggedPoint* p = taggedPointsCreate(n + 1);
    if (!p) return -1;
    for (int32_t i = 0; i <= n; ++i) {
        p[i].x = points[2 * i];
        p[i].y = points[2 * i + 1];
    }
    const int64_t writes = fitFailureWrites();
    head[0] = refitPoints(n, p, tag, out, tolerance);
    head[1] = fitFailureWrites() != writes ? 1 : 0;
    head[2] = fitLastFailure();
    std::vector<unsigned char> recorded;
    try {
        stepResultAppend(&recorded, head, sizeof head);
        if (head[0] > 0)
            stepResultAppend(&recorded, out, static_cast<size_t>(head[0]) * sizeof(ContourElement));
    } catch (const std::bad_alloc&) {
        return head[0];
    }
    stepMemoAdd(&runMemo(), key, std::move(recorded));
    return head[0];
}

namespace {

// The fit of the run's points (freed here): the elements written to out, or -1.
int32_t refitPoints(int32_t n, TaggedPoint* p, int32_t tag, ContourElement* out, double tolerance) {
    if (!fitLinesArcs(p, n + 1, tolerance, 0.1, kPocketHugeRadius, kPocketHugeRadius)) {
        taggedPointsFree(p);
        return -1;
    }
    int32_t k = 0;
    Vec2 from{p[0].x, p[0].y};
    int32_t at = firstTaggedPoint(p, n + 1);
    while (at >= 0 && at < n) {
        int kind = kRunNone;
        Vec2 end{}, centre{};
        const int32_t next = nextTaggedRun(p, n + 1, at, &kind, &end, &centre);
        if (next < 0 || k >= n) break;
        ContourElement e{};
        e.sourceTag = tag;
        if (kind == kRunLine) {
            e.type = kElemLine;
            e.g[kLx1] = from.x;
            e.g[kLy1] = from.y;
            e.g[kLx2] = end.x;
            e.g[kLy2] = end.y;
        } else {
            e.type = kElemArc;
            e.g[kAcx] = centre.x;
            e.g[kAcy] = centre.y;
            e.g[kAsx] = from.x;
            e.g[kAsy] = from.y;
            e.g[kAex] = end.x;
            e.g[kAey] = end.y;
            e.g[kAr] = std::hypot(from.x - centre.x, from.y - centre.y);
            e.direction = kind == kRunArcCw ? -1 : 1;
        }
        out[k++] = e;
        from = end;
        at = next;
    }
    taggedPointsFree(p);
    return k;
}

}  // namespace

int32_t reduceLineRuns(const ContourElement* elements, int32_t count, double tolerance, ContourElement* out) {
    int32_t k = 0, i = 0;
    while (i < count) {
        if (elements[i].type != kElemLine) {
            out[k++] = elements[i++];
            continue;
        }
        int32_t j = i;
        while (j + 1 < count && elements[j + 1].type == kElemLine &&
               elements[j + 1].sourceTag == elements[i].sourceTag)
            ++j;
        const int32_t run = j - i + 1;
        int32_t made = -1;
        if (run >= kShortRun) made = refitLineRun(run, elements + i, out + k, tolerance);
        if (made < 0) {
            std::copy(elements + i, elements + j + 1, out + k);
            made = run;
        }
        k += made;
        i = j + 1;
    }
    return k;
}

int32_t contourReduceOne(ContourElement* elements, int32_t count, double tolerance, int force,
                         int32_t capacity) {
    if (!elements || count < 1) return count;
    if (pocketKernel().suppressReduction || (!force && count < kShortContour)) return count;
    const int32_t words[3] = {count, force, capacity};
    StepStateImage state;
    StepKey key;
    stepKeyHead(&key, &state, words, &tolerance);
    stepKeyElements(&key, elements, static_cast<size_t>(count));
    int32_t head[3];  // the result, whether the fit's failure code was set, and that code
    if (const std::vector<unsigned char>* hit = stepMemoFind(memo(), key)) {
        StepMemoReader r{hit};
        r.take(head, sizeof head);
        if (head[0] > 0) r.take(elements, static_cast<size_t>(head[0]) * sizeof(ContourElement));
        if (head[1]) fitSetLastFailure(head[2]);
        return head[0];
    }
    const int64_t errors = pocketErrorCalls(), writes = fitFailureWrites();
    const int32_t r = reduceOne(elements, count, tolerance, capacity);
    if (pocketErrorCalls() != errors) return r;
    head[0] = r;
    head[1] = fitFailureWrites() != writes ? 1 : 0;
    head[2] = fitLastFailure();
    std::vector<unsigned char> recorded;
    try {
        stepResultAppend(&recorded, head, sizeof head);
        if (r > 0) stepResultAppend(&recorded, elements, static_cast<size_t>(r) * sizeof(ContourElement));
    } catch (const std::bad_alloc&) {
        return r;
    }
    stepMemoAdd(&memo(), key, std::move(recorded));
    return r;
}

void contourReduceResetState() {
    stepMemoClear(&memo());
    stepMemoClear(&runMemo());
}
static const RunReset gRunReset(kRunResetCycles, "contourReduce", contourReduceResetState);

namespace {

int32_t reduceOne(ContourElement* elements, int32_t count, double tolerance, int32_t capacity) {
    ScratchVector<ContourElement> buf(5 * static_cast<size_t>(count));
    ScratchVector<PocketIsect> records(kIsectTableSize);
    if (!buf.ok() || !records.ok()) return 0;
    int32_t r = reduceLineRuns(elements, count, tolerance, buf.data());
    if (contourReduce(buf.data(), r, records.data(), 0) > 0) {
        r = reduceLineRuns(elements, count, 0.2 * tolerance, buf.data());
        if (contourReduce(buf.data(), r, records.data(), 0) > 0) return 0;
    }
    r = contourClean(buf.data(), r);
    r = arcsSplitQuarter(buf.data(), r);
    if (r <= 0 || r > capacity) return 0;
    std::copy(buf.begin(), buf.begin() + r, elements);
    return r;
}

}  // namespace

int contourReduceList(const char* name, double tolerance, int force) {
    const int32_t n = clistCount(name);
    if (n < 0 || clistIndex(name) < 0) return 0;
    std::vector<ContourElement> buf;
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(name, &h, i) < 0) continue;
        try {
            buf.resize(2 * static_cast<size_t>(h.elementCount) + 2);
        } catch (...) {
            continue;
        }
        if (clistGet(name, buf.data(), &h, i) < 0) continue;
        const int32_t count = static_cast<int32_t>(h.elementCount);
        const int32_t r =
            contourReduceOne(buf.data(), count, tolerance, force, static_cast<int32_t>(buf.size()));
        if (r <= 0 || r == count) continue;
        h.elementCount = static_cast<uint32_t>(r);
        clistReplace(name, buf.data(), &h, i);
    }
    return 1;
}
