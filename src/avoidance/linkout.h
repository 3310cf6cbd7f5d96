// The link layer's output: the callbacks through which every link and cut position reaches the NC
// output, and the position stream that remembers where the tool was last sent and with which axes.
// Positions and axes are kept in frame A; only what reaches the callbacks is in frame B.
#pragma once

#include <cstdint>

#include "geometry/plist.h"
#include "geometry/vec.h"

// A negative result of a point or axis callback is an output failure.
using LinkPointFn = int (*)(const Vec3* point, int32_t moveClass);
using LinkListFn = int (*)();
using LinkSectionFn = int (*)(int32_t code, double a, double b);
using LinkAxisFn = int (*)(const Vec3* axis, int32_t flag);

enum : int {
    kLinkOutputFailed = -3,  // a callback failed; the link code passes it straight up
    kLinkCancelled = -5,     // the host cancelled during a search; passed straight up, nothing emitted after
};

// Move classes handed through to the point callback.
enum : int32_t {
    kLinkClassPosition = 0,  // positioning point of a link
    kLinkClassFeed = 1,      // link end on the next cut, infeed and approach-macro points
};

// Registration. Registering the point callbacks starts a run's stream: the last and previous points,
// the emitted flag, both tool axes and the duplicate filter go back to their initial values, so a
// run never links from where an earlier run left the tool.
void linkSetPointCallbacks(LinkPointFn point, LinkListFn listBegin, LinkListFn listEnd);
void linkClearPointCallbacks();
void linkSetSectionCallbacks(uint32_t mask, LinkSectionFn begin, LinkSectionFn end);
void linkSetAxisCallback(LinkAxisFn axis);  // also marks an axis callback as present for good

// Calls; a missing callback is skipped with 0.
int linkCallPoint(const Vec3* point, int32_t moveClass);  // 0, or kLinkOutputFailed
int linkCallAxis(const Vec3* axis);                       // 0, or kLinkOutputFailed
int linkCallListEnd();                                    // the callback's result, or 0
int linkCallSectionEnd(int32_t code);                     // only for codes sharing a bit with the mask

// The stream.
int linkEmitPosition(const Vec3* point, int32_t moveClass);  // frame A; 0, or kLinkOutputFailed
void linkSetToolAxis(const Vec3* axis);
void linkSetNextToolAxis(const Vec3* axis);
int linkTakeFirstAxis(const Plist* list, int32_t index, Vec3* outAxis);  // 1 when copied, else 0
int linkEmitted();                                                       // 1 once a position went out
void linkLastPoint(Vec3* out);                                           // frame A
void linkPreviousPoint(Vec3* out);  // the last point before it at least 0.001 away in some coordinate
void linkToolAxis(Vec3* out);       // current, frame A
void linkNextToolAxis(Vec3* out);   // of the next cut's first point, frame A
int linkAxisCallbackPresent();

void linkOutResetState();  // stream, filter and every callback
