// The run's part geometry: blade and splitter meshes of the example impeller through the temporary
// folder, the part model, the loaders' refusals, and revolved meshes as check models.
#include "plunge/surfset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

#include "collision/polymesh.h"
#include "plunge/partload.h"
#include "plunge/revmeshmodel.h"
#include "surfaces/geofiletest.h"
#include "surfaces/meshfiles/facetfile.h"

namespace {

std::string example(const char* name) {
    return (std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge" / name).string();
}

// The run's record with the example's selections, a coarse conversion and the given folder.
CycleParams* exampleParams(const std::string& tmp, bool splitter) {
    cycleParamsResetState();
    CycleParams* p = cycleParamsApplied();
    snprintf(p->tmpDir, sizeof p->tmpDir, "%s", tmp.c_str());
    snprintf(p->dllDir, sizeof p->dllDir, "%s", KV_BIN_DIR);
    snprintf(p->hubKvx, sizeof p->hubKvx, "%s", example("hub.kvx").c_str());
    snprintf(p->shroudKvx, sizeof p->shroudKvx, "%s", example("shroud.kvx").c_str());
    snprintf(p->bladeKvx, sizeof p->bladeKvx, "%s", example("blade.kvx").c_str());
    snprintf(p->splitKvx, sizeof p->splitKvx, "%s", example("split.kvx").c_str());
    p->splitKvxOk = splitter ? 1 : 0;
    p->precision = 0.2;
    scaleLengthParams(1.0);
    return cycleParams();
}

struct ToolCtx {
    CheckModel model;
    ToolCtx() {
        chkModelInit(&model, kMeshFacets);
        static ToolGeom ball{kBallMill, 2.5, 0, 0, 21, 5, 0, 0, 0};
        model.tool = &ball;
    }
};

int failHook(const PolymeshGroup* g) {
    return g->stage == 1 ? -1 : 1;
}

double topZ(const Triangle3D& t) {
    return std::fmax(t.p[0].z, std::fmax(t.p[1].z, t.p[2].z));
}

}  // namespace

TEST(SurfaceSet, ExampleImpellerSlotsFilesAndGrids) {
    const double pitch = 2 * M_PI / 8;
    ToolCtx ctx;
    for (const bool splitter : {false, true}) {
        TempDir tmp;
        CycleParams* p = exampleParams(tmp.path, splitter);
        p->meshKvx = splitter ? 1 : 0;
        SurfaceSet* set = idx5CreateSurfaceSet(&ctx.model, pitch);
        ASSERT_NE(set, nullptr);
        for (const char* name : {"bld.3df", "bld1.3df"}) EXPECT_TRUE(std::filesystem::exists(tmp.file(name)));
        for (const char* name : {"spl.3df", "spl1.3df", "bld.kvx", "spl.kvx"})
            EXPECT_EQ(std::filesystem::exists(tmp.file(name)), splitter) << name;
        EXPECT_EQ(std::string(p->bladeKvx2), splitter ? tmp.file("bld.kvx") : "");
        for (int k = 0; k < kSurfSetSlots; ++k) {
            const bool present = splitter || (k != 1 && k != 4);
            ASSERT_EQ(set->slot[k] != nullptr, present) << k;
            if (present) {
                EXPECT_GT(set->slot[k]->triangles->count, 100) << k;
            }
        }
        // Slots 2 and 6 hold slot 0's triangles turned by plus and minus the pitch.
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
                    EXPECT_LE(m->boxMin[i].x, r.x);
                    EXPECT_GE(m->boxMax[i].y, r.y);
                }
        }
        SurfaceGrids* grids = buildSurfaceSetGrids(set);
        ASSERT_NE(grids, nullptr);
        EXPECT_EQ(grids->count, splitter ? 4 : 3);
        EXPECT_EQ(grids->grid[2] != nullptr, splitter);
        freeSurfaceSetGrids(grids);
        // The part model: every triangle of slots 6, 2, 1 and 0, highest first, with its corners.
        CheckModel* part = idx5BuildPartModel(&ctx.model, set);
        ASSERT_NE(part, nullptr);
        int32_t total = 0;
        for (int k : {0, 1, 2, 6}) total += set->slot[k] ? set->slot[k]->triangles->count : 0;
        ASSERT_EQ(part->triangles->count, total);
        for (int32_t i = 1; i < total; ++i)
            ASSERT_LE(topZ(part->triangles->data[i]), topZ(part->triangles->data[i - 1]));
        EXPECT_EQ(part->boxMax[0].z, topZ(part->triangles->data[0]));
        revMeshFree(part);
        freeSurfaceSet(set);
    }
}

// Every missing selection ends in its numbered message and a clean failure.
TEST(SurfaceSet, MissingSelectionsReportTheirMessages) {
    ToolCtx ctx;
    TempDir tmp;
    struct Case {
        const char* field;  // emptied or pointed at a missing file
        int message;        // 0: no message
    };
    const Case cases[] = {{"hub", 6204},   {"shroud", 6205}, {"hubEmpty", 0},       {"blade", 6504},
                          {"split", 6505}, {"load", 6023},   {"bladeCurves", 6503}, {"tmp", 5191}};
    for (const Case& c : cases) {
        MessageLog log;
        CycleParams* p = exampleParams(tmp.path, true);
        const std::string missing = tmp.file("none.kvx");
        const std::string f = c.field;
        if (f == "hub") snprintf(p->hubKvx, sizeof p->hubKvx, "%s", missing.c_str());
        if (f == "shroud") snprintf(p->shroudKvx, sizeof p->shroudKvx, "%s", missing.c_str());
        if (f == "hubEmpty") p->hubKvx[0] = '\0';
        if (f == "blade" || f == "bladeCurves")
            snprintf(p->bladeKvx, sizeof p->bladeKvx, "%s", missing.c_str());
        if (f == "split") snprintf(p->splitKvx, sizeof p->splitKvx, "%s", missing.c_str());
        if (f == "load") polymeshSetGroupHook(failHook);
        if (f == "tmp") snprintf(p->tmpDir, sizeof p->tmpDir, "%s", std::string(250, 'd').c_str());
        if (f == "hub" || f == "shroud" || f == "hubEmpty") {
            EXPECT_EQ(loadHubShroud(0.5), nullptr) << f;
        } else if (f == "bladeCurves") {
            EXPECT_EQ(loadBladeContours(nullptr, 0.5), nullptr);
        } else {
            EXPECT_EQ(idx5CreateSurfaceSet(&ctx.model, 0.5), nullptr) << f;
        }
        polymeshResetState();
        // Nothing but the reader's size traces beside the one message.
        EXPECT_EQ(sentNumbers().size() - log.count(kMsgPrintfNumber), c.message ? 1u : 0u) << f;
        if (c.message) {
            EXPECT_EQ(log.count(c.message), 1) << f;
        }
    }
}

// The folder and name in one field of 256 characters, never cut; an empty folder is the working one.
TEST(SurfaceSet, TemporaryPathsFitTheirFieldOrAreRefused) {
    char out[kCycleTextMax + 1];
    const struct {
        size_t folder;
        int result;
    } cases[] = {{0, 1}, {246, 1}, {247, -1}};
    for (const auto& c : cases) {
        MessageLog log;
        exampleParams(std::string(c.folder, 'd'), false);
        EXPECT_EQ(checkModelPathInTmp(out), c.result) << c.folder;
        const std::string want = c.folder ? std::string(c.folder, 'd') + "/check.3df" : "check.3df";
        EXPECT_EQ(std::string(out), c.result == 1 ? want : "");
        EXPECT_EQ(log.count(kMsgTmpNameTooLong), c.result == 1 ? 0 : 1);
    }
}

TEST(SurfaceSet, BladeProfileFileGivesThePairSecondCurveFirst) {
    TempDir tmp;
    CycleParams* p = exampleParams(tmp.path, false);
    const std::string prf = tmp.file("blade.prf");
    snprintf(p->bladePrf, sizeof p->bladePrf, "%s", prf.c_str());
    writeTextFile(prf,
                  "**PRF 1\r\nX30 Y0 Z40\r\nX50 Y5 Z10\r\n**END\r\n**PRF 2\nX15 Y0 Z40\nX55 Y5 Z5\n**END\n");
    ContourPair* pair = loadBladeContours(nullptr, 0.5);
    ASSERT_NE(pair, nullptr);
    EXPECT_EQ(pair->first->points[0].x, 15.0);
    EXPECT_EQ(pair->second->points[0].x, 30.0);
    freeContourPair(pair);
    writeTextFile(prf, "**PRF 1\nX30 Y0 Z40\nX50 Y5 Z10\n**END\n");
    MessageLog log;
    EXPECT_EQ(loadBladeContours(nullptr, 0.5), nullptr);
    EXPECT_TRUE(sentNumbers().empty());
}

// The revolved hub is written with the model: the file holds every triangle of both.
TEST(RevMeshModel, BuildMergeAndWriteKeepEveryTriangle) {
    TempDir tmp;
    exampleParams(tmp.path, false);
    CheckModel templ;
    chkModelInit(&templ, kMeshTriangles);
    templ.tolerance = 0.01;
    Profile2D* profile = newProfile2D(2);
    ASSERT_NE(profile, nullptr);
    profile->points[0] = {10, 5};
    profile->points[1] = {10, 0};
    profile->count = 2;
    recomputeProfile2DParams(profile);
    CheckModel* band = revMeshBuild(&templ, profile, 1.0);
    ASSERT_NE(band, nullptr);
    // Extended by 1 at both ends: three bands of 142 triangles from z 6 down to z -1.
    ASSERT_EQ(band->triangles->count, 3 * 142);
    EXPECT_NEAR(band->bounds[5], 6.0, 1e-12);
    EXPECT_NEAR(band->bounds[2], -1.0, 1e-12);
    CheckModel* merged = revMeshMerge(band, band);
    ASSERT_NE(merged, nullptr);
    EXPECT_EQ(merged->triangles->count, 2 * band->triangles->count);
    const std::string file = tmp.file("check.3df");
    ASSERT_EQ(revMeshWrite(band, 0.05, file.c_str()), 1);
    EXPECT_EQ(band->tolerance, 0.01);
    FacetList* facets = nullptr;
    const int n = facetFileLoad(file.c_str(), &facets);
    facetListFree(facets);
    EXPECT_GT(n, band->triangles->count + 100);
    profile->count = 1;
    CheckModel* none = revMeshBuild(&templ, profile, 1.0);
    ASSERT_NE(none, nullptr);
    EXPECT_EQ(none->triangles->count, 0);
    for (CheckModel* m : {band, merged, none}) revMeshFree(m);
    freeProfile2D(profile);
}
