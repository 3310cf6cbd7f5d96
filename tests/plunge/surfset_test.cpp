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
#include "geometry/rng.h"
#include "plunge/partload.h"
#include "plunge/revmeshmodel.h"
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

}  // namespace

TEST(SurfaceSet, ExampleImpellerSlotsFilesGridsAndPartModel) {
    const double pitch = 2 * M_PI / 8;
    CheckModel ctx = toolContext();
    for (const bool splitter : {false, true}) {
        TempDir tmp;
        CycleParams* p = exampleParams(tmp.path, splitter);
        p->meshKvx = 1;
        SurfaceSet* set = idx5CreateSurfaceSet(&ctx, pitch);
        ASSERT_NE(set, nullptr);
        for (const char* name : {"bld.3df", "bld1.3df", "spl.3df", "spl1.3df", "spl.kvx"})
            EXPECT_EQ(std::filesystem::exists(tmp.file(name)), splitter || name[0] == 'b') << name;
        EXPECT_EQ(std::string(p->bladeKvx2), tmp.file("bld.kvx"));
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
        SurfaceGrids* grids = buildSurfaceSetGrids(set, 2.5);
        ASSERT_NE(grids, nullptr);
        EXPECT_EQ(grids->count, splitter ? 4 : 3);
        freeSurfaceSetGrids(grids);
        CheckModel* part = idx5BuildPartModel(&ctx, set);
        ASSERT_NE(part, nullptr);
        int32_t total = 0;
        for (int k : {0, 1, 2, 6}) total += set->slot[k] ? set->slot[k]->triangles->count : 0;
        ASSERT_EQ(part->triangles->count, total);
        revMeshFree(part);
        freeSurfaceSet(set);
    }
}

// Every missing selection ends in its one numbered message (beside the reader's traces) and a clean
// failure.
TEST(SurfaceSet, MissingSelectionsAndLongNamesAreReported) {
    CheckModel ctx = toolContext();
    TempDir tmp;
    const std::string none = tmp.file("none.kvx");
    const auto set = [&] { return idx5CreateSurfaceSet(&ctx, 0.5) != nullptr; };
    const auto hub = [] { return loadHubShroud(0.5) != nullptr; };
    const struct {
        std::function<void(CycleParams*)> change;
        std::function<bool()> load;
        int message;
    } cases[] = {
        {[&](CycleParams* p) { setText(p->hubKvx, none); }, hub, 6204},
        {[&](CycleParams* p) { setText(p->shroudKvx, none); }, hub, 6205},
        {[](CycleParams* p) { p->hubKvx[0] = '\0'; }, hub, 0},
        {[&](CycleParams* p) { setText(p->bladeKvx, none); }, [] { return loadBladeContours(nullptr, 0.5); },
         6503},
        {[&](CycleParams* p) { setText(p->bladeKvx, none); }, set, 6504},
        {[&](CycleParams* p) { setText(p->splitKvx, none); }, set, 6505},
        {[](CycleParams*) { polymeshSetGroupHook([](const PolymeshGroup*) { return -1; }); }, set, 6023},
        {[](CycleParams* p) { setText(p->tmpDir, std::string(250, 'd')); }, set, 5191},
    };
    for (const auto& c : cases) {
        MessageLog log;
        c.change(exampleParams(tmp.path, true));
        EXPECT_FALSE(c.load());
        polymeshResetState();
        EXPECT_EQ(sentNumbers().size() - log.count(kMsgPrintfNumber), c.message ? 1u : 0u) << c.message;
        EXPECT_EQ(log.count(c.message), c.message ? 1 : 0);
    }
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
    ASSERT_EQ(revMeshWrite(band, 0.05, file.c_str()), 1);
    FacetList* facets = nullptr;
    EXPECT_GT(facetFileLoad(file.c_str(), &facets), band->triangles->count + 100);
    facetListFree(facets);
    for (CheckModel* m : {band, merged}) revMeshFree(m);
    freeProfile2D(profile);
}

// The lift model against revMeshBuild's: the same triangles, tops never rising, and the same lift of
// every drop and departure of a ball, over seeded profiles with many bands of equal tops; a model
// clipped to a plan rectangle (then refilled for another) answers the same for the sweeps within.
TEST(RevMeshModel, LiftModelAnswersAsTheSortedModel) {
    rngResetState();
    ToolGeom ball{};
    ball.toolType = kBallMill;
    CheckModel templ = toolContext();
    templ.tool = &ball;
    int hits = 0, inside = 0;
    for (int k = 0; k < 4; ++k) {
        std::vector<Vec2> pts;
        for (int i = 0; i < 12; ++i)
            pts.push_back({30 + 10 * rngUniform(), i % 3 == 0 ? 4.0 : std::floor(8 * rngUniform())});
        Profile2D* profile = profileOf(pts);
        ASSERT_NE(profile, nullptr);
        templ.tolerance = 0.05 + 0.1 * k;
        ball.radius = ball.size2 = 1 + k;
        CheckModel* sorted = revMeshBuild(&templ, profile, 0.0);
        CheckModel* lifts = revMeshLiftModel(&templ, profile, nullptr);
        const double plan[2][4] = {{-20, 50, -10, 35}, {-50, 5, -50, 0}};
        CheckModel* clipped = revMeshLiftModel(&templ, profile, plan[0]);
        ASSERT_NE(sorted, nullptr);
        ASSERT_NE(lifts, nullptr);
        ASSERT_NE(clipped, nullptr);
        EXPECT_LT(clipped->triangles->count, lifts->triangles->count);
        EXPECT_EQ(std::memcmp(clipped->bounds, sorted->bounds, sizeof sorted->bounds), 0);
        const TriList* a = sorted->triangles;
        const TriList* b = lifts->triangles;
        ASSERT_EQ(a->count, b->count);
        auto key = [](const Triangle3D& t) {
            return std::vector<double>{t.p[0].x, t.p[0].y, t.p[0].z, t.p[1].x, t.p[1].y,
                                       t.p[1].z, t.p[2].x, t.p[2].y, t.p[2].z};
        };
        std::vector<std::vector<double>> ka, kb;
        for (int32_t i = 0; i < a->count; ++i) {
            ka.push_back(key(a->data[i]));
            kb.push_back(key(b->data[i]));
            if (i > 0) {
                EXPECT_LE(lifts->boxMax[i].z, lifts->boxMax[i - 1].z);
            }
        }
        std::sort(ka.begin(), ka.end());
        std::sort(kb.begin(), kb.end());
        EXPECT_TRUE(ka == kb);
        for (int q = 0; q < 400; ++q) {
            if (q == 200) {
                ASSERT_EQ(revMeshLiftRefill(clipped, profile, plan[1]), 1);
            }
            const double* in = plan[q / 200];
            const double ang = 2 * M_PI * rngUniform(), r = 25 + 20 * rngUniform();
            Vec3 p{r * std::cos(ang), r * std::sin(ang), 12 * rngUniform() - 2};
            Vec3 d{0.6 * rngUniform() - 0.3, 0.6 * rngUniform() - 0.3, q % 2 ? -1.0 : 1.0};
            const double l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
            d = {d.x / l, d.y / l, d.z / l};
            double h[3] = {-1, -1, -1};
            Vec3 c;
            int f0 = chkModelPath(sorted, nullptr, 0, &p, &d, 20, &h[0], &c);
            const int f1 = chkModelPath(lifts, nullptr, 0, &p, &d, 20, &h[1], &c);
            ASSERT_EQ(f0, f1) << k << " " << q;
            hits += f0;
            EXPECT_EQ(h[0], h[1]) << k << " " << q;
            const double R = ball.radius;
            if (q % 3 == 0) {
                // Snug against the rectangle's side, where the clipping cuts.
                d = {0, 0, d.z > 0 ? 1.0 : -1.0};
                p.x = in[q / 3 % 2] + (q / 3 % 2 ? -1 : 1) * (R + 1e-3);
                p.y = q < 200 ? 28 : -34;  // on the ring
                f0 = chkModelPath(sorted, nullptr, 0, &p, &d, 20, &h[0], &c);
            }
            const double sx = p.x - 20 * d.x, sy = p.y - 20 * d.y;
            if (std::min(p.x, sx) - R < in[0] || std::max(p.x, sx) + R > in[1] ||
                std::min(p.y, sy) - R < in[2] || std::max(p.y, sy) + R > in[3])
                continue;
            ASSERT_EQ(chkModelPath(clipped, nullptr, 0, &p, &d, 20, &h[2], &c), f0) << k << " " << q;
            EXPECT_EQ(h[0], h[2]) << k << " " << q;
            inside += f0;
        }
        // The merge holds the joined list as the heap sort leaves it, ties included.
        CheckModel* merged = revMeshMerge(lifts, sorted);
        ASSERT_NE(merged, nullptr);
        TriList* joined = triListCreate(2 * a->count);
        ASSERT_NE(joined, nullptr);
        for (const TriList* l : {b, a})
            for (int32_t i = 0; i < l->count; ++i) triListAdd(joined, &l->data[i]);
        meshHeapSort(joined->data, joined->count, triCompareTopZ);
        ASSERT_EQ(merged->triangles->count, joined->count);
        EXPECT_EQ(std::memcmp(merged->triangles->data, joined->data, sizeof(Triangle3D) * joined->count), 0);
        triListFree(joined);
        revMeshFree(merged);
        revMeshFree(sorted);
        revMeshFree(lifts);
        revMeshFree(clipped);
        freeProfile2D(profile);
    }
    EXPECT_GT(hits, 400);
    EXPECT_GT(inside, 60);
}

// A region model covered before every sweep answers as the whole hub, wherever the sweeps go: seeded
// sweeps from a small start rectangle outwards, and one along a direction that is not finite.
TEST(RevMeshModel, CoveredRegionAnswersAsTheWholeHub) {
    rngResetState();
    ToolGeom ball{};
    ball.toolType = kBallMill;
    ball.radius = ball.size2 = 2;
    CheckModel templ = toolContext();
    templ.tool = &ball;
    templ.tolerance = 0.05;
    std::vector<Vec2> pts;
    for (int i = 0; i < 10; ++i) pts.push_back({30 + 10 * rngUniform(), std::floor(8 * rngUniform())});
    Profile2D* profile = profileOf(pts);
    ASSERT_NE(profile, nullptr);
    double plan[4] = {30, 35, -2, 2};
    CheckModel* whole = revMeshLiftModel(&templ, profile, nullptr);
    CheckModel* region = revMeshLiftModel(&templ, profile, plan);
    ASSERT_NE(whole, nullptr);
    ASSERT_NE(region, nullptr);
    int hits = 0, widened = 0;
    for (int q = 0; q < 300; ++q) {
        const double ang = 0.02 * q * rngUniform(), r = 25 + 20 * rngUniform();
        const Vec3 p{r * std::cos(ang), r * std::sin(ang), 12 * rngUniform() - 2};
        Vec3 d{0.6 * rngUniform() - 0.3, 0.6 * rngUniform() - 0.3, q % 2 ? -1.0 : 1.0};
        if (q == 299) d.x = NAN;
        const double l = std::sqrt(d.x * d.x + d.y * d.y + d.z * d.z);
        d = {d.x / l, d.y / l, d.z / l};
        const int32_t before = region->triangles->count;
        ASSERT_EQ(revMeshLiftCover(region, profile, plan, &p, &d, 20, 1.0), 1);
        widened += region->triangles->count > before;
        double h[2] = {-1, -1};
        Vec3 c;
        const int f = chkModelPath(whole, nullptr, 0, &p, &d, 20, &h[0], &c);
        ASSERT_EQ(chkModelPath(region, nullptr, 0, &p, &d, 20, &h[1], &c), f) << q;
        EXPECT_EQ(h[0], h[1]) << q;
        hits += f;
    }
    EXPECT_GT(hits, 100);
    EXPECT_GT(widened, 5);
    EXPECT_EQ(region->triangles->count, whole->triangles->count);  // the last sweep takes everything
    revMeshFree(whole);
    revMeshFree(region);
    freeProfile2D(profile);
}
