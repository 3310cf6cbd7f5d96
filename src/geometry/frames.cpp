// Global frames A, B, C of a run, and the current mirror frame pair.
#include "geometry/frames.h"

#include <cmath>
#include <cstring>
#include <new>

#include "kernel/base/runreset.h"

namespace {

GlobalFrames makeInitialFrames() {
    GlobalFrames g;
    g.scale = 1.0;
    Mat4* all[] = {&g.a,       &g.aInv,    &g.b,     &g.bInv,  &g.aBInv,   &g.bAInv,  &g.c,
                   &g.cInv,    &g.aCInv,   &g.cAInv, &g.ra,    &g.raInv,   &g.rb,     &g.rbInv,
                   &g.raRbInv, &g.rbRaInv, &g.rc,    &g.rcInv, &g.raRcInv, &g.rcRaInv};
    for (Mat4* m : all) mat4Identity(m);
    g.ready = 0;
    return g;
}

GlobalFrames gFrames = makeInitialFrames();
FramePair* gPair = nullptr;

void setFrame(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z, Mat4* frame, Mat4* rot) {
    Mat4 move;
    mat4FromAxes(x, y, z, rot);
    mat4Translation(origin, &move);
    mat4Mult(rot, &move, frame);
}

void xform(Vec3* p, const Mat4* m) {
    mat4XformPoint(p, m, p);
}

void scaleBy(Vec3* p, double f) {
    *p = Vec3{p->x * f, p->y * f, p->z * f};
}

// Reflection in the plane through point with normal axis, for points (p) and directions (d).
int framePairBuildFrames(const Vec3* point, const Vec3* axis, Mat4* p, Mat4* d) {
    mat4Identity(p);
    mat4Identity(d);
    if (std::fabs(axis->x) < 1e-5 && std::fabs(axis->y) < 1e-5 && std::fabs(axis->z) < 1e-5) return 0;
    Mat4 s, f, fInv, t;
    mat4Identity(&s);
    s.m[2][2] = -1.0;
    if (frameFromAxis(point, axis, &f, &fInv) != 1) return 0;
    mat4Mult(&fInv, &s, &t);
    mat4Mult(&t, &f, p);
    const Vec3 zero{0, 0, 0};
    if (frameFromAxis(&zero, axis, &f, &fInv) != 1) {
        mat4Identity(p);  // keep the pair consistent: no plane at all
        return 0;
    }
    mat4Mult(&fInv, &s, &t);
    mat4Mult(&t, &f, d);
    return 1;
}

}  // namespace

void frameSetA(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z) {
    setFrame(origin, x, y, z, &gFrames.a, &gFrames.ra);
}

void frameSetB(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z) {
    setFrame(origin, x, y, z, &gFrames.b, &gFrames.rb);
}

void frameSetC(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z) {
    setFrame(origin, x, y, z, &gFrames.c, &gFrames.rc);
}

int framesInit() {
    GlobalFrames& g = gFrames;
    g.scale = 1.0;
    g.ready = 0;
    if (mat4Invert(&g.a, &g.aInv) != 0 || mat4Invert(&g.b, &g.bInv) != 0) return -1;
    mat4Mult(&g.a, &g.bInv, &g.aBInv);
    mat4Mult(&g.b, &g.aInv, &g.bAInv);
    if (mat4Invert(&g.ra, &g.raInv) != 0 || mat4Invert(&g.rb, &g.rbInv) != 0) return -1;
    mat4Mult(&g.ra, &g.rbInv, &g.raRbInv);
    mat4Mult(&g.rb, &g.raInv, &g.rbRaInv);
    g.ready = 1;
    return 1;
}

int framesInitC() {
    GlobalFrames& g = gFrames;
    if (mat4Invert(&g.c, &g.cInv) != 0) return -1;
    mat4Mult(&g.a, &g.cInv, &g.aCInv);
    mat4Mult(&g.c, &g.aInv, &g.cAInv);
    if (mat4Invert(&g.rc, &g.rcInv) != 0) return -1;
    mat4Mult(&g.ra, &g.rcInv, &g.raRcInv);
    mat4Mult(&g.rc, &g.raInv, &g.rcRaInv);
    return 1;
}

void framesScale(double factor) {
    // A zero or non-finite scale would turn every later frame-A conversion into inf or NaN.
    if (factor == 0.0 || !std::isfinite(factor)) return;
    gFrames.scale *= factor;
}

int framesReady() {
    return gFrames.ready;
}

int framesEqualAB() {
    return mat4Equal(&gFrames.a, &gFrames.b);
}

int framesZAxisDiffersAB() {
    for (int j = 0; j < 3; ++j)
        if (std::fabs(gFrames.a.m[2][j] - gFrames.b.m[2][j]) >= 1e-5) return 1;
    return 0;
}

void framesResetState() {
    gFrames = makeInitialFrames();
}
static const RunReset gFramesReset(kRunResetGeometry, "frames", framesResetState);

void pointWorldToFrameA(Vec3* p) {
    xform(p, &gFrames.aInv);
    scaleBy(p, gFrames.scale);
}

void pointFrameAToWorld(Vec3* p) {
    scaleBy(p, 1.0 / gFrames.scale);
    xform(p, &gFrames.a);
}

void pointWorldToFrameB(Vec3* p) {
    xform(p, &gFrames.bInv);
}

void pointFrameAToFrameB(Vec3* p) {
    scaleBy(p, 1.0 / gFrames.scale);
    xform(p, &gFrames.aBInv);
}

void pointFrameBToFrameA(Vec3* p) {
    xform(p, &gFrames.bAInv);
    scaleBy(p, gFrames.scale);
}

void vecWorldToFrameA(Vec3* v) {
    xform(v, &gFrames.raInv);
}

void vecFrameAToFrameB(Vec3* v) {
    xform(v, &gFrames.raRbInv);
}

void vecFrameAToFrameC(Vec3* v) {
    xform(v, &gFrames.raRcInv);
}

void vecFrameCToFrameA(Vec3* v) {
    xform(v, &gFrames.rcRaInv);
}

int zAxisFrameAInFrameB(Vec3* out) {
    Vec3 p0{0, 0, 0}, p1{0, 0, 1};
    pointFrameAToFrameB(&p0);
    pointFrameAToFrameB(&p1);
    const Vec3 d{p1.x - p0.x, p1.y - p0.y, p1.z - p0.z};
    const double len = vecLen3D(&d);
    if (len < 1e-5) return -1;
    *out = Vec3{d.x / len, d.y / len, d.z / len};
    return 1;
}

int framePairCreate(const Vec3* point1, const Vec3* axis1, const Vec3* point2, const Vec3* axis2) {
    // The previous instance is released first, so a failed allocation leaves none.
    framePairFree();
    FramePair* fp = new (std::nothrow) FramePair;
    if (fp == nullptr) return 0;
    Mat4 p1, d1, p2, d2;
    const int r1 = framePairBuildFrames(point1, axis1, &p1, &d1);
    const int r2 = framePairBuildFrames(point2, axis2, &p2, &d2);
    mat4Mult(&p1, &p2, &fp->m1);  // mirror 1 first, then mirror 2
    mat4Mult(&d1, &d2, &fp->m2);
    mat4Invert(&fp->m1, &fp->m1Inv);  // products of reflections are never singular
    mat4Invert(&fp->m2, &fp->m2Inv);
    fp->mode = r1 == r2 ? 1 : -1;
    std::memset(fp->flags, r1 == 0 && r2 == 0 ? 0 : 1, sizeof fp->flags);
    mat4Identity(&fp->local);
    mat4Identity(&fp->localInv);
    gPair = fp;
    return 1;
}

void framePairFree() {
    delete gPair;
    gPair = nullptr;
}

int framePairGetFlag(int index) {
    if (gPair == nullptr || index < 1 || index > 5) return 0;
    return gPair->flags[index - 1];
}

void framePairSetFlag(int index, int value) {
    if (gPair == nullptr || index < 1 || index > 5) return;
    gPair->flags[index - 1] = value != 0 ? 1 : 0;
}

int framePairGetMode() {
    return gPair == nullptr ? 1 : gPair->mode;
}

int framePairToM1(Vec3* p) {
    if (gPair == nullptr) return 0;
    xform(p, &gPair->m1);
    return 1;
}

int framePairToM2(Vec3* v) {
    if (gPair == nullptr) return 0;
    xform(v, &gPair->m2);
    return 1;
}

int framePairToInvM1(Vec3* p) {
    if (gPair == nullptr) return 0;
    xform(p, &gPair->m1Inv);
    return 1;
}

int framePairFacetToM1(Facet98* facet) {
    if (gPair == nullptr) return 0;
    if (facet == nullptr) return 0;
    // Packed record: the points sit at byte 2 + 24 k, so they are copied out and back.
    unsigned char* bytes = reinterpret_cast<unsigned char*>(facet);
    for (int k = 0; k < 4; ++k) {
        unsigned char* at = bytes + 2 + 24 * k;
        double xyz[3];
        std::memcpy(xyz, at, sizeof xyz);
        Vec3 p{xyz[0], xyz[1], xyz[2]};
        xform(&p, &gPair->m1);
        xyz[0] = p.x, xyz[1] = p.y, xyz[2] = p.z;
        std::memcpy(at, xyz, sizeof xyz);
    }
    return 1;
}

int framePairSetLocal(const Vec3* origin, const Vec3* x, const Vec3* y, const Vec3* z) {
    if (gPair == nullptr) return 1;
    Mat4 rot;
    setFrame(origin, x, y, z, &gPair->local, &rot);
    return mat4Invert(&gPair->local, &gPair->localInv) == 0 ? 1 : -1;
}

int framePairToWorld(Vec3* p) {
    if (gPair == nullptr) return 0;
    xform(p, &gPair->local);
    xform(p, &gPair->m1);
    pointWorldToFrameB(p);
    return 1;
}

void framePairResetState() {
    framePairFree();
}
static const RunReset gFramePairReset(kRunResetGeometry, "framePair", framePairResetState);
