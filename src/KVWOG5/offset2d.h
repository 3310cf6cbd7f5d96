// 2D offset of a contour set (an outer contour with its islands, or one open polyline) by a signed
// distance: positive away from the material (the outer contour grows, islands shrink), negative
// into it; an open polyline gives the loop around it at the distance. The work is done in a space
// scaled so that the distance is 10, by rolling a tool of that radius along the elements.
#pragma once

#include <cstdint>

struct Kont2d;
struct Offs3dGeometry;
struct Offs3dLoops;
struct Offs3dParams;
struct Offs3dPath;
struct Offs3dTool;
struct StartCandList;

enum : int {
    kOffsetNothing = 0,            // nothing to offset or nothing came out
    kOffsetNoGrowth = -5,          // loops were traced but the path did not grow
    kOffsetBadMode = -20,          // side mode outside 1..4
    kOffsetNoCandidate = -23,      // open input and no start candidate
    kOffsetNoProgress = -30,       // a sweep or a loop removed no candidate
    kOffsetInvalidInput = -34,     // the closed input fails validation
    kOffsetOpenWithIslands = -51,  // open input with islands or a next contour
};

// 1 with *result the head of a new contour set (free it with kont2dFree), 0 with *result null when
// there is nothing to offset or nothing came out, a negative code with *result null on failure.
// The input keeps its shape; only its closed flag is set to what was found.
int offset2d(Kont2d* contour, double distance, Kont2d** result);
// The attempt loop of offset2d.
int offset2dMain(Kont2d* contour, double distance, Kont2d** result);
// Start candidates of the scaled contour, mode 1 (away from the material), 2 (into it), 3 (left) or 4
// (right).
int offset2dPrepare(Offs3dGeometry* geometry, Offs3dTool* tool, Offs3dParams* params, Offs3dLoops* loops,
                    const Kont2d* contour, int32_t mode);
int offset2dTrace(Offs3dLoops* loops, Offs3dGeometry* geometry, Offs3dTool* tool, Offs3dParams* params);
int offset2dDropNearCandidates(const Kont2d* merged, StartCandList* candidates);
int offset2dDropCoveredCandidates(int32_t first, StartCandList* candidates, const Offs3dPath* path,
                                  int32_t end);
void rotateRight2D(double* x, double* y);
void rotateLeft2D(double* x, double* y);
int compareElementStartX(const void* a, const void* b);
