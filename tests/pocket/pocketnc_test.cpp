// NC output of one plane: entry sequence, header, short arcs and gap rules.
#include "pocket/pocketnc.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kernel/ccp.h"
#include "kernel/ncchan.h"
#include "kernel/ncrecord.h"
#include "pocket/pocketstate.h"
#include "pocket_util.h"

namespace {

struct Rec {
    int channel, type;
    std::string name, value;
    double x, y, z;
};

std::vector<Rec>& log() {
    static std::vector<Rec> l;
    return l;
}

template <int Channel>
int capture(CycleRecord*, NcRecord* r) {
    char name[KVNC_TEXT_SIZE], value[KVNC_TEXT_SIZE];
    int type = ncRecGetI32(r, KVNC_TYPE);
    Rec out{Channel, type, "", "", 0, 0, 0};
    if (type == 3131 || type == 301 || type == 3001) {
        out.name = ncRecGetText(r, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, name);
        out.value = ncRecGetText(r, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value);
    } else if (type == 3121) {
        out.x = ncRecGetF64(r, KVNC_ARC_CENTRE_X);
        out.y = ncRecGetF64(r, KVNC_ARC_CENTRE_Y);
    } else {
        out.x = ncRecGetF64(r, KVNC_POINT_X);
        out.y = ncRecGetF64(r, KVNC_POINT_Y);
        out.z = ncRecGetF64(r, KVNC_POINT_Z);
    }
    log().push_back(out);
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

std::vector<int> types(int channel) {
    std::vector<int> t;
    for (const Rec& r : log())
        if (r.channel == channel) t.push_back(r.type);
    return t;
}

int indexOf(const std::string& name, const std::string& value, size_t from = 0) {
    for (size_t i = from; i < log().size(); ++i)
        if (log()[i].name == name && log()[i].value == value) return static_cast<int>(i);
    return -1;
}

}  // namespace

TEST(PocketNc, FirstPassRecordsInOrder) {
    NcPlane plane;
    pocketNcHeader();
    std::vector<ContourElement> path = polygon({{0, 0}, {20, 0}, {20, 20}, {0, 20}});
    path.push_back(arcElem(10, 0, 10, M_PI, 2 * M_PI, 1));
    for (const ContourElement& e : path) EXPECT_EQ(pocketEmitElement(&e), 1);
    pocketContourEnd();
    std::vector<int> expected = {3101, 3102, 3102, 3112, 3131, 3131, 3131, 3001,
                                 3111, 3111, 3111, 3111, 3121, 3002, 3102};
    EXPECT_EQ(types(31), expected);
    std::vector<Rec> c31;
    for (const Rec& r : log())
        if (r.channel == 31) c31.push_back(r);
    ASSERT_EQ(c31.size(), expected.size());
    EXPECT_DOUBLE_EQ(c31[0].x, 0);
    EXPECT_DOUBLE_EQ(c31[1].z, 50);
    EXPECT_DOUBLE_EQ(c31[2].z, 2);
    EXPECT_DOUBLE_EQ(c31[3].z, -5);
    EXPECT_EQ(c31[4].name + "=" + c31[4].value, "start=drill");
    EXPECT_EQ(c31[5].name + "=" + c31[5].value, "surface=0");
    EXPECT_EQ(c31[6].name + "=" + c31[6].value, "depth=5");
    EXPECT_DOUBLE_EQ(c31[12].x, 10);
    EXPECT_DOUBLE_EQ(c31[14].z, 50);
}

TEST(PocketNc, FeedWordsAroundThePlungeAndHeaderOnce) {
    NcPlane plane;
    pocketNcHeader();
    pocketNcHeader();
    ContourElement e = lineElem(0, 0, 10, 0);
    pocketEmitElement(&e);
    int header = 0;
    for (const Rec& r : log()) header += r.name == "cycleFct" && r.value == "pocketMilling";
    EXPECT_EQ(header, 1);
    EXPECT_GE(indexOf("aliasDef", "FX,FX,800,1"), 0);
    for (const char* word : {"CPLANE", "CDIST", "RPLANE"}) {
        bool found = false;
        for (const Rec& r : log()) found |= r.name == word;
        EXPECT_TRUE(found) << word;
    }
    int plunge = -1;
    for (size_t i = 0; i < log().size(); ++i)
        if (log()[i].type == 3112) plunge = static_cast<int>(i);
    ASSERT_GE(plunge, 0);
    int useZ = indexOf("aliasUse", "FZ"), trZ = indexOf("tr", "FZ");
    EXPECT_TRUE(useZ >= 0 && useZ < plunge && trZ > useZ && trZ < plunge);
    EXPECT_GT(indexOf("aliasUse", "FX", plunge), plunge);
    EXPECT_GT(indexOf("tr", "FX", plunge), plunge);
}

// A counter-clockwise arc about (0,0) of radius 1 whose chord is given; its
// centre arrives 1e-3 off along the chord so that a re-centring shows.
TEST(PocketNc, ShortArcChords) {
    struct Case {
        double chord;
        int written;
        bool recentred;
    } cases[] = {{0.009, 0, false}, {0.01, 1, true}, {0.03, 1, true}, {0.05, 1, false}};
    for (const Case& c : cases) {
        NcPlane plane;
        pocketNcHeader();
        double h = c.chord / 2, y = std::sqrt(1 - h * h);
        ContourElement a = arcElem(0, 0, 1, 0, 0, 1);
        a.g[kAsx] = h;
        a.g[kAsy] = y;
        a.g[kAex] = -h;
        a.g[kAey] = y;
        a.g[kAcx] += 1e-3;
        ContourElement lead = lineElem(2, 2, a.g[kAsx], a.g[kAsy]);
        pocketEmitElement(&lead);
        EXPECT_EQ(pocketEmitElement(&a), c.written) << c.chord;
        int arcs = 0;
        for (const Rec& r : log()) {
            if (r.type != 3121) continue;
            ++arcs;
            double ex = c.recentred ? 0.0 : 1e-3;
            EXPECT_NEAR(r.x, ex, 1e-9) << c.chord;
            EXPECT_NEAR(r.y, 0.0, 1e-9) << c.chord;
        }
        EXPECT_EQ(arcs, c.written) << c.chord;
    }
}

// Gaps against the limits 2 r sf + tol (new entry beyond) and 1.5 r sf + tol
// (bridged by a feed line below), r 5 and sf 0.4.
TEST(PocketNc, GapRules) {
    struct Case {
        double gap;
        int entries, bridges;
    } cases[] = {{0.00005, 1, 0}, {1.0, 1, 1}, {2.9, 1, 1}, {3.5, 1, 0}, {4.0001, 1, 0}, {4.01, 2, 0}};
    for (const Case& c : cases) {
        NcPlane plane;
        pocketNcHeader();
        ContourElement a = lineElem(0, 0, 10, 0), b = lineElem(10 + c.gap, 0, 20, 0);
        pocketEmitElement(&a);
        pocketEmitElement(&b);
        int entries = 0, lines = 0;
        for (const Rec& r : log()) {
            entries += r.name == "start";
            lines += r.type == 3111;
        }
        EXPECT_EQ(entries, c.entries) << c.gap;
        EXPECT_EQ(lines, 2 + c.bridges) << c.gap;
    }
}
