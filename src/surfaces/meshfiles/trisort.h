// Order of triangle lists by height: the triangle with the highest vertex first.
#pragma once

#include "KVWOG5/lists.h"

double triMaxZ(const Triangle3D* tri);
// -1 when a's highest z is larger, 1 when smaller, 0 when equal (exactly; no tolerance).
int triCompareTopZ(const Triangle3D* a, const Triangle3D* b);
// In place with one triangle of scratch, O(n log n); equal keys keep no particular order.
void sortMeshTriangles(TriList* list);
// While on, sortMeshTriangles remembers the orders it gives: a list whose tops are the very same
// values in the very same places (the same file loaded again) takes its order without sorting. Off
// forgets them.
void meshSortKeepOrders(int on);
// The permutation sortMeshTriangles gives n triangles with these highest z: order[i] is the place of
// the triangle that goes to position i. False when memory is short.
bool meshTopOrder(const double* tops, int32_t n, int32_t* order);

// The heap sort behind sortMeshTriangles for any item and order (cmp(a, b) < 0: a comes first); cmp
// may be any callable. Equal keys end up in an order fixed by the sequence of comparisons alone.
template <typename T, typename Cmp>
void meshHeapSortBy(T* data, int32_t n, Cmp cmp) {
    if (data == nullptr || n < 2) return;
    // The sifted item travels down as a hole: the same comparisons as swapping it step by step.
    auto sift = [&](int32_t i, int32_t end) {
        const T item = data[i];
        for (;;) {
            int32_t child = 2 * i + 1;
            if (child >= end) break;
            if (child + 1 < end && cmp(&data[child + 1], &data[child]) > 0) ++child;
            if (cmp(&item, &data[child]) >= 0) break;
            data[i] = data[child];
            i = child;
        }
        data[i] = item;
    };
    for (int32_t i = n / 2; i >= 0; --i) sift(i, n);
    for (int32_t end = n - 1; end > 0; --end) {
        T tmp = data[0];
        data[0] = data[end];
        data[end] = tmp;
        sift(0, end);
    }
}

template <typename T>
void meshHeapSort(T* data, int32_t n, int (*cmp)(const T*, const T*)) {
    meshHeapSortBy(data, n, cmp);
}
