#include "collision/chkmodel.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

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
    struct Case {
        double d;
        int changed;
        double radius, size2, partRadius, partSize2;
    } cases[] = {
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
    const Triangle3D tri = testmesh::slopeTri(0, 0);
    triListAdd(list, &tri);
    m.triangles = nullptr;
    EXPECT_EQ(chkModelIsEmpty(&m), 0);  // a part holds geometry
    triListFree(list);
}
