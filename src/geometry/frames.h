// The global coordinate frames A, B, C of a run and the current mirror frame pair.
#pragma once

#include <cstdint>

#include "geometry/mat4.h"

// Module-level; every matrix is a frame (local to world). Primed copies hold the axes
// without the origin and serve direction vectors.
struct GlobalFrames {
    double scale;  // frame-A coordinates are world-derived coordinates times scale
    Mat4 a, aInv, b, bInv, aBInv, bAInv;
    Mat4 c, cInv, aCInv, cAInv;
    Mat4 ra, raInv, rb, rbInv, raRbInv, rbRaInv;
    Mat4 rc, rcInv, raRcInv, rcRaInv;
    int32_t ready;  // 1 after a successful framesInit
};

void frameSetA(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z);
void frameSetB(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z);
void frameSetC(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z);
int framesInit();   // resets the scale to 1.0; 1, or -1 when A or B is singular
int framesInitC();  // 1, or -1 when C is singular
void framesScale(double factor);
int framesReady();
int framesEqualAB();
int framesZAxisDiffersAB();
void framesResetState();  // identities, scale 1.0, not ready

void pointWorldToFrameA(Vec3* p);
void pointFrameAToWorld(Vec3* p);
void pointWorldToFrameB(Vec3* p);
void pointFrameAToFrameB(Vec3* p);
void pointFrameBToFrameA(Vec3* p);
void vecWorldToFrameA(Vec3* v);
void vecFrameAToFrameB(Vec3* v);
void vecFrameAToFrameC(Vec3* v);
void vecFrameCToFrameA(Vec3* v);
int zAxisFrameAInFrameB(Vec3* out);  // 1, or -1 when degenerate

// Input kinds whose readers pass their geometry through the frame pair.
enum : int {
    kFramePairMeshes = 1,
    kFramePairSurfaces = 2,
    kFramePairPointFiles = 4,
    kFramePairContours = 5,
};

// The mirror transform: the product of the reflections in up to two planes.
struct FramePair {
    uint8_t flags[5];  // input kinds 1..5, each 0 or 1
    int32_t mode;      // 1 for none or two planes, -1 for one (a mirror image)
    Mat4 m1, m2;       // point mapping; direction mapping (the mirrors through the origin)
    Mat4 m1Inv, m2Inv;
    Mat4 local, localInv;
};

// The 98-byte facet record of the mesh code: a 16-bit flag, then four packed points.
struct Facet98;

// Replaces the current instance; a plane whose normal is zero is absent. 1, or 0 without memory.
int framePairCreate(const Vec3* point1, const Vec3* axis1, const Vec3* point2, const Vec3* axis2);
void framePairFree();
int framePairGetFlag(int index);
void framePairSetFlag(int index, int value);
int framePairGetMode();
int framePairToM1(Vec3* p);
int framePairToM2(Vec3* v);
int framePairToInvM1(Vec3* p);
int framePairFacetToM1(Facet98* facet);
int framePairSetLocal(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z);
int framePairToWorld(Vec3* p);
void framePairResetState();
