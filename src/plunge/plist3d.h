// 3D point lists with an ascending parameter per point (as built, the cumulative arc length): the
// carriers of blade contours, and singly linked chains of them.
#pragma once

#include <cstdint>

#include "geometry/vec.h"

struct ProfileCurve;

struct Plist3D {
    int32_t capacity;  // at least 1
    int32_t count;
    Vec3* points;
    double* param;  // ascending
};

struct Plist3DNode {
    Plist3D* list;
    Plist3DNode* next;
};

// Unless said otherwise: -1 for a null list or a failed allocation.
Plist3D* newPlist3D(int32_t capacity);  // capacity 0 taken as 1; null on failure
Plist3D* copyPlist3D(const Plist3D* list);
void freePlist3D(Plist3D* list);  // null-safe
int reparamPlist3D(Plist3D* list);
int reversePlist3D(Plist3D* list);
// Point at s (linear between points): the segment start index (the end index when s sits at the
// end); -1 for an empty list or s outside [param[0], param[last] + 1e-5].
int32_t evalPlist3D(const Plist3D* list, double s, Vec3* out);
int tangentPlist3D(const Plist3D* list, double s, Vec3* out);  // 1, or -1 (also a segment below 1e-5)
// Inserts before every point whose parameter is not below s - 1e-5; grows by half (at least one slot).
int32_t insertPlist3D(Plist3D* list, double s, const Vec3* point);  // the index
int32_t appendPlist3D(Plist3D* list, const Vec3* point);            // parameter continues the arc length
int assignPlist3D(Plist3D* target, const Plist3D* source);
Plist3D* plist3DFromPoints(const Vec3* points, int32_t n);
Plist3D* plist3DFromProfileCurve(const ProfileCurve* curve);  // repeated points (1e-5) left out
double projectOnPlist3D(const Plist3D* list, const Vec3* point, double* param, Vec3* foot);  // distance
// mode bit 0: a point d before the first; mode 2 or 3: a point d past the last. -1 when an end segment
// is shorter than 1e-5 or fewer than 2 points.
int extendPlist3DEnds(Plist3D* list, double d, int mode);
int extendPlist3DSteps(Plist3D* list, double d, int32_t n, int mode);  // n steps of d / n; 1
int trimPlist3DStart(Plist3D* list, double s);                         // 1, or -1 outside the list
int trimPlist3DAtFold(Plist3D* list, double angle);                    // 1 trimmed, 0 no fold

Plist3DNode* newPlist3DNode(int32_t capacity);
int appendPlist3DNode(Plist3DNode* chain, const Plist3D* list);  // appends a copy: 1, or -1
void freePlist3DChain(Plist3DNode* chain);
