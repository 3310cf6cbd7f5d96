#include "pocket/pocketinput.h"

// The allocation controls only: another file of the binary holds the hooks.
#define KV_ALLOCFAIL_CONTROLS_ONLY
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "allocfail.h"
#include "geometry/frames.h"
#include "kernel/base/kvx/kvxfile.h"
#include "openfiles.h"
#include "pocket/inputcheck.h"
#include "pocket/pocketkeys.h"
#include "pocket/pocketscale.h"
#include "pocket/pocketstate.h"
#include "pocket_util.h"
#include "surfaces/xyztext.h"

namespace {

void setVars(const std::vector<std::pair<const char*, std::string>>& vars) {
    for (const auto& v : vars) kvCCP.vars = kvListSet(kvCCP.vars, v.first, v.second.c_str(), 21);
}

// An exchange file of contours, each a list of element records.
std::string kvx(const std::string& body) {
    return std::string(kKvxBanner) + "\n" + kKvxVersionTag + " 1.0\npocket\ncontours\n" + body;
}

}  // namespace

TEST(PocketInput, ToolLineResetsTheKernel) {
    const struct {
        const char* line;
        int result;
        const char* sent;
        double step, startRadius;
    } cases[] = {
        {"TI0.0 R2.5", 0, nullptr, 0.495, 0},
        {"TI0.0 R2.5 ZM1.5", 0, "101 1502", 0.495, 0},
        {"TI0.0 R2.5 ZM-0.1", 0, "101 1502", 0.495, 0},
        {"TI0.0 R2.5 ZM0", 0, nullptr, 0, 0},  // the step factor's range is [0, 1)
        {"TI0.0 R2.5 ZM1", 0, "101 1502", 0.495, 0},
        {"TI0.0 R2.5 ZM0.99", 0, nullptr, 0.99 * 0.99, 0},
        {"TI0.0 R5e-5 ZM0.5", -1, "101 1511", 0, 0},
        {"TI0.0 R0.0001 ZM0.5", 0, nullptr, 0.495, 0},  // the smallest radius taken
        {"TI0.0 R2.0000 ZM0.400000 XA1.0 YA-2.0", 0, nullptr, 0.396, 2.01 * 0.4 * 2},
        {"TI0.0 R2 ZM0.4 XA1.0", 0, nullptr, 0.396, 0},
    };
    for (const auto& c : cases) {
        PocketErrors errors;
        // A start region and a wanted orientation of the run before: none is chosen yet.
        pocketKernel().startRegion = 7, pocketKernel().wantedOrientation = 1;
        pocketKernel().tolerance = pocketKernel().tolerance2 = 0.5;
        EXPECT_EQ(pocketStateReset(c.line), c.result) << c.line;
        EXPECT_EQ(std::pair(pocketKernel().startRegion, pocketKernel().wantedOrientation), std::pair(-1, 0));
        EXPECT_EQ(pocketKernel().tolerance + pocketKernel().tolerance2, 2e-4);  // both back at 1e-4
        EXPECT_EQ(PocketErrors::texts(),
                  c.sent ? std::vector<std::string>{c.sent} : std::vector<std::string>{});
        if (c.result < 0) {
            EXPECT_EQ(pocketLastError(), 3040);
            continue;
        }
        EXPECT_NEAR(pocketKernel().stepFactor, c.step, 1e-15) << c.line;
        EXPECT_NEAR(pocketKernel().startRadius, c.startRadius, 1e-15);
        EXPECT_EQ(pocketKernel().startGiven, c.startRadius > 0 ? 1 : 0);
    }
}

// Heights measured at the tool's centre stand above its tip by half the diameter of a ball, the corner
// radius of a radius mill, nothing for an end mill; at the tip, never.
TEST(PocketInput, CentreReferenceOffsetByToolType) {
    PocketErrors errors;
    kvCCPParams.toolDiameter = 10;
    kvCCPParams.cornerRadius = 2;
    for (const auto& [type, centre] : {std::pair{1, 5.0}, {2, 0.0}, {3, 2.0}, {4, 0.0}})
        for (const char* at : {"tip", "center"}) {
            kvCCPParams.toolType = type;
            setVars({{"toolReference", at}});
            EXPECT_EQ(toolReferenceOffset(&kvCCP), at[0] == 'c' ? centre : 0) << type << at;
        }
    EXPECT_EQ(toolReferenceOffset(nullptr), 0);
}

TEST(PocketInput, ScaleFollowsTheToolRadius) {
    PocketErrors state;
    const struct {
        double r, scale;
    } cases[] = {{0.1, 25}, {0.05, 50}, {0.003, 500}, {0.0039, 500}, {0.004, 50}, {3, 25}};
    for (const auto& c : cases) {
        pocketKernel().toolRadius = c.r;
        scaleFromTool();
        EXPECT_EQ(pocketKernel().geometryScale, c.scale) << c.r;
    }
    double xyz[3];
    EXPECT_EQ(parseXyzTriple("1.5, -2,3e1", xyz), 3);
    EXPECT_EQ(xyz[2], 30);
    EXPECT_EQ(parseXyzTriple("4 5 6", xyz), 1);
    EXPECT_EQ(xyz[1], 0);
}

// A list's contours scaled in place: every coordinate, centre, radius and allowance, the order kept;
// a scale of 1 within 1e-5 leaves them; a missing list is a failure.
TEST(PocketInput, ListScaleMultipliesEveryContour) {
    PocketErrors state;
    const std::vector<ContourElement> c[2] = {polygon({{0, 0}, {4, 0}, {4, 3}}),
                                              {arcElem(1, 2, 3, 0, 1, 1), lineElem(1, 2, 5, 6)}};
    for (const double scale : {25.0, 1.000001}) {
        ASSERT_TRUE(clistCreate("TEMP"));
        for (int i = 0; i < 2; ++i) {
            ContourHeader h{};
            h.allowance = 0.5 + i;
            ASSERT_TRUE(putContour("TEMP", c[i], h));
        }
        pocketKernel().geometryScale = scale;
        ASSERT_EQ(clistScale("TEMP"), 1);
        const double f = scale > 2 ? scale : 1;
        for (int32_t i = 0; i < 2; ++i) {
            ContourElement back[3];
            ContourHeader h;
            ASSERT_EQ(clistGet("TEMP", back, &h, i), i);
            ASSERT_EQ(h.elementCount, c[i].size());
            EXPECT_DOUBLE_EQ(h.allowance, (0.5 + i) * f);
            for (size_t k = 0; k < c[i].size(); ++k)
                for (int j = 0; j < (c[i][k].type == kElemArc ? kAr + 1 : 4); ++j)
                    EXPECT_DOUBLE_EQ(back[k].g[j], c[i][k].g[j] * f) << i << " " << k << " " << j;
        }
    }
    EXPECT_EQ(clistScale("NOSUCHLIST"), 0);
    scaleReset();
}

// Consecutive lines of one source whose directions agree within 1e-7 in both components become one
// line from the first start to the last end; any other pair stays.
TEST(PocketInput, CollinearLinesMerge) {
    const auto tagged = [](ContourElement e, int32_t tag) {
        e.sourceTag = tag;
        return e;
    };
    const struct {
        std::vector<ContourElement> in;
        int32_t count;
        Vec2 end;  // of the first element
    } cases[] = {
        {{lineElem(0, 0, 10, 0), lineElem(10, 0, 20, 0), lineElem(20, 0, 30, 0)}, 1, {30, 0}},
        {{lineElem(0, 0, 10, 0), tagged(lineElem(10, 0, 20, 0), 3)}, 2, {10, 0}},
        {{lineElem(0, 0, 10, 0), lineElem(10, 0, 20, 5e-6)}, 2, {10, 0}},  // 5e-7 apart in y
        {{lineElem(0, 0, 10, 0), lineElem(10, 0, 20, 5e-7)}, 1, {20, 5e-7}},
        {{lineElem(0, 0, 0, 10), lineElem(0, 10, 5e-6, 20)}, 2, {0, 10}},  // 5e-7 apart in x
        {{lineElem(0, 0, 0, 10), lineElem(0, 10, 5e-7, 20)}, 1, {5e-7, 20}},
        {{lineElem(0, 0, 10, 0), lineElem(10, 0, 5, 0)}, 2, {10, 0}},  // back along itself
        {{lineElem(0, 0, 10, 0), arcElem(10, 5, 5, -M_PI / 2, 0, 1)}, 2, {10, 0}},
        {{lineElem(0, 0, 10, 0), lineElem(10, 0, 10, 0), lineElem(10, 0, 20, 0)},
         3,
         {10, 0}},  // no direction
    };
    for (const auto& c : cases) {
        std::vector<ContourElement> e = c.in;
        ASSERT_EQ(contourMergeCollinear(e.data(), static_cast<int32_t>(e.size())), c.count) << c.in.size();
        EXPECT_EQ(e[0].g[kLx1], 0);
        EXPECT_EQ(e[0].g[kLx2], c.end.x) << c.count;
        EXPECT_EQ(e[0].g[kLy2], c.end.y) << c.count;
        EXPECT_EQ(e[c.count - 1].type, c.in.back().type);
    }
}

TEST(PocketInput, KeysFillTheRecord) {
    PocketErrors errors;
    setVars({{"geoSource", "part.kvx"},
             {"toolDiameter", "10"},
             {"frame", "1,2,3,4,5,6"},
             {"frameOn", "true"},
             {"leavingType", "foo"},
             {"strategy", "axisParallel"},
             {"infeedFactor", "0.4"},
             {"helixPlungeAngle", "90"},
             {"edgeMovement", "true"},
             {"orientation", "counterClockwise"},
             {"rifSource", "REST"}});
    ASSERT_EQ(pocketReadKeys(&kvCCP), 1);
    const CcpParams& p = kvCCPParams;
    EXPECT_STREQ(p.frame, "1/2/3/4/5/6");
    EXPECT_EQ(p.frameOn, 1);
    EXPECT_EQ(p.leavingType, 0);
    EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>{"4:101 4712,(foo)"});
    EXPECT_EQ(p.toolDiameter, 10);
    EXPECT_DOUBLE_EQ(p.infeedLength, 4);
    EXPECT_DOUBLE_EQ(p.helixPlungeAngle, 3.141592653589793 / 2);
    EXPECT_EQ(p.orientation, 1);
    EXPECT_STREQ(p.rifSource, "REST");
    EXPECT_STREQ(rifBlock()->rifName, "REST");
    // A later run: a three-number frame is dropped, an unknown edge word keeps the value, and the
    // strategy flag of the earlier run is cleared by the new strategy.
    kvListFree(kvCCP.vars);
    kvCCP.vars = nullptr;
    setVars(
        {{"toolDiameter", "8"}, {"frame", "1,2,3"}, {"edgeMovement", "maybe"}, {"strategy", "outsideIn"}});
    ASSERT_EQ(pocketReadKeys(&kvCCP), 1);
    EXPECT_STREQ(p.frame, "1/2/3/4/5/6");
    EXPECT_EQ(p.edgeMovement, 1);
    EXPECT_EQ(p.strategy, kCcpOutsideIn);
    EXPECT_EQ(pocketKernel().axisParallel, 0);
    EXPECT_EQ(pocketKernel().outsideIn, 1);
}

TEST(PocketInput, RequiredKeysAndAToolWithoutRadius) {
    const struct {
        std::vector<std::pair<const char*, std::string>> vars;
        const char* sent;
    } cases[] = {
        {{{"toolDiameter", "10"}}, "102 1,(geoSource)"},
        {{{"geoSource", "a.kvx"}}, "102 1,(toolDiameter)"},
        {{{"geoSource", "a.kvx"}, {"toolDiameter", "0"}}, "101 1511"},
        {{{"geoSource", std::string(300, 'g')}, {"toolDiameter", "1"}}, nullptr},
    };
    for (const auto& c : cases) {
        PocketErrors errors;
        setVars(c.vars);
        EXPECT_EQ(pocketReadKeys(&kvCCP), c.sent ? 0 : 1);
        EXPECT_EQ(PocketErrors::texts(),
                  c.sent ? std::vector<std::string>{c.sent} : std::vector<std::string>{});
        if (!c.sent) {
            EXPECT_EQ(std::string(kvCCPParams.geoSource), std::string(kCcpTextMax, 'g'));  // cut to the field
        }
    }
}

TEST(PocketInput, ContoursFromAnExchangeFile) {
    PocketErrors errors;
    TempFolder tmp;
    const std::string file = tmp.file("pocket.kvx");
    writeText(file,
              kvx("v surface(10)\n"
                  "o Contour[1]()\n{\n v depth(4)\n v sideOfCompensation(rightOfContour)\n"
                  " o L(x[0/10] y[0/0])\n o L(x[/20] y[/0])\n o L(x[/20] y[/10])\n o L(x[/0] y[/0])\n}\n"
                  "o Contour[2]()\n{\n o L(x[0/1] y[0/0])\n o L(x[/0] y[/0])\n}\n"
                  "o Contour[3]()\n{\n v sideOfCompensation(leftOfContour)\n"
                  " o A(o[-] x[6/5/5.5] y[5/5/5])\n o L(x[/6] y[/5])\n}\n"
                  "o Contour[4]()\n{\n o P(x[3] y[-4])\n}\n"));
    ASSERT_TRUE(std::filesystem::exists(file));
    setVars({{"toolReference", "center"}});
    strcpy(kvCCPParams.geoSource, file.c_str());
    kvCCPParams.toolType = 1;
    kvCCPParams.toolDiameter = 10;
    const long open = openFileCount();
    ASSERT_EQ(pocketReadInput(&kvCCP, kPocketReadInput), 1);
    EXPECT_EQ(openFileCount(), open);   // the file read is closed again
    ASSERT_EQ(clistCount("INPUT"), 2);  // the line there and back is dropped
    ContourElement e[8];
    ContourHeader h;
    ASSERT_EQ(clistGet("INPUT", e, &h, 0), 0);
    EXPECT_EQ(h.elementCount, 3u);  // two collinear lines made one
    EXPECT_EQ(e[0].g[kLx2], 20);
    EXPECT_EQ(h.top, 15);  // surface 10 raised by the ball's radius
    EXPECT_EQ(h.bottom, 11);
    EXPECT_EQ(h.leftSide, 0);
    ASSERT_EQ(clistGet("INPUT", e, &h, 1), 1);
    EXPECT_EQ(h.leftSide, 1);
    EXPECT_EQ(e[0].type, kElemArc);  // an arc and a line are no line there and back
    EXPECT_EQ(e[0].direction, -1);
    EXPECT_EQ(pocketKernel().allowanceCount, 3);
    // The point record is the start point, no contour.
    EXPECT_EQ(kvCCPParams.startExplicit, 1);
    EXPECT_EQ(kvCCPParams.startX, 3);
    EXPECT_EQ(kvCCPParams.startY, -4);

    // A file broken off inside the start point's scope, or one around it, is damaged like any other.
    const std::string cut = tmp.file("cut.kvx"), fail = "101 6,(" + cut + ")";
    const struct {
        std::string name, text, sent;
    } failures[] = {{"", "", "101 5"},
                    {"/nonexistent/x.kvx", "", "101 6,(/nonexistent/x.kvx)"},
                    {cut, "o Contour[4]()\n{\n o P(x[3] y[-4])\n", fail},
                    {cut, "{\no Contour[4]()\n{\n o P(x[3] y[-4])\n}\n", fail}};
    for (const auto& f : failures) {
        PocketErrors::texts().clear();
        if (!f.text.empty()) writeText(f.name, kvx(f.text));
        strcpy(kvCCPParams.geoSource, f.name.c_str());
        EXPECT_EQ(pocketReadInput(&kvCCP, kPocketReadInput), 0);
        EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>{f.sent});
    }
    EXPECT_EQ(pocketReadInput(nullptr, kPocketReadInput) + pocketReadInput(&kvCCP, 7), 0);
}

// A contour's own variables reach its header and allowance: stock and pocket only when "true", reverse
// unless "false", the depth less the depth offset and never below 0, the surface raised by the surface
// offset; nothing carries over to the next contour.
TEST(PocketInput, ContourVariablesReachTheHeader) {
    const std::string square =
        " o L(x[0/20] y[0/0])\n o L(x[/20] y[/10])\n o L(x[/0] y[/10])\n o L(x[/0] y[/0])\n";
    const struct {
        const char* vars;
        int stock, group;
        double allowance, top, bottom;
        bool reversed;
    } cases[] = {
        {"", 0, 0, 0.25, 3.5, -1.5, false},
        {" v stock(true)\n v pocket(true)\n", 1, 1, 0.25, 3.5, -1.5, false},
        {" v stock(yes)\n v pocket(1)\n", 0, 0, 0.25, 3.5, -1.5, false},
        {" v planeAllowance(0.75)\n v surface(10)\n v depth(4)\n", 0, 0, 0.75, 10.5, 7.5, false},
        {" v depth(0.5)\n", 0, 0, 0.25, 3.5, 3.5, false},
        {" v reverse(true)\n", 0, 0, 0.25, 3.5, -1.5, true},
        {" v reverse(yes)\n", 0, 0, 0.25, 3.5, -1.5, true},
        {" v reverse(false)\n", 0, 0, 0.25, 3.5, -1.5, false},
        {" v abc(7)\n v Cs_(1)\n v Cs_q(1,2,3)\n", 0, 0, 0.25, 3.5, -1.5, false},  // no words of the reader
    };
    for (const auto& c : cases) {
        PocketErrors errors;
        TempFolder tmp;
        const std::string file = tmp.file("p.kvx");
        writeText(file, kvx("o Contour[1]()\n{\n" + std::string(c.vars) + square + "}\no Contour[2]()\n{\n" +
                            square + "}\n"));
        strcpy(kvCCPParams.geoSource, file.c_str());
        kvCCPParams.planeAllowance = 0.25;
        kvCCPParams.surface = 3;
        kvCCPParams.surfaceOffset = 0.5;
        kvCCPParams.depth = 6;
        kvCCPParams.depthOffset = 1;
        ASSERT_EQ(pocketReadInput(&kvCCP, kPocketReadInput), 1) << c.vars;
        ASSERT_EQ(clistCount("INPUT"), 2);
        for (int32_t i = 0; i < 2; ++i) {
            ContourElement e[4];
            ContourHeader h;
            ASSERT_EQ(clistGet("INPUT", e, &h, i), i);
            const bool own = i == 0;
            EXPECT_EQ(h.tag, 1);  // a contour of the pocket input, unlike a clamp
            EXPECT_EQ(h.stock, own ? c.stock : 0) << c.vars;
            EXPECT_EQ(h.group, own ? c.group : 0) << c.vars;
            EXPECT_DOUBLE_EQ(pocketAllowanceGet(i), own ? c.allowance : 0.25) << c.vars;
            EXPECT_DOUBLE_EQ(h.top, own ? c.top : 3.5) << c.vars;
            EXPECT_DOUBLE_EQ(h.bottom, own ? c.bottom : -1.5) << c.vars;
            // Reversed, the first element runs up the left side from the origin.
            const bool rev = own && c.reversed;
            EXPECT_EQ(e[0].g[kLx2], rev ? 0 : 20) << c.vars;
            EXPECT_EQ(e[0].g[kLy2], rev ? 10 : 0) << c.vars;
        }
        EXPECT_EQ(pocketKernel().inputAllowances, 2);
    }
}

// Inch contours are cleaned at the scale the kernel machines them in: a jog of 0.001 is a zig-zag to
// clean away at scale 1 (the bottom then one line), half a unit (kept) at the scale of 500 a tool radius
// of 0 gives.
TEST(PocketInput, InchContoursCleanedAtTheMachiningScale) {
    for (const int inch : {0, 1}) {
        PocketErrors errors;
        TempFolder tmp;
        const std::string file = tmp.file("p.kvx");
        writeText(
            file,
            kvx("o Contour[1]()\n{\n o L(x[0/10] y[0/0])\n o L(x[/10] y[/0.001])\n o L(x[/20] y[/0.001])\n"
                " o L(x[/20] y[/10])\n o L(x[/0] y[/10])\n o L(x[/0] y[/0])\n}\n"));
        strcpy(kvCCPParams.geoSource, file.c_str());
        kvCCPParams.inch = inch;
        ASSERT_EQ(pocketReadInput(&kvCCP, kPocketReadInput), 1);
        ContourElement e[8];
        ContourHeader h;
        ASSERT_EQ(clistGet("INPUT", e, &h, 0), 0);
        int jogs = 0;
        for (uint32_t i = 0; i < h.elementCount; ++i)
            jogs += e[i].g[kLx1] == 10 && e[i].g[kLx2] == 10 && e[i].g[kLy2] == 0.001;
        EXPECT_EQ(jogs, inch);
        // Cleaned, the jog leaves the bottom one straight line.
        EXPECT_EQ(h.elementCount, inch ? 6u : 4u);
        EXPECT_EQ(pocketKernel().geometryScale, 1);
    }
}

// Every strategy sets its own flags and clears the others and the stock correction,
// whatever an earlier run or plane left behind.
TEST(PocketInput, StrategyFlagsResetPerRunAndPlane) {
    PocketErrors errors;
    const struct {
        int32_t strategy;
        int32_t in, direct, axis, stock, open;
    } cases[] = {{kCcpContourParallel, 0, 0, 0, 0, 0}, {kCcpOutsideIn, 1, 0, 0, 0, 0},
                 {kCcpOutsideInDirect, 0, 1, 0, 0, 0}, {kCcpAxisParallel, 0, 0, 1, 0, 0},
                 {kCcpStockOutin, 0, 1, 0, 1, 0},      {kCcpOpenPocket, 0, 1, 0, 0, 1}};
    for (const auto& c : cases) {
        PocketKernel& k = pocketKernel();
        k.outsideIn = k.outsideInDirect = k.axisParallel = k.stockOutin = k.openPocket = 1;
        k.stockCorrection = -2;
        pocketStrategyFlagsReset(c.strategy);
        EXPECT_EQ(std::vector<int32_t>(
                      {k.outsideIn, k.outsideInDirect, k.axisParallel, k.stockOutin, k.openPocket}),
                  std::vector<int32_t>({c.in, c.direct, c.axis, c.stock, c.open}))
            << c.strategy;
        EXPECT_EQ(k.stockCorrection, 0);
    }
}

// A contour may hold as many elements as a contour list takes, and not one more: error 3029 (message 1500).
TEST(PocketInput, ElementCapOfAContour) {
    PocketErrors errors;
    TempFolder tmp;
    const std::string file = tmp.file("cap.kvx");
    std::string body = "v surface(10)\no Contour[1]()\n{\n v depth(4)\n o L(x[0/1] y[0/1])\n";
    for (int32_t i = 2; i <= kClistMaxElements; ++i)
        body += " o L(x[/" + std::to_string(i) + "] y[/" + std::to_string(i % 2) + "])\n";
    body += " o L(x[/0] y[/0])\n}\n";  // element kClistMaxElements + 1
    writeText(file, kvx(body));
    setVars({{"toolReference", "center"}});
    strcpy(kvCCPParams.geoSource, file.c_str());
    kvCCPParams.toolType = 2;
    kvCCPParams.toolDiameter = 10;
    EXPECT_EQ(pocketReadInput(&kvCCP, kPocketReadInput), 0);
    EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>{"101 1500"});
}

// Clamps count on from the input's contours: one past the allowance table fails the read (3020), one
// that fits is read.
TEST(PocketInput, ClampsPastTheAllowanceTableFail) {
    TempFolder tmp;
    const std::string file = tmp.file("clamps.kvx");
    writeText(file, kvx("v surface(10)\no Contour[1]()\n{\n v depth(4)\n o L(x[0/5] y[0/0])\n"
                        " o L(x[/5] y[/5])\n o L(x[/0] y[/0])\n}\n"));
    for (const int32_t used : {int32_t{kPocketMaxAllowances} - 1, int32_t{kPocketMaxAllowances}}) {
        PocketErrors errors;
        setVars({{"toolReference", "center"}});
        strcpy(kvCCPParams.clamps, file.c_str());
        kvCCPParams.toolType = 2;
        kvCCPParams.toolDiameter = 10;
        pocketKernel().allowanceCount = used;
        const int ok = used < kPocketMaxAllowances;
        EXPECT_EQ(pocketReadInput(&kvCCP, kPocketReadClamps), ok) << used;
        EXPECT_EQ(pocketLastError(), ok ? 0 : 3020) << used;
        EXPECT_EQ(clistCount("CLAMPS"), ok);
    }
}

// Contours that only touch do not cross: an island sharing part of the wall, or lying on it, passes the
// nesting check; one reaching through the wall does not.
TEST(PocketInput, NestingCheckTellsTouchingFromCrossing) {
    const struct {
        std::vector<Vec2> island;
        int result;
    } cases[] = {
        {{{0, 20}, {0, 40}, {30, 40}, {30, 20}}, 1},      {{{10, 0}, {10, 20}, {30, 20}, {30, 0}}, 1},
        {{{-10, 20}, {-10, 40}, {30, 40}, {30, 20}}, 0},  {{{40, 20}, {40, 40}, {60, 40}, {60, 20}}, 1},
        {{{-30, 20}, {0, 20}, {0, 40}, {-30, 40}}, 1},  // a second pocket against the wall
        {{{100, 20}, {130, 20}, {130, 40}, {100, 40}}, 1}};
    for (const auto& c : cases) {
        PocketErrors errors;
        ASSERT_TRUE(clistCreate("TEMP"));
        ASSERT_TRUE(putContour("TEMP", polygon({{0, 0}, {100, 0}, {100, 60}, {0, 60}})));
        ASSERT_TRUE(putContour("TEMP", polygon(c.island)));
        EXPECT_EQ(inputCheckNesting("TEMP"), c.result) << c.island[0].x << " " << c.island[0].y;
        EXPECT_EQ(PocketErrors::texts().empty(), c.result == 1);
    }
}

// Contours pass through the mirror pair point by point; an odd count of mirrors turns a contour's sense,
// which the list restores by reversing it. The top follows the frame, the depth is kept. Each
// element is checked against its source mirrored in closed form, arcs by their middle point.
TEST(PocketInput, ListsMirroredIntoTheWorld) {
    const auto middle = [](const ContourElement& e) {
        if (e.type != kElemArc) return Vec2{0.5 * (e.g[kLx1] + e.g[kLx2]), 0.5 * (e.g[kLy1] + e.g[kLy2])};
        const double a0 = std::atan2(e.g[kAsy] - e.g[kAcy], e.g[kAsx] - e.g[kAcx]);
        double sweep = std::atan2(e.g[kAey] - e.g[kAcy], e.g[kAex] - e.g[kAcx]) - a0;
        if (e.direction > 0 && sweep <= 0) sweep += 2 * M_PI;
        if (e.direction < 0 && sweep >= 0) sweep -= 2 * M_PI;
        return Vec2{e.g[kAcx] + e.g[kAr] * std::cos(a0 + 0.5 * sweep),
                    e.g[kAcy] + e.g[kAr] * std::sin(a0 + 0.5 * sweep)};
    };
    // A square with a half circle bulging out of its right side (counter-clockwise), top 3, depth 5.
    std::vector<ContourElement> source = {lineElem(0, 0, 4, 0), arcElem(4, 2, 2, -M_PI / 2, M_PI / 2, 1),
                                          lineElem(4, 4, 0, 4), lineElem(0, 4, 0, 0)};
    const struct {
        Vec3 p1, a1, p2, a2, local;  // the mirror planes, the origin of the contours' frame
        double sx, ox, sy, oy, top;  // world x = sx * x + ox, y likewise
        bool reversed;
    } cases[] = {
        {{5, 0, 0}, {1, 0, 0}, {}, {}, {0, 0, 7}, -1, 10, 1, 0, 10, true},
        {{0, -2, 0}, {0, 1, 0}, {}, {}, {1, 0, 0}, 1, 1, -1, -4, 3, true},
        {{5, 0, 0}, {1, 0, 0}, {0, -2, 0}, {0, 1, 0}, {0, 1, -1}, -1, 10, -1, -5, 2, false},
    };
    for (const auto& c : cases) {
        PocketErrors errors;
        framesResetState();
        ASSERT_EQ(framePairCreate(&c.p1, &c.a1, &c.p2, &c.a2), 1);
        const Vec3 x{1, 0, 0}, y{0, 1, 0}, z{0, 0, 1};
        ASSERT_EQ(framePairSetLocal(&c.local, &x, &y, &z), 1);
        ASSERT_TRUE(clistCreate("TEMP"));
        ContourHeader h{};
        h.top = 3;
        h.bottom = -2;
        for (int copy = 0; copy < 2; ++copy) {
            h.allowance = copy;
            ASSERT_TRUE(putContour("TEMP", source, h));
        }
        EXPECT_EQ(clistToWorld("TEMP"), 1);
        for (int32_t i = 0; i < 2; ++i) {
            ContourHeader got{};
            ASSERT_GE(clistGetHeader("TEMP", &got, i), 0);
            ASSERT_EQ(got.elementCount, source.size());
            EXPECT_DOUBLE_EQ(got.top, c.top) << c.p1.x;
            EXPECT_DOUBLE_EQ(got.top - got.bottom, 5) << c.p1.x;
            std::vector<ContourElement> out(got.elementCount);
            ASSERT_GE(clistGet("TEMP", out.data(), &got, i), 0);
            for (size_t j = 0; j < source.size(); ++j) {
                const ContourElement& from = source[c.reversed ? source.size() - 1 - j : j];
                const ContourElement& to = out[j];
                ASSERT_EQ(to.type, from.type);
                const Vec2 m = middle(from), want{c.sx * m.x + c.ox, c.sy * m.y + c.oy}, got2 = middle(to);
                EXPECT_NEAR(got2.x, want.x, 1e-9) << c.p1.x << " " << j;
                EXPECT_NEAR(got2.y, want.y, 1e-9) << c.p1.x << " " << j;
                // Elements still join end to start in their new order.
                const ContourElement& next = out[(j + 1) % out.size()];
                const int ex = to.type == kElemArc ? kAex : kLx2, ey = to.type == kElemArc ? kAey : kLy2;
                const int sx = next.type == kElemArc ? kAsx : kLx1, sy = next.type == kElemArc ? kAsy : kLy1;
                EXPECT_NEAR(to.g[ex], next.g[sx], 1e-9);
                EXPECT_NEAR(to.g[ey], next.g[sy], 1e-9);
                if (to.type == kElemArc) {
                    EXPECT_NEAR(to.g[kAr], 2, 1e-9);
                }
            }
        }
        clistFree("TEMP");
        framePairResetState();
    }
}

// The frame a contour file names (Cs_o, Cs_x, Cs_y, Cs_z) carries its contours into the world when the
// frame pair takes contours; the square's corner (20, 0) at top 3.5 lands at o + 20 x + 3.5 z.
TEST(PocketInput, FileFrameCarriesContoursWhenThePairTakesThem) {
    for (int flag : {0, 1}) {
        PocketErrors errors;
        TempFolder tmp;
        const std::string file = tmp.file("f.kvx");
        writeText(file, kvx("v Cs_o(100,50,2)\nv Cs_x(0,1,0)\nv Cs_y(-1,0,0)\nv Cs_z(0,0,1)\no Contour[1]()\n"
                            "{\n o L(x[0/20] y[0/0])\n o L(x[/20] y[/10])\n o L(x[/0] y[/10])\n"
                            " o L(x[/0] y[/0])\n}\n"));
        framesResetState();
        const Vec3 none{0, 0, 0};
        ASSERT_EQ(framePairCreate(&none, &none, &none, &none), 1);
        framePairSetFlag(kFramePairContours, flag);
        strcpy(kvCCPParams.geoSource, file.c_str());
        kvCCPParams.surface = 3;
        kvCCPParams.surfaceOffset = 0.5;
        ASSERT_EQ(pocketReadInput(&kvCCP, kPocketReadInput), 1);
        ContourElement e[4];
        ContourHeader h;
        ASSERT_EQ(clistGet("INPUT", e, &h, 0), 0);
        EXPECT_DOUBLE_EQ(e[0].g[kLx2], flag ? 100 : 20);
        EXPECT_DOUBLE_EQ(e[0].g[kLy2], flag ? 70 : 0);
        EXPECT_DOUBLE_EQ(h.top, flag ? 5.5 : 3.5);
        framePairResetState();
    }
}

// Open sides read from a contour file (clip, bnd) mark their elements only when the run can use them
// (stock, the direct and open strategies, rest evaluation): -1 open, -2 the element after bnd(true); an
// open side outside a stock contour moves the stock. Otherwise every element is a wall.
TEST(PocketInput, ClippedElementsMarkedOnlyWhereTheRunUsesThem) {
    TempFolder tmp;
    const std::string file = tmp.file("clip.kvx");
    const struct {
        int32_t strategy;
        bool clip = true;           // else clip(false): walls but for the element after bnd(true)
        std::vector<int32_t> tags;  // -1, -2 and 0 counted
        int32_t stockMovement;
        const char* bnd = "true";  // bnd(false) leaves the mark at -1
    } cases[] = {
        {kCcpContourParallel, true, {0, 0, 4}, 0},  {kCcpOutsideIn, true, {0, 0, 4}, 0},
        {kCcpOutsideInDirect, true, {3, 1, 0}, 1},  {kCcpOpenPocket, true, {3, 1, 0}, 1},
        {kCcpOutsideInDirect, false, {0, 0, 4}, 0}, {kCcpOutsideInDirect, true, {4, 0, 0}, 1, "false"}};
    for (const auto& c : cases) {
        PocketErrors errors;
        writeText(file, kvx(std::string("v surface(10)\no Contour[1]()\n{\n v depth(4)\n v clip(") +
                            (c.clip ? "true" : "false") + ")\n o L(x[0/10] y[0/0])\n v bnd(" + c.bnd +
                            ")\n o L(x[/10] y[/10])\n o L(x[/0] y[/10])\n o L(x[/0] y[/0])\n}\n"));
        setVars({{"toolReference", "center"}});
        strcpy(kvCCPParams.geoSource, file.c_str());
        kvCCPParams.toolType = 2;
        kvCCPParams.toolDiameter = 10;
        kvCCPParams.strategy = c.strategy;
        kvCCPParams.stockMovement = 0;
        ASSERT_EQ(pocketReadInput(&kvCCP, kPocketReadInput), 1) << c.strategy;
        ContourHeader h{};
        ASSERT_GE(clistGetHeader("INPUT", &h, 0), 0);
        std::vector<ContourElement> e(h.elementCount);
        ASSERT_GE(clistGet("INPUT", e.data(), &h, 0), 0);
        std::vector<int32_t> counts(3, 0);
        for (const ContourElement& x : e) ++counts[x.sourceTag == -1 ? 0 : x.sourceTag == -2 ? 1 : 2];
        EXPECT_EQ(counts, c.tags) << c.strategy;
        EXPECT_EQ(kvCCPParams.stockMovement, c.stockMovement) << c.strategy;
    }
}

// Short of memory anywhere in the read, the reader fails with a message or reads the contour whole.
TEST(PocketInput, ReadShortOfMemoryFailsOrReadsAll) {
    TempFolder tmp;
    const std::string file = tmp.file("m.kvx");
    writeText(file, kvx("o Contour[1]()\n{\n v depth(4)\n o L(x[0/20] y[0/0])\n o L(x[/20] y[/10])\n"
                        " o L(x[/0] y[/10])\n o L(x[/0] y[/0])\n}\n"));
    long n = 1, failed = 0;
    for (; n < 3000; ++n) {
        PocketErrors errors;
        setVars({{"toolReference", "center"}});
        strcpy(kvCCPParams.geoSource, file.c_str());
        kvCCPParams.toolType = 2;
        kvCCPParams.toolDiameter = 10;
        allocfail::arm(n);
        int got = -1;  // a throw is the caller's to catch
        try {
            got = pocketReadInput(&kvCCP, kPocketReadInput);
        } catch (const std::bad_alloc&) {
        }
        const bool fired = allocfail::fired();
        allocfail::disarm();
        if (!fired) break;
        failed += got == 0;
        ContourHeader h{};
        if (got < 0) continue;
        EXPECT_TRUE(got == 0 ? !PocketErrors::texts().empty()
                             : clistCount("INPUT") == 1 && clistGetHeader("INPUT", &h, 0) == 0 &&
                                   h.elementCount == 4)
            << n << " " << got;
    }
    EXPECT_GT(failed, 0);
}
