// The tilt search of one side list and its driver over a region.
#include "plunge/updown.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "collision/meshset.h"
#include "collision/toolenv.h"
#include "collision/toolseg.h"
#include "geometry/mat4.h"
#include "geometry/plist.h"
#include "geometry/spline.h"
#include "geometry/vec.h"
#include "kernel/base/abort.h"
#include "kernel/base/constants.h"
#include "kernel/cycle/cycle.h"
#include "kernel/base/msg.h"
#include "plunge/angleprof.h"
#include "plunge/cycparams.h"
#include "plunge/edgecurve.h"
#include "plunge/hubshroud.h"
#include "plunge/profile2d.h"
#include "plunge/tiltgeom.h"
#include "plunge/tiltseq.h"

namespace {

constexpr double kDeg = kRadToDeg;
constexpr double kSwingStart = 1.5;   // what a query that reaches nothing answers
constexpr double kSwingLimit = 1.05;  // swing angles at or below -limit do not count

struct SearchScratch {
    TiltSeq* seq = nullptr;
    PolyCurve* spline = nullptr;
    ~SearchScratch() {
        freeTiltSeq(seq);
        pathCutRangeCurveFree(spline);
    }
};

int kindOf(const Plist* list, int32_t i) {
    return list->flags[i] >> 8;
}

}  // namespace

namespace {

// segmentInitialAxis with the hub's search boxes (profile2DBoxes) taken once for many points.
int initialAxis(const HubShroud* level, const double* hubBoxes, const Vec3* p, Vec3* axis) {
    double t = 0.0;
    closestPointProfile2DBoxed(level->hub, hubBoxes, p, &t, nullptr);
    Vec2 hub, shroud;
    if (evalHubShroud(level, t, &hub, &shroud) < 0) return -1;
    double extra = 0.0;
    if (cycleParams()->stepStrategy != 1 && evalHubShroudExtra(level, t, &extra) < 0) extra = 0.0;
    double phi = std::atan2(p->y, p->x);
    double wrapped = phi + extra;
    if (wrapped > M_PI) wrapped -= 2 * M_PI;
    if (wrapped < -M_PI) wrapped += 2 * M_PI;
    Vec3 h, s;
    meridianToWorld(&hub, phi, &h);
    meridianToWorld(&shroud, wrapped, &s);
    Vec3 d{s.x - h.x, s.y - h.y, s.z - h.z};
    double len = vecLen3D(&d);
    if (len < 1e-5) return -1;
    *axis = {d.x / len, d.y / len, d.z / len};
    return 1;
}

std::vector<double> hubBoxesOf(const HubShroud* level) {
    std::vector<double> boxes(static_cast<size_t>(std::max(profile2DBoxSize(level->hub), 0)));
    profile2DBoxes(level->hub, boxes.data());
    return boxes;
}

}  // namespace

int segmentInitialAxis(const HubShroud* level, const Vec3* p, Vec3* axis) {
    if (!level || !level->hub || !p || !axis) return -1;
    return initialAxis(level, hubBoxesOf(level).data(), p, axis);
}

namespace {

// B, the swing axis, and N, the direction a positive tilt moves the axis toward.
int tiltFrame(const Vec3* p, const Vec3* axis, Vec3* B, Vec3* N) {
    double r = std::hypot(p->x, p->y);
    if (r < 1e-5) return -1;
    Vec3 u{p->x / r, p->y / r, 0.0};
    Vec3 T{-p->y / r, p->x / r, 0.0};
    vecRotateInFrame3D(&T, &u, -cycleParams()->avoidAngle / kDeg);
    if (crossUnit3D(axis, &T, B) != 0) return -1;
    if (crossUnit3D(B, axis, N) != 0) return -1;
    return 1;
}

Vec3 tilted(const Vec3* axis, const Vec3* N, double angle) {
    double c = std::cos(angle), s = std::sin(angle);
    return {c * axis->x + s * N->x, c * axis->y + s * N->y, c * axis->z + s * N->z};
}

void leadTurn(Vec3* axis, double a, const PolyCurve* spline, double t, double t0, double t1) {
    // Without a path direction (a single cut point, or no curve) the axis keeps its meridional
    // direction: there is nothing to lean along.
    if (!spline || t1 - t0 < 1e-5 || std::fabs(a) < 1e-12) return;
    double len = spline->params[spline->count];
    double u = (t - t0) / (t1 - t0) * len;
    u = std::fmin(std::fmax(u, 0.0), len);
    Vec3 pt, d;
    if (splineEval(spline, u, &pt, &d) < 0) return;
    double dl = vecLen3D(&d);
    if (dl < 1e-12) return;
    Vec3 w{d.x / dl, d.y / dl, d.z / dl};
    if (a <= 0) w = {-w.x, -w.y, -w.z};
    Vec3 out;
    vecRotateToward3D(&out, axis, &w, std::fabs(a));
    *axis = out;
}

// The inclination limit holds the angle between the leaning axis and the part's axis. The lead's cap
// assumes a path along the meridian, where a lead turns the axis toward or away from the part's axis;
// along a path that leaves it (rounding a blade's edge, or past the hub's ends) the turn can lean the
// axis past the limit. The lead is then taken only as far as the limit allows; where even the
// meridional direction leans past it (a hub falling steeply), that direction raised onto the limit's
// cone is the axis.
Vec3 leanWithin(const Vec3& meridional, double a, const PolyCurve* spline, double t, double t0, double t1,
                double limit) {
    Vec3 axis = meridional;
    leadTurn(&axis, a, spline, t, t0, t1);
    if (!(limit < M_PI) || acosClamped(axis.z) <= limit) return axis;
    if (acosClamped(meridional.z) > limit) {
        const double h = std::hypot(meridional.x, meridional.y);
        return {std::sin(limit) * meridional.x / h, std::sin(limit) * meridional.y / h, std::cos(limit)};
    }
    double in = 0.0, out = 1.0;  // fractions of the lead within and past the limit
    for (int k = 0; k < 40; ++k) {
        const double f = 0.5 * (in + out);
        Vec3 trial = meridional;
        leadTurn(&trial, f * a, spline, t, t0, t1);
        (acosClamped(trial.z) <= limit ? in : out) = f;
    }
    axis = meridional;
    leadTurn(&axis, in * a, spline, t, t0, t1);
    return axis;
}

ToolDescription searchTool(const ToolDescription* tool) {
    const CycleParams* p = cycleParams();
    ToolDescription t = *tool;
    if (p->shaftExact == 0) {
        t.radius -= 0.5 * p->precision;
        t.shaftDiameter -= p->precision;
    } else {
        t.radius -= p->aufmassHori;
        t.shaftDiameter -= 2 * p->aufmassHori;
    }
    if (t.shaftDiameter < 2 * t.radius) t.shaftDiameter = 2 * t.radius;
    return t;
}

// The tool profile of the swing queries: the search tool with the extra taper, sampled at half the
// blade wire mesh's merge tolerance.
void searchProfileInit(const ToolDescription* tool, const MeshSet* bladeSet) {
    toolSegProfileSetMode(2);
    ToolDescription t = searchTool(tool);
    const double step = bladeSet && bladeSet->meshes[0] ? 0.5 * bladeSet->meshes[0]->tolerance : 0.0;
    toolSegProfileInit(&t, cycleParams()->tolAngle, step);
}

}  // namespace

int segmentTiltSearch(Plist* list, int32_t side, const AngleProfile* profile, const HubShroud* level,
                      const ToolDescription* tool, const MeshSet* bladeSet, const MeshSet* secondSet) {
    if (!list || !level || !level->hub || !tool || !list->vectors) return kUpDownNoAxis;
    const CycleParams* prm = cycleParams();
    const bool search = prm->collCheck5ax != 0;
    if (search && (!bladeSet || !bladeSet->meshes[0])) return kUpDownNoAxis;
    const double limit = prm->tiltMax / kDeg;

    int32_t first = -1, last = -1;
    firstLastCutIndex(list, &first, &last);
    SearchScratch s;
    s.spline = pathCutRangeCurve(list);
    const double t0 = first >= 0 ? list->parameters[first] : 0.0;
    const double t1 = first >= 0 ? list->parameters[last] : 0.0;

    searchProfileInit(tool, bladeSet);

    s.seq = newTiltSeq(list->count, list->parameters);
    if (!s.seq) return kUpDownNoMemory;
    TiltSeq* seq = s.seq;
    // Until a point is measured it takes no part: a point left behind by a failed query must not
    // count as a window of width 0.
    for (int32_t i = 0; i < list->count; ++i) seq->skip[i] = 1;
    const int32_t lowerSel = side < 2 ? 1 : 3;
    const int32_t upperSel = side < 2 ? 2 : 4;
    const bool even = side % 2 == 0;
    const std::vector<double> hubBoxes = hubBoxesOf(level);
    // A query that cannot be answered ends the side: say where, the tilt is not to blame.
    const auto queryFailed = [side](int32_t i) {
        msgTwoLongs(9, kMsgTiltQueryFailed, "* Error: blade mesh query failed, side %d point %d", side + 1,
                    i);
        return kUpDownQueryFailed;
    };

    for (int32_t i = 0; i < list->count; ++i) {
        if (callAbortHook()) return kUpDownUserBreak;
        if (kindOf(list, i) == kPointLink) continue;
        const Vec3 p = list->points[i];
        Vec3 axis;
        if (initialAxis(level, hubBoxes.data(), &p, &axis) < 0) return kUpDownNoAxis;
        const Vec3 meridional = axis;
        double a = angleProfEval(profile, prm->entryPos == 1, list->parameters[i]);
        a = limitTiltStep(a, &axis, limit);
        // With *USE_ORIG the limit is the machine frame's; four-axis axes lie flat by design.
        if (prm->useOrig || prm->use4x)
            leadTurn(&axis, a, s.spline, list->parameters[i], t0, t1);
        else
            axis = leanWithin(meridional, a, s.spline, list->parameters[i], t0, t1, limit);
        if (prm->use4x) {
            Vec3 flat;
            if (vecUnitXY3D(&axis, &flat) == 1) axis = flat;
        }
        frameCRotateAxis(&axis, limit);
        list->vectors[i] = axis;
        const bool inRange = i >= first && i <= last;
        Vec3 B, N;
        if (tiltFrame(&p, &axis, &B, &N) < 0) continue;  // on the part axis: no tilt frame, no tilt
        double second = 0.0;
        if (secondSet) {
            Vec3 ref = even ? Vec3{-N.x, -N.y, -N.z} : N;
            second = kSwingStart;
            if (meshSetCollide(&p, &axis, &ref, &B, secondSet, even ? lowerSel : upperSel, &second,
                               kSwingLimit) < 0)
                return queryFailed(i);
            if (even) second = -second;
        }
        if (!search) {
            seq->skip[i] = inRange ? 0 : 1;
            continue;
        }
        if (!inRange) continue;
        double up = kSwingStart, down = kSwingStart;
        Vec3 minusN{-N.x, -N.y, -N.z};
        if (meshSetCollide(&p, &axis, &N, &B, bladeSet, upperSel, &up, kSwingLimit) < 0)
            return queryFailed(i);
        seq->hitUpper[i] = meshSetHitIndex();
        if (meshSetCollide(&p, &axis, &minusN, &B, bladeSet, lowerSel, &down, kSwingLimit) < 0)
            return queryFailed(i);
        seq->hitLower[i] = meshSetHitIndex();
        seq->upper[i] = up;
        seq->lower[i] = -down;
        if (secondSet) seq->tilt[i] = second;
        seq->skip[i] = 0;
    }

    int result = 1;
    if (search) {
        tiltSeqExtendEnds(seq);
        int fit;
        if (secondSet)
            fit = tiltSeqSmooth(seq);
        else if (prm->closeBlade != 0)
            fit = tiltSeqFitRetry(seq, kTiltSideLower, 0);
        else
            fit = tiltSeqFit(seq, kTiltSideLower);
        if (fit < 0) {
            splitterEdgeCheck(seq, bladeSet, list);
            for (int32_t i = 0; i < seq->count; ++i) seq->tilt[i] = seq->upper[i];
            // A failed fit must not read as the host's break.
            result = fit == kUpDownUserBreak ? kUpDownNoAxis : fit;
        }
    }
    for (int32_t i = 0; i < list->count; ++i) {
        Vec3 B, N;
        if (tiltFrame(&list->points[i], &list->vectors[i], &B, &N) < 0) continue;
        list->vectors[i] = tilted(&list->vectors[i], &N, seq->tilt[i]);
    }
    return result;
}

int segmentsUpDown(PlistArray* sideLists, const AngleProfile* profile, const HubShroud* level,
                   const ToolDescription* tool, const MeshSet* bladeSet, const MeshSet* secondSet) {
    if (!sideLists) return kUpDownNoAxis;
    const bool up = cycleParams()->entryPos != 0;
    for (int32_t i = 0; i < sideLists->count; ++i) {
        Plist* list = sideLists->lists[i];
        if (!list || list->count < 1) continue;
        if (up)
            msgTwoLongs(9, kMsgSegmentUp, "* Segment up   %d side &d", i < 2 ? 1 : 2, 1);
        else
            msgTwoLongs(9, kMsgSegmentDown, "* Segment down %d side &d", i < 2 ? 1 : 2, 1);
        int rc = segmentTiltSearch(list, i, profile, level, tool, bladeSet, secondSet);
        if (rc < 0) return rc;
    }
    return 1;
}

int tiltStationsBegin(const ToolDescription* tool, const MeshSet* bladeSet) {
    if (!tool || !bladeSet || !bladeSet->meshes[0]) return kUpDownNoAxis;
    searchProfileInit(tool, bladeSet);
    return 1;
}

int tiltStationIntoWindow(const Vec3* p, Vec3* axis, const MeshSet* bladeSet, int32_t splitterSide) {
    if (!p || !axis || !bladeSet) return kUpDownNoAxis;
    Vec3 B, N;
    if (tiltFrame(p, axis, &B, &N) < 0) return 1;  // on the part axis: no tilt frame, as in the search
    // The walls on either side, as the side points query them: N points from the blade toward the next
    // one, and the splitter (when there is one) lies on the side given. Most stations keep clear by the
    // margin, which a query asked only below it settles cheaply; the whole window is measured only
    // for a station that reaches a wall.
    const Vec3 minusN{-N.x, -N.y, -N.z};
    const int32_t upSel = splitterSide > 0 ? 2 : 4, downSel = splitterSide < 0 ? 3 : 1;
    const double m = kTiltStationMargin;
    double up = m, down = m;
    if (meshSetCollideBelow(p, axis, &N, &B, bladeSet, upSel, m, &up, kSwingLimit) < 0 ||
        meshSetCollideBelow(p, axis, &minusN, &B, bladeSet, downSel, m, &down, kSwingLimit) < 0)
        return kUpDownNoAxis;
    if (up >= m && down >= m) return 1;
    if ((up >= m && meshSetCollide(p, axis, &N, &B, bladeSet, upSel, &up, kSwingLimit) < 0) ||
        (down >= m && meshSetCollide(p, axis, &minusN, &B, bladeSet, downSel, &down, kSwingLimit) < 0))
        return kUpDownNoAxis;
    const double lo = -down, hi = up;
    if (lo > hi) return kTiltStationNoWindow;
    // The margin the tilt fits keep from a window's edges, or the window's middle when it is narrower.
    const double keep = std::min(m, 0.5 * (hi - lo));
    *axis = tilted(axis, &N, std::clamp(0.0, lo + keep, hi - keep));
    return 2;
}
