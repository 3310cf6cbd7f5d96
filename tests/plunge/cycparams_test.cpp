#include "plunge/cycparams.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "../geometry/msg_capture.h"
#include "../surfaces/surf_fixtures.h"
#include "impeller.h"
#include "paramtest.h"
#include "platform/module.h"

namespace {

// Messages reach the host as "number,value" on channel 0; the parameter state starts fresh.
class CycParams : public ::testing::Test {
  protected:
    void SetUp() override { cycleParamsResetState(); }
    void TearDown() override { cycleParamsResetState(); }
    const std::vector<std::string>& messages() const { return capture.messages(); }
    MessageCapture capture{9};
};

// Keywords that share one field (names joined by "/"); every other keyword has a field of its own.
const std::vector<std::vector<std::string>> kAliases = [] {
    std::istringstream words(
        "*LAUF/*ONEWAY *MACRO_RETURN/*RETURN_MACRO *MACRO_EABST/*MACRO_EDIST *INCH_MODE/*INCH "
        "*G0_COLOR_RGB/*RGB_G0 *G1_COLOR_RGB/*RGB_G1 *HORIZUSTEL_MIN/*MIN_STEPOVER "
        "*COLL_CHECK_5AX/*COLL_CHECK *TILT_STRATEGY/*TILT_MODE *OFFSET_5AX/*TILT_OFFSET "
        "*CLIP_COLL/*CLIP_RETRACT *LENGTH3/*HEAD_LENGTH2 *LENGTH4/*HEAD_LENGTH1 "
        "*DIAMETER3/*HEAD_DIAMETER2 *DIAMETER4/*HEAD_DIAMETER1 *SIDE_DIST/*LIFT_OF_DISTANCE "
        "*TILT_FIXED/*FORCE_3AXIS *SEG_DIST/*SEG_ANGLE *CONNECT_SMOOTH/*CONNECTSMOOTH "
        "*MACRO_LDIST/*MACRO_SIDE_DIST *START_FACTOR/*TOP_ISO *END_FACTOR/*BOTTOM_ISO "
        "*LINK_FEED/*LIFT_OF_FEEDRATE/*FORCE_LINK_FEED *PASS_CT/*PATH_CT *HUB_START/*STOCK_HEIGHT "
        "*ENTRY_CT/*ENTRY_PASS_CT *ENTRY_DIST/*ENTRY_HEIGHT/*ENTRY_WIDTH "
        "*EDGE_FEEDRATE/*FILLET_FEED/*EDGE_FEED *TRIM_PATH/*INTERLACE/*OPTIMISE *USE_4X/*4XMACHINING "
        "*STOCK_WIDTH/*OPEN_HEIGHT ");
    std::vector<std::vector<std::string>> groups;
    for (std::string w; words >> w;) {
        std::istringstream names(w);
        groups.emplace_back();
        for (std::string n; std::getline(names, n, '/');) groups.back().push_back(n);
    }
    return groups;
}();

// The keywords converted to millimetres (one name of each shared field is enough).
const std::set<std::string> kLengths = [] {
    std::istringstream words(
        "*FRRADIUS *FRBOGEN *VERTZUSTEL *HORIZUSTEL *AUFMASS *OBERFL *TIEF *SICHDIST *SICHEBENE *AUFLMAX "
        "*AUFLMIN *MACRO_SRAD *MACRO_ERAD *MACRO_SABST *MACRO_EABST *MACRO_THEIGHT *MACRO_TRAD *STEP_MAX "
        "*STEP_MIN *SICH_MAXDIST *STARTPT *BND_REDUCTION *PRECISION *TOTAL_TOOL_LENGTH *CUTTING_LENGTH "
        "*LENGTH1 *LENGTH2 *LENGTH3 *LENGTH4 *DIAMETER1 *BOUND_OFFSET *TOP_OFFSET *BOTTOM_OFFSET "
        "*DIAMETER3 *DIAMETER4 *RESOLUTION *SCAL_HEIGHT *HORIZUSTEL_MIN *SCAL_HEIGHT_MIN *OFFSET_5AX "
        "*SINTERVAL *CLIP_HEIGHT *DELTAKURVE *TIP_LENGTH *SHAFT_DIAMETER *CHAMFER_LENGTH *SIDE_DIST "
        "*AUFMASS_HORI *STEPOVER *TIP_DIAMETER *REF_RADIUS *SEG_DIST *START_OFFSET *FILLET_RADIUS "
        "*INFEED_RADIUS *AUFMASS_HUB *SHROUD_OFFSET *EXT_TRAIL *EXT_LEAD *POFFSET *FILLET_TOL "
        "*MACRO_LRAD *MACRO_LDIST *SINCREMENT *HUB_START *HUB_END *SHROUD_START *SHROUD_END *HUB_OFFSET "
        "*TRIM_Z *TRIM_RAMP_LENGTH *TRIM_RAMP_HEIGHT *FAN_DIST *REF_HUB_RADIUS *SHAFT_ALLOWANCE "
        "*STOCK_WIDTH *AXIAL_RETRACT *LIFT_OFFSET *SHROUD_ENTEXT *SHROUD_LINKEXT *HUB_STARTHEIGHT "
        "*MAX_CLEAR_DIST *HOLDER_3DF_TOL *HEAD_3DF_TOL *EDGE_FANDIST *CLIP_OFFSET *TRIM_OFFSET "
        "*CHECK_TOL *CENTER_HEIGHT *BARREL_RADIUS *BARREL_HEIGHT *BLADE_OFFSET *OPEN_STEP *ENTRY_DIST "
        "*FORCE_G1_IPOL *SHROUD_DEPTH *EXTRA_TOL *TOOL_OFFSET *STEP_OFFSET *PLUNGE_STEP *EDGE_TOL "
        "*CLEAR_SIDE *MACRO_SDIST *T_CUTWIDTH *PLUNGE_TOL *PROJ_DIST *AVOID_CLOSE_OFFSET *MODELPRECISION "
        "*HOLDER_CLEARANCE *HEAD_CLEARANCE *EXT_EDGE *EXTENSION_CLEARANCE *SHANK_CLEARANCE "
        "*TOOL_LENGTH_INCR *CAMBER_FANDIST ");
    return std::set<std::string>(std::istream_iterator<std::string>(words), {});
}();

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
    const std::pair<const char*, const char*> defaults[] = {{"*FRRADIUS", "4"},
                                                            {"*LAUF", "2"},
                                                            {"*ONEWAY", "2"},
                                                            {"*TIEF", "-10000"},
                                                            {"*WKZNUMMER", "1"},
                                                            {"*AUFLMIN", "0.05"},
                                                            {"*PRECISION", "0.01"},
                                                            {"*TILT_MODE", "1"},
                                                            {"*TILT_OFFSET", "100"},
                                                            {"*HUB_START", "-1"},
                                                            {"*STOCK_HEIGHT", "-1"},
                                                            {"*EDGEROLLING_LEAD", "-1"},
                                                            {"*TOOL_COLL_CHECK", "-1"},
                                                            {"*CORE_HEIGHT", "-1"},
                                                            {"*LEADB_IPOL", "1"},
                                                            {"*BLADE_COUNT", "0"},
                                                            {"*INCH", "0"},
                                                            {"*FRTYP", "1"},
                                                            {"*STARTPT", "0 0 -100000"},
                                                            {"*RGB_G0", "1 0 0"},
                                                            {"*G1_COLOR_RGB", "1 1 0"},
                                                            {"*NCKO_Z", "0 0 1"},
                                                            {"*ORIG_Y", "0 1 0"},
                                                            {"*MIRROR_ORI", "0 0 0"},
                                                            {"*TILT_CURVE", "."},
                                                            {"*APT", ""},
                                                            {"*DLL_DIR", ""}};
    for (const auto& [keyword, value] : defaults) EXPECT_EQ(valueText(p, keyword), value) << keyword;
    EXPECT_FALSE(textOf(p, "*PRG_DIR").empty());
    // The run's record starts out the same.
    EXPECT_EQ(snapshotOf(cycleParams()), snapshotOf(p));
}

// Numbers are cut toward zero and limited to their field, triples take three numbers (missing ones 0),
// texts lose their leading blanks unless raw; two names of one field read the same value.
TEST_F(CycParams, PairsSetNumbersTriplesAndTexts) {
    struct Case {
        const char *keyword, *value, *stored, *readAs = nullptr;
    } cases[] = {{"*blade_count", "5", "5"},
                 {"*FRTYP", "2.9", "2"},
                 {"*FRTYP", "-2.9", "-2"},
                 {"*FRTYP", "  7xyz", "7"},
                 {"*FRTYP", "abc", "0"},
                 {"*FRTYP", "", "0"},
                 {"*FRTYP", "+3", "3"},
                 {"*FRTYP", "+3+", "3"},
                 {"*FRTYP", "70000", "32767"},
                 {"*FRTYP", "-1e9", "-32768"},
                 {"*FRTYP", "nan", "0"},
                 {"*FRTYP", "\n\r\v\f 6", "6"},
                 {"*FRTYP", "++3", "0"},
                 {"*FRTYP", "+-3", "0"},
                 {"*FRTYP", "-+3", "0"},
                 {"*FRTYP", "+", "0"},
                 {"*WKZNUMMER", "12.99", "12"},
                 {"*WKZNUMMER", "3e9", "2147483647"},
                 {"*WKZNUMMER", "-3e9", "-2147483648"},
                 {"*FRRADIUS", "0.5", "0.5"},
                 {"*FRRADIUS", ".25mm", "0.25"},
                 {"*FRRADIUS", "-1.5e2", "-150"},
                 {"*FRRADIUS", "1,5", "1"},
                 {"*FRRADIUS", "", "0"},
                 {"*STARTPT", "10 20 30 40", "10 20 30"},
                 {"*STARTPT", " -1.5\t2e1   3 junk", "-1.5 20 3"},
                 {"*STARTPT", "10 20", "10 20 0"},
                 {"*STARTPT", "", "0 0 0"},
                 {"*STARTPT", "7,8,9", "7 0 0"},
                 {"*STARTPT", "1e999 2 3", "0 2 3"},
                 {"*STARTPT", "+4 +.5\n-6", "4 0.5 -6"},
                 {"*RGB_G0", "0 1 0", "0 1 0"},
                 {"*G0_COLOR_RGB", "0.5 0.25 1", "0.5 0.25 1", "*RGB_G0"},
                 {"*RGB_G0", "0.25 0.75 0.5", "0.25 0.75 0.5", "*G0_COLOR_RGB"},
                 {"*BLADE_KVX", "  first selection  ", "first selection  "},
                 {"*BLADE_KVX", "\t a#b", "a#b"},
                 {"*TMP_DIR", "  /tmp/run", "  /tmp/run"},
                 {"*IPOL_PATH", " x y", " x y"},
                 {"*DLL_DIR", " 12 dir", " 12 dir"},
                 {"*APT", "", ""}};
    for (const Case& c : cases) {
        EXPECT_EQ(applyPairs({{c.keyword, c.value}}), 1);
        EXPECT_EQ(valueText(cycleParamsApplied(), c.readAs ? c.readAs : c.keyword), c.stored)
            << c.keyword << " " << c.value;
    }
    EXPECT_TRUE(messages().empty());
}

TEST_F(CycParams, LaterPairsOverwriteEarlierOnesAliasesIncluded) {
    EXPECT_EQ(applyPairs({{"*LINK_FEED", "1"},
                          {"*FORCE_LINK_FEED", "3"},
                          {"*unknown_key", "9"},
                          {"", "4"},
                          {"*TILT_MODE", "6"}}),
              1);
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*LIFT_OF_FEEDRATE"), 3.0);
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*TILT_STRATEGY"), 6);
    EXPECT_EQ(applyKeyValueList(nullptr), 1);
    KvList keyless{nullptr, nullptr, kKvFile, nullptr};  // a node whose pair was taken: passed over
    EXPECT_EQ(applyKeyValueList(&keyless), 1);
    EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), "*TILT_MODE"), 6);
}

TEST_F(CycParams, LongTextValueIsCutWithAWarning) {
    std::string value = "  " + std::string(300, 'v');
    applyPairs({{"*BLADE_KVX", value.c_str()}, {"*FRRADIUS", value.c_str()}, {"*BLADE_COUNT", "3"}});
    EXPECT_EQ(textOf(cycleParamsApplied(), "*BLADE_KVX"), std::string(256, 'v'));
    EXPECT_EQ(numberOf(cycleParamsApplied(), "*BLADE_COUNT"), 3);  // nothing beyond the field was touched
    EXPECT_EQ(messages(), std::vector<std::string>{"5190,*BLADE_KVX"});

    // Exactly 256 characters fit without a warning.
    capturedMessages().clear();
    EXPECT_EQ(applyPairs({{"*SPLIT_KVX", std::string(256, 's').c_str()}}), 1);
    EXPECT_EQ(textOf(cycleParamsApplied(), "*SPLIT_KVX"), std::string(256, 's'));
    EXPECT_TRUE(messages().empty());
}

// What the pairs above reach through the table, the conversion refuses outside it.
TEST_F(CycParams, ConvertKeywordValueRefusesUnknownKindsAndNoOutput) {
    CycleKeywordValue v;
    ASSERT_EQ(convertKeywordValue(kParseText, nullptr, &v), 0);
    EXPECT_STREQ(v.text, "");
    EXPECT_EQ(v.cut, 0);
    EXPECT_EQ(convertKeywordValue(3, "1", &v), -1);
    // A text one longer than the field is cut to it and flagged 1; one that fits is kept whole.
    for (const size_t n : {kCycleTextMax, kCycleTextMax + 1}) {
        const std::string text(n, 't');
        ASSERT_EQ(convertKeywordValue(kParseRawText, text.c_str(), &v), 0) << n;
        EXPECT_EQ(v.cut, n > kCycleTextMax ? 1 : 0) << n;
        EXPECT_EQ(v.text, text.substr(0, kCycleTextMax)) << n;
    }
    EXPECT_EQ(convertKeywordValue(kParseNumber, "1", nullptr), -1);
    // A number field without a number, or with one out of range, reads 0.
    for (const char* text : {"x1", "", "1e999"}) {
        ASSERT_EQ(convertKeywordValue(kParseNumber, text, &v), 0) << text;
        EXPECT_EQ(v.number[0], 0.0) << text;
    }
}

TEST_F(CycParams, NumbersDoNotFollowTheHostsLocale) {
    const char* previous = setlocale(LC_NUMERIC, nullptr);
    std::string saved = previous ? previous : "C";
    if (!setlocale(LC_NUMERIC, "de_DE.UTF-8") && !setlocale(LC_NUMERIC, "de_DE"))
        GTEST_SKIP() << "no locale with a decimal comma";
    applyPairs({{"*FRRADIUS", "0.5"}, {"*STARTPT", "1.5 2.5 3.5"}});
    setlocale(LC_NUMERIC, saved.c_str());
    EXPECT_EQ(valueText(cycleParamsApplied(), "*FRRADIUS"), "0.5");
    EXPECT_EQ(valueText(cycleParamsApplied(), "*STARTPT"), "1.5 2.5 3.5");
}

// A file that cannot be read changes nothing; a readable one sets what its lines name.
TEST_F(CycParams, ConfigurationFileLines) {
    std::remove("missing.cfg");
    EXPECT_EQ(readCycleCfgFile("missing.cfg"), 0);
    EXPECT_EQ(readCycleCfgFile(nullptr), 0);
    EXPECT_EQ(snapshotOf(cycleParamsApplied()), snapshotOf(cycleParams()));
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
              "*COMMENT\vD10 R2\n"
              "*SHROUD_KVX\f\t first  selection\n"
              "*TIEF -3");  // the last line has no line end
    ASSERT_EQ(readCycleCfgFile("cfglines.cfg"), 1);
    // Raw texts take the value word; behind a lone carriage return the pair is cut with the line. A text
    // takes the rest of the line behind the keyword and the one character after it, whatever blank that
    // is, then its leading blanks and tabs.
    const std::pair<const char*, const char*> set[] = {{"*BLADE_COUNT", "5"},
                                                       {"*BLADE_KVX", "first selection  "},
                                                       {"*SPLIT_KVX", "splitter one"},
                                                       {"*FRTYP", "-2"},
                                                       {"*STARTPT", "10 20 30"},
                                                       {"*FRRADIUS", "0"},
                                                       {"*PRECISION", "0"},
                                                       {"*TMP_DIR", "/tmp/a"},
                                                       {"*HUB_KVX", ""},
                                                       {"*G0_COLOR_RGB", "0 0 1"},
                                                       {"*AUFMASS", "0.2"},
                                                       {"*SICHDIST", "5"},
                                                       {"*COMMENT", "D10 R2"},
                                                       {"*SHROUD_KVX", "first  selection"},
                                                       {"*TIEF", "-3"}};
    for (const auto& [keyword, value] : set)
        EXPECT_EQ(valueText(cycleParamsApplied(), keyword), value) << keyword;
    EXPECT_TRUE(messages().empty());
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
    EXPECT_EQ(messages(), std::vector<std::string>{"5190,*COMMENT"});
}

// Every number of the table set to 2 and scaled as an inch run does: the length fields become 50 in the
// run's record, the applied record stays; a second run scales the same, a millimetre run after takes the
// applied values as they are.
TEST_F(CycParams, InchScalesExactlyTheLengthFieldsOncePerRun) {
    for (int i = 0; CycleKeywordTable[i].keyword; ++i) {
        const CycleKeywordRow& row = CycleKeywordTable[i];
        if (row.storeType != kStoreText)
            applyPairs({{row.keyword, row.storeType == kStoreTriple ? "2 2 2" : "2"}});
    }
    for (int run = 0; run < 2; ++run) {
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
            for (int c = 0; c < (row.storeType == kStoreTriple ? 3 : 1); ++c) {
                EXPECT_DOUBLE_EQ(numberOf(cycleParams(), row.keyword, c), length ? 50.0 : 2.0) << row.keyword;
                EXPECT_DOUBLE_EQ(numberOf(cycleParamsApplied(), row.keyword, c), 2.0) << row.keyword;
            }
        }
    }
    scaleLengthParams(1.0);
    EXPECT_EQ(snapshotOf(cycleParams()), snapshotOf(cycleParamsApplied()));
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
        applyPairs({{"*TMP_DIR", c.dir}});
        scaleLengthParams(1.0);
        EXPECT_EQ(tmpDirPath("iso.bnd", out, sizeof out), 1) << c.dir;
        EXPECT_STREQ(out, c.path);
    }
    applyPairs({{"*TMP_DIR", "/tmp/run"}});
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
    applyPairs({{"*DLL_DIR", "/opt/conv"}});
    scaleLengthParams(1.0);
    EXPECT_STREQ(dllDirParam(), "/opt/conv");
}

// A text written into its field leaves every byte of the record outside that field as it was.
TEST_F(CycParams, TextValueTouchesNoOtherField) {
    for (int i = 0; CycleKeywordTable[i].keyword; ++i) {
        const CycleKeywordRow& row = CycleKeywordTable[i];
        applyPairs({{row.keyword, row.storeType == kStoreText     ? "text"
                                  : row.storeType == kStoreTriple ? "3 3 3"
                                                                  : "3"}});
    }
    std::vector<unsigned char> before(sizeof(CycleParams));
    for (int i = 0; CycleKeywordTable[i].keyword; ++i) {
        const CycleKeywordRow& row = CycleKeywordTable[i];
        if (row.storeType != kStoreText) continue;
        memcpy(before.data(), cycleParamsApplied(), sizeof(CycleParams));
        applyPairs({{row.keyword, std::string(300, 'o').c_str()}});
        const auto* after = reinterpret_cast<const unsigned char*>(cycleParamsApplied());
        for (size_t b = 0; b < sizeof(CycleParams); ++b) {
            if (b >= row.field && b <= row.field + kCycleTextMax) continue;
            ASSERT_EQ(after[b], before[b]) << row.keyword << " " << b;
        }
    }
}

// The example generator's job file is read by this table as it stands.
TEST(CycParamsJob, ExampleJobKeywordsAreRowsOfTheCycleTable) {
    const std::filesystem::path dir = tempDir();
    std::string why;
    ImpellerOptions o;
    o.outDir = dir.string();
    o.toolRadius = 2.0;
    ASSERT_EQ(impWriteAll(o, &why), 1) << why;
    std::ifstream in(dir / kImpJobFile);
    for (std::string line; std::getline(in, line);)
        EXPECT_TRUE(line.empty() || line[0] == '#' ||
                    findKeyword(line.substr(0, line.find(' ')).c_str()) >= 0)
            << line;
    cycleParamsResetState();
    ASSERT_EQ(readCycleCfgFile((dir / kImpJobFile).c_str()), 1);
    const CycleParams* p = cycleParamsApplied();
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->bladeCount, 8);
    EXPECT_DOUBLE_EQ(p->frradius, 2.0);
    for (const char* name : {p->hubKvx, p->shroudKvx, p->bladeKvx, p->splitKvx})
        EXPECT_TRUE(std::filesystem::exists(dir / name)) << name;
    EXPECT_GT(p->sichebene, o.hubStartZ);
    EXPECT_GT(p->cuttingLength, o.shroudOffset);
    EXPECT_LT(p->plungeStep, 1.5 * p->frradius);  // below the cutting width the set-up limits it to
    cycleParamsResetState();
}
