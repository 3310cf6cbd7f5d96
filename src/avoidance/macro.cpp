#include "avoidance/macro.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "avoidance/toolline.h"
#include "kernel/base/constants.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"

namespace {

constexpr double kTol = 1e-5;
constexpr int32_t kMsgMacro = 9999;

struct GenState {
    double liftHeight;       // approach macros
    double leaveLiftHeight;  // leave macros: nothing raises them
    int32_t linkMode;
    double currentOffset;
    char* approachFile;
    char* leaveFile;
};

GenState g{};

Vec3 add(const Vec3& a, const Vec3& b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
Vec3 sub(const Vec3& a, const Vec3& b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
Vec3 mul(double f, const Vec3& a) {
    return {f * a.x, f * a.y, f * a.z};
}
double dot(const Vec3& a, const Vec3& b) {
    return a.x * b.x + a.y * b.y + a.z * b.z;
}
Vec3 cross(const Vec3& a, const Vec3& b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
double len(const Vec3& a) {
    return std::sqrt(dot(a, a));
}
// False (out unchanged) below the tolerance.
bool unit(const Vec3& a, Vec3* out) {
    const double l = len(a);
    if (l < kTol) return false;
    *out = mul(1.0 / l, a);
    return true;
}

// Types whose size or steps follow the arc step angle: a step of zero would divide by zero.
bool stepsAlongArc(int32_t type, int32_t kind) {
    switch (type) {
        case 1:
        case 3:
        case 10:
        case 16:
        case 21:
        case 23:
        case 26:
        case 27:
            return true;
        case 6:
            return kind == kMacroApproach;
        default:
            return false;
    }
}

// Types that take no direction from the move and so still work when p0 and p1 coincide.
bool ownsNoMoveDir(int32_t type) {
    return type == 0 || type == 7 || type == 12 || type == 15 || type == 16 || type == 20;
}

struct Gen {
    MacroPath* path;
    int32_t kind;
    Vec3 p0, p1;
    double d, a, swing;
    int32_t side;
    const Vec3* axis;  // none, or a usable (non-zero) vector
    const MacroParams* prm;
    const Plist* guide;
};

void raise(Gen& g0) {
    macroPathAppend(g0.path, add(g0.p0, Vec3{0, 0, g0.d}));
}

// Upward turn by ang in the vertical plane of the unit horizontal h; v lies in that plane.
Vec3 turnUp(const Vec3& v, const Vec3& h, double ang) {
    const double r = dot(v, h), z = v.z;
    const double c = std::cos(ang), s = std::sin(ang);
    return add(mul(r * c - z * s, h), Vec3{0, 0, r * s + z * c});
}

Vec3 turnZ(const Vec3& v, double ang) {
    const double c = std::cos(ang), s = std::sin(ang);
    return {v.x * c - v.y * s, v.x * s + v.y * c, v.z};
}

void genVerticalArc(Gen& g0) {
    MacroPath* path = g0.path;
    const double step = g0.prm->arcStepAngle;
    const double c = arcChordLength(g0.d, step);
    Vec3 v;
    if (!unit(sub(g0.p0, g0.p1), &v) || c < kTol) return;
    Vec3 h;
    if (!unit(Vec3{v.x, v.y, 0}, &h)) {
        // No vertical plane to turn in: one move straight on by the macro's distance.
        macroPathAppend(path, add(g0.p0, mul(g0.d, v)));
        return;
    }
    const double limit = std::fabs(std::sin(g0.prm->arcStopAngle) * c);
    const double start = std::atan2(v.z, dot(v, h));
    Vec3 p = g0.p0;
    // Each chord's angle is taken from the start, not turned on from the last, so that rounding
    // does not decide whether the vertical chord is the last one.
    for (int32_t k = 1; path->count < path->capacity; ++k) {
        const double t = start + k * step;
        const double horiz = c * std::cos(t), vert = c * std::sin(t);
        if (!(vert < kTol || horiz > limit)) break;
        p = add(p, add(mul(horiz, h), Vec3{0, 0, vert}));
        macroPathAppend(path, p);
    }
}

// The arc of type 3 in the plane normal to the unit n, turning about n by the side's sense.
void genFlatArc(Gen& g0, const Vec3& n, bool record) {
    MacroPath* path = g0.path;
    const double step = g0.prm->arcStepAngle;
    const double c = arcChordLength(g0.d, step);
    const Vec3 w = sub(g0.p0, g0.p1);
    Vec3 u;
    if (!unit(sub(w, mul(dot(w, n), n)), &u) || c < kTol) return;
    const Vec3 across = cross(n, u);
    const double limit = std::fabs(std::sin(g0.prm->arcStopAngle)) * c;
    Vec3 p = g0.p0;
    for (int32_t k = 1; path->count < path->capacity; ++k) {
        const double t = g0.side * k * step;
        const double along = c * std::cos(t), side = c * std::sin(t);
        if (!(std::fabs(side) < kTol || along > limit)) break;
        p = add(p, add(mul(along, u), mul(side, across)));
        macroPathAppend(path, p);
    }
    if (!record) return;
    path->arcFlag = 1;
    path->arcSide = g0.side;
    path->arcRadius = g0.d;
    path->arcStart = g0.p0;
    path->arcEnd = path->points[path->count - 1];
    const Vec3 normal = g0.side == 1 ? Vec3{-u.y, u.x, 0} : Vec3{u.y, -u.x, 0};
    Vec3 centre = add(g0.p0, mul(g0.d, normal));
    centre.z = g0.p0.z;
    const Vec3 chord{path->arcEnd.x - g0.p0.x, path->arcEnd.y - g0.p0.y, 0};
    const double half = 0.5 * len(chord);
    Vec3 cu;
    if (g0.d >= half && unit(chord, &cu)) {
        // The centre on the bisector of start and end, on the side it was found on.
        const Vec3 mid{0.5 * (g0.p0.x + path->arcEnd.x), 0.5 * (g0.p0.y + path->arcEnd.y), g0.p0.z};
        Vec3 nb{-cu.y, cu.x, 0};
        if (dot(nb, sub(centre, mid)) < 0) nb = mul(-1.0, nb);
        const double dist = std::sqrt(std::max(0.0, g0.d * g0.d - half * half));
        centre = add(mid, mul(dist, nb));
    }
    path->arcCentre = centre;
}

void genRaisedMove(Gen& g0, const Vec3& p1) {
    Vec3 v;
    if (!unit(sub(g0.p0, p1), &v)) return;
    v = mul(g0.d, v);
    if (std::fabs(g0.a) >= kTol) {
        Vec3 h;
        if (!unit(Vec3{v.x, v.y, 0}, &h)) return;
        v = turnUp(v, h, g0.a);
    }
    macroPathAppend(g0.path, add(g0.p0, v));
}

void genTurnedMove(Gen& g0, double turn) {
    Vec3 v;
    if (!unit(sub(g0.p0, g0.p1), &v)) return;
    v = mul(g0.d, v);
    if (std::fabs(turn) < kTol) {
        macroPathAppend(g0.path, add(g0.p0, v));
        return;
    }
    Vec3 q = add(g0.p0, turnZ(Vec3{v.x, v.y, 0}, g0.side * turn));
    q.z = g0.p0.z;
    macroPathAppend(g0.path, q);
}

void genSideStepY(Gen& g0) {
    Vec3 v;
    if (!unit(sub(g0.p0, g0.p1), &v)) return;
    double x = g0.side < 1 ? -v.x : v.x;
    if (std::fabs(x) < kTol) x = 1.0;
    macroPathAppend(g0.path, add(g0.p0, Vec3{0, x > 0 ? g0.d : -g0.d, 0}));
}

void genTowardPoint(Gen& g0) {
    if ((g.linkMode != 0 && g0.kind == kMacroLeave) || (g.linkMode == 2 && g0.kind == kMacroApproach)) {
        raise(g0);
        return;
    }
    macroPathAppend(g0.path, g0.axis ? *g0.axis : g0.p0);
}

void genAxisArc(Gen& g0) {
    MacroPath* path = g0.path;
    const double step = g0.prm->arcStepAngle;
    const double c = arcChordLength(g0.d, step);
    Vec3 u, n;
    if (!unit(sub(g0.p0, g0.p1), &u) || c < kTol) return;
    if (!unit(sub(*g0.axis, mul(dot(*g0.axis, u), u)), &n)) return;
    const double limit = std::fabs(std::sin(g0.prm->arcStopAngle)) * c;
    Vec3 p = g0.p0;
    bool skipFirst = g.linkMode == 0;
    for (int32_t k = 1; path->count < path->capacity; ++k) {
        const double t = k * step;
        if (!(std::fabs(std::sin(t)) < kTol || c * std::cos(t) > limit)) break;
        if (skipFirst) {
            skipFirst = false;
            continue;
        }
        p = add(p, mul(c, add(mul(std::cos(t), u), mul(std::sin(t), n))));
        macroPathAppend(path, p);
    }
}

void genSideTurn(Gen& g0) {
    Vec3 v, n;
    if (!unit(sub(g0.p0, g0.p1), &v)) return;
    v = mul(g0.d, v);
    if (crossUnit3D(g0.axis, &v, &n) != 0) return;
    n = mul(g0.d, n);
    const double t = g0.side * g0.a;
    macroPathAppend(g0.path, add(g0.p0, add(mul(std::cos(t), v), mul(std::sin(t), n))));
}

void lift(Gen& g0) {
    const double h = g0.kind == kMacroApproach ? g.liftHeight : g.leaveLiftHeight;
    MacroPath* path = g0.path;
    if (g0.kind != kMacroApproach || std::fabs(h) < kTol || path->count < 2) return;
    double total = 0.0;
    for (int32_t i = 1; i < path->count; ++i) total += dist3D(&path->points[i - 1], &path->points[i]);
    if (total < kTol) return;
    double s = 0.0;
    Vec3 prev = path->points[0];
    for (int32_t i = 1; i < path->count; ++i) {
        s += dist3D(&prev, &path->points[i]);
        prev = path->points[i];
        const double f = (s / total) * (s / total) * h;
        path->points[i] = add(path->points[i], mul(f, path->direction));
    }
}

void dispatch(Gen& g0, int32_t type) {
    MacroPath* path = g0.path;
    switch (type) {
        case 0:
        case 7:  // an approach of type 7 arrives here as type 0; a leave stays at p0
            if (type == 0) raise(g0);
            break;
        case 1:
            genVerticalArc(g0);
            break;
        case 2:
            genRaisedMove(g0, g0.p1);
            break;
        case 3:
            genFlatArc(g0, Vec3{0, 0, 1}, true);
            break;
        case 4:
            genTurnedMove(g0, g0.a);
            break;
        case 5:
            genTurnedMove(g0, kPi / 2);
            break;
        case 9:
            genRaisedMove(g0, Vec3{g0.p1.x, g0.p1.y, g0.p0.z});
            break;
        case 10:
            genVerticalArc(g0);
            macroFollowGuide(path, g0.kind, g0.guide);
            break;
        case 11:
            genSideStepY(g0);
            break;
        case 12:
        case 16:  // without its radius (nothing sets one) the arc to the target is the target alone
            genTowardPoint(g0);
            break;
        case 14: {
            const int32_t before = path->count;
            genTurnedMove(g0, g0.swing);
            if (path->count > before) path->points[path->count - 1].z += g0.d * std::sin(g0.a);
            break;
        }
        case 15:
            raise(g0);
            break;
        case 20:
            if (!g0.axis) {
                raise(g0);
                break;
            }
            path->direction = *g0.axis;
            macroPathAppend(path, add(g0.p0, mul(g0.d, *g0.axis)));
            break;
        case 21:
        case 27:
            if (!g0.axis) {
                genVerticalArc(g0);
            } else {
                path->direction = *g0.axis;
                genAxisArc(g0);
            }
            if (type == 27) macroWrapOnGuide(path, g0.kind, &g0.p0, &g0.p1, g0.guide);
            break;
        case 22:
        case 24:
            if (!g0.axis) {
                genTurnedMove(g0, g0.a);
                break;
            }
            path->direction = *g0.axis;
            genSideTurn(g0);
            lift(g0);
            break;
        case 23:
            genFlatArc(g0, Vec3{0, 0, 1}, true);
            if (g0.axis) {
                path->direction = *g0.axis;
                lift(g0);
            }
            break;
        case 25:
            if (g0.axis) path->direction = *g0.axis;
            genRaisedMove(g0, g0.p1);
            break;
        case 26: {
            Vec3 n;
            if (!g0.axis || !unit(*g0.axis, &n)) {
                genFlatArc(g0, Vec3{0, 0, 1}, true);
                break;
            }
            path->direction = *g0.axis;
            genFlatArc(g0, n, false);
            lift(g0);
            break;
        }
        default:  // no generator: the attachment point alone
            break;
    }
}

void refuseStep() {
    msgText(9, kMsgMacro, "* Error: Syntax error in Macro %s", "*MACRO_IWIN");
}

}  // namespace

MacroPath* macroPathCreate(int32_t kind, int32_t macroType, int32_t capacity, int withAxes) {
    if (capacity < 1) return nullptr;
    auto* path = static_cast<MacroPath*>(memCalloc(sizeof(MacroPath)));
    if (!path) return nullptr;
    path->kind = kind;
    path->macroType = macroType;
    path->capacity = capacity;
    path->direction = {0, 0, 1};
    path->points = static_cast<Vec3*>(memCalloc(static_cast<size_t>(capacity), sizeof(Vec3)));
    if (withAxes) path->axes = static_cast<Vec3*>(memCalloc(static_cast<size_t>(capacity), sizeof(Vec3)));
    if (!path->points || (withAxes && !path->axes)) {
        macroPathFree(path);
        return nullptr;
    }
    return path;
}

int macroPathAppend(MacroPath* path, const Vec3& p) {
    if (!path || path->count >= path->capacity) return 0;
    path->points[path->count++] = p;
    return 1;
}

double macroTakeOffset() {
    const double o = g.currentOffset;
    g.currentOffset = 0.0;
    return o;
}

double arcChordLength(double r, double a) {
    const double q = 2.0 * (1.0 - std::cos(a));
    return q > kTol ? r * std::sqrt(q) : 0.0;
}

void macroPathFree(MacroPath* path) {
    if (!path) return;
    for (MacroLine* line = path->lines; line;) {
        MacroLine* next = line->next;
        std::free(line->text);
        std::free(line);
        line = next;
    }
    std::free(path->points);
    std::free(path->axes);
    std::free(path);
}

void macroPathOffsetPoint(const MacroPath* path, Vec3* point) {
    if (!path || !point) return;
    const Vec3& d = path->direction;
    if (std::fabs(d.x) < kTol && std::fabs(d.y) < kTol && std::fabs(d.z) < kTol) return;
    *point = add(*point, mul(path->offset, d));
}

void macroSetLiftHeight(double h) {
    g.liftHeight = h;
}

void macroSetLinkMode(int32_t mode) {
    g.linkMode = mode;
}

int macroSetFileNames(const char* approachFile, const char* leaveFile) {
    char* a = approachFile && *approachFile ? strDup(approachFile) : nullptr;
    char* l = leaveFile && *leaveFile ? strDup(leaveFile) : nullptr;
    if ((approachFile && *approachFile && !a) || (leaveFile && *leaveFile && !l)) {
        std::free(a);
        std::free(l);
        return -1;
    }
    std::free(g.approachFile);
    std::free(g.leaveFile);
    g.approachFile = a;
    g.leaveFile = l;
    return 1;
}

MacroPath* macroBuild(int32_t kind, const Vec3* p0, const Vec3* p1, MacroParams* params, int32_t side,
                      Plist* guide, int32_t startIndex, const Vec3* axis) {
    if (!p0 || !p1 || !params || (kind != kMacroApproach && kind != kMacroLeave)) return nullptr;
    int32_t type;
    if (kind == kMacroApproach) {
        type = params->approachType;
        // These types keep the offset that an earlier macro left.
        if (type != kMacroTypeFile && type != 13 && type != 8 && type != 12 && type != 16)
            g.currentOffset = params->approachValue;
        if (stepsAlongArc(type, kind) && !(params->arcStepAngle > kTol)) {
            refuseStep();
            return nullptr;
        }
        if (params->approachDistance <= kTol) return nullptr;
        side = -side;
        switch (type) {
            case kMacroTypeFile:
                return macroFileRead(kind, p0, p1, params, g.approachFile);
            case 6:
                return macroGenType6(p0, params->trajectoryRadius, params->arcStepAngle,
                                     params->approachAngle, params->trajectoryDir, params->trajectoryHeight);
            case 8:
            case 28:
                return macroGenRamp(guide, startIndex, params->approachAngle, params->trajectoryHeight,
                                    type == 28);
            case 13:
                return macroGenType13(guide, params->approachAngle, params->trajectoryHeight);
            case 7:
                params->approachType = 0;
                params->approachDistance = params->trajectoryHeight;
                type = 0;
                break;
            default:
                break;
        }
    } else {
        type = params->leaveType;
        if (type != kMacroTypeFile) g.currentOffset = params->leaveValue;
        if (stepsAlongArc(type, kind) && !(params->arcStepAngle > kTol)) {
            refuseStep();
            return nullptr;
        }
        if (type == 12 && !axis) {
            params->leaveType = 0;
            type = 0;
        }
        if (type == kMacroTypeFile) return macroFileRead(kind, p0, p1, params, g.leaveFile);
    }

    const double d = kind == kMacroApproach ? params->approachDistance : params->leaveDistance;
    double a = kind == kMacroApproach ? params->approachAngle : params->leaveAngle;
    const double swing = kind == kMacroApproach ? params->approachSwing : params->leaveSwing;
    if (type == 5 || type == 22) a = kPi / 2;
    const int32_t capacity =
        stepsAlongArc(type, kMacroLeave) ? 2 + static_cast<int32_t>(2 * kPi / params->arcStepAngle) : 2;
    MacroPath* path = macroPathCreate(kind, type, capacity, 0);
    if (!path) return nullptr;
    Vec3 mv;
    path->moveDir = unit(sub(*p0, *p1), &mv) ? mv : Vec3{0, 0, 0};
    macroPathAppend(path, *p0);

    // A zero axis is no axis: nothing could be turned about it or moved along it.
    const Vec3* ax = axis && len(*axis) >= kTol ? axis : nullptr;
    Gen g0{path, kind, *p0, *p1, d, a, swing, side, ax, params, guide};
    if (ownsNoMoveDir(type) || dist3D(p0, p1) >= kTol) dispatch(g0, type);

    const double value = kind == kMacroApproach ? params->approachValue : params->leaveValue;
    path->offset = value >= 0.0 ? value : 0.0;
    return path;
}

int macroParamsSetUp(MacroParams* params, const MacroSettings* settings) {
    if (!params || !settings) return 0;
    constexpr double deg = kDegToRad;
    MacroParams m{};
    m.approachType = m.leaveType = 22;
    if (settings->filletStrategy != 0) m.approachType = m.leaveType = 25;
    if (settings->cutDirection != 1) m.leaveType = 2;
    if (settings->stepover > kTol) m.approachType = 21;
    m.arcStepAngle = settings->macroIwin * deg;
    m.arcStopAngle = settings->macroAwin * deg;
    m.approachDistance = 0.0;
    m.leaveDistance = 1.0;
    m.approachValue = settings->macroSabst;
    m.leaveValue = settings->macroEabst;
    m.approachSwing = settings->macroSwin * deg;
    m.leaveSwing = settings->macroEwin * deg;
    m.approachAngle = settings->macroTswin * deg;
    m.leaveAngle = settings->macroTewin * deg;
    m.trajectoryHeight = settings->macroTheight;
    m.trajectoryDir = settings->macroTdir;
    m.trajectoryRadius = settings->macroTrad;
    m.trajectoryMode = settings->macroTmode;
    *params = m;
    macroSetLiftHeight(settings->macroTheight);
    // The collision layer below reaches the avoidance's services only through the hooks it is handed.
    avoidInstallHooks();
    macroSetFileNames(settings->macroSname, settings->macroEname);
    return 1;
}

void macroResetState() {
    std::free(g.approachFile);
    std::free(g.leaveFile);
    g = GenState{};
    macroTrajResetState();
}
