#include "KVWOG5/offs3d.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <vector>

#include "KVWOG5/kont2d.h"
#include "KVWOG5/lists.h"
#include "KVWOG5/wogerr.h"
#include "geometry/grid2d.h"
#include "vecnear.h"

namespace {

const double kPi = std::numbers::pi;

Offs3dSeg seg(double x1, double y1, double x2, double y2) {
    return Offs3dSeg{x1, y1, 0.0, x2, y2, 0.0};
}

const Vec3 kNoContact{0, 0, 0};

std::vector<Seg2D> squareSegs(double x0, double y0, double side) {
    return {{x0, y0, x0 + side, y0},
            {x0 + side, y0, x0 + side, y0 + side},
            {x0 + side, y0 + side, x0, y0 + side},
            {x0, y0 + side, x0, y0}};
}

// An engine set-up as the 2D offset makes it: elements towards greater x, a frame, radius 10.
struct Engine {
    Kont2d* elements = nullptr;
    Kont2d* frame = nullptr;
    Offs3dGeometry geometry{};
    Offs3dTool tool{};
    Offs3dParams params{};
    Offs3dLoops loops{};
    Vec3 lo{}, hi{};

    explicit Engine(const std::vector<Seg2D>& segs, double radius = 10.0) {
        elements = kont2dCreate(nullptr, 0);
        for (Seg2D s : segs) {
            if (!(s.x2 > s.x1)) s = Seg2D{s.x2, s.y2, s.x1, s.y1};
            kont2dAppendElement(elements, &s);
        }
        elements->closed = 1;
        const double g = 31.111;
        const Vec2 a{elements->xmin - g, elements->ymin - g}, b{elements->xmax + g, elements->ymax + g};
        frame = kont2dCreateRect(&a, &b);
        lo = Vec3{elements->xmin, elements->ymin, -1};
        hi = Vec3{elements->xmax, elements->ymax, 1};
        geometry.elements = elements;
        geometry.frame = frame;
        geometry.boxMin = &lo;
        geometry.boxMax = &hi;
        tool.radius = radius;
        tool.kind = 2;
        std::memset(&params, 0, sizeof params);
        params.tolerance = 0.1;
        params.direction = 1;
        params.stepControl = 1.0;
        loops.path = offs3dPathCreate(100);
        loops.loopStarts = intListCreate(10);
        loops.candidates = startCandListCreate(10);
        EXPECT_EQ(offs3dBuildCache(&geometry, &tool, &params), 1);
    }
    ~Engine() {
        offs3dFreeCache(&geometry, &tool, &params);
        offs3dPathFree(loops.path);
        intListFree(loops.loopStarts);
        startCandListFree(loops.candidates);
        kont2dFree(elements);
        kont2dFree(frame);
    }

    int search(Vec2 reference, Vec2 probe, double step, Vec3* centre, Vec3* contact, int32_t* element) {
        const GridCell* cells[2] = {nullptr, grid2DCellAt(params.elementGrid, probe.x, probe.y)};
        const Offs3dQuery q{reference, reference, probe, step, params.direction};
        int32_t kind = 0;
        return offs3dContactLoop(&geometry, &tool, &params, cells, &q, centre, contact, element, &kind);
    }
};

TEST(Offs3dPath, ZeroLengthPutReplacesTheLastEndUnlessLocked) {
    Offs3dPath* p = offs3dPathCreate(4);
    const Offs3dSeg a = seg(0, 0, 1, 0);
    const Vec3 c1{1, 1, 0}, c2{2, 2, 0};
    EXPECT_EQ(offs3dPathPut(p, &a, &c1, 1, 4), 1);
    const Offs3dSeg tiny = seg(1, 0, 1.000001, 0.000002);
    EXPECT_EQ(offs3dPathPut(p, &tiny, &c2, 7, -4), 1);
    ASSERT_EQ(p->count, 1);
    EXPECT_EQ(p->segments[0].x2, 1.000001);
    EXPECT_EQ(p->segments[0].y2, 0.000002);
    EXPECT_EQ(p->contacts[0].x, 2);
    EXPECT_EQ(p->elements[0], 7);
    EXPECT_EQ(p->kinds[0], -4);
    p->lock = 1;
    EXPECT_EQ(offs3dPathPut(p, &tiny, &c2, 7, -4), 1);
    EXPECT_EQ(p->count, 2);
    offs3dPathFree(p);
}

TEST(Offs3dPath, CompactLoopMergesRunsOnOneElementButKeepsTheLast) {
    Offs3dPath* p = offs3dPathCreate(2);
    ASSERT_NE(p, nullptr);
    for (int i = 0; i < 5; i++) {
        const Offs3dSeg s = seg(i, 0, i + 1, 0);
        offs3dPathAdd(p, &s, &kNoContact, 0, 4);
    }
    offs3dPathCompactLoop(p, 0, p->count);
    EXPECT_EQ(p->count, 5);  // fewer than 6: left alone

    offs3dPathReset(p);
    const Offs3dSeg before = seg(-1, 5, 0, 5);
    offs3dPathAdd(p, &before, &kNoContact, 9, 4);  // an earlier loop, untouched
    for (int i = 0; i < 8; i++) {
        const Offs3dSeg s = seg(i, 0, i + 1, 0);
        offs3dPathAdd(p, &s, &kNoContact, 2, 4);
    }
    offs3dPathCompactLoop(p, 1, p->count);
    ASSERT_EQ(p->count, 3);
    EXPECT_EQ(p->segments[0].x1, -1);
    EXPECT_EQ(p->segments[1].x1, 0);
    EXPECT_EQ(p->segments[1].x2, 7);
    EXPECT_EQ(p->segments[2].x1, 7);
    EXPECT_EQ(p->segments[2].x2, 8);
    EXPECT_EQ(p->box[0], -1);
    EXPECT_EQ(p->box[3], 8);

    // Other element, other kind, a bend or a step back stay separate.
    offs3dPathReset(p);
    const Offs3dSeg s0 = seg(0, 0, 1, 0), s1 = seg(1, 0, 2, 0), s2 = seg(2, 0, 3, 0.01),
                    s3 = seg(3, 0.01, 2.5, 0.01);
    offs3dPathAdd(p, &s0, &kNoContact, 1, 4);
    offs3dPathAdd(p, &s1, &kNoContact, 2, 4);
    offs3dPathAdd(p, &s1, &kNoContact, 1, -4);
    offs3dPathAdd(p, &s2, &kNoContact, 1, 4);
    offs3dPathAdd(p, &s3, &kNoContact, 1, 4);
    EXPECT_EQ(offs3dSegsMergeable(p, 0, 1), 0);
    EXPECT_EQ(offs3dSegsMergeable(p, 0, 2), 0);
    EXPECT_EQ(offs3dSegsMergeable(p, 0, 3), 0);
    EXPECT_EQ(offs3dSegsMergeable(p, 3, 4), 0);
    offs3dPathFree(p);
}

TEST(Offs3dCache, GridCellsFollowExtentOverDiameter) {
    struct Case {
        double w, h;
        int32_t rows, cols;
    } cases[] = {{100, 40, 3, 6}, {1000, 40, 3, 30}, {5, 5, 1, 1}};
    for (const Case& c : cases) {
        Engine e({{0, 0, c.w, 0}, {c.w, 0, c.w, c.h}, {0, c.h, c.w, c.h}});
        EXPECT_EQ(e.params.elementGrid->rows, c.rows);
        EXPECT_EQ(e.params.elementGrid->cols, c.cols);
        // Elements now run towards greater x, sorted by start x; the box table holds them grown.
        for (int32_t i = 0; i < e.elements->count; i++) {
            EXPECT_LE(e.elements->elements[i].x1, e.elements->elements[i].x2);
            if (i) {
                EXPECT_LE(e.elements->elements[i - 1].x1, e.elements->elements[i].x1);
            }
        }
        EXPECT_EQ(offs3dElementBox(e.params.elementBoxes, 0)[0], e.elements->elements[0].x1 - 11.0);
    }
}

TEST(Offs3dCache, TriangleKindsInstallWorkersButTheTriangleSearchIsRefused) {
    OffsetToolMethods m;
    for (int32_t kind : {1, 3}) {
        EXPECT_EQ(offs3dInstallToolMethods(kind, &m), 1);
        EXPECT_NE(m.face, nullptr);
        EXPECT_NE(m.inside, nullptr);
        EXPECT_NE(m.edge, nullptr);
        EXPECT_NE(m.edgePoint, nullptr);
        EXPECT_NE(m.vertex, nullptr);
    }
    EXPECT_EQ(offs3dInstallToolMethods(2, &m), 1);
    EXPECT_EQ(m.face, nullptr);
    TriList* tris = triListCreate(2);
    Offs3dGeometry g{};
    g.triangles = tris;
    Offs3dTool tool{5.0, 0.0, 1, 0};
    Offs3dParams params{};
    params.stepControl = 1.0;
    wogResetState();
    EXPECT_EQ(offs3dBuildCache(&g, &tool, &params), kOffs3dNoToolMethods);
    EXPECT_EQ(wogErrorState()->code, kOffs3dNoToolMethods);
    const GridCell* cells[2] = {nullptr, nullptr};
    const Offs3dQuery q{{0, 0}, {0, 0}, {1, 0}, 0.1, 1};
    Vec3 c, t;
    int32_t el, kind;
    EXPECT_EQ(offs3dContactLoop(&g, &tool, &params, cells, &q, &c, &t, &el, &kind), kOffs3dNoToolMethods);
    std::free(tris->data);
    std::free(tris);
}

TEST(Offs3dSearch, StartTestFindsLineEndAndFrameContacts) {
    Engine e({{0, 0, 100, 0}});
    Seg2D out;
    Vec2 contact;
    int32_t element, kind;
    // Straight down onto the middle of the element: touches where the centre is 10 above it.
    const Seg2D down{50, 11, 50, -0.1};
    EXPECT_EQ(offs3dStartTest(e.elements, e.frame, nullptr, 10, &down, &out, &contact, &element, &kind), 1);
    EXPECT_DOUBLE_EQ(out.y2, 10);
    EXPECT_XY(EXPECT_DOUBLE_EQ, contact, 50, 0);
    EXPECT_EQ(kind, kContactLine);
    EXPECT_EQ(element, 0);
    // Along the line towards its end: the circle about the end point is met first.
    const Seg2D along{130, 0, 95, 0};
    EXPECT_EQ(offs3dStartTest(e.elements, e.frame, nullptr, 10, &along, &out, &contact, &element, &kind), 1);
    EXPECT_DOUBLE_EQ(out.x2, 110);
    EXPECT_EQ(kind, kContactEnd);
    EXPECT_DOUBLE_EQ(contact.x, 100);
    // Away from everything: nothing.
    const Seg2D away{50, 20, 50, 30};
    EXPECT_EQ(offs3dStartTest(e.elements, e.frame, nullptr, 10, &away, &out, &contact, &element, &kind), 0);
    // Through the frame before anything else.
    const Seg2D out1{50, 30, 50, 60};
    EXPECT_EQ(offs3dStartTest(e.elements, e.frame, nullptr, 10, &out1, &out, &contact, &element, &kind), 2);
    EXPECT_EQ(kind, kContactFrame);
    EXPECT_NEAR(out.y2, 31.111, 1e-9);
    const Seg2D none{1, 1, 1, 1};
    EXPECT_EQ(offs3dStartTest(e.elements, e.frame, nullptr, 10, &none, &out, &contact, &element, &kind), 0);
}

TEST(Offs3dSearch, ContactLoopTakesTheNextPointOnTheOffsetCurve) {
    Engine e({{0, 0, 100, 0}});
    Vec3 c, t;
    int32_t el = -1;
    // Tracing with the material on the left: along y = -10 towards +x.
    ASSERT_EQ(e.search({50, -10}, {50.2, -10}, 0.2, &c, &t, &el), 1);
    EXPECT_XY(EXPECT_NEAR, c, 50.4, -10, 1e-12);
    EXPECT_XY(EXPECT_NEAR, t, 50.4, 0, 1e-12);
    EXPECT_EQ(el, 0);
    // Round the end: the next centre lies on the circle of radius 10 about (100, 0).
    ASSERT_EQ(e.search({100, -10}, {100.4, -10}, 0.4, &c, &t, &el), 1);
    EXPECT_NEAR(std::hypot(c.x - 100, c.y), 10, 1e-9);
    EXPECT_GT(c.x, 100.4);
    EXPECT_EQ(t.x, 100);
    // A probe deep in the material answers nothing and marks the spot.
    wogResetState();
    EXPECT_EQ(e.search({50, -1}, {50, -2}, 0.2, &c, &t, &el), 0);
    EXPECT_EQ(wogErrorState()->line, 6905);
    EXPECT_EQ(wogErrorState()->code, 0);
    // A probe on the element's own line takes the curve on the negative side of its line equation,
    // which is the left of the element's direction.
    Engine f({{0, 0, 100, 0}}, 0.3);
    ASSERT_EQ(f.search({49.8, -0.3}, {50, 0}, 0.36, &c, &t, &el), 1);
    EXPECT_NEAR(c.y, 0.3, 1e-12);
}

TEST(Offs3dSearch, TangentEndCircleGivesNoCandidate) {
    // A point element at distance r + step from the probe: its circle touches the search circle once.
    Engine e({{0, 0, 0, 0}});
    Vec3 c, t;
    int32_t el;
    EXPECT_EQ(e.search({10.5, 1}, {10.5, 0}, 0.5, &c, &t, &el), 0);
    // At distance step + a little less the circles meet twice.
    EXPECT_EQ(e.search({10.4, 1}, {10.4, 0}, 0.5, &c, &t, &el), 1);
    EXPECT_NEAR(std::hypot(c.x, c.y), 10, 1e-9);
}

TEST(Offs3dPasses, SmallHelpersFollowTheirRules) {
    Vec3 out;
    const Vec3 a{0, 0, 0}, b{3, 4, 0}, near{0, 0.000001, 0};
    EXPECT_EQ(offs3dStepPoint(2.5, &a, &b, 5, 2, &out), 1);
    EXPECT_XY(EXPECT_DOUBLE_EQ, out, 9, 12);
    EXPECT_EQ(out.z, 2.5);
    EXPECT_EQ(offs3dStepPoint(0, &a, &near, 1, 1, &out), kOffs3dNoDirection);
    struct Limit {
        double step, maxStep, expected;
    } limits[] = {{0.05, 0.5, 0.2}, {0.4, 0.5, 0.2 + 0.1 * 0.35 / -0.45}, {0.5, 0.5, 0.1}, {0.05, 0.05, 0.2}};
    for (const Limit& l : limits) EXPECT_DOUBLE_EQ(offs3dStepLimit(l.step, l.maxStep), l.expected);

    Offs3dParams p{};
    p.startCount = 2;
    p.startCentres[1] = Vec3{5, 5, 0};
    p.startContacts[1] = Vec3{5, 15, 0};
    p.startElements[1] = 3;
    p.startKinds[1] = -4;
    Vec3 contact;
    int32_t element, kind;
    const Vec3 q{5, 5 + 1e-7, 0}, r{5, 5.1, 0};
    EXPECT_EQ(offs3dFindStartContact(&p, &q, &contact, &element, &kind), 1);
    EXPECT_EQ(contact.y, 15);
    EXPECT_EQ(element, 3);
    EXPECT_EQ(kind, -4);
    EXPECT_EQ(offs3dFindStartContact(&p, &r, &contact, &element, &kind), 0);
    EXPECT_EQ(element, -1);
    EXPECT_EQ(kind, 0);
}

TEST(Offs3dPasses, TurnAngleMeasuresTheLastThreeJoints) {
    Offs3dPath* p = offs3dPathCreate(8);
    for (int i = 0; i < 5; i++) {
        const Offs3dSeg s = seg(i, 0, i + 1, 0);
        offs3dPathAdd(p, &s, &kNoContact, 0, 4);
    }
    EXPECT_EQ(offs3dTurnAngle(p, 0, 1), 0.0);  // fewer than six segments
    const Offs3dSeg s5 = seg(5, 0, 6, 0);
    offs3dPathAdd(p, &s5, &kNoContact, 0, 4);
    EXPECT_NEAR(offs3dTurnAngle(p, 0, 1), 3 * kPi, 1e-6);
    // Winding tightly clockwise: each joint turns right by 100 degrees.
    offs3dPathReset(p);
    double x = 0, y = 0, h = 0;
    for (int i = 0; i < 7; i++) {
        const double nx = x + std::cos(h), ny = y + std::sin(h);
        const Offs3dSeg s = seg(x, y, nx, ny);
        offs3dPathAdd(p, &s, &kNoContact, 0, 4);
        x = nx;
        y = ny;
        h -= 100.0 * kPi / 180.0;
    }
    EXPECT_GT(offs3dTurnAngle(p, 0, -1), 12.666370614359172);
    EXPECT_LT(offs3dTurnAngle(p, 0, 1), 12.666370614359172);
    offs3dPathFree(p);
}

TEST(Offs3dPasses, RollbackShortensStepsAndStopsAtThePassStart) {
    wogResetState();
    Offs3dPath* p = offs3dPathCreate(16);
    for (int i = 0; i < 12; i++) {
        const Offs3dSeg s = seg(i, 0, i + 1, 0);
        offs3dPathAdd(p, &s, &kNoContact, 0, 4);
    }
    int32_t counter = 2, noProgress = 5, pending = 1;
    Vec3 prev, cur;
    ASSERT_EQ(offs3dRollback(p, 0, &counter, &noProgress, &pending, &prev, &cur), 1);
    EXPECT_EQ(counter, 3);
    EXPECT_EQ(p->count, 9);
    EXPECT_EQ(noProgress, 0);
    EXPECT_EQ(pending, 0);
    EXPECT_DOUBLE_EQ(prev.x, 8);
    EXPECT_DOUBLE_EQ(cur.x, 8.7);
    EXPECT_DOUBLE_EQ(p->segments[8].x2, 8.7);
    EXPECT_STREQ(wogErrorState()->file, "rollback");
    // Six more are allowed, the eighth is refused.
    for (int i = 0; i < 6; i++)
        EXPECT_EQ(offs3dRollback(p, 0, &counter, &noProgress, &pending, &prev, &cur), 1);
    EXPECT_EQ(counter, 9);
    EXPECT_EQ(offs3dRollback(p, 0, &counter, &noProgress, &pending, &prev, &cur), kOffs3dRollbackExhausted);

    // A pass that owns fewer than ten segments only cuts its last one; one that owns none is refused,
    // so that earlier loops are never cut.
    offs3dPathReset(p);
    for (int i = 0; i < 12; i++) {
        const Offs3dSeg s = seg(i, 0, i + 1, 0);
        offs3dPathAdd(p, &s, &kNoContact, 0, 4);
    }
    counter = 2;
    ASSERT_EQ(offs3dRollback(p, 10, &counter, &noProgress, &pending, &prev, &cur), 1);
    EXPECT_EQ(p->count, 12);
    EXPECT_DOUBLE_EQ(cur.x, 11.7);
    EXPECT_EQ(offs3dRollback(p, 12, &counter, &noProgress, &pending, &prev, &cur), kOffs3dRollbackRefused);
    EXPECT_EQ(p->count, 12);
    offs3dPathFree(p);
}

TEST(Offs3dPasses, LimitStepDropsTheCornerReachedWithALongStepWithinThePass) {
    // The segment before the last, of length `len`, reached the corner; only beyond 0.125 it is
    // dropped with the last one, and the step is held back for len / step + 1 steps.
    struct Case {
        double len, step;
        int expected;
        int32_t holdOff;
    } cases[] = {{0.5, 0.05, 1, 11}, {0.1875, 0.0625, 1, 4}, {0.125, 0.0625, 0, 0}};
    for (const auto& c : cases) {
        Offs3dPath* p = offs3dPathCreate(8);
        ASSERT_NE(p, nullptr);
        const Offs3dSeg segs[3] = {seg(0, 0, 1, 0), seg(1, 0, 1 + c.len, 0), seg(1 + c.len, 0, 1.55, 0.05)};
        for (const Offs3dSeg& s : segs) offs3dPathAdd(p, &s, &kNoContact, 0, 4);
        Offs3dStepState st{c.step, 0, -1.0, -1.0, {}, {}, {}};
        EXPECT_EQ(offs3dLimitStep(p, 1, 2.0, &st), 0);  // would leave nothing of the pass
        EXPECT_EQ(offs3dLimitStep(p, 0, 3.2, &st), 0);  // not a corner
        ASSERT_EQ(offs3dLimitStep(p, 0, 2.0, &st), c.expected) << c.len;
        EXPECT_EQ(p->count, c.expected ? 1 : 3);
        EXPECT_EQ(st.holdOff, c.holdOff) << c.len;
        if (c.expected) {
            EXPECT_EQ(st.current.x, 1);
            EXPECT_EQ(st.previous.x, 0);
            EXPECT_EQ(st.lastLength, c.len);
            // The same corner again is no new retreat.
            const Offs3dSeg again[2] = {segs[1], segs[2]};
            for (const Offs3dSeg& s : again) offs3dPathAdd(p, &s, &kNoContact, 0, 4);
            EXPECT_EQ(offs3dLimitStep(p, 0, 2.0, &st), 0);
        }
        offs3dPathFree(p);
    }
}

TEST(Offs3dPasses, CheckNewPathRefusesACrossingLoop) {
    Engine e({{0, 0, 1, 0}});
    Offs3dPath* p = e.loops.path;
    const Offs3dSeg first = seg(50, 50, 60, 50);
    offs3dPathAdd(p, &first, &kNoContact, 0, 4);  // an earlier loop
    const Offs3dSeg bow[4] = {seg(0, 0, 2, 2), seg(2, 2, 2, 0), seg(2, 0, 0, 2), seg(0, 2, 0, 0)};
    for (const Offs3dSeg& s : bow) offs3dPathAdd(p, &s, &kNoContact, 0, 4);
    EXPECT_EQ(offs3dCheckNewPath(&e.loops, 0), kOffs3dSelfCross);
    EXPECT_STREQ(wogErrorState()->file, "neuer Versuch ");
    EXPECT_EQ(offs3dCheckNewPath(&e.loops, 4), 1);  // one segment only
    p->count = 1;
    const Offs3dSeg sq[4] = {seg(0, 0, 2, 0), seg(2, 0, 2, 2), seg(2, 2, 0, 2), seg(0, 2, 0, 0)};
    for (const Offs3dSeg& s : sq) offs3dPathAdd(p, &s, &kNoContact, 0, 4);
    EXPECT_EQ(offs3dCheckNewPath(&e.loops, 1), 1);
}

TEST(Offs3dPasses, NearPathTestFindsARunBackOntoThePath) {
    Offs3dPath* p = offs3dPathCreate(8);
    ASSERT_NE(p, nullptr);
    const Offs3dSeg segs[4] = {seg(0, 0, 10, 0), seg(10, 0, 10, 5), seg(10, 5, 5, 5), seg(5, 5, 5, 0.005)};
    for (const Offs3dSeg& s : segs) offs3dPathAdd(p, &s, &kNoContact, 0, 4);
    EXPECT_EQ(offs3dNearPathTest(p, 0, 1, 3, 0.01), 0);  // arrives perpendicular to the near segment
    const Offs3dSeg slanted = seg(6, 1, 5, 0.005);
    offs3dPathAdd(p, &slanted, &kNoContact, 0, 4);
    EXPECT_EQ(offs3dNearPathTest(p, 0, 1, 4, 0.01), 1);
    EXPECT_EQ(offs3dNearPathTest(p, 0, 1, 4, 0.001), 0);
    int32_t at = -1;
    const Vec3 q{3, -2, 0};
    EXPECT_DOUBLE_EQ(pointPolylineMinDist(p->segments, p->count, &q, &at), 2);
    EXPECT_EQ(at, 0);
    offs3dPathFree(p);
}

TEST(Offs3dPasses, PassWithoutContactAtItsStartFails) {
    Engine e(squareSegs(0, 0, 100));
    e.params.startSegment = Seg2D{50, -30, 50, -25};  // 25 away from everything
    EXPECT_EQ(offs3dPass(&e.geometry, &e.tool, &e.params, &e.loops), kOffs3dNoStartContact);
    EXPECT_EQ(e.loops.path->count, 0);
}

}  // namespace
