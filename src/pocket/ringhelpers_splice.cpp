#include <algorithm>
#include <cmath>
#include <cstddef>
#include <new>
#include <vector>

#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/ringhelpers.h"
#include "pocket/stepmemo.h"

namespace {

bool agrees(const ContourHeader* h) {
    return h->ccw == h->leftSide;
}

// Boxes of runs of consecutive elements, so that many distance probes against
// one chain skip the runs that cannot hold a nearer element. An arc's box is
// widened by a margin for ends that sit a tolerance off its circle.
class ChainBoxes {
  public:
    ChainBoxes(const ContourElement* e, int32_t n) : e_(e), n_(n) {
        for (int32_t i = 0; i < n; i += kRun) {
            Box b{1e300, 1e300, -1e300, -1e300};
            for (int32_t k = i; k < std::min(n, i + kRun); ++k) {
                const ContourElement& x = e[k];
                if (x.type == kElemArc) {
                    Vec2 lo, hi;
                    elemBoundingBox(&x, &lo, &hi);
                    grow(&b, lo.x - 1e-3, lo.y - 1e-3);
                    grow(&b, hi.x + 1e-3, hi.y + 1e-3);
                    // Distances measure the circle between the ends' angles: ends farther off it than the
                    // margin leave its own end points outside the box of the ends.
                    for (const Vec2& q : {elemStartOf(x), elemEndOf(x)}) {
                        const double cx = x.g[kAcx], cy = x.g[kAcy], rq = std::hypot(q.x - cx, q.y - cy);
                        if (rq <= 0) continue;
                        const double u = x.g[kAr] / rq;
                        grow(&b, cx + u * (q.x - cx) - 1e-3, cy + u * (q.y - cy) - 1e-3);
                        grow(&b, cx + u * (q.x - cx) + 1e-3, cy + u * (q.y - cy) + 1e-3);
                    }
                } else {
                    grow(&b, x.g[kLx1], x.g[kLy1]);
                    grow(&b, x.g[kLx2], x.g[kLy2]);
                }
            }
            boxes_.push_back(b);
        }
    }
    // The same minimum as contourDistance; the run with the nearest box goes first. With stopAt given, a
    // distance at or below it is returned as soon as one is found (the minimum only above it).
    double distance(const Vec2& p, double stopAt = -1) const {
        std::vector<double>& gap = gap_;
        gap.resize(boxes_.size());
        size_t nearest = 0;
        for (size_t r = 0; r < boxes_.size(); ++r) {
            const Box& b = boxes_[r];
            const double bx = std::fmax(std::fmax(b.x0 - p.x, 0.0), p.x - b.x1);
            const double by = std::fmax(std::fmax(b.y0 - p.y, 0.0), p.y - b.y1);
            gap[r] = std::sqrt(bx * bx + by * by);
            if (gap[r] < gap[nearest]) nearest = r;
        }
        double best = -1;
        for (size_t k = 0; k <= boxes_.size(); ++k) {
            const size_t r = k == 0 ? nearest : k - 1;
            if (r >= boxes_.size() || (k > 0 && r == nearest)) continue;
            if (best >= 0 && gap[r] >= best) continue;
            const auto first = static_cast<int32_t>(r) * kRun;
            const double d = contourDistanceUntil(&p, e_ + first, std::min(n_ - first, kRun), stopAt);
            if (best < 0 || (d >= 0 && d < best)) best = d;
            if (best >= 0 && best <= stopAt) return best;
        }
        return best;
    }

  private:
    static constexpr int32_t kRun = 16;
    struct Box {
        double x0, y0, x1, y1;
    };
    static void grow(Box* b, double x, double y) {
        b->x0 = std::fmin(b->x0, x);
        b->y0 = std::fmin(b->y0, y);
        b->x1 = std::fmax(b->x1, x);
        b->y1 = std::fmax(b->y1, y);
    }
    const ContourElement* e_;
    int32_t n_;
    std::vector<Box> boxes_;
    mutable std::vector<double> gap_;
};

}  // namespace

int probeOutsideFarther(const ContourElement* element, const ContourElement* a, int32_t countA,
                        const ContourElement* b, int32_t countB) {
    Vec2 mid;
    if (!element || !elemPoint(element, &mid, kElemMiddle)) return 0;
    const double da = contourDistance(&mid, a, countA), db = contourDistance(&mid, b, countB);
    const bool aFarther = da >= db;
    return pointInContour(aFarther ? a : b, aFarther ? countA : countB, &mid) == 0 ? 1 : 0;
}

int probeFarthestInside(const ContourElement* chain, int32_t count, const ContourElement* a, int32_t countA,
                        const ContourElement* b, int32_t countB) {
    double best = -1;
    Vec2 probe{0, 0};
    const ChainBoxes boxesA(a, countA), boxesB(b, countB);
    for (int32_t i = 0; i < count; ++i) {
        Vec2 mid;
        if (!elemPoint(&chain[i], &mid, kElemMiddle)) continue;
        // With B's distance never negative, an A distance not above the best cannot beat it: the search
        // may stop at the first such distance.
        const bool bounded = best >= 0 && countB > 0;
        const double da = boxesA.distance(mid, bounded ? best : -1);
        if (bounded && da <= best) continue;
        const double db = boxesB.distance(mid);
        if (da >= db && da - db > best) {
            best = da - db;
            probe = mid;
        }
    }
    if (best < 0) return 1;
    return pointInContour(a, countA, &probe) != 0 ? 1 : 0;
}

namespace {

int32_t spliceRun(const ContourElement* a, const ContourHeader* headerA, const ContourElement* b,
                  const ContourHeader* headerB, PocketIsect* records, int32_t n, ContourElement* out,
                  int32_t outCapacity, int32_t* ringStart, int32_t* ringCount, int32_t maxContours);

StepMemo& spliceMemo() {
    static StepMemo m;
    return m;
}

}  // namespace

// A splice reads its arguments, the headers' orientation and side, the kernel variables and the offset
// state; it leaves its rings, the records' states and the offset state. The planes of a level splice the
// same rings again: a recorded splice is replayed (one that reported an error is not recorded).
int32_t contourSplice(const ContourElement* a, const ContourHeader* headerA, const ContourElement* b,
                      const ContourHeader* headerB, PocketIsect* records, int32_t n, ContourElement* out,
                      int32_t outCapacity, int32_t* ringStart, int32_t* ringCount, int32_t maxContours) {
    if (!a || !b || !headerA || !headerB || !out || !ringStart || !ringCount || n < 1 || !records ||
        maxContours < 1)
        return spliceRun(a, headerA, b, headerB, records, n, out, outCapacity, ringStart, ringCount,
                         maxContours);
    const int32_t countA = static_cast<int32_t>(headerA->elementCount);
    const int32_t countB = static_cast<int32_t>(headerB->elementCount);
    const int32_t words[9] = {
        countA,       countB,           n, outCapacity, maxContours, headerA->ccw, headerA->leftSide,
        headerB->ccw, headerB->leftSide};
    StepStateImage state;
    stepStateImage(&state);
    StepKey key;
    key.add(words, sizeof words);
    key.add(state.bytes, sizeof state.bytes);
    stepKeyElements(&key, a, static_cast<size_t>(countA));
    stepKeyElements(&key, b, static_cast<size_t>(countB));
    // Of a record's state the splice reads only whether it is used before it sets the others itself.
    key.addRecords(records, static_cast<size_t>(n), offsetof(PocketIsect, state));
    std::vector<unsigned char> used(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) used[i] = records[i].state == kSpliceUsed ? 1 : 0;
    key.add(used.data(), used.size());
    int32_t head[3];  // rings written, starts kept, elements of the kept rings
    if (const std::vector<unsigned char>* hit = stepMemoFind(spliceMemo(), key)) {
        StepMemoReader r{hit};
        r.take(head, sizeof head);
        r.take(ringStart, static_cast<size_t>(head[1]) * sizeof(int32_t));
        r.take(ringCount, static_cast<size_t>(head[0]) * sizeof(int32_t));
        r.take(out, static_cast<size_t>(head[2]) * sizeof(ContourElement));
        r.take(records, static_cast<size_t>(n) * sizeof(PocketIsect));
        r.take(&pocketOffsetState(), sizeof(PocketOffsetState));
        return head[0];
    }
    const int64_t errors = pocketErrorCalls();
    const int32_t written =
        spliceRun(a, headerA, b, headerB, records, n, out, outCapacity, ringStart, ringCount, maxContours);
    if (written < 0 || pocketErrorCalls() != errors) return written;
    head[0] = written;
    head[1] = written < maxContours ? written + 1 : maxContours;
    head[2] = written > 0 ? ringStart[written - 1] + ringCount[written - 1] : 0;
    std::vector<unsigned char> result;
    try {
        stepResultAppend(&result, head, sizeof head);
        stepResultAppend(&result, ringStart, static_cast<size_t>(head[1]) * sizeof(int32_t));
        stepResultAppend(&result, ringCount, static_cast<size_t>(head[0]) * sizeof(int32_t));
        stepResultAppend(&result, out, static_cast<size_t>(head[2]) * sizeof(ContourElement));
        stepResultAppend(&result, records, static_cast<size_t>(n) * sizeof(PocketIsect));
        stepResultAppend(&result, &pocketOffsetState(), sizeof(PocketOffsetState));
    } catch (const std::bad_alloc&) {
        return written;
    }
    stepMemoAdd(&spliceMemo(), key, std::move(result));
    return written;
}

void ringSpliceMemoClear() {
    stepMemoClear(&spliceMemo());
}

namespace {

int32_t spliceRun(const ContourElement* a, const ContourHeader* headerA, const ContourElement* b,
                  const ContourHeader* headerB, PocketIsect* records, int32_t n, ContourElement* out,
                  int32_t outCapacity, int32_t* ringStart, int32_t* ringCount, int32_t maxContours) {
    if (!a || !b || !headerA || !headerB || !out || !ringStart || !ringCount || n < 1 || !records) return 0;
    const int32_t countA = static_cast<int32_t>(headerA->elementCount);
    const int32_t countB = static_cast<int32_t>(headerB->elementCount);
    const int32_t cap = outCapacity < kClistMaxElements ? outCapacity : kClistMaxElements;
    const bool keepPartial = pocketKernel().pocketContour != 0;
    // A record that failed as a start still serves as a turning point for the
    // traces from other starts, so rejection is kept apart from the states.
    std::vector<char> rejected(n, 0);
    std::vector<ContourElement> piece(static_cast<size_t>(std::max(countA, countB)) + 2);
    int32_t written = 0, end = 0;
    ringStart[0] = 0;
    for (;;) {
        int32_t start = -1;
        for (int32_t i = 0; i < n && start < 0; ++i)
            if (records[i].state != kSpliceUsed && !rejected[i]) start = i;
        if (start < 0 || written >= maxContours) return written;
        // A record off one of the chains (the first chain's start) only starts
        // traces; once rejected, a trace turning at it would leave that chain.
        for (int32_t i = 0; i < n; ++i) {
            const bool crossing = records[i].elemA >= 1 && records[i].elemA <= countA &&
                                  records[i].elemB >= 1 && records[i].elemB <= countB;
            if (records[i].state != kSpliceUsed)
                records[i].state = rejected[i] && !crossing ? kSpliceRejected : kSpliceOpen;
        }
        int32_t current = start, branch = 1, len = 0;
        bool closed = false;
        for (int32_t steps = 0; steps <= n && !closed; ++steps) {
            int32_t got = 0;
            const int32_t next =
                branch == 1 ? chainCopyBetween(a, countA, 1, records, n, current, piece.data(), &got)
                            : chainCopyBetween(b, countB, 2, records, n, current, piece.data(), &got);
            if (next < 0) {
                if (keepPartial) return written;
                pocketOffsetState().distanceFrozen = 1;
                return 0;
            }
            if (end + len + got > cap) {
                pocketError(kPocketErrElementCap);
                return -1;
            }
            for (int32_t k = 0; k < got; ++k) out[end + len++] = piece[k];
            records[next].state = kSpliceUsed;
            closed = next == start;
            current = next;
            branch = 3 - branch;
        }
        if (!closed) {
            if (keepPartial) return written;
            pocketOffsetState().distanceFrozen = 1;
            return 0;
        }
        ContourElement* c = out + end;
        if (len > 3) len = contourClean(c, len);
        bool accept = len > 0;
        if (accept && agrees(headerA) && agrees(headerB)) {
            accept = probeOutsideFarther(&c[0], a, countA, b, countB) == 0;
        } else if (accept && !agrees(headerA) && !agrees(headerB)) {
            accept = probeOutsideFarther(&c[0], a, countA, b, countB) == 1;
        } else if (accept) {
            accept = probeFarthestInside(c, len, a, countA, b, countB) == 1;
        }
        if (!accept) {
            for (int32_t i = 0; i < n; ++i)
                if (records[i].state == kSpliceUsed && i != start) records[i].state = kSpliceOpen;
            rejected[start] = 1;
            records[start].state = kSpliceRejected;
            continue;
        }
        records[start].state = kSpliceUsed;
        ringCount[written] = len;
        end += len;
        ++written;
        if (written < maxContours) ringStart[written] = end;
        if (end > kClistMaxElements) return written;
    }
}

}  // namespace

void isectCollapseNear(PocketIsect* records, int32_t count) {
    for (int32_t i = 0; records && i < count; ++i) {
        if (records[i].state == kSpliceUsed) continue;
        for (int32_t j = 0; j < count; ++j) {
            if (j == i || records[j].state == kSpliceUsed) continue;
            if (std::hypot(records[j].x - records[i].x, records[j].y - records[i].y) <= 0.001)
                records[j].state = kSpliceUsed;
        }
    }
}
