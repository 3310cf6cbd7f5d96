#include "collision/meshquery.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <random>
#include <vector>

#include "collision/meshindex.h"
#include "meshutil.h"

namespace {

const Vec3 kDown{0, 0, -1};
Vec3 gHookPoint{};
void hook(const Vec3* p) {
    gHookPoint = *p;
}

Plist* line(int n, double z) {
    Plist* l = plistCreate(n + 1, 1);
    for (int i = 0; i < n; ++i) {
        const Vec3 p{double(i), 0, z}, v{0, 0, 1};
        plistAppend(l, double(i), &p, 0, &v, 0);
    }
    return l;
}

}  // namespace

TEST(MeshQuery, PathLiftsOnPlanesAndSlopes) {
    const double deg = M_PI / 180;
    struct Case {
        uint16_t type;
        double R, r, slopeDeg, want;
    } cases[] = {
        {1, 5, 0, 0, 3.0},
        {1, 5, 0, 30, 5 / std::cos(30 * deg) - 2},
        {3, 5, 1, 30, 4 * std::tan(30 * deg) + 1 / std::cos(30 * deg) - 2},
        {2, 5, 0, 30, 5 * std::tan(30 * deg) - 2},
    };
    for (const Case& c : cases) {
        testmesh::Model t({testmesh::slopeTri(0, std::tan(c.slopeDeg * deg))}, c.type, c.R, c.r);
        const Vec3 p{0, 0, 2};
        double lift = -1;
        Vec3 contact{};
        EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &p, &kDown, 10, &lift, &contact), 1);
        EXPECT_NEAR(lift, c.want, 1e-9) << c.type << " " << c.slopeDeg;
        EXPECT_TRUE(c.slopeDeg != 0 || vecLen3D(&contact) < 1e-12);  // on the plane: at the origin
    }
}

TEST(MeshQuery, LiftThresholdAndEmptyModels) {
    testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 1.0);
    double lift;
    Vec3 c;
    const Vec3 at{0, 0, 1 - 1e-5}, below{0, 0, 1 - 0.99e-5};
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 1);
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &below, &kDown, 2, &lift, &c), 0);
    EXPECT_EQ(lift, 0.0);
    const Vec3 high{0, 0, 50};
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &high, &kDown, 2, &lift, &c), 0);
    testmesh::Model empty({}, kBallMill, 1.0);
    empty.m.triangles = nullptr;
    lift = 7;
    EXPECT_EQ(chkModelPath(&empty.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 0);
    EXPECT_EQ(lift, 0.0);
    t.m.tool->toolType = 10;
    EXPECT_EQ(chkModelPath(&t.m, nullptr, 0, &at, &kDown, 2, &lift, &c), 0);
}

TEST(MeshQuery, SegmentContactAboveReferenceCollides) {
    struct Case {
        double zPlane;
        int want;
    } cases[] = {{0.0, 1}, {1e-5, -2}, {-0.5, 1}, {0.5, -2}, {-1.5, 1}};
    for (const Case& c : cases) {
        testmesh::Model t({testmesh::slopeTri(c.zPlane, 0)}, kBallMill, 1.0);
        const Vec3 p{0, 0, 0}, axis{0, 0, 1};
        EXPECT_EQ(chkModelSegment(&t.m, &p, &axis, 2, nullptr, 0), c.want) << c.zPlane;
    }
    Vec3 last;
    ASSERT_EQ(meshLastContact(kMeshTriangles, &last), 1);
    EXPECT_NEAR(last.z, 0.5, 1e-12);
}

TEST(MeshQuery, ContactPointsCutTheListAtTheFirstCollision) {
    const Triangle3D post{{{6.95, -0.05, 0.5}, {7.05, -0.05, 0.5}, {7.0, 0.05, 0.5}}};
    testmesh::Model t({post}, kBallMill, 0.4);
    Plist* l = line(20, 0);
    ASSERT_NE(l, nullptr);
    meshSetReferenceHook(hook);
    EXPECT_EQ(chkModelContactPoints(&t.m, l, 5, nullptr, 0), -2);
    EXPECT_EQ(l->count, 7);
    EXPECT_NEAR(gHookPoint.z, 0.5, 1e-12);
    meshResetState();
    EXPECT_EQ(t.m.tool->radius, 0.4);
    plistFree(l);
}

TEST(MeshQuery, ListLiftLimitMarksInsteadOfMoving) {
    struct Case {
        int32_t limitLift;
        double maxLift, wantZ;
        uint8_t wantKind;
    } cases[] = {{1, 2.0, 2.0, 2}, {0, 2.0, 5.0, 0}, {1, 3.5, 5.0, 0}};
    for (const Case& c : cases) {
        testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 5.0);
        Plist* l = line(3, 2.0);
        ASSERT_NE(l, nullptr);
        CheckParams prm;
        initChkParams(&prm);
        prm.limitLift = c.limitLift;
        prm.maxLift = c.maxLift;
        EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, &prm), 1);
        EXPECT_EQ(l->count, 3);
        EXPECT_NEAR(l->points[1].z, c.wantZ, 1e-12);
        EXPECT_EQ(l->flags[1] >> 8, c.wantKind);
        plistFree(l);
    }
}

TEST(MeshQuery, RefinementInsertsOnlyAroundACorner) {
    // Two planes meeting at x = 10, the second rising at 10 degrees; the path rides on both.
    const double k = std::tan(10 * M_PI / 180);
    for (bool bent : {false, true}) {
        const double h = bent ? 20 * k : 0;
        testmesh::Model t({{{{-5, -20, 0}, {10, -20, 0}, {10, 20, 0}}},
                           {{{-5, -20, 0}, {10, 20, 0}, {-5, 20, 0}}},
                           {{{10, -20, 0}, {30, -20, h}, {30, 20, h}}},
                           {{{10, -20, 0}, {30, 20, h}, {10, 20, 0}}}},
                          kBallMill, 1.0);
        Plist* l = line(21, -0.5);
        ASSERT_NE(l, nullptr);
        CheckParams prm;
        initChkParams(&prm);
        EXPECT_EQ(chkModelList(&t.m, l, 10, nullptr, 0, &prm), 1);
        if (!bent) {
            EXPECT_EQ(l->count, 21);
        } else {
            EXPECT_GT(l->count, 21);
            for (int32_t i = 1; i + 1 < l->count; ++i) {
                const Vec3 u{l->points[i].x - l->points[i - 1].x, 0, l->points[i].z - l->points[i - 1].z};
                const Vec3 w{l->points[i + 1].x - l->points[i].x, 0, l->points[i + 1].z - l->points[i].z};
                const double cs = vecDot3D(&u, &w) / (vecLen3D(&u) * vecLen3D(&w));
                const double gap = std::min(l->parameters[i] - l->parameters[i - 1],
                                            l->parameters[i + 1] - l->parameters[i]);
                const double flatter = vecLen3D(&u) >= t.m.stepLength - 1e-5 ? 0.996 : 0.985;
                EXPECT_TRUE(cs > flatter || gap < 2 * (t.m.tolerance + 1e-5)) << i << " " << cs << " " << gap;
                if (l->parameters[i] != std::floor(l->parameters[i])) {
                    EXPECT_NEAR(l->parameters[i], 10, 2.0);
                }
            }
        }
        plistFree(l);
    }
}

// Whether the largest lift lies above a height, asked of seeded triangle soups (unindexed, indexed,
// indexed turned, and with a second mesh as a part in the chain) for each tool shape: the answer of the
// full sweep, at heights around the lift it finds.
TEST(MeshQuery, DropAboveAnswersWhetherTheLargestLiftExceeds) {
    std::mt19937 gen(4242);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    auto soup = [&](int n) {
        std::vector<Triangle3D> t;
        for (int i = 0; i < n; ++i) {
            const Vec3 c{20 * u(gen), 20 * u(gen), 10 * u(gen)};
            const double s = i % 13 == 0 ? 8.0 : 1.5;
            t.push_back({{c,
                          {c.x + s * u(gen), c.y + s * u(gen), c.z + s * u(gen)},
                          {c.x + s * u(gen), c.y + s * u(gen), c.z + s * u(gen)}}});
        }
        return t;
    };
    const struct {
        uint16_t type;
        double R, r;
    } tools[] = {{kBallMill, 2.5, 0}, {kEndMill, 3, 0}, {kRadiusMill, 4, 1}};
    int above = 0, notAbove = 0;
    for (int kind = 0; kind < 12; ++kind) {
        const auto& tool = tools[kind % 3];
        testmesh::Model t(soup(700), tool.type, tool.R, tool.r);
        testmesh::Model other(soup(300), tool.type, tool.R, tool.r);
        const int32_t n = t.m.triangles->count;
        const int how = kind / 3;  // none, index, turned index, a part
        if (how == 1) t.m.index = meshIndexBuild(n, t.m.boxMin, t.m.boxMax);
        if (how == 2)
            t.m.index = meshIndexBuildTurned(n, t.m.boxMin, t.m.boxMax, t.m.triangles->data[0].p, 7);
        ASSERT_TRUE(how == 0 || how == 3 || t.m.index != nullptr);
        CheckModelPart part{};
        part.kind = kMeshTriangles;
        part.triangles = other.m.triangles;
        part.boxMin = other.m.boxMin, part.boxMax = other.m.boxMax;
        part.tool = *other.m.tool;
        if (how == 3) t.m.parts = &part;
        for (int q = 0; q < 200; ++q) {
            const Vec3 p{22 * u(gen), 22 * u(gen), 12 * u(gen)};
            Vec3 d{u(gen), u(gen), u(gen)};
            if (q % 2 == 0) d = {0, 0, q % 4 == 0 ? -1.0 : 1.0};
            vecNormalize3D(&d, &d);
            const double length = 1 + 20 * (u(gen) + 1);
            double lift = 0;
            Vec3 c;
            const int found = how == 3 ? meshDropToolAlt(&t.m, nullptr, 0, &p, &d, length, &lift, &c)
                                       : meshDropTool(&t.m, nullptr, 0, &p, &d, length, &lift, &c);
            for (const double h :
                 {-1.0, 0.0, 1e-5, 0.5 * lift, lift - 1e-9, lift, lift + 1e-9, 2 * lift + 1}) {
                const int want = found && lift > h ? 1 : 0;
                EXPECT_EQ(meshDropToolAbove(&t.m, &p, &d, length, h), want) << kind << " " << q << " " << h;
                (want ? above : notAbove)++;
            }
        }
        t.m.parts = nullptr;
        meshIndexFree(t.m.index);
        t.m.index = nullptr;
    }
    EXPECT_GT(above, 2000);  // the sweeps do reach the soups
    EXPECT_GT(notAbove, 2000);
}

#ifdef KV_HAVE_FCL
#include <fcl/fcl.h>

// A ball lifted by the sweep touches the mesh: FCL finds it colliding a little below the lifted
// position and clear, by at most the extra lift, a little above it.
TEST(MeshQuery, LiftedBallJustTouchesPerFcl) {
    std::mt19937 gen(11);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<fcl::Vector3d> v;
    std::vector<fcl::Triangle> f;
    std::vector<Triangle3D> tris;
    auto h = [&](double x, double y) {
        return 2 * std::sin(0.7 * x) * std::cos(0.5 * y) + 0.3 * std::sin(3 * x * y);
    };
    for (int i = 0; i < 12; ++i)
        for (int j = 0; j < 12; ++j)
            for (int half = 0; half < 2; ++half) {
                const double xs[3] = {double(i), i + 1.0, half ? double(i) : i + 1.0};
                const double ys[3] = {double(j), j + 1.0, half ? j + 1.0 : double(j)};
                Triangle3D t;
                for (int k = 0; k < 3; ++k) {
                    t.p[k] = {xs[k], ys[k], h(xs[k], ys[k])};
                    v.emplace_back(t.p[k].x, t.p[k].y, t.p[k].z);
                }
                f.emplace_back(v.size() - 3, v.size() - 2, v.size() - 1);
                tris.push_back(t);
            }
    auto bvh = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
    bvh->beginModel();
    bvh->addSubModel(v, f);
    bvh->endModel();
    fcl::CollisionObjectd mesh(bvh, fcl::Transform3d::Identity());
    testmesh::Model t(tris, kBallMill, 1.5);
    auto sphereAt = [&](double x, double y, double z) {
        fcl::Transform3d tf = fcl::Transform3d::Identity();
        tf.translation() = fcl::Vector3d(x, y, z);
        return fcl::CollisionObjectd(std::make_shared<fcl::Sphered>(1.5), tf);
    };
    for (int it = 0; it < 60; ++it) {
        const Vec3 p{2 + 8 * u(gen), 2 + 8 * u(gen), -5};
        double lift;
        Vec3 c;
        ASSERT_EQ(chkModelPath(&t.m, nullptr, 0, &p, &kDown, 20, &lift, &c), 1);
        const double z = p.z + lift;
        fcl::CollisionObjectd above = sphereAt(p.x, p.y, z + 1e-4), below = sphereAt(p.x, p.y, z - 1e-4);
        fcl::DistanceRequestd dreq;
        fcl::DistanceResultd dres;
        fcl::distance(&above, &mesh, dreq, dres);
        EXPECT_GT(dres.min_distance, 0.0) << it;
        EXPECT_LE(dres.min_distance, 1e-4 + 1e-9) << it;
        fcl::CollisionRequestd creq;
        fcl::CollisionResultd cres;
        EXPECT_TRUE(fcl::collide(&below, &mesh, creq, cres) > 0) << it;
    }
}
#endif
