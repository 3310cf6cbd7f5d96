#include "geometry/textscan.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "workfolder.h"

namespace {

void writeFile(const char* name, const std::string& text) {
    std::FILE* f = std::fopen(name, "wb");
    ASSERT_NE(f, nullptr);
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
}

}  // namespace

TEST(TextScan, CountLinesByPieces) {
    const struct {
        std::string text;
        int lines;
    } cases[] = {
        {std::string(300, 'x') + "\n", 3},  // a long line counts once per 128-character piece
        {"a\nb\nc\n", 3},
        {"a\r\nb\r\nc", 3},
        {"", 0},
    };
    for (const auto& c : cases) {
        writeFile("count_lines.txt", c.text);
        EXPECT_EQ(fileCountLines("count_lines.txt"), c.lines);
    }
    std::remove("count_lines.txt");
}

TEST(TextScan, CountLinesRejectsBadNames) {
    EXPECT_EQ(fileCountLines(""), -1);
    EXPECT_EQ(fileCountLines(" count_lines.txt"), -1);
    EXPECT_EQ(fileCountLines("\tx"), -1);
    EXPECT_EQ(fileCountLines(nullptr), -1);
    EXPECT_EQ(fileCountLines("no_such_file_here.txt"), -1);
}

TEST(TextScan, NumberAfterLetter) {
    const struct {
        char letter;
        const char* line;
        int result;
        double value;
    } cases[] = {
        {'X', "X12.5 Y-3", 1, 12.5}, {'Y', "X12.5 Y-3", 1, -3.0}, {'Z', "X1 Z 7e2", 1, 700.0},
        {'X', "XA1", 0, 0.0},        {'Q', "X1", 0, 0.0},         {'X', "AX", 0, 0.0},
        {'\0', "X1", 0, 0.0},
    };
    for (const auto& c : cases) {
        double v = 0.0;
        EXPECT_EQ(parseNumAfter(c.letter, c.line, &v), c.result) << c.line << " " << c.letter;
        EXPECT_EQ(v, c.value) << c.line;
    }
}
