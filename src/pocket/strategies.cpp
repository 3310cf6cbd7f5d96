#include "pocket/strategies.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/chaincross.h"
#include "pocket/chainoffset.h"
#include "pocket/contourclean.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/nesting.h"
#include "pocket/passes.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/restmat.h"

namespace {

std::vector<ContourElement> gOffsetBuffer;

struct Contour {
    ContourHeader header{};
    std::vector<ContourElement> elements;
};

bool loadContour(const char* list, int32_t index, Contour* out) {
    if (clistGetHeader(list, &out->header, index) < 0) return false;
    out->elements.assign(std::max<uint32_t>(out->header.elementCount, 1), ContourElement{});
    if (clistGet(list, out->elements.data(), &out->header, index) < 0) return false;
    out->elements.resize(out->header.elementCount);
    return true;
}

bool storeContour(const char* list, int32_t index, const std::vector<ContourElement>& elements,
                  const ContourHeader& model) {
    ContourHeader h = model;
    h.elementCount = static_cast<uint32_t>(elements.size());
    h.elements = nullptr;
    return index < 0 ? clistInsert(list, elements.data(), &h, -1) == 1
                     : clistReplace(list, elements.data(), &h, index) == 1;
}

// The rings of one offset; empty when it yields none or fails.
std::vector<std::vector<ContourElement>> offsetRings(const std::vector<ContourElement>& c, int side,
                                                     double d) {
    std::vector<std::vector<ContourElement>> rings;
    if (c.empty() || !(d > 0)) return rings;
    // One work buffer for all offsets of the strategy: a fresh one per offset costs more than the offset.
    std::vector<ContourElement>& out = gOffsetBuffer;
    if (out.size() < static_cast<size_t>(kClistMaxElements)) out.resize(kClistMaxElements);
    std::vector<int32_t> start(kOffsetMaxRings), count(kOffsetMaxRings);
    int32_t end = 0;
    const int32_t n = offsetContour(c.data(), static_cast<int32_t>(c.size()), side, d, out.data(), &end,
                                    start.data(), count.data());
    for (int32_t r = 0; r < n; ++r)
        rings.emplace_back(out.begin() + start[r], out.begin() + start[r] + count[r]);
    return rings;
}

// The side (+1 left, -1 right) on which a contour's material lies: inside the
// outer boundary, outside an island, whichever way each runs.
int materialSide(const std::vector<ContourElement>& c, int32_t index) {
    const int o = contourOrientation(c.data(), static_cast<int32_t>(c.size())) >= 0 ? 1 : -1;
    return index == 0 ? o : -o;
}

double ringArea(const std::vector<ContourElement>& c) {
    double a = 0;
    for (const ContourElement& e : c) {
        Vec2 s{}, t{};
        elemPoint(&e, &s, kElemStart);
        elemPoint(&e, &t, kElemEnd);
        a += s.x * t.y - t.x * s.y;
    }
    return std::fabs(a);
}

// Every MAIN contour becomes the path of the tool centre along it (tool radius
// plus the contour's allowance to its material side), so that rings, passes
// and links made from MAIN keep the tool off the walls. A boundary that splits
// keeps its largest ring; one the tool cannot follow is removed. False when an
// island has no ring to keep the tool off it (its allowance takes the whole radius).
bool mainToToolCentre() {
    const PocketKernel& k = pocketKernel();
    const int32_t n = clistCount("MAIN");
    for (int32_t i = n - 1; i >= 0; --i) {
        Contour c;
        if (!loadContour("MAIN", i, &c) || c.elements.empty()) continue;
        const double d = k.toolRadius + pocketAllowanceGet(i);
        std::vector<std::vector<ContourElement>> rings =
            offsetRings(c.elements, materialSide(c.elements, i), d);
        if (rings.empty()) {
            if (i != 0) return false;
            clistClear("MAIN");
            return true;
        }
        size_t best = 0;
        for (size_t r = 1; r < rings.size(); ++r)
            if (ringArea(rings[r]) > ringArea(rings[best])) best = r;
        storeContour("MAIN", i, rings[best], c.header);
    }
    return true;
}

// True when the ring crosses a MAIN contour other than its own.
bool crossesOtherContour(const std::vector<ContourElement>& ring, int32_t own) {
    const int32_t n = clistCount("MAIN");
    std::vector<PocketIsect> rec(64);
    for (int32_t j = 0; j < n; ++j) {
        Contour c;
        if (j == own || !loadContour("MAIN", j, &c) || c.elements.empty()) continue;
        rec.resize(c.elements.size() * 2 + ring.size() * 2 + 8);
        if (intersectContours(ring.data(), static_cast<int32_t>(ring.size()), c.elements.data(),
                              static_cast<int32_t>(c.elements.size()), rec.data(),
                              static_cast<int32_t>(rec.size())) != 0)
            return true;
    }
    return false;
}

// Contours closer together than the tool allows have tool-centre rings that
// cross: such a ring would run into the other wall, so the rings of both go
// (their walls keep what the passes leave).
void pruneCrossingRings() {
    std::vector<Contour> inner(static_cast<size_t>(std::max(clistCount("INSEL"), 0)));
    for (size_t i = 0; i < inner.size(); ++i) loadContour("INSEL", static_cast<int32_t>(i), &inner[i]);
    auto crosses = [](const std::vector<ContourElement>& a, const std::vector<ContourElement>& b) {
        if (a.empty() || b.empty()) return false;
        std::vector<PocketIsect> rec((a.size() + b.size()) * 2 + 8);
        return intersectContours(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                 static_cast<int32_t>(b.size()), rec.data(),
                                 static_cast<int32_t>(rec.size())) != 0;
    };
    std::vector<int16_t> unsafe;
    for (size_t i = 0; i < inner.size(); ++i)
        for (size_t j = 0; j < inner.size(); ++j)
            if (i != j && crosses(inner[i].elements, inner[j].elements))
                unsafe.push_back(inner[i].header.tag);
    for (int32_t g = clistCount("GKT") - 1; g >= 0; --g) {
        Contour full;
        if (!loadContour("GKT", g, &full)) continue;
        bool bad = std::find(unsafe.begin(), unsafe.end(), full.header.tag) != unsafe.end();
        for (size_t j = 0; j < inner.size() && !bad; ++j)
            bad = inner[j].header.tag != full.header.tag && crosses(full.elements, inner[j].elements);
        if (bad) clistDelete("GKT", g);
    }
    for (int32_t i = static_cast<int32_t>(inner.size()) - 1; i >= 0; --i)
        if (std::find(unsafe.begin(), unsafe.end(), inner[i].header.tag) != unsafe.end())
            clistDelete("INSEL", i);
}

// The tool-centre room of a plane without open sides: the parts the tool can reach (every ring of the
// outer boundary's offset, and a part that an island's offset encloses) and the islands' offsets, each by
// the tool radius and its contour's allowance. False when an island has no offset to keep the tool off it.
struct CentreRoom {
    std::vector<Contour> parts, islands;
};

bool centreRoom(CentreRoom* room) {
    const PocketKernel& k = pocketKernel();
    // An offset retried at a smaller distance would bring the room nearer the walls: retries grow it.
    pocketOffsetState().growMode = 1;
    const int32_t n = clistCount("MAIN");
    for (int32_t i = 0; i < n; ++i) {
        Contour c;
        if (!loadContour("MAIN", i, &c) || c.elements.empty()) continue;
        const double d = k.toolRadius + pocketAllowanceGet(i);
        std::vector<std::vector<ContourElement>> rings =
            offsetRings(c.elements, materialSide(c.elements, i), d);
        if (i > 0 && rings.empty()) return false;
        size_t outer = 0;
        for (size_t r = 1; r < rings.size(); ++r)
            if (ringArea(rings[r]) > ringArea(rings[outer])) outer = r;
        for (size_t r = 0; r < rings.size(); ++r) {
            Contour part{c.header, rings[r]};
            part.header.elementCount = static_cast<uint32_t>(rings[r].size());
            part.header.elements = nullptr;
            (i == 0 || r != outer ? room->parts : room->islands).push_back(part);
        }
    }
    return true;
}

// The pieces of a ring of the room (the part's own ring for own -1, else island own's) that lie inside
// the part and outside every other island: the border of the part, where the tool runs along a wall or an
// island. A ring that crosses another is cut at the crossings; a piece is kept by its middle.
std::vector<std::vector<ContourElement>> borderPieces(const std::vector<ContourElement>& ring,
                                                      const Contour& part,
                                                      const std::vector<Contour>& islands, int32_t own) {
    const int32_t n = static_cast<int32_t>(ring.size());
    std::vector<ContourPos> cuts;
    auto crossings = [&](const std::vector<ContourElement>& other) {
        std::vector<PocketIsect> rec((ring.size() + other.size()) * 4 + 16);
        const int32_t m = intersectContours(ring.data(), n, other.data(), static_cast<int32_t>(other.size()),
                                            rec.data(), static_cast<int32_t>(rec.size()));
        for (int32_t i = 0; i < m; ++i) cuts.push_back({rec[i].elemA - 1, 0, rec[i].x, rec[i].y});
    };
    if (own >= 0) crossings(part.elements);
    for (size_t j = 0; j < islands.size(); ++j)
        if (static_cast<int32_t>(j) != own) crossings(islands[j].elements);
    auto kept = [&](const Vec2& p) {
        if (own >= 0 &&
            pointInContour(part.elements.data(), static_cast<int32_t>(part.elements.size()), &p) == 0)
            return false;
        for (size_t j = 0; j < islands.size(); ++j)
            if (static_cast<int32_t>(j) != own &&
                pointInContour(islands[j].elements.data(), static_cast<int32_t>(islands[j].elements.size()),
                               &p) != 0)
                return false;
        return true;
    };
    std::vector<std::vector<ContourElement>> out;
    if (cuts.empty()) {
        Vec2 mid{};
        if (elemPoint(&ring[0], &mid, kElemMiddle) && kept(mid)) out.push_back(ring);
        return out;
    }
    std::sort(cuts.begin(), cuts.end(), [&](const ContourPos& a, const ContourPos& b) {
        if (a.element != b.element) return a.element < b.element;
        const Vec2 pa{a.x, a.y}, pb{b.x, b.y};
        return elemFraction(&ring[a.element], &pa) < elemFraction(&ring[a.element], &pb);
    });
    for (size_t i = 0; i < cuts.size(); ++i) {
        const ContourPos& a = cuts[i];
        const ContourPos& b = cuts[(i + 1) % cuts.size()];
        const Vec2 pa{a.x, a.y}, pb{b.x, b.y};
        if (cuts.size() > 1 && pointsEqual2D(&pa, &pb)) continue;
        std::vector<ContourElement> piece(static_cast<size_t>(n) + 1);
        piece.resize(std::max(restContourPiece(piece.data(), ring.data(), n, &a, &b), 0));
        Vec2 mid{};
        if (!piece.empty() && restMidpoint(ring.data(), n, &a, &b, &mid) && kept(mid)) out.push_back(piece);
    }
    return out;
}

// The plane without open sides: each part of the room gets its border pieces (the tool along the walls
// and the islands, cut where the rings of walls and islands closer together than the tool cross), and
// passes over the part, cut to it and off the islands. Every point the tool can reach lies within the
// tool radius of the border or, the passes lying closer than a diameter, of a pass. -1 when the room
// cannot be made or a node cannot be attached, 0 when the tool fits nowhere.
int axisParallelRoom(double w) {
    const PocketKernel& k = pocketKernel();
    CentreRoom room;
    if (!centreRoom(&room)) return -1;
    for (const Contour& part : room.parts) {
        std::vector<std::vector<ContourElement>> border = borderPieces(part.elements, part, room.islands, -1);
        for (size_t j = 0; j < room.islands.size(); ++j)
            for (std::vector<ContourElement>& piece :
                 borderPieces(room.islands[j].elements, part, room.islands, static_cast<int32_t>(j)))
                border.push_back(std::move(piece));
        for (const std::vector<ContourElement>& piece : border) {
            ContourHeader h = part.header;
            h.elementCount = static_cast<uint32_t>(piece.size());
            if (regionAttachContour(piece.data(), &h, 0, 0) < 0) return -1;
        }
        // The passes lie over this part, cut to it and off every island.
        clistClear("MAIN");
        if (!storeContour("MAIN", -1, part.elements, part.header)) return -1;
        for (const Contour& island : room.islands)
            if (!storeContour("MAIN", -1, island.elements, island.header)) return -1;
        if (pocketBuildMainTransitions(k.toolRadius, w) < 0) return -1;
    }
    // Parts the islands cover whole leave nothing to cut either.
    return regionNodeCount() > 0 ? 1 : 0;
}

// A MAIN element on an open side (negative tag).
bool mainHasNegativeTag() {
    const int32_t n = clistCount("MAIN");
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader("MAIN", &h, i) < 0 || !h.elements) continue;
        for (uint32_t j = 0; j < h.elementCount; ++j)
            if (h.elements[j].sourceTag < 0) return true;
    }
    return false;
}

// Wall rings that no pass reached are machined after the passes.
int attachLeftRings() {
    for (;;) {
        Contour inner;
        if (clistCount("INSEL") < 1 || !loadContour("INSEL", 0, &inner)) return 1;
        for (int32_t g = 0; g < clistCount("GKT"); ++g) {
            Contour full;
            if (!loadContour("GKT", g, &full) || full.header.tag != inner.header.tag) continue;
            if (regionAttachContour(full.elements.data(), &full.header, 0, 0) < 0) return -1;
            clistDelete("GKT", g);
            break;
        }
        if (regionAttachContour(inner.elements.data(), &inner.header, 0, 0) < 0) return -1;
        clistDelete("INSEL", 0);
    }
}

// The raw offset of an open run: empty when it fails, doubts a corner, crosses
// itself or moves an arc through its centre (no clean wall ring at that width).
std::vector<ContourElement> openOffset(const std::vector<ContourElement>& run, int side, double d) {
    for (const ContourElement& e : run)
        if (e.type == kElemArc && e.direction * side > 0 && e.g[kAr] <= d + 1e-9) return {};
    std::vector<ContourElement>& out = gOffsetBuffer;
    if (out.size() < static_cast<size_t>(kClistMaxElements)) out.resize(kClistMaxElements);
    PocketOffsetState& st = pocketOffsetState();
    const int32_t keepOpen = st.openChain, keepGrow = st.growMode;
    st.openChain = 1;
    st.growMode = 0;
    int32_t count = 0;
    const int r =
        offsetElementChain(d, run.data(), static_cast<int32_t>(run.size()), out.data(), &count, side);
    st.openChain = keepOpen;
    st.growMode = keepGrow;
    if (r != kChainBuilt || count < 1 || count >= kClistMaxElements) return {};
    std::vector<ContourElement> piece(out.begin(), out.begin() + count);
    std::vector<PocketIsect> rec(kIsectTableSize);
    if (count > 1 && contourReduce(piece.data(), count, rec.data(), r) != 0) return {};
    return piece;
}

// 1 when the contour runs clear of itself (a spliced run can cut across it).
bool simpleContour(const std::vector<ContourElement>& c) {
    if (c.size() < 2 || !contourIsClosed(c.data(), static_cast<int32_t>(c.size()))) return false;
    std::vector<PocketIsect> rec(kIsectTableSize);
    return contourReduce(c.data(), static_cast<int32_t>(c.size()), rec.data(), kChainBuilt) == 0;
}

// The wall runs of a contour with open sides: each offset as an open chain in
// tenths of w, clipped to the contour and machined with the run itself; the
// run then moves by half the width used. The contour is stored back only when
// it stays a simple ring; otherwise the passes keep to it as it was.
double openRunRings(Contour& c, int32_t index, int side, double w, double narrowest) {
    std::vector<ContourElement> e = c.elements;
    const int inside = index == 0 ? 1 : -1;
    for (size_t guard = 0; guard <= c.elements.size(); ++guard) {
        const int32_t n = static_cast<int32_t>(e.size());
        int32_t first = 0, last = 0;
        if (openRunFind(e.data(), n, &first, &last) != 1) break;
        std::vector<ContourElement> run(static_cast<size_t>(n) * 2 + 2);
        run.resize(openRunCopy(e.data(), n, first, last, run.data()));
        double used = 0;
        for (int k = 10; k >= 1 && used == 0; --k) {
            const double d = k / 10.0 * w;
            const std::vector<ContourElement> piece = openOffset(run, side, d);
            if (piece.empty()) continue;
            used = d;
            narrowest = std::min(narrowest, d);
            std::vector<ContourElement> part(piece.size() + 2);
            const int32_t m = openRunClip(piece.data(), static_cast<int32_t>(piece.size()), e.data(), n,
                                          inside, 4 * w, part.data());
            if (m < 1) {
                narrowest = 0;
                continue;
            }
            part.resize(m);
            // A piece that runs into another contour would leave the area: it is left out.
            if (!crossesOtherContour(part, index)) openRunAttach(part.data(), m, &c.header);
        }
        if (used == 0) narrowest = 0;
        if (!crossesOtherContour(run, index))
            openRunAttach(run.data(), static_cast<int32_t>(run.size()), &c.header);
        openRunMark(e.data(), n, first, last);
        const std::vector<ContourElement> half = used > 0 ? openOffset(run, side, used / 2) : run;
        if (used == 0 || half.empty()) continue;
        std::vector<ContourElement> moved(e.size() + half.size() + 2);
        const int32_t count =
            openRunReplace(e.data(), n, first, last, half.data(), static_cast<int32_t>(half.size()),
                           moved.data(), static_cast<int32_t>(moved.size()));
        if (count > 0) e.assign(moved.begin(), moved.begin() + count);
    }
    for (ContourElement& x : e)
        if (x.sourceTag == -2) x.sourceTag = index;
    if (simpleContour(e)) {
        storeContour("MAIN", index, e, c.header);
    } else {
        for (ContourElement& x : c.elements)
            if (x.sourceTag == -2) x.sourceTag = index;
        storeContour("MAIN", index, c.elements, c.header);
    }
    return narrowest;
}

}  // namespace

int openRunFind(const ContourElement* elements, int32_t n, int32_t* first, int32_t* last) {
    if (!elements || n < 1 || !first || !last) return -1;
    auto wall = [&](int32_t i) { return elements[i].sourceTag >= 0; };
    if (!wall(0)) {
        int32_t s = 0;
        while (s < n && !wall(s)) ++s;
        if (s >= n) return -1;
        int32_t e = s;
        while (e + 1 < n && wall(e + 1)) ++e;
        *first = s;
        *last = e;
        return 1;
    }
    int32_t lastOpen = n - 1;
    while (lastOpen >= 0 && wall(lastOpen)) --lastOpen;
    int32_t e = 0;
    while (e + 1 < n && wall(e + 1)) ++e;
    *first = lastOpen < 0 ? 0 : (lastOpen + 1) % n;
    *last = e;
    return 1;
}

int32_t openRunCopy(const ContourElement* elements, int32_t n, int32_t first, int32_t last,
                    ContourElement* out) {
    if (!elements || !out || n < 1 || first < 0 || first >= n || last < 0 || last >= n) return 0;
    int32_t k = 0;
    for (int32_t i = first;; i = (i + 1) % n) {
        out[k++] = elements[i];
        if (i == last || k == n) break;
    }
    return k;
}

int32_t openRunClip(const ContourElement* piece, int32_t count, const ContourElement* contour, int32_t n,
                    int side, double reach, ContourElement* out) {
    if (!piece || !contour || !out || count < 1 || n < 2) return -1;
    // The piece ends where the run ends, usually on or just short of the open
    // sides: carried on, it crosses them instead of touching them.
    Vec2 s{}, e{}, ts{}, te{};
    elemPoint(&piece[0], &s, kElemStart);
    elemPoint(&piece[count - 1], &e, kElemEnd);
    if (!elemTangent(&piece[0], &ts, kElemStart) || !elemTangent(&piece[count - 1], &te, kElemEnd)) return -1;
    std::vector<ContourElement> ext;
    ext.reserve(count + 2);
    ContourElement line = piece[0];
    line.type = kElemLine;
    line.direction = 0;
    for (double& g : line.g) g = 0;
    line.g[kLx1] = s.x - ts.x * reach;
    line.g[kLy1] = s.y - ts.y * reach;
    line.g[kLx2] = s.x;
    line.g[kLy2] = s.y;
    ext.push_back(line);
    ext.insert(ext.end(), piece, piece + count);
    line.sourceTag = piece[count - 1].sourceTag;
    line.g[kLx1] = e.x;
    line.g[kLy1] = e.y;
    line.g[kLx2] = e.x + te.x * reach;
    line.g[kLy2] = e.y + te.y * reach;
    ext.push_back(line);
    const int32_t m = static_cast<int32_t>(ext.size());
    std::vector<PocketIsect> rec(static_cast<size_t>(m + n) * 2 + 8);
    if (intersectContours(ext.data(), m, contour, n, rec.data(), static_cast<int32_t>(rec.size())) != 2)
        return -1;
    const Vec2 p0{rec[0].x, rec[0].y}, p1{rec[1].x, rec[1].y};
    const int32_t e0 = rec[0].elemA - 1, e1 = rec[1].elemA - 1;
    if (e0 < 0 || e1 < e0 || e1 >= m) return -1;
    int32_t k = 0;
    for (int32_t i = e0; i <= e1; ++i) {
        ContourElement x = ext[i];
        Vec2 from{}, to{};
        elemPoint(&x, &from, kElemStart);
        elemPoint(&x, &to, kElemEnd);
        if (i == e0) from = p0;
        if (i == e1) to = p1;
        elemTrim(&x, &from, &to);
        if (!elemIsPoint(&x) && elemLength(&x) > 1e-7) out[k++] = x;
    }
    if (k < 1) return -1;
    Vec2 mid{};
    elemPoint(&out[k / 2], &mid, kElemMiddle);
    const bool in = pointInContour(contour, n, &mid) != 0;
    return in == (side > 0) ? k : -1;
}

int32_t openRunAttach(const ContourElement* chain, int32_t count, const ContourHeader* header) {
    if (!chain || !header || count < 1) return -1;
    const int32_t nodes = regionNodeCount();
    const RegionNode* lastNode = nodes > 0 ? regionNode(nodes - 1) : nullptr;
    ContourHeader h = *header;
    h.elementCount = static_cast<uint32_t>(count);
    h.elements = nullptr;
    return regionAttachContour(chain, &h, 0, lastNode ? lastNode->level + 1 : 0);
}

void openRunMark(ContourElement* elements, int32_t n, int32_t first, int32_t last) {
    if (!elements || n < 1 || first < 0 || first >= n || last < 0 || last >= n) return;
    for (int32_t i = first, k = 0; k < n; i = (i + 1) % n, ++k) {
        elements[i].sourceTag = -2;
        if (i == last) break;
    }
}

int32_t openRunReplace(const ContourElement* elements, int32_t n, int32_t first, int32_t last,
                       const ContourElement* chain, int32_t count, ContourElement* out, int32_t capacity) {
    if (!elements || !chain || !out || n < 1 || count < 1 || first < 0 || first >= n || last < 0 || last >= n)
        return -1;
    const int32_t runLength = (last - first + n) % n + 1;
    const int32_t rest = n - runLength;
    if (rest < 1 || rest + count + 2 > capacity) return -1;
    Vec2 s{}, e{};
    elemPoint(&chain[0], &s, kElemStart);
    elemPoint(&chain[count - 1], &e, kElemEnd);
    int32_t k = 0;
    // The neighbour after the run now starts at the chain's end; an arc keeps its
    // radius and is reached by a line instead (moving an arc's end bends it off its circle).
    const ContourElement& after = elements[(last + 1) % n];
    Vec2 afterStart{};
    elemPoint(&after, &afterStart, kElemStart);
    ContourElement join{};
    join.type = kElemLine;
    join.sourceTag = after.sourceTag;
    for (int32_t i = 0; i < rest; ++i) {
        ContourElement x = elements[(last + 1 + i) % n];
        if (i == 0 && x.type == kElemLine) elemSetPoint(&x, &e, kElemStart);
        if (i == 0 && x.type != kElemLine) {
            join.g[kLx1] = e.x;
            join.g[kLy1] = e.y;
            join.g[kLx2] = afterStart.x;
            join.g[kLy2] = afterStart.y;
            out[k++] = join;
        }
        Vec2 end{};
        elemPoint(&x, &end, kElemEnd);
        if (i == rest - 1 && x.type == kElemLine) elemSetPoint(&x, &s, kElemEnd);
        out[k++] = x;
        if (i == rest - 1 && x.type != kElemLine) {
            join.sourceTag = x.sourceTag;
            join.g[kLx1] = end.x;
            join.g[kLy1] = end.y;
            join.g[kLx2] = s.x;
            join.g[kLy2] = s.y;
            out[k++] = join;
        }
    }
    for (int32_t i = 0; i < count; ++i) {
        out[k] = chain[i];
        out[k++].sourceTag = -2;
    }
    return k;
}

double axisParallelRings(double w, int side) {
    double narrowest = w;
    const int32_t n = clistCount("MAIN");
    for (int32_t i = 0; i < n; ++i) {
        Contour c;
        if (!loadContour("MAIN", i, &c) || c.elements.empty()) continue;
        // The side of each contour follows from its own orientation; the kernel's sign only breaks a tie.
        const int own = materialSide(c.elements, i);
        const int s = own != 0 ? own : side;
        if (std::any_of(c.elements.begin(), c.elements.end(),
                        [](const ContourElement& x) { return x.sourceTag < 0; })) {
            narrowest = openRunRings(c, i, s, w, narrowest);
            continue;
        }
        for (int k = 10; k >= 1; --k) {
            const double d = k / 10.0 * w;
            std::vector<std::vector<ContourElement>> rings = offsetRings(c.elements, s, d);
            if (rings.empty()) continue;
            storeContour("INSEL", -1, c.elements, c.header);
            // A full-width ring that runs into another contour would leave the area; it is left out.
            if (!crossesOtherContour(rings[0], i)) storeContour("GKT", -1, rings[0], c.header);
            std::vector<std::vector<ContourElement>> half = offsetRings(c.elements, s, d / 2);
            if (!half.empty()) storeContour("MAIN", i, half[0], c.header);
            narrowest = std::min(narrowest, d);
            break;
        }
    }
    return narrowest;
}

int axisParallelEmit() {
    Vec2 previous{};
    for (int32_t i = 0; i < regionNodeCount(); ++i) {
        const RegionNode* node = regionNode(i);
        if (!node) break;
        std::vector<ContourElement> ring(std::max<uint32_t>(node->elementCount, 1));
        if (node->elementCount &&
            regionLoadElements(ring.data(), static_cast<int32_t>(node->elementCount), node->elements) != 1)
            break;
        ring.resize(node->elementCount);
        if (ring.empty()) continue;
        Vec2 start{};
        elemPoint(&ring[0], &start, kElemStart);
        if (i > 0 && pointDist2D(&start, &previous) > 1e-4) pocketSetPlungePending(1);
        for (const ContourElement& e : ring) pocketEmitElement(&e);
        elemPoint(&ring.back(), &previous, kElemEnd);
    }
    return 1;
}

int axisParallel() {
    clistCreate("GKT");
    clistCreate("INSEL");
    if (!regionTreeInit(1)) {
        pocketError(kPocketErrStep);
        return -1;
    }
    pocketNcHeader();
    PocketKernel& k = pocketKernel();
    if (clistCount("MAIN") > 40) clistSortByKey("MAIN");
    const double w = 2.0 * k.toolRadius * k.stepFactor;
    int result = 1;
    if (!mainHasNegativeTag() && w > 0) {
        // Without open sides: the border of the tool's room and passes over it.
        const int room = axisParallelRoom(w);
        if (room <= 0) {
            pocketError(room < 0 ? kPocketErrStep : kPocketErrNoRegion);
            result = -1;
        }
        axisParallelEmit();
        regionTreeFree();
        pocketContourEnd();
        return result;
    }
    if (!mainToToolCentre()) {
        // Cutting the open plane without the island would run the passes across it.
        pocketError(kPocketErrStep);
        regionTreeFree();
        pocketContourEnd();
        return -1;
    }
    const int32_t n = clistCount("MAIN");
    for (int32_t i = 0; i < n; ++i) clistSetTag("MAIN", static_cast<int16_t>(i), i);
    if (n > 0 && w > 0) {
        axisParallelRings(w, k.wantedOrientation >= 0 ? 1 : -1);
        pruneCrossingRings();
        if (pocketBuildMainTransitions(k.toolRadius, w) < 0 || attachLeftRings() < 0) {
            pocketError(kPocketErrStep);
            result = -1;
        }
        axisParallelEmit();
    }
    regionTreeFree();
    pocketContourEnd();
    return result;
}

void strategiesResetState() {
    gOffsetBuffer.clear();
    gOffsetBuffer.shrink_to_fit();
}
static const RunReset gRunReset(kRunResetCycles, "strategies", strategiesResetState);
