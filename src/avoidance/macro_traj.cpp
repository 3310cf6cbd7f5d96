// Trajectory macros: the helix, ramps along the cut's own path, ramps on a closed contour, and arcs
// laid onto a closed guide contour.
#include <cmath>
#include <vector>

#include "avoidance/macro.h"
#include "kernel/base/constants.h"
#include "kernel/base/msg.h"

namespace {

constexpr double kTol = 1e-5;
constexpr int32_t kHelixCapacity = 10000;
constexpr int32_t kWorkCapacity = 1000;
constexpr double kClosedGap = 0.1;  // a guide whose ends lie closer is a closed contour

struct TrajState {
    Plist* storedGuide;
    double rampPieceLength;
    int32_t contourRampShift;
};

TrajState t{};

int kindOf(const Plist* list, int32_t i) {
    return list->flags[i] >> 8;
}

Vec3 lerp(const Vec3& a, const Vec3& b, double f) {
    return {a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
}

struct WorkList {
    Plist* list;
    explicit WorkList(int withVectors) : list(plistCreate(kWorkCapacity, withVectors)) {
        // A list made without the vectors asked for (memory short) would be read past by the walks.
        if (list && withVectors && !list->vectors) {
            plistFree(list);
            list = nullptr;
        }
    }
    ~WorkList() { plistFree(list); }
    WorkList(const WorkList&) = delete;
    WorkList& operator=(const WorkList&) = delete;
    int32_t count() const { return list->count; }
    const Vec3& point(int32_t i) const { return list->points[i]; }
    double param(int32_t i) const { return list->parameters[i]; }
    bool add(double s, const Vec3& p, uint16_t flag, const Vec3* v) {
        return plistAppend(list, s, &p, flag, v, 0) >= 0;
    }
};

using DistFn = double (*)(const Vec3*, const Vec3*);
double distXY(const Vec3* a, const Vec3* b) {
    return dist2D(a, b);
}

// Appends the list's own points backwards and forwards until the walked length reaches target.
// The list's points up to `n` form the way that is travelled back and forth.
bool bounce(WorkList& w, int32_t n, double& walked, double target, DistFn dist) {
    int32_t i = n - 1, dir = -1;
    while (walked < target - kTol) {
        i += dir;
        if (i < 0) {
            i = 1;
            dir = 1;
        } else if (i >= n) {
            i = n - 2;
            dir = -1;
        }
        const Vec3 p = w.point(i);
        const Vec3* v = w.list->vectors ? &w.list->vectors[i] : nullptr;
        walked += dist(&w.list->points[w.count() - 1], &p);
        if (!w.add(walked, p, 0, v)) return false;
    }
    return true;
}

// Ends the list at the parameter s, the point there interpolated on its segment.
void cutAt(WorkList& w, double s) {
    Plist* l = w.list;
    for (int32_t j = 1; j < l->count; ++j) {
        if (l->parameters[j] < s) continue;
        const double span = l->parameters[j] - l->parameters[j - 1];
        const double f = span > 1e-12 ? (s - l->parameters[j - 1]) / span : 1.0;
        l->points[j] = lerp(l->points[j - 1], l->points[j], f);
        l->parameters[j] = s;
        l->count = j + 1;
        return;
    }
}

// Appends the list's points in reverse order, the parameter counting on from `from`.
bool goBack(WorkList& w, double from, DistFn dist) {
    const int32_t n = w.count();
    double s = from;
    for (int32_t i = n - 2; i >= 0; --i) {
        const Vec3 p = w.point(i);
        const Vec3* v = w.list->vectors ? &w.list->vectors[i] : nullptr;
        s += dist(&w.list->points[w.count() - 1], &p);
        if (!w.add(s, p, 0, v)) return false;
    }
    return true;
}

Vec3 startDirection(const Plist* guide, int32_t i) {
    return guide->vectors ? guide->vectors[i] : Vec3{0, 0, 1};
}

// Arc lengths in XY along a guide; a segment touching a link point does not count.
struct ContourLengths {
    std::vector<double> cum;
    double total = 0.0;
    explicit ContourLengths(const Plist* g) : cum(static_cast<size_t>(g->count), 0.0) {
        for (int32_t i = 1; i < g->count; ++i) {
            const bool link = kindOf(g, i - 1) == kPointLink || kindOf(g, i) == kPointLink;
            total += link ? 0.0 : dist2D(&g->points[i - 1], &g->points[i]);
            cum[static_cast<size_t>(i)] = total;
        }
    }
    // The point at length s from the start, 0 <= s <= total; false when none is found.
    bool at(const Plist* g, double s, Vec3* out) const {
        for (int32_t i = 1; i < g->count; ++i) {
            const double a = cum[static_cast<size_t>(i - 1)], b = cum[static_cast<size_t>(i)];
            if (s > b + 1e-12 || b - a < 1e-12) continue;
            *out = lerp(g->points[i - 1], g->points[i], std::fmin(1.0, std::fmax(0.0, (s - a) / (b - a))));
            return true;
        }
        return false;
    }
};

// Approach macros measure backwards from the contour's start, leave macros forwards; whole turns drop.
double wrapLength(double s, int32_t kind, double total) {
    if (kind == kMacroApproach) s = -s;
    s -= std::trunc(s / total) * total;
    return s < 0 ? s + total : s;
}

MacroPath* rampFirst(const Plist* guide, int32_t start, int32_t runEnd, double rampAngle, double height,
                     bool alongAxes) {
    const Vec3 dir = startDirection(guide, start);
    const Vec3 p0 = guide->points[start];
    if (std::fabs(rampAngle - kPi / 2) < kTol) {
        MacroPath* path = macroPathCreate(kMacroApproach, alongAxes ? 28 : 8, 12, alongAxes);
        if (!path) return nullptr;
        path->direction = dir;
        const Vec3 up = alongAxes ? dir : Vec3{0, 0, 1};
        macroPathAppend(path, p0);
        macroPathAppend(path, Vec3{p0.x + height * up.x, p0.y + height * up.y, p0.z + height * up.z});
        if (alongAxes) path->axes[0] = path->axes[1] = dir;
        path->offset = macroTakeOffset();
        return path;
    }
    const double tn = std::tan(rampAngle);
    if (tn < kTol) return nullptr;
    const double L = height / tn / 2;
    if (plistNextIsLink(guide, start)) return nullptr;
    const DistFn dist = alongAxes ? dist3D : distXY;
    WorkList w(alongAxes);
    if (!w.list) return nullptr;
    w.add(0.0, p0, 0, guide->vectors ? &guide->vectors[start] : nullptr);
    double zMin = p0.z, walked = 0.0;
    for (int32_t k = start + 1; k <= runEnd; ++k) {
        const int kind = kindOf(guide, k);
        if (kind == kPointLink || walked >= L - kTol) break;
        if (kind == kPointMarked) continue;
        walked += dist(&w.list->points[w.count() - 1], &guide->points[k]);
        if (!w.add(walked, guide->points[k], 0, guide->vectors ? &guide->vectors[k] : nullptr))
            return nullptr;
        zMin = std::fmin(zMin, guide->points[k].z);
    }
    if (walked < kTol) return nullptr;
    if (!bounce(w, w.count(), walked, L, dist)) return nullptr;
    if (!alongAxes) {
        cutAt(w, L);
        if (!goBack(w, L, dist)) return nullptr;
    } else if (!goBack(w, L, dist)) {
        return nullptr;
    }
    const int32_t n = w.count();
    MacroPath* path = macroPathCreate(kMacroApproach, alongAxes ? 28 : 8, n + 10, alongAxes);
    if (!path) return nullptr;
    path->direction = dir;
    for (int32_t i = n - 1; i >= 0; --i) {
        Vec3 q = w.point(i);
        const double s = w.param(i);
        if (alongAxes) {
            const Vec3 a = w.list->vectors[i];
            const double h = i == n - 1 ? 0.0 : std::fmax(0.0, height - s * tn);
            q = {q.x + h * a.x, q.y + h * a.y, q.z + h * a.z};
            path->axes[path->count] = a;
        } else {
            q.z = i == n - 1 ? zMin : std::fmax(zMin, zMin + height - s * tn);
        }
        macroPathAppend(path, q);
    }
    path->offset = macroTakeOffset();
    return path;
}

MacroPath* rampPieces(const Plist* guide, int32_t start, int32_t last, double rampAngle, double height,
                      double m, bool alongAxes) {
    if (std::fabs(rampAngle) < kTol || (std::fabs(height) < kTol && std::fabs(m) < kTol) || start >= last)
        return nullptr;
    if (!guide->vectors) alongAxes = false;
    const double tn = std::tan(rampAngle);
    if (std::fabs(tn) < kTol) return nullptr;
    const double L = height / tn;
    if (plistNextIsLink(guide, start)) return nullptr;
    WorkList w(alongAxes);
    if (!w.list) return nullptr;
    const Vec3 dir = startDirection(guide, start);
    const double zStart = guide->points[start].z;
    w.add(0.0, guide->points[start], 0, alongAxes ? &guide->vectors[start] : nullptr);
    double walked = 0.0, sinceTurn = 0.0;
    for (int32_t k = start + 1; k <= last; ++k) {
        const int kind = kindOf(guide, k);
        if (kind == kPointLink || walked >= L - kTol) break;
        if (kind == kPointMarked) continue;
        const double d = dist2D(&w.list->points[w.count() - 1], &guide->points[k]);
        walked += d;
        sinceTurn += d;
        const bool turn = sinceTurn > m;
        if (turn) sinceTurn = 0.0;
        if (!w.add(walked, guide->points[k], 0, alongAxes ? &guide->vectors[k] : nullptr)) return nullptr;
        if (turn && walked >= kTol) break;
    }
    if (walked < kTol) return nullptr;
    if (!bounce(w, w.count(), walked, L, distXY)) return nullptr;
    cutAt(w, L);
    const int32_t n = w.count();
    MacroPath* path = macroPathCreate(kMacroApproach, alongAxes ? 28 : 8, n + 10, alongAxes);
    if (!path) return nullptr;
    path->direction = dir;
    for (int32_t i = 0; i < n; ++i) {
        Vec3 q = w.point(i);
        const double rise = w.param(i) * tn;
        if (alongAxes) {
            const Vec3 a = w.list->vectors[i];
            q = {q.x + rise * a.x, q.y + rise * a.y, q.z + rise * a.z};
            path->axes[i] = a;
        } else {
            q.z = zStart + rise;
        }
        macroPathAppend(path, q);
    }
    path->offset = macroTakeOffset();
    return path;
}

void fillReversed(MacroPath* path, const WorkList& w, const Vec3& dir, double zMin, double height, double tn,
                  bool clampToMin) {
    const int32_t n = w.count();
    path->direction = dir;
    for (int32_t i = n - 1; i >= 0; --i) {
        Vec3 q = w.point(i);
        if (clampToMin) q.z = i == n - 1 ? zMin : std::fmax(zMin, zMin + height - w.param(i) * tn);
        macroPathAppend(path, q);
    }
    path->offset = macroTakeOffset();
}

MacroPath* reversedPath(const WorkList& w, const Vec3& dir, double zMin, double height, double tn,
                        bool clampToMin) {
    MacroPath* path = macroPathCreate(kMacroApproach, 8, w.count() + 10, 0);
    if (path) fillReversed(path, w, dir, zMin, height, tn, clampToMin);
    return path;
}

MacroPath* contourRampShifted(Plist* guide, double rampAngle, double height) {
    const double tn = std::tan(rampAngle);
    if (std::fabs(tn) < kTol) return nullptr;
    const double S = height / tn;
    const Vec3 dir = startDirection(guide, 0);
    WorkList w(0);
    if (!w.list) return nullptr;
    const int32_t n = guide->count;
    w.add(0.0, guide->points[0], 0, nullptr);
    double zMin = guide->points[0].z, walked = 0.0;
    int32_t lastWalked = 0;
    for (int32_t k = 1; walked < S - kTol; k = k == n - 1 ? 1 : k + 1) {
        walked += dist2D(&w.list->points[w.count() - 1], &guide->points[k]);
        if (k == n - 1 && walked < kTol) return nullptr;
        if (!w.add(walked, guide->points[k], 0, nullptr)) return nullptr;
        zMin = std::fmin(zMin, guide->points[k].z);
        lastWalked = k;
    }
    if (lastWalked == 0) return nullptr;  // a ramp that goes nowhere lands nowhere
    cutAt(w, S);
    // The cut begins where the ramp lands: that point joins the guide and becomes its start.
    const Vec3 land = w.point(w.count() - 1);
    Vec3 axis{0, 0, 1};
    if (guide->vectors) {
        const Vec3& a = guide->vectors[lastWalked - 1];
        const Vec3& b = guide->vectors[lastWalked];
        const double seg = dist2D(&guide->points[lastWalked - 1], &guide->points[lastWalked]);
        const double f = seg > kTol ? dist2D(&guide->points[lastWalked - 1], &land) / seg : 0.0;
        const Vec3 m = lerp(a, b, f);
        const double l = std::sqrt(m.x * m.x + m.y * m.y + m.z * m.z);
        axis = l > kTol ? Vec3{m.x / l, m.y / l, m.z / l} : b;
    }
    // The path's memory first: a ramp that cannot be built must leave the guide as it was.
    MacroPath* path = macroPathCreate(kMacroApproach, 8, w.count() + 10, 0);
    if (!path) return nullptr;
    const double at = guide->parameters[lastWalked] - guide->parameters[0];
    const int32_t i = plistInsert(guide, at, &land, 0, &axis, 0);
    if (i < 0) {
        macroPathFree(path);
        return nullptr;
    }
    if (plistShiftStart(guide, i) != 1 && i >= 1 && i < guide->count) {  // no memory to turn the start
        plistDeleteRange(guide, i, i);
        macroPathFree(path);
        return nullptr;
    }
    fillReversed(path, w, dir, zMin, height, tn, true);
    return path;
}

}  // namespace

MacroPath* macroGenType6(const Vec3* p0, double radius, double step, double rampAngle, int32_t turnDir,
                         double height) {
    if (!p0 || std::fabs(rampAngle) < kTol || std::fabs(height) < kTol) return nullptr;
    MacroPath* path = macroPathCreate(kMacroApproach, 6, kHelixCapacity, 0);
    if (!path) return nullptr;
    macroPathAppend(path, *p0);
    macroPathAppend(path, Vec3{p0->x + radius, p0->y, p0->z});
    const double q = turnDir * step;
    const double rise = std::tan(rampAngle) * 2 * radius * std::sin(step / 2);
    const double top = p0->z + height;
    double x = radius, y = 0.0, z = p0->z;
    while (z < top - kTol) {
        const double xn = x * std::cos(q) - y * std::sin(q);
        y = x * std::sin(q) + y * std::cos(q);
        x = xn;
        z = std::fmin(z + rise, top);
        if (path->count + 1 >= kHelixCapacity) {
            macroPathFree(path);
            msgText(9, 9999, "Zu viele Punkte", "Zu viele Punkte");
            return nullptr;
        }
        macroPathAppend(path, Vec3{p0->x + x, p0->y + y, z});
    }
    if (!macroPathAppend(path, Vec3{p0->x, p0->y, z})) {
        macroPathFree(path);
        return nullptr;
    }
    path->offset = macroTakeOffset();
    path->arcFlag = 2;
    path->arcSide = turnDir == 1 ? -1 : 1;
    path->rampAngle = rampAngle;
    path->arcRadius = radius;
    path->arcStart = path->points[path->count - 2];
    path->arcEnd = path->points[1];
    path->arcCentre = *p0;
    return path;
}

MacroPath* macroGenRamp(const Plist* guide, int32_t startIndex, double rampAngle, double height,
                        int32_t alongAxes) {
    if (!guide || startIndex < 0 || startIndex >= guide->count) return nullptr;
    if (std::fabs(rampAngle) < kTol || std::fabs(height) < kTol) return nullptr;
    if (alongAxes && !guide->vectors) return nullptr;
    int32_t runEnd = guide->count - 1;
    if (!alongAxes && kindOf(guide, startIndex) != kPointLinkLike) {
        for (int32_t k = startIndex + 1; k < guide->count; ++k)
            if (kindOf(guide, k) == kPointLinkLike) {
                runEnd = k - 1;
                break;
            }
    }
    if (startIndex >= runEnd) return nullptr;
    if (t.rampPieceLength > kTol)
        return rampPieces(guide, startIndex, alongAxes ? guide->count - 1 : runEnd, rampAngle, height,
                          t.rampPieceLength, alongAxes != 0);
    return rampFirst(guide, startIndex, runEnd, rampAngle, height, alongAxes != 0);
}

MacroPath* macroGenType13(Plist* guide, double rampAngle, double height) {
    if (!guide || std::fabs(rampAngle) < kTol || std::fabs(height) < kTol || guide->count < 2) return nullptr;
    const int32_t n = guide->count;
    if (dist3D(&guide->points[0], &guide->points[n - 1]) > kClosedGap || (t.contourRampShift && n < 3))
        return macroGenRamp(guide, 0, rampAngle, height, 0);
    if (t.contourRampShift) return contourRampShifted(guide, rampAngle, height);
    const double tn = std::tan(rampAngle);
    if (tn < kTol) return nullptr;
    const double S = height / tn;
    const ContourLengths c(guide);
    if (c.total < kTol) return nullptr;  // a contour without length cannot be wound along
    const int32_t turns = static_cast<int32_t>(std::trunc(S / c.total));
    const double from = c.total - (S - turns * c.total);
    WorkList w(guide->vectors != nullptr);
    if (!w.list) return nullptr;
    Vec3 first;
    if (!c.at(guide, from, &first)) return nullptr;
    w.add(0.0, first, 0, guide->vectors ? &guide->vectors[0] : nullptr);
    double walked = 0.0;
    auto take = [&](int32_t i) {
        const double d = dist2D(&w.list->points[w.count() - 1], &guide->points[i]);
        if (d < kTol) return true;
        walked += d;
        const Vec3* v = guide->vectors ? &guide->vectors[i] : nullptr;
        return plistAppend(w.list, walked, &guide->points[i], guide->flags[i], v,
                           guide->bytes ? guide->bytes[i] : 0) >= 0;
    };
    for (int32_t i = 1; i < n; ++i)
        if (c.cum[static_cast<size_t>(i)] > from + 1e-12 && !take(i)) return nullptr;
    for (int32_t k = 0; k < turns; ++k)
        for (int32_t i = 1; i < n; ++i)
            if (!take(i)) return nullptr;
    const double sLast = walked;
    if (sLast < kTol) return nullptr;
    for (int32_t i = 0; i < w.count(); ++i) w.list->points[i].z += height * (sLast - w.param(i)) / sLast;
    return reversedPath(w, startDirection(guide, 0), 0.0, height, tn, false);
}

int macroStoreGuide(const Plist* guide) {
    if (!guide) return -1;
    Plist* copy = plistCreate(guide->count + 1, 1);
    if (!copy || plistCopyPoints(copy, guide) < 0) {
        plistFree(copy);
        return -1;
    }
    plistFree(t.storedGuide);
    t.storedGuide = copy;
    return 1;
}

int macroFollowGuide(MacroPath* path, int32_t kind, const Plist* guide) {
    if (!path) return 0;
    const Plist* g = guide ? guide : t.storedGuide;
    if (!g || g->count < 2 || dist3D(&g->points[0], &g->points[g->count - 1]) >= kTol) return 1;
    const ContourLengths c(g);
    if (c.total < kTol) return 0;
    for (int32_t i = 1; i < path->count; ++i) {
        const double s = wrapLength(dist2D(&path->points[i], &path->points[0]), kind, c.total);
        Vec3 q;
        if (!c.at(g, s, &q)) return 0;
        path->points[i].x = q.x;
        path->points[i].y = q.y;
    }
    return 1;
}

int macroWrapOnGuide(MacroPath* path, int32_t kind, const Vec3* p0, const Vec3* p1, const Plist* guide) {
    if (!path || !p0 || !p1) return 0;
    if (guide && macroStoreGuide(guide) < 0) return 0;
    const Plist* g = guide ? guide : t.storedGuide;
    if (!g || g->count < 1 || path->count < 2 || dist3D(&g->points[0], &g->points[g->count - 1]) > kClosedGap)
        return 1;
    const Vec3 d{p1->x - p0->x, p1->y - p0->y, p1->z - p0->z};
    const double dl = vecLen3D(&d);
    if (dl < kTol) return 0;
    const Vec3 v{d.x / dl, d.y / dl, d.z / dl};
    const Vec3& a = path->points[0];
    const Vec3& e = path->points[path->count - 1];
    const Vec3 w{e.x - a.x, e.y - a.y, e.z - a.z};
    const double wv = vecDot3D(&w, &v);
    const Vec3 bn{w.x - wv * v.x, w.y - wv * v.y, w.z - wv * v.z};
    const double bl = vecLen3D(&bn);
    if (bl < kTol) return 0;
    const Vec3 b{bn.x / bl, bn.y / bl, bn.z / bl};
    const ContourLengths c(g);
    if (c.total < kTol) return 0;
    const Vec3 first = path->points[0];
    const Vec3 up = path->direction;
    for (int32_t i = 1; i < path->count; ++i) {
        const Vec3 r{path->points[i].x - first.x, path->points[i].y - first.y, path->points[i].z - first.z};
        Vec3 q;
        if (!c.at(g, wrapLength(vecDot3D(&r, &v), kind, c.total), &q)) return 0;
        const double h = vecDot3D(&r, &b);
        path->points[i] = {q.x + h * up.x, q.y + h * up.y, q.z + h * up.z};
    }
    return 1;
}

void macroSetRampPieceLength(double m) {
    t.rampPieceLength = m;
}

void macroSetContourRampShift(int32_t on) {
    t.contourRampShift = on;
}

void macroTrajResetState() {
    plistFree(t.storedGuide);
    t = TrajState{};
}
