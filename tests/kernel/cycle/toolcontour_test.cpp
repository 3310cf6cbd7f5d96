#include "kernel/ncout/toolcontour.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/base/kvx/kvxfile.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncout.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"

namespace {

std::string kvx(const std::string& body) {
    return std::string(kKvxBanner) + "\n" + kKvxVersionTag + " 1.0\ntool\ncontour\n" + body;
}

std::vector<std::string> gChannel0;  // "type value"

int keep0(CycleRecord*, NcRecord* o) {
    char buf[KVNC_TEXT_SIZE + 1];
    gChannel0.push_back(std::to_string(ncRecGetI32(o, KVNC_TYPE)) + " " +
                        ncRecGetText(o, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, buf));
    return 1;
}

// "kind:x,y[,x2,y2]" per element.
std::string elements(const ToolContour& list) {
    std::string out;
    for (int i = 0; i < list.count; ++i) {
        const ToolElement& e = list.elements[i];
        char buf[96];
        if (e.kind >= kToolElemArcNeg)
            snprintf(buf, sizeof buf, "%d:%g,%g,%g,%g ", e.kind, e.x, e.y, e.x2, e.y2);
        else
            snprintf(buf, sizeof buf, "%d:%g,%g ", e.kind, e.x, e.y);
        out += buf;
    }
    return out;
}

class ToolContourTest : public ::testing::Test {
  protected:
    void SetUp() override {
        initTestRecord(&rec);
        ncRegisterHandler(&rec, 0, keep0, keep0, 1);
        gChannel0.clear();
        toolContourResetState();
        ncOutResetState();
    }
    void TearDown() override {
        ncFreeChannels(&rec);
        kvListFree(rec.vars);
        kvListFree(rec.cfgVars);
        if (rec.tool) {
            freeToolRecord(rec.tool);
            free(rec.tool);
        }
        toolContourResetState();
        ncOutResetState();
    }
    CycleRecord rec;
};

}  // namespace

TEST(ToolContour, ContoursFromTheExchangeFile) {
    writeTestFile("tool.kvx", kvx("o Contour[Holder]()\n{\no M(x[0/0] y[0/0])\no L(x[0/5] y[0/0])\n}\n"
                                  "o Contour[tool]()\n{\no L(x[1/2] y[3/4])\n"
                                  "o A(o[-1] x[/6/7] y[/8/9])\no A(o[1] x[/10/11] y[/12/13])\n"
                                  "o M(x[0/99] y[0/99])\n{\no L(x[0/50] y[0/50])\n}\no Q(x[1/1] y[1/1])\n}\n"
                                  "o Contour[Shank]()\n{\no M(x[0/1] y[0/1])\n}\n"
                                  "o Contour[HEAD]()\n{\n}\n"
                                  "{\no M(x[0/1] y[0/1])\n}\n"));
    ToolRecord r;
    readToolContour("tool.kvx", &r);
    EXPECT_EQ(elements(r.holder), "0:0,0 1:5,0 ");
    // An "L" in an empty list first adds its own start; a missing part keeps the slot's earlier value.
    EXPECT_EQ(elements(r.tool), "0:1,3 1:2,4 2:6,8,7,9 3:10,12,11,13 ");
    EXPECT_EQ(r.head.count, 0);
    EXPECT_EQ(r.extrusion.count, 0);
    EXPECT_EQ(r.extension.count, 0);
    freeToolRecord(&r);
    EXPECT_EQ(r.tool.elements, nullptr);
    EXPECT_EQ(r.tool.capacity, 0);
}

TEST(ToolContour, UnreadableFilesLeaveTheRecordEmpty) {
    writeTestFile("badheader.kvx", "not a kvx file\no Contour[Tool]()\n{\no M(x[0/1] y[0/1])\n}\n");
    for (const char* name : {"badheader.kvx", "no-such.kvx", static_cast<const char*>(nullptr)}) {
        ToolRecord r;
        r.tool.count = 99;  // whatever was there goes
        readToolContour(name, &r);
        EXPECT_EQ(r.tool.count, 0) << (name ? name : "null");
        EXPECT_EQ(r.tool.elements, nullptr);
    }
}

TEST(ToolContour, ListsGrowBy32AndNeedAStart) {
    ToolContour list{};
    toolContourLineTo(&list, 1, 1);
    toolContourArcPos(&list, 1, 1, 2, 2);
    EXPECT_EQ(list.count, 0);
    toolContourStart(&list, 0, 0);
    toolContourStart(&list, 9, 9);  // only into an empty list
    for (int i = 1; i <= 40; ++i) toolContourLineTo(&list, i, -i);
    ASSERT_EQ(list.count, 41);
    EXPECT_EQ(list.capacity, 64);
    EXPECT_EQ(list.elements[0].x, 0);
    for (int i = 1; i <= 40; ++i) {
        EXPECT_EQ(list.elements[i].kind, kToolElemLine);
        EXPECT_EQ(list.elements[i].x, i);
        EXPECT_EQ(list.elements[i].y, -i);
    }
    ToolRecord r{};
    r.tool = list;
    freeToolRecord(&r);
    freeToolRecord(nullptr);
}

TEST_F(ToolContourTest, ToolReferenceComesFromTheConfigurationWords) {
    // In the variables the name does not count: the configuration words hold it.
    rec.vars = kvListSet(rec.vars, "*TOOL_REFERENCE", "v", kKvFile);
    EXPECT_EQ(readToolReference(&rec), 0);
    EXPECT_TRUE(gChannel0.empty());

    rec.cfgVars = kvListAppend(rec.cfgVars, "*TOOL_REFERENCE", "old", kKvFile);
    rec.cfgVars = kvListAppend(rec.cfgVars, "*TOOL_REFERENCE", "x", kKvFile);
    EXPECT_EQ(readToolReference(&rec), 0);
    EXPECT_EQ(gChannel0, (std::vector<std::string>{"101 770,x"}));
    EXPECT_EQ(toolReferenceOffset(), 0.0);

    rec.cfgVars = kvListAppend(rec.cfgVars, "*TREF_x", "2.5", kKvFile);
    EXPECT_EQ(readToolReference(&rec), 1);
    EXPECT_EQ(gChannel0.back(), "101 771,x");
    EXPECT_STREQ(toolReferenceName(), "x");
    EXPECT_EQ(toolReferenceOffset(), 2.5);
    EXPECT_EQ(readToolReference(nullptr), 0);
}

TEST_F(ToolContourTest, LoadPicksTheFileByRunKind) {
    writeTestFile("cfgtool.kvx", kvx("o Contour[Tool]()\n{\no M(x[0/1] y[0/1])\n}\n"));
    writeTestFile("pcftool.kvx", kvx("o Contour[Head]()\n{\no M(x[0/2] y[0/2])\n}\n"));
    rec.cfgVars = kvListAppend(rec.cfgVars, "*TOOL_CONTOUR", "cfgtool.kvx", kKvFile);
    rec.vars = kvListSet(rec.vars, "toolContour", "pcftool.kvx", kKvFile);
    struct Case {
        int32_t flag, cfgMode;
        const char* tool;
        const char* head;
    } cases[] = {
        {0, 1, "", ""},
        {1, 1, "0:1,1 ", ""},
        {1, 0, "", "0:2,2 "},
    };
    for (const auto& c : cases) {
        rec.toolContourFlag = c.flag;
        rec.cfgMode = c.cfgMode;
        loadToolContour(&rec);  // a second load replaces the first record
        ASSERT_NE(rec.tool, nullptr);
        EXPECT_EQ(elements(rec.tool->tool), c.tool) << c.flag << c.cfgMode;
        EXPECT_EQ(elements(rec.tool->head), c.head) << c.flag << c.cfgMode;
    }
}
