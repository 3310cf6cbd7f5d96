// Reusable working buffers: nested takers get their own, a released buffer is handed out again.
#include "pocket/scratch.h"

#include <gtest/gtest.h>

#include <cstdint>

TEST(Scratch, NestedTakersOwnBuffersReleasedOnesComeBackImpossibleSizesFail) {
    scratchResetState();
    int32_t* outer = nullptr;
    {
        ScratchVector<int32_t> a(100), b(50);
        ASSERT_TRUE(a.ok() && b.ok());
        EXPECT_NE(a.data(), b.data());
        outer = a.data();
        a[99] = 7;
    }
    ScratchVector<int32_t> again(10), huge(SIZE_MAX / 2);
    EXPECT_EQ(again.data(), outer);  // the first buffer, kept with its size and contents
    EXPECT_EQ(again[99], 7);
    EXPECT_FALSE(huge.ok());
}
