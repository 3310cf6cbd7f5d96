// Corner rounding of side paths: sharp turns are replaced by a smooth transition whose size follows a
// tolerance (a length in the path's unit).
#pragma once

#include <cstdint>

struct Plist;
struct Vec3;

// Whether the tool at a point of the path keeps clear of what the path was traced against: 1, else 0.
// A rounding moves points toward the inside of the bend, which may be the wall itself.
struct CornerGuard {
    int (*clear)(const Vec3* point, const void* context);
    const void* context;
};

// Rounds every corner turning by at least angleDeg degrees: the number of corners found. With a guard,
// a corner whose rounding would move a point where the guard finds it not clear is left sharp. No
// point of kind 3 remains afterwards.
int32_t plistProcessRuns(Plist* path, double angleDeg, double tol, const CornerGuard* guard = nullptr);
double turnAngleDeg(const Vec3* previous, const Vec3* point, const Vec3* next);  // 0 on a short segment
int32_t findCorner(const Plist* path, int32_t from, double angleDeg);  // first index at or after from, or -1
// Subdivides the segments within range of the corner into pieces of at most step: the corner's new
// index, or -1; before and after count the points inserted on either side.
int32_t refineAroundCorner(Plist* path, int32_t corner, double range, double step, int32_t* before,
                           int32_t* after);
// Parameters of the points at path distance d before and after the corner: 1, or -1 past an end.
int pathPointsAtDistance(const Plist* path, int32_t corner, double d, double* tBefore, double* tAfter);
// 1, or -1 when left sharp (also when the guard refuses a rounded point: the path keeps its points).
int filletCorner(int32_t corner, Plist* path, double tol, const CornerGuard* guard = nullptr);
void setSplitKind(int32_t index, Plist* path);
