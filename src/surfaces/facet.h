// Area of a trimmed surface by covering its parameter box with cells, classifying them against the
// trim loops and refining them where the surface bends or the boundary runs. No facets leave it.
#pragma once

#include <cstdint>

#include "surfaces/surflist.h"

enum : int32_t {
    // Cell bounds that keep a tight tolerance on a large surface in memory: the curvature refinement
    // accepts the cells left once it holds this many, and a boundary pass that would exceed the
    // total is not run.
    kFacetMaxRefined = 125000,
    kFacetMaxCells = 500000,
};

// What the last run did, for callers that judge the estimate and for tests.
struct FacetStats {
    int32_t initialCells;  // before classification
    int32_t cells;         // at the end
    int32_t passLimit;     // boundary passes allowed by the tolerance: 2, 4, 6 or 8
    int32_t passesRun;
    int32_t cellCount[5];  // cells per state (corners inside the loops) of the last classification
    int32_t capped;        // 1 when a cell bound above cut the refinement short
};

// Area of the trimmed surface (offset applied) in outArea, as the sum over cells of both triangles'
// cross-product lengths weighted by the share of inside corners: TWICE the geometric area. outRelError:
// max(all cells - A, A - inside cells) / A, 0 when A is 0. Returns 1; 0 when no cell lies inside the
// loops; -1 for a tolerance that is not above 0 (it could never be met), a surface that cannot be
// evaluated or no memory.
int facetSurface(const TrimSurface* surface, double tol, double* outArea, double* outRelError);
const FacetStats* facetLastStats();
// Frees the cell lists facetSurface keeps for the next call (a caller measuring several surfaces in a
// row calls it once after the last).
void facetReleaseScratch();

// Principal curvatures from the first (E, F, G) and second (L, M, N) forms: 1; 0 with both left as
// they are when EG - F^2 <= 1e-9. Equal roots (|H^2 - K| < 1e-10) give H twice.
int curvatureFromDerivs(double E, double F, double G, double L, double M, double N, double* k1, double* k2);
