#include "kernel/ncout/framemat.h"

#include <cmath>
#include <cstring>

void frameMatCopy(double* destination, const double* source) {
    memmove(destination, source, 16 * sizeof(double));
}

void frameMatTransformPoint(double* out, const double* m, const double* point) {
    double x = point[0], y = point[1], z = point[2];
    double r[3];
    for (int i = 0; i < 3; ++i) r[i] = m[4 * i] * x + m[4 * i + 1] * y + m[4 * i + 2] * z + m[4 * i + 3];
    out[0] = r[0];
    out[1] = r[1];
    out[2] = r[2];
    out[3] = 1.0;
}

void frameMatIdentity(double* matrix) {
    for (int i = 0; i < 16; ++i) matrix[i] = (i % 5 == 0) ? 1.0 : 0.0;
}

void setHomPoint(double* point, double x, double y, double z) {
    point[0] = x;
    point[1] = y;
    point[2] = z;
    point[3] = 1.0;
}

namespace {

// Determinant of the 3x3 matrix left when row `skipRow` and column `skipCol` are removed.
double minor3(const double* m, int skipRow, int skipCol) {
    double a[9];
    int k = 0;
    for (int r = 0; r < 4; ++r) {
        if (r == skipRow) continue;
        for (int c = 0; c < 4; ++c) {
            if (c != skipCol) a[k++] = m[4 * r + c];
        }
    }
    return a[0] * (a[4] * a[8] - a[5] * a[7]) - a[1] * (a[3] * a[8] - a[5] * a[6]) +
           a[2] * (a[3] * a[7] - a[4] * a[6]);
}

}  // namespace

void frameMatInverse(double* out, const double* matrix) {
    // Frames end in the row (0, 0, 0, 1), so the 3x3 determinant is the 4x4 one.
    double det = minor3(matrix, 3, 3);
    if (std::fabs(det) <= 1e-12) {
        frameMatIdentity(out);
        return;
    }
    double result[16];
    for (int i = 0; i < 4; ++i) {
        for (int j = 0; j < 4; ++j) {
            double cofactor = minor3(matrix, i, j);
            if ((i + j) % 2) cofactor = -cofactor;
            result[4 * j + i] = cofactor / det;
        }
    }
    memcpy(out, result, sizeof result);
}
