#include "KVWOG5/tricont.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>

#include "KVWOG5/wogerr.h"
#include "vecnear.h"

namespace {

// In the plane x = 0, normal +x.
const double kWall[9] = {0, -10, -10, 0, 10, -10, 0, 0, 10};
const double kFloor[9] = {-5, -5, 0, 5, -5, 0, 0, 5, 0};
const double kCollinear[9] = {0, 0, 0, 1, 1, 1, 2, 2, 2};
const double kPole[6] = {0, 0, -5, 0, 0, 5};
const double kBar[6] = {0, 0, 0, 10, 0, 0};

double planDist(const Vec3& p, double x, double y) {
    return std::hypot(p.x - x, p.y - y);
}

// The two points as a pair ordered by y.
void expectPair(const Vec3& p1, const Vec3& p2, double x, double y, double z, double tol) {
    const Vec3& lo = p1.y < p2.y ? p1 : p2;
    const Vec3& hi = p1.y < p2.y ? p2 : p1;
    EXPECT_NEAR(lo.x, x, tol);
    EXPECT_NEAR(hi.x, x, tol);
    EXPECT_NEAR(lo.y, -y, tol);
    EXPECT_NEAR(hi.y, y, tol);
    EXPECT_EQ(lo.z, z);
    EXPECT_EQ(hi.z, z);
}

// Contacts whose two points are mirror images about y = 0, at x worked out by hand: the circle of the
// tool meets a circle (vertex, vertical edge) or a line (face) in the section plane.
TEST(Tricont, SymmetricContactPairs) {
    const Vec3 v{0, 0, 0};
    const double rising[6] = {0, -2, -1, 0, 2, 1};  // at z = 0 its point is the origin
    const ToolCircle c1{1.5, 0, 1, 0}, c2{2, 0, 1.5, 0}, c3{3, 0, 1.5, 0}, c4{2, 0, 1, 0}, far{5, 0, 1, 0},
        onPlane{0, 3, 1, 0}, centred{0, 0, 1, 0};
    const double xa = (1.5 * 1.5 + 0.8 * 0.8 - 1) / 3, xb = (9 + 1.8 * 1.8 - 1.5 * 1.5) / 6,
                 xc = (4 + 2.25 - 1) / 4;
    Vec3 p1, p2, out[4];
    struct Case {
        const char* name;
        std::function<int()> call;
        int result;
        double x = 0, y = 0, z = 0;
    } cases[] = {
        {"ball vertex", [&] { return tricontContactA(&v, 1, &c1, 0.6, &p1, &p2); }, 2, xa,
         std::sqrt(0.64 - xa * xa), 0.6},
        {"ball vertex above its reach", [&] { return tricontContactA(&v, 1, &c1, 1.2, &p1, &p2); }, 0},
        {"ball vertex below its reach", [&] { return tricontContactA(&v, 1, &c1, -1.2, &p1, &p2); }, 0},
        {"ball vertex, concentric", [&] { return tricontContactA(&v, 1, &centred, 0.1, &p1, &p2); }, 0},
        // The wall shifted by r is x = 1; for the torus moved on by R - r to x = 1.5.
        {"ball face", [&] { return tricontBallFace(kWall, 1, &c2, 0, &p1, &p2); }, 2, 1, std::sqrt(1.25), 0},
        {"torus face", [&] { return tricontTorusFace(kWall, 0.5, 1, &c2, 0, &p1, &p2); }, 2, 1.5,
         std::sqrt(2.0), 0},
        {"ball face, far", [&] { return tricontBallFace(kWall, 1, &far, 0, &p1, &p2); }, 0},
        {"ball face, on the plane", [&] { return tricontBallFace(kWall, 1, &onPlane, 0, &p1, &p2); }, 0},
        {"torus face, on the plane", [&] { return tricontTorusFace(kWall, 0.5, 1, &onPlane, 0, &p1, &p2); },
         0},
        {"ball face, no plane", [&] { return tricontBallFace(kCollinear, 1, &c2, 0, &p1, &p2); },
         kGeoDegenerateTri},
        {"torus face, no plane", [&] { return tricontTorusFace(kCollinear, 0.5, 1, &c2, 0, &p1, &p2); },
         kGeoDegenerateTri},
        // Section radius 0.8 plus R - r = 1; level with the tube's top the centre circle still reaches R - r.
        {"torus vertex", [&] { return tricontTorusVertex(&v, 1, 1, &c3, 0.6, &p1, &p2); }, 2, xb,
         std::sqrt(1.8 * 1.8 - xb * xb), 0.6},
        {"torus vertex above", [&] { return tricontTorusVertex(&v, 1, 1, &c3, 1.5, &p1, &p2); }, 0},
        {"torus vertex, tube top", [&] { return tricontTorusVertex(&v, 1, 0.5, &c1, 0.5, &p1, &p2); }, 2,
         0.75, std::sqrt(1 - 0.75 * 0.75), 0.5},
        // A vertical edge: the section is the circle of radius r about the axis (grown by R - r).
        {"ball edge, pole",
         [&] {
             const int n = tricontContactB(kPole, 1, &c1, 0, out);
             p1 = out[0];
             p2 = out[1];
             return n;
         },
         2, 0.75, std::sqrt(1 - 0.75 * 0.75), 0},
        {"segment at a height", [&] { return tricontSegZCircle(rising, 1, &c1, 0, &p1, &p2); }, 2, 0.75,
         std::sqrt(1 - 0.75 * 0.75), 0},
        {"segment above its end", [&] { return tricontSegZCircle(rising, 1, &c1, 1.5, &p1, &p2); }, 0},
        {"level segment", [&] { return tricontSegZCircle(kBar, 1, &c1, 0, &p1, &p2); }, 0},
        {"torus edge, pole", [&] { return tricontTorusEdge(kPole, 0.5, 1, &c4, 0, &p1, &p2); }, 2, xc,
         std::sqrt(2.25 - xc * xc), 0},
        {"torus edge, pole, on the axis",
         [&] { return tricontTorusEdge(kPole, 0.5, 1, &centred, 0, &p1, &p2); }, kGeoNoNearestPoint},
        {"flat torus edge, pole", [&] { return tricontTorusEdge(kPole, 1, 0, &c1, 0, &p1, &p2); }, 2, 0.75,
         std::sqrt(1 - 0.75 * 0.75), 0},
    };
    for (const Case& c : cases) {
        ASSERT_EQ(c.call(), c.result) << c.name;
        if (c.result == 2) {
            SCOPED_TRACE(c.name);
            expectPair(p1, p2, c.x, c.y, c.z, 1e-12);
        }
    }
}

TEST(Tricont, BallVertexAtTheReachCountsOnlyAWrittenPoint) {
    const Vec3 v{2, 0, 0};
    Vec3 p1{-9, -9, -9}, p2;
    const ToolCircle through{0, 0, 2, 0};  // passes right above the vertex
    ASSERT_EQ(tricontContactA(&v, 1, &through, 1, &p1, &p2), 1);
    EXPECT_XYZ(EXPECT_EQ, p1, 2, 0, 1);
    const ToolCircle beside{0, 0, 1.5, 0};
    EXPECT_EQ(tricontContactA(&v, 1, &beside, 1, &p1, &p2), 0);
}

TEST(Tricont, GougeIsRecordedWithItsLine) {
    Vec3 p1, p2, out[4];
    const struct {
        const char* what;
        int result;
        int32_t line;
    } expected[] = {
        {"vertex", kTricontGouge, 1316}, {"face", kTricontGouge, 1464}, {"edge", kTricontGouge, 2091}};
    wogErrorReset();
    const Vec3 v{0, 0, 0};
    const ToolCircle small{0.2, 0, 0.1, 0};
    int results[3];
    int32_t lines[3];
    results[0] = tricontContactA(&v, 1, &small, 0, &p1, &p2);
    lines[0] = wogErrorState()->line;
    const ToolCircle nearWall{0.5, 0.2, 0.1, 0};
    results[1] = tricontBallFace(kWall, 1, &nearWall, 0.2, &p1, &p2);
    lines[1] = wogErrorState()->line;
    const ToolCircle onPole{0.1, 0, 0.2, 0};
    results[2] = tricontContactB(kPole, 1, &onPole, 0, out);
    lines[2] = wogErrorState()->line;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(results[i], expected[i].result) << expected[i].what;
        EXPECT_EQ(lines[i], expected[i].line) << expected[i].what;
    }
    EXPECT_STREQ(wogErrorState()->file, "Tricont");

    // Within reach, but beside the face or past the edge's end: no contact at all.
    const ToolCircle besideWall{0.5, 20, 0.1, 0};
    EXPECT_EQ(tricontBallFace(kWall, 1, &besideWall, 0.2, &p1, &p2), 0);
    const double stub[6] = {0, 0, 1, 0, 0, 5};
    EXPECT_EQ(tricontContactB(stub, 1, &onPole, 0, out), 0);
}

TEST(Tricont, LevelFaceAtTheReachTouchesForBothKinds) {
    const ToolCircle circle{0, 0, 0.5, 0};
    const struct {
        double z;
        int result;
    } cases[] = {{1, 1}, {-1, 1}, {1 + 5e-6, 1}, {1.1, 0}, {-0.9, 0}};
    for (const auto& c : cases) {
        Vec3 p1{-9, -9, -9}, p2;
        EXPECT_EQ(tricontBallFace(kFloor, 1, &circle, c.z, &p1, &p2), c.result) << c.z;
        if (c.result == 1) {
            EXPECT_EQ(planDist(p1, 0, 0), 0.5);  // a point of the circle, written
            EXPECT_EQ(p1.z, c.z);
        }
        Vec3 q1{-9, -9, -9};
        EXPECT_EQ(tricontTorusFace(kFloor, 2, 1, &circle, c.z, &q1, &p2), c.result) << c.z;
        if (c.result == 1) {
            EXPECT_EQ(planDist(q1, 0, 0), 0.5);
        }
    }
}

TEST(Tricont, BallEdge) {
    Vec3 out[4];
    // Level bar: the strip |y| <= sqrt 3 at z = 1; only its upper border meets the circle.
    const ToolCircle above{5, 3, 2, 0};
    ASSERT_EQ(tricontContactB(kBar, 2, &above, 1, out), 2);
    const double dy = 3 - std::sqrt(3.0), dx = std::sqrt(4 - dy * dy);
    EXPECT_NEAR(std::fmin(out[0].x, out[1].x), 5 - dx, 1e-12);
    EXPECT_NEAR(std::fmax(out[0].x, out[1].x), 5 + dx, 1e-12);
    EXPECT_NEAR(out[0].y, std::sqrt(3.0), 1e-12);
    EXPECT_NEAR(out[1].y, std::sqrt(3.0), 1e-12);
    // A circle across the bar meets both borders.
    const ToolCircle across{5, 0, 2, 0};
    EXPECT_EQ(tricontContactB(kBar, 2, &across, 1, out), 4);

    EXPECT_EQ(tricontContactB(kBar, 2, &above, 5, out), 0);  // out of the bar's height range
    const double tiny[6] = {1, 1, 1, 1, 1, 1 + 5e-7};
    EXPECT_EQ(tricontContactB(tiny, 2, &above, 1, out), 0);
}

TEST(Tricont, SectorRefineFindsTheCrossing) {
    const ToolCircle circle{1.5, 0, 1, 0};
    double angle = -1;
    // The crossing of the pole's section circle at y > 0 lies at angle acos(-0.75).
    ASSERT_EQ(tricontSectorRefine(kPole, 1, &circle, 0, 2.0, 2.5, &angle), 1);
    EXPECT_NEAR(angle, std::acos(-0.75), 1e-14);
    EXPECT_EQ(tricontSectorRefine(kPole, 1, &circle, 0, 0.0, 1.0, &angle), 0);
}

TEST(Tricont, TorusEdge) {
    Vec3 p1, p2;
    // Two lines y = +/- sqrt 3; the upper one, moved up by R - r = 1, meets the circle.
    const ToolCircle above{5, 4, 2, 0};
    ASSERT_EQ(tricontTorusEdge(kBar, 1, 2, &above, 1, &p1, &p2), 2);
    const double dy = 4 - (std::sqrt(3.0) + 1), dx = std::sqrt(4 - dy * dy);
    EXPECT_NEAR(std::fmin(p1.x, p2.x), 5 - dx, 1e-12);
    EXPECT_NEAR(std::fmax(p1.x, p2.x), 5 + dx, 1e-12);
    EXPECT_NEAR(p1.y, std::sqrt(3.0) + 1, 1e-12);
    EXPECT_EQ(p1.z, 1);

    // The plane grazes the tube: its axis line moved by R - r towards the circle (y = 1).
    const ToolCircle grazing{5, 2, 1.5, 0};
    ASSERT_EQ(tricontTorusEdge(kBar, 1, 1, &grazing, 0.9995, &p1, &p2), 2);
    EXPECT_NEAR(std::fmin(p1.x, p2.x), 5 - std::sqrt(1.25), 1e-12);
    EXPECT_NEAR(p1.y, 1, 1e-15);
    EXPECT_NEAR(p2.y, 1, 1e-15);

    const ToolCircle unit{1.5, 0, 1, 0};
    const double tiny[6] = {1, 1, 1, 1 + 5e-6, 1, 1 - 5e-6};
    EXPECT_EQ(tricontTorusEdge(tiny, 1, 1, &unit, 1, &p1, &p2), 0);
    EXPECT_EQ(tricontTorusEdge(kBar, 1, 2, &above, 4, &p1, &p2), 0);  // the plane misses the tube
}

TEST(Tricont, InstallsTheWorkersOfBallAndTorus) {
    OffsetToolMethods m{};
    for (const int32_t kind : {0, 2, 4, -1}) {
        EXPECT_EQ(tricontInstallMethods(kind, &m), 0) << kind;
        EXPECT_EQ(m.face, nullptr);
        EXPECT_EQ(m.vertex, nullptr);
    }
    EXPECT_EQ(tricontInstallMethods(1, nullptr), 0);

    const Vec3 v{0, 0, 0};
    const ToolCircle circle{1.5, 0, 1, 0};
    Vec3 p1, p2, out[4];
    ASSERT_EQ(tricontInstallMethods(1, &m), 1);
    const double ball[1] = {1};
    ASSERT_EQ(m.vertex(&v, ball, &circle, 0.6, &p1, &p2), 2);
    EXPECT_NEAR(p1.x, 0.63, 1e-12);
    ASSERT_EQ(m.face(kWall, ball, &circle, 0, &p1, &p2), 2);
    EXPECT_NEAR(p1.x, 1, 1e-12);
    EXPECT_EQ(m.edge(kPole, ball, &circle, 0, out), 2);
    const Vec3 inside{0.2, 0.2, 5};
    const double unitTri[9] = {0, 0, 0, 1, 0, 0, 0, 1, 0};
    EXPECT_EQ(m.inside(&inside, unitTri, ball), 1);
    const Vec3 side{3, 1, 0};
    EXPECT_EQ(m.edgePoint(&side, kBar, ball, &p1), 1);
    EXPECT_EQ(p1.x, 3);

    // Kind 3 hands {R, r} = {1.5, 1}: the workers see R - r = 0.5 and r = 1.
    ASSERT_EQ(tricontInstallMethods(3, &m), 1);
    const double torus[2] = {1.5, 1};
    ASSERT_EQ(m.vertex(&v, torus, &circle, 0.6, &p1, &p2), 2);
    EXPECT_NEAR(p1.x, (2.25 + 1.3 * 1.3 - 1) / 3, 1e-12);
    const ToolCircle wide{2, 0, 1.5, 0};
    ASSERT_EQ(m.face(kWall, torus, &wide, 0, &p1, &p2), 2);
    EXPECT_NEAR(p1.x, 1.5, 1e-12);
    const ToolCircle far{2, 0, 1, 0};
    ASSERT_EQ(m.edge(kPole, torus, &far, 0, out), 2);
    EXPECT_NEAR(planDist(out[0], 0, 0), 1.5, 1e-12);
    EXPECT_NEAR(planDist(out[1], 0, 0), 1.5, 1e-12);
    const Vec3 p{0, 0, 1};
    EXPECT_EQ(m.inside(&p, kFloor, torus), 1);
    const double beside[6] = {-5, 3, 0, 5, 3, 0};
    const Vec3 origin{0, 0, 0};
    ASSERT_EQ(m.edgePoint(&origin, beside, torus, &p1), 1);
    EXPECT_NEAR(p1.x, 0, 1e-9);
}

// Every contact lies on the tool circle, and the tool placed there touches the geometry.
TEST(Tricont, ContactsTouchOnRandomInput) {
    std::mt19937 rng(3106);
    std::uniform_real_distribution<double> u(-5, 5), ur(0.2, 2);
    int counted[4] = {0, 0, 0, 0};
    for (int i = 0; i < 400; i++) {
        const ToolCircle circle{u(rng), u(rng), ur(rng), 0};
        const double z = u(rng) * 0.5, r = ur(rng), rc = ur(rng);
        const Vec3 v{circle.cx + u(rng) * 0.6, circle.cy + u(rng) * 0.6, z + u(rng) * 0.3};
        double tri[9], edge[6];
        for (double& c : tri) c = u(rng);
        for (double& c : edge) c = u(rng);
        Vec3 p[4];
        auto onCircle = [&](const Vec3& q) {
            EXPECT_NEAR(planDist(q, circle.cx, circle.cy), circle.radius, 1e-9) << i;
            EXPECT_EQ(q.z, z);
        };

        int n = tricontContactA(&v, r, &circle, z, &p[0], &p[1]);
        for (int k = 0; k < n; k++) {
            onCircle(p[k]);
            EXPECT_NEAR(wogDist3D(&p[k], &v), r, 1e-9) << i;
        }
        counted[0] += n > 0;

        n = tricontTorusVertex(&v, rc, r, &circle, z, &p[0], &p[1]);
        for (int k = 0; k < n; k++) {
            onCircle(p[k]);
            const double e = z - v.z;
            EXPECT_NEAR(planDist(p[k], v.x, v.y), rc + std::sqrt(r * r - e * e), 1e-9) << i;
        }

        double a, b, c, d;
        ASSERT_EQ(trianglePlane3D(tri, &a, &b, &c, &d), 1);
        n = tricontBallFace(tri, r, &circle, z, &p[0], &p[1]);
        for (int k = 0; k < n; k++) {
            onCircle(p[k]);
            EXPECT_NEAR(std::fabs(a * p[k].x + b * p[k].y + c * p[k].z + d), r, 1e-9) << i;
        }
        counted[1] += n > 0;
        n = tricontTorusFace(tri, rc, r, &circle, z, &p[0], &p[1]);
        for (int k = 0; k < n && n == 2; k++) {
            onCircle(p[k]);
            // The centre circle's point nearest the plane lies r from it.
            const double h = std::hypot(a, b);
            EXPECT_NEAR(std::fabs(a * p[k].x + b * p[k].y + c * p[k].z + d) - rc * h, r, 1e-9) << i;
        }

        n = tricontContactB(edge, r, &circle, z, p);
        ASSERT_LE(n, 4);
        for (int k = 0; k < n; k++) {
            onCircle(p[k]);
            EXPECT_NEAR(distPointLine3D(&p[k], edge), r, 1e-9) << i;
        }
        counted[2] += n > 0;

        // Vertical edges: the torus edge contact is exact there.
        const double pole[6] = {v.x, v.y, -5, v.x, v.y, 5};
        n = tricontTorusEdge(pole, rc, r, &circle, z, &p[0], &p[1]);
        for (int k = 0; k < n; k++) {
            onCircle(p[k]);
            EXPECT_NEAR(planDist(p[k], v.x, v.y), rc + r, 1e-9) << i;
        }
        counted[3] += n > 0;
    }
    for (const int c : counted)
        EXPECT_GT(c, 20) << counted[0] << " " << counted[1] << " " << counted[2] << " " << counted[3];
}

}  // namespace
