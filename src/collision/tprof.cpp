#include "collision/tprof.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "collision/chkmodel.h"
#include "collision/collunit.h"
#include "contour/offsetcontour.h"
#include "geometry/frames.h"
#include "geometry/profile.h"
#include "surfaces/kvxcontour.h"

namespace {

void resetBounds(PartProfile* p) {
    p->minR = p->minZ = DBL_MAX;
    p->maxR = p->maxZ = -DBL_MAX;
}

void widen(PartProfile* p, double r, double z) {
    p->minR = std::min(p->minR, r);
    p->maxR = std::max(p->maxR, r);
    p->minZ = std::min(p->minZ, z);
    p->maxZ = std::max(p->maxZ, z);
}

bool reserve(PartProfile* p, int32_t capacity) {
    if (capacity <= p->capacity) return true;
    auto* segs =
        static_cast<PartSeg*>(std::realloc(p->segs, sizeof(PartSeg) * static_cast<size_t>(capacity)));
    if (!segs) return false;
    p->segs = segs;
    auto* flags =
        static_cast<uint16_t*>(std::realloc(p->flags, sizeof(uint16_t) * static_cast<size_t>(capacity)));
    if (!flags) return false;
    p->flags = flags;
    p->capacity = capacity;
    return true;
}

// Steps of a full turn whose chords stay within tol of a circle of radius r.
int32_t turnSteps(double r, double tol) {
    const double c = r > 0.0 ? std::clamp((r - tol) / r, -1.0, 1.0) : -1.0;
    const double a = std::acos(c);
    return a > 0.0 ? 1 + static_cast<int32_t>(std::floor(M_PI / a)) : 1;
}

bool collinear(const PartSeg& a, const PartSeg& b) {
    const double la = std::hypot(a.r1 - a.r0, a.z1 - a.z0), lb = std::hypot(b.r1 - b.r0, b.z1 - b.z0);
    if (la < 1e-5 || lb < 1e-5) return true;
    const double dot = ((a.r1 - a.r0) * (b.r1 - b.r0) + (a.z1 - a.z0) * (b.z1 - b.z0)) / (la * lb);
    return std::fabs(dot - 1.0) < 1e-5;
}

void mergeCollinear(PartProfile* p) {
    int32_t i = 0;
    while (i + 1 < p->count) {
        if (!collinear(p->segs[i], p->segs[i + 1])) {
            i++;
            continue;
        }
        p->segs[i].r1 = p->segs[i + 1].r1;
        p->segs[i].z1 = p->segs[i + 1].z1;
        std::memmove(p->segs + i + 1, p->segs + i + 2,
                     sizeof(PartSeg) * static_cast<size_t>(p->count - i - 2));
        std::memmove(p->flags + i + 1, p->flags + i + 2,
                     sizeof(uint16_t) * static_cast<size_t>(p->count - i - 2));
        p->count--;
    }
}

FTriangle ftri(const Vec3& a, const Vec3& b, const Vec3& c) {
    return FTriangle{{static_cast<float>(a.x), static_cast<float>(a.y), static_cast<float>(a.z),
                      static_cast<float>(b.x), static_cast<float>(b.y), static_cast<float>(b.z),
                      static_cast<float>(c.x), static_cast<float>(c.y), static_cast<float>(c.z)}};
}

}  // namespace

PartProfile* tprof_create(int32_t capacity) {
    auto* p = static_cast<PartProfile*>(std::calloc(1, sizeof(PartProfile)));
    if (!p) return nullptr;
    resetBounds(p);
    if (!reserve(p, std::max(capacity, 3))) {
        tprof_free(p);
        return nullptr;
    }
    return p;
}

void tprof_free(PartProfile* profile) {
    if (!profile) return;
    std::free(profile->segs);
    std::free(profile->flags);
    std::free(profile);
}

int tprof_add_seg(PartProfile* profile, const PartSeg* seg, uint16_t flag) {
    if (!profile || !profile->segs || !profile->flags || !seg) return -1;
    if (std::fabs(seg->r0 - seg->r1) < 1e-5 && std::fabs(seg->z0 - seg->z1) < 1e-5) return 1;
    if (profile->count >= profile->capacity &&
        !reserve(profile, std::max(profile->capacity + 1, static_cast<int32_t>(profile->capacity * 1.5))))
        return -1;
    profile->segs[profile->count] = *seg;
    profile->flags[profile->count++] = flag;
    widen(profile, seg->r0, seg->z0);
    widen(profile, seg->r1, seg->z1);
    return 1;
}

int tprof_offset(PartProfile* profile, double d) {
    if (!profile || profile->count <= 0) return 0;
    const int32_t n = profile->count;
    // The offset writes up to 2n + 1 elements, more than the n + 15 kept as the new capacity for
    // long chains: the room follows the larger of the two.
    const int32_t room = std::max(2 * n + 1, n + 15);
    std::vector<Seg2D> in, out;
    try {
        in.resize(static_cast<size_t>(n));
        out.resize(static_cast<size_t>(room));
    } catch (const std::bad_alloc&) {
        return -1;  // a failure like any other: the profile stays as it was
    }
    for (int32_t i = 0; i < n; i++)
        in[i] = {profile->segs[i].r0, profile->segs[i].z0, profile->segs[i].r1, profile->segs[i].z1};
    setContourCornerFactor(1);
    const int32_t m = offsetContour2D(in.data(), n, std::fabs(d), out.data(), d >= 0.0 ? -1 : 1, 0.0);
    setContourCornerFactor(0);
    if (m <= 0 || m > room) return -1;
    auto* segs = static_cast<PartSeg*>(std::malloc(sizeof(PartSeg) * static_cast<size_t>(room)));
    auto* flags = static_cast<uint16_t*>(std::malloc(sizeof(uint16_t) * static_cast<size_t>(room)));
    if (!segs || !flags) {
        std::free(segs);
        std::free(flags);
        return -1;
    }
    const uint16_t flag = profile->flags[0];
    std::free(profile->segs);
    std::free(profile->flags);
    profile->segs = segs;
    profile->flags = flags;
    profile->capacity = room;
    profile->count = m;
    resetBounds(profile);
    for (int32_t i = 0; i < m; i++) {
        segs[i] = {out[i].x1, out[i].y1, out[i].x2, out[i].y2};
        flags[i] = flag;
        widen(profile, segs[i].r0, segs[i].z0);
        widen(profile, segs[i].r1, segs[i].z1);
    }
    return 1;
}

void tprof_shift(PartProfile* profile, double dz) {
    if (!profile) return;
    for (int32_t i = 0; i < profile->count; i++) {
        profile->segs[i].z0 += dz;
        profile->segs[i].z1 += dz;
    }
}

double tprof_max_angle(const PartProfile* profile) {
    double best = 0.0;
    if (!profile) return best;
    for (int32_t i = 0; i < profile->count; i++) {
        const double r = profile->segs[i].r1, z = profile->segs[i].z1;
        const double len = std::hypot(r, z);
        if (len >= 1e-5) best = std::max(best, std::acos(std::min(1.0, std::fabs(z) / len)));
    }
    return best;
}

PartProfile* tprof_from_tool(const ToolDescription* tool, uint16_t) {
    if (!tool) return nullptr;
    const double R = tool->radius, D = tool->shaftDiameter;
    if (2 * R + 1e-5 > D && !tool->thickShaft) return nullptr;
    const double a = tool->taperAngle * M_PI / 180.0;
    const double r = tool->toolType == kBallMill     ? R
                     : tool->toolType == kRadiusMill ? tool->cornerRadius
                                                     : 0.0;
    const double w = (R - r) + std::cos(a) * r + std::tan(a) * (tool->tipTop + std::sin(a) * r);
    if (D - 0.001 < 2 * w) return nullptr;
    PartProfile* p = tprof_create(20);
    if (!p) return nullptr;
    const double chamferEnd = tool->tipTop + tool->chamferTop;
    PartSeg chamfer{R, tool->tipTop, D / 2, chamferEnd};
    PartSeg shank{D / 2, chamferEnd, D / 2, tool->cutterTop};
    if ((D / 2 > R && tprof_add_seg(p, &chamfer, kTprofShank) < 0) ||
        tprof_add_seg(p, &shank, kTprofShank) < 0) {
        tprof_free(p);
        return nullptr;
    }
    return p;
}

PartProfile* tprof_from_contour(const char* file, const char* name, double chordTol, double baseZ,
                                uint16_t flag) {
    if (!file || !name) return nullptr;
    const int framed = framePairGetFlag(kFramePairContours);
    framePairSetFlag(kFramePairContours, 0);
    ProfileCurve* contours = readKvxContour(file, chordTol);
    framePairSetFlag(kFramePairContours, framed);
    const ProfileCurve* c = contours;
    while (c && std::strcmp(c->name, name) != 0) c = c->next;
    if (!c || c->count <= 0) {
        profileFreeList(contours);
        return nullptr;
    }
    const double unit = collUnitFactor();
    std::vector<Vec2> pts;
    try {
        pts.resize(static_cast<size_t>(c->count));
    } catch (const std::bad_alloc&) {
        profileFreeList(contours);  // the caller hears of the shortage, without the contours lost
        throw;
    }
    // Radii are mirrored before the outline is made monotone: a contour drawn on the negative side
    // would otherwise be clamped to its first radius.
    for (int32_t i = 0; i < c->count; i++) pts[i] = {std::fabs(c->points[i].x * unit), c->points[i].y * unit};
    profileFreeList(contours);
    const double dz = baseZ - pts[0].y;
    for (size_t i = 0; i < pts.size(); i++) {
        pts[i].y += dz;
        if (i > 0) pts[i] = {std::max(pts[i].x, pts[i - 1].x), std::max(pts[i].y, pts[i - 1].y)};
    }
    PartProfile* p = tprof_create(static_cast<int32_t>(pts.size()) + 2);
    if (!p) return nullptr;
    bool ok = true;
    if (pts.front().x >= 1e-5) {
        const PartSeg s{0.0, pts.front().y, pts.front().x, pts.front().y};
        ok = tprof_add_seg(p, &s, flag) > 0;
    }
    for (size_t i = 0; ok && i + 1 < pts.size(); i++) {
        const PartSeg s{pts[i].x, pts[i].y, pts[i + 1].x, pts[i + 1].y};
        ok = tprof_add_seg(p, &s, flag) > 0;
    }
    if (ok && pts.back().x >= 1e-5) {
        const PartSeg s{pts.back().x, pts.back().y, 0.0, pts.back().y};
        ok = tprof_add_seg(p, &s, flag) > 0;
    }
    if (!ok) {
        tprof_free(p);
        return nullptr;
    }
    mergeCollinear(p);
    return p;
}

FTriList* coll_model_from_tprof(const PartProfile* profile, double chordTol) {
    if (!profile) return nullptr;
    int64_t want = 0;
    for (int32_t i = 0; i < profile->count; i++) {
        const PartSeg& s = profile->segs[i];
        const double tol = profile->flags[i] == kTprofShank ? kTprofShankChord : chordTol;
        want += 2 * static_cast<int64_t>(turnSteps(std::max(s.r0, s.r1), tol));
    }
    // A radius far beyond the tolerance asks for hundreds of millions of chords: no memory holds
    // that mesh, so it is refused before any of it is built.
    if (want > kTprofMaxTriangles) return nullptr;
    FTriList* mesh = ftriListCreate(static_cast<int32_t>(std::max<int64_t>(want, 3)));
    if (!mesh) return nullptr;
    if (profile->minZ + 1e-5 > profile->maxZ) return mesh;
    for (int32_t i = 0; i < profile->count; i++) {
        const PartSeg& s = profile->segs[i];
        const double tol = profile->flags[i] == kTprofShank ? kTprofShankChord : chordTol;
        const int32_t n = turnSteps(std::max(s.r0, s.r1), tol);
        Vec3 p0{s.r0, 0.0, s.z0}, p1{s.r1, 0.0, s.z1};
        for (int32_t k = 1; k <= n; k++) {
            // Each corner from its own angle: no drift over the turn, and the last step closes exactly.
            const double t = k == n ? 0.0 : 2 * M_PI * k / n, c = std::cos(t), sn = std::sin(t);
            const Vec3 q0{s.r0 * c, s.r0 * sn, s.z0}, q1{s.r1 * c, s.r1 * sn, s.z1};
            const FTriangle a = ftri(p0, p1, q0), b = ftri(q0, p1, q1);
            if (ftriListAdd(mesh, &a) < 0 || ftriListAdd(mesh, &b) < 0) {
                ftriListFree(mesh);
                return nullptr;
            }
            p0 = q0;
            p1 = q1;
        }
    }
    return mesh;
}

int coll_file_readable(const char* name) {
    if (!name || !*name) return 0;
    FILE* f = std::fopen(name, "rb");
    if (!f) return 0;
    std::fclose(f);
    return 1;
}
