#include "KVWOG5/offset2d.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <utility>
#include <vector>

#include "KVWOG5/geocalc.h"
#include "KVWOG5/kont2d.h"
#include "KVWOG5/lists.h"
#include "KVWOG5/offs3d.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/recsort.h"
#include "KVWOG5/wogerr.h"

namespace {

const char kSourceFile[] = "offset2d";
const int32_t kLineOpenIslands = 211, kLineInvalid = 226, kLinePrepareAlloc = 737, kLineTraceCache = 851,
              kLineTraceEngine = 929, kLineLoopStart = 943, kLineNoProgress = 968, kLineCopy = 1392,
              kLineMerged = 1402, kLineMergedAdd = 1420, kLineFrame = 1444, kLinePath = 1457,
              kLineLoopStarts = 1461, kLineCandidates = 1465, kLineAttempts = 1510, kLineEmptyPath = 1518,
              kLineResultAlloc = 1537, kLineNoLoop = 1548, kLineResultInvalid = 1586, kLineOutcome = 1607;

const double kScaledDistance = 10.0;
const double kZeroDistance = 1e-5;
const double kFrameMargin = 3.1111;
const double kRayFactor = 1.1;
const double kOvershoot = 0.1;
const double kLeastRay = 0.001;
const int kAttempts = 10;
const double kRadiusStep = 0.0001;
const double kOpenGap2 = 0.01;
const double kLeastElement = 1e-5;
const double kCoverMargin = 0.5;
const double kCoverCircle = 0.2;
const double kMaxRaysPerElement = 8;
const double kFanStep = 0.5;  // radians between the rays of a vertex fan
// Beyond rounding of any distance computed here: a box test with this slack rejects only what the
// exact test would reject too.
const double kBoxSlack = 1e-3;
const int32_t kTreeFan = 8;
const double kMaxCandCells = 256;
// Relative margin far above the rounding of a squared distance.
const double kRoundingSlack = 1e-9;
const char kProblemFile[] = "offset_problem.bnd";
const double kMeanAdvance = 0.6;
const double kMaxReserve = 4e6;

template <typename K, typename F>
void forOuterAndIslands(K* k, F f) {
    f(k);
    for (K* i = k->firstIsland; i; i = i->next) f(i);
}

bool contourOpen(const Kont2d* c) {
    if (c->count == 0) return false;
    const Seg2D* e = c->elements;
    auto gap2 = [](double x1, double y1, double x2, double y2) {
        return (x2 - x1) * (x2 - x1) + (y2 - y1) * (y2 - y1);
    };
    if (gap2(e[c->count - 1].x2, e[c->count - 1].y2, e[0].x1, e[0].y1) > kOpenGap2) return true;
    for (int32_t i = 1; i < c->count; i++)
        if (gap2(e[i - 1].x2, e[i - 1].y2, e[i].x1, e[i].y1) > kOpenGap2) return true;
    return false;
}

bool boxesTouch(const double* a, const double* b, double grow) {
    return a[0] <= b[2] + grow && b[0] - grow <= a[2] && a[1] <= b[3] + grow && b[1] - grow <= a[3];
}

// |p - q| <= limit, on squared distances unless within rounding of the limit.
bool within(const Vec2& p, const Vec2& q, double limit) {
    const double dx = p.x - q.x, dy = p.y - q.y, d2 = dx * dx + dy * dy, l2 = limit * limit;
    if (limit > 0.0 && d2 > l2 * (1.0 + kRoundingSlack)) return false;
    if (limit > 0.0 && d2 < l2 * (1.0 - kRoundingSlack)) return true;
    return wogDist2D(&p, &q) <= limit;
}

// Uniform buckets of candidate indices over a box, cells about as large as the tallest candidate.
struct CandGrid {
    double x0, y0, w, h;
    int32_t cols, rows;
    std::vector<std::vector<int32_t>> cells;

    CandGrid(const double* box, double grow, double size) {
        x0 = box[0] - grow;
        y0 = box[1] - grow;
        const double cell = std::fmax(size, 1.0);
        cols = static_cast<int32_t>(
            std::fmin(kMaxCandCells, std::fmax(1.0, (box[2] - box[0] + 2 * grow) / cell)));
        rows = static_cast<int32_t>(
            std::fmin(kMaxCandCells, std::fmax(1.0, (box[3] - box[1] + 2 * grow) / cell)));
        w = std::fmax((box[2] - box[0] + 2 * grow) / cols, 1e-9);
        h = std::fmax((box[3] - box[1] + 2 * grow) / rows, 1e-9);
        cells.resize(static_cast<size_t>(cols) * rows);
    }
    static int32_t clamp(double q, int32_t n) {
        if (!(q > 0.0)) return 0;
        return q >= n - 1 ? n - 1 : static_cast<int32_t>(q);
    }
    int32_t col(double x) const { return clamp((x - x0) / w, cols); }
    int32_t row(double y) const { return clamp((y - y0) / h, rows); }
    void add(const double* b, double grow, int32_t n) {
        for (int32_t r = row(b[1] - grow); r <= row(b[3] + grow); r++)
            for (int32_t c = col(b[0] - grow); c <= col(b[2] + grow); c++)
                cells[static_cast<size_t>(r) * cols + c].push_back(n);
    }
};

// Reverses one contour without touching its islands.
void reverseOne(Kont2d* k) {
    Kont2d* islands = k->firstIsland;
    k->firstIsland = nullptr;
    kont2dReverse(k);
    k->firstIsland = islands;
}

// Owned objects of one offset2dMain call, freed on every exit.
struct Run {
    Kont2d* copy = nullptr;
    Kont2d* merged = nullptr;
    Kont2d* frame = nullptr;
    Offs3dPath* path = nullptr;
    IntList* loopStarts = nullptr;
    StartCandList* candidates = nullptr;
    std::vector<Kont2d*> results;

    ~Run() {
        startCandListFree(candidates);
        intListFree(loopStarts);
        offs3dPathFree(path);
        kont2dFree(merged);
        kont2dFree(frame);
        kont2dFree(copy);
        for (Kont2d* k : results) kont2dFree(k);
    }
};

int fail(int code, int32_t line) {
    wogError(code, kSourceFile, line);
    return code;
}

}  // namespace

void rotateRight2D(double* x, double* y) {
    const double t = *x;
    *x = *y;
    *y = -t;
}

void rotateLeft2D(double* x, double* y) {
    const double t = *x;
    *x = -*y;
    *y = t;
}

int compareElementStartX(const void* a, const void* b) {
    return static_cast<const Seg2D*>(a)->x1 > static_cast<const Seg2D*>(b)->x1 ? 1 : -1;
}

int offset2dDropNearCandidates(const Kont2d* merged, StartCandList* candidates) {
    if (!merged || !candidates || candidates->count == 0) return 1;
    const Seg2D& c0 = candidates->data[0];
    const double reach = std::hypot(c0.x2 - c0.x1, c0.y2 - c0.y1) - 0.001;
    // Line and length of each element, so that the projection test of segProjectInside2D is made
    // with the very same numbers without its square root per candidate.
    struct Line {
        double a, b, c;
        double length;
        bool degenerate;
    };
    std::vector<Line> lines(static_cast<size_t>(merged->count));
    for (int32_t i = 0; i < merged->count; i++) {
        const Seg2D& e = merged->elements[i];
        Line& l = lines[i];
        segLineEquation2D(&e, &l.a, &l.b, &l.c);
        const double dx = e.x2 - e.x1, dy = e.y2 - e.y1;
        l.length = std::hypot(dx, dy);
        l.degenerate = (std::fabs(dx) < 1e-5 && std::fabs(dy) < 1e-5) || l.length < 0.001;
    }
    auto projectsInside = [&](const Seg2D& e, const Line& l, const Vec2& p) {
        if (l.degenerate) return false;
        const double t = ((p.x - e.x1) * (e.x2 - e.x1) + (p.y - e.y1) * (e.y2 - e.y1)) / l.length;
        return t >= 0.0 && t <= l.length;
    };
    // Elements run towards greater x: one that starts further left than the widest element reaches
    // cannot come near.
    double widest = 0.0;
    for (int32_t i = 0; i < merged->count; i++)
        widest = std::fmax(widest, merged->elements[i].x2 - merged->elements[i].x1);
    // A tree of boxes over the elements taken in the z-order of their midpoints, so that the
    // elements near a ray end are found by descending into the few boxes that reach it; the walk
    // over start x tested every element of a band between the reach's ends.
    const double far = reach + kBoxSlack;
    const int32_t n = merged->count;
    struct Box {
        double x0, y0, x1, y1;
    };
    std::vector<int32_t> order(static_cast<size_t>(n));
    {
        std::vector<std::pair<uint64_t, int32_t>> keyed(static_cast<size_t>(n));
        const double w = std::fmax(merged->xmax - merged->xmin, 1e-300),
                     h = std::fmax(merged->ymax - merged->ymin, 1e-300);
        for (int32_t i = 0; i < n; i++) {
            const Seg2D& e = merged->elements[i];
            auto cell = [](double t) {
                const double c = std::fmin(std::fmax(t, 0.0), 1.0) * 65535.0;
                return static_cast<uint32_t>(c == c ? c : 0.0);
            };
            const uint32_t cx = cell(((e.x1 + e.x2) / 2 - merged->xmin) / w);
            const uint32_t cy = cell(((e.y1 + e.y2) / 2 - merged->ymin) / h);
            uint64_t key = 0;
            for (int b = 15; b >= 0; b--) key = (key << 2) | (((cy >> b) & 1u) << 1) | ((cx >> b) & 1u);
            keyed[i] = {key, i};
        }
        std::sort(keyed.begin(), keyed.end());
        for (int32_t i = 0; i < n; i++) order[i] = keyed[i].second;
    }
    std::vector<std::vector<Box>> levels(1);
    levels[0].resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) {
        const Seg2D& e = merged->elements[order[i]];
        levels[0][i] =
            Box{std::fmin(e.x1, e.x2), std::fmin(e.y1, e.y2), std::fmax(e.x1, e.x2), std::fmax(e.y1, e.y2)};
    }
    while (levels.back().size() > 1) {
        const std::vector<Box>& below = levels.back();
        std::vector<Box> up((below.size() + kTreeFan - 1) / kTreeFan);
        for (size_t j = 0; j < up.size(); j++) {
            Box u = below[j * kTreeFan];
            for (size_t c = j * kTreeFan + 1; c < std::min(below.size(), (j + 1) * kTreeFan); c++) {
                u.x0 = std::fmin(u.x0, below[c].x0);
                u.y0 = std::fmin(u.y0, below[c].y0);
                u.x1 = std::fmax(u.x1, below[c].x1);
                u.y1 = std::fmax(u.y1, below[c].y1);
            }
            up[j] = u;
        }
        levels.push_back(std::move(up));
    }
    // Above rounding of the box test at the elements, so that no element that test passes is missed.
    const double treeReach = far * (1.0 + 1e-12) + 1e-12;
    std::vector<std::pair<int32_t, int32_t>> stack;
    int32_t kept = 0;
    for (int32_t m = 0; m < candidates->count; m++) {
        const Seg2D cand = candidates->data[m];
        const Vec2 p{cand.x1, cand.y1};
        bool near = false;
        const double from = p.x - reach - widest;
        if (n > 0) stack.assign(1, {static_cast<int32_t>(levels.size()) - 1, 0});
        while (!stack.empty() && !near) {
            const auto [level, j] = stack.back();
            stack.pop_back();
            const Box& b = levels[level][j];
            // Euclidean distance to the box: the elements within reach of a ray end lie in a disc,
            // where the square of the per-axis test holds many more of a finely divided contour.
            const double gx = p.x < b.x0 ? b.x0 - p.x : (p.x > b.x1 ? p.x - b.x1 : 0.0);
            const double gy = p.y < b.y0 ? b.y0 - p.y : (p.y > b.y1 ? p.y - b.y1 : 0.0);
            if (gx * gx + gy * gy > treeReach * treeReach) continue;
            if (level > 0) {
                const int32_t end =
                    std::min(static_cast<int32_t>(levels[level - 1].size()), (j + 1) * kTreeFan);
                for (int32_t c = j * kTreeFan; c < end; c++) stack.push_back({level - 1, c});
                continue;
            }
            const int32_t i = order[j];
            const Seg2D& e = merged->elements[i];
            // The bounds of the walk over start x that this search replaces.
            if (e.x1 < from || e.x1 > p.x + reach) continue;
            // Far outside the element's box grown by the reach: neither its line part nor its ends
            // can be near, and the distances need not be computed.
            if (p.x < std::fmin(e.x1, e.x2) - far || p.x > std::fmax(e.x1, e.x2) + far ||
                p.y < std::fmin(e.y1, e.y2) - far || p.y > std::fmax(e.y1, e.y2) + far)
                continue;
            const Vec2 e1{e.x1, e.y1}, e2{e.x2, e.y2};
            const double dl = std::fabs(lines[i].a * p.x + lines[i].b * p.y + lines[i].c);
            if (within(p, e1, reach) || within(p, e2, reach) ||
                (dl <= reach && projectsInside(e, lines[i], p)))
                near = true;
        }
        if (!near) candidates->data[kept++] = cand;
    }
    candidates->count = kept;
    return 1;
}

int offset2dPrepare(Offs3dGeometry* geometry, Offs3dTool* tool, Offs3dParams* params, Offs3dLoops* loops,
                    const Kont2d* contour, int32_t mode) {
    if (mode < 1 || mode > 4) return kOffsetBadMode;
    if (!geometry || !geometry->elements || !tool || !params || !loops || !loops->candidates || !contour)
        return fail(-1, kLinePrepareAlloc);
    StartCandList* cands = loops->candidates;
    cands->count = 0;
    cands->cursor = 0;  // the sorted flag
    const bool mergedOpen = geometry->elements->closed != 1;
    const double len = tool->radius * kRayFactor;
    int result = 1;
    bool isOuter = true;
    forOuterAndIslands(contour, [&](const Kont2d* c) {
        bool right;
        if (mergedOpen) {
            right = mode == 4 || (mode != 3 && params->attempt % 2 == 0);
        } else {
            const int o = kont2dOrientation(c);
            if (mode == 1)
                right = (o == 1) == isOuter;
            else if (mode == 2)
                right = (o == 1) != isOuter;
            else
                right = false;
        }
        isOuter = false;
        auto add = [&](double px, double py, double mx, double my) {
            const Seg2D cand{px, py, mx, my};
            if (result == 1 && startCandListAdd(cands, &cand) < 0) result = fail(-1, kLinePrepareAlloc);
        };
        for (int32_t i = 0; i < c->count && result == 1; i++) {
            const Seg2D& e = c->elements[i];
            const double l = std::hypot(e.x2 - e.x1, e.y2 - e.y1);
            if (l < kLeastElement) continue;
            double dx = (e.x2 - e.x1) / l * len, dy = (e.y2 - e.y1) / l * len;
            if (right)
                rotateRight2D(&dx, &dy);
            else
                rotateLeft2D(&dx, &dy);
            // The midpoint, and on an element longer than the tool radius further points along it, so
            // that a region next to a long element is reached even when its midpoint has no room.
            const int32_t k =
                static_cast<int32_t>(std::fmin(kMaxRaysPerElement, std::ceil(l / tool->radius)));
            for (int32_t j = 0; j < k; j++) {
                const double t = (j + 0.5) / k;
                const double mx = e.x1 + t * (e.x2 - e.x1), my = e.y1 + t * (e.y2 - e.y1);
                add(mx + dx, my + dy, mx, my);
            }
        }
        // Vertices that the tool rounds: a fan of rays over their normals. Short elements leave their
        // midpoint rays no room when the distance is large; the region beyond a corner still has it.
        const int32_t last = mergedOpen ? c->count - 1 : c->count;
        for (int32_t i = 0; i < last && result == 1; i++) {
            const Seg2D& a = c->elements[i];
            const Seg2D& b = c->elements[(i + 1) % c->count];
            const double la = std::hypot(a.x2 - a.x1, a.y2 - a.y1), lb = std::hypot(b.x2 - b.x1, b.y2 - b.y1);
            if (la < kLeastElement || lb < kLeastElement) continue;
            const double ax = (a.x2 - a.x1) / la, ay = (a.y2 - a.y1) / la, bx = (b.x2 - b.x1) / lb,
                         by = (b.y2 - b.y1) / lb;
            const double cross = ax * by - ay * bx, dot = ax * bx + ay * by;
            // The tool rounds the vertex when the contour turns away from the tool's side.
            if (!(right ? cross > 0.0 : cross < 0.0)) continue;
            const double angle = std::atan2(std::fabs(cross), dot);
            const int32_t m = static_cast<int32_t>(std::ceil(angle / kFanStep));
            double nx = ax * len, ny = ay * len;
            if (right)
                rotateRight2D(&nx, &ny);
            else
                rotateLeft2D(&nx, &ny);
            const double sense = cross > 0.0 ? 1.0 : -1.0;
            for (int32_t j = 1; j < m; j++) {
                const double w = sense * angle * j / m, cw = std::cos(w), sw = std::sin(w);
                add(a.x2 + nx * cw - ny * sw, a.y2 + nx * sw + ny * cw, a.x2, a.y2);
            }
            if (m <= 1) {
                const double w = sense * angle / 2, cw = std::cos(w), sw = std::sin(w);
                add(a.x2 + nx * cw - ny * sw, a.y2 + nx * sw + ny * cw, a.x2, a.y2);
            }
        }
    });
    if (result != 1) return result;
    if (mergedOpen && contour->count > 0) {
        // Rays straight on beyond both ends, from their outer point towards the end.
        const Seg2D& f = contour->elements[0];
        const Seg2D& l = contour->elements[contour->count - 1];
        const double ends[2][4] = {{f.x1, f.y1, f.x1 - f.x2, f.y1 - f.y2},
                                   {l.x2, l.y2, l.x2 - l.x1, l.y2 - l.y1}};
        for (const auto& r : ends) {
            const double dl = std::hypot(r[2], r[3]);
            if (dl < kLeastElement) continue;
            const Seg2D cand{r[0] + r[2] / dl * len, r[1] + r[3] / dl * len, r[0], r[1]};
            if (startCandListAdd(cands, &cand) < 0) return fail(-1, kLinePrepareAlloc);
        }
    }
    offset2dDropNearCandidates(geometry->elements, cands);
    sortRecords(cands->data, cands->count, static_cast<int32_t>(sizeof(Seg2D)), segCompareBox2D);
    cands->cursor = 1;
    return 1;
}

int offset2dDropCoveredCandidates(int32_t first, StartCandList* candidates, const Offs3dPath* path,
                                  int32_t end) {
    if (!candidates || !path) return 1;
    if (first < 0) first = 0;
    if (end > path->count) end = path->count;
    if (!candidates->cursor) {
        sortRecords(candidates->data, candidates->count, static_cast<int32_t>(sizeof(Seg2D)),
                    segCompareBox2D);
        candidates->cursor = 1;
    }
    if (end <= first || candidates->count == 0) return 1;
    double loopBox[4] = {1e300, 1e300, -1e300, -1e300};
    for (int32_t j = first; j < end; j++) {
        const Offs3dBox& b = path->segmentBoxes[j];
        loopBox[0] = std::fmin(loopBox[0], b.xmin);
        loopBox[1] = std::fmin(loopBox[1], b.ymin);
        loopBox[2] = std::fmax(loopBox[2], b.xmax);
        loopBox[3] = std::fmax(loopBox[3], b.ymax);
    }
    std::vector<int32_t> pre;
    std::vector<char> gone(static_cast<size_t>(candidates->count), 0);
    std::vector<std::array<double, 4>> boxes(static_cast<size_t>(candidates->count));
    double tallest = 0.0;
    for (int32_t n = 0; n < candidates->count; n++) {
        double* cb = boxes[n].data();
        segBox2D(cb, &candidates->data[n]);
        if (boxesTouch(cb, loopBox, kCoverMargin)) {
            pre.push_back(n);
            tallest = std::fmax(tallest, cb[3] - cb[1]);
        }
    }
    // A bucket grid over the preselected candidates' boxes grown by the margin, so that a loop
    // segment meets only the candidates near it; seen marks those already met by this segment.
    CandGrid grid(loopBox, kCoverMargin, tallest);
    for (const int32_t n : pre) grid.add(boxes[n].data(), kCoverMargin, n);
    std::vector<int32_t> seen(static_cast<size_t>(candidates->count), -1);
    for (int32_t j = first; j < end; j++) {
        const Offs3dSeg& ps = path->segments[j];
        const Seg2D s{ps.x1, ps.y1, ps.x2, ps.y2};
        const double sb[4] = {path->segmentBoxes[j].xmin, path->segmentBoxes[j].ymin,
                              path->segmentBoxes[j].xmax, path->segmentBoxes[j].ymax};
        const Vec2 contact{path->contacts[j].x, path->contacts[j].y};
        double la, lb, lc;
        const bool hasLine = segLineEquation2D(&s, &la, &lb, &lc) != 0;
        // The bounds of the walk over least y that the grid replaces: below the tallest candidate's
        // reach or above the segment's box nothing can touch.
        const double from = sb[1] - kCoverMargin - tallest, to = sb[3] + kCoverMargin;
        const int32_t c0 = grid.col(sb[0] - kCoverMargin), c1 = grid.col(sb[2] + kCoverMargin);
        const int32_t r0 = grid.row(sb[1] - kCoverMargin), r1 = grid.row(sb[3] + kCoverMargin);
        for (int32_t r = r0; r <= r1; r++)
            for (int32_t c = c0; c <= c1; c++)
                for (const int32_t n : grid.cells[static_cast<size_t>(r) * grid.cols + c]) {
                    if (seen[n] == j) continue;
                    seen[n] = j;
                    const double* cb = boxes[n].data();
                    if (cb[1] < from || cb[1] > to) continue;
                    if (gone[n] || !boxesTouch(cb, sb, kCoverMargin)) continue;
                    const Seg2D& cand = candidates->data[n];
                    if (segsIntersect2D(&s, &cand)) {
                        gone[n] = 1;
                        continue;
                    }
                    const Vec2 pts[2] = {{cand.x1, cand.y1}, {cand.x2, cand.y2}};  // P, then M
                    for (int w = 0; w < 2 && !gone[n]; w++) {
                        const ToolCircle circle{pts[w].x, pts[w].y, kCoverCircle, 0};
                        Vec2 a, b;
                        if (segCircleIntersect2D(&s, &circle, &a, &b) != 2) continue;
                        const Vec2 s1{s.x1, s.y1}, s2{s.x2, s.y2};
                        const bool hit = pointOnSeg2D(&a, &s) || pointOnSeg2D(&b, &s) ||
                                         wogDist2D(&s1, &pts[w]) < kCoverCircle ||
                                         wogDist2D(&s2, &pts[w]) < kCoverCircle;
                        if (!hit) continue;
                        if (w == 1 || (hasLine && sideOfLine2D(&pts[0], la, lb, lc) ==
                                                      sideOfLine2D(&contact, la, lb, lc)))
                            gone[n] = 1;
                    }
                }
    }
    int32_t kept = 0;
    for (int32_t n = 0; n < candidates->count; n++)
        if (!gone[n]) candidates->data[kept++] = candidates->data[n];
    candidates->count = kept;
    return 1;
}

int offset2dTrace(Offs3dLoops* loops, Offs3dGeometry* geometry, Offs3dTool* tool, Offs3dParams* params) {
    if (!loops || !loops->path || !loops->candidates || !loops->loopStarts || !geometry || !tool || !params)
        return fail(-1, kLineTraceCache);
    Offs3dPath* path = loops->path;
    StartCandList* cands = loops->candidates;
    const int32_t entryCount = path->count;
    if (offs3dBuildCache(geometry, tool, params) < 0) {
        offs3dFreeCache(geometry, tool, params);
        return fail(-1, kLineTraceCache);
    }
    struct CacheGuard {
        Offs3dGeometry* g;
        Offs3dTool* t;
        Offs3dParams* p;
        ~CacheGuard() { offs3dFreeCache(g, t, p); }
    } guard{geometry, tool, params};
    if (params->attempt > 0) pickRandomStart(cands, params->attempt);
    int result = 1;
    bool traced = false;
    while (cands->count > 0) {
        const int32_t before = cands->count;
        bool looped = false;
        for (int32_t i = 0; i < cands->count;) {
            const Seg2D cand = cands->data[i];
            const double vx = cand.x2 - cand.x1, vy = cand.y2 - cand.y1;
            const double l = std::hypot(vx, vy);
            if (l <= kLeastRay) {
                i++;
                continue;
            }
            const Seg2D ray{cand.x1, cand.y1, cand.x2 + kOvershoot * vx / l, cand.y2 + kOvershoot * vy / l};
            Seg2D seg;
            Vec2 contact;
            int32_t element, kind;
            const int t = offs3dStartTest(geometry->elements, geometry->frame, nullptr, tool->radius, &ray,
                                          &seg, &contact, &element, &kind);
            if (t != 1) {
                std::memmove(&cands->data[i], &cands->data[i + 1],
                             static_cast<size_t>(cands->count - i - 1) * sizeof(Seg2D));
                cands->count--;
                continue;
            }
            const int32_t m = path->count;
            params->startPoint = Vec3{seg.x2, seg.y2, params->planeZ};
            params->startSegment = seg;
            result = offs3d(geometry, tool, params, loops);
            if (result < 0) return fail(result, kLineTraceEngine);
            offs3dPathCompactLoop(path, m, path->count);
            // After compaction, so that the refined loop's crossing check runs over few segments.
            if (offs3dRefineCorners(geometry, tool, params, path, m) < 0) return fail(-1, kLineTraceEngine);
            if (intListAdd(loops->loopStarts, m) < 0) return fail(-1, kLineLoopStart);
            traced = true;
            offset2dDropCoveredCandidates(m, cands, path, path->count);
            looped = true;
            break;
        }
        if (cands->count == before) return fail(kOffsetNoProgress, kLineNoProgress);
        if (!looped) result = 1;
    }
    if (traced && path->count == entryCount) return kOffsetNoGrowth;
    return result;
}

int offset2dMain(Kont2d* contour, double distance, Kont2d** result) {
    if (result) *result = nullptr;
    if (!result || !contour || contour->count == 0 || std::fabs(distance) < kZeroDistance) return 0;
    const double s = std::fabs(kScaledDistance / distance);
    Run run;
    run.copy = kont2dCopy(contour);
    if (!run.copy) return fail(-1, kLineCopy);
    kont2dScale(run.copy, s);
    run.merged = kont2dCreate(nullptr, 100);
    if (!run.merged) return fail(-1, kLineMerged);
    bool added = true;
    forOuterAndIslands(static_cast<const Kont2d*>(contour), [&](const Kont2d* c) {
        for (int32_t i = 0; i < c->count && added; i++) {
            const Seg2D& e = c->elements[i];
            const Seg2D m = e.x2 > e.x1 ? e : Seg2D{e.x2, e.y2, e.x1, e.y1};
            if (kont2dAppendElement(run.merged, &m) != 1) added = false;
        }
    });
    if (!added) return fail(-1, kLineMergedAdd);
    sortRecords(run.merged->elements, run.merged->count, static_cast<int32_t>(sizeof(Seg2D)),
                compareElementStartX);
    kont2dScale(run.merged, s);
    run.merged->closed = contour->closed;
    const double g = kFrameMargin * std::fabs(s * distance);
    const Vec2 lo{run.merged->xmin - g, run.merged->ymin - g}, hi{run.merged->xmax + g, run.merged->ymax + g};
    run.frame = kont2dCreateRect(&lo, &hi);
    if (!run.frame) return fail(-1, kLineFrame);
    Vec3 boxMin{run.merged->xmin, run.merged->ymin, -1.0}, boxMax{run.merged->xmax, run.merged->ymax, 1.0};
    Offs3dGeometry geometry{};
    geometry.elements = run.merged;
    geometry.frame = run.frame;
    geometry.boxMin = &boxMin;
    geometry.boxMax = &boxMax;
    Offs3dTool tool{};
    tool.radius = std::fabs(distance) * s;
    tool.kind = 2;
    Offs3dParams params;
    std::memset(&params, 0, sizeof params);
    params.tolerance = 0.1;
    params.planeZ = 0.0;
    params.direction = 1;
    params.stepControl = 1.0;
    run.path = offs3dPathCreate(100);
    if (!run.path) return fail(-1, kLinePath);
    {
        // The tool advances about kMeanAdvance per path segment along the elements and once around;
        // room for that at once spares growing the path many times. A failure only leaves it small.
        double length = 2.0 * std::numbers::pi * tool.radius;
        for (int32_t i = 0; i < run.merged->count; i++) {
            const Seg2D& e = run.merged->elements[i];
            length += std::hypot(e.x2 - e.x1, e.y2 - e.y1);
        }
        offs3dPathReserve(run.path,
                          static_cast<int32_t>(std::fmin(kMaxReserve, 100.0 + length / kMeanAdvance)));
    }
    run.loopStarts = intListCreate(100);
    if (!run.loopStarts) return fail(-1, kLineLoopStarts);
    run.candidates = startCandListCreate(100);
    if (!run.candidates) return fail(-1, kLineCandidates);
    Offs3dLoops loops{run.candidates, run.path, run.loopStarts};
    const int32_t mode = distance > 0 ? 1 : 2;
    const bool open = contour->closed != 1;

    int r = -1;
    for (int k = 0; k < kAttempts; k++) {
        if (k > 0) {
            params.attempt = k;
            const double move = k * (std::fabs(distance) * s) * kRadiusStep;
            tool.radius += k % 2 == 0 ? move : -move;
            offs3dPathReset(run.path);
            intListReset(run.loopStarts);
        }
        r = offset2dPrepare(&geometry, &tool, &params, &loops, run.copy, mode);
        if (open && run.candidates->count == 0)
            r = kOffsetNoCandidate;
        else if (r > 0)
            r = offset2dTrace(&loops, &geometry, &tool, &params);
        if (r >= 0) break;
    }
    if (r < 0) {
        kont2dWriteBnd(contour, kProblemFile);
        wogError(r, kSourceFile, kLineAttempts);
        return fail(r, kLineOutcome);
    }
    if (run.path->count == 0) return fail(0, kLineEmptyPath);

    const IntList* starts = run.loopStarts;
    for (int32_t i = 0; i < starts->count; i++) {
        const int32_t from = starts->data[i];
        const int32_t to = i + 1 < starts->count ? starts->data[i + 1] : run.path->count;
        // A loop that added nothing would leave an empty contour in the set.
        if (to <= from) continue;
        Kont2d* k = kont2dCreate(nullptr, to - from);
        if (!k) return fail(fail(-1, kLineResultAlloc), kLineOutcome);
        run.results.push_back(k);
        for (int32_t j = from; j < to; j++) {
            const Offs3dSeg& ps = run.path->segments[j];
            const Seg2D e{ps.x1, ps.y1, ps.x2, ps.y2};
            if (kont2dAppendElement(k, &e) != 1) return fail(fail(-1, kLineResultAlloc), kLineOutcome);
        }
    }
    if (run.results.empty()) return fail(0, kLineNoLoop);
    for (Kont2d* k : run.results) {
        // Merged where the distance is 10, so that the merge tolerance scales with the distance.
        kont2dMergeCollinear(k);
        kont2dScale(k, 1.0 / s);
        k->z = contour->z;
        k->closed = 1;
    }
    kont2dBuildNesting(run.results.data(), static_cast<int32_t>(run.results.size()));
    // Nesting freed what it could not link and moved the rest to the front.
    while (!run.results.empty() && !run.results.back()) run.results.pop_back();
    Kont2d* head = run.results.empty() ? nullptr : run.results[0];
    run.results.clear();  // the set now owns them all
    if (!head) return fail(0, kLineNoLoop);
    const int o = kont2dOrientation(contour);
    for (Kont2d* t = head; t; t = t->next) {
        if (kont2dOrientation(t) != ((t->level & 1) ? -o : o)) reverseOne(t);
        for (Kont2d* i = t->firstIsland; i; i = i->next)
            if (kont2dOrientation(i) != ((i->level & 1) ? -o : o)) reverseOne(i);
    }
    int v = 1;
    for (Kont2d* t = head; t; t = t->next) {
        v = kont2dValidate(t, 3);
        if (v != 1) {
            kont2dFree(head);
            if (v < 0) {
                wogError(v, kSourceFile, kLineResultInvalid);
                return fail(v, kLineOutcome);
            }
            return fail(0, kLineResultInvalid);
        }
    }
    *result = head;
    return v;
}
int offset2d(Kont2d* contour, double distance, Kont2d** result) {
    if (!result) return -1;
    *result = nullptr;
    if (std::fabs(distance) < kZeroDistance || !contour || contour->count == 0) return 0;
    const int32_t savedOpen = kont2dGetOpenFlag();
    const int32_t savedNoCheck = kont2dGetNoCheck();
    bool open = false;
    forOuterAndIslands(static_cast<const Kont2d*>(contour),
                       [&](const Kont2d* c) { open = open || contourOpen(c); });
    int r;
    if (!open) {
        contour->closed = 1;
        r = kont2dValidate(contour, 3) == 1 ? offset2dMain(contour, distance, result)
                                            : fail(kOffsetInvalidInput, kLineInvalid);
    } else if (contour->next || contour->firstIsland) {
        r = fail(kOffsetOpenWithIslands, kLineOpenIslands);
    } else {
        // Validation of the polyline and of its loop would refuse what is not a region.
        kont2dSetOpenFlag(1);
        kont2dSetNoCheck(1);
        contour->closed = 0;
        kont2dValidate(contour, 3);
        r = offset2dMain(contour, distance, result);
    }
    kont2dSetOpenFlag(savedOpen);
    kont2dSetNoCheck(savedNoCheck);
    if (r <= 0) *result = nullptr;
    return r;
}
