#include "pocket/chainoffset.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "kernel/base/rng.h"
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
    // A lens of two arcs of radius 10 about (-8, 10) and (8, 10): inward its circles cross twice near
    // each corner, one crossing 10 away from the other.
    const std::vector<ContourElement> needle = polygon({{0, 0}, {10, 0}});
    // A square with corners cut by 1, starting with a cut, inward just as far as its cuts vanish.
    const std::vector<ContourElement> chamfered =
        polygon({{0, 1}, {1, 0}, {9, 0}, {10, 1}, {10, 9}, {9, 10}, {1, 10}, {0, 9}});
    std::vector<ContourElement> turned(rounded.begin() + 1, rounded.end());  // starting with a corner arc
    turned.push_back(rounded[0]);
    const double a = std::atan2(6.0, 8.0), lensArea = 2 * (90.25 * std::acos(8 / 9.5) - 8 * std::sqrt(26.25));
    const std::vector<ContourElement> lens = {arcElem(-8, 10, 10, -a, a, 1),
                                              arcElem(8, 10, 10, kPi - a, kPi + a, 1)};
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
        {chamfered, 1, 1 + std::sqrt(0.5), 4, 0, (8 - std::sqrt(2.0)) * (8 - std::sqrt(2.0))},
        {rounded, 1, 1.0, 4, 4, 18 * 8 - (4 - kPi) * 1},
        {rounded, -1, 1.0, 4, 4, 22 * 12 - (4 - kPi) * 9},
        {rounded, 1, 4.0, -1, -1, 12 * 2},
        {lens, 1, 0.5, 0, 2, lensArea},
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
        // A closed chain closes also with the open-chain switch on.
        int32_t again = 0;
        pocketOffsetState().openChain = 1;
        EXPECT_EQ(offsetElementChain(c.d, c.in.data(), size, out.data() + n, &again, c.side), kChainBuilt);
        pocketOffsetState().openChain = 0;
        ASSERT_EQ(again, n);
        EXPECT_EQ(std::memcmp(out.data(), out.data() + n, n * sizeof(ContourElement)), 0);
    }
    // A needle reverses at both its corners: the chain is the stadium about it.
    int32_t m = 0;
    ASSERT_EQ(offsetElementChain(1.0, needle.data(), 2, out.data(), &m, -1), kChainBuilt);
    EXPECT_EQ(countType(out.data(), m, kElemLine) * 10 + countType(out.data(), m, kElemArc), 22);
    EXPECT_NEAR(signedArea({out.begin(), out.begin() + m}), 20 + kPi, 1e-9);
    // A full circle offset towards its centre by its radius is built, as nothing.
    const ContourElement disc = arcElem(3, 4, 2, 0, 2 * kPi, 1);
    EXPECT_EQ(std::pair(offsetElementChain(2.0, &disc, 1, out.data(), &m, 1), m),
              std::pair(int{kChainBuilt}, 0));
    // A first arc whose radius is 1e-6 off its ends' distance, either way round: every arc comes out with
    // its ends on its circle.
    std::vector<ContourElement> skew = turned;
    skew[0].g[kAr] += 1e-6;
    for (int side : {-1, 1}) {
        int32_t n = 0;
        ASSERT_GT(offsetElementChain(1.0, skew.data(), 8, out.data(), &n, side), kChainFailed);
        for (int32_t i = 0; i < n; ++i) {
            const ContourElement& e = out[static_cast<size_t>(i)];
            for (int k = 0; e.type == kElemArc && k < 2; ++k)
                EXPECT_NEAR(std::hypot(e.g[kAsx + 2 * k] - e.g[kAcx], e.g[kAsy + 2 * k] - e.g[kAcy]),
                            e.g[kAr], 1e-9)
                    << side << " " << i;
        }
    }
}

}  // namespace

namespace {

// A convex polygon (counter-clockwise) with its corners rounded by rho: the polygon grown by a disc.
std::vector<ContourElement> grownPolygon(const std::vector<Vec2>& k, double rho) {
    std::vector<ContourElement> c;
    const size_t n = k.size();
    auto normal = [&](size_t i) {
        const Vec2 a = k[i], b = k[(i + 1) % n];
        const double l = std::hypot(b.x - a.x, b.y - a.y);
        return Vec2{(b.y - a.y) / l, -(b.x - a.x) / l};
    };
    for (size_t i = 0; i < n; ++i) {
        const Vec2 a = k[i], b = k[(i + 1) % n], m = normal(i), m2 = normal((i + 1) % n);
        c.push_back(lineElem(a.x + rho * m.x, a.y + rho * m.y, b.x + rho * m.x, b.y + rho * m.y));
        if (rho > 0) c.push_back(arcElem(b.x, b.y, rho, std::atan2(m.y, m.x), std::atan2(m2.y, m2.x), 1));
    }
    return c;
}

// The convex polygon with some edges bowed out into arcs of sweep 2 beta[i] (0 keeps the line).
std::vector<ContourElement> bowedPolygon(const std::vector<Vec2>& k, const std::vector<double>& beta) {
    std::vector<ContourElement> c;
    for (size_t i = 0; i < k.size(); ++i) {
        const Vec2 a = k[i], b = k[(i + 1) % k.size()];
        if (beta[i] == 0) {
            c.push_back(lineElem(a.x, a.y, b.x, b.y));
            continue;
        }
        const double half = 0.5 * std::hypot(b.x - a.x, b.y - a.y), back = half / std::tan(beta[i]);
        const Vec2 centre{0.5 * (a.x + b.x) - back * (b.y - a.y) / (2 * half),
                          0.5 * (a.y + b.y) + back * (b.x - a.x) / (2 * half)};
        const double a0 = std::atan2(a.y - centre.y, a.x - centre.x);
        ContourElement e = arcElem(centre.x, centre.y, half / std::sin(beta[i]), a0, a0 + 2 * beta[i], 1);
        e.g[kAsx] = a.x;
        e.g[kAsy] = a.y;
        e.g[kAex] = b.x;
        e.g[kAey] = b.y;
        c.push_back(e);
    }
    return c;
}

// Offsets of seeded convex shapes (polygons sharp, rounded, or with edges bowed into arcs), either way
// round: every point of the result lies at the distance from the input, the chain is closed, and the
// area follows the grown core: A + P r + pi r^2 for a core grown by r (Steiner), A - P d + d^2
// sum tan(phi / 2) inside a sharp polygon.
TEST(ChainOffset, ConvexOffsetsKeepTheDistanceAndTheGrownArea) {
    PocketErrors errors;
    rngResetState();
    std::vector<ContourElement> out(kClistMaxElements);
    int tested = 0;
    for (int run = 0; run < 90; ++run) {
        const int n = 3 + static_cast<int>(rngBelow(6));
        std::vector<double> ang;
        for (int i = 0; i < n; ++i) ang.push_back(2 * kPi * rngUniform());
        std::sort(ang.begin(), ang.end());
        std::vector<Vec2> k;
        for (double a : ang) {
            const double r = 5 + 5 * rngUniform();
            k.push_back({r * std::cos(a), r * std::sin(a)});
        }
        // Drop corners that leave the polygon not strictly convex.
        for (bool again = true; again && k.size() > 3;) {
            again = false;
            for (size_t i = 0; i < k.size(); ++i) {
                const Vec2 a = k[(i + k.size() - 1) % k.size()], b = k[i], c = k[(i + 1) % k.size()];
                const double cr = (b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x);
                if (cr < 1 || std::hypot(c.x - b.x, c.y - b.y) < 1) {
                    k.erase(k.begin() + static_cast<long>(i));
                    again = true;
                    break;
                }
            }
        }
        double area = 0, perim = 0, tans = 0;
        bool convex = true, blunt = true;
        std::vector<double> turn;
        for (size_t i = 0; i < k.size(); ++i) {
            const Vec2 a = k[i], b = k[(i + 1) % k.size()], c = k[(i + 2) % k.size()];
            area += 0.5 * (a.x * b.y - b.x * a.y);
            perim += std::hypot(b.x - a.x, b.y - a.y);
            const double phi = std::atan2((b.x - a.x) * (c.y - b.y) - (b.y - a.y) * (c.x - b.x),
                                          (b.x - a.x) * (c.x - b.x) + (b.y - a.y) * (c.y - b.y));
            convex = convex && phi > 0.05;
            blunt = blunt && phi > 0.3 && phi < 2.5;
            turn.push_back(phi);  // at k[i + 1]
            tans += std::tan(phi / 2);
        }
        if (!convex) continue;
        ++tested;
        const double rho = run % 3 == 0 ? 0 : 0.5 + 2 * rngUniform();
        const bool inward = run % 2 == 1;
        const bool bowed = rho == 0 && (run / 3) % 2 == 1 && blunt;
        double d = 0.2 + 2 * rngUniform();
        if (inward && rho > 0) d = std::min(d, 0.9 * rho);
        if (inward && rho == 0) {
            // Keep every edge longer than what the inner corners take off it.
            double room = 1e9;
            for (size_t i = 0; i < k.size(); ++i) {
                const Vec2 a = k[i], b = k[(i + 1) % k.size()];
                room = std::min(room, std::hypot(b.x - a.x, b.y - a.y));
            }
            d = std::min(d, (bowed ? 0.05 : 0.3 / std::max(1.0, tans)) * room);
        }
        std::vector<double> beta(k.size(), 0.0);
        for (size_t i = 0; bowed && i < k.size(); ++i)
            if (rngBelow(3))
                beta[i] = 0.4 * std::min({1.0, turn[i], turn[(i + k.size() - 1) % k.size()]}) *
                          (0.2 + rngUniform());
        std::vector<ContourElement> in = bowed ? bowedPolygon(k, beta) : grownPolygon(k, rho);
        if (bowed) {
            area = std::fabs(signedArea(in));
            perim = perimeter(in);
        }
        const bool ccw = run % 4 < 2;
        if (!ccw) {
            std::reverse(in.begin(), in.end());
            for (ContourElement& e : in) {
                const bool arc = e.type == kElemArc;
                std::swap(e.g[arc ? kAsx : kLx1], e.g[arc ? kAex : kLx2]);
                std::swap(e.g[arc ? kAsy : kLy1], e.g[arc ? kAey : kLy2]);
                if (arc) e.direction = -e.direction;
            }
        }
        const int side = (ccw ? -1 : 1) * (inward ? -1 : 1);
        int32_t m = 0;
        ASSERT_EQ(offsetElementChain(d, in.data(), static_cast<int32_t>(in.size()), out.data(), &m, side),
                  kChainBuilt)
            << run;
        const std::vector<ContourElement> ring(out.begin(), out.begin() + m);
        EXPECT_EQ(ringsAlreadyClosed(ring.data(), m), 1) << run;
        const double grown = rho + (inward ? -d : d);
        const double want =
            rho == 0 && inward ? area - perim * d + d * d * tans : area + perim * grown + kPi * grown * grown;
        if (!(bowed && inward)) {
            EXPECT_NEAR(std::fabs(signedArea(ring)), want, 1e-7 * want) << run;
        }
        EXPECT_EQ(signedArea(ring) > 0, ccw) << run;
        EXPECT_EQ(m, static_cast<int32_t>(rho == 0 && inward ? k.size() : 2 * k.size())) << run;
        for (const Vec2& p : samples(ring, 0.05)) EXPECT_NEAR(distanceTo(p, in), d, 1e-7) << run;
    }
    EXPECT_GE(tested, 40);
}

}  // namespace
