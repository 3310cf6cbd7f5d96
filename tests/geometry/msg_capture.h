// Captures the numbered messages of the code under test as the host would receive them: the text
// "number,value" of an error record, faults included. Taken at the messages' own sink, so that no
// NC output is needed; the sink in place before is put back.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "kernel/base/msg.h"

inline std::vector<std::string>& capturedMessages() {
    static std::vector<std::string> messages;
    return messages;
}

inline void captureMessage(int32_t number, const char* value) {
    char text[160];
    snprintf(text, sizeof text, "%ld,%s", static_cast<long>(number), value ? value : "");
    capturedMessages().push_back(text);
}

// Records every message that passes the message level, set to `level`.
class MessageCapture {
  public:
    explicit MessageCapture(int32_t level) {
        msgResetState();
        was_ = msgSetSink(captureMessage, captureMessage);
        setMessageLevel(nullptr, level);
        capturedMessages().clear();
    }
    ~MessageCapture() {
        msgSetSink(was_.send, was_.fault);
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
    MsgSinks was_{};
};
