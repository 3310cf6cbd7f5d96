// Order of triangle lists by height: the triangle with the highest vertex first.
#pragma once

#include "KVWOG5/lists.h"

double triMaxZ(const Triangle3D* tri);
// -1 when a's highest z is larger, 1 when smaller, 0 when equal (exactly; no tolerance).
int triCompareTopZ(const Triangle3D* a, const Triangle3D* b);
// In place with one triangle of scratch, O(n log n); equal keys keep no particular order.
void sortMeshTriangles(TriList* list);

// The heap sort behind sortMeshTriangles for any item and order (cmp < 0: a comes first).
template <typename T>
void meshHeapSort(T* data, int32_t n, int (*cmp)(const T*, const T*)) {
    if (data == nullptr || n < 2) return;
    auto sift = [&](int32_t i, int32_t end) {
        for (;;) {
            int32_t child = 2 * i + 1;
            if (child >= end) return;
            if (child + 1 < end && cmp(&data[child + 1], &data[child]) > 0) ++child;
            if (cmp(&data[i], &data[child]) >= 0) return;
            T tmp = data[i];
            data[i] = data[child];
            data[child] = tmp;
            i = child;
        }
    };
    for (int32_t i = n / 2; i >= 0; --i) sift(i, n);
    for (int32_t end = n - 1; end > 0; --end) {
        T tmp = data[0];
        data[0] = data[end];
        data[end] = tmp;
        sift(0, end);
    }
}
