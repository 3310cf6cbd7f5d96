// Fitting a profile into a boundary by sideways offsets of the profile. Here rather than with the
// profile records because every trial offsets the profile and intersects it with the boundary.
#pragma once

#include "geometry/profile.h"

// Offset range [fitStart, fitEnd] over which the profile, offset sideways, meets the boundary.
// 0, or -1 when no start offset meets it or an offset fails. Fits the shape of ProfileFitFn, so that
// the profile reader can fit what it reads.
int profileFitBoundary(ProfileCurve* profile, const FitBoundary* boundary, double tolerance, double* fitStart,
                       double* fitEnd);
