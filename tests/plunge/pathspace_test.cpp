#include "plunge/pathspace.h"

#include <gtest/gtest.h>

#include "geometry/seg3d.h"
#include "kernel/base/rng.h"
#include "plunge/pathlink.h"
#include "sidetest.h"

namespace {

double uni(double a, double b) {
    return a + (b - a) * rngUniform();
}
double chord(double r, double da) {
    return 2 * r * std::sin(da / 2);
}

}  // namespace

TEST(PathSpacing, PairDistanceOrderAndStartValue) {
    struct Case {
        double angleB, start;
        int leadA, swapAt, result;
        double distance;  // < 0: the value passed in
    } cases[] = {
        {0.1, 1000, 0, -1, 1, chord(10, 0.1)},
        {-0.1, 1000, 0, -1, -1, 0},
        {0.1, 0.5, 1, -1, 1, -1},              // a lead-in start keeps a smaller value
        {0.1, 0.5, 0, -1, 1, chord(10, 0.1)},  // a cut start replaces it
        {0.1, 1000, 0, 9, -1, 0},              // one point past B far from the start
        {0.1, 1000, 3, 1, -1, 0},              // a lead-in point past B's cut point there
    };
    for (const Case& c : cases) {
        Plist *a = ray(0, 11, c.leadA), *b = ray(c.angleB);
        if (c.swapAt >= 0) pathRotateZ(&a->points[c.swapAt], 0.11);
        // Unused slots past the count hold cut points just swapped, near the other path: only the counted
        // points may be read, for the order and for the distance.
        for (const auto& [l, angle] : {std::pair{a, 0.101}, std::pair{b, -0.001}}) {
            l->parameters[l->count] = 3;
            l->flags[l->count] = 0;
            l->points[l->count] = {13 * std::cos(angle), 13 * std::sin(angle), 0};
        }
        double d = c.start;
        EXPECT_EQ(pathPairDistance(a, b, &d), c.result);
        if (c.result == 1) {
            EXPECT_NEAR(d, c.distance < 0 ? c.start : c.distance, 1e-9);
        }
        plistFree(a);
        plistFree(b);
    }
    Plist *empty = none(), *b = ray(0);
    double d = 7;
    EXPECT_EQ(pathPairDistance(empty, b, &d), 0);
    plistFree(empty);
    plistFree(b);
    // Random paths in order: the distance equals the densely sampled point-to-polyline minimum.
    rngResetState();
    for (int trial = 0; trial < 10; ++trial) {
        std::vector<Polar> pa, pb;
        for (int i = 0; i < 8; ++i) {
            pa.push_back({double(i), 10 + 2.0 * i + uni(0, 1), uni(0, 0.2), uni(0, 3), 0});
            pb.push_back({double(i), 10 + 2.0 * i + uni(0, 1), uni(0.3, 0.5), uni(0, 3), 0});
        }
        Plist *pa2 = polarPath(pa), *pb2 = polarPath(pb);
        for (const int32_t nb : {8, 1}) {  // b whole, then its first point alone
            pb2->count = nb;
            double expected = 1e300;
            for (auto [from, to] : {std::pair{pa2, pb2}, std::pair{pb2, pa2}})
                for (int i = 0; i < from->count; ++i)
                    for (int j = 0; j < std::max(to->count - 1, 1); ++j)
                        for (int k = 0; k <= 1000; ++k) {
                            const Vec3 &u = to->points[j], &v = to->points[std::min(j + 1, to->count - 1)];
                            const double f = k / 1000.0;
                            const Vec3 q{u.x + f * (v.x - u.x), u.y + f * (v.y - u.y), u.z + f * (v.z - u.z)};
                            expected = std::min(expected, dist3D(&q, &from->points[i]));
                        }
            d = 1000;
            ASSERT_EQ(pathPairDistance(pa2, pb2, &d), 1) << nb;
            EXPECT_NEAR(d, expected, 1e-3) << nb;
        }
        pb2->count = 8;
        plistFree(pa2);
        plistFree(pb2);
    }
}

TEST(PathSpacing, MinDistanceOverNeighbourPairs) {
    struct Case {
        std::vector<double> angles;  // NAN: an empty list
        int result;
        double distance;
    } cases[] = {{{0.0, 0.1}, 1, chord(10, 0.1)},
                 {{0.0, NAN, NAN, 0.3}, 1, chord(10, 0.3)},
                 {{0.0, 0.1, 0.3, 0.6}, 1, chord(10, 0.1)},
                 {{0.0, 0.2, 0.3, 0.25}, -1, 0},
                 {{0.0, 0.1, 0.2}, 0, 0}};
    for (const Case& c : cases) {
        std::vector<Plist*> lists;
        for (double a : c.angles) lists.push_back(std::isnan(a) ? none() : ray(a));
        PlistArray* array = arrayOf(lists);
        double d = 0;
        EXPECT_EQ(minPathDistance(array, &d), c.result);
        if (c.result == 1) {
            EXPECT_NEAR(d, c.distance, 1e-9);
        }
        plistArrayFree(array);
    }
}

TEST(PathSpacing, RepairsTurnInnerStartsBetweenTheOuterPaths) {
    // Inner lists coincide at angle 0.1 up to parameter 5; the outer ones come closest at 1.
    auto inner = [](double end, double lead, int leadIn) {
        std::vector<Polar> pts;
        for (int i = 0; i <= 10; ++i)
            pts.push_back({double(i), 10.0 + i,
                           i < leadIn ? lead
                           : i <= 5   ? 0.1
                                      : end,
                           0, i < leadIn ? 2 : 0});
        return polarPath(pts);
    };
    // The outer lists come closest at parameter at; the inner points before it move onto the middle, those
    // after it turn less and less up to the split at 5 (at most half way there, 2.5).
    auto outer = [](double angle, int at) {
        Plist* l = ray(angle);
        pathRotateZ(&l->points[at], -angle / 4);
        return l;
    };
    // A lead-in on list 0 moves the half way mark to the middle of its first cut and the split. The
    // whole turned about the axis (lead 3) turns the repair with it.
    for (const auto& [at, lead] :
         {std::pair{1, 0}, std::pair{2, 0}, std::pair{4, 1}, std::pair{4, 2}, std::pair{1, 3}}) {
        Plist* first = outer(-0.2, at);
        for (int i = 0; i < lead % 3; ++i) first->flags[i] = kPointLink << 8;
        PlistArray* lists = arrayOf({first, inner(0.05, 0, 0), inner(0.15, 0, 0), outer(0.2, at)});
        const double turn = lead == 3 ? 0.7 : 0.0;
        for (int k = 0; k < 4; ++k)
            for (int i = 0; i <= 10; ++i) pathRotateZ(&lists->lists[k]->points[i], turn);
        ASSERT_EQ(repairPathDistance(nullptr, lists), 1);
        const double mid = std::min<double>(at, (lead % 3 + 5) / 2.0);
        for (int k = 1; k <= 2; ++k)
            for (int i = 0; i <= 10; ++i)
                EXPECT_NEAR(polar(lists->lists[k]->points[i]) - turn,
                            i < mid  ? 0
                            : i <= 5 ? 0.1 - 0.1 * (5 - i) / (5.0 - mid)
                                     : 0.1 * k - 0.05,
                            1e-9)
                    << at << " " << lead << " " << k << " " << i;
        plistArrayFree(lists);
    }
    // Without an outer list or the first inner one, or with list 3 beginning (at 3) past the half way mark to
    // the split (2.5: no middle there), there is nothing to repair against.
    std::vector<Polar> late;
    for (int i = 3; i <= 10; ++i) late.push_back({double(i), 10.0 + i, i == 4 ? 0.15 : 0.2, 0, 0});
    for (int missing : {0, 1, 3, 4}) {
        std::vector<Plist*> four{outer(-0.2, 1), inner(0.05, 0, 0), inner(0.15, 0, 0), outer(0.2, 1)};
        plistFree(four[missing % 4 + missing / 4 * 3]);
        four[missing % 4 + missing / 4 * 3] = missing == 4 ? polarPath(late) : none();
        PlistArray* lacking = arrayOf(four);
        EXPECT_EQ(repairPathDistance(nullptr, lacking), -1) << missing;
        plistArrayFree(lacking);
    }
    PlistArray* apart = arrayOf({ray(-0.2), ray(0.05), ray(0.15), ray(0.2)});
    EXPECT_EQ(repairPathDistance(nullptr, apart), -1);
    plistArrayFree(apart);
    // No splitter (list 2 absent): the lists stay as they are, even at parameters that are not finite.
    auto lone = [] { return polarPath({{INFINITY, 1, 0, 0, 0}}); };
    PlistArray* bare = arrayOf({lone(), lone(), none(), lone()});
    plistFree(std::exchange(bare->lists[2], nullptr));
    repairPathDistance(nullptr, bare);
    for (int k : {0, 1, 3}) EXPECT_EQ(bare->lists[k]->points[0].x, 1) << k;
    plistArrayFree(bare);
    // Inner lists that share only their first point and one a parameter gap after it: a shared stretch
    // longer than 1e-5 is repaired, a shorter one counts as separating at once.
    for (const double gap : {5e-5, 2e-5, 5e-6}) {
        auto split = [gap](double end) {
            std::vector<Polar> pts{{0, 10, 0.1, 0, 0}, {gap, 10 + gap, 0.1, 0, 0}};
            for (int i = 1; i <= 10; ++i) pts.push_back({double(i), 10.0 + i, end, 0, 0});
            return polarPath(pts);
        };
        PlistArray* early = arrayOf({ray(-0.2), split(0.05), split(0.15), ray(0.2)});
        EXPECT_EQ(repairPathDistance(nullptr, early), gap > 1e-5 ? 1 : -1) << gap;
        plistArrayFree(early);
    }
    // Lead-ins (3 points) starting outside list 0 fade onto the bisector; the first cut point stays.
    // Either inner list starting outside its outer neighbour is outside.
    for (const double lead : {0.1, 0.3}) {
        PlistArray* one = arrayOf({ray(-0.2), inner(0.05, 0.1, 3), inner(0.15, lead, 3), ray(0.2)});
        EXPECT_EQ(innerPathsInside(one), lead > 0.2 ? 0 : 1) << lead;
        plistArrayFree(one);
    }
    // The side lists' own lead-ins stay where they are.
    PlistArray* lists =
        arrayOf({ray(-0.2, 11, 3), inner(0.05, -0.3, 3), inner(0.15, 0.1, 3), ray(0.2, 11, 3)});
    EXPECT_EQ(innerPathsInside(lists), 0);
    Plist* kept = std::exchange(lists->lists[0], nullptr);  // a missing list 0 holds nothing inside
    EXPECT_EQ(innerPathsInside(lists), 1);
    lists->lists[0] = kept;
    ASSERT_EQ(repairInnerPathStarts(lists), 1);
    for (int k = 0; k <= 3; ++k)
        for (int i = 0; i <= 3; ++i)
            EXPECT_NEAR(polar(lists->lists[k]->points[i]),
                        k % 3 == 0 ? k * 0.4 / 3 - 0.2 : (i == 3 || k == 2 ? 0.1 : -0.3) * i / 3.0, 1e-9);
    EXPECT_EQ(repairInnerPathStarts(lists), 0);
    plistArrayFree(lists);
}

TEST(PathLink, LeadInsMeetAtOneLinkPoint) {
    // No lead-in, or one never followed by a cut: nothing changes. One up to the last point, the only cut
    // one, still links.
    for (int lead : {0, 11, 10}) {
        Plist *a = ray(0, 11, lead), *b = ray(0.1, 11, 2);
        const Vec3 before = b->points[0];
        EXPECT_EQ(linkPathEnds(a, b), lead == 10 ? 1 : -1);
        EXPECT_EQ(linkPathEnds(nullptr, b), -1);
        EXPECT_EQ(linkPathEnds(b, nullptr), -1);
        EXPECT_EQ(b->points[0].y == before.y, lead != 10) << lead;
        // A moved lead-in end, linking where its path cuts, takes the kind of its first cut point.
        EXPECT_EQ(a->flags[9] >> 8, lead == 11 ? 2 : 0) << lead;
        EXPECT_EQ(b->flags[1] >> 8, lead == 10 ? 0 : 2) << lead;
        plistFree(a);
        plistFree(b);
    }
    // Lead-ins from either side ending at the same first cut point keep it as the link.
    Plist* a = polarPath({{0, 20, -0.3, 0, 2}, {1, 20, -0.2, 0, 2}, {2, 20, 0, 0, 0}, {3, 21, 0, 0, 0}});
    Plist* b = polarPath({{0, 20, 0.3, 0, 2}, {1, 20, 0.2, 0, 2}, {2, 20, 0, 0, 0}, {3, 21, 0.1, 0, 0}});
    ASSERT_EQ(linkPathEnds(a, b), 1);
    for (Plist* l : {a, b}) {
        EXPECT_NEAR(dist3D(&l->points[1], &l->points[2]), 0, 1e-9);
        EXPECT_EQ(l->flags[1] >> 8, 2);
        // The lead-in's first point turns with it, 0.1 rad ahead on its circle: nothing snaps onto it.
        EXPECT_NEAR(dist3D(&l->points[0], &l->points[1]), 2 * 20 * std::sin(0.05), 1e-9);
        plistFree(l);
    }
    // A lone link point between cut points of b becomes the middle of its neighbours.
    a = ray(0, 6, 1);
    b = polarPath(
        {{0, 10, 0.1, 0, 2}, {1, 11, 0.1, 0, 0}, {2, 40, 0.5, 0, 2}, {3, 13, 0.1, 0, 0}, {4, 14, 0.1, 0, 0}});
    ASSERT_EQ(linkPathEnds(a, b), 1);
    EXPECT_NEAR(std::hypot(b->points[2].x, b->points[2].y), 12, 1e-9);
    EXPECT_EQ(b->flags[2] >> 8, 0);
    plistFree(a);
    plistFree(b);
}
