// 2D contours of the offset-geometry library: a polyline of Seg2D elements at one height with a
// running box, a closed flag and nesting links. A contour set is an outer contour with its islands
// (firstIsland, then next along the islands) and further outer contours chained by next.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct PointList2D;

struct Kont2d {
    int32_t count;                  // elements in use
    int32_t capacity;               // element slots
    double xmin, ymin, xmax, ymax;  // 1e10, 1e10, -1e10, -1e10 when created
    uint16_t reserved16;
    uint16_t closed;        // 1 for a closed loop
    uint16_t ownsElements;  // 1 when elements is ours to grow and free
    double z;               // DBL_MAX when created; the grouping key of the nesting
    int32_t level;          // number of contours of the same height that contain this one
    int32_t reserved;
    Seg2D* elements;
    void* reservedPtr;
    Kont2d* prev;         // outer contour (first island), previous island or previous outer contour
    Kont2d* next;         // next island, or next outer contour of a set
    Kont2d* firstIsland;  // islands of an outer contour
    double reservedD[2];
    int32_t reservedI[2];
};

enum : int {
    kKontNotFound = -202,      // kont2dFindContaining: the point lies on no contour
    kKontSelfIntersect = -41,  // kont2dValidate: the set crosses itself
    kKontIslandOrient = -47,   // kont2dValidate: an island is open or runs with the outer contour
};

// Point classification answers of kont2dClassifyPoint.
enum : int { kKontOutside = 1, kKontInside = 2, kKontInIsland = 4 };

// With elements null a new array is owned; a caller's array of capacity slots is used as it is
// until it must grow, when it is copied into an owned one.
Kont2d* kont2dCreate(Seg2D* elements, int32_t capacity);
// Frees the whole set reachable through next and firstIsland. Null is accepted.
void kont2dFree(Kont2d* k);
int kont2dAppendElement(Kont2d* k, const Seg2D* element);
// Copy of the outer contour and its islands (not of the contours behind next).
Kont2d* kont2dCopy(const Kont2d* k);
int kont2dScale(Kont2d* k, double factor);
int kont2dUpdateBox(Kont2d* k);
// +1 counter-clockwise, else -1 (also for an empty or zero-area contour).
int kont2dOrientation(const Kont2d* k);
int kont2dMergeCollinear(Kont2d* k);
int kont2dReverse(Kont2d* k);
int kont2dClassifyPoint(const Kont2d* k, const Vec2* p);
// -1 on the outer contour, i on island i, kKontNotFound on none.
int kont2dFindContaining(const Kont2d* k, const Vec2* p);
int kont2dNearestPoint(const Vec2* p, const Kont2d* k, Vec2* out);
// Levels, island links and next chains of result contours. Contours that cannot be linked into the
// set are freed and their entries set to null; the surviving entries move to the front in order,
// so the set starts at contours[0].
int kont2dBuildNesting(Kont2d** contours, int32_t n);
int kont2dCheckSelfIntersect(const Kont2d* k, PointList2D* crossings, int32_t goOn, double endTolerance);
// flags 1: islands closed and opposite to the outer contour; 2: no self-crossing.
int kont2dValidate(Kont2d* k, int32_t flags);
Kont2d* kont2dCreateRect(const Vec2* a, const Vec2* b);
int kont2dWriteBnd(const Kont2d* k, const char* path);

int kont2dSetNoCheck(int32_t flag);
int kont2dGetNoCheck();
int kont2dSetOpenFlag(int32_t flag);
int kont2dGetOpenFlag();

// Sort orders of kont2dBuildNesting over arrays of Kont2d*: higher z first; even levels before odd,
// then lower level, then lower xmin.
int kont2dCompareZ(const void* a, const void* b);
int kont2dCompareLevel(const void* a, const void* b);

// Crossings test over the element start points; 0 for fewer than 3 elements or outside the box.
int pointInPolygon2D(const Vec2* p, const Kont2d* k);
int pointInContourTol(const Vec2* p, const Kont2d* k, double tolerance);
// First element of the contour or its islands that seg meets: 1 and the crossing of their lines.
int segContourIntersect2D(const Seg2D* seg, const Kont2d* k, Vec2* out);

// Test support: switches off, boundary block counter back to 1.
void kont2dResetState();
