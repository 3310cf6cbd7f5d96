#include "surfaces/meshfiles/trisort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "surfaces/meshfiles/meshtest.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

Triangle3D triWithTop(double top, double tag) {
    return Triangle3D{{Vec3{tag, 0, top - 1}, Vec3{tag, 1, top}, Vec3{tag, 2, top - 2}}};
}

bool byBytes(const Triangle3D& a, const Triangle3D& b) {
    return std::memcmp(&a, &b, sizeof a) < 0;
}

}  // namespace

TEST(TriSort, OrdersByHighestVertexTable) {
    const struct {
        std::vector<double> tops, expect;
    } cases[] = {
        {{1, 5, 3}, {5, 3, 1}},
        {{7}, {7}},
        {{10.0, 10.00005}, {10.00005, 10.0}},  // exact keys: no tolerance here
        {{-3, -1, -2, 0}, {0, -1, -2, -3}},
        {{2, 2, 1, 3}, {3, 2, 2, 1}},
    };
    for (const auto& c : cases) {
        TriList* list = triListCreate(4);
        ASSERT_NE(list, nullptr);
        for (size_t i = 0; i < c.tops.size(); ++i) {
            const Triangle3D t = triWithTop(c.tops[i], double(i));
            triListAdd(list, &t);
        }
        // The plain heap sort gives the same order.
        std::vector<Triangle3D> plain(list->data, list->data + list->count);
        meshHeapSort(plain.data(), list->count, triCompareTopZ);
        sortMeshTriangles(list);
        for (size_t i = 0; i < c.expect.size(); ++i) {
            EXPECT_EQ(triMaxZ(&list->data[i]), c.expect[i]);
            EXPECT_EQ(triMaxZ(&plain[i]), c.expect[i]);
        }
        triListFree(list);
    }
    const Triangle3D hi = triWithTop(4, 0), lo = triWithTop(-4, 0), same = triWithTop(4, 9);
    EXPECT_EQ(triCompareTopZ(&hi, &lo), -1);
    EXPECT_EQ(triCompareTopZ(&lo, &hi), 1);
    EXPECT_EQ(triCompareTopZ(&hi, &same), 0);
    // Of equal heights the first vertex's is kept, down to the sign of zero.
    const Triangle3D zeros{{Vec3{0, 0, -0.0}, Vec3{1, 0, 0.0}, Vec3{0, 1, 0.0}}};
    EXPECT_TRUE(std::signbit(triMaxZ(&zeros)));
}

TEST(TriSort, SeededListsBecomeDescendingPermutations) {
    for (uint32_t seed = 11; seed < 31; ++seed) {
        Rng rng{seed};
        const int n = rngStep(&rng) % 400;
        std::vector<Triangle3D> in(n);
        for (Triangle3D& t : in)
            for (Vec3& p : t.p)
                p = Vec3{seededIn(&rng, 0, 1), seededIn(&rng, 0, 1), double(rngStep(&rng) % 8)};
        TriList* list = triListCreate(n);
        ASSERT_NE(list, nullptr);
        for (const Triangle3D& t : in) triListAdd(list, &t);
        // Seeds 1 mod 3: no room for the keys, sorted the plain way; 2 mod 3: none for the places, the
        // keys themselves drive the permutation.
        allocfail::arm(seed % 3);
        sortMeshTriangles(list);
        EXPECT_EQ(allocfail::fired(), n > 1 && seed % 3 != 0) << seed;
        allocfail::disarm();
        std::vector<Triangle3D> out(list->data, list->data + list->count);
        for (int i = 1; i < n; ++i) EXPECT_GE(triMaxZ(&out[i - 1]), triMaxZ(&out[i]));
        std::sort(in.begin(), in.end(), byBytes);  // ties: the same multiset, in any order
        std::sort(out.begin(), out.end(), byBytes);
        ASSERT_EQ(in.size(), out.size());
        EXPECT_EQ(std::memcmp(in.data(), out.data(), in.size() * sizeof(Triangle3D)), 0);
        triListFree(list);
    }
}

// The keyed sort gives the plain heap sort's permutation exactly, ties included (every triangle is
// tagged, tops are drawn from a few values), and meshTopOrder names the same places.
TEST(TriSort, KeyedOrderIsThePlainHeapSortsPermutation) {
    for (uint32_t seed = 40; seed < 60; ++seed) {
        Rng rng{seed};
        const int n = 1 + rngStep(&rng) % 700;
        std::vector<Triangle3D> in(n);
        std::vector<double> tops(n);
        for (int i = 0; i < n; ++i) {
            in[i] = triWithTop(double(rngStep(&rng) % (seed % 2 ? 5 : 300)), double(i));
            tops[i] = triMaxZ(&in[i]);
        }
        std::vector<Triangle3D> plain = in;
        meshHeapSort(plain.data(), n, triCompareTopZ);
        TriList* list = triListCreate(n);
        ASSERT_NE(list, nullptr);
        for (const Triangle3D& t : in) triListAdd(list, &t);
        sortMeshTriangles(list);
        std::vector<int32_t> order(n);
        ASSERT_TRUE(meshTopOrder(tops.data(), n, order.data()));
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(std::memcmp(&list->data[i], &plain[i], sizeof(Triangle3D)), 0) << seed << " " << i;
            EXPECT_EQ(std::memcmp(&in[order[i]], &plain[i], sizeof(Triangle3D)), 0) << seed << " " << i;
        }
        triListFree(list);
    }
}

// Kept orders: a list with the same tops in the same places (other triangles) takes the order given
// before; one top changed, or one triangle fewer, is sorted afresh. Each against the plain heap sort.
TEST(TriSort, KeptOrdersAreThoseOfTheirOwnTops) {
    meshSortKeepOrders(1);
    for (uint32_t seed = 70; seed < 80; ++seed) {
        Rng rng{seed};
        const int n = 2 + rngStep(&rng) % 500;
        std::vector<Triangle3D> first(n);
        for (int i = 0; i < n; ++i) first[i] = triWithTop(double(rngStep(&rng) % 6), double(i));
        std::vector<Triangle3D> again = first, changed = first;
        for (int i = 0; i < n; ++i) again[i].p[0].x += 100;  // other triangles, the same tops
        changed[rngStep(&rng) % n] = triWithTop(2.5, -1);
        std::vector<Triangle3D> changedFirst = first;
        changedFirst[0] = triWithTop(2.5, -1);
        const std::vector<Triangle3D> shorter(first.begin(), first.end() - 1);
        std::vector<Triangle3D> flipped(n);  // every top another, the order reversed
        for (int i = 0; i < n; ++i) flipped[i] = triWithTop(20 - triMaxZ(&first[i]), double(i));
        const std::vector<Triangle3D>* inputs[] = {&first,        &again,   &changed,
                                                   &changedFirst, &shorter, &flipped};
        for (const std::vector<Triangle3D>* in : inputs) {
            const int m = static_cast<int>(in->size());
            std::vector<Triangle3D> plain = *in;
            meshHeapSort(plain.data(), m, triCompareTopZ);
            TriList* list = triListCreate(m);
            ASSERT_NE(list, nullptr);
            for (const Triangle3D& t : *in) triListAdd(list, &t);
            sortMeshTriangles(list);
            EXPECT_EQ(std::memcmp(list->data, plain.data(), m * sizeof(Triangle3D)), 0) << seed;
            triListFree(list);
        }
    }
    meshSortKeepOrders(0);
}

// Tops in a few runs that never rise (sorted meshes joined; the ranked order), with ties within and
// across runs, both zeros and infinities; then too many runs and a top that is not a number (the plain
// order). meshTopOrder names the places of the plain heap sort's permutation in every case.
TEST(TriSort, TopOrderOfFallingRunsIsThePlainHeapSortsPermutation) {
    const double pool[] = {-HUGE_VAL, -3.5, -0.0, 0.0, 1.25, 1.25, 7.0, HUGE_VAL};
    for (uint32_t seed = 90; seed < 130; ++seed) {
        Rng rng{seed};
        const int runs = 1 + static_cast<int>(rngStep(&rng) % (seed < 120 ? 16 : 40));
        std::vector<double> tops;
        for (int r = 0; r < runs; ++r) {
            std::vector<double> run(rngStep(&rng) % 300);
            for (double& t : run) t = seed % 3 ? pool[rngStep(&rng) % 8] : double(rngStep(&rng) % 50) / 7.0;
            std::sort(run.begin(), run.end(), [](double a, double b) { return a > b; });
            tops.insert(tops.end(), run.begin(), run.end());
        }
        if (seed % 10 == 9 && !tops.empty()) tops[rngStep(&rng) % tops.size()] = std::nan("");
        const int n = static_cast<int>(tops.size());
        if (n == 0) continue;
        std::vector<Triangle3D> in(n);
        for (int i = 0; i < n; ++i) in[i] = triWithTop(tops[i], double(i));
        std::vector<Triangle3D> plain = in;
        meshHeapSort(plain.data(), n, triCompareTopZ);
        // Read from within a larger array, after a value above them all: the tops alone decide.
        std::vector<double> padded{HUGE_VAL};
        padded.insert(padded.end(), tops.begin(), tops.end());
        std::vector<int32_t> order(n);
        ASSERT_TRUE(meshTopOrder(padded.data() + 1, n, order.data()));
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(std::memcmp(&in[order[i]], &plain[i], sizeof(Triangle3D)), 0) << seed << " " << i;
    }
    // Nothing to order needs no arrays; tops or order missing for something to order is refused.
    const double two[] = {1, 2};
    int32_t order[2] = {7, 7};
    EXPECT_TRUE(meshTopOrder(nullptr, 0, nullptr));
    EXPECT_FALSE(meshTopOrder(nullptr, 2, order));
    EXPECT_FALSE(meshTopOrder(two, 2, nullptr));
    EXPECT_FALSE(meshTopOrder(nullptr, 1, order));
    EXPECT_EQ(order[0], 7);
    EXPECT_TRUE(meshTopOrder(two, 1, order));  // one top is ordered too
    EXPECT_EQ(order[0], 0);
}
