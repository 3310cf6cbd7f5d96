#include "avoidance/links.h"

#include <algorithm>
#include <cmath>

#include "avoidance/approach.h"
#include "avoidance/avoidtilt.h"
#include "avoidance/linkout.h"
#include "collision/chkmodel.h"
#include "collision/meshquery.h"
#include "collision/plunge.h"
#include "collision/proj.h"
#include "geometry/axesinterp.h"
#include "geometry/curve3d.h"
#include "geometry/frames.h"
#include "kernel/base/abort.h"
#include "kernel/base/runreset.h"
#include "kernel/cycle/cycle.h"
#include "kernel/base/msg.h"
#include "kernel/base/rng.h"
#include "kernel/ncout/ncout.h"

namespace {

constexpr double kTol = 1e-5;
constexpr double kSamePoint = 0.001;
constexpr double kMaxLift = 1000.0;

struct {
    LinkSectionHook begin = nullptr;
    LinkSectionHook end = nullptr;
    int32_t randomThin = 0;
} gLinks;

int sectionBegin(int32_t code) {
    return gLinks.begin ? gLinks.begin(code, 0.0, 0.0) : ncSectionBegin(code, 0.0, 0.0);
}

int sectionEnd(int32_t code) {
    return gLinks.end ? gLinks.end(code, 0.0, 0.0) : ncSectionEnd(code, 0.0, 0.0);
}

Vec3 add(const Vec3& p, double h, const Vec3& a) {
    return {p.x + h * a.x, p.y + h * a.y, p.z + h * a.z};
}

bool within(const Vec3& a, const Vec3& b, double tol) {
    return std::fabs(a.x - b.x) < tol && std::fabs(a.y - b.y) < tol && std::fabs(a.z - b.z) < tol;
}

// a turned towards b by the fraction f of the angle between them.
Vec3 turn(const Vec3& a, const Vec3& b, double f) {
    Vec3 out = a;
    const double angle = acosClamped(vecDot3D(&a, &b) / std::max(vecLen3D(&a) * vecLen3D(&b), 1e-300));
    if (angle > 1e-12 && vecRotateToward3D(&out, &a, &b, f * angle) < 0) out = a;
    return out;
}

uint8_t kindOf(const Plist* l, int32_t i) {
    return static_cast<uint8_t>(l->flags[i] >> 8);
}

void setKind(Plist* l, int32_t i, uint8_t kind) {
    l->flags[i] = static_cast<uint16_t>((l->flags[i] & 0xff) | (kind << 8));
}

bool classD(const Plist* l, int32_t i) {
    return (l->flags[i] & 0xff) == 'd';
}

// Nearest neighbour in direction dir whose kind is not in the two given; -1 for none.
int32_t neighbour(const Plist* l, int32_t i, int dir, uint8_t skipA, uint8_t skipB) {
    for (int32_t j = i + dir; j >= 0 && j < l->count; j += dir)
        if (kindOf(l, j) != skipA && kindOf(l, j) != skipB) return j;
    return -1;
}

bool hasTriangles(const CheckModel* m) {
    return m && !chkModelIsEmpty(m);
}

// The tool placed along the profile on the model, with the plunge flag cleared around it.
int placeAlong(CheckModel* m, ProfileCurve* profile, Plist* list) {
    const int32_t saved = get_plunge_flag();
    set_plunge_flag(0);
    m->plungeProfile = profile;
    const int r = plunge_along_profile(m, list);
    m->plungeProfile = nullptr;
    set_plunge_flag(saved);
    return r;
}

// Every point back onto the curve at its parameter.
void evalOnProfile(Plist* list, const ProfileCurve* profile) {
    for (int32_t i = 0; i < list->count; ++i) {
        Vec2 q{};
        double z = list->points[i].z;
        if (profileEval(profile, list->parameters[i], &q, &z) >= 0) list->points[i] = {q.x, q.y, z};
    }
}

Plist* listFor(const ProfileCurve* profile, double step, int withVectors) {
    const double n = std::fabs(profileLength3D(profile)) / step;
    Plist* list = plistCreate(n < double(kPlistMaxPoints) ? static_cast<int32_t>(n) + 10 : kPlistMaxPoints,
                              withVectors);
    // Short of memory a list may come without the vectors asked for; the links write every point's axis.
    if (list && withVectors && !list->vectors) {
        plistFree(list);
        return nullptr;
    }
    return list;
}

// A clone of the model whose tool is at least as wide as half its diameter.
CheckModel* grownClone(const CheckModel* m) {
    CheckModel* c = chkModelClone(m);
    if (!c || !c->tool) return c;
    const double half = c->tool->size2 / 2.0;
    if (half > c->tool->radius + kTol) chkModelOffsetTool(c, half - c->tool->radius);
    return c;
}

// Placement of the horizontal line from A to B at height z on a grown clone; the list, or none.
Plist* placeLine(const Vec3& A, const Vec3& B, double z, CheckModel* clone) {
    const Vec3 a = {A.x, A.y, z}, b = {B.x, B.y, z};
    ProfileCurve* prof = profileLine(&a, &b);
    if (!prof) return nullptr;
    Plist* list = clone->tolerance > 0 ? listFor(prof, clone->tolerance, 0) : nullptr;
    if (list && placeAlong(clone, prof, list) < 0) {
        plistFree(list);
        list = nullptr;
    }
    if (list && chkModelIsEmpty(clone)) evalOnProfile(list, prof);
    profileFreeList(prof);
    return list;
}

}  // namespace

void linkSetSectionHooks(LinkSectionHook begin, LinkSectionHook end) {
    gLinks.begin = begin;
    gLinks.end = end;
}

void linkSetRandomThinning(int32_t on) {
    gLinks.randomThin = on;
}

void linksResetState() {
    gLinks = {};
}
static const RunReset gRunReset(kRunResetAvoidance, "links", linksResetState);

int linkSegmentFree(const Vec3* a1, const Vec3* a2, const LinkContext* ctx, CheckModel* model, const Vec3* E,
                    const Vec3* F) {
    if (!hasTriangles(model) || !E || !F || !a1 || !a2) return 1;
    const double L = dist3D(E, F), s = model->stepLength;
    if (L < kTol) return 1;
    if (!(s > 0)) return 0;  // no sampling step: nothing can be shown free
    const double length = ctx ? ctx->totalToolLength : 0.0;
    for (double t = 0.0; t < L + s - kTol; t += s) {
        // A column up to a far clearance plane has no end worth waiting for: the host may stop it.
        if (callAbortHook()) return 0;
        const double u = std::min(t, L) / L;
        Vec3 p = {E->x + u * (F->x - E->x), E->y + u * (F->y - E->y), E->z + u * (F->z - E->z)};
        Vec3 d = turn(*a1, *a2, u);
        d = {-d.x, -d.y, -d.z};
        double lift = 0.0;
        Vec3 contact{};
        if (chkModelPath(model, nullptr, 0, &p, &d, length, &lift, &contact) > 0 && lift > kTol) return 0;
    }
    return 1;
}

int linkJumpLift(const Vec3* P, const Vec3* T, const Vec3* aP, const Vec3* aT, const LinkContext* ctx,
                 double* lift, int32_t linkType, CheckModel* model) {
    if (!P || !T || !aP || !aT || !ctx || !lift) return -1;
    *lift = 0.0;
    const double s = model ? model->stepLength : 0.0;
    // Without a model every lift is free; without a positive step no lift beyond 0 can be tried.
    for (int32_t k = 0;; ++k) {
        const double h = k * s;
        if (h >= kMaxLift || (k > 0 && !(s > 0))) return -1;
        if (callAbortHook()) return kLinkCancelled;
        *lift = h;
        const Vec3 pl = add(*P, h, *aP), tl = add(*T, h, *aT);
        const double z = linkType == 0 ? ctx->clearancePlane : std::max(pl.z, tl.z);
        const Vec3 pTop = {pl.x, pl.y, z}, tTop = {tl.x, tl.y, z};
        if (!(linkType != 0 && tl.z <= pl.z) && !linkSegmentFree(aP, aP, ctx, model, &pl, &pTop)) continue;
        if (!(linkType != 0 && pl.z <= tl.z) && !linkSegmentFree(aT, aT, ctx, model, &tl, &tTop)) continue;
        if (!linkSegmentFree(aP, aT, ctx, model, &pTop, &tTop)) continue;
        return 1;
    }
}

int linkAxisBlendMove(const Vec3* aFrom, const Vec3* aTo, double step, const Vec3* E, const Vec3* F) {
    if (!aFrom || !aTo || !E || !F) return 0;
    const double L = dist3D(E, F);
    if (!(step <= L) || std::fabs(step) < kTol) return 0;
    const int32_t n = static_cast<int32_t>(L / step) + 1;
    for (int32_t i = 1; i < n; ++i) {
        const double f = double(i) / n;
        const Vec3 p = {E->x + f * (F->x - E->x), E->y + f * (F->y - E->y), E->z + f * (F->z - E->z)};
        const Vec3 a = turn(*aFrom, *aTo, f);
        linkSetToolAxis(&a);
        const int r = linkEmitPosition(&p, kLinkClassFeed);
        if (r < 0) return r;
    }
    return 1;
}

namespace {

int retractApproach(const LinkContext* ctx, const Vec3* T, double h) {
    Vec3 cur, next, last;
    linkToolAxis(&cur);
    linkNextToolAxis(&next);
    const Vec3 A = add(*T, ctx->safetyDistance, next);
    const int32_t c = ctx->forceG1 ? kLinkClassFeed : kLinkClassPosition;
    if (ctx->forceG1) ncInfeedFeed(1);
    const bool emitted = linkEmitted() != 0;
    const Vec3 top = {A.x, A.y, h};
    if (emitted) {
        linkLastPoint(&last);
        const Vec3 R = {last.x, last.y, h};
        if (linkEmitPosition(&R, c) < 0) return kLinkOutputFailed;
        if (ctx->forceG1) linkAxisBlendMove(&cur, &next, ctx->forceG1Step, &R, &top);
    }
    linkSetToolAxis(&next);
    if (linkEmitPosition(&top, c) < 0) return kLinkOutputFailed;
    if (ctx->forceG1) linkAxisBlendMove(&next, &next, ctx->forceG1Step, &top, &A);
    if (linkEmitPosition(&A, c) < 0) return kLinkOutputFailed;
    if (ctx->forceG1) ncInfeedFeed(0);
    linkLastPoint(&last);
    bool pushed = false;
    if (ctx->retractFeed >= kTol && !within(last, *T, kSamePoint))
        pushed = ncSetFeed(ctx->retractFeed, kLinkFeedAliasRetract) > 0;
    const int e = linkEmitPosition(T, kLinkClassFeed);
    if (pushed) ncSetFeedFromKernel();
    return e < 0 ? kLinkOutputFailed : 0;
}

}  // namespace

int linkRetractApproach(const LinkContext* ctx, CheckModel* model, const Vec3* T, double h, double o) {
    // The model and the radial offset serve only the retract check and the radial links, which nothing
    // switches on.
    (void)model;
    (void)o;
    if (!ctx || !T) return -1;
    if (ctx->radialMode) return -1;  // the radial links are not part of this library
    const int32_t savedForce = ncIsInfeedFeedForced();
    ncForceInfeedFeed(0);
    sectionBegin(kLinkSectionLink);
    const int r = retractApproach(ctx, T, h);
    // Closed and restored on an output failure too: the NC output must not be left inside the link.
    if (r < 0 && ctx->forceG1) ncInfeedFeed(0);
    sectionEnd(kLinkSectionLink);
    ncForceInfeedFeed(savedForce);
    return r;
}

int linkTravelHeightLine(const Vec3* A, const Vec3* B, const LinkContext* ctx, CheckModel* model, double* h) {
    if (!A || !B || !ctx || !model || !model->tool || !h) return -4;
    const ToolGeom& t = *model->tool;
    const double o = t.toolType == kBallMill ? t.radius : t.toolType == kRadiusMill ? t.cornerRadius : 0.0;
    *h = std::max(A->z, B->z);
    CheckModel* clone = grownClone(model);
    if (!clone) return -4;
    Plist* list = placeLine(*A, *B, *h, clone);
    chkModelFree(clone);
    if (!list) return -4;
    for (int32_t i = 0; i < list->count; ++i) *h = std::max(*h, list->points[i].z + o + ctx->safetyDistance);
    plistFree(list);
    return 0;
}

int linkTravelLiftPlane(const Vec3* A, const Vec3* B, const LinkContext* ctx, CheckModel* model,
                        double* lift) {
    if (!lift) return -4;
    *lift = 0.0;
    if (!A || !B || !ctx || !model || !model->tool) return -4;
    const double z0 = ctx->clearancePlane - ctx->safetyDistance;
    CheckModel* clone = grownClone(model);
    if (!clone) return -4;
    Plist* list = placeLine(*A, *B, z0, clone);
    chkModelFree(clone);
    if (!list) return -4;
    double top = 0.0;
    for (int32_t i = 0; i < list->count; ++i) {
        top = std::max(top, list->points[i].z - z0);
        setKind(list, i, kPointOrdinary);
    }
    plistFree(list);
    *lift = std::max(0.0, top - model->tool->spare);
    return *lift >= kTol ? 1 : 0;
}

int linkCheckedMove(ProfileCurve* curve, const LinkContext* ctx, CheckModel* model) {
    if (!curve || !ctx || !model || !model->tool || !(model->tolerance > 0)) return -1;
    CheckModel work = *model;  // the tool stays shared
    work.plungeIntervals = nullptr;
    Plist* list = listFor(curve, work.tolerance, 1);
    if (!list) return -1;
    if (std::fabs(profileLength3D(curve)) < 2.0 * work.stepLength && 50.0 * work.tolerance < work.stepLength)
        work.stepLength = 50.0 * work.tolerance;
    if (placeAlong(&work, curve, list) < 0) {
        plistFree(list);
        return -1;
    }
    if (ctx->pathMode) evalOnProfile(list, curve);
    for (int32_t i = 0; i < list->count; ++i)
        if (kindOf(list, i) == kPointLink) setKind(list, i, kPointOrdinary);
    const int32_t n = list->count;
    if (n > 0) {
        Vec3 cur, next;
        linkToolAxis(&cur);
        linkNextToolAxis(&next);
        list->vectors[0] = cur;
        list->vectors[n - 1] = next;
        if (n > 2) axesInterpRange(list, 0, n - 1, plistLength(list));
    }
    if (ctx->pathMode == 1 && hasTriangles(&work)) {
        CheckParams params;
        initChkParams(&params);
        // Unchecked points are no link: the caller retracts instead.
        if (chkModelList(&work, list, ctx->totalToolLength, nullptr, 0, &params) == kMeshNoMemory) {
            plistFree(list);
            return -1;
        }
    }
    if (n > 0 && ctx->avoid && ctx->avoid->obstacle && ctx->pathMode != 2) {
        const Vec3 end = list->points[n - 1];  // before the avoidance may cut the list
        if (avoidCollisionRun(ctx->avoid, list, ctx->avoid->avoidColl) == kAvoidUnresolved) {
            plistFree(list);
            return linkRetractApproach(ctx, model, &end, ctx->clearancePlane, model->tool->spare);
        }
    }
    Vec3 first;
    if (list->count > 0 && linkTakeFirstAxis(list, 0, &first)) linkSetNextToolAxis(&first);
    linkSetRandomThinning(work.randomStep != 0);
    linkThinKeepAxes(list, ctx->stepMax, ctx->stepMin, ctx->stepAngleCos);
    if (ctx->climbMode == 2) plistFixRunKinds(list, 2);
    ncInfeedFeed(1);
    const int r = linkEmitPointList(list);
    ncInfeedFeed(0);
    plistFree(list);
    return r < 0 ? kLinkOutputFailed : 1;
}

int linkLiftHeight(const Vec3* p, const LinkContext* ctx, CheckModel* model, double* lift) {
    if (!lift) return -4;
    *lift = 0.0;
    if (!p || !ctx || !model || !model->tool) return -4;
    const double R = model->tool->radius;
    if (!(R > 0)) return -4;  // no step to climb by
    for (double z = p->z; z + R < model->bounds[5]; z += R) {
        const Vec3 a = {p->x, p->y, z};  // the point alone: a vertical line is judged at its top
        ProfileCurve* prof = profileLine(&a, &a);
        if (!prof) return -4;
        const int r = placeAlong(model, prof, nullptr);
        profileFreeList(prof);
        if (r < 0) return -4;
        if (r == 1) break;
        *lift += R;
    }
    return *lift >= kTol ? 1 : 0;
}

Plist* macroPlacePoints(const MacroPath* path, const LinkContext* ctx, CheckModel* model) {
    if (!path || !path->points || !ctx || !model || !model->tool) return nullptr;
    CheckModel work = *model;
    work.plungeIntervals = nullptr;
    ToolGeom tool = *model->tool;
    const bool offsetType = path->macroType == 3 || path->macroType == 23;
    if (offsetType) work.tool = &tool;
    const ProfilePath pp = {path->kind, path->count, path->points};
    ProfileCurve* prof = profileFromPath(&pp);
    if (!prof) return nullptr;
    const double f = macroPathFirstStep(path);
    if (f < work.stepLength) {
        work.stepLength = f;
        work.tolerance = std::min(work.tolerance, f / 2.0);
    }
    Plist* list = work.tolerance > 0 ? listFor(prof, work.tolerance, 1) : nullptr;
    if (!list) {
        profileFreeList(prof);
        return nullptr;
    }
    if (offsetType) projB_set_offset(0.05);
    const int r = placeAlong(&work, prof, list);
    if (ctx->pathMode) evalOnProfile(list, prof);
    if (offsetType) projB_set_offset(0.0);
    profileFreeList(prof);
    if (r < 0) {
        plistFree(list);
        return nullptr;
    }
    if (ctx->climbMode == 2) plistFixRunKinds(list, 2);
    Vec3 axis;
    if (path->kind == kMacroApproach)
        linkNextToolAxis(&axis);
    else
        linkToolAxis(&axis);
    for (int32_t i = 0; i < list->count; ++i) {
        if (kindOf(list, i) == kPointLink) setKind(list, i, kPointOrdinary);
        list->vectors[i] = axis;
    }
    if (ctx->macroAxisSwitch && path->axes) macroJoinAxis(path, list);
    if (ctx->pathMode == 1 && hasTriangles(&work)) {
        CheckParams params;
        initChkParams(&params);
        if (chkModelList(&work, list, ctx->totalToolLength, nullptr, 0, &params) == kMeshNoMemory) {
            plistFree(list);
            return nullptr;
        }
    }
    linkSetRandomThinning(work.randomStep != 0);
    linkThinPoints(list, ctx->stepMax, ctx->stepMin);
    plistDropKind3(list);
    return list;
}

int macroJoinAxis(const MacroPath* path, Plist* list) {
    if (!path || !path->axes || path->count < 1 || !list || !list->vectors || list->count < 1) return -1;
    const Vec3& a = path->axes[path->count - 1];
    list->vectors[path->kind == kMacroApproach ? 0 : list->count - 1] = a;
    if (list->count > 2) axesInterpRange(list, 0, list->count - 1, plistLength(list));
    return 1;
}

namespace {

// The retract feed for the next move when it is set and the move is not empty; true when pushed.
bool retractFeedFor(const LinkContext* ctx, const Vec3& to) {
    Vec3 last;
    linkLastPoint(&last);
    if (ctx->retractFeed < kTol || within(last, to, kSamePoint)) return false;
    return ncSetFeed(ctx->retractFeed, kLinkFeedAliasRetract) > 0;
}

void macroFeed(int32_t kind, int32_t on) {
    if (kind == kMacroApproach)
        ncApproachFeed(on);
    else
        ncRetractFeed(on);
}

int infeedTest(const MacroPath* mp, LinkContext* ctx, CheckModel* model, int32_t link, const Vec3* next) {
    const bool approach = mp->kind == kMacroApproach;
    const int32_t n = mp->count;
    const int32_t type = mp->macroType;
    bool tested = type != 0 && ctx->linkMacroSwitch && hasTriangles(model) &&
                  !(ctx->infeedThreshold < 0.01 && (type == 8 || type == 28));
    if (tested && type == 20 && n > 0 && dist2D(&mp->points[0], &mp->points[n - 1]) < kTol) tested = false;
    Plist* L = tested ? macroPlacePoints(mp, ctx, model) : nullptr;
    if (tested && !L) msgDouble(9, 763, "* Warnung: Kein Memory fuer Zustell-Kollisionstest", 0.0);
    if (L) {
        if (L->vectors && ctx->avoid && ctx->avoid->obstacle) {
            if (approach) plistReverse(L);
            avoidCollisionRun(ctx->avoid, L, ctx->avoid->avoidColl);
            if (approach) plistReverse(L);
        }
        if (L->count == 0) {
            plistFree(L);
            return -2;
        }
        Vec3 S = L->points[0], last;
        if (L->vectors) linkSetNextToolAxis(&L->vectors[0]);
        linkLastPoint(&last);
        if (!(linkEmitted() && within(S, last, 0.01))) {
            if (approach) macroPathOffsetPoint(mp, &S);
            if (link >= 0) {
                const int r = idx5CollisionFreeMacro(&S, &L->points[L->count > 1 ? 1 : 0], link, ctx, model);
                if (r < 0) {
                    plistFree(L);
                    return r;
                }
            }
            macroFeed(mp->kind, 1);
            const bool pushed = retractFeedFor(ctx, L->points[0]);
            if (approach) linkEmitPosition(&L->points[0], kLinkClassFeed);
            if (pushed) ncSetFeedFromKernel();
        } else {
            macroFeed(mp->kind, 1);
        }
        const int r = linkEmitPointList(L);
        macroFeed(mp->kind, 0);
        plistFree(L);
        if (r < 0) return kLinkOutputFailed;
    } else {
        if (approach && n > 0) {
            Vec3 S = mp->points[n - 1];
            macroPathOffsetPoint(mp, &S);
            if (link >= 0) {
                const int r = idx5CollisionFreeMacro(&S, &S, link, ctx, model);
                if (r < 0) return r;
            }
        }
        macroFeed(mp->kind, 1);
        if (approach && n > 0) {
            const bool pushed = retractFeedFor(ctx, mp->points[n - 1]);
            linkEmitPosition(&mp->points[n - 1], kLinkClassFeed);
            if (pushed) ncSetFeedFromKernel();
        }
        const int r = linkEmitMacro(mp, kLinkClassFeed);
        macroFeed(mp->kind, 0);
        if (r < 0) return kLinkOutputFailed;
    }
    if (!approach) {
        Vec3 q;
        linkLastPoint(&q);
        macroPathOffsetPoint(mp, &q);
        const bool pushed = retractFeedFor(ctx, q);
        linkEmitPosition(&q, kLinkClassFeed);
        if (pushed) ncSetFeedFromKernel();
    }
    if (next) {
        Vec3 t = *next, last;
        linkLastPoint(&last);
        if (ctx->climbMode == 2) t.z = last.z;
        const int r = idx5CollisionFreeMacro(&t, &t, 1, ctx, model);
        if (r < 0) return r;
    }
    return 0;
}

}  // namespace

int linkInfeedCollisionTest(const MacroPath* path, LinkContext* ctx, CheckModel* model, int32_t link,
                            const Vec3* next) {
    if (!path || !ctx || !model || !model->tool) return -1;
    const uint16_t saved = ctx->polygonSwitch;
    ctx->polygonSwitch = 0;
    const int r = infeedTest(path, ctx, model, link, next);
    ctx->polygonSwitch = saved;
    return r;
}

namespace {

int jumpLink(const Vec3& T, const LinkContext* ctx, CheckModel* work, double baseStep) {
    const double d = ctx->safetyDistance;
    const double R = 2.0 * baseStep + work->tool->radius;
    work->tool->radius = R;
    work->stepLength = R / 2.0;
    work->tolerance = std::min(0.01, R / 2.0);
    Vec3 cur, next, last{};
    linkToolAxis(&cur);
    linkNextToolAxis(&next);
    const bool emitted = linkEmitted() != 0;
    const Vec3 S = {T.x, T.y, ctx->clearancePlane};
    double h1 = 0.0;
    if (emitted) linkLastPoint(&last);
    const int found = emitted ? linkJumpLift(&last, &T, &cur, &next, ctx, &h1, ctx->linkType, work)
                              : linkJumpLift(&S, &T, &next, &next, ctx, &h1, ctx->linkType, work);
    if (found == kLinkCancelled) return found;
    if (found < 0) {  // no free lift: a jump through the part is no link
        msgDouble(9, 6103, "* No Collision free macro possible", 0.0);
        return -1;
    }
    const double H = std::max(h1, d);
    const Vec3 A = add(T, H, next);
    Vec3 X = S;
    // Single emissions of the jump are not examined: the link goes on as planned.
    if (emitted) {
        const Vec3 Rp = add(last, H, cur);
        linkEmitPosition(&Rp, kLinkClassPosition);
        X = Rp;
        if (ctx->linkType == 0 || Rp.z < A.z - kTol) {
            X.z = ctx->linkType == 0 ? ctx->clearancePlane : A.z;
            linkEmitPosition(&X, kLinkClassPosition);
        }
    }
    linkSetToolAxis(&next);
    X.x = A.x;
    X.y = A.y;
    linkEmitPosition(&X, kLinkClassPosition);
    if (A.z + kTol < X.z) {
        X.z = A.z;
        linkEmitPosition(&X, kLinkClassPosition);
    }
    linkLastPoint(&last);
    const double dist = dist3D(&last, &T), m = std::min(dist, d);
    if (dist > m + kTol) {
        const Vec3 q = add(T, m, next);
        linkEmitPosition(&q, kLinkClassPosition);
    }
    linkEmitPosition(&T, kLinkClassFeed);
    return 0;
}

// Leave lifted off the part, travel through the clearance plane, come down lifted onto the next cut.
int liftedMacros(const Vec3& T, LinkContext* ctx, CheckModel* model, double o) {
    ToolGeom tool = *model->tool;
    CheckModel work = *model;
    work.tool = &tool;
    work.plungeIntervals = nullptr;
    work.plungeProfile = nullptr;
    tool.radius = std::max(tool.radius, 1.0);
    work.stepLength = work.tolerance = tool.radius;
    MacroParams mp = ctx->macro;
    mp.approachType = mp.leaveType = 0;
    Vec3 last;
    linkLastPoint(&last);
    double lift = 0.0;
    if (linkLiftHeight(&last, ctx, &work, &lift) == 1) {
        mp.leaveDistance = lift;
        MacroPath* leave = macroBuild(kMacroLeave, &last, &last, &mp, 1, nullptr, 0, nullptr);
        const int r = linkEmitMacro(leave, kLinkClassPosition);
        macroPathFree(leave);
        if (r < 0) return kLinkOutputFailed;
    }
    Vec3 Tl = T;
    const bool lifted = linkLiftHeight(&T, ctx, &work, &lift) == 1;
    if (lifted) Tl.z += lift;
    const int r = linkRetractApproach(ctx, model, &Tl, ctx->clearancePlane, o);
    if (r < 0) return r;
    if (lifted) {
        mp.approachDistance = lift;
        MacroPath* approach = macroBuild(kMacroApproach, &T, &T, &mp, 1, nullptr, 0, nullptr);
        const int e = linkEmitMacro(approach, kLinkClassFeed);
        macroPathFree(approach);
        if (e < 0) return kLinkOutputFailed;
    }
    return 0;
}

}  // namespace

int idx5CollisionFreeMacro(const Vec3* T, const Vec3* P2, int32_t alongProfile, LinkContext* ctx,
                           CheckModel* model) {
    if (!T || !P2 || !ctx || !model || !model->tool) return -1;
    Vec3 cur, next, last, prev;
    linkToolAxis(&cur);
    linkNextToolAxis(&next);
    linkLastPoint(&last);
    linkPreviousPoint(&prev);
    const bool emitted = linkEmitted() != 0;
    if (ctx->polygonSwitch && emitted && alongProfile && !within(cur, next, kTol)) {
        Plist* loop = approachMacroSearch(&prev, &last, nullptr, &cur, &next, ctx->polygonRadius,
                                          ctx->polygonLift, model, ctx->avoid);
        if (!loop) {
            msgDouble(9, 6103, "* No Collision free macro possible", 0.0);
            return -1;
        }
        const int r = linkEmitPointList(loop);
        plistFree(loop);
        return r < 0 ? kLinkOutputFailed : 0;
    }
    if (emitted && within(*T, last, kSamePoint)) return 0;
    const double o = model->tool->spare;
    if (alongProfile && emitted) {
        ProfileCurve* curve = nullptr;
        if (ctx->smoothMode >= 2 && !within(*T, *P2, kSamePoint)) {
            curve = approxProfilePath(&last, &prev, T, P2, ctx->smoothMode == 3);
            if (curve) set_prof_mode(1);
        }
        if (!curve) curve = profileLine(&last, T);
        const int r = curve ? linkCheckedMove(curve, ctx, model) : -1;
        profileFreeList(curve);
        set_prof_mode(0);
        if (r == kLinkOutputFailed) return r;
        if (r >= 0) {
            // T only after a link that reached it; a failed one falls back to the retract below.
            linkLastPoint(&last);
            if (std::fabs(last.z - T->z) >= kTol && linkEmitPosition(T, kLinkClassFeed) < 0)
                return kLinkOutputFailed;
            return 0;
        }
    }
    if (!alongProfile && ctx->linkMacroSwitch && !ctx->radialMode && ctx->jumpFlag) {
        // The searches work on a copy whose tool is grown; the caller's model stays as it is.
        ToolGeom tool = *model->tool;
        CheckModel work = *model;
        work.tool = &tool;
        work.plungeIntervals = nullptr;
        work.plungeProfile = nullptr;
        return jumpLink(*T, ctx, &work, model->stepLength);
    }
    if (!alongProfile && ctx->linkMacroSwitch && !ctx->radialMode && emitted && ctx->linkType == 0 &&
        !framesEqualAB())
        return liftedMacros(*T, ctx, model, o);
    if (!alongProfile && ctx->linkMacroSwitch && !ctx->radialMode && emitted &&
        (ctx->linkType == 1 || ctx->linkType == 2)) {
        ToolGeom tool = *model->tool;
        CheckModel work = *model;
        work.tool = &tool;
        work.plungeIntervals = nullptr;
        work.plungeProfile = nullptr;
        work.stepLength = tool.radius / 2.0;
        work.tolerance = std::min(0.01, tool.radius / 2.0);
        double h = ctx->clearancePlane;
        if (ctx->linkType == 1) {
            // A failed height search travels at the clearance plane instead of giving up mid-link.
            if (linkTravelHeightLine(&last, T, ctx, &work, &h) < 0) h = ctx->clearancePlane;
        } else {
            double lift = 0.0;
            linkTravelLiftPlane(&last, T, ctx, &work, &lift);
            h = ctx->clearancePlane + lift;
        }
        return linkRetractApproach(ctx, model, T, h, o);
    }
    // The retract through the clearance plane is the safe link for every other kind.
    return linkRetractApproach(ctx, model, T, ctx->clearancePlane, o);
}

int linkEndPath(const LinkContext* ctx, CheckModel* model) {
    if (!ctx) return -1;
    if (ctx->radialMode) return -1;
    if (!linkEmitted()) return 0;
    Vec3 last, cur;
    linkLastPoint(&last);
    linkToolAxis(&cur);
    Vec3 E = {last.x, last.y, ctx->clearancePlane};
    if (ctx->pathMode) {
        if (!ctx->jumpFlag && hasTriangles(model)) {
            Vec3 contact{};
            if (placeRunBoth(model, &last, &contact) < 0) {
                msgDouble(9, 5501, "* Collision error", 0.0);
                return -2;
            }
        } else if (ctx->jumpFlag && model && model->tool) {
            model->tool->radius += 1.0;
            double h = 0.0;
            // Without a free lift the retract goes straight up rather than to the last lift tried.
            const int lifted = linkJumpLift(&last, &E, &cur, &cur, ctx, &h, 0, model);
            model->tool->radius -= 1.0;
            if (lifted == kLinkCancelled) return lifted;
            if (lifted < 0) h = 0.0;
            if (std::fabs(h) >= kTol) {
                const Vec3 up = add(last, h, cur);
                linkEmitPosition(&up, kLinkClassPosition);
                E.x = up.x;
                E.y = up.y;
            }
        }
    }
    sectionBegin(kLinkSectionRetract);
    const int r = linkEmitPosition(&E, kLinkClassPosition);
    sectionEnd(kLinkSectionRetract);  // closed on failure too: the NC output must not keep it open
    return r < 0 ? kLinkOutputFailed : 0;
}

int linkEndPathFlush(const LinkContext* ctx, CheckModel* model) {
    // No leave macro is ever left pending here, so there is no buffered list to flush after the retract.
    const int r = linkEndPath(ctx, model);
    return r < 0 ? r : 0;
}

void linkThinPoints(Plist* list, double maxChord, double maxDev) {
    if (!list || !list->flags || list->count < 3) return;
    const Vec3* p = list->points;
    for (int32_t i = 1; i + 1 < list->count; ++i) {
        if (kindOf(list, i) == kPointLink) continue;
        const int32_t a = neighbour(list, i, -1, kPointMarked, kPointRemoved);
        const int32_t b = neighbour(list, i, +1, kPointMarked, kPointRemoved);
        if (a < 0 || b < 0) return;
        if (kindOf(list, a) == kPointLink || kindOf(list, b) == kPointLink) continue;
        if (classD(list, a) != classD(list, i) || classD(list, b) != classD(list, i)) continue;
        const double c = dist3D(&p[a], &p[b]);
        if (c > maxChord) continue;
        bool pass = true;
        if (c >= kTol) {
            const Vec3 u = {(p[b].x - p[a].x) / c, (p[b].y - p[a].y) / c, (p[b].z - p[a].z) / c};
            for (int32_t j = a + 1; j < b && pass; ++j) {
                const Vec3 off = {p[j].x - p[a].x, p[j].y - p[a].y, p[j].z - p[a].z};
                const double len = vecLen3D(&off);
                if (crossLen3D(&off, &u) > maxDev)
                    pass = false;
                else if (len >= kTol && std::fabs(vecDot3D(&off, &u)) < 0.5 * len)
                    pass = false;
            }
        }
        if (!pass) continue;
        if (gLinks.randomThin && rngNext() % 10 == 0) continue;
        setKind(list, i, kPointMarked);
    }
}

void linkThinKeepAxes(Plist* list, double maxChord, double maxDev, double stepAngleCos) {
    linkThinPoints(list, maxChord, maxDev);
    if (!list || !list->vectors || !list->flags) return;
    for (int dir : {-1, +1}) {
        const int32_t start = dir < 0 ? 0 : list->count - 1;
        for (int32_t i = start; i >= 0 && i < list->count; i -= dir) {
            if (kindOf(list, i) != kPointMarked) continue;
            const int32_t k = neighbour(list, i, dir, kPointLink, kPointMarked);
            if (k < 0 || vecDot3D(&list->vectors[i], &list->vectors[k]) < stepAngleCos)
                setKind(list, i, kPointOrdinary);
        }
    }
}

int linkEmitPointList(const Plist* list) {
    if (!list || !list->points) return 0;
    const int32_t n = list->count;
    Vec3 last;
    linkLastPoint(&last);
    const bool reviveFirst = n >= 2 && list->flags && kindOf(list, 1) == kPointMarked &&
                             std::fabs(last.z - list->points[0].z) >= kTol;
    for (int32_t i = 1; i < n; ++i) {
        if (list->flags && kindOf(list, i) == kPointMarked && !(i == 1 && reviveFirst)) continue;
        if (list->vectors) linkSetToolAxis(&list->vectors[i]);
        const int r = linkEmitPosition(&list->points[i], kLinkClassFeed);
        if (r < 0) return r;
    }
    return 0;
}

int linkEmitMacro(const MacroPath* path, int32_t moveClass) {
    if (!path || !path->points) return 0;
    const int32_t n = path->count;
    const bool approach = path->kind == kMacroApproach;
    for (int32_t k = 0; k < n - 1; ++k) {
        const int32_t i = approach ? n - 2 - k : k + 1;
        const int r = linkEmitPosition(&path->points[i], moveClass);
        if (r < 0) return r;
    }
    return 0;
}

double macroPathFirstStep(const MacroPath* path) {
    if (!path || !path->points || path->count < 2) return 1.0;
    return std::max(dist3D(&path->points[0], &path->points[1]), 0.1);
}
