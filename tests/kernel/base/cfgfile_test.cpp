#include "kernel/base/cfgfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "kernel/base/kvx/kvlist.h"
#include "openfiles.h"
#include "kernel/testfiles.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// The list's pairs in file order (kvListAddPair puts new keys at the head).
Pairs pairsOf(const KvList* list) {
    Pairs out;
    for (; list; list = list->next) out.insert(out.begin(), {list->key, list->value});
    return out;
}

Pairs loadText(const std::string& text) {
    writeTestFile("params.pcf", text);
    KvList* list = kvListLoad(nullptr, "params.pcf", kKvFile);
    Pairs out = pairsOf(list);
    kvListFree(list);
    return out;
}

}  // namespace

TEST(ParamFile, ReadsThePairGrammar) {
    struct Case {
        const char* text;
        Pairs expected;
    } cases[] = {
        {"toolDiameter := 10\n", {{"toolDiameter", "10"}}},
        {"\"toolDiameter\" := \"10\"\n", {{"toolDiameter", "10"}}},
        {"a:=1\n", {{"a", "1"}}},
        {"a : = 1\nb := 2\n", {}},  // ":" and "=" must touch; a bad first pair ends the file
        {"path := abc >\ndef\n", {{"path", "abcdef"}}},
        {"path := abc>\ndef := 1\n", {{"path", "abc"}, {"def", "1"}}},
        {"a := 1 ; note\nb := 2\n", {{"a", "1"}, {"b", "2"}}},
        {"a := 1;note\nb := 2\n", {{"a", "1"}, {"b", "2"}}},
        {"a := \"x\\ty\"\n", {{"a", "x\ty"}}},
        {"a := \"say \\\"hi\\\"\"\n", {{"a", "say \"hi\""}}},
        {"a := \"p\\\\q\\n\"\n", {{"a", "p\\q\n"}}},
        {"; comment\n\n  b := 2\r\nc := 3", {{"b", "2"}, {"c", "3"}}},
        {"\"key with blanks\" := \"v w\"\n", {{"key with blanks", "v w"}}},
        {"a := 1\nb := 2\x1a"
         "c := 3\n",
         {{"a", "1"}, {"b", "2"}}},                  // byte 26 ends the file
        {"a := 1\nbroken\nb := 2\n", {{"a", "1"}}},  // a line without ":=" stops the reading
        {"a := 1\na := 2\n", {{"a", "2"}}},
        {"path := abc > ; more\n  \"def\"\n", {{"path", "abcdef"}}},
    };
    for (const auto& c : cases) EXPECT_EQ(loadText(c.text), c.expected) << c.text;
}

TEST(ParamFile, EmptyQuotedValueEndsItsPair) {
    // The next line's key must not glue onto "k", and the file goes on.
    EXPECT_EQ(loadText("k := \"\"\nnext := 1\nlast := 2\n"), (Pairs{{"next", "1"}, {"last", "2"}}));
    EXPECT_EQ(loadText("k := \"\"\r\nnext := 1\r\n"), (Pairs{{"next", "1"}}));
}

TEST(ParamFile, LoadOfMissingFileLeavesListUnchanged) {
    KvList* list = kvListSet(nullptr, "keep", "1", kKvBuiltIn);
    KvList* after = kvListLoad(list, "no-such-file.pcf", kKvFile);
    EXPECT_EQ(after, list);
    EXPECT_EQ(pairsOf(after), (Pairs{{"keep", "1"}}));
    kvListFree(after);
}

TEST(ParamFile, LoadGivesOriginTypeAndReplacesExistingKeys) {
    writeTestFile("typed.pcf", "a := new\nb := 2\n");
    KvList* list = kvListSet(nullptr, "a", "old", kKvDefaults);
    list = kvListLoad(list, "typed.pcf", kKvFile);
    uint16_t type = 0;
    char* a = kvListGet(list, "a", &type);
    EXPECT_STREQ(a, "new");
    EXPECT_EQ(type, kKvFile);
    free(a);
    kvListFree(list);
}

TEST(ParamFile, WriteReadsBackToTheSameList) {
    KvList* list = nullptr;
    list = kvListAppend(list, "plain", "10", kKvFile);
    list = kvListAppend(list, "quote", "say \"hi\"", kKvFile);
    list = kvListAppend(list, "slash", "c:\\dir\\file.pof", kKvFile);
    list = kvListAppend(list, "blanks key", "a  b ; > c", kKvFile);
    list = kvListAppend(list, "controls", "line1\nline2\ttab\r", kKvFile);
    EXPECT_EQ(kvListWrite("written.pcf", list), 5);
    std::string text = readTestFile("written.pcf");
    EXPECT_EQ(text.substr(0, 24), "\n\n   \"plain\" := \"10\"\n   ");

    KvList* back = kvListLoad(nullptr, "written.pcf", kKvFile);
    Pairs expected;
    for (const KvList* n = list; n; n = n->next) expected.push_back({n->key, n->value});
    EXPECT_EQ(pairsOf(back), expected);
    kvListFree(back);
    kvListFree(list);
}

TEST(ParamFile, FailedWriteKeepsTheOldFile) {
    writeTestFile("kept.pcf", "old := 1\n");
    KvList* list = kvListSet(nullptr, "new", "2", kKvFile);
    EXPECT_EQ(kvListWrite("kept.pcf", nullptr), -1);
    EXPECT_EQ(kvListWrite("no-such-dir/x.pcf", list), -2);
    // A folder where the file should be cannot be replaced: it stays, and no written copy is left.
    mkdir("folder.pcf", 0755);
    EXPECT_EQ(kvListWrite("folder.pcf", list), -2);
    struct stat st;
    EXPECT_TRUE(stat("folder.pcf", &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_NE(access("folder.pcf.tmp", F_OK), 0);
    rmdir("folder.pcf");
    EXPECT_EQ(readTestFile("kept.pcf"), "old := 1\n");
    EXPECT_EQ(kvListWrite("kept.pcf", list), 1);
    EXPECT_EQ(readTestFile("kept.pcf"), "\n\n   \"new\" := \"2\"\n");
    EXPECT_NE(access("kept.pcf.tmp", F_OK), 0);
    kvListFree(list);
}

// The writer replaces only the file the name stands for: a link stays a link and the file it names
// (made when missing) takes the text with its permissions; files it did not make are left as they were.
TEST(ParamFile, WriteReplacesTheFileALinkNamesAndNothingItDidNotMake) {
    KvList* list = kvListSet(nullptr, "new", "2", kKvFile);
    const std::string text = "\n\n   \"new\" := \"2\"\n";
    mkdir("real", 0755);
    struct Case {
        const char* name;     // handed to the writer
        const char* target;   // the file that must hold the text; null when the write fails
        const char* foreign;  // a file beside the target the writer did not make, or null
        mode_t mode;          // of the target before and after; 0 when it is new
    } cases[] = {
        {"plain.pcf", "plain.pcf", "plain.pcf.tmp", 0644},
        {"private.pcf", "private.pcf", nullptr, 0600},
        {"linked.pcf", "real/linked.pcf", "real/linked.pcf.tmp", 0640},
        {"dangling.pcf", "real/new.pcf", nullptr, 0},
        {"loop.pcf", nullptr, nullptr, 0},
    };
    writeTestFile("plain.pcf", "old\n");
    writeTestFile("private.pcf", "old\n");
    writeTestFile("real/linked.pcf", "old\n");
    ASSERT_EQ(symlink("real/linked.pcf", "linked.pcf"), 0);
    ASSERT_EQ(symlink("real/new.pcf", "dangling.pcf"), 0);
    ASSERT_EQ(symlink("loop2.pcf", "loop.pcf"), 0);
    ASSERT_EQ(symlink("loop.pcf", "loop2.pcf"), 0);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.mode) chmod(c.target, c.mode);
        if (c.foreign) writeTestFile(c.foreign, "not the writer's\n");
        EXPECT_EQ(kvListWrite(c.name, list), c.target ? 1 : -2);
        struct stat st;
        ASSERT_EQ(lstat(c.name, &st), 0);
        EXPECT_EQ(S_ISLNK(st.st_mode), !c.target || std::string(c.name) != c.target);
        if (c.target) {
            EXPECT_EQ(readTestFile(c.target), text);
            ASSERT_EQ(stat(c.target, &st), 0);
            if (c.mode) {
                EXPECT_EQ(st.st_mode & 07777, c.mode);
            }
        }
        if (c.foreign) {
            EXPECT_EQ(readTestFile(c.foreign), "not the writer's\n");
        }
    }
    for (const char* folder : {".", "real"})
        if (DIR* d = opendir(folder)) {
            while (dirent* e = readdir(d)) {
                const std::string n = e->d_name;
                EXPECT_TRUE(n.find(".tmp") == std::string::npos || n == "plain.pcf.tmp" ||
                            n == "linked.pcf.tmp")
                    << "left behind: " << folder << "/" << n;
            }
            closedir(d);
        }
    kvListFree(list);
}

TEST(ParamFile, TildeStandsForHomeWithoutLengthLimit) {
    // A home folder far longer than any fixed name buffer.
    std::string home = "home";
    mkdir(home.c_str(), 0755);
    while (home.size() < 700) {
        home += "/" + std::string(60, 'h');
        mkdir(home.c_str(), 0755);
    }
    writeTestFile(home + "/p.pcf", "a := 1\n");
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    const char* oldHome = getenv("HOME");
    std::string saved = oldHome ? oldHome : "";
    setenv("HOME", (std::string(cwd) + "/" + home).c_str(), 1);
    KvList* list = kvListLoad(nullptr, "~/p.pcf", kKvFile);
    EXPECT_EQ(pairsOf(list), (Pairs{{"a", "1"}}));
    kvListFree(list);
    unsetenv("HOME");
    EXPECT_EQ(cfgFileOpen("~/p.pcf"), nullptr);
    if (oldHome) setenv("HOME", saved.c_str(), 1);
}

TEST(ParamFile, CloseClosesEverythingButStandardInput) {
    const long before = openFileCount();
    FILE* dev = cfgFileOpen("/dev/null");  // not a regular file
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(openFileCount(), before + 1);
    cfgFileClose(dev);
    EXPECT_EQ(openFileCount(), before);

    bool stdinOpen = fcntl(0, F_GETFD) != -1;
    FILE* in = cfgFileOpen("| stdin");
    EXPECT_EQ(in, stdin);
    cfgFileClose(in);
    EXPECT_EQ(fcntl(0, F_GETFD) != -1, stdinOpen);
    cfgFileClose(nullptr);
}

TEST(ParamFile, ReadPairOnNullFileIsNothing) {
    KvPair pair = {nullptr, nullptr};
    EXPECT_EQ(cfgFileReadPair(nullptr, &pair), 0);
}

// Every byte in a key and in a value either comes back from the file as it was
// written or is refused with -2, leaving the previous file as it was.
TEST(ParamFile, WriteReadsBackEveryByteOrRefuses) {
    for (int b = 1; b < 256; ++b) {
        const char c = static_cast<char>(b);
        const std::string key = std::string("k") + c + "x";
        const std::string value = std::string("v") + c + "w";
        const bool keyFits = b != 26 && b != '\n' && b != '\r';
        const bool valueFits = b != 26;
        for (int which = 0; which < 2; ++which) {
            writeTestFile("bytes.pcf", "old := 1\n");
            // The odd byte in the key, then in the value, beside a plain pair.
            KvList* list = kvListAppend(nullptr, "plain", "1", kKvFile);
            list = which == 0 ? kvListAppend(list, key.c_str(), "v", kKvFile)
                              : kvListAppend(list, "k", value.c_str(), kKvFile);
            const bool fits = which == 0 ? keyFits : valueFits;
            EXPECT_EQ(kvListWrite("bytes.pcf", list), fits ? 2 : -2) << b << " " << which;
            if (fits) {
                Pairs expected{{"plain", "1"},
                               which == 0 ? std::make_pair(key, std::string("v"))
                                          : std::make_pair(std::string("k"), value)};
                KvList* back = kvListLoad(nullptr, "bytes.pcf", kKvFile);
                EXPECT_EQ(pairsOf(back), expected)
                    << "byte " << b << (which == 0 ? " in the key" : " in the value");
                kvListFree(back);
            } else {
                EXPECT_EQ(readTestFile("bytes.pcf"), "old := 1\n") << b;
            }
            kvListFree(list);
        }
    }
}

TEST(ParamFile, KeysWithAQuoteAreWrittenBareWhenTheyCanBeRead) {
    struct Case {
        const char* key;
        bool fits;
    } cases[] = {
        {"a\"", true},    {"a\"b\"", true}, {"a\\\"", true},  {"a\";b", true},
        {"\"a", false},   {";a\"", false},  {"a\" b", false}, {"a\"\tb", false},
        {"a\":b", false}, {"x y", true},    {"c:\\d", true},  {"a\\", true},
    };
    for (const Case& c : cases) {
        KvList* list = kvListAppend(nullptr, c.key, "1", kKvFile);
        list = kvListAppend(list, "after", "2", kKvFile);
        EXPECT_EQ(kvListWrite("quote.pcf", list), c.fits ? 2 : -2) << c.key;
        if (c.fits) {
            KvList* back = kvListLoad(nullptr, "quote.pcf", kKvFile);
            EXPECT_EQ(pairsOf(back), (Pairs{{c.key, "1"}, {"after", "2"}})) << c.key;
            kvListFree(back);
        }
        kvListFree(list);
    }
}

TEST(ParamFile, ZeroBytesArePassedOver) {
    const char text[] = "a := \"x\0y\"\nb\0 := 2\n";
    EXPECT_EQ(loadText(std::string(text, sizeof text - 1)), (Pairs{{"a", "xy"}, {"b", "2"}}));
}

// A key whose value ends before it begins must not join the next line's key.
TEST(ParamFile, AKeyWithoutValueIsDroppedWithItsLine) {
    struct Case {
        const char* text;
        Pairs expected;
    } cases[] = {
        {"a := >\nb := 2\n", {{"b", "2"}}},
        {"a := >;x\r\nb := 2\n", {{"b", "2"}}},
        {"\"k ;\" :=>\nq\" := 1\n", {{"q\"", "1"}}},
        {"a := \"\"\nb := 2\n", {{"b", "2"}}},
    };
    for (const Case& c : cases) EXPECT_EQ(loadText(c.text), c.expected) << c.text;
}
