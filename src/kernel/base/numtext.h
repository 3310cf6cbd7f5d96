// Numbers as text with a settable count of decimals (shared by all output).
#pragma once

#include <cmath>
#include <cstddef>
#include <limits>

// Longest text formatFixed writes, terminator included: the integer part of the
// largest double (309 digits), sign, point and 8 decimals.
constexpr size_t kFormatFixedMax = 328;

void setNumberDecimals(int count);  // limited to 1..8 (0 gives 1)
int numberDecimals();

// Writes the value rounded to the current decimals, without trailing zeros
// ("1.5", "2", "-0.25", "0"); non-finite values give "0". The destination needs
// kFormatFixedMax bytes. Returns the text's length.
int formatFixed(char* destination, double value);

void numTextResetState();  // 6 decimals

// A number read for an integer setting: toward zero and limited to the type, so that an out-of-range
// value cannot wrap into an unrelated setting; NaN gives 0.
template <class T>
T truncToInt(double x) {
    if (std::isnan(x)) return 0;
    x = std::trunc(x);
    if (x <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
    if (x >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return static_cast<T>(x);
}
