// Keyword values: the text of a keyword-value pair converted as its table row asks, shared by
// every cycle's keyword table.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t kCycleTextMax = 256;    // characters of a text field, terminator not counted

// Field kinds of the table's rows.
enum : int8_t {
    kStoreInt16 = 0,   // number truncated toward zero
    kStoreDouble = 1,  // number
    kStoreText = 2,    // text of up to kCycleTextMax characters
    kStoreInt32 = 3,   // number truncated toward zero
    kStoreTriple = 4,  // three numbers separated by blanks
};

// How a value text is converted before it is stored.
enum : int8_t {
    kParseNumber = 0,   // a number; a text field takes the text unchanged
    kParseRawText = 1,  // the text unchanged
    kParseText = 2,     // the text without its leading blanks
    kParseTriple = 15,  // three numbers
};

// One converted value: the text as the field takes it, and the numbers read.
struct CycleKeywordValue {
    char text[kCycleTextMax + 1];
    double number[3];
    int32_t cut;  // 1 when the text was longer than kCycleTextMax and was cut
};

enum : int32_t {
    // Warning: a text value was longer than its field and was cut; the value is the keyword.
    kMsgCycleTextCut = 5190,
};

// Blanks that separate the words of a value or a configuration line (not line ends).
bool isKeywordBlank(char c);

// The number at the start of a text, read independently of the host's locale; 0 without a
// number. end, when given, receives where reading stopped (text itself when nothing was read).
double readKeywordNumber(const char* text, const char** end);

// 0 with the value converted into out (text copied, number(s) read as the kind
// asks); -1 for an unknown kind or a missing argument.
int convertKeywordValue(int parseKind, const char* text, CycleKeywordValue* out);
