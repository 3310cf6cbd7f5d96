// Captures the numbered messages of the geometry code as the host would receive them: error
// records "number,value" on channel 0 of the NC writer.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/cycle/cycle.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/ncchan.h"
#include "kernel/ncout/ncout.h"
#include "kernel/ncout/ncrecord.h"

inline std::vector<std::string>& capturedMessages() {
    static std::vector<std::string> messages;
    return messages;
}

inline int captureMessage(CycleRecord*, NcRecord* record) {
    char value[KVNC_TEXT_SIZE];
    capturedMessages().push_back(ncRecGetText(record, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value));
    return 1;
}

// Installs a writer whose channel 0 records every message; the message level is set to `level`.
class MessageCapture {
  public:
    explicit MessageCapture(int32_t level) {
        msgResetState();
        ncOutResetState();
        writer_.parent = &cycleRootRecord;
        writer_.frameVersion = kFrameVersion;
        writer_.title = "Geometry Test";
        writer_.shortName = "kvGeo";
        writer_.firstRecordPending = 0;
        EXPECT_EQ(ncRegisterHandler(&writer_, 0, captureMessage, acceptRecord, 1), 1);
        ncSetWriter(&writer_);
        setMessageLevel(nullptr, level);
        capturedMessages().clear();
    }
    ~MessageCapture() {
        ncFreeChannels(&writer_);
        ncOutResetState();
        msgResetState();
    }
    MessageCapture(const MessageCapture&) = delete;
    MessageCapture& operator=(const MessageCapture&) = delete;

    const std::vector<std::string>& messages() const { return capturedMessages(); }
    int countOf(const std::string& text) const {
        int n = 0;
        for (const auto& m : capturedMessages()) n += m == text ? 1 : 0;
        return n;
    }

  private:
    CycleRecord writer_;
};
