// Contours in named lists and region nodes for the tests of the passes, rest
// material and strategies.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "pocket/clist.h"
#include "pocket/regiontree.h"
#include "pocket_util.h"

namespace strattest {

inline void insert(const char* list, const std::vector<ContourElement>& c, int16_t tag = 0) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.leftSide = 1;
    h.tag = tag;
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

inline std::vector<ContourElement> get(const char* list, int32_t i, ContourHeader* header = nullptr) {
    ContourHeader h{};
    if (clistGetHeader(list, &h, i) < 0) return {};
    std::vector<ContourElement> c(h.elementCount);
    clistGet(list, c.data(), &h, i);
    if (header) *header = h;
    return c;
}

inline std::vector<ContourElement> tagged(std::vector<ContourElement> c, const std::vector<int32_t>& tags) {
    for (size_t i = 0; i < c.size() && i < tags.size(); ++i) c[i].sourceTag = tags[i];
    return c;
}

inline std::vector<Vec2> box(double x0, double y0, double x1, double y1) {
    return {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
}

inline int32_t attachRing(const std::vector<ContourElement>& c) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.leftSide = 1;
    return regionAttachContour(c.data(), &h, 0, 0);
}

inline std::vector<ContourElement> nodeRing(int32_t node) {
    const RegionNode* n = regionNode(node);
    if (!n) return {};
    std::vector<ContourElement> c(n->elementCount);
    if (!c.empty()) regionLoadElements(c.data(), static_cast<int32_t>(c.size()), n->elements);
    return c;
}

}  // namespace strattest
using namespace strattest;
