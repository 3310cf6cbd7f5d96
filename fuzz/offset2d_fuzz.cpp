// The 2D offset on small fuzzed contour sets: an outer polygon, an optional
// island and an optional open polyline, with bounded coordinates and distance.
// Looks for crashes, hangs and sanitizer reports; the result is only freed.
#include <cmath>

#include "KVWOG5/kont2d.h"
#include "KVWOG5/offset2d.h"
#include "KVWOG5/wogerr.h"
#include "fuzzhelp.h"

namespace {

// The offset's time still grows with extent / |distance| (below 4096 by the
// coordinate grid); bounded here, short runs spend their seconds on many small
// cases rather than on a few large ones.
constexpr double kMaxExtentPerDistance = 400.0;

Kont2d* polyline(FuzzBytes& in, bool closed, double* extent) {
    int n = in.range(closed ? 3 : 2, 12);
    double xs[12], ys[12];
    for (int i = 0; i < n; ++i) {
        // A grid of 1/16 in [-128, 128) meets exact coincidences often.
        xs[i] = (static_cast<int16_t>(in.u16()) >> 4) / 16.0;
        ys[i] = (static_cast<int16_t>(in.u16()) >> 4) / 16.0;
        *extent = std::fmax(*extent, std::fmax(std::fabs(xs[i]), std::fabs(ys[i])));
    }
    Kont2d* k = kont2dCreate(nullptr, 0);
    if (!k) fuzzFail("no contour");
    int segments = closed ? n : n - 1;
    for (int i = 0; i < segments; ++i) {
        const Seg2D s{xs[i], ys[i], xs[(i + 1) % n], ys[(i + 1) % n]};
        kont2dAppendElement(k, &s);
    }
    k->z = 0.0;
    return k;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    wogResetState();
    kont2dResetState();
    FuzzBytes in{data, size};
    uint8_t shape = in.u8();
    double distance = (static_cast<int16_t>(in.u16()) >> 4) / 16.0;
    if (distance == 0.0) distance = 1.0;
    double extent = 0.0;
    Kont2d* set = polyline(in, (shape & 1) == 0, &extent);
    if ((shape & 3) == 2) {
        Kont2d* island = polyline(in, true, &extent);
        set->firstIsland = island;
        island->prev = set;
    }
    if (2 * extent > kMaxExtentPerDistance * std::fabs(distance)) {
        kont2dFree(set);
        return 0;
    }
    Kont2d* result = nullptr;
    int code = offset2d(set, distance, &result);
    fuzzCheck(code == 1 ? result != nullptr : result == nullptr, "the result does not match the code");
    kont2dFree(result);
    kont2dFree(set);
    return 0;
}
