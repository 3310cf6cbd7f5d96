#include "pocket/chainoffset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "pocket/contouroffset.h"
#include "pocket/offset_util.h"
#include "pocket/pocket_util.h"
#include "pocket/ringassembly.h"

namespace {

using namespace offsettest;

// A rectangle with corners rounded by counter-clockwise quarter arcs of radius r.
std::vector<ContourElement> roundedRect(double w, double h, double r) {
    return {lineElem(r, 0, w - r, 0), arcElem(w - r, r, r, -kPi / 2, 0, 1),
            lineElem(w, r, w, h - r), arcElem(w - r, h - r, r, 0, kPi / 2, 1),
            lineElem(w - r, h, r, h), arcElem(r, h - r, r, kPi / 2, kPi, 1),
            lineElem(0, h - r, 0, r), arcElem(r, r, r, kPi, 1.5 * kPi, 1)};
}

int countType(const ContourElement* c, int32_t n, int32_t type) {
    int k = 0;
    for (int32_t i = 0; i < n; ++i) k += c[i].type == type;
    return k;
}

TEST(ChainOffset, CornersByTheirTurn) {
    PocketErrors errors;
    std::vector<ContourElement> out(kClistMaxElements);
    struct Case {
        std::vector<ContourElement> in;
        int side;
        double d;
        int lines, arcs;
    };
    // The bottom edge split in two collinear lines keeps its joint without an arc.
    const std::vector<ContourElement> split = polygon({{0, 0}, {5, 0}, {10, 0}, {10, 10}, {0, 10}});
    const Case cases[] = {
        {split, -1, 1.0, 5, 4},
        {split, 1, 1.0, 5, 0},
        // Corner arcs of the distance's radius shrink to points: a sharp rectangle is left.
        {roundedRect(20, 10, 2), 1, 2.0, 4, 0},
        {roundedRect(20, 10, 2), 1, 1.0, 4, 4},
        {roundedRect(20, 10, 2), -1, 1.0, 4, 4},
    };
    for (const Case& c : cases) {
        int32_t n = 0;
        EXPECT_EQ(
            offsetElementChain(c.d, c.in.data(), static_cast<int32_t>(c.in.size()), out.data(), &n, c.side),
            kChainBuilt);
        EXPECT_EQ(countType(out.data(), n, kElemLine), c.lines) << c.in.size() << " " << c.side << " " << c.d;
        EXPECT_EQ(countType(out.data(), n, kElemArc), c.arcs) << c.in.size() << " " << c.side << " " << c.d;
        EXPECT_EQ(ringsAlreadyClosed(out.data(), n), 1);
    }
}

TEST(ChainOffset, RoundedRectangleOffsetsByClosedForm) {
    PocketErrors errors;
    std::vector<ContourElement> out(kClistMaxElements);
    int32_t start[4], count[4], end = 0;
    // Inward by the corner radius: the sharp rectangle (16 x 6); outward: the radius grows.
    struct Case {
        int side;
        double d, area;
    };
    const Case cases[] = {
        {1, 2.0, 16 * 6},
        {1, 1.0, 18 * 8 - (4 - kPi) * 1},
        {-1, 1.0, 22 * 12 - (4 - kPi) * 9},
        {1, 4.0, 12 * 2},
    };
    for (const Case& c : cases) {
        const std::vector<ContourElement> in = roundedRect(20, 10, 2);
        ASSERT_EQ(offsetContour(in.data(), 8, c.side, c.d, out.data(), &end, start, count), 1) << c.d;
        const double area = signedArea({out.begin() + start[0], out.begin() + start[0] + count[0]});
        EXPECT_NEAR(area, c.area, 1e-9) << c.side << " " << c.d;
    }
}

}  // namespace
