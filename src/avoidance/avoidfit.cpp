// Band fits of the avoidance angle profiles on the geometry kernel's band-constrained fit.
#include "avoidance/avoidfit.h"

#include <cmath>
#include <cstdlib>
#include <new>
#include <vector>

#include "collision/collassembly.h"
#include "geometry/bandfit.h"
#include "kernel/base/constants.h"

namespace {

// Consecutive points must differ in parameter and position, else the fit has no abscissa order.
bool distinctNeighbours(const AvoidTable* table, const Plist* list) {
    for (int32_t i = 1; i < table->count; ++i) {
        if (std::fabs(table->entries[i].parameter - table->entries[i - 1].parameter) < 1e-5) return false;
        if (dist3D(&list->points[i], &list->points[i - 1]) < 1e-5) return false;
    }
    return true;
}

// Runs the kernel's fit on the record; parameters running down are mirrored, the kernel wanting
// rising abscissae.
int runBandFit(FreeLineFillet2Args* rec) {
    // Without memory the fit fails like any other: an exception would leak the callers' buffers.
    try {
        const int32_t n = rec->count;
        std::vector<double> x(rec->para, rec->para + n);
        if (n >= 2 && x[n - 1] < x[0])
            for (double& v : x) v = -v;
        return bandFit(x.data(), rec->lower, rec->upper, rec->out, n);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

}  // namespace

FreeLineFillet2Args* fillet_rec_create(int32_t n) {
    if (n < 1 || n > (1 << 26)) return nullptr;
    auto* r = static_cast<FreeLineFillet2Args*>(std::calloc(1, sizeof(FreeLineFillet2Args)));
    if (!r) return nullptr;
    r->capacity = 4 * n;
    r->count = n;
    r->eps = 0.05;
    r->para = static_cast<double*>(std::calloc(r->capacity, sizeof(double)));
    r->lower = static_cast<double*>(std::calloc(r->capacity, sizeof(double)));
    r->upper = static_cast<double*>(std::calloc(r->capacity, sizeof(double)));
    r->out = static_cast<double*>(std::calloc(r->capacity, sizeof(double)));
    r->flags = static_cast<int32_t*>(std::calloc(r->capacity, sizeof(int32_t)));
    if (!r->para || !r->lower || !r->upper || !r->out || !r->flags) {
        fillet_rec_free(r);
        return nullptr;
    }
    return r;
}

void fillet_rec_free(FreeLineFillet2Args* rec) {
    if (!rec) return;
    std::free(rec->para);
    std::free(rec->lower);
    std::free(rec->upper);
    std::free(rec->out);
    std::free(rec->flags);
    std::free(rec);
}

void fillet_rec_scale(FreeLineFillet2Args* rec, double factor) {
    for (int32_t i = 0; i < rec->count; ++i) {
        rec->lower[i] *= factor;
        rec->upper[i] *= factor;
        rec->out[i] *= factor;
    }
}

int avoidListInsert(Plist* list, double t) {
    Vec3 p, v;
    if (plistPointAndVectorAtParam(list, t, &p, &v) < 0) return 0;
    if (plistSplitAtParam(list, t, 1e-5) < 0) return 0;
    const int32_t k = plistSplitIndex();
    if (k < 0) return 0;
    list->vectors[k] = v;
    return 1;
}

int avoidFitBandB(AvoidTable* table, Plist* list) {
    if (!table || !list || !list->vectors || table->count < 1 || table->count > list->count) return -1;
    if (!distinctNeighbours(table, list)) return -1;
    const int32_t n = table->count;
    FreeLineFillet2Args* rec = fillet_rec_create(2 * n);
    if (!rec) return -1;
    rec->count = n;
    for (int32_t i = 0; i < n; ++i) {
        const AvoidEntry& e = table->entries[i];
        rec->para[i] = e.parameter;
        rec->lower[i] = e.bMin;
        rec->upper[i] = e.bMax;
        rec->out[i] = e.b;
    }
    fillet_rec_scale(rec, kRadToDeg);
    const int r = runBandFit(rec);
    fillet_rec_scale(rec, kDegToRad);
    const int result = r == 0 ? -1 : (r > 0 ? 1 : r);
    // Written whatever the outcome: after a failed fit the passes fail and the range is restored.
    for (int32_t i = 0; i < n; ++i) {
        AvoidEntry& e = table->entries[i];
        e.b = rec->out[i];
        dirFromAngles(&list->vectors[i], e.c, e.b);
    }
    fillet_rec_free(rec);
    return result;
}

int avoidFitBandC(AvoidTable* table, Plist* list) {
    if (!table || !list || !list->vectors || table->count < 1 || table->count > list->count) return -1;
    if (!distinctNeighbours(table, list)) return -1;
    const int32_t n = table->count;
    double* lo = avoidUnwrapColumn(table, kAvoidColumnCLow);
    double* hi = avoidUnwrapColumn(table, kAvoidColumnCHigh);
    double* cc = avoidUnwrapColumn(table, kAvoidColumnC);
    FreeLineFillet2Args* rec = lo && hi && cc ? fillet_rec_create(2 * n) : nullptr;
    int result = rec ? 0 : -1;
    for (int32_t i = 0; rec && i < n; ++i)
        if (hi[i] - lo[i] > 6.283185307179586) result = -1;  // a band past a full turn has no sides
    if (result == 0) {
        rec->count = n;
        for (int32_t i = 0; i < n; ++i) {
            rec->para[i] = table->entries[i].parameter;
            rec->lower[i] = lo[i];
            rec->upper[i] = hi[i];
            rec->out[i] = cc[i];
        }
        fillet_rec_scale(rec, kRadToDeg);
        const int r = runBandFit(rec);
        fillet_rec_scale(rec, kDegToRad);
        result = r == 0 ? -1 : (r > 0 ? 1 : r);
        for (int32_t i = 0; i < n; ++i) {
            AvoidEntry& e = table->entries[i];
            e.c = rec->out[i];
            dirFromAngles(&list->vectors[i], e.c, e.b);
        }
        // A C profile that turns fast between two points may sweep the head through an obstacle.
        for (int32_t i = 1; i < n; ++i) {
            const AvoidEntry& a = table->entries[i - 1];
            const AvoidEntry& b = table->entries[i];
            if (std::fabs((b.c - a.c) / (b.parameter - a.parameter)) <= 0.0651) continue;
            Vec3 axis, mid;
            dirFromAngles(&axis, 0.5 * (a.c + b.c), 0.5 * (a.b + b.b));
            mid = {0.5 * (list->points[i - 1].x + list->points[i].x),
                   0.5 * (list->points[i - 1].y + list->points[i].y),
                   0.5 * (list->points[i - 1].z + list->points[i].z)};
            if (coll_check_full(&mid, &axis, nullptr) != 1) result = -2;
        }
    }
    fillet_rec_free(rec);
    std::free(lo);
    std::free(hi);
    std::free(cc);
    return result;
}
