// Growable numbered point sets.
#include "surfaces/meshfiles/pointsets.h"

#include <cstdlib>
#include <cstring>

#include "kernel/base/mem.h"

namespace {

int32_t pointStep(int32_t capacity) {
    if (capacity < 64) return 16;
    if (capacity < 256) return 64;
    if (capacity < 2048) return 256;
    return 2048;
}

}  // namespace

PointSets* pointSetsCreate() {
    return static_cast<PointSets*>(memCalloc(sizeof(PointSets)));
}

int pointSetsReserve(PointSets* sets, int32_t i) {
    if (sets == nullptr || i < 0 || i > kPointSetsMaxSet) return 0;
    if (i < sets->count) return 1;
    if (i >= sets->capacity) {
        const int32_t capacity = (i / 16 + 1) * 16;
        auto* grown =
            static_cast<PointSet*>(memRealloc(sets->sets, sizeof(PointSet) * static_cast<size_t>(capacity)));
        if (grown == nullptr) return 0;
        std::memset(grown + sets->capacity, 0,
                    sizeof(PointSet) * static_cast<size_t>(capacity - sets->capacity));
        sets->sets = grown;
        sets->capacity = capacity;
    }
    sets->count = i + 1;
    return 1;
}

int pointSetsGrowPoints(PointSet* set, int32_t j) {
    if (set == nullptr || j < 1 || j > kPointSetsMaxPoint) return 0;
    if (j <= set->capacity) return 1;
    int32_t capacity = set->capacity;
    while (capacity < j) capacity += pointStep(capacity);
    auto* grown = static_cast<Vec3*>(memRealloc(set->points, sizeof(Vec3) * static_cast<size_t>(capacity)));
    if (grown == nullptr) return 0;
    std::memset(grown + set->capacity, 0, sizeof(Vec3) * static_cast<size_t>(capacity - set->capacity));
    set->points = grown;
    set->capacity = capacity;
    return 1;
}

int pointSetsPut(PointSets* sets, int32_t i, int32_t j, const Vec3* p) {
    if (p == nullptr || !pointSetsReserve(sets, i)) return 0;
    PointSet* set = &sets->sets[i];
    if (!pointSetsGrowPoints(set, j)) return 0;
    set->points[j - 1] = *p;
    if (j > set->count) set->count = j;
    return 1;
}

int pointSetsGet(const PointSets* sets, int32_t i, int32_t j, Vec3* out) {
    if (sets == nullptr || out == nullptr || i < 0 || i >= sets->count) return 0;
    const PointSet* set = &sets->sets[i];
    if (set->count == 0 || j < 1 || j > set->count) return 0;
    *out = set->points[j - 1];
    return 1;
}

void pointSetsFree(PointSets* sets) {
    if (sets == nullptr) return;
    for (int32_t i = 0; i < sets->capacity; ++i) std::free(sets->sets[i].points);
    std::free(sets->sets);
    std::free(sets);
}
