// Contour objects: line and arc elements collected per contour and mapped through the frame.
#include "surfaces/kvxcontour.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "geometry/frames.h"
#include "geometry/mat4.h"
#include "geometry/vec.h"
#include "kernel/base/cfgfile.h"
#include "kernel/base/constants.h"
#include "kernel/base/kvx/kvxfile.h"
#include "kernel/base/kvx/kvxobj.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"

namespace {

Vec3 g_csO{0, 0, 0};
Vec3 g_csX{1, 0, 0};
Vec3 g_csY{0, 1, 0};
Vec3 g_csZ{0, 0, 1};
bool g_viaFramePair = false;  // read once per file

int append(PointList3D* points, Vec3 p) {
    if (g_viaFramePair) {
        framePairToM1(&p);
        pointWorldToFrameA(&p);
    }
    return pointList3DAdd(points, &p) >= 0 ? 1 : 0;
}

// One slot of a names block as a number; an empty slot takes the fallback.
bool slotNumber(const char* text, double fallback, double* out) {
    if (text[0] == '\0') {
        *out = fallback;
        return true;
    }
    return std::sscanf(text, "%lf", out) == 1;
}

struct Reading {
    ProfileCurve* first = nullptr;
    ProfileCurve* last = nullptr;
    PointList3D* points = nullptr;
    char* id = nullptr;
    bool open = false;  // a contour started (its point list may have failed)
    Vec3 lastEnd{0, 0, 0};
    double surface = 0.0;
    double depth = 0.0;

    void dropContour() {
        pointList3DFree(points);
        points = nullptr;
        std::free(id);
        id = nullptr;
        open = false;
    }

    // False when memory for the profile could not be had: the contour is lost, so is the read.
    bool closeContour() {
        bool kept = true;
        if (open && points != nullptr) {
            ProfileCurve* profile = kvxContourToFrame(points, surface, depth);
            kept = profile != nullptr;
            if (profile != nullptr) {
                if (g_viaFramePair && framePairGetMode() < 0) profileReverse(profile);
                std::snprintf(profile->name, sizeof profile->name, "%s", id != nullptr ? id : "");
                if (last == nullptr)
                    first = profile;
                else
                    last->next = profile;
                last = profile;
            }
        }
        dropContour();
        return kept;
    }
};

// The element's points: rows of start, end (and centre) from the x, y, z parameters.
bool elementPoints(const KvxRecord* record, const Vec3& lastEnd, KvxNames* names, Vec3* start, Vec3* end,
                   Vec2* centre) {
    kvxNamesSet(names, "", "", "");
    kvxRecordToNames(names, record);
    const double fallback[3] = {lastEnd.x, lastEnd.y, lastEnd.z};
    double v[3][3];
    for (int row = 0; row < 3; ++row) {
        for (int a = 0; a < 3; ++a) {
            if (!slotNumber(names->names[1 + 3 * row + a], fallback[a], &v[row][a])) return false;
        }
    }
    *start = Vec3{v[0][0], v[0][1], v[0][2]};
    *end = Vec3{v[1][0], v[1][1], v[1][2]};
    if (centre != nullptr) *centre = Vec2{v[2][0], v[2][1]};
    return true;
}

void setVariable(Reading* r, const KvxRecord* record) {
    if (record->name == nullptr || record->id == nullptr) return;
    const char* name = record->name;
    if (std::strcmp(name, "surface") == 0) r->surface = std::atof(record->id);
    if (std::strcmp(name, "depth") == 0) r->depth = std::atof(record->id);
    Vec3* target = std::strcmp(name, "Cs_o") == 0   ? &g_csO
                   : std::strcmp(name, "Cs_x") == 0 ? &g_csX
                   : std::strcmp(name, "Cs_y") == 0 ? &g_csY
                   : std::strcmp(name, "Cs_z") == 0 ? &g_csZ
                                                    : nullptr;
    if (target != nullptr) parseXyzTriple(record->id, target);
}

}  // namespace

int parseXyzTriple(const char* text, Vec3* out) {
    if (text == nullptr || out == nullptr) return -1;
    const char* c1 = std::strchr(text, ',');
    if (c1 == nullptr) return -1;
    const char* c2 = std::strchr(c1 + 1, ',');
    if (c2 == nullptr) return -1;
    *out = Vec3{std::atof(text), std::atof(c1 + 1), std::atof(c2 + 1)};
    return 1;
}

int kvxContourAddLine(double x1, double y1, double z1, double x2, double y2, double z2, PointList3D* points) {
    if (points == nullptr) return 0;
    if (points->count == 0 && !append(points, Vec3{x1, y1, z1})) return 0;
    return append(points, Vec3{x2, y2, z2});
}

int kvxContourAddArc(PointList3D* points, double tolerance, const Vec2* start, const Vec2* end, double z,
                     const Vec2* centre, int sense) {
    if (points == nullptr || start == nullptr || end == nullptr || centre == nullptr) return 0;
    const double rx = start->x - centre->x, ry = start->y - centre->y;
    const double radius = std::sqrt(rx * rx + ry * ry);
    if (radius < 1e-4) return 1;
    double sweep = turnAngle2D(start->x, start->y, centre->x, centre->y, end->x, end->y) + kPi;
    if (sense < 0) sweep -= 2 * kPi;
    double step = 2 * acosClamped((radius - tolerance) / radius);
    if (!(step >= 0.001)) step = 0.001;  // also when the tolerance is not a number
    if (sense < 0) step = -step;
    Vec3 prev{start->x, start->y, z};
    const double limit = std::fabs(sweep) - 1e-4;
    for (double turned = std::fabs(step); turned < limit; turned += std::fabs(step)) {
        const double a = (sense < 0 ? -turned : turned);
        const double c = std::cos(a), s = std::sin(a);
        const Vec3 next{centre->x + c * rx - s * ry, centre->y + s * rx + c * ry, z};
        if (!kvxContourAddLine(prev.x, prev.y, prev.z, next.x, next.y, next.z, points)) return 0;
        prev = next;
    }
    return kvxContourAddLine(prev.x, prev.y, prev.z, end->x, end->y, z, points);
}

ProfileCurve* kvxContourToFrame(const PointList3D* points, double surface, double depth) {
    if (points == nullptr) return nullptr;
    const int32_t n = points->count;
    Mat4 axes, move, m;
    mat4FromAxes(&g_csX, &g_csY, &g_csZ, &axes);
    mat4Translation(&g_csO, &move);
    mat4Mult(&axes, &move, &m);
    auto* xy = static_cast<Vec2*>(std::malloc(sizeof(Vec2) * static_cast<size_t>(n > 0 ? n : 1)));
    auto* z = static_cast<double*>(std::malloc(sizeof(double) * static_cast<size_t>(n > 0 ? n : 1)));
    if (xy == nullptr || z == nullptr) {
        std::free(xy);
        std::free(z);
        return nullptr;
    }
    for (int32_t i = 0; i < n; ++i) {
        Vec3 q;
        mat4XformPoint(&points->data[i], &m, &q);
        xy[i] = Vec2{q.x, q.y};
        z[i] = q.z;
    }
    ProfileCurve* profile = profileCreate(xy, n, kProfilePoints);
    if (profile == nullptr) {
        std::free(xy);
        std::free(z);
        return nullptr;
    }
    profile->ownsPoints = 1;
    profile->z = z;
    profile->fitStart = surface;
    profile->fitEnd = surface - depth;
    return profile;
}

ProfileCurve* readKvxContour(const char* path, double tolerance) {
    KvxHeader header{};
    FILE* file = kvxOpen(path, &header);
    if (file == nullptr) return nullptr;
    KvxObjData* data = kvxObjCreate();
    if (data == nullptr) {
        cfgFileClose(file);
        kvxHeaderFree(&header);
        return nullptr;
    }
    g_viaFramePair = framePairGetFlag(kFramePairContours) != 0;
    Reading r;
    bool failed = false;
    KvxRecord record{};
    record.bodyStart = record.bodyEnd = -1;
    KvxNames names;
    // The record reader ends as at the file's end when memory fails; it reports a fault then.
    const uint32_t faults = msgFaultCount();
    while (!failed && kvxReadRecord(file, &record) == 1) {
        const char* name = record.name != nullptr ? record.name : "";
        switch (record.type) {
            case 'o':
                if (std::strcmp(name, "Contour") == 0) {
                    // A contour without its closing "}" still keeps what it collected.
                    if (r.open && !r.closeContour()) {
                        failed = true;
                        break;
                    }
                    r.open = true;
                    r.lastEnd = Vec3{0, 0, 0};
                    r.id = strdup(record.id != nullptr ? record.id : "");
                    r.points = pointList3DCreate(kKvxContourFirstCapacity);
                    failed = r.id == nullptr || r.points == nullptr;
                } else if (std::strcmp(name, "L") == 0 || std::strcmp(name, "A") == 0) {
                    const bool arc = name[0] == 'A';
                    Vec3 start, end;
                    Vec2 centre;
                    if (!r.open ||
                        !elementPoints(&record, r.lastEnd, &names, &start, &end, arc ? &centre : nullptr)) {
                        failed = true;
                        break;
                    }
                    // A point list that cannot grow fails the read: a contour short of points is no contour.
                    if (arc) {
                        const int sense = names.names[0][0] == '-' ? -1 : 1;
                        const Vec2 s{start.x, start.y}, e{end.x, end.y};
                        failed = kvxContourAddArc(r.points, tolerance, &s, &e, start.z, &centre, sense) == 0;
                    } else {
                        failed =
                            kvxContourAddLine(start.x, start.y, start.z, end.x, end.y, end.z, r.points) == 0;
                    }
                    r.lastEnd = end;
                }
                break;
            case 'v':
                kvxObjSetAttr(data, record.name, record.id);
                setVariable(&r, &record);
                break;
            case '{':
                failed = kvxObjPushLevel(data) != 1;
                break;
            case '}':
                kvxObjPopLevel(data);
                failed = !r.closeContour();
                break;
            default:
                break;
        }
    }
    kvxRecordReset(&record);
    failed = failed || msgFaultCount() != faults;
    if (!failed && r.open) failed = !r.closeContour();
    r.dropContour();
    kvxObjFree(data);
    cfgFileClose(file);
    kvxHeaderFree(&header);
    if (failed) {
        profileFreeList(r.first);
        return nullptr;
    }
    return r.first;
}

void kvxContourResetState() {
    g_csO = Vec3{0, 0, 0};
    g_csX = Vec3{1, 0, 0};
    g_csY = Vec3{0, 1, 0};
    g_csZ = Vec3{0, 0, 1};
    g_viaFramePair = false;
}
static const RunReset gRunReset(kRunResetSurfaces, "kvxContour", kvxContourResetState);
