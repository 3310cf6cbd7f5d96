// A writer record for the output front-end tests: every record that reaches
// one of its channels is kept, in order, with its channel.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

#include "geometry/frames.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncout.h"
#include "kernel/base/numtext.h"
#include "kernel/cycle/testrecord.h"

struct Captured {
    uint16_t channel;
    NcRecord record;

    int32_t type() const { return ncRecGetI32(&record, KVNC_TYPE); }
    std::string name() const {
        char buf[KVNC_TEXT_SIZE];
        return ncRecGetText(&record, KVNC_TEXT_NAME, KVNC_TEXT_SIZE, buf);
    }
    std::string value() const {
        char buf[KVNC_TEXT_SIZE];
        return ncRecGetText(&record, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, buf);
    }
    std::string blockName() const {
        char buf[KVNC_BLOCK_TEXT_SIZE];
        return ncRecGetText(&record, KVNC_BLOCK_TEXT1, KVNC_BLOCK_TEXT_SIZE, buf);
    }
    int32_t i32(size_t offset) const { return ncRecGetI32(&record, offset); }
    double f64(size_t offset) const { return ncRecGetF64(&record, offset); }
};

inline std::vector<Captured>& captured() {
    static std::vector<Captured> records;
    return records;
}

template <uint16_t C>
int captureChannel(CycleRecord*, NcRecord* output) {
    captured().push_back({C, *output});
    return 1;
}

// Name and value of the records on one text channel, as "name=value".
inline std::vector<std::string> variables(uint16_t channel = 10) {
    std::vector<std::string> out;
    for (const auto& c : captured())
        if (c.channel == channel) out.push_back(c.name() + "=" + c.value());
    return out;
}

inline std::vector<Captured> onChannel(uint16_t channel) {
    std::vector<Captured> out;
    for (const auto& c : captured())
        if (c.channel == channel) out.push_back(c);
    return out;
}

// The comment lines of the curve output (channel 32, type 4101).
inline std::vector<std::string> commentLines() {
    std::vector<std::string> out;
    for (const auto& c : captured())
        if (c.channel == 32 && c.type() == 4101) out.push_back(c.name());
    return out;
}

// The key=value fields of an "SBS_point,f:v_pl=..,.." statement.
inline std::map<std::string, double> sbsFields(const std::string& value) {
    std::map<std::string, double> out;
    size_t at = value.find(",f:");
    while (at != std::string::npos) {
        size_t eq = value.find('=', at);
        size_t next = value.find(",f:", eq);
        out[value.substr(at + 3, eq - at - 3)] =
            std::strtod(value.substr(eq + 1, next - eq - 1).c_str(), nullptr);
        at = next;
    }
    return out;
}

class NcWriterTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ncOutResetState();
        msgResetState();
        numTextResetState();
        framesResetState();
        initTestRecord(&writer);
        writer.shortName = "kvIdx5";
        writer.firstRecordPending = 0;
        ncRegisterHandler(&writer, 0, captureChannel<0>, nullptr, 1);
        ncRegisterHandler(&writer, 2, captureChannel<2>, nullptr, 1);
        ncRegisterHandler(&writer, 10, captureChannel<10>, nullptr, 1);
        ncRegisterHandler(&writer, 11, captureChannel<11>, nullptr, 1);
        ncRegisterHandler(&writer, 12, captureChannel<12>, nullptr, 1);
        ncRegisterHandler(&writer, 31, captureChannel<31>, nullptr, 1);
        ncRegisterHandler(&writer, 32, captureChannel<32>, nullptr, 1);
        ncRegisterHandler(&writer, 41, captureChannel<41>, nullptr, 1);
        ncRegisterHandler(&writer, 42, captureChannel<42>, nullptr, 1);
        ncSetWriter(&writer);
        // Restarted as the plunge cycle restarts it: unit tool axes with six decimals.
        ncRestartOutput();
        setNumberDecimals(6);
        coreSetDtoSPrecision(&writer, 6);
        captured().clear();
    }
    void TearDown() override {
        ncOutResetState();
        ncFreeChannels(&writer);
        kvListFree(writer.vars);
        writer.vars = nullptr;
        msgResetState();
        framesResetState();
        captured().clear();
    }
    CycleRecord writer;
};
