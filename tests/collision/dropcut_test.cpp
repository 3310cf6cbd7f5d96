#include "collision/dropcut.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "collision/proj.h"
#include "meshutil.h"

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

// The tool's reach above its reference height at radial distance rho (-inf beyond it).
double front(uint16_t type, double R, double r, double rho) {
    const double inf = -std::numeric_limits<double>::infinity();
    if (type == kBallMill) return rho <= R ? std::sqrt(R * R - rho * rho) : inf;
    if (type == kEndMill) return rho <= R ? 0.0 : inf;
    const double a = R - r;
    if (rho <= a) return r;
    return rho <= R ? std::sqrt(std::max(0.0, r * r - (rho - a) * (rho - a))) : inf;
}

// Highest reference height of the tool over (x, y) touching one triangle, found independently: the
// face from the plane's gradient, each edge by a concave 1D search, each vertex directly.
double bruteDrop(uint16_t type, double R, double r, const Triangle3D& t, double x, double y) {
    double best = -std::numeric_limits<double>::infinity();
    auto at = [&](const Vec3& p, double bound) {
        const double rho = std::hypot(p.x - x, p.y - y);
        return rho <= bound ? p.z + front(type, R, r, rho) : -std::numeric_limits<double>::infinity();
    };
    const double corner = type == kEndMill ? R : R - 1e-7;
    for (const Vec3& v : t.p) best = std::max(best, at(v, corner));
    for (int k = 0; k < 3; ++k) {
        const Vec3 a = t.p[k], b = t.p[(k + 1) % 3];
        auto f = [&](double s) {
            if (s < 0 || s > 1) return -std::numeric_limits<double>::infinity();
            return at({a.x + s * (b.x - a.x), a.y + s * (b.y - a.y), a.z + s * (b.z - a.z)}, R);
        };
        double bs = 0, bf = -std::numeric_limits<double>::infinity();
        for (int i = 0; i <= 200; ++i)
            if (f(i / 200.0) > bf) bf = f(i / 200.0), bs = i / 200.0;
        for (double w = 1.0 / 200; w > 1e-16; w *= 0.25)
            for (int i = -10; i <= 10; ++i)
                if (const double v = f(bs + w * i / 10); v > bf) bf = v, bs = bs + w * i / 10;
        best = std::max(best, bf);
    }
    const double e1x = t.p[1].x - t.p[0].x, e1y = t.p[1].y - t.p[0].y, e1z = t.p[1].z - t.p[0].z;
    const double e2x = t.p[2].x - t.p[0].x, e2y = t.p[2].y - t.p[0].y, e2z = t.p[2].z - t.p[0].z;
    const double det = e1x * e2y - e1y * e2x;
    if (std::fabs(det) > 1e-9) {
        // z = z0 + g . (X - Q0) over the plane.
        const double gx = (e1z * e2y - e2z * e1y) / det, gy = (e2z * e1x - e1z * e2x) / det;
        const double gl = std::hypot(gx, gy), sq = std::sqrt(1 + gl * gl);
        const double ux = gl > 0 ? gx / gl : 0, uy = gl > 0 ? gy / gl : 0;
        double cx = x, cy = y, h;
        const double zAxis = t.p[0].z + gx * (x - t.p[0].x) + gy * (y - t.p[0].y);
        if (type == kBallMill) {
            cx += R * gx / sq, cy += R * gy / sq, h = zAxis + R * sq;
        } else if (type == kEndMill) {
            cx += R * ux, cy += R * uy, h = zAxis + R * gl;
        } else {
            cx += (R - r) * ux + r * gx / sq, cy += (R - r) * uy + r * gy / sq,
                h = zAxis + (R - r) * gl + r * sq;
        }
        const double px = cx - t.p[0].x, py = cy - t.p[0].y;
        const double u = (px * e2y - py * e2x) / det, v = (e1x * py - e1y * px) / det;
        if (u >= 0 && v >= 0 && u + v <= 1) best = std::max(best, h);
    }
    return best;
}

}  // namespace

TEST(DropCut, KernelCasesOfOneTriangle) {
    const Vec3 flat[3] = {{-10, -10, 0}, {10, -10, 0}, {0, 10, 0}};
    DropState s = stateOver(flat, 0, 0, 2);
    EXPECT_EQ(toolPartLift3(&s), 2);  // the face answers alone
    EXPECT_DOUBLE_EQ(s.best, 2.0);
    EXPECT_EQ(s.classWord, 1);
    EXPECT_EQ(toolPartLift3(&s), 0);  // a ball contact at the state's height is no improvement
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
    };
    for (const Case& c : cases) {
        const double zOut = 1.0 + 0.5 * (c.rOut - c.rIn);
        // Starting just high enough that the ring's outer rim test is skipped: the vertex test alone.
        DropState s = stateOver(spike, c.x, 0, 1, 0, 0.1 - zOut);
        const int got = dropcut_triangle(&s, c.rIn, c.rOut, 1.0, zOut);
        EXPECT_EQ(got, c.want) << c.rIn;
        if (got) {
            EXPECT_NEAR(s.best, c.height, 1e-12);
        }
    }
}

TEST(DropCut, LiftOverBoxesTable) {
    const Vec3 lo{0, 0, 0}, hi{2, 2, 1};
    struct Case {
        int which;
        double x, y, want;  // height, or NaN for a miss
    } cases[] = {{1, 1, 1, 4.0},
                 {1, 4, 1, 1 + std::sqrt(5.0)},
                 {1, 5.1, 1, NAN},
                 {1, 4, 4, 1 + std::sqrt(1.0)},
                 {2, 4.9, 1, 1.0},
                 {3, 2.5, 1, 2.0},
                 {3, 4.5, 1, 1 + std::sqrt(1 - 0.25)}};
    for (const Case& c : cases) {
        Vec3 p{c.x, c.y, -100};
        const int hit = c.which == 1   ? ballLiftOverBox(&lo, &hi, 3, &p)
                        : c.which == 2 ? radiusLiftOverBox(&lo, &hi, 3, &p)
                                       : torusLiftOverBox(&lo, &hi, 3, 1, &p);
        EXPECT_EQ(hit, std::isnan(c.want) ? 0 : 1) << c.which << " " << c.x;
        if (hit) {
            EXPECT_NEAR(p.z, c.want, 1e-12);
        }
    }
    LiftBoxEntry a{1, 2.0}, b{2, 2.000005}, d{3, 1.0};
    EXPECT_EQ(boxCmpDesc(&a, &b), 0);
    EXPECT_EQ(boxCmpDesc(&a, &d), -1);
    EXPECT_EQ(boxCmpDesc(&d, &a), 1);
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
    // A ring tool ignores a box table (whose entries would lie); the full walk finds the plane.
    LiftBoxTable* table = liftBoxTableCreate(4);
    ASSERT_NE(table, nullptr);
    projB_set_params(t.tris, t.lo.data(), t.hi.data(), table, -10, 10, 0);
    p = {0, 0, -50};
    EXPECT_GE(projB_place(&p, 10, &ring, nullptr, 0, &c, &cls), 1);
    EXPECT_EQ(table->count, 0);
    liftBoxTableFree(table);
    projResetState();
}

TEST(DropCut, ThinningOfRisingPaths) {
    projResetState();
    Plist* l = plistCreate(4, 0);
    ASSERT_NE(l, nullptr);
    const Vec3 pts[3] = {{0, 0, 0}, {1, 0, 0.2}, {2, 0, 0.7}};  // rises, then rises more steeply
    for (int i = 0; i < 3; ++i) plistAppend(l, i, &pts[i], 0, nullptr, 0);
    // The bend (about 15 degrees) is beyond both cosines but follows the rise: engine B keeps the
    // point only by the slope test, which a ratio of 0.4 passes and 0.6 does not.
    EXPECT_EQ(projB_seg_accept(l, 0, 1, 2, 1.0, 0.4), 1);
    EXPECT_EQ(projB_seg_accept(l, 0, 1, 2, 1.0, 0.6), 0);
    EXPECT_EQ(projA_seg_accept(l, 0, 1, 2, 1.0, 0.6), 1);
    EXPECT_EQ(projB_seg_accept(l, 0, 1, 3, 1.0, 0.4), 0);
    plistFree(l);
}

// The placed height equals the largest independent drop over every triangle, for the three tools,
// through each walk: engine B over grid cells, engine B's box walk, engine A over facets.
TEST(DropCut, PlacementMatchesBruteForceDrop) {
    projResetState();
    std::mt19937 gen(99);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    std::vector<Triangle3D> wavy, soup;
    const int n = 224;  // 100 352 triangles
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
            LiftBoxTable* table = liftBoxTableCreate(4096);
            ASSERT_NE(table, nullptr);
            for (int it = 0; it < 24; ++it) {
                const double x = span * (0.1 + 0.8 * u(gen)), y = span * (0.1 + 0.8 * u(gen));
                double want = -std::numeric_limits<double>::infinity();
                for (int32_t k = 0; k < t.tris->count; ++k)
                    if (t.lo[k].x <= x + tl.R && t.hi[k].x >= x - tl.R && t.lo[k].y <= y + tl.R &&
                        t.hi[k].y >= y - tl.R)
                        want = std::max(want, bruteDrop(tl.type, tl.R, tl.r, t.tris->data[k], x, y));
                if (!std::isfinite(want)) continue;
                const int walk = it % 3;
                Vec3 p{x, y, -1000}, c;
                int32_t cls;
                int res;
                if (walk == 0) {
                    t.m.grid = grid;
                    res = chkModelPlaceTool(&t.m, &p, &c, &cls);
                    t.m.grid = nullptr;
                } else if (walk == 1) {
                    projB_set_params(t.tris, t.lo.data(), t.hi.data(), table, -1e4, 1e4, 0);
                    setLiftBoxes(t.lo.data(), t.hi.data());
                    res = projB_place(&p, t.m.bounds[5] + tl.R, t.m.tool, nullptr, 0, &c, &cls);
                } else {
                    projA_set_params(facets.data(), t.tris->count, t.lo.data(), t.hi.data(), nullptr, -1e4,
                                     1e4, 0);
                    res = projA_place(&p, t.m.bounds[5] + tl.R, t.m.tool, nullptr, 0, &c, &cls);
                }
                EXPECT_GE(res, 1);
                EXPECT_NEAR(p.z, want, 1e-9) << "mesh " << meshNo << " tool " << tl.type << " walk " << walk;
                ++checked;
            }
            liftBoxTableFree(table);
            grid2DFree(grid);
        }
    }
    EXPECT_GT(checked, 120);
    projResetState();
}
