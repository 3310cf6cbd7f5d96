#include "collision/meshindex.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <utility>
#include <vector>

#include "collision/meshquery.h"
#include "kernel/base/rng.h"
#include "meshutil.h"

// The allocation controls only: the hook itself is another test file's.
#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

double uni(double a, double b) {
    return a + (b - a) * rngUniform();
}

Vec3 randomPoint(double half) {
    return {uni(-half, half), uni(-half, half), uni(-half, half)};
}

// Small triangles scattered through a cube, a few long slivers among them.
std::vector<Triangle3D> randomSoup(int n) {
    std::vector<Triangle3D> t;
    for (int i = 0; i < n; ++i) {
        const Vec3 c = randomPoint(20);
        const double s = i % 17 == 0 ? 15.0 : 1.5;
        t.push_back({{c,
                      {c.x + uni(-s, s), c.y + uni(-s, s), c.z + uni(-s, s)},
                      {c.x + uni(-s, s), c.y + uni(-s, s), c.z + uni(-s, s)}}});
    }
    return t;
}

// Flat triangles on a few levels, many of one height side by side: equal lifts with different
// contacts, where the first element in order must win.
std::vector<Triangle3D> levelSoup(int n) {
    std::vector<Triangle3D> t;
    for (int i = 0; i < n; ++i) {
        const double x = uni(-20, 20), y = uni(-20, 20), z = 4.0 * rngBelow(4) - 6.0, s = uni(0.5, 3);
        t.push_back({{{x, y, z}, {x + s, y, z}, {x, y + s, z}}});
    }
    return t;
}

// Thin triangles around the z axis, as a swept hub gives them: short steps of a turn, some across it.
std::vector<Triangle3D> ringSoup(int n) {
    std::vector<Triangle3D> t;
    for (int i = 0; i < n; ++i) {
        const double r = uni(4, 24), a = uni(-M_PI, M_PI), da = uni(0.004, 0.06), dr = uni(0.02, 0.4);
        const double z = uni(-15, 15), dz = uni(-0.4, 0.4);
        auto at = [](double rr, double aa, double zz) {
            return Vec3{rr * std::cos(aa), rr * std::sin(aa), zz};
        };
        t.push_back({{at(r, a, z), at(r + dr, a, z + dz), at(r, a + da, z)}});
    }
    return t;
}

// Every fourth direction straight down, every fourth up, as drops and plunge departures go.
Vec3 randomDir() {
    const int k = rngBelow(4);
    const Vec3 d{uni(-1, 1), uni(-1, 1), uni(-1, 1)};
    const double l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
    return k < 2 || l < 1e-3 ? Vec3{0, 0, k == 1 ? 1.0 : -1.0} : Vec3{d.x / l, d.y / l, d.z / l};
}

}  // namespace

// The index is only a filter: every sweep over an indexed model, plain or turned by sectors, gives the
// full scan's lift and contact exactly, for each tool shape, down (with the top-z stop) and in any
// direction; every other model is a facet array (its triangle list not at hand).
TEST(MeshIndex, SweepsMatchTheFullScan) {
    rngResetState();
    struct Tool {
        uint16_t type;
        double R, r;
    };
    const Tool tools[] = {{kBallMill, 2.5, 0}, {kEndMill, 3, 0}, {kRadiusMill, 4, 1}};
    int hits = 0;
    for (int soup = 0; soup < 9; ++soup) {
        const Tool& tool = tools[soup % 3];
        testmesh::Model model(soup < 3   ? randomSoup(600)
                              : soup < 6 ? levelSoup(900)
                                         : ringSoup(1500),
                              tool.type, tool.R, tool.r, soup % 2 == 1);
        const int32_t n = model.tris->count;
        MeshIndex* index[2] = {meshIndexBuild(n, model.m.boxMin, model.m.boxMax),
                               meshIndexBuildTurned(n, model.m.boxMin, model.m.boxMax, model.tris->data[0].p,
                                                    soup % 4 == 0 ? 1 : 5 + 20 * (soup % 3))};
        ASSERT_NE(index[0], nullptr);
        ASSERT_NE(index[1], nullptr);
        ASSERT_TRUE(meshIndexTopsDescend(index[0]));
        ASSERT_TRUE(meshIndexTopsDescend(index[1]));
        for (int q = 0; q < 300; ++q) {
            const Vec3 p = soup < 6 ? randomPoint(25) : Vec3{uni(-26, 26), uni(-26, 26), uni(-16, 16)};
            Vec3 d = randomDir();
            if (q % 10 == 9) {  // not unit, though x^2 + y^2 - z^2 = 1
                const double z = uni(-1, 1), a = uni(-M_PI, M_PI), h = std::sqrt(1 + z * z);
                d = {h * std::cos(a), h * std::sin(a), z};
            }
            const double length = uni(1, 40);
            double lift[3] = {-1, -1, -1};
            Vec3 contact[3] = {};
            int found[3], first[3];
            Vec3 firstAt[3] = {};
            for (int k = 0; k < 3; ++k) {
                model.m.index = k ? index[k - 1] : nullptr;
                found[k] = meshDropTool(&model.m, nullptr, 0, &p, &d, length, &lift[k], &contact[k]);
                first[k] = meshContactAlongDir(&model.m, nullptr, 0, &p, &d, length, &firstAt[k]);
            }
            model.m.index = nullptr;
            for (int k = 1; k < 3; ++k) {
                ASSERT_EQ(found[0], found[k]) << soup << " " << q << " " << k;
                ASSERT_EQ(first[0], first[k]) << soup << " " << q << " " << k;
                EXPECT_TRUE(!found[0] || (lift[0] == lift[k] && contact[0].x == contact[k].x &&
                                          contact[0].y == contact[k].y && contact[0].z == contact[k].z))
                    << soup << " " << q << " " << k;
                EXPECT_TRUE(!first[0] || firstAt[0].z == firstAt[k].z) << soup << " " << q << " " << k;
            }
            hits += found[0];
        }
        meshIndexFree(index[0]);
        meshIndexFree(index[1]);
    }
    EXPECT_GT(hits, 300);  // the queries do reach the mesh
}

// The query against brute force over the boxes: ascending, no element twice, every element whose box
// passes the plan, top and front tests and has a corner or its centre within reach of the line.
TEST(MeshIndex, QueryKeepsEveryNearBox) {
    rngResetState();
    std::vector<Vec3> lo, hi;
    for (int j = 0; j < 2000; ++j) {
        const Vec3 c = randomPoint(30);
        const Vec3 h{uni(0, 2), uni(0, 2), j % 50 == 0 ? 20.0 : uni(0, 2)};
        lo.push_back({c.x - h.x, c.y - h.y, c.z - h.z});
        hi.push_back({c.x + h.x, c.y + h.y, c.z + h.z});
    }
    MeshIndex* index = meshIndexBuild(2000, lo.data(), hi.data());
    ASSERT_NE(index, nullptr);
    EXPECT_EQ(meshIndexCount(index), 2000);
    EXPECT_FALSE(meshIndexTopsDescend(index));
    std::vector<int32_t> got;
    size_t kept = 0;
    for (int q = 0; q < 200; ++q) {
        const Vec3 s = randomPoint(30), d = randomDir();
        const double x0 = uni(-40, 20), y0 = uni(-40, 20);
        const double reach = q % 5 == 0 ? -1.0 : uni(0.5, 5), xw = uni(1, 40), yw = uni(1, 40);
        // clang-format off
        MeshLineQuery query{x0, x0 + xw, y0, y0 + yw, s, {2 * d.x, 2 * d.y, 2 * d.z}, uni(-30, 60), reach,
                            q % 3 == 0, uni(-30, 30)};
        // clang-format on
        meshIndexQuery(index, lo.data(), hi.data(), &query, &got);
        for (size_t i = 1; i < got.size(); ++i) ASSERT_LT(got[i - 1], got[i]);
        std::vector<bool> in(2000, false);
        for (int32_t j : got) in[j] = true;
        for (int j = 0; j < 2000; ++j) {
            const Vec3 &a = lo[j], &b = hi[j];
            // A box clearly outside a region is left out: the index does narrow the scan.
            const Vec3 dd = query.dir;
            const double nearest = std::min(a.x * dd.x, b.x * dd.x) + std::min(a.y * dd.y, b.y * dd.y) +
                                   std::min(a.z * dd.z, b.z * dd.z);
            const Vec3 c{(a.x + b.x) / 2 - s.x, (a.y + b.y) / 2 - s.y, (a.z + b.z) / 2 - s.z};
            const double along = c.x * d.x + c.y * d.y + c.z * d.z,
                         off = std::sqrt(std::max(0.0, c.x * c.x + c.y * c.y + c.z * c.z - along * along)),
                         diagonal = std::sqrt((b.x - a.x) * (b.x - a.x) + (b.y - a.y) * (b.y - a.y) +
                                              (b.z - a.z) * (b.z - a.z));
            const bool far =
                nearest > query.front + 1 || (query.reach >= 0 && off > query.reach + diagonal + 1e-6);
            EXPECT_FALSE(far && in[j]) << q << " " << j;
            if (!(b.x > query.x0 && a.x < query.x1 && b.y > query.y0 && a.y < query.y1) ||
                (query.useZLimit && b.z < query.zLimit)) {
                EXPECT_FALSE(in[j]) << q << " " << j;
                continue;
            }
            if (nearest > query.front) continue;
            bool near = query.reach < 0;
            for (int c = 0; c < 9 && !near; ++c) {
                const Vec3 p = c == 8 ? Vec3{(a.x + b.x) / 2, (a.y + b.y) / 2, (a.z + b.z) / 2}
                                      : Vec3{c & 1 ? b.x : a.x, c & 2 ? b.y : a.y, c & 4 ? b.z : a.z};
                const Vec3 v{p.x - s.x, p.y - s.y, p.z - s.z};
                const double along = v.x * d.x + v.y * d.y + v.z * d.z;
                near = std::sqrt(std::max(0.0, v.x * v.x + v.y * v.y + v.z * v.z - along * along)) <=
                       query.reach;
            }
            if (near) {
                EXPECT_TRUE(in[j]) << q << " " << j;
                ++kept;
            }
        }
        EXPECT_TRUE(query.reach < 0 || got.size() < 2000u) << q;
    }
    EXPECT_GT(kept, 200u);
    meshIndexFree(index);
}

// Any visitor, with or without turned bounds: the highest top (rounded up, so that bounds tie) among
// the elements a query keeps (a bound that holds in every frame, as z does not turn). A turned walk may
// hand over more elements (the visit tests them against the plain query's answer), never fewer; every
// kept element whose bound equals the answer still reaches the floor and is handed over, in the frame of
// the sector that holds its box centre, and the walk leaves the visitor in the elements' own frame.
TEST(MeshIndex, TurnedWalksHandOverEveryKeptElement) {
    rngResetState();
    std::vector<Triangle3D> ring = ringSoup(800);
    ring.push_back({{{-1, -1, 20}, {1, -1, 20}, {0, 1, 20}}});  // the highest, its box centred on the axis
    testmesh::Model model(ring, kBallMill, 2.0);
    const int32_t n = model.m.triangles->count;
    MeshIndex* plain = meshIndexBuild(n, model.m.boxMin, model.m.boxMax);
    MeshIndex* turned =
        meshIndexBuildTurned(n, model.m.boxMin, model.m.boxMax, model.m.triangles->data[0].p, 12);
    ASSERT_NE(plain, nullptr);
    ASSERT_NE(turned, nullptr);
    // The boxes as given, past one before them that every query keeps (the highest): the walks read n.
    std::vector<Vec3> lo{{-1e9, -1e9, -1e9}}, hi{{1e9, 1e9, 1e9}};
    lo.insert(lo.end(), model.m.boxMin, model.m.boxMin + n);
    hi.insert(hi.end(), model.m.boxMax, model.m.boxMax + n);
    struct Top {
        const Vec3 *hi, *lo;
        const std::vector<bool>* kept;
        double best;
        double zLimit;  // no element whose top lies below it is handed over
        int under;      // elements handed over below the z limit, or told of below the floor
        std::vector<bool> seen;
        double c, s;     // the last turn
        double off = 0;  // the farthest angle of a box centre from the frame it was visited in
        const MeshLineQuery* plan = nullptr;  // the plain walk asks no bound of a box off its rectangle
        int off2d = 0;
    };
    auto bound = [](void* ctx, const Vec3& lo, const Vec3& hi) {
        Top& t = *static_cast<Top*>(ctx);
        const MeshLineQuery* q = t.plan;
        t.off2d += q && (hi.x < q->x0 || lo.x > q->x1 || hi.y < q->y0 || lo.y > q->y1);
        return std::ceil(hi.z);
    };
    auto visit = [](void* ctx, int32_t j) {
        Top& t = *static_cast<Top*>(ctx);
        if (j < 0 || j >= int32_t(t.seen.size())) return ++t.under, t.best;
        if ((*t.kept)[j]) t.best = std::max(t.best, std::ceil(t.hi[j].z));
        t.under += t.hi[j].z < t.zLimit;
        t.seen[j] = true;
        const double a = std::atan2(t.lo[j].y + t.hi[j].y, t.lo[j].x + t.hi[j].x) - std::atan2(t.s, t.c);
        if (t.c != 1 || t.s != 0) t.off = std::max(t.off, std::fabs(std::remainder(a, 2 * M_PI)));  // turned
        return t.best;
    };
    auto told = [](void* ctx, int32_t j) {  // an element told of lies at or above the floor
        Top& t = *static_cast<Top*>(ctx);
        t.under += std::ceil(t.hi[j].z) < t.best;
    };
    auto still = [](void* ctx, double c, double s) {
        static_cast<Top*>(ctx)->c = c, static_cast<Top*>(ctx)->s = s;
    };
    for (int q = 0; q < 100; ++q) {
        const Vec3 s{uni(-26, 26), uni(-26, 26), uni(-16, 16)}, d = randomDir();
        const double x0 = uni(-30, 10), y0 = uni(-30, 10);
        const MeshLineQuery query{x0, x0 + uni(5, 40), y0,          y0 + uni(5, 40), s,
                                  d,  uni(-10, 30),    uni(0.5, 4), q % 2 == 0,      uni(-16, 16)};
        std::vector<int32_t> list;
        meshIndexQuery(plain, model.m.boxMin, model.m.boxMax, &query, &list);
        std::vector<int32_t> flat;  // a turned index tests every box itself (of exactly n): the same answer
        meshIndexQuery(turned, lo.data() + 1, hi.data() + 1, &query, &flat);
        EXPECT_EQ(flat, list) << q;
        std::vector<bool> kept(n, false);
        double want = -1e9;
        for (int32_t j : list) {
            kept[j] = true;
            want = std::max(want, std::ceil(model.m.boxMax[j].z));
        }
        for (int k = 0; k < 3; ++k) {
            Top t{model.m.boxMax,
                  model.m.boxMin,
                  &kept,
                  -1e9,
                  query.useZLimit ? query.zLimit : -1e9,
                  0,
                  std::vector<bool>(n),
                  1,
                  0};
            t.plan = k == 0 ? &query : nullptr;
            const MeshBoundVisitor v{&t, bound, visit, told, k == 2 ? +still : nullptr};
            meshIndexBestFirst(k == 0 ? plain : turned, lo.data() + 1, hi.data() + 1, &query, &v, -1e9);
            EXPECT_EQ(t.best, want) << q << " " << k;
            EXPECT_TRUE(t.under == 0 && t.off2d == 0) << q << " " << k;
            EXPECT_TRUE(t.c == 1 && t.s == 0) << q << " " << k;
            EXPECT_LE(t.off, M_PI / 12 + 0.005) << q << " " << k;  // a sector's half and the angle's error
            for (int32_t j : list)
                EXPECT_TRUE(t.seen[j] || std::ceil(model.m.boxMax[j].z) < want) << q << " " << j;
        }
    }
    meshIndexFree(plain);
    meshIndexFree(turned);
    // Nothing to index, or no boxes or corners: no index.
    const Vec3* corners = model.m.triangles->data[0].p;
    EXPECT_EQ(meshIndexBuildTurned(0, model.m.boxMin, model.m.boxMax, corners, 12), nullptr);
    EXPECT_EQ(meshIndexBuildTurned(n, nullptr, model.m.boxMax, corners, 12), nullptr);
    EXPECT_EQ(meshIndexBuildTurned(n, model.m.boxMin, nullptr, corners, 12), nullptr);
    EXPECT_EQ(meshIndexBuildTurned(n, model.m.boxMin, model.m.boxMax, nullptr, 12), nullptr);
    for (const int32_t sectors : {0, -3})  // no sector to deal the elements to
        EXPECT_EQ(meshIndexBuildTurned(n, model.m.boxMin, model.m.boxMax, corners, sectors), nullptr);
    EXPECT_TRUE(meshIndexCount(nullptr) == 0 && !meshIndexTurned(nullptr) && !meshIndexTopsDescend(nullptr));
    for (const double second : {0.5, 1.0, 2.0}) {  // tops descend unless the second rises above the first
        const Vec3 lo2[2] = {{0, 0, 0}, {0, 0, 0}}, hi2[2] = {{1, 1, 1}, {1, 1, second}};
        MeshIndex* two = meshIndexBuild(2, lo2, hi2);
        EXPECT_TRUE(two && meshIndexTopsDescend(two) == (second <= 1)) << second;
        meshIndexFree(two);
    }
    // One is enough, also one whose box centre lies on the negative x axis, at the angle's end (pi).
    const Vec3 back[3] = {{-5, -1, 0}, {-3, 1, 0}, {-4, 0, 1}}, backLo{-5, -1, 0}, backHi{-3, 1, 1};
    for (const int32_t sectors : {1, 12, 64}) {
        MeshIndex* one = meshIndexBuildTurned(1, &backLo, &backHi, back, sectors);
        EXPECT_TRUE(meshIndexTurned(one) && meshIndexCount(one) == 1) << sectors;
        meshIndexFree(one);
    }
    // Corners beyond the range of a float leave the turned boxes open on their sides, never shut.
    const Vec3 far[3] = {{-1e39, 0, 0}, {1e39, 0, 0}, {0, 1, 0}}, farLo{-1e39, 0, 0}, farHi{1e39, 1, 0};
    MeshIndex* wide = meshIndexBuildTurned(1, &farLo, &farHi, far, 1);
    ASSERT_NE(wide, nullptr);
    double ends[2] = {0, 0};  // the lowest and highest x of the boxes bounded
    auto extent = [](void* ctx, const Vec3& lo, const Vec3& hi) {
        double* e = static_cast<double*>(ctx);
        e[0] = std::min(e[0], lo.x), e[1] = std::max(e[1], hi.x);
        return 0.0;
    };
    const MeshBoundVisitor open{ends, extent, [](void*, int32_t) { return 0.0; }, nullptr,
                                [](void*, double, double) {}};
    const MeshLineQuery all{-1e300, 1e300, -1e300, 1e300, {0, 0, 10}, {0, 0, -1}, 1e300, -1, false, 0};
    meshIndexBestFirst(wide, &farLo, &farHi, &all, &open, -1e9);
    EXPECT_TRUE(ends[0] == -HUGE_VAL && ends[1] == HUGE_VAL);
    meshIndexFree(wide);
    MeshIndex* flat = meshIndexBuild(1, &backLo, &backHi);  // unturned, half its boxes missing: unvisited
    ends[0] = ends[1] = 0;
    meshIndexBestFirst(flat, &backLo, nullptr, &all, &open, -1e9);
    meshIndexBestFirst(flat, nullptr, &backHi, &all, &open, -1e9);
    EXPECT_TRUE(flat && ends[0] == 0 && ends[1] == 0);
    meshIndexFree(flat);
    for (long k = 1; k == 1 || allocfail::fired(); ++k) {  // memory short at each allocation in turn
        allocfail::arm(k);
        MeshIndex* index = meshIndexBuildTurned(60, model.m.boxMin, model.m.boxMax, corners, 3);
        allocfail::disarm();
        EXPECT_EQ(index == nullptr, allocfail::fired()) << k;
        meshIndexFree(index);
    }
}

// Both trees against their rule, rebuilt: the elements sorted by the Morton code of their box centres (21
// bits an axis over the boxes' extent, x lowest), then by element, eight to a leaf, eight boxes to a node
// up to at most eight at the top (one in a turned sector). A walk keeping everything (its z limit the
// lowest top) bounds each node box once and a leaf's element boxes just before it tells of them: their
// own, or (one sector, whose frame is theirs) their triangles' rounded out to float. Clusters fill runs.
TEST(MeshIndex, TreesAreRunsOfEightInMortonOrder) {
    rngResetState();
    // The first two elements (the highest tops) reach farthest up and to -x: each bounds the extent.
    std::vector<Triangle3D> tris{{{{0, 0, 1e4}, {1, 0, 1e4}, {0, 1, 1e4}}},
                                 {{{-9e3, 0, 9e3}, {-9e3, 1, 9e3}, {-9e3, 0, 0}}}};
    for (int c = 0; tris.size() < 512; ++c) {  // 20 spread wide, few to a run; the rest crowd the middle
        const Vec3 at = randomPoint(c < 20 ? 2000 : 20);
        for (int k = 0, n = 1 + rngBelow(12); k < n; ++k) {
            Triangle3D t{{at, at, at}};
            for (int i = 0; i < 3; ++i)
                t.p[i] = k % 5 == 4 ? tris.back().p[(i + 1) % 3]  // corners turned: the same key
                                    : Vec3{at.x + uni(0, 2), at.y + uni(0, 2), at.z + uni(0, 2)};
            tris.push_back(t);
        }
    }
    tris.resize(512);  // 64 leaves, a level of 8 nodes full to the last: the top
    testmesh::Model model(tris, kBallMill, 1.0);
    const int32_t n = model.tris->count;
    using Box = std::array<double, 6>;
    using Events = std::vector<std::pair<int32_t, Box>>;  // a bound's box (-1), or an element told of
    Events ev;
    const MeshBoundVisitor v{&ev,
                             [](void* ctx, const Vec3& a, const Vec3& b) {
                                 static_cast<Events*>(ctx)->push_back({-1, {a.x, a.y, a.z, b.x, b.y, b.z}});
                                 return 0.0;
                             },
                             [](void*, int32_t) { return -1.0; },
                             [](void* c, int32_t j) {
                                 static_cast<Events*>(c)->push_back({j, {}});
                             },
                             [](void*, double, double) {}};
    MeshLineQuery every{-1e9, 1e9, -1e9, 1e9, {0, 0, 0}, {0, 0, 1}, 1e9, -1, true, model.m.boxMax[n - 1].z};
    double turnedTop = 1e300;  // the lowest top of a turned box
    auto grow = [](Box& b, const Box& e) {
        for (int k = 0; k < 3; ++k) b[k] = std::min(b[k], e[k]), b[k + 3] = std::max(b[k + 3], e[k + 3]);
    };
    for (const int pass : {0, 1, 2}) {
        const bool turned = pass > 0;
        if (pass == 2) every.zLimit = turnedTop;
        MeshIndex* index =
            turned ? meshIndexBuildTurned(n, model.m.boxMin, model.m.boxMax, model.tris->data[0].p, 1)
                   : meshIndexBuild(n, model.m.boxMin, model.m.boxMax);
        ASSERT_NE(index, nullptr);
        ev.clear();
        meshIndexBestFirst(index, model.m.boxMin, model.m.boxMax, &every, &v, -1);
        meshIndexFree(index);
        std::vector<Box> elem(n), nodes, level, want;
        std::set<std::vector<int32_t>> leaves, runs;
        for (size_t i = 0, e = 0; i < ev.size(); i = std::max(i + 1, e)) {
            std::vector<int32_t> ids;  // a leaf's element boxes were bound just before, in this order
            for (e = i; e < ev.size() && ev[e].first >= 0; ++e) ids.push_back(ev[e].first);
            for (size_t k = 0; k < ids.size(); ++k)
                elem.at(ids[k]) = ev[i - ids.size() + k].second, ev[i - ids.size() + k].first = -2;
            if (e > i) leaves.insert(ids);
        }
        for (const auto& [id, b] : ev)
            if (id == -1) nodes.push_back(b);
        Box all = elem[0];
        std::vector<std::pair<uint64_t, int32_t>> keyed;
        for (const Box& b : elem) grow(all, b);
        for (int32_t j = 0; j < n; ++j) {
            uint64_t key = 0;
            for (int k = 0; k < 3; ++k) {
                const double t = (0.5 * (elem[j][k] + elem[j][k + 3]) - all[k]) / (all[k + 3] - all[k]);
                const uint64_t cell = static_cast<uint64_t>(std::clamp(t, 0.0, 1.0) * 2097151.0);
                for (int i = 0; i < 21; ++i) key |= (cell >> i & 1) << (3 * i + k);
            }
            keyed.push_back({key, j});
        }
        std::sort(keyed.begin(), keyed.end());
        for (size_t i = 0; i < keyed.size(); i += 8) {
            std::vector<int32_t> run;
            for (size_t k = i; k < std::min(i + 8, keyed.size()); ++k) run.push_back(keyed[k].second);
            runs.insert(run);
        }
        for (const auto& [key, j] : keyed) level.push_back(elem[j]);  // then each level of nodes above
        do {
            std::vector<Box> up;
            for (size_t i = 0; i < level.size(); ++i) {
                if (i % 8 == 0) up.push_back(level[i]);
                grow(up.back(), level[i]);
            }
            want.insert(want.end(), up.begin(), up.end());
            level = up;
        } while (level.size() > (turned ? 1u : 8u));
        for (const Box& b : elem) turnedTop = turned ? std::min(turnedTop, b[5]) : turnedTop;
        EXPECT_EQ(leaves, runs) << turned;
        std::sort(nodes.begin(), nodes.end());
        std::sort(want.begin(), want.end());
        EXPECT_EQ(nodes, want) << turned;
        for (int32_t j = 0; j < n; ++j) {
            const Vec3 &a = model.m.boxMin[j], &b = model.m.boxMax[j];
            const double own[6] = {a.x, a.y, a.z, b.x, b.y, b.z};
            for (int k = 0; k < 6; ++k) {
                const double out = k < 3 ? own[k] - elem[j][k] : elem[j][k] - own[k];
                EXPECT_TRUE(turned ? out > 0 && out < 3e-7 * std::fabs(own[k]) + 1e-8 : out == 0)
                    << j << " " << k;
            }
        }
    }
}
