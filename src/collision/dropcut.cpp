#include "collision/dropcut.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "collision/sweep.h"

namespace {

const Vec3 kDown{0.0, 0.0, -1.0};

// A drop is a sweep straight down from z0: the travel s to a contact is z0 minus its height.
int dropKernel(uint16_t type, DropState* s) {
    sweepSetDirection(&kDown);
    KernelBlock b{};
    b.tri[0] = s->tri[0];
    b.tri[1] = s->tri[1];
    b.tri[2] = s->tri[2];
    b.start = {s->x, s->y, s->z0};
    b.best = s->best - s->z0;
    b.radius = s->radius;
    b.radius2 = s->radius2;
    b.cornerRadius = s->cornerRadius;
    int32_t cls = 1;
    const uint16_t code = sweepKernelClass(type, &b, &cls);
    if (!code) return 0;
    s->best = s->z0 + b.best;
    s->contact = b.contact;
    s->classWord = type == kBallMill ? 1 : cls;
    return code;
}

// Plan distance from (x, y) to a box's xy extent: 0 inside, to the nearer side beside it, to the
// nearest corner in a corner region.
double boxPlanDistance(const Vec3* lo, const Vec3* hi, double x, double y) {
    const double dx = x < lo->x ? lo->x - x : (x > hi->x ? x - hi->x : 0.0);
    const double dy = y < lo->y ? lo->y - y : (y > hi->y ? y - hi->y : 0.0);
    return std::hypot(dx, dy);
}

int raise(Vec3* point, double h) {
    if (h > point->z) point->z = h;
    return 1;
}

}  // namespace

int toolPartLift3(DropState* s) {
    return dropKernel(kBallMill, s);
}
int toolPartLift2(DropState* s) {
    return dropKernel(kEndMill, s);
}
int toolPartLift1(DropState* s) {
    return dropKernel(kRadiusMill, s);
}

int dropcut_triangle(DropState* s, double rIn, double rOut, double zIn, double zOut) {
    s->classWord = 0;
    if (rOut - 1e-5 < rIn || zOut + 1e-5 < zIn) return 0;
    const double lam = (zOut - zIn) / (rOut - rIn);
    bool raised = false;
    auto take = [&](double h, const Vec3& c) {
        if (h > s->best) {
            s->best = h;
            s->contact = c;
            s->classWord = 1;
            raised = true;
        }
    };
    for (const Vec3& v : s->tri) {
        const double d = std::hypot(v.x - s->x, v.y - s->y);
        if (d >= rIn + 1e-5 && d <= rOut - 1e-5) take(v.z - (zIn + (d - rIn) * lam), v);
    }
    // Along an edge the tip height z(t) - (zIn + lam (rho - rIn)) is concave: its top is where the
    // edge's rise per plan length k equals the cone's slope projected on the edge.
    for (int k = 0; k < 3; ++k) {
        const Vec3& a = s->tri[k];
        const Vec3& b = s->tri[(k + 1) % 3];
        const double ex = b.x - a.x, ey = b.y - a.y, ez = b.z - a.z;
        const double px = a.x - s->x, py = a.y - s->y;
        const double A = ex * ex + ey * ey;
        if (A < 1e-20) continue;
        const double B = px * ex + py * ey;
        const double delta2 = std::max(0.0, px * px + py * py - B * B / A);
        const double sa = std::sqrt(A), rise = ez / sa;
        if (!(std::fabs(rise) < lam)) continue;
        const double u = rise * std::sqrt(delta2) / std::sqrt(lam * lam - rise * rise);
        const double t = -B / A + u / sa;
        const double rho = std::sqrt(delta2 + u * u);
        if (t < 0 || t > 1 || rho < rIn + 1e-5 || rho > rOut - 1e-5) continue;
        const Vec3 c{a.x + t * ex, a.y + t * ey, a.z + t * ez};
        take(c.z - (zIn + (rho - rIn) * lam), c);
    }
    const double top = std::max({s->tri[0].z, s->tri[1].z, s->tri[2].z});
    if (s->best + zOut <= top) {
        DropState rim = *s;
        rim.radius = rim.radius2 = rOut;
        rim.best = s->best + zOut;
        if (toolPartLift2(&rim) && rim.best - zOut > s->best) take(rim.best - zOut, rim.contact);
    }
    return raised ? 1 : 0;
}

LiftBoxTable* liftBoxTableCreate(int32_t capacity) {
    if (capacity < 1) capacity = 1;
    auto* t = static_cast<LiftBoxTable*>(std::calloc(1, sizeof(LiftBoxTable)));
    if (!t) return nullptr;
    t->entries = static_cast<LiftBoxEntry*>(std::malloc(sizeof(LiftBoxEntry) * size_t(capacity)));
    if (!t->entries) {
        std::free(t);
        return nullptr;
    }
    t->capacity = capacity;
    t->lastListPos = -1;
    t->lastElement = -1;
    return t;
}

void liftBoxTableFree(LiftBoxTable* table) {
    if (!table) return;
    std::free(table->entries);
    std::free(table);
}

int ballLiftOverBox(const Vec3* lo, const Vec3* hi, double r, Vec3* point) {
    const double d = boxPlanDistance(lo, hi, point->x, point->y);
    if (!(d <= r)) return 0;
    return raise(point, hi->z + std::sqrt(r * r - d * d));
}

int radiusLiftOverBox(const Vec3* lo, const Vec3* hi, double R, Vec3* point) {
    const double d = boxPlanDistance(lo, hi, point->x, point->y);
    if (!(d <= R)) return 0;
    return raise(point, hi->z);
}

int torusLiftOverBox(const Vec3* lo, const Vec3* hi, double R, double r, Vec3* point) {
    const double d = boxPlanDistance(lo, hi, point->x, point->y);
    if (!(d <= R)) return 0;
    const double h = d - (R - r);
    return raise(point, h < 1e-5 ? hi->z + r : hi->z + std::sqrt(std::max(0.0, r * r - h * h)));
}

int boxCmpDesc(const void* a, const void* b) {
    const double ka = static_cast<const LiftBoxEntry*>(a)->key, kb = static_cast<const LiftBoxEntry*>(b)->key;
    if (std::fabs(ka - kb) < 1e-5) return 0;
    return ka > kb ? -1 : 1;
}

int toolLiftOverBoxes(LiftBoxTable* table, const Vec3* boxMin, const Vec3* boxMax, int32_t elementCount,
                      const int32_t* list, int32_t count, const ToolGeom* tool, const Vec3* point,
                      const Vec2* rotMin, const Vec2* rotMax) {
    if (!table || !tool || !point || !boxMin || !boxMax) return -1;
    table->ok = 1;
    table->count = 0;
    table->lastListPos = list ? count : -1;
    const double R = tool->radius, x = point->x, y = point->y;
    const double rx = x * 0.70710678 - y * 0.70710678, ry = x * 0.70710678 + y * 0.70710678;
    const int32_t n = list ? count : elementCount;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t j = list ? list[k] : k;
        if (j < 0 || j >= elementCount) continue;
        const Vec3& lo = boxMin[j];
        const Vec3& hi = boxMax[j];
        if (hi.x < x - R || lo.x > x + R || hi.y < y - R || lo.y > y + R) continue;
        if (rotMin && rotMax &&
            (rotMax[j].x < rx - R || rotMin[j].x > rx + R || rotMax[j].y < ry - R || rotMin[j].y > ry + R))
            continue;
        const double key = hi.z - 10.0;
        Vec3 p{x, y, key};
        int hit = 0;
        switch (tool->toolType) {
            case kBallMill:
                hit = ballLiftOverBox(&lo, &hi, R, &p);
                break;
            case kEndMill:
                hit = radiusLiftOverBox(&lo, &hi, R, &p);
                break;
            case kRadiusMill:
                hit = torusLiftOverBox(&lo, &hi, R, tool->cornerRadius, &p);
                break;
            default:
                break;
        }
        if (!hit || !(p.z > key)) continue;
        if (table->count >= table->capacity) {
            table->ok = 0;
            break;
        }
        table->entries[table->count++] = {j, p.z};
        table->lastElement = j;
    }
    // An exact order: the 1e-5 ties of boxCmpDesc are not transitive, and the box walk stops at the first
    // key below the current height, so a misplaced entry would be missed.
    std::stable_sort(table->entries, table->entries + table->count,
                     [](const LiftBoxEntry& a, const LiftBoxEntry& b) { return a.key > b.key; });
    return table->ok ? table->count : -1;
}
