// Points, tangents and normals of one pocket element, the winding test of a
// closed chain and the class of the corner between two elements.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

enum : int {
    kElemStart = 1,
    kElemEnd = 2,
    kElemMiddle = 3,
};

// Corner classes of elemCornerType.
enum : int {
    kCornerLeft = 1,
    kCornerSmooth = 0,
    kCornerRight = -1,
    kCornerReversal = -2,
};

// An intersection of two contours: the point, its parameter on contour A's
// element, the 1-based element numbers on A and B and a state the users set.
struct PocketIsect {
    double x, y;
    double param;
    int32_t elemA;
    int32_t elemB;
    int32_t state;
};

// elemPoint for what it does not read in place: middles, unknown elements and points.
int elemPointOther(const ContourElement* e, Vec2* out, int which);
// A point of an element: 1, or 0 for an unknown element or point. The ends of lines
// and arcs are read in place; every inner loop of the kernel asks for them.
inline int elemPoint(const ContourElement* e, Vec2* out, int which) {
    const bool arc = e->type == kElemArc;
    if ((arc || e->type == kElemLine) && (which == kElemStart || which == kElemEnd)) {
        if (which == kElemStart)
            *out = arc ? Vec2{e->g[kAsx], e->g[kAsy]} : Vec2{e->g[kLx1], e->g[kLy1]};
        else
            *out = arc ? Vec2{e->g[kAex], e->g[kAey]} : Vec2{e->g[kLx2], e->g[kLy2]};
        return 1;
    }
    return elemPointOther(e, out, which);
}
// An element's ends by value ({0, 0} for an unknown element).
inline Vec2 elemStartOf(const ContourElement& e) {
    Vec2 p{};
    elemPoint(&e, &p, kElemStart);
    return p;
}
inline Vec2 elemEndOf(const ContourElement& e) {
    Vec2 p{};
    elemPoint(&e, &p, kElemEnd);
    return p;
}
int elemSetPoint(ContourElement* e, const Vec2* p, int which);   // 1 start, else end
int elemTangent(const ContourElement* e, Vec2* out, int which);  // unit; 0 below 1e-7
int elemOffsetNormal(const ContourElement* e, Vec2* out, int which, int side);
// A line's offset normal to side from its unit tangent, as elemOffsetNormal gives it.
Vec2 lineOffsetNormal(const Vec2* tangent, int side);
double vecCross2D(const Vec2* a, const Vec2* b);
// -1 inside a clockwise chain, 1 inside a counter-clockwise one, 0 outside.
int pointInContour(const ContourElement* chain, int32_t count, const Vec2* p);
int elemCornerType(const ContourElement* a, const ContourElement* b, int* type);  // 1, or 0
// elemCornerType with a's end tangent and b's start tangent already found; 1.
int elemCornerTypeOf(const ContourElement* a, const Vec2* ta, const ContourElement* b, const Vec2* tb,
                     int* type);

// Orders for sorting intersections: by element on A, then by parameter,
// ascending or descending; equal records compare equal.
int isectCompareAscending(const void* p, const void* q);
int isectCompareDescending(const void* p, const void* q);
