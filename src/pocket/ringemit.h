// Ring emission of the region walk: the segment of a ring between two
// positions, the links from one ring to the next (cut, or a retract when they
// cannot be cut safely), the order of positions along a ring and the
// element/ring distances the connection search uses. Rings are in scaled units.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/regionstack.h"

enum : int32_t {
    kRingMaxCandidates = 4000,
};

// The 1-based element of a position and its point: 0 gives element 1 and its
// start, -1 the last element and its end. 0 for an empty ring, else 1.
int positionPoint(const RingPosition* position, const ContourElement* ring, int32_t n, int32_t* element,
                  Vec2* point);
// -1, 0 or +1: how positions a and b are met walking the ring forward from c (mode 2: +1 a first).
int ringOrder(int mode, const RingPosition* a, const RingPosition* b, const ContourElement* ring, int32_t n,
              const RingPosition* c);
// 1 when going on to the position finishes the entry's ring (done: the node is already finished).
int ringSegmentDone(const WalkEntry* entry, const RingPosition* position, const ContourElement* ring,
                    int32_t n, int done);
// Emits the ring from entry.from to entry.to (the whole ring from that point when
// they coincide, nothing when done): the number of elements emitted.
int32_t ringSegmentEmit(const WalkEntry* entry, const ContourElement* ring, int32_t n, int done);

// Split paths: the whole ring of every node whose single parent is a root,
// between ("full", "start") and ("full", "end"), and the whole ring of every
// root; each emitted node is finished. The number of rings emitted.
int32_t ringEmitSingleBranches();
int32_t ringEmitRoots();

// The next element starts with a new entry (retract, position, plunge).
void ringRetract();
int emitFiltered(const ContourElement* element);                // 1 emitted, 0 retracted instead
int linkStraight(const Vec2* p1, const Vec2* p2, double step);  // 1 emitted, 0 retracted
int linkSmooth(const Vec2* p1, const Vec2* t1, const Vec2* p2, const Vec2* t2, double radius, double step);
int startPointMove(const Vec2* start, const Vec2* ringPoint);

int lineClearOfInput(const ContourElement* line);  // no INPUT contour met in more than one point
void ringEmitResetState();                         // forgets the answers recorded in the run
int pointClearOfInput(const Vec2* point, double radius, const char* list);
int segmentClearOfRing(const Vec2* p1, const Vec2* p2, const ContourElement* ring, int32_t n);

// The measuring boxes of a ring's elements, built once for many elemRingDistance calls against that ring
// (unchanged in between).
struct RingMeasure {
    std::vector<double> boxes;  // x0, y0, x1, y1 per element
    double margin = 0;          // the run-out the boxes allow past a line's ends
    bool usable = false;        // every box finite
};
void ringMeasureBuild(const ContourElement* ring, int32_t n, RingMeasure* out);

// The distance from the element to the ring: the point on the element and the
// position on the ring (element + 1 and point) of the chosen nearest pair.
// measure, when given, holds the ring's boxes: the same result, measuring only the elements near it.
double elemRingDistance(const ContourElement* element, const ContourElement* ring, int32_t n, Vec2* onElement,
                        RingPosition* onRing, const RingMeasure* measure = nullptr);
double ringDistance(const ContourElement* a, int32_t na, const ContourElement* b, int32_t nb);
double ringDistancePoints(const ContourElement* a, int32_t na, const ContourElement* b, int32_t nb, Vec2* onA,
                          Vec2* onB);
