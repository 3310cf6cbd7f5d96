#include "pocket/contouroffset.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <new>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/chaincross.h"
#include "pocket/chainoffset.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/contourreduce.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/ringassembly.h"
#include "pocket/scratch.h"
#include "pocket/stepmemo.h"

namespace {

struct OffsetWork {
    ZeroedArray<ContourElement> chain;  // the raw offset chain
    ZeroedArray<PocketIsect> table;     // its self-crossings
    int thinTest = 0;
    int closeSnap = 0;
};

OffsetWork& work() {
    static OffsetWork w;
    return w;
}

// Results of earlier offsets in this run. The planes of a level offset the same contours by the same
// distances again and again; an offset is a function of its input, side and distance, the offset state,
// the two switches above and the kernel variables, so a call with all of them as before takes the
// recorded rings and the state they left. A call that reported an error, failed, or went through the
// last-resort reduction (whose fit keeps a failure code of its own) is not recorded.
StepMemo& memo() {
    static StepMemo m;
    return m;
}
bool gReduced = false;  // the current call went through the last-resort reduction

void rotateByOne(std::vector<ContourElement>& copy, int32_t n) {
    if (n > 1) std::rotate(copy.begin(), copy.begin() + 1, copy.begin() + n);
}

// The ends read in place, as elemPoint gives them ({0, 0} for an unknown type).
Vec2 startOf(const ContourElement* e) {
    if (e->type == kElemLine) return {e->g[kLx1], e->g[kLy1]};
    if (e->type == kElemArc) return {e->g[kAsx], e->g[kAsy]};
    return {0, 0};
}

// The single-ring result: the chain closed, copied out and checked.
int32_t singleRing(ZeroedArray<ContourElement>& chain, int32_t n, const ContourElement* in, int32_t count,
                   int orient, double distance, ContourElement* out, int32_t* outEnd, int32_t* ringStart,
                   int32_t* ringCount) {
    const PocketKernel& k = pocketKernel();
    const PocketOffsetState& st = pocketOffsetState();
    n = chainCloseEnd(chain.data(), n, work().closeSnap);
    if (n > kClistMaxElements) {
        pocketError(kPocketErrElementCap);
        return -1;
    }
    std::copy(chain.data(), chain.data() + n, out);
    contourReduceShort(out, &n, 0.1);
    arcCentreRepair(out, n);
    if (!k.axisParallel && !st.strictRings && !st.openChain) {
        const int o = contourOrientation(out, n);
        if (orient == 0 ? !k.openMode : o != orient) return 0;
        // Below the smallest offset the ring is the input itself: no distance to keep.
        // Past half its width a contour turns inside out with its ends still 0.9 x the
        // distance away: the stricter test, which implies the end test, decides.
        if (distance >= 0.0005 && !ringKeepsOffset(out, n, in, count, distance)) return 0;
    }
    ringStart[0] = 0;
    if (ringCount) ringCount[0] = n;
    *outEnd = n;
    return 1;
}

}  // namespace

int32_t offsetContourCore(const ContourElement* in, int32_t count, int side, double distance,
                          ContourElement* out, int32_t* outEnd, int32_t* ringStart, int32_t* ringCount) {
    if (!in || count < 1) return 0;
    PocketKernel& k = pocketKernel();
    PocketOffsetState& st = pocketOffsetState();
    OffsetWork& w = work();
    if (k.pocketContour) st.strictRings = 1;
    // An element without length has no direction to offset along and leaves the
    // turning undecided: such an input is offset as its cleaned copy.
    std::vector<ContourElement> clean;
    const bool degenerate = count > 1 && std::any_of(in, in + count, [](const ContourElement& e) {
                                return elemIsPoint(&e) || elemLength(&e) < 1e-7;
                            });
    if (degenerate) {
        clean.assign(in, in + count);
        count = contourClean(clean.data(), count);
        if (count < 1) return 0;
        in = clean.data();
    }
    const int orient = contourOrientation(in, count);
    if (distance < 0) {
        distance = -distance;
        side = -side;
    }
    if (!w.chain.grow(kClistMaxElements + 1) || !w.table.grow(kIsectTableSize)) {
        pocketError(kPocketErrStep);
        return -1;
    }
    int chainResult = kChainBuilt;
    int32_t n = 0;
    if (distance >= 0.0005) {
        chainResult = offsetElementChain(distance, in, count, w.chain.data(), &n, side);
        if (chainResult == kChainFailed) return n >= kClistMaxElements ? -1 : 0;
    } else {
        if (count > kClistMaxElements) {
            pocketError(kPocketErrElementCap);
            return -1;
        }
        std::copy(in, in + count, w.chain.data());
        n = contourClean(w.chain.data(), count);
    }
    if (n == 0) return 0;
    int32_t records = 0;
    if (st.forceSplit || (n > 1 && std::fabs(distance) > 1e-4))
        records = contourReduce(w.chain.data(), n, w.table.data(), chainResult);
    if (chainResult == kChainReversal && st.strictRings) chainResult = 0;
    if (records == 0) {
        if ((chainResult < 0 || n == 1) && !ringsAlreadyClosed(w.chain.data(), n) &&
            !chainJoinSingleGap(w.chain.data(), n)) {
            if (!k.axisParallel && !k.openPocket) st.needsClean = 1;
            return 0;
        }
        return singleRing(w.chain, n, in, count, orient, distance, out, outEnd, ringStart, ringCount);
    }
    st.needsClean = 0;
    if (records < 0 || records > kIsectTableSize - 1) {
        st.problem = 1;
        return 0;
    }
    // The tests below all measure against the same input: its grids are made once.
    const std::unique_ptr<RingInputIndex, void (*)(RingInputIndex*)> index(ringInputIndexCreate(in, count),
                                                                           ringInputIndexFree);
    isectClassify(w.table.data(), records, w.chain.data(), n, in, count,
                  st.problem ? distance - 0.001 : distance, side, index.get());
    const bool anyValid = std::any_of(w.table.data(), w.table.data() + records,
                                      [](const PocketIsect& r) { return r.state == kIsectValid; });
    int32_t pos = 0, rings = 0;
    for (;;) {
        int32_t got = offsetBuildFromHits(w.table.data(), records, w.chain.data(), n, out + pos,
                                          kClistMaxElements - pos, in, count, distance,
                                          orient == 0 ? 0 : (orient == side ? 1 : -1), index.get());
        if (got == -1) return -1;
        if (got == -2) continue;
        if (got == 0) break;
        if (rings >= kOffsetMaxRings) return -1;
        ContourElement* ring = out + pos;
        if (ringHasDuplicate(ring, got)) {
            st.problem = 1;
            continue;
        }
        contourReduceShort(ring, &got, 0.1);
        if (orient * side > 0 && !st.strictRings && contourOrientation(ring, got) != orient) continue;
        if (rings > 0) {
            // The same ring traced a second time from another crossing.
            Vec2 e;
            elemPoint(out + ringStart[rings - 1], &e, kElemEnd);
            if (contourDistance(&e, ring, got) < k.tolerance) continue;
        }
        ringStart[rings] = pos;
        if (ringCount) ringCount[rings] = got;
        ++rings;
        pos += got;
    }
    std::vector<int32_t> counts(rings);
    for (int32_t i = 0; i < rings; ++i) counts[i] = (i + 1 < rings ? ringStart[i + 1] : pos) - ringStart[i];
    if (rings == 1 && records == 2 && counts[0] < 4 && n > 100) st.problem = 1;
    for (int32_t i = 0; i < rings; ++i) {
        ContourElement* ring = out + ringStart[i];
        arcCentreRepair(ring, counts[i]);
        if (ringHasFullArc(counts[i], ring, 0) || ringHasZeroElement(ring, counts[i]) ||
            (distance > 0.00011 && !ringKeepsDistance(ring, counts[i], in, count, distance, index.get()))) {
            st.problem = 1;
        }
    }
    if (rings > 0 && orient != 0 && orient != side && distance > k.tolerance &&
        !ringsContainInput(out, ringStart, counts.data(), rings, in, count))
        st.problem = 1;
    if (rings == 0 && (anyValid || (k.pocketContour && st.growMode == 1))) st.problem = 1;
    *outEnd = pos;
    return rings;
}

namespace {

int32_t offsetContourRun(const ContourElement* in, int32_t count, int side, double distance,
                         ContourElement* out, int32_t* outEnd, int32_t* ringStart, int32_t* ringCount);

}  // namespace

int32_t offsetContour(const ContourElement* in, int32_t count, int side, double distance, ContourElement* out,
                      int32_t* outEnd, int32_t* ringStart, int32_t* ringCount) {
    if (!in || count <= 0 || !out || !outEnd || !ringStart || count > kClistMaxElements)
        return offsetContourRun(in, count, side, distance, out, outEnd, ringStart, ringCount);
    const int32_t words[5] = {count, side, work().thinTest, work().closeSnap, ringCount ? 1 : 0};
    StepStateImage state;
    StepKey key;
    stepKeyHead(&key, &state, words, &distance);
    stepKeyElements(&key, in, static_cast<size_t>(count));
    int32_t head[2];  // the ring count and the elements written
    if (const std::vector<unsigned char>* hit = stepMemoFind(memo(), key)) {
        StepMemoReader r{hit};
        r.take(head, sizeof head);
        r.take(out, static_cast<size_t>(head[1]) * sizeof(ContourElement));
        r.take(ringStart, static_cast<size_t>(head[0]) * sizeof(int32_t));
        if (ringCount) r.take(ringCount, static_cast<size_t>(head[0]) * sizeof(int32_t));
        r.take(&pocketOffsetState(), sizeof(PocketOffsetState));
        *outEnd = head[1];
        return head[0];
    }
    const int64_t errors = pocketErrorCalls();
    gReduced = false;
    const int32_t result = offsetContourRun(in, count, side, distance, out, outEnd, ringStart, ringCount);
    if (result < 0 || gReduced || pocketErrorCalls() != errors || *outEnd < 0 || *outEnd > kClistMaxElements)
        return result;
    head[0] = result;
    head[1] = *outEnd;
    std::vector<unsigned char> recorded;
    try {
        stepResultAppend(&recorded, head, sizeof head);
        stepResultAppend(&recorded, out, static_cast<size_t>(head[1]) * sizeof(ContourElement));
        stepResultAppend(&recorded, ringStart, static_cast<size_t>(result) * sizeof(int32_t));
        if (ringCount) stepResultAppend(&recorded, ringCount, static_cast<size_t>(result) * sizeof(int32_t));
        stepResultAppend(&recorded, &pocketOffsetState(), sizeof(PocketOffsetState));
    } catch (const std::bad_alloc&) {
        return result;
    }
    stepMemoAdd(&memo(), key, std::move(recorded));
    return result;
}

namespace {

int32_t offsetContourRun(const ContourElement* in, int32_t count, int side, double distance,
                         ContourElement* out, int32_t* outEnd, int32_t* ringStart, int32_t* ringCount) {
    if (!in || count <= 0 || !out || !outEnd || !ringStart) return 0;
    if (count > kClistMaxElements) {
        pocketError(kPocketErrElementCap);
        return -1;
    }
    PocketKernel& k = pocketKernel();
    PocketOffsetState& st = pocketOffsetState();
    const int entryGrow = st.growMode;
    if (distance < 0) {
        distance = -distance;
        side = -side;
    }
    const bool thinTest = work().thinTest && distance > k.tolerance &&
                          ((k.outsideInDirect && distance < 4.0) || distance < 1.0 || count <= 50);
    std::vector<int32_t> ownCounts;  // the thin test reads the ring counts a caller may not want
    if (thinTest && !ringCount) {
        ownCounts.resize(kOffsetMaxRings);
        ringCount = ownCounts.data();
    }
    st.classifyTol = 0.005;
    st.currentDistance = distance;
    st.needsClean = st.rotate = st.problem = 0;
    int32_t result = offsetContourCore(in, count, side, distance, out, outEnd, ringStart, ringCount);
    if (result < 0) return result;
    std::vector<ContourElement> copy;
    if ((st.problem || st.needsClean) && k.pocketContour) {
        st.problem = st.needsClean = 0;
        st.rotate = 1;
    }
    if (st.rotate) {
        copy.assign(in, in + count);
        copy.resize(2 * static_cast<size_t>(count));
        int32_t n = count;
        for (int round = 0; round < 20; ++round) {
            st.rotate = 0;
            rotateByOne(copy, n);
            n = contourClean(copy.data(), n);
            if (n == 0) break;
            result = offsetContourCore(copy.data(), n, side, distance, out, outEnd, ringStart, ringCount);
            if (result < 0) return result;
            if (round < 2 && (st.problem || st.needsClean) && k.pocketContour) {
                st.problem = st.needsClean = 0;
                st.rotate = 1;
                continue;
            }
            if (!st.rotate) break;
        }
    }
    if (st.problem == 1 || st.needsClean == 1) {
        copy.assign(in, in + count);
        copy.resize(2 * static_cast<size_t>(count) + 8);
        int32_t n = count;
        double d = distance;
        bool firstShrink = true;
        for (int32_t step = 0;; ++step) {
            if (step >= 10) st.classifyTol = 0.01;
            double shortLength;
            if (st.growMode == 1) {
                if (!st.distanceFrozen) d += 0.0006;
                shortLength = 0.1;
            } else {
                if (!st.distanceFrozen) d *= 0.9;
                shortLength = 0.1 * d;
            }
            contourReduceShort(copy.data(), &n, shortLength);
            if (st.growMode == 0 && firstShrink) {
                // The first shrinking retry runs once growing and does not count.
                st.growMode = 1;
                firstShrink = false;
                step = -1;
            } else {
                st.growMode = entryGrow;
            }
            st.currentDistance = d;
            st.cornerFactor = 10.0;
            st.problem = 0;
            result = offsetContourCore(copy.data(), n, side, d, out, outEnd, ringStart, ringCount);
            st.cornerFactor = 1.0;
            if (result < 0) return result;
            if (st.rotate && n > 0) rotateByOne(copy, n);
            if (!st.problem) break;
            if (step + 1 >= 20) {
                gReduced = true;
                const int32_t reduced =
                    contourReduceOne(copy.data(), n, 100 * k.tolerance, 1, static_cast<int32_t>(copy.size()));
                if (reduced > 0) n = reduced;
                result = offsetContourCore(copy.data(), n, side, d, out, outEnd, ringStart, ringCount);
                if (result < 0) return result;
                break;
            }
        }
        st.growMode = entryGrow;
    }
    // The thin test samples the whole input at a fraction of the distance apart (hundreds of thousands of
    // points for a tiny nudge along a long contour), so it runs only for a ring that would be refused.
    if (thinTest && result > 0) {
        const Vec2 inStart = startOf(&in[0]);
        const int inOrientation = contourOrientation(in, count);
        std::vector<uint8_t> insideOut(static_cast<size_t>(result), 0);
        bool any = false;
        for (int32_t i = 0; i < result; ++i) {
            const int32_t start = ringStart[i];
            const Vec2 rs = startOf(&out[start]);
            // A ring of an input that bays round an island may hold a piece of the input and start
            // outside the rest of it: inside out is a ring that also runs the other way round.
            insideOut[i] = (pointInContour(out + start, ringCount[i], &inStart) != 0 ||
                            pointInContour(in, count, &rs) == 0) &&
                           contourOrientation(out + start, ringCount[i]) != inOrientation;
            any = any || insideOut[i];
        }
        // Only the rings that turn the thin input inside out go; the others are its rings as any offset
        // gives them (dropped with the rest, their part of the pocket went uncut).
        if (any && contourIsThin(in, count, distance)) {
            int32_t kept = 0;
            for (int32_t i = 0; i < result; ++i) {
                if (insideOut[i]) continue;
                ringStart[kept] = ringStart[i];
                ringCount[kept++] = ringCount[i];
            }
            result = kept;
        }
    }
    if (result == 0 && st.problem) st.problem = 0;
    return result;
}

}  // namespace

int contourIsThin(const ContourElement* in, int32_t count, double tol) {
    if (!in || count < 2 || tol <= 0) return 0;
    const double reach = 1.5 * tol;
    int32_t witness = -1;
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement* e = &in[i];
        const double len = elemLength(e);
        const int64_t n = static_cast<int64_t>(len / (3 * tol)) + 2;
        Vec2 s, t;
        if (!elemPoint(e, &s, kElemStart) || !elemPoint(e, &t, kElemEnd)) return 0;
        bool mark = true;
        for (int64_t q = 1; q < n; ++q) {
            const double u = static_cast<double>(q) / static_cast<double>(n);
            Vec2 p;
            if (e->type == kElemArc)
                arcPointAt(e, u, &p);
            else
                p = {s.x + u * (t.x - s.x), s.y + u * (t.y - s.y)};
            const double endDist = std::min(pointDist2D(&p, &s), pointDist2D(&p, &t));
            if (endDist < tol) mark = false;
            if (count <= 3 && i == 1 && !mark) continue;
            // An element answers for p when it is not a neighbour passed over near its own end. The nearest
            // answering element must lie within reach, or the first one met must give no distance at all;
            // so any answering element within reach settles p, first the one that settled the last point.
            const auto answers = [&](int32_t j, double* dj) {
                Vec2 near;
                *dj = elemDistance(&p, &in[j], &near);
                const bool neighbour = j == (i + 1) % count || j == (i + count - 1) % count;
                return !(mark && neighbour && *dj >= 0.3 * endDist);
            };
            double dj;
            if (witness >= 0 && witness != i && answers(witness, &dj) && dj <= reach) continue;
            bool settled = false, first = true;
            for (int32_t j = 0; j < count && !settled; ++j) {
                if (j == i || !answers(j, &dj)) continue;
                settled = dj <= reach || (first && std::isnan(dj));
                if (settled) witness = j;
                first = false;
            }
            if (!settled) return 0;
        }
    }
    return 1;
}

void offsetSetThinTest(int on) {
    work().thinTest = on ? 1 : 0;
}

void offsetSetCloseSnap(int on) {
    work().closeSnap = on ? 1 : 0;
}

int offsetCloseSnap() {
    return work().closeSnap;
}

void contourOffsetResetState() {
    OffsetWork& w = work();
    w.chain.release();
    w.table.release();
    stepMemoClear(&memo());
    w.thinTest = 0;
    w.closeSnap = 0;
}
static const RunReset gRunReset(kRunResetCycles, "contourOffset", contourOffsetResetState);
