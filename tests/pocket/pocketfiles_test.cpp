#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "geometry/frames.h"
#include "kernel/base/msg.h"
#include "kernel/base/rng.h"
#include "kernel/ncout/ncout.h"
#include "pocket/gcodefile.h"
#include "pocket/pocketpcf.h"
#include "pocket/rifblock.h"
#include "pocket_util.h"

namespace {

KvList* pairs(const std::vector<std::pair<const char*, const char*>>& list) {
    KvList* l = nullptr;
    for (const auto& p : list) l = kvListAppend(l, p.first, p.second, 21);
    return l;
}

}  // namespace

TEST(RifBlock, KeywordPairsLandInTheirFields) {
    PocketErrors state;
    EXPECT_EQ(rifKeywordLookup("*FRTYP"), 17);  // the first of its two rows
    EXPECT_EQ(rifKeywordLookup("*frtyp"), -1);
    EXPECT_EQ(rifKeywordLookup("") * 10 + rifKeywordLookup(nullptr), -11);
    KvList* l = pairs({{"*KVX", "a.kvx"},
                       {"*KVX_DATEI", "b.kvx"},
                       {"*FRTYP", "3.9"},
                       {"*CAD_MODE", "MI"},
                       {"*ORI_AUTO", "mi"},
                       {"*STARTPT", "1 2 x"},
                       {"*NOPE", "1"},
                       {"", "2"},
                       {"*WKZNUMMER", "1e12"},
                       {"*RIF_NAME", "  REST"},
                       {"*TMP_DIR", " /t"}});
    EXPECT_EQ(rifParseKeywords(l), 1);
    kvListFree(l);
    const RifBlock& b = *rifBlock();
    EXPECT_STREQ(b.kvx, "b.kvx");
    EXPECT_EQ(b.frtyp, 3);
    EXPECT_EQ(b.cadMode, 1);
    EXPECT_EQ(b.oriAuto, 0);
    EXPECT_EQ(b.wkznummer, INT32_MAX);
    EXPECT_STREQ(b.rifName, "REST");
    char path[64];
    ASSERT_EQ(rifTmpPath(path, sizeof path, "tmp.pcf"), 1);
    EXPECT_STREQ(path, " /t/tmp.pcf");
}

// The two CAD words and the mirror: "DXF" 0 and "MI" 1; a mirror only when an orientation component
// stands above 1e-5.
TEST(RifBlock, CadWordsAndTheMirrorSwitch) {
    PocketErrors state;
    const struct {
        const char *cad, *ori, *mirror, *jlMirror;
        int16_t cadMode, oriAuto;
        int mirrored;
    } cases[] = {{"DXF", "MI", "0 0 0", "0 0 0", 0, 1, 0},
                 {"MI", "DXF", "0 0 0.00001", "-0.00001 0 0", 1, 0, 0},
                 {"DXF", "DXF", "0 0 0.00002", "0 0 0", 0, 0, 1},
                 {"MI", "MI", "0 0 0", "0 -0.00002 0", 1, 1, 1}};
    for (const auto& c : cases) {
        rifResetState();
        KvList* l = pairs({{"*CAD_MODE", c.cad},
                           {"*ORI_AUTO", c.ori},
                           {"*MIRROR_ORI", c.mirror},
                           {"*JL_MIRROR_ORI", c.jlMirror},
                           {"*JL_MIRROR_POS", "1 2 3"}});
        EXPECT_EQ(rifParseKeywords(l), 1);
        kvListFree(l);
        EXPECT_EQ(rifBlock()->cadMode, c.cadMode) << c.cad;
        EXPECT_EQ(rifBlock()->oriAuto, c.oriAuto) << c.ori;
        EXPECT_EQ(rifSetupMirror(), c.mirrored) << c.mirror << " " << c.jlMirror;
        framePairResetState();
    }
    rifResetState();
}

TEST(GcodeFile, ExactLinesAndReadingBack) {
    PocketErrors state;
    TempFolder tmp;
    RifBlock& b = *rifBlock();
    strcpy(b.rifName, tmp.file("rings.rif").c_str());
    b.genRif = 1;
    pocketKernel().geometryScale = 25;
    const ContourElement c[2] = {lineElem(25, 0, 50, 25), arcElem(25, 25, 25, 0, 3.141592653589793, 1)};
    ContourHeader h{};
    h.elementCount = 2;
    ASSERT_EQ(gcodeFileStart(2.5), 1);
    ASSERT_EQ(gcodeFileWriteContour(c, &h), 1);
    EXPECT_EQ(readText(b.rifName),
              "G191 R0.1000\nG41 X1.0000 Y0.0000\nG1 X2.0000 Y1.0000\n"
              "G3 X0.0000 Y1.0000 I1.0000 J1.0000\nG40\n");
    // The list name REST takes the contour and no file is touched.
    strcpy(b.rifName, "REST");
    ASSERT_EQ(gcodeFileStart(1), 1);
    ASSERT_EQ(gcodeFileWriteContour(c, &h), 1);
    EXPECT_EQ(clistCount("REST"), 1);
}

TEST(GcodeFile, ReadingRules) {
    const struct {
        const char* text;
        int result;
        int contours;
        uint32_t elements;  // in all contours read
        const char* sent;
    } cases[] = {
        {"G191 R2\n", 1, 0, 0, nullptr},
        {"G192 R2\nG41 X0 Y0\nG03 X1 Y1 I1 J0\nG1 X0 Y-1\nG40\n", 2, 1, 2, nullptr},
        {"G41 X0 Y0\nG1 X+1 Y0\nG40\n", -1, 0, 0, "101 1516"},
        {"G41 X0 Y0\nG2 X1 Y1 I1\n", -1, 0, 0, "101 1516"},
        {"G41 X0 Y0\nG1 X1 Y0\nG40\nG40\nM3\nG0 X5\nG500 X1\n", 0, 2, 2, nullptr},
        {"G41 X0 Y0\r\nG1 X1 Y0 ; a comment that runs on far beyond the end of one line of the file, so far "
         "that the reader must cut it and say so                                 \r\nG40\r\n",
         0, 1, 1, "101 5190,"},
    };
    for (const auto& c : cases) {
        PocketErrors errors;
        TempFolder tmp;
        RifBlock& b = *rifBlock();
        strcpy(b.rifName, tmp.file("in.rif").c_str());
        b.evalRif = 1;
        writeText(b.rifName, c.text);
        clistCreate("TEMP");
        double radius = 0;
        ncSetWriter(&kvCCP);  // messages reach the pocket record's channel 0
        setMessageLevel(nullptr, 9);
        EXPECT_EQ(gcodeFileRead("TEMP", &radius), c.result) << c.text;
        ncSetWriter(nullptr);
        msgResetState();
        EXPECT_EQ(clistCount("TEMP"), c.contours) << c.text;
        uint32_t elements = 0;
        ContourHeader h;
        for (int32_t i = 0; clistGetHeader("TEMP", &h, i) == i; ++i) elements += h.elementCount;
        EXPECT_EQ(elements, c.elements) << c.text;
        ASSERT_EQ(PocketErrors::texts().size(), c.sent ? 1u : 0u) << c.text;
        if (c.sent) {
            EXPECT_EQ(PocketErrors::texts()[0].rfind(c.sent, 0), 0u) << PocketErrors::texts()[0];
        }
    }
    PocketErrors errors;
    strcpy(rifBlock()->rifName, "/nonexistent/in.rif");
    rifBlock()->evalRif = 1;
    double radius;
    EXPECT_EQ(gcodeFileRead(nullptr, &radius), -1);
    EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>{"101 1515"});
}

// Random contours written at a random scale read back within the four written decimals.
TEST(GcodeFile, WrittenContoursReadBack) {
    PocketErrors state;
    TempFolder tmp;
    rngResetState();
    RifBlock& b = *rifBlock();
    strcpy(b.rifName, tmp.file("r.rif").c_str());
    b.genRif = b.evalRif = 1;
    const double scales[] = {1, 25, 50, 500};
    pocketKernel().geometryScale = scales[rngBelow(4)];
    std::vector<std::vector<ContourElement>> written;
    ASSERT_EQ(gcodeFileStart(3), 1);
    for (int k = 0; k < 20; ++k) {
        std::vector<ContourElement> c;
        double x = rngUniform() * 100, y = rngUniform() * 100;
        for (int i = 0, n = 1 + rngBelow(6); i < n; ++i) {
            const double r = 1 + rngUniform() * 9, a = rngUniform() * 6, s = rngUniform() * 3;
            const int dir = rngBelow(2) ? 1 : -1;
            ContourElement e =
                rngBelow(2) ? lineElem(x, y, x + rngUniform() * 10, y + rngUniform() * 10)
                            : arcElem(x - r * std::cos(a), y - r * std::sin(a), r, a, a + dir * s, dir);
            c.push_back(e);
            x = e.type == kElemArc ? e.g[kAex] : e.g[kLx2];
            y = e.type == kElemArc ? e.g[kAey] : e.g[kLy2];
        }
        ContourHeader h{};
        h.elementCount = static_cast<uint32_t>(c.size());
        ASSERT_EQ(gcodeFileWriteContour(c.data(), &h), 1);
        written.push_back(c);
    }
    clistCreate("TEMP");
    double radius = 0;
    ASSERT_EQ(gcodeFileRead("TEMP", &radius), 1);
    ASSERT_EQ(clistCount("TEMP"), 20);
    const double tol = 6e-5 * pocketKernel().geometryScale;
    for (int k = 0; k < 20; ++k) {
        ContourElement back[8];
        ContourHeader h;
        ASSERT_EQ(clistGet("TEMP", back, &h, k), k);
        ASSERT_EQ(h.elementCount, written[k].size());
        EXPECT_EQ(h.tag, k);
        for (size_t i = 0; i < written[k].size(); ++i) {
            EXPECT_EQ(back[i].type, written[k][i].type);
            EXPECT_EQ(back[i].direction, written[k][i].direction);
            for (int j = 0; j < (back[i].type == kElemArc ? 6 : 4); ++j)
                EXPECT_NEAR(back[i].g[j], written[k][i].g[j], tol);
            // The radius follows from the rounded centre and end.
            if (back[i].type == kElemArc) {
                EXPECT_NEAR(back[i].g[kAr], written[k][i].g[kAr], 3 * tol);
            }
        }
    }
}

TEST(PocketPcf, KeywordBlockBecomesKeys) {
    const struct {
        std::vector<std::pair<const char*, const char*>> words;
        std::vector<const char*> present, absent;
    } cases[] = {
        {{{"*FRRADIUS", "5"},
          {"*UMLAUF", "0"},
          {"*MACRO_TMODE", "1"},
          {"*DREHRICHT", "2"},
          {"*WALL_ANGLE", "5e-6"}},
         {"  toolDiameter      :=  10.0000\n", "  orientation        :=  clockwise\n",
          "  completePocket     := false\n", "  spindleRotation     :=  counterClockwise\n"},
         {"plungeType", "approachType", "wallAngle"}},
        {{{"*STOCK", "1"},
          {"*COMPLETE_POCKET", "1"},
          {"*MACRO_START", "3"},
          {"*MACRO_SRAD", "2"},
          {"*DREHRICHT", "1"}},
         {"  completePocket     := false\n", "  stock              :=  force\n",
          "  approachType         :=  quarterCircle\n  approachLength       :=  2.0000\n",
          "  spindleRotation     :=  clockwise\n"},
         {}},
        {{{"*COMPLETE_POCKET", "1"},
          {"*UMLAUF", "1"},
          {"*MACRO_TMODE", "2"},
          {"*KVX", "p.kvx"},
          {"*WALL_ANGLE", "2"}},
         {"  completePocket     := true\n", "  orientation        :=  counterClockwise\n",
          "  plungeType         :=  helical\n", "  geoSource         :=  \"p.kvx\"\n",
          "  spindleRotation     :=  none\n", "  wallAngle          :=  2.0000\n"},
         {"stock "}},
    };
    for (const auto& c : cases) {
        PocketErrors state;
        TempFolder tmp;
        KvList* l = pairs(c.words);
        rifParseKeywords(l);
        kvListFree(l);
        strcpy(rifBlock()->tmpDir, tmp.path().c_str());
        rifBlock()->genRif = 1;
        ASSERT_EQ(pocketWritePcf(&kvCCP), 1);
        const std::string text = readText(tmp.file("tmp.pcf"));
        for (const char* p : c.present) EXPECT_NE(text.find(p), std::string::npos) << p;
        for (const char* a : c.absent) EXPECT_EQ(text.find(a), std::string::npos) << a;
        EXPECT_EQ(rifBlock()->genRif, 0);
        EXPECT_EQ(rifBlock()->completePocket, rifBlock()->stock ? 0 : rifBlock()->completePocket);
        char* d = kvListGet(kvCCP.vars, "toolDiameter", nullptr);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(std::stod(d), 2 * rifBlock()->frradius);  // the variable holds the number's own text
        free(d);
    }
    PocketErrors state;
    strcpy(rifBlock()->tmpDir, "/nonexistent");
    EXPECT_EQ(pocketWritePcf(&kvCCP), 0);
    EXPECT_EQ(kvCCP.vars, nullptr);
}
