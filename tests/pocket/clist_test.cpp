#include "pocket/clist.h"

#include <gtest/gtest.h>

#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "heapbytes.h"
#include "kernel/base/rng.h"
#include "pocket/chaincross.h"
#include "pocket/chainoffset.h"
#include "pocket/contourclean.h"
#include "pocket/contouroffset.h"
#include "pocket/contourorient.h"
#include "pocket/contourreduce.h"
#include "pocket/cutlists.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/feedhelpers.h"
#include "pocket/islands.h"
#include "pocket/leveltable.h"
#include "pocket/linearcfit.h"
#include "pocket/linkmove.h"
#include "pocket/movechain.h"
#include "pocket/nesting.h"
#include "pocket/passes.h"
#include "pocket/planecheck.h"
#include "pocket/pocketinput.h"
#include "pocket/pocketkeys.h"
#include "pocket/pocketpcf.h"
#include "pocket/pocketrun.h"
#include "pocket_util.h"

namespace {

ContourHeader headerOf(int16_t tag, uint32_t count = 1) {
    ContourHeader h{};
    h.tag = tag;
    h.elementCount = count;
    return h;
}

}  // namespace

TEST(Clist, NamesAndTheirNumbers) {
    EXPECT_EQ(clistIndex("SEC"), 13);
    EXPECT_EQ(clistIndex("sec"), -1);
    EXPECT_EQ(clistIndex(nullptr), -1);
    for (int i = 0; i < kClistCount; ++i) EXPECT_EQ(clistIndex(clistName(i)), i);
    EXPECT_TRUE(clistName(-1) == nullptr && clistName(kClistCount) == nullptr);
}

// Three distinct work buffers, each holding the element cap; none on either side of them.
TEST(Clist, ScratchBuffersZeroToTwoOnly) {
    EXPECT_EQ(clistScratch(-1), nullptr);
    EXPECT_EQ(clistScratch(kClistScratchBuffers), nullptr);
    ContourElement* seen[kClistScratchBuffers];
    for (int i = 0; i < kClistScratchBuffers; ++i) {
        seen[i] = clistScratch(i);
        ASSERT_NE(seen[i], nullptr);
        for (int j = 0; j < i; ++j)
            EXPECT_TRUE(seen[i] + kClistMaxElements <= seen[j] || seen[j] + kClistMaxElements <= seen[i]);
        seen[i][kClistMaxElements - 1] = lineElem(i, 0, i, 1);  // the last slot is usable
    }
    for (int i = 0; i < kClistScratchBuffers; ++i) EXPECT_EQ(seen[i][kClistMaxElements - 1].g[kLx1], i);
}

TEST(Clist, InsertPositionsAndRefusals) {
    PocketErrors errors;
    ContourElement e = lineElem(0, 0, 1, 0);
    ASSERT_EQ(clistCreate("MAIN"), 1);
    ContourHeader h = headerOf(7);
    EXPECT_EQ(clistInsert("MAIN", &e, &h, 1), 0);  // count + 1 on an empty list
    EXPECT_EQ(clistInsert("MAIN", &e, &h, 0), 1);
    EXPECT_EQ(clistInsert("MAIN", &e, &h, 2), 0);  // count + 1
    EXPECT_EQ(clistInsert("MAIN", &e, &h, -1), 1);
    EXPECT_EQ(clistCount("MAIN"), 2);
    EXPECT_EQ(clistMaxTag("MAIN"), 7);
    ContourHeader negative = headerOf(-4);
    EXPECT_EQ(clistInsert("SPAN", &e, &negative, -1), 1);
    EXPECT_EQ(clistMaxTag("SPAN"), 0);  // counted from 0
    EXPECT_EQ(clistMaxTag("NOLIST"), -1);
    EXPECT_EQ(clistInsert("main", &e, &h, 0), 0);
    EXPECT_EQ(clistDelete("GKT", -1), 0);
    EXPECT_EQ(clistCount("GKT"), 0);

    // A contour beyond the element cap is refused with its error.
    ContourHeader big = headerOf(1, kClistMaxElements + 1);
    std::vector<ContourElement> many(kClistMaxElements + 1, e);
    EXPECT_EQ(clistInsert("MAIN", many.data(), &big, -1), 0);
    ASSERT_EQ(PocketErrors::texts().size(), 1u);
    EXPECT_EQ(PocketErrors::texts()[0], "101 1500");
    big.elementCount = kClistMaxElements;
    EXPECT_EQ(clistInsert("MAIN", many.data(), &big, -1), 1);
}

TEST(Clist, TwelveThousandContoursAndNoMore) {
    PocketErrors errors;
    ASSERT_EQ(clistCreate("REST"), 1);
    ContourHeader h = headerOf(0, 0);
    for (int i = 0; i < kClistMaxContours; ++i) ASSERT_EQ(clistInsert("REST", nullptr, &h, -1), 1) << i;
    EXPECT_EQ(clistInsert("REST", nullptr, &h, -1), 0);
    EXPECT_EQ(clistInsert("REST", nullptr, &h, 0), 0);
    EXPECT_EQ(clistCount("REST"), kClistMaxContours);
    EXPECT_EQ(clistCreate("REST"), 1);  // emptied, slots reused
    EXPECT_EQ(clistCount("REST"), 0);
    EXPECT_EQ(clistInsert("REST", nullptr, &h, -1), 1);
}

// Emptying a list gives back the elements of every contour it held, freeing it its slots as well.
TEST(Clist, EmptyingAndFreeingGiveTheMemoryBack) {
    const size_t contour = 4000 * sizeof(ContourElement);
    const std::vector<ContourElement> c(4000, lineElem(0, 0, 1, 0));
    const ContourHeader h = headerOf(0, 4000);
    ASSERT_EQ(clistFree("REST"), 1);
    const size_t none = heapBytesHeld();
    ASSERT_EQ(clistCreate("REST"), 1);
    const size_t empty = heapBytesHeld();
    for (int round = 0; round < 2; ++round) {
        for (int i = 0; i < 3; ++i) ASSERT_EQ(clistInsert("REST", c.data(), &h, -1), 1);
        EXPECT_GE(heapBytesHeld(), empty + 3 * contour);
        if (round == 0) {
            ASSERT_EQ(clistCreate("REST"), 1);
            EXPECT_LT(heapBytesHeld(), empty + contour / 2);
        }
    }
    ASSERT_EQ(clistFree("REST"), 1);
    EXPECT_LT(heapBytesHeld(), none + contour / 2);
}

TEST(Clist, RandomOperationsMatchAVectorModel) {
    PocketErrors errors;
    rngResetState();
    std::vector<std::vector<ContourElement>> model;
    ASSERT_EQ(clistCreate("TEMP"), 1);
    std::vector<ContourElement> buffer(64);
    for (int step = 0; step < 3000; ++step) {
        const int op = rngBelow(3);
        const int32_t n = static_cast<int32_t>(model.size());
        if (op <= 1) {
            const int32_t at = static_cast<int32_t>(rngBelow(n + 2)) - 1;  // -1 appends, n + 1 ... refused
            std::vector<ContourElement> c(1 + rngBelow(5));
            for (auto& e : c) e = lineElem(rngUniform(), rngUniform(), step, at);
            ContourHeader h = headerOf(static_cast<int16_t>(step), static_cast<uint32_t>(c.size()));
            // Now and then the slots' growth or the copy finds no memory: refused, the list as it was.
            allocfail::arm(step % 7 == 0 ? 1 + step % 2 : 0);
            const int ok = clistInsert("TEMP", c.data(), &h, at);
            EXPECT_EQ(ok, at <= n && !allocfail::fired() ? 1 : 0);
            allocfail::disarm();
            if (ok) model.insert(at < 0 ? model.end() : model.begin() + at, c);
        } else if (n > 0) {
            const int32_t at = static_cast<int32_t>(rngBelow(n + 1)) - 1;
            EXPECT_EQ(clistDelete("TEMP", at), 1);
            model.erase(at < 0 ? model.end() - 1 : model.begin() + at);
        }
        ASSERT_EQ(clistCount("TEMP"), static_cast<int32_t>(model.size()));
    }
    for (size_t i = 0; i < model.size(); ++i) {
        ContourHeader h;
        ASSERT_EQ(clistGet("TEMP", buffer.data(), &h, static_cast<int32_t>(i)), static_cast<int32_t>(i));
        ASSERT_EQ(h.elementCount, model[i].size());
        ASSERT_EQ(clistGet("TEMP", nullptr, &h, static_cast<int32_t>(i)),
                  static_cast<int32_t>(i));  // header only
        for (size_t k = 0; k < model[i].size(); ++k) EXPECT_EQ(buffer[k].g[2], model[i][k].g[2]);
    }
    EXPECT_EQ(clistClear("TEMP"), 1);
    EXPECT_EQ(clistCount("TEMP"), 0);
}

// The pocket kernel's lists and contour operations refuse what is not there with the codes their
// headers name; nothing is changed.
TEST(Clist, MissingArgumentsAreRefused) {
    PocketErrors errors;
    ContourHeader h{};
    ContourElement e[4];
    std::vector<ContourElement> square = polygon({{0, 0}, {4, 0}, {4, 4}, {0, 4}});
    const Vec2 p{1, 1}, t{1, 0};
    EXPECT_EQ(
        (std::vector<int64_t>{
            clistGet("NO_LIST", e, &h, 0), clistGetHeader("NO_LIST", &h, 0), clistSetHeader("NO_LIST", &h, 0),
            clistSetTag("NO_LIST", 1, 0), clistMaxTag("NO_LIST"), clistCount("NO_LIST"),
            static_cast<int64_t>(clistGeneration("NO_LIST")), clistInsert("NO_LIST", e, &h, 0),
            clistReplace("NO_LIST", e, &h, 0), clistDelete("NO_LIST", 0), clistFree("NO_LIST")}),
        (std::vector<int64_t>{-1, -1, -1, -1, -1, 0, 0, 0, 0, 0, 0}));
    ASSERT_EQ(clistCreate("MAIN"), 1);
    EXPECT_EQ(clistGet("MAIN", e, nullptr, 0), -1);
    EXPECT_EQ(clistInsert("MAIN", square.data(), nullptr, 0), 0);
    EXPECT_EQ(clistReplace("MAIN", square.data(), &h, 0), 0);  // no contour 0 yet
    h.elementCount = 4;
    EXPECT_EQ(clistInsert("MAIN", nullptr, &h, 0), 0);  // elements missing for the count
    EXPECT_EQ((std::vector{clistGet("MAIN", e, &h, 0), clistGet("MAIN", e, &h, -1), clistSetTag("MAIN", 1, 0),
                           clistSetHeader("MAIN", &h, 0), clistCount("MAIN"), clistFree("MAIN")}),
              (std::vector{-1, -1, -1, -1, 0, 1}));
    PocketIsect rec[8];
    EXPECT_EQ(intersectContours(nullptr, 4, square.data(), 4, rec, 8), 0);
    EXPECT_EQ(contourReduce(nullptr, 4, rec, 0), 0);
    EXPECT_EQ(contourContainsChain(square.data(), 4, nullptr, 4), 0);
    int32_t n = 7;
    EXPECT_EQ(offsetElementChain(1, nullptr, 4, e, &n, 1), kChainFailed);
    EXPECT_EQ((std::vector<int64_t>{contourClean(nullptr, 4), contourReduceShort(nullptr, &n, 1),
                                    contourIsThin(nullptr, 4, 0.1), contourIsThin(square.data(), 4, 0.0),
                                    contourReduceOne(nullptr, 4, 0.1, 0, 4), pointInContour(nullptr, 4, &p),
                                    pointInContour(square.data(), 4, &p), minWithTolerance(nullptr, 3),
                                    contourIsClosed(nullptr, 4), contourIsClosed(square.data(), 4),
                                    emitReducedFeed(nullptr, nullptr), feedBufferAppend(nullptr)}),
              (std::vector<int64_t>{0, 0, 0, 0, 4, 0, 1, -1, 0, 1, -1, -1}));
    Vec2 pts[4] = {{0, 0}, {1, 0}, {2, 0}, {3, 0}};
    EXPECT_EQ(polylineTrim(nullptr, 4, 1), 4);
    EXPECT_EQ(elementsToPoints(nullptr, 4, square.data(), 4, 0.1), 0);
    EXPECT_EQ(contourEnclosesList(nullptr, 4, square.data(), 4, "INPUT"), 0);
    EXPECT_EQ(cutContourByIsland(nullptr, 4, square.data(), 4, e), -2);
    EXPECT_EQ(levelTableSet(nullptr, 0, 1, 0, 0, 0), -1);
    EXPECT_EQ(levelRowContains(nullptr, 0), 0);
    double top = 0, bottom = 0;
    EXPECT_EQ(levelNextBelow(nullptr, 0, &top), -1);
    EXPECT_EQ(levelTableRange(nullptr, &top, &bottom), -1);
    EXPECT_EQ(fitLinesArcs(nullptr, 4, 0.1, 1, 10, 10), 0);
    EXPECT_EQ(linkBuildArcs(&p, &t, &p, nullptr, 1, e), -1);
    EXPECT_EQ(linkMoveBuild(&p, &t, nullptr, &t, 1, e), -1);
    EXPECT_EQ(moveChainAppend(nullptr, e, 0), -1);
    EXPECT_EQ(moveChainHasPoint(nullptr, &p), 0);
    EXPECT_EQ(moveChainCovers(nullptr, nullptr), 0);
    EXPECT_EQ(immediateParent(nullptr, 0), -1);
    EXPECT_EQ(circleToPolygon(nullptr, 1, 0.1, e, 4), -1);
    EXPECT_EQ(convexHull(nullptr, 4, pts), 0);
    Vec2 base[2];
    double width = 0;
    EXPECT_EQ(hullWidthDirection(nullptr, 4, base, &width), -1);
    EXPECT_EQ(passTableInsert(nullptr, 0, nullptr), 0);
    EXPECT_EQ(passesCut(nullptr, square.data(), 4, 0, 0), 1);
    EXPECT_EQ(passesOrderAndLink(nullptr, 1), 1);
    EXPECT_EQ(contourValidate(nullptr, 4), 0);
    EXPECT_EQ(contourMergeCollinear(nullptr, 4), 0);
    EXPECT_EQ((std::vector{pocketReadKeys(nullptr), pocketWritePcf(nullptr), ccpWriteToolReference(nullptr)}),
              (std::vector{0, 0, 0}));
    // Each missing pointer or short count alone, the others good.
    for (int bad = 0; bad < 5; ++bad) {
        SCOPED_TRACE(bad);
        const ContourElement* a = bad == 0 ? nullptr : square.data();
        const ContourElement* b = bad == 2 ? nullptr : square.data();
        const int32_t na = bad == 1 ? 0 : 4, nb = bad == 3 ? 0 : 4;
        if (bad < 4) {
            EXPECT_EQ(intersectContours(a, na, b, nb, rec, 8), 0);
            EXPECT_EQ(contourContainsChain(a, na, b, nb), 0);
            EXPECT_EQ(contourEnclosesList(a, na, b, nb, "INPUT"), 0);
            EXPECT_EQ(cutPieceUseful(a, na, b, nb, 0.1), 0);
        }
        std::vector<ContourElement> out(kClistMaxElements);
        EXPECT_EQ(cutContourByIsland(a, na, b, nb, bad == 4 ? nullptr : out.data()), -2);
        const Vec2* q[5] = {&p, &t, &p, &t, &p};
        q[bad] = nullptr;
        EXPECT_EQ(linkBuildArcs(q[0], q[1], q[2], q[3], 1, bad == 4 ? nullptr : e), -1);
        EXPECT_EQ(linkMoveBuild(q[0], q[1], q[2], q[3], 1, bad == 4 ? nullptr : e), -1);
        int32_t end = 0, starts[4], counts[4];
        EXPECT_EQ(offsetContour(a, na, 1, 1, bad == 2 ? nullptr : out.data(), bad == 3 ? nullptr : &end,
                                bad == 4 ? nullptr : starts, counts),
                  0);
        // All good: five corners, cut to the capacity of four.
        EXPECT_EQ(elementsToPoints(bad == 0 ? nullptr : pts, bad == 1 ? 0 : 4, b, nb, 0.1), bad == 4 ? 4 : 0);
        EXPECT_EQ(circleToPolygon(a, bad == 1 ? -1 : 4, 0.1, bad == 2 ? nullptr : e, 4), bad < 3 ? -1 : 4);
    }
    EXPECT_EQ(contourIsThin(square.data(), 1, 0.1), 0);
    EXPECT_EQ(contourIsThin(square.data(), 4, -0.1), 0);
    n = 39;
    EXPECT_EQ(contourReduceShort(square.data(), nullptr, 1), 0);
    EXPECT_EQ(contourReduceShort(square.data(), &n, 1), 0);
    EXPECT_EQ(n, 39);
    const double values[2] = {1, 2};
    EXPECT_EQ(minWithTolerance(values, 0), -1);
    EXPECT_EQ(polylineTrim(pts, 1, 0.5), 1);
    EXPECT_EQ(pts[0].x, 0);
    MoveChain* chain = moveChainCreate(2);
    ASSERT_NE(chain, nullptr);
    EXPECT_EQ(moveChainAppend(chain, nullptr, 0), -1);
    EXPECT_EQ(moveChainHasPoint(chain, nullptr), 0);
    moveChainFree(chain);
    EXPECT_EQ(moveChainCreate(0), nullptr);
    LevelTable* levels = levelTableCreate(2);
    ASSERT_NE(levels, nullptr);
    for (int32_t index : {-1, 2}) EXPECT_EQ(levelTableSet(levels, index, 1, 0, 0, 0), -1);
    EXPECT_EQ(levelTableRange(levels, &top, &bottom), -1);  // no row used yet
    EXPECT_EQ(levelNextBelow(levels, 0, &top), -1);
    levelTableFree(levels);
    levelTableFree(nullptr);
    passTableFree(nullptr);
    moveChainFree(nullptr);
    helixPointsFree(nullptr);
    contourReverse(nullptr, 4);
}
