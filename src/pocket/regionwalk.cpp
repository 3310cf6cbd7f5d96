#include "pocket/regionwalk.h"

#include <cmath>
#include <new>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "pocket/chaincross.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/elemdist.h"
#include "pocket/islands.h"
#include "pocket/linkmove.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/ringemit.h"
#include "pocket/stepmemo.h"
#include "pocket/strategies.h"

namespace {

constexpr double kNearTie = 0.049;
constexpr double kTravelBudget = 100000.0;

int gAllDoneCached = 0;

using Ring = std::vector<ContourElement>;

// Whether loadRing would load the node's ring, without copying it.
bool ringLoadable(int32_t node) {
    const RegionNode* r = regionNode(node);
    return r && r->elementCount >= 1 && r->elements && static_cast<int32_t>(r->elementCount) >= 0;
}

bool loadRing(int32_t node, Ring* ring) {
    if (!ringLoadable(node)) return false;
    const RegionNode* r = regionNode(node);
    // A block that holds the whole ring is copied as it stands, without clearing the ring first.
    if (r->elements->size >= sizeof(ContourElement) * r->elementCount) {
        const auto* e = static_cast<const ContourElement*>(r->elements->data);
        ring->assign(e, e + r->elementCount);
        return true;
    }
    ring->assign(r->elementCount, ContourElement{});
    return regionLoadElements(ring->data(), static_cast<int32_t>(r->elementCount), r->elements) == 1;
}

Vec2 startOf(const ContourElement& e) {
    return e.type == kElemArc ? Vec2{e.g[kAsx], e.g[kAsy]} : Vec2{e.g[kLx1], e.g[kLy1]};
}
Vec2 endOf(const ContourElement& e) {
    return e.type == kElemArc ? Vec2{e.g[kAex], e.g[kAey]} : Vec2{e.g[kLx2], e.g[kLy2]};
}

bool nearPt(const Vec2& a, const Vec2& b) {
    return std::hypot(a.x - b.x, a.y - b.y) < 1e-4;
}

int push(const WalkEntry& e) {
    gAllDoneCached = 0;
    return regionStackPush(&e);
}

// One piece of the scan along c: element index (1-based) and the part of it used.
struct Piece {
    int32_t element;
    ContourElement e;
};

// The scan order of the searches: the part of the from-element after the
// from-point, the elements after it, those from the first up to it, and last
// the part before the from-point.
std::vector<Piece> scanOrder(const ContourElement* c, int32_t n, const RingPosition* from) {
    std::vector<Piece> out;
    int32_t fe;
    Vec2 fp;
    if (!positionPoint(from, c, n, &fe, &fp)) return out;
    ContourElement head = c[fe - 1];
    Vec2 b = endOf(head);
    bool atEnd = nearPt(fp, b);
    if (!atEnd) {
        elemTrim(&head, &fp, &b);
        out.push_back({fe, head});
    }
    for (int32_t i = fe % n + 1, k = 1; k < n; i = i % n + 1, ++k) out.push_back({i, c[i - 1]});
    Vec2 a = startOf(c[fe - 1]);
    if (atEnd) {
        out.push_back({fe, c[fe - 1]});
    } else if (!nearPt(fp, a)) {
        ContourElement tail = c[fe - 1];
        elemTrim(&tail, &a, &fp);
        out.push_back({fe, tail});
    }
    return out;
}

// A candidate connection: the node, its position on the current ring and on its own ring.
struct Candidate {
    int32_t node;
    RingPosition onC, onT;
};

enum SearchMode { kForward, kInward, kReversed };

int connectOnce(SearchMode mode, const Ring& c, const Ring& t, const RingPosition* from, double d,
                RingPosition* onC, RingPosition* onT) {
    RingPosition target{0, 0, 0};
    int32_t n = static_cast<int32_t>(c.size()), m = static_cast<int32_t>(t.size());
    if (mode == kInward)
        return connectInward(c.data(), n, t.data(), m, from, &target, d, kTravelBudget, onC, onT) == 1;
    if (mode == kReversed) return connectReversed(c.data(), n, t.data(), m, from, &target, d, onC, onT);
    return connectForward(c.data(), n, t.data(), m, from, &target, d, onC, onT);
}

StepMemo& connectMemo() {
    static StepMemo m;
    return m;
}

// A position as result bytes, field by field.
void appendPosition(std::vector<unsigned char>* bytes, const RingPosition& p) {
    stepResultAppend(bytes, &p.element, sizeof p.element);
    stepResultAppend(bytes, &p.x, sizeof p.x);
    stepResultAppend(bytes, &p.y, sizeof p.y);
}

void takePosition(StepMemoReader* r, RingPosition* p) {
    r->take(&p->element, sizeof p->element);
    r->take(&p->x, sizeof p->x);
    r->take(&p->y, sizeof p->y);
}

int connectSearch(SearchMode mode, const Ring& c, const Ring& t, const RingPosition* from, double d,
                  RingPosition* onC, RingPosition* onT);

// A search within d, repeated within the distance of the two rings when it finds nothing. It reads the
// rings, the positions (those it may leave unwritten too) and the kernel variables: the planes of a level
// repeat the same searches, which are recorded (one that reported an error is not).
int connectWithRetry(SearchMode mode, const Ring& c, const Ring& t, const RingPosition* from, double d,
                     RingPosition* onC, RingPosition* onT) {
    const int32_t words[6] = {static_cast<int32_t>(mode),
                              static_cast<int32_t>(c.size()),
                              static_cast<int32_t>(t.size()),
                              from->element,
                              onC->element,
                              onT->element};
    const double values[7] = {d, from->x, from->y, onC->x, onC->y, onT->x, onT->y};
    StepStateImage state;
    stepStateImage(&state);
    StepKey key;
    key.add(words, sizeof words);
    key.add(values, sizeof values);
    key.add(state.bytes, sizeof state.bytes);
    stepKeyElements(&key, c.data(), c.size());
    stepKeyElements(&key, t.data(), t.size());
    int32_t found = 0;
    if (const std::vector<unsigned char>* hit = stepMemoFind(connectMemo(), key)) {
        StepMemoReader r{hit};
        r.take(&found, sizeof found);
        takePosition(&r, onC);
        takePosition(&r, onT);
        return found;
    }
    const int64_t errors = pocketErrorCalls();
    found = connectSearch(mode, c, t, from, d, onC, onT);
    if (pocketErrorCalls() != errors) return found;
    std::vector<unsigned char> result;
    try {
        stepResultAppend(&result, &found, sizeof found);
        appendPosition(&result, *onC);
        appendPosition(&result, *onT);
    } catch (const std::bad_alloc&) {
        return found;
    }
    stepMemoAdd(&connectMemo(), key, std::move(result));
    return found;
}

int connectSearch(SearchMode mode, const Ring& c, const Ring& t, const RingPosition* from, double d,
                  RingPosition* onC, RingPosition* onT) {
    if (connectOnce(mode, c, t, from, d, onC, onT) == 1) return 1;
    double dd =
        ringDistance(c.data(), static_cast<int32_t>(c.size()), t.data(), static_cast<int32_t>(t.size()));
    return dd >= 0 && connectOnce(mode, c, t, from, dd, onC, onT) == 1 ? 1 : 0;
}

// The first element of ring t, scanned from the position, within d of the
// point whose nearest point lies on that (cut) element: 1 and the position.
int ringPointNear(const Ring& t, const RingPosition* position, const Vec2& point, double d,
                  RingPosition* out) {
    std::vector<Piece> scan = scanOrder(t.data(), static_cast<int32_t>(t.size()), position);
    for (const Piece& pc : scan) {
        Vec2 nearest;
        double dist = elemDistance(&point, &pc.e, &nearest);
        if (dist < d + kNearTie && pointOnElem(&nearest, &pc.e)) {
            *out = {pc.element, nearest.x, nearest.y};
            return 1;
        }
    }
    return 0;
}

// The outward connection: the end of a piece the current ring inherited from
// the target (searched backwards from the entry's end), else a forward search;
// the straight link must stay off the current ring, else d shrinks.
int connectOutward(const Ring& c, const Ring& t, int32_t target, const WalkEntry* entry, double d,
                   RingPosition* onC, RingPosition* onT) {
    int32_t n = static_cast<int32_t>(c.size()), fe, te;
    Vec2 fp, tp;
    positionPoint(&entry->from, c.data(), n, &fe, &fp);
    positionPoint(&entry->to, c.data(), n, &te, &tp);
    for (int k = 10; k >= 1; --k) {
        double dk = d * k / 10.0;
        bool found = false;
        for (int32_t i = te, steps = 0; steps < n; i = (i + n - 2) % n + 1, ++steps) {
            if (c[i - 1].sourceTag == target) {
                Vec2 b = endOf(c[i - 1]);
                RingPosition startT{0, 0, 0};
                if (ringPointNear(t, &startT, b, dk, onT)) {
                    *onC = {i, b.x, b.y};
                    found = true;
                }
                break;
            }
            if (i == fe) break;
        }
        if (!found && connectWithRetry(kForward, c, t, &entry->from, dk, onC, onT) != 1) continue;
        Vec2 p1{onC->x, onC->y}, p2{onT->x, onT->y};
        if (segmentClearOfRing(&p1, &p2, c.data(), n)) return 1;
    }
    return 0;
}

bool explicitStartRing() {
    return pocketKernel().startGiven && regionBestStart() && regionBestStart()->found;
}

bool parentReachedElsewhere(int32_t p, int32_t c) {
    int32_t k1 = regionFirstKind1Parent(c);
    const RegionNode* pn = regionNode(p);
    if (!pn) return false;
    for (int32_t i = 1; i <= pn->childCount; ++i) {
        int32_t ch = regionChild(p, i);
        const RegionNode* cn = regionNode(ch);
        if (ch == c || !cn || cn->parentCount == 1) continue;
        if (cn->done != kRegionOpen) continue;
        for (int32_t j = 1; j < cn->parentCount; ++j) {
            int32_t q = regionParent(ch, j);
            const RegionNode* qn = regionNode(q);
            if (q == k1 || (qn && qn->parentCount > 0)) return true;
        }
    }
    return false;
}

}  // namespace

int connectInward(const ContourElement* c, int32_t n, const ContourElement* t, int32_t m,
                  const RingPosition* from, const RingPosition* target, double d, double budget,
                  RingPosition* onC, RingPosition* onT) {
    if (target->element != 0) {
        pocketError(3021);
        return 0;
    }
    std::vector<Piece> scan = scanOrder(c, n, from);
    RingMeasure measure;
    ringMeasureBuild(t, m, &measure);
    bool found = false;
    double lowest = 0, travelled = 0;
    for (size_t i = 0; i < scan.size(); ++i) {
        // The part before the from-point is only tried when nothing qualified.
        if (found && i + 1 == scan.size() && scan[i].element == scan[0].element) break;
        travelled += elemLength(&scan[i].e);
        if (travelled > budget) return -1;
        Vec2 pe;
        RingPosition pt;
        double dist = elemRingDistance(&scan[i].e, t, m, &pe, &pt, &measure);
        if (dist < 0) continue;
        if (found && !(dist < lowest - kNearTie)) break;
        if (dist < d + kNearTie) {
            found = true;
            lowest = dist;
            *onC = {scan[i].element, pe.x, pe.y};
            *onT = pt;
        }
    }
    return found ? 1 : 0;
}

int connectForward(const ContourElement* c, int32_t n, const ContourElement* t, int32_t m,
                   const RingPosition* from, const RingPosition* target, double d, RingPosition* onC,
                   RingPosition* onT) {
    if (target->element != 0) {
        pocketError(3021);
        return 0;
    }
    std::vector<Piece> scan = scanOrder(c, n, from);
    RingMeasure measure;
    ringMeasureBuild(t, m, &measure);
    bool found = false;
    double chosen = 0;
    int counted = 0;
    for (size_t i = 0; i < scan.size(); ++i) {
        if (found && i + 1 == scan.size() && scan[i].element == scan[0].element) break;
        Vec2 pe;
        RingPosition pt;
        double dist = elemRingDistance(&scan[i].e, t, m, &pe, &pt, &measure);
        bool qualifies = dist >= 0 && dist < d + kNearTie;
        if (qualifies && (!found || dist < 0.9 * chosen)) {
            *onC = {scan[i].element, pe.x, pe.y};
            *onT = pt;
            chosen = dist;
            if (!found && i == 0) return 1;  // the rest of the from-element wins at once
            found = true;
        }
        if (found && ++counted >= 20) break;
    }
    return found ? 1 : 0;
}

int connectReversed(const ContourElement* c, int32_t n, const ContourElement* t, int32_t m,
                    const RingPosition* from, const RingPosition* target, double d, RingPosition* onC,
                    RingPosition* onT) {
    std::vector<ContourElement> rev(c, c + n);
    contourReverse(rev.data(), n);
    auto mirror = [n](RingPosition p) {
        p.element = p.element == 0 ? -1 : p.element < 0 ? 0 : n - p.element + 1;
        return p;
    };
    RingPosition rf = mirror(*from);
    if (connectForward(rev.data(), n, t, m, &rf, target, d, onC, onT) != 1) return 0;
    *onC = mirror(*onC);
    return 1;
}

int32_t firstAlongRing(const ContourElement* ring, int32_t n, const RingPosition* from,
                       const RingPosition* candidates, int32_t count) {
    int32_t choice = -1;
    for (int32_t i = 0; i < count; ++i) {
        if (candidates[i].element == -2) continue;
        if (choice < 0 || ringOrder(2, &candidates[choice], &candidates[i], ring, n, from) == -1) choice = i;
    }
    return choice;
}

int regionHasOpenBranch(const int32_t* candidates, int32_t count, int32_t c) {
    int32_t k1 = regionFirstKind1Parent(c);
    for (int32_t i = 0; i < count; ++i) {
        int32_t p = candidates[i];
        const RegionNode* pn = regionNode(p);
        if (p == k1 || !pn) continue;
        if (pn->childCount == 0) return 1;
        bool allFinished = true;
        for (int32_t j = 1; j <= pn->childCount; ++j) {
            int32_t ch = regionChild(p, j);
            const RegionNode* cn = regionNode(ch);
            if (ch == c || !cn || cn->parentCount == 1) continue;
            if (regionFirstKind1Parent(ch) < 0 && cn->done == kRegionOpen) return 1;
            if (cn->done != kRegionFinished) allFinished = false;
        }
        if (allFinished) return 1;
    }
    return 0;
}

int regionParentClear(int32_t p, int32_t c, int always) {
    if (!always && p == regionFirstKind1Parent(c)) return 0;
    return parentReachedElsewhere(p, c) ? 0 : 1;
}

int regionStackAllDone(int32_t next) {
    if (gAllDoneCached) return 1;
    int32_t depth = regionStackDepth();
    if (depth == 0) return 0;
    std::vector<WalkEntry> entries;
    WalkEntry e;
    while (regionStackPop(&e)) entries.push_back(e);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) regionStackPush(&*it);
    auto finished = [](int32_t node) { return regionIsDone(node) == kRegionFinished; };
    for (size_t i = 0; i < entries.size(); ++i) {
        int32_t node = i == 0 ? next : entries[i].node;
        const RegionNode* rn = regionNode(node);
        if (!rn || !finished(node)) return 0;
        for (int32_t j = 1; j <= rn->childCount; ++j)
            if (!finished(regionChild(node, j))) return 0;
        for (int32_t j = 1; j <= rn->parentCount; ++j)
            if (!finished(regionParent(node, j))) return 0;
    }
    gAllDoneCached = 1;
    return 1;
}

int regionNoOpenChild(int32_t node, int32_t except) {
    if (except >= 0 && !explicitStartRing()) return 1;
    const RegionNode* rn = regionNode(node);
    if (!rn) return 1;
    for (int32_t j = 1; j <= rn->childCount; ++j) {
        int32_t ch = regionChild(node, j);
        if (ch != except && regionIsDone(ch) == kRegionOpen) return 0;
    }
    return 1;
}

int regionTreePrepass(double dr, double dmax) {
    int32_t count = regionNodeCount();
    for (int32_t i = 1; i < count; ++i) {
        const RegionNode* ni = regionNode(i);
        if (!ni || ni->parentCount > 0 || ni->childCount > 0) continue;
        Ring a, b;
        if (!loadRing(i, &a)) continue;
        for (int32_t j = 0; j < count; ++j) {
            const RegionNode* nj = regionNode(j);
            if (j == i || !nj || nj->childCount == 0 || !loadRing(j, &b)) continue;
            Vec2 pa, pb;
            double d = ringDistancePoints(a.data(), static_cast<int32_t>(a.size()), b.data(),
                                          static_cast<int32_t>(b.size()), &pa, &pb);
            Vec2 mid{(pa.x + pb.x) / 2, (pa.y + pb.y) / 2};
            if (d >= 0 && d < dmax && pointClearOfInput(&mid, dr, "INPUT")) regionAddLink(i, j);
        }
    }
    return 1;
}

namespace {

bool hasOpenSide(const Ring& ring) {
    return nextOpenElement(ring.data(), static_cast<int32_t>(ring.size()), 0) >= 0;
}

// In a rapid open pocket the tool crosses open sides at rapid instead of cutting them, so a
// connection is moved to where material ends on the current ring (c) and begins on the next
// one (t). toP0: the step up to the kind-1 parent, which moves only from an open-sided ring.
void materialRunMove(const Ring& c, const Ring& t, bool toP0, bool openVariant, Candidate* cand) {
    const PocketKernel& k = pocketKernel();
    if (k.stockMovement != 1 || !k.openPocket) return;
    // A ring wholly on open sides has no material run to move a connection to.
    if (openVariant && (chainAllOpen(c.data(), static_cast<int32_t>(c.size())) ||
                        chainAllOpen(t.data(), static_cast<int32_t>(t.size()))))
        return;
    const int32_t n = static_cast<int32_t>(c.size()), m = static_cast<int32_t>(t.size());
    RingPosition q;
    if (!toP0 && !hasOpenSide(t)) {
        if (!positionAtMaterialStart(c.data(), n, &cand->onC) ||
            materialEndBefore(c.data(), n, &cand->onC, &q) != 1)
            return;
        cand->onC = q;
        Vec2 at{q.x, q.y}, nearest;
        int32_t index = -1;
        if (contourNearestElement(&at, t.data(), m, &index, &nearest) >= 0 && index >= 0)
            cand->onT = {index + 1, nearest.x, nearest.y};
        return;
    }
    if (toP0 && !hasOpenSide(c)) return;
    if (openStartAfter(c.data(), n, &cand->onC, &q) == 1) cand->onC = q;
    if (materialRunStart(t.data(), m, &cand->onT, &q) == 1) cand->onT = q;
}

int sequence(const WalkEntry* entry, double step, RingPosition* connection, RingPosition* nextStart,
             int32_t* next, bool direct, bool openVariant) {
    int32_t c = entry->node;
    Ring ring;
    if (!loadRing(c, &ring)) return kWalkFailed;
    int32_t n = static_cast<int32_t>(ring.size());
    const RegionNode* cn = regionNode(c);
    double d = step;
    std::vector<Candidate> cands;
    for (int32_t i = 1; i <= cn->childCount; ++i) {
        int32_t k = regionChild(c, i);
        Ring kr;
        if (regionIsDone(k) != kRegionOpen || !loadRing(k, &kr)) continue;
        Candidate cand{k, {}, {}};
        // Outside-in, the step inwards comes at the end of what is left of this ring: searched back from
        // there. (Searched back from where the entry starts, it lay behind that point whenever the entry
        // resumed a ring, and the step ran once more round the part already cut to reach it.)
        const RingPosition* from = direct ? &entry->to : &entry->from;
        if (connectWithRetry(direct ? kReversed : kInward, ring, kr, from, d, &cand.onC, &cand.onT))
            cands.push_back(cand);
    }
    auto pick = [&](const std::vector<Candidate>& list) {
        std::vector<RingPosition> pos;
        for (const Candidate& cd : list) pos.push_back(cd.onC);
        int32_t i =
            firstAlongRing(ring.data(), n, &entry->from, pos.data(), static_cast<int32_t>(pos.size()));
        return i < 0 ? list[0] : list[i];
    };
    if (!cands.empty()) {
        Candidate best = pick(cands);
        *connection = best.onC;
        *nextStart = best.onT;
        *next = best.node;
        return ringLoadable(best.node) ? kWalkDown : kWalkFailed;
    }
    int32_t p0 = regionFirstKind1Parent(c);
    std::vector<int32_t> ids;
    if (p0 >= 0 && regionIsDone(p0) != kRegionFinished) {
        cands.push_back({p0, {-2, 0, 0}, {}});
        ids.push_back(p0);
    }
    for (int32_t i = 1; i <= cn->parentCount; ++i) {
        int32_t p = regionParent(c, i);
        Ring pr;
        if (p == p0 || regionIsDone(p) == kRegionFinished || !loadRing(p, &pr)) continue;
        if (direct ? !pocketKernel().openPocket && regionParentClear(p, c, 0) != 1
                   : !pocketKernel().openPocket && parentReachedElsewhere(p, c))
            continue;
        Candidate cand{p, {}, {}};
        if (connectOutward(ring, pr, p, entry, d, &cand.onC, &cand.onT)) {
            materialRunMove(ring, pr, false, openVariant, &cand);
            cands.push_back(cand);
            ids.push_back(p);
        }
    }
    WalkEntry top;
    if (regionStackPeek(&top)) {
        bool explicitStart = explicitStartRing();
        if (!regionHasOpenBranch(ids.data(), static_cast<int32_t>(ids.size()), c) &&
            (p0 < 0 || p0 == top.node || regionRootOf(c) == 0) &&
            (!explicitStart || cands.empty() || p0 < 0 || regionParentClear(p0, c, 0) == 0)) {
            *connection = entry->to;
            *nextStart = top.from;
            *next = top.node;
            return ringLoadable(top.node) ? kWalkBack : kWalkFailed;
        }
    }
    if (cands.empty()) return kWalkFinish;
    if (cands.size() == 1 && cands[0].node == p0) {
        Ring pr;
        if (!loadRing(p0, &pr)) return kWalkFailed;
        const RingPosition* from = regionIsDone(c) == kRegionFinished ? &entry->from : &entry->to;
        Candidate cand{p0, {}, {}};
        if (!connectWithRetry(kForward, ring, pr, from, d, &cand.onC, &cand.onT) &&
            !connectWithRetry(kForward, ring, pr, from, 2 * d, &cand.onC, &cand.onT))
            return kWalkFailed;
        materialRunMove(ring, pr, true, openVariant, &cand);
        *connection = cand.onC;
        *nextStart = cand.onT;
        *next = p0;
        return kWalkUp;
    }
    std::vector<Candidate> others;
    for (const Candidate& cd : cands)
        if (cd.node != p0) others.push_back(cd);
    Candidate best = pick(others);
    *connection = best.onC;
    *nextStart = best.onT;
    *next = best.node;
    return kWalkUp;
}

}  // namespace

int regionRingSequence(const WalkEntry* entry, double step, RingPosition* connection, RingPosition* nextStart,
                       int32_t* next) {
    return sequence(entry, step, connection, nextStart, next, false, false);
}

int regionRingSequenceOut(const WalkEntry* entry, double step, RingPosition* connection,
                          RingPosition* nextStart, int32_t* next) {
    return sequence(entry, step, connection, nextStart, next, true, false);
}

int regionRingSequenceOpen(const WalkEntry* entry, double step, RingPosition* connection,
                           RingPosition* nextStart, int32_t* next) {
    return sequence(entry, step, connection, nextStart, next, true, true);
}

int regionPathEmit(const WalkEntry* entry, int code, const RingPosition* connection,
                   const RingPosition* nextStart, int32_t next, double step) {
    int32_t node = entry->node;
    Ring ring;
    if (!loadRing(node, &ring)) return -1;
    int32_t n = static_cast<int32_t>(ring.size());
    auto finished = [&] { return regionIsDone(node) == kRegionFinished; };
    if (code == kWalkFinish) {
        ringSegmentEmit(entry, ring.data(), n, finished());
        regionSetDone(node, kRegionFinished);
        return 1;
    }
    WalkEntry part{node, entry->from, *connection};
    bool empty = !pocketKernel().outsideInDirect &&
                 ringOrder(2, &part.from, &part.to, ring.data(), n, &part.from) == 0;
    int32_t emitted = 0;
    if (!(code == kWalkDown && empty)) {
        if (code == kWalkDownWhole && !empty) emitted += ringSegmentEmit(entry, ring.data(), n, finished());
        emitted += ringSegmentEmit(&part, ring.data(), n, finished());
        if (pocketKernel().forceInside) pocketEndMark(node);
    }
    bool pushRest = true;
    int32_t k1 = regionFirstKind1Parent(node);
    if (code == kWalkDown && empty) {
        // Nothing cut on this ring yet: the rest stays to be done. (Judged by the connection alone, a
        // descent from the entry's own start counted the ring as finished and lost all of it.)
        pushRest = !finished();
    } else if (ringSegmentDone(entry, connection, ring.data(), n, finished())) {
        regionSetDone(node, kRegionFinished);
        const RegionNode* rn = regionNode(node);
        if (rn->parentCount == 0 && regionNoOpenChild(node, next)) pushRest = false;
        if (rn->parentCount > 0 && next == k1) pushRest = false;
        if (code == kWalkBack) pushRest = false;
    } else if (next == k1 && regionNoOpenChild(node, -1)) {
        WalkEntry round{node, *connection, *connection};
        ringSegmentEmit(&round, ring.data(), n, 0);
        regionSetDone(node, kRegionFinished);
        pushRest = false;
    } else if (code == kWalkDownWhole) {
        regionSetDone(node, kRegionFinished);
        pushRest = false;
    } else if (emitted == 0 && finished()) {
        pushRest = false;
    }
    if (pushRest) push({node, *connection, entry->to});
    Ring nr;
    if (!loadRing(next, &nr)) return -1;
    int32_t fe, te;
    Vec2 p1, p2;
    positionPoint(connection, ring.data(), n, &fe, &p1);
    positionPoint(nextStart, nr.data(), static_cast<int32_t>(nr.size()), &te, &p2);
    const PocketKernel& k = pocketKernel();
    bool skipLink = (k.openPocket || (code == kWalkBack && (k.stockOutin || k.outsideInDirect))) &&
                    regionStackAllDone(next);
    if (!skipLink) {
        infeedMark(1);
        double radius = kvCCPParams.infeedRadius;
        Vec2 t1, t2;
        if (pointDist2D(&p1, &p2) < 1e-4 || std::fabs(radius) <= 1e-4 ||
            pathTangentAt(ring.data(), n, fe, &p1, 0, &t1) != 1 ||
            pathTangentAt(nr.data(), static_cast<int32_t>(nr.size()), te, &p2, code == kWalkBack ? 1 : 0,
                          &t2) != 1) {
            linkStraight(&p1, &p2, step);
        } else {
            if (code == kWalkBack) t2 = {-t2.x, -t2.y};
            linkSmooth(&p1, &t1, &p2, &t2, radius, step);
        }
        infeedMark(0);
    }
    if (code != kWalkBack) push({next, *nextStart, *nextStart});
    return 1;
}

namespace {

// The sequence step of each walk: the normal one, the outside-in direct one, and the direct one of open
// pockets.
enum WalkKind { kWalkNormal, kWalkDirect, kWalkDirectOpen };

int walk(int32_t start, double step, int singleOuter, WalkKind kind) {
    regionStackClear();
    if (start < 0 || start >= regionNodeCount()) {
        pocketError(3023);
        return -1;
    }
    WalkEntry first{start, {0, 0, 0}, {-1, 0, 0}};
    const RegionBestStart* best = regionBestStart();
    if (explicitStartRing()) {
        first.node = best->node;
        first.from = first.to = {best->element, best->point.x, best->point.y};
        Vec2 s{pocketKernel().startX, pocketKernel().startY};
        // Outside-in collects this move with the rest: replayed backwards, the path ends at the start
        // point. (Written directly, the move and the descent after it came before a replay that
        // started again from the start point, through whatever lay between.)
        startPointMove(&s, &best->point);
    }
    push(first);
    int previous = -1;
    WalkEntry e;
    while (regionStackPop(&e)) {
        if (previous == kWalkFinish) {
            rampFlush();
            pocketSetPlungePending(1);
        }
        RingPosition conn{}, nextStart{};
        int32_t next = -1;
        int code = kind == kWalkDirectOpen ? regionRingSequenceOpen(&e, step, &conn, &nextStart, &next)
                   : kind == kWalkDirect   ? regionRingSequenceOut(&e, step, &conn, &nextStart, &next)
                                           : regionRingSequence(&e, step, &conn, &nextStart, &next);
        if (code < 0) {
            pocketError(3024);
            return 1;
        }
        if (singleOuter && code == kWalkDown) code = kWalkDownWhole;
        if (regionPathEmit(&e, code, &conn, &nextStart, next, step) < 0) {
            pocketError(3020);
            return 1;
        }
        previous = code;
    }
    return 1;
}

}  // namespace

int pocketRegionPath(int32_t start, double step, int singleOuter) {
    return walk(start, step, singleOuter, kWalkNormal);
}

int pocketRegionPathDirect(int32_t start, double step, int variant) {
    return walk(start, step, 0, variant ? kWalkDirectOpen : kWalkDirect);
}

void regionWalkResetState() {
    gAllDoneCached = 0;
    stepMemoClear(&connectMemo());
}
static const RunReset gRunReset(kRunResetCycles, "regionWalk", regionWalkResetState);
