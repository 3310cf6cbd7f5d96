#include "kernel/base/msg.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncout.h"
#include "kernel/cycle/testrecord.h"

namespace {

struct Sent {
    uint16_t channel;
    int32_t type;
    std::string name, value;
};
std::vector<Sent> gSent;

int captureChannel0(CycleRecord*, NcRecord* output) {
    char name[KVNC_TEXT_SIZE], value[KVNC_TEXT_SIZE];
    gSent.push_back({0, ncRecGetI32(output, KVNC_TYPE),
                     ncRecGetText(output, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, name),
                     ncRecGetText(output, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value)});
    return 1;
}

class MsgTest : public ::testing::Test {
  protected:
    void SetUp() override {
        msgResetState();
        ncOutResetState();
        initTestRecord(&writer);
        writer.firstRecordPending = 0;
        ASSERT_EQ(ncRegisterHandler(&writer, 0, captureChannel0, acceptRecord, 1), 1);
        ncSetWriter(&writer);
        gSent.clear();
    }
    void TearDown() override {
        ncFreeChannels(&writer);
        ncOutResetState();
        msgResetState();
    }
    CycleRecord writer;
};

}  // namespace

TEST_F(MsgTest, LevelFiltersWithoutTheTraceBit) {
    struct Case {
        int32_t set, level, result;
    } cases[] = {
        {3, 9, 2},  {3, 2, 1},  {3, 3, 1},  {3, 4, 2}, {3, 11, 2}, {9, 11, 1},
        {9, 10, 1}, {9, 12, 2}, {11, 9, 1}, {1, 3, 1}, {3, -1, 1},
    };
    for (const auto& c : cases) {
        setMessageLevel(nullptr, c.set);
        gSent.clear();
        EXPECT_EQ(msgLong(c.level, 77, "* literal", 5), c.result) << c.set << " " << c.level;
        EXPECT_EQ(gSent.size(), c.result == 1 ? 1u : 0u) << c.set << " " << c.level;
    }
    EXPECT_EQ(setMessageAbort(nullptr), 0);
}

TEST_F(MsgTest, ValuesTravelAsNumberCommaValueOnChannelZero) {
    struct Case {
        int result;
        const char* value;
    };
    std::vector<Case> cases = {
        {msgDouble(2, 101, "* x", 0.000001), "101,0"},
        {msgDouble(2, 102, "* x", 0.00001), "102,0.000010"},
        {msgDouble(2, 103, "* x", -2.5), "103,-2.500000"},
        {msgDouble(2, 104, "* x", -0.000009), "104,0"},
        {msgLong(2, 105, "* n", -42), "105,-42"},
        {msgTwoLongs(2, 106, "* ab", 3, -4), "106,3,-4"},
        {msgText(2, 107, "* t", "blade 2"), "107,blade 2"},
        {msgTwoTexts(2, 108, "* ab", "hub", "shroud"), "108,hub,shroud"},
    };
    ASSERT_EQ(gSent.size(), cases.size());
    for (size_t i = 0; i < cases.size(); ++i) {
        EXPECT_EQ(cases[i].result, 1);
        EXPECT_EQ(gSent[i].type, 101);
        EXPECT_EQ(gSent[i].name, "error");
        EXPECT_EQ(gSent[i].value, cases[i].value);
    }
}

TEST_F(MsgTest, SinkCutsLongTextsTo127) {
    struct Case {
        size_t valueLength, sent;
    } cases[] = {
        {200, 127},  // "9," and 198 more: cut
        {126, 128},  // exactly 128 characters stay
        {127, 127},  // 129 characters: cut
        {5, 7},
    };
    for (const auto& c : cases) {
        gSent.clear();
        std::string value(c.valueLength, 'v');
        EXPECT_EQ(msgText(2, 9, "", value.c_str()), 1);
        ASSERT_EQ(gSent.size(), 1u);
        EXPECT_EQ(gSent[0].value.size(), c.sent) << c.valueLength;
        EXPECT_EQ(gSent[0].value.substr(0, 2), "9,");
    }
    gSent.clear();
    EXPECT_EQ(msgText(2, 12, "", std::string(200, 'x').c_str()), 1);
    EXPECT_EQ(gSent.at(0).value, "12," + std::string(124, 'x'));
    // Very long texts of two-text messages are cut safely before the sink.
    gSent.clear();
    std::string huge(5000, 'h');
    EXPECT_EQ(msgTwoTexts(2, 13, "", huge.c_str(), huge.c_str()), 1);
    EXPECT_EQ(gSent.at(0).value.size(), 127u);
}

TEST_F(MsgTest, PrintfNeedsTheTraceBitSomewhere) {
    setMessageLevel(nullptr, 9);  // no trace bit
    EXPECT_EQ(msgPrintf(1, "count %d", 4), 1);
    EXPECT_EQ(msgPrintfDouble(9, "* sl = %lf", 1.5), 1);
    EXPECT_TRUE(gSent.empty());

    EXPECT_EQ(msgPrintf(1 | kMsgTraceBit, "count %d", 4), 1);  // in the message's level
    setMessageLevel(nullptr, 1 | kMsgTraceBit);                // in the set level
    EXPECT_EQ(msgPrintfDouble(1, "* sl = %lf", 1.5), 1);
    EXPECT_EQ(msgPrintf(9, "count %d", 4), 2);  // the level still filters
    ASSERT_EQ(gSent.size(), 2u);
    EXPECT_EQ(gSent[0].value, "9999,count 4");
    EXPECT_EQ(gSent[1].value, "9999,* sl = 1.500000");
}

TEST_F(MsgTest, WithoutWriterNothingIsSentButTheMessagePasses) {
    ncSetWriter(nullptr);
    EXPECT_EQ(msgLong(2, 5, "", 1), 1);
    EXPECT_EQ(ncReportError(5, "x"), 0);
    EXPECT_TRUE(gSent.empty());
    ncSetWriter(&writer);
    ncReportError(6000, nullptr);
    EXPECT_EQ(gSent.at(0).value, "6000");
}
