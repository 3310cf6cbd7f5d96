#include "pocket/movechain.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geometry/rng.h"
#include "kernel/ncemit.h"
#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"
#include "pocket/elemdist.h"
#include "pocket/feedhelpers.h"
#include "pocket/pocket_util.h"
#include "pocket/savedblock.h"

namespace {

constexpr double kPi = 3.141592653589793;

std::vector<std::string>& sent() {
    static std::vector<std::string> s;
    return s;
}

int recordSent(CycleRecord*, NcRecord* r) {
    char a[KVNC_TEXT_SIZE], b[KVNC_TEXT_SIZE];
    const int32_t type = ncRecGetI32(r, KVNC_TYPE);
    if (type == 301)
        sent().push_back(std::string(ncRecGetText(r, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, a)) + "=" +
                         ncRecGetText(r, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, b));
    if (type == 3113) sent().push_back("z" + std::to_string(ncRecGetF64(r, KVNC_POINT_Z)));
    return 1;
}

TEST(MoveChain, ChunksAndQueries) {
    PocketErrors errors;
    MoveChain* chain = moveChainCreate(1000);
    ASSERT_NE(chain, nullptr);
    for (int i = 0; i < 1001; ++i) {
        const ContourElement e = lineElem(i, 0, i + 1, 0, 7);
        ASSERT_EQ(moveChainAppend(chain, &e, i), 1);
    }
    ASSERT_NE(chain->head->next, nullptr);
    EXPECT_EQ(chain->head->count, 1);
    EXPECT_EQ(chain->head->elements[0].sourceTag, 1000);
    EXPECT_EQ(chain->head->next->count, 1000);
    EXPECT_EQ(chain->head->next->next, nullptr);
    struct Probe {
        Vec2 p;
        int has;
    } probes[] = {{{500, 0}, 1}, {{1001, 0}, 1}, {{500.5, 0}, 0}, {{500, 0.001}, 0}};
    for (const Probe& q : probes) EXPECT_EQ(moveChainHasPoint(chain, &q.p), q.has);
    const ContourElement inside = lineElem(3.2, 0, 3.9, 0), across = lineElem(3.2, 0, 3.9, 1e-4),
                         off = lineElem(3.2, 2e-5, 3.9, 0);
    EXPECT_EQ(moveChainCovers(chain->head, &inside), 1);
    EXPECT_EQ(moveChainCovers(chain->head, &across), 0);
    EXPECT_EQ(moveChainCovers(chain->head, &off), 0);
    moveChainReverseEach(chain);
    EXPECT_EQ(chain->head->next->elements[0].g[kLx1], 1000);
    EXPECT_EQ(chain->head->next->elements[999].g[kLx2], 0);
    moveChainFree(chain);

    clistCreate("MAIN");
    std::vector<ContourElement> c = polygon({{0, 0}, {10, 0}, {10, 10}, {5, 12}, {0, 10}});
    c[1].sourceTag = -1;
    c[3].sourceTag = -3;
    ContourHeader h{};
    h.elementCount = 5;
    ASSERT_EQ(clistInsert("MAIN", c.data(), &h, -1), 1);
    MoveChunk* runs = listMaterialRuns("MAIN");
    ASSERT_NE(runs, nullptr);
    std::vector<int32_t> counts;
    for (MoveChunk* r = runs; r; r = r->next) counts.push_back(r->count);
    EXPECT_EQ(counts, (std::vector<int32_t>{1, 1, 1}));  // runs 4, 2, 0, newest first
    EXPECT_EQ(runs->elements[0].g[kLx1], 0);
    moveChunksFree(runs);
    clistCreate("MAIN");
    EXPECT_EQ(listMaterialRuns("MAIN"), nullptr);
}

TEST(MoveChain, SavedBlocks) {
    const int a[3] = {1, 2, 3}, b[5] = {9, 8, 7, 6, 5};
    SavedBlock* first = savedBlockPush(a, sizeof a);
    SavedBlock* second = savedBlockPush(b, sizeof b);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->next, first);
    int out[5] = {};
    EXPECT_EQ(savedBlockCopy(first, out, sizeof out), 0);
    EXPECT_EQ(out[2], 3);
    EXPECT_EQ(out[3], 0);  // nothing read past the block
    EXPECT_EQ(copyToHandle(first, b, sizeof b), 1);
    EXPECT_EQ(savedBlockCopy(first, out, sizeof out), 0);
    EXPECT_EQ(out[4], 5);
    EXPECT_EQ(savedBlockCopy(nullptr, out, sizeof out), -1);
    savedBlocksFree();
}

TEST(FeedHelpers, HelixPointsClosedForm) {
    PocketErrors errors;
    clistCreate("INPUT");
    const Vec2 c{3, 4};
    EXPECT_EQ(helixPoints(&c, 2, 0.3, 0.1, 1, 5, 5), nullptr);
    EXPECT_EQ(helixPoints(&c, 0, 0.3, 0.1, 1, 5, 0), nullptr);
    EXPECT_EQ(helixPoints(&c, 2, 0, 0.1, 1, 5, 0), nullptr);
    rngResetState();
    for (int run = 0; run < 50; ++run) {
        const double r = 0.5 + 3 * rngUniform(), step = 0.05 + rngUniform(), ramp = 0.02 + 0.5 * rngUniform();
        const int32_t dir = rngBelow(2) ? 1 : -1;
        const double dz = 2 * r * std::sin(step / 2) * std::tan(ramp);
        const double height = run == 0 ? 0.5 * dz : 10 * rngUniform() + 1e-3;
        HelixPoints* h = helixPoints(&c, r, step, ramp, dir, height, 0);
        ASSERT_NE(h, nullptr);
        const int turned = static_cast<int>(std::ceil(height / dz - 1e-9));
        ASSERT_EQ(h->count, turned + 3);
        if (run == 0) {
            EXPECT_EQ(h->count, 4);
        }
        EXPECT_TRUE(h->points[0].x == 3 && h->points[0].y == 4 && h->points[0].z == 0);
        EXPECT_TRUE(h->points[h->count - 1].x == 3 && h->points[h->count - 1].z == height);
        for (int i = 1; i < h->count - 1; ++i) {
            const double a = dir * step * (i - 1);
            EXPECT_NEAR(h->points[i].x, 3 + r * std::cos(a), 1e-9);
            EXPECT_NEAR(h->points[i].y, 4 + r * std::sin(a), 1e-9);
            EXPECT_NEAR(h->points[i].z, std::fmin(height, (i - 1) * dz), 1e-9);
        }
        helixPointsFree(h);
    }
    // A boundary in the way refuses the helix.
    std::vector<ContourElement> sq = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    ContourHeader hd{};
    hd.elementCount = 4;
    hd.bottom = 1;
    ASSERT_EQ(clistInsert("INPUT", sq.data(), &hd, -1), 1);
    kvCCPParams.toolDiameter = 4;
    EXPECT_EQ(helixPoints(&c, 2, 0.3, 0.1, 1, 5, 0), nullptr);
    EXPECT_EQ(PocketErrors::texts().back(), "101 1522");
}

TEST(FeedHelpers, ReducedFeedHelixFromTheTop) {
    PocketErrors errors;
    ASSERT_EQ(ncRegisterHandler(&kvCCP, 10, recordSent, recordSent, 1), 1);
    ASSERT_EQ(ncRegisterHandler(&kvCCP, 31, recordSent, recordSent, 1), 1);
    Vec3 pts[3] = {{0, 0, 0}, {1, 0, 0.5}, {0, 0, 1}};
    const HelixPoints h{3, 3, pts};
    struct Case {
        double reduced, plane;
        std::vector<std::string> expected;
    } cases[] = {
        {500, 2000, {"aliasUse=reducedFeedrate", "tr=FX*0.25", "z1.000000", "z0.500000", "z0.000000"}},
        {1e-4, 2000, {"z1.000000", "z0.500000", "z0.000000"}},
    };
    for (const Case& c : cases) {
        sent().clear();
        kvCCPParams.reducedFeedrate = c.reduced;
        kvCCPParams.planeFeedrate = c.plane;
        EXPECT_EQ(emitReducedFeed(&kvCCP, &h), 0);
        EXPECT_EQ(sent(), c.expected);
    }
}

TEST(FeedHelpers, LeadElementsEndTangentially) {
    const ContourElement line = lineElem(2, 1, 2 + 3 * 0.6, 1 + 3 * 0.8);
    const ContourElement arc = arcElem(0, 0, 5, 0.3, 1.2, -1);
    const double L = 1.5;
    for (const ContourElement* e : {&line, &arc}) {
        Vec2 p, t;
        elemPoint(e, &p, kElemStart);
        elemTangent(e, &t, kElemStart);
        for (int32_t side : {1, -1}) {
            const Vec2 n{-side * t.y, side * t.x};
            // type, start point, length of the lead
            struct Case {
                int32_t type;
                Vec2 start;
                double length;
            } cases[] = {{1, {p.x + L * n.x, p.y + L * n.y}, L},
                         {2, {p.x - L * t.x, p.y - L * t.y}, L},
                         {3, {p.x + L * (n.x - t.x), p.y + L * (n.y - t.y)}, kPi / 2 * L},
                         {4, {p.x + 2 * L * n.x, p.y + 2 * L * n.y}, kPi * L}};
            for (const Case& c : cases) {
                ContourElement out{};
                ASSERT_EQ(leadElement(e, side, c.type, L, &out), 1);
                Vec2 s, end, te;
                elemPoint(&out, &s, kElemStart);
                elemPoint(&out, &end, kElemEnd);
                EXPECT_NEAR(s.x, c.start.x, 1e-12);
                EXPECT_NEAR(s.y, c.start.y, 1e-12);
                EXPECT_NEAR(pointDist2D(&end, &p), 0, 1e-12);
                EXPECT_NEAR(elemLength(&out), c.length, 1e-9) << c.type;
                EXPECT_EQ(out.sourceTag, 1);
                if (c.type > 1 && elemTangent(&out, &te, kElemEnd)) {
                    EXPECT_NEAR(te.x * t.x + te.y * t.y, 1, 1e-9) << c.type << " " << side;
                }
            }
        }
        ContourElement out{};
        EXPECT_EQ(leadElement(e, 1, 5, L, &out), 0);
        EXPECT_EQ(leadElement(e, 1, 0, L, &out), 0);
    }
    const ContourElement point = lineElem(1, 1, 1, 1);
    ContourElement out{};
    EXPECT_EQ(leadElement(&point, 1, 1, L, &out), -1);
}

TEST(FeedHelpers, FeedBufferGapRuleAndCapacity) {
    PocketErrors errors;
    feedHelpersResetState();
    PocketKernel& k = pocketKernel();
    k.geometryScale = 25;
    k.toolRadius = 5 * 25;
    k.stepFactor = 0.5;
    k.tolerance = 1e-4 * 25;
    // The widest gap bridged is a step: 2 R k = 5 in output units.
    struct Case {
        double gap;
        int result;
        int32_t added;
    } cases[] = {{0, 1, 1}, {5e-5, 1, 1}, {0.5, 1, 2}, {5.00005, 1, 2}, {5.0002, -2, 0}};
    for (const Case& c : cases) {
        feedBufferClear();
        const ContourElement a = lineElem(0, 0, 1, 0), b = lineElem(1 + c.gap, 0, 3 + c.gap, 0);
        ASSERT_EQ(feedBufferAppend(&a), 1);
        EXPECT_EQ(feedBufferAppend(&b), c.result) << c.gap;
        EXPECT_EQ(feedBufferCount(), 1 + c.added) << c.gap;
        if (c.added == 2) {
            EXPECT_EQ(feedBufferElements()[1].sourceTag, 1);
        }
    }
    feedBufferClear();
    for (int i = 0; i < kFeedBufferSize; ++i) {
        const ContourElement e = lineElem(i, 0, i + 1, 0);
        ASSERT_EQ(feedBufferAppend(&e), 1);
    }
    const ContourElement next = lineElem(500, 0, 501, 0);
    EXPECT_EQ(feedBufferAppend(&next), -1);
    EXPECT_EQ(feedBufferCount(), kFeedBufferSize);
    feedHelpersResetState();
}

TEST(FeedHelpers, PolylinesAndSampling) {
    rngResetState();
    for (int run = 0; run < 100; ++run) {
        std::vector<Vec2> p;
        const int n = 2 + rngBelow(10);
        double total = 0;
        for (int i = 0; i < n; ++i) {
            p.push_back({100 * rngUniform(), 100 * rngUniform()});
            if (i) total += std::hypot(p[i].x - p[i - 1].x, p[i].y - p[i - 1].y);
        }
        EXPECT_NEAR(polylineLength(p.data(), n), total, 1e-9);
        const double want = 1.2 * total * rngUniform();
        const int32_t m = polylineTrim(p.data(), n, want);
        EXPECT_NEAR(polylineLength(p.data(), m), std::fmin(want, total), 1e-9);
    }
    EXPECT_EQ(polylineLength(nullptr, 0), 0);
    const ContourElement chain[] = {lineElem(5, -3, 5, 0), arcElem(0, 0, 5, 0, kPi / 2, 1),
                                    arcElem(0, 10, 5, -kPi / 2, -kPi, -1)};
    Vec2 pts[64];
    const int32_t n = elementsToPoints(pts, 64, chain, 3, 0.1);
    // start, line end, 15 inner samples and the end of each arc
    ASSERT_EQ(n, 2 + 15 + 1 + 15 + 1);
    for (int i = 2; i <= 17; ++i) EXPECT_NEAR(std::hypot(pts[i].x, pts[i].y), 5, 1e-12);
    for (int i = 2; i < 17; ++i)
        EXPECT_NEAR(std::hypot(pts[i].x - pts[i - 1].x, pts[i].y - pts[i - 1].y), 2 * 5 * std::sin(0.05),
                    1e-12);
    EXPECT_NEAR(pts[n - 1].x, -5, 1e-12);
    EXPECT_NEAR(pts[n - 1].y, 10, 1e-12);
    EXPECT_EQ(elementsToPoints(pts, 5, chain, 3, 0.1), 5);
}

}  // namespace
