// The two-dimensional contour-parallel pocket cycle `kvCCP`. No export hands
// it out; it hangs directly under the root record.
#pragma once

#include <cstddef>

#include "kernel/cycle/cycle.h"

extern CycleRecord kvCCP;

constexpr size_t kCcpTextMax = 256;  // characters of a text parameter, terminator not counted

// Values of the pocket type `stock`.
enum : int32_t {
    kCcpClosedPocket = 0,
    kCcpStockTrue = 1,
    kCcpStockForce = 2,
    kCcpStockOnly = 3,
    kCcpStockMulti = 4,
};

// Values of `strategy`.
enum : int32_t {
    kCcpContourParallel = 0,
    kCcpOutsideIn = 1,
    kCcpOutsideInDirect = 2,
    kCcpAxisParallel = 3,
    kCcpStockOutin = 4,
    kCcpOpenPocket = 5,
};

// The pocket parameters the record carries beside its CycleRecord fields. Every
// run starts them from the defaults: a key that a run does not name keeps its default.
struct CcpParams {
    char geoSource[kCcpTextMax + 1];  // exchange file of the pocket contours
    char clamps[kCcpTextMax + 1];     // exchange file of the clamp contours
    double clearancePlane;
    double clearanceDistance;
    double toolDiameter;  // D, never negative
    double planeFeedrate;
    double zFeedrate;
    double planeAllowance;  // default allowance of each contour
    double infeedLength;    // step width between rings
    int32_t stock;          // pocket type
    double epsilon;         // kernel tolerance
    int32_t startExplicit;
    double startX, startY;
    double infeedDepth;
    double surface;
    double depth;
    const char* rifSource;  // the keyword block's G-code file or list name once set, else null
    int32_t generateRif;
    int32_t evaluateRif;
    double rifMinLength;
    int32_t oriAutomatic;  // 0 unchanged, 1 single, 2 full nesting analysis
    int32_t orientation;   // wanted orientation of the outer boundary: +1 or -1
    int32_t edgeMovement;
    int32_t useReferenceDiameter;
    double referenceRadius;
    char frame[kCcpTextMax + 1];  // six numbers separated by "/", or empty
    int32_t frameOn, frameOff;
    int32_t inch;
    int32_t strategy;
    int32_t plungeType;  // 1 helical, 2 otherwise, 3 ramp
    double helixRadius;
    double helixPlungeAngle;      // degrees by default, radians once a key set it
    double helixAngleResolution;  // likewise
    double leavingLength;
    int32_t retractEachPlane;
    int32_t leavingType;
    int32_t stockMovement;  // 1 rapid, 0 along the contour
    int32_t approachType;
    double approachLength;
    double wallAngle;
    double cornerRadius;
    int32_t toolType;  // 1 ball mill, 2 otherwise, 3 radius mill
    double depthOffset;
    double infeedRadius;
    double filletRadius;
    int32_t completePocket;
    double stockTolerance;
    double retractPlane;
    int32_t filletCorners;
    int32_t considerToolType;
    const char* messageFile;  // static text
    int32_t cutterCompensation;
    int32_t splitPath;
    double reducedFeedrate;
    int32_t plungeAtLastPosition;
    int32_t allowSingleCut;
    double singleCutOverlapFactor;
    double surfaceOffset;
    int32_t firstMovePending;     // read and written as plungePending by the NC output
    int32_t retractEachPlaneRun;  // kernel copy, forced to 1 for a stock pocket
    int32_t deepestLevel;
    int32_t firstLevel;
    int32_t reduceContours;
    int32_t equalLevels;
    int32_t singleContour;  // index of the one INPUT contour of the rest modes, -1 all
    double spiralTolerance;
};

extern CcpParams kvCCPParams;
void ccpParamsResetState();  // the static defaults

int ccpRejectArgs(CycleRecord* record);  // slot 0: positional arguments are not taken
int ccpInitFromParams(CycleRecord* record);
int ccpReadParameters(CycleRecord* record);
int ccpPrepareTool(CycleRecord* record);
int ccpPrepareGeometry(CycleRecord* record);
int ccpRunPocket(CycleRecord* record);
int ccpFinishLists(CycleRecord* record);
int ccpCycleEnd(CycleRecord* record);
