// Distance and order of neighbouring side paths.
#include "plunge/pathspace.h"

#include <algorithm>
#include <cmath>

#include "geometry/plist.h"
#include "geometry/seg3d.h"
#include "geometry/vec.h"
#include "plunge/profile2d.h"

namespace {

constexpr double kAngleTol = 1e-5;

bool isCut(const Plist* list, int32_t i) {
    return (list->flags[i] >> 8) != kPointLink;
}

double polylineDistance(const Plist* list, const Vec3* q) {
    if (list->count == 1) return dist3D(&list->points[0], q);
    return nearestOnPolyline3D(list->points, list->count, q, nullptr, nullptr);
}

bool pointAt(const Plist* list, double t, Vec3* out) {
    return list && list->count > 0 && plistPointAtParam(list, t, out) >= 0;
}

bool middleAt(const PlistArray* lists, double t, Vec3* out) {
    Vec3 a, b;
    if (!pointAt(lists->lists[0], t, &a) || !pointAt(lists->lists[3], t, &b)) return false;
    *out = {(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2};
    return true;
}

bool isEmpty(const Plist* list) {
    return !list || list->count <= 0;
}

}  // namespace

double pathSignedAngle(const Vec3* a, const Vec3* b) {
    const Vec2 u{a->x, a->y}, v{b->x, b->y};
    return signedAngle2D(&u, &v);
}

void pathRotateZ(Vec3* p, double angle) {
    const double c = std::cos(angle), s = std::sin(angle);
    const double x = c * p->x - s * p->y;
    p->y = s * p->x + c * p->y;
    p->x = x;
}

int32_t firstCutIndexOr(const Plist* list) {
    for (int32_t i = 0; i < list->count; ++i)
        if (isCut(list, i)) return i;
    return list->count - 1;
}

int pathPairDistance(const Plist* a, const Plist* b, double* distance) {
    if (isEmpty(a) || isEmpty(b)) return 0;
    Vec3 q;
    for (int32_t i = 0; i < a->count; ++i)
        if (isCut(a, i) && pointAt(b, a->parameters[i], &q) &&
            pathSignedAngle(&a->points[i], &q) < -kAngleTol)
            return -1;
    for (int32_t i = 0; i < b->count; ++i)
        if (isCut(b, i) && pointAt(a, b->parameters[i], &q) && pathSignedAngle(&b->points[i], &q) > kAngleTol)
            return -1;
    double d = *distance;
    if (isCut(a, 0)) d = polylineDistance(b, &a->points[0]);
    for (int32_t i = 0; i < a->count; ++i)
        if (isCut(a, i)) d = std::min(d, polylineDistance(b, &a->points[i]));
    for (int32_t i = 0; i < b->count; ++i)
        if (isCut(b, i)) d = std::min(d, polylineDistance(a, &b->points[i]));
    *distance = d;
    return 1;
}

int minPathDistance(const PlistArray* lists, double* distance) {
    *distance = 1000.0;
    if (!lists || (lists->count != 2 && lists->count != 4)) return 0;
    Plist* const* l = lists->lists;
    if (lists->count == 2) return pathPairDistance(l[0], l[1], distance) < 0 ? -1 : 1;
    if (isEmpty(l[1])) return pathPairDistance(l[0], l[3], distance) < 0 ? -1 : 1;
    // Measured apart: a cut start of list 2 would otherwise replace the distance of lists 0 and 1.
    double second = *distance;
    if (pathPairDistance(l[0], l[1], distance) < 0 || pathPairDistance(l[2], l[3], &second) < 0) return -1;
    *distance = std::min(*distance, second);
    return 1;
}

int repairPathDistance(const Profile2D*, PlistArray* lists) {
    if (!lists || lists->count != 4) return 0;
    Plist *l0 = lists->lists[0], *l1 = lists->lists[1], *l2 = lists->lists[2], *l3 = lists->lists[3];
    if (isEmpty(l0) || isEmpty(l1) || isEmpty(l3)) return -1;
    const double t0 = l0->parameters[firstCutIndexOr(l0)];
    double tMid = l0->parameters[0], best = -1;
    Vec3 m{};
    for (int32_t i = 0; i < 0.9 * l0->count; ++i) {
        Vec3 b;
        const double t = l0->parameters[i];
        if (!pointAt(l3, t, &b)) continue;
        const double angle = std::fabs(pathSignedAngle(&l0->points[i], &b));
        if (best < 0 || angle < best) {
            best = angle;
            tMid = t;
            m = {(l0->points[i].x + b.x) / 2, (l0->points[i].y + b.y) / 2, (l0->points[i].z + b.z) / 2};
        }
    }
    if (best < 0) return -1;
    // Lists 1 and 2 share their start until the splitter separates them.
    double tSplit = l1->parameters[0];
    if (!isEmpty(l2))
        for (int32_t i = 0; i < l1->count && i < l2->count; ++i) {
            if (std::fabs(pathSignedAngle(&l1->points[i], &l2->points[i])) >= kAngleTol) break;
            tSplit = l1->parameters[i];
        }
    if (std::fabs(tSplit - l1->parameters[0]) <= 1e-5) return -1;
    const double tHalf = t0 + (tSplit - t0) / 2;
    if (tMid > tHalf) {
        tMid = tHalf;
        if (!middleAt(lists, tHalf, &m)) return -1;
    }
    Vec3 p1;
    if (!pointAt(l1, tMid, &p1)) return -1;
    const double phi = pathSignedAngle(&p1, &m);
    for (Plist* list : {l1, l2}) {
        if (isEmpty(list)) continue;
        for (int32_t i = 0; i < list->count; ++i) {
            const double t = list->parameters[i];
            if (t > tSplit) break;
            double angle = 0;
            if (t < tMid) {
                Vec3 mid;
                if (middleAt(lists, t, &mid)) angle = pathSignedAngle(&list->points[i], &mid);
            } else if (tSplit - tMid > 1e-12) {
                angle = phi * (tSplit - t) / (tSplit - tMid);
            }
            pathRotateZ(&list->points[i], angle);
        }
    }
    return 1;
}

int innerPathsInside(const PlistArray* lists) {
    if (!lists || lists->count != 4 || isEmpty(lists->lists[1]) || isEmpty(lists->lists[2])) return 1;
    Plist* const* l = lists->lists;
    for (int k = 1; k <= 2; ++k) {
        const double T = l[k]->parameters[firstCutIndexOr(l[k])];
        for (int side : {0, 3}) {
            if (isEmpty(l[side])) continue;
            for (int32_t i = 0; i < l[side]->count; ++i) {
                const Vec3& p = l[side]->points[i];
                if (l[side]->parameters[i] > T) break;
                Vec3 q;
                if (!pointAt(l[k], l[side]->parameters[i], &q)) continue;
                const double angle = pathSignedAngle(&q, &p);
                if ((side == 0 && angle > 0) || (side == 3 && angle < 0)) return 0;
            }
        }
    }
    return 1;
}

int repairInnerPathStarts(PlistArray* lists) {
    if (innerPathsInside(lists) == 1) return 0;
    for (int k = 1; k <= 2; ++k) {
        Plist* list = lists->lists[k];
        const int32_t c = firstCutIndexOr(list);
        const double T = list->parameters[c];
        for (int32_t i = 0; i <= c; ++i) {
            const double t = list->parameters[i];
            Vec3 a, b;
            if (!pointAt(lists->lists[0], t, &a) || !pointAt(lists->lists[3], t, &b)) return -1;
            Vec3 bisector = a;
            pathRotateZ(&bisector, pathSignedAngle(&a, &b) / 2);
            // A lead-in starting at parameter 0 fades from the bisector to the first cut point.
            const double fade = std::fabs(T) > 1e-12 ? 1 - t / T : 0;
            pathRotateZ(&list->points[i], fade * pathSignedAngle(&list->points[i], &bisector));
        }
    }
    return innerPathsInside(lists) == 1 ? 1 : -1;
}
