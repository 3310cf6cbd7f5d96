// Tolerant comparisons, intersections and point tests of pocket elements. A
// line is four doubles (x1, y1, x2, y2), as in the first slots of a line
// element; an arc is an arc element. Intersections write up to two points.
#pragma once

#include <cmath>
#include <cstdint>

#include "geometry/vec.h"
#include "pocket/clist.h"

// Comparisons within the kernel's fixed tolerances.
int isEqualCoarse(double a, double b);  // |a - b| < 0.005
int isLessTol(double a, double b);      // b - a > 1e-4
int isLessCoarse(double a, double b);   // b - a > 0.001
int isNotAboveTol(double a, double b);  // b - a > -1e-4
// Points within 1e-4 on both axes (inline: the kernel's loops compare ends all the time).
inline int pointsEqual2D(const Vec2* p, const Vec2* q) {
    return std::fabs(p->x - q->x) < 1e-4 && std::fabs(p->y - q->y) < 1e-4 ? 1 : 0;
}
int pointsEqualCoarse2D(const Vec2* p, const Vec2* q);  // within 0.0002
int elemIsPoint(const ContourElement* e);
ContourElement elemLineOf(const Vec2& a, const Vec2& b, int32_t sourceTag);  // a line from a to b
int contourIsClosed(const ContourElement* chain, int32_t count);             // ends within 0.01

// Intersections. Codes: see each line.
int isectLinesInfinite(const double* a, const double* b, Vec2* p);  // 1 point, 0 parallel, -1 same line
int isectLineLine(const double* a, const double* b, Vec2* p);       // 1 point, 0 none, -1 overlap
int isectCircleCircle(const ContourElement* a, const ContourElement* b, Vec2 p[2]);  // 0, 1 touch, 2
int isectLineCircle(const double* line, const ContourElement* arc, Vec2 p[2]);       // 0, 1 touch, 2
// 0 none, 1 or 2 points packed to the front, -1 a touching point on both.
int isectLineArc(const double* line, const ContourElement* arc, Vec2 p[2]);
int isectLineFullCircle(const double* line, const ContourElement* arc, Vec2 p[2]);
// As isectLineArc; below -1 the arcs share a circle and overlap (-2 b within a, -3 a within b,
// -4 partly); shared end points of such arcs are returned as points.
int isectArcArc(const ContourElement* a, const ContourElement* b, Vec2 p[2]);
int isectArcCircle(const ContourElement* arc, const ContourElement* circle, Vec2 p[2]);

// Point tests.
int pointOnSegmentParam(const Vec2* p, const double* line);
int pointOnArc(const Vec2* p, const ContourElement* arc);
// The angular span pointOnArc tests against, worked out once for several points on one arc.
struct ArcSpan {
    double a0, a1, tol;
    bool valid;
};
ArcSpan arcSpanOf(const ContourElement* arc);
int pointInArcSpan(const Vec2* p, const ContourElement* arc, const ArcSpan& span);  // as pointOnArc
int angleInRange(const Vec2* p, const Vec2* centre, double a0, double a1);
int projectOnLine(const double* line, double x, double y, Vec2* foot);  // 0 and the end for a point
double distPointLine(double x, double y, const double* line);
int pointOrderOnElem(const ContourElement* e, const Vec2* p, const Vec2* q);  // 1 p after q, else 2
