// Revolved meshes: a meridional (r, z) profile swept about the z axis into triangles whose chords
// stay within a tolerance of the surface of revolution. The check-model forms of these meshes
// (built from a template model, merged, written as a check file) live with the cycle
// (plunge/revmeshmodel.h).
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "geometry/vec.h"

// More angular steps than this per band are refused: the tolerance is then meaninglessly small
// for the radius (and the count would overflow).
constexpr int32_t kRevMeshMaxSteps = 1000000;

// The angular step about the axis at radius r whose chord stays within tol of the circle,
// alpha = 2 acos((r - tol) / r) (cosine clamped to [-1, 1]), and the steps that cover a full turn,
// n = 1 - trunc(-2 pi / alpha). A radius of 0 gives alpha = 2 pi and n = 2. 1, or -1 for a
// tolerance that is not positive, a negative radius, or more than kRevMeshMaxSteps steps.
int revMeshAngleStep(double radius, double tol, double* alpha, int32_t* steps);

// Appends the band swept by the segment a-b ((r, z) points): n times the triangles (P, Q, P') and
// (P', Q, Q'), P = (rA, 0, zA) and Q = (rB, 0, zB) turned step by step counter-clockwise about z,
// with the step of the smaller radius. 1, or -1 when the step is refused or an append fails.
int revMeshSegment(const Vec2* a, const Vec2* b, TriList* list, double tol);

// The triangles of a whole profile, band after band, sorted by their highest z (highest first).
// A profile of fewer than two points gives an empty list. Null when a band fails: a mesh with a
// missing band would hide the hub from every check.
TriList* revMeshSweep(const Vec2* points, int32_t count, double tol);
