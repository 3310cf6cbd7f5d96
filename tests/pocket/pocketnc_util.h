// Records channels 31 and 10 of the pocket record in one sequence for the NC output tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "pocket/ccp.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncrecord.h"
#include "pocket/pocketnc.h"
#include "pocket/pocketstate.h"
#include "pocket_util.h"

namespace pocketnctest {

struct Rec {
    int channel, type;
    std::string name, value;
    double x, y, z;
    double cx, cy;  // arcs: the centre (x, y the end)
    int32_t clockwise;
    bool operator==(const Rec&) const = default;
};

inline std::vector<Rec>& log() {
    static std::vector<Rec> l;
    return l;
}

// A record of a channel: texts for the numbers below 3100 and 3131, the end and centre of an
// arc, the point of any other move.
inline Rec decode(int channel, const NcRecord* r) {
    char name[KVNC_TEXT_SIZE], value[KVNC_TEXT_SIZE];
    int type = ncRecGetI32(r, KVNC_TYPE);
    Rec out{channel, type, "", "", 0, 0, 0, 0, 0, 0};
    if (type < 3100 || type == 3131) {
        out.name = ncRecGetText(r, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, name);
        out.value = ncRecGetText(r, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value);
    } else if (type == 3121) {
        out.x = ncRecGetF64(r, KVNC_ARC_END_X);
        out.y = ncRecGetF64(r, KVNC_ARC_END_Y);
        out.cx = ncRecGetF64(r, KVNC_ARC_CENTRE_X);
        out.cy = ncRecGetF64(r, KVNC_ARC_CENTRE_Y);
        out.clockwise = ncRecGetI32(r, KVNC_ARC_DIR);
    } else {
        out.x = ncRecGetF64(r, KVNC_POINT_X);
        out.y = ncRecGetF64(r, KVNC_POINT_Y);
        out.z = ncRecGetF64(r, KVNC_POINT_Z);
    }
    return out;
}

template <int Channel>
inline int capture(CycleRecord*, NcRecord* r) {
    log().push_back(decode(Channel, r));
    return 1;
}

// A plane of surface 0, depth 5, clearance 2, retract plane 50, tool radius 5, step factor 0.4.
struct NcPlane : PocketErrors {
    NcPlane() {
        log().clear();
        pocketOutputResetState();
        EXPECT_EQ(ncRegisterHandler(&kvCCP, 31, capture<31>, capture<31>, 1), 1);
        EXPECT_EQ(ncRegisterHandler(&kvCCP, 10, capture<10>, capture<10>, 1), 1);
        CcpParams& p = kvCCPParams;
        p.surface = 0;
        p.depth = 5;
        p.clearanceDistance = 2;
        p.retractPlane = 50;
        p.planeFeedrate = 800;
        p.zFeedrate = 200;
        p.plungeType = 2;
        p.epsilon = 1e-4;
        p.firstMovePending = 1;
        pocketKernel().toolRadius = 5;
        pocketKernel().stepFactor = 0.4;
    }
    ~NcPlane() { pocketOutputResetState(); }
};

inline std::vector<Rec> records(int channel) {
    std::vector<Rec> out;
    for (const Rec& r : log())
        if (r.channel == channel) out.push_back(r);
    return out;
}

inline std::vector<int> types(int channel) {
    std::vector<int> t;
    for (const Rec& r : records(channel)) t.push_back(r.type);
    return t;
}

inline int indexOf(const std::string& name, const std::string& value, size_t from = 0) {
    for (size_t i = from; i < log().size(); ++i)
        if (log()[i].name == name && log()[i].value == value) return static_cast<int>(i);
    return -1;
}

}  // namespace pocketnctest
using namespace pocketnctest;
