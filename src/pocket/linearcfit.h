// Refit of a point sequence into lines and arcs within a tolerance: arcs are
// grown greedily by a circle fit that minimises the radial spread, then the
// remaining points are merged into lines. Points carry the fitter's marks.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// Point kinds and marks written by the fitter.
enum : uint8_t {
    kTagKept = 'g',     // a point that stays
    kTagDropped = 'u',  // a point inside a line or an arc
    kTagArcCcw = '+',   // first point of a counter-clockwise arc
    kTagArcCw = '-',    // first point of a clockwise arc
    kTagNone = 'n',
    kTagJoint = 'j',  // start or end mark of an arc
};

// Kinds of nextTaggedRun.
enum : int {
    kRunNone = -1,
    kRunLine = 1,
    kRunArcCw = 2,
    kRunArcCcw = 3,
};

struct TaggedPoint {
    double x, y, z;
    uint8_t kind;
    uint8_t startMark;
    uint8_t endMark;
};

// Fit failures of the shape test, kept for the last fit.
enum : int {
    kFitOk = 0,
    kFitUneven = 1,
    kFitTooDense = 2,
    kFitSagitta = 3,
    kFitTooLong = 4,
};

TaggedPoint* taggedPointsCreate(int32_t n);  // n + 1 points marked kept; null without memory
void taggedPointsFree(TaggedPoint* points);
void tagPointsFrom2D(TaggedPoint* points, const Vec2* xy, int32_t n);
int32_t firstTaggedPoint(const TaggedPoint* points, int32_t count);  // 0, or -1 when empty
// From a kept point: the index of the run's end (-1 none) with its kind, end
// point and, for arcs, the centre.
int32_t nextTaggedRun(const TaggedPoint* points, int32_t count, int32_t from, int* kind, Vec2* end,
                      Vec2* centre);
// The next run of more than 2 unmarked points from index from: its first index
// and *last, or -1.
int32_t taggedRunFind(const TaggedPoint* points, int32_t count, int32_t from, int32_t* last);
// Merges every unmarked run into lines; 1 when a point was dropped.
int taggedRunsCheck(TaggedPoint* points, int32_t count, double tolerance, double maxLineLength);
int taggedRunFit(TaggedPoint* points, int32_t first, int32_t last, double tolerance, double maxLineLength);

// 1 when at least one arc was found or one line merge made, else 0.
int fitLinesArcs(TaggedPoint* points, int32_t count, double tolerance, double minRadius, double maxRadius,
                 double maxLineLength);
// The radial spread of the best circle through points first..last (centre and
// radius out), or a sentinel above any tolerance when the circle is refused:
// 6.6e6 spread, 8.8e8 radius, 7.7e7 shape.
double fitCircle(const TaggedPoint* points, int32_t first, int32_t last, double tolerance, double minRadius,
                 double maxRadius, Vec2* centre, double* radius);
int fitLastFailure();  // the shape test's code of the last refused fit
// How often that code was written; setting it serves a step that replays a recorded result.
int64_t fitFailureWrites();
void fitSetLastFailure(int code);

void linearcfitResetState();
