// Rest material: the areas of a plane that a larger reference tool left
// uncut, found from the sharp corners of its rings where they touch the
// pocket boundary, and pocketed one by one with the current tool; with the
// positions along a contour that the area search measures and cuts by.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"
#include "pocket/elemaccess.h"

enum : int32_t {
    kRestMaxTouches = 10000,  // touches of one plane
};

// Pocket errors of rest machining.
enum : int32_t {
    kRestErrEmpty = 3251,      // no rest area (shares its number with the unreadable G-code file)
    kRestErrGcode = 3252,      // the G-code contour file with the reference rings is unreadable
    kRestErrNotLarger = 3253,  // the reference tool is not larger than the tool
    kRestErrAreaLimit = 3254,  // more rest areas than the limit allows
    kRestErrTooShort = 3255,   // a rest area shorter than *MIN_LENGTH
};

// A place on a contour: the 0-based element and the point on it.
struct ContourPos {
    int32_t element;
    int32_t spare;
    double x, y;
};

// One touch of a sharp reference-ring corner on a boundary.
struct RestTouch {
    int32_t state;     // 0 free, 2 taken by the area under construction, 1 used by a finished area
    int32_t side;      // +1 or -1: on which side of the corner's mean tangent the touch lies
    int32_t boundary;  // MAIN index of the boundary touched
    int32_t spare;
    double cornerX, cornerY;
    ContourPos at;  // the touch point on the boundary
};

// The reference circle of the rest area being machined (an arc element's body).
struct RestCircle {
    double cx, cy, sx, sy, ex, ey, radius;
    int32_t direction;
};

// Machines the rest areas of the plane in MAIN. listName names the list with
// the reference rings (freed afterwards), or is null to read them and the
// radius from the G-code contour file. 1 done (also when nothing was left), 0
// when the reference tool is not larger, -1 on a list or memory failure. INPUT
// holds the job's contours again on every exit.
int pocketRestMaterial(const char* listName, double referenceRadius);
int restAreasLevel(double referenceRadius);  // REST := the rest areas of MAIN; 1 or -1
// Builds at most one area into REST: 1 tried (call again), 0 no free start touch, -1 failure.
int restAreasCompute(double referenceRadius, RestTouch* touches, int32_t count);
// Touches of the SPAN rings' sharp corners on one boundary, appended at *used: the number added, -1 past the
// table.
int32_t restCornerCollect(const ContourElement* boundary, int32_t count, int32_t boundaryIndex,
                          double referenceRadius, RestTouch* touches, int32_t* used);
// The rest circle from an arc element (a line gives its ends and no centre or radius): 1, 0 for null.
int restSetParams(const ContourElement* element);
const RestCircle* restCircle();
// Every ORIG contour whose first point lies inside the area (and off its
// boundary) goes to INPUT as an island of the area, against the wanted orientation.
int32_t restAddInnerIslands(const ContourElement* area, int32_t count, int orientation);
// The offset's test while rest evaluation is on: 1 keeps the element, 0 drops it.
int restElementOutside(const ContourElement* element, int32_t count);
int restModeActive();              // 1 once rest machining ran in this process
void restSetAreaLimit(int32_t n);  // areas per call, 0 none
double restTolerance();            // the working tolerance of the last call

// Positions along a contour.
double contourLengthBetween(const ContourElement* elements, int32_t count, const ContourPos* from,
                            const ContourPos* to);  // -1 backwards on an open contour
int32_t contourPointAtFraction(const ContourElement* elements, int32_t count, double fraction, Vec2* out);
// The piece from one position to the other (out: room for count + 1), cleaned: its count.
int32_t restContourPiece(ContourElement* out, const ContourElement* elements, int32_t count,
                         const ContourPos* from, const ContourPos* to);
int restMidpoint(const ContourElement* elements, int32_t count, const ContourPos* from, const ContourPos* to,
                 Vec2* out);  // 1, or 0

// Class of the corner from first to second: kCornerLeft, kCornerRight,
// kCornerSmooth or kCornerReversal in *out; 0 when a tangent is degenerate.
int cornerClassify(const ContourElement* first, const ContourElement* second, int* out);

void restMatResetState();
