#include "KVWOG5/wogerr.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "KVWOG5/lists.h"
#include "workfolder.h"

namespace {

const char kSwitchFile[] = "wogdebug_test.info";
const char kLogFile[] = ".//wogerrno.txt";

std::string readFile(const char* path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool exists(const char* path) {
    std::ifstream in(path);
    return in.good();
}

// Fresh library state with the switch file holding text (no file for null).
void freshState(const char* switchText) {
    setenv("KV_WOGDEBUG_INFO", kSwitchFile, 1);
    std::remove(kSwitchFile);
    std::remove(kLogFile);
    if (switchText) std::ofstream(kSwitchFile, std::ios::binary) << switchText;
    wogResetState();
}

class WogErr : public ::testing::Test {
  protected:
    void SetUp() override { freshState(nullptr); }
    void TearDown() override {
        std::remove(kSwitchFile);
        std::remove(kLogFile);
        unsetenv("KV_WOGDEBUG_INFO");
        wogResetState();
    }
};

TEST_F(WogErr, RandomDrawsFromLoadStateAndSeedModuloTheModulus) {
    EXPECT_EQ(wogRandNext(), 61914.0 / 259200);
    EXPECT_EQ(wogRandNext(), 246647.0 / 259200);
    EXPECT_EQ(wogRandNext(), 97000.0 / 259200);
    wogRandSeed(259201);
    EXPECT_EQ(wogRandNext(), 61914.0 / 259200);
    wogRandSeed(0);
    EXPECT_EQ(wogRandNext(), 54773.0 / 259200);
    wogRandSeed(23295);
    const double viaRemainder = wogRandNext();
    wogRandSeed(4294967295u);  // = 16570 * 259200 + 23295
    EXPECT_EQ(wogRandNext(), viaRemainder);
}

// Every draw of concurrent callers is one step of the single sequence: none lost or repeated.
TEST_F(WogErr, ConcurrentDrawsFollowOneSequence) {
    const int kThreads = 4, kDraws = 2000;
    std::vector<double> expected;
    for (int i = 0; i < kThreads * kDraws; i++) expected.push_back(wogRandNext());
    wogResetState();
    std::vector<std::vector<double>> got(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++)
        threads.emplace_back([&got, t] {
            for (int i = 0; i < kDraws; i++) got[t].push_back(wogRandNext());
        });
    for (auto& th : threads) th.join();
    std::vector<double> all;
    for (auto& g : got) all.insert(all.end(), g.begin(), g.end());
    std::sort(all.begin(), all.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(all, expected);
}

TEST_F(WogErr, WarningKeepsTheFailureCodeResetEmptiesAndLongPathsAreCut) {
    const WogErrorState* s = wogErrorState();
    EXPECT_EQ(s->code, 0);
    EXPECT_STREQ(s->file, "");
    wogError(-41, "kont2d", 4735);
    wogWarning("rollback");
    EXPECT_EQ(s->code, -41);
    EXPECT_EQ(s->line, 0);
    EXPECT_STREQ(s->file, "rollback");
    std::string longPath(400, 'p');
    wogError(-3, longPath.c_str(), 77);
    EXPECT_EQ(std::string(s->file), longPath.substr(0, 255));
    EXPECT_EQ(s->line, 77);
    EXPECT_EQ(wogErrorReset(), 0);
    EXPECT_EQ(s->code, 0);
    EXPECT_EQ(s->line, 0);
    EXPECT_STREQ(s->file, "EMPTY");
}

TEST_F(WogErr, PrintWritesTheRecordLine) {
    wogError(-20, "offset2d", 123);
    FILE* f = std::tmpfile();
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(wogErrorPrint(f), 0);
    std::rewind(f);
    char buf[128] = {};
    ASSERT_NE(std::fgets(buf, sizeof buf, f), nullptr);
    std::fclose(f);
    EXPECT_STREQ(buf, "code = -20, line = 123, file = offset2d\n");
    EXPECT_EQ(wogErrorPrint(nullptr), 0);
}

TEST_F(WogErr, DebugSwitchLines) {
    const struct {
        const char* text;
        int expected;
    } cases[] = {
        {"DEBUG=0\n", 0},  {"DEBUG 1\n", 1},        {"1 DEBUG\n", 1}, {"DEBUG=10\n", 1},
        {"DEBUG\n1\n", 0}, {"x\r\nDEBUG=1\r\n", 1}, {"debug 1\n", 0}, {"", 0},
    };
    for (const auto& c : cases) {
        freshState(c.text);
        EXPECT_EQ(wogDebugEnabled(), c.expected) << c.text;
    }
    freshState(nullptr);
    EXPECT_EQ(wogDebugEnabled(), 0);
}

TEST_F(WogErr, SwitchFileIsReadOnlyOnce) {
    EXPECT_EQ(wogDebugEnabled(), 0);
    std::ofstream(kSwitchFile) << "DEBUG 1\n";
    EXPECT_EQ(wogDebugEnabled(), 0);
    freshState("DEBUG 1\n");
    EXPECT_EQ(wogDebugEnabled(), 1);
    std::remove(kSwitchFile);
    EXPECT_EQ(wogDebugEnabled(), 1);
}

TEST_F(WogErr, DebugModeLogsNegativeCodesOnly) {
    wogError(-5, "src/KVWOG5/x.cpp", 10);
    EXPECT_FALSE(exists(kLogFile));

    freshState("DEBUG=1\n");
    wogError(-5, "src/KVWOG5/x.cpp", 10);
    wogError(1, "LISTS", 5301);
    wogError(0, "GEOCALC", 1857);
    wogWarning("neuer Versuch ");
    EXPECT_EQ(readFile(kLogFile),
              "code = -5, line = 10, file = src/KVWOG5/x.cpp\n"
              "code = -1, line = 0, file = neuer Versuch \n");
}

TEST_F(WogErr, TempNamesAreFreeAndBounded) {
    char name[64];
    EXPECT_EQ(makeUniqueTempName(name, sizeof name, "_tmp.prf"), 1);
    std::string n = name;
    ASSERT_GT(n.size(), 3 + 8u);
    EXPECT_EQ(n.substr(0, 3), ".//");
    EXPECT_EQ(n.substr(n.size() - 8), "_tmp.prf");
    const std::string hex = n.substr(3, n.size() - 11);
    EXPECT_FALSE(hex.empty());
    EXPECT_EQ(hex.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(readFile(name), "");  // taken: made empty
    std::remove(name);

    EXPECT_EQ(makeUniqueTempName(name, sizeof name, nullptr), 1);
    EXPECT_EQ(std::string(name).find('_'), std::string::npos);
    std::remove(name);

    char small[6] = "xxxxx";
    EXPECT_EQ(makeUniqueTempName(small, sizeof small, "_tmp.prf"), -1);
    EXPECT_STREQ(small, "");
    EXPECT_EQ(makeUniqueTempName(nullptr, 10, "_tmp.prf"), -1);
}

// The search neither reseeds nor draws the host's rand(), repeats from the library's own seed, and
// passes over a file and a dangling link at the names it would take, touching neither.
TEST_F(WogErr, TempNamesLeaveTheHostsGeneratorAndExistingFilesAlone) {
    std::srand(1234);
    const int hostsDraw = std::rand();
    std::srand(1234);
    char first[64], second[64], name[64];
    ASSERT_EQ(makeUniqueTempName(first, sizeof first, ".tmp"), 1);
    ASSERT_EQ(makeUniqueTempName(second, sizeof second, ".tmp"), 1);
    EXPECT_EQ(std::rand(), hostsDraw);
    EXPECT_STRNE(first, second);
    std::remove(first);
    std::remove(second);

    wogResetState();
    std::ofstream(first, std::ios::binary) << "the host's";
    ASSERT_EQ(symlink("never-made.txt", second), 0);
    ASSERT_EQ(makeUniqueTempName(name, sizeof name, ".tmp"), 1);
    EXPECT_STRNE(name, first);
    EXPECT_STRNE(name, second);
    EXPECT_EQ(readFile(first), "the host's");
    EXPECT_FALSE(exists("never-made.txt"));
    for (const char* made : {first, second, name}) std::remove(made);
}

StartCandList* candidates(int n) {
    StartCandList* l = startCandListCreate(n);
    for (int i = 0; i < n; i++) {
        Seg2D s{double(i), double(-i), double(i) + 0.5, 0};
        startCandListAdd(l, &s);
    }
    return l;
}

TEST_F(WogErr, RandomStartExchangesWithAnotherCandidate) {
    for (int32_t seed : {1, 2, 17, 4096, 259199}) {
        StartCandList* two = candidates(2);
        ASSERT_NE(two, nullptr);
        two->cursor = 1;
        two->reservedValue = 3.5;
        EXPECT_EQ(pickRandomStart(two, seed), 1);
        EXPECT_EQ(two->data[0].x1, 1);
        EXPECT_EQ(two->data[0].y1, -1);
        EXPECT_EQ(two->data[1].x1, 0);
        EXPECT_EQ(two->cursor, 0);
        EXPECT_EQ(two->reservedValue, 0.0);
        startCandListFree(two);

        StartCandList* a = candidates(9);
        ASSERT_NE(a, nullptr);
        StartCandList* b = candidates(9);
        ASSERT_NE(b, nullptr);
        pickRandomStart(a, seed);
        wogRandNext();  // the pick depends on the seed only, not on earlier draws
        pickRandomStart(b, seed);
        int k = static_cast<int>(a->data[0].x1);
        EXPECT_GE(k, 1);
        EXPECT_LE(k, 8);
        for (int i = 0; i < 9; i++) {
            EXPECT_EQ(a->data[i].x1, b->data[i].x1);
            const int at = i == 0 ? k : (i == k ? 0 : i);
            EXPECT_EQ(a->data[i].x1, at);
            EXPECT_EQ(a->data[i].x2, at + 0.5);
        }
        startCandListFree(a);
        startCandListFree(b);
    }
    StartCandList* one = candidates(1);
    EXPECT_EQ(pickRandomStart(one, 5), 0);
    EXPECT_EQ(one->data[0].x1, 0);
    startCandListFree(one);
    EXPECT_EQ(pickRandomStart(nullptr, 5), 0);
}

}  // namespace
