#include "plunge/trigrid.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

namespace {

int32_t clampIndex(double v, int32_t n) {
    if (!(v >= 0)) return 0;  // also NaN
    if (v >= n) return n - 1;
    return static_cast<int32_t>(v);
}

double planDist(const Vec3& p, const Vec3& c) {
    return std::hypot(p.x - c.x, p.y - c.y);
}

// The smallest plan distance of the triangle from c: its projection may pass nearer to the axis than
// any corner. d: the corners' plan distances, which an edge whose nearest point is its first corner
// measures again.
double planDistMin(const Vec3* t, const Vec3& c, const double* d) {
    const Vec2 q[3] = {
        {t[0].x - c.x, t[0].y - c.y}, {t[1].x - c.x, t[1].y - c.y}, {t[2].x - c.x, t[2].y - c.y}};
    double side[3];
    double best = INFINITY;
    for (int k = 0; k < 3; ++k) {
        const Vec2 a = q[k], b = q[(k + 1) % 3];
        const double ex = b.x - a.x, ey = b.y - a.y, len2 = ex * ex + ey * ey;
        side[k] = ex * -a.y - ey * -a.x;
        const double u = len2 > 0.0 ? std::clamp(-(a.x * ex + a.y * ey) / len2, 0.0, 1.0) : 0.0;
        // At u = 0 the point is the corner itself (a finite step times zero adds a zero).
        const bool corner = u == 0.0 && std::isfinite(ex) && std::isfinite(ey);
        best = std::min(best, corner ? d[k] : std::hypot(a.x + u * ex, a.y + u * ey));
    }
    const bool inside =
        (side[0] >= 0 && side[1] >= 0 && side[2] >= 0) || (side[0] <= 0 && side[1] <= 0 && side[2] <= 0);
    return inside ? 0.0 : best;
}

// The plan distances and polar angles about c of the corners met lately: a mesh's corners recur in
// nearby triangles, and the same coordinates (bit for bit) give the same values.
class CornerMemo {
  public:
    explicit CornerMemo(const Vec3& c) : c_(c), entries_(kSize) {}
    double dist(const Vec3& p) {
        Entry& e = entryOf(p);
        if (!(e.has & kDist)) e.dist = planDist(p, c_), e.has |= kDist;
        return e.dist;
    }
    double angle(const Vec3& p) {
        Entry& e = entryOf(p);
        if (!(e.has & kAngle)) e.angle = std::atan2(p.y - c_.y, p.x - c_.x), e.has |= kAngle;
        return e.angle;
    }

  private:
    static constexpr size_t kSize = 8192;  // a power of two
    static constexpr uint8_t kDist = 1, kAngle = 2;
    struct Entry {
        uint64_t x = 0, y = 0;
        double dist = 0.0, angle = 0.0;
        uint8_t has = 0;  // which of the two values the coordinates x, y have
    };
    Entry& entryOf(const Vec3& p) {
        uint64_t x, y;
        std::memcpy(&x, &p.x, sizeof x);
        std::memcpy(&y, &p.y, sizeof y);
        Entry& e = entries_[((x ^ (y * 0x9E3779B97F4A7C15ull)) * 0xBF58476D1CE4E5B9ull) >> 51];
        if (e.x != x || e.y != y) e = Entry{x, y};
        return e;
    }
    Vec3 c_;
    std::vector<Entry> entries_;
};
static_assert(size_t(1) << (64 - 51) == 8192, "the memo's index takes the hash's top bits");

// The polar angle range of the triangle's corners about the memo's centre. A triangle whose plan holds
// it or lies near it gets a half width of at least pi (every angle); otherwise it spans less than half
// a turn and the corners' angles measured from the first one bound it.
// d: the corners' plan distances, nearest: the triangle's smallest one (planDistMin).
void angleRange(const Vec3* t, CornerMemo& memo, const double* d, double nearest, double* mid, double* half) {
    *mid = 0.0;
    *half = 4.0;
    double size = 0.0;
    for (int k = 0; k < 3; ++k) size = std::max(size, d[k]);
    if (!(nearest > 1e-6 * size)) return;
    const double a0 = memo.angle(t[0]);
    double lo = 0.0, hi = 0.0;
    for (int k = 1; k < 3; ++k) {
        double d = memo.angle(t[k]) - a0;
        if (d > M_PI) d -= 2 * M_PI;
        if (d < -M_PI) d += 2 * M_PI;
        lo = std::min(lo, d);
        hi = std::max(hi, d);
    }
    if (hi - lo >= 0.5 * M_PI) return;  // near the axis: not worth the care
    *mid = a0 + 0.5 * (lo + hi);
    *half = 0.5 * (hi - lo);
}

}  // namespace

// What a fill keeps for the cells not yet asked for: each triangle's rectangle of cells, the triangles
// by the first cell of their rectangle and the most rows and columns a rectangle spans beyond it, so
// that a cell's triangles are found among few first cells; a bit per triangle gathers them back into
// triangle order.
struct TriGridPending {
    struct Block {
        int32_t r0, r1, c0, c1;
    };
    std::vector<Block> block;
    std::vector<int32_t> start;  // per first cell (row by row) and one beyond: its place in byFirst
    std::vector<int32_t> byFirst;
    int32_t rowSpan = 0, columnSpan = 0;
    std::vector<uint8_t> waiting;  // per cell, row by row: its triangles not yet taken
    std::vector<uint64_t> bits;
};

namespace {

// Appends the triangles whose rectangle holds the cell, in triangle order, when the cell still waits
// for them; false when memory is short (the cell keeps waiting).
bool takeTriangles(const TriGrid* g, int32_t row, int32_t column) {
    TriGridPending* pd = g->pending;
    const size_t at = size_t(row) * size_t(g->columns) + size_t(column);
    if (!pd || !pd->waiting[at]) return true;
    int64_t found = 0;
    size_t wLo = pd->bits.size(), wHi = 0;
    for (int32_t r = std::max(0, row - pd->rowSpan); r <= row; ++r) {
        const size_t first = size_t(r) * size_t(g->columns);
        const int32_t k0 = pd->start[first + size_t(std::max(0, column - pd->columnSpan))];
        const int32_t k1 = pd->start[first + size_t(column) + 1];
        for (int32_t k = k0; k < k1; ++k) {
            const int32_t i = pd->byFirst[size_t(k)];
            const TriGridPending::Block& b = pd->block[size_t(i)];
            if (b.r1 < row || b.c1 < column) continue;
            const size_t w = size_t(i) >> 6;
            pd->bits[w] |= uint64_t(1) << (i & 63);
            wLo = std::min(wLo, w), wHi = std::max(wHi, w);
            ++found;
        }
    }
    TriGridCell* cell = &g->cells[row][column];
    const int64_t need = int64_t(cell->count) + found;
    bool ok = true;
    if (need > cell->capacity) {
        auto* grown = need > INT32_MAX
                          ? nullptr
                          : static_cast<int32_t*>(std::realloc(cell->items, sizeof(int32_t) * size_t(need)));
        if (grown) {
            cell->items = grown;
            cell->capacity = static_cast<int32_t>(need);
        } else {
            ok = false;
        }
    }
    for (size_t w = wLo; found > 0 && w <= wHi; ++w) {
        for (uint64_t bits = pd->bits[w]; ok && bits != 0; bits &= bits - 1)
            cell->items[cell->count++] = static_cast<int32_t>((w << 6) | size_t(__builtin_ctzll(bits)));
        pd->bits[w] = 0;
    }
    if (!ok) return false;
    pd->waiting[at] = 0;
    return true;
}

}  // namespace

TriGrid* triGridCreate(int32_t columns, int32_t rows, int32_t capacity) {
    // No rows would leave nothing to clamp a point into (and a row height of infinity).
    if (columns < 1 || rows < 1) return nullptr;
    if (capacity < 1) capacity = 1;
    auto* g = static_cast<TriGrid*>(std::calloc(1, sizeof(TriGrid)));
    if (!g) return nullptr;
    g->rows = rows;
    g->columns = columns;
    g->zStep = 1.0;
    g->rStep = 1.0;
    g->cells = static_cast<TriGridCell**>(std::calloc(size_t(rows), sizeof(TriGridCell*)));
    if (!g->cells) {
        std::free(g);
        return nullptr;
    }
    for (int32_t r = 0; r < rows; ++r) {
        g->cells[r] = static_cast<TriGridCell*>(std::calloc(size_t(columns), sizeof(TriGridCell)));
        if (!g->cells[r]) {
            triGridFree(g);
            return nullptr;
        }
        for (int32_t c = 0; c < columns; ++c) {
            g->cells[r][c].items = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * size_t(capacity)));
            if (!g->cells[r][c].items) {
                triGridFree(g);
                return nullptr;
            }
            g->cells[r][c].capacity = capacity;
        }
    }
    return g;
}

int triGridFill(TriGrid* g, const Vec3* centre, const TriList* tris, double reach) {
    if (!g || !centre) return -1;
    // A second fill adds to every cell's list after what the first one put there.
    if (g->pending) {
        for (int32_t row = 0; row < g->rows; ++row)
            for (int32_t c = 0; c < g->columns; ++c)
                if (!takeTriangles(g, row, c)) return -1;
        delete g->pending;
        g->pending = nullptr;
    }
    g->centre = *centre;
    const int32_t n = tris ? tris->count : 0;
    // One pass over the triangles takes everything but the cells, whose steps wait for the extent: per
    // triangle its heights and plan distances grown by the reach (each corner's distance measured once).
    struct Reach {
        double lo, hi, near, far;
    };
    std::unique_ptr<Reach[]> reachOf(new (std::nothrow) Reach[size_t(std::max(n, 1))]);
    if (!reachOf) return -1;
    std::unique_ptr<CornerMemo> memo;
    try {
        memo = std::make_unique<CornerMemo>(*centre);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    std::free(g->ranges);
    // Aligned to the cache line, so that no triangle's record straddles two.
    const size_t rangeBytes = (sizeof(TriGridRange) * size_t(std::max(n, 1)) + 63) / 64 * 64;
    g->ranges = static_cast<TriGridRange*>(std::aligned_alloc(64, rangeBytes));
    const bool ranges = g->ranges != nullptr;
    g->angleCount = ranges ? n : 0;
    const double r = std::max(reach, 0.0);
    double zmin = 10000.0, zmax = -10000.0, dmax = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        const Vec3* p = tris->data[i].p;
        double d[3];
        for (int k = 0; k < 3; ++k) {
            zmin = std::min(zmin, p[k].z);
            zmax = std::max(zmax, p[k].z);
            d[k] = memo->dist(p[k]);
            dmax = std::max(dmax, d[k]);
        }
        const double nearest = planDistMin(p, *centre, d);
        const double far = std::max({d[0], d[1], d[2]});
        if (ranges) {
            TriGridRange& e = g->ranges[i];
            angleRange(p, *memo, d, nearest, &e.angleMid, &e.angleHalf);
            e.radiusMin = nearest;
            e.radiusMax = far;
        }
        reachOf[i] = {std::min({p[0].z, p[1].z, p[2].z}) - r, std::max({p[0].z, p[1].z, p[2].z}) + r,
                      r > 0.0 ? nearest - r : std::min({d[0], d[1], d[2]}), far + r};
    }
    g->zMin = zmin - 1;
    g->zStep = ((zmax + 1) - (zmin - 1)) / g->rows;
    g->rStep = (1 + dmax) / g->columns;
    TriGridPending* pd = nullptr;
    try {
        pd = new TriGridPending;
        pd->block.resize(size_t(n));
        pd->start.assign(size_t(g->rows) * size_t(g->columns) + 1, 0);
        pd->byFirst.resize(size_t(n));
        pd->bits.assign((size_t(n) + 63) / 64, 0);
        pd->waiting.assign(size_t(g->rows) * size_t(g->columns), 1);
    } catch (const std::bad_alloc&) {
        delete pd;
        return -1;
    }
    {
        // The grid's steps and the spans in locals: the counts stored below could otherwise be taken to
        // change them, and every triangle would read them again.
        const double zMin = g->zMin, zStep = g->zStep, rStep = g->rStep;
        const int32_t rows = g->rows, columns = g->columns;
        int32_t rowSpan = 0, columnSpan = 0;
        TriGridPending::Block* const block = pd->block.data();
        int32_t* const start = pd->start.data();
        for (int32_t i = 0; i < n; ++i) {
            const Reach& e = reachOf[size_t(i)];
            const int32_t r0 = clampIndex(std::trunc((e.lo - zMin) / zStep), rows);
            const int32_t r1 = clampIndex(std::trunc((e.hi - zMin) / zStep), rows);
            const int32_t c0 = clampIndex(std::trunc(e.near / rStep), columns);
            const int32_t c1 = clampIndex(std::trunc(e.far / rStep), columns);
            block[size_t(i)] = {r0, r1, c0, c1};
            rowSpan = std::max(rowSpan, r1 - r0);
            columnSpan = std::max(columnSpan, c1 - c0);
            ++start[size_t(r0) * size_t(columns) + size_t(c0) + 1];
        }
        pd->rowSpan = rowSpan;
        pd->columnSpan = columnSpan;
    }
    for (size_t k = 1; k < pd->start.size(); ++k) pd->start[k] += pd->start[k - 1];
    std::vector<int32_t> at;
    try {
        at.assign(pd->start.begin(), pd->start.end() - 1);
    } catch (const std::bad_alloc&) {
        delete pd;
        return -1;
    }
    const size_t columns = size_t(g->columns);
    int32_t* const byFirst = pd->byFirst.data();
    for (int32_t i = 0; i < n; ++i) {
        const TriGridPending::Block& b = pd->block[size_t(i)];
        byFirst[size_t(at[size_t(b.r0) * columns + size_t(b.c0)]++)] = i;
    }
    g->pending = pd;
    return 1;
}

TriGridCell* triGridCell(const TriGrid* g, const Vec3* p) {
    if (!g || !p) return nullptr;
    const int32_t r = clampIndex(std::trunc((p->z - g->zMin) / g->zStep), g->rows);
    const int32_t c = clampIndex(std::trunc(planDist(*p, g->centre) / g->rStep), g->columns);
    return triGridCellAt(g, r, c);
}

TriGridCell* triGridCellAt(const TriGrid* g, int32_t row, int32_t column) {
    if (!g || row < 0 || row >= g->rows || column < 0 || column >= g->columns) return nullptr;
    return takeTriangles(g, row, column) ? &g->cells[row][column] : nullptr;
}

void triGridFree(TriGrid* g) {
    if (!g) return;
    if (g->cells) {
        for (int32_t r = 0; r < g->rows; ++r) {
            if (!g->cells[r]) continue;
            for (int32_t c = 0; c < g->columns; ++c) std::free(g->cells[r][c].items);
            std::free(g->cells[r]);
        }
        std::free(g->cells);
    }
    std::free(g->ranges);
    delete g->pending;
    std::free(g);
}
