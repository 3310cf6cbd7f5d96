#include "pocket/contourreduce.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/linearcfit.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/ringhelpers.h"

namespace {

constexpr int32_t kShortContour = 65;  // fewer elements are left alone unless forced
constexpr int32_t kShortRun = 10;      // shorter line runs are copied

// Results of earlier reductions in this run: the planes of a level reduce the same rings again. A
// reduction is a function of its arguments, the elements, the kernel variables and the offset state (see
// pocketStateKey); besides the elements it leaves only the fit's failure code behind, which is recorded
// with it. A call that reported an error is not recorded.
struct ReduceMemo {
    struct Entry {
        std::vector<unsigned char> key;
        std::vector<ContourElement> out;
        int32_t result = 0;
        bool failureSet = false;
        int failure = 0;
    };
    std::vector<Entry> entries;
    size_t bytes = 0;
};
constexpr size_t kMemoBytes = 16u << 20;

ReduceMemo& memo() {
    static ReduceMemo m;
    return m;
}

int32_t reduceOne(ContourElement* elements, int32_t count, double tolerance, int32_t capacity);

}  // namespace

int32_t refitLineRun(int32_t n, const ContourElement* lines, ContourElement* out, double tolerance) {
    if (n < 1) return -1;
    TaggedPoint* p = taggedPointsCreate(n + 1);
    if (!p) return -1;
    for (int32_t i = 0; i < n; ++i) {
        p[i].x = lines[i].g[kLx1];
        p[i].y = lines[i].g[kLy1];
    }
    p[n].x = lines[n - 1].g[kLx2];
    p[n].y = lines[n - 1].g[kLy2];
    if (!fitLinesArcs(p, n + 1, tolerance, 0.1, kPocketHugeRadius, kPocketHugeRadius)) {
        taggedPointsFree(p);
        return -1;
    }
    int32_t k = 0;
    Vec2 from{p[0].x, p[0].y};
    int32_t at = firstTaggedPoint(p, n + 1);
    const int32_t tag = lines[0].sourceTag;
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
    ReduceMemo& m = memo();
    std::vector<unsigned char> key;
    const int32_t words[3] = {count, force, capacity};
    pocketKeyAppend(&key, words, sizeof words);
    pocketKeyAppend(&key, &tolerance, sizeof tolerance);
    pocketStateKey(&key);
    pocketKeyAppend(&key, elements, static_cast<size_t>(count) * sizeof(ContourElement));
    for (const ReduceMemo::Entry& e : m.entries) {
        if (e.key != key) continue;
        std::copy(e.out.begin(), e.out.end(), elements);
        if (e.failureSet) fitSetLastFailure(e.failure);
        return e.result;
    }
    const int64_t errors = pocketErrorCalls(), writes = fitFailureWrites();
    const int32_t r = reduceOne(elements, count, tolerance, capacity);
    const size_t size = key.size() + static_cast<size_t>(r > 0 ? r : 0) * sizeof(ContourElement);
    if (pocketErrorCalls() != errors || m.bytes + size > kMemoBytes) return r;
    try {
        ReduceMemo::Entry e;
        e.key = std::move(key);
        if (r > 0) e.out.assign(elements, elements + r);
        e.result = r;
        e.failureSet = fitFailureWrites() != writes;
        e.failure = fitLastFailure();
        m.entries.push_back(std::move(e));
        m.bytes += size;
    } catch (...) {
        // Not recorded: the next call reduces again.
    }
    return r;
}

void contourReduceResetState() {
    memo() = ReduceMemo{};
}

namespace {

int32_t reduceOne(ContourElement* elements, int32_t count, double tolerance, int32_t capacity) {
    std::vector<ContourElement> buf;
    std::vector<PocketIsect> records;
    try {
        buf.resize(5 * static_cast<size_t>(count));
        records.resize(kIsectTableSize);
    } catch (...) {
        return 0;
    }
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
