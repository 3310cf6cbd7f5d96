#include "avoidance/avoidtilt.h"

#include "avoidance/avoidhead.h"

#include <algorithm>
#include <cmath>

#include "avoidance/avoidgrid.h"
#include "avoidance/avoidhead.h"
#include "avoidance/machinecheck.h"
#include "collision/chkmodel.h"
#include "collision/collassembly.h"
#include "collision/collreport.h"
#include "collision/proj.h"
#include "geometry/grid2d.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"

namespace {

constexpr double kTol = 1e-5;
constexpr int32_t kMsgTryToAvoid = 6011;
constexpr uint16_t kKindNeverTested = 2;

const AvoidCollisionOps kCollisionLayerOps{coll_check,          coll_check_where, coll_check_full,
                                           coll_check_vertical, coll_free_height, collrep_record,
                                           coll_max_side_angle};

struct AvoidState {
    AvoidCollisionOps ops = kCollisionLayerOps;
    AvoidSwitches switches{};
    int32_t modelFlag = 0;
    int32_t reportFlag = 0;
    double angleLimit = 0.005;
    double tiltLimit = 0.0;
    Vec3 reference{0, 0, 0};
    int32_t referenceSet = 0;
    int32_t messageSent = 0;
    double freeHeightMax = 0.0;
};
AvoidState g;

Vec3 tiltedAxis(const Vec3& h, double t) {
    return Vec3{h.x * std::sin(t), h.y * std::sin(t), std::cos(t)};
}

uint16_t kindOf(const Plist* list, int32_t i) {
    return static_cast<uint16_t>(list->flags[i] >> 8);
}

void setKind(Plist* list, int32_t i, uint16_t kind) {
    list->flags[i] = static_cast<uint16_t>(kind << 8 | (list->flags[i] & 0xff));
}

// The tilt search: free trials < 0 never count, so a negative angle can be tried and still fail.
int tiltSearch(const Vec3* P, Vec3* a, int32_t prev, bool haveHit, const Vec3& hit) {
    const Vec3 z{0, 0, 1};
    const double b = acosClamped(a->z);
    if (std::fabs(b) < kTol) return kAvoidUnresolved;
    Vec3 u{0, 0, 0}, h{0, 0, 0};
    if (crossUnit3D(&z, a, &u) != 0 || crossUnit3D(&u, &z, &h) != 0) return kAvoidUnresolved;
    const auto isFree = [&](double t) {
        const Vec3 trial = tiltedAxis(h, t);
        int32_t hit = 0;
        return g.ops.check(P, &trial, &hit, 1) >= 0;
    };
    bool found = false;
    double f = 0.0;
    const auto attempt = [&](double t, bool counts) {
        if (found) return;
        if (isFree(t) && counts) found = true, f = t;
    };
    if (prev != 2) {
        const double t0 = g.ops.firstTrialAngle ? g.ops.firstTrialAngle() : 0.0;
        attempt(t0, t0 >= 0);
        for (double t : {(t0 + b) / 2, 0.0, 0.5 * b, 0.75 * b, 0.625 * b, 0.25 * b}) attempt(t, true);
    }
    const int code = prev == 0 ? (found ? kAvoidTiltedDown : kAvoidTiltedOther) : prev;
    const double U = g.switches.upperTilt;
    if (!found && b < U) {
        for (double t : {U, (U + b) / 2, 0.75 * b + 0.25 * U}) attempt(t, true);
        for (int32_t k = 1; !found && b + 0.01 * k < U; k++) attempt(b + 0.01 * k, true);
    }
    for (int32_t k = 1; !found && b - 0.01 * k > 0; k++) attempt(b - 0.01 * k, true);
    if (!found) {
        if (haveHit) avoidSetReference(&hit);
        return kAvoidUnresolved;
    }
    double c = b;
    while (std::fabs(c - f) > 0.001) {
        const double m = (c + f) / 2;
        (isFree(m) ? f : c) = m;
    }
    *a = tiltedAxis(h, f);
    return code;
}

}  // namespace

void avoidSetCollisionOps(const AvoidCollisionOps* ops) {
    g.ops = ops ? *ops : kCollisionLayerOps;
}

void avoidSetSwitches(const AvoidSwitches* switches) {
    g.switches = switches ? *switches : AvoidSwitches{};
}

const AvoidSwitches* avoidSwitches() {
    return &g.switches;
}

void avoidSetModelFlag(int32_t flag) {
    g.modelFlag = flag;
}

void avoidSetReportFlag(int32_t flag) {
    g.reportFlag = flag;
}

void avoidSetAngleLimit(double tol) {
    g.angleLimit = tol;
}

double avoidAngleLimit() {
    return g.angleLimit;
}

double avoidTiltLimit() {
    return g.tiltLimit;
}

void avoidSetReference(const Vec3* point) {
    if (!point) return;
    g.reference = *point;
    g.referenceSet = 1;
}

int avoidReference(Vec3* out) {
    if (g.referenceSet && out) *out = g.reference;
    return g.referenceSet;
}

int avoidTryTilt(const Vec3* P, Vec3* a, int32_t tilt, int32_t prev) {
    if (!P || !a || !g.ops.check) return kAvoidNoCheck;
    Vec3 hit{0, 0, 0};
    int32_t index = 0;
    const int r0 = g.ops.checkWhere ? g.ops.checkWhere(P, a, &hit) : g.ops.check(P, a, &index, 1);
    if (r0 >= 0) return kAvoidFree;
    // Only a hit on a part of the obstacle models names a triangle; the analytic tool test does not.
    const bool haveHit = g.ops.checkWhere && r0 <= -2 && r0 >= -5;
    if (!tilt) {
        if (haveHit) avoidSetReference(&hit);
        return kAvoidUnresolved;
    }
    if (!g.messageSent) {
        g.messageSent = 1;
        msgDouble(9, kMsgTryToAvoid, "* Try to avoid", 0.0);
    }
    return tiltSearch(P, a, prev, haveHit, hit);
}

int avoidCollisionPath(Plist* L, const HeightGrid* grid, const ToolDescription* tool, int32_t tilt) {
    if (!grid) return 1;
    if (!L || !tool) return kAvoidNoCheck;
    const AvoidSwitches& s = g.switches;
    const bool vertical = s.verticalMode != 0;
    const AvoidCollisionOps& ops = g.ops;
    const bool haveChecks =
        (!g.modelFlag || (vertical ? ops.checkVertical && (s.unresolvedMode != 4 || ops.freeHeight)
                                   : (tilt ? ops.check != nullptr : ops.checkFull != nullptr))) &&
        (!g.reportFlag || s.unresolvedMode == 4 || ops.record);
    if (!haveChecks) return kAvoidNoCheck;
    int result = 1;
    int32_t prev = 0;
    for (int32_t i = 0; i < L->count; i++) {
        if (kindOf(L, i) == kKindNeverTested) continue;
        const Vec3* P = &L->points[i];
        Vec3 a = L->vectors && !vertical ? L->vectors[i] : Vec3{0, 0, 1};
        int32_t v = 0;
        int32_t hit = 0;
        int r;
        if (!g.modelFlag) {
            r = avoidCollisionTilt(P, grid, tool, &a, tilt, prev);
        } else if (!vertical) {
            r = tilt ? avoidTryTilt(P, &a, tilt, prev) : ops.checkFull(P, &a, &hit);
        } else {
            r = ops.checkVertical(P, 1, &v);
            if (s.unresolvedMode == 4) {
                double height = P->z;  // searched upward from the point
                r = ops.freeHeight(P, &height);
                g.freeHeightMax = std::max(g.freeHeightMax, height);
            }
        }
        if (g.reportFlag && s.unresolvedMode != 4) r = ops.record(P, &a, v, r);
        // Every negative collision code is a hit the path must not keep, whichever check gave it.
        if (r < 0) {
            if (!vertical) {
                L->count = i;
                return kAvoidUnresolved;
            }
            setKind(L, i, kAvoidKindUnresolved);
            if (s.unresolvedMode == 0) {
                L->count = i;
                return kAvoidUnresolved;
            }
            if (s.unresolvedMode == 2) {
                for (int32_t k = i + 1; k < L->count; k++)
                    if (kindOf(L, k) != kKindNeverTested) setKind(L, k, kAvoidKindUnresolved);
                return kAvoidUnresolved;
            }
            if (s.unresolvedMode == 3) {
                result = kAvoidUnresolved;
                continue;
            }
        } else {
            if (s.machineCheck) checkMachinePositions(P, &a, tool->cutterTop);
            if (!vertical && L->vectors) L->vectors[i] = a;
        }
        prev = r;
    }
    return result;
}

int avoidCheckPath(Plist* L, const ToolDescription* tool) {
    if (!L || !tool || !g.ops.checkFull) return kAvoidNoCheck;
    for (int32_t i = 0; i < L->count; i++) {
        if (kindOf(L, i) == kKindNeverTested) continue;
        const Vec3 a = L->vectors ? L->vectors[i] : Vec3{0, 0, 1};
        int32_t hit = 0;
        const int r = g.ops.checkFull(&L->points[i], &a, &hit);
        if (r < 0) {
            L->count = i;
            return r;
        }
    }
    return 1;
}

int placeRunBoth(const CheckModel* M, const Vec3* P, Vec3* out) {
    if (!M || !P) return kAvoidNoCheck;
    const double z0 = std::min(std::max(M->bounds[2], M->zLow), P->z);
    bool found = false;
    Vec3 best{0, 0, 0}, bestContact{0, 0, 0};
    const auto keep = [&](int placed, const Vec3& q, const Vec3& contact) {
        if (placed && (!found || q.z > best.z)) found = true, best = q, bestContact = contact;
    };
    Vec3 q{P->x, P->y, z0}, contact{0, 0, 0};
    int32_t cls = 0;
    keep(chkModelPlaceTool(M, &q, &contact, &cls), q, contact);
    for (const CheckModelPart* part = M->parts; part; part = part->next) {
        const int32_t* cells = nullptr;
        int32_t count = 0;
        if (part->grid) {
            const GridCell* cell = grid2DCellAt(part->grid, P->x, P->y);
            if (!cell) continue;
            cells = cell->items, count = cell->count;
        }
        // Each engine holds one mesh: the part's is installed for its placement and the model's put back.
        const bool triangles = part->kind == kMeshTriangles;
        triangles ? projB_save_state(part) : projA_save_state(part);
        q = Vec3{P->x, P->y, z0};
        const double drop = part->tool.radius + part->bounds[5];
        const int placed = triangles ? projB_place(&q, drop, &part->tool, cells, count, &contact, &cls)
                                     : projA_place(&q, drop, &part->tool, cells, count, &contact, &cls);
        triangles ? projB_restore_state() : projA_restore_state();
        keep(placed, q, contact);
    }
    if (!found || best.z < P->z + 0.01) return 1;
    if (out) *out = bestContact;
    return -1;
}

int avoidCollisionRun(const AvoidContext* ctx, Plist* L, int32_t tilt) {
    if (!ctx) return kAvoidNoCheck;
    g.tiltLimit = ctx->tiltMax;
    if (tilt && ctx->headAvoidAxisMode != 0) {
        // Without its settings the head avoidance cannot run: refused rather than passed untested.
        if (!ctx->head || !L) return kAvoidNoCheck;
        int r = avoidToolHeadCollision(L, ctx->head);
        if (g.reportFlag && g.switches.unresolvedMode != 4 && g.ops.record) {
            for (int32_t i = 0; i < L->count; i++) {
                Vec3 a = L->vectors ? L->vectors[i] : Vec3{0, 0, 1};
                g.ops.record(&L->points[i], &a, 0, r);
            }
        }
        return r < 0 ? kAvoidUnresolved : r;
    }
    int r = avoidCollisionPath(L, ctx->obstacle, ctx->tool, tilt);
    if (r > 0 && g.switches.recheck1 && g.switches.recheck2) r = avoidCheckPath(L, ctx->tool);
    return r;
}

void avoidTiltResetState() {
    g = AvoidState{};
    avoidGridResetState();
}
static const RunReset gRunReset(kRunResetAvoidance, "avoidTilt", avoidTiltResetState);
