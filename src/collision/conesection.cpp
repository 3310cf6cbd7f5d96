#include "collision/conesection.h"

#include <algorithm>
#include <cmath>

#include "collision/sweep.h"

namespace {

struct Section {
    double r1, r2, z1, z2;
    int32_t discs;
    double tol;  // lift that counts as a collision
};

// The end discs go through the flat-end kernel, which reads the kernels' shared motion direction: the
// section's own axis is set for the test and the caller's direction given back after it.
class KernelDirection {
  public:
    explicit KernelDirection(const Vec3* d) : saved_(*sweepDirection()) { sweepSetDirection(d); }
    ~KernelDirection() { sweepSetDirection(&saved_); }
    KernelDirection(const KernelDirection&) = delete;
    KernelDirection& operator=(const KernelDirection&) = delete;

  private:
    Vec3 saved_;
};

struct Mesh {
    int32_t kind;
    const Facet98* facets;
    const TriList* tris;
    int32_t count;
    const Vec3* boxMax;
    const Vec3* boxMin;
};

// Largest lift of the section over one triangle, or -1 when it never touches.
double triangleLift(const Section& sec, const Vec3* tri, const Vec3& s, const Vec3& d, double length) {
    double best = -1.0;
    auto disc = [&](double radius, double z) {
        if (radius <= 1e-7) return;
        KernelBlock b{};
        b.tri[0] = tri[0];
        b.tri[1] = tri[1];
        b.tri[2] = tri[2];
        b.start = s;
        // The disc rides z above the reference: it touches first when its own travel is below L - z.
        b.best = -(length - z);
        b.radius = b.radius2 = radius;
        if (sweepDisc(&b)) best = std::max(best, length + b.best - z);
    };
    if (sec.discs & kConeDiscUpper) disc(sec.r2, sec.z2);
    if (sec.discs & kConeDiscLower) disc(sec.r1, sec.z1);
    if (sec.r1 < sec.r2 - 1e-5) {
        const SweepShape sh{kShapeFrustum, 0, 0, sec.r1, sec.r2, sec.z1, sec.z2};
        for (int k = 0; k < 3; ++k) {
            SweepHit hit;
            if (sweepSegment(&sh, &tri[k], &tri[(k + 1) % 3], &s, &d, sec.r2 - 1e-5, &hit) &&
                hit.travel < length)
                best = std::max(best, length - hit.travel);
        }
    }
    return best;
}

int scan(const Mesh& m, const int32_t* cells, int32_t cellCount, const Section& sec, const Vec3* p,
         const Vec3* d, double length) {
    if (m.count <= 0 || !m.boxMax || !m.boxMin) return 0;
    if (sec.z2 + 1e-5 < sec.z1) return 0;
    const Vec3 s{p->x - length * d->x, p->y - length * d->y, p->z - length * d->z};
    const double R = std::max(sec.r1, sec.r2);
    const double bx0 = std::min(p->x, s.x) - R, bx1 = std::max(p->x, s.x) + R;
    const double by0 = std::min(p->y, s.y) - R, by1 = std::max(p->y, s.y) + R;
    const bool stop = d->z < -1e-5;
    double limit = 0.0;
    if (stop) {
        // The section's lowest point at the end of the sweep: a height z up the tilted axis rises by
        // z |d.z| only, and the ring of radius r hangs s r below its centre.
        const double sn = std::sqrt(std::max(0.0, 1.0 - d->z * d->z)), up = std::fabs(d->z);
        limit = p->z + std::min(sec.z1 * up - sn * sec.r1, sec.z2 * up - sn * sec.r2);
    }
    const int32_t n = cells ? cellCount : m.count;
    for (int32_t k = 0; k < n; ++k) {
        const int32_t j = cells ? cells[k] : k;
        if (j < 0 || j >= m.count) continue;
        const Vec3& hi = m.boxMax[j];
        if (stop && hi.z < limit) return 0;
        const Vec3& lo = m.boxMin[j];
        if (!(hi.x > bx0 && lo.x < bx1 && hi.y > by0 && lo.y < by1)) continue;
        Vec3 t[6];
        const int nt = chkElementTriangles(m.kind, m.facets, m.tris, j, t);
        for (int h = 0; h < nt; ++h)
            if (triangleLift(sec, &t[3 * h], s, *d, length) >= sec.tol) return 1;
    }
    return 0;
}

Section sectionOf(const CheckModel* model, double r1, double r2, double z1, double z2, int32_t discs) {
    Section sec{r1, r2, z1, z2, discs, model->tolerance};
    // The radial tolerance turned into a lift along the axis (the slope's size, whichever way it leans).
    if (std::fabs(r2 - r1) >= 1e-5 && std::fabs(z2 - z1) >= 1e-5)
        sec.tol = model->tolerance * std::fabs((z2 - z1) / (r2 - r1));
    return sec;
}

}  // namespace

int coneSectionHit(const CheckModel* model, const Vec3* p, const Vec3* d, double length, double r1, double r2,
                   double z1, double z2) {
    if (!model || !p || !d) return 0;
    const KernelDirection along(d);
    const Section sec = sectionOf(model, r1, r2, z1, z2, kConeDiscUpper | kConeDiscLower);
    const Mesh m{
        model->kind,      model->facets,
        model->triangles, chkMeshCount(model->kind, model->facets, model->facetCount, model->triangles),
        model->boxMax,    model->boxMin};
    return scan(m, nullptr, 0, sec, p, d, length);
}

int coneSectionHitAll(const CheckModel* model, const Vec3* p, const Vec3* d, double length, double angle,
                      const Grid2D* grid, int32_t discFlags, double r1, double r2, double z1, double z2) {
    if (!model || !p || !d) return 0;
    const KernelDirection along(d);
    const Mesh own{
        model->kind,      model->facets,
        model->triangles, chkMeshCount(model->kind, model->facets, model->facetCount, model->triangles),
        model->boxMax,    model->boxMin};
    if (own.count > 0) {
        const int32_t* cells = nullptr;
        int32_t cellCount = 0;
        if (grid) {
            const double k = 0.5 * length * std::sin(angle);
            const GridCell* cell = grid2DCellAt(grid, p->x - d->x * k, p->y - d->y * k);
            if (cell) {
                cells = cell->items;
                cellCount = cell->count;
            }
        }
        if (scan(own, cells, cellCount, sectionOf(model, r1, r2, z1, z2, discFlags), p, d, length)) return 1;
    }
    const Section all = sectionOf(model, r1, r2, z1, z2, kConeDiscUpper | kConeDiscLower);
    for (const CheckModelPart* part = model->parts; part; part = part->next) {
        const Mesh m{
            part->kind,      part->facets,
            part->triangles, chkMeshCount(part->kind, part->facets, part->facetCount, part->triangles),
            part->boxMax,    part->boxMin};
        if (scan(m, nullptr, 0, all, p, d, length)) return 1;
    }
    return 0;
}
