// Corner rounding of side paths: sharp turns are replaced by a smooth transition whose size follows a
// tolerance (a length in the path's unit).
#pragma once

#include <cstdint>

struct Plist;
struct Vec3;

// Rounds every corner turning by at least angleDeg degrees: the number of corners found. No point of
// kind 3 remains afterwards.
int32_t plistProcessRuns(Plist* path, double angleDeg, double tol);
double turnAngleDeg(const Vec3* previous, const Vec3* point, const Vec3* next);  // 0 on a short segment
int32_t findCorner(const Plist* path, int32_t from, double angleDeg);  // first index at or after from, or -1
// Subdivides the segments within range of the corner into pieces of at most step: the corner's new
// index, or -1; before and after count the points inserted on either side.
int32_t refineAroundCorner(Plist* path, int32_t corner, double range, double step, int32_t* before,
                           int32_t* after);
// Parameters of the points at path distance d before and after the corner: 1, or -1 past an end.
int pathPointsAtDistance(const Plist* path, int32_t corner, double d, double* tBefore, double* tAfter);
int filletCorner(int32_t corner, Plist* path, double tol);  // 1, or -1 when left sharp
void setSplitKind(int32_t index, Plist* path);
