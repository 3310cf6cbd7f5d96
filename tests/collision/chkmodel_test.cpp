#include "collision/chkmodel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <utility>

#include "collision/collassembly.h"
#include "collision/conesection.h"
#include "collision/meshindex.h"
#include "collision/meshquery.h"
#include "collision/meshset.h"
#include "collision/plunge.h"
#include "collision/polymesh.h"
#include "collision/proj.h"
#include "collision/ringcontact.h"
#include "collision/toolassembly.h"
#include "collision/tprof.h"
#include "meshutil.h"

namespace {

CheckModelPart* newPart(double radius, CheckModelPart* next) {
    auto* p = static_cast<CheckModelPart*>(std::calloc(1, sizeof(CheckModelPart)));
    p->kind = kMeshTriangles;
    p->tool.toolType = kBallMill;
    p->tool.radius = radius;
    p->tool.size2 = 2 * radius;
    p->next = next;
    return p;
}

}  // namespace

TEST(ChkModel, OffsetToolRules) {
    const double e = 0x1p-16;  // a radius left between 1e-5 and 1e-4, every sum exact
    struct Case {
        double d;
        int changed;
        double radius, size2, partRadius, partSize2;
    } cases[] = {
        {-5 + e, 1, e, 2 * e, 3.0, -4 + 2 * e},
        {-3 + e, 1, 2 + e, 4 + 2 * e, e, 2 * e},
        {-5.0, 0, 5.0, 0.0, 3.0, -4.0},  // R - R is not above 1e-5; size2 still shrinks
        {1.0, 1, 6.0, 10.0, 4.0, 6.0},   // growth leaves every size2
        {-1.0, 1, 4.0, 8.0, 2.0, 4.0},
        {-3.0, 1, 2.0, 4.0, 3.0, 0.0},  // the part's radius would reach 0 and stays
    };
    for (const Case& c : cases) {
        testmesh::Model t({}, kBallMill, 5.0);
        t.m.parts = newPart(3.0, nullptr);
        EXPECT_EQ(chkModelOffsetTool(&t.m, c.d), c.changed) << c.d;
        EXPECT_DOUBLE_EQ(t.m.tool->radius, c.radius);
        EXPECT_DOUBLE_EQ(t.m.tool->size2, c.size2);
        EXPECT_DOUBLE_EQ(t.m.parts->tool.radius, c.partRadius);
        EXPECT_DOUBLE_EQ(t.m.parts->tool.size2, c.partSize2);
    }
    testmesh::Model edge({}, kBallMill, 2e-5);  // a radius left at exactly 1e-5 is not above it
    edge.m.parts = newPart(2e-5, nullptr);
    EXPECT_EQ(chkModelOffsetTool(&edge.m, -1e-5), 0);
    EXPECT_TRUE(edge.m.tool->radius == 2e-5 && edge.m.parts->tool.radius == 2e-5);
}

TEST(ChkModel, CloneOwnsToolAndPartsButSharesMesh) {
    testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 5.0);
    t.m.parts = newPart(2.0, newPart(1.0, nullptr));
    CheckModel* c = chkModelClone(&t.m);
    ASSERT_NE(c, nullptr);
    ASSERT_NE(c->parts, nullptr);
    ASSERT_NE(c->parts->next, nullptr);
    EXPECT_EQ(c->parts->next->tool.radius, 1.0);
    EXPECT_EQ(c->parts->next->next, nullptr);
    EXPECT_EQ(c->triangles, t.m.triangles);
    chkModelOffsetTool(c, -1.0);
    EXPECT_EQ(t.m.tool->radius, 5.0);
    EXPECT_EQ(t.m.parts->tool.radius, 2.0);
    chkModelFree(c);
    EXPECT_EQ(t.m.triangles->count, 1);
    EXPECT_EQ(chkModelIsEmpty(&t.m), 0);
}

TEST(ChkModel, InitAndEmptinessOfModelAndParts) {
    Facet98 f{};
    CheckModel m;
    std::memset(&m, 0x5a, sizeof(m));
    chkModelInit(&m, kMeshFacets);
    EXPECT_EQ(m.tool, nullptr);
    EXPECT_EQ(m.stepLength, 1.0);
    EXPECT_EQ(m.tolerance, 0.008);
    m.facets = &f;
    EXPECT_EQ(chkModelIsEmpty(&m), 1);  // facets present, count 0
    m.facetCount = 1;
    EXPECT_EQ(chkModelIsEmpty(&m), 0);
    TriList* list = triListCreate(4);
    ASSERT_NE(list, nullptr);
    chkModelInit(&m, kMeshTriangles);
    m.triangles = list;
    EXPECT_EQ(chkModelIsEmpty(&m), 1);
    CheckModelPart part{};
    part.kind = kMeshTriangles;
    part.triangles = list;
    m.parts = &part;
    EXPECT_EQ(chkPartIsEmpty(&part), 1);
    const Triangle3D tri = testmesh::slopeTri(0, 0);
    triListAdd(list, &tri);
    EXPECT_EQ(chkPartIsEmpty(&part), 0);
    m.triangles = nullptr;
    EXPECT_EQ(chkModelIsEmpty(&m), 0);  // a part holds geometry
    triListFree(list);
}

// What the model's queries and builders answer without their arguments (or with a model that has no
// geometry): nothing placed, nothing built, the codes their headers name.
TEST(ChkModel, MissingArgumentsAreAnsweredPlainly) {
    const Vec3 p{0, 0, 0}, down{0, 0, -1}, up{0, 0, 1};
    double lift = 7, h = 7;
    Vec3 c{};
    int32_t cls = 0;
    EXPECT_EQ(chkModelIsEmpty(nullptr), 1);
    EXPECT_EQ(chkModelOffsetTool(nullptr, 1.0), 0);
    EXPECT_EQ(chkModelClone(nullptr), nullptr);
    chkModelInit(nullptr, kMeshTriangles);
    chkModelFreeParts(nullptr);
    chkModelFree(nullptr);
    chkModelPrepare(nullptr, 0);
    Vec3 q = p;
    EXPECT_EQ(chkModelPlaceTool(nullptr, &q, &c, &cls), 0);
    testmesh::Model plate({testmesh::slopeTri(0, 0)}, kBallMill, 1.0);
    EXPECT_EQ(chkModelIsEmpty(&plate.m), 0);
    EXPECT_EQ(chkModelPlaceTool(&plate.m, nullptr, &c, &cls), 0);
    plate.m.grid = testmesh::farCellGrid();  // the placement looks at the point's cell alone
    for (const double at : {-5.0, 5.0}) {
        Vec3 q{at, at, -100};
        EXPECT_EQ(chkModelPlaceTool(&plate.m, &q, &c, &cls) > 0, at > 0);
        EXPECT_EQ(q.z, at > 0 ? 1.0 : -100.0);
    }
    grid2DFree(std::exchange(plate.m.grid, nullptr));
    for (const bool b : {false, true}) {  // the engines themselves: no point or no tool, no contact
        cls = 9;
        auto place = b ? projB_place : projA_place;
        EXPECT_EQ(place(nullptr, 0, plate.m.tool, nullptr, 0, &c, &cls), 0);
        EXPECT_EQ(cls, 0);
        EXPECT_EQ(place(&q, 0, nullptr, nullptr, 0, &c, &cls), 0);
    }
    EXPECT_EQ(chkModelPath(nullptr, nullptr, 0, &p, &down, 2, &lift, &c), 0);
    for (auto drop : {meshDropTool, meshDropToolAlt})
        EXPECT_EQ(drop(nullptr, nullptr, 0, &p, &down, 2, &lift, &c) +
                      drop(&plate.m, nullptr, 0, nullptr, &down, 2, &lift, &c) +
                      drop(&plate.m, nullptr, 0, &p, nullptr, 2, &lift, &c),
                  0);
    EXPECT_EQ(meshDropToolAbove(nullptr, &p, &down, 2, -1), 0);
    EXPECT_EQ(meshDropToolAbove(&plate.m, nullptr, &down, 2, -1), 0);
    EXPECT_EQ(meshDropToolAbove(&plate.m, &p, nullptr, 2, -1), 0);
    EXPECT_EQ(meshDropToolAbove(&plate.m, &p, &down, 2, -1), 1);  // with its arguments it does answer
    EXPECT_EQ(lift, 0.0);
    EXPECT_EQ(meshContactAlongDir(&plate.m, nullptr, 0, nullptr, &down, 2, &c), 0);
    EXPECT_EQ(meshContactPoint(nullptr, &p, &up, 2, nullptr, 0), kMeshFree);
    EXPECT_EQ(meshContactPoints(&plate.m, nullptr, 2, nullptr, 0), kMeshFree);
    EXPECT_EQ(meshCollisionPlist(&plate.m, nullptr, 2, nullptr, 0, nullptr), kMeshNoMemory);
    Plist* bad = plistCreate(1, 1);  // a count below none: no working copy can be made
    ASSERT_NE(bad, nullptr);
    bad->count = 0;  // an empty list is no shortage: nothing to lift, no contact
    EXPECT_EQ(meshCollisionPlist(&plate.m, bad, 2, nullptr, 0, nullptr), 0);
    bad->count = -2;
    EXPECT_EQ(meshCollisionPlist(&plate.m, bad, 2, nullptr, 0, nullptr), kMeshNoMemory);
    plistFree(bad);
    initChkParams(nullptr);
    EXPECT_EQ(coneSectionHit(nullptr, &p, &down, 2, 1, 2, 0, 1), 0);
    EXPECT_EQ(meshIndexBuild(0, plate.lo.data(), plate.hi.data()), nullptr);
    EXPECT_EQ(meshIndexBuild(1, nullptr, plate.hi.data()), nullptr);
    EXPECT_EQ(meshIndexTurnedFinish(nullptr), nullptr);
    const Vec3 corners[3] = {{1, 0, 0}, {0, 1, 0}, {0, 0, 1}}, lo{0, 0, 0}, hi{1, 1, 1};
    EXPECT_FALSE(meshIndexTurnedAdd(nullptr, corners, lo, hi));
    MeshTurnedBuilder* turned = meshIndexTurnedStart(4, 1);
    ASSERT_NE(turned, nullptr);
    EXPECT_FALSE(meshIndexTurnedAdd(turned, nullptr, lo, hi));
    EXPECT_EQ(meshIndexTurnedFinish(turned), nullptr);  // nothing was added
    meshIndexTurnedAbandon(nullptr);
    EXPECT_EQ(polymeshLoad(nullptr, "x.3df"), kPolymeshNoMemory);
    CheckModel m{};
    chkModelInit(&m, kMeshTriangles);
    EXPECT_EQ(polymeshLoad(&m, ""), kPolymeshNoFile);
    EXPECT_EQ(polymeshLoad(&m, nullptr), kPolymeshNoFile);
    EXPECT_EQ(meshLoadViaTmp3df(nullptr, 0.01), nullptr);
    EXPECT_EQ(meshLoadViaTmp3dfTriangles(nullptr, 0.01), nullptr);
    EXPECT_EQ(polymeshMerge(&m, nullptr), -1);
    CheckModel f{};
    chkModelInit(&f, kMeshFacets);
    EXPECT_EQ(polymeshMerge(&m, &f), -1);  // of another kind
    EXPECT_EQ(polymeshLoadTriangles(nullptr, "x.3df"), kPolymeshNoMemory);
    EXPECT_EQ(polymeshLoadTriangles(&m, nullptr), kPolymeshNoFile);
    EXPECT_EQ(polymeshLoadMerged(nullptr, "x.3df", "y.3df"), kPolymeshNoMemory);
    EXPECT_EQ(polymeshCopy(&m, nullptr), kPolymeshNoMemory);
    EXPECT_EQ(polymeshCopy(&m, &f), kPolymeshNoMemory);  // no triangles to copy
    EXPECT_EQ(polymeshLoadWithGrid("x.stl", nullptr, 0), nullptr);
    // The wire meshes and their sets.
    EXPECT_EQ(collMeshCreate(-1), nullptr);
    EXPECT_EQ(collMeshFromPolylines(nullptr, 1e-3), nullptr);
    EXPECT_EQ(collMeshAddEdge(nullptr, &p, &up), -1);
    EXPECT_EQ(collMeshLeafAt(nullptr, 0), -1);
    EXPECT_EQ(collMeshTreeBuild(nullptr), -1);
    EXPECT_EQ(collMeshTreeBuildOne(nullptr), 1);  // nothing to build
    collMeshTreeFree(nullptr);                    // no tree: nothing to free
    CollMesh* wire = collMeshCreate(4);
    ASSERT_NE(wire, nullptr);
    const Triangle3D tri = testmesh::slopeTri(0, 0);
    EXPECT_EQ(collMeshAddEdges(wire, nullptr, 1), -1);
    EXPECT_EQ(collMeshAddEdge(wire, &p, nullptr) + collMeshAddEdge(wire, nullptr, &p), -2);
    EXPECT_EQ(collMeshAddTriangleEdges(wire, nullptr, 1), -1);
    EXPECT_EQ(collMeshAddTriangleEdges(wire, &tri, -1), -1);
    EXPECT_EQ(collMeshAddEdges(nullptr, &p, 1) + collMeshAddTriangleEdges(nullptr, &tri, 1), -2);
    EXPECT_EQ(collMeshAddEdges(wire, nullptr, 0) + collMeshAddTriangleEdges(wire, nullptr, 0),
              2);                            // none to add
    EXPECT_EQ(collMeshLeafAt(wire, 0), -1);  // no tree
    double angle = 0;
    EXPECT_EQ(collMeshEdgeTest(nullptr, 0, &p, &up, &down, &up, &angle, 1.5), -1);
    EXPECT_EQ(collMeshEdgeTest(wire, 0, &p, &up, &down, &up, &angle, 1.5), -1);  // no such edge
    EXPECT_EQ(meshSetCollide(&p, &up, &down, &up, nullptr, 1, &angle, 1.5), -1);
    const Vec3 aside{1, 0, 0};
    EXPECT_EQ(
        meshSetCollideAll(&p, &up, &aside, nullptr, 1, &h) + meshSetCollideAll(&p, &up, &up, nullptr, 1, &h),
        -2);
    EXPECT_EQ(h, 7.0);  // no depth without an answer
    EXPECT_EQ(wire->edgeCount, 0);
    collMeshFree(wire);
    {  // more elements together than a count holds: refused before anything is read
        TriList full{}, one{};
        full.count = INT32_MAX, one.count = 1;
        CheckModel a{}, b{};
        chkModelInit(&a, kMeshTriangles), chkModelInit(&b, kMeshTriangles);
        a.triangles = &full, b.triangles = &one;
        EXPECT_EQ(polymeshMerge(&a, &b), -1);
        EXPECT_EQ(a.triangles, &full);
    }
    EXPECT_EQ(polymeshBuildGrid(nullptr), -1);
    EXPECT_EQ(polymeshBuildToolGrid(nullptr, 10, 0.5), nullptr);
    polymeshFree(nullptr);
    polymeshOffsetZ(nullptr, 1);
    EXPECT_EQ(plunge_along_profile(&plate.m, nullptr), -1);  // no profile to place along
    EXPECT_EQ(plunge_along_profile(nullptr, nullptr), -1);
    EXPECT_EQ(ringMeshContact(nullptr, nullptr, 0, nullptr, 0, &c), 0);
    EXPECT_EQ(ringTriContact(nullptr, nullptr, 1, 0, &c, &c), 0);
    EXPECT_EQ(toolAssemblyDefaultContour(nullptr, nullptr), 0);
    EXPECT_EQ(toolAssemblyBuild(nullptr, nullptr, 0, 0.01, nullptr), nullptr);
    EXPECT_EQ(toolAssemblyAngleQuery(nullptr, &p, &up, &up, &up, &p, &h, 1, 1), 0);
    EXPECT_EQ(tprof_add_seg(nullptr, nullptr, 0), -1);
    EXPECT_EQ(tprof_offset(nullptr, 1), 0);
    EXPECT_EQ(tprof_max_angle(nullptr), 0.0);
    EXPECT_EQ(tprof_from_tool(nullptr, 0), nullptr);
    EXPECT_EQ(tprof_from_contour(nullptr, "x", 0.1, 0, 0), nullptr);
    EXPECT_EQ(coll_model_from_tprof(nullptr, 0.1), nullptr);
    EXPECT_EQ(coll_file_readable(""), 0);
    EXPECT_EQ(coll_file_readable(nullptr), 0);
    tprof_free(nullptr);
    collAssemblyResetState();  // nothing built: every position is free
    int32_t hit = 5, part = 5;
    EXPECT_EQ(coll_check(&p, &up, &hit, 1), kCollFree);
    EXPECT_EQ(coll_check(nullptr, &up, &hit, 1), kCollFree);
    EXPECT_EQ(coll_check_vertical(&p, 1, &part), kCollFree);
    EXPECT_EQ(coll_free_height(nullptr, &h), -1);
    EXPECT_EQ(coll_free_height(&p, nullptr), -1);
    EXPECT_EQ(coll_setup_assembly(&plate.m, nullptr, 0, nullptr), -1);
}

// Placing the tool over a plate (y from -40 to 40, its height on either side of 0) charges the contact to
// its element only when the placed height lies within the model's z range, here the plate's own height:
// the flat end at the plate's height is, the ball's centre a radius above it is not.
TEST(ChkModel, PlacedToolIsChargedWithinTheModelsHeights) {
    for (const bool facets : {false, true}) {
        for (const double z : {0.0, 50.0, -50.0}) {
            for (const uint16_t type : {kEndMill, kBallMill}) {
                testmesh::Model plate({testmesh::slopeTri(z, 0)}, type, 1.0, 0, facets);
                Vec3 p{0, 0, -100}, c{};
                int32_t cls = 0;
                const int got = chkModelPlaceTool(&plate.m, &p, &c, &cls);
                const double want = type == kBallMill ? z + 1 : z;
                EXPECT_NEAR(p.z, want, 1e-12);
                EXPECT_TRUE(c.x == 0 && c.y == 0 && std::fabs(c.z - z) < 1e-12)
                    << c.z;  // under the tool's axis
                EXPECT_EQ(got, want == z ? 2 : 1) << facets << " " << z << " " << type;
                EXPECT_TRUE(type != kBallMill || cls == 1) << cls;  // any ball contact is of class 1
                // The model in a record followed by values that are no heights: none of them is read.
                struct {
                    CheckModel m;
                    double after[64];
                } padded;
                padded.m = plate.m;
                std::fill(std::begin(padded.after), std::end(padded.after), NAN);
                Vec3 q{0, 0, -100};
                EXPECT_EQ(chkModelPlaceTool(&padded.m, &q, &c, &cls), got);
                EXPECT_EQ(q.z, p.z);
                Vec3 off{500, 0, -100};  // beyond the plate: nothing placed, no point answered
                EXPECT_EQ(chkModelPlaceTool(&plate.m, &off, &c, &cls), 0);
                EXPECT_EQ(off.z, -100.0);
            }
        }
    }
}
