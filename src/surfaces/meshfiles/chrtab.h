// The chrTab number coding of exchange-file streams: numbers written positionally in the base
// of a digit table, a character's digit value being its position in the table.
#pragma once

#include <cstddef>
#include <cstdint>

enum : int {
    kChrTabMaxLength = 127,
};

// The default table: 72 characters.
constexpr char kChrTabDefault[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz!#$%&?@_|~";

struct ChrTab {
    char table[kChrTabMaxLength + 1];
    int32_t length;
    int16_t digit[128];  // a character's value, -1 when it is not in the table
    int32_t base;        // 1 .. length
    double scale;        // divisor of coded reals
};

void chrTabInit(ChrTab* tab);  // default table, base 10, scale 1.0
// Takes a table text (null: the default), a base text (null: 10) and a scale text (null: 1.0).
// A base outside 1 .. table length becomes the table length; a scale below 1e-10 in magnitude is
// ignored. 1, or 0 with the coding unchanged for a table longer than 127 characters or holding a
// character outside 1 .. 127 (the first occurrence of a repeated character counts).
int chrTabSetParams(ChrTab* tab, const char* table, const char* base, const char* scale);
// A coded real of n characters: a sign character ("-" negative, any other positive) and at least
// one digit; a token starting with "*" is 0. 1, or 0 for a character not in the table or no digit.
int chrTabToDouble(const ChrTab* tab, const char* token, size_t n, double* out);
// A coded non-negative integer (no sign); 1, or 0 for a foreign character, no digit, or a value
// above INT32_MAX.
int chrTabToInt(const ChrTab* tab, const char* token, size_t n, int32_t* out);
