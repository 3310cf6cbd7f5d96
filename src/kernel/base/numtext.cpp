#include "kernel/base/numtext.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "kernel/base/runreset.h"

namespace {

int gDecimals = 6;
double gScale = 1e6;
long gScaleInt = 1000000;

// Removes trailing zeros and a bare point; "-0" becomes "0".
int trimNumber(char* text) {
    size_t n = strlen(text);
    if (strchr(text, '.')) {
        while (n && text[n - 1] == '0') text[--n] = '\0';
        if (n && text[n - 1] == '.') text[--n] = '\0';
    }
    if (strcmp(text, "-0") == 0) {
        strcpy(text, "0");
        n = 1;
    }
    return static_cast<int>(n);
}

}  // namespace

void setNumberDecimals(int count) {
    if (count < 1) count = 1;
    if (count > 8) count = 8;
    gDecimals = count;
    gScaleInt = 1;
    for (int i = 0; i < count; ++i) gScaleInt *= 10;
    gScale = static_cast<double>(gScaleInt);
}

int numberDecimals() {
    return gDecimals;
}

void numTextResetState() {
    setNumberDecimals(6);
}
static const RunReset gRunReset(kRunResetBase, "numText", numTextResetState);

int formatFixed(char* destination, double value) {
    if (!std::isfinite(value)) {
        strcpy(destination, "0");
        return 1;
    }
    // Beyond this the scaled value no longer fits the integer arithmetic; doubles that
    // large carry few or no decimals, so the library's own rounding adds nothing there.
    if (std::fabs(value) * gScale >= 4e18) {
        snprintf(destination, kFormatFixedMax, "%.*f", gDecimals, value);
        return trimNumber(destination);
    }
    double r = std::floor(gScale * value + 0.5) / gScale;
    long i = static_cast<long>(r);
    long f = static_cast<long>(std::floor(gScale * std::fabs(r - static_cast<double>(i)) + 0.5));
    if (f >= gScaleInt) {
        i += r >= 0 ? 1 : -1;
        f = 0;
    }
    // Integer part, point, then the decimals zero-padded to their count: what "%ld.%0*ld" writes,
    // without the format parser (every output coordinate passes here).
    char* p = destination;
    if (i == 0 && r < 0) *p++ = '-';
    p = std::to_chars(p, destination + kFormatFixedMax, i).ptr;
    *p++ = '.';
    for (int d = gDecimals - 1; d >= 0; --d, f /= 10) p[d] = static_cast<char>('0' + f % 10);
    p[gDecimals] = '\0';
    return trimNumber(destination);
}
