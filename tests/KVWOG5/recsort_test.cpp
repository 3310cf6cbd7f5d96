#include "KVWOG5/recsort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

struct Rec {
    int32_t key;
    int32_t payload[3];
};

int gCompares = 0;

int compareRec(const void* a, const void* b) {
    gCompares++;
    const int32_t ka = static_cast<const Rec*>(a)->key, kb = static_cast<const Rec*>(b)->key;
    return ka < kb ? -1 : (ka > kb ? 1 : 0);
}

std::vector<Rec> shuffled(int32_t n, uint32_t seed) {
    std::vector<Rec> v(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; i++) v[static_cast<size_t>(i)] = Rec{i * 3 - n, {i, -i, 7}};
    std::shuffle(v.begin(), v.end(), std::mt19937(seed));
    return v;
}

void expectAscendingWithPayload(const std::vector<Rec>& v) {
    for (size_t i = 0; i < v.size(); i++) {
        const int32_t n = static_cast<int32_t>(v.size());
        EXPECT_EQ(v[i].key, static_cast<int32_t>(i) * 3 - n);
        EXPECT_EQ(v[i].payload[0], static_cast<int32_t>(i));
        EXPECT_EQ(v[i].payload[1], -static_cast<int32_t>(i));
    }
}

TEST(RecSort, SortsAscendingOnBothPaths) {
    for (int32_t n : {2, 3, 10, 100, 9999, 10000, 12345}) {
        std::vector<Rec> v = shuffled(n, static_cast<uint32_t>(n));
        EXPECT_EQ(sortRecords(v.data(), n, sizeof(Rec), compareRec), 1);
        expectAscendingWithPayload(v);
    }
}

std::vector<Rec> sortedRecs(int32_t n) {
    std::vector<Rec> v = shuffled(n, 1);
    std::sort(v.begin(), v.end(), [](const Rec& a, const Rec& b) { return a.key < b.key; });
    return v;
}

// On sorted input Shell sort makes one comparison per record and gap, sum over the gaps of
// (n - gap); the first gap is the first of 1, 4, 13, ... not below n/9. Heapsort makes far more.
TEST(RecSort, ShellGapsAndHeapsortFromTenThousand) {
    const struct {
        int32_t n;
        std::vector<int32_t> gaps;
    } cases[] = {
        {9999, {3280, 1093, 364, 121, 40, 13, 4, 1}},  // n/9 = 1111
        {3276, {364, 121, 40, 13, 4, 1}},              // n/9 = 364 exactly
        {3285, {1093, 364, 121, 40, 13, 4, 1}},        // n/9 = 365
        {17, {1}},                                     // n/9 = 1
    };
    for (const auto& c : cases) {
        std::vector<Rec> v = sortedRecs(c.n);
        gCompares = 0;
        sortRecords(v.data(), c.n, sizeof(Rec), compareRec);
        int32_t expected = 0;
        for (int32_t h : c.gaps) expected += c.n - h;
        EXPECT_EQ(gCompares, expected) << c.n;
    }
    std::vector<Rec> w = sortedRecs(10000);
    gCompares = 0;
    sortRecords(w.data(), 10000, sizeof(Rec), compareRec);
    EXPECT_GT(gCompares, 200000);
    expectAscendingWithPayload(w);
}

TEST(RecSort, CompanionFollowsEveryMove) {
    for (int32_t n : {50, 10000}) {
        const std::vector<Rec> original = shuffled(n, 99);
        std::vector<Rec> v = original;
        std::vector<int32_t> index(static_cast<size_t>(n));
        std::iota(index.begin(), index.end(), 0);
        EXPECT_EQ(sortWithPermutation(v.data(), n, sizeof(Rec), compareRec, index.data(), sizeof(int32_t)),
                  1);
        expectAscendingWithPayload(v);
        for (int32_t i = 0; i < n; i++)
            EXPECT_EQ(original[static_cast<size_t>(index[static_cast<size_t>(i)])].key,
                      v[static_cast<size_t>(i)].key);
    }
}

TEST(RecSort, TrivialAndBadInput) {
    Rec one{5, {1, 2, 3}};
    EXPECT_EQ(sortRecords(&one, 1, sizeof(Rec), compareRec), 1);
    EXPECT_EQ(sortRecords(nullptr, 0, sizeof(Rec), compareRec), 1);
    Rec two[2] = {{2, {}}, {1, {}}};
    EXPECT_EQ(sortRecords(two, 2, 0, compareRec), -1);
    EXPECT_EQ(sortRecords(two, 2, sizeof(Rec), nullptr), -1);
    EXPECT_EQ(two[0].key, 2);
    // Without a usable companion the plain sort runs.
    EXPECT_EQ(sortWithPermutation(two, 2, sizeof(Rec), compareRec, nullptr, 4), 1);
    EXPECT_EQ(two[0].key, 1);
}

// With no memory to be had, records and companions of up to 64 bytes still sort (callers cannot
// report a failure); larger ones fail with the data untouched.
TEST(RecSort, MemoryShortSortsSmallRecordsAndRefusesLargeOnes) {
    struct Big {
        int32_t key;
        int32_t pad[16];
    };
    for (const int32_t n : {9, 10000}) {
        std::vector<Rec> v = shuffled(n, 11);
        std::vector<int64_t> perm(static_cast<size_t>(n));
        for (int32_t i = 0; i < n; i++) perm[static_cast<size_t>(i)] = v[static_cast<size_t>(i)].payload[0];
        allocfail::arm(1);
        const int r = sortWithPermutation(v.data(), n, sizeof(Rec), compareRec, perm.data(), sizeof(int64_t));
        allocfail::disarm();
        EXPECT_EQ(r, 1) << n;
        expectAscendingWithPayload(v);
        for (int32_t i = 0; i < n; i++) EXPECT_EQ(perm[static_cast<size_t>(i)], i);
    }
    std::vector<Big> big(3);
    for (int32_t i = 0; i < 3; i++) big[static_cast<size_t>(i)].key = 2 - i;
    allocfail::arm(1);
    const int r = sortRecords(big.data(), 3, sizeof(Big), compareRec);
    allocfail::disarm();
    EXPECT_EQ(r, -1);
    EXPECT_EQ(big[0].key, 2);
}

}  // namespace
