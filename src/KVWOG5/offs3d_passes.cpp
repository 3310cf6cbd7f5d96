// Offset engine passes: the tool steps along the elements from a start contact until it closes its
// loop or reaches the frame; a second pass the other way and a join complete an open run.
#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <numbers>
#include <utility>
#include <vector>

#include "KVWOG5/geocalc.h"
#include "KVWOG5/kont2d.h"
#include "KVWOG5/lists.h"
#include "KVWOG5/offs3d.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/seggrid.h"
#include "KVWOG5/wogerr.h"
#include "geometry/grid2d.h"
#include "kernel/base/constants.h"

namespace {

const char kSourceFile[] = "OFFS3D";
const int32_t kLineNullPath = 7177, kLineStartOutside = 7252, kLineNoCrossing = 7329, kLineNoDirection = 7347,
              kLineSearch = 7354, kLineRollback = 7369, kLinePutStraight = 7427, kLineNoCrossingStep = 7506,
              kLinePutCorner = 7518, kLinePutClose = 7572, kLinePutCloseNear = 7597, kLineCloseCross = 7645,
              kLineNearPath = 7659, kLineEndCheck = 7681, kLinePass1 = 7749, kLinePass2 = 7773,
              kLineJoin = 7807, kLineCheckAlloc = 383, kLineBudget = 7660;

// The sharp-corner window ends at this value as written, a little short of 2 pi.
const double kTwoPiWritten = 6.28318530718;
const double kSpinLimit = 12.666370614359172;  // 4 pi + 0.1
const double kLeastStep = 0.05;
const double kStraightTol = 0.05;
const int32_t kNoProgressLimit = 20;
const int32_t kRollbackStart = 2, kRollbackLimit = 9;
const double kSameCentre = 1e-5;
const double kCloseDone = 0.001, kCloseTiny = 1e-8, kCloseNear = 0.1;
const double kAheadLo = 1.570796326795, kAheadHi = 4.712388980385;
const int32_t kCloseCrossSpan = 20;
const int32_t kNearPathEvery = 1000;
const double kNearPathLimit = 0.01;
const double kFrameSnap = 0.0001;
// Relative margin far above the rounding of a squared distance.
const double kRoundingSlack = 1e-9;
// Far above the rounding of a vertex angle (acos near 1 loses about 5e-8).
const double kAngleMargin = 1e-3;

Vec2 xy(const Vec3& p) {
    return Vec2{p.x, p.y};
}

double dist2D(const Vec3& a, const Vec3& b) {
    return std::hypot(a.x - b.x, a.y - b.y);
}

Offs3dSeg segOf(const Vec3& a, const Vec3& b) {
    return Offs3dSeg{a.x, a.y, a.z, b.x, b.y, b.z};
}

double angleAt(const Vec3& from, const Vec3& at, const Vec3& to, int32_t sense) {
    const Vec2 a = xy(from), c = xy(at), b = xy(to);
    double angle = 0.0;
    arcAngleOf2D(&a, &c, &b, sense, &angle);
    return angle;
}

// Upper bound on the search steps of one pass: the longest loop the elements can give (both sides
// of every element and a half turn about every end), walked at the least step, several times over.
int64_t passBudget(const Offs3dGeometry* g, double radius) {
    double length = 0.0;
    int32_t n = 0;
    if (g->elements) {
        n = g->elements->count;
        for (int32_t i = 0; i < n; i++) {
            const Seg2D& e = g->elements->elements[i];
            length += std::hypot(e.x2 - e.x1, e.y2 - e.y1);
        }
    }
    const double loop = 2.0 * length + kPi * radius * (n + 2);
    const double steps = 8.0 * loop / kLeastStep + 10000.0;
    return steps > 4e9 ? static_cast<int64_t>(4e9) : static_cast<int64_t>(steps);
}

double jointAngle(const Offs3dSeg& a, const Offs3dSeg& b, int32_t sense) {
    return angleAt(Vec3{a.x1, a.y1, a.z1}, Vec3{a.x2, a.y2, a.z2}, Vec3{b.x2, b.y2, b.z2}, sense);
}

// Sum of the vertex angles at the last three joints of the path, each from angleOf(a, b).
template <typename F>
double turnAngleWith(const Offs3dPath* path, int32_t first, F angleOf) {
    if (!path || path->count - first < 6) return 0.0;
    double sum = 0.0;
    for (int32_t i = path->count - 4; i < path->count - 1; i++)
        sum += angleOf(path->segments[i], path->segments[i + 1]);
    return sum;
}

// Joint angles of the turning measure within one pass: a step mostly adds one joint to the three
// measured, so the other two are taken from here, found by their exact points.
struct JointCache {
    struct Joint {
        double key[6];
        double angle;
    };
    Joint joints[3];
    int32_t used = 0;
    int32_t next = 0;

    double angle(const Offs3dSeg& a, const Offs3dSeg& b, int32_t sense) {
        const double key[6] = {a.x1, a.y1, a.x2, a.y2, b.x2, b.y2};
        for (int32_t i = 0; i < used; i++)
            if (std::memcmp(joints[i].key, key, sizeof key) == 0) return joints[i].angle;
        Joint& j = joints[next];
        std::memcpy(j.key, key, sizeof key);
        j.angle = jointAngle(a, b, sense);
        next = (next + 1) % 3;
        used = std::min(used + 1, 3);
        return j.angle;
    }
};

// The interior of a frame that is one axis-parallel rectangle, shrunk far beyond rounding: a point
// inside it is inside the frame's region without the polygon test. False for any other frame.
bool rectInterior(const Kont2d* frame, double box[4]) {
    if (!frame || frame->firstIsland || frame->count != 4 || !frame->elements) return false;
    for (int32_t i = 0; i < 4; i++) {
        const Seg2D& e = frame->elements[i];
        const Seg2D& n = frame->elements[(i + 1) % 4];
        if ((e.x1 != e.x2 && e.y1 != e.y2) || e.x2 != n.x1 || e.y2 != n.y1) return false;
    }
    const double margin = 1e-7 * (1.0 + std::fabs(frame->xmin) + std::fabs(frame->xmax) +
                                  std::fabs(frame->ymin) + std::fabs(frame->ymax));
    box[0] = frame->xmin + margin;
    box[1] = frame->ymin + margin;
    box[2] = frame->xmax - margin;
    box[3] = frame->ymax - margin;
    return box[0] < box[2] && box[1] < box[3];
}

// True when the turn at b from the direction a->b to b->c is certainly below limit radians: the
// vertex angle of arcAngleOf2D at b then lies within limit of pi in either sense. False says
// nothing. The margin of the limits passed in is far above the rounding here and in the angle.
bool turnBelow(double ax, double ay, double bx, double by, double cx, double cy, double cosLimit) {
    const double ux = bx - ax, uy = by - ay, vx = cx - bx, vy = cy - by;
    const double dot = ux * vx + uy * vy;
    return dot > 0.0 && dot * dot > cosLimit * cosLimit * (ux * ux + uy * uy) * (vx * vx + vy * vy);
}

// Turning measure clearly below the spin limit: each of the last three joints turns by less than
// about one radian, so their vertex angles sum to less than 3 pi + 3.
bool spinClearlyBelow(const Offs3dPath* path, int32_t first) {
    if (path->count - first < 6) return true;
    const double kCosOne = 0.55;
    for (int32_t i = path->count - 4; i < path->count - 1; i++) {
        const Offs3dSeg& a = path->segments[i];
        const Offs3dSeg& b = path->segments[i + 1];
        if (!turnBelow(a.x1, a.y1, a.x2, a.y2, b.x2, b.y2, kCosOne)) return false;
    }
    return true;
}

struct Pass {
    Offs3dGeometry* g;
    const Offs3dTool* tool;
    Offs3dParams* p;
    Offs3dPath* path;
    int32_t first;
    bool rect = false;
    double interior[4] = {0.0, 0.0, 0.0, 0.0};

    int search(const Vec2& reference, const Vec2& probe, double step, Vec3* centre, Vec3* contact,
               int32_t* element, int32_t* kind) const {
        const GridCell* cells[2] = {
            p->triangleGrid ? grid2DCellAt(p->triangleGrid, probe.x, probe.y) : nullptr,
            p->elementGrid ? grid2DCellAt(p->elementGrid, probe.x, probe.y) : nullptr};
        const Offs3dQuery q{reference, reference, probe, step, p->direction};
        return offs3dContactLoop(g, tool, p, cells, &q, centre, contact, element, kind);
    }

    void recordStart(const Vec3& centre, const Vec3& contact, int32_t element, int32_t kind) const {
        if (p->startCount >= 4) return;
        const int32_t i = p->startCount++;
        p->startCentres[i] = centre;
        p->startContacts[i] = contact;
        p->startKinds[i] = kind * p->direction;
        p->startElements[i] = element;
    }

    bool inside(const Vec3& point) const {
        if (rect && point.x > interior[0] && point.x < interior[2] && point.y > interior[1] &&
            point.y < interior[3])
            return true;
        const Vec2 q = xy(point);
        return offs3dInsideFrame(g->frame, &q) != 0;
    }

    // Puts the last segment of a run that reaches the frame; 2, or a negative code.
    int leaveFrame(const Vec3& from, const Vec3& to, bool snap, int32_t line) const {
        const Seg2D s{from.x, from.y, to.x, to.y};
        Vec2 x;
        if (!segContourIntersect2D(&s, g->frame, &x)) {
            const Vec2 t = xy(to);
            Vec2 nearest;
            if (!snap || !kont2dNearestPoint(&t, g->frame, &nearest) ||
                std::hypot(nearest.x - t.x, nearest.y - t.y) > kFrameSnap) {
                wogError(kOffs3dNoFrameCrossing, kSourceFile, line);
                return kOffs3dNoFrameCrossing;
            }
            x = nearest;
        }
        const Vec3 end{x.x, x.y, p->planeZ};
        const Offs3dSeg seg = segOf(from, end);
        path->lock = 1;
        const int r = offs3dPathPut(path, &seg, &end, kElementFrame, kont2dFindContaining(g->frame, &x));
        path->lock = 0;
        return r < 0 ? kOffs3dFail : kOffs3dOpen;
    }

    int put(const Vec3& a, const Vec3& b, const Vec3& contact, int32_t element, int32_t kind,
            int32_t line) const {
        const Offs3dSeg seg = segOf(a, b);
        if (offs3dPathPut(path, &seg, &contact, element, kind) < 0) {
            wogError(kOffs3dFail, kSourceFile, line);
            return kOffs3dFail;
        }
        return 1;
    }

    // Closing segment to the loop's closing point, with the data of its start contact.
    int putClosing(const Vec3& from, const Vec3& to, int32_t line) const {
        Vec3 contact;
        int32_t element, kind;
        offs3dFindStartContact(p, &to, &contact, &element, &kind);
        return put(from, to, contact, element, kind, line);
    }
};

struct Entry {
    Offs3dSeg seg;
    Vec3 contact;
    int32_t element;
    int32_t kind;
};

Entry entryAt(const Offs3dPath* path, int32_t i) {
    return Entry{path->segments[i], path->contacts[i], path->elements[i], path->kinds[i]};
}

Offs3dSeg reversed(const Offs3dSeg& s) {
    return Offs3dSeg{s.x2, s.y2, s.z2, s.x1, s.y1, s.z1};
}

// Rewrites the path from index from with the entries.
int rewrite(Offs3dPath* path, int32_t from, const std::vector<Entry>& entries) {
    path->count = from;
    for (const Entry& e : entries)
        if (offs3dPathAdd(path, &e.seg, &e.contact, e.element, e.kind) < 0) return kOffs3dFail;
    offs3dPathUpdateBox(path);
    return 1;
}

// Pass 2 [s1, end) reversed: each segment takes the data of the one before it in pass order; the
// one made from s1 ends at the start, whose data the start contact table holds.
void appendReversed(const Offs3dPath* path, const Offs3dParams* params, int32_t s1, int32_t end,
                    std::vector<Entry>& out) {
    for (int32_t j = end - 1; j >= s1; j--) {
        Entry e{reversed(path->segments[j]), {0.0, 0.0, 0.0}, -1, 0};
        if (j > s1) {
            e.contact = path->contacts[j - 1];
            e.element = path->elements[j - 1];
            e.kind = -path->kinds[j - 1];
        } else {
            const Vec3 at{e.seg.x2, e.seg.y2, e.seg.z2};
            offs3dFindStartContact(params, &at, &e.contact, &e.element, &e.kind);
            e.kind = params->direction < 0 ? -std::abs(e.kind) : std::abs(e.kind);
        }
        out.push_back(e);
    }
}

}  // namespace

double offs3dStepLimit(double step, double maxStep) {
    if (std::fabs(kLeastStep - maxStep) < 1e-8) return 0.2;
    const double t = 0.2 + 0.1 * (step - kLeastStep) / (kLeastStep - maxStep);
    // fmin(0.2, fmax(0.1, t)) without the library calls: a NaN t gives 0.1.
    const double low = t > 0.1 ? t : 0.1;
    return low < 0.2 ? low : 0.2;
}

int offs3dStepPoint(double z, const Vec3* from, const Vec3* to, double length, double factor, Vec3* out) {
    const double dx = to->x - from->x, dy = to->y - from->y;
    const double len = std::hypot(dx, dy);
    if (len < 1e-5) return kOffs3dNoDirection;
    const double t = length * factor / len;
    *out = Vec3{to->x + dx * t, to->y + dy * t, z};
    return 1;
}

int offs3dFindStartContact(const Offs3dParams* params, const Vec3* point, Vec3* contact, int32_t* element,
                           int32_t* kind) {
    for (int32_t i = 0; i < params->startCount && i < 4; i++) {
        if (wogDist3D(&params->startCentres[i], point) < 1e-6) {
            *contact = params->startContacts[i];
            *element = params->startElements[i];
            *kind = params->startKinds[i];
            return 1;
        }
    }
    *contact = Vec3{0.0, 0.0, 0.0};
    *element = -1;
    *kind = 0;
    return 0;
}

double pointPolylineMinDist(const Offs3dSeg* segs, int32_t count, const Vec3* point, int32_t* index) {
    double best = 1e300;
    int32_t at = -1;
    const Vec2 q{point->x, point->y};
    for (int32_t i = 0; i < count; i++) {
        const Seg2D s{segs[i].x1, segs[i].y1, segs[i].x2, segs[i].y2};
        const double d = distPointSeg2D(&q, &s);
        if (d < best) {
            best = d;
            at = i;
        }
    }
    if (index) *index = at;
    return best;
}

namespace {

// Whether the nearest of the path segments, at index nearest and distance d from the end of the
// given segment, makes the segment a run back onto the path.
int nearPathAnswer(const Offs3dPath* path, int32_t segment, int32_t nearest, double d, double limit) {
    if (nearest < 0 || d > limit) return 0;
    const Offs3dSeg& s = path->segments[segment];
    const Offs3dSeg& t = path->segments[nearest];
    const double ux = s.x2 - s.x1, uy = s.y2 - s.y1, vx = t.x2 - t.x1, vy = t.y2 - t.y1;
    const double lu = std::hypot(ux, uy), lv = std::hypot(vx, vy);
    if (lu == 0.0 || lv == 0.0) return 0;
    return std::fabs((ux * vx + uy * vy) / (lu * lv)) > 1e-5;
}

}  // namespace

int offs3dNearPathTest(const Offs3dPath* path, int32_t from, int32_t to, int32_t segment, double limit) {
    if (!path || to <= from || from < 0 || to > path->count || segment < 0 || segment >= path->count)
        return 0;
    const Offs3dSeg& s = path->segments[segment];
    const Vec3 end{s.x2, s.y2, s.z2};
    int32_t at = -1;
    const double d = pointPolylineMinDist(path->segments + from, to - from, &end, &at);
    return nearPathAnswer(path, segment, at < 0 ? -1 : from + at, d, limit);
}

double offs3dTurnAngle(const Offs3dPath* path, int32_t first, int32_t sense) {
    return turnAngleWith(path, first,
                         [sense](const Offs3dSeg& a, const Offs3dSeg& b) { return jointAngle(a, b, sense); });
}

int offs3dRollback(Offs3dPath* path, int32_t first, int32_t* counter, int32_t* noProgress, int32_t* pending,
                   Vec3* previous, Vec3* current) {
    if (*counter >= kRollbackLimit) return kOffs3dRollbackExhausted;
    // Only the pass's own segments may be taken back; earlier loops are final.
    if (!path || path->count - first < 1) return kOffs3dRollbackRefused;
    wogWarning("rollback");
    (*counter)++;
    if (path->count - first >= 10) path->count -= *counter;
    *noProgress = 0;
    *pending = 0;
    Offs3dSeg& last = path->segments[path->count - 1];
    *previous = Vec3{last.x1, last.y1, last.z1};
    const double f = 1.0 - *counter / 10.0;
    last.x2 = last.x1 + f * (last.x2 - last.x1);
    last.y2 = last.y1 + f * (last.y2 - last.y1);
    last.z2 = last.z1 + f * (last.z2 - last.z1);
    offs3dSegBox(&last, &path->segmentBoxes[path->count - 1]);
    *current = Vec3{last.x2, last.y2, last.z2};
    return 1;
}

int offs3dLimitStep(Offs3dPath* path, int32_t first, double angle, Offs3dStepState* state) {
    // Dropping two segments must leave one of this pass to go on from.
    if (!path || !state || angle >= 3.1 || path->count - first < 3) return 0;
    const Offs3dSeg& before = path->segments[path->count - 2];
    const double len = std::hypot(before.x2 - before.x1, before.y2 - before.y1);
    if (len <= 0.125 || std::fabs((state->lastAngle - angle) + (state->lastLength - len)) < 1e-5) return 0;
    path->count -= 2;
    const Offs3dSeg& last = path->segments[path->count - 1];
    state->previous = Vec3{last.x1, last.y1, last.z1};
    state->current = state->found = Vec3{last.x2, last.y2, last.z2};
    state->holdOff = static_cast<int32_t>(std::floor(len / state->step)) + 1;
    state->lastAngle = angle;
    state->lastLength = len;
    return 1;
}

int offs3dCheckNewPath(Offs3dLoops* loops, int32_t first) {
    if (!loops || !loops->path) return kOffs3dFail;
    Offs3dPath* path = loops->path;
    if (first < 0) first = 0;
    if (path->count - first < 2) return 1;
    SegList2D* list = segList2DCreate(path->count - first);
    if (!list) {
        wogError(kOffs3dFail, kSourceFile, kLineCheckAlloc);
        return kOffs3dFail;
    }
    for (int32_t i = first; i < path->count; i++) {
        const Seg2D s{path->segments[i].x1, path->segments[i].y1, path->segments[i].x2, path->segments[i].y2};
        if (segList2DAdd(list, &s) < 0) {
            segList2DFree(list);
            wogError(kOffs3dFail, kSourceFile, kLineCheckAlloc);
            return kOffs3dFail;
        }
    }
    const int crossing = segChainSelfIntersect(list->data, list->count, 1e-5, 0);
    segList2DFree(list);
    if (crossing == 1) {
        wogWarning("neuer Versuch ");
        return kOffs3dSelfCross;
    }
    return 1;
}

int offs3dPass(Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params, Offs3dLoops* loops) {
    if (!loops || !loops->path || !geometry || !tool || !params) {
        wogError(kOffs3dFail, kSourceFile, kLineNullPath);
        return kOffs3dFail;
    }
    Pass ps{geometry, tool, params, loops->path, loops->path->count};
    ps.rect = rectInterior(geometry->frame, ps.interior);
    Offs3dPath* path = ps.path;
    const int32_t f = ps.first;
    const int32_t dir = params->direction;
    const double z = params->planeZ;
    const double maxStart = params->stepControl >= 0.1 ? 0.5 * params->stepControl : kLeastStep;
    double maxStep = maxStart;
    double straightTol = kStraightTol;
    int32_t rollbacks = kRollbackStart, noProgress = 0, pending = 0;
    bool closing = false;
    Offs3dStepState st{kLeastStep, 0, -1.0, -1.0, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}};

    const Vec2 rayEnd{params->startSegment.x1, params->startSegment.y1};
    const Vec2 start2{params->startSegment.x2, params->startSegment.y2};
    const Vec3 start{start2.x, start2.y, z};
    Vec3 c1, t1, c2, t2;
    int32_t e1, k1, e2, k2;
    int r = ps.search(rayEnd, start2, st.step, &c1, &t1, &e1, &k1);
    if (r == 0) return kOffs3dNoStartContact;
    if (r < 0) return r;
    ps.recordStart(c1, t1, e1, k1);
    const double theta = std::atan2(t1.y - start.y, t1.x - start.x);
    const Vec2 ahead{start.x + st.step * std::cos(theta), start.y + st.step * std::sin(theta)};
    const Vec2 behind{start.x - st.step * std::cos(theta), start.y - st.step * std::sin(theta)};
    const Vec2 touch1 = xy(t1);
    const Vec2 reference = wogDist2D(&ahead, &touch1) > wogDist2D(&behind, &touch1) ? ahead : behind;
    if (!ps.inside(start)) {
        wogError(kOffs3dStartOutside, kSourceFile, kLineStartOutside);
        return kOffs3dStartOutside;
    }
    r = ps.search(reference, start2, st.step, &c2, &t2, &e2, &k2);
    if (r == 0) return kOffs3dNoStartContact;
    if (r < 0) return r;
    ps.recordStart(c2, t2, e2, k2);
    st.previous = start;
    st.current = st.found = c2;
    const Vec3 closePoint = c2;

    int result = 0;
    if (!ps.inside(st.current)) {
        result = ps.leaveFrame(st.previous, st.current, false, kLineNoCrossing);
    } else {
        const int64_t budget = passBudget(geometry, tool->radius);
        JointCache joints;
        Offs3dPathIndex* index = offs3dPathIndexCreate(f);
        if (!index) {
            wogError(kOffs3dFail, kSourceFile, kLineNullPath);
            return kOffs3dFail;
        }
        struct IndexGuard {
            Offs3dPathIndex* index;
            ~IndexGuard() { offs3dPathIndexFree(index); }
        } indexGuard{index};
        std::pair<double, double> cosOf{-1.0, 1.0};  // last turn limit and its cosine
        auto spinAngle = [&] {
            return turnAngleWith(
                path, f, [&](const Offs3dSeg& a, const Offs3dSeg& b) { return joints.angle(a, b, -dir); });
        };
        Vec3 probe = st.current;
        for (int64_t iteration = 0;; iteration++) {
            if (iteration > budget) {
                wogError(kOffs3dRunaway, kSourceFile, kLineBudget);
                return kOffs3dRunaway;
            }
            if (!pending) {
                r = offs3dStepPoint(z, &st.previous, &st.current, st.step, 1.0, &probe);
                if (r < 0) {
                    wogError(r, kSourceFile, kLineNoDirection);
                    return r;
                }
            }
            Vec3 x, t;
            int32_t e = -1, k = 0;
            r = ps.search(xy(st.current), xy(probe), st.step, &x, &t, &e, &k);
            if (r < 0) {
                wogError(r, kSourceFile, kLineSearch);
                return r;
            }
            const bool stalled = r == 0 || (std::fabs(x.x - st.current.x) <= kSameCentre &&
                                            std::fabs(x.y - st.current.y) <= kSameCentre &&
                                            std::fabs(x.z - st.current.z) <= kSameCentre);
            if (stalled) noProgress++;
            if (noProgress >= kNoProgressLimit || (!spinClearlyBelow(path, f) && spinAngle() > kSpinLimit)) {
                if (offs3dRollback(path, f, &rollbacks, &noProgress, &pending, &st.previous, &st.current) <
                    0) {
                    wogError(kOffs3dRollbackRefused, kSourceFile, kLineRollback);
                    return kOffs3dRollbackRefused;
                }
                offs3dPathIndexTouch(index, path);
                st.found = st.current;
                noProgress = 0;
                continue;
            }
            bool accepted = false;
            if (stalled) {
                pending = 1;
                probe = Vec3{(st.current.x + probe.x) / 2, (st.current.y + probe.y) / 2, z};
                st.found = st.current;
            } else {
                pending = 0;
                const double tol = offs3dStepLimit(st.step, maxStep);
                // A move that clearly goes on nearly straight needs no angle: it is not sharp, and it
                // is straight exactly when there is a straight tolerance.
                const double limit = (straightTol > 0.0 ? std::fmin(tol, straightTol) : tol) - kAngleMargin;
                if (limit != cosOf.first) cosOf = {limit, std::cos(limit)};
                const bool clear = turnBelow(st.previous.x, st.previous.y, st.current.x, st.current.y, x.x,
                                             x.y, cosOf.second);
                const double angle = clear ? kPi : angleAt(st.previous, st.current, x, dir);
                const bool sharp = !clear && tol <= angle && angle <= kTwoPiWritten - tol &&
                                   !(kPi - tol < angle && angle < kPi + tol);
                const bool straight = clear ? straightTol > 0.0
                                            : (angle < straightTol || angle > kTwoPiWritten - straightTol ||
                                               (kPi - straightTol < angle && angle < kPi + straightTol));
                bool in = ps.inside(x);
                for (int q = 1; q <= 3 && in; q++) {
                    const Vec3 m{st.current.x + (x.x - st.current.x) * q / 4,
                                 st.current.y + (x.y - st.current.y) * q / 4, z};
                    in = ps.inside(m);
                }
                if ((sharp || !in) && st.step > kLeastStep) {
                    st.step /= 2;
                    continue;
                }
                if (!in) {
                    result = ps.leaveFrame(st.current, x, true, kLineNoCrossingStep);
                    break;
                }
                st.previous = st.current;
                st.current = st.found = x;
                if (ps.put(st.previous, x, t, e, k * dir, sharp ? kLinePutCorner : kLinePutStraight) < 0)
                    return kOffs3dFail;
                offs3dPathIndexTouch(index, path);
                accepted = true;
                if (sharp) {
                    offs3dLimitStep(path, f, angle, &st);
                    offs3dPathIndexTouch(index, path);
                } else if (straight && st.step <= maxStep / 2) {
                    if (st.holdOff < 1) {
                        st.step *= 2;
                        st.holdOff = 0;
                    } else {
                        st.holdOff--;
                    }
                }
            }
            // Closing in on the loop's first centre. Clearly beyond the closing range only the
            // range itself matters, not the distance, which is then left uncomputed.
            const double cx = st.found.x - closePoint.x, cy = st.found.y - closePoint.y;
            const bool farOff = cx * cx + cy * cy > 4.0 * maxStart * maxStart * (1.0 + kRoundingSlack);
            const double d = farOff ? DBL_MAX : dist2D(st.found, closePoint);
            if (d < kCloseDone) {
                if (d > kCloseTiny && ps.putClosing(st.found, closePoint, kLinePutClose) < 0)
                    return kOffs3dFail;
                result = kOffs3dClosed;
                break;
            }
            auto closeAhead = [&] {
                const double a = angleAt(st.previous, st.current, closePoint, dir);
                return kAheadLo < a && a < kAheadHi;
            };
            if (d <= 2 * maxStart && closeAhead()) {
                closing = true;
                if (d <= kCloseNear) {
                    if (ps.putClosing(st.found, closePoint, kLinePutCloseNear) < 0) return kOffs3dFail;
                    result = kOffs3dClosed;
                    break;
                }
                maxStep = kLeastStep;
                st.step = kLeastStep;
                straightTol = 0.0;
            } else if (d > 2 * maxStart && closing) {
                // Went past the start without closing: it must not have crossed the loop's beginning.
                const int32_t newest = path->count - 1;
                const int32_t stop = std::min(newest - 1, f + kCloseCrossSpan);
                const Seg2D sn{path->segments[newest].x1, path->segments[newest].y1,
                               path->segments[newest].x2, path->segments[newest].y2};
                for (int32_t j = f; j < stop; j++) {
                    const Seg2D sj{path->segments[j].x1, path->segments[j].y1, path->segments[j].x2,
                                   path->segments[j].y2};
                    if (segsIntersect2D(&sn, &sj)) {
                        wogError(kOffs3dSelfCross, kSourceFile, kLineCloseCross);
                        return kOffs3dSelfCross;
                    }
                }
                closing = false;
                maxStep = maxStart;
                straightTol = kStraightTol;
            }
            const int32_t own = path->count - f;
            if (accepted && own > 5 && own % kNearPathEvery == 0) {
                const int32_t segment = path->count - 4;
                const Vec2 end{path->segments[segment].x2, path->segments[segment].y2};
                double d = DBL_MAX;
                const int32_t near =
                    offs3dPathIndexNearest(index, path, path->count - 5, &end, kNearPathLimit, &d);
                if (nearPathAnswer(path, segment, near, d, kNearPathLimit)) {
                    wogError(kOffs3dRunaway, kSourceFile, kLineNearPath);
                    return kOffs3dRunaway;
                }
            }
        }
    }
    if (result >= 0) {
        const int c = offs3dCheckNewPath(loops, f);
        if (c < 0) {
            wogError(c, kSourceFile, kLineEndCheck);
            result = c;
        }
    }
    return result;
}

int offs3d(Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params, Offs3dLoops* loops) {
    if (!loops || !loops->path || !params) return kOffs3dFail;
    Offs3dPath* path = loops->path;
    auto finish = [path](int code) {
        path->lockSaved = path->lock;
        path->lock = 0;
        return code;
    };
    params->startCount = 0;
    const int32_t s0 = path->count;
    const int r1 = offs3dPass(geometry, tool, params, loops);
    if (r1 < 0) {
        wogError(r1, kSourceFile, kLinePass1);
        return finish(r1);
    }
    int result = kOffs3dClosed;
    if (r1 != kOffs3dClosed) {
        const int32_t s1 = path->count;
        params->direction = -params->direction;
        const int r2 = offs3dPass(geometry, tool, params, loops);
        params->direction = -params->direction;
        if (r2 < 0 && r2 != kOffs3dStartOutside) {
            wogError(r2, kSourceFile, kLinePass2);
            return finish(r2);
        }
        path->lockSaved = path->lock;
        path->lock = 1;
        std::vector<Entry> loop;
        if (r2 == kOffs3dClosed) {
            appendReversed(path, params, s1, path->count, loop);
            if (rewrite(path, s0, loop) < 0) {
                wogError(kOffs3dFail, kSourceFile, kLineJoin);
                return finish(kOffs3dFail);
            }
            result = kOffs3dClosed;
        } else {
            result = kOffs3dOpen;
            if (r2 == kOffs3dOpen && path->count > s0) {
                appendReversed(path, params, s1, path->count, loop);
                // Join the far end of pass 2, now at the start, to the beginning of pass 1.
                const Vec3 from = loop.empty()
                                      ? Vec3{path->segments[s0].x1, path->segments[s0].y1, params->planeZ}
                                      : Vec3{loop.back().seg.x2, loop.back().seg.y2, loop.back().seg.z2};
                if (s1 > s0) {
                    const Vec3 to{path->segments[s0].x1, path->segments[s0].y1, path->segments[s0].z1};
                    Entry join{segOf(from, to), {0, 0, 0}, -1, 0};
                    offs3dFindStartContact(params, &to, &join.contact, &join.element, &join.kind);
                    loop.push_back(join);
                    for (int32_t j = s0; j < s1; j++) loop.push_back(entryAt(path, j));
                }
                if (rewrite(path, s0, loop) < 0) {
                    wogError(kOffs3dFail, kSourceFile, kLineJoin);
                    return finish(kOffs3dFail);
                }
            }
        }
    }
    if (params->regionMode == 1) offs3dRegionIndices(params, path, s0);
    return finish(result);
}

namespace {

// Offset curve through a path point: the element's line shifted to the point's side, or the circle
// about the element end it touches.
struct Curve {
    bool circle;
    double a, b, c;  // line a*x + b*y + c = 0
    ToolCircle around;
    int32_t element;
};

bool curveOf(const Kont2d* k, const Vec3& point, const Vec3& contact, int32_t element, double radius,
             Curve* out) {
    if (element < 0 || element >= k->count) return false;
    const Seg2D& e = k->elements[element];
    const double r = radius + offs3dRadiusAddition(element);
    out->element = element;
    const double tol = 1e-9 * (1.0 + std::fabs(contact.x) + std::fabs(contact.y));
    for (const Vec2& end : {Vec2{e.x1, e.y1}, Vec2{e.x2, e.y2}}) {
        if (std::fabs(contact.x - end.x) <= tol && std::fabs(contact.y - end.y) <= tol) {
            out->circle = true;
            out->around = ToolCircle{end.x, end.y, r, 0};
            return true;
        }
    }
    if (!segLineEquation2D(&e, &out->a, &out->b, &out->c)) return false;
    const double v = out->a * point.x + out->b * point.y + out->c;
    out->circle = false;
    out->c += v >= 0.0 ? -r : r;
    return true;
}

int meet(const Curve& u, const Curve& v, Vec2 pts[2]) {
    if (!u.circle && !v.circle) {
        const double det = u.a * v.b - v.a * u.b;
        if (std::fabs(det) < 1e-12) return 0;
        pts[0] = Vec2{(u.b * v.c - v.b * u.c) / det, (v.a * u.c - u.a * v.c) / det};
        return 1;
    }
    if (u.circle && v.circle) {
        if (u.around.cx == v.around.cx && u.around.cy == v.around.cy) return 0;
        return circleCircleIntersect2D(&u.around, &v.around, &pts[0], &pts[1]) == 2 ? 2 : 0;
    }
    const Curve& line = u.circle ? v : u;
    const Curve& circ = u.circle ? u : v;
    return lineCircleIntersect2D(line.a, line.b, line.c, &circ.around, &pts[0], &pts[1]) == 2 ? 2 : 0;
}

bool onElementPart(const Kont2d* k, const Curve& c, const Vec2& p) {
    if (c.circle) return true;
    Vec2 foot;
    return footOnSeg2D(&p, &k->elements[c.element], &foot) != 0;
}

// No element comes nearer to p than its tool radius (within rounding).
bool freePoint(const Kont2d* k, const Grid2D* grid, double radius, const Vec2& p) {
    const GridCell* cell = grid ? grid2DCellAt(grid, p.x, p.y) : nullptr;
    const int32_t n = cell ? cell->count : k->count;
    for (int32_t m = 0; m < n; m++) {
        const int32_t i = cell ? cell->items[m] : m;
        const double r = radius + offs3dRadiusAddition(i);
        if (distPointSeg2D(&p, &k->elements[i]) < r * (1.0 - 1e-9)) return false;
    }
    return true;
}

const double kRefineReach = 1.0;
const double kRefineGain = 1e-7;

}  // namespace

int offs3dRefineCorners(const Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params,
                        Offs3dPath* path, int32_t first) {
    if (!geometry || !geometry->elements || !tool || !params || !path || first < 0) return 0;
    const Kont2d* k = geometry->elements;
    const int32_t end = path->count;
    if (end - first < 3) return 0;
    const Offs3dSeg& head = path->segments[first];
    const Offs3dSeg& tail = path->segments[end - 1];
    const bool closed = std::hypot(head.x1 - tail.x2, head.y1 - tail.y2) < 1e-9;
    std::vector<Entry> out;
    out.reserve(static_cast<size_t>(end - first) + 16);
    int32_t added = 0;
    for (int32_t j = first; j < end; j++) {
        const Entry cur = entryAt(path, j);
        const int32_t before = j > first ? j - 1 : (closed ? end - 1 : -1);
        Curve u{}, v{};
        const Vec3 s{cur.seg.x1, cur.seg.y1, cur.seg.z1}, t{cur.seg.x2, cur.seg.y2, cur.seg.z2};
        if (before >= 0 && curveOf(k, s, path->contacts[before], path->elements[before], tool->radius, &u) &&
            curveOf(k, t, cur.contact, cur.element, tool->radius, &v)) {
            Vec2 pts[2];
            const int n = meet(u, v, pts);
            const Vec2 sa = xy(s), ta = xy(t), mid{(s.x + t.x) / 2, (s.y + t.y) / 2};
            const double chord = wogDist2D(&sa, &ta);
            int pick = -1;
            double pickDist = 0.0;
            for (int i = 0; i < n; i++) {
                const Vec2& p = pts[i];
                if (!std::isfinite(p.x) || !std::isfinite(p.y)) continue;
                const double ds = wogDist2D(&p, &sa), dt = wogDist2D(&p, &ta);
                if (ds > kRefineReach || dt > kRefineReach || ds < kRefineGain || dt < kRefineGain) continue;
                if (ds + dt > 8.0 * chord + 1e-6) continue;
                const Seg2D cs{sa.x, sa.y, ta.x, ta.y};
                if (distPointLine2D(p.x, p.y, &cs) < kRefineGain) continue;
                if (!onElementPart(k, u, p) || !onElementPart(k, v, p)) continue;
                if (!freePoint(k, params->elementGrid, tool->radius, p)) continue;
                const double dm = wogDist2D(&p, &mid);
                if (pick < 0 || dm < pickDist) {
                    pick = i;
                    pickDist = dm;
                }
            }
            if (pick >= 0) {
                const Vec3 corner{pts[pick].x, pts[pick].y, s.z + (t.z - s.z) / 2};
                out.push_back(Entry{segOf(s, corner), path->contacts[before], path->elements[before],
                                    path->kinds[before]});
                out.push_back(Entry{segOf(corner, t), cur.contact, cur.element, cur.kind});
                added++;
                continue;
            }
        }
        out.push_back(cur);
    }
    if (added == 0) return 0;
    // A corner that makes the loop cross itself is not taken; the chords stay.
    SegList2D* list = segList2DCreate(static_cast<int32_t>(out.size()));
    if (!list) return kOffs3dFail;
    for (const Entry& e : out) {
        const Seg2D s{e.seg.x1, e.seg.y1, e.seg.x2, e.seg.y2};
        if (segList2DAdd(list, &s) < 0) {
            segList2DFree(list);
            return kOffs3dFail;
        }
    }
    const int crossing = segChainSelfIntersect(list->data, list->count, 1e-5, 1);
    segList2DFree(list);
    if (crossing == 1) return 0;
    if (rewrite(path, first, out) < 0) return kOffs3dFail;
    return added;
}
