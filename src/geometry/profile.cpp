// Profile curve records: construction, release, evaluation, reversal and the box list.
#include "geometry/profile.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "geometry/polygroup.h"

namespace {

constexpr double kTol = 1e-5;

// Takes over points and z (malloc'd) as a kind-'p' profile; frees them when that fails.
ProfileCurve* adopt(Vec2* points, double* z, int32_t n) {
    ProfileCurve* p = profileCreate(points, n, kProfilePoints);
    if (p == nullptr) {
        std::free(points);
        std::free(z);
        return nullptr;
    }
    p->ownsPoints = 1;
    p->z = z;
    return p;
}

void freeSub(ProfileCurve* p) {
    if (p->sub == nullptr) return;
    switch (p->kind) {
        case kProfileSubN: {
            auto* s = static_cast<ProfileSubN*>(p->sub);
            if (s->inner != nullptr) {
                // The group is no profile sub-record of the inner list's kind: release it first.
                polyGroupFree(static_cast<PolyGroup*>(s->inner->sub));
                s->inner->sub = nullptr;
                profileFreeList(s->inner);
            }
            break;
        }
        case kProfileSubR: {
            auto* s = static_cast<ProfileSubR*>(p->sub);
            profileFreeList(s->lists[0]);
            profileFreeList(s->lists[1]);
            break;
        }
        case kProfileSubF: {
            auto* s = static_cast<ProfileSubF*>(p->sub);
            profileFreeList(s->lists[0]);
            profileFreeList(s->lists[1]);
            break;
        }
        default:
            return;  // a sub-record of another kind is not the profile's to release
    }
    std::free(p->sub);
    p->sub = nullptr;
}

void growBox(IntervalBox* b, const Vec2& p) {
    b->xmin = std::min(b->xmin, p.x);
    b->ymin = std::min(b->ymin, p.y);
    b->xmax = std::max(b->xmax, p.x);
    b->ymax = std::max(b->ymax, p.y);
}

}  // namespace

ProfileCurve* profileCreate(Vec2* points, int32_t n, uint8_t kind) {
    if (n < 0 || (n > 0 && points == nullptr)) return nullptr;
    auto* p = static_cast<ProfileCurve*>(std::calloc(1, sizeof(ProfileCurve)));
    if (p == nullptr) return nullptr;
    if (n > 0) {
        p->lengths = static_cast<double*>(std::malloc(static_cast<size_t>(n) * sizeof(double)));
        if (p->lengths == nullptr) {
            std::free(p);
            return nullptr;
        }
        p->lengths[0] = 0.0;
        for (int32_t i = 1; i < n; ++i)
            p->lengths[i] = p->lengths[i - 1] + dist2D(&points[i - 1], &points[i]);
    }
    p->count = n;
    p->points = points;
    p->kind = kind;
    p->end = n >= 2 ? p->lengths[n - 1] : 0.0;
    return p;
}

ProfileCurve* profileLine(const Vec3* p0, const Vec3* p1) {
    if (p0 == nullptr || p1 == nullptr) return nullptr;
    auto* pts = static_cast<Vec2*>(std::malloc(2 * sizeof(Vec2)));
    auto* z = static_cast<double*>(std::malloc(2 * sizeof(double)));
    if (pts == nullptr || z == nullptr) {
        std::free(pts);
        std::free(z);
        return nullptr;
    }
    pts[0] = {p0->x, p0->y};
    pts[1] = {p1->x, p1->y};
    z[0] = p0->z;
    z[1] = p1->z;
    return adopt(pts, z, 2);
}

ProfileCurve* profileFromPath(const ProfilePath* path) {
    if (path == nullptr || path->points == nullptr || path->count < 1) return nullptr;
    if (path->kind != 1 && path->kind != 2) return nullptr;
    const int32_t n = path->count;
    auto* pts = static_cast<Vec2*>(std::malloc(static_cast<size_t>(n) * sizeof(Vec2)));
    auto* z = static_cast<double*>(std::malloc(static_cast<size_t>(n) * sizeof(double)));
    if (pts == nullptr || z == nullptr) {
        std::free(pts);
        std::free(z);
        return nullptr;
    }
    for (int32_t i = 0; i < n; ++i) {
        const Vec3& src = path->points[path->kind == 1 ? n - 1 - i : i];
        pts[i] = {src.x, src.y};
        z[i] = src.z;
    }
    return adopt(pts, z, n);
}

void profileFreeList(ProfileCurve* list) {
    while (list != nullptr) {
        ProfileCurve* next = list->next;
        if (list->ownsPoints) std::free(list->points);
        std::free(list->z);
        freeSub(list);
        std::free(list->lengths);
        std::free(list);
        list = next;
    }
}

void profileReverse(ProfileCurve* profile) {
    if (profile == nullptr || profile->count < 1) return;
    const int32_t n = profile->count;
    std::reverse(profile->points, profile->points + n);
    if (profile->z != nullptr) std::reverse(profile->z, profile->z + n);
    // Mirrored lengths keep running from start to end.
    std::reverse(profile->lengths, profile->lengths + n);
    const double sum = profile->start + profile->end;
    for (int32_t i = 0; i < n; ++i) profile->lengths[i] = sum - profile->lengths[i];
}

double profileLength3D(const ProfileCurve* profile) {
    if (profile == nullptr || profile->count < 2) return 0.0;
    double total = 0.0;
    for (int32_t i = 1; i < profile->count; ++i) {
        const double dx = profile->points[i].x - profile->points[i - 1].x;
        const double dy = profile->points[i].y - profile->points[i - 1].y;
        const double dz = profile->z != nullptr ? profile->z[i] - profile->z[i - 1] : 0.0;
        total += std::sqrt(dx * dx + dy * dy + dz * dz);
    }
    return total;
}

int32_t profileEval(const ProfileCurve* profile, double t, Vec2* point, double* z) {
    if (profile == nullptr || profile->count < 1) return -1;
    if (t < profile->start - kTol || t > profile->end + kTol) return -1;
    const int32_t n = profile->count;
    const bool hasZ = profile->z != nullptr && z != nullptr;
    if (std::fabs(profile->end - profile->start) < kTol) {
        if (point != nullptr) *point = profile->points[n - 1];
        if (hasZ) *z = profile->z[n - 1];
        return n - 1;
    }
    int32_t i = 1;
    while (i < n && !(profile->lengths[i] > t - kTol)) ++i;
    if (i >= n) return -1;
    const double a = t - profile->lengths[i - 1];
    if (std::fabs(a) < kTol) {
        if (point != nullptr) *point = profile->points[i - 1];
        if (hasZ) *z = profile->z[i - 1];
        return i - 1;
    }
    const double u = a / (profile->lengths[i] - profile->lengths[i - 1]);
    const Vec2& p = profile->points[i - 1];
    const Vec2& q = profile->points[i];
    if (point != nullptr) *point = {(1.0 - u) * p.x + u * q.x, (1.0 - u) * p.y + u * q.y};
    if (hasZ) *z = (1.0 - u) * profile->z[i - 1] + u * profile->z[i];
    return i - 1;
}

int profileTangent(const ProfileCurve* profile, double t, Vec2* dir) {
    if (profile == nullptr || dir == nullptr || profile->count < 2) return -1;
    if (std::fabs(profile->end - profile->start) < kTol) return -1;
    t = std::clamp(t, profile->start, profile->end);
    Vec2 e;
    const int32_t i = profileEval(profile, t, &e, nullptr);
    if (i < 0) return -1;
    Vec2 from, to;
    if (t > profile->end - kTol) {
        // Near the end the direction is taken over the last two segments; a profile with a single
        // segment has only the one, which gives its direction rather than a failure.
        from = profile->points[std::max(i - 1, 0)];
        to = e;
    } else {
        from = e;
        to = profile->points[i + 1];
    }
    // Step over vertices that coincide with the first point.
    for (int32_t k = i + 2;
         k < profile->count && std::fabs(from.x - to.x) < kTol && std::fabs(from.y - to.y) < kTol; ++k)
        to = profile->points[k];
    const Vec2 d = {to.x - from.x, to.y - from.y};
    const double len = vecLen2D(&d);
    if (len < kTol) return -1;
    *dir = {d.x / len, d.y / len};
    return 1;
}

Seg2D* profileToSegList(const ProfileCurve* profile, int32_t capacity, int32_t* segCount) {
    if (profile == nullptr || segCount == nullptr) return nullptr;
    const int32_t size = std::max({capacity, profile->count, 1});
    auto* segs = static_cast<Seg2D*>(std::calloc(static_cast<size_t>(size), sizeof(Seg2D)));
    if (segs == nullptr) return nullptr;
    for (int32_t i = 0; i + 1 < profile->count; ++i)
        segs[i] = {profile->points[i].x, profile->points[i].y, profile->points[i + 1].x,
                   profile->points[i + 1].y};
    *segCount = std::max(profile->count - 1, 0);
    return segs;
}

int32_t plistClampToProfile(Plist* list, const ProfileCurve* profile) {
    if (list == nullptr || profile == nullptr) return -1;
    if (profile->z == nullptr) return 0;
    int32_t lowered = 0;
    for (int32_t k = 0; k < list->count; ++k) {
        double z = 0.0;
        if (profileEval(profile, list->parameters[k], nullptr, &z) < 0) continue;
        if (z < list->points[k].z) {
            list->points[k].z = z;
            ++lowered;
        }
    }
    return lowered;
}

IntervalList* profileOptIntervals(const ProfileCurve* profile, double margin, const ProfileRange* range,
                                  double width) {
    if (profile == nullptr || profile->count < 2) return nullptr;
    margin = std::max(margin, 0.0);
    if (width < kTol) width = 1.0;
    double t0 = profile->start, t1 = profile->end;
    if (range != nullptr && range->count > 0 && range->entries != nullptr) {
        t0 = range->entries[0].t0;
        t1 = range->entries[range->count - 1].t1;
    }
    double nReal = (t1 - t0) / width + 1.0;
    if (profile->kind == kProfileBoxX || profile->kind == kProfileBoxY) {
        nReal = 1.0;
        width = (t1 - t0) + width;
    }
    if (std::isnan(nReal) || nReal > 2147483647.0) return nullptr;
    // A range running backwards walks nowhere; one box keeps the allocation sound.
    const int32_t n = nReal >= 1.0 ? static_cast<int32_t>(nReal) : 1;
    auto* list = static_cast<IntervalList*>(std::calloc(1, sizeof(IntervalList)));
    if (list == nullptr) return nullptr;
    list->boxes = static_cast<IntervalBox*>(std::calloc(static_cast<size_t>(n), sizeof(IntervalBox)));
    if (list->boxes == nullptr) {
        std::free(list);
        return nullptr;
    }
    Vec2 p0;
    int32_t i0 = profileEval(profile, t0, &p0, nullptr);
    if (i0 < 0) {
        intervalListFree(list);
        return nullptr;
    }
    double t = t0;
    if (std::fabs(t0 - t1) < kTol) t = t0 - 0.5 * width;
    while (t < t1 - kTol && list->count < n) {
        double tn = t + width;
        if (tn > t1 - kTol) tn = t1;
        Vec2 p1;
        const int32_t i1 = profileEval(profile, tn, &p1, nullptr);
        if (i1 < 0) {
            intervalListFree(list);
            return nullptr;
        }
        IntervalBox b = {p0.x, p0.y, p0.x, p0.y};
        growBox(&b, p1);
        for (int32_t k = i0 + 1; k <= i1; ++k) growBox(&b, profile->points[k]);
        b = {b.xmin - margin, b.ymin - margin, b.xmax + margin, b.ymax + margin};
        list->boxes[list->count++] = b;
        if (tn >= t1 - kTol) break;
        t = tn;
        p0 = p1;
        i0 = i1;
    }
    return list;
}

void intervalListFree(IntervalList* list) {
    if (list == nullptr) return;
    std::free(list->boxes);
    std::free(list);
}
