// Links between cuts: how the tool leaves one cut, travels and comes down on the next without touching
// the part, the final retract of a path, and the thinning and emission of the point lists of links.
// Every position goes out through the position stream; link moves sit in NC sections 64 and 128.
#pragma once

#include <cstdint>

#include "avoidance/macro.h"
#include "geometry/plist.h"
#include "geometry/profile.h"
#include "geometry/vec.h"

struct AvoidContext;
struct CheckModel;

enum : int32_t {
    kLinkSectionLink = 64,
    kLinkSectionRetract = 128,
    kLinkFeedAliasRetract = 12,
};

// The settings of the cycle context that the links read.
struct LinkContext {
    MacroParams macro;
    double safetyDistance;  // kept above a cut's start along its axis; least jump lift
    double clearancePlane;  // z of the retract plane
    uint16_t linkType;      // 0 clearance plane, 1 checked height, 2 lifted plane
    uint16_t jumpFlag;      // non-zero: lifted jump along the two tool axes
    uint16_t smoothMode;    // 2 or more: connecting curves; 3 with the tangent flag
    uint16_t forceG1;       // infeed feed and axis blending on retract and approach
    double forceG1Step;     // largest travel per blended axis step
    double retractFeed;     // feed of the last move onto the next cut, when non-zero
    uint16_t linkMacroSwitch;
    uint16_t radialMode;
    uint16_t polygonSwitch;
    double polygonRadius, polygonLift;
    double totalToolLength;
    uint16_t pathMode;
    double stepMin, stepMax;  // thinning: largest deviation and chord
    double stepAngleCos;
    uint16_t climbMode;        // 2: clamp the run kinds of placed lists
    double infeedThreshold;    // below 0.01 the ramp macros go out untested
    uint16_t macroAxisSwitch;  // non-zero: a macro's own axes are joined into its placed list
    const AvoidContext* avoid;
};

// The section openers and closers the links call; by default the NC output's. Null restores them.
using LinkSectionHook = int (*)(int32_t code, double a, double b);
void linkSetSectionHooks(LinkSectionHook begin, LinkSectionHook end);

int idx5CollisionFreeMacro(const Vec3* T, const Vec3* P2, int32_t alongProfile, LinkContext* ctx,
                           CheckModel* model);
int linkRetractApproach(const LinkContext* ctx, CheckModel* model, const Vec3* T, double h, double o);
// The least lift, in steps of the model's check step below 1000, at which the jump is free: 1, -1 none,
// kLinkCancelled when the host cancelled.
int linkJumpLift(const Vec3* P, const Vec3* T, const Vec3* aP, const Vec3* aT, const LinkContext* ctx,
                 double* lift, int32_t linkType, CheckModel* model);
// 1 when the tool sampled along E-F meets nothing, 0 when it does or when the host cancelled.
int linkSegmentFree(const Vec3* a1, const Vec3* a2, const LinkContext* ctx, CheckModel* model, const Vec3* E,
                    const Vec3* F);
int linkAxisBlendMove(const Vec3* aFrom, const Vec3* aTo, double step, const Vec3* E, const Vec3* F);
// Travel heights of link types 1 and 2 from a placement of the grown tool on a clone of the model.
int linkTravelHeightLine(const Vec3* A, const Vec3* B, const LinkContext* ctx, CheckModel* model, double* h);
int linkTravelLiftPlane(const Vec3* A, const Vec3* B, const LinkContext* ctx, CheckModel* model,
                        double* lift);
// A link along the curve from the last position: placed, checked, thinned and emitted. 1 emitted, 0 after
// the fallback retract, -1 no memory or no placement, -3 output failed.
int linkCheckedMove(ProfileCurve* curve, const LinkContext* ctx, CheckModel* model);
// The lift above p at which the tool comes free, in steps of its radius: 1 with the lift, 0 none, -4 failed.
int linkLiftHeight(const Vec3* p, const LinkContext* ctx, CheckModel* model, double* lift);

// Macros placed on the part before they go out.
Plist* macroPlacePoints(const MacroPath* path, const LinkContext* ctx, CheckModel* model);
int macroJoinAxis(const MacroPath* path, Plist* list);
// 0, -2 nothing left after avoidance, -3 output failed, or a link's negative result. link < 0: no link.
int linkInfeedCollisionTest(const MacroPath* path, LinkContext* ctx, CheckModel* model, int32_t link,
                            const Vec3* next);
// The final retract: 0, -2 (message 5501) no placement at the last point, kLinkOutputFailed, or
// kLinkCancelled (nothing emitted).
int linkEndPath(const LinkContext* ctx, CheckModel* model);
// The end of the paths: the final retract, then the flush of a pending leave macro's point list.
int linkEndPathFlush(const LinkContext* ctx, CheckModel* model);

// Thinning: inner points that lie on the chord of their kept neighbours become kind 3.
void linkThinPoints(Plist* list, double maxChord, double maxDev);
void linkThinKeepAxes(Plist* list, double maxChord, double maxDev, double stepAngleCos);
void linkSetRandomThinning(int32_t on);  // a passing point is kept at random (one in ten)

int linkEmitPointList(const Plist* list);
int linkEmitMacro(const MacroPath* path, int32_t moveClass);
double macroPathFirstStep(const MacroPath* path);

void linksResetState();
