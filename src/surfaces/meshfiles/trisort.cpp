// Heap sort of triangle lists by their highest vertex.
#include "surfaces/meshfiles/trisort.h"

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
    meshHeapSort(list->data, list->count, triCompareTopZ);
}
