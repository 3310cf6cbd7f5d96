// The run set-up of the plunge-roughing cycle: from the run's parameter record it derives the cutter
// shape, the approach and leave macro parameters, the path step limits, the tool envelope, the global
// frames and the collision report, and the tool values of the NC header. Every correction it makes is
// written to the run's record (cycleParams()), never to the applied one, so that repeated runs start
// from the same values.
#pragma once

#include <cstdint>

#include "avoidance/macro.h"
#include "collision/chkmodel.h"
#include "collision/toolenv.h"
#include "kernel/ncout/ncout.h"
#include "plunge/cycparams.h"

enum : int32_t {
    kMsgFramesInitFailed = 502,   // frames cannot be initialised
    kMsgFramesIgnored = 503,      // ... and are not taken into account
    kMsgAptTip = 504,             // output for the tool tip
    kMsgAptCentre = 505,          // output for the tool centre
    kMsgCornerAboveRadius = 329,  // corner radius larger than the radius
    kMsgRadiusBelowZero = 330,    // allowance plus radius below zero, set to 0
    kMsgMinStepCorrected = 514,   // minimum calculation step raised
    kMsgMaxStepCorrected = 515,   // maximum calculation step raised to the minimum
    kMsgNoCollisionCheck = 6209,  // no collision detection active
    kMsgTopBelowBottom = 6304,    // shroud depth not above the shroud offset
};

// What the path generation and the plunge output need besides the parameter record.
struct CycleNcCtx {
    MacroParams macro;   // first, as the link code reads it
    double calcStepMax;  // path calculation step limits
    double calcStepMin;
    double stepMax;            // *AUFLMAX after the corrections
    double stepMin;            // *AUFLMIN after the corrections
    double clearanceDistance;  // *SICHDIST
    double clearancePlane;     // *SICHEBENE
    double leadAngle;          // radians
    double tiltMax;            // radians
    double cosStepWin;         // cosine of *STEP_WIN
    double compAxval;
    double sinterval;
    double plungeWidth;  // 2 x *AUFMASS_HORI + *TIP_DIAMETER
    double retractFeed;
    double forceG1Ipol;
    double forceG1Fac;
    int32_t forceG1;
    int32_t collisionCheck;  // the collision switch
    int32_t tiltStrategy;
    int32_t avoidColl;
    int32_t smooth5ax;
    int32_t boundarySwitch;
    int32_t boundMode;
    int32_t randomPoints;
    int32_t outputStarted;
    // Link defaults, replaced by the keywords that are set.
    int32_t checkPlane;
    int32_t checkZlift;
    int32_t rapidLogic;
    int32_t clearMovement;
    double maxPlaneAngle;
    double maxDistAngle;
    double clearFeedrate;
    double maxClearDist;
    ToolDescription envelope;  // the tool envelope the collision report measures
    ToolDescription tool;      // the tool assembly description of the assembly check
};

// The tool and part model record of the run; its model's tool points at `tool`.
struct CycleToolCtx {
    CheckModel model;
    ToolGeom tool;
};

CutterShape* cycleCutterShape();
CycleNcCtx* cycleNcCtx();
CycleToolCtx* cycleToolCtx();
ToolNcConfig* cycleToolNcConfig();

// 1, or -1 (message 6304) when the shroud band has no height.
int initNcToolSystem();
// Applies an allowance to a cutter in place (see the rules in the source).
void checkToolShape(CutterShape* shape, double allowance, int32_t toolTip);
// The same rules on a check model's tool record.
void checkToolGeom(ToolGeom* tool, double allowance, int32_t toolTip);
void fillToolNcConfig();
// The assembly description of the run's tool, filled and offset; 0.
int buildToolEnvelope(double allowance, double shaftStep, int32_t toolTip);
// "CORNER=r" in *COMMENT: *FRBOGEN = r x unit factor and *FRTYP = 3. 1 when found, else 0.
int toolFromComment(double unitFactor);
// The trimmed surfaces of kvxName into "extra.3df" in *TMP_DIR (named in *EXTRA_3DF): 1, or -1.
int extraMeshToFacetFile(const char* kvxName, double tolerance);

void runSetupResetState();
