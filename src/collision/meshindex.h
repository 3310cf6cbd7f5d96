// A bounding-box tree over a check model's element boxes: the elements a tool moving along a line may
// meet, handed back in element order so that a scan over them sees what a scan over every element sees.
#pragma once

#include <cstdint>
#include <vector>

#include "geometry/vec.h"

struct MeshIndex;

// The region a line query keeps: an element is left out only when its box lies outside the open plan
// rectangle, entirely ahead of the front (its smallest projection on dir above front), farther than
// reach from the line through start along dir, or (with zLimit set) entirely below zLimit.
struct MeshLineQuery {
    double x0, x1, y0, y1;  // plan rectangle
    Vec3 start, dir;        // the line; dir need not be unit
    double front;           // bound on the smallest projection of a box on dir
    double reach;           // below 0: no distance test
    bool useZLimit;
    double zLimit;  // with useZLimit: elements whose box top lies below are left out
};

// Built over n boxes (lo, hi per element); null when memory is short or n < 1.
MeshIndex* meshIndexBuild(int32_t n, const Vec3* boxMin, const Vec3* boxMax);
// For triangles that follow turns about the z axis (a revolved mesh): their boxes are loose wherever
// they run askew to x and y. The elements are dealt into `sectors` equal sectors about z by the angle
// of their box centres, and each sector's tree holds boxes of its triangles (corners: three per
// element) turned into the sector's own frame, where they run along the axes. meshIndexQuery tests
// every element's own box. Null when memory is short or n < 1.
MeshIndex* meshIndexBuildTurned(int32_t n, const Vec3* boxMin, const Vec3* boxMax, const Vec3* corners,
                                int32_t sectors);
// The same index built element by element while the mesh is made (its corners still at hand): start
// (room: the elements expected; null when memory is short), add each element in element order (false
// when memory is short: abandon the builder then), finish (frees the builder; null when memory is
// short or no element was added).
struct MeshTurnedBuilder;
MeshTurnedBuilder* meshIndexTurnedStart(int32_t sectors, int32_t room);
bool meshIndexTurnedAdd(MeshTurnedBuilder* builder, const Vec3* corners, const Vec3& lo, const Vec3& hi);
MeshIndex* meshIndexTurnedFinish(MeshTurnedBuilder* builder);
void meshIndexTurnedAbandon(MeshTurnedBuilder* builder);
void meshIndexFree(MeshIndex* index);
int32_t meshIndexCount(const MeshIndex* index);
// True for an index built turned (meshIndexBuildTurned, meshIndexTurnedFinish).
bool meshIndexTurned(const MeshIndex* index);
// True when the box tops never increase along the element order (a z limit then ends an ordered scan
// exactly where it leaves out the elements below it).
bool meshIndexTopsDescend(const MeshIndex* index);
// A best-first walk: bound(ctx, lo, hi) never lies below what visit can find in an element whose box
// lies within lo..hi; visit(ctx, j) takes one element and answers the floor. Boxes whose bound lies
// below the floor are passed over.
struct MeshBoundVisitor {
    void* ctx;
    double (*bound)(void* ctx, const Vec3& lo, const Vec3& hi);
    double (*visit)(void* ctx, int32_t j);
    void (*touch)(void* ctx, int32_t j);  // may be null: told of the elements about to be visited
    // May be null (a turned index then hands every element over, with bounds of its own box): the
    // boxes bound is given from now on lie in the frame turned about z by the angle of cosine c and
    // sine s (x' = c x + s y, y' = c y - s x, z' = z); (1, 0) is the elements' own frame.
    void (*turn)(void* ctx, double c, double s);
};
// Every element the query keeps (the same tests as meshIndexQuery) whose bound reaches the floor
// (starting at floor), handed to visit in falling order of its bound until none is left. A turned
// index tests the z limit only: the plan rectangle is left to visit (its turned boxes cannot tell which
// element's own box meets it), the front and the reach to the bound; it reads no element box when the
// visitor bounds turned boxes (the boxes may then be null).
void meshIndexBestFirst(const MeshIndex* index, const Vec3* boxMin, const Vec3* boxMax,
                        const MeshLineQuery* query, const MeshBoundVisitor* visitor, double floor);
// The elements the query keeps, ascending, into out (cleared first), from the boxes the index was built
// over; some left-out elements may be kept too (the tests are conservative), never the other way.
void meshIndexQuery(const MeshIndex* index, const Vec3* boxMin, const Vec3* boxMax,
                    const MeshLineQuery* query, std::vector<int32_t>* out);
