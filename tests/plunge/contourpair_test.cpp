// Blade contour lists and pairs: growth, evaluation, orientation, lengthening and fold trimming.
#include "plunge/contourpair.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "channeltest.h"
#include "geometry/profile.h"
#include "memshort.h"
#include "plunge/cycparams.h"
#include "workfolder.h"

namespace {

constexpr double kDeg = M_PI / 180.0;

Plist3D* listOf(const std::vector<Vec3>& pts) {
    return plist3DFromPoints(pts.data(), static_cast<int32_t>(pts.size()));
}

ProfileCurve* curveOf(const std::vector<Vec3>& pts) {
    const size_t n = pts.size();
    auto* xy = static_cast<Vec2*>(std::malloc(n * sizeof(Vec2)));
    auto* z = static_cast<double*>(std::malloc(n * sizeof(double)));
    ProfileCurve* c = xy && z ? profileCreate(xy, static_cast<int32_t>(n), kProfilePoints) : nullptr;
    if (c == nullptr) {  // memory short
        std::free(xy);
        std::free(z);
        return nullptr;
    }
    for (size_t i = 0; i < n; ++i) xy[i] = {pts[i].x, pts[i].y}, z[i] = pts[i].z;
    c->ownsPoints = 1;
    c->z = z;
    return c;
}

// A pair built by hand (no orientation rules).
ContourPair* pairOf(const std::vector<Vec3>& a, const std::vector<Vec3>& b) {
    auto* p = static_cast<ContourPair*>(std::calloc(1, sizeof(ContourPair)));
    p->first = listOf(a);
    p->second = listOf(b);
    return p;
}

}  // namespace

TEST(ContourPair, ListsGrowFromOneSlotAndEvaluateWithinTheirRange) {
    Plist3D* l = newPlist3D(0);
    ASSERT_NE(l, nullptr);
    EXPECT_EQ(l->capacity, 1);
    const Vec3 pts[] = {{0, 0, 0}, {10, 0, 0}, {10, 0, 0}, {10, 10, 0}};
    for (const Vec3& p : pts) ASSERT_GE(appendPlist3D(l, &p), 0);  // a full list of one slot grows
    ASSERT_EQ(l->count, 4);
    struct Case {
        double s;
        int32_t rc;
        Vec3 p;
    };
    const Case cases[] = {{-1e-6, -1, {}},     {0, 0, {0, 0, 0}},           {5, 0, {5, 0, 0}},
                          {15, 2, {10, 5, 0}}, {20 + 5e-6, 3, {10, 10, 0}}, {20 + 2e-5, -1, {}}};
    for (const Case& c : cases) {
        Vec3 p{};
        EXPECT_EQ(evalPlist3D(l, c.s, &p), c.rc) << c.s;
        if (c.rc >= 0) {
            EXPECT_LT(dist3D(&p, &c.p), 1e-4) << c.s;
        }
    }
    freePlist3D(l);
    ProfileCurve* c = curveOf({{0, 0, 0}, {0, 0, 5e-6}, {3, 4, 0}, {3, 4, 0}, {3, 4, 12}});
    Plist3D* fromCurve = plist3DFromProfileCurve(c);
    ASSERT_NE(fromCurve, nullptr);
    EXPECT_EQ(fromCurve->count, 3);  // repeats within 1e-5 left out
    EXPECT_DOUBLE_EQ(fromCurve->param[2], 17.0);
    freePlist3D(fromCurve);
    profileFreeList(c);
}

TEST(ContourPair, OrientationByRadiusThenHeight) {
    struct Case {
        double lastRadiusFactor, rise;
        int impReverse;
        bool reversed;
    };
    const Case cases[] = {{0.59, 0.0, 0, true},  {0.61, 1.01, 0, true}, {0.61, 0.99, 0, false},
                          {1.50, 0.0, 0, false}, {0.59, 0.0, 1, false}, {1.50, 0.0, 1, true}};
    for (const Case& c : cases) {
        cycleParamsResetState();
        cycleParams()->impReverse = static_cast<int16_t>(c.impReverse);
        const std::vector<Vec3> pts{{20, 0, 10},
                                    {0.5 * (20 + 20 * c.lastRadiusFactor), 1, 10},
                                    {20 * c.lastRadiusFactor, 0, 10 + c.rise}};
        ProfileCurve* a = curveOf(pts);
        ProfileCurve* b = curveOf(pts);
        ContourPair* pair = buildBladeContourPair(a, b);
        ASSERT_NE(pair, nullptr);
        for (const Plist3D* l : {pair->first, pair->second}) {
            EXPECT_DOUBLE_EQ(l->points[0].x, c.reversed ? pts[2].x : pts[0].x) << c.lastRadiusFactor;
            EXPECT_DOUBLE_EQ(l->param[0], 0.0);
        }
        freeContourPair(pair);
        profileFreeList(a);
        profileFreeList(b);
    }
    // Curves of no point or one give lists of as many, with nothing to orient.
    for (const size_t n : {0, 1}) {
        ProfileCurve* a = curveOf(std::vector<Vec3>(n, Vec3{20, 0, 10}));
        ContourPair* pair = buildBladeContourPair(a, a);
        ASSERT_NE(pair, nullptr) << n;
        EXPECT_EQ(pair->first->count + pair->second->count, static_cast<int32_t>(2 * n));
        freeContourPair(pair);
        profileFreeList(a);
    }
    cycleParamsResetState();
}

TEST(ContourPair, LengtheningByEndBendAndStartSlope) {
    // The ends: a second list bent by 30 degrees at its end caps the extension at 0.38 x its length.
    struct Bend {
        double bendDeg, e, expected;
    };
    for (const Bend& c : {Bend{30.0, 100.0, 19.0}, Bend{20.0, 100.0, 100.0}, Bend{30.0, 10.0, 10.0}}) {
        const double b = c.bendDeg * kDeg;
        ContourPair* pair =
            pairOf({{20, 0, 0}, {30, 0, 0}, {40, 0, 0}},
                   {{20, 5, 0}, {45, 5, 0}, {45 + 25 * std::cos(b), 5 + 25 * std::sin(b), 0}});
        ASSERT_EQ(prepareBladeContours(pair, c.e), 1);
        const Plist3D* f = pair->first;
        EXPECT_NEAR(f->points[f->count - 1].x - 40.0, c.expected, 1e-9) << c.bendDeg;
        freeContourPair(pair);
    }
    // The start: 40 degrees or steeper, ten straight steps at both ends; below, an 8-point lead.
    struct Slope {
        double deg;
        int32_t added;
        bool curved;
    };
    for (const Slope& c : {Slope{40.0, 20, false}, Slope{39.9, 18, true}, Slope{70.0, 20, false}}) {
        const double e = 10.0;
        const double a = c.deg * kDeg;
        const Vec3 p0{30, 0, 20};
        auto startOf = [&p0](double w) { return Vec3{30 + 5 * std::cos(w), 0, 20 - 5 * std::sin(w)}; };
        const Vec3 p1 = startOf(a);
        ContourPair* pair =
            pairOf({p0, p1, {p1.x + 5, 0, p1.z}}, {{30, 3, 20}, {p1.x, 3, p1.z}, {p1.x + 5, 3, p1.z}});
        ASSERT_EQ(prepareBladeContours(pair, e), 1);
        const Plist3D* f = pair->first;
        ASSERT_EQ(f->count, 3 + c.added) << c.deg;
        EXPECT_DOUBLE_EQ(f->param[0], 0.0);
        const Vec3 u{-std::cos(a), 0, std::sin(a)};
        // Curved: p0 + (e/2) u - (e/10) w + (0, 0, e/2), w the unit radial direction (1, 0, 0).
        const Vec3 want = c.curved ? Vec3{p0.x + 5 * u.x - 1.0, 0, p0.z + 5 * u.z + 5}
                                   : Vec3{p0.x + e * u.x, 0, p0.z + e * u.z};
        EXPECT_LT(dist3D(&f->points[0], &want), 1e-9) << c.deg;
        freeContourPair(pair);
    }
}

TEST(ContourPair, FoldsOver140DegreesAreTrimmed) {
    for (const double turn : {140.1, 139.9, 170.0}) {
        const double t = turn * kDeg;
        ContourPair* pair =
            pairOf({{0, 0, 0}, {5, 0, 0}, {10, 0, 0}, {10 + 4 * std::cos(t), 4 * std::sin(t), 0}},
                   {{0, 1, 0}, {10, 1, 0}});
        const int trimmed = turn > 140.0 ? 1 : 0;
        EXPECT_EQ(trimContourPairFolds(pair), trimmed) << turn;
        EXPECT_EQ(pair->first->count, trimmed ? 2 : 4) << turn;
        EXPECT_DOUBLE_EQ(pair->first->points[0].x, trimmed ? 10.0 : 0.0);
        EXPECT_DOUBLE_EQ(pair->first->param[0], trimmed ? 10.0 : 0.0);  // the kept point keeps its parameter
        freeContourPair(pair);
    }
}

TEST(ContourPair, BladeBandAgainstAFlatProfile) {
    // A radial blade band at angle 0.3 from z 0 (first list) to z 10 (second list), r 10 .. 50; the
    // profile is the plane z 5 from r 10 outward. Band segment at t crosses it at r = 10 + t.
    const double phi = 0.3, c = std::cos(phi), s = std::sin(phi);
    ContourPair* pair =
        pairOf({{10 * c, 10 * s, 0}, {50 * c, 50 * s, 0}}, {{10 * c, 10 * s, 10}, {50 * c, 50 * s, 10}});
    Profile2D* profile = profileOf({{10, 5}, {50, 5}});
    ASSERT_NE(profile, nullptr);
    for (const double t : {0.0, 7.5, 22.0, 39.0}) {
        Vec3 x;
        ASSERT_EQ(bladeCrossingAtProfile(pair, profile, t, &x), 1);
        EXPECT_NEAR(std::hypot(x.x, x.y), 10 + t, 1e-6);
        EXPECT_NEAR(x.z, 5.0, 1e-6);
        EXPECT_NEAR(std::atan2(x.y, x.x), phi, 1e-9);
    }
    // The band's line reaches five times its length beyond either end (to z 60) for planes off the band.
    for (const double z : {30.0, -45.0, 70.0}) {
        Profile2D* off = profileOf({{10, z}, {50, z}});
        Vec3 x;
        ASSERT_EQ(bladeCrossingAtProfile(pair, off, 7.5, &x), z < 60 ? 1 : -1) << z;
        // Beyond reach: the band's midpoint.
        EXPECT_NEAR(std::hypot(x.x, x.y) + std::fabs(x.z - (z < 60 ? z : 5)), 17.5, 1e-6) << z;
        freeProfile2D(off);
    }
    for (const double t : {21.0, 30.0, 38.5}) {  // the outer half: bisection on the radius
        Vec3 x;
        ASSERT_EQ(bladePointAtProfile(pair, profile, t, &x), 1);
        EXPECT_NEAR(std::hypot(x.x, x.y), 10 + t, 1e-3);
        EXPECT_NEAR(std::atan2(x.y, x.x), phi, 1e-9);
    }
    // A band turning from 0.3 to 0.5 along its chord: the point lies where the chord reaches the radius.
    const Vec3 a{10 * c, 10 * s, 0}, b{50 * std::cos(0.5), 50 * std::sin(0.5), 0};
    ContourPair* turned = pairOf({a, b}, {{a.x, a.y, 10}, {b.x, b.y, 10}});
    for (const double t : {21.0, 30.0, 38.5}) {
        const double ex = b.x - a.x, ey = b.y - a.y, A = ex * ex + ey * ey, B = a.x * ex + a.y * ey;
        const double u = (-B + std::sqrt(B * B - A * (100 - (10 + t) * (10 + t)))) / A;
        Vec3 x;
        ASSERT_EQ(bladePointAtProfile(turned, profile, t, &x), 1);
        EXPECT_NEAR(std::atan2(x.y, x.x), std::atan2(a.y + u * ey, a.x + u * ex), 1e-4) << t;
    }
    freeContourPair(turned);
    freeProfile2D(profile);
    freeContourPair(pair);
}

// A band at angle 0.3 that starts flat above the plane z = 5 (no crossing there) and crosses it from a
// tenth of its length on: the point of the band at a profile parameter of the outer half still lies on
// the plane at that parameter's radius, in the band's meridian. On a profile from the axis the point
// lies just past where the crossings begin: the search must not reach back into the flat start.
TEST(ContourPair, BandStartingWithoutACrossing) {
    const double c = std::cos(0.3), s = std::sin(0.3);
    auto at = [&](double r, double z) { return Vec3{r * c, r * s, z}; };
    ContourPair* pair = pairOf({at(10, 8), at(12.4, 8), at(12.4, 0), at(50, 0)},
                               {at(12, 8), at(14.4, 8), at(14.4, 16), at(50, 16)});
    const struct {
        double r0, t;  // the profile runs from (r0, 5) outward to r = 50 (from the axis: to 20)
    } rows[] = {{10, 20.5}, {10, 23.0}, {10, 30.0}, {0, 12.25}};
    for (const auto& r : rows) {
        Profile2D* profile = r.r0 > 0 ? profileOf({{10, 5}, {30, 5}, {50, 5}}) : profileOf({{0, 5}, {20, 5}});
        ASSERT_NE(profile, nullptr);
        Vec3 x;
        ASSERT_EQ(bladePointAtProfile(pair, profile, r.t, &x), 1) << r.t;
        EXPECT_NEAR(std::hypot(x.x, x.y), r.r0 + r.t, 1e-3) << r.t;
        EXPECT_NEAR(x.z, 5.0, 1e-3) << r.t;
        EXPECT_NEAR(std::atan2(x.y, x.x), 0.3, 1e-9) << r.t;
        freeProfile2D(profile);
    }
    freeContourPair(pair);
}

// A twist turns each point about z by (1 - s/L) a2 + a1: the whole a1 + a2 at the start, a1 at the end;
// radius and height stay, the pair twisted from is left as it was.
TEST(ContourPair, TwistTurnsByTheShareOfLengthLeft) {
    ContourPair* pair = pairOf({{10, 0, 0}, {13, 0, 4}, {16, 0, 8}}, {{20, 0, 1}, {30, 0, 1}});
    ASSERT_NE(pair, nullptr);
    const double a1 = 0.1, a2 = 0.4;
    ContourPair* twisted = twistContourPair(pair, a1, a2);
    ASSERT_NE(twisted, nullptr);
    for (int side = 0; side < 2; ++side) {
        const Plist3D* from = side ? pair->second : pair->first;
        const Plist3D* to = side ? twisted->second : twisted->first;
        ASSERT_EQ(to->count, from->count);
        const double L = from->param[from->count - 1];
        for (int32_t i = 0; i < to->count; ++i) {
            const Vec3 &p = to->points[i], &q = from->points[i];
            EXPECT_NEAR(std::atan2(p.y, p.x), (1 - from->param[i] / L) * a2 + a1, 1e-12) << side << " " << i;
            EXPECT_NEAR(std::hypot(p.x, p.y), q.x, 1e-12);
            EXPECT_EQ(p.z, q.z);
            EXPECT_EQ(q.y, 0.0);
        }
    }
    freeContourPair(twisted);
    freeContourPair(pair);
}

// A curved lead of eight points goes in front of the list: at k/8 of the way, d1 (k/8) back along the
// first segment, d2 (k/8)^4 toward the axis and d1 (k/8)^4 up; the list is then parametrised anew.
TEST(ContourPair, CurvedLeadGoesInFrontOfTheFirstPoint) {
    // In the half plane turned by (0.6, 0.8) about the axis, r from 10 outward.
    Plist3D* l = listOf({{6, 8, 0}, {8.4, 11.2, 3}, {10.8, 14.4, 6}});
    ASSERT_NE(l, nullptr);
    const double d1 = 2.0, d2 = 0.5;
    ASSERT_EQ(addCurvedLead(l, d1, d2), 1);
    ASSERT_EQ(l->count, 11);
    const double ur = -0.8, uz = -0.6;  // from the second point to the first
    for (int k = 1; k <= 8; ++k) {
        const double t = k / 8.0, t4 = t * t * t * t, r = 10 + t * d1 * ur - d2 * t4;
        const Vec3& p = l->points[8 - k];
        EXPECT_NEAR(p.x, 0.6 * r, 1e-12) << k;
        EXPECT_NEAR(p.y, 0.8 * r, 1e-12) << k;
        EXPECT_NEAR(p.z, t * d1 * uz + d1 * t4, 1e-12) << k;
    }
    EXPECT_EQ(l->points[8].x, 6.0);
    EXPECT_EQ(l->param[0], 0.0);
    for (int32_t i = 1; i < l->count; ++i)
        EXPECT_NEAR(l->param[i] - l->param[i - 1], dist3D(&l->points[i], &l->points[i - 1]), 1e-12) << i;
    freePlist3D(l);
    // No first segment (one point, or one under 1e-5) or a start within 1e-5 of the axis: no lead.
    for (const std::vector<Vec3>& pts :
         {std::vector<Vec3>{{10, 0, 0}}, {{10, 0, 0}, {10 + 5e-6, 0, 0}}, {{0, 5e-6, 0}, {10, 0, 0}}}) {
        Plist3D* bad = listOf(pts);
        ASSERT_NE(bad, nullptr);
        EXPECT_EQ(addCurvedLead(bad, d1, d2) * 10 + bad->count, -10 + int32_t(pts.size()));
        freePlist3D(bad);
    }
    EXPECT_EQ(addCurvedLead(nullptr, d1, d2), -1);
}

// What the pair operations refuse, and their answers where a list is too short to tell.
TEST(ContourPair, MissingOrShortListsAreRefused) {
    ContourPair* pair = pairOf({{10, 0, 0}, {20, 0, 0}}, {{10, 0, 5}});
    ASSERT_NE(pair, nullptr);
    ContourPair half{pair->first, nullptr};
    Vec3 a, b;
    double s0 = -1, s1 = -1;
    EXPECT_EQ(twistContourPair(nullptr, 0, 0), nullptr);
    EXPECT_EQ(copyContourPair(nullptr), nullptr);
    EXPECT_EQ(normContourPairParams(nullptr), -1);
    EXPECT_EQ(normContourPairParams(&half), -1);
    EXPECT_EQ(evalContourPair(nullptr, 0, &a, &b), -1);
    EXPECT_EQ(evalContourPair(pair, 20, &a, &b), -1);  // past the second list's end
    EXPECT_EQ(contourPairEndAngles(pair, &s0, &s1), -1);
    EXPECT_EQ(s0 + s1, -2.0);
    EXPECT_EQ(trimContourPairFolds(nullptr), 0);
    EXPECT_EQ(prepareBladeContours(nullptr, 1), -1);
    EXPECT_EQ(addCurvedLead(nullptr, 1, 1), -1);
    EXPECT_EQ(addCurvedLead(pair->second, 1, 1), -1);
    EXPECT_EQ(pair->second->count, 1);
    // The start slope of a list without a first segment of 1e-5 or more is 90 degrees.
    const struct {
        std::vector<Vec3> pts;
        double deg;
    } slopes[] = {{{{0, 0, 1}}, 90},
                  {{{0, 0, 1}, {0, 0, 1 - 0.9e-5}}, 90},
                  {{{0, 0, 1}, {1, 0, 0}}, 45},
                  {{{0, 0, 0}, {1, 0, 1}}, -45},
                  {{{0, 0, 0}, {0, 0, -2e-5}}, 90},
                  {{{1e-5, 0, 3}, {0, 0, 3}}, 0}};  // a level segment of just 1e-5
    for (const auto& r : slopes) {
        Plist3D* l = listOf(r.pts);
        EXPECT_NEAR(contourStartSlope(l), r.deg, 1e-6) << r.pts.size() << " " << r.deg;
        freePlist3D(l);
    }
    EXPECT_EQ(contourStartSlope(nullptr), 90.0);
    // A list without length takes the whole share of the twist.
    ContourPair* twisted = twistContourPair(pair, 0.1, 0.2);
    ASSERT_NE(twisted, nullptr);
    EXPECT_NEAR(twisted->second->points[0].x, 10 * std::cos(0.3), 1e-12);
    EXPECT_NEAR(twisted->second->points[0].y, 10 * std::sin(0.3), 1e-12);
    freeContourPair(twisted);
    freeContourPair(pair);
    // End angles between the lists' end tangents, from two points on.
    const struct {
        std::vector<Vec3> a, b;
        int rc;
        double start, end;
    } angles[] = {{{{10, 0, 0}, {20, 0, 0}}, {{10, 0, 5}, {10, 10, 5}}, 1, M_PI / 2, M_PI / 2},
                  {{{10, 0, 0}, {20, 0, 0}, {20, 10, 0}}, {{10, 0, 5}, {20, 0, 5}}, 1, 0, M_PI / 2},
                  {{{10, 0, 0}}, {{10, 0, 5}, {10, 10, 5}}, -1, -1, -1}};
    for (const auto& r : angles) {
        ContourPair* two = pairOf(r.a, r.b);
        double a0 = -1, a1 = -1;
        EXPECT_EQ(contourPairEndAngles(two, &a0, &a1), r.rc) << r.a.size();
        EXPECT_NEAR(a0, r.start, 1e-9) << r.a.size();
        EXPECT_NEAR(a1, r.end, 1e-9) << r.a.size();
        freeContourPair(two);
    }
    // Lists starting on the axis take no curved lead, and the preparation goes on without one.
    ContourPair* axial = pairOf({{0, 0, 10}, {20, 0, 9}, {40, 0, 8}}, {{0, 0, 20}, {20, 0, 19}, {40, 0, 18}});
    ASSERT_NE(axial, nullptr);
    EXPECT_EQ(prepareBladeContours(axial, 2.0), 1);
    freeContourPair(axial);
}

namespace {

// A pair built from curves, twisted, copied, normalised and lengthened: each list from the curved lead's
// eight points to its old last point (the extensions beyond say nothing of a failure where memory is
// short).
AllocMade preparedPair() {
    std::vector<double> v;
    v.reserve(4096);
    ProfileCurve* a = curveOf({{20, 0, 0}, {30, 1, -1}, {40, 0, -4}});
    ProfileCurve* b = curveOf({{20, 0, 10}, {31, 0, 10}, {42, 1, 9}});
    ContourPair* pair = a && b ? buildBladeContourPair(a, b) : nullptr;
    ContourPair* twisted = pair ? twistContourPair(pair, 0.1, 0.2) : nullptr;
    ContourPair* copy = twisted ? copyContourPair(twisted) : nullptr;
    bool ok = copy && normContourPairParams(copy) == 1;
    Vec3 ends[2][2] = {};
    for (int k = 0; ok && k < 2; ++k) {
        const Plist3D* l = k ? copy->second : copy->first;
        ends[k][0] = l->points[0], ends[k][1] = l->points[l->count - 1];
    }
    ok = ok && prepareBladeContours(copy, 3.0) == 1;
    for (int k = 0; ok && k < 2; ++k) {
        const Plist3D* l = k ? copy->second : copy->first;
        int32_t first = -1, last = -1;
        for (int32_t i = 0; i < l->count; ++i) {
            if (std::memcmp(&l->points[i], &ends[k][0], sizeof(Vec3)) == 0) first = i;
            if (std::memcmp(&l->points[i], &ends[k][1], sizeof(Vec3)) == 0) last = i;
        }
        v.insert(v.end(), {double(first >= 8), double(last - first)});
        for (int32_t i = std::max(first - 8, 0); i <= last; ++i)
            v.insert(v.end(), {l->points[i].x, l->points[i].y, l->points[i].z});
    }
    for (ContourPair* c : {pair, twisted, copy}) freeContourPair(c);
    profileFreeList(a);
    profileFreeList(b);
    return ok ? AllocMade(v) : std::nullopt;
}

}  // namespace

TEST(ContourPair, EveryFailedAllocationIsRefusedOrChangesNothing) {
    failEachAllocation("prepared pair", preparedPair);
}
