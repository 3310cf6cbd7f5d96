// Channel curves: along one level of the channel, where the tool ball swept about the part axis from
// one blade face toward the other first touches the part, refined where the curve bends or the
// kind of its points changes.
#pragma once

#include <cstdint>

struct CheckModel;
struct ContourPair;
struct HubShroud;
struct Plist;
struct TriGrid;
struct Vec3;

enum : int32_t {
    kMsgUserCanceled = 821,  // "* User canceled"
};

enum : uint16_t {
    kChanContact = 0x0001,    // kind 0: the ball touched the part; the vector is the touched point
    kChanNoContact = 0x0201,  // kind 2: no contact or no evaluation; the vector is (0, 0, 1)
};

// 1, -2 on a user break (the list keeps what was traced), or -1 for a missing argument.
int traceChannelCurve(const CheckModel* model, const ContourPair* firstFace, const ContourPair* secondFace,
                      const HubShroud* level, int32_t direction, Plist* result, const TriGrid* grid);
// Whether the ball centred at a point keeps off the model a channel curve of that direction is traced
// against: swept about the axis toward the point from a quarter turn back, the way the tracing sweeps,
// it touches nothing before the point, or first touches with its centre within `allowed` of the point
// (the ball there enters by at most that much): 1; 0 when it would enter by more; -1 for a missing
// argument or a grid cell whose triangles are not known.
int channelBallClear(const CheckModel* model, const TriGrid* grid, int32_t direction, const Vec3* centre,
                     double allowed);
