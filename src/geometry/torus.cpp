// Torus formulas of the tool model.
#include "geometry/torus.h"

#include <cmath>

#include "geometry/vec.h"

namespace {

constexpr double kSlopeTol = 0.001;  // of the slope and of the search interval

double slopeMiss(double s, double r, double R, double d, double slope) {
    const double rho = std::sqrt(s * s + d * d);
    const double h = R - rho;
    return -s * h / (std::sqrt(r * r - h * h) * rho) - slope;
}

}  // namespace

double torusLowHeight(double x, double r, double R, double y) {
    const double h = R - std::sqrt(x * x + y * y);
    const double rad = r * r - h * h;
    return rad < 0 ? 0.0 : -std::sqrt(rad);
}

int torusTangentParam(double* out, double r, double R, double d, double slope) {
    double lo = (R < d ? 0.0 : std::sqrt(R * R - d * d)) + 1e-6;
    double hi = std::sqrt((r + R) * (r + R) - d * d) - 1e-6;
    double gLo = slopeMiss(lo, r, R, d, slope);
    const double gHi = slopeMiss(hi, r, R, d, slope);
    // A line that misses the tube (or a zero tube) has no slope to search: NaN or inf here would
    // otherwise run the bisection on garbage and report it as found.
    if (!std::isfinite(gLo) || !std::isfinite(gHi)) return -1;
    if (std::fabs(gLo) < kSlopeTol) {
        *out = lo;
        return 0;
    }
    if (std::fabs(gHi) < kSlopeTol) {
        *out = hi;
        return 0;
    }
    if (gLo * gHi > 0) return -1;
    while (std::fabs(lo - hi) > kSlopeTol) {
        const double mid = 0.5 * (lo + hi);
        const double gMid = slopeMiss(mid, r, R, d, slope);
        if (std::fabs(gMid) < kSlopeTol) {
            *out = mid;
            return 0;
        }
        if ((gMid < 0) == (gLo < 0)) {
            lo = mid;
            gLo = gMid;
        } else {
            hi = mid;
        }
    }
    *out = lo;
    return 0;
}
