#include "surfaces/xyztext.h"

#include <cstdlib>

int parseXyzTriple(const char* text, double out[3]) {
    out[0] = out[1] = out[2] = 0.0;
    if (!text) return 0;
    const char* p = text;
    int count = 0;
    while (count < 3) {
        char* end = nullptr;
        const double v = strtod(p, &end);
        if (end == p) break;
        out[count++] = v;
        while (*end == ' ' || *end == '\t') ++end;
        if (*end != ',') break;
        p = end + 1;
    }
    return count;
}
