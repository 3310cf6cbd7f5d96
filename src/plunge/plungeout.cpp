#include "plunge/plungeout.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <utility>

#include "avoidance/linkout.h"
#include "collision/collassembly.h"
#include "collision/collreport.h"
#include "kernel/base/abort.h"
#include "kernel/base/runreset.h"
#include "kernel/cycle/cycle.h"
#include "kernel/base/msg.h"
#include "kernel/ncout/ncout.h"
#include "plunge/cutlist.h"
#include "plunge/hubsolid.h"
#include "plunge/levelcurves.h"
#include "plunge/revmeshmodel.h"

namespace {

constexpr double kTol = 1e-5;
constexpr double kReach = 0.1;            // least plunge into the stock worth emitting; departure lift
constexpr double kGraze = 0.1;            // how near the part a departure's end counts as touching it
constexpr double kLineFar = 1000.0;       // reach of the edge-station line to the start profile
constexpr int32_t kMsgModelMemory = 311;  // a revolved model of a level or of the start cannot be built

enum : int32_t {
    kAliasRetract = 4,  // hole and retract feeds
    kAliasLink = 5,
    kAliasOpen = 6,
};

// A level or start model holding only the hub triangles within a plan rectangle around the run's
// plunges; a sweep that reaches beyond it first widens it (the answers are then the whole hub's).
struct LiftRegion {
    CheckModel* model;
    Profile2D* profile;  // the model's own copy
    double plan[4];      // x0, x1, y0, y1
    LiftCells cells;     // within the rectangle, the cells around the plunges
};

struct OutState {
    int32_t noMacro;   // run-wide
    CheckModel* part;  // the model the links are checked against, while an output runs
    HubSolid* hub;     // the hub with its end faces, while an output runs
    LinkContext link;
    LiftRegion lifts[2];  // the level and the start model of the output running
    bool liftFailed;      // a region could not be widened: the output fails
};

OutState gOut{};

Vec3 add(const Vec3& a, double s, const Vec3& b) {
    return {a.x + s * b.x, a.y + s * b.y, a.z + s * b.z};
}

Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}

// unit(a - b); false when shorter than the tolerance.
bool unitFrom(const Vec3& a, const Vec3& b, Vec3* out) {
    const Vec3 d = sub(a, b);
    return vecNormalize3D(&d, out) == 1;
}

// Turns v (perpendicular to the unit n) about n by angle.
Vec3 turnAbout(const Vec3& v, const Vec3& n, double angle) {
    Vec3 nv;
    cross3D(&n, &v, &nv);
    const double c = std::cos(angle), s = std::sin(angle);
    return {v.x * c + nv.x * s, v.y * c + nv.y * s, v.z * c + nv.z * s};
}

constexpr double kRegionMargin = 10.0;  // widening beyond the sweep that needed it, against the next

// Makes a region model cover the sweep: false when it cannot be rebuilt.
bool coverSweep(CheckModel* model, const Vec3& p, const Vec3& d, double length) {
    for (LiftRegion& r : gOut.lifts)
        if (r.model && r.model == model) {
            if (revMeshLiftCover(model, r.profile, r.plan, &p, &d, length, kRegionMargin, &r.cells) == 1)
                return true;
            gOut.liftFailed = true;
            return false;
        }
    return true;
}

// The lift of the model's tool at p moving along d over length: 1 with the lift, 0 no contact.
int sweepLift(CheckModel* model, const Vec3& p, const Vec3& d, double length, double* lift) {
    *lift = 0.0;
    if (!model || !model->tool || length <= 0.0) return 0;
    if (!coverSweep(model, p, d, length)) return 0;
    double h = 0.0;
    Vec3 contact;
    if (chkModelPath(model, nullptr, 0, &p, &d, length, &h, &contact) != 1) return 0;
    *lift = h;
    return 1;
}

// Whether the model's tool at p moving along d over length lifts by more than kTol (sweepLift's lift):
// the search ends at the first element that lifts it so far.
bool sweepLifts(CheckModel* model, const Vec3& p, const Vec3& d, double length) {
    if (!model || !model->tool || length <= 0.0) return false;
    if (!coverSweep(model, p, d, length)) return false;
    return chkModelPathAbove(model, &p, &d, length, kTol) == 1;
}

// Whether the tool's ball, moved from the bottom to the departure point, comes within reach of the hub
// solid: beyond the hub profile's ends the lift models hold no surface, and a departure there would
// cut into the hub's end faces. The move is sampled: along it the ball may pass nearer than at its ends.
bool departureMeetsHub(const Vec3& bottom, const Vec3& P, double reach) {
    if (!gOut.hub || !(reach > 0)) return false;
    for (int k = 1; k <= 4; ++k) {
        const Vec3 q = add(bottom, 0.25 * k, sub(P, bottom));
        if (hubSolidDistance(gOut.hub, &q) < reach) return true;
    }
    return false;
}

// Whether the tool, moved straight from the bottom to the departure point, passes through the part
// model between them: at both ends it may clear a blade whose edge it crosses on the way (rounding a
// blade's nose). The tool at points along the move, dropped along the plunge's direction as at its
// end, with its own radius (at the bottom it touches the walls).
bool departureCrossesPart(CheckModel* part, const Vec3& bottom, const Vec3& P, const Vec3& d, double length,
                          double grow) {
    if (!part || !part->tool) return false;
    const double radius = part->tool->radius;  // put back exactly, whatever the sums round to
    // A tool wider by half the move at its middle holds the tool at every point of it: one drop of
    // that settles most departures.
    const double half = 0.5 * dist3D(&bottom, &P);
    part->tool->radius = radius - grow + half;
    const bool near = sweepLifts(part, add(bottom, 0.5, sub(P, bottom)), d, 2 * length);
    part->tool->radius = radius - grow;
    // Points h apart miss an obstacle by at most h^2 / (8 r): the part's tolerance sets h.
    const double h =
        std::clamp(std::sqrt(8 * part->tool->radius * std::max(part->tolerance, 1e-4)), 0.1, 1.0);
    const int32_t n = near ? std::clamp(static_cast<int32_t>(std::ceil(2 * half / h)), 2, 400) : 0;
    bool cut = false;
    for (int32_t k = 1; k < n && !cut; ++k)
        cut = sweepLifts(part, add(bottom, double(k) / n, sub(P, bottom)), d, 2 * length);
    part->tool->radius = radius;
    return cut;
}

int32_t feedPushed(double value, int32_t alias) {
    return value > kTol && ncSetFeed(value, alias) == 1 ? 1 : 0;
}

void feedPop(int32_t pushed) {
    if (pushed) ncSetFeedFromKernel();
}

// The assembly check of a position goes to the collision report.
void recordPosition(const Vec3& point, const Vec3& axis) {
    collrep_record(&point, &axis, 0, coll_check(&point, &axis, nullptr, 1));
}

int emitAt(const Vec3& point, int32_t moveCode) {
    return linkEmitPosition(&point, moveCode) < 0 ? kLinkOutputFailed : 0;
}

// Unit direction of the edge list's segment at parameter t, against the list when reverse.
int edgeDirAt(const Plist* list, double t, int reverse, Vec3* out) {
    if (!list || list->count < 2) return -1;
    Vec3 at;
    int32_t i = plistPointAtParam(list, t, &at);
    if (i < 0) {
        // Outside the list: the end segment on t's side.
        const double t0 = list->parameters[0], t1 = list->parameters[list->count - 1];
        i = std::fabs(t - t0) <= std::fabs(t - t1) ? 0 : list->count - 2;
    }
    i = std::min(i, list->count - 2);
    if (!unitFrom(list->points[i + 1], list->points[i], out)) return -1;
    if (reverse) *out = {-out->x, -out->y, -out->z};
    return 1;
}

// The part of the edge list between parameters t0 and t1 (in that order), with its vectors and arc
// length parameters; null when it has fewer than two points.
Plist* edgePathCopy(const Plist* list, double t0, double t1) {
    if (!list || list->count < 2 || std::fabs(t1 - t0) < kTol) return nullptr;
    Plist* out = plistCreate(list->count + 2, 1);
    if (!out) return nullptr;
    auto put = [&](const Vec3& p, const Vec3* v) {
        const double s = out->count == 0
                             ? 0.0
                             : out->parameters[out->count - 1] + dist3D(&out->points[out->count - 1], &p);
        return plistAppend(out, s, &p, 0, v, 0) >= 0;
    };
    Vec3 p, v;
    bool ok = plistPointAndVectorAtParam(list, t0, &p, &v) == 1 && put(p, &v);
    const bool up = t1 > t0;
    for (int32_t k = 0; ok && k < list->count; ++k) {
        const int32_t i =
            up == (list->parameters[0] <= list->parameters[list->count - 1]) ? k : list->count - 1 - k;
        const double t = list->parameters[i];
        if ((up && t > t0 + kTol && t < t1 - kTol) || (!up && t < t0 - kTol && t > t1 + kTol))
            ok = put(list->points[i], list->vectors ? &list->vectors[i] : nullptr);
    }
    ok = ok && plistPointAndVectorAtParam(list, t1, &p, &v) == 1 && put(p, &v);
    if (!ok || out->count < 2) {
        plistFree(out);
        return nullptr;
    }
    return out;
}

// The nearest earlier row that serves as neighbour of row index; -1 none.
int32_t neighbourRow(const CutListSet* rows, int32_t index) {
    const int32_t key = rows->keys[index];
    const bool down = cycleParams()->entryPos == 0;
    for (int32_t j = index - 1; j >= 0; --j)
        if (rows->keys[j] == key || (down && rows->keys[j] == 0)) return j;
    return -1;
}

// The sideways vector and the lift length at one end of a row, from the nearest plunge of the
// neighbour row: 1, or 0 when no frame can be formed there. inward points from the end into the row.
int endFrame(const CutListSet* rows, int32_t index, int32_t neighbour, const CutRecord& end,
             const Vec3& edgeDir, const Vec3& inward, double r1, double r2, Vec3* lateral, double* lift) {
    const CutRecordList* other = rows->lists[neighbour];
    if (!other || other->count < 1) return 0;
    const Vec3* q = nullptr;
    double best = 0.0;
    for (int32_t k = 0; k < other->count; ++k) {
        const double d = dist3D(&other->records[k].bottom, &end.bottom);
        if (!q || d < best) q = &other->records[k].bottom, best = d;
    }
    Vec3 toward, n, axis;
    if (r1 < kTol || best / 2 > r1 || !unitFrom(*q, end.bottom, &toward)) return 0;
    // Along a straight edge the neighbour lies on the edge itself: the plunge axis then spans the frame.
    if (crossUnit3D(&toward, &edgeDir, &n) != 0 &&
        (!unitFrom(end.top, end.bottom, &axis) || crossUnit3D(&toward, &axis, &n) != 0))
        return 0;
    double alpha = std::acos(std::clamp(best / 2 / r1, -1.0, 1.0));
    if (std::fabs(rows->values[neighbour] - rows->values[index]) >= kTol && r2 <= r1 && r2 > 0)
        alpha += std::acos(std::clamp(r2 / r1, -1.0, 1.0));
    // Of the two turned directions the one into the row keeps the departure on the plunge's side.
    const Vec3 plus = turnAbout(toward, n, alpha), minus = turnAbout(toward, n, -alpha);
    const double sense = vecDot3D(&plus, &inward) >= vecDot3D(&minus, &inward) ? 1.0 : -1.0;
    *lateral = sense > 0 ? plus : minus;
    const Vec3 along = turnAbout(edgeDir, n, sense * alpha);
    const double theta = acosClamped(vecDot3D(lateral, &along));
    const double length = 2 * r1 * std::sin(theta) + 0.2;
    *lift = std::fabs(length) < kTol ? -1.0 : length;
    return 1;
}

// Only the lifts of these models are read, never a contact: a region model around the plunges (plan
// rectangle and cells) serves them.
CheckModel* levelModel(const CheckModel* templ, const Profile2D* profile, double allowance,
                       const double* plan, const LiftCells& cells, LiftRegion* region) {
    Profile2D* copy = copyProfile2D(profile);
    CheckModel* model = copy ? revMeshLiftModel(templ, copy, plan, &cells) : nullptr;
    if (!model) {
        freeProfile2D(copy);
        return nullptr;
    }
    if (model->tool) checkToolGeom(model->tool, allowance, cycleParams()->toolTip);
    *region = {model, copy, {plan[0], plan[1], plan[2], plan[3]}, {}};
    try {
        region->cells = cells;
    } catch (const std::bad_alloc&) {
        // Without cells the model's rectangle is covered, which holds the cells.
        region->cells = LiftCells{};
    }
    return model;
}

void freeRegion(LiftRegion* region) {
    revMeshFree(region->model);
    freeProfile2D(region->profile);
    *region = LiftRegion{};
}

constexpr double kCellSize = 2.0;   // the plan cells of the region models
constexpr double kCellGrain = 4.0;  // and the triangles they place (wider ones are kept anywhere)

// The plan rectangle of a plunge line, beyond its top by its length again (the sweeps start there).
void plungeBox(const CutRecord& r, double box[4]) {
    box[0] = box[2] = HUGE_VAL;
    box[1] = box[3] = -HUGE_VAL;
    const Vec3 far = add(r.top, 1.0, sub(r.top, r.bottom));
    for (const Vec3* q : {&r.bottom, &r.top, &far}) {
        box[0] = std::min(box[0], q->x);
        box[1] = std::max(box[1], q->x);
        box[2] = std::min(box[2], q->y);
        box[3] = std::max(box[3], q->y);
    }
}

// The plan rectangle of every plunge line of the rows grown by reach (empty without a plunge), and
// cells over it marked around each line alike.
void plungesPlan(const CutListSet* rows, double reach, double plan[4], LiftCells* cells) {
    plan[0] = plan[2] = HUGE_VAL;
    plan[1] = plan[3] = -HUGE_VAL;
    for (int32_t i = 0; rows && i < rows->count; ++i) {
        const CutRecordList* row = rows->lists[i];
        for (int32_t k = 0; row && k < row->count; ++k) {
            double box[4];
            plungeBox(row->records[k], box);
            plan[0] = std::min(plan[0], box[0]);
            plan[1] = std::max(plan[1], box[1]);
            plan[2] = std::min(plan[2], box[2]);
            plan[3] = std::max(plan[3], box[3]);
        }
    }
    *cells = LiftCells{};
    if (!(plan[0] <= plan[1] && plan[2] <= plan[3])) return;
    plan[0] -= reach, plan[2] -= reach;
    plan[1] += reach, plan[3] += reach;
    // Without cells (memory short) the rectangle alone is the region.
    if (!liftCellsInit(cells, plan, kCellSize, kCellGrain)) return;
    // A sweep's line runs along its plunge line within the departure of it.
    for (int32_t i = 0; rows && i < rows->count; ++i) {
        const CutRecordList* row = rows->lists[i];
        for (int32_t k = 0; row && k < row->count; ++k) {
            const CutRecord& r = row->records[k];
            double box[4];
            plungeBox(r, box);
            const double rect[4] = {box[0] - reach, box[1] + reach, box[2] - reach, box[3] + reach};
            const double line[4] = {r.bottom.x, r.bottom.y, r.top.x - r.bottom.x, r.top.y - r.bottom.y};
            liftCellsMark(cells, rect, line, reach + cells->grain);
        }
    }
}

}  // namespace

void linkContextFromCycle(const CycleNcCtx* nc, LinkContext* out) {
    const CycleParams* p = cycleParams();
    *out = LinkContext{};
    out->macro = nc->macro;
    out->safetyDistance = nc->clearanceDistance;
    out->clearancePlane = nc->clearancePlane;
    out->linkType = static_cast<uint16_t>(std::max<int16_t>(p->zustEilgang, 0));
    out->jumpFlag = static_cast<uint16_t>(nc->checkZlift);
    out->smoothMode = p->connectSmooth ? 2 : 1;
    out->forceG1 = static_cast<uint16_t>(p->forceG1 != 0);
    out->forceG1Step = p->forceG1Ipol;
    out->retractFeed = nc->retractFeed;
    out->linkMacroSwitch = 1;
    out->polygonRadius = 1.0;
    out->polygonLift = 30.0;
    out->totalToolLength = p->totalToolLength;
    out->pathMode = 1;
    out->stepMin = p->stepMin;
    out->stepMax = p->stepMax;
    out->stepAngleCos = nc->cosStepWin;
    out->climbMode = static_cast<uint16_t>(std::max<int16_t>(p->aufstieg, 0));
}

int clipPlunges(CutRecordList* row, CheckModel* level, CheckModel* start) {
    if (!row) return 1;
    for (int32_t i = 0; i < row->count; ++i) {
        CutRecord& r = row->records[i];
        Vec3 d;
        if (!unitFrom(r.bottom, r.top, &d)) continue;
        const double length = dist3D(&r.top, &r.bottom);
        double lift = 0.0;
        if (sweepLift(level, r.bottom, d, 2 * length, &lift)) r.bottom = add(r.bottom, -lift, d);
        if (sweepLift(start, r.top, d, length, &lift)) r.top = add(r.top, -lift, d);
    }
    return 1;
}

int setReturnPoints(CutRecordList* row, CheckModel* stock) {
    if (!row) return 1;
    for (int32_t i = 0; i < row->count; ++i) {
        CutRecord& r = row->records[i];
        Vec3 d;
        double lift = 0.0;
        if (!stock)
            r.top3 = r.top;
        else if (!unitFrom(r.bottom, r.top, &d))
            r.top3 = r.bottom;
        else
            r.top3 = sweepLift(stock, r.bottom, d, 2 * dist3D(&r.bottom, &r.top), &lift)
                         ? add(r.bottom, -lift, d)
                         : r.bottom;
    }
    return 1;
}

int toolMeetsStock(CheckModel* stock, const CutRecordList* row) {
    if (!stock || !stock->tool || !row) return 1;
    const ToolGeom saved = *stock->tool;
    stock->tool->toolType = kEndMill;
    stock->tool->radius = saved.radius - cycleParams()->tCutwidth;
    stock->tool->cornerRadius = 0.0;
    int free = 1;
    for (int32_t i = 0; free && i < row->count; ++i) {
        const CutRecord& r = row->records[i];
        Vec3 d;
        double lift = 0.0;
        if (dist3D(&r.bottom, &r.top3) < kReach || !unitFrom(r.bottom, r.top, &d)) continue;
        if (sweepLift(stock, r.bottom, d, 2 * dist3D(&r.bottom, &r.top), &lift) && lift > kReach) free = 0;
    }
    *stock->tool = saved;
    return free;
}

int shortenMacro(CutRecordList* row, CheckModel* level, double m, CycleToolCtx* tool) {
    if (!row) return 1;
    // The tool context's own model holds only an optional extra mesh; the run's part model joins it
    // with the blades and splitters, which a departure toward the next plunge must clear too.
    CheckModel* part = gOut.part ? gOut.part : (tool ? &tool->model : nullptr);
    // The bottoms touch the hub: a departure keeps the ball off it (within a micrometre's slack).
    const ToolGeom* sizes = part && part->tool ? part->tool : level && level->tool ? level->tool : nullptr;
    const double reach = sizes ? sizes->radius - 1e-3 : 0.0;
    if (part && part->tool) part->tool->radius += kGraze;  // a departure that grazes the part counts as a hit
    for (int32_t i = 0; i < row->count; ++i) {
        CutRecord& r = row->records[i];
        Vec3 d;
        if (!unitFrom(r.bottom, r.top, &d)) continue;
        const double length = dist3D(&r.bottom, &r.top);
        double s = m, lift = 0.0;
        bool reduced = false;
        Vec3 P = r.bottom;
        for (;;) {
            P = r.mark ? r.bottom : add(r.bottom, s, r.vector2);
            if (sweepLift(level, P, d, 2 * length, &lift)) P = add(P, -lift, d);
            if (r.mark) break;
            if (!departureMeetsHub(r.bottom, P, reach) && !sweepLifts(part, P, d, 2 * length) &&
                !departureCrossesPart(part, r.bottom, P, d, length, kGraze))
                break;
            s -= m / 10;
            reduced = true;
            if (s < 0) {
                r.mark = 1;
                s = 0.0;
                P = r.bottom;
                break;
            }
        }
        if (reduced || r.mark) msgDouble(2, kMsgMacroShortened, "* macro shortened to %f", r.mark ? 0.0 : s);
        if (!r.mark) r.bottom2 = add(P, -kReach, d);
        const double v = r.value < kReach ? s : r.value;
        r.top2 = add(r.top, v, r.axis);
        if (r.mark || std::fabs(v) < kTol || std::fabs(s) < kTol)
            r.top2 = r.mark ? r.top : add(P, -length, d);
    }
    if (part && part->tool) part->tool->radius -= kGraze;
    return 1;
}

int prepareRow(CutListSet* rows, int32_t index, const PlistArray* edges, double radius, double halfDiameter) {
    if (!rows || index < 0 || index >= rows->count) return -1;
    CutRecordList* row = rows->lists[index];
    if (!row || row->count == 0) return 1;
    const CycleParams* p = cycleParams();
    const int32_t n = row->count;
    int32_t sideA = 0, sideB = 3;
    if (rows->keys[index] == 1) sideB = 1;
    if (rows->keys[index] == 2) sideA = 2;
    if (n >= 2) {
        CutRecord& r0 = row->records[0];
        if (dist3D(&row->records[1].bottom, &r0.bottom) < kTol) return -1;
        Vec3 along, axis;
        if (dist3D(&r0.top, &r0.bottom) >= kTol && unitFrom(row->records[1].bottom, r0.bottom, &along) &&
            unitFrom(r0.top, r0.bottom, &axis) && acosClamped(vecDot3D(&along, &axis)) > M_PI / 2) {
            idx5CutListReverse(row);
            std::swap(sideA, sideB);
        }
    }
    const Plist* listA = edges && sideA < edges->count ? edges->lists[sideA] : nullptr;
    const Plist* listB = edges && sideB < edges->count ? edges->lists[sideB] : nullptr;
    const double t = rows->values[index];
    Vec3 dirA{0, 0, 0}, dirB{0, 0, 0};
    const bool haveA = edgeDirAt(listA, t, p->entryPos == 0, &dirA) == 1;
    const bool haveB = edgeDirAt(listB, t, p->entryPos == 0, &dirB) == 1;
    if (!haveA) dirA = dirB;
    if (!haveB) dirB = dirA;

    // The first row has no neighbour: its records move along the edge directions.
    Vec3 a = dirA, b = dirB;
    if (index > 0) {
        CutRecord& first = row->records[0];
        CutRecord& last = row->records[n - 1];
        const int32_t nb = neighbourRow(rows, index);
        double liftA = 0.0, liftB = 0.0;
        Vec3 inA = dirA, inB = dirB;
        if (n >= 2) {
            unitFrom(last.bottom, first.bottom, &inA);
            inB = {-inA.x, -inA.y, -inA.z};
        }
        const bool okA =
            nb >= 0 && endFrame(rows, index, nb, first, dirA, inA, radius, halfDiameter, &a, &liftA);
        const bool okB =
            nb >= 0 && endFrame(rows, index, nb, last, dirB, inB, radius, halfDiameter, &b, &liftB);
        if (!okA) first.mark = 1;
        if (!okB) last.mark = 1;
        if (okA) first.value = liftA;
        if (okB) last.value = liftB;
        if (!okA) a = okB ? b : dirA;
        if (!okB) b = okA ? a : dirB;
    }
    const double theta = acosClamped(vecDot3D(&a, &b));
    for (int32_t i = 0; i < n; ++i) {
        Vec3 v = a;
        if (n > 1 && theta >= kTol) vecRotateToward3D(&v, &a, &b, theta * i / (n - 1));
        row->records[i].vector2 = v;
    }
    if (n >= 2 && index > 0 && (p->bladeSteps > 0 || p->bladeSteps == -2)) {
        double previous = t;
        for (int32_t j = index - 1; j >= 0; --j)
            if (std::fabs(rows->values[j] - t) >= kTol) {
                previous = rows->values[j];
                break;
            }
        CutRecord& first = row->records[0];
        CutRecord& last = row->records[n - 1];
        plistFree(first.list1);
        plistFree(last.list2);
        first.list1 = edgePathCopy(listA, previous, t);
        last.list2 = edgePathCopy(listB, previous, t);
    }
    return 1;
}

int bladeStepPlunges(const Plist* edgePath, CycleNcCtx* nc, CycleToolCtx* tool, CheckModel* level,
                     CheckModel* start, const Profile2D* startProfile, const Vec3* lateral) {
    if (!edgePath || edgePath->count < 2 || !nc || !lateral) return -1;
    const CycleParams* p = cycleParams();
    const double m = nc->macro.leaveValue;
    if (p->bladeSteps > 0) {
        CutRecordList* list = idx5CutListCreate(p->bladeSteps);
        if (!list) return -1;
        const double span = edgePath->parameters[edgePath->count - 1];
        for (int32_t k = 1; k <= p->bladeSteps; ++k) {
            Vec3 at, v, top;
            if (plistPointAndVectorAtParam(edgePath, span * k / (p->bladeSteps + 1), &at, &v) != 1) continue;
            const Vec3 far = add(at, kLineFar, v);
            if (crossSegmentProfile(startProfile, &at, &far, &top, 0.0) != 1) continue;
            if (idx5CutListAdd(list, &top, &at, 0) < 0) {
                idx5CutListFree(list);
                return -1;
            }
        }
        clipPlunges(list, level, start);
        for (int32_t i = 0; i < list->count; ++i) {
            list->records[i].vector2 = *lateral;
            list->records[i].bottom2 = list->records[i].bottom;
        }
        if (std::fabs(m) >= kTol) shortenMacro(list, level, m, tool);
        int32_t linkFlag = 0;
        const int emitted =
            emitPlungeRow(list, nullptr, 0, 0, nc, tool, level, start, startProfile, &linkFlag);
        idx5CutListFree(list);
        return emitted < 0 ? -1 : 1;
    }
    if (p->bladeSteps != -2) return 1;
    for (int32_t i = 1; i < edgePath->count; ++i) {
        const Vec3& v = edgePath->vectors ? edgePath->vectors[i] : Vec3{0, 0, 1};
        linkSetToolAxis(&v);
        recordPosition(edgePath->points[i], v);
        if (emitAt(edgePath->points[i], kLinkClassFeed) < 0) return -1;
    }
    if (std::fabs(m) < kTol) return 1;
    const int32_t last = edgePath->count - 1;
    const Vec3 v = edgePath->vectors ? edgePath->vectors[last] : Vec3{0, 0, 1};
    Vec3 q = add(edgePath->points[last], m, *lateral);
    const Vec3 down{-v.x, -v.y, -v.z};
    double depth = 0.0;
    if (sweepLift(level, q, down, nc->tool.cutterTop, &depth)) q = add(q, m + depth, v);
    const int32_t pushed = feedPushed(p->retractFeedrate, kAliasRetract);
    const int r = emitAt(q, kLinkClassFeed);
    feedPop(pushed);
    return r < 0 ? -1 : 1;
}

int emitPlungeRow(CutRecordList* row, CutListSet* rows, int32_t index, int withMacros, CycleNcCtx* nc,
                  CycleToolCtx* tool, CheckModel* level, CheckModel* start, const Profile2D* startProfile,
                  int32_t* linkFlag) {
    if (!row || !nc || !linkFlag) return 0;
    const CycleParams* p = cycleParams();
    const int32_t n = row->count;
    if (withMacros && n >= 3) std::swap(row->records[0], row->records[1]);
    const double c = nc->clearanceDistance;
    const bool macro = withMacros && std::fabs(nc->macro.leaveValue) >= kTol;
    const int32_t gfast = p->plungeGfast;
    CheckModel* linkModel = gOut.part ? gOut.part : (tool ? &tool->model : nullptr);
    int count = 0;
    for (int32_t i = 0; i < n; ++i) {
        if (callAbortHook()) return kLinkCancelled;  // the host's cancel, before the next plunge
        if (!p->centerCut && rows && cutRaiseBottom(row, i, rows, index, p->tCutwidth, p->plungeTol) < 0)
            continue;
        CutRecord& r = row->records[i];
        Vec3 d;
        if (dist3D(&r.bottom, &r.top3) < kReach || !unitFrom(r.top, r.bottom, &d)) continue;
        const Vec3 approach = add(r.top, c, d);
        if (*linkFlag) {
            linkSetNextToolAxis(&d);
            if (!gOut.part) linkContextFromCycle(nc, &gOut.link);
            // A refused link (reported) leaves the tool where it was: the approach would go straight
            // through what the link found in the way.
            const int link =
                linkModel ? idx5CollisionFreeMacro(&approach, &approach, 0, &gOut.link, linkModel) : 0;
            if (link < 0)
                return link == kLinkOutputFailed || link == kLinkCancelled ? link : kPlungeLinkRefused;
        }
        linkSetToolAxis(&d);
        int32_t pushed = feedPushed(p->linkFeed, kAliasLink);
        recordPosition(approach, d);
        if (emitAt(approach, *linkFlag ? kLinkClassPosition : gfast) < 0) return kLinkOutputFailed;
        *linkFlag = 0;
        ncPlungeBegin();
        if (dist3D(&r.top3, &r.top) > c && emitAt(add(r.top3, c, d), gfast) < 0) return kLinkOutputFailed;
        feedPop(pushed);

        pushed = r.kind == 1 ? feedPushed(p->openFeed, kAliasOpen) : 0;
        recordPosition(r.bottom, d);
        if (emitAt(r.bottom, kLinkClassFeed) < 0) return kLinkOutputFailed;
        feedPop(pushed);
        r.active = 1;
        ++count;

        const Plist* edgePath = r.list1 ? r.list1 : r.list2;
        if (p->bladeSteps == -2 && n >= 2) {
            if (edgePath && bladeStepPlunges(edgePath, nc, tool, level, start, startProfile, &r.vector2) < 0)
                return kLinkOutputFailed;
        } else {
            Vec3 P = r.bottom;
            if (macro && !r.mark) {
                P = r.bottom2;
                if (emitAt(P, gfast) < 0) return kLinkOutputFailed;
            }
            Vec3 up;
            const Vec3 R = unitFrom(r.top2, P, &up) ? add(r.top2, c, up) : add(r.top2, c, d);
            pushed = 0;
            if (dist3D(&P, &r.bottom) < kTol && p->holeFeedrate > kTol) {
                pushed = feedPushed(p->holeFeedrate, kAliasRetract);
                ncWritePoint(&r.bottom);
                ++gOut.noMacro;
            } else {
                pushed = feedPushed(p->retractFeedrate, kAliasRetract);
            }
            if (emitAt(R, gfast) < 0) return kLinkOutputFailed;
            feedPop(pushed);
        }
        // The block closes after every plunge, also after a followed edge path.
        ncPlungeEnd();
        if (p->bladeSteps > 0 && n >= 2 && edgePath &&
            bladeStepPlunges(edgePath, nc, tool, level, start, startProfile, &r.vector2) < 0)
            return kLinkOutputFailed;
    }
    return count;
}

int plungePointsOutput(CycleNcCtx* nc, CheckModel* part, CutListSet* rows, const Profile2D* start,
                       const PlistArray* edges, const LevelCurves* levels, CheckModel* stock,
                       int32_t splitter, const HubShroud* hub) {
    if (!nc) return -1;
    const CycleParams* p = cycleParams();
    CycleToolCtx* tool = cycleToolCtx();
    ncSetFeedMode(2);
    const bool up = p->entryPos == 1 && splitter;
    const int32_t order[3] = {up ? 2 : 0, up ? 1 : 2, up ? 0 : 1};
    if (up && rows)
        for (int32_t i = 0; i < rows->count && rows->keys[i] == 0; ++i) {
            CutRecordList* row = rows->lists[i];
            for (int32_t k = 0; row && k < row->count; ++k) {
                plistFree(row->records[k].list1);
                plistFree(row->records[k].list2);
            }
            if (row) row->count = 0;
        }
    const ToolGeom* sizes = part && part->tool ? part->tool : tool->model.tool;
    const double radius = (sizes ? sizes->radius : 0.0) - p->aufmassHori;
    const double half = (sizes ? sizes->size2 / 2 : 0.0) - p->aufmassHori;
    const double m = nc->macro.leaveValue;
    const bool ball = tool->model.tool && tool->model.tool->toolType == kBallMill;
    gOut.part = part;
    gOut.hub = hubSolidCreate(hub);
    if (hub && !gOut.hub) {
        msgLong(9, kMsgModelMemory, "* Error: no memory for NC-points", 0);
        gOut.part = nullptr;
        return -1;
    }
    linkContextFromCycle(nc, &gOut.link);

    // The models of the hub and the start reach the plunges with their tool and the departure.
    double plan[4];
    LiftCells cells;
    plungesPlan(rows, (sizes ? sizes->radius : 0.0) + std::fabs(m) + 1.0, plan, &cells);
    gOut.liftFailed = false;
    CheckModel* startModel = nullptr;
    if (!ball && start) {
        startModel = levelModel(&tool->model, start, 0.0, plan, cells, &gOut.lifts[1]);
        if (!startModel) {
            msgLong(9, kMsgModelMemory, "* Error: no memory for NC-points", 0);
            gOut.part = nullptr;
            hubSolidFree(gOut.hub);
            gOut.hub = nullptr;
            return -1;
        }
    }
    int32_t linkFlag = 1;
    int count = 0, result = 1;
    for (int32_t lv = levels ? levels->count - 1 : -1; lv >= 0 && result == 1; --lv) {
        HubShroud* pair = levels->curves[lv];
        if (!ball && tool->model.tool) offsetProfile2D(pair, -tool->model.tool->cornerRadius);
        CheckModel* level = levelModel(&tool->model, pair->hub, -p->aufmassHori, plan, cells, &gOut.lifts[0]);
        if (!level) {
            msgLong(9, kMsgModelMemory, "* Error: no memory for NC-points", 0);
            result = -1;
            break;
        }
        for (int32_t pass = 0; pass < 3 && rows && result == 1; ++pass) {
            const int32_t key = order[pass];
            for (int32_t i = 0; i < rows->count; ++i) {
                if (rows->keys[i] != key) {
                    if (!up && pass == 0) break;
                    continue;
                }
                if (callAbortHook()) {
                    result = kLinkCancelled;
                    break;
                }
                CutRecordList* row = rows->lists[i];
                // A row whose first two bottoms coincide keeps its order and vectors: its plunges still go
                // out.
                prepareRow(rows, i, edges, radius, half);
                if (!ball) clipPlunges(row, level, startModel);
                if (std::fabs(m) >= kTol) shortenMacro(row, level, m, tool);
                setReturnPoints(row, stock);
                if (linkFlag == 1 && stock && !p->centerCut && toolMeetsStock(stock, row) == 0)
                    msgLong(9, kMsgToolMeetsStock, "* Tool meets stock", 0);
                const int emitted =
                    emitPlungeRow(row, rows, i, 1, nc, tool, level, startModel, start, &linkFlag);
                if (emitted < 0) {
                    result = emitted;
                    break;
                }
                if (gOut.liftFailed) {
                    msgLong(9, kMsgModelMemory, "* Error: no memory for NC-points", 0);
                    result = -1;
                    break;
                }
                count += emitted;
            }
            if (key == 2) linkFlag = 2;
        }
        freeRegion(&gOut.lifts[0]);
    }
    freeRegion(&gOut.lifts[1]);
    gOut.part = nullptr;
    hubSolidFree(gOut.hub);
    gOut.hub = nullptr;
    if (result < 0) return result;
    msgLong(9, kMsgDrillpoints, "* %d drillpoints generated", count);
    msgLong(9, kMsgNoMacroPoints, "* %d drillpoints without macro", gOut.noMacro);
    return 1;
}

int32_t plungeOutNoMacroCount() {
    return gOut.noMacro;
}

void plungeOutResetState() {
    hubSolidFree(gOut.hub);
    gOut = OutState{};
}
static const RunReset gRunReset(kRunResetCycles, "plungeOut", plungeOutResetState);
