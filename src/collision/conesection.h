// Frustum sections of the tool's body above the cutting part (taper, shank, extension, holder) tested
// against a check model's mesh. Heights are measured from the tool's reference point up the axis.
#pragma once

#include <cstdint>

#include "collision/chkmodel.h"

enum : int32_t {
    kConeDiscUpper = 1,  // the end disc at z2
    kConeDiscLower = 2,  // the end disc at z1
};

// 1 when the section (end discs included) swept from P - L d to P collides with the model's own mesh.
int coneSectionHit(const CheckModel* model, const Vec3* p, const Vec3* d, double length, double r1, double r2,
                   double z1, double z2);
// The same over the model's mesh (elements of the grid cell, end discs by discFlags) and then every
// part of its chain (both discs): 1 at the first hit, 0 when none.
int coneSectionHitAll(const CheckModel* model, const Vec3* p, const Vec3* d, double length, double angle,
                      const Grid2D* grid, int32_t discFlags, double r1, double r2, double z1, double z2);
