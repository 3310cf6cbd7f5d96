// Trimmed, optionally rational and offset B-spline surfaces and the growable list of them.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

enum : int32_t {
    // Bounds every count taken from a file or a caller before anything is allocated.
    kSurfMaxKnots = 400000,   // per direction
    kSurfMaxPoints = 400000,  // control points of one surface
    kSurfMaxLoopPoints = 400000,
};

// Tensor-product B-spline surface. S(u,v) = sum N_i(u) N_j(v) w_ij P_ij / sum N_i(u) N_j(v) w_ij
// (plain sum when not rational).
struct BsplSurface {
    int32_t uOrder;     // degree + 1 in u, at least 2
    int32_t vOrder;     // degree + 1 in v, at least 2
    int32_t uNum;       // control points in u, at least 2
    int32_t vNum;       // control points in v, at least 2
    int32_t rational;   // 1: weights are present
    int32_t rational2;  // mirrors rational; either flag set means the weights exist
    int32_t periodicU;  // 1: u wraps with period uKnots[uNum] (De Boor evaluator only)
    int32_t periodicV;
    double* uKnots;    // uNum + uOrder values, non-decreasing
    double* vKnots;    // vNum + vOrder values
    Vec3** rows;       // uNum row pointers; rows[0] owns one block of uNum * vNum Cartesian points
    double** weights;  // like rows (weights[0] owns the block); only when rational
};

// One closed boundary in the parameter plane, points (u, v).
struct TrimLoop {
    Vec2* points;  // malloc'd
    int32_t count;
};

struct TrimSurface {
    int32_t hasOffset;  // 1 when |offset| > 1e-4: the surface stands for S + offset * unit normal
    double offset;      // 0.0 unless hasOffset
    int32_t loopCount;  // 0: untrimmed
    TrimLoop* loops;    // the first loop is the outer boundary, the others are holes
    BsplSurface surface;
    double umin, vmin, umax, vmax;  // box of all loop points; +DBL_MAX, +DBL_MAX, -DBL_MAX, -DBL_MAX without
};

struct SurfList {
    int32_t count;
    int32_t capacity;      // at least 3
    TrimSurface* entries;  // in file order; owned
};

// Lists. newSurfList: null when memory is short. freeSurfList accepts null and returns 1.
SurfList* newSurfList(int32_t capacity);
int freeSurfList(SurfList* list);
// Moves the record into the list (the list owns what it owns afterwards); the capacity doubles
// when full. 1, or -1 when the list cannot grow (the record is then left to the caller).
int surfListAppend(SurfList* list, const TrimSurface* rec);

// Records. kvxFreeTrimSurface frees what the record owns (not the record) and re-initialises it.
void kvxInitTrimSurface(TrimSurface* rec);
void kvxFreeTrimSurface(TrimSurface* rec);
// Allocates the knot vectors, rows and (rational) weights of a zeroed surface, all values 0 and
// weights 1. 1, or -1 for orders below 2, counts below the orders, sizes beyond the bounds above
// or no memory (the surface is then left zeroed).
int bsplSurfaceAlloc(BsplSurface* surface, int32_t uOrder, int32_t vOrder, int32_t uNum, int32_t vNum,
                     int32_t rational);
void bsplSurfaceFree(BsplSurface* surface);  // and zeroes it; accepts null
// Appends n points to a loop: 1, or -1 when the total would exceed kSurfMaxLoopPoints or memory is
// short (the loop is then unchanged).
int trimLoopAppend(TrimLoop* loop, const Vec2* points, int32_t n);
// Appends a loop of n points to the record and widens its box: 1 or -1 (nothing changed).
int trimSurfaceAddLoop(TrimSurface* rec, const Vec2* points, int32_t n);
// The box of all points of all loops (the empty box when there are none).
void trimSurfaceUpdateBox(TrimSurface* rec);

// Rescales knot ranges shorter than 0.5 (and at least 1e-8) to 0..1, per surface and direction,
// and maps the loop points and the box alike.
void normSurfListKnots(SurfList* list);
// Every control point through matrix M1 of the global frame pair; weights unchanged.
void surfListToFrameM1(SurfList* list);
void surfToFrameM1(TrimSurface* surface);
