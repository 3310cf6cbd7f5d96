// Value types of the geometry kernel and their small stateless functions.
#pragma once

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

// Lengths, distances and products.
double vecLen2D(const Vec2* v);
double vecLen3D(const Vec3* v);
double dist2D(const Vec2* a, const Vec2* b);
double dist2D(const Vec3* a, const Vec3* b);  // plan distance: z is ignored
double dist3D(const Vec3* a, const Vec3* b);
double vecDot2D(const Vec2* a, const Vec2* b);
double vecDot3D(const Vec3* a, const Vec3* b);
void vecScale2D(double factor, const Vec2* v, Vec2* out);
int vecAddSub2D(const Vec2* a, const Vec2* b, Vec2* out, int mode);  // mode 1: a + b, -1: a - b
int cross3D(const Vec3* a, const Vec3* b, Vec3* out);
double crossLen3D(const Vec3* a, const Vec3* b);
int crossUnit3D(const Vec3* a, const Vec3* b, Vec3* out);  // 0, or -1 (out unnormalised) below 1e-5
int vecNormalize3D(const Vec3* v, Vec3* out);              // 1, or -1 with out = 0 below 1e-5
int vecUnitXY3D(const Vec3* v, Vec3* out);                 // 1, or 0 with out = v
void vecFlattenXY3D(Vec3* v);
int triNormal3D(const Vec3* a, const Vec3* b, const Vec3* c, Vec3* out);
int quadNormal(const Vec3* a, const Vec3* b, const Vec3* c, const Vec3* d, Vec3* out, double* outLen);

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
