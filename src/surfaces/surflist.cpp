// Surface records, their ownership and the list-wide operations after reading.
#include "surfaces/surflist.h"

#include <cfloat>
#include <cstdlib>
#include <cstring>

#include "geometry/frames.h"
#include "kernel/base/mem.h"

SurfList* newSurfList(int32_t capacity) {
    if (capacity < 3) capacity = 3;
    auto* list = static_cast<SurfList*>(memCalloc(1, sizeof(SurfList)));
    if (list == nullptr) return nullptr;
    list->entries = static_cast<TrimSurface*>(memCalloc(static_cast<size_t>(capacity), sizeof(TrimSurface)));
    if (list->entries == nullptr) {
        std::free(list);
        return nullptr;
    }
    list->capacity = capacity;
    return list;
}

int freeSurfList(SurfList* list) {
    if (list == nullptr) return 1;
    for (int32_t i = 0; i < list->count; ++i) kvxFreeTrimSurface(&list->entries[i]);
    std::free(list->entries);
    std::free(list);
    return 1;
}

int surfListAppend(SurfList* list, const TrimSurface* rec) {
    if (list == nullptr || rec == nullptr) return -1;
    if (list->count >= list->capacity) {
        if (list->capacity > INT32_MAX / 2) return -1;
        const int32_t grown = list->capacity * 2;
        void* block = memRealloc(list->entries, static_cast<size_t>(grown) * sizeof(TrimSurface));
        if (block == nullptr) return -1;
        list->entries = static_cast<TrimSurface*>(block);
        list->capacity = grown;
    }
    list->entries[list->count++] = *rec;
    return 1;
}

void kvxInitTrimSurface(TrimSurface* rec) {
    if (rec == nullptr) return;
    std::memset(rec, 0, sizeof(*rec));
    rec->umin = rec->vmin = DBL_MAX;
    rec->umax = rec->vmax = -DBL_MAX;
}

void bsplSurfaceFree(BsplSurface* surface) {
    if (surface == nullptr) return;
    std::free(surface->uKnots);
    std::free(surface->vKnots);
    if (surface->rows != nullptr) std::free(surface->rows[0]);
    std::free(surface->rows);
    if ((surface->rational || surface->rational2) && surface->weights != nullptr) {
        std::free(surface->weights[0]);
        std::free(surface->weights);
    }
    std::memset(surface, 0, sizeof(*surface));
}

void kvxFreeTrimSurface(TrimSurface* rec) {
    if (rec == nullptr) return;
    for (int32_t i = 0; i < rec->loopCount; ++i) std::free(rec->loops[i].points);
    std::free(rec->loops);
    bsplSurfaceFree(&rec->surface);
    kvxInitTrimSurface(rec);
}

int bsplSurfaceAlloc(BsplSurface* surface, int32_t uOrder, int32_t vOrder, int32_t uNum, int32_t vNum,
                     int32_t rational) {
    if (surface == nullptr) return -1;
    std::memset(surface, 0, sizeof(*surface));
    if (uOrder < 2 || vOrder < 2 || uNum < uOrder || vNum < vOrder) return -1;
    if (int64_t{uNum} + uOrder > kSurfMaxKnots || int64_t{vNum} + vOrder > kSurfMaxKnots) return -1;
    const int64_t points = int64_t{uNum} * vNum;
    if (points > kSurfMaxPoints) return -1;
    BsplSurface s{};
    s.uOrder = uOrder;
    s.vOrder = vOrder;
    s.uNum = uNum;
    s.vNum = vNum;
    s.rational = s.rational2 = rational ? 1 : 0;
    s.uKnots = static_cast<double*>(memCalloc(static_cast<size_t>(uNum + uOrder), sizeof(double)));
    s.vKnots = static_cast<double*>(memCalloc(static_cast<size_t>(vNum + vOrder), sizeof(double)));
    s.rows = static_cast<Vec3**>(memCalloc(static_cast<size_t>(uNum), sizeof(Vec3*)));
    Vec3* block = static_cast<Vec3*>(memCalloc(static_cast<size_t>(points), sizeof(Vec3)));
    bool ok = s.uKnots != nullptr && s.vKnots != nullptr && s.rows != nullptr && block != nullptr;
    if (s.rows == nullptr) {
        std::free(block);
    } else if (block != nullptr) {
        for (int32_t i = 0; i < uNum; ++i) s.rows[i] = block + int64_t{i} * vNum;
    }
    if (ok && s.rational) {
        s.weights = static_cast<double**>(memCalloc(static_cast<size_t>(uNum), sizeof(double*)));
        double* wblock = static_cast<double*>(memCalloc(static_cast<size_t>(points), sizeof(double)));
        if (s.weights == nullptr || wblock == nullptr) {
            std::free(wblock);
            std::free(s.weights);
            s.weights = nullptr;
            ok = false;
        } else {
            for (int64_t k = 0; k < points; ++k) wblock[k] = 1.0;
            for (int32_t i = 0; i < uNum; ++i) s.weights[i] = wblock + int64_t{i} * vNum;
        }
    }
    if (!ok) {
        bsplSurfaceFree(&s);
        return -1;
    }
    *surface = s;
    return 1;
}

int trimLoopAppend(TrimLoop* loop, const Vec2* points, int32_t n) {
    if (loop == nullptr || n < 0 || (n > 0 && points == nullptr)) return -1;
    const int64_t total = int64_t{loop->count} + n;
    if (total > kSurfMaxLoopPoints) return -1;
    if (n == 0) return 1;
    void* block = memRealloc(loop->points, static_cast<size_t>(total) * sizeof(Vec2));
    if (block == nullptr) return -1;
    loop->points = static_cast<Vec2*>(block);
    std::memcpy(loop->points + loop->count, points, static_cast<size_t>(n) * sizeof(Vec2));
    loop->count = static_cast<int32_t>(total);
    return 1;
}

int trimSurfaceAddLoop(TrimSurface* rec, const Vec2* points, int32_t n) {
    if (rec == nullptr || rec->loopCount == INT32_MAX) return -1;
    TrimLoop loop{nullptr, 0};
    if (trimLoopAppend(&loop, points, n) < 0) return -1;
    void* block = memRealloc(rec->loops, (static_cast<size_t>(rec->loopCount) + 1) * sizeof(TrimLoop));
    if (block == nullptr) {
        std::free(loop.points);
        return -1;
    }
    rec->loops = static_cast<TrimLoop*>(block);
    rec->loops[rec->loopCount++] = loop;
    trimSurfaceUpdateBox(rec);
    return 1;
}

void trimSurfaceUpdateBox(TrimSurface* rec) {
    if (rec == nullptr) return;
    rec->umin = rec->vmin = DBL_MAX;
    rec->umax = rec->vmax = -DBL_MAX;
    for (int32_t i = 0; i < rec->loopCount; ++i) {
        const TrimLoop& loop = rec->loops[i];
        for (int32_t k = 0; k < loop.count; ++k) {
            const Vec2& p = loop.points[k];
            if (p.x < rec->umin) rec->umin = p.x;
            if (p.x > rec->umax) rec->umax = p.x;
            if (p.y < rec->vmin) rec->vmin = p.y;
            if (p.y > rec->vmax) rec->vmax = p.y;
        }
    }
}

namespace {

// Maps knots of one direction to 0..1 when their range is short; the returned scale is 0 when the
// range stays as it is.
void normKnots(double* knots, int32_t n, double* first, double* scale) {
    *scale = 0.0;
    *first = knots[0];
    const double span = knots[n - 1] - knots[0];
    // A range below 0.5 (1/span > 2) is stretched; below 1e-8 it carries no usable parameter.
    if (!(span >= 1e-8) || !(1.0 / span > 2.0)) return;
    for (int32_t i = 0; i < n; ++i) knots[i] = (knots[i] - *first) / span;
    *scale = span;
}

}  // namespace

void normSurfListKnots(SurfList* list) {
    if (list == nullptr) return;
    for (int32_t s = 0; s < list->count; ++s) {
        TrimSurface& rec = list->entries[s];
        BsplSurface& surf = rec.surface;
        if (surf.uKnots == nullptr || surf.vKnots == nullptr) continue;
        double u0 = 0, uspan = 0, v0 = 0, vspan = 0;
        normKnots(surf.uKnots, surf.uNum + surf.uOrder, &u0, &uspan);
        normKnots(surf.vKnots, surf.vNum + surf.vOrder, &v0, &vspan);
        for (int32_t i = 0; i < rec.loopCount; ++i) {
            TrimLoop& loop = rec.loops[i];
            for (int32_t k = 0; k < loop.count; ++k) {
                if (uspan > 0) loop.points[k].x = (loop.points[k].x - u0) / uspan;
                if (vspan > 0) loop.points[k].y = (loop.points[k].y - v0) / vspan;
            }
        }
        // Only a real box moves: the empty box keeps its sentinels.
        if (rec.umin <= rec.umax && uspan > 0) {
            rec.umin = (rec.umin - u0) / uspan;
            rec.umax = (rec.umax - u0) / uspan;
        }
        if (rec.vmin <= rec.vmax && vspan > 0) {
            rec.vmin = (rec.vmin - v0) / vspan;
            rec.vmax = (rec.vmax - v0) / vspan;
        }
    }
}

void surfToFrameM1(TrimSurface* surface) {
    if (surface == nullptr || surface->surface.rows == nullptr) return;
    const BsplSurface& s = surface->surface;
    for (int32_t i = 0; i < s.uNum; ++i)
        for (int32_t j = 0; j < s.vNum; ++j) framePairToM1(&s.rows[i][j]);
}

void surfListToFrameM1(SurfList* list) {
    if (list == nullptr) return;
    for (int32_t i = 0; i < list->count; ++i) surfToFrameM1(&list->entries[i]);
}
