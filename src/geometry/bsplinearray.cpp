// Growable array of B-spline records.
#include "geometry/bsplinearray.h"

#include <cstdlib>

int bsplineArrayCreate(BSplineArray* array) {
    if (array == nullptr) return -1;
    array->count = 0;
    array->capacity = 0;
    array->items = static_cast<BSplineRec*>(std::malloc(10 * sizeof(BSplineRec)));
    if (array->items == nullptr) return -1;
    array->capacity = 10;
    return 0;
}

int bsplineArrayAppend(BSplineArray* array, const BSplineRec* rec) {
    if (array == nullptr || rec == nullptr || array->items == nullptr) return -1;
    if (array->count + 1 >= array->capacity) {
        if (array->capacity > INT32_MAX / 2) return -1;
        const int32_t cap = 2 * array->capacity;
        auto* grown = static_cast<BSplineRec*>(
            std::realloc(array->items, static_cast<size_t>(cap) * sizeof(BSplineRec)));
        if (grown == nullptr) return -1;
        array->items = grown;
        array->capacity = cap;
    }
    array->items[array->count++] = *rec;
    return 0;
}

void bsplineArrayFree(BSplineArray* array) {
    if (array == nullptr) return;
    for (int32_t i = 0; i < array->count; ++i) bsplineFree(&array->items[i]);
    std::free(array->items);
    array->items = nullptr;
    array->count = 0;
    array->capacity = 0;
}
