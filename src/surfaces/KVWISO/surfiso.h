// Iso lines of trimmed surfaces: families of curves of constant parameter, spaced on the surface,
// written to and read back from the iso-line file.
//
// The iso-line file (text, six decimals):
//   (empty line) **GROUP g        optional, the group of the blocks that follow (rising)
//   (empty line) **BND n          block n, numbered over the whole process from 1
//   X.. Y.. Z.. A.. B.. C.. U.. V..   a point, its unit surface normal and its (u, v)
//   **END
#pragma once

#include <cstdint>

#include "KVWOG5/lists.h"
#include "geometry/vec.h"
#include "surfaces/surflist.h"

enum : int32_t {
    kIsoAlongU = 1,  // lines along u (v constant)
    kIsoAlongV = 2,  // lines along v (u constant)
    kIsoMaxLoops = 10000,
};

// Results beyond the usual 1 and -1.
enum : int {
    kIsoAbort = -2,  // the host asked to stop; also a loop of negative size
    kIsoTooManyLoops = -3,
    kIsoStackFailed = -201,
};

// One sample of an iso line, the record of the line lists (a Rec64 of eight doubles).
struct IsoPoint {
    double u, v;
    double x, y, z;
    double a, b, c;  // unit surface normal
};
static_assert(sizeof(IsoPoint) == sizeof(Rec64), "an iso point fills one 64-byte record");

// A curve read back from the file.
struct IsoCurve {
    int32_t count;
    int32_t capacity;
    int32_t group;  // counted from the file's "**GROUP" lines, 0 before the first
    Vec3* points;   // frame A
    Vec3* normals;
    Vec2* uv;
    IsoCurve* next;
};

// Reads the surfaces of the exchange file, joins neighbours, and appends the lines of direction
// dir to the iso-line file outPath: 1, or a negative code (-1 unreadable file, no memory, a
// spacing that is not positive, or a direction other than 1 and 2; a generator's negative code).
int surfIsolines(const char* path, int32_t dir, double spacing, double gapTol, double chordTol,
                 const char* outPath);
// 10 * side of a + side of b along which the two patches meet (sides 1..4: vmin, umax, vmax,
// umin), 0 when they do not (message 897); -1 when memory is short.
int surfJoinCode(const TrimSurface* a, const TrimSurface* b, double gapTol);

// The point of the surface at (u, v), moved along the unit normal by an offset surface's
// distance: 0, or -1 (message 568).
int surfEvalPoint(const TrimSurface* surface, double u, double v, Vec3* out);

// The parameter lines of a patch (Seg2D u0, v0, u1, v1), two-sided from both boundary lines
// toward the middle and sorted: the count, or a negative code (-2 when the patch would need more
// than 100000 lines at this spacing, or when its surface distance jumps by more than a spacing
// between neighbouring parameters, so that no line fits there).
int isoParamsTwoSided(const TrimSurface* patch, int32_t dir, double spacing, Seg2D** out);
// The largest surface distance between the lines at parameters t0 and t1; -1 on failure.
double isoLineDistance(const TrimSurface* patch, int32_t dir, double t0, double t1);
// The trim loops of a patch into buffer (room for all their points), near-equal neighbours
// dropped: the loop count, with the kept counts in isoLoopCounts(); -3 beyond kIsoMaxLoops
// (messages 653, 654, 655), -2 for a loop of negative size (656).
int LESE_KONTUREN(const TrimSurface* patch, Vec2* buffer);
const int32_t* isoLoopCounts();
// The cuts of a parameter segment with the loops read by LESE_KONTUREN: the even number of
// points along the line in cuts (at most max), the constant parameter actually used in
// *shifted; -1 when no even cut was found.
int isoLineLoopCuts(const Seg2D* seg, int32_t dir, const Vec2* loops, int32_t loopCount, Vec2* cuts,
                    int32_t max, double* shifted);

// The lines of one patch for the given parameter lines (Rec64List of IsoPoint each) appended to
// out: the number of lines, or a negative code.
int isoPatchLines(const TrimSurface* patch, const Seg2D* params, int32_t count, int32_t dir, int reversed,
                  double chordTol, Rec144List* out);

// Appends one line to the file: 1, -1 when the file cannot be opened, 0 for a null line.
int isoWriteBnd(const Rec64List* line, const char* outPath);
// A new group header before the next block written.
void isoNewGroup();

// The file read back into a chain of curves (null on error, message 895, or without blocks);
// reverse turns every curve, prepend puts later curves first.
IsoCurve* readIsoCurveGroups(const char* path, int reverse, int prepend);
void freeIsoCurves(IsoCurve* list);
int isoFileCountBnd(const char* path);  // "**BND" lines, -1 when the file cannot be opened

void isoResetState();  // block and group numbers back to 0
