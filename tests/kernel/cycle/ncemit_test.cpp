#include "kernel/ncout/ncemit.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "kernel/base/numtext.h"
#include "kernel/base/rng.h"
#include "kernel/cycle/testrecord.h"

namespace {

struct Emitted {
    uint16_t channel;
    NcRecord record;
};
std::vector<Emitted> gOut;

template <uint16_t C>
int capture(CycleRecord*, NcRecord* o) {
    gOut.push_back({C, *o});
    return 1;
}

int32_t typeOf(const Emitted& e) {
    return ncRecGetI32(&e.record, KVNC_TYPE);
}

std::string text(const Emitted& e, size_t offset, size_t size = KVNC_TEXT_SIZE) {
    char buf[KVNC_TEXT_SIZE];
    return ncRecGetText(&e.record, offset, size, buf);
}

// Every byte of the record outside [from, to) ranges is zero.
bool zeroOutside(const Emitted& e, std::vector<std::pair<size_t, size_t>> used) {
    used.push_back({0, 4});
    for (size_t i = 0; i < KVNC_RECORD_SIZE; ++i) {
        bool inside = false;
        for (const auto& u : used) inside = inside || (i >= u.first && i < u.second);
        if (!inside && e.record.bytes[i] != 0) return false;
    }
    return true;
}

class NcEmitTest : public ::testing::Test {
  protected:
    void SetUp() override {
        numTextResetState();
        initTestRecord(&rec);
        rec.firstRecordPending = 0;
        ncRegisterHandler(&rec, 0, capture<0>, nullptr, 1);
        ncRegisterHandler(&rec, 1, capture<1>, nullptr, 1);
        ncRegisterHandler(&rec, 2, capture<2>, nullptr, 1);
        ncRegisterHandler(&rec, 10, capture<10>, nullptr, 1);
        ncRegisterHandler(&rec, 11, capture<11>, nullptr, 1);
        ncRegisterHandler(&rec, 12, capture<12>, nullptr, 1);
        ncRegisterHandler(&rec, 31, capture<31>, nullptr, 1);
        ncRegisterHandler(&rec, 32, capture<32>, nullptr, 1);
        ncRegisterHandler(&rec, 41, capture<41>, nullptr, 1);
        ncRegisterHandler(&rec, 42, capture<42>, nullptr, 1);
        gOut.clear();
    }
    void TearDown() override {
        ncFreeChannels(&rec);
        kvListFree(rec.vars);
        rec.vars = nullptr;
        numTextResetState();
    }
    CycleRecord rec;
};

}  // namespace

TEST_F(NcEmitTest, TextRecordsAreZeroFilledAndCutToTheirFields) {
    std::string longText(300, 'a');
    ncError(&rec, "short");
    ncSetVariable(&rec, longText.c_str(), longText.c_str());
    ASSERT_EQ(gOut.size(), 2u);
    EXPECT_EQ(gOut[0].channel, 0);
    EXPECT_EQ(typeOf(gOut[0]), 101);
    EXPECT_EQ(text(gOut[0], KVNC_TEXT_NAME), "error");
    EXPECT_EQ(text(gOut[0], KVNC_TEXT_VALUE), "short");
    EXPECT_TRUE(zeroOutside(gOut[0], {{8, 13}, {264, 269}}));
    EXPECT_EQ(gOut[1].channel, 10);
    EXPECT_EQ(typeOf(gOut[1]), 301);
    EXPECT_EQ(text(gOut[1], KVNC_TEXT_NAME), std::string(255, 'a'));
    EXPECT_EQ(text(gOut[1], KVNC_TEXT_VALUE), std::string(255, 'a'));
    EXPECT_TRUE(zeroOutside(gOut[1], {{8, 263}, {264, 519}}));
}

TEST_F(NcEmitTest, BlockRecordsKeep254Characters) {
    std::string longText(300, 'b');
    EXPECT_EQ(ncBlockBeginName(&rec, "", "x", "y"), 0);
    EXPECT_EQ(ncBlockEndName(&rec, nullptr, "x", "y"), 0);
    EXPECT_TRUE(gOut.empty());
    ncBlockBeginName(&rec, longText.c_str(), "two", nullptr);
    ncBlockEndId(&rec, 17, longText.c_str(), "three");
    ncBlockValue5003(&rec, 9);
    ncBlockRecord5004(&rec);
    ASSERT_EQ(gOut.size(), 4u);
    EXPECT_EQ(typeOf(gOut[0]), 5001);
    EXPECT_EQ(ncRecGetU32(&gOut[0].record, KVNC_BLOCK_NUMBER), 0u);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_BLOCK_KIND), 4);
    EXPECT_EQ(text(gOut[0], KVNC_BLOCK_TEXT1), std::string(254, 'b'));
    EXPECT_EQ(text(gOut[0], KVNC_BLOCK_TEXT2), "two");
    EXPECT_EQ(text(gOut[0], KVNC_BLOCK_TEXT3), "");
    EXPECT_EQ(typeOf(gOut[1]), 5002);
    EXPECT_EQ(ncRecGetU32(&gOut[1].record, KVNC_BLOCK_NUMBER), 17u);
    EXPECT_EQ(ncRecGetI32(&gOut[1].record, KVNC_BLOCK_KIND), 1);
    EXPECT_EQ(text(gOut[1], KVNC_BLOCK_TEXT1), "");
    EXPECT_EQ(text(gOut[1], KVNC_BLOCK_TEXT2), std::string(254, 'b'));
    EXPECT_TRUE(zeroOutside(gOut[1], {{8, 16}, {272, 526}, {528, 533}}));
    EXPECT_EQ(typeOf(gOut[2]), 5003);
    EXPECT_EQ(ncRecGetU32(&gOut[2].record, KVNC_BLOCK_NUMBER), 9u);
    EXPECT_EQ(typeOf(gOut[3]), 5004);
    EXPECT_TRUE(zeroOutside(gOut[3], {}));
    for (const auto& e : gOut) EXPECT_EQ(e.channel, 12);
}

TEST_F(NcEmitTest, VariableFormsOfTheEmitters) {
    struct Case {
        uint16_t channel;
        int32_t type;
        const char* name;
        const char* value;
    };
    ncSetFeedVariable(&rec, "FX", 1.5);
    ncAliasDef(&rec, "FX", "FX", "1200", "");
    ncAliasDef(&rec, "S", "S", "800", "2");
    ncTr5X(&rec);
    ncTr5X0(&rec);
    ncAssignRecord(&rec, "a", "b");
    ncPathBegin(&rec, "p1", "c", "u");
    ncPathBegin(&rec, nullptr, "", "u");
    ncPathBegin41(&rec, "p2", "c", "");
    ncComment(&rec, "note");
    EXPECT_EQ(ncCommentText(&rec, ""), 0);
    ncCommentText(&rec, "remark");
    const Case want[] = {
        {10, 301, "arg", "F:\"FX\":=1.5"},
        {10, 301, "aliasDef", "FX,FX,1200,1"},
        {10, 301, "aliasDef", "S,S,800,2"},
        {10, 301, "tr", "5X"},
        {10, 301, "tr", "5X0"},
        {31, 3131, "a", "b"},
        {1, 203, "loc", "\"a\":=\"b\""},
        {31, 3001, "p1", "cmnt[c] u[u]"},
        {31, 3001, "", "u[u]"},
        {41, 3001, "p2", "cmnt[c]"},
        {2, 1001, "note", ""},
        {32, 4101, "remark", ""},
    };
    ASSERT_EQ(gOut.size(), std::size(want));
    for (size_t i = 0; i < gOut.size(); ++i) {
        EXPECT_EQ(gOut[i].channel, want[i].channel) << i;
        EXPECT_EQ(typeOf(gOut[i]), want[i].type) << i;
        EXPECT_EQ(text(gOut[i], KVNC_TEXT_NAME), want[i].name) << i;
        EXPECT_EQ(text(gOut[i], KVNC_TEXT_VALUE), want[i].value) << i;
    }
}

// The comments "comment_1" up to "comment_<lastComment>" that are there, in the order of their
// numbers; names written otherwise are not comments.
TEST_F(NcEmitTest, CommentsComeFromTheNumberedVariables) {
    const struct {
        const char* last;
        std::vector<std::string> written;
    } cases[] = {
        {"3", {"first", "third"}},
        {"12", {"first", "third", "tenth", "twelfth"}},
        {"9223372036854775807", {"first", "third", "tenth", "twelfth"}},
        {"99999999999999999999999", {"first", "third", "tenth", "twelfth"}},
        {"0", {}},
        {"-4", {}},
        {"many", {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.last);
        kvListFree(rec.vars);
        rec.vars = nullptr;
        for (const auto& [key, value] : {std::pair{"comment_12", "twelfth"},
                                         {"comment_3", "third"},
                                         {"comment_10", "tenth"},
                                         {"comment_1", "first"},
                                         {"comment_03", "not a comment"},
                                         {"comment_+2", "not a comment"},
                                         {"comment_", "not a comment"},
                                         {"lastComment", c.last}})
            rec.vars = kvListSet(rec.vars, key, value, kKvFile);
        gOut.clear();
        // A count far beyond the comments must not be walked number by number: a stalled run fails here.
        ASSERT_EXIT(
            {
                alarm(10);
                ncWriteComments(&rec);
                _exit(0);
            },
            ::testing::ExitedWithCode(0), "");
        EXPECT_EQ(ncWriteComments(&rec), c.written.empty() ? 0 : 1);
        std::vector<std::string> written;
        for (const auto& e : gOut) written.push_back(text(e, KVNC_TEXT_NAME));
        EXPECT_EQ(written, c.written);
    }
}

TEST_F(NcEmitTest, ToolAxisIsNormalisedOrNotWritten) {
    EXPECT_EQ(ncToolAxis(&rec, 0, 0, 0), 0);
    EXPECT_EQ(ncToolAxis(&rec, 0, 0, 1e-9), 0);
    ncToolAxis(&rec, 0, 0, 2);
    ncToolAxis(&rec, 3, 0, 4);
    // The tool frame turns the axis, the frame's inverse turns it back: frame
    // rotated +90 degrees about z, tool frame identity.
    double frame[16] = {0, -1, 0, 5, 1, 0, 0, 6, 0, 0, 1, 7, 0, 0, 0, 1};
    for (int i = 0; i < 16; ++i) rec.frame[i] = frame[i];
    ncWriteToolAxisFromFrame(&rec, 1, 0, 0);
    ASSERT_EQ(gOut.size(), 3u);
    for (const auto& e : gOut) {
        EXPECT_EQ(e.channel, 11);
        EXPECT_EQ(typeOf(e), 3131);
        EXPECT_EQ(text(e, KVNC_TEXT_NAME), "toolAxis");
    }
    EXPECT_EQ(text(gOut[0], KVNC_TEXT_VALUE), "0,0,1");
    EXPECT_EQ(text(gOut[1], KVNC_TEXT_VALUE), "0.6,0,0.8");
    EXPECT_EQ(text(gOut[2], KVNC_TEXT_VALUE), "0,-1,0");
}

TEST_F(NcEmitTest, PlaneMovesAndCompanionsShareTheirBytes) {
    ncMove3101(&rec, 1.5, 2.5);
    ncMove3112(&rec, -3.0);
    ncMove3121(&rec, 1, 10, 20, 30, 40);
    ncMove3121(&rec, 0, 10, 20, 30, 40);
    ASSERT_EQ(gOut.size(), 8u);
    EXPECT_EQ(gOut[0].channel, 31);
    EXPECT_EQ(typeOf(gOut[0]), 3101);
    EXPECT_EQ(gOut[1].channel, 32);
    EXPECT_EQ(typeOf(gOut[1]), 4001);
    EXPECT_EQ(ncRecGetF64(&gOut[1].record, KVNC_COMP_X), 1.5);
    EXPECT_EQ(ncRecGetF64(&gOut[1].record, KVNC_COMP_Y), 2.5);
    EXPECT_EQ(ncRecGetF64(&gOut[1].record, KVNC_POINT_X), 1.5);  // the move's fields stay
    EXPECT_TRUE(zeroOutside(gOut[1], {{8, 24}, {40, 56}}));
    EXPECT_EQ(typeOf(gOut[2]), 3112);
    EXPECT_EQ(ncRecGetF64(&gOut[2].record, KVNC_POINT_Z), -3.0);
    EXPECT_EQ(typeOf(gOut[3]), 4005);
    EXPECT_EQ(ncRecGetF64(&gOut[3].record, KVNC_COMP_Z), -3.0);
    EXPECT_EQ(typeOf(gOut[4]), 3121);
    EXPECT_EQ(ncRecGetI32(&gOut[4].record, KVNC_ARC_DIR), 1);
    EXPECT_EQ(ncRecGetF64(&gOut[4].record, KVNC_ARC_CENTRE_Y), 40.0);
    EXPECT_EQ(typeOf(gOut[5]), 4008);
    EXPECT_EQ(ncRecGetF64(&gOut[5].record, KVNC_COMP_END_X), 10.0);
    EXPECT_EQ(ncRecGetF64(&gOut[5].record, KVNC_COMP_CENTRE_Y), 40.0);
    EXPECT_EQ(typeOf(gOut[7]), 4009);
}

TEST_F(NcEmitTest, FiveAxisMovesFlagOnlyWhatChanged) {
    double lx = 1, ly = 2, lz = 3, li = 0, lj = 0, lk = 1;
    ncMove3107(&rec, &lx, &ly, &lz, 1, 2, 3, &li, &lj, &lk, 0, 0, 1);
    ncMove3107(&rec, &lx, &ly, &lz, 1.0000001, 2, 3, &li, &lj, &lk, 0, 0, 1.000000001);  // below the decimals
    EXPECT_TRUE(gOut.empty());

    ncMove3107(&rec, &lx, &ly, &lz, 1, 2, 4, &li, &lj, &lk, 0, 0, 1);
    ASSERT_EQ(gOut.size(), 2u);
    EXPECT_EQ(typeOf(gOut[0]), 3107);
    EXPECT_EQ(typeOf(gOut[1]), 4016);
    EXPECT_EQ(gOut[1].channel, 32);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_X), 0);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_Y), 0);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_Z), 1);
    EXPECT_EQ(ncRecGetF64(&gOut[0].record, KVNC_MOVE5_X), 1.0);
    EXPECT_EQ(ncRecGetF64(&gOut[0].record, KVNC_MOVE5_Z), 4.0);
    EXPECT_TRUE(zeroOutside(gOut[0], {{8, 48}}));
    EXPECT_EQ(lz, 4.0);

    gOut.clear();
    ncMove3114(&rec, &lx, &ly, &lz, 1, 2, 4, &li, &lj, &lk, 0, 1, 1);
    ASSERT_EQ(gOut.size(), 2u);
    EXPECT_EQ(typeOf(gOut[0]), 3118);
    EXPECT_EQ(typeOf(gOut[1]), 4020);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_Z), 0);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_I), 0);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_J), 1);
    EXPECT_EQ(ncRecGetF64(&gOut[0].record, KVNC_MOVE5_K), 1.0);
    EXPECT_EQ(lj, 1.0);

    gOut.clear();
    ncMove3107(&rec, &lx, &ly, &lz, 5, 2, 4, &li, &lj, &lk, 0, 0, 1);
    ASSERT_EQ(gOut.size(), 2u);
    EXPECT_EQ(typeOf(gOut[0]), 3109);
    EXPECT_EQ(typeOf(gOut[1]), 4019);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_X), 1);
    EXPECT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_J), 1);
}

// A component is flagged exactly when printf's text of it changes (coordinates rounded half up at the
// decimals, axis components at eight): equal values, signed zeros, steps below and above a last digit.
TEST_F(NcEmitTest, SeededFiveAxisFlagsFollowThePrintedText) {
    auto text = [](double v, int k) {
        char buf[400];
        snprintf(buf, sizeof buf, "%.*f", k < 3 ? 6 : 8, k < 3 ? std::floor(v * 1e6 + 0.5) / 1e6 + 0.0 : v);
        return std::string(buf);
    };
    const double steps[] = {0.0, -0.0, 1e-10, 3e-9, 6e-9, 4e-7, 6e-7, 1e-3};
    double last[6] = {1, 2, 3, 0, 0, 1}, now[6];
    rngResetState();
    for (int n = 0; n < 3000; ++n) {
        for (int k = 0; k < 6; ++k)
            now[k] = rngBelow(4) == 0 ? last[k] : last[k] * rngBelow(2) + steps[rngBelow(8)];
        int32_t flag[6], any = 0;
        for (int k = 0; k < 6; ++k) any |= flag[k] = text(last[k], k) != text(now[k], k);
        gOut.clear();
        ncMove3114(&rec, &last[0], &last[1], &last[2], now[0], now[1], now[2], &last[3], &last[4], &last[5],
                   now[3], now[4], now[5]);
        ASSERT_EQ(gOut.empty(), any == 0) << n;
        for (int k = 0; k < (gOut.empty() ? 0 : flag[3] | flag[4] | flag[5] ? 6 : 3); ++k)
            ASSERT_EQ(ncRecGetI32(&gOut[0].record, KVNC_MOVE5_FLAG_X + 4 * (k % 3) + 40 * (k / 3)), flag[k]);
    }
}

TEST_F(NcEmitTest, PolylinePointsAndTriples) {
    ncPoint3103(&rec, 1, 2, 3);
    ncPoint3113(&rec, 4, 5, 6);
    ncPathEnd41(&rec);
    ncRecord7001(&rec, 7, 8, 9);
    ASSERT_EQ(gOut.size(), 4u);
    EXPECT_EQ(gOut[0].channel, 41);
    EXPECT_EQ(typeOf(gOut[0]), 3103);
    EXPECT_EQ(ncRecGetF64(&gOut[1].record, KVNC_POINT_Z), 6.0);
    EXPECT_EQ(typeOf(gOut[2]), 3002);
    EXPECT_EQ(gOut[3].channel, 42);
    EXPECT_EQ(typeOf(gOut[3]), 7001);
    for (size_t base : {KVNC_TRIPLE_P1, KVNC_TRIPLE_P2, KVNC_TRIPLE_P3}) {
        EXPECT_EQ(ncRecGetF64(&gOut[3].record, base), 7.0);
        EXPECT_EQ(ncRecGetF64(&gOut[3].record, base + 16), 9.0);
    }
    EXPECT_TRUE(zeroOutside(gOut[3], {{16, 88}}));
}
