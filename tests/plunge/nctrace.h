// The NC records of a run as the host sees them: messages of channel 0, "plunge" blocks of channel 12
// and the five-axis moves of channel 31, decoded from the record layout with the changed-field flags
// carried forward.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "geometry/vec.h"
#include "kernel/cycle.h"
#include "kernel/ncchan.h"
#include "kernel/ncout.h"
#include "kernel/ncrecord.h"

namespace nctrace {

struct Move {
    Vec3 p, axis;
    bool feed;
    int block;  // index of the enclosing plunge block, -1 outside
};

struct Trace {
    std::vector<std::string> messages;  // "number,value"
    std::vector<Move> moves;
    std::vector<int> ch12;  // record types
    std::vector<int> ch0;
    int blocks = 0, open = -1;
    Vec3 p{}, axis{};
};

inline Trace* gTrace = nullptr;

inline int onChannel0(CycleRecord*, NcRecord* r) {
    const int type = ncRecGetI32(r, KVNC_TYPE);
    gTrace->ch0.push_back(type);
    char value[KVNC_TEXT_SIZE];
    if (type == 101) gTrace->messages.push_back(ncRecGetText(r, KVNC_TEXT_VALUE, KVNC_TEXT_SIZE, value));
    return 1;
}

inline int onChannel12(CycleRecord*, NcRecord* r) {
    const int type = ncRecGetI32(r, KVNC_TYPE);
    gTrace->ch12.push_back(type);
    char name[KVNC_BLOCK_TEXT_SIZE];
    const bool plunge =
        std::string(ncRecGetText(r, KVNC_BLOCK_TEXT1, KVNC_BLOCK_TEXT_SIZE, name)) == "plunge";
    if (type == 5001 && plunge) gTrace->open = gTrace->blocks++;
    if (type == 5002 && plunge) gTrace->open = -1;
    return 1;
}

inline int onChannel31(CycleRecord*, NcRecord* r) {
    const int type = ncRecGetI32(r, KVNC_TYPE);
    if (type != 3107 && type != 3109 && type != 3114 && type != 3118) return 1;
    Trace& t = *gTrace;
    double* c[6] = {&t.p.x, &t.p.y, &t.p.z, &t.axis.x, &t.axis.y, &t.axis.z};
    const size_t flag[6] = {KVNC_MOVE5_FLAG_X, KVNC_MOVE5_FLAG_Y, KVNC_MOVE5_FLAG_Z,
                            KVNC_MOVE5_FLAG_I, KVNC_MOVE5_FLAG_J, KVNC_MOVE5_FLAG_K};
    const size_t value[6] = {KVNC_MOVE5_X, KVNC_MOVE5_Y, KVNC_MOVE5_Z,
                             KVNC_MOVE5_I, KVNC_MOVE5_J, KVNC_MOVE5_K};
    for (int k = 0; k < 6; ++k)
        if (ncRecGetI32(r, flag[k]) == 1) *c[k] = ncRecGetF64(r, value[k]);
    t.moves.push_back({t.p, t.axis, type == 3114 || type == 3118, t.open});
    return 1;
}

// Registers the three channels on the writer and makes it the NC output's.
inline void attach(CycleRecord* writer, Trace* trace) {
    gTrace = trace;
    writer->parent = &cycleRootRecord;
    writer->frameVersion = kFrameVersion;
    ncFreeChannels(writer);
    ASSERT_EQ(ncRegisterHandler(writer, 0, onChannel0, acceptRecord, 1), 1);
    ASSERT_EQ(ncRegisterHandler(writer, 12, onChannel12, acceptRecord, 1), 1);
    ASSERT_EQ(ncRegisterHandler(writer, 31, onChannel31, acceptRecord, 1), 1);
    ncSetWriter(writer);
}

// The value of the first message with that number, or "" when it was not sent.
inline std::string messageValue(const Trace& t, int number) {
    const std::string head = std::to_string(number) + ",";
    for (const std::string& m : t.messages)
        if (m.rfind(head, 0) == 0) return m.substr(head.size());
    return "";
}

inline int messageCount(const Trace& t, int number) {
    int n = 0;
    const std::string head = std::to_string(number) + ",";
    for (const std::string& m : t.messages) n += m.rfind(head, 0) == 0;
    return n;
}

// The first feed move of every plunge block: the plunge bottoms.
inline std::vector<Move> bottoms(const Trace& t) {
    std::vector<Move> out;
    int seen = -1;
    for (const Move& m : t.moves)
        if (m.block >= 0 && m.block != seen && m.feed) {
            out.push_back(m);
            seen = m.block;
        }
    return out;
}

}  // namespace nctrace
