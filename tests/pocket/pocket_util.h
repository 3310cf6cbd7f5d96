// Element builders and an error-record recorder on the pocket record for the pocket tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "geometry/vec.h"
#include "kernel/ccp.h"
#include "kernel/ncchan.h"
#include "kernel/ncrecord.h"
#include "pocket/clist.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketstate.h"

inline ContourElement lineElem(double x1, double y1, double x2, double y2, int32_t tag = 0) {
    ContourElement e{};
    e.type = kElemLine;
    e.sourceTag = tag;
    e.g[kLx1] = x1;
    e.g[kLy1] = y1;
    e.g[kLx2] = x2;
    e.g[kLy2] = y2;
    return e;
}

// An arc about (cx, cy) from angle a0 to a1 (radians) in the given direction.
inline ContourElement arcElem(double cx, double cy, double r, double a0, double a1, int32_t dir,
                              int32_t tag = 0) {
    ContourElement e{};
    e.type = kElemArc;
    e.sourceTag = tag;
    e.g[kAcx] = cx;
    e.g[kAcy] = cy;
    e.g[kAsx] = cx + r * std::cos(a0);
    e.g[kAsy] = cy + r * std::sin(a0);
    e.g[kAex] = cx + r * std::cos(a1);
    e.g[kAey] = cy + r * std::sin(a1);
    e.g[kAr] = r;
    e.direction = dir;
    return e;
}

// A closed polygon of lines through the points in order.
inline std::vector<ContourElement> polygon(const std::vector<Vec2>& p) {
    std::vector<ContourElement> out;
    for (size_t i = 0; i < p.size(); ++i) {
        const Vec2& a = p[i];
        const Vec2& b = p[(i + 1) % p.size()];
        out.push_back(lineElem(a.x, a.y, b.x, b.y));
    }
    return out;
}

// Records the error texts the pocket record sends on channel 0 and resets the pocket state.
class PocketErrors {
  public:
    PocketErrors() {
        pocketKernelResetState();
        pocketErrorResetState();
        clistResetState();
        texts().clear();
        EXPECT_EQ(ncRegisterHandler(&kvCCP, 0, record, record, 1), 1);
    }
    ~PocketErrors() {
        ncFreeChannels(&kvCCP);
        clistResetState();
        pocketKernelResetState();
        pocketErrorResetState();
    }
    PocketErrors(const PocketErrors&) = delete;
    PocketErrors& operator=(const PocketErrors&) = delete;

    static std::vector<std::string>& texts() {
        static std::vector<std::string> t;
        return t;
    }

  private:
    static int record(CycleRecord*, NcRecord* output) {
        char value[KVNC_TEXT_SIZE];
        texts().push_back(std::to_string(ncRecGetI32(output, KVNC_TYPE)) + " " +
                          ncRecGetText(output, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value));
        return 1;
    }
};
