#include "pocket/planecheck.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "geometry/rng.h"
#include "pocket/elemdist.h"
#include "pocket/elemprim.h"
#include "pocket/pocket_util.h"

namespace {

constexpr double kPi = 3.141592653589793;

std::vector<ContourElement> square(double x0, double y0, double x1, double y1) {
    return polygon({{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}});
}

void insert(const char* list, std::vector<ContourElement> c, double bottom = 0, double allowance = 0) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.top = 10;
    h.bottom = bottom;
    h.allowance = allowance;
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

TEST(PlaneCheck, WallAngleAllowanceByClosedForm) {
    PocketErrors errors;
    clistCreate("MAIN");
    insert("MAIN", square(0, 0, 100, 100), 0, 1);
    insert("MAIN", square(40, 40, 60, 60), 6, 1);
    insert("MAIN", square(10, 10, 20, 20), -3, 1);  // below the plane bottom: unchanged
    kvCCPParams.surface = 10;
    kvCCPParams.depth = 8;
    kvCCPParams.toolDiameter = 12;
    kvCCPParams.cornerRadius = 2;
    pocketKernel().geometryScale = 2;
    struct Case {
        double angle;
        int32_t toolType;
    } cases[] = {{1e-5, 1}, {-1e-6, 1}, {10, 1}, {-7, 3}, {25, 2}};
    for (const Case& c : cases) {
        for (int i = 0; i < 3; ++i) {
            ContourHeader h{};
            clistGetHeader("MAIN", &h, i);
            h.allowance = 1;
            clistSetHeader("MAIN", &h, i);
        }
        kvCCPParams.wallAngle = c.angle;
        kvCCPParams.toolType = c.toolType;
        const bool none = std::fabs(c.angle) < 1e-5;
        EXPECT_EQ(wallAngleAllowance("MAIN"), none ? 0 : 1);
        const double a = c.angle * kPi / 180;
        const double rc = c.toolType == 1 ? 3 : c.toolType == 3 ? 1 : 0;
        for (int i = 0; i < 3; ++i) {
            ContourHeader h{};
            clistGetHeader("MAIN", &h, i);
            const double d = h.bottom - 2;
            const double off =
                none || d < 0 ? 0 : 2 * (std::tan(a) * (d - (1 - std::sin(a)) * rc) - (1 - std::cos(a)) * rc);
            EXPECT_NEAR(h.allowance, 1 + off, 1e-12) << c.angle << " " << i;
            if (!none && d >= 0) {
                EXPECT_NEAR(pocketAllowanceGet(i), 1 + off, 1e-12);
            }
        }
    }
}

TEST(PlaneCheck, OpenSidesWithinBandOrOutside) {
    PocketErrors errors;
    clistCreate("MAIN");
    insert("MAIN", square(0, 0, 100, 100));
    // Island whose bottom edge runs at the given height above the outer boundary.
    const double heights[] = {0.07, 0.0701, 0.05, 5};
    for (double y : heights) insert("MAIN", square(20, y, 30, y + 10));
    insert("MAIN", square(96, 40, 106, 50));  // three edges outside
    EXPECT_EQ(markOpenSides("MAIN"), 1);
    for (int i = 1; i <= 5; ++i) {
        ContourHeader h{};
        std::vector<ContourElement> c(8);
        clistGet("MAIN", c.data(), &h, i);
        const bool low = i <= 4 && heights[i - 1] <= 0.07;
        EXPECT_EQ(c[0].sourceTag, low || i == 5 ? -1 : 0) << i;
        EXPECT_EQ(c[1].sourceTag, i == 5 ? -1 : 0) << i;
        EXPECT_EQ(c[2].sourceTag, i == 5 ? -1 : 0) << i;
        EXPECT_EQ(c[3].sourceTag, 0) << i;
    }
    clistCreate("SPAN");
    insert("SPAN", square(0, 0, 1, 1));
    EXPECT_EQ(markOpenSides("SPAN"), 1);
}

TEST(PlaneCheck, CircleCentreAndValidity) {
    PocketErrors errors;
    struct Case {
        std::vector<ContourElement> c;
        int expected;
    } cases[] = {
        {{arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4, 5, kPi, 2 * kPi, 1)}, 1},
        {{arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4, 6, kPi, 2 * kPi, 1)}, 0},
        {{arcElem(3, 4, 5, 0, kPi, 1), arcElem(3, 4, 5, kPi, 0, -1)}, 0},
        {square(0, 0, 1, 1), 0},
    };
    for (const Case& c : cases) {
        clistCreate("MAIN");
        insert("MAIN", c.c);
        Vec2 centre{0, 0};
        EXPECT_EQ(mainCircleCentre("MAIN", &centre), c.expected);
        if (c.expected) {
            EXPECT_TRUE(centre.x == 3 && centre.y == 4);
        }
    }
    insert("MAIN", square(0, 0, 1, 1));
    EXPECT_EQ(mainCircleCentre("MAIN", nullptr), 0);

    struct Valid {
        double gap, arcShift;
        int expected;
    } valid[] = {{0, 0, 1}, {0.01, 0, 1}, {0.0101, 0, 0}, {0, 0.005, 1}, {0, 0.0102, 0}};
    for (const Valid& v : valid) {
        std::vector<ContourElement> c = {lineElem(0, 0, 10, 0), arcElem(10, 5, 5, -kPi / 2, kPi / 2, 1),
                                         lineElem(10, 10, 0, 10), lineElem(0, 10, 0, 0)};
        c[2].g[kLx1] += v.gap;
        c[1].g[kAey] += v.arcShift;
        c[2].g[kLy1] += v.arcShift;
        EXPECT_EQ(contourValidate(c.data(), 4), v.expected) << v.gap << " " << v.arcShift;
        if (v.expected && v.arcShift > 0) {
            const double d1 = std::hypot(c[1].g[kAsx] - c[1].g[kAcx], c[1].g[kAsy] - c[1].g[kAcy]);
            const double d2 = std::hypot(c[1].g[kAex] - c[1].g[kAcx], c[1].g[kAey] - c[1].g[kAcy]);
            EXPECT_NEAR(d1, d2, 1e-9);
        }
    }
    std::vector<ContourElement> open = {lineElem(0, 0, 10, 0), lineElem(10, 0, 10, 10)};
    EXPECT_EQ(contourValidate(open.data(), 2), 0);
}

// Refusal against the distance from the centre to the square's edges, in closed form.
TEST(PlaneCheck, HelixClearanceAgainstSquareDistance) {
    PocketErrors errors;
    clistCreate("INPUT");
    pocketKernel().geometryScale = 2;
    kvCCPParams.toolDiameter = 8 * 2;
    pocketAllowanceSet(0, 1 * 2);
    std::vector<ContourElement> sq = square(0, 0, 200, 200);  // scaled: 0..100 in output units
    insert("INPUT", sq, 0);
    insert("INPUT", square(300, 300, 400, 400), -5);  // reaches below the bottom: not tested
    rngResetState();
    for (int run = 0; run < 300; ++run) {
        const Vec2 c{-20 + 140 * rngUniform(), -20 + 140 * rngUniform()};
        const double helix = 3 * rngUniform();
        const double reach = 4 + helix + 1 - 1e-4 / 2;
        const bool inside = c.x > 0 && c.x < 100 && c.y > 0 && c.y < 100;
        const double edge =
            inside ? std::min({c.x, c.y, 100 - c.x, 100 - c.y})
                   : std::hypot(std::max({0.0, -c.x, c.x - 100}), std::max({0.0, -c.y, c.y - 100}));
        const bool refused = edge < reach || std::hypot(c.x, c.y) < reach;
        PocketErrors::texts().clear();
        EXPECT_EQ(helixClearCheck(&c, helix, -1), refused ? 0 : 1) << c.x << " " << c.y;
        EXPECT_EQ(PocketErrors::texts().size(), refused ? 1u : 0u);
    }
    const Vec2 corner{1, 1};
    EXPECT_EQ(helixClearCheck(&corner, 0, 0.5), 1);  // the square reaches below: skipped
}

}  // namespace

namespace {

// Distances to a large arc past its ends are those to the end points.
TEST(PlaneCheck, LargeArcEndsByLength) {
    struct Case {
        double r, beyond;  // length past the end along the circle
        int on;
    } cases[] = {{5000, 0.05, 0}, {5000, 5e-5, 1}, {1000, 0.01, 0},
                 {2, 0.01, 0},    {2, 5e-5, 1},    {0.5, 4e-5, 1}};
    for (const Case& c : cases) {
        const ContourElement arc = arcElem(0, 0, c.r, 0, 0.001 * 1000 / c.r, 1);
        const double a = 1.0 / c.r + c.beyond / c.r;
        const Vec2 p{c.r * std::cos(a), c.r * std::sin(a)};
        EXPECT_EQ(pointOnArc(&p, &arc), c.on) << c.r << " " << c.beyond;
        const Vec2 out{(c.r + 1) * std::cos(a), (c.r + 1) * std::sin(a)};
        const Vec2 end{arc.g[kAex], arc.g[kAey]};
        Vec2 near;
        if (!c.on) {
            EXPECT_NEAR(elemDistance(&out, &arc, &near), std::hypot(out.x - end.x, out.y - end.y), 1e-9);
        }
    }
}

}  // namespace
