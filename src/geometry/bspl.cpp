// Cox-de Boor basis functions in triangular form and the B-spline curve record.
#include "geometry/bspl.h"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace {

// The triangle's work arrays live on the stack; the derivative code of the surfaces shares the limit.
constexpr int32_t kMaxOrder = kBsplMaxOrder;

// The triangle of one fixed order: the same quotients, products and sums in the same order as the loop
// of any order below, unrolled. A quotient whose divisor is too small is taken and dropped (its term
// vanishes either way), so that the quotients of a row need not wait for each other's test.
template <int Order>
int basisOfOrder(const double* knots, int32_t span, double t, double* N) {
    double left[Order], right[Order];
    int rc = 0;
    N[0] = 1.0;
#pragma GCC unroll 8
    for (int j = 1; j < Order; ++j) {
        left[j] = t - knots[span + 1 - j];
        right[j] = knots[span + j] - t;
        double saved = 0.0;
#pragma GCC unroll 8
        for (int r = 0; r < j; ++r) {
            const double den = right[r + 1] + left[j - r];
            const bool small = std::fabs(den) < 1e-8;
            const double q = N[r] / den;
            const double temp = small ? 0.0 : q;
            rc = small ? -1 : rc;
            N[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        N[j] = saved;
    }
    return rc;
}

}  // namespace

int32_t knotSpan(const double* knots, int32_t num, int32_t order, double t) {
    if (t >= knots[num]) return num - 1;
    if (!(t >= knots[order])) return order - 1;
    int32_t lo = order - 1, hi = num;  // knots[lo] <= t < knots[hi]
    while (hi - lo > 1) {
        const int32_t mid = lo + (hi - lo) / 2;
        if (t < knots[mid]) {
            hi = mid;
        } else {
            lo = mid;
        }
    }
    return lo;
}

int bsplBasis(const double* knots, int32_t num, int32_t order, int32_t span, double t, double* N) {
    if (knots == nullptr || N == nullptr || order < 1 || order > kMaxOrder) return -1;
    // Spans below order-1 would reach before the first knot.
    if (span < 0 || span >= num || span < order - 1) return -1;
    switch (order) {
        case 2:
            return basisOfOrder<2>(knots, span, t, N);
        case 3:
            return basisOfOrder<3>(knots, span, t, N);
        case 4:
            return basisOfOrder<4>(knots, span, t, N);
        default:
            break;
    }
    N[0] = 1.0;
    if (order < 2) return 0;
    double left[kMaxOrder];
    double right[kMaxOrder];
    int rc = 0;
    for (int32_t j = 1; j < order; ++j) {
        left[j] = t - knots[span + 1 - j];
        right[j] = knots[span + j] - t;
        double saved = 0.0;
        for (int32_t r = 0; r < j; ++r) {
            const double den = right[r + 1] + left[j - r];
            double temp = 0.0;
            if (std::fabs(den) < 1e-8) {
                rc = -1;  // a repeated knot inside the span's support: that term vanishes
            } else {
                temp = N[r] / den;
            }
            N[r] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        N[j] = saved;
    }
    return rc;
}

int bsplBasisSure(const double* knots, int32_t num, int32_t order, int32_t span, double t) {
    if (knots == nullptr || order < 1 || order > kMaxOrder) return 0;
    if (span < 0 || span >= num || span < order - 1) return 0;
    // bsplBasis's divisor (knots[span + r + 1] - t) + (t - knots[span + 1 - j + r]) is this difference up
    // to a few roundings of knot-sized numbers.
    for (int32_t j = 1; j < order; ++j)
        for (int32_t r = 0; r < j; ++r) {
            const double hi = knots[span + r + 1], lo = knots[span + 1 - j + r];
            if (!(hi - lo > 1e-8 + 1e-12 * (1.0 + std::fabs(hi) + std::fabs(lo) + std::fabs(t)))) return 0;
        }
    return 1;
}

int bsplBasisDerivs(int32_t span, const double* knots, int32_t num, int32_t order, int32_t n, double t,
                    double (*ders)[kBsplMaxOrder]) {
    if (knots == nullptr || ders == nullptr || order < 1 || order > kMaxOrder || n < 0) return -1;
    if (span < order - 1 || span >= num) return -1;
    const int32_t p = order - 1;
    // ndu holds the basis functions of every degree (upper triangle) and the knot differences (lower).
    double ndu[kMaxOrder][kMaxOrder];
    double left[kMaxOrder], right[kMaxOrder];
    ndu[0][0] = 1.0;
    for (int32_t j = 1; j <= p; ++j) {
        left[j] = t - knots[span + 1 - j];
        right[j] = knots[span + j] - t;
        double saved = 0.0;
        for (int32_t r = 0; r < j; ++r) {
            ndu[j][r] = right[r + 1] + left[j - r];
            const double temp = std::fabs(ndu[j][r]) < 1e-8 ? 0.0 : ndu[r][j - 1] / ndu[j][r];
            ndu[r][j] = saved + right[r + 1] * temp;
            saved = left[j - r] * temp;
        }
        ndu[j][j] = saved;
    }
    for (int32_t j = 0; j <= p; ++j) ders[0][j] = ndu[j][p];
    for (int32_t k = 1; k <= n; ++k)
        for (int32_t j = 0; j <= p; ++j) ders[k][j] = 0.0;
    // Derivatives from differences of the lower-degree functions.
    double a[2][kMaxOrder];
    auto recip = [](double d) { return std::fabs(d) < 1e-8 ? 0.0 : 1.0 / d; };
    for (int32_t r = 0; r <= p; ++r) {
        int32_t s1 = 0, s2 = 1;
        a[0][0] = 1.0;
        for (int32_t k = 1; k <= n && k <= p; ++k) {
            double d = 0.0;
            const int32_t rk = r - k, pk = p - k;
            if (r >= k) {
                a[s2][0] = a[s1][0] * recip(ndu[pk + 1][rk]);
                d = a[s2][0] * ndu[rk][pk];
            }
            const int32_t j1 = rk >= -1 ? 1 : -rk;
            const int32_t j2 = r - 1 <= pk ? k - 1 : p - r;
            for (int32_t j = j1; j <= j2; ++j) {
                a[s2][j] = (a[s1][j] - a[s1][j - 1]) * recip(ndu[pk + 1][rk + j]);
                d += a[s2][j] * ndu[rk + j][pk];
            }
            if (r <= pk) {
                a[s2][k] = -a[s1][k - 1] * recip(ndu[pk + 1][r]);
                d += a[s2][k] * ndu[r][pk];
            }
            ders[k][r] = d;
            std::swap(s1, s2);
        }
    }
    double factor = p;
    for (int32_t k = 1; k <= n && k <= p; ++k) {
        for (int32_t j = 0; j <= p; ++j) ders[k][j] *= factor;
        factor *= p - k;
    }
    return 0;
}

void nurbsFreeCurve(BsplCurve* curve) {
    if (curve == nullptr) return;
    std::free(curve->knots);
    std::free(curve->ctrl);
    if (curve->rational) std::free(curve->weights);
    curve->knots = nullptr;
    curve->ctrl = nullptr;
    curve->weights = nullptr;
}
