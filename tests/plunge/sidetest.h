// Side paths for the plunge tests: radial paths at fixed polar angles, polar point lists, arrays.
#pragma once

#include <cmath>
#include <vector>

#include "geometry/plist.h"

namespace sidetest {

struct Polar {
    double t, r, angle, z;
    int kind;
};

inline Plist* polarPath(const std::vector<Polar>& pts) {
    Plist* l = plistCreate(256, 1);
    const Vec3 up{0, 0, 1};
    for (const Polar& p : pts) {
        const Vec3 q{p.r * std::cos(p.angle), p.r * std::sin(p.angle), p.z};
        plistAppend(l, p.t, &q, static_cast<uint16_t>(p.kind << 8), &up, p.kind == 2 ? 0 : 1);
    }
    return l;
}

// Along the radius at `angle`, parameter = radius - 10 = 0 .. n-1; lead and trail link points.
inline Plist* ray(double angle, int n = 11, int lead = 0, int trail = 0, double z = 0) {
    std::vector<Polar> pts;
    for (int i = 0; i < n; ++i)
        pts.push_back({double(i), 10.0 + i, angle, z, i < lead || i >= n - trail ? 2 : 0});
    return polarPath(pts);
}

inline PlistArray* arrayOf(std::vector<Plist*> lists) {
    PlistArray* array = plistArrayCreate(4);
    for (Plist* l : lists) {
        plistArrayAdd(array, l);
        plistFree(l);
    }
    return array;
}

inline Plist* none() {
    return plistCreate(4, 1);
}
inline double polar(const Vec3& p) {
    return std::atan2(p.y, p.x);
}

}  // namespace sidetest
using namespace sidetest;
