// Sampled iso lines of trimmed surfaces.
#include "plunge/isostrip.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "geometry/bspl.h"
#include "geometry/frames.h"
#include "surfaces/nurbs.h"

namespace {

constexpr int32_t kMaxSamples = 1000000;

double unitToKnot(const double* knots, int32_t num, int32_t order, double t) {
    const double a = knots[0], b = knots[num + order - 1];
    return a + t * (b - a);
}

}  // namespace

IsoStrip* isoStripCreate(int32_t count) {
    if (count < 1 || count > kMaxSamples) return nullptr;
    auto* s = static_cast<IsoStrip*>(std::calloc(1, sizeof(IsoStrip)));
    if (s == nullptr) return nullptr;
    const size_t n = static_cast<size_t>(count);
    s->edge0 = static_cast<Vec3*>(std::calloc(n, sizeof(Vec3)));
    s->edge1 = static_cast<Vec3*>(std::calloc(n, sizeof(Vec3)));
    s->middle = static_cast<Vec3*>(std::calloc(n, sizeof(Vec3)));
    s->t = static_cast<double*>(std::calloc(n, sizeof(double)));
    s->count = count;
    if (s->edge0 == nullptr || s->edge1 == nullptr || s->middle == nullptr || s->t == nullptr) {
        isoStripFree(s);
        return nullptr;
    }
    return s;
}

void isoStripFree(IsoStrip* s) {
    if (s == nullptr) return;
    std::free(s->edge0);
    std::free(s->edge1);
    std::free(s->middle);
    std::free(s->t);
    std::free(s);
}

IsoStrip* isoStripCopyRange(const IsoStrip* src, int32_t first, int32_t last) {
    if (src == nullptr || first < 0 || last >= src->count || first > last) return nullptr;
    IsoStrip* s = isoStripCreate(last - first + 1);
    if (s == nullptr) return nullptr;
    s->surface = src->surface;
    const size_t n = static_cast<size_t>(s->count);
    std::memcpy(s->edge0, src->edge0 + first, n * sizeof(Vec3));
    std::memcpy(s->edge1, src->edge1 + first, n * sizeof(Vec3));
    std::memcpy(s->middle, src->middle + first, n * sizeof(Vec3));
    std::memcpy(s->t, src->t + first, n * sizeof(double));
    return s;
}

void isoStripSwapEdges(IsoStrip* s) {
    if (s != nullptr) std::swap(s->edge0, s->edge1);
}

void isoStripReverse(IsoStrip* s) {
    if (s == nullptr) return;
    std::reverse(s->edge0, s->edge0 + s->count);
    std::reverse(s->edge1, s->edge1 + s->count);
    std::reverse(s->middle, s->middle + s->count);
    std::reverse(s->t, s->t + s->count);
}

int isoSurfacePoint(const TrimSurface* rec, double u, double v, Vec3* out) {
    if (rec == nullptr || out == nullptr) return -1;
    const BsplSurface& s = rec->surface;
    const double pu = unitToKnot(s.uKnots, s.uNum, s.uOrder, u),
                 pv = unitToKnot(s.vKnots, s.vNum, s.vOrder, v);
    Vec3 p;
    // 0 is the offset point, 1 the plain one; an offset point without a normal is no point.
    if (nurbsSurfPoint(rec, pu, pv, &p) < 0) return -1;
    pointWorldToFrameA(&p);
    *out = p;
    return 1;
}

double isoLineLength(const TrimSurface* surface, int32_t direction) {
    double len = 0.0;
    Vec3 prev{};
    for (int32_t i = 0; i < 100; ++i) {
        const double t = i / 99.0;
        Vec3 p;
        if (isoSurfacePoint(surface, direction == 0 ? 0.0 : t, direction == 0 ? t : 0.0, &p) != 1) return 0.0;
        if (i > 0) len += dist3D(&prev, &p);
        prev = p;
    }
    return len;
}

IsoStrip* idx5SurfaceIsoCurve(const TrimSurface* surface, int32_t direction, double tol) {
    if (surface == nullptr || !(tol > 0.0)) return nullptr;
    // The measured length falls short of the true one by a few parts in 1e9 (the evaluator keeps the
    // last parameter a hair inside the knot range): a whole multiple of tol must not lose a sample.
    const double n = std::trunc(isoLineLength(surface, direction) / tol * (1.0 + 1e-7));
    if (!(n >= 0.0) || n > kMaxSamples - 2) return nullptr;
    const int32_t count = static_cast<int32_t>(n) + 2;
    IsoStrip* s = isoStripCreate(count);
    if (s == nullptr) return nullptr;
    s->surface = surface;
    const double cross[3] = {0.0, 0.5, 1.0};
    if (!surface->hasOffset) {
        // A plain point from basis rows: the three cross rows serve the whole strip and each sample's
        // row its three points (the very sums of the point measured alone).
        const BsplSurface& b = surface->surface;
        const int32_t cd = direction == 0 ? 0 : 1, td = 1 - cd;
        const double* ck = cd == 0 ? b.uKnots : b.vKnots;
        const double* tk = td == 0 ? b.uKnots : b.vKnots;
        const int32_t cn = cd == 0 ? b.uNum : b.vNum, co = cd == 0 ? b.uOrder : b.vOrder;
        const int32_t tn = td == 0 ? b.uNum : b.vNum, to = td == 0 ? b.uOrder : b.vOrder;
        double crossRows[3][kBsplMaxOrder], row[kBsplMaxOrder];
        int32_t crossSpans[3], span = 0;
        bool ok = ck != nullptr && tk != nullptr;
        for (int k = 0; ok && k < 3; ++k)
            ok = nurbsSurfBasisRow(&b, cd, unitToKnot(ck, cn, co, cross[k]), &crossSpans[k], crossRows[k]) ==
                 1;
        Vec3* outs[3] = {s->edge0, s->middle, s->edge1};
        for (int32_t i = 0; ok && i < count; ++i) {
            const double t = static_cast<double>(i) / (count - 1);
            ok = nurbsSurfBasisRow(&b, td, unitToKnot(tk, tn, to, t), &span, row) == 1;
            for (int k = 0; ok && k < 3; ++k) {
                Vec3 p;
                if (cd == 0)
                    nurbsSurfEvalRows(&b, crossSpans[k], crossRows[k], span, row, &p);
                else
                    nurbsSurfEvalRows(&b, span, row, crossSpans[k], crossRows[k], &p);
                pointWorldToFrameA(&p);
                outs[k][i] = p;
            }
            s->t[i] = t;
        }
        if (!ok) {
            isoStripFree(s);
            return nullptr;
        }
        return s;
    }
    for (int32_t i = 0; i < count; ++i) {
        const double t = static_cast<double>(i) / (count - 1);
        Vec3* outs[3] = {&s->edge0[i], &s->middle[i], &s->edge1[i]};
        for (int k = 0; k < 3; ++k) {
            const double u = direction == 0 ? cross[k] : t, v = direction == 0 ? t : cross[k];
            if (isoSurfacePoint(surface, u, v, outs[k]) != 1) {
                isoStripFree(s);
                return nullptr;
            }
        }
        s->t[i] = t;
    }
    return s;
}
