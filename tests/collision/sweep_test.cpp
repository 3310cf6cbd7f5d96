#include "collision/sweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <tuple>

#include "meshutil.h"

namespace {

KernelBlock blockOf(uint16_t type, double R, double r, const Vec3* t, const Vec3& start) {
    KernelBlock b{};
    for (int i = 0; i < 3; ++i) b.tri[i] = t[i];
    b.start = start;
    b.radius = b.radius2 = type == 3 ? R - r : R;
    b.cornerRadius = r;
    return b;
}

// Travel of a tool swept from start along d until it touches the triangle, or -1 for none within L.
double sweepTravel(uint16_t type, double R, double r, const Vec3 (&t)[3], const Vec3& start, const Vec3& d,
                   double L) {
    sweepSetDirection(&d);
    KernelBlock b = blockOf(type, R, r, t, start);
    b.best = -L;
    return sweepKernel(type, &b) ? L + b.best : -1.0;
}

// Lift of a tool standing at the origin after a sweep straight down from height 100, or -1 for none.
double liftAtOrigin(uint16_t type, double R, double r, const Vec3 (&t)[3]) {
    return sweepTravel(type, R, r, t, {0, 0, 100}, {0, 0, -1}, 100);
}

}  // namespace

TEST(Sweep, SlopeClosedForms) {
    struct Case {
        uint16_t type;
        double R, r, deg, z0;
        double expect(double th) const {
            if (type == 1) return z0 + R / std::cos(th);
            if (type == 2) return z0 + R * std::tan(th);
            return z0 + (R - r) * std::tan(th) + r / std::cos(th);
        }
    } cases[] = {{1, 5, 0, 0, 0},  {1, 5, 0, 30, 0}, {1, 2, 0, 60, -3}, {2, 5, 0, 30, 0}, {2, 5, 0, 0, -1},
                 {2, 3, 0, 10, 1}, {3, 5, 1, 30, 0}, {3, 5, 1, 45, 2},  {3, 4, 2, 5, -1}, {3, 5, 1, 0, 0.5}};
    for (const Case& c : cases) {
        const double th = c.deg * M_PI / 180, k = std::tan(th);
        const Vec3 t[3] = {{-40, -40, c.z0 - 40 * k}, {40, -40, c.z0 + 40 * k}, {0, 40, c.z0}};
        EXPECT_NEAR(liftAtOrigin(c.type, c.R, c.r, t), c.expect(th), 1e-9) << c.type << " " << c.deg;
        // The plane of so large a triangle is met where the triangle is.
        const KernelBlock b = blockOf(c.type, c.R, c.r, t, {0, 0, 100});
        EXPECT_NEAR(sweepPlaneTravel(c.type, &b), 100 - c.expect(th), 1e-9) << c.type << " " << c.deg;
    }
    // A tube of radius -1 on a tilted plane: its support lies 1 / cos along the axis the other way.
    const double k = std::tan(M_PI / 6);
    const Vec3 t[3] = {{-40, -40, -40 * k}, {40, -40, 40 * k}, {0, 40, 0}};
    const KernelBlock b = blockOf(3, -1, -1, t, {0, 0, 100});
    EXPECT_NEAR(sweepPlaneTravel(3, &b), 100 + 1 / std::cos(M_PI / 6), 1e-9);
}

// No plane travel where the motion runs along the plane (cosine below 1e-3), the triangle has no plane
// or the type no kernel; just above that cosine the ball's closed form holds.
TEST(Sweep, PlaneTravelWithoutAPlane) {
    const double inf = std::numeric_limits<double>::infinity();
    const Vec3 down{0, 0, -1};
    sweepSetDirection(&down);
    const struct {
        uint16_t type;
        double cosine;  // of the plane's normal with the motion; 0 for three collinear corners, -1 for a
                        // sliver whose doubled area 6e-6 stays under 1e-5
        double want;
    } cases[] = {{1, 5e-4, -inf},
                 {2, 9e-4, -inf},
                 {3, 0.0, -inf},
                 {2, -1, -inf},
                 {1, 2e-3, 100 - 5 / 2e-3},
                 {3, 2e-3, 100 - 4 * std::sqrt(1 / 4e-6 - 1) - 1 / 2e-3},
                 {0, 1.0, -inf},
                 {12, 0.5, -inf}};
    for (const auto& c : cases) {
        const double k = c.cosine > 0 ? std::sqrt(1 - c.cosine * c.cosine) / c.cosine : 0.0;
        const Vec3 plane[3] = {{-40, -40, -40 * k}, {40, -40, 40 * k}, {0, 40, 0}};
        const Vec3 line[3] = {{-3, 0, 0}, {0, c.cosine < 0 ? 1e-6 : 0, 0}, {3, 0, 0}};
        const KernelBlock b =
            blockOf(c.type, 5, c.type == 3 ? 1 : 0, c.cosine > 0 ? plane : line, {0, 0, 100});
        const double got = sweepPlaneTravel(c.type, &b);
        if (std::isinf(c.want))
            EXPECT_EQ(got, c.want) << c.type << " " << c.cosine;
        else
            EXPECT_NEAR(got, c.want, 1e-9 * std::fabs(c.want)) << c.type << " " << c.cosine;
    }
}

TEST(Sweep, FeatureContactsAndBounds) {
    // A vertical triangle in x = 2 with its top edge at z = 1: only its edge can touch the ball.
    const Vec3 wall[3] = {{2, -10, 1}, {2, 10, 1}, {2, 0, -10}};
    EXPECT_NEAR(liftAtOrigin(1, 5, 0, wall), 1 + std::sqrt(21.0), 1e-9);
    // A corner exactly R from the centre line does not touch; one just inside does.
    const Vec3 at[3] = {{5, 0, 0}, {9, 1, 0}, {9, -1, 0}};
    const Vec3 in[3] = {{4.999, 0, 0}, {9, 1, 0}, {9, -1, 0}};
    EXPECT_EQ(liftAtOrigin(1, 5, 0, at), -1.0);
    EXPECT_NEAR(liftAtOrigin(1, 5, 0, in), std::sqrt(25 - 4.999 * 4.999), 1e-9);
    // A flat end on it: no face contact, its horizontal top edge across the footprint.
    EXPECT_NEAR(liftAtOrigin(2, 5, 0, wall), 1.0, 1e-12);
    // A degenerate triangle (collinear corners, or a sliver whose doubled area 6e-6 is under 1e-5) touches
    // by its edges only.
    for (const double w : {0.0, 1e-6}) {
        const Vec3 sliver[3] = {{-3, 0, 0}, {0, w, 0}, {3, 0, 0}};
        for (const auto& [type, r, lift] : {std::tuple{1, 0.0, 5.0}, {2, 0.0, 0.0}, {3, 1.0, 1.0}}) {
            KernelBlock b = blockOf(type, 5, r, sliver, {0, 0, 100});
            b.best = -100;
            EXPECT_EQ(sweepKernel(type, &b), kSweepEdge) << type << " " << w;
            EXPECT_NEAR(100 + b.best, lift, 1e-9) << type << " " << w;
        }
    }
    const Vec3 line[3] = {{-3, 0, 0}, {0, 0, 0}, {3, 0, 0}};
    // Tool types without a kernel.
    for (uint16_t type : {0, 10, 12}) {
        KernelBlock b = blockOf(type, 5, 0, line, {0, 0, 100});
        int32_t cls = -1;
        EXPECT_TRUE(sweepKernelClass(type, &b, &cls) == kSweepNone && cls == 0) << type;
    }
    // Contact classes: the wall's top edge across a flat bottom is 2; a ball's contacts, a rim or a
    // tube on a slope, or a tube on a steep ridge beyond the flat bottom, are 1.
    const double k = std::tan(M_PI / 6);
    const Vec3 slope[3] = {{-40, -40, -40 * k}, {40, -40, 40 * k}, {0, 40, 0}};
    const Vec3 ridge[3] = {{4.5, 0, 0}, {4.5, 10, -10}, {4.5, -10, -10}};
    const struct {
        uint16_t type;
        double R, r;
        const Vec3* tri;
        int32_t cls;
    } classes[] = {{1, 5, 0, wall, 1},  {1, 5, 0, slope, 1}, {2, 5, 0, wall, 2},
                   {2, 5, 0, slope, 1}, {3, 5, 1, slope, 1}, {3, 5, 1, ridge, 1}};
    const Vec3 down{0, 0, -1};
    sweepSetDirection(&down);
    for (const auto& c : classes) {
        KernelBlock b = blockOf(c.type, c.R, c.r, c.tri, {0, 0, 100});
        b.best = -100;
        int32_t cls = -1;
        EXPECT_NE(sweepKernelClass(c.type, &b, &cls), 0);
        EXPECT_EQ(cls, c.cls) << c.type;
    }
    // A ball 2c from a plane whose normal makes the cosine c with the motion meets it after a travel of 2,
    // where the face takes it from c = 1e-7 on; below that the motion counts as along the plane.
    for (const double c : {2e-7, 0.5e-7}) {
        const double sn = std::sqrt(1 - c * c);
        const Vec3 wall[3] = {{-10 * c, -10, -10}, {-10 * c, 10, -10}, {10 * c, 0, 10}};
        KernelBlock b = blockOf(1, 1, 0, wall, {-(1 + 2 * c) / sn, 0, 0});
        b.best = -5;
        EXPECT_TRUE(sweepKernel(1, &b) == (c >= 1e-7 ? kSweepFace : kSweepNone)) << c;
        EXPECT_NEAR(b.best, c >= 1e-7 ? -2 : -5, 1e-6) << c;
    }
    // The kernels look no farther than 1e6 along the motion: a face 2e6 ahead is no face contact, and
    // that reach becomes the best; a triangle beside the tool (beyond its reach) changes nothing, its
    // reach travel that of its nearest corner along the motion.
    const Vec3 far[3] = {{-40, -40, -2e6}, {40, -40, -2e6}, {0, 40, -2e6}};
    const Vec3 aside[3] = {{10, -4, -5}, {14, 4, -5}, {10, 4, -9}};
    for (const auto& [type, r] : {std::pair{1, 0.0}, {2, 0.0}, {3, 1.0}}) {
        KernelBlock b = blockOf(type, 5, r, far, {0, 0, 0}), m = blockOf(type, 5, r, aside, {0, 0, 0});
        b.best = m.best = -1e9;
        EXPECT_TRUE(sweepKernel(type, &b) == kSweepEdge && b.best == -1e6) << type;
        EXPECT_TRUE(sweepKernel(type, &m) == kSweepNone && m.best == -1e9) << type;
        EXPECT_NEAR(sweepReachTravel(type, &m), 5, 1e-6) << type;
    }
    const KernelBlock tubeless = blockOf(3, 5, 0, aside, {0, 0, 0});  // a torus without a tube: a flat end
    EXPECT_NEAR(sweepReachTravel(3, &tubeless), 5, 1e-6);
    // A plate a million ahead: the reach travel's slack grows with the distances, so it stays no later
    // than the contact (a million less the shape's height ahead on the axis).
    const Vec3 deep[3] = {{-1, -1, 0}, {2, -1, 0}, {-1, 2, 0}};
    sweepSetDirection(&down);
    for (const auto& [type, r, ahead] : {std::tuple{1, 0.0, 5.0}, {2, 0.0, 0.0}, {3, 1.0, 1.0}}) {
        KernelBlock b = blockOf(type, 5, r, deep, {0, 0, 1e6});
        b.best = -2e6;
        ASSERT_NE(sweepKernel(type, &b), kSweepNone) << type;
        EXPECT_NEAR(-b.best, 1e6 - ahead, 1e-6) << type;
        EXPECT_LE(sweepReachTravel(type, &b), -b.best) << type;
    }
}

TEST(Sweep, KernelsMatchBruteForceContact) {
    std::mt19937 gen(2024);
    std::uniform_real_distribution<double> u(-1, 1);
    int contacts = 0;
    for (int it = 0; it < 300; ++it) {
        const uint16_t type = 1 + it % 3;
        const double R = 0.5 + 2.5 * (u(gen) + 1) / 2;
        const double r = type == 3 ? (0.1 + 0.8 * (u(gen) + 1) / 2) * R : 0.0;
        Vec3 d{u(gen), u(gen), u(gen)};
        const double dl = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        if (dl < 0.2) continue;
        d = {d.x / dl, d.y / dl, d.z / dl};
        const double L = 20;
        const Vec3 p{u(gen), u(gen), u(gen)}, s{p.x - L * d.x, p.y - L * d.y, p.z - L * d.z};
        const Vec3 t[3] = {{3 * u(gen), 3 * u(gen), 2 * u(gen)},
                           {3 * u(gen), 3 * u(gen), 2 * u(gen)},
                           {3 * u(gen), 3 * u(gen), 2 * u(gen)}};
        const double travel = sweepTravel(type, R, r, t, s, d, L);
        // In a frame whose up axis is -d the sweep is a drop of the tool from S: the travel to the first
        // contact is minus the highest reference height over the triangle.
        Vec3 u1{-d.y, d.x, 0};
        if (std::fabs(d.z) > 0.9) u1 = {0, -d.z, d.y};
        const double l1 = std::sqrt(u1.x * u1.x + u1.y * u1.y + u1.z * u1.z);
        u1 = {u1.x / l1, u1.y / l1, u1.z / l1};
        const Vec3 u2{d.y * u1.z - d.z * u1.y, d.z * u1.x - d.x * u1.z, d.x * u1.y - d.y * u1.x};
        Triangle3D local;
        for (int i = 0; i < 3; ++i) {
            const Vec3 w{t[i].x - s.x, t[i].y - s.y, t[i].z - s.z};
            local.p[i] = {vecDot3D(&w, &u1), vecDot3D(&w, &u2), -vecDot3D(&w, &d)};
        }
        const double want = -testmesh::bruteDrop(type, R, r, local, 0, 0);
        if (want < L - 1e-6) {
            ++contacts;
            EXPECT_NEAR(travel, L - want, 1e-6) << it << " type " << type;
        } else if (want > L + 1e-6) {
            EXPECT_EQ(travel, -1.0) << it;
        }
    }
    EXPECT_GT(contacts, 100);
}

// No kernel finds a contact before the tool meets the triangle's plane, nor before it could reach the
// triangle's nearest corner along the motion at the triangle's distance from the axis: seeded
// triangles, tools and directions, many planes nearly across the motion (where the flat kernels take
// the axis travel), every third triangle with a corner a hair inside or outside the tool's reach.
TEST(Sweep, PlaneAndReachTravelsBoundEveryContact) {
    std::mt19937 gen(34);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    int contacts = 0, finite = 0, rim = 0, close = 0;
    for (int q = 0; q < 9000; ++q) {
        const uint16_t type = static_cast<uint16_t>(1 + q % 3);
        const double R = 2 + 2 * (u(gen) + 1), r = type == 3 ? 0.8 : 0.0;
        Vec3 d{0.4 * u(gen), 0.4 * u(gen), -1};
        if (q % 4 == 0) d = {0, 0, -1};
        const double l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        d = {d.x / l, d.y / l, d.z / l};
        const double tilt = q % 5 == 0 ? 1e-4 : 1.0;
        Vec3 t[3];
        for (Vec3& p : t) {
            p = {6 * u(gen), 6 * u(gen), 0};
            p.z = tilt * (0.7 * p.x * u(gen) + 3 * u(gen));
        }
        const Vec3 start{u(gen), u(gen), 30};
        if (q % 3 == 0) {
            const Vec3 w{t[0].x - start.x, t[0].y - start.y, t[0].z - start.z};
            const double e = w.x * d.x + w.y * d.y + w.z * d.z;
            const Vec3 a{w.x - e * d.x, w.y - e * d.y, w.z - e * d.z};
            const double k = R * (1 + 1e-9 * u(gen)) / std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
            t[0] = {start.x + e * d.x + k * a.x, start.y + e * d.y + k * a.y, start.z + e * d.z + k * a.z};
        }
        sweepSetDirection(&d);
        const KernelBlock b = blockOf(type, R, r, t, start);
        const double plane = sweepPlaneTravel(type, &b), reach = sweepReachTravel(type, &b);
        finite += std::isfinite(plane);
        const double lift = sweepTravel(type, R, r, t, start, d, 200);
        if (lift < 0) continue;
        ++contacts;
        rim += q % 3 == 0;
        close += 200 - lift - reach < 0.05;  // near enough to pass triangles over
        EXPECT_GE(200 - lift, plane - 1e-9) << q;
        EXPECT_GE(200 - lift, reach) << q;
    }
    EXPECT_GT(contacts, 3000);
    EXPECT_GT(finite, 7500);
    EXPECT_GT(rim, 1000);
    EXPECT_GT(close, 300);
}

// First contact of each shape with a segment against the least travel e + lag(rho) over the part of the
// segment within reach of the axis (the lag from the shape's profile: sphere -sqrt(a^2 - rho^2), disc 0,
// torus -r under its flat bottom then its tube, frustum z1 then the straight flank to z2 at r2), found
// by dense samples and a ternary search about the best (the travel is convex along the segment):
// seeded shapes, motions and segments near the axis. The reach and the contact's flat flag are the
// shape's own.
TEST(Sweep, SegmentContactIsTheLeastTravelOverTheSegment) {
    std::mt19937 gen(743);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int hits = 0, misses = 0;
    for (int q = 0; q < 400; ++q) {
        const int32_t kind = 1 + q % 4;
        SweepShape sh{kind, 0.5 + 2.5 * u(gen), 0.3 + 1.2 * u(gen), 2 * u(gen), 0, 3 * u(gen), 0};
        sh.r2 = q % 16 == 3 ? sh.r1 * u(gen) : sh.r1 + 0.5 + 2 * u(gen);  // now and then no flank
        sh.z2 = sh.z1 + 0.5 + 4 * u(gen);
        const double reach = kind == kShapeTorus     ? sh.a + sh.r
                             : kind == kShapeFrustum ? std::max(sh.r1, sh.r2)
                                                     : sh.a;
        EXPECT_EQ(sweepShapeReach(&sh), reach);
        auto lag = [&](double rho) {
            switch (kind) {
                case kShapeSphere:
                    return -std::sqrt(std::max(0.0, sh.a * sh.a - rho * rho));
                case kShapeTorus:
                    return rho <= sh.a ? -sh.r
                                       : -std::sqrt(std::max(0.0, sh.r * sh.r - (rho - sh.a) * (rho - sh.a)));
                case kShapeFrustum:
                    return sh.r1 >= sh.r2 || rho <= sh.r1
                               ? sh.z1
                               : sh.z1 + (rho - sh.r1) * (sh.z2 - sh.z1) / (sh.r2 - sh.r1);
                default:
                    return 0.0;
            }
        };
        Vec3 d{2 * u(gen) - 1, 2 * u(gen) - 1, 2 * u(gen) - 1};
        const double dl = std::sqrt(vecDot3D(&d, &d));
        d = {d.x / dl, d.y / dl, d.z / dl};
        const Vec3 s{u(gen), u(gen), u(gen)};
        auto near = [&] {
            return Vec3{s.x + 1.5 * reach * (2 * u(gen) - 1), s.y + 1.5 * reach * (2 * u(gen) - 1),
                        s.z + 1.5 * reach * (2 * u(gen) - 1)};
        };
        // Now and then a segment along the motion (or a point): all of it at one distance from the axis.
        const double along = q % 18 == 4 ? 0.0 : 3 * u(gen) - 1.5;
        const Vec3 a = near(),
                   b = q % 9 == 4 ? Vec3{a.x + along * d.x, a.y + along * d.y, a.z + along * d.z} : near();
        // The part of the segment within reach of the axis: |p0 + t pe|^2 <= reach^2 across the motion.
        const Vec3 w0{a.x - s.x, a.y - s.y, a.z - s.z}, ev{b.x - a.x, b.y - a.y, b.z - a.z};
        const double e0 = vecDot3D(&w0, &d), ed = vecDot3D(&ev, &d);
        const Vec3 p0{w0.x - e0 * d.x, w0.y - e0 * d.y, w0.z - e0 * d.z},
            pe{ev.x - ed * d.x, ev.y - ed * d.y, ev.z - ed * d.z};
        const double A = vecDot3D(&pe, &pe), B = vecDot3D(&p0, &pe), C = vecDot3D(&p0, &p0);
        const double disc = B * B - A * (C - reach * reach);
        const double t0 = std::max(0.0, (-B - std::sqrt(std::max(disc, 0.0))) / A),
                     t1 = std::min(1.0, (-B + std::sqrt(std::max(disc, 0.0))) / A);
        auto travel = [&](double t) {
            const Vec3 p{p0.x + t * pe.x, p0.y + t * pe.y, p0.z + t * pe.z};
            return e0 + t * ed + lag(std::min(std::sqrt(vecDot3D(&p, &p)), reach));
        };
        double best = std::numeric_limits<double>::infinity();
        if (q % 9 == 4) {
            if (C <= reach * reach) best = e0 + std::min(0.0, ed) + lag(std::sqrt(C));
        } else if (disc > 0 && t0 <= t1) {
            double bestT = t0;
            for (int i = 0; i <= 2000; ++i) {
                const double t = t0 + (t1 - t0) * i / 2000.0;
                if (travel(t) < best) best = travel(t), bestT = t;
            }
            double lo = std::max(t0, bestT - (t1 - t0) / 2000), hi = std::min(t1, bestT + (t1 - t0) / 2000);
            for (int it = 0; it < 100; ++it) {
                const double m1 = lo + (hi - lo) / 3, m2 = hi - (hi - lo) / 3;
                if (travel(m1) < travel(m2))
                    hi = m2;
                else
                    lo = m1;
            }
            best = std::min(best, travel(0.5 * (lo + hi)));
        }
        SweepHit hit{};
        const int got = sweepSegment(&sh, &a, &b, &s, &d, reach, &hit);
        if (!std::isfinite(best)) {
            EXPECT_EQ(got, 0) << q;
            ++misses;
            continue;
        }
        ASSERT_EQ(got, 1) << q << " kind " << kind;
        ++hits;
        EXPECT_NEAR(hit.travel, best, 1e-7 * (1 + std::fabs(best))) << q << " kind " << kind;
        EXPECT_NEAR(travel(hit.t), hit.travel, 1e-7 * (1 + std::fabs(best))) << q;
        EXPECT_TRUE(hit.t >= 0.0 && hit.t <= 1.0 && hit.point.x == a.x + hit.t * (b.x - a.x)) << q;
        const Vec3 w{hit.point.x - s.x, hit.point.y - s.y, hit.point.z - s.z};
        const double e = vecDot3D(&w, &d);
        const Vec3 p{w.x - e * d.x, w.y - e * d.y, w.z - e * d.z};
        const double rho = std::sqrt(vecDot3D(&p, &p));
        const bool flat = kind == kShapeDisc || (kind == kShapeTorus && rho <= sh.a) ||
                          (kind == kShapeFrustum && (sh.r1 >= sh.r2 || rho <= sh.r1));
        const double edge = kind == kShapeTorus ? sh.a : sh.r1;
        if (kind == kShapeDisc || std::fabs(rho - edge) > 1e-6) {
            EXPECT_EQ(hit.flat, flat ? 1 : 0) << q;
        }
    }
    EXPECT_GT(hits, 250);
    EXPECT_GT(misses, 20);
    // A disc moving down over a segment rising to an end b within its reach rests on b: t is 1 up to
    // rounding and never past the segment, however the plan distances round.
    const Vec3 down{0, 0, -1}, axis{0, 0, 0};
    for (int q = 0; q < 3000; ++q) {
        const SweepShape disc{kShapeDisc, 1 + u(gen), 0, 0, 0, 0, 0};
        const Vec3 b{0.7 * disc.a * (2 * u(gen) - 1), 0.7 * disc.a * (2 * u(gen) - 1), u(gen)};
        const Vec3 a{b.x + 4 * (2 * u(gen) - 1), b.y + 4 * (2 * u(gen) - 1), b.z - 0.1 - u(gen)};
        SweepHit hit{};
        ASSERT_EQ(sweepSegment(&disc, &a, &b, &axis, &down, disc.a, &hit), 1) << q;
        EXPECT_TRUE(hit.t <= 1.0 && hit.t > 1 - 1e-12 && std::fabs(hit.travel + b.z) < 1e-12) << q;
    }
    // A segment across the motion meets the disc all at once: the contact is where it comes nearest the axis.
    for (const auto& [x0, x1, t] : {std::tuple{-3.0, 3.0, 0.5}, {0.5, 1.5, 0.0}, {-1.5, -0.5, 1.0}}) {
        const SweepShape disc{kShapeDisc, 2, 0, 0, 0, 0, 0};
        const Vec3 a{x0, 1, -2}, b{x1, 1, -2};
        SweepHit hit{};
        ASSERT_EQ(sweepSegment(&disc, &a, &b, &axis, &down, disc.a, &hit), 1);
        EXPECT_TRUE(hit.t == t && hit.travel == 2) << x0;
    }
}
