// The NC records of a run as the host sees them, decoded from the record layout of the host header:
// messages of channel 0, the cycle header of channel 10, "plunge" blocks of channel 12 and the
// five-axis moves of channel 31 with their changed-field flags carried forward.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "geometry/vec.h"
#include "kernel/ncout/ncrecord.h"

namespace nctrace {

// Whether a message with that number is among the "number,value" texts.
inline bool sent(const std::vector<std::string>& messages, int number) {
    const std::string head = std::to_string(number) + ",";
    for (const std::string& m : messages)
        if (m.rfind(head, 0) == 0) return true;
    return false;
}

struct Move {
    Vec3 p, axis;
    bool feed;
    int block;  // index of the enclosing plunge block, -1 outside
};

struct Trace {
    std::vector<std::string> raw;       // channel number and record bytes, in arrival order
    std::vector<std::string> messages;  // "number,value" of channel 0
    std::vector<int> ch0, ch12;         // record types
    std::vector<std::string> ch10;      // "name=value"
    std::vector<Move> moves;
    int blocks = 0, open = -1, cfgLines = 0;
    double v[6] = {};

    void add(int channel, const void* record) {
        const auto* r = static_cast<const unsigned char*>(record);
        raw.push_back(std::to_string(channel) + ":" +
                      std::string(reinterpret_cast<const char*>(r), KVNC_RECORD_SIZE));
        auto i32 = [&](size_t at) {
            int32_t x;
            std::memcpy(&x, r + at, 4);
            return x;
        };
        auto text = [&](size_t at) {
            return std::string(reinterpret_cast<const char*>(r + at),
                               strnlen(reinterpret_cast<const char*>(r + at), 256));
        };
        const int type = i32(KVNC_TYPE);
        if (channel == 0) (type == 101 ? messages.push_back(text(KVNC_TEXT_VALUE)) : ch0.push_back(type));
        if (channel == 1) cfgLines += type == 204;
        if (channel == 10) ch10.push_back(text(KVNC_TEXT_NAME) + "=" + text(KVNC_TEXT_VALUE));
        if (channel == 12) {
            ch12.push_back(type);
            const bool plunge = text(KVNC_BLOCK_TEXT1) == "plunge";
            if (type == 5001 && plunge) open = blocks++;
            if (type == 5002 && plunge) open = -1;
        }
        if (channel != 31 || (type != 3107 && type != 3109 && type != 3114 && type != 3118)) return;
        const size_t flag[6] = {KVNC_MOVE5_FLAG_X, KVNC_MOVE5_FLAG_Y, KVNC_MOVE5_FLAG_Z,
                                KVNC_MOVE5_FLAG_I, KVNC_MOVE5_FLAG_J, KVNC_MOVE5_FLAG_K};
        const size_t at[6] = {KVNC_MOVE5_X, KVNC_MOVE5_Y, KVNC_MOVE5_Z,
                              KVNC_MOVE5_I, KVNC_MOVE5_J, KVNC_MOVE5_K};
        for (int k = 0; k < 6; ++k)
            if (i32(flag[k]) == 1) std::memcpy(&v[k], r + at[k], 8);
        moves.push_back({{v[0], v[1], v[2]}, {v[3], v[4], v[5]}, type == 3114 || type == 3118, open});
    }

    // The value of the first message with that number, or "" when it was not sent.
    std::string message(int number) const {
        const std::string head = std::to_string(number) + ",";
        for (const std::string& m : messages)
            if (m.rfind(head, 0) == 0) return m.substr(head.size());
        return "";
    }

    bool sent(int number) const { return nctrace::sent(messages, number); }
    int count(int number) const {
        int n = 0;
        for (const std::string& m : messages) n += m.rfind(std::to_string(number) + ",", 0) == 0;
        return n;
    }

    // The first feed move of every plunge block: the plunge bottoms.
    std::vector<Move> bottoms() const {
        std::vector<Move> out;
        for (const Move& m : moves)
            if (m.block >= 0 && m.feed && (out.empty() || out.back().block != m.block)) out.push_back(m);
        return out;
    }
};

}  // namespace nctrace
