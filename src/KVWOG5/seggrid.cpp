#include "KVWOG5/seggrid.h"

#include <cfloat>
#include <cmath>
#include <cstdlib>

#include "KVWOG5/lists.h"
#include "KVWOG5/pred2d.h"
#include "KVWOG5/wogerr.h"

namespace {

const int32_t kMaxCells = 30;
const int32_t kCellCapacity = 100;
// Records on one line give the grid no extent across it.
const double kLeastCell = 1e-6;
const double kSharedEnd = 1e-6;
const char kSourceFile[] = "LISTS";
const int32_t kLineGridSearch = 5270, kLinePairSearch = 5301;

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
    SegGrid* grid = segGridBuild(seg, static_cast<int32_t>(sizeof(Seg2D)), n, 0.0, segBox2D);
    if (grid) {
        for (int32_t r = 0; r < grid->rows; r++) {
            for (int32_t c = 0; c < grid->cols; c++) {
                const IntList* cell = grid->cells[r][c];
                for (int32_t a = 0; a < cell->count; a++) {
                    const Seg2D& s = seg[cell->data[a]];
                    for (int32_t b = a + 1; b < cell->count; b++) {
                        const Seg2D& t = seg[cell->data[b]];
                        if (endsShared(s, t, kSharedEnd)) continue;
                        Vec2 p;
                        if (!segsIntersect2D(&s, &t) || !lineLineIntersectTol2D(&s, &t, 1e-12, &p)) continue;
                        if (nearAnEnd(p, s, endTolerance) && nearAnEnd(p, t, endTolerance)) continue;
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
