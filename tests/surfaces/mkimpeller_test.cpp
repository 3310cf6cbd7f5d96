// The example impeller generator: its files read back through the surface reader and keep the design.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "impeller.h"
#include "surf_fixtures.h"
#include "surfaces/deboor.h"
#include "surfaces/kvxsurf.h"
#include "surfaces/nurbs.h"

namespace {

// The basis-function evaluator, a second one beside the De Boor evaluator the generator's fits never use.
void basisEval(const BsplSurface& s, double u, double v, Vec3* p, Vec3* su = nullptr, Vec3* sv = nullptr) {
    ASSERT_EQ(nurbsSurfEval(&s, u, v, p), 1);
    ASSERT_TRUE(su == nullptr || nurbsSurfDu(&s, u, v, su) == 1);
    ASSERT_TRUE(sv == nullptr || nurbsSurfDv(&s, u, v, sv) == 1);
}

std::string slurp(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

struct Lists {
    SurfList *hub = newSurfList(4), *shroud = newSurfList(4), *blade = newSurfList(4),
             *split = newSurfList(4);
    ~Lists() {
        for (SurfList* l : {hub, shroud, blade, split}) freeSurfList(l);
    }
};

// Generates into dir and reads every file back.
void generateAndRead(const ImpellerOptions& opt, Lists* l) {
    std::string why;
    ASSERT_EQ(impWriteAll(opt, &why), 1) << why;
    const std::filesystem::path dir(opt.outDir);
    for (const auto& [name, list] : {std::pair{kImpHubFile, l->hub}, std::pair{kImpShroudFile, l->shroud},
                                     std::pair{kImpBladeFile, l->blade}, std::pair{kImpSplitFile, l->split}})
        ASSERT_TRUE((list == l->split && !opt.splitters) || readSurfObjects((dir / name).c_str(), list) == 1)
            << name;
}

// Meridian control points as the design states them, evaluated by Bernstein sums.
Vec2 hubBezier(const ImpellerOptions& o, double t) {
    const Vec2 p[4] = {{o.hubStartR, o.hubStartZ},
                       {o.hubStartR, 0.5 * (o.hubStartZ + o.hubEndZ)},
                       {0.5 * (o.hubStartR + o.hubEndR), o.hubEndZ},
                       {o.hubEndR, o.hubEndZ}};
    const double s = 1 - t, b[4] = {s * s * s, 3 * s * s * t, 3 * s * t * t, t * t * t};
    Vec2 q{0, 0};
    for (int i = 0; i < 4; ++i) q.x += b[i] * p[i].x, q.y += b[i] * p[i].y;
    return q;
}

// Signed distance of (r, z) from a dense meridian polyline; positive on its left (the channel side
// of the hub, which runs from the inlet to the outlet).
double signedToPolyline(const std::vector<Vec2>& line, double r, double z) {
    double best = 1e300, sign = 1;
    for (size_t i = 0; i + 1 < line.size(); ++i) {
        const Vec2 a = line[i], b = line[i + 1];
        const double dx = b.x - a.x, dz = b.y - a.y, l2 = dx * dx + dz * dz;
        double t = ((r - a.x) * dx + (z - a.y) * dz) / l2;
        t = std::fmin(1, std::fmax(0, t));
        const double fx = a.x + t * dx, fz = a.y + t * dz, d = std::hypot(r - fx, z - fz);
        if (d < best) best = d, sign = (dx * (z - fz) - dz * (r - fx)) >= 0 ? 1 : -1;
    }
    return sign * best;
}

std::vector<Vec2> meridianOf(const TrimSurface& rec) {
    std::vector<Vec2> line;
    for (int k = 0; k <= 2000; ++k) {
        Vec3 p;
        basisEval(rec.surface, k / 2000.0, 0.0, &p);
        line.push_back({std::hypot(p.x, p.y), p.z});
    }
    return line;
}

ImpellerOptions optionsIn(const std::filesystem::path& dir) {
    ImpellerOptions o;
    o.outDir = dir.string();
    return o;
}

}  // namespace

TEST(MkImpeller, FilesReadBackAndFollowTheTextRules) {
    const auto dir = tempDir();
    Lists l;
    generateAndRead(optionsIn(dir), &l);
    EXPECT_EQ(l.hub->count, 1);
    EXPECT_EQ(l.shroud->count, 1);
    EXPECT_EQ(l.blade->count, 4);  // two sides, two caps
    EXPECT_EQ(l.split->count, 4);
    for (const char* name : {kImpHubFile, kImpShroudFile, kImpBladeFile, kImpSplitFile}) {
        const std::string text = slurp(dir / name);
        EXPECT_EQ(text.find('\r'), std::string::npos) << name;
        EXPECT_EQ(text.find("\n\n"), std::string::npos) << name;
        std::istringstream in(text);
        int objects = 0;
        for (std::string line; std::getline(in, line);) {
            EXPECT_LE(line.size(), 1022u) << name;
            if (line.find("oBsplSrf") != std::string::npos) {
                EXPECT_EQ(line.rfind("oBsplSrf", 0), 0u);
                ++objects;
            }
        }
        EXPECT_GE(objects, 1) << name;
    }
    for (SurfList* list : {l.hub, l.shroud, l.blade, l.split})
        for (int32_t k = 0; k < list->count; ++k) {
            const TrimSurface& rec = list->entries[k];
            const BsplSurface& s = rec.surface;
            EXPECT_LE(s.uOrder, 30);
            EXPECT_LE(s.vOrder, 30);
            EXPECT_GE(s.uKnots[s.uNum + s.uOrder - 1] - s.uKnots[0], 0.5);
            EXPECT_GE(s.vKnots[s.vNum + s.vOrder - 1] - s.vKnots[0], 0.5);
            ASSERT_EQ(rec.loopCount, 1);  // the outer loop first (and only)
            EXPECT_DOUBLE_EQ(rec.umin, 0.0);
            EXPECT_DOUBLE_EQ(rec.vmax, 1.0);
        }
}

TEST(MkImpeller, HubAndShroudRevolveTheirMeridians) {
    const auto dir = tempDir();
    struct Case {
        double r0, z0, r1, z1, offset;
    };
    const Case cases[] = {{15, 40, 60, 5, 18}, {10, 30, 80, -5, 12}, {25, 70, 50, 20, 8}};
    std::mt19937 rng(24);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const Case& c : cases) {
        ImpellerOptions o = optionsIn(dir);
        o.hubStartR = c.r0, o.hubStartZ = c.z0, o.hubEndR = c.r1, o.hubEndZ = c.z1, o.shroudOffset = c.offset;
        Lists l;
        generateAndRead(o, &l);
        ASSERT_EQ(l.hub->count, 1);
        ASSERT_EQ(l.shroud->count, 1);
        for (int k = 0; k < 200; ++k) {
            const double u = unit(rng), v = unit(rng);
            Vec3 p;
            ASSERT_EQ(evalNurbsSurfPoint(&l.hub->entries[0].surface, u, v, &p), 1);
            const Vec2 m = hubBezier(o, u);
            EXPECT_NEAR(std::hypot(p.x, p.y), m.x, 1e-9);
            EXPECT_NEAR(p.z, m.y, 1e-9);
        }
        // The shroud ends lie exactly the offset off the hub ends, square to the hub; in between
        // it keeps roughly the offset.
        Vec3 s0, s1;
        basisEval(l.shroud->entries[0].surface, 0.0, 0.3, &s0);
        basisEval(l.shroud->entries[0].surface, 1.0, 0.7, &s1);
        EXPECT_NEAR(std::hypot(s0.x, s0.y), c.r0 + c.offset, 1e-6);  // the evaluator stays 1e-8 inside
        EXPECT_NEAR(s0.z, c.z0, 1e-6);
        EXPECT_NEAR(std::hypot(s1.x, s1.y), c.r1, 1e-6);
        EXPECT_NEAR(s1.z, c.z1 + c.offset, 1e-6);
        const std::vector<Vec2> hub = meridianOf(l.hub->entries[0]);
        for (const Vec2& q : meridianOf(l.shroud->entries[0])) {
            const double d = signedToPolyline(hub, q.x, q.y);
            EXPECT_TRUE(d > 0.85 * c.offset && d < 1.15 * c.offset) << d;
        }
    }
}

TEST(MkImpeller, BladeSidesKeepTheThicknessAndCrossHubAndShroud) {
    const auto dir = tempDir();
    struct Case {
        int32_t blades;
        double thickness, wrap;
    };
    const Case cases[] = {{8, 2.0, 25.0}, {6, 3.0, 40.0}, {12, 1.5, -20.0}};
    std::mt19937 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const Case& c : cases) {
        ImpellerOptions o = optionsIn(dir);
        o.blades = c.blades, o.thickness = c.thickness, o.wrapDeg = c.wrap, o.toolRadius = 1.5;
        Lists l;
        generateAndRead(o, &l);
        const std::vector<Vec2> hub = meridianOf(l.hub->entries[0]),
                                shroud = meridianOf(l.shroud->entries[0]);
        for (SurfList* list : {l.blade, l.split}) {
            ASSERT_EQ(list->count, 4);
            const TrimSurface& a = list->entries[0];
            const TrimSurface& b = list->entries[1];
            for (int k = 0; k < 40; ++k) {
                const double u = 0.02 + 0.96 * unit(rng), v = 0.1 + 0.8 * unit(rng);
                Vec3 p, Su, Sv;
                basisEval(a.surface, u, v, &p, &Su, &Sv);
                SurfFoot foot;
                double dist = 0;
                ASSERT_EQ(projectPointNurbsSurf(&b, nullptr, &p, &foot, &dist), 1);
                EXPECT_NEAR(dist, c.thickness, 0.01) << u << " " << v;
                // Along the normal: the foot lies square off the tangent plane.
                const Vec3 d{foot.point.x - p.x, foot.point.y - p.y, foot.point.z - p.z};
                const double along = std::fabs(d.x * Su.x + d.y * Su.y + d.z * Su.z) / vecLen3D(&Su) +
                                     std::fabs(d.x * Sv.x + d.y * Sv.y + d.z * Sv.z) / vecLen3D(&Sv);
                EXPECT_LT(along, 0.01);
            }
            // Hub edge (v = 0) inside the hub, tip edge (v = 1) past the shroud, each by about 1.
            for (const TrimSurface* side : {&a, &b})
                for (int k = 0; k <= 20; ++k) {
                    Vec3 lo, hi;
                    basisEval(side->surface, k / 20.0, 0.0, &lo);
                    basisEval(side->surface, k / 20.0, 1.0, &hi);
                    const double below = -signedToPolyline(hub, std::hypot(lo.x, lo.y), lo.z);
                    const double past = signedToPolyline(shroud, std::hypot(hi.x, hi.y), hi.z);
                    EXPECT_TRUE(below > 0.5 && below < 1.5) << below;
                    EXPECT_TRUE(past > 0.5 && past < 1.5) << past;
                }
        }
    }
}

TEST(MkImpeller, OutputIsByteIdenticalAndMatchesTheBundledExample) {
    const auto a = tempDir() / "a", b = tempDir().parent_path() / "kvsurf_second";
    std::filesystem::remove_all(b);
    std::string why;
    ASSERT_EQ(impWriteAll(optionsIn(a), &why), 1) << why;
    ASSERT_EQ(impWriteAll(optionsIn(b), &why), 1) << why;
    const std::filesystem::path example = std::filesystem::path(KV_SOURCE_DIR) / "examples" / "plunge";
    for (const char* name : {kImpHubFile, kImpShroudFile, kImpBladeFile, kImpSplitFile, kImpJobFile}) {
        const std::string first = slurp(a / name);
        EXPECT_FALSE(first.empty()) << name;
        EXPECT_EQ(first, slurp(b / name)) << name;
        EXPECT_EQ(first, slurp(example / name)) << "examples/plunge/" << name << " is not the default output";
    }
    std::filesystem::remove_all(b);
}

TEST(MkImpeller, BadOptionsAreRefusedWithAMessage) {
    const auto dir = tempDir();
    const std::vector<std::vector<const char*>> bad = {
        {"--blades", "1"},      {"--blades", "2.5"},       {"--blades"},
        {"--bogus", "1"},       {"--thickness", "0"},      {"--thickness", "abc"},
        {"--hub-start", "15"},  {"--hub-start", "0,40"},   {"--hub-end", "10,5"},
        {"--hub-end", "60,45"}, {"--shroud-offset", "-1"}, {"--shroud-offset", "60"},
        {"--wrap", "120"},      {"--hub-depth", "0"},      {"--splitter-start", "1.2"},
        {"--tool-radius", "6"}, {"--blades", "40"},  // channel narrower than the tool
        {"--out", ""},
    };
    for (const auto& args : bad) {
        std::vector<const char*> argv = {"--out", dir.c_str()};
        argv.insert(argv.end(), args.begin(), args.end());
        ImpellerOptions o;
        std::string why;
        const int parsed = impParseOptions(static_cast<int>(argv.size()), argv.data(), &o, &why);
        const bool refused = parsed < 0 || impWriteAll(o, &why) != 1;
        EXPECT_TRUE(refused) << args[0];
        EXPECT_FALSE(why.empty()) << args[0];
    }
    EXPECT_FALSE(std::filesystem::exists(dir / kImpBladeFile));
    // A channel narrower than the tool is written when asked for (a job that must fail); other faults
    // stay refused.
    for (const auto& [args, written] : std::vector<std::pair<std::vector<const char*>, bool>>{
             {{"--narrow-ok", "--tool-radius", "6"}, true}, {{"--narrow-ok", "--wrap", "120"}, false}}) {
        std::vector<const char*> argv = {"--out", dir.c_str()};
        argv.insert(argv.end(), args.begin(), args.end());
        ImpellerOptions o;
        std::string why;
        ASSERT_EQ(impParseOptions(static_cast<int>(argv.size()), argv.data(), &o, &why), 1);
        EXPECT_EQ(impWriteAll(o, &why) == 1, written) << args[1] << " " << why;
        EXPECT_EQ(std::filesystem::exists(dir / kImpBladeFile), written) << args[1];
        std::filesystem::remove(dir / kImpBladeFile);
    }
    // The program itself: status 2 and the reason on the error stream.
    const std::string cmd = std::string(KV_BIN_DIR) + "/mkimpeller --out " + dir.string() + " --wrap 95 2>&1";
    FILE* pipe = popen(cmd.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    char buf[256] = {};
    const size_t n = std::fread(buf, 1, sizeof buf - 1, pipe);
    const int status = pclose(pipe);
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(std::string(buf, n).find("wrap"), std::string::npos);
}
