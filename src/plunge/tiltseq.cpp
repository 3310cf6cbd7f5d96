// Tilt sequences: common tilt, band fit with widened retries, band rounding and smoothing.
#include "plunge/tiltseq.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "KVWOG5/kont2d.h"
#include "KVWOG5/offset2d.h"
#include "contour/contourisect.h"
#include "geometry/bandfit.h"
#include "geometry/smoothfit.h"

namespace {

constexpr double kCommonEps = 0.035;       // preferred clearance from the hugged window edge
constexpr double kSmoothMargin = 0.01745;  // about one degree kept from both edges
constexpr int kSmoothPasses = 5;

template <typename T>
T* allocArray(int32_t capacity) {
    return static_cast<T*>(calloc(static_cast<size_t>(capacity), sizeof(T)));
}

}  // namespace

TiltSeq* newTiltSeq(int32_t n, const double* params) {
    if (n < 0 || n > (1 << 26)) return nullptr;
    TiltSeq* seq = static_cast<TiltSeq*>(calloc(1, sizeof(TiltSeq)));
    if (!seq) return nullptr;
    seq->count = n;
    seq->capacity = 4 * n > 0 ? 4 * n : 1;
    seq->param = allocArray<double>(seq->capacity);
    seq->lower = allocArray<double>(seq->capacity);
    seq->upper = allocArray<double>(seq->capacity);
    seq->tilt = allocArray<double>(seq->capacity);
    seq->hitLower = allocArray<int32_t>(seq->capacity);
    seq->hitUpper = allocArray<int32_t>(seq->capacity);
    seq->skip = allocArray<int32_t>(seq->capacity);
    if (!seq->param || !seq->lower || !seq->upper || !seq->tilt || !seq->hitLower || !seq->hitUpper ||
        !seq->skip) {
        freeTiltSeq(seq);
        return nullptr;
    }
    if (params && n > 0) memcpy(seq->param, params, sizeof(double) * static_cast<size_t>(n));
    return seq;
}

void freeTiltSeq(TiltSeq* seq) {
    if (!seq) return;
    free(seq->param);
    free(seq->lower);
    free(seq->upper);
    free(seq->tilt);
    free(seq->hitLower);
    free(seq->hitUpper);
    free(seq->skip);
    free(seq);
}

TiltSeq* copyTiltSeq(const TiltSeq* seq) {
    if (!seq) return nullptr;
    TiltSeq* copy = newTiltSeq(seq->count, seq->param);
    if (!copy) return nullptr;
    size_t n = static_cast<size_t>(seq->count);
    memcpy(copy->lower, seq->lower, n * sizeof(double));
    memcpy(copy->upper, seq->upper, n * sizeof(double));
    memcpy(copy->tilt, seq->tilt, n * sizeof(double));
    memcpy(copy->hitLower, seq->hitLower, n * sizeof(int32_t));
    memcpy(copy->hitUpper, seq->hitUpper, n * sizeof(int32_t));
    memcpy(copy->skip, seq->skip, n * sizeof(int32_t));
    copy->solved = seq->solved;
    return copy;
}

double tiltSeqMinWindow(const TiltSeq* seq) {
    double best = 10000.0;
    if (!seq) return best;
    for (int32_t i = 0; i < seq->count; ++i)
        if (seq->skip[i] == 0) best = std::min(best, std::fabs(seq->upper[i] - seq->lower[i]));
    return best;
}

int tiltSeqValidRange(const TiltSeq* seq, int32_t* first, int32_t* last) {
    *first = *last = -1;
    if (!seq) return -1;
    for (int32_t i = 0; i < seq->count; ++i) {
        if (seq->skip[i] != 0) continue;
        if (*first < 0) *first = i;
        *last = i;
    }
    return *first < 0 ? -1 : 1;
}

void tiltSeqScale(TiltSeq* seq, double factor) {
    if (!seq) return;
    for (int32_t i = 0; i < seq->count; ++i) {
        seq->lower[i] *= factor;
        seq->upper[i] *= factor;
        seq->tilt[i] *= factor;
    }
}

int tiltSeqCommonTilt(TiltSeq* seq, int32_t first, int32_t last, int32_t side) {
    if (!seq || first < 0 || last >= seq->count || first > last) return 0;
    double maxLower = seq->lower[first], minUpper = seq->upper[first];
    for (int32_t i = first; i <= last; ++i) {
        maxLower = std::max(maxLower, seq->lower[i]);
        minUpper = std::min(minUpper, seq->upper[i]);
    }
    if (maxLower > minUpper) return 0;
    double eps = kCommonEps;
    int32_t mode = side;
    if (minUpper < maxLower + eps) mode = kTiltSideMiddle;
    if (minUpper - maxLower < 10.0 * eps) eps = (minUpper - maxLower) * 0.1;
    double value = mode == kTiltSideMiddle  ? 0.5 * (maxLower + minUpper)
                   : mode == kTiltSideLower ? maxLower + eps
                                            : minUpper - eps;
    for (int32_t i = 0; i < seq->count; ++i) seq->tilt[i] = value;
    return 1;
}

void tiltSeqRestoreLimit(TiltSeq* seq, const TiltSeq* backup, int32_t which) {
    if (!seq || !backup) return;
    int32_t n = std::min(seq->count, backup->count);
    const double* from = which == 0 ? backup->lower : backup->upper;
    double* to = which == 0 ? seq->lower : seq->upper;
    memcpy(to, from, sizeof(double) * static_cast<size_t>(n));
}

void tiltSeqPropagateLimit(TiltSeq* seq, int32_t side, int32_t k1, int32_t k2, double slack) {
    if (!seq || k1 < 0 || k2 >= seq->count || k1 > k2) return;
    double* lo = seq->lower;
    double* up = seq->upper;
    auto step = [&](int32_t i, double& v) {
        if (side == kTiltSideUpper) {
            if (v - slack < lo[i]) v = lo[i] + slack;
            if (v <= up[i])
                up[i] = v;
            else
                v = up[i];
        } else {
            if (up[i] < v + slack) v = up[i] - slack;
            if (lo[i] <= v)
                lo[i] = v;
            else
                v = lo[i];
        }
    };
    double v = side == kTiltSideUpper ? up[k1] : lo[k1];
    for (int32_t i = k1 - 1; i >= 0; --i) step(i, v);
    v = side == kTiltSideUpper ? up[k2] : lo[k2];
    for (int32_t i = k2 + 1; i < seq->count; ++i) step(i, v);
}

int tiltSeqHitRange(const TiltSeq* seq, int32_t side, int32_t hitValue, double length, int32_t* first,
                    int32_t* last) {
    *first = 0;
    *last = seq ? seq->count - 1 : -1;
    if (!seq) return -1;
    const int32_t* hit = side == kTiltSideLower ? seq->hitLower : seq->hitUpper;
    int32_t k1 = -1, k2 = -1;
    for (int32_t i = 0; i < seq->count; ++i) {
        if (hit[i] != hitValue) continue;
        if (k1 < 0) k1 = i;
        k2 = i;
    }
    if (k1 < 0) return -1;
    length = std::min(length, 0.3 * (seq->param[k2] - seq->param[k1]));
    int32_t a = k1, b = k2;
    while (a + 1 < seq->count && seq->param[a + 1] - seq->param[k1] <= length) ++a;
    while (b - 1 >= 0 && seq->param[k2] - seq->param[b - 1] <= length) --b;
    *first = a;
    *last = b;
    return 1;
}

int tiltSeqFitsMargins(const TiltSeq* seq, int32_t i0, int32_t i1, double value, double margin) {
    for (int32_t j = i0; j <= i1; ++j)
        if (seq->lower[j] + margin > value || value > seq->upper[j] - margin) return 0;
    return 1;
}

void tiltSeqExtendEnds(TiltSeq* seq) {
    int32_t first, last;
    if (tiltSeqValidRange(seq, &first, &last) < 0) return;
    auto outside = [seq](int32_t i) { return seq->tilt[i] < seq->lower[i] || seq->tilt[i] > seq->upper[i]; };
    for (int32_t i = first; i <= last; ++i) {
        if (!outside(i)) continue;
        for (int32_t j = first; j < i; ++j) seq->tilt[j] = seq->tilt[i];
        break;
    }
    for (int32_t i = last; i >= first; --i) {
        if (!outside(i)) continue;
        for (int32_t j = i + 1; j <= last; ++j) seq->tilt[j] = seq->tilt[i];
        break;
    }
}

void tiltSeqRaiseLimits(TiltSeq* seq, int32_t side, double slack) {
    if (!seq) return;
    for (int32_t i = 0; i < seq->count; ++i) {
        double t = seq->tilt[i];
        if (side == kTiltSideUpper) {
            if (t < seq->upper[i] && seq->lower[i] < t - slack) seq->upper[i] = t;
        } else if (seq->lower[i] < t && t + slack < seq->upper[i]) {
            seq->lower[i] = t;
        }
    }
}

int tiltSeqFit(TiltSeq* seq, int32_t side) {
    int32_t first, last;
    if (tiltSeqValidRange(seq, &first, &last) < 0) return -1;
    if (tiltSeqCommonTilt(seq, first, last, side) == 1) {
        seq->solved = 1;
        return 0;
    }
    int result = bandFit(seq->param, seq->lower, seq->upper, seq->tilt, last + 1);
    if (result == 0) return -1;
    if (result > 0) seq->solved = 1;
    return result;
}

int tiltSeqFitRetry(TiltSeq* seq, int32_t side, int32_t hitValue) {
    if (!seq) return -1;
    if (side == kTiltSideMiddle) return tiltSeqFit(seq, side);
    int32_t n = seq->count;
    double length = n > 0 ? 0.05 * (seq->param[n - 1] - seq->param[0]) : 0.0;
    int32_t k1 = 0, k2 = n - 1;
    tiltSeqHitRange(seq, side, hitValue, length, &k1, &k2);
    TiltSeq* backup = copyTiltSeq(seq);
    if (!backup) return -2;
    int result = -1;
    for (double a = 10.0; a < 90.00001; a += 10.0) {
        tiltSeqRestoreLimit(seq, backup, side == kTiltSideLower ? 0 : 1);
        tiltSeqPropagateLimit(seq, side, k1, k2, a * kTiltDegToRad);
        tiltSeqRaiseLimits(seq, side, a * kTiltDegToRad);
        tiltSeqScale(seq, kTiltRadToDeg);
        int rounded = tiltSeqRoundBand(seq, a, side);
        tiltSeqScale(seq, kTiltDegToRad);
        // A rounding that could not run leaves the widened band as it is; the fit still decides.
        (void)rounded;
        result = tiltSeqFit(seq, side);
        if (result >= 0) break;
    }
    freeTiltSeq(backup);
    return result;
}

int tiltSeqRoundBand(TiltSeq* seq, double angleDeg, int32_t side) {
    int32_t first, last;
    if (tiltSeqValidRange(seq, &first, &last) < 0) return -1;
    if (side != kTiltSideLower && side != kTiltSideUpper) return 1;
    const double* x = seq->param;
    double xFirst = x[first], xLast = x[last];
    Kont2d* source = kont2dCreate(nullptr, seq->count + 10);
    if (!source) return -1;
    bool ok = true;
    auto add = [&](double x1, double y1, double x2, double y2) {
        Seg2D e{x1, y1, x2, y2};
        if (ok && kont2dAppendElement(source, &e) < 0) ok = false;
    };
    if (side == kTiltSideLower) {
        double minLower = seq->lower[first];
        for (int32_t i = first; i <= last; ++i) minLower = std::min(minLower, seq->lower[i]);
        for (int32_t i = 1; i <= last; ++i) add(x[i - 1], seq->lower[i - 1], x[i], seq->lower[i]);
        add(x[last], seq->lower[last], x[last], minLower - 1.0);
        add(x[last], minLower - 1.0, x[first], minLower - 1.0);
        add(x[first], minLower - 1.0, x[first], seq->lower[first]);
    } else {
        double maxUpper = seq->upper[first];
        for (int32_t i = first; i <= last; ++i) maxUpper = std::max(maxUpper, seq->upper[i]);
        for (int32_t i = last; i >= 1; --i) add(x[i], seq->upper[i], x[i - 1], seq->upper[i - 1]);
        add(x[0], seq->upper[0], x[first], maxUpper + 1.0);
        add(x[first], maxUpper + 1.0, x[last], maxUpper + 1.0);
        add(x[last], maxUpper + 1.0, x[last], seq->upper[last]);
    }
    Kont2d* offset = nullptr;
    int rc = ok ? offset2d(source, angleDeg, &offset) : -1;
    kont2dFree(source);
    if (rc < 0 || !ok) {
        kont2dFree(offset);
        return -1;
    }
    IsectList* hits = isectListCreate(1000);
    if (!hits) {
        kont2dFree(offset);
        return -1;
    }
    for (int32_t i = first; i <= last; ++i) {
        if (x[i] < xFirst - 1e-5 || x[i] > xLast + 1e-5) continue;
        Seg2D probe{x[i], seq->lower[i], x[i], seq->upper[i]};
        for (Kont2d* k = offset; k; k = k->next) {
            if (contour_pair_isect2D_b(&probe, 1, k->elements, k->count, hits) <= 0) continue;
            double y = hits->data[0].y;
            // The lower edge of the other side is the mirror: the band shrinks from above only
            // for side 1, from below only for side 2.
            if (side == kTiltSideLower)
                seq->upper[i] = std::min(seq->upper[i], y);
            else
                seq->lower[i] = std::max(seq->lower[i], y);
        }
    }
    isectListFree(hits);
    kont2dFree(offset);
    return 1;
}

namespace {

int smoothPass(TiltSeq* seq, double margin) {
    int32_t first, last;
    if (tiltSeqValidRange(seq, &first, &last) < 0) return -1;
    int32_t n = last - first + 1;
    std::vector<double> tol(static_cast<size_t>(n)), out(static_cast<size_t>(n));
    bool inverted = false;
    double m = margin;
    for (int32_t i = first; i <= last; ++i) {
        double w = seq->upper[i] - seq->lower[i];
        if (w < 0) inverted = true;
        m = w < 2.0 * margin ? 0.5 * w : margin;
        if (seq->tilt[i] > seq->upper[i] - m)
            seq->tilt[i] = seq->upper[i] - m;
        else if (seq->tilt[i] < seq->lower[i] + m)
            seq->tilt[i] = seq->lower[i] + m;
        tol[static_cast<size_t>(i - first)] = m;
    }
    if (inverted) return -1;
    // The ends are flattened to the last value that still fits every window up to the end; the
    // value at the index that failed the test would leave the windows it failed.
    int32_t k = static_cast<int32_t>(std::floor(0.8 * first + 0.2 * last));
    int32_t i = first;
    while (i < k && tiltSeqFitsMargins(seq, first, i, seq->tilt[i], m)) ++i;
    int32_t anchor = i - 1;
    for (int32_t j = first; j < anchor; ++j) seq->tilt[j] = seq->tilt[anchor];
    k = static_cast<int32_t>(std::floor(0.2 * first + 0.8 * last));
    i = last;
    while (i > k && tiltSeqFitsMargins(seq, i, last, seq->tilt[i], m)) --i;
    anchor = i + 1;
    for (int32_t j = anchor + 1; j <= last; ++j) seq->tilt[j] = seq->tilt[anchor];
    int16_t rc =
        smoothSplineBuild(seq->param + first, seq->tilt + first, tol.data(), tol.data(), out.data(), n);
    if (rc > 0) std::copy(out.begin(), out.end(), seq->tilt + first);
    return rc;
}

}  // namespace

int tiltSeqSmooth(TiltSeq* seq) {
    for (int pass = 0; pass < kSmoothPasses; ++pass)
        if (smoothPass(seq, kSmoothMargin) < 0) return -1;
    return 1;
}
