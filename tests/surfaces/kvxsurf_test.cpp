#include "surfaces/kvxsurf.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cstring>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "geometry/frames.h"
#include "surf_fixtures.h"
#include "surfaces/deboor.h"

#define KV_ALLOCFAIL_CONTROLS_ONLY
#include "allocfail.h"

namespace {

// A bilinear 2 x 2 surface object, written by hand in the exchange text; pieces can be replaced.
struct SurfText {
    std::string order = "2/2", rational = "false", trimmed = "false", nco = "2";
    std::string vHeader = "oKnots[v](num[4])";
    std::string uKnot2 = "vk(1)", vKnot2 = "vk(1)";
    std::string z00 = "0";  // z of the first control point
    std::string trim;       // lines after the rows when trimmed
    std::string extra;      // more attribute lines
};

std::string text(const SurfText& t) {
    std::string s = "oBsplSrf[1]\n(\n  order[" + t.order + "]\n  rational[" + t.rational + "]\n  trimmed[" +
                    t.trimmed + "]\n  nco[" + t.nco + "]\n" + t.extra + ")\n{\n";
    s += "  oKnots[u](num[4])\n  {\n  ;\n   vk(0)\n   vk(0)\n   " + t.uKnot2 + "\n   vk(1)\n  }\n  ;\n";
    s += "  " + t.vHeader + "\n  {\n  ;\n   vk(0)\n   vk(0)\n   " + t.vKnot2 + "\n   vk(1)\n  }\n";
    for (int i = 0; i < 2; ++i) {
        s += "  oRow[" + std::to_string(i) + "](num[2])\n  {\n";
        for (int j = 0; j < 2; ++j)
            s += "   oP(x[" + std::to_string(10 * i) + "] y[" + std::to_string(10 * j) + "] z[" +
                 (i + j ? "0" : t.z00) + "])\n";
        s += "  }\n";
    }
    return s + (t.trimmed == "true" ? t.trim : "  ;\n}\n");
}

std::string polyline(int n, double x0) {
    std::string s =
        "    {\n    oL(start[] x[" + std::to_string(x0) + "/" + std::to_string(x0 + 1) + "] y[0/0])\n";
    for (int i = 2; i < n; ++i)
        s += "    oL(x[" + std::to_string(x0 + i) + "] y[" + std::to_string(i) + "])\n";
    return s + "    }\n";
}

const char kSquareTrim[] =
    "  oTrim[1](parametric[] loops[1])\n  {\n   oContour[1](num[4])\n   {\n    oL(start[] x[0/1] y[0/0])\n"
    "    oL(x[1] y[1])\n    oL(x[0/0] y[1/1])\n   }\n  }\n}\n";
// The trim header spread over four lines, its kind and count on lines of their own.
const char kFourLineTrim[] =
    "  oTrim\n  (\n  kind curves\n  num[1]\n  )\n  {\n   oContour[1](num[2])\n   {\n"
    "    oL(x[0/5] y[0/6])\n   }\n  }\n}\n";

struct ListGuard {
    SurfList* list = newSurfList(3);
    ~ListGuard() { freeSurfList(list); }
};

int readText(const std::string& body, SurfList* list) {
    return readSurfObjects(writeText("s.kvx", "kVX-Exchange-File\nkVX-Version: 1.0\nx\ny\n" + body).c_str(),
                           list);
}

}  // namespace

TEST(KvxSurf, FailingObjectsKeepWhatWasReadBefore) {
    struct Case {
        const char* what;
        std::string SurfText::*field;
        const char* value;
    };
    const Case cases[] = {
        {"u order 1", &SurfText::order, "1/3"},
        {"v order 1", &SurfText::order, "2/1"},
        {"v num 1", &SurfText::vHeader, "oKnots[v](num[3])"},
        {"u order 3 over 2 points", &SurfText::order, "3/2"},  // with its 5 knots below
        {"v order 3 over 2 points", &SurfText::order, "2/3"},
        {"knot text", &SurfText::uKnot2, "vk(abc)"},
        {"descending knot", &SurfText::uKnot2, "vk(-1)"},
        {"descending knot above zero", &SurfText::uKnot2, "vk(2)"},
        {"control point not finite", &SurfText::z00, "inf"},
        {"NaN knot", &SurfText::uKnot2, "vk(nan)"},
        {"v knots beyond the bound", &SurfText::vHeader, "oKnots[v](num[400001])"},
        {"v knots overflowing 32 bits", &SurfText::vHeader, "oKnots[v](num[2147483647])"},
        {"no oTrim", &SurfText::trim, "  oTrum[1](a[] b[1])\n}\n"},
        {"offset not finite", &SurfText::extra, "  offset[inf]\n"},
        {"offset not a number", &SurfText::extra, "  offset[nan]\n"},
        {"trim point not finite", &SurfText::trim,
         "  oTrim[1](parametric[] loops[1])\n  {\n   oContour[1](num[3])\n   {\n    oL(start[] x[0/1] "
         "y[0/0])\n"
         "    oL(x[1] y[nan])\n   }\n  }\n}\n"},
    };
    for (const Case& c : cases) {
        SurfText bad;
        bad.trimmed = "true", bad.trim = kSquareTrim;
        bad.*c.field = c.value;
        if (bad.order == "3/2") bad.uKnot2 = "vk(0)\n   vk(1)";
        if (bad.order == "2/3") bad.vKnot2 = "vk(0)\n   vk(1)", bad.vHeader = "oKnots[v](num[5])";
        ListGuard g;
        ASSERT_NE(g.list, nullptr);
        EXPECT_EQ(readText(text({}) + text(bad) + text({}), g.list), -1) << c.what;
        ASSERT_EQ(g.list->count, 1) << c.what;
        EXPECT_EQ(g.list->entries[0].surface.uOrder, 2);
    }
    // 65536 x 65536 control points wrap to 0 in 32 bits.
    SurfText big;
    big.nco = "65536", big.vHeader = "oKnots[v](num[65538])";
    for (int i = 0; i < 65535; ++i) big.uKnot2 += i ? "\n vk(1)" : "vk(1)";
    ListGuard g;
    EXPECT_EQ(readText(text(big), g.list), -1);
}

TEST(KvxSurf, FailedPartsComeBackEmptyWithMinusOne) {
    SurfText t;
    t.trimmed = "true", t.extra = "  offset[2.5]\n", t.vHeader = "oKnots[v](num[3])";
    const std::string bad = text(t);
    FILE* f = fmemopen(const_cast<char*>(bad.data()), bad.size(), "r");
    ASSERT_NE(f, nullptr);
    BsplSurface s{};
    int32_t trimmed = 7;
    double offset = 7.0;
    EXPECT_EQ(kvxReadBsplSurface(f, &s, &trimmed, &offset), -1);
    EXPECT_EQ(trimmed, 0);
    EXPECT_EQ(offset, 0.0);
    EXPECT_EQ(s.uKnots, nullptr);
    EXPECT_EQ(kvxReadBsplSurface(nullptr, &s, &trimmed, &offset), -1);
    std::rewind(f);
    RecGuard g;
    EXPECT_EQ(kvxReadTrimSurface(f, &g.rec), -1);
    EXPECT_EQ(g.rec.loopCount, 0);
    std::fclose(f);
    // So does a surface whose trim part fails, its surface given back.
    SurfText u;
    u.trimmed = "true", u.trim = "  oTrum[1](a[] b[1])\n}\n";
    const std::string badTrim = text(u);
    f = fmemopen(const_cast<char*>(badTrim.data()), badTrim.size(), "r");
    ASSERT_NE(f, nullptr);
    char line[64] = "";
    ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);  // the object word
    EXPECT_EQ(kvxReadTrimSurface(f, &g.rec), -1);
    EXPECT_EQ(g.rec.surface.uKnots, nullptr);
    std::fclose(f);
}

TEST(KvxSurf, EveryTruncationEndsCleanly) {
    for (const char* trim : {kSquareTrim, kFourLineTrim}) {
        SurfText t;
        t.trimmed = "true", t.trim = trim;
        const std::string full = text(t);
        for (size_t n = 0; n < full.size(); ++n) {
            ListGuard g;
            const int rc = readSurfObjectsBuffer(full.data(), n, g.list);
            // Before the object word is whole nothing starts; the last line end is not needed.
            const bool complete = n + 1 >= full.size();
            EXPECT_EQ(rc, complete || n < 8 ? 1 : -1) << n;
            EXPECT_EQ(g.list->count, complete ? 1 : 0) << n;
        }
    }
    ListGuard g;
    EXPECT_TRUE(readSurfObjectsBuffer(nullptr, 1, g.list) == 0 &&
                readSurfObjectsBuffer(nullptr, 0, g.list) == 1);
}

TEST(KvxSurf, CurveSetJoinsPolylinesIntoOneLoop) {
    SurfText t;
    t.trimmed = "true";
    t.trim = "  oTrim[1](parametric[] loops[1])\n  {\n   oCrvSet[1](num[3])\n   {\n   oParCrv[1](num[4])\n" +
             polyline(4, 0) + "; comment\n   oParCrv[2](num[3])\n" + polyline(3, 10) +
             "   oParCrv[3](num[5])\n" + polyline(5, 20) + "   }\n  }\n}\n";
    ListGuard g;
    ASSERT_EQ(readText(text(t), g.list), 1);
    ASSERT_EQ(g.list->count, 1);
    const TrimSurface& r = g.list->entries[0];
    ASSERT_EQ(r.loopCount, 1);
    ASSERT_EQ(r.loops[0].count, 12);
    const double xs[] = {0, 1, 2, 3, 10, 11, 12, 20, 21, 22, 23, 24};
    for (int i = 0; i < 12; ++i) EXPECT_EQ(r.loops[0].points[i].x, xs[i]) << i;
    EXPECT_EQ(r.umax, 24.0);
    EXPECT_EQ(r.vmax, 4.0);
    // A loop of a kind not known is read as an empty loop, not as a failure; a header without a count
    // (in either form) is refused whatever its kind.
    const std::pair<std::string, int> headers[] = {{"   oCircle[1](num[3])\n", 0},
                                                   {"   oCircle[1](num[1])\n", 0},
                                                   {"   oCircle(num[3])\n", 0},
                                                   {"   oCircle[1](a b)\n", -1}};
    for (const auto& [header, rc] : headers) {
        std::string other = header;
        FILE* f = fmemopen(other.data(), other.size(), "r");
        ASSERT_NE(f, nullptr);
        TrimLoop loop{nullptr, 7};
        EXPECT_EQ(kvxReadCurveSet(f, nullptr), -1);  // no loop to read into: refused, the file left alone
        EXPECT_EQ(kvxReadCurveSet(f, &loop), rc) << header;
        EXPECT_EQ(loop.count, 0);
        EXPECT_EQ(loop.points, nullptr);
        std::fclose(f);
    }
}

// A polyline of n points after its opening line: 0 with the points appended, or -1 with the loop as it was.
TEST(KvxSurf, ParCurveTakesExactlyItsPointsOrNothing) {
    const std::string first = "{\noL(start[] x[0/1] y[0/0])\n";
    // Taken: a point line, a segment line (its end point). Refused: one point announced, a first line not oL
    // or short of a coordinate, a later line not oL, short or not finite, a point more, an early end (two).
    const char* tails[] = {"oL(x[1] y[1])\n}\n",
                           "oL(x[0/1] y[2/1])\n}\n",
                           "}\n",
                           "oP(start[] x[0/1] y[0/0])\n",
                           "oL(start[] x[0/1] y[0])\noL(x[1] y[1])\n}\n",
                           "oP(x[1] y[1])\n}\n",
                           "oL(x[1])\n}\n",
                           "oL(x[1] y[nan])\n}\n",
                           "oL(x[1] y[1])\noL(x[2] y[2])\n",
                           "oL(x[1] y[1])\n",
                           ""};
    for (size_t k = 0; k < std::size(tails); ++k) {
        const int rc = k < 2 ? 0 : -1;
        std::string in = (k == 3 || k == 4 ? std::string("{\n") : first) + tails[k];
        FILE* f = fmemopen(in.data(), in.size(), "r");
        ASSERT_NE(f, nullptr);
        TrimLoop loop{nullptr, 0};
        const Vec2 before{5, 5};
        ASSERT_EQ(trimLoopAppend(&loop, &before, 1), 1);
        EXPECT_EQ(kvxReadParCurve(f, k == 2 ? 1 : 3, &loop), rc) << k;
        const Vec2 last = loop.points[loop.count - 1];
        EXPECT_TRUE(loop.count == (rc == 0 ? 4 : 1) && last.x == (rc == 0 ? 1 : 5) && last.y == last.x) << k;
        std::free(loop.points);
        std::fclose(f);
    }
}

// An object read leaves the file at the line after its own: two lines after the rows of an untrimmed
// surface, two data lines after the loops of a trimmed one, nothing after a surface3D header.
TEST(KvxSurf, ObjectReadStopsAfterItsLastLine) {
    const struct {
        const char* trimmed;
        std::string trim;
        const char* next;
    } cases[] = {{"false", "", "oNext\n"},
                 {"true", kSquareTrim, "oNext\n"},
                 {"true", "  oTrim[1](surface3D[] y[0])\n}\n", "}\n"}};
    for (const auto& c : cases) {
        SurfText t;
        t.trimmed = c.trimmed, t.trim = c.trim;
        std::string in = text(t) + "oNext\n";
        FILE* f = fmemopen(in.data(), in.size(), "r");
        ASSERT_NE(f, nullptr);
        char line[64] = "";
        ASSERT_NE(std::fgets(line, sizeof line, f), nullptr);  // the object word
        RecGuard g;
        EXPECT_EQ(kvxReadTrimSurface(f, &g.rec), 0) << c.trimmed;
        ASSERT_NE(std::fgets(line, sizeof line, f), nullptr) << c.trimmed;
        EXPECT_STREQ(line, c.next) << c.trimmed;
        std::fclose(f);
    }
}

TEST(KvxSurf, TrimVariantsFlagsAndLineEnds) {
    struct Case {
        const char* what;
        std::string rational, trimmed, trim;
        int points;  // of the one loop; 0: untrimmed with the empty box
        double p1x, p1y;
    };
    const Case cases[] = {
        {"untrimmed", "false", "false", "", 0, 0, 0},
        {"square", "false", "true", kSquareTrim, 4, 1, 0},
        {"surface3D", "false", "true", "  oTrim[1](surface3D[] y[0])\n}\n", 0, 0, 0},
        {"header without a loop count", "false", "true", "  oTrim[1](parametric[])\n  {\n  }\n}\n", 0, 0, 0},
        {"header over four lines", "false", "true", kFourLineTrim, 2, 5, 6},
        {"capital TRUE is not rational", "TRUE", "false", "", 0, 0, 0},
    };
    for (const Case& c : cases)
        for (const bool crlf : {false, true}) {
            SurfText t;
            t.rational = c.rational, t.trimmed = c.trimmed, t.trim = c.trim;
            std::string in;
            for (char ch : text(t)) in += ch == '\n' && crlf ? std::string("\r\n") : std::string(1, ch);
            ListGuard g;
            ASSERT_EQ(readSurfObjectsBuffer(in.data(), in.size(), g.list), 1) << c.what;
            ASSERT_EQ(g.list->count, 1) << c.what;
            const TrimSurface& r = g.list->entries[0];
            EXPECT_EQ(r.surface.rational, 0) << c.what;
            ASSERT_EQ(r.loopCount, c.points ? 1 : 0) << c.what;
            if (c.points == 0) {
                EXPECT_EQ(r.umin, DBL_MAX);
                EXPECT_EQ(r.vmax, -DBL_MAX);
                continue;
            }
            ASSERT_EQ(r.loops[0].count, c.points) << c.what;
            EXPECT_EQ(r.loops[0].points[1].x, c.p1x) << c.what;
            EXPECT_EQ(r.loops[0].points[1].y, c.p1y) << c.what;
        }
}

TEST(KvxSurf, ListGrowsAndOtherObjectsAreSkipped) {
    const std::string other = "oCircle[7]\n(\n  nco[9]\n)\n{\n  vr(5)\n}\n";
    ListGuard g;
    ASSERT_EQ(readText(text({}) + other + text({}) + text({}) + other + text({}), g.list), 1);
    EXPECT_EQ(g.list->count, 4);
}

TEST(KvxSurf, SeededRoundTripEvaluatesIdentically) {
    std::mt19937 rng(2019);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    ListGuard out;
    for (int k = 0; k < 8; ++k) {
        TrimSurface rec;
        makeRandomSurface(&rec, rng, 2 + k % 3, 2 + (k / 2) % 3, 5 + k, 4 + k % 4, k % 2 == 1);
        rec.surface.periodicU = k == 6, rec.surface.periodicV = k == 5;
        if (k == 3) rec.surface.rational = 0;  // weights flagged by the second flag alone still count
        rec.hasOffset = k % 3 == 0, rec.offset = rec.hasOffset ? -1.0 / 3.0 - k : 0.0;
        for (int l = 0; l < k % 3; ++l) {
            std::vector<Vec2> pts(3 + l);
            for (Vec2& p : pts) p = {unit(rng), unit(rng)};
            ASSERT_EQ(trimSurfaceAddLoop(&rec, pts.data(), static_cast<int32_t>(pts.size())), 1);
        }
        ASSERT_EQ(surfListAppend(out.list, &rec), 1);
    }
    const std::string path = (tempDir() / "round.kvx").string();
    ASSERT_EQ(writeSurfObjects(path.c_str(), out.list), 1);
    std::ifstream written(path);
    const std::string text{std::istreambuf_iterator<char>(written), {}};
    int untrimmed = 0;
    for (size_t at = text.find("trimmed[false]"); at != std::string::npos;
         at = text.find("trimmed[false]", at + 1))
        ++untrimmed;
    EXPECT_EQ(untrimmed, 3);  // k = 0, 3 and 6 have no loop
    ListGuard in;
    ASSERT_EQ(readSurfObjects(path.c_str(), in.list), 1);
    ASSERT_EQ(in.list->count, out.list->count);
    // Memory that cannot be had fails the read, the surfaces before the failing one kept whole.
    for (long n = 1;; ++n) {
        ListGuard part;
        allocfail::arm(n);
        const int rc = readSurfObjects(path.c_str(), part.list);
        const bool fired = allocfail::fired();
        allocfail::disarm();
        ASSERT_EQ(rc, fired ? -1 : 1) << n;
        ASSERT_LE(part.list->count, out.list->count - (fired ? 1 : 0)) << n;
        for (int k = 0; k < part.list->count; ++k) {
            Vec3 pa, pb;
            ASSERT_EQ(evalNurbsSurfPoint(&out.list->entries[k].surface, 0.3, 0.7, &pa), 1);
            ASSERT_EQ(evalNurbsSurfPoint(&part.list->entries[k].surface, 0.3, 0.7, &pb), 1);
            EXPECT_EQ(0, std::memcmp(&pa, &pb, sizeof pa)) << n << " " << k;
        }
        if (!fired) break;
    }
    for (int k = 0; k < out.list->count; ++k) {
        const TrimSurface &a = out.list->entries[k], &b = in.list->entries[k];
        EXPECT_EQ(b.offset, a.offset);
        EXPECT_EQ(b.surface.periodicU * 2 + b.surface.periodicV,
                  a.surface.periodicU * 2 + a.surface.periodicV);
        EXPECT_EQ(b.surface.rational, a.surface.rational || a.surface.rational2 ? 1 : 0);
        ASSERT_EQ(b.loopCount, a.loopCount);
        for (int l = 0; l < a.loopCount; ++l) {
            ASSERT_EQ(b.loops[l].count, a.loops[l].count);
            EXPECT_EQ(0, std::memcmp(a.loops[l].points, b.loops[l].points, sizeof(Vec2) * a.loops[l].count));
        }
        for (int i = 0; i < 50; ++i) {
            const double u = unit(rng), v = unit(rng);
            Vec3 pa, pb, na, nb;
            ASSERT_EQ(evalNurbsSurfPoint(&a.surface, u, v, &pa), 1);
            ASSERT_EQ(evalNurbsSurfPoint(&b.surface, u, v, &pb), 1);
            ASSERT_EQ(evalNurbsSurfDeriv(&a.surface, u, v, nullptr, nullptr, &na), 1);
            ASSERT_EQ(evalNurbsSurfDeriv(&b.surface, u, v, nullptr, nullptr, &nb), 1);
            EXPECT_EQ(0, std::memcmp(&pa, &pb, sizeof pa));
            EXPECT_EQ(0, std::memcmp(&na, &nb, sizeof na));
        }
    }
    // A loop of one point cannot be written as a polyline: refused.
    const Vec2 one{0.5, 0.5};
    ASSERT_EQ(trimSurfaceAddLoop(&out.list->entries[0], &one, 1), 1);
    EXPECT_EQ(writeSurfObjects(path.c_str(), out.list), -1);
    // Knots descending from the very first are refused as well.
    RecGuard down;
    makePlane(&down.rec, 1, 1, 0);
    down.rec.surface.uKnots[0] = 0.5;
    FILE* f = std::fopen(path.c_str(), "w");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(kvxWriteTrimSurface(f, &down.rec, 1), -1);
    // So is a control point that is not a number, the first of its row included.
    down.rec.surface.uKnots[0] = 0.0;
    down.rec.surface.rows[1][0].y = NAN;
    EXPECT_EQ(kvxWriteTrimSurface(f, &down.rec, 1), -1);
    std::fclose(f);
    // Data that cannot be flushed at the close fails the file.
    if (std::filesystem::exists("/dev/full")) {
        EXPECT_EQ(writeSurfObjects("/dev/full", in.list), -1);
    }
    EXPECT_EQ(writeSurfObjects((tempDir() / "absent" / "x.kvx").c_str(), in.list), -1);
}

TEST(KvxSurf, FramePairFlagMapsOnlyTheNewSurfaces) {
    const Vec3 p1{0, 0, 5}, a1{0, 0, 1}, none{0, 0, 0};
    ASSERT_EQ(framePairCreate(&p1, &a1, &none, &none), 1);
    framePairSetFlag(2, 0);
    ListGuard g;
    ASSERT_EQ(readText(text({}), g.list), 1);
    framePairSetFlag(2, 1);
    ASSERT_EQ(readText(text({}), g.list), 1);
    ASSERT_EQ(readText(text({}), g.list), 1);  // the list's room is full now
    ASSERT_EQ(g.list->count, 3);
    EXPECT_EQ(g.list->entries[0].surface.rows[1][1].z, 0.0);
    EXPECT_EQ(g.list->entries[1].surface.rows[1][1].z, 10.0);  // mirrored in the plane z = 5
    EXPECT_EQ(g.list->entries[2].surface.rows[1][1].z, 10.0);
    framePairResetState();
}

// Line classes; the keyword is the text up to '[' and the value the text up to ']', blanks and tabs
// dropped; a line that gives neither leaves them empty.
TEST(KvxSurf, LineClassesKeywordsAndValues) {
    const struct {
        const char* line;
        int cls;
        const char* keyword;
        const char* value;
    } cases[] = {
        {"(", kKvxLineScopeOpen, "", ""},
        {"  )", kKvxLineScopeClose, "", ""},
        {"\t{", kKvxLineData, "", ""},
        {"order[4/3]", kKvxLineAttr, "order", "4/3"},
        {" n c\to [ 1 2 ] rest", kKvxLineAttr, "nco", "12"},
        {"oP(x[1", kKvxLineOther, "oP(x", "1"},
        {"plain words", kKvxLineOther, "plainwords", ""},
        {"", kKvxLineOther, "", ""},
        {"order\0[4]", kKvxLineOther, "order", ""},  // nothing after the line's end is read
    };
    for (const auto& c : cases) {
        char keyword[kKvxLineSize] = "zzz", value[kKvxLineSize] = "zzz";
        EXPECT_EQ(kvxClassifyLine(c.line, keyword, value), c.cls) << c.line;
        EXPECT_STREQ(keyword, c.keyword) << c.line;
        EXPECT_STREQ(value, c.value) << c.line;
    }
    char keyword[kKvxLineSize] = "zzz", value[kKvxLineSize] = "zzz";
    EXPECT_EQ(kvxClassifyLine(nullptr, keyword, value), kKvxLineOther);
    EXPECT_STREQ(keyword, "");
    EXPECT_STREQ(value, "");
}

// A data line is the next line that is neither empty, a comment nor a bare line end; CRLF reads as LF
// and a lone CR at the end is dropped. A buffer that holds a data line already reads nothing.
TEST(KvxSurf, ReadLineSkipsToTheNextDataLine) {
    const struct {
        std::string in;
        int rc;
        const char* line;
    } cases[] = {{"; note\n\nabc d\n", 0, "abc d\n"},
                 {"; note\r\n\r\nabc d\r\nx\n", 0, "abc d\n"},
                 {"abc\r", 0, "abc"},
                 {"; only\r\n\r\n", -1, ""}};
    for (const auto& c : cases) {
        std::string in = c.in;
        FILE* f = fmemopen(in.data(), in.size(), "r");
        ASSERT_NE(f, nullptr);
        char buf[kKvxLineSize] = "";
        EXPECT_EQ(kvxReadLine(f, buf), c.rc) << c.in;
        EXPECT_STREQ(buf, c.line) << c.in;
        EXPECT_EQ(kvxReadLine(f, buf), -1) << c.in;  // held already, or the end
        std::fclose(f);
    }
}

// An attribute left out reads as its default; an offset counts only above 1e-4 in size.
TEST(KvxSurf, MissingAttributesAndTheOffsetThreshold) {
    const struct {
        const char* drop;    // attribute line taken out
        const char* offset;  // offset attribute added, or ""
        int trimmed, hasOffset;
        double offsetRead;
    } cases[] = {
        {"  trimmed[false]\n", "", 0, 0, 0.0},
        {"  rational[false]\n", "", 0, 0, 0.0},
        {"", "1e-4", 0, 0, 0.0},
        {"", "-1e-4", 0, 0, 0.0},
        {"", "1.0000001e-4", 0, 1, 1.0000001e-4},
        {"", "-2e-4", 0, 1, -2e-4},
        {"", "9e-4", 0, 1, 9e-4},
        {"  trimmed[false]\n", "0.5", 0, 1, 0.5},
    };
    for (const auto& c : cases) {
        SurfText t;
        if (c.offset[0] != '\0') t.extra = std::string("  offset[") + c.offset + "]\n";
        std::string in = text(t);
        if (c.drop[0] != '\0') {
            const size_t at = in.find(c.drop);
            ASSERT_NE(at, std::string::npos);
            in.erase(at, std::strlen(c.drop));
        }
        FILE* f = fmemopen(in.data(), in.size(), "r");
        ASSERT_NE(f, nullptr);
        BsplSurface s{};
        int32_t trimmed = 7;
        double offset = 7.0;
        EXPECT_EQ(kvxReadBsplSurface(f, &s, &trimmed, &offset), 0) << c.offset << c.drop;
        EXPECT_EQ(trimmed, c.trimmed) << c.offset << c.drop;
        EXPECT_EQ(offset, c.offset[0] != '\0' ? std::strtod(c.offset, nullptr) : 0.0) << c.offset;
        EXPECT_EQ(s.rational, 0);
        EXPECT_EQ(s.weights, nullptr);
        bsplSurfaceFree(&s);
        std::fclose(f);
        ListGuard g;
        ASSERT_EQ(readSurfObjectsBuffer(in.data(), in.size(), g.list), 1) << c.offset << c.drop;
        ASSERT_EQ(g.list->count, 1);
        EXPECT_EQ(g.list->entries[0].hasOffset, c.hasOffset) << c.offset;
        EXPECT_EQ(g.list->entries[0].offset, c.offsetRead) << c.offset;
    }
}

// Each field the reader would refuse makes the writer refuse the record before writing a byte; the
// untouched record and the allowed edges are written; a stream that takes no bytes fails the write.
TEST(KvxSurf, WriterRefusesEachUnreadableFieldBeforeWriting) {
    using Spoil = void (*)(TrimSurface*);
    const struct {
        const char* what;
        Spoil spoil;
        int rc;
        const char* mode = "w";
    } cases[] = {
        {"as made", [](TrimSurface*) {}, 0},
        {"u order 1", [](TrimSurface* r) { r->surface.uOrder = 1; }, -1},
        {"v order 1", [](TrimSurface* r) { r->surface.vOrder = 1; }, -1},
        {"u points below the order", [](TrimSurface* r) { r->surface.uOrder = r->surface.uNum + 1; }, -1},
        {"v points below the order", [](TrimSurface* r) { r->surface.vOrder = r->surface.vNum + 1; }, -1},
        // Checked before any array is read: 3 x 133334 points are beyond the bound, their knots are not.
        {"points beyond the bound", [](TrimSurface* r) { r->surface.uNum = kSurfMaxPoints / 3 + 1; }, -1},
        {"no u knots", [](TrimSurface* r) { r->surface.uKnots = nullptr; }, -1},
        {"no v knots", [](TrimSurface* r) { r->surface.vKnots = nullptr; }, -1},
        {"no rows", [](TrimSurface* r) { r->surface.rows = nullptr; }, -1},
        {"weights flagged, none there",
         [](TrimSurface* r) { r->surface.rational = 1, r->surface.rational2 = 0; }, -1},
        {"second flag alone, none there",
         [](TrimSurface* r) { r->surface.rational = 0, r->surface.rational2 = 1; }, -1},
        {"offset not finite", [](TrimSurface* r) { r->offset = INFINITY; }, -1},
        {"last u knot below the one before", [](TrimSurface* r) { r->surface.uKnots[5] = 0.9; }, -1},
        {"last v knot below the one before", [](TrimSurface* r) { r->surface.vKnots[5] = 0.9; }, -1},
        {"last v knot not a number", [](TrimSurface* r) { r->surface.vKnots[5] = NAN; }, -1},
        {"last control point", [](TrimSurface* r) { r->surface.rows[2][2].z = INFINITY; }, -1},
        {"first control point", [](TrimSurface* r) { r->surface.rows[0][0].x = NAN; }, -1},
        {"loop count below 0", [](TrimSurface* r) { r->loopCount = -1; }, -1},
        {"loop of one point", [](TrimSurface* r) { r->loops[1].count = 1; }, -1},
        {"loop of negative size", [](TrimSurface* r) { r->loops[1].count = -3; }, -1},
        {"loop beyond the bound", [](TrimSurface* r) { r->loops[1].count = kSurfMaxLoopPoints + 1; }, -1},
        {"last loop point not a number", [](TrimSurface* r) { r->loops[1].points[2].y = NAN; }, -1},
        {"loops missing", [](TrimSurface* r) { r->loopCount = 0; }, 0},
        {"empty second loop", [](TrimSurface* r) { r->loops[1].count = 0; }, 0},
        {"equal neighbouring knots", [](TrimSurface* r) { r->surface.uKnots[3] = r->surface.uKnots[2]; }, 0},
        {"a stream that takes no bytes", [](TrimSurface*) {}, -1, "r"},
    };
    const std::string path = (tempDir() / "w.kvx").string();
    for (const auto& c : cases) {
        RecGuard g;
        std::mt19937 rng(5);
        makeRandomSurface(&g.rec, rng, 3, 3, 3, 3, false);
        const Vec2 a[] = {{0.1, 0.1}, {0.9, 0.1}, {0.5, 0.9}}, b[] = {{0.4, 0.3}, {0.5, 0.4}, {0.6, 0.3}};
        ASSERT_EQ(trimSurfaceAddLoop(&g.rec, a, 3), 1);
        ASSERT_EQ(trimSurfaceAddLoop(&g.rec, b, 3), 1);
        const TrimSurface keep = g.rec;
        const int32_t loops1 = g.rec.loops[1].count;
        c.spoil(&g.rec);
        FILE* f = std::fopen(path.c_str(), c.mode);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(kvxWriteTrimSurface(f, &g.rec, 1), c.rc) << c.what;
        const long written = std::ftell(f);
        std::fclose(f);
        EXPECT_EQ(written > 0, c.rc == 0) << c.what;
        // Back to what the guard frees.
        g.rec = keep;
        g.rec.loops[1].count = loops1;
    }
    // Exactly as many control points as the reader takes (2 x 200000, all zero: equal knots allowed) pass
    // the checks: the write is tried, on a stream that takes no bytes (its error flag tells).
    RecGuard big;
    kvxInitTrimSurface(&big.rec);
    ASSERT_EQ(bsplSurfaceAlloc(&big.rec.surface, 2, 2, 2, kSurfMaxPoints / 2, 0), 1);
    FILE* sink = std::fopen(path.c_str(), "r");
    ASSERT_NE(sink, nullptr);
    EXPECT_EQ(kvxWriteTrimSurface(sink, &big.rec, 1), -1);
    EXPECT_NE(std::ferror(sink), 0);
    std::fclose(sink);
}
