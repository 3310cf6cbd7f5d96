#include "collision/dropcut.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "collision/proj.h"
#include "meshutil.h"
#include "vecnear.h"

namespace {

DropState stateOver(const Vec3 (&t)[3], double x, double y, double R, double r = 0, double best = -1e9) {
    DropState s{};
    for (int i = 0; i < 3; ++i) s.tri[i] = t[i];
    s.x = x;
    s.y = y;
    s.z0 = 100;
    s.best = best;
    s.radius = s.radius2 = R - r;
    s.cornerRadius = r;
    s.spare[2] = -1;
    return s;
}

}  // namespace

TEST(DropCut, KernelCasesOfOneTriangle) {
    const Vec3 flat[3] = {{-10, -10, 0}, {10, -10, 0}, {0, 10, 0}};
    DropState s = stateOver(flat, 0, 0, 2);
    EXPECT_EQ(toolPartLift3(&s), 2);  // the face answers alone
    EXPECT_DOUBLE_EQ(s.best, 2.0);
    EXPECT_EQ(s.classWord, 1);
    s.classWord = 7, s.contact = {9, 9, 9};
    EXPECT_EQ(toolPartLift3(&s), 0);  // a ball contact at the state's height is no improvement
    EXPECT_TRUE(s.best == 2.0 && s.classWord == 7 && s.contact.x == 9 && s.contact.z == 9);  // left as it was
    DropState f = stateOver(flat, 0, 0, 2, 0, 0.0);
    f.contact = {9, 9, 9};
    EXPECT_EQ(toolPartLift2(&f), 2);  // a flat end accepts the tie and replaces the contact
    EXPECT_NEAR(f.contact.z, 0.0, 1e-12);
    // Over an edge end: the ball centre exactly above the corner (parameter 0) and the far end (1).
    const Vec3 ridge[3] = {{0, 0, 1}, {4, 0, 1}, {2, 6, -5}};
    for (double x : {0.0, 4.0}) {
        DropState e = stateOver(ridge, x, -0.5, 2);
        EXPECT_EQ(toolPartLift3(&e), 1) << x;
        EXPECT_NEAR(e.best, 1 + std::sqrt(4 - 0.25), 1e-12);
    }
    // A flat end over a horizontal edge: the edge's height and the class of the flat bottom.
    DropState h = stateOver(ridge, 2, -1, 3);
    EXPECT_EQ(toolPartLift2(&h), 1);
    EXPECT_DOUBLE_EQ(h.best, 1.0);
    EXPECT_EQ(h.classWord, 2);
    DropState tv = stateOver(ridge, 0.5, -0.5, 3, 1);  // corner under the torus' flat bottom
    EXPECT_EQ(toolPartLift1(&tv), 1);
    EXPECT_NEAR(tv.best, 2.0, 1e-12);
    EXPECT_EQ(tv.classWord, 2);
}

TEST(DropCut, ConeRingBounds) {
    const Vec3 spike[3] = {{3, 0, 0}, {30, 1, -50}, {30, -1, -50}};
    struct Case {
        double rIn, rOut, x;
        int want;
        double height;
    } cases[] = {
        {3, 3 + 0.9e-5, 0, 0, 0},  // outer radius not 1e-5 beyond the inner one
        {3 - 0.5e-5, 6, 0, 0, 0},  // the vertex lies less than 1e-5 outside the inner radius
        {2, 6, 0, 1, -(1 + 0.5)},  // vertex at radius 3: z_in + (3 - 2) * 0.5 = 1.5 above the tip
        {1, 6, 1, 1, -(1 + 0.5)},  // the tool at x = 1: the vertex at radius 2
    };
    for (const Case& c : cases) {
        const double zOut = 1.0 + 0.5 * (c.rOut - c.rIn);
        // Starting just high enough that the ring's outer rim test is skipped: the vertex test alone.
        DropState s = stateOver(spike, c.x, 0, 1, 0, 0.1 - zOut);
        EXPECT_EQ(dropcut_triangle(&s, c.rIn, c.rOut, 1.0, zOut), c.want) << c.rIn;
        EXPECT_NEAR(s.best, c.want ? c.height : 0.1 - zOut, 1e-12) << c.rIn;  // untouched without a contact
    }
    // No ring at all (outer radius not 1e-5 beyond the inner, or the outer height 1e-5 below the inner),
    // even from far below, where the outer rim alone would reach the vertex.
    const double rings[][4] = {{3.2, 3.2 + 0.9e-5, 1, 1}, {2, 6, 1, 1 - 2e-5}};
    for (const auto& r : rings) {
        DropState s = stateOver(spike, 0, 0, 1, 0, -100);
        EXPECT_EQ(dropcut_triangle(&s, r[0], r[1], r[2], r[3]), 0) << r[0];
        EXPECT_EQ(s.best, -100) << r[0];
    }
    // A ring exactly 1e-5 wide is kept: its rim of radius 3 + 1e-5 at height 1 rests on the vertex at 3.
    DropState thin = stateOver(spike, 0, 0, 1, 0, -100);
    EXPECT_TRUE(dropcut_triangle(&thin, 3, 3 + 1e-5, 1, 1) == 1 && thin.best == -1);
    DropState tie =
        stateOver(spike, 0, 0, 1, 0, -1.5);  // a lift only equal to the best so far raises nothing
    EXPECT_TRUE(dropcut_triangle(&tie, 2, 6, 1, 3) == 0 && tie.classWord == 0);
    // A highest corner 5e-6 inside the outer radius (past the ring's 1e-5): the rim alone reaches it, as
    // the first, second or third corner (the rim is tried only below the top of all three); the ring
    // lowered by 3, heights -2 and -1, lifts the tip 3 higher, from a start of 0 as well.
    const double rows[][3] = {{1, 2, -10}, {-2, -1, 0}};  // zIn, zOut, the start
    for (int k = 0; k < 6; ++k) {
        Vec3 rim[3];
        for (int i = 0; i < 3; ++i) rim[(i + k) % 3] = spike[i];
        const double* r = rows[k / 3];
        DropState s = stateOver(rim, 0, 0, 1, 0, r[2]);
        EXPECT_TRUE(dropcut_triangle(&s, 1, 3 + 5e-6, r[0], r[1]) == 1 && s.best == -r[1]) << k;
    }
    // An edge at x = 3 rising 1 in 5 along y, a ring 2 to 6 rising 1 in 2: lifted most at y / rho = 2 / 5,
    // whichever of the three edges it is (the rim alone would only give 1 - 3).
    const Vec3 bar[3] = {{3, -5, -1}, {3, 5, 1}, {30, 0, -50}};
    const double y = std::sqrt(1.44 / 0.84), rho = std::hypot(3.0, y);
    for (int k = 0; k < 3; ++k) {
        Vec3 turned[3];
        for (int i = 0; i < 3; ++i) turned[(i + k) % 3] = bar[i];
        DropState e = stateOver(turned, 0, 0, 1, 0, -100);
        EXPECT_EQ(dropcut_triangle(&e, 2, 6, 1, 3), 1) << k;
        EXPECT_XYZ(EXPECT_NEAR, e.contact, 3, y, y / 5, 1e-12);
        EXPECT_NEAR(e.best, y / 5 - (1 + (rho - 2) / 2), 1e-12) << k;
        EXPECT_EQ(e.classWord, 1) << k;
    }
}

TEST(DropCut, EngineResultsAndContactPointFlag) {
    projResetState();
    testmesh::Model t({testmesh::slopeTri(0, 0)}, kBallMill, 2.0);
    projB_set_params(t.tris, t.lo.data(), t.hi.data(), nullptr, -1, 1, 0);
    Vec3 p{0, 0, -50}, c;
    int32_t cls;
    EXPECT_EQ(projB_place(&p, 10, t.m.tool, nullptr, 0, &c, &cls), 1);  // height 2 is outside [-1, 1]
    EXPECT_NEAR(p.z, 2.0, 1e-12);
    projB_set_params(t.tris, t.lo.data(), t.hi.data(), nullptr, -10, 10, 0);
    p = {0, 0, -50};
    EXPECT_EQ(projB_place(&p, 10, t.m.tool, nullptr, 0, &c, &cls), 2);
    EXPECT_EQ(cls, 1);
    LiftBoxTable* one = liftBoxTableCreate(1);  // filled by the one box: the walk stops at its end
    ASSERT_NE(one, nullptr);
    projB_set_params(t.tris, t.lo.data(), t.hi.data(), one, -10, 10, 0);
    setLiftBoxes(t.lo.data(), t.hi.data());
    Vec3 b{0, 0, -50};
    EXPECT_TRUE(projB_place(&b, 10, t.m.tool, nullptr, 0, &c, &cls) == 2 && b.z == p.z && one->count == 1);
    liftBoxTableFree(one);
    projResetState();  // a part's mesh keeps the engine's range of charged heights, after a reset +-10000
    for (const auto& [z, want] : {std::pair{-10002.5, 1}, {-10001.5, 2}, {9997.5, 2}, {9998.5, 1}}) {
        testmesh::Model plate({testmesh::slopeTri(z, 0)}, kBallMill, 2.0);
        CheckModelPart part{
            kMeshTriangles, nullptr, 0, plate.tris, plate.m.boxMax, plate.m.boxMin, {}, {}, {}, 0, {}};
        projB_save_state(&part);
        Vec3 q{0, 0, z - 50};
        EXPECT_EQ(projB_place(&q, z + 10, plate.m.tool, nullptr, 0, &c, &cls), want) << z;
        EXPECT_NEAR(q.z, z + 2, 1e-9);
        projB_restore_state();
    }
    projB_set_params(t.tris, t.lo.data(), t.hi.data(), nullptr, -10, 10, 0);
    const int32_t listed[3] = {-1, 1, 0};  // indices off the mesh are passed over
    Vec3 q{0, 0, -50};
    EXPECT_TRUE(projB_place(&q, 10, t.m.tool, listed, 3, &c, &cls) == 2 && q.z == p.z);
    // A ring tool touching nothing: with the contact-point flag, engine B still answers 0.
    ToolGeom ring = *t.m.tool;
    ring.toolType = kToolNoBoxLift;
    ring.size2 = 6;
    ring.height = 1;
    projB_set_params(t.tris, t.lo.data(), t.hi.data(), nullptr, -10, 10, 1);
    p = {100, 100, -50};
    c = {7, 7, 7};
    EXPECT_EQ(projB_place(&p, 10, &ring, nullptr, 0, &c, &cls), 0);
    EXPECT_EQ(c.x, 100.0);
    // Untouched, the contact lies at the walk's bound (the lowest reach: a radius below a ball's
    // reference), less the radius once more for a ball: 2 R below the flat tool's.
    ToolGeom flat = *t.m.tool;
    flat.toolType = kEndMill;
    Vec3 cBall{}, cFlat{};
    p = {100, 100, -50};
    EXPECT_EQ(projB_place(&p, 10, t.m.tool, nullptr, 0, &cBall, &cls), 1);
    p = {100, 100, -50};
    EXPECT_EQ(projB_place(&p, 10, &flat, nullptr, 0, &cFlat, &cls), 1);
    EXPECT_NEAR(cFlat.z - cBall.z, 4.0, 1e-12);
    EXPECT_EQ(cBall.x + cBall.y, 200.0);
    // A flat end started level with the plate still touches it (the walk stops only below its bound).
    p = {0, 0, 0};
    EXPECT_EQ(projB_place(&p, 10, &flat, nullptr, 0, &c, &cls), 2);
    // The facet engine answers an untouched ring too, at its walk's bound: the ring's height above the
    // start.
    Facet98 f{};
    for (int q = 0; q < 4; ++q) f.p[q] = t.tris->data[0].p[std::min(q, 2)];
    projA_set_params(&f, 1, t.lo.data(), t.hi.data(), nullptr, -10, 10, 1);
    for (const double h : {1.0, 2.5}) {
        ring.height = h;
        p = {100, 100, -50};
        EXPECT_EQ(projA_place(&p, 10, &ring, nullptr, 0, &c, &cls), 1);
        EXPECT_EQ(c.z, -50 + h);
    }
    p = {0, 0, 0};  // a flat end started level with the facet touches it, also through the box walk
    EXPECT_EQ(projA_place(&p, 10, &flat, nullptr, 0, &c, &cls), 2);
    LiftBoxTable* boxes = liftBoxTableCreate(4);
    ASSERT_NE(boxes, nullptr);
    projB_set_params(t.tris, t.lo.data(), t.hi.data(), boxes, -10, 10, 0);
    setLiftBoxes(t.lo.data(), t.hi.data());
    p = {0, 0, 0};
    EXPECT_EQ(projB_place(&p, 10, &flat, nullptr, 0, &c, &cls), 2);
    EXPECT_EQ(boxes->count, 1);
    liftBoxTableFree(boxes);
    // A radius or flat end on a plate keeps its contact: a level speck beside the axis is passed over.
    const Triangle3D speck{{{1, -0.2, 0}, {1.3, 0.2, 0}, {1.3, -0.2, 0}}};
    for (const auto& [type, r] : {std::pair{kRadiusMill, 0.5}, {kEndMill, 0.0}}) {
        testmesh::Model two({testmesh::slopeTri(0, 0), speck}, type, 2.0, r);
        projB_set_params(two.tris, two.lo.data(), two.hi.data(), nullptr, -10, 10, 0);
        p = {0, 0, -50};
        EXPECT_TRUE(projB_place(&p, 10, two.m.tool, nullptr, 0, &c, &cls) == 2 && p.z == r) << r;
        EXPECT_TRUE(c.x == 0 && c.y == 0 && c.z == 0) << c.x << " " << c.y;
    }
    // A tool shape the engine has no kernel for places nothing.
    ToolGeom odd = *t.m.tool;
    odd.toolType = 7;
    projB_set_params(t.tris, t.lo.data(), t.hi.data(), nullptr, -10, 10, 0);
    p = {0, 0, -50};
    EXPECT_EQ(projB_place(&p, 10, &odd, nullptr, 0, &c, &cls), 0);
    EXPECT_EQ(p.z, -50.0);
    set_plunge_flag(1);
    projResetState();
    EXPECT_EQ(get_plunge_flag(), 0);  // the reset clears it
}

// The placed height equals the largest independent drop over every triangle, for the three tools,
// through each walk: engine B over grid cells, engine B's box walk, engine A over facets.
TEST(DropCut, PlacementMatchesBruteForceDrop) {
    projResetState();
    std::mt19937 gen(99);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<Triangle3D> wavy, soup;
    const int n = 223;  // 99 458 triangles
    auto hgt = [](double x, double y) {
        return 2 * std::sin(x / 5) * std::cos(y / 4) + 0.3 * std::sin(x + 2 * y);
    };
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            const Vec3 a{double(i), double(j), hgt(i, j)}, b{i + 1.0, double(j), hgt(i + 1, j)},
                c{i + 1.0, j + 1.0, hgt(i + 1, j + 1)}, d{double(i), j + 1.0, hgt(i, j + 1)};
            wavy.push_back({{a, b, c}});
            wavy.push_back({{a, c, d}});
        }
    for (int i = 0; i < 1500; ++i) {
        const Vec3 o{20 * u(gen), 20 * u(gen), 4 * u(gen)};
        auto jit = [&] {
            return Vec3{o.x + 3 * (u(gen) - .5), o.y + 3 * (u(gen) - .5), o.z + 3 * (u(gen) - .5)};
        };
        soup.push_back({{jit(), jit(), jit()}});
    }
    const struct {
        uint16_t type;
        double R, r;
    } tools[] = {{kBallMill, 2.5, 0}, {kEndMill, 2.0, 0}, {kRadiusMill, 3.0, 1.0}};
    int checked = 0;
    for (int meshNo = 0; meshNo < 2; ++meshNo) {
        const std::vector<Triangle3D>& tris = meshNo == 0 ? wavy : soup;
        const double span = meshNo == 0 ? n : 20;
        for (const auto& tl : tools) {
            testmesh::Model t(tris, tl.type, tl.R, tl.r);
            Grid2D* grid = grid2DCreate(int32_t(span / 4) + 1, int32_t(span / 4) + 1, 8);
            ASSERT_NE(grid, nullptr);
            const Vec3 gl{t.m.bounds[0], t.m.bounds[1], 0}, gh{t.m.bounds[3], t.m.bounds[4], 0};
            grid2DFillSegs(grid, t.tris->count, &gl, &gh, t.lo.data(), t.hi.data(), tl.R);
            std::vector<Facet98> facets(t.tris->count);
            for (int32_t k = 0; k < t.tris->count; ++k) {
                facets[k].flag = 0;
                for (int q = 0; q < 3; ++q) facets[k].p[q] = t.tris->data[k].p[q];
                facets[k].p[3] = t.tris->data[k].p[2];
            }
            // Plan boxes in the frame turned by 45 degrees, the engines' second filter.
            std::vector<Vec2> rlo(t.tris->count), rhi(t.tris->count);
            for (int32_t k = 0; k < t.tris->count; ++k) {
                rlo[k] = {1e300, 1e300}, rhi[k] = {-1e300, -1e300};
                for (const Vec3& v : t.tris->data[k].p) {
                    const double rx = (v.x - v.y) / std::sqrt(2.0), ry = (v.x + v.y) / std::sqrt(2.0);
                    rlo[k] = {std::min(rlo[k].x, rx), std::min(rlo[k].y, ry)};
                    rhi[k] = {std::max(rhi[k].x, rx), std::max(rhi[k].y, ry)};
                }
            }
            // A table too small for the boxes under the tool leaves the engine to its plain walk.
            LiftBoxTable *table = liftBoxTableCreate(4096), *small = liftBoxTableCreate(2);
            ASSERT_TRUE(table && small);
            for (int it = 0; it < 24; ++it) {
                const double x = span * (0.1 + 0.8 * u(gen)), y = span * (0.1 + 0.8 * u(gen));
                double want = -std::numeric_limits<double>::infinity();
                for (int32_t k = 0; k < t.tris->count; ++k)
                    if (t.lo[k].x <= x + tl.R && t.hi[k].x >= x - tl.R && t.lo[k].y <= y + tl.R &&
                        t.hi[k].y >= y - tl.R)
                        want =
                            std::max(want, testmesh::bruteDrop(tl.type, tl.R, tl.r, t.tris->data[k], x, y));
                if (!std::isfinite(want)) continue;
                const int walk = it % 3;
                projSetRotatedBoxes(it / 3 % 2 ? rlo.data() : nullptr, it / 3 % 2 ? rhi.data() : nullptr);
                Vec3 p{x, y, -1000}, c;
                int32_t cls;
                int res;
                if (walk == 0) {
                    t.m.grid = grid;
                    res = chkModelPlaceTool(&t.m, &p, &c, &cls);
                    t.m.grid = nullptr;
                } else if (walk == 1) {
                    projB_set_params(t.tris, t.lo.data(), t.hi.data(), it % 2 ? table : small, -1e4, 1e4, 0);
                    setLiftBoxes(t.lo.data(), t.hi.data());
                    res = projB_place(&p, t.m.bounds[5] + tl.R, t.m.tool, nullptr, 0, &c, &cls);
                } else {
                    projA_set_params(facets.data(), t.tris->count, t.lo.data(), t.hi.data(), nullptr, -1e4,
                                     1e4, 0);
                    res = projA_place(&p, t.m.bounds[5] + tl.R, t.m.tool, nullptr, 0, &c, &cls);
                }
                projSetRotatedBoxes(nullptr, nullptr);
                EXPECT_GE(res, 1);
                EXPECT_NEAR(p.z, want, 1e-9) << "mesh " << meshNo << " tool " << tl.type << " walk " << walk
                                             << " turned boxes " << it / 3 % 2;
                ++checked;
            }
            liftBoxTableFree(table);
            liftBoxTableFree(small);
            grid2DFree(grid);
        }
    }
    EXPECT_GT(checked, 120);
    projResetState();
}

// The box table: every box within the tool's reach of the point, keyed by the height at which the tool
// over the point first meets the box's top (the ball over its plan distance d: top + sqrt(R^2 - d^2);
// the flat tool: the top; the torus: top + r, or its tube over d - (R - r)), highest first; a listed
// subset; a table too small for the boxes reports -1; boxes out of the turned bounds are passed over.
// Boxes 1 and 2 mirror each other about the point's diagonal: equal keys stay in element order. Box 6
// lies exactly R from the point in y: still within reach.
TEST(DropCut, BoxTableKeysAndOrder) {
    const std::vector<Vec3> lo = {{0, 0, 0}, {3, 0, 0},    {0, 3, 0}, {-2, -2, -5},
                                  {9, 9, 0}, {1.5, -4, 2}, {0, -4, 0}};
    const std::vector<Vec3> hi = {{1, 1, 4},   {4, 1, 6},      {1, 4, 6},   {-1, -1, 7},
                                  {10, 10, 9}, {2.5, -2.5, 3}, {1, -2.5, 1}};
    const Vec3 p{0.5, 0.5, -100};
    const double R = 3.0, r = 1.0;
    auto plan = [&](size_t j) {
        const double dx = std::max({lo[j].x - p.x, 0.0, p.x - hi[j].x});
        const double dy = std::max({lo[j].y - p.y, 0.0, p.y - hi[j].y});
        return std::hypot(dx, dy);
    };
    for (const uint16_t type : {kBallMill, kEndMill, kRadiusMill}) {
        ToolGeom tool{};
        tool.toolType = type, tool.radius = R, tool.cornerRadius = r;
        std::vector<std::pair<double, int32_t>> want;
        for (size_t j = 0; j < lo.size(); ++j) {
            const double d = plan(j);
            if (d > R) continue;
            const double h = d - (R - r);
            const double key = type == kBallMill  ? hi[j].z + std::sqrt(R * R - d * d)
                               : type == kEndMill ? hi[j].z
                               : h < 1e-5         ? hi[j].z + r
                                                  : hi[j].z + std::sqrt(r * r - h * h);
            want.push_back({key, static_cast<int32_t>(j)});
        }
        std::stable_sort(want.begin(), want.end(), [](auto a, auto b) { return a.first > b.first; });
        LiftBoxTable* t = liftBoxTableCreate(static_cast<int32_t>(lo.size()));
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(t->capacity, static_cast<int32_t>(lo.size()));
        ASSERT_EQ(toolLiftOverBoxes(t, lo.data(), hi.data(), 7, nullptr, 0, &tool, &p, nullptr, nullptr),
                  static_cast<int>(want.size()));
        EXPECT_EQ(t->ok, 1);
        EXPECT_EQ(t->lastListPos, -1);
        for (size_t k = 0; k < want.size(); ++k) {
            EXPECT_EQ(t->entries[k].element, want[k].second) << type << " " << k;
            EXPECT_NEAR(t->entries[k].key, want[k].first, 1e-12) << type << " " << k;
        }
        // 7 is no element; the even one past the count is not taken.
        int32_t odd[] = {1, 3, 5, 7, 0};
        for (const auto& w : want) odd[4] = w.second % 2 ? odd[4] : w.second;
        ASSERT_EQ(
            toolLiftOverBoxes(t, lo.data(), hi.data(), 7, odd, 4, &tool, &p, nullptr, nullptr),
            static_cast<int>(std::count_if(want.begin(), want.end(), [](auto w) { return w.second % 2; })));
        EXPECT_EQ(t->lastListPos, 4);
        // Turned bounds far away from the point pass every box over, and so does a box without a height.
        std::vector<Vec2> rlo(7, Vec2{100, 100}), rhi(7, Vec2{101, 101});
        EXPECT_EQ(
            toolLiftOverBoxes(t, lo.data(), hi.data(), 7, nullptr, 0, &tool, &p, rlo.data(), rhi.data()), 0);
        const Vec3 nan{1, 1, std::numeric_limits<double>::quiet_NaN()};
        EXPECT_EQ(toolLiftOverBoxes(t, lo.data(), &nan, 1, nullptr, 0, &tool, &p, nullptr, nullptr), 0);
        liftBoxTableFree(t);
        t = liftBoxTableCreate(1);
        ASSERT_NE(t, nullptr);
        EXPECT_EQ(toolLiftOverBoxes(t, lo.data(), hi.data(), 7, nullptr, 0, &tool, &p, nullptr, nullptr), -1);
        EXPECT_EQ(t->ok, 0);
        liftBoxTableFree(t);
    }
    LiftBoxTable* t = liftBoxTableCreate(0);
    ASSERT_NE(t, nullptr);
    EXPECT_EQ(t->capacity, 1);
    EXPECT_TRUE(t->count == 0 && t->lastListPos == -1 && t->lastElement == -1);  // a new table holds none
    liftBoxTableFree(t);
    liftBoxTableFree(nullptr);
    // Without memory for the record or for its entries: null, nothing kept (the leak check sees it).
    for (long n : {1, 2}) {
        allocfail::arm(n);
        LiftBoxTable* none = liftBoxTableCreate(8);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(fired);
        EXPECT_EQ(none, nullptr) << n;
        liftBoxTableFree(none);
    }
}

// Thinning keeps the middle point at a bend (engine B only where the path turns against its first
// segment's vertical sense) or before a steep segment; segments of length 1, the bends 20 degrees
// against the 10 degree first threshold.
TEST(DropCut, ThinningKeepsBendsAndSteepTurns) {
    projResetState();
    const double r = std::sqrt(0.5), s20 = std::sin(20 * M_PI / 180), c20 = std::cos(20 * M_PI / 180);
    const double up = 30 * M_PI / 180, t99 = std::acos(0.99);
    // A segment of length len rising at angle a in the xz plane.
    auto ray = [](double len, double a) { return Vec3{len * std::cos(a), 0, len * std::sin(a)}; };
    const struct {
        Vec3 j, k;  // from (0, 0, 0)
        double ratio;
        int a, b;
    } cases[] = {
        {ray(1, up), ray(1, up + 0.35), 100, 1, 0},  // steeper
        {ray(1, up), ray(1, up + 0.35), 0.5, 1, 1},
        {ray(1, up), ray(1, up - 0.35), 100, 1, 1},     // flatter
        {ray(5e-5, up), ray(1, up - 0.35), 100, 1, 1},  // after a first segment just over 1e-5
        {ray(1, -up), ray(1, -up + 0.35), 100, 1, 1},
        {ray(1, -up), ray(1, -up - 0.35), 100, 1, 0},
        // A turn of cosine 0.99 bends only a first segment within 1e-5 of the length (second threshold).
        {ray(5 - 5e-6, up), ray(1, up - t99), 100, 1, 1},
        {ray(5 - 5e-5, up), ray(1, up - t99), 100, 0, 0},
        {ray(5 - 5e-6, up), ray(1, up - 0.07), 100, 0, 0},
        {{r, 0, r}, {0, r, r}, 100, 1, 0},      // turned sideways at the same slope
        {{1, 0, 0}, {c20, s20, 0}, 100, 0, 0},  // level
        {{1, 0, 0}, {c20, 0, s20}, 0.3, 1, 1},  // level, then steeper than the ratio
        {{1, 0, 0}, {c20, 0, s20}, 0.4, 0, 0},
        {{1, 0, 0}, {1, 0, 0}, 0, 0, 0},      // straight on
        {{0, 0, 0}, {1, 0, 1}, 0, 0, 0},      // a first segment of no length
        {{0, 0, 5e-6}, {1, 0, 0}, 0, 0, 0}};  // or within 1e-5
    Plist* l = plistCreate(4, 0);
    ASSERT_NE(l, nullptr);
    for (const auto& c : cases) {
        l->count = 0;
        // Turned about z and moved off the origin: only the segments' directions and slopes count.
        for (const Vec3& p : {Vec3{0, 0, 0}, c.j, Vec3{c.j.x + c.k.x, c.j.y + c.k.y, c.j.z + c.k.z}}) {
            const Vec3 q{3 + 0.8 * p.x - 0.6 * p.y, -2 + 0.6 * p.x + 0.8 * p.y, 1 + p.z};
            plistAppend(l, l->count, &q, 0, nullptr, 0);
        }
        EXPECT_EQ(projA_seg_accept(l, 0, 1, 2, 5.0, c.ratio), c.a) << c.j.z << " " << c.k.y << " " << c.ratio;
        EXPECT_EQ(projB_seg_accept(l, 0, 1, 2, 5.0, c.ratio), c.b) << c.j.z << " " << c.k.y << " " << c.ratio;
    }
    for (const auto& [i, j, k] :
         {std::tuple{0, 1, 3}, {3, 1, 2}, {0, 3, 2}, {-1, 1, 2}, {0, -1, 2}, {0, 1, -1}})
        EXPECT_EQ(projA_seg_accept(l, i, j, k, 5.0, 0) + projB_seg_accept(l, i, j, k, 5.0, 0),
                  0);  // off the list
    plistFree(l);
}

// Box lifts over the box (0, 0, 0)-(2, 2, 1), from below: a ball's centre rests at the top plus the
// rise over the plan distance d, a flat end at the top, a torus's tube centre at the top plus r over
// its flat, else its tube's rise; beyond reach 0 and the height kept.
TEST(DropCut, BoxLiftsClosedForms) {
    const Vec3 lo{0, 0, 0}, hi{2, 2, 1};
    const struct {
        double x;
        int type;  // 1 ball r 2, 2 flat R 2, 3 torus R 2 r 0.5
        double z;  // -10: missed
    } cases[] = {{5, 1, -10},
                 {5, 2, -10},
                 {5, 3, -10},
                 {3, 1, 1 + std::sqrt(3.0)},
                 {3, 2, 1},
                 {3, 3, 1.5},
                 {3.7, 3, 1 + std::sqrt(0.25 - 0.04)},
                 {1, 1, 3},
                 {4.01, 2, -10}};
    for (const auto& c : cases) {
        Vec3 p{c.x, 1, -10};
        const int r = c.type == 1   ? ballLiftOverBox(&lo, &hi, 2, &p)
                      : c.type == 2 ? radiusLiftOverBox(&lo, &hi, 2, &p)
                                    : torusLiftOverBox(&lo, &hi, 2, 0.5, &p);
        EXPECT_EQ(r, c.z > -10 ? 1 : 0) << c.x << " " << c.type;
        EXPECT_NEAR(p.z, c.z, 1e-12) << c.x << " " << c.type;
        EXPECT_TRUE(p.x == c.x && p.y == 1);
    }
    // A torus with R = r over a box exactly 1e-5 beside it: the rim of its tube meets the top there.
    const Vec3 beside{1e-5, 0, 0};
    Vec3 q{0, 1, -10};
    EXPECT_TRUE(torusLiftOverBox(&beside, &hi, 1e-5, 1e-5, &q) == 1 && q.z == 1);
}

// With the taper loaded, the facet engine drops the tool's tapered flank too: a ball of radius 1 under a 10
// degree flank (from lowR = cos a at lowH = -sin a) stops over a corner 2.5 from its axis where the
// flank's radius reaches it, (2.5 - lowR) / tan a + lowH above its reference; without the taper the
// corner lies beyond the ball.
TEST(DropCut, TaperedFlankMeetsACornerBeyondTheBall) {
    projResetState();
    const Triangle3D post{{{2.5, 0, 0}, {2.6, -0.05, 0}, {2.6, 0.05, 0}}};
    testmesh::Model m({post}, kBallMill, 1.0, 0.0, true);
    m.m.tool->height = 20, m.m.tool->taperAngle = 10, m.m.tool->taperFlag = 1;
    const double a = 10 * M_PI / 180, lift = (2.5 - std::cos(a)) / std::tan(a) - std::sin(a);
    // The cone's values: from (lowR, lowH) = (cos a, -sin a) up the flank to the cutting length 20.
    toolgeo_set(m.m.tool);
    double cone[5];
    int32_t flag = 0;
    get_toolgeo_globals(cone, &flag);
    const double highR = (20 + std::sin(a)) * std::tan(a) + std::cos(a);
    EXPECT_NEAR(cone[0], std::cos(a), 1e-15);
    EXPECT_NEAR(cone[1], highR, 1e-14);
    EXPECT_NEAR(cone[2], -std::sin(a), 1e-15);
    EXPECT_EQ(cone[3], 20.0);
    EXPECT_NEAR(cone[4], highR - 1, 1e-14);
    EXPECT_EQ(flag, 1);
    // A radius mill's cone starts on its corner, a flat end's at its rim.
    for (uint16_t type : {kRadiusMill, kEndMill}) {
        ToolGeom g{};
        g.toolType = type, g.radius = 3, g.cornerRadius = 1, g.height = 20, g.taperAngle = 10;
        toolgeo_set(&g);
        get_toolgeo_globals(cone, &flag);
        const double r = type == kRadiusMill ? 1 : 0;
        EXPECT_NEAR(cone[0], 3 - r + r * std::cos(a), 1e-14) << type;
        EXPECT_NEAR(cone[2], -r * std::sin(a), 1e-15) << type;
        EXPECT_EQ(flag, 0);
    }
    ToolGeom steep = *m.m.tool;
    steep.taperAngle = 20;
    for (int taper : {0, 1, 2}) {
        projResetState();
        // 2: loaded for another taper, then a part's placement (its state saved and restored) makes the
        // engine take the cone of the tool it places next, and only then.
        toolgeo_set(taper == 2 ? &steep : m.m.tool);
        projA_set_toolgeo(taper ? 1 : 0);
        projA_set_params(m.facets.data(), 1, m.lo.data(), m.hi.data(), nullptr, -1e4, 1e4, 0);
        if (taper == 2) {
            projA_save_state(nullptr);
            Vec3 none{0, 0, -100};  // nothing to meet, but the cone is taken
            EXPECT_EQ(projA_place(&none, 50, m.m.tool, nullptr, 0, nullptr, nullptr), 0);
            get_toolgeo_globals(cone, &flag);
            EXPECT_NEAR(cone[1], highR, 1e-14);
            projA_restore_state();
        }
        Vec3 p{0, 0, -100}, c{};
        int32_t cls = 0;
        const int res = projA_place(&p, 50, m.m.tool, nullptr, 0, &c, &cls);
        if (taper) {
            EXPECT_EQ(res, kProjContact);  // a ring contact is never charged to a face
            EXPECT_NEAR(p.z, -lift, 1e-9);
            // Taken once: the next placement, though of the steeper tool, keeps that cone.
            Vec3 again{0, 0, -100};
            EXPECT_EQ(projA_place(&again, 50, &steep, nullptr, 0, &c, &cls), kProjContact);
            EXPECT_NEAR(again.z, -lift, 1e-9);
        } else {
            EXPECT_EQ(res, 0);
            EXPECT_EQ(p.z, -100);
        }
    }
    projResetState();
}

// Facets that are true quads (the cells of a grid, each with its own corner heights, folded along p0-p2):
// engine A drops the tool onto both halves, so its height is the brute-force drop over the two triangles of
// every facet.
TEST(DropCut, QuadFacetsDropOnBothHalves) {
    projResetState();
    std::mt19937 gen(811);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    const int n = 16;
    struct Quad {
        Vec3 p[4];  // the facet record is packed: its corners are copied out of it
        Vec3 lo, hi;
    };
    std::vector<Quad> quads;
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j) {
            Quad q{};
            const int di[4] = {0, 1, 1, 0}, dj[4] = {0, 0, 1, 1};
            for (int k = 0; k < 4; ++k) {
                const int a = i + di[k], b = j + dj[k];
                q.p[k] = {double(a), double(b), 3 * u(gen)};  // folds far beyond rounding
            }
            q.lo = q.hi = q.p[0];
            for (const Vec3& p : q.p)
                q.lo = {std::min(q.lo.x, p.x), std::min(q.lo.y, p.y), std::min(q.lo.z, p.z)},
                q.hi = {std::max(q.hi.x, p.x), std::max(q.hi.y, p.y), std::max(q.hi.z, p.z)};
            quads.push_back(q);
        }
    std::stable_sort(quads.begin(), quads.end(),
                     [](const Quad& a, const Quad& b) { return a.hi.z > b.hi.z; });
    std::vector<Facet98> facets;
    std::vector<Vec3> lo, hi;
    for (const Quad& q : quads) {
        Facet98 f{};
        for (int k = 0; k < 4; ++k) f.p[k] = q.p[k];
        facets.push_back(f), lo.push_back(q.lo), hi.push_back(q.hi);
    }
    const struct {
        uint16_t type;
        double R, r;
    } tools[] = {{kBallMill, 1.5, 0}, {kEndMill, 1.2, 0}, {kRadiusMill, 1.6, 0.5}};
    int secondHalf = 0;
    for (const auto& tl : tools) {
        ToolGeom tool{};
        tool.toolType = tl.type, tool.radius = tl.R, tool.cornerRadius = tl.r;
        projA_set_params(facets.data(), int32_t(facets.size()), lo.data(), hi.data(), nullptr, -1e4, 1e4, 0);
        for (int it = 0; it < 12; ++it) {
            const double x = 2 + (n - 4) * u(gen), y = 2 + (n - 4) * u(gen);
            double want = -std::numeric_limits<double>::infinity(), first = want;
            for (const Quad& q : quads) {
                if (q.lo.x > x + tl.R || q.hi.x < x - tl.R || q.lo.y > y + tl.R || q.hi.y < y - tl.R)
                    continue;
                const Vec3* p = q.p;
                first = std::max(first, testmesh::bruteDrop(tl.type, tl.R, tl.r, {{p[0], p[1], p[2]}}, x, y));
                want = std::max(want, testmesh::bruteDrop(tl.type, tl.R, tl.r, {{p[0], p[2], p[3]}}, x, y));
            }
            secondHalf += want > first + 1e-6;
            want = std::max(want, first);
            Vec3 pt{x, y, -1000}, c;
            int32_t cls;
            EXPECT_GE(projA_place(&pt, 20, &tool, nullptr, 0, &c, &cls), 1);
            EXPECT_NEAR(pt.z, want, 1e-9) << tl.type << " at " << x << " " << y;
        }
    }
    EXPECT_GT(secondHalf, 6);  // the second halves decide often enough to be tested
    projResetState();
}
