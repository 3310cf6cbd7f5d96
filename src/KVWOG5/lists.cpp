#include "KVWOG5/lists.h"

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>

namespace {

enum Growth { kGrowHalf, kGrowHalfPlusOne };

// Allocates header and data block; the header is zero-filled. Null when either fails.
template <class H, class T>
H* createList(int32_t capacity, int32_t least, int32_t threshold, T* H::*data) {
    if (capacity < threshold) capacity = least;
    H* h = static_cast<H*>(std::calloc(1, sizeof(H)));
    if (!h) return nullptr;
    T* block = static_cast<T*>(std::malloc(static_cast<size_t>(capacity) * sizeof(T)));
    if (!block) {
        std::free(h);
        return nullptr;
    }
    h->capacity = capacity;
    h->*data = block;
    return h;
}

// Makes room for one more element; on failure nothing changes. Appends copy their element
// before growing, so that an element of the list itself may be appended.
template <class T>
bool growIfFull(int32_t count, int32_t& capacity, T*& data, Growth growth) {
    if (count < capacity) return true;
    double next = std::floor(capacity * 1.5 + (growth == kGrowHalfPlusOne ? 1.0 : 0.0));
    if (next > INT32_MAX || next <= capacity) return false;
    void* p = std::realloc(data, static_cast<size_t>(next) * sizeof(T));
    if (!p) return false;
    data = static_cast<T*>(p);
    capacity = static_cast<int32_t>(next);
    return true;
}

template <class V>
void widenMin(V& m, V v) {
    if (v < m) m = v;
}

template <class V>
void widenMax(V& m, V v) {
    if (v > m) m = v;
}

void boxStart2D(double& xmin, double& ymin, double& xmax, double& ymax) {
    xmin = ymin = DBL_MAX;
    xmax = ymax = -DBL_MAX;
}

}  // namespace

// ---- IntList

IntList* intListCreate(int32_t capacity) {
    IntList* l = createList(capacity, 3, 2, &IntList::data);
    if (l) intListReset(l);
    return l;
}

int intListReset(IntList* list) {
    if (!list) return 1;
    list->count = 0;
    list->min = INT32_MAX;
    list->max = INT32_MIN;
    return 1;
}

void intListFree(IntList* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

int intListAdd(IntList* list, int32_t value) {
    if (!list || !list->data) return -1;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalfPlusOne)) return -1;
    list->data[list->count] = value;
    widenMin(list->min, value);
    widenMax(list->max, value);
    return list->count++;
}

// ---- List8

List8* list8Create(int32_t capacity) {
    return createList(capacity, 3, 2, &List8::data);
}

int list8Reset(List8* list) {
    if (list) list->count = 0;
    return 1;
}

int list8Add(List8* list, const IntPair* pair) {
    if (!list || !list->data || !pair) return -1;
    const IntPair v = *pair;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalfPlusOne)) return -1;
    list->data[list->count] = v;
    return list->count++;
}

void listFree(List8* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

// ---- PointList2D, SegList2D

PointList2D* pointList2DCreate(int32_t capacity) {
    PointList2D* l = createList(capacity, 3, 2, &PointList2D::data);
    if (l) pointList2DReset(l);
    return l;
}

int pointList2DReset(PointList2D* list) {
    if (!list) return 1;
    list->count = 0;
    boxStart2D(list->xmin, list->ymin, list->xmax, list->ymax);
    return 1;
}

int pointList2DAdd(PointList2D* list, const Vec2* p) {
    if (!list || !list->data || !p) return -1;
    const Vec2 v = *p;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalfPlusOne)) return -1;
    list->data[list->count++] = v;
    widenMin(list->xmin, v.x);
    widenMin(list->ymin, v.y);
    widenMax(list->xmax, v.x);
    widenMax(list->ymax, v.y);
    return 1;
}

SegList2D* segList2DCreate(int32_t capacity) {
    SegList2D* l = createList(capacity, 3, 3, &SegList2D::data);
    if (l) boxStart2D(l->xmin, l->ymin, l->xmax, l->ymax);
    return l;
}

int segList2DAdd(SegList2D* list, const Seg2D* seg) {
    if (!list || !list->data || !seg) return -1;
    const Seg2D v = *seg;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalfPlusOne)) return -1;
    list->data[list->count++] = v;
    for (int e = 0; e < 2; e++) {
        double x = e ? v.x2 : v.x1, y = e ? v.y2 : v.y1;
        widenMin(list->xmin, x);
        widenMin(list->ymin, y);
        widenMax(list->xmax, x);
        widenMax(list->ymax, y);
    }
    return 1;
}

void segList2DFree(SegList2D* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

void segList2DFree(PointList2D* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

// ---- PointList3D

PointList3D* pointList3DCreate(int32_t capacity) {
    PointList3D* l = createList(capacity, 3, 2, &PointList3D::data);
    if (l) {
        l->xmin = l->ymin = l->zmin = DBL_MAX;
        l->xmax = l->ymax = l->zmax = -DBL_MAX;
    }
    return l;
}

int pointList3DAdd(PointList3D* list, const Vec3* p) {
    if (!list || !list->data || !p) return -1;
    const Vec3 v = *p;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalfPlusOne)) return -1;
    list->data[list->count++] = v;
    widenMin(list->xmin, v.x);
    widenMin(list->ymin, v.y);
    widenMin(list->zmin, v.z);
    widenMax(list->xmax, v.x);
    widenMax(list->ymax, v.y);
    widenMax(list->zmax, v.z);
    return 1;
}

void pointList3DFree(PointList3D* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

// ---- Rec40List, Rec64List

namespace {

template <int N>
void fieldBoxStart(double* mn, double* mx) {
    for (int i = 0; i < N; i++) {
        mn[i] = DBL_MAX;
        mx[i] = -DBL_MAX;
    }
}

template <int N>
void fieldBoxWiden(double* mn, double* mx, const double* v) {
    for (int i = 0; i < N; i++) {
        widenMin(mn[i], v[i]);
        widenMax(mx[i], v[i]);
    }
}

}  // namespace

Rec40List* rec40ListCreate(int32_t capacity) {
    Rec40List* l = createList(capacity, 3, 2, &Rec40List::data);
    if (l) fieldBoxStart<5>(l->min, l->max);
    return l;
}

int rec40ListReset(Rec40List* list) {
    if (!list) return 1;
    list->count = 0;
    fieldBoxStart<5>(list->min, list->max);
    return 1;
}

void rec40ListFree(Rec40List* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

int rec40ListAdd(Rec40List* list, const Rec40* rec) {
    if (!list || !list->data || !rec) return -1;
    const Rec40 v = *rec;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalfPlusOne)) return -1;
    list->data[list->count++] = v;
    fieldBoxWiden<5>(list->min, list->max, v.v);
    return 1;
}

Rec64List* rec64ListCreate(int32_t capacity) {
    Rec64List* l = createList(capacity, 3, 3, &Rec64List::data);
    if (l) fieldBoxStart<8>(l->min, l->max);
    return l;
}

int rec64ListReset(Rec64List* list) {
    if (!list) return 1;
    list->count = 0;
    fieldBoxStart<8>(list->min, list->max);
    return 1;
}

int rec64ListFree(Rec64List* list) {
    if (!list) return 1;
    std::free(list->data);
    std::free(list);
    return 1;
}

int rec64ListAdd(Rec64List* list, const Rec64* rec) {
    if (!list || !list->data || !rec) return -1;
    const Rec64 v = *rec;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalfPlusOne)) return -1;
    list->data[list->count++] = v;
    fieldBoxWiden<8>(list->min, list->max, v.v);
    return 1;
}

// ---- Rec144List

Rec144List* rec144ListCreate(int32_t capacity) {
    return createList(capacity, 3, 3, &Rec144List::data);
}

int rec144ListFree(Rec144List* list) {
    if (!list) return 1;
    if (list->data) {
        for (int32_t i = 0; i < list->count; i++) std::free(list->data[i].data);
        std::free(list->data);
    }
    std::free(list);
    return 1;
}

int rec144ListAdd(Rec144List* list, const Rec64List* src) {
    if (!list || !list->data || !src || (src->count > 0 && !src->data)) return -1;
    Rec64List* copy = rec64ListCreate(src->count);
    if (!copy) return -1;
    for (int32_t i = 0; i < src->count; i++) {
        if (rec64ListAdd(copy, &src->data[i]) < 0) {
            rec64ListFree(copy);
            return -1;
        }
    }
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalfPlusOne)) {
        rec64ListFree(copy);
        return -1;
    }
    list->data[list->count++] = *copy;
    std::free(copy);  // the slot now owns the record block
    return 1;
}

// ---- RecStack40

RecStack40* recStackCreate(int32_t capacity) {
    return createList(capacity, 2, 2, &RecStack40::data);
}

int recStackPush(RecStack40* stack, const Rec40* rec) {
    if (!stack || !stack->data || !rec) return 0;
    const Rec40 v = *rec;
    if (!growIfFull(stack->count, stack->capacity, stack->data, kGrowHalf)) return 0;
    stack->data[stack->count++] = v;
    return 1;
}

int recStackPop(RecStack40* stack, Rec40* out) {
    if (!stack || !stack->data || stack->count <= 0 || !out) return 0;
    *out = stack->data[--stack->count];
    return 1;
}

void listFree(RecStack40* stack) {
    if (!stack) return;
    std::free(stack->data);
    std::free(stack);
}

// ---- TriList, FTriList

TriList* triListCreate(int32_t capacity) {
    TriList* l = createList(capacity, 2, 2, &TriList::data);
    if (l) {
        l->xmin = l->ymin = l->zmin = 1e10;
        l->xmax = l->ymax = l->zmax = -1e10;
    }
    return l;
}

int triListAdd(TriList* list, const Triangle3D* tri) {
    if (!list || !list->data || !tri) return -1;
    const Triangle3D v = *tri;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalf)) return -1;
    list->data[list->count++] = v;
    for (const Vec3& p : v.p) {
        widenMin(list->xmin, p.x);
        widenMin(list->ymin, p.y);
        widenMin(list->zmin, p.z);
        widenMax(list->xmax, p.x);
        widenMax(list->ymax, p.y);
        widenMax(list->zmax, p.z);
    }
    return list->count;
}

void triListFree(TriList* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

FTriList* ftriListCreate(int32_t capacity) {
    FTriList* l = createList(capacity, 3, 3, &FTriList::data);
    if (l) {
        l->xmin = l->ymin = l->zmin = 1e10f;
        l->xmax = l->ymax = l->zmax = -1e10f;
    }
    return l;
}

int ftriListAdd(FTriList* list, const FTriangle* tri) {
    if (!list || !list->data || !tri) return -1;
    const FTriangle t = *tri;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalf)) return -1;
    list->data[list->count++] = t;
    for (int k = 0; k < 9; k += 3) {
        widenMin(list->xmin, t.v[k]);
        widenMin(list->ymin, t.v[k + 1]);
        widenMin(list->zmin, t.v[k + 2]);
        widenMax(list->xmax, t.v[k]);
        widenMax(list->ymax, t.v[k + 1]);
        widenMax(list->zmax, t.v[k + 2]);
    }
    return list->count;
}

void ftriListFree(FTriList* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

// ---- WogArray

WogArray* arrayCreate(int32_t capacity, int32_t elemSize) {
    if (elemSize <= 0) return nullptr;
    if (capacity < 3) capacity = 3;
    WogArray* a = static_cast<WogArray*>(std::calloc(1, sizeof(WogArray)));
    if (!a) return nullptr;
    a->data = std::malloc(static_cast<size_t>(capacity) * static_cast<size_t>(elemSize));
    if (!a->data) {
        std::free(a);
        return nullptr;
    }
    a->capacity = capacity;
    a->elemSize = elemSize;
    return a;
}

void arrayFree(WogArray* array) {
    if (!array) return;
    std::free(array->data);
    std::free(array);
}

int arrayAdd(WogArray* array, const void* element) {
    if (!array) return -1;
    return arrayAddSized(array, element, array->elemSize);
}

int arrayAddSized(WogArray* array, const void* element, int32_t size) {
    if (!array || !array->data || !element) return -1;
    // A larger size would write past the slot.
    if (size < 0 || size > array->elemSize) return -1;
    const size_t elem = static_cast<size_t>(array->elemSize);
    // The element may live inside the block that the growth moves: copy it out first.
    void* tmp = std::malloc(size > 0 ? static_cast<size_t>(size) : 1);
    if (!tmp) return -1;
    std::memcpy(tmp, element, static_cast<size_t>(size));
    if (array->count >= array->capacity) {
        double next = std::floor(array->capacity * 1.5);
        void* p = nullptr;
        if (next <= INT32_MAX && next > array->capacity)
            p = std::realloc(array->data, static_cast<size_t>(next) * elem);
        if (!p) {
            std::free(tmp);
            return -1;
        }
        array->data = p;
        array->capacity = static_cast<int32_t>(next);
    }
    unsigned char* slot = static_cast<unsigned char*>(array->data) + static_cast<size_t>(array->count) * elem;
    std::memcpy(slot, tmp, static_cast<size_t>(size));
    std::memset(slot + size, 0, elem - static_cast<size_t>(size));
    array->count++;
    std::free(tmp);
    return 1;
}

void* arrayAt(WogArray* array, int32_t i) {
    return static_cast<unsigned char*>(array->data) + static_cast<std::ptrdiff_t>(i) * array->elemSize;
}

// ---- StartCandList

StartCandList* startCandListCreate(int32_t capacity) {
    return createList(capacity, 3, 3, &StartCandList::data);
}

void startCandListFree(StartCandList* list) {
    if (!list) return;
    std::free(list->data);
    std::free(list);
}

int startCandListAdd(StartCandList* list, const Seg2D* cand) {
    if (!list || !list->data || !cand) return -1;
    const Seg2D v = *cand;
    if (!growIfFull(list->count, list->capacity, list->data, kGrowHalf)) return -1;
    list->data[list->count++] = v;
    return 1;
}

// ---- conversions

int seg4From6(Seg2D* out, const double* seg3) {
    *out = Seg2D{seg3[0], seg3[1], seg3[3], seg3[4]};
    return 1;
}

int point2Copy(Vec2* out, const Vec2* p) {
    *out = *p;
    return 1;
}

int point3From2(Vec3* out, const Vec2* p, double z) {
    *out = Vec3{p->x, p->y, z};
    return 1;
}

int ftriToDouble(Triangle3D* out, const FTriangle* ftri) {
    for (int k = 0; k < 3; k++) out->p[k] = Vec3{ftri->v[3 * k], ftri->v[3 * k + 1], ftri->v[3 * k + 2]};
    return 1;
}

namespace {

// fmin and fmax as comparisons (a NaN gives the other value): the box of a segment is wanted in
// every sort comparison, where the library calls cost more than the rest.
double lesser(double a, double b) {
    return b < a || a != a ? b : a;
}

double greater(double a, double b) {
    return b > a || a != a ? b : a;
}

}  // namespace

int segBox2D(double* out, const void* seg) {
    const Seg2D* s = static_cast<const Seg2D*>(seg);
    out[0] = lesser(s->x1, s->x2);
    out[1] = lesser(s->y1, s->y2);
    out[2] = greater(s->x1, s->x2);
    out[3] = greater(s->y1, s->y2);
    return 1;
}

int segCompareBox2D(const void* a, const void* b) {
    double ba[4], bb[4];
    segBox2D(ba, a);
    segBox2D(bb, b);
    if (ba[1] != bb[1]) return ba[1] < bb[1] ? -1 : 1;
    if (ba[3] != bb[3]) return ba[3] > bb[3] ? -1 : 1;
    if (ba[0] != bb[0]) return ba[0] < bb[0] ? -1 : 1;
    if (ba[2] != bb[2]) return ba[2] > bb[2] ? -1 : 1;
    return 0;
}
