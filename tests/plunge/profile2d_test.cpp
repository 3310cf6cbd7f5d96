// Meridional profiles: evaluation, closest point, offsets, joins and crossings with 3D segments.
#include "plunge/profile2d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "channeltest.h"
#include "kernel/base/rng.h"
#include "memshort.h"
#include "plunge/plist3d.h"
#include "workfolder.h"

namespace {

struct ProfileGuard {
    Profile2D* p;
    explicit ProfileGuard(Profile2D* q) : p(q) {}
    ~ProfileGuard() { freeProfile2D(p); }
};

}  // namespace

TEST(Profile2D, EvaluationClampsAndInterpolates) {
    ProfileGuard g(profileOf({{0, 10}, {0, 4}, {3, 0}, {9, 0}}));  // lengths 6, 5, 6
    ASSERT_NE(g.p, nullptr);
    struct Case {
        double s;
        int32_t index;
        Vec2 point;
    };
    const Case cases[] = {{-3, 0, {0, 10}},       {0, 0, {0, 10}},    {3, 0, {0, 7}},
                          {6, 0, {0, 4}},         {8.5, 1, {1.5, 2}}, {17 + 5e-6, 2, {9, 0}},
                          {17 + 5e-5, 2, {9, 0}}, {500, 2, {9, 0}}};
    for (const Case& c : cases) {
        Vec2 p;
        EXPECT_EQ(evalProfile2D(g.p, c.s, &p), c.index) << c.s;
        EXPECT_NEAR(p.x, c.point.x, 1e-5) << c.s;
        EXPECT_NEAR(p.y, c.point.y, 1e-5) << c.s;
    }
    // Within the length tolerance past the start the start itself; beyond it the point that far down.
    for (const double s : {5e-6, 1e-5, 5e-5, 2e-4}) {
        Vec2 p;
        EXPECT_EQ(evalProfile2D(g.p, s, &p), 0) << s;
        EXPECT_EQ(p.x, 0.0) << s;
        EXPECT_NEAR(p.y, s <= 1e-5 ? 10.0 : 10.0 - s, 1e-12) << s;
    }
}

// The profile runs down then outward: its left (positive) side is away from the axis.
TEST(Profile2D, ClosestPointSignsAtVerticesAndEnds) {
    const std::vector<Vec2> pts{{5, 30}, {5, 20}, {12, 8}, {30, 5}, {45, 5}};
    ProfileGuard g(profileOf(pts));
    ASSERT_NE(g.p, nullptr);
    const Vec3 left{10, 0, 25}, right{1, 0, 25}, vertex{5, 0, 20};
    EXPECT_GT(closestPointProfile2D(g.p, &left, nullptr, nullptr), 0);
    EXPECT_LT(closestPointProfile2D(g.p, &right, nullptr, nullptr), 0);
    int32_t seg = -1;
    double s = 0;
    EXPECT_NEAR(closestPointProfile2D(g.p, &vertex, &s, &seg), 0.0, 1e-12);
    EXPECT_EQ(seg, 0);  // a shared vertex reports the first segment
    EXPECT_DOUBLE_EQ(s, 10.0);
    const Vec3 ahead{50, 0, 5}, behind{0, 5, 35};  // straight ahead of an end: on neither side
    EXPECT_EQ(closestPointProfile2D(g.p, &ahead, nullptr, nullptr), 5.0);
    EXPECT_EQ(closestPointProfile2D(g.p, &behind, nullptr, nullptr), 5.0);
    const Vec3 far{0, 0, 5e300};  // its distance squared is no number
    EXPECT_EQ(std::fabs(closestPointProfile2D(g.p, &far, &s, &seg)), 1e300);
    EXPECT_EQ(closestPointProfile2D(nullptr, &far, &s, &seg), 1e300);
}

// Long seeded profiles (many blocks of segments; steps from microns to millimetres, segments run back
// over earlier ones for ties): the nearest segment, distance, sign and parameter are those of a plain
// scan for the first segment of the smallest distance.
TEST(Profile2D, ClosestPointEqualsThePlainScan) {
    std::mt19937 rng(3434);
    std::uniform_real_distribution<double> u(-1, 1);
    for (int round = 0; round < 40; ++round) {
        std::vector<Vec2> pts{{20, 30}};
        const double step = round % 2 ? 2e-3 : 0.5;
        // Every fourth chain spans several groups of blocks.
        for (int i = 0, n = round % 4 == 3 ? 2600 : 300; i < n; ++i)
            pts.push_back(i % 50 == 49
                              ? pts[pts.size() - 7]
                              : Vec2{pts.back().x + step * u(rng), pts.back().y - step * std::fabs(u(rng))});
        if (round % 5 == 4) pts.push_back({pts.back().x + 40, pts.back().y - 5});  // one long last segment
        ProfileGuard g(profileOf(pts));
        ASSERT_NE(g.p, nullptr);
        // The boxes taken once serve every query of the round, and fill the size asked for exactly.
        std::vector<double> boxes(static_cast<size_t>(profile2DBoxSize(g.p)), NAN);
        profile2DBoxes(g.p, boxes.data());
        for (size_t b = 0; b < boxes.size(); b += 4)  // boxes of four (x0, x1, y0, y1), each ordered
            ASSERT_TRUE(boxes[b] <= boxes[b + 1] && boxes[b + 2] <= boxes[b + 3]) << round << " " << b;
        for (int k = 0; k < 50; ++k) {
            const Vec2& c = k % 5 == 0 ? pts.back() : pts[rng() % pts.size()];
            const Vec2 q{std::fabs(c.x + 50 * step * u(rng)), c.y + 50 * step * u(rng)};
            double want = 0, s = 0;
            int32_t wantSeg = 0, seg = -1;
            Vec2 foot{}, f;
            for (int32_t i = 0; i + 1 < g.p->count; ++i) {
                const Seg2D e{pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y};
                const double d = distPointSegNear2D(&q, &e, &f);
                if (i == 0 || d < want) want = d, wantSeg = i, foot = f;
            }
            const Vec2 a = pts[wantSeg], b = pts[wantSeg + 1];
            const double side = (b.x - a.x) * (q.y - foot.y) - (b.y - a.y) * (q.x - foot.x);
            // Points about the axis at once: the radius, not x, is measured.
            const Vec3 p = k % 3 ? Vec3{k % 3 == 1 ? -q.x : 0, k % 3 == 2 ? q.x : 0, q.y} : Vec3{q.x, 0, q.y};
            const double d = closestPointProfile2D(g.p, &p, &s, &seg);
            ASSERT_EQ(seg, wantSeg) << round << " " << k;
            ASSERT_EQ(std::fabs(d), want) << round << " " << k;
            EXPECT_TRUE(std::hypot(b.x - a.x, b.y - a.y) < 1e-5 || side == 0 || (d < 0) == (side < 0));
            EXPECT_EQ(s, profileParamAtPoint(g.p, wantSeg, &foot));
            double sb = 0;
            int32_t segb = -1;
            EXPECT_EQ(closestPointProfile2DBoxed(g.p, boxes.data(), &p, &sb, &segb), d);
            EXPECT_EQ(segb, wantSeg);
            EXPECT_EQ(sb, s);
        }
    }
}

TEST(Profile2D, OffsetsKeepTheirDistanceOnTheRequestedSide) {
    struct Case {
        std::vector<Vec2> pts;
        double d;
    };
    const Case cases[] = {{{{5, 10}, {15, 0}}, 2.0},                             // one segment
                          {{{5, 10}, {5, 5}, {15, 0}}, -1.5},                    // two: boundary offset
                          {{{5, 30}, {5, 20}, {12, 8}, {30, 5}, {45, 5}}, 3.0},  // chain offset
                          {{{5, 30}, {5, 20}, {12, 8}, {30, 5}, {45, 5}}, -2.5}};
    for (const Case& c : cases) {
        ProfileGuard base(profileOf(c.pts));
        ASSERT_NE(base.p, nullptr);
        ProfileGuard off(profile2DOffset(base.p, c.d));
        ASSERT_NE(off.p, nullptr);
        ASSERT_GE(off.p->count, 2);
        EXPECT_DOUBLE_EQ(off.p->param[0], 0.0);
        if (c.pts.size() == 2) {  // one segment moves by d along its unit normal, to the last bit
            const Vec2 *a = base.p->points, *b = a + 1;
            const double dx = b->x - a->x, dy = b->y - a->y, len = std::sqrt(dx * dx + dy * dy);
            ASSERT_EQ(off.p->count, 2);
            for (int e = 0; e < 2; ++e) {
                EXPECT_EQ(off.p->points[e].x, a[e].x + c.d * -(dy / len));
                EXPECT_EQ(off.p->points[e].y, a[e].y + c.d * (dx / len));
            }
        }
        // Vertices on the requested side, at the distance or (corner joins) a little beyond it; the
        // base stays clear of the offset by the distance.
        for (int32_t i = 0; i < off.p->count; ++i) {
            const Vec3 q{off.p->points[i].x, 0, off.p->points[i].y};
            const double d = closestPointProfile2D(base.p, &q, nullptr, nullptr);
            EXPECT_GT(d * c.d, 0.0) << c.d << " " << i;
            EXPECT_GE(std::fabs(d), std::fabs(c.d) - 1e-6) << c.d << " " << i;
            EXPECT_LE(std::fabs(d), 1.5 * std::fabs(c.d)) << c.d << " " << i;
        }
        for (int32_t i = 0; i < base.p->count; ++i)
            EXPECT_GE(polylineDistance2D(off.p->points, off.p->count, &base.p->points[i], nullptr),
                      std::fabs(c.d) - 1e-6);
    }
}

// A hub-like profile sampled every 8 microns (over 7000 points) offset past its bend radius: the
// offset's loops must be cut without losing the offset (the contour offset alone gives up on so many
// elements and returned a stub of two points).
TEST(Profile2D, FinelySampledProfileOffsetsPastItsBend) {
    std::vector<Vec2> pts;
    const double step = 0.008;
    for (double z = 40; z > 13; z -= step) pts.push_back({25, z});
    for (double a = 0; a < M_PI / 2; a += step / 8)
        pts.push_back({33 - 8 * std::cos(a), 13 - 8 * std::sin(a)});
    for (double r = 33; r <= 60; r += step) pts.push_back({r, 5});
    // A last kink 0.002 long: a chord too short to take a foot on, between two points kept side by side.
    pts.push_back({pts.back().x + 0.002, 5.0005});
    ProfileGuard base(profileOf(pts));
    ASSERT_NE(base.p, nullptr);
    ASSERT_GT(base.p->count, 7000);
    for (double d : {13.0, -13.0}) {
        ProfileGuard off(profile2DOffset(base.p, d));
        ASSERT_NE(off.p, nullptr);
        ASSERT_GE(off.p->count, 3) << d;
        const Vec2 &first = off.p->points[0], &last = off.p->points[off.p->count - 1];
        EXPECT_NEAR(dist2D(&first, &base.p->points[0]), 13.0, 0.05) << d;
        EXPECT_NEAR(dist2D(&last, &base.p->points[base.p->count - 1]), 13.0, 0.05) << d;
        for (int32_t i = 0; i < off.p->count; i += off.p->count / 60 + 1) {
            const Vec3 q{off.p->points[i].x, 0, off.p->points[i].y};
            const double s = closestPointProfile2D(base.p, &q, nullptr, nullptr);
            EXPECT_GT(s * d, 0.0) << d << " " << i;
            EXPECT_GE(std::fabs(s), 13.0 - 1e-3) << d << " " << i;
        }
    }
}

// The generated impeller's hub (a cubic Bezier from the axial inlet to the radial outlet) at seeded
// samplings, offset by a tool radius (the level of the ball's centre) and that by the channel's height
// (the level's shroud): every offset starts and ends at the distance from its source's ends and keeps
// the distance. For some samplings the contour offset gave a two-point stub at the inlet, and that stub
// stood for the whole level's shroud.
TEST(Profile2D, HubLevelOffsetsByTheChannelHeight) {
    Rng rng{20261208};
    for (int round = 0; round < 16; ++round) {
        const int n = 500 + rngStep(&rng) % 2500;
        const double radius = 1 + 2.0 * rngStep(&rng) / kRngMax;
        std::vector<Vec2> pts;
        for (int i = 0; i <= n; ++i) {
            const double t = double(i) / n, s = 1 - t;
            pts.push_back({15 * (s * s * s + 3 * s * s * t) + 37.5 * 3 * s * t * t + 60 * t * t * t,
                           40 * s * s * s + 22.5 * 3 * s * s * t + 5 * 3 * s * t * t + 5 * t * t * t});
        }
        ProfileGuard hub(profileOf(pts));
        ASSERT_NE(hub.p, nullptr);
        ProfileGuard level(profile2DOffset(hub.p, radius));
        ASSERT_NE(level.p, nullptr);
        for (const Profile2D* base : {hub.p, level.p})
            for (double d : {12.0, 18.0}) {
                ProfileGuard off(profile2DOffset(base, d));
                ASSERT_NE(off.p, nullptr);
                ASSERT_GE(off.p->count, 3) << n << " " << radius << " " << d;
                const Vec2 &first = off.p->points[0], &last = off.p->points[off.p->count - 1];
                EXPECT_NEAR(dist2D(&first, &base->points[0]), d, 0.05) << n << " " << radius << " " << d;
                EXPECT_NEAR(dist2D(&last, &base->points[base->count - 1]), d, 0.05) << n << " " << d;
                for (int32_t i = 0; i < off.p->count; i += off.p->count / 40 + 1) {
                    const Vec3 q{off.p->points[i].x, 0, off.p->points[i].y};
                    EXPECT_NEAR(closestPointProfile2D(base, &q, nullptr, nullptr), d, 0.02) << n << " " << i;
                }
            }
    }
}

TEST(Profile2D, JoinFollowsBThenAOrReportsNoMeeting) {
    ProfileGuard a(profileOf({{0, 10}, {10, 10}, {20, 10}}));  // horizontal at z 10, running outward
    struct Case {
        std::vector<Vec2> b;
        int32_t flag;
        double s;
        Vec2 first, last;
        int32_t count;
    };
    const Case cases[] = {
        {{{5, 20}, {5, 15}, {5, 0}}, 0, 10.0, {5, 20}, {20, 10}, 5},  // crosses A at (5, 10)
        {{{0, 15}, {20, 15}}, 0, 0.0, {0, 15}, {20, 15}, 2},          // A on B's right (side 1): all of B
        {{{0, 5}, {20, 5}}, 1, -1.0, {10, 10}, {20, 10}, 2},  // A on B's left (side 2): A from its second
                                                              // point
    };
    for (const Case& c : cases) {
        ProfileGuard b(profileOf(c.b));
        double s = 0;
        int32_t flag = -7;
        ProfileGuard j(joinProfiles2D(a.p, b.p, &s, &flag));
        ASSERT_NE(j.p, nullptr);
        EXPECT_EQ(flag, c.flag);
        EXPECT_DOUBLE_EQ(s, c.s);
        ASSERT_EQ(j.p->count, c.count);
        EXPECT_NEAR(j.p->points[0].x, c.first.x, 1e-9);
        EXPECT_NEAR(j.p->points[0].y, c.first.y, 1e-9);
        EXPECT_NEAR(j.p->points[c.count - 1].x, c.last.x, 1e-9);
        EXPECT_NEAR(j.p->points[c.count - 1].y, c.last.y, 1e-9);
    }
}

TEST(Profile2D, EditingKeepsParametersConsistent) {
    // B (length 23.8) is trimmed at the foot of A's first point and cut at that of its last, feet that
    // may lie past B's ends by up to a tenth of its length (2.38).
    for (const double end : {10.0, 13.2}) {
        ProfileGuard a(profileOf({{0, end}, {0, 0}, {end, 0}}));
        ProfileGuard b(profileOf({{-1, 11}, {-1, 1}, {1, -1}, {12, -1}}));
        ASSERT_EQ(fitProfile2DToSpan(a.p, b.p), 1);
        EXPECT_NEAR(b.p->param[b.p->count - 1], a.p->param[a.p->count - 1], 1e-9);
        EXPECT_NEAR(b.p->points[0].y, end, 1e-9);
        EXPECT_NEAR(b.p->points[b.p->count - 1].x, end, 1e-9);
    }
    // On the slanted y = x + 1 the ends are the feet of (0, 0) and (10, 5): (-0.5, 0.5) and (7, 8).
    ProfileGuard hub(profileOf({{0, 0}, {10, 5}}));
    ProfileGuard slant(profileOf({{0, 1}, {20, 21}}));
    ASSERT_EQ(fitProfile2DToSpan(hub.p, slant.p), 1);
    EXPECT_NEAR(slant.p->points[0].x, -0.5, 1e-9);
    EXPECT_NEAR(slant.p->points[slant.p->count - 1].x, 7.0, 1e-9);
    EXPECT_NEAR(slant.p->points[slant.p->count - 1].y, 8.0, 1e-9);
    ProfileGuard c(profileOf({{0, 10}, {0, 0}, {10, 0}}));
    ASSERT_EQ(trimProfile2DStart(c.p, 4.0), 1);
    EXPECT_DOUBLE_EQ(c.p->param[0], 0.0);
    EXPECT_DOUBLE_EQ(c.p->points[0].y, 6.0);
    EXPECT_DOUBLE_EQ(c.p->param[c.p->count - 1], 16.0);
    for (const double s : {10.0, 10.0 - 5e-6, 10.0 - 2e-5}) {  // within 1e-5 of a vertex: no point twice
        ProfileGuard t(profileOf({{0, 10}, {0, 0}, {10, 0}}));
        ASSERT_EQ(trimProfile2DStart(t.p, s), 1);
        EXPECT_EQ(t.p->count, 10 - s <= 1e-5 ? 2 : 3) << s;
        EXPECT_DOUBLE_EQ(t.p->param[t.p->count - 1], 20 - s) << s;
    }
    ASSERT_EQ(extendProfile2D(c.p, 2.0), 1);
    EXPECT_DOUBLE_EQ(c.p->points[0].y, 8.0);
    EXPECT_DOUBLE_EQ(c.p->points[c.p->count - 1].x, 12.0);
    const Seg2D cutter{5, -1, 5, 1};
    ASSERT_EQ(cutProfile2DAtCrossing(c.p, &cutter), 1);
    EXPECT_DOUBLE_EQ(c.p->points[c.p->count - 1].x, 5.0);
    // A fold in the second half ends the profile there, whether it turns back in r or in z; a profile
    // that only bends keeps its points.
    const struct {
        std::vector<Vec2> pts;
        int cut, count;
    } folds[] = {{{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {3, 0.5}, {2, 1}}, 1, 5},
                 {{{5, 0}, {5, 1}, {5, 2}, {5, 3}, {5, 4}, {5.5, 3}, {6, 2}}, 1, 5},
                 {{{5, 0}, {5, 1}, {5, 2}, {5, 3}, {5, 4}, {6, 4}, {7, 4}}, 0, 7}};
    for (const auto& c : folds) {
        ProfileGuard f(profileOf(c.pts));
        EXPECT_EQ(cutProfile2DAtReversal(f.p), c.cut) << c.pts[0].x;
        EXPECT_EQ(f.p->count, c.count) << c.pts[0].x;
    }
}

TEST(Profile2D, SegmentCrossingsLieOnTheRevolvedProfile) {
    // A cone and cylinder: the crossing must sit on the surface and on the segment.
    ProfileGuard g(profileOf({{10, 40}, {10, 25}, {30, 5}, {50, 5}}));
    std::mt19937 rng(5142);
    std::uniform_real_distribution<double> u(-1, 1);
    int found = 0;
    for (int k = 0; k < 200; ++k) {
        // From inside the channel side (off the axis, high) to the solid side (near the axis, low).
        const double a = 3.14 * u(rng);
        const Vec3 p{25 * std::cos(a) + 3 * u(rng), 25 * std::sin(a) + 3 * u(rng), 30 + 5 * u(rng)};
        const Vec3 q{3 * u(rng), 3 * u(rng), 5 * u(rng)};
        for (int method = 0; method < 2; ++method) {
            Vec3 x;
            const int rc = method == 0 ? crossLineProfile(g.p, &p, &q, &x, 10.0)
                                       : crossSegmentProfile(g.p, &p, &q, &x, 0.0);
            if (rc != 1) continue;
            ++found;
            EXPECT_NEAR(closestPointProfile2D(g.p, &x, nullptr, nullptr), 0.0, 0.11);
            const Vec3 pq{q.x - p.x, q.y - p.y, q.z - p.z}, px{x.x - p.x, x.y - p.y, x.z - p.z};
            Vec3 c;
            cross3D(&pq, &px, &c);
            EXPECT_NEAR(vecLen3D(&c) / vecLen3D(&pq), 0.0, 1e-6);
        }
    }
    EXPECT_GT(found, 300);
    // Two circle hits at the same distance from the nearer end: the second is taken.
    const Vec2 target{5, 3};
    const Vec3 a{0, 0, 0}, b{0, 10, 0};
    Vec3 out;
    ASSERT_EQ(segmentPointAtRadius(&target, &a, &b, &out), 1);
    EXPECT_NEAR(out.x, 0.0, 1e-9);
    EXPECT_NEAR(out.y, 5.0, 1e-9);
    EXPECT_DOUBLE_EQ(out.z, 3.0);
    // A first end within 1 of the radius: the segment's point at the height, wherever its radius.
    const Vec3 c{4.5, 0, 0}, d{4.5, 0, 6}, at{4.5, 0, 3};
    ASSERT_EQ(segmentPointAtRadius(&target, &c, &d, &out), 1);
    EXPECT_NEAR(dist3D(&out, &at), 0, 1e-12);
    // The point of a segment at a height, on the line through its ends; none on a level segment.
    const struct {
        Vec3 a, b;
        double z;
        int rc;
        Vec3 at;
    } rows[] = {{{1, 2, 4}, {3, 6, 8}, 5, 1, {1.5, 3, 5}},
                {{3, 6, 8}, {1, 2, 4}, 5, 1, {1.5, 3, 5}},
                {{0, 0, 2}, {4, 0, 6}, 8, 1, {6, 0, 8}},
                {{0, 0, 2}, {4, 0, 2}, 2, -1, {}}};
    for (const auto& r : rows) {
        Vec3 at{};
        ASSERT_EQ(segmentPointAtZ(&r.a, &r.b, r.z, &at), r.rc) << r.z;
        if (r.rc != 1) continue;
        EXPECT_NEAR(dist3D(&at, &r.at), 0.0, 1e-12) << r.z;
    }
}

// A meridian taken from 3D points runs from its higher end down, whichever way the points run.
TEST(Profile2D, MeridianOfPointsStartsAtTheHigherEnd) {
    for (const bool rising : {true, false}) {
        std::vector<Vec3> pts = {{3, 4, 1}, {0, 6, 2}, {-8, 0, 4}};  // radii 5, 6, 8
        if (!rising) std::swap(pts[0], pts[2]);
        Plist3D* l = plist3DFromPoints(pts.data(), 3);
        Profile2D* p = profile2DFromPlist3D(l);
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->count, 3);
        const Vec2 want[3] = {{8, 4}, {6, 2}, {5, 1}};
        for (int i = 0; i < 3; ++i) {
            EXPECT_NEAR(p->points[i].x, want[i].x, 1e-12) << rising << i;
            EXPECT_NEAR(p->points[i].y, want[i].y, 1e-12) << rising << i;
        }
        freeProfile2D(p);
        freePlist3D(l);
        // A curve's meridian likewise, then turned once more for an impeller that runs reversed.
        for (const int reverse : {0, 1}) {
            cycleParams()->impReverse = static_cast<int16_t>(reverse);
            ProfileCurve* c = profileLine(&pts[0], &pts[2]);
            ProfileGuard m(profile2DFromCurve(c));
            profileFreeList(c);
            ASSERT_TRUE(m.p != nullptr && m.p->count == 2);
            for (int i = 0; i < 2; ++i) EXPECT_EQ(m.p->points[i].y, want[reverse ? 2 - 2 * i : 2 * i].y) << i;
        }
        cycleParamsResetState();
    }
}

// Profiles refuse what is not there, and what is too short to be a profile.
TEST(Profile2D, MissingArgumentsAreRefused) {
    Vec2 out{};
    const Vec3 p{1, 0, 1}, q{2, 0, 2};
    Vec3 hit{};
    double s = 0;
    int32_t flag = 0;
    EXPECT_EQ(copyProfile2D(nullptr), nullptr);
    EXPECT_EQ(profile2DFromCurve(nullptr), nullptr);
    EXPECT_EQ(profile2DFromPlist3D(nullptr), nullptr);
    EXPECT_EQ(profile2DOffset(nullptr, 1), nullptr);
    EXPECT_EQ(evalProfile2D(nullptr, 0, &out), -1);
    Profile2D* one = newProfile2D(0);
    ASSERT_NE(one, nullptr);
    EXPECT_EQ(one->capacity, 1);
    EXPECT_EQ(evalProfile2D(one, 0, &out), -1);  // no point yet
    one->points[0] = {3, 4}, one->param[0] = 0, one->count = 1;
    EXPECT_EQ(profile2DOffset(one, 1), nullptr);  // one point has no side
    ProfileGuard twin(profileOf({{3, 4}, {3, 4}}));
    EXPECT_EQ(profile2DOffset(twin.p, 1), nullptr);  // nor has a segment without length
    s = 5, flag = 5;
    EXPECT_DOUBLE_EQ(closestPointProfile2D(one, &q, &s, &flag), std::sqrt(5.0));  // (2, 2) from (3, 4)
    EXPECT_EQ(s + flag, 0.0);
    EXPECT_EQ(joinProfiles2D(one, one, &s, &flag), nullptr);
    EXPECT_EQ(fitProfile2DToSpan(one, one), -1);
    EXPECT_EQ(profileLineCrossCreate(one), nullptr);
    EXPECT_EQ(cutProfile2DAtCrossing(nullptr, nullptr), 0);
    EXPECT_EQ(cutProfile2DAtReversal(nullptr), 0);
    EXPECT_EQ(dropCloseProfilePoints(nullptr, 3, 1), 0);
    EXPECT_EQ(crossLineProfile(nullptr, &p, &q, &hit, 1), -1);
    EXPECT_EQ(crossSegmentProfileExact(nullptr, &p, &q, &hit), -1);
    recomputeProfile2DParams(nullptr);
    freeProfile2D(one);
    freeProfile2D(nullptr);
}

namespace {

void put(std::vector<double>& v, const Profile2D* p) {
    v.push_back(p->count);
    for (int32_t i = 0; i < p->count; ++i) v.insert(v.end(), {p->param[i], p->points[i].x, p->points[i].y});
}

// Copies, edits, offsets, joins, a section and crossings of one bent profile, and the other profile fitted
// to its span (a change there, unlike a copy of itself); null or -1 where memory is short.
AllocMade profileOperations() {
    std::vector<double> v;
    v.reserve(4096);
    ProfileGuard a(profileOf({{5, 30}, {5, 20}, {12, 8}, {30, 5}, {45, 5}})),
        b(profileOf({{8, 40}, {8, 25}, {9, 0}}));
    if (!a.p || !b.p) return std::nullopt;
    ProfileGuard c(copyProfile2D(a.p)), off(profile2DOffset(a.p, 3.0)), d(copyProfile2D(b.p));
    bool ok = c.p && off.p && d.p;
    // A failure answers exactly -1: any other answer is recorded, to differ from the whole run's.
    for (int k = 0, rc = 1; ok && k < 4; ++k) {
        rc = k == 0  ? extendProfile2D(c.p, 2.0)
             : k < 3 ? appendProfile2DPoint(c.p, 2.5 - k)
                     : fitProfile2DToSpan(a.p, d.p);
        if (rc != 1 && rc != -1) return AllocMade(std::vector<double>{1000.0 + rc});
        ok = rc == 1;
    }
    double s = 0;
    int32_t flag = 0;
    ProfileGuard j(ok ? joinProfiles2D(a.p, b.p, &s, &flag) : nullptr);
    const Vec3 ref{1, 0, 0}, p{20, 3, 30}, q{1, 0, 0};
    ChannelSection* cs = channelSectionCreate(&ref, a.p, 10);
    const Vec3 pts[3] = {{0, 3, 1}, {6, 0, 4}, {0, -8, 2}};
    Plist3D* l = plist3DFromPoints(pts, 3);
    ProfileGuard m(l ? profile2DFromPlist3D(l) : nullptr);
    Vec3 x1{}, x2{};
    const int exact = crossSegmentProfileExact(a.p, &p, &q, &x1);
    if (exact != 1 && exact != -1) return AllocMade(std::vector<double>{2000.0 + exact});
    ok = ok && j.p && cs && m.p && exact == 1 && crossLineProfile(a.p, &p, &q, &x2, 10) == 1;
    if (ok) {
        // An offset falls back to other constructions where memory is short: the same ends.
        for (const Profile2D* r : {off.p, cs->profile})
            v.insert(v.end(),
                     {r->points[0].x, r->points[0].y, r->points[r->count - 1].x, r->points[r->count - 1].y});
        for (const Profile2D* r : {c.p, d.p, j.p, m.p}) put(v, r);
        v.insert(v.end(), {s, double(flag), x1.x, x1.y, x1.z, x2.x, x2.y, x2.z});
    }
    channelSectionFree(cs);
    freePlist3D(l);
    return ok ? AllocMade(v) : std::nullopt;
}

}  // namespace

TEST(Profile2D, EveryFailedAllocationIsRefusedOrChangesNothing) {
    failEachAllocation("profile operations", profileOperations);
    // A point appended within the room the profile has takes no memory: it goes in with none left.
    ProfileGuard room(newProfile2D(3));
    ASSERT_TRUE(room.p);
    room.p->points[0] = {0, 0}, room.p->points[1] = {3, 4}, room.p->count = 2;
    allocfail::arm(1);
    const int rc = appendProfile2DPoint(room.p, 5);
    const bool fired = allocfail::fired();
    allocfail::disarm();
    EXPECT_TRUE(rc == 1 && !fired && room.p->count == 3 &&
                std::hypot(room.p->points[2].x - 6, room.p->points[2].y - 8) < 1e-12);
}

// The small helpers against their closed forms, at the lengths where they give up.
TEST(Profile2D, HelpersInClosedForm) {
    Rng rng{515};
    auto unit = [&] { return 2.0 * rngStep(&rng) / kRngMax - 1; };
    for (int k = 0; k < 200; ++k) {
        const Vec2 a{unit(), unit()}, b{unit(), unit()};
        const double want = std::atan2(a.x * b.y - a.y * b.x, a.x * b.x + a.y * b.y);
        EXPECT_NEAR(signedAngle2D(&a, &b), want, 1e-7) << k;
        EXPECT_NEAR(polarAngle2D(&b), std::atan2(b.y, b.x), 1e-7) << k;
        Vec3 w;
        ASSERT_EQ(meridianToWorld(&a, want, &w), 1);
        EXPECT_NEAR(std::hypot(w.x - a.x * std::cos(want), w.y - a.x * std::sin(want)) + std::fabs(w.z - a.y),
                    0, 1e-15);
    }
    const Vec2 x{1, 0}, y{0, 1}, shortY{0, 0.99e-5}, justY{0, 1e-5};
    EXPECT_EQ(signedAngle2D(&x, &shortY), 0.0);
    EXPECT_EQ(signedAngle2D(&shortY, &x), 0.0);
    EXPECT_NEAR(signedAngle2D(&x, &justY), M_PI / 2, 1e-12);
    EXPECT_NEAR(signedAngle2D(&y, &x), -M_PI / 2, 1e-12);
    // Points closer than d to the last one kept are dropped; one exactly d away is kept.
    Vec2 row[5] = {{0, 0}, {0.5, 0}, {1, 0}, {1.2, 0}, {2.2, 0}};
    ASSERT_EQ(dropCloseProfilePoints(row, 5, 1.0), 3);
    EXPECT_EQ(row[1].x + 10 * row[2].x, 1.0 + 22.0);
    EXPECT_EQ(dropCloseProfilePoints(row, 1, 1.0), 1);
    EXPECT_EQ(dropCloseProfilePoints(row, 0, 1.0), 0);
    // Parameters at points of a segment, of a segment shorter than 1e-5 and of the last point.
    ProfileGuard g(profileOf({{0, 0}, {3, 4}, {3, 4 + 0.5e-5}, {6, 8 + 0.5e-5}}));
    ASSERT_NE(g.p, nullptr);
    const Vec2 mid{1.5, 2}, onShort{3, 4 + 0.4e-5}, end{6, 8 + 0.5e-5};
    EXPECT_NEAR(profileParamAtPoint(g.p, 0, &mid), 2.5, 1e-12);
    EXPECT_EQ(profileParamAtPoint(g.p, 1, &onShort), g.p->param[1]);
    EXPECT_EQ(profileParamAtPoint(g.p, 3, &end), g.p->param[3]);
    EXPECT_NEAR(g.p->param[3], 10 + 0.5e-5, 1e-12);
    // Appending continues the last segment; reversing restarts the lengths from the new first point.
    ASSERT_EQ(appendProfile2DPoint(g.p, 5.0), 1);
    ASSERT_EQ(g.p->count, 5);
    EXPECT_NEAR(g.p->points[4].x, 9.0, 1e-9);
    EXPECT_NEAR(g.p->points[4].y, 12.0 + 0.5e-5, 1e-9);
    ASSERT_EQ(reverseProfile2D(g.p), 1);
    EXPECT_EQ(g.p->param[0], 0.0);
    EXPECT_NEAR(g.p->param[1], 5.0, 1e-12);
    EXPECT_NEAR(g.p->param[4], 15 + 0.5e-5, 1e-12);
    EXPECT_EQ(reverseProfile2D(nullptr), -1);
    // The nearest foot on a polyline, the earlier segment's among equals; a lone point is its own foot.
    const Vec2 u[4] = {{0, 0}, {10, 0}, {10, 4}, {0, 4}};
    const struct {
        int32_t count;
        Vec2 q, foot;
        double d;
    } feet[] = {{4, {5, 2}, {5, 0}, 2}, {4, {5, 3}, {5, 4}, 1}, {4, {13, 2}, {10, 2}, 3}, {1, {3, 4}, {0, 0}, 5}};
    for (const auto& f : feet) {
        Vec2 foot{-1, -1};
        EXPECT_DOUBLE_EQ(polylineDistance2D(u, f.count, &f.q, &foot), f.d) << f.q.x << " " << f.q.y;
        EXPECT_TRUE(foot.x == f.foot.x && foot.y == f.foot.y) << f.q.x << " " << f.q.y;
    }
    // a lies to the right of b's start (1) or to its left or on it (2).
    ProfileGuard a(profileOf({{0, 10}, {20, 10}}));
    const struct {
        std::vector<Vec2> b;
        int side;
    } sides[] = {{{{0, 15}, {20, 15}}, 1}, {{{0, 5}, {20, 5}}, 2}, {{{20, 15}, {0, 15}}, 2},
                 {{{5, 10}, {15, 10}}, 2}, {{{5, 12}}, 2},         {{{5, 12}, {5, 20}}, 2}};
    for (const auto& r : sides) {
        ProfileGuard b(profileOf(r.b));
        EXPECT_EQ(profileSideOf(a.p, b.p), r.side) << r.b[0].x << " " << r.b[0].y;
    }
}

// The channel coordinates of a point: its angle from the reference times its radius, and its height
// over the level profile (here the plane z = 5, extended at both ends).
TEST(Profile2D, ChannelSectionCoordinatesInClosedForm) {
    ProfileGuard level(profileOf({{10, 5}, {30, 5}, {50, 5}}));
    const Vec3 ref{2, 0, 0};
    ChannelSection* s = channelSectionCreate(&ref, level.p, 7.0);
    ASSERT_NE(s, nullptr);
    ASSERT_GE(s->profile->count, 2);
    EXPECT_NEAR(s->profile->points[0].x, 3.0, 1e-9);
    EXPECT_NEAR(s->profile->points[s->profile->count - 1].x, 57.0, 1e-9);
    Rng rng{99};
    for (int k = 0; k < 50; ++k) {
        const double r = 5 + 50.0 * rngStep(&rng) / kRngMax, phi = 3.0 * rngStep(&rng) / kRngMax - 1.5;
        const double z = 20.0 * rngStep(&rng) / kRngMax - 5;
        const Vec3 p{r * std::cos(phi), r * std::sin(phi), z};
        Vec2 c{};
        ASSERT_EQ(channelSectionCoords(s, &c, &p), 1);
        EXPECT_NEAR(c.x, -phi * r, 1e-6) << k;
        EXPECT_NEAR(c.y, 5 - z, 1e-9) << k;
    }
    channelSectionFree(s);
    EXPECT_EQ(channelSectionCreate(nullptr, level.p, 1), nullptr);
    EXPECT_EQ(channelSectionCreate(&ref, nullptr, 1), nullptr);
    channelSectionFree(nullptr);
}

// Crossings with the plane z = 5 (r 10 to 50), the cylinder r = 20 (z 40 to 0) and the cone z = r + 3 (r 12
// to 2) in closed form: the exact search, the meridian search over the segment lengthened by f (and the
// profile by 50 at both ends), twice lengthened, and the line crossing with its lengthened retry, which
// takes hits up to 5 off the profile: on the cone z = 3 - r, swept by the end lengthened past the axis.
TEST(Profile2D, CrossingsOfEachSearchInClosedForm) {
    ProfileGuard plane(profileOf({{10, 5}, {30, 5}, {50, 5}})), wall(profileOf({{20, 40}, {20, 0}})),
        cone(profileOf({{12, 15}, {2, 5}}));
    enum { kExact, kBoxed, kSegment, kAlt, kTwice, kLine };
    const struct {
        int method;
        int shape;  // the plane, the wall, the cone
        Vec3 p, q;
        double f;
        int rc;
        Vec3 at;
    } rows[] = {
        {kExact, 0, {20, 0, 10}, {20, 0, 0}, 0, 1, {20, 0, 5}},
        {kBoxed, 0, {0, 20, 10}, {0, 20, 0}, 0, 1, {0, 20, 5}},
        {kExact, 0, {20, 0, 5 + 0.5e-5}, {20, 0, 0}, 0, 1, {20, 0, 5 + 0.5e-5}},
        {kExact, 0, {20, 0, 9}, {20, 0, 5 - 0.5e-5}, 0, 1, {20, 0, 5 - 0.5e-5}},
        {kExact, 0, {20, 0, 10}, {20, 0, 6}, 0, 0, {}},
        {kSegment, 0, {20, 0, 10}, {20, 0, 0}, 0, 1, {20, 0, 5}},
        {kSegment, 0, {55, 0, 10}, {55, 0, 0}, 0, 1, {55, 0, 5}},  // past the end: the meridian
        {kSegment, 0, {20, 0, 10}, {20, 0, 7}, 0.5, 0, {}},
        {kAlt, 0, {20, 0, 10}, {20, 0, 7}, 2, 1, {20, 0, 5}},
        {kAlt, 0, {20, 0, 10}, {20, 0, 7}, 0.5, 0, {}},
        {kTwice, 0, {20, 0, 10}, {20, 0, 7}, 0, 1, {20, 0, 5}},
        {kTwice, 0, {20, 0, 10}, {20, 0, 9}, 0, 1, {20, 0, 5}},
        {kLine, 0, {20, 0, 10}, {20, 0, 0}, 10, 1, {20, 0, 5}},
        {kLine, 0, {20, 0, 10}, {20, 0, 7}, 10, 1, {20, 0, 5}},
        {kSegment, 1, {10, 0, 20}, {30, 0, 21}, 0.5, 1, {20, 0, 20.5}},
        {kSegment, 1, {0, 10, 20}, {0, 30, 20}, 0.5, 1, {0, 20, 20}},
        {kSegment, 1, {10, 0, 95}, {30, 0, 96}, 0.5, 0, {}},  // beyond the 50 added at either end
        {kSegment, 1, {10, 0, -55}, {30, 0, -56}, 0.5, 0, {}},
        {kSegment, 1, {10, 0, 85}, {30, 0, 86}, 0.5, 1, {20, 0, 85.5}},
        {kSegment, 1, {10, 0, 60}, {17, 0, 60}, 1, 1, {20, 0, 60}},  // level: lengthened in r only
        {kAlt, 1, {10, 0, 20}, {30, 0, 21}, 0.5, 1, {20, 0, 20.5}},
        {kLine, 1, {10, 0, 20}, {30, 0, 21}, 10, 1, {20, 0, 20.5}},
        {kLine, 2, {1.5, 0, -10}, {1.5, 0, 10}, 10, 1, {1.5, 0, 1.5}},  // 2.12 off: the nearer
        {kLine, 2, {4, 0, -10}, {4, 0, 10}, 10, 1, {4, 0, 7}},          // 5.66 off: the profile's own
    };
    for (const auto& r : rows) {
        const Profile2D* g = r.shape == 0 ? plane.p : r.shape == 1 ? wall.p : cone.p;
        Vec3 x{-7, -7, -7};
        int rc = -9;
        switch (r.method) {
            case kExact:
                rc = crossSegmentProfileExact(g, &r.p, &r.q, &x);
                break;
            case kBoxed:
                rc = crossSegmentProfileExactBoxed(g, nullptr, &r.p, &r.q, &x);
                break;
            case kSegment:
                rc = crossSegmentProfile(g, &r.p, &r.q, &x, r.f);
                break;
            case kAlt:
                rc = crossSegmentProfileAlt(g, &r.p, &r.q, &x, r.f);
                break;
            case kTwice:
                rc = crossSegmentProfileTwice(g, &r.p, &r.q, &x);
                break;
            default:
                rc = crossLineProfile(g, &r.p, &r.q, &x, r.f);
                break;
        }
        ASSERT_EQ(rc, r.rc) << r.method << " " << r.p.x << " " << r.q.z;
        // An end within 1e-5 of the profile is the crossing itself, exactly.
        const bool atEnd = dist3D(&r.at, &r.p) == 0 || dist3D(&r.at, &r.q) == 0;
        if (rc == 1) {
            EXPECT_TRUE(atEnd ? dist3D(&x, &r.at) == 0 : dist3D(&x, &r.at) < 2e-4)
                << r.method << " " << r.p.x << " " << r.q.z;
        }
    }
    const Vec3 p{1, 0, 1};
    Vec3 x;
    EXPECT_EQ(crossSegmentProfileExactBoxed(plane.p, nullptr, &p, nullptr, &x) +
                  crossSegmentProfileExactBoxed(plane.p, nullptr, &p, &p, nullptr),
              -2);
    EXPECT_EQ(crossSegmentProfileAlt(nullptr, &p, &p, &x, 1), -1);
    EXPECT_EQ(
        crossSegmentProfile(plane.p, &p, nullptr, &x, 1) + crossSegmentProfile(plane.p, &p, &p, nullptr, 1),
        -2);
    EXPECT_EQ(crossLineProfilePrepared(nullptr, &p, &p, &x, 1), -1);
}
