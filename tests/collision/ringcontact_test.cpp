#include "collision/ringcontact.h"

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>

#include "geometry/seg3d.h"
#include "meshutil.h"
#include "vecnear.h"

namespace {

constexpr double kR = 10, kr = 2;

RingSweep sweepFrom(double angle, int32_t dir, double endAngle) {
    const Vec2 start{kR * std::cos(angle), kR * std::sin(angle)},
        end{kR * std::cos(endAngle), kR * std::sin(endAngle)};
    return {start, end, {0, 0}, kR, dir};
}

// A large triangle in the vertical plane x = c.
Triangle3D wall(double c) {
    return {{{c, -20, -20}, {c, 20, -20}, {c, 0, 30}}};
}

// Distance of q from the triangle: its face where the foot lies inside, else its nearest edge.
double distToTriangle(const Triangle3D& t, const Vec3& q) {
    const Vec3 e1{t.p[1].x - t.p[0].x, t.p[1].y - t.p[0].y, t.p[1].z - t.p[0].z},
        e2{t.p[2].x - t.p[0].x, t.p[2].y - t.p[0].y, t.p[2].z - t.p[0].z},
        w{q.x - t.p[0].x, q.y - t.p[0].y, q.z - t.p[0].z};
    const double d00 = vecDot3D(&e1, &e1), d01 = vecDot3D(&e1, &e2), d11 = vecDot3D(&e2, &e2);
    const double d20 = vecDot3D(&w, &e1), d21 = vecDot3D(&w, &e2), den = d00 * d11 - d01 * d01;
    const double u = (d11 * d20 - d01 * d21) / den, v = (d00 * d21 - d01 * d20) / den;
    if (u >= 0 && v >= 0 && u + v <= 1) {
        const Vec3 f{t.p[0].x + u * e1.x + v * e2.x, t.p[0].y + u * e1.y + v * e2.y,
                     t.p[0].z + u * e1.z + v * e2.z};
        return std::sqrt((q.x - f.x) * (q.x - f.x) + (q.y - f.y) * (q.y - f.y) + (q.z - f.z) * (q.z - f.z));
    }
    double best = 1e300;
    for (int k = 0; k < 3; ++k)
        best = std::min(best, distPointSeg3D(&t.p[k], &t.p[(k + 1) % 3], &q, nullptr));
    return best;
}

}  // namespace

TEST(RingContact, PlaneAndSweepSpan) {
    ringContactResetState();
    struct Case {
        double c, startAngle, endAngle;
        int32_t dir;
        int want;
    } cases[] = {
        {8, M_PI / 2, M_PI / 2, -1, 1},   // full turn, clockwise down to acos((c - r) / R)
        {8, M_PI / 2, 1.2, -1, 0},        // the arc ends before the contact
        {8, -M_PI / 2, -M_PI / 2, 1, 1},  // counter-clockwise from below
        {13, M_PI / 2, M_PI / 2, -1, 0},  // the plane lies beyond R + r
        // Ends within 1e-5 of the start on both axes (5e-6 off) make a whole turn, 5e-5 off a short arc.
        {8, M_PI, M_PI + 5e-7, 1, 1},
        {8, M_PI / 2, M_PI / 2 + 5e-7, 1, 1},
        {8, M_PI / 2, M_PI / 2 - 5e-6, -1, 0},
    };
    for (const Case& c : cases) {
        const Triangle3D t = wall(c.c);
        const RingSweep s = sweepFrom(c.startAngle, c.dir, c.endAngle);
        Vec3 centre, touch;
        ASSERT_EQ(ringTriContact(&t, &s, kr, 0, &centre, &touch), c.want) << c.c << " " << c.endAngle;
        if (!c.want) continue;
        const double th = std::acos((c.c - kr) / kR);
        EXPECT_XY(EXPECT_NEAR, centre, kR * std::cos(th),
                  c.dir == -1 ? kR * std::sin(th) : -kR * std::sin(th), 1e-9);
        EXPECT_XY(EXPECT_NEAR, touch, c.c, centre.y, 1e-9);
    }
    // A face tilted 45 degrees across the path, the circle 3.5 above z = 0: met where the centre lies r
    // from its plane, x = 2 sqrt 2 - 1, the touch r below it along the normal (1, 0, 1) / sqrt 2.
    const Triangle3D tilted{{{1.5, 8.5, 1}, {1.5, 11.5, 1}, {-1, 10, 3.5}}};
    const RingSweep ccw = sweepFrom(0, 1, 0);
    Vec3 at, touched;
    ASSERT_EQ(ringTriContact(&tilted, &ccw, kr, 3.5, &at, &touched), 1);
    const double x = 2 * M_SQRT2 - 1, y = std::sqrt(kR * kR - x * x);
    EXPECT_XYZ(EXPECT_NEAR, at, x, y, 3.5, 1e-9);
    EXPECT_XYZ(EXPECT_NEAR, touched, x - M_SQRT2, y, 3.5 - M_SQRT2, 1e-9);
    EXPECT_EQ(contactCurrent()->faceContacts, 5);
    EXPECT_EQ(contactCurrent()->edgeContacts, 0);
    // A whole clockwise turn, or one of 1, starting a hair past the contact at th: within 1e-5 it is met
    // at the start, beyond that the turn goes on to a later one.
    const double th = std::acos(0.6);
    for (const auto& [behind, span] : {std::pair{5e-6, 0.0}, {5e-6, 1.0}, {5e-5, 0.0}}) {
        const RingSweep s = sweepFrom(th - behind, -1, th - behind - span);
        Vec3 centre, touch;
        const Triangle3D t = wall(8);
        ASSERT_EQ(ringTriContact(&t, &s, kr, 0, &centre, &touch), 1) << behind << " " << span;
        const double at = std::atan2(centre.y, centre.x);
        EXPECT_TRUE(behind < 1e-5 ? std::fabs(at - th) < 1e-9 : at < th - 0.5) << behind << " " << at;
    }
}

TEST(RingContact, RejectedTrianglesAndEdgeContacts) {
    ringContactResetState();
    const RingSweep s = sweepFrom(M_PI / 2, -1, M_PI / 2);
    const Triangle3D hole{{{1, 0, 0}, {-1, 1, 0}, {-1, -1, 0}}}, high{{{9, 0, 2.5}, {9, 1, 3}, {11, 0, 3}}},
        low{{{9, 0, -2.5}, {9, 1, -3}, {11, 0, -3}}};
    Vec3 c, t;
    for (const Triangle3D& tri : {hole, high, low}) EXPECT_EQ(ringTriContact(&tri, &s, kr, 0, &c, &t), 0);
    RingSweep moved = s;
    EXPECT_EQ(ringTriContact(nullptr, &s, kr, 0, &c, &t), 0);
    EXPECT_EQ(ringTriContact(&hole, nullptr, kr, 0, &c, &t), 0);
    EXPECT_EQ(ringMeshContact(nullptr, &moved, 0, nullptr, 0, &c), 0);
    testmesh::Model bare({hole}, kBallMill, kr);
    bare.m.triangles = nullptr;  // a model without its triangles
    EXPECT_EQ(ringMeshContact(&bare.m, &moved, 0, nullptr, 0, &c), 0);
    // A horizontal triangle reaching only with its edge into the ball's path from below.
    const Triangle3D edge{{{9, 3, -1}, {9, -3, -1}, {30, 0, -10}}};
    ASSERT_EQ(ringTriContact(&edge, &s, kr, 0, &c, &t), 1);
    EXPECT_EQ(contactCurrent()->edgeContacts, 1);
    EXPECT_EQ(contactCurrent()->faceContacts, 0);
    EXPECT_NEAR(t.x, 9, 1e-12);
    EXPECT_NEAR(std::hypot(c.x - t.x, c.y - t.y), std::sqrt(kr * kr - 1), 1e-9);
    // A lone vertex right at a bound of the quick rejections is still met, the ball's centre above it.
    for (const Vec3& v : {Vec3{12, 0, 0}, Vec3{-12, 0, 0}, Vec3{0, 12, 0}, Vec3{0, -12, 0}, Vec3{0, -10, 2},
                          Vec3{0, -10, -2}}) {
        const double ux = v.x / std::hypot(v.x, v.y), uy = v.y / std::hypot(v.x, v.y);
        const Triangle3D tip{
            {v, {v.x + 8 * ux - uy, v.y + 8 * uy + ux, v.z}, {v.x + 8 * ux + uy, v.y + 8 * uy - ux, v.z}}};
        ASSERT_EQ(ringTriContact(&tip, &s, kr, 0, &c, &t), 1) << v.x << " " << v.y << " " << v.z;
        EXPECT_XYZ(EXPECT_NEAR, t, v.x, v.y, v.z, 1e-12);
        EXPECT_XYZ(EXPECT_NEAR, c, kR * ux, kR * uy, 0, 1e-12);
    }
    // A ring of radius 0.5 and a ball of 0.3 meet a vertex 0.79 out first above the x axis (clockwise
    // from the top).
    const RingSweep small{{0, 0.5}, {0, 0.5}, {0, 0}, 0.5, -1};
    const Triangle3D speck{{{0.79, 0, 0}, {8, 1, 0}, {8, -1, 0}}};
    ASSERT_EQ(ringTriContact(&speck, &small, 0.3, 0, &c, &t), 1);
    EXPECT_XYZ(EXPECT_NEAR, t, 0.79, 0, 0, 1e-12);
    const double cs = (0.25 + 0.79 * 0.79 - 0.09) / 0.79;  // by the cosine law in the triangle of R, r, 0.79
    EXPECT_XYZ(EXPECT_NEAR, c, 0.5 * cs, 0.5 * std::sqrt(1 - cs * cs), 0, 1e-12);
    // A wall x = 11.5 above y = 2.5, swept counter-clockwise from (10, 0): its lower edge comes first (a
    // sample at z = 0), while the ball leaves the wall's plane at angle acos(0.95) over its face.
    const RingSweep ccw = sweepFrom(0, 1, 0);
    const Triangle3D beside{{{11.5, 2.5, -2.25}, {11.5, 2.5, 2.25}, {11.5, 30, 0}}};
    ASSERT_EQ(ringTriContact(&beside, &ccw, kr, 0, &c, &t), 1);
    const double p = std::hypot(11.5, 2.5),
                 at = std::atan2(2.5, 11.5) - std::acos((kR * kR + p * p - 4) / (2 * kR * p));
    EXPECT_XYZ(EXPECT_NEAR, c, kR * std::cos(at), kR * std::sin(at), 0, 1e-9);
    EXPECT_XYZ(EXPECT_NEAR, t, 11.5, 2.5, 0, 1e-12);
}

TEST(RingContact, MeshTakesTheFirstOnTheArcAndSetsTheStep) {
    ringContactResetState();
    ASSERT_EQ(contactStateCreate(), 1);
    EXPECT_EQ(contactStateCreate(), 0);
    {  // a new state starts from the defaults
        const ContactState* f = contactCurrent();
        ASSERT_NE(f, nullptr);
        EXPECT_TRUE(f->faceContacts == 0 && f->edgeContacts == 0 && f->step == 0.5);
        EXPECT_TRUE(f->lastTouch.x == 0 && f->lastTouch.y == 0 && f->lastTouch.z == 0);
    }
    // Listed first (higher top) but reached second going clockwise from the top of the circle.
    const Triangle3D later{{{-20, -8, -20}, {20, -8, -20}, {0, -8, 30}}};
    testmesh::Model m({later, wall(8)}, kBallMill, kr);
    ASSERT_GT(m.hi[0].z, m.hi[1].z - 1);
    RingSweep s = sweepFrom(M_PI / 2, -1, M_PI / 2);
    Vec3 centre;
    ASSERT_EQ(ringMeshContact(&m.m, &s, 0, nullptr, 0, &centre), 1);
    EXPECT_NEAR(centre.x, kR * 0.6, 1e-9);
    EXPECT_NEAR(s.end.x, centre.x, 1e-12);
    Vec3 last;
    contactLastPoint(&last);
    EXPECT_NEAR(last.x, 8, 1e-9);
    testmesh::Model alone({wall(8)}, kBallMill, kr);  // the same contact as the model's first element
    RingSweep one = sweepFrom(M_PI / 2, -1, M_PI / 2);
    ASSERT_EQ(ringMeshContact(&alone.m, &one, 0, nullptr, 0, &centre), 1);
    EXPECT_NEAR(centre.x, kR * 0.6, 1e-9);
    // Listed alone, the wall gives that contact too; the list is read to its count and no further, its
    // indices off the mesh passed over.
    const std::unique_ptr<int32_t[]> wallOnly(new int32_t[3]{-1, 1 << 28, 1});
    RingSweep listed = sweepFrom(M_PI / 2, -1, M_PI / 2);
    ASSERT_EQ(ringMeshContact(&m.m, &listed, 0, wallOnly.get(), 3, &centre), 1);
    EXPECT_NEAR(centre.x, kR * 0.6, 1e-9);
    struct Case {
        double tol, r, step;
    } cases[] = {{0.008, 4, std::sqrt(7.992 * 0.008)}, {0.008, 100, 0.5},
                 {0.0, 4, std::sqrt(7.992 * 0.008)},   {-1, 0.1, std::sqrt(0.192 * 0.008)},
                 {0.2, 0.1, std::sqrt(0.192 * 0.008)},  // 2 r and beyond: the default tolerance
                 {0.25, 0.1, std::sqrt(0.192 * 0.008)}};
    for (const Case& c : cases) {
        m.m.tolerance = c.tol;
        m.m.tool->radius = c.r;
        RingSweep q = sweepFrom(M_PI / 2, -1, M_PI / 2);
        ringMeshContact(&m.m, &q, 0, nullptr, 0, &centre);
        EXPECT_NEAR(contactCurrent()->step, c.step, 1e-12) << c.tol << " " << c.r;
    }
    contactFree();
}

// A sweep whose arc reaches just past the full circle's first contact finds that very contact: seeded
// small triangles near the circle, both directions, arcs ending a hair to half a radian beyond it
// (far triangles are passed over without their angles, and on arcs below half a turn edge samples
// too; none that the arc reaches may be). Face and edge contacts are both compared.
TEST(RingContact, ShortArcsKeepTheFullCirclesFirstContact) {
    ringContactResetState();
    std::mt19937 gen(34);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int compared = 0, edgeArcs = 0;
    for (int q = 0; q < 4000; ++q) {
        const double psi = 2 * M_PI * u(gen), rho = kR + (2 * u(gen) - 1) * 1.2 * kr, s = 0.05 + 2 * u(gen);
        const Vec3 c{rho * std::cos(psi), rho * std::sin(psi), (2 * u(gen) - 1) * kr};
        const Triangle3D t{{c,
                            {c.x + s * (u(gen) - 0.5), c.y + s * (u(gen) - 0.5), c.z + s * (u(gen) - 0.5)},
                            {c.x + s * (u(gen) - 0.5), c.y + s * (u(gen) - 0.5), c.z + s * (u(gen) - 0.5)}}};
        // A direction other than +-1 turns counter-clockwise, unfiltered.
        const int32_t dir = q % 2 ? 1 : q % 4 ? -1 : -2, sign = dir == -1 ? -1 : 1;
        const double a0 = 2 * M_PI * u(gen);
        const RingSweep full = sweepFrom(a0, dir, a0);
        Vec3 centre[2], touch[2];
        if (ringTriContact(&t, &full, kr, 0.0, &centre[0], &touch[0]) != 1) continue;
        const double travel = [&] {
            double d = std::atan2(centre[0].y, centre[0].x) - a0;
            while (d > 2 * M_PI) d -= 2 * M_PI;
            while (d < 0) d += 2 * M_PI;
            return dir == -1 && d >= 1e-5 ? 2 * M_PI - d : d;
        }();
        const double beyond = q % 3 == 0 ? 1e-6 : 0.5 * u(gen);
        if (travel + beyond >= 2 * M_PI - 1e-3) continue;
        RingSweep arc = sweepFrom(a0, dir, a0 + sign * (travel + beyond));
        const int32_t edges = contactCurrent()->edgeContacts;
        ASSERT_EQ(ringTriContact(&t, &arc, kr, 0.0, &centre[1], &touch[1]), 1) << q;
        edgeArcs += contactCurrent()->edgeContacts - edges;
        EXPECT_EQ(centre[0].x, centre[1].x) << q;
        EXPECT_EQ(centre[0].y, centre[1].y) << q;
        EXPECT_EQ(touch[0].z, touch[1].z) << q;
        ++compared;
    }
    EXPECT_GT(compared, 1000);
    EXPECT_GT(edgeArcs, 300) << edgeArcs;
}

// The span of a sweep follows its own arc centre whatever sweep was asked before: arcs from the top of
// the circle to its bottom about (5, 0) (127 degrees) and about (-5, 0) (233 degrees), against a wall
// first reached at 162 degrees. The two centres' x differ in their lowest byte by one. Turned clockwise
// the arc about (5, 0) spans 233 degrees.
TEST(RingContact, SpanFollowsEachSweepsOwnCentre) {
    const Triangle3D far{{{-30, -11.5, -20}, {30, -11.5, -20}, {0, -11.5, 30}}};
    const double nearFive = std::nextafter(5.0, 10.0);
    const struct {
        double before, now;
        int want;
        bool clockwise = false;  // the second sweep only
    } cases[] = {{nearFive, -5, 1}, {-5, nearFive, 0}, {-5, -5, 1},
                 {5, 5, 0},         {nearFive, 5, 0},  {5, 5, 1, true}};
    for (const auto& c : cases) {
        ringContactResetState();
        RingSweep s{{0, kR}, {0, -kR}, {c.before, 0}, kR, 1};
        Vec3 centre, touch;
        ringTriContact(&far, &s, kr, 0, &centre, &touch);
        s.centre.x = c.now;
        s.direction = c.clockwise ? -1 : 1;
        ASSERT_EQ(ringTriContact(&far, &s, kr, 0, &centre, &touch), c.want) << c.before << " " << c.now;
        if (c.want) {
            EXPECT_NEAR(centre.y, -11.5 + kr, 1e-9);
        }
    }
    ringContactResetState();
}

// Whole turns against the ball's distance from the triangle along the circle: seeded small triangles
// near it, the circle 3.5 above z = 0, both directions. The first travel at which the distance falls to r
// (sampled every 4e-3, then bisected) is where the mesh query must stop, within the chord of its edge samples
// (tolerance 1e-6): never beyond it, and never at a centre closer to the triangle than r.
TEST(RingContact, WholeTurnsStopWhereTheBallFirstTouches) {
    ringContactResetState();
    std::mt19937 gen(61);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    int touched = 0;
    const double zc = 3.5;
    for (int q = 0; q < 120; ++q) {
        const double psi = 2 * M_PI * u(gen), rho = kR + (2 * u(gen) - 1) * 1.2 * kr, s = 0.05 + 2 * u(gen);
        const Vec3 c{rho * std::cos(psi), rho * std::sin(psi), zc + (2 * u(gen) - 1) * kr};
        const Triangle3D t{{c,
                            {c.x + s * (u(gen) - 0.5), c.y + s * (u(gen) - 0.5), c.z + s * (u(gen) - 0.5)},
                            {c.x + s * (u(gen) - 0.5), c.y + s * (u(gen) - 0.5), c.z + s * (u(gen) - 0.5)}}};
        const int32_t dir = q % 2 ? 1 : -1;
        const double a0 = 2 * M_PI * u(gen);
        const Vec3 g{(t.p[0].x + t.p[1].x + t.p[2].x) / 3, (t.p[0].y + t.p[1].y + t.p[2].y) / 3,
                     (t.p[0].z + t.p[1].z + t.p[2].z) / 3};
        double spread = 0;
        for (const Vec3& p : t.p) spread = std::max(spread, std::hypot(p.x - g.x, p.y - g.y, p.z - g.z));
        auto gap = [&](double T) {
            const double th = a0 + dir * T;
            const Vec3 at{kR * std::cos(th), kR * std::sin(th), zc};
            const double far = std::hypot(at.x - g.x, at.y - g.y, at.z - g.z) - spread - kr;
            return far > 0 ? far : distToTriangle(t, at) - kr;
        };
        if (gap(0) < 0.05) continue;
        double first = -1;
        for (double T = 4e-3; T < 2 * M_PI; T += 4e-3) {
            if (gap(T) > 0) continue;
            double lo = T - 4e-3, hi = T;
            for (int it = 0; it < 40; ++it) (gap(0.5 * (lo + hi)) > 0 ? lo : hi) = 0.5 * (lo + hi);
            first = hi;
            break;
        }
        testmesh::Model m({t}, kBallMill, kr);
        m.m.tolerance = 1e-6;
        RingSweep sw = sweepFrom(a0, dir, a0);
        Vec3 centre;
        const int found = ringMeshContact(&m.m, &sw, zc, nullptr, 0, &centre);
        if (first < 0 && !found) continue;
        ASSERT_EQ(found, 1) << q;
        double d = std::atan2(centre.y, centre.x) - a0;
        while (d > 2 * M_PI) d -= 2 * M_PI;
        while (d < 0) d += 2 * M_PI;
        const double travel = dir == -1 && d >= 1e-5 ? 2 * M_PI - d : d;
        // A grazing touch between the samples may come first; it must still touch.
        EXPECT_GE(gap(travel), -1e-5) << q;
        if (first >= 0) {
            EXPECT_LE(travel, first + 1e-4) << q;
        }
        if (first < 0 || travel < first - 1e-6) {
            EXPECT_LE(gap(travel), 1e-6) << q;
        }
        touched += first >= 0;
    }
    EXPECT_GT(touched, 40);
}
