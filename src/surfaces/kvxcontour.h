// Contour objects of exchange files (chains of line and arc elements in a contour frame, with a
// surface height and a depth) read into profiles, one per contour, in file order.
#pragma once

#include "KVWOG5/lists.h"
#include "geometry/profile.h"

enum : int32_t {
    kKvxContourFirstCapacity = 1000,
};

// The first profile of the chain (linked by next, named by the contour identifiers), or null when
// the file cannot be opened, memory runs out, or the file is malformed (an element outside a
// contour, a number that does not read); nothing is left allocated on failure. Arcs are split
// for the chord tolerance. The contour frame ("Cs_o", "Cs_x", "Cs_y", "Cs_z") persists across
// contours and files.
ProfileCurve* readKvxContour(const char* path, double tolerance);
// Appends the start point only to an empty list, then the end point; 1, or 0 when an append fails.
int kvxContourAddLine(double x1, double y1, double z1, double x2, double y2, double z2, PointList3D* points);
// Appends an arc from start to end about centre at height z (sense < 0 clockwise); 1, or 0.
int kvxContourAddArc(PointList3D* points, double tolerance, const Vec2* start, const Vec2* end, double z,
                     const Vec2* centre, int sense);
// The profile of the points mapped through the contour frame; null when memory is short.
ProfileCurve* kvxContourToFrame(const PointList3D* points, double surface, double depth);
// Three numbers separated by ","; 1, or -1 (out unchanged) when a "," is missing.
int parseXyzTriple(const char* text, Vec3* out);
void kvxContourResetState();  // the frame back to the origin and the unit axes
