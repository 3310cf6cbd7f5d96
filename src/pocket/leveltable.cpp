#include "pocket/leveltable.h"

#include <cmath>
#include <cstdlib>
#include <initializer_list>

namespace {

constexpr double kLevelTol = 1e-5;

// Appends a plane; the last slot of the capacity stays free, so filling it fails.
bool planeAppend(PlaneList* list, double z) {
    if (list->used + 1 >= list->capacity) return false;
    list->z[list->used++] = z;
    return true;
}

}  // namespace

LevelTable* levelTableCreate(int32_t capacity) {
    if (capacity < 0) return nullptr;
    LevelTable* t = static_cast<LevelTable*>(calloc(1, sizeof(LevelTable)));
    if (!t) return nullptr;
    t->rows = static_cast<LevelRow*>(calloc(capacity > 0 ? capacity : 1, sizeof(LevelRow)));
    if (!t->rows) {
        free(t);
        return nullptr;
    }
    t->capacity = capacity;
    for (int32_t i = 0; i < capacity; ++i) t->rows[i].ref = -1;
    return t;
}

void levelTableFree(LevelTable* table) {
    if (!table) return;
    free(table->rows);
    free(table);
}

int levelTableSet(LevelTable* table, int32_t index, double top, double bottom, int32_t flag, int32_t ref) {
    if (!table || index < 0 || index >= table->capacity) return -1;
    table->rows[index] = {top, bottom, flag, ref};
    if (table->used < index + 1) table->used = index + 1;
    return 1;
}

int levelRowContains(const LevelRow* row, double z) {
    if (!row) return 0;
    return z <= row->top - kLevelTol && (row->flag != 0 || z >= row->bottom - kLevelTol) ? 1 : 0;
}

int32_t levelNextBelow(const LevelTable* table, double z, double* out) {
    if (!table || table->used < 1) return -1;
    int32_t best = -1;
    double bestZ = 0;
    for (int32_t i = 0; i < table->used; ++i) {
        const LevelRow& r = table->rows[i];
        if (r.flag != 0) continue;
        for (double v : {r.top, r.bottom}) {
            if (v < z - kLevelTol && (best < 0 || v > bestZ)) {
                best = i;
                bestZ = v;
            }
        }
    }
    if (best >= 0 && out) *out = bestZ;
    return best;
}

int levelTableRange(const LevelTable* table, double* top, double* bottom) {
    if (!table || table->used < 1) return -1;
    double t = table->rows[0].top;
    double b = table->rows[0].bottom;
    for (int32_t i = 1; i < table->used; ++i) {
        const LevelRow& r = table->rows[i];
        if (r.flag != 0) continue;
        t = std::fmax(t, r.top);
        b = std::fmin(b, r.bottom);
    }
    if (top) *top = t;
    if (bottom) *bottom = b;
    return 1;
}

PlaneList* levelTableFromRange(const LevelTable* table, double infeedDepth) {
    double top = 0, bottom = 0;
    if (levelTableRange(table, &top, &bottom) < 0) return nullptr;
    const double range = top - bottom;
    double s = std::fabs(infeedDepth);
    if (s < kLevelTol || s > range) s = range;
    // A degenerate range still gets its one plane.
    const double steps = s > 0 ? range / s : 0;
    if (!(steps < 1e8)) return nullptr;
    PlaneList* list = static_cast<PlaneList*>(calloc(1, sizeof(PlaneList)));
    if (!list) return nullptr;
    list->capacity = static_cast<int32_t>(steps) + 2 * table->used + 10;
    list->z = static_cast<double*>(calloc(list->capacity, sizeof(double)));
    if (!list->z) {
        free(list);
        return nullptr;
    }
    bool ok = planeAppend(list, top);
    double c = top;
    while (ok && bottom + kLevelTol < c) {
        double b = 0;
        if (levelNextBelow(table, c, &b) < 0) break;
        // Each plane counts down from the boundary it restarted at, so rounding cannot pile up.
        for (int32_t k = 1; ok && c - k * s > b + kLevelTol; ++k) ok = planeAppend(list, c - k * s);
        if (!ok) break;
        ok = planeAppend(list, b);
        c = b;
        if (b <= bottom + kLevelTol) break;
    }
    if (!ok) {
        planeListFree(list);
        return nullptr;
    }
    return list;
}

void planeListFree(PlaneList* list) {
    if (!list) return;
    free(list->z);
    free(list);
}
