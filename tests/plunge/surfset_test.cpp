// The run's part geometry: blade and splitter meshes of the example impeller through the temporary
// folder, the part model, the loaders' refusals, and revolved meshes as check models.
#include "plunge/surfset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "channeltest.h"
#include "collision/polymesh.h"
#include "kernel/base/rng.h"
#include "memshort.h"
#include "openfiles.h"
#include "plunge/partload.h"
#include "plunge/plungerun.h"
#include "plunge/revmeshmodel.h"
#include "surfaces/Implib/meshlib.h"
#include "surfaces/geofiletest.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/trisort.h"

namespace {

// The cycle's tool context without a mesh of its own.
CheckModel toolContext() {
    CheckModel m;
    chkModelInit(&m, kMeshFacets);
    return m;
}

// The tool context of a ball mill: the lift models answer the sweeps of a ball.
struct BallContext {
    ToolGeom ball{};
    CheckModel templ = toolContext();
    BallContext() { ball.toolType = kBallMill, templ.tool = &ball; }
    BallContext(const BallContext&) = delete;
};

}  // namespace

TEST(SurfaceSet, ExampleImpellerSlotsFilesGridsAndPartModel) {
    const double pitch = 2 * M_PI / 8;
    CheckModel ctx = toolContext();
    for (const bool splitter : {false, true}) {
        TempDir tmp;
        CycleParams* p = exampleParams(tmp.path, splitter);
        p->meshKvx = splitter;  // the exchange copies only when asked for
        SurfaceSet* set = idx5CreateSurfaceSet(&ctx, pitch);
        ASSERT_NE(set, nullptr);
        for (const char* name : {"bld.3df", "bld1.3df", "spl.3df", "spl1.3df", "spl.kvx"})
            EXPECT_EQ(std::filesystem::exists(tmp.file(name)), splitter || name[0] == 'b') << name;
        EXPECT_EQ(std::string(p->bladeKvx2), splitter ? tmp.file("bld.kvx") : "");
        for (int k = 0; k < kSurfSetSlots; ++k)
            ASSERT_EQ(set->slot[k] != nullptr, splitter || (k != 1 && k != 4));
        // Slots 2 and 6 hold slot 0's triangles turned by plus and minus the pitch, corners with them.
        const TriList* base = set->slot[0]->triangles;
        for (const auto& [k, a] : {std::pair{2, pitch}, std::pair{6, -pitch}}) {
            const CheckModel* m = set->slot[k];
            ASSERT_EQ(m->triangles->count, base->count);
            for (int32_t i = 0; i < base->count; ++i)
                for (int j = 0; j < 3; ++j) {
                    const Vec3 q = base->data[i].p[j], r = m->triangles->data[i].p[j];
                    ASSERT_NEAR(r.x, q.x * std::cos(a) - q.y * std::sin(a), 1e-9);
                    ASSERT_NEAR(r.y, q.x * std::sin(a) + q.y * std::cos(a), 1e-9);
                    ASSERT_EQ(r.z, q.z);
                    ASSERT_TRUE(m->boxMin[i].x <= r.x && r.y <= m->boxMax[i].y);
                }
        }
        // The second conversions give the same files: slots 3, 4 and 5 hold slots 0, 1 and 2's triangles.
        for (const auto& [k, from] : {std::pair{3, 0}, std::pair{4, 1}, std::pair{5, 2}}) {
            if (!set->slot[k]) continue;
            const TriList *a = set->slot[k]->triangles, *b = set->slot[from]->triangles;
            ASSERT_EQ(a->count, b->count);
            EXPECT_EQ(std::memcmp(a->data, b->data, sizeof(Triangle3D) * a->count), 0) << k;
        }
        allocfail::arm(1);  // the grids' own record
        EXPECT_EQ(buildSurfaceSetGrids(set, 2.5), nullptr);
        allocfail::disarm();
        SurfaceGrids* grids = buildSurfaceSetGrids(set, 2.5);
        ASSERT_NE(grids, nullptr);
        EXPECT_EQ(grids->count, splitter ? 3 : 2);
        // Grids over slots 0, 2 and 1 about the part's axis: each triangle's farthest plan distance is
        // that of its farthest corner from the axis.
        const int order[] = {0, 2, 1};
        for (int g = 0; g < grids->count; ++g) {
            const TriList* t = set->slot[order[g]]->triangles;
            ASSERT_NE(grids->grid[g], nullptr);
            for (int32_t i = 0; i < t->count; i += 7) {
                double far = 0;
                for (const Vec3& c : t->data[i].p) far = std::max(far, std::hypot(c.x, c.y));
                EXPECT_NEAR(grids->grid[g]->ranges[i].radiusMax, far, 1e-9) << g << " " << i;
            }
        }
        freeSurfaceSetGrids(grids);
        CheckModel* part = idx5BuildPartModel(&ctx, set);
        ASSERT_NE(part, nullptr);
        int32_t total = 0;
        for (int k : {0, 1, 2, 6}) total += set->slot[k] ? set->slot[k]->triangles->count : 0;
        ASSERT_EQ(part->triangles->count, total);
        EXPECT_NE(part->index, nullptr);  // every departure and link sweeps the whole part through it
        revMeshFree(part);
        // Without plan grids the slots hold the very same meshes, and no grid.
        surfSetPlanGrids(0);
        SurfaceSet* bare = idx5CreateSurfaceSet(&ctx, pitch);
        surfSetPlanGrids(1);
        ASSERT_NE(bare, nullptr);
        for (int k = 0; k < kSurfSetSlots; ++k) {
            if (!set->slot[k]) continue;
            const TriList *a = set->slot[k]->triangles, *b = bare->slot[k]->triangles;
            ASSERT_EQ(a->count, b->count);
            EXPECT_EQ(std::memcmp(a->data, b->data, sizeof(Triangle3D) * a->count), 0) << k;
            EXPECT_NE(set->slot[k]->grid, nullptr);
            EXPECT_EQ(bare->slot[k]->grid, nullptr);
        }
        freeSurfaceSet(bare);
        freeSurfaceSet(set);
    }
}

// Every missing selection ends in its one numbered message (beside the reader's traces) and a clean
// failure.
// A turned mesh, of triangles or of facets, has every point turned about the z axis and its plan
// bounds those of the turned points.
TEST(SurfaceSet, TurnedMeshesTurnEveryPointAndTheirPlanBounds) {
    const Vec3 pts[2][3] = {{{10, 0, 1}, {12, 1, 2}, {11, -2, 3}}, {{-5, 4, 0}, {-6, 5, 1}, {-4, 6, 2}}};
    const double angle = 0.7, c = std::cos(angle), s = std::sin(angle);
    double lo[2] = {INFINITY, INFINITY}, hi[2] = {-INFINITY, -INFINITY};
    Vec3 want[2][3];
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 3; ++j) {
            const Vec3& p = pts[i][j];
            want[i][j] = {p.x * c - p.y * s, p.x * s + p.y * c, p.z};
            lo[0] = std::min(lo[0], want[i][j].x), hi[0] = std::max(hi[0], want[i][j].x);
            lo[1] = std::min(lo[1], want[i][j].y), hi[1] = std::max(hi[1], want[i][j].y);
        }
    for (const int kind : {kMeshTriangles, kMeshFacets}) {
        SCOPED_TRACE(kind);
        CheckModel m;
        chkModelInit(&m, kind);
        std::vector<Facet98> facets;
        if (kind == kMeshTriangles) m.triangles = triListCreate(2);
        for (const auto& t : pts) {
            const Triangle3D tri{{t[0], t[1], t[2]}};
            if (kind == kMeshTriangles) triListAdd(m.triangles, &tri);
            facets.push_back({0, {t[0], t[1], t[2], t[2]}});
        }
        if (kind == kMeshFacets) m.facets = facets.data(), m.facetCount = 2;
        rotateMeshAboutAxis(&m, angle);
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 3; ++j) {
                const Vec3 got = kind == kMeshTriangles ? m.triangles->data[i].p[j] : Vec3(m.facets[i].p[j]);
                EXPECT_NEAR(dist3D(&got, &want[i][j]), 0, 1e-12) << i << j;
            }
        EXPECT_NEAR(m.bounds[0], lo[0], 1e-12);
        EXPECT_NEAR(m.bounds[1], lo[1], 1e-12);
        EXPECT_NEAR(m.bounds[3], hi[0], 1e-12);
        EXPECT_NEAR(m.bounds[4], hi[1], 1e-12);
        if (kind == kMeshTriangles) {
            const TriList* t = m.triangles;
            EXPECT_NEAR(t->xmin, lo[0], 1e-12);
            EXPECT_NEAR(t->ymin, lo[1], 1e-12);
            EXPECT_NEAR(t->xmax, hi[0], 1e-12);
            EXPECT_NEAR(t->ymax, hi[1], 1e-12);
            triListFree(m.triangles);
        }
    }
    // A mesh left without triangles has the plan bounds of a new list.
    CheckModel none;
    chkModelInit(&none, kMeshTriangles);
    TriList *t = triListCreate(1), *fresh = triListCreate(1);
    t->xmin = t->ymin = t->xmax = t->ymax = 0, none.triangles = t;
    rotateMeshAboutAxis(&none, angle);
    EXPECT_EQ(std::vector<double>({t->xmin, t->ymin, t->xmax, t->ymax}),
              std::vector<double>({fresh->xmin, fresh->ymin, fresh->xmax, fresh->ymax}));
    triListFree(t), triListFree(fresh);
}

// A run keeps each conversion as a file held in memory; its clean-up lets every one of them go.
TEST(SurfaceSet, RunCleanUpReleasesTheConversionsItKept) {
    TempDir tmp;
    exampleParams(tmp.path, false);
    const long before = openFileCount();
    meshLibKeepConversions(1);
    char out[kCycleTextMax + 1];
    ASSERT_EQ(tmpFilePath("bld.3df", out), 1);
    ASSERT_GE(loadMeshHelperLib(cycleParams()->hubKvx, out, dllDirParam(), 0.01), 0);
    EXPECT_EQ(openFileCount(), before + 1);
    freeCycleData(nullptr);
    EXPECT_EQ(openFileCount(), before);
    meshLibKeepConversions(0);
}

TEST(SurfaceSet, MissingSelectionsAndLongNamesAreReported) {
    CheckModel ctx = toolContext();
    TempDir tmp;
    meshLibKeepConversions(1);  // each selection converted once for all cases, no grids built
    surfSetPlanGrids(0);
    const std::string none = tmp.file("none.kvx");
    const auto set = [&] { return idx5CreateSurfaceSet(&ctx, 0.5) != nullptr; };
    const auto hub = [] { return loadHubShroud(0.5) != nullptr; };
    const auto block = [&](const char* name, const char* free) {
        for (const char* f : {free, name}) std::filesystem::remove(tmp.file(f));
        std::filesystem::create_directory(tmp.file(name));
    };
    const struct {
        std::function<void(CycleParams*)> change;
        std::function<bool()> load;
        int message;
        bool once = false;  // loads whole meshes: at the highest class only
    } cases[] = {
        {[&](CycleParams* p) { setText(p->hubKvx, none); }, hub, 6204},
        {[&](CycleParams* p) { setText(p->shroudKvx, none); }, hub, 6205},
        {[](CycleParams* p) { p->hubKvx[0] = '\0'; }, hub, 6204},  // a run without them says so too
        {[](CycleParams* p) { p->shroudKvx[0] = '\0'; }, hub, 6205},
        {[&](CycleParams* p) { setText(p->bladeKvx, none); }, [] { return loadBladeContours(nullptr, 0.5); },
         6503},
        {[&](CycleParams* p) { setText(p->bladeKvx, none); }, set, 6504},
        {[](CycleParams* p) { setText(p->splitKvx, "x"); }, set, 6505},  // a name of one letter is a name
        // A folder in the way of a second conversion: neither a copy nor a conversion can write it.
        {[&](CycleParams*) { block("bld1.3df", "spl1.3df"); }, set, 6504, true},
        {[&](CycleParams*) { block("spl1.3df", "bld1.3df"); }, set, 6505, true},
        // ... nor the exchange copy, where it is asked for.
        {[&](CycleParams* p) { p->meshKvx = 1, block("bld.kvx", "spl1.3df"); }, set, 6504},
        {[](CycleParams*) { polymeshSetGroupHook([](const PolymeshGroup*) { return -1; }); }, set, 6023},
        {[](CycleParams* p) { setText(p->tmpDir, std::string(250, 'd')); }, set, 5191},
        {[](CycleParams*) { allocfail::arm(1); }, set, kMsgOutOfMemory},  // the set's own record
    };
    // Every one is an error-class note: below the highest class (9) none reaches the host.
    for (int level : {9, 8})
        for (const auto& c : cases) {
            if (level < 9 && c.once) continue;
            MessageLog log;
            setMessageLevel(nullptr, level);
            c.change(exampleParams(tmp.path, true));
            EXPECT_FALSE(c.load());
            allocfail::disarm();
            polymeshResetState();
            const size_t sent = level == 9 ? 1u : 0u;
            EXPECT_EQ(sentNumbers().size() - log.count(kMsgPrintfNumber), sent) << c.message << " " << level;
            EXPECT_EQ(log.count(c.message), int(sent)) << c.message << " " << level;
        }
    // Short of memory up to the first slot's record (after the set's own): no set, and no more than the
    // one note.
    static long reading = 0;
    exampleParams(tmp.path, true);
    polymeshSetGroupHook(
        [](const PolymeshGroup*) { return reading = reading ? reading : allocfail::count(), -1; });
    allocfail::arm(0);
    EXPECT_FALSE(set());
    for (long n = 2; n < reading; ++n) {
#if defined(__SANITIZE_ADDRESS__)
        __lsan::ScopedDisabler unchecked;  // what a throw left held is not looked for
#endif
        MessageLog log;
        allocfail::arm(n);
        bool made = false;
        try {
            made = set();
        } catch (const std::bad_alloc&) {
        }
        allocfail::disarm();
        EXPECT_FALSE(made) << n;
        EXPECT_LE(sentNumbers().size() - log.count(kMsgPrintfNumber), 1u) << n;  // the shortage alone
        if (log.count(kMsgOutOfMemory)) break;  // the slot's record: what the reader leaves is not checked
    }
    polymeshResetState();
    meshLibKeepConversions(0);
    surfSetPlanGrids(1);
    exampleParams(tmp.path, true);
    EXPECT_EQ(idx5LoadBladeSurfaces(nullptr, &ctx, 0.5), -1);  // files to load, but no set to load into
}

// A band extended at both ends, merged with itself (nothing dropped), and written with the hub.
TEST(RevMeshModel, BuildMergeAndWriteKeepEveryTriangle) {
    TempDir tmp;
    exampleParams(tmp.path, false);
    CheckModel templ = toolContext();
    templ.tolerance = 0.01;
    Profile2D* profile = profileOf({{10, 5}, {10, 0}});
    ASSERT_NE(profile, nullptr);
    CheckModel* band = revMeshBuild(&templ, profile, 1.0);
    ASSERT_NE(band, nullptr);
    ASSERT_EQ(band->triangles->count, 3 * 142);
    CheckModel* merged = revMeshMerge(band, band);
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->triangles->count, 2 * band->triangles->count);
    const std::string file = tmp.file("check.3df");
    // Short of memory for the hub's mesh: -1; for the merge: no model or the whole one, nothing thrown.
    allocfail::arm(0);
    freeHubShroud(loadHubShroud(band->stepLength));
    allocfail::arm(allocfail::count() + 1);
    EXPECT_EQ(revMeshWrite(band, 0.05, file.c_str()), -1);
    for (long n = 1;; ++n) {
        allocfail::arm(n);
        CheckModel* m = revMeshMerge(band, band);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        EXPECT_TRUE(m ? m->triangles->count == 2 * band->triangles->count : fired) << n;
        revMeshFree(m);
        if (!fired) break;
    }
    ASSERT_EQ(revMeshWrite(band, 0.05, file.c_str()), 1);
    FacetList* facets = nullptr;
    EXPECT_GT(facetFileLoad(file.c_str(), &facets), band->triangles->count + 100);
    facetListFree(facets);
    for (CheckModel* m : {band, merged}) revMeshFree(m);
    freeProfile2D(profile);
}

// A lift model grown from a small plan rectangle, covered before every sweep, against revMeshBuild's
// model over seeded profiles with many bands of equal tops: the same lift of every drop and departure
// of a ball; after a sweep along a direction that is not finite, the same triangles with tops never
// rising; and a merge with it holds the joined list as the heap sort leaves it, ties included.
TEST(RevMeshModel, CoveredLiftModelAnswersAsTheSortedModel) {
    rngResetState();
    BallContext context;
    CheckModel& templ = context.templ;
    ToolGeom& ball = context.ball;
    int hits = 0, widened = 0;
    for (int k = 0; k < 3; ++k) {
        std::vector<Vec2> pts;
        for (int i = 0; i < 12; ++i)
            pts.push_back({30 + 10 * rngUniform(), i % 3 == 0 ? 4.0 : std::floor(8 * rngUniform())});
        Profile2D* profile = profileOf(pts);
        ASSERT_NE(profile, nullptr);
        templ.tolerance = 0.05 + 0.1 * k;
        ball.radius = ball.size2 = 1 + k;
        double plan[4] = {30, 35, -2, 2};
        CheckModel* sorted = revMeshBuild(&templ, profile, 0.0);
        CheckModel* lifts = revMeshLiftModel(&templ, profile, plan);
        ASSERT_NE(sorted, nullptr);
        ASSERT_NE(lifts, nullptr);
        for (int q = 0; q < 300; ++q) {
            const double ang = 0.02 * q * rngUniform(), r = 25 + 20 * rngUniform();
            const Vec3 p{r * std::cos(ang), r * std::sin(ang), 12 * rngUniform() - 2};
            Vec3 d{0.6 * rngUniform() - 0.3, 0.6 * rngUniform() - 0.3, q % 2 ? -1.0 : 1.0};
            if (q == 299) d.x = NAN;
            const double l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            d = {d.x / l, d.y / l, d.z / l};
            const int32_t before = lifts->triangles->count;
            ASSERT_EQ(revMeshLiftCover(lifts, profile, plan, &p, &d, 20, 1.0), 1);
            widened += lifts->triangles->count > before;
            double h[2] = {-1, -1};
            Vec3 c;
            const int f = chkModelPath(sorted, nullptr, 0, &p, &d, 20, &h[0], &c);
            ASSERT_EQ(chkModelPath(lifts, nullptr, 0, &p, &d, 20, &h[1], &c), f) << k << " " << q;
            EXPECT_EQ(h[0], h[1]) << k << " " << q;
            hits += f;
        }
        const TriList* a = sorted->triangles;
        const TriList* b = lifts->triangles;
        ASSERT_EQ(a->count, b->count);
        EXPECT_EQ(std::memcmp(lifts->bounds, sorted->bounds, sizeof sorted->bounds), 0);
        auto bytes = [](const TriList* t) {
            std::vector<std::string> v;
            for (int32_t i = 0; i < t->count; ++i)
                v.emplace_back(reinterpret_cast<const char*>(&t->data[i]), 72);
            std::sort(v.begin(), v.end());
            return v;
        };
        EXPECT_TRUE(bytes(a) == bytes(b));
        for (int32_t i = 1; i < b->count; ++i) ASSERT_LE(triMaxZ(&b->data[i]), triMaxZ(&b->data[i - 1]));
        CheckModel* merged = revMeshMerge(lifts, sorted);
        TriList* joined = triListCreate(2 * a->count);
        ASSERT_NE(merged, nullptr);
        ASSERT_NE(joined, nullptr);
        for (const TriList* t : {b, a})
            for (int32_t i = 0; i < t->count; ++i) triListAdd(joined, &t->data[i]);
        meshHeapSort(joined->data, joined->count, triCompareTopZ);
        ASSERT_EQ(merged->triangles->count, joined->count);
        EXPECT_EQ(std::memcmp(merged->triangles->data, joined->data, sizeof(Triangle3D) * joined->count), 0);
        triListFree(joined);
        for (CheckModel* m : {merged, sorted, lifts}) revMeshFree(m);
        freeProfile2D(profile);
    }
    EXPECT_GT(hits, 300);
    EXPECT_GT(widened, 15);
}

// A lift model over plan cells marked along a few lines, covered before every sweep (along a marked line
// or anywhere, nearly vertical too), against revMeshBuild's model over seeded profiles, cell sizes and
// Marking cells by brute force: a cell some point of which lies within the radius of the line is
// marked, one whose every point keeps a half diagonal beyond it is not; without a finite line every cell
// the rectangle meets is, and none it misses.
TEST(RevMeshModel, MarkedCellsAreThoseNearTheLineWithinTheRectangle) {
    const double plan[4] = {0, 10, 0, 10}, rect[4] = {2.5, 8.5, 0.5, 9.5}, radius = 1.2;
    const double lines[][4] = {{5, 5, 0.6, 0.8}, {5, 5, 0.6, NAN}, {NAN, 5, 1, 0}};
    for (int k = 0; k <= 3; ++k) {
        SCOPED_TRACE(k);
        LiftCells cells;
        ASSERT_TRUE(liftCellsInit(&cells, plan, 1.0, 1.0));
        const double* line = k < 3 ? lines[k] : nullptr;
        liftCellsMark(&cells, rect, line, radius);
        for (int32_t j = 0; j < cells.ny; ++j)
            for (int32_t i = 0; i < cells.nx; ++i) {
                const double x = cells.x0 + i * cells.size, y = cells.y0 + j * cells.size;
                const bool meets =
                    x <= rect[1] && x + cells.size >= rect[0] && y <= rect[3] && y + cells.size >= rect[2];
                const bool mark = cells.marked[size_t(j) * cells.nx + i] != 0;
                if (!meets || k > 0) {
                    EXPECT_EQ(mark, meets) << i << " " << j;
                    continue;
                }
                // Distances of the cell's points to the line: nearest and of the centre, sampled finely.
                double nearest = INFINITY;
                for (int u = 0; u <= 20; ++u)
                    for (int v = 0; v <= 20; ++v) {
                        const double px = x + u * cells.size / 20 - 5, py = y + v * cells.size / 20 - 5;
                        nearest = std::min(nearest, std::fabs(px * 0.8 - py * 0.6));
                    }
                const double cx = x + 0.5 * cells.size - 5, cy = y + 0.5 * cells.size - 5;
                EXPECT_TRUE(mark || nearest >= radius - 1e-9) << i << " " << j;
                EXPECT_TRUE(!mark || std::fabs(cx * 0.8 - cy * 0.6) <= radius + 0.75 * cells.size)
                    << i << " " << j;
            }
    }
}

// Cells cover the rectangle with whole cells of the size asked (coarser only past 1024 a side), none
// marked; a size or grain that is zero, negative or not finite, or a rectangle that is not, gives none.
TEST(RevMeshModel, CellsCoverTheRectangleOrAreNone) {
    const struct {
        double plan[4], size, grain;
        bool cells;
    } cases[] = {
        {{0, 10, 0, 4}, 1, 1, true},         {{0, 10, 0, 4}, 0.75, 0.1, true}, {{-3, 2, 5, 5}, 0.5, 2, true},
        {{0, 2048, 0, 1}, 0.5, 1, true},     {{0, 10, 0, 4}, 0, 1, false},     {{0, 10, 0, 4}, -1, 1, false},
        {{0, 10, 0, 4}, INFINITY, 1, false}, {{0, 10, 0, 4}, NAN, 1, false},   {{0, 10, 0, 4}, 1, 0, false},
        {{0, 10, 0, 4}, 1, INFINITY, false}, {{0, 10, 0, 4}, 1, NAN, false},   {{0, NAN, 0, 4}, 1, 1, false},
        {{0, 10, 4, 0}, 1, 1, false},        {{5, 0, 0, 4}, 1, 1, false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.plan[1] << " " << c.size << " " << c.grain);
        LiftCells cells;
        cells.nx = 7;
        ASSERT_TRUE(liftCellsInit(&cells, c.plan, c.size, c.grain));
        if (!c.cells) {
            EXPECT_EQ(cells.nx, 0);
            EXPECT_TRUE(cells.marked.empty());
            continue;
        }
        const double w = c.plan[1] - c.plan[0], h = c.plan[3] - c.plan[2];
        EXPECT_EQ(cells.x0, c.plan[0]);
        EXPECT_EQ(cells.y0, c.plan[2]);
        EXPECT_EQ(cells.size, std::max(c.size, w / 1024));
        EXPECT_EQ(cells.grain, c.grain);
        EXPECT_LE(cells.nx, 1025);
        // Whole cells reach past the far edge, one cell fewer would not.
        EXPECT_GT(cells.nx * cells.size, w);
        EXPECT_LE((cells.nx - 1) * cells.size, w);
        EXPECT_GT(cells.ny * cells.size, h);
        EXPECT_LE((cells.ny - 1) * cells.size, h);
        EXPECT_EQ(cells.marked, std::vector<uint8_t>(size_t(cells.nx) * cells.ny, 0));
    }
}

// grains: the same lift of every sweep of a ball, whether the cells covered it or were widened first.
TEST(RevMeshModel, LiftModelOverCellsAnswersAsTheSortedModel) {
    rngResetState();
    BallContext context;
    CheckModel& templ = context.templ;
    ToolGeom& ball = context.ball;
    const double sizes[][2] = {{0.5, 2}, {1, 3}, {2, 8}, {3, 0.2}};
    int hits = 0, covered = 0, widened = 0, thinner = 0;
    for (int k = 0; k < 4; ++k) {
        std::vector<Vec2> pts;
        for (int i = 0; i < 30; ++i)
            pts.push_back({20 + 0.7 * i + 0.3 * rngUniform(), std::floor(6 * rngUniform())});
        Profile2D* profile = profileOf(pts);
        ASSERT_NE(profile, nullptr);
        templ.tolerance = 0.004 + 0.004 * k;
        ball.radius = ball.size2 = 1 + 0.5 * k;
        double plan[4] = {-45, 45, -45, 45};
        LiftCells cells;
        ASSERT_TRUE(liftCellsInit(&cells, plan, sizes[k][0], sizes[k][1]));
        double lines[3][4];
        for (auto& l : lines) {
            const double a = 2 * M_PI * rngUniform(), b = 2 * M_PI * rngUniform();
            l[0] = 30 * std::cos(a), l[1] = 30 * std::sin(a), l[2] = std::cos(b), l[3] = std::sin(b);
            liftCellsMark(&cells, plan, l, 2.0);
        }
        CheckModel* sorted = revMeshBuild(&templ, profile, 0.0);
        CheckModel* lifts = revMeshLiftModel(&templ, profile, plan, &cells);
        ASSERT_NE(sorted, nullptr);
        ASSERT_NE(lifts, nullptr);
        thinner += lifts->triangles->count < sorted->triangles->count;
        for (int q = 0; q < 120; ++q) {
            const double* l = lines[q % 3];
            const double t = 40 * rngUniform() - 20, tilt = q % 5 == 0 ? 0.0 : 0.8 * rngUniform();
            const double o = 6 * rngUniform() - 3;  // across the line, to the marked cells' edge
            Vec3 p{l[0] + t * l[2] - o * l[3], l[1] + t * l[3] + o * l[2], 8 * rngUniform() - 1};
            Vec3 d{tilt * l[2], tilt * l[3], q % 2 ? -1.0 : 1.0};
            if (q % 8 == 7) {
                const double ang = 2 * M_PI * rngUniform(), r = 15 + 30 * rngUniform();
                p = {r * std::cos(ang), r * std::sin(ang), p.z};
                d = {0.6 * rngUniform() - 0.3, 0.6 * rngUniform() - 0.3, d.z};
            }
            const double n = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            d = {d.x / n, d.y / n, d.z / n};
            const int32_t before = lifts->triangles->count;
            ASSERT_EQ(revMeshLiftCover(lifts, profile, plan, &p, &d, 12, 0.0, &cells), 1);
            (lifts->triangles->count > before ? widened : covered) += 1;
            double h[2] = {-1, -1};
            Vec3 c;
            const int f = chkModelPath(sorted, nullptr, 0, &p, &d, 12, &h[0], &c);
            ASSERT_EQ(chkModelPath(lifts, nullptr, 0, &p, &d, 12, &h[1], &c), f) << k << " " << q;
            EXPECT_EQ(h[0], h[1]) << k << " " << q;
            hits += f;
        }
        for (CheckModel* m : {sorted, lifts}) revMeshFree(m);
        freeProfile2D(profile);
    }
    EXPECT_GT(hits, 200);
    EXPECT_GT(covered, 200);
    EXPECT_GT(widened, 10);
    EXPECT_GE(thinner, 2);  // the finer grains leave out what lies off the cells
}

// A join of facet meshes (quads give two triangles, triangle facets one) with triangle meshes and an
// absent model: the joined list is the models' triangles in element order as the plain heap sort
// leaves them (tops drawn from few values, so ties abound), each element box that of its triangle.
TEST(RevMeshModel, JoinOfFacetAndTriangleMeshesIsTheHeapSortedList) {
    rngResetState();
    for (int k = 0; k < 6; ++k) {
        auto point = [] { return Vec3{rngUniform(), rngUniform(), double(rngBelow(4))}; };
        CheckModel facets = toolContext(), tris = toolContext();
        std::vector<Facet98> quads(1 + rngBelow(300));
        for (Facet98& f : quads) {
            f.flag = 0;
            for (int c = 0; c < 4; ++c) f.p[c] = point();
            if (rngBelow(3) == 0) f.p[3] = f.p[2];
        }
        facets.facets = quads.data();
        facets.facetCount = static_cast<int32_t>(quads.size());
        chkModelInit(&tris, kMeshTriangles);
        tris.triangles = triListCreate(400);
        ASSERT_NE(tris.triangles, nullptr);
        for (int i = 0, n = 1 + rngBelow(400); i < n; ++i) {
            const Triangle3D t{{point(), point(), point()}};
            triListAdd(tris.triangles, &t);
        }
        if (k % 2) sortMeshTriangles(tris.triangles);
        const CheckModel* models[4] = {k < 3 ? &facets : &tris, nullptr, &tris, &facets};
        CheckModel* joined = revMeshJoin(&tris, models, 4);
        ASSERT_NE(joined, nullptr);
        std::vector<Triangle3D> plain;
        for (const CheckModel* m : models)
            for (int32_t j = 0; m && j < chkMeshCount(m->kind, m->facets, m->facetCount, m->triangles); ++j) {
                Vec3 c[6];
                for (int t = 0, h = chkElementTriangles(m->kind, m->facets, m->triangles, j, c); t < h; ++t)
                    plain.push_back({{c[3 * t], c[3 * t + 1], c[3 * t + 2]}});
            }
        meshHeapSort(plain.data(), static_cast<int32_t>(plain.size()), triCompareTopZ);
        ASSERT_EQ(joined->triangles->count, static_cast<int32_t>(plain.size()));
        for (size_t i = 0; i < plain.size(); ++i) {
            ASSERT_EQ(std::memcmp(&joined->triangles->data[i], &plain[i], sizeof(Triangle3D)), 0)
                << k << " " << i;
            for (const Vec3& p : plain[i].p)
                ASSERT_TRUE(joined->boxMin[i].z <= p.z && p.z <= joined->boxMax[i].z &&
                            joined->boxMin[i].x <= p.x && p.x <= joined->boxMax[i].x);
        }
        // The model's and the list's bounds are those of every corner, each coordinate on its own.
        double lo[3] = {INFINITY, INFINITY, INFINITY}, hi[3] = {-INFINITY, -INFINITY, -INFINITY};
        for (const Triangle3D& t : plain)
            for (const Vec3& p : t.p) {
                const double c[3] = {p.x, p.y, p.z};
                for (int a = 0; a < 3; ++a) lo[a] = std::min(lo[a], c[a]), hi[a] = std::max(hi[a], c[a]);
            }
        const TriList* list = joined->triangles;
        const double listBounds[6] = {list->xmin, list->ymin, list->zmin, list->xmax, list->ymax, list->zmax};
        for (int a = 0; a < 3; ++a) {
            EXPECT_EQ(joined->bounds[a], lo[a]) << k << " " << a;
            EXPECT_EQ(joined->bounds[3 + a], hi[a]) << k << " " << a;
            EXPECT_EQ(listBounds[a], lo[a]) << k << " " << a;
            EXPECT_EQ(listBounds[3 + a], hi[a]) << k << " " << a;
        }
        revMeshFree(joined);
        // No models to join: an empty join; models promised but missing: none.
        CheckModel* none = revMeshJoin(&tris, nullptr, 0);
        ASSERT_NE(none, nullptr);
        EXPECT_EQ(none->triangles->count, 0);
        revMeshFree(none);
        EXPECT_EQ(revMeshJoin(&tris, nullptr, 1), nullptr);
        triListFree(tris.triangles);
    }
}
