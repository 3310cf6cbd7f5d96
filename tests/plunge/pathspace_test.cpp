#include "plunge/pathspace.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "geometry/plist.h"
#include "geometry/rng.h"
#include "plunge/pathlink.h"

namespace {

struct Polar {
    double t, r, angle, z;
    int kind;
};

Plist* polarList(const std::vector<Polar>& pts) {
    Plist* list = plistCreate(64, 1);
    for (const Polar& p : pts) {
        const Vec3 q{p.r * std::cos(p.angle), p.r * std::sin(p.angle), p.z};
        plistAppend(list, p.t, &q, static_cast<uint16_t>(p.kind << 8), nullptr, 0);
    }
    return list;
}

// A path along the radius at a fixed angle, parameter = radius - 10; the first `lead` points are links.
Plist* ray(double angle, int n = 11, int lead = 0, double z = 0) {
    std::vector<Polar> pts;
    for (int i = 0; i < n; ++i) pts.push_back({double(i), 10.0 + i, angle, z, i < lead ? 2 : 0});
    return polarList(pts);
}

PlistArray* arrayOf(std::vector<Plist*> lists) {
    PlistArray* array = plistArrayCreate(4);
    for (Plist* l : lists) {
        plistArrayAdd(array, l);
        plistFree(l);
    }
    return array;
}

double uni(double a, double b) {
    return a + (b - a) * rngUniform();
}

double angleOf(const Vec3& p) {
    return std::atan2(p.y, p.x);
}

// Distance to the polyline by dense sampling of its segments.
double sampledDistance(const Plist* list, const Vec3& q) {
    double best = 1e300;
    for (int32_t i = 0; i + 1 < list->count; ++i)
        for (int k = 0; k <= 2000; ++k) {
            const double f = k / 2000.0;
            const Vec3 &a = list->points[i], &b = list->points[i + 1];
            const Vec3 p{a.x + f * (b.x - a.x), a.y + f * (b.y - a.y), a.z + f * (b.z - a.z)};
            best = std::min(best, dist3D(&p, &q));
        }
    return best;
}

}  // namespace

TEST(PathSpacing, PairDistanceOrderAndStartValue) {
    struct Case {
        double angleA, angleB, start;
        int firstKindA, swapAt;  // swapAt: index of A moved past B, -1 none
        int result;
        double distance;  // < 0: the value passed in
    } cases[] = {
        {0.0, 0.1, 1000, 0, -1, 1, 10 * 2 * std::sin(0.05)},
        {0.1, 0.0, 1000, 0, -1, -1, -1},
        {0.0, 0.1, 0.5, 2, -1, 1, -1},                       // a lead-in start keeps a smaller value
        {0.0, 0.1, 0.5, 0, -1, 1, 10 * 2 * std::sin(0.05)},  // a cut start replaces it
        {0.0, 0.1, 1000, 0, 9, -1, -1},                      // one swapped point far from the start
    };
    for (const Case& c : cases) {
        Plist* a = ray(c.angleA, 11, c.firstKindA == 2 ? 1 : 0);
        Plist* b = ray(c.angleB);
        if (c.swapAt >= 0) a->points[c.swapAt] = b->points[c.swapAt], pathRotateZ(&a->points[c.swapAt], 0.01);
        double d = c.start;
        EXPECT_EQ(pathPairDistance(a, b, &d), c.result);
        if (c.result == 1) {
            EXPECT_NEAR(d, c.distance < 0 ? c.start : c.distance, 1e-9);
        }
        plistFree(a);
        plistFree(b);
    }
    Plist* empty = plistCreate(4, 1);
    Plist* b = ray(0);
    double d = 7;
    EXPECT_EQ(pathPairDistance(empty, b, &d), 0);
    EXPECT_EQ(d, 7);
    plistFree(empty);
    plistFree(b);
}

TEST(PathSpacing, PairDistanceMatchesSampledPolylines) {
    rngResetState();
    for (int trial = 0; trial < 20; ++trial) {
        std::vector<Polar> pa, pb;
        for (int i = 0; i < 8; ++i) {
            pa.push_back({double(i), 10 + 2.0 * i + uni(0, 1), uni(0, 0.2), uni(0, 3), 0});
            pb.push_back({double(i), 10 + 2.0 * i + uni(0, 1), uni(0.3, 0.5), uni(0, 3), 0});
        }
        Plist *a = polarList(pa), *b = polarList(pb);
        double expected = 1e300;
        for (int i = 0; i < 8; ++i) {
            expected = std::min(expected, sampledDistance(b, a->points[i]));
            expected = std::min(expected, sampledDistance(a, b->points[i]));
        }
        double d = 1000;
        ASSERT_EQ(pathPairDistance(a, b, &d), 1);
        EXPECT_LE(d, expected + 1e-9);
        EXPECT_NEAR(d, expected, 1e-3);
        plistFree(a);
        plistFree(b);
    }
}

TEST(PathSpacing, MinDistanceOverNeighbourPairs) {
    const double gap = [](double da) { return 10 * 2 * std::sin(da / 2); }(0.1);
    struct Case {
        std::vector<double> angles;  // NAN: empty list
        int result;
        double distance;
    } cases[] = {
        {{0.0, 0.1}, 1, gap},           {{0.0, NAN, NAN, 0.3}, 1, 10 * 2 * std::sin(0.15)},
        {{0.0, 0.1, 0.3, 0.6}, 1, gap}, {{0.0, 0.2, 0.3, 0.25}, -1, 0},
        {{0.0, 0.1, 0.2}, 0, 1000},
    };
    for (const Case& c : cases) {
        std::vector<Plist*> lists;
        for (double a : c.angles) lists.push_back(std::isnan(a) ? plistCreate(4, 1) : ray(a));
        PlistArray* array = arrayOf(lists);
        double d = 0;
        EXPECT_EQ(minPathDistance(array, &d), c.result);
        if (c.result >= 0) {
            EXPECT_NEAR(d, c.distance, 1e-9);
        }
        plistArrayFree(array);
    }
}

TEST(PathSpacing, RepairFadesInnerStartsToTheMiddle) {
    // Inner lists coincide up to parameter 5 at angle 0.1 and then part; outer lists at -0.2, +0.2
    // come closest at parameter 1.
    auto outer = [](double angle) {
        Plist* list = ray(angle);
        pathRotateZ(&list->points[1], -angle / 4);
        return list;
    };
    auto inner = [](double end) {
        std::vector<Polar> pts;
        for (int i = 0; i <= 10; ++i) pts.push_back({double(i), 10.0 + i, i <= 5 ? 0.1 : end, 0, 0});
        return polarList(pts);
    };
    PlistArray* lists = arrayOf({outer(-0.2), inner(0.05), inner(0.15), outer(0.2)});
    ASSERT_EQ(repairPathDistance(nullptr, lists), 1);
    for (int k = 1; k <= 2; ++k)
        for (int i = 0; i <= 10; ++i) {
            const double expected = i == 0 ? 0 : i <= 5 ? 0.1 - 0.1 * (5 - i) / 4.0 : (k == 1 ? 0.05 : 0.15);
            EXPECT_NEAR(angleOf(lists->lists[k]->points[i]), expected, 1e-9) << k << " " << i;
        }
    plistArrayFree(lists);

    PlistArray* apart = arrayOf({ray(-0.2), ray(0.05), ray(0.15), ray(0.2)});
    EXPECT_EQ(repairPathDistance(nullptr, apart), -1);
    plistArrayFree(apart);
    PlistArray* two = arrayOf({ray(-0.2), ray(0.2)});
    EXPECT_EQ(repairPathDistance(nullptr, two), 0);
    plistArrayFree(two);
}

TEST(PathSpacing, InnerLeadInsTurnOntoTheBisector) {
    // Lead-ins (3 points) of the inner lists start outside list 0; their cut points are inside.
    auto inner = [](double lead, double cut) {
        std::vector<Polar> pts;
        for (int i = 0; i <= 10; ++i)
            pts.push_back({double(i), 10.0 + i, i < 3 ? lead : cut, 0, i < 3 ? 2 : 0});
        return polarList(pts);
    };
    PlistArray* lists = arrayOf({ray(-0.2), inner(-0.3, 0.05), inner(0.1, 0.15), ray(0.2)});
    EXPECT_EQ(innerPathsInside(lists), 0);
    ASSERT_EQ(repairInnerPathStarts(lists), 1);
    for (int k = 1; k <= 2; ++k)
        for (int i = 0; i <= 10; ++i) {
            const double old = i < 3 ? (k == 1 ? -0.3 : 0.1) : (k == 1 ? 0.05 : 0.15);
            const double expected = i <= 3 ? old + (1 - i / 3.0) * (0 - old) : old;
            EXPECT_NEAR(angleOf(lists->lists[k]->points[i]), expected, 1e-9) << k << " " << i;
        }
    EXPECT_EQ(repairInnerPathStarts(lists), 0);
    plistArrayFree(lists);
}

TEST(PathLink, LeadInsMeetAtOneLinkPoint) {
    // No lead-in, or a lead-in never followed by a cut: nothing changes.
    for (int lead : {0, 11}) {
        Plist *a = ray(0, 11, lead), *b = ray(0.1, 11, 2);
        const Vec3 before = b->points[0];
        EXPECT_EQ(linkPathEnds(a, b), -1);
        EXPECT_EQ(b->points[0].x, before.x);
        plistFree(a);
        plistFree(b);
    }
    // Lead-ins from either side ending at the same first cut point keep it as the link.
    Plist* a = polarList({{0, 20, -0.3, 0, 2}, {1, 20, -0.2, 0, 2}, {2, 20, 0, 0, 0}, {3, 21, 0, 0, 0}});
    Plist* b = polarList({{0, 20, 0.3, 0, 2}, {1, 20, 0.2, 0, 2}, {2, 20, 0, 0, 0}, {3, 21, 0.1, 0, 0}});
    ASSERT_EQ(linkPathEnds(a, b), 1);
    for (Plist* l : {a, b}) {
        EXPECT_NEAR(l->points[1].x, 20, 1e-9);
        EXPECT_NEAR(l->points[1].y, 0, 1e-9);
        EXPECT_EQ(l->flags[1] >> 8, 2);
        EXPECT_NEAR(std::hypot(l->points[0].x, l->points[0].y), 20, 1e-9);
    }
    plistFree(a);
    plistFree(b);
    // A lone link point between cut points of b becomes the middle of its neighbours.
    a = ray(0, 6, 1);
    b = polarList(
        {{0, 10, 0.1, 0, 2}, {1, 11, 0.1, 0, 0}, {2, 40, 0.5, 0, 2}, {3, 13, 0.1, 0, 0}, {4, 14, 0.1, 0, 0}});
    ASSERT_EQ(linkPathEnds(a, b), 1);
    EXPECT_NEAR(std::hypot(b->points[2].x, b->points[2].y), 12 * std::cos(0.0), 1e-9);
    EXPECT_NEAR(angleOf(b->points[2]), 0.1, 1e-9);
    EXPECT_EQ(b->flags[2] >> 8, 0);
    plistFree(a);
    plistFree(b);
}

TEST(PathLink, RandomLeadInsTurnAboutTheAxisToACommonEnd) {
    rngResetState();
    for (int trial = 0; trial < 30; ++trial) {
        const double base = uni(-3, 3), gap = uni(0.05, 0.4);
        std::vector<Polar> pa, pb;
        const int lead = 1 + static_cast<int>(rngBelow(3));
        for (int i = 0; i < 8; ++i) {
            pa.push_back({double(i), 15 + i + uni(0, 0.5), base - uni(0, 0.05) - (i < lead ? 0.3 : 0),
                          uni(0, 2), i < lead ? 2 : 0});
            pb.push_back({double(i), 15 + i + uni(0, 0.5), base + gap + (i < lead ? 0.3 : 0), uni(0, 2),
                          i < lead ? 2 : 0});
        }
        Plist *a = polarList(pa), *b = polarList(pb);
        Plist *a0 = polarList(pa), *b0 = polarList(pb);
        ASSERT_EQ(linkPathEnds(a, b), 1);
        const int e = lead - 1;
        EXPECT_NEAR(dist3D(&a->points[e], &b->points[e]), 0, 1e-9);
        for (auto [l, l0] : {std::pair{a, a0}, std::pair{b, b0}}) {
            for (int i = 0; i < e; ++i) {  // turned about z: radius and height kept
                EXPECT_NEAR(std::hypot(l->points[i].x, l->points[i].y),
                            std::hypot(l0->points[i].x, l0->points[i].y), 1e-9);
                EXPECT_NEAR(l->points[i].z, l0->points[i].z, 1e-12);
            }
            for (int i = e + 2; i < 8; ++i) EXPECT_EQ(l->points[i].x, l0->points[i].x);
        }
        for (Plist* l : {a, b, a0, b0}) plistFree(l);
    }
}
