// Contact queries of a check model: how far the tool must be lifted back along its axis to clear the
// mesh, whether a tool position collides, and lifting and refining whole tool paths onto the mesh.
// The tool moves along d from S = P - L d to P; a lift is L minus the travel to the first contact.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"

enum : int {
    kMeshFree = 1,
    kMeshCollision = -2,
    kMeshNoMemory = -1,
};

// Overrides of the point-list check's switches for one call; an integer field below 0 leaves the
// switch as it is, and maxLift is taken only when limitLift is 0 or more.
struct CheckParams {
    int32_t limitLift;  // 1: a point whose lift exceeds maxLift stays and becomes kind 2
    double maxLift;
    int32_t fixedDir;       // 1: lift along +z instead of the point's vector
    int32_t pullNewPoints;  // 1: an inserted point is first pulled down to its lower neighbour
    int32_t skipLast;       // 1: the last point is not lifted (facet arrays)
    int32_t noRefine;
    int32_t extraTest;   // 1: a change of point kind requests a refinement too
    int32_t fineGap;     // 1: parameter gap limit 0.1 x tolerance (facet arrays)
    int32_t splitLong;   // 1: segments longer than stepLength are split (facet arrays)
    int32_t markLifted;  // 1: lifted points are kind 5 while the check runs (facet arrays)
    int32_t markRest;    // 1: at the end every point not lifted becomes kind 3 (facet arrays)
};

void initChkParams(CheckParams* params);

// The sweeps below take an element's box from the model's corners, or for a triangle mesh without
// them from its triangle (the first corner grown by the other two).
// Largest lift over the listed elements (all with a null list): 1 with lift and contact, 0 none.
int meshDropTool(const CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p,
                 const Vec3* d, double length, double* lift, Vec3* contact);
// The same over the model and every part in its chain.
int meshDropToolAlt(const CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p,
                    const Vec3* d, double length, double* lift, Vec3* contact);
// Whether that largest lift over the whole model (with its parts when it has any) lies above `above`:
// 1 at the first element found that lifts the tool by more, 0 when none does.
int meshDropToolAbove(const CheckModel* model, const Vec3* p, const Vec3* d, double length, double above);
// 1 at the first element (list order) whose lift reaches the model's tolerance, 0 when none.
int meshContactAlongDir(const CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p,
                        const Vec3* d, double length, Vec3* contact);
// The tool coming down its axis a onto P: 1 free, -2 when it touches above its reference level.
int meshContactPoint(const CheckModel* model, const Vec3* p, const Vec3* axis, double length,
                     const Grid2D* grid, double angle);
// meshContactPoint at every point along its vector with a tool 0.01 thinner: 1, or -2 with the list
// cut before the first colliding point.
int meshContactPoints(CheckModel* model, Plist* list, double length, const Grid2D* grid, double angle);
// Lifts a path onto the mesh and refines it: facet arrays 1, triangle lists 1 when some point touched
// and 0 when none; -1 out of memory or bad arguments, -2 aborted.
int meshCollisionPlist(CheckModel* model, Plist* list, double length, const int32_t* cells, int32_t cellCount,
                       const CheckParams* params);

void meshSetNoRefine(int32_t flag);  // triangle-list form
// Receives the contact point of a collision found by meshContactPoints (the avoidance reference).
void meshSetReferenceHook(void (*hook)(const Vec3* point));
// Last collision contact of meshContactPoint for a model kind: 1, or 0 when none was stored yet.
int meshLastContact(int32_t kind, Vec3* out);
void meshResetState();
