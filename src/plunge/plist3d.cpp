// 3D point lists with parameters, and chains of them.
#include "plunge/plist3d.h"

#include <emmintrin.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "geometry/profile.h"
#include "geometry/seg3d.h"

namespace {

bool growTo(Plist3D* l, int32_t capacity) {
    auto* pts = static_cast<Vec3*>(std::realloc(l->points, sizeof(Vec3) * static_cast<size_t>(capacity)));
    if (pts == nullptr) return false;
    l->points = pts;
    auto* par = static_cast<double*>(std::realloc(l->param, sizeof(double) * static_cast<size_t>(capacity)));
    if (par == nullptr) return false;
    l->param = par;
    l->capacity = capacity;
    return true;
}

// The first index i >= 1 with param[i] > s - 1e-5 (the last index when none is). Eight parameters are
// compared per branch: the scan takes the same first index whatever the list holds (also out of
// order or not a number), which a bisection would not.
int32_t segmentOf(const Plist3D* l, double s) {
    const double t = s - 1e-5;
    const double* p = l->param;
    const int32_t last = l->count - 1;
    int32_t i = 1;
    const __m128d tv = _mm_set1_pd(t);
    for (; i + 8 <= last; i += 8) {
        const __m128d a =
            _mm_or_pd(_mm_cmpgt_pd(_mm_loadu_pd(p + i), tv), _mm_cmpgt_pd(_mm_loadu_pd(p + i + 2), tv));
        const __m128d b =
            _mm_or_pd(_mm_cmpgt_pd(_mm_loadu_pd(p + i + 4), tv), _mm_cmpgt_pd(_mm_loadu_pd(p + i + 6), tv));
        if (_mm_movemask_pd(_mm_or_pd(a, b)) != 0) break;
    }
    while (i < last && !(p[i] > t)) ++i;
    return i;
}

}  // namespace

Plist3D* newPlist3D(int32_t capacity) {
    if (capacity < 1) capacity = 1;
    auto* l = static_cast<Plist3D*>(std::calloc(1, sizeof(Plist3D)));
    if (l == nullptr) return nullptr;
    if (!growTo(l, capacity)) {
        freePlist3D(l);
        return nullptr;
    }
    return l;
}

Plist3D* copyPlist3D(const Plist3D* src) {
    if (src == nullptr) return nullptr;
    Plist3D* l = newPlist3D(src->capacity);
    if (l == nullptr) return nullptr;
    std::memcpy(l->points, src->points, sizeof(Vec3) * static_cast<size_t>(src->count));
    std::memcpy(l->param, src->param, sizeof(double) * static_cast<size_t>(src->count));
    l->count = src->count;
    return l;
}

void freePlist3D(Plist3D* l) {
    if (l == nullptr) return;
    std::free(l->points);
    std::free(l->param);
    std::free(l);
}

int reparamPlist3D(Plist3D* l) {
    if (l == nullptr) return -1;
    if (l->count > 0) l->param[0] = 0.0;
    for (int32_t i = 1; i < l->count; ++i)
        l->param[i] = l->param[i - 1] + dist3D(&l->points[i - 1], &l->points[i]);
    return 1;
}

int reversePlist3D(Plist3D* l) {
    if (l == nullptr) return -1;
    for (int32_t i = 0, j = l->count - 1; i < j; ++i, --j) std::swap(l->points[i], l->points[j]);
    return reparamPlist3D(l);
}

int32_t evalPlist3D(const Plist3D* l, double s, Vec3* out) {
    if (l == nullptr || l->count < 1 || s < l->param[0] || s > l->param[l->count - 1] + 1e-5) return -1;
    if (l->count == 1) {
        *out = l->points[0];
        return 0;
    }
    const int32_t i = segmentOf(l, s);
    if (std::fabs(s - l->param[i - 1]) <= 1e-5) {
        *out = l->points[i - 1];
        return i - 1;
    }
    const double len = l->param[i] - l->param[i - 1];
    const double f = len > 0.0 ? (s - l->param[i - 1]) / len : 0.0;
    const Vec3 a = l->points[i - 1], b = l->points[i];
    *out = {a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
    return std::fabs(f - 1.0) <= 1e-5 ? i : i - 1;
}

int tangentPlist3D(const Plist3D* l, double s, Vec3* out) {
    if (l == nullptr || l->count < 2 || s < l->param[0] || s > l->param[l->count - 1] + 1e-5) return -1;
    const int32_t i = segmentOf(l, s);
    const Vec3 d{l->points[i].x - l->points[i - 1].x, l->points[i].y - l->points[i - 1].y,
                 l->points[i].z - l->points[i - 1].z};
    const double len = vecLen3D(&d);
    if (len < 1e-5) return -1;
    *out = {d.x / len, d.y / len, d.z / len};
    return 1;
}

int32_t insertPlist3D(Plist3D* l, double s, const Vec3* point) {
    if (l == nullptr || point == nullptr) return -1;
    if (l->count == l->capacity) {
        // Growth by half alone would leave a list of one slot full for ever.
        int32_t cap = static_cast<int32_t>(1.5 * l->capacity);
        if (cap <= l->capacity) cap = l->capacity + 1;
        if (!growTo(l, cap)) return -1;
    }
    int32_t k = l->count;
    while (k > 0 && !(l->param[k - 1] < s - 1e-5)) --k;
    std::memmove(&l->points[k + 1], &l->points[k], sizeof(Vec3) * static_cast<size_t>(l->count - k));
    std::memmove(&l->param[k + 1], &l->param[k], sizeof(double) * static_cast<size_t>(l->count - k));
    l->points[k] = *point;
    l->param[k] = s;
    ++l->count;
    return k;
}

int32_t appendPlist3D(Plist3D* l, const Vec3* point) {
    if (l == nullptr || point == nullptr) return -1;
    const double s = l->count == 0 ? 0.0 : l->param[l->count - 1] + dist3D(&l->points[l->count - 1], point);
    return insertPlist3D(l, s, point);
}

int assignPlist3D(Plist3D* t, const Plist3D* src) {
    if (t == nullptr || src == nullptr) return -1;
    t->count = 0;
    for (int32_t i = 0; i < src->count; ++i)
        if (appendPlist3D(t, &src->points[i]) < 0) return -1;
    std::memcpy(t->param, src->param, sizeof(double) * static_cast<size_t>(src->count));
    return 1;
}

Plist3D* plist3DFromPoints(const Vec3* points, int32_t n) {
    if (points == nullptr || n < 0) return nullptr;
    Plist3D* l = newPlist3D(n);
    for (int32_t i = 0; l != nullptr && i < n; ++i)
        if (appendPlist3D(l, &points[i]) < 0) {
            freePlist3D(l);
            return nullptr;
        }
    return l;
}

Plist3D* plist3DFromProfileCurve(const ProfileCurve* c) {
    if (c == nullptr || c->points == nullptr || c->count < 0) return nullptr;
    Plist3D* l = newPlist3D(2 * c->count);
    for (int32_t i = 0; l != nullptr && i < c->count; ++i) {
        const Vec3 p{c->points[i].x, c->points[i].y, c->z != nullptr ? c->z[i] : 0.0};
        if (l->count > 0 && dist3D(&p, &l->points[l->count - 1]) <= 1e-5) continue;
        if (appendPlist3D(l, &p) < 0) {
            freePlist3D(l);
            return nullptr;
        }
    }
    return l;
}

double projectOnPlist3D(const Plist3D* l, const Vec3* point, double* param, Vec3* foot) {
    if (l == nullptr || l->count < 1) return -1.0;
    Vec3 f = l->points[0];
    int32_t end = 0;
    const double d =
        l->count < 2 ? dist3D(point, &f) : nearestOnPolyline3D(l->points, l->count, point, &f, &end);
    double s = l->param[0];
    if (l->count >= 2) {
        const int32_t i = end > 0 ? end - 1 : 0;
        const double len = dist3D(&l->points[i], &l->points[i + 1]);
        const double fac = len < 1e-5 ? 0.0 : dist3D(&l->points[i], &f) / len;
        s = l->param[i] + fac * (l->param[i + 1] - l->param[i]);
    }
    if (param) *param = s;
    if (foot) *foot = f;
    return d;
}

int extendPlist3DEnds(Plist3D* l, double d, int mode) {
    if (l == nullptr || l->count < 2) return -1;
    auto beyond = [d](const Vec3& from, const Vec3& to, Vec3* out) {
        const Vec3 v{to.x - from.x, to.y - from.y, to.z - from.z};
        const double len = vecLen3D(&v);
        if (len < 1e-5) return false;
        *out = {to.x + d * v.x / len, to.y + d * v.y / len, to.z + d * v.z / len};
        return true;
    };
    Vec3 p;
    if (mode & 1) {
        if (!beyond(l->points[1], l->points[0], &p) || insertPlist3D(l, l->param[0] - 1.0, &p) < 0) return -1;
    }
    if (mode == 2 || mode == 3) {
        const int32_t n = l->count;
        if (!beyond(l->points[n - 2], l->points[n - 1], &p) ||
            insertPlist3D(l, l->param[n - 1] + 1.0, &p) < 0)
            return -1;
    }
    reparamPlist3D(l);
    return 1;
}

int extendPlist3DSteps(Plist3D* l, double d, int32_t n, int mode) {
    for (int32_t k = 0; k < n; ++k) extendPlist3DEnds(l, d / n, mode);
    return 1;
}

int trimPlist3DStart(Plist3D* l, double s) {
    Vec3 p;
    const int32_t k = evalPlist3D(l, s, &p);
    if (k < 0) return -1;
    if (k == l->count - 1) return 1;
    const int32_t keep = l->count - k;
    std::memmove(l->points, l->points + k, sizeof(Vec3) * static_cast<size_t>(keep));
    std::memmove(l->param, l->param + k, sizeof(double) * static_cast<size_t>(keep));
    l->count = keep;
    l->points[0] = p;
    return 1;
}

int trimPlist3DAtFold(Plist3D* l, double angle) {
    if (l == nullptr || l->count < 2) return 0;
    const double limit = std::cos(angle);
    for (int32_t i = 1; i + 1 < l->count; ++i) {
        const Vec3 a{l->points[i].x - l->points[i - 1].x, l->points[i].y - l->points[i - 1].y,
                     l->points[i].z - l->points[i - 1].z};
        const Vec3 b{l->points[i + 1].x - l->points[i].x, l->points[i + 1].y - l->points[i].y,
                     l->points[i + 1].z - l->points[i].z};
        const double la = vecLen3D(&a), lb = vecLen3D(&b);
        if (la < 1e-5 || lb < 1e-5) continue;
        if (vecDot3D(&a, &b) / (la * lb) < limit) {
            trimPlist3DStart(l, l->param[i]);
            return 1;
        }
    }
    return 0;
}

Plist3DNode* newPlist3DNode(int32_t capacity) {
    auto* n = static_cast<Plist3DNode*>(std::calloc(1, sizeof(Plist3DNode)));
    if (n == nullptr) return nullptr;
    n->list = newPlist3D(capacity);
    if (n->list == nullptr) {
        std::free(n);
        return nullptr;
    }
    return n;
}

int appendPlist3DNode(Plist3DNode* chain, const Plist3D* list) {
    if (chain == nullptr || list == nullptr) return -1;
    Plist3DNode* node = newPlist3DNode(list->capacity);
    if (node == nullptr) return -1;
    if (assignPlist3D(node->list, list) != 1) {
        freePlist3DChain(node);
        return -1;
    }
    while (chain->next != nullptr) chain = chain->next;
    chain->next = node;
    return 1;
}

void freePlist3DChain(Plist3DNode* chain) {
    while (chain != nullptr) {
        Plist3DNode* next = chain->next;
        freePlist3D(chain->list);
        std::free(chain);
        chain = next;
    }
}
