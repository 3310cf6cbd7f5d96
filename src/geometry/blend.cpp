#include "geometry/blend.h"

double blendC3(double t, double t0, double t1, double a0, double a1) {
    if (t <= t0) return a0;
    if (t >= t1) return a1;
    double s = (t - t0) / (t1 - t0);
    double s4 = s * s * s * s;
    return a0 + (a1 - a0) * s4 * (35.0 - 84.0 * s + 70.0 * s * s - 20.0 * s * s * s);
}
