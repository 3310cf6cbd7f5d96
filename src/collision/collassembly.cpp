// Tool-assembly collision check.
#include "collision/collassembly.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "collision/conesection.h"
#include "collision/polymesh.h"
#include "collision/tprof.h"
#include "kernel/base/msg.h"

namespace {

struct AsmState {
    FTriList* obstacleMesh[4];
    CollModel* obstacle[4];
    bool ownsObstacle[4];  // several parts may name one file: it is loaded once
    FTriList* partMesh[4];
    CollAssembly assembly;
    CollAssemblySlot slot;
    bool built;
    double toolRadius;
    double maxSideAngle;
    CheckModel* cutterModel;
    int32_t cutterShrunk;
    Grid2D* cutterGrid;
    double cutLength;
    bool cone;
    double coneLowZ, coneLowRadius, coneHighZ, coneHighRadius;
    double tolA, tolB;
};

AsmState gAsm{};
void (*gModelFlagHook)(int32_t) = nullptr;
void (*gReferenceHook)(const Vec3*) = nullptr;

const int32_t kPartCodeOf[4] = {kPartCutting, kPartExtension, kPartHolder, kPartHead};
const int32_t kResultOf[4] = {kCollCuttingPart, kCollExtension, kCollHolder, kCollHead};

bool fileOpens(const char* name) {
    if (!name || !*name) return false;
    FILE* f = std::fopen(name, "rb");
    if (!f) return false;
    std::fclose(f);
    return true;
}

bool emptyProfile(const PartProfile* p) {
    return !p || p->count < 1;
}

double lastTop(const PartProfile* p, double fallback) {
    return emptyProfile(p) ? fallback : p->segs[p->count - 1].z1;
}

// The same outline in pieces no longer than kPieceLength: a long revolved sliver has a box that, once
// the part is turned, overlaps every obstacle triangle along it. Null when memory is short.
constexpr double kPieceLength = 8.0;

PartProfile* splitProfile(const PartProfile* p) {
    PartProfile* out = tprof_create(p->count * 4 + 3);
    for (int32_t i = 0; out && i < p->count; ++i) {
        const PartSeg& g = p->segs[i];
        const int n = std::max(1, int(std::ceil(std::hypot(g.r1 - g.r0, g.z1 - g.z0) / kPieceLength)));
        for (int j = 0; j < n; ++j) {
            const double t0 = double(j) / n, t1 = double(j + 1) / n;
            const PartSeg piece{g.r0 + (g.r1 - g.r0) * t0, g.z0 + (g.z1 - g.z0) * t0,
                                j + 1 == n ? g.r1 : g.r0 + (g.r1 - g.r0) * t1,
                                j + 1 == n ? g.z1 : g.z0 + (g.z1 - g.z0) * t1};
            if (tprof_add_seg(out, &piece, p->flags[i]) < 0) {
                tprof_free(out);
                return nullptr;
            }
        }
    }
    return out;
}

// Offsets, shifts and revolves a part profile; false when the clearance offset failed.
bool buildPart(int32_t part, PartProfile* profile, double allowance, double clearance, double margin,
               bool angle, int32_t message) {
    bool ok = true;
    if (emptyProfile(profile)) return true;
    if (tprof_offset(profile, clearance) < 0) {
        if (message) msgDouble(9, message, "* Error computing offset", 0.0);
        ok = false;
    }
    if (std::fabs(allowance) >= 1e-5) tprof_shift(profile, allowance);
    if (angle) gAsm.maxSideAngle = std::fmax(gAsm.maxSideAngle, tprof_max_angle(profile));
    PartProfile* fine = splitProfile(profile);
    gAsm.partMesh[part] = coll_model_from_tprof(fine ? fine : profile, margin);
    tprof_free(fine);
    return ok && gAsm.partMesh[part];
}

// Reorders triangles so that every run the tree pairs into one node, [j 2^L, (j + 1) 2^L), is a half
// of its parent's run split across the longest extent of the centroids: the bottom-up pairing then
// builds a tight tree over a mesh that arrives in file or grid order.
void splitOrder(std::vector<int32_t>& idx, const std::vector<float>& c, size_t s, size_t e, size_t span) {
    if (e - s < 2 || span < 2) return;
    const size_t mid = s + span / 2;
    if (mid >= e) return splitOrder(idx, c, s, e, span / 2);
    float lo[3] = {1e30f, 1e30f, 1e30f}, hi[3] = {-1e30f, -1e30f, -1e30f};
    for (size_t i = s; i < e; ++i)
        for (int k = 0; k < 3; ++k) {
            const float v = c[3 * size_t(idx[i]) + k];
            lo[k] = v < lo[k] ? v : lo[k];
            hi[k] = v > hi[k] ? v : hi[k];
        }
    int axis = 0;
    for (int k = 1; k < 3; ++k)
        if (hi[k] - lo[k] > hi[axis] - lo[axis]) axis = k;
    std::nth_element(idx.begin() + long(s), idx.begin() + long(mid), idx.begin() + long(e),
                     [&](int32_t a, int32_t b) { return c[3 * size_t(a) + axis] < c[3 * size_t(b) + axis]; });
    splitOrder(idx, c, s, mid, span / 2);
    splitOrder(idx, c, mid, e, span / 2);
}

void spatialOrder(FTriList* mesh) {
    const size_t n = size_t(mesh->count);
    if (n < 3) return;
    try {
        std::vector<int32_t> idx(n);
        std::vector<float> c(3 * n);
        for (size_t i = 0; i < n; ++i) {
            idx[i] = int32_t(i);
            const float* v = mesh->data[i].v;
            for (int k = 0; k < 3; ++k) c[3 * i + k] = (v[k] + v[3 + k] + v[6 + k]) / 3;
        }
        size_t span = 1;
        while (span < n) span *= 2;
        splitOrder(idx, c, 0, n, span);
        std::vector<FTriangle> sorted(n);
        for (size_t i = 0; i < n; ++i) sorted[i] = mesh->data[idx[i]];
        std::copy(sorted.begin(), sorted.end(), mesh->data);
    } catch (...) {
        // Memory short: the mesh keeps its order, the tree is merely looser.
    }
}

int loadObstacles(const CollSetup* s) {
    const char* names[4] = {s->cuttingFile, s->extensionFile, s->holderFile, s->headFile};
    for (int32_t i = 0; i < 4; ++i) {
        const char* name = names[i];
        if (i == kAsmHead ? !(s->checkHead && coll_file_readable(name)) : !fileOpens(name)) continue;
        for (int32_t j = 0; j < i && !gAsm.obstacleMesh[i]; ++j)
            if (gAsm.obstacleMesh[j] && names[j] && std::strcmp(names[j], name) == 0)
                gAsm.obstacleMesh[i] = gAsm.obstacleMesh[j], gAsm.obstacle[i] = gAsm.obstacle[j];
        if (gAsm.obstacleMesh[i]) continue;
        gAsm.obstacleMesh[i] = coll_obstacle_from_file(name, 0, gAsm.toolRadius);
        if (!gAsm.obstacleMesh[i]) return -1;
        gAsm.ownsObstacle[i] = true;
        // A named obstacle without a triangle (an exchange file whose meshes are empty) would let every
        // check pass unseen.
        if (gAsm.obstacleMesh[i]->count < 1) {
            msgText(9, kMsgObstacleNotLoaded, "* Error: Missing Polymesh file %s", name);
            return -1;
        }
        spatialOrder(gAsm.obstacleMesh[i]);
        gAsm.obstacle[i] = collmodel_create(gAsm.obstacleMesh[i]);
        if (!gAsm.obstacle[i]) return -1;
    }
    return 1;
}

void placeParts(const Vec3* point, int32_t full) {
    for (int32_t i = 0; i < kAsmParts; ++i)
        if (gAsm.slot.parts[i] && (full || (i != kAsmCutting && i != kAsmExtra)))
            collmodel_set_pos(gAsm.slot.parts[i], static_cast<float>(point->x), static_cast<float>(point->y),
                              static_cast<float>(point->z));
}

int32_t testOrder(const CollModel* const parts[kAsmParts], int32_t full, List8* hits) {
    const int32_t order[4] = {kAsmCutting, kAsmHead, kAsmHolder, kAsmExtension};
    for (int32_t i : order) {
        if (i == kAsmCutting && !full) continue;
        if (parts[i] && gAsm.obstacle[i] && collmodel_collide(gAsm.obstacle[i], parts[i], 0, hits)) return i;
    }
    return -1;
}

}  // namespace

void collSetAvoidHooks(void (*modelFlag)(int32_t), void (*reference)(const Vec3*)) {
    gModelFlagHook = modelFlag;
    gReferenceHook = reference;
}

void set_coll_tolerances(double a, double b) {
    gAsm.tolA = a;
    gAsm.tolB = b;
}

int coll_setup_assembly(const CheckModel* model, const ToolDescription* tool, double allowance,
                        CollSetup* setup) {
    if (!tool || !setup) return -1;
    coll_free_models();
    const double t = model ? model->tolerance : 0.0;
    double c[4] = {setup->cuttingClearance, setup->extensionClearance, setup->holderClearance,
                   setup->headClearance};
    double m[4];
    for (int i = 0; i < 4; ++i) m[i] = c[i] / 2;
    if (c[0] < t) c[0] = t, m[0] = t;
    for (int i = 1; i < 4; ++i)
        if (c[i] < t) c[i] = c[i - 1], m[i] = m[i - 1];
    setup->cuttingClearance = c[0], setup->extensionClearance = c[1];
    setup->holderClearance = c[2], setup->headClearance = c[3];
    gAsm.toolRadius = tool->radius;
    gAsm.maxSideAngle = tool->maxSideAngle;
    if (loadObstacles(setup) < 0) {
        coll_free_models();
        return -1;
    }
    int result = 1;
    const bool shift = std::fabs(allowance) >= 1e-5;
    PartProfile* p = tprof_from_tool(tool, kTprofShank);
    if (!buildPart(kAsmCutting, p, allowance, c[0] + 1.2 * m[0], m[0], false, 0) && !emptyProfile(p))
        result = -1;
    tprof_free(p);

    double base = tool->cutterTop;
    const char* names[3] = {"Extension", "Holder", "Head"};
    const int32_t messages[3] = {kMsgExtensionOffset, kMsgHolderOffset, kMsgHeadOffset};
    for (int k = 0; k < 3; ++k) {
        const int32_t part = kAsmExtension + k;
        if (part == kAsmHead && !setup->checkHead) break;
        p = setup->contourFile
                ? tprof_from_contour(setup->contourFile, names[k], c[part] / 2, base, kTprofContour)
                : nullptr;
        double clearance = c[part] + 1.2 * m[part];
        // The extension hands on its height after the allowance, the holder its height as read.
        if (part == kAsmHolder) base = lastTop(p, base);
        if (part == kAsmHead) {
            clearance += allowance;
        } else if (shift && !emptyProfile(p)) {
            tprof_offset(p, allowance);
        }
        if (part == kAsmExtension) base = lastTop(p, base);
        if (!buildPart(part, p, allowance, clearance, m[part], part != kAsmHead, messages[k])) result = -1;
        tprof_free(p);
    }

    gAsm.cutLength = (std::fabs(tool->tipTop) >= 1e-5 && 2 * tool->radius < tool->shaftDiameter - 1e-5)
                         ? tool->tipTop
                         : tool->cutterTop;
    if (model) {
        gAsm.cutterGrid = polymeshBuildToolGrid(model, gAsm.cutLength, 0);
        gAsm.cutterModel = chkModelClone(model);
        if (gAsm.cutterModel) gAsm.cutterShrunk = chkModelOffsetTool(gAsm.cutterModel, -t);
        // The cone is the tool's as given: its corner alone is taken in by the tolerance, below.
        const ToolGeom* g = gAsm.cutterModel ? model->tool : nullptr;
        if (g && g->taperFlag) {
            const double a = g->taperAngle * 3.141592653589793 / 180;
            const double r = g->toolType == kBallMill     ? tool->radius - t
                             : g->toolType == kRadiusMill ? tool->cornerRadius - t
                                                          : 0.0;
            gAsm.cone = true;
            gAsm.coneLowZ = -std::sin(a) * r;
            gAsm.coneHighZ = g->height;
            gAsm.coneLowRadius = (g->radius - r) + std::cos(a) * r;
            gAsm.coneHighRadius = (gAsm.coneHighZ - gAsm.coneLowZ) * std::tan(a) + gAsm.coneLowRadius;
        }
    }
    gAsm.slot.hits = list8Create(100);
    for (int32_t i = 0; i < 4; ++i) {
        gAsm.slot.parts[i] = collmodel_create(gAsm.partMesh[i]);
        if (gAsm.partMesh[i] && !gAsm.slot.parts[i]) result = -1;
    }
    gAsm.assembly.count = 1;
    gAsm.assembly.slots = &gAsm.slot;
    gAsm.built = true;
    // The assembly exists even without obstacles: the avoidance then still runs its full check, whose
    // cutter tests need none.
    if (gModelFlagHook) gModelFlagHook(1);
    return result;
}

void coll_free_models() {
    for (int i = 0; i < 4; ++i) {
        if (gAsm.ownsObstacle[i]) {
            collmodel_free(gAsm.obstacle[i]);
            ftriListFree(gAsm.obstacleMesh[i]);
        }
        collmodel_free(gAsm.slot.parts[i]);
        ftriListFree(gAsm.partMesh[i]);
    }
    collmodel_free(gAsm.slot.parts[kAsmExtra]);
    if (gAsm.slot.hits) listFree(gAsm.slot.hits);
    if (gAsm.cutterModel) chkModelFree(gAsm.cutterModel);
    grid2DFree(gAsm.cutterGrid);
    const double a = gAsm.tolA, b = gAsm.tolB;
    gAsm = AsmState{};
    gAsm.tolA = a, gAsm.tolB = b;
}

void collAssemblyResetState() {
    coll_free_models();
    gAsm.tolA = gAsm.tolB = 0;
    gModelFlagHook = nullptr;
    gReferenceHook = nullptr;
}

const CollAssembly* coll_assembly() {
    return gAsm.built ? &gAsm.assembly : nullptr;
}

const FTriList* coll_obstacle_mesh(int32_t part) {
    return (part >= 0 && part < 4) ? gAsm.obstacleMesh[part] : nullptr;
}

double coll_max_side_angle() {
    return gAsm.maxSideAngle;
}

int32_t coll_check(const Vec3* point, const Vec3* axis, int32_t* hitOut, int32_t full) {
    if (!gAsm.built || !point || !axis) return kCollFree;
    CollAssemblySlot& s = gAsm.slot;
    placeParts(point, full);
    const Vec3 up{0, 0, 1}, north{0, 1, 0};
    Vec3 x, y;
    if (crossLen3D(axis, &up) >= 1e-5) {
        crossUnit3D(axis, &up, &y);
    } else if (crossLen3D(axis, &north) >= 1e-5) {
        crossUnit3D(axis, &north, &y);
    } else {
        return kCollBadAxis;
    }
    crossUnit3D(&y, axis, &x);
    Mat4 rot;
    mat4FromAxes(&x, &y, axis, &rot);
    for (int32_t i = 0; i < kAsmParts; ++i) {
        if (!s.parts[i] || (!full && (i == kAsmCutting || i == kAsmExtra))) continue;
        collmodel_set_rot(s.parts[i], &rot);
        collmodel_update(s.parts[i]);
    }
    s.oriented = 1;
    if (s.hits) list8Reset(s.hits);
    const int32_t hit = testOrder(s.parts, full, s.hits);
    if (hit >= 0) {
        s.collPart = kPartCodeOf[hit];
        if (hitOut && s.hits && s.hits->count > 0) *hitOut = s.hits->data[0].a;
        if (s.hits) list8Reset(s.hits);
        return kResultOf[hit];
    }
    if (!full || !gAsm.cutterModel) return kCollFree;
    if (chkModelSegment(gAsm.cutterModel, point, axis, gAsm.cutLength, gAsm.cutterGrid, 0) < 0 &&
        gAsm.cutterShrunk) {
        s.collPart = kPartTool;
        return kCollCutter;
    }
    if (gAsm.cone) {
        const Vec3 down{-axis->x, -axis->y, -axis->z};
        if (coneSectionHitAll(gAsm.cutterModel, point, &down, gAsm.cutLength, 0, gAsm.cutterGrid, 1,
                              gAsm.coneLowRadius, gAsm.coneHighRadius, gAsm.coneLowZ, gAsm.coneHighZ) == 1) {
            s.collPart = kPartTaper;
            return kCollCutter;
        }
    }
    return kCollFree;
}

int32_t coll_check_full(const Vec3* point, const Vec3* axis, int32_t* hitOut) {
    return coll_check(point, axis, hitOut, 1);
}

int32_t coll_check_parts(const Vec3* point, const Vec3* axis, int32_t* hitOut) {
    return coll_check(point, axis, hitOut, 0);
}

int32_t coll_check_where(const Vec3* point, const Vec3* axis, Vec3* where) {
    int32_t tri = -1;
    const int32_t result = coll_check(point, axis, &tri, 1);
    // The cutter tests name no triangle: nothing to write, nothing to hand on.
    if (!where || result >= 0 || tri < 0) return result;
    // Only a holder or head hit gives a contact vertex; an extension or cutting-part hit hands the
    // caller's point on as it is.
    if (result == kCollHead || result == kCollHolder) {
        const FTriList* mesh = gAsm.obstacleMesh[result == kCollHead ? kAsmHead : kAsmHolder];
        if (!mesh || tri >= mesh->count) return result;
        const float* v = mesh->data[tri].v;
        *where = Vec3{v[0], v[1], v[2]};
    }
    if (gReferenceHook) gReferenceHook(where);
    return result;
}

int32_t coll_check_vertical(const Vec3* point, int32_t full, int32_t* partOut) {
    if (!gAsm.built || !point) return kCollFree;
    CollAssemblySlot& s = gAsm.slot;
    if (s.oriented) {
        Mat4 id;
        mat4Identity(&id);
        for (CollModel* part : s.parts) {
            collmodel_set_rot(part, &id);
            collmodel_update(part);
        }
        s.oriented = 0;
    }
    CollModel copies[kAsmParts];
    const CollModel* parts[kAsmParts] = {};
    for (int32_t i = 0; i < kAsmParts; ++i) {
        if (!s.parts[i] || (!full && (i == kAsmCutting || i == kAsmExtra))) continue;
        copies[i] = *s.parts[i];
        collmodel_set_pos(&copies[i], static_cast<float>(point->x), static_cast<float>(point->y),
                          static_cast<float>(point->z));
        parts[i] = &copies[i];
    }
    if (partOut) *partOut = kPartNone;
    const int32_t hit = testOrder(parts, full, nullptr);
    if (hit >= 0) {
        if (partOut) *partOut = kPartCodeOf[hit];
        return kCollAny;
    }
    s.collPart = kPartNone;
    return kCollFree;
}

int coll_free_height(const Vec3* point, double* height) {
    if (!point || !height) return -1;
    auto freeAt = [&](double z) {
        const Vec3 p{point->x, point->y, z};
        int32_t part = 0;
        const bool ok = coll_check_vertical(&p, 1, &part) >= 0;
        gAsm.slot.collPart = part;
        return ok;
    };
    double lo = point->z + *height;
    if (freeAt(lo)) return 1;
    const FTriList* mesh =
        gAsm.obstacleMesh[kAsmHolder] ? gAsm.obstacleMesh[kAsmHolder] : gAsm.obstacleMesh[kAsmHead];
    if (!mesh) return -1;
    double hi = mesh->zmax + gAsm.toolRadius + 1.0;
    if (!freeAt(hi)) {
        hi += 100;
        if (!freeAt(hi)) return -1;
    }
    while (hi - lo > 0.01) {
        const double mid = (lo + hi) / 2;
        if (freeAt(mid))
            hi = mid;
        else
            lo = mid;
    }
    *height = hi - point->z;
    return 1;
}
