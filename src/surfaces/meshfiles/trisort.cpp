// Heap sort of triangle lists by their highest vertex.
#include "surfaces/meshfiles/trisort.h"

#include <utility>

namespace {

// Moves data[i] down the heap of n elements whose root comes latest in the order.
void siftDown(Triangle3D* data, int32_t i, int32_t n) {
    for (;;) {
        int32_t child = 2 * i + 1;
        if (child >= n) return;
        if (child + 1 < n && triCompareTopZ(&data[child + 1], &data[child]) > 0) ++child;
        if (triCompareTopZ(&data[i], &data[child]) >= 0) return;
        std::swap(data[i], data[child]);
        i = child;
    }
}

}  // namespace

double triMaxZ(const Triangle3D* tri) {
    double z = tri->p[0].z;
    if (tri->p[1].z > z) z = tri->p[1].z;
    if (tri->p[2].z > z) z = tri->p[2].z;
    return z;
}

int triCompareTopZ(const Triangle3D* a, const Triangle3D* b) {
    const double za = triMaxZ(a), zb = triMaxZ(b);
    if (za > zb) return -1;
    if (za < zb) return 1;
    return 0;
}

void sortMeshTriangles(TriList* list) {
    if (list == nullptr || list->data == nullptr || list->count < 2) return;
    Triangle3D* data = list->data;
    const int32_t n = list->count;
    for (int32_t i = n / 2; i >= 0; --i) siftDown(data, i, n);
    for (int32_t end = n - 1; end > 0; --end) {
        std::swap(data[0], data[end]);
        siftDown(data, 0, end);
    }
}
