// Rows of plunges across the channel.
#include "plunge/plungerows.h"

#include <algorithm>
#include <cmath>
#include <memory>

#include "collision/meshset.h"
#include "geometry/axesinterp.h"
#include "geometry/plist.h"
#include "geometry/vec.h"
#include "kernel/base/abort.h"
#include "kernel/cycle/cycle.h"
#include "plunge/cutlist.h"
#include "plunge/cycparams.h"
#include "plunge/edgecurve.h"
#include "plunge/pathspace.h"
#include "plunge/profile2d.h"
#include "plunge/tiltgeom.h"
#include "plunge/updown.h"

namespace {

constexpr int32_t kRowPoints = 4000;
constexpr int32_t kRowStartRoom = 64;
constexpr int kRowTries = 10;
constexpr double kRowChangeTol = 1e-7;  // where the rows turn into halves, located to this parameter
// The least parameter step between two rows: the loop takes a smaller one for a stall.
constexpr double kRowMinStep = 1e-4;

struct ListFree {
    void operator()(CutRecordList* l) const { idx5CutListFree(l); }
};
using RecordsPtr = std::unique_ptr<CutRecordList, ListFree>;
struct PlistFree {
    void operator()(Plist* l) const { plistFree(l); }
};
using PlistPtr = std::unique_ptr<Plist, PlistFree>;

bool usable(const Plist* l) {
    return l && l->count > 0;
}

// The segment of an inner list at t joins two cut points that belong to the splitter's cut.
bool innerCutsAt(const Plist* l, double t) {
    if (!usable(l) || !l->bytes) return false;
    Vec3 p;
    const int32_t i = plistPointAtParam(l, t, &p);
    if (i < 0) return false;
    const int32_t j = std::min(i + 1, l->count - 1);
    for (int32_t k : {i, j})
        if ((l->flags[k] >> 8) == kPointLink || l->bytes[k] == 0) return false;
    return true;
}

bool isLink(const Plist* l, int32_t i) {
    return (l->flags[i] >> 8) == kPointLink;
}

// A link point's vector is no tool axis (the tilt search leaves it as traced), so next to a link
// the axis is the cut point's own rather than one turned toward that vector.
int sideAxisAt(const Plist* l, double t, Vec3* p, Vec3* v) {
    const int32_t i = plistPointAtParam(l, t, p);
    if (i < 0 || plistPointAndVectorAtParam(l, t, p, v) < 0) return -1;
    const int32_t j = std::min(i + 1, l->count - 1);
    if (isLink(l, i) != isLink(l, j)) *v = l->vectors[isLink(l, i) ? j : i];
    return 1;
}

// The start profile with its crossing data, taken once for every top the rows ask for.
struct RowStart {
    const Profile2D* profile;
    ProfileLineCross* cross;
    explicit RowStart(const Profile2D* start) : profile(start), cross(profileLineCrossCreate(start)) {}
    ~RowStart() { profileLineCrossFree(cross); }
    RowStart(const RowStart&) = delete;
    RowStart& operator=(const RowStart&) = delete;
};

// Where the axis v from p crosses the start profile: 1 found, 0 none, -1 without memory.
int topFind(const RowStart& start, const Vec3& p, const Vec3& v, Vec3* top) {
    const Vec3 q{p.x + 1000 * v.x, p.y + 1000 * v.y, p.z + 1000 * v.z};
    const int rc = crossLineProfilePrepared(start.cross, &p, &q, top, 10.0);
    return rc == 1 ? 1 : rc < 0 ? -1 : 0;
}

bool topOf(const RowStart& start, const Vec3& p, const Vec3& v, Vec3* top) {
    return topFind(start, p, v, top) == 1;
}

double rowLength(const Plist* row) {
    return row->count > 0 ? row->parameters[row->count - 1] : 0;
}

bool axisAlongRow(const Plist* row) {
    const Vec3 d{row->points[1].x - row->points[0].x, row->points[1].y - row->points[0].y,
                 row->points[1].z - row->points[0].z};
    return vecDot3D(&d, &row->vectors[0]) >= 0;  // the angle is at most a right angle
}

// A row is an arc of a few dozen points; a longer one grows the list (the same points). Room for the
// longest arc taken up front was cleared whole for every row tried (0.24 MB a list).
Plist* newRow() {
    return plistCreate(kRowStartRoom, 1);
}

}  // namespace

int rowArc(const Vec3* from, const Vec3* fromAxis, const Vec3* to, const Vec3* toAxis, Plist* row) {
    const double phi = pathSignedAngle(from, to);
    const double r = std::hypot(from->x, from->y);
    const double precision = cycleParams()->precision;
    int32_t n = 1;
    // Near the axis, or with no chord tolerance, the usual count is undefined or endless.
    if (r >= 1e-5) {
        const double half = acosClamped((r - precision) / r);
        const double raw = half > 1e-12 ? std::fabs(phi) / (2 * half) : (phi != 0 ? kRowArcMaxSegments : 0);
        n = static_cast<int32_t>(std::min<double>(raw, kRowArcMaxSegments - 1)) + 1;
    }
    // Radius and height go over to the second point's along the arc: kept at the first point's, the
    // row would end beside the side path's checked position, up to tenths of a mm into the blade.
    const double r1 = std::hypot(to->x, to->y);
    const int32_t i0 = row->count;
    for (int32_t k = 0; k <= n; ++k) {
        const double f = double(k) / n;
        Vec3 p = *from;
        pathRotateZ(&p, phi * k / n);
        if (k == n) {
            p = *to;
        } else if (r >= 1e-5) {
            const double scale = (r + f * (r1 - r)) / r;
            p = {p.x * scale, p.y * scale, from->z + f * (to->z - from->z)};
        }
        if (plistAppend(row, 0, &p, 0, k == n ? toAxis : fromAxis, 1) < 0) return -1;
    }
    plistSetArcLengthParams(row);
    axesInterpRange(row, i0, row->count - 1, row->parameters[row->count - 1] - row->parameters[i0]);
    return 1;
}

int rowAtParam(Plist* a, Plist* b, const PlistArray* sides, double t) {
    if (!a || !b || !sides || sides->count < 4) return -1;
    a->count = b->count = 0;
    Plist* const* l = sides->lists;
    Vec3 p0, v0, p3, v3;
    if (sideAxisAt(l[0], t, &p0, &v0) < 0 || sideAxisAt(l[3], t, &p3, &v3) < 0) return -1;
    // Without a defined start on list 2 the row is not split: a half without a start is not a row.
    if (innerCutsAt(l[1], t) && innerCutsAt(l[2], t)) {
        Vec3 p1, v1, p2, v2;
        if (plistPointAndVectorAtParam(l[1], t, &p1, &v1) == 1 &&
            plistPointAndVectorAtParam(l[2], t, &p2, &v2) == 1) {
            if (rowArc(&p0, &v0, &p1, &v1, a) < 0 || rowArc(&p2, &v2, &p3, &v3, b) < 0) return -1;
            return 2;
        }
    }
    return rowArc(&p0, &v0, &p3, &v3, a) < 0 ? -1 : 1;
}

CutRecordList* lastRowOfSet(const CutListSet* set, int32_t key, int32_t* index) {
    if (!set) return nullptr;
    for (int32_t i = set->count - 1; i >= 0; --i)
        if (set->keys[i] == 0 || set->keys[i] == key) {
            if (index) *index = i;
            return set->lists[i];
        }
    return nullptr;
}

namespace {

// 1 with the station's bottom and top, 0 where the row or its axis finds none, -1 without memory.
int stationTop(const RowStart& start, const Plist* row, double s, Vec3* bottom, Vec3* top) {
    Vec3 v;
    if (plistPointAndVectorAtParam(row, s, bottom, &v) < 0) return 0;
    return topFind(start, *bottom, v, top);
}

CutRecordList* cutsOf(const RowStart& start, Plist* row, double stationStep, int uniform) {
    if (!row || !row->vectors || row->count < 2 || !(stationStep > 0)) return nullptr;
    if (dist3D(&row->points[0], &row->points[1]) < 1e-5) return nullptr;
    plistSetArcLengthParams(row);
    const double length = rowLength(row);
    double topsLength = 0;
    bool havePrev = false;
    Vec3 prev{};
    for (int32_t i = 0; i < row->count; ++i) {
        Vec3 top;
        if (!topOf(start, row->points[i], row->vectors[i], &top)) continue;
        if (havePrev) topsLength += dist3D(&prev, &top);
        prev = top;
        havePrev = true;
    }
    const double L = std::max(topsLength, length);
    const double stations = std::floor(L / stationStep);
    if (!(stations < kRowPoints)) return nullptr;
    const int32_t n = static_cast<int32_t>(stations) + 1;
    RecordsPtr list(idx5CutListCreate(n + 1));
    if (!list) return nullptr;
    const bool along = axisAlongRow(row);
    for (int32_t k = 0; k <= n; ++k) {
        const double f = std::min(1.0, uniform ? double(k) / n : k * stationStep / L);
        Vec3 bottom, top;
        const int found = stationTop(start, row, f * length, &bottom, &top);
        if (found < 0) return nullptr;
        if (found == 0) break;
        const int32_t kind = (k == 0 || k == n) ? 1 : 0;
        const int rc = along ? idx5CutListAdd(list.get(), &top, &bottom, kind)
                             : idx5CutListInsert(list.get(), 0, &top, &bottom, kind);
        if (rc < 0) return nullptr;
    }
    return list.release();
}

// One row tried at a parameter: its records (two halves where the inner lists cut) and the gap to
// the set's last rows of the same keys.
struct RowTry {
    RecordsPtr a, b;
    int halves = 0;
    double gap = 0;
    bool first = false;  // the set holds no row of its keys yet
};

bool tryRow(const CutListSet* set, const PlistArray* sides, const RowStart& start, double stationStep,
            double param, Plist* ra, Plist* rb, RowTry* out) {
    const CycleParams* cp = cycleParams();
    out->halves = rowAtParam(ra, rb, sides, param);
    if (out->halves < 0) return false;
    out->a.reset(cutsOf(start, ra, stationStep, 0));
    out->b.reset(out->halves == 2 ? cutsOf(start, rb, stationStep, 0) : nullptr);
    if (!out->a || (out->halves == 2 && !out->b)) return false;
    const CutRecordList* lastA = lastRowOfSet(set, out->halves == 2 ? 1 : 0, nullptr);
    const CutRecordList* lastB = out->halves == 2 ? lastRowOfSet(set, 2, nullptr) : nullptr;
    out->gap = lastA ? cutListGap(out->a.get(), lastA, cp->entryPos, start.profile) : 0;
    if (out->b && lastB)
        out->gap = std::max(out->gap, cutListGap(out->b.get(), lastB, cp->entryPos, start.profile));
    out->first = !lastA && !lastB;
    return true;
}

int addRow(CutListSet* set, const RowTry& row, double param) {
    if (cutListSetAdd(set, row.a.get(), row.halves == 2 ? 1 : 0, param) < 0) return -1;
    if (row.b && cutListSetAdd(set, row.b.get(), 2, param) < 0) {
        idx5CutListFree(set->lists[--set->count]);  // no half row stays behind alone
        return -1;
    }
    return 1;
}

// 1 when the set's last row is whole, 2 when it is a pair of halves, 0 without rows.
int lastRowHalves(const CutListSet* set) {
    return set->count == 0 ? 0 : set->keys[set->count - 1] == 0 ? 1 : 2;
}

// Where the rows change between whole rows and halves, between the set's last row and param: the
// last parameter of the old kind (*before) and the first of the new one (*after). False when a row
// cannot be laid at a parameter between.
bool rowChange(const CutListSet* set, const PlistArray* sides, double param, Plist* ra, Plist* rb,
               double* before, double* after) {
    const int old = lastRowHalves(set);
    double lo = set->values[set->count - 1], hi = param;
    for (int k = 0; k < 60 && std::fabs(hi - lo) > kRowChangeTol; ++k) {
        const double mid = 0.5 * (lo + hi);
        const int halves = rowAtParam(ra, rb, sides, mid);
        if (halves < 0) return false;
        (halves == old ? lo : hi) = mid;
    }
    *before = lo, *after = hi;
    return true;
}

int nextRow(CutListSet* set, const PlistArray* sides, const RowStart& start, double stationStep,
            double target, double* t) {
    if (!set || !t) return -1;
    const CycleParams* cp = cycleParams();
    const double width = std::max(stationStep, cp->tCutwidth);
    const double largest = (cp->centerCut ? 4 : 2) * width;
    PlistPtr a(newRow()), b(newRow());
    if (!a || !b) return -1;
    double param = *t;
    for (int attempt = 0; attempt < kRowTries; ++attempt) {
        const double threshold = attempt >= 2 ? cp->tCutwidth : target;
        RowTry row;
        if (!tryRow(set, sides, start, stationStep, param, a.get(), b.get(), &row)) return -1;
        if (row.gap < threshold || (cp->entryPos == 1 && row.first && !row.b)) {
            if (addRow(set, row, param) < 0) return -1;
            *t = param;
            return 1;
        }
        // Where the inner lists begin (or end) the rows turn into halves: the halves' end axes lean
        // away from the splitter, so across the change the gap jumps. A jump wider than the widest gap
        // the rows accept at all is never closed by blending the parameters (the rows would only
        // crowd ever closer to the change): the whole rows run up to the change as usual, and the
        // first row past it is taken as it comes.
        const int old = lastRowHalves(set);
        if (old != 0 && row.halves != old && !(row.gap < cp->tCutwidth)) {
            const double tLast = set->values[set->count - 1];
            double before = tLast, after = param;
            if (!rowChange(set, sides, param, a.get(), b.get(), &before, &after)) return -1;
            if (std::fabs(before - tLast) > kRowMinStep) {
                param = before;
                continue;
            }
            const double past =
                tLast + std::copysign(std::max(std::fabs(after - tLast), kRowMinStep), after - tLast);
            RowTry change;
            if (!tryRow(set, sides, start, stationStep, past, a.get(), b.get(), &change) ||
                change.halves == old || addRow(set, change, past) < 0)
                return -1;
            *t = past;
            return 1;
        }
        if (row.gap > largest) return 0;
        // A zero gap would not move the parameter; an empty set has no last parameter to blend with.
        if (!(row.gap > 0) || set->count == 0) return -1;
        const double tLast = set->values[set->count - 1];
        param = (target / row.gap) * param + (1 - target / row.gap) * tLast;
    }
    return -1;
}

int rebuildRow(const RowStart& start, CutListSet* set, int32_t index, const PlistArray* sides,
               double stationStep) {
    if (!set || set->count == 0 || index < 0 || index >= set->count) return -1;
    PlistPtr a(newRow()), b(newRow());
    if (!a || !b) return -1;
    const int halves = rowAtParam(a.get(), b.get(), sides, set->values[index]);
    if (halves < 0) return -1;
    CutRecordList* list = cutsOf(start, halves == 2 ? b.get() : a.get(), stationStep, 1);
    if (!list) return -1;
    idx5CutListFree(set->lists[index]);
    set->lists[index] = list;
    return 1;
}

int walkRowBetween(CutListSet* set, const PlistArray* sides, const RowStart& start, double, double g,
                   double t) {
    if (!set || set->count < 2 || !(g > 0)) return -1;
    PlistPtr row(newRow()), other(newRow());
    if (!row || !other || rowAtParam(row.get(), other.get(), sides, t) != 1 || row->count < 2) return -1;
    if (!axisAlongRow(row.get())) plistReverse(row.get());
    plistSetArcLengthParams(row.get());
    const double lr = rowLength(row.get());
    const CutRecordList* last = set->lists[set->count - 1];
    const CutRecordList* before = set->lists[set->count - 2];
    RecordsPtr accepted(idx5CutListCreate(16));
    if (!accepted) return -1;
    double s = 0, previous = -1;
    bool atEnd = false;
    while (s < lr + 1e-5) {
        Vec3 bottom, top;
        const int found = stationTop(start, row.get(), s, &bottom, &top);
        if (found < 0) return -1;
        if (found == 0) break;
        const bool covered = cutListCovers(last, &bottom, &top, g) == 1 ||
                             cutListCovers(before, &bottom, &top, g) == 1 ||
                             (accepted->count > 0 && cutListCovers(accepted.get(), &bottom, &top, g) == 1);
        if (covered) {
            if (idx5CutListAdd(accepted.get(), &top, &bottom, 0) < 0) return -1;
            if (std::fabs(s - lr) <= 1e-5 && atEnd) break;
            if (std::fabs(s - lr) > 1e-5) atEnd = false;
            previous = s;
            s += g;
            if (s > lr) {
                s = lr;
                atEnd = true;
            }
        } else {
            if (previous < 0) break;
            s = (s + previous) / 2;
            if (s - previous < 0.1) break;
        }
    }
    if (!atEnd) return -1;
    return cutListSetAdd(set, accepted.get(), 0, t) < 0 ? -1 : 1;
}

}  // namespace

int rowStationCrossing(const Profile2D* start, const Plist* row, double s, Vec3* bottom, Vec3* top) {
    const RowStart st(start);
    return stationTop(st, row, s, bottom, top) == 1 ? 1 : -1;
}

CutRecordList* rowCuts(const Profile2D* start, Plist* row, double stationStep, int uniform) {
    const RowStart st(start);
    return cutsOf(st, row, stationStep, uniform);
}

int nextPlungeRow(CutListSet* set, const PlistArray* sides, const Profile2D* start, double stationStep,
                  double target, double* t) {
    const RowStart st(start);
    return nextRow(set, sides, st, stationStep, target, t);
}

int rebuildLastRow(const Profile2D* start, CutListSet* set, int32_t index, const PlistArray* sides,
                   double stationStep) {
    const RowStart st(start);
    return rebuildRow(st, set, index, sides, stationStep);
}

int rowBetween(CutListSet* set, const PlistArray* sides, const Profile2D* start, double stationStep, double g,
               double t) {
    const RowStart st(start);
    return walkRowBetween(set, sides, st, stationStep, g, t);
}

namespace {

// The parameter window of the rows: from its start to its end in the running direction (backward
// when plunging up). False when no side list cuts.
bool rowWindow(const PlistArray* sides, double* from, double* to, double* dir) {
    const CycleParams* cp = cycleParams();
    double tA = -1e300, tB = 1e300;
    bool any = false;
    for (int32_t k = 0; k < sides->count; ++k) {
        int32_t first, lastIndex;
        const Plist* l = sides->lists[k];
        if (!usable(l) || firstLastCutIndex(l, &first, &lastIndex) != 1) continue;
        tA = std::max(tA, l->parameters[first]);
        tB = std::min(tB, l->parameters[lastIndex]);
        any = true;
    }
    if (!any) return false;
    const bool up = cp->entryPos == 1;
    const double s = up ? 1 - cp->isoEnd : cp->isoStart, e = up ? 1 - cp->isoStart : cp->isoEnd;
    const double lo = tA + s * (tB - tA), hi = tB - (1 - e) * (tB - tA);
    *dir = up ? -1 : 1;
    *from = up ? hi : lo;
    *to = up ? lo : hi;
    return true;
}

// The rows would stop short of the window's end (the gap cannot be kept, no row is accepted, or they
// stall): the step from the last row to the candidate is halved until the gap is within g. Where the
// rows jump (a side path rounding an edge, the inner lists beginning) no step is short enough, and
// the row just past the jump is taken. 1 with *t the new row's parameter, -1 when no row can be laid
// just past the last one.
int resumeRows(CutListSet* set, const PlistArray* sides, const RowStart& st, double stationStep, double g,
               double last, double candidate, double* t) {
    PlistPtr a(newRow()), b(newRow());
    if (!a || !b || !(std::fabs(candidate - last) > 0)) return -1;
    double hi = candidate;
    if (std::fabs(hi - last) < kRowMinStep) hi = last + std::copysign(kRowMinStep, candidate - last);
    for (;;) {
        RowTry row;
        const bool built = tryRow(set, sides, st, stationStep, hi, a.get(), b.get(), &row);
        const bool least = std::fabs(hi - last) <= kRowMinStep * (1 + 1e-9);
        if (built && (row.gap < g || least)) {
            if (addRow(set, row, hi) < 0) return -1;
            *t = hi;
            return 1;
        }
        if (least) return -1;
        const double half = 0.5 * (hi - last);
        hi = last + (std::fabs(half) > kRowMinStep ? half : std::copysign(kRowMinStep, half));
    }
}

}  // namespace

CutListSet* buildPlungeRows(const PlistArray* sides, const PlistArray* second, const Profile2D* start,
                            double g) {
    CutListSet* set = cutListSetCreate(kRowSetCapacity);
    if (!set || !sides || !(g > 0)) return set;
    const CycleParams* cp = cycleParams();
    double from = 0, to = 0, dir = 1;
    if (!rowWindow(sides, &from, &to, &dir)) return set;
    auto beyond = [&](double t) { return dir * (t - to) >= g - 1e-5; };
    if (beyond(from)) return set;
    const double horizustel = cp->horizustel;
    const RowStart st(start);
    if (!st.cross) {
        cutListSetFree(set);
        return nullptr;
    }
    double t = from, previous = NAN;
    while (set->count < kRowSetCapacity) {
        const double candidate = t;
        int rc = nextRow(set, sides, st, horizustel, g, &t);
        if (rc < 0) {
            if (cp->entryPos == 0) {
                for (double step : {horizustel / 2, cp->plungeStep}) {
                    rebuildRow(st, set, set->count - 1, sides, step);
                    rc = nextRow(set, sides, st, horizustel, g, &t);
                    if (rc >= 0) break;
                }
            } else {
                rc = walkRowBetween(set, sides, st, horizustel, g, t);
            }
        }
        // Short of the window's end the channel would stay uncut: the rows resume past the last one.
        const bool stalled = rc == 1 && std::fabs(t - previous) <= 1e-5;
        if ((rc <= 0 || stalled) && set->count > 0 && !std::isnan(previous) &&
            std::fabs(previous - to) > 1e-5) {
            rc = resumeRows(set, sides, st, horizustel, g, previous, candidate, &t);
        }
        if (rc <= 0) break;
        if (std::fabs(t - to) <= 1e-5) break;
        previous = t;
        if (nextPlungeParam(sides, second, &t, g) < 0) break;
        if (dir * (t - to) > 0) t = to;
        if (beyond(t)) break;
    }
    return set;
}

int plungeRowsReachEnd(const CutListSet* set, const PlistArray* sides, double g) {
    double from = 0, to = 0, dir = 1;
    if (!sides || !(g > 0) || !rowWindow(sides, &from, &to, &dir) || dir * (from - to) >= g - 1e-5) return 1;
    if (!set || set->count == 0) return 0;
    return dir * (to - set->values[set->count - 1]) <= g ? 1 : 0;
}

int plungeRowsClearAxes(CutListSet* set, const PlistArray* sides, const Profile2D* start,
                        const ToolDescription* tool, const MeshSet* blades) {
    // Without the collision search the side points keep their untilted axes: so do the stations.
    if (!set || !start || !tool || !blades || cycleParams()->collCheck5ax == 0) return 0;
    if (tiltStationsBegin(tool, blades) < 0) return -1;
    const RowStart st(start);
    if (!st.cross) return -1;
    const Plist* inner = sides && sides->count >= 4 && usable(sides->lists[1]) ? sides->lists[1] : nullptr;
    int turned = 0;
    for (int32_t i = 0; i < set->count; ++i) {
        if (callAbortHook()) return -2;
        CutRecordList* row = set->lists[i];
        // A whole row in front of the splitter has it on one side of each station: where the inner
        // list runs at the row's parameter.
        Vec3 nose;
        const bool haveNose = blades->meshes[1] && set->keys[i] == 0 && inner &&
                              plistPointAtParam(inner, set->values[i], &nose) >= 0;
        for (int32_t k = 0; row && k < row->count; ++k) {
            CutRecord& r = row->records[k];
            const double length = dist3D(&r.top, &r.bottom);
            Vec3 axis = r.axis;
            int32_t side = set->keys[i] == 1 ? 1 : set->keys[i] == 2 ? -1 : 0;
            if (haveNose) side = pathSignedAngle(&r.bottom, &nose) >= 0 ? 1 : -1;
            const int rc = length > 0 ? tiltStationIntoWindow(&r.bottom, &axis, blades, side) : 1;
            if (rc < 0) return -1;  // a query failed, or every axis of the station reaches a blade
            if (rc == 2) {
                Vec3 top;
                if (!topOf(st, r.bottom, axis, &top))
                    top = {r.bottom.x + length * axis.x, r.bottom.y + length * axis.y,
                           r.bottom.z + length * axis.z};
                r.top = r.top2 = r.top3 = top;
                vecNormalize3D(&axis, &r.axis);
                ++turned;
            }
        }
    }
    return turned;
}
