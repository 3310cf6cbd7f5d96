#include "kernel/base/runreset.h"
#include "surfaces/kvxcontour.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "surfaces/meshfiles/meshtest.h"
#include "vecnear.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

struct KvxContourTest : ::testing::Test {
    TempDir dir;
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        runResetAll();
    }
    ProfileCurve* read(const std::string& records, double tol = 0.01) {
        writeTextFile(dir.file("c.kvx"), kvxText(records));
        return readKvxContour(dir.file("c.kvx").c_str(), tol);
    }
};

}  // namespace

TEST_F(KvxContourTest, LinesOfTwoContoursInFileOrder) {
    ProfileCurve* p = read(
        "v surface(12)\nv depth(5)\no Contour[Holder]()\n{\no L(x[0/10] y[0/0] z[0/0])\n"
        "o L(x[/10] y[/5] z[/0])\n}\no Contour[Head]()\n{\no L(x[0/1] y[0/0] z[0/0])\n}\n");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->count, 3);
    ASSERT_NE(p->z, nullptr);
    const double want[3][2] = {{0, 0}, {10, 0}, {10, 5}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_XY(EXPECT_EQ, p->points[i], want[i][0], want[i][1]);
        EXPECT_EQ(p->z[i], 0.0);
    }
    EXPECT_STREQ(p->name, "Holder");
    EXPECT_EQ(p->kind, 'p');
    EXPECT_EQ(p->fitStart, 12.0);
    EXPECT_EQ(p->fitEnd, 7.0);
    EXPECT_EQ(p->ownsPoints, 1);
    ASSERT_NE(p->next, nullptr);
    EXPECT_STREQ(p->next->name, "Head");
    EXPECT_EQ(p->next->count, 2);
    EXPECT_EQ(p->next->next, nullptr);
    profileFreeList(p);
}

TEST_F(KvxContourTest, ContourFrameTable) {
    const struct {
        std::string vars;
        double shift[3];
    } cases[] = {
        {"v Cs_z(0,0,1)\nv Cs_o(0,0,100)\n", {0, 0, 100}},
        {"v Cs_o(1.5, -2, 3)\n", {1.5, -2, 3}},
        {"v Cs_o(1,2)\n", {0, 0, 0}},                // a comma missing: the origin stays
        {"v Cs_o(\\0)\nv depth(\\0)\n", {0, 0, 0}},  // values escaped to nothing are no values
    };
    // A turned frame: x along y, y along z, z along x; a point goes to o + x X + y Y + z Z.
    reset();
    ProfileCurve* turned = read(
        "v Cs_x(0,1,0)\nv Cs_y(0,0,1)\nv Cs_z(1,0,0)\nv Cs_o(5,0,0)\n"
        "o Contour[c]()\n{\no L(x[0/3] y[0/4] z[1/1])\n}\n");
    ASSERT_NE(turned, nullptr);
    ASSERT_EQ(turned->count, 2);
    EXPECT_XY(EXPECT_NEAR, turned->points[0], 5 + 1, 0, 1e-12);
    EXPECT_XY(EXPECT_NEAR, turned->points[1], 5 + 1, 3, 1e-12);
    EXPECT_NEAR(turned->z[1], 4, 1e-12);
    profileFreeList(turned);
    for (const auto& c : cases) {
        reset();
        ProfileCurve* p = read(c.vars + "o Contour[c]()\n{\no L(x[0/10] y[0/0] z[0/4])\n}\n");
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->count, 2);
        EXPECT_EQ(p->points[0].x, c.shift[0]);
        EXPECT_XY(EXPECT_EQ, p->points[1], 10 + c.shift[0], c.shift[1]);
        EXPECT_EQ(p->z[0], c.shift[2]);
        EXPECT_EQ(p->z[1], 4 + c.shift[2]);
        profileFreeList(p);
    }
}

// With one mirror plane (x = 0) a contour passed through the frame pair comes mirrored and reversed, so
// that the image keeps its sense of travel; with the contours' flag off it is read as written.
TEST_F(KvxContourTest, OneMirrorPlaneReversesOnlyTheContoursItMaps) {
    const Vec3 origin{0, 0, 0}, axis{1, 0, 0}, none{0, 0, 0};
    for (const int flag : {0, 1}) {
        reset();
        ASSERT_EQ(framePairCreate(&origin, &axis, &none, &none), 1);
        framePairSetFlag(kFramePairContours, flag);
        ProfileCurve* p = read("o Contour[c]()\n{\no L(x[2/10] y[0/3] z[0/4])\n}\n");
        ASSERT_NE(p, nullptr);
        ASSERT_EQ(p->count, 2);
        EXPECT_XY(EXPECT_EQ, p->points[0], flag ? -10 : 2, flag ? 3 : 0);
        EXPECT_XY(EXPECT_EQ, p->points[1], flag ? -2 : 10, flag ? 0 : 3);
        profileFreeList(p);
    }
}

TEST_F(KvxContourTest, ArcsAreSplitForTheChord) {
    const double step = 2 * std::acos(0.999);  // radius 10, tolerance 0.01
    const struct {
        std::string arc;
        double sweep;
    } cases[] = {{"o A(x[10/0/0] y[0/10/0] z[0/0])", M_PI / 2},
                 {"o A(x[10/0/0] y[0/10/0] z[0/0] o[-])", -3 * M_PI / 2},
                 {"o A(x[10/-10/0] y[0/0/0] z[0/0])", M_PI}};
    for (const auto& c : cases) {
        ProfileCurve* p = read("o Contour[a]()\n{\n" + c.arc + "\n}\n");
        ASSERT_NE(p, nullptr) << c.arc;
        ASSERT_EQ(p->count, static_cast<int>(std::ceil((std::fabs(c.sweep) - 1e-4) / step)) + 1) << c.arc;
        for (int i = 0; i < p->count; ++i) {
            const double a = i + 1 < p->count ? (c.sweep > 0 ? step : -step) * i : c.sweep;
            EXPECT_XY(EXPECT_NEAR, p->points[i], 10 * std::cos(a), 10 * std::sin(a), 1e-9);
        }
        profileFreeList(p);
    }
    // Any sense not below 0 turns counter-clockwise, as the default does; the points turn about the
    // centre from a start at any angle.
    for (const int sense : {0, 1, -1}) {
        PointList3D* pts = pointList3DCreate(4);
        ASSERT_NE(pts, nullptr);
        const double a0 = 0.7;
        const Vec2 o{3, -2}, s{3 + 10 * std::cos(a0), -2 + 10 * std::sin(a0)},
            e{3 + 10 * std::cos(a0 + M_PI / 2), -2 + 10 * std::sin(a0 + M_PI / 2)};
        ASSERT_EQ(kvxContourAddArc(pts, 0.01, &s, &e, 2.0, &o, sense), 1);
        const double sweep = sense < 0 ? -3 * M_PI / 2 : M_PI / 2;
        ASSERT_EQ(pts->count, static_cast<int>(std::ceil((std::fabs(sweep) - 1e-4) / step)) + 1) << sense;
        for (int i = 0; i < pts->count; ++i) {
            const double a = a0 + (i + 1 < pts->count ? (sweep > 0 ? step : -step) * i : sweep);
            EXPECT_NEAR(pts->data[i].x, 3 + 10 * std::cos(a), 1e-9) << sense << " " << i;
            EXPECT_NEAR(pts->data[i].y, -2 + 10 * std::sin(a), 1e-9) << sense << " " << i;
            EXPECT_EQ(pts->data[i].z, 2.0);
        }
        pointList3DFree(pts);
    }
    // A quarter turn of 10 or 200 whole steps ends with the end point alone; a step below 0.001 is 0.001.
    const Vec2 s{10, 0}, e{0, 10}, o{0, 0};
    for (const auto& [tol, count] : {std::pair{10 * (1 - std::cos(M_PI / 40)), 11},
                                     {10 * (1 - std::cos(M_PI / 800)), 201},
                                     {1e-9, 1572}}) {
        PointList3D* ten = pointList3DCreate(4);
        ASSERT_NE(ten, nullptr);
        ASSERT_EQ(kvxContourAddArc(ten, tol, &s, &e, 0.0, &o, 1), 1);
        EXPECT_EQ(ten->count, count) << tol;
        pointList3DFree(ten);
    }
    ProfileCurve* tiny = read("o Contour[a]()\n{\no A(x[5/5/5] y[5/5/5.00005] z[0/0])\n}\n");
    ASSERT_NE(tiny, nullptr);
    EXPECT_EQ(tiny->count, 0);  // a radius below 1e-4 adds nothing
    profileFreeList(tiny);
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

// An empty start slot takes the previous element's end; a contour's first element has none before it and
// starts from the frame origin, whatever the contour before ended on (there left without its closing
// brace: the next contour closes it).
TEST_F(KvxContourTest, EmptyStartSlotsFollowTheLastEndWithinAContourOnly) {
    ProfileCurve* p = read(
        "o Contour[a]()\n{\no L(x[/3] y[/4] z[/2])\no L(x[/5] y[/-1] z[/7])\n"
        "o Contour[b]()\n{\no L(x[/6] y[/8] z[/9])\n}\n");
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->count, 3);
    const double a[3][3] = {{0, 0, 0}, {3, 4, 2}, {5, -1, 7}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_XY(EXPECT_EQ, p->points[i], a[i][0], a[i][1]);
        EXPECT_EQ(p->z[i], a[i][2]) << i;
    }
    ASSERT_NE(p->next, nullptr);
    ASSERT_EQ(p->next->count, 2);
    EXPECT_XY(EXPECT_EQ, p->next->points[0], 0, 0);
    EXPECT_EQ(p->next->z[0], 0.0);
    EXPECT_XY(EXPECT_EQ, p->next->points[1], 6, 8);
    profileFreeList(p);
}

// Memory that cannot be had gives no profile at all and throws nothing; the sanitized build checks
// that nothing is left allocated.
TEST_F(KvxContourTest, EachFailedAllocationGivesNoProfile) {
    const std::string text =
        "o Contour[a]()\n{\no L(x[0/10] y[0/0] z[0/0])\no A(x[/0/0] y[/10/0] z[/0])\n}\n"
        "o Contour[b]()\n{\no L(x[0/1] y[0/0] z[0/0])\n}\no Contour[c]()\n{\n}\n";  // the last one empty
    const std::string path = dir.file("c.kvx");
    writeTextFile(path, kvxText(text));
    for (long n = 1;; ++n) {
        reset();
        allocfail::arm(n);
        ProfileCurve* p = readKvxContour(path.c_str(), 0.01);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (fired) {
            EXPECT_EQ(p, nullptr) << n;
            profileFreeList(p);
            continue;
        }
        ASSERT_NE(p, nullptr);
        ASSERT_NE(p->next, nullptr);
        EXPECT_EQ(p->next->count, 2);
        EXPECT_GT(p->count, 3);
        profileFreeList(p);
        break;
    }
}
