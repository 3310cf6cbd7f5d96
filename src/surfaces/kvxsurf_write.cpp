// Writer of surface objects in the text the surface reader takes back bit for bit; the layout is also
// well-formed for the exchange-file record reader (objects, variables, scopes and comments only).
#include <cmath>
#include <cstdio>

#include "kernel/base/kvx/kvxfile.h"
#include "surfaces/kvxsurf.h"

namespace {

bool finite3(const Vec3& p) {
    return std::isfinite(p.x) && std::isfinite(p.y) && std::isfinite(p.z);
}

// What the reader would refuse is refused here, before a line is written.
bool writable(const TrimSurface* rec) {
    const BsplSurface& s = rec->surface;
    if (s.uOrder < 2 || s.vOrder < 2 || s.uNum < s.uOrder || s.vNum < s.vOrder) return false;
    if (int64_t{s.uNum} + s.uOrder > kSurfMaxKnots || int64_t{s.vNum} + s.vOrder > kSurfMaxKnots)
        return false;
    if (int64_t{s.uNum} * s.vNum > kSurfMaxPoints) return false;
    if (s.uKnots == nullptr || s.vKnots == nullptr || s.rows == nullptr) return false;
    const bool rational = s.rational || s.rational2;
    if (rational && s.weights == nullptr) return false;
    if (!std::isfinite(rec->offset)) return false;
    for (int32_t i = 0; i < s.uNum + s.uOrder; ++i)
        if (!std::isfinite(s.uKnots[i]) || (i > 0 && s.uKnots[i] < s.uKnots[i - 1])) return false;
    for (int32_t i = 0; i < s.vNum + s.vOrder; ++i)
        if (!std::isfinite(s.vKnots[i]) || (i > 0 && s.vKnots[i] < s.vKnots[i - 1])) return false;
    for (int32_t i = 0; i < s.uNum; ++i)
        for (int32_t j = 0; j < s.vNum; ++j) {
            if (!finite3(s.rows[i][j])) return false;
            if (rational && !std::isfinite(s.weights[i][j])) return false;
        }
    if (rec->loopCount < 0 || (rec->loopCount > 0 && rec->loops == nullptr)) return false;
    for (int32_t k = 0; k < rec->loopCount; ++k) {
        const TrimLoop& loop = rec->loops[k];
        if (loop.count == 1 || loop.count < 0 || loop.count > kSurfMaxLoopPoints) return false;
        for (int32_t i = 0; i < loop.count; ++i)
            if (!std::isfinite(loop.points[i].x) || !std::isfinite(loop.points[i].y)) return false;
    }
    return true;
}

// Header, two lines, the knots, then the closing lines (two after the u knots, one after the v knots).
void writeKnots(FILE* f, char dir, const double* knots, int32_t n) {
    std::fprintf(f, "  oKnots[%c](num[%d])\n  {\n  ; %c knots\n", dir, n, dir);
    for (int32_t i = 0; i < n; ++i) std::fprintf(f, "   vk(%.17g)\n", knots[i]);
    std::fputs(dir == 'u' ? "  }\n  ; v knots follow\n" : "  }\n", f);
}

void writeLoop(FILE* f, const TrimLoop& loop, int32_t index) {
    if (loop.count == 0) {
        // An unknown loop keyword reads back as an empty loop.
        std::fprintf(f, "   oNoCurve[%d](num[1])\n", index);
        return;
    }
    const Vec2* p = loop.points;
    std::fprintf(f, "   oContour[%d](num[%d])\n   {\n", index, loop.count);
    std::fprintf(f, "    oL(start[] x[%.17g/%.17g] y[%.17g/%.17g])\n", p[0].x, p[1].x, p[0].y, p[1].y);
    for (int32_t i = 2; i < loop.count; ++i) std::fprintf(f, "    oL(x[%.17g] y[%.17g])\n", p[i].x, p[i].y);
    std::fputs("   }\n", f);
}

}  // namespace

int kvxWriteTrimSurface(FILE* file, const TrimSurface* rec, int32_t id) {
    if (file == nullptr || rec == nullptr || !writable(rec)) return -1;
    const BsplSurface& s = rec->surface;
    const bool rational = s.rational || s.rational2;
    const bool trimmed = rec->loopCount > 0;
    auto flag = [](int32_t v) { return v ? "true" : "false"; };
    std::fprintf(file, "oBsplSrf[%d]\n(\n", id);
    std::fprintf(file, "  order[%d/%d]\n  rational[%s]\n  trimmed[%s]\n", s.uOrder, s.vOrder, flag(rational),
                 flag(trimmed));
    std::fprintf(file, "  periodicu[%s]\n  periodicv[%s]\n", flag(s.periodicU), flag(s.periodicV));
    std::fprintf(file, "  offset[%.17g]\n  nco[%d]\n)\n{\n", rec->hasOffset ? rec->offset : 0.0, s.uNum);
    writeKnots(file, 'u', s.uKnots, s.uNum + s.uOrder);
    writeKnots(file, 'v', s.vKnots, s.vNum + s.vOrder);
    for (int32_t i = 0; i < s.uNum; ++i) {
        std::fprintf(file, "  oRow[%d](num[%d])\n  {\n", i, s.vNum);
        for (int32_t j = 0; j < s.vNum; ++j) {
            const Vec3& p = s.rows[i][j];
            if (rational)
                std::fprintf(file, "   oP(x[%.17g] y[%.17g] z[%.17g] h[%.17g])\n", p.x, p.y, p.z,
                             s.weights[i][j]);
            else
                std::fprintf(file, "   oP(x[%.17g] y[%.17g] z[%.17g])\n", p.x, p.y, p.z);
        }
        std::fputs("  }\n", file);
    }
    if (trimmed) {
        std::fprintf(file, "  oTrim[%d](parametric[] loops[%d])\n  {\n", id, rec->loopCount);
        for (int32_t k = 0; k < rec->loopCount; ++k) writeLoop(file, rec->loops[k], k + 1);
        std::fputs("  }\n}\n", file);
    } else {
        std::fputs("  ; untrimmed\n}\n", file);
    }
    return std::ferror(file) ? -1 : 0;
}

int writeSurfObjects(const char* path, const SurfList* list) {
    if (path == nullptr || list == nullptr) return 0;
    FILE* file = std::fopen(path, "w");
    if (file == nullptr) return -1;
    std::fprintf(file, "%s\n%s 1.0\nsurfaces\n%d\n", kKvxBanner, kKvxVersionTag, list->count);
    int rc = 1;
    for (int32_t i = 0; i < list->count && rc == 1; ++i)
        if (kvxWriteTrimSurface(file, &list->entries[i], i + 1) != 0) rc = -1;
    if (std::fclose(file) != 0) rc = -1;
    return rc;
}
