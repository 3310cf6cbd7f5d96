#include "kernel/base/text.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(ParseNumbers3, ReadsUpToThreeNumbers) {
    struct Case {
        const char* text;
        int count;
        double a, b, c;
    } cases[] = {
        {"x= 1.5, -2e-3 ,7", 3, 1.5, -0.002, 7},
        {"abc", 0, 0, 0, 0},
        {"10 20", 2, 10, 20, 0},
        {"1,2,3,4", 3, 1, 2, 3},
        {"+4.5e1/.5", 2, 45, 0.5, 0},
        {"", 0, 0, 0, 0},
        {"1-2 3", 2, 1, 3, 0},  // a run of number characters is one number
    };
    for (const auto& c : cases) {
        double v[3] = {0, 0, 0};
        EXPECT_EQ(parseNumbers3(c.text, &v[0], &v[1], &v[2]), c.count) << c.text;
        EXPECT_DOUBLE_EQ(v[0], c.a) << c.text;
        EXPECT_DOUBLE_EQ(v[1], c.b) << c.text;
        EXPECT_DOUBLE_EQ(v[2], c.c) << c.text;
    }
    EXPECT_EQ(parseNumbers3(nullptr, nullptr, nullptr, nullptr), 0);
}

TEST(ParseNumbers3, OverlongNumberTextIsCut) {
    std::string text = "1" + std::string(200, '0') + " 5";
    double a = 0, b = 0;
    EXPECT_EQ(parseNumbers3(text.c_str(), &a, &b, nullptr), 2);
    EXPECT_DOUBLE_EQ(a, 1e78);  // the first 79 characters
    EXPECT_DOUBLE_EQ(b, 5);
}

TEST(EscapeName, EscapesBackslashAndUnsafeCharacters) {
    struct Case {
        const char* source;
        const char* escaped;
    } cases[] = {
        {"a b", "a b"},
        {"a\\b", "a\\\\b"},
        {"\xc8", "\\200"},
        {"tab\there", "tab\\009here"},
        {"@$%&#~|-+*/=<>!?^,;.:_'{}\"", "@$%&#~|-+*/=<>!?^,;.:_'{}\""},
        {"(x)[y]", "\\040x\\041\\091y\\093"},
        {"", ""},
    };
    for (const auto& c : cases) {
        char buf[64];
        EXPECT_EQ(escapeName(buf, sizeof buf, c.source), strlen(c.escaped)) << c.source;
        EXPECT_STREQ(buf, c.escaped);
    }
}

TEST(EscapeName, BoundedDestinationNeverSplitsAnEscape) {
    char buf[8];
    memset(buf, 'Z', sizeof buf);
    // "ab\200c" needs 7 characters; the escape does not fit behind "ab" in 5.
    EXPECT_EQ(escapeName(buf, 5,
                         "ab\xc8"
                         "c"),
              7u);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(buf[5], 'Z');
    EXPECT_EQ(escapeName(buf, 7,
                         "ab\xc8"
                         "c"),
              7u);
    EXPECT_STREQ(buf, "ab\\200");
}

TEST(StrReplaceChar, ReplacesInPlaceOrIntoDestination) {
    char text[] = "a/b/c";
    EXPECT_EQ(strReplaceChar(text, text, '/', '\\'), 2);
    EXPECT_STREQ(text, "a\\b\\c");
    EXPECT_EQ(strReplaceChar(text, text, 'a', 'a'), 0);
    char out[8] = "xxxxxxx";
    EXPECT_EQ(strReplaceChar(out, "a.b", '.', '_'), 1);
    EXPECT_STREQ(out, "a_b");
    EXPECT_EQ(strReplaceChar(out, "abc", 'z', 'y'), 0);
    EXPECT_STREQ(out, "abc");
}
