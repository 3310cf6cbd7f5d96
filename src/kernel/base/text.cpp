#include "kernel/base/text.h"

#include <charconv>
#include <cstdio>
#include <cstring>

int strReplaceChar(char* destination, const char* source, char from, char to) {
    int count = 0;
    if (destination == source) {
        if (from == to) return 0;
        for (char* p = destination; *p; ++p) {
            if (*p == from) {
                *p = to;
                ++count;
            }
        }
        return count;
    }
    size_t i = 0;
    for (; source[i]; ++i) {
        char c = source[i];
        if (c == from) {
            c = to;
            ++count;
        }
        destination[i] = c;
    }
    destination[i] = '\0';
    return count;
}

namespace {

constexpr size_t kNumberTextMax = 79;

bool isNumberStart(char c) {
    return c && strchr("+-.0123456789", c);
}
bool isNumberChar(char c) {
    return c && strchr("+-.0123456789eE", c);
}

// Converts independently of the host's locale: a German host must not turn "1.5" into 1.
double parseDecimal(const char* begin, const char* end) {
    if (begin < end && *begin == '+') ++begin;
    double value = 0.0;
    std::from_chars(begin, end, value);
    return value;
}

}  // namespace

int parseNumbers3(const char* text, double* first, double* second, double* third) {
    if (!text) return 0;
    double* out[3] = {first, second, third};
    int count = 0;
    const char* p = text;
    while (count < 3) {
        while (*p && !isNumberStart(*p)) ++p;
        if (!*p) break;
        const char* begin = p;
        while (isNumberChar(*p)) ++p;
        size_t len = static_cast<size_t>(p - begin);
        if (len > kNumberTextMax) len = kNumberTextMax;
        double value = parseDecimal(begin, begin + len);
        if (out[count]) *out[count] = value;
        ++count;
    }
    return count;
}

namespace {

bool isSafeNameChar(unsigned char c) {
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) return true;
    return c && strchr(" \"@$%&#~|-+*/=<>!?^,;.:_'{}", c);
}

}  // namespace

size_t escapeName(char* destination, size_t size, const char* source) {
    size_t need = 0;
    size_t used = 0;
    for (const unsigned char* p = reinterpret_cast<const unsigned char*>(source ? source : ""); *p; ++p) {
        char chunk[5];
        size_t n;
        if (*p == '\\') {
            chunk[0] = chunk[1] = '\\';
            n = 2;
        } else if (isSafeNameChar(*p)) {
            chunk[0] = static_cast<char>(*p);
            n = 1;
        } else {
            snprintf(chunk, sizeof chunk, "\\%03d", *p);
            n = 4;
        }
        if (need == used && used + n < size) {
            memcpy(destination + used, chunk, n);
            used += n;
        }
        need += n;
    }
    if (size) destination[used] = '\0';
    return need;
}
