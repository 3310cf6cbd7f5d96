#include "collision/sweep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

namespace {

const Vec3 kDown{0, 0, -1};

// Lift of a tool standing at the origin after a sweep straight down from height L, or -1 for none.
double liftAtOrigin(uint16_t type, double R, double r, const Vec3 (&t)[3], double L = 100.0) {
    sweepSetDirection(&kDown);
    KernelBlock b{};
    for (int i = 0; i < 3; ++i) b.tri[i] = t[i];
    b.start = {0, 0, L};
    b.best = -L;
    b.radius = b.radius2 = type == 3 ? R - r : R;
    b.cornerRadius = r;
    return sweepKernel(type, &b) ? L + b.best : -1.0;
}

// First contact travel by direct minimisation of the travel over the triangle's points: a coarse grid
// then repeated zooming, valid because the travel is convex over the reachable part of the triangle.
double bruteTravel(const SweepShape& sh, const Vec3 (&t)[3], const Vec3& s, const Vec3& d) {
    auto travel = [&](double u, double v) {
        if (u < 0 || v < 0 || u + v > 1) return std::numeric_limits<double>::infinity();
        const Vec3 x{t[0].x + u * (t[1].x - t[0].x) + v * (t[2].x - t[0].x),
                     t[0].y + u * (t[1].y - t[0].y) + v * (t[2].y - t[0].y),
                     t[0].z + u * (t[1].z - t[0].z) + v * (t[2].z - t[0].z)};
        const Vec3 w{x.x - s.x, x.y - s.y, x.z - s.z};
        const double e = w.x * d.x + w.y * d.y + w.z * d.z;
        const double rho = std::sqrt(std::fmax(0.0, w.x * w.x + w.y * w.y + w.z * w.z - e * e));
        // Features count up to the kernels' acceptance bound; a disc's rim is searched below.
        if (rho > sweepShapeReach(&sh) - (sh.kind == kShapeDisc ? 0.0 : 1e-7))
            return std::numeric_limits<double>::infinity();
        return e + sweepShapeLag(&sh, rho);
    };
    double bu = 0, bv = 0, best = std::numeric_limits<double>::infinity();
    const int n = 80;
    for (int i = 0; i <= n; ++i)
        for (int j = 0; i + j <= n; ++j)
            if (const double f = travel(double(i) / n, double(j) / n); f < best)
                best = f, bu = double(i) / n, bv = double(j) / n;
    for (double w = 2.0 / n; w > 1e-13; w *= 0.6) {
        const double cu = bu, cv = bv;
        for (int i = -10; i <= 10; ++i)
            for (int j = -10; j <= 10; ++j)
                if (const double f = travel(cu + w * i / 10, cv + w * j / 10); f < best)
                    best = f, bu = cu + w * i / 10, bv = cv + w * j / 10;
    }
    if (sh.kind != kShapeDisc) return best;
    // A flat disc makes the travel linear, so its least value lies on the boundary of the reachable
    // part of the triangle: along the edges, or where the rim meets the face. Both are 1D searches.
    auto zoom1D = [](auto&& f) {
        double bt = 0, bf = std::numeric_limits<double>::infinity();
        for (int i = 0; i <= 4000; ++i)
            if (const double v = f(i / 4000.0); v < bf) bf = v, bt = i / 4000.0;
        for (double w = 1.0 / 4000; w > 1e-15; w *= 0.1)
            for (int i = -100; i <= 100; ++i)
                if (const double v = f(bt + w * i / 50); v < bf) bf = v, bt = bt + w * i / 50;
        return bf;
    };
    for (int k = 0; k < 3; ++k) {
        const Vec3 a = t[k], c = t[(k + 1) % 3];
        best = std::fmin(best, zoom1D([&](double tt) {
                             if (tt < 0 || tt > 1) return std::numeric_limits<double>::infinity();
                             const Vec3 w{a.x + tt * (c.x - a.x) - s.x, a.y + tt * (c.y - a.y) - s.y,
                                          a.z + tt * (c.z - a.z) - s.z};
                             const double e = w.x * d.x + w.y * d.y + w.z * d.z;
                             const double rho2 = w.x * w.x + w.y * w.y + w.z * w.z - e * e;
                             return rho2 <= sh.a * sh.a ? e : std::numeric_limits<double>::infinity();
                         }));
    }
    const Vec3 e1{t[1].x - t[0].x, t[1].y - t[0].y, t[1].z - t[0].z},
        e2{t[2].x - t[0].x, t[2].y - t[0].y, t[2].z - t[0].z};
    const Vec3 nrm{e1.y * e2.z - e1.z * e2.y, e1.z * e2.x - e1.x * e2.z, e1.x * e2.y - e1.y * e2.x};
    Vec3 u1{-d.y, d.x, 0};
    if (std::fabs(d.z) > 0.9) u1 = {0, -d.z, d.y};
    const double l1 = std::sqrt(u1.x * u1.x + u1.y * u1.y + u1.z * u1.z);
    u1 = {u1.x / l1, u1.y / l1, u1.z / l1};
    const Vec3 u2{d.y * u1.z - d.z * u1.y, d.z * u1.x - d.x * u1.z, d.x * u1.y - d.y * u1.x};
    const double nd = nrm.x * d.x + nrm.y * d.y + nrm.z * d.z;
    if (std::fabs(nd) > 1e-9) {
        best = std::fmin(
            best, zoom1D([&](double f) {
                const double ph = 2 * M_PI * f, cs = std::cos(ph), sn = std::sin(ph);
                const Vec3 y{s.x + sh.a * (cs * u1.x + sn * u2.x), s.y + sh.a * (cs * u1.y + sn * u2.y),
                             s.z + sh.a * (cs * u1.z + sn * u2.z)};
                const double tr =
                    ((t[0].x - y.x) * nrm.x + (t[0].y - y.y) * nrm.y + (t[0].z - y.z) * nrm.z) / nd;
                const Vec3 w{y.x + tr * d.x - t[0].x, y.y + tr * d.y - t[0].y, y.z + tr * d.z - t[0].z};
                const double d00 = e1.x * e1.x + e1.y * e1.y + e1.z * e1.z,
                             d01 = e1.x * e2.x + e1.y * e2.y + e1.z * e2.z;
                const double d11 = e2.x * e2.x + e2.y * e2.y + e2.z * e2.z;
                const double d20 = w.x * e1.x + w.y * e1.y + w.z * e1.z,
                             d21 = w.x * e2.x + w.y * e2.y + w.z * e2.z;
                const double den = d00 * d11 - d01 * d01;
                const double uu = (d11 * d20 - d01 * d21) / den, vv = (d00 * d21 - d01 * d20) / den;
                return uu >= 0 && vv >= 0 && uu + vv <= 1 ? tr : std::numeric_limits<double>::infinity();
            }));
    }
    return best;
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
    } cases[] = {{1, 5, 0, 0, 0},  {1, 5, 0, 30, 0}, {1, 2, 0, 60, -3}, {2, 5, 0, 30, 0},
                 {2, 3, 0, 10, 1}, {3, 5, 1, 30, 0}, {3, 5, 1, 45, 2},  {3, 4, 2, 5, -1}};
    for (const Case& c : cases) {
        const double th = c.deg * M_PI / 180, k = std::tan(th);
        const Vec3 t[3] = {{-40, -40, c.z0 - 40 * k}, {40, -40, c.z0 + 40 * k}, {0, 40, c.z0}};
        EXPECT_NEAR(liftAtOrigin(c.type, c.R, c.r, t), c.expect(th), 1e-9) << c.type << " " << c.deg;
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
    // A flat end on a vertical triangle: no face contact, its horizontal top edge across the footprint.
    const Vec3 vert[3] = {{2, -10, 1}, {2, 10, 1}, {2, 0, -10}};
    EXPECT_NEAR(liftAtOrigin(2, 5, 0, vert), 1.0, 1e-12);
    const Vec3 beside[3] = {{6, -10, 1}, {6, 10, 1}, {6, 0, -10}};
    EXPECT_EQ(liftAtOrigin(2, 5, 0, beside), -1.0);
    // A degenerate triangle (collinear corners) touches by its edges only.
    const Vec3 line[3] = {{-3, 0, 0}, {0, 0, 0}, {3, 0, 0}};
    EXPECT_NEAR(liftAtOrigin(1, 5, 0, line), 5.0, 1e-9);
    EXPECT_NEAR(liftAtOrigin(3, 5, 1, line), 1.0, 1e-9);
    // Tool types without a kernel.
    for (uint16_t type : {0, 10, 12}) EXPECT_EQ(liftAtOrigin(type, 5, 0, line), -1.0);
}

TEST(Sweep, FaceAnswersTwoAndTiesFollowTheShape) {
    const Vec3 flat[3] = {{-10, -10, 0}, {10, -10, 0}, {0, 10, 0}};
    sweepSetDirection(&kDown);
    KernelBlock b{};
    for (int i = 0; i < 3; ++i) b.tri[i] = flat[i];
    b.start = {0, 0, 10};
    b.best = -10;
    b.radius = b.radius2 = 2;
    EXPECT_EQ(sweepBall(&b), kSweepFace);
    EXPECT_DOUBLE_EQ(b.best, -8.0);
    EXPECT_EQ(sweepBall(&b), kSweepNone);  // a tie does not raise a ball's best
    b.best = -10;
    EXPECT_EQ(sweepDisc(&b), kSweepFace);
    EXPECT_EQ(sweepDisc(&b), kSweepFace);  // a flat end accepts it
}

TEST(Sweep, KernelsMatchDirectMinimisation) {
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
        sweepSetDirection(&d);
        KernelBlock b{};
        for (int i = 0; i < 3; ++i) b.tri[i] = t[i];
        b.start = s;
        b.best = -L;
        b.radius = b.radius2 = type == 3 ? R - r : R;
        b.cornerRadius = r;
        const bool hit = sweepKernel(type, &b) != 0;
        const SweepShape sh{type, type == 3 ? R - r : R, r, 0, 0, 0, 0};
        const double want = bruteTravel(sh, t, s, d);
        if (want < L - 1e-6) {
            ++contacts;
            ASSERT_TRUE(hit) << it;
            EXPECT_NEAR(L + b.best, L - want, 1e-6) << it << " type " << type;
        } else if (want > L + 1e-6) {
            EXPECT_FALSE(hit) << it;
        }
    }
    EXPECT_GT(contacts, 100);
}
