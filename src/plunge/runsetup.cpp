#include "plunge/runsetup.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "avoidance/avoidtilt.h"
#include "collision/collassembly.h"
#include "collision/collreport.h"
#include "collision/stepover.h"
#include "collision/toolassembly.h"
#include "collision/toolseg.h"
#include "geometry/curve3d.h"
#include "geometry/frames.h"
#include "kernel/base/constants.h"
#include "kernel/base/msg.h"
#include "surfaces/Implib/meshlib.h"

namespace {

constexpr double kTol = 1e-5;
constexpr double kDeg = kDegToRad;

struct RunSetup {
    CutterShape cutter;
    CycleNcCtx nc;
    CycleToolCtx tool;
    ToolNcConfig header;
};

RunSetup g{};

Vec3 v3(const double a[3]) {
    return {a[0], a[1], a[2]};
}

void setFrames(CycleParams* p) {
    Vec3 o = v3(p->nckoO), x = v3(p->nckoX), y = v3(p->nckoY), z = v3(p->nckoZ);
    frameSetB(&o, &x, &y, &z);
    o = v3(p->wzkoO), x = v3(p->wzkoX), y = v3(p->wzkoY), z = v3(p->wzkoZ);
    frameSetA(&o, &x, &y, &z);
    if (p->useOrig) {
        o = v3(p->origO), x = v3(p->origX), y = v3(p->origY), z = v3(p->origZ);
        frameSetC(&o, &x, &y, &z);
    }
    if (framesInit() < 0) {
        msgLong(9, kMsgFramesInitFailed, "* Fehler beim Initialisieren von NC/Tool-System", 0);
        msgLong(9, kMsgFramesIgnored, "* NC/Tool-System kann nicht beruecksichtigt werden", 0);
    }
    if (p->useOrig && framesInitC() < 0) {
        msgLong(9, kMsgFramesInitFailed, "* Fehler beim Initialisieren von NC/Tool-System", 0);
        msgLong(9, kMsgFramesIgnored, "* NC/Tool-System kann nicht beruecksichtigt werden", 0);
    }
}

void setCutter(CycleParams* p) {
    CutterShape& c = g.cutter;
    c = CutterShape{};
    c.radius = p->frradius;
    c.tipLength = p->tipLength < kTol ? p->taperHeight : p->tipLength;
    c.shaftDiameter = p->shaftDiameter;
    c.chamferLength = p->chamferLength;
    c.taperAngle = p->taperAngle;
    switch (p->frtyp) {
        case 2:
            c.kind = kEndMill, c.cornerRadius = 0.0;
            break;
        case 3:
            c.kind = kRadiusMill, c.cornerRadius = p->frbogen;
            break;
        case 12:
            c.kind = kBallMill, c.cornerRadius = p->frradius;
            break;
        case 13:
            c.kind = kRadiusMill, c.cornerRadius = p->frbogen;
            break;
        default:
            c.kind = kBallMill, c.cornerRadius = p->frradius;
            break;
    }
    if (p->frtyp != 12 && p->frtyp != 13) p->tipDiameter = 2 * p->frradius;
}

void setNcValues(CycleParams* p) {
    CycleNcCtx& nc = g.nc;
    nc.clearanceDistance = p->sichdist;
    nc.clearancePlane = p->sichebene;
    if (p->lauf == 2) p->zustBahn = 0;
    p->bearbeitricht = p->cutDirection == 1 ? 3 : 5;
    if (p->tiltFixed) p->tiltStrategy = 6, p->avoidColl = 0;
    if (p->entryPos == 1) {
        p->leadupAngleLeadmain = p->leadAngleLeadmain;
        p->leadupAngleTrail = p->leadAngleTrail;
        p->leadupAngleLeadsplitter = p->leadAngleLeadsplitter;
        p->leadupAngleLeadmainOk = p->leadAngleLeadmainOk;
        p->leadupAngleTrailOk = p->leadAngleTrailOk;
        p->leadupAngleLeadsplitterOk = p->leadAngleLeadsplitterOk;
        p->leadupAngle = p->leadAngle;
    }
    p->leadupAngle *= kDeg;
    nc.leadAngle = p->leadAngle * kDeg;
    nc.tiltMax = p->tiltMax * kDeg;
    nc.collisionCheck = p->collCheck5ax;
    nc.tiltStrategy = p->tiltStrategy;
    nc.cosStepWin = std::cos(p->stepWin * kDeg);
    nc.avoidColl = p->avoidColl;
    nc.smooth5ax = p->smooth5ax;
    nc.compAxval = p->smooth5ax ? 0.1 : p->compAxval;
    nc.sinterval = p->sinterval;
}

void setEnvelope(CycleParams* p) {
    ToolDescription& env = g.nc.envelope;
    env = ToolDescription{};
    if (p->toolCollCheck == 0) {
        toolenv_create(&env, &g.cutter, 0.0, p->length1, p->length2, p->totalToolLength, p->diameter1,
                       p->diameter2, p->thickShaft);
        toolenv_add_holder(&env, 0.0, p->diameter3, p->length3, p->diameter4, p->length4);
        return;
    }
    set_toolenv_mode(1);
    toolenv_create(&env, &g.cutter, 0.0, p->length1, p->length2, p->totalToolLength, p->diameter1,
                   p->diameter2, p->thickShaft);
    avoidSetReportFlag(p->toolCollCheck);
    collrep_create(&env, p->toolLengthReduce, p->toolLengthExtend, p->toolLengthIncr, p->sichebene);
}

void setStepLimits(CycleParams* p, double unit) {
    CycleNcCtx& nc = g.nc;
    nc.stepMax = p->auflmax;
    nc.stepMin = p->auflmin;
    nc.boundarySwitch = p->bearbeitrand == 1 ? 0 : 1;
    nc.boundMode = p->boundMode;
    nc.randomPoints = p->randomPoints;
    if (nc.stepMin < 0.0001) {
        nc.stepMin = 0.0001;
        msgDouble(9, kMsgMinStepCorrected, "* Minimale Berechnungs-Schrittweite korrigiert auf %3.5f",
                  0.0001 / unit);
    }
    if (nc.stepMax < nc.stepMin) {
        nc.stepMax = nc.stepMin;
        msgDouble(9, kMsgMaxStepCorrected, "* Maximale Berechnungs-Schrittweite korrigiert auf %3.5f",
                  nc.stepMin);
    }
}

void setStepover(CycleParams* p) {
    if (p->startpt[2] < -99999.99999) p->startpt[2] = p->sichebene;
    if (p->gridXy < 10) p->gridXy = 10;
    if (p->gridXy > 100) p->gridXy = 100;
    if (p->zustellArt > 1) {
        ToolGeom tool{};
        tool.toolType = g.cutter.kind;
        tool.radius = g.cutter.radius;
        tool.cornerRadius = g.cutter.cornerRadius;
        tool.size2 = 2 * g.cutter.radius;
        tool.taperAngle = g.cutter.taperAngle;
        const double lead = p->leadAngle * kDeg;
        double s = stepover_for_tool(&tool, p->scalHeight, lead);
        if (s > 0) p->horizustel = s;
        s = stepover_for_tool(&tool, p->scalHeightMin, lead);
        if (s > 0) p->horizustelMin = s;
    }
    if (std::fabs(p->coreHeight) >= kTol)
        p->coreHeight = 0.0;
    else
        p->centerCut = 1;
    if (p->centerCut) p->tCutwidth = 1.5 * p->frradius;
}

void setExtraMesh(CycleParams* p) {
    if (p->extraCount < 1) {
        if (p->extra3df[0] && p->extra3df[0] != ' ') p->extraCount = 1;
    } else if (extraMeshToFacetFile(p->extraKvx, p->extraTol) < 0) {
        p->extraCount = 0;
    }
    if (p->plungeStep > p->tCutwidth - kTol) p->plungeStep = p->tCutwidth - kTol;
    g.nc.plungeWidth = 2 * p->aufmassHori + p->tipDiameter;
}

void setLinkValues(CycleParams* p) {
    CycleNcCtx& nc = g.nc;
    nc.retractFeed = p->retractFeedrate;
    p->linkFeed = p->retractFeedrate;
    meshSetCollFlag(p->checkHolder);
    ncSetFeedMode(2);
    if (p->checkPlane >= 0) nc.checkPlane = p->checkPlane;
    if (p->checkZlift >= 0) nc.checkZlift = p->checkZlift;
    if (p->rapidLogic >= 0) nc.rapidLogic = p->rapidLogic;
    if (p->clearMovement >= 0) nc.clearMovement = p->clearMovement;
    if (p->maxPlaneAngle > -kTol) nc.maxPlaneAngle = p->maxPlaneAngle;
    if (p->maxDistAngle > -kTol) nc.maxDistAngle = p->maxDistAngle;
    if (p->clearFeedrate > -kTol) nc.clearFeedrate = p->clearFeedrate;
    if (p->maxClearDist > -kTol) nc.maxClearDist = p->maxClearDist;
    set_coll_tolerances(p->holder3dfTol, p->head3dfTol);
    if (p->toolCollCheck && p->useFreeHolder)
        toolAssemblySetDims(p->headClearance, p->holderClearance, p->extensionClearance, p->shankClearance);
}

// The keywords the approach and leave macros take.
MacroSettings macroSettingsOf(const CycleParams* p) {
    return MacroSettings{.filletStrategy = p->filletStrategy,
                         .cutDirection = p->cutDirection,
                         .stepover = p->stepover,
                         .macroIwin = p->macroIwin,
                         .macroAwin = p->macroAwin,
                         .macroSabst = p->macroSabst,
                         .macroEabst = p->macroEabst,
                         .macroSwin = p->macroSwin,
                         .macroEwin = p->macroEwin,
                         .macroTswin = p->macroTswin,
                         .macroTewin = p->macroTewin,
                         .macroTheight = p->macroTheight,
                         .macroTdir = p->macroTdir,
                         .macroTrad = p->macroTrad,
                         .macroTmode = p->macroTmode,
                         .macroSname = p->macroSname,
                         .macroEname = p->macroEname};
}

}  // namespace

CutterShape* cycleCutterShape() {
    return &g.cutter;
}
CycleNcCtx* cycleNcCtx() {
    return &g.nc;
}
CycleToolCtx* cycleToolCtx() {
    return &g.tool;
}
ToolNcConfig* cycleToolNcConfig() {
    return &g.header;
}

void checkToolShape(CutterShape* s, double a, int32_t toolTip) {
    if (!s) return;
    const double r0 = s->radius;
    switch (s->kind) {
        case kBallMill:
            s->radius = s->cornerRadius = r0 + a;
            s->tipOffset = toolTip == 1 ? r0 : 0.0;
            s->tipLength = std::max(0.0, s->tipLength - s->radius);
            break;
        case kEndMill:
            s->radius = r0 + a;
            if (a <= kTol) {
                s->tipOffset = -a;
            } else {
                s->kind = kRadiusMill;
                s->cornerRadius = a;
                s->tipOffset = toolTip == 1 ? a : 0.0;
                s->tipLength = std::max(0.0, s->tipLength - s->cornerRadius);
            }
            break;
        default:
            if (s->cornerRadius + a <= kTol) {
                s->kind = kEndMill;
                s->radius = r0 + a;
                s->cornerRadius = 0.0;
                s->tipOffset = 0.0;
            } else {
                s->radius = r0 + a;
                s->tipOffset = toolTip == 1 ? s->cornerRadius : 0.0;
                s->tipLength = std::max(0.0, s->tipLength - s->cornerRadius);
            }
            break;
    }
    s->shaftDiameter += 2 * a;
    if (s->kind == kRadiusMill && s->radius + kTol < s->cornerRadius) {
        msgDouble(9, kMsgCornerAboveRadius, "* Fehler: Eckenradius groesser als Schaftradius",
                  s->cornerRadius);
        s->radius = s->cornerRadius;
    }
    if (s->radius <= -kTol) {
        msgDouble(9, kMsgRadiusBelowZero, "* Aufmass + Radius < 0, korrigiert auf 0", s->radius);
        s->radius = 0.0;
        if (s->kind == kBallMill) s->cornerRadius = 0.0;
    }
}

void checkToolGeom(ToolGeom* tool, double allowance, int32_t toolTip) {
    if (!tool) return;
    CutterShape s{};
    s.kind = tool->toolType;
    s.radius = tool->radius;
    s.cornerRadius = tool->toolType == kBallMill ? tool->radius : tool->cornerRadius;
    s.taperAngle = tool->taperAngle;
    checkToolShape(&s, allowance, toolTip);
    tool->toolType = s.kind;
    tool->radius = s.radius;
    tool->cornerRadius = s.cornerRadius;
    tool->size2 += 2 * allowance;
}

int toolFromComment(double unitFactor) {
    CycleParams* p = cycleParams();
    const char* at = std::strstr(p->comment, "CORNER");
    if (!at) return 0;
    at = std::strchr(at + 6, '=');
    if (!at) return 0;
    ++at;
    while (*at == ' ' || *at == '\t') ++at;
    char* end = nullptr;
    const double r = std::strtod(at, &end);
    if (end == at) return 0;  // no number after the sign: the tool stays as given
    p->frbogen = r * unitFactor;
    p->frtyp = 3;
    return 1;
}

int buildToolEnvelope(double allowance, double shaftStep, int32_t toolTip) {
    const CycleParams* p = cycleParams();
    ToolDescription& t = g.nc.tool;
    t = ToolDescription{};
    t.toolType = static_cast<uint16_t>(p->frtyp == 6 ? 1 : p->frtyp);
    t.radius = p->frradius;
    t.cornerRadius = p->frbogen;
    t.cutterTop = p->totalToolLength;
    t.tipTop = p->tipLength;
    t.shaftDiameter = p->shaftDiameter;
    t.chamferTop = p->chamferLength;
    t.taperAngle = p->taperAngle;
    t.stage2Top = p->length2;
    t.stage1Top = p->length1;
    t.stage2Diameter = p->diameter2;
    t.stage1Diameter = p->diameter1;
    t.stage3Top = p->length3;
    t.stage3Diameter = p->diameter3;
    t.stage4Top = p->length4;
    t.stage4Diameter = p->diameter4;
    t.thickShaft = p->thickShaft;
    toolenv_fill(&t, toolTip == 1);
    toolenv_offset(&t, allowance, shaftStep);
    toolenv_offset_b(&t, p->shaftAllowance);
    return 0;
}

int extraMeshToFacetFile(const char* kvxName, double tolerance) {
    CycleParams* p = cycleParams();
    if (!kvxName || !*kvxName || *kvxName == ' ') return -1;
    char out[kCycleTextMax + 1];
    if (!tmpDirPath("extra.3df", out, sizeof out)) return -1;
    if (loadMeshHelperLib(kvxName, out, dllDirParam(), tolerance) < 0) return -1;
    std::memcpy(p->extra3df, out, sizeof out);
    return 1;
}

void fillToolNcConfig() {
    const CycleParams* p = cycleParams();
    ToolNcConfig& h = g.header;
    h = ToolNcConfig{};
    h.toolNumber = p->wkznummer;
    h.feedX = p->xvorschub;
    h.feedZ = p->zvorschub;
    h.spindleSpeed = p->drehzahl;
    h.spindleSense = p->drehricht;
    h.clearanceDistance = p->sichdist;
    h.retractPlane = p->sichebene;
    h.approachFeed = p->linkFeed;
    h.retractFeed = p->retractFeedrate;
}

int initNcToolSystem() {
    CycleParams* p = cycleParams();
    CycleNcCtx& nc = g.nc;
    const double unit = ncUnitFactor();
    nc = CycleNcCtx{};
    nc.checkPlane = nc.rapidLogic = nc.clearMovement = 0;
    nc.checkZlift = 1;  // the lifted jump link unless *CHECK_ZLIFT says otherwise
    nc.maxPlaneAngle = nc.maxDistAngle = nc.clearFeedrate = nc.maxClearDist = -1.0;

    // Path step defaults.
    nc.calcStepMax = 1.0;
    nc.calcStepMin = 0.005;
    p->fanFactor = std::clamp(p->fanFactor, 0.0, 0.9);
    p->vertzustel = 10000.0;
    p->auflmax = 1.0;
    p->auflmin = 0.8 * p->precision;
    p->stepMin = 0.5 * p->precision;
    if (p->precision < 0.008) p->auflmax = std::max(100 * p->precision, 0.2);

    setFrames(p);
    toolFromComment(unit);
    setCutter(p);
    if (p->frtyp == 1 || p->frtyp == 3 || p->frtyp == 6) {
        if (p->toolTip == 1) msgLong(2, kMsgAptTip, "* APT Ausgabe fuer Werkzeugspitze", 0);
        if (p->toolTip == 2) msgLong(2, kMsgAptCentre, "* APT Ausgabe fuer Werkzeugmittelpunkt", 0);
    }
    checkToolShape(&g.cutter, p->aufmassHori, p->toolTip);
    const MacroSettings macro = macroSettingsOf(p);
    macroParamsSetUp(&nc.macro, &macro);
    setNcValues(p);
    setEnvelope(p);
    buildToolEnvelope(p->aufmassHori, 0.01, p->toolTip);
    setStepLimits(p, unit);
    setStepover(p);
    setExtraMesh(p);

    approxSetChord(p->horizustel);
    ncSetOutputFactor(nc.cosStepWin);
    if (nc.collisionCheck == 0)
        msgLong(9, kMsgNoCollisionCheck, "* Warning: No collision detection activated", 0);

    nc.forceG1 = p->forceG1;
    nc.forceG1Ipol = p->forceG1Ipol;
    nc.forceG1Fac = p->forceG1Fac;
    p->sangle *= kDeg;
    if (p->finish || p->stepSide) p->lauf = 2;
    if (p->openTech) {
        if (p->openSpindle != 0.0) p->rSpindle = p->openSpindle;
        if (p->openFeed != 0.0) p->rvorschub = p->openFeed;
    }

    p->shroudOffset = 0.0;
    if (p->stepFlow) p->stepStrategy = 3, p->hubOffset = 0.0, p->startFactor = 1.0;
    if (p->stepStrategy == 1) {
        if (std::fabs(p->shroudDepth) < kTol) p->shroudDepth = 1000.0;
        if (p->shroudDepth - kTol < p->shroudOffset) {
            msgLong(9, kMsgTopBelowBottom, "* Top below bottom", 0);
            return -1;
        }
    } else if (p->stepStrategy == 0) {
        p->aufmassHub += p->hubOffset;
        p->hubOffset = 0.0;
    }

    setLinkValues(p);
    fillToolNcConfig();

    // The tool record of the run's model: the cutter as path generation sees it.
    CycleToolCtx& t = g.tool;
    chkModelInit(&t.model, kMeshTriangles);
    t.tool = ToolGeom{};
    t.tool.toolType = g.cutter.kind;
    t.tool.radius = g.cutter.radius;
    t.tool.cornerRadius = g.cutter.cornerRadius;
    t.tool.height = p->cuttingLength;
    t.tool.size2 = 2 * g.cutter.radius;
    t.tool.taperAngle = g.cutter.taperAngle;
    t.model.tool = &t.tool;
    t.model.tolerance = p->precision;
    return 1;
}

void runSetupResetState() {
    g.cutter = CutterShape{};
    g.nc = CycleNcCtx{};
    g.tool = CycleToolCtx{};
    g.header = ToolNcConfig{};
}
