// Example impeller generator: the part's surfaces and the job file.
#include "impeller.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "geometry/spline.h"
#include "surfaces/kvxsurf.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
// Samples of the blade fits: along the chord and from hub to shroud. The sides are fitted through
// them; the counts keep the fitted thickness within a hundredth of a millimetre.
constexpr int32_t kChordSamples = 25;
constexpr int32_t kSpanSamples = 7;

struct Meridian {
    Vec2 p[4];  // (r, z)
};

Vec2 bezier(const Meridian& m, double t) {
    const double s = 1.0 - t;
    const double b0 = s * s * s, b1 = 3.0 * s * s * t, b2 = 3.0 * s * t * t, b3 = t * t * t;
    return {b0 * m.p[0].x + b1 * m.p[1].x + b2 * m.p[2].x + b3 * m.p[3].x,
            b0 * m.p[0].y + b1 * m.p[1].y + b2 * m.p[2].y + b3 * m.p[3].y};
}

Vec2 bezierDeriv(const Meridian& m, double t) {
    const double s = 1.0 - t;
    const double d0 = 3.0 * s * s, d1 = 6.0 * s * t, d2 = 3.0 * t * t;
    return {d0 * (m.p[1].x - m.p[0].x) + d1 * (m.p[2].x - m.p[1].x) + d2 * (m.p[3].x - m.p[2].x),
            d0 * (m.p[1].y - m.p[0].y) + d1 * (m.p[2].y - m.p[1].y) + d2 * (m.p[3].y - m.p[2].y)};
}

Meridian hubMeridian(const ImpellerOptions& o) {
    return {{{o.hubStartR, o.hubStartZ},
             {o.hubStartR, 0.5 * (o.hubStartZ + o.hubEndZ)},
             {0.5 * (o.hubStartR + o.hubEndR), o.hubEndZ},
             {o.hubEndR, o.hubEndZ}}};
}

// The hub polygon's legs moved by d to their left (toward the channel); the interior corners are
// where the moved legs meet. Fails when the moved middle leg is too short to reach both neighbours.
int shroudMeridian(const ImpellerOptions& o, Meridian* out) {
    const Meridian h = hubMeridian(o);
    const double d = o.shroudOffset;
    const double a = h.p[2].x - h.p[1].x, b = h.p[1].y - h.p[2].y;  // middle leg runs (a, -b)
    const double len = std::hypot(a, b);
    if (a <= 0.0 || b <= 0.0) return -1;
    const Vec2 e{a / len, -b / len}, n{b / len, a / len};
    const Vec2 base{h.p[1].x + d * n.x, h.p[1].y + d * n.y};
    const double t1 = (h.p[0].x + d - base.x) / e.x;  // meets the moved inlet leg r = r0 + d
    const double t2 = (h.p[3].y + d - base.y) / e.y;  // meets the moved outlet leg z = z1 + d
    if (!(t1 < t2)) return -1;
    out->p[0] = {h.p[0].x + d, h.p[0].y};
    out->p[1] = {base.x + t1 * e.x, base.y + t1 * e.y};
    out->p[2] = {base.x + t2 * e.x, base.y + t2 * e.y};
    out->p[3] = {h.p[3].x, h.p[3].y + d};
    if (!(out->p[1].y < out->p[0].y && out->p[2].x < out->p[3].x)) return -1;
    return 1;
}

double wrapRad(const ImpellerOptions& o) {
    return o.wrapDeg * kPi / 180.0;
}

// Blade mean surface at chord parameter t and span s (0 hub, 1 shroud): point and unit normal.
struct BladeFrame {
    Meridian hub, shroud;
    double wrap;   // radians from leading to trailing edge
    double phase;  // turn of the whole blade
};

void bladeMean(const BladeFrame& f, double t, double s, Vec3* point, Vec3* normal) {
    const Vec2 h = bezier(f.hub, t), sh = bezier(f.shroud, t);
    const Vec2 dh = bezierDeriv(f.hub, t), ds = bezierDeriv(f.shroud, t);
    const double r = h.x + s * (sh.x - h.x), z = h.y + s * (sh.y - h.y);
    const double rt = dh.x + s * (ds.x - dh.x), zt = dh.y + s * (ds.y - dh.y);
    const double th = f.phase + f.wrap * t, c = std::cos(th), sn = std::sin(th);
    *point = {r * c, r * sn, z};
    const Vec3 Ct{rt * c - r * f.wrap * sn, rt * sn + r * f.wrap * c, zt};
    const Vec3 Cs{(sh.x - h.x) * c, (sh.x - h.x) * sn, sh.y - h.y};
    const Vec3 N{Ct.y * Cs.z - Ct.z * Cs.y, Ct.z * Cs.x - Ct.x * Cs.z, Ct.x * Cs.y - Ct.y * Cs.x};
    const double len = std::sqrt(N.x * N.x + N.y * N.y + N.z * N.z);
    *normal = {N.x / len, N.y / len, N.z / len};
}

// Reference knots for splineThroughPoints3DKnots: n points at evenly spaced parameters.
std::vector<double> evenKnots(int32_t n) {
    std::vector<double> k(static_cast<size_t>(n) + 6, 0.0);
    for (int32_t i = 0; i < n; ++i) k[3 + i] = static_cast<double>(i) / (n - 1);
    for (int32_t i = n + 2; i < n + 6; ++i) k[i] = 1.0;
    return k;
}

struct CurveGuard {
    BsplCurve* c = nullptr;
    ~CurveGuard() {
        if (c != nullptr) {
            nurbsFreeCurve(c);
            std::free(c);
        }
    }
};

// Bicubic surface through grid[j][i] (j across the span, i along the chord): each span row is
// interpolated along the chord with common knots, then each column of row control points along the
// span; the surface passes through every grid point.
int fitBicubic(const std::vector<std::vector<Vec3>>& grid, BsplSurface* out) {
    const int32_t ns = static_cast<int32_t>(grid.size()), nt = static_cast<int32_t>(grid[0].size());
    const std::vector<double> kt = evenKnots(nt), ks = evenKnots(ns);
    std::vector<std::vector<Vec3>> rowCtrl(static_cast<size_t>(ns));
    std::vector<double> uKnots;
    for (int32_t j = 0; j < ns; ++j) {
        CurveGuard g;
        g.c = splineThroughPoints3DKnots(grid[j].data(), nt, kt.data());
        if (g.c == nullptr) return -1;
        rowCtrl[j].assign(g.c->ctrl, g.c->ctrl + g.c->count);
        if (j == 0) uKnots.assign(g.c->knots, g.c->knots + g.c->count + g.c->order);
    }
    const int32_t nu = nt + 2, nv = ns + 2;
    if (bsplSurfaceAlloc(out, 4, 4, nu, nv, 0) != 1) return -1;
    std::copy(uKnots.begin(), uKnots.end(), out->uKnots);
    std::vector<Vec3> column(static_cast<size_t>(ns));
    for (int32_t i = 0; i < nu; ++i) {
        for (int32_t j = 0; j < ns; ++j) column[j] = rowCtrl[j][i];
        CurveGuard g;
        g.c = splineThroughPoints3DKnots(column.data(), ns, ks.data());
        if (g.c == nullptr) {
            bsplSurfaceFree(out);
            return -1;
        }
        if (i == 0) std::copy(g.c->knots, g.c->knots + nv + 4, out->vKnots);
        for (int32_t k = 0; k < nv; ++k) out->rows[i][k] = g.c->ctrl[k];
    }
    return 1;
}

// The whole parameter square as the outer trim loop, counter-clockwise.
int addFullLoop(TrimSurface* rec) {
    const Vec2 square[5] = {{0.0, 0.0}, {1.0, 0.0}, {1.0, 1.0}, {0.0, 1.0}, {0.0, 0.0}};
    return trimSurfaceAddLoop(rec, square, 5);
}

// Moves a built record into the list; frees it when that fails.
int appendRecord(SurfList* list, TrimSurface* rec) {
    if (addFullLoop(rec) != 1 || surfListAppend(list, rec) != 1) {
        kvxFreeTrimSurface(rec);
        return -1;
    }
    return 1;
}

int revolve(const Meridian& m, SurfList* list) {
    TrimSurface rec;
    kvxInitTrimSurface(&rec);
    BsplSurface& s = rec.surface;
    if (bsplSurfaceAlloc(&s, 4, 3, 4, 9, 1) != 1) return -1;
    const double uk[8] = {0, 0, 0, 0, 1, 1, 1, 1};
    const double vk[12] = {0, 0, 0, 0.25, 0.25, 0.5, 0.5, 0.75, 0.75, 1, 1, 1};
    std::copy(uk, uk + 8, s.uKnots);
    std::copy(vk, vk + 12, s.vKnots);
    const double cx[9] = {1, 1, 0, -1, -1, -1, 0, 1, 1}, cy[9] = {0, 1, 1, 1, 0, -1, -1, -1, 0};
    const double corner = std::sqrt(2.0) / 2.0;
    for (int32_t i = 0; i < 4; ++i)
        for (int32_t j = 0; j < 9; ++j) {
            s.rows[i][j] = {m.p[i].x * cx[j], m.p[i].x * cy[j], m.p[i].y};
            s.weights[i][j] = (j % 2) ? corner : 1.0;
        }
    return appendRecord(list, &rec);
}

// Flat cap between the edge control rows of two sides (u index i of each).
int cap(const BsplSurface& a, const BsplSurface& b, int32_t i, SurfList* list) {
    TrimSurface rec;
    kvxInitTrimSurface(&rec);
    BsplSurface& s = rec.surface;
    if (bsplSurfaceAlloc(&s, 2, a.vOrder, 2, a.vNum, 0) != 1) return -1;
    const double uk[4] = {0, 0, 1, 1};
    std::copy(uk, uk + 4, s.uKnots);
    std::copy(a.vKnots, a.vKnots + a.vNum + a.vOrder, s.vKnots);
    for (int32_t k = 0; k < a.vNum; ++k) {
        s.rows[0][k] = a.rows[i][k];
        s.rows[1][k] = b.rows[i][k];
    }
    return appendRecord(list, &rec);
}

bool isNumber(const char* text, double* out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const double v = std::strtod(text, &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(v)) return false;
    *out = v;
    return true;
}

bool isPair(const char* text, double* a, double* b) {
    const char* comma = std::strchr(text, ',');
    if (comma == nullptr) return false;
    const std::string first(text, comma);
    return isNumber(first.c_str(), a) && isNumber(comma + 1, b);
}

bool isCount(const char* text, int32_t* out) {
    double v = 0.0;
    if (!isNumber(text, &v) || v != std::floor(v) || std::fabs(v) > 1e6) return false;
    *out = static_cast<int32_t>(v);
    return true;
}

bool writeFileList(const std::filesystem::path& path, const SurfList* list) {
    return writeSurfObjects(path.string().c_str(), list) == 1;
}

// Keyword lines of the job; "%.10g" keeps the numbers short and the file stable.
bool writeJob(const ImpellerOptions& o, const std::filesystem::path& path) {
    FILE* f = std::fopen(path.string().c_str(), "w");
    if (f == nullptr) return false;
    auto num = [f](const char* key, double v) { std::fprintf(f, "%s %.10g\n", key, v); };
    auto text = [f](const char* key, const char* v) { std::fprintf(f, "%s %s\n", key, v); };
    std::fputs("# Plunge roughing of one channel of the example impeller.\n", f);
    text("*APT", "impeller.pof");
    text("*TMP_DIR", ".");
    num("*HUB_KVX_OK", 1);
    text("*HUB_KVX", kImpHubFile);
    num("*SHROUD_KVX_OK", 1);
    text("*SHROUD_KVX", kImpShroudFile);
    num("*BLADE_KVX_OK", 1);
    text("*BLADE_KVX", kImpBladeFile);
    num("*SPLIT_KVX_OK", o.splitters ? 1 : 0);
    if (o.splitters) text("*SPLIT_KVX", kImpSplitFile);
    num("*BLADE_COUNT", o.blades);
    std::fputs("# Ball tool.\n", f);
    num("*FRTYP", 1);
    num("*FRRADIUS", o.toolRadius);
    const double depth = o.shroudOffset + o.hubDepth;
    num("*CUTTING_LENGTH", std::ceil(depth + 2.0));
    num("*TOTAL_TOOL_LENGTH", std::ceil(3.0 * depth + 10.0));
    const double top = std::fmax(o.hubStartZ, o.hubEndZ + o.shroudOffset);
    num("*SICHEBENE", std::ceil(top + 20.0));
    num("*SICHDIST", 2);
    num("*PLUNGE_STEP", 0.5 * o.toolRadius);
    num("*HORIZUSTEL", 0.4 * o.toolRadius);
    num("*MACRO_SABST", 1);
    num("*MACRO_EABST", 1);
    num("*COLL_CHECK", 1);
    num("*TILT_MAX", 45);
    std::fputs("# Negative lead: the axis leans back past the splitter's leading edge within *TILT_MAX.\n",
               f);
    num("*LEAD_ANGLE", -10);
    const bool ok = !std::ferror(f);
    return std::fclose(f) == 0 && ok;
}

}  // namespace

const char* impUsage() {
    return "usage: mkimpeller [options]\n"
           "  --out DIR               folder of the files (.)\n"
           "  --blades N              main blades (8)\n"
           "  --hub-start R,Z         leading end of the hub meridian (15,40)\n"
           "  --hub-end R,Z           trailing end of the hub meridian (60,5)\n"
           "  --shroud-offset D       shroud above the hub (18)\n"
           "  --thickness T           blade thickness (2)\n"
           "  --wrap DEG              blade turn from leading to trailing edge (25)\n"
           "  --hub-depth D           blade reach into the hub (1)\n"
           "  --shroud-overshoot D    blade reach past the shroud (1)\n"
           "  --splitter-start F      chord fraction where splitters start (0.5)\n"
           "  --no-splitters          main blades only\n"
           "  --tool-radius R         ball tool of the job (2.5)\n"
           "  --narrow-ok             write the part even when the tool cannot pass its channel\n";
}

int impParseOptions(int argc, const char* const* argv, ImpellerOptions* out, std::string* error) {
    ImpellerOptions o;
    for (int i = 0; i < argc; ++i) {
        const std::string key = argv[i] != nullptr ? argv[i] : "";
        if (key == "--help" || key == "-h") {
            *error = impUsage();
            return 0;
        }
        if (key == "--no-splitters") {
            o.splitters = 0;
            continue;
        }
        if (key == "--narrow-ok") {
            o.narrowOk = 1;
            continue;
        }
        if (i + 1 >= argc || argv[i + 1] == nullptr) {
            *error = key.rfind("--", 0) == 0 ? "option " + key + " needs a value" : "unknown option " + key;
            return -1;
        }
        const char* v = argv[++i];
        bool ok = true;
        if (key == "--out")
            o.outDir = v, ok = *v != '\0';
        else if (key == "--blades")
            ok = isCount(v, &o.blades);
        else if (key == "--hub-start")
            ok = isPair(v, &o.hubStartR, &o.hubStartZ);
        else if (key == "--hub-end")
            ok = isPair(v, &o.hubEndR, &o.hubEndZ);
        else if (key == "--shroud-offset")
            ok = isNumber(v, &o.shroudOffset);
        else if (key == "--thickness")
            ok = isNumber(v, &o.thickness);
        else if (key == "--wrap")
            ok = isNumber(v, &o.wrapDeg);
        else if (key == "--hub-depth")
            ok = isNumber(v, &o.hubDepth);
        else if (key == "--shroud-overshoot")
            ok = isNumber(v, &o.shroudOvershoot);
        else if (key == "--splitter-start")
            ok = isNumber(v, &o.splitterStart);
        else if (key == "--tool-radius")
            ok = isNumber(v, &o.toolRadius);
        else {
            *error = "unknown option " + key;
            return -1;
        }
        if (!ok) {
            *error = "bad value for " + key + ": '" + v + "'";
            return -1;
        }
    }
    *out = o;
    return 1;
}

double impHubChannelWidth(const ImpellerOptions& o) {
    const Meridian h = hubMeridian(o);
    const double pitch = 2.0 * kPi / o.blades, wrap = wrapRad(o);
    double width = 1e300;
    for (int32_t k = 0; k <= 200; ++k) {
        const double t = k / 200.0;
        const Vec2 p = bezier(h, t), d = bezierDeriv(h, t);
        const double gap = (o.splitters && t >= o.splitterStart) ? 0.5 * pitch : pitch;
        // The blade crosses the meridian at angle beta; square to it the gap shrinks by cos(beta).
        const double cosBeta = 1.0 / std::sqrt(1.0 + std::pow(p.x * wrap / std::hypot(d.x, d.y), 2));
        width = std::fmin(width, p.x * gap * cosBeta - o.thickness);
    }
    return width;
}

int impCheckOptions(const ImpellerOptions& o, std::string* error) {
    auto fail = [error](const char* why) {
        *error = why;
        return -1;
    };
    if (o.blades < 2 || o.blades > 100) return fail("blade count must lie in 2..100");
    if (!(o.hubStartR > 0.0)) return fail("the hub must start off the axis (r > 0)");
    if (!(o.hubEndR > o.hubStartR)) return fail("the hub must end at a larger radius than it starts");
    if (!(o.hubStartZ > o.hubEndZ)) return fail("the hub must start higher than it ends");
    if (!(o.shroudOffset > 0.0)) return fail("shroud offset must be positive");
    Meridian s;
    if (shroudMeridian(o, &s) != 1) return fail("shroud offset too large for the hub meridian");
    if (!(o.thickness > 0.0)) return fail("blade thickness must be positive");
    if (!(std::fabs(o.wrapDeg) <= 90.0)) return fail("wrap must lie in -90..90 degrees");
    if (!(o.hubDepth > 0.0) || !(o.shroudOvershoot > 0.0))
        return fail("the blade must reach into the hub and past the shroud (positive lengths)");
    if (!(o.hubDepth < 0.5 * o.shroudOffset) || !(o.shroudOvershoot < 0.5 * o.shroudOffset))
        return fail("hub depth and shroud overshoot must stay below half the shroud offset");
    if (o.splitters && !(o.splitterStart > 0.0 && o.splitterStart < 0.9))
        return fail("splitter start must lie in (0, 0.9)");
    if (!(o.toolRadius > 0.0)) return fail("tool radius must be positive");
    if (!o.narrowOk && !(impHubChannelWidth(o) > 2.0 * o.toolRadius))
        return fail("the channel at the hub is narrower than the tool");
    return 1;
}

int impBuildHub(const ImpellerOptions& o, SurfList* list) {
    std::string why;
    if (list == nullptr || impCheckOptions(o, &why) != 1) return -1;
    return revolve(hubMeridian(o), list);
}

int impBuildShroud(const ImpellerOptions& o, SurfList* list) {
    std::string why;
    Meridian s;
    if (list == nullptr || impCheckOptions(o, &why) != 1 || shroudMeridian(o, &s) != 1) return -1;
    return revolve(s, list);
}

int impBuildBlade(const ImpellerOptions& o, int splitter, SurfList* list) {
    std::string why;
    BladeFrame f;
    if (list == nullptr || impCheckOptions(o, &why) != 1 || shroudMeridian(o, &f.shroud) != 1) return -1;
    if (splitter && !o.splitters) return -1;
    f.hub = hubMeridian(o);
    f.wrap = wrapRad(o);
    f.phase = splitter ? kPi / o.blades : 0.0;
    const double t0 = splitter ? o.splitterStart : 0.0;
    std::vector<std::vector<Vec3>> sideA(kSpanSamples), sideB(kSpanSamples);
    for (int32_t j = 0; j < kSpanSamples; ++j) {
        const double sigma = static_cast<double>(j) / (kSpanSamples - 1);
        for (int32_t i = 0; i < kChordSamples; ++i) {
            const double t = t0 + (1.0 - t0) * i / (kChordSamples - 1);
            // Span runs from hubDepth inside the hub to shroudOvershoot past the shroud, measured
            // along the straight hub-to-shroud line of this chord station.
            const Vec2 h = bezier(f.hub, t), sh = bezier(f.shroud, t);
            const double len = std::hypot(sh.x - h.x, sh.y - h.y);
            const double s = -o.hubDepth / len + sigma * (1.0 + (o.hubDepth + o.shroudOvershoot) / len);
            Vec3 p, n;
            bladeMean(f, t, s, &p, &n);
            const double half = 0.5 * o.thickness;
            sideA[j].push_back({p.x + half * n.x, p.y + half * n.y, p.z + half * n.z});
            sideB[j].push_back({p.x - half * n.x, p.y - half * n.y, p.z - half * n.z});
        }
    }
    TrimSurface a, b;
    kvxInitTrimSurface(&a);
    kvxInitTrimSurface(&b);
    if (fitBicubic(sideA, &a.surface) != 1 || fitBicubic(sideB, &b.surface) != 1) {
        kvxFreeTrimSurface(&a);
        kvxFreeTrimSurface(&b);
        return -1;
    }
    // The caps copy the sides' edge rows before the sides move into the list.
    int rc = 1;
    const int32_t last = a.surface.uNum - 1;
    SurfList* capList = newSurfList(2);
    if (capList == nullptr || cap(a.surface, b.surface, 0, capList) != 1 ||
        cap(a.surface, b.surface, last, capList) != 1)
        rc = -1;
    if (appendRecord(list, &a) != 1) rc = -1;
    if (appendRecord(list, &b) != 1) rc = -1;
    for (int32_t k = 0; capList != nullptr && k < capList->count && rc == 1; ++k) {
        // Moved out of capList: its slot is re-initialised so that freeing the list leaves it alone.
        if (surfListAppend(list, &capList->entries[k]) != 1)
            rc = -1;
        else
            kvxInitTrimSurface(&capList->entries[k]);
    }
    freeSurfList(capList);
    return rc;
}

int impWriteAll(const ImpellerOptions& o, std::string* error) {
    if (impCheckOptions(o, error) != 1) return -1;
    const std::filesystem::path dir(o.outDir);
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) {
        *error = "cannot create " + o.outDir + ": " + ec.message();
        return -1;
    }
    struct Part {
        const char* file;
        int kind;  // 0 hub, 1 shroud, 2 blade, 3 splitter
    };
    const Part parts[4] = {{kImpHubFile, 0}, {kImpShroudFile, 1}, {kImpBladeFile, 2}, {kImpSplitFile, 3}};
    for (const Part& part : parts) {
        if (part.kind == 3 && !o.splitters) continue;
        SurfList* list = newSurfList(4);
        if (list == nullptr) {
            *error = "out of memory";
            return -1;
        }
        int rc = part.kind == 0   ? impBuildHub(o, list)
                 : part.kind == 1 ? impBuildShroud(o, list)
                                  : impBuildBlade(o, part.kind == 3, list);
        const std::filesystem::path path = dir / part.file;
        if (rc == 1 && !writeFileList(path, list)) rc = -2;
        freeSurfList(list);
        if (rc != 1) {
            *error = (rc == -2 ? "cannot write " : "cannot build ") + path.string();
            return -1;
        }
    }
    if (!o.splitters) std::filesystem::remove(dir / kImpSplitFile, ec);
    if (!writeJob(o, dir / kImpJobFile)) {
        *error = "cannot write " + (dir / kImpJobFile).string();
        return -1;
    }
    return 1;
}
