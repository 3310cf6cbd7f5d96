// Polyhedron objects, point sets, faces and the coded coordinate and vertex streams.
#include "surfaces/meshfiles/polyread.h"

#include <strings.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "kernel/base/kvx/kvxevent.h"
#include "kernel/base/runreset.h"
#include "surfaces/meshfiles/chrtab.h"
#include "surfaces/meshfiles/pointsets.h"

namespace {

constexpr int kMaxFaceVertices = 32;
constexpr int kMaxDepth = 65534;  // deeper nesting would meet the "no level" mark

PolyFaceFilter g_filterA = nullptr;
PolyFaceFilter g_filterB = nullptr;

struct Vertex {
    int32_t set;
    int32_t point;
};

struct Reader {
    bool facets;  // reader A
    ChrTab tab;
    bool increment = false;
    bool codingChanged = false;
    PointSets* fileSets = nullptr;
    PointSets* polySets = nullptr;
    PointSets* current = nullptr;
    bool setOpen = false;
    int32_t openSet = 0;
    int setLevel = 0;
    PolyNode* open = nullptr;  // the Polyhedron whose scope is being read
    int polyLevel = 0;
    int depth = 0;
    Vec3 lastP{0, 0, 0};
    PolyNode* nodes = nullptr;
};

// Decimal integer filling the whole text (blanks around allowed); false otherwise.
bool decimalInt(const char* text, int32_t* out) {
    if (text == nullptr) return false;
    while (*text == ' ' || *text == '\t') ++text;
    char* end = nullptr;
    errno = 0;
    const long long v = std::strtoll(text, &end, 10);
    if (end == text || errno != 0 || v < INT32_MIN || v > INT32_MAX) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    *out = static_cast<int32_t>(v);
    return true;
}

bool decimalReal(const char* text, double* out) {
    if (text == nullptr) return false;
    char* end = nullptr;
    const double v = std::strtod(text, &end);
    if (end == text) return false;
    while (*end == ' ' || *end == '\t') ++end;
    if (*end != '\0') return false;
    *out = v;
    return true;
}

const char* paramValue(const KvxRecord* r, const char* key) {
    for (const KvxParam* p = r->params; p != nullptr; p = p->next)
        if (p->key != nullptr && std::strcmp(p->key, key) == 0) return p->value;
    return nullptr;
}

// Takes the attributes that changed since the last stream into use.
bool refreshCoding(Reader* rd, KvxObjData* data) {
    if (!rd->codingChanged) return true;
    char* table = kvxObjGetAttr(data, "chrTab");
    char* base = kvxObjGetAttr(data, "base");
    char* scale = kvxObjGetAttr(data, "scale");
    char* inc = kvxObjGetAttr(data, "increment");
    const bool ok = chrTabSetParams(&rd->tab, table, base, scale) == 1;
    rd->increment = inc != nullptr && strcasecmp(inc, "true") == 0;
    std::free(table);
    std::free(base);
    std::free(scale);
    std::free(inc);
    rd->codingChanged = !ok;
    return ok;
}

// The stream text of a method: its first parameter, or its body left in the file.
bool streamText(const KvxRecord* r, std::string* text) {
    if (r->params != nullptr) {
        *text = r->params->value != nullptr ? r->params->value : "";
        return true;
    }
    if (r->file == nullptr) return false;
    for (int c = getc(r->file); c != EOF && c != 26 && c != ')'; c = getc(r->file))
        *text += static_cast<char>(c);
    return true;
}

void closePolyhedron(Reader* rd) {
    if (rd->open == nullptr) return;
    if (!rd->facets) polyNodeResizeTriangles(rd->open);
    pointSetsFree(rd->polySets);
    rd->polySets = nullptr;
    rd->current = rd->fileSets;
    rd->open = nullptr;
    rd->setOpen = false;
}

// A face of distinct vertices: stored, ignored (fewer than 3), or 0 to stop the read.
int storeFace(Reader* rd, const Vertex* v, int n) {
    if (n < 3) return 1;
    Vec3 pts[kMaxFaceVertices];
    double x[kMaxFaceVertices], y[kMaxFaceVertices], z[kMaxFaceVertices];
    for (int i = 0; i < n; ++i) {
        if (!pointSetsGet(rd->current, v[i].set, v[i].point, &pts[i])) return 0;
        x[i] = pts[i].x;
        y[i] = pts[i].y;
        z[i] = pts[i].z;
    }
    if (rd->open == nullptr || n > 4) return 0;
    const PolyFaceFilter filter = rd->facets ? g_filterA : g_filterB;
    if (filter != nullptr && filter(n, x, y, z) == 0) return 1;
    return rd->facets ? polyNodeAddFacet(rd->open, pts, n) : polyNodeAddTriangles(rd->open, pts, n);
}

void addVertex(Vertex* v, int* n, Vertex add) {
    for (int i = 0; i < *n; ++i)
        if (v[i].set == add.set && v[i].point == add.point) return;
    if (*n < kMaxFaceVertices) v[(*n)++] = add;
}

int onValue(KvxRecord* r, KvxObjData* data, void* user) {
    auto* rd = static_cast<Reader*>(user);
    kvxDefaultValue(r, data, user);
    if (r->name != nullptr &&
        (std::strcmp(r->name, "chrTab") == 0 || std::strcmp(r->name, "base") == 0 ||
         std::strcmp(r->name, "scale") == 0 || std::strcmp(r->name, "increment") == 0)) {
        rd->codingChanged = true;
    }
    return 1;
}

int onOpen(KvxRecord* r, KvxObjData* data, void* user) {
    auto* rd = static_cast<Reader*>(user);
    if (rd->depth >= kMaxDepth || kvxDefaultOpen(r, data, user) != 1) return 0;
    ++rd->depth;
    return 1;
}

int onClose(KvxRecord* r, KvxObjData* data, void* user) {
    auto* rd = static_cast<Reader*>(user);
    kvxDefaultClose(r, data, user);
    // Attributes of the closed level are gone: the coding may have changed back.
    rd->codingChanged = true;
    if (rd->depth > 0) --rd->depth;
    if (rd->setOpen && rd->depth <= rd->setLevel) rd->setOpen = false;
    if (rd->open != nullptr && rd->depth <= rd->polyLevel) closePolyhedron(rd);
    return 1;
}

int onPolyhedron(KvxRecord* r, KvxObjData*, void* user) {
    auto* rd = static_cast<Reader*>(user);
    closePolyhedron(rd);
    int32_t nFace = 0;
    if (!decimalInt(paramValue(r, "nFace"), &nFace) || nFace < 0) nFace = 0;
    PolyNode* node = rd->facets ? polyNodeCreateFacets(r->id, nFace) : polyNodeCreateTriangles(r->id, nFace);
    PointSets* sets = pointSetsCreate();
    if (node == nullptr || sets == nullptr) {
        polyNodeFreeList(node);
        pointSetsFree(sets);
        return 0;
    }
    node->next = rd->nodes;
    rd->nodes = node;
    rd->open = node;
    rd->polyLevel = rd->depth;
    rd->polySets = sets;
    rd->current = sets;
    rd->setOpen = false;
    return 1;
}

int onPset(KvxRecord* r, KvxObjData*, void* user) {
    auto* rd = static_cast<Reader*>(user);
    int32_t n = 0;
    if (!decimalInt(r->id, &n) || !pointSetsReserve(rd->current, n)) return 0;
    rd->setOpen = true;
    rd->openSet = n;
    rd->setLevel = rd->depth;
    return 1;
}

int onPoint(KvxRecord* r, KvxObjData*, void* user) {
    auto* rd = static_cast<Reader*>(user);
    if (!rd->setOpen) return 1;
    int32_t j = 0;
    if (!decimalInt(r->id, &j)) return 0;
    Vec3 p = rd->lastP;
    const char* xyz[3] = {paramValue(r, "x"), paramValue(r, "y"), paramValue(r, "z")};
    double* out[3] = {&p.x, &p.y, &p.z};
    for (int a = 0; a < 3; ++a)
        if (xyz[a] != nullptr && !decimalReal(xyz[a], out[a])) return 0;
    if (!pointSetsPut(rd->current, rd->openSet, j, &p)) return 0;
    rd->lastP = p;
    return 1;
}

int onFace(KvxRecord* r, KvxObjData*, void* user) {
    auto* rd = static_cast<Reader*>(user);
    Vertex v[kMaxFaceVertices];
    int n = 0;
    Vertex prev{0, 0};
    for (const KvxParam* p = r->params; p != nullptr; p = p->next) {
        if (p->key == nullptr || std::strcmp(p->key, "vx") != 0) continue;
        const std::string text = p->value != nullptr ? p->value : "";
        const size_t slash = text.find('/');
        if (slash == std::string::npos) return 0;
        const std::string parts[2] = {text.substr(0, slash), text.substr(slash + 1)};
        int32_t nums[2] = {prev.set, prev.point};
        for (int k = 0; k < 2; ++k) {
            if (parts[k].find_first_not_of(" \t") == std::string::npos) continue;  // repeats the previous
            if (!decimalInt(parts[k].c_str(), &nums[k])) return 0;
        }
        prev = Vertex{nums[0], nums[1]};
        addVertex(v, &n, prev);
    }
    return storeFace(rd, v, n);
}

int onPointStream(KvxRecord* r, KvxObjData* data, void* user) {
    auto* rd = static_cast<Reader*>(user);
    int32_t set = 0;
    std::string text;
    if (!decimalInt(r->id, &set) || !refreshCoding(rd, data) || !streamText(r, &text)) return 0;
    double xyz[3];
    int have = 0;
    int32_t next = 1;
    Vec3 prev{0, 0, 0};
    const size_t n = text.size();
    for (size_t i = 0; i < n;) {
        const char c = text[i];
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            ++i;
            continue;
        }
        size_t end = i + 1;
        if (c != '*') {
            while (end < n && std::strchr(" \t\r\n*+-", text[end]) == nullptr && text[end] != '\0') ++end;
        }
        if (!chrTabToDouble(&rd->tab, text.data() + i, end - i, &xyz[have])) return 0;
        i = end;
        if (++have < 3) continue;
        have = 0;
        Vec3 p{xyz[0], xyz[1], xyz[2]};
        if (rd->increment && next > 1) p = Vec3{prev.x + p.x, prev.y + p.y, prev.z + p.z};
        if (!pointSetsPut(rd->current, set, next, &p)) return 0;
        prev = p;
        ++next;
    }
    return 1;
}

int onVertexStream(KvxRecord* r, KvxObjData* data, void* user) {
    auto* rd = static_cast<Reader*>(user);
    std::string text;
    if (!refreshCoding(rd, data) || !streamText(r, &text)) return 0;
    Vertex v[kMaxFaceVertices];
    int n = 0;
    int32_t prev[2] = {0, 0};
    int part = 0;  // 0 set, 1 point
    std::string token;
    bool pending = false;  // characters or a "/" seen since the last token
    auto endToken = [&]() -> bool {
        int32_t value = prev[part];
        if (!token.empty() && !chrTabToInt(&rd->tab, token.data(), token.size(), &value)) return false;
        prev[part] = value;
        if (part == 1) addVertex(v, &n, Vertex{prev[0], prev[1]});
        part ^= 1;
        token.clear();
        pending = false;
        return true;
    };
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '/') {
            if (!endToken()) return 0;
            pending = true;
            continue;
        }
        token += c;
        pending = true;
    }
    if ((pending || !token.empty()) && part == 1 && !endToken()) return 0;
    return storeFace(rd, v, n);
}

// The text handlers build strings: memory short for one refuses its record instead of throwing
// through the file parser.
template <int (*Handler)(KvxRecord*, KvxObjData*, void*)>
int refusedWhenShort(KvxRecord* r, KvxObjData* data, void* user) {
    try {
        return Handler(r, data, user);
    } catch (const std::bad_alloc&) {
        return 0;
    }
}

int readPolyhedron(const char* fileName, PolyNode** nodes, bool facets) {
    if (nodes != nullptr) *nodes = nullptr;
    Reader rd;
    rd.facets = facets;
    chrTabInit(&rd.tab);
    rd.fileSets = pointSetsCreate();
    rd.current = rd.fileSets;
    KvxHandlerTable* table =
        rd.fileSets != nullptr ? kvxHandlerTableCreate(&rd, onValue, onOpen, onClose) : nullptr;
    int result = kPolyReadNoTable;
    if (table != nullptr && kvxOnObject(table, "P", onPoint) == 1 &&
        kvxOnObject(table, "Face", refusedWhenShort<onFace>) == 1 &&
        kvxOnObject(table, "Pset", onPset) == 1 && kvxOnObject(table, "Polyhedron", onPolyhedron) == 1 &&
        kvxOnMethod(table, "P", refusedWhenShort<onPointStream>) == 1 &&
        kvxOnMethod(table, "V", refusedWhenShort<onVertexStream>) == 1) {
        result = kvxParseWithHandlers(fileName, table, nullptr) == 1 ? kPolyReadOk : kPolyReadFailed;
    }
    closePolyhedron(&rd);
    kvxHandlerTableFree(table);
    pointSetsFree(rd.fileSets);
    if (nodes != nullptr)
        *nodes = rd.nodes;
    else
        polyNodeFreeList(rd.nodes);
    return result;
}

}  // namespace

int readPolyhedronA(const char* fileName, PolyNode** nodes) {
    return readPolyhedron(fileName, nodes, true);
}

int readPolyhedronB(const char* fileName, PolyNode** nodes) {
    return readPolyhedron(fileName, nodes, false);
}

void setPolyFaceFilterA(PolyFaceFilter filter) {
    g_filterA = filter;
}

void clearPolyFaceFilterA() {
    g_filterA = nullptr;
}

PolyFaceFilter polyGetFaceFilter() {
    return g_filterB;
}

void polyReadResetState() {
    g_filterA = nullptr;
    g_filterB = nullptr;
}
static const RunReset gRunReset(kRunResetSurfaces, "polyRead", polyReadResetState);
