// Holder check against the part mesh.
#include "collision/holdercheck.h"

#include <cmath>

#include "collision/collreport.h"
#include "collision/conesection.h"
#include "kernel/base/abort.h"
#include "kernel/base/runreset.h"
#include "kernel/base/msg.h"

namespace {

int32_t gMode = 0;
double gPrevZ = 0;
bool gTryShown = false;

// The disc of diameter dia swept from height z to the top of the tool.
bool cylinderHits(const CheckModel* model, const ToolDescription* t, const Vec3* p, const Vec3* a, double dia,
                  double z) {
    const double length = t->stage4Top - z;
    if (length < 1e-5 || !model->tool) return false;
    CheckModel copy = *model;
    ToolGeom g = *model->tool;
    g.toolType = kEndMill;
    g.radius = dia / 2;
    g.cornerRadius = 0;
    copy.tool = &g;
    const Vec3 s{p->x - a->x * z, p->y - a->y * z, p->z - a->z * z};
    Vec3 contact;
    return chkModelPoints(&copy, nullptr, 0, &s, a, length, &contact) == 1;
}

bool coneHits(const CheckModel* model, const ToolDescription* t, const Vec3* p, const Vec3* a, double z1,
              double r1, double z2, double r2) {
    return coneSectionHit(model, p, a, t->stage4Top, r1, r2, z1, z2) == 1;
}

bool freeAxis(const CheckModel* model, const ToolDescription* t, const Vec3* p, const Vec3* axis) {
    const Vec3 a{-axis->x, -axis->y, -axis->z};
    return holderCheck(model, t, p, &a) == 0;
}

}  // namespace

void setHolderCollMode(int32_t mode) {
    gMode = mode;
}

void holderCheckResetState() {
    gMode = 0;
    gPrevZ = 0;
    gTryShown = false;
}
static const RunReset gRunReset(kRunResetCollision, "holderCheck", holderCheckResetState);

int holderCheck(const CheckModel* model, const ToolDescription* t, const Vec3* p, const Vec3* a) {
    if (!model || !t || !p || !a) return 0;
    // Field names of the stacked description: tipTop ends the cutting part, chamferTop the shank cone,
    // cutterTop the shank; stage 2 and 1 are the extension, stages 3 and 4 the holder.
    const double R = t->radius, cut = t->tipTop, shankDia = t->shaftDiameter, shankTop = t->chamferTop;
    const double neck = t->cutterTop, extCone = t->stage2Top, extTop = t->stage1Top;
    const double extLow = t->stage2Diameter, extHigh = t->stage1Diameter;
    const double holdCone = t->stage3Top, holdLow = t->stage3Diameter, total = t->stage4Top;
    const double holdHigh = t->stage4Diameter;
    if (t->taperAngle > 1e-5) {
        const double tp = t->taperAngle * 0.017453292519943295;
        if (coneHits(model, t, p, a, -R * std::sin(tp), R * std::cos(tp), cut, shankDia / 2)) return 8;
    }
    if (cut + 1e-5 < shankTop && shankDia > 1e-5 && coneHits(model, t, p, a, cut, R, shankTop, shankDia / 2))
        return 2;
    if (shankTop + 1e-5 < neck && shankDia > 1e-5 &&
        cylinderHits(model, t, p, a, shankDia - 2 * model->radiusReduction,
                     std::fmax(cut, gMode ? shankTop : 0)))
        return 3;
    if (neck + 1e-5 < extCone && (extLow > 1e-5 || extHigh > 1e-5)) {
        if (shankDia + 1e-5 < extLow && cylinderHits(model, t, p, a, extLow, neck)) return 4;
        if (extLow + 1e-5 < extHigh && coneHits(model, t, p, a, neck, extLow / 2, extCone, extHigh / 2))
            return 4;
    }
    // The wider upper cylinders are tested whatever the sections below them were: a lower, narrower
    // cylinder reaching the top does not cover them.
    if (extCone + 1e-5 < extTop && extHigh > 1e-5 && cylinderHits(model, t, p, a, extHigh, extCone)) return 1;
    if (extTop + 1e-5 < holdCone && (holdLow > 1e-5 || holdHigh > 1e-5)) {
        if (extHigh + 1e-5 < holdLow && cylinderHits(model, t, p, a, holdLow, extTop)) return 6;
        if (holdLow + 1e-5 < holdHigh &&
            coneHits(model, t, p, a, extTop, holdLow / 2, holdCone, holdHigh / 2))
            return 6;
    }
    if (holdCone + 1e-5 < total && holdHigh > 1e-5 && cylinderHits(model, t, p, a, holdHigh, holdCone))
        return 1;
    return 0;
}

int holderTiltSearch(const CheckModel* model, const ToolDescription* t, const Vec3* p, Vec3* axis,
                     int32_t mode, double maxTilt, double* outAngle) {
    if (!model || !t || !p || !axis) return -2;
    const Vec3 v = *axis, up{0, 0, 1};
    const double phi0 = acosClamped(v.z);
    Vec3 found{};
    bool ok = false;
    int failed = 0;
    auto trial = [&](double tilt) {
        Vec3 w;
        if (vecRotateToward3D(&w, &up, &v, std::fmin(tilt, maxTilt)) < 0) {
            failed = 1;
            return false;
        }
        if (!freeAxis(model, t, p, &w)) return false;
        found = w;
        return true;
    };
    if (std::fabs(gPrevZ) >= 1e-5) ok = trial(acosClamped(gPrevZ));
    const double steps[7] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.05, 0.025};
    for (int i = 0; i < 7 && !ok && !failed; ++i) ok = trial(phi0 + steps[i]);
    for (int k = 0; k < 2 && !ok && !failed; ++k) {
        ok = trial(mode == 1 ? 0.0 : maxTilt);
        if (!ok && k == 0) mode = 2 - mode;
    }
    if (!ok && !failed) {
        mode = 2;
        ok = trial(0.0);
    }
    if (!ok) return -2;
    const double alpha = acosClamped(vecDot3D(&v, &found));
    double lo = 0, hi = alpha;
    if (alpha > 0.001) {
        for (double step = alpha; step > 0.001; step /= 2) {
            if (callAbortHook()) return -2;
            const double mid = (lo + hi) / 2;
            Vec3 w;
            if (vecRotateToward3D(&w, &v, &found, mid) >= 0 && freeAxis(model, t, p, &w)) {
                hi = mid;
                found = w;
            } else {
                lo = mid;
            }
        }
    }
    *axis = found;
    if (outAngle) *outAngle = mode == 2 ? hi : -hi;
    return mode;
}

int holderMeshCollision(Plist* list, const CheckModel* model, const HolderParams* params) {
    if (!params || !params->enable || !list || !model || !params->desc) return 0;
    if (!list->vectors) return 0;
    int32_t mode = 2;
    int changed = 0;
    for (int32_t i = 0; i < list->count; ++i) {
        if ((list->flags[i] >> 8) == kPointLink) continue;
        Vec3* axis = &list->vectors[i];
        const Vec3 a{-axis->x, -axis->y, -axis->z};
        if (holderCheck(model, params->desc, &list->points[i], &a) != 0) {
            if (!params->avoid) {
                list->count = i;
                return -2;
            }
            if (!gTryShown) {
                gTryShown = true;
                msgDouble(9, kMsgTryToAvoid, "* Try to avoid", 0.0);
            }
            double angle = 0;
            const int r =
                holderTiltSearch(model, params->desc, &list->points[i], axis, mode, params->maxTilt, &angle);
            if (r < 0) {
                if (!collrep_check(0)) msgDouble(9, kMsgStopCalculation, "* Stop calculation", 0.0);
                list->count = i;
                return -2;
            }
            mode = r;
            changed = 1;
        }
        gPrevZ = axis->z;
    }
    return changed;
}
