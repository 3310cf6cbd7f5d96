// Cell covering, trim classification, refinement and area of a trimmed surface.
#include "surfaces/facet.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "KVWOG5/kont2d.h"
#include "KVWOG5/pred2d.h"
#include "geometry/bspl.h"
#include "kernel/base/msg.h"
#include "surfaces/nurbs.h"

namespace {

FacetStats gStats{};

// Corners 0 (u0, v0), 1 (u1, v0), 2 (u1, v1), 3 (u0, v1); state = corners inside the loops,
// 4 also for a cell known to lie inside.
struct Cell {
    uint16_t state;
    // Bit i: corner i lies inside the loops, known when cornersKnown is set. Halves take their parent's
    // corners and share the two new ones, so the refinement tests two points per split where the
    // classification of the refined cells would test four per cell.
    uint8_t cornersIn;
    uint8_t cornersKnown;
    // Of a half, the sides (1 + side, 0 for none) whose midpoints its pair's KnownPair holds: the side it
    // keeps of its parent, the side it shares with the next cell (the first half), and the shared side
    // once the first half has measured it (the second half).
    uint8_t keptSide, pairSide, sharedSide;
    Vec3 p[4];
    // The parameter box: every cell is one (a grid cell, or a half of one whose side midpoints keep the
    // other direction's values, as 0.5 (v + v) = v below 2^1023), and the lists hold many.
    double u0, u1, v0, v1;
    Vec2 uv(int i) const { return {i == 0 || i == 3 ? u0 : u1, i < 2 ? v0 : v1}; }
};

// A loop's inside test as pointInPolygon2D takes it: its box, then the crossings of the edges between
// consecutive element starts. An edge with both ends at one height never changes the count (both
// ends lie on the same side of any line of constant v), so only the others are kept, in their order,
// for the same comparisons.
struct LoopEdges {
    double xmin, ymin, xmax, ymax;
    bool usable;  // pointInPolygon2D answers 0 for every point of a loop of fewer than three elements
    std::vector<Seg2D> edges;  // (x1, y1) the previous element's start, (x2, y2) the element's start
};

struct LoopSet {
    std::vector<Kont2d*> loops;
    std::vector<LoopEdges> edges;
    ~LoopSet() {
        for (Kont2d* k : loops) kont2dFree(k);
    }
};

// The refinement's cell lists, kept from one measure to the next until facetReleaseScratch: a side
// choice measures its surfaces one after another, and each measure would otherwise take (and fault
// in) tens of megabytes afresh.
// The side midpoints of a pair of halves to be judged that are measured already: each half keeps a
// side of its parent that was not halved, and the two share the side between them. The same parameters
// give the same point, so a side measured once is not measured again. One record per pair (the halves
// lie side by side in their list): the second half's shared side comes from the first half's measure.
struct KnownPair {
    Vec3 kept[2];  // of the first and the second half
    Vec3 shared;
};

// The basis rows of one direction by parameter (its bits), in a table of fixed size: the refinement
// meets a few thousand distinct values of each parameter in hundreds of thousands of points, and a
// row is a pure function of the parameter. A slot keeps the last parameter that came to it.
struct RowCache {
    static constexpr int kBits = 13;
    static constexpr uint64_t kUnset = 0x7ff8dead0000beefull;  // a NaN: no finite parameter has these bits
    std::vector<uint64_t> keys;
    std::vector<int32_t> spans;  // -1: no point has this parameter
    std::vector<double> rows;    // order values per slot
    int32_t order = 0;

    void reset(int32_t o) {
        order = o;
        keys.assign(size_t{1} << kBits, kUnset);
        spans.resize(size_t{1} << kBits);
        rows.resize((size_t{1} << kBits) * static_cast<size_t>(o));
    }
    // The row of t, or null where the plain point fails for every point with this parameter.
    const double* row(const BsplSurface* s, int32_t dir, double t, int32_t* span) {
        uint64_t key;
        std::memcpy(&key, &t, sizeof key);
        const size_t at = static_cast<size_t>((key * 0x9e3779b97f4a7c15ull) >> (64 - kBits));
        double* N = &rows[at * static_cast<size_t>(order)];
        if (keys[at] != key) {
            if (!std::isfinite(t)) return nullptr;
            int32_t sp = -1;
            spans[at] = nurbsSurfBasisRow(s, dir, t, &sp, N) == 1 ? sp : -1;
            keys[at] = key;
        }
        *span = spans[at];
        return *span >= 0 ? N : nullptr;
    }
};

struct Scratch {
    // The refinement's three cell lists, whose roles (pending, next, result) move between them: touched
    // is the most cells each has held (the memory paged in), and a refinement gives the result role, in
    // which a list mostly stays short, to the least touched one.
    std::vector<Cell> lists[3];
    size_t touched[3] = {0, 0, 0};
    int resultList = 0;  // where the last refinement's result came from and its list goes back to
    std::vector<KnownPair> pendingKnown, nextKnown;
    RowCache rowsU, rowsV;
    // Per refined cell, in the result's order, what the classification, the height order and the area
    // sum read of it, taken as it is accepted: the cells are then not read again (three passes over
    // tens of megabytes) unless a boundary pass follows.
    struct Accepted {
        double topZ, area;
        uint16_t state;
    };
    std::vector<Accepted> accepted;
};
Scratch gScratch;

struct Run {
    const TrimSurface* surface;
    double tol;
    LoopSet trim;
    std::vector<Cell> cells;
    std::vector<char> sureU, sureV;  // per knot span: the plain point's basis cannot fail there
    bool allSure = false;            // every span of both directions is sure and the surface usable
    // The refined cells' height order while it is only known, not applied: moving 136-byte cells along
    // it costs more than the area sum that mostly follows, which reads their accepted records in that
    // order instead.
    std::vector<size_t> order;
    size_t live = 0;          // cells of a state other than 0
    bool rowsCached = false;  // plain points from the scratch's row caches
};

// The point the trimmed surface stands for; an offset point at a degenerate normal is the plain
// point and still usable.
bool evalPoint(const Run& run, const Vec2& uv, Vec3* p) {
    const TrimSurface* rec = run.surface;
    if (run.rowsCached) {
        int32_t su = 0, sv = 0;
        const double* Nu = gScratch.rowsU.row(&rec->surface, 0, uv.x, &su);
        if (Nu == nullptr) return false;
        const double* Nv = gScratch.rowsV.row(&rec->surface, 1, uv.y, &sv);
        if (Nv == nullptr) return false;
        return nurbsSurfEvalRows(&rec->surface, su, Nu, sv, Nv, p) >= 0;
    }
    const int rc = nurbsSurfPoint(rec, uv.x, uv.y, p);
    if (rec->hasOffset) return rc == 0 || (rc == -1 && std::isfinite(p->x));
    return rc >= 0;
}

bool evalCorners(const Run& run, Cell* c) {
    for (int i = 0; i < 4; ++i)
        if (!evalPoint(run, c->uv(i), &c->p[i])) return false;
    return true;
}

Vec2 mid(const Vec2& a, const Vec2& b) {
    return {0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
}

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

double cellArea(const Cell& c) {
    Vec3 n{};
    double len = 0.0;
    quadNormal(&c.p[0], &c.p[1], &c.p[2], &c.p[3], &n, &len);
    return len;
}

double highestZ(const Cell& c) {
    return std::max({c.p[0].z, c.p[1].z, c.p[2].z, c.p[3].z});
}

// The places of count cells whose highest corners topZ(i) gives, highest first. The heights are sorted
// with their places: the sort meets the same comparisons as on the cells themselves, so the order is
// the same, ties included.
template <class TopZ>
std::vector<size_t> heightOrder(size_t count, TopZ topZ) {
    struct Key {
        double z;
        size_t at;
    };
    std::vector<Key> keys(count);
    for (size_t i = 0; i < count; ++i) keys[i] = {topZ(i), i};
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) { return a.z > b.z; });
    std::vector<size_t> order(keys.size());
    for (size_t i = 0; i < keys.size(); ++i) order[i] = keys[i].at;
    return order;
}

// The cells moved into the given order, in place along the permutation's cycles.
void applyOrder(std::vector<Cell>& cells, std::vector<size_t>& order) {
    // Place i takes the cell at order[i].
    for (size_t i = 0; i < order.size(); ++i) {
        if (order[i] == i) continue;
        const Cell first = cells[i];
        size_t j = i;
        while (order[j] != i) {
            const size_t from = order[j];
            cells[j] = cells[from];
            order[j] = j;
            j = from;
        }
        cells[j] = first;
        order[j] = j;
    }
}

// Highest first.
void sortByHeight(std::vector<Cell>& cells) {
    std::vector<size_t> order = heightOrder(cells.size(), [&cells](size_t i) { return highestZ(cells[i]); });
    applyOrder(cells, order);
}

bool buildLoops(const TrimSurface* rec, LoopSet* set) {
    // Room first: a push that threw after the create would leave the contour with no owner.
    set->loops.reserve(static_cast<size_t>(std::max(rec->loopCount, 0)));
    for (int32_t i = 0; i < rec->loopCount; ++i) {
        const TrimLoop& loop = rec->loops[i];
        Kont2d* k = kont2dCreate(nullptr, loop.count);
        if (k == nullptr) return false;
        set->loops.push_back(k);
        for (int32_t j = 0; j < loop.count; ++j) {
            const Vec2 &a = loop.points[j], &b = loop.points[(j + 1) % loop.count];
            const Seg2D e{a.x, a.y, b.x, b.y};
            if (kont2dAppendElement(k, &e) < 0) return false;
        }
        kont2dUpdateBox(k);
        LoopEdges le{k->xmin, k->ymin, k->xmax, k->ymax, k->elements != nullptr && k->count >= 3, {}};
        if (le.usable) {
            const Seg2D* e = k->elements;
            double x0 = e[k->count - 1].x1, y0 = e[k->count - 1].y1;
            for (int32_t j = 0; j < k->count; ++j) {
                if (!(y0 == e[j].y1)) le.edges.push_back({x0, y0, e[j].x1, e[j].y1});
                x0 = e[j].x1, y0 = e[j].y1;
            }
        }
        set->edges.push_back(std::move(le));
    }
    return true;
}

bool insideLoop(const LoopEdges& l, const Vec2& p) {
    if (!l.usable) return false;
    const double tx = p.x, ty = p.y;
    if (tx < l.xmin || tx > l.xmax || ty < l.ymin || ty > l.ymax) return false;
    bool inside = false;
    for (const Seg2D& e : l.edges) {
        const double x0 = e.x1, y0 = e.y1, x1 = e.x2, y1 = e.y2;
        const bool yflag0 = y0 >= ty, yflag1 = y1 >= ty;
        if (yflag0 != yflag1 && (((y1 - ty) * (x0 - x1) >= (x1 - tx) * (y0 - y1)) == yflag1))
            inside = !inside;
    }
    return inside;
}

// Inside the first loop and inside none of the others.
bool insideTrim(const LoopSet& set, const Vec2& p) {
    if (set.edges.empty()) return true;
    if (!insideLoop(set.edges[0], p)) return false;
    for (size_t i = 1; i < set.edges.size(); ++i)
        if (insideLoop(set.edges[i], p)) return false;
    return true;
}

// The corners of the cell inside the loops; 4 for every cell of an untrimmed surface and for a cell
// found inside before.
uint16_t stateOf(const Run& run, const Cell& c) {
    if (run.trim.loops.empty() || c.state == 4) return 4;
    int inside = 0;
    if (c.cornersKnown != 0)
        for (int i = 0; i < 4; ++i) inside += c.cornersIn >> i & 1;
    else
        for (int i = 0; i < 4; ++i) inside += insideTrim(run.trim, c.uv(i)) ? 1 : 0;
    return static_cast<uint16_t>(inside);
}

// Keeps the cells with a corner inside, in their order; the number kept. While the height order is
// pending, the cells of state 0 stay in place, to be dropped when the order is applied, and the states
// are those the refinement took (the cells get them when the order is applied).
int32_t classify(Run& run) {
    std::fill(gStats.cellCount, gStats.cellCount + 5, 0);
    const bool compact = run.order.empty();
    size_t kept = 0;
    if (!compact) {
        for (const Scratch::Accepted& a : gScratch.accepted) {
            ++gStats.cellCount[a.state];
            kept += a.state != 0 ? 1 : 0;
        }
        run.live = kept;
        return static_cast<int32_t>(kept);
    }
    for (Cell& c : run.cells) {
        c.state = stateOf(run, c);
        ++gStats.cellCount[c.state];
        if (c.state == 0) continue;
        run.cells[kept] = c;
        ++kept;
    }
    run.cells.resize(kept);
    run.live = kept;
    return static_cast<int32_t>(kept);
}

// The pending height order applied and the cells of state 0 dropped: the list a sort of the refined
// cells and a classification would have left.
void settleOrder(Run& run) {
    if (run.order.empty()) return;
    for (size_t i = 0; i < run.cells.size(); ++i) run.cells[i].state = gScratch.accepted[i].state;
    applyOrder(run.cells, run.order);
    run.order.clear();
    const auto end =
        std::remove_if(run.cells.begin(), run.cells.end(), [](const Cell& c) { return c.state == 0; });
    run.cells.erase(end, run.cells.end());
}

// Cells of the parameter rectangle [u0, u1] x [v0, v1] in nu x nv even columns and rows, appended.
bool gridCells(const Run& run, double u0, double u1, double v0, double v1, int nu, int nv,
               std::vector<Cell>& out) {
    for (int i = 0; i < nu; ++i)
        for (int j = 0; j < nv; ++j) {
            const double ua = u0 + (u1 - u0) * i / nu, ub = u0 + (u1 - u0) * (i + 1) / nu;
            const double va = v0 + (v1 - v0) * j / nv, vb = v0 + (v1 - v0) * (j + 1) / nv;
            Cell c{};
            c.u0 = ua, c.u1 = ub, c.v0 = va, c.v1 = vb;
            if (!evalCorners(run, &c)) return false;
            out.push_back(c);
        }
    return true;
}

// Sub-cells are classified afresh: four corners inside do not make a cell free of holes.
bool splitUniform(Run& run, int k) {
    if (run.cells.size() * k * k > static_cast<size_t>(kFacetMaxCells)) return gStats.capped = 1, true;
    std::vector<Cell> out;
    out.reserve(run.cells.size() * k * k);
    for (const Cell& c : run.cells)
        if (!gridCells(run, c.u0, c.u1, c.v0, c.v1, k, k, out)) return false;
    run.cells.swap(out);
    return true;
}

bool isFlatPatch(const BsplSurface& s) {
    if (s.uOrder != 2 || s.vOrder != 2 || s.uNum != 2 || s.vNum != 2 || s.rational || s.rational2)
        return false;
    const Vec3 &p00 = s.rows[0][0], &p01 = s.rows[0][1], &p10 = s.rows[1][0], &p11 = s.rows[1][1];
    const Vec3 a = sub(p01, p00), b = sub(p10, p00), c = sub(p11, p00);
    Vec3 n{};
    cross3D(&a, &b, &n);
    return std::fabs(vecDot3D(&n, &c)) < 1e-6;
}

// 1 good, 0 deviating from its plane by more than tol, 2 badly shaped; plane out for the centre test.
int triangleTest(const Run& run, const Vec3& a, const Vec3& b, const Vec3& c, const Vec2& ua, const Vec2& ub,
                 const Vec2& uc, Vec3* n) {
    const Vec3 ab = sub(b, a), ac = sub(c, a);
    cross3D(&ab, &ac, n);
    const double nn = vecDot3D(n, n);
    const Vec2 centroid{(ua.x + ub.x + uc.x) / 3.0, (ua.y + ub.y + uc.y) / 3.0};
    Vec3 p{};
    if (nn <= 1e-9 || !evalPoint(run, centroid, &p)) return 1;
    const Vec3 ap = sub(p, a);
    if (std::fabs(vecDot3D(&ap, n)) / std::sqrt(nn) > run.tol) return 0;
    const double la = dist3D(&b, &c), lb = dist3D(&a, &c), lc = dist3D(&a, &b);
    return (la + lb - lc) * (lb + lc - la) * (lc + la - lb) * 2.0 >= la * lb * lc ? 1 : 2;
}

bool centreTest(const Run& run, const Cell& c) {
    Vec3 n1{}, n2{};
    const Vec2 uv[4] = {c.uv(0), c.uv(1), c.uv(2), c.uv(3)};
    const int t1 = triangleTest(run, c.p[0], c.p[1], c.p[2], uv[0], uv[1], uv[2], &n1);
    if (t1 == 0) return false;
    const int t2 = triangleTest(run, c.p[0], c.p[2], c.p[3], uv[0], uv[2], uv[3], &n2);
    if (t2 == 0) return false;
    if (t1 == 1 && t2 == 1) return true;
    // Measured against the plane of the second triangle, the one built last.
    const double nn = vecDot3D(&n2, &n2);
    Vec3 p{};
    if (nn <= 1e-9 || !evalPoint(run, mid(uv[0], uv[2]), &p)) return true;
    const Vec3 ap = sub(p, c.p[0]);
    return std::fabs(vecDot3D(&ap, &n2)) / std::sqrt(nn) < run.tol;
}

// 1 straight enough, 0 not, -1 turning back; e = L2 / L1 (0 unless both halves are long enough).
int sideCheck(const Vec3& a, const Vec3& m, const Vec3& b, double tol, double* e) {
    *e = 0.0;
    const Vec3 d1 = sub(m, a), d2 = sub(b, m);
    const double l1 = vecLen3D(&d1), l2 = vecLen3D(&d2);
    if (l1 < 1e-9 || l2 < 1e-9) return 1;
    if (vecDot3D(&d1, &d2) < -1e-7) return -1;
    *e = l2 / l1;
    return l2 > tol * l1 ? 0 : 1;
}

// The side lengths and parameter sums a verdict that halves has taken, for the choice of the halving.
struct CellSides {
    double s[4];      // side i from corner i to corner i + 1
    double p02, p13;  // parameter lengths of sides 0 and 2, 1 and 3
};

// 1 accept, 2 halve sides 0 and 2, 3 halve sides 1 and 3, 0 halve the longer pair; -1 evaluation failed.
// Every verdict that halves has measured the four side midpoints: they are left in mids. The sides of
// known (bit i for side i) come in mids already measured; measured is set when all four are in mids.
inline int cellTest(const Run& run, const Cell& c, Vec3 mids[4], unsigned known, bool* measured,
                    CellSides* sides) {
    *measured = false;
    const double tol = run.tol;
    double* s = sides->s;
    double e[4];
    int checks[4];
    for (int i = 0; i < 4; ++i) s[i] = dist3D(&c.p[i], &c.p[(i + 1) % 4]);
    const Vec2 uv[4] = {c.uv(0), c.uv(1), c.uv(2), c.uv(3)};
    if (s[0] < tol && s[1] < tol && s[2] < tol && s[3] < tol) return 1;
    for (int i = 0; i < 4; ++i) {
        if (!(known >> i & 1u) && !evalPoint(run, mid(uv[i], uv[(i + 1) % 4]), &mids[i])) return -1;
        checks[i] = sideCheck(c.p[i], mids[i], c.p[(i + 1) % 4], tol, &e[i]);
    }
    *measured = true;
    const double p02 = sides->p02 = dist2D(&uv[0], &uv[1]) + dist2D(&uv[2], &uv[3]);
    const double p13 = sides->p13 = dist2D(&uv[1], &uv[2]) + dist2D(&uv[3], &uv[0]);
    if (s[0] + s[2] < tol && p02 > 100) return 2;
    if (s[1] + s[3] < tol && p13 > 100) return 3;
    if (checks[0] == 1 && checks[1] == 1 && checks[2] == 1 && checks[3] == 1)
        return centreTest(run, c) ? 1 : 0;
    if (e[0] + e[1] + e[2] + e[3] < tol) {
        const double t2 = tol * tol;
        if ((s[0] + s[1]) * s[2] < t2 || (s[1] + s[2]) * s[3] < t2 || (s[2] + s[3]) * s[0] < t2 ||
            (s[3] + s[0]) * s[1] < t2)
            return 1;
        return s[1] + s[3] < s[0] + s[2] ? 2 : 3;
    }
    return e[1] + e[3] < e[0] + e[2] ? 2 : 3;
}

// Whether cellTest surely evaluates all four side midpoints.
// Per knot span of one direction, whether bsplBasis cannot fail there for any parameter the
// evaluation takes (pulled into the knot range, so no larger than its ends).
std::vector<char> sureSpans(const double* knots, int32_t num, int32_t order) {
    std::vector<char> sure(static_cast<size_t>(std::max(num, 0)), 0);
    const double t = std::max(std::fabs(knots[0]), std::fabs(knots[num])) + 1e-8;
    for (int32_t span = 0; span < num; ++span)
        sure[static_cast<size_t>(span)] = bsplBasisSure(knots, num, order, span, t) == 1;
    return sure;
}

// Whether cellTest surely evaluates all four side midpoints: they lie within the cell's parameter box,
// whose corners' spans bound theirs.
bool midpointsSure(Run& run, const Cell& c) {
    const TrimSurface* rec = run.surface;
    if (rec->hasOffset) return false;
    if (run.sureU.empty()) {
        const BsplSurface& s = rec->surface;
        run.sureU = sureSpans(s.uKnots, s.uNum, s.uOrder);
        run.sureV = sureSpans(s.vKnots, s.vNum, s.vOrder);
        // The spans a point can fall in: order - 1 .. num - 1.
        const auto allOf = [](const std::vector<char>& sure, int32_t order) {
            return order >= 1 && static_cast<size_t>(order) <= sure.size() &&
                   std::all_of(sure.begin() + (order - 1), sure.end(), [](char x) { return x != 0; });
        };
        int32_t su = 0, sv = 0;
        run.allSure = nurbsSurfPointSpans(rec, 0.0, 0.0, &su, &sv) == 1 && allOf(run.sureU, s.uOrder) &&
                      allOf(run.sureV, s.vOrder);
    }
    // The smallest and largest of the corners' values, taken in the corners' order, are these (NaN
    // included: a NaN first value stays, a later one is passed over).
    const double u0 = std::min(c.u0, c.u1), u1 = std::max(c.u0, c.u1);
    const double v0 = std::min(c.v0, c.v1), v1 = std::max(c.v0, c.v1);
    // With every span sure the spans need not be found: the box's corners need only be numbers the
    // spans can be found for.
    if (run.allSure) return std::isfinite(u0) && std::isfinite(v0) && std::isfinite(u1) && std::isfinite(v1);
    int32_t su0 = 0, sv0 = 0, su1 = 0, sv1 = 0;
    if (!nurbsSurfPointSpans(rec, u0, v0, &su0, &sv0) || !nurbsSurfPointSpans(rec, u1, v1, &su1, &sv1))
        return false;
    for (int32_t k = su0; k <= su1; ++k)
        if (k < 0 || k >= static_cast<int32_t>(run.sureU.size()) || !run.sureU[static_cast<size_t>(k)])
            return false;
    for (int32_t k = sv0; k <= sv1; ++k)
        if (k < 0 || k >= static_cast<int32_t>(run.sureV.size()) || !run.sureV[static_cast<size_t>(k)])
            return false;
    return true;
}

// The two halves of a cell: across sides 0 and 2 (a u split) or across sides 1 and 3. The new corners
// are the side midpoints cellTest measured (mids), the others the cell's own; a and b come as copies of c.
// False when the midpoints leave the other direction's values (beyond 2^1023, where the midpoints were
// measured at an infinite parameter): no box holds such halves.
bool halve(const Cell& c, const Vec3 mids[4], bool acrossU, Cell* a, Cell* b) {
    a->state = b->state = 0;
    if (acrossU) {
        if (!(0.5 * (c.v0 + c.v0) == c.v0 && 0.5 * (c.v1 + c.v1) == c.v1)) return false;
        a->u1 = b->u0 = 0.5 * (c.u0 + c.u1);
        a->p[1] = b->p[0] = mids[0];
        a->p[2] = b->p[3] = mids[2];
    } else {
        if (!(0.5 * (c.u0 + c.u0) == c.u0 && 0.5 * (c.u1 + c.u1) == c.u1)) return false;
        a->v1 = b->v0 = 0.5 * (c.v0 + c.v1);
        a->p[2] = b->p[1] = mids[1];
        a->p[3] = b->p[0] = mids[3];
    }
    return true;
}

// The halves' corners inside the loops: the parent's (tested now if not yet known) and the two new ones.
void shareCorners(const LoopSet& trim, const Cell& c, bool acrossU, Cell* a, Cell* b) {
    unsigned in = c.cornersIn;
    if (c.cornersKnown == 0) {
        in = 0;
        for (int i = 0; i < 4; ++i) in |= (insideTrim(trim, c.uv(i)) ? 1u : 0u) << i;
    }
    if (acrossU) {
        // a: corners 0, 3 the parent's, 1 and 2 new; b: 1, 2 the parent's, 0 (= a's 1) and 3 (= a's 2) new.
        const unsigned m1 = insideTrim(trim, a->uv(1)) ? 1u : 0u, m2 = insideTrim(trim, a->uv(2)) ? 1u : 0u;
        a->cornersIn = static_cast<uint8_t>((in & 9u) | m1 << 1 | m2 << 2);
        b->cornersIn = static_cast<uint8_t>((in & 6u) | m1 | m2 << 3);
    } else {
        // a: corners 0, 1 the parent's, 2 and 3 new; b: 2, 3 the parent's, 1 (= a's 2) and 0 (= a's 3) new.
        const unsigned m2 = insideTrim(trim, a->uv(2)) ? 1u : 0u, m3 = insideTrim(trim, a->uv(3)) ? 1u : 0u;
        a->cornersIn = static_cast<uint8_t>((in & 3u) | m2 << 2 | m3 << 3);
        b->cornersIn = static_cast<uint8_t>((in & 12u) | m2 << 1 | m3);
    }
    a->cornersKnown = b->cornersKnown = 1;
}

// Each cell is judged by cellTest and halved until accepted. The cells are refined round by round (every
// cell of a round is judged before any of its children), so that a cover stopped at the cell bound is
// refined evenly; without the bound the accepted cells are the same as in any other order.
int refineCurvature(Run& run, double minParam) {
    int role[3] = {0, 1, 2};  // pending, next, result: most touched first
    std::stable_sort(role, role + 3, [](int a, int b) { return gScratch.touched[a] > gScratch.touched[b]; });
    std::vector<Cell>*pendingList = &gScratch.lists[role[0]], *nextList = &gScratch.lists[role[1]],
    *resultList = &gScratch.lists[role[2]];
    auto note = [](const std::vector<Cell>* list) {
        size_t& t = gScratch.touched[list - gScratch.lists];
        t = std::max(t, list->size());
    };
    std::vector<KnownPair>&pendingKnown = gScratch.pendingKnown, &nextKnown = gScratch.nextKnown;
    for (std::vector<Cell>& list : gScratch.lists) list.clear();
    try {
        // Splits stop once the cells held reach the bound, so no list outgrows the bound plus the
        // cells given: their room is taken once.
        const size_t room = run.cells.size() + static_cast<size_t>(kFacetMaxRefined) + 2;
        for (std::vector<Cell>& list : gScratch.lists) list.reserve(room);
        nextKnown.reserve(room / 2 + 1);
        pendingKnown.reserve(room / 2 + 1);
        gScratch.accepted.clear();
        gScratch.accepted.reserve(room);
        // An accepted cell is final: what the area sum needs of it is taken while it is at hand.
        const auto accept = [&run](const Cell& c) {
            gScratch.accepted.push_back({highestZ(c), cellArea(c), stateOf(run, c)});
        };
        *pendingList = run.cells;
        pendingKnown.clear();  // the cells given are no halves
        while (!pendingList->empty()) {
            std::vector<Cell>&pending = *pendingList, &next = *nextList, &result = *resultList;
            next.clear();
            nextKnown.clear();
            // A round's accepted cells (kept so far) stay in its list, moved up to its front in their
            // order, and join the result after the round: most of them come in the last rounds, where
            // copying them into a list of their own wrote as much memory again.
            size_t kept = 0;
            for (size_t i = 0; i < pending.size(); ++i) {
                const Cell& c = pending[i];
                const size_t accepted = result.size() + kept;
                // Once the bound has stopped a split, every later cell stays whatever its test says,
                // and the test matters only where a side midpoint might fail to evaluate.
                if (gStats.capped &&
                    accepted + next.size() + (pending.size() - i - 1) + 2 >
                        static_cast<size_t>(kFacetMaxRefined) &&
                    midpointsSure(run, c)) {
                    accept(c);
                    if (kept != i) pending[kept] = c;
                    ++kept;
                    continue;
                }
                const Vec2 uv[3] = {c.uv(0), c.uv(1), c.uv(2)};
                const double p02 = dist2D(&uv[0], &uv[1]), p13 = dist2D(&uv[1], &uv[2]);
                // Where the parameters cannot be halved any more the cell stays (a surface that never meets
                // the tests would otherwise split forever).
                Vec3 mids[4] = {};
                unsigned mask = 0;
                if (c.keptSide != 0) {
                    mids[c.keptSide - 1] = pendingKnown[i / 2].kept[i & 1];
                    mask |= 1u << (c.keptSide - 1);
                }
                if (c.sharedSide != 0) {
                    mids[c.sharedSide - 1] = pendingKnown[i / 2].shared;
                    mask |= 1u << (c.sharedSide - 1);
                }
                bool measured = false;
                CellSides sides;
                int verdict =
                    p02 > minParam || p13 > minParam ? cellTest(run, c, mids, mask, &measured, &sides) : 1;
                if (verdict < 0) return -1;
                if (measured && c.pairSide != 0) {
                    pendingKnown[i / 2].shared = mids[c.pairSide - 1];
                    pending[i + 1].sharedSide = static_cast<uint8_t>(((c.pairSide - 1) ^ 2) + 1);
                }
                // At the bound the cells left stay as they are.
                const size_t left = pending.size() - i - 1;
                if (verdict != 1 &&
                    accepted + next.size() + left + 2 > static_cast<size_t>(kFacetMaxRefined)) {
                    gStats.capped = 1;
                    verdict = 1;
                }
                if (verdict == 1) {
                    accept(c);
                    if (kept != i) pending[kept] = c;
                    ++kept;
                    continue;
                }
                // A verdict that halves comes from cellTest, which measured the sides and sums.
                bool acrossU = verdict == 2 || (verdict == 0 && sides.p02 > sides.p13);
                // Halving a pair whose sides are already short while the other pair is long never reaches
                // the all-sides-short acceptance: on an evenly curved or flat cell the side ratios tie and
                // would pick the same pair forever.
                const bool short02 = sides.s[0] < run.tol && sides.s[2] < run.tol;
                const bool short13 = sides.s[1] < run.tol && sides.s[3] < run.tol;
                if (acrossU && short02 && !short13) acrossU = false;
                if (!acrossU && short13 && !short02) acrossU = true;
                // The halves are made in the next round's list (its room is taken: no move).
                next.push_back(c);
                next.push_back(c);
                Cell *h1 = &next[next.size() - 2], *h2 = &next[next.size() - 1];
                if (!halve(c, mids, acrossU, h1, h2)) return -1;
                if (!run.trim.loops.empty()) shareCorners(run.trim, c, acrossU, h1, h2);
                // Each half keeps one side of the parent whole; the halves share side 1 | 3 or 2 | 0.
                const int kept1 = acrossU ? 3 : 0, kept2 = acrossU ? 1 : 2;
                h1->keptSide = static_cast<uint8_t>(kept1 + 1),
                h2->keptSide = static_cast<uint8_t>(kept2 + 1);
                h1->pairSide = static_cast<uint8_t>((acrossU ? 1 : 2) + 1), h2->pairSide = 0;
                h1->sharedSide = h2->sharedSide = 0;
                nextKnown.push_back({{mids[kept1], mids[kept2]}, {}});
            }
            // The round's accepted cells after the earlier ones; the longer part stays where it is.
            note(pendingList), note(nextList);
            pending.resize(kept);
            if (result.size() < kept) {
                pending.insert(pending.begin(), result.begin(), result.end());
                std::swap(resultList, pendingList);
            } else {
                result.insert(result.end(), pending.begin(), pending.end());
            }
            note(resultList);
            pendingList->clear();
            std::swap(pendingList, nextList);
            pendingKnown.swap(nextKnown);
        }
    } catch (const std::bad_alloc&) {
        msgDouble(9, 334, "* Error: no memory", 0.0);
        msgLong(9, 335, "* missing %d kbytes",
                static_cast<int32_t>((resultList->size() + 2 * pendingList->size()) * sizeof(Cell) / 1024));
        return -1;
    }
    const std::vector<Scratch::Accepted>& accepted = gScratch.accepted;
    run.order = heightOrder(accepted.size(), [&accepted](size_t i) { return accepted[i].topZ; });
    run.cells.swap(*resultList);
    gScratch.resultList = static_cast<int>(resultList - gScratch.lists);
    return 1;
}

// 1, 0 when no cell is left, -1 on failure.
int refineDriver(Run& run, double* outArea, double* outRelError, double minParam) {
    if (classify(run) == 0) return 0;
    if (run.cells.size() < 50) {
        if (!splitUniform(run, 3)) return -1;
        if (classify(run) == 0) return 0;
    }
    const bool trimmed = !run.trim.loops.empty();
    if (trimmed && isFlatPatch(run.surface->surface)) {
        if (!splitUniform(run, 5)) return -1;
    } else if (refineCurvature(run, minParam) < 0) {
        return -1;
    }
    if (classify(run) == 0) return 0;
    const double tol = run.tol;
    gStats.passLimit = tol > 0.5 ? 2 : tol > 0.05 ? 4 : tol > 0.005 ? 6 : 8;
    for (int pass = 0; pass < gStats.passLimit; ++pass) {
        const int32_t boundary = gStats.cellCount[1] + gStats.cellCount[2] + gStats.cellCount[3];
        if (boundary < gStats.cellCount[4] / gStats.passLimit) break;
        if (run.live * 4 > static_cast<size_t>(kFacetMaxCells)) {
            gStats.capped = 1;
            break;
        }
        settleOrder(run);
        if (!splitUniform(run, 2)) return -1;
        ++gStats.passesRun;
        if (classify(run) == 0) return 0;
    }
    static constexpr double kShare[5] = {0.0, 0.25, 0.5, 0.75, 1.0};
    double A = 0.0, T = 0.0, I = 0.0;
    auto add = [&](double a, uint16_t state) {
        A += a * kShare[state];
        T += a;
        if (state == 4) I += a;
    };
    if (run.order.empty()) {
        for (const Cell& c : run.cells) add(cellArea(c), c.state);
    } else {
        // The areas taken as the cells were accepted, summed in height order as the sorted list would be.
        const std::vector<Scratch::Accepted>& accepted = gScratch.accepted;
        for (const size_t i : run.order)
            if (accepted[i].state != 0) add(accepted[i].area, accepted[i].state);
    }
    // A counts both triangles' cross-product lengths: twice the geometric area, the scale callers use.
    *outArea = A;
    *outRelError = A > 0.0 ? std::max(T - A, A - I) / A : 0.0;
    gStats.cells = static_cast<int32_t>(run.live);
    return 1;
}

}  // namespace

int facetSurface(const TrimSurface* surface, double tol, double* outArea, double* outRelError) {
    gStats = FacetStats{};
    if (surface == nullptr || outArea == nullptr || outRelError == nullptr) return -1;
    *outArea = *outRelError = 0.0;
    if (!(tol > 0.0) || !std::isfinite(tol)) return -1;
    const BsplSurface& s = surface->surface;
    if (s.uKnots == nullptr || s.vKnots == nullptr || s.uNum < 2 || s.vNum < 2) return -1;
    const int level = static_cast<int>(-10.0 * std::log10(tol));
    const int n = std::max(level, 2);
    // The trimmed box; an untrimmed surface (or one whose loops hold no point) covers its knot range.
    const double ku0 = s.uKnots[0], ku1 = s.uKnots[s.uNum + s.uOrder - 1];
    const double kv0 = s.vKnots[0], kv1 = s.vKnots[s.vNum + s.vOrder - 1];
    double u0 = surface->umin, u1 = surface->umax, v0 = surface->vmin, v1 = surface->vmax;
    if (surface->loopCount == 0 || !(u0 <= u1 && v0 <= v1)) {
        u0 = s.uKnots[s.uOrder - 1], u1 = s.uKnots[s.uNum], v0 = s.vKnots[s.vOrder - 1],
        v1 = s.vKnots[s.vNum];
    }
    if (!(ku1 > ku0) || !(kv1 > kv0)) return -1;
    const double wu = (ku1 - ku0) / n, wv = (kv1 - kv0) / n;
    const double cu = (u1 - u0) / wu + 2, cv = (v1 - v0) / wv + 2;
    if (!(cu * cv <= static_cast<double>(kFacetMaxCells))) return -1;
    Run run{surface, tol, {}, {}, {}, {}, false, {}, 0, false};
    try {
        // Orders beyond the evaluator's range fail every point; the plain path answers them.
        if (!surface->hasOffset && s.uOrder >= 1 && s.uOrder <= kBsplMaxOrder && s.vOrder >= 1 &&
            s.vOrder <= kBsplMaxOrder) {
            gScratch.rowsU.reset(s.uOrder);
            gScratch.rowsV.reset(s.vOrder);
            run.rowsCached = true;
        }
        if (!buildLoops(surface, &run.trim)) return -1;
        if (!gridCells(run, u0, u1, v0, v1, static_cast<int>(cu), static_cast<int>(cv), run.cells)) return -1;
        sortByHeight(run.cells);
        gStats.initialCells = static_cast<int32_t>(run.cells.size());
        if (run.cells.empty()) {
            msgPrintf(1, "* %10d facets in S1 generated", 0);
            return 0;
        }
        // Halving stops where a cell's parameters are no longer distinguishable.
        const double minParam = 1e-12 * std::max(ku1 - ku0, kv1 - kv0);
        const int rc = refineDriver(run, outArea, outRelError, minParam);
        // The refined cells' list goes back to the scratch for the next measure.
        std::vector<Cell>& back = gScratch.lists[gScratch.resultList];
        if (run.cells.capacity() > back.capacity()) back.swap(run.cells);
        gScratch.touched[gScratch.resultList] = back.size();
        return rc;
    } catch (const std::bad_alloc&) {
        return -1;
    }
}

const FacetStats* facetLastStats() {
    return &gStats;
}

void facetReleaseScratch() {
    gScratch = Scratch{};
}

int curvatureFromDerivs(double E, double F, double G, double L, double M, double N, double* k1, double* k2) {
    if (k1 == nullptr || k2 == nullptr) return -1;
    const double det = E * G - F * F;
    if (det <= 1e-9) return 0;
    const double K = (L * N - M * M) / det;
    const double H = (L * G + N * E - 2.0 * M * F) / (2.0 * det);
    if (std::fabs(H * H - K) < 1e-10) {
        *k1 = *k2 = H;
        return 1;
    }
    double r1 = 0.0, r2 = 0.0;
    if (wogSolveQuadratic(1.0, -2.0 * H, K, &r1, &r2) < 2) {
        *k1 = *k2 = H;  // H^2 < K only by rounding: the roots coincide
        return 1;
    }
    *k1 = r1, *k2 = r2;
    return 1;
}
