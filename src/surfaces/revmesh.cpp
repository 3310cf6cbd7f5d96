// Revolved meshes of meridional profiles.
#include "surfaces/revmesh.h"

#include <algorithm>
#include <cmath>

#include "surfaces/meshfiles/trisort.h"

int revMeshAngleStep(double radius, double tol, double* alpha, int32_t* steps) {
    if (!(tol > 0.0) || !(radius >= 0.0) || !std::isfinite(tol) || !std::isfinite(radius)) return -1;
    // At radius 0 the quotient is -inf: the clamp makes it a half turn per chord, alpha = 2 pi.
    const double c = radius > 0.0 ? std::clamp((radius - tol) / radius, -1.0, 1.0) : -1.0;
    const double a = 2.0 * std::acos(c);
    if (!(a > 0.0)) return -1;
    const double turns = std::trunc(-2.0 * M_PI / a);
    if (!(1.0 - turns <= kRevMeshMaxSteps)) return -1;
    if (alpha != nullptr) *alpha = a;
    if (steps != nullptr) *steps = static_cast<int32_t>(1.0 - turns);
    return 1;
}

int revMeshSegment(const Vec2* a, const Vec2* b, TriList* list, double tol) {
    if (list == nullptr) return -1;
    return revMeshSegmentEach(a, b, tol, [list](const Triangle3D& t) { return triListAdd(list, &t) >= 0; });
}

TriList* revMeshSweep(const Vec2* points, int32_t count, double tol) {
    if (count > 0 && points == nullptr) return nullptr;
    // Room for every band at the step of the last radius; the list grows when a band needs more.
    int32_t n = 2;
    if (count > 0 && revMeshAngleStep(points[count - 1].x, tol, nullptr, &n) != 1) n = 2;
    const int64_t want = std::max<int64_t>(2, static_cast<int64_t>(count) * n * 2);
    TriList* list = triListCreate(static_cast<int32_t>(std::min<int64_t>(want, 1 << 22)));
    if (list == nullptr) return nullptr;
    for (int32_t i = 1; i < count; ++i)
        if (revMeshSegment(&points[i - 1], &points[i], list, tol) != 1) {
            triListFree(list);
            return nullptr;
        }
    sortMeshTriangles(list);
    return list;
}
