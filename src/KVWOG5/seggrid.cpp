#include "KVWOG5/seggrid.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "KVWOG5/lists.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/wogerr.h"

namespace {

const int32_t kMaxCells = 30;
const int32_t kCellCapacity = 100;
// The fine grid of the crossing test: at most this many cells per axis, and used only while the
// segments' boxes fill no more cells than this many per segment (long slanted segments fill many).
const int32_t kMaxFineCells = 256;
const int64_t kFineEntriesPerSeg = 16, kFineEntriesExtra = 4096;
// Records on one line give the grid no extent across it.
const double kLeastCell = 1e-6;
const double kSharedEnd = 1e-6;
const char kSourceFile[] = "LISTS";
const int32_t kLineGridSearch = 5270, kLinePairSearch = 5301;
// Children of a node of the box tree over a chain.
const int32_t kFan = 8;

int32_t cellsPerAxis(int32_t n) {
    if (n == 0) return 1;
    const double root = std::sqrt(static_cast<double>(n));
    int32_t k = 2;
    while (k < kMaxCells && k * k <= root) k++;
    return k;
}

// Cell of a grid coordinate, clamped to the grid; NaN lands in cell 0.
int32_t cellOf(double v, int32_t count) {
    if (!(v >= 0.0)) return 0;
    if (v >= count - 1) return count - 1;
    return static_cast<int32_t>(v);
}

bool endsShared(const Seg2D& s, const Seg2D& t, double tol) {
    const Vec2 s1{s.x1, s.y1}, s2{s.x2, s.y2}, t1{t.x1, t.y1}, t2{t.x2, t.y2};
    return pointsNear2D(&s1, &t1, tol) || pointsNear2D(&s1, &t2, tol) || pointsNear2D(&s2, &t1, tol) ||
           pointsNear2D(&s2, &t2, tol);
}

bool nearAnEnd(const Vec2& p, const Seg2D& s, double tol) {
    const Vec2 s1{s.x1, s.y1}, s2{s.x2, s.y2};
    return pointsNear2D(&p, &s1, tol) || pointsNear2D(&p, &s2, tol);
}

struct Box {
    double b[4];  // xmin, ymin, xmax, ymax
};

int copyBox(double* box, const void* rec) {
    const Box* b = static_cast<const Box*>(rec);
    for (int k = 0; k < 4; k++) box[k] = b->b[k];
    return 1;
}

struct Search {
    PointList2D* out;
    int32_t goOn;
    int result;

    // Returns true when the search must stop.
    bool crossing(const Vec2& p, int32_t line) {
        result = 1;
        if (out) pointList2DAdd(out, &p);
        if (goOn) return false;
        wogError(1, kSourceFile, line);
        return true;
    }
};

// The pair test of two segments (s before t in the list): 1 with the crossing point when they
// cross away from their shared ends.
bool segsCross(const Seg2D& s, const Seg2D& t, double endTolerance, Vec2* p) {
    if (endsShared(s, t, kSharedEnd)) return false;
    if (!segsIntersect2D(&s, &t) || !lineLineIntersectTol2D(&s, &t, 1e-12, p)) return false;
    return !(nearAnEnd(*p, s, endTolerance) && nearAnEnd(*p, t, endTolerance));
}

bool boxesApart(const double* a, const double* b) {
    return a[0] > b[2] || b[0] > a[2] || a[1] > b[3] || b[1] > a[3];
}

// Whether any two segments cross, for when no list of crossings is wanted and so the order in
// which pairs are met does not matter. A pair can only cross where its boxes overlap, and it is
// tested once, in the cell of a fine bucket grid that holds the lower corner of that overlap.
// Nothing is decided for boxes that are not finite or that would fill too many cells.
int anyCrossing(const Seg2D* seg, const std::vector<Box>& boxes, double endTolerance, Search& search,
                bool* decided) {
    const int32_t n = static_cast<int32_t>(boxes.size());
    double x0 = DBL_MAX, y0 = DBL_MAX, x1 = -DBL_MAX, y1 = -DBL_MAX;
    for (const Box& b : boxes) {
        for (double v : b.b)
            if (!std::isfinite(v)) return 0;
        x0 = std::fmin(x0, b.b[0]);
        y0 = std::fmin(y0, b.b[1]);
        x1 = std::fmax(x1, b.b[2]);
        y1 = std::fmax(y1, b.b[3]);
    }
    const int32_t k = std::clamp(static_cast<int32_t>(std::sqrt(static_cast<double>(n))), 1, kMaxFineCells);
    const double w = std::fmax((x1 - x0) / k, kLeastCell), h = std::fmax((y1 - y0) / k, kLeastCell);
    auto col = [&](double x) { return cellOf((x - x0) / w, k); };
    auto row = [&](double y) { return cellOf((y - y0) / h, k); };
    std::vector<int32_t> span(static_cast<size_t>(n) * 4);  // first row, last row, first col, last col
    int64_t entries = 0;
    for (int32_t i = 0; i < n; i++) {
        const double* b = boxes[i].b;
        int32_t* sp = &span[static_cast<size_t>(i) * 4];
        sp[0] = row(b[1]);
        sp[1] = row(b[3]);
        sp[2] = col(b[0]);
        sp[3] = col(b[2]);
        entries += static_cast<int64_t>(sp[1] - sp[0] + 1) * (sp[3] - sp[2] + 1);
    }
    if (entries > kFineEntriesPerSeg * static_cast<int64_t>(n) + kFineEntriesExtra) return 0;
    *decided = true;
    // Cell lists side by side: start[c] .. start[c + 1] in items, each in list order.
    std::vector<int32_t> start(static_cast<size_t>(k) * k + 1, 0);
    for (int32_t i = 0; i < n; i++) {
        const int32_t* sp = &span[static_cast<size_t>(i) * 4];
        for (int32_t r = sp[0]; r <= sp[1]; r++)
            for (int32_t c = sp[2]; c <= sp[3]; c++) start[r * k + c + 1]++;
    }
    for (size_t c = 1; c < start.size(); c++) start[c] += start[c - 1];
    std::vector<int32_t> items(static_cast<size_t>(start.back()));
    std::vector<int32_t> fill(start.begin(), start.end() - 1);
    for (int32_t i = 0; i < n; i++) {
        const int32_t* sp = &span[static_cast<size_t>(i) * 4];
        for (int32_t r = sp[0]; r <= sp[1]; r++)
            for (int32_t c = sp[2]; c <= sp[3]; c++) items[fill[r * k + c]++] = i;
    }
    for (int32_t cell = 0; cell < k * k; cell++) {
        for (int32_t a = start[cell]; a < start[cell + 1]; a++) {
            const double* sb = boxes[items[a]].b;
            for (int32_t b = a + 1; b < start[cell + 1]; b++) {
                const double* tb = boxes[items[b]].b;
                if (boxesApart(sb, tb)) continue;
                if (row(std::fmax(sb[1], tb[1])) * k + col(std::fmax(sb[0], tb[0])) != cell) continue;
                Vec2 p;
                if (!segsCross(seg[items[a]], seg[items[b]], endTolerance, &p)) continue;
                search.crossing(p, kLineGridSearch);
                return 1;
            }
        }
    }
    return 0;
}

}  // namespace

SegGrid* segGridBuild(const void* records, int32_t stride, int32_t n, double margin, RecBoxFn boxOf) {
    if (n < 0 || !boxOf || (n > 0 && (!records || stride <= 0))) return nullptr;
    SegGrid* g = static_cast<SegGrid*>(std::calloc(1, sizeof(SegGrid)));
    if (!g) return nullptr;
    g->rows = g->cols = cellsPerAxis(n);
    g->cells = static_cast<IntList***>(std::calloc(static_cast<size_t>(g->rows), sizeof(IntList**)));
    if (!g->cells) {
        segGridFree(g);
        return nullptr;
    }
    for (int32_t r = 0; r < g->rows; r++) {
        g->cells[r] = static_cast<IntList**>(std::calloc(static_cast<size_t>(g->cols), sizeof(IntList*)));
        if (!g->cells[r]) {
            segGridFree(g);
            return nullptr;
        }
        for (int32_t c = 0; c < g->cols; c++) {
            g->cells[r][c] = intListCreate(kCellCapacity);
            if (!g->cells[r][c]) {
                segGridFree(g);
                return nullptr;
            }
        }
    }
    const unsigned char* base = static_cast<const unsigned char*>(records);
    auto recordAt = [&](int32_t i) { return base + static_cast<size_t>(i) * static_cast<size_t>(stride); };
    if (n > 0) {
        g->xmin = g->ymin = DBL_MAX;
        g->xmax = g->ymax = -DBL_MAX;
    }
    for (int32_t i = 0; i < n; i++) {
        double b[4];
        boxOf(b, recordAt(i));
        g->xmin = std::fmin(g->xmin, b[0]);
        g->ymin = std::fmin(g->ymin, b[1]);
        g->xmax = std::fmax(g->xmax, b[2]);
        g->ymax = std::fmax(g->ymax, b[3]);
    }
    g->cellHeight = std::fmax((g->ymax - g->ymin) / g->rows, kLeastCell);
    g->cellWidth = std::fmax((g->xmax - g->xmin) / g->cols, kLeastCell);
    for (int32_t i = 0; i < n; i++) {
        double b[4];
        boxOf(b, recordAt(i));
        const int32_t r0 = cellOf((b[1] - margin - g->ymin) / g->cellHeight, g->rows);
        const int32_t r1 = cellOf((b[3] + margin - g->ymin) / g->cellHeight, g->rows);
        const int32_t c0 = cellOf((b[0] - margin - g->xmin) / g->cellWidth, g->cols);
        const int32_t c1 = cellOf((b[2] + margin - g->xmin) / g->cellWidth, g->cols);
        for (int32_t r = r0; r <= r1; r++)
            for (int32_t c = c0; c <= c1; c++)
                if (intListAdd(g->cells[r][c], i) < 0) {
                    segGridFree(g);
                    return nullptr;
                }
    }
    return g;
}

void segGridFree(SegGrid* grid) {
    if (!grid) return;
    if (grid->cells) {
        for (int32_t r = 0; r < grid->rows; r++) {
            if (!grid->cells[r]) continue;
            for (int32_t c = 0; c < grid->cols; c++) intListFree(grid->cells[r][c]);
            std::free(grid->cells[r]);
        }
        std::free(grid->cells);
    }
    std::free(grid);
}

int segListSelfIntersect(const SegList2D* list, PointList2D* crossings, int32_t goOn, double endTolerance) {
    if (!list || !list->data || list->count < 2) return 0;
    const Seg2D* seg = list->data;
    const int32_t n = list->count;
    Search search{crossings, goOn, 0};
    // Boxes once for the grid and for the pair test: segments whose boxes are apart never
    // intersect, which rejects most pairs of a cell.
    std::vector<Box> boxes(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) segBox2D(boxes[i].b, &seg[i]);
    if (!crossings) {
        bool decided = false;
        const int r = anyCrossing(seg, boxes, endTolerance, search, &decided);
        if (decided) return r;
    }
    SegGrid* grid = segGridBuild(boxes.data(), static_cast<int32_t>(sizeof(Box)), n, 0.0, copyBox);
    if (grid) {
        std::vector<Box> cellBoxes;  // the boxes of one cell in its order, side by side
        for (int32_t r = 0; r < grid->rows; r++) {
            for (int32_t c = 0; c < grid->cols; c++) {
                const IntList* cell = grid->cells[r][c];
                cellBoxes.resize(static_cast<size_t>(cell->count));
                for (int32_t a = 0; a < cell->count; a++) cellBoxes[a] = boxes[cell->data[a]];
                for (int32_t a = 0; a < cell->count; a++) {
                    const Seg2D& s = seg[cell->data[a]];
                    const double* sb = cellBoxes[a].b;
                    for (int32_t b = a + 1; b < cell->count; b++) {
                        const double* tb = cellBoxes[b].b;
                        if (boxesApart(sb, tb)) continue;
                        Vec2 p;
                        if (!segsCross(s, seg[cell->data[b]], endTolerance, &p)) continue;
                        if (search.crossing(p, kLineGridSearch)) {
                            segGridFree(grid);
                            return search.result;
                        }
                    }
                }
            }
        }
        segGridFree(grid);
        return search.result;
    }
    // No grid (out of memory): every pair that is not neighbours in the chain.
    for (int32_t i = 0; i < n; i++) {
        for (int32_t j = i + 2; j < n; j++) {
            Vec2 p;
            if (!segsIntersect2D(&seg[i], &seg[j]) || !lineLineIntersectTol2D(&seg[i], &seg[j], 1e-12, &p))
                continue;
            const Vec2 si{seg[i].x1, seg[i].y1}, ej{seg[j].x2, seg[j].y2};
            if (wogDist2D(&si, &ej) < 0.001) continue;
            if (search.crossing(p, kLinePairSearch)) return search.result;
        }
    }
    return search.result;
}

int segChainSelfIntersect(const Seg2D* segs, int32_t n, double endTolerance, int32_t goOn) {
    if (!segs || n < 2) return 0;
    // levels[0] holds the segment boxes, levels[l][j] the union of kFan boxes of level l - 1.
    std::vector<std::vector<Box>> levels(1);
    levels[0].resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) segBox2D(levels[0][i].b, &segs[i]);
    while (levels.back().size() > 1) {
        const std::vector<Box>& below = levels.back();
        std::vector<Box> up((below.size() + kFan - 1) / kFan);
        for (size_t j = 0; j < up.size(); j++) {
            Box u = below[j * kFan];
            for (size_t c = j * kFan + 1; c < std::min(below.size(), (j + 1) * kFan); c++) {
                const double* b = below[c].b;
                u.b[0] = std::min(u.b[0], b[0]);
                u.b[1] = std::min(u.b[1], b[1]);
                u.b[2] = std::max(u.b[2], b[2]);
                u.b[3] = std::max(u.b[3], b[3]);
            }
            up[j] = u;
        }
        levels.push_back(std::move(up));
    }
    // Pairs of nodes of one level whose boxes meet, first <= second; a pair of segments crosses
    // only where every pair of nodes above it meets.
    struct Pair {
        int32_t level, a, b;
    };
    std::vector<Pair> stack{{static_cast<int32_t>(levels.size()) - 1, 0, 0}};
    stack.reserve(256);
    while (!stack.empty()) {
        const Pair q = stack.back();
        stack.pop_back();
        const std::vector<Box>& below = levels[q.level - 1];
        const int32_t count = static_cast<int32_t>(below.size());
        const int32_t a0 = q.a * kFan, a1 = std::min(count, a0 + kFan);
        const int32_t b0 = q.b * kFan, b1 = std::min(count, b0 + kFan);
        // Of two different nodes only the children that meet the other node's box can meet one of
        // its children; neighbouring runs meet near their joint only.
        int32_t as[kFan], bs[kFan], na = 0, nb = 0;
        const bool same = q.a == q.b;
        const double* boxA = levels[q.level][q.a].b;
        const double* boxB = levels[q.level][q.b].b;
        for (int32_t i = a0; i < a1; i++)
            if (same || !boxesApart(below[i].b, boxB)) as[na++] = i;
        for (int32_t j = b0; j < b1; j++)
            if (same || !boxesApart(below[j].b, boxA)) bs[nb++] = j;
        for (int32_t x = 0; x < na; x++) {
            const int32_t i = as[x];
            for (int32_t y = same ? x + (q.level == 1) : 0; y < nb; y++) {
                const int32_t j = bs[y];
                if (boxesApart(below[i].b, below[j].b)) continue;
                if (q.level > 1) {
                    stack.push_back({q.level - 1, i, j});
                    continue;
                }
                // Neighbours joined end to start share that end, which never counts as a crossing.
                const Seg2D& s = segs[i];
                const Seg2D& t = segs[j];
                if (j == i + 1 && s.x2 == t.x1 && s.y2 == t.y1) continue;
                Vec2 p;
                if (segsCross(s, t, endTolerance, &p)) {
                    if (!goOn) wogError(1, kSourceFile, kLineGridSearch);
                    return 1;
                }
            }
        }
    }
    return 0;
}
