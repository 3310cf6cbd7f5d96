#include "collision/collassembly.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

// Controls only: nomemory_test.cpp defines the hooks.
#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "collision/collunit.h"
#include "collision/tprof.h"
#include "geometry/msg_capture.h"
#include "kernel/base/msg.h"
#include "meshutil.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/meshtest.h"

namespace {

// A quad as two triangles.
std::vector<Triangle3D> quad(Vec3 a, Vec3 b, Vec3 c, Vec3 d) {
    return {Triangle3D{{a, b, c}}, Triangle3D{{a, c, d}}};
}
const std::vector<Triangle3D> kWall = quad({0, -300, 0.5}, {0, 300, 0.5}, {0, 300, 500}, {0, -300, 500}),
                              kPlate = quad({-300, -300, 0}, {300, -300, 0}, {300, 300, 0}, {-300, 300, 0});

// Ball R 2, shank 6 wide from 12 to 40; extension r 5 to 60, holder r 10 to 80, head r 20 to 120.
ToolDescription assemblyTool() {
    ToolDescription t{};
    t.toolType = 1, t.radius = 2, t.cornerRadius = 2, t.cutterTop = 40, t.tipTop = 10, t.chamferTop = 2;
    t.shaftDiameter = 6;
    return t;
}

std::string partContour(const char* name, int r, int len) {
    const std::string R = std::to_string(r);
    return std::string("o Contour[") + name + "]()\n{\no L(x[0/" + R + "] y[0/0] z[0/0])\no L(x[/" + R +
           "] y[/" + std::to_string(len) + "] z[/0])\n}\n";
}

struct Assembly : ::testing::Test {
    TempDir dir;
    std::string contours = dir.file("parts.kvx"), wall = dir.file("wall.stl"), plate = dir.file("plate.stl");
    testmesh::Model part{{testmesh::slopeTri(-1000, 0)}, kBallMill, 2.0};
    ToolDescription tool = assemblyTool();
    void SetUp() override {
        collAssemblyResetState();
        collSetUnitFactor(1);
        writeTextFile(contours, kvxText(partContour("Extension", 5, 20) + partContour("Holder", 10, 20) +
                                        partContour("Head", 20, 40)));
        // The plane x = 0 from z = 0.5 up through the axis of a vertical tool at the origin (as one
        // triangle: a single triangle is an obstacle, its index 0 a hit), and the plane z = 0.
        writeTextFile(wall, testmesh::stlText({kWall[0]}));
        writeTextFile(plate, testmesh::stlText(kPlate));
    }
    void TearDown() override { collAssemblyResetState(); }
    // Obstacle files of cutting part, extension, holder, head ("" for none).
    int build(const CheckModel* model, const std::string& file, const char* mask, int head = 1) {
        setup = CollSetup{contours.c_str(), head, nullptr, nullptr, nullptr, nullptr, 0.5, 0.5, 0.5, 0.002};
        for (int i = 0; i < 4; ++i) names[i] = mask[i] == '1' ? file : "";
        setup.cuttingFile = names[0].c_str(), setup.extensionFile = names[1].c_str();
        setup.holderFile = names[2].c_str(), setup.headFile = names[3].c_str();
        return coll_setup_assembly(model, &tool, 0, &setup);
    }
    CollSetup setup{};
    std::string names[4];
    double partBottom(int from) const {  // lowest vertex of the part meshes from index `from` up
        double z = 1e9;
        for (int i = from; i < kAsmParts; ++i)
            for (int k = 0; coll_assembly()->slots[0].parts[i] &&
                            k < coll_assembly()->slots[0].parts[i]->mesh->count * 9;
                 k += 3)
                z = std::fmin(z, coll_assembly()->slots[0].parts[i]->mesh->data[k / 9].v[k % 9 + 2]);
        return z;
    }
};

Vec3 gReference{};
int gModelFlag = -1;

}  // namespace

// With the wall through every part and the cutter, the first in the order cutting part, head, holder,
// extension, cutter names the result. coll_check_where gives the contact vertex of a head or holder hit,
// leaves the caller's point for an extension or cutting-part hit (handing either on as the reference)
// and leaves both alone for the cutter test. Every set-up tells the avoidance its models exist.
TEST_F(Assembly, ResultPriorityAndContactVertex) {
    testmesh::Model wallModel(kWall, kBallMill, 2.0);
    collSetAvoidHooks([](int32_t on) { gModelFlag = on; }, [](const Vec3* p) { gReference = *p; });
    const struct {
        const char* mask;
        int head;
        int32_t full, parts, part;
    } cases[] = {{"1111", 1, -7, -4, kPartCutting}, {"0111", 1, -4, -4, kPartHead},
                 {"0111", 0, -3, -3, kPartHolder},  {"0101", 0, -6, -6, kPartExtension},
                 {"1000", 1, -7, 1, kPartCutting},  {"0000", 1, -10, 1, kPartTool}};
    const Vec3 tip{0, 0, 0}, axis{0, 0, 1}, away{100, 0, 0};
    for (const auto& c : cases) {
        gModelFlag = -1;
        ASSERT_EQ(build(&wallModel.m, wall, c.mask, c.head), 1) << c.mask;
        EXPECT_TRUE(gModelFlag == 1 && coll_assembly()->count == 1) << c.mask;  // one slot, always
        EXPECT_EQ(coll_assembly()->slots[0].parts[kAsmHead] != nullptr, c.head == 1)
            << c.mask;  // built when checked
        int32_t hit = 77;
        EXPECT_EQ(coll_check_full(&away, &axis, &hit), 1);
        EXPECT_EQ(hit, 77);  // untouched when free
        EXPECT_EQ(coll_check_parts(&tip, &axis, &hit), c.parts) << c.mask;
        EXPECT_EQ(coll_check_full(&tip, &axis, &hit), c.full) << c.mask;
        EXPECT_EQ(coll_assembly()->slots[0].collPart, c.part) << c.mask;
        EXPECT_EQ(coll_assembly()->slots[0].hits->count, 0) << c.mask;  // read, then emptied for the next
        Vec3 where{-9, -9, -9};
        gReference = Vec3{7, 7, 7};
        EXPECT_EQ(coll_check_where(&tip, &axis, nullptr), c.full);  // nowhere to write
        EXPECT_EQ(coll_check_where(&tip, &axis, &where), c.full);
        if (c.full == kCollHead || c.full == kCollHolder) {
            EXPECT_TRUE(where.x == 0 && std::fabs(where.y) == 300 && (where.z == 0.5 || where.z == 500))
                << c.mask;
        } else {
            EXPECT_TRUE(where.x == -9 && where.y == -9 && where.z == -9) << c.mask;
        }
        const Vec3 handed = c.full == kCollCutter ? Vec3{7, 7, 7} : where;
        EXPECT_TRUE(gReference.x == handed.x && gReference.y == handed.y && gReference.z == handed.z)
            << c.mask;
        coll_free_models();
    }
    Vec3 where{-9, -9, -9};
    EXPECT_EQ(coll_check_where(&tip, &axis, &where), 1);  // nothing built: free
    EXPECT_EQ(where.x, -9);
}

TEST_F(Assembly, PlacementRowsAndClearances) {
    ASSERT_EQ(build(&part.m, plate, "1111"), 1);
    EXPECT_EQ(coll_obstacle_mesh(kAsmHead), coll_obstacle_mesh(kAsmCutting));  // one file, loaded once
    EXPECT_EQ(setup.cuttingClearance, 0.008);
    EXPECT_EQ(setup.extensionClearance, 0.5);
    auto shankRadius = [] {
        const CollModel* shank = coll_assembly()->slots[0].parts[kAsmCutting];
        double rmax = 0;
        for (int i = 0; shank && i < shank->mesh->count * 3; ++i)
            rmax = std::fmax(rmax, std::hypot(shank->mesh->data[i / 3].v[i % 3 * 3],
                                              shank->mesh->data[i / 3].v[i % 3 * 3 + 1]));
        return rmax;
    };
    EXPECT_NEAR(shankRadius(), 3 + 0.008 + 1.2 * 0.008, 1e-5);  // raised to the tolerance: offset by 0.0176
    const CollModel* shank = coll_assembly()->slots[0].parts[kAsmCutting];
    ASSERT_NE(shank, nullptr);
    const Vec3 p{0, 0, 500}, up{0, 0, 1}, zero{0, 0, 0};
    // The rows are x = y cross axis, y = the unit of axis cross z while that cross is 1e-5 long, else of
    // axis cross north (also for an axis shorter than 1e-5 to z); the axis itself, as given, last.
    const struct {
        Vec3 axis;
        double y[3];
    } frames[] = {{{0, 0, 1}, {-1, 0, 0}},
                  {{2e-5, 0, 1}, {0, -1, 0}},
                  {{5e-6, 0, 1}, {-1, 0, 5e-6}},
                  {{0, 0, 5e-5}, {-1, 0, 0}}};
    for (const auto& f : frames) {
        EXPECT_EQ(coll_check_full(&p, &f.axis, nullptr), 1);
        const double* a = &f.axis.x;
        const double x[3] = {f.y[1] * a[2] - f.y[2] * a[1], f.y[2] * a[0] - f.y[0] * a[2],
                             f.y[0] * a[1] - f.y[1] * a[0]};
        const double n = std::sqrt(x[0] * x[0] + x[1] * x[1] + x[2] * x[2]);
        for (int j = 0; j < 3; ++j) {
            EXPECT_NEAR(shank->rot.m[0][j], x[j] / n, 1e-9) << f.axis.x << " " << f.axis.z;
            EXPECT_NEAR(shank->rot.m[1][j], f.y[j], 1e-9) << f.axis.x << " " << f.axis.z;
            EXPECT_EQ(shank->rot.m[2][j], a[j]);
        }
    }
    // A parts check turns the parts it tests, never the cutting part it leaves out.
    const Vec3 lean{1, 0, 1};
    EXPECT_EQ(coll_check_parts(&p, &lean, nullptr), 1);
    EXPECT_EQ(shank->rot.m[2][2], 5e-5);  // still the last full check's axis
    EXPECT_EQ(coll_assembly()->slots[0].parts[kAsmHolder]->rot.m[2][0], 1.0);
    EXPECT_EQ(coll_check_full(&p, &zero, nullptr), kCollBadAxis);
    EXPECT_EQ(setup.holderClearance, 0.5);
    EXPECT_EQ(setup.headClearance, 0.5);
    // A full check that gets past the orientation marks the slot oriented; the vertical check clears it.
    EXPECT_EQ(coll_check_full(&p, &up, nullptr), 1);
    EXPECT_EQ(coll_assembly()->slots[0].oriented, 1);
    int32_t code = -1;
    EXPECT_EQ(coll_check_vertical(&p, 1, &code), kCollFree);
    EXPECT_EQ(code, kPartNone);
    EXPECT_EQ(coll_assembly()->slots[0].oriented, 0);
    setup.extensionClearance = 0.001;
    ASSERT_EQ(coll_setup_assembly(&part.m, &tool, 0, &setup), 1);
    EXPECT_EQ(setup.extensionClearance, 0.008);                 // the cutting part's
    EXPECT_NEAR(shankRadius(), 3 + 0.008 + 1.2 * 0.004, 1e-5);  // a clearance at the tolerance keeps its half
}

// The free height is where the lowest part bottom clears the plate; a free start returns at once, and
// without a holder or head obstacle a search cannot start.
TEST_F(Assembly, VerticalCheckAndFreeHeight) {
    ASSERT_EQ(build(&part.m, plate, "1111"), 1);
    const double zLow = partBottom(kAsmCutting);
    const Vec3 p{5, 5, -50};
    int32_t code = -1;
    EXPECT_EQ(coll_check_vertical(&p, 1, &code), kCollAny);
    EXPECT_EQ(code, kPartExtension);  // the plate at 50 lies in the extension band
    // Halved down to 0.01 from each start: the free height lies as near from every one.
    for (const double z : {-50.0, -47.3, -44.1}) {
        const Vec3 from{5, 5, z};
        double h = 0;
        ASSERT_EQ(coll_free_height(&from, &h), 1);
        EXPECT_NEAR(h, -zLow - z, 0.011) << z;
    }
    double h2 = 80;
    EXPECT_EQ(coll_free_height(&p, &h2), 1);
    EXPECT_EQ(h2, 80);
    EXPECT_EQ(coll_check_vertical(&p, 1, &code), kCollAny);
    // Without a holder or head obstacle there is no top to search from.
    coll_free_models();
    ASSERT_EQ(build(&part.m, plate, "1100"), 1);
    double h3 = 0;
    EXPECT_EQ(coll_free_height(&p, &h3), -1);
    EXPECT_EQ(h3, 0.0);
    // Over the holder's obstacle (the plate) the cutting part meets its wall (up to 250), 100 higher too.
    setup = CollSetup{contours.c_str(), 1, "", plate.c_str(), "", wall.c_str(), 0.5, 0.5, 0.5, 0.002};
    ASSERT_EQ(coll_setup_assembly(&part.m, &tool, 0, &setup), 1);
    const Vec3 axis{0, 0, 0};
    EXPECT_TRUE(coll_free_height(&axis, &h3) == -1 && h3 == 0.0);
    // A top 2.56 over a start at 0 (the holder's plate at 0, a ball of radius 1.56) halves exactly down to
    // 0.01; the cutting part's wall raised to 9.995 clears it within the first 0.005: the answer is 0.01.
    coll_free_models();
    tool.radius = tool.cornerRadius = 1.56;
    const double top = 9.995;
    writeTextFile(wall, testmesh::stlText(
                            quad({-300, -300, top}, {300, -300, top}, {300, 300, top}, {-300, 300, top})));
    ASSERT_EQ(coll_setup_assembly(&part.m, &tool, 0, &setup), 1);
    ASSERT_NEAR(top - partBottom(kAsmCutting), 0.0025, 0.0025);
    const Vec3 origin{5, 5, 0};
    EXPECT_TRUE(coll_free_height(&origin, &h3) == 1 && h3 == 0.01) << h3;
}

// A shifted check follows an axis tilted 2e-5 (the tip moved 10 across by d = 5e5) and takes one within
// 1e-5 of vertical on x and y as upright: the head (radius 20.8) 23 from a wall in x = 0 or y = 0 then
// clears it, moved 10 towards it meets it.
TEST_F(Assembly, ShiftedCheckTakesANearlyVerticalAxisUpright) {
    for (int k = 0; k < 2; ++k) {
        writeTextFile(wall, testmesh::stlText(
                                {k ? Triangle3D{{{-300, 0, 0.5}, {300, 0, 0.5}, {0, 0, 500}}} : kWall[0]}));
        ASSERT_EQ(build(&part.m, wall, "0001"), 1);
        const Vec3 p{k ? 0.0 : 23.0, k ? 23.0 : 0.0, 100 - 5e5};
        for (const auto& [tilt, free] : {std::pair{0.9e-5, true}, {2e-5, false}}) {
            const Vec3 axis{k ? 0 : -tilt, k ? -tilt : 0, 1};
            EXPECT_EQ(coll_check_shifted(&p, &axis, 5e5), free) << k << " " << tilt;
        }
    }
    // A parts check turns the parts with the axis: the holder (radius 10.8, 60 to 80 up) 15 from the wall y =
    // 0 clears it upright; leaning towards it by 0.2 (its axis crossing the wall 75 up) it meets it.
    ASSERT_EQ(build(&part.m, wall, "0110", 0), 1);
    const Vec3 p{0, -15, 0}, up{0, 0, 1}, lean{0, 0.2, std::sqrt(0.96)};
    EXPECT_EQ(coll_check_parts(&p, &up, nullptr), kCollFree);
    EXPECT_EQ(coll_check_parts(&p, &lean, nullptr), kCollHolder);
}

TEST_F(Assembly, ObstacleThatDoesNotLoadFailsTheSetUp) {
    const std::string bad = dir.file("bad.stl");
    writeTextFile(bad, "solid x\nfacet normal 0 0 1\nouter loop\nvertex 1 2\n");
    MessageCapture capture(9);
    EXPECT_EQ(build(&part.m, bad, "0100"), -1);
    EXPECT_EQ(capture.countOf("5200," + bad), 1);
    EXPECT_EQ(coll_assembly(), nullptr);
    const Vec3 p{0, 0, 0}, up{0, 0, 1};
    EXPECT_EQ(coll_check_full(&p, &up, nullptr), 1);
}

// The report's searches find the first free step of the vertical assembly (without the cutting part)
// over the plate: the lowest bottom of the other parts must clear it.
TEST_F(Assembly, ReportSearchesFindTheFreeStep) {
    ASSERT_EQ(build(&part.m, plate, "1111"), 1);
    const double zLow = partBottom(kAsmExtension);
    const Vec3 up{0, 0, 1};
    // The first guess is the clearance height (100, or 0 just above the plate), else 100 steps more.
    for (const auto& [z, clearance] :
         {std::pair{-50.03, 100.0}, {-45.33, 100.0}, {-20.0, 100.0}, {-50.03, 0.0}}) {
        collrep_create(&tool, 0, 1, 0.1, clearance);
        const Vec3 p{3, 4, z};
        EXPECT_EQ(collrep_record(&p, &up, 0, kCollExtension), 1);
        EXPECT_EQ(collrep_current()->extendSteps,
                  std::max(0, static_cast<int32_t>(std::floor((-z - zLow) / 0.1)) + 1))
            << z;
    }
    tool.chamferTop = 0, tool.tipTop = 0;  // reducible 40; none where the parts hit already as they stand
    for (const double z : {-30.03, -50.03}) {
        collrep_create(&tool, 1, 0, 0.1, 100);
        const Vec3 p{3, 4, z};
        EXPECT_EQ(collrep_record(&p, &up, 0, 1), 1);
        EXPECT_EQ(collrep_current()->reduceSteps,
                  std::min(0, 1 - static_cast<int32_t>(std::ceil((zLow + z) / 0.1))))
            << z;
    }
    // A wall from 150 up over the plate: with step 2 the clearance guess is free, 100 steps more are not.
    std::vector<Triangle3D> capped = kPlate;
    for (const Triangle3D& t : quad({0, -300, 150}, {0, 300, 150}, {0, 300, 500}, {0, -300, 500}))
        capped.push_back(t);
    writeTextFile(wall, testmesh::stlText(capped));
    coll_free_models();
    ASSERT_EQ(build(&part.m, wall, "1111"), 1);
    const Vec3 p{3, 4, -50.03};
    const int32_t want = static_cast<int32_t>(std::floor((-p.z - partBottom(kAsmExtension)) / 2)) + 1;
    collrep_create(&tool, 0, 1, 2, p.z + 2 * (want + 2) + 1);
    EXPECT_EQ(collrep_record(&p, &up, 0, kCollExtension), 1);
    EXPECT_EQ(collrep_current()->extendSteps, want);
    // A guess inside the wall, and 100 steps more too: no lengthening frees the position.
    collrep_create(&tool, 0, 1, 2, 200);
    EXPECT_EQ(collrep_record(&p, &up, 0, kCollExtension), -2);
    collrep_free();
}

// A named obstacle that opens but yields no triangle fails the set-up as a file that does not load: an
// empty obstacle would pass every position unseen. No obstacle named at all is no failure.
TEST_F(Assembly, NamedObstacleWithoutATriangleFailsTheSetUp) {
    const std::string poly = "o Polyhedron[p]()\n{\nm P[1](+0+0+0+1+0+0)\nm V(1/1/1/2/1/1)\n";
    writeTextFile(dir.file("empty.3df"), "");
    std::filesystem::create_directory(dir.file("folder.3df"));
    writeTextFile(dir.file("nomesh.kvx"), kvxText("o Polyhedron[p]()\n{\n}\n"));
    writeTextFile(dir.file("flat.kvx"), kvxText(poly + "o Face(vx[1/1] vx[1/1] vx[1/2])\n}\n"));
    TriList* tris = triListCreate(2);
    ASSERT_NE(tris, nullptr);
    for (const Triangle3D& t : kWall) triListAdd(tris, &t);
    ASSERT_EQ(polymeshWrite3df(kMeshTriangles, tris, nullptr, 0, dir.file("facets.kvx").c_str()), 2);
    triListFree(tris);
    const struct {
        std::string file;
        const char* mask;
        int result;
    } cases[] = {{dir.file("empty.3df"), "0100", -1},
                 {dir.file("folder.3df"), "1111", -1},
                 {dir.file("facets.kvx"), "0010", -1},
                 {dir.file("nomesh.kvx"), "0100", -1},
                 {dir.file("flat.kvx"), "0001", -1},
                 {contours, "1000", -1},
                 {wall, "1111", 1},
                 {dir.file("missing.stl"), "0110", 1},  // a file that does not open names no obstacle
                 {"", "1111", 1}};
    const Vec3 tip{0, 0, 0}, up{0, 0, 1};
    for (const auto& c : cases) {
        MessageCapture capture(9);
        EXPECT_EQ(build(&part.m, c.file, c.mask), c.result) << c.file;
        EXPECT_EQ(capture.countOf("5200," + c.file), c.result < 0 ? 1 : 0) << c.file;
        EXPECT_EQ(coll_assembly() != nullptr, c.result > 0) << c.file;
        EXPECT_EQ(coll_check_parts(&tip, &up, nullptr), c.file == wall ? kCollHead : 1) << c.file;
        coll_free_models();
    }
    MessageCapture quiet(8);  // the failure is an error of level 9: dropped below it
    EXPECT_EQ(build(&part.m, dir.file("nomesh.kvx"), "0100"), -1);
    EXPECT_TRUE(quiet.messages().empty());
    // No part contours to read: the cutting part alone, no failure.
    setup = CollSetup{nullptr, 1, nullptr, nullptr, nullptr, nullptr, 0.5, 0.5, 0.5, 0.002};
    EXPECT_EQ(coll_setup_assembly(&part.m, &tool, 0, &setup), 1);
    EXPECT_EQ(coll_check_parts(&tip, &up, nullptr), 1);
    // Missing arguments: nothing to check, or the set-up's failure.
    double h = 0;
    EXPECT_EQ(coll_check_full(nullptr, &up, nullptr), kCollFree);
    EXPECT_EQ(coll_check_full(&tip, nullptr, nullptr), kCollFree);
    EXPECT_EQ(coll_check_vertical(nullptr, 1, nullptr), kCollFree);
    EXPECT_EQ(coll_free_height(nullptr, &h), -1);
    EXPECT_EQ(coll_free_height(&tip, nullptr), -1);
    EXPECT_EQ(coll_setup_assembly(&part.m, nullptr, 0, &setup), -1);
    EXPECT_EQ(coll_setup_assembly(&part.m, &tool, 0, nullptr), -1);
}

// Memory short at allocations spread over the set-up (densely over the last: the part models come last):
// the set-up fails, or every part is the full set-up's, triangle for triangle, or a fault was reported.
TEST_F(Assembly, PartModelsWithoutMemoryFailTheSetUp) {
    auto parts = [] {
        std::vector<std::vector<float>> v(kAsmParts);
        for (int i = 0; i < kAsmParts; ++i)
            for (const CollModel* m = coll_assembly()->slots[0].parts[i];
                 m && v[i].size() < 9u * m->mesh->count;)
                v[i].insert(v[i].end(), m->mesh->data[v[i].size() / 9].v,
                            m->mesh->data[v[i].size() / 9].v + 9);
        return v;
    };
    allocfail::arm(0);
    ASSERT_EQ(build(&part.m, wall, "1111"), 1);
    const long total = allocfail::count();
    const std::vector<std::vector<float>> whole = parts();
    ASSERT_TRUE(!whole[kAsmCutting].empty() && !whole[kAsmHead].empty());
    for (long n = total; n >= 1; n -= n > total - 8 ? 1 : 1 + (total - n) / 2) {
        const uint32_t faults = msgFaultCount();  // a reader cut short says so, and reads on as at the end
        allocfail::arm(n);
        const int result = build(&part.m, wall, "1111");
        allocfail::disarm();
        EXPECT_TRUE(result == -1 || (result == 1 && (parts() == whole || msgFaultCount() > faults))) << n;
    }
    // A head clearance of 1e-12 (no model raises it) asks for more chords than any memory holds: the
    // head is refused before it is built, and the set-up fails as when memory is short.
    setup = CollSetup{contours.c_str(), 1, "", "", "", "", 1e-12, 0.5, 0.5, 0.002};
    EXPECT_EQ(coll_setup_assembly(nullptr, &tool, 0, &setup), -1);
}

// The taper cone of the cutter test is the flank of the tool as given, tangent to the corner circle that
// the model tolerance t takes in: at the cutting length H its radius is t + (R - t) / cos a + H tan a. A
// wall just inside it is hit (-10), one just outside is not.
TEST_F(Assembly, TaperConeIsTheToolsFlank) {
    const double R = 2.0, H = 10.0, t = 0.2, a = 20.0;
    const double flank = t + (R - t) / std::cos(a * M_PI / 180) + H * std::tan(a * M_PI / 180);
    // Upright, and tilted with the wall turned along: the wall keeps its distance d from the axis.
    const double k = std::sqrt(0.25 + 1);
    const Vec3 axes[2][3] = {{{0, 0, 1}, {1, 0, 0}, {0, 1, 0}},
                             {{0.3 / k, 0.4 / k, 1 / k}, {0.8, -0.6, 0}, {0.6 / k, 0.8 / k, -0.5 / k}}};
    for (const auto& f : axes) {
        const Vec3 &axis = f[0], &n = f[1], &w = f[2];
        auto at = [&](double d, double s, double h) {
            return Vec3{d * n.x + s * w.x + h * axis.x, d * n.y + s * w.y + h * axis.y,
                        d * n.z + s * w.z + h * axis.z};
        };
        for (const double d : {flank - 0.05 * t, flank + 0.05 * t}) {
            testmesh::Model model(quad(at(d, -300, 0.5), at(d, 300, 0.5), at(d, 300, 500), at(d, -300, 500)),
                                  kBallMill, R);
            model.m.tolerance = t;
            model.m.tool->height = H, model.m.tool->taperAngle = a, model.m.tool->taperFlag = 1;
            ASSERT_EQ(build(&model.m, "", "0000"), 1);
            const Vec3 tip{0, 0, 0};
            int32_t hit = -1;
            EXPECT_EQ(coll_check_full(&tip, &axis, &hit), d < flank ? kCollCutter : kCollFree)
                << d - flank << " " << axis.x;
            coll_free_models();
        }
    }
}

// An allowance widens every part by itself on top of its clearance c = 0.5 + 1.2 x 0.25: the extension
// (5), the holder (10) and the head (20), each revolved with its widest radius on the circle. Each part's
// lowest point is its base less c, raised by the allowance: the extension from 40 (its own widening
// lowered it first), the holder from the extension's top after its allowance (60 + a, less a as it is
// widened too), the head from the holder's top as read (80 + a, less a taken with its clearance).
TEST_F(Assembly, AllowanceWidensEveryPart) {
    ASSERT_EQ(build(&part.m, plate, "1111"), 1);
    const double radius[] = {5, 10, 20}, c = 0.5 + 1.2 * 0.25;
    for (const double a : {0.3, 1e-5}) {  // 1e-5: the least that counts
        ASSERT_EQ(coll_setup_assembly(&part.m, &tool, a, &setup), 1);
        const double low[] = {40 - c, 60 - c + a, 80 - c + a};
        double widest = 0;  // seen from the tip: the extension's and the holder's widest angle
        for (int i = kAsmExtension; i <= kAsmHead; ++i) {
            const CollModel* m = coll_assembly()->slots[0].parts[i];
            ASSERT_NE(m, nullptr) << i;
            double rmax = 0, zmin = 1e9, span = 0;  // span: the longest reach of a triangle in r or z
            for (int t = 0; t < m->mesh->count; ++t) {
                double r[3], z[3];
                for (int k = 0; k < 3; ++k) {
                    const float* v = &m->mesh->data[t].v[3 * k];
                    r[k] = std::hypot(v[0], v[1]), z[k] = v[2];
                    rmax = std::fmax(rmax, r[k]), zmin = std::fmin(zmin, v[2]);
                    if (i != kAsmHead) widest = std::max(widest, std::atan2(r[k], std::fabs(z[k])));
                }
                for (const double* x : {r, z})
                    span = std::max(span, *std::max_element(x, x + 3) - *std::min_element(x, x + 3));
            }
            EXPECT_NEAR(rmax, radius[i - kAsmExtension] + c + a, 3e-6) << i;
            EXPECT_NEAR(zmin, low[i - kAsmExtension], 1e-5) << i;
            EXPECT_LE(span, 8 + 1e-4) << i;
        }
        EXPECT_NEAR(coll_max_side_angle(), widest, 1e-6);
    }
    // An extension drawn on the axis is a profile of one segment, a part still: the holder sits on its top.
    writeTextFile(contours, kvxText("o Contour[Extension]()\n{\no L(x[0/0] y[0/20] z[0/0])\n}\n" +
                                    partContour("Holder", 10, 20)));
    ASSERT_EQ(coll_setup_assembly(&part.m, &tool, 0, &setup), 1);
    EXPECT_NEAR(partBottom(kAsmHolder), 60 - c, 1e-5);
    // A holder drawn as a quarter arc (radius 10) comes in the fewest chords whose sagitta stays within
    // half its clearance: its heights are the floor, the chords' joins, the corner over the arc and the top.
    writeTextFile(contours,
                  kvxText(partContour("Extension", 5, 20) +
                          "o Contour[Holder]()\n{\no A(o[1] x[10/20/10] y[0/10/10] z[0/0/0])\n}\n"));
    ASSERT_EQ(coll_setup_assembly(&part.m, &tool, 0, &setup), 1);
    const FTriList* mesh = coll_assembly()->slots[0].parts[kAsmHolder]->mesh;
    std::set<float> heights;
    for (int i = 0; i < mesh->count * 3; ++i) heights.insert(mesh->data[i / 3].v[i % 3 * 3 + 2]);
    const double chords = std::ceil((M_PI / 2 - 1e-4) / (2 * std::acos(1 - setup.holderClearance / 2 / 10)));
    EXPECT_EQ(double(heights.size()), chords + 2);
}

// An obstacle's triangles are reordered for its tree: every run the tree pairs into one node, [j 2^L,
// (j + 1) 2^L), is split at its middle across the longest extent of its centroids, no centroid of the
// first half beyond one of the second. Seeded small triangles in file order, 23: short of the span.
TEST_F(Assembly, ObstacleTrianglesAreOrderedByHalvedRuns) {
    rngResetState();
    std::vector<Triangle3D> tris;
    for (int i = 0; i < 23; ++i) {
        const Vec3 c{200 * rngUniform() - 100, 100 * rngUniform() - 50, 100 + 30 * rngUniform()};
        tris.push_back({{c, {c.x + 1, c.y, c.z}, {c.x, c.y + 1, c.z + 1}}});
    }
    writeTextFile(wall, testmesh::stlText(tris));
    const FTriList* m = build(&part.m, wall, "0010") == 1 ? coll_obstacle_mesh(kAsmHolder) : nullptr;
    ASSERT_TRUE(m && m->count == 23);
    auto at = [m](int32_t i, int k) {
        return (m->data[i].v[k] + m->data[i].v[3 + k] + m->data[i].v[6 + k]) / 3;
    };
    std::function<void(int32_t, int32_t, int32_t)> halves = [&](int32_t s, int32_t e, int32_t span) {
        const int32_t mid = s + span / 2;
        if (e - s < 2 || span < 2) return;
        if (mid >= e) return halves(s, e, span / 2);
        float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f}, below = -1e30f, above = 1e30f;
        for (int32_t i = s; i < e; ++i)
            for (int k = 0; k < 3; ++k) lo[k] = std::min(lo[k], at(i, k)), hi[k] = std::max(hi[k], at(i, k));
        const int axis = hi[1] - lo[1] > hi[0] - lo[0] ? (hi[2] - lo[2] > hi[1] - lo[1] ? 2 : 1)
                                                       : (hi[2] - lo[2] > hi[0] - lo[0] ? 2 : 0);
        for (int32_t i = s; i < e; ++i)
            (i < mid ? below : above) = i < mid ? std::max(below, at(i, axis)) : std::min(above, at(i, axis));
        EXPECT_LE(below, above) << s << " " << e;
        halves(s, mid, span / 2), halves(mid, e, span / 2);
    };
    halves(0, 23, 32);
    // Fewer than three stay as loaded (a pair is one node either way), here the right triangle first.
    writeTextFile(wall, testmesh::stlText({kPlate[1], kPlate[0]}));
    FTriList* loaded = coll_obstacle_from_file(wall.c_str(), 0, 2.0);
    const FTriList* two = build(&part.m, wall, "0010") == 1 ? coll_obstacle_mesh(kAsmHolder) : nullptr;
    ASSERT_TRUE(loaded && two && two->count == 2 && loaded->count == 2);
    EXPECT_TRUE(std::equal(two->data[0].v, two->data[0].v + 9, loaded->data[0].v) &&
                loaded->data[0].v[3] == 300);
    ftriListFree(loaded);
}

// The cutter test reads the grid cell under the tip, not one up or down the tilted axis: a triangle across
// the shank near the tip is hit, the cells half a cutting length (30) either way along the axis empty (far
// triangles widen the grid past them).
TEST_F(Assembly, CutterTestReadsTheCellUnderTheTip) {
    tool.tipTop = 30;
    const Vec3 tip{0, 0, 0}, axis{-0.8, 0, 0.6};
    testmesh::Model model({{{{-4, -1.5, 1.8}, {-0.8, -1.5, 1.8}, {-2.4, 2, 1.8}}},
                           {{{-30, 50, 0}, {-29, 50, 0}, {-29, 51, 0}}},
                           {{{30, -50, 0}, {29, -50, 0}, {29, -51, 0}}}},
                          kBallMill, 2.0);
    ASSERT_EQ(build(&model.m, "", "0000"), 1);
    EXPECT_EQ(coll_check_full(&tip, &axis, nullptr), kCollCutter);
}
