#include "surfaces/meshfiles/facetlist.h"

#include <gtest/gtest.h>

TEST(FacetList, CreateClampsCapacityAndResetsBox) {
    const struct { int32_t n, capacity; } cases[] = {{-3, 2}, {0, 2}, {1, 2}, {2, 2}, {7, 7}};
    for (const auto& c : cases) {
        FacetList* list = facetListCreate(c.n);
        ASSERT_NE(list, nullptr);
        EXPECT_EQ(list->count, 0);
        EXPECT_EQ(list->capacity, c.capacity);
        EXPECT_EQ(list->xmin, 1e10);
        EXPECT_EQ(list->zmin, 1e10);
        EXPECT_EQ(list->ymax, -1e10);
        ASSERT_NE(list->data, nullptr);
        list->data[c.capacity - 1].flag = 1;  // the whole capacity is addressable
        facetListFree(list);
    }
    facetListFree(nullptr);
}
