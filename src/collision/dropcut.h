// Drop-cutter kernels: the highest height at which a tool with a vertical axis, standing over a point,
// touches one triangle; the cone ring of tapered and ring tools; the lift of a tool over element boxes.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"

// One drop: filled by the engine, the kernel raises best and contact.
struct DropState {
    Vec3 tri[3];
    double x, y, z0;  // tool axis and the height the tool drops from
    double best;      // best reference height so far (in and out)
    Vec3 contact;
    double radius;        // R (R - r for a radius mill)
    double radius2;       // the same value again
    double cornerRadius;  // r
    int32_t classWord;    // 1 face, curved surface, rim or inclined edge; 2 the flat bottom
    double spare[3];      // 0, 0 and -1 before each drop
};

// Kernels: 0 nothing, 1 an edge or vertex (or the face without raising the local best), 2 the face.
// The ball needs a strictly higher height to replace the state's best, the flat end and the torus
// accept an equal one.
int toolPartLift3(DropState* s);  // ball, reference height the centre
int toolPartLift2(DropState* s);  // flat end, reference height the tip
int toolPartLift1(DropState* s);  // radius mill, reference height the centre circle's plane

// A cone ring from (r_in, z_in) to (r_out, z_out) above the reference: 1 when it raised best.
int dropcut_triangle(DropState* s, double rIn, double rOut, double zIn, double zOut);

// Box table of the lift over boxes: elements sorted by an upper bound of the height the tool can
// reach on each.
struct LiftBoxEntry {
    int32_t element;
    double key;
};
struct LiftBoxTable {
    int32_t ok;
    int32_t count;
    int32_t capacity;
    int32_t lastListPos;  // -1 without a list
    int32_t lastElement;
    LiftBoxEntry* entries;
};

LiftBoxTable* liftBoxTableCreate(int32_t capacity);  // null when memory is short
void liftBoxTableFree(LiftBoxTable* table);

// Box lifts: 1 with height raised when the tool reaches the box, 0 when it misses. point is (x, y, height).
int ballLiftOverBox(const Vec3* lo, const Vec3* hi, double r, Vec3* point);
int radiusLiftOverBox(const Vec3* lo, const Vec3* hi, double R, Vec3* point);
int torusLiftOverBox(const Vec3* lo, const Vec3* hi, double R, double r, Vec3* point);
int boxCmpDesc(const void* a, const void* b);  // keys within 1e-5 compare equal

// Fills the table for the tool at point over the listed elements (all with a null list): the entry
// count, or -1 when the table overflowed. The boxes are the lift boxes of the engine.
int toolLiftOverBoxes(LiftBoxTable* table, const Vec3* boxMin, const Vec3* boxMax, int32_t elementCount,
                      const int32_t* list, int32_t count, const ToolGeom* tool, const Vec3* point,
                      const Vec2* rotMin, const Vec2* rotMax);
