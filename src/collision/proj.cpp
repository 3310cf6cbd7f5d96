#include "collision/proj.h"

#include <algorithm>
#include <cmath>

#include "kernel/base/runreset.h"

namespace {

struct Source {
    const Facet98* facets;
    int32_t facetCount;
    const TriList* tris;
    const Vec3* boxMin;
    const Vec3* boxMax;
    LiftBoxTable* boxTable;
    const Vec2* rotMin;
    const Vec2* rotMax;
};

struct Engine {
    bool facetForm;
    Source src;
    Source saved;
    double zMin, zMax;
    int32_t pointFlag;
    ProjAccept accept;
    double cos1, cos2;
    double offset;
    double lowR, highR, lowH, highH, growth;
    int32_t taperLoaded;
    int32_t reload;
};

struct ToolGeoGlobals {
    double lowR, highR, lowH, highH, growth;
    int32_t taperFlag;
};

Engine engineDefaults(bool facetForm) {
    Engine e{};
    e.facetForm = facetForm;
    e.zMin = -10000;
    e.zMax = 10000;
    e.accept = facetForm ? projA_seg_accept : projB_seg_accept;
    e.cos1 = 0.985;
    e.cos2 = 0.996;
    return e;
}

Engine gA = engineDefaults(true);
Engine gB = engineDefaults(false);
ToolGeoGlobals gToolGeo{};
const Vec2* gRotMin = nullptr;
const Vec2* gRotMax = nullptr;
const Vec3* gLiftMin = nullptr;
const Vec3* gLiftMax = nullptr;
int32_t gProfMode = 1;
int32_t gPlungeFlag = 0;

int32_t elementCount(const Engine& e) {
    return e.facetForm ? (e.src.facets ? e.src.facetCount : 0) : (e.src.tris ? e.src.tris->count : 0);
}

void saveState(Engine& e, const CheckModelPart* part) {
    e.saved = e.src;
    e.saved.rotMin = gRotMin;
    e.saved.rotMax = gRotMax;
    e.src = Source{};
    if (part) {
        e.src.facets = part->facets;
        e.src.facetCount = part->facetCount;
        e.src.tris = part->triangles;
        e.src.boxMin = part->boxMin;
        e.src.boxMax = part->boxMax;
    }
    gRotMin = gRotMax = nullptr;
    if (e.taperLoaded) e.reload = 1;
}

void restoreState(Engine& e) {
    e.src = e.saved;
    gRotMin = e.saved.rotMin;
    gRotMax = e.saved.rotMax;
    if (e.taperLoaded) e.reload = 1;
}

void copyToolGeo(Engine& e, int32_t flag) {
    e.lowR = gToolGeo.lowR;
    e.highR = gToolGeo.highR;
    e.lowH = gToolGeo.lowH;
    e.highH = gToolGeo.highH;
    e.growth = gToolGeo.growth;
    if (flag == 1) e.taperLoaded = 1;
}

// Drops the tool on element j: 0, 1 (edge or vertex, or any taper-ring contact) or 2 (face).
int dropElement(const Engine& e, int32_t j, const ToolGeom* tool, double x, double y, double z0,
                double* height, Vec3* contact, int32_t* cls) {
    Vec3 t[6];
    const int nt = e.facetForm ? chkElementTriangles(kMeshFacets, e.src.facets, nullptr, j, t)
                               : chkElementTriangles(kMeshTriangles, nullptr, e.src.tris, j, t);
    const uint16_t type = tool->toolType;
    const double R = tool->radius, r = tool->cornerRadius;
    int combined = 0;
    for (int h = 0; h < nt; ++h) {
        DropState st{};
        st.tri[0] = t[3 * h];
        st.tri[1] = t[3 * h + 1];
        st.tri[2] = t[3 * h + 2];
        st.x = x;
        st.y = y;
        st.z0 = z0;
        st.best = *height;
        st.radius = st.radius2 = type == kRadiusMill ? R - r : R;
        st.cornerRadius = r;
        st.spare[2] = -1.0;
        int res = 0;
        switch (type) {
            case kBallMill:
                res = toolPartLift3(&st);
                break;
            case kEndMill:
                res = toolPartLift2(&st);
                break;
            case kRadiusMill:
                res = toolPartLift1(&st);
                break;
            case kToolNoBoxLift:
                res = e.taperLoaded ? dropcut_triangle(&st, e.highR, 0.5 * tool->size2, e.highH,
                                                       tool->height + tool->size6)
                                    : dropcut_triangle(&st, R, 0.5 * tool->size2, tool->height,
                                                       tool->height + tool->size6);
                break;
            default:
                break;
        }
        if (res > 0) {
            *height = st.best;
            *contact = st.contact;
            *cls = st.classWord;
            // A radius mill standing on its flat underside: the contact is reported on the axis.
            if (e.facetForm && type == kRadiusMill && std::fabs(*height - (contact->z + r)) < 1e-5) {
                contact->x = x;
                contact->y = y;
            }
        }
        if (e.taperLoaded && type != kToolNoBoxLift) {
            DropState ring = st;
            ring.best = *height;
            if (dropcut_triangle(&ring, e.lowR, e.highR, e.lowH, e.highH)) {
                *height = ring.best;
                *contact = ring.contact;
                *cls = ring.classWord;
                res = 1;
            }
        }
        if (res == 2 || (res && combined != 2)) combined = res;
    }
    return combined;
}

double walkBound(const ToolGeom* tool, double height) {
    switch (tool->toolType) {
        case kBallMill:
            return height - tool->radius;
        case kRadiusMill:
            return height - tool->cornerRadius;
        case kToolNoBoxLift:
            return height + tool->height;
        default:
            return height;
    }
}

// False when the tool resting on the element's box cannot rise above height: the element can give no
// higher contact and its kernel is skipped.
bool reachesAbove(const ToolGeom* tool, const Vec3& lo, const Vec3& hi, double x, double y, double height) {
    Vec3 p{x, y, height};
    switch (tool->toolType) {
        case kBallMill:
            return ballLiftOverBox(&lo, &hi, tool->radius, &p) && p.z > height;
        case kEndMill:
            return radiusLiftOverBox(&lo, &hi, tool->radius, &p) && p.z > height;
        case kRadiusMill:
            return torusLiftOverBox(&lo, &hi, tool->radius, tool->cornerRadius, &p) && p.z > height;
        default:
            return true;
    }
}

int place(Engine& e, Vec3* point, double z0, const ToolGeom* tool, const int32_t* list, int32_t count,
          Vec3* contact, int32_t* classOut) {
    if (classOut) *classOut = 0;
    if (!point || !tool) return kProjNone;
    if (e.taperLoaded && e.reload) {
        toolgeo_set(tool);
        copyToolGeo(e, 1);
        e.reload = 0;
    }
    const uint16_t type = tool->toolType;
    const double R = tool->radius, x = point->x, y = point->y;
    const int32_t nAll = elementCount(e);
    double height = point->z;
    bool touched = false, recorded = false, boxWalk = false;
    Vec3 c{};
    int32_t cls = 0;
    auto drop = [&](int32_t j) {
        double h = height;
        Vec3 cc{};
        int32_t k = 0;
        const int res = dropElement(e, j, tool, x, y, z0, &h, &cc, &k);
        if (res < 1) return;
        touched = true;
        height = std::max(height, h);
        c = cc;
        cls = k;
        if (res == 2 && h >= e.zMin && h <= e.zMax) recorded = true;
    };
    const Vec3* liftMin = e.facetForm ? e.src.boxMin : gLiftMin;
    const Vec3* liftMax = e.facetForm ? e.src.boxMax : gLiftMax;
    if (e.src.boxTable && type != kToolNoBoxLift && liftMin && liftMax) {
        const Vec3 at{x, y, height};
        const int n = toolLiftOverBoxes(e.src.boxTable, liftMin, liftMax, nAll, list, count, tool, &at,
                                        e.src.rotMin, e.src.rotMax);
        if (n >= 0) {
            boxWalk = true;
            for (int k = 0; k < n; ++k) {
                const LiftBoxEntry& en = e.src.boxTable->entries[k];
                if (en.key < height) break;
                drop(en.element);
            }
        }
    }
    double bound = walkBound(tool, height);
    if (!boxWalk && e.src.boxMin && e.src.boxMax) {
        const double half = type == kToolNoBoxLift ? 0.5 * tool->size2 : (e.facetForm ? R + e.growth : R);
        const double rx = x * 0.70710678 - y * 0.70710678, ry = x * 0.70710678 + y * 0.70710678;
        const int32_t n = list ? count : nAll;
        for (int32_t k = 0; k < n; ++k) {
            const int32_t j = list ? list[k] : k;
            if (j < 0 || j >= nAll) continue;
            if (list && k + 8 < n && list[k + 8] >= 0 && list[k + 8] < nAll) {
                // Cell lists jump through the element arrays; fetching ahead hides most of the misses.
                __builtin_prefetch(&e.src.boxMax[list[k + 8]]);
                __builtin_prefetch(&e.src.boxMin[list[k + 8]]);
            }
            const Vec3& lo = e.src.boxMin[j];
            const Vec3& hi = e.src.boxMax[j];
            if (e.facetForm && hi.z < bound) break;
            if (hi.x < x - half || lo.x > x + half || hi.y < y - half || lo.y > y + half) continue;
            if (!e.facetForm && hi.z < bound) break;
            if (touched && !e.taperLoaded && !reachesAbove(tool, lo, hi, x, y, height)) continue;
            if (e.src.rotMin && e.src.rotMax &&
                (e.src.rotMax[j].x < rx - half || e.src.rotMin[j].x > rx + half ||
                 e.src.rotMax[j].y < ry - half || e.src.rotMin[j].y > ry + half))
                continue;
            drop(j);
            bound = walkBound(tool, height);
        }
    }
    if (!touched) {
        if (!e.pointFlag) return kProjNone;
        const double ball = type == kBallMill ? R : 0.0;
        if (contact) *contact = {x, y, (boxWalk ? height : bound) - ball};
        return (!e.facetForm && type == kToolNoBoxLift && !boxWalk) ? kProjNone : kProjContact;
    }
    point->z = height;
    if (contact) *contact = c;
    if (classOut) *classOut = cls;
    return recorded ? kProjCharged : kProjContact;
}

int segAccept(const Engine& e, const Plist* l, int32_t i, int32_t j, int32_t k, double length, double ratio) {
    if (!l || i < 0 || j < 0 || k < 0 || i >= l->count || j >= l->count || k >= l->count) return 0;
    const Vec3& a = l->points[i];
    const Vec3& b = l->points[j];
    const Vec3& c = l->points[k];
    const Vec3 d1{b.x - a.x, b.y - a.y, b.z - a.z}, d2{c.x - b.x, c.y - b.y, c.z - b.z};
    const double l1 = vecLen3D(&d1), l2 = vecLen3D(&d2);
    if (l1 <= 1e-5 || l2 <= 1e-5) return 0;
    const double u1z = d1.z / l1, u2z = d2.z / l2;
    const double cs = vecDot3D(&d1, &d2) / (l1 * l2);
    const double thr = l1 >= length - 1e-5 ? e.cos2 : e.cos1;
    if (cs <= thr && std::fabs(u1z) >= 1e-5) {
        if (e.facetForm) return 1;
        if (u1z > 0 ? u2z < u1z : u2z > u1z) return 1;
    }
    if (cs <= 0.99999 && std::fabs(d2.z) > ratio * std::hypot(d2.x, d2.y)) return 1;
    return 0;
}

}  // namespace

void projA_set_params(const Facet98* facets, int32_t count, const Vec3* boxMin, const Vec3* boxMax,
                      LiftBoxTable* boxTable, double zMin, double zMax, int32_t pointFlag) {
    gA.src.facets = facets;
    gA.src.facetCount = count;
    gA.src.tris = nullptr;
    gA.src.boxMin = boxMin;
    gA.src.boxMax = boxMax;
    gA.src.boxTable = boxTable;
    gA.src.rotMin = gRotMin;
    gA.src.rotMax = gRotMax;
    gA.zMin = zMin;
    gA.zMax = zMax;
    gA.pointFlag = pointFlag;
}

void projB_set_params(const TriList* triangles, const Vec3* boxMin, const Vec3* boxMax,
                      LiftBoxTable* boxTable, double zMin, double zMax, int32_t pointFlag) {
    gB.src.facets = nullptr;
    gB.src.facetCount = 0;
    gB.src.tris = triangles;
    gB.src.boxMin = boxMin;
    gB.src.boxMax = boxMax;
    gB.src.boxTable = boxTable;
    gB.src.rotMin = gRotMin;
    gB.src.rotMax = gRotMax;
    gB.zMin = zMin;
    gB.zMax = zMax;
    gB.pointFlag = pointFlag;
}

void projA_save_state(const CheckModelPart* part) {
    saveState(gA, part);
}
void projA_restore_state() {
    restoreState(gA);
}
void projB_save_state(const CheckModelPart* part) {
    saveState(gB, part);
}
void projB_restore_state() {
    restoreState(gB);
}

void toolgeo_set(const ToolGeom* tool) {
    if (!tool) return;
    const double a = tool->taperAngle * 0.017453292519943295;
    const double r = tool->toolType == kBallMill ? tool->radius
                                                 : (tool->toolType == kRadiusMill ? tool->cornerRadius : 0.0);
    gToolGeo.lowH = -std::sin(a) * r;
    gToolGeo.highH = tool->height;
    gToolGeo.lowR = (tool->radius - r) + std::cos(a) * r;
    gToolGeo.highR = (gToolGeo.highH - gToolGeo.lowH) * std::tan(a) + gToolGeo.lowR;
    gToolGeo.growth = gToolGeo.highR - tool->radius;
    gToolGeo.taperFlag = tool->taperFlag;
}

void get_toolgeo_globals(double out[5], int32_t* taperFlag) {
    if (out) {
        out[0] = gToolGeo.lowR;
        out[1] = gToolGeo.highR;
        out[2] = gToolGeo.lowH;
        out[3] = gToolGeo.highH;
        out[4] = gToolGeo.growth;
    }
    if (taperFlag) *taperFlag = gToolGeo.taperFlag;
}

void projA_set_toolgeo(int32_t flag) {
    copyToolGeo(gA, flag);
}
void projB_set_toolgeo(int32_t flag) {
    copyToolGeo(gB, flag);
}
void projB_set_offset(double offset) {
    gB.offset = offset;
}
double projB_get_offset() {
    return std::fabs(gB.offset) >= 1e-5 ? gB.offset : 0.0;
}

int projA_place(Vec3* point, double z0, const ToolGeom* tool, const int32_t* list, int32_t count,
                Vec3* contact, int32_t* classOut) {
    return place(gA, point, z0, tool, list, count, contact, classOut);
}

int projB_place(Vec3* point, double z0, const ToolGeom* tool, const int32_t* list, int32_t count,
                Vec3* contact, int32_t* classOut) {
    return place(gB, point, z0, tool, list, count, contact, classOut);
}

int projA_seg_accept(const Plist* list, int32_t i, int32_t j, int32_t k, double length, double ratio) {
    return segAccept(gA, list, i, j, k, length, ratio);
}

int projB_seg_accept(const Plist* list, int32_t i, int32_t j, int32_t k, double length, double ratio) {
    return segAccept(gB, list, i, j, k, length, ratio);
}

ProjAccept projB_accept() {
    return gB.accept;
}

void projB_set_cosines(double first, double second) {
    gB.cos1 = first;
    gB.cos2 = second;
}

int projB_kind_test(const Plist* path, int32_t i) {
    if (!path || i < 1 || i >= path->count) return 0;
    return plistKindChanges(path, i - 1, i) ? 1 : 0;
}

void setLiftBoxes(const Vec3* boxMin, const Vec3* boxMax) {
    gLiftMin = boxMin;
    gLiftMax = boxMax;
}

int toolLiftOverBoxes1(LiftBoxTable* table, const int32_t* list, int32_t count, const ToolGeom* tool,
                       const Vec3* point) {
    return toolLiftOverBoxes(table, gA.src.boxMin, gA.src.boxMax, elementCount(gA), list, count, tool, point,
                             gA.src.rotMin, gA.src.rotMax);
}

int toolLiftOverBoxes2(LiftBoxTable* table, const int32_t* list, int32_t count, const ToolGeom* tool,
                       const Vec3* point) {
    return toolLiftOverBoxes(table, gLiftMin, gLiftMax, elementCount(gB), list, count, tool, point,
                             gB.src.rotMin, gB.src.rotMax);
}

void projSetRotatedBoxes(const Vec2* lo, const Vec2* hi) {
    gRotMin = lo;
    gRotMax = hi;
    gA.src.rotMin = gB.src.rotMin = lo;
    gA.src.rotMax = gB.src.rotMax = hi;
}

void set_prof_mode(int32_t flag) {
    gProfMode = flag;
}
int32_t get_prof_mode() {
    return gProfMode;
}
void set_plunge_flag(int32_t flag) {
    gPlungeFlag = flag;
}
int32_t get_plunge_flag() {
    return gPlungeFlag;
}

void projResetState() {
    gA = engineDefaults(true);
    gB = engineDefaults(false);
    gToolGeo = ToolGeoGlobals{};
    gRotMin = gRotMax = nullptr;
    gLiftMin = gLiftMax = nullptr;
    gProfMode = 1;
    gPlungeFlag = 0;
}
static const RunReset gRunReset(kRunResetCollision, "proj", projResetState);
