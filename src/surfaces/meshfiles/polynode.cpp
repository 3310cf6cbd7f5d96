// Polyhedron mesh nodes and their growing item arrays.
#include "surfaces/meshfiles/polynode.h"

#include <cstdlib>

#include "kernel/base/mem.h"

namespace {

constexpr int32_t kFirstCapacityMax = 65536;

PolyNode* createNode(const char* name, int32_t nFace, bool facets) {
    auto* node = static_cast<PolyNode*>(memCalloc(sizeof(PolyNode)));
    if (node == nullptr) return nullptr;
    node->name = strDup(name != nullptr ? name : "");
    node->faceCount = nFace > 0 ? nFace : 0;
    node->capacity = nFace < 1 ? 1 : (nFace > kFirstCapacityMax ? kFirstCapacityMax : nFace);
    const size_t item = facets ? sizeof(Facet98) : sizeof(Triangle3D);
    void* items = memCalloc(static_cast<size_t>(node->capacity), item);
    if (node->name == nullptr || items == nullptr) {
        std::free(items);
        std::free(node->name);
        std::free(node);
        return nullptr;
    }
    if (facets)
        node->facets = static_cast<Facet98*>(items);
    else
        node->triangles = static_cast<Triangle3D*>(items);
    return node;
}

template <typename T>
bool makeRoom(T** items, int32_t* capacity, int32_t used, int32_t need, int32_t step) {
    if (used + need <= *capacity) return true;
    if (*capacity > INT32_MAX - step) return false;
    const int32_t grown = *capacity + step;
    T* block = static_cast<T*>(memRealloc(*items, sizeof(T) * static_cast<size_t>(grown)));
    if (block == nullptr) return false;
    *items = block;
    *capacity = grown;
    return true;
}

}  // namespace

PolyNode* polyNodeCreateFacets(const char* name, int32_t nFace) {
    return createNode(name, nFace, true);
}

PolyNode* polyNodeCreateTriangles(const char* name, int32_t nFace) {
    return createNode(name, nFace, false);
}

int polyNodeAddFacet(PolyNode* node, const Vec3* points, int n) {
    if (node == nullptr || node->facets == nullptr || points == nullptr || n < 3 || n > 4) return 0;
    if (!makeRoom(&node->facets, &node->capacity, node->used, 1, 128)) return 0;
    Facet98 f;
    f.flag = 0;
    for (int k = 0; k < 4; ++k) f.p[k] = points[k < n ? k : 2];
    node->facets[node->used++] = f;
    return 1;
}

int polyNodeAddTriangles(PolyNode* node, const Vec3* points, int n) {
    if (node == nullptr || node->triangles == nullptr || points == nullptr || n < 3 || n > 4) return 0;
    const int32_t need = n == 4 ? 2 : 1;
    if (!makeRoom(&node->triangles, &node->capacity, node->used, need, 65536)) return 0;
    node->triangles[node->used++] = Triangle3D{{points[0], points[1], points[2]}};
    if (n == 4) node->triangles[node->used++] = Triangle3D{{points[2], points[3], points[0]}};
    return 1;
}

int polyNodeResizeTriangles(PolyNode* node) {
    if (node == nullptr || node->triangles == nullptr) return 0;
    const int32_t keep = node->used < 1 ? 1 : node->used;
    if (keep == node->capacity) return 1;
    auto* block =
        static_cast<Triangle3D*>(memRealloc(node->triangles, sizeof(Triangle3D) * static_cast<size_t>(keep)));
    if (block == nullptr) return 1;  // the larger array stays valid
    node->triangles = block;
    node->capacity = keep;
    return 1;
}

void polyNodeFreeList(PolyNode* list) {
    while (list != nullptr) {
        PolyNode* next = list->next;
        std::free(list->name);
        std::free(list->facets);
        std::free(list->triangles);
        std::free(list);
        list = next;
    }
}
