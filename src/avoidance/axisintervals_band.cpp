// Contact kernels of the tilt-angle intervals: ring against face, point on ring or band, and the
// band against an edge window, found by a scan and Newton steps.
#include <cmath>
#include <initializer_list>

#include "avoidance/axisintervals.h"
#include "avoidance/axisintervals_math.h"
#include "geometry/solve.h"
#include "kernel/base/constants.h"

namespace {

using namespace axisvec;

// u on band i at squared distance q from the tool point; false where the quadratic has no root.
bool bandParamAt(const AxisObstacleModel* m, int32_t i, double q, double* u) {
    const double c0 = m->bandQuad[0][i], c1 = m->bandQuad[1][i], c2 = m->bandQuad[2][i],
                 c3 = m->bandQuad[3][i];
    const double disc = c2 + (q - c3) * c0;
    if (!(disc >= 0.0) || c0 == 0.0) return false;
    *u = (std::sqrt(disc) - c1) / c0;
    return true;
}

// The angles at which a point at distance (d . A, d . W) in the tilt plane lies at axial height u and
// radial offset r cos(phi1): shared by rings and bands.
void tiltAngles(const AxisFrame* f, Vec3 d, double u, double r, double phi1, double* t1, double* t2) {
    const double gamma = std::atan2(r * std::cos(phi1), u);
    const double beta = std::atan2(dot(d, f->W), dot(d, f->A));
    *t1 = beta - gamma;
    *t2 = beta + gamma;
}

}  // namespace

void bandPointEval(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, double u, double t, double phi,
                   BandPoint* out) {
    const double s = m->bandSlope[i];
    const double r = s * u + m->bandBase[i];
    const Vec3 a = axisAt(f, t), n = acrossAt(f, t);
    const double c = std::cos(phi), sn = std::sin(phi);
    const Vec3 radial = add(mul(c, n), mul(sn, f->U));  // unit, across the axis
    const Vec3 turn = add(mul(-sn, n), mul(c, f->U));   // d radial / d phi
    out->X = add(f->P, add(mul(u, a), mul(r, radial)));
    out->du = add(a, mul(s, radial));
    out->dphi = mul(r, turn);
    out->dt = sub(mul(u, n), mul(r * c, a));
    out->dphiphi = mul(-r, radial);
    out->duphi = mul(s, turn);
    out->dphit = mul(r * sn, a);
    out->dut = sub(n, mul(s * c, a));
}

Vec3 bandNormal(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, double t, double phi) {
    const Vec3 n = acrossAt(f, t);
    return sub(add(mul(std::cos(phi), n), mul(std::sin(phi), f->U)), mul(m->bandSlope[i], axisAt(f, t)));
}

bool bandHitsTriangle(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3 tri[3],
                      const Vec3* n, double t) {
    const Vec3 a = axisAt(f, t), across = acrossAt(f, t);
    const double z0 = m->ringZ[i], z1 = m->ringZ[i + 1], s = m->bandSlope[i], b = m->bandBase[i];
    const Vec3 e1 = sub(tri[1], tri[0]), e2 = sub(tri[2], tri[0]);
    auto onFace = [&](Vec3 X) {
        const Vec3 r = sub(X, tri[0]);
        double x1, x2, x3;
        return solveLinear3(e1.x, e2.x, n->x, e1.y, e2.y, n->y, e1.z, e2.z, n->z, r.x, r.y, r.z, &x1, &x2,
                            &x3) &&
               x1 >= 0.0 && x2 >= 0.0 && x1 + x2 <= 1.0;
    };
    // An edge (a vertex is an edge's end) inside the solid: along the edge, squared distance from the axis
    // less the squared radius is a quadratic; its least value over the part between the end discs.
    for (int k = 0; k < 3; ++k) {
        const Vec3 p = sub(tri[k], f->P), e = sub(tri[(k + 1) % 3], tri[k]);
        const double pu = dot(p, a), eu = dot(e, a), rp = s * pu + b;
        const double qa = dot(e, e) - eu * eu - s * s * eu * eu;
        const double qb = 2.0 * (dot(p, e) - pu * eu - s * eu * rp);
        const double qc = dot(p, p) - pu * pu - rp * rp;
        double w0 = 0.0, w1 = 1.0;
        if (std::fabs(eu) > 0.0) {
            const double wa = (z0 - pu) / eu, wb = (z1 - pu) / eu;
            w0 = std::max(w0, std::min(wa, wb));
            w1 = std::min(w1, std::max(wa, wb));
        } else if (pu < z0 || pu > z1) {
            continue;
        }
        if (w0 > w1) continue;
        double least = std::min(qc + w0 * (qb + w0 * qa), qc + w1 * (qb + w1 * qa));
        const double wv = qa > 0.0 ? -qb / (2.0 * qa) : -1.0;
        if (wv > w0 && wv < w1) least = std::min(least, qc + wv * (qb + wv * qa));
        if (least <= 0.0) return true;
    }
    // The face across the solid, its edges outside: it holds the axis where the axis crosses it
    // between the discs, or else where an end disc's circle crosses it.
    // No floor on n . a: a grazing plane puts u far off unless the axis really lies within rounding of
    // the face, and a band of no width has no end disc to meet it by.
    const double na = dot(*n, a);
    if (na != 0.0) {
        const double u = dot(*n, sub(tri[0], f->P)) / na;
        if (u >= z0 && u <= z1 && onFace(add(f->P, mul(u, a)))) return true;
    }
    const double al = dot(*n, across), be = dot(*n, f->U), rho = std::hypot(al, be);
    for (int j = i; j <= i + 1 && rho > 0.0; ++j) {
        const double R = m->ringR[j];
        const Vec3 c = add(f->P, mul(m->ringZ[j], a));
        if (!(R > 0.0)) continue;
        const double g = -dot(*n, sub(c, tri[0])) / (R * rho);
        if (std::fabs(g) > 1.0) continue;
        const double phi0 = std::atan2(be, al), dphi = std::acos(g);
        for (double ph : {phi0 - dphi, phi0 + dphi})
            if (onFace(add(c, mul(R, add(mul(std::cos(ph), across), mul(std::sin(ph), f->U)))))) return true;
    }
    return false;
}

int ringPlaneAngles(const AxisFrame* f, double Z, double R, const Vec3 tri[3], const Vec3* n, double h,
                    double t[4], int inside[4], double phi[4], double a[4], double b[4]) {
    const double zr2 = Z * Z + R * R;
    if (h * h > zr2 || zr2 <= 0.0) return 0;
    const double nA = dot(*n, f->A), nW = dot(*n, f->W);
    const double rho = std::sqrt(nA * nA + nW * nW);
    if (rho <= 0.0) return 0;
    const double alpha = std::atan2(nA, nW);
    const double w = std::sqrt(zr2 - h * h);
    const double y1 = (-h * Z - R * w) / (zr2 * rho);
    const double y2 = (-h * Z + R * w) / (zr2 * rho);
    const bool ok1 = y1 >= -1.0 && y1 <= 1.0, ok2 = y2 >= -1.0 && y2 <= 1.0;
    int k = 0;
    if (ok1 && ok2) {
        t[0] = std::asin(y1);
        t[1] = std::asin(y2);
        t[2] = kPi - std::asin(y2);
        t[3] = kPi - std::asin(y1);
        k = 4;
    } else if (ok1) {
        t[0] = std::asin(y1);
        t[1] = kPi - std::asin(y1);
        k = 2;
    } else if (ok2) {
        t[0] = kPi - std::asin(y2);
        t[1] = std::asin(y2);
        k = 2;
    }
    const Vec3 e1 = sub(tri[1], tri[0]), e2 = sub(tri[2], tri[0]);
    for (int j = 0; j < k; j += 2) {
        t[j] = angleWrapNear(t[j] - alpha, 0.0);
        t[j + 1] = angleWrapNear(t[j + 1] - alpha, t[j] + kPi);
    }
    for (int j = 0; j < k; ++j) {
        const Vec3 nt = acrossAt(f, t[j]);
        const Vec3 centre = add(f->P, mul(Z, axisAt(f, t[j])));
        const double phi0 = angleWrapNear(std::atan2(dot(*n, f->U), dot(*n, nt)), 0.0);
        double best[3] = {0.0, 0.0, 0.0}, bestPhi = phi0;
        bool found = false;
        for (int side = 0; side < 2; ++side) {
            const double ph = phi0 + side * kPi;
            const Vec3 X = add(centre, mul(R, add(mul(std::cos(ph), nt), mul(std::sin(ph), f->U))));
            const Vec3 rhs = sub(X, tri[0]);
            double x1, x2, x3;
            if (!solveLinear3(e1.x, e2.x, n->x, e1.y, e2.y, n->y, e1.z, e2.z, n->z, rhs.x, rhs.y, rhs.z, &x1,
                              &x2, &x3))
                continue;
            if (!found || std::fabs(x3) <= std::fabs(best[2])) {  // the second wins a tie
                best[0] = x1, best[1] = x2, best[2] = x3, bestPhi = ph;
                found = true;
            }
        }
        phi[j] = bestPhi;
        a[j] = best[0];
        b[j] = best[1];
        inside[j] = found && best[0] >= 0.0 && best[1] >= 0.0 && best[0] <= 1.0 && best[1] <= 1.0 &&
                    best[0] + best[1] < 1.0;
    }
    return k / 2;
}

int pointRingAngles(const AxisFrame* f, const Vec3* X, double Z, double R, double* t1, double* t2,
                    double* phi1, double* phi2, double* s) {
    const Vec3 d = sub(*X, f->P);
    *s = dot(d, f->U);
    if (!(R > 0.0) || !(std::fabs(*s / R) <= 1.0)) return 0;
    *phi1 = std::asin(*s / R);
    *phi2 = kPi - *phi1;
    tiltAngles(f, d, Z, R, *phi1, t1, t2);
    if (*t1 < -kPi) *t1 += 2.0 * kPi;
    if (*t2 < *t1) *t2 += 2.0 * kPi;
    return 1;
}

int bandAtPoint(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3* X, double* t1,
                double* t2, double* phi1, double* phi2, double* u, double* s) {
    const Vec3 d = sub(*X, f->P);
    *s = dot(d, f->U);
    if (m->bandSlope[i] == 0.0 && std::fabs(*s) > m->bandBase[i]) return 0;
    if (!bandParamAt(m, i, dot(d, d), u)) return 0;
    const double r = m->bandSlope[i] * *u + m->bandBase[i];
    if (!(r > 0.0) || !(std::fabs(*s / r) <= 1.0)) return 0;
    *phi1 = std::asin(*s / r);
    *phi2 = kPi - *phi1;
    double a, b;
    tiltAngles(f, d, *u, r, *phi1, &a, &b);
    *t1 = angleWrapNear(a, 0.0);
    *t2 = angleWrapNear(b, *t1);
    if (*t2 < *t1) *t2 += 2.0 * kPi;
    return 1;
}

namespace {

// Residuals and the Newton system of the tangency of an edge window with band i.
struct SearchState {
    const AxisFrame* f;
    const AxisObstacleModel* m;
    int32_t i;
    Vec3 lo, span, v;  // window start, its vector, unit direction
};

// Residuals r[4]; with jac, the 4 x 4 Jacobian by (phi, u, t, e), row-major.
void tangencyEval(const SearchState* st, double phi, double u, double t, double e, double r[4],
                  double jac[16]) {
    BandPoint bp;
    bandPointEval(st->f, st->m, st->i, u, t, phi, &bp);
    const Vec3 Y = add(st->lo, mul(e, st->span));
    const Vec3 M = cross(bp.du, bp.dphi);
    const double ml = len(M);
    const Vec3 K = ml > 0.0 ? mul(1.0 / ml, M) : Vec3{0.0, 0.0, 0.0};
    const Vec3 dX = sub(bp.X, Y);
    r[0] = dX.x, r[1] = dX.y, r[2] = dX.z;
    r[3] = dot(K, st->v);
    // d(K . v) = (dM - K (K . dM)) . v / |M|
    const Vec3 dMphi = add(cross(bp.duphi, bp.dphi), cross(bp.du, bp.dphiphi));
    const Vec3 dMu = cross(bp.du, bp.duphi);
    const Vec3 dMt = add(cross(bp.dut, bp.dphi), cross(bp.du, bp.dphit));
    auto dKv = [&](Vec3 dM) { return ml > 0.0 ? (dot(dM, st->v) - dot(K, st->v) * dot(K, dM)) / ml : 0.0; };
    const Vec3 cols[4] = {bp.dphi, bp.du, bp.dt, mul(-1.0, st->span)};
    for (int c = 0; c < 4; ++c) {
        jac[c] = cols[c].x;
        jac[4 + c] = cols[c].y;
        jac[8 + c] = cols[c].z;
    }
    jac[12] = dKv(dMphi);
    jac[13] = dKv(dMu);
    jac[14] = dKv(dMt);
    jac[15] = 0.0;
}

// Scan of 11 window points for the least (side 0) or greatest (side 1) angle on the band.
bool scanWindow(const SearchState* st, int side, double w0, double w1, double cur[4], double* spacing) {
    double best = side == 0 ? kPi : -kPi;
    bool found = false;
    const double h = (w1 - w0) / 10.0;
    for (int k = 0; k <= 10; ++k) {
        const double e = w0 + k * h;
        const Vec3 X = add(st->lo, mul(e, st->span));
        double t1, t2, p1, p2, u, s;
        if (!bandAtPoint(st->f, st->m, st->i, &X, &t1, &t2, &p1, &p2, &u, &s)) continue;
        double t = angleWrapNear(side == 0 ? t1 : t2, found ? best : 0.0);
        if (side == 0 ? t < best : t > best) {
            best = t;
            cur[0] = side == 0 ? p1 : p2;
            cur[1] = u;
            cur[2] = t;
            cur[3] = e;
            found = true;
        }
    }
    *spacing = h;
    return found;
}

}  // namespace

int bandContactSearch(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3* Xlo,
                      const Vec3* Xhi, int side, int mode, const double start[4], double* t, double* phi,
                      double* u, double* e) {
    SearchState st{f, m, i, *Xlo, sub(*Xhi, *Xlo), {0.0, 0.0, 0.0}};
    const double spanLen = len(st.span);
    if (!(spanLen > 0.0)) return 0;
    st.v = mul(1.0 / spanLen, st.span);
    double cur[4] = {start[2], start[0], start[1], start[3]};  // phi, u, t, e
    double w0 = 0.0, w1 = 1.0;
    bool scan = mode != 0;
    int misses = 0, good = 0;
    // Each mode scans at most once and Newton runs until a step is refused, so the loop ends.
    for (;;) {
        if (scan) {
            double spacing;
            if (!scanWindow(&st, side, mode == 1 ? 0.0 : w0, mode == 1 ? 1.0 : w1, cur, &spacing)) return 0;
            w0 = std::fmax(0.0, cur[3] - spacing);
            w1 = std::fmin(1.0, cur[3] + spacing);
            misses = 0;
            good = 0;
            scan = false;
        }
        double r[4], jac[16];
        tangencyEval(&st, cur[0], cur[1], cur[2], cur[3], r, jac);
        const bool small = std::fabs(r[0]) < 1e-9 && std::fabs(r[1]) < 1e-9 && std::fabs(r[2]) < 1e-9 &&
                           std::fabs(r[3]) < 1e-9;
        if (small) {
            if (++good >= 2) {
                *phi = cur[0], *u = cur[1], *t = cur[2], *e = cur[3];
                return 1;
            }
        } else {
            good = 0;
            ++misses;
        }
        double d[4];
        const bool solved = solveLinear4(jac[0], jac[1], jac[2], jac[3], jac[4], jac[5], jac[6], jac[7],
                                         jac[8], jac[9], jac[10], jac[11], jac[12], jac[13], jac[14], jac[15],
                                         -r[0], -r[1], -r[2], -r[3], &d[0], &d[1], &d[2], &d[3]) == 1;
        bool take = solved && misses <= 10;
        if (take) {
            d[0] = std::fmin(0.5, std::fmax(-0.5, d[0]));
            const double np = cur[0] + d[0], nu = cur[1] + d[1], ne = cur[3] + d[3];
            const bool phiOk =
                side == 0 ? (np >= -kPi / 2 && np <= kPi / 2) : !(np > -kPi / 2 && np < kPi / 2);
            take = std::fabs(d[2]) <= 1.0 && std::fabs(d[1]) <= spanLen && std::fabs(d[3]) <= 1.0 &&
                   nu >= m->ringZ[i] && nu <= m->ringZ[i + 1] && ne >= 0.0 && ne <= 1.0 && phiOk;
        }
        if (take) {
            cur[0] = angleWrapNear(cur[0] + d[0], 0.0);
            cur[1] += d[1];
            cur[2] += d[2];
            cur[3] += d[3];
            continue;
        }
        if (++mode > 2) return 0;
        scan = true;
    }
}

int bandEdgeContact(const AxisFrame* f, const AxisObstacleModel* m, int32_t i, const Vec3* Xlo,
                    const Vec3* Xhi, int side, double* t, double* phi, double* u) {
    double t1[2], t2[2], p1[2], p2[2], uu[2], s[2];
    const bool on0 = bandAtPoint(f, m, i, Xlo, &t1[0], &t2[0], &p1[0], &p2[0], &uu[0], &s[0]) == 1;
    const bool on1 = bandAtPoint(f, m, i, Xhi, &t1[1], &t2[1], &p1[1], &p2[1], &uu[1], &s[1]) == 1;
    const Vec3 span = sub(*Xhi, *Xlo);
    double e = 0.0;
    auto startOf = [&](int k, double edge, double out[4]) {
        out[0] = uu[k];
        out[1] = side == 0 ? t1[k] : t2[k];
        out[2] = side == 0 ? p1[k] : p2[k];
        out[3] = edge;
    };
    double st[4];
    if (!on0 && !on1) {
        if (s[0] * s[1] > 0.0) return 0;
        st[0] = st[1] = st[2] = st[3] = 0.0;
        return bandContactSearch(f, m, i, Xlo, Xhi, side, 1, st, t, phi, u, &e);
    }
    if (on0 && !on1) {
        startOf(0, 0.0, st);
        if (dot(bandNormal(f, m, i, st[1], st[2]), span) >= 0.0) return 0;
        return bandContactSearch(f, m, i, Xlo, Xhi, side, 0, st, t, phi, u, &e);
    }
    startOf(1, 1.0, st);
    if (!on0 && dot(bandNormal(f, m, i, st[1], st[2]), span) <= 0.0) return 0;
    return bandContactSearch(f, m, i, Xlo, Xhi, side, 0, st, t, phi, u, &e);
}
