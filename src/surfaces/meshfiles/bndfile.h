// Boundary files: text point files of "**BND", "**PRF" and "**SYN" blocks that the 3D cycle writes
// from the "Geometry" and "Contour" objects of a geometry file, and the block counter of such files.
//
//   **BND 1                       block header with its running number in the file
//   X1.000000 Y2.000000 Z0.000000  a point (world coordinates)
//   x0.000000 y0.000000 z0.000000 X1.000000 Y0.000000 Z0.000000   a point with a second point
//   **END
#pragma once

#include <cstdint>

#include "geometry/vec.h"

// Block kinds; each has its own file in the folder: "<folder>/<process number>.<ext>".
enum : int32_t {
    kBndNone = 0,
    kBndBoundary = 1,     // "**BND", ".bnd"
    kBndProfile = 2,      // "**PRF", ".prf" for the first profile, ".pr2" for the second
    kBndSynch = 3,        // "**SYN", ".snc"
    kBndProfile4 = 4,     // as a profile
    kBndInclination = 5,  // "**PRF", ".trc"
    kBndSegment = 6,      // "**SYN", shares the ".snc" file with the synchronisation lines
    kBndKinds = 7,
};

// Where the block files go (null or "": the current folder) and the arc step in degrees.
void writeBoundarySetFolder(const char* folder);
void writeBoundarySetArcStep(double degrees);
// Output of "**SIDE" and "**PLUNGE" lines; off unless turned on.
void writeBoundarySetSideOutput(int on);
void writeBoundarySetPlungeOutput(int on);
// The file name of a kind's first (which 1) or second (2) file into out (size bytes).
void writeBoundaryFileName(int32_t kind, int which, char* out, int32_t size);

// Opens the kind's block and writes its header: 1 (also for a third profile, which is dropped:
// its points go nowhere), 0 when the file cannot be opened; kind 0 does nothing.
int writeBoundaryHeader(int32_t kind);
// The segment's start point once per block, then its end point; nothing without an open block.
void writeBoundaryPoint(double x0, double y0, double z0, double x1, double y1, double z1);
void writeBoundaryPointDir(double x, double y, double z, double dx, double dy, double dz);
// An arc (direction < 0 clockwise) from start to end about centre at height z, as points. The
// step is the arc step, ten times finer from a radius of 1000 on; start = end is a full circle.
void writeBoundaryArc(int direction, const Vec2* start, const Vec2* end, double z, const Vec2* centre);
void writeBoundarySide(int side);  // -1 R, 0 C, 1 L; anything else nothing
void writeBoundaryPlunge(const Vec2* point);
void writeBoundaryEnd();  // "**END", and the file is closed
// Two numbers separated by "," or "/": 1, or 0 when there is no separator.
int parseXyPair(const char* text, double out[2]);

// Reads a geometry file and writes its blocks into the folder set, arcs at the step set; the file's
// surface and depth go where given. 1, or -1 when the file cannot be opened or read.
int writeBoundaryFromFile(const char* geometryFile, double* surface, double* depth);

// Point counts of the blocks of a boundary or iso-line file.
struct BndPair {
    int32_t count;   // points of the i-th "**BND" block
    int32_t second;  // points of the i-th "**CLN" block
};
// The number of "**BND" blocks read (at most capacity of either kind), the file's line count in
// lines; -1 for an empty name, a file that cannot be opened or no memory.
int bnd_read(const char* fileName, BndPair* pairs, int32_t capacity, int32_t* lines);

void writeBoundaryResetState();  // closes an open block, counters 0, settings back
