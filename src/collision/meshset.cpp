#include "collision/meshset.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <unordered_set>
#include <vector>

#include "geometry/mat4.h"
#include "geometry/rng.h"

namespace {

double keyOf(const Vec3* p) {
    return std::sqrt(p->x * p->x + p->y * p->y);
}

double axisKey(const CollMesh* mesh, const CollEdge& e, int axis) {
    const Vec3& a = mesh->vertices[e.a].point;
    const Vec3& b = mesh->vertices[e.b].point;
    return axis == 0 ? a.x + b.x : axis == 1 ? a.y + b.y : a.z + b.z;
}

// Puts the m-th smallest key of [lo, hi] at m, smaller ones before and larger ones after, by random
// pivots from the run's generator (three-way, so runs of equal keys cannot stall it).
void partitionAxis(CollMesh* mesh, int32_t lo, int32_t hi, int32_t m, int axis) {
    CollEdge* e = mesh->edges;
    while (lo < hi) {
        const int32_t p = lo + static_cast<int32_t>(static_cast<int64_t>(rngNext()) * (hi - lo) / kRngMax);
        const double pivot = axisKey(mesh, e[p], axis);
        int32_t lt = lo, i = lo, gt = hi;
        while (i <= gt) {
            const double k = axisKey(mesh, e[i], axis);
            if (k < pivot)
                std::swap(e[lt++], e[i++]);
            else if (k > pivot)
                std::swap(e[i], e[gt--]);
            else
                i++;
        }
        if (m < lt)
            hi = lt - 1;
        else if (m > gt)
            lo = gt + 1;
        else
            return;
    }
}

CollTreeNode* treeNode(CollMesh* mesh, int32_t first, int32_t last, bool* failed) {
    auto* node = static_cast<CollTreeNode*>(std::calloc(1, sizeof(CollTreeNode)));
    if (!node) {
        *failed = true;
        return nullptr;
    }
    node->xmin = node->ymin = node->zmin = 1e35;
    node->xmax = node->ymax = node->zmax = -1e35;
    node->first = first;
    node->last = last;
    for (int32_t i = first; i <= last; i++) {
        for (int32_t v : {mesh->edges[i].a, mesh->edges[i].b}) {
            const Vec3& p = mesh->vertices[v].point;
            node->xmin = std::min(node->xmin, p.x), node->xmax = std::max(node->xmax, p.x);
            node->ymin = std::min(node->ymin, p.y), node->ymax = std::max(node->ymax, p.y);
            node->zmin = std::min(node->zmin, p.z), node->zmax = std::max(node->zmax, p.z);
        }
    }
    if (last - first + 1 < kCollMeshLeafEdges) return node;
    const double ex = node->xmax - node->xmin, ey = node->ymax - node->ymin, ez = node->zmax - node->zmin;
    const int axis = (ex > ey && ex > ez) ? 0 : (ey >= ex && ey > ez) ? 1 : 2;
    const int32_t m = first + (last - first) / 2;
    partitionAxis(mesh, first, last, m, axis);
    node->left = treeNode(mesh, first, m, failed);
    if (!*failed) node->right = treeNode(mesh, m + 1, last, failed);
    return node;
}

}  // namespace

CollMesh* collMeshCreate(int32_t n) {
    if (n < 0) return nullptr;
    auto* mesh = static_cast<CollMesh*>(std::calloc(1, sizeof(CollMesh)));
    if (!mesh) return nullptr;
    const size_t cap = static_cast<size_t>(std::max(n, 1));
    mesh->vertices = static_cast<CollVertex*>(std::calloc(cap, sizeof(CollVertex)));
    mesh->edges = static_cast<CollEdge*>(std::calloc(cap, sizeof(CollEdge)));
    if (!mesh->vertices || !mesh->edges) {
        collMeshFree(mesh);
        return nullptr;
    }
    mesh->vertexCapacity = mesh->edgeCapacity = n;
    return mesh;
}

void collMeshTreeFree(CollTreeNode* node) {
    if (!node) return;
    collMeshTreeFree(node->left);
    collMeshTreeFree(node->right);
    std::free(node);
}

void collMeshFree(CollMesh* mesh) {
    if (!mesh) return;
    collMeshTreeFree(mesh->tree);
    std::free(mesh->vertices);
    std::free(mesh->edges);
    std::free(mesh->samples);
    std::free(mesh);
}

int32_t collMeshFindVertex(CollMesh* mesh, const Vec3* p, int* inserted) {
    if (inserted) *inserted = 0;
    const double key = keyOf(p), tol = mesh->tolerance;
    CollVertex* v = mesh->vertices;
    const int32_t n = mesh->vertexCount;
    const int32_t pos = static_cast<int32_t>(
        std::lower_bound(v, v + n, key, [](const CollVertex& a, double k) { return a.key < k; }) - v);
    for (int32_t i = pos - 1; i >= 0 && v[i].key >= key - tol; i--)
        if (dist3D(&v[i].point, p) < tol) return i;
    for (int32_t i = pos; i < n && v[i].key <= key + tol; i++)
        if (dist3D(&v[i].point, p) < tol) return i;
    if (n >= mesh->vertexCapacity) return -1;
    if (pos < n) {
        std::memmove(v + pos + 1, v + pos, sizeof(CollVertex) * static_cast<size_t>(n - pos));
        for (int32_t i = 0; i < mesh->edgeCount; i++) {
            if (mesh->edges[i].a >= pos) mesh->edges[i].a++;
            if (mesh->edges[i].b >= pos) mesh->edges[i].b++;
        }
        if (inserted) *inserted = 1;
    }
    v[pos] = CollVertex{key, *p, -1, {0.0, 0.0}};
    mesh->vertexCount++;
    return pos;
}

int collMeshFindEdge(CollMesh* mesh, int32_t a, int32_t b) {
    CollEdge* e = mesh->edges;
    const int32_t n = mesh->edgeCount;
    const int32_t lo = static_cast<int32_t>(
        std::lower_bound(e, e + n, a, [](const CollEdge& x, int32_t k) { return x.a < k; }) - e);
    int32_t i = lo;
    for (; i < n && e[i].a == a; i++)
        if (e[i].b == b) return 1;
    if (n >= mesh->edgeCapacity) return -1;
    std::memmove(e + i + 1, e + i, sizeof(CollEdge) * static_cast<size_t>(n - i));
    e[i] = CollEdge{a, b, 0, 0};
    mesh->edgeCount++;
    return 1;
}

int collMeshAddEdge(CollMesh* mesh, const Vec3* a, const Vec3* b) {
    if (!mesh || !a || !b) return -1;
    int32_t ia = collMeshFindVertex(mesh, a, nullptr);
    if (ia < 0) return -1;
    int moved = 0;
    const int32_t ib = collMeshFindVertex(mesh, b, &moved);
    if (ib < 0) return -1;
    if (moved && ib <= ia) ia++;
    if (ia == ib) return 1;
    return collMeshFindEdge(mesh, std::min(ia, ib), std::max(ia, ib));
}

int collMeshAddEdges(CollMesh* mesh, const Vec3* ends, int32_t n) {
    if (!mesh || (n > 0 && !ends)) return -1;
    if (mesh->vertexCount > 0 || mesh->edgeCount > 0) {
        for (int32_t i = 0; i < n; i++)
            if (collMeshAddEdge(mesh, &ends[2 * i], &ends[2 * i + 1]) < 0) return -1;
        return 1;
    }
    // Vertices by key in a tree (new ones before equal keys, as in the array), edges by insertion; the
    // arrays are written once at the end.
    const double tol = mesh->tolerance;
    std::multimap<double, int32_t> byKey;
    std::vector<Vec3> points;
    std::vector<std::pair<int32_t, int32_t>> edges;
    std::unordered_set<uint64_t> known;
    // The points by cells a little over twice the tolerance (each cell's points chained through `next`):
    // the few points within the tolerance of a new one are found among at most eight cells. One such point
    // within the key window is the one the window scan returns; with more, the scan decides the order.
    double extent = 0.0;
    for (int32_t i = 0; i < 2 * n; i++)
        extent = std::max({extent, std::fabs(ends[i].x), std::fabs(ends[i].y), std::fabs(ends[i].z)});
    const double cellSize = 2.5 * tol;
    // Cell numbers must fit their integers; otherwise (and for a tolerance of no size) every point
    // goes through the window scan.
    bool hashed = tol > 0.0 && std::isfinite(tol) && extent / cellSize < 1e15;
    // Cells by hash into a power-of-two table of chain heads; cells sharing a head share the chain.
    std::vector<int32_t> heads, next;
    try {
        if (hashed)
            heads.assign(std::bit_ceil(static_cast<uint64_t>(std::clamp<int64_t>(n, 1024, 1 << 24))), -1);
    } catch (const std::bad_alloc&) {
        hashed = false;  // the window scan needs no table
    }
    const uint64_t mask = heads.empty() ? 0 : heads.size() - 1;
    auto cellIndex = [&](double v) { return static_cast<int64_t>(std::floor(v / cellSize)); };
    auto cellKey = [](int64_t x, int64_t y, int64_t z) {
        return static_cast<uint64_t>(x) * 0x9e3779b97f4a7c15ull ^
               static_cast<uint64_t>(y) * 0xc2b2ae3d27d4eb4full ^
               static_cast<uint64_t>(z) * 0x165667b19e3779f9ull;
    };
    int result = 1;
    auto vertex = [&](const Vec3& p) -> int32_t {
        const double key = keyOf(&p);
        int32_t only = -1, matches = hashed ? 0 : 2;
        if (hashed) {
            const double reach = tol * (1 + 1e-9);  // a hair more: the distance test rounds
            const int64_t x0 = cellIndex(p.x - reach), x1 = cellIndex(p.x + reach);
            const int64_t y0 = cellIndex(p.y - reach), y1 = cellIndex(p.y + reach);
            const int64_t z0 = cellIndex(p.z - reach), z1 = cellIndex(p.z + reach);
            for (int64_t x = x0; x <= x1; ++x)
                for (int64_t y = y0; y <= y1; ++y)
                    for (int64_t z = z0; z <= z1 && matches < 2; ++z) {
                        for (int32_t j = heads[(cellKey(x, y, z) >> 20) & mask]; j >= 0 && matches < 2;
                             j = next[j]) {
                            const double kj = keyOf(&points[j]);
                            if (kj >= key - tol && kj <= key + tol && dist3D(&points[j], &p) < tol &&
                                j != only)
                                only = j, ++matches;
                        }
                    }
        }
        if (matches == 1) return only;
        const auto at = byKey.lower_bound(key);
        for (auto j = at; matches > 0 && j != byKey.begin();) {
            if ((--j)->first < key - tol) break;
            if (dist3D(&points[j->second], &p) < tol) return j->second;
        }
        for (auto j = at; matches > 0 && j != byKey.end() && j->first <= key + tol; ++j)
            if (dist3D(&points[j->second], &p) < tol) return j->second;
        if (static_cast<int32_t>(points.size()) >= mesh->vertexCapacity) return -1;
        byKey.emplace_hint(at, key, static_cast<int32_t>(points.size()));
        const int32_t id = static_cast<int32_t>(points.size());
        points.push_back(p);
        if (hashed) {
            int32_t& head = heads[(cellKey(cellIndex(p.x), cellIndex(p.y), cellIndex(p.z)) >> 20) & mask];
            next.push_back(head);
            head = id;
        }
        return id;
    };
    try {
        for (int32_t i = 0; i < n && result > 0; i++) {
            const int32_t a = vertex(ends[2 * i]), b = a < 0 ? -1 : vertex(ends[2 * i + 1]);
            if (a < 0 || b < 0) {
                result = -1;
            } else if (a != b &&
                       known.insert(static_cast<uint64_t>(std::min(a, b)) << 32 | std::max(a, b)).second) {
                if (static_cast<int32_t>(edges.size()) >= mesh->edgeCapacity)
                    result = -1;
                else
                    edges.emplace_back(a, b);
            }
        }
    } catch (const std::bad_alloc&) {
        return -1;  // nothing written yet
    }
    std::vector<int32_t> position(points.size());
    int32_t k = 0;
    for (const auto& [key, id] : byKey) {
        mesh->vertices[k] = CollVertex{key, points[id], -1, {0.0, 0.0}};
        position[id] = k++;
    }
    mesh->vertexCount = k;
    for (auto& e : edges) e = std::minmax(position[e.first], position[e.second]);
    std::stable_sort(edges.begin(), edges.end(),
                     [](const auto& x, const auto& y) { return x.first < y.first; });
    for (size_t i = 0; i < edges.size(); i++)
        mesh->edges[i] = CollEdge{edges[i].first, edges[i].second, 0, 0};
    mesh->edgeCount = static_cast<int32_t>(edges.size());
    return result;
}

CollMesh* collMeshFromPolylines(const PlistArray* lists, double tol) {
    if (!lists) return nullptr;
    int64_t total = 0;
    for (int32_t k = 0; k < lists->count; k++)
        if (lists->lists[k]) total += lists->lists[k]->count;
    if (total > INT32_MAX) return nullptr;
    CollMesh* mesh = collMeshCreate(static_cast<int32_t>(total));
    if (!mesh) return nullptr;
    mesh->tolerance = tol;
    std::vector<Vec3> ends;
    try {
        for (int32_t k = 0; k < lists->count; k++) {
            const Plist* l = lists->lists[k];
            for (int32_t i = 0; l && i + 1 < l->count; i++)
                ends.insert(ends.end(), {l->points[i], l->points[i + 1]});
        }
    } catch (const std::bad_alloc&) {
        collMeshFree(mesh);
        return nullptr;
    }
    // A capacity that runs out stops the adding; the mesh keeps what it has.
    collMeshAddEdges(mesh, ends.data(), static_cast<int32_t>(ends.size() / 2));
    return mesh;
}

CollMesh* collMeshRotateCopy(const CollMesh* mesh, double angle) {
    if (!mesh) return nullptr;
    CollMesh* copy = collMeshCreate(std::max(mesh->vertexCapacity, mesh->edgeCapacity));
    if (!copy) return nullptr;
    if (mesh->sampleCount > 0) {
        copy->samples =
            static_cast<Vec3*>(std::malloc(sizeof(Vec3) * static_cast<size_t>(mesh->sampleCount)));
        if (!copy->samples) {
            collMeshFree(copy);
            return nullptr;
        }
    }
    copy->vertexCapacity = std::max(mesh->vertexCapacity, mesh->edgeCapacity);
    copy->edgeCapacity = copy->vertexCapacity;
    copy->tolerance = mesh->tolerance;
    copy->vertexCount = mesh->vertexCount;
    copy->edgeCount = mesh->edgeCount;
    copy->sampleCount = mesh->sampleCount;
    const Vec3 origin{0, 0, 0}, zAxis{0, 0, 1};
    for (int32_t i = 0; i < mesh->vertexCount; i++) {
        copy->vertices[i] = mesh->vertices[i];
        vecRotateAboutAxis3D(&copy->vertices[i].point, &origin, &zAxis, angle);
    }
    std::memcpy(copy->edges, mesh->edges, sizeof(CollEdge) * static_cast<size_t>(mesh->edgeCount));
    for (int32_t i = 0; i < mesh->sampleCount; i++) {
        copy->samples[i] = mesh->samples[i];
        vecRotateAboutAxis3D(&copy->samples[i], &origin, &zAxis, angle);
    }
    return copy;
}

int collMeshTreeBuildOne(CollMesh* mesh) {
    if (!mesh) return 1;
    collMeshTreeFree(mesh->tree);
    mesh->tree = nullptr;
    if (mesh->edgeCount <= 0) return 1;
    bool failed = false;
    CollTreeNode* root = treeNode(mesh, 0, mesh->edgeCount - 1, &failed);
    if (failed) {
        collMeshTreeFree(root);
        return -1;
    }
    mesh->tree = root;
    return 1;
}

MeshSet* meshSetCreate(int32_t n, int32_t cap) {
    auto* set = static_cast<MeshSet*>(std::calloc(1, sizeof(MeshSet)));
    if (!set) return nullptr;
    set->count = std::clamp(n, 0, static_cast<int32_t>(kMeshSetSlots));
    for (int32_t i = 0; cap > 0 && i < set->count; i++) {
        set->meshes[i] = collMeshCreate(cap);
        if (!set->meshes[i]) {
            meshSetFree(set);
            return nullptr;
        }
    }
    return set;
}

void meshSetFree(MeshSet* set) {
    if (!set) return;
    for (CollMesh* m : set->meshes) collMeshFree(m);
    std::free(set);
}

int collMeshTreeBuild(MeshSet* set) {
    if (!set) return -1;
    for (CollMesh* m : set->meshes)
        if (collMeshTreeBuildOne(m) < 0) return -1;
    return 1;
}

MeshSet* meshSetFinish(MeshSet* set, double angle) {
    CollMesh* base = set->meshes[0];
    set->meshes[2] = collMeshRotateCopy(base, angle);
    set->meshes[3] = collMeshRotateCopy(base, -angle);
    if (set->meshes[1]) set->meshes[4] = collMeshRotateCopy(set->meshes[1], -angle);
    if (!set->meshes[2] || !set->meshes[3] || (set->meshes[1] && !set->meshes[4]) ||
        collMeshTreeBuild(set) < 0) {
        meshSetFree(set);
        return nullptr;
    }
    return set;
}

MeshSet* meshSetFromList(const PlistArray* lists, int32_t withSecond, double angle, double tol) {
    MeshSet* set = meshSetCreate(kMeshSetSlots, 0);
    if (!set) return nullptr;
    set->meshes[0] = collMeshFromPolylines(lists, tol);
    if (set->meshes[0] && withSecond) set->meshes[1] = collMeshRotateCopy(set->meshes[0], angle / 2);
    if (!set->meshes[0] || (withSecond && !set->meshes[1])) {
        meshSetFree(set);
        return nullptr;
    }
    return meshSetFinish(set, angle);
}
