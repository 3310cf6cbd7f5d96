// Boundary files: the block writer, the geometry-file walk and the block counter.
#include "surfaces/meshfiles/bndfile.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "geometry/frames.h"
#include "kernel/base/cfgfile.h"
#include "kernel/base/constants.h"
#include "kernel/base/runreset.h"
#include "kernel/base/kvx/kvxfile.h"
#include "kernel/base/kvx/kvxobj.h"
#include "kernel/base/tempname.h"

namespace {

constexpr int kBndLineMax = 129;

std::FILE* g_file = nullptr;
bool g_firstWritten = false;
int32_t g_counter[kBndKinds] = {};
std::string g_folder;
double g_arcStep = 0.0;  // degrees
int g_sideOutput = 0;
int g_plungeOutput = 0;

// Kinds that share a file share its running numbers.
int32_t counterSlot(int32_t kind) {
    if (kind == kBndProfile4) return kBndProfile;
    if (kind == kBndSegment) return kBndSynch;
    return kind;
}

const char* extension(int32_t kind, int which) {
    switch (kind) {
        case kBndBoundary:
            return ".bnd";
        case kBndProfile:
        case kBndProfile4:
            return which == 2 ? ".pr2" : ".prf";
        case kBndSynch:
        case kBndSegment:
            return ".snc";
        case kBndInclination:
            return ".trc";
        default:
            return nullptr;
    }
}

const char* header(int32_t kind) {
    switch (kind) {
        case kBndBoundary:
            return "**BND";
        case kBndSynch:
        case kBndSegment:
            return "**SYN";
        default:
            return "**PRF";
    }
}

// Frame A to world, then out of the mirror image when point files pass through it.
void toWorld(double x, double y, double z, Vec3* out) {
    *out = Vec3{x, y, z};
    pointFrameAToWorld(out);
    if (framePairGetFlag(kFramePairPointFiles)) framePairToInvM1(out);
}

void putPoint(double x, double y, double z) {
    Vec3 p;
    toWorld(x, y, z, &p);
    std::fprintf(g_file, "X%.6lf Y%.6lf Z%.6lf\n", p.x, p.y, p.z);
}

}  // namespace

void writeBoundarySetFolder(const char* folder) {
    g_folder = folder != nullptr ? folder : "";
}

void writeBoundarySetArcStep(double degrees) {
    g_arcStep = degrees;
}

void writeBoundarySetSideOutput(int on) {
    g_sideOutput = on != 0;
}

void writeBoundarySetPlungeOutput(int on) {
    g_plungeOutput = on != 0;
}

void writeBoundaryFileName(int32_t kind, int which, char* out, int32_t size) {
    if (out == nullptr || size < 1) return;
    out[0] = '\0';
    const char* ext = extension(kind, which);
    if (ext == nullptr) return;
    char name[kTempNameSize];
    tempFileName(name, g_folder.c_str(), ext);
    if (static_cast<int32_t>(std::strlen(name)) < size) std::strcpy(out, name);
}

int writeBoundaryHeader(int32_t kind) {
    if (kind <= kBndNone || kind >= kBndKinds) return kind == kBndNone ? 1 : 0;
    if (g_file != nullptr) writeBoundaryEnd();
    const int32_t slot = counterSlot(kind);
    const int32_t n = ++g_counter[slot];
    g_firstWritten = false;
    const bool profile = slot == kBndProfile;
    if (profile && n > 2) return 1;  // a third profile has no file
    char name[kTempNameSize];
    writeBoundaryFileName(kind, profile ? n : 1, name, sizeof name);
    if (name[0] == '\0') return 0;
    g_file = std::fopen(name, profile || n == 1 ? "w" : "a+");
    if (g_file == nullptr) return 0;
    std::fprintf(g_file, "%s %d\n", header(kind), profile ? 1 : n);
    return 1;
}

void writeBoundaryPoint(double x0, double y0, double z0, double x1, double y1, double z1) {
    if (g_file == nullptr) return;
    if (!g_firstWritten) putPoint(x0, y0, z0);
    g_firstWritten = true;
    putPoint(x1, y1, z1);
}

void writeBoundaryPointDir(double x, double y, double z, double dx, double dy, double dz) {
    if (g_file == nullptr) return;
    Vec3 p, d;
    toWorld(x, y, z, &p);
    toWorld(dx, dy, dz, &d);
    std::fprintf(g_file, "x%.6lf y%.6lf z%.6lf X%.6lf Y%.6lf Z%.6lf\n", p.x, p.y, p.z, d.x, d.y, d.z);
    g_firstWritten = true;
}

void writeBoundaryArc(int direction, const Vec2* start, const Vec2* end, double z, const Vec2* centre) {
    if (start == nullptr || end == nullptr || centre == nullptr) return;
    const double rx = start->x - centre->x, ry = start->y - centre->y;
    const double r = std::sqrt(rx * rx + ry * ry);
    if (!(r >= 0.0001)) return;
    double stepDeg = g_arcStep;
    if (r >= 1000.0) stepDeg /= 10.0;
    double step = std::fabs(stepDeg) * kDegToRad;
    if (!(step >= 0.001)) step = 0.001;
    double sweep = turnAngle2D(start->x, start->y, centre->x, centre->y, end->x, end->y) + kPi;
    // Start and end in one place is a whole turn, not the half turn the angle of two opposite
    // radii would give.
    if (std::fabs(end->x - start->x) < 1e-9 && std::fabs(end->y - start->y) < 1e-9) sweep = 2 * kPi;
    if (direction < 0) sweep -= 2 * kPi;
    const double limit = std::fabs(sweep) - 0.0001;
    double px = start->x, py = start->y;
    for (double turned = step; turned < limit; turned += step) {
        const double a = sweep < 0 ? -turned : turned;
        const double c = std::cos(a), s = std::sin(a);
        const double nx = centre->x + c * rx - s * ry, ny = centre->y + s * rx + c * ry;
        writeBoundaryPoint(px, py, z, nx, ny, z);
        px = nx;
        py = ny;
    }
    writeBoundaryPoint(px, py, z, end->x, end->y, z);
}

void writeBoundarySide(int side) {
    if (g_file == nullptr || !g_sideOutput) return;
    const char c = side == -1 ? 'R' : side == 0 ? 'C' : side == 1 ? 'L' : '\0';
    if (c != '\0') std::fprintf(g_file, "**SIDE %c\n", c);
}

void writeBoundaryPlunge(const Vec2* point) {
    if (g_file == nullptr || !g_plungeOutput || point == nullptr) return;
    std::fprintf(g_file, "**PLUNGE X%.6lf Y%.6lf\n", point->x, point->y);
}

void writeBoundaryEnd() {
    if (g_file == nullptr) return;
    std::fprintf(g_file, "**END\n");
    std::fclose(g_file);
    g_file = nullptr;
    g_firstWritten = false;
}

int parseXyPair(const char* text, double out[2]) {
    if (text == nullptr || out == nullptr) return 0;
    const char* sep = std::strchr(text, ',');
    if (sep == nullptr) sep = std::strchr(text, '/');
    if (sep == nullptr) return 0;
    out[0] = std::atof(text);
    out[1] = std::atof(sep + 1);
    return 1;
}

void writeBoundaryResetState() {
    if (g_file != nullptr) std::fclose(g_file);
    g_file = nullptr;
    g_firstWritten = false;
    for (int32_t& c : g_counter) c = 0;
    g_folder.clear();
    g_arcStep = 0.0;
    g_sideOutput = g_plungeOutput = 0;
}
static const RunReset gRunReset(kRunResetSurfaces, "writeBoundary", writeBoundaryResetState);

namespace {

// One slot of a names block as a number; an empty slot takes the fallback.
bool slotValue(const char* text, double fallback, double* out) {
    if (text[0] == '\0') {
        *out = fallback;
        return true;
    }
    char* end = nullptr;
    *out = std::strtod(text, &end);
    return end != text && std::isfinite(*out);
}

// Rows of start, end and centre from the element's x, y and z parameters ("start/end/centre").
bool elementRows(const KvxRecord* record, const Vec3& lastEnd, KvxNames* names, Vec3 rows[3]) {
    kvxNamesSet(names, "", "", "");
    kvxRecordToNames(names, record);
    const double fallback[3] = {lastEnd.x, lastEnd.y, lastEnd.z};
    double v[3][3];
    for (int row = 0; row < 3; ++row)
        for (int a = 0; a < 3; ++a)
            if (!slotValue(names->names[1 + 3 * row + a], fallback[a], &v[row][a])) return false;
    for (int row = 0; row < 3; ++row) rows[row] = Vec3{v[row][0], v[row][1], v[row][2]};
    return true;
}

int32_t blockKind(const char* type) {
    static const struct {
        const char* name;
        int32_t kind;
    } table[] = {{"boundary", kBndBoundary},
                 {"profile", kBndProfile},
                 {"synch", kBndSynch},
                 {"inclination", kBndInclination},
                 {"segment", kBndSegment}};
    for (const auto& t : table)
        if (std::strcmp(type, t.name) == 0) return t.kind;
    return kBndNone;
}

struct GeometryWalk {
    int32_t level = 1;
    int32_t blockLevel = 0;  // the scope level that opened the block; 0 without a block
    int32_t kind = kBndNone;
    int32_t contourLevel = 0;  // inside a Contour object's scope while level >= this
    bool contourPending = false;
    Vec3 lastEnd{0, 0, 0};
    double* surface = nullptr;
    double* depth = nullptr;

    void endBlock() {
        if (blockLevel > 0) writeBoundaryEnd();
        blockLevel = 0;
        kind = kBndNone;
    }

    bool value(const KvxRecord* r) {
        const char* name = r->name != nullptr ? r->name : "";
        const char* val = r->id != nullptr ? r->id : "";
        if (std::strcmp(name, "surface") == 0 && surface != nullptr) *surface = std::atof(val);
        if (std::strcmp(name, "depth") == 0 && depth != nullptr) *depth = std::atof(val);
        if (std::strcmp(name, "sideOfCompensation") == 0)
            writeBoundarySide(std::strcmp(val, "rightOfContour") == 0  ? -1
                              : std::strcmp(val, "leftOfContour") == 0 ? 1
                                                                       : 0);
        if (std::strcmp(name, "plungePoint") == 0) {
            double xy[2];
            if (parseXyPair(val, xy)) {
                const Vec2 p{xy[0], xy[1]};
                writeBoundaryPlunge(&p);
            }
        }
        if (std::strcmp(name, "3Dtype") == 0) {
            endBlock();
            kind = blockKind(val);
            if (kind != kBndNone) {
                if (writeBoundaryHeader(kind) != 1) return false;
                blockLevel = level;
                lastEnd = Vec3{0, 0, 0};
            }
        }
        return true;
    }

    bool element(const KvxRecord* r, KvxNames* names) {
        const char* name = r->name != nullptr ? r->name : "";
        if (contourLevel == 0 || blockLevel == 0 || name[1] != '\0') return true;
        if (name[0] != 'L' && name[0] != 'A' && name[0] != 'P') return true;
        Vec3 rows[3];
        if (!elementRows(r, lastEnd, names, rows)) return false;
        const Vec3 &s = rows[0], &e = rows[1];
        if (name[0] == 'L') {
            if (kind == kBndSynch || kind == kBndSegment)
                writeBoundaryPointDir(s.x, s.y, s.z, e.x, e.y, e.z);
            else
                writeBoundaryPoint(s.x, s.y, s.z, e.x, e.y, e.z);
            lastEnd = e;
        } else if (name[0] == 'A') {
            const Vec2 a{s.x, s.y}, b{e.x, e.y}, c{rows[2].x, rows[2].y};
            writeBoundaryArc(names->names[0][0] == '-' ? -1 : 1, &a, &b, s.z, &c);
            lastEnd = e;
        } else {
            // A single point: written once, and the next element starts from it.
            writeBoundaryPoint(s.x, s.y, s.z, s.x, s.y, s.z);
            lastEnd = s;
        }
        return true;
    }
};

}  // namespace

int writeBoundaryFromFile(const char* geometryFile, double* surface, double* depth) {
    if (geometryFile == nullptr || geometryFile[0] == '\0') return -1;
    KvxHeader head{};
    std::FILE* file = kvxOpen(geometryFile, &head);
    if (file == nullptr) return -1;
    KvxObjData* data = kvxObjCreate();
    if (data == nullptr) {
        cfgFileClose(file);
        kvxHeaderFree(&head);
        return -1;
    }
    for (int32_t& c : g_counter) c = 0;
    GeometryWalk walk;
    walk.surface = surface;
    walk.depth = depth;
    KvxRecord record{};
    record.bodyStart = record.bodyEnd = -1;
    KvxNames names;
    bool ok = true;
    while (ok && kvxReadRecord(file, &record) == 1) {
        switch (record.type) {
            case 'v':
                kvxObjSetAttr(data, record.name, record.id);
                ok = walk.value(&record);
                break;
            case 'o':
            case 'm':
                if (record.name != nullptr && std::strcmp(record.name, "Contour") == 0) {
                    walk.contourPending = true;
                    break;
                }
                ok = walk.element(&record, &names);
                break;
            case '{':
                kvxObjPushLevel(data);
                ++walk.level;
                if (walk.contourPending) walk.contourLevel = walk.level;
                walk.contourPending = false;
                break;
            case '}':
                kvxObjPopLevel(data);
                --walk.level;
                if (walk.contourLevel > walk.level) walk.contourLevel = 0;
                if (walk.blockLevel > walk.level) walk.endBlock();
                break;
            default:
                break;
        }
    }
    walk.endBlock();
    kvxRecordReset(&record);
    kvxObjFree(data);
    cfgFileClose(file);
    kvxHeaderFree(&head);
    return ok ? 1 : -1;
}

int bnd_read(const char* fileName, BndPair* pairs, int32_t capacity, int32_t* lines) {
    if (lines != nullptr) *lines = 0;
    if (fileName == nullptr || fileName[0] == '\0') return -1;
    std::FILE* f = std::fopen(fileName, "rb");
    if (f == nullptr) return -1;
    if (pairs != nullptr)
        for (int32_t i = 0; i < capacity; ++i) pairs[i] = BndPair{0, 0};
    int32_t nBnd = 0, nCln = 0, nLines = 0, points = 0;
    int open = 0;  // 1 "**BND", 2 "**CLN"
    std::string line;
    try {
        line.reserve(kBndLineMax);  // the line is cut there, so it never grows past it
    } catch (const std::bad_alloc&) {
        std::fclose(f);
        return -1;
    }
    bool more = true;
    while (more && nBnd < capacity && nCln < capacity) {
        line.clear();
        int ch;
        while ((ch = std::fgetc(f)) != EOF && ch != '\n') {
            if (static_cast<int>(line.size()) < kBndLineMax) line.push_back(static_cast<char>(ch));
        }
        if (ch == EOF && line.empty()) break;
        more = ch != EOF;
        ++nLines;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
            line.pop_back();
        char word[16] = {};
        std::sscanf(line.c_str(), "%15s", word);
        if (std::strcmp(word, "**BND") == 0) {
            open = 1;
            points = 0;
        } else if (std::strcmp(word, "**CLN") == 0) {
            open = 2;
            points = 0;
        } else if (std::strcmp(word, "**END") == 0) {
            if (open == 1 && pairs != nullptr) pairs[nBnd].count = points;
            if (open == 2 && pairs != nullptr) pairs[nCln].second = points;
            if (open == 1) ++nBnd;
            if (open == 2) ++nCln;
            open = 0;
        } else if (open != 0 && word[0] != '\0') {
            // A blank line inside a block is no point.
            ++points;
        }
    }
    // The line count covers the whole file even when the blocks filled the table early.
    int ch;
    int tail = 0;
    while ((ch = std::fgetc(f)) != EOF) {
        tail = 1;
        if (ch == '\n') {
            ++nLines;
            tail = 0;
        }
    }
    nLines += tail;
    std::fclose(f);
    if (lines != nullptr) *lines = nLines;
    return nBnd;
}
