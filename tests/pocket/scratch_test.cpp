// Reusable working buffers: nested takers get their own, a released buffer is handed out again. This
// file holds the binary's allocation-failure hook, so the pocket cycle's prepare short of memory is here
// too.
#include "pocket/scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "allocfail.h"
#include "pocket/ccp.h"
#include "kernel/base/msg.h"
#include "pocket/contourreduce.h"
#include "pocket/feedhelpers.h"
#include "pocket/leveltable.h"
#include "pocket/linearcfit.h"
#include "pocket/linkmove.h"
#include "pocket/movechain.h"
#include "pocket/nesting.h"
#include "pocket/passes.h"
#include "pocket/regionstack.h"
#include "pocket/regiontree.h"
#include "pocket/savedblock.h"
#include "pocket/stepmemo.h"
#include "pocket/trochoid.h"
#include "ringtest_util.h"

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
    // Zeroed pages: none for no bytes, a zeroed one for a single byte.
    EXPECT_EQ(scratchZeroedAlloc(0), nullptr);
    auto* one = static_cast<unsigned char*>(scratchZeroedAlloc(1));
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one[0], 0);
    scratchZeroedFree(one, 1);
    scratchZeroedFree(nullptr, 1);
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

namespace {

// Fails each allocation of op in turn, then runs it with memory to spare: op says whether it
// succeeded, and must have failed cleanly (its own failure result, what it held kept, nothing
// leaked) exactly when an allocation was refused. The number of allocations op needs.
template <typename Op>
long failEachAllocation(const char* what, Op op) {
    for (long n = 1; n < 100; ++n) {
        allocfail::arm(n);
        const bool succeeded = op();
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_EQ(succeeded, !fired) << what << " " << n;
        if (!fired) return n - 1;
    }
    ADD_FAILURE() << what;
    return 0;
}

}  // namespace

// The pocket's own stores, each short of memory at every allocation in turn.
TEST(Scratch, EveryStoreReportsMemoryRunningOut) {
    PocketErrors errors;
    EXPECT_GE(failEachAllocation("savedBlockPush",
                                 [] {
                                     const char text[] = "abcdefgh";
                                     const bool ok = savedBlockPush(text, sizeof text) != nullptr;
                                     savedBlocksFree();
                                     return ok;
                                 }),
              2);
    SavedBlock* block = savedBlockPush("abc", 4);
    ASSERT_NE(block, nullptr);
    const std::vector<char> big(64, 'x');
    EXPECT_EQ(failEachAllocation("copyToHandle",
                                 [block, &big] {
                                     const int r = copyToHandle(block, big.data(), big.size());
                                     char back[4];
                                     EXPECT_EQ(savedBlockCopy(block, back, 4), 0);
                                     EXPECT_EQ(back[0],
                                               r == 1 ? 'x' : 'a');  // a refused copy keeps the old block
                                     if (r == 1) copyToHandle(block, "abc", 4);
                                     return r == 1;
                                 }),
              1);
    // No entry, or no block for a size: nothing copied; an empty copy is one.
    EXPECT_EQ(copyToHandle(static_cast<SavedBlock*>(nullptr), "abc", 4), 0);
    EXPECT_EQ(copyToHandle(block, nullptr, 1), 0);
    EXPECT_EQ(copyToHandle(block, nullptr, 0), 1);
    ASSERT_EQ(copyToHandle(block, "z", 1), 1);  // a one-byte block
    char one = 0;
    EXPECT_EQ(savedBlockCopy(block, &one, 4), 0);
    EXPECT_EQ(one, 'z');
    // A copy takes the bytes asked, never more than the block holds.
    for (const size_t size : {0u, 1u, 3u, 8u, 12u}) {
        const SavedBlock* held = savedBlockPush("abcdefg", 8);
        ASSERT_NE(held, nullptr);
        std::string out(12, '-');
        EXPECT_EQ(savedBlockCopy(held, out.data(), size), 0);
        const size_t n = std::min<size_t>(size, 8);
        EXPECT_EQ(out, std::string("abcdefg", n) + std::string(12 - n, '-')) << size;
    }
    savedBlocksFree();
    char out[4];
    EXPECT_EQ(savedBlockCopy(nullptr, out, 4), -1);
    EXPECT_GE(failEachAllocation("moveChain",
                                 [] {
                                     MoveChain* chain = moveChainCreate(2);
                                     if (!chain) return false;
                                     int32_t kept = 0;
                                     bool ok = true;
                                     for (int i = 0; ok && i < 3; ++i) {
                                         const ContourElement e = lineElem(i, 0, i + 1, 0);
                                         ok = moveChainAppend(chain, &e, 0) == 1;
                                         kept += ok;
                                     }
                                     int32_t held = 0;
                                     for (MoveChunk* c = chain->head; c; c = c->next) held += c->count;
                                     EXPECT_EQ(held, kept);  // a refused append keeps what was there
                                     moveChainFree(chain);
                                     return ok;
                                 }),
              4);
    EXPECT_GE(failEachAllocation("levelTable",
                                 [] {
                                     LevelTable* t = levelTableCreate(2);
                                     if (!t) return false;
                                     levelTableSet(t, 0, 0, -3, 0, -1);
                                     levelTableSet(t, 1, -3, -5, 0, -1);
                                     PlaneList* planes = levelTableFromRange(t, 1.0);
                                     levelTableFree(t);
                                     planeListFree(planes);
                                     return planes != nullptr;
                                 }),
              4);
    EXPECT_GE(failEachAllocation("passTable",
                                 [] {
                                     PassTable* t = passTableCreate(10);
                                     passTableFree(t);
                                     return t != nullptr;
                                 }),
              2);
    EXPECT_GE(failEachAllocation("taggedPoints",
                                 [] {
                                     TaggedPoint* p = taggedPointsCreate(10);
                                     taggedPointsFree(p);
                                     return p != nullptr;
                                 }),
              1);
    EXPECT_GE(failEachAllocation("regionTree",
                                 [] {
                                     const int r = regionTreeInit(1);
                                     regionTreeFree();
                                     return r == 1;
                                 }),
              2);
    EXPECT_EQ(failEachAllocation("regionStack",
                                 [] {
                                     regionStackResetState();
                                     const WalkEntry e{};
                                     const int r = regionStackPush(&e);
                                     regionStackResetState();
                                     return r == 1;
                                 }),
              1);
    EXPECT_GE(failEachAllocation("contourList",
                                 [] {
                                     clistFree("TEMP");
                                     if (!clistCreate("TEMP")) return false;
                                     ContourHeader h{};
                                     h.elementCount = 1;
                                     const ContourElement e = lineElem(0, 0, 1, 0);
                                     const int r = clistInsert("TEMP", &e, &h, -1);
                                     EXPECT_EQ(clistCount("TEMP"), r == 1 ? 1 : 0);
                                     return r == 1;
                                 }),
              2);
    clistFree("TEMP");
    // A run of 24 lines along a quarter circle refitted: without memory at any step it is either
    // refused with std::bad_alloc or kept as it was.
    std::vector<ContourElement> lines;
    for (int i = 0; i < 24; ++i) {
        const double a0 = 1.5707963267948966 * i / 24, a1 = 1.5707963267948966 * (i + 1) / 24;
        lines.push_back(lineElem(20 * std::cos(a0), 20 * std::sin(a0), 20 * std::cos(a1), 20 * std::sin(a1)));
    }
    std::vector<ContourElement> refit(lines.size());
    long kept = 0;
    for (long n = 1; n < 200; ++n) {
        allocfail::arm(n);
        int32_t got = -2;
        try {
            got = reduceLineRuns(lines.data(), 24, 0.01, refit.data());
        } catch (const std::bad_alloc&) {
        }
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) {
            EXPECT_TRUE(got > 0 && got <= 24) << got;
            break;
        }
        if (got == -2) continue;
        EXPECT_EQ(got, 24) << n;
        EXPECT_EQ(refit[23].g[kLx2], lines[23].g[kLx2]) << n;
        ++kept;
    }
    EXPECT_GE(kept, 1);  // the point buffer of the fit

    // Two boxes, one inside the other: the nesting matrix of the list.
    ASSERT_TRUE(clistCreate("TEMP"));
    ASSERT_TRUE(putContour("TEMP", box(0, 0, 10, 10)));
    ASSERT_TRUE(putContour("TEMP", box(2, 2, 4, 4, false)));
    EXPECT_GE(failEachAllocation("containmentMatrix",
                                 [] {
                                     NestMatrix* m = containmentMatrix("TEMP");
                                     const bool ok = m && immediateParent(m, 1) == 0;
                                     nestMatrixFree(m);
                                     return ok;
                                 }),
              2);
    clistFree("TEMP");
    ASSERT_TRUE(clistCreate("INPUT"));
    EXPECT_GE(failEachAllocation("helixPoints",
                                 [] {
                                     const Vec2 c{3, 4};
                                     HelixPoints* h = helixPoints(&c, 2, 0.3, 0.1, 1, 5, 0);
                                     helixPointsFree(h);
                                     return h != nullptr;
                                 }),
              2);
    ASSERT_TRUE(putContour("INPUT", box(0, 0, 100, 100)));
    pocketKernel().toolRadius = 2;
    // The link tests take their scratch first: without it they report 3020 and no hit.
    const ContourElement across = lineElem(50, 50, 150, 50), arc = arcElem(50, 50, 10, 0, 1, 1);
    const Vec2 p1{60, 50}, p2{40, 50};
    EXPECT_EQ(linkLineHitsInput(&across), 1);
    for (int k = 0; k < 2; ++k) {
        allocfail::arm(1);
        const int hit = k == 0 ? linkLineHitsInput(&across) : linkArcHitsInput(&arc, &p1, &p2);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(fired);
        EXPECT_LT(hit, 1) << k;
    }
    EXPECT_TRUE(PocketErrors::sent("1103"));
}

// Steps of the ring and link families with each allocation failing in turn: the step gives its own
// failure result (or std::bad_alloc reaches its caller) and leaves what it held as it was; with memory
// to spare it succeeds.
TEST(Scratch, RingAndLinkStepsFailCleanlyWithoutMemory) {
    PocketErrors errors;
    auto eachFailure = [](const char* what, auto op, auto failed) {
        for (long n = 1; n < 400; ++n) {
            allocfail::arm(n);
            bool threw = false;
            int64_t r = 0;
            try {
                r = op();
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            const bool fired = allocfail::fired();
            allocfail::disarm();
            if (!fired) {
                EXPECT_FALSE(threw || failed(r)) << what << " " << r;
                return;
            }
            EXPECT_TRUE(threw || failed(r)) << what << " " << n << " " << r;
        }
        ADD_FAILURE() << what;
    };
    auto negative = [](int64_t r) { return r < 0; };
    std::vector<ContourElement> out(kTrochoidMaxElements);
    const Vec2 a{0, 0}, b{20, 0}, d{1, 0};
    eachFailure(
        "trochoidLinkBuild", [&] { return trochoidLinkBuild(&a, &b, &d, 2, 3, 0.01, out.data(), 2000); },
        [](int64_t r) { return r == -1; });
    eachFailure(
        "curve3DPointList",
        [] {
            const Vec3 p0{0, 0, 0}, p3{0, 4, 0}, u{1, 0, 0}, back{-1, 0, 0};
            PolyCurve* c = bezierUTurn(&p0, &p3, &u, &back, 2);
            if (!c) return int64_t{-7};
            Vec3* pts = nullptr;
            int32_t count = 0;
            const int32_t r = curve3DPointList(c, 1e-4, &pts, &count);
            polyCurveFree(c);
            free(pts);
            return int64_t{r};
        },
        [](int64_t r) { return r == -1 || r == -7; });
    StepMemo memo;
    const int32_t word = 5;
    StepKey key;
    key.add(&word, sizeof word);
    eachFailure(
        "stepMemoAdd",
        [&] {
            const size_t before = memo.bytes;
            const int r = stepMemoAdd(&memo, key, {1, 2, 3});
            EXPECT_EQ(stepMemoFind(memo, key) != nullptr, r == 1);
            EXPECT_EQ(memo.bytes, r == 1 ? before + sizeof word + 3 : before);
            return int64_t{r};
        },
        [](int64_t r) { return r == 0; });
    stepMemoClear(&memo);
    EXPECT_EQ(memo.bytes, 0u);
    ASSERT_EQ(regionTreeInit(1), 1);
    const std::vector<ContourElement> square = box(0, 0, 10, 10);
    const ContourHeader h = header(square, true, true);
    eachFailure(
        "regionAttachContour",
        [&] {
            const int32_t count = regionNodeCount();
            const int32_t r = regionAttachContour(square.data(), &h, 0, 0);
            EXPECT_EQ(regionNodeCount(), r < 0 ? count : count + 1);
            return int64_t{r};
        },
        negative);
    regionTreeResetState();
    // A full pass table grows; without memory for it the insert is refused and the table kept.
    PassTable* t = passTableCreate(1);
    ASSERT_NE(t, nullptr);
    PassPiece piece{};
    for (int32_t i = 0; i < t->capacity; ++i) {
        piece.line = i;
        ASSERT_EQ(passTableAppend(t, &piece), 1);
    }
    eachFailure(
        "passTableInsert",
        [&] {
            const int32_t count = t->count, capacity = t->capacity;
            piece.line = -5;
            const int r = passTableInsert(t, 0, &piece);
            EXPECT_EQ(t->count, count + r);
            EXPECT_EQ(t->pieces[0].line, r ? -5 : 0);
            EXPECT_EQ(t->lowestLine, r ? -5 : 0);
            EXPECT_EQ(t->capacity > capacity, r == 1);
            return int64_t{r};
        },
        [](int64_t r) { return r == 0; });
    passTableFree(t);
}
