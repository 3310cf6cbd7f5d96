#include "surfaces/meshfiles/chrtab.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "surfaces/meshfiles/meshtest.h"

TEST(ChrTab, CodedNumbersTable) {
    const struct {
        const char *table, *base, *scale, *token;
        int ok;
        double real;  // the token as a coded real; as a coded integer when it has no sign
    } cases[] = {
        {nullptr, nullptr, "1000", "+1500", 1, 1.5}, {nullptr, nullptr, "1000", "-25", 1, -0.025},
        {nullptr, nullptr, "1000", "*", 1, 0.0},     {nullptr, nullptr, "1000", "x7", 1, 0.007},
        {nullptr, nullptr, "1e-11", "+8", 1, 8.0},   {"01", nullptr, nullptr, "+101", 1, 5.0},
        {nullptr, nullptr, "5e-10", "+1", 1, 2e9},   {nullptr, nullptr, "-2", "+8", 1, -4.0},
        {nullptr, "16", nullptr, "-FF", 1, -255.0},  {nullptr, "73", nullptr, "+10", 1, 72.0},
        {nullptr, nullptr, nullptr, "+1,5", 0, 0},   {nullptr, nullptr, nullptr, "+\xe9", 0, 0},
        {nullptr, nullptr, nullptr, "+", 0, 0},      {"01", nullptr, nullptr, "+12", 0, 0},
    };
    for (const auto& c : cases) {
        ChrTab t;
        ASSERT_EQ(chrTabSetParams(&t, c.table, c.base, c.scale), 1);
        double v = -1;
        EXPECT_EQ(chrTabToDouble(&t, c.token, std::strlen(c.token), &v), c.ok) << c.token;
        EXPECT_DOUBLE_EQ(v, c.ok ? c.real : -1.0) << c.token;
    }
    // A table takes 7-bit characters only; it is kept with its end, whatever the record held before.
    ChrTab t;
    for (const size_t n : {size_t(kChrTabMaxLength), size_t(kChrTabMaxLength) + 1}) {
        const std::string longest(n, 'z');  // the longest a record holds, and one more
        EXPECT_EQ(chrTabSetParams(&t, longest.c_str(), nullptr, nullptr), n == kChrTabMaxLength ? 1 : 0) << n;
    }
    EXPECT_EQ(t.length, kChrTabMaxLength);
    std::memset(&t, 'x', sizeof t);
    ASSERT_EQ(chrTabSetParams(&t, "0ab", nullptr, nullptr), 1);
    EXPECT_STREQ(t.table, "0ab");
    EXPECT_EQ(t.length, 3);
    EXPECT_EQ(t.base, 3);  // a base above the table's length is the length
    for (const auto& [b, want] :
         {std::pair{"1", 1}, {"0", 3}, {"3", 3}, {"4", 3}})  // 1 up to the length kept
        EXPECT_TRUE(chrTabSetParams(&t, "0ab", b, nullptr) == 1 && t.base == want) << b;
    EXPECT_EQ(chrTabSetParams(&t, "01\x80", nullptr, nullptr), 0);
    EXPECT_EQ(chrTabSetParams(&t, "01\x7f", nullptr, nullptr), 1);  // the last character of 7 bits
    EXPECT_EQ(chrTabSetParams(&t, "", nullptr, nullptr), 0);
    EXPECT_EQ(chrTabSetParams(nullptr, "01", nullptr, nullptr), 0);
    chrTabInit(&t);
    const struct {
        const char* token;
        int ok;
        int32_t value;
    } ints[] = {{"12", 1, 12}, {"2147483647", 1, 2147483647}, {"2147483648", 0, 0}, {"1,", 0, 0}, {"", 0, 0}};
    for (const auto& c : ints) {
        int32_t v = -7;
        EXPECT_EQ(chrTabToInt(&t, c.token, std::strlen(c.token), &v), c.ok) << c.token;
        EXPECT_EQ(v, c.ok ? c.value : -7);
    }
    // A zero byte inside a token is no digit, whatever the table (its end is no entry of it).
    int32_t iv = -7;
    double dv = -7;
    EXPECT_EQ(chrTabToInt(&t, "1\0", 2, &iv) + chrTabToDouble(&t, "+1\0", 3, &dv), 0);
    EXPECT_EQ(iv + dv, -14);
}

TEST(ChrTab, SeededRoundTripAgainstAnIndependentEncoder) {
    for (uint32_t seed = 1; seed <= 40; ++seed) {
        Rng rng{seed};
        std::string table = kChrTabDefault;
        for (size_t i = table.size() - 1; i > 0; --i) std::swap(table[i], table[rngStep(&rng) % (i + 1)]);
        table.resize(2 + rngStep(&rng) % 70);
        const int base = 2 + rngStep(&rng) % (static_cast<int>(table.size()) - 1);
        const double scale = 1 + rngStep(&rng) % 5000;
        ChrTab t;
        ASSERT_EQ(
            chrTabSetParams(&t, table.c_str(), std::to_string(base).c_str(), std::to_string(scale).c_str()),
            1);
        for (int k = 0; k < 50; ++k) {
            const uint64_t n = (static_cast<uint64_t>(rngStep(&rng)) << 15 | rngStep(&rng)) % 2000000000u;
            std::string digits;
            for (uint64_t r = n; digits.empty() || r > 0; r /= base)
                digits.insert(digits.begin(), table[r % base]);
            int32_t iv = 0;
            ASSERT_EQ(chrTabToInt(&t, digits.data(), digits.size(), &iv), 1);
            EXPECT_EQ(static_cast<uint64_t>(iv), n);
            const std::string token = "-" + digits;
            double v = 0;
            ASSERT_EQ(chrTabToDouble(&t, token.data(), token.size(), &v), 1);
            EXPECT_DOUBLE_EQ(v, -static_cast<double>(n) / scale);
        }
    }
}
