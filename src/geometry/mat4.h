// Row-vector 4x4 transforms: p' = p M, rows 0-2 the axes, row 3 the origin.
#pragma once

#include "geometry/vec.h"

// Row-major: m[i][j] is row i, column j. A frame maps local to world; A B applies A first.
struct Mat4 {
    double m[4][4];
};

void mat4Identity(Mat4* m);
int mat4Equal(const Mat4* a, const Mat4* b);  // 1 when every element differs by less than 1e-5
void mat4FromAxes(const Vec3* x, const Vec3* y, const Vec3* z, Mat4* out);
void mat4Translation(const Vec3* t, Mat4* out);
int mat4Rotation(int code, double angle, Mat4* out);  // 0 about z, 1 about x, 2 about y; else nonzero
// Inline: the loaders and the turned copies transform every point of a mesh through it.
inline void mat4XformPoint(const Vec3* p, const Mat4* m, Vec3* out) {
    const auto& a = m->m;
    const Vec3 r{p->x * a[0][0] + p->y * a[1][0] + p->z * a[2][0] + a[3][0],
                 p->x * a[0][1] + p->y * a[1][1] + p->z * a[2][1] + a[3][1],
                 p->x * a[0][2] + p->y * a[1][2] + p->z * a[2][2] + a[3][2]};
    *out = r;
}
void mat4Copy(Mat4* dst, const Mat4* src);
void mat4Mult(const Mat4* a, const Mat4* b, Mat4* out);
int mat4Invert(const Mat4* m, Mat4* out);  // 0, or -1 when singular (out then unusable)

// Frame whose z axis is axis, placed at origin: 1, or -1 when none can be built.
int frameFromAxis(const Vec3* origin, const Vec3* axis, Mat4* m, Mat4* mInv);
int vecRotateInFrame3D(Vec3* v, const Vec3* axis, double angle);  // 1, or 0 when v is along axis
int vecRotateAboutAxis3D(Vec3* p, const Vec3* origin, const Vec3* axis, double angle);

// vecRotateAboutAxis3D for many points turned alike: the frame and the angle's cosine and sine are
// taken once; each point comes out as vecRotateAboutAxis3D would give it.
struct AxisTurn {
    Mat4 frame, frameInv;
    double c, s;
};
int axisTurnPrepare(AxisTurn* turn, const Vec3* origin, const Vec3* axis, double angle);  // 1, or -1
void axisTurnApply(const AxisTurn* turn, Vec3* p);
