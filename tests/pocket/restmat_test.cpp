// Rest material: positions along contours in closed form, corner classes, and
// the rest areas of seeded pockets checked against GEOS: together with what
// the reference tool reaches they cover the pocket, and they lie outside that reach.
#include "pocket/restmat.h"

#include <algorithm>
#include <cmath>
#include <random>

#include "offset_util.h"
#include "pocket/contouroffset.h"
#include "pocket/pocketrun.h"
#include "pocket/pocketstate.h"
#include "pocket/rifblock.h"
#include "pocketnc_util.h"

#ifdef KV_HAVE_GEOS
#include <geos_c.h>
#endif

namespace {

using offsettest::kPi;

struct Rest : PocketErrors {
    Rest() {
        restMatResetState();
        for (const char* l : {"MAIN", "SPAN", "REST"}) EXPECT_EQ(clistCreate(l), 1);
    }
    ~Rest() { restMatResetState(); }
};

void insert(const char* list, const std::vector<ContourElement>& c) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.leftSide = 1;
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

std::vector<ContourElement> get(const char* list, int32_t i) {
    ContourHeader h{};
    if (clistGetHeader(list, &h, i) < 0) return {};
    std::vector<ContourElement> c(h.elementCount);
    clistGet(list, c.data(), &h, i);
    return c;
}

// The reference tool's centre rings: the pocket offset inwards by its radius, into SPAN.
void referenceRings(const std::vector<ContourElement>& pocket, double radius) {
    std::vector<ContourElement> out(kClistMaxElements);
    std::vector<int32_t> start(kOffsetMaxRings), count(kOffsetMaxRings);
    int32_t end = 0;
    const int32_t n = offsetContour(pocket.data(), static_cast<int32_t>(pocket.size()), 1, radius, out.data(),
                                    &end, start.data(), count.data());
    ASSERT_GT(n, 0);
    for (int32_t r = 0; r < n; ++r)
        insert("SPAN",
               std::vector<ContourElement>(out.begin() + start[r], out.begin() + start[r] + count[r]));
}

}  // namespace

TEST(RestMat, PositionsAlongAContour) {
    // A 10 x 10 square, counter-clockwise from the origin, perimeter 40.
    const std::vector<ContourElement> sq = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    struct Case {
        ContourPos from, to;
        double length;
    };
    for (const Case& c : std::vector<Case>{{{0, 0, 2, 0}, {0, 0, 7, 0}, 5},
                                           {{0, 0, 7, 0}, {0, 0, 2, 0}, 35},
                                           {{1, 0, 10, 4}, {3, 0, 0, 5}, 21},
                                           {{3, 0, 0, 5}, {1, 0, 10, 4}, 19}}) {
        EXPECT_NEAR(contourLengthBetween(sq.data(), 4, &c.from, &c.to), c.length, 1e-9);
        std::vector<ContourElement> piece(5);
        const int32_t n = restContourPiece(piece.data(), sq.data(), 4, &c.from, &c.to);
        ASSERT_GT(n, 0);
        EXPECT_NEAR(offsettest::perimeter(std::vector<ContourElement>(piece.begin(), piece.begin() + n)),
                    c.length, 1e-9);
        EXPECT_NEAR(offsettest::startPoint(piece[0]).x, c.from.x, 1e-9);
        EXPECT_NEAR(offsettest::endPoint(piece[n - 1]).y, c.to.y, 1e-9);
        Vec2 mid{};
        ASSERT_EQ(restMidpoint(sq.data(), 4, &c.from, &c.to, &mid), 1);
        EXPECT_NEAR(offsettest::distanceTo(mid, sq), 0, 1e-9);
    }
    // Open chain: backwards is no length.
    const std::vector<ContourElement> open(sq.begin(), sq.begin() + 2);
    const ContourPos a{0, 0, 5, 0}, b{1, 0, 10, 5};
    EXPECT_NEAR(contourLengthBetween(open.data(), 2, &a, &b), 10, 1e-9);
    EXPECT_EQ(contourLengthBetween(open.data(), 2, &b, &a), -1);
    Vec2 mid{};
    EXPECT_EQ(restMidpoint(open.data(), 2, &b, &a, &mid), 0);
    // Points at fractions: on a full circle of radius 5 (two arcs) by angle.
    const std::vector<ContourElement> circle = offsettest::circle(0, 0, 5, 2, 1);
    for (double f : {0.0, 0.1, 0.5, 0.77, 1.0, 1.5}) {
        Vec2 p{};
        ASSERT_GE(contourPointAtFraction(circle.data(), 2, f, &p), 0);
        const double a = 2 * kPi * std::min(f, 1.0);
        EXPECT_NEAR(p.x, 5 * std::cos(a), 1e-9) << f;
        EXPECT_NEAR(p.y, 5 * std::sin(a), 1e-9) << f;
    }
}

TEST(RestMat, CornerClasses) {
    struct Case {
        ContourElement a, b;
        int expected;
    };
    const std::vector<Case> cases = {
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 1, 1), kCornerLeft},
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 1, -1), kCornerRight},
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 2, 0.04), kCornerSmooth},  // cross 0.0400 < 0.05
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 2, 0.06), kCornerLeft},    // cross 0.0599 >= 0.05
        {lineElem(0, 0, 1, 0), lineElem(1, 0, 0, 0), kCornerReversal},
        // A line, then an arc leaving backwards that bends to the right a tenth along.
        {lineElem(0, 0, 1, 0), arcElem(1, -0.5, 0.5, kPi / 2, kPi, 1), kCornerRight},
        {lineElem(0, 0, 1, 0), arcElem(1, 1, 1, -kPi / 2, 0, 1), kCornerSmooth},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        int out = 99;
        ASSERT_EQ(cornerClassify(&cases[i].a, &cases[i].b, &out), 1) << i;
        EXPECT_EQ(out, cases[i].expected) << i;
    }
    const ContourElement point = lineElem(1, 1, 1, 1);
    int out = 0;
    EXPECT_EQ(cornerClassify(&cases[0].a, &point, &out), 0);
}

// Every sharp corner of a rectangle's reference ring leaves one rest area.
TEST(RestMat, RectangleLeavesOneAreaPerCorner) {
    Rest rest;
    const std::vector<ContourElement> pocket = polygon({{0, 0}, {60, 0}, {60, 40}, {0, 40}});
    insert("MAIN", pocket);
    referenceRings(pocket, 6);
    ASSERT_EQ(restAreasLevel(6), 1);
    ASSERT_EQ(clistCount("REST"), 4);
    for (int32_t i = 0; i < 4; ++i) {
        const std::vector<ContourElement> a = get("REST", i);
        ASSERT_FALSE(a.empty());
        EXPECT_EQ(a[0].type, kElemArc);
        // A corner region: 6 x 6 square less a quarter disc of radius 6.
        EXPECT_NEAR(std::fabs(offsettest::signedArea(a)), 36 - kPi * 9, 1e-6) << i;
    }
}

TEST(RestMat, ToleranceFollowsTheReferenceRadius) {
    Rest rest;
    insert("MAIN", polygon({{0, 0}, {60, 0}, {60, 40}, {0, 40}}));
    EXPECT_EQ(restAreasLevel(25), 1);
    EXPECT_NEAR(restTolerance(), 0.08, 1e-12);
    restMatResetState();
    EXPECT_EQ(restAreasLevel(20), 1);
    EXPECT_NEAR(restTolerance(), 0.04, 1e-12);
}

namespace {

// A plane of the rest run: the pocket in INPUT and MAIN, the reference rings in TEMP.
struct RestRun : NcPlane {
    std::vector<ContourElement> pocket;
    RestRun(const std::vector<ContourElement>& p, double referenceRadius) : pocket(p) {
        restMatResetState();
        for (const char* l : {"MAIN", "INPUT", "SPAN"}) EXPECT_EQ(clistCreate(l), 1);
        insert("INPUT", pocket);
        insert("MAIN", pocket);
        referenceRings(pocket, referenceRadius);
        EXPECT_EQ(clistCreate("TEMP"), 1);
        for (int32_t i = 0; i < clistCount("SPAN"); ++i) insert("TEMP", get("SPAN", i));
    }
    ~RestRun() { restMatResetState(); }
    bool inputKept() const {
        const std::vector<ContourElement> now = get("INPUT", 0);
        if (clistCount("INPUT") != 1 || now.size() != pocket.size()) return false;
        for (size_t i = 0; i < now.size(); ++i)
            for (int k = 0; k < 4; ++k)
                if (now[i].g[k] != pocket[i].g[k]) return false;
        return true;
    }
    static int count(const std::string& text) {
        return static_cast<int>(std::count(PocketErrors::texts().begin(), PocketErrors::texts().end(), text));
    }
};

const std::vector<ContourElement> kRectangle = polygon({{0, 0}, {60, 0}, {60, 40}, {0, 40}});

}  // namespace

// The reference tool must be larger than the tool by more than the rest tolerance.
TEST(RestMat, ReferenceNotLargerIsRefused) {
    struct Case {
        double reference;
        int result;
    };
    for (const Case& c : std::vector<Case>{{5.03, 0}, {4, 0}}) {
        RestRun run(kRectangle, 6);
        pocketKernel().toolRadius = 5;
        EXPECT_EQ(pocketRestMaterial("TEMP", c.reference), c.result) << c.reference;
        EXPECT_EQ(RestRun::count("101 1517"), 1);
        EXPECT_TRUE(run.inputKept());
        EXPECT_TRUE(records(31).empty());
    }
}

TEST(RestMat, ToleranceOfSmallAndLargeReferenceTools) {
    struct Case {
        double tool, reference, tolerance;
    };
    for (const Case& c : std::vector<Case>{{0.3, 0.8, 0.0016}, {5, 25, 0.08}, {5, 20, 0.04}}) {
        RestRun run(polygon({{0, 0}, {200, 0}, {200, 200}, {0, 200}}), c.reference);
        pocketKernel().toolRadius = c.tool;
        restSetAreaLimit(1);
        pocketRestMaterial("TEMP", c.reference);
        EXPECT_NEAR(restTolerance(), c.tolerance, 1e-12) << c.reference;
        EXPECT_TRUE(run.inputKept());
    }
}

// A round pocket leaves no sharp ring corner: REST is empty, reported, and INPUT is as it was.
TEST(RestMat, NoSharpCornerLeavesNoRest) {
    RestRun run(offsettest::circle(0, 0, 30, 4, 1), 8);
    pocketKernel().toolRadius = 3;
    EXPECT_EQ(pocketRestMaterial("TEMP", 8), 1);
    EXPECT_EQ(RestRun::count("101 1515"), 1);
    EXPECT_TRUE(run.inputKept());
}

// Stopping at the area limit, and a plane that cannot be machined, both leave INPUT as the job had it.
TEST(RestMat, InputIsKeptOnEveryExit) {
    {
        RestRun run(kRectangle, 6);
        pocketKernel().toolRadius = 2;
        restSetAreaLimit(1);
        pocketRestMaterial("TEMP", 6);
        EXPECT_EQ(RestRun::count("101 1513"), 1);
        EXPECT_TRUE(run.inputKept());
    }
    {
        RestRun run(kRectangle, 6);
        pocketKernel().toolRadius = 2;
        kvCCPParams.infeedDepth = -1;  // no infeed planes: the area cannot be machined
        pocketKernel().planeDepth = 0;
        const int r = pocketRestMaterial("TEMP", 6);
        EXPECT_TRUE(r == 1 || r == -1);
        EXPECT_TRUE(run.inputKept());
    }
}

// The islands of a rest area are the input contours inside it, turned against the wanted orientation.
TEST(RestMat, InnerIslandsOfAnArea) {
    PocketErrors guard;
    for (const char* l : {"ORIG", "INPUT"}) ASSERT_EQ(clistCreate(l), 1);
    const std::vector<ContourElement> area = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    insert("ORIG", polygon({{-5, -5}, {20, -5}, {20, 20}, {-5, 20}}));  // around the area
    insert("ORIG", polygon({{2, 2}, {4, 2}, {4, 4}, {2, 4}}));          // inside, counter-clockwise
    insert("ORIG", polygon({{6, 6}, {6, 8}, {8, 8}, {8, 6}}));          // inside, clockwise
    insert("ORIG", polygon({{12, 2}, {14, 2}, {14, 4}, {12, 4}}));      // outside
    insert("ORIG", polygon({{0, 5}, {3, 5}, {3, 7}, {0, 7}}));          // starting on the boundary
    EXPECT_EQ(restAddInnerIslands(area.data(), 4, 1), 2);
    ASSERT_EQ(clistCount("INPUT"), 2);
    for (int32_t i = 0; i < 2; ++i) {
        const std::vector<ContourElement> c = get("INPUT", i);
        EXPECT_LT(offsettest::signedArea(c), 0) << i;
        ContourHeader h{};
        ASSERT_GE(clistGetHeader("INPUT", &h, i), 0);
        EXPECT_EQ(h.tag, 1);
    }
}

// The reference tool's rings reach REST; the tool radius and the ring output
// are the run's own again afterwards, also when the rings fail.
TEST(RestMat, ReferenceToolRingsAndTheRunRestored) {
    struct Case {
        bool sawIsland;
        int result;
    };
    for (const Case& c : std::vector<Case>{{false, 1}, {true, -1}}) {
        Rest rest;
        PocketKernel& k = pocketKernel();
        k.toolRadius = 2;
        k.stepFactor = 0.4;
        k.wantedOrientation = 1;
        RifBlock& b = *rifBlock();
        std::snprintf(b.rifName, sizeof b.rifName, "%s", "job.rif");
        b.genRif = 0;
        b.evalRif = 0;
        insert("MAIN", kRectangle);
        if (c.sawIsland) {
            // A saw-toothed island whose offset would pass the element cap: the island rings fail.
            std::vector<Vec2> saw;
            const int teeth = kClistMaxElements / 2 - 2;
            for (int t = 0; t < teeth; ++t) {
                saw.push_back({10 + 40.0 * t / teeth, 20});
                saw.push_back({10 + 40.0 * (t + 0.5) / teeth, 21});
            }
            saw.push_back({50, 10});
            saw.push_back({10, 10});
            std::reverse(saw.begin(), saw.end());
            insert("MAIN", polygon(saw));
        }
        EXPECT_EQ(ccpRestByReferenceTool(6), c.result);
        EXPECT_EQ(k.toolRadius, 2);
        EXPECT_EQ(b.genRif, 0);
        EXPECT_EQ(b.evalRif, 1);
        EXPECT_STREQ(b.rifName, "job.rif");
        if (c.result != 1) continue;
        ASSERT_GT(clistCount("REST"), 0);
        for (int32_t i = 0; i < clistCount("REST"); ++i)
            for (const ContourElement& e : get("REST", i))
                EXPECT_GE(offsettest::distanceTo(offsettest::startPoint(e), kRectangle), 6 - 1e-6);
    }
}

#ifdef KV_HAVE_GEOS
namespace {

GEOSGeometry* polygonOf(GEOSContextHandle_t h, const std::vector<ContourElement>& c) {
    std::vector<Vec2> pts;
    for (const ContourElement& e : c) {
        const int steps =
            e.type == kElemArc ? std::max(2, static_cast<int>(offsettest::sweepOf(e) / 0.01)) : 1;
        for (int k = 0; k < steps; ++k)
            pts.push_back(offsettest::pointAlong(e, static_cast<double>(k) / steps));
    }
    pts.push_back(pts.front());
    GEOSCoordSequence* cs = GEOSCoordSeq_create_r(h, static_cast<unsigned>(pts.size()), 2);
    for (unsigned i = 0; i < pts.size(); ++i) GEOSCoordSeq_setXY_r(h, cs, i, pts[i].x, pts[i].y);
    return GEOSGeom_createPolygon_r(h, GEOSGeom_createLinearRing_r(h, cs), nullptr, 0);
}

double area(GEOSContextHandle_t h, GEOSGeometry* g) {
    double a = 0;
    if (g) GEOSArea_r(h, g, &a);
    if (g) GEOSGeom_destroy_r(h, g);
    return g ? a : 1e9;
}

}  // namespace

// Seeded convex pockets and L shapes: the rest areas and the reference tool's
// reach cover the pocket, and no rest area reaches into what the tool cut.
TEST(RestMat, RestAreasAndReachCoverThePocket) {
    std::mt19937 rng(4157);
    std::uniform_real_distribution<double> u(0.0, 1.0);
    GEOSContextHandle_t h = GEOS_init_r();
    for (int round = 0; round < 15; ++round) {
        Rest rest;
        std::vector<Vec2> pts;
        if (round % 3 == 2) {
            const double w = 40 + 30 * u(rng), t = 20 + 10 * u(rng);
            pts = {{0, 0}, {w, 0}, {w, t}, {t, t}, {t, w}, {0, w}};
        } else {
            const int n = 3 + round % 5;
            const double phase = u(rng);
            for (int k = 0; k < n; ++k) {
                const double a = 2 * kPi * (k + phase + 0.3 * u(rng)) / n;
                pts.push_back({50 * std::cos(a), 50 * std::sin(a)});
            }
        }
        const std::vector<ContourElement> pocket = polygon(pts);
        const double radius = 2 + 4 * u(rng);
        insert("MAIN", pocket);
        referenceRings(pocket, radius);
        ASSERT_EQ(restAreasLevel(radius), 1);
        // One area per convex corner of the pocket: all of them, or all but the L's inner corner.
        EXPECT_EQ(clistCount("REST"), static_cast<int32_t>(round % 3 == 2 ? pts.size() - 1 : pts.size()));
        GEOSGeometry* reach = nullptr;
        for (int32_t i = 0; i < clistCount("SPAN"); ++i) {
            GEOSGeometry* ring = polygonOf(h, get("SPAN", i));
            GEOSGeometry* b = GEOSBuffer_r(h, ring, radius, 128);
            GEOSGeom_destroy_r(h, ring);
            if (reach) {
                GEOSGeometry* u2 = GEOSUnion_r(h, reach, b);
                GEOSGeom_destroy_r(h, reach);
                GEOSGeom_destroy_r(h, b);
                reach = u2;
            } else {
                reach = b;
            }
        }
        ASSERT_NE(reach, nullptr);
        GEOSGeometry* covered = GEOSGeom_clone_r(h, reach);
        double overlap = 0;
        for (int32_t i = 0; i < clistCount("REST"); ++i) {
            GEOSGeometry* a = polygonOf(h, get("REST", i));
            ASSERT_EQ(GEOSisValid_r(h, a), 1) << "round " << round;
            overlap += area(h, GEOSIntersection_r(h, a, reach));
            GEOSGeometry* u2 = GEOSUnion_r(h, covered, a);
            GEOSGeom_destroy_r(h, covered);
            GEOSGeom_destroy_r(h, a);
            covered = u2;
        }
        GEOSGeometry* p = polygonOf(h, pocket);
        GEOSGeometry* diff = GEOSDifference_r(h, p, covered);
        EXPECT_LT(area(h, diff), 0.002) << "round " << round;
        EXPECT_LT(overlap, 0.01) << "round " << round;
        for (GEOSGeometry* g : {p, covered, reach}) GEOSGeom_destroy_r(h, g);
    }
    GEOS_finish_r(h);
}
#endif
