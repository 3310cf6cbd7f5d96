#include "kernel/base/runreset.h"
#include "surfaces/KVWISO/surfiso.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "KVWOG5/wogerr.h"
#include "geometry/frames.h"
#include "kernel/base/abort.h"
#include "kernel/base/rng.h"
#include "surf_fixtures.h"
#include "surfaces/deboor.h"
#include "surfaces/geofiletest.h"
#include "surfaces/kvxsurf.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"
#include "openfiles.h"

namespace {

struct SurfIso : ::testing::Test {
    TempDir dir;
    void SetUp() override { reset(); }
    void TearDown() override { reset(); }
    static void reset() {
        isoResetState();
        runResetAll();
        setAbortHook(nullptr);
    }
};

struct Patches {
    SurfList* list = newSurfList(4);
    ~Patches() { freeSurfList(list); }
    void add(const Vec3& p00, const Vec3& p10, const Vec3& p11, const Vec3& p01) {
        TrimSurface rec;
        makeFlatPatch(&rec, p00, p10, p11, p01);
        ASSERT_EQ(surfListAppend(list, &rec), 1);
    }
    std::string write(const TempDir& dir, const std::string& name) const {
        const std::string path = dir.file(name);
        EXPECT_EQ(writeSurfObjects(path.c_str(), list), 1);
        return path;
    }
};

std::vector<int> blockNumbers(const std::string& text, const char* tag) {
    std::vector<int> out;
    for (size_t at = text.find(tag); at != std::string::npos; at = text.find(tag, at + 1))
        out.push_back(std::atoi(text.c_str() + at + std::strlen(tag)));
    return out;
}

// An abort hook that asks to stop from its stopAt-th call on.
int g_polls = 0, g_stopAt = 0;
int stopLate() {
    return ++g_polls >= g_stopAt ? 1 : 0;
}

Rec64 rec(const IsoPoint& p) {
    Rec64 r;
    std::memcpy(&r, &p, sizeof r);
    return r;
}

// Winding test of the loop, independent of the cutter.
bool inside(const std::vector<Vec2>& poly, double x, double y) {
    bool in = false;
    for (size_t i = 0, j = poly.size() - 1; i < poly.size(); j = i++)
        if ((poly[i].y > y) != (poly[j].y > y) &&
            x < (poly[j].x - poly[i].x) * (y - poly[i].y) / (poly[j].y - poly[i].y) + poly[i].x)
            in = !in;
    return in;
}

IsoCurve* linesOf(const TempDir& dir, const std::string& surfaces, int32_t direction, double spacing,
                  double gap, int* result) {
    const std::string out = dir.file("iso.bnd");
    std::remove(out.c_str());
    *result = surfIsolines(surfaces.c_str(), direction, spacing, gap, 0.01, out.c_str());
    return readIsoCurveGroups(out.c_str(), 0, 0);
}

}  // namespace

TEST_F(SurfIso, FileTextAndBlockNumbersThatContinueAcrossRuns) {
    const std::string path = dir.file("w.bnd");
    Rec64List* line = rec64ListCreate(4);
    ASSERT_NE(line, nullptr);
    const Rec64 r = rec(IsoPoint{0.5, 0.25, 1, 2, -3, 0, 0, 1});
    rec64ListAdd(line, &r);
    isoNewGroup();
    EXPECT_EQ(isoWriteBnd(line, path.c_str()), 1);
    rec64ListReset(line);
    EXPECT_EQ(isoWriteBnd(line, path.c_str()), 1);
    EXPECT_EQ(isoWriteBnd(nullptr, path.c_str()), 0);
    EXPECT_EQ(isoWriteBnd(line, nullptr), -1);
    EXPECT_EQ(isoWriteBnd(line, dir.file("no/such.bnd").c_str()), -1);
    rec64ListFree(line);
    EXPECT_EQ(getText(path),
              "\n**GROUP 1\n\n**BND 1\nX1.000000 Y2.000000 Z-3.000000 A0.000000 B0.000000 C1.000000 "
              "U0.500000 V0.250000\n**END\n\n**BND 2\n**END\n");

    Patches p;
    p.add({0, 0, 0}, {100, 0, 0}, {100, 50, 0}, {0, 50, 0});
    const std::string surf = p.write(dir, "plane.kvx");
    const std::string a = dir.file("a.bnd"), b = dir.file("b.bnd");
    ASSERT_EQ(surfIsolines(surf.c_str(), kIsoAlongU, 20.0, 0.0, 0.01, a.c_str()), 1);
    ASSERT_EQ(surfIsolines(surf.c_str(), kIsoAlongU, 20.0, 0.0, 0.01, b.c_str()), 1);
    const std::vector<int> na = blockNumbers(getText(a), "**BND "), nb = blockNumbers(getText(b), "**BND ");
    ASSERT_FALSE(na.empty());
    ASSERT_EQ(na.size(), nb.size());
    for (size_t i = 0; i < na.size(); ++i) {
        EXPECT_EQ(na[i], 3 + static_cast<int>(i));  // after the two blocks above
        EXPECT_EQ(nb[i], 3 + static_cast<int>(na.size() + i));
    }
    EXPECT_EQ(blockNumbers(getText(b), "**GROUP "), std::vector<int>{3});
}

TEST_F(SurfIso, FileReadsBackWhatWasWritten) {
    Rng rng{23};
    const std::string path = dir.file("r.bnd");
    std::vector<std::vector<IsoPoint>> written;
    Rec64List* line = rec64ListCreate(8);
    ASSERT_NE(line, nullptr);
    for (int k = 0; k < 12; ++k) {
        if (k % 4 == 0) isoNewGroup();
        rec64ListReset(line);
        std::vector<IsoPoint> pts;
        for (int i = 0, n = 3 + rngStep(&rng) % 9; i < n; ++i) {
            const double a = rngStep(&rng) / 5000.0, b = rngStep(&rng) / 11000.0, x = rngStep(&rng) / 7.0;
            pts.push_back({a / 7, b / 3, x - 150, -x, a, std::sin(b) * std::cos(a), std::sin(b) * std::sin(a),
                           std::cos(b)});
            const Rec64 r = rec(pts.back());
            rec64ListAdd(line, &r);
        }
        ASSERT_EQ(isoWriteBnd(line, path.c_str()), 1);
        written.push_back(pts);
    }
    rec64ListFree(line);
    for (int reverse = 0; reverse < 2; ++reverse)
        for (int prepend = 0; prepend < 2; ++prepend) {
            IsoCurve* curves = readIsoCurveGroups(path.c_str(), reverse, prepend);
            ASSERT_NE(curves, nullptr);
            int k = 0;
            for (const IsoCurve* c = curves; c != nullptr; c = c->next, ++k) {
                const size_t w = static_cast<size_t>(prepend ? 11 - k : k);
                ASSERT_LT(w, written.size());
                ASSERT_EQ(c->count, static_cast<int32_t>(written[w].size()));
                EXPECT_EQ(c->group, static_cast<int>(w / 4 + 1));
                for (int32_t i = 0; i < c->count; ++i) {
                    const IsoPoint& e = written[w][static_cast<size_t>(reverse ? c->count - 1 - i : i)];
                    EXPECT_LT(maxDiff(c->points[i], Vec3{e.x, e.y, e.z}), 1e-6);
                    EXPECT_LT(maxDiff(c->normals[i], Vec3{e.a, e.b, e.c}), 2e-6);
                    EXPECT_LT(maxDiff(Vec3{c->uv[i].x, c->uv[i].y, 0}, Vec3{e.u, e.v, 0}), 1e-6);
                }
            }
            EXPECT_EQ(k, 12);
            freeIsoCurves(curves);
        }
    // Memory that cannot be had gives no curves, nothing thrown.
    for (long n = 1;; ++n) {
        allocfail::arm(n);
        IsoCurve* curves = readIsoCurveGroups(path.c_str(), 0, 0);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        ASSERT_EQ(curves != nullptr, !fired) << n;
        freeIsoCurves(curves);
        if (!fired) break;
    }

    // A line longer than a read's 255 characters comes in two pieces: a block has room for one more point.
    const std::string longLine = "X1 Y1 Z1 C1" + std::string(244, ' ') + "X2 Y1 Z1 C1\n";
    struct Case {
        std::string text;
        bool ok;
        int32_t count;
    } cases[] = {
        {"\n**BND 1\n" + longLine + "**END\n", true, 2},
        {"\n**BND 1\n" + longLine + longLine + "**END\n", false, 0},
        {"\n**BND 1\nX1 Y1 Z1 A0 B0 C2 U0 V0\nX1 Y1 Z1.0005 A0 B0 C1 U0 V0\n**END\n", true, 0},  // one place
        {"\n**BND 1\nX1 Y1 Z0.001 A0 B0 C1 U0 V0\nX1 Y1 Z0 A0 B0 C1 U0 V0\n**END\n", true, 2},  // 0.001 apart
        {"\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\n", false, 0},                                     // no end
        {"\n**BND 1\nX0 Y0 Z0 A0 B0 C1 U0 V0\nX1 Y0 Z0 A0 B0 C1 U0 V0\n**ENDX\n", false, 0},    // no "**END"
        {"\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\n\n  \nX2 Y1 Z1 A0 B0 C1 U1 V0\n**END\n", true,
         2},  // blank lines
        {"\r\n**BND 1\r\nX1 Y1 Z1 A0 B0 C1 U0 V0\r\n\r\nX2 Y1 Z1 A0 B0 C1 U1 V0\r\n**END\r\n", true,
         2},                                               // CRLF
        {"\n**BND 1\nY1 Z1 A0 B0 C1\n**END\n", false, 0},  // no X
        // Two points closer than 0.001 in every coordinate are one place; a line of three never is.
        {"\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\nX1.0009 Y1 Z1 A0 B0 C1 U0 V0\n**END\n", true, 0},
        {"\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\nX1 Y0.9991 Z1 A0 B0 C1 U0 V0\n**END\n", true, 0},
        {"\n**BND 1\nX0 Y1 Z1 A0 B0 C1 U0 V0\nX0.001 Y1 Z1 A0 B0 C1 U0 V0\n**END\n", true, 2},
        {"\n**BND 1\nX1 Y0 Z1 A0 B0 C1 U0 V0\nX1 Y0.001 Z1 A0 B0 C1 U0 V0\n**END\n", true, 2},
        {"\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\nX1 Y1 Z1.005 A0 B0 C1 U0 V0\n**END\n", true, 2},
        {"\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\nX1 Y1 Z1 A0 B0 C1\nX1 Y1 Z1 A0 B1 C0\n**END\n", true, 3},
        // A normal shorter than 1e-5 drops its point; the normal and parameters default to 0, not X, Y, Z.
        {"\n**BND 1\nX1 Y1 Z1 A0 B0 C0.00001\nX2 Y1 Z1 A0 B0 C0.0000099\nX3 Y1 Z1 C-1\n**END\n", true, 2},
        {"\n**BND 1\nX1 Y1 A0 B0 C1 U0 V0\n**END\n", false, 0},  // no Z
        {"\n**BND 1\nX1 Z1 A0 B0 C1 U0 V0\n**END\n", false, 0},  // no Y
        {"nothing\n", false, 0},
    };
    for (const Case& c : cases) {
        MessageLog log;
        writeTextFile(path, c.text);
        IsoCurve* curves = readIsoCurveGroups(path.c_str(), 0, 0);
        EXPECT_EQ(curves != nullptr, c.ok) << c.text;
        if (curves != nullptr) {
            EXPECT_EQ(curves->count, c.count);
        }
        EXPECT_EQ(log.count(895), c.ok || c.text[0] == 'n' ? 0 : 1);
        freeIsoCurves(curves);
    }
    {
        MessageLog log;
        setMessageLevel(nullptr, 8);  // the read error is a message of level 9: held back below it
        writeTextFile(path, "\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\n");
        EXPECT_EQ(readIsoCurveGroups(path.c_str(), 0, 0), nullptr);
        EXPECT_EQ(log.count(895), 0);
    }
    // Read or not, the file is closed again.
    const long open = openFileCount();
    freeIsoCurves(readIsoCurveGroups(path.c_str(), 0, 0));
    writeTextFile(path, "\n**BND 1\nX1 Y1 Z1 A0 B0 C1 U0 V0\n**END\n");
    freeIsoCurves(readIsoCurveGroups(path.c_str(), 0, 0));
    EXPECT_EQ(openFileCount(), open);
    EXPECT_EQ(isoFileCountBnd(dir.file("missing").c_str()), -1);
    EXPECT_EQ(readIsoCurveGroups(dir.file("missing").c_str(), 0, 0), nullptr);
    // Points and normals are taken into frame A, its origin moving the points alone.
    const Vec3 o{10, 20, 30}, x{0, 1, 0}, y{-1, 0, 0}, z{0, 0, 1};
    frameSetA(&o, &x, &y, &z);
    ASSERT_EQ(framesInit(), 1);
    writeTextFile(path, "\n**BND 1\nX11 Y22 Z33 A1 B0 C0 U0 V0\nX12 Y20 Z30 A0 B0 C2 U1 V0\n**END\n");
    IsoCurve* framed = readIsoCurveGroups(path.c_str(), 0, 0);
    ASSERT_NE(framed, nullptr);
    ASSERT_EQ(framed->count, 2);
    EXPECT_LT(maxDiff(framed->points[0], {2, -1, 3}), 1e-9);
    EXPECT_LT(maxDiff(framed->points[1], {0, -2, 0}), 1e-9);
    EXPECT_LT(maxDiff(framed->normals[0], {0, -1, 0}), 1e-9);
    EXPECT_LT(maxDiff(framed->normals[1], {0, 0, 1}), 1e-9);
    freeIsoCurves(framed);
    // With the frame pair's surface option the points written are mirrored, here in the plane z = 5.
    framesResetState();
    const Vec3 p1{0, 0, 5}, a1{0, 0, 1}, none{0, 0, 0};
    ASSERT_EQ(framePairCreate(&p1, &a1, &none, &none), 1);
    framePairSetFlag(kFramePairSurfaces, 1);
    Rec64List* one = rec64ListCreate(2);
    ASSERT_NE(one, nullptr);
    const Rec64 r = rec({0.25, 0.5, 1, 2, 3, 0, 0.6, 0.8});
    rec64ListAdd(one, &r);
    const std::string mirrored = dir.file("m.bnd");
    ASSERT_EQ(isoWriteBnd(one, mirrored.c_str()), 1);
    rec64ListFree(one);
    EXPECT_NE(getText(mirrored).find(
                  "X1.000000 Y2.000000 Z7.000000 A0.000000 B0.600000 C-0.800000 U0.250000 V0.500000"),
              std::string::npos)
        << getText(mirrored);
}

TEST_F(SurfIso, LinesOfAPlaneAreSpacedOnTheSurface) {
    Patches flip, up;  // flip: the same plane with its normal down; the lines still face up
    flip.add({0, 0, 0}, {0, 50, 0}, {100, 50, 0}, {100, 0, 0});
    up.add({0, 0, 0}, {100, 0, 0}, {100, 50, 0}, {0, 50, 0});
    const std::string upPath = up.write(dir, "up.kvx"), flipPath = flip.write(dir, "flip.kvx");
    struct Case {
        const std::string* path;
        int32_t dir;  // of the patch's own parameters
        double spacing;
        int lines;     // 0: at least enough for the spacing
        bool acrossX;  // lines run along x
    } cases[] = {
        {&upPath, kIsoAlongU, 60.0, 2, true},  {&upPath, kIsoAlongU, 30.0, 3, true},
        {&upPath, kIsoAlongU, 7.0, 0, true},   {&upPath, kIsoAlongV, 120.0, 2, false},
        {&upPath, kIsoAlongV, 11.0, 0, false}, {&flipPath, kIsoAlongU, 9.0, 0, false},
    };
    for (const Case& c : cases) {
        int result = 0;
        IsoCurve* curves = linesOf(dir, *c.path, c.dir, c.spacing, 0.0, &result);
        ASSERT_EQ(result, 1);
        ASSERT_NE(curves, nullptr);
        std::vector<double> across;
        for (const IsoCurve* k = curves; k != nullptr; k = k->next) {
            ASSERT_GE(k->count, 2);
            const Vec3 &s = k->points[0], &e = k->points[k->count - 1];
            EXPECT_NEAR(std::fabs(c.acrossX ? e.x - s.x : e.y - s.y), c.acrossX ? 100.0 : 50.0, 1e-3);
            // each line is written the way its own parameter grows
            const Vec2 &us = k->uv[0], &ue = k->uv[k->count - 1];
            EXPECT_LT(c.dir == kIsoAlongU ? us.x : us.y, c.dir == kIsoAlongU ? ue.x : ue.y);
            for (int32_t i = 0; i < k->count; ++i) {
                EXPECT_NEAR(k->normals[i].z, 1.0, 1e-9);
                EXPECT_NEAR(c.acrossX ? k->points[i].y : k->points[i].x, c.acrossX ? s.y : s.x, 1e-6);
            }
            across.push_back(c.acrossX ? s.y : s.x);
        }
        // A lone patch writes its lines from the highest parameter down.
        EXPECT_TRUE(std::is_sorted(across.rbegin(), across.rend())) << c.spacing;
        std::sort(across.begin(), across.end());
        const double width = c.acrossX ? 50.0 : 100.0;
        if (c.lines > 0) {
            ASSERT_EQ(static_cast<int>(across.size()), c.lines) << c.spacing;
        }
        if (c.lines == 3) {
            EXPECT_NEAR(across[1], width / 2, 1e-3);
        }
        if (c.lines == 0) {
            EXPECT_GE(static_cast<double>(across.size()), std::ceil(width / c.spacing) + 1);
        }
        EXPECT_NEAR(across.front(), 0.0, 1e-3);
        EXPECT_NEAR(across.back(), width, 1e-3);
        for (size_t i = 1; i < across.size(); ++i) {
            EXPECT_LE(across[i] - across[i - 1], c.spacing + 1e-6);
            if (c.lines == 0) {
                EXPECT_GE(across[i] - across[i - 1], 0.45 * c.spacing);
            }
        }
        freeIsoCurves(curves);
    }
    const std::string x = dir.file("x.bnd"), none = dir.file("none.kvx");
    EXPECT_EQ(surfIsolines(upPath.c_str(), 3, 10.0, 0.0, 0.01, x.c_str()), -1);
    {
        MessageLog log;  // a refused run still reports its time, in one trace the error level lets through
        EXPECT_EQ(surfIsolines(upPath.c_str(), 1, 0.0, 0.0, 0.01, x.c_str()), -1);
        EXPECT_EQ(log.count(kMsgPrintfNumber), 1);
    }
    EXPECT_EQ(surfIsolines(none.c_str(), 1, 5.0, 0.0, 0.01, x.c_str()), -1);
    setAbortHook([] { return 1; });
    EXPECT_EQ(surfIsolines(upPath.c_str(), 1, 10.0, 0.0, 0.01, x.c_str()), kIsoAbort);
}

// A patch that would need more than 100000 lines at the spacing is refused before any line is searched
// (the search costs a bisection per line), and the file's lines with it; below that it gets its lines.
TEST_F(SurfIso, PatchesNeedingTooManyLinesAreRefused) {
    Patches up;
    up.add({0, 0, 0}, {100, 0, 0}, {100, 50, 0}, {0, 50, 0});
    const std::string path = up.write(dir, "up.kvx"), out = dir.file("many.bnd");
    const struct {
        int32_t dir;
        double spacing;  // lines across 50 (u) or 100 (v)
        bool refused;
    } cases[] = {{kIsoAlongU, 50.0 / 150000, true},
                 {kIsoAlongV, 1e-4, true},
                 {kIsoAlongU, 1e-9, true},
                 {kIsoAlongU, 5.0, false},
                 {kIsoAlongV, 0.5, false}};
    for (const auto& c : cases) {
        Seg2D* params = nullptr;
        const int n = isoParamsTwoSided(&up.list->entries[0], c.dir, c.spacing, &params);
        if (c.refused) {
            EXPECT_EQ(n, -2) << c.spacing;
            EXPECT_EQ(params, nullptr);
            EXPECT_EQ(surfIsolines(path.c_str(), c.dir, c.spacing, 0.0, 0.01, out.c_str()), -2);
        } else {
            const double width = c.dir == kIsoAlongU ? 50.0 : 100.0;
            EXPECT_GE(n, std::ceil(width / c.spacing) + 1) << c.spacing;
        }
        std::free(params);
    }
}

// Folded at v = 100/220, a patch is torn there by twice its offset: across more than two spacings no
// line fits, and it is refused at once; the other way, or without offset, it gets distinct lines.
TEST_F(SurfIso, PatchesTornByMoreThanTheSpacingAreRefused) {
    const struct {
        double offset, spacing;
        int32_t dir;
    } cases[] = {{5, 1, kIsoAlongU}, {-3, 2.5, kIsoAlongU}, {5, 1, kIsoAlongV}, {0, 1, kIsoAlongU}};
    for (const auto& c : cases) {
        Patches p;
        p.add({0, 0, 0}, {100, 0, 0}, {-20, 50, 0}, {100, 50, 0});
        p.list->entries[0].hasOffset = c.offset != 0 ? 1 : 0;
        p.list->entries[0].offset = c.offset;
        Seg2D* params = nullptr;
        const int n = isoParamsTwoSided(&p.list->entries[0], c.dir, c.spacing, &params);
        EXPECT_EQ(n == -2, c.dir == kIsoAlongU && std::fabs(c.offset) > c.spacing) << n;
        for (int i = 1; i < n; ++i)
            EXPECT_LT(params[i - 1].x1 + params[i - 1].y1, params[i].x1 + params[i].y1);
        std::free(params);
    }
}

TEST_F(SurfIso, NeighbouringPatchesJoinOrStaySeparate) {
    const Vec3 a00{0, 0, 0}, a10{100, 0, 0}, a11{100, 50, 0}, a01{0, 50, 0};
    struct Case {
        Vec3 b00, b10, b11, b01;
        double gap;
        int code;
    } cases[] = {
        {{100, 0, 0}, {200, 0, 0}, {200, 50, 0}, {100, 50, 0}, 0.001, 24},    // beyond umax, sharing the edge
        {{0, 50, 0}, {100, 50, 0}, {100, 90, 0}, {0, 90, 0}, 0.001, 31},      // beyond vmax
        {{-90, 0, 0}, {0, 0, 0}, {0, 50, 0}, {-90, 50, 0}, 0.001, 42},        // beyond umin
        {{0, -40, 0}, {100, -40, 0}, {100, 0, 0}, {0, 0, 0}, 0.001, 13},      // beyond vmin
        {{100, 50, 0}, {100, 0, 0}, {200, 0, 0}, {200, 50, 0}, 0.001, 21},    // turned: vmin on the edge
        {{105, 0, 0}, {200, 0, 0}, {200, 50, 0}, {105, 50, 0}, 0.001, 0},     // a gap of 5
        {{105, 0, 0}, {200, 0, 0}, {200, 50, 0}, {105, 50, 0}, 6.0, 24},      // within a wide tolerance
        {{100, 0, 0}, {200, 0, 30}, {200, 50, 30}, {100, 50, 0}, 0.001, 24},  // bent along the edge
        // its side along the joint at a cosine of 0.99 to the first's, as rounded: parallel still
        {{100, 0, 0}, {200, 0, 0}, {200, 50, 0}, {107.1246142023905, 50, 0}, 8.0, 24},
    };
    for (const Case& c : cases) {
        MessageLog log;
        TrimSurface a, b;
        makeFlatPatch(&a, a00, a10, a11, a01);
        makeFlatPatch(&b, c.b00, c.b10, c.b11, c.b01);
        EXPECT_EQ(surfJoinCode(&a, &b, c.gap), c.code) << c.b00.x << " " << c.gap;
        EXPECT_EQ(log.count(897), c.code == 0 ? 1 : 0);
        kvxFreeTrimSurface(&a);
        kvxFreeTrimSurface(&b);
    }
    EXPECT_EQ(surfJoinCode(nullptr, nullptr, 1.0), 0);  // no patches, no joint

    // Corners cut off: a patch's corner is the loop point nearest the box corner, of equally near
    // ones the sharpest, and the two patches meet where both put theirs.
    struct Cut {
        Vec3 b00, b10, b11, b01;
        std::vector<Vec2> la, lb;
        int code = 24;
    } cuts[] = {
        // unevenly: the nearer point lies on the joint side
        {{100, 0, 0},
         {200, 0, 0},
         {200, 50, 0},
         {100, 50, 0},
         {{0, 0}, {0.9, 0}, {1, 0.05}, {1, 0.25}, {1, 0.5}, {1, 0.75}, {1, 1}, {0, 1}},
         {{0.1, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0.75}, {0, 0.5}, {0, 0.25}, {0, 0.05}}},
        // evenly: (0.95, 0) is sharper than (1, 0.05), listed first; the neighbour starts at x = 95
        {{95, 0, 0},
         {195, 0, 0},
         {195, 50, 0},
         {95, 50, 0},
         {{1, 0.05}, {1, 0.25}, {1, 0.5}, {1, 0.75}, {1, 1}, {0, 1}, {0, 0}, {0.5, 0.1}, {0.95, 0}},
         {{0, 0}, {1, 0}, {1, 1}, {0.05, 1}, {0.05, 0.75}, {0.05, 0.5}, {0.05, 0.25}, {0.05, 0.05}}},
        // evenly at the top: (1, 0.95), made the sharper by (0.9, 0.5) before it; the neighbour's top is 47.5
        {{100, 0, 0},
         {200, 0, 0},
         {200, 47.5, 0},
         {100, 47.5, 0},
         {{0, 0}, {1, 0}, {1, 0.475}, {0.9, 0.5}, {1, 0.95}, {0.95, 1}, {0, 1}},
         {{0, 0}, {1, 0}, {1, 1}, {0, 1}, {0, 0.5}}},
        // a corner picked among the loop points on the box's sides: a point of a cut corner off both
        // sides, though nearer the box corner, is passed over; here (0.9, 0), x = 90, where the patch
        // below has its own corner
        {{0, -50, 0},
         {90, -50, 0},
         {90, 0, 0},
         {0, 0, 0},
         {{0, 0}, {0.5, 0}, {0.9, 0}, {0.97, 0.03}, {1, 0.12}, {1, 1}, {0, 1}},
         {{0, 0}, {1, 0}, {1, 1}, {5.0 / 9, 1}, {0, 1}},
         13},
        // the loop's first point alone at the box's umin, the top side cut short to (0.5, 1): the corners
        // are still taken against the whole box, so the patch below meets the full vmin side
        {{0, -50, 0},
         {100, -50, 0},
         {100, 0, 0},
         {0, 0, 0},
         {{0, 0}, {0.5, 0}, {1, 0}, {1, 1}, {0.5, 1}},
         {{0, 0}, {1, 0}, {1, 1}, {0.5, 1}, {0, 1}},
         13},
        // a point just the band's width off the umin side, nearest the box corner, is the corner there
        {{-90, 15, 0},
         {0.1, 15, 0},
         {0, 50, 0},
         {-90, 50, 0},
         {{0.4, 0}, {1, 0}, {1, 1}, {0, 1}, {0.0005, 0.65}, {0, 0.4}, {0.001, 0.3}},
         {{0, 0}, {1, 0}, {1, 0.5}, {1, 1}, {0, 1}},
         42},
        // the far side collapsed, as the loop's first segment: no join
        {{100, 0, 0},
         {200, 25, 0},
         {200, 25, 0},
         {100, 50, 0},
         {{0, 0}, {1, 0}, {1, 0.5}, {1, 1}, {0, 1}},
         {{1, 0}, {1, 1}, {0.5, 1}, {0, 1}, {0, 0.5}, {0, 0}, {0.5, 0}},
         0},
    };
    // Confirmed by three loop points of the first patch on the second's loop, not by two (the loop's
    // first point off the joint, and away from the origin).
    const std::vector<Vec2> three = {{0, 0}, {0.5, 0}, {1, 0}, {1, 1}, {0, 1}},
                            two = {{0, 1}, {0, 0}, {1, 0}, {1, 1}};
    for (const auto* la : {&three, &two}) {
        TrimSurface a, b;
        makeFlatPatch(&a, {0, 1000, 0}, {100, 1000, 0}, {100, 1050, 0}, {0, 1050, 0});
        makeFlatPatch(&b, {0, 950, 0}, {100, 950, 0}, {100, 1000, 0}, {0, 1000, 0});
        const std::vector<Vec2> lb = {{0, 0}, {1, 0}, {1, 1}, {0.5, 1}, {0, 1}};
        for (const auto& [rec, loop] : {std::pair{&a, la}, {&b, &lb}}) {
            std::free(rec->loops[0].points);
            rec->loopCount = 0;
            ASSERT_EQ(trimSurfaceAddLoop(rec, loop->data(), static_cast<int32_t>(loop->size())), 1);
        }
        EXPECT_EQ(surfJoinCode(&a, &b, 0.001), la == &three ? 13 : 0);
        kvxFreeTrimSurface(&a);
        kvxFreeTrimSurface(&b);
    }
    for (const Cut& c : cuts) {
        TrimSurface a, b;
        makeFlatPatch(&a, a00, a10, a11, a01);
        makeFlatPatch(&b, c.b00, c.b10, c.b11, c.b01);
        for (const auto& [rec, loop] : {std::pair{&a, &c.la}, {&b, &c.lb}}) {
            std::free(rec->loops[0].points);
            rec->loopCount = 0;
            ASSERT_EQ(trimSurfaceAddLoop(rec, loop->data(), static_cast<int32_t>(loop->size())), 1);
        }
        EXPECT_EQ(surfJoinCode(&a, &b, 0.001), c.code) << c.b00.x;
        kvxFreeTrimSurface(&a);
        kvxFreeTrimSurface(&b);
    }

    // Joined along x: lines along u run on across the joint, over the second patch's whole width also with
    // its u over 0..3 and its v over 0..1, 5..6 or -5..-4, whatever the range across them; lines along v
    // are written once per place.
    Patches joined;
    joined.add(a00, a10, a11, a01);
    joined.add({100, 0, 0}, {200, 0, 0}, {200, 50, 0}, {100, 50, 0});
    const std::string path = joined.write(dir, "joined.kvx");
    int result = 0, n = 0;
    IsoCurve* curves = nullptr;
    for (const auto& [stretch, vShift] : {std::pair{1.0, 0.0}, {3.0, 0.0}, {3.0, 5.0}, {3.0, -5.0}}) {
        Patches wide;
        wide.add(a00, a10, a11, a01);
        wide.add({100, 0, 0}, {200, 0, 0}, {200, 50, 0}, {100, 50, 0});
        TrimSurface& stretched = wide.list->entries[1];
        stretched.surface.uKnots[2] = stretched.surface.uKnots[3] = stretch;
        for (int k = 0; k < 4; ++k) stretched.surface.vKnots[k] += vShift;
        for (int32_t i = 0; i < stretched.loops[0].count; ++i)
            stretched.loops[0].points[i].x *= stretch, stretched.loops[0].points[i].y += vShift;
        curves = linesOf(dir, wide.write(dir, "wide.kvx"), kIsoAlongU, 20.0, 0.001, &result);
        ASSERT_EQ(result, 1) << vShift;
        ASSERT_NE(curves, nullptr);
        n = 0;
        for (const IsoCurve* k = curves; k != nullptr; k = k->next, ++n) {
            ASSERT_GE(k->count, 2);
            EXPECT_NEAR(std::fabs(k->points[0].x - k->points[k->count - 1].x), 200.0, 1e-3) << vShift;
        }
        EXPECT_GE(n, 4) << vShift;
        freeIsoCurves(curves);
    }
    // Joined along y, the first patch at its vmin or its vmax: its lines along v run toward the joint and on.
    for (const double y0 : {90.0, 0.0}) {
        Patches below;
        below.add({0, 50, 0}, {100, 50, 0}, {100, 90, 0}, {0, 90, 0});
        below.add(a00, a10, a11, a01);
        if (y0 == 0) std::swap(below.list->entries[0], below.list->entries[1]);
        curves = linesOf(dir, below.write(dir, "below.kvx"), kIsoAlongV, 20.0, 0.001, &result);
        ASSERT_EQ(result, 1);
        n = 0;
        for (const IsoCurve* k = curves; k != nullptr; k = k->next, ++n) {
            ASSERT_GE(k->count, 2);
            EXPECT_NEAR(k->points[0].y, y0, 1e-3);
            EXPECT_NEAR(k->points[k->count - 1].y, 90 - y0, 1e-3);
        }
        EXPECT_GE(n, 6);
        freeIsoCurves(curves);
    }
    // The host asking to stop at any of its polls, on either patch, stops the run with a negative code.
    g_polls = 0, g_stopAt = 1 << 30;
    setAbortHook(stopLate);
    ASSERT_EQ(surfIsolines(path.c_str(), kIsoAlongU, 20.0, 0.001, 0.01, dir.file("polled.bnd").c_str()), 1);
    const int polls = g_polls;
    for (g_stopAt = 1; g_stopAt <= polls; ++g_stopAt) {
        g_polls = 0;
        EXPECT_LT(surfIsolines(path.c_str(), kIsoAlongU, 20.0, 0.001, 0.01, dir.file("polled.bnd").c_str()),
                  0)
            << g_stopAt << " of " << polls;
    }
    setAbortHook(nullptr);
    // Lines that cannot be written fail the run, across the joint as patch by patch.
    for (const int32_t d : {kIsoAlongU, kIsoAlongV})
        EXPECT_EQ(surfIsolines(path.c_str(), d, 20.0, 0.001, 0.01, dir.file("none/iso.bnd").c_str()), -1)
            << d;
    curves = linesOf(dir, path, kIsoAlongV, 20.0, 0.001, &result);
    ASSERT_EQ(result, 1);
    std::vector<double> xs;
    for (const IsoCurve* k = curves; k != nullptr; k = k->next) xs.push_back(k->points[0].x);
    std::sort(xs.begin(), xs.end());
    ASSERT_GE(xs.size(), 11u);
    EXPECT_EQ(std::count_if(xs.begin(), xs.end(), [](double x) { return std::fabs(x - 100.0) < 1e-3; }), 1);
    for (size_t i = 1; i < xs.size(); ++i) EXPECT_LE(xs[i] - xs[i - 1], 20.0 + 1e-6);
    freeIsoCurves(curves);

    // Lines along the joint, the neighbour turned each way, and a roof whose halves rise to the
    // joint: the lines come in the order of their place, from the far side of the first patch across
    // the joint to the far side of the second, the joint line once (the first patch's), all in one
    // group, each patch facing up.
    const Vec3 b00{100, 0, 0}, b10{200, 0, 0}, b11{200, 50, 0}, b01{100, 50, 0};
    const Vec3 turned[][4] = {{b00, b10, b11, b01},
                              {b01, b00, b10, b11},
                              {b10, b00, b01, b11},
                              {b10, b11, b01, b00},
                              {b00, b10, b11, b01}};
    for (const auto& t : turned) {
        const double ridge = &t == &turned[4] ? 30.0 : 0.0;
        auto lift = [ridge](Vec3 p) { return Vec3{p.x, p.y, p.x == 100 ? ridge : 0.0}; };
        const double len = std::hypot(ridge / 100, 1.0);
        const Vec3 na{-ridge / 100 / len, 0, 1 / len}, nb{ridge / 100 / len, 0, 1 / len};
        Patches seq;
        seq.add(lift(a00), lift(a10), lift(a11), lift(a01));
        seq.add(lift(t[0]), lift(t[1]), lift(t[2]), lift(t[3]));
        curves = linesOf(dir, seq.write(dir, "seq.kvx"), kIsoAlongV, 20.0, 0.001, &result);
        ASSERT_EQ(result, 1);
        std::vector<double> at;
        for (const IsoCurve* k = curves; k != nullptr; k = k->next) {
            ASSERT_GE(k->count, 2);
            EXPECT_NEAR(k->points[0].x, k->points[k->count - 1].x, 2e-6);  // six decimals
            EXPECT_EQ(k->group, curves->group);
            for (int32_t i = 0; i < k->count; ++i)
                EXPECT_LT(maxDiff(k->normals[i], k->points[i].x < 100 + 1e-6 ? na : nb), 2e-6) << ridge;
            at.push_back(k->points[0].x);
        }
        ASSERT_GE(at.size(), 11u);
        EXPECT_NEAR(at.front(), 0.0, 1e-3);
        EXPECT_NEAR(at.back(), 200.0, 1e-3);
        for (size_t i = 1; i < at.size(); ++i) {
            EXPECT_GT(at[i], at[i - 1] + 1.0) << t[0].x << " " << t[1].x << " " << i;
            EXPECT_LE(at[i] - at[i - 1], 20.0 + 1e-6);
        }
        freeIsoCurves(curves);
    }

    // Apart: two runs, each its own group, both along the direction asked. Joined within a tolerance of 6,
    // one run, yet no line runs on across the gap: no line end lies within 0.1 of the second patch. Lines
    // that cannot be written fail the run either way.
    Patches apart;
    apart.add(a00, a10, a11, a01);
    apart.add({105, 0, 0}, {200, 0, 0}, {200, 50, 0}, {105, 50, 0});
    const std::string apartPath = apart.write(dir, "apart.kvx");
    for (const double gap : {0.001, 6.0}) {
        EXPECT_EQ(surfIsolines(apartPath.c_str(), kIsoAlongU, 20, gap, 0.01, dir.file("no/i").c_str()), -1);
        MessageLog log;
        curves = linesOf(dir, apartPath, kIsoAlongU, 20.0, gap, &result);
        ASSERT_EQ(result, 1);
        EXPECT_EQ(log.count(897), gap < 1 ? 1 : 0);
        for (const IsoCurve* k = curves; k != nullptr; k = k->next) {
            EXPECT_NEAR(k->points[0].y, k->points[k->count - 1].y, 1e-6);
            EXPECT_LE(std::fabs(k->points[0].x - k->points[k->count - 1].x), 100.0 + 1e-6);
            EXPECT_EQ(k->group, curves->group + (gap < 1 && k->points[0].x > 100 ? 1 : 0));
        }
        freeIsoCurves(curves);
    }

    // Two walls in the plane y = 0 whose own normals face apart (-y, then +y): a line running on
    // across the joint keeps the normal it started with.
    Patches walls;
    walls.add({0, 0, 0}, {100, 0, 0}, {100, 0, 50}, {0, 0, 50});
    walls.add({100, 0, 50}, {200, 0, 50}, {200, 0, 0}, {100, 0, 0});
    curves = linesOf(dir, walls.write(dir, "walls.kvx"), kIsoAlongU, 20.0, 0.001, &result);
    ASSERT_EQ(result, 1);
    ASSERT_NE(curves, nullptr);
    for (const IsoCurve* k = curves; k != nullptr; k = k->next) {
        EXPECT_NEAR(std::fabs(k->points[0].x - k->points[k->count - 1].x), 200.0, 1e-3);
        for (int32_t i = 0; i < k->count; ++i) EXPECT_LT(maxDiff(k->normals[i], k->normals[0]), 1e-9) << i;
        // Facing neither up nor down, the first wall keeps its own normal, Su x Sv = -y.
        EXPECT_LT(maxDiff(k->normals[0], {0, -1, 0}), 1e-9);
    }
    freeIsoCurves(curves);
    // A roof bent up by 50 degrees at the joint: normals that far apart are not opposite ones, so each
    // part of a line keeps its own patch's upward normal.
    const double bend = 50 * M_PI / 180, bx = 100 + 100 * std::cos(bend), bz = 100 * std::sin(bend);
    Patches roof;
    roof.add(a00, a10, a11, a01);
    roof.add({100, 0, 0}, {bx, 0, bz}, {bx, 50, bz}, {100, 50, 0});
    curves = linesOf(dir, roof.write(dir, "roof.kvx"), kIsoAlongU, 20.0, 0.001, &result);
    ASSERT_EQ(result, 1);
    ASSERT_NE(curves, nullptr);
    for (const IsoCurve* k = curves; k != nullptr; k = k->next) {
        EXPECT_NEAR(k->points[k->count - 1].z, bz, 1e-3);
        for (int32_t i = 0; i < k->count; ++i) {
            const Vec3 want =
                k->points[i].x <= 100 ? Vec3{0, 0, 1} : Vec3{-std::sin(bend), 0, std::cos(bend)};
            EXPECT_LT(maxDiff(k->normals[i], want), 1e-6) << i;
        }
    }
    freeIsoCurves(curves);

    // Two half cylinders stacked, written line by line along the joint circle: the upper one keeps its
    // normals when both face out, and has every one of them turned when it faces in; judged at the joint
    // line's end beside the last line's start (the other end faces the opposite way).
    for (const bool turned : {false, true}) {
        Patches stacked;
        const Vec2 lower[] = {{0, 0}, {0.5, 0}, {0.5, 1}, {0.25, 1}, {0, 1}},
                   upper[] = {{0, 0}, {0.25, 0}, {0.5, 0}, {0.5, 1}, {0, 1}},
                   upperTurned[] = {{0, 1}, {0.25, 1}, {0.5, 1}, {0.5, 0}, {0, 0}};
        for (const Vec2* loop : {lower, upper}) {
            TrimSurface rec;
            makeCylinder(&rec, 20, 30);
            for (int i = 0; loop == upper && i < 9; ++i) {
                rec.surface.rows[i][0].z += 30, rec.surface.rows[i][1].z += 30;
                if (turned) std::swap(rec.surface.rows[i][0], rec.surface.rows[i][1]);
            }
            ASSERT_EQ(trimSurfaceAddLoop(&rec, loop == upper && turned ? upperTurned : loop, 5), 1);
            ASSERT_EQ(surfListAppend(stacked.list, &rec), 1);
        }
        curves = linesOf(dir, stacked.write(dir, "stacked.kvx"), kIsoAlongU, 10.0, 0.001, &result);
        ASSERT_EQ(result, 1);
        ASSERT_NE(curves, nullptr);
        int facing[2][2] = {};  // below / above the joint, facing in / out
        for (const IsoCurve* k = curves; k != nullptr; k = k->next)
            for (int32_t i = 0; i < k->count; ++i) {
                const Vec3 &q = k->points[i], &n = k->normals[i];
                if (std::fabs(q.z - 30) > 1) ++facing[q.z > 30][n.x * q.x + n.y * q.y > 0];
            }
        EXPECT_GT(facing[0][0] + facing[0][1], 0);
        EXPECT_GT(facing[1][0] + facing[1][1], 0);
        EXPECT_TRUE(facing[0][0] + facing[1][0] == 0 || facing[0][1] + facing[1][1] == 0)  // all one way
            << turned << " " << facing[0][0] << " " << facing[0][1] << " " << facing[1][0] << " "
            << facing[1][1];
        freeIsoCurves(curves);
    }
}

TEST_F(SurfIso, TrimLoopCutsComeInInsidePairs) {
    // A loop with a vertex on the line v = 0.5: the line moves by 0.0001 and cuts twice. A point within
    // 1e-7 (both coordinates' differences summed) of the last one kept is dropped: (1e-7, 0), not (6e-8,
    // 6e-8).
    TrimSurface rec;
    kvxInitTrimSurface(&rec);
    const Vec2 notch[] = {{0, 0}, {1e-7, 0}, {6e-8, 6e-8}, {1, 0}, {1, 1}, {0, 1}, {0, 0.5}};
    ASSERT_EQ(trimSurfaceAddLoop(&rec, notch, 7), 1);
    std::vector<Vec2> buffer(7), cuts(16);
    ASSERT_EQ(LESE_KONTUREN(&rec, buffer.data()), 1);
    EXPECT_EQ(isoLoopCounts()[0], 6);
    // Room for exactly the cuts is enough, one less is not (shifted then stays as it was).
    struct Case {
        double v, shifted;
        int32_t max, count;
    } cases[] = {{0.5, 0.5001, 16, 2}, {0.25, 0.25, 2, 2}, {0.25, -1, 1, -1}};
    for (const Case& c : cases) {
        const Seg2D seg{0, c.v, 1, c.v};
        double shifted = -1;
        ASSERT_EQ(isoLineLoopCuts(&seg, kIsoAlongU, buffer.data(), 1, cuts.data(), c.max, &shifted), c.count);
        EXPECT_DOUBLE_EQ(shifted, c.shifted);
        if (c.count < 0) continue;
        EXPECT_NEAR(cuts[0].x, 0.0, 1e-12);
        EXPECT_NEAR(cuts[1].x, 1.0, 1e-12);
    }
    kvxFreeTrimSurface(&rec);

    // Seeded star-shaped loops, half of them with a hole: between paired cuts the line is inside,
    // between pairs outside.
    Rng rng{7};
    for (int round = 0; round < 20; ++round) {
        kvxInitTrimSurface(&rec);
        std::vector<Vec2> poly;
        const int n = 5 + rngStep(&rng) % 20;
        for (int i = 0; i < n; ++i) {
            const double a = 2 * M_PI * i / n, r = 0.2 + 0.8 * rngStep(&rng) / 32768.0;
            poly.push_back(Vec2{0.5 + 0.5 * r * std::cos(a), 0.5 + 0.5 * r * std::sin(a)});
        }
        // The loop with a point repeated 5e-8 off (dropped by the reader), every other round a hole.
        std::vector<Vec2> stored = poly;
        stored.insert(stored.begin() + 2, Vec2{poly[1].x + 5e-8, poly[1].y});
        ASSERT_EQ(trimSurfaceAddLoop(&rec, stored.data(), n + 1), 1);
        const std::vector<Vec2> hole{{0.45, 0.45}, {0.45, 0.55}, {0.55, 0.55}, {0.55, 0.45}};
        const int loops = 1 + round % 2;
        if (loops == 2) {
            ASSERT_EQ(trimSurfaceAddLoop(&rec, hole.data(), 4), 1);
        }
        buffer.resize(static_cast<size_t>(n + 1 + 4));
        ASSERT_EQ(LESE_KONTUREN(&rec, buffer.data()), loops);
        EXPECT_EQ(isoLoopCounts()[0], n);
        for (int q = 0; q < 20; ++q) {
            const int32_t dir = 1 + q % 2;
            const double t = rngStep(&rng) / 32768.0;
            const Seg2D seg = dir == kIsoAlongU ? Seg2D{0, t, 1, t} : Seg2D{t, 0, t, 1};
            double c = 0;
            const int k = isoLineLoopCuts(&seg, dir, buffer.data(), loops, cuts.data(), 16, &c);
            ASSERT_GE(k, 0);
            ASSERT_EQ(k % 2, 0);
            for (int i = 0; i + 1 < k; ++i) {
                const double mid =
                    dir == 1 ? 0.5 * (cuts[i].x + cuts[i + 1].x) : 0.5 * (cuts[i].y + cuts[i + 1].y);
                const double x = dir == 1 ? mid : c, y = dir == 1 ? c : mid;
                const bool in = inside(poly, x, y) && !(loops == 2 && inside(hole, x, y));
                EXPECT_EQ(in, i % 2 == 0) << round << " " << q << " " << i;
            }
        }
        kvxFreeTrimSurface(&rec);
    }
}

TEST_F(SurfIso, MoreThan10000LoopsStopThePatch) {
    TrimSurface rec;
    makeFlatPatch(&rec, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0});
    // The holes are put in place directly: adding them one at a time widens the box over all loops
    // each time, seconds for this many (they lie inside the outer loop and leave the box as it is).
    auto* loops = static_cast<TrimLoop*>(std::realloc(rec.loops, sizeof(TrimLoop) * kIsoMaxLoops));
    ASSERT_NE(loops, nullptr);
    rec.loops = loops;
    for (int i = 0; i < kIsoMaxLoops - 1; ++i) {
        const double x = 0.1 + 0.8 * (i % 100) / 100.0, y = 0.1 + 0.8 * (i / 100) / 100.0;
        const Vec2 tri[] = {{x, y}, {x + 0.001, y}, {x, y + 0.001}};
        auto* points = static_cast<Vec2*>(std::malloc(sizeof tri));
        ASSERT_NE(points, nullptr);
        std::memcpy(points, tri, sizeof tri);
        rec.loops[rec.loopCount++] = TrimLoop{points, 3};
    }
    std::vector<Vec2> buffer(4 * 10001 + 32);
    {
        MessageLog log;
        EXPECT_EQ(LESE_KONTUREN(&rec, buffer.data()), kIsoMaxLoops);  // the outer loop and 9999 holes
        EXPECT_EQ(log.count(653), 0);
        // All of them are cut, the outer loop at its two ends.
        Vec2 cuts[8];
        double shifted = 0;
        const Seg2D mid{0, 0.503, 1, 0.503};
        ASSERT_EQ(isoLineLoopCuts(&mid, kIsoAlongU, buffer.data(), kIsoMaxLoops, cuts, 8, &shifted), 2);
        EXPECT_LT(maxDiff({cuts[0].x, cuts[0].y, cuts[1].x}, {0, 0.503, 1}), 1e-12);
        for (int32_t bad : {-1, kIsoMaxLoops + 1})
            EXPECT_EQ(isoLineLoopCuts(&mid, kIsoAlongU, buffer.data(), bad, cuts, 8, &shifted), -1) << bad;
        // No loop, no cut.
        EXPECT_EQ(isoLineLoopCuts(&mid, kIsoAlongU, buffer.data(), 0, cuts, 8, &shifted), 0);
    }
    const Vec2 one[] = {{0.5, 0.5}, {0.501, 0.5}, {0.5, 0.501}};
    ASSERT_EQ(trimSurfaceAddLoop(&rec, one, 3), 1);
    MessageLog log;
    EXPECT_EQ(LESE_KONTUREN(&rec, buffer.data()), kIsoTooManyLoops);
    for (int number : {653, 654, 655}) EXPECT_EQ(log.count(number), 1) << number;
    Rec144List* out = rec144ListCreate(4);
    ASSERT_NE(out, nullptr);
    const Seg2D seg{0, 0.5, 1, 0.5};
    EXPECT_EQ(isoPatchLines(&rec, &seg, 1, kIsoAlongU, 0, 0.01, out), kIsoTooManyLoops);
    rec144ListFree(out);
    kvxFreeTrimSurface(&rec);
}

TEST_F(SurfIso, OffsetSurfacesAreEvaluatedAlongTheirNormal) {
    TrimSurface rec;
    makeFlatPatch(&rec, {0, 0, 1}, {10, 0, 1}, {10, 10, 1}, {0, 10, 1});
    rec.hasOffset = 1;
    rec.offset = -2.5;
    Vec3 p;
    ASSERT_EQ(surfEvalPoint(&rec, 0.3, 0.6, &p), 0);
    EXPECT_LT(maxDiff(p, Vec3{3, 6, -1.5}), 1e-12);
    kvxFreeTrimSurface(&rec);
    MessageLog log;
    EXPECT_EQ(surfEvalPoint(nullptr, 0, 0, &p), -1);
    EXPECT_EQ(log.count(568), 1);
}

// The lines of a patch lie on the surface between the trim loop's cuts, each sample carries its own
// (u, v) and the unit surface normal there (all turned alike), and every chord keeps to the surface:
// a chord of the circle rising more than 4/3 of the tolerance from it would have had a quarter point
// beyond the tolerance, and the chords are not many times finer than that.
TEST_F(SurfIso, PatchLinesOfACylinderKeepToItWithinTheChordTolerance) {
    RecGuard g;
    const double R = 20, tol = 0.05;
    makeCylinder(&g.rec, R, 30);
    const Vec2 loop[] = {{0.05, 0.1}, {0.7, 0.1}, {0.7, 0.9}, {0.05, 0.9}}, dot{0.3, 0.4};
    ASSERT_EQ(trimSurfaceAddLoop(&g.rec, loop, 4), 1);
    ASSERT_EQ(trimSurfaceAddLoop(&g.rec, &dot, 1), 1);  // a loop of one point, off the lines: no cut
    const Seg2D params[] = {{0, 0.25, 1, 0.25}, {0, 0.5, 1, 0.5}};
    for (const int reversed : {0, 1}) {
        Rec144List* out = rec144ListCreate(4);
        ASSERT_NE(out, nullptr);
        ASSERT_EQ(isoPatchLines(&g.rec, params, 2, kIsoAlongU, reversed, tol, out), 2);
        ASSERT_EQ(out->count, 2);
        double sign = 0;
        for (int l = 0; l < 2; ++l) {
            const Rec64List& line = out->data[l];
            ASSERT_GE(line.count, 3);
            std::vector<IsoPoint> p(static_cast<size_t>(line.count));
            double turn = 0;
            std::memcpy(p.data(), line.data, sizeof(IsoPoint) * p.size());
            EXPECT_NEAR(p.front().u, reversed ? 0.7 : 0.05, 1e-6);
            EXPECT_NEAR(p.back().u, reversed ? 0.05 : 0.7, 1e-6);
            for (size_t i = 0; i < p.size(); ++i) {
                const IsoPoint& q = p[i];
                EXPECT_NEAR(q.v, params[l].y1, 1e-6);
                Vec3 s;
                ASSERT_EQ(evalNurbsSurfPoint(&g.rec.surface, q.u, q.v, &s), 1);
                EXPECT_LT(maxDiff(s, {q.x, q.y, q.z}), 1e-9);
                EXPECT_NEAR(std::hypot(q.x, q.y), R, 1e-9);
                // The normal is radial; one orientation for all samples.
                if (sign == 0) sign = q.a * q.x + q.b * q.y > 0 ? 1 : -1;
                EXPECT_LT(maxDiff({q.a, q.b, q.c}, {sign * q.x / R, sign * q.y / R, 0}), 1e-6) << i;
                if (i == 0) continue;
                const IsoPoint& o = p[i - 1];
                EXPECT_EQ(q.u > o.u, reversed == 0) << i;
                const double chord = std::hypot(q.x - o.x, q.y - o.y);
                EXPECT_LE(R - std::sqrt(R * R - chord * chord / 4), 4.0 / 3.0 * tol + 1e-9) << i;
                turn += 2 * std::asin(chord / (2 * R));
            }
            // Nor much finer than needed: chords rising the tolerance itself would take turn / step.
            const double step = 2 * std::acos(1 - tol / R);
            EXPECT_LE(static_cast<double>(p.size() - 1), 3 * turn / step);
        }
        rec144ListFree(out);
    }
    // The boundary lines lie 1e-6 of the loops' box inside it across the lines, as far beyond it along.
    const double du = 0.65e-6, dv = 0.8e-6;
    for (const auto& [d, spacing] : {std::pair{kIsoAlongU, 5.0}, {kIsoAlongV, 20.0}}) {
        Seg2D* lines = nullptr;
        const int n = isoParamsTwoSided(&g.rec, d, spacing, &lines);
        ASSERT_GE(n, 2) << d;
        const bool u = d == kIsoAlongU;
        const Seg2D want[2] = {u ? Seg2D{0.05 - du, 0.1 + dv, 0.7 + du, 0.1 + dv}
                                 : Seg2D{0.05 + du, 0.1 - dv, 0.05 + du, 0.9 + dv},
                               u ? Seg2D{0.05 - du, 0.9 - dv, 0.7 + du, 0.9 - dv}
                                 : Seg2D{0.7 - du, 0.1 - dv, 0.7 - du, 0.9 + dv}};
        for (int k = 0; k < 8; ++k)
            EXPECT_NEAR((&lines[k < 4 ? 0 : n - 1].x1)[k % 4], (&want[k / 4].x1)[k % 4], 1e-12)
                << d << " " << k;
        std::free(lines);
    }
    // Without a loop nothing of the patch is inside: no line.
    RecGuard bare;
    makeCylinder(&bare.rec, R, 30);
    Rec144List* out = rec144ListCreate(4);
    ASSERT_NE(out, nullptr);
    // Each case below writes into a list of its own.
    const auto fresh = [&out] {
        rec144ListFree(out);
        out = rec144ListCreate(4);
        return out != nullptr;
    };
    EXPECT_EQ(isoPatchLines(&bare.rec, params, 2, kIsoAlongU, 0, tol, out), 0);
    EXPECT_EQ(out->count, 0);
    // No patch, no parameter lines to a count, no list: refused.
    EXPECT_EQ(isoPatchLines(nullptr, params, 2, kIsoAlongU, 0, tol, out), -1);
    EXPECT_EQ(isoPatchLines(&g.rec, nullptr, 2, kIsoAlongU, 0, tol, out), -1);
    EXPECT_EQ(isoPatchLines(&g.rec, params, 2, kIsoAlongU, 0, tol, nullptr), -1);
    // On a sphere the normal turns along both parameters: each sample's is its own radial one. The cap is
    // a triangle, each line cutting two of its three sides.
    RecGuard ball;
    makeSphereOctant(&ball.rec, R);
    const Vec2 cap[] = {{0.1, 0.1}, {0.8, 0.1}, {0.45, 0.9}};
    ASSERT_EQ(trimSurfaceAddLoop(&ball.rec, cap, 3), 1);
    ASSERT_EQ(isoPatchLines(&ball.rec, params, 2, kIsoAlongU, 0, tol, out), 2);
    for (int l = 0; l < out->count; ++l)
        for (int32_t i = 0; i < out->data[l].count; ++i) {
            IsoPoint q;
            std::memcpy(&q, &out->data[l].data[i], sizeof q);
            EXPECT_NEAR(std::fabs(q.a * q.x + q.b * q.y + q.c * q.z), R, 1e-6) << l << " " << i;
        }
    // A surface of the given orders and control counts over the given knot vectors.
    const auto knotted = [](TrimSurface* rec, int32_t uOrder, int32_t vOrder, int32_t uNum, int32_t vNum,
                            const double* uKnots, const double* vKnots) {
        kvxInitTrimSurface(rec);
        if (bsplSurfaceAlloc(&rec->surface, uOrder, vOrder, uNum, vNum, 0) != 1) return false;
        std::copy(uKnots, uKnots + uOrder + uNum, rec->surface.uKnots);
        std::copy(vKnots, vKnots + vOrder + vNum, rec->surface.vKnots);
        return true;
    };
    // A plane folded onto itself along v = 0.5, where the derivative along u vanishes: the normal
    // there is the one a step of 0.001 back along v gives, the same as the line before the fold.
    RecGuard fold;
    const double k01[] = {0, 0, 1, 1};
    ASSERT_TRUE(knotted(&fold.rec, 2, 2, 2, 2, k01, k01));
    fold.rec.surface.rows[0][0] = {0, 0, 0}, fold.rec.surface.rows[1][0] = {10, 0, 0};
    fold.rec.surface.rows[0][1] = {0, 10, 0}, fold.rec.surface.rows[1][1] = {-10, 10, 0};
    const Vec2 whole[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    ASSERT_EQ(trimSurfaceAddLoop(&fold.rec, whole, 4), 1);
    ASSERT_TRUE(fresh());
    ASSERT_EQ(isoPatchLines(&fold.rec, params, 2, kIsoAlongU, 0, tol, out), 2);
    for (int l = 0; l < 2; ++l)
        for (int32_t i = 0; i < out->data[l].count; ++i) {
            IsoPoint q;
            std::memcpy(&q, &out->data[l].data[i], sizeof q);
            EXPECT_LT(maxDiff({q.a, q.b, q.c}, {0, 0, 1}), 1e-12) << l << " " << i;
        }
    // Flat along u over v in [0.494, 0.5045]: at v = 0.5 the nine tries up to 0.005 away all fail,
    // and the normal stays zero; at v = 0.25 it is whole.
    RecGuard band;
    const double vk[] = {0, 0, 0.494, 0.5045, 1, 1};
    ASSERT_TRUE(knotted(&band.rec, 2, 2, 2, 4, k01, vk));
    const double wide[] = {1, 0, 0, 1};
    for (int j = 0; j < 4; ++j) {
        band.rec.surface.rows[0][j] = {0, 10 * vk[j + 1], 0};
        band.rec.surface.rows[1][j] = {10 * wide[j], 10 * vk[j + 1], 0};
    }
    ASSERT_EQ(trimSurfaceAddLoop(&band.rec, whole, 4), 1);
    ASSERT_TRUE(fresh());
    ASSERT_EQ(isoPatchLines(&band.rec, params, 2, kIsoAlongU, 0, tol, out), 2);
    for (int l = 0; l < 2; ++l)
        for (int32_t i = 0; i < out->data[l].count; ++i) {
            IsoPoint q;
            std::memcpy(&q, &out->data[l].data[i], sizeof q);
            EXPECT_LT(maxDiff({q.a, q.b, q.c}, {0, 0, l == 0 ? 1.0 : 0.0}), 1e-12) << l << " " << i;
        }
    // Collapsed to a line, the surface has no normal anywhere: every try fails and it stays zero.
    fold.rec.surface.rows[0][1] = fold.rec.surface.rows[0][0];
    fold.rec.surface.rows[1][1] = fold.rec.surface.rows[1][0];
    ASSERT_TRUE(fresh());
    ASSERT_EQ(isoPatchLines(&fold.rec, params, 2, kIsoAlongU, 0, tol, out), 2);
    for (int l = 0; l < 2; ++l)
        for (int32_t i = 0; i < out->data[l].count; ++i) {
            IsoPoint q;
            std::memcpy(&q, &out->data[l].data[i], sizeof q);
            EXPECT_TRUE(q.a == 0 && q.b == 0 && q.c == 0) << l << " " << i;
        }
    // Along v a chord may be 100000 long and no longer: a line that long keeps its two ends, a longer
    // one gets its midpoint too (the loop's half of the plane, away from the knot ends).
    const Vec2 half[] = {{0, 0.25}, {1, 0.25}, {1, 0.75}, {0, 0.75}};
    for (const double len : {100000.0, 100000.5}) {
        RecGuard tall;
        makePlane(&tall.rec, 1, 2 * len, 0);
        ASSERT_EQ(trimSurfaceAddLoop(&tall.rec, half, 4), 1);
        const Seg2D up{0.3, 0, 0.3, 1};
        ASSERT_TRUE(fresh());
        ASSERT_EQ(isoPatchLines(&tall.rec, &up, 1, kIsoAlongV, 0, tol, out), 1);
        EXPECT_EQ(out->data[0].count, len > 100000 ? 3 : 2) << len;
    }
    // x = 100 u, z = u^2: a chord of parameter length h is off its quarter points by 3/16 h^2 and its
    // midpoint by h^2 / 4 (the slope is too small to matter). The first quarter point beyond 0.1 splits:
    // 0.25, then at a quarter of the 0.75 left.
    RecGuard arc;
    const double k001[] = {0, 0, 0, 1, 1, 1};
    ASSERT_TRUE(knotted(&arc.rec, 3, 2, 3, 2, k001, k01));
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 2; ++j) arc.rec.surface.rows[i][j] = {50.0 * i, 10.0 * j, i == 2 ? 1.0 : 0.0};
    ASSERT_EQ(trimSurfaceAddLoop(&arc.rec, whole, 4), 1);
    ASSERT_TRUE(fresh());
    ASSERT_EQ(isoPatchLines(&arc.rec, params + 1, 1, kIsoAlongU, 0, 0.1, out), 1);
    const double want[] = {0, 0.25, 0.4375, 1};
    ASSERT_EQ(out->data[0].count, 4);
    for (int i = 0; i < 4; ++i) {
        IsoPoint q;
        std::memcpy(&q, &out->data[0].data[i], sizeof q);
        EXPECT_NEAR(q.u, want[i], 1e-9) << i;
    }
    rec144ListFree(out);
}

// The distance between two lines is the longest of five sample lines across the loops' box, its sides
// included: on a trapezoid the side nearer the long edge.
TEST_F(SurfIso, LineDistanceIsTheLongestAcrossThePatch) {
    for (const bool longFirst : {true, false}) {
        TrimSurface rec;
        if (longFirst) {
            makeFlatPatch(&rec, {0, 0, 0}, {100, 0, 0}, {100, 10, 0}, {0, 50, 0});
        } else {
            makeFlatPatch(&rec, {0, 0, 0}, {100, 0, 0}, {100, 50, 0}, {0, 10, 0});
        }
        // The long edge's side of the box is held by the loop's first point alone; the second loop's box
        // ends at u = 0.8, where the patch is 42 long.
        const std::vector<Vec2> loop = longFirst ? std::vector<Vec2>{{0, 0}, {1, 0}, {1, 1}, {0.5, 1}}
                                                 : std::vector<Vec2>{{0.8, 1}, {0, 1}, {0, 0}, {0.5, 0}};
        std::free(rec.loops[0].points);
        rec.loopCount = 0;
        ASSERT_EQ(trimSurfaceAddLoop(&rec, loop.data(), 4), 1);
        EXPECT_NEAR(isoLineDistance(&rec, kIsoAlongU, 0.0, 1.0), longFirst ? 50 : 42, 1e-3) << longFirst;
        EXPECT_NEAR(isoLineDistance(&rec, kIsoAlongU, 0.25, 0.5), (longFirst ? 50 : 42) / 4.0, 1e-3);
        // Boundary lines (1e-6 of the range inside it) exactly one or two spacings apart get the middle
        // line; less than a spacing apart, none.
        const double d = isoLineDistance(&rec, kIsoAlongU, 1e-6, 1 - 1e-6);
        for (const auto& [spacing, lines] : {std::pair{d, 3}, {d / 2, 3}, {std::nextafter(d, 1e300), 2}}) {
            Seg2D* params = nullptr;
            EXPECT_EQ(isoParamsTwoSided(&rec, kIsoAlongU, spacing, &params), lines) << spacing;
            std::free(params);
        }
        // Trimmed to v in [0.2, 0.6] (20 across at most), a spacing of 15 puts the middle line halfway.
        const Vec2 band[4] = {{0, 0.2}, {1, 0.2}, {1, 0.6}, {0, 0.6}};
        std::free(rec.loops[0].points);
        rec.loopCount = 0;
        ASSERT_EQ(trimSurfaceAddLoop(&rec, band, 4), 1);
        Seg2D* mid = nullptr;
        ASSERT_EQ(isoParamsTwoSided(&rec, kIsoAlongU, 15.0, &mid), 3);
        EXPECT_NEAR(mid[1].y1, 0.4, 1e-9);
        std::free(mid);
        // A direction other than along u or v, or a surface that cannot be evaluated, has no distance.
        EXPECT_EQ(isoLineDistance(&rec, 0, 0.25, 0.5), -1.0);
        rec.surface.uOrder = 1;
        EXPECT_EQ(isoLineDistance(&rec, kIsoAlongU, 0.25, 0.5), -1.0);
        Seg2D* none = nullptr;
        EXPECT_EQ(isoParamsTwoSided(&rec, kIsoAlongU, 1.0, &none), -1);  // nor lines
        rec.surface.uOrder = 2;
        kvxFreeTrimSurface(&rec);
    }
}

// Read back, points go into frame A with its scale while normals stay unit vectors; with the point
// files' mirror option they are first mirrored, here in the plane z = 5.
TEST_F(SurfIso, ReadPointsTakeFrameAAndItsScaleNormalsStayUnit) {
    const std::string path = dir.file("f.bnd");
    writeTextFile(path, "\n**BND 1\nX11 Y22 Z33 A0 B1.2 C1.6 U0.5 V0.25\nX12 Y20 Z0 A2 B0 C0 U1 V0\n**END\n");
    const Vec3 o{10, 20, 30}, x{0, 1, 0}, y{-1, 0, 0}, z{0, 0, 1};
    const struct {
        double scale;
        bool mirror;
    } cases[] = {{1.0, false}, {25.4, false}, {0.5, true}, {1.0, true}};
    const double pts[2][3] = {{11, 22, 33}, {12, 20, 0}}, nrm[2][3] = {{0, 0.6, 0.8}, {1, 0, 0}};
    for (const auto& c : cases) {
        reset();
        frameSetA(&o, &x, &y, &z);
        ASSERT_EQ(framesInit(), 1);
        framesScale(c.scale);
        if (c.mirror) {
            const Vec3 p1{0, 0, 5}, a1{0, 0, 1}, none{0, 0, 0};
            ASSERT_EQ(framePairCreate(&p1, &a1, &none, &none), 1);
            framePairSetFlag(kFramePairPointFiles, 1);
        }
        IsoCurve* got = readIsoCurveGroups(path.c_str(), 0, 0);
        ASSERT_NE(got, nullptr);
        ASSERT_EQ(got->count, 2);
        for (int i = 0; i < 2; ++i) {
            // World (mirrored) into the frame by the dot products with its axes, then scaled.
            const Vec3 p{pts[i][0], pts[i][1], c.mirror ? 10 - pts[i][2] : pts[i][2]};
            const Vec3 n{nrm[i][0], nrm[i][1], c.mirror ? -nrm[i][2] : nrm[i][2]};
            const Vec3 d{p.x - o.x, p.y - o.y, p.z - o.z};
            const Vec3 wantP{c.scale * (d.x * x.x + d.y * x.y + d.z * x.z),
                             c.scale * (d.x * y.x + d.y * y.y + d.z * y.z),
                             c.scale * (d.x * z.x + d.y * z.y + d.z * z.z)};
            const Vec3 wantN{n.x * x.x + n.y * x.y + n.z * x.z, n.x * y.x + n.y * y.y + n.z * y.z,
                             n.x * z.x + n.y * z.y + n.z * z.z};
            EXPECT_LT(maxDiff(got->points[i], wantP), 1e-9) << c.scale << c.mirror << i;
            EXPECT_LT(maxDiff(got->normals[i], wantN), 1e-12) << c.scale << c.mirror << i;
        }
        EXPECT_EQ(got->uv[0].x, 0.5);
        EXPECT_EQ(got->uv[0].y, 0.25);
        EXPECT_EQ(got->uv[1].x, 1.0);
        freeIsoCurves(got);
    }
}

// Short of memory at any allocation, the parameter lines fail with -1 (never the -2 of too many lines)
// and hand back nothing, or, where the allocation had a way round, come out as they do with memory.
TEST_F(SurfIso, ParameterLinesShortOfMemoryFailWithMinusOne) {
    Patches up;
    up.add({0, 0, 0}, {100, 0, 0}, {100, 50, 0}, {0, 50, 0});
    for (const int32_t d : {kIsoAlongU, kIsoAlongV}) {
        Seg2D* full = nullptr;
        const int lines = isoParamsTwoSided(&up.list->entries[0], d, 12.0, &full);
        ASSERT_GT(lines, 2);
        for (long n = 1;; ++n) {
            Seg2D* params = reinterpret_cast<Seg2D*>(&n);
            wogErrorReset();
            allocfail::arm(n);
            int got = 0;
            EXPECT_NO_THROW(got = isoParamsTwoSided(&up.list->entries[0], d, 12.0, &params)) << n;
            const bool fired = allocfail::fired();
            allocfail::disarm();
            if (got == -1) {
                EXPECT_TRUE(fired) << n;
                EXPECT_EQ(params, nullptr) << n;
                EXPECT_EQ(wogErrorState()->code, -1) << n;  // recorded as memory, not as too many lines
            } else {
                ASSERT_EQ(got, lines) << d << " " << n;
                EXPECT_EQ(std::memcmp(params, full, sizeof(Seg2D) * lines), 0) << n;
                std::free(params);
            }
            if (!fired) break;
        }
        std::free(full);
    }
}

// A loop of no points is passed over with a warning; one of negative size stops the patch.
TEST_F(SurfIso, EmptyLoopsWarnNegativeOnesStop) {
    TrimSurface rec;
    makeFlatPatch(&rec, {0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 0});
    auto* loops = static_cast<TrimLoop*>(std::realloc(rec.loops, sizeof(TrimLoop) * 2));
    ASSERT_NE(loops, nullptr);
    rec.loops = loops;
    rec.loops[rec.loopCount++] = TrimLoop{nullptr, 0};
    std::vector<Vec2> buffer(64);
    {
        MessageLog log;
        EXPECT_EQ(LESE_KONTUREN(&rec, buffer.data()), 2);
        EXPECT_GT(isoLoopCounts()[0], 3);
        EXPECT_EQ(isoLoopCounts()[1], 0);
        EXPECT_EQ(log.count(657), 1);
        EXPECT_EQ(log.count(656), 0);
    }
    rec.loops[1].count = -1;
    MessageLog log;
    EXPECT_EQ(LESE_KONTUREN(&rec, buffer.data()), kIsoAbort);
    EXPECT_EQ(log.count(656), 1);
    // Loops without a point, as all of them may be, are not read for lines: none warns or stops.
    const int32_t outer = rec.loops[0].count;
    rec.loops[0].count = 0;
    Rec144List* out = rec144ListCreate(4);
    ASSERT_NE(out, nullptr);
    const Seg2D seg{0, 0.5, 1, 0.5};
    EXPECT_EQ(isoPatchLines(&rec, &seg, 1, kIsoAlongU, 0, 0.01, out), 0);
    EXPECT_EQ(log.count(656) + log.count(657), 1);
    rec144ListFree(out);
    rec.loops[0].count = outer;
    rec.loops[1].count = 0;
    kvxFreeTrimSurface(&rec);
}
