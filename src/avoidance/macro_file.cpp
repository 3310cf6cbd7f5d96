// Macro files: a small turtle program of moves and turns in a frame laid through the macro's two
// points. One statement per line: KEYWORD(a, b, c); "#" starts a comment.
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "avoidance/macro.h"
#include "geometry/plist.h"
#include "kernel/base/constants.h"
#include "kernel/base/mem.h"
#include "kernel/base/msg.h"

namespace {

constexpr double kTol = 1e-5;
constexpr int kLineMax = 511;
constexpr int32_t kMsgMacroSyntax = 9999;
// An arc is refused beyond this many segments: a typo in its angle must not exhaust memory.
constexpr int32_t kMaxArcSegments = kPlistMaxPoints;

enum Statement { kLine = 1, kArc = 2, kRotX = 10, kRotY = 11, kRotZ = 12, kCC = 20, kPP = 30 };

struct Frame {
    Vec3 x, y, z;
};

Vec3 comb(double a, const Vec3& u, double b, const Vec3& v) {
    return {a * u.x + b * v.x, a * u.y + b * v.y, a * u.z + b * v.z};
}

bool makeFrame(const Vec3& p0, const Vec3& p1, Frame* f) {
    const Vec3 d{p0.x - p1.x, p0.y - p1.y, p0.z - p1.z};
    if (vecNormalize3D(&d, &f->x) < 0) return false;
    const Vec3 up{0, 0, 1};
    return crossUnit3D(&up, &f->x, &f->y) == 0 && crossUnit3D(&f->x, &f->y, &f->z) == 0;
}

// Turns a pair of frame axes: u := u cos a + v sin a, v := v cos a - u sin a.
void turn(Vec3* u, Vec3* v, double a) {
    const double c = std::cos(a), s = std::sin(a);
    const Vec3 nu = comb(c, *u, s, *v), nv = comb(c, *v, -s, *u);
    *u = nu;
    *v = nv;
}

int keywordCode(const std::string& k) {
    if (k == "LINE") return kLine;
    if (k == "ARC") return kArc;
    if (k == "ROTX") return kRotX;
    if (k == "ROTY") return kRotY;
    if (k == "ROTZ") return kRotZ;
    if (k == "CC") return kCC;
    if (k == "PP") return kPP;
    return -1;
}

// Up to three comma-separated numbers; a missing one is 0. False for text that is not a number:
// read as 0 it would move the tool somewhere the file never said.
bool parseArgs(const std::string& text, double out[3]) {
    out[0] = out[1] = out[2] = 0.0;
    size_t pos = 0;
    for (int i = 0; pos <= text.size(); ++i) {
        const size_t comma = text.find(',', pos);
        const std::string field =
            text.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        if (i >= 3) return false;
        const char* s = field.c_str();
        while (*s == ' ' || *s == '\t') ++s;
        if (*s) {
            char* end = nullptr;
            errno = 0;
            const double v = std::strtod(s, &end);
            while (*end == ' ' || *end == '\t') ++end;
            if (end == s || *end || errno == ERANGE || !std::isfinite(v)) return false;
            out[i] = v;
        }
        if (comma == std::string::npos) break;
        pos = comma + 1;
    }
    return true;
}

bool grow(MacroPath* path) {
    if (path->count < path->capacity) return true;
    const int32_t cap = path->capacity + kMacroFileCapacityStep;
    auto* pts = static_cast<Vec3*>(memRealloc(path->points, static_cast<size_t>(cap) * sizeof(Vec3)));
    if (!pts) return false;
    path->points = pts;
    path->capacity = cap;
    return true;
}

bool append(MacroPath* path, const Vec3& p) {
    return grow(path) && macroPathAppend(path, p);
}

bool keepLine(MacroPath* path, MacroLine** tail, const std::string& text) {
    auto* node = static_cast<MacroLine*>(memCalloc(sizeof(MacroLine)));
    if (!node) return false;
    node->pointCount = path->count;
    node->text = strDup(text.c_str());
    if (!node->text) {
        std::free(node);
        return false;
    }
    if (*tail)
        (*tail)->next = node;
    else
        path->lines = node;
    *tail = node;
    return true;
}

enum Outcome { kOk, kSyntax, kFailed };

// The arc is tangent to X at the last point and turns towards Y for a positive angle.
Outcome runArc(MacroPath* path, Frame* f, const double arg[3], double step) {
    const double r = arg[0], A = arg[1] * 2 * kPi / 360, h = arg[2];
    if (!(step > kTol)) return kSyntax;
    const double segs = std::trunc(std::fabs(A / step)) + 1;
    if (segs > kMaxArcSegments) return kSyntax;
    const int32_t n = static_cast<int32_t>(segs);
    const double dz = h / n, delta = A / n;
    const double c = 2 * r * std::sin(std::fabs(A) / (2 * n));
    Vec3 p = path->points[path->count - 1];
    // Each chord leans half a segment's turn more than the tangent before it.
    for (int32_t i = 0; i < n; ++i) {
        const double t = delta * (i + 0.5);
        const Vec3 chord = comb(c * std::cos(t), f->x, c * std::sin(t), f->y);
        p = {p.x + chord.x, p.y + chord.y, p.z + chord.z + dz};
        if (!append(path, p)) return kFailed;
    }
    turn(&f->x, &f->y, A);
    return kOk;
}

Outcome runStatement(MacroPath* path, Frame* f, const std::string& line, double step) {
    const size_t open = line.find('(');
    if (open == std::string::npos) return kSyntax;
    std::string key;
    for (size_t i = 0; i < open; ++i)
        if (line[i] != ' ' && line[i] != '\t') key += line[i];
    const size_t close = line.rfind(')');
    const std::string args = close != std::string::npos && close > open
                                 ? line.substr(open + 1, close - open - 1)
                                 : line.substr(open + 1);
    const int code = keywordCode(key);
    if (code < 0) return kSyntax;
    double a[3];
    if (code == kCC || code == kPP) return kOk;
    if (!parseArgs(args, a)) return kSyntax;
    const double rad = a[0] * 2 * kPi / 360;
    switch (code) {
        case kLine: {
            const Vec3& last = path->points[path->count - 1];
            return append(path, comb(1.0, last, a[0], f->x)) ? kOk : kFailed;
        }
        case kArc:
            return runArc(path, f, a, step);
        case kRotX:
            turn(&f->y, &f->z, rad);
            return kOk;
        case kRotY:
            turn(&f->z, &f->x, rad);
            return kOk;
        default:
            turn(&f->x, &f->y, rad);
            return kOk;
    }
}

std::string cleanLine(const char* raw) {
    std::string s(raw);
    s = s.substr(0, s.find_first_of("\r\n"));
    s = s.substr(0, s.find('#'));
    const size_t end = s.find_last_not_of(" \t");
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

}  // namespace

MacroPath* macroFileRead(int32_t kind, const Vec3* p0, const Vec3* p1, const MacroParams* params,
                         const char* fileName) {
    if (!p0 || !p1 || !params || !fileName || !*fileName) return nullptr;
    Frame f;
    if (!makeFrame(*p0, *p1, &f)) return nullptr;
    MacroPath* path = macroPathCreate(kind, kMacroTypeFile, kMacroFileCapacityStep, 0);
    if (!path) return nullptr;
    macroPathAppend(path, *p0);
    FILE* file = std::fopen(fileName, "r");
    if (!file) {
        macroPathFree(path);
        return nullptr;
    }
    char buf[kLineMax + 1];
    MacroLine* tail = nullptr;
    bool error = false;
    while (std::fgets(buf, sizeof buf, file)) {
        const std::string line = cleanLine(buf);
        if (line.empty()) continue;
        if (!keepLine(path, &tail, line)) {
            error = true;
            break;
        }
        const Outcome o = runStatement(path, &f, line, params->arcStepAngle);
        if (o == kSyntax) {
            error = true;
            break;
        }
        if (o == kFailed) error = true;  // no memory: read on, but no macro
    }
    if (std::ferror(file)) error = true;
    std::fclose(file);
    if (error) {
        msgText(9, kMsgMacroSyntax, "* Error: Syntax error in Macro %s", fileName);
        macroPathFree(path);
        return nullptr;
    }
    return path;
}
