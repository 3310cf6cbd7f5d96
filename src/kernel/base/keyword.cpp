#include "kernel/base/keyword.h"

#include <charconv>
#include <cstring>
#include <system_error>

// The separators of words in a value or a configuration line.
bool isKeywordBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f';
}

// The number at the start of a text as the standard conversion reads it (leading
// blanks skipped, reading stops at the first character that cannot belong to
// it, 0 without a number), but independent of the host's locale: a German
// decimal comma must not turn "0.5" into 0. Out-of-range numbers give 0 as well.
double readKeywordNumber(const char* text, const char** end) {
    const char* p = text;
    while (isKeywordBlank(*p) || *p == '\n' || *p == '\r') ++p;
    const char* q = p;
    if (*q == '+' && q[1] != '+' && q[1] != '-') ++q;  // from_chars takes no plus sign
    double value = 0.0;
    auto [stop, error] = std::from_chars(q, q + strlen(q), value);
    if (error != std::errc()) {
        if (end) *end = error == std::errc::result_out_of_range ? stop : text;
        return 0.0;
    }
    if (end) *end = stop;
    return value;
}

int convertKeywordValue(int parseKind, const char* text, CycleKeywordValue* out) {
    if (!out) return -1;
    if (parseKind != kParseNumber && parseKind != kParseRawText && parseKind != kParseText &&
        parseKind != kParseTriple)
        return -1;
    if (!text) text = "";
    out->number[0] = out->number[1] = out->number[2] = 0.0;

    const char* source = text;
    if (parseKind == kParseText)
        while (*source == ' ' || *source == '\t') ++source;
    size_t length = strlen(source);
    out->cut = length > kCycleTextMax ? 1 : 0;
    if (out->cut) length = kCycleTextMax;
    memcpy(out->text, source, length);
    out->text[length] = '\0';

    if (parseKind == kParseNumber) {
        out->number[0] = readKeywordNumber(text, nullptr);
    } else if (parseKind == kParseTriple) {
        // Like "%lf %lf %lf": reading stops at the first text that is not a number;
        // the components not read stay 0.
        const char* p = text;
        for (int i = 0; i < 3; ++i) {
            const char* end;
            double x = readKeywordNumber(p, &end);
            if (end == p) break;
            out->number[i] = x;
            p = end;
        }
    }
    return 0;
}
