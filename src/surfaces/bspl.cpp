// Cox-de Boor basis functions in triangular form and the B-spline curve record.
#include "surfaces/bspl.h"

#include <cmath>
#include <cstdlib>

namespace {

// The triangle's work arrays live on the stack; the derivative code of the surfaces shares the limit.
constexpr int32_t kMaxOrder = 30;

}  // namespace

int bsplBasis(const double* knots, int32_t num, int32_t order, int32_t span, double t, double* N) {
    if (knots == nullptr || N == nullptr || order < 1 || order > kMaxOrder) return -1;
    // Spans below order-1 would reach before the first knot.
    if (span < 0 || span >= num || span < order - 1) return -1;
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

void nurbsFreeCurve(BsplCurve* curve) {
    if (curve == nullptr) return;
    std::free(curve->knots);
    std::free(curve->ctrl);
    if (curve->rational) std::free(curve->weights);
    curve->knots = nullptr;
    curve->ctrl = nullptr;
    curve->weights = nullptr;
}
