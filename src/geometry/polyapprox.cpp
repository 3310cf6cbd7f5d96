// Polyline approximation: exact low-degree fits, then an adaptive search over intervals and
// control-point counts of least-squares cubic B-splines, each interval checked point by point and
// between the points against the allowed deviations.
#include "geometry/polyapprox.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "geometry/bspline.h"
#include "geometry/ivstack.h"
#include "kernel/base/msg.h"

namespace {

template <typename T>
T* allocArray(int32_t n) {
    return static_cast<T*>(std::malloc(static_cast<size_t>(n > 0 ? n : 1) * sizeof(T)));
}

// The current spline at the chord parameters u[0..c-1].
int new_point2Ds(const double* u, int32_t c, Vec2* out) {
    const BSplineRec* rec = bsplineCurrent();
    if (rec == nullptr) return -1;
    for (int32_t j = 0; j < c; ++j) {
        Vec3 p;
        if (bsplineEval(rec, u[j], &p) < 0) return -1;
        out[j] = Vec2{p.x, p.y};
    }
    return 0;
}

// The current spline at the middle parameter of each of the c-1 segments.
int mid_point2Ds(const double* u, int32_t c, Vec2* out) {
    const BSplineRec* rec = bsplineCurrent();
    if (rec == nullptr) return -1;
    for (int32_t j = 0; j + 1 < c; ++j) {
        Vec3 p;
        if (bsplineEval(rec, 0.5 * (u[j] + u[j + 1]), &p) < 0) return -1;
        out[j] = Vec2{p.x, p.y};
    }
    return 0;
}

// Foot of p on the segment a-b when it falls within it (segments shorter than minLen ignored).
bool footWithin(const Vec2& a, const Vec2& b, const Vec2& p, double minLen, Vec2* foot) {
    const double dx = b.x - a.x, dy = b.y - a.y;
    const double l2 = dx * dx + dy * dy;
    if (!(l2 >= minLen * minLen) || l2 == 0.0) return false;
    const double t = ((p.x - a.x) * dx + (p.y - a.y) * dy) / l2;
    if (!(t >= 0.0 && t <= 1.0)) return false;
    *foot = Vec2{a.x + t * dx, a.y + t * dy};
    return true;
}

double dist(const Vec2& a, const Vec2& b) {
    return std::hypot(b.x - a.x, b.y - a.y);
}

// A record slot of the interval loop; `live` marks arrays that this loop still has to free.
struct Slot {
    BSplineRec rec{};
    bool live = false;
    void release() {
        if (live) bsplineFree(&rec);
        live = false;
    }
};

enum State {
    kTake = 10,
    kClassify = 1,
    kFit = 3,
    kPointCheck = 4,
    kMidCheck = 5,
    kKeep = 8,
    kAccept = 9,
    kSplit = 2
};

}  // namespace

int approxExactFit2D(const TolPoint* pts, int32_t n, int32_t index, Vec2** out, int32_t* outCount) {
    if (out == nullptr || outCount == nullptr) return -1;
    *out = nullptr;
    *outCount = 0;
    if (pts == nullptr || n < 4) {
        msgPrintf(1, "* error: at least 4 vertices required (%d)", n < 0 ? 0 : n);
        return -1;
    }
    std::vector<Vec2> p(static_cast<size_t>(n));
    std::vector<double> w(static_cast<size_t>(n));
    splitPoints3(pts, n, p.data(), w.data());
    Vec2* res = allocArray<Vec2>(n);
    if (res == nullptr) return -1;
    int rc = -1;
    double m, c, a, b, coef[4];
    if (lineThrough2(&p[0], &p[n - 1], &m, &c) > 0 && lineWithinTol(p.data(), n, w.data(), m, c)) {
        evalLine2D(p.data(), n, m, c, res);
        rc = kApproxLine;
    } else if (parabolaLsqThrough(p.data(), n, index, &a, &b, &c) > 0 &&
               parabolaWithinTol(p.data(), n, w.data(), a, b, c)) {
        evalParabola2D(p.data(), n, a, b, c, res);
        rc = kApproxParabola;
    } else if (cubicLsqThrough(p.data(), n, index, coef) > 0 && cubicWithinTol(p.data(), n, w.data(), coef)) {
        evalCubic2D(p.data(), n, coef, res);
        rc = kApproxCubic;
    }
    if (rc < 0) {
        std::free(res);
        return -1;
    }
    *out = res;
    *outCount = n;
    return rc;
}

int approxPlist2DIntervals(Vec2* pts2D, int32_t n, int32_t maxCtrl, const double* w, BSplineArray* array) {
    if (array == nullptr) return -1;
    array->items = nullptr;
    array->count = array->capacity = 0;
    if (pts2D == nullptr || w == nullptr || maxCtrl < 3 || n < 4) return -1;
    const int32_t kmax = std::min(maxCtrl, n);

    // Positions from here on are positions in the cleaned list; the deviations and the turn
    // measures follow the points that were kept.
    Vec2* keptRaw = nullptr;
    double* stepsRaw = nullptr;
    int32_t m = 0;
    std::vector<int32_t> keptIndex(static_cast<size_t>(n));
    if (thinPoints2D(pts2D, n, 1e-9, &keptRaw, &stepsRaw, &m, keptIndex.data()) < 0) return -1;
    std::vector<Vec2> P(keptRaw, keptRaw + m);
    std::vector<double> L(stepsRaw, stepsRaw + m);
    std::free(keptRaw);
    std::free(stepsRaw);
    std::vector<double> W(static_cast<size_t>(m));
    for (int32_t i = 0; i < m; ++i) W[i] = w[keptIndex[i]];

    double* cosRaw = nullptr;
    double* prodRaw = nullptr;
    if (turnCosines2D(P.data(), m, &cosRaw) < 0 || inflectionCount2D(P.data(), m, &prodRaw) < 0) {
        std::free(cosRaw);
        return -1;
    }
    std::vector<double> C(cosRaw, cosRaw + m), S(prodRaw, prodRaw + m);
    std::free(cosRaw);
    std::free(prodRaw);

    if (bsplineArrayCreate(array) < 0) return -1;
    const int32_t c0 = m / kmax;
    IvStack stack;
    if (ivStackCreate(&stack, c0 + 10) < 0) return -1;
    struct StackGuard {
        IvStack* s;
        ~StackGuard() { ivStackFree(s); }
    } stackGuard{&stack};

    bool covered = true;  // every interval so far has a record
    if (c0 >= 2) {
        const int32_t chunk = m / (c0 + 1);
        const int32_t q = m / chunk - 1;
        int32_t next = m;
        for (int32_t j = q; j >= 0; --j) {
            if (ivStackPush(&stack, j * chunk, next - j * chunk) < 0) covered = false;
            next = j * chunk;
        }
    } else if (ivStackPush(&stack, 0, m) < 0) {
        covered = false;
    }

    Slot cur, saved;
    std::vector<Vec2> newPts, savedPts, midPts;
    std::vector<double> u;
    int32_t s = 0, c = 0, k = 5, worst = 0;
    bool descending = false;
    int rc = 0;
    State state = kTake;
    bool running = true;
    while (running) {
        switch (state) {
            case kTake: {
                if (ivStackEmpty(&stack) || ivStackPop(&stack, &s, &c) < 0) {
                    running = false;
                    break;
                }
                worst = 0;
                descending = c > 21;
                k = descending ? 20 : 5;
                state = kClassify;
                break;
            }
            case kClassify:
                if (c < 4) {
                    msgPrintf(1, "* error in approximation: ivl = %d", c);
                    covered = false;
                    running = false;
                } else {
                    u.assign(static_cast<size_t>(c), 0.0);
                    for (int32_t j = 1; j < c; ++j) u[j] = u[j - 1] + L[s + j];
                    newPts.assign(static_cast<size_t>(c), Vec2{});
                    midPts.assign(static_cast<size_t>(c), Vec2{});
                    state = c <= k + 1 ? kKeep : (c > maxCtrl ? kSplit : kFit);
                }
                break;
            case kFit:
                if (bsplineCreate(4, k, &cur.rec) < 0) {
                    rc = -1;
                    running = false;
                    break;
                }
                cur.live = true;
                if (approxPlist2D(P.data(), L.data(), m, s, c, 4, k, &cur.rec) == 0) {
                    state = kPointCheck;
                    break;
                }
                msgPrintfDouble(1, "* error in approxPlist2D", 0.0);
                cur.release();
                if (c > k + 5) {
                    state = kSplit;
                } else if (!descending) {
                    state = kKeep;
                } else {
                    descending = false;
                    saved.release();
                    k = 5;
                    state = kFit;
                }
                break;
            case kPointCheck: {
                if (new_point2Ds(u.data(), c, newPts.data()) < 0) {
                    msgPrintfDouble(1, "* error in new_point2Ds", 0.0);
                    cur.release();
                    state = kSplit;
                    break;
                }
                int32_t e = c;
                for (int32_t j = 0; j < c; ++j) {
                    const Vec2& p = P[s + j];
                    const Vec2& q = newPts[j];
                    double dev = dist(p, q);
                    Vec2 foot;
                    if (j > 0 && footWithin(P[s + j - 1], p, q, 0.01, &foot)) {
                        dev = std::min(dev, dist(q, foot));
                    } else if (j + 1 < c && footWithin(p, P[s + j + 1], q, 0.01, &foot)) {
                        dev = std::min(dev, dist(q, foot));
                    }
                    if (!(dev <= W[s + j])) {
                        e = j;
                        break;
                    }
                }
                if (e >= c - 1) {
                    state = kMidCheck;
                } else {
                    worst = std::max(worst, e);
                    if (k >= 20 || !descending) {
                        cur.release();
                        state = kSplit;
                    } else {
                        state = kAccept;
                    }
                }
                break;
            }
            case kMidCheck: {
                bool passed = mid_point2Ds(u.data(), c, midPts.data()) == 0;
                if (!passed) msgPrintfDouble(1, "* error in mid_point2Ds", 0.0);
                for (int32_t i = 0; passed && i + 1 < c; ++i) {
                    const Vec2& a = P[s + i];
                    const Vec2& b = P[s + i + 1];
                    const Vec2& q = midPts[i];
                    Vec2 foot;
                    if (!footWithin(a, b, q, 0.0, &foot)) foot = Vec2{0.5 * (a.x + b.x), 0.5 * (a.y + b.y)};
                    const double dd = dist(q, foot), ll = dist(a, b);
                    if (!(dd <= W[s + i]) && !(dd <= 0.02 * ll)) {
                        msgPrintfDouble(2, "* mid_dists: %lf = ll", ll);
                        msgPrintfDouble(2, "* mid_dists: %lf = dd", dd);
                        passed = false;
                    }
                }
                if (!passed) cur.release();
                if (descending) {
                    if (passed && k >= 5) {
                        k -= 2;
                        saved.release();
                        saved = cur;
                        cur.live = false;
                        savedPts = newPts;
                        state = kFit;
                    } else if (!passed && k >= 20) {
                        state = kSplit;
                    } else {
                        state = kAccept;
                    }
                } else if (!passed) {
                    if (k >= 19) {
                        state = kKeep;
                    } else {
                        k += 2;
                        state = kFit;
                    }
                } else {
                    state = kAccept;
                }
                break;
            }
            case kKeep: {
                // The interval's own points as a linear record; its range is the second to the
                // second-last parameter.
                for (int32_t j = 0; j < c; ++j) newPts[j] = P[s + j];
                if (bsplineCreate(2, c, &cur.rec) < 0) {
                    rc = -1;
                    running = false;
                    break;
                }
                cur.live = true;
                BSplineRec& r = cur.rec;
                r.knots[0] = r.knots[1] = 0.0;
                for (int32_t j = 1; j <= c - 2; ++j) r.knots[j + 1] = u[j];
                r.knots[c] = r.knots[c + 1] = u[c - 1];
                for (int32_t j = 0; j < c; ++j) {
                    r.cx[j] = P[s + j].x;
                    r.cy[j] = P[s + j].y;
                }
                std::free(r.cz);
                r.cz = nullptr;
                r.is2D = 1;
                r.tStart = u[1];
                r.tEnd = u[c - 2];
                state = kAccept;
                break;
            }
            case kAccept:
                if (descending && k < 20 && saved.live) {
                    // The saved record comes with the points it was checked with.
                    cur.release();
                    cur = saved;
                    saved.live = false;
                    newPts = savedPts;
                }
                saved.release();
                for (int32_t j = 0; j < c; ++j) P[s + j] = newPts[j];
                if (!cur.live || bsplineArrayAppend(array, &cur.rec) < 0) {
                    cur.release();
                    rc = -1;
                    running = false;
                    break;
                }
                cur.live = false;  // the array owns the arrays now
                state = kTake;
                break;
            case kSplit: {
                cur.release();
                saved.release();
                const int32_t mid = c / 2;
                int32_t p = -1;
                for (int32_t j = 4; j <= c - 5; ++j) {
                    if (S[s + j] < 0.0 && (p < 0 || std::abs(j - mid) < std::abs(p - mid))) p = j;
                }
                if (p < 0 && worst >= 4 && worst <= c - 5) p = worst;
                if (p < 0) {
                    for (int32_t j = 4; j <= c - 5; ++j) {
                        if (C[s + j] < 1.0 && (p < 0 || C[s + j] < C[s + p])) p = j;
                    }
                }
                if (p < 0) p = mid;
                if (ivStackPush(&stack, s + p, c - p) < 0) covered = false;
                if (ivStackPush(&stack, s, p + 1) < 0) covered = false;
                state = kTake;
                break;
            }
        }
    }
    cur.release();
    saved.release();
    // The fitted records live in the array or are gone: forget the local slot as current spline.
    bsplineResetState();

    // Back into the caller's list; a dropped point follows the point it was merged into.
    for (int32_t i = 0, pos = 0; i < n; ++i) {
        while (pos + 1 < m && keptIndex[pos + 1] <= i) ++pos;
        pts2D[i] = P[pos];
    }
    if (rc < 0) return -1;
    return covered ? 0 : -1;
}

int approximatePolyline2D(const TolPoint* pts, int32_t n, int32_t index, int32_t maxCtrl, uint16_t resample,
                          double chordTol, Vec2** out, int32_t* outCount) {
    if (out == nullptr || outCount == nullptr) return -1;
    *out = nullptr;
    *outCount = 0;
    if (pts == nullptr || n < 0) return -1;
    const int exact = approxExactFit2D(pts, n, index, out, outCount);
    if (exact > 0) return exact;

    std::vector<Vec2> p(static_cast<size_t>(n));
    std::vector<double> w(static_cast<size_t>(n));
    splitPoints3(pts, n, p.data(), w.data());
    BSplineArray array{};
    struct ArrayGuard {
        BSplineArray* a;
        ~ArrayGuard() { bsplineArrayFree(a); }
    } arrayGuard{&array};
    if (approxPlist2DIntervals(p.data(), n, maxCtrl, w.data(), &array) < 0) {
        msgPrintfDouble(1, "* error: approximation cancelled", 0.0);
        return -1;
    }

    std::vector<Vec2> res;
    if (resample) {
        std::vector<double> l{0.0};
        for (int32_t i = 1; i < n; ++i) {
            const double d = dist(p[i - 1], p[i]);
            if (d < 1e-9) {
                msgPrintf(3, "* %d : index von gleichem element", i);
                continue;
            }
            l.push_back(d);
        }
        const auto lcount = static_cast<int32_t>(l.size());
        int32_t made = 0;
        for (int32_t r = 0; r < array.count && made < n && made < lcount; ++r) {
            const BSplineRec& rec = array.items[r];
            // The evaluation range as the discretisation clips it.
            double t0 = rec.knots[rec.order - 1];
            if (rec.tStart >= t0) t0 = rec.tStart;
            double t1 = rec.knots[rec.count];
            if (rec.tEnd <= t1 && t0 + 1e-4 <= rec.tEnd) t1 = rec.tEnd;
            double t = l[made];
            if (t < t0) return -1;
            while (t <= t1 && made < n) {
                Vec3 q;
                if (bsplineEval(&rec, t, &q) < 0) return -1;
                res.push_back(Vec2{q.x, q.y});
                ++made;
                if (made >= lcount) break;
                t += l[made];
            }
        }
        if (made != n) return -1;
    } else {
        for (int32_t r = 0; r < array.count; ++r) {
            Vec3* d = nullptr;
            int32_t cnt = 0;
            if (bsplineDiscretize(&array.items[r], chordTol, &d, &cnt) < 0) {
                std::free(d);
                msgPrintfDouble(1, "* error: approximation cancelled", 0.0);
                return -1;
            }
            for (int32_t j = 0; j < cnt; ++j) res.push_back(Vec2{d[j].x, d[j].y});
            std::free(d);
        }
    }
    Vec2* buf = allocArray<Vec2>(static_cast<int32_t>(res.size()));
    if (buf == nullptr) return -1;
    if (!res.empty()) std::memcpy(buf, res.data(), res.size() * sizeof(Vec2));
    *out = buf;
    *outCount = static_cast<int32_t>(res.size());
    return kApproxSpline;
}
