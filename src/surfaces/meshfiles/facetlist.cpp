// Creation and release of facet arrays.
#include "surfaces/meshfiles/facetlist.h"

#include <cstdlib>

FacetList* facetListCreate(int32_t n) {
    const int32_t capacity = n < 2 ? 2 : n;
    FacetList* list = static_cast<FacetList*>(std::malloc(sizeof(FacetList)));
    if (list == nullptr) return nullptr;
    list->data = static_cast<Facet98*>(std::malloc(static_cast<size_t>(capacity) * sizeof(Facet98)));
    if (list->data == nullptr) {
        std::free(list);
        return nullptr;
    }
    list->count = 0;
    list->capacity = capacity;
    list->xmin = list->ymin = list->zmin = 1e10;
    list->xmax = list->ymax = list->zmax = -1e10;
    return list;
}

void facetListFree(FacetList* list) {
    if (list == nullptr) return;
    std::free(list->data);
    std::free(list);
}
