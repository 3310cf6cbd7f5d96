// Band fits of the head avoidance's angle profiles: one smooth B (or C) profile over the path
// parameter inside every point's admissible interval, written back as tool axes.
#pragma once

#include <cstdint>

#include "avoidance/avoidtable.h"
#include "geometry/plist.h"

// Arguments of one fit, angles in degrees while fitting.
struct FreeLineFillet2Args {
    int32_t capacity;  // 4 x the size given at creation
    int32_t count;
    double eps;    // 0.05
    int32_t mode;  // 0
    double* para;
    double* lower;
    double* upper;
    double* out;     // current angle in, fitted angle out
    int32_t* flags;  // nonzero for a point the fit added
};

FreeLineFillet2Args* fillet_rec_create(int32_t n);  // null for n < 1 or without memory
void fillet_rec_free(FreeLineFillet2Args* rec);
void fillet_rec_scale(FreeLineFillet2Args* rec, double factor);  // lower, upper, out of count points

// A vertex at parameter t with the axis interpolated between its neighbours: 1, or 0 when t lies
// outside the list (or the list cannot take the point).
int avoidListInsert(Plist* list, double t);

// The B profile of the table fitted and written into the entries and the list's axes: 1, -1 when
// the range is unusable or the fit fails, a negative fit code otherwise.
int avoidFitBandB(AvoidTable* table, Plist* list);
// The C profile likewise, on the unwrapped C columns: also -1 when a band is wider than a full turn,
// and -2 when the axis between two points whose C turns faster than 0.0651 per unit collides.
int avoidFitBandC(AvoidTable* table, Plist* list);
