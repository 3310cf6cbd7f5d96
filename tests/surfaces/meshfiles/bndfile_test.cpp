#include "kernel/base/runreset.h"
#include "surfaces/meshfiles/bndfile.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "surfaces/geofiletest.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

struct BndFile : ::testing::Test {
    TempDir dir;
    void SetUp() override {
        runResetAll();
        writeBoundarySetFolder(dir.path.c_str());
    }
    void TearDown() override { writeBoundaryResetState(); }
    std::string fileOf(int32_t kind, int which = 1) const {
        char name[512];
        writeBoundaryFileName(kind, which, name, sizeof name);
        return name;
    }
};

// The points of a block file: every line that starts with 'X'.
std::vector<Vec3> pointsOf(const std::string& text) {
    std::vector<Vec3> out;
    std::istringstream in(text);
    Vec3 p;
    for (std::string line; std::getline(in, line);)
        if (std::sscanf(line.c_str(), "X%lf Y%lf Z%lf", &p.x, &p.y, &p.z) == 3) out.push_back(p);
    return out;
}

const char* kContour =
    "o Geometry[g]()\n{\nv surface(12.5)\nv depth(3)\nv 3Dtype(boundary)\no Contour[c]()\n{\n"
    "o L(x[0/10] y[0/0] z[0/0])\no L(x[10/10] y[0/5] z[0/0])\no L(x[10/0] y[5/5] z[0/0])\n}\n}\n"
    "o Geometry[h]()\n{\nv 3Dtype(synch)\no Contour[d]()\n{\no L(x[1/2] y[3/4] z[5/6])\n}\n}\n";

}  // namespace

TEST_F(BndFile, ThreeJoinedLinesWriteFourPointsAndSynchLinesTwoPoints) {
    const std::string geo = dir.file("geo.kvx");
    writeTextFile(geo, kvxText(kContour));
    double surface = 0, depth = 0;
    ASSERT_EQ(writeBoundaryFromFile(geo.c_str(), &surface, &depth), 1);
    EXPECT_EQ(getText(fileOf(kBndBoundary)),
              "**BND 1\nX0.000000 Y0.000000 Z0.000000\nX10.000000 Y0.000000 Z0.000000\n"
              "X10.000000 Y5.000000 Z0.000000\nX0.000000 Y5.000000 Z0.000000\n**END\n");
    EXPECT_EQ(getText(fileOf(kBndSynch)),
              "**SYN 1\nx1.000000 y3.000000 z5.000000 X2.000000 Y4.000000 Z6.000000\n**END\n");
    EXPECT_EQ(surface, 12.5);
    EXPECT_EQ(depth, 3.0);
    EXPECT_EQ(writeBoundaryFromFile(dir.file("none.kvx").c_str(), nullptr, nullptr), -1);
    // An element with a scope of its own leaves the contour open for the elements after it.
    const std::string nested = dir.file("nested.kvx");
    std::string text = kContour;
    text.replace(text.find("o L(x[10/10]"), 0, "{\n}\n");
    writeTextFile(nested, kvxText(text));
    std::remove(fileOf(kBndBoundary).c_str());
    ASSERT_EQ(writeBoundaryFromFile(nested.c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(pointsOf(getText(fileOf(kBndBoundary))).size(), 4u);
    // A contour that ends before its geometry leaves the block open: the next contour joins it.
    text = kContour;
    text.replace(text.find("o L(x[10/0]"), 0, "}\no Contour[e]()\n{\n");
    writeTextFile(nested, kvxText(text));
    std::remove(fileOf(kBndBoundary).c_str());
    ASSERT_EQ(writeBoundaryFromFile(nested.c_str(), nullptr, nullptr), 1);
    EXPECT_EQ(pointsOf(getText(fileOf(kBndBoundary))).size(), 4u);
    // Once a block is ended by a kind of none, elements are passed over, unreadable ones too.
    writeTextFile(
        nested,
        kvxText(
            "o Geometry[g]()\n{\nv 3Dtype(boundary)\nv 3Dtype(none)\no Contour[c]()\n{\no L(x[a])\n}\n}\n"));
    EXPECT_EQ(writeBoundaryFromFile(nested.c_str(), nullptr, nullptr), 1);
}

TEST_F(BndFile, ArcsStepTenTimesFinerFromRadius1000) {
    struct Case {
        double radius;
        int direction;
        double endAngleDeg;  // from the start at angle 0
        size_t points;
        double stepDeg;
    } cases[] = {
        {10, 1, 90, 19, 5.0},     {2000, 1, 90, 181, 0.5}, {999, 1, 90, 19, 5.0},
        {1000, 1, 90, 181, 0.5},  {10, -1, 90, 55, 5.0},  // clockwise three quarters
        {10, 1, 0, 73, 5.0},                              // start = end: a whole turn
        {10, 1, 90.03, 20, 5.0},  // a step short of the end by 0.03 degrees is still taken
        {10, 1, 45, 10, 5.0},     // a sweep under one radian still turns counter-clockwise
        {0.00005, 1, 90, 0, 5.0},
    };
    writeBoundarySetArcStep(5.0);
    for (const Case& c : cases) {
        ASSERT_EQ(writeBoundaryHeader(kBndBoundary), 1);
        const double e = c.endAngleDeg * M_PI / 180.0;
        const Vec2 centre{3, -2}, start{centre.x + c.radius, centre.y},
            end{centre.x + c.radius * std::cos(e), centre.y + c.radius * std::sin(e)};
        writeBoundaryArc(c.direction, &start, &end, 7.0, &centre);
        writeBoundaryEnd();
        const std::vector<Vec3> p = pointsOf(getText(fileOf(kBndBoundary)));
        ASSERT_EQ(p.size(), c.points) << c.radius;
        for (size_t i = 0; i < p.size(); ++i) {
            EXPECT_NEAR(std::hypot(p[i].x - centre.x, p[i].y - centre.y), c.radius, 1e-5);
            EXPECT_EQ(p[i].z, 7.0);
            if (i > 0 && i + 1 < p.size()) {
                const double a0 = std::atan2(p[i - 1].y - centre.y, p[i - 1].x - centre.x);
                const double a1 = std::atan2(p[i].y - centre.y, p[i].x - centre.x);
                const double turn = std::remainder(a1 - a0, 2 * M_PI) * 180.0 / M_PI;
                EXPECT_NEAR(turn, c.direction * c.stepDeg, 1e-4);
            }
        }
        writeBoundaryResetState();
        writeBoundarySetFolder(dir.path.c_str());
        writeBoundarySetArcStep(5.0);
    }
    // The smallest radius drawn: 1e-4 exactly.
    ASSERT_EQ(writeBoundaryHeader(kBndBoundary), 1);
    const Vec2 o{0, 0}, s{0, 1e-4}, e{-1e-4, 0};
    writeBoundaryArc(1, &s, &e, 0.0, &o);
    writeBoundaryEnd();
    EXPECT_EQ(pointsOf(getText(fileOf(kBndBoundary))).size(), 19u);
}

TEST_F(BndFile, SidesPlungesBlocksAndFileModes) {
    struct Side {
        int side, output;
        const char* line;
    } sides[] = {{-1, 1, "**SIDE R\n"}, {0, 1, "**SIDE C\n"}, {1, 1, "**SIDE L\n"}, {2, 1, ""}, {-1, 0, ""}};
    for (const Side& s : sides) {
        writeBoundarySetSideOutput(s.output);
        ASSERT_EQ(writeBoundaryHeader(kBndBoundary), 1);
        writeBoundarySide(s.side);
        writeBoundaryEnd();
        char expect[64];
        std::snprintf(expect, sizeof expect, "**BND %d\n%s**END\n", static_cast<int>(&s - sides + 1), s.line);
        EXPECT_EQ(getText(fileOf(kBndBoundary)), expect) << s.side;
        std::remove(fileOf(kBndBoundary).c_str());
    }
    writeBoundaryResetState();
    writeBoundarySetFolder(dir.path.c_str());
    const Vec2 plunge{1.5, -2};
    writeBoundaryPlunge(&plunge);  // no block open: nothing
    ASSERT_EQ(writeBoundaryHeader(kBndBoundary), 1);
    writeBoundarySetPlungeOutput(1);
    writeBoundaryPlunge(&plunge);
    writeBoundaryPoint(0, 0, 0, 1, 1, 1);
    writeBoundaryEnd();
    writeBoundaryPoint(5, 5, 5, 6, 6, 6);  // after the end: nothing, from any writer
    writeBoundarySetSideOutput(1);
    writeBoundaryPointDir(5, 5, 5, 0, 0, 1);
    writeBoundarySide(1);
    writeBoundaryPlunge(&plunge);
    const Vec2 arcStart{1, 0}, arcEnd{0, 1}, arcCentre{0, 0};
    writeBoundaryArc(1, &arcStart, &arcEnd, 0.0, &arcCentre);
    writeBoundaryEnd();
    ASSERT_EQ(writeBoundaryHeader(kBndBoundary), 1);
    ASSERT_EQ(writeBoundaryHeader(kBndBoundary), 1);  // a header ends the block still open
    writeBoundaryEnd();
    EXPECT_EQ(getText(fileOf(kBndBoundary)),
              "**BND 1\n**PLUNGE X1.500000 Y-2.000000\nX0.000000 Y0.000000 Z0.000000\n"
              "X1.000000 Y1.000000 Z1.000000\n**END\n**BND 2\n**END\n**BND 3\n**END\n");
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(writeBoundaryHeader(kBndProfile), 1);
        writeBoundaryPoint(i, 0, 0, i, 1, 0);
        writeBoundaryEnd();
    }
    EXPECT_EQ(getText(fileOf(kBndProfile, 1)),
              "**PRF 1\nX0.000000 Y0.000000 Z0.000000\nX0.000000 Y1.000000 Z0.000000\n**END\n");
    EXPECT_EQ(getText(fileOf(kBndProfile, 2)),
              "**PRF 1\nX1.000000 Y0.000000 Z0.000000\nX1.000000 Y1.000000 Z0.000000\n**END\n");
    EXPECT_EQ(writeBoundaryHeader(kBndNone), 1);
    writeBoundarySetFolder(dir.file("no/such/folder").c_str());
    EXPECT_EQ(writeBoundaryHeader(kBndInclination), 0);
}

// A geometry's side of compensation and plunge point reach its block as read from the file; a value
// that is no "x/y" pair writes no plunge line.
TEST_F(BndFile, GeometrySideAndPlungePointReachTheBlock) {
    struct Case {
        const char *side, *plunge, *lines;
    } cases[] = {
        {"leftOfContour", "1.5/-2", "**SIDE L\n**PLUNGE X1.500000 Y-2.000000\n"},
        {"rightOfContour", "3,4", "**SIDE R\n**PLUNGE X3.000000 Y4.000000\n"},
        {"onContour", "7", "**SIDE C\n"},
    };
    const std::string geo = dir.file("geo.kvx");
    for (const Case& c : cases) {
        writeBoundarySetSideOutput(1);
        writeBoundarySetPlungeOutput(1);
        writeTextFile(geo,
                      kvxText((std::string("o Geometry[g]()\n{\nv 3Dtype(boundary)\nv sideOfCompensation(") +
                               c.side + ")\nv plungePoint(" + c.plunge +
                               ")\no Contour[c]()\n{\no L(x[0/10] y[0/0] z[0/0])\n}\n}\n")
                                  .c_str()));
        ASSERT_EQ(writeBoundaryFromFile(geo.c_str(), nullptr, nullptr), 1);
        EXPECT_EQ(getText(fileOf(kBndBoundary)),
                  std::string("**BND 1\n") + c.lines +
                      "X0.000000 Y0.000000 Z0.000000\nX10.000000 Y0.000000 Z0.000000\n**END\n")
            << c.side;
        writeBoundaryResetState();
        writeBoundarySetFolder(dir.path.c_str());
        std::remove(fileOf(kBndBoundary).c_str());
    }
}

TEST_F(BndFile, BlockCounterCountsPointsPerBlockAndPairsSplit) {
    const std::string pad(128, ' ');
    struct Case {
        std::string text;
        int32_t capacity;
        int result;
        std::vector<BndPair> pairs;
        int32_t lines;
    } cases[] = {
        {"**BND 1\nX1 Y2 Z3\nX4 Y5 Z6\n**END\n", 4, 1, {{2, 0}}, 4},
        {"**BND 1\r\nX1 Y2 Z3\r\nX4 Y5 Z6\r\n**END\r\n", 4, 1, {{2, 0}}, 4},
        {"**BND 1\nX\n**END\n**CLN 1\nX\nX\nX\n**END\n**BND 2\n**END", 4, 2, {{1, 3}, {0, 0}}, 10},
        {"**BND 1\nX\n**END\n**BND 2\nX\nX\n**END\n", 1, 1, {{1, 0}}, 7},
        // A table filled early: the lines after it still count, the last one without its line end too.
        {"**BND 1\nX\n**END\n**BND 2\nX\nX\n**END\nX\n\nlast", 1, 1, {{1, 0}}, 10},
        {"\n**GROUP 1\n\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\n\n**END\n", 2, 1, {{1, 0}, {0, 0}}, 7},
        {"", 2, 0, {{0, 0}, {0, 0}}, 0},
        {"X\n**END\n**BND 1\nX\n**END\n", 2, 1, {{1, 0}, {0, 0}}, 5},  // an end outside a block ends none
        {"**BND 1\nX\n**END\nX\n**END\n", 2, 1, {{1, 0}, {0, 0}}, 5},  // nor one after a block
        // Each "**CLN" block has its own slot, and they too can fill the table before any "**BND".
        {"**CLN 1\nX\n**END\n**CLN 2\nX\nX\n**END\n**BND 1\nX\n**END\n", 3, 1, {{1, 1}, {0, 2}}, 10},
        {"**CLN 1\nX\n**END\n**BND 1\nX\n**END\n", 1, 0, {{0, 1}}, 6},
        // Lines are cut after 129 characters: a word starting at the 130th leaves a blank line.
        {"**BND 1\n" + pad + "X\n " + pad + "X\n**END\n", 1, 1, {{1, 0}}, 4},
    };
    for (const Case& c : cases) {
        const std::string path = dir.file("c.bnd");
        writeTextFile(path, c.text);
        std::vector<BndPair> pairs(static_cast<size_t>(c.capacity), BndPair{-7, -7});
        int32_t lines = -1;
        EXPECT_EQ(bnd_read(path.c_str(), pairs.data(), c.capacity, &lines), c.result) << c.text;
        EXPECT_EQ(lines, c.lines) << c.text;
        for (size_t i = 0; i < c.pairs.size(); ++i) {
            EXPECT_EQ(pairs[i].count, c.pairs[i].count) << c.text << i;
            EXPECT_EQ(pairs[i].second, c.pairs[i].second) << c.text << i;
        }
    }
    int32_t lines = 0;
    EXPECT_EQ(bnd_read("", nullptr, 0, &lines), -1);
    // No memory for the line buffer: -1 and no lines, never the 0 of a file without blocks.
    const std::string counted = dir.file("c.bnd");
    lines = 7;
    allocfail::arm(1);
    const int shortRc = bnd_read(counted.c_str(), nullptr, 2, &lines);
    allocfail::disarm();
    EXPECT_TRUE(allocfail::fired() && shortRc == -1 && lines == 0) << shortRc << " " << lines;
    double xy[2] = {0, 0};
    EXPECT_TRUE(parseXyPair("1.5,-2", xy) == 1 && xy[1] == -2.0);
    EXPECT_TRUE(parseXyPair("3/4", xy) == 1 && xy[0] == 3.0);
    EXPECT_EQ(parseXyPair("5", xy), 0);
    lines = 7;
    EXPECT_EQ(bnd_read(dir.file("missing.bnd").c_str(), nullptr, 0, &lines), -1);
    EXPECT_EQ(lines, 0);  // no lines of a file not there
    // A name goes only into the room given: none for size 0, whole or not at all otherwise.
    char name[8] = "xxxxxxx";
    writeBoundaryFileName(kBndBoundary, 1, name, 0);
    EXPECT_STREQ(name, "xxxxxxx");
    writeBoundaryFileName(kBndBoundary, 1, name, 8);
    EXPECT_STREQ(name, "");
    char big[512] = "x";
    for (const int32_t kind : {kBndNone, kBndKinds}) {  // no file of its own
        writeBoundaryFileName(kind, 1, big, sizeof big);
        EXPECT_STREQ(big, "") << kind;
    }
    // Each kind's extension; the second profile has its own file.
    const struct {
        int32_t kind;
        int which;
        const char* ext;
    } files[] = {{kBndBoundary, 1, ".bnd"},   {kBndProfile, 1, ".prf"}, {kBndProfile, 2, ".pr2"},
                 {kBndProfile4, 2, ".pr2"},   {kBndSynch, 1, ".snc"},   {kBndSegment, 1, ".snc"},
                 {kBndInclination, 1, ".trc"}};
    for (const auto& f : files) {
        const std::string file = fileOf(f.kind, f.which);
        ASSERT_GT(file.size(), 4u);
        EXPECT_EQ(file.substr(file.size() - 4), f.ext) << f.kind << " " << f.which;
    }
}

// Points leave frame A for the world, and the mirror image only where point files pass through it.
TEST_F(BndFile, PointsLeaveTheMirrorOnlyForPointFiles) {
    const Vec3 p1{0, 0, 5}, a1{0, 0, 1}, none{0, 0, 0};
    ASSERT_EQ(framePairCreate(&p1, &a1, &none, &none), 1);
    for (const int mirror : {0, 1}) {
        framePairSetFlag(kFramePairPointFiles, mirror);
        ASSERT_EQ(writeBoundaryHeader(kBndBoundary), 1);
        writeBoundaryPoint(1, 2, 3, 4, 5, 6);
        writeBoundaryEnd();
    }
    const std::vector<Vec3> p = pointsOf(getText(fileOf(kBndBoundary)));
    ASSERT_EQ(p.size(), 4u);
    const double z[] = {3, 6, 7, 4};  // mirrored in the plane z = 5
    for (size_t i = 0; i < 4; ++i) EXPECT_EQ(p[i].z, z[i]) << i;
}

// An empty start slot takes the previous element's end; each block starts from the origin, whatever the
// block before ended on.
TEST_F(BndFile, EmptyStartSlotsFollowTheLastEndWithinABlockOnly) {
    const std::string geo = dir.file("geo.kvx");
    writeTextFile(geo, kvxText("o Geometry[g]()\n{\nv 3Dtype(boundary)\no Contour[c]()\n{\n"
                               "o L(x[/10] y[/0] z[/2])\no L(x[/10] y[/5] z[/3])\n}\n}\n"
                               "o Geometry[h]()\n{\nv 3Dtype(boundary)\no Contour[d]()\n{\n"
                               "o L(x[/3] y[/4] z[/1])\n}\n}\n"));
    double surface = 0, depth = 0;
    ASSERT_EQ(writeBoundaryFromFile(geo.c_str(), &surface, &depth), 1);
    const std::string text = getText(fileOf(kBndBoundary));
    EXPECT_NE(text.find("**BND 2"), std::string::npos) << text;
    const std::vector<Vec3> got = pointsOf(text);
    const double want[][3] = {{0, 0, 0}, {10, 0, 2}, {10, 5, 3}, {0, 0, 0}, {3, 4, 1}};
    ASSERT_EQ(got.size(), std::size(want)) << text;
    for (size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].x, want[i][0]) << i;
        EXPECT_EQ(got[i].y, want[i][1]) << i;
        EXPECT_EQ(got[i].z, want[i][2]) << i;
    }
}

// A block ends with the scope of its geometry: a side or plunge point given after it reaches no block.
// A stray closing brace before a contour takes none of its elements from the block opened inside it.
TEST_F(BndFile, ABlockEndsWithItsGeometrysScope) {
    const std::string geo = dir.file("geo.kvx");
    for (const char* records :
         {"o Geometry[g]()\n{\nv 3Dtype(boundary)\no Contour[c]()\n{\n"
          "o L(x[0/10] y[0/0] z[0/0])\n}\n}\nv sideOfCompensation(leftOfContour)\n"
          "v plungePoint(1,2)\n",
          "}\no Contour[c]()\n{\nv 3Dtype(boundary)\no L(x[0/10] y[0/0] z[0/0])\n}\n"}) {
        writeBoundarySetSideOutput(1);
        writeBoundarySetPlungeOutput(1);
        writeTextFile(geo, kvxText(records));
        ASSERT_EQ(writeBoundaryFromFile(geo.c_str(), nullptr, nullptr), 1);
        EXPECT_EQ(getText(fileOf(kBndBoundary)),
                  "**BND 1\nX0.000000 Y0.000000 Z0.000000\nX10.000000 Y0.000000 Z0.000000\n**END\n");
        writeBoundaryResetState();
        writeBoundarySetFolder(dir.path.c_str());
        std::remove(fileOf(kBndBoundary).c_str());
    }
}

// Arcs of a geometry file turn about their centre (the third of each slot), counter-clockwise unless
// marked "-", at the start's height; a quarter of radius 10 about (3, -2) in steps of 5 degrees.
TEST_F(BndFile, GeometryArcsTurnAboutTheirCentre) {
    writeBoundarySetArcStep(5.0);
    for (const bool clockwise : {false, true}) {
        const std::string geo = dir.file("arc.kvx");
        writeTextFile(geo,
                      kvxText(std::string("o Geometry[g]()\n{\nv 3Dtype(boundary)\no Contour[c]()\n{\n") +
                              "o A(x[13/3/3] y[-2/8/-2] z[4/4]" + (clockwise ? " o[-])" : ")") + "\n}\n}\n"));
        ASSERT_EQ(writeBoundaryFromFile(geo.c_str(), nullptr, nullptr), 1);
        const std::vector<Vec3> p = pointsOf(getText(fileOf(kBndBoundary)));
        ASSERT_EQ(p.size(), clockwise ? 55u : 19u);
        for (const Vec3& q : p) {
            EXPECT_NEAR(std::hypot(q.x - 3, q.y + 2), 10.0, 1e-5) << clockwise;
            EXPECT_EQ(q.z, 4.0);
        }
        EXPECT_NEAR(p.back().x, 3.0, 1e-6);
        EXPECT_NEAR(p.back().y, 8.0, 1e-6);
        // The second point lies a step on from the start, up (counter-clockwise) or down.
        EXPECT_EQ(p[1].y > -2, !clockwise);
        writeBoundaryResetState();
        writeBoundarySetFolder(dir.path.c_str());
        writeBoundarySetArcStep(5.0);
        std::remove(fileOf(kBndBoundary).c_str());
    }
}
