#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "avoidance/axisintervals.h"
#include "kernel/base/rng.h"
#include "toolsolid.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Tool point at the origin, tilting from A = z towards W = x about U = y.
const AxisFrame kFrame{{0, 0, 0}, {0, 0, 1}, {0, 1, 0}, {1, 0, 0}};

}  // namespace

// A ring touches a plane at angles where y = n . axis solves (h + Z y)^2 = R^2 (1 - y^2); y = rho sin(..)
// has two angles a turn for |y| < rho, a double one at |y| = rho and none past it. Cases put y / rho
// exactly at 1 and -1, just inside and just outside.
TEST(AxisIntervalsBand, RingPlaneAnglesCountAtTheEdgeOfReach) {
    const struct {
        double Z, R, h, nA;  // n = (nA along A, 0 along W, the rest along U)
        int pairs;
    } cases[] = {
        {-2, 0, 1, 0.5, 2},                                              // y / rho = 1 exactly
        {-2, 0, -1, 0.5, 2},                                             // -1 exactly
        {-2, 0, 1.01, 0.5, 0},                                           // just past
        {-2, 0, 0.99, 0.5, 2}, {2, 0, -1, 0.5, 2},  {-4, 0, 1, 0.5, 2},  // well inside
        {0, 0, 1, 0.5, 0},                                               // no ring at all
        {3, 4, 6, 0.6, 0},                           // the ring's reach below the plane's distance
        {-2, 1, 1, 0.5, 1},    {-2, 1, -1, 0.5, 1},  // one root in reach (y = 0), the other past it
    };
    for (const auto& c : cases) {
        const Vec3 n{0, std::sqrt(1 - c.nA * c.nA), c.nA};
        const Vec3 tri[3] = {O::mul(-c.h, n), O::add(O::mul(-c.h, n), Vec3{1, 0, 0}),
                             O::add(O::mul(-c.h, n), Vec3{0, 0, 1})};
        double t[4] = {9, 9, 9, 9}, phi[4], a[4], b[4];
        int inside[4] = {-1, -1, -1, -1};
        const int pairs = ringPlaneAngles(&kFrame, c.Z, c.R, tri, &n, c.h, t, inside, phi, a, b);
        EXPECT_EQ(pairs, c.pairs) << c.Z << " " << c.h;
        // Entries past the count are neither read nor written: a caller's may hold anything.
        for (int q = 2 * pairs; q < 4; ++q) EXPECT_TRUE(t[q] == 9 && inside[q] == -1) << c.h << " " << q;
        for (int q = 0; q < 2 * pairs; ++q) {
            const double y = c.nA * std::cos(t[q]);
            EXPECT_NEAR((c.h + c.Z * y) * (c.h + c.Z * y), c.R * c.R * (1 - y * y), 1e-9) << c.h << " " << q;
        }
    }
    // The point ring (R = 0) at height -2 touches the plane n . x = -1.6 at (0, 0, -2) exactly, upright.
    // On an edge of the triangle it counts as inside, past a corner not.
    const Vec3 n{0, 0.6, 0.8}, e1{1, 0, 0}, e2{0, 0.8, -0.6};
    const struct {
        Vec3 v0, u, w;
        int inside;
    } tris[] = {{{-0.5, 0, -2}, e1, e2, 1}, {{-0.5, 0, -2}, e2, e1, 1}, {{0.5, 0, -2}, e1, e2, 0}};
    for (const auto& c : tris) {
        const Vec3 tri[3] = {c.v0, O::add(c.v0, c.u), O::add(c.v0, c.w)};
        double t[4], phi[4], a[4], b[4];
        int inside[4];
        ASSERT_EQ(ringPlaneAngles(&kFrame, -2, 0, tri, &n, 1.6, t, inside, phi, a, b), 2);
        for (int q = 0; q < 4; ++q) EXPECT_EQ(inside[q], c.inside) << c.v0.x << " " << q;
    }
    // A ring (Z -2, R 1) touches the plane z = -1.8 at x = +-sqrt(1.76), y = 0, from above at two tilts
    // and from below at two. Tilted towards -x it touches at x > 0: on the edge y = 0 of the triangle
    // beyond x = 0 (inside), else past its side x = 0.
    const Vec3 up{0, 0, 1}, flat[3] = {{0, 0, -1.8}, {10, 0, -1.8}, {0, 10, -1.8}};
    double t[4], phi[4], a[4], b[4];
    int inside[4];
    ASSERT_EQ(ringPlaneAngles(&kFrame, -2, 1, flat, &up, 1.8, t, inside, phi, a, b), 2);
    for (int q = 0; q < 4; ++q) EXPECT_EQ(inside[q], t[q] < 0) << q << " " << t[q];
}

namespace {

// Tilted frame of a seeded swing, as in the kernel tests.
AxisFrame swingFrame() {
    const double tilt = O::uni(0.2, 1.4), az = O::uni(-kPi, kPi);
    AxisFrame f;
    f.P = {O::uni(-5, 5), O::uni(-5, 5), O::uni(-5, 5)};
    f.A = {std::sin(tilt) * std::cos(az), std::sin(tilt) * std::sin(az), std::cos(tilt)};
    f.U = {-std::sin(az), std::cos(az), 0.0};
    f.W = O::cross(f.U, f.A);
    return f;
}

Vec3 bandPoint(const AxisFrame& f, double t, double u, double r, double phi) {
    const Vec3 a = O::add(O::mul(std::cos(t), f.A), O::mul(std::sin(t), f.W));
    const Vec3 n = O::add(O::mul(-std::sin(t), f.A), O::mul(std::cos(t), f.W));
    return O::add(O::add(f.P, O::mul(u, a)),
                  O::mul(r, O::add(O::mul(std::cos(phi), n), O::mul(std::sin(phi), f.U))));
}

}  // namespace

// The first (side 0) or last (side 1) contact of a band with an edge window: the extreme tilt over a
// dense sampling of the window's points on the band where that extreme lies inside the window, whether
// the window's ends lie on the band or off it; the contact point lies on the window. A window whose ends
// lie off the band on one side of the swing plane, or past the band's reach, has none.
TEST(AxisIntervalsBand, EdgeContactIsTheExtremeTiltOverTheWindow) {
    rngSeed(71);
    const std::vector<double> z = {0.0, 4.0, 20.0, 35.0}, r = {1.5, 3.0, 3.0, 7.0};
    TriList* tl = triListCreate(1);
    ASSERT_NE(tl, nullptr);
    const Triangle3D one{{{30, 0, 0}, {31, 0, 0}, {30, 1, 0}}};
    triListAdd(tl, &one);
    AxisObstacleModel* m = axisModelCreate(tl, 4, z.data(), r.data());
    triListFree(tl);
    ASSERT_NE(m, nullptr);
    constexpr int kSamples = 2000;
    // The extreme sampled tilt over the band's own stretch of u, its sample, and the on-band run.
    struct Sampled {
        double best;
        int at = -1, first = -1, last = -1;
    };
    const auto sample = [&](const AxisFrame& f, int i, int side, Vec3 lo, Vec3 hi) {
        Sampled out{side ? -1e9 : 1e9};
        double t1, t2, p1, p2, us, s;
        for (int q = 0; q <= kSamples; ++q) {
            const Vec3 X = O::add(lo, O::mul(double(q) / kSamples, O::sub(hi, lo)));
            if (!bandAtPoint(&f, m, i, &X, &t1, &t2, &p1, &p2, &us, &s) || us < z[i] || us > z[i + 1])
                continue;
            const double tt = angleWrapNear(side ? t2 : t1, 0.0);
            if (side ? tt > out.best : tt < out.best) out.best = tt, out.at = q;
            out.last = q;
            if (out.first < 0) out.first = q;
        }
        return out;
    };
    int found = 0, none = 0, endsOn[2] = {0, 0};
    for (int k = 0; k < 40; ++k) {
        const AxisFrame f = swingFrame();
        const int i = k % 3, side = (k / 3) % 2;
        // A window across the swing plane, through the band's reach at a moderate tilt.
        const double u = O::uni(z[i] + 0.2, z[i + 1] - 0.2), t0 = O::uni(-0.8, 0.8);
        const double ru = r[i] + (r[i + 1] - r[i]) * (u - z[i]) / (z[i + 1] - z[i]);
        const Vec3 c = bandPoint(f, t0, u, ru, side ? kPi : 0.0);
        // Every fifth window lies past the band's reach, crossing the swing plane or on one side of it.
        const bool far = k % 5 == 4;
        const double w = far ? 6.0 : O::uni(-0.1, -0.02);
        const Vec3 across = O::mul(O::uni(1.1, 1.6) * ru, f.U), off = O::mul(w, O::sub(c, f.P));
        const Vec3 lo = O::add(O::add(c, off), O::mul(k % 10 == 9 ? 0.3 : -1.0, across)),
                   hi = O::add(O::add(c, off), across);
        const Sampled whole = sample(f, i, side, lo, hi);
        if (whole.first == 0 || whole.last == kSamples) continue;
        // The window itself, and cut to end just inside its on-band run at either end or both.
        const auto at = [&](int q) { return O::add(lo, O::mul(double(q) / kSamples, O::sub(hi, lo))); };
        const int a = whole.first + 3, b = whole.last - 3;
        const bool run = whole.at >= 0 && b - a > 20;
        const std::pair<Vec3, Vec3> windows[] = {{lo, hi}, {at(a), hi}, {lo, at(b)}, {at(a), at(b)}};
        for (int wi = 0; wi < (run ? 4 : 1); ++wi) {
            const Vec3 wlo = windows[wi].first, whi = windows[wi].second;
            const Sampled sm = wi ? sample(f, i, side, wlo, whi) : whole;
            double t = NAN, phi = NAN, uu = NAN;
            const int got = bandEdgeContact(&f, m, i, &wlo, &whi, side, &t, &phi, &uu);
            if (sm.at < 0) {
                EXPECT_EQ(got, 0) << k;
                ++none;
                continue;
            }
            const bool inner = sm.at > 10 && sm.at < kSamples - 10;  // the extreme lies inside the window
            if (!inner) continue;
            EXPECT_EQ(got, 1) << k << " " << wi;
            if (got != 1) continue;
            ++found;
            endsOn[0] += (wi & 1) != 0, endsOn[1] += wi > 1;
            EXPECT_NEAR(angleWrapNear(t, sm.best), sm.best, 1e-6) << k << " " << wi;
            // The contact point lies on the window, on the band's surface at u.
            const double rr = r[i] + (r[i + 1] - r[i]) * (uu - z[i]) / (z[i + 1] - z[i]);
            const Vec3 X = bandPoint(f, t, uu, rr, phi), d = O::sub(whi, wlo), v = O::sub(X, wlo);
            const double e = O::dot(v, d) / O::dot(d, d);
            const Vec3 gap = O::sub(v, O::mul(e, d));
            EXPECT_LT(std::sqrt(O::dot(gap, gap)), 1e-11) << k;  // Newton ends past its 1e-9 test
            EXPECT_TRUE(e > 0 && e < 1) << k << " " << e;
            EXPECT_TRUE(uu >= z[i] && uu <= z[i + 1]) << k;
        }
    }
    EXPECT_GT(found, 60);
    EXPECT_GT(none, 3);
    EXPECT_GT(endsOn[0], 15);
    EXPECT_GT(endsOn[1], 15);
    axisModelFree(m);
}
// A window where Newton from the coarse scan over the whole window fails: the rescan around the best
// coarse point still finds the greatest tilt of the window's points on band 2.
TEST(AxisIntervalsBand, ContactSearchRescansAroundTheBestCoarsePoint) {
    const double z[] = {0.0, 4.0, 20.0, 35.0}, r[] = {1.5, 3.0, 3.0, 7.0};
    TriList* tl = triListCreate(1);
    ASSERT_NE(tl, nullptr);
    const Triangle3D one{{{30, 0, 0}, {31, 0, 0}, {30, 1, 0}}};
    triListAdd(tl, &one);
    AxisObstacleModel* m = axisModelCreate(tl, 4, z, r);
    triListFree(tl);
    ASSERT_NE(m, nullptr);
    const AxisFrame f{{4.5299936179071665, -0.57701265439391136, -1.9017163477838039},
                      {-0.27521378914405581, -0.40010596792577913, 0.87416965441220074},
                      {0.82390641391882979, -0.56672587827221532, 0},
                      {-0.49541456515567339, -0.72023398512341907, -0.48562064958654028}};
    const Vec3 lo{-2.6621909386903715, -15.652913672486411, 19.650197857714886},
        hi{-5.7695258505136442, -10.930561197558509, 10.393184656001324};
    double best = -1e9, t1, t2, p1, p2, us, s;
    for (int q = 0; q <= 4000; ++q) {
        const Vec3 X = O::add(lo, O::mul(q / 4000.0, O::sub(hi, lo)));
        if (bandAtPoint(&f, m, 2, &X, &t1, &t2, &p1, &p2, &us, &s) && us >= z[2] && us <= z[3])
            best = std::fmax(best, angleWrapNear(t2, 0.0));
    }
    const double start[4] = {0, 0, 0, 0};
    double t = NAN, phi = NAN, u = NAN, e = NAN;
    ASSERT_EQ(bandContactSearch(&f, m, 2, &lo, &hi, 1, 1, start, &t, &phi, &u, &e), 1);
    EXPECT_NEAR(angleWrapNear(t, best), best, 1e-5);
    EXPECT_TRUE(u >= z[2] && u <= z[3] && e > 0 && e < 1) << u << " " << e;
    axisModelFree(m);
}

// A band of no width is the axis segment itself: it meets a large triangle that it pierces, however
// nearly the triangle's plane holds the axis (here n . A = 5e-13, crossing at u = 0.5, edges far off).
TEST(AxisIntervalsBand, NeedleBandMeetsAFaceItPiercesAtAGrazingAngle) {
    const double z[] = {0, 1, 2}, r[] = {0, 0, 1}, na = 5e-13;
    TriList bare{};
    AxisObstacleModel* m = axisModelCreate(&bare, 3, z, r);
    ASSERT_NE(m, nullptr);
    const Vec3 n = O::mul(1 / std::sqrt(1 + na * na), Vec3{1, 0, na});
    auto onPlane = [&](double y, double zz) { return Vec3{-na * (zz - 0.5), y, zz}; };
    const Vec3 tri[3] = {onPlane(-10, -10), onPlane(10, -10), onPlane(0, 10)};
    EXPECT_TRUE(bandHitsTriangle(&kFrame, m, 0, tri, &n, 0.0));
    axisModelFree(m);
}
