#include "contour/offsetcontour.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"

namespace {

double gCornerFactor = 0.02;
int gRetry = 0;
IsectRecord gTable[kOffsetTableCapacity];

bool eqTol(double ax, double ay, double bx, double by) {
    return isEqualTol(ax, bx) && isEqualTol(ay, by);
}
bool near5(double ax, double ay, double bx, double by) {
    return std::fabs(ax - bx) < 1e-5 && std::fabs(ay - by) < 1e-5;
}
double len(const Seg2D& e) {
    return std::hypot(e.x2 - e.x1, e.y2 - e.y1);
}

void shift(Seg2D* e, double d, const Vec2& nrm) {
    e->x1 += d * nrm.x;
    e->y1 += d * nrm.y;
    e->x2 += d * nrm.x;
    e->y2 += d * nrm.y;
}

double paramOn(const Seg2D& e, double x, double y) {
    if (isEqualTol(e.x1, e.x2)) {
        double den = e.y2 - e.y1;
        return std::fabs(den) < 1e-12 ? 0.0 : (y - e.y1) / den;
    }
    return (x - e.x1) / (e.x2 - e.x1);
}

// True when the circle cuts an input element: in two points, or in one that is not an end.
bool circleCutsInput(double cx, double cy, double r, const Seg2D* in, int32_t n) {
    const double circle[7] = {cx, cy, 0, 0, 0, 0, r};
    for (int32_t k = 0; k < n; k++) {
        Vec2 p[2];
        int m = segCircleIsect2D(&in[k], circle, p);
        if (m == 2) return true;
        if (m == 1 && !eqTol(p[0].x, p[0].y, in[k].x1, in[k].y1) &&
            !eqTol(p[0].x, p[0].y, in[k].x2, in[k].y2))
            return true;
    }
    return false;
}

// Direction angle leaving the crossing along raw element el (1-based); along the next element
// when the crossing sits on el's end.
double leaveAngle(const Seg2D* raw, int32_t c, int32_t el, double x, double y) {
    int32_t k = std::clamp(el - 1, 0, c - 1);
    if (near5(x, y, raw[k].x2, raw[k].y2) && k + 1 < c) k++;
    return std::atan2(raw[k].y2 - raw[k].y1, raw[k].x2 - raw[k].x1);
}

struct Pass {
    const Seg2D* in;
    int32_t n;
    double d;
    int side;
    Seg2D* raw;  // the caller's out
    int32_t c;
};

// Mark 1: the crossing bounds the true offset and is left along element i; 0: left along j.
void classify(const Pass& ps, int32_t r, int32_t k) {
    IsectRecord& rec = gTable[r];
    const double R = 0.01 * ps.d >= 0.001 ? ps.d - 0.001 : 0.0;
    rec.mark = 1;
    if (circleCutsInput(rec.x, rec.y, R, ps.in, ps.n)) {
        rec.mark = 0;
        return;
    }
    const Seg2D& first = ps.raw[0];
    if (std::fabs(rec.x - first.x1) >= 1e-5 || std::fabs(rec.y - first.y1) >= 1e-5) {
        double delta =
            leaveAngle(ps.raw, ps.c, rec.i, rec.x, rec.y) - leaveAngle(ps.raw, ps.c, rec.j, rec.x, rec.y);
        if (ps.side == 1)
            rec.mark = (delta >= 0 && delta <= kPi) || delta < -kPi ? 1 : 0;
        else if (ps.side == -1)
            rec.mark = (delta >= -kPi && delta < 0) || delta > kPi ? 1 : 0;
        else
            rec.mark = 0;
        return;
    }
    // The start record: probe a point a little way along the raw offset instead.
    int32_t idx = std::clamp(rec.i - 1, 0, ps.c - 1);
    if (near5(ps.raw[idx].x2, ps.raw[idx].y2, rec.x, rec.y) && idx + 1 < ps.c) idx++;
    double px = ps.raw[idx].x2, py = ps.raw[idx].y2;
    if (r + 1 < k && gTable[r + 1].i == idx + 1) {
        px = gTable[r + 1].x;
        py = gTable[r + 1].y;
    }
    if (circleCutsInput(0.9 * rec.x + 0.1 * px, 0.9 * rec.y + 0.1 * py, R, ps.in, ps.n)) rec.mark = 0;
}

// No usable crossing: start the raw offset where it leaves the circle of radius d about the
// first input point.
void startTrim(Pass& ps) {
    const double circle[7] = {ps.in[0].x1, ps.in[0].y1, 0, 0, 0, 0, ps.d};
    int32_t found = -1;
    Vec2 at{0, 0};
    for (int32_t m = 0; m < ps.c; m++) {
        Vec2 p[2];
        const Seg2D& e = ps.raw[m];
        int r = segCircleIsect2D(&e, circle, p);
        if (r == 2) {
            found = m;
            at = p[1];
        } else if ((r == 1 || r == -1) && !eqTol(p[0].x, p[0].y, e.x1, e.y1) &&
                   !eqTol(p[0].x, p[0].y, e.x2, e.y2)) {
            found = m;
            at = p[0];
        }
    }
    if (found < 0) return;
    std::memmove(ps.raw, ps.raw + found, sizeof(Seg2D) * static_cast<size_t>(ps.c - found));
    ps.c -= found;
    ps.raw[0].x1 = at.x;
    ps.raw[0].y1 = at.y;
}

int32_t arrival(const IsectRecord& r) {
    return r.mark == 1 ? r.j : r.i;
}

// Walks the raw offset from crossing to crossing into work (room for limit elements), leaving
// out the loops between crossings. The element count, or 0 when the walk gives nothing.
int32_t assemble(const Pass& ps, int32_t k, bool rawClosed, Seg2D* work, int32_t limit) {
    int32_t f = 0;
    while (f < k && gTable[f].mark != 1) f++;
    if (f == k) return 0;
    std::swap(gTable[0], gTable[f]);
    int32_t total = 0;
    bool failed = false;
    int32_t cur = 0;
    for (;;) {
        const IsectRecord rec = gTable[cur];
        const int mode = rec.mark != 0 ? 1 : 2;
        const int32_t leave = mode == 1 ? rec.i : rec.j;
        int32_t next = -1, bestArr = 0;
        double bestPar = 0;
        for (int32_t r = 0; r < k; r++) {
            const IsectRecord& q = gTable[r];
            if (r == cur || q.mark == 2 || q.mark == mode) continue;
            const int32_t arr = arrival(q);
            if (arr < leave || arr < 1 || arr > ps.c) continue;
            const Seg2D& el = ps.raw[arr - 1];
            const double par = paramOn(el, q.x, q.y);
            if (arr == leave && !(par > paramOn(el, rec.x, rec.y) || eqTol(q.x, q.y, rec.x, rec.y))) continue;
            if (next < 0 || arr < bestArr || (arr == bestArr && par < bestPar)) {
                next = r;
                bestArr = arr;
                bestPar = par;
            }
        }
        if (next < 0) next = 0;
        const IsectRecord& to = gTable[next];
        const int32_t arr = arrival(to);
        if (arr < leave || leave < 1 || arr > ps.c) {
            failed = true;
            break;
        }
        const int32_t pieceStart = total;
        if (total + (arr - leave + 1) > limit) return 0;
        for (int32_t m = leave; m <= arr; m++) {
            Seg2D e = ps.raw[m - 1];
            if (m == leave) {
                e.x1 = rec.x;
                e.y1 = rec.y;
            }
            if (total > pieceStart) {
                const Seg2D& prev = work[total - 1];
                if (!near5(prev.x2, prev.y2, e.x1, e.y1)) {
                    if (next != 0) failed = true;
                    break;  // heading back to the first record: the piece ends at the break
                }
            }
            work[total++] = e;
        }
        if (failed) break;
        if (total > pieceStart) {
            Seg2D& last = work[total - 1];
            const Vec2 p{to.x, to.y};
            const bool openStart = !rawClosed && near5(to.x, to.y, ps.raw[0].x1, ps.raw[0].y1);
            if (distPointSeg2D(&p, &last) < 0.01 && !openStart) {
                last.x2 = to.x;
                last.y2 = to.y;
            }
        }
        // The first record keeps its mark until the walk is back: it decides the arrival there.
        if (cur != 0) gTable[cur].mark = 2;
        cur = next;
        if (cur == 0) {
            gTable[0].mark = 2;
            break;
        }
        if (total > kOffsetAssemblyMax) return 0;
    }
    if (total > kOffsetAssemblyMax) return 0;
    if (failed) {
        gTable[0].mark = 2;
        if (gRetry) return 0;
        gRetry = 1;
        return total > (2 * ps.c) / 3 ? total : 0;
    }
    return total;
}

double chainLength(const Seg2D* e, int32_t from, int32_t to) {
    double s = 0;
    for (int32_t k = from; k < to; k++) s += len(e[k]);
    return s;
}

}  // namespace

void setContourCornerFactor(int mode) {
    gCornerFactor = mode == 1 ? 1.02 : 0.02;
}

int contour_corner_offset(Seg2D* a, Seg2D* b, double d, Seg2D* bridge, int side) {
    Vec2 ua, ub, na, nb;
    if (!segDir2D(a, &ua) || !segDir2D(b, &ub) || !segNormal2D(a, &na, side) || !segNormal2D(b, &nb, side))
        return -1;
    const Vec2 corner{a->x2, a->y2};
    Seg2D sa = *a, sb = *b;
    shift(&sa, d, na);
    shift(&sb, d, nb);
    Vec2 u{na.x + nb.x, na.y + nb.y};
    const double ul = vecLen2D(&u);
    if (ul <= 1e-5) return -1;
    u.x /= ul;
    u.y /= ul;
    if (vecDot2D(&ua, &ub) > 1.0 - gCornerFactor) {
        const Seg2D axis{corner.x, corner.y, corner.x + u.x, corner.y + u.y};
        Vec2 q;
        if (lineLineIsect2D(&sa, &axis, &q) != 1) return -1;
        sa.x2 = sb.x1 = q.x;
        sa.y2 = sb.y1 = q.y;
        *a = sa;
        *b = sb;
        *bridge = Seg2D{q.x, q.y, q.x, q.y};
        return 2;
    }
    const Vec2 apex{corner.x + d * u.x, corner.y + d * u.y};
    const Seg2D cut{apex.x, apex.y, apex.x - u.y, apex.y + u.x};
    Vec2 q1, q2;
    if (lineLineIsect2D(&sa, &cut, &q1) != 1 || lineLineIsect2D(&sb, &cut, &q2) != 1) return -1;
    sa.x2 = q1.x;
    sa.y2 = q1.y;
    sb.x1 = q2.x;
    sb.y1 = q2.y;
    *a = sa;
    *b = sb;
    *bridge = Seg2D{q1.x, q1.y, q2.x, q2.y};
    return 1;
}

int offsetContour2DRaw(double d, const Seg2D* e, int32_t n, Seg2D* out, int32_t* count, int side) {
    if (count) *count = 0;
    if (!e || !out || !count || n < 1) return 0;
    const int32_t cap = 2 * n;
    const bool closed = eqTol(e[0].x1, e[0].y1, e[n - 1].x2, e[n - 1].y2);
    Vec2 nrm;
    if (!segNormal2D(&e[0], &nrm, side)) return 0;
    int32_t c = 0;
    out[c] = e[0];
    shift(&out[c++], d, nrm);
    int code = 1;
    bool reversal = false;
    const int32_t junctions = closed ? n : n - 1;
    for (int32_t k = 1; k <= junctions; k++) {
        const bool closing = k == n;
        const Seg2D& prevIn = e[k - 1];
        const Seg2D& curIn = closing ? e[0] : e[k];
        int turn = 0;
        if (!segTurn2D(&prevIn, &curIn, &turn)) return 0;
        int t = turn * side;
        if (turn == -2) {
            reversal = true;
            t = -1;
        }
        Vec2 q;
        if (t == -1) {
            Seg2D a = prevIn, b = curIn, bridge;
            const int rc = contour_corner_offset(&a, &b, d, &bridge, side);
            if (rc < 0) return 0;
            out[c - 1].x2 = a.x2;
            out[c - 1].y2 = a.y2;
            if (!closing && c >= 2 && segSegIsect2D(&out[c - 2], &out[c - 1], &q) == 1) {
                out[c - 2].x2 = out[c - 1].x1 = q.x;
                out[c - 2].y2 = out[c - 1].y1 = q.y;
            }
            if (rc == 1) {
                if (c >= cap) return 0;
                out[c++] = bridge;
            }
            if (!closing) {
                if (c >= cap) return 0;
                out[c++] = b;
            } else {
                out[0].x1 = bridge.x2;
                out[0].y1 = bridge.y2;
                if (segSegIsect2D(&e[0], &e[n - 1], &q) == -1) code = -2;
            }
        } else if (t == 0) {
            if (!closing) {
                if (!segNormal2D(&curIn, &nrm, side) || c >= cap) return 0;
                out[c] = Seg2D{out[c - 1].x2, out[c - 1].y2, curIn.x2 + d * nrm.x, curIn.y2 + d * nrm.y};
                c++;
            } else if (eqTol(e[0].x1, e[0].y1, e[0].x2, e[0].y2)) {
                out[0].x1 = out[c - 1].x2;
                out[0].y1 = out[c - 1].y2;
            }
        } else if (t == 1) {
            Seg2D nw;
            if (closing) {
                nw = out[0];
            } else {
                if (!segNormal2D(&curIn, &nrm, side)) return 0;
                nw = curIn;
                shift(&nw, d, nrm);
            }
            Seg2D& prev = out[c - 1];
            const int r = segSegIsect2D(&prev, &nw, &q);
            if (r == 1) {
                prev.x2 = nw.x1 = q.x;
                prev.y2 = nw.y1 = q.y;
            } else if (r == 0) {
                if (std::fabs(prev.x2 - nw.x1) < 0.06 && std::fabs(prev.y2 - nw.y1) < 0.06) {
                    nw.x1 = prev.x2;
                    nw.y1 = prev.y2;
                } else {
                    code = -1;
                }
            }
            if (closing) {
                out[0] = nw;
            } else {
                if (c >= cap) return 0;
                out[c++] = nw;
            }
        } else {
            return 0;  // a side other than +1 or -1 at a turning junction
        }
    }
    if (reversal && code == 1) code = -3;
    *count = seglist_drop_zero2D(out, c);
    return code;
}

int offsetContour2DPass(const Seg2D* e, int32_t n, double d, Seg2D* out, int side) {
    if (!e || !out || n < 1) {
        gRetry = 1;
        return 0;
    }
    const bool closed = near5(e[0].x1, e[0].y1, e[n - 1].x2, e[n - 1].y2);
    if (std::fabs(d) < 1e-5) {
        std::memmove(out, e, sizeof(Seg2D) * static_cast<size_t>(n));
        return n;
    }
    const int32_t outCap = 2 * n + 1;
    const int32_t workCap = std::max(3 * n, 1000);
    std::unique_ptr<Seg2D[]> work(new (std::nothrow) Seg2D[static_cast<size_t>(workCap)]);
    if (!work) return -1;
    Pass ps{e, n, d, side, out, 0};
    const int rawCode = offsetContour2DRaw(d, e, n, out, &ps.c, side);
    if (rawCode == 0 || ps.c < 1) {
        gRetry = 1;
        return 0;
    }
    bool retried = false;
    int32_t k = 0, firstGap = -1;
    for (;;) {
        k = contour_self_isect2D(out, ps.c, gTable, kOffsetTableCapacity - 1, rawCode);
        if (k < 0) return -1;
        firstGap = -1;
        for (int32_t m = 1; m < ps.c; m++) {
            Seg2D& prev = out[m - 1];
            if (near5(prev.x2, prev.y2, out[m].x1, out[m].y1)) continue;
            if (std::hypot(prev.x2 - out[m].x1, prev.y2 - out[m].y1) >= 1e-4) {
                firstGap = m;
                break;
            }
            out[m].x1 = prev.x2;
            out[m].y1 = prev.y2;
        }
        if (k == 0 || std::fabs(gTable[0].x - out[0].x1) >= 0.005 ||
            std::fabs(gTable[0].y - out[0].y1) >= 0.005) {
            std::memmove(gTable + 1, gTable, sizeof(IsectRecord) * static_cast<size_t>(k));
            gTable[0] = IsectRecord{out[0].x1, out[0].y1, 0.0, 1, ps.c, 1};
            k++;
        }
        classify(ps, 0, k);
        if (k >= 2 && firstGap >= 0 && gTable[0].mark == 0 && firstGap + 1 <= gTable[1].i) {
            gTable[0].x = out[firstGap].x1;
            gTable[0].y = out[firstGap].y1;
            gTable[0].i = firstGap + 1;
            gTable[0].mark = 1;
        }
        for (int32_t r = k - 1; r >= 0; r--) classify(ps, r, k);
        bool allZero = true;
        for (int32_t r = 0; r < k; r++) allZero = allZero && gTable[r].mark == 0;
        if (retried || !allZero) break;
        startTrim(ps);
        retried = true;
    }
    int32_t c = ps.c;
    if (k >= 2 || firstGap >= 0) {
        // Keep one slot of out free for the closing element below.
        const int32_t limit = std::min(workCap, outCap - 1);
        c = assemble(ps, k, closed, work.get(), limit);
        std::memmove(out, work.get(), sizeof(Seg2D) * static_cast<size_t>(c));
    }
    for (int32_t m = 1; m < c; m++) {
        Seg2D& prev = out[m - 1];
        if (near5(prev.x2, prev.y2, out[m].x1, out[m].y1)) continue;
        if (std::hypot(prev.x2 - out[m].x1, prev.y2 - out[m].y1) >= 0.4) {
            const double l1 = chainLength(out, 0, m), l2 = chainLength(out, m + 1, c);
            c = 0.4 * l1 < l2 ? 0 : m;
            break;
        }
        prev.x2 = out[m].x1;
        prev.y2 = out[m].y1;
    }
    if (closed && c > 0 && !near5(out[c - 1].x2, out[c - 1].y2, out[0].x1, out[0].y1)) {
        if (std::hypot(out[c - 1].x2 - out[0].x1, out[c - 1].y2 - out[0].y1) >= d && c < outCap) {
            out[c] = Seg2D{out[c - 1].x2, out[c - 1].y2, out[0].x1, out[0].y1};
            c++;
        } else {
            out[c - 1].x2 = out[0].x1;
            out[c - 1].y2 = out[0].y1;
        }
    }
    if (c > 1) {
        Vec2 u, w;
        if (segDir2D(&out[c - 1], &u) && segDir2D(&out[c - 2], &w) && vecDot2D(&u, &w) < -0.999) c--;
    }
    if (!gRetry && offsetEndsNearer2D(e, n, out, c, 0.9 * d)) gRetry = 1;
    return c;
}

int offsetContour2D(const Seg2D* elements, int32_t n, double d, Seg2D* out, int side, double reserved) {
    (void)reserved;
    gRetry = 0;
    int r = offsetContour2DPass(elements, n, d, out, side);
    if (r < 0 || (r > 0 && !gRetry)) return r;
    // Retries simplify a copy: the caller's chain stays as it was.
    std::vector<Seg2D> chain;
    try {
        chain.assign(elements, elements + n);
    } catch (const std::bad_alloc&) {
        return -1;
    }
    int32_t m = n;
    double drop = d > 15 ? 0.02 : 0.01;
    double dist = d;
    for (int k = 0; k < 20; k++) {
        if (dist > 10 && k >= 11) drop = 0.02;
        dist += 0.0006;
        m = dropShortElements2D(chain.data(), m, drop);
        mergeElements2D(chain.data(), &m, 0.2);
        gRetry = 0;
        r = offsetContour2DPass(chain.data(), m, dist, out, side);
        if (r < 0 || !gRetry) return r;
    }
    return r;
}

// Long chains go through a bucket grid over the ends: an element enters the cells its box, grown by
// r and by the reach of distPointSeg2D's foot test beyond the box (3.2e-3), touches, so every element
// nearer than r to an end is among its cell's; only the yes/no is asked, so the order is free.
bool offsetEndsNearer2D(const Seg2D* e, int32_t n, const Seg2D* out, int32_t c, double r) {
    auto plain = [&] {
        for (int32_t m = 0; m < c; m++) {
            const Vec2 p{out[m].x2, out[m].y2};
            int32_t idx = 0;
            if (nearestSeg2D(&p, e, n, &idx) < r) return true;
        }
        return false;
    };
    if (c < 64 || n < 64 || !(r > 0.0) || !std::isfinite(r)) return plain();
    double x0 = INFINITY, y0 = INFINITY, x1 = -INFINITY, y1 = -INFINITY;
    for (int32_t m = 0; m < c; m++) {
        x0 = std::min(x0, out[m].x2), x1 = std::max(x1, out[m].x2);
        y0 = std::min(y0, out[m].y2), y1 = std::max(y1, out[m].y2);
    }
    for (int32_t k = 0; k < n; k++) {
        const double v[4] = {e[k].x1, e[k].y1, e[k].x2, e[k].y2};
        for (double x : v)
            if (!std::isfinite(x)) return plain();
    }
    if (!std::isfinite(x0) || !std::isfinite(x1) || !std::isfinite(y0) || !std::isfinite(y1)) return plain();
    const double reach =
        (r + 3.2e-3) * (1.0 + 1e-9) +
        1e-9 * (1.0 + std::max({std::fabs(x0), std::fabs(x1), std::fabs(y0), std::fabs(y1)}));
    const double grow = reach - r;
    const double w = x1 - x0, h = y1 - y0;
    double cell = std::max({std::sqrt(w * h / c), std::max(w, h) / 2048.0, reach});
    if (!std::isfinite(cell)) return plain();
    const int32_t cols = static_cast<int32_t>(w / cell) + 1, rows = static_cast<int32_t>(h / cell) + 1;
    auto cellRange = [&](double lo, double hi, double origin, double end, int32_t count, int32_t* a,
                         int32_t* b) {
        if (hi + reach < origin || lo - reach > end) return false;
        const double top = count - 1.0;
        *a = static_cast<int32_t>(std::clamp(std::floor((lo - reach - origin) / cell), 0.0, top));
        *b = static_cast<int32_t>(std::clamp(std::floor((hi + reach - origin) / cell), 0.0, top));
        return true;
    };
    // Each listed element with its box grown by the foot test's reach and the rounding room (reach - r),
    // stored in list order so that an end's candidates are read in one stream.
    struct Listed {
        double x0, x1, y0, y1;
        int32_t k;
    };
    std::vector<int64_t> start;
    std::vector<Listed> items;
    try {
        start.assign(static_cast<size_t>(rows) * cols + 1, 0);
        for (int pass = 0; pass < 2; pass++) {
            for (int32_t k = 0; k < n; k++) {
                int32_t ca, cb, ra, rb;
                if (!cellRange(std::min(e[k].x1, e[k].x2), std::max(e[k].x1, e[k].x2), x0, x1, cols, &ca,
                               &cb) ||
                    !cellRange(std::min(e[k].y1, e[k].y2), std::max(e[k].y1, e[k].y2), y0, y1, rows, &ra,
                               &rb))
                    continue;
                const Listed entry{std::min(e[k].x1, e[k].x2) - grow, std::max(e[k].x1, e[k].x2) + grow,
                                   std::min(e[k].y1, e[k].y2) - grow, std::max(e[k].y1, e[k].y2) + grow, k};
                for (int32_t i = ra; i <= rb; i++)
                    for (int32_t j = ca; j <= cb; j++) {
                        const size_t at = static_cast<size_t>(i) * cols + j;
                        if (pass == 0)
                            start[at + 1]++;
                        else
                            items[static_cast<size_t>(start[at]++)] = entry;
                    }
            }
            if (pass == 0) {
                for (size_t at = 1; at < start.size(); at++) start[at] += start[at - 1];
                // Elements spanning many cells would make the grid dearer than the plain scan.
                if (start.back() > 16 * (static_cast<int64_t>(n) + c)) return plain();
                items.resize(static_cast<size_t>(start.back()));
            } else {
                for (size_t at = start.size() - 1; at > 0; at--) start[at] = start[at - 1];
                start[0] = 0;
            }
        }
    } catch (const std::bad_alloc&) {
        return plain();
    }
    const double r2 = r * r;
    for (int32_t m = 0; m < c; m++) {
        const Vec2 p{out[m].x2, out[m].y2};
        const int32_t i = std::clamp(static_cast<int32_t>(std::floor((p.y - y0) / cell)), 0, rows - 1);
        const int32_t j = std::clamp(static_cast<int32_t>(std::floor((p.x - x0) / cell)), 0, cols - 1);
        const size_t at = static_cast<size_t>(i) * cols + j;
        for (int64_t q = start[at]; q < start[at + 1]; q++) {
            // A cell lists the elements near any of its points; the distance is measured only for an
            // end within r of the element's grown box, as it is the distance to a point of the box
            // grown by the foot test's reach alone.
            const Listed& g = items[static_cast<size_t>(q)];
            const double dx = std::max({g.x0 - p.x, p.x - g.x1, 0.0}),
                         dy = std::max({g.y0 - p.y, p.y - g.y1, 0.0});
            if (dx * dx + dy * dy > r2) continue;
            if (distPointSeg2D(&p, &e[g.k]) < r) return true;
        }
    }
    return false;
}

int32_t dropShortElements2D(Seg2D* e, int32_t n, double length) {
    if (!e) return 0;
    int32_t w = 0;
    for (int32_t k = 0; k < n; k++)
        if (len(e[k]) >= length) e[w++] = e[k];
    return w;
}

namespace {

// One merge pass; the new count.
int32_t mergePass(Seg2D* e, int32_t n, double tol) {
    int32_t w = 1;  // e[0 .. w-1] is the merged prefix; e[w-1] is the predecessor
    for (int32_t k = 1; k <= n - 2; k++) {
        Seg2D& prev = e[w - 1];
        const Seg2D cur = e[k];
        Seg2D& next = e[k + 1];
        int t1 = 0, t2 = 0;
        bool remove = false;
        if (len(cur) <= tol && segTurn2D(&prev, &cur, &t1) && segTurn2D(&cur, &next, &t2) && t1 != 0 &&
            t2 != 0) {
            const double mx = 0.5 * (cur.x1 + cur.x2), my = 0.5 * (cur.y1 + cur.y2);
            Seg2D p2 = prev, n2 = next;
            p2.x2 = n2.x1 = mx;
            p2.y2 = n2.y1 = my;
            int t3 = 0;
            Vec2 u, v;
            const bool joinOk = segTurn2D(&p2, &n2, &t3) == 1;
            const bool reverses = segDir2D(&p2, &u) && segDir2D(&n2, &v) && vecDot2D(&u, &v) < 0;
            remove = t1 != t2 || t1 == -2 || t2 == -2 || (joinOk && t3 != t1) || reverses;
            if (remove) {
                prev = p2;
                next = n2;
            }
        }
        if (!remove) e[w++] = cur;
    }
    if (n >= 2) e[w++] = e[n - 1];
    return w;
}

}  // namespace

int mergeElements2D(Seg2D* e, int32_t* n, double tolerance) {
    if (!e || !n || *n < 50) return 0;
    const int32_t start = *n;
    for (;;) {
        const int32_t before = *n;
        *n = mergePass(e, *n, tolerance);
        if (*n >= before) break;
    }
    return *n < start ? 1 : 0;
}

int32_t seglist_drop_zero2D(Seg2D* e, int32_t n) {
    if (!e) return 0;
    int32_t w = 0;
    for (int32_t k = 0; k < n; k++)
        if (!eqTol(e[k].x1, e[k].y1, e[k].x2, e[k].y2)) e[w++] = e[k];
    return w;
}

IsectRecord* offsetContourTable(int32_t* capacity) {
    if (capacity) *capacity = kOffsetTableCapacity;
    return gTable;
}

int offsetContourRetryFlag() {
    return gRetry;
}

void offsetContourResetState() {
    gCornerFactor = 0.02;
    gRetry = 0;
}
static const RunReset gRunReset(kRunResetContour, "offsetContour", offsetContourResetState);
