#include "kernel/base/kvx/wordpair.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "kernel/testfiles.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs readAll(const std::string& text) {
    writeTestFile("words.cfg", text);
    FILE* f = fopen("words.cfg", "rb");
    Pairs out;
    const char* key;
    const char* value;
    while (f && readWordPair(f, &key, &value)) out.push_back({key, value});
    if (f) fclose(f);
    return out;
}

}  // namespace

TEST(WordPair, ReadsWordsAndValues) {
    struct Case {
        const char* text;
        Pairs expected;
    } cases[] = {
        {"*BLADE_COUNT   7\n", {{"*BLADE_COUNT", "7"}}},
        {"w  a  b\n", {{"w", "a  b"}}},
        {"# comment\n*A 1\n#another\n*B 2", {{"*A", "1"}, {"*B", "2"}}},
        {"*APT x.pof #c\n*NEXT 1\n*C 3\n", {{"*APT", "x.pof *NEXT 1"}, {"*C", "3"}}},
        {"  *LEAD\t  val  \r\n*ALONE\r\n\r\n", {{"*LEAD", "val"}, {"*ALONE", ""}}},
        {"*A 1\n\x1a*B 2\n", {{"*A", "1"}}},  // byte 26 ends the file
        {"", {}},
        {"\n\n# only comments\n", {}},
    };
    for (const auto& c : cases) EXPECT_EQ(readAll(c.text), c.expected) << c.text;
}

TEST(WordPair, LongKeysAndValuesAreKeptWhole) {
    std::string key = "*" + std::string(400, 'K');
    std::string value = std::string(300, 'v') + " " + std::string(400, 'w');
    EXPECT_EQ(readAll(key + " " + value + "\n"), (Pairs{{key, value}}));
}

TEST(WordPair, ReadPairsAppendsWithTypeAndKeepsDuplicates) {
    writeTestFile("append.cfg", "*A 1\n*A 2\n*B\n");
    KvList* list = kvListAppend(nullptr, "first", "x", kKvBuiltIn);
    list = readWordPairs(list, "append.cfg", kKvFile);
    std::vector<std::string> seen;
    for (const KvList* n = list; n; n = n->next) seen.push_back(std::string(n->key) + "=" + n->value);
    EXPECT_EQ(seen, (std::vector<std::string>{"first=x", "*A=1", "*A=2", "*B="}));
    EXPECT_EQ(list->next->type, kKvFile);
    EXPECT_EQ(readWordPairs(list, "missing.cfg", kKvFile), list);
    kvListFree(list);
    EXPECT_EQ(readWordPair(nullptr, nullptr, nullptr), 0);
    wordPairResetState();
}

TEST(WordPair, ZeroBytesArePassedOver) {
    const char text[] = "*K a \0b\n*N\0EXT v\n";
    EXPECT_EQ(readAll(std::string(text, sizeof text - 1)), (Pairs{{"*K", "a b"}, {"*NEXT", "v"}}));
}
