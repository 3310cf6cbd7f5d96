// chrTab digit tables and the conversion of coded tokens.
#include "surfaces/meshfiles/chrtab.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

void chrTabInit(ChrTab* tab) {
    chrTabSetParams(tab, nullptr, nullptr, nullptr);
}

int chrTabSetParams(ChrTab* tab, const char* table, const char* base, const char* scale) {
    if (tab == nullptr) return 0;
    const char* text = table != nullptr ? table : kChrTabDefault;
    const size_t n = std::strlen(text);
    if (n == 0 || n > kChrTabMaxLength) return 0;
    int16_t digit[128];
    for (int16_t& d : digit) d = -1;
    for (size_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c > 127) return 0;
        if (digit[c] < 0) digit[c] = static_cast<int16_t>(i);
    }
    std::memcpy(tab->table, text, n + 1);
    std::memcpy(tab->digit, digit, sizeof digit);
    tab->length = static_cast<int32_t>(n);
    const long b = base != nullptr ? std::strtol(base, nullptr, 10) : 10;
    tab->base = b >= 1 && b <= tab->length ? static_cast<int32_t>(b) : tab->length;
    tab->scale = 1.0;
    if (scale != nullptr) {
        const double s = std::strtod(scale, nullptr);
        if (std::fabs(s) >= 1e-10) tab->scale = s;
    }
    return 1;
}

namespace {

int digitOf(const ChrTab* tab, char ch) {
    const unsigned char c = static_cast<unsigned char>(ch);
    return c < 128 ? tab->digit[c] : -1;
}

}  // namespace

int chrTabToDouble(const ChrTab* tab, const char* token, size_t n, double* out) {
    if (tab == nullptr || token == nullptr || out == nullptr || n == 0) return 0;
    if (token[0] == '*') {
        *out = 0.0;
        return 1;
    }
    if (n < 2) return 0;
    double value = 0.0;
    for (size_t i = 1; i < n; ++i) {
        const int d = digitOf(tab, token[i]);
        if (d < 0) return 0;
        value = value * tab->base + d;
    }
    value /= tab->scale;
    *out = token[0] == '-' ? -value : value;
    return 1;
}

int chrTabToInt(const ChrTab* tab, const char* token, size_t n, int32_t* out) {
    if (tab == nullptr || token == nullptr || out == nullptr || n == 0) return 0;
    int64_t value = 0;
    for (size_t i = 0; i < n; ++i) {
        const int d = digitOf(tab, token[i]);
        if (d < 0) return 0;
        value = value * tab->base + d;
        if (value > INT32_MAX) return 0;
    }
    *out = static_cast<int32_t>(value);
    return 1;
}
