// Free range of tool-axis tilt angles at a tool point: the tool, a body of revolution given by rings
// joined by conical bands, is tilted about the horizontal line U through the point, and every
// obstacle triangle forbids the angles at which some band touches it.
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "geometry/vec.h"

enum : int {
    kAxisFree = 1,
    kAxisNoRange = 0,    // every angle in the allowed range is forbidden
    kAxisVertical = -1,  // the axis has no horizontal part, so the tilt line is undefined
    kAxisBadArgs = -2,   // a missing pointer, lo above hi, or values that are not finite
    kAxisNoMemory = -3,
};

enum : int32_t {
    kAxisModelSlots = 3,
    kAxisMeshIntervals = 10000,    // the over-mesh list
    kAxisTriangleIntervals = 100,  // one triangle's list in the box-tree descent
    kAxisSegmentEvents = 100,      // contact events of one profile segment
};

// Box-tree node; a leaf has no first child and covers items[first..last].
struct AxisBoxNode {
    double xmin, xmax, ymin, ymax, zmin, zmax;
    int32_t first, last;
    AxisBoxNode* child1;
    AxisBoxNode* child2;
};

// Per triangle; the last Vec3 is the unit normal of (p1 - p0) x (p2 - p0).
struct AxisTriangleInfo {
    Vec3 centre;
    Vec3 normal;
};

// One obstacle mesh with the tool profile tested against it. Ring heights are measured along the
// axis from the tool point; band i joins ring i to ring i + 1 with radius bandSlope[i] u +
// bandBase[i], and bandQuad gives the band's axial parameter u at squared distance q from the tool
// point: u = (sqrt(c2 + (q - c3) c0) - c1) / c0.
struct AxisObstacleModel {
    TriList* triangles;  // owned
    AxisTriangleInfo* triangleInfo;
    AxisBoxNode* root;
    int32_t* items;
    int32_t lastItem;
    int32_t ringCount;
    double angleMargin;  // largest angle of a tool point from the axis
    double* ringZ;
    double* ringR;
    double* reachSq;
    double* innerSq;
    double* bandSlope;
    double* bandBase;
    double* bandQuad[4];
    AxisBoxNode* nodes;  // storage of the tree
    int32_t nodeCount;
};

// Interval list: parallel starts and ends.
struct AngleIntervals {
    int32_t count;
    int32_t capacity;
    double* starts;
    double* ends;
};

// Tilt frame of one call: axis(t) = cos t A + sin t W, n(t) = -sin t A + cos t W.
struct AxisFrame {
    Vec3 P, A, U, W;
};

// Copies the triangles and builds the tree. The profile needs ringCount >= 2, rising heights from 0
// or above, radii of 0 or more with the last ring the widest, and every band moving away from the
// tool point as u grows. Null on bad input or without memory.
AxisObstacleModel* axisModelCreate(const TriList* triangles, int32_t ringCount, const double* ringZ,
                                   const double* ringR);
void axisModelFree(AxisObstacleModel* model);

// Module-level model slots (not owned) and the descent switch (1: box tree, 0: item by item).
int axisIntervalsSetModel(int32_t slot, const AxisObstacleModel* model);
void axisIntervalsSetBoxTree(int32_t on);
void axisIntervalsResetState();

// The free gap after the lower limit: lo and hi bound the tilt relative to A (radians). kAxisFree with
// the gap, kAxisNoRange (freeLo = freeHi = lo) when nothing is free, or a negative code.
int axisIntervalsOverMesh(const Vec3* P, const Vec3* A, double lo, double hi, double* freeLo, double* freeHi);
int axisIntervalsBoxTree(const AxisFrame* f, const AxisObstacleModel* model, const AxisBoxNode* node,
                         AngleIntervals* list);
// Intervals of one triangle into out (cleared first); limit bounds the tilt in either direction.
int axisIntervalsTriangle(int32_t item, const AxisFrame* f, const AxisObstacleModel* model, double limit,
                          AngleIntervals* out);

// Interval algebra.
double angleWrapNear(double a, double ref);
// [s, e] wrapped into [-pi, pi]; an interval passing pi is stored as two. 1, or 0 when full.
int appendAngleInterval(AngleIntervals* list, double s, double e);
void sortAnglePairs(AngleIntervals* list);
// With more than two intervals, gaps narrower than 0.02 close (too narrow to steer through).
void closeAngleGaps(AngleIntervals* list);
void sortAngleEvents(int32_t n, double* angles, int32_t* flags);

// Contact kernels of one profile segment i (band i between rings i and i + 1).
struct BandPoint {
    Vec3 X;
    Vec3 du, dphi, dt;                // first derivatives
    Vec3 dphiphi, duphi, dphit, dut;  // mixed second derivatives
};
void bandPointEval(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, double u, double t, double phi,
                   BandPoint* out);
Vec3 bandNormal(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, double t, double phi);
// Angle pairs at which ring (Z, R) touches the triangle's plane: count 0..2; per angle t, an inside
// flag, phi and the barycentric a, b of the touching point. h = n . (P - V0).
int ringPlaneAngles(const AxisFrame* f, double Z, double R, const Vec3 tri[3], const Vec3* n, double h,
                    double t[4], int inside[4], double phi[4], double a[4], double b[4]);
// Whether the solid of band i, tilted by t, meets the triangle (n its unit normal).
bool bandHitsTriangle(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3 tri[3],
                      const Vec3* n, double t);
// Tilt angles at which X lies on the ring circle (Z, R) or on band i; s = (X - P) . U in either case.
int pointRingAngles(const AxisFrame* f, const Vec3* X, double Z, double R, double* t1, double* t2,
                    double* phi1, double* phi2, double* s);
int bandAtPoint(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3* X, double* t1,
                double* t2, double* phi1, double* phi2, double* u, double* s);
// First (side 0) or last (side 1) contact of band i with the edge window Xlo..Xhi: 1 with t, phi, u.
int bandEdgeContact(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3* Xlo,
                    const Vec3* Xhi, int side, double* t, double* phi, double* u);
// start: u, t, phi and the window parameter e (used in mode 0).
int bandContactSearch(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3* Xlo,
                      const Vec3* Xhi, int side, int mode, const double start[4], double* t, double* phi,
                      double* u, double* e);
