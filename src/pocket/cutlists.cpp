#include "pocket/cutlists.h"

#include <cmath>
#include <new>
#include <vector>

#include "geometry/vec.h"
#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/islands.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/restmat.h"
#include "pocket/ringassembly.h"
#include "pocket/ringemit.h"
#include "pocket/ringhelpers.h"
#include "pocket/ringround.h"
#include "pocket/scratch.h"

namespace {

const char* const kCutGkt = "CUT_GKT";
const char* const kCutSpan = "CUT_SPAN";
const char* const kCutBack = "CUT_BACK";
const char* const kSec = "SEC";

struct CutState {
    int active = 0;
    int32_t mode = 0;
};

CutState& state() {
    static CutState s;
    return s;
}

struct Contour {
    std::vector<ContourElement> e;
    ContourHeader h{};
    int32_t n() const { return static_cast<int32_t>(h.elementCount); }
};

bool readAt(const char* list, int32_t index, Contour* c) {
    if (clistGetHeader(list, &c->h, index) < 0) return false;
    try {
        c->e.resize(c->h.elementCount + 2);
    } catch (...) {
        return false;
    }
    return clistGet(list, c->e.data(), &c->h, index) >= 0;
}

bool runsAsBoundary(const ContourHeader& h) {
    return h.ccw == h.leftSide;
}

int16_t markOf(const char* list, int32_t i) {
    ContourHeader h;
    return clistGetHeader(list, &h, i) < 0 ? 0 : h.row;
}

void setMark(const char* list, int32_t i, int16_t mark) {
    ContourHeader h;
    if (clistGetHeader(list, &h, i) < 0) return;
    h.row = mark;
    clistSetHeader(list, &h, i);
}

// The crossings of a and b into records (one free slot in front): their count, or
// -1 with 3030 when they cannot be computed or exceed the cap.
int32_t crossings(const Contour& a, const Contour& b, std::vector<PocketIsect>* records) {
    records->resize(kCutMaxCrossings + 2);
    const int32_t k =
        intersectContours(a.e.data(), a.n(), b.e.data(), b.n(), records->data() + 1, kCutMaxCrossings + 1);
    if (k < 0 || k > kCutMaxCrossings) {
        pocketError(kPocketErrPieceCap);
        return -1;
    }
    return k;
}

// a cut along its k crossings with b into closed pieces with header h: -1 on failure.
int32_t splitBy(const Contour& a, const Contour& b, std::vector<PocketIsect>* records, int32_t k,
                const ContourHeader& h, std::vector<Contour>* pieces) {
    Vec2 s;
    if (!elemPoint(&a.e[0], &s, kElemStart)) return -1;
    (*records)[0] = {s.x, s.y, 0, 1, 0, 1};
    ScratchVector<ContourElement> out(kClistMaxElements);
    ScratchVector<int32_t> starts(kOffsetMaxRings), counts(kOffsetMaxRings);
    if (!out.ok() || !starts.ok() || !counts.ok()) return -1;
    const int32_t m = contourSplice(a.e.data(), &a.h, b.e.data(), &b.h, records->data(), k + 1, out.data(),
                                    kClistMaxElements, starts.data(), counts.data(), kOffsetMaxRings);
    if (m < 0) return -1;
    for (int32_t i = 0; i < m; ++i) {
        Contour p;
        p.e.assign(out.begin() + starts[i], out.begin() + starts[i] + counts[i]);
        p.h = h;
        p.h.elementCount = static_cast<uint32_t>(counts[i]);
        p.h.ccw = contourOrientation(p.e.data(), counts[i]) > 0 ? 1 : 0;
        arcCentreRepair(p.e.data(), counts[i]);
        pieces->push_back(std::move(p));
    }
    return m;
}

bool append(const char* list, const Contour& c) {
    return clistInsert(list, c.e.data(), &c.h, -1) == 1;
}

bool inside(const Contour& a, const Contour& b) {
    return contourContainsChain(a.e.data(), a.n(), b.e.data(), b.n()) != 0;
}

// The offset rings of one contour into vectors; the ring count or the negative offset result.
int32_t offsetInto(const ContourElement* e, int32_t n, int side, double d, std::vector<Contour>* rings,
                   const ContourHeader& h) {
    ScratchVector<ContourElement> buffer(kClistMaxElements);
    ScratchVector<int32_t> starts(kOffsetMaxRings), counts(kOffsetMaxRings);
    if (!buffer.ok() || !starts.ok() || !counts.ok()) return -1;
    int32_t end = 0;
    const int32_t m = offsetContour(e, n, side, d, buffer.data(), &end, starts.data(), counts.data());
    for (int32_t i = 0; i < m; ++i) {
        Contour c;
        c.e.assign(buffer.begin() + starts[i], buffer.begin() + starts[i] + counts[i]);
        c.h = h;
        c.h.elementCount = static_cast<uint32_t>(counts[i]);
        rings->push_back(std::move(c));
    }
    return m;
}

}  // namespace

int cutListsCreate(int32_t enabled) {
    CutState& s = state();
    if (pocketKernel().stockPocket) return 0;
    s.active = 0;
    if (!enabled) return 0;
    if (!clistCreate(kCutGkt) || !clistCreate(kCutSpan) || !clistCreate(kCutBack)) return -1;
    s.active = 1;
    return 0;
}

void cutListsFree() {
    CutState& s = state();
    if (s.active) {
        clistFree(kCutGkt);
        clistFree(kCutSpan);
        clistFree(kCutBack);
    }
    s.active = 0;
}

int cutListsActive() {
    return state().active;
}

int cutListReset(const char* list) {
    if (!state().active || clistCount(list) < 1) return 0;
    clistFree(list);
    return clistCreate(list) ? 0 : -1;
}

void cutModeSet(int32_t mode) {
    state().mode = mode;
}

int32_t cutModeGet() {
    return state().mode;
}

int cutPieceUseful(const ContourElement* contour, int32_t count, const ContourElement* piece,
                   int32_t pieceCount, double d) {
    if (!contour || !piece || count < 1 || pieceCount < 1) return 0;
    Vec2 s, p;
    elemPoint(&contour[0], &s, kElemStart);
    double r = d - 0.05;
    ContourElement circle{};
    circle.type = kElemArc;
    circle.g[kAcx] = s.x;
    circle.g[kAcy] = s.y;
    circle.g[kAr] = r < 0 ? d / 2 : r;
    circle.direction = 1;
    if (elemContourClassify(&circle, piece, pieceCount) == 1) return 0;
    if (r < 0) return 1;
    elemPoint(&piece[0], &p, kElemStart);
    return pointDist2D(&s, &p) >= r ? 1 : 0;
}

int32_t cutSpanOffset(const char* source, const char* destination, double width) {
    if (!state().active) return 0;
    const PocketKernel& k = pocketKernel();
    const int32_t n = clistCount(source);
    int32_t added = 0;
    for (int32_t i = 0; i < n; ++i) {
        Contour c;
        if (!readAt(source, i, &c)) return -1;
        const int side = c.h.leftSide ? 1 : -1;
        pocketOffsetState().growMode = 0;
        ScratchVector<ContourElement> buffer(kClistMaxElements);
        ScratchVector<int32_t> starts(kOffsetMaxRings), counts(kOffsetMaxRings);
        if (!buffer.ok() || !starts.ok() || !counts.ok()) return -1;
        int32_t end = 0;
        int32_t m = offsetContour(c.e.data(), c.n(), side, k.widthFactor * width, buffer.data(), &end,
                                  starts.data(), counts.data());
        if (m < 0) return -1;
        if (m > 0)
            m = ringsFilter(c.e.data(), c.n(), buffer.data(), starts.data(), counts.data(), m,
                            pocketOffsetState().currentDistance, side, c.h.ccw, restElementOutside);
        for (int32_t r = 0; r < m; ++r) {
            ContourElement* ring = buffer.data() + starts[r];
            ContourHeader h = c.h;
            h.ccw = contourOrientation(ring, counts[r]) > 0 ? 1 : 0;
            h.elementCount = static_cast<uint32_t>(counts[r]);
            for (int32_t q = 0; q < counts[r]; ++q) ring[q].sourceTag = c.h.tag;
            if (!clistInsert(destination, ring, &h, -1)) return -1;
            ++added;
        }
    }
    return added;
}

int32_t cutPieceOffset(const ContourElement* elements, const ContourHeader* header, double width, int sign,
                       const char* destination) {
    if (!state().active) return 0;
    if (!elements || !header || header->elementCount < 1) return 0;
    const int32_t n = static_cast<int32_t>(header->elementCount);
    const int side = (header->leftSide ? 1 : -1) * (sign < 0 ? -1 : 1);
    pocketOffsetState().growMode = 0;
    const int snap = offsetCloseSnap();
    if (sign < 0) offsetSetCloseSnap(0);
    std::vector<Contour> rings;
    const int32_t m = offsetInto(elements, n, side, pocketKernel().widthFactor * width, &rings, *header);
    if (sign < 0) offsetSetCloseSnap(snap);
    if (m < 0) return -1;
    const double d = pocketOffsetState().currentDistance;
    const bool open = pocketKernel().openMode != 0;
    int32_t added = 0;
    for (Contour& r : rings) {
        if (sign < 0) contourReverse(r.e.data(), r.n());
        r.h.ccw = contourOrientation(r.e.data(), r.n()) > 0 ? 1 : 0;
        if (!cutPieceUseful(elements, n, r.e.data(), r.n(), d)) continue;
        if (!open)
            for (ContourElement& e : r.e) e.sourceTag = sign > 0 ? header->tag : -1;
        if (!append(destination, r)) return -1;
        ++added;
    }
    return added;
}

int32_t cutPairSplit(const ContourElement* ea, const ContourHeader* ha, const ContourElement* eb,
                     const ContourHeader* hb, const char* destination) {
    Contour a, b;
    a.e.assign(ea, ea + ha->elementCount);
    a.h = *ha;
    b.e.assign(eb, eb + hb->elementCount);
    b.h = *hb;
    std::vector<PocketIsect> records;
    const int32_t k = crossings(a, b, &records);
    if (k < 0) return -1;
    if (k >= 2) {
        std::vector<Contour> pieces;
        if (splitBy(a, b, &records, k, a.h, &pieces) < 0) return -1;
        for (const Contour& p : pieces)
            if (!append(destination, p)) return -1;
        return static_cast<int32_t>(pieces.size());
    }
    const bool inA = inside(a, b), inB = !inA && inside(b, a);
    const bool boundaryA = runsAsBoundary(a.h), boundaryB = runsAsBoundary(b.h);
    std::vector<const Contour*> out;
    if (boundaryA && boundaryB) {
        if (inA)
            out = {&a};
        else if (inB)
            out = {&b};
    } else if (!boundaryA && boundaryB) {
        if (inA)
            out = {&b, &a};
        else if (!inB)
            out = {&b};
    } else if (boundaryA && !boundaryB) {
        if (inB)
            out = {&a, &b};
        else if (!inA)
            out = {&a};
    } else {
        if (inA)
            out = {&b};
        else if (inB)
            out = {&a};
        else
            out = {&a, &b};
    }
    for (const Contour* c : out)
        if (!append(destination, *c)) return -1;
    return static_cast<int32_t>(out.size());
}

static int32_t listCombine(const char* la, const char* lb, int callMode) {
    CutState& s = state();
    if (!s.active) return 0;
    for (const char* l : {la, lb})
        for (int32_t i = 0; i < clistCount(l); ++i) setMark(l, i, 0);
    std::vector<PocketIsect> records;
    for (int32_t jb = 0; jb < clistCount(lb); ++jb) {
        for (int32_t ia = 0; ia < clistCount(la);) {
            Contour a, b;
            if (!readAt(la, ia, &a) || !readAt(lb, jb, &b)) return -1;
            const int32_t k = crossings(a, b, &records);
            if (k < 0) return -1;
            if (k >= 2) {
                std::vector<Contour> pieces;
                if (splitBy(a, b, &records, k, a.h, &pieces) < 0) return -1;
                if (!clistDelete(la, ia)) return -1;
                for (size_t p = 0; p < pieces.size(); ++p)
                    if (!clistInsert(la, pieces[p].e.data(), &pieces[p].h, ia + static_cast<int32_t>(p)))
                        return -1;
                if (!pieces.empty()) setMark(lb, jb, -1);
                ia += static_cast<int32_t>(pieces.size());
                continue;
            }
            if (inside(a, b) && !runsAsBoundary(b.h)) {
                setMark(la, ia, -1);
            } else if (inside(b, a) && !runsAsBoundary(a.h)) {
                setMark(la, ia, -1);
                setMark(lb, jb, -1);
            } else if (inside(b, a) && runsAsBoundary(a.h) && runsAsBoundary(b.h)) {
                setMark(lb, jb, a.h.ccw == b.h.ccw ? -1 : 1);
            }
            ++ia;
        }
    }
    for (int32_t ia = clistCount(la) - 1; ia >= 0; --ia)
        if (markOf(la, ia) < 0 && !clistDelete(la, ia)) return -1;
    for (int32_t jb = 0; jb < clistCount(lb);) {
        Contour b;
        if (!readAt(lb, jb, &b)) return -1;
        const int16_t mark = b.h.row;
        if (runsAsBoundary(b.h) && (mark > 0 || s.mode == 2 || (s.mode == 1 && callMode == 1)) &&
            !append(la, b))
            return -1;
        if (mark < 0) {
            if (!clistDelete(lb, jb)) return -1;
        } else {
            ++jb;
        }
    }
    return clistCount(la);
}

static int32_t listSelfSplit(const char* la) {
    std::vector<PocketIsect> records;
    // Every restart consumes a crossing pair; the bound stops a pair that splits into itself.
    int restarts = 0;
    for (int32_t i = 0; i < clistCount(la); ++i) {
        for (int32_t j = i + 1; j < clistCount(la); ++j) {
            Contour ai, aj;
            if (!readAt(la, i, &ai) || !readAt(la, j, &aj)) return -1;
            const int32_t k = crossings(aj, ai, &records);
            if (k < 0) return -1;
            if (k < 2) continue;
            std::vector<Contour> pieces;
            if (splitBy(aj, ai, &records, k, aj.h, &pieces) < 0) return -1;
            if (!clistDelete(la, j) || !clistDelete(la, i)) return -1;
            for (size_t p = 0; p < pieces.size(); ++p)
                if (!clistInsert(la, pieces[p].e.data(), &pieces[p].h, static_cast<int32_t>(p))) return -1;
            if (pieces.empty()) {
                j = i;  // both gone: go on with the contours that moved up
                continue;
            }
            if (++restarts > 1000) return clistCount(la);
            i = -1;
            break;
        }
    }
    return clistCount(la);
}

static int listsOverlap(const char* la, const char* lb) {
    if (!state().active) return 0;
    std::vector<PocketIsect> records;
    for (int32_t i = 0; i < clistCount(la); ++i)
        for (int32_t j = 0; j < clistCount(lb); ++j) {
            Contour a, b;
            if (!readAt(la, i, &a) || !readAt(lb, j, &b)) return -1;
            const int32_t k = crossings(a, b, &records);
            if (k < 0) return -1;
            if (k >= 2) return 1;
            const int w = contourContainsChain(a.e.data(), a.n(), b.e.data(), b.n());
            const int o = contourOrientation(b.e.data(), b.n());
            if ((w == 1 && o == -1) || (w == -1 && o == 1)) return 1;
            const int w2 = contourContainsChain(b.e.data(), b.n(), a.e.data(), a.n());
            const int o2 = contourOrientation(a.e.data(), a.n());
            if ((w2 == 1 && o2 == -1) || (w2 == -1 && o2 == 1)) return 1;
        }
    return 0;
}

static int32_t listsUnion(const char* la, const char* lb, int move) {
    if (!clistCreate(kSec)) return -1;
    struct SecGuard {
        ~SecGuard() { clistFree(kSec); }
    } guard;
    for (int32_t jb = 0; jb < clistCount(lb); ++jb) {
        Contour b;
        if (!readAt(lb, jb, &b)) return -1;
        if (runsAsBoundary(b.h)) continue;
        for (int32_t ia = 0; ia < clistCount(la); ++ia) {
            Contour a;
            if (!readAt(la, ia, &a)) return -1;
            if (runsAsBoundary(a.h) && cutPairSplit(a.e.data(), &a.h, b.e.data(), &b.h, kSec) < 0) return -1;
        }
        for (int32_t ia = 0; ia < clistCount(la); ++ia) {
            Contour a;
            if (!readAt(la, ia, &a)) return -1;
            if (runsAsBoundary(a.h)) continue;
            const int32_t before = clistCount(kSec);
            for (int32_t si = 0; si < before; ++si) {
                Contour sc;
                if (!readAt(kSec, si, &sc)) return -1;
                if (runsAsBoundary(sc.h)) {
                    if (cutPairSplit(a.e.data(), &a.h, sc.e.data(), &sc.h, kSec) < 0) return -1;
                } else if (!append(kSec, sc)) {
                    return -1;
                }
            }
            for (int32_t si = 0; si < before; ++si)
                if (!clistDelete(kSec, 0)) return -1;
        }
        clistClear(la);
        for (int32_t si = 0; si < clistCount(kSec); ++si) {
            Contour sc;
            if (!readAt(kSec, si, &sc) || !append(la, sc)) return -1;
        }
        clistClear(kSec);
    }
    if (move) {
        for (int32_t jb = 0; jb < clistCount(lb);) {
            Contour b;
            if (!readAt(lb, jb, &b)) return -1;
            if (!runsAsBoundary(b.h)) {
                ++jb;
                continue;
            }
            if (!append(la, b) || !clistDelete(lb, jb)) return -1;
        }
    }
    return clistCount(la);
}

static int listPrune(const char* la, const char* lb) {
    std::vector<PocketIsect> records;
    int any = 0;
    for (int32_t ia = 0; ia < clistCount(la);) {
        Contour a;
        if (!readAt(la, ia, &a)) return -1;
        bool gone = false;
        for (int32_t jb = 0; runsAsBoundary(a.h) && jb < clistCount(lb) && !gone; ++jb) {
            Contour b;
            if (!readAt(lb, jb, &b)) return -1;
            if (runsAsBoundary(b.h)) continue;
            const int32_t k = crossings(a, b, &records);
            if (k < 0) return -1;
            gone = k > 0 || inside(b, a);
        }
        if (gone) {
            if (!clistDelete(la, ia)) return -1;
            any = 1;
        } else {
            ++ia;
        }
    }
    return any;
}

int cutPieceFits(const ContourElement* e, int32_t n, const char* list, double c) {
    const PocketKernel& k = pocketKernel();
    std::vector<PocketIsect> records(kCutMaxCrossings + 1);
    for (int32_t j = 0; j < clistCount(list); ++j) {
        Contour m;
        if (!readAt(list, j, &m)) return -1;
        const int32_t crossings =
            intersectContours(e, n, m.e.data(), m.n(), records.data(), kCutMaxCrossings + 1);
        if (crossings < 0) return -1;  // without memory, or past the table as the crossings count takes it
        if (crossings != 0) return 0;
        const bool in = contourContainsChain(e, n, m.e.data(), m.n()) != 0;
        if (j == 0 ? !in : in) return 0;
        if (c > k.tolerance) {
            const double d = ringDistance(e, n, m.e.data(), m.n());
            if (d < c || d < 0.1 * k.toolRadius) return 0;
        }
    }
    if (k.stepFactor < 0.5 && contourLength(e, n) > 25 * k.toolRadius) return 0;
    return 1;
}

// The steps work in vectors: memory that cannot be had fails the step as documented.
template <class Step>
static int32_t minusOneShortOfMemory(Step step) {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

int32_t cutListCombine(const char* la, const char* lb, int callMode) {
    return minusOneShortOfMemory([&] { return listCombine(la, lb, callMode); });
}

int32_t cutListSelfSplit(const char* la) {
    return minusOneShortOfMemory([&] { return listSelfSplit(la); });
}

int cutListsOverlap(const char* la, const char* lb) {
    return minusOneShortOfMemory([&] { return listsOverlap(la, lb); });
}

int32_t cutListsUnion(const char* la, const char* lb, int move) {
    return minusOneShortOfMemory([&] { return listsUnion(la, lb, move); });
}

int cutListPrune(const char* la, const char* lb) {
    return minusOneShortOfMemory([&] { return listPrune(la, lb); });
}

static int listsMerge() {
    CutState& s = state();
    if (!s.active) return 0;
    const PocketKernel& k = pocketKernel();
    // A failed step stops the merge: half-combined lists would attach cuts that were never checked
    // against each other.
    auto fail = [] {
        pocketError(kPocketErrStep);
        for (const char* l : {kCutGkt, kCutSpan, kCutBack}) clistClear(l);
        return -1;
    };
    if (k.openMode) {
        if (cutListSelfSplit(kCutSpan) < 0) return fail();
        if (clistCount(kCutBack) < 1) return 0;
        const int overlap = cutListsOverlap(kCutSpan, kCutBack);
        if (overlap < 0) return fail();
        if (overlap == 0) return 0;
        int32_t r = cutListCombine(kCutSpan, kCutBack, 1);
        if (r < 0) return fail();
        if (r == 0 && s.mode == 0) return 0;
        if (s.mode == 2 && clistCount(kCutGkt) < 1) return 0;
        r = cutListCombine(kCutSpan, kCutGkt, 2);
        if (r < 0) return fail();
        if (r == 0) return 0;
        if (clistCount(kCutBack) > 0 && cutListCombine(kCutSpan, kCutBack, 2) < 0) return fail();
    } else {
        if (cutListsUnion(kCutSpan, kCutBack, 1) < 0) return fail();
        if (cutListPrune(kCutGkt, kCutBack) < 0) return fail();
        if (cutListsUnion(kCutSpan, kCutGkt, s.mode == 2) < 0) return fail();
    }
    const double r = k.toolRadius;
    double c = r;
    if (r + pocketAllowanceGet(0) <= 0.1) c = 2 * r * k.stepFactor * 0.4;
    const double fillet = kvCCPParams.filletRadius * 0.1;
    std::vector<ContourElement> rounded;
    for (int32_t i = 0; i < clistCount(kCutSpan); ++i) {
        Contour w;
        if (!readAt(kCutSpan, i, &w)) return fail();
        if (!isEqualTol(fillet, 0.0)) {
            rounded.resize(kClistMaxElements);
            const int32_t m = contourRoundCorners(w.e.data(), w.n(), fillet, rounded.data(), 0);
            if (m > 0) {
                w.e.assign(rounded.begin(), rounded.begin() + m);
                w.h.elementCount = static_cast<uint32_t>(m);
            }
        }
        // A contour that could not be read is a failed step, not a piece that does not fit: dropped
        // silently, its cut would be missing from a merge that reports success.
        const int fits = cutPieceFits(w.e.data(), w.n(), "MAIN", c);
        if (fits < 0) return fail();
        if (fits != 1) continue;
        shortArcsOpen(w.e.data(), w.n(), r / 2);
        const RegionNode* parent = regionNode(w.h.tag);
        const int32_t node = regionAttachContour(w.e.data(), &w.h, w.h.tag, parent ? parent->level + 1 : 0);
        if (node < 0) return -1;
        for (int32_t q = 0; q < w.n(); ++q) {
            const int32_t t = w.e[q].sourceTag;
            if (t >= 0 && !regionIsParent(node, t)) regionAddLink(node, t);
        }
    }
    if (s.active && clistCount(kCutSpan) > 0) {
        clistFree(kCutSpan);
        if (!clistCreate(kCutSpan)) return -1;
    }
    return 1;
}

int cutListsMerge() {
    try {
        return listsMerge();
    } catch (const std::bad_alloc&) {
        // As a failed step: nothing half-merged stays.
        pocketError(kPocketErrStep);
        for (const char* l : {kCutGkt, kCutSpan, kCutBack}) clistClear(l);
        return -1;
    }
}

void cutListsResetState() {
    state() = CutState{};
}
static const RunReset gRunReset(kRunResetCycles, "cutLists", cutListsResetState);
