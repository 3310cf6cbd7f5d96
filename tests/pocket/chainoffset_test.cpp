#include "pocket/chainoffset.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "pocket/contouroffset.h"
#include "pocket/pocket_util.h"

namespace {

constexpr double kPi = 3.141592653589793;

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
        for (int32_t i = 0; i < n; ++i) {
            // Every element starts where the one before it ends.
            const ContourElement& a = out[(i + n - 1) % n];
            const ContourElement& b = out[i];
            const double ex = a.type == kElemArc ? a.g[kAex] : a.g[kLx2],
                         ey = a.type == kElemArc ? a.g[kAey] : a.g[kLy2];
            const double sx = b.type == kElemArc ? b.g[kAsx] : b.g[kLx1],
                         sy = b.type == kElemArc ? b.g[kAsy] : b.g[kLy1];
            EXPECT_NEAR(std::hypot(ex - sx, ey - sy), 0, 1e-9);
        }
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
        double area = 0;
        for (int32_t i = 0; i < count[0]; ++i) {
            const ContourElement& e = out[start[0] + i];
            const double sx = e.type == kElemArc ? e.g[kAsx] : e.g[kLx1],
                         sy = e.type == kElemArc ? e.g[kAsy] : e.g[kLy1];
            const double ex = e.type == kElemArc ? e.g[kAex] : e.g[kLx2],
                         ey = e.type == kElemArc ? e.g[kAey] : e.g[kLy2];
            area += 0.5 * (sx * ey - ex * sy);
            if (e.type == kElemArc)
                area += 0.5 * e.g[kAr] * e.g[kAr] * (kPi / 2 - 1);  // quarter-circle segments
        }
        EXPECT_NEAR(area, c.area, 1e-9) << c.side << " " << c.d;
    }
}

TEST(ChainOffset, ElementWithoutDirectionFails) {
    PocketErrors errors;
    std::vector<ContourElement> in = polygon({{0, 0}, {10, 0}, {10, 10}, {0, 10}});
    in.insert(in.begin() + 1, lineElem(10, 0, 10, 0));
    std::vector<ContourElement> out(kClistMaxElements);
    int32_t n = -1;
    EXPECT_EQ(offsetElementChain(1.0, in.data(), 5, out.data(), &n, 1), kChainFailed);
}

}  // namespace
