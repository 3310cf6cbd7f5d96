#include "KVWOG5/kont2d.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "KVWOG5/lists.h"
#include "KVWOG5/wogerr.h"
#include "allocfail.h"
#include "vecnear.h"
#include "workfolder.h"

namespace {

// Closed polygon through the points, closed flag set.
Kont2d* polygon(const std::vector<Vec2>& p, double z = 0.0) {
    Kont2d* k = kont2dCreate(nullptr, 0);
    for (size_t i = 0; i < p.size(); i++) {
        const Vec2& a = p[i];
        const Vec2& b = p[(i + 1) % p.size()];
        const Seg2D s{a.x, a.y, b.x, b.y};
        kont2dAppendElement(k, &s);
    }
    k->closed = 1;
    k->z = z;
    return k;
}

Kont2d* square(double x0, double y0, double side, bool ccw, double z = 0.0) {
    std::vector<Vec2> p{{x0, y0}, {x0 + side, y0}, {x0 + side, y0 + side}, {x0, y0 + side}};
    if (!ccw) p = {{x0, y0}, {x0, y0 + side}, {x0 + side, y0 + side}, {x0 + side, y0}};
    return polygon(p, z);
}

void addIsland(Kont2d* outer, Kont2d* island) {
    Kont2d* last = outer->firstIsland;
    if (!last) {
        outer->firstIsland = island;
        island->prev = outer;
        return;
    }
    while (last->next) last = last->next;
    last->next = island;
    island->prev = last;
}

std::string readFile(const char* path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void expectSeg(const Seg2D& s, double x1, double y1, double x2, double y2) {
    EXPECT_DOUBLE_EQ(s.x1, x1);
    EXPECT_DOUBLE_EQ(s.y1, y1);
    EXPECT_DOUBLE_EQ(s.x2, x2);
    EXPECT_DOUBLE_EQ(s.y2, y2);
}

TEST(Kont2d, CallerArrayIsCopiedNotReallocatedWhenItGrows) {
    Seg2D owned[2] = {{9, 9, 9, 9}, {9, 9, 9, 9}};
    Kont2d* k = kont2dCreate(owned, 2);
    ASSERT_NE(k, nullptr);
    EXPECT_EQ(k->ownsElements, 0);
    EXPECT_EQ(k->capacity, 2);
    const Seg2D segs[3] = {{0, 0, 1, 0}, {1, 0, 1, 1}, {1, 1, 0, 0}};
    for (const Seg2D& s : segs) EXPECT_EQ(kont2dAppendElement(k, &s), 1);
    EXPECT_NE(k->elements, owned);
    EXPECT_EQ(k->ownsElements, 1);
    EXPECT_EQ(k->count, 3);
    for (int i = 0; i < 3; i++) expectSeg(k->elements[i], segs[i].x1, segs[i].y1, segs[i].x2, segs[i].y2);
    // The caller's array holds what was written before the move, and is not freed with the contour.
    expectSeg(owned[1], 1, 0, 1, 1);
    EXPECT_EQ(k->xmin, 0);
    EXPECT_EQ(k->ymax, 1);
    kont2dFree(k);
    EXPECT_EQ(kont2dCreate(owned, 0), nullptr);
    EXPECT_EQ(kont2dAppendElement(nullptr, &segs[0]), -1);
}

TEST(Kont2d, OrientationBySignedArea) {
    Kont2d* ccw = square(0, 0, 1, true);
    Kont2d* cw = square(0, 0, 1, false);
    Kont2d* flat = polygon({{0, 0}, {1, 0}});
    Kont2d* empty = kont2dCreate(nullptr, 0);
    Kont2d* far = square(1e6, 1e6, 1e-3, true);
    struct Case {
        const Kont2d* k;
        int expected;
    } cases[] = {{ccw, 1}, {cw, -1}, {flat, -1}, {empty, -1}, {far, 1}, {nullptr, -1}};
    for (const Case& c : cases) EXPECT_EQ(kont2dOrientation(c.k), c.expected);
    for (Kont2d* k : {ccw, cw, flat, empty, far}) kont2dFree(k);
}

TEST(Kont2d, MergeCollinearJoinsStraightRunsOnly) {
    Kont2d* k = kont2dCreate(nullptr, 0);
    const Seg2D segs[3] = {{0, 0, 1, 0}, {1, 0, 2, 0}, {2, 0, 2, 1}};
    for (const Seg2D& s : segs) kont2dAppendElement(k, &s);
    EXPECT_EQ(kont2dMergeCollinear(k), 1);
    ASSERT_EQ(k->count, 2);
    expectSeg(k->elements[0], 0, 0, 2, 0);
    expectSeg(k->elements[1], 2, 0, 2, 1);
    EXPECT_EQ(k->xmin, 0);
    EXPECT_EQ(k->ymin, 0);
    EXPECT_EQ(k->xmax, 2);
    EXPECT_EQ(k->ymax, 1);
    kont2dFree(k);

    // The last element is never merged into the first, even when they are collinear.
    Kont2d* sq = polygon({{1, 0}, {2, 0}, {2, 2}, {0, 2}, {0, 0}});
    kont2dMergeCollinear(sq);
    EXPECT_EQ(sq->count, 5);
    kont2dFree(sq);
}

TEST(Kont2d, ReverseFlipsOuterAndIslands) {
    Kont2d* outer = polygon({{0, 0}, {10, 0}, {10, 10}});
    ASSERT_NE(outer, nullptr);
    Kont2d* island = square(2, 2, 1, false);
    addIsland(outer, island);
    EXPECT_EQ(kont2dReverse(outer), 1);
    expectSeg(outer->elements[0], 0, 0, 10, 10);
    expectSeg(outer->elements[1], 10, 10, 10, 0);  // the odd middle element only swaps its ends
    expectSeg(outer->elements[2], 10, 0, 0, 0);
    EXPECT_EQ(kont2dOrientation(outer), -1);
    EXPECT_EQ(kont2dOrientation(island), 1);
    Kont2d* one = polygon({{0, 0}, {1, 1}});
    ASSERT_NE(one, nullptr);
    one->count = 1;
    kont2dReverse(one);
    expectSeg(one->elements[0], 1, 1, 0, 0);
    EXPECT_EQ(kont2dReverse(nullptr), 1);
    kont2dFree(outer);
    kont2dFree(one);
}

TEST(Kont2d, CopyTakesOuterAndIslandsOnly) {
    Kont2d* outer = square(0, 0, 10, true, 3.0);
    ASSERT_NE(outer, nullptr);
    addIsland(outer, square(1, 1, 2, false, 3.0));
    addIsland(outer, square(5, 5, 2, false, 3.0));
    outer->next = square(20, 0, 5, true);
    Kont2d* c = kont2dCopy(outer);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->next, nullptr);
    EXPECT_EQ(c->prev, nullptr);
    EXPECT_EQ(c->count, 4);
    EXPECT_NE(c->elements, outer->elements);
    EXPECT_EQ(c->z, 3.0);
    ASSERT_NE(c->firstIsland, nullptr);
    EXPECT_EQ(c->firstIsland->prev, c);
    ASSERT_NE(c->firstIsland->next, nullptr);
    EXPECT_EQ(c->firstIsland->next->prev, c->firstIsland);
    EXPECT_EQ(c->firstIsland->next->elements[0].x1, 5);
    EXPECT_EQ(c->firstIsland->next->next, nullptr);
    EXPECT_EQ(kont2dCopy(nullptr), nullptr);
    kont2dFree(c);
    kont2dFree(outer);
}

TEST(Kont2d, ScaleMultipliesBoxZAndIslands) {
    Kont2d* outer = square(0, 0, 10, true, 2.0);
    addIsland(outer, square(1, 1, 2, false, 2.0));
    EXPECT_EQ(kont2dScale(outer, 0.5), 1);
    EXPECT_EQ(outer->xmax, 5);
    EXPECT_EQ(outer->z, 1.0);
    expectSeg(outer->elements[1], 5, 0, 5, 5);
    EXPECT_EQ(outer->firstIsland->elements[0].x1, 0.5);
    EXPECT_EQ(outer->firstIsland->ymax, 1.5);
    Kont2d* empty = kont2dCreate(nullptr, 0);
    ASSERT_NE(empty, nullptr);
    empty->z = 4;
    kont2dScale(empty, 3);
    EXPECT_EQ(empty->z, 4);
    kont2dFree(outer);
    kont2dFree(empty);
}

TEST(Kont2d, ClassifyAndFindContainingWalkOuterThenIslands) {
    Kont2d* outer = square(0, 0, 10, true);
    addIsland(outer, square(1, 1, 2, false));
    addIsland(outer, square(5, 5, 2, false));
    struct Classify {
        Vec2 p;
        int expected;
    } inner[] = {{{-1, 5}, 1}, {{4, 4}, 2}, {{2, 2}, 4}, {{6, 6}, 4}, {{0.0005, 5}, 2}, {{11, 11}, 1}};
    for (const Classify& c : inner)
        EXPECT_EQ(kont2dClassifyPoint(outer, &c.p), c.expected) << c.p.x << "," << c.p.y;
    // On a contour: within 1e-3 of one of its elements, outer contour first.
    struct Containing {
        Vec2 p;
        int expected;
    } onto[] = {{{10, 5}, -1}, {{0.0005, 5}, -1}, {{3, 2}, 0},
                {{6, 7}, 1},   {{4, 4}, -202},    {{3.002, 2}, -202}};
    for (const Containing& c : onto)
        EXPECT_EQ(kont2dFindContaining(outer, &c.p), c.expected) << c.p.x << "," << c.p.y;
    const Vec2 p{1, 1};
    EXPECT_EQ(kont2dClassifyPoint(nullptr, &p), 0);
    EXPECT_EQ(kont2dFindContaining(nullptr, &p), -202);
    Kont2d* empty = kont2dCreate(nullptr, 0);
    EXPECT_EQ(kont2dFindContaining(empty, &p), -202);
    kont2dFree(empty);
    kont2dFree(outer);
}

TEST(Kont2d, NearestPointTakesFootOrNearerEnd) {
    Kont2d* outer = square(0, 0, 10, true);
    addIsland(outer, square(4, 4, 2, false));
    struct Case {
        Vec2 q;
        int found;
        Vec2 expected;
    } cases[] = {
        {{5, -3}, 1, {5, 0}},
        {{-2, -2}, 1, {0, 0}},
        {{5, 3.5}, 1, {5, 4}},
        {{2e5, 0}, 0, {0, 0}},
    };
    for (const Case& c : cases) {
        Vec2 out{-7, -7};
        EXPECT_EQ(kont2dNearestPoint(&c.q, outer, &out), c.found);
        if (c.found) {
            EXPECT_XY(EXPECT_DOUBLE_EQ, out, c.expected.x, c.expected.y);
        }
    }
    kont2dFree(outer);
}

TEST(Kont2d, NestingLinksIslandsAndChainsOuterContours) {
    // Given as loose contours in mixed order.
    Kont2d* inner = square(2, 2, 3, true);
    Kont2d* a = square(0, 0, 10, true);
    Kont2d* b = square(11, 0, 10, true);
    Kont2d* arr[3] = {inner, b, a};
    EXPECT_EQ(kont2dBuildNesting(arr, 3), 1);
    EXPECT_EQ(arr[0], a);
    EXPECT_EQ(a->level, 0);
    EXPECT_EQ(b->level, 0);
    EXPECT_EQ(inner->level, 1);
    EXPECT_EQ(a->next, b);
    EXPECT_EQ(b->prev, a);
    EXPECT_EQ(a->firstIsland, inner);
    EXPECT_EQ(inner->prev, a);
    EXPECT_EQ(b->firstIsland, nullptr);
    kont2dFree(a);
}

TEST(Kont2d, NestingGroupsByHeight) {
    Kont2d* low = square(0, 0, 10, true, 0.0);
    Kont2d* high = square(0, 0, 10, true, 5.0);
    Kont2d* highInner = square(2, 2, 3, true, 5.0);
    Kont2d* arr[3] = {low, highInner, high};
    kont2dBuildNesting(arr, 3);
    EXPECT_EQ(arr[0], high);
    EXPECT_EQ(high->firstIsland, highInner);
    EXPECT_EQ(high->next, low);
    EXPECT_EQ(low->level, 0);  // the other height does not count
    kont2dFree(high);
}

TEST(Kont2d, NestingLinksAnIslandUnderOneParentAndFreesOrphans) {
    // Two overlapping contours each start inside the other (level 2 both, inside a frame z); the island
    // in their overlap has level 3 and matches both. It must be linked once, so that the set frees it
    // once.
    Kont2d* z = square(-50, -50, 200, true);
    Kont2d* o1 = polygon({{15, 10}, {0, 10}, {0, 0}, {20, 0}, {20, 10}});
    Kont2d* o2 = polygon({{15, 5}, {30, 5}, {30, 15}, {10, 15}, {10, 5}});
    Kont2d* isl = square(12, 6, 2, true);
    Kont2d* arr[4] = {isl, o2, o1, z};
    kont2dBuildNesting(arr, 4);
    EXPECT_EQ(o1->level, 2);
    EXPECT_EQ(o2->level, 2);
    EXPECT_EQ(isl->level, 3);
    const int linked = (o1->firstIsland == isl) + (o2->firstIsland == isl);
    EXPECT_EQ(linked, 1);
    kont2dFree(arr[0]);

    // An odd-level contour that no even contour of the level below holds is freed and dropped.
    Kont2d* big = square(0, 0, 10, true);
    Kont2d* over = polygon({{9, 5}, {20, 5}, {20, 6}, {9, 6}});  // starts inside big: level 1
    Kont2d* orphan = square(15, 5.2, 0.5, true);                 // inside over only: level 1, no parent
    Kont2d* arr2[3] = {orphan, over, big};
    kont2dBuildNesting(arr2, 3);
    EXPECT_EQ(arr2[0], big);
    EXPECT_EQ(big->firstIsland, over);
    EXPECT_EQ(arr2[1], over);  // linked islands stay listed; the orphan's entry is gone
    EXPECT_EQ(arr2[2], nullptr);
    kont2dFree(big);
}

TEST(Kont2d, ValidateChecksIslandsAndCrossings) {
    wogResetState();
    struct Case {
        const char* name;
        int islandKind;  // 0 none, 1 cw closed, 2 ccw closed, 3 cw open
        bool figureEight;
        int flags;
        int expected;
    } cases[] = {
        {"cw island", 1, false, 3, 1},     {"ccw island", 2, false, 3, -47},
        {"open island", 3, false, 3, -47}, {"ccw island, crossing only", 2, false, 2, 1},
        {"figure eight", 0, true, 3, -41}, {"figure eight, islands only", 0, true, 1, 1},
    };
    for (const Case& c : cases) {
        Kont2d* outer =
            c.figureEight ? polygon({{0, 0}, {10, 10}, {10, 0}, {0, 10}}) : square(0, 0, 100, true);
        if (c.islandKind) {
            Kont2d* i = square(10, 10, 10, c.islandKind == 2);
            ASSERT_NE(i, nullptr);
            i->closed = c.islandKind == 3 ? 0 : 1;
            addIsland(outer, i);
        }
        wogErrorReset();
        EXPECT_EQ(kont2dValidate(outer, c.flags), c.expected) << c.name;
        if (c.expected < 0) {
            EXPECT_EQ(wogErrorState()->code, c.expected) << c.name;
            EXPECT_EQ(wogErrorState()->line, c.expected == -47 ? 4653 : 4735) << c.name;
            EXPECT_STREQ(wogErrorState()->file, "kont2d");
        }
        kont2dFree(outer);
    }
    Kont2d* eight = polygon({{0, 0}, {10, 10}, {10, 0}, {0, 10}});
    kont2dSetNoCheck(7);
    EXPECT_EQ(kont2dGetNoCheck(), 1);
    EXPECT_EQ(kont2dValidate(eight, 3), 1);
    EXPECT_EQ(kont2dValidate(nullptr, 3), 1);
    kont2dSetNoCheck(0);
    EXPECT_EQ(kont2dValidate(nullptr, 3), 0);
    kont2dFree(eight);
    kont2dSetOpenFlag(-2);
    EXPECT_EQ(kont2dGetOpenFlag(), 1);
    kont2dResetState();
    EXPECT_EQ(kont2dGetOpenFlag(), 0);
}

TEST(Kont2d, ValidateDumpsCrossingContourInDebugMode) {
    std::remove("problem.bnd");
    {
        std::ofstream sw("wogdebug_on.info");
        sw << "DEBUG 1\n";
    }
    setenv("KV_WOGDEBUG_INFO", "wogdebug_on.info", 1);
    wogResetState();
    kont2dResetState();
    Kont2d* eight = polygon({{0, 0}, {10, 10}, {10, 0}, {0, 10}});
    ASSERT_NE(eight, nullptr);
    eight->next = square(50, 50, 1, true);  // not written: the dump holds the failing contour only
    EXPECT_EQ(kont2dValidate(eight, 2), -41);
    EXPECT_NE(eight->next, nullptr);
    const std::string text = readFile("problem.bnd");
    EXPECT_EQ(text.rfind("**BND 1 **WZ\nX0.000000 Y0.000000 Z0.000000\n", 0), 0u) << text;
    EXPECT_EQ(text.find("**BND 2"), std::string::npos);
    kont2dFree(eight);
    unsetenv("KV_WOGDEBUG_INFO");
    wogResetState();
    std::remove("wogerrno.txt");
    std::remove("problem.bnd");
    std::remove("wogdebug_on.info");
}

TEST(Kont2d, CreateRectIsCounterClockwiseFromLowerLeft) {
    const Vec2 a{3, 1}, b{0, 2};
    Kont2d* k = kont2dCreateRect(&a, &b);
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->count, 4);
    expectSeg(k->elements[0], 0, 1, 3, 1);
    expectSeg(k->elements[1], 3, 1, 3, 2);
    expectSeg(k->elements[2], 3, 2, 0, 2);
    expectSeg(k->elements[3], 0, 2, 0, 1);
    EXPECT_EQ(k->closed, 0);
    EXPECT_EQ(k->z, DBL_MAX);
    EXPECT_EQ(kont2dOrientation(k), 1);
    kont2dFree(k);
}

TEST(Kont2d, WriteBndSplitsAtGapsAndNumbersBlocksAcrossCalls) {
    kont2dResetState();
    const char* path = "kont2d_write.bnd";
    std::remove(path);
    Kont2d* k = kont2dCreate(nullptr, 0);
    ASSERT_NE(k, nullptr);
    k->z = 1.5;
    const Seg2D segs[3] = {{0, 0, 1, 0}, {1, 0, 1, 1}, {5, 5, 6, 5}};
    for (const Seg2D& s : segs) kont2dAppendElement(k, &s);
    EXPECT_EQ(kont2dWriteBnd(k, path), 1);
    EXPECT_EQ(kont2dWriteBnd(k, path), 1);
    const std::string block12 =
        "**BND 1 **WZ\nX0.000000 Y0.000000 Z1.500000\nX1.000000 Y0.000000 Z1.500000\n"
        "X1.000000 Y1.000000 Z1.500000\n**END\n**BND 2 **WZ\nX5.000000 Y5.000000 Z1.500000\n"
        "X6.000000 Y5.000000 Z1.500000\n**END\n";
    const std::string text = readFile(path);
    EXPECT_EQ(text.substr(0, block12.size()), block12);
    EXPECT_NE(text.find("**BND 3 **WZ\nX0.000000"), std::string::npos);
    EXPECT_NE(text.find("**BND 4 **WZ\nX5.000000"), std::string::npos);
    Kont2d* empty = kont2dCreate(nullptr, 0);
    EXPECT_EQ(kont2dWriteBnd(empty, path), 0);
    EXPECT_EQ(kont2dWriteBnd(nullptr, path), 0);
    EXPECT_EQ(kont2dWriteBnd(k, "no_such_dir/x.bnd"), -1);
    kont2dFree(empty);
    kont2dFree(k);
    std::remove(path);
}

TEST(Kont2d, PointInPolygonUsesBoxThenCrossings) {
    Kont2d* tri = polygon({{0, 0}, {10, 0}, {0, 10}});
    struct Case {
        Vec2 p;
        double tol;
        int inPoly;
        int inTol;
    } cases[] = {
        {{1, 1}, 0, 1, 1}, {{6, 6}, 0, 0, 0}, {{-1, 1}, 0, 0, 0}, {{11, 1}, 2, 0, 0}, {{2, 2}, 1, 1, 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(pointInPolygon2D(&c.p, tri), c.inPoly);
        EXPECT_EQ(pointInContourTol(&c.p, tri, c.tol), c.inTol);
    }
    Kont2d* two = polygon({{0, 0}, {10, 0}});
    const Vec2 q{5, 0};
    EXPECT_EQ(pointInPolygon2D(&q, two), 0);
    kont2dFree(two);
    kont2dFree(tri);
}

TEST(Kont2d, SegContourIntersectFindsOuterThenIslandCrossing) {
    Kont2d* outer = square(0, 0, 10, true);
    addIsland(outer, square(4, 4, 2, false));
    Vec2 out{0, 0};
    const Seg2D inside{4.5, 5, 5.5, 5};
    EXPECT_EQ(segContourIntersect2D(&inside, outer, &out), 0);
    const Seg2D toIsland{3, 5, 5, 5};
    EXPECT_EQ(segContourIntersect2D(&toIsland, outer, &out), 1);
    EXPECT_XY(EXPECT_DOUBLE_EQ, out, 4, 5);
    const Seg2D across{-1, 3, 1, 3};
    EXPECT_EQ(segContourIntersect2D(&across, outer, &out), 1);
    EXPECT_DOUBLE_EQ(out.x, 0);
    // Along an element there is no single crossing; the next element that meets gives it.
    const Seg2D along{2, 0, 12, 0};
    EXPECT_EQ(segContourIntersect2D(&along, outer, &out), 1);
    EXPECT_XY(EXPECT_DOUBLE_EQ, out, 10, 0);
    kont2dFree(outer);
}

}  // namespace

// Frees run in destructors, also when memory is short: a set of outer contours with islands nested
// three deep goes back whole (the leak check) while no allocation can be had.
TEST(Kont2d, FreeingANestedSetNeedsNoMemory) {
    const Vec2 lo{0, 0}, hi{1, 1};
    auto rect = [&] { return kont2dCreateRect(&lo, &hi); };
    Kont2d* first = rect();
    Kont2d* second = rect();
    first->next = second;
    Kont2d* island = rect();
    first->firstIsland = island;
    island->next = rect();
    island->firstIsland = rect();
    island->firstIsland->firstIsland = rect();
    second->firstIsland = rect();
    allocfail::arm(1);
    EXPECT_NO_THROW(kont2dFree(first));
    EXPECT_FALSE(allocfail::fired());
    allocfail::disarm();
}
