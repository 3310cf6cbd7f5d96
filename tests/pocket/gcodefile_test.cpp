// Reading the G-code contour file at the line length limit: a line of up to 127 characters before its
// end is read whole with the next line intact; beyond that the rest is dropped, and named in a warning
// only when more than a line end's CR went.
#include "pocket/gcodefile.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "kernel/base/msg.h"
#include "kernel/ncout/ncout.h"
#include "pocket/rifblock.h"
#include "pocket_util.h"

TEST(GcodeFile, LinesAtTheLengthLimit) {
    const struct {
        size_t length;  // characters of the long line before its end
        const char* end;
        bool warned;
        int32_t level = 9;  // the warning's own: a level of 8 drops it
    } cases[] = {{125, "\n", false},  {126, "\n", false},   {127, "\n", false},
                 {128, "\n", true},   {126, "\r\n", false}, {127, "\r\n", false},
                 {128, "\r\n", true}, {200, "\n", true},    {200, "\n", false, 8}};
    for (const auto& c : cases) {
        SCOPED_TRACE(::testing::Message() << c.length << " " << std::strlen(c.end));
        PocketErrors errors;
        TempFolder tmp;
        RifBlock& b = *rifBlock();
        strcpy(b.rifName, tmp.file("in.rif").c_str());
        b.evalRif = 1;
        std::string line = "G1 X1 Y0 ;";
        line.resize(c.length, 'x');
        // The first move starts at G42's point; lengths read are scaled, the tool radius of G191 too; a
        // line's words come in any order, the arc's centre first.
        writeText(b.rifName, "G42 X0.5 Y0\n" + line + c.end + "I2 J0 X2 Y1 G2\nG40\nR1.5 G191\n");
        pocketKernel().geometryScale = 2;
        clistCreate("TEMP");
        double radius = 0;
        ncSetWriter(&kvCCP);
        setMessageLevel(nullptr, c.level);
        EXPECT_EQ(gcodeFileRead("TEMP", &radius), 1);
        pocketKernel().geometryScale = 1;
        EXPECT_EQ(radius, 3);
        ncSetWriter(nullptr);
        msgResetState();
        ContourHeader h{};
        ASSERT_EQ(clistGetHeader("TEMP", &h, 0), 0);
        EXPECT_EQ(h.elementCount, 2u);
        ContourElement e[2];
        ASSERT_EQ(clistGet("TEMP", e, &h, 0), 0);
        EXPECT_TRUE(e[0].g[kLx1] == 1 && e[0].g[kLy1] == 0 && e[1].g[kAex] == 4 && e[1].g[kAey] == 2);
        EXPECT_TRUE(e[1].type == kElemArc && e[1].g[kAcx] == 4 && e[1].g[kAcy] == 0 && e[1].g[kAr] == 2);
        EXPECT_EQ(PocketErrors::texts(),
                  c.warned ? std::vector<std::string>{"101 5190," + std::string(b.rifName) + ":2"}
                           : std::vector<std::string>{});
    }
}

// A file that cannot be made: -1 with 3250, nothing written.
TEST(GcodeFile, StartFailsWithoutAFolder) {
    PocketErrors errors;
    RifBlock& b = *rifBlock();
    strcpy(b.rifName, "/nonexistent/out.rif");
    b.genRif = 1;
    EXPECT_EQ(gcodeFileStart(1), -1);
    EXPECT_EQ(PocketErrors::texts(), std::vector<std::string>{"101 1510"});  // the message of 3250
    b.genRif = 0;
    EXPECT_EQ(gcodeFileStart(1), 0);
}

// A contour goes to the file only when there is one and the file is on: 0 without a header, elements or
// file, -1 when the file cannot be opened; else its start, its moves and G40 are appended.
TEST(GcodeFile, ContourWrittenOnlyWhenThereIsOne) {
    PocketErrors errors;
    TempFolder tmp;
    RifBlock& b = *rifBlock();
    strcpy(b.rifName, tmp.file("out.rif").c_str());
    b.genRif = 1;
    const ContourElement e = lineElem(0, 0, 2, 1);
    ContourHeader h{};
    EXPECT_EQ(gcodeFileWriteContour(&e, nullptr), 0);
    EXPECT_EQ(gcodeFileWriteContour(&e, &h), 0);
    h.elementCount = 1;
    EXPECT_EQ(gcodeFileWriteContour(nullptr, &h), 0);
    EXPECT_EQ(readText(b.rifName), "");
    EXPECT_EQ(gcodeFileWriteContour(&e, &h), 1);
    EXPECT_EQ(readText(b.rifName), "G41 X0.0000 Y0.0000\nG1 X2.0000 Y1.0000\nG40\n");
    b.genRif = 0;
    EXPECT_EQ(gcodeFileWriteContour(&e, &h), 0);
    b.genRif = 1;
    strcpy(b.rifName, "/nonexistent/out.rif");
    EXPECT_EQ(gcodeFileWriteContour(&e, &h), -1);
    b.genRif = 0;
}
