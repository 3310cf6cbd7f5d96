// The plunge cycle over a family of generated impellers: blade count, splitters, wrap, thickness,
// splitter start, hub depth and tool radius drawn from seeds. Every run is judged by the design alone:
// either it ends with status 0, the tool (ball, shank and holder) at every position and along every
// move of a plunge clears every blade copy and the hub solid (end faces included) within the job's
// precision, and the plunge bottoms cover the channel's hub from inlet to outlet; or it ends with status
// 1 and a numbered reason, and the tool's ball indeed cannot pass the narrowest channel. It runs in the
// optimised build only: under the sanitizers its runs take many minutes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../bladeclear.h"
#include "../whole/hostrun.h"
#include "../hubclear.h"
#include "impeller.h"
#include "kernel/base/rng.h"
#include "platform/testenv.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// The tool above the ball's centre, heights along the axis: the job's holder stages (written below).
constexpr double kLength2 = 30, kDiameter2 = 15, kLength1 = 50, kDiameter1 = 30;

struct Case {
    const char* name;
    ImpellerOptions opt;
    double precision;
    double hubAllowance = 0;  // *AUFMASS_HUB
};

double between(Rng* rng, double lo, double hi) {
    return lo + (hi - lo) * rngStep(rng) / double(kRngMax);
}

// Seeded members: blade counts 5 to 13 in turn, every third without splitters, the rest drawn.
Case drawn(uint32_t seed) {
    Rng rng{seed * 7919u + 13u};
    Case c{"seeded", {}, 0.03};
    ImpellerOptions& o = c.opt;
    o.blades = 5 + int32_t(seed % 9);
    o.splitters = seed % 3 == 2 ? 0 : 1;
    o.wrapDeg = between(&rng, 15, 45);
    o.thickness = between(&rng, 1, 4);
    o.splitterStart = between(&rng, 0.2, 0.6);
    o.hubDepth = between(&rng, 0.5, 3);
    o.toolRadius = between(&rng, 1, 3);
    // Every other member leaves a hub allowance: the bottoms rise off the hub, the paths' corners bend
    // toward the blades.
    if (seed % 2 == 0) c.hubAllowance = between(&rng, 0.1, 0.5);
    return c;
}

std::vector<Case> cases() {
    std::vector<Case> all;
    // The parts the cycle was reported to fail on: rows that stopped where the splitters begin and
    // departures into the hub's inlet edge (tool radius 1.25), a shank into a splitter (eleven blades).
    ImpellerOptions a;
    a.toolRadius = 1.25, a.splitterStart = 0.35;
    all.push_back({"smallToolEarlySplitter", a, 0.03});
    ImpellerOptions c;
    c.blades = 11, c.wrapDeg = 40, c.toolRadius = 1.5;
    all.push_back({"elevenBladesWrap40", c, 0.03});
    for (uint32_t s = 1; s <= 12; ++s) all.push_back(drawn(s));
    return all;
}

// ---- The design, as the generator states it ----

struct Design {
    ImpellerOptions o;
    hubclear::Hub hub;
    double pitch, wrap, hubLength;
};

Design designOf(const ImpellerOptions& o) {
    Design d{o, hubclear::designHub(o.hubStartR, o.hubStartZ, o.hubEndR, o.hubEndZ), 2 * kPi / o.blades,
             o.wrapDeg * kPi / 180, 0};
    for (int i = 1; i <= 1000; ++i) {
        const Vec2 a = d.hub.at((i - 1) / 1000.0), b = d.hub.at(i / 1000.0);
        d.hubLength += dist2D(&a, &b);
    }
    return d;
}

// The ball's centre over the hub at Bezier parameter t: the hub point moved by the radius along the
// normal, turned to angle phi.
Vec3 centreAt(const Design& d, double t, double phi, double radius) {
    const Vec2 p = d.hub.at(t), n = d.hub.normal(t);
    const double r = p.x + radius * n.x;
    return {r * std::cos(phi), r * std::sin(phi), p.y + radius * n.y};
}

// Angle about z of the blade's mean surface where it meets the hub at parameter t (the generator turns
// chord station t by wrap t, and its hub station is the hub's own Bezier point at t).
double bladeAngle(const Design& d, double t) {
    return d.wrap * t;
}

// ---- The tool ----

struct Stage {
    double bottom, top, radius;
};

std::vector<Stage> toolStages(const ImpellerOptions& o) {
    const double depth = o.shroudOffset + o.hubDepth;
    const double total = std::ceil(3.0 * depth + 10.0);  // the generated job's *TOTAL_TOOL_LENGTH
    const double shankTop = total - o.toolRadius;
    return {{0, shankTop, o.toolRadius},
            {shankTop, shankTop + kLength2, kDiameter2 / 2},
            {shankTop + kLength2, shankTop + kLength2 + kLength1, kDiameter1 / 2}};
}

// How deep q lies in the tool at c with axis a: the ball rounds the first stage, the others are
// straight cylinders. Negative outside.
double toolDepth(const std::vector<Stage>& st, const Vec3& c, const Vec3& a, const Vec3& q) {
    const Vec3 w{q.x - c.x, q.y - c.y, q.z - c.z};
    const double h = vecDot3D(&w, &a);
    const double rho = std::sqrt(std::max(0.0, vecDot3D(&w, &w) - h * h));
    const double hc = std::clamp(h, 0.0, st[0].top);
    double depth = st[0].radius - std::hypot(rho, h - hc);
    for (size_t i = 1; i < st.size(); ++i)
        depth = std::max(depth, std::min({st[i].radius - rho, h - st[i].bottom, st[i].top - h}));
    return depth;
}

// How deep the hub solid reaches into the tool, when deeper than floor: each stage taken as the capsule
// around its stretch of the axis (the ball and shank exactly; a holder stage by a little more than
// itself).
double hubDepthIn(const hubclear::Solid& hub, const std::vector<Stage>& st, const Vec3& c, const Vec3& a,
                  double floor) {
    double depth = -1e300;
    for (const Stage& s : st)
        depth =
            std::max(depth, s.radius - hubclear::axisDistance(hub, c, a, s.bottom, s.top, s.radius - floor));
    return depth;
}

// ---- Whether the ball can pass ----

// The largest ball centred on the centre surface (hub offset by the radius) at parameter t that fits
// between the blade sides of each stretch of the pitch, the smallest over the stretches: sampled along
// the angle, each sample's distance to the blades taken on the exact surfaces.
double passAt(const Design& d, const bladeclear::Wheel& wheel, double t, double radius) {
    const double a0 = bladeAngle(d, t);
    std::vector<double> cuts{a0, a0 + d.pitch};
    if (d.o.splitters && t >= d.o.splitterStart) cuts.insert(cuts.begin() + 1, a0 + d.pitch / 2);
    double worst = 1e300;
    const double r = centreAt(d, t, 0, radius).x;
    // The distance of a centre from the blades, exact up to the radius and half a millimetre: deepest()
    // of how far inside a ball of twice the radius around the centre.
    const double far = 2 * radius, cap = radius + 0.5;
    auto clearance = [&](double phi) {
        const Vec3 c = centreAt(d, t, phi, radius);
        return std::min(cap,
                        far - wheel.deepest([&](const Vec3& q) { return far - dist3D(&q, &c); }, far - cap));
    };
    for (size_t k = 0; k + 1 < cuts.size(); ++k) {
        // Samples about 0.2 apart, then a golden-section search around the best of them.
        const int n = std::max(8, int((cuts[k + 1] - cuts[k]) * r / 0.2));
        const double step = (cuts[k + 1] - cuts[k]) / n;
        int at = 1;
        double best = -1;
        for (int i = 1; i < n; ++i) {
            const double e = clearance(cuts[k] + step * i);
            if (e > best) best = e, at = i;
        }
        double lo = cuts[k] + step * (at - 1), hi = cuts[k] + step * (at + 1);
        const double g = 0.5 * (std::sqrt(5.0) - 1);
        for (int i = 0; i < 20 && best < cap; ++i) {
            const double x1 = hi - g * (hi - lo), x2 = lo + g * (hi - lo);
            const double e1 = clearance(x1), e2 = clearance(x2);
            best = std::max({best, e1, e2});
            (e1 > e2 ? hi : lo) = e1 > e2 ? x2 : x1;
        }
        worst = std::min(worst, best);
    }
    return worst;
}

// The narrowest fit along the hub, between the blades' leading and trailing edges.
double narrowestFit(const Design& d, const bladeclear::Wheel& wheel, double radius) {
    double worst = 1e300;
    for (int i = 1; i < 40; ++i) worst = std::min(worst, passAt(d, wheel, i / 40.0, radius));
    return worst;
}

// ---- Coverage ----

// Hub stations (Bezier t, angle) of the centre surface (the hub grown by the allowance lift) inside the
// channel's reach that lie farther than the radius from every plunge bottom. The reach keeps clear of the
// blade sides by half the thickness, the radius and half a millimetre, and of the blades' ends by the radius
// and a millimetre.
std::vector<std::pair<double, double>> uncovered(const Design& d, const std::vector<Vec3>& bottoms,
                                                 double radius, double lift) {
    std::vector<std::pair<double, double>> holes;
    const double endMargin = (radius + 1.0) / d.hubLength;
    for (double t = endMargin; t <= 1 - endMargin; t += 0.25 / d.hubLength) {
        const double a0 = bladeAngle(d, t);
        const Vec3 c0 = centreAt(d, t, 0, radius + lift);
        const double r = c0.x;
        const Vec2 dm = d.hub.tangent(t);
        // The blade crosses the meridian at beta: square to it the angular gap shrinks by cos(beta).
        const double cosBeta = 1 / std::sqrt(1 + std::pow(r * d.wrap / std::hypot(dm.x, dm.y), 2));
        const double side = (0.5 * d.o.thickness + radius + 0.5) / (r * cosBeta);
        std::vector<std::pair<double, double>> spans{{a0 + side, a0 + d.pitch - side}};
        if (d.o.splitters && t >= d.o.splitterStart - (radius + 1.0) / d.hubLength) {
            spans = {{a0 + side, a0 + d.pitch / 2 - side}, {a0 + d.pitch / 2 + side, a0 + d.pitch - side}};
            // Around the splitter's nose the reach is its leading edge's.
            if (t < d.o.splitterStart + (radius + 1.0) / d.hubLength) continue;
        }
        for (const auto& [lo, hi] : spans)
            for (double phi = lo; phi <= hi; phi += 0.25 / r) {
                const Vec3 c = centreAt(d, t, phi, radius + lift);
                double nearest = 1e300;
                for (const Vec3& b : bottoms) nearest = std::min(nearest, dist3D(&b, &c));
                if (nearest > radius) holes.push_back({t, phi});
            }
    }
    return holes;
}

class ImpZoo : public ::testing::TestWithParam<Case> {};

}  // namespace

TEST_P(ImpZoo, MachinedWholeAndClearOrRefusedWithAReason) {
    const Case& cs = GetParam();
    TempFolder tmp("zoo");
    ImpellerOptions o = cs.opt;
    o.outDir = tmp.path();
    o.narrowOk = 1;
    std::string why;
    ASSERT_EQ(impWriteAll(o, &why), 1) << why;
    std::ofstream(std::filesystem::path(tmp.path()) / kImpJobFile, std::ios::app)
        << "*REPORT report.txt\n*REPORT_CLASS 9\n*PRECISION " << cs.precision << "\n*LENGTH1 " << kLength1
        << "\n*DIAMETER1 " << kDiameter1 << "\n*LENGTH2 " << kLength2 << "\n*DIAMETER2 " << kDiameter2
        << "\n";
    if (cs.hubAllowance > 0)
        std::ofstream(std::filesystem::path(tmp.path()) / kImpJobFile, std::ios::app)
            << "*AUFMASS_HUB " << cs.hubAllowance << "\n";
    const hostrun::Run run = hostrun::runJob(tmp.path(), kImpJobFile);
    ASSERT_EQ(run.started, 1);
    const Design d = designOf(o);
    bladeclear::Wheel wheel;
    ASSERT_TRUE(wheel.add(tmp.path() + "/" + kImpBladeFile, o.blades, 0.3));
    if (o.splitters) {
        ASSERT_TRUE(wheel.add(tmp.path() + "/" + kImpSplitFile, o.blades, 0.3));
    }
    const double fit = narrowestFit(d, wheel, o.toolRadius);
    std::string sent;
    for (const std::string& m : run.trace.messages)
        if (m.rfind("9999,", 0) != 0 && m.rfind("6232,", 0) != 0) sent += " " + m;
    std::printf(
        "[ case ] %s: blades %d%s wrap %.1f thickness %.2f start %.2f depth %.2f tool %.2f allowance %.2f: "
        "the ball "
        "fits the narrowest channel with %.3f (at most %.1f told); status %d, %zu plunges\n",
        cs.name, o.blades, o.splitters ? "+s" : "", o.wrapDeg, o.thickness, o.splitterStart, o.hubDepth,
        o.toolRadius, cs.hubAllowance, fit, o.toolRadius + 0.5, run.status, run.trace.bottoms().size());
    // Within a tenth of a millimetre of the tool's radius either outcome may hold.
    if (run.status != KV_STATUS_OK) {
        EXPECT_EQ(run.status, KV_STATUS_FAILED);
        EXPECT_LT(fit, o.toolRadius + 0.1) << "a passable part refused:" << sent;
        EXPECT_TRUE(run.trace.sent(6222) || run.trace.sent(6007) || run.trace.sent(6226)) << sent;
        EXPECT_EQ(run.trace.blocks, 0);
        return;
    }
    EXPECT_GE(fit, o.toolRadius - 0.1) << "the ball cannot pass, yet the run ends with status 0";
    const std::vector<Stage> st = toolStages(o);
    const hubclear::Solid solid(d.hub);
    // The tool at every position, and every half millimetre along the moves inside a plunge block that
    // leave the tool's axis (the departures), the axis between its ends: moving along its own axis the
    // tool sweeps nothing that its two ends do not hold.
    double blade = -1e300, hub = -1e300;
    size_t worstBlade = 0, worstHub = 0;
    auto check = [&](const Vec3& p, const Vec3& axis, size_t i) {
        Vec3 a;
        if (vecNormalize3D(&axis, &a) != 1) return false;
        const double b = wheel.deepest([&](const Vec3& q) { return toolDepth(st, p, a, q); }, cs.precision);
        if (b > blade) blade = b, worstBlade = i;
        const double h = hubDepthIn(solid, st, p, a, 0.5 * cs.precision);
        if (h > hub) hub = h, worstHub = i;
        return true;
    };
    for (size_t i = 0; i < run.trace.moves.size(); ++i) {
        const nctrace::Move& m = run.trace.moves[i];
        ASSERT_TRUE(check(m.p, m.axis, i)) << i;
        if (i == 0 || m.block < 0 || run.trace.moves[i - 1].block != m.block) continue;
        const nctrace::Move& from = run.trace.moves[i - 1];
        const Vec3 step{m.p.x - from.p.x, m.p.y - from.p.y, m.p.z - from.p.z};
        Vec3 across;
        cross3D(&step, &m.axis, &across);
        if (vecLen3D(&across) < 1e-6 * vecLen3D(&m.axis)) continue;
        const int n = int(dist3D(&from.p, &m.p) / 0.5);
        for (int k = 1; k < n; ++k) {
            const double f = double(k) / n;
            check({from.p.x + f * (m.p.x - from.p.x), from.p.y + f * (m.p.y - from.p.y),
                   from.p.z + f * (m.p.z - from.p.z)},
                  {from.axis.x + f * (m.axis.x - from.axis.x), from.axis.y + f * (m.axis.y - from.axis.y),
                   from.axis.z + f * (m.axis.z - from.axis.z)},
                  i);
        }
    }
    auto where = [&](size_t i) {
        std::string out;
        for (size_t k = i > 2 ? i - 2 : 0; k < std::min(run.trace.moves.size(), i + 3); ++k) {
            const nctrace::Move& m = run.trace.moves[k];
            char line[200];
            std::snprintf(line, sizeof line, "\n  %s%zu (%.3f %.3f %.3f) axis (%.3f %.3f %.3f) block %d",
                          k == i ? "*" : " ", k, m.p.x, m.p.y, m.p.z, m.axis.x, m.axis.y, m.axis.z, m.block);
            out += line;
        }
        return out;
    };
    EXPECT_LE(blade, cs.precision) << "deepest into a blade at or before move " << worstBlade
                                   << where(worstBlade);
    EXPECT_LE(hub, cs.precision) << "deepest into the hub at or before move " << worstHub << where(worstHub);
    std::vector<Vec3> bottoms;
    for (const nctrace::Move& m : run.trace.bottoms()) bottoms.push_back(m.p);
    const auto holes = uncovered(d, bottoms, o.toolRadius, cs.hubAllowance);
    EXPECT_TRUE(holes.empty()) << holes.size()
                               << " hub stations farther than the radius from every plunge, the "
                               << "first at t " << (holes.empty() ? 0 : holes.front().first);
}

INSTANTIATE_TEST_SUITE_P(Impellers, ImpZoo, ::testing::ValuesIn(cases()),
                         [](const testing::TestParamInfo<Case>& i) {
                             return std::to_string(i.index) + "_" + i.param.name;
                         });
