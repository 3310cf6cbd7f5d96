#include "pocket/planerings.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "geometry/vec.h"
#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "pocket/chaincross.h"
#include "pocket/clist.h"
#include "pocket/contourclean.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/contourreduce.h"
#include "pocket/cornerloop.h"
#include "pocket/cutlists.h"
#include "pocket/elemaccess.h"
#include "pocket/gcodefile.h"
#include "pocket/islands.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/ringassembly.h"
#include "pocket/ringemit.h"
#include "pocket/ringhelpers.h"
#include "pocket/ringround.h"
#include "pocket/scratch.h"

namespace {

constexpr int32_t kMaxRecords = 5000;

struct Ring {
    std::vector<ContourElement> e;
    ContourHeader h{};
    int32_t n() const { return static_cast<int32_t>(e.size()); }
};

struct RingsState {
    ZeroedArray<ContourElement> buffer;  // the rings of one offset
};

RingsState& state() {
    static RingsState s;
    return s;
}

bool readRing(const char* list, int32_t index, Ring* r) {
    if (clistGetHeader(list, &r->h, index) < 0) return false;
    // Copied straight from the list's own elements, without clearing the ring first.
    const ContourElement* e = r->h.elementCount > 0 ? r->h.elements : nullptr;
    try {
        r->e.assign(e, e ? e + r->h.elementCount : e);
    } catch (...) {
        return false;
    }
    return true;
}

bool storeRing(const char* list, Ring* r, int32_t index) {
    r->h.elementCount = static_cast<uint32_t>(r->e.size());
    return clistInsert(list, r->e.data(), &r->h, index) == 1;
}

bool replaceRing(const char* list, Ring* r, int32_t index) {
    r->h.elementCount = static_cast<uint32_t>(r->e.size());
    return clistReplace(list, r->e.data(), &r->h, index) == 1;
}

uint8_t ccwOf(const Ring& r) {
    return contourOrientation(r.e.data(), r.n()) > 0 ? 1 : 0;
}

int sideOf(const ContourHeader& h) {
    return h.leftSide ? 1 : -1;
}

// The offset rings of a chain, each with header h and its own orientation; with
// filter the rings pass ringsFilter against the chain. The ring count, or the negative offset result.
int32_t offsetRings(const ContourElement* e, int32_t n, int side, double d, const ContourHeader& h,
                    std::vector<Ring>* out, bool filter, int mode, int flag) {
    ZeroedArray<ContourElement>& buffer = state().buffer;
    ScratchVector<int32_t> starts(kOffsetMaxRings), counts(kOffsetMaxRings);
    if (!starts.ok() || !counts.ok() || !buffer.grow(kClistMaxElements)) return -1;
    int32_t end = 0;
    int32_t m = offsetContour(e, n, side, d, buffer.data(), &end, starts.data(), counts.data());
    if (m <= 0) return m;
    if (filter)
        m = ringsFilter(e, n, buffer.data(), starts.data(), counts.data(), m,
                        pocketOffsetState().currentDistance, mode, flag, nullptr);
    for (int32_t i = 0; i < m; ++i) {
        Ring r;
        r.e.assign(buffer.data() + starts[i], buffer.data() + starts[i] + counts[i]);
        r.h = h;
        r.h.ccw = ccwOf(r);
        out->push_back(std::move(r));
    }
    return m;
}

bool filletWanted() {
    const CcpParams& p = kvCCPParams;
    return p.filletCorners && !isEqualTol(p.filletRadius, 0.0);
}

// The ring with the arcs of an opening put in (falling back to rounding when asked); unchanged on failure.
void openingArcs(Ring* r, int flip, bool roundOnFailure) {
    ScratchVector<ContourElement> out(kClistMaxElements);
    if (!out.ok()) return;
    int32_t m = contourInsertOpeningArcs(r->e.data(), r->n(), kvCCPParams.filletRadius, out.data(), flip);
    if (m <= 0 && roundOnFailure)
        m = contourRoundCorners(r->e.data(), r->n(), kvCCPParams.filletRadius, out.data(), 0);
    if (m > 0) r->e.assign(out.begin(), out.begin() + m);
}

// Links node to the rings its elements came from (-2 standing for own).
int linkSources(int32_t node, const Ring& r, int32_t own) {
    for (const ContourElement& e : r.e) {
        int32_t t = e.sourceTag == -2 ? own : e.sourceTag;
        if (t < 0 || t == node || regionIsParent(node, t)) continue;
        if (regionAddLink(node, t) < 0) return -1;
    }
    return 1;
}

int32_t attach(Ring* r, int32_t parentHead, int32_t level) {
    r->h.elementCount = static_cast<uint32_t>(r->e.size());
    return regionAttachContour(r->e.data(), &r->h, parentHead, level);
}

// A failed merge of the cut lists stops the plane; a merge that attached cuts is noted silently.
int mergeCuts() {
    const int m = cutListsMerge();
    if (m > 0) pocketError(kRingsCutsMerged);
    return m < 0 ? -1 : 0;
}

int setListTag(const char* list, int32_t index, int32_t tag) {
    return clistSetTag(list, static_cast<int16_t>(tag), index) >= 0 ? 1 : -1;
}

// Moves the GKT rings one by one (from the back or the front) to the target, each merged with the rings
// still waiting in GKT (code, when not 0, sent silently after a merge). A merged ring may cross waiting
// rings the taken one did not reach: it waits again, so a row of close islands ends as one ring. Every
// merge removes a ring; the bound only guards against a splice that keeps giving rings back. 1, or -1.
int moveMerging(const char* target, double d, bool fromBack, int32_t code) {
    for (int32_t rounds = 0; clistCount("GKT") > 0 && rounds < 4 * kClistMaxContours; ++rounds) {
        Ring g;
        const int32_t at = fromBack ? -1 : 0;
        if (!readRing("GKT", at, &g) || !clistDelete("GKT", at) || !storeRing(target, &g, -1)) return -1;
        const int32_t before = clistCount("GKT");
        const int32_t merged = pocketLevelStep(target, d, 1, sideOf(g.h), g.h.tag, 0);
        if (merged < 0) return -1;
        if (clistCount("GKT") == before) continue;
        if (code) pocketError(code);
        for (int32_t q = 0; q < merged; ++q) {
            Ring m;
            if (!readRing(target, -1, &m) || !clistDelete(target, -1) ||
                !storeRing("GKT", &m, fromBack ? 0 : -1))
                return -1;
        }
    }
    return 1;
}

}  // namespace

int pocketOffsetIslands(double r, const double* allowance, int orientation) {
    (void)orientation;
    if (!allowance) return -1;
    PocketOffsetState& off = pocketOffsetState();
    off.distanceFrozen = 0;
    off.problem = 0;
    offsetSetThinTest(0);
    if (!clistCreate("GKT")) return -1;
    mainBoundingCircle();
    const PocketKernel& k = pocketKernel();
    const int32_t n = clistCount("MAIN");
    for (int32_t i = 1; i < n; ++i) {
        Ring island;
        if (!readRing("MAIN", i, &island)) return -1;
        off.growMode = 1;
        offsetSetCloseSnap(0);
        std::vector<Ring> rings;
        ContourHeader h = island.h;
        h.tag = static_cast<int16_t>(i);
        if (offsetRings(island.e.data(), island.n(), sideOf(island.h), r + allowance[i], h, &rings, false, 0,
                        0) < 0)
            return -1;
        for (Ring& ring : rings) {
            if (k.openPocket && filletWanted()) openingArcs(&ring, 1, false);
            if (!storeRing("GKT", &ring, -1)) return -1;
        }
    }
    return 1;
}

// The ring crosses a ring of SPAN (the boundary's first rings) or the outer boundary itself.
bool crossesFirstRings(const Ring& ring) {
    ScratchVector<PocketIsect> records(kMaxRecords + 2);
    if (!records.ok()) return false;
    auto crosses = [&](const char* list, int32_t i) {
        Ring other;
        return readRing(list, i, &other) && other.n() > 0 &&
               intersectContours(ring.e.data(), ring.n(), other.e.data(), other.n(), records.data(),
                                 kMaxRecords + 1) != 0;
    };
    for (int32_t i = 0; i < clistCount("SPAN"); ++i)
        if (crosses("SPAN", i)) return true;
    return clistCount("MAIN") > 0 && crosses("MAIN", 0);
}

int32_t pocketLevelStep(const char* list, double d, int32_t n, int side, int32_t parentTag, int mode) {
    (void)side;
    PocketOffsetState& off = pocketOffsetState();
    const PocketKernel& k = pocketKernel();
    int nudges = 0;
    const int32_t count = clistCount(list);
    if (count < 0) return -1;
    if (count == 0 || count < n) return 0;
    const int32_t base = count - n;
    int32_t largest = clistMaxTag(list);
    int32_t nextRow = listResetTags(list);
    ScratchVector<PocketIsect> records(kMaxRecords + 2);
    ScratchVector<ContourElement> out(kClistMaxElements);
    ScratchVector<int32_t> starts(kOffsetMaxRings), counts(kOffsetMaxRings);
    if (!records.ok() || !out.ok() || !starts.ok() || !counts.ok()) return -1;
    for (int32_t ia = base; ia < clistCount(list); ++ia) {
        Ring a;
        if (!readRing(list, ia, &a)) return -1;
        if (a.h.tag == 0) {
            a.h.tag = static_cast<int16_t>(++largest);
            if (setListTag(list, ia, a.h.tag) < 0) return -1;
        }
        bool aGone = false;
        for (int32_t jb = 0; jb < clistCount("GKT") && !aGone;) {
            Ring b;
            if (!readRing("GKT", jb, &b)) return -1;
            const int32_t bTag = std::abs(b.h.tag);
            if (mode == 1) {
                const uint32_t* row = pocketRingRow(a.h.row);
                bool seen = false;
                for (uint32_t q = 1; row && q <= row[0] && !seen; ++q)
                    seen = static_cast<int32_t>(row[q]) == bTag;
                if (seen) {
                    ++jb;
                    continue;
                }
            }
            int32_t kx =
                intersectContours(a.e.data(), a.n(), b.e.data(), b.n(), records.data() + 1, kMaxRecords + 1);
            if (k.pocketContour && kx > 100) off.distanceFrozen = 1;
            if (kx > kMaxRecords || kx < 0) {
                pocketError(kPocketErrPieceCap);
                return -1;
            }
            if (kx >= 2) {
                Vec2 s;
                elemPoint(&a.e[0], &s, kElemStart);
                records[0] = {s.x, s.y, 0, 1, 0, 1};
                if (k.pocketContour) isectCollapseNear(records.data(), kx + 1);
                a.h.elementCount = static_cast<uint32_t>(a.n());
                b.h.elementCount = static_cast<uint32_t>(b.n());
                const int32_t m =
                    contourSplice(a.e.data(), &a.h, b.e.data(), &b.h, records.data(), kx + 1, out.data(),
                                  kClistMaxElements, starts.data(), counts.data(), kOffsetMaxRings);
                if (m < 0) return -1;
                if (off.distanceFrozen && nudges < 10 && !k.pocketContour) {
                    ++nudges;
                    Vec2 bs;
                    elemPoint(&b.e[0], &bs, kElemStart);
                    const int nudged = islandRingNudge(jb, bTag, d, bs.x, bs.y);
                    off.distanceFrozen = 0;
                    if (nudged < 0) return -1;
                    if (nudged > 0) continue;
                }
                if (m == 0) {
                    ++jb;
                    continue;
                }
                if (mode == 1) {
                    if (setListTag("GKT", jb, -bTag) < 0) return -1;
                    ++jb;
                } else if (!clistDelete("GKT", jb)) {
                    return -1;
                }
                if (!clistDelete(list, ia)) return -1;
                for (int32_t q = 0; q < m; ++q) {
                    Ring r;
                    r.e.assign(out.begin() + starts[q], out.begin() + starts[q] + counts[q]);
                    arcCentreRepair(r.e.data(), r.n());
                    r.h = a.h;
                    r.h.ccw = ccwOf(r);
                    if (nextRow >= kPocketRingRows) {
                        pocketError(kPocketErrStep);
                        return -1;
                    }
                    r.h.row = static_cast<int16_t>(nextRow++);
                    ringIndexRowCopy(a.h.row, r.h.row);
                    if (!pocketRingRowAppend(r.h.row, static_cast<uint32_t>(bTag))) return -1;
                    if (!storeRing(list, &r, ia + q)) return -1;
                }
                if (!readRing(list, ia, &a)) return -1;
                // The merged ring takes the place of A and may now reach rings it did not cross before.
                if (mode == 1) jb = 0;
                continue;
            }
            const bool aInB = contourContainsChain(a.e.data(), a.n(), b.e.data(), b.n()) != 0;
            if (mode == 1) {
                if (aInB) {
                    if (parentTag >= 0) {
                        regionAddLink(bTag, parentTag);
                        if (const uint32_t* row = pocketRingRow(a.h.row))
                            for (uint32_t q = 1; q <= row[0]; ++q)
                                regionAddLink(static_cast<int32_t>(row[q]), parentTag);
                    }
                    if (setListTag("GKT", jb, -bTag) < 0) return -1;
                    if (a.h.tag == 0) {
                        if (!clistDelete(list, ia)) return -1;
                        --ia;
                        aGone = true;
                        continue;
                    }
                    a.h.tag = static_cast<int16_t>(-std::abs(a.h.tag));
                    if (setListTag(list, ia, a.h.tag) < 0) return -1;
                } else if (a.h.tag < 0 && contourContainsChain(b.e.data(), b.n(), a.e.data(), a.n()) == 0 &&
                           a.h.ccw == a.h.leftSide && b.h.ccw == b.h.leftSide) {
                    if (setListTag("GKT", jb, -bTag) < 0) return -1;
                }
                ++jb;
                continue;
            }
            if (k.openMode) {
                const bool differ = a.h.ccw != b.h.ccw || a.h.leftSide != b.h.leftSide;
                if (aInB && differ && ringDistance(a.e.data(), a.n(), b.e.data(), b.n()) <= d) {
                    if (!clistDelete(list, ia)) return -1;
                    --ia;
                    aGone = true;
                    continue;
                }
                if (contourContainsChain(b.e.data(), b.n(), a.e.data(), a.n()) != 0) {
                    const bool keep = contourInsideOpenPart(b.e.data(), b.n(), "MAIN") == 0 &&
                                      (a.h.ccw == a.h.leftSide || b.h.ccw != b.h.leftSide ||
                                       ringDistance(b.e.data(), b.n(), a.e.data(), a.n()) >= d);
                    if (!keep && !clistDelete("GKT", jb)) return -1;
                    aGone = true;
                    continue;
                }
            }
            ++jb;
        }
    }
    if (mode == 1) {
        for (int32_t j = clistCount("GKT") - 1; j >= 0; --j) {
            ContourHeader h;
            if (clistGetHeader("GKT", &h, j) >= 0 && h.tag < 0 && !clistDelete("GKT", j)) return -1;
        }
        for (int32_t j = clistCount(list) - 1; j >= base; --j) {
            ContourHeader h;
            if (clistGetHeader(list, &h, j) >= 0 && h.tag < 0 && !clistDelete(list, j)) return -1;
        }
    }
    return clistCount(list) - base;
}

int islandRingNudge(int32_t j, int32_t tag, double d, double px, double py) {
    (void)tag;
    (void)d;
    (void)px;
    (void)py;
    PocketOffsetState& off = pocketOffsetState();
    if (!off.distanceFrozen) return 0;
    Ring b;
    if (!readRing("GKT", j, &b)) return -1;
    off.growMode = 0;
    std::vector<Ring> rings;
    const double by = pocketKernel().pocketContour ? 0.01 : -0.0006;
    const int32_t m = offsetRings(b.e.data(), b.n(), sideOf(b.h), by, b.h, &rings, false, 0, 0);
    if (m < 0) return -1;
    if (m != 1) return 0;
    rings[0].h = b.h;
    return replaceRing("GKT", &rings[0], j) ? 1 : -1;
}

int pocketLevelLoop(double r, double a0, double f, int orientation) {
    const PocketKernel& k = pocketKernel();
    PocketOffsetState& off = pocketOffsetState();
    offsetSetThinTest(k.outsideInDirect);
    const double d1 = r + a0, s = 2 * r * f;
    const int zero = std::fabs(d1) < 1e-4;
    gcodeFileStart(r);
    if (!clistCreate("SPAN")) return -1;
    if (k.pocketContour) mainRotateToContour(0);
    Ring outer;
    if (!readRing("MAIN", 0, &outer)) return -1;
    off.growMode = 1;
    offsetSetCloseSnap(0);
    std::vector<Ring> rings;
    ContourHeader h = outer.h;
    h.tag = 0;
    const int32_t m = offsetRings(outer.e.data(), outer.n(), orientation, d1, h, &rings, d1 > 2 * 1e-4,
                                  orientation, outer.h.ccw);
    if (m < 0) return -1;
    if (rings.empty()) return 0;
    for (Ring& ring : rings)
        if (!storeRing("SPAN", &ring, -1)) return -1;
    int32_t kept = static_cast<int32_t>(rings.size());
    if (listNeedsOffset("MAIN", r)) {
        const int32_t before = clistCount("GKT");
        kept = pocketLevelStep("SPAN", d1, kept, orientation, outer.h.tag, 1);
        if (kept < 0) return -1;
        if (clistCount("GKT") != before) pocketError(kRingsIslandCountChanged);
    }
    off.growMode = 0;
    offsetSetCloseSnap(1);
    const int32_t total = clistCount("SPAN");
    for (int32_t i = total - kept; i < total; ++i) {
        Ring ring;
        if (!readRing("SPAN", i, &ring)) return -1;
        if (filletWanted() && !k.openPocket) {
            openingArcs(&ring, 0, true);
            if (!replaceRing("SPAN", &ring, i)) return -1;
        }
        if (ring.n() > 0) {
            const int32_t node = attach(&ring, -1, 0);
            if (node < 0) return -1;
            if (setListTag("SPAN", i, node) < 0) return -1;
            if (k.pocketContour && node != 0) regionAddLink(node, 0);
            ring.h.tag = static_cast<int16_t>(node);
        }
        gcodeFileWriteContour(ring.e.data(), &ring.h);
    }
    contourReduceList("SPAN", 0.01 * r, zero);
    if (!clistCreate("INSEL")) return -1;
    if (moveMerging("INSEL", r, true, kRingsInselCountChanged) < 0) return -1;
    for (int32_t i = 0; i < clistCount("INSEL");) {
        Ring ring;
        if (!readRing("INSEL", i, &ring)) return -1;
        if (!ringStartClear(ring.e.data(), ring.n(), r)) {
            if (!clistDelete("INSEL", i)) return -1;
            continue;
        }
        if (crossesFirstRings(ring)) {
            // The island's ring still crosses the boundary's rings or the wall: their merge failed, and
            // the whole ring would run the tool through the wall. It is left out, and the run says so.
            pocketError(kPocketErrStep);
            if (!clistDelete("INSEL", i)) return -1;
            continue;
        }
        if (filletWanted() && !k.openPocket) {
            openingArcs(&ring, 1, false);
            if (!replaceRing("INSEL", &ring, i)) return -1;
        }
        if (k.forceInside) contourReverse(ring.e.data(), ring.n());
        const int32_t node = attach(&ring, -1, 0);
        if (k.forceInside) contourReverse(ring.e.data(), ring.n());
        if (node < 0 || setListTag("INSEL", i, node) < 0) return -1;
        ring.h.tag = static_cast<int16_t>(node);
        gcodeFileWriteContour(ring.e.data(), &ring.h);
        ++i;
    }
    if (cutSpanOffset("INSEL", "CUT_GKT", r) < 0) return -1;
    if (!clistFree("GKT") || !clistCreate("GKT")) return -1;
    for (int32_t i = 0; i < clistCount("INSEL"); ++i) {
        Ring ring;
        if (!readRing("INSEL", i, &ring)) return -1;
        const int32_t reduced =
            contourReduceOne(ring.e.data(), ring.n(), 0.01 * r, 0, static_cast<int32_t>(ring.e.size()));
        if (reduced > 0) ring.e.resize(reduced);
        off.growMode = 0;
        offsetSetThinTest(0);
        offsetSetCloseSnap(1);
        std::vector<Ring> steps;
        const int side = sideOf(ring.h);
        int32_t got = offsetRings(ring.e.data(), ring.n(), side, s, ring.h, &steps, s > 0, side, ring.h.ccw);
        offsetSetThinTest(k.outsideInDirect);
        if (got < 0) return -1;
        if (off.problem || got == 0) {
            if (!readRing("INSEL", i, &ring)) return -1;
            steps.clear();
            got = offsetRings(ring.e.data(), ring.n(), side, s, ring.h, &steps, s > 0, side, ring.h.ccw);
            if (got < 0) return -1;
        }
        for (Ring& st : steps) {
            st.h.leftSide = ring.h.leftSide;
            st.h.tag = ring.h.tag;
            if (st.h.ccw == st.h.leftSide && ringOutsideMain(st.e.data(), st.n()) != 0) continue;
            chainSetSourceTag(st.e.data(), st.n(), ring.h.tag);
            if (!storeRing("GKT", &st, -1)) return -1;
        }
    }
    return 1;
}

int pocketIslandRestart(double s) {
    for (int32_t j = clistCount("GKT") - 1; j >= 0; --j) {
        ContourHeader h;
        if (clistGetHeader("GKT", &h, j) >= 0 && h.tag < 0 && !clistDelete("GKT", j)) return -1;
    }
    const double r = pocketKernel().toolRadius;
    for (int32_t j = 0; j < clistCount("GKT"); ++j) {
        Ring g;
        if (!readRing("GKT", j, &g)) return -1;
        const int o = contourOrientation(g.e.data(), g.n());
        const int ccw = o == 0 ? g.h.ccw : (o > 0 ? 1 : 0);
        if (ccw != g.h.leftSide) continue;
        if (!clistDelete("GKT", j) || !storeRing("SPAN", &g, -1)) return -1;
        const int32_t island = g.h.tag;
        const int32_t kept = pocketLevelStep("SPAN", s, 1, sideOf(g.h), island, 1);
        if (kept < 0) return -1;
        const int32_t total = clistCount("SPAN");
        for (int32_t i = total - kept; i < total; ++i) {
            Ring ring;
            if (!readRing("SPAN", i, &ring)) return -1;
            if (ringInsideOtherInput(ring.e.data(), ring.n())) {
                ring.e.clear();
                if (!replaceRing("SPAN", &ring, i)) return -1;
                continue;
            }
            if (cutPieceOffset(ring.e.data(), &ring.h, r, -1, "CUT_BACK") < 0) return -1;
            if (ringCrossesInput(ring.e.data(), ring.n())) pocketError(kRingsCrossInput);
            const int32_t node = attach(&ring, island, 1);
            if (node < 0 || linkSources(node, ring, island) < 0 || setListTag("SPAN", i, node) < 0) return -1;
        }
        return 0;
    }
    return 0;
}

int pocketSpanBackCuts(double s, int orientation, int single) {
    (void)orientation;
    PocketKernel& k = pocketKernel();
    PocketOffsetState& off = pocketOffsetState();
    const double r = k.toolRadius;
    offsetSetThinTest(1);
    bool firstPass = true;
    while (clistCount("SPAN") > 0) {
        Ring rr;
        if (!readRing("SPAN", -1, &rr)) return -1;
        const int32_t rIndex = clistCount("SPAN") - 1;
        if (cutListReset("CUT_SPAN") < 0 || cutListReset("CUT_BACK") < 0) return -1;
        const double width = firstPass && rr.h.stock ? r / k.widthFactor : r;
        firstPass = false;
        if (cutPieceOffset(rr.e.data(), &rr.h, width, 1, "CUT_SPAN") < 0) return -1;
        const bool empty = rr.n() == 0 || (rr.n() < 5 && contourLength(rr.e.data(), rr.n()) < s);
        off.growMode = 0;
        offsetSetCloseSnap(1);
        double e = s + k.stockCorrection;
        if (k.stockCorrection < -0.1 && e < 0) e = 0.1;
        off.currentDistance = e;
        std::vector<Ring> rings;
        if (!empty) {
            ContourHeader h = rr.h;
            h.tag = 0;
            if (offsetRings(rr.e.data(), rr.n(), sideOf(rr.h), e, h, &rings, e > 0, sideOf(rr.h), rr.h.ccw) <
                0)
                return -1;
            if (rings.empty() && off.problem) pocketError(off.problem);
        }
        if (!clistDelete("SPAN", rIndex)) return -1;
        if (rings.empty()) {
            if (clistCount("SPAN") == 0 && clistCount("GKT") > 0) {
                const int restart = pocketIslandRestart(s);
                if (restart != 0) return restart;
                cutModeSet(1);
            }
            if (mergeCuts() < 0) return -1;
            continue;
        }
        const int32_t parent = rr.h.tag;
        for (Ring& ring : rings) {
            for (ContourElement& el : ring.e)
                if (el.sourceTag >= 0) el.sourceTag = parent;
            if (!storeRing("SPAN", &ring, -1)) return -1;
        }
        k.stockCorrection = 0;
        const int32_t kept =
            pocketLevelStep("SPAN", s, static_cast<int32_t>(rings.size()), sideOf(rr.h), parent, 1);
        if (kept < 0) return -1;
        const RegionNode* pn = regionNode(parent);
        const int32_t level = (pn ? pn->level : 0) + 1;
        const int32_t total = clistCount("SPAN");
        for (int32_t i = total - kept; i < total; ++i) {
            Ring ring;
            if (!readRing("SPAN", i, &ring)) return -1;
            if (!isEqualTol(kvCCPParams.filletRadius, 0.0)) {
                std::vector<ContourElement> buf(ring.e);
                buf.resize(2 * buf.size() + 2);
                const int32_t split = arcsSplitQuarter(buf.data(), ring.n());
                ScratchVector<ContourElement> out(kClistMaxElements);
                if (!out.ok()) return -1;
                const int32_t m =
                    contourRoundCorners(buf.data(), split, kvCCPParams.filletRadius, out.data(), 0);
                if (m > 0) ring.e.assign(out.begin(), out.begin() + m);
            }
            ScratchVector<ContourElement> looped(kClistMaxElements);
            if (!looped.ok()) return -1;
            std::copy(ring.e.begin(), ring.e.end(), looped.begin());
            const int32_t nl = cornerLoopInsert(parent, looped.data(), ring.n(), kClistMaxElements);
            if (nl > 0) ring.e.assign(looped.begin(), looped.begin() + nl);
            if (!replaceRing("SPAN", &ring, i)) return -1;
            if (cutPieceOffset(ring.e.data(), &ring.h, r, -1, "CUT_BACK") < 0) return -1;
            const int32_t node = attach(&ring, parent, level);
            if (node < 0 || linkSources(node, ring, parent) < 0) return -1;
            if (k.stockOutin || k.openPocket) {
                if (parent >= 0 && !regionIsParent(node, parent)) regionAddLink(node, parent);
                for (ContourElement& el : ring.e)
                    if (el.sourceTag == -1) el.sourceTag = parent;
                const RegionNode* rn = regionNode(node);
                if (!rn || !regionSaveElements(ring.e.data(), ring.n(), rn->elements)) return -1;
            }
            if (setListTag("SPAN", i, node) < 0) return -1;
        }
        if (mergeCuts() < 0) return -1;
        if (clistCount("SPAN") == 0 && clistCount("GKT") > 0) {
            const int restart = pocketIslandRestart(s);
            if (restart != 0) return restart;
            if (clistCount("SPAN") > 0 && mergeCuts() < 0) return -1;
        }
        if (single) return 1;
    }
    cutModeSet(2);
    const int merged = mergeCuts();
    cutModeSet(0);
    if (merged < 0) return -1;
    clistFree("SPAN");
    clistFree("GKT");
    if (!k.outsideInDirect) clistFree("MAIN");
    if (!k.outsideIn) clistFree("INSEL");
    return 1;
}

int pocketSplitRings(double s) {
    PocketOffsetState& off = pocketOffsetState();
    off.problem = 0;
    off.distanceFrozen = 0;
    off.growMode = 0;
    offsetSetCloseSnap(1);
    off.currentDistance = s;
    if (!clistCreate("TEMP")) return -1;
    while (clistCount("GKT") > 0) {
        Ring g;
        if (!readRing("GKT", 0, &g) || !clistDelete("GKT", 0) || !storeRing("TEMP", &g, -1)) return -1;
    }
    while (clistCount("TEMP") > 0) {
        Ring g;
        if (!readRing("TEMP", 0, &g) || !clistDelete("TEMP", 0) || !storeRing("GKT", &g, -1)) return -1;
        // Merge the returned ring with those already back: it is the list's last contour.
        Ring last;
        if (!readRing("GKT", -1, &last) || !clistDelete("GKT", -1)) return -1;
        if (!clistCreate("SEC") || !storeRing("SEC", &last, -1)) return -1;
        const int32_t merged = pocketLevelStep("SEC", s, 1, sideOf(last.h), last.h.tag, 0);
        if (merged < 0) return -1;
        for (int32_t q = 0; q < clistCount("SEC"); ++q) {
            Ring m;
            if (!readRing("SEC", q, &m) || !storeRing("GKT", &m, -1)) return -1;
        }
        clistFree("SEC");
    }
    std::vector<Ring> temp;
    for (int32_t j = 0; j < clistCount("GKT"); ++j) {
        Ring g;
        if (!readRing("GKT", j, &g)) return -1;
        const RegionNode* pn = regionNode(g.h.tag);
        const int32_t node = attach(&g, g.h.tag, (pn ? pn->level : 0) + 1);
        if (node < 0 || linkSources(node, g, g.h.tag) < 0) return -1;
        chainSetSourceTag(g.e.data(), g.n(), node);
        g.h.tag = static_cast<int16_t>(node);
        temp.push_back(std::move(g));
    }
    if (!clistFree("GKT") || !clistCreate("GKT")) return -1;
    for (Ring& t : temp) {
        off.growMode = 1;
        offsetSetCloseSnap(0);
        std::vector<Ring> rings;
        if (offsetRings(t.e.data(), t.n(), sideOf(t.h), s, t.h, &rings, false, 0, 0) < 0) return -1;
        for (Ring& ring : rings) {
            ring.h.tag = t.h.tag;
            ring.h.leftSide = t.h.leftSide;
            if (!storeRing("GKT", &ring, -1)) return -1;
        }
    }
    clistFree("TEMP");
    return 1;
}

int pocketSpanOffsets(double d, int first, int32_t level) {
    PocketKernel& k = pocketKernel();
    PocketOffsetState& off = pocketOffsetState();
    const CcpParams& p = kvCCPParams;
    const double r = k.toolRadius;
    offsetSetThinTest(0);
    if (cutListReset("CUT_SPAN") < 0 || cutListReset("CUT_BACK") < 0) return -1;
    if (!clistCreate("GKT")) return -1;
    for (int32_t i = clistCount("SPAN") - 1; i >= 0; --i) {
        Ring ring;
        if (!readRing("SPAN", i, &ring)) return -1;
        if (level > 0 && cutPieceOffset(ring.e.data(), &ring.h, r, 1, "CUT_SPAN") < 0) return -1;
        const double dist = d + (first ? pocketAllowanceGet(0) : 0);
        std::vector<Ring> rings;
        if (offsetRings(ring.e.data(), ring.n(), sideOf(ring.h), dist, ring.h, &rings, false, 0, 0) < 0)
            return -1;
        if (!clistDelete("SPAN", i)) return -1;
        for (Ring& g : rings) {
            chainSetSourceTag(g.e.data(), g.n(), ring.h.tag);
            if (!storeRing("GKT", &g, -1)) return -1;
        }
    }
    if (islandsBoundaryContact() && level == 0 && spanTagAlongBoundary("GKT", "MAIN") < 0) return -1;
    const bool merge = !isEqualTol(pocketAllowanceGet(0) + d, 0.0);
    if (merge) {
        if (moveMerging("SPAN", d, false, 0) < 0) return -1;
    } else {
        while (clistCount("GKT") > 0) {
            Ring g;
            if (!readRing("GKT", 0, &g) || !clistDelete("GKT", 0) || !storeRing("SPAN", &g, -1)) return -1;
        }
    }
    ScratchVector<ContourElement> out(kClistMaxElements), region(kClistMaxElements);
    if (!out.ok() || !region.ok()) return -1;
    for (int32_t i = 0; i < clistCount("SPAN");) {
        Ring ring;
        if (!readRing("SPAN", i, &ring)) return -1;
        // Later rings are clipped to the room the tool has inside the outer
        // boundary; without any they would grow outwards for ever.
        if (level > 0 && clistCount("INSEL") == 0) {
            if (!clistDelete("SPAN", i)) return -1;
            continue;
        }
        if (level > 0) {
            ContourHeader rh;
            if (clistGet("INSEL", region.data(), &rh, 0) < 0) return -1;
            const int32_t m =
                cutContourByIslandRetry(ring.e.data(), ring.n(), region.data(), &rh, out.data());
            if (m < 0) return -1;
            if (m == 0) {
                if (!clistDelete("SPAN", i)) return -1;
                continue;
            }
            ring.e.assign(out.begin(), out.begin() + m);
            // With the stock moved to the front a ring outside the stock's room is kept
            // whole. Once it has grown round that room and every contour it lies beyond
            // every boundary of the job: no cut and no crossing can stop it any more, and
            // it would grow level after level until the region tree is full.
            if (k.stockMoved && contourEnclosesList(ring.e.data(), ring.n(), region.data(),
                                                    static_cast<int32_t>(rh.elementCount), "MAIN") == 1) {
                if (!clistDelete("SPAN", i)) return -1;
                continue;
            }
        }
        const bool keep = d <= 0.01 * r + 0.1 || contourCrossesList(ring.e.data(), ring.n(), "MAIN") == 0;
        if (!keep) {
            if (!clistDelete("SPAN", i)) return -1;
            continue;
        }
        if (!isEqualTol(p.filletRadius, 0.0) && (level > 0 || p.filletCorners)) {
            const int32_t m = contourRoundCorners(ring.e.data(), ring.n(), p.filletRadius, out.data(),
                                                  ring.h.ccw != ring.h.leftSide);
            if (m > 0) ring.e.assign(out.begin(), out.begin() + m);
        }
        shortArcsOpen(ring.e.data(), ring.n(), r / 2);
        const int32_t source = ring.h.tag;
        const int32_t node = attach(&ring, level > 0 ? source : -1, level);
        if (node < 0) return -1;
        if (level > 0 && linkSources(node, ring, source) < 0) return -1;
        ring.h.tag = static_cast<int16_t>(node);
        if (!replaceRing("SPAN", &ring, i)) return -1;
        if (level > 0 && cutPieceOffset(ring.e.data(), &ring.h, r, -1, "CUT_BACK") < 0) return -1;
        gcodeFileWriteContour(ring.e.data(), &ring.h);
        ++i;
    }
    off.growMode = 0;
    if (islandsPlaneStart()) {
        islandsSetPlaneStart(0);
        contourReduceList("SPAN", std::min(0.01 * r, k.stepFactor * r), isEqualTol(d, 0.0));
    }
    if (level > 0 && mergeCuts() < 0) return -1;
    return 1;
}

int pocketOpenRingLoop(double s, int orientation) {
    (void)orientation;
    for (int32_t level = 1; clistCount("SPAN") > 0; ++level) {
        const int res = pocketSpanOffsets(s, 0, level);
        if (res < 0) return res;
    }
    return 1;
}

int pocketOpenFirstRings(double r, int orientation) {
    (void)orientation;
    if (pocketSpanOffsets(r, 1, 0) < 0) return -1;
    gcodeFileStart(r);
    return 1;
}

void planeRingsResetState() {
    state().buffer.release();
}
static const RunReset gRunReset(kRunResetCycles, "planeRings", planeRingsResetState);
