#include "KVWOG5/lists.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <vector>

#include "KVWOG5/recsort.h"

namespace {

template <class L, class F>
int32_t capacityOf(L* list, F freeFn) {
    int32_t c = list ? list->capacity : -1;
    freeFn(list);
    return c;
}

void freeList8(List8* l) {
    listFree(l);
}
void freeStack(RecStack40* s) {
    listFree(s);
}
void freePoints(PointList2D* l) {
    segList2DFree(l);
}
void freeSegs(SegList2D* l) {
    segList2DFree(l);
}
void freeRec64(Rec64List* l) {
    rec64ListFree(l);
}
void freeRec144(Rec144List* l) {
    rec144ListFree(l);
}

TEST(Lists, CreateAppliesLeastCapacity) {
    const struct {
        const char* what;
        int32_t got, expected;
    } cases[] = {
        {"int 0", capacityOf(intListCreate(0), intListFree), 3},
        {"int 2", capacityOf(intListCreate(2), intListFree), 2},
        {"int -5", capacityOf(intListCreate(-5), intListFree), 3},
        {"int 50", capacityOf(intListCreate(50), intListFree), 50},
        {"list8 1", capacityOf(list8Create(1), freeList8), 3},
        {"points2 2", capacityOf(pointList2DCreate(2), freePoints), 2},
        {"segs 2", capacityOf(segList2DCreate(2), freeSegs), 3},
        {"points3 1", capacityOf(pointList3DCreate(1), pointList3DFree), 3},
        {"rec40 2", capacityOf(rec40ListCreate(2), rec40ListFree), 2},
        {"rec64 2", capacityOf(rec64ListCreate(2), freeRec64), 3},
        {"rec144 2", capacityOf(rec144ListCreate(2), freeRec144), 3},
        {"stack 1", capacityOf(recStackCreate(1), freeStack), 2},
        {"tri 1", capacityOf(triListCreate(1), triListFree), 2},
        {"ftri 2", capacityOf(ftriListCreate(2), ftriListFree), 3},
        {"array 2", capacityOf(arrayCreate(2, 4), arrayFree), 3},
        {"cand 2", capacityOf(startCandListCreate(2), startCandListFree), 3},
    };
    for (const auto& c : cases) EXPECT_EQ(c.got, c.expected) << c.what;
}

// Capacity after each append, from a fresh list.
TEST(Lists, GrowthSequences) {
    {
        IntList* l = intListCreate(0);
        ASSERT_NE(l, nullptr);
        std::vector<int32_t> caps;
        for (int i = 0; i < 14; i++) {
            EXPECT_EQ(intListAdd(l, i), i);
            caps.push_back(l->capacity);
        }
        EXPECT_EQ(caps, (std::vector<int32_t>{3, 3, 3, 5, 5, 8, 8, 8, 13, 13, 13, 13, 13, 20}));
        intListFree(l);
    }
    {
        TriList* l = triListCreate(0);
        ASSERT_NE(l, nullptr);
        Triangle3D t{};
        std::vector<int32_t> caps;
        for (int i = 0; i < 5; i++) {
            EXPECT_EQ(triListAdd(l, &t), i + 1);
            caps.push_back(l->capacity);
        }
        EXPECT_EQ(caps, (std::vector<int32_t>{2, 2, 3, 4, 6}));
        triListFree(l);
    }
    {
        StartCandList* l = startCandListCreate(0);
        ASSERT_NE(l, nullptr);
        Seg2D s{};
        std::vector<int32_t> caps;
        for (int i = 0; i < 10; i++) {
            EXPECT_EQ(startCandListAdd(l, &s), 1);
            caps.push_back(l->capacity);
        }
        EXPECT_EQ(caps, (std::vector<int32_t>{3, 3, 3, 4, 6, 6, 9, 9, 9, 13}));
        startCandListFree(l);
    }
    {
        RecStack40* l = recStackCreate(0);
        ASSERT_NE(l, nullptr);
        Rec40 r{};
        std::vector<int32_t> caps;
        for (int i = 0; i < 5; i++) {
            EXPECT_EQ(recStackPush(l, &r), 1);
            caps.push_back(l->capacity);
        }
        EXPECT_EQ(caps, (std::vector<int32_t>{2, 2, 3, 4, 6}));
        listFree(l);
    }
}

TEST(Lists, IntListTracksMinMaxAndResets) {
    IntList* l = intListCreate(0);
    EXPECT_EQ(l->min, INT32_MAX);
    EXPECT_EQ(l->max, INT32_MIN);
    const int32_t values[] = {5, -7, 3, 12, -2};
    const int32_t mins[] = {5, -7, -7, -7, -7}, maxs[] = {5, 5, 5, 12, 12};
    for (int i = 0; i < 5; i++) {
        intListAdd(l, values[i]);
        EXPECT_EQ(l->min, mins[i]);
        EXPECT_EQ(l->max, maxs[i]);
    }
    EXPECT_EQ(std::vector<int32_t>(l->data, l->data + l->count), std::vector<int32_t>(values, values + 5));
    EXPECT_EQ(intListReset(l), 1);
    EXPECT_EQ(l->count, 0);
    EXPECT_EQ(l->capacity, 5);
    EXPECT_EQ(l->min, INT32_MAX);
    EXPECT_EQ(l->max, INT32_MIN);
    intListFree(l);
}

TEST(Lists, TriListBoxStartsAtTenToTheTen) {
    TriList* l = triListCreate(0);
    EXPECT_EQ(l->xmin, 1e10);
    EXPECT_EQ(l->ymin, 1e10);
    EXPECT_EQ(l->zmin, 1e10);
    EXPECT_EQ(l->xmax, -1e10);
    EXPECT_EQ(l->ymax, -1e10);
    EXPECT_EQ(l->zmax, -1e10);
    Triangle3D t{{{1, 2, 3}, {-1, 5, 0}, {4, -2, 1}}};
    EXPECT_EQ(triListAdd(l, &t), 1);
    EXPECT_EQ(l->xmin, -1);
    EXPECT_EQ(l->ymin, -2);
    EXPECT_EQ(l->zmin, 0);
    EXPECT_EQ(l->xmax, 4);
    EXPECT_EQ(l->ymax, 5);
    EXPECT_EQ(l->zmax, 3);
    triListFree(l);

    FTriList* f = ftriListCreate(0);
    EXPECT_EQ(f->xmin, 1e10f);
    EXPECT_EQ(f->zmax, -1e10f);
    FTriangle ft{{1, 2, 3, -1, 5, 0, 4, -2, 1}};
    EXPECT_EQ(ftriListAdd(f, &ft), 1);
    EXPECT_EQ(ftriListAdd(f, &ft), 2);
    EXPECT_EQ(f->xmin, -1.0f);
    EXPECT_EQ(f->ymax, 5.0f);
    EXPECT_EQ(f->zmin, 0.0f);
    ftriListFree(f);
}

TEST(Lists, PointAndSegmentBoxes) {
    PointList2D* p = pointList2DCreate(2);
    const Vec2 pts[] = {{1, 1}, {-2, 3}, {0, -4}};
    for (const Vec2& v : pts) EXPECT_EQ(pointList2DAdd(p, &v), 1);
    EXPECT_EQ(p->xmin, -2);
    EXPECT_EQ(p->ymin, -4);
    EXPECT_EQ(p->xmax, 1);
    EXPECT_EQ(p->ymax, 3);
    EXPECT_EQ(p->capacity, 4);
    EXPECT_EQ(pointList2DReset(p), 1);
    EXPECT_EQ(p->count, 0);
    EXPECT_EQ(p->capacity, 4);
    EXPECT_EQ(p->xmin, DBL_MAX);
    EXPECT_EQ(p->ymin, DBL_MAX);
    EXPECT_EQ(p->xmax, -DBL_MAX);
    EXPECT_EQ(p->ymax, -DBL_MAX);
    segList2DFree(p);

    SegList2D* s = segList2DCreate(0);
    Seg2D seg{3, -1, -5, 2};
    EXPECT_EQ(segList2DAdd(s, &seg), 1);
    EXPECT_EQ(s->xmin, -5);
    EXPECT_EQ(s->ymin, -1);
    EXPECT_EQ(s->xmax, 3);
    EXPECT_EQ(s->ymax, 2);
    segList2DFree(s);

    PointList3D* q = pointList3DCreate(0);
    const Vec3 q3[] = {{1, 2, 3}, {-1, 7, -3}};
    for (const Vec3& v : q3) EXPECT_EQ(pointList3DAdd(q, &v), 1);
    EXPECT_EQ(q->zmin, -3);
    EXPECT_EQ(q->ymax, 7);
    EXPECT_EQ(q->xmin, -1);
    pointList3DFree(q);
}

TEST(Lists, RecordListsKeepPerFieldBounds) {
    Rec64List* l = rec64ListCreate(0);
    Rec64 a{{1, 2, 3, 4, 5, 6, 7, 8}}, b{{8, 1, 9, -4, 5, 0, 7, 20}};
    EXPECT_EQ(rec64ListAdd(l, &a), 1);
    EXPECT_EQ(rec64ListAdd(l, &b), 1);
    const double mn[] = {1, 1, 3, -4, 5, 0, 7, 8}, mx[] = {8, 2, 9, 4, 5, 6, 7, 20};
    for (int i = 0; i < 8; i++) {
        EXPECT_EQ(l->min[i], mn[i]) << i;
        EXPECT_EQ(l->max[i], mx[i]) << i;
    }
    EXPECT_EQ(rec64ListReset(l), 1);
    EXPECT_EQ(l->min[3], DBL_MAX);
    EXPECT_EQ(rec64ListFree(l), 1);

    Rec40List* r = rec40ListCreate(0);
    Rec40 c{{1, -1, 2, -2, 0}}, d{{-1, 1, 2, 2, 0}};
    rec40ListAdd(r, &c);
    rec40ListAdd(r, &d);
    EXPECT_EQ(r->min[0], -1);
    EXPECT_EQ(r->max[1], 1);
    EXPECT_EQ(r->min[3], -2);
    EXPECT_EQ(r->max[3], 2);
    rec40ListFree(r);
}

TEST(Lists, Rec144AddsADeepCopy) {
    Rec64List* src = rec64ListCreate(0);
    ASSERT_NE(src, nullptr);
    for (int i = 0; i < 5; i++) {
        Rec64 r{};
        for (int k = 0; k < 8; k++) r.v[k] = i * 10 + k;
        rec64ListAdd(src, &r);
    }
    Rec144List* l = rec144ListCreate(0);
    ASSERT_NE(l, nullptr);
    for (int i = 0; i < 4; i++) ASSERT_EQ(rec144ListAdd(l, src), 1);
    ASSERT_EQ(l->count, 4);
    src->data[0].v[0] = 999;  // the copies own their records
    for (int i = 0; i < 4; i++) {
        const Rec64List& c = l->data[i];
        EXPECT_EQ(c.count, 5);
        EXPECT_EQ(c.capacity, 5);
        EXPECT_NE(c.data, src->data);
        EXPECT_EQ(c.data[0].v[0], 0);
        EXPECT_EQ(c.data[4].v[7], 47);
        EXPECT_EQ(c.min[2], 2);
        EXPECT_EQ(c.max[2], 42);
    }
    Rec64List* empty = rec64ListCreate(0);
    EXPECT_EQ(rec144ListAdd(l, empty), 1);
    EXPECT_EQ(l->data[4].count, 0);
    EXPECT_EQ(rec144ListAdd(l, nullptr), -1);
    EXPECT_EQ(rec144ListFree(l), 1);
    rec64ListFree(src);
    rec64ListFree(empty);
}

TEST(Lists, RecStackPopsLastFirst) {
    RecStack40* s = recStackCreate(0);
    Rec40 out{{-9, -9, -9, -9, -9}};
    EXPECT_EQ(recStackPop(s, &out), 0);
    EXPECT_EQ(out.v[0], -9);  // untouched
    for (int i = 0; i < 4; i++) {
        Rec40 r{{double(i), 0, 0, 0, double(-i)}};
        EXPECT_EQ(recStackPush(s, &r), 1);
    }
    for (int i = 3; i >= 0; i--) {
        EXPECT_EQ(recStackPop(s, &out), 1);
        EXPECT_EQ(out.v[0], i);
        EXPECT_EQ(out.v[4], -i);
    }
    EXPECT_EQ(recStackPop(s, &out), 0);
    EXPECT_EQ(recStackPop(nullptr, &out), 0);
    listFree(s);
}

TEST(Lists, ArrayAppendsItsOwnElementAcrossGrowth) {
    struct Elem {
        int32_t id;
        double value[3];
    };
    WogArray* a = arrayCreate(0, sizeof(Elem));
    for (int i = 0; i < 3; i++) {
        Elem e{i + 1, {i * 1.5, -i * 1.0, 7.0}};
        ASSERT_EQ(arrayAdd(a, &e), 1);
    }
    ASSERT_EQ(a->count, a->capacity);
    ASSERT_EQ(arrayAdd(a, arrayAt(a, 0)), 1);
    EXPECT_EQ(a->capacity, 4);
    const Elem* last = static_cast<const Elem*>(arrayAt(a, 3));
    EXPECT_EQ(last->id, 1);
    EXPECT_EQ(last->value[0], 0.0);
    EXPECT_EQ(last->value[2], 7.0);
    arrayFree(a);
}

TEST(Lists, TypedListsAppendTheirOwnElementAcrossGrowth) {
    SegList2D* s = segList2DCreate(0);
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < 3; i++) {
        Seg2D seg{double(i), 1, 2, double(-i)};
        segList2DAdd(s, &seg);
    }
    ASSERT_EQ(segList2DAdd(s, &s->data[2]), 1);
    EXPECT_EQ(s->capacity, 5);
    EXPECT_EQ(s->data[3].x1, 2);
    EXPECT_EQ(s->data[3].y2, -2);
    segList2DFree(s);

    TriList* t = triListCreate(0);
    ASSERT_NE(t, nullptr);
    Triangle3D tri{{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}};
    triListAdd(t, &tri);
    triListAdd(t, &tri);
    ASSERT_EQ(triListAdd(t, &t->data[0]), 3);
    EXPECT_EQ(t->data[2].p[2].z, 9);
    triListFree(t);
}

TEST(Lists, ArrayAddSizedNeverWritesPastTheSlot) {
    WogArray* a = arrayCreate(3, 8);
    const unsigned char big[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    EXPECT_EQ(arrayAddSized(a, big, 16), -1);
    EXPECT_EQ(arrayAddSized(a, big, -1), -1);
    EXPECT_EQ(a->count, 0);
    EXPECT_EQ(arrayAddSized(a, big, 3), 1);
    const unsigned char expected[8] = {1, 2, 3, 0, 0, 0, 0, 0};
    EXPECT_EQ(std::memcmp(arrayAt(a, 0), expected, 8), 0);
    arrayFree(a);
    EXPECT_EQ(arrayCreate(3, 0), nullptr);
}

TEST(Lists, MissingListsFailWithTheirCodes) {
    Vec2 p{};
    Vec3 q{};
    Seg2D s{};
    Rec40 r40{};
    Rec64 r64{};
    IntPair pr{};
    Triangle3D t{};
    FTriangle ft{};
    EXPECT_EQ(intListAdd(nullptr, 1), -1);
    EXPECT_EQ(list8Add(nullptr, &pr), -1);
    EXPECT_EQ(pointList2DAdd(nullptr, &p), -1);
    EXPECT_EQ(segList2DAdd(nullptr, &s), -1);
    EXPECT_EQ(pointList3DAdd(nullptr, &q), -1);
    EXPECT_EQ(rec40ListAdd(nullptr, &r40), -1);
    EXPECT_EQ(rec64ListAdd(nullptr, &r64), -1);
    EXPECT_EQ(recStackPush(nullptr, &r40), 0);
    EXPECT_EQ(triListAdd(nullptr, &t), -1);
    EXPECT_EQ(ftriListAdd(nullptr, &ft), -1);
    EXPECT_EQ(arrayAdd(nullptr, &p), -1);
    EXPECT_EQ(startCandListAdd(nullptr, &s), -1);
    EXPECT_EQ(intListReset(nullptr), 1);
    EXPECT_EQ(list8Reset(nullptr), 1);
    EXPECT_EQ(pointList2DReset(nullptr), 1);
    EXPECT_EQ(rec40ListReset(nullptr), 1);
    EXPECT_EQ(rec64ListReset(nullptr), 1);
    intListFree(nullptr);
    listFree(static_cast<List8*>(nullptr));
    segList2DFree(static_cast<SegList2D*>(nullptr));
    pointList3DFree(nullptr);
    triListFree(nullptr);
    ftriListFree(nullptr);
    arrayFree(nullptr);
    startCandListFree(nullptr);
    EXPECT_EQ(rec144ListFree(nullptr), 1);
}

TEST(Lists, List8StoresPairs) {
    List8* l = list8Create(0);
    for (int32_t i = 0; i < 7; i++) {
        IntPair p{i, -i};
        EXPECT_EQ(list8Add(l, &p), i);
    }
    EXPECT_EQ(l->capacity, 8);
    EXPECT_EQ(l->data[6].a, 6);
    EXPECT_EQ(l->data[6].b, -6);
    EXPECT_EQ(list8Reset(l), 1);
    EXPECT_EQ(l->count, 0);
    listFree(l);
}

TEST(Lists, Conversions) {
    const double six[6] = {1, 2, 3, 4, 5, 6};
    Seg2D s;
    seg4From6(&s, six);
    EXPECT_EQ(s.x1, 1);
    EXPECT_EQ(s.y1, 2);
    EXPECT_EQ(s.x2, 4);
    EXPECT_EQ(s.y2, 5);
    Vec3 p;
    Vec2 q{7, 8};
    point3From2(&p, &q, -1);
    EXPECT_EQ(p.x, 7);
    EXPECT_EQ(p.y, 8);
    EXPECT_EQ(p.z, -1);
    Vec2 c;
    point2Copy(&c, &q);
    EXPECT_EQ(c.x, 7);
    EXPECT_EQ(c.y, 8);
    FTriangle ft{{0.5f, 1, 2, 3, 4, 5, 6, 7, -8.25f}};
    Triangle3D t;
    ftriToDouble(&t, &ft);
    EXPECT_EQ(t.p[0].x, 0.5);
    EXPECT_EQ(t.p[1].y, 4);
    EXPECT_EQ(t.p[2].z, -8.25);
    double box[4];
    Seg2D back{3, 4, -1, 2};
    segBox2D(box, &back);
    EXPECT_EQ(box[0], -1);
    EXPECT_EQ(box[1], 2);
    EXPECT_EQ(box[2], 3);
    EXPECT_EQ(box[3], 4);
}

TEST(Lists, SegCompareBoxOrdersByBox) {
    struct Case {
        Seg2D a, b;
        int expected;
    };
    const Case cases[] = {
        {{0, 0, 1, 1}, {0, 1, 1, 2}, -1},                                    // lower ymin first
        {{0, 1, 1, 2}, {0, 0, 1, 1}, 1},  {{0, 0, 1, 3}, {0, 0, 1, 1}, -1},  // same ymin: higher ymax first
        {{0, 0, 1, 1}, {-1, 0, 1, 1}, 1},                                    // then lower xmin
        {{0, 0, 2, 1}, {0, 0, 1, 1}, -1},                                    // then higher xmax
        {{1, 1, 0, 0}, {0, 0, 1, 1}, 0},                                     // direction does not matter
    };
    for (const Case& c : cases) EXPECT_EQ(segCompareBox2D(&c.a, &c.b), c.expected);

    Seg2D segs[] = {{0, 2, 1, 3}, {0, 0, 1, 1}, {0, 0, 1, 4}, {5, 1, 6, 1}};
    sortRecords(segs, 4, sizeof(Seg2D), segCompareBox2D);
    EXPECT_EQ(segs[0].y2, 4);
    EXPECT_EQ(segs[1].y2, 1);
    EXPECT_EQ(segs[2].x1, 5);
    EXPECT_EQ(segs[3].y1, 2);
}

}  // namespace
