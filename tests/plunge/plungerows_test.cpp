#include "plunge/plungerows.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "channeltest.h"
#include "geometry/plist.h"
#include "plunge/cutlist.h"
#include "plunge/cycparams.h"
#include "plunge/hubshroud.h"
#include "plunge/pathspace.h"
#include "plunge/profile2d.h"

namespace {

double polar(const Vec3& p) {
    return std::atan2(p.y, p.x);
}

// Start profile from (5, z) to (200, z + rise).
Profile2D* flatStart(double z, double rise = 0) {
    Profile2D* p = newProfile2D(2);
    p->points[0] = {5, z};
    p->points[1] = {200, z + rise};
    p->count = 2;
    recomputeProfile2DParams(p);
    return p;
}

// A side list along the radius at a fixed angle on the plane z = 0, vertical axes, parameter
// t = radius - 10 for t in [t0, t1]; `lead` first points are links, bytes 1 on the cut points.
Plist* radial(double angle, double t0 = 0, double t1 = 20, int lead = 0) {
    Plist* l = plistCreate(128, 1);
    const Vec3 up{0, 0, 1};
    int i = 0;
    for (double t = t0; t <= t1 + 1e-9; t += 1, ++i) {
        const Vec3 p{(10 + t) * std::cos(angle), (10 + t) * std::sin(angle), 0};
        const bool link = i < lead;
        plistAppend(l, t, &p, static_cast<uint16_t>((link ? 2 : 0) << 8), &up, link ? 0 : 1);
    }
    return l;
}

struct Sides {
    PlistArray* array;
    explicit Sides(std::vector<Plist*> lists) : array(plistArrayCreate(4)) {
        for (Plist* l : lists) {
            plistArrayAdd(array, l);
            plistFree(l);
        }
    }
    Sides(const Sides&) = delete;
    ~Sides() { plistArrayFree(array); }
};

Sides plainSides() {
    return Sides({radial(-0.3, 0, 20, 2), plistCreate(4, 1), plistCreate(4, 1), radial(0.3)});
}

// Largest distance from samples of the cut lines of a to the nearest cut line of b.
double bruteGap(const CutRecordList* a, const CutRecordList* b) {
    double worst = 0;
    for (int32_t i = 0; i < a->count; ++i)
        for (int k = 0; k <= 20; ++k) {
            const CutRecord& c = a->records[i];
            const double f = k / 20.0;
            const Vec3 x{c.top.x + f * (c.bottom.x - c.top.x), c.top.y + f * (c.bottom.y - c.top.y),
                         c.top.z + f * (c.bottom.z - c.top.z)};
            double best = 1e300;
            for (int32_t j = 0; j < b->count; ++j) {
                const Vec3 &s = b->records[j].top, &e = b->records[j].bottom;
                const Vec3 d{e.x - s.x, e.y - s.y, e.z - s.z}, w{x.x - s.x, x.y - s.y, x.z - s.z};
                const double h = vecDot3D(&w, &d) / vecDot3D(&d, &d);
                const Vec3 foot{s.x + h * d.x, s.y + h * d.y, s.z + h * d.z};
                best = std::min(best, dist3D(&x, &foot));
            }
            worst = std::max(worst, best);
        }
    return worst;
}

struct ProfileFree {
    void operator()(Profile2D* p) const { freeProfile2D(p); }
};
struct SetFree {
    void operator()(CutListSet* s) const { cutListSetFree(s); }
};

}  // namespace

TEST(PlungeRows, ArcSegmentCountAndEnds) {
    struct Case {
        double r, phi, precision;
        int points;  // expected, 0: closed form
    } cases[] = {{10, 0.5, 0.01, 0},
                 {10, -1.0, 0.1, 0},
                 {40, 2.0, 0.001, 0},
                 {1e-6, 1.0, 0.01, 2},
                 {10, 0.5, 25, 2},
                 {10, 0.5, 0, kRowArcMaxSegments + 1},
                 {10, 0.5, -1, kRowArcMaxSegments + 1}};
    for (const Case& c : cases) {
        cycleParamsResetState();
        cycleParams()->precision = c.precision;
        Plist* row = plistCreate(8000, 1);
        const Vec3 from{c.r, 0, 2}, to{c.r * std::cos(c.phi), c.r * std::sin(c.phi), 2};
        const Vec3 a{0, 0, 1}, b{0, 1, 0};
        ASSERT_EQ(rowArc(&from, &a, &to, &b, row), 1);
        const int expected =
            c.points ? c.points : int(std::fabs(c.phi) / (2 * std::acos((c.r - c.precision) / c.r))) + 2;
        EXPECT_EQ(row->count, expected) << c.r << " " << c.precision;
        double chord = 0;
        for (int32_t i = 0; i < row->count; ++i) {
            EXPECT_NEAR(std::hypot(row->points[i].x, row->points[i].y), c.r, 1e-9);
            if (i > 0) chord += dist3D(&row->points[i - 1], &row->points[i]);
        }
        EXPECT_NEAR(row->parameters[row->count - 1], chord, 1e-9);
        EXPECT_NEAR(polar(row->points[row->count - 1]) - polar(row->points[0]), c.r < 1e-5 ? 0 : c.phi, 1e-9);
        EXPECT_NEAR(row->vectors[0].z, 1, 1e-12);
        EXPECT_NEAR(row->vectors[row->count - 1].y, 1, 1e-9);
        plistFree(row);
    }
    cycleParamsResetState();
}

TEST(PlungeRows, RowAtParamSplitsWhereTheInnerListsCut) {
    cycleParamsResetState();
    Plist *a = plistCreate(4000, 1), *b = plistCreate(4000, 1);
    Sides plain = plainSides();
    EXPECT_EQ(rowAtParam(a, b, plain.array, 5), 1);
    EXPECT_NEAR(polar(a->points[0]), -0.3, 1e-9);
    EXPECT_NEAR(polar(a->points[a->count - 1]), 0.3, 1e-9);
    EXPECT_EQ(b->count, 0);
    EXPECT_EQ(rowAtParam(a, b, plain.array, 25), -1);
    // Inner lists cut from parameter 8 on: split there, one piece before.
    Sides split({radial(-0.3), radial(-0.05, 0, 20, 8), radial(0.05, 0, 20, 8), radial(0.3)});
    EXPECT_EQ(rowAtParam(a, b, split.array, 4), 1);
    ASSERT_EQ(rowAtParam(a, b, split.array, 12), 2);
    EXPECT_NEAR(polar(a->points[a->count - 1]), -0.05, 1e-9);
    EXPECT_NEAR(polar(b->points[0]), 0.05, 1e-9);
    EXPECT_NEAR(polar(b->points[b->count - 1]), 0.3, 1e-9);
    plistFree(a);
    plistFree(b);
}

TEST(PlungeRows, RowCutsStationsAndDirection) {
    cycleParamsResetState();
    std::unique_ptr<Profile2D, ProfileFree> start(flatStart(5));
    const Vec3 up{0, 0, 1}, back{-0.8, 0, 0.6}, along{0.8, 0, 0.6};
    for (int uniform : {0, 1})
        for (double step : {0.7, 1.3}) {
            Plist* row = plistCreate(4000, 1);
            const Vec3 from{20, 0, 0}, to{20 * std::cos(0.4), 20 * std::sin(0.4), 0};
            ASSERT_EQ(rowArc(&from, &up, &to, &up, row), 1);
            CutRecordList* cuts = rowCuts(start.get(), row, step, uniform);
            ASSERT_NE(cuts, nullptr);
            const double length = row->parameters[row->count - 1];
            const int n = int(length / step) + 1;
            ASSERT_EQ(cuts->count, n + 1);
            for (int k = 0; k <= n; ++k) {
                const double s = std::min(1.0, uniform ? double(k) / n : k * step / length) * length;
                Vec3 p;
                plistPointAtParam(row, s, &p);
                EXPECT_NEAR(dist3D(&cuts->records[k].bottom, &p), 0, 1e-9);
                EXPECT_NEAR(cuts->records[k].top.z, 5, 1e-6);
                EXPECT_NEAR(std::hypot(cuts->records[k].top.x - p.x, cuts->records[k].top.y - p.y), 0, 1e-6);
                EXPECT_EQ(cuts->records[k].kind, k == 0 || k == n ? 1 : 0);
            }
            idx5CutListFree(cuts);
            plistFree(row);
        }
    // An axis leaning back against the row's start stores the row in reverse; leaning forward not.
    for (const Vec3* axis : {&back, &along}) {
        Plist* row = plistCreate(16, 1);
        for (int i = 0; i <= 4; ++i) {
            const Vec3 p{20.0 + i, 0, 0};
            plistAppend(row, i, &p, 0, axis, 1);
        }
        std::unique_ptr<Profile2D, ProfileFree> slope(flatStart(20, -40));
        CutRecordList* cuts = rowCuts(slope.get(), row, 1, 1);
        ASSERT_NE(cuts, nullptr);
        ASSERT_EQ(cuts->count, 6);
        EXPECT_NEAR(cuts->records[0].bottom.x, axis == &back ? 24 : 20, 1e-9);
        idx5CutListFree(cuts);
        row->count = 1;
        EXPECT_EQ(rowCuts(start.get(), row, 1, 1), nullptr);
        plistFree(row);
    }
}

TEST(PlungeRows, RowsAcrossARadialChannelKeepTheStep) {
    std::unique_ptr<Profile2D, ProfileFree> start(flatStart(5));
    struct Case {
        bool split;
        double isoStart, isoEnd, g;
        int entry;
    } cases[] = {{false, 0, 1, 2, 0}, {false, 0.25, 0.75, 1.5, 0}, {true, 0, 1, 2, 0}, {false, 0, 1, 2, 1}};
    for (const Case& c : cases) {
        cycleParamsResetState();
        cycleParams()->isoStart = c.isoStart;
        cycleParams()->isoEnd = c.isoEnd;
        cycleParams()->entryPos = static_cast<int16_t>(c.entry);
        cycleParams()->tCutwidth = 1.25 * c.g;  // the secant search closes in on g from above
        Sides sides = c.split ? Sides({radial(-0.3, 0, 20, 2), radial(-0.05, 0, 20, 8),
                                       radial(0.05, 0, 20, 8), radial(0.3, 0, 20)})
                              : plainSides();
        std::unique_ptr<CutListSet, SetFree> set(buildPlungeRows(sides.array, sides.array, start.get(), c.g));
        ASSERT_TRUE(set);
        ASSERT_GT(set->count, 2);
        // Common cut range [2, 20] (or [8, 20]) cut to the window; the first row at the window's start.
        const double tA = c.split ? 8 : 2, tB = 20;
        const double lo = tA + c.isoStart * (tB - tA), hi = tB - (1 - c.isoEnd) * (tB - tA);
        EXPECT_NEAR(set->values[0], c.entry == 1 ? hi : lo, 1e-9);
        bool sawSplit = false;
        for (int32_t i = 0; i < set->count; ++i) {
            EXPECT_GE(set->values[i], lo - 1e-9);
            EXPECT_LE(set->values[i], hi + 1e-9);
            sawSplit |= set->keys[i] == 2;
            int32_t j = -1;
            for (int32_t k = i - 1; k >= 0 && j < 0; --k)
                if (set->keys[k] == 0 || set->keys[i] == 0 || set->keys[k] == set->keys[i]) j = k;
            if (j >= 0 && set->values[j] != set->values[i]) {
                EXPECT_LT(bruteGap(set->lists[i], set->lists[j]), 1.25 * c.g + 1e-6) << i;
            }
        }
        EXPECT_EQ(sawSplit, c.split);
    }
    cycleParamsResetState();
}

TEST(PlungeRows, RowBetweenNeedsTwoRowsAndAWholeRow) {
    cycleParamsResetState();
    std::unique_ptr<Profile2D, ProfileFree> start(flatStart(5));
    Sides split({radial(-0.3), radial(-0.05, 0, 20, 8), radial(0.05, 0, 20, 8), radial(0.3)});
    std::unique_ptr<CutListSet, SetFree> set(cutListSetCreate(8));
    EXPECT_EQ(rowBetween(set.get(), split.array, start.get(), 1, 2, 4), -1);
    double t = 2;
    ASSERT_EQ(nextPlungeRow(set.get(), split.array, start.get(), 1, 2, &t), 1);
    t = 3.5;
    ASSERT_EQ(nextPlungeRow(set.get(), split.array, start.get(), 1, 2, &t), 1);
    EXPECT_EQ(rowBetween(set.get(), split.array, start.get(), 1, 2, 12), -1);
    EXPECT_EQ(rowBetween(set.get(), split.array, start.get(), 1, 0, 3), -1);
    const int32_t before = set->count;
    EXPECT_EQ(rowBetween(set.get(), split.array, start.get(), 1, 2, 3), 1);
    EXPECT_EQ(set->count, before + 1);
    EXPECT_EQ(rebuildLastRow(start.get(), set.get(), set->count - 1, split.array, 0.5), 1);
    std::unique_ptr<CutListSet, SetFree> empty(cutListSetCreate(8));
    EXPECT_EQ(rebuildLastRow(start.get(), empty.get(), 0, split.array, 0.5), -1);
}

TEST(PlungeRows, ExampleImpellerRowsStayInTheSectorAndWithinTheStepover) {
    cycleParamsResetState();
    HubShroud* pair = exampleChannel();
    ASSERT_NE(pair, nullptr);
    // Side lists on the hub turning along the channel like wrapped blade walls, a blade pitch of an
    // eighth of a turn less a wall on each side; axes from the hub toward the shroud.
    const Profile2D* hub = pair->hub;
    const double length = hub->param[hub->count - 1];
    auto wall = [&](double s) { return 0.6 * s / length; };
    std::vector<Plist*> lists;
    for (double offset : {-0.3, 0.3}) {
        Plist* l = plistCreate(256, 1);
        for (int i = 0; i <= 100; ++i) {
            const double s = length * i / 100;
            Vec2 h, sh;
            evalHubShroud(pair, s / length * (pair->hub->param[hub->count - 1]), &h, &sh);
            Vec3 p, top;
            meridianToWorld(&h, wall(s) + offset, &p);
            meridianToWorld(&sh, wall(s) + offset, &top);
            Vec3 axis{top.x - p.x, top.y - p.y, top.z - p.z};
            vecNormalize3D(&axis, &axis);
            plistAppend(l, s, &p, 0, &axis, 1);
        }
        lists.push_back(l);
    }
    Sides sides({lists[0], plistCreate(4, 1), plistCreate(4, 1), lists[1]});
    std::unique_ptr<Profile2D, ProfileFree> start(copyProfile2D(pair->shroud));
    // Rows aimed below the stepover, accepted within it.
    const double step = cycleParams()->horizustel;
    cycleParams()->tCutwidth = step;
    std::unique_ptr<CutListSet, SetFree> set(
        buildPlungeRows(sides.array, sides.array, start.get(), 0.8 * step));
    ASSERT_TRUE(set);
    ASSERT_GT(set->count, 5);
    for (int32_t i = 0; i < set->count; ++i) {
        for (int32_t k = 0; k < set->lists[i]->count; ++k) {
            const Vec3& b = set->lists[i]->records[k].bottom;
            Vec3 p0, p3;
            ASSERT_GE(plistPointAtParam(sides.array->lists[0], set->values[i], &p0), 0);
            ASSERT_GE(plistPointAtParam(sides.array->lists[3], set->values[i], &p3), 0);
            EXPECT_GE(pathSignedAngle(&p0, &b), -1e-6);
            EXPECT_GE(pathSignedAngle(&b, &p3), -1e-6);
        }
        if (i > 0) {
            EXPECT_LT(bruteGap(set->lists[i], set->lists[i - 1]), step + 1e-6) << i;
        }
    }
    freeHubShroud(pair);
    cycleParamsResetState();
}
