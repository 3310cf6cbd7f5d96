#include "plunge/cornerround.h"

#include <gtest/gtest.h>

#include <cmath>

#include "geometry/curve3d.h"
#include "geometry/plist.h"
#include "geometry/seg3d.h"
#include "kernel/base/rng.h"
#include "memshort.h"

namespace {

// Two straight legs meeting at the origin with a turn of turnDeg, sampled every step.
Plist* bentPath(double turnDeg, double legIn, double legOut, double step) {
    const double a = turnDeg * M_PI / 180;
    Plist* l = plistCreate(4000, 1);
    double t = 0;
    for (double s = -legIn; s <= legOut + 1e-9; s += step, t += step) {
        const Vec3 p = s < -1e-9 ? Vec3{s, 0, 0} : Vec3{s * std::cos(a), s * std::sin(a), 0};
        plistAppend(l, t, &p, 0, nullptr, 0);
    }
    return l;
}

double maxTurn(const Plist* p) {
    double m = 0;
    for (int32_t i = 1; i + 1 < p->count; ++i)
        m = std::max(m, turnAngleDeg(&p->points[i - 1], &p->points[i], &p->points[i + 1]));
    return m;
}

}  // namespace

TEST(CornerRound, TurnAnglesCornersAndStraightPaths) {
    const Vec3 o{0, 0, 0}, x{1, 0, 0};
    // The rounding refines the shared chord test only while it runs: a chord bent by 0.001 over 2
    // (cross product 4e-6 squared) is judged alike before the first rounding and after the last.
    const Vec3 bent{2, 0.002, 0};
    const int chord = approxChordOk(&o, &x, &bent, 0.0, nullptr);
    const Vec3 next[] = {{2, 0, 0}, {1, 1, 0}, {0, 0, 0}, {1, 0, 1e-6}, {2, 0, 1}};
    const double deg[] = {0, 90, 180, 0, 45};
    for (int i = 0; i < 5; ++i) EXPECT_NEAR(turnAngleDeg(&o, &x, &next[i]), deg[i], 1e-9);
    Plist* p = bentPath(60, 3, 3, 1);
    EXPECT_EQ(findCorner(p, 0, 60 - 1e-9), 3);
    EXPECT_EQ(findCorner(p, 4, 30), -1);
    plistFree(p);
    p = bentPath(60, 3, 1, 1);  // the corner at the last inner point
    EXPECT_EQ(findCorner(p, 0, 60 - 1e-9), 3);
    plistFree(p);
    p = bentPath(0, 5, 5, 0.5);
    const int32_t n = p->count;
    p->flags[3] = static_cast<uint16_t>(3 << 8);
    EXPECT_EQ(plistProcessRuns(p, 30, 0.2), 0);
    EXPECT_EQ(p->count, n);
    for (int32_t i = 0; i < n; ++i) EXPECT_NE(p->flags[i] >> 8, 3);
    plistFree(p);
    p = bentPath(90, 0.01, 4, 0.01);  // fillet ends would fall before the path's start: left sharp
    EXPECT_EQ(filletCorner(1, p, 0.5), -1);
    EXPECT_EQ(plistProcessRuns(p, 45, 0.5), 1);
    EXPECT_EQ(approxChordOk(&o, &x, &bent, 0.0, nullptr), chord);
    EXPECT_NEAR(maxTurn(p), 90, 1e-6);
    plistFree(p);
    // The fillet of tol 0.1 ends 0.15 from the corner: points 5e-5 beyond are not taken for its ends.
    p = bentPath(90, 1, 1, 1);
    const Vec3 beyond[] = {{-0.15005, 0, 0}, {0, 0.15005, 0}};
    plistInsert(p, 0.84995, &beyond[0], 0, nullptr, 0);
    plistInsert(p, 1.15005, &beyond[1], 0, nullptr, 0);
    EXPECT_EQ(filletCorner(2, p, 0.1), 1);
    EXPECT_EQ(p->count, 7);
    plistFree(p);
}

TEST(CornerRound, RandomCornersAreRoundedWithinTheTolerance) {
    rngResetState();
    for (int trial = 0; trial < 12; ++trial) {
        const double turn = 40 + 100 * rngUniform(), tol = 0.05 + 0.3 * rngUniform();
        Plist *p = bentPath(turn, 4, 4, 0.5), *original = bentPath(turn, 4, 4, 0.5);
        EXPECT_GE(plistProcessRuns(p, 30, tol), 1);  // the transition's own polygon may be rounded again
        EXPECT_LT(maxTurn(p), turn * 0.75);
        const Vec3 corner{0, 0, 0};
        double nearest = 1e300;
        for (int32_t i = 0; i < p->count; ++i) {
            EXPECT_LE(nearestOnPolyline3D(original->points, original->count, &p->points[i], nullptr, nullptr),
                      1.5 * tol + 1e-6);
            nearest = std::min(nearest, dist3D(&p->points[i], &corner));
            EXPECT_TRUE(i == 0 || p->parameters[i] > p->parameters[i - 1]);
        }
        EXPECT_GT(nearest, 1e-3);  // the corner itself is cut
        EXPECT_LE(nearest, 1.5 * tol + 1e-6);
        plistFree(p);
        plistFree(original);
    }
}

// A round obstacle inside the bend, clear of both legs, at a random distance from the corner: the corner
// is rounded as without the obstacle when every rounded point keeps out of it, else left sharp with
// every point on the old legs. Whatever the transitions' own corners do, no point ever enters it.
TEST(CornerRound, GuardLeavesSharpACornerWhoseRoundingEntersAnObstacle) {
    struct Obstacle {
        Vec3 centre;
        double radius;
    };
    const auto clear = [](const Vec3* q, const void* o) {
        const Obstacle* ob = static_cast<const Obstacle*>(o);
        return dist3D(q, &ob->centre) >= ob->radius ? 1 : 0;
    };
    rngResetState();
    int kept = 0, rounded = 0;
    for (int trial = 0; trial < 16; ++trial) {
        const double turn = 40 + 100 * rngUniform(), tol = 0.05 + 0.3 * rngUniform();
        // The bisector into the bend, between the legs' directions (-1, 0, 0) and (cos a, sin a, 0), makes
        // the angle half with either.
        const double a = turn * M_PI / 180, half = 0.5 * (M_PI - a), d = tol * (1 + 2 * rngUniform());
        const Obstacle ob{{d * std::cos(half + a), d * std::sin(half + a), 0},
                          std::min(0.999 * d * std::sin(half), d - 0.6 * tol * rngUniform())};
        const CornerGuard guard{clear, &ob};
        Plist* whole = bentPath(turn, 4, 4, 0.5);
        plistProcessRuns(whole, 30, tol, &guard);
        for (int32_t i = 0; i < whole->count; ++i)
            EXPECT_TRUE(clear(&whole->points[i], &ob)) << trial << " " << i;
        plistFree(whole);
        Plist *p = bentPath(turn, 4, 4, 0.5), *free = bentPath(turn, 4, 4, 0.5),
              *original = bentPath(turn, 4, 4, 0.5);
        int32_t before = 0, after = 0;
        const int32_t c = refineAroundCorner(p, 8, 2 * tol, 0.05 * tol, &before, &after);
        ASSERT_EQ(refineAroundCorner(free, 8, 2 * tol, 0.05 * tol, &before, &after), c);
        ASSERT_EQ(filletCorner(c, free, tol), 1);
        bool freeClear = true, onLegs = true;
        for (int32_t i = 0; i < free->count; ++i) freeClear = freeClear && clear(&free->points[i], &ob);
        EXPECT_EQ(filletCorner(c, p, tol, &guard), freeClear ? 1 : -1) << trial;
        for (int32_t i = 0; i < p->count; ++i)
            onLegs = onLegs && nearestOnPolyline3D(original->points, original->count, &p->points[i], nullptr,
                                                   nullptr) < 1e-6;  // split points: parameter rounding
        if (freeClear) {
            ASSERT_EQ(p->count, free->count) << trial;
            for (int32_t i = 0; i < p->count; ++i)
                EXPECT_EQ(dist3D(&p->points[i], &free->points[i]), 0.0) << trial;
            ++rounded;
        } else {
            EXPECT_TRUE(onLegs) << trial;
            EXPECT_NEAR(maxTurn(p), turn, 1e-6) << trial;
            ++kept;
        }
        plistFree(p);
        plistFree(free);
        plistFree(original);
    }
    EXPECT_GT(kept, 3) << rounded;
    EXPECT_GT(rounded, 3) << kept;
}

// A leg that is long in space but short in parameter (a jump to a far link point) cannot be divided
// finer than the list's parameter resolution: whatever is rounded, the parameters stay ascending.
TEST(CornerRound, ParameterOrderSurvivesALegShortInParameter) {
    const struct { double jump, gap; } cases[] = {{80, 0.0078}, {30, 0.001}, {5, 0.0001}};
    for (const auto& c : cases) {
        Plist* p = bentPath(90, 4, 0, 0.5);
        ASSERT_NE(p, nullptr);
        const Vec3 far{0, c.jump, 0};
        plistAppend(p, p->parameters[p->count - 1] + c.gap, &far, static_cast<uint16_t>(2 << 8), nullptr, 0);
        plistProcessRuns(p, 30, 1.0);
        for (int32_t i = 1; i < p->count; ++i)
            EXPECT_GT(p->parameters[i], p->parameters[i - 1]) << c.jump << " " << i;
        plistFree(p);
    }
}

// Every segment that starts within the range of the corner, on either side, ends up no longer than the
// step; the inserted points lie on the old legs, the corner point keeps its place on the path.
TEST(CornerRound, RefinementCoversTheRangeOnBothSides) {
    const struct {
        double range, step;
        int32_t before, after;  // points inserted
    } cases[] = {{2.0, 0.3, 9, 9}, {0.5, 0.3, 3, 3}, {2.5, 0.45, 6, 6}, {9.0, 0.6, 5, 5}};
    for (const auto& c : cases) {
        Plist* p = bentPath(70, 5, 5, 1.0);  // the corner at index 5
        ASSERT_NE(p, nullptr);
        int32_t before = -1, after = -1;
        const int32_t corner = refineAroundCorner(p, 5, c.range, c.step, &before, &after);
        EXPECT_EQ(before, c.before) << c.range;
        EXPECT_EQ(after, c.after) << c.range;
        ASSERT_EQ(corner, 5 + before);
        const Vec3 origin{0, 0, 0};
        EXPECT_NEAR(dist3D(&p->points[corner], &origin), 0.0, 1e-12);
        EXPECT_EQ(p->count, 11 + before + after);
        double acc = 0;
        for (int32_t i = corner; i > 0; --i) {
            const double len = dist3D(&p->points[i - 1], &p->points[i]);
            if (acc < c.range) {
                EXPECT_LE(len, c.step + 1e-5) << c.range << " before " << i;
            }
            EXPECT_NEAR(p->points[i - 1].y, 0.0, 1e-12);
            acc += len;
        }
        acc = 0;
        for (int32_t i = corner; i + 1 < p->count; ++i) {
            const double len = dist3D(&p->points[i], &p->points[i + 1]);
            if (acc < c.range) {
                EXPECT_LE(len, c.step + 1e-5) << c.range << " after " << i;
            }
            EXPECT_NEAR(p->points[i + 1].y, std::tan(70 * M_PI / 180) * p->points[i + 1].x, 1e-9);
            acc += len;
        }
        plistFree(p);
    }
    int32_t before = 0, after = 0;
    // A segment after the corner shorter than the step must not hide the long one behind it.
    Plist* s = plistCreate(40, 0);
    const Vec3 legs[4] = {{-1, 0, 0}, {0, 0, 0}, {0, 0.1, 0}, {0, 1.1, 0}};
    for (int i = 0; i < 4; ++i) plistAppend(s, i, &legs[i], 0, nullptr, 0);
    EXPECT_EQ(refineAroundCorner(s, 1, 2, 0.3, &before, &after), 4);
    EXPECT_EQ(after, 3);  // the 1.0 leg cut in ceil(1.0 / 0.3) parts
    plistFree(s);
    // A leg only 5e-5 longer than the step is still cut: the step holds to within 1e-5.
    Plist* e = plistCreate(8, 0);
    const Vec3 ends[2] = {{0, 0, 0}, {1.00005, 0, 0}};
    for (int i = 0; i < 2; ++i) plistAppend(e, i, &ends[i], 0, nullptr, 0);
    EXPECT_EQ(refineAroundCorner(e, 0, 10, 1.0, &before, &after), 0);
    EXPECT_EQ(after, 1);
    EXPECT_EQ(e->count, 3);
    for (int i = 0; i < 2; ++i) EXPECT_LE(dist3D(&e->points[i], &e->points[i + 1]), 1.0 + 1e-5) << i;
    plistFree(e);
    EXPECT_EQ(refineAroundCorner(nullptr, 1, 1, 1, &before, &after), -1);
    Plist* p = bentPath(70, 2, 2, 1.0);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(refineAroundCorner(p, 1, 1, 0.0, &before, &after), -1);
    EXPECT_EQ(refineAroundCorner(p, p->count, 1, 0.5, &before, &after), -1);
    // A leg 3e-5 long in parameter cannot take ten points between its ends, on either side.
    for (const double t0 : {1 - 3e-5, 0.0}) {
        Plist* q = plistCreate(40, 0);
        const Vec3 pts[3] = {{-1, 0, 0}, {0, 0, 0}, {0, 1, 0}};
        for (int i = 0; i < 3; ++i)
            plistAppend(q, i == 0 ? t0 : i == 1 ? 1 : t0 + 1 + 3e-5, &pts[i], 0, nullptr, 0);
        ASSERT_EQ(q->count, 3);
        EXPECT_EQ(refineAroundCorner(q, 1, 2, 0.1, &before, &after), -1) << t0;
        plistFree(q);
    }
    // A fillet needs a corner with a point on either side and a tolerance of 1e-5 or more.
    for (const int32_t at : {0, 4}) EXPECT_EQ(filletCorner(at, p, 0.5), -1) << at;
    EXPECT_EQ(filletCorner(2, p, 5e-6), -1);
    EXPECT_EQ(filletCorner(2, nullptr, 0.5), -1);
    EXPECT_EQ(plistProcessRuns(nullptr, 30, 0.5), 0);
    plistFree(p);
}

// Distances are walked along the path's own segments, however unevenly it is sampled; a split vertex
// is a link when a neighbour is one, the next one first.
TEST(CornerRound, DistancesAlongUnevenSegmentsAndKindsOfSplitVertices) {
    Plist* p = plistCreate(8, 0);
    ASSERT_NE(p, nullptr);
    for (const double x : {0.0, 1.0, 3.0, 6.0, 10.0}) {
        const Vec3 q{x, 0, 0};
        plistAppend(p, 2 * x, &q, 0, nullptr, 0);  // parameters twice the length
    }
    const struct {
        int32_t corner;
        double d, before, after;  // x of the points at distance d
    } cases[] = {{2, 1.5, 1.5, 4.5}, {2, 2.5, 0.5, 5.5}, {3, 4.0, 2.0, 10.0}, {1, 0.25, 0.75, 1.25}};
    for (const auto& c : cases) {
        double t1 = -1, t2 = -1;
        ASSERT_EQ(pathPointsAtDistance(p, c.corner, c.d, &t1, &t2), 1) << c.corner << " " << c.d;
        EXPECT_NEAR(t1, 2 * c.before, 1e-12) << c.corner << " " << c.d;
        EXPECT_NEAR(t2, 2 * c.after, 1e-12) << c.corner << " " << c.d;
    }
    double t1 = 0, t2 = 0;
    EXPECT_EQ(pathPointsAtDistance(p, 1, 1.5, &t1, &t2), -1);  // past the start
    EXPECT_EQ(pathPointsAtDistance(p, 3, 4.5, &t1, &t2), -1);  // past the end
    for (const int32_t at : {-1, 5}) EXPECT_EQ(pathPointsAtDistance(p, at, 0.5, &t1, &t2), -1) << at;
    EXPECT_EQ(pathPointsAtDistance(nullptr, 1, 0.5, &t1, &t2), -1);
    // Kinds of the points around vertex 2 (previous, next), and the kind it takes.
    const int kinds[][3] = {{0, 0, 0}, {2, 0, 2}, {0, 2, 2}, {3, 3, 0}, {2, 2, 2}, {3, 2, 2}};
    for (const auto& k : kinds) {
        for (int32_t i = 0; i < p->count; ++i) p->flags[i] = static_cast<uint16_t>(3 << 8 | 7);
        p->flags[1] = static_cast<uint16_t>(k[0] << 8);
        p->flags[3] = static_cast<uint16_t>(k[1] << 8);
        setSplitKind(2, p);
        EXPECT_EQ(p->flags[2] >> 8, k[2]) << k[0] << " " << k[1];
    }
    // The first and last vertex look at their one neighbour.
    p->flags[1] = static_cast<uint16_t>(2 << 8);
    p->flags[3] = 0;
    setSplitKind(0, p);
    setSplitKind(4, p);
    EXPECT_EQ(p->flags[0] >> 8, 2);
    EXPECT_EQ(p->flags[4] >> 8, 0);
    setSplitKind(5, p);  // outside: nothing to do
    plistFree(p);
    // A fillet of tolerance 0.4 reaches 0.6 along both legs: an incoming leg just that long would put
    // its first vertex on the path's first point, and the corner stays sharp.
    Plist* sharp = plistCreate(8, 0);
    ASSERT_NE(sharp, nullptr);
    double t = 0;
    for (const Vec3& q : {Vec3{-0.6 - 1e-9, 0, 0}, Vec3{0, 0, 0}, Vec3{0, 2, 0}, Vec3{0, 4, 0}}) {
        if (sharp->count > 0) t += dist3D(&sharp->points[sharp->count - 1], &q);
        plistAppend(sharp, t, &q, 0, nullptr, 0);
    }
    EXPECT_EQ(filletCorner(1, sharp, 0.4), -1);
    EXPECT_NEAR(maxTurn(sharp), 90, 1e-9);
    plistFree(sharp);
    // With a longer incoming leg the corner is rounded, and the answer says so. The fillet leaves along
    // its legs, whatever the path does beyond them: symmetric, its middle (the corner moved) lies on
    // the bisector.
    Plist* round = plistCreate(8, 0);
    t = 0;
    for (const Vec3& q : {Vec3{-2, 0, 0}, Vec3{0, 0, 0}, Vec3{0, 2, 0}, Vec3{3, 4, 0}}) {
        if (round->count > 0) t += dist3D(&round->points[round->count - 1], &q);
        plistAppend(round, t, &q, 0, nullptr, 0);
    }
    EXPECT_EQ(filletCorner(1, round, 0.4), 1);
    ASSERT_EQ(round->count, 6);
    EXPECT_NEAR(round->points[1].x, -0.6, 1e-9);
    EXPECT_NEAR(round->points[3].y, 0.6, 1e-9);
    EXPECT_NEAR(round->points[2].x + round->points[2].y, 0.0, 1e-6);
    EXPECT_LT(round->points[2].x, -0.05);
    round->count = 5;               // the bend beyond the fillet aside
    EXPECT_LT(maxTurn(round), 60);  // the 90 degree turn is spread over the fillet
    plistFree(round);
}

// The rounded points take the kind of the split points at the fillet's ends: a link when either leg
// is one, else an ordinary point, whatever other kind the legs had.
TEST(CornerRound, FilletPointsTakeTheKindOfItsEnds) {
    const int kinds[] = {0, 1, 2};
    for (const int in : kinds)
        for (const int out : kinds) {
            Plist* p = bentPath(90, 4, 4, 0.5);
            ASSERT_NE(p, nullptr);
            for (int32_t i = 0; i < p->count; ++i)
                p->flags[i] = static_cast<uint16_t>((p->points[i].y > 1e-9 ? out : in) << 8);
            int32_t before = 0, after = 0;
            const int32_t c = refineAroundCorner(p, 8, 0.6, 0.015, &before, &after);
            ASSERT_GE(c, 0);
            ASSERT_EQ(filletCorner(c, p, 0.3), 1) << in << " " << out;
            const int want = in == 2 || out == 2 ? 2 : 0;
            int moved = 0;
            for (int32_t i = 0; i < p->count; ++i) {
                const Vec3& q = p->points[i];
                // Off both legs (x < 0 on the first, y > 0 on the second): a rounded point.
                if (std::fabs(q.y) < 1e-9 || std::fabs(q.x) < 1e-9) continue;
                ++moved;
                EXPECT_EQ(p->flags[i] >> 8, want) << in << " " << out << " " << i;
            }
            EXPECT_GT(moved, 5) << in << " " << out;
            plistFree(p);
        }
}

// Short of memory anywhere in a fillet: the corner left sharp (-1), or rounded as with all of it.
TEST(CornerRound, EveryFailedAllocationLeavesTheCornerSharpOrRoundsItTheSame) {
    failEachAllocation("fillet", []() -> AllocMade {
        Plist* p = bentPath(90, 1, 1, 0.25);
        AllocMade made;
        if (p && filletCorner(4, p, 0.1) == 1) {
            made.emplace();
            for (int32_t i = 0; i < p->count; ++i)
                made->insert(made->end(),
                             {p->points[i].x, p->points[i].y, p->parameters[i], double(p->flags[i])});
        }
        plistFree(p);
        return made;
    });
}
