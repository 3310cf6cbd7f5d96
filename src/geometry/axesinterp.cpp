// Tool-axis interpolation along a point list.
#include "geometry/axesinterp.h"

#include <cmath>

#include "kernel/base/runreset.h"

namespace {

constexpr double kTol = 1e-5;

int axesInterpPolar = 1;

bool badRange(const Plist* list, int32_t i0, int32_t i1) {
    return list == nullptr || list->vectors == nullptr || i0 < 0 || i1 < i0 || i1 >= list->count;
}

}  // namespace

void axesInterpSetPolar(int value) {
    axesInterpPolar = value;
}

void axesInterpResetState() {
    axesInterpPolar = 1;
}
static const RunReset gRunReset(kRunResetGeometry, "axesInterp", axesInterpResetState);

int axesInterpRange(Plist* list, int32_t i0, int32_t i1, double total) {
    if (badRange(list, i0, i1)) return -1;
    const Vec3 v0 = list->vectors[i0], v1 = list->vectors[i1];
    const double a = acosClamped(vecDot3D(&v0, &v1));
    if (i0 + 1 >= i1) return 1;
    const double len = std::fabs(total);
    // Polar steps keep a constant tilt for axes on one cone; only worth it for small turns.
    const bool sameTilt = std::fabs(v0.z - v1.z) < kTol;
    double s = 0.0;
    for (int32_t j = i0 + 1; j < i1; ++j) {
        s += dist3D(&list->points[j - 1], &list->points[j]);
        double step;
        if (len >= kTol) {
            step = s * a / len;
            if (step > a) step = a;
        } else {
            step = static_cast<double>(j - i0) * a / static_cast<double>(i1 - i0);
        }
        Vec3* out = &list->vectors[j];
        if (axesInterpPolar && step < 0.2 && sameTilt && vecStepTowardPolar3D(out, &v0, &v1, step) >= 0)
            continue;
        vecRotateToward3D(out, &v0, &v1, step);
    }
    return 1;
}

int axesInterpRangePolar(Plist* list, int32_t i0, int32_t i1, double total) {
    if (badRange(list, i0, i1)) return -1;
    // The length is taken unsigned, as in axesInterpRange: a list running backwards gives a
    // negative total, which must not turn the axes away from their target.
    const double len = std::fabs(total);
    if (len < kTol) return 0;
    const Vec3 v0 = list->vectors[i0], v1 = list->vectors[i1];
    const double a = acosClamped(vecDot3D(&v0, &v1));
    double s = 0.0;
    for (int32_t j = i0 + 1; j < i1; ++j) {
        s += dist3D(&list->points[j - 1], &list->points[j]);
        double step = s * a / len;
        if (step > a) step = a;
        // Vertical axes have no polar angle; a plain turn is the same path for them.
        if (vecStepTowardPolar3D(&list->vectors[j], &v0, &v1, step) < 0)
            vecRotateToward3D(&list->vectors[j], &v0, &v1, step);
    }
    return 1;
}
