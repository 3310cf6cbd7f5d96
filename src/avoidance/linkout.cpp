#include "avoidance/linkout.h"

#include <cmath>

#include "geometry/frames.h"

namespace {

// A point closer than this in every coordinate does not count as a new previous point.
constexpr double kStreamStep = 0.001;
constexpr double kTol = 1e-5;

struct Callbacks {
    LinkPointFn point;
    LinkListFn listBegin;
    LinkListFn listEnd;
    uint32_t sectionMask;
    LinkSectionFn sectionBegin;
    LinkSectionFn sectionEnd;
    LinkAxisFn axis;
    int32_t axisPresent;
};

struct Stream {
    Vec3 last, previous;
    int32_t emitted;
    Vec3 toolAxis, nextToolAxis;
    // Duplicate filter: values no real position or axis takes, so the first point always passes.
    Vec3 passedPoint;
    int32_t passedClass;
    Vec3 passedAxis;
    Vec3 sentAxis;
};

Callbacks gCb{};

Stream initialStream() {
    return Stream{{0, 0, 0},
                  {0, 0, 0},
                  0,
                  {0, 0, 1},
                  {0, 0, 1},
                  {1234567.0, 1234567.0, -1234567.0},
                  -1,
                  {-100.0, -100.0, -100.0},
                  {-100.0, -100.0, -100.0}};
}

Stream gStream = initialStream();

bool within(const Vec3& a, const Vec3& b, double tol) {
    return std::fabs(a.x - b.x) <= tol && std::fabs(a.y - b.y) <= tol && std::fabs(a.z - b.z) <= tol;
}

}  // namespace

void linkSetPointCallbacks(LinkPointFn point, LinkListFn listBegin, LinkListFn listEnd) {
    gCb.point = point;
    gCb.listBegin = listBegin;
    gCb.listEnd = listEnd;
    gStream = initialStream();
}

void linkClearPointCallbacks() {
    gCb.point = nullptr;
    gCb.listBegin = nullptr;
    gCb.listEnd = nullptr;
}

void linkSetSectionCallbacks(uint32_t mask, LinkSectionFn begin, LinkSectionFn end) {
    gCb.sectionMask = mask;
    gCb.sectionBegin = begin;
    gCb.sectionEnd = end;
}

void linkSetAxisCallback(LinkAxisFn axis) {
    gCb.axis = axis;
    gCb.axisPresent = 1;
}

int linkCallPoint(const Vec3* point, int32_t moveClass) {
    if (!point) return 0;
    Stream& s = gStream;
    if (moveClass >= 0 && s.passedClass >= 0 && within(*point, s.passedPoint, kTol) &&
        within(s.sentAxis, s.passedAxis, kTol))
        return 0;
    s.passedPoint = *point;
    s.passedClass = moveClass;
    s.passedAxis = s.sentAxis;
    if (gCb.point && gCb.point(point, moveClass) < 0) return kLinkOutputFailed;
    return 0;
}

int linkCallAxis(const Vec3* axis) {
    if (!axis) return 0;
    gStream.sentAxis = *axis;
    if (gCb.axis && gCb.axis(axis, 1) < 0) return kLinkOutputFailed;
    return 0;
}

int linkCallListEnd() {
    return gCb.listEnd ? gCb.listEnd() : 0;
}

int linkCallSectionEnd(int32_t code) {
    if ((static_cast<uint32_t>(code) & gCb.sectionMask) == 0 || !gCb.sectionEnd) return 0;
    return gCb.sectionEnd(code, 0.0, 0.0);
}

int linkEmitPosition(const Vec3* point, int32_t moveClass) {
    if (!point) return 0;
    Stream& s = gStream;
    if (!s.emitted) {
        s.last = *point;
        s.previous = *point;
    } else {
        const Vec3& q = s.last;
        if (std::fabs(point->x - q.x) >= kStreamStep || std::fabs(point->y - q.y) >= kStreamStep ||
            std::fabs(point->z - q.z) >= kStreamStep)
            s.previous = s.last;
        s.last = *point;
    }
    s.emitted = 1;
    Vec3 p = *point;
    if (framesReady()) pointFrameAToFrameB(&p);
    Vec3 axis = s.toolAxis;
    vecFrameAToFrameB(&axis);
    linkCallAxis(&axis);  // an axis failure shows in the point's output, not here
    return linkCallPoint(&p, moveClass);
}

void linkSetToolAxis(const Vec3* axis) {
    if (axis) gStream.toolAxis = *axis;
}

void linkSetNextToolAxis(const Vec3* axis) {
    if (axis) gStream.nextToolAxis = *axis;
}

int linkTakeFirstAxis(const Plist* list, int32_t index, Vec3* outAxis) {
    if (!gCb.axisPresent || !list || !list->vectors || !outAxis || index < 0 || index >= list->count)
        return 0;
    *outAxis = list->vectors[index];
    return 1;
}

int linkEmitted() {
    return gStream.emitted;
}

void linkLastPoint(Vec3* out) {
    if (out) *out = gStream.last;
}

void linkPreviousPoint(Vec3* out) {
    if (out) *out = gStream.previous;
}

void linkToolAxis(Vec3* out) {
    if (out) *out = gStream.toolAxis;
}

void linkNextToolAxis(Vec3* out) {
    if (out) *out = gStream.nextToolAxis;
}

int linkAxisCallbackPresent() {
    return gCb.axisPresent;
}

void linkOutResetState() {
    gCb = Callbacks{};
    gStream = initialStream();
}
