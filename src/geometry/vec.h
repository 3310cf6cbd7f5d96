// Value types of the geometry kernel and their small stateless functions.
#pragma once

#include <cmath>
#include <cstdint>

struct Vec2 {
    double x, y;
};

struct Vec3 {
    double x, y, z;
};

// A 2D segment: start point (x1, y1), end point (x2, y2).
struct Seg2D {
    double x1, y1, x2, y2;
};

// Crossing record of the contour code; only its leading x and y doubles are read here.
struct IsectRecord;

// Lengths, distances and products. The small ones are defined here: the inner loops of the surface and
// mesh code call them per point, and a call costs more than the arithmetic.
inline double vecLen2D(const Vec2* v) {
    return std::sqrt(v->x * v->x + v->y * v->y);
}
inline double vecLen3D(const Vec3* v) {
    return std::sqrt(v->x * v->x + v->y * v->y + v->z * v->z);
}
inline double dist2D(const Vec2* a, const Vec2* b) {
    const double x = a->x - b->x, y = a->y - b->y;
    return std::sqrt(x * x + y * y);
}
inline double dist2D(const Vec3* a, const Vec3* b) {  // plan distance: z is ignored
    const double x = a->x - b->x, y = a->y - b->y;
    return std::sqrt(x * x + y * y);
}
inline double dist3D(const Vec3* a, const Vec3* b) {
    const Vec3 d{a->x - b->x, a->y - b->y, a->z - b->z};
    return vecLen3D(&d);
}
inline double vecDot2D(const Vec2* a, const Vec2* b) {
    return a->x * b->x + a->y * b->y;
}
inline double vecDot3D(const Vec3* a, const Vec3* b) {
    return a->x * b->x + a->y * b->y + a->z * b->z;
}
void vecScale2D(double factor, const Vec2* v, Vec2* out);
int vecAddSub2D(const Vec2* a, const Vec2* b, Vec2* out, int mode);  // mode 1: a + b, -1: a - b
inline int cross3D(const Vec3* a, const Vec3* b, Vec3* out) {
    *out = Vec3{a->y * b->z - a->z * b->y, a->z * b->x - a->x * b->z, a->x * b->y - a->y * b->x};
    return 0;
}
inline double crossLen3D(const Vec3* a, const Vec3* b) {
    Vec3 c;
    cross3D(a, b, &c);
    return vecLen3D(&c);
}
int crossUnit3D(const Vec3* a, const Vec3* b, Vec3* out);  // 0, or -1 (out unnormalised) below 1e-5
int vecNormalize3D(const Vec3* v, Vec3* out);              // 1, or -1 with out = 0 below 1e-5
int vecUnitXY3D(const Vec3* v, Vec3* out);                 // 1, or 0 with out = v
void vecFlattenXY3D(Vec3* v);
inline int triNormal3D(const Vec3* a, const Vec3* b, const Vec3* c, Vec3* out) {
    const Vec3 u{a->x - c->x, a->y - c->y, a->z - c->z};
    const Vec3 w{b->x - c->x, b->y - c->y, b->z - c->z};
    return cross3D(&u, &w, out);
}
inline int quadNormal(const Vec3* a, const Vec3* b, const Vec3* c, const Vec3* d, Vec3* out, double* outLen) {
    Vec3 n1, n2;
    triNormal3D(a, b, c, &n1);
    triNormal3D(a, c, d, &n2);
    *out = Vec3{n1.x + n2.x, n1.y + n2.y, n1.z + n2.z};
    *outLen = vecLen3D(&n1) + vecLen3D(&n2);
    return 1;
}

// Scalars and angles.
double sqrtPos(double x);
double acosClamped(double c);
double polarAngle2D(double y, double x);  // [0, 2 pi)
int isEqualTol(double a, double b);
int isectRecordEqual(const IsectRecord* r1, const IsectRecord* r2);
double turnAngle2D(double x0, double y0, double x1, double y1, double x2, double y2);

// Segments, lines and polygons in the plane.
int segDir2D(const Seg2D* seg, Vec2* out);
int segNormal2D(const Seg2D* seg, Vec2* out, int side);  // side 1: left normal, else right
int segSetPoint2D(Seg2D* seg, const Vec2* p, int which);
int segGetPoint2D(const Seg2D* seg, Vec2* out, int which);  // 1 start, 2 end, 3 midpoint
int segListClosed2D(const Seg2D* segs, int32_t n);
int footOnLine2D(const Seg2D* seg, double px, double py, double* outX, double* outY);
int pointInSegBox2D(const Vec2* p, const Seg2D* seg);
double distPointLine2D(double px, double py, const Seg2D* seg);
double distPointSeg2D(const Vec2* p, const Seg2D* seg);
double distPointSegNear2D(const Vec2* p, const Seg2D* seg, Vec2* outNear);
double nearestSeg2D(const Vec2* p, const Seg2D* segs, int32_t n, int32_t* outIndex);
int segTurn2D(const Seg2D* segA, const Seg2D* segB, int* out);
int pointInPolyWinding2D(const Seg2D* segs, int32_t n, const Vec2* p);
int polyOrient2D(const Seg2D* segs, int32_t n);
int lineLineIsect2D(const Seg2D* segA, const Seg2D* segB, Vec2* out);
int segIsectDegenerate2D(const Seg2D* segA, const Seg2D* segB, Vec2* out);
int segSegIsect2D(const Seg2D* segA, const Seg2D* segB, Vec2* out);

// A circle element is read as doubles: centre x, y at 0 and 1, radius at 6.
int lineCircleIsect2D(const Seg2D* seg, const double* circle, Vec2* out1, Vec2* out2);
int segCircleIsect2D(const Seg2D* seg, const double* circle, Vec2 out[2]);

// Turning unit vectors.
int vecRotateToward3D(Vec3* out, const Vec3* v, const Vec3* w, double angle);
int vecRotateTowardClamped3D(Vec3* out, const Vec3* v, const Vec3* w, double step);
int vecStepTowardPolar3D(Vec3* out, const Vec3* v, const Vec3* w, double step);
