// Line reader of the surface objects of kvx exchange files.
#include "surfaces/kvxsurf.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "geometry/frames.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"

namespace {

int32_t gKeepCollinear = 0;

constexpr int kTrace = 3;
constexpr int kFail = 9;

// A word buffer as long as a whole line cannot overflow: no word of a line is longer than it.
using Word = char[kKvxLineSize];

// One line of at most 1023 characters; CRLF reads as LF. false at the end of the file.
bool readRawLine(FILE* file, char* buf) {
    if (std::fgets(buf, kKvxLineSize, file) == nullptr) {
        buf[0] = '\0';
        return false;
    }
    size_t n = std::strlen(buf);
    if (n >= 2 && buf[n - 2] == '\r' && buf[n - 1] == '\n') {
        buf[n - 2] = '\n';
        buf[n - 1] = '\0';
    } else if (n >= 1 && buf[n - 1] == '\r') {
        buf[n - 1] = '\0';
    }
    return true;
}

bool skipLines(FILE* file, int n) {
    char buf[kKvxLineSize];
    for (int i = 0; i < n; ++i)
        if (!readRawLine(file, buf)) return false;
    return true;
}

// The next line with brackets blanked; false at the end of the file.
bool readBlanked(FILE* file, char* buf) {
    if (!readRawLine(file, buf)) return false;
    kvxBlankBrackets(buf);
    return true;
}

// The next data line (comments skipped), blanked.
bool readDataBlanked(FILE* file, char* buf) {
    buf[0] = '\0';
    if (kvxReadLine(file, buf) != 0) return false;
    kvxBlankBrackets(buf);
    return true;
}

bool isDataLine(const char* buf) {
    return buf[0] != '\0' && buf[0] != ';' && !(buf[0] == '\n' && buf[1] == '\0');
}

void noMemory(int64_t bytes) {
    const int32_t shown = bytes > INT32_MAX ? INT32_MAX : static_cast<int32_t>(bytes);
    msgPrintf(kFail, "*** ABBRUCH: Kein Speicher, es fehlen %d Bytes", shown);
}

// n knot lines "k t"; a line that gives no number, a value that is not finite or one below its
// predecessor fails (evaluation relies on ascending knots).
bool readKnots(FILE* file, double* knots, int32_t n) {
    char buf[kKvxLineSize];
    Word w;
    for (int32_t i = 0; i < n; ++i) {
        if (!readBlanked(file, buf)) return false;
        double t = 0.0;
        if (std::sscanf(buf, "%1023s %lf", w, &t) != 2 || !std::isfinite(t)) return false;
        if (i > 0 && t < knots[i - 1]) {
            msgPrintf(kFail, "*** ABBRUCH : %10d : knot out of order", i);
            return false;
        }
        knots[i] = t;
    }
    return true;
}

bool readRows(FILE* file, BsplSurface* s) {
    char buf[kKvxLineSize];
    Word w;
    const bool rational = s->rational || s->rational2;
    for (int32_t i = 0; i < s->uNum; ++i) {
        if (!readRawLine(file, buf) || !skipLines(file, 1)) return false;
        for (int32_t j = 0; j < s->vNum; ++j) {
            if (!readBlanked(file, buf)) return false;
            Vec3 p{};
            double h = 1.0;
            if (rational) {
                if (std::sscanf(buf, "%1023s x %lf y %lf z %lf h %lf", w, &p.x, &p.y, &p.z, &h) != 5)
                    return false;
                if (!std::isfinite(h)) return false;
                s->weights[i][j] = h;
            } else if (std::sscanf(buf, "%1023s x %lf y %lf z %lf", w, &p.x, &p.y, &p.z) != 4) {
                return false;
            }
            if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.z)) return false;
            s->rows[i][j] = p;
        }
        if (!skipLines(file, 1)) return false;
    }
    return true;
}

// Up to the data block: the line that opens the attributes, then the attributes themselves.
bool readAttributes(FILE* file, BsplSurface* s, int32_t* trimmed, double* offset) {
    char buf[kKvxLineSize];
    Word key, value;
    do {
        if (!readRawLine(file, buf)) return false;
    } while (kvxClassifyLine(buf, key, value) != kKvxLineScopeOpen);
    for (;;) {
        if (!readRawLine(file, buf)) return false;
        const int cls = kvxClassifyLine(buf, key, value);
        if (cls == kKvxLineData) return true;
        if (cls != kKvxLineAttr) continue;
        const bool isTrue = std::strcmp(value, "true") == 0;
        if (std::strcmp(key, "order") == 0) {
            int a = s->uOrder, b = s->vOrder;
            const int got = std::sscanf(value, "%d/%d", &a, &b);
            if (got >= 1) s->uOrder = a;
            if (got >= 2) s->vOrder = b;
        } else if (std::strcmp(key, "rational") == 0) {
            s->rational = s->rational2 = isTrue ? 1 : 0;
        } else if (std::strcmp(key, "trimmed") == 0) {
            *trimmed = isTrue ? 1 : 0;
        } else if (std::strcmp(key, "periodicu") == 0) {
            s->periodicU = isTrue ? 1 : 0;
        } else if (std::strcmp(key, "periodicv") == 0) {
            s->periodicV = isTrue ? 1 : 0;
        } else if (std::strcmp(key, "offset") == 0) {
            double d = *offset;
            if (std::sscanf(value, "%lf", &d) == 1) {
                if (!std::isfinite(d)) return false;
                *offset = d;
            }
        } else if (std::strcmp(key, "nco") == 0) {
            int n = s->uNum;
            if (std::sscanf(value, "%d", &n) == 1) s->uNum = n;
        }
    }
}

bool allocSurface(BsplSurface* s) {
    const int64_t nu = int64_t{s->uNum} + s->uOrder, nv = int64_t{s->vNum} + s->vOrder;
    const int64_t points = int64_t{s->uNum} * s->vNum;
    const bool rational = s->rational || s->rational2;
    s->uKnots = static_cast<double*>(memCalloc(static_cast<size_t>(nu), sizeof(double)));
    s->vKnots = static_cast<double*>(memCalloc(static_cast<size_t>(nv), sizeof(double)));
    s->rows = static_cast<Vec3**>(memCalloc(static_cast<size_t>(s->uNum), sizeof(Vec3*)));
    if (s->rows != nullptr)
        s->rows[0] = static_cast<Vec3*>(memCalloc(static_cast<size_t>(points), sizeof(Vec3)));
    if (rational) {
        s->weights = static_cast<double**>(memCalloc(static_cast<size_t>(s->uNum), sizeof(double*)));
        if (s->weights != nullptr)
            s->weights[0] = static_cast<double*>(memCalloc(static_cast<size_t>(points), sizeof(double)));
    }
    const bool ok = s->uKnots != nullptr && s->vKnots != nullptr && s->rows != nullptr &&
                    s->rows[0] != nullptr &&
                    (!rational || (s->weights != nullptr && s->weights[0] != nullptr));
    if (!ok) {
        noMemory((nu + nv) * 8 + points * (rational ? 32 : 24));
        return false;
    }
    for (int32_t i = 1; i < s->uNum; ++i) s->rows[i] = s->rows[0] + int64_t{i} * s->vNum;
    if (rational)
        for (int32_t i = 1; i < s->uNum; ++i) s->weights[i] = s->weights[0] + int64_t{i} * s->vNum;
    return true;
}

bool readSurfacePart(FILE* file, BsplSurface* s, int32_t* trimmed, double* offset) {
    if (!readAttributes(file, s, trimmed, offset)) return false;
    msgPrintf(kTrace, "%10d : surf.u_order", s->uOrder);
    if (s->uOrder < 2) return msgPrintf(kFail, "*** ABBRUCH : %10d : surf.u_order", s->uOrder), false;
    msgPrintf(kTrace, "%10d : surf.v_order", s->vOrder);
    if (s->vOrder < 2) return msgPrintf(kFail, "*** ABBRUCH : %10d : surf.v_order", s->vOrder), false;
    msgPrintf(kTrace, "%10d : surf.u_num", s->uNum);
    // Fewer control points than the order leave no knot span to evaluate in.
    if (s->uNum < 2 || s->uNum < s->uOrder)
        return msgPrintf(kFail, "*** ABBRUCH : %10d : surf.u_num", s->uNum), false;

    char buf[kKvxLineSize];
    Word w1, w2, w3;
    int n = 0;
    if (!readBlanked(file, buf)) return false;  // u knot header; its count is not used
    std::sscanf(buf, "%1023s %1023s %1023s %d", w1, w2, w3, &n);
    const int64_t nu = int64_t{s->uNum} + s->uOrder;
    if (nu > kSurfMaxKnots) return msgPrintfDouble(kFail, "n_knot out of range", 0.0), false;
    // The v count is known only after the u knots; they are read into scratch first.
    std::vector<double> uKnots;
    try {
        uKnots.resize(static_cast<size_t>(nu));
    } catch (const std::bad_alloc&) {
        noMemory(nu * int64_t{sizeof(double)});
        return false;
    }
    if (!skipLines(file, 2) || !readKnots(file, uKnots.data(), static_cast<int32_t>(nu))) return false;

    if (!skipLines(file, 2) || !readBlanked(file, buf)) return false;
    n = 0;
    std::sscanf(buf, "%1023s %1023s %1023s %d", w1, w2, w3, &n);
    const int64_t vNum = int64_t{n} - s->vOrder;
    s->vNum = vNum < INT32_MIN ? INT32_MIN : static_cast<int32_t>(vNum);
    msgPrintf(kTrace, "%10d : surf.v_num", s->vNum);
    if (vNum < 2 || vNum < s->vOrder)
        return msgPrintf(kFail, "*** ABBRUCH : %10d : surf.v_num", s->vNum), false;
    if (n < 0 || n > kSurfMaxKnots) return msgPrintfDouble(kFail, "n_knot out of range", 0.0), false;
    const int64_t points = int64_t{s->uNum} * s->vNum;
    if (points > kSurfMaxPoints) {
        const int32_t shown = points > INT32_MAX ? INT32_MAX : static_cast<int32_t>(points);
        return msgPrintf(kFail, "*** ABBRUCH : n_pt out of range : %d", shown), false;
    }
    if (!allocSurface(s)) return false;
    std::memcpy(s->uKnots, uKnots.data(), static_cast<size_t>(nu) * sizeof(double));
    if (!skipLines(file, 2) || !readKnots(file, s->vKnots, n) || !skipLines(file, 1)) return false;
    return readRows(file, s);
}

}  // namespace

void kvxSetKeepCollinear(int32_t flag) {
    gKeepCollinear = flag;
}

int32_t kvxKeepCollinear() {
    return gKeepCollinear;
}

void kvxSurfResetState() {
    gKeepCollinear = 0;
}
static const RunReset gRunReset(kRunResetSurfaces, "kvxSurf", kvxSurfResetState);

int kvxReadLine(FILE* file, char* buf) {
    if (file == nullptr || buf == nullptr) return -1;
    bool readAny = false;
    while (!isDataLine(buf)) {
        if (!readRawLine(file, buf)) return -1;
        readAny = true;
    }
    return readAny ? 0 : -1;
}

void kvxBlankBrackets(char* line) {
    if (line == nullptr) return;
    for (char* c = line; *c != '\0'; ++c)
        if (*c == '[' || *c == ']' || *c == '/' || *c == '(' || *c == ')') *c = ' ';
}

int kvxClassifyLine(const char* line, char* keyword, char* value) {
    if (keyword != nullptr) keyword[0] = '\0';
    if (value != nullptr) value[0] = '\0';
    if (line == nullptr || keyword == nullptr || value == nullptr) return kKvxLineOther;
    const char* c = line;
    while (*c == ' ' || *c == '\t') ++c;
    if (*c == '(') return kKvxLineScopeOpen;
    if (*c == ')') return kKvxLineScopeClose;
    if (*c == '{') return kKvxLineData;
    // Both outputs are at least as long as the line, and blanks are only ever dropped.
    size_t k = 0;
    for (; *c != '\0' && *c != '['; ++c)
        if (*c != ' ' && *c != '\t') keyword[k++] = *c;
    keyword[k] = '\0';
    if (*c != '[') return kKvxLineOther;
    size_t v = 0;
    for (++c; *c != '\0' && *c != ']'; ++c)
        if (*c != ' ' && *c != '\t') value[v++] = *c;
    value[v] = '\0';
    return *c == ']' ? kKvxLineAttr : kKvxLineOther;
}

int kvxReadBsplSurface(FILE* file, BsplSurface* surface, int32_t* trimmed, double* offset) {
    if (file == nullptr || surface == nullptr || trimmed == nullptr || offset == nullptr) return -1;
    BsplSurface s{};
    int32_t trim = 0;
    double off = 0.0;
    const bool ok = readSurfacePart(file, &s, &trim, &off);
    if (!ok) {
        bsplSurfaceFree(&s);
        trim = 0;
        off = 0.0;
    }
    *surface = s;
    *trimmed = trim;
    *offset = off;
    return ok ? 0 : -1;
}

int kvxReadParCurve(FILE* file, int32_t n, TrimLoop* loop) {
    if (file == nullptr || loop == nullptr) return -1;
    const int64_t total = int64_t{loop->count} + n;
    const int32_t shown = total > INT32_MAX ? INT32_MAX : static_cast<int32_t>(total);
    // The first line always carries two points, so one point cannot be announced.
    if (n < 2 || total > kSurfMaxLoopPoints) {
        msgPrintf(kFail, "*** FEHLER : parcrv.num out of range: %d", shown);
        return -1;
    }
    msgPrintf(kTrace, "%10d : parcrv.num", shown);
    char buf[kKvxLineSize];
    Word w1, w2;
    if (!skipLines(file, 1) || !readBlanked(file, buf)) return -1;
    if (std::sscanf(buf, "%1023s %1023s", w1, w2) != 2 || std::strcmp(w1, "oL") != 0) return -1;
    double x1 = 0, x2 = 0, y1 = 0, y2 = 0;
    const char* form =
        std::strcmp(w2, "start") == 0 ? "%1023s start x %lf %lf y %lf %lf " : "%1023s x %lf %lf y %lf %lf ";
    if (std::sscanf(buf, form, w1, &x1, &x2, &y1, &y2) < 5) return -1;
    std::vector<Vec2> pts;
    try {
        pts.reserve(static_cast<size_t>(n));  // every push below stays within it
    } catch (const std::bad_alloc&) {
        noMemory(int64_t{n} * int64_t{sizeof(Vec2)});
        return -1;
    }
    pts.push_back({x1, y1});
    pts.push_back({x2, y2});
    while (static_cast<int32_t>(pts.size()) < n) {
        if (!readBlanked(file, buf)) return -1;
        if (std::sscanf(buf, "%1023s", w1) != 1 || std::strcmp(w1, "oL") != 0) return -1;
        if (std::sscanf(buf, "%1023s x %lf %lf y %lf %lf ", w1, &x1, &x2, &y1, &y2) == 5) {
            pts.push_back({x2, y2});  // a segment line: its end point
        } else if (std::sscanf(buf, "%1023s x %lf y %lf ", w1, &x1, &y1) == 3) {
            pts.push_back({x1, y1});
        } else {
            return -1;
        }
    }
    for (const Vec2& p : pts)
        if (!std::isfinite(p.x) || !std::isfinite(p.y)) return -1;
    // The closing line must not be one more point.
    if (!readBlanked(file, buf)) return -1;
    if (std::sscanf(buf, "%1023s", w1) == 1 && std::strcmp(w1, "oL") == 0) return -1;
    if (trimLoopAppend(loop, pts.data(), n) < 0) {
        noMemory(total * int64_t{sizeof(Vec2)});
        return -1;
    }
    return 0;
}

namespace {

// Header "w w w n", or "w w n" when only three fields convert: the keyword and the count.
bool readLoopHeader(FILE* file, char* keyword, int* count) {
    char buf[kKvxLineSize];
    Word w2, w3;
    if (!readDataBlanked(file, buf)) return false;
    *count = 0;
    if (std::sscanf(buf, "%1023s %1023s %1023s %d", keyword, w2, w3, count) == 4) return true;
    *count = 0;
    keyword[0] = '\0';
    std::sscanf(buf, "%1023s %1023s %d", keyword, w2, count);
    return true;
}

int readCurveSet(FILE* file, TrimLoop* loop) {
    Word keyword;
    int count = 0;
    if (!readLoopHeader(file, keyword, &count)) return -1;
    if (std::strcmp(keyword, "oL") == 0 || count < 1) return -1;
    if (std::strcmp(keyword, "oContour") == 0) return kvxReadParCurve(file, count, loop);
    if (std::strcmp(keyword, "oCrvSet") != 0) return 0;
    if (!skipLines(file, 1)) return -1;
    for (int i = 0; i < count; ++i) {
        Word pkeyword;
        int n = 0;
        if (!readLoopHeader(file, pkeyword, &n)) return -1;
        if (kvxReadParCurve(file, n, loop) != 0) return -1;
    }
    char buf[kKvxLineSize];
    return readDataBlanked(file, buf) ? 0 : -1;
}

// The trim part after a successful surface part.
bool readTrimPart(FILE* file, TrimSurface* rec) {
    char buf[kKvxLineSize];
    Word first, second, kind, fourth;
    first[0] = second[0] = kind[0] = fourth[0] = '\0';
    int loops = 0;
    if (!readDataBlanked(file, buf)) return false;
    const int got = std::sscanf(buf, "%1023s %1023s %1023s %1023s %d", first, second, kind, fourth, &loops);
    // Without its trim header the object cannot be told from a broken one.
    if (got < 1 || std::strcmp(first, "oTrim") != 0) return false;
    if (got < 3) {
        kind[0] = '\0';
        if (!skipLines(file, 1) || !readBlanked(file, buf)) return false;
        std::sscanf(buf, "%1023s %1023s", first, kind);
        if (!readBlanked(file, buf)) return false;
        std::sscanf(buf, "%1023s %d", first, &loops);
        if (!skipLines(file, 1)) return false;
    }
    if (std::strcmp(kind, "surface3D") == 0) return true;
    msgPrintf(kTrace, "%10d : num_pcurves", loops);
    if (loops < 0) return msgPrintf(kFail, "*** FEHLER : sheet.num_pcurves out of range: %d", loops), false;
    if (!skipLines(file, 1)) return false;
    // The loop array grows as loops arrive: the announced count is not trusted for allocation.
    for (int i = 0; i < loops; ++i) {
        TrimLoop loop{nullptr, 0};
        if (readCurveSet(file, &loop) != 0) {
            std::free(loop.points);
            return false;
        }
        void* block = memRealloc(rec->loops, (static_cast<size_t>(rec->loopCount) + 1) * sizeof(TrimLoop));
        if (block == nullptr) {
            std::free(loop.points);
            noMemory((int64_t{rec->loopCount} + 1) * int64_t{sizeof(TrimLoop)});
            return false;
        }
        rec->loops = static_cast<TrimLoop*>(block);
        rec->loops[rec->loopCount++] = loop;
    }
    return readDataBlanked(file, buf) && readDataBlanked(file, buf);
}

}  // namespace

int kvxReadCurveSet(FILE* file, TrimLoop* loop) {
    if (file == nullptr || loop == nullptr) return -1;
    loop->points = nullptr;
    loop->count = 0;
    const int rc = readCurveSet(file, loop);
    if (rc != 0) {
        std::free(loop->points);
        loop->points = nullptr;
        loop->count = 0;
    }
    return rc;
}

int kvxReadTrimSurface(FILE* file, TrimSurface* out) {
    if (out == nullptr) return -1;
    kvxInitTrimSurface(out);
    if (file == nullptr) return -1;
    TrimSurface rec;
    kvxInitTrimSurface(&rec);
    int32_t trimmed = 0;
    double offset = 0.0;
    if (kvxReadBsplSurface(file, &rec.surface, &trimmed, &offset) != 0) return -1;
    if (std::fabs(offset) > 1e-4) {
        rec.hasOffset = 1;
        rec.offset = offset;
    }
    const bool ok = trimmed ? readTrimPart(file, &rec) : skipLines(file, 2);
    if (!ok) {
        kvxFreeTrimSurface(&rec);
        return -1;
    }
    trimSurfaceUpdateBox(&rec);
    *out = rec;
    return 0;
}

int readSurfObjectsStream(FILE* file, SurfList* list) {
    if (file == nullptr || list == nullptr) return 0;
    char buf[kKvxLineSize];
    Word word;
    while (readRawLine(file, buf)) {
        if (std::strlen(buf) < 5 || buf[0] != 'o') continue;
        kvxBlankBrackets(buf);
        if (std::sscanf(buf, "%1023s", word) != 1) continue;
        if (std::strcmp(word, "oBsplSrf") != 0 && std::strcmp(word, "oPipeSrf") != 0) continue;
        TrimSurface rec;
        if (kvxReadTrimSurface(file, &rec) != 0) return -1;
        if (surfListAppend(list, &rec) < 0) {
            kvxFreeTrimSurface(&rec);
            return -1;
        }
    }
    return 1;
}

namespace {

// Only the surfaces of this read move: a list that held surfaces before keeps them where they are.
int readMapped(FILE* file, SurfList* list, int toFrame) {
    const int32_t first = list->count;
    const int rc = readSurfObjectsStream(file, list);
    std::fclose(file);
    if (toFrame)
        for (int32_t i = first; i < list->count; ++i) surfToFrameM1(&list->entries[i]);
    return rc;
}

}  // namespace

int readSurfObjects(const char* path, SurfList* list) {
    if (path == nullptr || list == nullptr) return 0;
    const int toFrame = framePairGetFlag(2);
    FILE* file = std::fopen(path, "r");
    if (file == nullptr) return -1;
    return readMapped(file, list, toFrame);
}

int readSurfObjectsBuffer(const void* data, size_t size, SurfList* list) {
    if (list == nullptr || (data == nullptr && size > 0)) return 0;
    if (size == 0) return 1;  // nothing to read; a zero-sized memory stream cannot be opened
    const int toFrame = framePairGetFlag(2);
    FILE* file = fmemopen(const_cast<void*>(data), size, "r");
    if (file == nullptr) return -1;
    return readMapped(file, list, toFrame);
}
