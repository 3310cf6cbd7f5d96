// Curves on the surfaces of an exchange file (their trim boundaries and, for a single surface, its
// iso lines), and the collision mesh of the file's triangles that run along those curves.
#pragma once

#include "collision/meshset.h"
#include "geometry/plist.h"
#include "surfaces/surflist.h"

constexpr double kSurfIsoSpacing = 20.0;  // iso-line spacing of a single-surface file

// The curves of the file in frame A, each point's (u, v) kept as its vector; null when the file
// cannot be read or memory is short.
PlistArray* meshFromSurfaceFile(const char* path, double tol);
// Inserts surface points at parameter midpoints until neighbours lie within tol: the number inserted.
int32_t curveRefineOnSurface(double tol, const TrimSurface* surface, Plist* curve);
// Appends the iso lines of both directions (through the iso-line file in the temporary folder): 1,
// or -1 when the file cannot be written or read back, or memory is short.
int surfIsoCurves(const char* path, PlistArray* curves, double spacing);
// The triangle edges whose both ends lie within curveTol of the curves; null on failure.
CollMesh* collMeshFromSurfaceFile(const char* path, double mergeTol, double curveTol);
