#include "collision/ringcontact.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "KVWOG5/pred2d.h"
#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"

namespace {

ContactState gDefault{0, 0, 0.5, {0, 0, 0}};
ContactState* gState = nullptr;

ContactState* state() {
    return gState ? gState : &gDefault;
}

double travelOf(double theta, double theta0, int32_t direction) {
    double d = theta - theta0;
    while (d > kTwoPi) d -= kTwoPi;
    while (d < 0) d += kTwoPi;
    if (direction == -1 && d >= 1e-5) d = kTwoPi - d;
    return d;
}

double sweepSpan(const RingSweep* s) {
    if (std::fabs(s->start.x - s->end.x) < 1e-5 && std::fabs(s->start.y - s->end.y) < 1e-5 && s->R > 0)
        return kTwoPi;
    double a = 0.0;
    arcPointsCenter2D(&s->start, &s->centre, &s->end, s->direction, &a);
    return a;
}

// Edge samples whose centre cannot come before best, told without their angles. A sample at polar angle
// psi gives the centre psi - beta (counter-clockwise sweeps) or psi + beta (clockwise), beta = acos(cs);
// seen in a frame where the sweep runs counter-clockwise (y mirrored for clockwise ones), the counted
// centres lie from the start, less the reverse sweep's first 1e-5, to the end at travel best. With that
// arc below half a turn a sample passes when it lies ahead of the end by an angle whose cosine is below
// cs (so by more than beta), or behind both the end and the start within half a turn (the centre is
// then more than half a turn ahead). The margin 1e-9 dwarfs the rounding of either side's angles.
class PassOver {
  public:
    PassOver(double theta0, int32_t direction)
        : theta0_(theta0),
          sigma_(direction == -1 ? -1.0 : 1.0),
          sliver_(direction == -1 ? 1e-5 : 0.0),
          usable_(direction == 1 || direction == -1) {
        if (usable_) start_ = mirrored(theta0 - sigma_ * sliver_);
    }
    void aim(double best) {
        on_ = usable_ && best >= 0.0 && best + sliver_ < kHalfTurn - 1e-3;
        if (on_) end_ = mirrored(theta0_ + sigma_ * best);
    }
    // A face side whose centres lie at angles whose cosine from (ux, uy) (a unit vector) is c: none on
    // the arc when c lies beyond the cosines the arc's angles take (an arc below half a turn reaches 1
    // only where it holds (ux, uy), -1 only where it holds the opposite, else ends at its ends' values).
    bool passesFace(double ux, double uy, double c) const {
        if (!on_) return false;
        uy *= sigma_;
        c = std::clamp(c, -1.0, 1.0);
        const double fromStart = start_.x * uy - start_.y * ux, toEnd = ux * end_.y - uy * end_.x;
        const double atStart = start_.x * ux + start_.y * uy, atEnd = end_.x * ux + end_.y * uy;
        const double hi = fromStart > -kMargin && toEnd > -kMargin ? 1.0 : std::max(atStart, atEnd);
        const double lo = -fromStart > -kMargin && -toEnd > -kMargin ? -1.0 : std::min(atStart, atEnd);
        return c > hi + 3 * kMargin || c < lo - 3 * kMargin;
    }
    // (ux, uy): the sample's plan direction, a unit vector.
    bool passes(double ux, double uy, double cs) const {
        if (!on_) return false;
        uy *= sigma_;
        const double crossEnd = end_.x * uy - end_.y * ux;
        if (crossEnd > kMargin) return end_.x * ux + end_.y * uy < cs - kMargin;
        return crossEnd < -kMargin && start_.x * uy - start_.y * ux < -kMargin;
    }

  private:
    static constexpr double kHalfTurn = kPi, kMargin = 1e-9;
    Vec2 mirrored(double angle) const { return {std::cos(angle), sigma_ * std::sin(angle)}; }
    double theta0_, sigma_, sliver_;
    bool usable_, on_ = false;
    Vec2 start_{}, end_{};
};

// The start angle and the span of the sweep last asked for: a mesh query asks for the same ones at
// every triangle until a contact moves the end.
struct SweepAngles {
    RingSweep key{};
    bool valid = false;
    double theta0 = 0.0, span = 0.0;
    bool passReady = false;  // pass: aimed at the span, taken when first asked for
    PassOver pass{0.0, 0};
};
SweepAngles gAngles;

bool sameBits(const RingSweep& a, const RingSweep& b) {
    return std::memcmp(&a.start, &b.start, sizeof a.start) == 0 &&
           std::memcmp(&a.end, &b.end, sizeof a.end) == 0 &&
           std::memcmp(&a.centre, &b.centre, sizeof a.centre) == 0 &&
           std::memcmp(&a.R, &b.R, sizeof a.R) == 0 && a.direction == b.direction;
}

void anglesOf(const RingSweep* s, double* theta0, double* span) {
    if (!gAngles.valid || !sameBits(gAngles.key, *s)) {
        gAngles.key = *s;
        gAngles.theta0 = std::atan2(s->start.y, s->start.x);
        gAngles.span = sweepSpan(s);
        gAngles.valid = true;
        gAngles.passReady = false;
    }
    *theta0 = gAngles.theta0;
    *span = gAngles.span;
}

// True when no centre within r (in plan) of the box x0..x1, y0..y1 lies on the circle at a travel
// below best: every centre a contact yields lies within r of the triangle, so within r plus the half
// diagonal of the box centre, whose polar angle it therefore follows within an asin. Travels measure
// from theta0 as travelOf does (the reverse sweep keeps its first 1e-5 forward); the margins dwarf
// the rounding of the angles.
bool outsideArc(double x0, double x1, double y0, double y1, double r, double theta0, double best,
                int32_t direction) {
    const double gx = 0.5 * (x0 + x1), gy = 0.5 * (y0 + y1);
    const double reach = r + std::hypot(0.5 * (x1 - x0), 0.5 * (y1 - y0)), g = std::hypot(gx, gy);
    if (!(g > reach * (1 + 1e-9) + 1e-9) || !(best < kTwoPi)) return false;
    // tan(asin(x)) bounds asin(x) from above without its cost.
    const double x = reach * (1 + 1e-9) / g;
    if (!(x < 0.999)) return false;
    const double w = x / std::sqrt(1 - x * x) + 1e-7;
    double raw = std::atan2(gy, gx) - theta0;
    while (raw > kTwoPi) raw -= kTwoPi;
    while (raw < 0) raw += kTwoPi;
    const double lo = raw - w, hi = raw + w;
    if (direction == -1) return lo > 1e-5 + 1e-7 && hi < kTwoPi - best - 1e-7;
    return lo > best + 1e-7 && hi < kTwoPi - 1e-7;
}

}  // namespace

int contactStateCreate() {
    if (gState) return 0;
    gState = static_cast<ContactState*>(std::malloc(sizeof(ContactState)));
    if (!gState) return -1;
    *gState = ContactState{0, 0, 0.5, {0, 0, 0}};
    return 1;
}

void contactFree() {
    std::free(gState);
    gState = nullptr;
}

void contactLastPoint(Vec3* out) {
    if (out) *out = state()->lastTouch;
}

const ContactState* contactCurrent() {
    return state();
}

void ringContactResetState() {
    contactFree();
    gAngles = SweepAngles{};
    gDefault = ContactState{0, 0, 0.5, {0, 0, 0}};
}
static const RunReset gRunReset(kRunResetCollision, "ringContact", ringContactResetState);

int ringTriContact(const Triangle3D* tri, const RingSweep* sw, double r, double z, Vec3* centreOut,
                   Vec3* touchOut) {
    if (!tri || !sw) return 0;
    const Vec3& a = tri->p[0];
    const Vec3& b = tri->p[1];
    const Vec3& c = tri->p[2];
    const double R = sw->R;
    const double zlo = std::min({a.z, b.z, c.z}), zhi = std::max({a.z, b.z, c.z});
    if (zlo > z + r || zhi < z - r) return 0;
    const double xlo = std::min({a.x, b.x, c.x}), xhi = std::max({a.x, b.x, c.x});
    const double ylo = std::min({a.y, b.y, c.y}), yhi = std::max({a.y, b.y, c.y});
    if (xlo > R + r || xhi < -(R + r) || ylo > R + r || yhi < -(R + r)) return 0;
    // The ring's hole; a ball wider than the circle leaves none.
    const double in2 = R > r ? (R - r) * (R - r) : 0.0;
    if (std::max({a.x * a.x + a.y * a.y, b.x * b.x + b.y * b.y, c.x * c.x + c.y * c.y}) < in2) return 0;

    double theta0, best;
    anglesOf(sw, &theta0, &best);
    if (outsideArc(xlo, xhi, ylo, yhi, r, theta0, best, sw->direction)) return 0;

    const Vec3 e1{b.x - a.x, b.y - a.y, b.z - a.z}, e2{c.x - a.x, c.y - a.y, c.z - a.z};
    Vec3 n;
    cross3D(&e1, &e2, &n);
    const double nl = vecLen3D(&n);
    if (nl < 1e-12) return 0;
    n = {n.x / nl, n.y / nl, n.z / nl};
    Vec3 centre{sw->end.x, sw->end.y, z}, touch{};
    bool found = false, face = false;

    // The face: the circle meets each plane offset by r from the face in up to two angles; a position
    // counts where the ball moves towards the face from that plane's side.
    const double d00 = vecDot3D(&e1, &e1), d01 = vecDot3D(&e1, &e2), d11 = vecDot3D(&e2, &e2);
    const double den = d00 * d11 - d01 * d01;
    // The sweep's pass-over, aimed at its span: a face contact shortens best, and an arc that holds no
    // centre holds none of a shorter one.
    if (!gAngles.passReady) {
        gAngles.pass = PassOver(theta0, sw->direction);
        gAngles.pass.aim(best);
        gAngles.passReady = true;
    }
    PassOver pass = gAngles.pass;
    for (double side : {1.0, -1.0}) {
        const Vec3 ns{side * n.x, side * n.y, side * n.z};
        const double A = ns.x * R, B = ns.y * R, C = vecDot3D(&ns, &a) + r - ns.z * z;
        const double rho = std::hypot(A, B);
        if (!(rho > 1e-12) || std::fabs(C) > rho) continue;
        if (pass.passesFace(A / rho, B / rho, C / rho)) continue;
        const double phi = std::atan2(B, A), half = acosClamped(C / rho);
        for (double th : {phi - half, phi + half}) {
            // Only an earlier position can count: the rest needs no sine and cosine.
            const double tr = travelOf(th, theta0, sw->direction);
            if (!(tr < best)) continue;
            const double sn = std::sin(th), cs = std::cos(th);
            const double tx = sw->direction > 0 ? -sn : sn;
            const double ty = sw->direction > 0 ? cs : -cs;
            if (ns.x * tx + ns.y * ty > 0) continue;
            const Vec3 x{R * cs, R * sn, z};
            const Vec3 w{x.x - r * ns.x - a.x, x.y - r * ns.y - a.y, x.z - r * ns.z - a.z};
            const double d20 = vecDot3D(&w, &e1), d21 = vecDot3D(&w, &e2);
            const double u = (d11 * d20 - d01 * d21) / den, v = (d00 * d21 - d01 * d20) / den;
            if (!(u >= 0 && v >= 0 && u + v <= 1)) continue;
            best = tr;
            centre = x;
            touch = {a.x + u * e1.x + v * e2.x, a.y + u * e1.y + v * e2.y, a.z + u * e1.z + v * e2.z};
            found = face = true;
        }
    }
    if (!found) {
        const double step = state()->step;
        // No face contact: best is still the sweep's span, at which the pass-over is aimed.
        const Vec3* ends[3][2] = {{&a, &b}, {&b, &c}, {&c, &a}};
        for (const auto& e : ends) {
            const Vec3 d{e[1]->x - e[0]->x, e[1]->y - e[0]->y, e[1]->z - e[0]->z};
            const int64_t m = static_cast<int64_t>(std::floor(vecLen3D(&d) / step)) + 1;
            for (int64_t k = 0; k < m; ++k) {
                const double f = double(k) / double(m);
                const Vec3 s{e[0]->x + f * d.x, e[0]->y + f * d.y, e[0]->z + f * d.z};
                const double p2 = s.x * s.x + s.y * s.y;
                if (s.z < z - r || s.z > z + r || p2 < in2 || p2 > (R + r) * (R + r)) continue;
                const double pr = std::sqrt(p2);
                if (pr <= 0 || R <= 0) continue;
                const double cs = (R * R + p2 - (r * r - (s.z - z) * (s.z - z))) / (2 * pr * R);
                if (std::fabs(cs) > 1) continue;
                if (pass.passes(s.x / pr, s.y / pr, cs)) continue;
                const double beta = std::acos(cs);
                const double th = std::atan2(s.y, s.x) + (sw->direction == 1 ? -beta : beta);
                const double tr = travelOf(th, theta0, sw->direction);
                if (tr < best) {
                    best = tr;
                    pass.aim(best);
                    centre = {R * std::cos(th), R * std::sin(th), z};
                    touch = s;
                    found = true;
                }
            }
        }
    }
    if (!found) return 0;
    if (face)
        ++state()->faceContacts;
    else
        ++state()->edgeContacts;
    if (centreOut) *centreOut = centre;
    if (touchOut) *touchOut = touch;
    return 1;
}

int ringMeshContact(const CheckModel* model, RingSweep* sw, double z, const int32_t* list, int32_t count,
                    Vec3* centreOut) {
    if (!model || !sw || !model->tool || !model->triangles || !model->boxMax) return 0;
    const double r = model->tool->radius;
    double level = z - r;
    // The edge sampling step keeps the chord between samples within the tolerance of the ball; a
    // tolerance outside (0, 2r) has no such step, and the default tolerance stands in.
    double h = model->tolerance;
    if (!(h > 0 && h < 2 * r)) h = 0.008;
    double step = std::sqrt((2 * r - h) * h);
    if (!(step > 0)) step = 0.5;
    state()->step = std::min(step, 0.5);
    const int32_t total = model->triangles->count;
    const int32_t n = list ? count : total;
    bool found = false;
    Vec3 touch{};
    for (int32_t k = 0; k < n; ++k) {
        const int32_t j = list ? list[k] : k;
        if (j < 0 || j >= total) continue;
        if (model->boxMax[j].z < level) break;
        Vec3 c, t;
        if (ringTriContact(&model->triangles->data[j], sw, r, z, &c, &t) != 1) continue;
        found = true;
        level = c.z - r;
        sw->end = {c.x, c.y};
        touch = t;
        if (centreOut) *centreOut = c;
    }
    if (found) state()->lastTouch = touch;
    return found ? 1 : 0;
}
