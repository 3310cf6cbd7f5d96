// Bounded smoothing: a primal-dual interior-point iteration on min x'Kx (K the Gram matrix of the
// weighted second differences) subject to l <= x <= u, with a pentadiagonal LDL^T Newton solve.
#include "geometry/smoothfit.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(double* p) const { std::free(p); }
};
using Scratch = std::unique_ptr<double, FreeDeleter>;

double* allocDoubles(size_t n) {
    return static_cast<double*>(std::malloc(n * sizeof(double)));
}

// y = M x for the symmetric pentadiagonal M, any n >= 1.
void pentaMul(int32_t n, const double* d, const double* e, const double* f, const double* x, double* y) {
    for (int32_t i = 0; i < n; ++i) {
        double v = d[i] * x[i];
        if (i + 1 < n) v += e[i] * x[i + 1];
        if (i + 2 < n) v += f[i] * x[i + 2];
        if (i >= 1) v += e[i - 1] * x[i - 1];
        if (i >= 2) v += f[i - 2] * x[i - 2];
        y[i] = v;
    }
}

// out = 1 / x; -1 when some |x[i]| < 1e-16.
int reciprocal(int32_t n, const double* x, double* out) {
    for (int32_t i = 0; i < n; ++i) {
        if (!(std::fabs(x[i]) >= 1e-16)) return -1;
        out[i] = 1.0 / x[i];
    }
    return 0;
}

double minProduct(int32_t n, const double* x, const double* z) {
    double m = 1000.0;
    for (int32_t i = 0; i < n; ++i) m = std::min(m, x[i] * z[i]);
    return m;
}

double maxProduct(int32_t n, const double* x, const double* z) {
    double m = -1000.0;
    for (int32_t i = 0; i < n; ++i) m = std::max(m, x[i] * z[i]);
    return m;
}

bool badRow(double s) {
    return s == 0.0 || std::isnan(s);
}

int pentaFactor(int32_t n, double* d, double* e, double* f) {
    e[n - 1] = 0.0;
    f[n - 1] = 0.0;
    f[n - 2] = 0.0;
    double s = std::fabs(d[0]) + std::fabs(e[0]) + std::fabs(f[0]);
    if (badRow(s)) return kPentaBadRow;
    // Signed: a matrix whose first pivot is negative is not positive definite.
    if (!(d[0] >= 1e-15 * s)) return kPentaSmallPivot;
    // Originals of the rows already scaled: the scale sums and the e' update need them.
    double oE1 = e[0], oF1 = f[0], oF2 = 0.0;
    e[0] /= d[0];
    f[0] /= d[0];
    for (int32_t i = 1; i < n; ++i) {
        s = (i >= 2 ? std::fabs(oF2) : 0.0) + std::fabs(oE1) + std::fabs(d[i]) + std::fabs(e[i]) +
            std::fabs(f[i]);
        if (std::isnan(s)) return kPentaBadRow;
        if (s == 0.0) return kPentaSmallPivot;
        d[i] -= e[i - 1] * e[i - 1] * d[i - 1];
        if (i >= 2) d[i] -= f[i - 2] * f[i - 2] * d[i - 2];
        if (!(std::fabs(d[i]) >= 1e-15 * s)) return kPentaSmallPivot;
        const double oE = e[i], oF = f[i];
        if (i < n - 1) e[i] = (e[i] - e[i - 1] * oF1) / d[i];
        if (i < n - 2) f[i] /= d[i];
        oF2 = oF1;
        oE1 = oE;
        oF1 = oF;
    }
    return kPentaOk;
}

int pentaBacksolve(int32_t n, const double* d, const double* e, const double* f, double* b) {
    if (!(std::fabs(d[1]) >= 1e-15)) return kPentaSmallPivot;
    b[1] -= e[0] * b[0];
    for (int32_t i = 2; i < n; ++i) b[i] -= e[i - 1] * b[i - 1] + f[i - 2] * b[i - 2];
    for (int32_t i = 0; i < n; ++i) {
        if (!(std::fabs(d[i]) >= 1e-15)) return kPentaSmallPivot;
        b[i] /= d[i];
    }
    b[n - 2] -= e[n - 2] * b[n - 1];
    for (int32_t i = n - 3; i >= 0; --i) b[i] -= e[i] * b[i + 1] + f[i] * b[i + 2];
    return kPentaOk;
}

}  // namespace

int bandAlloc(int32_t n, BandMatrix* m, double d0, double e0, double f0) {
    if (m == nullptr || n < 1) return -1;
    m->n = n;
    m->d = allocDoubles(static_cast<size_t>(n));
    m->e = allocDoubles(static_cast<size_t>(n));
    m->f = allocDoubles(static_cast<size_t>(n));
    if (!m->d || !m->e || !m->f) {
        bandFree(m);
        return -1;
    }
    for (int32_t i = 0; i < n; ++i) {
        m->d[i] = d0;
        m->e[i] = i < n - 1 ? e0 : 0.0;
        m->f[i] = i < n - 2 ? f0 : 0.0;
    }
    return 0;
}

void bandFree(BandMatrix* m) {
    if (m == nullptr) return;
    std::free(m->d);
    std::free(m->e);
    std::free(m->f);
    m->d = m->e = m->f = nullptr;
}

int pentaSolve(int mode, int32_t n, double* d, double* e, double* f, double* b) {
    if (mode < 0 || mode > 2) return kPentaBadRow;
    if (n < 3 || !d || !e || !f || (mode != 1 && !b)) return kPentaBadArgs;
    if (mode != 2) {
        const int rc = pentaFactor(n, d, e, f);
        if (rc != kPentaOk || mode == 1) return rc;
    }
    return pentaBacksolve(n, d, e, f, b);
}

int bandedSolve(int32_t n, const BandMatrix* M, const double* rhs, double* out) {
    if (n < 3 || M == nullptr || !M->d || !M->e || !M->f || !rhs || !out) return kPentaBadArgs;
    Scratch work(allocDoubles(static_cast<size_t>(3) * n));
    if (!work) return kPentaBadArgs;
    double* d = work.get();
    double* e = d + n;
    double* f = e + n;
    std::copy(M->d, M->d + n, d);
    std::copy(M->e, M->e + n, e);
    std::copy(M->f, M->f + n, f);
    std::copy(rhs, rhs + n, out);
    return pentaSolve(0, n, d, e, f, out);
}

int32_t boundPush(int32_t n, double frac, double* x, const double* l, const double* u) {
    int32_t moved = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (x[i] > u[i]) {
            x[i] = u[i] - frac * (u[i] - l[i]);
            ++moved;
        } else if (x[i] < l[i]) {
            x[i] = l[i] + frac * (u[i] - l[i]);
            ++moved;
        }
    }
    return moved;
}

int stepToBoundary(int32_t n, const double* rL, const double* rU, const double* zL, const double* zU,
                   const double* dzL, const double* dzU, const double* dx, double factor, double* alpha) {
    if (n < 2) return 0;
    if (factor <= 0.1) {
        *alpha = 1.0;
        return 0;
    }
    Scratch inv(allocDoubles(static_cast<size_t>(n)));
    if (!inv) return -1;
    double m = std::min(minProduct(n, dx, rL), -maxProduct(n, dx, rU));
    if (reciprocal(n, zL, inv.get()) != 0) return -1;
    m = std::min(m, minProduct(n, dzL, inv.get()));
    if (reciprocal(n, zU, inv.get()) != 0) return -1;
    m = std::min(m, minProduct(n, dzU, inv.get()));
    m = std::min(m, -0.5);
    *alpha = std::min(1.0, -factor / m);
    return 0;
}

int16_t smoothSplineFit(const double* t, const double* y0, const double* dL, const double* dU, double* out,
                        int32_t n) {
    if (!t || !y0 || !dL || !dU || !out || n < 1) return -1;
    double hmax = 0.0;
    for (int32_t i = 1; i < n; ++i) {
        const double step = t[i] - t[i - 1];
        if (!(step >= 1e-12)) return -1;
        hmax = std::max(hmax, step);
    }
    // Fewer than three values have no second difference to smooth.
    if (n < 3) {
        std::copy(y0, y0 + n, out);
        return 1;
    }

    constexpr int kVectors = 18;
    Scratch work(allocDoubles(static_cast<size_t>(kVectors) * n));
    if (!work) return -1;
    double* v = work.get();
    auto next = [&v, n]() {
        double* p = v;
        v += n;
        return p;
    };
    double* h = next();
    double* x = next();
    double* l = next();
    double* u = next();
    double* sL = next();
    double* sU = next();
    double* rL = next();
    double* rU = next();
    double* zL = next();
    double* zU = next();
    double* dx = next();
    double* dzL = next();
    double* dzU = next();
    double* g = next();
    double* Hx = next();
    BandMatrix H{n, next(), next(), next()};
    BandMatrix M{};
    if (bandAlloc(n, &M, 0.0, 0.0, 0.0) != 0) return -1;
    std::unique_ptr<BandMatrix, void (*)(BandMatrix*)> mGuard(&M, bandFree);

    h[0] = 0.0;
    for (int32_t i = 1; i < n; ++i) h[i] = hmax / (t[i] - t[i - 1]);
    // K = D'D accumulated row by row over the weighted second differences
    // h_j x[j-1] - (h_j + h_j+1) x[j] + h_j+1 x[j+1]: right for every n >= 3.
    std::fill(H.d, H.d + n, 0.0);
    std::fill(H.e, H.e + n, 0.0);
    std::fill(H.f, H.f + n, 0.0);
    for (int32_t j = 1; j <= n - 2; ++j) {
        const double c0 = h[j], c1 = -(h[j] + h[j + 1]), c2 = h[j + 1];
        H.d[j - 1] += c0 * c0;
        H.d[j] += c1 * c1;
        H.d[j + 1] += c2 * c2;
        H.e[j - 1] += c0 * c1;
        H.e[j] += c1 * c2;
        H.f[j - 1] += c0 * c2;
    }
    for (int32_t i = 0; i < n; ++i) {
        H.d[i] = 2.0 * (H.d[i] + 1.0);
        H.e[i] *= 2.0;
        H.f[i] *= 2.0;
    }

    for (int32_t i = 0; i < n; ++i) {
        x[i] = y0[i];
        l[i] = x[i] - dL[i];
        u[i] = x[i] + dU[i];
        zL[i] = 1.0;
        zU[i] = 1.0;
    }
    for (int iter = 0;;) {
        // Only start values can be outside: later iterates are clamped at the end of each round.
        if (boundPush(n, 0.1, x, l, u) > 0) break;
        for (int32_t i = 0; i < n; ++i) {
            sL[i] = x[i] - l[i];
            sU[i] = u[i] - x[i];
        }
        if (reciprocal(n, sL, rL) != 0 || reciprocal(n, sU, rU) != 0) break;
        for (int32_t i = 0; i < n; ++i) {
            M.d[i] = H.d[i] + rU[i] * zU[i] + rL[i] * zL[i];
            M.e[i] = H.e[i];
            M.f[i] = H.f[i];
        }
        pentaMul(n, H.d, H.e, H.f, x, Hx);
        for (int32_t i = 0; i < n; ++i) g[i] = Hx[i] - 2.0 * x[i];
        if (bandedSolve(n, &M, g, dx) != kPentaOk) break;
        double dxMin = -dx[0], dxMax = -dx[0];
        for (int32_t i = 0; i < n; ++i) {
            dx[i] = -dx[i];
            dzL[i] = -(1.0 + dx[i] * rL[i]) * zL[i];
            dzU[i] = (-1.0 + dx[i] * rU[i]) * zU[i];
            dxMin = std::min(dxMin, dx[i]);
            dxMax = std::max(dxMax, dx[i]);
        }
        if (std::fabs(dxMax) < 1e-5 && std::fabs(dxMin) < 1e-5) break;
        double alpha = 0.5;
        if (stepToBoundary(n, rL, rU, zL, zU, dzL, dzU, dx, 0.85, &alpha) != 0) break;
        for (int32_t i = 0; i < n; ++i) {
            x[i] += alpha * dx[i];
            zL[i] += alpha * dzL[i];
            zU[i] += alpha * dzU[i];
        }
        if (std::fabs(alpha) < 0.001) break;
        boundPush(n, 0.0, x, l, u);
        if (++iter >= 50) break;
    }
    std::copy(x, x + n, out);
    return boundPush(n, 0.0, out, l, u) == 0 ? 1 : 0;
}

int16_t smoothSplineBuild(const double* t, const double* y0, const double* dL, const double* dU, double* out,
                          int32_t n) {
    if (n < 2) return 0;
    const int16_t r = smoothSplineFit(t, y0, dL, dU, out, n);
    return r >= 1 ? 1 : r;
}
