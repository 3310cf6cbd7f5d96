// Revolved meshes as check models.
#include "plunge/revmeshmodel.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "collision/meshindex.h"
#include "plunge/hubshroud.h"
#include "plunge/partload.h"
#include "surfaces/meshfiles/facetfile.h"
#include "surfaces/meshfiles/trisort.h"
#include "surfaces/polyimport.h"
#include "surfaces/revmesh.h"

namespace {

// A clone of base that owns nothing of base's mesh yet.
CheckModel* bareClone(const CheckModel* base) {
    CheckModel* m = chkModelClone(base);
    if (m == nullptr) return nullptr;
    m->kind = kMeshTriangles;
    m->facets = nullptr;
    m->facetCount = 0;
    m->triangles = nullptr;
    m->boxMin = m->boxMax = nullptr;
    m->grid = nullptr;
    m->index = nullptr;
    m->engineWord = nullptr;  // a box table of another mesh
    return m;
}

// Room for the per-triangle corners of n triangles, left unset (each is written before it is read; a
// heap block reused would otherwise be cleared first). False when memory is short.
bool allocBoxes(CheckModel* m, int32_t n) {
    const size_t room = n > 0 ? static_cast<size_t>(n) : 1;
    m->boxMin = static_cast<Vec3*>(std::malloc(room * sizeof(Vec3)));
    m->boxMax = static_cast<Vec3*>(std::malloc(room * sizeof(Vec3)));
    if (m->boxMin == nullptr || m->boxMax == nullptr) return false;
    if (n <= 0) m->boxMin[0] = m->boxMax[0] = Vec3{0, 0, 0};  // as a cleared block held it
    return true;
}

void boxOf(const Triangle3D& t, Vec3* lo, Vec3* hi) {
    *lo = *hi = t.p[0];
    for (int k = 1; k < 3; ++k) boxExtendByPoint(lo, hi, &t.p[k]);
}

void takeBounds(CheckModel* m, const TriList* list) {
    const double b[6] = {list->xmin, list->ymin, list->zmin, list->xmax, list->ymax, list->zmax};
    std::memcpy(m->bounds, b, sizeof b);
}

// Takes over the sorted list: per-triangle corners and the model box. False when memory is short
// (the list is then freed with the model).
bool attachTriangles(CheckModel* m, TriList* list) {
    m->triangles = list;
    if (!allocBoxes(m, list->count)) return false;
    for (int32_t i = 0; i < list->count; ++i) boxOf(list->data[i], &m->boxMin[i], &m->boxMax[i]);
    takeBounds(m, list);
    return true;
}

// The cell column (or row) of a coordinate, clamped to the grid: never falling as v rises (a shift and a
// division by a positive size round monotonically), so a point of a box lies in a column of the box's
// range.
int32_t cellOf(double v, double origin, double size, int32_t n) {
    const double t = (v - origin) / size;
    if (!(t > 0.0)) return 0;
    if (t >= n) return n - 1;
    return static_cast<int32_t>(t);
}

// Whether any cell the closed plan rectangle meets is marked.
bool anyMarked(const LiftCells& c, double x0, double x1, double y0, double y1) {
    const int32_t i0 = cellOf(x0, c.x0, c.size, c.nx), i1 = cellOf(x1, c.x0, c.size, c.nx);
    const int32_t j0 = cellOf(y0, c.y0, c.size, c.ny), j1 = cellOf(y1, c.y0, c.size, c.ny);
    for (int32_t j = j0; j <= j1; ++j)
        for (int32_t i = i0; i <= i1; ++i)
            if (c.marked[static_cast<size_t>(j) * c.nx + i]) return true;
    return false;
}

// Hands every cell the closed rectangle meets whose centre lies within radius and half a cell's
// diagonal (a point of the cell then lies within radius) of the plan line to visit(k), which answers
// false to stop (false then). A line that is not finite passes every cell of the rectangle; one along z
// measures from its point.
template <typename Visit>
bool eachCell(const LiftCells& c, const double rect[4], const double* line, double radius, Visit visit) {
    const int32_t i0 = cellOf(rect[0], c.x0, c.size, c.nx), i1 = cellOf(rect[1], c.x0, c.size, c.nx);
    const int32_t j0 = cellOf(rect[2], c.y0, c.size, c.ny), j1 = cellOf(rect[3], c.y0, c.size, c.ny);
    bool finite = line != nullptr && std::isfinite(radius);
    for (int k = 0; finite && k < 4; ++k) finite = std::isfinite(line[k]);
    const double len = finite ? std::hypot(line[2], line[3]) : 0.0;
    // The slack covers the rounding of the cells' places and of the distances.
    const double within = radius + 0.7072 * c.size + 1e-6 * (1.0 + std::fabs(radius) + c.size);
    for (int32_t j = j0; j <= j1; ++j) {
        const double cy = c.y0 + (j + 0.5) * c.size;
        for (int32_t i = i0; i <= i1; ++i) {
            const size_t k = static_cast<size_t>(j) * c.nx + i;
            if (finite) {
                const double cx = c.x0 + (i + 0.5) * c.size, ex = cx - line[0], ey = cy - line[1];
                const double dist =
                    len > 0.0 ? std::fabs(ex * line[3] - ey * line[2]) / len : std::hypot(ex, ey);
                if (dist > within) continue;
            }
            if (!visit(k)) return false;
        }
    }
    return true;
}

}  // namespace

bool liftCellsInit(LiftCells* cells, const double plan[4], double size, double grain) {
    if (cells == nullptr) return false;
    *cells = LiftCells{};
    if (plan == nullptr || !(size > 0.0) || !std::isfinite(size) || !(grain > 0.0) || !std::isfinite(grain))
        return true;
    for (int k = 0; k < 4; ++k)
        if (!std::isfinite(plan[k])) return true;
    const double w = plan[1] - plan[0], h = plan[3] - plan[2];
    if (!(w >= 0.0 && h >= 0.0) || !std::isfinite(w) || !std::isfinite(h)) return true;
    // At most 1024 cells a side: a wide rectangle takes coarser cells.
    constexpr double kMaxSide = 1024.0;
    size = std::max({size, w / kMaxSide, h / kMaxSide});
    const int32_t nx = static_cast<int32_t>(std::min(w / size, kMaxSide)) + 1;
    const int32_t ny = static_cast<int32_t>(std::min(h / size, kMaxSide)) + 1;
    try {
        cells->marked.assign(static_cast<size_t>(nx) * ny, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    cells->x0 = plan[0];
    cells->y0 = plan[2];
    cells->size = size;
    cells->grain = grain;
    cells->nx = nx;
    cells->ny = ny;
    return true;
}

void liftCellsMark(LiftCells* c, const double rect[4], const double* line, double radius) {
    if (c == nullptr || rect == nullptr || c->nx < 1 || c->ny < 1) return;
    eachCell(*c, rect, line, radius, [c](size_t k) {
        c->marked[k] = 1;
        return true;
    });
}

CheckModel* revMeshBuild(const CheckModel* templ, const Profile2D* profile, double extension) {
    if (templ == nullptr || profile == nullptr) return nullptr;
    Profile2D* copy = copyProfile2D(profile);
    if (copy == nullptr) return nullptr;
    // A single point has no direction to extend along; it sweeps to nothing anyway.
    if (extension != 0.0 && copy->count >= 2 && extendProfile2D(copy, extension) != 1) {
        freeProfile2D(copy);
        return nullptr;
    }
    TriList* list = revMeshSweep(copy->points, copy->count, templ->tolerance);
    freeProfile2D(copy);
    if (list == nullptr) return nullptr;
    CheckModel* m = bareClone(templ);
    if (m == nullptr) {
        triListFree(list);
        return nullptr;
    }
    if (!attachTriangles(m, list)) {
        revMeshFree(m);
        return nullptr;
    }
    // The hub under every plunge is swept from far below: an index spares the sweeps the far
    // elements (without one, memory short, they scan every element, with the same answers).
    m->index = meshIndexBuild(list->count, m->boxMin, m->boxMax);
    return m;
}

namespace {

// Fills the lift model with the profile's bands in falling order of their tops, only the triangles whose
// boxes meet the open plan rectangle (every one without), the bounds those of the whole sweep: the list,
// the corners and the index, each triangle's taken while it is at hand. False when a band cannot be
// swept or memory is short (the model then holds what was made, for the caller to free).
bool fillLiftModel(CheckModel* model, const Profile2D* profile, const double* plan, const LiftCells* cells) {
    if (plan == nullptr || (cells != nullptr && cells->nx < 1)) cells = nullptr;
    const double tol = model->tolerance;
    const int32_t n = profile->count;
    // Every triangle of a band has the band's higher end as its top (the turn keeps z), so bands in
    // falling order of their tops give a mesh sorted by height without sorting its triangles.
    std::vector<int32_t> bands;
    int64_t total = 2;
    for (int32_t i = 1; i < n; ++i) {
        bands.push_back(i);
        int32_t steps = 0;
        const double r = std::min(profile->points[i - 1].x, profile->points[i].x);
        if (revMeshAngleStep(r, tol, nullptr, &steps) == 1) total += 2 * int64_t{steps};
    }
    auto top = [&](int32_t i) {
        const double z = std::max(profile->points[i - 1].y, profile->points[i].y);
        return std::isnan(z) ? -HUGE_VAL : z;
    };
    std::stable_sort(bands.begin(), bands.end(), [&](int32_t a, int32_t b) { return top(a) > top(b); });
    const int32_t room = static_cast<int32_t>(std::min<int64_t>(total, int64_t{1} << 22));
    TriList* list = triListCreate(room);
    model->triangles = list;
    // No corner boxes: only the departure sweeps read the model, and they take a box from its triangle.
    bool ok = list != nullptr;
    // The hub's slivers follow its turn: in sectors of 8 degrees their turned boxes stay tight, and the
    // departure sweeps visit about a third of the triangles they visit over plain boxes. Without the
    // index (memory short) the sweeps scan in order, with the same answers.
    MeshTurnedBuilder* index = ok ? meshIndexTurnedStart(45, room) : nullptr;
    // The bounds of the whole sweep, every triangle's points taken as a list appending them would.
    double lo3[3] = {1e10, 1e10, 1e10}, hi3[3] = {-1e10, -1e10, -1e10};
    auto bound = [&](const Vec3& p) {
        const double v[3] = {p.x, p.y, p.z};
        for (int c = 0; c < 3; ++c) {
            if (v[c] < lo3[c]) lo3[c] = v[c];
            if (v[c] > hi3[c]) hi3[c] = v[c];
        }
    };
    // Most triangles lie wholly off the plan rectangle: a box's side is one of its corners' (or not a
    // number), so corners all on the far side of an edge settle it without the box. A point's sides,
    // one bit each.
    auto off = [plan](const Vec3& c) {
        if (plan == nullptr) return 0u;
        return (c.x > plan[0] ? 0u : 1u) | (c.x < plan[1] ? 0u : 2u) | (c.y > plan[2] ? 0u : 4u) |
               (c.y < plan[3] ? 0u : 8u);
    };
    auto take = [&](const Triangle3D& tri) {
        Vec3 lo, hi;
        boxOf(tri, &lo, &hi);
        if (plan != nullptr && !(hi.x > plan[0] && lo.x < plan[1] && hi.y > plan[2] && lo.y < plan[3]))
            return true;
        // A box within the grain that meets a sweep's rectangle, with a point within the tool's radius
        // of its line, has a point of the rectangle within the radius and the grain of the line, whose
        // cell the cover saw marked.
        if (cells != nullptr && (hi.x - lo.x) + (hi.y - lo.y) <= cells->grain &&
            !anyMarked(*cells, lo.x, hi.x, lo.y, hi.y))
            return true;
        const int32_t at = list->count;
        // Within its room the list takes the triangle as it is (its bounds are the sweep's, set at the end);
        // past it the list grows itself.
        if (at < list->capacity)
            list->data[list->count++] = tri;
        else
            ok = ok && triListAdd(list, &tri) >= 0;
        ok = ok && list->count == at + 1;
        if (!ok) return false;
        if (index && !meshIndexTurnedAdd(index, tri.p, lo, hi)) {
            meshIndexTurnedAbandon(index);
            index = nullptr;
        }
        return true;
    };
    // The whole sweep's bounds take each point once, in the order a list appending the triangles first
    // meets them (a point met again changes no bound, signed zeros included).
    auto step = [&](int32_t k, const Vec3& p, const Vec3& q, const Vec3& p1, const Vec3& q1) {
        if (k == 0) {
            bound(p);
            bound(q);
        }
        bound(p1);
        bound(q1);
        const unsigned fq = off(q), fp1 = off(p1);
        return ((off(p) & fq & fp1) != 0 || take(Triangle3D{{p, q, p1}})) &&
               ((fp1 & fq & off(q1)) != 0 || take(Triangle3D{{p1, q, q1}}));
    };
    for (size_t k = 0; ok && k < bands.size(); ++k) {
        const int32_t i = bands[k];
        ok = revMeshSegmentSteps(&profile->points[i - 1], &profile->points[i], tol, step) == 1 && ok;
    }
    if (ok) {
        list->xmin = lo3[0], list->ymin = lo3[1], list->zmin = lo3[2];
        list->xmax = hi3[0], list->ymax = hi3[1], list->zmax = hi3[2];
        takeBounds(model, list);
        model->index = meshIndexTurnedFinish(index);
    } else {
        meshIndexTurnedAbandon(index);
    }
    return ok;
}

}  // namespace

CheckModel* revMeshLiftModel(const CheckModel* templ, const Profile2D* profile, const double* plan,
                             const LiftCells* cells) {
    if (templ == nullptr || profile == nullptr || profile->count < 0) return nullptr;
    CheckModel* m = bareClone(templ);
    if (m == nullptr) return nullptr;
    if (revMeshLiftRefill(m, profile, plan, cells) != 1) {
        revMeshFree(m);
        return nullptr;
    }
    return m;
}

int revMeshLiftRefill(CheckModel* model, const Profile2D* profile, const double* plan,
                      const LiftCells* cells) {
    if (model == nullptr || profile == nullptr || profile->count < 0) return -1;
    std::free(model->boxMin);
    std::free(model->boxMax);
    triListFree(model->triangles);
    meshIndexFree(model->index);
    model->boxMin = model->boxMax = nullptr;
    model->triangles = nullptr;
    model->index = nullptr;
    if (fillLiftModel(model, profile, plan, cells)) return 1;
    std::free(model->boxMin);
    std::free(model->boxMax);
    triListFree(model->triangles);
    model->boxMin = model->boxMax = nullptr;
    model->triangles = nullptr;
    return -1;
}

int revMeshLiftCover(CheckModel* model, const Profile2D* profile, double plan[4], const Vec3* p,
                     const Vec3* d, double length, double margin, LiftCells* cells) {
    if (model == nullptr || model->tool == nullptr || plan == nullptr || p == nullptr || d == nullptr)
        return -1;
    // The rectangle the mesh scan forms; the slack keeps one formed with other rounding inside.
    const double R = model->tool->radius;
    const Vec3 s{p->x - length * d->x, p->y - length * d->y, p->z - length * d->z};
    const double want[4] = {std::min(p->x, s.x) - R, std::max(p->x, s.x) + R, std::min(p->y, s.y) - R,
                            std::max(p->y, s.y) + R};
    constexpr double kSlack = 1e-6;
    const bool fine = cells != nullptr && cells->nx > 0;
    // The tool never reaches beyond its radius from its axis (the sweeps' own reach tests leave out what
    // lies 1e-5 beyond it), nor does a plan distance exceed the distance in space.
    const double line[4] = {p->x, p->y, d->x, d->y};
    auto cellsFor = [&](double grow, auto visit) {
        const double rect[4] = {want[0] - grow, want[1] + grow, want[2] - grow, want[3] + grow};
        return eachCell(*cells, rect, line, R + cells->grain + 1e-3 + grow, visit);
    };
    const bool inside = plan[0] <= want[0] - kSlack && plan[1] >= want[1] + kSlack &&
                        plan[2] <= want[2] - kSlack && plan[3] >= want[3] + kSlack;
    if (inside && (!fine || cellsFor(kSlack, [cells](size_t k) { return cells->marked[k] != 0; }))) return 1;
    bool finite = std::isfinite(margin);
    for (int k = 0; k < 4; ++k) finite = finite && std::isfinite(plan[k]) && std::isfinite(want[k]);
    if (finite) {
        if (!inside) {
            plan[0] = std::min(plan[0], want[0]) - margin;
            plan[1] = std::max(plan[1], want[1]) + margin;
            plan[2] = std::min(plan[2], want[2]) - margin;
            plan[3] = std::max(plan[3], want[3]) + margin;
        }
        if (fine && !inside) {
            // The cells laid over the grown rectangle keep what was marked (the old cells' insides);
            // without them (memory short) the rectangle is the region.
            LiftCells grown;
            if (!liftCellsInit(&grown, plan, cells->size, cells->grain)) grown = LiftCells{};
            const double in = 1e-6 * cells->size;
            for (int32_t j = 0; grown.nx > 0 && j < cells->ny; ++j)
                for (int32_t i = 0; i < cells->nx; ++i)
                    if (cells->marked[static_cast<size_t>(j) * cells->nx + i]) {
                        const double at[4] = {
                            cells->x0 + i * cells->size + in, cells->x0 + (i + 1) * cells->size - in,
                            cells->y0 + j * cells->size + in, cells->y0 + (j + 1) * cells->size - in};
                        liftCellsMark(&grown, at, nullptr, 0.0);
                    }
            *cells = std::move(grown);
        }
        if (fine && cells->nx > 0)
            cellsFor(std::max(margin, 2 * kSlack), [cells](size_t k) {
                cells->marked[k] = 1;
                return true;
            });
    } else {
        plan[0] = plan[2] = -HUGE_VAL;
        plan[1] = plan[3] = HUGE_VAL;
        if (cells != nullptr) *cells = LiftCells{};
    }
    return revMeshLiftRefill(model, profile, plan, cells);
}

CheckModel* revMeshJoin(const CheckModel* base, const CheckModel* const* models, int32_t count) {
    if (base == nullptr || (count > 0 && models == nullptr)) return nullptr;
    int64_t total = 0;
    for (int32_t i = 0; i < count; ++i)
        if (models[i] != nullptr)
            total += 2 * static_cast<int64_t>(chkMeshCount(models[i]->kind, models[i]->facets,
                                                           models[i]->facetCount, models[i]->triangles));
    if (total > INT32_MAX) return nullptr;
    TriList* list = triListCreate(static_cast<int32_t>(total > 2 ? total : 2));
    if (list == nullptr) return nullptr;
    // The triangles go into the list once, in the order sorting the joined list would give them. A
    // place of the joined list lies in its model's range; with a facet mesh among the models (a facet
    // may give two triangles) each place also names twice its element plus the half.
    bool halves = false;
    for (int32_t i = 0; i < count; ++i)
        halves = halves || (models[i] != nullptr && models[i]->kind != kMeshTriangles);
    std::vector<int32_t> from, order, first;
    try {
        first.assign(static_cast<size_t>(count) + 1, 0);
        std::vector<double> tops;
        tops.reserve(static_cast<size_t>(total));
        if (halves) from.reserve(static_cast<size_t>(total));
        for (int32_t i = 0; i < count; ++i) {
            first[i] = static_cast<int32_t>(tops.size());
            const CheckModel* s = models[i];
            if (s == nullptr) continue;
            const int32_t n = chkMeshCount(s->kind, s->facets, s->facetCount, s->triangles);
            for (int32_t j = 0; j < n; ++j) {
                if (s->kind == kMeshTriangles) {
                    tops.push_back(triMaxZ(&s->triangles->data[j]));
                    if (halves) from.push_back(2 * j);
                    continue;
                }
                Vec3 corners[6];
                const int k = chkElementTriangles(s->kind, s->facets, s->triangles, j, corners);
                for (int t = 0; t < k; ++t) {
                    const Triangle3D tri{{corners[3 * t], corners[3 * t + 1], corners[3 * t + 2]}};
                    from.push_back(2 * j + t);
                    tops.push_back(triMaxZ(&tri));
                }
            }
        }
        first[count] = static_cast<int32_t>(tops.size());
        order.resize(tops.size());
        if (!meshTopOrder(tops.data(), static_cast<int32_t>(tops.size()), order.data()))
            throw std::bad_alloc();
    } catch (const std::bad_alloc&) {
        triListFree(list);
        return nullptr;
    }
    const int32_t n = first[count];
    CheckModel* m = bareClone(base);
    if (m == nullptr) {
        triListFree(list);
        return nullptr;
    }
    m->triangles = list;
    if (!allocBoxes(m, n)) {
        revMeshFree(m);
        return nullptr;
    }
    // The model of a place: the last whose range starts at or before it (counted without branches,
    // the models alternating unpredictably along the order).
    auto modelOf = [&](int32_t place) {
        int32_t k = 0;
        for (int32_t i = 1; i < count; ++i) k += place >= first[i] ? 1 : 0;
        return k;
    };
    auto elementOf = [&](int32_t place, int32_t model, int* half) {
        *half = halves ? from[place] % 2 : 0;
        return halves ? from[place] / 2 : place - first[model];
    };
    // Each triangle and its corners are written once, as triListAdd and attachTriangles write them (the
    // list has room for every triangle).
    for (int32_t i = 0; i < n; ++i) {
        int half;
        if (i + 12 < n) {
            // The places jump through the models' arrays: fetching ahead hides most of the misses.
            const int32_t k = modelOf(order[i + 12]);
            const CheckModel* s = models[k];
            const int32_t j = elementOf(order[i + 12], k, &half);
            __builtin_prefetch(s->kind == kMeshTriangles ? static_cast<const void*>(&s->triangles->data[j])
                                                         : static_cast<const void*>(&s->facets[j]));
        }
        const int32_t k = modelOf(order[i]);
        const CheckModel* s = models[k];
        const int32_t j = elementOf(order[i], k, &half);
        Triangle3D& tri = list->data[i];
        if (s->kind == kMeshTriangles) {
            tri = s->triangles->data[j];
        } else {
            Vec3 corners[6];
            chkElementTriangles(s->kind, s->facets, s->triangles, j, corners);
            tri = {{corners[3 * half], corners[3 * half + 1], corners[3 * half + 2]}};
        }
        for (const Vec3& p : tri.p) {
            if (p.x < list->xmin) list->xmin = p.x;
            if (p.y < list->ymin) list->ymin = p.y;
            if (p.z < list->zmin) list->zmin = p.z;
            if (p.x > list->xmax) list->xmax = p.x;
            if (p.y > list->ymax) list->ymax = p.y;
            if (p.z > list->zmax) list->zmax = p.z;
        }
        boxOf(tri, &m->boxMin[i], &m->boxMax[i]);
    }
    list->count = n;
    takeBounds(m, list);
    return m;
}

CheckModel* revMeshMerge(const CheckModel* model, const CheckModel* second) {
    if (model == nullptr || second == nullptr) return nullptr;
    const CheckModel* both[2] = {model, second};
    return revMeshJoin(model, both, 2);
}

int revMeshWrite(CheckModel* model, double tol, const char* fileName) {
    if (model == nullptr) return -1;
    HubShroud* pair = loadHubShroud(model->stepLength);
    if (pair == nullptr) return -1;
    const double saved = model->tolerance;
    model->tolerance = tol;
    CheckModel* hub = revMeshBuild(model, pair->hub, 0.0);
    model->tolerance = saved;
    freeHubShroud(pair);
    if (hub == nullptr) return -1;
    CheckModel* merged = revMeshMerge(model, hub);
    revMeshFree(hub);
    if (merged == nullptr) return -1;
    const int written =
        polymeshWrite3df(merged->kind, merged->triangles, merged->facets, merged->facetCount, fileName);
    revMeshFree(merged);
    return written >= 0 ? 1 : -1;
}

void revMeshFree(CheckModel* model) {
    if (model == nullptr) return;
    std::free(model->boxMin);
    std::free(model->boxMax);
    triListFree(model->triangles);
    meshIndexFree(model->index);
    model->index = nullptr;
    model->boxMin = model->boxMax = nullptr;
    model->triangles = nullptr;
    chkModelFree(model);
}
