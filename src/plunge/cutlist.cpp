// Cut records, their lists and sets, and the geometric tests on them.
#include "plunge/cutlist.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "plunge/profile2d.h"

namespace {

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

CutRecord makeRecord(const Vec3& top, const Vec3& bottom, int32_t kind) {
    CutRecord r{};
    r.top = r.top2 = r.top3 = top;
    r.bottom = r.bottom2 = bottom;
    const Vec3 d = sub(top, bottom);
    const double len = vecLen3D(&d);
    // A cut without length keeps a zero axis: there is no direction to give it.
    r.axis = len > 0.0 ? Vec3{d.x / len, d.y / len, d.z / len} : Vec3{0.0, 0.0, 0.0};
    r.vector2 = {0.0, 0.0, 1.0};
    r.kind = kind;
    return r;
}

Plist* clonePlist(const Plist* src) {
    if (src == nullptr) return nullptr;
    Plist* p = plistAlloc(src->capacity, src->vectors != nullptr);
    // The allocation hands out a list without vectors when only they cannot be had: not a copy.
    if (p != nullptr && src->vectors != nullptr && p->vectors == nullptr) {
        plistFree(p);
        return nullptr;
    }
    if (p == nullptr) return nullptr;
    const size_t n = static_cast<size_t>(src->count);
    std::memcpy(p->points, src->points, n * sizeof(Vec3));
    std::memcpy(p->parameters, src->parameters, n * sizeof(double));
    std::memcpy(p->flags, src->flags, n * sizeof(uint16_t));
    if (src->vectors != nullptr) {
        std::memcpy(p->vectors, src->vectors, n * sizeof(Vec3));
        std::memcpy(p->bytes, src->bytes, n * sizeof(uint8_t));
    }
    p->count = src->count;
    p->direction = src->direction;
    p->reserved = src->reserved;
    return p;
}

int grow(CutRecordList* list) {
    if (list->count < list->capacity) return 1;
    if (list->capacity > INT32_MAX / 2) return -1;
    const int32_t cap = list->capacity * 2;
    auto* r =
        static_cast<CutRecord*>(std::realloc(list->records, sizeof(CutRecord) * static_cast<size_t>(cap)));
    if (r == nullptr) return -1;
    list->records = r;
    list->capacity = cap;
    return 1;
}

int32_t sampleCount(double length) {
    return std::max<int32_t>(10, static_cast<int32_t>(length) + 1);
}

}  // namespace

CutRecordList* idx5CutListCreate(int32_t capacity) {
    if (capacity < 1) capacity = 1;
    auto* list = static_cast<CutRecordList*>(std::calloc(1, sizeof(CutRecordList)));
    if (list == nullptr) return nullptr;
    list->records = static_cast<CutRecord*>(std::calloc(static_cast<size_t>(capacity), sizeof(CutRecord)));
    if (list->records == nullptr) {
        std::free(list);
        return nullptr;
    }
    list->capacity = capacity;
    return list;
}

CutRecordList* idx5CutListCopy(const CutRecordList* src) {
    if (src == nullptr) return nullptr;
    CutRecordList* list = idx5CutListCreate(src->capacity);
    if (list == nullptr) return nullptr;
    for (int32_t i = 0; i < src->count; ++i) {
        CutRecord r = src->records[i];
        r.list1 = clonePlist(src->records[i].list1);
        r.list2 = clonePlist(src->records[i].list2);
        list->records[i] = r;
        list->count = i + 1;
        if ((src->records[i].list1 != nullptr && r.list1 == nullptr) ||
            (src->records[i].list2 != nullptr && r.list2 == nullptr)) {
            idx5CutListFree(list);
            return nullptr;
        }
    }
    return list;
}

void idx5CutListFree(CutRecordList* list) {
    if (list == nullptr) return;
    for (int32_t i = 0; i < list->count; ++i) {
        plistFree(list->records[i].list1);
        plistFree(list->records[i].list2);
    }
    std::free(list->records);
    std::free(list);
}

int idx5CutListAdd(CutRecordList* list, const Vec3* top, const Vec3* bottom, int32_t kind) {
    if (list == nullptr) return -1;
    return idx5CutListInsert(list, list->count, top, bottom, kind);
}

int idx5CutListInsert(CutRecordList* list, int32_t index, const Vec3* top, const Vec3* bottom, int32_t kind) {
    if (list == nullptr || top == nullptr || bottom == nullptr || index < 0 || index > list->count) return -1;
    if (grow(list) != 1) return -1;
    std::memmove(&list->records[index + 1], &list->records[index],
                 sizeof(CutRecord) * static_cast<size_t>(list->count - index));
    list->records[index] = makeRecord(*top, *bottom, kind);
    ++list->count;
    return 1;
}

void idx5CutListReverse(CutRecordList* list) {
    if (list != nullptr) std::reverse(list->records, list->records + list->count);
}

CutListSet* cutListSetCreate(int32_t capacity) {
    if (capacity < 1) capacity = 1;
    auto* set = static_cast<CutListSet*>(std::calloc(1, sizeof(CutListSet)));
    if (set == nullptr) return nullptr;
    const size_t n = static_cast<size_t>(capacity);
    set->lists = static_cast<CutRecordList**>(std::calloc(n, sizeof(CutRecordList*)));
    set->keys = static_cast<int32_t*>(std::calloc(n, sizeof(int32_t)));
    set->values = static_cast<double*>(std::calloc(n, sizeof(double)));
    set->capacity = capacity;
    if (set->lists == nullptr || set->keys == nullptr || set->values == nullptr) {
        cutListSetFree(set);
        return nullptr;
    }
    return set;
}

int cutListSetAdd(CutListSet* set, const CutRecordList* list, int32_t key, double value) {
    if (set == nullptr || list == nullptr) return -1;
    if (set->count == set->capacity) {
        if (set->capacity > INT32_MAX / 2) return -1;
        const size_t cap = static_cast<size_t>(set->capacity) * 2;
        auto* l = static_cast<CutRecordList**>(std::realloc(set->lists, cap * sizeof(CutRecordList*)));
        if (l == nullptr) return -1;
        set->lists = l;
        auto* k = static_cast<int32_t*>(std::realloc(set->keys, cap * sizeof(int32_t)));
        if (k == nullptr) return -1;
        set->keys = k;
        auto* v = static_cast<double*>(std::realloc(set->values, cap * sizeof(double)));
        if (v == nullptr) return -1;
        set->values = v;
        set->capacity = static_cast<int32_t>(cap);
    }
    CutRecordList* copy = idx5CutListCopy(list);
    if (copy == nullptr) return -1;
    set->lists[set->count] = copy;
    set->keys[set->count] = key;
    set->values[set->count] = value;
    ++set->count;
    return 1;
}

void cutListSetFree(CutListSet* set) {
    if (set == nullptr) return;
    for (int32_t i = 0; set->lists != nullptr && i < set->count; ++i) idx5CutListFree(set->lists[i]);
    std::free(set->lists);
    std::free(set->keys);
    std::free(set->values);
    std::free(set);
}

double cutLineDistance(const Vec3* x, const Vec3* s, const Vec3* e, Vec3* foot) {
    const Vec3 d = sub(*e, *s);
    const double len = vecLen3D(&d);
    const Vec3 xs = sub(*x, *s);
    if (len < 1e-5) {
        if (foot != nullptr) *foot = *s;
        return vecLen3D(&xs);
    }
    const Vec3 u{d.x / len, d.y / len, d.z / len};
    const double t = vecDot3D(&xs, &u);
    const Vec3 f{s->x + t * u.x, s->y + t * u.y, s->z + t * u.z};
    if (foot != nullptr) *foot = f;
    const double q = vecDot3D(&xs, &xs) - t * t;
    return q < 0.0 ? 0.0 : std::sqrt(q);
}

namespace {

// cutLineDistance with the line's direction taken once: the same operations on the same values, so
// the same distances and feet for every point measured against it.
struct CutLine {
    Vec3 s, u;
    bool point;  // too short for a direction: distances are to s
    CutLine(const Vec3& start, const Vec3& end) : s(start) {
        const Vec3 d = sub(end, start);
        const double len = vecLen3D(&d);
        point = len < 1e-5;
        u = point ? Vec3{} : Vec3{d.x / len, d.y / len, d.z / len};
    }
    double distance(const Vec3& x) const {
        const Vec3 xs = sub(x, s);
        if (point) return vecLen3D(&xs);
        const double t = vecDot3D(&xs, &u);
        const double q = vecDot3D(&xs, &xs) - t * t;
        return q < 0.0 ? 0.0 : std::sqrt(q);
    }
    Vec3 foot(const Vec3& x) const {
        if (point) return s;
        const Vec3 xs = sub(x, s);
        const double t = vecDot3D(&xs, &u);
        return {s.x + t * u.x, s.y + t * u.y, s.z + t * u.z};
    }
};

}  // namespace

int cutListCovers(const CutRecordList* list, const Vec3* p, const Vec3* q, double r) {
    if (list == nullptr) return 1;
    if (list->count == 0 || p == nullptr || q == nullptr) return 0;
    const Vec3 d = sub(*q, *p);
    const int32_t n = sampleCount(vecLen3D(&d));
    for (int32_t k = 0; k <= n; ++k) {
        const double t = static_cast<double>(k) / n;
        const Vec3 x{p->x + t * d.x, p->y + t * d.y, p->z + t * d.z};
        bool near = false;
        for (int32_t i = 0; i < list->count && !near; ++i)
            near = cutLineDistance(&x, &list->records[i].top, &list->records[i].bottom, nullptr) < r;
        if (!near) return 0;
    }
    return 1;
}

double cutListGap(const CutRecordList* a, const CutRecordList* b, int32_t side, const Profile2D* profile) {
    if (a == nullptr || b == nullptr || b->count == 0) return 0.0;
    double gap = 0.0;
    // The profile's search boxes, taken at the first side test (the profile stays as it is).
    std::vector<double> boxes;
    std::vector<CutLine> lines;
    lines.reserve(static_cast<size_t>(b->count));
    for (int32_t j = 0; j < b->count; ++j) lines.emplace_back(b->records[j].top, b->records[j].bottom);
    for (int32_t i = 0; i < a->count; ++i) {
        const CutRecord& c = a->records[i];
        const Vec3 d = sub(c.bottom, c.top);
        const int32_t n = sampleCount(vecLen3D(&d));
        for (int32_t k = 0; k <= n; ++k) {
            const double t = static_cast<double>(k) / n;
            const Vec3 x{c.top.x + t * d.x, c.top.y + t * d.y, c.top.z + t * d.z};
            double best = 1e300;
            int32_t nearest = -1;
            for (int32_t j = 0; j < b->count; ++j) {
                const double dist = lines[static_cast<size_t>(j)].distance(x);
                if (dist < best) best = dist, nearest = j;
            }
            const Vec3 foot = nearest < 0 ? Vec3{} : lines[static_cast<size_t>(nearest)].foot(x);
            // The side test only decides whether best may raise the gap.
            if (!(best > gap)) continue;
            if (profile != nullptr && (side == 0 || side == 1)) {
                double px = 0.0, pf = 0.0;
                int32_t seg = 0;
                if (boxes.empty() && profile2DBoxSize(profile) > 0) {
                    boxes.resize(static_cast<size_t>(profile2DBoxSize(profile)));
                    profile2DBoxes(profile, boxes.data());
                }
                closestPointProfile2DBoxed(profile, boxes.data(), &x, &px, &seg);
                closestPointProfile2DBoxed(profile, boxes.data(), &foot, &pf, &seg);
                if (side == 0 && !(pf - 2.0 <= px)) continue;
                if (side == 1 && !(px <= pf + 2.0)) continue;
            }
            gap = std::max(gap, best);
        }
    }
    return gap;
}

int cutRaiseBottom(CutRecordList* list, int32_t i, const CutListSet* set, int32_t j, double r, double m) {
    if (list == nullptr || set == nullptr || i < 0 || i >= list->count || j < 0 || j >= set->count) return 0;
    const double v = set->values[j];
    int32_t lo = j, hi = j;
    while (lo > 0 && std::fabs(set->values[lo - 1] - v) <= 3.0 * r) --lo;
    while (hi + 1 < set->count && std::fabs(set->values[hi + 1] - v) <= 3.0 * r) ++hi;
    CutRecord& rec = list->records[i];
    const Vec3 d = sub(rec.top, rec.bottom);
    const double len = vecLen3D(&d);
    if (len < 1e-12) return 0;
    const Vec3 u{d.x / len, d.y / len, d.z / len};
    bool found = false;
    double h = 0.0;
    for (int32_t k = lo; k <= hi; ++k) {
        const CutRecordList* other = set->lists[k];
        for (int32_t n = 0; other != nullptr && n < other->count; ++n) {
            const CutRecord& o = other->records[n];
            if (!o.active) continue;
            Vec3 foot;
            if (cutLineDistance(&o.bottom, &rec.top, &rec.bottom, &foot) > r) continue;
            const Vec3 fb = sub(foot, rec.bottom);
            const double lift = vecDot3D(&fb, &u);
            if (!found || lift < h) h = lift, found = true;
        }
    }
    if (!found) h = 0.0;
    if (h < m + 1e-5) return 0;
    rec.bottom = {rec.bottom.x + h * u.x, rec.bottom.y + h * u.y, rec.bottom.z + h * u.z};
    rec.bottom2 = {rec.bottom2.x + h * u.x, rec.bottom2.y + h * u.y, rec.bottom2.z + h * u.z};
    return h > len + 1e-5 ? -2 : 1;
}
