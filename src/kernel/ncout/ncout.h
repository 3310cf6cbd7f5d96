// The NC output front end: turns a cycle's path points into NC records on the
// writer, the cycle record that receives them. It writes the cycle header,
// opens and closes named sections, classifies feed moves as cutting, inclined
// or vertical plunge and switches the feed alias, writes three- and five-axis
// moves with only what changed, collects literal point stretches for curve
// output and five-axis stretches for SBS output, and finishes the output.
// All state is module-level and belongs to one run.
#pragma once

#include <cstdint>

#include "geometry/vec.h"
#include "kernel/ncout/record.h"

// The tool and NC configuration of a cycle, as far as the header reads it.
// Lengths are in the cycle's unit; a feed or speed of 0 is not used.
struct ToolNcConfig {
    int32_t toolNumber;
    double feedX;  // cutting feed FX
    double feedZ;  // plunge feed FZ
    double spindleSpeed;
    int16_t spindleSense;  // 0 none, 2 counter-clockwise, any other clockwise
    double clearanceDistance;
    double retractPlane;
    double reducedFeed;
    double fullSectionFeed;
    double approachFeed;
    double retractFeed;
    double infeedFeed;
    double clearanceFeed;
    double leadingEdgeFeed;
    double trailingEdgeFeed;
    double finalPathFeed;
    double springPathFeed;
    double fastRetractFeed;
    double finalPathSpindleSpeed;
    double springPathSpindleSpeed;
    double fullSectionSpindleSpeed;
};

enum : int32_t {
    kNcFeedStackSize = 99,
    kNcErrBufferCreate = 6000,  // the literal point buffer cannot be created
    kNcErrBufferAppend = 6001,  // a literal point cannot be buffered
};

enum : int {
    kNcMoveFailed = -3,  // ncClassifyMove, ncPointOut: the move could not be written
};

// Feed-alias indices of ncSetFeed (names in the header's alias table).
enum : int32_t {
    kFeedAliasFZ = 0,
    kFeedAliasFX = 1,
    kFeedAliasReduced = 2,
    kFeedAliasApproach = 3,
    kFeedAliasRetract = 4,
    kFeedAliasInfeed = 5,
    kFeedAliasCount = 14,
};

// Set-up and state.
// Starts a run's output afresh: positions, counters, feeds, sections and the SBS block reset. The
// run's set-up stays (writer, modes, plunge angle, special feeds, unit settings, tool tip and tool
// reference).
void ncRestartOutput();
void ncSetWriter(CycleRecord* cycle);  // null: nothing is written
CycleRecord* ncGetWriter();
void ncSetPointMode(int32_t mode);  // 0 off, 1 literal points as splines, 2 as polynomials
void ncSetNoPlungeCheck(int32_t flag);
void ncSetFeedMode(int32_t mode);  // 0 normal, 1 every new feed also pushed, 2 changes only when forced
void ncSetSpecialFeeds(double approach, double retract, double infeed);
void ncSetPlungeAngle(double degrees);  // threshold cos(angle), at most 0.99999
double ncPlungeThreshold();
void idx5SetScale(int32_t toolTipFlag, double length, const Vec3* startPoint);
void ncSetToolReferenceOffset(double offset);
void ncSetToolAxis(const Vec3* axis);
void ncSetOutputFactor(double factor);  // accepted; no output depends on it
void ncForceInfeedFeed(int32_t flag);
int32_t ncIsInfeedFeedForced();
int ncSetSurfaceNormal(const Vec3* normal);  // the negated normal to the core library

// Owned by the cycle's configuration, read here: the unit factor (1.0 for mm,
// 25.0 for inch) divides planes and lengths; the clearance-plane offset is
// added to the retract plane to give the clearance plane. A factor that is not
// positive is refused with -1 (the old one stays); else 1.
int ncSetUnitFactor(double factor);
double ncUnitFactor();
void ncSetClearancePlaneOffset(double offset);
double ncClearancePlaneOffset();

// Records and sections; without a writer they write nothing and return 0.
// Emits "%d,%s" with code and text ("%d" without text) as an error record on
// the writer, a result longer than 128 characters cut to 127.
int ncReportError(int32_t code, const char* text);
// Messages go out here: a sent one through ncReportError; a fault as an error record of the writer
// (ncErrorNumber), then its text "number,value" to the hearer with whether the record went out, so
// that the host hears what its channel could not carry. The cycle framework installs the hearer.
using NcFaultHearFn = void (*)(CycleRecord* record, const char* text, bool delivered);
void ncSetFaultHearer(NcFaultHearFn hearer);
int ncWriteComment(const char* text);  // a comment record on channel 32; 0
// Codes 1 "3dPath", 64 "link" (written for the first link section of a run
// only), 128 hold positioning moves, 256 "clearance" (at most one open). The two
// doubles carry nothing; they give both the shape of the link layer's section callbacks.
int ncSectionBegin(int32_t code, double = 0.0, double = 0.0);
int ncSectionEnd(int32_t code, double = 0.0, double = 0.0);
int ncPlungeBegin();
int ncPlungeEnd();
// A polyline on channel 41, mapped from frame A to frame B; 1, 0 for none, -1 for bad input.
int ncWritePolyline(const Vec3* points, int32_t count, const char* name, const char* comment,
                    const char* uText);
int ncWritePoint(const Vec3* point);  // record 7001, mapped from frame A to frame B
const char* ncCycleFunctionName();

// Header and feeds.
int ncWriteCycleHeader(const ToolNcConfig* config);  // 1, or -1 without writer or config
// 1; -1 for a full feed stack or an alias index outside the table. Feed mode 1 pushes the new feed,
// mode 2 the one it replaces.
int ncSetFeed(double value, int32_t aliasIndex);
int ncSetFeedFromKernel();  // takes the pair on top of the feed stack: 1, or -1 when it is empty
int ncWriteFeedChange(int32_t forced);
void ncApproachFeed(int32_t on);
void ncRetractFeed(int32_t on);
void ncInfeedFeed(int32_t on);
void ncFeedStackReset();
int ncFeedStackPush(double value, int32_t aliasIndex);   // 1, or -1 at kNcFeedStackSize entries
int ncFeedStackPop(double* value, int32_t* aliasIndex);  // 1, or -1 when empty
double ncCurrentFeed();
int32_t ncCurrentAliasIndex();
int32_t ncFeedClass();  // of the last classified move: 0 cutting, 1 reduced, 2 plunge

// Moves (mode 1 a feed move, 0 a positioning move) and literal point lists.
int ncListBegin();  // 1; -1 when the point buffer cannot be created
int ncListEnd();
int ncClassifyMove(const Vec3* point, int32_t mode);  // three-axis: 0, or -3
int ncPointOut(const Vec3* point, int32_t mode);      // five-axis: 0, or -3
int ncWriteMove3x(const Vec3* point, int32_t mode);   // 0, or -1 without writer or point
int ncWriteMove5x(const Vec3* point, int32_t mode);
int ncFinishCycle();

// SBS statements.
int ncSetSbsActive(int32_t on);
int ncSbsToggle(int32_t op);  // 1 open, 0 close, other restart; only while SBS is active
int ncWriteSbsPoint(const Vec3* point, const Vec3* axisPoint, double parameter);
int32_t ncSbsBlockOpen();

void ncOutResetState();  // everything, the writer, set-up, unit factor and plunge threshold included
