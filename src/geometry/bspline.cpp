// B-spline records: creation, least-squares interval fit, Cox-de Boor basis, de Boor evaluation
// and adaptive discretisation to a chord tolerance.
#include "geometry/bspline.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "geometry/solve.h"

namespace {

BSplineRec* gCurrent = nullptr;  // the record last fitted; not owned

double* zeroed(int n) {
    return static_cast<double*>(std::calloc(static_cast<size_t>(n), sizeof(double)));
}

// Whether m lies within tol of the chord a-b, and not behind either end.
bool chordOk(const Vec3& a, const Vec3& m, const Vec3& b, double tol) {
    const Vec3 am{m.x - a.x, m.y - a.y, m.z - a.z};
    const Vec3 mb{b.x - m.x, b.y - m.y, b.z - m.z};
    if (am.x * mb.x + am.y * mb.y + am.z * mb.z < 0.0) return false;
    const Vec3 c{am.y * mb.z - am.z * mb.y, am.z * mb.x - am.x * mb.z, am.x * mb.y - am.y * mb.x};
    const double cross2 = c.x * c.x + c.y * c.y + c.z * c.z;
    const double dx = b.x - a.x, dy = b.y - a.y, dz = b.z - a.z;
    const double chord2 = dx * dx + dy * dy + dz * dz;
    if (cross2 < 1e-8 || chord2 < 1e-8) return true;
    return tol * tol * chord2 >= cross2;
}

struct DiscEntry {
    Vec3 pa, pb;
    double ta, tb;
};

constexpr size_t kDiscStackMax = 10;  // a span is halved only while at most this many are stacked

}  // namespace

int bsplineCreate(int order, int count, BSplineRec* rec) {
    if (rec == nullptr || order < 1 || count < 1 || count + order > INT16_MAX) return -1;
    std::memset(rec, 0, sizeof *rec);
    rec->count = static_cast<int16_t>(count);
    rec->order = static_cast<int16_t>(order);
    rec->knots = zeroed(count + order);
    rec->cx = zeroed(count);
    rec->cy = zeroed(count);
    rec->cz = zeroed(count);
    rec->extra[2] = 1.0;
    if (!rec->knots || !rec->cx || !rec->cy || !rec->cz) {
        bsplineFree(rec);
        return -1;
    }
    return 0;
}

void bsplineFree(BSplineRec* rec) {
    if (rec == nullptr) return;
    std::free(rec->knots);
    std::free(rec->aux);
    std::free(rec->cx);
    std::free(rec->cy);
    std::free(rec->cz);
    rec->knots = rec->aux = rec->cx = rec->cy = rec->cz = nullptr;
    if (gCurrent == rec) gCurrent = nullptr;
}

BSplineRec* bsplineCurrent() {
    return gCurrent;
}

void bsplineResetState() {
    gCurrent = nullptr;
}

double bsplineBasis(const double* knots, int count, int order, int i, int k, double t) {
    const int last = count + order - 1;
    if (knots == nullptr || k < 1 || i < 0 || i + 1 > last || t < knots[i]) return 0.0;
    if (k == 1) {
        if (t < knots[i + 1]) return 1.0;
        // The last spans include their end so that the curve's end parameter is covered.
        if (i >= count - 1 && t <= knots[i + 1] + 1e-6) return 1.0;
        return 0.0;
    }
    if (i + k > last || t > knots[i + k]) return 0.0;
    double a = 0.0, b = 0.0;
    const double da = knots[i + k - 1] - knots[i];
    const double db = knots[i + k] - knots[i + 1];
    if (std::fabs(da) >= 1e-8) a = (t - knots[i]) / da;
    if (std::fabs(db) >= 1e-8) b = (knots[i + k] - t) / db;
    double v = 0.0;
    if (a != 0.0) v += a * bsplineBasis(knots, count, order, i, k - 1, t);
    if (b != 0.0) v += b * bsplineBasis(knots, count, order, i + 1, k - 1, t);
    return v;
}

int approxPlist2D(const Vec2* pts2D, const double* segLen, int32_t n, int32_t start, int32_t count, int order,
                  int k, BSplineRec* rec) {
    if (pts2D == nullptr || segLen == nullptr || rec == nullptr) return -1;
    if (start < 0 || count < 2 || start > n - count) return -1;
    // The interior control points are the unknowns of the normal equations.
    if (order < 2 || k < order || k - 2 > 100) return -1;
    if (rec->count != k || rec->order != order || !rec->knots || !rec->cx || !rec->cy) return -1;
    const int q = count;
    const Vec2* P = pts2D + start;

    std::vector<double> u(static_cast<size_t>(q));
    u[0] = 0.0;
    for (int j = 1; j < q; ++j) u[j] = u[j - 1] + segLen[start + j];

    double* knots = rec->knots;
    for (int j = 0; j < order; ++j) knots[j] = 0.0;
    const double d = static_cast<double>(q) / (k - order + 1);
    for (int j = 1; j <= k - order; ++j) {
        const int i = static_cast<int>(j * d);
        const double a = j * d - i;
        knots[order + j - 1] = i + 1 < q ? (1 - a) * u[i] + a * u[i + 1] : (1 - a) * u[i];
    }
    for (int j = k; j < k + order; ++j) knots[j] = u[q - 1];
    rec->tEnd = u[q - 1];

    // Basis rows at the inner points: the fixed end functions and the k-2 free ones.
    const int rows = q - 2, cols = k - 2;
    std::vector<double> N(static_cast<size_t>(q) * k);
    for (int r = 1; r <= rows; ++r) {
        for (int c = 0; c < k; ++c)
            N[static_cast<size_t>(r) * k + c] = bsplineBasis(knots, k, order, c, order, u[r]);
    }
    std::vector<double> Rx(static_cast<size_t>(q)), Ry(static_cast<size_t>(q));
    for (int r = 1; r <= rows; ++r) {
        const double n0 = N[static_cast<size_t>(r) * k], nk = N[static_cast<size_t>(r) * k + k - 1];
        Rx[r] = P[r].x - n0 * P[0].x - nk * P[q - 1].x;
        Ry[r] = P[r].y - n0 * P[0].y - nk * P[q - 1].y;
    }
    std::vector<double> A(static_cast<size_t>(cols) * cols, 0.0), Qx(static_cast<size_t>(cols), 0.0),
        Qy(static_cast<size_t>(cols), 0.0);
    for (int r = 1; r <= rows; ++r) {
        const double* row = &N[static_cast<size_t>(r) * k + 1];
        for (int a = 0; a < cols; ++a) {
            Qx[a] += row[a] * Rx[r];
            Qy[a] += row[a] * Ry[r];
            for (int b = 0; b < cols; ++b) A[static_cast<size_t>(a) * cols + b] += row[a] * row[b];
        }
    }
    std::vector<double> unused(static_cast<size_t>(cols), 0.0);  // one column, as the solver wants
    if (gaussJordan(A.data(), static_cast<uint16_t>(cols), unused.data(), 1) != 0) return -1;

    rec->cx[0] = P[0].x;
    rec->cy[0] = P[0].y;
    rec->cx[k - 1] = P[q - 1].x;
    rec->cy[k - 1] = P[q - 1].y;
    for (int c = 0; c < cols; ++c) {
        double x = 0.0, y = 0.0;
        for (int b = 0; b < cols; ++b) {
            x += A[static_cast<size_t>(c) * cols + b] * Qx[b];
            y += A[static_cast<size_t>(c) * cols + b] * Qy[b];
        }
        rec->cx[c + 1] = x;
        rec->cy[c + 1] = y;
    }
    rec->is2D = 1;
    std::free(rec->cz);
    rec->cz = nullptr;
    gCurrent = rec;
    return 0;
}

int bsplineEval(const BSplineRec* rec, double t, Vec3* p) {
    if (rec == nullptr || p == nullptr || rec->knots == nullptr || rec->cx == nullptr || rec->cy == nullptr)
        return -1;
    const int order = rec->order, count = rec->count;
    if (order < 1 || count < order) return -1;
    const double* knots = rec->knots;
    if (!(t <= knots[count])) return -1;
    int span = count - 1;
    for (int j = order; j <= count; ++j) {
        if (knots[j] >= t) {
            span = j - 1;
            break;
        }
    }
    const bool has3D = rec->cz != nullptr && !rec->is2D;
    std::vector<double> d(static_cast<size_t>(order) * 3);
    for (int i = 0; i < order; ++i) {
        const int c = span - order + 1 + i;
        d[3 * i] = rec->cx[c];
        d[3 * i + 1] = rec->cy[c];
        d[3 * i + 2] = has3D ? rec->cz[c] : 0.0;
    }
    for (int r = 1; r < order; ++r) {
        for (int j = order - 1; j >= r; --j) {
            const int i = j + span - order + 1;
            const double den = knots[i + order - r] - knots[i];
            // Coinciding knots leave the lower point in place.
            const double alpha = std::fabs(den) < 1e-4 ? 0.0 : (t - knots[i]) / den;
            for (int c = 0; c < 3; ++c)
                d[3 * j + c] = (1 - alpha) * d[3 * (j - 1) + c] + alpha * d[3 * j + c];
        }
    }
    const size_t top = static_cast<size_t>(order - 1) * 3;
    *p = Vec3{d[top], d[top + 1], d[top + 2]};
    return 0;
}

int bsplineDiscretize(const BSplineRec* rec, double tol, Vec3** pts, int32_t* outCount) {
    if (pts == nullptr || outCount == nullptr) return -1;
    *pts = nullptr;
    *outCount = 0;
    if (rec == nullptr || rec->knots == nullptr || rec->cx == nullptr || rec->cy == nullptr) return -1;
    const int order = rec->order, count = rec->count;
    if (count < 2 || order < 2) return -1;
    const bool has3D = rec->cz != nullptr && !rec->is2D;

    std::vector<Vec3> out;
    out.reserve(static_cast<size_t>(10) * count + 1);
    int rc = 0;
    if (order == 2) {
        for (int i = 0; i < count; ++i) out.push_back(Vec3{rec->cx[i], rec->cy[i], has3D ? rec->cz[i] : 0.0});
    } else {
        if (count < order) return -1;
        double t0 = rec->knots[order - 1];
        if (rec->tStart >= t0) t0 = rec->tStart;
        double t1 = rec->knots[count];
        if (rec->tEnd <= t1 && t0 + 1e-4 <= rec->tEnd) t1 = rec->tEnd;
        const double step = (t1 - t0) / 20;
        if (!(step >= 0.001)) return -1;

        // Coarse pass: the end parameter is t1 itself, so rounding never steps past the last knot.
        double ct[21];
        Vec3 cp[21];
        for (int i = 0; i <= 20; ++i) {
            ct[i] = i == 20 ? t1 : t0 + i * step;
            if ((rc = bsplineEval(rec, ct[i], &cp[i])) < 0) return -1;
        }
        std::vector<int> bounds{0};
        for (int i = 1; i < 20; ++i) {
            if (!chordOk(cp[i - 1], cp[i], cp[i + 1], tol)) bounds.push_back(i);
        }
        bounds.push_back(20);

        out.push_back(cp[0]);
        std::vector<DiscEntry> stack;
        for (size_t s = 0; s + 1 < bounds.size(); ++s) {
            const int ia = bounds[s], ib = bounds[s + 1];
            if (ct[ib] - ct[ia] < 1e-4) continue;
            stack.push_back(DiscEntry{cp[ia], cp[ib], ct[ia], ct[ib]});
            while (!stack.empty()) {
                DiscEntry& top = stack.back();
                const double tm = 0.5 * (top.ta + top.tb);
                Vec3 pm;
                if ((rc = bsplineEval(rec, tm, &pm)) < 0) return -1;
                if (!chordOk(top.pa, pm, top.pb, tol) && stack.size() <= kDiscStackMax) {
                    const DiscEntry left{top.pa, pm, top.ta, tm};
                    top.pa = pm;
                    top.ta = tm;
                    stack.push_back(left);
                } else {
                    out.push_back(top.pb);
                    stack.pop_back();
                }
            }
        }
    }
    Vec3* buf = static_cast<Vec3*>(std::malloc(out.size() * sizeof(Vec3)));
    if (buf == nullptr) return -1;
    std::memcpy(buf, out.data(), out.size() * sizeof(Vec3));
    *pts = buf;
    *outCount = static_cast<int32_t>(out.size());
    return rc;
}
