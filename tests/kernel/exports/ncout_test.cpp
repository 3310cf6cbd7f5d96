#include "kernel/ncout/ncout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "kernel/cycle/nccapture.h"
#include "plunge/idx5.h"

namespace {

int move3(double x, double y, double z, int32_t mode) {
    Vec3 p = {x, y, z};
    return ncClassifyMove(&p, mode);
}

int move5(double x, double y, double z, int32_t mode) {
    Vec3 p = {x, y, z};
    return ncPointOut(&p, mode);
}

void setAxis(double i, double j, double k) {
    Vec3 a = {i, j, k};
    ncSetToolAxis(&a);
}

ToolNcConfig baseConfig() {
    ToolNcConfig c{};
    c.toolNumber = 7;
    c.feedX = 1000;
    c.feedZ = 200;
    c.spindleSpeed = 8000;
    c.spindleSense = 0;
    c.clearanceDistance = 2;
    c.retractPlane = 50;
    c.approachFeed = 300;
    c.fastRetractFeed = 5000;
    return c;
}

struct Move {
    double x, y, z;
    int32_t mode;
};

void run3(const std::vector<Move>& moves) {
    for (const auto& m : moves) ASSERT_EQ(move3(m.x, m.y, m.z, m.mode), 0);
}

using NcOut = NcWriterTest;

}  // namespace

TEST_F(NcOut, HeaderOfThePlungeCycle) {
    ASSERT_EQ(ncSetUnitFactor(1.0), 1);
    ncSetClearancePlaneOffset(5.0);
    ToolNcConfig c = baseConfig();
    ASSERT_EQ(ncWriteCycleHeader(&c), 1);
    const std::vector<std::string> expected = {
        "cycleFct=kvCycle",
        "arg=F:clearancePlane:=55.0000",
        "CPLANE=55",
        "arg=F:retractPlane:=50.0000",
        "RPLANE=50",
        "arg=F:clearanceDistance:=2.0000",
        "CDIST=2",
        "T=7",
        "aliasDef=FX,FX,1000,1",
        "aliasDef=FZ,FZ,200,1",
        "aliasDef=approachFeedrate,FX,300,1",  // the feeds of 0 get none
        "aliasDef=fastretractFeedrate,FX,5000,1",
        "aliasDef=S,S,8000,1",
        "aliasUse=S",
        "S=8000",
        "SR=none",
        "tr=S",
        "tr=SR",
        "FX=1000",
        "FZ=200",
        "aliasUse=FX",
        "tr=FX",
    };
    EXPECT_EQ(variables(), expected);
    EXPECT_EQ(ncCurrentFeed(), 1000.0);
    EXPECT_EQ(ncCurrentAliasIndex(), kFeedAliasFX);
}

TEST_F(NcOut, HeaderPlanesFollowTheUnitAndOffset) {
    struct Case {
        double unit, offset, retract, distance;
        int16_t sense;
        const char *clearanceArg, *cplane, *retractArg, *rplane, *cdist, *sr;
    } cases[] = {
        {25.0, 5.0, 250.0, 50.0, 2, "arg=F:clearancePlane:=15.0000", "CPLANE=15",
         "arg=F:retractPlane:=10.0000", "RPLANE=10", "CDIST=2", "SR=counterClockwise"},
        {1.0, 0.0, 12.34567, 1.0, 1, "arg=F:clearancePlane:=12.3457", "CPLANE=12.34567",
         "arg=F:retractPlane:=12.3457", "RPLANE=12.34567", "CDIST=1", "SR=clockwise"},
        {1.0, -2.5, 10.0, 0.0, -3, "arg=F:clearancePlane:=7.5000", "CPLANE=7.5",
         "arg=F:retractPlane:=10.0000", "RPLANE=10", "CDIST=0", "SR=clockwise"},
    };
    for (const auto& k : cases) {
        captured().clear();
        ASSERT_EQ(ncSetUnitFactor(k.unit), 1);
        ncSetClearancePlaneOffset(k.offset);
        ToolNcConfig c = baseConfig();
        c.retractPlane = k.retract;
        c.clearanceDistance = k.distance;
        c.spindleSense = k.sense;
        ASSERT_EQ(ncWriteCycleHeader(&c), 1);
        auto v = variables();
        ASSERT_GE(v.size(), 16u);
        EXPECT_EQ(v[1], k.clearanceArg);
        EXPECT_EQ(v[2], k.cplane);
        EXPECT_EQ(v[3], k.retractArg);
        EXPECT_EQ(v[4], k.rplane);
        EXPECT_EQ(v[6], k.cdist);
        EXPECT_EQ(v[15], k.sr);
    }
    EXPECT_EQ(ncSetUnitFactor(0.0), -1);  // refused: the planes would be divided by it
    EXPECT_EQ(ncSetUnitFactor(-25.0), -1);
    EXPECT_EQ(ncUnitFactor(), 1.0);
}

TEST_F(NcOut, HeaderWritesOnlyTheFeedsAndSpeedsInUse) {
    ToolNcConfig c{};
    c.feedX = 800;
    c.feedZ = 100;
    c.spindleSpeed = 6000;
    c.reducedFeed = 400;
    c.fullSectionFeed = 1;
    c.retractFeed = 2;
    c.infeedFeed = 3;
    c.clearanceFeed = 4;
    c.leadingEdgeFeed = 5;
    c.trailingEdgeFeed = 6;
    c.finalPathFeed = 7;
    c.springPathFeed = 8;
    c.fastRetractFeed = 0.000001;  // below 1e-5: not used
    c.finalPathSpindleSpeed = 100;
    c.springPathSpindleSpeed = 0;
    c.fullSectionSpindleSpeed = 300;
    ASSERT_EQ(ncWriteCycleHeader(&c), 1);
    std::vector<std::string> aliases;
    for (const auto& v : variables())
        if (v.rfind("aliasDef=", 0) == 0) aliases.push_back(v.substr(9));
    const std::vector<std::string> expected = {
        "FX,FX,800,1",
        "FZ,FZ,100,1",
        "reducedFeedrate,FX,400,1",
        "fullSectionFeedrate,FX,1,1",
        "retractFeedrate,FX,2,1",
        "infeedFeedrate,FX,3,1",
        "clearanceFeedrate,FX,4,1",
        "leadingEdgeFeedrate,FX,5,1",
        "trailingEdgeFeedrate,FX,6,1",
        "finalPathFeedrate,FX,7,1",
        "springPathFeedrate,FX,8,1",
        "S,S,6000,1",
        "finalPathSpindleSpeed,S,100,1",
        "fullSectionSpindleSpeed,S,300,1",
    };
    EXPECT_EQ(aliases, expected);

    ncSetWriter(nullptr);
    captured().clear();
    EXPECT_EQ(ncWriteCycleHeader(&c), -1);
    ncSetWriter(&writer);
    EXPECT_EQ(ncWriteCycleHeader(nullptr), -1);
    EXPECT_TRUE(captured().empty());
}

TEST_F(NcOut, CycleFunctionNameByShortName) {
    struct Case {
        const char *shortName, *function;
    } cases[] = {
        {"kvProf", "profileFinishing"},  {"kvScal", "profileFinishing"}, {"kvRupp", "zlevelRoughing"},
        {"kvCast", "zlevelRoughing"},    {"kvZres", "zlevelRoughing"},   {"kvZfin", "zlevelFinishing"},
        {"kvRmat", "autoRestMachining"}, {"kvPecl", "pencilMilling"},    {"kvCurve", "curveMilling"},
        {"kvCurv", "kvCycle"},           {"kvIdx5", "kvCycle"},          {nullptr, "kvCycle"},
    };
    for (const auto& k : cases) {
        writer.shortName = k.shortName;
        EXPECT_STREQ(ncCycleFunctionName(), k.function) << (k.shortName ? k.shortName : "(none)");
    }
    ncSetWriter(nullptr);
    EXPECT_STREQ(ncCycleFunctionName(), "kvCycle");
}

TEST_F(NcOut, PlungeThresholdNeverCloses) {
    struct Case {
        double degrees, threshold;
    } cases[] = {
        {0.0, 0.99999}, {0.1, 0.99999},
        {NAN, 0.99999}, {30.0, std::cos(M_PI / 6)},
        {60.0, 0.5},    {90.0, std::cos(M_PI / 2)},
    };
    for (const auto& k : cases) {
        ncSetPlungeAngle(k.degrees);
        EXPECT_NEAR(ncPlungeThreshold(), k.threshold, 1e-12) << k.degrees;
    }
}

TEST_F(NcOut, FeedClassesSwitchTheAlias) {
    struct Case {
        const char* what;
        double reducedFeed, plungeAngle;
        int32_t noPlungeCheck, infeedRequest;
        std::vector<Move> moves;
        std::vector<std::string> expected;
        double refOffset = 0;
    } cases[] = {
        {"vertical plunge and back",
         0,
         30,
         0,
         0,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {10, 0, 0, 1}, {10, 0, -5, 1}, {20, 0, -5, 1}},
         {"aliasUse=FZ", "tr=FZ", "aliasUse=FX", "tr=FX"}},
        {"inclined plunge at the reduced feed",
         500,
         30,
         0,
         0,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {11, 0, 0, 1}, {20, 0, 0, 1}},
         {"aliasUse=reducedFeedrate", "tr=FX*0.5", "aliasUse=FX", "tr=FX"}},
        {"reduced feed equal to FX keeps inclined plunges cutting",
         0,
         30,
         0,
         0,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {11, 0, 0, 1}, {20, 0, 0, 1}},
         {}},
        {"a move outside the cone is cutting",
         500,
         30,
         0,
         0,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {15, 0, 5, 1}},
         {}},
        {"plunge angle 0 leaves only vertical plunges",
         500,
         0,
         0,
         0,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {11, 0, 0, 1}, {11, 0, -10, 1}},
         {"aliasUse=FZ", "tr=FZ"}},
        {"no plunge check makes a vertical plunge a reduced one",
         500,
         30,
         1,
         0,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {10, 0, 0, 1}},
         {"aliasUse=reducedFeedrate", "tr=FX*0.5"}},
        {"infeed request makes cutting moves reduced",
         500,
         30,
         0,
         1,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {20, 0, 10, 1}},
         {"aliasUse=reducedFeedrate", "tr=FX*0.5"}},
        {"positioning moves are not classified",
         500,
         30,
         0,
         0,
         {{0, 0, 10, 0}, {0, 0, 0, 0}, {0, 0, -5, 0}},
         {}},
        {"a tool-reference offset leaves a short horizontal move cutting",
         500,
         30,
         0,
         0,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {11, 0, 10, 1}},
         {},
         5},
        {"a tool-reference offset keeps an inclined plunge reduced",
         500,
         30,
         0,
         0,
         {{0, 0, 10, 0}, {10, 0, 10, 1}, {11, 0, 0, 1}},
         {"aliasUse=reducedFeedrate", "tr=FX*0.5"},
         -5},
    };
    for (const auto& k : cases) {
        SCOPED_TRACE(k.what);
        idx5ResetState();
        ncSetPlungeAngle(k.plungeAngle);
        ncSetNoPlungeCheck(k.noPlungeCheck);
        ncForceInfeedFeed(k.infeedRequest);
        ncSetToolReferenceOffset(k.refOffset);
        EXPECT_EQ(ncIsInfeedFeedForced(), k.infeedRequest);
        ToolNcConfig c = baseConfig();
        c.reducedFeed = k.reducedFeed;
        ASSERT_EQ(ncWriteCycleHeader(&c), 1);
        captured().clear();
        run3(k.moves);
        EXPECT_EQ(variables(), k.expected);
    }
}

TEST_F(NcOut, ShortFeedMoveWritesNothing) {
    ToolNcConfig c = baseConfig();
    ASSERT_EQ(ncWriteCycleHeader(&c), 1);
    run3({{0, 0, 10, 0}, {10, 0, 10, 1}});
    captured().clear();
    EXPECT_EQ(move3(10, 0, 10 - 5e-6, 1), 0);  // it would be a vertical plunge
    EXPECT_TRUE(captured().empty());
    EXPECT_EQ(ncFeedClass(), 0);
}

TEST_F(NcOut, NewFeedIsWrittenWithTheNextMove) {
    struct Case {
        double value;
        int32_t alias;
        std::vector<std::string> expected;
    } cases[] = {
        {500, kFeedAliasReduced, {"aliasUse=reducedFeedrate", "tr=FX*0.5"}},
        {1250, 6, {"aliasUse=fullSectionFeedrate", "tr=FX*1.25"}},
        {1000.000001, 7, {}},  // no change: the feed stays and nothing is written
        {0.000001, 9, {}},     // too small for an alias or a ratio
    };
    for (const auto& k : cases) {
        idx5ResetState();
        ToolNcConfig c = baseConfig();
        ASSERT_EQ(ncWriteCycleHeader(&c), 1);
        run3({{0, 0, 10, 0}, {1, 0, 10, 0}});
        captured().clear();
        EXPECT_EQ(ncSetFeed(k.value, k.alias), 1);
        EXPECT_TRUE(variables().empty());
        Vec3 p = {2, 0, 10};
        ASSERT_EQ(ncWriteMove3x(&p, 1), 0);
        EXPECT_EQ(variables(), k.expected) << k.value;
    }
    EXPECT_EQ(ncSetFeed(100, kFeedAliasCount), -1);
    EXPECT_EQ(ncSetFeed(100, -1), -1);
}

TEST_F(NcOut, FeedModeTwoWritesOnlyForcedChanges) {
    ToolNcConfig c = baseConfig();
    ASSERT_EQ(ncWriteCycleHeader(&c), 1);
    captured().clear();
    ncSetFeedMode(2);
    ASSERT_EQ(ncSetFeed(250, kFeedAliasReduced), 1);
    EXPECT_EQ(ncWriteFeedChange(0), 0);
    EXPECT_TRUE(captured().empty());
    EXPECT_EQ(ncWriteFeedChange(1), 1);
    EXPECT_EQ(variables(), (std::vector<std::string>{"aliasUse=reducedFeedrate", "tr=FX*0.25"}));
}

TEST_F(NcOut, FeedStackHoldsNinetyNine) {
    ToolNcConfig c = baseConfig();
    ASSERT_EQ(ncWriteCycleHeader(&c), 1);
    ncSetFeedMode(1);
    for (int i = 0; i < kNcFeedStackSize; ++i) ASSERT_EQ(ncSetFeed(100 + i, i % kFeedAliasCount), 1) << i;
    EXPECT_EQ(ncSetFeed(5000, kFeedAliasFX), -1);  // the 100th push
    EXPECT_EQ(ncCurrentFeed(), 198.0);             // unchanged by the refused call
    for (int i = kNcFeedStackSize - 1; i >= 0; --i) {
        ASSERT_EQ(ncSetFeedFromKernel(), 1);
        if (i < kNcFeedStackSize - 1) {
            EXPECT_EQ(ncCurrentFeed(), 100.0 + i);
            EXPECT_EQ(ncCurrentAliasIndex(), i % kFeedAliasCount);
        }
    }
    EXPECT_EQ(ncSetFeedFromKernel(), -1);
    ncFeedStackReset();
    EXPECT_EQ(ncFeedStackPush(1, 1), 1);
    ncFeedStackReset();
    double v;
    int32_t a;
    EXPECT_EQ(ncFeedStackPop(&v, &a), -1);
}

TEST_F(NcOut, SpecialFeedsSwitchAndReturn) {
    ToolNcConfig c = baseConfig();
    ASSERT_EQ(ncWriteCycleHeader(&c), 1);
    ncSetSpecialFeeds(300, 600, 400);
    run3({{0, 0, 10, 0}, {10, 0, 10, 1}});
    struct Step {
        const char* what;
        void (*act)();
        std::vector<std::string> expected;
    } steps[] = {
        {"approach on", [] { ncApproachFeed(1); }, {"aliasUse=approachFeedrate", "tr=FX*0.3"}},
        {"a plunge while approaching stays cutting", [] { move3(10, 0, 0, 1); }, {}},
        {"approach off leaves the change pending", [] { ncApproachFeed(0); }, {}},
        {"the next move writes it", [] { move3(20, 0, 0, 1); }, {"aliasUse=FX", "tr=FX"}},
        {"retract on", [] { ncRetractFeed(1); }, {"aliasUse=retractFeedrate", "tr=FX*0.6"}},
        {"retract off", [] { ncRetractFeed(0); }, {}},
        {"infeed on", [] { ncInfeedFeed(1); }, {"aliasUse=infeedFeedrate", "tr=FX*0.4"}},
        {"a plunge while infeeding returns to FX", [] { move3(20, 0, -5, 1); }, {"aliasUse=FX", "tr=FX"}},
        {"infeed off", [] { ncInfeedFeed(0); }, {}},
    };
    for (const auto& s : steps) {
        captured().clear();
        s.act();
        EXPECT_EQ(variables(), s.expected) << s.what;
    }
    EXPECT_EQ(ncCurrentFeed(), 1000.0);
    captured().clear();
    ncSetSpecialFeeds(0, 0, 0);  // unused special feeds switch nothing
    ncApproachFeed(1);
    ncRetractFeed(1);
    ncInfeedFeed(1);
    EXPECT_TRUE(captured().empty());
}

TEST_F(NcOut, ThreeAxisMovesFlagWhatChanged) {
    struct Case {
        Move move;
        int32_t type, fx, fy, fz, companion;
    } cases[] = {
        {{1, 2, 3, 0}, 3107, 0, 0, 1, 4016},                 // first move: z only
        {{4, 5, 3, 0}, 3107, 1, 1, 0, 4016},                 // second: x and y
        {{4.000001, 5, 3.0000002, 1}, 3114, 0, 0, 1, 4007},  // x below 1e-5, z above 1e-7
        {{7, 5, 3.0000002, 1}, 3114, 1, 0, 0, 4007},
        {{7, 5.5, 3.00000025, 0}, 3107, 0, 1, 0, 4016},
    };
    for (const auto& k : cases) {
        captured().clear();
        Vec3 p = {k.move.x, k.move.y, k.move.z};
        ASSERT_EQ(ncWriteMove3x(&p, k.move.mode), 0);
        ASSERT_EQ(captured().size(), 2u);
        const Captured& m = captured()[0];
        EXPECT_EQ(m.channel, 31);
        EXPECT_EQ(m.type(), k.type);
        EXPECT_EQ(m.i32(KVNC_MOVE5_FLAG_X), k.fx);
        EXPECT_EQ(m.i32(KVNC_MOVE5_FLAG_Y), k.fy);
        EXPECT_EQ(m.i32(KVNC_MOVE5_FLAG_Z), k.fz);
        EXPECT_EQ(m.f64(KVNC_MOVE5_X), k.move.x);
        EXPECT_EQ(m.f64(KVNC_MOVE5_Z), k.move.z);
        EXPECT_EQ(captured()[1].channel, 32);
        EXPECT_EQ(captured()[1].type(), k.companion);
        EXPECT_EQ(captured()[1].f64(KVNC_MOVE5_Y), k.move.y);
    }
}

TEST_F(NcOut, SecondMoveKeepsAChangedHeight) {
    Vec3 a = {1, 2, 3}, b = {4, 5, 9};
    ncWriteMove3x(&a, 0);
    captured().clear();
    ncWriteMove3x(&b, 0);
    EXPECT_EQ(captured().at(0).i32(KVNC_MOVE5_FLAG_Z), 1);
}

TEST_F(NcOut, ToolReferenceOffsetShiftsThreeAxisHeights) {
    ncSetToolReferenceOffset(2.5);
    Vec3 p = {1, 2, 3};
    ncWriteMove3x(&p, 0);
    EXPECT_EQ(captured().at(0).f64(KVNC_MOVE5_Z), 5.5);
}

TEST_F(NcOut, FiveAxisMovesWriteOnlyChanges) {
    setAxis(0, 0, 1);
    struct Step {
        Move move;
        Vec3 axis;
        std::vector<int32_t> types;  // channel 31 and 32 move records, in order
        std::vector<int32_t> flags;  // of the last channel-31 move: x, y, z, i, j, k
    } steps[] = {
        {{1, 2, 3, 0}, {0, 0, 1}, {3102, 4002, 3109, 4019}, {1, 1, 1, 1, 1, 1}},
        {{1, 2, 3, 0}, {0, 0, 1}, {}, {}},  // same position and axis
        {{1, 2, 4, 0}, {0, 0, 1}, {3107, 4016}, {0, 0, 1}},
        {{1, 2, 4, 0}, {0, M_SQRT1_2, M_SQRT1_2}, {3109, 4019}, {0, 0, 0, 0, 1, 1}},
        {{1, 2, 5, 1}, {0, M_SQRT1_2, M_SQRT1_2}, {3114, 4007}, {0, 0, 1}},
        {{1, 2, 5, 1}, {0, 0, 1}, {3118, 4020}, {0, 0, 0, 0, 1, 1}},  // a turn on the spot is kept
    };
    for (size_t n = 0; n < std::size(steps); ++n) {
        const auto& s = steps[n];
        captured().clear();
        setAxis(s.axis.x, s.axis.y, s.axis.z);
        ASSERT_EQ(move5(s.move.x, s.move.y, s.move.z, s.move.mode), 0);
        std::vector<int32_t> types;
        const Captured* last31 = nullptr;
        for (const auto& c : captured()) {
            if (c.channel == 31 || c.channel == 32) types.push_back(c.type());
            if (c.channel == 31) last31 = &c;
        }
        EXPECT_EQ(types, s.types) << n;
        if (!s.flags.empty() && last31) {
            static const size_t kFlag[6] = {KVNC_MOVE5_FLAG_X, KVNC_MOVE5_FLAG_Y, KVNC_MOVE5_FLAG_Z,
                                            KVNC_MOVE5_FLAG_I, KVNC_MOVE5_FLAG_J, KVNC_MOVE5_FLAG_K};
            std::vector<int32_t> flags;
            for (size_t f = 0; f < s.flags.size(); ++f) flags.push_back(last31->i32(kFlag[f]));
            EXPECT_EQ(flags, s.flags) << n;
        }
        if (n == 0) {
            EXPECT_EQ(variables(), (std::vector<std::string>{"tr=5X"}));
        }
    }
    captured().clear();
    ASSERT_EQ(ncFinishCycle(), 1);
    EXPECT_EQ(captured().size(), 2u);
    EXPECT_EQ(captured().at(0).type(), 5004);
    EXPECT_EQ(variables(), (std::vector<std::string>{"tr=5X0"}));
}

TEST_F(NcOut, ToolTipMovesFeedPointsBackAlongTheAxis) {
    setAxis(0, 0, 1);
    Vec3 start = {0, 0, 0};
    ASSERT_EQ(ncSetUnitFactor(2.0), 1);
    idx5SetScale(1, 20.0, &start);  // 10 in the cycle's unit
    ASSERT_EQ(move5(0, 0, 20, 0), 0);
    captured().clear();
    ASSERT_EQ(move5(3, 0, 15, 1), 0);
    auto moves = onChannel(31);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].type(), 3114);
    EXPECT_EQ(moves[0].f64(KVNC_MOVE5_X), 3.0);
    EXPECT_EQ(moves[0].f64(KVNC_MOVE5_Z), 5.0);
}

TEST_F(NcOut, SectionsWriteTheirBlocks) {
    struct Step {
        int (*call)(int32_t, double, double);
        int32_t code;
        int32_t type;  // 0: nothing written
        const char* name;
    } steps[] = {
        {ncSectionBegin, 64, 5001, "link"},       {ncSectionEnd, 64, 5002, "link"},
        {ncSectionBegin, 64, 0, nullptr},         {ncSectionEnd, 64, 0, nullptr},  // only the first link
        {ncSectionBegin, 256, 5001, "clearance"}, {ncSectionBegin, 256, 0, nullptr},
        {ncSectionEnd, 256, 5002, "clearance"},   {ncSectionEnd, 256, 0, nullptr},
        {ncSectionBegin, 256, 5001, "clearance"}, {ncSectionEnd, 256, 5002, "clearance"},
        {ncSectionBegin, 1, 5001, "3dPath"},      {ncSectionEnd, 1, 5002, "3dPath"},
        {ncSectionBegin, 7, 0, nullptr},          {ncSectionEnd, 7, 0, nullptr},
    };
    for (size_t n = 0; n < std::size(steps); ++n) {
        const auto& s = steps[n];
        captured().clear();
        s.call(s.code, 0.0, 0.0);
        if (s.type == 0) {
            EXPECT_TRUE(captured().empty()) << n;
            continue;
        }
        ASSERT_EQ(captured().size(), 1u) << n;
        EXPECT_EQ(captured()[0].channel, 12);
        EXPECT_EQ(captured()[0].type(), s.type) << n;
        EXPECT_EQ(captured()[0].blockName(), s.name) << n;
        EXPECT_EQ(captured()[0].i32(KVNC_BLOCK_KIND), 4);
    }
    captured().clear();
    ncPlungeBegin();
    ncPlungeEnd();
    ASSERT_EQ(captured().size(), 2u);
    EXPECT_EQ(captured()[0].blockName(), "plunge");
    EXPECT_EQ(captured()[1].type(), 5002);

    idx5ResetState();  // a new run writes its first link section again
    captured().clear();
    ncSectionBegin(64);
    EXPECT_EQ(captured().size(), 1u);
}

TEST_F(NcOut, HeldPositioningMovesGoOutLate) {
    auto heights = [] {
        std::vector<double> z;
        for (const auto& c : onChannel(31)) z.push_back(c.f64(KVNC_MOVE5_Z));
        return z;
    };
    ncSectionBegin(128);
    run3({{0, 0, 1, 0}});
    EXPECT_TRUE(heights().empty());
    run3({{0, 0, 2, 0}});  // writes the held one and holds this one
    EXPECT_EQ(heights(), (std::vector<double>{1}));
    ncSectionEnd(128);
    run3({{5, 0, 3, 1}});
    EXPECT_EQ(heights(), (std::vector<double>{1, 2, 3}));

    ncSectionBegin(128);
    run3({{5, 0, 4, 0}});
    captured().clear();
    ASSERT_EQ(ncFinishCycle(), 1);  // the held point goes out inside a link section
    std::vector<std::string> seq;
    for (const auto& c : captured())
        seq.push_back(std::to_string(c.type()) + (c.channel == 12 ? c.blockName() : ""));
    EXPECT_EQ(seq, (std::vector<std::string>{"5001link", "3107", "4016", "5002link", "5004"}));
    EXPECT_EQ(onChannel(31).at(0).f64(KVNC_MOVE5_Z), 4.0);
}

TEST_F(NcOut, HeldPointOfAFiveAxisRunKeepsItsAxis) {
    setAxis(0, 0, 1);
    ASSERT_EQ(move5(0, 0, 10, 0), 0);
    ASSERT_EQ(move5(5, 0, 10, 1), 0);
    ncSectionBegin(128);
    setAxis(0, M_SQRT1_2, M_SQRT1_2);
    ASSERT_EQ(move5(5, 0, 20, 0), 0);
    setAxis(0, 0, 1);
    captured().clear();
    ASSERT_EQ(ncFinishCycle(), 1);
    std::vector<std::string> seq;
    for (const auto& c : captured())
        if (c.channel != 10) seq.push_back(std::to_string(c.type()) + (c.channel == 12 ? c.blockName() : ""));
    EXPECT_EQ(seq, (std::vector<std::string>{"5001link", "3109", "4019", "5002link", "5004"}));
    auto moves = onChannel(31);
    ASSERT_EQ(moves.size(), 1u);
    EXPECT_EQ(moves[0].f64(KVNC_MOVE5_Z), 20.0);
    EXPECT_NEAR(moves[0].f64(KVNC_MOVE5_J), M_SQRT1_2, 1e-12);
    EXPECT_NEAR(moves[0].f64(KVNC_MOVE5_K), M_SQRT1_2, 1e-12);
    EXPECT_EQ(variables(), (std::vector<std::string>{"tr=5X0"}));
}

TEST_F(NcOut, FinishClosesTheJobBlock) {
    struct Case {
        const char* jobId;
        uint32_t closed;  // 0: no block end
    } cases[] = {{"42", 42}, {"0", 0}, {"-3", 0}, {"12abc", 0}, {"", 0}, {nullptr, 0}};
    for (const auto& k : cases) {
        kvListFree(writer.vars);
        writer.vars = k.jobId ? kvListSet(nullptr, "ppJobID", k.jobId, 0) : nullptr;
        captured().clear();
        ASSERT_EQ(ncFinishCycle(), 1);
        auto blocks = onChannel(12);
        ASSERT_EQ(blocks.size(), k.closed ? 2u : 1u) << (k.jobId ? k.jobId : "(none)");
        if (k.closed) {
            EXPECT_EQ(blocks[0].type(), 5002);
            EXPECT_EQ(blocks[0].i32(KVNC_BLOCK_KIND), 1);
            EXPECT_EQ(ncRecGetU32(&blocks[0].record, KVNC_BLOCK_NUMBER), k.closed);
        }
        EXPECT_EQ(blocks.back().type(), 5004);
    }
    ncSetWriter(nullptr);
    captured().clear();
    EXPECT_EQ(ncFinishCycle(), 0);
    EXPECT_TRUE(captured().empty());
}

TEST_F(NcOut, PolylineAndPointAreMappedToFrameB) {
    Vec3 origin = {0, 0, 100}, x = {1, 0, 0}, y = {0, 1, 0}, z = {0, 0, 1}, zero = {0, 0, 0};
    frameSetA(&zero, &x, &y, &z);
    frameSetB(&origin, &x, &y, &z);
    ASSERT_EQ(framesInit(), 1);
    const Vec3 pts[2] = {{1, 2, 3}, {4, 5, 6}};
    EXPECT_EQ(ncWritePolyline(pts, 0, "p", "c", "u"), 0);
    EXPECT_TRUE(captured().empty());
    EXPECT_EQ(ncWritePolyline(nullptr, 2, "p", "c", "u"), -1);
    ASSERT_EQ(ncWritePolyline(pts, 2, "path", "c", "u"), 1);
    auto recs = onChannel(41);
    ASSERT_EQ(recs.size(), 5u);
    std::vector<int32_t> types;
    for (const auto& r : recs) types.push_back(r.type());
    EXPECT_EQ(types, (std::vector<int32_t>{3001, 3103, 3113, 3113, 3002}));
    EXPECT_EQ(recs[0].name(), "path");
    EXPECT_EQ(recs[0].value(), "cmnt[c] u[u]");
    EXPECT_NEAR(recs[1].f64(KVNC_POINT_Z), -97.0, 1e-12);
    EXPECT_NEAR(recs[2].f64(KVNC_POINT_Z), -97.0, 1e-12);
    EXPECT_NEAR(recs[3].f64(KVNC_POINT_X), 4.0, 1e-12);
    EXPECT_NEAR(recs[3].f64(KVNC_POINT_Z), -94.0, 1e-12);

    captured().clear();
    ASSERT_EQ(ncWritePoint(&pts[1]), 1);
    auto p = onChannel(42);
    ASSERT_EQ(p.size(), 1u);
    EXPECT_EQ(p[0].type(), 7001);
    EXPECT_NEAR(p[0].f64(KVNC_TRIPLE_P1 + 16), -94.0, 1e-12);
    EXPECT_NEAR(p[0].f64(KVNC_TRIPLE_P3 + 16), -94.0, 1e-12);
}

TEST_F(NcOut, ReportErrorCutsAndNeedsAWriter) {
    ASSERT_EQ(ncReportError(7, std::string(200, 'e').c_str()), 1);
    ASSERT_EQ(captured().size(), 1u);
    EXPECT_EQ(captured()[0].channel, 0);
    EXPECT_EQ(captured()[0].type(), 101);
    EXPECT_EQ(captured()[0].value(), "7," + std::string(125, 'e'));
    ncSetWriter(nullptr);
    EXPECT_EQ(ncReportError(7, "x"), 0);
    EXPECT_EQ(ncWriteComment("x"), 0);
    EXPECT_EQ(move3(1, 2, 3, 0), kNcMoveFailed);
    EXPECT_EQ(move5(1, 2, 3, 0), kNcMoveFailed);
    EXPECT_EQ(captured().size(), 1u);
}

TEST_F(NcOut, LiteralStretchBecomesACurve) {
    ncSetPointMode(1);
    ToolNcConfig c = baseConfig();
    ASSERT_EQ(ncWriteCycleHeader(&c), 1);
    ASSERT_EQ(ncListBegin(), 1);
    captured().clear();
    run3({{0, 0, 0, 0}, {1, 0, 0, 1}, {2, 0.5, 0, 1}, {3, 0, 0, 1}, {4, 0.5, 0, 1}, {4, 0.5, 10, 0}});
    std::vector<int32_t> out32;
    for (const auto& r : onChannel(32)) out32.push_back(r.type());
    // The first two moves and the positioning move that ends the stretch go out as moves, the three
    // buffered feed moves as a curve of two segments: 2 + 1 + 2 x 13 comment lines.
    std::vector<int32_t> expected = {4016, 4007};
    expected.insert(expected.end(), 29, 4101);
    expected.push_back(4016);
    EXPECT_EQ(out32, expected);
    EXPECT_EQ(onChannel(31).size(), 6u);  // every move reaches the path channel
    auto lines = commentLines();
    ASSERT_EQ(lines.size(), 29u);
    EXPECT_EQ(lines[0], "#D_SPLINE[0,1]");
    EXPECT_EQ(lines[2], "(------ DATA -----)");
    EXPECT_EQ(lines[11], "F1000.0000");

    captured().clear();
    ASSERT_EQ(ncListEnd(), 1);  // nothing left in the buffer
    EXPECT_EQ(variables(0), (std::vector<std::string>{"NCmode=literal", "NCmode=standard"}));
    EXPECT_EQ(captured().size(), 2u);
}

TEST_F(NcOut, ShortStretchGoesOutAsMovesAtTheListEnd) {
    ncSetPointMode(2);
    ASSERT_EQ(ncListBegin(), 1);
    run3({{0, 0, 0, 0}, {1, 0, 0, 1}, {2, 0.5, 0, 1}, {3, 0, 0, 1}});
    captured().clear();
    ASSERT_EQ(ncListEnd(), 1);
    std::vector<std::string> seq;
    for (const auto& r : captured())
        seq.push_back(std::to_string(r.channel) + ":" + std::to_string(r.type()));
    EXPECT_EQ(seq, (std::vector<std::string>{"0:111", "32:3114", "32:3114", "0:111"}));
    EXPECT_EQ(captured()[2].f64(KVNC_MOVE5_X), 3.0);
    EXPECT_EQ(captured()[2].i32(KVNC_MOVE5_FLAG_Y), 1);

    // Polynomial mode writes POLY statements for three or more points.
    ASSERT_EQ(ncListBegin(), 1);
    run3({{5, 0.5, 0, 1}, {6, 0, 0, 1}, {7, 0.5, 0, 1}});
    captured().clear();
    ASSERT_EQ(ncListEnd(), 1);
    auto lines = commentLines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "G1 X5.000 Y0.500 Z0.000");
    EXPECT_EQ(lines[1].rfind("POLY PO[X]=( 6.0000,", 0), 0u);
    EXPECT_EQ(lines[2].rfind("PO[X]=( 7.0000,", 0), 0u);
}

TEST_F(NcOut, ListBeginWritesAPendingStretch) {
    ncSetPointMode(1);
    ASSERT_EQ(ncListBegin(), 1);
    run3({{0, 0, 0, 0}, {1, 0, 0, 1}, {2, 0.5, 0, 1}, {3, 0, 0, 1}});
    captured().clear();
    ASSERT_EQ(ncListBegin(), 1);  // no list end came
    EXPECT_EQ(onChannel(32).size(), 2u);
}

TEST_F(NcOut, FeedMovesWithoutBufferStillGoOut) {
    ncSetPointMode(1);  // no list begun: nothing is buffered
    run3({{0, 0, 0, 0}, {1, 0, 0, 1}, {2, 0, 0, 1}, {3, 0, 0, 1}});
    std::vector<int32_t> out32;
    for (const auto& r : onChannel(32)) out32.push_back(r.type());
    EXPECT_EQ(out32, (std::vector<int32_t>{4016, 4007, 4007, 4007}));
    EXPECT_EQ(ncListEnd(), 1);
}

TEST_F(NcOut, SbsBlocksFollowFeedMoves) {
    setAxis(0, 0, 1);
    ASSERT_EQ(ncSetSbsActive(1), 1);
    ASSERT_EQ(move5(0, 0, 0, 0), 0);
    // Two right-angle corners: four tips, two of them doubled.
    for (const Move& m : {Move{10, 0, 0, 1}, Move{20, 0, 0, 1}, Move{20, 10, 0, 1}, Move{30, 10, 0, 1}})
        ASSERT_EQ(move5(m.x, m.y, m.z, m.mode), 0);
    EXPECT_EQ(ncSbsBlockOpen(), 1);
    ASSERT_EQ(move5(30, 10, 50, 0), 0);
    EXPECT_EQ(ncSbsBlockOpen(), 0);
    ASSERT_EQ(ncSetSbsActive(0), 1);
    std::vector<std::string> procs;
    for (const auto& v : variables()) {
        if (v.rfind("proc=", 0) != 0) continue;
        std::string p = v.substr(5);
        procs.push_back(p.substr(0, p.find(',')));
    }
    std::vector<std::string> expected = {"SBS_activate", "SBS_start"};
    expected.insert(expected.end(), 7, "SBS_point");
    expected.insert(expected.end(), {"SBS_end", "SBS_deactivate"});
    EXPECT_EQ(procs, expected);

    // A feed change closes an open block.
    captured().clear();
    ncSetSbsActive(1);
    move5(40, 10, 50, 1);
    EXPECT_EQ(ncSbsBlockOpen(), 1);
    ncWriteFeedChange(1);
    EXPECT_EQ(ncSbsBlockOpen(), 0);
    EXPECT_EQ(ncSbsToggle(0), 0);  // nothing open
    EXPECT_EQ(ncSbsToggle(1), 1);
    EXPECT_EQ(ncSbsToggle(2), 1);  // restart
    EXPECT_EQ(ncSbsBlockOpen(), 1);
}

TEST_F(NcOut, SbsPointStatementText) {
    Vec3 p = {1.5, -2, 0.0000004}, h = {1.5, -2, 10};
    ASSERT_EQ(ncWriteSbsPoint(&p, &h, -1.0), 1);
    EXPECT_EQ(variables(),
              (std::vector<std::string>{"proc=SBS_point,f:v_pl=-1,f:v_x=1.5,f:v_y=-2,f:v_z=0,f:v_xh=1.5,"
                                        "f:v_yh=-2,f:v_zh=10"}));
}
