#include "surfaces/meshfiles/chrtab.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "surfaces/meshfiles/meshtest.h"

namespace {

double realOf(const ChrTab& t, const std::string& token, int* ok) {
    double v = -12345;
    *ok = chrTabToDouble(&t, token.data(), token.size(), &v);
    return v;
}

// Positional digits of value in base b over the table, most significant first.
std::string encode(uint64_t value, int base, const std::string& table) {
    std::string digits;
    do {
        digits.insert(digits.begin(), table[value % base]);
        value /= base;
    } while (value > 0);
    return digits;
}

}  // namespace

TEST(ChrTab, CodedRealsTable) {
    const struct {
        const char* table;
        const char* base;
        const char* scale;
        const char* token;
        int ok;
        double value;
    } cases[] = {
        {nullptr, nullptr, "1000", "+1500", 1, 1.5},
        {nullptr, nullptr, "1000", "-25", 1, -0.025},
        {nullptr, nullptr, "1000", "*", 1, 0.0},
        {nullptr, nullptr, "1000", "*7", 1, 0.0},
        {nullptr, nullptr, "1000", "x7", 1, 0.007},  // any sign but "-" is positive
        {nullptr, nullptr, "-2", "+8", 1, -4.0},
        {nullptr, nullptr, "1e-11", "+8", 1, 8.0},  // a vanishing scale is ignored
        {"01", nullptr, nullptr, "+101", 1, 5.0},   // base 10 beyond a 2-character table
        {nullptr, "16", nullptr, "-FF", 1, -255.0},
        {nullptr, "0", nullptr, "+10", 1, 72.0},
        {nullptr, "73", nullptr, "+10", 1, 72.0},
        {nullptr, "1", nullptr, "+10", 1, 1.0},  // digits are not checked against the base
        {"ab", "2", nullptr, "+ba", 1, 2.0},
        {nullptr, nullptr, nullptr, "+1,5", 0, 0},  // "," is not in the table
        {nullptr, nullptr, nullptr, "+\xe9", 0, 0},
        {nullptr, nullptr, nullptr, "+", 0, 0},
        {"01", nullptr, nullptr, "+12", 0, 0},
    };
    for (const auto& c : cases) {
        ChrTab t;
        chrTabInit(&t);
        ASSERT_EQ(chrTabSetParams(&t, c.table, c.base, c.scale), 1);
        int ok = 0;
        const double v = realOf(t, c.token, &ok);
        EXPECT_EQ(ok, c.ok) << c.token;
        if (c.ok) {
            EXPECT_DOUBLE_EQ(v, c.value) << c.token;
        }
    }
}

TEST(ChrTab, TablesOutsideTheCodeRangeAreRefused) {
    ChrTab t;
    chrTabInit(&t);
    EXPECT_EQ(t.length, 72);
    EXPECT_EQ(t.base, 10);
    const std::string tooLong(128, 'a');
    const std::string longest = [] {
        std::string s;
        for (int c = 1; c < 128; ++c) s += static_cast<char>(c);
        return s;
    }();
    const struct {
        std::string table;
        int ok;
    } cases[] = {{tooLong, 0}, {"01\x80", 0}, {"\xff", 0}, {"", 0}, {longest, 1}, {"aab", 1}};
    for (const auto& c : cases) {
        ChrTab before = t;
        EXPECT_EQ(chrTabSetParams(&t, c.table.c_str(), nullptr, nullptr), c.ok) << c.table.size();
        if (!c.ok) {
            EXPECT_EQ(std::memcmp(&before, &t, sizeof t), 0);
        }
        chrTabInit(&t);
    }
    ASSERT_EQ(chrTabSetParams(&t, "aab", nullptr, nullptr), 1);
    int32_t v = 0;
    ASSERT_EQ(chrTabToInt(&t, "ba", 2, &v), 1);  // base 3, "a" is 0 at its first place
    EXPECT_EQ(v, 6);
}

TEST(ChrTab, CodedIntegersTable) {
    ChrTab t;
    chrTabInit(&t);
    const struct {
        const char* token;
        int ok;
        int32_t value;
    } cases[] = {{"12", 1, 12},
                 {"0", 1, 0},
                 {"2147483647", 1, 2147483647},
                 {"2147483648", 0, 0},
                 {"99999999999999999999", 0, 0},
                 {"-1", 0, 0},
                 {"1a", 1, 46},
                 {"1,", 0, 0},
                 {"", 0, 0}};
    for (const auto& c : cases) {
        int32_t v = -7;
        EXPECT_EQ(chrTabToInt(&t, c.token, std::strlen(c.token), &v), c.ok) << c.token;
        if (c.ok) {
            EXPECT_EQ(v, c.value);
        }
    }
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
            const bool negative = rngStep(&rng) % 2 == 0;
            const std::string digits = encode(n, base, table);
            int32_t iv = 0;
            ASSERT_EQ(chrTabToInt(&t, digits.data(), digits.size(), &iv), 1);
            EXPECT_EQ(static_cast<uint64_t>(iv), n);
            const std::string token = (negative ? "-" : "+") + digits;
            int ok = 0;
            const double v = realOf(t, token, &ok);
            ASSERT_EQ(ok, 1);
            EXPECT_DOUBLE_EQ(v, (negative ? -1.0 : 1.0) * static_cast<double>(n) / scale);
        }
    }
}
