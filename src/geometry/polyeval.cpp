// Polynomial evaluation and the release of arc-length groups.
#include "geometry/polyeval.h"

#include <cstdlib>

int polyEvalHorner(const Polynomial* poly, double x, double* out) {
    if (poly == nullptr || poly->coef == nullptr || poly->count < 1 || out == nullptr) return -1;
    double v = poly->coef[poly->count - 1];
    for (int32_t k = poly->count - 2; k >= 0; --k) v = v * x + poly->coef[k];
    *out = v;
    return 0;
}

void splineSetFree(SplineSet* set) {
    if (set == nullptr) return;
    std::free(set->params);
    if (set->entries != nullptr) {
        for (int32_t i = 0; i < set->count; ++i) std::free(set->entries[i].coef);
        std::free(set->entries);
    }
    std::free(set);
}
