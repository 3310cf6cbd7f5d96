// Entry search, line checks, ring rotation and single cuts of the stockOutin
// strategy, and the open-side queries the other pocket stages share.
#include <algorithm>
#include <cmath>
#include <vector>

#include "pocket/chaincross.h"
#include "pocket/clist.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/cutlists.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/islands.h"
#include "pocket/nesting.h"
#include "pocket/passes.h"
#include "pocket/planerings.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/regionwalk.h"
#include "pocket/ringemit.h"
#include "pocket/strategies.h"

namespace {

constexpr double kReachSlack = 0.03;

bool loadNode(int32_t node, std::vector<ContourElement>& out) {
    const RegionNode* n = regionNode(node);
    if (!n) return false;
    out.assign(std::max<uint32_t>(n->elementCount, 1), ContourElement{});
    if (n->elementCount &&
        regionLoadElements(out.data(), static_cast<int32_t>(n->elementCount), n->elements) != 1)
        return false;
    out.resize(n->elementCount);
    return true;
}

// The base line of a contour moved to the middle of its width, and the width.
bool middleLine(const std::vector<ContourElement>& c, Vec2* a, Vec2* b, double* width) {
    Vec2 base[2];
    if (c.empty() || hullWidthDirection(c.data(), static_cast<int32_t>(c.size()), base, width) != 1)
        return false;
    const double dx = base[1].x - base[0].x, dy = base[1].y - base[0].y, len = std::hypot(dx, dy);
    if (len <= 0) return false;
    const Vec2 left{-dy / len * *width / 2, dx / len * *width / 2};
    *a = {base[0].x + left.x, base[0].y + left.y};
    *b = {base[1].x + left.x, base[1].y + left.y};
    return true;
}

}  // namespace

int mainHasOpenSide() {
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount("MAIN"); ++i)
        if (clistLoad("MAIN", i, c))
            for (const ContourElement& e : c)
                if (e.sourceTag == -1) return 1;
    return 0;
}

int chainAllOpen(const ContourElement* elements, int32_t n) {
    for (int32_t i = 0; elements && i < n; ++i)
        if (elements[i].sourceTag != -1) return 0;
    return 1;
}

int startOnOpenSide(const Vec2* point) {
    if (!point) return 0;
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount("INPUT"); ++i) {
        if (!clistLoad("INPUT", i, c)) return 0;
        for (const ContourElement& e : c) {
            Vec2 near{};
            if (e.sourceTag == -1 && elemDistance(point, &e, &near) < 0.1) return 1;
        }
    }
    return 0;
}

int32_t openNodeNext() {
    std::vector<ContourElement> ring;
    for (int32_t i = 0; i < regionNodeCount(); ++i) {
        if (regionIsDone(i) != kRegionOpen || !loadNode(i, ring)) continue;
        for (const ContourElement& e : ring)
            if (e.sourceTag == -1) return i;
    }
    return -1;
}

int entryLineClear(const Vec2* p, const Vec2* q) {
    if (!p || !q) return 0;
    const PocketKernel& k = pocketKernel();
    const char* list = k.openPocket ? "MAIN" : "INPUT";
    const double seg[4] = {p->x, p->y, q->x, q->y};
    ContourElement circle{};
    circle.type = kElemArc;
    circle.g[kAcx] = 0.5 * (p->x + q->x);
    circle.g[kAcy] = 0.5 * (p->y + q->y);
    circle.g[kAr] = k.toolRadius;
    circle.g[kAsx] = circle.g[kAex] = circle.g[kAcx] + k.toolRadius;
    circle.g[kAsy] = circle.g[kAey] = circle.g[kAcy];
    circle.direction = 1;
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount(list); ++i) {
        if (!clistLoad(list, i, c)) continue;
        for (const ContourElement& e : c) {
            if (e.sourceTag < 0) continue;
            Vec2 pts[2] = {};
            int m = 0;
            if (e.type == kElemLine) {
                m = isectLineLine(seg, e.g, &pts[0]);
            } else {
                m = isectLineArc(seg, &e, pts);
            }
            if (m == 2) return 0;
            if (m == 1 && pointDist2D(&pts[0], q) >= 1e-4) return 0;
            if ((m == 0 || m < 0) && k.openPocket && i > 0 && elemContourClassify(&circle, &e, 1) == 1)
                return 0;
        }
    }
    return 1;
}

int32_t openEntryFind(int32_t target, int32_t source, double reach, int check, Vec2* p, Vec2* q) {
    std::vector<ContourElement> t, s;
    if (!loadNode(target, t) || !loadNode(source, s) || t.empty()) return -1;
    const int32_t m = static_cast<int32_t>(t.size());
    const double limit = reach + kReachSlack;
    for (int pass = 0; pass < 2; ++pass) {
        auto candidate = [&](const ContourElement& e) {
            return e.sourceTag < 0 && (pass == 1 || e.sourceTag != -2);
        };
        // Middle points first: the longest open element whose middle lies within reach.
        int32_t best = -1, bestIndex = -1;
        double bestLen = -1;
        Vec2 bestP{}, bestQ{};
        for (size_t i = 0; i < s.size(); ++i) {
            if (!candidate(s[i])) continue;
            Vec2 mid{}, near{};
            int32_t idx = -1;
            elemPoint(&s[i], &mid, kElemMiddle);
            const double d = contourNearestElement(&mid, t.data(), m, &idx, &near);
            const double len = elemLength(&s[i]);
            if (d < 0 || d > limit || len <= bestLen) continue;
            best = static_cast<int32_t>(i);
            bestLen = len;
            bestIndex = idx;
            bestP = mid;
            bestQ = near;
        }
        if (best >= 0 && (!check || entryLineClear(&bestP, &bestQ))) {
            if (p) *p = bestP;
            if (q) *q = bestQ;
            return bestIndex;
        }
        // Then whole elements: the longest open element that comes within reach anywhere.
        best = -1;
        bestLen = -1;
        for (size_t i = 0; i < s.size(); ++i) {
            if (!candidate(s[i])) continue;
            Vec2 on{};
            RingPosition at{};
            const double d = elemRingDistance(&s[i], t.data(), m, &on, &at);
            const double len = elemLength(&s[i]);
            if (d > limit || len <= bestLen) continue;
            best = static_cast<int32_t>(i);
            bestLen = len;
            bestIndex = at.element - 1;
            bestP = on;
            bestQ = {at.x, at.y};
        }
        if (best >= 0) {
            if (check && !entryLineClear(&bestP, &bestQ)) return -1;
            if (p) *p = bestP;
            if (q) *q = bestQ;
            return bestIndex;
        }
    }
    return -1;
}

int ringStartAt(int32_t node, const Vec2* point, int32_t index) {
    std::vector<ContourElement> ring;
    const RegionNode* n = regionNode(node);
    if (!n || !point || !loadNode(node, ring) || index < 0 || index >= static_cast<int32_t>(ring.size()))
        return -1;
    const int32_t count = static_cast<int32_t>(ring.size());
    Vec2 s{}, e{};
    elemPoint(&ring[index], &s, kElemStart);
    elemPoint(&ring[index], &e, kElemEnd);
    std::vector<ContourElement> out;
    out.reserve(ring.size() + 1);
    ContourElement head = ring[index], tail = ring[index];
    elemTrim(&head, point, &e);
    elemTrim(&tail, &s, point);
    out.push_back(head);
    for (int32_t i = 1; i < count; ++i) out.push_back(ring[(index + i) % count]);
    out.push_back(tail);
    if (!regionSaveElements(out.data(), static_cast<int32_t>(out.size()), n->elements)) return -1;
    regionSetElementCount(node, static_cast<uint32_t>(out.size()));
    return 1;
}

int singleCutAttempt() {
    std::vector<ContourElement> c;
    if (!clistLoad("MAIN", 0, c)) return -1;
    if (!chainAllOpen(c.data(), static_cast<int32_t>(c.size()))) return 0;
    const PocketKernel& k = pocketKernel();
    Vec2 a{}, b{};
    double w = 0;
    if (!middleLine(c, &a, &b, &w)) return -1;
    if (w > 2 * k.toolRadius * k.widthFactor * (k.singleCutOverlap + 1)) return 0;
    if (k.optimizeSingleCut) {
        const double len = pointDist2D(&a, &b);
        if (len > 0) b = {b.x - (b.x - a.x) / len * k.toolRadius, b.y - (b.y - a.y) / len * k.toolRadius};
    }
    const ContourElement cut = elemLineOf(a, b, -1);
    rampTransition(&a);
    emitFiltered(&cut);
    pocketContourEnd();
    return 1;
}

int singleCutRing(int32_t child, int32_t parent, double reach) {
    const int32_t nodes = regionNodeCount();
    const RegionNode* c = regionNode(child);
    if (nodes < 2 || !c || (nodes == 3 && c->childCount == 0)) return 0;
    std::vector<ContourElement> ring, outer;
    if (!loadNode(child, ring) || !loadNode(parent, outer) || outer.empty()) return -1;
    const PocketKernel& k = pocketKernel();
    Vec2 a{}, b{};
    double w = 0;
    if (!middleLine(ring, &a, &b, &w)) return -1;
    if (w > 2 * k.toolRadius * k.widthFactor * k.singleCutOverlap) return 0;
    const int32_t m = static_cast<int32_t>(outer.size());
    auto reachable = [&](const Vec2& end, Vec2* near) {
        int32_t idx = -1;
        const double d = contourNearestElement(&end, outer.data(), m, &idx, near);
        return d >= 0 && d < reach && idx >= 0 && outer[idx].sourceTag == -1;
    };
    Vec2 n{};
    if (!reachable(a, &n)) {
        if (!reachable(b, &n)) return 0;
        std::swap(a, b);
    }
    const ContourElement in = elemLineOf(n, a, -1), cut = elemLineOf(a, b, -1);
    rampTransition(&n);
    emitFiltered(&in);
    emitFiltered(&cut);
    regionSetDone(child, kRegionFinished);
    if (nodes == 3) regionSetDone(2, kRegionFinished);
    return 1;
}

namespace {

// Each contour whose elements are all open takes its own index as their tag; the indices.
std::vector<int32_t> collectAllOpen() {
    std::vector<int32_t> found;
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount("MAIN"); ++i) {
        ContourHeader h{};
        if (clistGetHeader("MAIN", &h, i) < 0 || !clistLoad("MAIN", i, c)) continue;
        if (!chainAllOpen(c.data(), static_cast<int32_t>(c.size()))) continue;
        found.push_back(i);
        for (ContourElement& e : c) e.sourceTag = i;
        h.elements = nullptr;
        if (!c.empty()) clistReplace("MAIN", c.data(), &h, i);
    }
    return found;
}

void saveNode(int32_t node, const std::vector<ContourElement>& ring) {
    const RegionNode* n = regionNode(node);
    if (n && regionSaveElements(ring.data(), static_cast<int32_t>(ring.size()), n->elements))
        regionSetElementCount(node, static_cast<uint32_t>(ring.size()));
}

// Rings that run along the input (closer than 0.05 at their test point) are turned round.
void reverseRingsOnInput() {
    std::vector<std::vector<ContourElement>> input;
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount("INPUT"); ++i)
        if (clistLoad("INPUT", i, c)) input.push_back(c);
    std::vector<ContourElement> ring;
    for (int32_t n = 0; n < regionNodeCount(); ++n) {
        if (!loadNode(n, ring) || ring.empty()) continue;
        Vec2 test{};
        const bool hasLine = std::any_of(ring.begin(), ring.end(),
                                         [](const ContourElement& e) { return e.type == kElemLine; });
        elemPoint(&ring[pocketKernel().filletCorners && hasLine && ring.size() > 1 ? 1 : 0], &test,
                  kElemStart);
        bool near = false;
        for (const auto& in : input) {
            int32_t idx = -1;
            Vec2 q{};
            const double d =
                contourNearestElement(&test, in.data(), static_cast<int32_t>(in.size()), &idx, &q);
            near = near || (d >= 0 && d < 0.05);
        }
        if (!near) continue;
        contourReverse(ring.data(), static_cast<int32_t>(ring.size()));
        saveNode(n, ring);
    }
}

}  // namespace

int openNodeCut(int32_t node, double w, const int32_t* children, int32_t count) {
    (void)children;
    (void)count;
    std::vector<ContourElement> ring;
    const RegionNode* n = regionNode(node);
    if (!n || !loadNode(node, ring)) return -1;
    const int32_t size = static_cast<int32_t>(ring.size());
    std::vector<std::vector<ContourElement>> chains;
    int32_t s = 0, e = 0;
    for (int32_t guard = 0; guard < size && openRunFind(ring.data(), size, &s, &e) == 1; ++guard) {
        if (e != s && e != 0) {
            const int32_t before = (e - 1 + size) % size;
            Vec2 te{}, tb{};
            if (elemLength(&ring[e]) < 1.0 && elemTangent(&ring[e], &te, kElemStart) &&
                elemTangent(&ring[before], &tb, kElemEnd) && vecDot2D(&te, &tb) < -0.5) {
                ring[e].sourceTag = -1;
                e = before;
            }
        }
        std::vector<ContourElement> chain;
        for (int32_t i = s, k = 0; k < size; i = (i + 1) % size, ++k) {
            chain.push_back(ring[i]);
            ring[i].sourceTag = -1;
            if (i == e) break;
        }
        chains.push_back(std::move(chain));
    }
    for (const std::vector<ContourElement>& chain : chains) {
        pocketSetPlungePending(1);
        regionSetDone(node, kRegionOpen);
        saveNode(node, chain);
        pocketRegionPathDirect(node, w, 1);
    }
    return 1;
}

int stockOutin() {
    PocketKernel& k = pocketKernel();
    const double r = k.toolRadius, sf = k.stepFactor, w = 2 * r * sf;
    const double a0 = pocketAllowanceGet(0);
    const int sigma = k.wantedOrientation >= 0 ? 1 : -1;
    k.stockCorrection = 0;
    if (!mainHasOpenSide()) {
        if (k.noPlunge) {
            pocketError(kPocketErrNoRegion);
            return 1;
        }
        k.stockOutin = k.outsideInDirect = 0;
        if (k.forceInside) {
            k.outsideInDirect = 1;
            return pocketContourParallel();
        }
        // Reversed contours are the pocket only under the opposite orientation; with
        // the orientation kept the pass machined the islands and the outside.
        clistReverseAll("MAIN");
        const int32_t wanted = k.wantedOrientation;
        k.wantedOrientation = -wanted;
        const int result = pocketContourParallel();
        k.wantedOrientation = wanted;
        return result;
    }
    if (!regionTreeInit(1)) {
        pocketError(kPocketErrStep);
        return -1;
    }
    pocketNcHeader();
    k.stockCorrection = -k.stockOffset;
    if (clistCount("MAIN") == 1 && k.singleCut) {
        const int single = singleCutAttempt();
        if (single > 0) {
            regionTreeFree();
            return single;
        }
    }
    if (clistCount("MAIN") > 40) clistSortByKey("MAIN");
    const std::vector<int32_t> allOpen = collectAllOpen();
    if (pocketOffsetIslands(r, pocketAllowances(), sigma) < 0) {
        pocketError(kPocketErrStep);
        return -1;
    }
    auto freeLists = [] {
        for (const char* l : {"SPAN", "GKT", "MAIN", "INSEL"}) clistFree(l);
    };
    if (pocketLevelLoop(r, a0, sf, sigma) < 0) {
        freeLists();
        cutListsFree();
        pocketError(kPocketErrStep);
        return -1;
    }
    const int cuts = pocketSpanBackCuts(w, sigma, 0);
    cutListsFree();
    if (cuts < 0) {
        freeLists();
        pocketError(kPocketErrStep);
        return -1;
    }
    int pending = cuts;
    regionTreePrepass(r + a0, w);
    k.outsideInDirect = 1;
    const int32_t mains = clistCount("MAIN");
    std::vector<ContourElement> ring;
    for (int32_t j : allOpen) {
        const int32_t node = j > 0 ? mains - j : 0;
        if (regionNodeCount() < 1 || node >= regionNodeCount() || !loadNode(node, ring)) continue;
        for (ContourElement& e : ring) e.sourceTag = -1;
        saveNode(node, ring);
    }
    reverseRingsOnInput();
    // From the stock inwards: every region with an open side is entered from it.
    for (int32_t guard = 0; guard <= regionNodeCount(); ++guard) {
        const int32_t n = openNodeNext();
        if (n < 0) break;
        if (loadNode(n, ring)) {
            bool changed = false;
            for (ContourElement& e : ring)
                if (e.sourceTag == -2) {
                    e.sourceTag = n;
                    changed = true;
                }
            if (changed) saveNode(n, ring);
        }
        std::vector<int32_t> children;
        const RegionNode* node = regionNode(n);
        for (int32_t i = 1; node && i <= node->childCount; ++i) children.push_back(regionChild(n, i));
        for (int32_t c : children) regionRemoveParent(c, n);
        for (int32_t c : children) {
            if (regionIsDone(c) == kRegionFinished) continue;
            if (k.singleCut) {
                // A ring left to the rings (0) keeps what was done; only a cut or a failure is news.
                const int single = singleCutRing(c, n, r + w + a0);
                if (single != 0) pending = single;
                if (single == 1) break;
            }
            Vec2 p{}, q{};
            int32_t index = openEntryFind(c, n, r + w + a0, 1, &p, &q);
            if (index < 0) index = openEntryFind(c, n, r + 4 * r * sf + a0, 1, &p, &q);
            if (index < 0 || ringStartAt(c, &q, index) != 1) continue;
            pocketSetPlungePending(1);
            if (k.openInsideOut) {
                k.startX = p.x;
                k.startY = p.y;
                k.outsideInDirect = k.stockOutin = 0;
                for (int32_t m = 0; m < regionNodeCount(); ++m) {
                    if (m == c || !loadNode(m, ring)) continue;
                    contourReverse(ring.data(), static_cast<int32_t>(ring.size()));
                    saveNode(m, ring);
                }
                if (pocketRegionPath(c, w, 0) < 0) {
                    pocketError(kPocketErrStep);
                    break;
                }
                k.outsideInDirect = 1;
            } else {
                const ContourElement entry = elemLineOf(p, q, -1);
                emitFiltered(&entry);
                if (pocketRegionPathDirect(c, w, 1) < 0) {
                    pocketError(kPocketErrStep);
                    break;
                }
            }
        }
        if (children.empty() && node && node->parentCount > 0) {
            std::vector<int32_t> parents;
            for (int32_t i = 1; i <= node->parentCount; ++i) parents.push_back(regionParent(n, i));
            for (int32_t par : parents) {
                if (regionIsDone(par) == kRegionFinished) continue;
                Vec2 p{}, q{};
                int32_t index = openEntryFind(par, n, w, 0, &p, &q);
                if (index < 0) index = openEntryFind(par, n, 4 * r * sf, 0, &p, &q);
                if (index < 0 || ringStartAt(par, &q, index) != 1) continue;
                pocketSetPlungePending(1);
                const ContourElement entry = elemLineOf(p, q, -1);
                emitFiltered(&entry);
                if (pocketRegionPathDirect(par, w, 1) < 0) {
                    pocketError(kPocketErrStep);
                    break;
                }
            }
        }
        openNodeCut(n, w, children.data(), static_cast<int32_t>(children.size()));
        regionSetDone(n, kRegionFinished);
    }
    // What stays is finished from the inside out.
    k.outsideInDirect = 0;
    int last = 0;
    bool walked = false;
    if (!k.noPlunge) {
        for (int32_t m = regionPickDeepest(); m >= 0; m = regionPickDeepest()) {
            ccpRingStartAtLongestLine(m);
            pocketSetPlungePending(1);
            walked = true;
            last = pocketRegionPath(m, w, 0);
            if (last < 0) {
                pocketError(kPocketErrStep);
                break;
            }
            if (regionIsDone(m) != kRegionFinished) regionSetDone(m, kRegionFinished);
        }
    } else {
        pocketError(kStockErrNoPlungeFinish);
    }
    clistFree("MAIN");
    clistFree("INSEL");
    regionTreeFree();
    pocketContourEnd();
    return walked ? last : pending;
}
