// Edge-angle correction and the small axis geometry of the tilt search.
#include "plunge/tiltgeom.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "collision/meshset.h"
#include "geometry/frames.h"
#include "geometry/mat4.h"
#include "geometry/plist.h"
#include "geometry/spline.h"
#include "kernel/base/constants.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/ncout.h"
#include "plunge/angleprof.h"
#include "plunge/cycparams.h"
#include "plunge/edgeaxis.h"
#include "plunge/edgecurve.h"
#include "plunge/tiltseq.h"
#include "plunge/updown.h"

namespace {

constexpr double kDeg = kRadToDeg;

bool correctable(const AngleTable* t) {
    return t->count > 0 && t->stations[0].edge == kAngleEdgeLeadMain && t->stations[0].general == 1;
}

void correctStation(AngleTable* t, double position, double angle) {
    t->stations[0].general = 0;
    t->stations[0].position = position;
    t->stations[0].angle = angle;
}

}  // namespace

void correctLeadStations(AngleProfile* profile, const double position[2], const double angle[2],
                         double upLimit) {
    if (!profile) return;
    const CycleParams* p = cycleParams();
    double pos = std::fmin(position[0], position[1]);
    double a = std::fmin(angle[0], angle[1]);
    double lead = p->leadAngle / kDeg;
    if (a < lead && a > lead - M_PI / 2 && correctable(&profile->table1)) {
        if (!(p->lauf == 1 && p->entryPos != 0))
            msgDouble(9, kMsgDownAngleCorrected, "* down angle corrected to %f", a * kDeg);
        correctStation(&profile->table1, pos, a);
    }
    if (a < upLimit && a > upLimit - M_PI / 2 && correctable(&profile->table2)) {
        if (!(p->lauf == 1 && p->entryPos != 1))
            msgDouble(9, kMsgUpAngleCorrected, "* up angle corrected to %f", a * -kDeg);
        correctStation(&profile->table2, pos, a);
    }
}

int edgeAngleAtPathStart(const Plist* path, const HubShroud* level, const ToolDescription* tool,
                         const MeshSet* set, const ContourPair* pair, double* angle) {
    int32_t first, last;
    if (firstLastCutIndex(path, &first, &last) < 0) return -1;
    const Vec3 p = path->points[first];
    double L = std::hypot(p.x, p.y);
    if (L < 1e-5) return -1;
    Vec3 t{-p.y / L, p.x / L, 0.0}, d, n, a;
    if (segmentInitialAxis(level, &p, &d) < 0 || crossUnit3D(&t, &d, &n) != 0) return -1;
    if (bladeEdgeToolAxis(tool, &p, set, level, pair, 0.0, 0.0, 0, 0, &a) < 0) return -1;
    *angle = acosClamped(vecDot3D(&d, &a));
    if (vecDot3D(&n, &a) < 0) *angle = -*angle;
    return 1;
}

void correctUpDownAngles(AngleProfile* profile, const PlistArray* regionLists, const HubShroud* level,
                         const ToolDescription* tool, const MeshSet* set, const ContourPair* pair,
                         double upLimit) {
    if (!profile || !regionLists || regionLists->count < 4) return;
    double position[2], angle[2];
    for (int k = 0; k < 2; ++k) {
        const Plist* path = regionLists->lists[k == 0 ? 0 : 3];
        int32_t first, last;
        if (firstLastCutIndex(path, &first, &last) < 0) return;
        position[k] = path->parameters[first];
        if (edgeAngleAtPathStart(path, level, tool, set, pair, &angle[k]) < 0) return;
    }
    correctLeadStations(profile, position, angle, upLimit);
}

double limitTiltStep(double step, const Vec3* axis, double maxAngle) {
    double t = acosClamped(axis->z);
    if (t + step >= maxAngle - kTiltLimitMargin) return maxAngle - t - kTiltLimitMargin;
    return step;
}

namespace {

int turnedPerpendicular(const Vec3* tangent, Vec3* out) {
    double L = std::hypot(tangent->x, tangent->y);
    if (L < 1e-5) return -1;
    Vec3 radial{tangent->x / L, tangent->y / L, 0.0};
    *out = {-tangent->y / L, tangent->x / L, 0.0};
    vecRotateInFrame3D(out, &radial, -cycleParams()->avoidAngle / kDeg);
    return 1;
}

}  // namespace

int tangentRotateAxis(const Vec3* tangent, const Vec3* vector, Vec3* perpendicular, Vec3* result) {
    if (turnedPerpendicular(tangent, perpendicular) < 0) return -1;
    return crossUnit3D(vector, perpendicular, result) != 0 ? -1 : 1;
}

int tangentRotateAxisBy(const Vec3* tangent, Vec3* vector, const Vec3* other, double angle) {
    Vec3 perp, axis;
    if (turnedPerpendicular(tangent, &perp) < 0) return -1;
    if (crossUnit3D(other, &perp, &axis) != 0) return -1;
    vecRotateInFrame3D(vector, &axis, angle);
    return 1;
}

int frameCRotateAxis(Vec3* axis, double maxAngle) {
    if (!cycleParams()->useOrig) return 0;
    Vec3 a = *axis;
    vecFrameAToFrameC(&a);
    double t = acosClamped(a.z / std::fmax(vecLen3D(&a), 1e-300));
    if (t <= maxAngle + 1e-5) return 0;
    Vec3 z{0, 0, 1}, about;
    if (crossUnit3D(&a, &z, &about) != 0) return 0;
    vecRotateInFrame3D(&a, &about, t - maxAngle);
    vecFrameCToFrameA(&a);
    *axis = a;
    return 1;
}

void pointToMm(Vec3* point) {
    if (!cycleParams()->inchMode) return;
    point->x *= 25.4;
    point->y *= 25.4;
    point->z *= 25.4;
}

int splitterEdgeCheck(const TiltSeq* seq, const MeshSet* set, const Plist* path) {
    if (!seq || !path || path->count < seq->count) return 1;
    int32_t best = -1;
    double widest = 0.0;
    for (int32_t i = 0; i < seq->count; ++i) {
        if (seq->skip[i]) continue;
        double w = seq->upper[i] - seq->lower[i];
        widest = std::fmax(widest, w);
        if (best < 0 || w < seq->upper[best] - seq->lower[best]) best = i;
    }
    if (best < 0) return 1;
    if (seq->hitLower[best] >= 0 || seq->hitUpper[best] >= 0)
        msgLong(9, kMsgSplitterEdgeCollision,
                "Error: Splitter edge collision: leading inclination angle has to be increased", 0);
    double middle = 0.5 * (seq->lower[best] + seq->upper[best]);
    if (std::fabs(middle) > 1.0) middle = 0.0;
    Vec3 point = path->points[best];
    Vec3 axis = path->vectors ? path->vectors[best] : Vec3{0, 0, 1};
    Vec3 tangent{-point.y, point.x, 0.0};
    Vec3 other = axis;
    tangentRotateAxisBy(&tangent, &axis, &other, middle);
    if (!set) return 1;
    Vec3 hit;
    if (meshSetCheckPoints(&point, &axis, set, &hit) == 1) {
        pointToMm(&hit);
        ncWritePoint(&hit);
    } else {
        msgDouble(9, kMsgMaxAngleFreedom, "* Max angle freedom = %f", widest * kDeg);
    }
    return 1;
}

PolyCurve* pathCutRangeCurve(const Plist* path) {
    if (!path) return nullptr;
    int32_t first = -1, last = -1;
    if (firstLastCutIndex(path, &first, &last) < 0) return nullptr;
    double t0 = path->parameters[first], t1 = path->parameters[last];
    std::vector<Vec3> pts;
    for (int k = 0; k < 20; ++k) {
        Vec3 p;
        if (plistPointAtParam(path, t0 + k / 19.0 * (t1 - t0), &p) >= 0) pts.push_back(p);
    }
    if (pts.size() < 2) return nullptr;
    return splineThroughPoints(pts.data(), static_cast<int32_t>(pts.size()), kSplineChord);
}

void pathCutRangeCurveFree(PolyCurve* curve) {
    polyCurveFree(curve);
}

int nextPlungeParam(const PlistArray* regionLists, const PlistArray* secondLists, double* param,
                    double step) {
    if (!regionLists || !secondLists || !param) return -1;
    const bool back = cycleParams()->entryPos != 0;
    double candidate = back ? *param - step : *param + step;
    const int32_t sides = std::min(regionLists->count, secondLists->count);
    for (int32_t k = 0; k < sides; ++k) {
        const Plist* side = regionLists->lists[k];
        const Plist* second = secondLists->lists[k];
        if (!side || side->count < 1 || !second || second->count < 1) continue;
        Vec3 from, to;
        const int32_t seg = plistPointAtParam(second, *param, &from);
        if (seg < 0 || plistPointAtParam(second, candidate, &to) < 0 || dist3D(&from, &to) <= step) continue;
        // Walk the segments from param toward the candidate; within the first whose far end lies beyond
        // the step, the candidate is where the distance from the point at param reaches the step. The
        // segment holding param is measured from param itself: from its near end the proportion can
        // fall back behind param and the rows stall on a long segment.
        const int32_t first = back ? seg + 1 : seg;
        for (int32_t j = first; back ? j >= 1 : j + 1 < second->count; j += back ? -1 : 1) {
            const int32_t end = back ? j - 1 : j + 1;
            if ((second->flags[end] >> 8) == kPointLink) break;
            const double d = dist3D(&from, &second->points[end]);
            if (d <= step) continue;
            const double b = j == first ? *param : second->parameters[j], c = second->parameters[end];
            const double db = j == first ? 0.0 : dist3D(&from, &second->points[j]);
            candidate = b + (step - db) / (d - db) * (c - b);
            break;
        }
    }
    *param = candidate;
    return 1;
}
