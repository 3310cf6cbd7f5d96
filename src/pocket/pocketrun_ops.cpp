// List operations of the pocket run: level rows, the contours of a plane's
// MAIN (islands of deeper levels, clamps, stock contours), pocket groups, thin
// outer contours and the start of a region's ring.
#include <algorithm>
#include <cmath>
#include <vector>

#include "pocket/ccp.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"

namespace {

struct Contour {
    ContourHeader h{};
    std::vector<ContourElement> e;
};

bool load(const char* list, int32_t i, Contour* c) {
    if (clistGetHeader(list, &c->h, i) < 0) return false;
    c->e.resize(c->h.elementCount);
    return clistGet(list, c->e.data(), &c->h, i) >= 0;
}

int32_t count(const Contour& c) {
    return static_cast<int32_t>(c.e.size());
}

}  // namespace

int ccpLevelRowsFromList(const CycleRecord*, LevelTable* table, const char* list, int32_t level) {
    if (!table) return -1;
    const bool byLevel = kvCCPParams.oriAutomatic == 2;
    int32_t row = 0;
    for (int32_t i = 0; i < clistCount(list); ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0) return -1;
        if (byLevel && h.tag != level) continue;
        if (row >= table->capacity || !levelTableSet(table, row, h.top, h.bottom, 0, i)) return -1;
        ++row;
    }
    return 1;
}

int ccpMainIsOuter() {
    if (pocketKernel().openMode) return 1;
    ContourHeader h{};
    if (clistCount("MAIN") < 1 || clistGetHeader("MAIN", &h, 0) < 0) return -1;
    return h.ccw == h.leftSide ? 1 : 0;
}

int32_t ccpAddIslands(const char* source, const char* main, int32_t level, double z) {
    const double tol = pocketKernel().tolerance;
    int32_t added = 0;
    const int32_t n = clistCount(source);
    // The whole list is scanned: the nesting puts deeper groups after the
    // level's own boundary, and an island of theirs that stands above the
    // plane must still be kept out of it.
    for (int32_t i = 0; i < n; ++i) {
        Contour c;
        if (!load(source, i, &c)) return added;
        if (c.h.tag == level || c.h.ccw == c.h.leftSide || c.h.top < z + tol) continue;
        // An island of a deeper level belongs here when one of its ancestors has this level.
        bool ours = false;
        int32_t p = c.h.parent;
        for (int32_t guard = 0; p >= 0 && p < n && guard < n && !ours; ++guard) {
            ContourHeader ph{};
            if (clistGetHeader(source, &ph, p) < 0) break;
            ours = ph.tag == level;
            p = ph.parent;
        }
        if (ours && clistInsert(main, c.e.data(), &c.h, -1)) ++added;
    }
    return added;
}

int ccpAddClamps(const char* clamps, const char* main) {
    Contour outer;
    if (clistCount(main) < 1 || !load(main, 0, &outer)) return -1;
    std::vector<PocketIsect> hits(64);
    for (int32_t i = 0; i < clistCount(clamps); ++i) {
        Contour c;
        if (!load(clamps, i, &c)) continue;
        const int32_t k = intersectContours(c.e.data(), count(c), outer.e.data(), count(outer), hits.data(),
                                            static_cast<int32_t>(hits.size()));
        // A full table still means the clamp crosses.
        if (k != 0 || contourContainsChain(c.e.data(), count(c), outer.e.data(), count(outer)) != 0)
            clistInsert(main, c.e.data(), &c.h, -1);
    }
    return 1;
}

int ccpFirstStockContour(const char* list) {
    PocketKernel& k = pocketKernel();
    bool found = false;
    for (int32_t i = 0; i < clistCount(list); ++i) {
        Contour c;
        if (!load(list, i, &c)) return -1;
        if (!c.h.stock) continue;
        if (i == 0) {
            found = true;
            continue;
        }
        contourReverse(c.e.data(), count(c));
        if (found) {
            if (!clistReplace(list, c.e.data(), &c.h, i)) return -1;
            continue;
        }
        if (!clistDelete(list, i) || !clistInsert(list, c.e.data(), &c.h, 0)) return -1;
        k.stockMoved = 1;
        found = true;
    }
    return found ? 1 : 0;
}

int ccpSameTopAll(const char* list) {
    const int32_t n = clistCount(list);
    ContourHeader first{};
    if (n < 2 || clistGetHeader(list, &first, 0) < 0) return 1;
    for (int32_t i = 1; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0) return 0;
        if (std::fabs(h.top - first.top) > 1e-5 || std::fabs(h.bottom - first.bottom) > 1e-5) return 0;
    }
    return 1;
}

int ccpBuildPocketList(const char* list) {
    PocketKernel& k = pocketKernel();
    ++k.groupCounter;
    for (int32_t i = 0; i < clistCount(list); ++i) {
        Contour c;
        if (!load(list, i, &c)) return 0;
        c.h.top = k.planeTop;
        c.h.bottom = k.planeTop - k.planeDepth;
        c.h.group = static_cast<int16_t>(k.groupCounter);
        if (!clistInsert("POCKET", c.e.data(), &c.h, -1)) return 0;
    }
    return 1;
}

int32_t ccpNextGroup(int32_t index, const char* list) {
    const int32_t n = clistCount(list);
    // Before the list the first group starts at 0, whatever its number.
    if (index < 0) return n > 0 ? 0 : -1;
    ContourHeader h{};
    if (clistGetHeader(list, &h, index) < 0) return -1;
    const int32_t group = h.group;
    for (int32_t i = index + 1; i < n; ++i) {
        if (clistGetHeader(list, &h, i) < 0) return -1;
        if (h.group != group) return i;
    }
    return -1;
}

int ccpReorderPocketGroups(const char* list) {
    // Walk the groups in list order; a later group starting at the same point follows directly.
    for (int32_t g = ccpNextGroup(-1, list); g >= 0;) {
        int32_t gEnd = ccpNextGroup(g, list);
        if (gEnd < 0) break;
        Contour first;
        if (!load(list, g, &first) || first.e.empty()) break;
        Vec2 s;
        elemPoint(&first.e[0], &s, kElemStart);
        for (int32_t o = gEnd; o >= 0; o = ccpNextGroup(o, list)) {
            Contour other;
            if (!load(list, o, &other) || other.e.empty()) break;
            Vec2 t;
            elemPoint(&other.e[0], &t, kElemStart);
            if (!pointsEqual2D(&s, &t)) continue;
            if (o != gEnd) {
                const int32_t oEnd = ccpNextGroup(o, list);
                const int32_t members = (oEnd < 0 ? clistCount(list) : oEnd) - o;
                for (int32_t m = 0; m < members; ++m) {
                    Contour c;
                    if (!load(list, o + m, &c) || !clistDelete(list, o + m) ||
                        !clistInsert(list, c.e.data(), &c.h, gEnd + m))
                        return 1;
                }
            }
            gEnd = ccpNextGroup(gEnd, list);
            break;
        }
        g = gEnd;
    }
    return 1;
}

int ccpDropThinOuter(const char* list) {
    const int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        Contour c;
        if (!load(list, i, &c) || c.h.parent >= 0 || !contourIsThin(c.e.data(), count(c), 0.2)) continue;
        for (int32_t j = 0; j < n; ++j) {
            Contour o;
            if (j == i || !load(list, j, &o) || o.h.tag != c.h.tag) continue;
            if (!contourIsThin(o.e.data(), count(o), 0.2)) return clistDelete(list, i) ? 1 : 0;
        }
        return 0;
    }
    return 0;
}

int ccpRingStartAtLongestLine(int32_t region) {
    const RegionNode* node = regionNode(region);
    if (!node || node->elementCount < 1) return 0;
    const auto n = static_cast<int32_t>(node->elementCount);
    std::vector<ContourElement> e(static_cast<size_t>(n) + 1);
    if (!regionLoadElements(e.data(), n, node->elements)) return -1;
    int32_t best = -1;
    double bestLen = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (e[static_cast<size_t>(i)].type != kElemLine) continue;
        const double l = elemLength(&e[static_cast<size_t>(i)]);
        if (best < 0 || l > bestLen) {
            best = i;
            bestLen = l;
        }
    }
    if (best < 0 || bestLen < pocketKernel().toolRadius) return 0;
    const ContourElement& l = e[static_cast<size_t>(best)];
    const Vec2 a{l.g[kLx1], l.g[kLy1]}, b{l.g[kLx2], l.g[kLy2]}, m{(a.x + b.x) / 2, (a.y + b.y) / 2};
    std::vector<ContourElement> ring;
    ring.reserve(static_cast<size_t>(n) + 1);
    ring.push_back(elemLineOf(m, b, l.sourceTag));
    for (int32_t k = 1; k < n; ++k) ring.push_back(e[static_cast<size_t>((best + k) % n)]);
    ring.push_back(elemLineOf(a, m, l.sourceTag));
    if (!regionSaveElements(ring.data(), n + 1, node->elements)) return -1;
    return regionSetElementCount(region, static_cast<uint32_t>(n + 1)) ? 1 : -1;
}

int32_t ccpLevelNearestStart(const char* list, const Vec2* point) {
    int32_t tag = 0;
    double best = 0;
    bool any = false;
    for (int32_t i = 0; point && i < clistCount(list); ++i) {
        Contour c;
        if (!load(list, i, &c) || c.e.empty()) continue;
        const double d = contourDistance(point, c.e.data(), count(c));
        if (!any || d < best) {
            any = true;
            best = d;
            tag = c.h.tag;
        }
    }
    return tag;
}
