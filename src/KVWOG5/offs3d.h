// The tracing engine of the offset-geometry library: a circular tool is rolled along 2D elements
// inside a frame and the path of its centre is recorded as closed loops. Records and path
// (offs3d.cpp), contact search and start test (offs3d_search.cpp), passes and loops
// (offs3d_passes.cpp).
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct Grid2D;
struct GridCell;
struct IntList;
struct Kont2d;
struct StartCandList;
struct TriList;

enum : int {
    kOffs3dClosed = 1,               // the loop closed on itself
    kOffs3dOpen = 2,                 // the run ended on the frame
    kOffs3dFail = -1,                // null path or allocation failure
    kOffs3dRollbackRefused = -3,     // a rollback was needed and could not be made
    kOffs3dStartOutside = -4,        // the start centre lies outside the frame's region
    kOffs3dNoStartContact = -5,      // nothing touched at the start of a pass
    kOffs3dNoDirection = -8,         // current and previous centre coincide
    kOffs3dNoToolMethods = -21,      // the tool kind's triangle workers are not available
    kOffs3dRollbackExhausted = -28,  // answer of offs3dRollback after its ninth call
    kOffs3dNoFrameCrossing = -31,    // leaving the frame without a crossing point
    kOffs3dSelfCross = -41,          // the loop crosses itself
    kOffs3dRunaway = -42,            // the pass comes back onto itself or exceeds its step budget
};

// Contact kinds of the 2D search and the start test.
enum : int { kContactFrame = 0, kContactEnd = 1, kContactLine = 2, kContactSearch = 4 };
// Element reference of a path segment that ends on the frame.
enum : int { kElementFrame = -2 };

struct Offs3dTool {
    double radius;  // scaled offset distance in the 2D use
    double reserved;
    int32_t kind;  // 2 plain circle (2D use); 1 ball and 3 torus use the triangle workers
    int32_t reserved2;
};

struct Offs3dGeometry {
    TriList* triangles;  // triangle mode only
    Kont2d* elements;    // all 2D elements, each towards greater x, sorted by start x
    Kont2d* frame;       // closed region the tool may not leave
    void* reserved;
    Vec3* boxMin;  // elements' box, z -1 and +1 in the 2D use
    Vec3* boxMax;
    void* reserved2;
    void* regionTableA;  // region-numbered triangle mode
    void* regionTableB;
};

// Tool circle in a plane: centre and radius (the first double of a radii record is the radius, the
// torus passes R - r and r).
struct ToolCircle;
typedef int (*OffsetFaceFn)(const double* triangle, const double* radii, const ToolCircle* circle, double z,
                            Vec3* p1, Vec3* p2);
typedef int (*OffsetInsideFn)(const Vec3* point, const double* triangle, const double* radii);
typedef int (*OffsetEdgeFn)(const double* edge, const double* radii, const ToolCircle* circle, double z,
                            Vec3* out4);
typedef int (*OffsetEdgePointFn)(const Vec3* point, const double* edge, const double* radii, Vec3* out);
typedef int (*OffsetVertexFn)(const Vec3* vertex, const double* radii, const ToolCircle* circle, double z,
                              Vec3* p1, Vec3* p2);

// The five triangle-mode operations of a tool kind.
struct OffsetToolMethods {
    OffsetFaceFn face;            // contact points with a triangle face
    OffsetInsideFn inside;        // does a contact fall inside the triangle
    OffsetEdgeFn edge;            // contact points with an edge
    OffsetEdgePointFn edgePoint;  // contact of the tool at a point with an edge
    OffsetVertexFn vertex;        // contact points with a vertex
};

// Line a*x + b*y + c = 0 of an element as segLineEquation2D gives it; ok 0 for no line.
struct Offs3dLine {
    double a, b, c;
    int32_t ok;
};

// Boxes of the elements grown by a margin, and their lines; computed once unless there are too many
// elements.
struct Offs3dBoxTable {
    int32_t count;
    double margin;
    const Kont2d* elements;
    double (*boxes)[4];  // xmin, ymin, xmax, ymax; null when computed on demand
    double scratch[4];
    Offs3dLine* lines;  // null when computed on demand
    Offs3dLine scratchLine;
    double widest;  // greatest extent in x of an element: how far left of a point its reach starts
};

struct Offs3dParams {
    double tolerance;
    double planeZ;       // z of the start point and of every centre found
    int32_t direction;   // tracing sense, +1 or -1
    double stepControl;  // largest step 0.5 * stepControl; cache margin stepControl + radius
    Vec3 startPoint;
    Seg2D startSegment;  // from the start ray's outer end to the first centre
    Grid2D* triangleGrid;
    Grid2D* elementGrid;
    void* triangleBoxes;
    Offs3dBoxTable* elementBoxes;
    void* triangleBlocks;
    int32_t attempt;     // attempt number of the 2D offset
    int32_t regionMode;  // 1: element references become global triangle numbers
    OffsetToolMethods methods;
    Vec3 startCentres[4];  // first contacts of the passes of one loop
    Vec3 startContacts[4];
    int32_t startKinds[4];  // kind times direction
    int32_t startElements[4];
    int32_t startCount;
};

struct Offs3dSeg {
    double x1, y1, z1, x2, y2, z2;
};

struct Offs3dBox {
    double xmin, ymin, zmin, xmax, ymax, zmax;
};

// The traced path: five parallel arrays of one capacity; loops follow one another.
struct Offs3dPath {
    int32_t count;
    int32_t capacity;
    double box[6];  // min x, y, z, max x, y, z; +/-DBL_MAX when empty
    Offs3dSeg* segments;
    Offs3dBox* segmentBoxes;
    Vec3* contacts;     // point touched along each segment
    int32_t* elements;  // element touched, or kElementFrame
    int32_t* kinds;     // contact kind times direction, or the frame contour reached
    int32_t lockSaved;
    int32_t lock;  // 1: the last segment is final, a zero-length put appends
    int32_t reserved;
};

// Bookkeeping of one 2D offset run.
struct Offs3dLoops {
    StartCandList* candidates;
    Offs3dPath* path;
    IntList* loopStarts;  // first path index of each loop
};

struct Offs3dQuery {
    Vec2 reference;  // the sweep starts in the direction from the probe towards it
    Vec2 referenceCopy;
    Vec2 probe;   // centre of the search circle
    double step;  // search circle radius
    int32_t direction;
};

// Moving state of a pass that the corner retreat changes.
struct Offs3dStepState {
    double step;
    int32_t holdOff;   // steps to wait before the step may double again
    double lastAngle;  // corner angle and length of the last retreat; -1 at the pass start
    double lastLength;
    Vec3 previous;
    Vec3 current;
    Vec3 found;
};

// ---- path (offs3d.cpp)
Offs3dPath* offs3dPathCreate(int32_t n);
int offs3dPathReset(Offs3dPath* path);
// Room for n segments at once, so that a path whose length can be foreseen is not grown step by
// step: 1, or -1 when memory runs out (the path keeps what it had).
int offs3dPathReserve(Offs3dPath* path, int32_t n);
int offs3dPathAdd(Offs3dPath* path, const Offs3dSeg* seg, const Vec3* contact, int32_t element, int32_t kind);
int offs3dPathPut(Offs3dPath* path, const Offs3dSeg* seg, const Vec3* contact, int32_t element, int32_t kind);
int offs3dPathUpdateBox(Offs3dPath* path);
int offs3dPathCompactLoop(Offs3dPath* path, int32_t first, int32_t end);
int offs3dSegsMergeable(const Offs3dPath* path, int32_t a, int32_t b);
int offs3dSegBox(const Offs3dSeg* seg, Offs3dBox* out);
void offs3dPathFree(Offs3dPath* path);

// ---- path index (offs3d.cpp)
// Boxes over the segments of a path from one index on, kept as the path grows, so that the
// segments near a point are found in about log n box tests. Only the path's end may change
// (puts, rollbacks, drops): touch the index after each such change.
struct Offs3dPathIndex;
Offs3dPathIndex* offs3dPathIndexCreate(int32_t first);  // null for first < 0 or without memory
void offs3dPathIndexFree(Offs3dPathIndex* index);
// Marks every segment from the path's last one on as changed.
void offs3dPathIndexTouch(Offs3dPathIndex* index, const Offs3dPath* path);
// The first segment of [first, to) nearest to p among those within limit of it, with its distance
// in dist; -1 (dist DBL_MAX) when none is.
int32_t offs3dPathIndexNearest(Offs3dPathIndex* index, const Offs3dPath* path, int32_t to, const Vec2* p,
                               double limit, double* dist);

// ---- cache (offs3d.cpp)
int offs3dBuildCache(Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params);
int offs3dFreeCache(Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params);
int offs3dCompareStartX(const void* a, const void* b);
// Grown box {xmin, ymin, xmax, ymax} of element i.
const double* offs3dElementBox(Offs3dBoxTable* table, int32_t i);
// Line of element i.
const Offs3dLine* offs3dElementLine(Offs3dBoxTable* table, int32_t i);
// Installs the triangle-mode operations of a tool kind: 1, or kOffs3dNoToolMethods for a kind whose
// workers are not available. Kinds without triangle operations install none.
int offs3dInstallToolMethods(int32_t kind, OffsetToolMethods* methods);
// Radius addition of an element for the calling thread (0 without a table).
double offs3dRadiusAddition(int32_t element);
// Region numbering of the triangle mode; never entered in the 2D use, so both answer 0.
int offs3dRegionIndices(Offs3dParams* params, Offs3dPath* path, int32_t first);
int offs3dRegionChanged(const Offs3dParams* params, const Offs3dPath* path, int32_t element);

// ---- contact search and start test (offs3d_search.cpp)
// cells: the triangle cell and the element cell at the probe.
int offs3dContactLoop(const Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params,
                      const GridCell* const cells[2], const Offs3dQuery* query, Vec3* centre, Vec3* contact,
                      int32_t* element, int32_t* kind);
int offs3dStartTest(const Kont2d* elements, const Kont2d* frame, const GridCell* cell, double radius,
                    const Seg2D* ray, Seg2D* segOut, Vec2* contactOut, int32_t* elementOut, int32_t* kindOut);
// 1 inside the frame's outer contour and in none of its islands; 1 without a frame.
int offs3dInsideFrame(const Kont2d* frame, const Vec2* p);

// ---- passes and loops (offs3d_passes.cpp)
int offs3d(Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params, Offs3dLoops* loops);
int offs3dPass(Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params, Offs3dLoops* loops);
// Rolls the path of the pass that starts at first back; never below first.
int offs3dRollback(Offs3dPath* path, int32_t first, int32_t* counter, int32_t* noProgress, int32_t* pending,
                   Vec3* previous, Vec3* current);
int offs3dCheckNewPath(Offs3dLoops* loops, int32_t first);
int offs3dNearPathTest(const Offs3dPath* path, int32_t from, int32_t to, int32_t segment, double limit);
double pointPolylineMinDist(const Offs3dSeg* segs, int32_t count, const Vec3* point, int32_t* index);
double offs3dTurnAngle(const Offs3dPath* path, int32_t first, int32_t sense);
int offs3dStepPoint(double z, const Vec3* from, const Vec3* to, double length, double factor, Vec3* out);
int offs3dFindStartContact(const Offs3dParams* params, const Vec3* point, Vec3* contact, int32_t* element,
                           int32_t* kind);
// Corner retreat after a sharp corner at the least step: 1 when the last two segments were dropped.
int offs3dLimitStep(Offs3dPath* path, int32_t first, double angle, Offs3dStepState* state);
double offs3dStepLimit(double step, double maxStep);
// Puts the exact corner point between consecutive segments of the loop from first whose ends lie on
// different offset curves, where it is free.
int offs3dRefineCorners(const Offs3dGeometry* geometry, const Offs3dTool* tool, Offs3dParams* params,
                        Offs3dPath* path, int32_t first);
