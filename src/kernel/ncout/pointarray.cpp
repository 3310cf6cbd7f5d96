#include "kernel/ncout/pointarray.h"

#include <cstdlib>
#include <cstring>

PointArray* pointArrayCreate(int32_t n) {
    if (n < 1) n = 1;
    auto* array = static_cast<PointArray*>(calloc(1, sizeof(PointArray)));
    if (!array) return nullptr;
    array->data = static_cast<double*>(malloc(3 * sizeof(double) * static_cast<size_t>(n)));
    if (!array->data) {
        free(array);
        return nullptr;
    }
    array->capacity = n;
    return array;
}

int pointArrayAppend(PointArray* array, const double point[3]) {
    if (!array || !array->data || !point) return -1;
    if (array->count >= array->capacity) {
        if (array->capacity > INT32_MAX - kPointArrayGrowth) return -1;
        int32_t capacity = array->capacity + kPointArrayGrowth;
        void* grown = realloc(array->data, 3 * sizeof(double) * static_cast<size_t>(capacity));
        if (!grown) return -1;
        array->data = static_cast<double*>(grown);
        array->capacity = capacity;
    }
    memcpy(array->data + 3 * static_cast<size_t>(array->count), point, 3 * sizeof(double));
    ++array->count;
    return 1;
}

void pointArrayFree(PointArray* array) {
    if (!array) return;
    free(array->data);
    free(array);
}
