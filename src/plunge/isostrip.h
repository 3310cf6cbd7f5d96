// Sampled iso lines of a trimmed surface: three iso lines (at 0, 0.5 and 1 of the cross parameter)
// sampled together along the other parameter, in frame A. Parameters 0..1 span each knot range.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "surfaces/surflist.h"

struct IsoStrip {
    const TrimSurface* surface;  // not owned
    int32_t count;
    Vec3* edge0;   // cross parameter 0
    Vec3* edge1;   // cross parameter 1
    Vec3* middle;  // cross parameter 0.5
    double* t;     // sampling parameter of each sample
};

IsoStrip* isoStripCreate(int32_t count);  // null on any failure
void isoStripFree(IsoStrip* strip);       // null-safe
// Samples first..last of every array in a new strip; null when the range is empty or outside.
IsoStrip* isoStripCopyRange(const IsoStrip* strip, int32_t first, int32_t last);
void isoStripSwapEdges(IsoStrip* strip);
void isoStripReverse(IsoStrip* strip);  // every array
// Point of the surface at unit parameters (u, v), its offset applied, in frame A: 1, or -1.
int isoSurfacePoint(const TrimSurface* surface, double u, double v, Vec3* out);
// Length of the iso line at cross parameter 0 through 100 points; direction 0 runs along v.
double isoLineLength(const TrimSurface* surface, int32_t direction);
// n = trunc(length / tol) + 2 samples at t = i / (n - 1); direction 0 samples (0|0.5|1, t), direction
// 1 samples (t, 0|0.5|1). Null on failure.
IsoStrip* idx5SurfaceIsoCurve(const TrimSurface* surface, int32_t direction, double tol);
