// Trochoidal links: the tool crosses from one path point to the next in a row
// of loops that swing out sideways and come back onto the straight line a
// little further on, so that it never ploughs the full width through material.
// Loops are chains of lines (scaled units); the widest loop that stays clear
// of the INPUT contours is taken, halving the width until one fits.
#pragma once

#include <cstdint>

#include "geometry/spline.h"
#include "geometry/vec.h"
#include "pocket/clist.h"

enum : int32_t {
    kTrochoidMaxElements = 10000,  // the smallest buffer a link's caller hands over
    kTrochoidPointsFirst = 51,
    kTrochoidMaxDepth = 10,  // halvings of a curve interval
};

// The widest link from w down (halved while above 0.01) that crosses no INPUT
// contour: its element count, or -1 (none fits, a build failed, no room).
int32_t trochoidLinkSearch(const Vec2* a, const Vec2* b, const Vec2* d, double w, int32_t steps, double eps,
                           ContourElement* out, int32_t capacity);
// n loops (at least one) from a to b along the unit direction d: the element count, or -1.
int32_t trochoidLinkBuild(const Vec2* a, const Vec2* b, const Vec2* d, double w, int32_t n, double eps,
                          ContourElement* out, int32_t capacity);
// One loop from P to Q turning at w to the left of P: the element count, or -1.
int32_t trochoidLoop(const Vec2* d, const Vec2* p, const Vec2* q, double w, double eps, ContourElement* out,
                     int32_t capacity);
// A half loop from P (leaving along dirP) to M (arriving along dirM): the element count, or -1.
int32_t trochoidHalfLoop(const Vec2* p, const Vec2* m, const Vec2* dirP, const Vec2* dirM, double eps,
                         ContourElement* out, int32_t capacity);
// The cubic from P0 leaving along u to P3 arriving along a, arms sized for a
// half circle of radius h; null for a direction shorter than 1e-5 or no memory.
PolyCurve* bezierUTurn(const Vec3* p0, const Vec3* p3, const Vec3* u, const Vec3* a, double h);
// The curve as points within eps of it (*points malloc'd, caller frees): the count, or -1 without memory.
int32_t curve3DPointList(const PolyCurve* curve, double eps, Vec3** points, int32_t* count);
// 1 when the running length of the polyline reaches the limit; its whole length in *sum.
int polylineLengthReaches(const Vec3* points, int32_t count, double limit, double* sum);

// Installs the search as the connecting moves' trochoidal link.
void trochoidInstall();
