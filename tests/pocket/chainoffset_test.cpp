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

// The element-chain offset's lines and corner arcs, and the area the contour offset
// encloses, in closed form: the bottom edge split in two collinear lines keeps its
// joint without an arc; inward by the corner radius the corner arcs shrink to points
// and the sharp rectangle (16 x 6) is left; outward the radius grows.
TEST(ChainOffset, CornersByTheirTurnAndAreasByClosedForm) {
    PocketErrors errors;
    std::vector<ContourElement> out(kClistMaxElements);
    int32_t start[4], count[4], end = 0;
    const std::vector<ContourElement> split = polygon({{0, 0}, {5, 0}, {10, 0}, {10, 10}, {0, 10}}),
                                      rounded = roundedRect(20, 10, 2);
    const struct {
        const std::vector<ContourElement>& in;
        int side;
        double d;
        int lines, arcs;
        double area;
    } cases[] = {
        {split, -1, 1.0, 5, 4, 140 + kPi},
        {split, 1, 1.0, 5, 0, 64},
        {rounded, 1, 2.0, 4, 0, 16 * 6},
        {rounded, 1, 1.0, 4, 4, 18 * 8 - (4 - kPi) * 1},
        {rounded, -1, 1.0, 4, 4, 22 * 12 - (4 - kPi) * 9},
        {rounded, 1, 4.0, -1, -1, 12 * 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.in.size() << " " << c.side << " " << c.d);
        const int32_t size = static_cast<int32_t>(c.in.size());
        ASSERT_EQ(offsetContour(c.in.data(), size, c.side, c.d, out.data(), &end, start, count), 1);
        EXPECT_NEAR(signedArea({out.begin() + start[0], out.begin() + start[0] + count[0]}), c.area, 1e-9);
        if (c.lines < 0) continue;
        int32_t n = 0;
        EXPECT_EQ(offsetElementChain(c.d, c.in.data(), size, out.data(), &n, c.side), kChainBuilt);
        EXPECT_EQ(countType(out.data(), n, kElemLine), c.lines);
        EXPECT_EQ(countType(out.data(), n, kElemArc), c.arcs);
        EXPECT_EQ(ringsAlreadyClosed(out.data(), n), 1);
    }
}

}  // namespace
