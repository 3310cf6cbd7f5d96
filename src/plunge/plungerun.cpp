#include "plunge/plungerun.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "avoidance/avoidtilt.h"
#include "avoidance/linkout.h"
#include "avoidance/macro.h"
#include "avoidance/toolline.h"
#include "collision/collassembly.h"
#include "collision/collreport.h"
#include "collision/holdercheck.h"
#include "collision/meshset.h"
#include "collision/polymesh.h"
#include "collision/proj.h"
#include "collision/toolenv.h"
#include "collision/toolseg.h"
#include "geometry/curve3d.h"
#include "geometry/frames.h"
#include "geometry/rng.h"
#include "kernel/cyc3d.h"
#include "kernel/cycle.h"
#include "kernel/idx5.h"
#include "kernel/msg.h"
#include "kernel/ncemit.h"
#include "plunge/contourpair.h"
#include "plunge/hubshroud.h"
#include "plunge/levelcurves.h"
#include "plunge/partload.h"
#include "plunge/surfset.h"
#include "surfaces/meshfiles/bndfile.h"

namespace {

constexpr double kTol = 1e-5;
constexpr int32_t kMsgNoCfgFile = 6200;  // the configuration file named by the run is missing

// The objects of one path generation; each null between runs.
struct RunObjects {
    HubShroud* pair;     // offset for the path
    HubShroud* hubCopy;  // hub with the hub allowance
    ContourPair* contours;
    LevelCurves* levels;
    MeshSet* blades;
    SurfaceSet* surfaces;
    SurfaceGrids* grids;
    int32_t hubFinishing;
    int32_t polymesh;
};

RunObjects gRun{};

Vec3 v3(const double a[3]) {
    return {a[0], a[1], a[2]};
}

void mirrorFramesFromParams(const CycleParams* p) {
    bool any = false;
    for (int i = 0; i < 3; ++i)
        any = any || std::fabs(p->mirrorOri[i]) >= kTol || std::fabs(p->jlMirrorOri[i]) >= kTol;
    if (!any) return;
    Vec3 pos = v3(p->mirrorPos), ori = v3(p->mirrorOri), jlPos = v3(p->jlMirrorPos),
         jlOri = v3(p->jlMirrorOri);
    framePairCreate(&pos, &ori, &jlPos, &jlOri);
}

int fail(CycleToolCtx* tool, int result) {
    freeCycleData(tool);
    return result;
}

}  // namespace

void truncateFile(const char* name) {
    if (!name || !*name) return;
    if (FILE* f = std::fopen(name, "wb")) std::fclose(f);
}

int cyclePitch(const CycleParams* p, double* pitch) {
    if (!p || !pitch) return -1;
    if (p->bladeCount < 2) {
        msgLong(9, kMsgBladeCountZero, "* Blade Count = 0", p->bladeCount);
        return -1;
    }
    *pitch = std::fabs(p->bldctFloat) >= kTol ? 2 * M_PI / p->bldctFloat : 2 * M_PI / p->bladeCount;
    return 1;
}

void freeCycleData(CycleToolCtx* tool) {
    if (tool) polymeshFree(&tool->model);
    freeHubShroud(gRun.pair);
    freeHubShroud(gRun.hubCopy);
    freeContourPair(gRun.contours);
    freeLevelCurves(gRun.levels);
    meshSetFree(gRun.blades);
    freeSurfaceSetGrids(gRun.grids);
    freeSurfaceSet(gRun.surfaces);
    gRun = RunObjects{};
}

int generatePlungePaths(CycleNcCtx* nc, CycleToolCtx* tool) {
    CycleParams* p = cycleParams();
    if (!nc || !tool) return -1;
    if (p->pofcheckModel[0]) truncateFile(p->pofcheckModel);
    double pitch = 0.0;
    if (cyclePitch(p, &pitch) < 0) return -1;
    const double tol = tool->model.tolerance;
    const double radius = tool->model.tool ? tool->model.tool->radius : p->frradius;

    gRun.pair = loadHubShroud(tol);
    if (!gRun.pair) return fail(tool, -1);
    gRun.blades = p->rotOpt == 0 ? meshSetFromFile(p->bladeKvx, p->splitKvx, pitch, p->precision)
                                 : meshSetFromSurfaces(p->bladeKvx, p->splitKvx, pitch, p->precision, radius);
    gRun.contours = loadBladeContours(gRun.pair->hub, tol);
    if (!gRun.contours) {
        msgLong(9, kMsgNoProfileCurve, "* No Profil curve selected", 0);
        return fail(tool, -1);
    }

    // The meridional curves: the hub copy keeps the hub allowance only, the working pair is the
    // path of the tool centre.
    gRun.hubCopy = copyHubShroud(gRun.pair);
    if (!gRun.hubCopy || offsetProfile2D(gRun.hubCopy, p->aufmassHub) < 0) return fail(tool, -1);
    if (offsetProfile2D(gRun.pair, p->aufmassHub + p->frradius) < 0 ||
        offsetShroudProfile2D(gRun.pair, p->frradius) < 0 ||
        offsetShroudProfile2D(gRun.pair, -p->shroudOffset) < 0)
        return fail(tool, -1);
    double depth = std::max(0.0, p->shroudDepth - p->shroudOffset);
    int32_t strategy = p->shroudStrategy == 1 && p->stepFlow == 0 ? 2 : p->stepStrategy;
    if (p->stepStrategy == 0) depth = p->aufmassHub > kTol ? p->hubOffset - p->aufmassHub : p->hubOffset;

    const double height = channelHeight(gRun.pair);
    if (height < p->vertzustel) p->vertzustel = height;
    gRun.levels = buildLevelCurves(gRun.pair, p->vertzustel, strategy, depth);
    if (!gRun.levels) return fail(tool, -1);
    if (p->stepStrategy == 1) {
        HubShroud* band = shroudBand(gRun.pair, -p->shroudDepth);
        if (!band) return fail(tool, -1);
        freeHubShroud(gRun.pair);
        gRun.pair = band;
    }
    gRun.hubFinishing = gRun.levels->count == 1 && p->hubfinStrategy ? 1 : 0;
    if (p->edgerollingLead < 0) p->edgerollingLead = gRun.hubFinishing;

    if (p->approxOk || p->extraCount > 0) {
        gRun.polymesh = 1;
        const char* name = p->approxOk ? p->approx : p->extra3df;
        const int loaded = p->approxOk && p->extraCount > 0
                               ? polymeshLoadMerged(&tool->model, p->approx, p->extra3df)
                               : polymeshLoad(&tool->model, name);
        if (loaded < 0) {
            msgText(9, kMsgMissingPolymesh, "* Error: Missing Polymesh file %s", p->approx);
            return fail(tool, -1);
        }
        if (polymeshBuildGrid(&tool->model) < 0) {
            msgLong(9, kMsgNoGrid, "* Fehler: Optimierungsliste kann nicht generiert werden", 0);
            return fail(tool, -1);
        }
        projB_set_params(tool->model.triangles, tool->model.boxMin, tool->model.boxMax, nullptr, p->oberfl,
                         p->tief, tool->model.intervalTest);
    }

    gRun.surfaces = idx5CreateSurfaceSet(&tool->model, pitch);
    if (!gRun.surfaces) return fail(tool, -1);
    gRun.grids = buildSurfaceSetGrids(gRun.surfaces);
    if (callAbortHook()) {
        msgLong(9, kMsgUserBreak, "* User canceled", 0);
        return fail(tool, -2);
    }
    // The channel region's side paths come next; without them no plunge row can be placed.
    msgLong(9, kMsgRegionPathsMissing, "* Error: region side paths not available", 0);
    return fail(tool, -1);
}

int loadCycleConfig(const char* cfgName) {
    double unit = 1.0;
    if (cfgName && !readCycleCfgFile(cfgName)) return kCycleConfigNoFile;
    const CycleParams* applied = cycleParamsApplied();
    if (applied->inchMode) unit = kCycleInchFactor;
    ncSetUnitFactor(unit);
    scaleLengthParams(unit);
    CycleParams* p = cycleParams();
    CycleNcCtx* nc = cycleNcCtx();
    if (p->toolCollCheck >= 1) {
        p->holdcheck = 1, p->collCheck5ax = 1, nc->collisionCheck = 1;
    } else if (p->toolCollCheck == 0) {
        p->holdcheck = 0, p->collCheck5ax = 0, nc->collisionCheck = 0;
    } else {
        p->toolCollCheck = 0;
    }
    setMessageAbort(nullptr);
    if (p->report[0]) setMessageLevel(nullptr, p->reportClass);
    mirrorFramesFromParams(p);
    if (initNcToolSystem() < 0) return kCycleConfigSetupFailed;
    framesScale(unit);
    return kCycleConfigOk;
}

int runPlungeCycle(const char* cfgName) {
    rngResetState();
    holderCheckResetState();
    avoidInstallHooks();
    freeCycleData(cycleToolCtx());
    int config = loadCycleConfig(cfgName);
    if (config == kCycleConfigNoFile) {
        // The library prints nothing of its own: the missing file goes to the host as a message.
        msgText(9, kMsgNoCfgFile, "* Error: Could not find CFG file %s", cfgName ? cfgName : "");
        return -1;
    }
    if (config < 0) {
        collrep_free();
        framePairFree();
        return -1;
    }
    CycleParams* p = cycleParams();
    linkSetPointCallbacks(ncPointOut, ncListBegin, ncListEnd);
    linkSetSectionCallbacks(33, ncSectionBegin, ncSectionEnd);
    linkSetAxisCallback(idx5SetPivotCallback);
    Vec3 start = v3(p->startpt);
    idx5SetScale(p->toolTip, cycleCutterShape()->cornerRadius - p->aufmassHori, &start);
    idx5ResetState();
    if (!p->apt[0]) std::strcpy(p->apt, "tmp.pof");
    idx5ResetState();
    ncWriteCycleHeader(cycleToolNcConfig());
    ncSetPlungeAngle(p->fredAngle);
    if (p->forceG1) {
        ncSetSpecialFeeds(0.0, 0.0, p->forceG1Fac * p->xvorschub);
        ncSetNoPlungeCheck(1);
    }
    if (p->sbs) ncSetSbsActive(1);
    int result = generatePlungePaths(cycleNcCtx(), cycleToolCtx());
    ncFinishCycle();
    if (p->sbs) ncSetSbsActive(0);
    linkClearPointCallbacks();
    collrep_print(p->holdcheckMode);
    collrep_free();
    framePairFree();
    return result;
}

int idx5Run(CycleRecord* record) {
    if (!record) return 1;
    ncSetWriter(defaultCycle());
    setAbortHook(idx5ModeCallback);
    Cyc3dParams* c = cyc3dParams(record);
    if (record->cfgMode != 1 && c) {
        Vec3 o = v3(c->frameCsO), x = v3(c->frameCsX), y = v3(c->frameCsY), z = v3(c->frameCsZ);
        frameSetB(&o, &x, &y, &z);
        o = v3(c->toolCsO), x = v3(c->toolCsX), y = v3(c->toolCsY), z = v3(c->toolCsZ);
        frameSetA(&o, &x, &y, &z);
        framesInit();
        if (c->geoSource) writeBoundaryFromGeometry(record);
        ncSetPointMode(c->ncFormat);
        if (c->frame) {
            ncSetVariable(record, "frame", c->frame);
            if (c->frameOn) ncSetVariable(record, "tr", "frameOn");
        }
    }
    int result = runPlungeCycle(nullptr);
    cyc3dSetStatus(record, result);
    if (record->cfgMode != 1 && c && c->frame) {
        if (c->frameOff) ncSetVariable(record, "tr", "frameOff");
        std::free(c->frame);
        c->frame = nullptr;
    }
    cyc3dRemoveTempFiles(record, cycleParams()->apt);
    return 1;
}

void plungeRunResetState() {
    freeCycleData(nullptr);
    // What a run installs in the other families.
    runSetupResetState();
    collrep_free();
    framePairFree();
    framesResetState();
    curve3DResetState();
    macroResetState();
    toolenvResetState();
    toolSegResetState();
    collAssemblyResetState();
    linkOutResetState();
    avoidTiltResetState();
}
