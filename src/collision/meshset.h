// Mesh sets: the blades reduced to wire models of 3D edges (collision meshes with merged vertices
// and box trees over the edges), copied turned about the part axis for the neighbouring blades, and
// the swing queries that find the smallest angle at which the swung tool reaches an edge.
#pragma once

#include <cstddef>
#include <cstdint>

#include "collision/chkmodel.h"
#include "geometry/plist.h"
#include "geometry/vec.h"

enum : int32_t {
    kCollMeshLeafEdges = 100,  // a node of this many edges or more is split
};

struct CollVertex {
    double key;  // plan distance from the origin: the sort key
    Vec3 point;
    int32_t link;  // -1
    double spare[2];
};

struct CollEdge {
    int32_t a, b;  // vertex indices, a < b
    int32_t sampleCount;
    int32_t firstSample;
};

struct CollTreeNode {
    double xmin, xmax, ymin, ymax, zmin, zmax;  // of its edges' end points
    int32_t first, last;                        // inclusive range of the edge array
    CollTreeNode* left;
    CollTreeNode* right;
};

// A box turned to a leaf's edges (their principal axes), holding its end points: a tilted patch of a
// surface fills far less of it than of the axis-aligned box. Taken when a query first needs it.
struct CollLeafHull {
    Vec3 centre;
    Vec3 axis[3];    // orthonormal up to rounding
    double half[3];  // half-sizes along the axes, grown past the rounding of the projections
};

struct CollMesh {
    int32_t vertexCapacity;
    int32_t vertexCount;
    int32_t edgeCapacity;
    int32_t edgeCount;
    double tolerance;      // vertices closer than this are one
    CollVertex* vertices;  // sorted by key
    CollEdge* edges;       // sorted by a (insertion order among equal a) until the tree is built
    CollTreeNode* tree;
    Vec3* samples;
    int32_t sampleCount;
    // With the tree: the vertices' points numbered by first use in the edge order, and each edge's
    // ends (a, b) in that numbering, for the queries' walks over the tree's leaves.
    Vec3* treePoints;
    int32_t* treeEnds;
    CollLeafHull* leafHulls;  // one per leaf of the tree, taken on demand by the queries (unset before)
    uint8_t* leafHullState;   // per leaf: 0 not taken yet, 1 taken, 2 none (points not finite)
    // Per leaf in edge order: its first edge, and the first of the tree-ordered points its edges use
    // first (each once, up to the next leaf's first; its other ends come before; leafCount + 1 entries).
    int32_t* leafFirstEdge;
    int32_t* leafFirstPoint;
    int32_t leafCount;
};

CollMesh* collMeshCreate(int32_t n);  // capacity n for vertices and edges; null when memory is short
void collMeshFree(CollMesh* mesh);
// The vertex within the tolerance of p, or a new one: its index (*inserted 1 when indices moved), or -1
// when the mesh is full.
int32_t collMeshFindVertex(CollMesh* mesh, const Vec3* p, int* inserted);
// 1 found or inserted, -1 when full.
int collMeshFindEdge(CollMesh* mesh, int32_t a, int32_t b);
// 1 (added, already present or of zero length), or -1 when a capacity is exhausted.
int collMeshAddEdge(CollMesh* mesh, const Vec3* a, const Vec3* b);
// collMeshAddEdge for n edges (ends: 2 n points, a and b of each edge) with the same merging and order,
// built in one pass (sorted once instead of shifted per vertex) when the mesh is empty. 1, or -1 when a
// capacity ran out or memory is short (the mesh keeps the edges before the one that failed).
int collMeshAddEdges(CollMesh* mesh, const Vec3* ends, int32_t n);
// collMeshAddEdges for the edges p0-p1, p1-p2, p2-p0 of each triangle in turn.
int collMeshAddTriangleEdges(CollMesh* mesh, const Triangle3D* tris, int32_t count);
// The edges between consecutive points of every list; null when memory is short.
CollMesh* collMeshFromPolylines(const PlistArray* lists, double tol);
// Every vertex and sample turned about the z axis by angle (radians), with room for just these; null
// when memory is short.
CollMesh* collMeshRotateCopy(const CollMesh* mesh, double angle);
// The box tree of one mesh over its edges (which it reorders): 1, or -1 when memory is short.
int collMeshTreeBuildOne(CollMesh* mesh);
void collMeshTreeFree(CollTreeNode* node);
// The number of the tree's leaf whose edges start at firstEdge, or -1.
int32_t collMeshLeafAt(const CollMesh* mesh, int32_t firstEdge);

// Slots of a set: the base, a second blade, the base turned by +angle and by -angle, the second
// turned by -angle.
enum : int32_t {
    kMeshSetSlots = 5,
};

struct MeshSet {
    int32_t count;
    CollMesh* meshes[kMeshSetSlots];  // null where absent
    int32_t reserved;
};

MeshSet* meshSetCreate(int32_t n, int32_t cap);  // with cap > 0 every slot gets an empty mesh
void meshSetFree(MeshSet* set);
int collMeshTreeBuild(MeshSet* set);  // every present mesh: 1, or -1 when memory is short

// Folders of the file builders: the temporary folder and that of the conversion libraries.
void meshSetSetFolders(const char* tmpDir, const char* dllDir);
// out = the temporary folder, a '/' unless it ends in one, then name: 1, or 0 (out emptied) when it
// does not fit.
int meshSetTmpPath(const char* name, char* out, size_t size);
// The rotated copies (slots 2 to 4) and the trees of a set whose slots 0 and 1 are filled; the set is
// freed and null returned on failure.
MeshSet* meshSetFinish(MeshSet* set, double angle);

MeshSet* meshSetFromList(const PlistArray* lists, int32_t withSecond, double angle, double tol);
MeshSet* meshSetFromFile(const char* path, const char* secondPath, double angle, double tol);
MeshSet* meshSetFromSurfaces(const char* path, const char* secondPath, double angle, double tol,
                             double curveTol);
// The three edges of every triangle of a mesh file (exchange files are converted first).
CollMesh* collMeshFromMeshFile(const char* path, double tol);
// A triangle check model of a mesh file; an exchange file is first converted to "tmp.3df" in the
// temporary folder with tol over the unit factor. Null on failure; freed by polymeshDelete.
CheckModel* meshLoadViaTmp3df(const char* path, double tol);
// The same model without the per-element corners (boxMin and boxMax null), for the triangles alone.
CheckModel* meshLoadViaTmp3dfTriangles(const char* path, double tol);
// A clone of the template loaded with the file, its tool offset by dist, with its grid; null on error.
CheckModel* polymeshLoadWithGrid(const char* path, const CheckModel* templ, double dist);
void polymeshDelete(CheckModel* model);  // mesh data, parts, tool and record

// Swing queries; the selector picks copies (1 [0]; 2 [2], [1]; 3 [0], [1]; 4 [2]; 5 [3], [4]; 6 [0];
// 7 [1]; 8 [2], [3], [1], [4]; 9 [0], [2]). 1 done, -1 for no set or a test that fails. ioAngle starts
// at the initial angle.
int meshSetCollide(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                   const MeshSet* set, int32_t selector, double* ioAngle, double limit);
// meshSetCollide asking only below an angle: the smallest reaching angle when it lies below `below`,
// else `below` itself; far cheaper where nothing is near (the search prunes from that angle on).
int meshSetCollideBelow(const Vec3* pivot, const Vec3* direction, const Vec3* reference,
                        const Vec3* swingAxis, const MeshSet* set, int32_t selector, double below,
                        double* ioAngle, double limit);
// How far the tool placed along direction must swing back toward toPoint to clear the set.
int meshSetCollideAll(const Vec3* pivot, const Vec3* direction, const Vec3* toPoint, const MeshSet* set,
                      int32_t selector, double* outDepth);
int32_t meshSetHitIndex();
int32_t meshSetHitPoint(Vec3* out);
// 1 with the offending vertex (or the edge's hit point) at the first vertex inside the tool placed at
// tip along axis or edge that meets its cone; 0 when none; -1 when the cone test is missing.
int meshSetCheckPoints(const Vec3* tip, const Vec3* axis, const MeshSet* set, Vec3* outPoint);

// The swing-angle test of one point and one edge (results of toolSegPointTest), used by the queries.
int toolPointTest(const Vec3* pivot, const Vec3* direction, const Vec3* reference, const Vec3* swingAxis,
                  const Vec3* p, double* ioAngle, double limit);
int collMeshEdgeTest(const CollMesh* mesh, int32_t edge, const Vec3* pivot, const Vec3* direction,
                     const Vec3* reference, const Vec3* swingAxis, double* ioAngle, double limit);

// The tree build takes the processor's wide compares where it has them (on by default and after
// meshSetResetState); off, the narrow ones alone: the same trees either way.
void collMeshUseWide(int on);
void meshSetResetState();
