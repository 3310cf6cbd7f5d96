// Avoidance table: creation from a point list, axis and angle conversions, limit passes, C
// unwrapping and insertion of entries.
#include "avoidance/avoidtable.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kernel/base/constants.h"

namespace {

// Just under pi, so that a step of exactly pi is not flipped back and forth by rounding.
constexpr double kUnwrapLimit = 3.141582653589793;

double lerp(double a, double b, double f) {
    return a + (b - a) * f;
}

}  // namespace

int vecTiltAngle(const Vec3* v, double* out) {
    *out = acosClamped(v->z);
    return 1;
}

int vecAzimuth(const Vec3* v, double* out) {
    if (std::fabs(v->x) < 1e-5 && std::fabs(v->y) < 1e-5) return 0;
    *out = std::atan2(v->y, v->x);
    return 1;
}

int dirFromAngles(Vec3* out, double c, double b) {
    const double s = std::sin(b);
    if (std::fabs(s) < 1e-5) {
        *out = {0.0, 0.0, 1.0};
        return 0;
    }
    *out = {s * std::cos(c), s * std::sin(c), std::cos(b)};
    return 1;
}

AvoidTable* avoidTableCreate(Plist* list, double leadAngle, double maxTilt) {
    if (!list || !list->vectors || !list->bytes || list->count < 1) return nullptr;
    const int32_t n = list->count;
    auto* t = static_cast<AvoidTable*>(std::calloc(1, sizeof(AvoidTable)));
    if (!t) return nullptr;
    t->capacity = 2 * n + 2;
    t->entries = static_cast<AvoidEntry*>(std::calloc(t->capacity, sizeof(AvoidEntry)));
    if (!t->entries) {
        std::free(t);
        return nullptr;
    }
    t->count = n;
    t->leadAngle = leadAngle;
    t->maxTilt = maxTilt;
    for (int32_t i = 0; i < n; ++i) {
        AvoidEntry& e = t->entries[i];
        e.parameter = list->parameters[i];
        e.bMin = 1e-4;
        e.b = leadAngle;
        e.bMax = maxTilt;
        list->bytes[i] = static_cast<uint8_t>(vecAzimuth(&list->vectors[i], &e.c));
    }
    if (!avoidFillAzimuth(list, t)) {
        avoidTableFree(t);
        return nullptr;
    }
    return t;
}

void avoidTableFree(AvoidTable* table) {
    if (!table) return;
    std::free(table->entries);
    std::free(table);
}

int avoidFillAzimuth(Plist* list, AvoidTable* table) {
    const int32_t n = table->count < list->count ? table->count : list->count;
    int32_t i = 0;
    while (i < n) {
        if (list->bytes[i]) {
            ++i;
            continue;
        }
        int32_t j = i;
        while (j < n && !list->bytes[j]) ++j;
        if (i == 0 && j == n) return 0;
        const double c = i == 0 ? table->entries[j].c : table->entries[i - 1].c;
        for (int32_t k = i; k < j; ++k) {
            table->entries[k].c = c;
            list->bytes[k] = 1;
        }
        i = j;
    }
    return 1;
}

void avoidShiftLimits(AvoidTable* table, double w) {
    for (int32_t i = 0; i < table->count; ++i) {
        AvoidEntry& e = table->entries[i];
        e.bBandLow = e.b - w;
        e.bBandHigh = e.b + w;
        if (e.bMin < e.bBandLow) e.bMin = e.bBandLow;
        if (e.bMax > e.bBandHigh) e.bMax = e.bBandHigh;
    }
    table->bBandSet = 1;
}

void avoidLimitPassA(AvoidTable* table, double maxTilt) {
    for (int32_t i = 0; i < table->count; ++i) {
        AvoidEntry& e = table->entries[i];
        e.bMin = 0.0;
        e.bMax = maxTilt;
        if (table->bBandSet) {
            if (e.bMin < e.bBandLow) e.bMin = e.bBandLow;
            if (e.bMax > e.bBandHigh) e.bMax = e.bBandHigh;
        }
    }
}

void avoidUnwrapValues(double* v, const int32_t* flags, int32_t n) {
    bool haveRef = false;
    double r = 0.0;
    for (int32_t i = 0; i < n; ++i) {
        if (flags && flags[i] == -1) continue;
        if (!std::isfinite(v[i])) continue;  // neither moved nor a reference: the loops would not end
        if (haveRef) {
            if (std::fabs(v[i] - r) > 4.0 * kTwoPi) v[i] -= kTwoPi * std::round((v[i] - r) / kTwoPi);
            while (v[i] < r - kUnwrapLimit) v[i] += kTwoPi;
            while (v[i] > r + kUnwrapLimit) v[i] -= kTwoPi;
        }
        r = v[i];
        haveRef = true;
    }
}

double* avoidUnwrapColumn(const AvoidTable* table, int32_t which) {
    if (!table || which < kAvoidColumnCLow || which > kAvoidColumnC) return nullptr;
    const int32_t n = table->count;
    auto* v = static_cast<double*>(std::malloc(sizeof(double) * (n > 0 ? n : 1)));
    auto* fl = static_cast<int32_t*>(std::malloc(sizeof(int32_t) * (n > 0 ? n : 1)));
    if (!v || !fl) {
        std::free(v);
        std::free(fl);
        return nullptr;
    }
    for (int32_t i = 0; i < n; ++i) {
        const AvoidEntry& e = table->entries[i];
        v[i] = which == kAvoidColumnCLow ? e.cLow : (which == kAvoidColumnCHigh ? e.cHigh : e.c);
        fl[i] = e.flag;
    }
    avoidUnwrapValues(v, fl, n);
    std::free(fl);
    return v;
}

int avoidBuildTables(AvoidTable* table) {
    double* lo = avoidUnwrapColumn(table, kAvoidColumnCLow);
    double* hi = avoidUnwrapColumn(table, kAvoidColumnCHigh);
    double* c = avoidUnwrapColumn(table, kAvoidColumnC);
    const bool ok = lo && hi && c;
    for (int32_t i = 0; ok && i < table->count; ++i) {
        table->entries[i].cLow = lo[i];
        table->entries[i].cHigh = hi[i];
        table->entries[i].c = c[i];
    }
    std::free(lo);
    std::free(hi);
    std::free(c);
    return ok ? 1 : 0;
}

int32_t avoidTableInsert(AvoidTable* table, double t, const Vec3* axis) {
    if (!table || table->count < 1 || !std::isfinite(t)) return -1;
    if (table->count >= table->capacity) {
        const int32_t cap = static_cast<int32_t>(table->capacity * 1.5) > table->capacity
                                ? static_cast<int32_t>(table->capacity * 1.5)
                                : table->capacity + 1;
        auto* grown = static_cast<AvoidEntry*>(std::realloc(table->entries, sizeof(AvoidEntry) * cap));
        if (!grown) return -1;
        table->entries = grown;
        table->capacity = cap;
    }
    AvoidEntry* e = table->entries;
    const int32_t n = table->count;
    const bool rising = n < 2 || e[n - 1].parameter >= e[0].parameter;
    // k: the first entry that lies past t in the table's direction.
    int32_t k = 0;
    while (k < n && (rising ? e[k].parameter < t - 1e-5 : e[k].parameter > t + 1e-5)) ++k;
    const AvoidEntry& a = e[k > 0 ? k - 1 : 0];
    const AvoidEntry& b = e[k < n ? k : n - 1];
    const double span = b.parameter - a.parameter;
    const double f = std::fabs(span) > 0.0 ? (t - a.parameter) / span : 0.0;
    AvoidEntry ne{};
    ne.parameter = t;
    ne.bMin = lerp(a.bMin, b.bMin, f);
    ne.bMax = lerp(a.bMax, b.bMax, f);
    ne.cLow = lerp(a.cLow, b.cLow, f);
    ne.cHigh = lerp(a.cHigh, b.cHigh, f);
    ne.bBandLow = lerp(a.bBandLow, b.bBandLow, f);
    ne.bBandHigh = lerp(a.bBandHigh, b.bBandHigh, f);
    ne.b = lerp(a.b, b.b, f);
    ne.c = lerp(a.c, b.c, f);
    if (axis) {
        vecTiltAngle(axis, &ne.b);
        vecAzimuth(axis, &ne.c);  // a vertical axis keeps the interpolated C
    }
    std::memmove(e + k + 1, e + k, sizeof(AvoidEntry) * (n - k));
    e[k] = ne;
    table->count = n + 1;
    return k;
}
