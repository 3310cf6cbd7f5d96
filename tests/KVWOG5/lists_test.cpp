#include "KVWOG5/lists.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cstring>
#include <random>
#include <vector>

#include "KVWOG5/recsort.h"
#include "vecnear.h"

namespace {

// Every list, grown from each least capacity well past several growths, holds what was appended in
// order, and its bounds are those of a scan over the values.
TEST(Lists, SeededAppendsKeepOrderAndBounds) {
    std::mt19937 rng(5301);
    std::uniform_real_distribution<double> u(-50, 50);
    for (int32_t cap : {-5, 0, 1, 2, 7}) {
        const int n = 40;
        IntList* il = intListCreate(cap);
        PointList2D* pl = pointList2DCreate(cap);
        SegList2D* sl = segList2DCreate(cap);
        PointList3D* ql = pointList3DCreate(cap);
        TriList* tl = triListCreate(cap);
        FTriList* fl = ftriListCreate(cap);
        Rec64List* rl = rec64ListCreate(cap);
        Rec40List* r40 = rec40ListCreate(cap);
        StartCandList* cl = startCandListCreate(cap);
        List8* l8 = list8Create(cap);
        ASSERT_TRUE(il && pl && sl && ql && tl && fl && rl && r40 && cl && l8) << cap;
        std::vector<double> v;
        for (int i = 0; i < n; i++) {
            double w[9];
            for (double& x : w) x = u(rng);
            v.insert(v.end(), w, w + 9);
            const Vec2 p{w[0], w[1]};
            const Seg2D s{w[0], w[1], w[2], w[3]};
            const Vec3 q{w[0], w[1], w[2]};
            Triangle3D t{{{w[0], w[1], w[2]}, {w[3], w[4], w[5]}, {w[6], w[7], w[8]}}};
            FTriangle ft;
            for (int k = 0; k < 9; k++) ft.v[k] = static_cast<float>(w[k]);
            Rec64 r{};
            Rec40 r5{};
            std::copy(w, w + 8, r.v);
            std::copy(w, w + 5, r5.v);
            EXPECT_EQ(intListAdd(il, static_cast<int32_t>(w[0])), i);
            EXPECT_EQ(pointList2DAdd(pl, &p), 1);
            EXPECT_EQ(segList2DAdd(sl, &s), 1);
            EXPECT_EQ(pointList3DAdd(ql, &q), 1);
            EXPECT_EQ(triListAdd(tl, &t), i + 1);
            EXPECT_EQ(ftriListAdd(fl, &ft), i + 1);
            EXPECT_EQ(rec64ListAdd(rl, &r), 1);
            EXPECT_EQ(rec40ListAdd(r40, &r5), 1);
            EXPECT_EQ(startCandListAdd(cl, &s), 1);
            const IntPair pair{i, -i};
            EXPECT_EQ(list8Add(l8, &pair), i);
        }
        auto at = [&](int i, int k) { return v[static_cast<size_t>(9 * i + k)]; };
        // Least and greatest of field k over every record, and over fields k, k+3, k+6 for points.
        auto lo = [&](std::initializer_list<int> ks) {
            double m = DBL_MAX;
            for (int i = 0; i < n; i++)
                for (int k : ks) m = std::min(m, at(i, k));
            return m;
        };
        auto hi = [&](std::initializer_list<int> ks) {
            double m = -DBL_MAX;
            for (int i = 0; i < n; i++)
                for (int k : ks) m = std::max(m, at(i, k));
            return m;
        };
        for (int i = 0; i < n; i++) {
            EXPECT_EQ(il->data[i], static_cast<int32_t>(at(i, 0)));
            EXPECT_EQ(sl->data[i].y2, at(i, 3));
            EXPECT_EQ(ql->data[i].z, at(i, 2));
            EXPECT_EQ(tl->data[i].p[2].y, at(i, 7));
            EXPECT_EQ(rl->data[i].v[7], at(i, 7));
            EXPECT_EQ(cl->data[i].x2, at(i, 2));
            EXPECT_EQ(l8->data[i].b, -i);
        }
        EXPECT_EQ(il->min, static_cast<int32_t>(*std::min_element(il->data, il->data + n)));
        EXPECT_EQ(il->max, static_cast<int32_t>(*std::max_element(il->data, il->data + n)));
        EXPECT_EQ(pl->xmin, lo({0}));
        EXPECT_EQ(pl->ymax, hi({1}));
        EXPECT_EQ(sl->xmin, lo({0, 2}));
        EXPECT_EQ(sl->ymax, hi({1, 3}));
        EXPECT_EQ(ql->zmin, lo({2}));
        EXPECT_EQ(tl->xmin, lo({0, 3, 6}));
        EXPECT_EQ(tl->zmax, hi({2, 5, 8}));
        EXPECT_EQ(fl->ymin, static_cast<float>(lo({1, 4, 7})));
        for (int k = 0; k < 8; k++) {
            EXPECT_EQ(rl->min[k], lo({k}));
            EXPECT_EQ(rl->max[k], hi({k}));
        }
        EXPECT_EQ(r40->min[4], lo({4}));
        // A reset empties the list and forgets its bounds, keeping the block.
        const int32_t kept = pl->capacity;
        EXPECT_EQ(intListReset(il), 1);
        EXPECT_EQ(pointList2DReset(pl), 1);
        EXPECT_EQ(rec64ListReset(rl), 1);
        EXPECT_EQ(il->count, 0);
        EXPECT_EQ(il->min, INT32_MAX);
        EXPECT_EQ(il->max, INT32_MIN);
        EXPECT_EQ(pl->capacity, kept);
        EXPECT_EQ(pl->xmin, DBL_MAX);
        EXPECT_EQ(pl->ymax, -DBL_MAX);
        EXPECT_EQ(rl->min[3], DBL_MAX);
        intListFree(il);
        segList2DFree(pl);
        segList2DFree(sl);
        pointList3DFree(ql);
        triListFree(tl);
        ftriListFree(fl);
        EXPECT_EQ(rec64ListFree(rl), 1);
        rec40ListFree(r40);
        startCandListFree(cl);
        listFree(l8);
    }
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
    ASSERT_NE(s, nullptr);
    Rec40 out{{-9, -9, -9, -9, -9}};
    EXPECT_EQ(recStackPop(s, &out), 0);
    EXPECT_EQ(out.v[0], -9);  // untouched
    for (int i = 0; i < 6; i++) {
        Rec40 r{{double(i), 0, 0, 0, double(-i)}};
        EXPECT_EQ(recStackPush(s, &r), 1);
    }
    for (int i = 5; i >= 0; i--) {
        EXPECT_EQ(recStackPop(s, &out), 1);
        EXPECT_EQ(out.v[0], i);
        EXPECT_EQ(out.v[4], -i);
    }
    EXPECT_EQ(recStackPop(s, &out), 0);
    EXPECT_EQ(recStackPop(nullptr, &out), 0);
    listFree(s);
}

// An element of the list itself, appended when the block must move, is read before the move.
TEST(Lists, ListsAppendTheirOwnElementAcrossGrowth) {
    struct Elem {
        int32_t id;
        double value[3];
    };
    WogArray* a = arrayCreate(0, sizeof(Elem));
    ASSERT_NE(a, nullptr);
    for (int i = 0; i < 3; i++) {
        Elem e{i + 1, {i * 1.5, -i * 1.0, 7.0}};
        ASSERT_EQ(arrayAdd(a, &e), 1);
    }
    ASSERT_EQ(a->count, a->capacity);
    ASSERT_EQ(arrayAdd(a, arrayAt(a, 0)), 1);
    const Elem* last = static_cast<const Elem*>(arrayAt(a, 3));
    EXPECT_EQ(last->id, 1);
    EXPECT_EQ(last->value[2], 7.0);
    arrayFree(a);

    SegList2D* s = segList2DCreate(0);
    ASSERT_NE(s, nullptr);
    for (int i = 0; i < 3; i++) {
        Seg2D seg{double(i), 1, 2, double(-i)};
        segList2DAdd(s, &seg);
    }
    ASSERT_EQ(s->count, s->capacity);
    ASSERT_EQ(segList2DAdd(s, &s->data[2]), 1);
    EXPECT_EQ(s->data[3].x1, 2);
    EXPECT_EQ(s->data[3].y2, -2);
    segList2DFree(s);

    TriList* t = triListCreate(0);
    ASSERT_NE(t, nullptr);
    Triangle3D tri{{{1, 2, 3}, {4, 5, 6}, {7, 8, 9}}};
    triListAdd(t, &tri);
    triListAdd(t, &tri);
    ASSERT_EQ(t->count, t->capacity);
    ASSERT_EQ(triListAdd(t, &t->data[0]), 3);
    EXPECT_EQ(t->data[2].p[2].z, 9);
    triListFree(t);
}

TEST(Lists, ArrayAddSizedNeverWritesPastTheSlot) {
    WogArray* a = arrayCreate(3, 8);
    ASSERT_NE(a, nullptr);
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
    const int adds[] = {
        intListAdd(nullptr, 1),      list8Add(nullptr, &pr),       pointList2DAdd(nullptr, &p),
        segList2DAdd(nullptr, &s),   pointList3DAdd(nullptr, &q),  rec40ListAdd(nullptr, &r40),
        rec64ListAdd(nullptr, &r64), triListAdd(nullptr, &t),      ftriListAdd(nullptr, &ft),
        arrayAdd(nullptr, &p),       startCandListAdd(nullptr, &s)};
    for (int r : adds) EXPECT_EQ(r, -1);
    EXPECT_EQ(recStackPush(nullptr, &r40), 0);
    const int resets[] = {intListReset(nullptr),   list8Reset(nullptr),     pointList2DReset(nullptr),
                          rec40ListReset(nullptr), rec64ListReset(nullptr), rec144ListFree(nullptr)};
    for (int r : resets) EXPECT_EQ(r, 1);
    intListFree(nullptr);
    listFree(static_cast<List8*>(nullptr));
    segList2DFree(static_cast<SegList2D*>(nullptr));
    pointList3DFree(nullptr);
    triListFree(nullptr);
    ftriListFree(nullptr);
    arrayFree(nullptr);
    startCandListFree(nullptr);
}

TEST(Lists, ConversionsTakeTheirFields) {
    const double six[6] = {1, 2, 3, 4, 5, 6};
    Seg2D s;
    seg4From6(&s, six);
    EXPECT_TRUE(s.x1 == 1 && s.y1 == 2 && s.x2 == 4 && s.y2 == 5);
    Vec3 p;
    Vec2 q{7, 8}, c;
    point3From2(&p, &q, -1);
    EXPECT_XYZ(EXPECT_EQ, p, 7, 8, -1);
    point2Copy(&c, &q);
    EXPECT_XY(EXPECT_EQ, c, 7, 8);
    const FTriangle ft{{0.5f, 1, 2, 3, 4, 5, 6, 7, -8.25f}};
    Triangle3D t;
    ftriToDouble(&t, &ft);
    EXPECT_TRUE(t.p[0].x == 0.5 && t.p[1].y == 4 && t.p[2].z == -8.25);
    double box[4];
    const Seg2D back{3, 4, -1, 2};
    segBox2D(box, &back);
    EXPECT_TRUE(box[0] == -1 && box[1] == 2 && box[2] == 3 && box[3] == 4);
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
