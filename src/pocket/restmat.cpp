#include "pocket/restmat.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/ccp.h"
#include "pocket/chaincross.h"
#include "pocket/clist.h"
#include "pocket/contourclean.h"
#include "pocket/contourorient.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/gcodefile.h"
#include "pocket/nesting.h"
#include "pocket/planerings.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/regiontree.h"
#include "pocket/rifblock.h"
#include "pocket/ringassembly.h"

namespace {

RestCircle gCircle{};
double gTolerance = 0.04;
double gAllowance = 0;
int32_t gRestMode = 0;
int32_t gAreaLimit = 0;

// The SPAN rings (the reference tool's centre paths), read once per plane.
std::vector<std::vector<ContourElement>> gRings;

bool loadRings() {
    gRings.clear();
    const int32_t n = clistCount("SPAN");
    for (int32_t i = 0; i < n; ++i) {
        std::vector<ContourElement> r;
        if (!clistLoad("SPAN", i, r)) return false;
        if (!r.empty()) gRings.push_back(std::move(r));
    }
    return true;
}

double ringsDistance(const Vec2& p) {
    double best = 1e300;
    for (const auto& r : gRings) {
        const double d = contourDistance(&p, r.data(), static_cast<int32_t>(r.size()));
        if (d >= 0) best = std::min(best, d);
    }
    return best;
}

// The arc about c from a to b that the reference tool does not reach: of the
// two ways round, the one whose middle lies farther from the reference rings.
ContourElement cornerArc(const Vec2& c, double radius, const Vec2& a, const Vec2& b) {
    ContourElement e{};
    e.type = kElemArc;
    e.sourceTag = 1;
    e.g[kAcx] = c.x;
    e.g[kAcy] = c.y;
    e.g[kAsx] = a.x;
    e.g[kAsy] = a.y;
    e.g[kAex] = b.x;
    e.g[kAey] = b.y;
    e.g[kAr] = radius;
    e.direction = 1;
    const double a0 = std::atan2(a.y - c.y, a.x - c.x), a1 = std::atan2(b.y - c.y, b.x - c.x);
    double ccw = a1 - a0;
    while (ccw <= 1e-12) ccw += 2 * 3.141592653589793;
    const Vec2 midCcw{c.x + radius * std::cos(a0 + 0.5 * ccw), c.y + radius * std::sin(a0 + 0.5 * ccw)};
    const Vec2 midCw{2 * c.x - midCcw.x, 2 * c.y - midCcw.y};
    if (ringsDistance(midCw) > ringsDistance(midCcw)) e.direction = -1;
    return e;
}

bool sameCorner(const RestTouch& a, const RestTouch& b) {
    return std::hypot(a.cornerX - b.cornerX, a.cornerY - b.cornerY) <= gTolerance;
}

// The touch on the same boundary with the other side met first along it from
// touch t (forward) or met first going back (backward); -1 for none.
int32_t partnerOf(const std::vector<ContourElement>& boundary, const RestTouch* touches, int32_t count,
                  int32_t t, double referenceRadius, bool anyState, bool backward) {
    const RestTouch& cur = touches[t];
    const int32_t n = static_cast<int32_t>(boundary.size());
    const bool closed = contourIsClosed(boundary.data(), n) != 0;
    int32_t best = -1;
    double bestLen = 0;
    for (int32_t j = 0; j < count; ++j) {
        const RestTouch& c = touches[j];
        if (j == t || c.boundary != cur.boundary || c.side == cur.side || (!anyState && c.state != 0))
            continue;
        double len = backward ? contourLengthBetween(boundary.data(), n, &c.at, &cur.at)
                              : contourLengthBetween(boundary.data(), n, &cur.at, &c.at);
        const bool samePoint = std::hypot(c.at.x - cur.at.x, c.at.y - cur.at.y) < 1e-9;
        if (len < 0) {
            if (closed || !samePoint) continue;
            len = 0;
        }
        const double cornerGap = std::hypot(c.cornerX - cur.cornerX, c.cornerY - cur.cornerY);
        if (len < 0.0001 && cornerGap < 0.6 * referenceRadius) continue;
        if (best >= 0 && len == 0 && bestLen == 0) {
            const double bestGap =
                std::hypot(touches[best].cornerX - cur.cornerX, touches[best].cornerY - cur.cornerY);
            if (cornerGap <= bestGap) best = j;
            continue;
        }
        if (best < 0 || len < bestLen) {
            best = j;
            bestLen = len;
        }
    }
    return best;
}

void releaseTaken(RestTouch* touches, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        if (touches[i].state == 2) touches[i].state = 0;
}

double alongContour(const ContourElement* elements, const ContourPos* p) {
    double s = 0;
    for (int32_t i = 0; i < p->element; ++i) s += elemLength(&elements[i]);
    const Vec2 q{p->x, p->y};
    return s + elemLengthTo(&elements[p->element], &q, nullptr);
}

bool validPos(int32_t count, const ContourPos* p) {
    return p && p->element >= 0 && p->element < count;
}

}  // namespace

double contourLengthBetween(const ContourElement* elements, int32_t count, const ContourPos* from,
                            const ContourPos* to) {
    if (!elements || !validPos(count, from) || !validPos(count, to)) return -1;
    const double d = alongContour(elements, to) - alongContour(elements, from);
    if (d >= 0) return d;
    if (!contourIsClosed(elements, count)) return -1;
    return contourLength(elements, count) + d;
}

int32_t contourPointAtFraction(const ContourElement* elements, int32_t count, double fraction, Vec2* out) {
    if (!elements || count < 1 || !out) return -1;
    fraction = std::clamp(fraction, 0.0, 1.0);
    double rest = fraction * contourLength(elements, count);
    int32_t last = 0;
    for (int32_t i = 0; i < count; ++i) {
        const ContourElement& e = elements[i];
        const double len = elemLength(&e);
        if (len <= 0) continue;
        last = i;
        if (rest > len && i < count - 1) {
            rest -= len;
            continue;
        }
        rest = std::min(rest, len);
        if (e.type == kElemArc) {
            const double a = std::atan2(e.g[kAsy] - e.g[kAcy], e.g[kAsx] - e.g[kAcx]) +
                             (e.direction > 0 ? 1.0 : -1.0) * rest / e.g[kAr];
            *out = {e.g[kAcx] + e.g[kAr] * std::cos(a), e.g[kAcy] + e.g[kAr] * std::sin(a)};
        } else {
            const double t = rest / len;
            *out = {e.g[kLx1] + t * (e.g[kLx2] - e.g[kLx1]), e.g[kLy1] + t * (e.g[kLy2] - e.g[kLy1])};
        }
        return i;
    }
    elemPoint(&elements[last], out, kElemEnd);
    return last;
}

int32_t restContourPiece(ContourElement* out, const ContourElement* elements, int32_t count,
                         const ContourPos* from, const ContourPos* to) {
    if (!out || !elements || !validPos(count, from) || !validPos(count, to)) return 0;
    const Vec2 p{from->x, from->y}, q{to->x, to->y};
    int32_t n = 0;
    int32_t i = from->element;
    const ContourElement& first = elements[i];
    const bool sameForward =
        from->element == to->element && elemFraction(&first, &p) <= elemFraction(&first, &q);
    if (sameForward) {
        out[n] = first;
        elemTrim(&out[n++], &p, &q);
        return contourClean(out, n);
    }
    Vec2 end;
    elemPoint(&first, &end, kElemEnd);
    out[n] = first;
    elemTrim(&out[n++], &p, &end);
    const bool closed = contourIsClosed(elements, count) != 0;
    for (int32_t k = 1; k <= count; ++k) {
        i = i + 1;
        if (i >= count) {
            if (!closed) break;
            i = 0;
        }
        if (i == to->element) {
            Vec2 s;
            elemPoint(&elements[i], &s, kElemStart);
            out[n] = elements[i];
            elemTrim(&out[n++], &s, &q);
            break;
        }
        out[n++] = elements[i];
    }
    return contourClean(out, n);
}

int restMidpoint(const ContourElement* elements, int32_t count, const ContourPos* from, const ContourPos* to,
                 Vec2* out) {
    if (!out || contourLengthBetween(elements, count, from, to) < 0) return 0;
    std::vector<ContourElement> piece(static_cast<size_t>(count) + 1);
    const int32_t n = restContourPiece(piece.data(), elements, count, from, to);
    if (n < 1) {
        *out = {from->x, from->y};
        return 1;
    }
    return contourPointAtFraction(piece.data(), n, 0.5, out) >= 0 ? 1 : 0;
}

int cornerClassify(const ContourElement* first, const ContourElement* second, int* out) {
    Vec2 ta, tb;
    if (!first || !second || !out || !elemTangent(first, &ta, kElemEnd) ||
        !elemTangent(second, &tb, kElemStart))
        return 0;
    const double tol = 0.005 * (first->type == kElemLine && second->type == kElemArc ? 9 : 10);
    double cross = vecCross2D(&ta, &tb);
    if (std::fabs(cross) >= tol) {
        *out = cross > 0 ? kCornerLeft : kCornerRight;
        return 1;
    }
    if (vecDot2D(&ta, &tb) >= 0) {
        *out = kCornerSmooth;
        return 1;
    }
    *out = kCornerReversal;
    if (second->type != kElemArc) return 1;
    // An arc that leaves backwards turns to one side soon after its start.
    ContourElement part = *second;
    const double sweep = arcSweepAngle(second);
    const double a0 = std::atan2(second->g[kAsy] - second->g[kAcy], second->g[kAsx] - second->g[kAcx]);
    const double a = a0 + 0.1 * sweep;
    part.g[kAex] = second->g[kAcx] + second->g[kAr] * std::cos(a);
    part.g[kAey] = second->g[kAcy] + second->g[kAr] * std::sin(a);
    Vec2 tp;
    if (!elemTangent(&part, &tp, kElemEnd)) return 1;
    cross = vecCross2D(&ta, &tp);
    if (std::fabs(cross) >= tol) *out = cross > 0 ? kCornerLeft : kCornerRight;
    return 1;
}

int32_t restCornerCollect(const ContourElement* boundary, int32_t count, int32_t boundaryIndex,
                          double referenceRadius, RestTouch* touches, int32_t* used) {
    if (!boundary || !touches || !used || count < 1) return 0;
    const double target = referenceRadius + gAllowance;
    int32_t added = 0;
    for (const auto& ring : gRings) {
        const int32_t n = static_cast<int32_t>(ring.size());
        const int32_t joints = contourIsClosed(ring.data(), n) ? n : n - 1;
        for (int32_t i = 0; i < joints; ++i) {
            const ContourElement& a = ring[i];
            const ContourElement& b = ring[(i + 1) % n];
            int type = kCornerSmooth;
            if (!cornerClassify(&a, &b, &type) || type == kCornerSmooth) continue;
            Vec2 p{}, ta{}, tb{};
            elemPoint(&a, &p, kElemEnd);
            elemTangent(&a, &ta, kElemEnd);
            elemTangent(&b, &tb, kElemStart);
            const Vec2 m{0.5 * (ta.x + tb.x), 0.5 * (ta.y + tb.y)};
            for (int32_t k = 0; k < count; ++k) {
                if (boundary[k].sourceTag < 0) continue;
                Vec2 q{};
                const double d = elemDistance(&p, &boundary[k], &q);
                if (std::fabs(d - target) > gTolerance) continue;
                bool known = false;
                for (int32_t j = 0; j < *used && !known; ++j)
                    known = std::hypot(touches[j].cornerX - p.x, touches[j].cornerY - p.y) <= gTolerance &&
                            std::hypot(touches[j].at.x - q.x, touches[j].at.y - q.y) <= 10 * gTolerance;
                if (known) continue;
                if (*used >= kRestMaxTouches) return -1;
                RestTouch& t = touches[(*used)++];
                t = RestTouch{};
                t.side = m.x * (q.x - p.x) + m.y * (q.y - p.y) >= 0.0001 ? 1 : -1;
                t.boundary = boundaryIndex;
                t.cornerX = p.x;
                t.cornerY = p.y;
                t.at = ContourPos{k, 0, q.x, q.y};
                ++added;
            }
        }
    }
    return added;
}

int restAreasCompute(double referenceRadius, RestTouch* touches, int32_t count) {
    if (!touches) return -1;
    int32_t cur = -1;
    for (int32_t i = 0; i < count && cur < 0; ++i)
        if (touches[i].state == 0 && touches[i].side == -1) cur = i;
    if (cur < 0) return 0;
    touches[cur].state = 1;
    const int32_t start = cur;
    const double radius = referenceRadius + gAllowance;
    std::vector<ContourElement> area;
    {
        const Vec2 c{touches[cur].cornerX, touches[cur].cornerY}, q{touches[cur].at.x, touches[cur].at.y};
        area.push_back(cornerArc(c, radius, q, q));
    }
    auto abandon = [&] {
        releaseTaken(touches, count);
        return 1;
    };
    std::vector<ContourElement> boundary;
    for (int32_t guard = 0; guard <= count; ++guard) {
        if (!clistLoad("MAIN", touches[cur].boundary, boundary) || boundary.empty()) return abandon();
        const int32_t n = static_cast<int32_t>(boundary.size());
        const int32_t partner = partnerOf(boundary, touches, count, cur, referenceRadius, false, false);
        if (partner < 0 || partnerOf(boundary, touches, count, partner, referenceRadius, true, true) != cur)
            return abandon();
        const RestTouch& p = touches[partner];
        if (std::hypot(p.at.x - touches[cur].at.x, p.at.y - touches[cur].at.y) >= 0.03 * referenceRadius) {
            Vec2 mid{};
            if (!restMidpoint(boundary.data(), n, &touches[cur].at, &p.at, &mid)) return abandon();
            if (ringsDistance(mid) <= referenceRadius + gAllowance + gTolerance) return abandon();
        }
        touches[partner].state = 2;
        std::vector<ContourElement> piece(static_cast<size_t>(n) + 1);
        const int32_t m = restContourPiece(piece.data(), boundary.data(), n, &touches[cur].at, &p.at);
        for (int32_t i = 0; i < m; ++i) {
            piece[i].sourceTag = 0;
            area.push_back(piece[i]);
        }
        Vec2 end{p.at.x, p.at.y};
        if (!area.empty()) elemPoint(&area.back(), &end, kElemEnd);
        if (sameCorner(p, touches[start])) {
            if (area.size() < 2) return abandon();
            Vec2 first{};
            elemPoint(&area[1], &first, kElemStart);
            area[0] = cornerArc({touches[start].cornerX, touches[start].cornerY}, radius, end, first);
            ContourHeader h{};
            h.elementCount = static_cast<uint32_t>(area.size());
            h.ccw = contourOrientation(area.data(), static_cast<int32_t>(area.size())) > 0 ? 1 : 0;
            h.leftSide = 1;
            h.tag = 1;
            if (!clistInsert("REST", area.data(), &h, -1)) return -1;
            for (int32_t i = 0; i < count; ++i)
                if (touches[i].state == 2) touches[i].state = 1;
            return 1;
        }
        int32_t next = -1;
        double far = -1;
        for (int32_t i = 0; i < count; ++i) {
            if (touches[i].state != 0 || !sameCorner(touches[i], p)) continue;
            const double d = std::hypot(touches[i].at.x - p.at.x, touches[i].at.y - p.at.y);
            if (d > far) {
                far = d;
                next = i;
            }
        }
        if (next < 0) return abandon();
        touches[next].state = 2;
        area.push_back(
            cornerArc({p.cornerX, p.cornerY}, radius, end, {touches[next].at.x, touches[next].at.y}));
        cur = next;
    }
    return abandon();
}

int restAreasLevel(double referenceRadius) {
    if (referenceRadius > 20.0) gTolerance *= 2;
    const int32_t mains = clistCount("MAIN");
    gAllowance = pocketAllowanceGet(mains > 1 ? 1 : 0);
    std::vector<RestTouch> touches;
    try {
        touches.assign(kRestMaxTouches, RestTouch{});
    } catch (...) {
        return -1;
    }
    if (!loadRings()) return -1;
    const PocketKernel& k = pocketKernel();
    int32_t used = 0;
    std::vector<ContourElement> boundary;
    for (int32_t i = k.openMode == 2 ? 1 : 0; i < mains; ++i) {
        ContourHeader h{};
        if (clistGetHeader("MAIN", &h, i) < 0) continue;
        if (k.openMode == 1 && h.stock) continue;
        if (!clistLoad("MAIN", i, boundary)) continue;
        if (restCornerCollect(boundary.data(), static_cast<int32_t>(boundary.size()), i, referenceRadius,
                              touches.data(), &used) < 0) {
            gRings.clear();
            return -1;
        }
    }
    int r = 1;
    while ((r = restAreasCompute(referenceRadius, touches.data(), used)) > 0) {
    }
    gRings.clear();
    return r < 0 ? -1 : 1;
}

int restSetParams(const ContourElement* e) {
    if (!e) return 0;
    gCircle = RestCircle{};
    if (e->type == kElemArc) {
        gCircle = {e->g[kAcx], e->g[kAcy], e->g[kAsx], e->g[kAsy],
                   e->g[kAex], e->g[kAey], e->g[kAr],  e->direction};
    } else {
        gCircle.sx = e->g[kLx1];
        gCircle.sy = e->g[kLy1];
        gCircle.ex = e->g[kLx2];
        gCircle.ey = e->g[kLy2];
    }
    return 1;
}

const RestCircle* restCircle() {
    return &gCircle;
}

int restElementOutside(const ContourElement* element, int32_t count) {
    if (!rifBlock()->evalRif) return 1;
    if (!element || count < 1) return 1;
    ContourElement c{};
    c.type = kElemArc;
    c.g[kAcx] = gCircle.cx;
    c.g[kAcy] = gCircle.cy;
    c.g[kAsx] = gCircle.sx;
    c.g[kAsy] = gCircle.sy;
    c.g[kAex] = gCircle.ex;
    c.g[kAey] = gCircle.ey;
    c.g[kAr] = gCircle.radius;
    c.direction = gCircle.direction;
    if (elemContourClassify(&c, element, count) != 0) return 1;
    Vec2 s{};
    elemPoint(element, &s, kElemStart);
    return std::hypot(s.x - gCircle.cx, s.y - gCircle.cy) >= gCircle.radius ? 1 : 0;
}

int restModeActive() {
    return gRestMode;
}

void restSetAreaLimit(int32_t n) {
    gAreaLimit = n;
}

double restTolerance() {
    return gTolerance;
}

void restMatResetState() {
    gCircle = RestCircle{};
    gTolerance = 0.04;
    gAllowance = 0;
    gRestMode = 0;
    gAreaLimit = 0;
    gRings.clear();
    gRings.shrink_to_fit();
}
static const RunReset gRunReset(kRunResetCycles, "restMat", restMatResetState);

int32_t restAddInnerIslands(const ContourElement* area, int32_t count, int orientation) {
    if (!area || count < 1) return 0;
    int32_t added = 0;
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount("ORIG"); ++i) {
        ContourHeader h{};
        if (!clistLoad("ORIG", i, c) || c.empty() || clistGetHeader("ORIG", &h, i) < 0) continue;
        Vec2 p{};
        elemPoint(&c[0], &p, kElemStart);
        if (!pointInContour(area, count, &p) || contourDistance(&p, area, count) < 0.0001) continue;
        const int32_t n = static_cast<int32_t>(c.size());
        if (contourOrientation(c.data(), n) == orientation) contourReverse(c.data(), n);
        h.tag = 1;
        h.ccw = contourOrientation(c.data(), n) > 0 ? 1 : 0;
        h.elementCount = static_cast<uint32_t>(n);
        h.elements = nullptr;
        if (clistInsert("INPUT", c.data(), &h, -1)) ++added;
    }
    return added;
}

namespace {

// INPUT holds the job's contours again, from ORIG, whatever happened to it meanwhile.
void restoreInput() {
    if (clistCount("ORIG") < 0) return;
    clistClear("INPUT");
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount("ORIG"); ++i) {
        ContourHeader h{};
        if (clistGetHeader("ORIG", &h, i) < 0 || !clistLoad("ORIG", i, c)) continue;
        h.elements = nullptr;
        clistInsert("INPUT", c.data(), &h, -1);
    }
}

bool copyList(const char* from, const char* to) {
    std::vector<ContourElement> c;
    for (int32_t i = 0; i < clistCount(from); ++i) {
        ContourHeader h{};
        if (clistGetHeader(from, &h, i) < 0 || !clistLoad(from, i, c)) return false;
        h.elements = nullptr;
        if (!clistInsert(to, c.data(), &h, -1)) return false;
    }
    return true;
}

// Machines one rest area (element 0 its start arc) with its inner islands.
int restMachineArea(std::vector<ContourElement>& area, ContourHeader header) {
    PocketKernel& k = pocketKernel();
    CcpParams& p = kvCCPParams;
    const ContourElement& arc = area[0];
    restSetParams(&arc);
    k.startGiven = p.startExplicit = 1;
    k.startX = p.startX = 1.1 * arc.g[kAcx] - 0.05 * (arc.g[kAsx] + arc.g[kAex]);
    k.startY = p.startY = 1.1 * arc.g[kAcy] - 0.05 * (arc.g[kAsy] + arc.g[kAey]);
    if (k.stepFactor < 0.5) gCircle.radius -= (1 - 2 * k.stepFactor) * k.toolRadius;
    k.startRadius = gCircle.radius;
    const int wanted = k.wantedOrientation >= 0 ? 1 : -1;
    const int32_t n = static_cast<int32_t>(area.size());
    if (contourOrientation(area.data(), n) != wanted) contourReverse(area.data(), n);
    header.ccw = header.leftSide = wanted == 1 ? 1 : 0;
    header.tag = 1;
    header.elementCount = static_cast<uint32_t>(n);
    header.elements = nullptr;
    clistClear("INPUT");
    arcCentreRepair(area.data(), n);
    if (!clistInsert("INPUT", area.data(), &header, -1)) return -1;
    restAddInnerIslands(area.data(), n, wanted);
    if (k.pocketWise) return ccpBuildPocketList("INPUT") ? 1 : -1;
    return ccpMachinePlanes(wanted) ? 1 : -1;
}

}  // namespace

int pocketRestMaterial(const char* listName, double referenceRadius) {
    PocketKernel& k = pocketKernel();
    gTolerance = 0.04;
    gRestMode = 1;
    if (!clistCreate("SPAN")) return -1;
    if (listName) {
        if (!copyList(listName, "SPAN")) return -1;
        clistFree(listName);
    } else {
        const int r = gcodeFileRead("SPAN", &referenceRadius);
        if (r <= 0) {
            if (r == 0) pocketError(kRestErrGcode);
            clistFree("SPAN");
            return -1;
        }
    }
    if (!clistCreate("REST")) return -1;
    if (referenceRadius < 1.0) gTolerance /= 25;
    if (referenceRadius - gTolerance < k.toolRadius) {
        pocketError(kRestErrNotLarger);
        clistFree("SPAN");
        clistFree("REST");
        return 0;
    }
    const int level = restAreasLevel(referenceRadius);
    clistFree("SPAN");
    clistFree("MAIN");
    if (level < 0) {
        clistFree("REST");
        return -1;
    }
    if (!clistCreate("ORIG") || !copyList("INPUT", "ORIG")) {
        clistFree("ORIG");
        clistFree("REST");
        return -1;
    }
    RifBlock& b = *rifBlock();
    b.evalRif = 0;
    pocketNcHeader();
    b.evalRif = 1;
    pocketAllowanceSet(0, gAllowance);
    if (clistCount("REST") < 1) pocketError(kRestErrEmpty);
    int result = 1;
    int32_t areas = 0;
    std::vector<ContourElement> area;
    while (clistCount("REST") > 0) {
        ContourHeader h{};
        if (clistGetHeader("REST", &h, -1) < 0 || !clistLoad("REST", -1, area)) {
            result = -1;
            break;
        }
        clistDelete("REST", -1);
        if (gAreaLimit > 0 && ++areas > gAreaLimit) {
            pocketError(kRestErrAreaLimit);
            break;
        }
        if (area.size() < 2 ||
            b.minLength - 0.0001 > contourLength(area.data() + 1, static_cast<int32_t>(area.size()) - 1)) {
            pocketError(kRestErrTooShort);
            continue;
        }
        if (restMachineArea(area, h) < 0) {
            result = -1;
            break;
        }
    }
    restoreInput();
    clistFree("ORIG");
    clistFree("REST");
    return result;
}

int ccpRestByReferenceTool(double radius) {
    PocketKernel& k = pocketKernel();
    RifBlock& b = *rifBlock();
    const double toolRadius = k.toolRadius, step = k.stepFactor;
    // The reset clears the step factor; the reference tool steps as the tool does.
    pocketKernelInit();
    k.stepFactor = step;
    if (!clistCreate("REST")) return -1;
    char rifName[sizeof b.rifName];
    std::memcpy(rifName, b.rifName, sizeof rifName);
    std::snprintf(b.rifName, sizeof b.rifName, "%s", "REST");
    b.genRif = 1;
    b.evalRif = 0;
    k.toolRadius = radius;
    // Whatever happens, the tool and the ring output are the run's own again afterwards.
    struct Restore {
        PocketKernel& k;
        RifBlock& b;
        double radius;
        const char* name;
        ~Restore() {
            k.toolRadius = radius;
            b.evalRif = 1;
            b.genRif = 0;
            std::snprintf(b.rifName, sizeof b.rifName, "%s", name);
        }
    } restore{k, b, toolRadius, rifName};
    const int sigma = k.wantedOrientation >= 0 ? 1 : -1;
    int ok = regionTreeInit(1) ? 1 : -1;
    if (ok > 0) ok = pocketOffsetIslands(radius, pocketAllowances(), sigma) < 0 ? -1 : 1;
    if (ok > 0 && kvCCPParams.stock == 0)
        ok = pocketLevelLoop(radius, pocketAllowanceGet(0), k.stepFactor, sigma) < 0 ? -1 : 1;
    if (ok < 0) {
        pocketError(kPocketErrStep);
        return -1;
    }
    for (const char* l : {"SPAN", "GKT", "INSEL"}) clistFree(l);
    return 1;
}
