#include "geometry/plist.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <vector>

namespace {

struct ListFree {
    void operator()(Plist* l) const { plistFree(l); }
};
using ListPtr = std::unique_ptr<Plist, ListFree>;

uint16_t kindFlag(int kind, int low = 0) {
    return static_cast<uint16_t>(kind << 8 | low);
}

int kindOf(const Plist* l, int32_t i) {
    return l->flags[i] >> 8;
}

// A list of points (x, 0, 0) with the given parameters and kinds, parameter x by default.
ListPtr makeList(const std::vector<double>& xs, const std::vector<int>& kinds = {},
                 const std::vector<double>& params = {}, bool withVectors = false) {
    ListPtr l(plistCreate(static_cast<int32_t>(xs.size()), withVectors ? 1 : 0));
    for (size_t i = 0; i < xs.size(); ++i) {
        const Vec3 p{xs[i], 0, 0};
        const Vec3 v{0, 0, 1};
        const double t = params.empty() ? xs[i] : params[i];
        plistAppend(l.get(), t, &p, kinds.empty() ? 0 : kindFlag(kinds[i]), &v, static_cast<uint8_t>(i));
    }
    return l;
}

std::vector<double> paramsOf(const Plist* l) {
    return std::vector<double>(l->parameters, l->parameters + l->count);
}

std::vector<double> xsOf(const Plist* l) {
    std::vector<double> xs;
    for (int32_t i = 0; i < l->count; ++i) xs.push_back(l->points[i].x);
    return xs;
}

void expectVec(const Vec3& a, const Vec3& b, double tol = 1e-12) {
    EXPECT_NEAR(a.x, b.x, tol);
    EXPECT_NEAR(a.y, b.y, tol);
    EXPECT_NEAR(a.z, b.z, tol);
}

}  // namespace

TEST(Plist, CreateClampsCapacityAndAllocatesOptionalArrays) {
    ListPtr big(plistCreate(100000, 1));
    ASSERT_NE(big, nullptr);
    EXPECT_EQ(big->capacity, 40000);
    EXPECT_EQ(big->count, 0);
    EXPECT_EQ(big->direction, 0);
    EXPECT_NE(big->vectors, nullptr);
    EXPECT_NE(big->bytes, nullptr);
    ListPtr plain(plistCreate(7, 0));
    ASSERT_NE(plain, nullptr);
    EXPECT_EQ(plain->capacity, 7);
    EXPECT_EQ(plain->vectors, nullptr);
    EXPECT_EQ(plain->bytes, nullptr);
    ListPtr exact(plistAlloc(50000, 0));
    ASSERT_NE(exact, nullptr);
    EXPECT_EQ(exact->capacity, 50000);
    EXPECT_EQ(plistCreate(-1, 0), nullptr);
    EXPECT_EQ(plistAlloc(-1, 0), nullptr);
    plistFree(nullptr);
}

TEST(Plist, AppendGrowsByHalf) {
    const struct { int32_t cap, grown; } cases[] = {{0, 1}, {1, 2}, {2, 3}, {10, 15}, {39000, 40000}};
    for (const auto& c : cases) {
        ListPtr l(plistAlloc(c.cap, 1));
        ASSERT_NE(l, nullptr);
        const Vec3 p{1, 2, 3};
        for (int32_t i = 0; i < c.cap; ++i) ASSERT_EQ(plistAppend(l.get(), i, &p, 0, nullptr, 0), i);
        EXPECT_EQ(l->capacity, c.cap);
        EXPECT_EQ(plistAppend(l.get(), c.cap, &p, 0, nullptr, 0), c.cap);
        EXPECT_EQ(l->capacity, c.grown) << c.cap;
        EXPECT_EQ(l->count, c.cap + 1);
    }
}

TEST(Plist, CapacityClampFailsCleanlyWithNothingLost) {
    ListPtr l(plistCreate(100, 1));
    ASSERT_NE(l, nullptr);
    for (int32_t i = 0; i < kPlistMaxPoints; ++i) {
        const Vec3 p{double(i), double(-i), 1}, v{1, 0, 0};
        ASSERT_EQ(plistAppend(l.get(), i, &p, kindFlag(i % 3), &v, static_cast<uint8_t>(i)), i);
    }
    EXPECT_EQ(l->capacity, kPlistMaxPoints);
    const Vec3 q{-1, -1, -1};
    EXPECT_EQ(plistAppend(l.get(), 1e9, &q, 0, nullptr, 0), -1);
    EXPECT_EQ(plistInsert(l.get(), 0.5, &q, 0, nullptr, 0), -1);
    EXPECT_EQ(plistSplitAtParam(l.get(), 0.5, 1e-3), -1);
    ASSERT_EQ(l->count, kPlistMaxPoints);
    for (int32_t i = 0; i < kPlistMaxPoints; ++i) {
        ASSERT_EQ(l->parameters[i], i);
        ASSERT_EQ(l->points[i].x, i);
        ASSERT_EQ(l->points[i].y, -i);
        ASSERT_EQ(l->flags[i], kindFlag(i % 3));
        ASSERT_EQ(l->vectors[i].x, 1);
        ASSERT_EQ(l->bytes[i], static_cast<uint8_t>(i));
    }
    // Room made by a deletion can be used again.
    ASSERT_EQ(plistDeleteRange(l.get(), 0, 0), 1);
    EXPECT_EQ(plistAppend(l.get(), 1e9, &q, 0, nullptr, 0), kPlistMaxPoints - 1);
}

TEST(Plist, InsertKeepsParameterOrder) {
    const struct {
        std::vector<double> params;
        double t;
        int32_t index;
    } cases[] = {
        {{0, 5, 10}, 5.0, 1}, {{0, 5, 10}, -1, 0}, {{0, 5, 10}, 11, 3}, {{0, 5, 10}, 10 + 5e-6, 2},
        {{0, 5, 10}, 7, 2},   {{10, 5, 0}, 7, 1},  {{10, 5, 0}, 11, 0}, {{10, 5, 0}, -1, 3},
        {{}, 3, 0},           {{4}, 3, 0},         {{4}, 4, 0},         {{4}, 5, 1},
    };
    for (const auto& c : cases) {
        ListPtr l = makeList(c.params);
        const Vec3 p{99, 0, 0};
        EXPECT_EQ(plistInsert(l.get(), c.t, &p, 0, nullptr, 0), c.index) << c.t;
        ASSERT_EQ(l->count, static_cast<int32_t>(c.params.size()) + 1);
        EXPECT_EQ(l->parameters[c.index], c.t);
        EXPECT_EQ(l->points[c.index].x, 99);
    }
}

TEST(Plist, StoringALinkClearsTheSubCode) {
    const struct {
        uint16_t flag, stored;
    } cases[] = {{0x0207, 0x0200}, {0x0200, 0x0200}, {0x0307, 0x0307}, {0x0064, 0x0064}, {0x0A07, 0x0A07}};
    for (const auto& c : cases) {
        ListPtr l(plistCreate(4, 1));
        const Vec3 p{0, 0, 0};
        ASSERT_EQ(plistInsert(l.get(), 0, &p, c.flag, nullptr, 0), 0);
        ASSERT_EQ(plistAppend(l.get(), 1, &p, c.flag, nullptr, 0), 1);
        EXPECT_EQ(l->flags[0], c.stored);
        EXPECT_EQ(l->flags[1], c.stored);
    }
}

TEST(Plist, VectorsAndBytesAreStoredOnlyWhereTheListHasThem) {
    ListPtr with(plistCreate(2, 1));
    const Vec3 p{1, 1, 1}, v{0, 1, 0};
    plistAppend(with.get(), 0, &p, 0, &v, 42);
    plistAppend(with.get(), 1, &p, 0, nullptr, 43);
    expectVec(with->vectors[0], v);
    expectVec(with->vectors[1], Vec3{0, 0, 1});
    EXPECT_EQ(with->bytes[0], 42);
    EXPECT_EQ(with->bytes[1], 43);
    ListPtr without(plistCreate(2, 0));
    EXPECT_EQ(plistAppend(without.get(), 0, &p, 0, &v, 42), 0);
    EXPECT_EQ(plistAppend(nullptr, 0, &p, 0, &v, 42), -1);
    EXPECT_EQ(plistInsert(nullptr, 0, &p, 0, &v, 42), -1);
    EXPECT_EQ(plistAppend(without.get(), 0, nullptr, 0, &v, 42), -1);
    // A point of the list itself may be appended even when growth moves the arrays.
    ListPtr self(plistAlloc(1, 1));
    plistAppend(self.get(), 0, &p, 0, &v, 1);
    EXPECT_EQ(plistAppend(self.get(), 1, &self->points[0], 0, &self->vectors[0], 2), 1);
    expectVec(self->points[1], p);
    expectVec(self->vectors[1], v);
}

TEST(Plist, PointAtParamInterpolatesInsideAndRejectsOutside) {
    ListPtr l = makeList({0, 2, 4, 10});
    const struct {
        double t;
        int32_t result;
        double x;
    } cases[] = {
        {10, 2, 10},  {10 + 2e-5, -1, 0}, {10 + 5e-6, 2, 10.000005},
        {0, 0, 0},    {-2e-5, -1, 0},     {1, 0, 1},
        {2, 0, 2},    {3, 1, 3},          {7, 2, 7},
        {NAN, -1, 0},
    };
    for (const auto& c : cases) {
        Vec3 out{-7, -7, -7};
        EXPECT_EQ(plistPointAtParam(l.get(), c.t, &out), c.result) << c.t;
        if (c.result >= 0) {
            EXPECT_NEAR(out.x, c.x, 1e-9) << c.t;
        }
    }
    Vec3 out;
    ListPtr empty(plistCreate(3, 0));
    EXPECT_EQ(plistPointAtParam(empty.get(), 0, &out), -1);
    ListPtr one = makeList({5});
    EXPECT_EQ(plistPointAtParam(one.get(), 5, &out), 0);
    EXPECT_EQ(out.x, 5);
    // Coincident parameters: no division by their zero difference.
    ListPtr dup = makeList({1, 2}, {}, {3, 3});
    EXPECT_EQ(plistPointAtParam(dup.get(), 3, &out), 0);
    EXPECT_TRUE(std::isfinite(out.x));
}

TEST(Plist, PointAndVectorAtParamTurnsTheVector) {
    ListPtr l(plistCreate(3, 1));
    const Vec3 p0{0, 0, 0}, p1{2, 0, 0}, vx{1, 0, 0}, vy{0, 1, 0};
    plistAppend(l.get(), 0, &p0, 0, &vx, 0);
    plistAppend(l.get(), 2, &p1, 0, &vy, 0);
    Vec3 p, v;
    EXPECT_EQ(plistPointAndVectorAtParam(l.get(), 1, &p, &v), 1);
    expectVec(p, Vec3{1, 0, 0});
    expectVec(v, Vec3{std::sqrt(0.5), std::sqrt(0.5), 0});
    EXPECT_EQ(plistPointAndVectorAtParam(l.get(), 2, &p, &v), 1);
    expectVec(v, vy);
    EXPECT_EQ(plistPointAndVectorAtParam(l.get(), 3, &p, &v), -1);
    ListPtr noVec = makeList({0, 1});
    EXPECT_EQ(plistPointAndVectorAtParam(noVec.get(), 0.5, &p, &v), -1);
    // A zero parameter step and a single point give the start's vector, not NaN or a stray read.
    ListPtr flat(plistCreate(2, 1));
    plistAppend(flat.get(), 1, &p0, 0, &vx, 0);
    EXPECT_EQ(plistPointAndVectorAtParam(flat.get(), 1, &p, &v), 1);
    expectVec(v, vx);
    plistAppend(flat.get(), 1, &p1, 0, &vy, 0);
    EXPECT_EQ(plistPointAndVectorAtParam(flat.get(), 1, &p, &v), 1);
    expectVec(v, vx);
}

TEST(Plist, LengthLeavesOutLinkSegments) {
    const struct {
        std::vector<double> xs;
        std::vector<int> kinds;
        double length;
    } cases[] = {
        {{0, 1, 2}, {0, 2, 0}, 0.0},
        {{0, 1, 2, 3}, {0, 0, 0, 0}, 3.0},
        {{0, 1, 2, 4}, {0, 0, 2, 0}, 1.0},
        {{0, 1, 3, 4}, {3, 4, 10, 0}, 4.0},
        {{5}, {0}, 0.0},
        {{}, {}, 0.0},
    };
    for (const auto& c : cases) EXPECT_DOUBLE_EQ(plistLength(makeList(c.xs, c.kinds).get()), c.length);
    EXPECT_EQ(plistLength(nullptr), 0.0);
}

TEST(Plist, ArcLengthParamsSumAllSegments) {
    ListPtr l = makeList({3, 4, 6, 6, 1}, {0, 2, 0, 0, 0}, {9, 9, 9, 9, 9});
    plistSetArcLengthParams(l.get());
    EXPECT_EQ(paramsOf(l.get()), (std::vector<double>{0, 1, 3, 3, 8}));
}

TEST(Plist, NeighbourAndKindQueries) {
    //                        0  1  2  3  4   5  6   7
    ListPtr l = makeList({0, 1, 2, 3, 4, 5, 6, 7}, {0, 3, 6, 2, 10, 4, 12, 3});
    int32_t prev = -9, next = -9;
    EXPECT_EQ(plistFindNeighbours(l.get(), 3, &prev, &next), 0);
    EXPECT_EQ(prev, 0);
    EXPECT_EQ(next, 4);
    EXPECT_EQ(plistFindNeighbours(l.get(), 6, &prev, &next), -1);  // only kind 3 after it
    EXPECT_EQ(plistFindNeighbours(l.get(), 0, &prev, &next), -1);
    EXPECT_EQ(plistFindNeighbours(l.get(), 8, &prev, &next), -1);
    const struct {
        int32_t i, j;
        int result;
    } changes[] = {{0, 3, 1}, {3, 3, 0}, {0, 1, 0}, {0, 5, 1}, {5, 6, 1},
                   {6, 6, 0}, {2, 4, 0}, {0, 8, 0}, {-1, 0, 0}};
    for (const auto& c : changes)
        EXPECT_EQ(plistKindChanges(l.get(), c.i, c.j), c.result) << c.i << "," << c.j;
    EXPECT_EQ(plistKindChanges(nullptr, 0, 0), 0);
    const int nextIsLink[] = {0, 0, 1, 0, 0, 0, 0, 1};
    for (int32_t i = 0; i < 8; ++i) EXPECT_EQ(plistNextIsLink(l.get(), i), nextIsLink[i]) << i;
    EXPECT_EQ(plistNextIsLink(l.get(), 20), 1);
    const struct {
        int32_t i;
        int result;
        int32_t out;
    } free[] = {{0, 1, 2}, {2, 1, 5}, {5, 1, 6}, {6, 0, -1}, {7, 0, -1}};
    for (const auto& c : free) {
        int32_t out = -1;
        EXPECT_EQ(plistNextFreeIndex(c.i, l.get(), &out), c.result) << c.i;
        EXPECT_EQ(out, c.out) << c.i;
    }
}

TEST(Plist, SplitAtParamFindsOrInsertsAVertex) {
    plistResetState();
    EXPECT_EQ(plistSplitIndex(), -1);
    const struct {
        std::vector<double> params;
        double t, tol;
        int result;
        int32_t index;
        double x;  // of the vertex at the split index
    } cases[] = {
        {{0, 1, 2}, 1.05, 0.1, 0, 1, 1},    {{0, 1, 2}, 0.96, 0.1, 0, 1, 1}, {{0, 1, 2}, 1.5, 0.1, 1, 2, 1.5},
        {{0, 1, 2}, 0.25, 0.1, 1, 1, 0.25}, {{0, 1, 2}, 3, 0.1, -1, -1, 0},  {{2, 1, 0}, 0.5, 0.1, 1, 2, 0.5},
        {{0, 1, 1, 2}, 1, 0.1, 0, 1, 1},    {{0}, 0, 0.1, -1, -1, 0},
    };
    for (const auto& c : cases) {
        ListPtr l = makeList(c.params, {}, {}, true);
        l->flags[0] = kindFlag(4, 9);
        EXPECT_EQ(plistSplitAtParam(l.get(), c.t, c.tol), c.result) << c.t;
        EXPECT_EQ(plistSplitIndex(), c.index) << c.t;
        if (c.index >= 0) {
            EXPECT_NEAR(l->points[c.index].x, c.x, 1e-12) << c.t;
        }
        if (c.result == 1) {
            EXPECT_EQ(l->flags[c.index], kindFlag(4, 1));
            EXPECT_EQ(l->bytes[c.index], 1);
            EXPECT_EQ(l->parameters[c.index], c.t);
        }
    }
    // Equal parameters around t: no segment to cut.
    ListPtr dup = makeList({0, 1}, {}, {1, 1});
    EXPECT_EQ(plistSplitAtParam(dup.get(), 1, 0.1), -1);
}

TEST(Plist, DeleteRangeIgnoresIndicesOutsideTheList) {
    const struct {
        int32_t i, j;
        int result;
        std::vector<double> left;
    } cases[] = {
        {1, 2, 1, {0, 3, 4}},       {0, 4, 1, {}},
        {3, 1, 0, {0, 1, 2, 3, 4}}, {-1, 2, 0, {0, 1, 2, 3, 4}},
        {2, 5, 0, {0, 1, 2, 3, 4}}, {4, 4, 1, {0, 1, 2, 3}},
    };
    for (const auto& c : cases) {
        ListPtr l = makeList({0, 1, 2, 3, 4});
        EXPECT_EQ(plistDeleteRange(l.get(), c.i, c.j), c.result) << c.i << ".." << c.j;
        EXPECT_EQ(xsOf(l.get()), c.left);
        EXPECT_EQ(paramsOf(l.get()), c.left);
    }
    ListPtr l = makeList({0, 1, 2, 3, 4});
    EXPECT_EQ(plistDeleteRangeClamped(l.get(), -3, 1), 1);
    EXPECT_EQ(xsOf(l.get()), (std::vector<double>{2, 3, 4}));
    EXPECT_EQ(plistDeleteRangeClamped(l.get(), 1, 99), 1);
    EXPECT_EQ(xsOf(l.get()), (std::vector<double>{2}));
    EXPECT_EQ(plistDeleteRange(nullptr, 0, 0), 0);
}

TEST(Plist, ShiftStartTurnsAClosedListAndCutsAnOpenOne) {
    ListPtr sq(plistCreate(5, 1));
    const Vec3 corners[5] = {{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0}, {0, 0, 0}};
    for (int i = 0; i < 5; ++i) {
        const Vec3 v{0, 0, double(i)};
        plistAppend(sq.get(), i, &corners[i], kindFlag(0, i), &v, static_cast<uint8_t>(i));
    }
    EXPECT_EQ(plistShiftStart(sq.get(), 2), 1);
    ASSERT_EQ(sq->count, 5);
    const int from[5] = {2, 3, 4, 1, 2};  // the old index now at each place
    for (int i = 0; i < 5; ++i) {
        expectVec(sq->points[i], corners[from[i]]);
        EXPECT_EQ(sq->parameters[i], from[i]);
        EXPECT_EQ(sq->flags[i], from[i]);
        EXPECT_EQ(sq->vectors[i].z, from[i]);
        EXPECT_EQ(sq->bytes[i], from[i]);
    }
    expectVec(sq->points[0], sq->points[4]);

    ListPtr open = makeList({0, 1, 2, 3});
    EXPECT_EQ(plistShiftStart(open.get(), 2), 1);
    EXPECT_EQ(xsOf(open.get()), (std::vector<double>{2, 3}));
    for (const int32_t k : {0, -1, 2, 5}) {
        ListPtr l = makeList({0, 1});
        EXPECT_EQ(plistShiftStart(l.get(), k), 0) << k;
        EXPECT_EQ(l->count, 2);
    }
}

TEST(Plist, ReverseTurnsEveryArrayAndTheMarker) {
    ListPtr one = makeList({3});
    one->direction = 1;
    plistReverse(one.get());
    EXPECT_EQ(one->direction, -1);
    EXPECT_EQ(one->points[0].x, 3);
    ListPtr l = makeList({0, 1, 2, 3}, {0, 1, 2, 3}, {}, true);
    plistReverse(l.get());
    EXPECT_EQ(xsOf(l.get()), (std::vector<double>{3, 2, 1, 0}));
    EXPECT_EQ(paramsOf(l.get()), (std::vector<double>{3, 2, 1, 0}));
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(kindOf(l.get(), i), 3 - i);
        EXPECT_EQ(l->bytes[i], 3 - i);
    }
    plistReverse(nullptr);
}

TEST(Plist, DropKind3CompactsInPlace) {
    ListPtr l = makeList({0, 1, 2, 3, 4, 5}, {3, 0, 3, 3, 2, 3}, {}, true);
    l->flags[1] = kindFlag(0, 100);
    EXPECT_EQ(plistDropKind3(l.get()), 2);
    EXPECT_EQ(xsOf(l.get()), (std::vector<double>{1, 4}));
    EXPECT_EQ(l->flags[0], kindFlag(0, 100));
    EXPECT_EQ(l->flags[1], kindFlag(2));
    EXPECT_EQ(l->bytes[0], 1);
    EXPECT_EQ(l->bytes[1], 4);
    ListPtr m = makeList({0, 1, 2}, {3, 3, 3});
    EXPECT_EQ(plistDropMarked(m.get()), 0);
    EXPECT_EQ(plistDropKind3(nullptr), 0);

    ListPtr c = makeList({0, 1, 2}, {3, 2, 6});
    c->flags[0] = kindFlag(3, 5);
    plistClearKind3(c.get());
    EXPECT_EQ(c->flags[0], kindFlag(0, 5));
    EXPECT_EQ(kindOf(c.get(), 1), 2);
    EXPECT_EQ(kindOf(c.get(), 2), 6);
}

TEST(Plist, FixRunKindsMode2RaisesRunsAndCutsAfterTheFirst) {
    ListPtr l(plistCreate(8, 0));
    const double z[] = {5, 1, 3, 2, 0, 4, 1, 7};
    const int kinds[] = {3, 0, 0, 0, 2, 0, 0, 0};
    for (int i = 0; i < 8; ++i) {
        const Vec3 p{double(i), 0, z[i]};
        plistAppend(l.get(), i, &p, kindFlag(kinds[i], 7), nullptr, 0);
    }
    plistFixRunKinds(l.get(), 2);
    const double zAfter[] = {5, 5, 5, 5, 0, 4, 4, 7};
    const int kindsAfter[] = {3, 0, 0, 0, 2, 2, 2, 2};
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(l->points[i].z, zAfter[i]) << i;
        EXPECT_EQ(kindOf(l.get(), i), kindsAfter[i]) << i;
    }
    EXPECT_EQ(l->flags[5], kindFlag(2));  // a link carries no sub-code
    plistFixRunKinds(l.get(), 7);
    EXPECT_EQ(kindOf(l.get(), 1), 0);
}

TEST(Plist, FixRunKindsMode3MarksClimbsAndIsolatedPoints) {
    const struct {
        std::vector<double> z;
        std::vector<int> kinds, expected;
    } cases[] = {
        {{0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 0, 0, 0, 0}},  // flat: nothing
        {{0, 0, 5, 5}, {0, 0, 0, 0}, {2, 2, 0, 0}},           // a real climb starts a new run
        {{0, 0, 0.5, 0.5}, {0, 0, 0, 0}, {0, 0, 0, 0}},       // a small climb is none
        {{0, 0, 0, 0}, {0, 2, 0, 0}, {2, 2, 0, 0}},           // an isolated point becomes link
    };
    for (const auto& c : cases) {
        ListPtr l(plistCreate(5, 0));
        for (size_t i = 0; i < c.z.size(); ++i) {
            const Vec3 p{2.0 * double(i), 0, c.z[i]};
            plistAppend(l.get(), double(i), &p, kindFlag(c.kinds[i]), nullptr, 0);
        }
        plistFixRunKinds(l.get(), 3);
        for (size_t i = 0; i < c.z.size(); ++i) EXPECT_EQ(kindOf(l.get(), int32_t(i)), c.expected[i]) << i;
    }
}

TEST(Plist, CopyRangeKeepsSourceOrder) {
    // Coincident parameters must not be turned round, ascending or descending.
    const struct {
        std::vector<double> params;
        int32_t i0, i1;
        int result;
        std::vector<double> xs;
    } cases[] = {
        {{0, 1, 1, 1, 2}, 0, 4, 1, {0, 1, 2, 3, 4}},
        {{4, 3, 3, 1, 0}, 1, 3, 1, {1, 2, 3}},
        {{0, 1, 2}, 2, 2, 1, {2}},
        {{0, 1, 2}, 1, 3, -1, {}},
        {{0, 1, 2}, -1, 1, -1, {}},
        {{0, 1, 2}, 2, 1, 1, {}},
    };
    for (const auto& c : cases) {
        ListPtr src = makeList({0, 1, 2, 3, 4}, {}, {});
        src->count = static_cast<int32_t>(c.params.size());
        for (size_t i = 0; i < c.params.size(); ++i) src->parameters[i] = c.params[i];
        src->direction = -1;
        ListPtr dst(plistCreate(2, 1));
        EXPECT_EQ(plistCopyRange(dst.get(), src.get(), c.i0, c.i1), c.result);
        if (c.result != 1) continue;
        EXPECT_EQ(xsOf(dst.get()), c.xs);
        EXPECT_EQ(dst->direction, -1);
        for (int32_t k = 0; k < dst->count; ++k) {
            EXPECT_EQ(dst->parameters[k], c.params[c.i0 + k]);
            expectVec(dst->vectors[k], dst->points[k]);  // a source without vectors lends its points
        }
    }
}

TEST(Plist, CopyPointsAndCopyCompact) {
    ListPtr src = makeList({0, 1, 2, 3}, {0, 3, 2, 3}, {}, true);
    src->direction = 1;
    ListPtr dst(plistCreate(1, 1));
    EXPECT_EQ(plistCopyPoints(dst.get(), src.get()), 1);
    EXPECT_EQ(xsOf(dst.get()), xsOf(src.get()));
    EXPECT_EQ(dst->direction, 1);
    EXPECT_EQ(dst->bytes[3], 3);

    ListPtr compact = makeList({7, 8}, {}, {}, false);
    EXPECT_EQ(plistCopyCompact(src.get(), compact.get()), 1);
    EXPECT_EQ(compact->capacity, 4);
    EXPECT_EQ(xsOf(compact.get()), (std::vector<double>{0, 2}));
    EXPECT_EQ(kindOf(compact.get(), 1), 2);
    ASSERT_NE(compact->vectors, nullptr);
    EXPECT_EQ(compact->bytes[1], 2);
    EXPECT_EQ(compact->direction, 1);
    ListPtr plain = makeList({5});
    EXPECT_EQ(plistCopyCompact(plain.get(), compact.get()), 1);
    EXPECT_EQ(compact->vectors, nullptr);
    EXPECT_EQ(compact->bytes, nullptr);
    EXPECT_EQ(xsOf(compact.get()), (std::vector<double>{5}));
    EXPECT_EQ(plistCopyCompact(plain.get(), nullptr), -1);
    ListPtr self = makeList({0, 1, 2}, {3, 0, 3}, {}, true);
    EXPECT_EQ(plistCopyCompact(self.get(), self.get()), 1);
    EXPECT_EQ(xsOf(self.get()), (std::vector<double>{1}));
    EXPECT_EQ(self->bytes[0], 1);
    EXPECT_EQ(plistCopyPoints(nullptr, plain.get()), -1);
}

TEST(PlistArray, AddStoresAnOrderedCopyAndDoublesEarly) {
    PlistArray* a = plistArrayCreate(0);
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->capacity, 1);
    ListPtr src = makeList({0, 1, 1, 1, 3}, {0, 1, 2, 4, 0}, {10, 11, 11, 11, 12});  // coincident run
    src->direction = -1;
    EXPECT_EQ(plistArrayAdd(a, src.get()), 1);
    EXPECT_EQ(a->capacity, 2);
    ASSERT_EQ(a->count, 1);
    const Plist* copy = a->lists[0];
    ASSERT_NE(copy, nullptr);
    EXPECT_NE(copy, src.get());
    EXPECT_EQ(copy->capacity, 10);
    EXPECT_EQ(copy->direction, -1);
    EXPECT_EQ(xsOf(copy), xsOf(src.get()));
    EXPECT_EQ(paramsOf(copy), paramsOf(src.get()));
    for (int32_t i = 0; i < copy->count; ++i) {
        EXPECT_EQ(copy->flags[i], src->flags[i]);
        expectVec(copy->vectors[i], src->points[i]);
        EXPECT_EQ(copy->bytes[i], 0);
    }
    ListPtr empty(plistCreate(0, 0));
    EXPECT_EQ(plistArrayAdd(a, empty.get()), 1);
    EXPECT_EQ(a->capacity, 4);
    EXPECT_EQ(a->lists[1]->capacity, 200);
    EXPECT_EQ(a->flags[1], 0);
    EXPECT_EQ(a->values2[3], 0.0);
    EXPECT_EQ(plistArrayAdd(a, nullptr), -1);
    EXPECT_EQ(plistArrayAdd(nullptr, src.get()), -1);
    plistArrayFree(a);
    plistArrayFree(nullptr);
}

TEST(Plist, RandomEditsKeepOrderAndContent) {
    std::mt19937 rng(20240807);
    std::uniform_real_distribution<double> u(0.0, 100.0);
    for (int round = 0; round < 50; ++round) {
        const bool descending = round % 2 == 1;
        ListPtr l(plistCreate(1, round % 3 == 0));
        int n = 1 + static_cast<int>(rng() % 200);
        if (descending) {
            // Two end points make the list descending from the start.
            const Vec3 a{1, -1, 0}, b{-101, -2, 0};
            plistAppend(l.get(), 1, &a, 0, nullptr, 0);
            plistAppend(l.get(), -101, &b, 0, nullptr, 0);
        }
        for (int k = 0; k < n; ++k) {
            // Rounded parameters give plenty of ties.
            const double t = std::round(u(rng)) * (descending ? -1 : 1);
            const Vec3 p{t, double(k), 0};
            ASSERT_GE(plistInsert(l.get(), t, &p, kindFlag(k % 4), nullptr, 0), 0);
        }
        if (descending) n += 2;
        ASSERT_EQ(l->count, n);
        for (int32_t i = 1; i < l->count; ++i) {
            if (descending) {
                ASSERT_LE(l->parameters[i], l->parameters[i - 1]);
            } else {
                ASSERT_GE(l->parameters[i], l->parameters[i - 1]);
            }
            ASSERT_EQ(l->points[i].x, l->parameters[i]);  // every point kept its parameter
        }
        // Reversing twice is the identity; dropping marks keeps the others in order.
        const std::vector<double> before = paramsOf(l.get());
        plistReverse(l.get());
        plistReverse(l.get());
        ASSERT_EQ(paramsOf(l.get()), before);
        std::vector<double> kept;
        for (int32_t i = 0; i < l->count; ++i)
            if (kindOf(l.get(), i) != 3) kept.push_back(l->points[i].y);
        plistDropKind3(l.get());
        std::vector<double> ys;
        for (int32_t i = 0; i < l->count; ++i) ys.push_back(l->points[i].y);
        ASSERT_EQ(ys, kept);
    }
}
