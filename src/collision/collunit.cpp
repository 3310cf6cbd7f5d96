#include "collision/collunit.h"

#include <cmath>

namespace {
double gUnitFactor = 1.0;
}  // namespace

int collSetUnitFactor(double factor) {
    if (!(factor > 0.0) || !std::isfinite(factor)) return -1;
    gUnitFactor = factor;
    return 1;
}

double collUnitFactor() {
    return gUnitFactor;
}
