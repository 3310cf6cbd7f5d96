// Lead-in links of neighbouring paths.
#include "plunge/pathlink.h"

#include <cmath>

#include "geometry/plist.h"
#include "geometry/seg3d.h"
#include "geometry/vec.h"
#include "plunge/pathspace.h"

namespace {

int kindOf(const Plist* list, int32_t i) {
    return list->flags[i] >> 8;
}

// The last lead-in point before the first cut point, or -1.
int32_t leadInEnd(const Plist* list) {
    if (!list) return -1;
    for (int32_t i = 0; i + 1 < list->count; ++i)
        if (kindOf(list, i) == kPointLink && kindOf(list, i + 1) != kPointLink) return i;
    return -1;
}

Vec3 middle(const Vec3& a, const Vec3& b) {
    return {(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2};
}

Vec3 segmentsMiddle(const Vec3& a0, const Vec3& a1, const Vec3& b0, const Vec3& b1) {
    Vec3 pa, pb;
    segSegDist3D(&a0, &a1, &b0, &b1, &pa, &pb);
    return middle(pa, pb);
}

// The lead-in end turned toward m but held back by the angle between the first cut points, so
// that the second estimate looks at segments that no longer cross.
Vec3 turnedBack(const Vec3& p, const Vec3& m, double delta) {
    Vec3 q = p;
    const double alpha = pathSignedAngle(&p, &m);
    pathRotateZ(&q, alpha >= 0 ? alpha - delta : alpha + delta);
    return q;
}

void turnLeadIn(Plist* list, int32_t end, const Vec3& m) {
    const double theta = pathSignedAngle(&list->points[end], &m);
    for (int32_t i = 0; i <= end; ++i) pathRotateZ(&list->points[i], theta);
    list->flags[end] = list->flags[end + 1];
    list->points[end] = m;
    if (dist3D(&list->points[end], &list->points[end + 1]) < 0.0001) {
        list->points[end + 1] = list->points[end];
        list->flags[end] = static_cast<uint16_t>(kPointLink << 8);
    }
}

}  // namespace

int linkPathEnds(Plist* a, Plist* b) {
    const int32_t ia = leadInEnd(a), ib = leadInEnd(b);
    if (ia < 0 || ib < 0) return -1;
    // A single link point between two cut points of b is a hole in its cut, not a second lead-in.
    if (ib < b->count - 3 && kindOf(b, ib + 2) == kPointLink && kindOf(b, ib + 3) != kPointLink) {
        b->points[ib + 2] = middle(b->points[ib + 1], b->points[ib + 3]);
        b->flags[ib + 2] = b->flags[ib + 1];
    }
    const Vec3 &a0 = a->points[ia], &a1 = a->points[ia + 1], &b0 = b->points[ib], &b1 = b->points[ib + 1];
    Vec3 m = segmentsMiddle(a0, a1, b0, b1);
    const double delta = std::fabs(pathSignedAngle(&a1, &b1));
    Vec3 m2 = segmentsMiddle(turnedBack(a0, m, delta), a1, turnedBack(b0, m, delta), b1);
    const Vec3 ends = middle(a1, b1);
    if (dist3D(&m2, &ends) > 0.25 * dist3D(&a1, &b1)) m2 = ends;
    m = m2;
    turnLeadIn(a, ia, m);
    turnLeadIn(b, ib, m);
    return 1;
}
