// Channel curve tracing by ring sweeps of the tool ball between two blade faces.
#include "plunge/chantrace.h"

#include <algorithm>
#include <cmath>

#include "KVWOG5/pred2d.h"
#include "collision/chkmodel.h"
#include "collision/ringcontact.h"
#include "geometry/plist.h"
#include "kernel/base/abort.h"
#include "kernel/cycle/cycle.h"
#include "kernel/base/msg.h"
#include "plunge/contourpair.h"
#include "plunge/hubshroud.h"
#include "plunge/plist3d.h"
#include "plunge/profile2d.h"
#include "plunge/trigrid.h"

namespace {

constexpr double kBendCos = 0.996;  // about 5.1 degrees between neighbouring chords

struct Station {
    Vec3 point;
    Vec3 vector;
    uint16_t flag;
};

struct TraceContext {
    const CheckModel* model;
    const ContourPair* a;
    const ContourPair* b;
    const ProfileLineCross* cross;
    int32_t direction;
    const TriGrid* grid;
};

// The arc of centre angles a ring sweep still counts (ringTriContact's travel below the sweep's span,
// which it measures from the sweep's current end), as a middle and half width; false when it may be
// any angle. A clockwise sweep also counts up to 1e-5 ahead of its start.
bool sweepArc(const RingSweep& sw, double* mid, double* half) {
    if (std::fabs(sw.start.x - sw.end.x) < 1e-5 && std::fabs(sw.start.y - sw.end.y) < 1e-5 && sw.R > 0)
        return false;  // the whole turn
    double span = 0.0;
    arcPointsCenter2D(&sw.start, &sw.centre, &sw.end, sw.direction, &span);
    if (!(span < 1.9 * M_PI)) return false;
    const double a = std::atan2(sw.start.y, sw.start.x);
    const double lo = sw.direction == -1 ? a - span : a, hi = sw.direction == -1 ? a + 1e-5 : a + span;
    *mid = 0.5 * (lo + hi);
    *half = 0.5 * (hi - lo);
    return true;
}

// The first contact of the sweep with the listed triangles, as ringMeshContact finds it over the whole
// list: triangle by triangle in list order, each one passed over when the grid's corner angles keep it
// off the arc the sweep still counts by more than the ball reaches, or its plan distances and heights
// keep it farther than the radius from the centre circle. A contact needs a point of the triangle
// within the radius of a counted centre: within asin(r / R) of the arc, and in the meridian plane
// within r of (R, z) (the reach and the arc grown well beyond the rounding of the contact); the arc is
// measured again after each contact, as the contact query does. The triangles' order and the stop at
// the first one below the ball stay, so the answer, the sweep's end and the last touch are those of
// the whole list.
int ringListContact(const TraceContext& c, RingSweep* sw, double z, const int32_t* list, int32_t count,
                    Vec3* centre) {
    const TriGrid* g = c.grid;
    const double r = c.model->tool ? c.model->tool->radius : 0.0, reachR = r * (1 + 1e-9) + 1e-6;
    if (!g->ranges || !c.model->triangles || g->angleCount != c.model->triangles->count || !c.model->boxMin ||
        g->centre.x != 0.0 || g->centre.y != 0.0 || sw->centre.x != 0.0 || sw->centre.y != 0.0 ||
        !(sw->R > reachR) || !c.model->boxMax)
        return ringMeshContact(c.model, sw, z, list, count, centre);
    const double reach = std::asin(reachR / sw->R) + 1e-6, reach2 = (reachR + 1e-5) * (reachR + 1e-5);
    const int32_t total = c.model->triangles->count;
    // The arrays read per listed triangle; the contact query below reads the model and grid only.
    const Vec3 *const boxMin = c.model->boxMin, *const boxMax = c.model->boxMax;
    const TriGridRange* const ranges = g->ranges;
    const double R = sw->R;  // a contact moves the sweep's end only
    double mid = 0.0, half = 0.0;
    bool arc = sweepArc(*sw, &mid, &half);
    int found = 0;
    for (int32_t k = 0; k < count; ++k) {
        const int32_t j = list[k];
        // The listed triangles lie far apart in the arrays: their records are fetched a few ahead.
        if (k + 8 < count && list[k + 8] >= 0 && list[k + 8] < total) {
            const int32_t ahead = list[k + 8];
            __builtin_prefetch(&boxMax[ahead]);
            __builtin_prefetch(&boxMin[ahead]);
            __builtin_prefetch(&ranges[ahead]);
        }
        if (j < 0 || j >= total) continue;
        if (boxMax[j].z < z - r) break;
        const TriGridRange& e = ranges[j];
        const double dr = std::max({e.radiusMin - R, 0.0, R - e.radiusMax});
        const double dz = std::max({boxMin[j].z - z, 0.0, z - boxMax[j].z});
        if (dr * dr + dz * dz > reach2) continue;
        if (arc && e.angleHalf < M_PI) {
            // Within half a turn the remainder is the difference itself: the library call only beyond.
            const double diff = e.angleMid - mid;
            const double off =
                (std::fabs(diff) < 3.0 ? std::fabs(diff) : std::fabs(std::remainder(diff, 2 * M_PI))) -
                e.angleHalf - half;
            if (off > reach) continue;
            // Off the ball's height by dz its plan reach is sqrt(r^2 - dz^2).
            if (dz > 0.0 &&
                off > std::asin(std::min(1.0, std::sqrt(std::max(0.0, reach2 - dz * dz)) / R)) + 1e-6)
                continue;
            // A touched point at plan distance p, off the ball's height by dz and off the circle by dr,
            // is seen from the axis within beta of the centre, 1 - cos(beta) = y = (r^2 - dz^2 - dr^2) /
            // (2 p R), bounded with the triangle's smallest dz, dr and p; beta = 2 asin(sqrt(y / 2)) is
            // at most 2 tan of that half angle, sqrt(2 y / (1 - y / 2)), for y < 2.
            const double p = e.radiusMin * (1 - 1e-9);
            if (p > 0.0) {
                const double y = (reach2 - dz * dz - dr * dr) / (2.0 * p * R);
                if (y < 2.0 && off > std::sqrt(2.0 * y / (1.0 - 0.5 * y)) + 1e-6) continue;
            }
        }
        const int rc = ringMeshContact(c.model, sw, z, &list[k], 1, centre);
        if (rc < 0) return rc;
        if (rc == 1) {
            found = 1;
            arc = sweepArc(*sw, &mid, &half);
        }
    }
    return found;
}

// 1 with the station's point, or -1 when the contact query failed (nothing to record).
int evalStation(const TraceContext& c, double s, Station* out) {
    Vec3 pA, pB;
    int okA = bladeCrossingAt(c.a, c.cross, s, &pA);
    int okB = bladeCrossingAt(c.b, c.cross, s, &pB);
    if (okA < 0 || okB < 0) {
        *out = {pB, {0, 0, 1}, kChanNoContact};
        return 1;
    }
    RingSweep sweep{};
    sweep.start = {pA.x, pA.y};
    sweep.end = {pB.x, pB.y};
    sweep.centre = {0, 0};
    sweep.R = std::hypot(pA.x, pA.y);
    sweep.direction = c.direction;
    double rEnd = std::hypot(pB.x, pB.y);
    if (std::fabs(rEnd - sweep.R) >= 1e-5 && rEnd > 0) {
        sweep.end.x *= sweep.R / rEnd;
        sweep.end.y *= sweep.R / rEnd;
    }
    const Vec2 end = sweep.end;
    const double z = pB.z;
    const int32_t* list = nullptr;
    int32_t count = 0;
    if (c.grid) {
        Vec3 q{pA.x, pA.y, z};
        const TriGridCell* cell = triGridCell(c.grid, &q);
        if (!cell) return -1;  // memory short: the cell's triangles are not known
        list = cell->items;
        count = cell->count;
    }
    Vec3 centre;
    int rc = !c.grid ? ringMeshContact(c.model, &sweep, z, list, count, &centre)
             : !list ? 0
                     : ringListContact(c, &sweep, z, list, count, &centre);
    if (rc < 0) return -1;
    if (rc == 1) {
        Vec3 touch;
        contactLastPoint(&touch);
        *out = {centre, touch, kChanContact};
    } else {
        *out = {{end.x, end.y, z}, {0, 0, 1}, kChanNoContact};
    }
    return 1;
}

int kindOf(const Plist* l, int32_t i) {
    return l->flags[i] >> 8;
}

bool unitBetween(const Vec3& a, const Vec3& b, Vec3* u) {
    Vec3 d{b.x - a.x, b.y - a.y, b.z - a.z};
    double len = vecLen3D(&d);
    if (len <= 1e-5) return false;
    *u = {d.x / len, d.y / len, d.z / len};
    return true;
}

bool bendAt(const Plist* l, int32_t j0, int32_t j1, int32_t j2) {
    if (j0 < 0 || j2 < 0 || j0 >= l->count || j2 >= l->count) return false;
    Vec3 d1, d2;
    if (!unitBetween(l->points[j0], l->points[j1], &d1) || !unitBetween(l->points[j1], l->points[j2], &d2))
        return false;
    return vecDot3D(&d1, &d2) <= kBendCos;
}

// A contact between two points of one kind that juts out against their chord is taken as noise.
void removeSpike(const Plist* l, int32_t i, Station* q) {
    if (kindOf(l, i - 1) != kindOf(l, i)) return;
    const Vec3& p0 = l->points[i - 1];
    const Vec3& p1 = l->points[i];
    Vec3 u1, u2;
    if (!unitBetween(p0, q->point, &u1) || !unitBetween(q->point, p1, &u2)) return;
    if (vecDot3D(&u1, &u2) < -0.6) q->point = {0.5 * (p0.x + p1.x), 0.5 * (p0.y + p1.y), 0.5 * (p0.z + p1.z)};
}

struct TraceResources {
    Profile2D* profile = nullptr;
    ProfileLineCross* cross = nullptr;
    bool ownsContact = false;
    ~TraceResources() {
        profileLineCrossFree(cross);
        freeProfile2D(profile);
        if (ownsContact) contactFree();
    }
};

}  // namespace

int traceChannelCurve(const CheckModel* model, const ContourPair* firstFace, const ContourPair* secondFace,
                      const HubShroud* level, int32_t direction, Plist* result, const TriGrid* grid) {
    if (!model || !firstFace || !secondFace || !firstFace->first || firstFace->first->count < 1 || !level ||
        !level->hub || !result)
        return -1;
    const double tol = std::fmin(model->tolerance, 0.01);
    // A step that is not positive would never reach the end of the face.
    const double step = model->stepLength > 1e-6 ? model->stepLength : 1.0;
    TraceResources res;
    res.ownsContact = contactStateCreate() == 1;
    res.profile = copyProfile2D(level->hub);
    if (!res.profile) return -1;
    // Every station crosses the same profile: what depends on it alone is taken once.
    res.cross = profileLineCrossCreate(res.profile);
    if (!res.cross && res.profile->count >= 2) return -1;
    result->count = 0;
    const TraceContext ctx{model, firstFace, secondFace, res.cross, direction, grid};
    const Plist3D* face = firstFace->first;
    const double L = face->param[face->count - 1];

    for (double s = 0.0; s < step + L - 1e-5; s += step) {
        double at = std::fmin(s, L);
        Station st;
        if (evalStation(ctx, at, &st) < 0) continue;
        if (plistInsert(result, at, &st.point, st.flag, &st.vector, 0) < 0) return -1;
    }

    bool changed = true;
    while (changed) {
        changed = false;
        int32_t i = 1;
        while (i < result->count && result->count >= 2) {
            if (callAbortHook()) {
                msgLong(9, kMsgUserCanceled, "* User canceled", 0);
                return -2;
            }
            const double* t = result->parameters;
            int flag = 0;
            // A midpoint the list takes for an end would be stored before that end.
            if (t[i] - t[i - 1] < tol + 1e-5 || !plistGapSplits(t[i] - t[i - 1]) ||
                dist3D(&result->points[i], &result->points[i - 1]) < tol)
                flag = -1;
            else if (plistKindChanges(result, i - 1, i))
                flag = 1;
            bool bothLinks = kindOf(result, i - 1) == kPointLink && kindOf(result, i) == kPointLink;
            if (!bothLinks && flag == 0 &&
                (bendAt(result, i - 1, i, i + 1) || bendAt(result, i, i - 1, i - 2)))
                flag = 1;
            if (flag != 1 || bothLinks) {
                ++i;
                continue;
            }
            double s = 0.5 * (t[i - 1] + t[i]);
            Station q;
            if (evalStation(ctx, s, &q) < 0) {
                ++i;
                continue;
            }
            if (q.flag == kChanContact) removeSpike(result, i, &q);
            int32_t k = plistInsert(result, s, &q.point, q.flag, &q.vector, 0);
            if (k < 0) return -1;
            changed = true;
            i = k - 1 >= 1 ? k - 1 : 1;
        }
    }

    bool marked = false;
    for (int32_t i = 1; i < result->count; ++i) {
        if (dist3D(&result->points[i], &result->points[i - 1]) < 1e-5) {
            result->flags[i] = static_cast<uint16_t>((kPointMarked << 8) | (result->flags[i] & 0xff));
            marked = true;
        }
    }
    if (marked) plistDropKind3(result);
    return 1;
}

int channelBallClear(const CheckModel* model, const TriGrid* grid, int32_t direction, const Vec3* centre,
                     double allowed) {
    if (!model || !centre || (direction != 1 && direction != -1)) return -1;
    const double R = std::hypot(centre->x, centre->y);
    if (!(R > 0)) return -1;
    // A quarter turn back the ball is well clear of the one wall the model holds: a start inside it
    // would hide that wall from the sweep.
    const double a = std::atan2(centre->y, centre->x) - direction * 0.5 * M_PI;
    RingSweep sweep{};
    sweep.start = {R * std::cos(a), R * std::sin(a)};
    sweep.end = {centre->x, centre->y};
    sweep.centre = {0, 0};
    sweep.R = R;
    sweep.direction = direction;
    const int32_t* list = nullptr;
    int32_t count = 0;
    if (grid) {
        const TriGridCell* cell = triGridCell(grid, centre);
        if (!cell) return -1;
        if (!cell->items) return 1;
        list = cell->items;
        count = cell->count;
    }
    Vec3 touched;
    const int rc = ringMeshContact(model, &sweep, centre->z, list, count, &touched);
    if (rc < 0) return -1;
    return rc == 0 || dist3D(&touched, centre) <= allowed ? 1 : 0;
}
