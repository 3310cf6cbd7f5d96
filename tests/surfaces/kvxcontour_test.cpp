#include "surfaces/kvxcontour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

struct KvxContourTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        kvxContourResetState();
        framesResetState();
        framePairResetState();
    }
    ProfileCurve* read(const std::string& records, double tol = 0.01) {
        writeText(dir.file("c.kvx"), kvxText(records));
        return readKvxContour(dir.file("c.kvx").c_str(), tol);
    }
};

int chainLength(const ProfileCurve* p) {
    int n = 0;
    for (; p != nullptr; p = p->next) ++n;
    return n;
}

}  // namespace

TEST_F(KvxContourTest, TwoLinesGiveThreePoints) {
    ProfileCurve* p = read(
        "v surface(12)\nv depth(5)\no Contour[Holder]()\n{\no L(x[0/10] y[0/0] z[0/0])\no L(x[/10] y[/5] "
        "z[/0])\n}\n");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->count, 3);
    ASSERT_NE(p->z, nullptr);
    const double want[3][2] = {{0, 0}, {10, 0}, {10, 5}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(p->points[i].x, want[i][0]);
        EXPECT_EQ(p->points[i].y, want[i][1]);
        EXPECT_EQ(p->z[i], 0.0);
    }
    EXPECT_STREQ(p->name, "Holder");
    EXPECT_EQ(p->kind, 'p');
    EXPECT_EQ(p->fitStart, 12.0);
    EXPECT_EQ(p->fitEnd, 7.0);
    EXPECT_DOUBLE_EQ(p->end, 15.0);
    profileFreeList(p);
}

TEST_F(KvxContourTest, ContourFrameTable) {
    const struct {
        std::string vars;
        double shift[3];
    } cases[] = {
        {"v Cs_z(0,0,1)\nv Cs_o(0,0,100)\n", {0, 0, 100}},
        {"v Cs_o(1.5, -2, 3)\n", {1.5, -2, 3}},
        {"v Cs_o(1,2)\n", {0, 0, 0}},  // a comma missing: the origin stays
    };
    for (const auto& c : cases) {
        reset();
        ProfileCurve* p = read(c.vars + "o Contour[c]()\n{\no L(x[0/10] y[0/0] z[0/4])\n}\n");
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->count, 2);
        EXPECT_EQ(p->points[0].x, c.shift[0]);
        EXPECT_EQ(p->points[1].x, 10 + c.shift[0]);
        EXPECT_EQ(p->points[1].y, c.shift[1]);
        EXPECT_EQ(p->z[0], c.shift[2]);
        EXPECT_EQ(p->z[1], 4 + c.shift[2]);
        profileFreeList(p);
    }
}

TEST_F(KvxContourTest, ArcsAreSplitForTheChord) {
    const double step = 2 * std::acos(0.999);
    const struct {
        std::string arc;  // an A record
        double sweep;     // signed
        double radius;
    } cases[] = {
        {"o A(x[10/0/0] y[0/10/0] z[0/0])", M_PI / 2, 10},
        {"o A(x[10/0/0] y[0/10/0] z[0/0] o[-])", -3 * M_PI / 2, 10},
        {"o A(x[10/-10/0] y[0/0/0] z[0/0])", M_PI, 10},
    };
    for (const auto& c : cases) {
        ProfileCurve* p = read("o Contour[a]()\n{\n" + c.arc + "\n}\n");
        ASSERT_NE(p, nullptr) << c.arc;
        const int steps = static_cast<int>(std::ceil((std::fabs(c.sweep) - 1e-4) / step));
        ASSERT_EQ(p->count, steps + 1) << c.arc;
        for (int i = 0; i < p->count; ++i) {
            EXPECT_NEAR(std::hypot(p->points[i].x, p->points[i].y), c.radius, 1e-9);
            if (i + 1 < p->count) {
                const double a0 = std::atan2(p->points[i].y, p->points[i].x);
                const double a1 = std::atan2(p->points[i + 1].y, p->points[i + 1].x);
                const double d = std::remainder(a1 - a0, 2 * M_PI);
                if (i + 2 < p->count) {
                    EXPECT_NEAR(d, c.sweep > 0 ? step : -step, 1e-9);
                }
            }
        }
        EXPECT_NEAR(p->points[p->count - 1].x, c.radius * std::cos(c.sweep), 1e-9);
        profileFreeList(p);
    }
    PointList3D* pts = pointList3DCreate(4);
    ASSERT_NE(pts, nullptr);
    const Vec2 s{5, 5}, e{5, 5}, centre{5, 5 + 0.5e-4};
    EXPECT_EQ(kvxContourAddArc(pts, 0.01, &s, &e, 0, &centre, 1), 1);
    EXPECT_EQ(pts->count, 0);
    pointList3DFree(pts);
}

TEST_F(KvxContourTest, TwoContoursLinkedInFileOrder) {
    ProfileCurve* p = read(
        "o Contour[Extension]()\n{\no L(x[0/1] y[0/0] z[0/0])\n}\no Contour[Head]()\n{\n"
        "o L(x[0/0] y[0/2] z[0/0])\no L(x[/3] y[/2] z[/0])\n}\n");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(chainLength(p), 2);
    EXPECT_STREQ(p->name, "Extension");
    EXPECT_EQ(p->count, 2);
    EXPECT_STREQ(p->next->name, "Head");
    EXPECT_EQ(p->next->count, 3);
    profileFreeList(p);
}

TEST_F(KvxContourTest, MalformedFilesFailWholly) {
    const std::string cases[] = {
        "o L(x[0/1] y[0/0] z[0/0])\no Contour[a]()\n{\n}\n",
        "o A(x[1/0/0] y[0/1/0] z[0/0])\no Contour[a]()\n{\n}\n",
        "o Contour[a]()\n{\no L(x[0/1] y[0/0] z[0/0])\n}\no L(x[0/1] y[0/0] z[0/0])\n",
        "o Contour[a]()\n{\no L(x[0/abc] y[0/0] z[0/0])\n}\n",
    };
    for (const std::string& text : cases) EXPECT_EQ(read(text), nullptr) << text;
    EXPECT_EQ(readKvxContour(dir.file("absent.kvx").c_str(), 0.01), nullptr);
    Vec3 v{7, 7, 7};
    EXPECT_EQ(parseXyzTriple("1,2", &v), -1);
    EXPECT_EQ(v.x, 7.0);
    EXPECT_EQ(parseXyzTriple("1, 2 ,3", &v), 1);
    EXPECT_EQ(v.z, 3.0);
}

TEST_F(KvxContourTest, SeededPolylinesThroughRandomFrames) {
    for (uint32_t seed = 1; seed <= 8; ++seed) {
        Rng rng{seed};
        reset();
        // An orthonormal frame from a random turn about z and a random origin.
        const double a = seededIn(&rng, 0, 6.28);
        const Vec3 X{std::cos(a), std::sin(a), 0}, Y{-std::sin(a), std::cos(a), 0};
        const Vec3 O{seededIn(&rng, -50, 50), seededIn(&rng, -50, 50), seededIn(&rng, -50, 50)};
        char vars[400];
        std::snprintf(vars, sizeof vars,
                      "v Cs_o(%.17g,%.17g,%.17g)\nv Cs_x(%.17g,%.17g,0)\nv Cs_y(%.17g,%.17g,0)\n", O.x, O.y,
                      O.z, X.x, X.y, Y.x, Y.y);
        const int n = 2 + rngStep(&rng) % 10;
        std::vector<Vec3> pts;
        for (int i = 0; i < n; ++i)
            pts.push_back(Vec3{seededIn(&rng, -9, 9), seededIn(&rng, -9, 9), seededIn(&rng, -9, 9)});
        std::string text = std::string(vars) + "o Contour[r]()\n{\n";
        for (int i = 0; i + 1 < n; ++i) {
            char line[300];
            std::snprintf(line, sizeof line, "o L(x[%.9f/%.9f] y[%.9f/%.9f] z[%.9f/%.9f])\n", pts[i].x,
                          pts[i + 1].x, pts[i].y, pts[i + 1].y, pts[i].z, pts[i + 1].z);
            text += line;
        }
        ProfileCurve* p = read(text + "}\n");
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->count, n);
        for (int i = 0; i < n; ++i) {
            const Vec3& q = pts[i];
            EXPECT_NEAR(p->points[i].x, O.x + q.x * X.x + q.y * Y.x, 1e-6);
            EXPECT_NEAR(p->points[i].y, O.y + q.x * X.y + q.y * Y.y, 1e-6);
            EXPECT_NEAR(p->z[i], O.z + q.z, 1e-6);
        }
        profileFreeList(p);
    }
}
