#include "kernel/ncout/ncchan.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "kernel/cycle/cycstart.h"
#include "kernel/ncout/ncemit.h"
#include "kernel/testfiles.h"
#include "kernel/cycle/testrecord.h"

namespace {

std::vector<std::string> gEvents;  // "h<type>" handler, "p<type>" PCF handler, "l<type>"/"L<type>" listeners

int handler(CycleRecord*, NcRecord* o) {
    gEvents.push_back(std::string("h") + std::to_string(ncRecGetI32(o, KVNC_TYPE)));
    return 7;
}
int pcfHandler(CycleRecord*, NcRecord* o) {
    gEvents.push_back(std::string("p") + std::to_string(ncRecGetI32(o, KVNC_TYPE)));
    return 8;
}
int listenPof(CycleRecord*, NcRecord* o, void* data) {
    gEvents.push_back(std::string(static_cast<const char*>(data)) +
                      std::to_string(ncRecGetI32(o, KVNC_TYPE)));
    return 0;
}

NcRecord gLastListened;
int keepListened(CycleRecord*, NcRecord* o, void*) {
    gLastListened = *o;
    return 1;
}
NcRecord gLastHandled;
int keepHandled(CycleRecord*, NcRecord* o) {
    gLastHandled = *o;
    return 1;
}

std::vector<uint16_t> channelOrder(const CycleRecord& r) {
    std::vector<uint16_t> codes;
    for (NcChannel* c = r.channels; c; c = c->next) codes.push_back(c->code);
    return codes;
}

NcRecord typed(int32_t type) {
    NcRecord rec;
    ncRecClear(&rec);
    ncRecPutI32(&rec, KVNC_TYPE, type);
    return rec;
}

class NcChanTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetCoreToBinFolder();
        initTestRecord(&rec);
        rec.signalFn = recordSignal;
        recordedSignals().clear();
        gEvents.clear();
    }
    void TearDown() override {
        coreClose(&rec);
        ncFreeChannels(&rec);
        unsetenv("KVCORE_RAW_FILE");
        unsetenv("KVCORE_TECHNOLOGY");
        unsetenv("KVCORE_TURNMAP_EXCEPTION");
        resetCoreToBinFolder();
    }
    CycleRecord rec;
};

}  // namespace

TEST_F(NcChanTest, RegistrationKeepsChannelsSortedAndReplacesHandlers) {
    for (uint16_t c : {31, 10, 12}) EXPECT_EQ(ncRegisterHandler(&rec, c, handler, acceptRecord, 1), 1);
    EXPECT_EQ(channelOrder(rec), (std::vector<uint16_t>{10, 12, 31}));
    EXPECT_EQ(recordedSignals(), (std::vector<int32_t>{131, 139, 131, 139, 131, 139}));

    char tag[] = "l";
    EXPECT_EQ(ncAddListener(&rec, 12, listenPof, tag, nullptr, nullptr), 1);
    EXPECT_EQ(ncRegisterHandler(&rec, 12, pcfHandler, pcfHandler, 1), 1);
    EXPECT_EQ(channelOrder(rec), (std::vector<uint16_t>{10, 12, 31}));
    NcRecord r = typed(5001);
    rec.firstRecordPending = 0;
    EXPECT_EQ(ncEmit(&rec, 12, &r), 8);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"p5001", "l5001"}));
}

TEST_F(NcChanTest, ListenersNeedANodeAndAFunction) {
    ncRegisterHandler(&rec, 0, handler, nullptr, 1);
    char tag[] = "l";
    EXPECT_EQ(ncAddListener(&rec, 1, listenPof, tag, nullptr, nullptr), 0);
    EXPECT_EQ(ncAddListener(&rec, 0, nullptr, tag, nullptr, tag), 0);
    EXPECT_EQ(ncAddListener(nullptr, 0, listenPof, tag, nullptr, nullptr), 0);
    EXPECT_EQ(rec.channels->listeners, nullptr);
}

TEST_F(NcChanTest, FirstEmissionRaisesSignal312EvenOnAnUnregisteredChannel) {
    NcRecord r = typed(101);
    EXPECT_EQ(ncEmit(&rec, 5, &r), 0);
    EXPECT_EQ(rec.firstRecordPending, 0);
    EXPECT_EQ(ncEmit(&rec, 5, &r), 0);
    EXPECT_EQ(recordedSignals(), (std::vector<int32_t>{312}));
}

TEST_F(NcChanTest, HandlersAndListenersByOutputMode) {
    ncRegisterHandler(&rec, 0, handler, pcfHandler, 1);
    char pof[] = "l", pcf[] = "L";
    ncAddListener(&rec, 0, listenPof, pof, nullptr, nullptr);
    ncAddListener(&rec, 0, nullptr, nullptr, listenPof, pcf);
    ncAddListener(&rec, 0, listenPof, pof, listenPof, pcf);
    NcRecord r = typed(103);
    rec.firstRecordPending = 0;
    EXPECT_EQ(ncEmit(&rec, 0, &r), 7);
    rec.pcf = 1;
    EXPECT_EQ(ncEmit(&rec, 0, &r), 8);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"h103", "l103", "l103", "p103", "L103", "L103"}));

    // A mode without its handler delivers to the listeners and answers 0; a disabled channel drops.
    gEvents.clear();
    ncRegisterHandler(&rec, 0, nullptr, nullptr, 1);
    EXPECT_EQ(ncEmit(&rec, 0, &r), 0);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"L103", "L103"}));
    gEvents.clear();
    ncRegisterHandler(&rec, 0, handler, pcfHandler, 0);
    EXPECT_EQ(ncEmit(&rec, 0, &r), 0);
    EXPECT_TRUE(gEvents.empty());
}

TEST_F(NcChanTest, RedirectFileTakesRawRecordsAndNothingElse) {
    setenv("KVCORE_RAW_FILE", "raw.bin", 1);
    ASSERT_EQ(coreOpen(&rec), 1);
    ncRegisterHandler(&rec, 31, handler, pcfHandler, 1);
    char tag[] = "l";
    ncAddListener(&rec, 31, listenPof, tag, nullptr, nullptr);
    recordedSignals().clear();
    ncMove3113(&rec, 1.0, 2.0, 3.0);  // 3113 on 31, 4006 on 32
    coreClose(&rec);                  // closes the dump
    EXPECT_TRUE(gEvents.empty());
    EXPECT_TRUE(recordedSignals().empty());
    EXPECT_EQ(rec.firstRecordPending, 1);
    std::string raw = readTestFile("raw.bin");
    ASSERT_EQ(raw.size(), 2u * 786u);
    auto byte = [&](size_t i) { return static_cast<unsigned char>(raw[i]); };
    EXPECT_EQ(byte(0) | byte(1) << 8, 31);
    EXPECT_EQ(byte(2) | byte(3) << 8 | byte(4) << 16 | byte(5) << 24, 3113);
    EXPECT_EQ(byte(786) | byte(787) << 8, 32);
    EXPECT_EQ(byte(788) | byte(789) << 8, 4006 & 0xffff);
}

TEST_F(NcChanTest, TurningListenersGetTheMappedCopyAndTheHandlerTheOriginal) {
    setenv("KVCORE_TECHNOLOGY", "2", 1);
    ASSERT_EQ(coreOpen(&rec), 1);
    ncRegisterHandler(&rec, 31, keepHandled, acceptRecord, 1);
    ncRegisterHandler(&rec, 32, keepHandled, acceptRecord, 1);
    ncAddListener(&rec, 31, keepListened, nullptr, nullptr, nullptr);
    ncAddListener(&rec, 32, keepListened, nullptr, nullptr, nullptr);
    ncMove3101(&rec, 4.0, 5.0);
    // Channel 32 is not mapped: its listener got the companion unchanged.
    EXPECT_EQ(ncRecGetI32(&gLastListened, KVNC_TYPE), 4001);
    NcRecord move = typed(3101);
    ncRecPutF64(&move, 40, 4.0);
    ncRecPutF64(&move, 48, 5.0);
    ncEmit(&rec, 31, &move);
    EXPECT_EQ(ncRecGetI32(&gLastHandled, KVNC_TYPE), 3101);
    EXPECT_EQ(ncRecGetF64(&gLastHandled, 40), 4.0);
    EXPECT_EQ(ncRecGetI32(&gLastListened, KVNC_TYPE), 3110);
    EXPECT_EQ(ncRecGetF64(&gLastListened, 56), 4.0);
    EXPECT_EQ(ncRecGetF64(&gLastListened, 40), 5.0);
    coreClose(&rec);

    setenv("KVCORE_TURNMAP_EXCEPTION", "1", 1);
    ASSERT_EQ(coreOpen(&rec), 1);
    ncEmit(&rec, 31, &move);
    EXPECT_EQ(ncRecGetI32(&gLastListened, KVNC_TYPE), 3101);
}

TEST_F(NcChanTest, TurnMapMovesDoublesAndRenamesTypes) {
    struct Case {
        int32_t type, mapped;
        std::vector<std::pair<size_t, size_t>> moves;  // target from source
    } cases[] = {
        {3101, 3110, {{16, 24}, {32, 16}, {40, 48}, {56, 40}}},
        {3111, 3119, {{16, 24}, {32, 16}, {40, 48}, {56, 40}}},
        {3102, 3106, {{24, 32}, {48, 56}}},
        {3112, 3116, {{24, 32}, {48, 56}}},
        {3103, 3103, {{16, 24}, {24, 32}, {32, 16}, {40, 48}, {48, 56}, {56, 40}}},
        {3105, 3102, {{32, 16}, {56, 40}}},
        {3115, 3112, {{32, 16}, {56, 40}}},
        {3106, 3105, {{16, 24}, {40, 48}}},
        {3116, 3115, {{16, 24}, {40, 48}}},
        {3121, 3121, {{16, 24}, {32, 16}, {40, 48}, {56, 40}, {64, 72}, {80, 64}}},
        {3131, 3131, {}},
    };
    for (const auto& c : cases) {
        NcRecord src = typed(c.type);
        for (size_t off = 16; off <= 80; off += 8) ncRecPutF64(&src, off, static_cast<double>(off));
        NcRecord copy;
        turnMapRecord(&copy, &src);
        EXPECT_EQ(ncRecGetI32(&copy, KVNC_TYPE), c.mapped) << c.type;
        for (size_t off = 16; off <= 80; off += 8) {
            double want = static_cast<double>(off);
            for (const auto& m : c.moves) {
                if (m.first == off) want = static_cast<double>(m.second);
            }
            EXPECT_EQ(ncRecGetF64(&copy, off), want) << c.type << " at " << off;
        }
    }
}

TEST_F(NcChanTest, TurnMapOfFiveAxisMovesRotatesFlagsAndDropsTheAxis) {
    NcRecord src = typed(3107);
    ncRecPutI32(&src, 8, 1);   // x changed
    ncRecPutI32(&src, 12, 0);  // y not
    ncRecPutI32(&src, 16, 1);  // z changed
    ncRecPutF64(&src, 24, 1.0);
    ncRecPutF64(&src, 32, 2.0);
    ncRecPutF64(&src, 40, 3.0);
    for (size_t f : {48, 52, 56}) ncRecPutI32(&src, f, 1);
    ncRecPutF64(&src, 64, 0.5);
    ncRecPutF64(&src, 72, 0.5);
    ncRecPutF64(&src, 80, 0.7);
    NcRecord copy;
    turnMapRecord(&copy, &src);
    EXPECT_EQ(ncRecGetI32(&copy, KVNC_TYPE), 3107);
    EXPECT_EQ(ncRecGetI32(&copy, 8), 0);
    EXPECT_EQ(ncRecGetI32(&copy, 12), 1);
    EXPECT_EQ(ncRecGetI32(&copy, 16), 1);
    EXPECT_EQ(ncRecGetF64(&copy, 24), 1.0);  // flag at 12 was 0: stays
    EXPECT_EQ(ncRecGetF64(&copy, 32), 3.0);  // from 40
    EXPECT_EQ(ncRecGetF64(&copy, 40), 1.0);  // from 24
    for (size_t f : {48, 52, 56}) EXPECT_EQ(ncRecGetI32(&copy, f), 0);
    EXPECT_EQ(ncRecGetF64(&copy, 64), 0.0);
    EXPECT_EQ(ncRecGetF64(&copy, 72), 0.0);
    EXPECT_EQ(ncRecGetF64(&copy, 80), 1.0);
}

TEST_F(NcChanTest, DroppingListenersKeepsHandlers) {
    ncRegisterHandler(&rec, 0, handler, nullptr, 1);
    ncRegisterHandler(&rec, 31, handler, nullptr, 1);
    char tag[] = "l";
    ncAddListener(&rec, 0, listenPof, tag, nullptr, nullptr);
    ncAddListener(&rec, 31, listenPof, tag, nullptr, nullptr);
    ncDropListeners(&rec);
    EXPECT_EQ(channelOrder(rec), (std::vector<uint16_t>{0, 31}));
    NcRecord r = typed(101);
    rec.firstRecordPending = 0;
    EXPECT_EQ(ncEmit(&rec, 0, &r), 7);
    EXPECT_EQ(gEvents, (std::vector<std::string>{"h101"}));
    ncFreeChannels(&rec);
    EXPECT_EQ(rec.channels, nullptr);
}

TEST_F(NcChanTest, HostHookAttachesOnlyToRegisteredChannels) {
    for (uint16_t c : {0, 1, 2, 3, 5, 10, 11, 12, 31, 35, 41, 42})
        ncRegisterHandler(&rec, c, handler, nullptr, 1);
    HostCallbacks none = {};
    hostSignalHook(&rec, kSigFirstRecord, &none);
    for (NcChannel* c = rec.channels; c; c = c->next) EXPECT_EQ(c->listeners, nullptr) << c->code;
    int user = 0;
    HostCallbacks third = {
        nullptr, nullptr, nullptr, nullptr, [](KvCycle*, int32_t, const void*, void*) { return 1; }, &user};
    hostSignalHook(&rec, kSigFirstRecord, &third);
    for (NcChannel* c = rec.channels; c; c = c->next) {
        if (c->code == 5) {
            EXPECT_EQ(c->listeners, nullptr);  // not a host channel
            continue;
        }
        ASSERT_NE(c->listeners, nullptr) << c->code;
        EXPECT_EQ(c->listeners->data, &third);
        EXPECT_EQ(c->listeners->fn2, nullptr);
        EXPECT_EQ(c->listeners->next, nullptr);
    }
}
