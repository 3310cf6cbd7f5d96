// The kernel's frame matrix: 16 doubles, row-major; a point (x, y, z) maps to
// (r0, r1, r2, 1) with ri = row i times (x, y, z, 1). Columns 0 to 2 hold the
// frame's axes, column 3 its origin. (Not the row-vector Mat4 of the geometry kernel.)
#pragma once

void frameMatCopy(double* destination, const double* source);
void frameMatTransformPoint(double* out, const double* matrix, const double* point);  // out: 4 doubles
void frameMatInverse(double* out, const double* matrix);  // identity when the 3x3 part is singular
void frameMatIdentity(double* matrix);
void setHomPoint(double* point, double x, double y, double z);
