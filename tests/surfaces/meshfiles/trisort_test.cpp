#include "surfaces/meshfiles/trisort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "surfaces/meshfiles/meshtest.h"

namespace {

Triangle3D triWithTop(double top, double tag) {
    Triangle3D t;
    t.p[0] = Vec3{tag, 0, top - 1};
    t.p[1] = Vec3{tag, 1, top};
    t.p[2] = Vec3{tag, 2, top - 2};
    return t;
}

TriList* listOf(const std::vector<Triangle3D>& tris) {
    TriList* list = triListCreate(static_cast<int32_t>(tris.size()));
    for (const Triangle3D& t : tris)
        if (list != nullptr) triListAdd(list, &t);
    return list;
}

bool byBytes(const Triangle3D& a, const Triangle3D& b) {
    return std::memcmp(&a, &b, sizeof a) < 0;
}

}  // namespace

TEST(TriSort, OrdersByHighestVertexTable) {
    const struct {
        std::vector<double> tops;
        std::vector<double> expect;
    } cases[] = {
        {{1, 5, 3}, {5, 3, 1}},
        {{7}, {7}},
        {{10.0, 10.00005}, {10.00005, 10.0}},  // no tolerance: the higher one leads
        {{10.00005, 10.0}, {10.00005, 10.0}},
        {{-3, -1, -2, 0}, {0, -1, -2, -3}},
        {{2, 2, 1, 3}, {3, 2, 2, 1}},
    };
    for (const auto& c : cases) {
        std::vector<Triangle3D> in;
        for (size_t i = 0; i < c.tops.size(); ++i)
            in.push_back(triWithTop(c.tops[i], static_cast<double>(i)));
        TriList* list = listOf(in);
        ASSERT_NE(list, nullptr);
        sortMeshTriangles(list);
        ASSERT_EQ(list->count, static_cast<int32_t>(c.expect.size()));
        for (size_t i = 0; i < c.expect.size(); ++i) EXPECT_EQ(triMaxZ(&list->data[i]), c.expect[i]);
        triListFree(list);
    }
    sortMeshTriangles(nullptr);
}

TEST(TriSort, CompareTable) {
    const Triangle3D hi = triWithTop(4, 0), lo = triWithTop(-4, 0), same = triWithTop(4, 9);
    EXPECT_EQ(triCompareTopZ(&hi, &lo), -1);
    EXPECT_EQ(triCompareTopZ(&lo, &hi), 1);
    EXPECT_EQ(triCompareTopZ(&hi, &same), 0);
    Triangle3D t{};
    t.p[2].z = 9;
    EXPECT_EQ(triMaxZ(&t), 9.0);
}

TEST(TriSort, SeededListsAreDescendingPermutations) {
    for (uint32_t seed = 11; seed < 31; ++seed) {
        Rng rng{seed};
        const int n = rngStep(&rng) % 400;
        std::vector<Triangle3D> in(n);
        for (Triangle3D& t : in)
            for (Vec3& p : t.p)
                p = Vec3{seededIn(&rng, 0, 1), seededIn(&rng, 0, 1), double(rngStep(&rng) % 8)};
        TriList* list = listOf(in);
        ASSERT_NE(list, nullptr);
        sortMeshTriangles(list);
        std::vector<Triangle3D> out(list->data, list->data + list->count);
        for (int i = 1; i < n; ++i) EXPECT_GE(triMaxZ(&out[i - 1]), triMaxZ(&out[i]));
        std::sort(in.begin(), in.end(), byBytes);
        std::sort(out.begin(), out.end(), byBytes);
        ASSERT_EQ(in.size(), out.size());
        EXPECT_EQ(std::memcmp(in.data(), out.data(), in.size() * sizeof(Triangle3D)), 0);
        triListFree(list);
    }
}
