// The iso-line file: blocks appended over the life of the process, and the reader.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "geometry/frames.h"
#include "geometry/textscan.h"
#include "kernel/base/msg.h"
#include "kernel/base/runreset.h"
#include "surfaces/KVWISO/surfiso.h"
#include "surfaces/meshfiles/bndfile.h"

namespace {

constexpr int kIsoLineMax = 256;

// Block numbers run over the whole process: the caller removes the file before a run, and the
// first block of the process creates it.
int32_t g_bndCount = 0;
int32_t g_groupNo = 0;
int32_t g_groupWritten = 0;

// A line of at most kIsoLineMax - 1 characters; the rest of a longer one is the next piece.
bool readPiece(std::FILE* f, char* buf) {
    if (std::fgets(buf, kIsoLineMax, f) == nullptr) return false;
    size_t n = std::strlen(buf);
    while (n > 0 && (buf[n - 1] == '\n' || buf[n - 1] == '\r')) buf[--n] = '\0';
    return true;
}

bool startsWith(const char* line, const char* word) {
    return std::strncmp(line, word, std::strlen(word)) == 0;
}

bool blank(const char* line) {
    for (; *line; ++line)
        if (*line != ' ' && *line != '\t') return false;
    return true;
}

void isoPointToFrame(IsoPoint* p) {
    Vec3 q{p->x, p->y, p->z}, n{p->a, p->b, p->c};
    framePairToM1(&q);
    framePairToM2(&n);
    *p = IsoPoint{p->u, p->v, q.x, q.y, q.z, n.x, n.y, n.z};
}

IsoCurve* newCurve(int32_t capacity, int32_t group) {
    auto* c = static_cast<IsoCurve*>(std::calloc(1, sizeof(IsoCurve)));
    if (c == nullptr) return nullptr;
    const size_t n = static_cast<size_t>(capacity);
    c->capacity = capacity;
    c->group = group;
    c->points = static_cast<Vec3*>(std::calloc(n, sizeof(Vec3)));
    c->normals = static_cast<Vec3*>(std::calloc(n, sizeof(Vec3)));
    c->uv = static_cast<Vec2*>(std::calloc(n, sizeof(Vec2)));
    if (c->points == nullptr || c->normals == nullptr || c->uv == nullptr) {
        freeIsoCurves(c);
        return nullptr;
    }
    return c;
}

template <typename T>
void reverseArray(T* a, int32_t n) {
    for (int32_t i = 0, j = n - 1; i < j; ++i, --j) {
        const T t = a[i];
        a[i] = a[j];
        a[j] = t;
    }
}

// The block's points up to "**END": 1, or -1 for a bad line, too many points or no end.
int isoReadCurve(std::FILE* f, IsoCurve* c) {
    char line[kIsoLineMax];
    const bool mirror = framePairGetFlag(kFramePairPointFiles) != 0;
    while (readPiece(f, line)) {
        if (blank(line)) continue;
        if (startsWith(line, "**END")) {
            if (c->count == 2 && std::fabs(c->points[0].x - c->points[1].x) < 0.001 &&
                std::fabs(c->points[0].y - c->points[1].y) < 0.001 &&
                std::fabs(c->points[0].z - c->points[1].z) < 0.001)
                c->count = 0;
            return 1;
        }
        double v[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        static const char letters[] = "XYZABCUV";
        for (int k = 0; k < 8; ++k) {
            if (parseNumAfter(letters[k], line, &v[k]) != 1 && k < 3) return -1;
        }
        Vec3 n{v[3], v[4], v[5]};
        const double len = vecLen3D(&n);
        if (!(len >= 1e-5)) continue;
        if (c->count >= c->capacity) return -1;
        n = Vec3{n.x / len, n.y / len, n.z / len};
        Vec3 p{v[0], v[1], v[2]}, o{0, 0, 0};
        if (mirror) {
            framePairToM1(&p);
            framePairToM1(&n);
            framePairToM1(&o);
        }
        pointWorldToFrameA(&p);
        pointWorldToFrameA(&n);
        pointWorldToFrameA(&o);
        n = Vec3{n.x - o.x, n.y - o.y, n.z - o.z};
        // Frame A carries the length unit as its scale; the normal stays a unit vector.
        const double nl = vecLen3D(&n);
        if (nl > 0.0) n = Vec3{n.x / nl, n.y / nl, n.z / nl};
        c->points[c->count] = p;
        c->normals[c->count] = n;
        c->uv[c->count] = Vec2{v[6], v[7]};
        ++c->count;
    }
    return -1;
}

}  // namespace

void isoNewGroup() {
    ++g_groupNo;
}

void isoResetState() {
    g_bndCount = 0;
    g_groupNo = 0;
    g_groupWritten = 0;
}
static const LoadReset gLoadReset(kRunResetSurfaces, "iso", isoResetState);

int isoWriteBnd(const Rec64List* line, const char* outPath) {
    if (line == nullptr) return 0;
    if (outPath == nullptr) return -1;
    std::FILE* f = std::fopen(outPath, g_bndCount == 0 ? "w" : "a+");
    if (f == nullptr) return -1;
    if (g_groupNo != g_groupWritten) {
        std::fprintf(f, "\n**GROUP %d\n", g_groupNo);
        g_groupWritten = g_groupNo;
    }
    ++g_bndCount;
    std::fprintf(f, "\n**BND %d\n", g_bndCount);
    const bool toFrame = framePairGetFlag(kFramePairSurfaces) != 0;
    for (int32_t i = 0; i < line->count; ++i) {
        IsoPoint p;
        std::memcpy(&p, &line->data[i], sizeof p);
        if (toFrame) isoPointToFrame(&p);
        std::fprintf(f, "X%lf Y%lf Z%lf A%lf B%lf C%lf U%lf V%lf\n", p.x, p.y, p.z, p.a, p.b, p.c, p.u, p.v);
    }
    std::fprintf(f, "**END\n");
    return std::fclose(f) == 0 ? 1 : -1;
}

int isoFileCountBnd(const char* path) {
    if (path == nullptr) return -1;
    std::FILE* f = std::fopen(path, "r");
    if (f == nullptr) return -1;
    char line[kIsoLineMax];
    int n = 0;
    while (readPiece(f, line))
        if (startsWith(line, "**BND")) ++n;
    std::fclose(f);
    return n;
}

void freeIsoCurves(IsoCurve* list) {
    while (list != nullptr) {
        IsoCurve* next = list->next;
        std::free(list->points);
        std::free(list->normals);
        std::free(list->uv);
        std::free(list);
        list = next;
    }
}

IsoCurve* readIsoCurveGroups(const char* path, int reverse, int prepend) {
    const int blocks = isoFileCountBnd(path);
    if (blocks <= 0) return nullptr;
    std::vector<BndPair> pairs;
    try {
        pairs.resize(static_cast<size_t>(blocks));
    } catch (const std::bad_alloc&) {
        msgLong(9, 895, "* Error reading iso curve %d", 0);
        return nullptr;
    }
    int32_t lines = 0;
    const int counted = bnd_read(path, pairs.data(), blocks, &lines);
    std::FILE* f = std::fopen(path, "r");
    IsoCurve* head = nullptr;
    IsoCurve* tail = nullptr;
    int32_t started = 0, group = 0;
    bool failed = f == nullptr || counted < 0;
    char line[kIsoLineMax];
    while (!failed && readPiece(f, line)) {
        if (startsWith(line, "**GROUP")) {
            ++group;
        } else if (startsWith(line, "**BND")) {
            // The counter saw blocks closed by "**END"; an unclosed one gets no room and fails.
            const int32_t room = started < counted ? pairs[static_cast<size_t>(started)].count : 0;
            ++started;
            IsoCurve* c = newCurve(room + 1, group);
            if (c == nullptr) {
                failed = true;
                break;
            }
            if (prepend) {
                c->next = head;
                head = c;
                if (tail == nullptr) tail = c;
            } else {
                if (tail != nullptr) tail->next = c;
                tail = c;
                if (head == nullptr) head = c;
            }
            if (isoReadCurve(f, c) != 1) failed = true;
        }
    }
    if (f != nullptr) std::fclose(f);
    if (failed) {
        msgLong(9, 895, "* Error reading iso curve %d", started);
        freeIsoCurves(head);
        return nullptr;
    }
    if (reverse)
        for (IsoCurve* c = head; c != nullptr; c = c->next) {
            reverseArray(c->points, c->count);
            reverseArray(c->normals, c->count);
            reverseArray(c->uv, c->count);
        }
    return head;
}
