#include "geometry/polyeval.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "heapbytes.h"

TEST(PolyEvalHorner, EvaluatesLowestDegreeFirst) {
    double c[] = {1, 2, 3};
    const struct {
        int32_t count;
        double x, want;
    } cases[] = {{3, 2.0, 17.0}, {3, -1.0, 2.0}, {1, 5.0, 1.0}, {2, 0.5, 2.0}};
    for (const auto& k : cases) {
        Polynomial p{k.count, c};
        double out = -99;
        ASSERT_EQ(polyEvalHorner(&p, k.x, &out), 0);
        EXPECT_DOUBLE_EQ(out, k.want) << k.count << " " << k.x;
    }
    Polynomial empty{0, c};
    double out = -99;
    EXPECT_EQ(polyEvalHorner(&empty, 1.0, &out), -1);
    EXPECT_EQ(polyEvalHorner(nullptr, 1.0, &out), -1);
    EXPECT_EQ(out, -99);
}

TEST(SplineSetFree, ReleasesEveryOwnedArray) {
    if (!heapBytesCounted()) GTEST_SKIP() << "no exact heap count in this build";
    const size_t before = heapBytesInUse();
    SplineSet* set = static_cast<SplineSet*>(std::malloc(sizeof(SplineSet)));
    ASSERT_NE(set, nullptr);
    set->count = 3;
    set->params = static_cast<double*>(std::malloc(4 * sizeof(double)));
    set->entries = static_cast<ArcLenEntry*>(std::malloc(3 * sizeof(ArcLenEntry)));
    for (int i = 0; i < 3; ++i) {
        set->entries[i] = ArcLenEntry{4, static_cast<double*>(std::malloc(4 * sizeof(double))), 0.0, 1.0};
    }
    const size_t built = heapBytesInUse();
    splineSetFree(set);
    const size_t after = heapBytesInUse();
    EXPECT_GT(built, before);
    EXPECT_EQ(after, before);
    splineSetFree(nullptr);
}
