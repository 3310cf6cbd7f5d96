#include "pocket/islands.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/vec.h"
#include "kernel/base/runreset.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/contourreduce.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/ringemit.h"

namespace {

constexpr double kPointTol = 0.0001;

struct IslandState {
    int32_t cutDegenerate = 0;
    int planeStart = 0;
    int boundaryContact = 0;
};

IslandState& state() {
    static IslandState s;
    return s;
}

Vec2 midOf(const ContourElement& e) {
    if (e.type == kElemArc) {
        Vec2 p;
        arcPointAt(&e, 0.5, &p);
        return p;
    }
    return {(e.g[kLx1] + e.g[kLx2]) / 2, (e.g[kLy1] + e.g[kLy2]) / 2};
}

bool samePoint(const Vec2& a, const Vec2& b) {
    return std::fabs(a.x - b.x) < kPointTol && std::fabs(a.y - b.y) < kPointTol;
}

// Contour index of a list into a vector: its count, or -1.
int32_t readContour(const char* list, int32_t index, std::vector<ContourElement>* out, ContourHeader* h) {
    if (clistGetHeader(list, h, index) < 0) return -1;
    try {
        out->resize(h->elementCount + 2);
    } catch (...) {
        return -1;
    }
    if (clistGet(list, out->data(), h, index) < 0) return -1;
    return static_cast<int32_t>(h->elementCount);
}

// Offset into fresh vectors, one per ring; the ring count or the negative offset result.
int32_t offsetRings(const ContourElement* in, int32_t count, int side, double distance,
                    std::vector<std::vector<ContourElement>>* rings) {
    std::vector<ContourElement> buffer;
    std::vector<int32_t> starts(kOffsetMaxRings), counts(kOffsetMaxRings);
    try {
        buffer.resize(kClistMaxElements);
    } catch (...) {
        return -1;
    }
    int32_t end = 0;
    const int32_t n =
        offsetContour(in, count, side, distance, buffer.data(), &end, starts.data(), counts.data());
    for (int32_t i = 0; i < n; ++i)
        rings->emplace_back(buffer.begin() + starts[i], buffer.begin() + starts[i] + counts[i]);
    return n;
}

// The chain from point p on element i to point q on element j (1-based), wrapping: the count, or -1.
int32_t copyBetweenPoints(const ContourElement* chain, int32_t count, const Vec2& p, int32_t i, const Vec2& q,
                          int32_t j, std::vector<ContourElement>* out) {
    PocketIsect r[2] = {{p.x, p.y, 0, i, 0, kHitCreated}, {q.x, q.y, 0, j, 0, kHitCreated}};
    out->resize(static_cast<size_t>(count) + 2);
    int32_t n = 0;
    if (chainCopyBetween(chain, count, 1, r, 2, 0, out->data(), &n) < 0) return -1;
    out->resize(n);
    return n;
}

// Length along the closed chain from its start to the hit's point (on the hit's element of B).
double positionAlong(const ContourElement* b, int32_t countB, const PocketIsect& hit) {
    double along = 0;
    const int32_t e = std::clamp(hit.elemB - 1, 0, countB - 1);
    for (int32_t i = 0; i < e; ++i) along += elemLength(&b[i]);
    const Vec2 p{hit.x, hit.y};
    double rest = 0;
    return along + elemLengthTo(&b[e], &p, &rest);
}

// Whether a hit lies strictly between the positions from and to, going forward round the chain.
bool hitBetween(const ContourElement* b, int32_t countB, const PocketIsect* hits, int32_t nHits, double from,
                double to) {
    const double total = contourLength(b, countB);
    const double span = std::fmod(to - from + 2 * total, total);
    for (int32_t h = 0; h < nHits; ++h) {
        const double at = std::fmod(positionAlong(b, countB, hits[h]) - from + 2 * total, total);
        if (at > kPointTol && at < span - kPointTol) return true;
    }
    return false;
}

bool openTag(int32_t tag) {
    return tag < 0;
}

}  // namespace

int32_t nextOpenElement(const ContourElement* e, int32_t count, int32_t from) {
    for (int32_t k = 0; k < count; ++k) {
        const int32_t i = ((from + k) % count + count) % count;
        if (openTag(e[i].sourceTag)) return i;
    }
    return -1;
}

int32_t nextMaterialElement(const ContourElement* e, int32_t count, int32_t from) {
    for (int32_t k = 0; k < count; ++k) {
        const int32_t i = ((from + k) % count + count) % count;
        if (!openTag(e[i].sourceTag)) return i;
    }
    return -1;
}

int32_t prevOpenElement(const ContourElement* e, int32_t count, int32_t from) {
    for (int32_t k = 0; k < count; ++k) {
        const int32_t i = ((from - k) % count + count) % count;
        if (openTag(e[i].sourceTag)) return i;
    }
    return -1;
}

int32_t prevMaterialElement(const ContourElement* e, int32_t count, int32_t from) {
    for (int32_t k = 0; k < count; ++k) {
        const int32_t i = ((from - k) % count + count) % count;
        if (!openTag(e[i].sourceTag)) return i;
    }
    return -1;
}

int positionAtMaterialStart(const ContourElement* e, int32_t count, const RingPosition* position) {
    int32_t element = 0;
    Vec2 p;
    if (!positionPoint(position, e, count, &element, &p)) return 0;
    int32_t i = element - 1;
    if (!samePoint(p, elemStartOf(e[i]))) {
        if (!samePoint(p, elemEndOf(e[i]))) return 0;
        i = (i + 1) % count;
    }
    const int32_t prev = (i + count - 1) % count;
    return !openTag(e[i].sourceTag) && openTag(e[prev].sourceTag) ? 1 : 0;
}

int materialEndBefore(const ContourElement* e, int32_t count, const RingPosition* position,
                      RingPosition* out) {
    int32_t element = 0;
    Vec2 p;
    if (!positionPoint(position, e, count, &element, &p)) return -1;
    const int32_t m = prevMaterialElement(e, count, element - 2);
    if (m < 0) return -1;
    const Vec2 q = elemEndOf(e[m]);
    *out = {m + 1, q.x, q.y};
    return 1;
}

int openStartAfter(const ContourElement* e, int32_t count, const RingPosition* position, RingPosition* out) {
    int32_t element = 0;
    Vec2 p;
    if (!positionPoint(position, e, count, &element, &p)) return -1;
    if (positionAtMaterialStart(e, count, position)) {
        *out = {element, p.x, p.y};
        return 1;
    }
    const int32_t m = nextMaterialElement(e, count, element - 1);
    const int32_t o = m < 0 ? -1 : nextOpenElement(e, count, m);
    if (o < 0) return -1;
    const Vec2 q = elemStartOf(e[o]);
    *out = {o + 1, q.x, q.y};
    return 1;
}

int materialRunStart(const ContourElement* e, int32_t count, const RingPosition* position,
                     RingPosition* out) {
    int32_t element = 0;
    Vec2 p;
    if (!positionPoint(position, e, count, &element, &p)) return -1;
    const int32_t o = prevOpenElement(e, count, element - 1);
    if (o < 0) return -1;
    const int32_t s = (o + 1) % count;
    const Vec2 q = elemStartOf(e[s]);
    *out = {s + 1, q.x, q.y};
    return 1;
}

int32_t shortArcsOpen(ContourElement* e, int32_t count, double limit) {
    int32_t changed = 0;
    for (int32_t i = 0; i < count && count > 2; ++i) {
        ContourElement& a = e[i];
        if (a.type != kElemArc || openTag(a.sourceTag)) continue;
        if (!openTag(e[(i + count - 1) % count].sourceTag) || !openTag(e[(i + 1) % count].sourceTag))
            continue;
        const Vec2 s = elemStartOf(a), t = elemEndOf(a);
        if (pointDist2D(&s, &t) < limit) {
            a.sourceTag = kIslandOpenTag;
            ++changed;
        }
    }
    return changed;
}

int contourCrossesList(const ContourElement* e, int32_t count, const char* list) {
    const int32_t n = clistCount(list);
    std::vector<ContourElement> c;
    std::vector<PocketIsect> hits(kIslandMaxHits + 1);
    for (int32_t j = 1; j < n; ++j) {
        ContourHeader h;
        const int32_t m = readContour(list, j, &c, &h);
        if (m < 1) continue;
        for (int32_t i = 0; i < count; ++i)
            if (!openTag(e[i].sourceTag) &&
                intersectContours(&e[i], 1, c.data(), m, hits.data(), kIslandMaxHits) != 0)
                return 1;
    }
    return 0;
}

namespace {

struct Box {
    Vec2 lo{HUGE_VAL, HUGE_VAL}, hi{-HUGE_VAL, -HUGE_VAL};
};

Box boxOf(const ContourElement* e, int32_t count) {
    Box b;
    for (int32_t i = 0; i < count; ++i) {
        Vec2 lo, hi;
        elemBoundingBox(&e[i], &lo, &hi);
        b.lo = {std::min(b.lo.x, lo.x), std::min(b.lo.y, lo.y)};
        b.hi = {std::max(b.hi.x, hi.x), std::max(b.hi.y, hi.y)};
    }
    return b;
}

// Whether the closed contour e holds c: no crossing, and c's start lies inside e off its edge.
bool holds(const ContourElement* e, int32_t count, const Box& box, const ContourElement* c, int32_t m,
           std::vector<PocketIsect>& hits) {
    // Anything inside e lies within e's box: most contours fail here, before the crossings.
    const Box cb = boxOf(c, m);
    if (!(cb.lo.x >= box.lo.x && cb.lo.y >= box.lo.y && cb.hi.x <= box.hi.x && cb.hi.y <= box.hi.y))
        return false;
    if (intersectContours(e, count, c, m, hits.data(), kIslandMaxHits + 1) != 0) return false;
    Vec2 p;
    if (!elemPoint(&c[0], &p, kElemStart)) return false;
    return contourDistance(&p, e, count) > kPointTol && pointInContour(e, count, &p) != 0;
}

}  // namespace

int contourEnclosesList(const ContourElement* e, int32_t count, const ContourElement* region,
                        int32_t regionCount, const char* list) {
    if (!e || count < 1 || !region || regionCount < 1) return 0;
    const Box box = boxOf(e, count);
    std::vector<PocketIsect> hits(kIslandMaxHits + 1);
    if (!holds(e, count, box, region, regionCount, hits)) return 0;
    std::vector<ContourElement> c;
    for (int32_t j = 0; j < clistCount(list); ++j) {
        ContourHeader h;
        const int32_t m = readContour(list, j, &c, &h);
        if (m < 1 || !holds(e, count, box, c.data(), m, hits)) return 0;
    }
    return 1;
}

int contourInsideOpenPart(const ContourElement* e, int32_t count, const char* list) {
    if (!pocketKernel().openMode) return 0;
    const int32_t n = clistCount(list);
    std::vector<ContourElement> c;
    for (int32_t j = 0; j < n; ++j) {
        ContourHeader h;
        const int32_t m = readContour(list, j, &c, &h);
        if (m < 1 || !h.stock || h.ccw == h.leftSide) continue;
        if (contourContainsChain(e, count, c.data(), m) != 0) return 1;
    }
    return 0;
}

int clistReverseAll(const char* list) {
    const int32_t n = clistCount(list);
    std::vector<ContourElement> c;
    for (int32_t j = 0; j < n; ++j) {
        ContourHeader h;
        const int32_t m = readContour(list, j, &c, &h);
        if (m < 0) return -1;
        contourReverse(c.data(), m);
        for (int32_t i = 0; i < m; ++i)
            if (c[i].sourceTag >= 0) c[i].sourceTag = j;
        h.ccw = h.ccw ? 0 : 1;
        h.leftSide = h.leftSide ? 0 : 1;
        if (!clistReplace(list, c.data(), &h, j)) return -1;
    }
    return 0;
}

int clistNumberAll(const char* list) {
    const int32_t n = clistCount(list);
    std::vector<ContourElement> c;
    for (int32_t j = 0; j < n; ++j) {
        ContourHeader h;
        const int32_t m = readContour(list, j, &c, &h);
        if (m < 0) return -1;
        for (int32_t i = 0; i < m; ++i) c[i].sourceTag = j;
        if (!clistReplace(list, c.data(), &h, j)) return -1;
    }
    return 0;
}

int spanTagAlongBoundary(const char* span, const char* boundary) {
    std::vector<ContourElement> b, c;
    ContourHeader hb;
    const int32_t nb = readContour(boundary, 0, &b, &hb);
    if (nb < 1) return -1;
    std::vector<PocketIsect> hits(kIslandMaxHits + 1);
    const int32_t n = clistCount(span);
    for (int32_t j = 0; j < n; ++j) {
        ContourHeader h;
        const int32_t m = readContour(span, j, &c, &h);
        if (m < 0) return -1;
        std::vector<ContourElement> out;
        for (int32_t i = 0; i < m; ++i) {
            ContourElement e = c[i];
            const int32_t k = intersectContours(&e, 1, b.data(), nb, hits.data(), kIslandMaxHits);
            if (k < 0) return -1;
            if (k >= 2) {
                e.sourceTag = 0;
            } else if (k == 1) {
                const Vec2 x{hits[0].x, hits[0].y};
                if (!samePoint(x, elemStartOf(e)) && !samePoint(x, elemEndOf(e))) {
                    ContourElement first = e, second = e;
                    const Vec2 s = elemStartOf(e), t = elemEndOf(e);
                    elemTrim(&first, &s, &x);
                    elemTrim(&second, &x, &t);
                    for (ContourElement* half : {&first, &second}) {
                        const Vec2 mid = midOf(*half);
                        if (pointInContour(b.data(), nb, &mid) != 0) half->sourceTag = 0;
                    }
                    out.push_back(first);
                    out.push_back(second);
                    continue;
                }
            } else {
                const Vec2 mid = midOf(e);
                e.sourceTag = pointInContour(b.data(), nb, &mid) != 0 ? 0 : kIslandOpenTag;
            }
            out.push_back(e);
        }
        if (out.size() > static_cast<size_t>(kClistMaxElements)) {
            pocketError(kPocketErrElementCap);
            return -1;
        }
        h.elementCount = static_cast<uint32_t>(out.size());
        if (!clistReplace(span, out.data(), &h, j)) return -1;
    }
    return 1;
}

int inputIslandsInside(const char* list) {
    std::vector<ContourElement> outer, c;
    ContourHeader h;
    const int32_t n0 = clistCount(list) > 0 ? readContour(list, 0, &outer, &h) : -1;
    if (n0 < 1) {
        pocketError(kPocketErrEmptyInput);
        return -1;
    }
    std::vector<PocketIsect> hits(kIslandMaxHits + 1);
    const int32_t n = clistCount(list);
    for (int32_t j = 1; j < n; ++j) {
        const int32_t m = readContour(list, j, &c, &h);
        if (m < 1) continue;
        if (intersectContours(c.data(), m, outer.data(), n0, hits.data(), kIslandMaxHits) != 0) continue;
        if (contourContainsChain(c.data(), m, outer.data(), n0) == 0) {
            pocketError(kPocketErrNesting);
            return 0;
        }
    }
    return 1;
}

int pocketIslandsSpans(double toolRadius, const double* allowance, int orientation) {
    if (!allowance) return -1;
    IslandState& s = state();
    const double d = toolRadius + allowance[0];
    const int zero = isEqualTol(d, 0.0);
    const double reduceTol = 0.01 * toolRadius;
    s.cutDegenerate = 0;
    if (!clistCreate("SPAN") || !clistCreate("INSEL")) return -1;
    std::vector<ContourElement> outer, c;
    ContourHeader h0;
    const int32_t n0 = readContour("MAIN", 0, &outer, &h0);
    if (n0 < 1) return -1;
    s.planeStart = 1;
    std::vector<std::vector<ContourElement>> rings;
    if (offsetRings(outer.data(), n0, -orientation, d, &rings) < 0) return -1;
    for (std::vector<ContourElement>& r : rings) {
        ContourHeader h = h0;
        h.elementCount = static_cast<uint32_t>(r.size());
        h.tag = 0;
        if (!clistInsert("INSEL", r.data(), &h, -1)) return -1;
    }
    if (!clistCreate("GKT")) return -1;
    const int32_t n = clistCount("MAIN");
    for (int32_t i = 1; i < n; ++i) {
        ContourHeader h;
        const int32_t m = readContour("MAIN", i, &c, &h);
        if (m < 0) return -1;
        h.tag = static_cast<int16_t>(h.tag - 1);
        if (s.boundaryContact)
            for (int32_t k = 0; k < m; ++k) {
                if (c[k].sourceTag >= 0) continue;
                Vec2 on;
                RingPosition at;
                if (elemRingDistance(&c[k], outer.data(), n0, &on, &at) <= 0.1) c[k].sourceTag = i;
            }
        if (!clistInsert("SPAN", c.data(), &h, -1)) return -1;
    }
    contourReduceList("INSEL", reduceTol, zero);
    return 1;
}

int pocketIslandRings(int32_t node, int side, double distance) {
    std::vector<ContourElement> insel;
    ContourHeader h;
    if (clistCount("INSEL") < 1 || readContour("INSEL", 0, &insel, &h) < 1) return 0;
    state().planeStart = 0;
    std::vector<std::vector<ContourElement>> rings;
    const int32_t nr =
        offsetRings(insel.data(), static_cast<int32_t>(h.elementCount), side, distance, &rings);
    if (nr <= 0) return -1;
    size_t best = 0;
    for (size_t i = 1; i < rings.size(); ++i)
        if (rings[i].size() > rings[best].size()) best = i;
    const std::vector<ContourElement>& ring = rings[best];
    const RegionNode* rn = regionNode(node);
    if (!rn) return -1;
    const int32_t n = static_cast<int32_t>(rn->elementCount);
    std::vector<ContourElement> c(n > 0 ? n : 1);
    if (n < 1 || !regionLoadElements(c.data(), n, rn->elements)) return -1;
    std::vector<PocketIsect> hits(kIslandMaxHits + 1);
    const int32_t nring = static_cast<int32_t>(ring.size());
    bool opened = false;
    for (int32_t i = 0; i < n;) {
        if (openTag(c[i].sourceTag)) {
            ++i;
            continue;
        }
        int32_t j = i;
        while (j + 1 < n && !openTag(c[j + 1].sourceTag)) ++j;
        const int32_t k =
            intersectContours(&c[i], j - i + 1, ring.data(), nring, hits.data(), kIslandMaxHits);
        const Vec2 mid = midOf(c[i]);
        if (k == 0 && pointInContour(ring.data(), nring, &mid) == 0) {
            for (int32_t q = i; q <= j; ++q) c[q].sourceTag = kIslandOpenTag;
            opened = true;
        }
        i = j + 1;
    }
    if (opened && !regionSaveElements(c.data(), n, rn->elements)) return -1;
    return 1;
}

int32_t islandPiecesWalk(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB,
                         PocketIsect* hits, int32_t nHits, std::vector<ContourElement>* buffer,
                         std::vector<IslandPiece>* pieces) {
    IslandState& s = state();
    const int stockMoved = pocketKernel().stockMoved;
    std::vector<ContourElement> piece(static_cast<size_t>(countA) + 2);
    bool prevRejected = false;
    for (int32_t h = 0; h < nHits && nHits > 1; ++h) {
        int32_t n = 0;
        const int32_t next = chainCopyBetween(a, countA, 1, hits, nHits, h, piece.data(), &n);
        if (next < 0) return -1;
        n = contourClean(piece.data(), n);
        if (n < 1) continue;
        // Pieces alternate in and out of the region; with a stock contour moved to the
        // front the region is the stock, and what lies outside it remains.
        const bool inside = contourContainsChain(piece.data(), n, b, countB) != 0;
        if (inside == (stockMoved != 0)) {
            if (prevRejected) ++s.cutDegenerate;
            prevRejected = true;
            continue;
        }
        prevRejected = false;
        if (buffer->size() + n > static_cast<size_t>(kClistMaxElements)) {
            pocketError(kPocketErrElementCap);
            return -1;
        }
        pieces->push_back({static_cast<int32_t>(buffer->size()), n, h, next});
        buffer->insert(buffer->end(), piece.begin(), piece.begin() + n);
    }
    // States change only now: the copies above look for the next hit still in its created state.
    for (int32_t h = 0; h < nHits; ++h) hits[h].state = kHitReached;
    for (const IslandPiece& p : *pieces) hits[p.fromHit].state = kHitPieceStart;
    return static_cast<int32_t>(pieces->size());
}

int32_t islandPiecesJoin(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB,
                         const PocketIsect* hits, int32_t nHits, const std::vector<ContourElement>& buffer,
                         const std::vector<IslandPiece>& pieces, ContourElement* out) {
    int32_t n = 0;
    std::vector<ContourElement> link, other;
    for (size_t k = 0; k < pieces.size(); ++k) {
        const IslandPiece& p = pieces[k];
        const IslandPiece& q = pieces[(k + 1) % pieces.size()];
        if (p.toHit < 0 || p.toHit >= nHits || q.fromHit < 0 || q.fromHit >= nHits) return -2;
        if (n + p.count > kClistMaxElements) {
            pocketError(kPocketErrElementCap);
            return -1;
        }
        for (int32_t i = 0; i < p.count; ++i) out[n++] = buffer[p.start + i];
        const PocketIsect& from = hits[p.toHit];
        const PocketIsect& to = hits[q.fromHit];
        const Vec2 pf{from.x, from.y}, pt{to.x, to.y};
        if (samePoint(pf, pt)) continue;
        // Of the two ways round the region, the one that meets no other hit and runs inside the
        // contour closes the remaining part; against B's direction when that does not decide.
        if (copyBetweenPoints(b, countB, pt, to.elemB, pf, from.elemB, &link) < 0) return -2;
        contourReverse(link.data(), static_cast<int32_t>(link.size()));
        if (!link.empty() && copyBetweenPoints(b, countB, pf, from.elemB, pt, to.elemB, &other) > 0) {
            const double p0 = positionAlong(b, countB, from), p1 = positionAlong(b, countB, to);
            const bool otherClear = !hitBetween(b, countB, hits, nHits, p0, p1);
            const bool linkClear = !hitBetween(b, countB, hits, nHits, p1, p0);
            const Vec2 mLink = midOf(link[0]), mOther = midOf(other[0]);
            const bool linkGood = linkClear && pointInContour(a, countA, &mLink) != 0;
            const bool otherGood = otherClear && pointInContour(a, countA, &mOther) != 0;
            if (otherGood && !linkGood) link.swap(other);
        }
        int32_t m = contourClean(link.data(), static_cast<int32_t>(link.size()));
        if (n + m > kClistMaxElements) {
            pocketError(kPocketErrElementCap);
            return -1;
        }
        for (int32_t i = 0; i < m; ++i) {
            link[i].sourceTag = kIslandOpenTag;
            out[n++] = link[i];
        }
    }
    return n;
}

int32_t cutContourByIsland(const ContourElement* a, int32_t countA, const ContourElement* b, int32_t countB,
                           ContourElement* out) {
    if (!a || !b || !out || countA < 1 || countB < 1) return -2;
    std::vector<PocketIsect> hits(kIslandMaxHits + 1);
    int32_t k = intersectContours(a, countA, b, countB, hits.data(), kIslandMaxHits + 1);
    if (k < 0 || k > kIslandMaxHits) {
        pocketError(kPocketErrPieceCap);
        return -1;
    }
    int32_t kept = 0;
    for (int32_t i = 0; i < k; ++i) {
        if (kept > 0) {
            const PocketIsect& p = hits[kept - 1];
            const PocketIsect& h = hits[i];
            if (samePoint({p.x, p.y}, {h.x, h.y}) && p.elemB == h.elemB && h.elemA == p.elemA + 1) continue;
        }
        hits[kept++] = hits[i];
    }
    k = kept;
    if (k == 0) {
        Vec2 p;
        if (!pocketKernel().stockMoved) {
            if (!elemPoint(&b[0], &p, kElemStart)) return -2;
            if (contourDistance(&p, a, countA) > kPointTol && pointInContour(a, countA, &p) != 0) return 0;
        } else {
            if (!elemPoint(&a[0], &p, kElemStart)) return -2;
            if (contourDistance(&p, b, countB) > kPointTol && pointInContour(b, countB, &p) != 0) return 0;
        }
        for (int32_t i = 0; i < countA; ++i) out[i] = a[i];
        return countA;
    }
    std::vector<ContourElement> buffer;
    std::vector<IslandPiece> pieces;
    const int32_t np = islandPiecesWalk(a, countA, b, countB, hits.data(), k, &buffer, &pieces);
    if (np < 0) return -1;
    if (np == 0) {
        if (k == 1) state().cutDegenerate = 1;
        return 0;
    }
    const int32_t n = islandPiecesJoin(a, countA, b, countB, hits.data(), k, buffer, pieces, out);
    return n < 0 ? n : contourClean(out, n);
}

int32_t cutContourByIslandRetry(const ContourElement* contour, int32_t count, ContourElement* region,
                                ContourHeader* regionHeader, ContourElement* out) {
    IslandState& s = state();
    int32_t result = -1;
    for (int attempt = 0; attempt < 10; ++attempt) {
        s.cutDegenerate = 0;
        result =
            cutContourByIsland(contour, count, region, static_cast<int32_t>(regionHeader->elementCount), out);
        if (s.cutDegenerate == 0 && result >= 0) return result;
        if (attempt == 9) break;
        std::vector<std::vector<ContourElement>> grown;
        if (offsetRings(region, static_cast<int32_t>(regionHeader->elementCount), -1, 0.1, &grown) != 1)
            return -1;
        for (size_t i = 0; i < grown[0].size(); ++i) region[i] = grown[0][i];
        regionHeader->elementCount = static_cast<uint32_t>(grown[0].size());
    }
    return result;
}

int32_t islandCutDegenerate() {
    return state().cutDegenerate;
}

int islandsPlaneStart() {
    return state().planeStart;
}

void islandsSetPlaneStart(int on) {
    state().planeStart = on ? 1 : 0;
}

void islandsSetBoundaryContact(int on) {
    state().boundaryContact = on ? 1 : 0;
}

int islandsBoundaryContact() {
    return state().boundaryContact;
}

void islandsResetState() {
    state() = IslandState{};
}
static const RunReset gRunReset(kRunResetCycles, "islands", islandsResetState);
