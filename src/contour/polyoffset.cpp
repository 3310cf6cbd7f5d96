#include "contour/polyoffset.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

namespace {

bool near5(double ax, double ay, double bx, double by) {
    return std::fabs(ax - bx) < 1e-5 && std::fabs(ay - by) < 1e-5;
}
bool near5(const Vec2& a, const Vec2& b) {
    return near5(a.x, a.y, b.x, b.y);
}

bool closedLoop(const Vec2* p, int32_t n) {
    return n >= 2 && near5(p[0], p[n - 1]);
}

// Signed area of the loop; a repeated last point is skipped.
double loopArea(const Vec2* p, int32_t n) {
    int32_t m = closedLoop(p, n) ? n - 1 : n;
    double s = 0;
    for (int32_t k = 0; k < m; k++) {
        const Vec2& a = p[k];
        const Vec2& b = p[(k + 1) % m];
        s += a.x * b.y - b.x * a.y;
    }
    return 0.5 * s;
}

int orientation(const Vec2* p, int32_t n) {
    double a = loopArea(p, n);
    return a > 0.1 ? 1 : a < -0.1 ? -1 : 0;
}

// A point closer than 0.01 to its predecessor replaces it.
int32_t dropNearDuplicates(Vec2* p, int32_t n) {
    int32_t w = 0;
    for (int32_t k = 0; k < n; k++) {
        if (w > 0 && std::hypot(p[k].x - p[w - 1].x, p[k].y - p[w - 1].y) < 0.01)
            p[w - 1] = p[k];
        else
            p[w++] = p[k];
    }
    return w;
}

Vec2 leftNormal(const Vec2& u) {
    return Vec2{-u.y, u.x};
}

bool unitDir(const Vec2& a, const Vec2& b, Vec2* u) {
    double dx = b.x - a.x, dy = b.y - a.y, l = std::hypot(dx, dy);
    if (l < 1e-5) return false;
    *u = Vec2{dx / l, dy / l};
    return true;
}

int32_t successor(const PieceGraph* g, int32_t r) {
    if (r + 1 < g->count) return r + 1;
    return g->closed && g->count >= 2 ? 1 : -1;
}

// Half of a crossing on edge e (points e-1 to e): false when the pair gives no record.
bool makeHalf(const Vec2* p, int32_t n, int32_t e, const Vec2& x, CrossingHalf* h) {
    int32_t idx = e;
    if (near5(x, p[e])) {
        if (e == n - 1) return false;
        idx = e + 1;
    }
    Vec2 u;
    if (!unitDir(x, p[idx], &u)) return false;
    h->index = idx;
    h->dir = u;
    h->dist = std::hypot(x.x - p[e - 1].x, x.y - p[e - 1].y);
    return true;
}

bool crossingBefore(const CrossingRecord& a, const CrossingRecord& b) {
    if (a.first.index != b.first.index) return a.first.index < b.first.index;
    return a.first.dist < b.first.dist - 1e-5;
}

}  // namespace

void reversePoints2D(Vec2* points, int32_t n) {
    if (!points) return;
    for (int32_t a = 0, b = n - 1; a < b; a++, b--) {
        Vec2 t = points[a];
        points[a] = points[b];
        points[b] = t;
    }
}

CrossingList* crossingListCreate(int32_t n) {
    CrossingList* list = static_cast<CrossingList*>(std::calloc(1, sizeof(CrossingList)));
    if (!list) return nullptr;
    list->capacity = n < 1 ? 1 : n;
    list->data = static_cast<CrossingRecord*>(
        std::calloc(static_cast<size_t>(list->capacity), sizeof(CrossingRecord)));
    if (!list->data) {
        std::free(list);
        return nullptr;
    }
    return list;
}

void crossingListFree(CrossingList* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

int poly_offset_raw(const Vec2* points, int32_t n, Vec2* out, int32_t outCapacity, double d) {
    if (!points || !out || n < 2) return 0;
    std::vector<Vec2> p;
    try {
        p.assign(points, points + n);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    const int32_t m = dropNearDuplicates(p.data(), n);
    if (m < 2) return 0;
    const bool closed = closedLoop(p.data(), m);
    int32_t c = 0;
    auto put = [&](double x, double y) {
        if (c >= outCapacity) return false;
        out[c++] = Vec2{x, y};
        return true;
    };
    for (int32_t k = 0; k < m; k++) {
        const int32_t pred = k > 0 ? k - 1 : (closed ? m - 2 : -1);
        const int32_t succ = k < m - 1 ? k + 1 : (closed ? 1 : -1);
        const Vec2& v = p[k];
        Vec2 u1, u2;
        if (pred < 0 || succ < 0) {
            bool ok = pred < 0 ? unitDir(v, p[succ], &u1) : unitDir(p[pred], v, &u1);
            if (!ok) return -2;
            Vec2 nn = leftNormal(u1);
            if (!put(v.x + d * nn.x, v.y + d * nn.y)) return -1;
            continue;
        }
        if (!unitDir(p[pred], v, &u1) || !unitDir(v, p[succ], &u2)) return -2;
        const double cr = u1.x * u2.y - u1.y * u2.x;
        const double dot = u1.x * u2.x + u1.y * u2.y;
        if (std::fabs(cr) < 0.01) {
            if (dot <= 0) continue;  // reversal: no point
            Vec2 nn = leftNormal(u1);
            if (!put(v.x + d * nn.x, v.y + d * nn.y)) return -1;
            continue;
        }
        Vec2 avg{(u1.x + u2.x) / 2, (u1.y + u2.y) / 2};
        const double al = std::hypot(avg.x, avg.y);
        if (al <= 1e-5) return -2;
        const Vec2 w = leftNormal(Vec2{avg.x / al, avg.y / al});
        if (cr < 0) {
            if (!put(v.x + d * w.x, v.y + d * w.y)) return -1;
            continue;
        }
        const double s = w.x * u2.x + w.y * u2.y;
        const double t = w.x * u2.y - w.y * u2.x;
        if (std::fabs(s) < 1e-5 || std::fabs(t) < 1e-5) return -2;
        const double l = std::fmin(std::hypot(v.x - p[pred].x, v.y - p[pred].y),
                                   std::hypot(p[succ].x - v.x, p[succ].y - v.y));
        if (std::fabs(l * t / s) >= d - 1e-5) {
            const double f = d / std::fabs(t);
            if (!put(v.x + w.x * f, v.y + w.y * f)) return -1;
        } else {
            Vec2 n1 = leftNormal(u1), n2 = leftNormal(u2);
            if (!put(v.x + d * n1.x, v.y + d * n1.y) || !put(v.x + d * n2.x, v.y + d * n2.y)) return -1;
        }
    }
    return dropNearDuplicates(out, c);
}

int polyFindCrossings(CrossingList* list, const Vec2* p, int32_t n) {
    if (!list || !p) return -1;
    list->count = 0;
    for (int32_t i = 1; i < n; i++) {
        const Seg2D ei{p[i - 1].x, p[i - 1].y, p[i].x, p[i].y};
        for (int32_t j = i + 2; j < n; j++) {
            const Seg2D ej{p[j - 1].x, p[j - 1].y, p[j].x, p[j].y};
            Vec2 x;
            if (segSegIsect2D(&ei, &ej, &x) != 1) continue;
            CrossingRecord rec;
            rec.x = x.x;
            rec.y = x.y;
            if (!makeHalf(p, n, i, x, &rec.first) || !makeHalf(p, n, j, x, &rec.second)) continue;
            if (list->count >= list->capacity) return -1;
            list->data[list->count++] = rec;
        }
    }
    // Insertion sort: the tolerant distance order is not a strict weak ordering.
    for (int32_t a = 1; a < list->count; a++) {
        CrossingRecord rec = list->data[a];
        int32_t b = a;
        while (b > 0 && crossingBefore(rec, list->data[b - 1])) {
            list->data[b] = list->data[b - 1];
            b--;
        }
        list->data[b] = rec;
    }
    return list->count;
}

PieceGraph* pieceGraphCreate(const Vec2* p, int32_t n) {
    if (!p || n < 1 || n > INT32_MAX / 3) return nullptr;
    PieceGraph* g = static_cast<PieceGraph*>(std::calloc(1, sizeof(PieceGraph)));
    if (!g) return nullptr;
    g->capacity = 3 * n;
    g->data = static_cast<PieceRecord*>(std::calloc(static_cast<size_t>(g->capacity), sizeof(PieceRecord)));
    if (!g->data) {
        std::free(g);
        return nullptr;
    }
    g->count = n;
    g->closed = closedLoop(p, n) ? 1 : 0;
    for (int32_t k = 0; k < n; k++) {
        PieceRecord& r = g->data[k];
        r.x = p[k].x;
        r.y = p[k].y;
        r.next = -1;
        r.used = 0;
        Vec2 u{0, 0};
        if (k + 1 < n && !unitDir(p[k], p[k + 1], &u)) {
            pieceGraphFree(g);
            return nullptr;
        }
        r.dx = u.x;
        r.dy = u.y;
    }
    if (g->closed && n >= 2) {
        g->data[n - 1].dx = g->data[0].dx;
        g->data[n - 1].dy = g->data[0].dy;
    }
    return g;
}

void pieceGraphFree(PieceGraph* graph) {
    if (!graph) return;
    std::free(graph->data);
    std::free(graph);
}

int pieceGraphInsert(PieceGraph* g, CrossingList* list, int32_t k, int half) {
    if (!g || !list || k < 0 || k >= list->count) return -1;
    const CrossingRecord& cr = list->data[k];
    const int32_t at = half == 0 ? cr.first.index : cr.second.index;
    if (at < 1 || at > g->count) return -1;
    const PieceRecord before = g->data[at - 1];
    if (near5(before.x, before.y, cr.x, cr.y)) return 0;
    if (g->count >= g->capacity) return -1;
    std::memmove(g->data + at + 1, g->data + at, sizeof(PieceRecord) * static_cast<size_t>(g->count - at));
    g->count++;
    for (int32_t r = 0; r < g->count; r++)
        if (r != at && g->data[r].next >= at) g->data[r].next++;
    PieceRecord& nr = g->data[at];
    nr = PieceRecord{cr.x, cr.y, before.dx, before.dy, -1, 0};
    const int32_t limit = g->closed ? g->count - 1 : g->count;
    for (int32_t r = 0; r < limit; r++) {
        if (r == at) continue;
        PieceRecord& o = g->data[r];
        if (!near5(o.x, o.y, nr.x, nr.y)) continue;
        if (o.next == -1) {
            o.next = at;
            nr.next = r;
        } else {
            nr.next = o.next;
            o.next = at;
        }
        break;
    }
    const Vec2 ins{nr.x, nr.y};
    for (int32_t c = 0; c < list->count; c++) {
        CrossingRecord& rec = list->data[c];
        for (CrossingHalf* h : {&rec.first, &rec.second}) {
            if (h->index > at) {
                h->index++;
            } else if (h->index == at) {
                const double proj = (rec.x - ins.x) * h->dir.x + (rec.y - ins.y) * h->dir.y;
                if (proj > 1e-5 || near5(rec.x, rec.y, ins.x, ins.y)) h->index++;
            }
        }
    }
    return 1;
}

namespace {

int resolve(Vec2* pts, int32_t n, int32_t capacity, LoopList* loops, int side, bool* noCrossings) {
    *noCrossings = false;
    if (!pts || n < 2) return 0;
    CrossingList* cl = crossingListCreate(n);
    if (!cl) return -1;
    const int k = polyFindCrossings(cl, pts, n);
    if (k <= 0) {
        crossingListFree(cl);
        if (k < 0) return -1;
        *noCrossings = true;
        return orientation(pts, n) == 1 ? n : 0;
    }
    PieceGraph* g = pieceGraphCreate(pts, n);
    if (!g) {
        crossingListFree(cl);
        return -1;
    }
    int rc = 0;
    for (int32_t c = 0; c < k && rc == 0; c++)
        for (int half = 0; half < 2 && rc == 0; half++)
            if (pieceGraphInsert(g, cl, c, half) < 0) rc = -1;
    crossingListFree(cl);
    if (rc < 0) {
        pieceGraphFree(g);
        return -1;
    }
    // A loop can run over every graph record once, plus the repeated first point.
    std::vector<int32_t> loop;
    std::vector<Vec2> lp;
    try {
        loop.reserve(static_cast<size_t>(g->count) + 1);
        lp.reserve(static_cast<size_t>(g->count) + 1);
    } catch (const std::bad_alloc&) {
        pieceGraphFree(g);
        return -1;
    }
    int32_t firstCount = 0;
    PieceRecord* r = g->data;
    for (;;) {
        int32_t start = 0;
        while (start < g->count && r[start].used) start++;
        if (start == g->count) break;
        loop.clear();
        loop.push_back(start);
        Vec2 in{0, 0};
        bool closed = false;
        while (loop.size() <= static_cast<size_t>(g->count)) {
            const int32_t cur = loop.back();
            int32_t go = -1;
            if (r[cur].next == -1) {
                go = successor(g, cur);
                if (go < 0 || r[go].used) break;
                in = Vec2{r[cur].dx, r[cur].dy};
            } else {
                int32_t best = -1;
                double bestScore = 0;
                int32_t c = cur;
                for (int32_t guard = 0; guard < g->count; guard++) {
                    const int32_t s = successor(g, c);
                    const bool zero = std::fabs(r[c].dx) < 1e-5 && std::fabs(r[c].dy) < 1e-5;
                    if (s >= 0 && !r[s].used && !zero) {
                        const double cross = in.x * r[c].dy - in.y * r[c].dx;
                        const double score = cross > 0 ? in.x * r[c].dx + in.y * r[c].dy : 2.0;
                        if (best < 0 || score < bestScore) {
                            best = c;
                            bestScore = score;
                        }
                    }
                    c = r[c].next;
                    if (c < 0 || c == cur) break;
                }
                if (best < 0) break;
                // The walk leaves along the winner's piece: it stands for this point.
                r[cur].used = 1;
                loop.back() = best;
                in = Vec2{r[best].dx, r[best].dy};
                go = successor(g, best);
            }
            size_t e = 0;
            while (e < loop.size() && !near5(r[loop[e]].x, r[loop[e]].y, r[go].x, r[go].y)) e++;
            if (e < loop.size()) {
                for (size_t q = 0; q < e; q++) r[loop[q]].used = 1;
                loop.erase(loop.begin(), loop.begin() + static_cast<std::ptrdiff_t>(e));
                closed = true;
                break;
            }
            loop.push_back(go);
        }
        for (int32_t q : loop) r[q].used = 1;
        // A walk that cannot come back to a point of its own is no loop.
        if (!closed || loop.size() < 2) continue;
        lp.clear();
        for (int32_t q : loop) lp.push_back(Vec2{r[q].x, r[q].y});
        lp.push_back(lp.front());
        const int32_t m = static_cast<int32_t>(lp.size());
        if (loopArea(lp.data(), m) <= 0.1) continue;
        if (firstCount == 0) {
            if (m > capacity) {
                rc = -1;
                break;
            }
            std::memcpy(pts, lp.data(), sizeof(Vec2) * static_cast<size_t>(m));
            firstCount = m;
        } else if (loops) {
            if (side < 0) reversePoints2D(lp.data(), m);
            if (looplist_add(loops, lp.data(), m) < 0) {
                rc = -1;
                break;
            }
        }
    }
    pieceGraphFree(g);
    return rc < 0 ? rc : firstCount;
}

// A raw offset without crossings that comes closer than d to the polygon has turned inside out
// (a square offset inwards by more than half its side keeps its orientation under the point
// reflection); it is no offset. The slack covers the 0.01 clean-up of near-duplicate points.
bool collapsed(const Vec2* poly, int32_t n, const Vec2* raw, int32_t m, double d) {
    for (int32_t q = 0; q < m; q++) {
        for (int32_t k = 1; k < n; k++) {
            const Seg2D e{poly[k - 1].x, poly[k - 1].y, poly[k].x, poly[k].y};
            if (distPointSeg2D(&raw[q], &e) < d - 0.011) return true;
        }
    }
    return false;
}

}  // namespace

int poly_offset_resolve(Vec2* pts, int32_t n, int32_t capacity, LoopList* loops, int side) {
    bool noCrossings = false;
    return resolve(pts, n, capacity, loops, side, &noCrossings);
}

int poly_offset2D(Vec2* points, int32_t n, Vec2* out, int32_t outCapacity, double d, int side,
                  LoopList* loops) {
    if (!points || !out || outCapacity < 1) return -1;
    if (n < 2) return 0;
    const int o = orientation(points, n);
    // Offsetting always goes to the left; a right offset works on the reversed polygon.
    struct Restore {
        Vec2* p;
        int32_t n;
        bool on;
        ~Restore() {
            if (on) reversePoints2D(p, n);
        }
    } restore{points, n, side < 0};
    if (side < 0) reversePoints2D(points, n);
    if (o == side) {
        double far = 0;
        for (int32_t k = 1; k < n; k++)
            far = std::fmax(far, std::hypot(points[k].x - points[0].x, points[k].y - points[0].y));
        if (2 * d > far) return -2;
    }
    const int raw = poly_offset_raw(points, n, out, outCapacity, d);
    if (raw <= 0) return raw;
    bool noCrossings = false;
    int r = resolve(out, raw, outCapacity, loops, side, &noCrossings);
    if (r > 0 && noCrossings && collapsed(points, n, out, r, d)) r = 0;
    if (side < 0 && r > 0) reversePoints2D(out, r);
    return r;
}
