// Boxes, list entries and a many-toothed comb for the ring, island and CUT-list tests.
#pragma once

#include <algorithm>
#include <vector>

#include "kernel/base/runreset.h"
#include "pocket/contouroffset.h"
#include "pocket/cutlists.h"
#include "pocket/islands.h"
#include "pocket/planerings.h"
#include "pocket/regiontree.h"
#include "pocket/ringhelpers.h"
#include "pocket/ringround.h"
#include "pocket_util.h"

namespace ringtest {

// The ring modules' state reset around a test, with a tool radius r, a step factor f and a
// tolerance of 1e-4.
struct RingState : PocketErrors {
    RingState(double r, double f = 0.4) {
        reset();
        pocketKernel().toolRadius = r;
        pocketKernel().stepFactor = f;
        pocketKernel().tolerance = 1e-4;
    }
    ~RingState() {
        cutListsFree();
        reset();
    }
    static void reset() {
        runResetAll();
    }
};

inline std::vector<ContourElement> box(double x0, double y0, double x1, double y1, bool ccw = true,
                                       int32_t tag = 0) {
    std::vector<Vec2> p = {{x0, y0}, {x1, y0}, {x1, y1}, {x0, y1}};
    if (!ccw) std::reverse(p.begin(), p.end());
    std::vector<ContourElement> c = polygon(p);
    for (ContourElement& e : c) e.sourceTag = tag;
    return c;
}

inline ContourHeader header(const std::vector<ContourElement>& c, bool ccw, bool left, int16_t tag = 0) {
    ContourHeader h{};
    h.elementCount = static_cast<uint32_t>(c.size());
    h.ccw = ccw;
    h.leftSide = left;
    h.tag = tag;
    return h;
}

inline void put(const char* list, const std::vector<ContourElement>& c, bool ccw, bool left,
                int16_t tag = 0) {
    const ContourHeader h = header(c, ccw, left, tag);
    ASSERT_EQ(clistInsert(list, c.data(), &h, -1), 1);
}

// A box attached to the region tree at a level, its elements tagged in order; the node's index.
inline int32_t attachBox(double x0, double y0, double x1, double y1, int32_t level, bool ccw = true,
                         const std::vector<int32_t>& tags = {}, uint8_t leftSide = 1) {
    std::vector<ContourElement> c = box(x0, y0, x1, y1, ccw);
    for (size_t i = 0; i < tags.size() && i < c.size(); ++i) c[i].sourceTag = tags[i];
    const ContourHeader h = header(c, ccw, leftSide);
    return regionAttachContour(c.data(), &h, 0, level);
}

// A counter-clockwise comb over x0..x1 with teeth from y0 up to y1: a band
// across it between y0 and y1 crosses it four times per tooth.
inline std::vector<ContourElement> comb(double x0, double x1, double y0, double y1, int teeth) {
    std::vector<Vec2> p = {{x0, y0 - 1}, {x1, y0 - 1}};
    for (int i = teeth; i > 0; --i) {
        p.push_back({x0 + (x1 - x0) * i / teeth, y1});
        p.push_back({x0 + (x1 - x0) * (i - 0.5) / teeth, y0});
    }
    return polygon(p);
}

}  // namespace ringtest
using namespace ringtest;
