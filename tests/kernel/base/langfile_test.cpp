#include "kernel/base/langfile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/testfiles.h"

namespace {

const char* kTwoLanguages =
    "default english\n"
    "language german\n"
    "start english\n"
    "  :Hello world\n"
    ":second line\n"
    "end english\n"
    "start german\n"
    "\t:Hallo Welt\n"
    "end german\n";

std::vector<std::string> sectionLines(const std::string& text, const char* language) {
    writeTestFile("lang.txt", text);
    int handle = langFileOpen("lang.txt", language);
    EXPECT_GE(handle, kLangFirstHandle);
    std::vector<std::string> lines;
    char buf[264];
    while (langFileNext(handle, buf, sizeof buf)) lines.push_back(buf);
    EXPECT_STREQ(buf, "");                                // the failed read empties the buffer
    EXPECT_EQ(langFileNext(handle, buf, sizeof buf), 0);  // exhausted stays exhausted
    langFileClose(handle);
    return lines;
}

using Lines = std::vector<std::string>;

}  // namespace

TEST(LangFile, ChoosesTheSectionOfTheLanguage) {
    langFileResetState();
    struct Case {
        const char* text;
        const char* language;
        Lines expected;
    } cases[] = {
        {kTwoLanguages, "german", {"Hallo Welt"}},
        {kTwoLanguages, "???", {"Hello world", "second line"}},
        {kTwoLanguages, "french", {"Hello world", "second line"}},
        // Without default or language lines the first section is taken.
        {"start any\n:one\nend any\nstart other\n:two\nend other\n", "x", {"one"}},
        // "end" without argument does not end the section.
        {"start a\n:one\nend\nend \n:two\nend a\n:after\n", "a", {"one", "two"}},
        // Comments behind ";" and CRLF line ends.
        {"default a ; the default\r\nstart a;x\r\n:one\r\n:two ; kept\r\nend a\r\n",
         "b",
         {"one", "two ; kept"}},
        // The last line is delivered without a line end too.
        {"start a\n:one\n:last", "a", {"one", "last"}},
        // A non-keyword word of keyword letters ends the search: no section.
        {"trade x\nstart a\n:one\n", "a", {}},
        // No matching start line.
        {"default z\nstart a\n:one\nend a\n", "a", {}},
        // Lines of other kinds inside the section are passed over.
        {"start a\nnote this\n:one\n  den x\n:two\nend a\n", "a", {"one", "two"}},
    };
    for (const auto& c : cases) EXPECT_EQ(sectionLines(c.text, c.language), c.expected) << c.text;
}

TEST(LangFile, LongLinesAreCutToTheBuffer) {
    writeTestFile("long.txt", "start a\n:" + std::string(1000, 'x') + "\n:next\n");
    int handle = langFileOpen("long.txt", "a");
    char buf[16];
    ASSERT_EQ(langFileNext(handle, buf, sizeof buf), 1);
    EXPECT_EQ(std::string(buf), std::string(15, 'x'));
    ASSERT_EQ(langFileNext(handle, buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "next");
    langFileClose(handle);
}

TEST(LangFile, AtMostFourFilesAreOpen) {
    langFileResetState();
    writeTestFile("four.txt", kTwoLanguages);
    int h[4];
    for (int i = 0; i < 4; ++i) {
        h[i] = langFileOpen("four.txt", "german");
        EXPECT_EQ(h[i], kLangFirstHandle + i);
    }
    EXPECT_EQ(langFileOpen("four.txt", "german"), kLangTooMany);
    langFileClose(h[2]);
    EXPECT_EQ(langFileOpen("four.txt", "german"), h[2]);
    char buf[64];
    EXPECT_EQ(langFileNext(h[2], buf, sizeof buf), 1);
    EXPECT_STREQ(buf, "Hallo Welt");
    langFileResetState();
    EXPECT_EQ(langFileOpen("missing.txt", "a"), kLangCannotOpen);
    EXPECT_EQ(langFileNext(122, buf, sizeof buf), 0);
    EXPECT_EQ(langFileNext(127, buf, sizeof buf), 0);
    langFileClose(127);  // ignored
}

TEST(LangFile, ReadLanguageFileTellsWhetherTheSectionHadLines) {
    writeTestFile("read.txt", kTwoLanguages);
    writeTestFile("empty-section.txt", "start a\nend a\n");
    EXPECT_EQ(readLanguageFile("read.txt", "german"), 1);
    EXPECT_EQ(readLanguageFile("empty-section.txt", "a"), 0);
    EXPECT_EQ(readLanguageFile("missing.txt", "a"), 0);
}
