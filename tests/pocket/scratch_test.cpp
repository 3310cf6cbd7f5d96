// Reusable working buffers: nested takers get their own, a released buffer is handed out again. This
// file holds the binary's allocation-failure hook, so the pocket cycle's prepare short of memory is here
// too.
#include "pocket/scratch.h"

#include <gtest/gtest.h>

#include <cstdint>

#include "allocfail.h"
#include "kernel/ccp.h"
#include "kernel/msg.h"

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

namespace {

struct Probe {  // an element type no other test takes buffers of: its pool starts here
    int32_t a, b;
};

}  // namespace

// Memory that cannot be had for the pool of a type, for its registration or for a buffer: the taker is
// refused (ok() false) and nothing is thrown, so that the steps return their failure codes; once
// memory is there again the same type is served.
TEST(Scratch, MemoryShortForThePoolItselfRefusesTheTaker) {
    long n = 1;
    for (;; ++n) {
        allocfail::arm(n);
        bool threw = false, ok = true;
        try {
            ScratchVector<Probe> v(1000);
            ok = v.ok();
        } catch (...) {
            threw = true;
        }
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_FALSE(threw) << n;
        if (!fired) break;
        EXPECT_FALSE(ok) << n;
    }
    EXPECT_GT(n, 2);  // the pool, its registration and a buffer each needed memory
    ScratchVector<Probe> first(10), second(10);
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_NE(first.data(), second.data());
    scratchResetState();
}

// The pocket cycle's prepare with each of its allocations failing in turn: every channel it always
// serves is registered, or the run has met a fault and so ends failed.
TEST(PocketPrepareMemory, EveryChannelIsThereOrTheRunHasFailed) {
    for (long n = 1;; ++n) {
        const uint32_t before = msgFaultCount();
        allocfail::arm(n);
        bool threw = false;  // the step's caller reports it as a fault
        try {
            ccpInitFromParams(&kvCCP);
        } catch (...) {
            threw = true;
        }
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) break;
        if (threw || msgFaultCount() != before) continue;
        for (uint16_t c : {0, 1, 2, 10, 11, 12, 31})
            EXPECT_NE(ncFindChannel(&kvCCP, c), nullptr) << n << " " << c;
    }
    ncFreeChannels(&kvCCP);
}
