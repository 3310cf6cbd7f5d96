// The check model: a triangle mesh (or facet array) together with the tool tested against it, and
// the thin dispatch through which the rest of the system queries it.
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "geometry/grid2d.h"
#include "geometry/plist.h"
#include "geometry/profile.h"
#include "geometry/vec.h"
#include "surfaces/meshfiles/facet.h"

// Tool shapes; the cycle's toolType keyword writes the names.
enum ToolType : uint16_t {
    kBallMill = 1,
    kEndMill = 2,
    kRadiusMill = 3,
    kToolNoBoxLift = 10,   // no contact kernel; the drop-cutter engines skip their box lift
    kToolDiameter12 = 12,  // the assembly profile reads the radius as diameter / 2
};

enum : int32_t {
    kMeshTriangles = 3,  // model kind: triangle list; any other kind is a facet array
    kMeshFacets = 4,
};

struct ToolGeom {
    uint16_t toolType;
    double radius;        // R
    double cornerRadius;  // r of a radius mill
    double spare;
    double height;      // cutting length above the tip
    double size2;       // diameter-like second size (2R for a ball built from a radius)
    double size6;       // height of a ring tool's ring above `height`
    double taperAngle;  // degrees
    uint16_t taperFlag;
};

struct LiftBoxTable;     // drop-cutter box table
struct MeshIndex;        // element box tree of a finished mesh
struct PlungeIntervals;  // intervals and boundary of the profile plunge

struct CheckModelPart {
    int32_t kind;
    Facet98* facets;
    int32_t facetCount;
    TriList* triangles;
    Vec3* boxMax;  // per element, upper corners, z never increasing along the array
    Vec3* boxMin;
    double bounds[6];  // x, y, z min, then x, y, z max
    ToolGeom tool;     // the part's own tool sizes
    Grid2D* grid;
    int32_t refuseRaise;  // 1: the profile plunge refuses a point this part raises by more than the tolerance
    CheckModelPart* next;
};

struct CheckModel {
    int32_t kind;
    Facet98* facets;
    int32_t facetCount;
    TriList* triangles;
    Vec3* boxMax;
    Vec3* boxMin;
    double bounds[6];
    ToolGeom* tool;  // owned
    PlungeIntervals* plungeIntervals;
    ProfileCurve* plungeProfile;
    int32_t boundaryTest;
    int32_t slopeMode;   // 0 off, 1 record the smallest contact slope, 2 also stop below slopeLimit
    double stepLength;   // longest neighbour distance of the point-list checks; small-radius limit
    double tolerance;    // contacts shallower than this are ignored
    double loaderValue;  // the mesh loaders' own
    int32_t intervalTest;
    int32_t randomStep;
    double slopeLimit;
    double zLow, zHigh;
    LiftBoxTable* engineWord;  // box table handed to the drop-cutter engines
    Grid2D* grid;
    CheckModelPart* parts;
    double radiusReduction;  // the holder check subtracts it from the shank radius
    // Built by the mesh's owner once the mesh is final and freed with the mesh (clones share it); the
    // whole-mesh sweeps then visit only the elements near the tool's line. Null: every element.
    MeshIndex* index;
};

// Record operations; none reports through messages.
void chkModelInit(CheckModel* model, int32_t kind);
CheckModel* chkModelClone(const CheckModel* model);  // shares the mesh data; null when memory is short
void chkModelFreeParts(CheckModel* model);
void chkModelFree(CheckModel* model);                 // parts, tool and record; never the mesh
int chkModelOffsetTool(CheckModel* model, double d);  // 1 when the model's own radius changed
int chkModelIsEmpty(const CheckModel* model);
int chkPartIsEmpty(const CheckModelPart* part);

// Element access shared by the queries: a facet counts as the triangles (Q0, Q1, Q2), (Q0, Q2, Q3).
int32_t chkMeshCount(int32_t kind, const Facet98* facets, int32_t facetCount, const TriList* triangles);
// The triangles of element j (out holds two triangles' corners): 1 or 2.
int chkElementTriangles(int32_t kind, const Facet98* facets, const TriList* triangles, int32_t j,
                        Vec3 out[6]);

struct CheckParams;

// Query dispatch by kind (the workers live with the contact queries).
int chkModelPath(CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p, const Vec3* d,
                 double length, double* lift, Vec3* contact);
// Whether chkModelPath over the whole model finds a lift above `above` (1, else 0); the search ends at
// the first element that gives one.
int chkModelPathAbove(CheckModel* model, const Vec3* p, const Vec3* d, double length, double above);
int chkModelPoints(CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p, const Vec3* d,
                   double length, Vec3* contact);
int chkModelSegment(CheckModel* model, const Vec3* p, const Vec3* axis, double length, const Grid2D* grid,
                    double angle);
int chkModelContactPoints(CheckModel* model, Plist* list, double length, const Grid2D* grid, double angle);
int chkModelList(CheckModel* model, Plist* list, double length, const int32_t* cells, int32_t cellCount,
                 const CheckParams* params);
// Hands the mesh to the drop-cutter engine of its kind (option: the contact-point flag).
void chkModelPrepare(const CheckModel* model, int32_t option);
// The tool placed over point (x, y; the start height in, the placed height out), dropped from the
// tool radius above the mesh top, over the grid cell of the point when there is a grid.
int chkModelPlaceTool(const CheckModel* model, Vec3* point, Vec3* contact, int32_t* classOut);
