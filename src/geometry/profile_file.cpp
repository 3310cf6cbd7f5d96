// Profile point files: block count and copy, the point-line reader and the profile reader.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "geometry/frames.h"
#include "geometry/profile.h"
#include "geometry/textscan.h"
#include "kernel/base/msg.h"

namespace {

constexpr int kLineBuffer = 129;  // a line holds at most 128 characters; longer ones come in pieces
constexpr char kTempName[] = "tmp.prf";

// The next piece of at most 128 characters without its line end (LF or CRLF); false at the end.
bool readPiece(std::FILE* f, char* buf) {
    if (std::fgets(buf, kLineBuffer, f) == nullptr) return false;
    size_t len = std::strlen(buf);
    while (len > 0 && (buf[len - 1] == '\n' || buf[len - 1] == '\r')) buf[--len] = '\0';
    return true;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

// First whitespace-delimited word exactly "**END".
bool isEndLine(const char* line) {
    while (isBlank(*line)) ++line;
    return std::strncmp(line, "**END", 5) == 0 && (line[5] == '\0' || isBlank(line[5]));
}

// Reads one profile from a single-block file; null on any failure (after message 601 when the
// boundary fit fails).
ProfileCurve* readProfile(const char* file, const FitBoundary* boundary, ProfileFitFn fit, double tolerance,
                          int reverse, int swapFit) {
    const int capacity = fileCountLines(file);
    if (capacity < 1) return nullptr;
    auto* pts = static_cast<Vec2*>(std::malloc(static_cast<size_t>(capacity) * sizeof(Vec2)));
    auto* z = static_cast<double*>(std::malloc(static_cast<size_t>(capacity) * sizeof(double)));
    const int32_t n = pts != nullptr && z != nullptr ? prfReadPoints(pts, z, file, capacity) : -1;
    ProfileCurve* p = n >= 1 ? profileCreate(pts, n, kProfilePoints) : nullptr;
    if (p == nullptr) {
        std::free(pts);
        std::free(z);
        return nullptr;
    }
    p->ownsPoints = 1;
    p->z = z;
    // The record's name field is fixed: a longer file name is cut, never overrun.
    std::snprintf(p->name, sizeof p->name, "%s", file);
    p->reversed = static_cast<uint16_t>(reverse);
    p->swapFit = static_cast<uint16_t>(swapFit);
    if (reverse) profileReverse(p);
    // A single mirror turns the profile's sense; reversing restores it.
    if (framePairGetFlag(kFramePairPointFiles) && framePairGetMode() < 0) profileReverse(p);
    if (boundary != nullptr && fit(p, boundary, tolerance, &p->fitStart, &p->fitEnd) != 0) {
        msgDouble(9, 601, "* Fehler: Profil kann nicht in Boundary eingepasst werden", 0.0);
        profileFreeList(p);
        return nullptr;
    }
    return p;
}

}  // namespace

int prfCountBlocks(const char* name) {
    if (name == nullptr || name[0] == '\0') return -1;
    std::FILE* f = std::fopen(name, "r");
    if (f == nullptr) return -1;
    char buf[kLineBuffer];
    int blocks = 0;
    while (readPiece(f, buf))
        if (isEndLine(buf)) ++blocks;
    std::fclose(f);
    return blocks;
}

int prfCopyBlock(std::FILE* file, const char* tempName) {
    if (file == nullptr || tempName == nullptr) return -1;
    std::FILE* out = std::fopen(tempName, "w");
    if (out == nullptr) return -1;
    char buf[kLineBuffer];
    bool copying = false;
    while (readPiece(file, buf)) {
        if (buf[0] == '\0') continue;
        // Whatever precedes the block's header (a "*" line) is left behind.
        if (buf[0] == '*' || isEndLine(buf)) copying = true;
        if (!copying) continue;
        std::fputs(buf, out);
        std::fputc('\n', out);
        if (isEndLine(buf)) break;
    }
    std::fclose(out);
    return 1;
}

int32_t prfReadPoints(Vec2* points, double* z, const char* name, int32_t max) {
    if (points == nullptr || name == nullptr || name[0] == '\0') return -1;
    std::FILE* f = std::fopen(name, "r");
    if (f == nullptr) return -1;
    char buf[kLineBuffer];
    // A coordinate that no point line of the block has set yet is 0.
    double x = 0.0, y = 0.0, zv = 0.0;
    int32_t count = 0;
    while (count < max && readPiece(f, buf)) {
        if (buf[0] == '\0') continue;
        if (isEndLine(buf)) break;
        if (buf[0] == '*') continue;
        parseNumAfter('X', buf, &x);
        parseNumAfter('Y', buf, &y);
        parseNumAfter('Z', buf, &zv);
        Vec3 p = {x, y, zv};
        if (framePairGetFlag(kFramePairPointFiles)) framePairToM1(&p);
        pointWorldToFrameA(&p);
        if (count > 0 && std::fabs(p.x - points[count - 1].x) < 1e-5 &&
            std::fabs(p.y - points[count - 1].y) < 1e-5 &&
            (z == nullptr || std::fabs(p.z - z[count - 1]) < 1e-5))
            continue;
        points[count] = {p.x, p.y};
        if (z != nullptr) z[count] = p.z;
        ++count;
    }
    std::fclose(f);
    return count;
}

ProfileCurve* profileReadFile(const char* name, const FitBoundary* boundary, ProfileFitFn fit,
                              double tolerance, int reverse, int swapFit) {
    if (boundary != nullptr && fit == nullptr) return nullptr;
    const int blocks = prfCountBlocks(name);
    if (blocks <= 1) return readProfile(name, boundary, fit, tolerance, reverse, swapFit);
    std::FILE* f = std::fopen(name, "r");
    if (f == nullptr) return nullptr;
    ProfileCurve* head = nullptr;
    ProfileCurve** tail = &head;
    for (int b = 0; b < blocks; ++b) {
        if (prfCopyBlock(f, kTempName) != 1) break;
        ProfileCurve* p = readProfile(kTempName, boundary, fit, tolerance, reverse, swapFit);
        if (p == nullptr) break;
        *tail = p;
        tail = &p->next;
    }
    std::fclose(f);
    return head;
}
