// Working state of the pocket kernel: the current pocket record, the kernel
// variables every stage reads, the offset switches, the allowance table and
// the ring-to-contour table. One run at a time per process.
#pragma once

#include <cstdint>

#include "kernel/cycle/cycle.h"

enum : int32_t {
    kPocketMaxAllowances = 12000,  // one per INPUT contour
    kPocketRingRows = 2000,        // rows of the ring-to-contour table
    kPocketRingColumns = 12000,    // words per row: the count, then contour indices
};

struct PocketKernel {
    double toolRadius;  // R, scaled with the geometry
    double stepFactor;  // step width / tool diameter, stored times 0.99
    double startX, startY;
    int32_t startGiven;
    double startRadius;
    int32_t startRegion;
    int32_t wantedOrientation;  // +1 or -1 for the outer boundary
    int32_t openMode;           // the pocket type of the current plane, 0 closed
    int32_t outsideIn, outsideInDirect;
    int32_t axisParallel, stockOutin, openPocket;  // strategy flags: set by a key, never cleared by one
    double geometryScale;                          // 1, 25, 50 or 500
    double tolerance;                              // the kernel tolerance
    double fineTolerance;                          // tolerance x 1e-8
    double tolerance2;
    double siWord, tiWord, amWord;  // further words of the tool line; AM is a length
    double planeTop, planeDepth;
    int32_t planesLeft, levelsLeft;
    int32_t stockMovement;
    double stockTolerance;
    int32_t filletCorners;
    double effDiameterRatio;
    double infeedRadiusLimit, filletRadiusLimit;
    int32_t stockOnly, stockMoved, nestingReordered;
    int32_t groupCounter;
    int32_t stockPocket;  // a stock pocket always machines incompletely
    // Switches and values that only keys set.
    int32_t splitPath, invertSequence, pocketContour, pocketWise, openInsideOut, noPlunge;
    int32_t spiral, forceInside, optimizeSingleCut, suppressReduction, triggerInfeed, arcCorrection;
    double overlap, rampClearance, stockOffset, reduceFactor;
    int32_t trochoidSteps;
    int32_t singleCut;        // a narrow all-open plane or region may be cut by one pass
    double singleCutOverlap;  // how far the tool may overlap the stock on such a pass
    int32_t allowanceCount;   // allowance table entries in use (INPUT first, then CLAMPS)
    int32_t inputAllowances;  // of them, those of INPUT
    double widthFactor;       // cut offsets run k x their width; 1, nothing sets another
    double stockCorrection;   // added to the inward step by the stockOutin strategy; 0 at plane start
};

// The contour offset's process-wide switches, read by the corner and crossing classifications.
struct PocketOffsetState {
    int32_t problem, needsClean, rotate;
    int32_t growMode;  // 1: a retry grows the distance, 0: it shrinks it
    int32_t distanceFrozen;
    double cornerFactor;  // scale of the corner threshold
    double classifyTol;
    double currentDistance;
    int32_t strictRings, openChain, forceSplit;
};

PocketKernel& pocketKernel();
PocketOffsetState& pocketOffsetState();

// The record every pocket stage reports through (kvCCP until a run names another).
CycleRecord* pocketRecord();
void pocketSetRecord(CycleRecord* record);

// Allowance of INPUT contour i: setting outside the table reports 3020 and gives 0, else 1.
int pocketAllowanceSet(int32_t i, double value);
double pocketAllowanceGet(int32_t i);  // 0 outside the table
double* pocketAllowances();            // kPocketMaxAllowances entries

// A row of the ring-to-contour table (word 0 the count), made on first use and
// kept for later runs; null with 3020 for a row outside the table or without memory.
uint32_t* pocketRingRow(int32_t row);
// Appends a contour index to a row: 1, or 0 with 3020 when the row or the index is out of range.
int pocketRingRowAppend(int32_t row, uint32_t contour);

// The strategy flags exactly as the strategy (kCcp... of kernel/ccp.h) sets them, every other one
// cleared, and the stock correction 0: at the start of every run and of every plane, so that
// neither an earlier run nor a strategy that cleared a flag for one plane decides the next.
void pocketStrategyFlagsReset(int32_t strategy);

void pocketStateFree();         // the ring rows
void pocketKernelResetState();  // kernel, offset state, tables, current record
