// Helpers of the mesh-loading, boundary-file and iso-line tests: the messages that reach the host,
// whole-file text and flat B-spline patches.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "kernel/base/msg.h"
#include "platform/module.h"
#include "surfaces/meshfiles/meshtest.h"
#include "surfaces/surflist.h"

namespace geofiletest {

inline std::string getText(const std::string& name) {
    const std::vector<uint8_t> bytes = readBytes(name);
    return std::string(bytes.begin(), bytes.end());
}

// Message numbers that reach the host while the log lives (level 9 passes).
inline std::vector<int>& sentNumbers() {
    static std::vector<int> numbers;
    return numbers;
}

inline void captureNumber(int32_t number, const char*) {
    sentNumbers().push_back(number);
}

// Taken at the messages' own sink; the sink in place before is put back.
struct MessageLog {
    MsgSinks was{};
    MessageLog() {
        msgResetState();
        was = msgSetSink(captureNumber, captureNumber);
        setMessageLevel(nullptr, 9);
        sentNumbers().clear();
    }
    ~MessageLog() {
        msgSetSink(was.send, was.fault);
        msgResetState();
    }
    int count(int number) const {
        int n = 0;
        for (int m : sentNumbers()) n += m == number;
        return n;
    }
};

// A bilinear patch through four corners (00, 10, 11, 01 in u, v), knots 0..1, trimmed by the
// parameter square.
inline void makeFlatPatch(TrimSurface* rec, const Vec3& p00, const Vec3& p10, const Vec3& p11,
                          const Vec3& p01) {
    kvxInitTrimSurface(rec);
    ASSERT_EQ(bsplSurfaceAlloc(&rec->surface, 2, 2, 2, 2, 0), 1);
    BsplSurface& s = rec->surface;
    const double k[] = {0, 0, 1, 1};
    for (int i = 0; i < 4; ++i) s.uKnots[i] = s.vKnots[i] = k[i];
    s.rows[0][0] = p00;
    s.rows[1][0] = p10;
    s.rows[1][1] = p11;
    s.rows[0][1] = p01;
    // Four points a side: neighbours are confirmed by more than their two shared corners.
    std::vector<Vec2> square;
    const Vec2 corner[] = {{0, 0}, {1, 0}, {1, 1}, {0, 1}};
    for (int side = 0; side < 4; ++side)
        for (int k = 0; k < 4; ++k) {
            const Vec2 &a = corner[side], &b = corner[(side + 1) % 4];
            square.push_back(Vec2{a.x + (b.x - a.x) * k / 4.0, a.y + (b.y - a.y) * k / 4.0});
        }
    square.push_back(square.front());
    ASSERT_EQ(trimSurfaceAddLoop(rec, square.data(), static_cast<int32_t>(square.size())), 1);
}

}  // namespace geofiletest
using namespace geofiletest;
