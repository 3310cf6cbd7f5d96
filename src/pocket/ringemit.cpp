#include "pocket/ringemit.h"

#include <cmath>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "kernel/ncout/ncemit.h"
#include "pocket/chaincross.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/linkmove.h"
#include "pocket/planecheck.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/stepmemo.h"

namespace {

constexpr double kNearTie = 0.049;

Vec2 startOf(const ContourElement& e) {
    return e.type == kElemArc ? Vec2{e.g[kAsx], e.g[kAsy]} : Vec2{e.g[kLx1], e.g[kLy1]};
}
Vec2 endOf(const ContourElement& e) {
    return e.type == kElemArc ? Vec2{e.g[kAex], e.g[kAey]} : Vec2{e.g[kLx2], e.g[kLy2]};
}

bool near(const Vec2& a, const Vec2& b) {
    return std::hypot(a.x - b.x, a.y - b.y) < 1e-4;
}

// A position with a point on its element's end moves to the start of the next element.
void normalise(RingPosition* p, const ContourElement* ring, int32_t n, bool wrap) {
    int32_t el;
    Vec2 pt;
    if (!positionPoint(p, ring, n, &el, &pt)) return;
    p->element = el;
    p->x = pt.x;
    p->y = pt.y;
    if (!near(pt, endOf(ring[el - 1]))) return;
    if (el < n) {
        p->element = el + 1;
    } else if (wrap) {
        p->element = 1;
    } else {
        return;
    }
    Vec2 s = startOf(ring[p->element - 1]);
    p->x = s.x;
    p->y = s.y;
}

int emitPiece(ContourElement e, const Vec2& from, const Vec2& to) {
    elemTrim(&e, &from, &to);
    if (elemIsPoint(&e)) return 0;
    emitFiltered(&e);
    return 1;
}

}  // namespace

int positionPoint(const RingPosition* position, const ContourElement* ring, int32_t n, int32_t* element,
                  Vec2* point) {
    if (!position || !ring || n < 1) return 0;
    if (position->element == 0) {
        *element = 1;
        *point = startOf(ring[0]);
    } else if (position->element < 0 || position->element > n) {
        *element = n;
        *point = endOf(ring[n - 1]);
    } else {
        *element = position->element;
        *point = {position->x, position->y};
    }
    return 1;
}

int ringOrder(int mode, const RingPosition* a0, const RingPosition* b0, const ContourElement* ring, int32_t n,
              const RingPosition* c0) {
    bool wrap = !pocketKernel().stockOutin || contourIsClosed(ring, n);
    RingPosition a = *a0, b = *b0, c = *c0;
    normalise(&a, ring, n, wrap);
    normalise(&b, ring, n, wrap);
    normalise(&c, ring, n, wrap);
    Vec2 pa{a.x, a.y}, pb{b.x, b.y}, pc{c.x, c.y};
    if (a.element == b.element && near(pa, pb)) return 0;
    if (a.element == c.element && near(pa, pc)) return mode == 2 ? -1 : 1;
    if (b.element == c.element && near(pb, pc)) return mode == 2 ? 1 : -1;
    // Whether a point lies after c on c's own element is taken exactly: the tie tolerance of the element
    // order (0.049, an angle on an arc: 2 mm at radius 45) put a point 1.3 mm behind c after it, and a
    // ring resumed behind its entry counted as done at the first connection, its rest never cut.
    const ContourElement* ce = &ring[c.element - 1];
    bool aAfterC = a.element == c.element && pointOrderOnElem(ce, &pa, &pc) == 1;
    bool bAfterC = b.element == c.element && pointOrderOnElem(ce, &pb, &pc) == 1;
    if (aAfterC && !bAfterC) return 1;
    if (bAfterC && !aAfterC) return -1;
    if (a.element == b.element) return arcOrder(&ring[a.element - 1], &pa, &pb) >= 0 ? 1 : -1;
    int32_t ua = a.element <= c.element ? a.element + n : a.element;
    int32_t ub = b.element <= c.element ? b.element + n : b.element;
    return ua < ub ? 1 : -1;
}

int ringSegmentDone(const WalkEntry* entry, const RingPosition* position, const ContourElement* ring,
                    int32_t n, int done) {
    if (done) return 1;
    return ringOrder(2, &entry->to, position, ring, n, &entry->from) != -1 ? 1 : 0;
}

int32_t ringSegmentEmit(const WalkEntry* entry, const ContourElement* ring, int32_t n, int done) {
    int32_t fe, te;
    Vec2 fp, tp;
    if (!entry || !positionPoint(&entry->from, ring, n, &fe, &fp) ||
        !positionPoint(&entry->to, ring, n, &te, &tp))
        return 0;
    bool whole = ringOrder(2, &entry->from, &entry->to, ring, n, &entry->from) == 0;
    if (whole && done) return 0;
    // A from-point on its element's end starts on the next element.
    if (near(fp, endOf(ring[fe - 1]))) {
        fe = fe % n + 1;
        fp = startOf(ring[fe - 1]);
    }
    bool closed = contourIsClosed(ring, n) != 0;
    rampTransition(&fp);
    if (whole) {
        te = fe;
        tp = fp;
    }
    int32_t count = 0;
    const ContourElement& first = ring[fe - 1];
    if (!whole && te == fe && pointOnElem(&tp, &first) && arcOrder(&first, &fp, &tp) > 0) {
        // A to-point that the tie tolerance puts after the from-point but that lies behind it leaves
        // nothing between them: cut from one to the other along the element, an arc ran almost a
        // whole turn the other way round (0.049 is an angle on an arc: half a millimetre at radius 10).
        if (pointOrderOnElem(&first, &tp, &fp) != 1) return 0;
        return emitPiece(first, fp, tp);
    }
    count += emitPiece(first, fp, endOf(first));
    for (int32_t i = fe % n + 1, steps = 0; steps < n; i = i % n + 1, ++steps) {
        if (i == 1 && !closed) break;
        const ContourElement& e = ring[i - 1];
        if (i == te) {
            count += emitPiece(e, startOf(e), tp);
            break;
        }
        emitFiltered(&e);
        ++count;
    }
    return count;
}

void ringRetract() {
    // Elements held for a ramp entry go out before the tool leaves.
    rampFlush();
    pocketSetPlungePending(1);
}

int emitFiltered(const ContourElement* element) {
    // The plane's own stock movement: the run sets it per plane (along the contour for a single one).
    const PocketKernel& k = pocketKernel();
    bool open = k.openMode != 0 || k.openPocket;
    if (k.stockMovement == 1 && (open || k.pocketContour) && element->sourceTag < 0) {
        ringRetract();
        return 0;
    }
    pocketEmitElement(element);
    return 1;
}

namespace {

StepMemo& clearMemo() {
    static StepMemo m;
    return m;
}

int lineClearOfInputRun(const ContourElement* line);

}  // namespace

// The planes of a level test the same links against the same INPUT contours: the answer is recorded under
// the line, the state of the INPUT list and the kernel variables.
int lineClearOfInput(const ContourElement* line) {
    const uint64_t input = clistGeneration("INPUT");
    StepStateImage state;
    stepStateImage(&state);
    StepKey key;
    stepKeyElements(&key, line, 1);
    key.add(&input, sizeof input);
    key.add(state.bytes, sizeof state.bytes);
    if (const std::vector<unsigned char>* hit = stepMemoFind(clearMemo(), key)) return (*hit)[0];
    const int clear = lineClearOfInputRun(line);
    stepMemoAdd(&clearMemo(), key, std::vector<unsigned char>(1, static_cast<unsigned char>(clear)));
    return clear;
}

void ringEmitResetState() {
    stepMemoClear(&clearMemo());
}
static const RunReset gRunReset(kRunResetCycles, "ringEmit", ringEmitResetState);

namespace {

int lineClearOfInputRun(const ContourElement* line) {
    int32_t n = clistCount("INPUT");
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader("INPUT", &h, i) < 0 || !h.elements) continue;
        int hits = 0;
        for (uint32_t k = 0; k < h.elementCount; ++k) {
            Vec2 pts[2];
            int m = elemIntersect(line, &h.elements[k], pts);
            if (m < 0) return 0;
            hits += m;
        }
        if (hits > 1) return 0;
    }
    return 1;
}

}  // namespace

int pointClearOfInput(const Vec2* point, double radius, const char* list) {
    int32_t n = clistCount(list);
    for (int32_t i = 0; i < n; ++i) {
        ContourHeader h{};
        if (clistGetHeader(list, &h, i) < 0 || !h.elements || h.elementCount < 1) continue;
        if (contourDistance(point, h.elements, static_cast<int32_t>(h.elementCount)) <= radius) return 0;
    }
    return 1;
}

int segmentClearOfRing(const Vec2* p1, const Vec2* p2, const ContourElement* ring, int32_t n) {
    double dx = p2->x - p1->x, dy = p2->y - p1->y;
    double line[4] = {p1->x + 0.1 * dx, p1->y + 0.1 * dy, p2->x - 0.1 * dx, p2->y - 0.1 * dy};
    return segmentCrossesChain(line, ring, n) ? 0 : 1;
}

int linkStraight(const Vec2* p1, const Vec2* p2, double step) {
    if (pocketPlungePending()) return 0;
    double len = pointDist2D(p1, p2);
    ContourElement line = elemLineOf(*p1, *p2, 0);
    // A line that crosses no wall may still pass nearer one than the tool allows (from one small ring
    // to another past an island's corner): the tool's room along it decides too.
    const double bottom = kvCCPParams.surface - std::fabs(kvCCPParams.depth);
    if (len > 2 * step + 1e-4 || (len > step / 2 && !lineClearOfInput(&line)) ||
        (len > 1e-4 && toolRoomAlong(p1, p2, 0, bottom) != 1)) {
        ringRetract();
        return 0;
    }
    pocketEmitElement(&line);
    return 1;
}

int linkSmooth(const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, double radius, double step) {
    if (pocketPlungePending()) return 0;
    if (pointDist2D(p1, p2) > 2 * step + 1e-4) {
        ringRetract();
        return 0;
    }
    std::vector<ContourElement> buf(10000);
    int32_t m = linkMoveBuild(p1, t1, p2, t2, radius, buf.data());
    if (m < 0) return linkStraight(p1, p2, step);
    for (int32_t i = 0; i < m; ++i) pocketEmitElement(&buf[i]);
    return 1;
}

int startPointMove(const Vec2* start, const Vec2* ringPoint) {
    rampTransition(start);
    ContourElement line = elemLineOf(*start, *ringPoint, 0);
    pocketEmitElement(&line);
    return 1;
}

namespace {

struct Box {
    double x0, y0, x1, y1;
};

// A box that holds every point elemElemDistance may measure from on e: a line's points with the run-out
// its foot test allows past the ends (margin), an arc's ends, their feet on the circle and the circle's
// extremes its sweep reaches (all four unless the sweep is plainly below half a turn), widened by the
// arc end tolerance. False for an element of another kind.
bool measureBox(const ContourElement& e, double margin, Box* b) {
    if (e.type == kElemLine) {
        *b = {std::fmin(e.g[kLx1], e.g[kLx2]) - margin, std::fmin(e.g[kLy1], e.g[kLy2]) - margin,
              std::fmax(e.g[kLx1], e.g[kLx2]) + margin, std::fmax(e.g[kLy1], e.g[kLy2]) + margin};
        return true;
    }
    if (e.type != kElemArc) return false;
    const double cx = e.g[kAcx], cy = e.g[kAcy], r = e.g[kAr];
    const double sx = e.g[kAsx] - cx, sy = e.g[kAsy] - cy, ex = e.g[kAex] - cx, ey = e.g[kAey] - cy;
    Box q{std::fmin(e.g[kAsx], e.g[kAex]), std::fmin(e.g[kAsy], e.g[kAey]), std::fmax(e.g[kAsx], e.g[kAex]),
          std::fmax(e.g[kAsy], e.g[kAey])};
    auto add = [&q](double x, double y) {
        q = {std::fmin(q.x0, x), std::fmin(q.y0, y), std::fmax(q.x1, x), std::fmax(q.y1, y)};
    };
    const double ls = std::hypot(sx, sy), le = std::hypot(ex, ey), ar = std::fabs(r);
    if (ls > 0) add(cx + r * sx / ls, cy + r * sy / ls);
    if (le > 0) add(cx + r * ex / le, cy + r * ey / le);
    const double sense = e.direction > 0 ? 1.0 : -1.0;
    const bool minor = sense * (sx * ey - sy * ex) > 1e-9 * ls * le;
    const double px[4] = {r, 0, -r, 0}, py[4] = {0, r, 0, -r};
    for (int k = 0; k < 4; ++k) {
        // A thousandth of a radian of slack: wider than the arc end tolerance.
        if (minor && !(sense * (sx * py[k] - sy * px[k]) >= -1e-3 * ls * ar &&
                       sense * (px[k] * ey - py[k] * ex) >= -1e-3 * ar * le))
            continue;
        add(cx + px[k], cy + py[k]);
    }
    constexpr double kRoom = 1e-3;
    *b = {q.x0 - kRoom, q.y0 - kRoom, q.x1 + kRoom, q.y1 + kRoom};
    return std::isfinite(b->x0) && std::isfinite(b->y0) && std::isfinite(b->x1) && std::isfinite(b->y1);
}

double boxGap(const Box& a, const Box& b) {
    const double dx = std::fmax(0.0, std::fmax(a.x0 - b.x1, b.x0 - a.x1));
    const double dy = std::fmax(0.0, std::fmax(a.y0 - b.y1, b.y0 - a.y1));
    return std::sqrt(dx * dx + dy * dy);
}

double measureMargin() {
    const PocketKernel& k = pocketKernel();
    return 15 * (k.geometryScale < 5 ? 2.0 : 1.0) * std::fabs(k.tolerance) + 1e-3;
}

// A lower bound of the distance between elements with these measuring boxes.
double gapBound(const Box& a, const Box& b) {
    return boxGap(a, b) * (1 - 1e-9) - 1e-9;
}

struct Cand {
    double d;
    Vec2 a, b;
    int32_t el;
};

// Among the candidates within the tie of the nearest, the one met first along the element.
const Cand* chooseCandidate(const ContourElement* element, const std::vector<Cand>& kept, double best) {
    const Cand* choice = nullptr;
    for (const Cand& c : kept) {
        if (c.d > best + kNearTie) continue;
        if (!choice || arcOrder(element, &choice->a, &c.a) < 0) choice = &c;
    }
    return choice;
}

// The sequential rule below keeps a measured element when it comes within the tie of the last one kept.
// Every element within the tie of the nearest distance is therefore kept (the last kept is never nearer
// than the nearest), and the choice is made among those alone. So it is enough to measure the first
// element (always kept) and the elements whose boxes come within the tie of a distance already found.
// False (nothing written) where that shortcut could differ: a box that is not finite, a ring long enough to
// overflow the candidates, a first distance that is not a number, a candidate exactly on the tie.
bool nearElemRingDistance(const ContourElement* element, const ContourElement* ring, int32_t n,
                          const RingMeasure& measure, Vec2* onElement, RingPosition* onRing, double* result) {
    Box eb{};
    if (!measure.usable || n < 1 || n > kRingMaxCandidates ||
        static_cast<size_t>(n) * 4 != measure.boxes.size() || measure.margin != measureMargin() ||
        !measureBox(*element, measure.margin, &eb))
        return false;
    const auto boxOfRing = [&measure](int32_t i) {
        const double* b = &measure.boxes[4 * static_cast<size_t>(i)];
        return Box{b[0], b[1], b[2], b[3]};
    };
    static thread_local std::vector<double> gaps;
    gaps.resize(static_cast<size_t>(n));
    int32_t nearest = 0;
    for (int32_t i = 0; i < n; ++i) {
        gaps[i] = gapBound(eb, boxOfRing(i));
        if (gaps[i] < gaps[nearest]) nearest = i;
    }
    Cand first{};
    first.d = elemElemDistance(element, &ring[0], &first.a, &first.b);
    first.el = 1;
    if (std::isnan(first.d)) return false;
    double bound = first.d;
    Cand probe{};
    if (nearest != 0) {
        probe.d = elemElemDistance(element, &ring[nearest], &probe.a, &probe.b);
        probe.el = nearest + 1;
        if (probe.d < bound) bound = probe.d;
    }
    if (!(bound < bound + kNearTie)) return false;  // a tie lost to rounding
    static thread_local std::vector<Cand> kept;
    kept.clear();
    kept.push_back(first);
    double best = first.d;
    for (int32_t i = 1; i < n; ++i) {
        if (gaps[i] > bound + kNearTie) continue;
        Cand c = probe;
        if (i != nearest) {
            c.d = elemElemDistance(element, &ring[i], &c.a, &c.b);
            c.el = i + 1;
        }
        if (std::isnan(c.d)) continue;  // never kept
        kept.push_back(c);
        best = std::fmin(best, c.d);
    }
    // Measured elements beyond the tie are left out as the rule would leave them; one exactly on it could
    // go either way.
    size_t w = 0;
    for (const Cand& c : kept) {
        if (c.d > best + kNearTie) continue;
        if (!(c.d < best + kNearTie)) return false;
        kept[w++] = c;
    }
    kept.resize(w);
    const Cand* choice = chooseCandidate(element, kept, best);
    if (onElement) *onElement = choice->a;
    if (onRing) *onRing = {choice->el, choice->b.x, choice->b.y};
    *result = choice->d;
    return true;
}

}  // namespace

void ringMeasureBuild(const ContourElement* ring, int32_t n, RingMeasure* out) {
    out->margin = measureMargin();
    out->usable = std::isfinite(out->margin) && n >= 0;
    out->boxes.assign(out->usable ? 4 * static_cast<size_t>(n) : 0, 0.0);
    for (int32_t i = 0; i < n && out->usable; ++i) {
        Box b{};
        out->usable = measureBox(ring[i], out->margin, &b);
        double* o = &out->boxes[4 * static_cast<size_t>(i)];
        o[0] = b.x0, o[1] = b.y0, o[2] = b.x1, o[3] = b.y1;
    }
}

double elemRingDistance(const ContourElement* element, const ContourElement* ring, int32_t n, Vec2* onElement,
                        RingPosition* onRing, const RingMeasure* measure) {
    double shortcut;
    if (measure && nearElemRingDistance(element, ring, n, *measure, onElement, onRing, &shortcut))
        return shortcut;
    std::vector<Cand> kept;
    double running = 0;
    // A ring element whose box lies farther than a candidate could be kept is not measured: its distance
    // is at least the gap of the boxes, so it would be passed over anyway.
    const double margin = measureMargin();
    Box eb{};
    const bool prune = std::isfinite(margin) && measureBox(*element, margin, &eb);
    for (int32_t i = 0; i < n; ++i) {
        Box rb;
        if (prune && !kept.empty() && measureBox(ring[i], margin, &rb) &&
            gapBound(eb, rb) >= running + kNearTie)
            continue;
        Cand c{};
        c.d = elemElemDistance(element, &ring[i], &c.a, &c.b);
        c.el = i + 1;
        if (!kept.empty() && !(c.d < running + kNearTie)) continue;
        if (static_cast<int32_t>(kept.size()) >= kRingMaxCandidates) {
            // Past the cap no candidate is kept and the running distance stays, so nothing later can
            // change the answer: the search is reported once and ends (a report per candidate left out
            // sent tens of thousands of messages for one fine ring).
            pocketError(3241);
            break;
        }
        kept.push_back(c);
        running = c.d;
    }
    if (kept.empty()) return -1;
    double best = kept[0].d;
    for (const Cand& c : kept) best = std::fmin(best, c.d);
    const Cand* choice = chooseCandidate(element, kept, best);
    if (onElement) *onElement = choice->a;
    if (onRing) *onRing = {choice->el, choice->b.x, choice->b.y};
    return choice->d;
}

double ringDistancePoints(const ContourElement* a, int32_t na, const ContourElement* b, int32_t nb, Vec2* onA,
                          Vec2* onB) {
    double best = -1;
    for (int32_t i = 0; i < na; ++i) {
        Vec2 pa;
        RingPosition pb;
        double d = elemRingDistance(&a[i], b, nb, &pa, &pb);
        if (d < 0 || (best >= 0 && !(d < best))) continue;
        best = d;
        if (onA) *onA = pa;
        if (onB) *onB = {pb.x, pb.y};
    }
    return best;
}

double ringDistance(const ContourElement* a, int32_t na, const ContourElement* b, int32_t nb) {
    return ringDistancePoints(a, na, b, nb, nullptr, nullptr);
}

namespace {

// The node's whole ring from its start round to it; the node is then finished.
int32_t emitWholeRing(int32_t node) {
    const RegionNode* rn = regionNode(node);
    if (!rn || rn->elementCount < 1 || !rn->elements) return 0;
    std::vector<ContourElement> ring(rn->elementCount);
    const int32_t n = static_cast<int32_t>(ring.size());
    if (regionLoadElements(ring.data(), n, rn->elements) != 1) return 0;
    WalkEntry whole{node, {0, 0, 0}, {0, 0, 0}};
    ringSegmentEmit(&whole, ring.data(), n, regionIsDone(node) == kRegionFinished);
    regionSetDone(node, kRegionFinished);
    return 1;
}

}  // namespace

int32_t ringEmitSingleBranches() {
    int32_t rings = 0;
    for (int32_t i = 0; i < regionNodeCount(); ++i) {
        const RegionNode* rn = regionNode(i);
        if (!rn || rn->parentCount != 1 || regionIsDone(i) == kRegionFinished) continue;
        const RegionNode* parent = regionNode(regionParent(i, 1));
        if (!parent || parent->parentCount != 0) continue;
        if (rings == 0) ncAssignRecord(pocketRecord(), "full", "start");
        rings += emitWholeRing(i);
    }
    if (rings > 0) ncAssignRecord(pocketRecord(), "full", "end");
    return rings;
}

int32_t ringEmitRoots() {
    int32_t rings = 0;
    for (int32_t i = 0; i < regionNodeCount(); ++i) {
        const RegionNode* rn = regionNode(i);
        if (rn && rn->parentCount == 0 && regionIsDone(i) != kRegionFinished) rings += emitWholeRing(i);
    }
    return rings;
}
