// Approach and leave macros: the short point sequences by which the tool comes to the first point of
// a cut or goes away from its last. The parameters come from the cycle's keywords; a built macro
// holds its points from the attachment point outward (an approach macro is travelled backwards).
#pragma once

#include <cstdint>

#include "geometry/plist.h"
#include "geometry/vec.h"

// Angles are radians here; the keywords give degrees.
struct MacroParams {
    uint16_t approachType;
    uint16_t leaveType;
    uint16_t reserved;
    double arcStepAngle;      // one chord of every arc macro; also sizes the arcs
    double arcStopAngle;      // an arc stops once its chord's part along the move is at most |sin| of it
    double approachDistance;  // radius or length of approach macros
    double leaveDistance;
    double approachValue;  // offset of approach macros along their direction (negative: none)
    double leaveValue;
    double approachSwing;  // sideways turn of type 14
    double leaveSwing;
    double approachAngle;  // elevation or turn, by type
    double leaveAngle;
    double trajectoryHeight;  // height of trajectory macros and lift of types 22, 23, 24, 26
    int32_t trajectoryDir;    // turning sense of the helix
    double trajectoryRadius;  // radius of the helix
    int32_t trajectoryMode;
};

enum : int32_t {
    kMacroApproach = 1,
    kMacroLeave = 2,
    kMacroTypeFile = 100,
    kMacroFileCapacityStep = 100,
};

// One kept statement of a macro file.
struct MacroLine {
    int32_t pointCount;  // points of the path when the line was read
    char* text;          // the cleaned line, owned
    MacroLine* next;
};

struct MacroPath {
    int32_t kind;  // kMacroApproach or kMacroLeave
    int32_t macroType;
    int32_t capacity;
    int32_t count;
    double offset;     // along direction, applied where the macro meets the tool (macroPathOffsetPoint)
    Vec3* points;      // [capacity], the attachment point first
    Vec3 direction;    // the macro's axis direction
    Vec3* axes;        // [capacity] per-point tool axes, or none
    MacroLine* lines;  // statements of a macro file, in file order
    Vec3 moveDir;      // unit vector from the second point to the first, 0 when they coincide
    int32_t arcFlag;   // 1 horizontal arc, 2 helix
    int32_t arcSide;
    double rampAngle;  // of the helix
    double arcRadius;
    Vec3 arcStart, arcEnd, arcCentre;
};

// p0 is the attachment point, p1 its neighbour on the path (p0 - p1 points away from the path); side
// is +1 or -1 (reversed for approach macros); guide and startIndex feed the trajectory types; axis is
// the tool axis (types 20 to 27) or the target point (types 12, 16), or none. Types 7 (approach) and
// 12 (leave without axis) rewrite params for the rest of the run. Null when nothing can be built.
MacroPath* macroBuild(int32_t kind, const Vec3* p0, const Vec3* p1, MacroParams* params, int32_t side,
                      Plist* guide, int32_t startIndex, const Vec3* axis);
void macroPathFree(MacroPath* path);
void macroPathOffsetPoint(const MacroPath* path, Vec3* point);
double arcChordLength(double r, double a);

// Generator settings.
void macroSetLiftHeight(double h);  // lift of approach macros of types 22, 23, 24, 26
void macroSetLinkMode(int32_t mode);
// Files that macro type 100 reads (copied; null or empty: none).
int macroSetFileNames(const char* approachFile, const char* leaveFile);

// What the macros take from the cycle's keywords, as the keywords give it (angles in degrees); the
// cycle fills it from its parameter record. The file names are borrowed for the set-up only.
struct MacroSettings {
    int16_t filletStrategy;  // nonzero: arc macros of type 25 at both ends
    int16_t cutDirection;    // other than 1: the leave macro is of type 2
    double stepover;         // above 1e-5: the approach macro is of type 21
    double macroIwin;        // arc step
    double macroAwin;        // arc stop
    double macroSabst;       // approach offset
    double macroEabst;       // leave offset
    double macroSwin;        // approach swing
    double macroEwin;        // leave swing
    double macroTswin;       // approach angle
    double macroTewin;       // leave angle
    double macroTheight;     // trajectory height, also the lift height
    int16_t macroTdir;       // helix turning sense
    double macroTrad;        // helix radius
    int16_t macroTmode;      // trajectory mode
    const char* macroSname;  // approach macro file; null or empty: none
    const char* macroEname;  // leave macro file
};

// The cycle's set-up: the types, distances and angles from its keywords; also sets the lift height
// and the macro file names. 1, or 0 for a missing record.
int macroParamsSetUp(MacroParams* params, const MacroSettings* settings);

// Macro files: a turtle program of LINE, ARC, ROTX, ROTY, ROTZ statements in a frame laid through
// p0 and p1. A new path, or none (no frame, no file, or a syntax error reported as message 9999).
MacroPath* macroFileRead(int32_t kind, const Vec3* p0, const Vec3* p1, const MacroParams* params,
                         const char* fileName);

// Trajectory macros (approach only).
MacroPath* macroGenType6(const Vec3* p0, double radius, double step, double rampAngle, int32_t turnDir,
                         double height);
MacroPath* macroGenRamp(const Plist* guide, int32_t startIndex, double rampAngle, double height,
                        int32_t alongAxes);  // types 8 (alongAxes 0) and 28 (1)
MacroPath* macroGenType13(Plist* guide, double rampAngle, double height);
int macroStoreGuide(const Plist* guide);  // the guide types 10 and 27 fall back on; 1, or -1
// Settings that select the second variants of the ramps; none of the cycle's keywords sets them.
void macroSetRampPieceLength(double m);
void macroSetContourRampShift(int32_t on);

// Building blocks of the generators.
MacroPath* macroPathCreate(int32_t kind, int32_t macroType, int32_t capacity, int withAxes);
int macroPathAppend(MacroPath* path, const Vec3& p);  // 1, or 0 when full
double macroTakeOffset();  // the offset set for the macro being built; it returns to 0
// Types 10 and 27: lay a built arc onto a closed guide (the given one, else the stored one).
// 1 done or left as built, 0 when a point could not be placed.
int macroFollowGuide(MacroPath* path, int32_t kind, const Plist* guide);
int macroWrapOnGuide(MacroPath* path, int32_t kind, const Vec3* p0, const Vec3* p1, const Plist* guide);

void macroResetState();  // every generator setting, the stored guide and the file names
void macroTrajResetState();
