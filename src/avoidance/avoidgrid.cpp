#include "avoidance/avoidgrid.h"

#include <algorithm>
#include <cmath>

#include "avoidance/avoidtilt.h"
#include "avoidance/toolline.h"
#include "kernel/base/msg.h"

namespace {

constexpr double kTol = 1e-5;
constexpr int32_t kMsgTryToAvoid = 6011;
// Every restart of a scan follows a changed tilt; a grid that keeps trading one point for another
// would otherwise never end.
constexpr int32_t kMaxRestarts = 10000;

int32_t gMessageSent = 0;

Vec3 tiltedAxis(const Vec3* h, double t) {
    return Vec3{h->x * std::sin(t), h->y * std::sin(t), std::cos(t)};
}

// Cell index of a coordinate, clamped in floating point first so that far-off or non-finite boxes
// never convert out of the integer range.
int32_t cellIndex(double v, double origin, double cell, int32_t extra, int32_t count) {
    double c = (v - origin) / cell;
    if (!(c == c)) return -1;
    c = std::clamp(c, -1.0, static_cast<double>(count) + 1.0);
    const int32_t i = static_cast<int32_t>(std::trunc(c)) + extra;
    return std::clamp<int32_t>(i, 0, count - 1);
}

}  // namespace

int gridCellRange(const HeightGrid* g, const Vec3* lo, const Vec3* hi, int32_t out[4]) {
    if (!g || g->rows < 1 || g->columns < 1 || !(g->cell > 0)) return -1;
    out[0] = cellIndex(lo->x, g->x0, g->cell, 0, g->columns);
    out[1] = cellIndex(lo->y, g->y0, g->cell, 0, g->rows);
    out[2] = cellIndex(hi->x, g->x0, g->cell, 1, g->columns);
    out[3] = cellIndex(hi->y, g->y0, g->cell, 1, g->rows);
    if (out[0] < 0 || out[1] < 0 || out[2] < 0 || out[3] < 0) return -1;
    return out[0] <= out[2] && out[1] <= out[3] ? 1 : -1;
}

int gridPointTilt(const Vec3* P, double* t, int32_t tilt, int32_t dir, const Vec3* Q,
                  const ToolDescription* tool, const Vec3* h) {
    const auto isFree = [&](double s) {
        const Vec3 a = tiltedAxis(h, s);
        return toolLineHit(P, &a, tool, Q) == 0;
    };
    if (isFree(*t)) return 0;
    if (avoidSwitches()->unresolvedMode == 4) {
        const Vec3 a = tiltedAxis(h, *t);
        return toolLiftInside(P, &a, tool, Q);
    }
    if (!tilt) {
        avoidSetReference(Q);
        return kAvoidUnresolved;
    }
    const double T = tool->maxSideAngle;
    bool found = false;
    double f = 0.0;
    const auto attempt = [&](double s, bool counts) {
        if (!found && isFree(s) && counts) found = true, f = s;
    };
    if (dir != 2) {
        if (*t > T) {
            attempt(T, T >= 0);
            attempt((T + *t) / 2, true);
        }
        if (!found) {
            attempt(0.0, true);
            attempt(*t / 2, true);
        }
    }
    const int result = dir == 0 ? (found ? 1 : 2) : dir;
    const double limit = avoidTiltLimit();
    if (!found && dir != 1 && *t < limit) {
        attempt(limit, true);
        attempt((limit + *t) / 2, true);
    }
    if (!found) return kAvoidUnresolved;
    double c = *t;
    while (std::fabs(c - f) > 0.001) {
        const double m = (c + f) / 2;
        (isFree(m) ? f : c) = m;
    }
    *t = f;
    return result;
}

int avoidCollisionTilt(const Vec3* P, const HeightGrid* grid, const ToolDescription* tool, Vec3* a,
                       int32_t tilt, int32_t mode) {
    if (!P || !grid || !tool || !a || !grid->heights) return -1;
    a->z = std::min(a->z, 1.0);
    if (avoidSwitches()->verticalMode) mode = 1;
    const Vec3 z{0, 0, 1};
    Vec3 u{0, 0, 0}, h{1, 0, 0};
    if (crossUnit3D(&z, a, &u) != 0)
        tilt = 0;
    else if (crossUnit3D(&u, &z, &h) != 0)
        return -1;
    const double reach = (avoidSwitches()->recheck1 ? tool->stage1Diameter : tool->stage4Diameter) / 2;
    const double length = tool->stage4Top;
    const int32_t passes = mode != 0 ? 1 : 2;
    int result = 0;
    bool anyTilt = false;
    for (int32_t pass = 0; pass < passes; pass++) {
        double t = acosClamped(a->z);
        const int32_t dir = mode != 0 ? mode : pass + 1;
        const double ax = dir == 2 ? h.x * std::sin(t) : a->x, ay = dir == 2 ? h.y * std::sin(t) : a->y;
        const Vec3 lo{std::min(P->x, P->x + length * ax) - reach, std::min(P->y, P->y + length * ay) - reach,
                      0};
        const Vec3 hi{std::max(P->x, P->x + length * ax) + reach, std::max(P->y, P->y + length * ay) + reach,
                      0};
        int32_t cells[4];
        if (gridCellRange(grid, &lo, &hi, cells) < 0) break;
        double floorZ = P->z - tool->stage4Diameter / 2 + kTol;
        if (std::fabs(a->x) < kTol && std::fabs(a->y) < kTol) floorZ += tool->cutterTop;
        int failed = 0;
        Vec3 failedAt{0, 0, 0};
        int32_t restarts = 0;
        for (int32_t i = cells[0]; i <= cells[2] && !failed; i++) {
            for (int32_t j = cells[1]; j <= cells[3]; j++) {
                const Vec3 q{grid->x0 + i * grid->cell, grid->y0 + j * grid->cell, grid->heights[j][i]};
                if (q.z < floorZ) continue;
                const int r = gridPointTilt(P, &t, tilt, dir, &q, tool, &h);
                if (r == 0) continue;
                if (r < 0) {
                    failed = r, failedAt = q;
                    break;
                }
                anyTilt = true;
                const double c = std::cos(t);
                if ((dir == 1 && c > a->z + kTol) || (dir == 2 && c < a->z - kTol)) {
                    *a = tiltedAxis(&h, t);
                    result = dir;
                }
                if (++restarts > kMaxRestarts) {
                    failed = kAvoidUnresolved, failedAt = q;
                    break;
                }
                i = cells[0], j = cells[1] - 1;
            }
        }
        if (!failed) break;
        if (pass == passes - 1) {
            avoidSetReference(&failedAt);
            return failed;
        }
    }
    if (anyTilt && !gMessageSent) {
        gMessageSent = 1;
        msgDouble(9, kMsgTryToAvoid, "*Collision detected - try to avoid", 0.0);
    }
    return result;
}

void avoidGridResetState() {
    gMessageSent = 0;
    toolLiftReset();
}
