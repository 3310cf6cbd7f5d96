// Surface evaluation from explicit basis functions and their derivatives.
#include "surfaces/nurbs.h"

#include <cmath>

#include "geometry/bspl.h"
#include "surfaces/facet.h"

namespace {

// Homogeneous sums and their derivatives: value, u, v, uu, uv, vv.
enum { kVal, kU, kV, kUU, kUV, kVV, kTerms };

struct Hom {
    Vec3 A[kTerms];
    double W[kTerms];
};

bool isRational(const BsplSurface* s) {
    return s->rational || s->rational2;
}

bool usable(const BsplSurface* s) {
    if (s == nullptr || s->uOrder < 2 || s->vOrder < 2 || s->uOrder > kBsplMaxOrder ||
        s->vOrder > kBsplMaxOrder)
        return false;
    if (s->uNum < s->uOrder || s->vNum < s->vOrder) return false;
    if (s->uKnots == nullptr || s->vKnots == nullptr || s->rows == nullptr || s->rows[0] == nullptr)
        return false;
    return !isRational(s) || (s->weights != nullptr && s->weights[0] != nullptr);
}

bool pull(double* t, const double* knots, int32_t num) {
    if (!std::isfinite(*t)) return false;
    if (*t <= knots[0]) *t = knots[0] + 1e-8;
    if (*t >= knots[num]) *t = knots[num] - 1e-8;
    return true;
}

// The sums of the first `Terms` terms from the basis rows Nu, Nv at the spans su, sv: the same products
// in the same order whatever the count; the count fixed at compile time keeps the sums in registers.
// Orders UO, VO fixed at compile time (0: the surface's) unroll the loops; a surface without weights
// takes the weight 1 out of its products, which leaves every product as it was.
// Nu[d], Nv[d]: the basis row of derivative order d.
template <int Terms, int UO, int VO, bool Rational>
void sumOf(const BsplSurface* s, int32_t su, int32_t sv, const double* const* Nu, const double* const* Nv,
           Hom* h) {
    // Which (u order, v order) pair of basis rows each term takes.
    static constexpr int kDu[kTerms] = {0, 1, 0, 2, 1, 0}, kDv[kTerms] = {0, 0, 1, 0, 1, 2};
    const int32_t uo = UO > 0 ? UO : s->uOrder, vo = VO > 0 ? VO : s->vOrder;
    Vec3 A[Terms] = {};
    double W[Terms] = {};
#pragma GCC unroll 4
    for (int32_t i = 0; i < uo; ++i) {
        const int32_t row = su - uo + 1 + i, col0 = sv - vo + 1;
        const Vec3* P = s->rows[row] + col0;
        const double* w = Rational ? s->weights[row] + col0 : nullptr;
#pragma GCC unroll 4
        for (int32_t j = 0; j < vo; ++j) {
            for (int t = 0; t < Terms; ++t) {
                const double b =
                    Rational ? Nu[kDu[t]][i] * Nv[kDv[t]][j] * w[j] : Nu[kDu[t]][i] * Nv[kDv[t]][j];
                A[t].x += b * P[j].x, A[t].y += b * P[j].y, A[t].z += b * P[j].z;
                W[t] += b;
            }
        }
    }
    for (int t = 0; t < Terms; ++t) h->A[t] = A[t], h->W[t] = W[t];
}

template <int Terms>
void sumTerms(const BsplSurface* s, int32_t su, int32_t sv, const double* const* Nu, const double* const* Nv,
              Hom* h) {
    if (isRational(s)) return sumOf<Terms, 0, 0, true>(s, su, sv, Nu, Nv, h);
    if (Terms == 1) {
        if (s->uOrder == 4 && s->vOrder == 4) return sumOf<Terms, 4, 4, false>(s, su, sv, Nu, Nv, h);
        if (s->uOrder == 2 && s->vOrder == 4) return sumOf<Terms, 2, 4, false>(s, su, sv, Nu, Nv, h);
        if (s->uOrder == 4 && s->vOrder == 2) return sumOf<Terms, 4, 2, false>(s, su, sv, Nu, Nv, h);
        if (s->uOrder == 3 && s->vOrder == 3) return sumOf<Terms, 3, 3, false>(s, su, sv, Nu, Nv, h);
        if (s->uOrder == 2 && s->vOrder == 2) return sumOf<Terms, 2, 2, false>(s, su, sv, Nu, Nv, h);
    }
    sumOf<Terms, 0, 0, false>(s, su, sv, Nu, Nv, h);
}

// Sums up to derivative order nd (0, 1 or 2) in each direction. 0, or -1 when a basis fails; a plain
// point (nd 0) also fails on a degenerate knot difference, as the plain basis reports it.
int homSums(const BsplSurface* s, double u, double v, int nd, Hom* h) {
    if (!usable(s) || !pull(&u, s->uKnots, s->uNum) || !pull(&v, s->vKnots, s->vNum)) return -1;
    const int32_t su = knotSpan(s->uKnots, s->uNum, s->uOrder, u);
    const int32_t sv = knotSpan(s->vKnots, s->vNum, s->vOrder, v);
    double Nu[3][kBsplMaxOrder], Nv[3][kBsplMaxOrder];
    if (nd == 0) {
        if (bsplBasis(s->uKnots, s->uNum, s->uOrder, su, u, Nu[0]) < 0) return -1;
        if (bsplBasis(s->vKnots, s->vNum, s->vOrder, sv, v, Nv[0]) < 0) return -1;
    } else {
        if (bsplBasisDerivs(su, s->uKnots, s->uNum, s->uOrder, nd, u, Nu) < 0) return -1;
        if (bsplBasisDerivs(sv, s->vKnots, s->vNum, s->vOrder, nd, v, Nv) < 0) return -1;
    }
    for (int t = 0; t < kTerms; ++t) h->A[t] = {0, 0, 0}, h->W[t] = 0;
    const double* const rowsU[3] = {Nu[0], Nu[1], Nu[2]};
    const double* const rowsV[3] = {Nv[0], Nv[1], Nv[2]};
    if (nd == 0)
        sumTerms<1>(s, su, sv, rowsU, rowsV, h);
    else if (nd == 1)
        sumTerms<3>(s, su, sv, rowsU, rowsV, h);
    else
        sumTerms<kTerms>(s, su, sv, rowsU, rowsV, h);
    return 0;
}

Vec3 axpy(const Vec3& a, double f, const Vec3& b) {
    return {a.x + f * b.x, a.y + f * b.y, a.z + f * b.z};
}

Vec3 scaled(const Vec3& a, double f) {
    return {a.x * f, a.y * f, a.z * f};
}

// Cartesian point and derivatives from the sums; rc -1 when a weight sum that is divided by vanishes.
struct Cart {
    Vec3 S, Su, Sv, Suu, Suv, Svv;
    int rc;
};

Cart cartesian(const Hom& h, int nd) {
    Cart c{};
    c.rc = 1;
    const double W = h.W[kVal];
    c.S = std::fabs(W) >= 1e-10 ? scaled(h.A[kVal], 1.0 / W) : h.A[kVal];
    if (nd < 1) return c;
    double w = W;
    if (std::fabs(w) < 1e-10) w = 1.0, c.rc = -1;
    c.Su = scaled(axpy(h.A[kU], -h.W[kU], c.S), 1.0 / w);
    c.Sv = scaled(axpy(h.A[kV], -h.W[kV], c.S), 1.0 / w);
    if (nd < 2) return c;
    const double w2 = std::fabs(W) < 1e-8 ? 1.0 : W;
    if (std::fabs(W) < 1e-8) c.rc = -1;
    c.Suu = scaled(axpy(axpy(h.A[kUU], -2.0 * h.W[kU], c.Su), -h.W[kUU], c.S), 1.0 / w2);
    c.Svv = scaled(axpy(axpy(h.A[kVV], -2.0 * h.W[kV], c.Sv), -h.W[kVV], c.S), 1.0 / w2);
    c.Suv = scaled(axpy(axpy(axpy(h.A[kUV], -h.W[kUV], c.S), -h.W[kU], c.Sv), -h.W[kV], c.Su), 1.0 / w2);
    return c;
}

// One Cartesian output of derivative order nd; `pick` chooses it.
int evalOne(const BsplSurface* s, double u, double v, int nd, Vec3 Cart::*pick, Vec3* out) {
    if (out == nullptr) return -1;
    Hom h;
    if (homSums(s, u, v, nd, &h) < 0) return -1;
    const Cart c = cartesian(h, nd);
    *out = c.*pick;
    return c.rc;
}

// The point alone, as evalOne answers it for derivative order 0.
int plainPoint(const BsplSurface* s, double u, double v, Vec3* out) {
    Hom h;
    if (out == nullptr || homSums(s, u, v, 0, &h) < 0) return -1;
    *out = std::fabs(h.W[kVal]) >= 1e-10 ? scaled(h.A[kVal], 1.0 / h.W[kVal]) : h.A[kVal];
    return 1;
}

int weightTerm(const BsplSurface* s, double u, double v, int term, double* w) {
    if (w == nullptr) return -1;
    *w = 0.0;
    if (s == nullptr || !isRational(s)) return -1;
    Hom h;
    if (homSums(s, u, v, term == kVal ? 0 : 1, &h) < 0) return -1;
    *w = h.W[term];
    return 1;
}

int homSecond(const BsplSurface* s, double u, double v, int term, Vec3 Cart::*plain, Vec3* out, double* w) {
    if (out == nullptr || w == nullptr) return -1;
    if (s == nullptr || !isRational(s)) {
        *w = 0.0;
        return evalOne(s, u, v, 2, plain, out);
    }
    Hom h;
    if (homSums(s, u, v, 2, &h) < 0) return -1;
    *w = h.W[term];
    *out = std::fabs(*w) >= 1e-10 ? scaled(h.A[term], 1.0 / *w) : h.A[term];
    return 1;
}

}  // namespace

int nurbsSurfEval(const BsplSurface* s, double u, double v, Vec3* point) {
    return plainPoint(s, u, v, point);
}
int nurbsSurfDu(const BsplSurface* s, double u, double v, Vec3* out) {
    return evalOne(s, u, v, 1, &Cart::Su, out);
}
int nurbsSurfDv(const BsplSurface* s, double u, double v, Vec3* out) {
    return evalOne(s, u, v, 1, &Cart::Sv, out);
}
int nurbsSurfDuu(const BsplSurface* s, double u, double v, Vec3* out) {
    return evalOne(s, u, v, 2, &Cart::Suu, out);
}
int nurbsSurfDuv(const BsplSurface* s, double u, double v, Vec3* out) {
    return evalOne(s, u, v, 2, &Cart::Suv, out);
}
int nurbsSurfDvv(const BsplSurface* s, double u, double v, Vec3* out) {
    return evalOne(s, u, v, 2, &Cart::Svv, out);
}

int nurbsSurfWeight(const BsplSurface* s, double u, double v, double* w) {
    return weightTerm(s, u, v, kVal, w);
}
int nurbsSurfWeightDu(const BsplSurface* s, double u, double v, double* w) {
    return weightTerm(s, u, v, kU, w);
}
int nurbsSurfWeightDv(const BsplSurface* s, double u, double v, double* w) {
    return weightTerm(s, u, v, kV, w);
}
int nurbsSurfHomDuu(const BsplSurface* s, double u, double v, Vec3* out, double* w) {
    return homSecond(s, u, v, kUU, &Cart::Suu, out, w);
}
int nurbsSurfHomDuv(const BsplSurface* s, double u, double v, Vec3* out, double* w) {
    return homSecond(s, u, v, kUV, &Cart::Suv, out, w);
}
int nurbsSurfHomDvv(const BsplSurface* s, double u, double v, Vec3* out, double* w) {
    return homSecond(s, u, v, kVV, &Cart::Svv, out, w);
}

int nurbsSurfOffsetPoint(const BsplSurface* s, double u, double v, double d, Vec3* point, double* length,
                         Vec3* normal) {
    if (point == nullptr) return -1;
    Hom h;
    if (homSums(s, u, v, 1, &h) < 0) return -1;
    const Cart c = cartesian(h, 1);
    Vec3 n{};
    cross3D(&c.Su, &c.Sv, &n);
    const double nn = vecDot3D(&n, &n);
    const double len = nn > 0.0 ? std::sqrt(nn) : 1.0;
    *point = axpy(c.S, d / len, n);
    if (length != nullptr) *length = len;
    if (normal != nullptr) *normal = n;
    return nn > 0.0 ? 0 : -1;
}

int nurbsSurfPoint(const TrimSurface* rec, double u, double v, Vec3* point) {
    if (rec == nullptr) return -1;
    if (rec->hasOffset)
        return nurbsSurfOffsetPoint(&rec->surface, u, v, rec->offset, point, nullptr, nullptr);
    return nurbsSurfEval(&rec->surface, u, v, point);
}

int nurbsSurfBasisRow(const BsplSurface* s, int32_t dir, double t, int32_t* span, double* N) {
    if (span == nullptr || N == nullptr || !usable(s)) return -1;
    const double* knots = dir == 0 ? s->uKnots : s->vKnots;
    const int32_t num = dir == 0 ? s->uNum : s->vNum, order = dir == 0 ? s->uOrder : s->vOrder;
    if (!pull(&t, knots, num)) return -1;
    *span = knotSpan(knots, num, order, t);
    return bsplBasis(knots, num, order, *span, t, N) < 0 ? -1 : 1;
}

int nurbsSurfEvalRows(const BsplSurface* s, int32_t su, const double* Nu, int32_t sv, const double* Nv,
                      Vec3* point) {
    Hom h;  // the sums write the value terms, the only ones read
    sumTerms<1>(s, su, sv, &Nu, &Nv, &h);
    *point = std::fabs(h.W[kVal]) >= 1e-10 ? scaled(h.A[kVal], 1.0 / h.W[kVal]) : h.A[kVal];
    return 1;
}

int nurbsSurfPointSpans(const TrimSurface* rec, double u, double v, int32_t* su, int32_t* sv) {
    if (rec == nullptr || rec->hasOffset || su == nullptr || sv == nullptr) return 0;
    const BsplSurface* s = &rec->surface;
    if (!usable(s) || !pull(&u, s->uKnots, s->uNum) || !pull(&v, s->vKnots, s->vNum)) return 0;
    *su = knotSpan(s->uKnots, s->uNum, s->uOrder, u);
    *sv = knotSpan(s->vKnots, s->vNum, s->vOrder, v);
    return 1;
}

int nurbsSurfFirstForm(const BsplSurface* s, double u, double v, double* E, double* F, double* G, Vec3* Su,
                       Vec3* Sv, Vec3* N, double sc) {
    Hom h;
    if (homSums(s, u, v, 1, &h) < 0) return -1;
    const Cart c = cartesian(h, 1);
    if (c.rc < 0) return c.rc;
    const Vec3 a = scaled(c.Su, sc), b = scaled(c.Sv, sc);
    if (E != nullptr) *E = vecDot3D(&a, &a);
    if (F != nullptr) *F = vecDot3D(&a, &b);
    if (G != nullptr) *G = vecDot3D(&b, &b);
    if (Su != nullptr) *Su = c.Su;
    if (Sv != nullptr) *Sv = c.Sv;
    Vec3 n{};
    cross3D(&a, &b, &n);
    const double len = vecLen3D(&n);
    int rc = 1;
    if (len <= 1e-8) rc = -1;
    if (N != nullptr) *N = len <= 1e-6 ? Vec3{0.0, 0.0, 0.0} : scaled(n, 1.0 / len);
    return rc;
}

int nurbsSurfSecondForm(const BsplSurface* s, const Vec3* N, double u, double v, double* L, double* M,
                        double* Nn, double* LNM, double sc) {
    if (N == nullptr) return -1;
    Hom h;
    if (homSums(s, u, v, 2, &h) < 0) return -1;
    const Cart c = cartesian(h, 2);
    if (c.rc < 0) return c.rc;
    const double s2 = sc * sc;
    const double l = s2 * vecDot3D(&c.Suu, N), m = s2 * vecDot3D(&c.Suv, N), n = s2 * vecDot3D(&c.Svv, N);
    if (L != nullptr) *L = l;
    if (M != nullptr) *M = m;
    if (Nn != nullptr) *Nn = n;
    if (LNM != nullptr) *LNM = l * n - m * m;
    return 1;
}

int nurbsSurfCurvature(const BsplSurface* s, double u, double v, double* k1, double* k2) {
    if (k1 == nullptr || k2 == nullptr) return -1;
    *k1 = *k2 = 0.0;
    // The scale cancels in the curvatures; it keeps the forms of large parameter ranges moderate.
    const double sc = 0.1;
    double E = 0, F = 0, G = 0, L = 0, M = 0, N = 0;
    Vec3 normal{};
    int rc = nurbsSurfFirstForm(s, u, v, &E, &F, &G, nullptr, nullptr, &normal, sc);
    if (rc < 0) return rc;
    rc = nurbsSurfSecondForm(s, &normal, u, v, &L, &M, &N, nullptr, sc);
    if (rc < 0) return rc;
    return curvatureFromDerivs(E, F, G, L, M, N, k1, k2);
}
