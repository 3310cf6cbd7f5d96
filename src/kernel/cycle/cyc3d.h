// The common three-dimensional cycle class `kvCyc3d`, parent of the
// plunge-roughing cycle: its output set-up, the 3D parameter block that its
// input step reads from the variables, and the temporary files of a run.
#pragma once

#include <cstddef>
#include <cstdint>

#include "geometry/vec.h"
#include "kernel/base/tempname.h"
#include "kernel/cycle/cycle.h"

extern CycleRecord kvCyc3d;

constexpr size_t kCyc3dTempNameSize = kTempNameSize;
constexpr int kCyc3dTempSlots = 6;  // the last one names the temporary parameter file
constexpr int kCyc3dOptionalCount = 81;

// The 3D parameters of a run (lengths as given, no unit conversion). Texts are
// owned. Word values are the numbers of the word tables in cyc3d.cpp.
struct Cyc3dParams {
    char* polySource;
    double toolDiameter;
    char* geoSource;       // null when absent
    char* geometrySource;  // PCF output: the "geoSource" given at the start of the run
    char* toolName;
    int32_t toolType;  // 1 ball mill, 2 end mill, 3 other
    double cornerRadius;
    double allowance;
    double infeedDepth;
    double infeedLength;
    double clearanceDistance;
    double clearancePlane;
    double jumpStepDistance;
    int32_t rapidMode;
    double surface;
    double depth;
    int32_t boundaryMode;
    int32_t approachType;
    int32_t leavingType;
    int32_t returnMacro;
    double approachLength;
    double leavingLength;
    double maxOutputLine;
    int32_t toolReference;
    char* tempDirectory;
    double planeFeedrate;
    double zFeedrate;
    double spindleSpeed;
    int32_t spindleRotation;
    int32_t coolant;
    double frameCsO[3], frameCsX[3], frameCsY[3], frameCsZ[3];
    double toolCsO[3], toolCsX[3], toolCsY[3], toolCsZ[3];
    double polyCsO[3], polyCsX[3], polyCsY[3], polyCsZ[3];
    double scaleXYZ[3];
    char* frame;  // five numbers separated by "/"; null unless given with exactly five commas
    int32_t frameOn;
    int32_t frameOff;
    int32_t inch;
    double machiningTolerance;
    int32_t ncFormat;  // NC point mode: 1 splines, 2 polynomials, 0 off
    double feedrateReductionAngle;
    double circularMacroDirection;
    double circularMacroSegmentAngle;
    int32_t reverseDirection;
    int32_t infeedDirection;
    int32_t removeTempFiles;
    double startPoint[3];
    int32_t smoothStepover;
    int32_t slopeCondition;
    double slopeAngle;
    double retractPlane;
    int32_t retractPlaneGiven;
    int32_t tiltStrategy;
    double tiltAngle;
    double maxTiltAngle;
    double tiltOffset;
    double fanDistance;
    int32_t checkToolHolder;
    int32_t avoidCollision;
    double approachAxialLength;
    double leavingAxialLength;
    double maxOutputAngle;
    int32_t smoothVectors;
    double smoothInterval;
    int32_t pivotSmooth;
    double pivotHeight;
    int32_t autoIndex;
    double maxSegmentAngle;
    double connectMacroRadius;
    double connectMacroHeight;
    int32_t fixedInclination;
    double angleB;
    double angleC;
    char* extraPolySource;
    double reducedFeedrate;
    char tempFiles[kCyc3dTempSlots][kCyc3dTempNameSize];
    // Bit i: the i-th name the clean-up may remove (the slots, then "tmp.pcf", "tmp.pof", "tmp.dxf",
    // "tmp.kvx") named a file before the run made it: a file the run did not create is never removed.
    uint32_t tempFound;
    // Output switches of the run.
    int32_t ncOutput;
    int32_t drillPointsOutput;
    int32_t originalOutput;
};

// The block of a record of this class (kvCyc3d, kvIdx5 or a test's own);
// null for a null record or when memory is short.
Cyc3dParams* cyc3dParams(CycleRecord* record);
void cyc3dParamsClear(Cyc3dParams* params);  // frees the texts and zero-fills

int cyc3dRejectArgs(CycleRecord* record);  // slot 0: positional arguments are not taken
// Slot 1: output switches, channel handlers, the records 103, 109, 110 on
// channel 0 (103 opens the POF output), comments, tool axis, job block; 1.
int cyc3dInitFromParams(CycleRecord* record);
// The channel handlers a run's output switches and trace level ask for, each earlier one dropped
// first; the pocket, a plane cycle, takes them without the 3D layers 20, 35 and 36 and the polyline
// and point channels 41 and 42 (threeD 0). 1, or 0 (a memory fault reported) when a channel is lost.
int cyc3dRegisterChannels(CycleRecord* record, int32_t ncOut, int32_t drill, int32_t original, int threeD);
// Slot 10: the 3D block from the variables; 0 (error 102 "1,(name)" on
// channel 0, status word 1) when "polySource" or "toolDiameter" is missing.
int cyc3dReadParameters(CycleRecord* record);
int cyc3dRun(CycleRecord* record);
int cyc3dCycleEnd(CycleRecord* record);  // slot 15: 104 "cycleEnd" (closes the POF output); 1

// The status word from a computation's result: one function with setCycleStatus.
inline constexpr auto& cyc3dSetStatus = setCycleStatus;

// "x,y,z" into three numbers: 1, or -1 (out unchanged) when a comma is missing.
int parseVec3Text(const char* text, double out[3]);
// The run's temporary names follow the process-wide rule.
inline constexpr auto& cyc3dTempFileName = tempFileName;
// Removes the file unless the name is empty or begins with a blank.
void removeFileIfNamed(const char* name);
// With the remove flag: the six temporary names, then "tmp.pcf", "tmp.pof",
// "tmp.dxf" and "tmp.kvx"; never the run's output, named by keep or by the
// variable "pofFilename", and never a file that was there before the run (the
// prepare step notes the fixed names, the input step the name of its slot).
void cyc3dRemoveTempFiles(CycleRecord* record, const char* keep = nullptr);

// Reads the record's geometry file ("geoSource") and writes its boundary blocks into the temporary
// folder; surface and depth go to the record's 3D block. 1, or -1 when the file cannot be opened or read.
int writeBoundaryFromGeometry(CycleRecord* record);

void cyc3dResetState();  // every record's block freed
