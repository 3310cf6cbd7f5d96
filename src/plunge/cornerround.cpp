// Corner rounding of side paths.
#include "plunge/cornerround.h"

#include <cmath>
#include <cstdlib>
#include <vector>

#include "geometry/curve3d.h"
#include "geometry/plist.h"
#include "geometry/seg3d.h"
#include "geometry/vec.h"

namespace {

constexpr int32_t kTransitionPoints = 1000;

int kindOf(const Plist* list, int32_t i) {
    return list->flags[i] >> 8;
}
void setKind(Plist* list, int32_t i, int kind) {
    list->flags[i] = static_cast<uint16_t>((kind << 8) | (list->flags[i] & 0xFF));
}

Vec3 lerp(const Vec3& a, const Vec3& b, double f) {
    return {a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
}

// Inserts n - 1 evenly spaced points into segment i -> i + 1: the number inserted, or -1.
int32_t subdivide(Plist* path, int32_t i, int32_t n) {
    const Vec3 a = path->points[i], b = path->points[i + 1];
    const double ta = path->parameters[i], tb = path->parameters[i + 1];
    const Vec3 va = path->vectors ? path->vectors[i] : Vec3{0, 0, 1};
    const Vec3 vb = path->vectors ? path->vectors[i + 1] : Vec3{0, 0, 1};
    const uint8_t byte = path->bytes ? path->bytes[i] : 0;
    for (int32_t k = 1; k < n; ++k) {
        const double f = double(k) / n;
        const Vec3 p = lerp(a, b, f), v = lerp(va, vb, f);
        const int32_t at = plistInsert(path, ta + f * (tb - ta), &p, path->flags[i], &v, byte);
        if (at != i + k) {
            // A parameter within the list's resolution of a neighbour put it elsewhere: left there,
            // it would break the parameter order of the path.
            if (at >= 0) plistDeleteRange(path, at, at);
            return -1;
        }
        setSplitKind(at, path);
    }
    return n - 1;
}

// The point at path distance d from the corner walking by `dir`, as a parameter.
int walkTo(const Plist* path, int32_t corner, double d, int dir, double* t) {
    double acc = 0;
    for (int32_t i = corner; i + dir >= 0 && i + dir < path->count; i += dir) {
        const double len = dist3D(&path->points[i], &path->points[i + dir]);
        if (acc + len >= d && len > 0) {
            const double f = (d - acc) / len;
            *t = path->parameters[i] + f * (path->parameters[i + dir] - path->parameters[i]);
            return 1;
        }
        acc += len;
    }
    return -1;
}

// The fitter's degeneracy threshold is a squared length; fillets of small tolerances need a finer one.
// The guard restores it on every exit.
struct ApproxScale {
    ApproxScale() { approxScaleTol(0.0001); }
    ~ApproxScale() { approxScaleTol(10000.0); }
};

}  // namespace

double turnAngleDeg(const Vec3* previous, const Vec3* point, const Vec3* next) {
    const Vec3 u{point->x - previous->x, point->y - previous->y, point->z - previous->z};
    const Vec3 v{next->x - point->x, next->y - point->y, next->z - point->z};
    const double lu = vecLen3D(&u), lv = vecLen3D(&v);
    if (lu < 1e-5 || lv < 1e-5) return 0;
    return acosClamped(vecDot3D(&u, &v) / (lu * lv)) * 57.29577951308232;
}

int32_t findCorner(const Plist* path, int32_t from, double angleDeg) {
    if (!path) return -1;
    for (int32_t i = from < 1 ? 1 : from; i < path->count - 1; ++i)
        if (turnAngleDeg(&path->points[i - 1], &path->points[i], &path->points[i + 1]) >= angleDeg) return i;
    return -1;
}

int32_t refineAroundCorner(Plist* path, int32_t corner, double range, double step, int32_t* before,
                           int32_t* after) {
    *before = *after = 0;
    if (!path || corner < 0 || corner >= path->count || !(step > 0)) return -1;
    double acc = 0;
    for (int32_t i = corner; i > 0 && acc <= range; --i) {
        const double len = dist3D(&path->points[i - 1], &path->points[i]);
        if (len > step + 1e-5) {
            const int32_t added = subdivide(path, i - 1, static_cast<int32_t>(len / step) + 1);
            if (added < 0) return -1;
            *before += added;
            corner += added;
        }
        acc += len;
    }
    acc = 0;
    for (int32_t i = corner; i < path->count - 1 && acc <= range;) {
        const double len = dist3D(&path->points[i], &path->points[i + 1]);
        int32_t added = 0;
        if (len > step + 1e-5) {
            added = subdivide(path, i, static_cast<int32_t>(len / step) + 1);
            if (added < 0) return -1;
            *after += added;
        }
        i += added + 1;
        acc += len;
    }
    return corner;
}

int pathPointsAtDistance(const Plist* path, int32_t corner, double d, double* tBefore, double* tAfter) {
    if (!path || corner < 0 || corner >= path->count) return -1;
    return walkTo(path, corner, d, -1, tBefore) == 1 && walkTo(path, corner, d, 1, tAfter) == 1 ? 1 : -1;
}

void setSplitKind(int32_t index, Plist* path) {
    if (!path || index < 0 || index >= path->count) return;
    const bool nextLink = index + 1 < path->count && kindOf(path, index + 1) == kPointLink;
    const bool prevLink = index > 0 && kindOf(path, index - 1) == kPointLink;
    setKind(path, index, nextLink || prevLink ? kPointLink : kPointOrdinary);
}

int filletCorner(int32_t corner, Plist* path, double tol, const CornerGuard* guard) {
    tol = std::fabs(tol);
    if (!path || corner <= 0 || corner >= path->count - 1 || tol < 1e-5) return -1;
    const Vec3 c = path->points[corner];
    double t1 = 0, t2 = 0, deviation = 0;
    for (double d = tol / 10;; d += tol / 10) {
        if (pathPointsAtDistance(path, corner, d, &t1, &t2) < 0) return -1;
        Vec3 p1, p2;
        plistPointAtParam(path, t1, &p1);
        plistPointAtParam(path, t2, &p2);
        deviation = distPointSeg3D(&p1, &p2, &c, nullptr);
        if (deviation > 1.5 * tol || d >= 1.5 * tol - 1e-12) break;
    }
    if (plistSplitAtParam(path, t1, 1e-5) < 0) return -1;
    const int32_t i1 = plistSplitIndex();
    setSplitKind(i1, path);
    if (plistSplitAtParam(path, t2, 1e-5) < 0) return -1;
    const int32_t i2 = plistSplitIndex();
    setSplitKind(i2, path);
    if (i1 <= 0 || i2 >= path->count - 1 || i2 <= i1) return -1;
    const int k1 = kindOf(path, i1), k2 = kindOf(path, i2);
    int kind = k1;
    if (k1 != kPointLink && k2 == kPointLink)
        kind = kPointLink;
    else if (k1 == 0 && k2 != 0)
        kind = k2;
    Vec3* pts = nullptr;
    int32_t n = 0;
    if (curveApproxBetween(&path->points[i1], &path->points[i1 - 1], &path->points[i2], &path->points[i2 + 1],
                           deviation / 2, 0.001, &pts, &n) != 0)
        return -1;
    Plist* curve = plistCreate(kTransitionPoints, 0);
    if (!curve) {
        std::free(pts);
        return -1;
    }
    double s = 0;
    for (int32_t k = 0; k < n && k < kTransitionPoints; ++k) {
        if (k > 0) s += dist3D(&pts[k - 1], &pts[k]);
        plistAppend(curve, s, &pts[k], 0, nullptr, 0);
    }
    std::free(pts);
    const double span = path->parameters[i2] - path->parameters[i1];
    std::vector<Vec3> moved(static_cast<size_t>(i2 - i1 - 1));
    for (int32_t i = i1 + 1; i < i2; ++i) {
        const double f = (path->parameters[i] - path->parameters[i1]) / span;
        Vec3& q = moved[static_cast<size_t>(i - i1 - 1)];
        if (plistPointAtParam(curve, f * s, &q) < 0) q = path->points[i];
        if (guard && guard->clear(&q, guard->context) != 1) {
            plistFree(curve);
            return -1;
        }
    }
    plistFree(curve);
    for (int32_t i = i1 + 1; i < i2; ++i) {
        path->points[i] = moved[static_cast<size_t>(i - i1 - 1)];
        setKind(path, i, kind);
    }
    return 1;
}

int32_t plistProcessRuns(Plist* path, double angleDeg, double tol, const CornerGuard* guard) {
    if (!path) return 0;
    const ApproxScale scale;
    int32_t count = 0;
    for (int32_t c = findCorner(path, 0, angleDeg); c >= 0;) {
        ++count;
        int32_t before = 0, after = 0;
        const int32_t c2 =
            refineAroundCorner(path, c, 2 * std::fabs(tol), 0.05 * std::fabs(tol), &before, &after);
        if (c2 < 0) break;
        filletCorner(c2, path, tol, guard);
        c = findCorner(path, c2 + 1, angleDeg);
    }
    plistClearKind3(path);
    return count;
}
