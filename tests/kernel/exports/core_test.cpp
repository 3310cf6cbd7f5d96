#include "kernel/ncout/core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "kernel/ncout/ncemit.h"
#include "platform/versioninfo.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"
#include "kernel/exports/exports.h"

namespace {

class CoreTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetCoreToBinFolder();
        initTestRecord(&a);
        initTestRecord(&b);
    }
    void TearDown() override {
        coreClose(&a);
        coreClose(&b);
        resetCoreToBinFolder();
    }
    CycleRecord a, b;
};

void printTo(FILE* file, const char* text) {
    fputs(text, file);
}

}  // namespace

TEST_F(CoreTest, OneLoadedCopyWithAUseCount) {
    EXPECT_FALSE(coreLibraryMapped());
    EXPECT_EQ(coreOpen(&a), 1);
    EXPECT_EQ(coreOpen(&a), 0);  // open already
    EXPECT_EQ(coreOpen(&b), 1);
    EXPECT_EQ(coreUseCount(), 2);
    EXPECT_EQ(a.coreHandle, b.coreHandle);
    EXPECT_TRUE(coreLibraryMapped());
    EXPECT_EQ(coreClose(&a), 1);
    EXPECT_EQ(coreUseCount(), 1);
    EXPECT_TRUE(coreLibraryMapped());
    EXPECT_EQ(coreClose(&b), 1);
    EXPECT_EQ(coreUseCount(), 0);
    EXPECT_FALSE(coreLibraryMapped());
    EXPECT_EQ(coreClose(&b), kCoreNotOpen);
}

TEST_F(CoreTest, ModuleFolderIsFilledOnceAndCutAfterTheLastSeparator) {
    exportsResetCore();
    coreSetModuleFolder("C:\\prog\\kv/lib\\kvcycles.dll");
    EXPECT_STREQ(coreModuleFolder(), "C:\\prog\\kv/lib\\");
    coreSetModuleFolder("/other/place/lib.so");
    EXPECT_STREQ(coreModuleFolder(), "C:\\prog\\kv/lib\\");
    exportsResetCore();
    coreSetModuleFolder("plain.so");
    EXPECT_STREQ(coreModuleFolder(), "plain.so");
    exportsResetCore();
    coreSetModuleFolder(std::string(600, 'd').c_str());
    EXPECT_EQ(std::string(coreModuleFolder()).size(), 510u);
}

TEST_F(CoreTest, WithoutCoreLibraryEveryWrapperAnswersMinusSix) {
    exportsResetCore();
    coreSetModuleFolder("/nonexistent-folder/libkvcycles.so");
    EXPECT_EQ(coreOpen(&a), 0);
    EXPECT_EQ(a.coreHandle, nullptr);
    EXPECT_EQ(coreUseCount(), 0);
    FILE* file = stdout;
    int32_t technology = 7, exception = 7;
    EXPECT_EQ(coreGetFP(&a, &file), kCoreNotOpen);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(coreGetTechnology(&a, &technology), kCoreNotOpen);
    EXPECT_EQ(technology, 1);
    EXPECT_EQ(coreGetTurnMapException(&a, &exception), kCoreNotOpen);
    EXPECT_EQ(exception, 0);
    file = stdout;
    EXPECT_EQ(coreGetRedFile(&a, &file), kCoreNotOpen);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(coreSetRelease(&a, "x"), kCoreNotOpen);
    EXPECT_EQ(coreLayerOutput(0, 0, &a, nullptr, printTo, ncEmit), kCoreNotOpen);
    EXPECT_EQ(coreClose(&a), kCoreNotOpen);
}

TEST_F(CoreTest, MissingEntriesAnswerMinusThreeAndKeepThePresets) {
    exportsResetCore();
    std::string minimal = std::string(KV_BIN_DIR) + "/coremin/libkvcycles.so";
    coreSetModuleFolder(minimal.c_str());
    ASSERT_EQ(coreOpen(&a), 1);  // OpenCore is there; SetDLLPath is not
    FILE* file = stdout;
    int32_t technology = 7, exception = 7;
    EXPECT_EQ(coreActivateAdditionalFunctions(&a, 1), kCoreEntryMissing);
    EXPECT_EQ(coreSetRelease(&a, "r"), kCoreEntryMissing);
    EXPECT_EQ(coreSetFP(&a, nullptr), kCoreEntryMissing);
    EXPECT_EQ(coreGetFP(&a, &file), kCoreEntryMissing);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(coreGetTechnology(&a, &technology), kCoreEntryMissing);
    EXPECT_EQ(technology, 1);
    EXPECT_EQ(coreGetTurnMapException(&a, &exception), kCoreEntryMissing);
    EXPECT_EQ(exception, 0);
    file = stdout;
    EXPECT_EQ(coreGetRedFile(&a, &file), kCoreEntryMissing);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(coreSetDtoSPrecision(&a, 3), kCoreEntryMissing);
    EXPECT_EQ(coreSetSurfaceNormal(&a, 0, 0, 1), kCoreEntryMissing);
    EXPECT_EQ(coreLayerOutput(0, 0, &a, nullptr, printTo, ncEmit), kCoreEntryMissing);
    // Emission still works without those entries: no dump, no turning.
    ncRegisterHandler(&a, 0, acceptRecord, acceptRecord, 1);
    EXPECT_EQ(ncError(&a, "e"), 1);
    ncFreeChannels(&a);
    EXPECT_EQ(coreClose(&a), 1);
    EXPECT_EQ(coreUseCount(), 0);
}

// Entries are found once per loaded copy: a different library loaded later
// (here one lacking most entries) is asked afresh, and so is the first again.
TEST_F(CoreTest, EntriesFollowTheLibraryLoadedAtTheTime) {
    std::string minimal = std::string(KV_BIN_DIR) + "/coremin/libkvcycles.so";
    std::string full = moduleFileName();
    for (const std::string& folder : {full, minimal, full, minimal}) {
        exportsResetCore();
        coreSetModuleFolder(folder.c_str());
        const bool complete = folder == full;
        for (int run = 0; run < 2; ++run) {
            ASSERT_EQ(coreOpen(&a), 1);
            int32_t technology = 7;
            EXPECT_EQ(coreGetTechnology(&a, &technology), complete ? 0 : kCoreEntryMissing);
            EXPECT_EQ(coreGetTechnology(&a, &technology), complete ? 0 : kCoreEntryMissing);
            EXPECT_EQ(technology, 1);
            EXPECT_EQ(coreSetDtoSPrecision(&a, 3), complete ? 0 : kCoreEntryMissing);
            EXPECT_EQ(coreClose(&a), 1);
            EXPECT_EQ(coreGetTechnology(&a, &technology), kCoreNotOpen);
        }
    }
}

// The POF text form of the core library: one line per record.
TEST_F(CoreTest, LayerOutputWritesOneLinePerRecord) {
    ASSERT_EQ(coreOpen(&a), 1);
    EXPECT_EQ(coreLayerOutput(0, 0, &a, nullptr, printTo, ncEmit), -1);
    FILE* out = fopen("core.pof", "w");
    ASSERT_NE(out, nullptr);
    // Without an output file the record is accepted and nothing is written.
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, 104);
    EXPECT_EQ(coreLayerOutput(0, 0, &a, &rec, printTo, ncEmit), 0);
    EXPECT_EQ(coreSetFP(&a, out), 0);
    FILE* got = nullptr;
    EXPECT_EQ(coreGetFP(&a, &got), 0);
    EXPECT_EQ(got, out);
    EXPECT_EQ(coreSetDtoSPrecision(&a, 3), 0);

    struct Case {
        int32_t channel;
        void (*build)(NcRecord*);
    } cases[] = {
        {0,
         [](NcRecord* r) {
             ncRecPutI32(r, KVNC_TYPE, 103);
             ncRecPutText(r, KVNC_TEXT_NAME, 256, "cycle");
             ncRecPutText(r, KVNC_TEXT_VALUE, 256, "Say \"hi\"\\\t");
         }},
        {31,
         [](NcRecord* r) {
             ncRecPutI32(r, KVNC_TYPE, 3113);
             ncRecPutF64(r, KVNC_POINT_X, 1.5);
             ncRecPutF64(r, KVNC_POINT_Y, -0.0001);
             ncRecPutF64(r, KVNC_POINT_Z, 2.0004);
         }},
        {31,
         [](NcRecord* r) {
             ncRecPutI32(r, KVNC_TYPE, 3109);
             ncRecPutI32(r, KVNC_MOVE5_FLAG_Z, 1);
             ncRecPutF64(r, KVNC_MOVE5_Z, 4);
             ncRecPutI32(r, KVNC_MOVE5_FLAG_K, 1);
             ncRecPutF64(r, KVNC_MOVE5_K, 0.5);
         }},
        {12,
         [](NcRecord* r) {
             ncRecPutI32(r, KVNC_TYPE, 5001);
             ncRecPutU32(r, KVNC_BLOCK_NUMBER, 3);
             ncRecPutI32(r, KVNC_BLOCK_KIND, 4);
             ncRecPutText(r, KVNC_BLOCK_TEXT1, 255, "link");
         }},
        {31,
         [](NcRecord* r) {
             ncRecPutI32(r, KVNC_TYPE, 3121);
             ncRecPutI32(r, KVNC_ARC_DIR, 1);
             ncRecPutF64(r, KVNC_ARC_END_X, 1);
             ncRecPutF64(r, KVNC_ARC_END_Y, 2);
             ncRecPutF64(r, KVNC_ARC_CENTRE_X, 3);
             ncRecPutF64(r, KVNC_ARC_CENTRE_Y, 4);
         }},
        {32,
         [](NcRecord* r) {
             ncRecPutI32(r, KVNC_TYPE, 4006);
             ncRecPutF64(r, KVNC_COMP_X, 7);
             ncRecPutF64(r, KVNC_COMP_Y, 8);
             ncRecPutF64(r, KVNC_COMP_Z, 9);
         }},
        {42,
         [](NcRecord* r) {
             ncRecPutI32(r, KVNC_TYPE, 7001);
             ncRecPutF64(r, KVNC_TRIPLE_P1, 1);
             ncRecPutF64(r, KVNC_TRIPLE_P1 + 8, 2);
             ncRecPutF64(r, KVNC_TRIPLE_P1 + 16, 3);
         }},
        {12, [](NcRecord* r) { ncRecPutI32(r, KVNC_TYPE, 5004); }},
    };
    for (const auto& c : cases) {
        ncRecClear(&rec);
        c.build(&rec);
        EXPECT_EQ(coreLayerOutput(c.channel, 0, &a, &rec, printTo, ncEmit), 0);
    }
    fclose(out);
    coreSetFP(&a, nullptr);
    EXPECT_EQ(readTestFile("core.pof"),
              "0 103 name=\"cycle\" value=\"Say \\\"hi\\\"\\\\\\x09\"\n"
              "31 3113 x=1.5 y=0 z=2\n"
              "31 3109 z=4 k=0.5\n"
              "12 5001 number=3 kind=4 text1=\"link\" text2=\"\" text3=\"\"\n"
              "31 3121 dir=cw x=1 y=2 cx=3 cy=4\n"
              "32 4006 x=7 y=8 z=9\n"
              "42 7001 x=1 y=2 z=3\n"
              "12 5004\n");
}

namespace {

std::string gPrinted;

void printToString(FILE*, const char* text) {
    gPrinted += text;
}

// The documented number form, made by printf's correctly rounded "%.*f".
std::string printfNumber(double value, int decimals) {
    if (!std::isfinite(value)) return "nan";
    char buf[400];
    snprintf(buf, sizeof buf, "%.*f", decimals, value);
    std::string n = buf;
    if (n.find('.') != std::string::npos) {
        while (n.back() == '0') n.pop_back();
        if (n.back() == '.') n.pop_back();
    }
    return n == "-0" ? "0" : n;
}

}  // namespace

// Every number of a line equals printf's digits at every precision: random bit
// patterns, random magnitudes from 1e-18 to 1e24, exact binary fractions (which
// put many values on a rounding tie, and their neighbours a bit off it) and the edges of the double range.
TEST_F(CoreTest, NumbersMatchPrintfAtEveryPrecision) {
    ASSERT_EQ(coreOpen(&a), 1);
    ASSERT_EQ(coreSetFP(&a, stdout), 0);  // the print function below never writes to it
    std::mt19937_64 rng(4711);
    using L = std::numeric_limits<double>;
    // clang-format off
    std::vector<double> values = {0.0, -0.0, 0.5, -0.5, 1.5, 2.5, -2.5, 0.125, 0.375, -1e-9, 9.9999995, 0.0000005,
                                  1e22, 1e23, 9007199254740993.0, 18446744073709551616.0, 123456789012345.67,
                                  L::max(), -L::max(), L::min(), L::denorm_min(), -L::denorm_min(),
                                  L::quiet_NaN(), L::infinity(), -L::infinity()};
    // clang-format on
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 6000; ++i) {
        double sign = rng() & 1 ? -1.0 : 1.0;
        uint64_t bits = rng();
        double pattern;
        memcpy(&pattern, &bits, sizeof pattern);
        values.push_back(pattern);
        values.push_back(sign * unit(rng) * std::pow(10.0, static_cast<int>(rng() % 43) - 18));
        const double fraction =
            sign * std::ldexp(static_cast<double>(rng() % (1u << 24)), -1 - static_cast<int>(rng() % 16));
        // A tie, and its neighbours one bit either side of it.
        values.insert(values.end(),
                      {fraction, std::nextafter(fraction, -1e300), std::nextafter(fraction, 1e300)});
    }
    for (int precision : {-1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13}) {
        ASSERT_EQ(coreSetDtoSPrecision(&a, precision), 0);
        const int decimals = std::clamp(precision, 0, 12);
        gPrinted.clear();
        std::string expected;
        NcRecord rec;
        for (size_t i = 0; i + 4 <= values.size(); i += 4) {
            ncRecClear(&rec);
            ncRecPutI32(&rec, KVNC_TYPE, 3104);
            ncRecPutF64(&rec, KVNC_TRACE_X, values[i]);
            ncRecPutF64(&rec, KVNC_TRACE_Y, values[i + 1]);
            ncRecPutF64(&rec, KVNC_TRACE_Z, values[i + 2]);
            ncRecPutI32(&rec, KVNC_TRACE_FLAG, 1);
            ncRecPutF64(&rec, KVNC_TRACE_W, values[i + 3]);
            ASSERT_EQ(coreLayerOutput(31, 0, &a, &rec, printToString, ncEmit), 0);
            expected += "31 3104 x=" + printfNumber(values[i], decimals) +
                        " y=" + printfNumber(values[i + 1], decimals) +
                        " z=" + printfNumber(values[i + 2], decimals) +
                        " w=" + printfNumber(values[i + 3], decimals) + "\n";
        }
        ASSERT_EQ(gPrinted, expected) << "precision " << precision;
    }
    coreSetFP(&a, nullptr);
}

// Moves of both channels drawn from a few values (so that a move's fields often repeat the one before,
// under its own type or the other channel's, and -0 stands beside 0), at a precision that changes now and
// then: each line equals the one printf's digits make.
TEST_F(CoreTest, RepeatedMoveFieldsMatchPrintf) {
    ASSERT_EQ(coreOpen(&a), 1);
    ASSERT_EQ(coreSetFP(&a, stdout), 0);  // the print function below never writes to it
    std::mt19937_64 rng(1213);
    const double pool[] = {0.0, -0.0, 1.25, -7.5, 100.123456789, 0.0000004, 3e15};
    struct Form {
        int32_t channel, type, dir;  // dir: 0 a point move, else the arc's direction word
    };
    const Form forms[] = {{31, 3101, 0}, {31, 3111, 0}, {31, 3121, 1}, {31, 3121, -1},
                          {32, 4001, 0}, {32, 4004, 0}, {32, 4008, 1}, {32, 4009, -1}};
    gPrinted.clear();
    std::string expected;
    int decimals = 6;
    double v[4] = {};
    NcRecord rec;
    for (int i = 0; i < 4000; ++i) {
        if (rng() % 50 == 0) {
            decimals = static_cast<int>(rng() % 13);
            ASSERT_EQ(coreSetDtoSPrecision(&a, decimals), 0);
        }
        for (double& x : v)
            if (rng() % 3 == 0) x = pool[rng() % std::size(pool)];
        const Form& f = forms[rng() % std::size(forms)];
        ncRecClear(&rec);
        ncRecPutI32(&rec, KVNC_TYPE, f.type);
        std::string line = std::to_string(f.channel) + " " + std::to_string(f.type);
        if (f.dir != 0) line += f.dir == 1 ? " dir=cw" : " dir=ccw";
        line += " x=" + printfNumber(v[0], decimals) + " y=" + printfNumber(v[1], decimals);
        if (f.type == 3121) {
            ncRecPutI32(&rec, KVNC_ARC_DIR, f.dir);
            ncRecPutF64(&rec, KVNC_ARC_END_X, v[0]);
            ncRecPutF64(&rec, KVNC_ARC_END_Y, v[1]);
            ncRecPutF64(&rec, KVNC_ARC_CENTRE_X, v[2]);
            ncRecPutF64(&rec, KVNC_ARC_CENTRE_Y, v[3]);
        } else if (f.type == 4008 || f.type == 4009) {
            ncRecPutF64(&rec, KVNC_COMP_END_X, v[0]);
            ncRecPutF64(&rec, KVNC_COMP_END_Y, v[1]);
            ncRecPutF64(&rec, KVNC_COMP_CENTRE_X, v[2]);
            ncRecPutF64(&rec, KVNC_COMP_CENTRE_Y, v[3]);
        } else if (f.channel == 31) {
            ncRecPutF64(&rec, KVNC_POINT_X, v[0]);
            ncRecPutF64(&rec, KVNC_POINT_Y, v[1]);
        } else {
            ncRecPutF64(&rec, KVNC_COMP_X, v[0]);
            ncRecPutF64(&rec, KVNC_COMP_Y, v[1]);
        }
        if (f.dir != 0) line += " cx=" + printfNumber(v[2], decimals) + " cy=" + printfNumber(v[3], decimals);
        ASSERT_EQ(coreLayerOutput(f.channel, 0, &a, &rec, printToString, ncEmit), 0);
        expected += line + "\n";
    }
    EXPECT_EQ(gPrinted, expected);
    coreSetFP(&a, nullptr);
}

TEST(VersionInfo, MatchesTheProjectVersionOfTheBuild) {
    std::string cmake = readTestFile(std::string(KV_SOURCE_DIR) + "/CMakeLists.txt");
    size_t at = cmake.find("project(kvcycles VERSION ");
    ASSERT_NE(at, std::string::npos);
    std::string project = cmake.substr(at + 25, cmake.find(' ', at + 25) - (at + 25));
    char text[64];
    uint16_t parts[4];
    ASSERT_EQ(versionInfo(text, sizeof text, parts), 1);
    EXPECT_EQ(project, text);
    char joined[64];
    snprintf(joined, sizeof joined, "%u.%u.%u", parts[0], parts[1], parts[2]);
    EXPECT_EQ(project, joined);
}

// A number met again is written as before at its own precision: a move sent on two channels, a value one
// bit off the last, nan and both zeros, each again after the precision changed and with more numbers between
// than the last few kept; every text is printf's.
TEST_F(CoreTest, RepeatedNumbersKeepTheirOwnPrecision) {
    ASSERT_EQ(coreOpen(&a), 1);
    ASSERT_EQ(coreSetFP(&a, stdout), 0);  // the print function below never writes to it
    const double v = 12.3456789;
    const double values[] = {v,     std::nextafter(v, 100.0),
                             2.5,   -0.0,
                             0.0,   std::nan(""),
                             1e300, -1e-7,
                             0.1,   0.2,
                             0.3,   0.4,
                             0.5,   0.6,
                             0.7,   0.8,
                             0.9,   v};
    std::string expected;
    gPrinted.clear();
    for (const int precision : {6, 6, 2, 12, 6, 0}) {
        ASSERT_EQ(coreSetDtoSPrecision(&a, precision), 0);
        for (const double x : values)
            for (const int32_t channel : {31, 32}) {
                NcRecord rec;
                ncRecClear(&rec);
                ncRecPutI32(&rec, KVNC_TYPE, 3111);
                ncRecPutF64(&rec, KVNC_POINT_X, x);
                ncRecPutF64(&rec, KVNC_POINT_Y, -x);
                ASSERT_EQ(coreLayerOutput(channel, 0, &a, &rec, printToString, ncEmit), 0);
                expected += std::to_string(channel) + " 3111 x=" + printfNumber(x, precision) +
                            " y=" + printfNumber(-x, precision) + "\n";
            }
    }
    EXPECT_EQ(gPrinted, expected);
    coreSetFP(&a, nullptr);
}
