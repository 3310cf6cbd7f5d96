// Gaps between two line or arc elements as the tool's room checks measure
// them, and a cheap bound below such a gap that lets a check pass over the
// walls that lie far from a move without measuring them.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

// The least distance between two elements: 0 where they meet, else the least of their ends against each
// other and of their points of closest approach inside both.
double elemGap(const ContourElement* m, const ContourElement* e);

// What the bound needs of one element, taken once for many bounds.
struct ElemGapShape {
    int32_t kind;  // 0 gives no bound (not a line or arc, or not finite), else kElemLine or kElemArc
    Vec2 a, b;     // the ends
    Vec2 lo, hi;   // a box that holds every point the measures take on the element
    double size;   // the largest magnitude of its coordinates (with the radius)
    // An arc: centre, radius, the radii between which its circle and its ends lie, the directions of its
    // ends from the centre, its sense (+1 counter-clockwise) and whether every direction may lie on it.
    Vec2 c;
    double r, rlo, rhi;
    Vec2 us, ue;
    double sense;
    bool whole;
};
void elemGapShapeOf(const ContourElement* e, ElemGapShape* out);

// 1 when elemGap of the two elements the shapes were taken from (the first as its m) is sure to be at
// least the reach, and so is the distance of the first one's start from the second; 0 when the bound
// cannot tell (also for elements so near that a crossing could be found within the kernel's tolerances).
int elemGapBeyond(const ElemGapShape* m, const ElemGapShape* e, double reach);

// A distance between two elements whose coordinates (with their radii) stay within the size in magnitude
// that makes their elemGap, and the distance of a point of the first from the second, sure to be at least
// the reach, whatever the elements.
double elemGapSure(double reach, double size);
