#include "pocket/ringhelpers.h"

#include <cstring>

#include "pocket/contourclean.h"
#include "pocket/elemaccess.h"

namespace {

constexpr double kHalfPi = 1.5707963267948966;

}  // namespace

int32_t arcsSplitQuarter(ContourElement* chain, int32_t count) {
    if (!chain || count < 1) return 0;
    int32_t n = count;
    for (int32_t i = 0; i < n; ++i) {
        ContourElement& e = chain[i];
        // A hair's slack keeps an exact quarter from slipping below by rounding.
        if (e.type != kElemArc || elemLength(&e) < kHalfPi * e.g[kAr] * (1 - 1e-9)) continue;
        Vec2 mid;
        elemPoint(&e, &mid, kElemMiddle);
        std::memmove(&chain[i + 2], &chain[i + 1], (n - i - 1) * sizeof(ContourElement));
        chain[i + 1] = e;
        const double r = e.g[kAr];
        elemSetPoint(&chain[i], &mid, kElemEnd);
        elemSetPoint(&chain[i + 1], &mid, kElemStart);
        chain[i].g[kAr] = r;
        chain[i + 1].g[kAr] = r;
        ++n;
        ++i;
    }
    return n;
}
