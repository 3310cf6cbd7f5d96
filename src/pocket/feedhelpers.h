// Generators of the pocket NC output: the points of a helical plunge and
// their output at the reduced feed, lead-in elements, the feed buffer with
// its gap rule and polyline helpers.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "kernel/cycle/cycle.h"
#include "pocket/clist.h"

enum : int32_t {
    kFeedBufferSize = 500,
};

struct HelixPoints {
    int32_t capacity;
    int32_t count;
    Vec3* points;  // from the bottom up
};

// The helix about the centre from bottom to top, rising by the ramp angle per
// angle step (radians) in the direction (+1 counter-clockwise); null when it is
// degenerate, has no room (3123) or memory runs out.
HelixPoints* helixPoints(const Vec2* centre, double radius, double angleStep, double rampAngle,
                         int32_t direction, double top, double bottom);
void helixPointsFree(HelixPoints* list);
// Sends the helix from the top down at the reduced feed when one is set: 0, or
// the first negative output result.
int emitReducedFeed(CycleRecord* record, const HelixPoints* list);

// The lead element of type 1..4 ending at the element's start, on the side
// (+1 left): 1, 0 for another type, -1 when the element has no start tangent.
int leadElement(const ContourElement* element, int32_t side, int32_t type, double length,
                ContourElement* out);

// Appends to the feed buffer, bridging a small gap by a line: 1, -1 when full,
// -2 when the gap is wider than a step.
int feedBufferAppend(const ContourElement* element);
int32_t feedBufferCount();
const ContourElement* feedBufferElements();
void feedBufferClear();

double polylineLength(const Vec2* points, int32_t n);
int32_t polylineTrim(Vec2* points, int32_t n, double length);  // the new count
// The chain as points (arcs sampled every angle step, finer where a chord would leave the arc by more
// than 1e-4): the count, at most capacity.
int32_t elementsToPoints(Vec2* points, int32_t capacity, const ContourElement* elements, int32_t count,
                         double angleStep);

void feedHelpersResetState();  // feed buffer empty
