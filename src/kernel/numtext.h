// Numbers as text with a settable count of decimals (shared by all output).
#pragma once

#include <cstddef>

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
