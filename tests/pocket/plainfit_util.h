// The circle fit of the arc refit done the plain way, as the oracle of its tests: the pattern search
// over the spread of the hypot distances of every point.
#pragma once

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/vec.h"
#include "pocket/linearcfit.h"

// Half the spread of the distances from (x, y) to the points, and their mean radius.
inline double plainSpread(const std::vector<TaggedPoint>& p, double x, double y, double* radius) {
    double lo = 1e300, hi = -1;
    for (const TaggedPoint& q : p) {
        lo = std::min(lo, std::hypot(q.x - x, q.y - y));
        hi = std::max(hi, std::hypot(q.x - x, q.y - y));
    }
    *radius = 0.5 * (lo + hi);
    return 0.5 * (hi - lo);
}

// The best spread found from the chord's middle, and its centre.
inline double plainFit(const std::vector<TaggedPoint>& p, Vec2* c) {
    const TaggedPoint &s = p.front(), &e = p.back();
    const double chord = std::hypot(e.x - s.x, e.y - s.y);
    double r, cx = 0.5 * (s.x + e.x), cy = 0.5 * (s.y + e.y), sx = -(e.y - s.y) / chord * 10,
              sy = (e.x - s.x) / chord * 10, counter = 10, best = plainSpread(p, cx, cy, &r);
    for (int round = 0; round < 750 && counter >= 0.000001; ++round) {
        const double fp = plainSpread(p, cx + sx, cy + sy, &r), fm = plainSpread(p, cx - sx, cy - sy, &r);
        if (fp < best && fp <= fm) {
            cx += sx, cy += sy, best = fp;
        } else if (fm < best) {
            cx -= sx, cy -= sy, best = fm;
        } else {
            counter *= 0.5, sx *= 0.5, sy *= 0.5;
        }
    }
    *c = {cx, cy};
    return best;
}
