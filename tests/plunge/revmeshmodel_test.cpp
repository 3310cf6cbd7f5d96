// Revolved check models: what each operation refuses, the grain of a lift model over its cells against
// the sorted model's triangles, and memory that cannot be had.
#include "plunge/revmeshmodel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "channeltest.h"
#include "memshort.h"

namespace {

struct ModelGuard {
    CheckModel* m;
    explicit ModelGuard(CheckModel* p) : m(p) {}
    ~ModelGuard() { revMeshFree(m); }
};

CheckModel templateModel(double tol) {
    CheckModel t;
    chkModelInit(&t, kMeshTriangles);
    t.tolerance = tol;
    return t;
}

// The sorted model's triangles whose plan boxes meet the open rectangle and are wider and higher
// together than the grain.
int32_t meeting(const CheckModel* sorted, const double plan[4], double grain) {
    int32_t n = 0;
    for (int32_t i = 0; i < sorted->triangles->count; ++i) {
        double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
        for (const Vec3& q : sorted->triangles->data[i].p) {
            lo[0] = std::fmin(lo[0], q.x), hi[0] = std::fmax(hi[0], q.x);
            lo[1] = std::fmin(lo[1], q.y), hi[1] = std::fmax(hi[1], q.y);
        }
        n += hi[0] > plan[0] && lo[0] < plan[1] && hi[1] > plan[2] && lo[1] < plan[3] &&
             (hi[0] - lo[0]) + (hi[1] - lo[1]) > grain;
    }
    return n;
}

}  // namespace

TEST(RevMeshModel, MissingArgumentsAreRefused) {
    CheckModel templ = templateModel(0.1);
    Profile2D* profile = profileOf({{10, 5}, {12, 0}});
    ASSERT_NE(profile, nullptr);
    double plan[4] = {0, 1, 0, 1};
    const Vec3 p{11, 0, 2}, d{0, 0, 1};
    EXPECT_EQ(revMeshBuild(nullptr, profile, 0), nullptr);
    EXPECT_EQ(revMeshBuild(&templ, nullptr, 0), nullptr);
    EXPECT_EQ(revMeshLiftModel(nullptr, profile, plan), nullptr);
    EXPECT_EQ(revMeshLiftModel(&templ, nullptr, plan), nullptr);
    EXPECT_EQ(revMeshLiftRefill(nullptr, profile, plan), -1);
    ModelGuard band(revMeshBuild(&templ, profile, 0));
    ASSERT_NE(band.m, nullptr);
    EXPECT_EQ(revMeshLiftRefill(band.m, nullptr, plan), -1);
    ModelGuard longer(revMeshBuild(&templ, profile, 1.0));  // its one segment extended at both ends
    ASSERT_NE(longer.m, nullptr);
    EXPECT_TRUE(longer.m->kind == kMeshTriangles && longer.m->facets == nullptr && longer.m->facetCount == 0);
    EXPECT_NEAR(longer.m->bounds[2], -5 / std::sqrt(29.0), 1e-12);
    EXPECT_NEAR(longer.m->bounds[5], 5 + 5 / std::sqrt(29.0), 1e-12);
    EXPECT_EQ(revMeshLiftCover(nullptr, profile, plan, &p, &d, 1, 1), -1);
    EXPECT_EQ(revMeshLiftCover(band.m, profile, plan, &p, &d, 1, 1), -1);  // a model without a tool
    EXPECT_EQ(revMeshMerge(nullptr, band.m), nullptr);
    EXPECT_EQ(revMeshMerge(band.m, nullptr), nullptr);
    EXPECT_EQ(revMeshJoin(nullptr, nullptr, 0), nullptr);
    EXPECT_EQ(revMeshJoin(band.m, nullptr, 2), nullptr);
    EXPECT_EQ(revMeshWrite(nullptr, 0.1, "x.3df"), -1);
    // Cells only over a finite, ordered rectangle with a positive size and grain.
    const struct {
        double plan[4], size, grain;
        int32_t nx, ny;
    } rows[] = {{{0, 10, 0, 4}, 1, 1, 11, 5},       {{0, 10, 0, 4}, 0, 1, 0, 0},
                {{0, 10, 0, 4}, 1, 0, 0, 0},        {{0, 10, 0, 4}, NAN, 1, 0, 0},
                {{0, 10, 0, 4}, 1, INFINITY, 0, 0}, {{0, NAN, 0, 4}, 1, 1, 0, 0},
                {{5, 4, 0, 4}, 1, 1, 0, 0},         {{0, 10, 4, 0}, 1, 1, 0, 0},
                {{0, 0, 0, 0}, 1, 1, 1, 1},         {{0, 4096, 0, 1}, 1, 1, 1025, 1}};
    for (const auto& r : rows) {
        LiftCells cells;
        cells.nx = 7;
        ASSERT_TRUE(liftCellsInit(&cells, r.plan, r.size, r.grain));
        EXPECT_EQ(cells.nx, r.nx) << r.plan[1] << " " << r.size << " " << r.grain;
        EXPECT_EQ(cells.ny, r.ny) << r.plan[1] << " " << r.size << " " << r.grain;
        EXPECT_EQ(cells.marked.size(), static_cast<size_t>(r.nx) * r.ny);
        EXPECT_EQ(std::count(cells.marked.begin(), cells.marked.end(), 0), r.nx * r.ny);
    }
    EXPECT_FALSE(liftCellsInit(nullptr, plan, 1, 1));
    LiftCells none;
    allocfail::arm(1);  // no memory for the cells: refused, not taken for a rectangle without cells
    EXPECT_FALSE(liftCellsInit(&none, plan, 1, 1));
    allocfail::disarm();
    freeProfile2D(profile);
}

// Over cells none of which is marked, a lift model holds exactly the sorted model's triangles whose plan
// boxes meet the open rectangle and are wider and higher together than the grain.
TEST(RevMeshModel, UnmarkedCellsKeepOnlyTrianglesCoarserThanTheGrain) {
    CheckModel templ = templateModel(0.05);
    Profile2D* profile = profileOf({{30, 8}, {31, 4}, {34, 2}, {40, 1.5}});
    ASSERT_NE(profile, nullptr);
    ModelGuard sorted(revMeshBuild(&templ, profile, 0.0));
    ASSERT_NE(sorted.m, nullptr);
    const double plan[4] = {-45, 45, 5, 45};
    for (const double grain : {0.3, 1.0, 2.5, 6.0}) {
        LiftCells cells;
        ASSERT_TRUE(liftCellsInit(&cells, plan, 2.0, grain));
        ModelGuard lifts(revMeshLiftModel(&templ, profile, plan, &cells));
        ASSERT_NE(lifts.m, nullptr);
        const int32_t want = meeting(sorted.m, plan, grain);
        EXPECT_EQ(lifts.m->triangles->count, want) << grain;
        EXPECT_GT(want, 0) << grain;
    }
    freeProfile2D(profile);
}

// A sweep whose rectangle (the tool's radius around it) lies within the plan by more than 1e-6 leaves
// the model as it was; otherwise the plan grows by the margin around both and the model holds what meets
// it; a margin that is not finite covers everything. With cells, the cells a cover marked make the same
// sweep covered.
TEST(RevMeshModel, LiftCoverGrowsThePlanAroundTheSweep) {
    CheckModel templ = templateModel(0.05);
    ToolGeom tool{};
    tool.radius = 2;
    templ.tool = &tool;
    Profile2D* profile = profileOf({{30, 8}, {31, 4}, {34, 2}, {40, 1.5}});
    ASSERT_NE(profile, nullptr);
    ModelGuard sorted(revMeshBuild(&templ, profile, 0.0)), whole(revMeshLiftModel(&templ, profile, nullptr));
    ASSERT_TRUE(sorted.m && whole.m);
    EXPECT_EQ(whole.m->triangles->count, sorted.m->triangles->count);  // without a plan: every triangle
    // Bands of equal tops keep the profile's order: the one within r 20 comes first.
    Profile2D* ledge = profileOf({{10, 5}, {20, 5}, {30, 0}});
    ModelGuard ties(ledge ? revMeshLiftModel(&templ, ledge, nullptr) : nullptr);
    freeProfile2D(ledge);
    ASSERT_TRUE(ties.m && ties.m->triangles->count > 0);
    for (const Vec3& q : ties.m->triangles->data[0].p) EXPECT_LE(std::hypot(q.x, q.y), 20 + 1e-9);
    const double e = 1e-6, all[4] = {-HUGE_VAL, HUGE_VAL, -HUGE_VAL, HUGE_VAL};
    const struct {
        Vec3 p, d;
        double length, margin, want[4];
    } rows[] = {{{35, 5, 0}, {1, 0, 0}, 1, 1, {30, 40, 0, 10}},
                {{38 - 2 * e, 8 - 2 * e, 0}, {0, 0, 1}, 1, 1, {30, 40, 0, 10}},
                {{32 + 2 * e, 2 + 2 * e, 0}, {0, 0, 1}, 1, 1, {30, 40, 0, 10}},
                {{38 - e / 2, 5, 0}, {0, 0, 1}, 1, 1, {29, 41, -1, 11}},
                {{35, 2 + e / 2, 0}, {0, 0, 1}, 1, 1, {29, 41, -1, 11}},
                {{42, 5, 3}, {1, 0, 0}, 4, 1, {29, 45, -1, 11}},
                {{27, -4, 0}, {0, -1, 0.5}, 2, 0.5, {24.5, 40.5, -6.5, 10.5}},
                {{35, 5, 0}, {1, 0, 0}, 20, NAN, {all[0], all[1], all[2], all[3]}}};
    for (const auto& r : rows) {
        double plan[4] = {30, 40, 0, 10};
        ModelGuard lifts(revMeshLiftModel(&templ, profile, plan));
        ASSERT_NE(lifts.m, nullptr);
        lifts.m->triangles->xmin = 1234;  // a refill sets the whole sweep's bounds again
        ASSERT_EQ(revMeshLiftCover(lifts.m, profile, plan, &r.p, &r.d, r.length, r.margin), 1);
        for (int k = 0; k < 4; ++k) EXPECT_EQ(plan[k], r.want[k]) << r.p.x << " " << k;
        const bool kept = r.want[1] == 40;
        EXPECT_EQ(lifts.m->triangles->xmin == 1234, kept) << r.p.x;
        EXPECT_EQ(lifts.m->triangles->count, meeting(sorted.m, plan, -1)) << r.p.x;
    }
    // Fine cells, and cells of one column (tall in y) whose far row the sweeps never mark themselves.
    const struct {
        double size, height, corner[4];
    } grids[] = {{0.5, 10, {30, 30.2, 0, 0.2}}, {20, 100, {30, 30.2, 80, 80.2}}};
    for (const auto& g : grids) {
        double plan[4] = {30, 40, 0, g.height};
        LiftCells cells;
        ASSERT_TRUE(liftCellsInit(&cells, plan, g.size, 0.3));
        ModelGuard lifts(revMeshLiftModel(&templ, profile, plan, &cells));
        ASSERT_NE(lifts.m, nullptr);
        const Vec3 p{36, 6, 0}, d{0.6, 0.8, 0};
        for (int pass = 0; pass < 2; ++pass) {
            lifts.m->triangles->xmin = 1234;
            ASSERT_EQ(revMeshLiftCover(lifts.m, profile, plan, &p, &d, 3, 0.5, &cells), 1);
            EXPECT_EQ(lifts.m->triangles->xmin == 1234, pass == 1);
        }
        // A sweep beyond the plan grows it: the cells laid over the grown plan keep each cell marked before.
        liftCellsMark(&cells, g.corner, nullptr, 0.0);
        std::vector<Vec2> was;  // the marked cells' centres
        for (int32_t k = 0; k < cells.nx * cells.ny; ++k)
            if (cells.marked[k])
                was.push_back({cells.x0 + (k % cells.nx + 0.5) * cells.size,
                               cells.y0 + (k / cells.nx + 0.5) * cells.size});
        const Vec3 far{42, 5, 0}, along{1, 0, 0};
        ASSERT_EQ(revMeshLiftCover(lifts.m, profile, plan, &far, &along, 4, 0.5, &cells), 1);
        ASSERT_TRUE(!was.empty() && plan[1] > 44);
        EXPECT_EQ(cells.nx == 1, g.size > 15) << g.size;
        for (const Vec2& c : was) {
            const int32_t i = int32_t((c.x - cells.x0) / cells.size),
                          j = int32_t((c.y - cells.y0) / cells.size);
            ASSERT_TRUE(i >= 0 && i < cells.nx && j >= 0 && j < cells.ny) << c.x << " " << c.y;
            EXPECT_EQ(cells.marked[size_t(j) * size_t(cells.nx) + size_t(i)], 1) << c.x << " " << c.y;
        }
    }
    freeProfile2D(profile);
}

namespace {

void putModel(std::vector<double>& v, const CheckModel* m) {
    const TriList* t = m->triangles;
    v.push_back(t->count);
    v.insert(v.end(), m->bounds, m->bounds + 6);
    for (int32_t i = 0; i < t->count; i += 7)
        for (const Vec3& q : t->data[i].p) v.insert(v.end(), {q.x, q.y, q.z});
}

AllocMade revolvedModels() {
    std::vector<double> v;
    v.reserve(8192);
    CheckModel templ = templateModel(1.0);
    Profile2D* profile = profileOf({{10, 5}, {12, 2}, {16, 1}});
    if (profile == nullptr) return std::nullopt;
    const double plan[4] = {-5, 20, -3, 20}, rect[4] = {0, 8, 0, 8}, line[4] = {0, 0, 1, 1};
    LiftCells cells;
    bool ok = liftCellsInit(&cells, plan, 1.0, 0.5);
    if (ok) liftCellsMark(&cells, rect, line, 2.0);
    ModelGuard band(ok ? revMeshBuild(&templ, profile, 1.0) : nullptr),
        lifts(band.m ? revMeshLiftModel(&templ, profile, plan, &cells) : nullptr),
        merged(lifts.m ? revMeshMerge(band.m, lifts.m) : nullptr);
    ok = merged.m != nullptr;
    if (ok)
        for (const CheckModel* m : {band.m, lifts.m, merged.m}) putModel(v, m);
    freeProfile2D(profile);
    return ok ? AllocMade(v) : std::nullopt;
}

}  // namespace

TEST(RevMeshModel, EveryFailedAllocationIsRefusedOrChangesNothing) {
    failEachAllocation("revolved models", revolvedModels);
}
