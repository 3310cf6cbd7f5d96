#include "pocket/gcodefile.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>

#include "geometry/textscan.h"
#include "kernel/base/msg.h"
#include "kernel/base/keyword.h"
#include "pocket/pocketerr.h"
#include "pocket/pocketscale.h"
#include "pocket/rifblock.h"

namespace {

// Closes the file at every exit.
struct File {
    FILE* f;
    ~File() {
        if (f) fclose(f);
    }
};

bool namesList() {
    return clistIndex(rifBlock()->rifName) >= 0;
}

// One line of at most kGcodeLineMax characters; a longer line is cut and named in a warning.
bool readLine(FILE* f, char* line, int32_t lineNumber) {
    if (!fgets(line, kGcodeLineMax + 1, f)) return false;
    size_t n = strlen(line);
    if (n == kGcodeLineMax && line[n - 1] != '\n' && !feof(f)) {
        int c;
        bool dropped = false;
        while ((c = fgetc(f)) != EOF && c != '\n') dropped = dropped || c != '\r';
        if (dropped) {
            const std::string where = std::string(rifBlock()->rifName) + ":" + std::to_string(lineNumber);
            msgText(9, kMsgCycleTextCut, "* Zeile zu lang, gekuerzt", where.c_str());
        }
    }
    while (n > 0 && (line[n - 1] == '\n' || line[n - 1] == '\r')) line[--n] = '\0';
    return true;
}

}  // namespace

int gcodeWord(char letter, const char* line, double* number) {
    const char* at = line ? strchr(line, letter) : nullptr;
    if (!at || !parseNumAfter(letter, line, number)) return -1;
    return static_cast<int>(at - line);
}

void elementStore(ContourElement* array, int32_t index, const ContourElement* element) {
    array[index] = *element;
}

int gcodeFileStart(double radius) {
    const RifBlock& b = *rifBlock();
    if (!b.genRif) return 0;
    if (namesList()) return 1;
    File file{fopen(b.rifName, "w")};
    if (!file.f) {
        pocketError(kPocketErrGcodeCreate);
        return -1;
    }
    fprintf(file.f, "G191 R%.4lf\n", unscaleValue(radius));
    return 1;
}

int gcodeFileWriteContour(const ContourElement* elements, const ContourHeader* header) {
    const RifBlock& b = *rifBlock();
    if (!b.genRif || !header) return 0;
    if (namesList()) return clistInsert(b.rifName, elements, header, -1) ? 1 : -1;
    File file{fopen(b.rifName, "a")};
    if (!file.f) return -1;
    if (header->elementCount == 0 || !elements) return 0;
    // Written in the user's units; the caller's elements stay as they are.
    ContourElement e = elements[0];
    unscaleElement(&e);
    fprintf(file.f, "G41 X%.4lf Y%.4lf\n", e.type == kElemArc ? e.g[kAsx] : e.g[kLx1],
            e.type == kElemArc ? e.g[kAsy] : e.g[kLy1]);
    for (uint32_t i = 0; i < header->elementCount; ++i) {
        e = elements[i];
        unscaleElement(&e);
        if (e.type == kElemArc)
            fprintf(file.f, "G%d X%.4lf Y%.4lf I%.4lf J%.4lf\n", e.direction == 1 ? 3 : 2, e.g[kAex],
                    e.g[kAey], e.g[kAcx], e.g[kAcy]);
        else
            fprintf(file.f, "G1 X%.4lf Y%.4lf\n", e.g[kLx2], e.g[kLy2]);
    }
    fprintf(file.f, "G40\n");
    return 1;
}

int gcodeFileRead(const char* listName, double* radius) {
    const RifBlock& b = *rifBlock();
    if (!b.evalRif) return 0;
    File file{fopen(b.rifName, "r")};
    if (!file.f) {
        pocketError(kPocketErrGcodeOpen);
        return -1;
    }
    ContourElement* buffer = clistScratch(0);
    int32_t count = 0, contour = 0, lineNumber = 0;
    double x = 0, y = 0;
    int result = 0;
    char line[kGcodeLineMax + 1];
    auto fail = [] {
        pocketError(kPocketErrGcodeWord);
        return -1;
    };
    while (readLine(file.f, line, ++lineNumber)) {
        const char* g = strchr(line, 'G');
        if (!g || !isdigit(static_cast<unsigned char>(g[1]))) continue;
        long code = 0;
        for (const char* p = g + 1; isdigit(static_cast<unsigned char>(*p)) && code < 1000; ++p)
            code = code * 10 + (*p - '0');
        if (code < 1 || code > 192) continue;
        double nx, ny, ni, nj;
        const bool hasXY = gcodeWord('X', line, &nx) >= 0 && gcodeWord('Y', line, &ny) >= 0;
        if (code == 1 || code == 2 || code == 3) {
            if (!hasXY) return fail();
            ContourElement e{};
            if (code == 1) {
                e.type = kElemLine;
                e.g[kLx1] = x;
                e.g[kLy1] = y;
                e.g[kLx2] = nx;
                e.g[kLy2] = ny;
            } else {
                if (gcodeWord('I', line, &ni) < 0 || gcodeWord('J', line, &nj) < 0) return fail();
                e.type = kElemArc;
                e.g[kAcx] = ni;
                e.g[kAcy] = nj;
                e.g[kAsx] = x;
                e.g[kAsy] = y;
                e.g[kAex] = nx;
                e.g[kAey] = ny;
                e.g[kAr] = std::hypot(nx - ni, ny - nj);
                e.direction = code == 3 ? 1 : -1;
            }
            if (count >= kClistMaxElements) {
                pocketError(kPocketErrElementCap);
                return -1;
            }
            elementStore(buffer, count++, &e);
            x = nx;
            y = ny;
        } else if (code == 41 || code == 42) {
            if (!hasXY) return fail();
            x = nx;
            y = ny;
            count = 0;
        } else if (code == 40) {
            if (listName) {
                ContourHeader h{};
                h.tag = static_cast<int16_t>(contour);
                h.elementCount = static_cast<uint32_t>(count);
                if (!clistInsert(listName, buffer, &h, -1)) return fail();
            }
            ++contour;
        } else if (code == 191 || code == 192) {
            double r;
            if (gcodeWord('R', line, &r) < 0) return fail();
            if (radius) *radius = r;
            result = code == 191 ? 1 : 2;
        }
    }
    if (listName) clistScale(listName);
    if (radius && result > 0) *radius = scaleValue(*radius);
    return result;
}
