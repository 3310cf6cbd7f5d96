// Value-style vector helpers and the swing frame's axis and across directions, shared by the two
// files of the tool-axis interval family (compact formulas read closer to the geometry).
#pragma once

#include <cmath>

#include "avoidance/axisintervals.h"

namespace axisvec {

inline Vec3 add(Vec3 a, Vec3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
inline Vec3 sub(Vec3 a, Vec3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
inline Vec3 mul(double k, Vec3 a) {
    return {k * a.x, k * a.y, k * a.z};
}
inline double dot(Vec3 a, Vec3 b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
inline Vec3 cross(Vec3 a, Vec3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
inline double len(Vec3 a) {
    return std::sqrt(dot(a, a));
}

inline Vec3 axisAt(const AxisFrame* f, double t) {
    return add(mul(std::cos(t), f->A), mul(std::sin(t), f->W));
}
inline Vec3 acrossAt(const AxisFrame* f, double t) {
    return add(mul(-std::sin(t), f->A), mul(std::cos(t), f->W));
}

}  // namespace axisvec
