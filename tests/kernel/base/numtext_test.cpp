#include "kernel/base/numtext.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "kernel/base/rng.h"

namespace {

std::string fixed(double value) {
    char buf[kFormatFixedMax];
    int n = formatFixed(buf, value);
    EXPECT_EQ(n, static_cast<int>(strlen(buf)));
    return buf;
}

}  // namespace

TEST(FormatFixed, RoundsToCurrentDecimalsWithoutTrailingZeros) {
    numTextResetState();
    struct Case {
        double value;
        const char* text;
    } cases[] = {
        {1.5, "1.5"},
        {2.0, "2"},
        {-0.25, "-0.25"},
        {-1e-7, "0"},
        {0.9999996, "1"},
        {-0.9999996, "-1"},
        {0.0, "0"},
        {-0.0, "0"},
        {123.456789, "123.456789"},
        {-2.4e-6, "-0.000002"},
        {1e-6, "0.000001"},
        {-7.0, "-7"},
        {12345678.1234564, "12345678.123456"},
    };
    for (const auto& c : cases) EXPECT_EQ(fixed(c.value), c.text) << c.value;
}

TEST(FormatFixed, DecimalsAreLimitedToOneToEight) {
    struct Case {
        int requested;
        int used;
        double value;
        const char* text;
    } cases[] = {
        {12, 8, 0.987654321, "0.98765432"}, {0, 1, 0.25, "0.3"}, {-3, 1, 1.04, "1"}, {3, 3, 2.0006, "2.001"},
        {8, 8, -0.000000004, "0"},
    };
    for (const auto& c : cases) {
        setNumberDecimals(c.requested);
        EXPECT_EQ(numberDecimals(), c.used);
        EXPECT_EQ(fixed(c.value), c.text) << c.requested;
    }
    numTextResetState();
}

TEST(FormatFixed, NonFiniteAndHugeValuesAreSafe) {
    numTextResetState();
    EXPECT_EQ(fixed(std::nan("")), "0");
    EXPECT_EQ(fixed(std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(fixed(-std::numeric_limits<double>::infinity()), "0");
    EXPECT_EQ(fixed(1e20), "100000000000000000000");
    EXPECT_EQ(fixed(-1e13), "-10000000000000");
    std::string big = fixed(-std::numeric_limits<double>::max());
    EXPECT_EQ(big.size(), 310u);
    EXPECT_EQ(big[0], '-');
    setNumberDecimals(8);
    EXPECT_EQ(fixed(std::numeric_limits<double>::max()).size(), 309u);
    numTextResetState();
}

// The rounded value as printf prints it, trimmed: an independent answer while the scaled value is an
// exact integer in a double.
TEST(FormatFixed, SeededValuesPrintAsPrintfPrintsTheirRounding) {
    rngResetState();
    for (int n = 0; n < 30000; ++n) {
        const int d = 1 + n % 8;
        const double scale = std::pow(10.0, d), v = (2 * rngUniform() - 1) * std::pow(10.0, rngBelow(18) - 9);
        setNumberDecimals(d);
        std::string e(kFormatFixedMax, '\0');
        e.resize(snprintf(e.data(), e.size(), "%.*f", d, std::floor(scale * v + 0.5) / scale + 0.0));
        e.erase(e.find_last_not_of('0') + 1);
        if (e.back() == '.') e.pop_back();
        ASSERT_EQ(fixed(v), e) << v << " at " << d;
    }
    numTextResetState();
}
