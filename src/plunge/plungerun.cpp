#include "plunge/plungerun.h"

#include <malloc.h>

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
#include "collision/meshquery.h"
#include "collision/meshset.h"
#include "collision/polymesh.h"
#include "collision/proj.h"
#include "collision/toolassembly.h"
#include "collision/toolenv.h"
#include "collision/toolseg.h"
#include "geometry/curve3d.h"
#include "geometry/frames.h"
#include "kernel/base/abort.h"
#include "kernel/base/msg.h"
#include "kernel/base/rng.h"
#include "kernel/cycle/cyc3d.h"
#include "kernel/cycle/cycle.h"
#include "kernel/ncout/ncemit.h"
#include "plunge/angleprof.h"
#include "plunge/bladecurves.h"
#include "plunge/chantrace.h"
#include "plunge/contourpair.h"
#include "plunge/cornerround.h"
#include "plunge/cutlist.h"
#include "plunge/edgecurve.h"
#include "plunge/hubcross.h"
#include "plunge/hubshroud.h"
#include "plunge/idx5.h"
#include "plunge/levelcurves.h"
#include "plunge/paramsense.h"
#include "plunge/partload.h"
#include "plunge/pathspace.h"
#include "plunge/plungeout.h"
#include "plunge/plungerows.h"
#include "plunge/regionpaths.h"
#include "plunge/revmeshmodel.h"
#include "plunge/surfset.h"
#include "plunge/tiltgeom.h"
#include "plunge/updown.h"
#include "surfaces/Implib/meshlib.h"
#include "surfaces/meshfiles/trisort.h"
#include "surfaces/polyimport.h"

namespace {

constexpr double kTol = 1e-5;

// The objects of one path generation; each null between runs.
struct RunObjects {
    HubShroud* pair;     // offset for the path
    HubShroud* hubCopy;  // hub with the hub allowance
    ContourPair* contours;
    LevelCurves* levels;
    MeshSet* blades;
    SurfaceSet* surfaces;
    SurfaceGrids* grids;
    PlistArray* sides;   // region side lists
    PlistArray* second;  // second region lists
    AngleProfile* angles;
    CutListSet* rows;
    Plist3DNode* edgeList;  // the blade's tip-edge contours on the hub
    MeshSet* edgeSet;       // meshes of those contours
    Profile2D* start;       // shroud profile of the plunge region
    CheckModel* part;       // part and tool model of the final check
    CheckModel* stock;
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

// A step whose own code sends nothing: the run still names where it ended. -1.
int stepFailed(const char* step) {
    msgText(9, kMsgStepFailed, "* Error: path generation failed at %s", step);
    return -1;
}

// The host's cancel between two steps of a run, with message 821 when it was asked. The signal word
// stays set for the rest of the run, so a step that stopped early on it is caught here too.
bool cancelled() {
    if (!callAbortHook()) return false;
    msgLong(9, kMsgUserBreak, "* User canceled", 0);
    return true;
}

// A step that failed: the run is cancelled when the host's cancel stands (the step may have stopped on
// it), else failed.
int failOrCancel(CycleToolCtx* tool) {
    return fail(tool, cancelled() ? kPlungeRunCancelled : kPlungeRunFailed);
}

// The meshes of the blade's tip-edge contours, for the tilt search's second test: null when a contour
// is missing or a list cannot be made.
MeshSet* edgeContourMeshes(const Plist3DNode* chain, int32_t withSecond, double pitch, double tol) {
    PlistArray* lists = plistArrayCreate(2);
    if (!lists) return nullptr;
    int32_t added = 0;
    for (const Plist3DNode* n = chain; n && added < 2; n = n->next, ++added) {
        const Plist3D* src = n->list;
        Plist* l = src ? plistCreate(src->count > 0 ? src->count : 1, 1) : nullptr;
        for (int32_t i = 0; l && i < src->count; ++i)
            if (plistAppend(l, src->param[i], &src->points[i], 0, nullptr, 0) < 0) {
                plistFree(l);
                l = nullptr;
            }
        const bool ok = l && plistArrayAdd(lists, l) >= 0;
        plistFree(l);
        if (!ok) break;
    }
    MeshSet* set = lists->count == 2 ? meshSetFromList(lists, withSecond, pitch, tol) : nullptr;
    plistArrayFree(lists);
    return set;
}

// The selection whose wire meshes could not be made, named: -1.
int reportMeshSetFailure(const CycleParams* p) {
    const auto readable = [](const char* name) {
        FILE* f = std::fopen(name, "rb");
        if (f) std::fclose(f);
        return f != nullptr;
    };
    if (p->splitKvx[0] && readable(p->bladeKvx) && !readable(p->splitKvx))
        msgText(9, kMsgNoSplitterMesh, "* Error: no Splitter Surfaces selected", p->splitKvx);
    else
        msgText(9, kMsgNoBladeMesh, "* Error: no Blade Surfaces selected", p->bladeKvx);
    return -1;
}

// The tool assembly's contour for the swing queries of the tilt search, from the named part contours
// or the tool's own dimensions. -1 (reported) when a named contour file cannot be read or no contour
// can be made: the search would otherwise pass a holder it cannot see.
int assemblyFromContours(CycleNcCtx* nc, const CycleParams* p) {
    const char* contours = p->toolContour[0] ? p->toolContour : nullptr;
    if (contours) {
        FILE* f = std::fopen(contours, "rb");
        if (!f) {
            msgText(9, kMsgAssemblyFailed, "* Error: tool contour file %s cannot be read", contours);
            return -1;
        }
        std::fclose(f);
    }
    const double edgeTol = std::fabs(p->edgeTol) >= kTol ? p->edgeTol : 2 * p->precision;
    const double contourTol = 0.5 * gRun.blades->meshes[0]->tolerance;
    // A shank narrower than the cutter (one not given among them) is taken as wide as the cutter less
    // the precision, as the search's own tool is: the description's own (for a shank not given, the
    // allowance step alone) would leave a needle above the cutter that no blade ever meets.
    ToolDescription tool = nc->tool;
    tool.shaftDiameter = std::max(tool.shaftDiameter, 2 * tool.radius - p->precision);
    if (!toolAssemblyCreate(&tool, contours, p->tolAngle, contourTol, edgeTol)) {
        msgText(9, kMsgAssemblyFailed, "* Error: tool assembly contour cannot be made",
                contours ? contours : "");
        return -1;
    }
    return 1;
}

int traceWall(CheckModel* model, const ContourPair* first, const ContourPair* second, const HubShroud* level,
              int32_t direction, Plist* out, const TriGrid* grid) {
    return traceChannelCurve(model, first, second, level, direction, out, grid);
}

// The wall a side path was traced against, for the guard of its corner rounding.
struct WallGuard {
    const CheckModel* model;
    const TriGrid* grid;
    int32_t direction;
    double allowed;
};

int wallClear(const Vec3* point, const void* context) {
    const auto* w = static_cast<const WallGuard*>(context);
    return channelBallClear(w->model, w->grid, w->direction, point, w->allowed) == 1 ? 1 : 0;
}

bool cutKind(const Plist* path, int32_t i, int skipKind2) {
    const int kind = path->flags[i] >> 8;
    return kind != 3 && !(skipKind2 && kind == 2);
}

int32_t cutPointCount(const Plist* path) {
    int32_t n = 0;
    for (int32_t i = 0; path && i < path->count; ++i) n += cutKind(path, i, 1);
    return n;
}

// The channel region: side paths, rolling passes, rounding, spacing, tilt search and plunge rows.
// 1, or the driver's result (already reported).
int regionPaths(CycleNcCtx* nc, CycleToolCtx* tool, double pitch, int32_t strategy, double radius) {
    CycleParams* p = cycleParams();
    const double tol = tool->model.tolerance;
    if (cancelled()) return kPlungeRunCancelled;
    HubShroud* level = gRun.levels->curves[0];
    if (tool->model.tool && tool->model.tool->toolType != 1 &&
        offsetProfile2D(level, p->frbogen - p->frradius) < 0)
        return stepFailed("level offset");
    gRun.sides = plistArrayCreate(10);
    gRun.second = plistArrayCreate(10);
    if (!gRun.sides || !gRun.second) {
        msgLong(9, kMsgNoMemory, "* Error: no memory for NC-points", 0);
        return -1;
    }
    SurfaceSet* set = gRun.surfaces;
    CheckModel* splitter = set->slot[1];
    double splitterAngle = 0.5 * pitch;
    if (splitter && p->bladeCount > 2) {
        double angle = splitterAngle;
        if (splitterHubAngle(splitter, level, gRun.contours, 0.0, &angle) > 0) splitterAngle = angle;
    }
    // The edge curve reads models and grids by slot; the grids come in the order blade, turned, splitter.
    CheckModel* models[3] = {set->slot[0], set->slot[1], set->slot[2]};
    const TriGrid* grids[3] = {gRun.grids ? gRun.grids->grid[0] : nullptr,
                               gRun.grids ? gRun.grids->grid[2] : nullptr,
                               gRun.grids ? gRun.grids->grid[1] : nullptr};
    const RegionPathInputs in{gRun.levels,   gRun.pair,        models,   grids,
                              gRun.contours, splitter ? 1 : 0, traceWall};
    int rc = buildRegionPaths(gRun.sides, 0, &in, pitch, splitterAngle, tol);
    if (rc < 0 && callAbortHook()) return kPlungeRunCancelled;  // the tracing sent 821
    if (rc < 0) {
        if (rc == -3)
            msgLong(9, kMsgPathsIntersect, "* Pathes intersect", 0);
        else
            msgLong(9, kMsgNoMemory, "* Error: no memory for NC-points", 0);
        return -1;
    }
    if (strategy == 1 && !p->extendCorner) {
        cutPathsAtLevel(gRun.sides, level, gRun.levels->params[0]);
    } else if (strategy == 2 && !p->extendCorner) {
        cutPathsAtShroud(gRun.sides, gRun.pair);
    }
    angleProfInit(gRun.angles, gRun.sides);
    // The lead at the main blade's leading edge must not turn the tool into the blade's edge.
    if (gRun.hubFinishing && p->leadCorrect && p->edgerollingLead > 0 && !p->impReverse)
        correctUpDownAngles(gRun.angles, gRun.sides, level, &nc->tool, gRun.blades, gRun.contours,
                            gRun.angles->table2.angle);
    const int splitterCase = splitter && !regionFirstPathEmpty(gRun.sides) ? 1 : 0;
    msgTwoLongs(9, kMsgCollRegion, "* Collregion %d/%d", 1, 1);
    if (gRun.sides->count < 4) return stepFailed("side paths");
    Plist** l = gRun.sides->lists;
    linkAcrossBlade(l[0], l[3], pitch);
    if (p->edgerollingLead == 0) edgeRollingPass(gRun.sides, gRun.contours, radius, -1, 0, pitch);
    if (splitterCase) {
        linkSidePaths(l[1], l[2]);
        resetSplitterKinds(gRun.sides);
    }
    if (p->edgerollingTrail == 0 || (strategy != 1 && !p->extendCorner &&
                                     pathsEndClearOfShroud(gRun.sides, gRun.pair, splitterCase) == 1))
        edgeRollingPass(gRun.sides, gRun.contours, radius, 1, splitterCase, pitch);
    extendSidePaths(gRun.sides, p->extLead, p->extTrail);
    if (!regionSidesUsable(gRun.sides)) return 1;
    if (std::fabs(p->filletTol) >= kTol) {
        // Nothing after the rounding measures the ball against the blades again: a corner whose
        // rounding would take the ball deeper into its wall than the tracing's tolerance stays sharp.
        for (const int32_t side : {0, 3}) {
            EdgeWalls w{};
            if (edgeCurveWalls(side, pitch, splitterAngle, splitter ? 1 : 0, &w) != 1 || w.slot < 0 ||
                w.slot > 2 || !models[w.slot])
                return stepFailed("side walls");
            const WallGuard wall{models[w.slot], grids[w.slot], w.direction, tol};
            const CornerGuard guard{wallClear, &wall};
            plistProcessRuns(l[side], p->filletAngle, p->filletTol, &guard);
        }
    }
    for (int32_t i = 0; i < gRun.sides->count; ++i) {
        if (cancelled()) return kPlungeRunCancelled;
        writeCutRangePolyline(gRun.sides->lists[i], 1);
    }
    double distance = 0.0;
    rc = minPathDistance(gRun.sides, &distance);
    if (splitterCase && rc < 0) {
        repairPathDistance(gRun.hubCopy->hub, gRun.sides);
        rc = minPathDistance(gRun.sides, &distance);
    }
    if (rc < 0 || (splitterCase && repairInnerPathStarts(gRun.sides) < 0)) {
        msgLong(9, kMsgPathsIntersect, "* Pathes intersect", 0);
        return -1;
    }
    if (rc != 0) msgDouble(9, kMsgPathDistance, "* Minimal Path distance = %f", distance);
    rc = segmentsUpDown(gRun.sides, gRun.angles, level, &nc->tool, gRun.blades,
                        p->bladePrf[0] ? nullptr : gRun.edgeSet);
    // A query that stopped on the cancel may have failed the search: that is the break too.
    if (rc == kUpDownUserBreak || (rc < 0 && callAbortHook())) {
        msgLong(9, kMsgUserBreak, "* Info: User break", 0);
        return kPlungeRunCancelled;
    }
    if (rc == kUpDownQueryFailed) return kPlungeRunFailed;  // reported where it failed
    if (rc == kUpDownNoMemory) {
        msgLong(9, kMsgNoMemory, "* Error: no memory for NC-points", 0);
        return kPlungeRunFailed;
    }
    if (rc < 0) {
        if (p->toolCollCheck == 0)
            msgLong(9, kMsgNoFreeTilt, "* Error: no collision free inclination possible", 0);
        else if (collrep_check(p->holdcheckMode) <= 0)
            msgLong(9, kMsgNoFreeTilt, "* Tool holder Collision", 0);
        // Nothing was cancelled: a run without a free tilt has failed.
        return kPlungeRunFailed;
    }
    if (cancelled()) return kPlungeRunCancelled;
    if (buildSecondRegionLists(gRun.second, gRun.sides, gRun.hubCopy) < 0) {
        msgLong(9, kMsgUserBreak, "* User canceled", 0);
        return -2;
    }
    HubShroud* fresh = loadHubShroud(tol);
    if (fresh) gRun.start = profile2DOffset(fresh->shroud, p->macroSabst);
    freeHubShroud(fresh);
    if (gRun.start) gRun.rows = buildPlungeRows(gRun.sides, gRun.second, gRun.start, p->plungeStep);
    if (!gRun.rows) {
        msgLong(9, kMsgUserBreak, "* User canceled", 0);
        return -2;
    }
    // The stations between the side lists take axes blended from theirs: each is measured and held
    // clear of the blades before the wire meshes go.
    const int cleared = plungeRowsClearAxes(gRun.rows, gRun.sides, gRun.start, &nc->tool, gRun.blades);
    if (cleared == -2) {
        msgLong(9, kMsgUserBreak, "* User canceled", 0);
        return -2;
    }
    if (cleared < 0) {
        msgLong(9, kMsgNoFreeTilt, "* Error: no collision free inclination possible", 0);
        return kPlungeRunFailed;
    }
    // Rows that stop short leave the rest of the channel uncut: not a run to report as done.
    if (!plungeRowsReachEnd(gRun.rows, gRun.sides, p->plungeStep)) {
        const double reached = gRun.rows->count > 0 ? gRun.rows->values[gRun.rows->count - 1] : 0.0;
        msgDouble(9, kMsgRowsShort, "* Plunge rows end short of the channel's end at %f", reached);
        return kPlungeRunFailed;
    }
    return 1;
}

// Allowance, part model, assembly check, stock, the plunge points and the end of the paths: 1 or -1.
int outputPaths(CycleNcCtx* nc, CycleToolCtx* tool) {
    CycleParams* p = cycleParams();
    const double allowance = std::min(p->aufmassHub, p->aufmassHori);
    if (allowance < 0) checkToolGeom(tool->model.tool, allowance, p->toolTip);
    CheckModel* splitter = gRun.surfaces->slot[1];
    if (splitter && splitter->tool && tool->model.tool) *splitter->tool = *tool->model.tool;

    nc->outputStarted = 1;
    msgLong(9, kMsgGeneration, "* Generation of cutterpathes", 0);
    meshSetNoRefine(1);
    extendProfile2D(gRun.pair->hub, p->extLead + 1.0);
    if (std::fabs(p->macroLrad) >= kTol) {
        nc->macro.approachType = nc->macro.leaveType = 21;
        nc->macro.approachDistance = nc->macro.leaveDistance = p->macroLrad;
    }
    p->extLead = p->extTrail = 0.0;

    // The tilt search's wire meshes and the tracing's blade grids are done with: their memory goes
    // before the part model is built on top of it.
    meshSetFree(gRun.blades);
    meshSetFree(gRun.edgeSet);
    freeSurfaceSetGrids(gRun.grids);
    gRun.blades = gRun.edgeSet = nullptr;
    gRun.grids = nullptr;
    gRun.part = idx5BuildPartModel(&tool->model, gRun.surfaces);
    if (cancelled()) return kPlungeRunCancelled;
    if (!gRun.part) {
        msgLong(9, kMsgNoMemory, "* Error: no memory for NC-points", 0);
        return kPlungeRunFailed;
    }
    // The blade slots live on in the part model: their memory goes before the output builds its hub
    // models.
    const int32_t withSplitter = splitter ? 1 : 0;
    freeSurfaceSet(gRun.surfaces);
    gRun.surfaces = nullptr;
    malloc_trim(0);  // the grids were many small blocks: hand their pages back before the big models
    if (!p->pofcheckModel[0] && p->toolLengthReduce) checkModelPathInTmp(p->pofcheckModel);
    // The assembly check reads the model back from this file: without it that check would meet an
    // older model, or none.
    if (p->pofcheckModel[0] && revMeshWrite(gRun.part, p->modelprecision, p->pofcheckModel) < 0) {
        msgText(9, kMsgAssemblyFailed, "* Error: check model file %s cannot be written", p->pofcheckModel);
        return kPlungeRunFailed;
    }
    if (p->toolCollCheck) {
        CollSetup names;
        collPartNames(&names);
        // Without its models the assembly check would pass every position unseen.
        if (coll_setup_assembly(gRun.part, &nc->tool, 0, &names) < 0) {
            msgText(9, kMsgAssemblyFailed, "* Error: tool assembly collision models cannot be built",
                    p->pofcheckModel);
            return kPlungeRunFailed;
        }
    }
    if (cancelled()) return kPlungeRunCancelled;
    chkModelOffsetTool(gRun.part, p->shaftAllowance);
    macroSetLinkMode(1);
    if (p->stock3df[0]) {
        gRun.stock = polymeshLoadWithGrid(p->stock3df, gRun.part, 0.0);
        if (!gRun.stock) {
            msgText(9, kMsgMissingPolymesh, "* Error: Missing Polymesh file %s", p->stock3df);
            return kPlungeRunFailed;
        }
    }
    int rc = plungePointsOutput(nc, gRun.part, gRun.rows, gRun.start, gRun.sides, gRun.levels, gRun.stock,
                                withSplitter, gRun.hubCopy);
    // A cancel seen inside the output ended it: no retract follows the last plunge that went out.
    if (cancelled()) return kPlungeRunCancelled;
    if (rc == kLinkOutputFailed) return stepFailed("NC output");
    if (rc < 0) return kPlungeRunFailed;  // reported
    LinkContext link;
    linkContextFromCycle(nc, &link);
    rc = linkEndPathFlush(&link, gRun.part);
    if (rc < 0 && cancelled()) return kPlungeRunCancelled;
    if (rc == kLinkOutputFailed) return stepFailed("NC output");
    if (rc < 0) return kPlungeRunFailed;
    if (p->sbs) ncSbsToggle(0);
    return 1;
}

}  // namespace

int regionFirstPathEmpty(const PlistArray* regionLists) {
    if (!regionLists || regionLists->count < 1) return 1;
    return cutPointCount(regionLists->lists[0]) == 0 ? 1 : 0;
}

int regionSidesUsable(const PlistArray* regionLists) {
    if (!regionLists || regionLists->count < 4) return 0;
    return cutPointCount(regionLists->lists[0]) > 2 && cutPointCount(regionLists->lists[3]) > 2 ? 1 : 0;
}

int writeCutRangePolyline(const Plist* path, int skipKind2) {
    if (!path) return -1;
    int32_t first = 0, last = path->count - 1;
    while (first <= last && !cutKind(path, first, skipKind2)) ++first;
    while (last >= first && !cutKind(path, last, skipKind2)) --last;
    if (first > last) return 0;
    return ncWritePolyline(path->points + first, last - first + 1, "", "", "");
}

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
    meshLibKeepConversions(0);
    meshSortKeepOrders(0);
    if (tool) polymeshFree(&tool->model);
    freeHubShroud(gRun.pair);
    freeHubShroud(gRun.hubCopy);
    freeContourPair(gRun.contours);
    freeLevelCurves(gRun.levels);
    meshSetFree(gRun.blades);
    freeSurfaceSetGrids(gRun.grids);
    freeSurfaceSet(gRun.surfaces);
    plistArrayFree(gRun.sides);
    plistArrayFree(gRun.second);
    angleProfFree(gRun.angles);
    cutListSetFree(gRun.rows);
    freePlist3DChain(gRun.edgeList);
    meshSetFree(gRun.edgeSet);
    freeProfile2D(gRun.start);
    revMeshFree(gRun.part);
    polymeshDelete(gRun.stock);
    toolAssemblyFree();
    if (cycleParams()->toolCollCheck) coll_free_models();
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

    // A cancel may stand from before the run: the host asked and clears it itself.
    if (cancelled()) return kPlungeRunCancelled;
    gRun.pair = loadHubShroud(tol);
    if (!gRun.pair) return failOrCancel(tool);
    // The wire meshes and the blade slots convert the same selections at the same tolerance, and load
    // the same files.
    meshLibKeepConversions(1);
    meshSortKeepOrders(1);
    gRun.blades = p->rotOpt == 0 ? meshSetFromFile(p->bladeKvx, p->splitKvx, pitch, p->precision)
                                 : meshSetFromSurfaces(p->bladeKvx, p->splitKvx, pitch, p->precision, radius);
    if (cancelled()) return fail(tool, kPlungeRunCancelled);
    // Without its meshes the tilt search could only fail, and would blame the tilt.
    if (!gRun.blades) return fail(tool, reportMeshSetFailure(p));
    if (p->useFreeHolder && assemblyFromContours(nc, p) < 0) return fail(tool, -1);
    gRun.contours = loadBladeContours(gRun.pair->hub, tol);
    if (cancelled()) return fail(tool, kPlungeRunCancelled);
    if (!gRun.contours) {
        msgLong(9, kMsgNoProfileCurve, "* No Profil curve selected", 0);
        return fail(tool, -1);
    }

    // The meridional curves: the hub copy keeps the hub allowance only, the working pair is the
    // path of the tool centre.
    gRun.hubCopy = copyHubShroud(gRun.pair);
    if (!gRun.hubCopy || offsetProfile2D(gRun.hubCopy, p->aufmassHub) < 0)
        return fail(tool, stepFailed("hub and shroud offsets"));
    if (offsetProfile2D(gRun.pair, p->aufmassHub + p->frradius) < 0 ||
        offsetShroudProfile2D(gRun.pair, p->frradius) < 0 ||
        offsetShroudProfile2D(gRun.pair, -p->shroudOffset) < 0)
        return fail(tool, stepFailed("hub and shroud offsets"));
    double depth = std::max(0.0, p->shroudDepth - p->shroudOffset);
    int32_t strategy = p->shroudStrategy == 1 && p->stepFlow == 0 ? 2 : p->stepStrategy;
    if (p->stepStrategy == 0) depth = p->aufmassHub > kTol ? p->hubOffset - p->aufmassHub : p->hubOffset;

    const double height = channelHeight(gRun.pair);
    if (height < p->vertzustel) p->vertzustel = height;
    gRun.levels = buildLevelCurves(gRun.pair, p->vertzustel, strategy, depth);
    if (!gRun.levels)
        return cancelled() ? fail(tool, kPlungeRunCancelled) : fail(tool, stepFailed("level curves"));
    if (p->stepStrategy == 1) {
        HubShroud* band = shroudBand(gRun.pair, -p->shroudDepth);
        if (!band) return fail(tool, stepFailed("shroud band"));
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

    if (cancelled()) return fail(tool, kPlungeRunCancelled);
    // This cycle never reads the slots' plan grids: the tracing and the output build their own.
    surfSetPlanGrids(0);
    gRun.surfaces = idx5CreateSurfaceSet(&tool->model, pitch);
    surfSetPlanGrids(1);
    meshLibKeepConversions(0);
    meshSortKeepOrders(0);
    if (!gRun.surfaces) return failOrCancel(tool);
    if (cancelled()) return fail(tool, kPlungeRunCancelled);
    gRun.grids = buildSurfaceSetGrids(gRun.surfaces, radius);
    if (cancelled()) return fail(tool, kPlungeRunCancelled);
    gRun.angles = angleProfCreate();
    if (!gRun.angles) {
        msgLong(9, kMsgNoMemory, "* Error: no memory for NC-points", 0);
        return fail(tool, -1);
    }
    if (prepareBladeContours(gRun.contours, std::max(12 * radius, std::max(p->extLead, p->extTrail))) < 0 ||
        normContourPairParams(gRun.contours) < 0)
        return fail(tool, stepFailed("blade contours"));
    gRun.edgeList = idx5BladeContourList(gRun.hubCopy->hub, tol, 0);
    if (gRun.edgeList) gRun.edgeSet = edgeContourMeshes(gRun.edgeList, gRun.polymesh, pitch, p->precision);
    const int region = regionPaths(nc, tool, pitch, strategy, radius);
    if (region != 1) return fail(tool, region);
    if (cancelled()) return fail(tool, kPlungeRunCancelled);
    const int out = outputPaths(nc, tool);
    return fail(tool, out < 0 ? out : 1);
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
    // A value without sense (nan, inf, 1e300, a zero step) would run on into NaN moves or endless loops.
    if (paramSenseCheck(p, applied) < 0) return kCycleConfigSetupFailed;
    mirrorFramesFromParams(p);
    if (initNcToolSystem() < 0) return kCycleConfigSetupFailed;
    framesScale(unit);
    return kCycleConfigOk;
}

int runPlungeCycle(const char* cfgName) {
    msgClearReason();
    rngResetState();
    holderCheckResetState();
    avoidTiltResetState();  // its once-per-run notes start afresh
    // The tilt search leaves its query mode set, and the assembly takes its near-tip height from it.
    toolSegResetState();
    avoidInstallHooks();
    plungeOutResetState();  // the count of plunges without a departure is the run's own
    bladeCurvesResetState();
    toolAssemblyResetState();  // the allowances of an earlier run's assembly go with it
    meshSetNoRefine(0);
    freeCycleData(cycleToolCtx());
    int config = loadCycleConfig(cfgName);
    if (config == kCycleConfigNoFile) {
        // The library prints nothing of its own: the missing file goes to the host as a message.
        msgText(9, kMsgNoCfgFile, "* Error: Could not find CFG file %s", cfgName ? cfgName : "");
        msgSendDroppedReason();
        return -1;
    }
    if (config < 0) {
        msgSendDroppedReason();
        collrep_free();
        framePairFree();
        return -1;
    }
    CycleParams* p = cycleParams();
    // The mesh sets convert exchange files through "tmp.3df": in the run's temporary folder.
    meshSetSetFolders(p->tmpDir, dllDirParam());
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
    // A failure reaches the host with its reason whatever the message level; the report comes after.
    if (result == kPlungeRunFailed) msgSendDroppedReason();
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
    // A parameter-file run applies no words: it runs with the defaults, never with an earlier run's words.
    if (record->cfgMode != 1) cycleParamsResetState();
    ncSetWriter(&kvIdx5);  // the default record
    setAbortHook(idx5ModeCallback);
    Cyc3dParams* c = cyc3dParams(record);
    // The frame is the process's: an earlier run's must not move this run's imports.
    polyFrameReset();
    if (record->cfgMode != 1 && c) {
        Vec3 o = v3(c->polyCsO), x = v3(c->polyCsX), y = v3(c->polyCsY), z = v3(c->polyCsZ);
        setPolyFrame(&o, &x, &y, &z);
        o = v3(c->frameCsO), x = v3(c->frameCsX), y = v3(c->frameCsY), z = v3(c->frameCsZ);
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
    int result;
    try {
        result = runPlungeCycle(nullptr);
    } catch (...) {
        // The kernel reports the fault and fails the run; what the run made is freed here.
        plungeRunResetState();
        throw;
    }
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
    surfSetResetState();
    curve3DResetState();
    macroResetState();
    toolenvResetState();
    toolSegResetState();
    toolAssemblyResetState();
    collAssemblyResetState();
    linkOutResetState();
    avoidTiltResetState();
    plungeOutResetState();
    bladeCurvesResetState();
    meshSetNoRefine(0);
}
