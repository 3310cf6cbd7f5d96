// 4x4 matrices, frames from an axis and rotations built on them.
#include "geometry/mat4.h"

#include <cmath>

namespace {

constexpr double kTol = 1e-5;

void addRow(double (*m)[4], int dst, int src) {
    for (int j = 0; j < 4; ++j) m[dst][j] += m[src][j];
}

// Turns q about the local z axis by the angle of cosine c and sine s.
Vec3 rotateZ(const Vec3& q, double c, double s) {
    return Vec3{q.x * c - q.y * s, q.y * c + q.x * s, q.z};
}

Vec3 rotateZ(const Vec3& q, double angle) {
    return rotateZ(q, std::cos(angle), std::sin(angle));
}

}  // namespace

void mat4Identity(Mat4* m) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) m->m[i][j] = i == j ? 1.0 : 0.0;
}

int mat4Equal(const Mat4* a, const Mat4* b) {
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            if (!(std::fabs(a->m[i][j] - b->m[i][j]) < kTol)) return 0;
    return 1;
}

void mat4FromAxes(const Vec3* x, const Vec3* y, const Vec3* z, Mat4* out) {
    mat4Identity(out);
    const Vec3* axes[3] = {x, y, z};
    for (int i = 0; i < 3; ++i) {
        out->m[i][0] = axes[i]->x;
        out->m[i][1] = axes[i]->y;
        out->m[i][2] = axes[i]->z;
    }
}

void mat4Translation(const Vec3* t, Mat4* out) {
    mat4Identity(out);
    out->m[3][0] = t->x;
    out->m[3][1] = t->y;
    out->m[3][2] = t->z;
}

int mat4Rotation(int code, double angle, Mat4* out) {
    mat4Identity(out);
    const double c = std::cos(angle), s = std::sin(angle);
    int i, j;  // the plane of the rotation
    switch (code) {
        case 0:
            i = 0, j = 1;
            break;
        case 1:
            i = 1, j = 2;
            break;
        case 2:
            i = 0, j = 2;
            break;
        default:
            return -1;
    }
    out->m[i][i] = c;
    out->m[i][j] = s;
    out->m[j][i] = -s;
    out->m[j][j] = c;
    return 0;
}

void mat4Copy(Mat4* dst, const Mat4* src) {
    *dst = *src;
}

void mat4Mult(const Mat4* a, const Mat4* b, Mat4* out) {
    Mat4 r;
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j) {
            double s = 0.0;
            for (int k = 0; k < 4; ++k) s += a->m[i][k] * b->m[k][j];
            r.m[i][j] = s;
        }
    *out = r;
}

int mat4Invert(const Mat4* m, Mat4* out) {
    Mat4 w = *m;
    mat4Identity(out);
    auto& W = w.m;
    auto& O = out->m;
    for (int k = 0; k < 4; ++k) {
        // A small pivot is lifted by adding a later row; rows are never exchanged.
        if (!(std::fabs(W[k][k]) >= kTol)) {
            int j = k + 1;
            while (j < 4 && !(std::fabs(W[j][k]) >= kTol)) ++j;
            if (j >= 4) return -1;
            addRow(W, k, j);
            addRow(O, k, j);
        }
        const double piv = W[k][k];
        for (int c = 0; c < 4; ++c) {
            W[k][c] /= piv;
            O[k][c] /= piv;
        }
        for (int i = 0; i < 4; ++i) {
            if (i == k) continue;
            const double f = W[i][k];
            for (int c = 0; c < 4; ++c) {
                W[i][c] -= f * W[k][c];
                O[i][c] -= f * O[k][c];
            }
        }
    }
    return 0;
}

int frameFromAxis(const Vec3* origin, const Vec3* axis, Mat4* m, Mat4* mInv) {
    if (std::fabs(origin->x) < kTol && std::fabs(origin->y) < kTol && std::fabs(origin->z) < kTol &&
        std::fabs(axis->x) < kTol && std::fabs(axis->y) < kTol && std::fabs(axis->z - 1.0) < kTol) {
        mat4Identity(m);
        mat4Identity(mInv);
        return 1;
    }
    const Vec3 refZ{0, 0, 1}, refY{0, 1, 0};
    Vec3 x, y;
    if (crossUnit3D(axis, &refZ, &y) != 0 && crossUnit3D(axis, &refY, &y) != 0) return -1;
    if (crossUnit3D(&y, axis, &x) != 0) return -1;
    Mat4 rot, move;
    mat4FromAxes(&x, &y, axis, &rot);
    mat4Translation(origin, &move);
    mat4Mult(&rot, &move, m);
    return mat4Invert(m, mInv) == 0 ? 1 : -1;
}

int vecRotateInFrame3D(Vec3* v, const Vec3* axis, double angle) {
    Vec3 a, b;
    if (crossUnit3D(axis, v, &b) != 0 || crossUnit3D(&b, axis, &a) != 0) return 0;
    Mat4 f, fInv;
    mat4FromAxes(&a, &b, axis, &f);
    if (mat4Invert(&f, &fInv) != 0) return 0;
    Vec3 q;
    mat4XformPoint(v, &fInv, &q);
    const Vec3 r = rotateZ(q, angle);
    mat4XformPoint(&r, &f, v);
    return 1;
}

int vecRotateAboutAxis3D(Vec3* p, const Vec3* origin, const Vec3* axis, double angle) {
    AxisTurn turn;
    if (axisTurnPrepare(&turn, origin, axis, angle) != 1) return -1;
    axisTurnApply(&turn, p);
    return 1;
}

int axisTurnPrepare(AxisTurn* turn, const Vec3* origin, const Vec3* axis, double angle) {
    if (frameFromAxis(origin, axis, &turn->frame, &turn->frameInv) != 1) return -1;
    turn->c = std::cos(angle), turn->s = std::sin(angle);
    return 1;
}

void axisTurnApply(const AxisTurn* turn, Vec3* p) {
    Vec3 q;
    mat4XformPoint(p, &turn->frameInv, &q);
    const Vec3 r = rotateZ(q, turn->c, turn->s);
    mat4XformPoint(&r, &turn->frame, p);
}
