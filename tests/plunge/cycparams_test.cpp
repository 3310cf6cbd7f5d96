#include "plunge/cycparams.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "kernel/msg.h"
#include "kernel/ncchan.h"
#include "kernel/ncout.h"
#include "kernel/ncrecord.h"
#include "paramtest.h"
#include "platform/module.h"

namespace {

// A word-pair list as the kernel hands it over.
struct Pairs {
    KvList* list = nullptr;
    Pairs(std::initializer_list<std::pair<const char*, const char*>> pairs) {
        for (const auto& [key, value] : pairs) list = kvListAppend(list, key, value, kKvFile);
    }
    ~Pairs() { kvListFree(list); }
};

void apply(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    Pairs p(pairs);
    EXPECT_EQ(applyKeyValueList(p.list), 1);
}

// Messages that reach the host, as "number,value".
std::vector<std::string> gMessages;

int captureChannel0(CycleRecord*, NcRecord* output) {
    char value[KVNC_TEXT_SIZE];
    gMessages.push_back(ncRecGetText(output, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value));
    return 1;
}

class CycParams : public ::testing::Test {
  protected:
    void SetUp() override {
        cycleParamsResetState();
        msgResetState();
        ncOutResetState();
        writer.parent = &cycleRootRecord;
        writer.frameVersion = kFrameVersion;
        writer.title = "Test Cycle";
        ASSERT_EQ(ncRegisterHandler(&writer, 0, captureChannel0, acceptRecord, 1), 1);
        ncSetWriter(&writer);
        setMessageLevel(nullptr, 9);
        gMessages.clear();
    }
    void TearDown() override {
        ncFreeChannels(&writer);
        ncOutResetState();
        msgResetState();
        cycleParamsResetState();
    }
    CycleRecord writer;
};

// Keywords that share one field; every other keyword has a field of its own.
const std::vector<std::vector<std::string>> kAliases = {
    {"*LAUF", "*ONEWAY"},
    {"*MACRO_RETURN", "*RETURN_MACRO"},
    {"*MACRO_EABST", "*MACRO_EDIST"},
    {"*INCH_MODE", "*INCH"},
    {"*G0_COLOR_RGB", "*RGB_G0"},
    {"*G1_COLOR_RGB", "*RGB_G1"},
    {"*HORIZUSTEL_MIN", "*MIN_STEPOVER"},
    {"*COLL_CHECK_5AX", "*COLL_CHECK"},
    {"*TILT_STRATEGY", "*TILT_MODE"},
    {"*OFFSET_5AX", "*TILT_OFFSET"},
    {"*CLIP_COLL", "*CLIP_RETRACT"},
    {"*LENGTH3", "*HEAD_LENGTH2"},
    {"*LENGTH4", "*HEAD_LENGTH1"},
    {"*DIAMETER3", "*HEAD_DIAMETER2"},
    {"*DIAMETER4", "*HEAD_DIAMETER1"},
    {"*SIDE_DIST", "*LIFT_OF_DISTANCE"},
    {"*TILT_FIXED", "*FORCE_3AXIS"},
    {"*SEG_DIST", "*SEG_ANGLE"},
    {"*CONNECT_SMOOTH", "*CONNECTSMOOTH"},
    {"*MACRO_LDIST", "*MACRO_SIDE_DIST"},
    {"*START_FACTOR", "*TOP_ISO"},
    {"*END_FACTOR", "*BOTTOM_ISO"},
    {"*LINK_FEED", "*LIFT_OF_FEEDRATE", "*FORCE_LINK_FEED"},
    {"*PASS_CT", "*PATH_CT"},
    {"*HUB_START", "*STOCK_HEIGHT"},
    {"*ENTRY_CT", "*ENTRY_PASS_CT"},
    {"*ENTRY_DIST", "*ENTRY_HEIGHT", "*ENTRY_WIDTH"},
    {"*EDGE_FEEDRATE", "*FILLET_FEED", "*EDGE_FEED"},
    {"*TRIM_PATH", "*INTERLACE", "*OPTIMISE"},
    {"*USE_4X", "*4XMACHINING"},
    {"*STOCK_WIDTH", "*OPEN_HEIGHT"},
};

// The keywords converted to millimetres (one name of each shared field is enough).
const std::set<std::string> kLengths = {
    "*FRRADIUS",
    "*FRBOGEN",
    "*VERTZUSTEL",
    "*HORIZUSTEL",
    "*AUFMASS",
    "*OBERFL",
    "*TIEF",
    "*SICHDIST",
    "*SICHEBENE",
    "*AUFLMAX",
    "*AUFLMIN",
    "*MACRO_SRAD",
    "*MACRO_ERAD",
    "*MACRO_SABST",
    "*MACRO_EABST",
    "*MACRO_THEIGHT",
    "*MACRO_TRAD",
    "*STEP_MAX",
    "*STEP_MIN",
    "*SICH_MAXDIST",
    "*STARTPT",
    "*BND_REDUCTION",
    "*PRECISION",
    "*TOTAL_TOOL_LENGTH",
    "*CUTTING_LENGTH",
    "*LENGTH1",
    "*LENGTH2",
    "*LENGTH3",
    "*LENGTH4",
    "*DIAMETER1",
    "*BOUND_OFFSET",
    "*TOP_OFFSET",
    "*BOTTOM_OFFSET",
    "*DIAMETER3",
    "*DIAMETER4",
    "*RESOLUTION",
    "*SCAL_HEIGHT",
    "*HORIZUSTEL_MIN",
    "*SCAL_HEIGHT_MIN",
    "*OFFSET_5AX",
    "*SINTERVAL",
    "*CLIP_HEIGHT",
    "*DELTAKURVE",
    "*TIP_LENGTH",
    "*SHAFT_DIAMETER",
    "*CHAMFER_LENGTH",
    "*SIDE_DIST",
    "*AUFMASS_HORI",
    "*STEPOVER",
    "*TIP_DIAMETER",
    "*REF_RADIUS",
    "*SEG_DIST",
    "*START_OFFSET",
    "*FILLET_RADIUS",
    "*INFEED_RADIUS",
    "*AUFMASS_HUB",
    "*SHROUD_OFFSET",
    "*EXT_TRAIL",
    "*EXT_LEAD",
    "*POFFSET",
    "*FILLET_TOL",
    "*MACRO_LRAD",
    "*MACRO_LDIST",
    "*SINCREMENT",
    "*HUB_START",
    "*HUB_END",
    "*SHROUD_START",
    "*SHROUD_END",
    "*HUB_OFFSET",
    "*TRIM_Z",
    "*TRIM_RAMP_LENGTH",
    "*TRIM_RAMP_HEIGHT",
    "*FAN_DIST",
    "*REF_HUB_RADIUS",
    "*SHAFT_ALLOWANCE",
    "*STOCK_WIDTH",
    "*AXIAL_RETRACT",
    "*LIFT_OFFSET",
    "*SHROUD_ENTEXT",
    "*SHROUD_LINKEXT",
    "*HUB_STARTHEIGHT",
    "*MAX_CLEAR_DIST",
    "*HOLDER_3DF_TOL",
    "*HEAD_3DF_TOL",
    "*EDGE_FANDIST",
    "*CLIP_OFFSET",
    "*TRIM_OFFSET",
    "*CHECK_TOL",
    "*CENTER_HEIGHT",
    "*BARREL_RADIUS",
    "*BARREL_HEIGHT",
    "*BLADE_OFFSET",
    "*OPEN_STEP",
    "*ENTRY_DIST",
    "*FORCE_G1_IPOL",
    "*SHROUD_DEPTH",
    "*EXTRA_TOL",
    "*TOOL_OFFSET",
    "*STEP_OFFSET",
    "*PLUNGE_STEP",
    "*EDGE_TOL",
    "*CLEAR_SIDE",
    "*MACRO_SDIST",
    "*T_CUTWIDTH",
    "*PLUNGE_TOL",
    "*PROJ_DIST",
    "*AVOID_CLOSE_OFFSET",
    "*MODELPRECISION",
    "*HOLDER_CLEARANCE",
    "*HEAD_CLEARANCE",
    "*EXT_EDGE",
    "*EXTENSION_CLEARANCE",
    "*SHANK_CLEARANCE",
    "*TOOL_LENGTH_INCR",
    "*CAMBER_FANDIST",
};

size_t storeSize(int8_t storeType) {
    switch (storeType) {
        case kStoreInt16:
            return sizeof(int16_t);
        case kStoreDouble:
            return sizeof(double);
        case kStoreText:
            return kCycleTextMax + 1;
        case kStoreInt32:
            return sizeof(int32_t);
        case kStoreTriple:
            return 3 * sizeof(double);
    }
    return 0;
}

}  // namespace

TEST_F(CycParams, TableHasItsRowsEachUniqueAndWellFormed) {
    int rows = 0;
    while (CycleKeywordTable[rows].keyword) ++rows;
    EXPECT_EQ(rows, 503);
    std::set<std::string> seen;
    const std::set<std::string> raw = {"*LOC_DIR", "*TMP_DIR", "*IPOL_PATH"};
    for (int i = 0; i < rows; ++i) {
        const CycleKeywordRow& row = CycleKeywordTable[i];
        std::string keyword = row.keyword;
        SCOPED_TRACE(keyword);
        ASSERT_GT(keyword.size(), 1u);
        EXPECT_EQ(keyword[0], '*');
        for (char c : keyword) EXPECT_TRUE(c == '*' || c == '_' || isdigit(c) || isupper(c));
        EXPECT_TRUE(seen.insert(keyword).second) << "twice";
        // The first matching row wins, so each keyword must find its own row in any case.
        std::string lower = keyword;
        for (char& c : lower) c = static_cast<char>(tolower(c));
        EXPECT_EQ(findKeyword(lower.c_str()), i);

        ASSERT_GE(row.storeType, 0);
        ASSERT_LE(row.storeType, 4);
        EXPECT_LE(row.field + storeSize(row.storeType), sizeof(CycleParams));
        int8_t kind = row.storeType == kStoreTriple ? kParseTriple
                      : row.storeType != kStoreText ? kParseNumber
                      : raw.count(keyword)          ? kParseRawText
                      : keyword == "*DLL_DIR"       ? kParseNumber
                                                    : kParseText;
        EXPECT_EQ(row.parseKind, kind);
    }
}

TEST_F(CycParams, AliasesShareOneFieldAndNoOtherFieldsOverlap) {
    std::map<std::string, size_t> group;  // keyword -> alias group
    for (size_t g = 0; g < kAliases.size(); ++g) {
        const CycleKeywordRow& first = rowOf(kAliases[g][0].c_str());
        for (const std::string& k : kAliases[g]) {
            const CycleKeywordRow& row = rowOf(k.c_str());
            EXPECT_EQ(row.field, first.field) << k;
            EXPECT_EQ(row.storeType, first.storeType) << k;
            group[k] = g;
        }
    }
    // Byte ranges of rows that are not aliases of each other never overlap.
    for (int i = 0; CycleKeywordTable[i].keyword; ++i) {
        const CycleKeywordRow& a = CycleKeywordTable[i];
        for (int j = i + 1; CycleKeywordTable[j].keyword; ++j) {
            const CycleKeywordRow& b = CycleKeywordTable[j];
            bool overlap =
                a.field < b.field + storeSize(b.storeType) && b.field < a.field + storeSize(a.storeType);
            if (!overlap) continue;
            auto ga = group.find(a.keyword), gb = group.find(b.keyword);
            EXPECT_TRUE(ga != group.end() && gb != group.end() && ga->second == gb->second)
                << a.keyword << " overlaps " << b.keyword;
        }
    }
}

TEST_F(CycParams, FindKeywordIgnoresCaseAndRefusesUnknownNames) {
    EXPECT_EQ(findKeyword("*APPROX"), 0);
    EXPECT_EQ(findKeyword("*macro_5x"), 502);
    EXPECT_EQ(findKeyword("*Blade_Count"), findKeyword("*BLADE_COUNT"));
    for (const char* k : {"", "*", "BLADE_COUNT", "*BLADE_COUNTS", "*BLADE_COUN", "*NO_SUCH_KEY"})
        EXPECT_EQ(findKeyword(k), -1) << k;
    EXPECT_EQ(findKeyword(nullptr), -1);
}

TEST_F(CycParams, DefaultsBeforeAnyPair) {
    const CycleParams* p = cycleParamsApplied();
    struct Case {
        const char* keyword;
        double value;
    } numbers[] = {
        {"*FRRADIUS", 4.0},
        {"*LAUF", 2},
        {"*ONEWAY", 2},
        {"*TIEF", -10000.0},
        {"*WKZNUMMER", 1},
        {"*AUFLMIN", 0.05},
        {"*PRECISION", 0.01},
        {"*TILT_MODE", 1},
        {"*TILT_OFFSET", 100.0},
        {"*HUB_START", -1.0},
        {"*STOCK_HEIGHT", -1.0},
        {"*EDGEROLLING_LEAD", -1},
        {"*TOOL_COLL_CHECK", -1},
        {"*CORE_HEIGHT", -1.0},
        {"*LEADB_IPOL", 1},
        {"*BLADE_COUNT", 0},
        {"*INCH", 0},
        {"*FRTYP", 1},
    };
    for (const auto& c : numbers) EXPECT_DOUBLE_EQ(numberOf(p, c.keyword), c.value) << c.keyword;
    struct Triple {
        const char* keyword;
        double x, y, z;
    } triples[] = {
        {"*STARTPT", 0, 0, -100000.0}, {"*RGB_G0", 1, 0, 0}, {"*G1_COLOR_RGB", 1, 1, 0},
        {"*NCKO_Z", 0, 0, 1},          {"*ORIG_Y", 0, 1, 0}, {"*MIRROR_ORI", 0, 0, 0},
    };
    for (const auto& t : triples) {
        EXPECT_DOUBLE_EQ(numberOf(p, t.keyword, 0), t.x) << t.keyword;
        EXPECT_DOUBLE_EQ(numberOf(p, t.keyword, 1), t.y) << t.keyword;
        EXPECT_DOUBLE_EQ(numberOf(p, t.keyword, 2), t.z) << t.keyword;
    }
    EXPECT_EQ(textOf(p, "*TILT_CURVE"), ".");
    EXPECT_FALSE(textOf(p, "*PRG_DIR").empty());
    EXPECT_EQ(textOf(p, "*APT"), "");
    EXPECT_EQ(textOf(p, "*DLL_DIR"), "");
    // The run's record starts out the same.
    EXPECT_EQ(snapshotOf(cycleParams()), snapshotOf(p));
}

TEST_F(CycParams, PairsSetNumbersTruncatedTowardZeroAndLimitedToTheField) {
    struct Case {
        const char* keyword;
        const char* value;
        double stored;
    } cases[] = {
        {"*blade_count", "5", 5},
        {"*FRTYP", "2.9", 2},
        {"*FRTYP", "-2.9", -2},
        {"*FRTYP", "  7xyz", 7},
        {"*FRTYP", "abc", 0},
        {"*FRTYP", "", 0},
        {"*FRTYP", "+3", 3},
        {"*FRTYP", "70000", 32767},
        {"*FRTYP", "-1e9", -32768},
        {"*FRTYP", "nan", 0},
        {"*WKZNUMMER", "12.99", 12},
        {"*WKZNUMMER", "3e9", 2147483647.0},
        {"*WKZNUMMER", "-3e9", -2147483648.0},
        {"*FRRADIUS", "0.5", 0.5},
        {"*FRRADIUS", ".25mm", 0.25},
        {"*FRRADIUS", "-1.5e2", -150.0},
        {"*FRRADIUS", "1,5", 1.0},
        {"*FRRADIUS", "", 0.0},
    };
    for (const auto& c : cases) {
        apply({{c.keyword, c.value}});
        EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), c.keyword), c.stored) << c.keyword << " " << c.value;
    }
}

TEST_F(CycParams, TriplesTakeThreeNumbersAndAliasesFillOneTriple) {
    struct Case {
        const char* keyword;
        const char* value;
        double x, y, z;
    } cases[] = {
        {"*STARTPT", "10 20 30", 10, 20, 30},
        {"*STARTPT", " -1.5\t2e1   3 junk", -1.5, 20, 3},
        {"*STARTPT", "10 20", 10, 20, 0},
        {"*STARTPT", "", 0, 0, 0},
        {"*STARTPT", "7,8,9", 7, 0, 0},
        {"*RGB_G0", "0 1 0", 0, 1, 0},
        {"*G0_COLOR_RGB", "0.5 0.25 1", 0.5, 0.25, 1},
    };
    for (const auto& c : cases) {
        apply({{c.keyword, c.value}});
        SCOPED_TRACE(std::string(c.keyword) + " " + c.value);
        EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), c.keyword, 0), c.x);
        EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), c.keyword, 1), c.y);
        EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), c.keyword, 2), c.z);
    }
    // The last of the two names wins, and both read the same triple.
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*RGB_G0", 1), 0.25);
    apply({{"*RGB_G0", "0.1 0.2 0.3"}});
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*G0_COLOR_RGB", 2), 0.3);
}

TEST_F(CycParams, LaterPairsOverwriteEarlierOnesAliasesIncluded) {
    apply({{"*LINK_FEED", "1"},
           {"*FORCE_LINK_FEED", "3"},
           {"*unknown_key", "9"},
           {"", "4"},
           {"*TILT_MODE", "6"}});
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*LIFT_OF_FEEDRATE"), 3.0);
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*TILT_STRATEGY"), 6);
    EXPECT_EQ(applyKeyValueList(nullptr), 1);
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*TILT_MODE"), 6);
}

TEST_F(CycParams, TextsFromPairsLoseOnlyTheirLeadingBlanksUnlessRaw) {
    struct Case {
        const char* keyword;
        const char* value;
        const char* stored;
    } cases[] = {
        {"*BLADE_KVX", "  first selection  ", "first selection  "},
        {"*BLADE_KVX", "\t a#b", "a#b"},
        {"*TMP_DIR", "  /tmp/run", "  /tmp/run"},
        {"*IPOL_PATH", " x y", " x y"},
        {"*DLL_DIR", " 12 dir", " 12 dir"},
        {"*APT", "", ""},
    };
    for (const auto& c : cases) {
        apply({{c.keyword, c.value}});
        EXPECT_EQ(textOf(cycleParamsApplied(), c.keyword), c.stored) << c.keyword;
    }
    EXPECT_TRUE(gMessages.empty());
}

TEST_F(CycParams, LongTextValueIsCutWithAWarning) {
    std::string value = "  " + std::string(300, 'v');
    Pairs p({{"*BLADE_KVX", value.c_str()}, {"*FRRADIUS", value.c_str()}, {"*BLADE_COUNT", "3"}});
    applyKeyValueList(p.list);
    EXPECT_EQ(textOf(cycleParamsApplied(), "*BLADE_KVX"), std::string(256, 'v'));
    EXPECT_EQ(numberOf(cycleParamsApplied(), "*BLADE_COUNT"), 3);  // nothing beyond the field was touched
    EXPECT_EQ(gMessages, std::vector<std::string>{"5190,*BLADE_KVX"});

    // Exactly 256 characters fit without a warning.
    gMessages.clear();
    apply({{"*SPLIT_KVX", std::string(256, 's').c_str()}});
    EXPECT_EQ(textOf(cycleParamsApplied(), "*SPLIT_KVX"), std::string(256, 's'));
    EXPECT_TRUE(gMessages.empty());
}

TEST_F(CycParams, ConvertKeywordValueByKind) {
    CycleKeywordValue v;
    ASSERT_EQ(convertKeywordValue(kParseNumber, " 2.5abc", &v), 0);
    EXPECT_DOUBLE_EQ(v.number[0], 2.5);
    EXPECT_STREQ(v.text, " 2.5abc");
    ASSERT_EQ(convertKeywordValue(kParseRawText, "  a b ", &v), 0);
    EXPECT_STREQ(v.text, "  a b ");
    ASSERT_EQ(convertKeywordValue(kParseText, " \t a b ", &v), 0);
    EXPECT_STREQ(v.text, "a b ");
    EXPECT_EQ(v.cut, 0);
    ASSERT_EQ(convertKeywordValue(kParseTriple, "1 2 3 4", &v), 0);
    EXPECT_DOUBLE_EQ(v.number[0], 1);
    EXPECT_DOUBLE_EQ(v.number[2], 3);
    ASSERT_EQ(convertKeywordValue(kParseText, nullptr, &v), 0);
    EXPECT_STREQ(v.text, "");
    EXPECT_EQ(convertKeywordValue(3, "1", &v), -1);
    EXPECT_EQ(convertKeywordValue(kParseNumber, "1", nullptr), -1);
}

TEST_F(CycParams, NumbersDoNotFollowTheHostsLocale) {
    const char* previous = setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8") && !setlocale(LC_NUMERIC, "de_DE"))
        GTEST_SKIP() << "no locale with a decimal comma";
    apply({{"*FRRADIUS", "0.5"}, {"*STARTPT", "1.5 2.5 3.5"}});
    setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*FRRADIUS"), 0.5);
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*STARTPT", 2), 3.5);
}

TEST_F(CycParams, ConfigurationFileLines) {
    writeFile("cfglines.cfg",
              "# a configuration\n"
              "*blade_count 5\n"
              "*BLADE_KVX  first selection  # the blades\n"
              "*SPLIT_KVX\tsplitter one\r\n"
              "   *FRTYP   -2.9   trailing words\n"
              "*STARTPT 10 20 30 # a point\n"
              "*FRRADIUS\n"
              "*PRECISION    # no value\n"
              "*TMP_DIR /tmp/a b\n"
              "*HUB_KVX\n"
              "*NO_SUCH_KEY 12\n"
              "\n"
              "   \t\n"
              "no star 3\n"
              "*RGB_G0 0 0 1\r\n"
              "*AUFMASS 0.2\r"
              "*SICHDIST 9\n"
              "*TIEF -3");  // the last line has no line end
    ASSERT_EQ(readCycleCfgFile("cfglines.cfg"), 1);
    const CycleParams* p = cycleParamsApplied();
    EXPECT_EQ(numberOf(p, "*BLADE_COUNT"), 5);
    EXPECT_EQ(textOf(p, "*BLADE_KVX"), "first selection  ");
    EXPECT_EQ(textOf(p, "*SPLIT_KVX"), "splitter one");
    EXPECT_EQ(numberOf(p, "*FRTYP"), -2);
    EXPECT_EQ(numberOf(p, "*STARTPT", 0), 10);
    EXPECT_EQ(numberOf(p, "*STARTPT", 1), 20);
    EXPECT_EQ(numberOf(p, "*STARTPT", 2), 30);
    EXPECT_EQ(numberOf(p, "*FRRADIUS"), 0.0);
    EXPECT_EQ(numberOf(p, "*PRECISION"), 0.0);
    EXPECT_EQ(textOf(p, "*TMP_DIR"), "/tmp/a");  // raw texts take the value word
    EXPECT_EQ(textOf(p, "*HUB_KVX"), "");
    EXPECT_EQ(numberOf(p, "*G0_COLOR_RGB", 2), 1.0);
    EXPECT_EQ(numberOf(p, "*AUFMASS"), 0.2);
    EXPECT_EQ(numberOf(p, "*SICHDIST"), 5.0);  // behind a lone carriage return: cut with the line
    EXPECT_EQ(numberOf(p, "*TIEF"), -3.0);
    EXPECT_TRUE(gMessages.empty());
}

TEST_F(CycParams, ConfigurationFileLongLinesStayOneLine) {
    // In a line longer than 256 characters the tail must not come back as a line of its own.
    std::string tail = "*BLADE_COUNT 9";
    std::string line = "*COMMENT " + std::string(256 - 9, 'c') + tail;
    std::string numberLine = "*FRRADIUS " + std::string(400, ' ') + "2.5";
    writeFile("cfglong.cfg", line + "\n" + numberLine + "\n*SICHDIST 7\n");
    ASSERT_EQ(readCycleCfgFile("cfglong.cfg"), 1);
    const CycleParams* p = cycleParamsApplied();
    EXPECT_EQ(numberOf(p, "*BLADE_COUNT"), 0);
    EXPECT_EQ(textOf(p, "*COMMENT"), std::string(256 - 9, 'c') + tail.substr(0, 9));
    EXPECT_EQ(numberOf(p, "*FRRADIUS"), 2.5);
    EXPECT_EQ(numberOf(p, "*SICHDIST"), 7.0);
    EXPECT_EQ(gMessages, std::vector<std::string>{"5190,*COMMENT"});
}

TEST_F(CycParams, UnreadableConfigurationFileChangesNothing) {
    std::remove("missing.cfg");
    EXPECT_EQ(readCycleCfgFile("missing.cfg"), 0);
    EXPECT_EQ(readCycleCfgFile(nullptr), 0);
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*FRRADIUS"), 4.0);
}

TEST_F(CycParams, InchScalesExactlyTheLengthFields) {
    // Every number of the table set to 2, then scaled as an inch run does.
    for (int i = 0; CycleKeywordTable[i].keyword; ++i) {
        const CycleKeywordRow& row = CycleKeywordTable[i];
        if (row.storeType != kStoreText)
            apply({{row.keyword, row.storeType == kStoreTriple ? "2 2 2" : "2"}});
    }
    scaleLengthParams(kCycleInchFactor);
    for (int i = 0; CycleKeywordTable[i].keyword; ++i) {
        const CycleKeywordRow& row = CycleKeywordTable[i];
        if (row.storeType == kStoreText) continue;
        // A shared field is a length when any of its names is.
        bool length = kLengths.count(row.keyword) > 0;
        for (const auto& g : kAliases)
            for (const std::string& k : g)
                if (k == row.keyword)
                    for (const std::string& other : g) length = length || kLengths.count(other) > 0;
        int components = row.storeType == kStoreTriple ? 3 : 1;
        for (int c = 0; c < components; ++c) {
            EXPECT_DOUBLE_EQ(numberOf(cycleParams(), row.keyword, c), length ? 50.0 : 2.0) << row.keyword;
            EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), row.keyword, c), 2.0) << row.keyword;
        }
    }
}

TEST_F(CycParams, InchRunConvertsWithFactor25AndRunsRepeatIdentically) {
    apply({{"*INCH", "1"},
           {"*FRRADIUS", "0.5"},
           {"*PRECISION", "0.001"},
           {"*BLADE_COUNT", "7"},
           {"*TILT_ANGLE", "5"},
           {"*LEAD_ANGLE", "12"},
           {"*STARTPT", "1 2 3"}});
    for (int run = 0; run < 2; ++run) {
        SCOPED_TRACE(run);
        double factor = numberOf(cycleParamsApplied(), "*INCH") != 0 ? kCycleInchFactor : 1.0;
        scaleLengthParams(factor);
        const CycleParams* p = cycleParams();
        EXPECT_DOUBLE_EQ(numberOf(p, "*FRRADIUS"), 12.5);
        EXPECT_DOUBLE_EQ(numberOf(p, "*PRECISION"), 0.025);
        EXPECT_DOUBLE_EQ(numberOf(p, "*STARTPT", 2), 75.0);
        EXPECT_EQ(numberOf(p, "*BLADE_COUNT"), 7);
        EXPECT_DOUBLE_EQ(numberOf(p, "*TILT_ANGLE"), 5.0);
        EXPECT_DOUBLE_EQ(numberOf(p, "*LEAD_ANGLE"), 12.0);
        EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*FRRADIUS"), 0.5);
    }
    // A millimetre run after it takes the applied values as they are.
    scaleLengthParams(1.0);
    EXPECT_DOUBLE_EQ(numberOf(cycleParams(), "*FRRADIUS"), 0.5);
}

TEST_F(CycParams, TmpDirPathJoinsFolderAndName) {
    struct Case {
        const char* dir;
        const char* path;
    } cases[] = {
        {"/tmp/run", "/tmp/run/iso.bnd"},
        {"/tmp/run/", "/tmp/run/iso.bnd"},
        {"C:\\temp\\", "C:\\temp\\iso.bnd"},
        {"", "iso.bnd"},
    };
    char out[64];
    for (const auto& c : cases) {
        apply({{"*TMP_DIR", c.dir}});
        scaleLengthParams(1.0);
        EXPECT_EQ(tmpDirPath("iso.bnd", out, sizeof out), 1) << c.dir;
        EXPECT_STREQ(out, c.path);
    }
    apply({{"*TMP_DIR", "/tmp/run"}});
    scaleLengthParams(1.0);
    char small[17];  // "/tmp/run/iso.bnd" needs 17 bytes with its terminator
    EXPECT_EQ(tmpDirPath("iso.bnd", small, sizeof small), 1);
    EXPECT_EQ(tmpDirPath("iso.bnd", small, sizeof small - 1), 0);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(tmpDirPath(nullptr, out, sizeof out), 0);
    EXPECT_EQ(tmpDirPath("x", nullptr, 8), 0);
}

TEST_F(CycParams, DllDirIsTheKeywordOrThisLibrarysFolder) {
    EXPECT_EQ(std::string(dllDirParam()), moduleDirectory());
    apply({{"*DLL_DIR", "/opt/conv"}});
    scaleLengthParams(1.0);
    EXPECT_STREQ(dllDirParam(), "/opt/conv");
}
