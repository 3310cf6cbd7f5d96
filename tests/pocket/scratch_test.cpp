// Reusable working buffers: nested takers get their own, a released buffer is handed out again.
#include "pocket/scratch.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(Scratch, NestedTakersGetTheirOwnBufferAndReleasedOnesComeBack) {
    scratchResetState();
    int32_t* outer = nullptr;
    {
        ScratchVector<int32_t> a(100);
        ASSERT_TRUE(a.ok());
        outer = a.data();
        ScratchVector<int32_t> b(50);
        ASSERT_TRUE(b.ok());
        EXPECT_NE(a.data(), b.data());
        EXPECT_GE(b.vec().size(), 50u);
        a[99] = 7;
    }
    ScratchVector<int32_t> again(10);
    ASSERT_TRUE(again.ok());
    EXPECT_EQ(again.data(), outer);  // the first buffer, kept with its size and contents
    EXPECT_GE(again.vec().size(), 100u);
    EXPECT_EQ(again[99], 7);
}

TEST(Scratch, AnImpossibleSizeFailsHonestly) {
    ScratchVector<int64_t> huge(SIZE_MAX / 4);
    EXPECT_FALSE(huge.ok());
    ScratchVector<int64_t> fine(8);
    EXPECT_TRUE(fine.ok());
}
