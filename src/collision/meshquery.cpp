#include "collision/meshquery.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include "collision/meshindex.h"
#include "collision/sweep.h"
#include "kernel/base/abort.h"
#include "kernel/base/runreset.h"
#include "surfaces/polyimport.h"

namespace {

struct Switches {
    int32_t limitLift;
    double maxLift;
    int32_t fixedDir, skipLast, noRefine, extraTest, fineGap, splitLong, markLifted, markRest;
};

const Switches kFacetDefaults{0, 10.0, 0, 0, 0, 1, 0, 0, 1, 0};
const Switches kTriDefaults{0, 10.0, 0, 0, 0, 1, 0, 0, 0, 0};

Switches gFacetSw = kFacetDefaults;
Switches gTriSw = kTriDefaults;
int32_t gPullNewPoints = 0;
void (*gReferenceHook)(const Vec3*) = nullptr;
Vec3 gLastContact[2] = {};
bool gHaveLast[2] = {false, false};

// One mesh (the model's own or a part's) with the tool tested against it.
struct MeshView {
    int32_t kind;
    const Facet98* facets;
    const TriList* tris;
    int32_t count;
    const Vec3* boxMax;
    const Vec3* boxMin;
    const ToolGeom* tool;
    const MeshIndex* index;
    // A triangle mesh without corner boxes: each element's box is taken from its triangle.
    bool ownBoxes;

    bool hasBoxes() const { return ownBoxes || (boxMax && boxMin); }
    // The element's box, as a model's corners hold it (the first corner grown by the other two).
    void boxOf(int32_t j, Vec3* lo, Vec3* hi) const {
        if (!ownBoxes) {
            *lo = boxMin[j];
            *hi = boxMax[j];
            return;
        }
        const Triangle3D& t = tris->data[j];
        *lo = *hi = t.p[0];
        boxExtendByPoint(lo, hi, &t.p[1]);
        boxExtendByPoint(lo, hi, &t.p[2]);
    }
};

MeshView viewOf(const CheckModel* m) {
    const int32_t n = chkMeshCount(m->kind, m->facets, m->facetCount, m->triangles);
    const bool own = m->kind == kMeshTriangles && !m->boxMax && !m->boxMin && m->triangles;
    return {m->kind,   m->facets, m->triangles, n,
            m->boxMax, m->boxMin, m->tool,      meshIndexCount(m->index) == n ? m->index : nullptr,
            own};
}

MeshView viewOf(const CheckModelPart* p) {
    return {p->kind,   p->facets, p->triangles, chkMeshCount(p->kind, p->facets, p->facetCount, p->triangles),
            p->boxMax, p->boxMin, &p->tool,     nullptr,
            false};
}

enum class Scan { Best, First };

struct ScanResult {
    bool found = false;
    double lift = 0.0;
    Vec3 contact{};
};

// Height of the tool shape ahead of its reference at radial distance rho from its axis (a: the ball or
// flat radius, the torus's centre circle; r: the torus tube). Inlined: the box bounds call it millions
// of times a run.
[[gnu::always_inline]] inline double shapeAhead(uint16_t type, double a, double r, double rho) {
    if (type == kBallMill) {
        const double x = std::min(rho, a);
        return std::sqrt(std::max(0.0, a * a - x * x));
    }
    if (type == kRadiusMill) {
        const double h = std::min(rho, a + r) - a;
        return h <= 0.0 ? r : std::sqrt(std::max(0.0, r * r - h * h));
    }
    return 0.0;
}

// Lift of one element: 1 with lift and contact when a kernel accepted a contact, else 0. A triangle
// whose plane or extent the tool meets too late to lift it by floor is passed over (an answer below floor may
// then be missed; none at or above it).
int elementLift(const MeshView& m, int32_t j, const KernelBlock& proto, uint16_t type, double length,
                double* lift, Vec3* contact, double floor = -std::numeric_limits<double>::infinity()) {
    KernelBlock b = proto;
    b.best = -length;
    Vec3 t[6];
    // A triangle mesh's element is its triangle (as chkElementTriangles gives it, without the call).
    const bool single = m.kind == kMeshTriangles;
    const int n = single ? 1 : chkElementTriangles(m.kind, m.facets, m.tris, j, t);
    const Vec3* corners = single ? m.tris->data[j].p : t;
    uint16_t code = 0;
    for (int h = 0; h < n; ++h) {
        b.tri[0] = corners[3 * h];
        b.tri[1] = corners[3 * h + 1];
        b.tri[2] = corners[3 * h + 2];
        // The slack covers the rounding of the plane and of the kernels' rim contacts.
        if (floor > -std::numeric_limits<double>::infinity() &&
            (length - sweepPlaneTravel(type, &b) + 1e-6 < floor ||
             length - sweepReachTravel(type, &b) + 1e-6 < floor))
            continue;
        const uint16_t c = sweepKernel(type, &b);
        if (c == kSweepFace || (c && code != kSweepFace)) code = c;
    }
    if (!code) return 0;
    *lift = length + b.best;
    *contact = b.contact;
    return 1;
}

// The largest lift over the elements of an index, best-first: an element is taken or passed over by
// the scan's own tests, and the first element in element order with the largest lift wins, as in the
// ordered scan. The bounds are those of the ordered scan, tightened by the tool's shape: a point at
// radial distance rho from the axis is reached no earlier than its axial distance less the shape's
// height ahead of its reference at rho, and no point of a box lies nearer the axis than the box
// centre's distance less the box's half width along that distance.
struct BestFirst {
    const MeshView& m;
    const KernelBlock& proto;
    Vec3 d, s;
    uint16_t type;
    double length, sd, lead, threshold, limit;
    bool stop;
    double plan[4];
    double enough;  // a lift above this answers the question asked: the walk ends
    ScanResult res{};
    int32_t bestJ = -1;
    // The motion in the frame of the boxes the walk bounds (a turned index's sectors).
    Vec3 bd = d, bs = s;
    double bsd = sd;
    double reach = proto.radius + (type == kRadiusMill ? proto.cornerRadius : 0.0);  // the tool's radius

    // Height of the tool ahead of its reference at radial distance rho (at most lead).
    double ahead(double rho) const { return shapeAhead(type, proto.radius, proto.cornerRadius, rho); }
    static double travelFloor(const Vec3& lo, const Vec3& hi, const Vec3& d, double sd) {
        return std::min(lo.x * d.x, hi.x * d.x) + std::min(lo.y * d.y, hi.y * d.y) +
               std::min(lo.z * d.z, hi.z * d.z) - sd;
    }
    // A lower bound of the distance of the box's points from the axis through s along d (may be negative).
    static double boxRho(const Vec3& lo, const Vec3& hi, const Vec3& s, const Vec3& d) {
        const Vec3 c{0.5 * (lo.x + hi.x) - s.x, 0.5 * (lo.y + hi.y) - s.y, 0.5 * (lo.z + hi.z) - s.z};
        // The centre's offset across the axis and the box's half width along it.
        const double cd = c.x * d.x + c.y * d.y + c.z * d.z;
        const Vec3 x{c.x - cd * d.x, c.y - cd * d.y, c.z - cd * d.z};
        const double off = std::sqrt(x.x * x.x + x.y * x.y + x.z * x.z);
        const double hx = 0.5 * (hi.x - lo.x), hy = 0.5 * (hi.y - lo.y), hz = 0.5 * (hi.z - lo.z);
        const double width =
            off > 0 ? (hx * std::fabs(x.x) + hy * std::fabs(x.y) + hz * std::fabs(x.z)) / off : 0.0;
        // The slack covers the rounding of the distance; the shape's height is steep near its rim.
        const double slack = 1e-7 + 1e-12 * (std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z));
        return off - width - slack;
    }
    // The ball's bound with one square root: with r0 = off - W / off (W the box's half widths along the
    // offset, times off) the distance bound is r0 - slack, and when that is positive its square is at
    // least r0^2 - slack (1 + off^2) (2 r0 <= 2 off <= 1 + off^2), which is not positive otherwise; the
    // ball's height at a smaller distance is larger.
    static double ballBound(const BestFirst& f, const Vec3& lo, const Vec3& hi) {
        const Vec3& s = f.bs;
        const Vec3& d = f.bd;
        const Vec3 c{0.5 * (lo.x + hi.x) - s.x, 0.5 * (lo.y + hi.y) - s.y, 0.5 * (lo.z + hi.z) - s.z};
        const double cd = c.x * d.x + c.y * d.y + c.z * d.z;
        const Vec3 x{c.x - cd * d.x, c.y - cd * d.y, c.z - cd * d.z};
        const double off2 = x.x * x.x + x.y * x.y + x.z * x.z;
        const double W = 0.5 * ((hi.x - lo.x) * std::fabs(x.x) + (hi.y - lo.y) * std::fabs(x.y) +
                                (hi.z - lo.z) * std::fabs(x.z));
        const double slack = 1e-7 + 1e-12 * (std::fabs(c.x) + std::fabs(c.y) + std::fabs(c.z));
        const double r2 = off2 > W ? (off2 - W) * (off2 - W) / off2 - slack * (1.0 + off2) : 0.0;
        const double far = f.reach + 1e-5;
        if (r2 > far * far) return -std::numeric_limits<double>::infinity();
        const double a = f.proto.radius;
        const double base = f.length - travelFloor(lo, hi, d, f.bsd);
        const double ahead = std::sqrt(a * a - std::clamp(r2, 0.0, a * a));
        return std::min(base + f.lead + 1e-9, base + ahead + 1e-7);
    }
    static double boundOf(void* ctx, const Vec3& lo, const Vec3& hi) {
        const BestFirst& f = *static_cast<const BestFirst*>(ctx);
        if (f.type == kBallMill) return ballBound(f, lo, hi);
        const double rho = boxRho(lo, hi, f.bs, f.bd);
        // Beyond the tool's reach no kernel finds a contact (the index's own reach test, measured across
        // the axis only, with its slack).
        if (rho > f.reach + 1e-5) return -std::numeric_limits<double>::infinity();
        const double base = f.length - travelFloor(lo, hi, f.bd, f.bsd);
        return std::min(base + f.lead + 1e-9, base + f.ahead(std::max(0.0, rho)) + 1e-7);
    }
    // A turn about z is a rigid motion: travels and distances from the axis keep, up to rounding far
    // below the bounds' slack.
    static void turnOf(void* ctx, double c, double sn) {
        BestFirst& f = *static_cast<BestFirst*>(ctx);
        f.bd = {c * f.d.x + sn * f.d.y, c * f.d.y - sn * f.d.x, f.d.z};
        f.bs = {c * f.s.x + sn * f.s.y, c * f.s.y - sn * f.s.x, f.s.z};
        f.bsd = f.bs.x * f.bd.x + f.bs.y * f.bd.y + f.bs.z * f.bd.z;
        if (c == 1.0 && sn == 0.0) f.bd = f.d, f.bs = f.s, f.bsd = f.sd;
    }
    // The elements' corners lie scattered through the mesh: their misses overlap when fetched at once.
    static void touchOf(void* ctx, int32_t j) {
        const MeshView& m = static_cast<const BestFirst*>(ctx)->m;
        const char* at = m.kind == kMeshTriangles ? reinterpret_cast<const char*>(&m.tris->data[j])
                                                  : reinterpret_cast<const char*>(&m.facets[j]);
        __builtin_prefetch(at);
        __builtin_prefetch(at + 64);
        if (m.ownBoxes) return;
        // The visit's first reads: the element's own box.
        __builtin_prefetch(&m.boxMin[j]);
        __builtin_prefetch(&m.boxMax[j]);
    }
    static double visitOf(void* ctx, int32_t j) {
        BestFirst& f = *static_cast<BestFirst*>(ctx);
        f.visit(j);
        if (f.res.found && f.res.lift > f.enough) return std::numeric_limits<double>::infinity();
        return f.res.found ? f.res.lift : f.threshold;
    }
    void visit(int32_t j) {
        Vec3 lo, hi;
        m.boxOf(j, &lo, &hi);
        // The scan's own tests (a turned index's walk leaves the plan rectangle to them).
        if (stop && hi.z < limit) return;
        if (!(hi.x > plan[0] && lo.x < plan[1] && hi.y > plan[2] && lo.y < plan[3])) return;
        const double bound = length - travelFloor(lo, hi, d, sd) + lead + 1e-9;
        if (bound < threshold || (res.found && bound < res.lift)) return;
        double lift;
        Vec3 c;
        if (!elementLift(m, j, proto, type, length, &lift, &c, res.found ? res.lift : threshold) ||
            lift < threshold)
            return;
        if (!res.found || lift > res.lift || (lift == res.lift && j < bestJ)) {
            res.found = true;
            res.lift = lift;
            res.contact = c;
            bestJ = j;
        }
    }
};

// The element sweep over one mesh; the threshold is 1e-5 for the largest lift, the tolerance for the
// first contact. A largest-lift sweep ends at the first lift above enough when only that is asked.
ScanResult scanMesh(const MeshView& m, const int32_t* cells, int32_t cellCount, const Vec3* p, const Vec3* d,
                    double length, bool earlyStop, bool flatRule, Scan mode, double threshold,
                    double enough = std::numeric_limits<double>::infinity()) {
    ScanResult res;
    if (!m.tool || !m.hasBoxes() || m.count <= 0) return res;
    const uint16_t type = m.tool->toolType;
    if (type != kBallMill && type != kEndMill && type != kRadiusMill) return res;
    const double R = m.tool->radius;
    const Vec3 s{p->x - length * d->x, p->y - length * d->y, p->z - length * d->z};
    const double bx0 = std::min(p->x, s.x) - R, bx1 = std::max(p->x, s.x) + R;
    const double by0 = std::min(p->y, s.y) - R, by1 = std::max(p->y, s.y) + R;
    bool stop = earlyStop && d->z < -1e-5;
    // The 1e-9 keeps rounding from stopping before an element whose lift is exactly the 1e-5 that counts.
    double limit = p->z - R + 1e-5 - 1e-9;
    if (flatRule && type == kEndMill && std::fabs(d->x) < 1e-5 && std::fabs(d->y) < 1e-5)
        limit = p->z + 1e-5 - 1e-9;
    KernelBlock proto{};
    proto.start = s;
    const double a = type == kRadiusMill ? R - m.tool->cornerRadius : R;
    proto.radius = proto.radius2 = a;
    proto.cornerRadius = m.tool->cornerRadius;
    sweepSetDirection(d);
    // No point of the tool lies more than lead ahead of its reference point along d, so an element
    // whose box lies entirely beyond a travel can give no larger lift: the bound skips the kernel.
    const double lead = type == kBallMill ? R : (type == kRadiusMill ? m.tool->cornerRadius : 0.0);
    const double sd = s.x * d->x + s.y * d->y + s.z * d->z;
    // A whole-mesh scan over an index visits, still in element order, only the elements that pass the
    // plan test below, are not beyond the bound and come within the tool's radius of its line (every
    // kernel's tool lies within it); the others give no contact, so the answer is the full scan's.
    std::vector<int32_t> near;
    // Without corner boxes only a turned index serves (its walk reads none; its query reads them all).
    const bool indexed = m.index && (!m.ownBoxes || meshIndexTurned(m.index));
    if (!cells && indexed && (!stop || meshIndexTopsDescend(m.index))) {
        const MeshLineQuery q{bx0, bx1,  by0,  by1, s, *d, sd + length + lead + 1e-9 - threshold,
                              R,   stop, limit};
        // The shape's bounds measure along a unit direction; any other goes the ordered way.
        const double dd = d->x * d->x + d->y * d->y + d->z * d->z;
        if (mode == Scan::Best && std::fabs(dd - 1.0) <= 1e-9) {
            BestFirst bf{m,     proto, *d,        s,     type, length,
                         sd,    lead,  threshold, limit, stop, {bx0, bx1, by0, by1},
                         enough};
            const MeshBoundVisitor v{&bf, BestFirst::boundOf, BestFirst::visitOf, BestFirst::touchOf,
                                     BestFirst::turnOf};
            meshIndexBestFirst(m.index, m.boxMin, m.boxMax, &q, &v, threshold);
            return bf.res;
        }
        if (!m.ownBoxes) {
            meshIndexQuery(m.index, m.boxMin, m.boxMax, &q, &near);
            cells = near.data();
            cellCount = static_cast<int32_t>(near.size());
            if (cellCount == 0) return res;
        }
    }
    const int32_t n = cells ? cellCount : m.count;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t j = cells ? cells[k] : k;
        if (j < 0 || j >= m.count) continue;
        if (cells && !m.ownBoxes && k + 8 < n && cells[k + 8] >= 0 && cells[k + 8] < m.count) {
            // Cell lists jump through the mesh arrays; fetching ahead hides most of the misses.
            __builtin_prefetch(&m.boxMax[cells[k + 8]]);
            __builtin_prefetch(&m.boxMin[cells[k + 8]]);
        }
        Vec3 lo, hi;
        m.boxOf(j, &lo, &hi);
        if (stop && hi.z < limit) break;
        if (!(hi.x > bx0 && lo.x < bx1 && hi.y > by0 && lo.y < by1)) continue;
        const double eMin = std::min(lo.x * d->x, hi.x * d->x) + std::min(lo.y * d->y, hi.y * d->y) +
                            std::min(lo.z * d->z, hi.z * d->z) - sd;
        const double bound = length - eMin + lead + 1e-9;
        if (bound < threshold || (res.found && bound <= res.lift)) continue;
        double lift;
        Vec3 c;
        if (!elementLift(m, j, proto, type, length, &lift, &c) || lift < threshold) continue;
        if (mode == Scan::First) {
            res.found = true;
            res.lift = lift;
            res.contact = c;
            return res;
        }
        if (!res.found || lift > res.lift) {
            res.found = true;
            res.lift = lift;
            res.contact = c;
            if (lift > enough) return res;
        }
    }
    return res;
}

int finish(const ScanResult& r, double* lift, Vec3* contact) {
    if (lift) *lift = r.found ? r.lift : 0.0;
    if (r.found && contact) *contact = r.contact;
    return r.found ? 1 : 0;
}

ScanResult dropAll(const CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p,
                   const Vec3* d, double length, double enough = std::numeric_limits<double>::infinity()) {
    ScanResult best =
        scanMesh(viewOf(model), cells, cellCount, p, d, length, true, true, Scan::Best, 1e-5, enough);
    for (const CheckModelPart* part = model->parts; part && !(best.found && best.lift > enough);
         part = part->next) {
        const ScanResult r =
            scanMesh(viewOf(part), nullptr, 0, p, d, length, false, false, Scan::Best, 1e-5, enough);
        if (r.found && (!best.found || r.lift > best.lift)) best = r;
    }
    return best;
}

int formOf(const CheckModel* model) {
    return model->kind == kMeshTriangles ? 1 : 0;
}

void setKind(Plist* list, int32_t i, uint8_t kind) {
    list->flags[i] = static_cast<uint16_t>((kind << 8) | (list->flags[i] & 0xff));
}
uint8_t kindOf(const Plist* list, int32_t i) {
    return static_cast<uint8_t>(list->flags[i] >> 8);
}

// The turn test of the refinement on points (a, b, c): true requests a point.
bool turnRequest(const Plist* list, int32_t a, int32_t b, int32_t c, bool triForm, double stepLength,
                 double k) {
    if (a < 0 || b < 0 || c < 0 || a >= list->count || b >= list->count || c >= list->count) return false;
    const Vec3& pa = list->points[a];
    const Vec3& pb = list->points[b];
    const Vec3& pc = list->points[c];
    const Vec3 u{pb.x - pa.x, pb.y - pa.y, pb.z - pa.z};
    const Vec3 w{pc.x - pb.x, pc.y - pb.y, pc.z - pb.z};
    const double lu = vecLen3D(&u), lw = vecLen3D(&w);
    if (lu < 1e-5 || lw < 1e-5) return false;
    const double cs = vecDot3D(&u, &w) / (lu * lw);
    if (!triForm) return cs <= 0.996;
    if (cs <= (lu >= stepLength - 1e-5 ? 0.996 : 0.985)) return true;
    return cs < 0.99999 && std::hypot(w.x, w.y) * k < std::fabs(w.z);
}

}  // namespace

void initChkParams(CheckParams* p) {
    if (!p) return;
    *p = CheckParams{0, 10.0, 0, 0, 0, 0, 1, 0, 0, 1, 0};
}

void meshSetNoRefine(int32_t flag) {
    gTriSw.noRefine = flag;
}
void meshSetReferenceHook(void (*hook)(const Vec3*)) {
    gReferenceHook = hook;
}

int meshLastContact(int32_t kind, Vec3* out) {
    const int f = kind == kMeshTriangles ? 1 : 0;
    if (!gHaveLast[f]) return 0;
    if (out) *out = gLastContact[f];
    return 1;
}

void meshResetState() {
    gFacetSw = kFacetDefaults;
    gTriSw = kTriDefaults;
    gPullNewPoints = 0;
    gReferenceHook = nullptr;
    gHaveLast[0] = gHaveLast[1] = false;
}
static const RunReset gRunReset(kRunResetCollision, "mesh", meshResetState);

int meshDropTool(const CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p,
                 const Vec3* d, double length, double* lift, Vec3* contact) {
    if (!model || !p || !d) return finish(ScanResult{}, lift, contact);
    return finish(scanMesh(viewOf(model), cells, cellCount, p, d, length, true, true, Scan::Best, 1e-5), lift,
                  contact);
}

int meshDropToolAlt(const CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p,
                    const Vec3* d, double length, double* lift, Vec3* contact) {
    if (!model || !p || !d) return finish(ScanResult{}, lift, contact);
    return finish(dropAll(model, cells, cellCount, p, d, length), lift, contact);
}

int meshDropToolAbove(const CheckModel* model, const Vec3* p, const Vec3* d, double length, double above) {
    if (!model || !p || !d) return 0;
    const ScanResult r =
        model->parts ? dropAll(model, nullptr, 0, p, d, length, above)
                     : scanMesh(viewOf(model), nullptr, 0, p, d, length, true, true, Scan::Best, 1e-5, above);
    return r.found && r.lift > above ? 1 : 0;
}

int meshContactAlongDir(const CheckModel* model, const int32_t* cells, int32_t cellCount, const Vec3* p,
                        const Vec3* d, double length, Vec3* contact) {
    if (!model || !p || !d) return 0;
    return finish(
        scanMesh(viewOf(model), cells, cellCount, p, d, length, true, false, Scan::First, model->tolerance),
        nullptr, contact);
}

int meshContactPoint(const CheckModel* model, const Vec3* p, const Vec3* axis, double length,
                     const Grid2D* grid, double angle) {
    if (!model || !p || !axis) return kMeshFree;
    const Vec3 d{-axis->x, -axis->y, -axis->z};
    const int32_t* cells = nullptr;
    int32_t cellCount = 0;
    if (grid) {
        const double k = 0.5 * length * std::sin(angle);
        const GridCell* cell = grid2DCellAt(grid, p->x + axis->x * k, p->y + axis->y * k);
        if (cell) {
            cells = cell->items;
            cellCount = cell->count;
        }
    }
    const ScanResult r = dropAll(model, cells, cellCount, p, &d, length);
    if (!r.found || r.lift < model->tolerance) return kMeshFree;
    const Vec3 cp{r.contact.x - p->x, r.contact.y - p->y, r.contact.z - p->z};
    if (vecDot3D(&cp, axis) < 1e-5) return kMeshFree;
    gLastContact[formOf(model)] = r.contact;
    gHaveLast[formOf(model)] = true;
    return kMeshCollision;
}

int meshContactPoints(CheckModel* model, Plist* list, double length, const Grid2D* grid, double angle) {
    if (!model || !list || !model->tool) return kMeshFree;
    // The thinner tool lets a path that rides on the mesh graze it without counting as a collision.
    const double saved = model->tool->radius;
    model->tool->radius = std::max(0.0, saved - 0.01);
    int result = kMeshFree;
    const bool facetForm = model->kind != kMeshTriangles;
    for (int32_t i = 0; i < list->count; ++i) {
        const uint8_t kind = kindOf(list, i);
        if (kind == kPointLink || (facetForm && kind == kPointMarked)) continue;
        const Vec3 a = list->vectors ? list->vectors[i] : Vec3{0, 0, 1};
        if (meshContactPoint(model, &list->points[i], &a, length, grid, angle) == kMeshCollision) {
            if (gReferenceHook) gReferenceHook(&gLastContact[formOf(model)]);
            list->count = i;
            result = kMeshCollision;
            break;
        }
    }
    model->tool->radius = saved;
    return result;
}

int meshCollisionPlist(CheckModel* model, Plist* list, double length, const int32_t* cells, int32_t cellCount,
                       const CheckParams* params) {
    if (!model || !list) return kMeshNoMemory;
    const bool triForm = model->kind == kMeshTriangles;
    Switches& sw = triForm ? gTriSw : gFacetSw;
    struct Restore {
        Switches& sw;
        Switches saved;
        int32_t pull;
        ~Restore() {
            sw = saved;
            gPullNewPoints = pull;
        }
    } restore{sw, sw, gPullNewPoints};
    if (params) {
        if (params->limitLift >= 0) {
            sw.limitLift = params->limitLift;
            sw.maxLift = params->maxLift;
        }
        if (params->fixedDir >= 0) sw.fixedDir = params->fixedDir;
        if (params->pullNewPoints >= 0) gPullNewPoints = params->pullNewPoints;
        if (params->skipLast >= 0) sw.skipLast = params->skipLast;
        if (params->noRefine >= 0) sw.noRefine = params->noRefine;
        if (params->extraTest >= 0) sw.extraTest = params->extraTest;
        if (params->fineGap >= 0) sw.fineGap = params->fineGap;
        if (params->splitLong >= 0) sw.splitLong = params->splitLong;
        if (params->markLifted >= 0) sw.markLifted = params->markLifted;
        if (params->markRest >= 0) sw.markRest = params->markRest;
    }
    Plist* work = plistCreate(list->count + 1, 1);
    if (!work) return kMeshNoMemory;
    struct FreeWork {
        Plist* p;
        ~FreeWork() { plistFree(p); }
    } freeWork{work};
    // The copy's axes are read for every inserted point: a copy made without them (memory short) is no copy.
    if (!work->vectors || plistCopyPoints(work, list) != 1) return kMeshNoMemory;

    const bool hasVec = list->vectors != nullptr;
    const bool markLifted = !triForm && sw.markLifted;
    bool anyContact = false;
    auto liftPoint = [&](int32_t i) {
        const Vec3 u = (sw.fixedDir || !hasVec) ? Vec3{0, 0, 1} : list->vectors[i];
        const Vec3 d{-u.x, -u.y, -u.z};
        double h;
        Vec3 c;
        if (chkModelPath(model, cells, cellCount, &list->points[i], &d, length, &h, &c) != 1) return;
        anyContact = true;
        if (!sw.limitLift || h <= sw.maxLift) {
            list->points[i].x += h * u.x;
            list->points[i].y += h * u.y;
            list->points[i].z += h * u.z;
            if (markLifted) setKind(list, i, kPointTempLink);
        } else {
            setKind(list, i, kPointLink);
        }
    };

    for (int32_t i = 0; i < list->count; ++i) {
        if (callAbortHook()) return kMeshCollision;
        if (kindOf(list, i) == kPointLink) continue;
        if (!triForm && sw.skipLast && i == list->count - 1) continue;
        liftPoint(i);
    }

    // A tolerance of 0 or less would never stop the halving of the parameter gaps.
    const double tol = std::max(model->tolerance, 0.0);
    if (!sw.noRefine && (!triForm || anyContact)) {
        const uint16_t type = model->tool ? model->tool->toolType : 0;
        double k = 5.0;
        if (type == kEndMill)
            k = 1.5;
        else if (type == kRadiusMill && model->tool->radius < model->stepLength)
            k = 3.0;
        const double gapLimit = sw.fineGap ? 0.1 * tol : tol;
        bool inserted = true;
        while (inserted) {
            inserted = false;
            if (callAbortHook()) return kMeshCollision;
            if (list->count < 2) break;
            int32_t i = 1;
            while (i < list->count) {
                const uint8_t ka = kindOf(list, i - 1), kb = kindOf(list, i);
                const bool link = ka == kPointLink || kb == kPointLink;
                if (link && !sw.extraTest) {
                    ++i;
                    continue;
                }
                const double gap = std::fabs(list->parameters[i] - list->parameters[i - 1]);
                const double dist = dist3D(&list->points[i - 1], &list->points[i]);
                int request = 0;
                if (!triForm) {
                    const bool lifted = ka == kPointTempLink || kb == kPointTempLink || link;
                    if ((ka == kPointLink && kb == kPointLink) ||
                        (sw.markLifted && !lifted && sw.extraTest) || dist < tol) {
                        ++i;
                        continue;
                    }
                    if (sw.splitLong && dist > model->stepLength + 1e-5) request = 1;
                    // A midpoint the list takes for an end would be stored out of order and split for ever.
                    if (gap < gapLimit + 1e-5 || !plistGapSplits(gap)) request = -1;
                } else if (gap < tol + 1e-5 || !plistGapSplits(gap)) {
                    ++i;
                    continue;
                }
                if (request == 0) {
                    if (sw.extraTest && plistKindChanges(list, i - 1, i))
                        request = 1;
                    else if (turnRequest(list, i - 1, i, i + 1, triForm, model->stepLength, k) ||
                             turnRequest(list, i, i - 1, i - 2, triForm, model->stepLength, k))
                        request = 1;
                }
                if (request != 1) {
                    ++i;
                    continue;
                }
                const double tm = 0.5 * (list->parameters[i - 1] + list->parameters[i]);
                // The working copy holds the points as they were before lifting, index for index.
                const Vec3& wa = work->points[i - 1];
                const Vec3& wb = work->points[i];
                const Vec3 pt{0.5 * (wa.x + wb.x), 0.5 * (wa.y + wb.y), 0.5 * (wa.z + wb.z)};
                const Vec3 vec{work->vectors[i - 1].x + work->vectors[i].x,
                               work->vectors[i - 1].y + work->vectors[i].y,
                               work->vectors[i - 1].z + work->vectors[i].z};
                Vec3 unit;
                if (vecNormalize3D(&vec, &unit) != 1) unit = work->vectors[i];
                if (plistInsert(work, tm, &pt, 0, &unit, 0) < 0) return kMeshNoMemory;
                const int32_t idx = plistInsert(list, tm, &pt, 0, hasVec ? &unit : nullptr, 0);
                if (idx < 0) return kMeshNoMemory;
                if (hasVec && gPullNewPoints && !sw.fixedDir) {
                    double m = 1e300;
                    for (int32_t nb : {idx - 1, idx + 1}) {
                        double sd = 0.0;  // a missing neighbour
                        if (nb >= 0 && nb < list->count) {
                            const Vec3 dv{list->points[nb].x - pt.x, list->points[nb].y - pt.y,
                                          list->points[nb].z - pt.z};
                            sd = vecDot3D(&dv, &unit);
                        }
                        m = std::min(m, sd);
                    }
                    if (m < -1e-5) {
                        list->points[idx].x += m * unit.x;
                        list->points[idx].y += m * unit.y;
                        list->points[idx].z += m * unit.z;
                    }
                }
                liftPoint(idx);
                inserted = true;
                i = std::max<int32_t>(idx - 1, 1);
            }
        }
    }

    if (!triForm) {
        for (int32_t i = 0; i < list->count; ++i) {
            if (kindOf(list, i) == kPointTempLink)
                setKind(list, i, kPointOrdinary);
            else if (sw.markRest)
                setKind(list, i, kPointMarked);
        }
        return 1;
    }
    return anyContact ? 1 : 0;
}
